// The layout of the widgets demo, shared by the demo and the test that drives it, so the
// test knows where to click and what the scroll bar must do.
#pragma once

#define DEMO_TITLE "Widgets demo"

// A list of numbered lines in a scroll area. Content 4,800 in a view of 480: a drag of the
// thumb by 100 pixels scrolls by 100 / 480 x 4,800 = 1,000. Lines are 40 apart, more than
// the 35-pixel font is tall.
#define DEMO_VIEW_LEFT    20.0f
#define DEMO_VIEW_TOP     60.0f
#define DEMO_VIEW_RIGHT   420.0f
#define DEMO_VIEW_BOTTOM  540.0f
#define DEMO_LINE_HEIGHT  40.0f
#define DEMO_LINE_COUNT   120
#define DEMO_BAR_WIDTH    12.0f

#define DEMO_CHECK_BOX_X  460.0f
#define DEMO_CHECK_BOX_Y  60.0f

#define DEMO_BUTTON_X      460.0f
#define DEMO_BUTTON_Y      140.0f
#define DEMO_BUTTON_WIDTH  240.0f

// The button is dark blue with a white label, the thumb orange, the list's background
// near black: the test tells them apart by their red and blue.

// The demo reports on stdout, one line each: "ready <window id>" once it drew its first
// frame, then "scroll %.2f", "drag %d", "check %d" and "click %d" (the count of clicks so
// far) whenever one of them changes, after the frame that changed it was shown.
