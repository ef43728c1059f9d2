#include "ui_test_support.h"

#include <gtest/gtest.h>

#include "foundation/os_files.h"

#include <fstream>
#include <iterator>
#include <map>

namespace {
struct Ui_Test_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        init_glyphs_pool(carve_static_memory(GLYPHS_PAGE_MEMORY));
        ASSERT_TRUE(init_executable_filepath());
        ASSERT_TRUE(init_assets(executable_filepath));  // the quarn.data built beside the tests
    }
};
::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new Ui_Test_Environment);
}  // namespace

std::vector<u8>& read_test_file(const std::string& path) {
    static std::map<std::string, std::vector<u8>> files;
    auto found = files.find(path);
    if (found != files.end()) return found->second;
    std::ifstream in(path, std::ios::binary);
    std::vector<u8>& bytes = files[path];
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return bytes;
}

static void set_up_font(Font* font, const char* name) {
    ASSERT_TRUE(init_font_from_executable(font, (u8*)name, strlen(name))) << name;
}

void set_up_test_fonts(u32 pixel_size) {
    set_up_font(&ui_latin_font, "UI_FONT");
    set_up_font(&code_latin_font, "CODE_FONT");
    set_up_font(&icons_font, "ICONS");
    ui_init_font_pools(pixel_size);
}
