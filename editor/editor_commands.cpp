// The queue of editor commands.

#include "editor/editor_commands.h"
#include "editor/tabs.h"

#include <string.h>

Dynamic_Array editor_commands;

void init_editor_commands() { init_dynamic_array(&editor_commands, sizeof(Editor_Command)); }

// Only the fields a kind uses are set; the text and directory stay as the slot held them.
static Editor_Command* queue_command(u8 kind) {
    Editor_Command* command = (Editor_Command*)dynamic_array_add_fast(&editor_commands);
    if (!command) {
        add_log(nullptr, LOG_ERROR, "No memory left to queue an editor command.");
        return nullptr;
    }
    command->command_kind = kind;
    command->tab_target = 0;
    command->tab_kind = 0;
    command->payload = 0;
    command->command_directory.count = 0;
    return command;
}

b8 queue_add_tab_command(u8 tab_kind, void* record) {
    Editor_Command* command = queue_command(COMMAND_ADD_TAB);
    if (!command) return false;
    command->tab_target = tmp_current_tab_index + 1;
    command->tab_kind = tab_kind;
    command->payload = (u64)record;
    return true;
}

b8 queue_go_to_tab_command(u32 tab_id) {
    Editor_Command* command = queue_command(COMMAND_GO_TO_TAB);
    if (!command) return false;
    command->tab_target = tab_id;
    return true;
}

b8 queue_run_in_terminal_command(String command_line, Filepath* directory) {
    if (command_line.count < 0 || (u64)command_line.count > EDITOR_COMMAND_TEXT_CAPACITY) {
        add_log(nullptr, LOG_ERROR, "A command line of %lld octets is too long to run in a terminal.",
                (long long)command_line.count);
        return false;
    }
    Editor_Command* command = queue_command(COMMAND_RUN_IN_TERMINAL);
    if (!command) return false;
    memcpy(command->command_text, command_line.data, (u64)command_line.count);
    command->payload = (u64)command_line.count;
    if (directory) set_filepath_from(&command->command_directory, directory);
    return true;
}
