// The statement driver. Each statement is recognised by its first token and handed to the
// routine that builds it; statement and block ends come from the tokeniser's links, never
// from counting brackets. The first error ends the walk of every enclosing block, and a
// block left by an error still gets its scope end.
#include <stddef.h>
#include <string.h>

#include "compiler/parser/parser.h"

//~ Statement ends

b8 is_keyword(Token* token, String word) {
    return token->length == (u64)word.count && memcmp(token->text, word.data, token->length) == 0;
}

Token* get_instruction_end(Token* token) { return token ? get_first_token_like(token, TOKEN_SEMICOLON) : 0; }

Token* get_block_end(Token* opener, Token* end) {
    Token* closing = (Token*)opener->value;
    if (opener->kind & TOKEN_OPEN_BRACE) return closing;
    // The tokeniser links every ':' to the next ';' of the file, which may lie past the
    // closer of the group the ':' stands in: then the ':' opens no block.
    for (Token* token = opener->next; token && closing; token = token->next) {
        if (token == closing) return closing;
        if (token == end || (token->kind & TOKEN_SCOPE_END)) break;
        if (token->kind & TOKEN_SCOPE_START) token = (Token*)token->value;
    }
    print_error_on_token(opener, "There is no corresponding ';' for this ':'.");
    return 0;
}

Scope* get_first_loop_scope_from(Scope* scope) {
    while (scope && !(scope->flags & SCOPE_LOOP)) scope = scope->parent;
    return scope;
}

//~ Instructions

static Trace location_of(Token* token) { return token ? token->location : Trace{}; }

b8 append_scope_instruction(Scope* scope, u8 kind, Scope* named, Trace location) {
    Instruction* instruction = allocate_an_instruction(scope, kind);
    if (!instruction) return false;
    Instruction_Scope* operands = get_instruction_scope(instruction);
    operands->scope = named;
    operands->location = location;
    return true;
}

b8 insert_for_loop_iteration_instructions(Scope* scope, Scope* iteration_scope) {
    for (Instruction* source = (Instruction*)iteration_scope->instructions.first_element; source; source = source->next) {
        Instruction* copy = allocate_an_instruction(scope, source->kind);
        if (!copy) return false;
        memcpy(copy->operands, source->operands, get_instruction_size(source->kind) - offsetof(Instruction, operands));
    }
    return true;
}

b8 insert_code_from_identifier(Scope* scope, Identifier* code, u8 constant_return_only) {
    b8 ends_walk = false;
    return insert_code_block(scope, (Token*)code->constant_value.constant.data, code->declaration, constant_return_only,
                             &ends_walk);
}

//~ Statements

enum Statement_Keyword : u8 {
    KEYWORD_IF, KEYWORD_FOR, KEYWORD_ELSE, KEYWORD_WHILE, KEYWORD_BREAK, KEYWORD_SWITCH, KEYWORD_RETURN,
    KEYWORD_CONTINUE, KEYWORD_DEBUG_BREAK, KEYWORD_NONE,
};

static const String STATEMENT_KEYWORDS[KEYWORD_NONE] = {
    STR("if"), STR("for"), STR("else"), STR("while"), STR("break"), STR("switch"), STR("return"), STR("continue"),
    STR("debug_break"),
};

static Statement_Keyword get_statement_keyword(Token* token) {
    u32 k = 0;
    while (k < KEYWORD_NONE && !is_keyword(token, STATEMENT_KEYWORDS[k])) k++;
    return (Statement_Keyword)k;
}

static b8 report_not_supported(Token* token) {
    print_error_on_token(token, "This is incorrect/not supported right now.");
    return false;
}

static b8 compile_simple_statement(Scope* scope, Token* first, Token** next) {
    Token* end = get_instruction_end(first);
    if (!end) {
        print_error_on_token(first, "It seems that a ';' is missing to end this instruction.");
        return false;
    }
    *next = end;
    return make_basic_instructions(scope, first, end);
}

static b8 compile_keyword_statement(Scope* scope, Token* token, Statement_Keyword keyword, Token* end, u8 constant_return_only,
                                     Token** next, b8* ends_walk) {
    switch (keyword) {
        case KEYWORD_IF: return compile_if_chain(scope, token, end, constant_return_only, next);
        case KEYWORD_FOR: return compile_for_loop(scope, token, end, constant_return_only, next);
        case KEYWORD_ELSE:
            print_error_on_token(token, "This 'else' statement does not seem to be part of an if/else statements chain.");
            return false;
        case KEYWORD_WHILE: return compile_while_loop(scope, token, end, constant_return_only, next);
        case KEYWORD_SWITCH: return compile_switch(scope, token, end, constant_return_only, next);
        case KEYWORD_BREAK:
        case KEYWORD_CONTINUE:
            *ends_walk = true;
            return compile_loop_jump(scope, token, end, keyword == KEYWORD_BREAK ? LOOP_JUMP_BREAK : LOOP_JUMP_CONTINUE,
                                     constant_return_only, next);
        case KEYWORD_RETURN:
            *ends_walk = true;
            return compile_return(scope, token, end, constant_return_only, next);
        case KEYWORD_DEBUG_BREAK:
            if (!scope->parent) return report_global_instruction(token);
            if (!check_for_instruction_end_after(token)) return false;
            *next = token->next;
            return append_scope_instruction(scope, INSTRUCTION_DEBUG_BREAK, 0, token->location);
        case KEYWORD_NONE: break;
    }
    return report_not_supported(token);
}

static b8 compile_anonymous_block(Scope* scope, Token* opener, u8 constant_return_only, Token** next) {
    if (!scope->parent) {
        print_error_on_token(opener, "You cannot declare an anonymous scope in global scope.");
        return false;
    }
    Token* closing = (Token*)opener->value;
    Scope* block = _add_a_scope(scope, SCOPE_ANONYMOUS_BLOCK, opener->location);
    if (!block || !append_scope_instruction(scope, INSTRUCTION_NESTED_SCOPE, block, opener->location)) return false;
    *next = closing->next;
    return make_instructions_in_scope(block, opener->next, closing, 0, constant_return_only);
}

struct Entry_Block_Texts {
    String directive;
    const char* outside_global_scope;
    const char* declared_twice;
    const char* without_block;  // may name the directive
};

static const Entry_Block_Texts ENTRY_BLOCK_TEXTS[] = {
    {STR("#on_load"), "You must be at global scope level to declare an #on_load block.",
     "An #on_load block has already been declared.", "Expected a code block after directive %s."},
    {STR("#events"), "You must be at global scope level to declare an #events block.",
     "An #events block has already been declared.", "Expected a code block after directive %s."},
    {STR("#syntax"), "You must be at global scope level to declare a syntax highlighting block.",
     "A #syntax block has already been declared.",
     "The compiler expected a block of code after this to determine how to perform syntax highlighting."},
};

static b8 compile_entry_block(Scope* scope, Token* directive, u32 which, Token* end, Token** next) {
    const Entry_Block_Texts* texts = &ENTRY_BLOCK_TEXTS[which];
    Compiler_State* state = &global_compiler_state;
    Scope** entry = which == 0 ? &state->on_load_scope : which == 1 ? &state->events_scope : &state->syntax_scope;
    if (scope->parent) {
        print_error_on_token(directive, "%s", texts->outside_global_scope);
        return false;
    }
    if (*entry) {
        print_error_on_token(directive, "%s", texts->declared_twice);
        return false;
    }
    Token* opener = directive->next;
    if (!opener || opener == end || !(opener->kind & (TOKEN_OPEN_BRACE | TOKEN_COLON))) {
        print_error_on_token(directive, texts->without_block, token_to_c_string(directive));
        return false;
    }
    Token* closing = get_block_end(opener, end);
    if (!closing) return false;
    *next = closing->next;
    return compile_entry_point(entry, opener);
}

static b8 compile_directive(Scope* scope, Token* directive, Token* end, u8 constant_return_only, Token** next,
                             b8* ends_walk) {
    for (u32 which = 0; which < ARRAY_COUNT(ENTRY_BLOCK_TEXTS); which++) {
        if (is_keyword(directive, ENTRY_BLOCK_TEXTS[which].directive)) {
            return compile_entry_block(scope, directive, which, end, next);
        }
    }
    if (is_keyword(directive, STR("#if"))) return compile_static_if(scope, directive, end, constant_return_only, next, ends_walk);
    if (is_keyword(directive, STR("#defer"))) return compile_defer(scope, directive, end, next);
    if (is_keyword(directive, STR("#insert"))) return compile_insert(scope, directive, end, constant_return_only, next, ends_walk);
    if (is_keyword(directive, STR("#assert"))) return compile_assert(scope, directive, end, next);
    if (is_keyword(directive, STR("#machine_code"))) return compile_machine_code(scope, directive, end, next);
    if (is_keyword(directive, STR("#load_file"))) return compile_load_file(scope, directive);
    print_error_on_token(directive, "Directive '%s' is not supported or cannot be used here.", token_to_c_string(directive));
    return false;
}

// Names start statements: a '$' declares a constant, a ' reaches an outer scope.
#define NAME_TOKEN_KINDS (TOKEN_IDENTIFIER | TOKEN_DOLLAR | TOKEN_QUOTE)

static b8 compile_statement(Scope* scope, Token* token, Token* end, u8 constant_return_only, Token** next, b8* ends_walk) {
    if (token->kind & NAME_TOKEN_KINDS) {
        Statement_Keyword keyword = (token->kind & TOKEN_IDENTIFIER) ? get_statement_keyword(token) : KEYWORD_NONE;
        if (keyword == KEYWORD_NONE) return compile_simple_statement(scope, token, next);
        return compile_keyword_statement(scope, token, keyword, end, constant_return_only, next, ends_walk);
    }
    if (token->kind & TOKEN_OPEN_BRACE) return compile_anonymous_block(scope, token, constant_return_only, next);
    if (token->kind & TOKEN_DIRECTIVE) return compile_directive(scope, token, end, constant_return_only, next, ends_walk);
    return report_not_supported(token);
}

//~ The driver

// A sub-program body with a result must end with a return: only its own last instruction
// counts, so a final if/else whose branches both return is reported too.
static b8 check_for_final_return(Scope* scope, Token* end) {
    Sub_Program* sub_program = scope->sub_program;
    Identifier* result = sub_program ? sub_program->element_type : 0;
    if (!result || (result->flags & TYPE_VOID)) return true;
    Instruction* last = get_last_instruction(scope);
    if (last && (last->kind == INSTRUCTION_END || last->kind == INSTRUCTION_RETURN_JUMP)) return true;
    print_error_on_trace(location_of(end),
                         "It appears that you are not returning a value here. Sub-program %.*s must return a value of type %s.",
                         (int)sub_program->name.count, (char*)sub_program->name.data, type_to_c_string(result));
    return false;
}

static b8 finish_scope(Scope* scope, Token* end, u8 constant_return_only) {
    b8 body = (scope->flags & SCOPE_SUB_PROGRAM_BODY) != 0;
    if (body && !check_for_final_return(scope, end)) return false;
    if (!(scope->flags & SCOPE_DEFERS_REPLAYED) && scope->deferred_blocks.count &&
        !handle_deferred_blocks(scope, 0, constant_return_only)) {
        return false;
    }
    Instruction* last = get_last_instruction(scope);
    if (body && !(scope->flags & SCOPE_INLINED) && (!last || last->kind != INSTRUCTION_END)) {
        return append_scope_instruction(scope, INSTRUCTION_END, scope, location_of(end));
    }
    return true;
}

// The statement loop. A return, break or continue ends it: what follows in the block is
// neither compiled nor read.
static b8 compile_statements(Scope* scope, Token* first, Token* end, u8 constant_return_only, b8* ends_walk) {
    for (Token* token = first; token && token != end;) {
        if (token->kind & TOKEN_SEMICOLON) {
            token = token->next;
            continue;
        }
        Token* next = 0;
        if (!compile_statement(scope, token, end, constant_return_only, &next, ends_walk)) return false;
        if (*ends_walk) return true;
        token = next;
    }
    return true;
}

b8 compile_block_in_place(Scope* scope, Token* first, Token* end, u8 constant_return_only, b8* ends_walk) {
    return compile_statements(scope, first, end, constant_return_only, ends_walk);
}

b8 make_instructions_in_scope(Scope* scope, Token* first, Token* end, u8 continuation, u8 constant_return_only) {
    b8 opens_scope = !continuation && scope->parent;
    if (opens_scope && !append_scope_instruction(scope, INSTRUCTION_SCOPE_START, scope, location_of(first))) return false;
    b8 opened_here = !(scope->flags & SCOPE_UNDER_CONSTRUCTION);
    scope->flags |= SCOPE_UNDER_CONSTRUCTION;

    b8 ends_walk = false;
    b8 ok = compile_statements(scope, first, end, constant_return_only, &ends_walk);
    if (ok && !continuation) ok = finish_scope(scope, end, constant_return_only);

    if (opened_here) {
        dynamic_array_free(&scope->deferred_blocks);
        scope->flags &= ~SCOPE_UNDER_CONSTRUCTION;
        // A block left by an error is closed all the same.
        if (opens_scope && !append_scope_instruction(scope, INSTRUCTION_SCOPE_END, scope, location_of(first))) return false;
    }
    return ok;
}
