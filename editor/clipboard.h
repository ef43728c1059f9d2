// Copying to the system clipboard. Besides the clipboard the editor keeps two copies of
// the last text it copied itself: as it was, and with the indentation that the first
// line's position gave the later lines taken out, so that a paste can indent it anew.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "editor/editor_file.h"

extern Dynamic_Array text_copied_locally;                     // octets, as selected
extern Dynamic_Array text_copied_as_if_there_was_no_padding;  // octets, blanks of the first line's depth taken out

// Above this a copy for the clipboard goes to the general-purpose allocator rather than
// temporary memory, which a big selection would overrun.
#define CLIPBOARD_TEMPORARY_LIMIT 65536

//~ clipboard.cpp

void editor_set_clipboard_text(u8* text, s64 count);
// Hands a NUL-terminated copy of the text to the system clipboard (GLFW copies it).

void set_local_copy(Dynamic_Array* copy, u8* data, s64 count);
// Makes one of the two local copies hold these octets; empty when memory runs out.

void copy_file_selection_to_clipboard(Editor_File* file, u8 stop_selection, u8 token_when_empty);
// Copies the file's selection to the clipboard and the two local copies, or, with an
// empty selection and token_when_empty, the token at the cursor. With stop_selection the
// selection ends afterwards. The layer's copy routine goes through
// editor_copy_selection_to_clipboard (terminal/terminal.h), which looks at the current tab first.
