// The search lister's records and threads: a query searched in one open file (on a copy of
// its text) or in every file under a directory, on worker threads, one per usable
// processor. Readers see a searched file only once all its hits are in, so the flattened
// hit list only ever grows at its end while a search runs.
#pragma once

#include "foundation/foundation.h"
#include "editor/editor.h"

//~ Records

enum Search_Lister_Mode : u8 {
    SEARCH_CLOSED = 0,
    SEARCH_IN_FILE = 1,
    SEARCH_GO_TO_LINE = 2,
    SEARCH_REPLACE = 3,
    SEARCH_IN_FILES = 4,
};

#define SEARCH_TITLE_CAPACITY 64
#define SEARCH_PATH_CAPACITY 2048

// A search stops here (logged): each hit costs its record, and its file's text stays.
#define SEARCH_MAX_HITS 100000u

// Seats of a multi-file search: no more workers than this whatever the processor count.
#define SEARCH_MAX_SEATS 64u

struct Search_Match {
    u64 offset;      // in the searched text
    u64 length;      // the query's; the line's without its ending for go-to-line
    u32 file_index;  // of its Search_File in global_search_files
    u32 line;        // from 1
    u8* line_start;
    u8* line_end;    // the first CR or LF at or after the hit, or the end of the searched range
    u8* hit;
};
static_assert(sizeof(Search_Match) == 48);

struct Search_File {
    Search_File* next;
    Dynamic_Array text;  // owned: read from disk, or a copy of the open file's text
    Dynamic_Array hits;  // Search_Match, in text order
    String path;         // points at path_text
    u8 path_text[SEARCH_PATH_CAPACITY];
    u8 done;             // atomic: the hits are complete; readers skip records without it
};

// One worker seat of a multi-file search, or the one seat of a current-file search.
struct Search_Slot {
    Search_File* file;
    u32 file_index;
    u8 selection;  // search only the selection copied when the search started
    u8 busy;       // atomic: a worker owns the seat
};

struct Search_Lister {
    String title;         // points at title_text
    String second_title;  // points at second_title_text
    Editor_File query_input;
    Editor_File replacement_input;
    s32 running_workers;  // atomic: workers of the multi-file search still alive, plus the walk
    u32 selected;         // index into the flattened hit list
    u64 query_hash;       // low 64 bits of the MeowHash of the query the search started with
    u8 scroll_request;
    u8 mode;              // Search_Lister_Mode
    u8 finished;          // atomic: the last search thread has released its results (1 when idle)
    u8 running;           // atomic: searching may go on; cleared to stop every search thread
    u8 complete;          // atomic: every hit of the running search is in (or it was stopped)
    u8 title_text[SEARCH_TITLE_CAPACITY];
    u8 second_title_text[SEARCH_TITLE_CAPACITY];

    // What the search works from, copied by the main thread when it starts one.
    u8 searched_mode;            // the mode it was started in
    Editor_File* searched_file;  // the open file searched (main thread only); null across files
    String query;
    Gp_Allocation query_storage;
    String directory;            // the root of a multi-file search
    Gp_Allocation directory_storage;
    Gp_Allocation file_text;     // the current file's text; the search thread takes it over
    u64 file_text_count;
    u8 file_path[SEARCH_PATH_CAPACITY];
    u64 file_path_count;
    s64 selection_start;         // the current file's selection, when selection_active
    s64 selection_end;
    u8 selection_active;
    u32 hit_count;               // atomic: hits of the running search, against SEARCH_MAX_HITS
    u8 hit_cap_reached;          // atomic
};

#define NUM_SEARCH_RESULT_FILES_PER_BUCKET     128
#define NUM_SEARCH_RESULT_FILE_BUCKETS_PER_PAGE 32
#define SEARCH_RESULT_FILE_PAGE_MEMORY                                                              \
    (NUM_SEARCH_RESULT_FILE_BUCKETS_PER_PAGE *                                                      \
         (NUM_SEARCH_RESULT_FILES_PER_BUCKET * sizeof(Search_File) + sizeof(Memory_Pool_Bucket)) + \
     sizeof(Memory_Pool_Page))

extern Search_Lister global_search_lister;
extern Bucket_Array global_search_files;  // Search_File, in the order they were added
extern Memory_Pool search_files_pool;
extern u8 global_search_lock;
// Guards appending to and resetting global_search_files and every walk over it. Taken
// after tabs_read_lock (never together with it by a search thread), before the
// general-purpose allocator's lock.

//~ search_scanner.cpp

enum Scan_Result : u8 {
    SCAN_DONE,
    SCAN_BINARY,   // a 0 lies where a hit may start: no hits count
    SCAN_STOPPED,  // the running flag dropped, the hit cap was reached or memory ran out
};

Scan_Result scan_for_hits(u8* text, u64 start, u64 end, u32 line, u64 line_start, String query, Dynamic_Array* hits);
// Appends the hits of the query in text[start, end) to hits (Search_Match, file index 0),
// counting lines from `line`, which starts at offset line_start. Hits never overlap; a
// 0 octet at a position where a hit may start makes the text binary. Every hit takes one
// of the search's SEARCH_MAX_HITS.

//~ search.cpp

void init_search_lister();
// Start-up: the record (idle, finished), its two inputs and the pool of searched files,
// whose pages are mapped on demand. Tests call it again to start over once no search runs.

b8 search_lister_start(Editor_File* file, String directory);
// Main thread: stops and awaits any running search, then starts one in the current mode
// (which the search keeps even when the mode changes)
// with the query input's text: in `directory` and below for SEARCH_IN_FILES, else in
// `file` (a copy of its text and of its active selection is taken now). False when the
// thread could not start (logged); the search then counts as finished with no hits.

void search_lister_stop_and_wait();
// Main thread: tells the search to stop and waits, sleeping, until its thread has released
// the results. Returns at once when no search runs.

b8 search_lister_is_finished();

u32 search_file(Search_Slot* slot);
// Scans the slot's file for the query (only the selection copied at the start when the
// slot says so). 1 when it ran to its end or was stopped, 0 when the text is binary: its
// hits and text are then released. Sets the file's done flag either way.

void* search_multiple_files(void* unused);
void* search_current_file(void* unused);
// The search threads (detached); search_lister_start starts them.

u32 get_num_items_in_search_lister();
// The hits of every done record, under global_search_lock.

b8 search_lister_copy_hit(u32 index, Search_Match* match, String* path_tmp);
// The hit at that index of the flattened list and its file's path (in temporary memory),
// read under global_search_lock. False past the end. The match's pointers stay valid only
// while the search that made it is not stopped.
