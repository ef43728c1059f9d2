// libFuzzer target of the terminal's output parser. An input is a split pattern and a
// stream of output: its first octet says how many chunk lengths follow (0 to 15), each one
// octet (a chunk of 1 to 256 octets), and the rest is the output, fed in chunks of those
// lengths in turn as reads would bring it. Holds: no crash and no read past the text (the
// whole stream ends at a page without access); the tokens, line count and colours after
// the chunks are those of the whole stream at once; tokens lie in order inside the parsed
// text, the line count is the number of breaks plus one, and their number is bounded.
#include "terminal/terminal.h"
#include "tests/fuzz_input.h"

static Guarded_Room get_room() {
    static Guarded_Room room;
    if (!room.start) {
        room = make_guarded_room(1 << 20);
        CHECK(init_memory(PROGRAM_EDITOR));
        tmp_claim_slot();
        fill_terminal_big_colour_table();
    }
    return room;
}

static void start_block(Terminal_Result* block) {
    memset(block, 0, sizeof(*block));
    init_dynamic_array(&block->text, 1);
    init_dynamic_array(&block->tokens, sizeof(Terminal_Token));
    reset_terminal_result_text(block);
}

static b8 same_colour(Rgba a, Rgba b) { return memcmp(&a, &b, sizeof(a)) == 0; }

static void check_consistent(Terminal_Result* block, u64 positions) {
    Terminal_Token* tokens = (Terminal_Token*)block->tokens.data;
    CHECK(block->parse_position <= block->text.count);
    u32 breaks = 0;
    for (u32 i = 0; i < block->tokens.count; i++) {
        Terminal_Token* t = &tokens[i];
        CHECK(t->kind == TERMINAL_TOKEN_TEXT || t->kind == TERMINAL_TOKEN_NEW_LINE);
        CHECK(t->offset + t->length <= block->parse_position);
        CHECK(i == 0 || t->offset >= tokens[i - 1].offset + tokens[i - 1].length);
        if (t->kind == TERMINAL_TOKEN_TEXT) {
            CHECK(t->length > 0);
            for (u32 k = 0; k < t->length; k++) {
                u8 c = block->text.data[t->offset + k];
                CHECK(c != 0 && c != '\n' && c != '\r' && c != 0x1B);
            }
        }
        breaks += t->kind == TERMINAL_TOKEN_NEW_LINE;
    }
    CHECK(block->line_count == breaks + 1);
    CHECK(block->tokens.count <= block->text.count + positions * TERMINAL_MAX_BREAKS_PER_POSITION);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Guarded_Room room = get_room();
    u32 chunk_lengths[15];
    u32 chunk_count = size ? data[0] % 16 : 0;
    if (size < 1 + (u64)chunk_count) return 0;
    for (u32 i = 0; i < chunk_count; i++) chunk_lengths[i] = 1u + data[1 + i];
    const u8* stream = data + 1 + chunk_count;
    u64 length = size - 1 - chunk_count;
    if (length > room.size) return 0;
    u64 positions = 0;
    for (u64 i = 0; i < length; i++) positions += stream[i] == 'H';

    // The whole stream, its text ending at the page without access.
    u8* text = place_before_guard(room, stream, length);
    Terminal_Result whole;
    start_block(&whole);
    Dynamic_Array own_text = whole.text;
    whole.text.data = text;
    whole.text.count = (u32)length;
    whole.text.capacity = (u32)length;
    tokenise_terminal_result(&whole);
    check_consistent(&whole, positions);

    // The same in chunks.
    Terminal_Result pieces;
    start_block(&pieces);
    u64 at = 0;
    for (u32 n = 0; at < length; n++) {
        u64 take = chunk_count ? chunk_lengths[n % chunk_count] : length;
        if (take > length - at) take = length - at;
        u8* into = (u8*)dynamic_array_add_fast_multiple(&pieces.text, (u32)take);
        CHECK(into);
        memcpy(into, stream + at, take);
        at += take;
        tokenise_terminal_result(&pieces);
    }
    tokenise_terminal_result(&pieces);
    check_consistent(&pieces, positions);

    CHECK(pieces.parse_position == whole.parse_position);
    CHECK(pieces.line_count == whole.line_count);
    CHECK(pieces.tokens.count == whole.tokens.count);
    CHECK(pieces.default_colour == whole.default_colour);
    CHECK(same_colour(pieces.foreground, whole.foreground) && same_colour(pieces.background, whole.background));
    Terminal_Token* a = (Terminal_Token*)whole.tokens.data;
    Terminal_Token* b = (Terminal_Token*)pieces.tokens.data;
    for (u32 i = 0; i < whole.tokens.count; i++) {
        CHECK(a[i].kind == b[i].kind && a[i].offset == b[i].offset && a[i].length == b[i].length);
        CHECK(a[i].default_colour == b[i].default_colour);
        CHECK(same_colour(a[i].foreground, b[i].foreground) && same_colour(a[i].background, b[i].background));
    }

    whole.text = own_text;
    dynamic_array_free(&whole.text);
    dynamic_array_free(&whole.tokens);
    dynamic_array_free(&pieces.text);
    dynamic_array_free(&pieces.tokens);
    tmp_reset();
    return 0;
}
