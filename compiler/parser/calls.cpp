// Calls written in source: the callee checked, its arguments bound to its parameters by
// position, by name or by default, each converted to its parameter's type, and the call
// handed on. Polymorphic callees go to their own binder. Also the choice among several
// sub-programs of one name (overloads), by the arguments they accept.
#include <string.h>

#include "compiler/parser/parser.h"

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

Token* get_argument_end(Token* piece, Token* closing) {
    Token* comma = get_first_token_like_bounded(piece, TOKEN_COMMA, closing);
    return comma ? comma : closing;
}

Token* get_argument_name(Token* piece, Token* piece_end) {
    if (at_end(piece, piece_end) || !(piece->kind & TOKEN_IDENTIFIER)) return 0;
    Token* equals = piece->next;
    if (at_end(equals, piece_end) || !(equals->kind & TOKEN_OPERATOR) || equals->value != OP_ASSIGN) return 0;
    return piece;
}

u32 get_parameters(Sub_Program* sub_program, Identifier** out) {
    u32 count = 0;
    for (Identifier* p = (Identifier*)sub_program->body_scope->parameters.first_element; p; p = p->next) {
        if (out) out[count] = p;
        count++;
    }
    return count;
}

//~ The callee

// The sub-program a callee value names: its constant, or the type of the register holding
// its address.
static Sub_Program* get_callee(Value* callee) {
    Identifier* type = 0;
    if (callee->kind & VALUE_CONSTANT) {
        if (callee->constant.mask & CONSTANT_TYPED) type = callee->constant.type;
    } else if (callee->kind & VALUE_REGISTER) {
        type = callee->dynamic.type;
    }
    // Another name for a signature stands for it.
    if (type && !type->pointer_depth && type->leaf_type && type->leaf_type != type && (type->leaf_type->flags & TYPE_SUB_PROGRAM)) {
        type = type->leaf_type;
    }
    if (!type || type->pointer_depth || !(type->flags & TYPE_SUB_PROGRAM) || !type->body_scope) return 0;
    return type;
}

//~ parse_call

struct Call_Binding {
    Identifier** parameters;
    Value* arguments;
    u8* set;
    u32 count;
    u32 bound;
};

static b8 make_binding(Sub_Program* sub_program, Call_Binding* binding) {
    u32 count = get_parameters(sub_program, 0);
    u64 size = (u64)count * (sizeof(Value) + sizeof(Identifier*) + 1);
    u8* block = (u8*)tmp_allocate_aligned(size ? size : 1, 16);
    if (!block) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    memset(block, 0, size);
    binding->arguments = (Value*)block;
    binding->parameters = (Identifier**)(binding->arguments + count);
    binding->set = (u8*)(binding->parameters + count);
    binding->count = count;
    binding->bound = 0;
    get_parameters(sub_program, binding->parameters);
    return true;
}

static u32 get_first_unset(Call_Binding* binding) {
    u32 index = 0;
    while (index < binding->count && binding->set[index]) index++;
    return index;
}

static b8 take_default(Call_Binding* binding, u32 index, Token* at, Trace trace) {
    Identifier* parameter = binding->parameters[index];
    if (!parameter->constant_value.kind) {
        print_error_on_token(at, "Parameter '%s' has no default value and must be set.", get_report_name(parameter));
        return false;
    }
    binding->arguments[index] = parameter->constant_value;
    binding->arguments[index].source = trace;
    return true;
}

static b8 bind_argument(Scope* scope, Sub_Program* callee, Call_Binding* binding, Token* piece, Token* piece_end,
                        u8 constant_arguments, u32* next_index) {
    if (binding->bound == binding->count) {
        print_error_on_token(piece == piece_end ? piece_end : piece, "Sub-program '%s' cannot take more than %u %s.",
                             get_report_name(callee), binding->count, binding->count == 1 ? "argument" : "arguments");
        return false;
    }
    u32 index = *next_index;
    Token* value_first = piece;
    Token* name = get_argument_name(piece, piece_end);
    if (name) {
        index = 0;
        while (index < binding->count && !token_is_word(name, binding->parameters[index]->name)) index++;
        if (index == binding->count) {
            print_error_on_token(name, "'%s' is not a parameter of sub-program '%s'.", token_to_c_string(name), get_report_name(callee));
            return false;
        }
        if (binding->set[index]) {
            print_error_on_token(name, "Parameter '%s' is already set in this call.", token_to_c_string(name));
            return false;
        }
        value_first = name->next->next;
    }
    Identifier* parameter = binding->parameters[index];
    Trace trace = make_trace_from_token(value_first);
    if (value_first == piece_end) {
        if (!take_default(binding, index, name ? name : piece_end, trace)) return false;
    } else {
        Value* argument = &binding->arguments[index];
        u8 constant = constant_arguments || (parameter->flags & IDENTIFIER_CONSTANT);
        if (!parse_assignment_value(scope, 0, constant, parameter->type, value_first, piece_end, argument) ||
            !cast_value_to_type(argument, scope, parameter->type, argument)->kind) {
            return false;
        }
        argument->source = trace;
    }
    binding->set[index] = 1;
    binding->bound++;
    *next_index = get_first_unset(binding);
    return true;
}

b8 parse_call(Scope* scope, Token* open, Value* out, u8 expects_value, u8 constant_arguments, Value callee) {
    memset(out, 0, sizeof(*out));
    if ((callee.kind & VALUE_REGISTER) && (callee.kind & VALUE_INDIRECT) && !load_value_if_indirect(scope, &callee)) {
        return false;
    }
    Sub_Program* sub_program = get_callee(&callee);
    if (!sub_program) {
        print_error_on_trace(callee.source, "It appears that you are trying to call something that is not a sub-program.");
        return false;
    }
    // Inside a body evaluated while compiling, an inline callee is evaluated so too.
    if (call_limits.constant_depth && (sub_program->flags & IDENTIFIER_INLINE) && (callee.kind & VALUE_CONSTANT)) {
        constant_arguments = 1;
    }
    if (sub_program->flags & TYPE_POLYMORPHIC) {
        return parse_polymorphic_sub_program_call(scope, sub_program, open, out, expects_value, constant_arguments, callee);
    }
    if (expects_value && !get_result_type(sub_program)) {
        print_error_on_trace(callee.source, "This call is expected to return a value but it does not.\nSub-program type: '%s'",
                             type_to_c_string(sub_program));
        return false;
    }
    b8 indirect = !(callee.kind & VALUE_CONSTANT);
    u64 used = tmp_get_used();
    Call_Binding binding;
    b8 ok = make_binding(sub_program, &binding);
    Token* closing = (Token*)open->value;
    u32 next_index = 0;
    for (Token* piece = open->next; ok && piece != closing;) {
        Token* piece_end = get_argument_end(piece, closing);
        ok = bind_argument(scope, sub_program, &binding, piece, piece_end, constant_arguments, &next_index);
        if (piece_end == closing) break;
        piece = piece_end->next;
        // "f(a, )": an empty last argument takes its default too.
        if (ok && piece == closing) ok = bind_argument(scope, sub_program, &binding, piece, closing, constant_arguments, &next_index);
    }
    while (ok && binding.bound < binding.count) {
        u32 index = get_first_unset(&binding);
        ok = take_default(&binding, index, closing, make_trace_from_token(closing));
        binding.set[index] = 1;
        binding.bound++;
    }
    if (ok) {
        ok = issue_a_sub_program_call(scope, sub_program, binding.arguments, open, out, expects_value, indirect,
                                      constant_arguments, indirect ? callee.dynamic.register_id : INVALID_REGISTER_ID);
    }
    tmp_set_used(used);
    if (!ok) memset(out, 0, sizeof(*out));
    return ok;
}

//~ Overloads

// An argument that names its type only through the parameter: ".NAME", ".{...}", ".[...]".
static b8 needs_target_type(Token* first, Token* end) {
    if (at_end(first, end) || !(first->kind & TOKEN_BINARY_OPERATOR) || first->value != OP_DOT) return false;
    return !at_end(first->next, end);
}

// The argument fits the parameter's type without a report and without an instruction.
static b8 argument_fits(Scope* scope, Identifier* parameter, Overload_Argument* argument, u8 constant_required) {
    Identifier* type = parameter->type;
    if (argument->no_value) {
        if (!type || type->pointer_depth || !(type->flags & (TYPE_ENUM | TYPE_STRUCT))) return false;
        if (!(type->flags & TYPE_ENUM)) return true;
        Token* name = argument->first->next;
        return (name->kind & TOKEN_IDENTIFIER) && name->next == argument->end &&
               get_enum_value_no_errors(type, String{name->text, (s64)name->length}) != 0;
    }
    Value* value = &argument->value;
    if (!type) return true;  // bound by the argument in a polymorphic candidate
    if (value->kind & VALUE_CONSTANT) {
        u32 errors = compile_errors.count;
        Value converted;
        b8 fits = cast_constant_to_type(&converted, type, value)->kind != 0;
        compile_errors.count = errors;
        return fits;
    }
    if (constant_required) return false;
    Identifier* got = get_type_from_value(value);
    u64 used = tmp_get_used();
    String message;
    b8 fits = got && check_imperfect_types_mix_no_error(type, got, &message);
    tmp_set_used(used);
    (void)scope;
    return fits;
}

b8 check_for_overload_match(Scope* scope, Sub_Program* candidate, u8 constant_arguments, u8 named_arguments,
                            Overload_Argument* arguments, u32 argument_count) {
    u32 count = get_parameters(candidate, 0);
    if (count < argument_count) return false;
    u64 used = tmp_get_used();
    Identifier** parameters = (Identifier**)tmp_allocate_aligned((u64)count * sizeof(Identifier*) + count + 1, 8);
    if (!parameters) return false;
    u8* set = (u8*)(parameters + count);
    memset(set, 0, count);
    get_parameters(candidate, parameters);
    b8 fits = true;
    u32 position = 0;
    for (u32 a = 0; fits && a < argument_count; a++) {
        Overload_Argument* argument = &arguments[a];
        u32 index = position;
        if (named_arguments && argument->name.count) {
            index = 0;
            while (index < count && !strings_equal(parameters[index]->name, argument->name)) index++;
            if (index == count || set[index]) fits = false;
        }
        if (!fits) break;
        Identifier* parameter = parameters[index];
        u8 constant = constant_arguments || (parameter->flags & IDENTIFIER_CONSTANT);
        fits = argument_fits(scope, parameter, argument, constant);
        if (fits && (parameter->flags & IDENTIFIER_CONSTANT) && !argument->no_value &&
            !(argument->value.kind & VALUE_CONSTANT)) {
            fits = false;
        }
        set[index] = 1;
        while (position < count && set[position]) position++;
    }
    for (u32 i = 0; fits && i < count; i++) {
        if (set[i] || (parameters[i]->flags & PARAMETER_IMPLICIT_BITS)) continue;
        fits = parameters[i]->constant_value.kind != 0;
    }
    tmp_set_used(used);
    return fits;
}

// Every sub-program of the name visible from the scope, in the order they are met.
static u32 find_candidates(Scope* scope, String name, Sub_Program** out, u32 capacity) {
    u32 count = 0;
    for (Scope* s = scope; s;) {
        Bucket_Array* lists[2] = {&s->constants, (s->flags & SCOPE_SUB_PROGRAM_BODY) ? &s->parameters : 0};
        for (Bucket_Array* list : lists) {
            if (!list) continue;
            for (Identifier* c = (Identifier*)list->first_element; c; c = c->next) {
                if (!(c->flags & TYPE_SUB_PROGRAM) || !strings_equal(c->name, name)) continue;
                if (count < capacity) out[count] = c;
                count++;
            }
        }
        s = (s->flags & SCOPE_DEFER) && s->defer_owner ? s->defer_owner : s->parent;
    }
    return count;
}

// The unique match called as parse_call would, from the arguments already evaluated.
static b8 call_overload(Scope* scope, Sub_Program* match, Token* open, Overload_Argument* arguments, u32 argument_count,
                        u8 constant_arguments, Value* out) {
    Value callee;
    make_value_from_identifier(&callee, match, make_trace_from_token(open));
    if (match->flags & TYPE_POLYMORPHIC) return parse_call(scope, open, out, 0, constant_arguments, callee);
    Call_Binding binding;
    if (!make_binding(match, &binding)) return false;
    u32 position = 0;
    for (u32 a = 0; a < argument_count; a++) {
        Overload_Argument* argument = &arguments[a];
        u32 index = position;
        if (argument->name.count) {
            index = 0;
            while (!strings_equal(binding.parameters[index]->name, argument->name)) index++;
        }
        Identifier* parameter = binding.parameters[index];
        Value* value = &binding.arguments[index];
        if (argument->no_value) {
            if (!parse_assignment_value(scope, 0, constant_arguments, parameter->type, argument->first, argument->end, value)) {
                return false;
            }
        } else {
            *value = argument->value;
        }
        if (!cast_value_to_type(value, scope, parameter->type, value)->kind) return false;
        binding.set[index] = 1;
        position = get_first_unset(&binding);
    }
    for (u32 i = 0; i < binding.count; i++) {
        if (!binding.set[i] && binding.parameters[i]->constant_value.kind) {
            binding.arguments[i] = binding.parameters[i]->constant_value;
            binding.arguments[i].source = make_trace_from_token((Token*)open->value);
        }
    }
    return issue_a_sub_program_call(scope, match, binding.arguments, open, out, 0, 0, constant_arguments, INVALID_REGISTER_ID);
}

b8 parse_call_for_constant_sub_program(Scope* scope, u8* name, u64 name_length, Token* open, u8 constant_arguments,
                                       Value* out) {
    memset(out, 0, sizeof(*out));
    String called = {name, (s64)name_length};
    Token* closing = (Token*)open->value;
    Dynamic_Array entries;
    init_dynamic_array(&entries, sizeof(Overload_Argument));
    b8 ok = true, named = false;
    for (Token* piece = open->next; ok && piece != closing;) {
        Token* piece_end = get_argument_end(piece, closing);
        Overload_Argument* argument = (Overload_Argument*)dynamic_array_add_fast(&entries);
        if (!argument) {
            report_out_of_compiler_memory("arguments");
            ok = false;
            break;
        }
        memset(argument, 0, sizeof(*argument));
        Token* argument_name = get_argument_name(piece, piece_end);
        argument->first = argument_name ? argument_name->next->next : piece;
        argument->end = piece_end;
        if (argument_name) {
            argument->name = String{argument_name->text, (s64)argument_name->length};
            named = true;
        }
        if (needs_target_type(argument->first, piece_end)) {
            argument->no_value = true;
        } else {
            ok = parse_simple_statement(scope, argument->first, piece_end, 0, 0, 0, constant_arguments, &argument->value);
        }
        if (piece_end == closing) break;
        piece = piece_end->next;
    }
    Overload_Argument* arguments = (Overload_Argument*)entries.data;
    Sub_Program* candidates[64];
    u32 candidate_count = ok ? find_candidates(scope, called, candidates, 64) : 0;
    Sub_Program* match = 0;
    if (ok && !candidate_count) {
        print_error_on_token(open, "There does not seem to be any sub-program named '%s' that is accessible from this scope.",
                             tcstring("%.*s", (int)called.count, (char*)called.data));
        ok = false;
    }
    for (u32 i = 0; ok && i < candidate_count && i < 64; i++) {
        if (!check_for_overload_match(scope, candidates[i], constant_arguments, named, arguments, entries.count)) continue;
        if (match) {
            print_error_on_token(open, "There is more than one overload that matches this call.");
            print_error_on_trace(match->declaration, "This is one of them.");
            print_error_on_trace(candidates[i]->declaration, "This is another one.");
            ok = false;
            break;
        }
        match = candidates[i];
    }
    if (ok && !match) {
        print_error_on_token(open, "No overload was found to match this call.");
        ok = false;
    }
    u64 used = tmp_get_used();
    if (ok) ok = call_overload(scope, match, open, arguments, entries.count, constant_arguments, out);
    tmp_set_used(used);
    dynamic_array_free(&entries);
    if (!ok) memset(out, 0, sizeof(*out));
    return ok;
}
