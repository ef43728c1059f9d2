// The file lister's record and its listing thread: one directory (or, in the flat view,
// the tree under it) filtered by the layer's lists and the typed query, sorted best match
// first. The thread builds a whole list aside and publishes it, so readers never see an
// item half made.
#pragma once

#include "foundation/foundation.h"
#include "editor/editor.h"

//~ Records

#define FILE_LISTER_NAME_CAPACITY 256
#define FILE_LISTER_TITLE_CAPACITY 128

enum File_Lister_Item_Kind : u8 {
    FILE_LISTER_DIRECTORY = 0,
    FILE_LISTER_FILE = 1,
};

struct File_Lister_Item {
    File_Lister_Item* next;      // the item after this one in display order; null for the last
    String relative_directory;   // "a/b" between the lister's directory and the entry, in the
                                 // list's text store; empty for the directory itself
    String name;                 // points at name_text
    u8 name_text[FILE_LISTER_NAME_CAPACITY];
    u8 kind;                     // File_Lister_Item_Kind; a link counts as what it points at
    u8 new_file;                 // 1: the query as a name to create (purpose 2 only)
    // The entry itself (a link, not what it points at) and the directory it was read from,
    // as the walk saw them: an action touches the entry only while both are still these.
    // A number freed by a deleted entry may be reused at once, so the type counts too.
    u8 entry_type;               // the entry's own S_IFMT bits, shifted down by 12
    u64 device;
    u64 inode;
    u64 parent_device;
    u64 parent_inode;
};

#define NUM_FILE_LISTER_ITEMS_PER_BUCKET      256
#define NUM_FILE_LISTER_ITEM_BUCKETS_PER_PAGE 8
#define FILE_LISTER_ITEMS_PAGE_MEMORY                                                        \
    (NUM_FILE_LISTER_ITEM_BUCKETS_PER_PAGE *                                                 \
         (NUM_FILE_LISTER_ITEMS_PER_BUCKET * sizeof(File_Lister_Item) + sizeof(Memory_Pool_Bucket)) + \
     sizeof(Memory_Pool_Page))

// A flat view of a huge tree stops here (logged): every item costs its record and text.
#define FILE_LISTER_MAX_ITEMS 65536u

// Relative directories are texts of this many octets a block.
#define FILE_LISTER_TEXT_BLOCK_SIZE 262144u

// One finished listing. Readers index `order`; `items` only holds the records.
struct File_Lister_List {
    Bucket_Array items;              // records in the order the walk found them
    File_Lister_Item** order;        // display order, `count` of them
    Gp_Allocation order_storage;
    u32 count;
    u64 generation;                  // a new number for every published list
    u64 listing;                     // the File_Lister's listings_started when it was begun
    String directory;                // the directory listed, in the text store
    String_Store relative_directories;
};

enum File_Lister_Purpose : u8 {
    FILE_LISTER_OPEN = 1,
    FILE_LISTER_SAVE = 2,
    FILE_LISTER_DELETE = 3,
};

enum File_Lister_View_Bits : u8 {
    FILE_LISTER_FLAT_VIEW = 1,
    FILE_LISTER_LIST_FILES = 2,
};

// Nothing selected: a prompt that writes or deletes starts so, and is so after a delete,
// until the user chooses; Enter then does nothing.
#define FILE_LISTER_NO_SELECTION 0xFFFFFFFFu
// shown_generation while the panel shows no list: no action acts.
#define FILE_LISTER_NOTHING_SHOWN 0xFFFFFFFFFFFFFFFFull

struct File_Lister {
    String title;  // points at title_text

    // The published list is lists[published]. A listing thread writes only the other one,
    // and only the main thread starts a thread (in maybe_update_file_lister), so a list
    // the main thread reads stays as it is until its next call there: read the published
    // list afresh after each call.
    File_Lister_List lists[2];
    u8 published;

    Filepath directory;  // count 0: none set (the thread then lists "/")
    u64 key_hash;        // low 64 bits of the MeowHash of the last listing's key
    u64 shown_generation;  // the list the panel drew last: the only one an action acts on
    u64 listings_started;  // counts the listing threads started
    u64 first_listing_shown;  // the panel shows no list begun before this listing (one of an
                              // earlier opening that ended after it)
    u32 selected;        // index into the published list, or FILE_LISTER_NO_SELECTION
    u8 purpose;          // File_Lister_Purpose
    u8 pick_new_file;    // a save's query changed: the list of it selects its new-file item
    u8 select_pending;   // Enter came before the list of the query typed: it acts on that list
    u8 view_bits;        // File_Lister_View_Bits
    u8 scroll_request;   // the panel brings the selection into view and clears it
    u8 run;              // atomic: 1 while the listing thread may go on
    u8 busy;             // atomic: 1 from the start of a thread until it has finished
    u8 inside_path;      // the directory is not blacklisted: the flat view is allowed
    u8 force;            // list again at the next check although the key is unchanged

    // What the running thread lists, written by the main thread before it starts one.
    String query;                  // a copy of the input line's text, for the walk and the sort
    Gp_Allocation query_storage;
    String directory_text;         // the directory joined, "/" when none is set
    Gp_Allocation directory_storage;
    u16 directory_count;           // components of the directory
    u8 recursive;
    u8 listed_purpose;
    u8 list_files;                 // view bit FILE_LISTER_LIST_FILES (the panel changes the bits)

    Editor_File input_line;  // the query the user types
    u8 title_text[FILE_LISTER_TITLE_CAPACITY];
};

extern File_Lister global_file_lister;
extern Memory_Pool file_lister_items_pool;

//~ file_lister.cpp

void init_file_lister();
// Start-up: the item pool (its pages mapped on demand), both lists, the input line. Tests
// call it again to start over once no listing thread runs.

void reset_file_lister_selection();
// What a new key selects: the first item to open; nothing to save or delete, except that a
// save with a query selects its new-file item once the list of it shows.

void maybe_update_file_lister();
// Main thread, once per frame while the lister shows and when it opens. When the key
// (view bits, directory, input text) changed or the force flag is set, starts a listing
// thread; while an earlier thread is still stopping, it only tells that thread to stop and
// starts the new listing at a later call (the ending thread wakes the main loop), so the
// main thread never waits and two listing threads never run at once. A thread that cannot
// be started is logged and not tried again until the key changes.

void* file_lister_search(void* unused);
// The listing thread (detached). Lists into the unpublished list and publishes it when it
// was not stopped.

File_Lister_List* file_lister_get_published_list();
// Main thread: the list to show and act on; see the record for how long it stays valid.

File_Lister_Item* file_lister_get_item(File_Lister_List* list, u32 index);  // null past the end

b8 file_lister_input_is_listed();  // the last listing started is of the input line's text
b8 file_lister_is_busy();  // a listing thread runs or is ending

b8 sort_file_lister_search_results(File_Lister_Item* a, File_Lister_Item* b);
// Whether a goes before b for the listing's query: the longer prefix shared with the
// query first, then the natural order of the relative names (see file_lister.cpp). Strict:
// false for equal items.

b8 is_valid_new_file_name(String name);
// One name that can be created in a directory: 1 to 255 octets, no "/" or NUL, not "."
// or "..".
