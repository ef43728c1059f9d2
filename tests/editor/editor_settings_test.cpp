// The editor's settings record: the themes' octets as the layer's settings block lays them
// out, the defaults, the string stores, and the lists that search threads copy while
// set_settings rebuilds them.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "editor/editor.h"
#include "tests/waiting.h"

namespace {

struct Colour_Case {
    u32 index;
    f32 r, g, b, a;
};

void expect_colour(const u8* octets, u32 offset, const Colour_Case& c) {
    f32 v[4];
    memcpy(v, octets + offset, sizeof(v));
    EXPECT_EQ(v[0], c.r);
    EXPECT_EQ(v[1], c.g);
    EXPECT_EQ(v[2], c.b);
    EXPECT_EQ(v[3], c.a);
}

std::vector<String> strings_of(std::vector<std::string>& texts) {
    std::vector<String> out;
    for (std::string& t : texts) out.push_back(String{(u8*)t.data(), (s64)t.size()});
    return out;
}

std::vector<std::string> texts_of(String* strings, u32 count) {
    std::vector<std::string> out;
    for (u32 i = 0; i < count; i++) out.emplace_back((char*)strings[i].data, strings[i].count);
    return out;
}

}  // namespace

TEST(EditorSettings, DefaultsLieWhereTheSettingsBlockPutsThem) {
    init_editor_settings();
    // The settings block's first 244 octets are the two themes, read colour by colour.
    static const Colour_Case ui[] = {
        {0, 0.0f, 0.02f, 0.05f, 1.0f}, {1, 0.0f, 0.065f, 0.14f, 1.0f}, {2, 0.8f, 0.8f, 0.8f, 1.0f},
        {3, 0.0f, 0.0f, 0.0f, 1.0f},   {4, 1.0f, 1.0f, 1.0f, 1.0f},    {5, 1.0f, 1.0f, 1.0f, 0.8f},
        {6, 1.0f, 0.2f, 0.2f, 1.0f},   {7, 1.0f, 1.0f, 1.0f, 1.0f},    {8, 0.0f, 0.0f, 0.0f, 1.0f},
    };
    static const Colour_Case text[] = {
        {0, 0.0f, 0.0f, 0.005f, 1.0f}, {1, 0.6f, 0.6f, 0.6f, 1.0f}, {2, 1.0f, 1.0f, 1.0f, 0.25f},
        {3, 1.0f, 1.0f, 1.0f, 0.5f},   {4, 0.0f, 0.0f, 0.0f, 0.0f}, {5, 0.0f, 1.0f, 1.0f, 1.0f},
    };
    u8 block[244];
    memcpy(block, &editor_settings.ui_theme, 148);
    memcpy(block + 148, &editor_settings.text_theme, 96);
    for (const Colour_Case& c : ui) {
        SCOPED_TRACE("ui colour " + std::to_string(c.index));
        expect_colour(block, 16 * c.index, c);
    }
    f32 scroll_bar_size;
    memcpy(&scroll_bar_size, block + 144, 4);
    EXPECT_EQ(scroll_bar_size, 0.01f);
    for (const Colour_Case& c : text) {
        SCOPED_TRACE("text colour " + std::to_string(c.index));
        expect_colour(block, 148 + 16 * c.index, c);
    }

    EXPECT_EQ(editor_settings.tab_width, 4);
    EXPECT_EQ(editor_settings.display_flags, 0);  // no line numbers before set_settings
    EXPECT_EQ(editor_settings.font_size, 0.0f);
    EXPECT_EQ(editor_settings.search_size_limit, 0u);
    EXPECT_EQ(editor_settings.skipped_names.element_size, sizeof(String));
    EXPECT_EQ(editor_settings.blacklisted_extensions.element_size, sizeof(String));
    EXPECT_EQ(editor_settings.blacklisted_paths.element_size, sizeof(String));
    ASSERT_NE(editor_settings.hint_text_store.first, nullptr);
    EXPECT_EQ(editor_settings.hint_text_store.first->size, 10256u);
    ASSERT_NE(editor_settings.list_text_store.first, nullptr);
    EXPECT_EQ(editor_settings.list_text_store.first->size, 262160u);
    // The two first blocks do not overlap.
    u8* hints_end = (u8*)(editor_settings.hint_text_store.first + 1) + 10256;
    EXPECT_LE(hints_end, (u8*)editor_settings.list_text_store.first);
}

TEST(EditorSettings, ListsAreReplacedWholeAndCopiedWithTheirTexts) {
    init_editor_settings();
    std::string huge(BLACK_LIST_STRING_DATA_BUCKET_SIZE + 10, 'p');  // longer than a store block
    std::vector<std::string> skipped = {".git", "", "node_modules"}, extensions = {"o", "png"}, paths = {huge, "/tmp"};
    std::vector<String> s = strings_of(skipped), e = strings_of(extensions), p = strings_of(paths);
    ASSERT_TRUE(editor_settings_set_lists(s.data(), (s64)s.size(), e.data(), (s64)e.size(), p.data(), (s64)p.size(), 4096));

    Editor_Settings_Lists copy;
    u64 used = tmp_get_used();
    ASSERT_TRUE(editor_settings_copy_lists_tmp(&copy));
    // The originals are gone once the caller's texts are overwritten: the record owns copies.
    for (std::string& t : skipped) std::fill(t.begin(), t.end(), '#');
    EXPECT_EQ(texts_of(copy.skipped_names, copy.skipped_name_count),
              (std::vector<std::string>{".git", "", "node_modules"}));
    EXPECT_EQ(texts_of((String*)editor_settings.skipped_names.data, editor_settings.skipped_names.count),
              (std::vector<std::string>{".git", "", "node_modules"}));
    EXPECT_EQ(texts_of(copy.blacklisted_extensions, copy.blacklisted_extension_count),
              (std::vector<std::string>{"o", "png"}));
    EXPECT_EQ(texts_of(copy.blacklisted_paths, copy.blacklisted_path_count), (std::vector<std::string>{huge, "/tmp"}));
    EXPECT_EQ(copy.search_size_limit, 4096u);
    tmp_set_used(used);

    // Empty lists and negative counts empty the record's lists.
    ASSERT_TRUE(editor_settings_set_lists(nullptr, 0, e.data(), -3, nullptr, 0, 0));
    ASSERT_TRUE(editor_settings_copy_lists_tmp(&copy));
    EXPECT_EQ(copy.skipped_name_count + copy.blacklisted_extension_count + copy.blacklisted_path_count, 0u);
    EXPECT_EQ(copy.search_size_limit, 0u);
}

TEST(EditorSettings, StringStoreReusesItsBlocksAfterAReset) {
    String_Store store = {};
    store.block_size = 64;
    std::string a(40, 'a'), b(40, 'b'), big(100, 'c');
    String sa = string_store_append(&store, String{(u8*)a.data(), 40});
    String sb = string_store_append(&store, String{(u8*)b.data(), 40});  // does not fit beside a
    String sc = string_store_append(&store, String{(u8*)big.data(), 100});  // a block of its own
    EXPECT_EQ(std::string((char*)sa.data, 40), a);
    EXPECT_EQ(std::string((char*)sb.data, 40), b);
    EXPECT_EQ(std::string((char*)sc.data, 100), big);
    EXPECT_EQ(string_store_append(&store, String{nullptr, 0}).data, nullptr);
    u32 blocks = 0;
    for (String_Store_Block* block = store.first; block; block = block->next) blocks++;
    EXPECT_EQ(blocks, 3u);

    string_store_reset(&store);
    String again = string_store_append(&store, String{(u8*)b.data(), 40});
    EXPECT_EQ(again.data, sa.data);
    blocks = 0;
    for (String_Store_Block* block = store.first; block; block = block->next) blocks++;
    EXPECT_EQ(blocks, 3u);
}

// A writer rebuilds the lists over and over, each generation's strings all naming it,
// while readers copy them: every copy must be one whole generation.
TEST(EditorSettingsListsThreads, CopiesNeverSeeAHalfRebuiltList) {
    init_editor_settings();
    std::atomic<bool> stop{false};
    std::atomic<u32> bad{0}, copies{0};
    auto reader = [&] {
        tmp_claim_slot();
        while (!stop.load()) {
            tmp_reset();
            Editor_Settings_Lists copy;
            if (!editor_settings_copy_lists_tmp(&copy)) {
                bad++;
                continue;
            }
            copies++;
            if (copy.blacklisted_extension_count != copy.blacklisted_path_count) bad++;
            std::string generation = std::to_string(copy.search_size_limit);
            for (u32 i = 0; i < copy.blacklisted_path_count; i++) {
                if (std::string((char*)copy.blacklisted_paths[i].data, copy.blacklisted_paths[i].count) !=
                    "/generation/" + generation) {
                    bad++;
                }
            }
        }
    };
    std::thread readers[2] = {std::thread(reader), std::thread(reader)};
    // Until the readers have copied a good many times, within the tests' deadline.
    double end = test_clock_seconds() + TEST_DEADLINE_SECONDS;
    for (u64 generation = 1; generation <= 400 || (copies.load() < 2000 && test_clock_seconds() < end); generation++) {
        std::vector<std::string> paths((size_t)(generation % 37), "/generation/" + std::to_string(generation));
        std::vector<std::string> extensions(paths.size(), "x");
        std::vector<String> p = strings_of(paths), e = strings_of(extensions);
        ASSERT_TRUE(editor_settings_set_lists(nullptr, 0, e.data(), (s64)e.size(), p.data(), (s64)p.size(), generation));
    }
    stop = true;
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0u);
    EXPECT_GT(copies.load(), 0u);
}
