// The terminal routines through the dispatcher, on real terminal tabs and pseudo-terminals:
// a new terminal tab, a command line run in one and the refusal of what its buffers cannot
// hold, the kill, the typed line confirmed, and previous and next item in a terminal tab.
#include "routine_blocks.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "../process_test_support.h"
#include "runtime/routines_terminal.h"
#include "terminal/terminal.h"
#include "ui/window.h"
#include "tests/scratch.h"
#include "tests/waiting.h"

namespace {

std::string joined(Filepath* path) {
    String s = filepath_to_tmp_string(path);
    return std::string((char*)s.data, s.data ? (size_t)s.count : 0);
}

std::string text_of(Editor_File* f) { return std::string((char*)f->text.data, (size_t)f->text.count); }
std::string title_of(Tab* tab) { return std::string((char*)tab->title.data, (size_t)tab->title.count); }

void set_path(Filepath* path, const std::string& text) {
    ASSERT_TRUE(string_to_filepath(path, (u8*)text.data(), (s64)text.size()));
}

void type(Editor_File* line, const std::string& text) {
    line->text.count = 0;
    if (!text.empty()) memcpy(dynamic_array_add_fast_multiple(&line->text, (u32)text.size()), text.data(), text.size());
    editor_set_cursor(line, line->text.count);
}

void call(u32 id, u8* block = nullptr) {
    Test_Block empty = empty_block();
    handle_foreign_call(block ? block : empty.bytes, id);
    if (!block) expect_block_tail_untouched(empty);
}

// Until the last command neither runs nor is read, and no worker holds a block.
bool wait_until_idle(Terminal* t) {
    return wait_for_condition([&] {
        for (Terminal_Result* b = (Terminal_Result*)t->results.first_element; b; b = b->next) {
            if (atomic_load_u8(&b->flags) & (TERMINAL_RESULT_WORKER | TERMINAL_RESULT_READING)) return false;
        }
        return true;
    });
}

std::string block_text(Terminal_Result* block) {
    spin_lock(&block->lock);
    std::string text((char*)block->text.data, (size_t)block->text.count);
    spin_unlock(&block->lock);
    return text;
}

std::vector<std::string> command_history(Terminal* t) {
    std::vector<std::string> out;
    Terminal_History_Entry* e = (Terminal_History_Entry*)t->command_history.data;
    for (u32 i = 0; i < t->command_history.count; i++) out.push_back(std::string((char*)e[i].storage, e[i].text.count));
    return out;
}

bool session_lives(int session) { return !live_processes_of_session(session).empty(); }

// The child makes its session itself, a moment after the fork.
bool wait_for_session(int session) {
    return wait_for_condition([&] { return session_lives(session); });
}

Editor_File* make_input_line() {
    Editor_File* line = add_a_file();
    atomic_or_u16(&line->flags, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    return line;
}

// Tabs from letters: f a file with a path, u a file without one, t a terminal; each in the
// directory given, the tab at current made current.
void open_tabs(const std::string& kinds, u32 current, const std::string& directory) {
    for (char kind : kinds) {
        current_tab_index = tabs.count ? tabs.count - 1 : 0;
        Tab* tab = nullptr;
        if (kind == 't') {
            tab = add_a_tab(TAB_TERMINAL, make_input_line());
            ASSERT_NE(tab, nullptr);
            set_path(&tab->terminal->directory, directory);
        } else {
            Editor_File* file = add_a_file();
            if (kind == 'f') set_path(&file->directory, directory);
            tab = add_a_tab(TAB_FILE, file);
            ASSERT_NE(tab, nullptr);
        }
    }
    current_tab_index = (u32)tabs.count;
    if (current < tabs.count) set_current_tab(current, true);
}

void close_every_tab() {
    while (tabs.count) close_tab(get_tab(tabs.count - 1));
    // A queued tab's record would otherwise stay in use.
    for (u32 i = 0; i < editor_commands.count; i++) {
        Editor_Command* c = (Editor_Command*)editor_commands.data + i;
        if (c->command_kind == COMMAND_ADD_TAB && c->payload) close_file((Editor_File*)c->payload);
    }
    editor_commands.count = 0;
    dynamic_array_free(&tabs);
    init_tabs();
    tmp_current_tab_index = 0;
    current_file = nullptr;
    global_editor_context = CONTEXT_FILE;
}

struct TerminalRoutinesThreads : ::testing::Test {
    std::string directory;  // where the commands run
    u64 log_mark;

    void SetUp() override {
        static bool terminals_ready = false;
        if (!terminals_ready) init_terminals();
        terminals_ready = true;
        atomic_store_u8(&window_is_focused, 1);  // no desktop notifications
        close_every_tab();
        directory = make_test_directory("terminal-routines");
        ASSERT_FALSE(directory.empty());
        set_path(&editor_working_directory, directory);
        log_mark = __global_log.used;
    }
    void TearDown() override {
        close_every_tab();
        editor_working_directory.count = 0;
        remove_test_files(directory);
        tmp_reset();
    }
    std::string log_since_mark() const {
        return std::string((char*)__global_log.memory + log_mark, __global_log.used - log_mark);
    }
};

}  // namespace

TEST_F(TerminalRoutinesThreads, MakeANewTerminalOpensNextToTheCurrentTabInItsDirectory) {
    struct Case {
        const char* name;
        std::string kinds;  // the tabs before, in the directory below
        u32 current;        // the count: none
        const char* tabs_directory;
        u32 position;       // of the new tab
        const char* directory;  // null: the working directory
    };
    const Case cases[] = {
        {"no tab", "", 0, "/srv/x", 0, nullptr},
        {"after a file with a path, before the next tab", "ff", 0, "/srv/files", 1, "/srv/files"},
        {"after a terminal", "ft", 1, "/srv/terminal", 2, "/srv/terminal"},
        {"after a file without a path", "uf", 0, "/srv/files", 1, nullptr},
        {"no tab current: at the end", "ff", 2, "/srv/files", 2, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        close_every_tab();
        set_path(&editor_working_directory, directory);
        open_tabs(c.kinds, c.current, c.tabs_directory);
        tmp_current_tab_index = current_tab_index;
        u32 before = tabs.count;

        call(ROUTINE_MAKE_A_NEW_TERMINAL);
        // The keyboard goes to the new input line at once; the tab comes with the next frame.
        Editor_File* input_line = current_file;
        ASSERT_NE(input_line, nullptr);
        EXPECT_EQ(global_editor_context, CONTEXT_TERMINAL);
        EXPECT_EQ(atomic_load_u16(&input_line->flags) & (FILE_SINGLE_LINE | FILE_NO_SYNTAX),
                  FILE_SINGLE_LINE | FILE_NO_SYNTAX);
        EXPECT_EQ(tabs.count, before);
        EXPECT_EQ(editor_commands.count, 1u);

        perform_editor_commands();
        ASSERT_EQ(tabs.count, before + 1);
        Tab* tab = get_tab(c.position);
        ASSERT_EQ(tab->kind, TAB_TERMINAL);
        EXPECT_EQ(current_tab_index, c.position);
        EXPECT_EQ(tab->input_line, input_line);
        EXPECT_EQ(current_file, input_line);
        EXPECT_EQ(joined(&tab->terminal->directory), c.directory ? c.directory : directory);
        EXPECT_EQ(tab->terminal->results.count, 0u);
        EXPECT_EQ(tab->terminal->process_id, -1);
    }
}

TEST_F(TerminalRoutinesThreads, RunTerminalCommandQueuesOnlyWhatItsBuffersHold) {
    const std::string fills(EDITOR_COMMAND_TEXT_CAPACITY, 'x');
    const std::string component_fills(FILEPATH_MAX_COMPONENT_LENGTH, 'd');
    std::vector<std::string> deepest = {"/"};
    while (deepest.size() < FILEPATH_MAX_COMPONENTS) deepest.push_back("d");
    std::vector<std::string> too_deep = deepest;
    too_deep.push_back("d");
    std::string deepest_path;
    for (size_t i = 1; i < deepest.size(); i++) deepest_path += "/d";

    struct Case {
        const char* name;
        std::string line;
        std::vector<std::string> components;
        s64 count;            // -1: the components' count
        bool null_line;       // the line's count without its text
        bool null_array;
        bool null_component;  // a last component with a count and no text
        bool queued;
        std::string directory;  // of the queued command
        const char* log;        // what a refusal logs
    };
    const Case cases[] = {
        {"a line in a directory, empty components left out", "echo hi", {"/", "tmp", "", "x"}, -1, false, false, false,
         true, "/tmp/x", ""},
        {"no directory", "true", {}, -1, false, false, false, true, "", ""},
        {"an empty line", "", {"/", "tmp"}, -1, false, false, false, true, "/tmp", ""},
        {"a line that fills the buffer", fills, {"/"}, -1, false, false, false, true, "/", ""},
        {"a line one octet over", fills + "x", {"/"}, -1, false, false, false, false, "",
         "A command line of 4097 octets is too long to run in a terminal."},
        {"as many components as a path holds", "true", deepest, -1, false, false, false, true, deepest_path, ""},
        {"one component more", "true", too_deep, -1, false, false, false, false, "",
         "A directory of more than 64 components is too long to run a terminal command in."},
        {"a component that fills its storage", "true", {"/", component_fills}, -1, false, false, false, true,
         "/" + component_fills, ""},
        {"a component one octet over", "true", {"/", component_fills + "d"}, -1, false, false, false, false, "",
         "A directory component of 257 octets is too long to run a terminal command in."},
        {"a negative count", "true", {"/"}, -2, false, false, false, false, "",
         "run_terminal_command was given a directory of -2 components without an array."},
        {"a count without an array", "true", {}, 3, false, true, false, false, "",
         "run_terminal_command was given a directory of 3 components without an array."},
        {"a component without text", "true", {"/"}, -1, false, false, true, false, "",
         "run_terminal_command was given a directory component without text."},
        {"a line without text", "abc", {"/"}, -1, true, false, false, false, "",
         "run_terminal_command was given a command line without text."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        editor_commands.count = 0;
        u64 mark = __global_log.used;
        std::vector<String> components;
        for (const std::string& s : c.components) components.push_back(String{(u8*)s.data(), (s64)s.size()});
        if (c.null_component) components.push_back(String{nullptr, 4});
        Run_Terminal_Command_Parameters p = {
            String{c.null_line ? nullptr : (u8*)c.line.data(), (s64)c.line.size()},
            c.null_array ? nullptr : components.data(),
            c.count == -1 ? (s64)components.size() : c.count,
        };
        Test_Block block = block_from(p);
        call(ROUTINE_RUN_TERMINAL_COMMAND, block.bytes);

        expect_block_tail_untouched(block);
        EXPECT_EQ(memcmp(block.bytes, &p, sizeof(p)), 0) << "the block is only read";
        std::string logged((char*)__global_log.memory + mark, __global_log.used - mark);
        if (!c.queued) {
            EXPECT_EQ(editor_commands.count, 0u);
            EXPECT_NE(logged.find(c.log), std::string::npos) << logged;
            continue;
        }
        EXPECT_EQ(logged, "");
        ASSERT_EQ(editor_commands.count, 1u);
        Editor_Command* command = (Editor_Command*)editor_commands.data;
        EXPECT_EQ(command->command_kind, COMMAND_RUN_IN_TERMINAL);
        EXPECT_EQ(std::string((char*)command->command_text, command->payload), c.line);
        EXPECT_EQ(joined(&command->command_directory), c.directory);
    }
    editor_commands.count = 0;
}

TEST_F(TerminalRoutinesThreads, RunTerminalCommandShowsItsOutputInATerminalTabOfItsDirectory) {
    std::vector<std::string> parts = {"/"};
    for (const auto& part : std::filesystem::path(directory).relative_path()) parts.push_back(part.string());
    parts.insert(parts.begin() + 1, "");  // left out
    std::vector<String> components;
    for (const std::string& s : parts) components.push_back(String{(u8*)s.data(), (s64)s.size()});
    Test_Block block = block_from(Run_Terminal_Command_Parameters{STR("echo hi"), components.data(), (s64)components.size()});
    call(ROUTINE_RUN_TERMINAL_COMMAND, block.bytes);
    EXPECT_EQ(tabs.count, 0u) << "nothing before the next frame";

    perform_editor_commands();
    ASSERT_EQ(tabs.count, 1u);
    Tab* tab = get_current_tab();
    ASSERT_NE(tab, nullptr);
    ASSERT_EQ(tab->kind, TAB_TERMINAL);
    EXPECT_EQ(current_file, tab->input_line);
    EXPECT_EQ(global_editor_context, CONTEXT_TERMINAL);
    EXPECT_EQ(joined(&tab->terminal->directory), directory);
    EXPECT_EQ(title_of(tab), "echo | " + directory);
    ASSERT_TRUE(wait_until_idle(tab->terminal));
    ASSERT_EQ(tab->terminal->results.count, 1u);
    Terminal_Result* result = (Terminal_Result*)tab->terminal->results.first_element;
    EXPECT_EQ(std::string((char*)result->command.data, result->command.count), "echo hi");
    EXPECT_EQ(block_text(result), "hi\r\n");
    EXPECT_FALSE(atomic_load_u8(&result->flags) & TERMINAL_RESULT_FAILED);
    EXPECT_EQ(command_history(tab->terminal), std::vector<std::string>{"echo hi"});
    EXPECT_EQ(text_of(tab->input_line), "");
}

TEST_F(TerminalRoutinesThreads, KillCurrentTerminalProcessEndsOnlyTheCurrentTerminalsCommand) {
    struct Case {
        const char* name;
        std::string kinds;  // r: a terminal running sleep 100, t: an idle terminal, f: a file
        u32 current;
        bool killed;
    };
    const Case cases[] = {
        {"the current terminal's command", "fr", 1, true},
        {"a file tab current: the terminal's command runs on", "rf", 1, false},
        {"another terminal current: its neighbour's command runs on", "rt", 1, false},
        {"no tab current", "r", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        close_every_tab();
        std::string kinds = c.kinds;
        for (char& k : kinds) k = k == 'r' ? 't' : k;
        open_tabs(kinds, 0, directory);
        Tab* running = get_tab((u32)c.kinds.find('r'));
        type(running->input_line, "sleep 100");
        execute_terminal_command_line(running->terminal, running->input_line, &running->title, TAB_TITLE_CAPACITY);
        Terminal_Result* block = running->terminal->current_result;
        ASSERT_NE(block, nullptr);
        int session = running->terminal->process_id;
        ASSERT_GT(session, 0);
        ASSERT_TRUE(wait_for_session(session));
        current_tab_index = (u32)tabs.count;
        if (c.current < tabs.count) set_current_tab(c.current, true);

        call(ROUTINE_KILL_CURRENT_TERMINAL_PROCESS);
        if (c.killed) {
            EXPECT_FALSE(atomic_load_u8(&block->flags) & TERMINAL_RESULT_RUNNING);
            ASSERT_TRUE(wait_until_idle(running->terminal));
            EXPECT_TRUE(atomic_load_u8(&block->flags) & TERMINAL_RESULT_FAILED);
            EXPECT_FALSE(session_lives(session));
            EXPECT_EQ(running->terminal->process_id, -1);
        } else {
            EXPECT_TRUE(atomic_load_u8(&block->flags) & TERMINAL_RESULT_RUNNING);
            EXPECT_TRUE(session_lives(session));
            EXPECT_EQ(running->terminal->process_id, session);
        }
    }
    // The tab closes with its command.
    close_every_tab();
}

TEST_F(TerminalRoutinesThreads, ConfirmPromptRunsTheTypedLineOfTheTerminalWithTheKeyboard) {
    // The title is cut at its buffer between two characters.
    std::string long_word;
    for (int i = 0; i < 300; i++) long_word += "\xC3\xA9";
    std::string cut_title = long_word.substr(0, 2 * ((TAB_TITLE_CAPACITY - 1) / 2));

    struct Case {
        const char* name;
        std::string kinds;
        u32 current;
        u8 context;
        std::string typed;
        bool runs;
        std::string output;  // of a run
        std::string title;   // empty: "word | directory"
    };
    const Case cases[] = {
        {"the terminal's input line has the keyboard", "ft", 1, CONTEXT_TERMINAL, "echo typed", true, "typed\r\n", ""},
        {"a lister has the keyboard", "t", 0, CONTEXT_LISTER, "echo typed", false, "", ""},
        {"a file tab current", "tf", 1, CONTEXT_TERMINAL, "echo typed", false, "", ""},
        {"no tab current", "t", 1, CONTEXT_TERMINAL, "echo typed", false, "", ""},
        {"a title longer than its buffer", "t", 0, CONTEXT_TERMINAL, long_word + " x", true, "", cut_title},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        close_every_tab();
        open_tabs(c.kinds, c.current, directory);
        Tab* tab = get_tab((u32)c.kinds.find('t'));
        type(tab->input_line, c.typed);
        global_editor_context = c.context;

        call(ROUTINE_CONFIRM_PROMPT);
        Terminal* t = tab->terminal;
        if (!c.runs) {
            EXPECT_EQ(t->results.count, 0u);
            EXPECT_EQ(text_of(tab->input_line), c.typed);
            EXPECT_EQ(command_history(t), std::vector<std::string>{});
            continue;
        }
        EXPECT_EQ(text_of(tab->input_line), "");
        EXPECT_EQ(command_history(t), std::vector<std::string>{c.typed});
        EXPECT_EQ(title_of(tab), c.title.empty() ? c.typed.substr(0, c.typed.find(' ')) + " | " + directory : c.title);
        ASSERT_TRUE(wait_until_idle(t));
        ASSERT_EQ(t->results.count, 1u);
        if (!c.output.empty()) {
            EXPECT_EQ(block_text(t->current_result), c.output);
        }
    }
}

TEST_F(TerminalRoutinesThreads, PreviousAndNextItemWalkTheTerminalsHistories) {
    open_tabs("ft", 1, directory);
    Tab* tab = get_tab(1);
    Terminal* t = tab->terminal;
    for (const char* line : {"echo a", "echo b", "echo c"}) {
        type(tab->input_line, line);
        call(ROUTINE_CONFIRM_PROMPT);
        ASSERT_TRUE(wait_until_idle(t));
    }
    ASSERT_EQ(command_history(t), (std::vector<std::string>{"echo a", "echo b", "echo c"}));
    type(tab->input_line, "draft");

    struct Step {
        const char* name;
        bool next;
        const char* line;  // the input line afterwards
        u32 position;
    };
    // The command history while nothing runs.
    const Step command_steps[] = {
        {"back from the end", false, "echo c", 2},
        {"back", false, "echo b", 1},
        {"back to the oldest", false, "echo a", 0},
        {"back at the oldest: nothing", false, "echo a", 0},
        {"forward", true, "echo b", 1},
        {"forward to the newest", true, "echo c", 2},
        {"forward past the newest: an empty line", true, "", 3},
        {"forward at the end: nothing", true, "", 3},
    };
    auto walk = [&](const auto& steps, const u32* position) {
        for (const Step& s : steps) {
            SCOPED_TRACE(s.name);
            call(s.next ? ROUTINE_GO_TO_NEXT_ITEM : ROUTINE_GO_TO_PREVIOUS_ITEM);
            EXPECT_EQ(text_of(tab->input_line), s.line);
            EXPECT_EQ(tab->input_line->cursor, (s64)strlen(s.line));
            EXPECT_EQ(tab->input_line->undo_records.count, 0u);
            EXPECT_EQ(*position, s.position);
        }
    };
    walk(command_steps, &t->command_history_position);

    // While a command reads its input, the lines typed for it.
    type(tab->input_line, "cat");
    call(ROUTINE_CONFIRM_PROMPT);
    for (const char* line : {"x", "y"}) {
        type(tab->input_line, line);
        call(ROUTINE_CONFIRM_PROMPT);
    }
    EXPECT_FALSE(atomic_load_u8(&t->current_result->flags) & TERMINAL_RESULT_FAILED) << "the input was written";
    const Step input_steps[] = {
        {"back", false, "y", 1},
        {"back to the first", false, "x", 0},
        {"forward", true, "y", 1},
        {"forward past the newest", true, "", 2},
    };
    walk(input_steps, &t->input_history_position);
    EXPECT_EQ(t->command_history_position, 4u) << "the command history stays where it was";

    // With the file tab current the terminal's line stays as it is.
    type(tab->input_line, "kept");
    set_current_tab(0, true);
    call(ROUTINE_GO_TO_PREVIOUS_ITEM);
    call(ROUTINE_GO_TO_NEXT_ITEM);
    EXPECT_EQ(text_of(tab->input_line), "kept");
    EXPECT_EQ(t->input_history_position, 2u);
}
