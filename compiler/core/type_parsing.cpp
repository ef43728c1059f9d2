// Types written in source. A type is read left to right: address levels, then a name (with
// members and instance arguments after it), #type_of, an array, a '?' parameter or a
// signature. Every type made on the way is found or added by name, so parsing one text
// twice gives one type.
#include <string.h>

#include "compiler/core/compiler_core.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

static b8 is_dot(Token* token) { return (token->kind & TOKEN_BINARY_OPERATOR) && token->value == OP_DOT; }

static Token* last_token_before(Token* first, Token* end) {
    Token* last = first;
    while (last->next && last->next != end) last = last->next;
    return last;
}

static Trace range_trace(Token* first, Token* end) { return make_trace_from_tokens(first, last_token_before(first, end)); }

static char* identifier_c_name(Identifier* identifier) { return to_tmp_c_string(identifier->name); }

// Reports at the token, or without a location when the list ended.
static b8 report_at(Token* token, const char* message) {
    if (token) print_error_on_token(token, "%s", message);
    else print_error("%s", message);
    return false;
}

b8 enter_type_nesting(Trace at) {
    if (global_compiler_state.type_nesting >= TYPE_NESTING_MAX_DEPTH) {
        print_error_on_trace(at, "This type is nested too deeply.");
        return false;
    }
    global_compiler_state.type_nesting++;
    return true;
}

void leave_type_nesting() { global_compiler_state.type_nesting--; }

// levels '@', a blank and the text, as written types print.
static char* written_levels_c_string(u32 levels, String text) {
    u8 at_signs[TYPE_CHAIN_MAX_LENGTH + 1];
    u32 count = levels < sizeof(at_signs) - 1 ? levels : (u32)sizeof(at_signs) - 1;
    memset(at_signs, '@', count);
    at_signs[count] = ' ';
    String prefix = {at_signs, count ? (s64)count + 1 : 0};
    String text_joined = string_concat2("%%", prefix, text);
    return text_joined.data ? (char*)text_joined.data : (char*)"";
}

// The type over a named type's leaf with the written levels added to its own.
static b8 add_address_levels(Identifier** result, Identifier* type, u32 levels, Trace written) {
    u32 depth = levels + type->pointer_depth;
    if (depth > TYPE_CHAIN_MAX_LENGTH) {
        print_error_on_trace(written, "You cannot make a type that has more than %u addresses in a row pointing to each other.",
                             (u32)TYPE_CHAIN_MAX_LENGTH);
        return false;
    }
    Identifier* leaf = type->leaf_type ? type->leaf_type : type;
    *result = type_to_memory_address_of_type(leaf, (u8)depth);
    return *result != 0;
}

//~ After a type name

b8 parse_struct_dereference_in_type(Type_Dereference* result, Scope* scope, Identifier* name, u8 levels, Token* name_token,
                                    Token* end, b8 polymorphic_allowed, Identifier* expected) {
    result->type = name;
    result->last = name_token;
    result->done = false;
    Token* next = name_token->next;
    while (!at_end(next, end) && is_dot(next)) {
        if (!name->pointer_depth && (name->flags & TYPE_ENUM)) {
            return report_at(at_end(next->next, end) ? next : next->next,
                             "It looks like you are trying to use an enum value as a type.");
        }
        if ((name->flags & TYPE_STRUCT) && (name->flags & TYPE_POLYMORPHIC)) {
            print_error_on_token(result->last, "'%s' is polymorphic so you cannot dereference its members since they are unknown.",
                                 identifier_c_name(name));
            return false;
        }
        Token* member_token = next->next;
        if (at_end(member_token, end)) return report_at(next, "This looks incomplete.");
        if (!(member_token->kind & TOKEN_IDENTIFIER)) {
            print_error_on_token(member_token, "Expected an identifier but got '%s' instead.", token_to_c_string(member_token));
            return false;
        }
        Identifier* member = get_struct_member_from_token(name, member_token);
        if (!member) return false;
        name = member;
        result->type = member;
        result->last = member_token;
        next = member_token->next;
    }

    b8 polymorphic = (name->flags & TYPE_STRUCT) && (name->flags & TYPE_POLYMORPHIC);
    if (!at_end(next, end) && (next->kind & TOKEN_OPEN_PARENTHESIS)) {
        if (!polymorphic) {
            print_error_on_token(result->last, "'%s' is not a polymorphic struct.", identifier_c_name(name));
            return false;
        }
        Token* closing = (Token*)next->value;
        Identifier* instance = make_struct_from_polymorphic(name, scope, next, closing->next);
        if (!instance) return false;
        result->type = instance;
        result->last = closing;
        return true;
    }
    if (!polymorphic) return true;

    // A bare polymorphic name: open while a polymorphic signature is prepared, else any
    // instance of it given as the actual argument.
    result->done = true;
    if (polymorphic_allowed) {
        result->type = 0;
        return true;
    }
    if (!expected) {
        print_error_on_token(result->last, "'%s' is a polymorphic struct. Did you forget to give it arguments?",
                             identifier_c_name(name));
        return false;
    }
    Identifier* leaf = expected->leaf_type ? expected->leaf_type : expected;
    if (leaf->polymorphic_origin == name && expected->pointer_depth == levels) {
        result->type = expected;
        return true;
    }
    print_error_on_token(result->last, "Type '%s' is incompatible with '%s'.", type_to_c_string(expected),
                         written_levels_c_string(levels, name->name));
    return false;
}

// The type a name leads to, with the checks of a type used as it is written.
static b8 finish_named_type(Scope* scope, Identifier** result, Identifier* named, u32 levels, Token* first,
                            Token* name_token, Token* end, Token** stop, u8 options, Identifier* expected) {
    Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
    Token* last = name_token;
    Token* next = name_token->next;
    b8 dot_follows = !at_end(next, end) && is_dot(next);
    if (named->type == type_type || (dot_follows && named->type && (named->type->flags & TYPE_STRUCT))) {
        Type_Dereference dereference;
        Identifier* start = named->type == type_type ? named : named->type;
        if (!parse_struct_dereference_in_type(&dereference, scope, start, (u8)levels, name_token, end,
                                              (options & PARSE_TYPE_POLYMORPHIC_SIGNATURE) != 0, expected)) {
            return false;
        }
        *stop = dereference.last->next;
        if (dereference.done) {
            *result = dereference.type;
            return true;
        }
        named = dereference.type;
        last = dereference.last;
    }
    Token* after = last->next;
    *stop = after;
    // The name is only for the reports: made on each use, it would fill the temporary memory.
    if (named->type != type_type) {
        print_error_on_token(last, "'%s' does not appear to be a type.", identifier_c_name(named));
        return false;
    }
    if (!at_end(after, end) && (after->kind & (TOKEN_IDENTIFIER | TOKEN_AT))) {
        return report_at(after, "This type does not look correct.");
    }
    if (!(named->flags & IDENTIFIER_CONSTANT)) {
        print_error_on_token(last, "'%s' is not constant.", identifier_c_name(named));
        return false;
    }
    // A struct may hold the address of a struct still being declared, never the struct.
    if (!levels && !(named->flags & IDENTIFIER_DECLARED)) {
        print_error_on_token(last, "'%s' cannot be directly used here.", identifier_c_name(named));
        return false;
    }
    if (!named->pointer_depth && !(named->flags & TYPE_POLYMORPHIC) && !named->type_info && !named->type_info_index) {
        named->type_info_index = 0xFFFFFFFFu;
    }
    return add_address_levels(result, named, levels, make_trace_from_tokens(first, last));
}

//~ #type_of and the expression typer

Value* parse_type_of_directive(Value* out, Scope* scope, Token* directive, Token** after) {
    memset(out, 0, sizeof(*out));
    Token* open = directive->next;
    if (!open || !(open->kind & TOKEN_OPEN_PARENTHESIS)) {
        report_at(directive, "This directive is meant to be used this way: #type_of(<expression>).");
        return out;
    }
    Token* closing = (Token*)open->value;
    if (closing == open->next) {
        report_at(open, "Did you forget to specify an expression to get the type of?");
        return out;
    }
    if (!get_type_of_simple_expression(out, scope, open->next, closing)->kind) return out;
    out->source = make_trace_from_tokens(directive, closing);
    if (after) *after = closing->next;
    return out;
}

// Tokens that can never be part of a simple expression.
#define NOT_IN_SIMPLE_EXPRESSIONS \
    (TOKEN_OPERATOR | TOKEN_OPEN_BRACE | TOKEN_OPEN_PARENTHESIS | TOKEN_DOLLAR | TOKEN_QUOTE | TOKEN_QUESTION_MARK | \
     TOKEN_AT | TOKEN_DIRECTIVE | TOKEN_ARROW)

static Value* refuse_in_expression(Value* out, Token* token) {
    if (token->kind & NOT_IN_SIMPLE_EXPRESSIONS) {
        report_at(token, "This is unexpected in this context. Note that only simple expressions are allowed here "
                         "(simple literals, identifiers, struct and array dereferences).");
    } else {
        report_at(token, "This is unexpected here.");
    }
    out->kind = 0;
    return out;
}

static Identifier* get_literal_type(Token* token) {
    if (token->kind & TOKEN_UNSIGNED_INTEGER_LITERAL) return get_basic_type(BASIC_TYPE_U64);
    if (token->kind & TOKEN_SIGNED_INTEGER_LITERAL) return get_basic_type(BASIC_TYPE_S64);
    if (token->kind & TOKEN_REAL_LITERAL) return get_basic_type(BASIC_TYPE_F32);
    return get_basic_type(BASIC_TYPE_STRING);
}

Value* get_type_of_simple_expression(Value* out, Scope* scope, Token* first, Token* end) {
    memset(out, 0, sizeof(*out));
    if (at_end(first, end)) {
        report_at(first, "Did you forget to specify an expression to get the type of?");
        return out;
    }
    Token* token = first;
    b8 address = token->kind & TOKEN_AT;
    if (address) token = token->next;
    if (at_end(token, end)) {
        report_at(first, "Did you forget to specify an expression to get the type of?");
        return out;
    }

    Identifier* type;
    if (token->kind & TOKEN_LITERAL) {
        type = get_literal_type(token);
    } else if (token->kind & TOKEN_IDENTIFIER) {
        Identifier* identifier = get_identifier_with_error(scope, token, 0);
        if (!identifier) return out;
        if (!(identifier->flags & IDENTIFIER_DECLARED)) {
            print_error_on_token(token, "'%s' is not fully declared.", token_to_c_string(token));
            return out;
        }
        type = identifier->type;
    } else {
        return refuse_in_expression(out, token);
    }

    for (token = token->next; !at_end(token, end); token = token->next) {
        if (!type) return refuse_in_expression(out, token);
        if (is_dot(token)) {
            Token* name = token->next;
            if (at_end(name, end)) return refuse_in_expression(out, token);
            if (name->kind & TOKEN_LITERAL) {
                report_at(name, "You cannot dereference a literal from a struct.");
                return out;
            }
            if (!(name->kind & TOKEN_IDENTIFIER)) return refuse_in_expression(out, name);
            if (!(type->flags & TYPE_STRUCT)) {
                print_error_on_token(name, "Type '%s' does not appear to be a struct.", type_to_c_string(type));
                return out;
            }
            String member_name = {name->text, (s64)name->length};
            Identifier* member = get_struct_member_from_string(type, member_name);
            if (!member) {
                print_error_on_token(name, "Struct '%s' has no member named '%s'.", type_to_c_string(type),
                                     token_to_c_string(name));
                return out;
            }
            type = member->type;
            token = name;
        } else if (token->kind & TOKEN_OPEN_BRACKET) {
            if (type->pointer_depth) type = type_to_dereference_of_type(type);
            else if (type->flags & TYPE_ARRAY) type = type->element_type;
            else if (type->flags & TYPE_STRING) type = get_basic_type(BASIC_TYPE_U8);
            else {
                print_error_on_token(token, "Type '%s' is not a memory address, an array or a string.", type_to_c_string(type));
                return out;
            }
            token = (Token*)token->value;
        } else if (token->kind & (TOKEN_IDENTIFIER | TOKEN_LITERAL)) {
            const char* format = at_end(token->next, end) ? "Is this '%s' superfluous?" : "Expected an operator but got '%s' instead.";
            print_error_on_token(token, format, token_to_c_string(token));
            return out;
        } else {
            return refuse_in_expression(out, token);
        }
    }
    if (!type) {
        report_at(first, "This is unexpected here.");
        return out;
    }
    if (address && !(type = type_to_memory_address_of_type(type, 1))) return out;
    return make_constant_value_from_type(out, type, range_trace(first, end));
}

//~ parse_type

static b8 parse_array_type(Scope* scope, Identifier** result, Token* first, Token* open, u32 levels, Token* end,
                           Token** stop, u8 options, Identifier* expected) {
    Token* closing = (Token*)open->value;
    Value count;
    memset(&count, 0, sizeof(count));
    if (closing != open->next) {
        Identifier* u64_type = get_basic_type(BASIC_TYPE_U64);
        if (!parser_routines.parse_simple_statement(scope, open->next, closing, u64_type, 0, 0, 1, &count)) {
            return false;
        }
        if (!(count.kind & VALUE_CONSTANT)) return report_at(open->next, "This expression does not appear to be constant.");
        if (!cast_constant_to_type(&count, u64_type, &count)->kind) return false;
    }
    Token* after = closing->next;
    b8 expected_array = expected && (expected->flags & TYPE_ARRAY) && expected->pointer_depth == levels;
    if (at_end(after, end)) {
        *stop = after;
        if (options & PARSE_TYPE_POLYMORPHIC_SIGNATURE) return true;
        if (expected_array) {
            *result = expected;
            return true;
        }
        if (expected) {
            Trace written = range_trace(first, end);
            print_error_on_trace(written, "Type '%s' is incompatible with '%s'.", type_to_c_string(expected),
                                 to_tmp_c_string(String{written.text_start, (s64)written.length}));
            return false;
        }
        return report_at(closing, "Expected a type.");
    }
    Identifier* element = 0;
    u8 element_options = PARSE_TYPE_NO_SUB_PROGRAM | (options & PARSE_TYPE_POLYMORPHIC_SIGNATURE);
    if (!parse_type(scope, &element, after, end, stop, element_options, expected_array ? expected->element_type : 0, 0)) {
        return false;
    }
    if (!element) return true;
    Trace written = range_trace(first, *stop);
    Identifier* array = get_or_add_array_type_from(element, written, count.kind ? &count : 0);
    return array && add_address_levels(result, array, levels, written);
}

// '?T': a name for the actual argument's type, or what is left of it below the written levels.
static b8 parse_polymorphic_parameter_type(Scope* scope, Identifier** result, Token* first, Token* question, u32 levels,
                                           Token* end, Token** stop, u8 options, Identifier* expected) {
    Token* name = question->next;
    if (at_end(name, end) || !(name->kind & TOKEN_IDENTIFIER)) {
        Token* at = at_end(name, end) ? question : name;
        print_error_on_token(at, "Expected an identifier but got '%s' instead.", token_to_c_string(at));
        return false;
    }
    *stop = name->next;
    if (options & PARSE_TYPE_POLYMORPHIC_SIGNATURE) return true;
    if (!expected) {
        print_error_on_token(question, "Expected a type but got '%s' instead.", token_to_c_string(question));
        return false;
    }
    Identifier* leaf = expected->leaf_type ? expected->leaf_type : expected;
    if (levels && levels != expected->pointer_depth) {
        Identifier* written = type_to_memory_address_of_type(leaf, (u8)(levels < TYPE_CHAIN_MAX_LENGTH ? levels : TYPE_CHAIN_MAX_LENGTH));
        print_error_on_trace(make_trace_from_tokens(first, name), "Type '%s' is incompatible with '%s'.",
                             type_to_c_string(expected), type_to_c_string(written));
        return false;
    }
    Identifier* bound = type_to_memory_address_of_type(leaf, (u8)(expected->pointer_depth - levels));
    Identifier* alias = bound ? add_identifier_with_error(scope, name, IDENTIFIER_KIND_CONSTANT) : 0;
    if (!alias) return false;
    copy_type_aliasing_stuff(alias, bound, 1);
    alias->flags |= IDENTIFIER_CONSTANT | IDENTIFIER_DECLARED;
    make_constant_value_from_type(&alias->constant_value, bound, make_trace_from_token(name));
    *result = expected;
    return true;
}

static b8 parse_type_at(Scope* scope, Identifier** result, Token* first, Token* end, Token** stop, u8 options,
                        Identifier* expected, Sub_Program* sub_program) {
    if (first->kind & TOKEN_OPEN_PARENTHESIS) {
        if (options & PARSE_TYPE_NO_SUB_PROGRAM) return report_at(first, "You cannot use sub-program types here.");
        if (!sub_program) {
            sub_program = add_identifier(scope, (u8*)"", 0, IDENTIFIER_KIND_CONSTANT, make_trace_from_token(first));
            if (!sub_program) return false;
        }
        if (!parse_sub_program_signature(scope, sub_program, first, end, stop)) return false;
        *result = sub_program;
        return true;
    }
    u32 levels = 0;
    Token* token = first;
    while (!at_end(token, end) && (token->kind & TOKEN_AT)) {
        levels++;
        token = token->next;
    }
    if (at_end(token, end)) {
        return report_at(first, "You cannot use a memory address without indicating the type of the value it points to.");
    }
    if (token->kind & TOKEN_OPEN_BRACKET) {
        return parse_array_type(scope, result, first, token, levels, end, stop, options, expected);
    }
    if (token->kind & TOKEN_IDENTIFIER) {
        Identifier* named = get_identifier_with_error(scope, token, 0);
        return named && finish_named_type(scope, result, named, levels, first, token, end, stop, options, expected);
    }
    if (token->kind & TOKEN_DIRECTIVE) {
        if (!token_is_word(token, STR("#type_of"))) return report_at(token, "This directive does not exist or is not supported here.");
        Value typed;
        Token* after = 0;
        if (!parse_type_of_directive(&typed, scope, token, &after)->kind) return false;
        Identifier* type = (Identifier*)typed.constant.data;
        Token* closing = (Token*)token->next->value;
        *stop = after;
        if (!at_end(after, end) && is_dot(after)) {
            Type_Dereference dereference;
            if (!parse_struct_dereference_in_type(&dereference, scope, type, (u8)levels, closing, end, false, expected)) {
                return false;
            }
            *stop = dereference.last->next;
            if (dereference.done) {
                *result = dereference.type;
                return true;
            }
            return finish_named_type(scope, result, dereference.type, levels, first, dereference.last,
                                     end, stop, options, expected);
        }
        if (!at_end(after, end) && (after->kind & (TOKEN_IDENTIFIER | TOKEN_AT))) {
            return report_at(after, "This type does not look correct.");
        }
        return add_address_levels(result, type, levels, make_trace_from_tokens(first, closing));
    }
    if (token->kind & TOKEN_QUESTION_MARK) {
        return parse_polymorphic_parameter_type(scope, result, first, token, levels, end, stop, options, expected);
    }
    print_error_on_token(token, "Expected a type but got '%s' instead.", token_to_c_string(token));
    return false;
}

b8 parse_type(Scope* scope, Identifier** result, Token* first, Token* end, Token** stop, u8 options,
              Identifier* expected, Sub_Program* sub_program) {
    *result = 0;
    Token* local_stop;
    if (!stop) stop = &local_stop;
    *stop = first;
    if (at_end(first, end)) return report_at(end, "Expected a type.");
    if (!enter_type_nesting(make_trace_from_token(first))) return false;
    b8 parsed = parse_type_at(scope, result, first, end, stop, options, expected, sub_program);
    leave_type_nesting();
    if (!parsed) *result = 0;
    return parsed;
}
