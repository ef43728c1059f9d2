// switch: a value in a register compared with constant case values, each case a block of
// its own; the default block (a block without a value) is laid out after every case
// whatever its place, so #no_break into it is warned about.
#include <string.h>

#include "compiler/parser/parser.h"

static b8 is_no_break(Token* token, Token* end) {
    return token && token != end && is_keyword(token, STR("#no_break"));
}

static Token* skip_semicolons(Token* token, Token* end) {
    while (token && token != end && (token->kind & TOKEN_SEMICOLON)) token = token->next;
    return token;
}

// Integers and reals by their data, strings by length and octets.
static b8 case_values_equal(Value* a, Value* b) {
    Constant* x = &a->constant;
    Constant* y = &b->constant;
    if ((x->mask & CONSTANT_STRING) || (y->mask & CONSTANT_STRING)) {
        return (x->mask & CONSTANT_STRING) && (y->mask & CONSTANT_STRING) && x->length == y->length &&
               (!x->length || memcmp((void*)x->data, (void*)y->data, x->length) == 0);
    }
    return x->data == y->data;
}

// The value switched on, in a register of the switch's type.
static b8 get_switch_value(Scope* scope, Token* keyword, Token* first, Token* end, Value* value) {
    if (!parse_simple_statement(scope, first, end, 0, 0, 0, 0, value)) return false;
    Identifier* type = (value->kind & VALUE_CONSTANT) ? infer_type_from_constant(0, &value->constant) : get_type_from_value(value);
    Identifier* resolved = get_resolved_type(type);
    if (!resolved) {
        print_error_on_trace(value->source, "This value cannot be switched on.");
        return false;
    }
    if (resolved->pointer_depth) {
        print_error_on_token(keyword, "Switch statement do not accept memory addresses for now.");
        return false;
    }
    if ((resolved->flags & TYPE_STRUCT) && !(resolved->flags & TYPE_STRING)) {
        print_error_on_token(keyword,
                             "Switch statements do not accept structs but it seems the value you want to test is a struct (type %s).",
                             type_to_c_string(type));
        return false;
    }
    if (value->kind & VALUE_CONSTANT) {
        Value constant = *value;
        return cast_value_to_type(&constant, scope, type, &constant)->kind &&
               make_dynamic_value(value, scope, type, constant.source)->kind && instruction_copy_constant(scope, value, &constant);
    }
    return load_value_if_indirect(scope, value);
}

static b8 compile_case_block(Scope* scope, Token* opener, Token* closing, u8 constant_return_only, Scope** block) {
    *block = _add_a_scope(scope, SCOPE_SWITCH_CASE, opener->location);
    return *block && make_instructions_in_scope(*block, opener->next, closing, 0, constant_return_only);
}

b8 compile_switch(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next) {
    if (!scope->parent) return report_global_instruction(keyword);
    Token* first = keyword->next;
    b8 all_values = first && first != end && is_keyword(first, STR("#all_values"));
    if (all_values) first = first->next;
    Token* body = find_block_opener(first, end);
    if (!body || !(body->kind & TOKEN_OPEN_BRACE)) {
        print_error_on_token(keyword, "Expected a block after the value of this switch statement.");
        return false;
    }
    if (body == first) {
        print_error_on_token(keyword, "Did you forget to specify a value to switch on?");
        return false;
    }
    Token* closing = (Token*)body->value;
    *next = closing->next;

    Value value;
    if (!get_switch_value(scope, keyword, first, body, &value)) return false;
    Identifier* type = value.dynamic.type;
    if (all_values && !(get_resolved_type(type)->flags & TYPE_ENUM)) {
        print_error_on_token(keyword, "You indicated that all enum values should be handled but type '%s' is not an enum.",
                             type_to_c_string(type));
        return false;
    }
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_SWITCH);
    if (!instruction) return false;
    Instruction_Switch* operands = get_instruction_switch(instruction);
    operands->location = keyword->location;
    operands->value = value;
    init_dynamic_array(&operands->case_values, sizeof(Value));
    init_dynamic_array(&operands->case_scopes, sizeof(Scope*));

    Token* no_break_before_default = 0;  // a case's #no_break that the default block follows
    for (Token* token = skip_semicolons(body->next, closing); token != closing; token = skip_semicolons(token, closing)) {
        if (token->kind & (TOKEN_OPEN_BRACE | TOKEN_COLON)) {
            if (operands->has_default) {
                print_error_on_token(token, "This switch statement already has a default block.");
                return false;
            }
            Token* block_closing = get_block_end(token, closing);
            if (!block_closing || !compile_case_block(scope, token, block_closing, constant_return_only, &operands->default_scope)) {
                return false;
            }
            operands->has_default = 1;
            token = block_closing->next;
            if (is_no_break(token, closing)) {
                print_error_on_token(token, "You cannot use #no_break on a default switch block. The reason is a default block "
                                            "is always output at the end of a switch statement so #no_break has no effect on them.");
                return false;
            }
            continue;
        }

        // A #no_break falls into the next block laid out, which the default block is not.
        if (no_break_before_default && operands->has_default) {
            print_error_on_token(no_break_before_default,
                                 "It looks like the default block of this switch statement is placed in the middle of other "
                                 "blocks.\nThis is not a problem on its own, but it seems you are #no_breaking into it. This is "
                                 "actually not going to work as expected.\nThe reason is the default block is always output at "
                                 "the end of a switch statement so in this case you will #no_break into the next non-default "
                                 "block!");
        }
        no_break_before_default = 0;
        Token* opener = find_block_opener(token, closing);
        if (!opener) {
            print_error_on_token(token, "Here is an example of a condition block inside a switch statement: 45 : say_hello();");
            return false;
        }
        Value case_value;
        if (!parse_simple_statement(scope, token, opener, type, 0, 0, 1, &case_value) ||
            !cast_value_to_type(&case_value, scope, type, &case_value)->kind) {
            return false;
        }
        if (!(case_value.kind & VALUE_CONSTANT)) {
            print_error_on_trace(case_value.source, "This expression does not appear to be constant.");
            return false;
        }
        for (u32 i = 0; i < operands->case_values.count; i++) {
            Value* earlier = (Value*)operands->case_values.data + i;
            if (!case_values_equal(earlier, &case_value)) continue;
            print_error_on_trace(case_value.source, "This value is already tested in this switch statement.");
            print_error_on_trace(earlier->source, "This is the previous test.");
            return false;
        }
        Token* block_closing = get_block_end(opener, closing);
        Scope* block;
        if (!block_closing || !compile_case_block(scope, opener, block_closing, constant_return_only, &block)) return false;
        Value* value_slot = (Value*)dynamic_array_add_fast(&operands->case_values);
        Scope** scope_slot = (Scope**)dynamic_array_add_fast(&operands->case_scopes);
        if (!value_slot || !scope_slot) {
            report_out_of_compiler_memory("switch cases");
            return false;
        }
        *value_slot = case_value;
        *scope_slot = block;

        token = block_closing->next;
        if (!is_no_break(token, closing)) continue;
        Token* no_break = token;
        token = token->next;
        if (skip_semicolons(token, closing) == closing) {
            print_error_on_token(no_break, "You cannot use #no_break on the last block of a switch statement.");
            return false;
        }
        block->flags |= SCOPE_SWITCH_FALLS_THROUGH;
        if (!operands->has_default) no_break_before_default = no_break;
    }

    if (all_values) {
        Identifier* enum_type = get_resolved_type(type);
        u32 members = enum_type->member_scope ? enum_type->member_scope->constants.count : 0;
        if (operands->case_values.count != members) {
            print_error_on_token(keyword, "All values from enum %.*s must be handled in this switch statement.",
                                 (int)enum_type->name.count, (char*)enum_type->name.data);
            return false;
        }
    }
    return true;
}
