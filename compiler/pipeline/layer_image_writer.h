// The writer of the compiled layer image, the compile pipeline's last stage.
#pragma once

#include "compiler/bytecode/layer_image.h"
#include "foundation/memory.h"

//~ layer_image_writer.cpp

b8 output_amd64_file(String* source_path, u32 syntax_offset, u32 events_offset, u32 on_load_offset, u8 flags,
                     Version_Info* version, Dynamic_Array code, Dynamic_Array data_relocations,
                     Dynamic_Array foreign_call_slots);
// Lays the image out in compiler_output_memory from the compiler state (data areas, the
// relocation tables, the source files) and the code generator's output (code, the
// RIP-relative fix-ups, the slots; entry offsets are code offsets), then writes it beside
// the executable as "custom.8b": to a temporary name, flushed, then renamed over the old
// file. False after a report in compile_errors ("Failed to write '%s'." with the image's
// path, or an internal error when the parts do not make an image the loader would run);
// the old file is then untouched. source_path is only named in the log.
