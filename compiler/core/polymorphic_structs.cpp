// Instances of polymorphic structs. Each list of arguments makes one ordinary struct, named
// by the polymorphic struct and the arguments' texts and found by that name afterwards, so
// the name must tell any two different arguments apart: numbers are printed whole, reals
// exactly, strings quoted. An instance whose body failed stays under its name, marked, so
// no later use gets a half-made type.
#include <string.h>

#include "compiler/core/compiler_core.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

//~ Instance names

// A string argument between quotes, its quotes, backslashes and control octets escaped.
static String quoted_text(u8* text, u64 length) {
    u8* out = tmp_allocate(length * 4 + 2);
    if (!out) return String{};
    u64 n = 0;
    out[n++] = '"';
    for (u64 i = 0; i < length; i++) {
        u8 c = text[i];
        if (c == '"' || c == '\\') {
            out[n++] = '\\';
            out[n++] = c;
        } else if (c < 0x20 || c == 0x7F) {
            static const char DIGITS[] = "0123456789abcdef";
            out[n++] = '\\';
            out[n++] = 'x';
            out[n++] = (u8)DIGITS[c >> 4];
            out[n++] = (u8)DIGITS[c & 15];
        } else {
            out[n++] = c;
        }
    }
    out[n++] = '"';
    return String{out, (s64)n};
}

String constant_to_key_text(Value* argument) {
    Constant* constant = &argument->constant;
    u64 mask = constant->mask;
    Identifier* type = (mask & CONSTANT_TYPED) ? constant->type : 0;
    if (type && type == get_basic_type(BASIC_TYPE_TYPE)) return type_to_string((Identifier*)constant->data);
    if (mask & CONSTANT_REAL) {
        f64 real;
        memcpy(&real, &constant->data, sizeof(real));
        return tstring_small("%.17g", real);
    }
    if (mask & CONSTANT_INTEGER) {
        Identifier* base = type ? get_enum_base(type) : 0;
        b8 is_signed = base ? (base->pointer_depth || (base->flags & TYPE_SIGNED)) : !(mask & CONSTANT_UNSIGNED);
        return is_signed ? tstring_small("%lld", (long long)constant->data)
                         : tstring_small("%llu", (unsigned long long)constant->data);
    }
    if (mask & CONSTANT_STRING) return quoted_text((u8*)constant->data, constant->length);
    return constant_to_string(argument);
}

// "P(a, b)" in temporary memory; empty after the out-of-memory report.
static String make_instance_name(Identifier* polymorphic, Value* arguments, u32 count) {
    String text = string_concat2("%(", polymorphic->name);
    for (u32 i = 0; i < count && text.data; i++) {
        String argument = constant_to_key_text(&arguments[i]);
        if (!argument.data && argument.count) text = String{};
        else text = string_concat2(i ? "%, %" : "%%", text, argument);
    }
    if (text.data) text = string_concat2("%)", text);
    if (!text.data) report_out_of_compiler_memory("temporary memory");
    return text;
}

//~ Instances

// The parameter takes its argument: a type parameter becomes another name for the type it
// was given, any other keeps its declared type.
static Identifier* bind_parameter(Scope* members, Identifier* parameter, Value* argument) {
    Identifier* bound = add_identifier(members, parameter->name.data, (u64)parameter->name.count,
                                       IDENTIFIER_KIND_POLYMORPHIC_PARAMETER, parameter->declaration);
    if (!bound) return 0;
    Identifier* type_type = get_basic_type(BASIC_TYPE_TYPE);
    Constant* constant = &argument->constant;
    if (parameter->type == type_type && (constant->mask & CONSTANT_TYPED) && constant->type == type_type && constant->data) {
        copy_type_aliasing_stuff(bound, (Identifier*)constant->data, 1);
    } else {
        bound->type = parameter->type;
        bound->self = bound;
        bound->leaf_type = parameter->type;
    }
    bound->flags |= IDENTIFIER_CONSTANT | IDENTIFIER_DECLARED;
    bound->constant_value = *argument;
    bound->constant_value.source = parameter->declaration;
    return bound;
}

Identifier* make_struct_from_polymorphic_using_arguments(Identifier* polymorphic, Scope* scope, Value* arguments,
                                                         String name, Trace use) {
    Scope* parameters = polymorphic->member_scope;
    u32 count = parameters ? parameters->parameters.count : 0;
    u64 used = tmp_get_used();
    b8 made_name = !name.data;
    if (made_name) {
        name = make_instance_name(polymorphic, arguments, count);
        if (!name.data) return 0;
    }
    Identifier* instance = get_identifier(scope, name.data, (u64)name.count);
    if (instance) {
        tmp_set_used(used);
        return (instance->flags & IDENTIFIER_DECLARATION_FAILED) ? 0 : instance;
    }
    if (!polymorphic->body_token) {
        tmp_set_used(used);
        print_error_on_trace(use, "'%.*s' has no body to make an instance of.", (int)polymorphic->name.count,
                             (char*)polymorphic->name.data);
        return 0;
    }
    String copy = made_name ? copy_to_compiler_static_strings(name) : name;
    tmp_set_used(used);
    if (!copy.data) return 0;
    // Used inside a struct's body, an instance stands outside the struct: one instance for
    // one argument list, not one per struct, and a name that does not carry the struct's.
    while (made_name && scope->parent && (scope->flags & SCOPE_STRUCT_MEMBERS)) scope = scope->parent;

    instance = add_identifier(scope, copy.data, (u64)copy.count, IDENTIFIER_KIND_CONSTANT, use);
    if (!instance) return 0;
    instance->flags = TYPE_STRUCT | IDENTIFIER_CONSTANT;
    instance->type = get_basic_type(BASIC_TYPE_TYPE);
    instance->self = instance;
    instance->leaf_type = instance;
    instance->polymorphic_origin = polymorphic;
    instance->type_info_index = 0xFFFFFFFFu;
    // The body sees the scope the instance stands in, so an instance used inside its own body
    // (through an address) is found there rather than made again.
    Scope* members = _add_a_scope(scope, SCOPE_STRUCT_MEMBERS, use);
    if (!members) return 0;
    members->owner = instance;
    instance->member_scope = members;
    set_type_constant_value(instance);

    u32 i = 0;
    b8 laid_out = true;
    for (Identifier* p = (Identifier*)parameters->parameters.first_element; p && laid_out; p = p->next, i++) {
        laid_out = bind_parameter(members, p, &arguments[i]) != 0;
    }
    if (laid_out && enter_type_nesting(use)) {
        Struct_Layout layout = {0, 1, 0};
        Token* block = polymorphic->body_token;
        laid_out = parse_struct_body(instance, block->next, (Token*)block->value, STRUCT_BODY_WHOLE, &layout);
        leave_type_nesting();
    } else {
        laid_out = false;
    }
    if (!laid_out) {
        instance->flags |= IDENTIFIER_DECLARATION_FAILED;
        return 0;
    }
    instance->flags |= IDENTIFIER_DECLARED;
    return instance;
}

// The argument of one parameter, evaluated as a constant of its type.
static b8 evaluate_argument(Scope* scope, Identifier* parameter, Token* first, Token* end, Value* out) {
    if (!parser_routines.parse_assignment_value(scope, ASSIGNMENT_POLYMORPHIC_ARGUMENT, 1, parameter->type, first, end,
                                                out)) {
        return false;
    }
    if (!(out->kind & VALUE_CONSTANT)) {
        print_error_on_token(first, "This expression does not appear to be constant.");
        return false;
    }
    return !parameter->type || cast_constant_to_type(out, parameter->type, out)->kind;
}

static b8 take_default(Identifier* parameter, Token* at, Value* out) {
    if (!parameter->constant_value.kind) {
        print_error_on_token(at, "Parameter '%.*s' does not have a default value.", (int)parameter->name.count,
                             (char*)parameter->name.data);
        return false;
    }
    *out = parameter->constant_value;
    return true;
}

Identifier* make_struct_from_polymorphic(Identifier* polymorphic, Scope* scope, Token* open, Token* end) {
    Scope* members = polymorphic->member_scope;
    u32 count = members ? members->parameters.count : 0;
    u64 used = tmp_get_used();
    // One block, aligned for the values: temporary memory hands out octets.
    u8* block = tmp_allocate((u64)count * (sizeof(Value) + sizeof(Identifier*) + 1) + 16);
    if (!block) {
        tmp_set_used(used);
        report_out_of_compiler_memory("temporary memory");
        return 0;
    }
    Value* arguments = (Value*)(((u64)block + 15) & ~15ull);
    Identifier** parameters = (Identifier**)(arguments + count);
    b8* given = (b8*)(parameters + count);
    memset(given, 0, count);
    u32 n = 0;
    for (Identifier* p = members ? (Identifier*)members->parameters.first_element : 0; p; p = p->next) parameters[n++] = p;

    Token* closing = (Token*)open->value;
    b8 ok = true;
    u32 position = 0;
    for (Token* piece = open->next; ok && piece != closing;) {
        Token* comma = get_first_token_like_bounded(piece, TOKEN_COMMA, closing);
        Token* piece_end = comma ? comma : closing;
        Token* equals = piece != piece_end ? piece->next : 0;
        if (piece != piece_end && (piece->kind & TOKEN_IDENTIFIER) && equals && equals != piece_end &&
            (equals->kind & TOKEN_OPERATOR) && equals->value == OP_ASSIGN) {
            u32 index = 0;
            while (index < count && !token_is_word(piece, parameters[index]->name)) index++;
            if (index == count) {
                print_error_on_token(piece, "There is no polymorphic parameter named '%s' in struct '%.*s'.",
                                     token_to_c_string(piece), (int)polymorphic->name.count, (char*)polymorphic->name.data);
                ok = false;
            } else {
                ok = evaluate_argument(scope, parameters[index], equals->next, piece_end, &arguments[index]);
                given[index] = true;
            }
        } else if (position >= count) {
            print_error_on_token(piece == piece_end ? piece_end : piece, "Polymorphic '%.*s' has only %lld parameters.",
                                 (int)polymorphic->name.count, (char*)polymorphic->name.data, (long long)count);
            ok = false;
        } else {
            Identifier* parameter = parameters[position];
            ok = piece == piece_end ? take_default(parameter, piece_end, &arguments[position])
                                    : evaluate_argument(scope, parameter, piece, piece_end, &arguments[position]);
            given[position++] = true;
        }
        if (!comma) break;
        piece = comma->next;
        // "P(a, )": nothing between the last comma and the ')' asks for a default too.
        if (piece == closing && ok) {
            if (position >= count) {
                print_error_on_token(closing, "Polymorphic '%.*s' has only %lld parameters.", (int)polymorphic->name.count,
                                     (char*)polymorphic->name.data, (long long)count);
                ok = false;
            } else {
                ok = take_default(parameters[position], closing, &arguments[position]);
                given[position++] = true;
            }
        }
    }
    for (u32 i = 0; ok && i < count; i++) {
        if (!given[i]) ok = take_default(parameters[i], closing, &arguments[i]);
    }
    Identifier* instance = 0;
    if (ok) {
        Trace use = make_trace_from_tokens(open, closing);
        instance = make_struct_from_polymorphic_using_arguments(polymorphic, scope, arguments, String{}, use);
    }
    tmp_set_used(used);
    return instance;
}
