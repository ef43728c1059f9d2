#include <gtest/gtest.h>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <vector>

#include "ui/window.h"

namespace {

struct Expected_Event {
    u8 kind;
    u32 code;
    u8 modifiers;
};

struct Key_Case {
    const char* name;
    int key;
    int action;
    int mods;
    const char* key_name;
    std::vector<Expected_Event> events;
};

void expect_events(const Window_State& w, const std::vector<Expected_Event>& expected) {
    ASSERT_EQ(w.event_count, expected.size());
    for (u32 i = 0; i < expected.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w.events[i].kind, expected[i].kind);
        EXPECT_EQ(w.events[i].code, expected[i].code);
        EXPECT_EQ(w.events[i].modifiers, expected[i].modifiers);
    }
}

}  // namespace

TEST(WindowEvents, KeysBecomeEventsWithLayoutLettersAndModifiers) {
    const u8 DOWN = WINDOW_EVENT_KEY_DOWN, UP = WINDOW_EVENT_KEY_UP, CHAR = WINDOW_EVENT_CHARACTER;
    static const Key_Case cases[] = {
        {"letter on a US layout", GLFW_KEY_A, GLFW_PRESS, 0, "a", {{DOWN, 'A', 0}}},
        {"key Q of an AZERTY layout prints a", GLFW_KEY_Q, GLFW_PRESS, 0, "a", {{DOWN, 'A', 0}}},
        {"upper-case name kept", GLFW_KEY_Z, GLFW_PRESS, 0, "W", {{DOWN, 'W', 0}}},
        {"letter without a name keeps its key code", GLFW_KEY_B, GLFW_PRESS, 0, nullptr, {{DOWN, GLFW_KEY_B, 0}}},
        {"a name longer than one octet is not a letter", GLFW_KEY_F, GLFW_PRESS, 0, "\xD0\xB0", {{DOWN, GLFW_KEY_F, 0}}},
        {"shift", GLFW_KEY_A, GLFW_PRESS, GLFW_MOD_SHIFT, "a", {{DOWN, 'A', MODIFIER_SHIFT}}},
        {"control and alt", GLFW_KEY_S, GLFW_PRESS, GLFW_MOD_CONTROL | GLFW_MOD_ALT, "s",
         {{DOWN, 'S', MODIFIER_CONTROL | MODIFIER_ALT}}},
        {"super is not a modifier here", GLFW_KEY_S, GLFW_PRESS, GLFW_MOD_SUPER, "s", {{DOWN, 'S', 0}}},
        {"repeat is a key down", GLFW_KEY_LEFT, GLFW_REPEAT, 0, nullptr, {{DOWN, GLFW_KEY_LEFT, 0}}},
        {"release", GLFW_KEY_ENTER, GLFW_RELEASE, GLFW_MOD_CONTROL, nullptr, {{UP, GLFW_KEY_ENTER, MODIFIER_CONTROL}}},
        {"names are asked only for letters", GLFW_KEY_1, GLFW_PRESS, 0, "x", {{DOWN, GLFW_KEY_1, 0}}},
        {"tab alone also types a tab", GLFW_KEY_TAB, GLFW_PRESS, 0, nullptr, {{DOWN, GLFW_KEY_TAB, 0}, {CHAR, '\t', 0}}},
        {"tab repeat types again", GLFW_KEY_TAB, GLFW_REPEAT, 0, nullptr, {{DOWN, GLFW_KEY_TAB, 0}, {CHAR, '\t', 0}}},
        {"control tab types nothing", GLFW_KEY_TAB, GLFW_PRESS, GLFW_MOD_CONTROL, nullptr, {{DOWN, GLFW_KEY_TAB, MODIFIER_CONTROL}}},
        {"shift tab types nothing", GLFW_KEY_TAB, GLFW_PRESS, GLFW_MOD_SHIFT, nullptr, {{DOWN, GLFW_KEY_TAB, MODIFIER_SHIFT}}},
        {"tab release types nothing", GLFW_KEY_TAB, GLFW_RELEASE, 0, nullptr, {{UP, GLFW_KEY_TAB, 0}}},
        {"unknown action", GLFW_KEY_A, 7, 0, "a", {}},
    };
    for (const Key_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window_State w = {};
        w.modifiers = MODIFIER_ALT;  // whatever the last key said
        window_handle_key(&w, c.key, c.action, c.mods, c.key_name);
        expect_events(w, c.events);
        if (!c.events.empty()) {
            EXPECT_EQ(w.modifiers, c.events[0].modifiers);
        }
    }
}

TEST(WindowEvents, CharactersCarryTheLastKeysModifiers) {
    Window_State w = {};
    window_handle_key(&w, GLFW_KEY_E, GLFW_PRESS, GLFW_MOD_SHIFT, "e");
    window_handle_character(&w, 0xC9);
    window_handle_focus(&w, false);  // shift released in another window
    window_handle_character(&w, 'x');
    expect_events(w, {{WINDOW_EVENT_KEY_DOWN, 'E', MODIFIER_SHIFT},
                      {WINDOW_EVENT_CHARACTER, 0xC9, MODIFIER_SHIFT},
                      {WINDOW_EVENT_CHARACTER, 'x', 0}});
}

TEST(WindowEvents, MouseButtonsAndDoubleClicks) {
    const u64 SECOND = 1000000;
    Window_State w = {};
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0, 5 * SECOND);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE, 0, 5 * SECOND + 50000);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0, 5 * SECOND + 150000);   // 150 ms: double
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0, 5 * SECOND + 400000);   // 250 ms: not
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, GLFW_MOD_CONTROL, 5 * SECOND + 599000);  // 199 ms: double
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, 0, 6 * SECOND);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_RIGHT, GLFW_RELEASE, 0, 6 * SECOND);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_MIDDLE, GLFW_PRESS, 0, 6 * SECOND);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_MIDDLE, GLFW_RELEASE, 0, 6 * SECOND);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_4, GLFW_PRESS, 0, 6 * SECOND);
    const u8 M = WINDOW_EVENT_MOUSE_BUTTON;
    expect_events(w, {{M, MOUSE_LEFT_PRESS, 0}, {M, MOUSE_LEFT_RELEASE, 0}, {M, MOUSE_LEFT_PRESS, 0},
                      {M, MOUSE_DOUBLE_CLICK, 0}, {M, MOUSE_LEFT_PRESS, 0}, {M, MOUSE_LEFT_PRESS, MODIFIER_CONTROL},
                      {M, MOUSE_DOUBLE_CLICK, MODIFIER_CONTROL}, {M, MOUSE_RIGHT_PRESS, 0}, {M, MOUSE_RIGHT_RELEASE, 0},
                      {M, MOUSE_MIDDLE_PRESS, 0}, {M, MOUSE_MIDDLE_RELEASE, 0}});
    EXPECT_EQ(w.last_left_press_time, 5 * SECOND + 599000);
}

// A button event keeps the pointer's place at its moment, as the motions before it left it.
TEST(WindowEvents, ButtonsCarryThePointerOfTheirMoment) {
    Window_State w = {};
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0, 1000000);  // no motion seen yet
    window_handle_pointer_motion(&w, 10.5, 20);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE, 0, 1050000);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0, 1100000);  // and its double click
    window_handle_pointer_motion(&w, 30, 40);
    window_handle_pointer_motion(&w, 31, 41);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, 0, 2000000);
    window_handle_character(&w, 'x');
    struct Expected { u32 buttons; bool known; f32 x, y; };
    const Expected expected[] = {{MOUSE_LEFT_PRESS, false, 0, 0}, {MOUSE_LEFT_RELEASE, true, 10.5f, 20},
                                 {MOUSE_LEFT_PRESS, true, 10.5f, 20}, {MOUSE_DOUBLE_CLICK, true, 10.5f, 20},
                                 {MOUSE_RIGHT_PRESS, true, 31, 41}};
    ASSERT_EQ(w.event_count, 6);
    for (u32 i = 0; i < 5; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w.events[i].buttons, expected[i].buttons);
        EXPECT_EQ(w.events[i].has_pointer != 0, expected[i].known);
        EXPECT_EQ(w.events[i].pointer_x, expected[i].x);
        EXPECT_EQ(w.events[i].pointer_y, expected[i].y);
    }
    EXPECT_FALSE(w.events[5].has_pointer) << "only buttons keep the place";
}

// X11 reports a key's modifiers as they were before it: a modifier's own press comes
// without its bit, its release with it.
TEST(WindowEvents, ModifierKeysSetAndClearTheirOwnBits) {
    struct Case {
        const char* name;
        int key;
        int action;
        int mods;
        u8 held_before;
        u8 held_after;
    };
    static const Case cases[] = {
        {"control pressed", GLFW_KEY_LEFT_CONTROL, GLFW_PRESS, 0, 0, MODIFIER_CONTROL},
        {"control released", GLFW_KEY_RIGHT_CONTROL, GLFW_RELEASE, GLFW_MOD_CONTROL, MODIFIER_CONTROL, 0},
        {"shift released, alt still held", GLFW_KEY_LEFT_SHIFT, GLFW_RELEASE, GLFW_MOD_SHIFT | GLFW_MOD_ALT,
         MODIFIER_SHIFT | MODIFIER_ALT, MODIFIER_ALT},
        {"alt repeats", GLFW_KEY_RIGHT_ALT, GLFW_REPEAT, GLFW_MOD_ALT, MODIFIER_ALT, MODIFIER_ALT},
        {"a modifier reported as held at once", GLFW_KEY_LEFT_SHIFT, GLFW_PRESS, GLFW_MOD_SHIFT, 0, MODIFIER_SHIFT},
        {"a letter takes what GLFW says", GLFW_KEY_A, GLFW_PRESS, GLFW_MOD_CONTROL, MODIFIER_SHIFT, MODIFIER_CONTROL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window_State w = {};
        w.modifiers = c.held_before;
        window_handle_key(&w, c.key, c.action, c.mods, nullptr);
        EXPECT_EQ(w.modifiers, c.held_after);
        ASSERT_EQ(w.event_count, 1);
        EXPECT_EQ(w.events[0].modifiers, window_modifiers_from_glfw(c.mods));
    }

    // After Ctrl was pressed and let go, a plain click is a plain click, and typing is plain.
    Window_State w = {};
    window_handle_key(&w, GLFW_KEY_LEFT_CONTROL, GLFW_PRESS, 0, nullptr);
    window_handle_key(&w, GLFW_KEY_LEFT_CONTROL, GLFW_RELEASE, GLFW_MOD_CONTROL, nullptr);
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0, 1000000);
    window_handle_character(&w, 'x');
    window_handle_mouse_button(&w, GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, GLFW_MOD_SHIFT | GLFW_MOD_SUPER, 2000000);
    const u8 M = WINDOW_EVENT_MOUSE_BUTTON;
    expect_events(w, {{WINDOW_EVENT_KEY_DOWN, GLFW_KEY_LEFT_CONTROL, 0},
                      {WINDOW_EVENT_KEY_UP, GLFW_KEY_LEFT_CONTROL, MODIFIER_CONTROL},
                      {M, MOUSE_LEFT_PRESS, 0},
                      {WINDOW_EVENT_CHARACTER, 'x', 0},
                      {M, MOUSE_RIGHT_PRESS, MODIFIER_SHIFT}});
}

TEST(WindowEvents, ScrollNotchesBecomeSignedAmounts) {
    Window_State w = {};
    window_handle_scroll(&w, 1.0);
    window_handle_scroll(&w, -2.5);
    ASSERT_EQ(w.event_count, 2);
    EXPECT_EQ(w.events[0].kind, WINDOW_EVENT_SCROLL);
    EXPECT_FLOAT_EQ(w.events[0].scroll, -100.0f);
    EXPECT_FLOAT_EQ(w.events[1].scroll, 250.0f);
}

// A burst of input must not cost the user's close request or the new window size.
TEST(WindowEvents, AFullQueueKeepsResizeAndClose) {
    Window_State w = {};
    for (int i = 0; i < 300; i++) window_handle_key(&w, GLFW_KEY_X, GLFW_PRESS, 0, "x");
    EXPECT_EQ(w.event_count, WINDOW_EVENT_CAPACITY - WINDOW_EVENTS_KEPT_FOR_CHANGES);
    window_handle_scroll(&w, 1);
    EXPECT_EQ(w.event_count, WINDOW_EVENT_CAPACITY - WINDOW_EVENTS_KEPT_FOR_CHANGES);

    window_handle_resize(&w, 640, 480);
    window_handle_resize(&w, 1024, 700);
    window_push_window_change(&w, WINDOW_CLOSE_REQUESTED);
    window_push_window_change(&w, WINDOW_CLOSE_REQUESTED);
    ASSERT_EQ(w.event_count, WINDOW_EVENT_CAPACITY);
    EXPECT_EQ(w.width, 1024u);
    EXPECT_EQ(w.height, 700u);
    const Window_Event& resized = w.events[WINDOW_EVENT_CAPACITY - 2];
    const Window_Event& closed = w.events[WINDOW_EVENT_CAPACITY - 1];
    EXPECT_EQ(resized.kind, WINDOW_EVENT_WINDOW_CHANGE);
    EXPECT_EQ(resized.changes, WINDOW_RESIZED);
    EXPECT_EQ(closed.kind, WINDOW_EVENT_WINDOW_CHANGE);
    EXPECT_EQ(closed.changes, WINDOW_CLOSE_REQUESTED);

    window_handle_resize(&w, 10, 20);  // still no room needed: the size is in the record
    EXPECT_EQ(w.width, 10u);
    EXPECT_EQ(w.event_count, WINDOW_EVENT_CAPACITY);
}
