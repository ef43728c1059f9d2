// The statement builder and the expression parser of this test program, in place of the
// stand-ins that report every statement: just enough to drive the global worklists, the
// finishing of sub-program bodies and the pipeline's use of "inject.8".
#include "parser_test_helpers.h"

//~ Values

// An integer literal, a #code block, or the name of a global whose recorded value is one
// of those; a global variable gives a value that is not constant.
static Identifier test_code_type;

static b8 make_code_value(Token* code_directive, Value* out) {
    Compiler_State* state = &global_compiler_state;
    if (!state->basic_types[BASIC_TYPE_CODE]) state->basic_types[BASIC_TYPE_CODE] = &test_code_type;
    out->kind = VALUE_CONSTANT;
    out->constant.mask = CONSTANT_TYPED_CODE;
    out->constant.type = state->basic_types[BASIC_TYPE_CODE];
    out->constant.data = (u64)code_directive->next;
    return true;
}

static b8 make_integer_value(Token* literal, Value* out) {
    out->kind = VALUE_CONSTANT;
    out->constant.mask = CONSTANT_UNSIGNED;
    out->constant.data = (u64)string_to_s64(String{literal->text, (s64)literal->length});
    return true;
}

b8 parse_assignment_value(Scope* scope, u8, u8, Identifier*, Token* first, Token* end, Value* out) {
    memset(out, 0, sizeof(*out));
    out->source = first->location;
    if (is_keyword(first, STR("#code"))) return make_code_value(first, out);
    if (first->next != end) {
        print_error_on_token(first, "The test cannot evaluate this.");
        return false;
    }
    if (first->kind & TOKEN_INTEGER_LITERAL) return make_integer_value(first, out);
    Identifier* name = get_identifier(scope, first->text, first->length);
    if (!name) {
        print_error_on_token(first, "'%s' was not previously declared.", token_to_c_string(first));
        return false;
    }
    if (!(name->flags & IDENTIFIER_CONSTANT)) {
        out->kind = VALUE_REGISTER;
        return true;
    }
    Token* value = name->pending_value_first->next;
    return is_keyword(value, STR("#code")) ? make_code_value(value, out) : make_integer_value(value, out);
}

//~ Statements

static Identifier* add_global(Scope* scope, const char* name, u64 flags) {
    Identifier* identifier = add_identifier(scope, (u8*)name, strlen(name), IDENTIFIER_KIND_CONSTANT, Trace{});
    identifier->flags = flags | IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
    return identifier;
}

// An enum type with members valued 0, 1, ..., and a constant of that type set to the first.
static void declare_target_enum(const char* type_name, const char* constant_name, std::vector<const char*> members) {
    Scope* global = global_compiler_state.global_scope;
    Identifier* type = add_global(global, type_name, TYPE_ENUM);
    type->member_scope = _add_a_scope(0, 0, Trace{});
    for (u64 i = 0; i < members.size(); i++) {
        Identifier* member = add_global(type->member_scope, members[i], 0);
        member->type = type;
        member->constant_value.kind = VALUE_CONSTANT;
        member->constant_value.constant.mask = CONSTANT_TYPED_UNSIGNED;
        member->constant_value.constant.type = type;
        member->constant_value.constant.data = i;
    }
    Identifier* constant = add_global(global, constant_name, 0);
    constant->type = type;
    constant->constant_value.constant.data = 0x5E7;  // overwritten by the pipeline
}

// `end_here;` (also after '$' or a quote) ends the body as a return does; `target_enums;`, `target_enums_without_linux;`
// and `support_types;` declare what "inject.8" must; any other statement is reported as
// the stand-in reports it.
b8 make_basic_instructions(Scope* scope, Token* first, Token*) {
    Token* name = first;
    while (name->kind & (TOKEN_DOLLAR | TOKEN_QUOTE)) name = name->next;
    if (is_keyword(name, STR("end_here"))) return append_scope_instruction(scope, INSTRUCTION_END, scope, first->location);
    b8 without_linux = is_keyword(first, STR("target_enums_without_linux"));
    if (without_linux || is_keyword(first, STR("target_enums"))) {
        declare_target_enum("__Platform", "COMPILER_TARGET_PLATFORM", {"BYTECODE", "AMD64"});
        if (without_linux) declare_target_enum("__OS", "COMPILER_TARGET_OS", {"WINDOWS", "MACOS"});
        else declare_target_enum("__OS", "COMPILER_TARGET_OS", {"WINDOWS", "LINUX", "MACOS"});
        return true;
    }
    if (is_keyword(first, STR("support_types"))) {
        for (const char* name : {"__Array", "__Fixed_Size_Array", "Code"}) add_global(scope, name, TYPE_STRUCT);
        return true;
    }
    print_error_on_token(first, "This is incorrect/not supported right now.");
    return false;
}
