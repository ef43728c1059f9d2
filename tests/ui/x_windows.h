// Finding a program's top-level window by its title and asking it to close as a window
// manager would; for the tests and benches that drive a window under X. Needs only Xlib.
#pragma once

#include <X11/Xlib.h>
#include <string.h>

inline Window find_window_by_title(Display* x, Window parent, const char* title) {
    Window root, up, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(x, parent, &root, &up, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; i++) {
        char* name = nullptr;
        if (XFetchName(x, children[i], &name) && name) {
            if (strcmp(name, title) == 0) found = children[i];
            XFree(name);
        }
        if (!found) found = find_window_by_title(x, children[i], title);
    }
    if (children) XFree(children);
    return found;
}

inline void ask_window_to_close(Display* x, Window window) {
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(x, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, window, False, NoEventMask, &e);
    XFlush(x);
}
