#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor_test_helpers.h"
#include "tests/test_seed.h"

namespace {

// Runs the undo records on a clock of the test's own, from an hour in, and gives the
// monotonic clock back afterwards.
struct Test_Clock {
    Test_Clock() { editor_clock_override = 3600ull * 1000000ull; }
    ~Test_Clock() { editor_clock_override = 0; }
    void wait(u64 microseconds) { editor_clock_override += microseconds; }
};

// What the layer's character routine does for one typed octet.
void type_octets(Editor_File* file, const std::string& text, bool mergeable = true) {
    s64 at = file->cursor;
    ASSERT_TRUE(editor_insert_octets(file, at, (u8*)text.data(), (s64)text.size()));
    add_text_insertion_undo(file, at, (s64)text.size(), at, mergeable);
    editor_set_cursor(file, at + (s64)text.size());
}

Undo_Record* undo_records(Editor_File* file) { return (Undo_Record*)file->undo_records.data; }

// The last token that starts before the offset, by a forward lex from the start: what the
// backward lexer must answer, whatever it remembered of the text before a change.
s64 previous_token_by_forward_lex(Editor_File* file, s64 offset, Editor_Token* out) {
    Editor_Token token;
    s64 found = -1;
    Tokenisation_Hint* hint = get_tokenisation_hint_for_file(file);
    for (s64 at = 0; lex_next_token(file->text.data, file->text.count, at, hint, &token) >= 0 && token.offset < offset;) {
        *out = token;
        found = token.offset + token.length;
        at = found;
    }
    return found;
}

}  // namespace

TEST(Undo, TypingMergesWithinHalfASecondAndDirectlyBehind) {
    struct Step { u64 wait; s64 offset; const char* text; bool mergeable; };
    struct Case { const char* name; std::vector<Step> steps; std::vector<s64> lengths; std::vector<u8> kinds; };
    const u8 T = UNDO_TYPED_INSERTION, I = UNDO_INSERTION;
    const Case cases[] = {
        {"a burst is one record", {{0, -1, "a", true}, {499999, -1, "b", true}, {499999, -1, "c", true}}, {3}, {T}},
        {"half a second apart", {{0, -1, "a", true}, {500000, -1, "b", true}}, {1, 1}, {T, T}},
        {"not directly behind", {{0, -1, "ab", true}, {10, 0, "c", true}}, {2, 1}, {T, T}},
        {"an insertion never absorbs", {{0, -1, "ab", false}, {10, -1, "c", true}}, {2, 1}, {I, T}},
        {"nor is it absorbed", {{0, -1, "ab", true}, {10, -1, "c", false}}, {2, 1}, {T, I}},
        {"the wait counts from the last extension", {{0, -1, "a", true}, {400000, -1, "b", true}, {400000, -1, "c", true}}, {3}, {T}},
        {"empty text records nothing", {{0, -1, "", true}}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_Clock clock;
        Test_File file("");
        for (const Step& s : c.steps) {
            clock.wait(s.wait);
            if (s.offset >= 0) editor_set_cursor(file, s.offset);
            type_octets(file, s.text, s.mergeable);
        }
        ASSERT_EQ(file->undo_records.count, c.lengths.size());
        for (u32 i = 0; i < c.lengths.size(); i++) {
            EXPECT_EQ(undo_records(file)[i].insertion.length, c.lengths[i]);
            EXPECT_EQ(undo_records(file)[i].kind, c.kinds[i]);
        }
    }
}

TEST(Undo, OneUndoTakesBackABurstOfTyping) {
    Test_Clock clock;
    Test_File file("xy@z");
    type_octets(file, "a");
    clock.wait(100000);
    type_octets(file, "b");
    clock.wait(100000);
    type_octets(file, "c");
    EXPECT_EQ(marked_text(file), "xyabc@z");
    editor_undo(file);
    EXPECT_EQ(marked_text(file), "xy@z");
    EXPECT_EQ(file->undo_records.count, 0u);
}

TEST(Undo, RecordsExpireAfterTenMinutesWhereverTheyStand) {
    Test_Clock clock;
    Test_File file("");
    type_octets(file, "a", false);
    clock.wait(60000000);
    type_octets(file, "b", false);
    clock.wait(540000000);  // the first is 600,000,000 old: kept
    type_octets(file, "c", false);
    ASSERT_EQ(file->undo_records.count, 3u);
    clock.wait(1);  // now 600,000,001: gone when the next record is made
    EXPECT_EQ(file->undo_records.count, 3u);
    editor_delete_at(file, 0, 1);
    ASSERT_EQ(file->undo_records.count, 3u);
    EXPECT_EQ(undo_records(file)[0].offset, 1);  // "b" is first now
    // Expired deletions give their saved text back: the leak check sees it.
    clock.wait(700000000);
    type_octets(file, "d", false);
    EXPECT_EQ(file->undo_records.count, 1u);
}

TEST(Undo, EachKindIsTakenBack) {
    struct Case {
        const char* name;
        const char* marked;
        std::function<void(Editor_File*)> change;
        const char* changed;       // marked text after the change
        const char* undone;        // marked text after one undo
        bool selection_after_undo;
        s64 anchor_after_undo;
    };
    const Case cases[] = {
        {"deletion keeps the cursor", "abc@def", [](Editor_File* f) { editor_delete_at(f, 0, 2); }, "cde@f", "abc@def", false, 3},
        {"deletion before a cursor past the end", "abcdef@", [](Editor_File* f) { editor_delete_at(f, 2, 4); }, "ab@", "abcdef@", false, 6},
        {"deleting a selection selects it again", "ab#cde@f",
         [](Editor_File* f) {
             current_file = f;
             editor_delete_selection();
         },
         "ab@f", "abcde@f", true, 2},
        {"a selection deleted backwards", "ab@cde#f",
         [](Editor_File* f) {
             current_file = f;
             editor_delete_selection();
         },
         "ab@f", "abcde@f", true, 2},
        {"insertion", "ab@", [](Editor_File* f) { type_octets(f, "xyz", false); }, "abxyz@", "ab@", false, 2},
        {"replacement", "hello@ world",
         [](Editor_File* f) { ASSERT_TRUE(editor_replace_range(f, 0, 5, (u8*)"bye", 3, f->cursor)); }, "bye w@orld",
         "hello@ world", false, 5},
        {"in place", "abc@d",
         [](Editor_File* f) {
             Gp_Allocation saved;
             ASSERT_TRUE(gp_allocate(&saved, 2));
             memcpy(saved.memory, f->text.data + 1, 2);
             memcpy(f->text.data + 1, "BC", 2);
             Undo_Record* r = (Undo_Record*)dynamic_array_add_fast(&f->undo_records);
             memset(r, 0, sizeof(*r));
             r->kind = UNDO_IN_PLACE;
             r->offset = 1;
             r->replacement.length = 2;
             r->replacement.saved_text = saved;
         },
         "aBC@d", "abc@d", false, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file(c.marked);
        c.change(file);
        EXPECT_EQ(marked_text(file), c.changed);
        atomic_and_u16(&file->flags, (u16)~(FILE_MODIFIED | FILE_NEEDS_SYNTAX));
        editor_undo(file);
        EXPECT_EQ(marked_text(file), c.undone);
        EXPECT_EQ(file->undo_records.count, 0u);
        EXPECT_EQ(file->flags & (FILE_MODIFIED | FILE_NEEDS_SYNTAX), FILE_MODIFIED | FILE_NEEDS_SYNTAX);
        EXPECT_EQ((file->flags & FILE_SELECTION_ACTIVE) != 0, c.selection_after_undo);
        EXPECT_EQ(file->selection_anchor, c.anchor_after_undo);
        EXPECT_EQ(*file->selection_start, std::min(file->cursor, file->selection_anchor));
        EXPECT_EQ(*file->selection_end, std::max(file->cursor, file->selection_anchor));
    }
    current_file = nullptr;
}

TEST(Undo, AnInPlaceChangeIsSeenByTheLexer) {
    Test_File file("abc d+f@");
    Editor_Token token;
    EXPECT_EQ(editor_get_previous_token(file, 7, &token), 7);
    EXPECT_EQ(token.offset, 6);
    // What a change of case records: the old octets, put back over the same length.
    Gp_Allocation saved;
    ASSERT_TRUE(gp_allocate(&saved, 3));
    memcpy(saved.memory, "def", 3);
    Undo_Record* r = (Undo_Record*)dynamic_array_add_fast(&file->undo_records);
    memset(r, 0, sizeof(*r));
    r->kind = UNDO_IN_PLACE;
    r->offset = 4;
    r->replacement.length = 3;
    r->replacement.saved_text = saved;
    editor_undo(file);
    EXPECT_EQ(file_text(file), "abc def");
    EXPECT_EQ(editor_get_previous_token(file, 7, &token), 7);
    EXPECT_EQ(token.offset, 4);
}

TEST(Undo, EmptyListAndRecordsThatNoLongerFitChangeNothing) {
    Test_File file("abc@");
    atomic_and_u16(&file->flags, (u16)~FILE_MODIFIED);
    u16 flags = file->flags;
    editor_undo(file);
    EXPECT_EQ(file->flags, flags);
    EXPECT_EQ(marked_text(file), "abc@");

    // Records made on a longer text (a reload or a routine that replaced the text wholesale).
    type_octets(file, "de", false);
    editor_delete_at(file, 0, 1);
    file->text.count = 1;
    file->cursor = 1;
    editor_undo(file);  // the deletion at 0 still fits: "a" comes back
    EXPECT_EQ(file_text(file), "ab");
    editor_undo(file);  // the insertion at 3 of 2 does not: dropped unapplied
    EXPECT_EQ(file_text(file), "ab");
    EXPECT_EQ(file->undo_records.count, 0u);
}

TEST(Editing, OutOfRangeRequestsChangeNothing) {
    const s64 huge = INT64_MAX;
    struct Case { const char* name; std::function<void(Editor_File*)> request; };
    const Case cases[] = {
        {"delete at a negative offset", [](Editor_File* f) { editor_delete_at(f, -1, 2); }},
        {"delete past the end", [](Editor_File* f) { editor_delete_at(f, 4, 3); }},
        {"delete a negative length", [](Editor_File* f) { editor_delete_at(f, 2, -1); }},
        {"delete an overflowing range", [=](Editor_File* f) { editor_delete_at(f, 2, huge); }},
        {"delete at a huge offset", [=](Editor_File* f) { editor_delete_at(f, huge, 1); }},
        {"delete at the lowest offset", [](Editor_File* f) { editor_delete_at(f, INT64_MIN, 3); }},
        {"insert at a negative offset", [](Editor_File* f) { EXPECT_FALSE(editor_insert_octets(f, -1, (u8*)"x", 1)); }},
        {"insert past the end", [](Editor_File* f) { EXPECT_FALSE(editor_insert_octets(f, 7, (u8*)"x", 1)); }},
        {"insert a huge count", [=](Editor_File* f) { EXPECT_FALSE(editor_insert_octets(f, 0, nullptr, huge)); }},
        {"record an insertion past the end", [](Editor_File* f) { add_text_insertion_undo(f, 5, 2, 0, 1); }},
        {"record an overflowing insertion", [=](Editor_File* f) { add_text_insertion_undo(f, 1, huge, 0, 1); }},
        {"replace past the end", [](Editor_File* f) { EXPECT_FALSE(editor_replace_range(f, 3, 4, (u8*)"x", 1, 0)); }},
        {"replace with a negative length", [](Editor_File* f) { EXPECT_FALSE(editor_replace_range(f, 0, 1, (u8*)"x", -1, 0)); }},
        {"colour at a negative offset", [](Editor_File* f) { editor_set_text_colour(f, -3, 2, Rgba{1, 0, 0, 1}); }},
        {"colour at the end", [](Editor_File* f) { editor_set_text_colour(f, 6, 2, Rgba{1, 0, 0, 1}); }},
        {"colour at a huge offset", [=](Editor_File* f) { editor_set_text_colour(f, huge, 0xFFFFFFFF, Rgba{1, 0, 0, 1}); }},
        {"read at a negative offset", [](Editor_File* f) { EXPECT_EQ(editor_get_text_at(f, -1, 2).data, nullptr); }},
        {"read past the end", [](Editor_File* f) { EXPECT_EQ(editor_get_text_at(f, 5, 2).data, nullptr); }},
        {"read an overflowing range", [=](Editor_File* f) { EXPECT_EQ(editor_get_text_at(f, huge, 0xFFFFFFFF).data, nullptr); }},
        {"padding record past the end", [](Editor_File* f) {
             Gp_Allocation old;
             ASSERT_TRUE(gp_allocate(&old, 3));
             add_padding_undo(f, 4, 5, 0, old);  // freed, not kept: the leak check sees it
         }},
        {"cursors past the end", [=](Editor_File* f) {
             f->cursor = huge;
             f->previous_cursor = -5;
             editor_go_to_line_padding_end(f);
             editor_go_to_previous_cursor_position(f);
             f->cursor = 2;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_File file("ab@cdef");
        c.request(file);
        EXPECT_EQ(file_text(file), "abcdef");
        EXPECT_EQ(file->undo_records.count, 0u);
        EXPECT_EQ(file->colour_chunks.count, 0u);
        EXPECT_EQ(file->cursor, 2);
    }
}

TEST(Editing, RemovingNothingFromAnEmptyTextIsHarmless) {
    Test_File file("");
    EXPECT_TRUE(editor_remove_octets(file, 0, 0));
    EXPECT_EQ(file->text.count, 0u);
}

TEST(Editing, TextReadsServeRangesUpToTheEnd) {
    Test_File file("abc");
    struct Case { s64 offset; u32 length; const char* expected; };
    const Case cases[] = {{0, 2, "ab"}, {0, 3, "abc"}, {2, 1, "c"}, {3, 1, nullptr}, {1, 3, nullptr}, {3, 0, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << "+" << c.length);
        String s = editor_get_text_at(file, c.offset, c.length);
        if (!c.expected) {
            EXPECT_EQ(s.data, nullptr);
        } else {
            EXPECT_EQ(std::string((char*)s.data, s.count), c.expected);
        }
    }
    current_file = file;
    EXPECT_EQ(editor_get_text_at(nullptr, 1, 2).count, 2);
    current_file = nullptr;
    EXPECT_EQ(editor_get_text_at(nullptr, 1, 2).data, nullptr);
}

TEST(Editing, LinePaddingEndAndPreviousPosition) {
    struct Case { const char* marked; const char* expected; };
    const Case cases[] = {
        {"x\n  \t ab@c", "x\n  \t @abc"},
        {"x\n  \t @abc", "x\n@  \t abc"},
        {"x\n  @\t abc", "x\n@  \t abc"},
        {"x\n@  \t abc", "x\n@  \t abc"},
        {"abc@", "@abc"},
        {"x\n    @", "x\n@    "},
        {"@", "@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.marked);
        Test_File file(c.marked);
        s64 before = file->cursor;
        editor_go_to_line_padding_end(file);
        EXPECT_EQ(marked_text(file), c.expected);
        EXPECT_TRUE(file->flags & FILE_CURSOR_MOVED);
        // Back and forth between the two places.
        editor_go_to_previous_cursor_position(file);
        EXPECT_EQ(file->cursor, before);
        editor_go_to_previous_cursor_position(file);
        EXPECT_EQ(marked_text(file), c.expected);
    }
}

TEST(Editing, DeletingTheSelectionLeavesNoAnchorPastTheText) {
    Test_File file("ab#cdef@");
    current_file = file;
    editor_delete_selection();
    current_file = nullptr;
    EXPECT_EQ(marked_text(file), "ab@");
    EXPECT_FALSE(file->flags & FILE_SELECTION_ACTIVE);
    EXPECT_EQ(file->selection_anchor, 2);
    EXPECT_LE(file->previous_cursor, 2);
}

// Thousands of random edits of every recorded kind, then undo all the way back: after
// each undo the text must be what it was before the change that record took back.
TEST(Undo, RandomEditsUndoneStepByStep) {
    u32 seed = (u32)test_seed(3141);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    auto pick = [&](s64 n) { return n <= 0 ? 0 : (s64)(random() % (u64)n); };
    const char* words[] = {"count", "counter", "count_all", "p", ".", "->", "name", "nation", " ", "  ", "\n", "\r\n",
                           "=", "==", "x", "\t", "co", "na", "é"};
    auto random_text = [&](int n) {
        std::string s;
        for (int i = 0; i < n; i++) s += words[random() % (sizeof(words) / sizeof(words[0]))];
        return s;
    };

    Test_Clock clock;
    Test_File file(random_text(40));
    current_file = file;
    std::vector<std::string> before_record;  // the text before each record's change
    u32 recorded_by[7] = {};
    bool complete_next = false;
    for (int step = 0; step < 4000; step++) {
        // Pauses around the merge window, never long enough in all for records to expire.
        clock.wait(random() % 8 == 0 ? random() % 600000 : random() % 1000);
        std::string text = file_text(file);
        u32 records = file->undo_records.count;
        s64 count = file->text.count;
        // Completion mostly follows a short prefix typed after a blank, as it would be used.
        u32 operation = complete_next ? 5 : random() % 8;
        if (operation == 7) {
            editor_set_cursor(file, pick(count + 1));
            type_octets(file, random() % 2 ? " co" : " na", false);
            complete_next = true;
            before_record.push_back(text);
            continue;
        }
        if (operation == 5 && !complete_next) editor_set_cursor(file, pick(count + 1));
        complete_next = false;
        if (getenv("QUARN_TEST_VERBOSE")) std::printf("step %d op %u text [%s]\n", step, operation, text.c_str());
        switch (operation) {
            case 0:
            case 1: {
                editor_set_cursor(file, pick(count + 1));
                std::string typed = random_text(1 + random() % 2);
                type_octets(file, typed, random() % 4 != 0);
                break;
            }
            case 2: {
                s64 at = pick(count + 1);
                editor_delete_at(file, at, 1 + pick(std::min<s64>(8, count - at)));
                break;
            }
            case 3: {
                atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
                editor_set_cursor(file, pick(count + 1));
                atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
                editor_set_cursor(file, pick(count + 1));
                editor_delete_selection();
                break;
            }
            case 4: {
                atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
                editor_set_cursor(file, pick(count + 1));
                atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
                editor_set_cursor(file, pick(count + 1));
                if (random() % 2) std::swap(file->cursor, file->selection_anchor);
                clamp_cursors_to_text(file);
                editor_align_selection_on_token_at_cursor(file);
                break;
            }
            case 5: {
                atomic_and_u16(&file->flags, (u16)~FILE_SELECTION_ACTIVE);
                auto_complete_text_before_cursor(file);
                break;
            }
            case 6: {
                s64 at = pick(count + 1);
                std::string with = random_text(random() % 3);
                editor_replace_range(file, at, pick(std::min<s64>(6, count - at) + 1), (u8*)with.data(), (s64)with.size(),
                                     file->cursor);
                break;
            }
        }
        ASSERT_GE(file->cursor, 0);
        ASSERT_LE(file->cursor, (s64)file->text.count);
        ASSERT_LE(file->selection_anchor, (s64)file->text.count);
        // The lexer's remembered states never outlive a change of the text.
        s64 probe = pick((s64)file->text.count + 1);
        Editor_Token expected = {}, got = {};
        s64 expected_end = previous_token_by_forward_lex(file, probe, &expected);
        ASSERT_EQ(editor_get_previous_token(file, probe, &got), expected_end) << "step " << step;
        if (expected_end >= 0) {
            ASSERT_EQ(got.offset, expected.offset) << "step " << step;
        }
        ASSERT_LE(file->previous_cursor, (s64)file->text.count);
        ASSERT_LE(file->undo_records.count, records + 1) << "step " << step;
        if (file->undo_records.count == records + 1) {
            before_record.push_back(text);
            recorded_by[operation]++;
        }
        else if (file->undo_records.count == records) {
            // Nothing was recorded: either nothing changed or typing extended the last record.
            if (file_text(file) != text) {
                ASSERT_EQ(undo_records(file)[records - 1].kind, UNDO_TYPED_INSERTION) << "step " << step;
            }
        }
    }
    ASSERT_EQ(file->undo_records.count, before_record.size());
    for (u32 operation = 0; operation < 7; operation++) EXPECT_GT(recorded_by[operation], 0u) << "operation " << operation;
    while (!before_record.empty()) {
        editor_undo(file);
        ASSERT_EQ(file_text(file), before_record.back()) << before_record.size() << " records left";
        before_record.pop_back();
        ASSERT_LE(file->cursor, (s64)file->text.count);
        ASSERT_LE(file->selection_anchor, (s64)file->text.count);
    }
    EXPECT_EQ(file->undo_records.count, 0u);
    current_file = nullptr;
}
