// The settings routines without a screen: each row applies a base block, then the row's
// block, and checks the record, the tab text and the lists. The font rows that need a
// monitor are in the X test; search threads reading the lists meanwhile in the Threads test.
#include "routine_blocks.h"

#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include "tests/scratch.h"
#include "tests/waiting.h"

namespace {

String s(const char* text) { return String{(u8*)text, (s64)strlen(text)}; }

String base_skipped[] = {s(".git"), s("build")};
String base_extensions[] = {s("o")};
String base_paths[] = {s("/home/me/src")};
String other_skipped[] = {s("node_modules")};
String c_extensions[] = {s("c"), s("h")};
String py_extensions[] = {s("py")};
Layer_Tokenisation_Hint base_hints[] = {
    {c_extensions, 2, s("//"), s("/*"), s("*/"), 0x180, {}},
    {py_extensions, 1, s("#"), s("\"\"\""), s("\"\"\""), 0x80, {}},
};

Layer_Settings base_settings() {
    Layer_Settings b = {};
    b.ui_theme = default_ui_theme;
    b.text_theme = default_text_theme;
    b.tab_text = s("  ");
    b.font_size = 20.0f;
    b.tab_width = 4;
    b.search_size_limit = 1 << 20;
    b.hints = base_hints;
    b.hint_count = 2;
    b.skipped_names = base_skipped;
    b.skipped_name_count = 2;
    b.blacklisted_extensions = base_extensions;
    b.blacklisted_extension_count = 1;
    b.blacklisted_paths = base_paths;
    b.blacklisted_path_count = 1;
    return b;
}

void apply(const Layer_Settings& settings) {
    Test_Block block = block_from(settings);
    call_routine_by_id(ROUTINE_SET_SETTINGS, block.bytes);
    expect_block_tail_untouched(block);
}

std::vector<std::string> list(const Dynamic_Array& a) {
    std::vector<std::string> out;
    for (u32 i = 0; i < a.count; i++) {
        String* e = (String*)a.data + i;
        out.emplace_back((char*)e->data, e->count);
    }
    return out;
}

std::string tab_text() { return std::string((char*)global_tab_character.data, global_tab_character.count); }

// Octets marked used in the hint store after the base call: a rebuild resets the store,
// and the mark is gone.
#define HINT_STORE_MARK 5
u32 marked_hint_store_used;
u32 hint_store_used() { return editor_settings.hint_text_store.first->used; }
bool hints_were_rebuilt() { return hint_store_used() != marked_hint_store_used; }

struct Settings_Case {
    const char* name;
    void (*change)(Layer_Settings* settings);
    void (*check)();
};

std::string long_name(300000, 'n');

const Settings_Case SETTINGS_CASES[] = {
    {"themes, spare and display flags are copied",
     [](Layer_Settings* b) {
         b->ui_theme.colours[3] = Rgba{0.5f, 0.25f, 0.125f, 1};
         b->ui_theme.scroll_bar_size = 0.02f;
         b->text_theme.colours[5] = Rgba{1, 0, 1, 0.5f};
         b->spare = 7;
         b->display_flags = DISPLAY_LINE_NUMBERS;
     },
     [] {
         EXPECT_EQ(editor_settings.ui_theme.colours[3].g, 0.25f);
         EXPECT_EQ(editor_settings.ui_theme.scroll_bar_size, 0.02f);
         EXPECT_EQ(editor_settings.text_theme.colours[5].b, 1.0f);
         EXPECT_EQ(editor_settings.ui_theme.colours[0].b, default_ui_theme.colours[0].b);
         EXPECT_EQ(editor_settings.spare_setting, 7);
         EXPECT_EQ(editor_settings.display_flags, DISPLAY_LINE_NUMBERS);
     }},
    {"a tab width is stored", [](Layer_Settings* b) { b->tab_width = 8; }, [] { EXPECT_EQ(editor_settings.tab_width, 8); }},
    {"a tab width of 0 keeps the drawing width", [](Layer_Settings* b) { b->tab_width = 0; },
     [] { EXPECT_EQ(editor_settings.tab_width, 4); }},
    {"a tab text replaces the old", [](Layer_Settings* b) { b->tab_text = s("\t"); }, [] { EXPECT_EQ(tab_text(), "\t"); }},
    {"a longer tab text", [](Layer_Settings* b) { b->tab_text = s("        "); }, [] { EXPECT_EQ(tab_text(), "        "); }},
    {"an empty tab text keeps the old", [](Layer_Settings* b) { b->tab_text = String{}; },
     [] { EXPECT_EQ(tab_text(), "  "); }},
    {"a tab text without octets keeps the old", [](Layer_Settings* b) { b->tab_text = String{nullptr, 3}; },
     [] { EXPECT_EQ(tab_text(), "  "); }},
    {"a small font size is raised", [](Layer_Settings* b) { b->font_size = 10.0f; },
     [] { EXPECT_EQ(editor_settings.font_size, MIN_FONT_SIZE); }},
    {"a NaN font size is the smallest", [](Layer_Settings* b) { b->font_size = NAN; },
     [] { EXPECT_EQ(editor_settings.font_size, MIN_FONT_SIZE); }},
    {"a huge font size fills the screen at most", [](Layer_Settings* b) { b->font_size = INFINITY; },
     [] { EXPECT_EQ(editor_settings.font_size, MAX_FONT_SIZE); }},
    {"the size limit", [](Layer_Settings* b) { b->search_size_limit = 12345; },
     [] { EXPECT_EQ(editor_settings.search_size_limit, 12345u); }},
    {"lists are replaced, not merged",
     [](Layer_Settings* b) {
         b->skipped_names = other_skipped;
         b->skipped_name_count = 1;
         b->blacklisted_extension_count = 0;
         b->blacklisted_paths = nullptr;
         b->blacklisted_path_count = 0;
     },
     [] {
         EXPECT_EQ(list(editor_settings.skipped_names), std::vector<std::string>{"node_modules"});
         EXPECT_TRUE(list(editor_settings.blacklisted_extensions).empty());
         EXPECT_TRUE(list(editor_settings.blacklisted_paths).empty());
     }},
    {"a null list or a negative count is empty",
     [](Layer_Settings* b) {
         b->skipped_names = nullptr;
         b->skipped_name_count = 3;
         b->blacklisted_extension_count = -1;
     },
     [] {
         EXPECT_TRUE(list(editor_settings.skipped_names).empty());
         EXPECT_TRUE(list(editor_settings.blacklisted_extensions).empty());
         EXPECT_EQ(list(editor_settings.blacklisted_paths), std::vector<std::string>{"/home/me/src"});
     }},
    {"an entry without octets is empty",
     [](Layer_Settings* b) {
         static String entries[] = {String{nullptr, 4}, s("x")};
         b->skipped_names = entries;
         b->skipped_name_count = 2;
     },
     [] { EXPECT_EQ(list(editor_settings.skipped_names), (std::vector<std::string>{"", "x"})); }},
    {"a name longer than the store's block is kept whole",
     [](Layer_Settings* b) {
         static String entries[1];
         entries[0] = String{(u8*)long_name.data(), (s64)long_name.size()};
         b->blacklisted_paths = entries;
     },
     [] { EXPECT_EQ(list(editor_settings.blacklisted_paths), std::vector<std::string>{long_name}); }},
    {"the same hints are not rebuilt", [](Layer_Settings* b) {},
     [] {
         EXPECT_FALSE(hints_were_rebuilt());
         EXPECT_EQ(editor_settings.tokenisation_hints.count, 2u);
     }},
    {"a hint with an empty delimiter is rebuilt every time",
     [](Layer_Settings* b) {
         static Layer_Tokenisation_Hint hints[2];
         hints[0] = base_hints[0];
         hints[1] = base_hints[1];
         hints[1].block_start = String{};
         b->hints = hints;
     },
     [] {
         EXPECT_TRUE(hints_were_rebuilt());
         Tokenisation_Hint* h = (Tokenisation_Hint*)editor_settings.tokenisation_hints.data;
         EXPECT_EQ(h[1].block_start.count, 0);
     }},
    {"a changed quote kind rebuilds",
     [](Layer_Settings* b) {
         static Layer_Tokenisation_Hint hints[2];
         hints[0] = base_hints[0];
         hints[1] = base_hints[1];
         hints[0].string_delimiters = 0x80;
         b->hints = hints;
     },
     [] {
         Tokenisation_Hint* h = (Tokenisation_Hint*)editor_settings.tokenisation_hints.data;
         EXPECT_EQ(h[0].string_delimiters, 0x80);
         EXPECT_TRUE(hints_were_rebuilt());
     }},
    {"a changed extension rebuilds",
     [](Layer_Settings* b) {
         static String extensions[] = {s("c"), s("hpp")};
         static Layer_Tokenisation_Hint hints[2];
         hints[0] = base_hints[0];
         hints[1] = base_hints[1];
         hints[0].extensions = extensions;
         b->hints = hints;
     },
     [] {
         Tokenisation_Hint* h = (Tokenisation_Hint*)editor_settings.tokenisation_hints.data;
         EXPECT_EQ(list(h[0].extensions), (std::vector<std::string>{"c", "hpp"}));
     }},
    {"no hints empty the record's", [](Layer_Settings* b) { b->hint_count = 0; },
     [] { EXPECT_EQ(editor_settings.tokenisation_hints.count, 0u); }},
    {"a hint with a null extension list", [](Layer_Settings* b) {
         static Layer_Tokenisation_Hint hints[1];
         hints[0] = base_hints[0];
         hints[0].extensions = nullptr;
         b->hints = hints;
         b->hint_count = 1;
     },
     [] {
         ASSERT_EQ(editor_settings.tokenisation_hints.count, 1u);
         EXPECT_EQ(((Tokenisation_Hint*)editor_settings.tokenisation_hints.data)->extensions.count, 0u);
     }},
};

}  // namespace

TEST(Settings_Routines, EachBlockLeavesTheRecordAsItSays) {
    for (const Settings_Case& c : SETTINGS_CASES) {
        SCOPED_TRACE(c.name);
        reset_custom_layer();
        apply(base_settings());
        ASSERT_EQ(tab_text(), "  ");
        ASSERT_EQ(editor_settings.tokenisation_hints.count, 2u);
        editor_settings.hint_text_store.first->used += HINT_STORE_MARK;
        marked_hint_store_used = hint_store_used();

        Layer_Settings settings = base_settings();
        c.change(&settings);
        apply(settings);
        c.check();
    }
    reset_custom_layer();
    set_tab_text("    ");
}

TEST(Settings_Routines, SizeAndSwitchesReadBackAndToggleBack) {
    reset_custom_layer();
    editor_settings.font_size = 21.5f;
    Test_Block block = block_from(Font_Size_Parameters{0});
    call_routine_by_id(ROUTINE_GET_FONT_SIZE, block.bytes);
    EXPECT_EQ(read_at<f32>(block, 0), 21.5f);
    expect_block_tail_untouched(block);

    block = block_from(Font_Size_Parameters{2.0f});
    call_routine_by_id(ROUTINE_SET_FONT_SIZE, block.bytes);
    EXPECT_EQ(editor_settings.font_size, MIN_FONT_SIZE);

    u8 display = editor_settings.display_flags = DISPLAY_ADOPT_SYNTAX;
    u64 flags = global_flags;
    block = empty_block();
    call_routine_by_id(ROUTINE_TOGGLE_LINE_NUMBERS, block.bytes);
    EXPECT_EQ(editor_settings.display_flags, display | DISPLAY_LINE_NUMBERS);
    call_routine_by_id(ROUTINE_TOGGLE_FOCUS_MODE, block.bytes);
    EXPECT_EQ(global_flags, flags ^ FOCUS_MODE);
    call_routine_by_id(ROUTINE_TOGGLE_LINE_NUMBERS, block.bytes);
    call_routine_by_id(ROUTINE_TOGGLE_FOCUS_MODE, block.bytes);
    EXPECT_EQ(editor_settings.display_flags, display);
    EXPECT_EQ(global_flags, flags);
    expect_block_tail_untouched(block);
}

TEST(Settings_Routines, DisplayBitFourAdoptsTheShippedSyntaxFile) {
    namespace fs = std::filesystem;
    fs::path directory = make_test_directory("routines");
    ASSERT_FALSE(directory.empty());
    auto write = [&](const char* name, const char* text) { std::ofstream(directory / name) << text; };
    auto read = [&](const char* name) {
        std::stringstream out;
        out << std::ifstream(directory / name).rdbuf();
        return out.str();
    };
    String saved = executable_filepath;
    std::string directory_text = directory.string();
    executable_filepath = String{(u8*)directory_text.data(), (s64)directory_text.size()};

    reset_custom_layer();
    Layer_Settings settings = base_settings();
    write(SYNTAX_FILE, "old");
    apply(settings);  // without bit 4 nothing moves
    write(SHIPPED_SYNTAX_FILE, "new");
    apply(settings);
    EXPECT_EQ(read(SYNTAX_FILE), "old");
    EXPECT_TRUE(fs::exists(directory / SHIPPED_SYNTAX_FILE));

    settings.display_flags = DISPLAY_ADOPT_SYNTAX;
    apply(settings);
    EXPECT_EQ(read(SYNTAX_FILE), "new");
    EXPECT_FALSE(fs::exists(directory / SHIPPED_SYNTAX_FILE));
    apply(settings);  // nothing left to adopt
    EXPECT_EQ(read(SYNTAX_FILE), "new");

    fs::remove(directory / SYNTAX_FILE);  // with no syntax.8 yet, the shipped one becomes it
    write(SHIPPED_SYNTAX_FILE, "first");
    apply(settings);
    EXPECT_EQ(read(SYNTAX_FILE), "first");

    executable_filepath = saved;
    remove_test_files(directory);
    reset_custom_layer();
    set_tab_text("    ");
}

// Search threads copy the lists while set_settings replaces them over and over: every copy
// is one whole list, never a mixture or freed text.
TEST(Settings_Routines_Threads, ListsReadWhileSettingsLoop) {
    reset_custom_layer();
    Layer_Settings one = base_settings(), two = base_settings();
    one.skipped_names = other_skipped;
    one.skipped_name_count = 1;
    one.search_size_limit = 1;
    two.search_size_limit = 2;
    apply(two);
    std::atomic<bool> stop{false};
    std::atomic<u32> copies{0};
    std::thread reader([&] {
        tmp_claim_slot();
        while (!stop.load()) {
            u64 mark = tmp_get_used();
            Editor_Settings_Lists lists;
            if (editor_settings_copy_lists_tmp(&lists)) {
                u32 n = lists.skipped_name_count;
                EXPECT_TRUE(n == 1 || n == 2) << n;
                for (u32 i = 0; i < n; i++) EXPECT_EQ(lists.skipped_names[i].count, n == 1 ? 12 : (i ? 5 : 4));
                EXPECT_TRUE(lists.search_size_limit == 1 || lists.search_size_limit == 2);
                copies++;
            }
            tmp_set_used(mark);
            filepath_is_blacklisted((u8*)"/home/me/src/a.o", 16, true, true);
        }
        tmp_release_slot();
    });
    double end = test_clock_seconds() + TEST_DEADLINE_SECONDS;
    for (int i = 0; i < 2000 || (copies.load() < 50 && test_clock_seconds() < end); i++) apply(i % 2 ? one : two);
    stop = true;
    reader.join();
    reset_custom_layer();
    set_tab_text("    ");
}
