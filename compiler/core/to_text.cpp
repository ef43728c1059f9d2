// Tokens, sizes, operators and register handles as text for messages and listings. The
// spellings come from the token-kind and operator tables of the records header.
#include <string.h>

#include "compiler/core/compiler_core.h"

// A text that cannot be had fails the compile, as any other memory would.
static char* or_report(char* text) {
    if (text) return text;
    report_out_of_compiler_memory("temporary memory");
    return (char*)"";
}

char* token_to_c_string(Token* token) {
    return or_report(to_tmp_c_string(String{token->text, (s64)token->length}));
}

char* size_to_c_string(u64 size) {
    return or_report(size == 1 ? tcstring_small("1 byte") : tcstring_small("%llu bytes", (unsigned long long)size));
}

const char* operator_to_c_string(u64 operator_bit) {
    switch (operator_bit) {
#define X(name, bit, text) case bit: return text;
        OPERATOR_LIST(X)
#undef X
    }
    return "INVALID OPERATOR";
}

const char* token_kind_to_c_string(u64 kind) {
    switch (kind) {
#define X(name, bit, text) case bit: return text;
        TOKEN_KIND_LIST(X)
#undef X
    }
    return "?";
}

char* register_id_to_c_string(Register_Id id) {
    return or_report(tcstring_small("0x%llx-%u", (unsigned long long)((u64)id.owner & 0xFFFFFF), id.index));
}
