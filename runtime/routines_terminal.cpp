// The terminal routines. A block is read through a copy: compiled code gives it no
// alignment the C++ side may count on.

#include "runtime/routines_terminal.h"
#include "runtime/layer_loader.h"
#include "editor/editor_commands.h"
#include "editor/editor_state.h"
#include "editor/tabs.h"
#include "foundation/notifications.h"
#include "runtime/shell_actions.h"
#include "terminal/terminal.h"

#include <string.h>

void foreign_make_a_new_terminal(u8* parameters) {
    if (shell_actions.open_new_terminal_tab) shell_actions.open_new_terminal_tab();
}

// The directory's non-empty components in order, or false (logged) when they do not fit.
static b8 directory_from_components(Filepath* directory, String* components, s64 count) {
    directory->count = 0;
    if (count == 0) return true;
    if (count < 0 || !components) {
        add_log(nullptr, LOG_ERROR, "run_terminal_command was given a directory of %lld components without an array.",
                (long long)count);
        return false;
    }
    for (s64 i = 0; i < count; i++) {
        String c = components[i];
        if (c.count == 0) continue;
        if (c.count < 0 || !c.data) {
            add_log(nullptr, LOG_ERROR, "run_terminal_command was given a directory component without text.");
            return false;
        }
        if (directory->count == FILEPATH_MAX_COMPONENTS) {
            add_log(nullptr, LOG_ERROR, "A directory of more than %d components is too long to run a terminal command in.",
                    FILEPATH_MAX_COMPONENTS);
            return false;
        }
        if (c.count > FILEPATH_MAX_COMPONENT_LENGTH) {
            add_log(nullptr, LOG_ERROR,
                    "A directory component of %lld octets is too long to run a terminal command in.", (long long)c.count);
            return false;
        }
        Filepath_Component* to = &directory->components[directory->count++];
        memcpy(to->storage, c.data, (u64)c.count);
        to->text = to->storage;
        to->length = (u64)c.count;
    }
    return true;
}

void foreign_run_terminal_command(u8* parameters) {
    Run_Terminal_Command_Parameters p;
    memcpy(&p, parameters, sizeof(p));
    if (p.command_line.count > 0 && !p.command_line.data) {
        add_log(nullptr, LOG_ERROR, "run_terminal_command was given a command line without text.");
        return;
    }
    check_layer_memory(p.command_line.data, p.command_line.count);
    check_layer_strings(p.directory, p.count);
    u64 saved = tmp_get_used();
    Filepath* directory = (Filepath*)tmp_allocate_aligned(sizeof(Filepath), alignof(Filepath));
    // The queue refuses, and logs, a line its buffer cannot hold.
    if (directory && directory_from_components(directory, p.directory, p.count)) {
        queue_run_in_terminal_command(p.command_line, directory);
    }
    tmp_set_used(saved);
}

void foreign_kill_current_terminal_process(u8* parameters) {
    Tab* tab = get_current_tab();
    if (tab && tab->kind == TAB_TERMINAL && tab->terminal) kill_terminal_process(tab->terminal);
}

void foreign_confirm_prompt(u8* parameters) {
    spin_lock(&tabs_read_lock);
    Tab* tab = get_current_tab();
    if ((global_editor_context & CONTEXT_TERMINAL) && tab && tab->kind == TAB_TERMINAL && tab->terminal &&
        tab->input_line) {
        execute_terminal_command_line(tab->terminal, tab->input_line, &tab->title, TAB_TITLE_CAPACITY);
    }
    spin_unlock(&tabs_read_lock);
}
