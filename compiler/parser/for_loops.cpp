// for loops: a count of an integer index towards a limit, or a walk over the elements of
// an array or a String. A count never wraps: where adding the step could carry the index
// past its type's range, a guard before the step leaves the loop instead. The guard is
// made anew at every place the step is repeated (the loop's end and each continue), since
// the break in it counts loops from where it stands.
#include <string.h>

#include "compiler/parser/parser.h"

// The expression parser's flags for the description (a place: counting from a variable
// steps the variable itself; an array's elements are reached through its address, and a
// count is only read), its limit (only read) and the step (a fresh register).
#define DESCRIPTION_EXPRESSION_FLAGS 0x2
#define ONLY_READ_DESCRIPTION_FLAGS  0x22
#define LIMIT_EXPRESSION_FLAGS       0x0
#define STEP_EXPRESSION_FLAGS        0x4

typedef __int128 s128;

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

//~ Loops being compiled

// What repeating a count's step needs, kept while its body is compiled: continue repeats
// the step of a loop around it.
struct For_Loop_Step {
    For_Loop_Step* outer;
    Scope* loop_scope;
    b8 guarded;
    b8 step_down;
    Value index;
    Value step;             // a constant or a register of the loop type
    Token* groups[2];       // distinct brackets for the two groups of a signed run-time step's guard
};

static For_Loop_Step* active_for_loops;

static For_Loop_Step* get_for_loop_step(Scope* loop_scope) {
    for (For_Loop_Step* step = active_for_loops; step; step = step->outer) {
        if (step->loop_scope == loop_scope) return step;
    }
    return 0;
}

//~ Integer ranges

static void get_integer_range(Identifier* type, s128* min, s128* max) {
    u32 bits = type->size * 8;
    if (type->flags & TYPE_SIGNED) {
        *max = ((s128)1 << (bits - 1)) - 1;
        *min = -*max - 1;
    } else {
        *max = ((s128)1 << bits) - 1;
        *min = 0;
    }
}

// A constant of an integer type as a number: its octets read with the type's sign.
static s128 get_constant_number(Constant* constant, Identifier* type) {
    u32 bits = type->size * 8;
    u64 data = constant->data;
    if (bits < 64) data &= (1ull << bits) - 1;
    if ((type->flags & TYPE_SIGNED) && bits < 64 && (data >> (bits - 1))) return (s128)data - ((s128)1 << bits);
    if ((type->flags & TYPE_SIGNED) && bits == 64) return (s128)(s64)data;
    return (s128)data;
}

//~ The guard before a step

static Condition_Part* add_guard_part(Scope* scope, Bucket_Array* parts, u16 level, Token* bracket, u32 flags,
                                      Trace location) {
    Condition_Part* part = (Condition_Part*)bucket_array_append(parts);
    if (!part) {
        report_out_of_compiler_memory("condition parts");
        return 0;
    }
    part->level = level;
    part->bracket = bracket;
    part->scope = _add_a_scope(scope, flags, location);
    return part->scope ? part : 0;
}

static b8 add_guard_operator(Bucket_Array* parts, u16 level, u64 operator_bit) {
    Condition_Part* part = (Condition_Part*)bucket_array_append(parts);
    if (!part) {
        report_out_of_compiler_memory("condition parts");
        return false;
    }
    part->part_kind = CONDITION_PART_OPERATOR;
    part->level = level;
    part->operator_bit = operator_bit;
    return true;
}

// A value part comparing left with right (a register or a constant) by the operator.
static b8 add_guard_compare(Scope* scope, Bucket_Array* parts, u16 level, Token* bracket, u32 flags, Value* left,
                            Value* right, u64 operator_bit) {
    Condition_Part* part = add_guard_part(scope, parts, level, bracket, flags, left->source);
    if (!part || !instruction_cmp(part->scope, left, right)) return false;
    part->value = *left;
    part->jump_kind = get_opposite_comparison_jump(operator_bit);
    return true;
}

// A value part comparing the index with bound combined with the step: bound - step or
// bound + step, worked out in a register of the part's scope.
static b8 add_guard_bound_compare(Scope* scope, Bucket_Array* parts, u16 level, Token* bracket, u32 flags,
                                  For_Loop_Step* step, s128 bound, u64 combine, u64 operator_bit) {
    Identifier* type = step->index.dynamic.type;
    Condition_Part* part = add_guard_part(scope, parts, level, bracket, flags, step->index.source);
    if (!part) return false;
    Value limit, constant;
    make_constant_value_from_integer(&constant, (u64)bound, type, step->index.source);
    if (!make_dynamic_value(&limit, part->scope, type, step->index.source)->kind ||
        !instruction_copy_constant(part->scope, &limit, &constant) ||
        !instruction_arithmetic(part->scope, combine, &limit, &step->step) ||
        !instruction_cmp(part->scope, &step->index, &limit)) {
        return false;
    }
    part->value = step->index;
    part->jump_kind = get_opposite_comparison_jump(operator_bit);
    return true;
}

// The parts of "the step would wrap the index".
static b8 add_guard_condition(Scope* scope, Bucket_Array* parts, For_Loop_Step* step) {
    Identifier* type = step->index.dynamic.type;
    s128 min, max;
    get_integer_range(type, &min, &max);
    if (step->step.kind & VALUE_CONSTANT) {
        s128 delta = get_constant_number(&step->step.constant, type);
        if (step->step_down) delta = -delta;
        Value threshold;
        make_constant_value_from_integer(&threshold, (u64)(delta > 0 ? max - delta : min - delta), type, step->index.source);
        return add_guard_compare(scope, parts, 0, 0, SCOPE_CONDITION, &step->index, &threshold,
                                 delta > 0 ? OP_GREATER : OP_LESS);
    }
    if (!(type->flags & TYPE_SIGNED)) {
        if (step->step_down) {
            return add_guard_compare(scope, parts, 0, 0, SCOPE_CONDITION, &step->index, &step->step, OP_LESS);
        }
        return add_guard_bound_compare(scope, parts, 0, 0, SCOPE_CONDITION, step, max, OP_SUBTRACT, OP_GREATER);
    }
    // A signed step may be negative: (step > 0 && index past the near end) || (step < 0 && index past the far end).
    Value zero;
    make_constant_value_from_integer(&zero, 0, type, step->step.source);
    u64 toward = step->step_down ? OP_ADD : OP_SUBTRACT;
    return add_guard_compare(scope, parts, 1, step->groups[0], 0, &step->step, &zero, OP_GREATER) &&
           add_guard_operator(parts, 1, OP_LOGICAL_AND) &&
           add_guard_bound_compare(scope, parts, 1, step->groups[0], 0, step, step->step_down ? min : max, toward,
                                   step->step_down ? OP_LESS : OP_GREATER) &&
           add_guard_operator(parts, 0, OP_LOGICAL_OR) &&
           add_guard_compare(scope, parts, 1, step->groups[1], 0, &step->step, &zero, OP_LESS) &&
           add_guard_operator(parts, 1, OP_LOGICAL_AND) &&
           add_guard_bound_compare(scope, parts, 1, step->groups[1], SCOPE_CONDITION, step, step->step_down ? max : min,
                                   toward, step->step_down ? OP_GREATER : OP_LESS);
}

// if <the step would wrap> { break level; }
static b8 emit_step_guard(Scope* scope, For_Loop_Step* step, u8 level, Trace at) {
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_IF_CHAIN);
    if (!instruction) return false;
    Instruction_If_Chain* chain = get_instruction_if_chain(instruction);
    chain->location = at;
    init_bucket_array(&chain->links, &if_chain_parts_pool);
    If_Chain_Part* link = (If_Chain_Part*)bucket_array_append(&chain->links);
    if (!link) {
        report_out_of_compiler_memory("if chains");
        return false;
    }
    chain->link_count = 1;
    link->closing = at;
    init_bucket_array(&link->conditions, &condition_parts_pool);
    if (!add_guard_condition(scope, &link->conditions, step)) return false;

    Scope* block = _add_a_scope(scope, 0, at);
    if (!block || !append_scope_instruction(block, INSTRUCTION_SCOPE_START, block, at)) return false;
    Instruction* jump = allocate_an_instruction(block, INSTRUCTION_LOOP_JUMP);
    if (!jump) return false;
    Instruction_Loop_Jump* operands = get_instruction_loop_jump(jump);
    operands->location = at;
    operands->mode = LOOP_JUMP_BREAK;
    operands->level = level;
    step->loop_scope->break_count++;
    link->scope = block;
    return append_scope_instruction(block, INSTRUCTION_SCOPE_END, block, at);
}

// Whether the step can carry the index past its type: not when the test stops the index
// a step away from the end first (a constant limit checked here, any limit for a step of
// one towards it).
static b8 step_may_wrap(Identifier* type, Value* step, b8 step_down, u64 comparison, Value* limit) {
    if (!(step->kind & VALUE_CONSTANT)) return true;
    s128 delta = get_constant_number(&step->constant, type);
    if (step_down) delta = -delta;
    if (delta == 0) return false;
    s128 min, max;
    get_integer_range(type, &min, &max);
    b8 constant_limit = limit->kind & VALUE_CONSTANT;
    s128 bound = constant_limit ? get_constant_number(&limit->constant, type) : 0;
    if (delta > 0) {
        if (comparison == OP_LESS) return constant_limit ? bound - 1 > max - delta : delta != 1;
        if (comparison == OP_LESS_EQUAL) return !constant_limit || bound > max - delta;
        return true;
    }
    if (comparison == OP_GREATER) return constant_limit ? bound + 1 < min - delta : delta != -1;
    if (comparison == OP_GREATER_EQUAL) return !constant_limit || bound < min - delta;
    return true;
}

b8 insert_loop_step(Scope* scope, Scope* loop_scope, u8 level, Trace at) {
    if (!loop_scope->iteration_scope) return true;
    For_Loop_Step* step = get_for_loop_step(loop_scope);
    if (step && step->guarded && !emit_step_guard(scope, step, level, at)) return false;
    return insert_for_loop_iteration_instructions(scope, loop_scope->iteration_scope);
}

//~ The description

// The type the loop counts in, or walks: the first expression's; an untyped constant
// takes the second's when that is a value, else the smallest type holding both.
static Identifier* get_described_type(Value* first, Value* second) {
    if (!(first->kind & VALUE_CONSTANT)) return get_type_from_value(first);
    Constant* constant = &first->constant;
    if ((constant->mask & CONSTANT_TYPED) || !(constant->mask & CONSTANT_INTEGER) || !second) {
        return infer_type_from_constant(INFER_SMALLEST_TYPE, constant);
    }
    if (!(second->kind & VALUE_CONSTANT)) return get_type_from_value(second);
    if (second->constant.mask & CONSTANT_TYPED) return second->constant.type;
    if (!(second->constant.mask & CONSTANT_INTEGER)) return infer_type_from_constant(INFER_SMALLEST_TYPE, constant);
    // Both bounds untyped: the first type of the list that holds both, one below each maximum.
    s128 a = (constant->mask & CONSTANT_SIGNED) ? (s128)(s64)constant->data : (s128)constant->data;
    s128 b = (second->constant.mask & CONSTANT_SIGNED) ? (s128)(s64)second->constant.data : (s128)second->constant.data;
    static const Basic_Type_Slot UNSIGNED_TYPES[] = {BASIC_TYPE_U8, BASIC_TYPE_U16, BASIC_TYPE_U32, BASIC_TYPE_U64};
    static const Basic_Type_Slot SIGNED_TYPES[] = {BASIC_TYPE_S8, BASIC_TYPE_S32, BASIC_TYPE_S64};
    b8 negative = a < 0 || b < 0;
    const Basic_Type_Slot* slots = negative ? SIGNED_TYPES : UNSIGNED_TYPES;
    u32 count = negative ? ARRAY_COUNT(SIGNED_TYPES) : ARRAY_COUNT(UNSIGNED_TYPES);
    for (u32 i = 0; i + 1 < count; i++) {
        s128 min, max;
        get_integer_range(get_basic_type(slots[i]), &min, &max);
        if ((!negative || (a > min && b > min)) && a < max && b < max) return get_basic_type(slots[i]);
    }
    return get_basic_type(slots[count - 1]);
}

static b8 report_extraneous_comma(Token* comma) {
    print_error_on_token(comma, "Is this an extraneous ','?");
    return false;
}

// Checks the described type: an integer to count in, or an array or a String to walk.
static b8 check_described_type(Identifier* described, Value* first, Value* second, b8* over_array) {
    Identifier* type = get_resolved_type(described);
    if (type && type->pointer_depth) {
        Identifier* leaf = type->leaf_type ? type->leaf_type : type;
        if (leaf->flags & TYPE_STRUCT) {
            print_error_on_trace(first->source, "You cannot loop on type '%s'.", type_to_c_string(described));
            return false;
        }
    } else if (type && (type->flags & TYPE_STRUCT)) {
        if (!(type->flags & (TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY | TYPE_STRING))) {
            print_error_on_trace(first->source, "You cannot loop on type '%s'.", type_to_c_string(described));
            return false;
        }
        if (second) {
            print_error_on_trace(second->source, "When looping on arrays you cannot give an upper boundary.");
            return false;
        }
        *over_array = true;
        return true;
    }
    if (!type || type->pointer_depth || (type->flags & TYPE_ENUM) || !(type->flags & (TYPE_SIGNED | TYPE_UNSIGNED))) {
        print_error_on_trace(first->source, "Only integers, arrays and strings can be used here.");
        return false;
    }
    *over_array = false;
    return true;
}

struct For_Names {
    Token* element;  // or the index of a count
    Token* index;
    Token* comma;    // of "element, index" or ", index"
};

static b8 parse_for_names(Token* arrow, Token* opener, For_Names* names) {
    *names = {};
    if (!arrow) return true;
    Token* token = arrow->next;
    if (token == opener) {
        print_error_on_token(arrow, "Is this '%s' extraneaous?", token_to_c_string(arrow));
        return false;
    }
    for (u32 slot = 0; token != opener && slot < 2; slot++) {
        if (slot == 0 && (token->kind & TOKEN_COMMA)) slot = 1;
        if (slot == 1) {
            if (!(token->kind & TOKEN_COMMA)) break;
            names->comma = token;
            token = token->next;
            if (token == opener) return report_extraneous_comma(names->comma);
        }
        if (!(token->kind & TOKEN_IDENTIFIER)) {
            print_error_on_token(token, "The compiler expected an identifier but got '%s' instead.", token_to_c_string(token));
            return false;
        }
        (slot == 0 ? names->element : names->index) = token;
        token = token->next;
    }
    if (token != opener) {
        print_error_on_token(token, "The compiler expected the for loop block to start here but got '%s' instead.",
                             token_to_c_string(token));
        return false;
    }
    return true;
}

static b8 is_comparison(u64 operator_bit) {
    return operator_bit == OP_LESS || operator_bit == OP_GREATER || operator_bit == OP_LESS_EQUAL ||
           operator_bit == OP_GREATER_EQUAL || operator_bit == OP_EQUAL || operator_bit == OP_NOT_EQUAL;
}

// "#step value [, comparison]" from the directive to the description's end.
static b8 parse_step(Scope* scope, Token* directive, Token* end, Identifier* type, Value* step, u64* comparison) {
    if (!is_keyword(directive, STR("#step"))) {
        print_error_on_token(directive, "Directive '%s' is unkown or not usable here.", token_to_c_string(directive));
        return false;
    }
    Token* comma = get_first_token_like_bounded(directive->next, TOKEN_COMMA, end);
    Token* value_end = comma ? comma : end;
    if (directive->next != value_end &&
        (!parse_simple_statement(scope, directive->next, value_end, type, 0, STEP_EXPRESSION_FLAGS, 0, step) ||
         !cast_value_to_type(step, scope, type, step)->kind)) {
        return false;
    }
    if (!comma) return true;
    Token* operator_token = comma->next;
    if (operator_token == end) return report_extraneous_comma(comma);
    if (!(operator_token->kind & TOKEN_OPERATOR)) {
        print_error_on_token(operator_token,
                             "The compiler expected a comparison operator to use in the for loop here but got '%s' instead.",
                             token_to_c_string(operator_token));
        return false;
    }
    if (!is_comparison(operator_token->value)) {
        print_error_on_token(operator_token, "'%s' is not a valid comparison operator. Please use <, >, <=, >=, == or !=.",
                             token_to_c_string(operator_token));
        return false;
    }
    *comparison = operator_token->value;
    if (operator_token->next != end) {
        print_error_on_token(operator_token->next, "The compiler expected the for loop block to start here but got '%s' instead.",
                             token_to_c_string(operator_token->next));
        return false;
    }
    return true;
}

//~ Identifiers of the loop

// A named variable of the loop scope: the name from its token, or a default one, which must
// not be visible yet either.
static Identifier* declare_loop_variable(Scope* loop, Token* name, String default_name, Trace at, Identifier* type,
                                         Register_Id id) {
    Identifier* identifier = name ? add_identifier_with_error(loop, name, IDENTIFIER_KIND_VARIABLE)
                                  : add_identifier_with_error2(loop, default_name, IDENTIFIER_KIND_VARIABLE, at);
    if (!identifier) return 0;
    identifier->type = type;
    identifier->register_id = id;
    identifier->flags |= IDENTIFIER_DECLARED;
    Register* row = get_first_non_view_register(id);
    if (row) row->flags |= REGISTER_OWNED_BY_IDENTIFIER;
    return identifier;
}

//~ The statement

b8 compile_for_loop(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next) {
    if (!scope->parent) return report_global_instruction(keyword);
    Token* opener = find_block_opener(keyword->next, end);
    if (!opener) {
        print_error_on_token(keyword, "This for loop does not seem to have an associated block to execute.");
        return false;
    }
    Token* closing = get_block_end(opener, end);
    if (!closing) return false;
    *next = closing->next;

    // for [@] range [#step ...] [-> names] block
    Token* arrow = get_first_token_like_bounded(keyword->next, TOKEN_ARROW, opener);
    Token* description_end = arrow ? arrow : opener;
    Token* directive = get_first_token_like_bounded(keyword->next, TOKEN_DIRECTIVE, description_end);
    Token* range_end = directive ? directive : description_end;
    Token* range = keyword->next;
    b8 by_address = range != range_end && (range->kind & TOKEN_AT);
    if (by_address) range = range->next;
    if (range == range_end) {
        print_error_on_token(keyword, "This for loop does not seem to have a description of something to loop on.");
        return false;
    }
    Token* comma = get_first_token_like_bounded(range, TOKEN_COMMA, range_end);
    if (comma && (comma == range || comma->next == range_end)) return report_extraneous_comma(comma);

    Value first, second;
    u8 first_flags = comma ? DESCRIPTION_EXPRESSION_FLAGS : ONLY_READ_DESCRIPTION_FLAGS;
    if (!parse_simple_statement(scope, range, comma ? comma : range_end, 0, 0, first_flags, 0, &first)) {
        return false;
    }
    if (comma) {
        Identifier* expected = (first.kind & VALUE_REGISTER) || (first.constant.mask & CONSTANT_TYPED) ? get_type_from_value(&first) : 0;
        if (!parse_simple_statement(scope, comma->next, range_end, expected, 0, LIMIT_EXPRESSION_FLAGS, 0, &second)) {
            return false;
        }
    }
    Identifier* described = get_described_type(&first, comma ? &second : 0);
    b8 over_array;
    if (!check_described_type(described, &first, comma ? &second : 0, &over_array)) return false;
    Identifier* loop_type = over_array ? get_basic_type(BASIC_TYPE_S64) : described;

    Value limit;
    u64 comparison = OP_LESS;
    if (!over_array) {
        if ((first.kind & VALUE_CONSTANT) && !cast_value_to_type(&first, scope, loop_type, &first)->kind) return false;
        Value* bound = comma ? &second : &first;
        if (!cast_value_to_type(&limit, scope, loop_type, bound)->kind || !load_value_if_indirect(scope, &limit)) return false;
        if (comma && (first.kind & VALUE_CONSTANT) && (limit.kind & VALUE_CONSTANT) &&
            get_constant_number(&first.constant, loop_type) > get_constant_number(&limit.constant, loop_type)) {
            comparison = OP_GREATER_EQUAL;
        }
    }
    Value step;
    make_constant_value_from_integer(&step, 1, loop_type, keyword->location);
    if (directive && !parse_step(scope, directive, description_end, loop_type, &step, &comparison)) return false;
    b8 step_down = comparison == OP_GREATER || comparison == OP_GREATER_EQUAL;

    For_Names names;
    if (!parse_for_names(arrow, opener, &names)) return false;
    if (!over_array && names.comma) {
        print_error_on_token(names.comma,
                             "This for loop does not loop on an array so you can only set a custom name for the index identifier.");
        return false;
    }

    // The index: the first expression's own register when it counts from a value, else a
    // register of its own, set before the loop.
    Scope* loop = _add_a_scope(scope, SCOPE_LOOP, keyword->location);
    if (!loop) return false;
    Value index;
    if (!over_array && comma && !(first.kind & VALUE_CONSTANT)) {
        index = first;
        if (!load_value_if_indirect(scope, &index)) return false;
    } else {
        if (!make_dynamic_value(&index, scope, loop_type, keyword->location)->kind) return false;
        b8 set = over_array || !comma ? instruction_set_to_zero(scope, &index) : instruction_copy_constant(scope, &index, &first);
        if (!set) return false;
    }
    index.kind = VALUE_REGISTER;

    Token* index_name = over_array ? names.index : names.element;
    String default_index = STR("it");
    if (over_array) {
        default_index = STR("it_index");
        if (names.element) {
            default_index = copy_to_compiler_static_strings(
                string_concat2("%_index", String{names.element->text, (s64)names.element->length}));
            if (!default_index.data) return false;
        }
    }
    Identifier* index_identifier = declare_loop_variable(loop, index_name, default_index, keyword->location, loop_type,
                                                         index.dynamic.register_id);
    if (!index_identifier) return false;

    Identifier* element = 0;
    Identifier* element_type = 0;
    if (over_array) {
        Value aggregate = first;
        if (aggregate.kind & VALUE_CONSTANT) {
            make_dynamic_value_out_of_non_scalar_constant(&aggregate, &first);
            aggregate.dynamic.type = described;
        }
        Identifier* count = get_struct_member_from_string(described, STR("count"));
        Identifier* data = get_struct_member_from_string(described, STR("data"));
        Value data_value, element_value;
        if (!count || !data) {
            print_error_on_trace(first.source, "You cannot loop on type '%s'.", type_to_c_string(described));
            return false;
        }
        if (!get_member_value(scope, &aggregate, count, &limit) || !get_member_value(scope, &aggregate, data, &data_value)) {
            return false;
        }
        element_type = (get_resolved_type(described)->flags & TYPE_STRING) ? get_basic_type(BASIC_TYPE_U8)
                                                                              : get_resolved_type(described)->element_type;
        if (by_address) element_type = type_to_memory_address_of_type(element_type, 1);
        if (!element_type || !make_dynamic_value(&element_value, loop, element_type, keyword->location)->kind) return false;
        element = declare_loop_variable(loop, names.element, STR("it"), keyword->location, element_type,
                                        element_value.dynamic.register_id);
        element_value.kind = VALUE_REGISTER;
        if (!element || !instruction_memory_dereference(loop, 0, by_address ? INSTRUCTION_ADDRESS : INSTRUCTION_LOAD,
                                                        &element_value, &data_value, &index)) {
            return false;
        }
    } else if (by_address) {
        print_error_on_token(keyword->next, "Only arrays and strings can be looped on by address.");
        return false;
    }

    // The step, into the iteration scope; repeated at the loop's end and by each continue.
    Scope* iteration = _add_a_scope(loop, SCOPE_LOOP, keyword->location);
    if (!iteration) return false;
    loop->iteration_scope = iteration;
    b8 stepped;
    if ((step.kind & VALUE_CONSTANT) && get_constant_number(&step.constant, loop_type) == 1) {
        stepped = instruction_arithmetic(iteration, step_down ? OP_DECREMENT : OP_INCREMENT, &index, &index);
    } else if (step.kind & VALUE_CONSTANT) {
        stepped = instruction_arithmetic_constant(iteration, step_down ? OP_SUBTRACT : OP_ADD, &index, &step);
    } else {
        stepped = instruction_arithmetic(iteration, step_down ? OP_SUBTRACT : OP_ADD, &index, &step);
    }
    if (!stepped) return false;

    For_Loop_Step loop_step = {};
    loop_step.outer = active_for_loops;
    loop_step.loop_scope = loop;
    loop_step.guarded = !over_array && step_may_wrap(loop_type, &step, step_down, comparison, &limit);
    loop_step.step_down = step_down;
    loop_step.index = index;
    loop_step.step = step;
    loop_step.groups[0] = keyword;
    loop_step.groups[1] = directive ? directive : keyword->next;
    active_for_loops = &loop_step;
    b8 compiled = make_instructions_in_scope(loop, opener->next, closing, 0, constant_return_only) &&
                  insert_loop_step(loop, loop, 0, closing->location);
    active_for_loops = loop_step.outer;
    if (!compiled) return false;

    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_FOR);
    if (!instruction) return false;
    Instruction_For* operands = get_instruction_for(instruction);
    operands->location = keyword->location;
    operands->step = step;
    operands->comparison = comparison;
    operands->limit = limit;
    operands->index = index_identifier;
    operands->loop_type = loop_type;
    operands->loop_scope = loop;
    operands->element = element;
    operands->element_type = element_type;
    operands->flags = (u8)((over_array ? FOR_LOOP_OVER_ARRAY : 0) | (by_address ? FOR_LOOP_BY_ADDRESS : 0) |
                           (step_down ? FOR_LOOP_STEP_DOWN : 0));
    return true;
}
