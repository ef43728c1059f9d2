// Weak stand-ins for the parser, type and register routines that scopes.cpp calls on the
// first use of a preparsed global. They do the least a first use needs: count the parse,
// optionally look a name up from inside it, and succeed or fail with one report.
#include "stand_ins.h"

#include <string.h>

Stand_In_Control stand_in_control;

void reset_stand_ins() { memset(&stand_in_control, 0, sizeof(stand_in_control)); }

static b8 stand_in_parse(Scope* scope, Identifier* identifier) {
    stand_in_control.declarations_parsed++;
    if (stand_in_control.look_up_while_parsing) {
        stand_in_control.seen_while_parsing = get_identifier_with_error(scope, stand_in_control.look_up_while_parsing, 0);
    }
    if (stand_in_control.fail) {
        print_error_on_trace(identifier->declaration, "The stand-in declaration failed.");
        return false;
    }
    return true;
}

#define WEAK __attribute__((weak))

WEAK b8 parse_sub_program_declaration(Scope* scope, Sub_Program* sub_program, Token*, Token*) {
    return stand_in_parse(scope, sub_program);
}

WEAK b8 parse_struct_declaration(Scope* scope, Identifier* identifier, Token*, Token*) {
    return stand_in_parse(scope, identifier);
}

WEAK b8 parse_enum_declaration(Scope* scope, Identifier* identifier, Token*, u8) {
    return stand_in_parse(scope, identifier);
}

WEAK b8 handle_declaration_assignment(Scope* scope, Identifier* identifier, u8, Identifier*, Token*, Token*) {
    return stand_in_parse(scope, identifier);
}

// Types are resolved by name among the global constants: enough for "u8" and the like.
WEAK b8 parse_type(Scope* scope, Identifier** result, Token* first, Token* end, Token** stop, u8, Identifier*,
                   Sub_Program*) {
    Identifier* type = get_identifier(scope, first->text, first->length);
    if (!type) {
        print_error_on_token(first, "Expected a type but got '%s' instead.", token_to_c_string(first));
        return false;
    }
    *result = type;
    *stop = first->next;
    return true;
}

WEAK void set_dynamic_default_value(Scope*, u32, Value*) {}

WEAK Identifier* get_struct_member_from_string(Identifier*, String) { return 0; }

// Registers are numbered in a table of their own, so a test can tell them apart.
WEAK Register_Id allocate_a_register(Scope*, u32 size, Identifier*, u32 alignment) {
    Register* row = (Register*)dynamic_array_add_fast(&global_compiler_state.global_registers);
    if (!row) return INVALID_REGISTER_ID;
    memset(row, 0, sizeof(*row));
    row->kind = REGISTER_GLOBAL_DATA;
    row->size = size;
    row->alignment = alignment;
    return Register_Id{0, global_compiler_state.global_registers.count - 1, REGISTER_GLOBAL_DATA, REGISTER_GLOBAL_DATA, {0, 0}};
}

WEAK Register_Id allocate_within_register(Register_Id, u64, u32) { return INVALID_REGISTER_ID; }
WEAK u8* get_register_global_data(Register_Id) { return 0; }
WEAK u8* get_register_constant_data(Register_Id) { return stand_in_control.constant_data; }
WEAK Relocation* add_a_relocation(Register_Id, Register_Id, u8) { return 0; }
