// quarnc's listings of types: what its two files share.
#pragma once

#include <stdio.h>

#include "compiler/core/compiler_core.h"

//~ quarnc.cpp

Source_File* load_source_file(const char* path);
// Reads the file whole into a new source file of the compile, not yet tokenised. Null
// (after a line on stderr) when it cannot be read.

void write_compile_errors(FILE* out);
// The reports as the compile-errors tab copies them, '^' under each marked range.

//~ type_listing.cpp

int run_type_listing(int argc, char** argv);
// quarnc --layout FILE... and quarnc --type TEXT FILE...: the files are declared in order
// into one global scope, each declaration parsed as its first use would parse it (the
// support types taken once a file declares them); then the layouts of the structs and
// enums the last file declares, or the type TEXT names with its layout or signature block.
// The exit status: 0, 1 after any report, 2 when a file cannot be read.
