// Directives that stand as statements: the compile-time #if chain and #insert, whose code
// joins the current scope as if written in place; #assert; #machine_code, whose constant
// becomes octets embedded in the code; and #load_file, which only the preparse performs.
#include <string.h>

#include "compiler/parser/parser.h"

static Identifier* get_basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static b8 require_constant(Value* value) {
    if (value->kind & VALUE_CONSTANT) return true;
    print_error_on_trace(value->source, "This expression does not appear to be constant.");
    return false;
}

// A constant condition: parsed, checked, and tested as a run-time condition would be.
static b8 get_constant_truth(Scope* scope, Token* first, Token* end, b8* truth, Value* value) {
    if (!parse_simple_statement(scope, first, end, get_basic_type(BASIC_TYPE_B8), 0, 0, 1, value) ||
        !require_constant(value) || !check_constant_condition(value)) {
        return false;
    }
    *truth = constant_is_non_zero(&value->constant);
    return true;
}

//~ #if

b8 compile_static_if(Scope* scope, Token* directive, Token* end, u8 constant_return_only, Token** next, b8* ends_walk) {
    b8 taken = false;
    for (Token* head = directive;;) {
        Token* opener = find_block_opener(head->next, end);
        if (!opener) {
            print_error_on_token(head, "It looks like you did not provide a block of code associated with this statement.");
            return false;
        }
        if (opener == head->next) {
            print_error_on_token(head, "It looks like you did not provide a constant condition to assess.");
            return false;
        }
        Token* closing = get_block_end(opener, end);
        b8 truth;
        Value condition;
        if (!closing || !get_constant_truth(scope, head->next, opener, &truth, &condition)) return false;
        if (truth && !taken) {
            taken = true;
            if (!compile_block_in_place(scope, opener->next, closing, constant_return_only, ends_walk)) return false;
        }

        *next = closing->next;
        Token* else_token = closing->next;
        if (!else_token || else_token == end || !is_keyword(else_token, STR("else"))) return true;
        Token* following = else_token->next;
        if (following && following != end && is_keyword(following, STR("if"))) {
            head = following;
            continue;
        }
        Token* else_opener = find_block_opener(following, end);
        if (!else_opener) {
            print_error_on_token(else_token, "It looks like you did not provide a block of code associated with this statement.");
            return false;
        }
        if (else_opener != following) {
            print_error_on_token(following, "else statements do not take conditions.");
            return false;
        }
        Token* else_closing = get_block_end(else_opener, end);
        if (!else_closing) return false;
        *next = else_closing->next;
        return taken || compile_block_in_place(scope, else_opener->next, else_closing, constant_return_only, ends_walk);
    }
}

//~ #insert

static u32 insert_nesting;  // #insert blocks being compiled inside each other

b8 insert_code_block(Scope* scope, Token* opener, Trace at, u8 constant_return_only, b8* ends_walk) {
    if (insert_nesting >= INSERT_NESTING_LIMIT) {
        print_error_on_trace(at, "It looks like #insert is nested more than %u levels deep. Is a Code constant inserting itself?",
                             INSERT_NESTING_LIMIT);
        return false;
    }
    Token* closing = get_block_end(opener, 0);
    if (!closing) return false;
    insert_nesting++;
    b8 ok = compile_block_in_place(scope, opener->next, closing, constant_return_only, ends_walk);
    insert_nesting--;
    return ok;
}

b8 compile_insert(Scope* scope, Token* directive, Token* end, u8 constant_return_only, Token** next, b8* ends_walk) {
    Token* semicolon = find_statement_semicolon(directive->next, end);
    if (!semicolon) {
        print_error_on_token(directive, "Did you forget a ';' to end directive #insert?");
        return false;
    }
    if (semicolon == directive->next) {
        print_error_on_token(directive, "It seems that you do not specify a code block to insert here.");
        return false;
    }
    *next = semicolon;
    Value code;
    if (!parse_assignment_value(scope, 0, 1, get_basic_type(BASIC_TYPE_CODE), directive->next, semicolon, &code) ||
        !require_constant(&code)) {
        return false;
    }
    Identifier* code_type = get_basic_type(BASIC_TYPE_CODE);
    Token* opener = (Token*)code.constant.data;
    if (!code_type || code.constant.type != code_type || !opener || !(opener->kind & (TOKEN_OPEN_BRACE | TOKEN_COLON))) {
        print_error_on_trace(code.source, "Expected a value of type 'Code' to insert.");
        return false;
    }
    return insert_code_block(scope, opener, code.source, constant_return_only, ends_walk);
}

//~ #assert

b8 compile_assert(Scope* scope, Token* directive, Token* end, Token** next) {
    Token* open = directive->next;
    Token* closing = open && open != end && (open->kind & TOKEN_OPEN_PARENTHESIS) ? (Token*)open->value : 0;
    Token* comma = closing ? get_first_token_like_bounded(open->next, TOKEN_COMMA, closing) : 0;
    if (!closing || open->next == (comma ? comma : closing)) {
        print_error_on_token(directive, "Expected an expression to assert, e.g. #assert(45 != 2, \"Error message!\");");
        return false;
    }
    b8 truth;
    Value condition;
    if (!get_constant_truth(scope, open->next, comma ? comma : closing, &truth, &condition)) return false;
    String message = {};
    if (comma) {
        if (comma->next == closing) {
            print_error_on_token(comma, "Is this an extraneous ','?");
            return false;
        }
        Identifier* string_type = get_basic_type(BASIC_TYPE_STRING);
        Value text;
        if (!parse_simple_statement(scope, comma->next, closing, string_type, 0, 0, 1, &text) || !require_constant(&text) ||
            !cast_value_to_type(&text, scope, string_type, &text)->kind) {
            return false;
        }
        message = String{(u8*)text.constant.data, (s64)text.constant.length};
    }
    *next = closing->next;
    if (truth) return true;
    if (scope->flags & SCOPE_IN_SUB_PROGRAM && scope->sub_program) {
        Sub_Program* sub_program = scope->sub_program;
        print_error_on_trace(condition.source, "Assertion failed!\nin %.*s\n%.*s", (int)sub_program->name.count,
                             (char*)sub_program->name.data, (int)message.count, (char*)message.data);
    } else {
        print_error_on_trace(condition.source, "Assertion failed!\n%.*s", (int)message.count, (char*)message.data);
    }
    return false;
}

//~ #machine_code

// An array constant's elements: the constant relocation that points its data member
// somewhere gives where.
static u8* get_constant_array_elements(Register_Id array, Identifier* data_member) {
    u64 place = get_register_offset_in_constant_data(array) + data_member->member_offset;
    Dynamic_Array* relocations = &global_compiler_state.constant_relocations;
    for (u32 i = 0; i < relocations->count; i++) {
        Relocation* relocation = (Relocation*)relocations->data + i;
        if (relocation->where_area != REGISTER_CONSTANT_DATA && relocation->where_area != REGISTER_TYPE_DATA) continue;
        if (get_register_offset_in_constant_data(relocation->where) == place) return get_register_constant_data(relocation->target);
    }
    return 0;
}

// The octets a constant embeds, or false after a report.
static b8 get_machine_code_octets(Value* value, String* octets) {
    Constant* constant = &value->constant;
    static u8 scratch[8];
    if (constant->mask & CONSTANT_REAL) {
        f64 real;
        memcpy(&real, &constant->data, sizeof(real));
        f32 narrow = (f32)real;
        memcpy(scratch, &narrow, sizeof(narrow));
        *octets = String{scratch, 4};
        return true;
    }
    Identifier* own = (constant->mask & CONSTANT_TYPED) ? get_resolved_type(constant->type) : 0;
    b8 number = !own || own->pointer_depth || (own->flags & (TYPE_UNSIGNED | TYPE_SIGNED | TYPE_BOOLEAN | TYPE_ENUM));
    if ((constant->mask & CONSTANT_INTEGER) && number) {
        u32 size = constant->size == 1 || constant->size == 2 || constant->size == 4 ? constant->size : 8;
        for (u32 i = 0; i < size; i++) scratch[i] = (u8)(constant->data >> (i * 8));
        *octets = String{scratch, size};
        return true;
    }
    if (constant->mask & CONSTANT_STRING) {
        *octets = String{(u8*)constant->data, (s64)constant->length};
        return true;
    }
    Identifier* type = (constant->mask & CONSTANT_TYPE_INFO) ? get_resolved_type(constant->further_type) : 0;
    u8* data = type && !type->pointer_depth ? maybe_get_register_constant_data(constant->register_id) : 0;
    if (data && (type->flags & (TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY))) {
        Identifier* data_member = get_struct_member_from_string(type, STR("data"));
        Identifier* count_member = get_struct_member_from_string(type, STR("count"));
        u8* elements = data_member && count_member ? get_constant_array_elements(constant->register_id, data_member) : 0;
        if (elements && type->element_type) {
            s64 count;
            memcpy(&count, data + count_member->member_offset, sizeof(count));
            *octets = String{elements, count * (s64)type->element_type->size};
            return true;
        }
    } else if (data && (type->flags & TYPE_STRUCT)) {
        *octets = String{data, (s64)type->size};
        return true;
    }
    print_error_on_trace(value->source, "This constant cannot be embedded as machine code.");
    return false;
}

b8 compile_machine_code(Scope* scope, Token* directive, Token* end, Token** next) {
    if (!scope->parent) {
        print_error_on_token(directive, "You cannot use directive #machine_code in global scope.");
        return false;
    }
    Token* semicolon = find_statement_semicolon(directive->next, end);
    if (!semicolon) {
        print_error_on_token(directive, "Did you forget a ';' to end this directive?");
        return false;
    }
    if (semicolon == directive->next) {
        print_error_on_token(directive, "Did you forget to specify machine code to embed?");
        return false;
    }
    *next = semicolon;
    Value value;
    String octets;
    if (!parse_assignment_value(scope, 0, 1, 0, directive->next, semicolon, &value) || !require_constant(&value) ||
        !get_machine_code_octets(&value, &octets)) {
        return false;
    }
    String kept = octets.count ? copy_to_compiler_static_strings(octets) : octets;
    if (octets.count && !kept.data) return false;
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_MACHINE_CODE);
    if (!instruction) return false;
    Instruction_Machine_Code* operands = get_instruction_machine_code(instruction);
    operands->location = value.source;
    operands->octets = kept.data;
    operands->count = (u32)kept.count;
    return true;
}

//~ #load_file

b8 compile_load_file(Scope* scope, Token* directive) {
    if (scope->parent) {
        print_error_on_token(directive,
                             "Directive #load_file must be used in global scope. This may change in future versions of the compiler.");
    } else {
        // Only the preparse of the user's files loads; a support source cannot.
        print_error_on_token(directive, "Directive '%s' is not supported or cannot be used here.", token_to_c_string(directive));
    }
    return false;
}
