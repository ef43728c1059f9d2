// The one pass over the global scope of the user's files: declarations are only recorded
// (parsed on their first use), #load_file loads at once, entry blocks are noted, and global
// #if chains, #insert and #assert directives wait on worklists that the pipeline works off.
#pragma once

#include "compiler/core/core_records.h"

#define GLOBAL_IF_CHAIN_DIRECTORY_CAPACITY 2054

struct Global_If_Pair {
    Token* condition;  // its first token; it runs to the block
    Token* block;      // the '{' or ':' that opens the block
};

// One global #if, its else ifs and else, waiting for its conditions to be evaluated.
struct Global_If_Chain {
    Dynamic_Array pairs;  // Global_If_Pair
    Token* else_block;    // the opening token, or null
    u16 directory_length;
    u8 directory[GLOBAL_IF_CHAIN_DIRECTORY_CAPACITY];  // of the file that holds the chain
};

struct Global_Insert {
    Token* directive;  // the #insert
    Token* end;        // its ';', or the closer that ends it
};

// The directives of the user's entry blocks; null until found.
struct Entry_Blocks {
    Token* on_load;
    Token* events;
    Token* syntax;
};

// One generation of waiting work. Work found while a generation is worked off goes to the
// other one, so a list is never appended to while it is walked.
struct Global_Worklists {
    Dynamic_Array chains;   // Global_If_Chain
    Dynamic_Array inserts;  // Global_Insert
    Dynamic_Array asserts;  // Token*: each #assert, checked once no work is left
};

//~ global_preparse.cpp

b8 preparse_global_scope(Scope* scope, Token* first, Token* end, Global_Worklists* worklists, Entry_Blocks* entry_blocks,
                         String directory);
// Walks the global statements from first up to end (exclusive; null for the end of the
// list). directory is that of the file the tokens come from; #load_file paths are joined
// to it. False after the first report; what was recorded before it stays.

b8 preparse_global_static_if_chain(Scope* scope, Global_If_Chain* chain, Global_Worklists* worklists,
                                   Entry_Blocks* entry_blocks, String directory);
// Evaluates the conditions in order and preparses the block of the first that holds, or
// the else block. False after a report.

b8 preparse_global_insert_directive(Scope* scope, Global_Insert* insert, Global_Worklists* worklists,
                                    Entry_Blocks* entry_blocks, String directory);
// Evaluates the inserted Code constant and preparses its block. False after a report.

void init_global_worklists(Global_Worklists* worklists);
void empty_global_worklists(Global_Worklists* worklists);
// Returns each chain's pairs; the lists keep their room. The asserts stay.
void free_global_worklists(Global_Worklists* worklists);   // returns everything
