// The clipboard and undo routines: copying and cutting the cursor's line or the selection,
// pasting with the file's own line endings and the target line's indentation, and taking
// back the last change. Bodies of the dispatcher; main thread, where GLFW's clipboard must
// be used.
#pragma once

#include <stddef.h>

#include "foundation/types.h"

struct Editor_File;

//~ Parameter blocks

struct Delete_Line_Parameters {
    u8 copy;  // non-zero: the line goes to the clipboard before it is deleted
};
static_assert(sizeof(Delete_Line_Parameters) == 1);

struct Copy_Selection_Parameters {
    u8 stop_selection;    // the selection ends after the copy
    u8 token_when_empty;  // with nothing selected, the token at the cursor is copied
};
static_assert(offsetof(Copy_Selection_Parameters, token_when_empty) == 1);

struct Paste_Parameters {
    u8 move_cursor;  // the cursor goes to the end of the pasted text
    u8 indent;       // later lines take the cursor line's indentation; the editor's own copy is pasted unpadded
};
static_assert(offsetof(Paste_Parameters, indent) == 1);

//~ routines_clipboard.cpp

void foreign_copy_line(u8* parameters);
// The line of the layer's file (the file being coloured, else current_file) to the
// clipboard, and without its leading blanks to the unpadded local copy.

void foreign_delete_line(u8* parameters);
// Deletes the cursor's line with its line break (the last line without one), copying it
// first when asked; the cursor keeps its column on the line that takes its place.

void foreign_copy_selection_to_clipboard(u8* parameters);
void foreign_cut_selection_to_clipboard(u8* parameters);

void foreign_paste_from_clipboard(u8* parameters);
// Inserts the clipboard's text at the cursor as one insertion record: each line break as
// the file's line ending, each tab as the tab text, with indent the cursor line's leading
// blanks after every inserted line break that more text follows. Nothing without a
// current file or with an empty clipboard.

void paste_text(Editor_File* file, u8* text, s64 count, u8 move_cursor, u8 indent);
// Everything the paste does once it has the clipboard's text; nothing for an empty text.

void foreign_undo(u8* parameters);  // the last record of current_file taken back
