// The file watcher: a thread that notices, ten times a second, when a source of the custom
// layer or a file open in a tab changed on disk. It reads nothing and reloads nothing: it
// raises flags and wakes the main loop, whose frame does the work. Paths are copied under
// the locks and looked at without them, so a slow file system never stalls the main loop
// on a lock the watcher holds.
#pragma once

#include "foundation/foundation.h"

#define FILE_WATCHER_INTERVAL_MILLISECONDS 100

//~ file_watcher.cpp

u32 watch_open_files();
// One pass over the file tabs that have a path and neither unsaved edits nor a pending
// change: a different size or modification time (seconds and nanoseconds, symlinks
// followed) sets FILE_CHANGED_ON_DISK and clears FILE_GONE_FROM_DISK; a path that holds no
// readable file any more sets FILE_GONE_FROM_DISK once; a gone file that is back counts as
// changed.
// A flag is set only while the file still has no unsaved edits, in one atomic step.
// Returns how many files it flagged, each a reason to wake the main loop.

b8 watch_layer_sources();
// One pass over the layer's watched sources (those of the installed image, or those the
// last compile read or tried to, also with no layer loaded): true, with the recompile
// request set, at the first source whose size or whole modification time (symlinks
// followed) differs from its row; later sources wait for the next pass. A pass that finds
// the sources lock taken (a compile runs, or the #events block) returns false at once and
// leaves the sources to the next pass.

void* file_watcher(void* unused);
// Thread entry: both passes every FILE_WATCHER_INTERVAL_MILLISECONDS for as long as the
// process lives, waking the main loop after a pass that flagged something.

b8 start_file_watcher();
// Starts the thread, detached. False (logged) when it could not be created.
