// The members of an enum: one constant per "$NAME;" or "$NAME := value;", numbered on from
// a running value that the declaration owns (doubling in flags mode), checked against the
// base type's range and, with #unique_values, against each other. #if blocks inside the
// body share the running value, so a skipped block numbers nothing.
#include "compiler/parser/parser.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 report(Token* token, const char* message) {
    print_error_on_token(token, "%s", message);
    return false;
}

static char* enum_name(Identifier* type) { return type_to_c_string(type); }

// The ';' that ends a member, bracket groups skipped; null at the body's end or a closer.
static Token* find_member_end(Token* token, Token* end) {
    for (; !at_end(token, end); token = token->next) {
        if (token->kind & TOKEN_SEMICOLON) return token;
        if (token->kind & TOKEN_SCOPE_END) return 0;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return 0;
}

// The value's octets must fit the base type: sizes of 8 take anything.
static b8 check_range(Identifier* base, u64 value, Token* at) {
    u32 size = base->size;
    s64 v = (s64)value;
    if (!(base->flags & TYPE_SIGNED)) {
        const char* format = 0;
        if (size == 1 && value >= 0x100) format = "The value assigned to this member (0x%llx) is too big. The limit is 0xff.";
        if (size == 2 && value >= 0x10000) format = "The value assigned to this member (0x%llx) is too big. The limit is 0xffFF.";
        if (format) {
            print_error_on_token(at, format, (unsigned long long)value);
            return false;
        }
        if (size == 4 && value > 0xFFFFFFFFull) {
            print_error_on_token(at, "The value assigned to this member (0x%llx) is too big. The limit is 0x%llx.",
                                 (unsigned long long)value, 0xFFFFFFFFull);
            return false;
        }
        return true;
    }
    if (size == 1) {
        if (v >= 128) {
            print_error_on_token(at, "The value assigned to this member (%'lld) is too big. The limit is 127.", (long long)v);
            return false;
        }
        if (v < -128) {
            print_error_on_token(at, "The value assigned to this member (%'lld) is too small. The limit is -128.", (long long)v);
            return false;
        }
        return true;
    }
    if (size != 2 && size != 4) return true;
    s64 highest = size == 2 ? 32767 : 2147483647ll;
    s64 lowest = -highest - 1;
    if (v > highest) {
        print_error_on_token(at, "The value assigned to this member (%'lld) is too big. The limit is %'lld.", (long long)v,
                             (long long)highest);
        return false;
    }
    if (v < lowest) {
        print_error_on_token(at, "The value assigned to this member (%'lld) is too small. The limit is %'lld.", (long long)v,
                             (long long)lowest);
        return false;
    }
    return true;
}

// "= value" of a member: a constant integer, evaluated with its own type so the range
// check, not a cast, judges it.
static b8 evaluate_member_value(Scope* members, Identifier* member, Identifier* base, Token* assignment, Token* semicolon,
                                u64* value) {
    if (!handle_declaration_assignment(members, member, 1, 0, assignment, semicolon)) return false;
    Value* constant = &member->constant_value;
    if (!(constant->constant.mask & CONSTANT_INTEGER)) {
        print_error_on_trace(constant->source, "This constant is incompatible with type %s.", type_to_c_string(base));
        return false;
    }
    *value = constant->constant.data;
    return true;
}

static b8 parse_member(Identifier* enum_type, Token* first, Token* semicolon, u64* running_value, u8 flags_mode,
                       u8 unique_values) {
    Scope* members = enum_type->member_scope;
    Identifier* base = get_resolved_type(enum_type->element_type);
    if (!(first->kind & TOKEN_DOLLAR)) {
        return report(first, "Enum members must be marked as constant. To do so prepend '$' to the member name, e.g. $SOME_VALUE;.");
    }
    Token* name = first->next;
    if (name == semicolon || !(name->kind & TOKEN_IDENTIFIER)) {
        print_error_on_token(name, "Expected a member name but got '%s' instead.", token_to_c_string(name));
        return false;
    }
    String name_text = {name->text, (s64)name->length};
    Identifier* same_value = 0;
    for (Identifier* other = (Identifier*)members->constants.first_element; other; other = other->next) {
        if (strings_equal(other->name, name_text)) {
            print_error_on_token(name, "'%s' was previously declared in enum '%s'.", token_to_c_string(name), enum_name(enum_type));
            return false;
        }
        if (unique_values && !same_value && other->constant_value.constant.data == *running_value) same_value = other;
    }
    Identifier* member = add_identifier(members, name->text, name->length, IDENTIFIER_KIND_CONSTANT, name->location);
    if (!member) return false;
    member->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
    member->type = base;

    u64 value = *running_value;
    Token* value_token = 0;  // the first token of an explicit value
    Token* after = name->next;
    if (after != semicolon) {
        if (!(after->kind & TOKEN_COLON)) {
            return report(after, "This does not look like an enum member declaration. Did you forget to put a ':' after the "
                                 "member name? (Note that you cannot execute instructions inside an enum.)");
        }
        Token* next = after->next;
        Token* assignment = 0;
        if ((next->kind & TOKEN_IDENTIFIER) && next != semicolon) {
            Identifier* given = get_identifier_with_error(members, next, 0);
            if (!given) return false;
            if (!types_perfectly_match(get_resolved_type(given), base)) {
                print_error_on_token(next, "Enum '%s' is based on type '%s' but you are using type '%s'.", enum_name(enum_type),
                                     type_to_c_string(base), token_to_c_string(next));
                return false;
            }
            Token* following = next->next;
            if (following != semicolon) {
                if (!((following->kind & TOKEN_OPERATOR) && following->value == OP_ASSIGN)) return report(following, "This is unexpected.");
                assignment = following;
            }
        } else if (next->kind & TOKEN_OPERATOR) {
            if (next->value != OP_ASSIGN) {
                print_error_on_token(next, "You cannot use operator '%s' here as this is supposed to be an enum member declaration.",
                                     token_to_c_string(next));
                return false;
            }
            assignment = next;
        } else {
            print_error_on_token(next, "Expected ';', '?' or an explicit type but got '%s' instead.", token_to_c_string(next));
            return false;
        }
        if (assignment) {
            value_token = assignment->next;
            if (!evaluate_member_value(members, member, base, assignment, semicolon, &value)) return false;
            member->type = base;
        }
    }
    if (!value_token && same_value) {
        print_error_on_token(name, "The infered value of member '%s' (0x%llx) is already in use by member '%s'.",
                             token_to_c_string(name), (unsigned long long)value, to_tmp_c_string(same_value->name));
        return false;
    }
    Token* at = value_token ? value_token : name;
    if (flags_mode && (value & (value - 1))) {
        print_error_on_token(at, "0x%llx is not a valid flag value.", (unsigned long long)value);
        return false;
    }
    if (!check_range(base, value, at)) return false;
    if (value_token && unique_values) {
        for (Identifier* other = (Identifier*)members->constants.first_element; other != member; other = other->next) {
            if (other->constant_value.constant.data == value) {
                print_error_on_token(at, "Value 0x%llx is already in use by member '%s'.", (unsigned long long)value,
                                     to_tmp_c_string(other->name));
                return false;
            }
        }
    }
    make_constant_value_from_integer(&member->constant_value, value, enum_type, name->location);
    *running_value = flags_mode ? (value ? value * 2 : 1) : value + 1;
    return true;
}

// "#if c { ... } else if c { ... } else { ... }": the first block whose condition holds
// declares its members; the others are skipped unread.
static b8 parse_if_chain(Identifier* enum_type, Token* directive, Token* end, u64* running_value, u8 flags_mode,
                         u8 unique_values, Token** next) {
    Identifier* b8_type = get_basic_type(BASIC_TYPE_B8);
    b8 taken = false;
    for (Token* head = directive;;) {
        Token* opener = find_block_opener(head->next, end);
        if (opener == head->next) return report(directive, "Did you forget to specify a condition?");
        if (!opener || !(opener->kind & TOKEN_OPEN_BRACE)) {
            return report(directive, "Did you forget to associate a code block with this statement?");
        }
        Token* closing = (Token*)opener->value;
        if (!taken) {
            Value condition;
            if (!parse_simple_statement(enum_type->member_scope, head->next, opener, b8_type, 0, 0, 1, &condition) ||
                !check_constant_condition(&condition)) {
                return false;
            }
            if (constant_is_non_zero(&condition.constant)) {
                taken = true;
                if (!parse_enum_body(enum_type, opener->next, closing, running_value, flags_mode, unique_values)) return false;
            }
        }
        *next = closing->next;
        Token* else_token = closing->next;
        if (at_end(else_token, end) || !is_keyword(else_token, STR("else"))) return true;
        Token* following = else_token->next;
        if (!at_end(following, end) && is_keyword(following, STR("if"))) {
            head = following;
            continue;
        }
        if (at_end(following, end) || !(following->kind & TOKEN_OPEN_BRACE)) {
            return report(else_token, "else statements cannot contain a condition.");
        }
        Token* else_closing = (Token*)following->value;
        if (!taken && !parse_enum_body(enum_type, following->next, else_closing, running_value, flags_mode, unique_values)) {
            return false;
        }
        *next = else_closing->next;
        if (!at_end(*next, end) && is_keyword(*next, STR("else"))) {
            return report(*next, "This else statement does not seem to be part of any #if statement.");
        }
        return true;
    }
}

b8 parse_enum_body(Identifier* enum_type, Token* first, Token* end, u64* running_value, u8 flags_mode, u8 unique_values) {
    if (end && (end->kind & TOKEN_SEMICOLON)) end = end->next;
    for (Token* token = first; !at_end(token, end);) {
        if (token->kind & TOKEN_DIRECTIVE) {
            if (!token_is_word(token, STR("#if"))) {
                print_error_on_token(token, "Directive '%s' is unknown or not supported here.", token_to_c_string(token));
                return false;
            }
            if (!parse_if_chain(enum_type, token, end, running_value, flags_mode, unique_values, &token)) return false;
            continue;
        }
        Token* semicolon = find_member_end(token, end);
        if (!semicolon) {
            return report(token, "Enum members are declared like struct members. You can omit the type and assignment entirely. "
                                 "In any case a declaration must end with a ';'.");
        }
        if (!parse_member(enum_type, token, semicolon, running_value, flags_mode, unique_values)) return false;
        token = semicolon->next;
    }
    return true;
}
