// The tab, event and context routines. Only exit_program is built so far.
#include "runtime/foreign_routines.h"
#include "shell/editor_state.h"

void routine_exit_program() { atomic_and_u64(&global_flags, ~(u64)SHOULD_RUN); }
