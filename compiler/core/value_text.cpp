// Values and constants as text: what messages show, what listings print and what the
// parser keys sub-program signatures by. Apart from to_text.cpp because a struct constant
// is read through its register.
#include <string.h>

#include "compiler/core/compiler_core.h"

// A text that cannot be had fails the compile, as any other memory would.
static String or_report(String text) {
    if (!text.data) report_out_of_compiler_memory("temporary memory");
    return text;
}

static String trace_text(Trace trace) { return String{trace.text_start, (s64)trace.length}; }

static b8 holds_a_type(Constant* constant) {
    Identifier* type_type = global_compiler_state.basic_types[BASIC_TYPE_TYPE];
    return (constant->mask & CONSTANT_TYPED) && type_type && constant->type == type_type;
}

static f64 constant_real(Constant* constant) {
    f64 real;
    memcpy(&real, &constant->data, sizeof(real));
    return real;
}

String value_to_string(Value* value) {
    if (!(value->kind & VALUE_CONSTANT)) return trace_text(value->source);
    Constant* constant = &value->constant;
    if (holds_a_type(constant)) return ((Identifier*)constant->data)->name;
    if (constant->mask & CONSTANT_INTEGER) return or_report(tstring_small("0x%llx", (unsigned long long)constant->data));
    if (constant->mask & CONSTANT_REAL) return or_report(tstring("%f", constant_real(constant)));
    if (constant->mask & CONSTANT_STRING) return String{(u8*)constant->data, (s64)constant->length};
    return trace_text(value->source);
}

// "0x<address> {", every token strictly inside the block after a blank, then "}".
static String code_to_string(Token* opening) {
    Token* closing = (Token*)opening->value;
    String head = tstring_small("0x%llx {", (unsigned long long)(u64)opening);
    u64 length = (u64)head.count + 1;
    for (Token* token = opening->next; token && token != closing; token = token->next) length += 1 + token->length;
    u8* text = tmp_allocate(length);
    if (!head.data || !text) return or_report(String{});
    u8* out = text;
    memcpy(out, head.data, (u64)head.count);
    out += head.count;
    for (Token* token = opening->next; token && token != closing; token = token->next) {
        *out++ = ' ';
        memcpy(out, token->text, token->length);
        out += token->length;
    }
    *out++ = '}';
    return String{text, out - text};
}

// Each staged octet as "0x%x", with no separator.
static String struct_octets_to_string(Constant* constant) {
    u8* octets = get_register_constant_data(constant->register_id);
    u32 size = constant->type->size;
    if (!octets) return String{};
    u8* text = tmp_allocate((u64)size * 4);
    if (!text) return or_report(String{});
    s64 length = 0;
    for (u32 i = 0; i < size; i++) {
        static const char DIGITS[] = "0123456789abcdef";
        text[length++] = '0';
        text[length++] = 'x';
        if (octets[i] >= 16) text[length++] = DIGITS[octets[i] >> 4];
        text[length++] = DIGITS[octets[i] & 15];
    }
    return String{text, length};
}

String constant_to_string(Value* value) {
    Constant* constant = &value->constant;
    if (holds_a_type(constant)) {
        Identifier* type = (Identifier*)constant->data;
        return or_report(tstring("0x%llx (%.*s)", (unsigned long long)(u64)type, (int)type->name.count, (char*)type->name.data));
    }
    if (constant->mask & CONSTANT_REAL) return or_report(tstring("%f", constant_real(constant)));
    if (constant->mask & CONSTANT_INTEGER) return or_report(tstring_small("0x%llx", (unsigned long long)constant->data));
    if (constant->mask & CONSTANT_STRING) return String{(u8*)constant->data, (s64)constant->length};
    if (constant->mask & CONSTANT_CODE) return code_to_string((Token*)constant->data);
    Identifier* type = constant->type;
    if (type && (type->flags & TYPE_ARRAY)) return string_from_c(register_id_to_c_string(constant->register_id));
    if (type && (type->flags & TYPE_STRUCT)) return struct_octets_to_string(constant);
    return String{};
}
