// Copying and completing where the current tab and the other tabs matter. The other file
// tabs' texts are read under tabs_read_lock, and what is taken from them is copied before
// the lock goes, since those records may be closed afterwards.

#include "editor/across_tabs.h"
#include "editor/clipboard.h"
#include "editor/completion.h"
#include "editor/tabs.h"
#include "terminal/terminal.h"

void editor_copy_selection_to_clipboard(u8 stop_selection, u8 token_when_empty) {
    spin_lock(&tabs_read_lock);
    Tab* tab = get_current_tab();
    b8 copied = tab && tab->kind == TAB_TERMINAL && copy_terminal_selection_to_clipboard(tab->terminal);
    if (!copied) copy_file_selection_to_clipboard(current_file, stop_selection, token_when_empty);
    spin_unlock(&tabs_read_lock);
}

u8 auto_complete_text_before_cursor(Editor_File* file) {
    Word_Completion c;
    if (!start_word_completion(&c, file)) return 0;
    if (!c.data.common_text) {
        spin_lock(&tabs_read_lock);
        for (u32 i = 0; i < tabs.count; i++) {
            Tab* tab = (Tab*)tabs.data + i;
            if (tab->kind == TAB_FILE) collect_word_candidates(&c, tab->file);
        }
        keep_word_candidates_tmp(&c);
        spin_unlock(&tabs_read_lock);
    }
    return finish_word_completion(&c);
}

u8 auto_complete_filepath_in_terminal(Tab* tab) {
    if (!tab || tab->kind != TAB_TERMINAL || !tab->terminal) return 0;
    return auto_complete_filepath_in_input_line(tab->input_line, &tab->terminal->directory);
}
