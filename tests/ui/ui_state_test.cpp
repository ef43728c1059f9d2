// Element ids, layers, the taking of queued mouse events and the widgets' input rules,
// driven through a window record of our own, without a window or a renderer.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "ui/ui_state.h"
#include "ui/widgets.h"

namespace {

Window_Event mouse_event(u32 buttons) {
    Window_Event e = {};
    e.kind = WINDOW_EVENT_MOUSE_BUTTON;
    e.buttons = buttons;
    return e;
}

// A button event that knows where the pointer was.
Window_Event mouse_event_at(u32 buttons, f32 x, f32 y) {
    Window_Event e = mouse_event(buttons);
    e.has_pointer = true;
    e.pointer_x = x;
    e.pointer_y = y;
    return e;
}

Window_Event scroll_event(f32 amount) {
    Window_Event e = {};
    e.kind = WINDOW_EVENT_SCROLL;
    e.scroll = amount;
    return e;
}

Window_Event key_event(u32 code) {
    Window_Event e = {};
    e.kind = WINDOW_EVENT_KEY_DOWN;
    e.code = code;
    return e;
}

// A fresh window record with the given queue, focus on layer 0, nothing held.
struct UiState : ::testing::Test {
    Window_State w = {};

    static void SetUpTestSuite() {
        static b8 ready = false;  // the memory itself is set up by the test environment
        if (!ready) init_ui_elements();
        ready = true;
    }

    void SetUp() override {
        memset(&w, 0, sizeof(w));
        ui_window = &w;
        ui_flags = 0;
        ui_layer_in_focus = 0;
        ui_current_cursor_type = UI_CURSOR_NONE;
        delta_time = 16;
    }
    void TearDown() override { ui_window = nullptr; }

    void queue(std::initializer_list<Window_Event> events) {
        w.event_count = 0;
        for (const Window_Event& e : events) w.events[w.event_count++] = e;
    }
    void begin_frame(v2 mouse, std::initializer_list<Window_Event> events) {
        queue(events);
        ui_begin_frame_with_mouse(mouse);
    }
    std::vector<u32> queued_buttons() {
        std::vector<u32> out;
        for (u32 i = 0; i < w.event_count; i++) out.push_back(w.events[i].kind == WINDOW_EVENT_MOUSE_BUTTON ? w.events[i].buttons : 0);
        return out;
    }
};

// Each test makes its own keys, so elements left by other tests never match.
Ui_Element_Id test_id(const char* key, u32 index = 0) {
    return make_ui_element_id(index, key, strlen(key));
}

}  // namespace

//~ Ids

TEST_F(UiState, IdsUseTheWholeKeyAndTheIndex) {
    struct Case {
        const char* name;
        const char* key_a; u32 len_a; u32 index_a;
        const char* key_b; u32 len_b; u32 index_b;
        bool same;
    };
    static const Case cases[] = {
        {"same key and index", "ids1", 4, 7, "ids1", 4, 7, true},
        {"other index", "ids2", 4, 7, "ids2", 4, 8, false},
        {"keys share their first four octets", "ids3/left", 9, 0, "ids3/right", 10, 0, false},
        {"a key and that key padded with zeros", "i4\0\0", 2, 0, "i4\0\0", 4, 0, false},
        {"a key and its own prefix", "ids5long", 8, 0, "ids5long", 5, 0, false},
        {"long keys differing only at the end", "ids6-a-rather-long-key-of-a-view-A", 34, 1,
                                                "ids6-a-rather-long-key-of-a-view-B", 34, 1, false},
        {"empty keys", "", 0, 4242, "", 0, 4242, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ui_Element* a = get_or_add_ui_element(make_ui_element_id(c.index_a, c.key_a, c.len_a), UI_ELEMENT_SCROLL_BAR);
        Ui_Element* b = get_or_add_ui_element(make_ui_element_id(c.index_b, c.key_b, c.len_b), UI_ELEMENT_SCROLL_BAR);
        EXPECT_EQ(a == b, c.same);
    }
}

TEST_F(UiState, ElementKeepsItsOwnCopyOfTheKey) {
    char key[8] = "tmpk";
    Ui_Element* a = get_or_add_ui_element(make_ui_element_id(1, key, 4), UI_ELEMENT_CHECK_BOX);
    memcpy(key, "XXXX", 4);  // the caller's text dies or changes after the call
    EXPECT_NE(get_or_add_ui_element(make_ui_element_id(1, key, 4), UI_ELEMENT_CHECK_BOX), a);
    EXPECT_EQ(get_or_add_ui_element(make_ui_element_id(1, "tmpk", 4), UI_ELEMENT_CHECK_BOX), a);
}

TEST_F(UiState, OneElementPerIdAndKind) {
    Ui_Element* bar = get_or_add_ui_element(test_id("kind"), UI_ELEMENT_SCROLL_BAR);
    EXPECT_EQ(bar->is_new, 1);
    EXPECT_EQ(bar->kind, UI_ELEMENT_SCROLL_BAR);
    Ui_Element* box = get_or_add_ui_element(test_id("kind"), UI_ELEMENT_CHECK_BOX);
    EXPECT_NE(box, bar);
    EXPECT_EQ(box->is_new, 1);
    EXPECT_EQ(get_or_add_ui_element(test_id("kind"), UI_ELEMENT_SCROLL_BAR), bar);
    EXPECT_EQ(bar->is_new, 0);
    EXPECT_EQ(bar->scroll, 0);
    EXPECT_EQ(box->is_on, 0);
}

TEST_F(UiState, PointerStaysValidWhileTheFrameAddsElements) {
    Ui_Element* first = get_or_add_ui_element(test_id("stab"), UI_ELEMENT_SCROLL_BAR);
    f32* scroll = &first->scroll;
    for (u32 i = 0; i < 1000; i++) get_or_add_ui_element(test_id("many", i), UI_ELEMENT_CHECK_BOX);
    *scroll = 123;
    EXPECT_EQ(get_or_add_ui_element(test_id("stab"), UI_ELEMENT_SCROLL_BAR)->scroll, 123);
    EXPECT_EQ(get_or_add_ui_element(test_id("many", 999), UI_ELEMENT_CHECK_BOX)->is_new, 0);
}

//~ Layers and the taking of mouse events

enum Consumer { MOUSE_EVENT, MOUSE_EVENT_ANYWAY, LEFT_CLICK, LEFT_CLICK_ANYWAY, DOUBLE_CLICK };

static b8 consume(Consumer c, u32 mask) {
    switch (c) {
        case MOUSE_EVENT: return ui_consume_mouse_event(mask);
        case MOUSE_EVENT_ANYWAY: return ui_consume_mouse_event_no_matter_what(mask);
        case LEFT_CLICK: return ui_consume_left_click();
        case LEFT_CLICK_ANYWAY: return ui_consume_left_click_no_matter_what();
        case DOUBLE_CLICK: return ui_consume_double_click();
    }
    return false;
}

TEST_F(UiState, ConsumingFollowsTheLayerInFocus) {
    struct Case {
        const char* name;
        u8 current_layer, focus;
        Consumer consumer;
        u32 mask;
        bool taken;
        std::vector<u32> left;  // buttons of the events left in the queue (0 for other kinds)
        bool keeps_running;
    };
    // The queue of every case: a key, left press, left release, left press, double click.
    static const Case cases[] = {
        {"mask meets the first press", 0, 0, MOUSE_EVENT, MOUSE_LEFT_PRESS, true, {0, 2, 1, 4}, false},
        {"mask meets the release first", 0, 0, MOUSE_EVENT, MOUSE_LEFT_PRESS | MOUSE_LEFT_RELEASE, true, {0, 2, 1, 4}, false},
        {"no event meets the mask", 0, 0, MOUSE_EVENT, 8, false, {0, 1, 2, 1, 4}, false},
        {"layer without focus", 1, 0, MOUSE_EVENT, MOUSE_LEFT_PRESS, false, {0, 1, 2, 1, 4}, false},
        {"layer without focus, anyway", 1, 0, MOUSE_EVENT_ANYWAY, MOUSE_LEFT_PRESS, true, {0, 2, 1, 4}, false},
        {"focus on a higher layer", 2, 2, LEFT_CLICK, 0, true, {0, 2, 1, 4}, true},
        {"left click without focus", 0, 1, LEFT_CLICK, 0, false, {0, 1, 2, 1, 4}, false},
        {"left click anyway", 0, 1, LEFT_CLICK_ANYWAY, 0, true, {0, 2, 1, 4}, true},
        {"double click", 0, 0, DOUBLE_CLICK, 0, true, {0, 1, 2, 1}, true},
        {"double click without focus", 3, 0, DOUBLE_CLICK, 0, false, {0, 1, 2, 1, 4}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        begin_frame({0, 0}, {key_event(65), mouse_event(1), mouse_event(2), mouse_event(1), mouse_event(4)});
        ui_current_layer = c.current_layer;
        ui_layer_in_focus = c.focus;
        EXPECT_EQ(consume(c.consumer, c.mask), c.taken);
        EXPECT_EQ(queued_buttons(), c.left);
        EXPECT_EQ((ui_flags & UI_KEEP_RUNNING) != 0, c.keeps_running);
    }
}

TEST_F(UiState, OneClickServesOneWidget) {
    begin_frame({0, 0}, {mouse_event(1)});
    EXPECT_TRUE(ui_consume_left_click());
    EXPECT_FALSE(ui_consume_left_click());
    EXPECT_EQ(w.event_count, 0);
}

TEST_F(UiState, LeftButtonHeldAcrossFrames) {
    struct Case { const char* name; bool held_before; std::vector<u32> buttons; bool held_after; };
    static const Case cases[] = {
        {"press", false, {1}, true},
        {"press and release in one frame", false, {1, 2}, false},
        {"release", true, {2}, false},
        {"nothing keeps it held", true, {}, true},
        {"nothing keeps it released", false, {}, false},
        {"release and press again", true, {2, 1}, true},
        {"a double click is not a press", false, {4}, false},
        {"right press", false, {8}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui_flags = (c.held_before ? UI_LEFT_BUTTON_HELD : 0) | UI_KEEP_RUNNING;
        queue({});
        for (u32 b : c.buttons) w.events[w.event_count++] = mouse_event(b);
        ui_current_layer = 5;
        ui_cursor_was_set_this_frame = 1;
        ui_begin_frame_with_mouse({3, 4});
        EXPECT_EQ((ui_flags & UI_LEFT_BUTTON_HELD) != 0, c.held_after);
        EXPECT_EQ(ui_flags & UI_KEEP_RUNNING, 0);
        EXPECT_EQ(ui_current_layer, 0);
        EXPECT_EQ(ui_cursor_was_set_this_frame, 0);
        EXPECT_EQ(ui_mouse_position.x, 3);
        EXPECT_EQ(w.event_count, c.buttons.size());  // nothing is taken at the start of a frame
    }
}

// A frame that lags behind the pointer still puts each press where it was made.
TEST_F(UiState, PressesLandWhereTheyWereMade) {
    const u32 PRESS = MOUSE_LEFT_PRESS, RELEASE = MOUSE_LEFT_RELEASE, DOUBLE = MOUSE_DOUBLE_CLICK;
    Window_Event resize = {};
    resize.kind = WINDOW_EVENT_WINDOW_CHANGE;
    resize.changes = WINDOW_RESIZED;
    struct Frame {
        v2 mouse;                  // the pointer now
        v2 place;                  // where the frame puts it
        std::vector<u32> buttons;  // the frame's queue (0 for other events)
        bool another_at_once;
        bool held;
    };
    struct Case {
        const char* name;
        std::vector<Window_Event> queue;
        std::vector<Frame> frames;  // then the queue the last one left, until it is empty
    };
    const Case cases[] = {
        {"a press where the pointer still is", {mouse_event_at(PRESS, 5, 6)}, {{{5, 6}, {5, 6}, {PRESS}, false, true}}},
        {"a press the pointer has left since: the next frame follows it",
         {mouse_event_at(PRESS, 5, 6)},
         {{{50, 60}, {5, 6}, {PRESS}, true, true}}},
        {"a click at one place", {mouse_event_at(PRESS, 5, 6), mouse_event_at(RELEASE, 5, 6)},
         {{{5, 6}, {5, 6}, {PRESS, RELEASE}, false, false}}},
        {"a double click at its press's place",
         {mouse_event_at(PRESS, 5, 6), mouse_event_at(DOUBLE, 5, 6)},
         {{{9, 9}, {5, 6}, {PRESS, DOUBLE}, true, true}}},
        {"a drag's press and release in one frame are two frames",
         {mouse_event_at(PRESS, 5, 6), key_event('A'), mouse_event_at(RELEASE, 80, 6), key_event('B'), resize},
         {{{80, 6}, {5, 6}, {PRESS, 0}, true, true}, {{80, 6}, {80, 6}, {RELEASE, 0}, false, false}}},
        {"three places, three frames",
         {mouse_event_at(PRESS, 1, 1), mouse_event_at(RELEASE, 2, 2), mouse_event_at(PRESS, 3, 3)},
         {{{3, 3}, {1, 1}, {PRESS}, true, true},
          {{3, 3}, {2, 2}, {RELEASE}, true, false},
          {{3, 3}, {3, 3}, {PRESS}, false, true}}},
        {"events that know no place take the pointer now", {mouse_event(PRESS), mouse_event(RELEASE)},
         {{{7, 8}, {7, 8}, {PRESS, RELEASE}, false, false}}},
        {"no button: the pointer now", {key_event('A')}, {{{7, 8}, {7, 8}, {0}, false, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui_flags = 0;
        w.event_count = 0;
        w.kept_event_count = 0;
        for (const Window_Event& e : c.queue) w.events[w.event_count++] = e;
        for (size_t i = 0; i < c.frames.size(); i++) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const Frame& f = c.frames[i];
            if (i > 0) window_start_events(&w);
            ui_begin_frame_with_mouse(f.mouse);
            EXPECT_EQ(ui_mouse_position.x, f.place.x);
            EXPECT_EQ(ui_mouse_position.y, f.place.y);
            EXPECT_EQ(queued_buttons(), f.buttons);
            EXPECT_EQ((ui_flags & UI_KEEP_RUNNING) != 0, f.another_at_once);
            EXPECT_EQ((ui_flags & UI_LEFT_BUTTON_HELD) != 0, f.held);
        }
        EXPECT_EQ(w.kept_event_count, 0) << "nothing left after the last frame";
    }
}

TEST_F(UiState, ScrollIsGatheredOnTheLayerInFocusOnly) {
    begin_frame({0, 0}, {scroll_event(100), mouse_event(1), scroll_event(-30.5f)});
    EXPECT_FLOAT_EQ(ui_gather_scroll(), 69.5f);
    EXPECT_FLOAT_EQ(ui_gather_scroll(), 69.5f);  // every scroll view of the layer sees it
    ui_current_layer = 1;
    EXPECT_EQ(ui_gather_scroll(), 0);
    EXPECT_EQ(w.event_count, 3);
}

TEST_F(UiState, FirstCursorChoiceOfTheFrameWins) {
    begin_frame({0, 0}, {});
    ui_current_layer = 1;  // focus is on layer 0
    ui_set_cursor(UI_CURSOR_IBEAM, false);
    EXPECT_EQ(ui_cursor_was_set_this_frame, 0);
    ui_set_cursor(UI_CURSOR_HAND, true);
    EXPECT_EQ(ui_current_cursor_type, UI_CURSOR_HAND);
    ui_current_layer = 0;
    ui_set_cursor(UI_CURSOR_IBEAM, false);
    EXPECT_EQ(ui_current_cursor_type, UI_CURSOR_HAND);

    ui_begin_frame_with_mouse({0, 0});
    ui_set_cursor(UI_CURSOR_NONE, false);
    EXPECT_EQ(ui_current_cursor_type, UI_CURSOR_NONE);
    EXPECT_EQ(ui_cursor_was_set_this_frame, 1);
}

TEST(UiEdgeCursor, ResizeCursorsNearTheEdges) {
    struct Case { const char* name; v2 mouse; u8 expected; };
    static const Case cases[] = {
        {"middle", {400, 300}, UI_CURSOR_ARROW},
        {"5 px from the left", {5, 300}, UI_CURSOR_HORIZONTAL_RESIZE},
        {"5 px from the right", {795, 300}, UI_CURSOR_HORIZONTAL_RESIZE},
        {"15 px from the right", {785, 300}, UI_CURSOR_ARROW},
        {"5 px from the top", {400, 5}, UI_CURSOR_VERTICAL_RESIZE},
        {"5 px from the bottom", {400, 595}, UI_CURSOR_VERTICAL_RESIZE},
        {"15 px from the bottom", {400, 585}, UI_CURSOR_ARROW},
        {"a corner takes the horizontal cursor", {2, 598}, UI_CURSOR_HORIZONTAL_RESIZE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ui_edge_cursor_type(c.mouse, {800, 600}), c.expected);
    }
}

//~ Scroll bar

namespace {

// The view of these cases: x 0 to 100, y 50 to 250 (200 high), bar 10 wide at x 90.
const v2 VIEW_TL = {0, 50}, VIEW_BR = {100, 250};

struct Bar_Frame {
    b8 shown;
    Ui_Scroll_Bar_Thumb thumb;
};

}  // namespace

struct UiScrollBar : UiState {
    Ui_Element bar = {};
    Bar_Frame frame(v2 mouse, std::initializer_list<Window_Event> events, f32 content, b8 enabled = true) {
        begin_frame(mouse, events);
        Bar_Frame f = {};
        f.shown = ui_update_scroll_bar(&bar, enabled, VIEW_TL, VIEW_BR, content, 10, mouse, &f.thumb);
        return f;
    }
};

TEST_F(UiScrollBar, Geometry) {
    struct Case { const char* name; f32 content, view_bottom, scroll_before; bool shown; f32 scroll, thumb_top, thumb_height; };
    static const Case cases[] = {
        {"content as tall as the view", 200, 250, 40, false, 0, 0, 0},
        {"content shorter than the view", 100, 250, 40, false, 0, 0, 0},
        {"empty content", 0, 250, 40, false, 0, 0, 0},
        {"twice the view", 400, 250, 40, true, 40, 70, 100},
        {"scroll past the end is clamped", 400, 250, 1000, true, 200, 150, 100},
        {"negative scroll is raised", 400, 250, -5, true, 0, 50, 100},
        {"very long content keeps a 10 px thumb", 1e7f, 250, 0, true, 0, 50, 10},
        {"a 10 px thumb at the end stays inside the view", 1e7f, 250, 1e9f, true, 1e7f - 200, 240, 10},
        {"a view shorter than 10 px holds the whole thumb", 400, 55, 1000, true, 395, 50, 5},
        {"zero-height view keeps its place", 400, 50, 40, false, 40, 0, 0},
        {"inverted view keeps its place", 400, 10, 40, false, 40, 0, 0},
        {"NaN content", NAN, 250, 40, false, 0, 0, 0},
        {"NaN scroll becomes 0", 400, 250, NAN, true, 0, 50, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bar = {};
        bar.scroll = c.scroll_before;
        begin_frame({-100, -100}, {});
        Ui_Scroll_Bar_Thumb thumb = {};
        b8 shown = ui_update_scroll_bar(&bar, true, VIEW_TL, {100, c.view_bottom}, c.content, 10, {-100, -100}, &thumb);
        EXPECT_EQ(shown, c.shown);
        EXPECT_FLOAT_EQ(bar.scroll, c.scroll);
        EXPECT_EQ(bar.shown_width, c.shown ? 10 : 0);
        if (c.shown) {
            EXPECT_FLOAT_EQ(thumb.top, c.thumb_top);
            EXPECT_FLOAT_EQ(thumb.height, c.thumb_height);
            EXPECT_FLOAT_EQ(thumb.left, 90);
            EXPECT_FLOAT_EQ(thumb.width, 10);
        }
    }
}

// At every scroll position the thumb lies inside the view, and a drag moves it with the
// mouse, also where the 10 px minimum makes it taller than its share of the content.
TEST_F(UiScrollBar, TheThumbStaysInsideTheViewAndFollowsTheMouse) {
    for (f32 content : {400.0f, 2000.0f, 4000.0f, 1e5f, 1e7f}) {
        SCOPED_TRACE(content);
        f32 largest = content - 200;
        for (int step = 0; step <= 100; step++) {
            bar = {};
            bar.scroll = largest * (f32)step / 100;
            Bar_Frame f = frame({-100, -100}, {}, content);
            ASSERT_TRUE(f.shown);
            ASSERT_GE(f.thumb.top, VIEW_TL.y) << "step " << step;
            ASSERT_LE(f.thumb.top + f.thumb.height, VIEW_BR.y + 0.01f) << "step " << step;
        }
        bar.scroll = largest;
        Bar_Frame at_end = frame({-100, -100}, {}, content);
        EXPECT_NEAR(at_end.thumb.top + at_end.thumb.height, VIEW_BR.y, 0.01f);  // the end reaches the bottom

        // Press on the thumb at the top and drag it 95 px down.
        bar = {};
        Bar_Frame pressed = frame({95, 52}, {mouse_event(1)}, content);
        ASSERT_EQ(bar.dragging, 1);
        Bar_Frame dragged = frame({95, 52 + 95}, {}, content);
        EXPECT_NEAR(dragged.thumb.top - pressed.thumb.top, 95, 0.01f);
    }
}

TEST_F(UiScrollBar, DisabledTouchesNothing) {
    bar.scroll = 30;
    bar.shown_width = 10;
    Bar_Frame f = frame({95, 60}, {mouse_event(1), scroll_event(100)}, 400, false);
    EXPECT_FALSE(f.shown);
    EXPECT_EQ(bar.scroll, 30);
    EXPECT_EQ(bar.shown_width, 0);
    EXPECT_EQ(w.event_count, 2);
}

TEST_F(UiScrollBar, Wheel) {
    struct Case { const char* name; u8 layer; std::vector<f32> amounts; f32 scroll_before, scroll_after; bool keeps_running; };
    static const Case cases[] = {
        {"three notches down", 0, {100, 100, 100}, 0, 300, true},
        {"clamped at the end", 0, {100, 100, 100, 100}, 0, 400, true},
        {"up past the start", 0, {-100}, 30, 0, true},
        {"less than one whole unit", 0, {0.4f, 0.4f}, 10, 10, false},
        {"fractions are truncated", 0, {2.75f}, 10, 12, true},
        {"layer without focus", 1, {100}, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bar = {};
        bar.scroll = c.scroll_before;
        queue({});
        for (f32 a : c.amounts) w.events[w.event_count++] = scroll_event(a);
        ui_begin_frame_with_mouse({-100, -100});
        ui_current_layer = c.layer;
        Ui_Scroll_Bar_Thumb thumb;
        ui_update_scroll_bar(&bar, true, VIEW_TL, VIEW_BR, 600, 10, {-100, -100}, &thumb);
        EXPECT_FLOAT_EQ(bar.scroll, c.scroll_after);
        EXPECT_EQ((ui_flags & UI_KEEP_RUNNING) != 0, c.keeps_running);
        EXPECT_EQ(w.event_count, c.amounts.size());  // scroll events stay for the other views
    }
}

TEST_F(UiScrollBar, Drag) {
    // Content 800 in a 200 view: thumb 50 high at y 50 while scroll is 0.
    Bar_Frame f = frame({95, 60}, {mouse_event(8), mouse_event(1)}, 800);
    ASSERT_TRUE(f.shown);
    EXPECT_EQ(bar.dragging, 1);
    EXPECT_EQ(bar.hovered, 1);
    EXPECT_EQ(queued_buttons(), std::vector<u32>{8});
    EXPECT_EQ(ui_current_cursor_type, UI_CURSOR_ARROW);

    // Held and moved 100 px down, off the thumb and off the bar: scroll follows by
    // 100 / view height x content height.
    f = frame({20, 160}, {scroll_event(100)}, 800);
    EXPECT_FLOAT_EQ(bar.scroll, 400);
    EXPECT_EQ(bar.dragging, 1);
    EXPECT_FLOAT_EQ(f.thumb.top, 150);  // the thumb is drawn where this frame's scroll puts it

    f = frame({20, 400}, {}, 800);
    EXPECT_FLOAT_EQ(bar.scroll, 600);  // clamped at the end

    f = frame({20, 100}, {mouse_event(2)}, 800);
    EXPECT_EQ(bar.dragging, 0);
    EXPECT_EQ(bar.fade_direction, -1);
    EXPECT_FLOAT_EQ(bar.scroll, 600);  // the release frame does not move it

    f = frame({20, 100}, {}, 800);
    EXPECT_FLOAT_EQ(bar.scroll, 600);
}

TEST_F(UiScrollBar, PressesThatStartNoDrag) {
    struct Case { const char* name; v2 mouse; u8 layer; bool drags; };
    static const Case cases[] = {
        {"on the track below the thumb", {95, 200}, 0, false},
        {"beside the bar", {85, 60}, 0, false},
        {"on the thumb's top edge", {95, 50}, 0, true},
        {"on the thumb's bottom right corner", {100, 100}, 0, true},
        {"on the thumb on a layer without focus", {95, 60}, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bar = {};
        begin_frame(c.mouse, {mouse_event(1)});
        ui_current_layer = c.layer;
        Ui_Scroll_Bar_Thumb thumb;
        ui_update_scroll_bar(&bar, true, VIEW_TL, VIEW_BR, 800, 10, c.mouse, &thumb);
        EXPECT_EQ(bar.dragging, c.drags);
        EXPECT_EQ(w.event_count, c.drags ? 0 : 1);
        EXPECT_EQ(bar.scroll, 0);
    }
}

TEST_F(UiScrollBar, Fade) {
    delta_time = 100;  // capped at 30 ms: 0.21 per frame
    frame({95, 60}, {}, 800);
    EXPECT_FLOAT_EQ(bar.fade, 0.21f);
    EXPECT_NE(ui_flags & UI_KEEP_RUNNING, 0);  // a fade that has begun runs on without input
    for (int i = 0; i < 4; i++) frame({95, 60}, {}, 800);
    EXPECT_FLOAT_EQ(bar.fade, 1);
    EXPECT_EQ(ui_flags & UI_KEEP_RUNNING, 0);
    frame({0, 0}, {}, 800);
    EXPECT_FLOAT_EQ(bar.fade, 0.79f);
    EXPECT_EQ(bar.fade_direction, -1);
    EXPECT_NE(ui_flags & UI_KEEP_RUNNING, 0);
    for (int i = 0; i < 4; i++) frame({0, 0}, {}, 800);
    EXPECT_FLOAT_EQ(bar.fade, 0);
    EXPECT_EQ(ui_flags & UI_KEEP_RUNNING, 0);
}

TEST_F(UiState, ScrollBarPositioning) {
    struct Case { const char* name; bool centre; f32 scroll_before, target, height; bool enabled; f32 scroll_after; };
    // View y 50 to 250, content 1000.
    static const Case cases[] = {
        {"visible target stays", false, 100, 100, 20, true, 100},
        {"target above the view", false, 100, 30, 20, true, 80},
        {"target below the view", false, 100, 240, 20, true, 110},
        {"target taller than the view", false, 100, 0, 300, true, 100},
        {"disabled", false, 100, 30, 20, false, 100},
        {"not clamped", false, 10, 0, 20, true, -40},
        {"centre", true, 100, 200, 20, true, 160},
        {"centre near the start", true, 0, 60, 20, true, 0},
        {"centre near the end", true, 790, 250, 20, true, 800},
        {"centre disabled", true, 100, 200, 20, false, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ui_Element_Id id = test_id("posn");
        get_or_add_ui_element(id, UI_ELEMENT_SCROLL_BAR)->scroll = c.scroll_before;
        f32* scroll = c.centre ? ui_scroll_bar_centre_around(id, c.enabled, VIEW_TL, VIEW_BR, 1000, c.target, c.height)
                               : ui_scroll_bar_ensure_visibility(id, c.enabled, VIEW_TL, VIEW_BR, 1000, c.target, c.height);
        EXPECT_FLOAT_EQ(*scroll, c.scroll_after);
        EXPECT_EQ(scroll, &get_or_add_ui_element(id, UI_ELEMENT_SCROLL_BAR)->scroll);
    }
    Ui_Element_Id shorter = test_id("posn", 1);
    EXPECT_FLOAT_EQ(*ui_scroll_bar_centre_around(shorter, true, VIEW_TL, VIEW_BR, 150, 200, 20), -50);
}

//~ Check box and button

TEST_F(UiState, CheckBoxToggles) {
    struct Case { const char* name; v2 mouse; u8 layer; std::vector<u32> buttons; bool toggled; };
    // Icon square x 10 to 45, y 20 to 55.
    static const Case cases[] = {
        {"press inside", {20, 30}, 0, {1}, true},
        {"press on the far corner", {45, 55}, 0, {1}, true},
        {"press outside", {46, 30}, 0, {1}, false},
        {"release only", {20, 30}, 0, {2}, false},
        {"layer without focus", {20, 30}, 1, {1}, false},
        {"two presses in one frame toggle once", {20, 30}, 0, {1, 2, 1}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ui_Element box = {};
        box.is_on = 1;
        queue({});
        for (u32 b : c.buttons) w.events[w.event_count++] = mouse_event(b);
        ui_begin_frame_with_mouse(c.mouse);
        ui_current_layer = c.layer;
        EXPECT_EQ(ui_update_check_box(&box, 10, 20, 35, c.mouse), c.toggled);
        EXPECT_EQ(box.is_on, c.toggled ? 0 : 1);
        EXPECT_EQ(w.event_count, c.buttons.size() - (c.toggled ? 1 : 0));
    }
}

TEST_F(UiState, ButtonClicks) {
    struct Case { const char* name; v2 mouse; u8 layer; std::vector<u32> buttons; bool hovered, clicked; };
    // Button x 100 to 200, y 10 to 45.
    static const Case cases[] = {
        {"hover only", {150, 20}, 0, {}, true, false},
        {"press", {150, 20}, 0, {1}, true, true},
        {"held over later frames", {150, 20}, 0, {}, true, false},
        {"outside", {99, 20}, 0, {1}, false, false},
        {"under the mouse on a layer without focus", {150, 20}, 1, {1}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        queue({});
        for (u32 b : c.buttons) w.events[w.event_count++] = mouse_event(b);
        ui_begin_frame_with_mouse(c.mouse);
        ui_current_layer = c.layer;
        b8 hovered = false;
        EXPECT_EQ(ui_update_button(100, 10, 100, 35, c.mouse, &hovered), c.clicked);
        EXPECT_EQ(hovered, c.hovered);
    }
}
