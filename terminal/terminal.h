// Terminal emulation: shell commands on pseudo-terminals, one worker thread per running
// command that moves its output into the command's block, and the escape sequences that
// colour that output. The view and the command-line built-ins build on these records.
#pragma once

#include "foundation/foundation.h"
#include "editor/editor_file.h"
#include "editor/filepath.h"
#include "ui/vectors.h"

struct Tab;

//~ Budgets and limits

#define NUM_TERMINALS_PER_BUCKET              16
#define NUM_TERMINAL_BUCKETS_PER_PAGE         1
#define TERMINALS_PAGE_MEMORY                 282656ull
#define NUM_TERMINAL_RESULTS_PER_BUCKET       32
#define NUM_TERMINAL_RESULT_BUCKETS_PER_PAGE  4

#define MAX_TERMINAL_BUFFER_SIZE      1048576u  // a block's text never holds more
#define TERMINAL_READ_SIZE            10240u    // one read from the pseudo-terminal
#define TERMINAL_HISTORY_TEXT_SIZE    4096u

// The worker sleeps in poll this long while its process is quiet: short enough to see the
// process end soon, long enough to cost nothing while it waits.
#define TERMINAL_POLL_MILLISECONDS    20
// Output still on its way after the process ended is read for this long.
#define TERMINAL_EXIT_GRACE_MICROSECONDS  50000ull
// A kill sends SIGTERM, then SIGKILL to whatever still lives after this.
#define TERMINAL_KILL_GRACE_MICROSECONDS  100000ull

// Escape sequences: bounds that keep hostile output from costing memory or time.
#define TERMINAL_MAX_SEQUENCE_PARAMETERS  16
#define TERMINAL_MAX_PARAMETER_VALUE      65535u    // digits saturate here
#define TERMINAL_MAX_BREAKS_PER_POSITION  1000u     // line breaks one cursor-position sequence adds
#define TERMINAL_MAX_CONTROL_SEQUENCE     256u      // from the ESC; a longer one is dropped
#define TERMINAL_MAX_OS_COMMAND           4096u

// The PATH of commands comes from this file; only its first part is read.
#define TERMINAL_ENVIRONMENT_READ_LIMIT   65536u

// The view passes a block over for one frame, and a copy of its selection gives up, rather
// than wait longer than this for its lock while a worker holds it.
#define TERMINAL_RESULT_LOCK_WAIT_MICROSECONDS 200
// "Copied." shows this long after a block was copied with its icon.
#define TERMINAL_COPIED_NOTICE_MICROSECONDS 2000000ull

//~ Records

enum Terminal_Flags : u8 {
    TERMINAL_IN_USE         = 1,  // set by add_a_terminal, cleared when its tab closes
    TERMINAL_WORKER_STARTED = 2,  // set by a worker once it took its parameters, cleared by a kill
};

enum Terminal_Result_Flags : u8 {
    TERMINAL_RESULT_FAILED  = 2,   // exit status not 0, ended by a signal, input not written or cd failed
    TERMINAL_RESULT_UPDATED = 4,   // new content; the view scrolls to it and clears the bit
    TERMINAL_RESULT_RUNNING = 8,   // the process runs; cleared by the kill
    TERMINAL_RESULT_READING = 16,  // the worker still reads
    TERMINAL_RESULT_WORKER  = 32,  // a worker still holds the block: it must not be freed or reused
};

enum Terminal_Token_Kind : u8 {
    TERMINAL_TOKEN_NEW_LINE = 2,
    TERMINAL_TOKEN_TEXT     = 4,
};

struct Terminal_Token {
    Rgba foreground;  // line breaks carry no colours
    Rgba background;
    u64 offset;       // in the block's text
    u32 length;       // 1 or 2 for a line break, 0 for one made by a cursor-position sequence
    u8 default_colour;  // 1: drawn in the theme's text colour
    u8 kind;
};

struct Terminal_History_Entry {
    String text;  // points at storage; set again after the array moves
    u8 storage[TERMINAL_HISTORY_TEXT_SIZE];
};

// One end of a block's mouse selection.
struct Terminal_Selection_End {
    u32 token;
    u32 offset;  // octets into that token
};

// One command block: the command line as typed and its output as received.
struct Terminal_Result {
    Terminal_Result* next;
    s32 pty;                  // master descriptor of the block's process; -1 once the worker closed it
    String program;           // first word of command, a view into it
    String command;           // the command line, a copy in command_storage
    Dynamic_Array text;       // u8, at most MAX_TERMINAL_BUFFER_SIZE
    Dynamic_Array tokens;     // Terminal_Token, covering text from 0 to parse_position
    u64 copy_time;            // monotonic microseconds of the last copy with the block's icon
    u64 parse_position;       // text up to here is tokenised; a cut sequence waits behind it
    Rgba foreground;          // colours of the next text run
    Rgba background;
    u32 line_count;           // 1 for a block without tokens
    Gp_Allocation command_storage;
    Terminal_Selection_End selection_start;
    Terminal_Selection_End selection_end;
    u8 lock;                  // held while text and tokens change or are read; innermost
    u8 default_colour;        // 1 until the output chose a colour
    u8 flags;                 // Terminal_Result_Flags, changed atomically
};

struct Terminal {
    Terminal* next;            // link of terminals
    u64 worker;                // thread of the last started command
    u64 worker_started;
    s32 process_id;            // -1 when none; changed under lock
    s32 process_group;         // the child leads its own group (and session)
    s32 pty;                   // master descriptor of the running process; the worker owns and closes it
    Filepath directory;        // where every command starts
    Dynamic_Array command_history;  // Terminal_History_Entry, oldest first
    Dynamic_Array input_history;    // lines typed into the running process; emptied per block
    Bucket_Array results;           // Terminal_Result over terminal_results_pool, oldest first
    Terminal_Result* current_result;   // the block of the last started process
    Terminal_Result* selected_result;  // the block holding the mouse selection
    u32 command_history_position;
    u32 input_history_position;
    f32 scroll;
    u8 lock;                   // guards the process fields and the kill; taken before a block's lock
    u8 flags;                  // Terminal_Flags, changed atomically
};

static_assert(sizeof(Terminal_Token) == 48);
static_assert(sizeof(Memory_Pool_Page) + NUM_TERMINAL_BUCKETS_PER_PAGE *
              (sizeof(Memory_Pool_Bucket) + NUM_TERMINALS_PER_BUCKET * sizeof(Terminal)) <= TERMINALS_PAGE_MEMORY);

// What terminal_execute hands its worker, on the starter's stack.
struct Terminal_Worker_Parameters {
    Terminal* terminal;
    Terminal_Result* block;
    s32 process_id;  // the worker acts on these, never on what the terminal holds later
    s32 pty;
    u8 started;      // set by the worker once it copied the rest; the starter waits for it
};

extern Memory_Pool terminals_pool;
extern Memory_Pool terminal_results_pool;
extern Bucket_Array terminals;  // every terminal ever made, in order of creation

//~ terminal.cpp: records and processes

void init_terminals();
// Start-up: the two pools (pages mapped on first use), the empty terminals list and the
// 256-colour table. Main thread, before any terminal is made.

Terminal* add_a_terminal(Filepath* directory);
// A terminal in use for the directory: the first one whose tab closed (its history cleared,
// its block storage kept) or a new one. Null (logged) when the pool has no memory.

void clear_terminal_history(Terminal* terminal);
// Kills the process, waits until no worker holds a block, frees every block's storage and
// empties the list, keeping its buckets. Main thread.

void release_terminal(Terminal* terminal);
// When its tab closes: the history cleared (the process killed first), both histories'
// storage freed, no directory, and no longer in use, so add_a_terminal may take it again.

b8 kill_terminal_process(Terminal* terminal);
// Under the terminal's lock: SIGTERM to every process of the running command's session,
// SIGKILL to those still alive 100 ms later, process fields to -1 and the current block no
// longer running and failed. Only signals: the worker reaps the process and closes the pty.
// True when a process was signalled; a terminal without one only loses
// TERMINAL_WORKER_STARTED.

b8 end_terminal_process_if_held(Terminal* terminal, s32 process_id);
// The kill, done only while the terminal still holds that process (0: whichever it holds,
// and the block is marked failed; a process id: what its ended command left running, the
// block's result kept).

Terminal_Result* add_a_terminal_result(Terminal* terminal, String command_line);
// A new block behind the others with a copy of the command line, white on black, flags 0.
// Empties the input history. Null (logged) when memory is short. Main thread.

b8 terminal_execute(Terminal* terminal, String program, String command_line);
// Splits the command line into arguments and starts program with them; as below.

b8 terminal_execute_arguments(Terminal* terminal, String command_line, char** arguments, String path);
// Kills the running process, then starts arguments[0] (looked up along PATH) with the
// arguments (null-terminated) on a new pseudo-terminal in the terminal's directory, with
// TERM "vt100" and, when path is not empty, that PATH. The new block shows command_line and
// becomes the current one; a worker moves the output into it. False (logged) when the
// process or its worker cannot be started; a block that was added is then marked failed.

b8 string_to_c_argument_list(Dynamic_Array* arguments, String command_line);
// Words at blanks and tabs, a run in double or single quotes one word without its quotes,
// each NUL-terminated in temporary memory, then a null pointer; the caller frees the
// array's storage. An empty line leaves the array without storage. False when memory is
// short.

b8 terminal_history_append(Dynamic_Array* history, String line);
// Appends the line unless it equals the last entry; a line longer than an entry holds is
// not recorded (cut, it would run another command when recalled). True when appended.

//~ terminal_worker.cpp: the worker thread

u8 terminal_read_from_pipe(Terminal_Result* block, s32 pty, b8 mark_failed, b8 process_ended);
// One read: waits up to TERMINAL_POLL_MILLISECONDS for output (not at all once the process
// ended), appends it to the block and tokenises it. 0: stop reading (error, or nothing left
// after the end); 1: nothing to read; 2: a read was done.

void* terminal_worker(void* parameters);
// Thread entry of one command; see terminal_execute_arguments.

//~ escape_sequences.cpp: coloured runs, line breaks and escape sequences

extern const Rgba terminal_small_colour_table[16];
extern Rgba terminal_big_colour_table[256];

void fill_terminal_big_colour_table();

void reset_terminal_result_text(Terminal_Result* block);
// Empties text and tokens, colours back to white on black, selection cleared. Caller holds
// the block's lock.

void tokenise_terminal_result(Terminal_Result* block);
// Extends the tokens from the parse position to the end of the text. A sequence cut by the
// end of the text waits there for the rest. Caller holds the block's lock.

u64 parse_virtual_terminal_sequence(Terminal_Result* block, u64 position, u64 end);
// Interprets the sequence whose ESC lies just before position and returns the position
// after it; returns position - 1 (the ESC again) when the text ends inside the sequence.

//~ command_lines.cpp: what the input line of a terminal runs

extern const char* terminal_environment_file;  // "/etc/environment"; tests point it elsewhere

void execute_terminal_command_line(Terminal* terminal, Editor_File* input_line, String* title, u64 title_capacity);
// Runs the input line's text: input for the running command while its block is read, else
// the built-ins cd and clear (or cls), else "sh -ci" with the line as typed, and records it
// in the history. The title (capacity octets at title->data; null for none) becomes
// "command | directory", cut at a character boundary. Main thread, under tabs_read_lock.

String read_path_from_environment_file(const char* path);
// The value of "PATH=" at a line start (after an optional "export ") in the file's first
// TERMINAL_ENVIRONMENT_READ_LIMIT octets, one pair of enclosing quotes taken off, in
// temporary memory. Empty when the file cannot be read or sets no PATH.

b8 terminal_takes_input(Terminal* terminal);
// True while the current block's command is still read: a line then goes to it as input.

void empty_terminal_input_line(Editor_File* input_line);
// No text, cursor at 0, no undo records; asks for fast frames.

void terminal_go_to_previous_history_item(Terminal* terminal, Editor_File* input_line);
void terminal_go_to_next_history_item(Terminal* terminal, Editor_File* input_line);
// Step through the input history while the command takes input, else the command history,
// putting the entry reached into the input line (past the newest: an empty line). Nothing
// at either end.

//~ terminal_view.cpp: the history of a terminal tab

b8 try_to_lock_terminal_result(Terminal_Result* block);
// Takes the block's lock unless a worker keeps it longer than
// TERMINAL_RESULT_LOCK_WAIT_MICROSECONDS; false then, and the lock is not held.

void draw_and_update_terminal_history(Terminal* terminal, v2 top_left, v2 bottom_right);
// Draws every block (header, coloured and wrapped output, copy icon) in the rectangle and
// handles the mouse: selection by click and drag, copying a block with its icon, the scroll
// bar, and scrolling to a block with new output. Main thread, once per frame.

b8 copy_terminal_selection_to_clipboard(Terminal* terminal);
// Copies the mouse selection of the terminal's selected block to the clipboard and drops
// the selection. Line breaks made by cursor positioning become line feeds. False, with
// nothing done, when no block is selected, its selection is empty or its lock stays
// taken; the caller then copies from the current file.

//~ across_tabs.cpp: copying and completing where the current tab may be a terminal

void editor_copy_selection_to_clipboard(u8 stop_selection, u8 token_when_empty);
// Under tabs_read_lock: a terminal tab's selected output when the current tab is a
// terminal with a selection, else current_file's selection (or, with token_when_empty and
// nothing selected, the token at the cursor) to the clipboard and the two local copies.

u8 auto_complete_filepath_in_terminal(Tab* tab);
// Completes the path before the cursor of a terminal tab's input line against its
// terminal's working directory; 0 for any other tab.
