// Test fixtures for the compiler core: a source file over a test's own text, tokenised,
// and a look at the reports a step left.
#pragma once

#include <string.h>
#include <string>
#include <vector>

#include "compiler/core/compiler_core.h"

// A source file of the current compile whose text is the given string (kept alive by the
// caller), tokenised unless asked otherwise.
inline Source_File* add_test_source(const std::string& text, const char* path = "test.8", bool tokenise = true) {
    Source_File* file = (Source_File*)dynamic_array_add_fast(&global_compiler_state.source_files);
    memset(file, 0, sizeof(*file));
    file->index = global_compiler_state.source_files.count - 1;
    file->path = string_from_c(path);
    file->text = text.empty() ? nullptr : (u8*)text.data();
    file->text_size = (u32)text.size();
    file->state = 1;
    init_bucket_array(&file->tokens, &tokens_pool);
    if (tokenise) tokenise_file(file);
    return file;
}

inline Token* first_token(Source_File* file) { return (Token*)file->tokens.first_element; }

inline Token* token_at(Source_File* file, u32 index) {
    Token* token = first_token(file);
    while (token && index--) token = token->next;
    return token;
}

inline Compile_Error* get_compile_error(u32 index) {
    return index < compile_errors.count ? (Compile_Error*)compile_errors.data + index : nullptr;
}

inline std::vector<std::string> compile_error_messages() {
    std::vector<std::string> messages;
    for (u32 i = 0; i < compile_errors.count; i++) messages.push_back((char*)get_compile_error(i)->message);
    return messages;
}

inline std::string captured_text(Compile_Error* error) {
    return std::string((char*)error->captured, error->captured_length);
}

// A compile's start as the pipeline makes it: the reset, then the basic types.
inline bool reset_with_basic_types() { return reset_compiler() && add_the_basic_types(); }

inline Identifier* basic_type(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

inline std::string text_of(String s) { return s.data ? std::string((char*)s.data, (size_t)s.count) : std::string(); }

// A struct type declared in a scope, with members laid out one after another.
inline Identifier* add_test_struct(Scope* scope, const char* name,
                                   std::vector<std::pair<const char*, Identifier*>> members = {}) {
    Identifier* type = add_identifier(scope, (u8*)name, strlen(name), IDENTIFIER_KIND_CONSTANT, Trace{});
    type->type = basic_type(BASIC_TYPE_TYPE);
    type->self = type;
    type->leaf_type = type;
    type->flags = IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT | TYPE_STRUCT;
    type->alignment = 8;
    type->member_scope = _add_a_scope(scope, SCOPE_STRUCT_MEMBERS, Trace{});
    type->member_scope->owner = type;
    type->constant_value.kind = VALUE_CONSTANT;
    type->constant_value.constant.mask = CONSTANT_TYPED_SIGNED;
    type->constant_value.constant.data = (u64)type;
    type->constant_value.constant.type = basic_type(BASIC_TYPE_TYPE);
    for (auto& [member, member_type] : members) add_a_struct_member(type, string_from_c(member), 0, member_type->size, member_type);
    return type;
}
