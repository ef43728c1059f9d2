// The parser's routines the core calls: a declaration parsed on its first use, the values
// and #if conditions of a struct body, an array type's count, an enum's body, the defaults
// of new variables. The parser stands above the core, so it fills this record at start-up
// (connect_parser_routines), before the first compile; until then every entry is null.
#pragma once

#include "compiler/core/core_records.h"

struct Comparison_Result;

struct Parser_Routines {
    b8 (*parse_sub_program_declaration)(Scope* scope, Sub_Program* sub_program, Token* first, Token* end);
    b8 (*handle_declaration_assignment)(Scope* scope, Identifier* identifier, u8 constant, Identifier* declared_type,
                                        Token* assignment, Token* end);
    b8 (*set_dynamic_default_value)(Scope* scope, u32 depth, Value* value);
    b8 (*instruction_take_address)(Scope* scope, Value* result, Value* operand);
    b8 (*parse_simple_statement)(Scope* scope, Token* first, Token* end, Identifier* expected,
                                 Comparison_Result* comparison, u8 flags, u8 constant, Value* out);
    b8 (*parse_assignment_value)(Scope* scope, u8 flags, u8 constant, Identifier* expected_type, Token* first,
                                 Token* end, Value* out);
    Identifier* (*preparse_sub_program_param)(Sub_Program* sub_program, Token* first, Token* end);
    b8 (*parse_enum_body)(Identifier* enum_type, Token* first, Token* end, u64* running_value, u8 flags_mode,
                          u8 unique_values);
};

extern Parser_Routines parser_routines;
