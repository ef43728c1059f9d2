// Drives the widgets demo on an X server of its own with xdotool and reads the window's
// pixels back: the check box flips its icon, the thumb drags and the wheel scrolls by the
// scroll bar's rules, the button lights up under the mouse and counts one click per press,
// and closing the window ends the demo with status 0.
#include <math.h>

#include "tests/ui/x_session.h"
#include "tests/ui/widgets_demo.h"

namespace {

bool is_white(Pixel p) { return p.r > 250 && p.g > 250 && p.b > 250; }

int ink(const std::vector<Pixel>& a) {
    int n = 0;
    for (const Pixel& p : a) n += p.r + p.g + p.b > 300;
    return n;
}

}  // namespace

TEST(WidgetsDemo, AnswersTheMouseUnderX) {
    X_Session s;
    ASSERT_TRUE(s.start_xvfb()) << "Xvfb did not start";
    ASSERT_TRUE(s.start_program({QUARN_WIDGETS_DEMO})) << "the demo did not report ready";

    const int icon = 35;  // the icon pool's pixel size until a font size is set
    {
        SCOPED_TRACE("the check box flips its icon");
        std::vector<Pixel> off;
        ASSERT_TRUE(s.eventually([&] {
            off = s.grab((int)DEMO_CHECK_BOX_X, (int)DEMO_CHECK_BOX_Y, icon, icon);
            return ink(off) > 0;
        })) << "no icon drawn";
        s.move(DEMO_CHECK_BOX_X + icon / 2, DEMO_CHECK_BOX_Y + icon / 2);
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("check "), "check 1");
        std::vector<Pixel> on;
        EXPECT_TRUE(s.eventually([&] {
            on = s.grab((int)DEMO_CHECK_BOX_X, (int)DEMO_CHECK_BOX_Y, icon, icon);
            return !same(on, off);
        }));
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("check "), "check 0");
        EXPECT_TRUE(s.eventually([&] { return same(s.grab((int)DEMO_CHECK_BOX_X, (int)DEMO_CHECK_BOX_Y, icon, icon), off); }));
    }

    {
        SCOPED_TRACE("the button lights up under the mouse and counts one click per press");
        const float bx = DEMO_BUTTON_X + 4, by = DEMO_BUTTON_Y + 4;  // inside, clear of the label
        Pixel idle = s.pixel(bx, by);
        EXPECT_FALSE(is_white(idle));
        EXPECT_GT(idle.b, idle.r);
        s.move(bx, by);
        EXPECT_TRUE(s.eventually([&] { return is_white(s.pixel(bx, by)); }));
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("click "), "click 1");
        s.xdotool({"click", "1"});
        EXPECT_EQ(s.out.wait_for("click "), "click 2");
        // A press held over several frames while the mouse moves is still one click.
        s.xdotool({"mousedown", "1"});
        EXPECT_EQ(s.out.wait_for("click "), "click 3");
        for (int i = 1; i <= 5; i++) {
            s.move(bx + i * 10, by + 2);
            usleep(30000);
        }
        s.xdotool({"mouseup", "1"});
        // The button goes dark in a frame after the one that handled the release.
        s.move(DEMO_BUTTON_X + DEMO_BUTTON_WIDTH + 40, by);
        EXPECT_TRUE(s.eventually([&] { Pixel p = s.pixel(bx, by); return p.r == idle.r && p.g == idle.g && p.b == idle.b; }));
        EXPECT_EQ(s.out.count_all("click "), 3);
    }

    const float content = DEMO_LINE_COUNT * DEMO_LINE_HEIGHT;
    const float view = DEMO_VIEW_BOTTOM - DEMO_VIEW_TOP;
    const float bar_x = DEMO_VIEW_RIGHT - DEMO_BAR_WIDTH / 2;
    {
        SCOPED_TRACE("dragging the thumb by 100 px scrolls by 100 / view x content");
        s.move(bar_x, DEMO_VIEW_TOP + 10);
        s.xdotool({"mousedown", "1"});
        EXPECT_EQ(s.out.wait_for("drag "), "drag 1");
        s.move(bar_x, DEMO_VIEW_TOP + 110);
        const float expected = 100 / view * content;
        char line[64];
        snprintf(line, sizeof(line), "scroll %.2f", expected);
        EXPECT_EQ(s.out.wait_for("scroll "), line);
        s.xdotool({"mouseup", "1"});
        EXPECT_EQ(s.out.wait_for("drag "), "drag 0");
        // The thumb now starts view x scroll / content below the view's top.
        float thumb_top = DEMO_VIEW_TOP + view * expected / content;
        s.move(DEMO_VIEW_LEFT - 10, DEMO_VIEW_BOTTOM + 20);  // away, so the thumb fades
        EXPECT_TRUE(s.eventually([&] {
            Pixel in = s.pixel(bar_x, thumb_top + 5), above = s.pixel(bar_x, thumb_top - 5);
            return in.r > 100 && in.r > in.b && above.r < 60;
        }));
    }

    {
        SCOPED_TRACE("three wheel notches move the content by three steps of 100");
        const int left = (int)DEMO_VIEW_LEFT, width = (int)(DEMO_VIEW_RIGHT - DEMO_BAR_WIDTH - DEMO_VIEW_LEFT);
        std::vector<Pixel> before = s.grab(left, (int)DEMO_VIEW_TOP, width, (int)view);
        ASSERT_GT(ink(before), 0) << "no text in the list";
        s.move((DEMO_VIEW_LEFT + DEMO_VIEW_RIGHT) / 2, (DEMO_VIEW_TOP + DEMO_VIEW_BOTTOM) / 2);
        s.xdotool({"click", "--repeat", "3", "--delay", "80", "5"});
        const float expected = 100 / view * content + 300;
        char line[64];
        snprintf(line, sizeof(line), "scroll %.2f", expected);
        std::string got;
        while ((got = s.out.wait_for("scroll ")) != line && !got.empty()) {}
        EXPECT_EQ(got, line);
        // What was 300 px down is now at the top: rows y + 300 of before are rows y of after,
        // away from the lines the view cuts at its edges.
        const int shift = 300, from = (int)DEMO_LINE_HEIGHT, rows = (int)view - shift - 2 * (int)DEMO_LINE_HEIGHT;
        std::vector<Pixel> expected_rows(before.begin() + (size_t)(from + shift) * width,
                                         before.begin() + (size_t)(from + shift + rows) * width);
        EXPECT_TRUE(s.eventually([&] {
            return same(s.grab(left, (int)DEMO_VIEW_TOP + from, width, rows), expected_rows);
        }));
    }

    {
        SCOPED_TRACE("closing the window ends the demo with status 0");
        EXPECT_EQ(s.close_window_and_wait(), 0);
    }
}
