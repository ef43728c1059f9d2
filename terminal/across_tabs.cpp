// Copying and completing where the current tab is a terminal: its selected output goes
// before the file's selection, and its input line completes paths in its directory.

#include "terminal/terminal.h"
#include "editor/clipboard.h"
#include "editor/completion.h"
#include "editor/tabs.h"

void editor_copy_selection_to_clipboard(u8 stop_selection, u8 token_when_empty) {
    spin_lock(&tabs_read_lock);
    Tab* tab = get_current_tab();
    b8 copied = tab && tab->kind == TAB_TERMINAL && copy_terminal_selection_to_clipboard(tab->terminal);
    if (!copied) copy_file_selection_to_clipboard(current_file, stop_selection, token_when_empty);
    spin_unlock(&tabs_read_lock);
}

u8 auto_complete_filepath_in_terminal(Tab* tab) {
    if (!tab || tab->kind != TAB_TERMINAL || !tab->terminal) return 0;
    return auto_complete_filepath_in_input_line(tab->input_line, &tab->terminal->directory);
}
