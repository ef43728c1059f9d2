// The file view: draws one Editor_File (a file in a tab, or a one-line input field) into
// a rectangle once per frame and handles the mouse over it. Immediate-mode: nothing of the
// view survives a frame but the record's view fields and its scroll bar element.
#pragma once

#include "foundation/types.h"
#include "editor/editor_file.h"
#include "ui/fonts.h"
#include "ui/vectors.h"

// The scroll bar element's key; its index is the record's address plus this, so every
// record has a scroll bar of its own.
#define FILE_VIEW_ELEMENT_KEY    "src/"
#define FILE_VIEW_ELEMENT_OFFSET 9707

// The cursor is this many pixels wide and does not blink.
#define FILE_VIEW_CURSOR_WIDTH 3.0f

//~ file_view.cpp

void draw_file(Editor_File* file, Font_Pool* font, v2 top_left, v2 bottom_right);
// Reloads the file when it changed on disk (never over unsaved edits), keeps the cursor in
// sight, lets the layer colour the visible lines when they or the text changed, draws the
// text with its colours, selection, cursor and line numbers, and turns clicks, drags and
// double clicks in the text into cursor moves and selections. Takes the record's lock for
// the whole call.
