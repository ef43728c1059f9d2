// What the shell tests share: scratch directories, the log's text since a mark, and
// waiting for something another thread or process does.
#pragma once

#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/foundation.h"
#include "shell/shell.h"
#include "tests/scratch.h"
#include "tests/test_files.h"
#include "tests/waiting.h"

inline std::string make_scratch_directory() { return make_test_directory("shell"); }

inline void remove_scratch_directory(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

// The log's in-memory text from a mark taken with log_mark() on.
inline u64 log_mark() { return __global_log.used; }
inline std::string log_since(u64 mark) {
    if (!__global_log.memory || __global_log.used < mark) return "";
    return std::string((char*)__global_log.memory + mark, __global_log.used - mark);
}

template <typename F>
bool wait_until(F condition, double seconds = TEST_DEADLINE_SECONDS) {
    return wait_for_condition(condition, seconds, 5000);
}

// No tabs, no queued commands, no file with the keyboard: the state before the first frame.
// The files of the old tabs and of queued tabs are closed.
inline void reset_tabs_and_commands() {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab* tab = get_tab(i);
        if (tab->kind == TAB_FILE && tab->file) close_file(tab->file);
    }
    for (u32 i = 0; i < editor_commands.count; i++) {
        Editor_Command* command = (Editor_Command*)editor_commands.data + i;
        if (command->command_kind == COMMAND_ADD_TAB && command->payload) close_file((Editor_File*)command->payload);
    }
    dynamic_array_free(&tabs);
    init_tabs();
    dynamic_array_free(&editor_commands);
    init_editor_commands();
    current_file = nullptr;
    global_editor_context = CONTEXT_FILE;
    global_flags = SHOULD_RUN;
}
