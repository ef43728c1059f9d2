// Completing what is typed: a word from the words that already exist, and a path in a
// terminal's input line from the entries of its directory. Both complete only as far as
// every candidate agrees, and both are one replacement record, so one undo takes them back.
#pragma once

#include "foundation/types.h"
#include "editor/editor_file.h"
#include "editor/filepath.h"

// One call's state: the longest common prefix of every candidate, and of the candidates
// that stand after "->" or "." (after the same object name, once one does).
struct Auto_Complete_Data {
    u8* common_text;
    s64 common_length;
    s64 shortest;
    u8* member_text;
    s64 member_length;
    s64 member_shortest;
    u8 same_object_found;
};

struct Word_Completion_Prefix {
    u8* text;  // a copy in temporary memory: the walks may read other files
    s64 length;
    b8 member;      // it follows "->" or "."
    String object;  // the name before that, in temporary memory
};

struct Word_Completion {
    Editor_File* file;
    s64 prefix_start;
    Word_Completion_Prefix prefix;
    Auto_Complete_Data data;
};

//~ completion.cpp: one call goes through these steps.

b8 start_word_completion(Word_Completion* c, Editor_File* file);
// Takes the word that ends at the cursor as the prefix and folds in the candidates before
// it in the file, or, when there are none, after the cursor. False when no word ends at
// the cursor.

void collect_word_candidates(Word_Completion* c, Editor_File* other);
// Folds in the candidates of another file's whole text (nothing for the file itself).

void keep_word_candidates_tmp(Word_Completion* c);
// Copies the tracks into temporary memory, so they outlive the other files they point into.

u8 finish_word_completion(Word_Completion* c);
// Replaces the prefix by what every candidate shares, as one replacement record, and puts
// the cursor after it. 1 when there were candidates (also when they add nothing), else 0.

u8 auto_complete_text_in_file(Editor_File* file);
// The completion from this file's own words only.

u8 auto_complete_text_before_cursor(Editor_File* file);
// Completes the word that ends at the cursor from the words before it in the file, else
// after it, else in every other file tab (read under tabs_read_lock). 1 when candidates
// were found (also when they add nothing), 0 when no word ends at the cursor or nothing
// matches.

//~ path_completion.cpp

u8 auto_complete_filepath_in_input_line(Editor_File* input_line, Filepath* working_directory);
// Completes the name before the cursor of a terminal's input line against the entries of
// its directory: the word itself when it is absolute, else relative to working_directory.
// 1 when entries matched (also when they add nothing), 0 when there is nothing to complete
// or the directory cannot be read.
