// Leaving blocks: break and continue with their loop level, return from a sub-program or
// an inlined body, and #defer, whose blocks are compiled again wherever their scope is
// left: at its end, and before every jump out of it. A jump runs the deferred blocks of
// every scope it leaves, last first.
#include "compiler/parser/parser.h"

//~ Deferred blocks

static b8 replay_deferred_block(Scope* at, Deferred_Block block, u8 constant_return_only) {
    Scope* replay = _add_a_scope(block.scope, SCOPE_DEFER, block.opener->location);
    if (!replay) return false;
    replay->defer_owner = at;
    return make_instructions_in_scope(replay, block.opener->next, block.closing, 0, constant_return_only) &&
           append_scope_instruction(at, INSTRUCTION_NESTED_SCOPE, replay, block.opener->location);
}

// The blocks of one scope, last first, into at. The scope is marked while they compile,
// so a jump inside a replayed block does not run them again; a scope's own end keeps the
// mark.
static b8 replay_deferred_blocks_of(Scope* scope, Scope* at, u8 constant_return_only) {
    if (scope->flags & SCOPE_DEFERS_REPLAYED) return true;
    scope->flags |= SCOPE_DEFERS_REPLAYED;
    b8 ok = true;
    for (u32 i = scope->deferred_blocks.count; ok && i-- > 0;) {
        Deferred_Block block = ((Deferred_Block*)scope->deferred_blocks.data)[i];
        ok = replay_deferred_block(at, block, constant_return_only);
    }
    if (scope != at) scope->flags &= ~SCOPE_DEFERS_REPLAYED;
    return ok;
}

// From scope outward up to last (included): what a jump to past last leaves.
static b8 replay_deferred_blocks_up_to(Scope* scope, Scope* last, u8 constant_return_only) {
    for (Scope* s = scope; s; s = s->parent) {
        if (!replay_deferred_blocks_of(s, scope, constant_return_only)) return false;
        if (s == last) break;
    }
    scope->flags |= SCOPE_DEFERS_REPLAYED;
    return true;
}

static Scope* get_first_scope_with(Scope* scope, u32 flags) {
    while (scope && !(scope->flags & flags)) scope = scope->parent;
    return scope;
}

b8 handle_deferred_blocks(Scope* scope, u32 stop_flags, u8 constant_return_only) {
    if (!stop_flags) return replay_deferred_blocks_of(scope, scope, constant_return_only);
    return replay_deferred_blocks_up_to(scope, get_first_scope_with(scope, stop_flags), constant_return_only);
}

// Whether a jump from the scope to past last starts inside a deferred block. A deferred
// block runs while its scope is being left, on whatever way it is left: it may not send
// control elsewhere, nor change what a return has already settled.
static b8 starts_in_deferred_block(Scope* scope, Scope* last) {
    for (Scope* s = scope; s; s = s->parent) {
        if (s->flags & SCOPE_DEFER) return true;
        if (s == last) break;
    }
    return false;
}

static b8 has_deferred_blocks_up_to(Scope* scope, Scope* last) {
    for (Scope* s = scope; s; s = s->parent) {
        if (s->deferred_blocks.count && !(s->flags & SCOPE_DEFERS_REPLAYED)) return true;
        if (s == last) break;
    }
    return false;
}

b8 compile_defer(Scope* scope, Token* directive, Token* end, Token** next) {
    if (!scope->parent) {
        print_error_on_token(directive, "#defer cannot be used in global scope.");
        return false;
    }
    Scope* target = scope;
    Token* opener = directive->next;
    if (opener && opener != end && (opener->kind & TOKEN_DIRECTIVE)) {
        if (!is_keyword(opener, STR("#inline"))) {
            print_error_on_token(opener, "Directive '%s' is unknown or not supported here.", token_to_c_string(opener));
            return false;
        }
        if (!(scope->flags & SCOPE_INLINED)) {
            print_error_on_token(opener, "Inlined #defer can only be used in inlined sub-programs.");
            return false;
        }
        if (!(scope->flags & SCOPE_SUB_PROGRAM_BODY)) {
            print_error_on_token(opener, "Inlined #defer can only be used in the top-most scope of an inlined sub-program.");
            return false;
        }
        // Run where the expansion's caller ends, with the inlined body's names.
        target = scope->call_site_scope;
        opener = opener->next;
    }
    if (!opener || opener == end || !(opener->kind & (TOKEN_OPEN_BRACE | TOKEN_COLON))) {
        print_error_on_token(directive, "Expected a block of instructions to defer after the #defer directive but got '%s' instead.",
                             opener && opener != end ? token_to_c_string(opener) : "nothing");
        return false;
    }
    Token* closing = get_block_end(opener, end);
    if (!closing) return false;
    Deferred_Block* block = (Deferred_Block*)dynamic_array_add_fast(&target->deferred_blocks);
    if (!block) {
        report_out_of_compiler_memory("deferred blocks");
        return false;
    }
    *block = Deferred_Block{opener, closing, scope};
    *next = closing->next;
    return true;
}

//~ break and continue

// The nearest loop from the scope outward, not past a sub-program body or an entry block.
static Scope* get_enclosing_loop(Scope* scope) {
    for (; scope; scope = scope->parent) {
        if (scope->flags & SCOPE_LOOP) return scope;
        if (scope->flags & (SCOPE_SUB_PROGRAM_BODY | SCOPE_ENTRY_BLOCK)) return 0;
    }
    return 0;
}

b8 compile_loop_jump(Scope* scope, Token* keyword, Token* end, u8 mode, u8 constant_return_only, Token** next) {
    if (!scope->parent) return report_global_instruction(keyword);
    Scope* loop = get_enclosing_loop(scope);
    if (!loop) {
        print_error_on_token(keyword, "You cannot use this instruction outside of loops.");
        return false;
    }
    Token* semicolon = find_statement_semicolon(keyword->next, end);
    if (!semicolon) {
        print_error_on_token(keyword, "Did you forget a ';'?");
        return false;
    }
    u64 level = 0;
    if (keyword->next != semicolon) {
        Identifier* u8_type = global_compiler_state.basic_types[BASIC_TYPE_U8];
        Value value;
        if (!parse_simple_statement(scope, keyword->next, semicolon, u8_type, 0, 0, 1, &value) ||
            !cast_value_to_type(&value, scope, u8_type, &value)->kind) {
            return false;
        }
        if (!(value.kind & VALUE_CONSTANT)) {
            print_error_on_trace(value.source, "This expression does not appear to be constant.");
            return false;
        }
        level = value.constant.data & 0xFF;
        for (u64 n = level; n; n--) {
            loop = get_enclosing_loop(loop->parent);
            if (!loop) {
                print_error_on_trace(value.source, "There is no loop you can break from at level %llu.", (unsigned long long)level);
                return false;
            }
        }
    }
    if (starts_in_deferred_block(scope, loop)) {
        print_error_on_token(keyword,
                             "You cannot use '%s' inside a #defer block to leave a loop outside of it: the block runs "
                             "while its scope is being left.",
                             token_to_c_string(keyword));
        return false;
    }
    *next = semicolon;
    if (!replay_deferred_blocks_up_to(scope, loop, constant_return_only)) return false;
    if (mode == LOOP_JUMP_BREAK) {
        loop->break_count++;
    } else if (!insert_loop_step(scope, loop, (u8)level, keyword->location)) {
        return false;
    }
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_LOOP_JUMP);
    if (!instruction) return false;
    Instruction_Loop_Jump* operands = get_instruction_loop_jump(instruction);
    operands->location = keyword->location;
    operands->mode = mode;
    operands->level = (u8)level;
    return true;
}

//~ return

// Where a return's value ends: its ';', a closing bracket, or the end of the block.
static Token* find_return_end(Token* start, Token* end) {
    for (Token* token = start; token; token = token->next) {
        if (token == end || (token->kind & (TOKEN_SEMICOLON | TOKEN_SCOPE_END))) return token;
        if ((token->kind & TOKEN_SCOPE_START) && token->value) token = (Token*)token->value;
    }
    return 0;
}

static b8 append_return_jump(Scope* scope, Value* value, Trace location) {
    Scope* root = scope->inline_root;
    Instruction* instruction = allocate_an_instruction(scope, INSTRUCTION_RETURN_JUMP);
    if (!instruction) return false;
    Instruction_Return_Jump* operands = get_instruction_return_jump(instruction);
    operands->location = location;
    if (value) operands->value = *value;
    operands->root = root;
    operands->no_jump = (scope->flags & SCOPE_SUB_PROGRAM_BODY) != 0;
    root->inline_return_count++;
    return true;
}

// The returned value, kept where no deferred block can change it: a constant or a
// temporary stays, anything else is copied into a register of its own.
static b8 hold_returned_value(Scope* scope, Identifier* type, Value* value) {
    if ((value->kind & VALUE_CONSTANT) || (!(value->kind & VALUE_INDIRECT) && check_if_value_is_constant_or_temporary(value))) {
        return true;
    }
    Value held;
    if (!make_dynamic_value(&held, scope, type, value->source)->kind || !instruction_copy_value(scope, &held, value)) {
        return false;
    }
    *value = held;
    return true;
}

static b8 return_a_value(Scope* scope, Scope* body, Sub_Program* sub_program, Token* first, Token* end,
                         u8 constant_return_only) {
    Identifier* result = sub_program->element_type;
    Value value;
    if (!parse_assignment_value(scope, 0, 0, result, first, end, &value) ||
        !cast_value_to_type(&value, scope, result, &value)->kind) {
        return false;
    }
    if (constant_return_only && !(value.kind & VALUE_CONSTANT)) {
        print_error_on_trace(value.source, "You can only return constant values from this sub-program.");
        return false;
    }
    if (has_deferred_blocks_up_to(scope, body)) {
        if (!load_value_if_indirect(scope, &value) || !hold_returned_value(scope, result, &value) ||
            !replay_deferred_blocks_up_to(scope, body, constant_return_only)) {
            return false;
        }
    }
    if (scope->flags & SCOPE_INLINED) {
        Inlined_Return_Value* listed = (Inlined_Return_Value*)bucket_array_append(&scope->inline_root->inlined_return_values);
        if (!listed) {
            report_out_of_compiler_memory("inlined return values");
            return false;
        }
        value.kind |= VALUE_INLINE_RETURN;
        listed->value = value;
        return append_return_jump(scope, &value, first->location);
    }
    return copy_into_return_slot(scope, sub_program, &value) &&
           append_scope_instruction(scope, INSTRUCTION_END, body, first->location);
}

b8 compile_return(Scope* scope, Token* keyword, Token* end, u8 constant_return_only, Token** next) {
    if (!(scope->flags & SCOPE_IN_SUB_PROGRAM) || !scope->sub_program) {
        print_error_on_token(keyword, "You can only use the return instruction within sub-programs.");
        return false;
    }
    Scope* body = get_first_scope_with(scope, SCOPE_SUB_PROGRAM_BODY);
    if (starts_in_deferred_block(scope, body)) {
        print_error_on_token(keyword,
                             "You cannot use return inside a #defer block: the block runs while its scope is being left "
                             "and cannot change what is returned.");
        return false;
    }
    Token* stop = find_return_end(keyword->next, end);
    if (!stop) {
        print_error_on_token(keyword, "Did you forget a ';' after the return instruction?");
        return false;
    }
    *next = stop;
    Sub_Program* sub_program = scope->sub_program;
    Identifier* result = sub_program->element_type;
    if (result && (result->flags & TYPE_VOID)) result = 0;
    int name_length = (int)sub_program->name.count;
    char* name = (char*)sub_program->name.data;

    if (keyword->next != stop) {
        if (!result) {
            print_error_on_token(keyword, "Sub-program %.*s does not return anything.", name_length, name);
            return false;
        }
        return return_a_value(scope, body, sub_program, keyword->next, stop, constant_return_only);
    }
    if (result) {
        print_error_on_token(keyword, "Sub-program %.*s must return a value of type %s.", name_length, name,
                             type_to_c_string(result));
        return false;
    }
    if (!replay_deferred_blocks_up_to(scope, body, constant_return_only)) return false;
    if (!(scope->flags & SCOPE_INLINED)) return append_scope_instruction(scope, INSTRUCTION_END, body, keyword->location);
    if (scope->flags & SCOPE_SUB_PROGRAM_BODY) return true;
    return append_return_jump(scope, 0, keyword->location);
}
