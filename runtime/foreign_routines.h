// The foreign routines: the only way compiled layer code acts on the editor. The compiler
// binds an #import to a row by the hash of its name; the generated code then calls the
// dispatcher with the row's id and a parameter block. The table of names and ids is the
// compiler's; the dispatcher and the routines live here.
#pragma once

#include "compiler/core/foreign_routine_table.h"
#include "foundation/types.h"
#include "foundation/strings.h"

//~ The dispatcher (dispatcher.cpp, in the runtime proper)

// Where the generated code puts a foreign call's two arguments.
#define AMD64_REGISTER_USED_TO_PASS_PARAMETERS              0  // RDI: the parameter block
#define AMD64_REGISTER_USED_TO_PASS_FOREIGN_SUB_PROGRAM_ID  1  // RSI: the id, sign-extended from 32 bits

void handle_foreign_call(u8* block, u64 id);
// Performs routine id on the editor's state: reads its arguments from the block and writes
// its results back into it. An id outside 1 to FOREIGN_ROUTINE_COUNT, whatever its upper
// bits, does nothing. The block is not read for a routine that takes nothing. Main thread,
// inside a compiled block, under the execution lock.

//~ The routines built so far, each given its parameter block

// log (95) and int_to_string (96): routines_text.cpp
struct Log_Parameters {
    String format;
    String* values;
    s64 value_count;
};
static_assert(sizeof(Log_Parameters) == 32);

struct Int_To_String_Parameters {
    s64 value;
    String result;  // in the main thread's temporary memory, until the main loop's next pass
};
static_assert(sizeof(Int_To_String_Parameters) == 24);

void routine_log(u8* block);
// One Info line of the format with each "%" replaced by the next value and "%%" by "%";
// from a "%" that finds no value left, the rest of the format stands as it is. Nothing at all
// with no values. The text goes into the line as it is, never as a format.

void routine_int_to_string(u8* block);
// The value in decimal with its thousands grouped by ",".

// exit_program (44): routines_tabs.cpp
void routine_exit_program();
// Clears SHOULD_RUN: the running block goes on to its end, the editor ends after the frame.
