// Array types: "[] T" and "[N] T", found by name along the element type's scopes or made
// once as instances of the support source's __Array and __Fixed_Size_Array, whose bodies
// the polymorphic structs lay out.
#include "compiler/core/compiler_core.h"

Identifier* get_or_add_array_type_from(Identifier* element, Trace use, Value* count) {
    b8 fixed = count && count->kind;
    Basic_Type_Slot origin_slot = fixed ? BASIC_TYPE_FIXED_SIZE_ARRAY : BASIC_TYPE_ARRAY;
    u64 used = tmp_get_used();
    String name = fixed ? string_concat2("[%] %", tstring_small("%llu", (unsigned long long)count->constant.data),
                                         element->name)
                        : string_concat2("[] %", element->name);
    if (!name.data) {
        report_out_of_compiler_memory("temporary memory");
        return 0;
    }
    Identifier* type = get_identifier(element->scope, name.data, (u64)name.count);
    if (type) {
        tmp_set_used(used);
        return type;
    }
    Identifier* origin = global_compiler_state.basic_types[origin_slot];
    if (!origin) {
        print_error_on_trace(use, "The support source does not declare '%s'.", fixed ? "__Fixed_Size_Array" : "__Array");
        return 0;
    }
    String copy = copy_to_compiler_static_strings(name);
    tmp_set_used(used);
    if (!copy.data) return 0;

    Value arguments[2];
    make_constant_value_from_type(&arguments[0], element, element->declaration);
    if (fixed) arguments[1] = *count;
    type = make_struct_from_polymorphic_using_arguments(origin, element->scope, arguments, copy, use);
    if (!type) return 0;
    type->flags |= fixed ? TYPE_ARRAY | TYPE_FIXED_SIZE_ARRAY : TYPE_ARRAY;
    type->element_type = element;
    return type;
}
