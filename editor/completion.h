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

//~ completion.cpp

u8 auto_complete_text_before_cursor(Editor_File* file);
// Completes the word that ends at the cursor from the words before it in the file, else
// after it, else in the other file tabs. 1 when candidates were found (also when they add
// nothing), 0 when there is no word before the cursor or no candidate.

//~ path_completion.cpp

u8 auto_complete_filepath_in_input_line(Editor_File* input_line, Filepath* working_directory);
// Completes the name before the cursor of a terminal's input line against the entries of
// its directory: the word itself when it is absolute, else relative to working_directory.
// 1 when entries matched (also when they add nothing), 0 when there is nothing to complete
// or the directory cannot be read.
