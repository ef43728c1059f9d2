// Moving a file's octets between the disk and its Editor_File, whole and byte for byte.
// Nothing here ever destroys what is on disk or in the buffer: a read replaces the text
// only once the whole file is in memory, and a save goes through a temporary file in the
// target's directory that is renamed over the target once it is complete.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"
#include "editor/editor_file.h"
#include "editor/filepath.h"

extern u64 editor_start_time;
// Wall-clock nanoseconds at which this editor started, set by start-up. Loading a file and
// saving it remove the temporaries ".NAME.quarn-XXXXXX" of that name beside it that are
// older than this and held by no save (a save killed before its rename leaves one); 0
// removes none.

String get_file_path_tmp(Editor_File* file);
// The file's directory joined with its name, NUL-terminated in temporary memory; the name
// alone when the file has no directory.

b8 load_file(Filepath* path, Editor_File* file);
// Reads the regular file at path (its last component is the name) into a record fresh
// from init_file, makes it current_file and clears FILE_MODIFIED. False (logged) when the
// file cannot be read whole; the record is then left as it was. Takes the record's lock.
// Remembers whether the name is a symlink and where it leads, for save_file.

b8 reload_file(Editor_File* file);
// Reads the file again after it changed on disk and replaces the text and the undo list.
// On failure (logged) the text stays as it was. Either way FILE_CHANGED_ON_DISK is
// cleared. Does nothing for a file gone from disk. The caller holds the record's lock
// (the file view reloads while it draws).

b8 save_file(Editor_File* file);
// Writes the text to the file's path: symlinks are followed to their target, which keeps
// its permissions. False (logged, FILE_MODIFIED kept) when the text could not be written
// whole, with the file on disk exactly as it was. A file without a path is refused; the
// caller asks the user for one. FILE_SAVE_FAILED follows the outcome until the next save.
// A file on disk that is no longer what the record last read or wrote (size, whole
// modification time, device, inode) is not replaced: the save answers false, logs and sets
// FILE_SAVE_REFUSED, which the tab shows; a save that finds the disk still as that refused
// save saw it writes, since the user has been shown the change. A read or a write clears
// the mark. A symlink at the name is written through only when the name was that link,
// leading to the same file, at the load or the last save (a reload does not count): any
// other is refused the same way, and the save after it puts a new file (0600) in place of
// the link, logged, leaving what the link leads to as it is. A link that leads nowhere
// where the name was a link is kept, and the save fails.

b8 save_file_over(Editor_File* file);
// save_file without the comparison: for a target the user chose by name (a save under a
// new name), whatever is there now. A symlink there is followed.
