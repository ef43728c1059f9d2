// Starting the listers' threads. Every thread here is detached: nothing ever joins it.
#pragma once

#include "foundation/types.h"

typedef void* (*Lister_Thread_Entry)(void* argument);

//~ lister_threads.cpp

b8 start_detached_thread(Lister_Thread_Entry entry, void* argument, const char* what);
// True when the thread runs. False (logged with `what`, e.g. "search") when it could not
// be created; the caller undoes whatever it had set up for it.

u32 get_usable_processor_count();
// Processors this thread may run on; at least 1, at most 1,024.
