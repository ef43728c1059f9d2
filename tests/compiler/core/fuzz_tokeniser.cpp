// libFuzzer target of the tokeniser. Each input is placed so that its last octet is the
// last readable one before a page without access: a read past the text faults at once.
// Holds: no crash; true with no report or false with exactly one; every link points forward
// to a token of the right kind, and bracket groups nest.
#include <unordered_map>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "tests/fuzz_input.h"

static Guarded_Room get_room() {
    static Guarded_Room room;
    if (!room.start) {
        room = make_guarded_room(1 << 20);
        CHECK(init_memory(PROGRAM_EDITOR));
        CHECK(init_compiler(STR(".")));
    }
    return room;
}

static u64 closer_kind(u64 opener) {
    return opener == TOKEN_OPEN_BRACE ? TOKEN_CLOSE_BRACE
           : opener == TOKEN_OPEN_PARENTHESIS ? TOKEN_CLOSE_PARENTHESIS
                                              : TOKEN_CLOSE_BRACKET;
}

static void check_tokens(Source_File* file, b8 complete) {
    std::unordered_map<Token*, u64> position;
    std::vector<Token*> tokens;
    for (Token* token = (Token*)file->tokens.first_element; token; token = token->next) {
        position[token] = tokens.size();
        tokens.push_back(token);
        CHECK(token->text >= file->text && token->text + token->length <= file->text + file->text_size);
    }
    CHECK(tokens.size() == file->tokens.count);

    std::vector<Token*> open;
    for (u64 i = 0; i < tokens.size(); i++) {
        Token* token = tokens[i];
        if (token->kind & (TOKEN_SCOPE_START | TOKEN_COLON)) {
            Token* target = (Token*)token->value;
            CHECK(target || !complete);
            if (target) {
                CHECK(position.count(target) && position[target] > i);
                u64 wanted = token->kind == TOKEN_COLON ? TOKEN_SEMICOLON : closer_kind(token->kind);
                CHECK(target->kind == wanted);
            }
        }
        if (token->kind == TOKEN_COLON && token->value) {
            u64 j = i + 1;
            while (tokens[j]->kind != TOKEN_SEMICOLON) j++;
            CHECK(tokens[j] == (Token*)token->value);  // the first ';' after it
        }
        if (token->kind & TOKEN_SCOPE_START) open.push_back(token);
        if (token->kind & TOKEN_SCOPE_END) {
            CHECK(!open.empty());
            CHECK((Token*)open.back()->value == token);
            open.pop_back();
        }
    }
    if (complete) CHECK(open.empty());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    u8* text = place_before_guard(get_room(), data, size);
    if (!text) return 0;

    CHECK(reset_compiler());
    Source_File* file = (Source_File*)dynamic_array_add_fast(&global_compiler_state.source_files);
    CHECK(file);
    memset(file, 0, sizeof(*file));
    file->path = STR("fuzz.8");
    file->text = text;
    file->text_size = (u32)size;
    init_bucket_array(&file->tokens, &tokens_pool);

    b8 complete = tokenise_file(file);
    CHECK(compile_errors.count == (complete ? 0u : 1u));
    check_tokens(file, complete);
    if (!complete) {
        String report = compile_error_to_text((Compile_Error*)compile_errors.data, true);
        CHECK(report.data);
    }
    tmp_reset();
    return 0;
}
