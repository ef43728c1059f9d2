// The shared state words.

#include "editor/editor_state.h"

u64 global_flags = SHOULD_RUN;
u8 global_editor_context = CONTEXT_FILE;
Filepath editor_working_directory;
