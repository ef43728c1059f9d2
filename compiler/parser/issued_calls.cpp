// The last step of every call. An #inline callee's body is compiled again in a fresh
// inline scope of the caller, its parameters naming the arguments; any other callee gets
// its arguments copied into an argument block of the caller and a call instruction. Either
// way the result is placed, and the callee is listed so that it gets code.
#include <string.h>

#include "compiler/parser/parser.h"

static b8 is_real(Identifier* type) {
    Identifier* resolved = get_resolved_type(get_enum_base(type));
    return !type->pointer_depth && resolved && (resolved->flags & TYPE_FLOAT);
}

// A copy of an identifier's whole record under a new identifier of the scope.
static Identifier* add_copy(Scope* scope, Identifier* original, Identifier_Kind kind) {
    Identifier* copy = add_identifier(scope, original->name.data, (u64)original->name.count, kind, original->declaration);
    if (!copy) return 0;
    Identifier* next = copy->next;
    *copy = *original;
    copy->next = next;
    copy->scope = scope;
    return copy;
}

//~ Inline expansion

static b8 is_inline_variable(Identifier* identifier) {
    return (identifier->flags & IDENTIFIER_INLINE) && !(identifier->flags & IDENTIFIER_CONSTANT);
}

// The body changes the parameter: marked on this expansion's copy, so that the expansion is
// made again with a register for it, and on the callee's own parameter, so that every later
// expansion binds it so from the start. A parameter without #copy names its argument: when
// that was read from a caller's parameter bound to a constant, the change is that one's too.
static void mark_changed(Identifier* bound) {
    for (; bound && is_inline_variable(bound); bound = bound->constant_value.inline_parameter) {
        bound->flags |= PARAMETER_CHANGED_BY_BODY;
        Sub_Program* callee = bound->scope ? bound->scope->sub_program : 0;
        Scope* body_scope = callee ? callee->body_scope : 0;
        for (Identifier* p = body_scope ? (Identifier*)body_scope->parameters.first_element : 0; p; p = p->next) {
            if (strings_equal(p->name, bound->name)) p->flags |= PARAMETER_CHANGED_BY_BODY;
        }
        if (!(bound->flags & PARAMETER_NOT_COPIED) || !(bound->constant_value.kind & VALUE_CONSTANT)) return;
    }
}

b8 change_inline_parameter(Scope* scope, Identifier* identifier) {
    if (!is_inline_variable(identifier)) return true;
    mark_changed(identifier);
    if (!(identifier->constant_value.kind & VALUE_CONSTANT)) return true;
    // Until the expansion is made again, the change goes to a register of its own.
    Value* value = &identifier->constant_value;
    Identifier* type = identifier->type ? identifier->type : infer_type_from_value(INFER_DEREFERENCE, value);
    if (!make_constant_value_dynamic(value, scope, type, value)->kind) return false;
    identifier->register_id = value->dynamic.register_id;
    return true;
}

// A constant that stands for code, a type or a sub-program is used by what it names: it
// never becomes the value of a variable.
static b8 names_something(Value* value) {
    Identifier* type = get_type_from_value(value);
    if (!type || type->pointer_depth) return false;
    return type == global_compiler_state.basic_types[BASIC_TYPE_CODE] || (type->flags & (TYPE_TYPE | TYPE_SUB_PROGRAM));
}

// Whether a parameter bound to this value gets a register holding it before the body
// starts: a constant the body changes, unless the body is evaluated while compiling.
static b8 needs_own_register(Identifier* parameter, Value* value, u8 constant_arguments) {
    return !(parameter->flags & IDENTIFIER_CONSTANT) && (parameter->flags & PARAMETER_CHANGED_BY_BODY) &&
           !constant_arguments && (value->kind & VALUE_CONSTANT) && !names_something(value);
}

// A parameter's value inside the expansion: the argument's value itself, or with #copy a
// register of its own for what the caller holds in a register. Bound to a constant, the
// parameter is that constant wherever the body only reads it (an #if on it, a size, a
// fold); one the body changes gets a register holding the constant, so that every read
// sees the change (a loop's condition above it, the code after a branch that makes it).
static b8 bind_inline_parameter(Scope* scope, Identifier* parameter, Value* argument, u8 constant_arguments, Value* out) {
    Value value = *argument;
    b8 own_register = needs_own_register(parameter, &value, constant_arguments);
    // Named without #copy, what the body changes is the caller's parameter it was read from.
    if (own_register && (parameter->flags & PARAMETER_NOT_COPIED)) mark_changed(value.inline_parameter);
    if (own_register && !make_constant_value_dynamic(&value, scope, parameter->type, &value)->kind) return false;
    b8 copied = !(parameter->flags & PARAMETER_NOT_COPIED);
    if (copied && !own_register && (value.kind & VALUE_REGISTER) && !(value.kind & VALUE_FRESH)) {
        Identifier* type = parameter->type ? parameter->type : get_type_from_value(&value);
        Value fresh;
        if (!make_dynamic_value(&fresh, scope, type, value.source)->kind || !copy_into_register(scope, &fresh, &value)) {
            return false;
        }
        value = fresh;
    }
    // The argument is named from now on: no later instruction may take its register over.
    value.kind &= (u8)~VALUE_FRESH;
    *out = value;
    return true;
}

static Identifier* add_bound_parameter(Scope* inline_scope, Identifier* parameter, Value* value) {
    b8 constant = (parameter->flags & IDENTIFIER_CONSTANT) != 0;
    Identifier* bound = add_copy(inline_scope, parameter, constant ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE);
    if (!bound) return 0;
    bound->constant_value = *value;
    bound->register_id = (value->kind & VALUE_REGISTER) ? value->dynamic.register_id : INVALID_REGISTER_ID;
    bound->flags |= IDENTIFIER_INLINE | IDENTIFIER_DECLARED;
    return bound;
}

static void report_call_site(Token* open) {
    if (!call_limits.crossed) print_error_on_token(open, "This is the call site.");
}

static b8 check_expansion_limits(Sub_Program* callee, Token* open) {
    if (call_limits.inline_depth >= INLINE_EXPANSION_DEPTH_LIMIT) {
        print_error_on_token(open, "Inline expansion of '%s' goes more than %u levels deep.", get_report_name(callee),
                             INLINE_EXPANSION_DEPTH_LIMIT);
        call_limits.crossed = true;
        return false;
    }
    if (call_limits.inline_count >= INLINE_EXPANSION_COUNT_LIMIT) {
        print_error_on_token(open, "This layer expands more than %'u inline calls.", INLINE_EXPANSION_COUNT_LIMIT);
        call_limits.crossed = true;
        return false;
    }
    return true;
}

// One expansion of the body with the parameters bound to the values: the inline scope, or
// null after a report.
static Scope* expand_body(Scope* scope, Sub_Program* callee, Value* values, Identifier** bound, Token* open,
                          u8 constant_arguments) {
    if (!check_expansion_limits(callee, open)) return 0;
    Scope* body_scope = callee->body_scope;
    Trace call = make_trace_from_token(open);
    Scope* inline_scope = _add_a_scope(body_scope->parent, INLINED_SUB_PROGRAM_SCOPE_FLAGS, call);
    if (!inline_scope) return 0;
    inline_scope->sub_program = callee;
    inline_scope->call_site_scope = scope;
    inline_scope->inline_call_trace = call;

    u32 index = 0;
    for (Identifier* p = (Identifier*)body_scope->parameters.first_element; p; p = p->next, index++) {
        bound[index] = add_bound_parameter(inline_scope, p, &values[index]);
        if (!bound[index]) return 0;
    }
    for (Identifier* c = (Identifier*)body_scope->constants.first_element; c; c = c->next) {
        if (!add_copy(inline_scope, c, IDENTIFIER_KIND_CONSTANT)) return 0;
    }

    Token* body = callee->body_token;
    call_limits.inline_depth++;
    call_limits.inline_count++;
    if (constant_arguments) call_limits.constant_depth++;
    b8 compiled = make_instructions_in_scope(inline_scope, body->next, (Token*)body->value, 0, constant_arguments);
    if (constant_arguments) call_limits.constant_depth--;
    call_limits.inline_depth--;
    if (!compiled) {
        report_call_site(open);
        return 0;
    }
    return inline_scope;
}

// Gives a register to each parameter bound to a constant that the expansion changed; false
// when there was none.
static b8 bind_changed_parameters_again(Scope* scope, Sub_Program* callee, Value* values, Identifier** bound, b8* ok) {
    b8 again = false;
    u32 index = 0;
    for (Identifier* p = (Identifier*)callee->body_scope->parameters.first_element; p; p = p->next, index++) {
        if (!(bound[index]->flags & PARAMETER_CHANGED_BY_BODY) || !needs_own_register(bound[index], &values[index], 0)) continue;
        if (!make_constant_value_dynamic(&values[index], scope, p->type, &values[index])->kind) {
            *ok = false;
            return false;
        }
        values[index].kind &= (u8)~VALUE_FRESH;
        again = true;
    }
    return again;
}

static b8 expand_inline_call(Scope* scope, Sub_Program* callee, Value* arguments, Token* open, Value* out,
                             u8 constant_arguments) {
    if (!check_expansion_limits(callee, open)) return false;
    Token* body = callee->body_token;
    if (!body || !body->value) {
        print_error_on_token(open, "Sub-program '%s' has no body to expand here.", get_report_name(callee));
        return false;
    }
    u32 count = get_parameters(callee, 0);
    u64 used = tmp_get_used();
    Value* values = (Value*)tmp_allocate_aligned((u64)count * (sizeof(Value) + sizeof(Identifier*)) + 1, 16);
    if (!values) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    Identifier** bound = (Identifier**)(values + count);
    b8 ok = true;
    u32 index = 0;
    for (Identifier* p = (Identifier*)callee->body_scope->parameters.first_element; ok && p; p = p->next, index++) {
        ok = bind_inline_parameter(scope, p, &arguments[index], constant_arguments, &values[index]);
    }
    // A parameter bound to a constant is known to be changed only once the body has been
    // read: the expansion is made again with a register for it. Each round gives one more
    // parameter a register at least, so the rounds end.
    u32 deferred = scope->deferred_blocks.count;
    Scope* inline_scope = 0;
    while (ok) {
        inline_scope = expand_body(scope, callee, values, bound, open, constant_arguments);
        if (!inline_scope || constant_arguments || !bind_changed_parameters_again(scope, callee, values, bound, &ok)) break;
        // The blocks the dropped expansion deferred to the call site go with it.
        scope->deferred_blocks.count = deferred;
    }
    tmp_set_used(used);
    if (!ok || !inline_scope) return false;

    Identifier* result = get_result_type(callee);
    if (result) {
        Trace call = make_trace_from_token(open);
        if (inline_scope->inlined_return_values.count == 1) {
            *out = ((Inlined_Return_Value*)inline_scope->inlined_return_values.first_element)->value;
            out->kind &= (u8)~VALUE_INLINE_RETURN;
            // The call's result, not the parameter the body returned.
            out->inline_parameter = 0;
        } else if (!make_dynamic_value(out, scope, result, call)->kind) {
            return false;
        }
        inline_scope->inline_result = *out;
    }
    return append_scope_instruction(scope, INSTRUCTION_NESTED_SCOPE, inline_scope, inline_scope->inline_call_trace);
}

//~ Real calls

// A sub-program passed to a real call is called through its address: an inline or a
// polymorphic one has none.
static b8 check_sub_program_argument(Value* argument) {
    Constant* constant = &argument->constant;
    if (!(argument->kind & VALUE_CONSTANT) || !(constant->mask & CONSTANT_TYPED) || !constant->type) return true;
    Identifier* type = constant->type;
    if (type->pointer_depth || !(type->flags & TYPE_SUB_PROGRAM) || !constant->data) return true;
    Sub_Program* passed = (Sub_Program*)constant->data;
    const char* refusal = (passed->flags & TYPE_POLYMORPHIC) ? "You cannot take the address of a polymorphic sub-program."
                        : (passed->flags & IDENTIFIER_INLINE) ? "You cannot take the address of an inlined sub-program."
                                                              : 0;
    if (!refusal) return true;
    print_error_on_trace(argument->source, "%s", refusal);
    return false;
}

// Arguments of a #c_call callee travel as values with the call: kept until the compile ends.
static b8 keep_c_call_arguments(Sub_Program* callee, Value* arguments, Dynamic_Array* out) {
    u32 count = get_parameters(callee, 0);
    memset(out, 0, sizeof(*out));
    out->element_size = sizeof(Value);
    if (!count) return true;
    // The static strings are packed: the values are placed on an 8-octet boundary inside.
    u8* room = data_section_allocate(&compiler_static_strings, (u64)count * sizeof(Value) + 7);
    if (!room) return false;
    Value* kept = (Value*)(((u64)room + 7) & ~7ull);
    memcpy(kept, arguments, (u64)count * sizeof(Value));
    out->data = (u8*)kept;
    out->count = count;
    out->capacity = count;
    for (u32 i = 0; i < count; i++) {
        Constant* constant = &kept[i].constant;
        b8 sub_program = (kept[i].kind & VALUE_CONSTANT) && (constant->mask & CONSTANT_TYPED) && constant->type &&
                         (constant->type->flags & TYPE_SUB_PROGRAM);
        if (sub_program && !list_sub_program(constant->type)) return false;
    }
    return true;
}

// Each argument into its parameter's place in the block; returns how many took room there.
static b8 copy_arguments(Scope* scope, Sub_Program* callee, Value* arguments, Register_Id block, u32* placed) {
    *placed = 0;
    u32 index = 0;
    for (Identifier* p = (Identifier*)callee->body_scope->parameters.first_element; p; p = p->next, index++) {
        if (p->flags & IDENTIFIER_CONSTANT) continue;
        Value* argument = &arguments[index];
        Identifier* type = p->type;
        if (argument->kind & VALUE_CONSTANT) {
            if (!(argument->constant.mask & CONSTANT_TYPED) && !cast_constant_to_type(argument, type, argument)->kind) return false;
            if (argument->constant.type) type = argument->constant.type;
        }
        Register_Id view = allocate_within_register(block, p->call_data_offset, type->size);
        if (!register_id_is_valid(view)) return false;
        Value destination;
        make_dynamic_value_from_register(&destination, view, type, argument->source);
        b8 copied = (argument->kind & VALUE_CONSTANT) ? instruction_copy_constant(scope, &destination, argument)
                                                      : copy_into_register(scope, &destination, argument);
        if (!copied) return false;
        (*placed)++;
    }
    return true;
}

static b8 emit_call(Scope* scope, Sub_Program* callee, Value* arguments, Token* open, Value* out, u8 expects_value,
                    u8 indirect, Register_Id callee_register) {
    b8 c_call = (callee->flags & SUB_PROGRAM_C_CALL) != 0;
    b8 scalar = (callee->flags & SUB_PROGRAM_SCALAR_RETURN) != 0;
    Identifier* result = get_result_type(callee);
    Trace call = make_trace_from_token(open);
    u32 count = get_parameters(callee, 0);
    for (u32 i = 0; i < count; i++) {
        if (!check_sub_program_argument(&arguments[i])) return false;
    }

    Register_Id block = INVALID_REGISTER_ID;
    // A #c_call callee also gets its block: the code generator calls every sub-program the
    // one way, with the block's address, and the values travel beside it for a C caller.
    u32 block_size = callee->call_data_size;
    u32 block_alignment = callee->call_data_alignment;
    if (block_size) {
        block = allocate_a_register(scope, block_size, 0, block_alignment ? block_alignment : 1);
        if (!register_id_is_valid(block)) return false;
        if (block.table == REGISTER_LOCAL) get_register(block)->flags |= REGISTER_ARGUMENT_BLOCK;
    }
    Dynamic_Array kept = {};
    u32 placed = 0;
    if (c_call && !keep_c_call_arguments(callee, arguments, &kept)) return false;
    if (register_id_is_valid(block) && !copy_arguments(scope, callee, arguments, block, &placed)) return false;

    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_CALL);
    if (!instruction) return false;
    Instruction_Call* operands = get_instruction_call(instruction);
    operands->calling_scope = scope;
    operands->callee = callee;
    operands->callee_address = indirect ? callee_register : INVALID_REGISTER_ID;
    operands->argument_block = block;
    operands->result = INVALID_REGISTER_ID;
    operands->arguments = kept;
    operands->location = call;
    operands->flags = (u8)((placed ? CALL_ARGUMENT_BLOCK : 0) | (expects_value ? CALL_EXPECTS_A_VALUE : 0) |
                           (scalar ? CALL_SCALAR_RETURN : 0) | (indirect ? CALL_THROUGH_ADDRESS : 0));
    if (!result) return true;

    if (scalar) {
        if (!make_dynamic_value(out, scope, result, call)->kind) return false;
        // The value arrives in RAX or XMM0; its own register wants the same class.
        clear_and_set_allocation_hints(out->dynamic.register_id, is_real(result) ? HINT_FLOAT : HINT_INTEGER);
    } else {
        Register_Id where = allocate_within_register(block, callee->return_value_offset, result->size);
        if (!register_id_is_valid(where)) return false;
        make_dynamic_value_from_register(out, where, result, call);
        out->kind |= VALUE_FRESH;
    }
    // The instruction may have moved while the result's register was made.
    operands = get_instruction_call(instruction);
    operands->result = out->dynamic.register_id;
    operands->flags |= CALL_ARGUMENT_BLOCK;
    return true;
}

b8 issue_a_sub_program_call(Scope* scope, Sub_Program* callee, Value* arguments, Token* open, Value* out,
                            u8 expects_value, u8 indirect, u8 constant_arguments, Register_Id callee_register) {
    memset(out, 0, sizeof(*out));
    u8 at_compile_time = constant_arguments || call_limits.constant_depth;
    b8 issued = (callee->flags & IDENTIFIER_INLINE) && !indirect
                    ? expand_inline_call(scope, callee, arguments, open, out, at_compile_time)
                    : emit_call(scope, callee, arguments, open, out, expects_value, indirect, callee_register);
    if (!issued) {
        memset(out, 0, sizeof(*out));
        return false;
    }
    // An indirect call lists nothing: whatever it calls was listed where it became a value.
    if (!indirect && (callee->flags & IDENTIFIER_CONSTANT) && !(callee->flags & IDENTIFIER_INLINE)) {
        return list_sub_program(callee);
    }
    return true;
}
