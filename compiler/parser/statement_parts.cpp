// What the control statements share: finding a statement's block or its ';' through the
// tokeniser's links, and bringing a value into a register of its own where a statement
// keeps it for later instructions.
#include "compiler/parser/parser.h"

Token* find_block_opener(Token* start, Token* end) {
    Token* previous = 0;
    for (Token* token = start; token && token != end; previous = token, token = token->next) {
        if (token->kind & (TOKEN_SEMICOLON | TOKEN_SCOPE_END)) return 0;
        b8 literal = previous && (previous->kind & TOKEN_OPERATOR) && previous->value == OP_DOT;
        if ((token->kind & (TOKEN_OPEN_BRACE | TOKEN_COLON)) && !literal) return token;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return 0;
}

Token* find_statement_semicolon(Token* start, Token* end) {
    for (Token* token = start; token; token = token->next) {
        if (token == end) return (end->kind & TOKEN_SEMICOLON) ? end : 0;
        if (token->kind & TOKEN_SEMICOLON) return token;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return 0;
}

b8 load_value_if_indirect(Scope* scope, Value* value) {
    if (!(value->kind & VALUE_INDIRECT)) return true;
    Identifier* type = get_type_from_value(value);
    Value loaded, address = *value, zero;
    address.kind &= (u8)~VALUE_INDIRECT;
    if (!type || !make_dynamic_value(&loaded, scope, type, value->source)->kind) return false;
    make_constant_value_from_integer(&zero, 0, global_compiler_state.basic_types[BASIC_TYPE_U64], value->source);
    if (!instruction_memory_dereference(scope, 1, INSTRUCTION_LOAD, &loaded, &address, &zero)) return false;
    *value = loaded;
    return true;
}

b8 get_member_value(Scope* scope, Value* aggregate, Identifier* member, Value* out) {
    Identifier* type = member->type;
    if (aggregate->kind & VALUE_INDIRECT) {
        Value address = *aggregate, offset;
        address.kind &= (u8)~VALUE_INDIRECT;
        make_constant_value_from_integer(&offset, member->member_offset, global_compiler_state.basic_types[BASIC_TYPE_U64],
                                         aggregate->source);
        return make_dynamic_value(out, scope, type, aggregate->source)->kind &&
               instruction_memory_dereference(scope, 1, INSTRUCTION_LOAD, out, &address, &offset);
    }
    Register_Id view = allocate_within_register(aggregate->dynamic.register_id, member->member_offset, type->size);
    if (!register_id_is_valid(view)) return false;
    make_dynamic_value_from_register(out, view, type, aggregate->source);
    return true;
}

b8 report_global_instruction(Token* token) {
    print_error_on_token(token, "You cannot execute instructions in global scope.");
    return false;
}
