// How many frames a key draws, in the editor as quarn starts it with the layer Quarn ships,
// under Xvfb: editor_frames_demo reports each main-loop iteration, xdotool sends the keys.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/shell/quarn_x_session.h"

namespace {

struct Iterations {
    int drawn = 0;
    bool pressed = false, released = false;
};

// Reads the demo's iterations until the loop waits again with the key pressed and released:
// the frames drawn on the way. Iterations woken by other threads draw nothing new.
bool read_until_key_handled(X_Session& s, Iterations* seen) {
    for (;;) {
        std::string line = s.out.wait_for("iteration ", 60);
        if (line.empty()) return false;
        char kinds[160] = {};
        int drawn = 0, waits = 0;
        if (sscanf(line.c_str(), "iteration %159s %d %d", kinds, &drawn, &waits) != 3) return false;
        std::string k = kinds;
        seen->drawn += drawn;
        seen->pressed |= k.find('d') != std::string::npos;
        seen->released |= k.find('u') != std::string::npos;
        if (seen->pressed && seen->released && waits) return true;
    }
}

bool read_until_idle(X_Session& s) {
    for (;;) {
        std::string line = s.out.wait_for("iteration ", 60);
        if (line.empty()) return false;
        if (line.back() == '1') return true;
    }
}

using Editor_Frames_X_Test = Editor_X_Test<Editor_Session>;

}  // namespace

TEST_F(Editor_Frames_X_Test, AKeyDrawsOneFrameAndAKeyThatChangesNothingDrawsNone) {
    std::filesystem::copy_file(QUARN_EDITOR_FRAMES_DEMO, std::filesystem::path(s.install) / "editor_frames_demo");
    install_shipped_layer(s.install);
    write_test_file(files + "/a.c", "abc\ndef\n");
    ASSERT_TRUE(s.start_program({s.install + "/editor_frames_demo", files + "/a.c"})) << "the demo did not report ready";
    ASSERT_TRUE(read_until_idle(s));

    struct Case {
        const char* keys;
        int frames;
    };
    const Case cases[] = {
        {"Right", 1},      // the cursor moves
        {"x", 1},          // a character goes in
        {"Up", 0},         // on the first line: nothing moves
        {"Control_L", 0},  // a modifier alone does nothing
        {"Down", 1},
        {"BackSpace", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        s.key(c.keys);
        Iterations seen;
        ASSERT_TRUE(read_until_key_handled(s, &seen)) << "the demo stopped reporting";
        EXPECT_EQ(seen.drawn, c.frames);
    }
    EXPECT_EQ(s.close_window_and_wait(), 0);
}
