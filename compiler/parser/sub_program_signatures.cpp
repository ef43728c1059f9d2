// Signature texts, the instances they key, and the call-data block of a sub-program: the
// block that carries one call's arguments and result, the views that give each parameter
// its place in it, and whether the result travels in a machine register instead.
#include "compiler/parser/parser.h"

Call_Limits call_limits;

void reset_call_limits() { call_limits = Call_Limits{}; }

//~ Signatures

String get_sub_program_signature(Sub_Program* sub_program, Scope* parameters, Identifier* return_type) {
    String text = STR("(");
    for (Identifier* p = (Identifier*)parameters->parameters.first_element; p && text.data; p = p->next) {
        if (!p->type) text = string_concat2("%?, ", text);
        else if (p->flags & IDENTIFIER_CONSTANT) text = string_concat2("%% %, ", text, type_to_string(p->type), constant_to_key_text(&p->constant_value));
        else text = string_concat2("%%, ", text, type_to_string(p->type));
    }
    if (!text.data) return text;
    if (text.count > 1) text.count -= 2;
    b8 c_call = (sub_program->flags & SUB_PROGRAM_C_CALL) != 0;
    if (return_type) text = string_concat2(c_call ? "%) #c_call -> %" : "%) -> %", text, type_to_string(return_type));
    else text = string_concat2(c_call ? "%) #c_call" : "%)", text);
    if (!text.data) report_out_of_compiler_memory("temporary memory");
    return text;
}

Sub_Program* get_or_add_sub_program_with_signature(Scope* scope, u8* name, u64 name_length, u8* signature,
                                                   u64 signature_length, Scope* declaring_scope, Trace declaration) {
    String key = string_concat2("%%", String{name, (s64)name_length}, String{signature, (s64)signature_length});
    if (!key.data) {
        report_out_of_compiler_memory("temporary memory");
        return 0;
    }
    for (Scope* s = scope; s; s = s->parent) {
        Identifier* found = get_identifier_in_list(s, IDENTIFIER_KIND_CONSTANT, key.data, (u64)key.count);
        if (found) return found;
    }
    // A key longer than a bucket of the static strings gets a bucket of its own there.
    String copy = copy_to_compiler_static_strings(key);
    if (!copy.data) return 0;
    Scope* home = declaring_scope ? declaring_scope : scope;
    Sub_Program* instance = add_identifier(home, copy.data, (u64)copy.count, IDENTIFIER_KIND_CONSTANT, declaration);
    if (!instance) return 0;
    instance->flags |= TYPE_SUB_PROGRAM;
    instance->type = instance;
    instance->second_type = instance;
    instance->self = instance;
    instance->leaf_type = instance;
    return instance;
}

//~ The call-data block

// Kinds of a result that comes back in a machine register.
#define SCALAR_RESULT_KINDS (TYPE_ENUM | TYPE_UNSIGNED | TYPE_SIGNED | TYPE_FLOAT | TYPE_TYPE | TYPE_BOOLEAN)

Identifier* get_result_type(Sub_Program* sub_program) {
    Identifier* type = sub_program->element_type;
    return type && !type->pointer_depth && (type->flags & TYPE_VOID) ? 0 : type;
}

char* get_report_name(Identifier* identifier) {
    if (identifier->polymorphic_origin) identifier = identifier->polymorphic_origin;
    return tcstring("%.*s", (int)identifier->name.count, (char*)identifier->name.data);
}

void set_sub_program_additional_flags(Sub_Program* sub_program) {
    Identifier* result = get_result_type(sub_program);
    if (!result || (sub_program->flags & IDENTIFIER_FOREIGN)) return;
    if (result->pointer_depth || (result->flags & SCALAR_RESULT_KINDS)) sub_program->flags |= SUB_PROGRAM_SCALAR_RETURN;
}

b8 set_sub_program_registers(Scope* scope, Sub_Program* sub_program) {
    if (sub_program->flags & IDENTIFIER_INLINE) return true;
    sub_program->register_id = INVALID_REGISTER_ID;
    if (sub_program->call_data_size) {
        Register_Id block = allocate_a_register_for_call_data(scope, sub_program, sub_program->call_data_size);
        if (!register_id_is_valid(block)) return false;
        block.owner = 0;
        get_register(block)->alignment = sub_program->call_data_alignment;
        sub_program->register_id = block;
        Scope* parameters = sub_program->body_scope;
        for (Identifier* p = (Identifier*)parameters->parameters.first_element; p; p = p->next) {
            if ((p->flags & IDENTIFIER_CONSTANT) || !p->type) continue;
            p->register_id = allocate_within_register(block, p->call_data_offset, p->type->size);
            if (!register_id_is_valid(p->register_id)) return false;
            // A parameter is a variable: no instruction may take its place as a temporary.
            mark_register_as_owned_by_identifier(scope, p->register_id);
        }
    }
    set_sub_program_additional_flags(sub_program);
    return true;
}

Register_Id make_return_slot(Sub_Program* sub_program) {
    Identifier* result = get_result_type(sub_program);
    if (!result || !register_id_is_valid(sub_program->register_id)) return INVALID_REGISTER_ID;
    Register_Id slot = allocate_within_register(sub_program->register_id, sub_program->return_value_offset, result->size);
    if (!register_id_is_valid(slot) || !(sub_program->flags & SUB_PROGRAM_SCALAR_RETURN)) return slot;
    Identifier* resolved = get_resolved_type(get_enum_base(result));
    b8 real = !result->pointer_depth && resolved && (resolved->flags & TYPE_FLOAT);
    get_register(slot)->return_register = real ? RETURN_REGISTER_XMM0 : RETURN_REGISTER_RAX;
    return slot;
}

b8 copy_into_return_slot(Scope* scope, Sub_Program* sub_program, Value* value) {
    Register_Id slot = make_return_slot(sub_program);
    if (!register_id_is_valid(slot)) {
        print_error_on_trace(value->source, "Sub-program %.*s has no place for its result.", (int)sub_program->name.count,
                             (char*)sub_program->name.data);
        return false;
    }
    Value destination;
    make_dynamic_value_from_register(&destination, slot, get_result_type(sub_program), value->source);
    if (!(sub_program->flags & SUB_PROGRAM_SCALAR_RETURN)) {
        return try_to_get_rid_of_copy(scope, &destination, value) || instruction_copy_value(scope, &destination, value);
    }
    // A result on its way to RAX or XMM0 arrives by a plain move, never as the target of
    // the instruction that computed it, nor read through an address on the way.
    if (value->kind & VALUE_CONSTANT) return instruction_copy_constant(scope, &destination, value);
    Value loaded = *value;
    if ((loaded.kind & VALUE_INDIRECT) && !copy_dynamic_value(&loaded, scope, value)->kind) return false;
    Instruction* copy = allocate_an_instruction(scope, INSTRUCTION_COPY);
    if (!copy) return false;
    set_instruction_for_a_variable_copy(copy, &destination, &loaded);
    return true;
}
