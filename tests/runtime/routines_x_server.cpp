// An X server of the test's own for the routines that need one (the monitor's height, the
// clipboard). Apart from the tests because Xlib's headers name types as Quarn's do.
#include "tests/ui/x_session.h"

#include <X11/Xatom.h>

static X_Session* session;

bool start_routines_x_server(const char* screen) {
    session = new X_Session;
    if (!session->start_xvfb(screen)) return false;
    setenv("DISPLAY", session->display.c_str(), 1);
    return true;
}

void stop_routines_x_server() {
    delete session;
    session = nullptr;
}

void take_the_clipboard_from_everyone() {
    Atom clipboard = XInternAtom(session->x, "CLIPBOARD", False);
    XSetSelectionOwner(session->x, clipboard, 0, CurrentTime);
    XSync(session->x, False);
}
