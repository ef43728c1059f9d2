// Calls of polymorphic sub-programs: the arguments bound to private copies of the
// parameters, the open types fixed from the arguments and the constants evaluated, which
// gives a signature; the instance of that signature is found, or built once, and called.
#include <string.h>

#include "compiler/parser/parser.h"

static b8 at_end(Token* token, Token* end) { return !token || token == end; }

struct Polymorphic_Binding {
    Identifier** parameters;  // the copies, in order
    Value* arguments;
    Token** firsts;           // the written argument; null when none was written
    Token** ends;
    u32 count;
};

static b8 make_binding(Sub_Program* polymorphic, Scope* binding_scope, Polymorphic_Binding* binding) {
    u32 count = get_parameters(polymorphic, 0);
    u64 size = (u64)count * (sizeof(Value) + 3 * sizeof(void*));
    u8* block = (u8*)tmp_allocate_aligned(size ? size : 1, 16);
    if (!block) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    memset(block, 0, size);
    binding->arguments = (Value*)block;
    binding->parameters = (Identifier**)(binding->arguments + count);
    binding->firsts = (Token**)(binding->parameters + count);
    binding->ends = binding->firsts + count;
    binding->count = count;
    u32 i = 0;
    for (Identifier* p = (Identifier*)polymorphic->body_scope->parameters.first_element; p; p = p->next, i++) {
        Identifier* copy = add_identifier(binding_scope, p->name.data, (u64)p->name.count, IDENTIFIER_KIND_PARAMETER, p->declaration);
        if (!copy) return false;
        Identifier* next = copy->next;
        *copy = *p;
        copy->next = next;
        copy->scope = binding_scope;
        binding->parameters[i] = copy;
    }
    return true;
}

static u32 get_first_unbound(Polymorphic_Binding* binding) {
    u32 index = 0;
    while (index < binding->count && binding->firsts[index]) index++;
    return index;
}

//~ Binding the written arguments

static b8 bind_written_arguments(Sub_Program* polymorphic, Polymorphic_Binding* binding, Token* open) {
    Token* closing = (Token*)open->value;
    u32 position = 0;
    if (open->next == closing) return true;
    for (Token* piece = open->next;;) {
        Token* piece_end = get_argument_end(piece, closing);
        Token* name = get_argument_name(piece, piece_end);
        u32 index = position;
        Token* first = piece;
        if (name) {
            index = 0;
            while (index < binding->count && !token_is_word(name, binding->parameters[index]->name)) index++;
            if (index == binding->count) {
                print_error_on_token(name, "Sub-program '%s' has no parameter named '%s'.", get_report_name(polymorphic),
                                     token_to_c_string(name));
                return false;
            }
            if (binding->firsts[index]) {
                print_error_on_token(name, "Parameter '%s' is already set.", token_to_c_string(name));
                return false;
            }
            first = name->next->next;
            if (first == piece_end) {
                print_error_on_token(name->next, "Did you forget to pass a value?");
                return false;
            }
        } else if (index >= binding->count) {
            print_error_on_token(piece == piece_end ? piece_end : piece,
                                 "Sub-program '%s' takes %u %s but you are trying to assign more parameters.",
                                 get_report_name(polymorphic), binding->count, binding->count == 1 ? "parameter" : "parameters");
            return false;
        } else if (first == piece_end && !binding->parameters[index]->pending_value_first) {
            print_error_on_token(piece_end, "Parameter '%s' does not have a default value.", get_report_name(binding->parameters[index]));
            return false;
        }
        // An empty argument is bound to its default: marked, with nothing to evaluate.
        binding->firsts[index] = first;
        binding->ends[index] = piece_end;
        position = get_first_unbound(binding);
        if (piece_end == closing) return true;
        piece = piece_end->next;
        if (piece == closing) {
            if (position >= binding->count || !binding->parameters[position]->pending_value_first) {
                Token* at = closing;
                if (position >= binding->count) {
                    print_error_on_token(at, "Sub-program '%s' takes %u %s but you are trying to assign more parameters.",
                                         get_report_name(polymorphic), binding->count, binding->count == 1 ? "parameter" : "parameters");
                } else {
                    print_error_on_token(at, "Parameter '%s' does not have a default value.",
                                         get_report_name(binding->parameters[position]));
                }
                return false;
            }
            binding->firsts[position] = closing;
            binding->ends[position] = closing;
            return true;
        }
    }
}

static b8 check_unbound_parameters(Scope* scope, Polymorphic_Binding* binding, Token* closing) {
    for (u32 i = 0; i < binding->count; i++) {
        Identifier* p = binding->parameters[i];
        if (binding->firsts[i]) continue;
        if (p->flags & PARAMETER_CONTEXT) {
            if (!get_identifier(scope, (u8*)"__context", 9)) {
                print_error_on_token(closing, "It appears that the context is not available from this scope but this "
                                              "sub-program needs it.");
                return false;
            }
            continue;
        }
        if (p->flags & (PARAMETER_FILLED_IMPLICITLY | PARAMETER_FILLED_BY_THE_CALL)) continue;
        if (!p->pending_value_first) {
            print_error_on_token(closing, "Parameter '%s' does not have a default value.", get_report_name(p));
            return false;
        }
    }
    return true;
}

//~ Fixing each parameter

// A $T: Type parameter bound to a type is that type inside the instance.
static void make_type_alias(Identifier* parameter, Identifier* type) {
    u64 kept = parameter->flags & (IDENTIFIER_INLINE | PARAMETER_NOT_COPIED);
    copy_type_aliasing_stuff(parameter, type, 1);
    parameter->flags |= kept | IDENTIFIER_CONSTANT | IDENTIFIER_DECLARED;
    parameter->second_type = parameter;
}

static b8 fix_parameter(Scope* scope, Scope* binding_scope, Polymorphic_Binding* binding, u32 index, u8 constant_arguments,
                        Token* open) {
    Identifier* p = binding->parameters[index];
    Value* argument = &binding->arguments[index];
    Token* stop;
    if (p->pending_type_first && !p->type) {
        Identifier* type;
        if (!parse_type(binding_scope, &type, p->pending_type_first, p->pending_type_end, &stop,
                        PARSE_TYPE_POLYMORPHIC_SIGNATURE, 0, 0)) {
            return false;
        }
        p->type = type;
    }
    if (p->pending_value_first) {
        Value value;
        if (!parse_assignment_value(binding_scope, 0, 1, p->type, p->pending_value_first, p->parameter_end, &value)) return false;
        if (!(value.kind & VALUE_CONSTANT)) {
            print_error_on_trace(value.source, "This expression does not appear to be constant.");
            return false;
        }
        if (!p->type && !(p->flags & PARAMETER_IMPLICIT_BITS) && !p->pending_type_first) {
            p->type = infer_type_from_value(0, &value);
        }
        if (p->type && !cast_constant_to_type(&value, p->type, &value)->kind) return false;
        p->constant_value = value;
    }

    Token* first = binding->firsts[index];
    Token* end = binding->ends[index];
    if (!first || first == end) {
        *argument = p->constant_value;
        argument->source = make_trace_from_token(first ? first : (Token*)open->value);
    } else {
        u8 constant = constant_arguments || (p->flags & IDENTIFIER_CONSTANT);
        if (!parse_assignment_value(scope, 0, constant, p->type, first, end, argument)) return false;
        if (!p->type) {
            Identifier* inferred = infer_type_from_value(0, argument);
            Identifier* type = 0;
            b8 matched = inferred && p->pending_type_first &&
                         parse_type(binding_scope, &type, p->pending_type_first, p->pending_type_end, &stop, 0, inferred, 0);
            if (!matched || !type) {
                if (!inferred || !p->pending_type_first) {
                    print_error_on_trace(argument->source, "The type of this argument cannot be known.");
                }
                print_error_on_token(open, "This is the call site.");
                return false;
            }
            p->type = type;
        }
        argument->source = make_trace_from_token(first);
    }
    if (!p->type) {
        print_error_on_trace(argument->source, "The type of this argument cannot be known.");
        return false;
    }
    if (!cast_value_to_type(argument, scope, p->type, argument)->kind) return false;

    if ((p->flags & IDENTIFIER_CONSTANT) && !(p->flags & PARAMETER_FILLED_IMPLICITLY)) {
        if (!(argument->kind & VALUE_CONSTANT)) {
            print_error_on_trace(argument->source, "This expression does not appear to be constant.");
            return false;
        }
        p->constant_value = *argument;
        Constant* constant = &argument->constant;
        Identifier* type_type = global_compiler_state.basic_types[BASIC_TYPE_TYPE];
        if ((constant->mask & CONSTANT_TYPED) && constant->type == type_type && constant->data) {
            make_type_alias(p, (Identifier*)constant->data);
        }
    }
    p->flags &= ~TYPE_POLYMORPHIC;
    p->flags |= IDENTIFIER_DECLARED;
    return true;
}

//~ The instance

static b8 build_instance(Sub_Program* polymorphic, Sub_Program* instance, Scope* binding_scope, Identifier* return_type,
                         String signature, Token* open) {
    instance->flags |= polymorphic->flags & (IDENTIFIER_INLINE | IDENTIFIER_CONSTANT);
    u64 size = 0;
    u32 alignment = 1;
    for (Identifier* p = (Identifier*)binding_scope->parameters.first_element; p; p = p->next) {
        if (p->flags & IDENTIFIER_CONSTANT) continue;
        u32 a = p->type->alignment ? p->type->alignment : 1;
        if (a > alignment) alignment = a;
        size = (size + a - 1) / a * a;
        p->call_data_offset = (u32)size;
        size += p->type->size;
    }
    if (return_type) {
        u32 a = return_type->alignment ? return_type->alignment : 1;
        if (a > alignment) alignment = a;
        size = (size + a - 1) / a * a;
        instance->return_value_offset = (u32)size;
        size += return_type->size;
    }
    if (size > 0xFFFFFFFFull) {
        print_error_on_token(open, "This type is too large.");
        return false;
    }
    binding_scope->sub_program = instance;
    binding_scope->owner = instance;
    instance->body_scope = binding_scope;
    instance->member_scope = binding_scope;
    instance->element_type = return_type;
    instance->call_data_size = (u32)size;
    instance->call_data_alignment = alignment;
    instance->body_token = polymorphic->body_token;
    instance->polymorphic_origin = polymorphic;
    instance->size = global_compiler_state.address_size;
    instance->alignment = global_compiler_state.address_alignment;
    instance->signature_text = copy_to_compiler_static_strings(signature);
    if (!instance->signature_text.data) return false;
    make_constant_value_from_register(&instance->constant_value, INVALID_REGISTER_ID, instance, instance->declaration);
    instance->constant_value.constant.data = (u64)instance;
    // Built from here on: a call of the same instance inside its own body only calls it.
    instance->flags |= IDENTIFIER_DECLARED;
    if (instance->flags & IDENTIFIER_INLINE) return true;

    Scope* owner = polymorphic->body_scope->parent;
    if (!set_sub_program_registers(owner, instance)) return false;
    Token* body = polymorphic->body_token;
    Token* closing = body ? (Token*)body->value : 0;
    if (!closing) {
        print_error_on_token(open, "Sub-program '%s' has no body to compile.", get_report_name(polymorphic));
        return false;
    }
    if (call_limits.instance_depth >= POLYMORPHIC_INSTANCE_DEPTH_LIMIT) {
        print_error_on_token(open, "Instances of '%s' nest more than %u levels deep.", get_report_name(polymorphic),
                             POLYMORPHIC_INSTANCE_DEPTH_LIMIT);
        call_limits.crossed = true;
        return false;
    }
    call_limits.instance_depth++;
    b8 compiled = make_instructions_in_scope(binding_scope, body->next, closing, 0, 0);
    call_limits.instance_depth--;
    return compiled;
}

b8 parse_polymorphic_sub_program_call(Scope* scope, Sub_Program* polymorphic, Token* open, Value* out, u8 expects_value,
                                      u8 constant_arguments, Value callee) {
    memset(out, 0, sizeof(*out));
    Token* closing = (Token*)open->value;
    Scope* owner = polymorphic->body_scope->parent;
    Scope* binding_scope = _add_a_scope(owner, BASIC_SUB_PROGRAM_SCOPE_FLAGS, make_trace_from_token(open));
    if (!binding_scope) return false;
    binding_scope->sub_program = polymorphic;

    u64 used = tmp_get_used();
    Polymorphic_Binding binding;
    b8 ok = make_binding(polymorphic, binding_scope, &binding) && bind_written_arguments(polymorphic, &binding, open) &&
            check_unbound_parameters(scope, &binding, closing);
    for (u32 i = 0; ok && i < binding.count; i++) ok = fix_parameter(scope, binding_scope, &binding, i, constant_arguments, open);

    Identifier* return_type = 0;
    if (ok && polymorphic->return_type_first) {
        Token* stop;
        ok = parse_type(binding_scope, &return_type, polymorphic->return_type_first, polymorphic->return_type_end, &stop,
                        PARSE_TYPE_NO_SUB_PROGRAM, 0, 0);
        if (ok && !at_end(stop, polymorphic->return_type_end)) {
            print_error_on_token(stop, "This is unexpected.");
            ok = false;
        }
        if (ok && return_type && !return_type->pointer_depth && (return_type->flags & TYPE_VOID)) return_type = 0;
    }
    String signature = ok ? get_sub_program_signature(polymorphic, binding_scope, return_type) : String{};
    ok = ok && signature.data;
    Sub_Program* instance = 0;
    if (ok) {
        instance = get_or_add_sub_program_with_signature(scope, polymorphic->name.data, (u64)polymorphic->name.count,
                                                         signature.data, (u64)signature.count, owner, polymorphic->declaration);
        ok = instance != 0;
    }
    if (ok && (instance->flags & IDENTIFIER_DECLARATION_FAILED)) ok = false;
    if (ok && !(instance->flags & IDENTIFIER_DECLARED)) {
        if (call_limits.instance_count >= POLYMORPHIC_INSTANCE_COUNT_LIMIT) {
            print_error_on_token(open, "This layer makes more than %'u instances of polymorphic sub-programs.",
                                 POLYMORPHIC_INSTANCE_COUNT_LIMIT);
            call_limits.crossed = true;
            ok = false;
        } else {
            call_limits.instance_count++;
            ok = build_instance(polymorphic, instance, binding_scope, return_type, signature, open);
            if (!ok) instance->flags |= IDENTIFIER_DECLARATION_FAILED;
        }
    }
    if (ok && expects_value && !instance->element_type) {
        print_error_on_trace(callee.source, "This call is expected to return a value but it does not.\nSub-program type: '%s'",
                             to_tmp_c_string(instance->signature_text));
        ok = false;
    }
    if (ok) ok = issue_a_sub_program_call(scope, instance, binding.arguments, open, out, expects_value, 0, constant_arguments,
                                          INVALID_REGISTER_ID);
    tmp_set_used(used);
    if (!ok) memset(out, 0, sizeof(*out));
    return ok;
}
