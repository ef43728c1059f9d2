// The shell's shared state words.

#include "shell/editor_state.h"

u64 global_flags = SHOULD_RUN;
u8 global_editor_context = CONTEXT_FILE;
Filepath editor_working_directory;
