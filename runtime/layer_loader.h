// Compiling, loading and running the custom layer: the decision to reuse "custom.8b", the
// compile, the executable mapping and its rebasing, and the entry into the three blocks
// under a guard that stops a faulting or endless block without taking the editor down.
#pragma once

#include "runtime/custom_layer.h"
#include "compiler/amd64/amd64.h"
#include "compiler/bytecode/layer_image.h"
#include "compiler/pipeline/compile_pipeline.h"
#include "compiler/pipeline/layer_image_writer.h"

struct Editor_File;

//~ What the runtime calls of the compiler

b8 compile_from_file(u8* path, u64 length, Version_Info* version);
// The compile pipeline: compiles the file with the support sources beside the executable and
// writes "custom.8b" (output_amd64_file). False after its reports in compile_errors. A
// success that leaves the old image in place is taken as a failed load.

//~ layer_loader.cpp

b8 compile_custom_layer(u8 reuse);
// Takes the sources lock and then the execution lock (the caller holds neither). With reuse,
// a "custom.8b" that passes every check and whose sources all keep the size and time it
// records is loaded as it is; otherwise custom.8 beside the executable is compiled and its
// image loaded. The new image is rebased, its foreign-call slots get the dispatcher, the old
// mapping is released, #on_load runs and every file tab is marked for #syntax. True when the
// new layer is installed and its #on_load ran to its end. False when the processor cannot
// run compiled code, the compile failed or the new image could not be loaded (reported in
// compile_errors, DISPLAY_COMPILE_ERRORS set, the installed layer kept), or when #on_load
// was stopped (the layer is then unloaded). Either way the watched sources are then those
// the last compile read or tried to, or those of the reused image.

u8* get_events_block_entry_point(u8* image);
u8* get_on_load_block_entry_point(u8* image);
u8* get_syntax_block_entry_point(u8* image);
// The block's first instruction; null when image is null or has no such block.

void unload_custom_layer();
// Releases the installed image and forgets "custom.8b", so it is compiled again at the next
// start. The watched sources stay as they are. Under the execution lock.

Layer_Source_View amd64_apply_relocations(u8* image);
// Rebases an image check_layer_image accepted, in place: constant and global relocations,
// the dispatcher's address into every foreign-call slot, the source names made pointers.
// Returns the view of its source table.

//~ layer_guard.cpp

// The longest a block may run before it is stopped.
#define LAYER_TIME_LIMIT_MILLISECONDS 5000u
// After the limit, how often the timer looks again for a moment when layer code runs.
#define LAYER_TIMER_RETRY_MILLISECONDS 10u

struct Layer_Runtime_Settings {
    u32 time_limit_milliseconds;  // LAYER_TIME_LIMIT_MILLISECONDS; tests shorten it
    b8 processor_checked;
    u8 missing_cpu_features;      // AMD64_LACKS_ bits, once processor_checked
};

extern Layer_Runtime_Settings layer_runtime_settings;

extern Editor_File* custom_layer_execution_file;
// The file the running block works on: the file being coloured by #syntax, null for
// #on_load and #events.

b8 amd64_execute(u8* entry, Editor_File* file);
// Sets custom_layer_execution_file and calls the block at entry (an entry point of the
// installed image) with no arguments. The caller holds the execution lock (and for #events
// the sources lock first). A division by zero, trap, invalid instruction or bad memory
// access in the layer's own code, runaway recursion, or a block still running after the
// time limit stops the block: "The custom layer stopped in #%s: %s." is reported like a
// compile error, the layer is unloaded and false comes back. Faults elsewhere reach the
// handlers that were there before. False at once, running nothing, for a null entry or
// with no image installed. Main thread only.

void stop_layer_if_overdue();
// When the time limit passed while an editor routine ran, the block is stopped here,
// between two routines, never inside one. Returns when the block may go on.

// The stack a routine may need at most: with less left, the block is stopped at the
// routine's door as runaway recursion.
#define LAYER_ROUTINE_STACK_ROOM (512ull * 1024)

void enter_layer_routine(u64 id);
void leave_layer_routine();
// The dispatcher calls them around every routine a block calls. Entering stops the block
// when it is overdue or when less than LAYER_ROUTINE_STACK_ROOM of stack is left, and
// notes the routine for reports; leaving stops it when it became overdue meanwhile. Both
// do nothing outside a guarded block.

// Inside a guarded block, on its thread, a routine reads and writes memory at an address
// the layer handed it only through these: a range that cannot be read (or written) stops
// the block with a report naming the routine, before anything was changed by the access.
// Outside a block they check nothing (and write_layer_memory copies). Null data or a count
// of 0 or less checks nothing.
void check_layer_memory(const void* data, s64 count);
void check_layer_array(const void* data, s64 count, u64 element_size);
void check_layer_strings(const String* strings, s64 count);  // the array and each text in it
void write_layer_memory(void* to, const void* from, u64 count);
