// What happens to a chosen file lister entry: its full path, deleting it (a directory with
// everything under it) and saving a file under its name.
#pragma once

#include "foundation/foundation.h"
#include "editor/editor.h"
#include "listers/file_lister.h"

//~ lister_actions.cpp

String get_file_lister_item_path_tmp(String directory, File_Lister_Item* item);
// The lister's directory text ("/" for the root), the item's relative directory and its
// name joined with "/", NUL-terminated in temporary memory. Empty when temporary memory is
// full.

b8 os_delete_directory(u8* path, u64 length);
// Removes the directory at path and everything under it, working from directory
// descriptors: a link is removed, never followed (also one swapped in for a directory
// while the walk runs), and nothing reached through another file system or another mount
// (a bind mount of the same one) is entered. True when everything went; what stayed is
// logged. A path that is a link, no directory or a mount point is refused (false, logged).

b8 delete_file_lister_entry(String directory, File_Lister_Item* item, String* kept_directories, u32 kept_count);
// Deletes the item of a listing of directory. Its folder is reached from the listed
// directory one component at a time without following links, and the entry goes only
// while it and that folder are still the ones the listing saw (device and inode): a
// directory on the way swapped for a link, or the entry replaced, refuses the delete. A
// link (whatever it points at) or a file is unlinked; a directory is removed as by
// os_delete_directory. Refused as well (false, logged): an entry whose kind changed since
// it was listed (a link counts as what it points at, so it is always unlinked), and a
// directory that is "/" or is or holds $HOME, the process's working directory or one of
// kept_directories (the editor's working directory and the lister's own, for instance).

b8 save_file_as(Editor_File* file, String directory, String name, u8* path_lock);
// Writes the file's text to directory/name the way every save does (a temporary file
// renamed over the target, whose permissions stay; a new file gets 0600). On success the
// record takes the new directory and name, under path_lock when it is not null (threads
// that read file paths hold it), and is no longer modified. False when the name is not
// one valid name (is_valid_new_file_name), the directory does not fit a Filepath, or the
// write failed (logged); the record and the file on disk are then as they were.

void close_lister();
// The listers' close sequence: neither is shown or has the mouse, a search is stopped and
// awaited, the file lister's directory is emptied, and when a lister had the keyboard it
// goes back to what the current tab shows (its file, a terminal's input line, or nothing).

void file_lister_select_shown_item();
// A click's choice: the selected item of the file list on screen, at once.

void lister_select_item();
// Performs the selected item of the shown lister, when a lister has the keyboard. File
// lister: only on the list the panel drew (shown_generation) and an item it shows
// selected; when the list of the query typed is not on screen yet, the panel performs it
// once it is (an Enter typed on the heels of a name acts on that name's list). Delete: the entry goes (see delete_file_lister_entry), the lister lists again
// with nothing selected. A directory: entered, the query emptied. A file: saved there from
// the current file tab (save) or opened in its tab or a new one (open); the lister closes.
// Search lister: the cursor goes to the hit, in the current tab's file when it is still
// the searched one, or in the hit's file's tab; the lister closes.
