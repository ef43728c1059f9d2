// Two small bridges to the desktop, each a program started and not waited for: a
// notification through "notify-send" and opening a path or address through "xdg-open".
// They need nothing but the foundation, so the terminal, the runtime and the shell reach them here.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"

extern u8 global_os_notifications_lock;  // serialises notifications from several threads; innermost

void create_os_notification(String title, String body);
// Starts "notify-send" with the application name "quarn", the title and the body, each one
// argument whatever it holds. Returns once the program was started; a failure shows
// nothing. Any thread with a temporary-memory slot.

void os_open_file_in_other_app(String path);
// Starts "xdg-open" with the path or web address as one argument. Main thread.
