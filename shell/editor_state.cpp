// The shell's shared state words.

#include "shell/editor_state.h"

u64 global_flags = SHOULD_RUN;
u8 global_editor_context = CONTEXT_FILE;
Filepath editor_working_directory;

static u8 default_tab_text[4] = {' ', ' ', ' ', ' '};
Dynamic_Array global_tab_character = {default_tab_text, 1, 4, 4, {}};
