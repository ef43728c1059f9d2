// The text editing core: open-file records and their paths, loading and saving, lines
// and columns, the editor's own lexer with the layer's tokenisation hints, the editing
// primitives with undo, colour chunks, the clipboard and completion.
#pragma once

#include "editor/filepath.h"
#include "editor/editor_state.h"
#include "editor/editor_settings.h"
#include "editor/tokenisation_hints.h"
#include "editor/editor_file.h"
#include "editor/file_io.h"
#include "editor/lines.h"
#include "editor/lexer.h"
#include "editor/editing.h"
#include "editor/colour_chunks.h"
#include "editor/clipboard.h"
#include "editor/completion.h"
#include "editor/file_view.h"
#include "editor/tabs.h"
#include "editor/editor_commands.h"
