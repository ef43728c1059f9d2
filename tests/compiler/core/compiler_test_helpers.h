// Test fixtures for the compiler core: a source file over a test's own text, tokenised,
// and a look at the reports a step left.
#pragma once

#include <string.h>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "stand_ins.h"

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

inline std::string read_core_fixture(const char* name) {
    std::ifstream in(std::string(QUARN_COMPILER_CORE_FIXTURES) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The test's declarations in the global scope, recorded as the preparse records them and
// each used once in order, as a first use parses it. The text must outlive the compile.
inline bool declare_test_source(const std::string& text, const char* path = "test.8") {
    Source_File* file = add_test_source(text, path);
    return compile_errors.count == 0 && stand_in_preparse(global_compiler_state.global_scope, first_token(file), nullptr, true);
}

// The support source's __Array, __Fixed_Size_Array and Code, from the fixture "inject.8".
inline bool add_support_types() {
    static const std::string text = read_core_fixture("inject.8");
    return declare_test_source(text, "inject.8") && add_the_support_types();
}

// A compile's start with the support types: arrays can be made.
inline bool reset_with_support_types() { return reset_with_basic_types() && add_support_types(); }

inline Identifier* find_global(const char* name) {
    return get_identifier(global_compiler_state.global_scope, (u8*)name, strlen(name));
}
