// if / else if / else chains and while loops. Conditions settled while compiling prune the
// code: a link that can never be taken is not compiled at all (errors in it go unseen),
// one that is always taken ends the chain, and a while that never runs makes nothing.
#include "compiler/parser/parser.h"

static Token* get_else_token(Token* token, Token* end) {
    return token && token != end && is_keyword(token, STR("else")) ? token : 0;
}

static b8 compile_block_in_new_scope(Scope* scope, Token* opener, Token* closing, u8 constant_return_only, Scope** block) {
    *block = _add_a_scope(scope, 0, opener->location);
    return *block && make_instructions_in_scope(*block, opener->next, closing, 0, constant_return_only);
}

b8 compile_if_chain(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next) {
    if (!scope->parent) return report_global_instruction(keyword);
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_IF_CHAIN);
    if (!instruction) return false;
    Instruction_If_Chain* chain = get_instruction_if_chain(instruction);
    chain->location = keyword->location;
    init_bucket_array(&chain->links, &if_chain_parts_pool);

    b8 taken = false;  // a link always taken: the rest is never compiled
    for (Token* head = keyword;;) {
        Token* opener = find_block_opener(head->next, end);
        if (!opener) {
            print_error_on_token(head, "The compiler expected a block after this '%s' statement.", token_to_c_string(head));
            return false;
        }
        Token* closing = get_block_end(opener, end);
        if (!closing) return false;
        if (!taken) {
            if (opener == head->next) {
                print_error_on_token(head, "Did you forget to specify a condition for that if statement?");
                return false;
            }
            Bucket_Array conditions;
            init_bucket_array(&conditions, &condition_parts_pool);
            if (!parse_if_condition(head->next, opener, 0, 0, scope, &conditions)) return false;
            Condition_Truth truth = fold_condition_constants(&conditions);
            if (truth == CONDITION_DYNAMIC && !test_kept_constants(&conditions)) return false;
            if (truth != CONDITION_FALSE) {
                Scope* block;
                if (!compile_block_in_new_scope(scope, opener, closing, constant_return_only, &block)) return false;
                If_Chain_Part* link = (If_Chain_Part*)bucket_array_append(&chain->links);
                if (!link) {
                    report_out_of_compiler_memory("if chains");
                    return false;
                }
                link->closing = closing->location;
                link->conditions = conditions;
                link->scope = block;
                chain->link_count++;
                taken = truth == CONDITION_TRUE;
            }
        }

        *next = closing->next;
        Token* else_token = get_else_token(closing->next, end);
        if (!else_token) return true;
        Token* following = else_token->next;
        if (following && following != end && is_keyword(following, STR("if"))) {
            head = following;
            continue;
        }
        if (!following || following == end || !(following->kind & (TOKEN_OPEN_BRACE | TOKEN_COLON))) {
            print_error_on_token(else_token, "The compiler expected a block associated with this 'else' statement.");
            return false;
        }
        Token* else_closing = get_block_end(following, end);
        if (!else_closing) return false;
        *next = else_closing->next;
        if (taken) return true;
        chain->has_else = 1;
        return compile_block_in_new_scope(scope, following, else_closing, constant_return_only, &chain->else_scope);
    }
}

b8 compile_while_loop(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next) {
    if (!scope->parent) return report_global_instruction(keyword);
    Token* opener = find_block_opener(keyword->next, end);
    if (!opener) {
        print_error_on_token(keyword, "while loops must always have a block of code associated with them.");
        return false;
    }
    if (opener == keyword->next) {
        print_error_on_token(keyword, "Did you forget to specify a condition for that while loop?");
        return false;
    }
    Token* closing = get_block_end(opener, end);
    if (!closing) return false;
    *next = closing->next;

    Scope* loop = _add_a_scope(scope, SCOPE_LOOP, keyword->location);
    Scope* condition = loop ? _add_a_scope(loop, 0, keyword->next->location) : 0;
    if (!condition) return false;
    Bucket_Array conditions;
    init_bucket_array(&conditions, &condition_parts_pool);
    if (!parse_if_condition(keyword->next, opener, 0, 0, condition, &conditions)) return false;
    Condition_Truth truth = fold_condition_constants(&conditions);
    if (truth == CONDITION_FALSE) return true;
    if (truth == CONDITION_DYNAMIC && !test_kept_constants(&conditions)) return false;

    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_WHILE);
    if (!instruction) return false;
    Instruction_While* loop_operands = get_instruction_while(instruction);
    loop_operands->location = keyword->location;
    loop_operands->condition_scope = condition;
    loop_operands->loop_scope = loop;
    loop_operands->conditions = conditions;
    Condition_Part* only = (Condition_Part*)conditions.first_element;
    if (conditions.count == 1) {
        loop_operands->condition = only->value;
        loop_operands->jump_kind = only->jump_kind;
    }
    return make_instructions_in_scope(loop, opener->next, closing, 0, constant_return_only);
}
