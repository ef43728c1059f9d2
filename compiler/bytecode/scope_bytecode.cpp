// The bytecode of one scope: each intermediate instruction becomes its records, nested
// scopes are emitted in place by recursion, and control flow (loops, if chains, switches,
// break and continue, inline returns) becomes jumps aimed at octet offsets of the array.
// Every register an instruction uses has its lifetime stretched before the record that
// uses it is appended; the outermost call of a body then places the body's registers.
#include "compiler/bytecode/bytecode.h"
#include "compiler/core/foreign_routine_table.h"

// The operators that take one operand: their second value is not read.
#define UNARY_OPERATORS (OP_INCREMENT | OP_DECREMENT | OP_NEGATE | OP_BIT_NOT | OP_NOT)

struct Emission {
    Loop_Context* loop;
    Inline_Return_Jumps* returns;
    Body_Lists* lists;
    Dynamic_Array* bytecode;
    Scope* scope;
    Dynamic_Array* patches;
};

//~ Helpers

static void use(Emission* e, Value* value) { maybe_update_register_lifetime(e->bytecode, e->scope, 1, value); }

static Bytecode_Instruction* append(Emission* e, u8 kind, Trace trace) { return insert_bytecode(e->bytecode, kind, trace); }

static b8 add_index(Dynamic_Array* list, u32 index) {
    u32* slot = (u32*)dynamic_array_add_fast(list);
    if (!slot) {
        report_out_of_compiler_memory("bytecode");
        return false;
    }
    *slot = index;
    return true;
}

static b8 add_offset(Dynamic_Array* list, u64 offset) {
    u64* slot = (u64*)dynamic_array_add_fast(list);
    if (!slot) {
        report_out_of_compiler_memory("bytecode");
        return false;
    }
    *slot = offset;
    return true;
}

static b8 through(Value* value) { return (value->kind & VALUE_INDIRECT) != 0; }

// The type of the place a value names: one address level down when the value is reached
// through the address its register holds.
static Identifier* get_place_type(Value* value) {
    Identifier* type = value->dynamic.type;
    if (type && through(value)) type = type_to_dereference_of_type(type);
    return type;
}

static u32 size_of(Identifier* type) { return type ? type->size : 0; }

// Appends a jump to be aimed later; its index, or -1 after the out-of-memory report.
static s64 append_jump(Dynamic_Array* bytecode, u8 kind, Trace trace) {
    Bytecode_Instruction* i = insert_bytecode(bytecode, kind, trace);
    if (!i) return -1;
    i->jump.target = BYTECODE_UNAIMED;
    return bytecode->count - 1;
}

static void aim(Dynamic_Array* bytecode, u32 index, u64 target) { get_bytecode_instruction(bytecode, index)->jump.target = target; }

static void aim_all(Dynamic_Array* bytecode, Dynamic_Array* indices, u64 target) {
    for (u32 i = 0; i < indices->count; i++) aim(bytecode, ((u32*)indices->data)[i], target);
}

// The condition a jump takes follows the compared type: unsigned or float comparisons
// select other machine conditions than signed ones.
static void set_jump_type(Bytecode_Instruction* jump, Identifier* type) {
    jump->jump.compared_unsigned = 0;
    jump->jump.compared_float = 0;
    if (!type || type->pointer_depth) return;
    if (type->flags & TYPE_UNSIGNED) jump->jump.compared_unsigned = 1;
    else if (type->flags & TYPE_FLOAT) jump->jump.compared_float = 1;
}

static Identifier* get_value_type(Value* value) {
    if (value->kind & VALUE_REGISTER) return get_place_type(value);
    return value->constant.type;
}

//~ Straight-line kinds

static b8 emit_set_to_zero(Emission* e, Instruction* in) {
    Value* a = &in->value;
    use(e, a);
    Bytecode_Instruction* i = append(e, BYTECODE_SET_TO_ZERO, a->source);
    if (!i) return false;
    i->set_to_zero.destination = a->dynamic.register_id;
    i->set_to_zero.size = size_of(get_place_type(a));
    i->set_to_zero.through_address = through(a);
    return true;
}

static const u8 CAST_KINDS[8] = {
    BYTECODE_CAST_INT_TO_FLOAT,         BYTECODE_CAST_FLOAT_TO_INT,        BYTECODE_CAST_INT_TO_SMALL_INT,
    BYTECODE_CAST_INT_TO_BIG_INT,       BYTECODE_CAST_FLOAT_TO_SMALL_FLOAT, BYTECODE_CAST_FLOAT_TO_BIG_FLOAT,
    BYTECODE_CAST_INT_TO_BOOL,          BYTECODE_CAST_FLOAT_TO_BOOL,
};

static b8 emit_cast(Emission* e, Instruction* in) {
    Instruction_Cast* c = &in->cast;
    if (c->cast_kind >= ARRAY_COUNT(CAST_KINDS)) {
        print_error_on_trace(c->destination.source, "Internal compiler error: cast kind %u.", c->cast_kind);
        return false;
    }
    use(e, &c->destination);
    use(e, &c->source);
    Bytecode_Instruction* i = append(e, CAST_KINDS[c->cast_kind], c->destination.source);
    if (!i) return false;
    i->cast.destination = c->destination.dynamic.register_id;
    i->cast.source = c->source.dynamic.register_id;
    i->cast.destination_size = (u16)size_of(get_place_type(&c->destination));
    i->cast.through_address = through(&c->destination);
    i->cast.is_unsigned = c->unsigned_source;
    return true;
}

static b8 emit_make_boolean(Emission* e, Instruction* in) {
    Value* a = &in->value;
    Identifier* type = get_place_type(a);
    b8 integer = type && (type->pointer_depth || (type->flags & (TYPE_INTEGER | TYPE_ENUM)));
    use(e, a);
    Bytecode_Instruction* i = append(e, integer ? BYTECODE_MAKE_INT_BOOL : BYTECODE_MAKE_FLOAT_BOOL, a->source);
    if (!i) return false;
    i->make_bool.value = a->dynamic.register_id;
    i->make_bool.size = (u8)size_of(type);
    i->make_bool.through_address = through(a);
    return true;
}

static b8 index_is_constant(Value* index) { return !(index->kind & VALUE_REGISTER); }

static b8 emit_load(Emission* e, Instruction* in) {
    Instruction_Address* k = &in->address;
    b8 constant = index_is_constant(&k->index);
    use(e, &k->destination);
    use(e, &k->base);
    if (!constant) use(e, &k->index);
    Identifier* type = get_place_type(&k->destination);
    u32 value_size = size_of(type);
    u16 element_size = (u16)k->element_size;
    b8 is_signed = type && (type->flags & TYPE_SIGNED) != 0;
    Bytecode_Instruction* i = append(e, constant ? BYTECODE_MEMORY_DEREFERENCE_CONSTANT : BYTECODE_MEMORY_DEREFERENCE,
                                     k->destination.source);
    if (!i) return false;
    if (constant) {
        Bytecode_Address_Constant* a = &i->address_constant;
        *a = Bytecode_Address_Constant{k->destination.dynamic.register_id, k->base.dynamic.register_id,
                                       k->index.constant.data, element_size, (u16)value_size, is_signed,
                                       through(&k->destination)};
    } else {
        Bytecode_Address* a = &i->address;
        *a = Bytecode_Address{k->destination.dynamic.register_id, k->base.dynamic.register_id,
                              k->index.dynamic.register_id, element_size, (u16)value_size, is_signed,
                              through(&k->destination)};
    }
    return true;
}

static b8 emit_address(Emission* e, Instruction* in) {
    Instruction_Address* k = &in->address;
    b8 constant = index_is_constant(&k->index);
    use(e, &k->destination);
    use(e, &k->base);
    if (!constant) use(e, &k->index);
    u32 element_size = k->element_size;
    b8 indirect = in->kind == INSTRUCTION_ADDRESS_INDIRECT;
    Bytecode_Instruction* i = append(e, constant ? BYTECODE_CALCULATE_ADDRESS_CONSTANT : BYTECODE_CALCULATE_ADDRESS,
                                     k->destination.source);
    if (!i) return false;
    if (constant) {
        i->address_constant = Bytecode_Address_Constant{k->destination.dynamic.register_id, k->base.dynamic.register_id,
                                                        k->index.constant.data, (u16)element_size, 0, 0, indirect};
    } else {
        i->address = Bytecode_Address{k->destination.dynamic.register_id, k->base.dynamic.register_id,
                                      k->index.dynamic.register_id, (u16)element_size, 0, 0, indirect};
    }
    return true;
}

static b8 emit_take_address(Emission* e, Instruction* in) {
    use(e, &in->copy.destination);
    use(e, &in->copy.source);
    Bytecode_Instruction* i = append(e, BYTECODE_TAKE_ADDRESS, in->copy.destination.source);
    if (!i) return false;
    i->take_address.destination = in->copy.destination.dynamic.register_id;
    i->take_address.source = in->copy.source.dynamic.register_id;
    return true;
}

// The type arithmetic works in: an enum's base type.
static Identifier* get_arithmetic_type(Value* destination) {
    Identifier* type = destination->dynamic.type;
    if (type && !type->pointer_depth && (type->flags & TYPE_ENUM) && type->element_type) type = type->element_type;
    return type;
}

static b8 is_float(Identifier* type) { return type && !type->pointer_depth && (type->flags & TYPE_FLOAT); }

// "&&" and "||" make a value that may hold more than 0 or 1 boolean first.
static u8 is_not_boolean(Value* value, Identifier* type) {
    return !(value->kind & VALUE_BOOLEAN) && type != global_compiler_state.basic_types[BASIC_TYPE_B8];
}

static b8 emit_arithmetic(Emission* e, Instruction* in) {
    Instruction_Arithmetic* k = &in->arithmetic;
    Identifier* type = get_arithmetic_type(&k->destination);
    use(e, &k->destination);
    if (!(k->operator_bit & UNARY_OPERATORS)) use(e, &k->source);
    b8 logical = (k->operator_bit & (OP_LOGICAL_AND | OP_LOGICAL_OR)) != 0;
    if (is_float(type)) {
        Bytecode_Instruction* i = append(e, BYTECODE_FLOAT_ARITHMETIC, k->destination.source);
        if (!i) return false;
        i->float_arithmetic = Bytecode_Float_Arithmetic{k->destination.dynamic.register_id, k->source.dynamic.register_id,
                                                        k->operator_bit};
        return true;
    }
    Bytecode_Instruction* i = append(e, BYTECODE_INT_ARITHMETIC, k->destination.source);
    if (!i) return false;
    Bytecode_Int_Arithmetic* a = &i->int_arithmetic;
    a->destination = k->destination.dynamic.register_id;
    a->source = k->source.dynamic.register_id;
    a->operator_bit = k->operator_bit;
    a->destination_not_boolean = logical ? is_not_boolean(&k->destination, k->destination.dynamic.type) : 0;
    a->source_not_boolean = logical ? is_not_boolean(&k->source, k->source.dynamic.type) : 0;
    a->is_signed = type && (type->flags & TYPE_SIGNED) != 0;
    return true;
}

static b8 emit_arithmetic_constant(Emission* e, Instruction* in) {
    Instruction_Arithmetic* k = &in->arithmetic;
    Identifier* type = get_arithmetic_type(&k->destination);
    Constant* constant = &k->source.constant;
    use(e, &k->destination);
    if (is_float(type)) {
        Bytecode_Instruction* i = append(e, BYTECODE_FLOAT_ARITHMETIC_CONSTANT, k->destination.source);
        if (!i) return false;
        Bytecode_Float_Arithmetic_Constant* a = &i->float_arithmetic_constant;
        a->destination = k->destination.dynamic.register_id;
        memcpy(&a->immediate, &constant->data, sizeof(f64));
        a->size = (u16)constant->size;
        a->operator_bit = k->operator_bit;
        return true;
    }
    Bytecode_Instruction* i = append(e, BYTECODE_INT_ARITHMETIC_CONSTANT, k->destination.source);
    if (!i) return false;
    Bytecode_Int_Arithmetic_Constant* a = &i->int_arithmetic_constant;
    a->destination = k->destination.dynamic.register_id;
    a->immediate = constant->data;
    a->size = (u16)constant->size;
    a->operator_bit = k->operator_bit;
    a->not_boolean = (k->operator_bit & (OP_LOGICAL_AND | OP_LOGICAL_OR)) ? is_not_boolean(&k->destination, k->destination.dynamic.type) : 0;
    a->is_signed = type && (type->flags & TYPE_SIGNED) != 0;
    return true;
}

// Kind 28, or 36 for floats, which carries the two registers alone.
static b8 emit_compare(Emission* e, Instruction* in, u8 kind) {
    Value* a = &in->copy.destination;
    Value* b = &in->copy.source;
    use(e, a);
    use(e, b);
    Bytecode_Instruction* i = append(e, kind, a->source);
    if (!i) return false;
    i->compare_flags.left = a->dynamic.register_id;
    i->compare_flags.right = b->dynamic.register_id;
    if (kind == BYTECODE_COMPARE) {
        i->compare_flags.right_through_address = through(b);
        i->compare_flags.size = (u8)size_of(get_place_type(a));
    }
    return true;
}

static b8 emit_compare_constant(Emission* e, Instruction* in) {
    Value* a = &in->copy.destination;
    Constant* b = &in->copy.source.constant;
    use(e, a);
    Bytecode_Instruction* i = append(e, b->data ? BYTECODE_COMPARE_TO_CONSTANT : BYTECODE_COMPARE_TO_ZERO, a->source);
    if (!i) return false;
    i->compare_to_constant.left = a->dynamic.register_id;
    if (b->data) {
        i->compare_to_constant.immediate = b->data;
        i->compare_to_constant.size = (u16)b->size;
    }
    return true;
}

static b8 emit_float_compare_constant(Emission* e, Instruction* in) {
    Value* a = &in->copy.destination;
    Constant* b = &in->copy.source.constant;
    f64 value;
    memcpy(&value, &b->data, sizeof(value));
    use(e, a);
    // -0.0 == 0.0 holds, so a minus zero is compared to zero too.
    Bytecode_Instruction* i = append(e, value != 0.0 ? BYTECODE_FLOAT_COMPARE_TO_CONSTANT : BYTECODE_FLOAT_COMPARE_TO_ZERO, a->source);
    if (!i) return false;
    i->compare_to_constant.left = a->dynamic.register_id;
    if (value != 0.0) {
        i->compare_to_constant.immediate = b->data;
        i->compare_to_constant.size = (u16)b->size;
    }
    return true;
}

// A String (or array view) is {data, count}: the counts are compared first, and only when
// they are equal the blocks; the count compare's flags stand when they differ.
static b8 emit_block_compare(Emission* e, Instruction* in, b8 with_constant) {
    Value* a = &in->copy.destination;
    Value* b = &in->copy.source;
    u32 address_size = global_compiler_state.address_size;
    Register_Id a_count = allocate_within_register(a->dynamic.register_id, 8, 8);
    Register_Id a_data = allocate_within_register(a->dynamic.register_id, 0, address_size);
    Register_Id b_count = with_constant ? INVALID_REGISTER_ID : allocate_within_register(b->dynamic.register_id, 8, 8);
    Register_Id b_data = with_constant ? b->constant.text_register : allocate_within_register(b->dynamic.register_id, 0, address_size);
    if (!register_id_is_valid(a_count) || !register_id_is_valid(a_data) ||
        (!with_constant && (!register_id_is_valid(b_count) || !register_id_is_valid(b_data)))) {
        return false;
    }

    use(e, a);
    if (!with_constant) use(e, b);
    Bytecode_Instruction* i = append(e, with_constant ? BYTECODE_COMPARE_TO_CONSTANT : BYTECODE_COMPARE, a->source);
    if (!i) return false;
    if (with_constant) {
        i->compare_to_constant = Bytecode_Compare_To_Constant{a_count, b->constant.length, 8};
    } else {
        i->compare_flags.left = a_count;
        i->compare_flags.right = b_count;
        i->compare_flags.size = 8;
    }
    s64 skip = append_jump(e->bytecode, BYTECODE_JUMP_NOT_EQUAL, a->source);
    if (skip < 0) return false;

    use(e, a);
    if (!with_constant) use(e, b);
    i = append(e, with_constant ? BYTECODE_COMPARE_BLOCK_TO_CONSTANT : BYTECODE_MEMCMP, a->source);
    if (!i) return false;
    i->compare.left = a_data;
    i->compare.right = b_data;
    i->compare.size_register = with_constant ? INVALID_REGISTER_ID : a_count;
    aim(e->bytecode, (u32)skip, get_bytecode_position(e->bytecode));
    return true;
}

static b8 emit_test_flags(Emission* e, Instruction* in) {
    Value* a = &in->copy.destination;
    Value* b = &in->copy.source;
    use(e, a);
    if (b->kind & VALUE_REGISTER) {
        use(e, b);
        Bytecode_Instruction* i = append(e, BYTECODE_TEST_FLAGS, a->source);
        if (!i) return false;
        i->compare.left = a->dynamic.register_id;
        i->compare.right = b->dynamic.register_id;
        return true;
    }
    Bytecode_Instruction* i = append(e, BYTECODE_TEST_FLAGS_CONSTANT, a->source);
    if (!i) return false;
    i->compare_to_constant = Bytecode_Compare_To_Constant{a->dynamic.register_id, b->constant.data, (u16)b->constant.size};
    return true;
}

static b8 emit_compare_result(Emission* e, Instruction* in) {
    Instruction_Compare_Result* k = &in->compare_result;
    use(e, &k->destination);
    Bytecode_Instruction* i = append(e, BYTECODE_STORE_COMPARE_RESULT, k->destination.source);
    if (!i) return false;
    i->store_compare_result = Bytecode_Store_Compare_Result{k->destination.dynamic.register_id, k->operator_bit,
                                                            k->unsigned_compare, k->float_compare, through(&k->destination)};
    return true;
}

static b8 emit_end(Emission* e, Instruction* in) {
    Instruction_Scope* k = get_instruction_scope(in);
    return pop_stack_frame(e->bytecode, k->scope, k->location) && append(e, BYTECODE_RETURN, k->location);
}

static b8 emit_machine_code(Emission* e, Instruction* in) {
    if (global_compiler_state.target_platform == TARGET_PLATFORM_BYTECODE) return true;
    Instruction_Machine_Code* k = get_instruction_machine_code(in);
    Bytecode_Instruction* i = append(e, BYTECODE_EMBED_MACHINE_CODE, k->location);
    if (!i) return false;
    i->machine_code.code = k->octets;
    i->machine_code.count = (s32)k->count;
    return true;
}

static b8 emit_scope_start(Emission* e, Instruction* in) {
    Instruction_Scope* k = get_instruction_scope(in);
    Scope* s = k->scope;
    if ((s->flags & SCOPE_OWN_FRAME) && !bc_push_stack_frame(e->bytecode, s, k->location)) return false;
    b8 body = (s->flags & (SCOPE_SUB_PROGRAM_BODY | SCOPE_ENTRY_BLOCK)) && !(s->flags & SCOPE_INLINED);
    if (global_compiler_state.target_platform == TARGET_PLATFORM_AMD64 && body) {
        return append(e, BYTECODE_COPY_ARGUMENTS_ADDRESS, k->location) != 0;
    }
    return true;
}

//~ Calls

static Identifier* get_return_type(Sub_Program* callee) {
    Identifier* type = callee ? callee->element_type : 0;
    b8 is_void = type && !type->pointer_depth && (type->flags & TYPE_VOID);
    return is_void ? 0 : type;
}

static b8 find_foreign_routine(Sub_Program* callee, u64* id) {
    for (u32 i = 0; i < FOREIGN_ROUTINE_COUNT; i++) {
        if (foreign_routines[i].hash == callee->import_hash) {
            *id = foreign_routines[i].id;
            return true;
        }
    }
    return false;
}

static b8 emit_call(Emission* e, Instruction* in) {
    Instruction_Call* c = get_instruction_call(in);
    Dynamic_Array* bytecode = e->bytecode;
    u32 index = bytecode->count;
    if (!add_index(&e->lists->calls, index)) return false;
    Bytecode_Instruction* i = append(e, BYTECODE_CALL, c->location);
    if (!i) return false;
    i->call.sub_program = c->callee;
    i->call.call_data = c->argument_block;
    i->call.return_value = c->result;
    i->call.callee_address = INVALID_REGISTER_ID;
    static_assert(sizeof(c->arguments) == BYTECODE_CALL_AREA_SIZE);
    memcpy(i->call_area, &c->arguments, BYTECODE_CALL_AREA_SIZE);
    i->call_flags = c->flags;

    // Arguments passed as values are read by the call itself: they live through it.
    Value* arguments = (Value*)c->arguments.data;
    for (u32 k = 0; k < c->arguments.count; k++) {
        if (!(arguments[k].kind & VALUE_REGISTER) || arguments[k].dynamic.register_id.table != REGISTER_LOCAL) continue;
        Register* r = get_first_non_view_register(arguments[k].dynamic.register_id);
        if (r) r->last_call = bytecode->count;
    }
    if (c->flags & CALL_ARGUMENT_BLOCK) {
        update_register_lifetime(c->argument_block, bytecode, e->scope, 0);
        if (get_return_type(c->callee)) update_register_lifetime(c->result, bytecode, e->scope, 1);
    }

    i = get_bytecode_instruction(bytecode, index);
    if (c->flags & CALL_THROUGH_ADDRESS) {
        i->kind = BYTECODE_CALL_THROUGH_ADDRESS;
        i->call.callee_address = c->callee_address;
        update_register_lifetime(c->callee_address, bytecode, e->scope, 1);
        return true;
    }
    if (!c->callee) {
        print_error_on_trace(c->location, "Internal compiler error: a call without its sub-program.");
        return false;
    }
    if (c->callee->flags & IDENTIFIER_FOREIGN) {
        i->kind = BYTECODE_FOREIGN_CALL;
        // A wrong #import is refused when it is declared, so every callee has its row.
        if (!find_foreign_routine(c->callee, &i->callee)) {
            print_error_on_trace(c->location, "Internal compiler error: '%.*s' is not in the foreign routine table.",
                                 (int)c->callee->name.count, (char*)c->callee->name.data);
            return false;
        }
        return true;
    }
    i->callee = c->callee->sub_program_index;
    return add_index(e->patches, index);
}

//~ Control flow

static b8 emit_loop_jump(Emission* e, Instruction* in) {
    Instruction_Loop_Jump* k = get_instruction_loop_jump(in);
    Loop_Context* target = e->loop;
    for (u32 level = 0; target && level < k->level; level++) target = target->outer;
    if (!target || k->mode > LOOP_JUMP_CONTINUE) {
        print_error_on_trace(k->location, "Internal compiler error: a loop jump without its loop.");
        return false;
    }
    s64 jump = append_jump(e->bytecode, BYTECODE_JUMP, k->location);
    if (jump < 0) return false;
    if (k->mode == LOOP_JUMP_CONTINUE) {
        aim(e->bytecode, (u32)jump, target->start);
        return true;
    }
    return add_index(&target->break_jumps, (u32)jump);
}

static void init_loop_context(Loop_Context* loop, Loop_Context* outer, u64 start) {
    *loop = Loop_Context{};
    loop->outer = outer;
    loop->start = start;
    loop->body_start = start;
    loop->condition_emitted = true;
    init_dynamic_array(&loop->break_jumps, sizeof(u32));
    init_dynamic_array(&loop->condition_jumps, sizeof(Condition_Jump));
}

static void free_loop_context(Loop_Context* loop) {
    dynamic_array_free(&loop->break_jumps);
    dynamic_array_free(&loop->condition_jumps);
}

static b8 emit_while(Emission* e, Instruction* in) {
    Instruction_While* k = get_instruction_while(in);
    Loop_Context loop;
    init_loop_context(&loop, e->loop, get_bytecode_position(e->bytecode));
    loop.condition = (Condition_Part*)k->conditions.first_element;
    loop.condition_emitted = loop.condition == 0;
    b8 ok = make_bytecode_for_scope(&loop, e->returns, e->lists, e->bytecode, k->loop_scope, e->patches);
    if (ok) {
        s64 back = append_jump(e->bytecode, BYTECODE_JUMP, k->location);
        ok = back >= 0;
        if (ok) {
            aim(e->bytecode, (u32)back, loop.start);
            u64 end = get_bytecode_position(e->bytecode);
            aim_all(e->bytecode, &loop.break_jumps, end);
            aim_condition_jumps(e->bytecode, &loop.condition_jumps, loop.body_start, end);
        }
    }
    free_loop_context(&loop);
    return ok;
}

// A for loop tests its index against the limit before each pass.
static b8 emit_for_test(Emission* e, Instruction_For* k, Register_Id index, Identifier* type) {
    update_register_lifetime(index, e->bytecode, k->loop_scope, 0);
    maybe_update_register_lifetime(e->bytecode, k->loop_scope, 0, &k->limit);
    Bytecode_Instruction* i;
    if (k->limit.kind & VALUE_REGISTER) {
        i = append(e, BYTECODE_COMPARE, k->location);
        if (!i) return false;
        i->compare_flags.left = index;
        i->compare_flags.right = k->limit.dynamic.register_id;
        i->compare_flags.right_through_address = through(&k->limit);
        i->compare_flags.size = (u8)size_of(type);
    } else {
        i = append(e, BYTECODE_COMPARE_TO_CONSTANT, k->location);
        if (!i) return false;
        i->compare_to_constant = Bytecode_Compare_To_Constant{index, k->limit.constant.data, (u16)size_of(type)};
    }
    return true;
}

static b8 emit_for(Emission* e, Instruction* in) {
    Instruction_For* k = get_instruction_for(in);
    Identifier* type = k->loop_type ? k->loop_type : k->index->type;
    Register_Id index = k->index->register_id;
    u8 exit_kind = get_opposite_comparison_jump(k->comparison);
    if (!exit_kind) {
        print_error_on_trace(k->location, "Internal compiler error: a for loop without its comparison.");
        return false;
    }
    Loop_Context loop;
    init_loop_context(&loop, e->loop, get_bytecode_position(e->bytecode));
    s64 exit = -1;
    b8 ok = emit_for_test(e, k, index, type);
    if (ok) {
        exit = append_jump(e->bytecode, exit_kind, k->location);
        ok = exit >= 0;
    }
    if (ok) {
        set_jump_type(get_bytecode_instruction(e->bytecode, (u32)exit), type);
        ok = make_bytecode_for_scope(&loop, e->returns, e->lists, e->bytecode, k->loop_scope, e->patches);
    }
    s64 back = -1;
    if (ok) {
        // The index and the limit live through the whole body up to the back jump, where the
        // step and the next test read them; the element is kept as long, for the whole pass.
        update_register_lifetime(index, e->bytecode, k->loop_scope, 0);
        maybe_update_register_lifetime(e->bytecode, k->loop_scope, 0, &k->limit);
        if ((k->flags & FOR_LOOP_OVER_ARRAY) && k->element) {
            update_register_lifetime(k->element->register_id, e->bytecode, k->loop_scope, 0);
        }
        back = append_jump(e->bytecode, BYTECODE_JUMP, k->location);
        ok = back >= 0;
    }
    if (ok) {
        aim(e->bytecode, (u32)back, loop.start);
        u64 end = get_bytecode_position(e->bytecode);
        aim(e->bytecode, (u32)exit, end);
        aim_all(e->bytecode, &loop.break_jumps, end);
    }
    free_loop_context(&loop);
    return ok;
}

// A branch cannot fall through when its own last statement returns: nothing after that
// statement is compiled. A return that ends a nested block may be skipped by its condition.
static b8 branch_returns(Scope* branch) {
    Instruction* last_statement = 0;
    for (Instruction* in = (Instruction*)branch->instructions.first_element; in; in = in->next) {
        if (in->kind != INSTRUCTION_SCOPE_END) last_statement = in;
    }
    return last_statement && last_statement->kind == INSTRUCTION_END;
}

static b8 emit_if_chain(Emission* e, Instruction* in) {
    Instruction_If_Chain* k = get_instruction_if_chain(in);
    Dynamic_Array end_jumps, condition;
    init_dynamic_array(&end_jumps, sizeof(u32));
    init_dynamic_array(&condition, sizeof(Condition_Jump));
    b8 ok = true;
    for (If_Chain_Part* link = (If_Chain_Part*)k->links.first_element; ok && link; link = link->next) {
        condition.count = 0;
        ok = make_bytecode_for_condition(e->lists, e->bytecode, (Condition_Part*)link->conditions.first_element,
                                         e->patches, &condition);
        u64 body_start = get_bytecode_position(e->bytecode);
        if (ok) ok = make_bytecode_for_scope(e->loop, e->returns, e->lists, e->bytecode, link->scope, e->patches);
        b8 more = link->next || (k->has_else && k->else_scope);
        if (ok && more && !branch_returns(link->scope)) {
            s64 jump = append_jump(e->bytecode, BYTECODE_JUMP, link->closing);
            ok = jump >= 0 && add_index(&end_jumps, (u32)jump);
        }
        if (ok) aim_condition_jumps(e->bytecode, &condition, body_start, get_bytecode_position(e->bytecode));
    }
    if (ok && k->has_else && k->else_scope) {
        ok = make_bytecode_for_scope(e->loop, e->returns, e->lists, e->bytecode, k->else_scope, e->patches);
    }
    if (ok) aim_all(e->bytecode, &end_jumps, get_bytecode_position(e->bytecode));
    dynamic_array_free(&end_jumps);
    dynamic_array_free(&condition);
    return ok;
}

// Compares the switched value with one case's constant; each "jump ne" appended goes to
// misses, to be aimed past the case's body.
static b8 emit_case_test(Emission* e, Value* value, Value* case_value, Dynamic_Array* misses) {
    Constant* c = &case_value->constant;
    Trace trace = case_value->source;
    Register_Id id = value->dynamic.register_id;
    use(e, value);
    if (c->mask & CONSTANT_STRING) {
        Register_Id count = allocate_within_register(id, 8, 8);
        Register_Id data = allocate_within_register(id, 0, global_compiler_state.address_size);
        if (!register_id_is_valid(count) || !register_id_is_valid(data)) return false;
        Bytecode_Instruction* i = append(e, BYTECODE_COMPARE_TO_CONSTANT, trace);
        if (!i) return false;
        i->compare_to_constant = Bytecode_Compare_To_Constant{count, c->length, 8};
        s64 miss = append_jump(e->bytecode, BYTECODE_JUMP_NOT_EQUAL, trace);
        if (miss < 0 || !add_index(misses, (u32)miss)) return false;
        use(e, value);
        i = append(e, BYTECODE_COMPARE_BLOCK_TO_CONSTANT, trace);
        if (!i) return false;
        i->compare.left = data;
        i->compare.right = c->text_register;
        i->compare.size_register = INVALID_REGISTER_ID;
    } else if (c->mask & CONSTANT_REAL) {
        Bytecode_Instruction* i = append(e, BYTECODE_FLOAT_COMPARE_TO_CONSTANT, trace);
        if (!i) return false;
        i->compare_to_constant = Bytecode_Compare_To_Constant{id, c->data, (u16)size_of(get_place_type(value))};
    } else {
        Bytecode_Instruction* i = append(e, BYTECODE_COMPARE_TO_CONSTANT, trace);
        if (!i) return false;
        i->compare_to_constant = Bytecode_Compare_To_Constant{id, c->data, (u16)c->size};
    }
    s64 miss = append_jump(e->bytecode, BYTECODE_JUMP_NOT_EQUAL, trace);
    if (miss < 0) return false;
    Identifier* type = get_place_type(value);
    if (c->mask & CONSTANT_REAL) set_jump_type(get_bytecode_instruction(e->bytecode, (u32)miss), type);
    return add_index(misses, (u32)miss);
}

static b8 emit_switch(Emission* e, Instruction* in) {
    Instruction_Switch* k = get_instruction_switch(in);
    u32 cases = k->case_values.count < k->case_scopes.count ? k->case_values.count : k->case_scopes.count;
    b8 has_default = k->has_default && k->default_scope;
    u32 bodies = cases + (has_default ? 1 : 0);
    Value* values = (Value*)k->case_values.data;
    Scope** scopes = (Scope**)k->case_scopes.data;

    Dynamic_Array starts, ends, misses;
    init_dynamic_array(&starts, sizeof(u64));
    init_dynamic_array(&ends, sizeof(u32));  // the end jump of each case body; none for the last body
    init_dynamic_array(&misses, sizeof(u32));
    b8 ok = true;
    for (u32 c = 0; ok && c < cases; c++) {
        misses.count = 0;
        ok = emit_case_test(e, &k->value, &values[c], &misses) && add_offset(&starts, get_bytecode_position(e->bytecode));
        if (ok) ok = make_bytecode_for_scope(e->loop, e->returns, e->lists, e->bytecode, scopes[c], e->patches);
        if (ok && c + 1 < bodies) {
            s64 jump = append_jump(e->bytecode, BYTECODE_JUMP, values[c].source);
            ok = jump >= 0 && add_index(&ends, (u32)jump);
        }
        if (ok) aim_all(e->bytecode, &misses, get_bytecode_position(e->bytecode));
    }
    if (ok && has_default) {
        ok = add_offset(&starts, get_bytecode_position(e->bytecode)) &&
             make_bytecode_for_scope(e->loop, e->returns, e->lists, e->bytecode, k->default_scope, e->patches);
    }
    if (ok) {
        u64 end = get_bytecode_position(e->bytecode);
        for (u32 c = 0; c < ends.count; c++) {
            // #no_break goes on into the next body without its test.
            b8 falls_through = (scopes[c]->flags & SCOPE_SWITCH_FALLS_THROUGH) && c + 1 < starts.count;
            aim(e->bytecode, ((u32*)ends.data)[c], falls_through ? ((u64*)starts.data)[c + 1] : end);
        }
    }
    dynamic_array_free(&starts);
    dynamic_array_free(&ends);
    dynamic_array_free(&misses);
    return ok;
}

static b8 emit_return_jump(Emission* e, Instruction* in) {
    Instruction_Return_Jump* k = get_instruction_return_jump(in);
    Scope* root = k->root ? k->root : e->scope->inline_root;
    if (!root || !e->returns) {
        print_error_on_trace(k->location, "Internal compiler error: a return jump outside an inline expansion.");
        return false;
    }
    // With one return its value is the call's result already; with more, each copies its
    // value into the result the call gave the expansion.
    if (k->value.kind && root->inlined_return_values.count >= 2) {
        Instruction copy = {};
        copy.copy.destination = root->inline_result;
        copy.copy.source = k->value;
        b8 indirect = through(&root->inline_result);
        if (k->value.kind & VALUE_CONSTANT) {
            copy.kind = indirect ? INSTRUCTION_COPY_CONSTANT_INDIRECT : INSTRUCTION_COPY_CONSTANT;
            if (!make_bytecode_for_constant_copy(e->scope, e->bytecode, &copy, e->patches)) return false;
        } else {
            copy.kind = indirect ? INSTRUCTION_COPY_INDIRECT : INSTRUCTION_COPY;
            if (!make_bytecode_for_variable_copy(e->scope, e->bytecode, &copy)) return false;
        }
    }
    if (k->no_jump) return true;
    s64 jump = append_jump(e->bytecode, BYTECODE_JUMP, k->location);
    return jump >= 0 && add_index(&e->returns->jumps, (u32)jump);
}

static b8 emit_nested_scope(Emission* e, Instruction* in) {
    Scope* nested = get_instruction_scope(in)->scope;
    if (!((nested->flags & SCOPE_INLINED) && nested->inline_root == nested)) {
        return make_bytecode_for_scope(e->loop, e->returns, e->lists, e->bytecode, nested, e->patches);
    }
    // An inline expansion: its returns jump to the first record after it.
    Inline_Return_Jumps returns = {nested, {}};
    init_dynamic_array(&returns.jumps, sizeof(u32));
    b8 ok = make_bytecode_for_scope(e->loop, &returns, e->lists, e->bytecode, nested, e->patches);
    if (ok) aim_all(e->bytecode, &returns.jumps, get_bytecode_position(e->bytecode));
    dynamic_array_free(&returns.jumps);
    return ok;
}

//~ Conditions

b8 make_bytecode_for_condition(Body_Lists* lists, Dynamic_Array* bytecode, Condition_Part* first,
                               Dynamic_Array* patches, Dynamic_Array* jumps) {
    Condition_Jump* last = 0;
    for (Condition_Part* part = first; part; part = part->next) {
        if (part->part_kind == CONDITION_PART_OPERATOR) {
            // The last operator before the next part tested joins the two.
            if (last) {
                last->follower = (u8)(part->operator_bit == OP_LOGICAL_OR ? CONDITION_FOLLOWED_BY_OR : CONDITION_FOLLOWED_BY_AND);
                last->follower_level = part->level;
                last->follower_bracket = part->bracket;
            }
            continue;
        }
        if (part->ignored) continue;
        u64 start = get_bytecode_position(bytecode);
        if (!make_bytecode_for_scope(0, 0, lists, bytecode, part->scope, patches)) return false;
        s64 jump = append_jump(bytecode, BYTECODE_JUMP, part->value.source);
        if (jump < 0) return false;
        set_jump_type(get_bytecode_instruction(bytecode, (u32)jump), get_value_type(&part->value));
        last = (Condition_Jump*)dynamic_array_add_fast(jumps);
        if (!last) {
            report_out_of_compiler_memory("bytecode");
            return false;
        }
        *last = Condition_Jump{start, (u32)jump, part->jump_kind, 0, 0, 0};
    }
    if (last) last->follower = 0;
    return true;
}

// A later operator of the same bracketed group, or of an enclosing level, ends the group
// the part belongs to.
static b8 closes_the_group(Condition_Jump* later, Condition_Jump* part) {
    if (later->follower_level < part->follower_level) return true;
    return later->follower_level == part->follower_level && later->follower_bracket == part->follower_bracket;
}

void aim_condition_jumps(Dynamic_Array* bytecode, Dynamic_Array* jumps, u64 body_start, u64 after_body) {
    Condition_Jump* parts = (Condition_Jump*)jumps->data;
    u32 n = jumps->count;
    for (u32 k = 0; k < n; k++) {
        Bytecode_Instruction* jump = get_bytecode_instruction(bytecode, parts[k].jump_index);
        u8 follower = parts[k].follower;
        if (follower == CONDITION_FOLLOWED_BY_OR) {
            // Holding decides an || group true: on to the body, or to what follows the group.
            jump->kind = get_opposite_comparison_jump2(parts[k].jump_kind);
            jump->jump.target = body_start;
            for (u32 m = k + 1; m + 1 < n; m++) {
                if (parts[m].follower == CONDITION_FOLLOWED_BY_AND && closes_the_group(&parts[m], &parts[k])) {
                    jump->jump.target = parts[m + 1].start;
                    break;
                }
            }
            continue;
        }
        // Failing decides an && group false: past the body, or to the next || alternative.
        jump->kind = parts[k].jump_kind;
        jump->jump.target = after_body;
        if (follower != CONDITION_FOLLOWED_BY_AND) continue;
        for (u32 m = k + 1; m + 1 < n; m++) {
            if (parts[m].follower == CONDITION_FOLLOWED_BY_OR && closes_the_group(&parts[m], &parts[k])) {
                jump->jump.target = parts[m + 1].start;
                break;
            }
        }
    }
}

//~ The walk

static b8 emit_instruction(Emission* e, Instruction* in) {
    switch (in->kind) {
        case INSTRUCTION_SET_TO_ZERO: return emit_set_to_zero(e, in);
        case INSTRUCTION_COPY_CONSTANT:
        case INSTRUCTION_COPY_CONSTANT_INDIRECT: return make_bytecode_for_constant_copy(e->scope, e->bytecode, in, e->patches);
        case INSTRUCTION_COPY:
        case INSTRUCTION_COPY_INDIRECT: return make_bytecode_for_variable_copy(e->scope, e->bytecode, in);
        case INSTRUCTION_CAST: return emit_cast(e, in);
        case INSTRUCTION_MAKE_BOOLEAN: return emit_make_boolean(e, in);
        case INSTRUCTION_LOAD: return emit_load(e, in);
        case INSTRUCTION_ADDRESS:
        case INSTRUCTION_ADDRESS_INDIRECT: return emit_address(e, in);
        case INSTRUCTION_TAKE_ADDRESS: return emit_take_address(e, in);
        case INSTRUCTION_ARITHMETIC: return emit_arithmetic(e, in);
        case INSTRUCTION_ARITHMETIC_CONSTANT: return emit_arithmetic_constant(e, in);
        case INSTRUCTION_COMPARE: return emit_compare(e, in, BYTECODE_COMPARE);
        case INSTRUCTION_COMPARE_CONSTANT: return emit_compare_constant(e, in);
        case INSTRUCTION_FLOAT_COMPARE: return emit_compare(e, in, BYTECODE_FLOAT_COMPARE);
        case INSTRUCTION_FLOAT_COMPARE_CONSTANT: return emit_float_compare_constant(e, in);
        case INSTRUCTION_BLOCK_COMPARE: return emit_block_compare(e, in, false);
        case INSTRUCTION_BLOCK_COMPARE_CONSTANT: return emit_block_compare(e, in, true);
        case INSTRUCTION_TEST_FLAGS: return emit_test_flags(e, in);
        case INSTRUCTION_COMPARE_RESULT: return emit_compare_result(e, in);
        case INSTRUCTION_WHILE: return emit_while(e, in);
        case INSTRUCTION_FOR: return emit_for(e, in);
        case INSTRUCTION_IF_CHAIN: return emit_if_chain(e, in);
        case INSTRUCTION_SWITCH: return emit_switch(e, in);
        case INSTRUCTION_LOOP_JUMP: return emit_loop_jump(e, in);
        case INSTRUCTION_CALL: return emit_call(e, in);
        case INSTRUCTION_END: return emit_end(e, in);
        case INSTRUCTION_RETURN_JUMP: return emit_return_jump(e, in);
        case INSTRUCTION_DEBUG_BREAK: return append(e, BYTECODE_DEBUG_BREAK, get_instruction_scope(in)->location) != 0;
        case INSTRUCTION_MACHINE_CODE: return emit_machine_code(e, in);
        case INSTRUCTION_NESTED_SCOPE: return emit_nested_scope(e, in);
        case INSTRUCTION_SCOPE_START: return emit_scope_start(e, in);
        case INSTRUCTION_SCOPE_END: return true;
    }
    print_error("Instruction 0x%x is not supported.", in->kind);
    return false;
}

static b8 add_scope_to_list(Body_Lists* lists, Scope* scope) {
    Scope** listed = (Scope**)dynamic_array_add_fast(&lists->scopes);
    if (!listed) {
        report_out_of_compiler_memory("bytecode");
        return false;
    }
    *listed = scope;
    return true;
}

b8 make_bytecode_for_scope(Loop_Context* loop, Inline_Return_Jumps* returns, Body_Lists* lists,
                           Dynamic_Array* bytecode, Scope* scope, Dynamic_Array* patches) {
    Body_Lists own = {};
    b8 owns_lists = lists == 0;
    if (owns_lists) {
        init_dynamic_array(&own.scopes, sizeof(Scope*));
        init_dynamic_array(&own.calls, sizeof(u32));
        lists = &own;
    }
    if (scope->flags & SCOPE_LOOP) scope->loop_registers.count = 0;
    scope->first_bytecode_index = bytecode->count;
    // A for loop's step is copied into its body, so the step scope's registers are used
    // here although that scope is never emitted itself.
    b8 ok = add_scope_to_list(lists, scope) && (!scope->iteration_scope || add_scope_to_list(lists, scope->iteration_scope));

    // A while loop's condition opens its body, after the loop's start.
    if (ok && loop && !loop->condition_emitted) {
        loop->condition_emitted = true;
        ok = make_bytecode_for_condition(lists, bytecode, loop->condition, patches, &loop->condition_jumps);
        loop->body_start = get_bytecode_position(bytecode);
    }

    Emission e = {loop, returns, lists, bytecode, scope, patches};
    for (Instruction* in = (Instruction*)scope->instructions.first_element; ok && in; in = in->next) {
        ok = emit_instruction(&e, in);
    }
    if (ok) {
        if (scope->flags & SCOPE_LOOP) close_loop_register_lifetimes(scope, bytecode);
        scope->end_bytecode_index = bytecode->count;
        if (owns_lists && global_compiler_state.target_platform == TARGET_PLATFORM_AMD64) {
            ok = place_body_registers(scope, lists, bytecode);
        }
    }
    if (scope->flags & SCOPE_LOOP) dynamic_array_free(&scope->loop_registers);
    if (owns_lists) {
        dynamic_array_free(&own.scopes);
        dynamic_array_free(&own.calls);
    }
    return ok;
}
