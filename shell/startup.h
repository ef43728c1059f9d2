// Start-up: every subsystem brought up in one fixed order before the main loop, the
// general information at the head of the log, the window with its icon, the updater that
// an update delivered put in place, the editor's state and threads, and the file named on
// the command line.
#pragma once

#include "foundation/foundation.h"
#include "editor/filepath.h"

#define EDITOR_WINDOW_WIDTH  800
#define EDITOR_WINDOW_HEIGHT 600
#define WINDOW_ICON_FILE_NAME "LOGO"
#define WINDOW_ICON_MAX_SIZE  (4ull * 1024 * 1024)  // far above any icon; a bigger file is not read
#define UPDATER_FILE_NAME     "updater"
#define NEW_UPDATER_FILE_NAME "_updater"  // what an update delivers; it becomes "updater" at the next start
#define WORKING_DIRECTORY_CAPACITY 2048

//~ startup.cpp

b8 start_editor();
// Everything before the first frame, in order. False when no window, renderer or UI could
// be made (said on stderr and in the log); the caller then shuts down.

int run_editor();
// The program: start-up, the main loop until a close request, shut-down. 0 after a normal
// end; 1 when no window, renderer or UI could be made, which is said on stderr and in the
// log.

void log_general_information();
// The version and the machine: processor, instruction set, cores, memory, system.

void set_window_icon(String directory);
// The window's icon from the image file "LOGO" in the directory. A missing or undecodable
// file leaves the window without one.

b8 replace_updater(String directory);
// Moves "_updater" over "updater" in one rename, so an updater is in place whatever
// happens. True when it was replaced; false when there was nothing to replace or the
// rename failed (logged).

void set_working_directory_from_process();
// editor_working_directory from the process's working directory; empty when it cannot be
// read or split.

void install_shell_actions();
// Fills the runtime's shell_actions with the shell's tab changes, so the layer's routines
// reach them. Start-up calls it; so do tests that run routines without a start-up.

//~ command_line.cpp

u32 split_command_line(u8* data, s64 count, String* arguments, u32 capacity);
// The NUL-terminated pieces of /proc/self/cmdline (a trailing piece without a NUL does
// not count). Returns how many there are; at most capacity are stored.

b8 command_line_filepath(String argument, Filepath* working_directory, Filepath* out);
// The file an argument names: an argument in double quotes loses them; a path not
// beginning with '/' is joined to the working directory. False (logged) when it cannot be
// split or is empty.

void open_file_from_command_line(String* arguments, u32 count);
// With a file argument: loads it into a fresh record that gets the keyboard, queues its
// tab for the first frame and, with a line argument, puts the cursor on that line, centred.
// Logs the command line first.

void read_command_line();
// open_file_from_command_line with the arguments of /proc/self/cmdline.
