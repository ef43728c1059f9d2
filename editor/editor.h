// The text editing core: open-file records and their paths, loading and saving, lines
// and columns, and the editor's own lexer with the layer's tokenisation hints.
#pragma once

#include "editor/filepath.h"
#include "editor/tokenisation_hints.h"
#include "editor/editor_file.h"
#include "editor/file_io.h"
#include "editor/lines.h"
#include "editor/lexer.h"
