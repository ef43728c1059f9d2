// The one entry of the compiler: the front end, the linked bytecode, the machine code and
// the image "custom.8b", stage after stage.
#pragma once

#include "compiler/parser/front_end.h"
#include "foundation/version.h"

//~ compile_pipeline.cpp

b8 compile_from_file(u8* path, u64 length, Version_Info* version);
// Compiles the user's file: a relative path is joined to the working directory. The
// support sources "inject.8" and "api.8" are read from the base directory. False after
// the reports in compile_errors. On success the image is written as "custom.8b" beside
// the executable; a failed write fails the compile and leaves the old file. Every exit
// frees the per-compile state.
