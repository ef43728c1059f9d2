// The quarn program under test on an X server of its own: installed with its files in a
// scratch directory, started from a working directory, driven with xdotool and read back
// as pixels. Shared by the tests that run the real editor.
#pragma once

#include "tests/ui/x_session.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/process_test_support.h"
#include "tests/runtime/runtime_test_images.h"
#include "tests/shell/shell_test_support.h"
#include "tests/ui/x_windows.h"
#include "tests/layer_code.h"

const char TITLE[] = "Quarn - v0.3.2";

// Xvfb's screen is 768 pixels high and the fonts take 13.5 thousandths of it (the
// smallest size, which the editor uses while no layer sets another).
const float DEFAULT_FONT = (float)(u32)(13.5f / 1000.0f * 768);
// The layer Quarn ships sets them to 18 thousandths.
const float SHIPPED_FONT = (float)(u32)(18.0f / 1000.0f * 768);

// Writes the program as "custom.8b" into the directory, as a compile there would. Its
// sources are the layer's files of that directory, with the size and time they have now.
inline void install_layer_image(const std::string& directory, const Test_Program& program) {
    String saved = executable_filepath;
    executable_filepath = String{(u8*)directory.data(), (s64)directory.size()};
    reset_layer_sources();  // what this process compiled before is not the directory's
    EXPECT_TRUE(write_test_image(program));
    executable_filepath = saved;
}

// A copy of the program and the files it reads beside itself. The layer is an image with
// no blocks whose sources are all missing, so it loads without a compile: the tests of the
// rest of the editor do not hang on what the compiler can do.
inline std::string install_editor() {
    std::string dir = make_scratch_directory();
    std::filesystem::path bin = std::filesystem::path(QUARN_EDITOR).parent_path();
    for (const char* name : {"quarn", "quarn.data", "LOGO"}) {
        std::filesystem::copy_file(bin / name, std::filesystem::path(dir) / name);
    }
    install_layer_image(dir, Test_Program{});
    return dir;
}

// The layer the build lays out beside the editor, with no image: the start compiles it. The
// bindings go first in press_key, before the layer's own.
inline void install_shipped_layer(const std::string& install, const std::string& bindings = "") {
    std::filesystem::path bin = std::filesystem::path(QUARN_EDITOR).parent_path();
    std::filesystem::remove(install + "/custom.8b");
    for (const char* name : {"inject.8", "api.8", "syntax.8", "themes_latest.8"}) {
        std::filesystem::copy_file(bin / name, std::filesystem::path(install) / name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    std::string layer = read_test_file(bin / "custom.8");
    const std::string head = "$press_key: (key: u32, modifiers: u8, input: u8) = {\n";
    size_t at = layer.find(head);
    ASSERT_NE(at, std::string::npos);
    layer.insert(at + head.size(), bindings);
    write_test_file(install + "/custom.8", layer);
}

inline bool is_bar_colour(Pixel p) { return p.r < 10 && p.g > 25 && p.g < 55 && p.b > 50 && p.b < 80; }
inline bool is_current_tab_colour(Pixel p) { return p.r < 10 && p.g < 10 && p.b < 30; }
inline bool is_bright(Pixel p) { return p.r + p.g + p.b > 150; }
inline bool is_cyan(Pixel p) { return p.r < 80 && p.g > 180 && p.b > 180; }
inline bool is_red(Pixel p) { return p.r > 100 && p.r > p.g + 60 && p.r > p.b + 40; }

template <typename F>
int count_pixels(const std::vector<Pixel>& pixels, F test) {
    return (int)std::count_if(pixels.begin(), pixels.end(), test);
}

struct Editor_Session : X_Session {
    std::string install;
    float font = DEFAULT_FONT;  // the fonts' pixel size, which a layer may set

    // Starts the installed program from a working directory with a shell prefix (limits),
    // and waits for its window's first frame.
    bool start_editor(const std::string& working_directory, const std::vector<std::string>& arguments,
                      const std::string& prefix = "") {
        std::string command = prefix + "cd " + shell_word(working_directory) + " && ASAN_OPTIONS=detect_leaks=0 exec " +
                              shell_word(install + "/quarn");
        for (const std::string& a : arguments) command += " " + shell_word(a);
        program = spawn({"sh", "-c", command}, display, nullptr);
        wait_for_condition([&] { return (window = find_window_by_title(x, DefaultRootWindow(x), TITLE)) != 0; },
                           TEST_DEADLINE_SECONDS, 50000);
        return window && eventually([&] { return is_bar_colour(pixel(780, 1)); });
    }

    void key(const std::string& keys) { xdotool({"key", "--window", std::to_string(window), keys}); }
    void type(const std::string& text) { xdotool({"type", "--window", std::to_string(window), text}); }

    void click(float wx, float wy) {
        move(wx, wy);
        xdotool({"click", "1"});
    }

    bool alive() { return program > 0 && kill(program, 0) == 0 && waitpid(program, nullptr, WNOHANG) == 0; }

    // Whether the tabs stand still: a slide draws its highlight over part of a tab only, so
    // along the top edge (where no label is drawn) every tab shows one colour, to its last
    // pixel. (At the default font size the tabs' edges fall on whole pixels.)
    bool tabs_at_rest() {
        std::vector<Pixel> row = grab(0, 1, 800, 1);
        if (row.size() != 800) return false;
        Pixel bar = row[780];  // the bar's own colour, right of the tabs
        auto is_bar = [&](Pixel p) { return p.r == bar.r && p.g == bar.g && p.b == bar.b; };
        for (size_t start = 0; start < row.size();) {
            if (is_bar(row[start])) {
                start++;
                continue;
            }
            size_t end = start;
            while (end < row.size() && !is_bar(row[end])) end++;
            for (size_t i = start; i < end; i++) {
                if (row[i].r != row[start].r || row[i].g != row[start].g || row[i].b != row[start].b) return false;
            }
            start = end;
        }
        return true;
    }

    float bar_height() const { return 1.5f * font; }
    float tab_width() const { return 10 * font; }

    // The tab's top edge, where no label is drawn.
    Pixel tab_pixel(float bar_left, int index) { return pixel(bar_left + index * (tab_width() + 3) + tab_width() / 2, 1); }

    std::vector<Pixel> tab_label(float bar_left, int index) {
        return grab((int)(bar_left + index * (tab_width() + 3)), 0, (int)tab_width(), (int)bar_height());
    }

    std::string newest_log() {
        std::string newest;
        std::filesystem::file_time_type time{};
        for (auto& e : std::filesystem::directory_iterator(install + "/logs")) {
            if (newest.empty() || e.last_write_time() > time) {
                newest = e.path();
                time = e.last_write_time();
            }
        }
        return newest.empty() ? "" : read_test_file(newest);
    }
};

// A test with its own X server, a scratch installation of the program and a scratch
// directory of files.
template <typename Session>
struct Editor_X_Test : ::testing::Test {
    Session s;
    std::string files;
    std::string screen = "1024x768x24";  // as Xvfb's -screen takes it; the fonts follow its height

    void SetUp() override {
        SKIP_UNLESS_LAYER_CODE_RUNS();  // the editor loads no layer without AVX
        s.install = install_editor();
        files = make_scratch_directory();
        ASSERT_TRUE(s.start_xvfb(screen)) << "Xvfb did not start";
    }
    void TearDown() override {
        remove_scratch_directory(s.install);
        remove_scratch_directory(files);
    }
};
