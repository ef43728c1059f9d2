// quarnc's own listings of what a compile built, shared by its two files.
#pragma once

#include <stdio.h>

#include "compiler/parser/parser.h"

//~ front_end_listing.cpp

void write_preparse_listing(FILE* out);
// The loaded files and every global the preparse recorded, with its type and value tokens.

void write_entry_block_listing(FILE* out);
// The instructions of each entry block that was built.

void write_sub_program_bodies(FILE* out);
// The instructions of each sub-program listed for code.

void write_sub_program_listing(FILE* out);
// The sub-program list and the foreign sub-program list: each entry's name or instance
// key, its signature, its call-data size and alignment, its return offset and whether its
// result is scalar.
