// The open-file record: every editable text (a file in a tab, and every one-line input
// field) is an Editor_File, handed out from blocks of 16 that are never unmapped, so
// pointers to records stay valid until close_file.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"
#include "editor/filepath.h"
#include "editor/view_index.h"

//~ Flags (changed only with atomic or/and: the file watcher thread writes them too)

enum Editor_File_Flags : u16 {
    FILE_IN_USE               = 0x0001,
    FILE_SELECTION_ACTIVE     = 0x0002,  // the anchor stays while the cursor moves
    FILE_CURSOR_MOVED         = 0x0004,  // the view brings the cursor into sight
    FILE_CENTRE_CURSOR        = 0x0008,
    FILE_MOUSE_SELECTING      = 0x0010,
    FILE_KEEP_ANCHOR_ON_CLICK = 0x0020,
    FILE_SINGLE_LINE          = 0x0040,
    FILE_NO_SYNTAX            = 0x0080,
    FILE_MODIFIED             = 0x0100,  // the text differs from the disk (or has no file yet)
    FILE_CHANGED_ON_DISK      = 0x0200,
    FILE_NEEDS_SYNTAX         = 0x0400,
    FILE_GONE_FROM_DISK       = 0x0800,
    FILE_SAVE_FAILED          = 0x1000,  // the last save did not reach the disk; its tab shows it
    FILE_SAVE_REFUSED         = 0x2000,  // a save found the disk changed and kept it; its tab shows it
};

//~ Records kept in a file's arrays

enum Undo_Kind : u8 {
    UNDO_DELETION       = 0,
    UNDO_INSERTION      = 1,
    UNDO_TYPED_INSERTION = 2,  // may absorb the next typed insertion
    UNDO_REPLACEMENT    = 3,
    UNDO_IN_PLACE       = 4,
};

struct Undo_Insertion {
    s64 length;
    u64 merge_time;
};

struct Undo_Deletion {
    Gp_Allocation saved_text;  // the deleted octets
    u8 was_selection;
};

struct Undo_Replacement {
    s64 length;                // octets of the new text now in place
    Gp_Allocation saved_text;  // the octets that were there before
};

struct Undo_Record {
    u8 kind;  // Undo_Kind
    u64 time;
    s64 cursor_before;
    s64 offset;
    union {
        Undo_Insertion insertion;      // kinds 1 and 2
        Undo_Deletion deletion;        // kind 0
        Undo_Replacement replacement;  // kinds 3 and 4
    };
};

struct Colour_Chunk {
    s64 offset;
    u32 length;
    u16 palette_index;
    u16 padding;
};
static_assert(sizeof(Colour_Chunk) == 16);

// Nothing produces context chunks yet; edits still cut them back so a producer can be added.
struct Context_Chunk {
    u64 data[2];
    u64 offset;
};
static_assert(sizeof(Context_Chunk) == 24);

#define EDITOR_PALETTE_ELEMENT_SIZE 16  // an Rgba: four f32
#define EDITOR_FILE_NAME_STORAGE    512

//~ The record

struct Editor_File {
    u8 lock;                  // held by loading, closing and the file view (which reloads)
    u16 flags;                // Editor_File_Flags
    u64 modification_time;    // whole mtime in nanoseconds, of the file as last read or written
    // The rest of what the file was when last read or written (all 0: not known); a save
    // compares all four with the disk before it writes.
    u64 disk_size;
    u64 disk_device;
    u64 disk_inode;
    u64 refused_disk;  // a hash of what the last refused save found on disk (0: none): a
                       // save that finds it again writes, the user has been shown the change
    u64 disk_link;     // a hash of the full path the name led to when it was a symlink at the
                       // last load or save (0: it was none): a save writes through a link at
                       // the name only while it leads there

    // view state, owned by the file view
    u32 visible_lines;
    f32 scroll_y;
    f32 scroll_bar_width;

    Filepath directory;       // count 0: the text has no path on disk
    String name;              // into name_storage

    s64 changed_start;
    s64 changed_end;

    Dynamic_Array palette;         // Rgba
    Dynamic_Array text;            // octets, line endings as on disk
    Dynamic_Array colour_chunks;   // Colour_Chunk, sorted by offset
    Dynamic_Array context_chunks;  // Context_Chunk, sorted by offset

    // syntax state of the visible range, handed to the layer's #syntax block
    s64 syntax_start;
    s64 syntax_end;
    u32 block_depth;
    u16 string_state;

    String line_ending;       // "\n" for every record
    s64 cursor;
    s64 selection_anchor;
    s64* selection_start;     // the lower of cursor and anchor (cursor when equal)
    s64* selection_end;
    s64 previous_cursor;
    Dynamic_Array undo_records;  // Undo_Record

    f32* scroll_bar;          // the view's scroll bar state: offset, then width; null until drawn
    View_Index* view_index;   // what the view keeps so that a frame costs what it shows; null until asked
    u32 reserved;             // zeroed by close_file, read by nothing
    u8 name_storage[EDITOR_FILE_NAME_STORAGE];
    u8 line_ending_storage[4];
};

struct Editor_Files_Block {
    Editor_Files_Block* next;
    u16 count;  // records of this block ever handed out
    u8 padding[6];
    // then 16 Editor_File records
};

#define EDITOR_FILES_PER_BLOCK 16
static_assert(sizeof(Editor_Files_Block) + EDITOR_FILES_PER_BLOCK * sizeof(Editor_File) <= EDITOR_FILES_MEMORY);

extern Editor_Files_Block* editor_files_memory;  // first block; mapped on the first request
extern Editor_File* current_file;                // the file that has the keyboard, or null
extern u64 last_time_we_asked_to_disable_vsync;  // microseconds; the main loop swaps without vsync for 0.5 s after it

extern u8 tabs_read_lock;
// Guards the shell's tab list and what its records point at against reading threads (the
// file watcher, the update download, the searches). Of a file in a tab, the watcher reads
// the size of the text and the modification time under it, so reloading and saving write
// those two under it too, never across their I/O. Taken after the custom layer's two locks,
// before the layer's lists lock; never twice by one thread.

//~ editor_file.cpp

void init_file(Editor_File* file, u16 extra_flags);
// Zeroes the record and sets it up as an empty, modified text without a path, with room
// for 8 undo records.

Editor_File* add_a_file();
// A fresh record (through init_file) from the first free slot of the block chain. Null,
// with an error in the log, when a new block cannot be mapped.

void close_file(Editor_File* file);
// Frees the record's arrays and undo texts and returns it to the pool. Takes its lock.

void free_undo_records(Editor_File* file);
// Frees the saved texts of the undo records and empties the list.

void editor_set_cursor(Editor_File* file, s64 target);
// The one rule for every cursor move: remember the previous cursor, clamp to the text,
// ask for fast frames, flag the move, and let the anchor follow unless a selection is
// active.

Editor_File* editor_file_or_current(Editor_File* file);  // file, or current_file when null

