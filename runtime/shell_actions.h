// What the layer's routines ask of the shell, which sits above the runtime. The shell fills
// the record when it starts (install_shell_actions); until then these routines do nothing.
#pragma once

#include "foundation/types.h"

struct Tab;

struct Shell_Actions {
    void (*set_current_tab)(u32 index, b8 close_listers);
    void (*close_tab)(Tab* tab);
    void (*open_new_file_tab)();
    void (*open_new_terminal_tab)();
    void (*ask_to_save_file)();
};

extern Shell_Actions shell_actions;
