// Tokens, sizes, operators and register handles as text for messages and listings. The
// spellings come from the token-kind and operator tables of the records header.
#include <string.h>

#include "compiler/core/compiler_core.h"

char* token_to_c_string(Token* token) {
    char* text = to_tmp_c_string(String{token->text, (s64)token->length});
    return text ? text : (char*)"";
}

char* size_to_c_string(u64 size) {
    char* text = size == 1 ? tcstring_small("1 byte") : tcstring_small("%llu bytes", (unsigned long long)size);
    return text ? text : (char*)"";
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
    char* text = tcstring_small("0x%llx-%u", (unsigned long long)((u64)id.owner & 0xFFFFFF), id.index);
    return text ? text : (char*)"";
}
