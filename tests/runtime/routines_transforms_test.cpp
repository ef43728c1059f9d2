// Line and selection transform routines, called by id with their blocks on small texts;
// each row is undone afterwards. The tab text is four blanks.
#include "file_routines_test_support.h"
#include "tests/test_seed.h"

#include <random>
#include <vector>

namespace {

struct Transform_Routines : Routines_Test {};

Test_Block up(u8 u) { return block_from(Swap_Lines_Parameters{u}); }
Test_Block to_lower(u8 l) { return block_from(Change_Selection_Case_Parameters{l}); }

const u16 CHANGED = EDITED | SYNTAX;

TEST_F(Transform_Routines, SwapPadAlignAndCase) {
    const Routine_Case cases[] = {
        // swap_lines: the region keeps its length and its line break; the cursor goes with its line
        {"swap down", "a@b\ncde", ROUTINE_SWAP_LINES, up(0), "cde\na@b", CHANGED | MOVED, 1},
        {"swap up", "ab\nc@de", ROUTINE_SWAP_LINES, up(1), "c@de\nab", CHANGED | MOVED, 1},
        {"swap up keeps CR LF", "ab\r\nc@d", ROUTINE_SWAP_LINES, up(1), "c@d\r\nab", CHANGED | MOVED, 1},
        {"swap up keeps the break between", "a\r\nb@\nc", ROUTINE_SWAP_LINES, up(1), "b@\r\na\nc", CHANGED | MOVED, 1},
        {"swap down keeps the break between", "a\r\nb@\nc", ROUTINE_SWAP_LINES, up(0), "a\r\nc\nb@", CHANGED | MOVED, 1},
        {"swap an empty line down", "@\nab", ROUTINE_SWAP_LINES, up(0), "ab\n@", CHANGED | MOVED, 1},
        {"swap multi-octet lines", "\xC3\xA9@x\n\tb", ROUTINE_SWAP_LINES, up(0), "\tb\n\xC3\xA9@x", CHANGED | MOVED, 1},
        {"swap with a selection", "#a@b\ncd", ROUTINE_SWAP_LINES, up(0), "#cd\na@b", CHANGED | MOVED, 1},
        {"swap up on the first line", "a@b\ncd", ROUTINE_SWAP_LINES, up(1), "a@b\ncd", 0, 0},
        {"swap down on the last line", "ab\nc@d", ROUTINE_SWAP_LINES, up(0), "ab\nc@d", 0, 0},
        {"swap in the empty text", "@", ROUTINE_SWAP_LINES, up(0), "@", 0, 0},
        {"swap in a one-line input", "a@b\ncd", ROUTINE_SWAP_LINES, up(0), "a@b\ncd", 0, 0, false, {}, FILE_SINGLE_LINE},

        // pad_selection: the first line to its target, the rest keeping their depth beyond it
        {"pad inside a bracket", "\tf(a,\n#x\n  y@", ROUTINE_PAD_SELECTION, {}, "\tf(a,\n\t    x\n\t      y@", CHANGED | MOVED, 1},
        {"pad to the line before", "  a\n#b\nc@", ROUTINE_PAD_SELECTION, {}, "  a\n  b\n  c@", CHANGED | MOVED, 1},
        {"pad keeps relative depth", "  a\n#b\n    c\nd@", ROUTINE_PAD_SELECTION, {}, "  a\n  b\n      c\n  d@", CHANGED | MOVED, 1},
        {"pad takes blanks out", "a\n#    b\n      c@", ROUTINE_PAD_SELECTION, {}, "a\nb\n  c@", CHANGED | MOVED, 1},
        {"pad over CR LF", "  a\r\n#b\r\nc@", ROUTINE_PAD_SELECTION, {}, "  a\r\n  b\r\n  c@", CHANGED | MOVED, 1},
        {"pad leaves out a line the selection only touches", "  a\n#b\n@c", ROUTINE_PAD_SELECTION, {}, "  a\n  b\n@c", CHANGED | MOVED, 1},
        {"pad with the cursor first", "  a\n@b\nc#", ROUTINE_PAD_SELECTION, {}, "  a\n  @b\n  c", CHANGED | MOVED, 1},
        {"pad keeps the cursor after the indentation", "  a\n#    b@c", ROUTINE_PAD_SELECTION, {}, "  a\n  b@c", CHANGED | MOVED, 1},
        {"pad from mid-line", "  a\nb#c\nd@", ROUTINE_PAD_SELECTION, {}, "  a\n  bc\n  d@", CHANGED | MOVED, 1},
        {"pad under a shallower bracket line", "f(\n    a,\n#b@", ROUTINE_PAD_SELECTION, {}, "f(\n    a,\n    b@", CHANGED | MOVED, 1},
        {"pad after a closed bracket", "(x)\n  a\n#b@", ROUTINE_PAD_SELECTION, {}, "(x)\n  a\n  b@", CHANGED | MOVED, 1},
        {"pad inside nested brackets", "{\n[\n]\n#a@", ROUTINE_PAD_SELECTION, {}, "{\n[\n]\n    a@", CHANGED | MOVED, 1},
        {"pad leaves a line of the same depth", "\ta\n# b@", ROUTINE_PAD_SELECTION, {}, "\ta\n b@", EDITED, 0},
        {"pad an empty selection", "ab\n@cd", ROUTINE_PAD_SELECTION, {}, "ab\n@cd", 0, 0},
        {"pad a selection from 0", "#ab@", ROUTINE_PAD_SELECTION, {}, "#ab@", 0, 0},
        {"pad in a one-line input", "a\n#b@", ROUTINE_PAD_SELECTION, {}, "a\n#b@", 0, 0, false, {}, FILE_SINGLE_LINE},

        // align_selection_on_token_at_cursor: the editing core's alignment
        {"align", "#a = 1\nbbb = 2\ncc @= 3", ROUTINE_ALIGN_SELECTION_ON_TOKEN_AT_CURSOR, {}, "a  = 1\nbbb= 2\ncc @= 3", CHANGED | MOVED, 1},

        // change_selection_case: ASCII letters only, in place
        {"to upper case", "#abc@ d", ROUTINE_CHANGE_SELECTION_CASE, to_lower(0), "#ABC@ d", CHANGED | MOVED, 1},
        {"to lower case", "@AbC#", ROUTINE_CHANGE_SELECTION_CASE, to_lower(1), "@abc#", CHANGED | MOVED, 1},
        {"case of the token at the cursor", "ab@c de", ROUTINE_CHANGE_SELECTION_CASE, to_lower(0), "AB@C de", CHANGED | MOVED, 1},
        {"case of a two-octet letter", "#stra\xC3\x9F" "e@", ROUTINE_CHANGE_SELECTION_CASE, to_lower(0), "#STRA\xC3\x9F" "E@",
         CHANGED | MOVED, 1},
        {"case at the letters' edges", "#`az{?AZ[@", ROUTINE_CHANGE_SELECTION_CASE, to_lower(0), "#`AZ{?AZ[@", CHANGED | MOVED, 1},
        {"lower case at the letters' edges", "#`az{?AZ[@", ROUTINE_CHANGE_SELECTION_CASE, to_lower(1), "#`az{?az[@", CHANGED | MOVED, 1},
        {"case on blanks between tokens", "ab  @  cd", ROUTINE_CHANGE_SELECTION_CASE, to_lower(0), "ab  @  cd", 0, 0},
        {"case in the empty text", "@", ROUTINE_CHANGE_SELECTION_CASE, to_lower(0), "@", 0, 0},
    };
    for (const Routine_Case& c : cases) run_routine_case(c);
}

TEST_F(Transform_Routines, WhichFile) {
    const File_Rule_Case cases[] = {
        {ROUTINE_SWAP_LINES, up(0), true},
        {ROUTINE_PAD_SELECTION, {}, false},
        {ROUTINE_ALIGN_SELECTION_ON_TOKEN_AT_CURSOR, {}, true},
        {ROUTINE_CHANGE_SELECTION_CASE, to_lower(0), false},
    };
    for (const File_Rule_Case& c : cases) check_file_rule(c, " a = 1\n#b = 2\ncc @= 3\nd");
}

// The vector steps against one octet at a time, over every octet value, lengths around the
// 32-octet steps and every start within a step.
TEST_F(Transform_Routines, CaseChangeMatchesOneOctetAtATime) {
    u32 seed = (u32)test_seed(7);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    for (b8 lower : {false, true}) {
        for (s64 length : {0, 1, 15, 16, 31, 32, 33, 63, 64, 65, 100, 256}) {
            for (s64 start = 0; start < 32; start += 7) {
                std::vector<u8> data((size_t)(start + length + 8));
                for (size_t i = 0; i < data.size(); i++) data[i] = (u8)(length ? random() : i);
                std::vector<u8> expected = data;
                for (s64 i = start; i < start + length; i++) {
                    u8 c = expected[(size_t)i];
                    if (lower && c >= 'A' && c <= 'Z') expected[(size_t)i] = c + 32;
                    if (!lower && c >= 'a' && c <= 'z') expected[(size_t)i] = c - 32;
                }
                change_ascii_case(data.data() + start, length, lower);
                EXPECT_EQ(data, expected) << "length " << length << " start " << start << " lower " << lower;
            }
        }
    }
}

}  // namespace
