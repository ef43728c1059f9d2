// The preparse of the user's global scope. It reads each statement's first tokens only:
// bracketed groups, blocks and declaration bodies are jumped over through the tokeniser's
// links, so a global that is never used costs no parsing. Control statements are refused
// here; global code runs only in the entry blocks.
#include <string.h>

#include "compiler/parser/parser.h"

struct Global_Refusal {
    String word;
    const char* message;
};

static const Global_Refusal GLOBAL_REFUSALS[] = {
    {STR("if"), "You cannot use if statements in global scope."},
    {STR("for"), "You cannot use for statements in global scope."},
    {STR("else"), "This else statement does not seem to be part of an #if statement chain."},
    {STR("break"), "You cannot use break statements in global scope."},
    {STR("while"), "You cannot use while statements in global scope."},
    {STR("switch"), "You cannot use switch statements in global scope."},
    {STR("return"), "You cannot use return statements in global scope."},
    {STR("continue"), "You cannot use continue statements in global scope."},
};

#define BLOCK_OPENER (TOKEN_OPEN_BRACE | TOKEN_COLON)

static b8 opens_block(Token* token, Token* end) { return token && token != end && (token->kind & BLOCK_OPENER); }

// Where the preparse of a block's content stops. A ':' block's ';' also ends the one
// declaration in it, so the walk takes the ';' in.
static Token* get_content_end(Token* opener, Token* closing) {
    return (opener->kind & TOKEN_COLON) ? closing->next : closing;
}

//~ Worklists

void init_global_worklists(Global_Worklists* worklists) {
    init_dynamic_array(&worklists->chains, sizeof(Global_If_Chain));
    init_dynamic_array(&worklists->inserts, sizeof(Global_Insert));
    init_dynamic_array(&worklists->asserts, sizeof(Token*));
}

void empty_global_worklists(Global_Worklists* worklists) {
    for (u32 i = 0; i < worklists->chains.count; i++) {
        dynamic_array_free(&((Global_If_Chain*)worklists->chains.data)[i].pairs);
    }
    worklists->chains.count = 0;
    worklists->inserts.count = 0;
}

void free_global_worklists(Global_Worklists* worklists) {
    empty_global_worklists(worklists);
    dynamic_array_free(&worklists->chains);
    dynamic_array_free(&worklists->inserts);
    dynamic_array_free(&worklists->asserts);
}

//~ Directives

// left + "/" + right, without the "/" when left is empty or already ends with one.
static String join_path(String left, String right) {
    if (!left.count) return string_concat2("%", right);
    if (left.data[left.count - 1] == '/') return string_concat2("%%", left, right);
    return string_concat2("%/%", left, right);
}

static b8 preparse_load_file(Scope* scope, Token* directive, Token* end, Global_Worklists* worklists,
                             Entry_Blocks* entry_blocks, String directory, Token** next) {
    Token* literal = directive->next;
    if (!literal || literal == end || !(literal->kind & TOKEN_STRING_LITERAL)) {
        print_error_on_token(directive, "The compiler expected a literal string representing a filepath after #load_file.");
        return false;
    }
    String text = {literal->text, (s64)literal->length};
    s64 separator = text.count - 1;
    while (separator >= 0 && text.data[separator] != '/' && text.data[separator] != '\\') separator--;

    String new_directory, path;
    if (text.count && text.data[0] == '/') {
        // An absolute path stands as written; its own directory serves its #load_files.
        path = string_concat2("%", text);
        new_directory = separator > 0 ? String{path.data, separator} : STR("/");
    } else if (separator > 0) {
        new_directory = join_path(directory, String{text.data, separator});
        path = join_path(new_directory, String{text.data + separator + 1, text.count - separator - 1});
    } else {
        new_directory = directory;
        path = join_path(directory, text);
    }
    if (!path.data || !new_directory.data) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    if (!compiler_load_and_preparse_file(path.data, (u64)path.count, scope, worklists, entry_blocks, new_directory,
                                         directive->location)) {
        return false;
    }
    if (!literal->next || !(literal->next->kind & TOKEN_SEMICOLON)) {
        print_error_on_token(literal, "Did you forget a ';' after the filepath to end the #load_file directive?");
        return false;
    }
    *next = literal->next;
    return true;
}

static b8 preparse_if_chain(Token* directive, Token* end, Global_Worklists* worklists, String directory, Token** next) {
    Global_If_Chain* chain = (Global_If_Chain*)dynamic_array_add_fast(&worklists->chains);
    if (!chain) {
        report_out_of_compiler_memory("global #if chains");
        return false;
    }
    memset(chain, 0, offsetof(Global_If_Chain, directory));
    init_dynamic_array(&chain->pairs, sizeof(Global_If_Pair));
    if ((u64)directory.count > GLOBAL_IF_CHAIN_DIRECTORY_CAPACITY) {
        print_error_on_token(directive, "The directory '%.*s' is too long.", (int)directory.count, (char*)directory.data);
        return false;
    }
    chain->directory_length = (u16)directory.count;
    if (directory.count) memcpy(chain->directory, directory.data, (u64)directory.count);

    for (Token* head = directive;;) {
        Token* opener = get_first_token_like_bounded(head->next, BLOCK_OPENER, end);
        if (!opener) {
            print_error_on_token(head, "Did you forget to associate a code block to this if statement?");
            return false;
        }
        if (opener == head->next) {
            print_error_on_token(head, "Did you forget to specify a condition for this if statement?");
            return false;
        }
        Global_If_Pair* pair = (Global_If_Pair*)dynamic_array_add_fast(&chain->pairs);
        if (!pair) {
            report_out_of_compiler_memory("global #if chains");
            return false;
        }
        *pair = Global_If_Pair{head->next, opener};
        Token* closing = get_block_end(opener, end);
        if (!closing) return false;

        Token* after = closing->next;
        if (!after || after == end || !is_keyword(after, STR("else"))) {
            *next = after;
            return true;
        }
        Token* following = after->next;
        if (following && following != end && is_keyword(following, STR("if"))) {
            head = following;
            continue;
        }
        if (!opens_block(following, end)) {
            const char* got = following && following != end ? token_to_c_string(following) : "the end of the code";
            print_error_on_token(after, "Expected a block of code associated with this else statement but got '%s' instead.",
                                 got);
            return false;
        }
        closing = get_block_end(following, end);
        if (!closing) return false;
        chain->else_block = following;
        *next = closing->next;
        return true;
    }
}

// The opening token of a Code constant's block, or null after a report.
static Token* get_code_block_opener(Value* value) {
    if (!(value->kind & VALUE_CONSTANT)) {
        print_error_on_trace(value->source, "This expression does not appear to be constant.");
        return 0;
    }
    Identifier* code = global_compiler_state.basic_types[BASIC_TYPE_CODE];
    Token* opener = (Token*)value->constant.data;
    if (!code || value->constant.type != code || !opener || !(opener->kind & BLOCK_OPENER)) {
        print_error_on_trace(value->source, "Expected a value of type 'Code' to insert.");
        return 0;
    }
    return opener;
}

static b8 preparse_code_block(Scope* scope, Value* code, Global_Worklists* worklists, Entry_Blocks* entry_blocks,
                              String directory) {
    Token* opener = get_code_block_opener(code);
    if (!opener) return false;
    Token* closing = get_block_end(opener, 0);
    return closing &&
           preparse_global_scope(scope, opener->next, get_content_end(opener, closing), worklists, entry_blocks, directory);
}

static b8 preparse_insert(Scope* scope, Token* directive, Global_Worklists* worklists, Entry_Blocks* entry_blocks,
                          String directory, Token** next) {
    Token* stop = directive->next ? get_first_token_like(directive->next, TOKEN_SEMICOLON) : 0;
    if (!stop) {
        print_error_on_token(directive, "Did you forget a ';'?");
        return false;
    }
    if (stop == directive->next) {
        print_error_on_token(directive, "Did you forget to specify code to insert?");
        return false;
    }
    *next = stop;
    if (is_keyword(directive->next, STR("#code"))) {
        Value code;
        return parse_assignment_value(scope, 0, 0, global_compiler_state.basic_types[BASIC_TYPE_CODE], directive->next,
                                      stop, &code) &&
               preparse_code_block(scope, &code, worklists, entry_blocks, directory);
    }
    Global_Insert* insert = (Global_Insert*)dynamic_array_add_fast(&worklists->inserts);
    if (!insert) {
        report_out_of_compiler_memory("global #insert directives");
        return false;
    }
    *insert = Global_Insert{directive, stop};
    return true;
}

// Checked once the worklists are done, as it may name what an #if or #insert declares.
static b8 preparse_assert(Token* directive, Token* end, Global_Worklists* worklists, Token** next) {
    Token* open = directive->next;
    if (!open || open == end || !(open->kind & TOKEN_OPEN_PARENTHESIS) || !open->value) {
        print_error_on_token(directive, "Expected an expression to assert, e.g. #assert(45 != 2, \"Error message!\");");
        return false;
    }
    Token** slot = (Token**)dynamic_array_add_fast(&worklists->asserts);
    if (!slot) {
        report_out_of_compiler_memory("global #assert directives");
        return false;
    }
    *slot = directive;
    *next = ((Token*)open->value)->next;
    return true;
}

struct Entry_Directive {
    String name;
    u8 slot;  // in Entry_Blocks, in order
};

static const Entry_Directive ENTRY_DIRECTIVES[] = {{STR("#on_load"), 0}, {STR("#events"), 1}, {STR("#syntax"), 2}};

static b8 preparse_entry_block(Token* directive, u8 slot, Token* end, Entry_Blocks* entry_blocks, Token** next) {
    Token** recorded = slot == 0 ? &entry_blocks->on_load : slot == 1 ? &entry_blocks->events : &entry_blocks->syntax;
    Compiler_State* state = &global_compiler_state;
    Scope* built[] = {state->on_load_scope, state->events_scope, state->syntax_scope};
    char* name = token_to_c_string(directive);
    // A support source may have built one already.
    if (*recorded || built[slot]) {
        print_error_on_token(directive, "The %s entry point already exists.", name);
        return false;
    }
    *recorded = directive;
    Token* opener = directive->next;
    if (!opens_block(opener, end)) {
        print_error_on_token(directive, "Did you forget to specify a code block associated with the %s entry point?", name);
        return false;
    }
    Token* closing = get_block_end(opener, end);
    if (!closing) return false;
    *next = closing->next;
    return true;
}

static b8 preparse_directive(Scope* scope, Token* directive, Token* end, Global_Worklists* worklists,
                             Entry_Blocks* entry_blocks, String directory, Token** next) {
    if (is_keyword(directive, STR("#if"))) return preparse_if_chain(directive, end, worklists, directory, next);
    if (is_keyword(directive, STR("#insert"))) {
        return preparse_insert(scope, directive, worklists, entry_blocks, directory, next);
    }
    if (is_keyword(directive, STR("#assert"))) return preparse_assert(directive, end, worklists, next);
    if (is_keyword(directive, STR("#load_file"))) {
        return preparse_load_file(scope, directive, end, worklists, entry_blocks, directory, next);
    }
    for (const Entry_Directive& entry : ENTRY_DIRECTIVES) {
        if (is_keyword(directive, entry.name)) return preparse_entry_block(directive, entry.slot, end, entry_blocks, next);
    }
    print_error_on_token(directive, "Directive %s is either unsupported or cannot be used in this context.",
                         token_to_c_string(directive));
    return false;
}

//~ Declarations

// Sub-programs and enums are constants given a body with '='.
struct Body_Rule {
    const char* not_constant;
    const char* without_body;
};

static const Body_Rule SUB_PROGRAM_RULE = {
    "For now sub-programs must be constant. This will change in future versions of the compiler.",
    "You must assign a block of code to this sub-program using the '=' operator.",
};
static const Body_Rule ENUM_RULE = {"Enums must be constant.", "You must assign a body to this enum using the '=' operator."};

// One walk over the declaration, bracketed groups jumped over: its ';', which must come
// before the next '$', a closing bracket or the end, and its first assignment operator.
static Token* get_declaration_end(Token* first, Token* end, Token** assignment) {
    *assignment = 0;
    for (Token* token = first->next; token && token != end; token = token->next) {
        if (token->kind & TOKEN_SEMICOLON) return token;
        if (token->kind & (TOKEN_DOLLAR | TOKEN_SCOPE_END)) return 0;
        if (!*assignment && (token->kind & TOKEN_OPERATOR) && (token->value & OP_ASSIGN)) *assignment = token;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return 0;
}

static b8 preparse_declaration(Scope* scope, Token* first, Token* end, Token** next) {
    Token* assignment;
    Token* semicolon = get_declaration_end(first, end, &assignment);
    if (!semicolon) {
        print_error_on_token(first, "All declarations must end with a ';'.");
        return false;
    }
    b8 constant = (first->kind & TOKEN_DOLLAR) != 0;
    Token* name = first;
    if (constant) {
        name = first->next;
        if (!(name->kind & TOKEN_IDENTIFIER)) {
            print_error_on_token(name, "Expected an identifier but got '%s' instead.", token_to_c_string(name));
            return false;
        }
    }

    if (assignment && assignment->value != OP_ASSIGN) {
        print_error_on_token(assignment,
                             "You cannot reassign a value in global scope so only the '=' operator can be used for assignments.");
        return false;
    }
    Token* colon = name->next;
    if (!(colon->kind & TOKEN_COLON)) {
        char* text = token_to_c_string(name);
        print_error_on_token(colon,
                             "Expected a ':' but got '%s' instead. A declaration can take the following forms:\n%s: <type>;\n"
                             "%s: <type> = <value>;\n%s := <value>;",
                             token_to_c_string(colon), text, text, text);
        return false;
    }

    Token* type_first = colon->next;
    Declaration_Kind kind = DECLARATION_VARIABLE;
    const Body_Rule* rule = 0;
    if (type_first->kind & TOKEN_OPEN_PARENTHESIS) {
        kind = DECLARATION_SUB_PROGRAM;
        rule = &SUB_PROGRAM_RULE;
    } else if (is_keyword(type_first, STR("#enum")) || is_keyword(type_first, STR("#enum_flags"))) {
        kind = DECLARATION_ENUM;
        rule = &ENUM_RULE;
    } else if (is_keyword(type_first, STR("#struct"))) {
        kind = DECLARATION_STRUCT;
    }
    if (rule && (!constant || !assignment)) {
        print_error_on_token(name, "%s", constant ? rule->without_body : rule->not_constant);
        return false;
    }

    Identifier* identifier = get_identifier(scope, name->text, name->length);
    if (identifier) {
        print_error_on_token(name, "'%s' is already declared.", token_to_c_string(name));
        return false;
    }
    identifier = add_identifier(scope, name->text, name->length,
                                constant ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE, name->location);
    if (!identifier) return false;

    // The type runs to the '=' or, without one, to the ';'. A struct without '=' keeps its
    // tokens too, so its first use reports what is wrong with it.
    Token* type_end = assignment ? assignment : semicolon;
    if (type_first != type_end) {
        identifier->pending_type_first = type_first;
        identifier->pending_type_end = type_end;
    }
    if (assignment) {
        identifier->pending_value_first = assignment;
        identifier->pending_value_end = semicolon;
    }
    identifier->declaration_kind = kind;
    identifier->flags |= IDENTIFIER_DECLARED | IDENTIFIER_PENDING | (constant ? IDENTIFIER_CONSTANT : 0);
    *next = semicolon;
    return true;
}

//~ The pass

b8 preparse_global_scope(Scope* scope, Token* first, Token* end, Global_Worklists* worklists, Entry_Blocks* entry_blocks,
                         String directory) {
    Token* token = first;
    while (token && token != end) {
        if (token->kind & TOKEN_SEMICOLON) {
            token = token->next;
            continue;
        }
        if (token->kind & TOKEN_IDENTIFIER) {
            for (const Global_Refusal& refusal : GLOBAL_REFUSALS) {
                if (is_keyword(token, refusal.word)) {
                    print_error_on_token(token, "%s", refusal.message);
                    return false;
                }
            }
        }
        Token* next = 0;
        b8 ok;
        if (token->kind & TOKEN_DIRECTIVE) {
            ok = preparse_directive(scope, token, end, worklists, entry_blocks, directory, &next);
        } else if (token->kind & (TOKEN_IDENTIFIER | TOKEN_DOLLAR)) {
            ok = preparse_declaration(scope, token, end, &next);
        } else {
            print_error_on_token(token, "This is unexpected.");
            ok = false;
        }
        if (!ok) return false;
        token = next;
    }
    return true;
}

b8 preparse_global_static_if_chain(Scope* scope, Global_If_Chain* chain, Global_Worklists* worklists,
                                   Entry_Blocks* entry_blocks, String directory) {
    Token* taken = chain->else_block;
    for (u32 i = 0; i < chain->pairs.count; i++) {
        Global_If_Pair* pair = (Global_If_Pair*)chain->pairs.data + i;
        Value condition;
        if (!parse_assignment_value(scope, 0, 1, global_compiler_state.basic_types[BASIC_TYPE_B8], pair->condition,
                                    pair->block, &condition)) {
            return false;
        }
        if (!(condition.kind & VALUE_CONSTANT)) {
            print_error_on_trace(condition.source, "This expression does not appear to be constant.");
            return false;
        }
        if (!check_constant_condition(&condition)) return false;
        if (constant_is_non_zero(&condition.constant)) {
            taken = pair->block;
            break;
        }
    }
    if (!taken) return true;
    // The blocks were checked when the chain was recorded.
    return preparse_global_scope(scope, taken->next, get_content_end(taken, (Token*)taken->value), worklists,
                                 entry_blocks, directory);
}

b8 preparse_global_insert_directive(Scope* scope, Global_Insert* insert, Global_Worklists* worklists,
                                    Entry_Blocks* entry_blocks, String directory) {
    Value code;
    return parse_assignment_value(scope, 0, 0, global_compiler_state.basic_types[BASIC_TYPE_CODE], insert->directive->next,
                                  insert->end, &code) &&
           preparse_code_block(scope, &code, worklists, entry_blocks, directory);
}
