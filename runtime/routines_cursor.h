// The cursor and selection routines of the layer, and what every routine that acts on an
// open file shares: which file it acts on and how it reads and writes its parameter block.
// Keyboard movement and selection are not built into the editor; the layer's #events block
// calls these.
#pragma once

#include <stddef.h>
#include <string.h>

#include "foundation/types.h"
#include "editor/editor_file.h"
#include "runtime/layer_loader.h"

//~ Parameter blocks
// Compiled code lays a block out at natural offsets from its start, but promises neither
// the block's alignment nor anything past its last field: fields are copied in and out,
// the block is never cast.

// Octets of a block up to the end of its last field.
#define PARAMETERS_SIZE(Record, last_field) (offsetof(Record, last_field) + sizeof(((Record*)0)->last_field))

inline b8 read_parameters(void* record, u8* block, u64 size) {
    if (!block) return false;
    memcpy(record, block, size);
    return true;
}

#define write_parameter(block, Record, field, value)                          \
    do {                                                                      \
        decltype(((Record*)0)->field) written_ = (value);                     \
        if (block) memcpy((block) + offsetof(Record, field), &written_, sizeof(written_)); \
    } while (0)

struct Skip_Text_Parameters {
    u8 forward;  // zero: backward
};
static_assert(offsetof(Skip_Text_Parameters, forward) == 0);

struct Check_If_Selection_Is_Active_Parameters {
    u8 active;  // result
};
static_assert(offsetof(Check_If_Selection_Is_Active_Parameters, active) == 0);

struct Offset_Parameters {  // set_cursor_offset, set_selection_anchor_offset
    s64 offset;
};
static_assert(offsetof(Offset_Parameters, offset) == 0);

struct Offset_Result_Parameters {  // get_cursor_offset and the selection's start and end
    s64 offset;  // result
};
static_assert(offsetof(Offset_Result_Parameters, offset) == 0);

//~ Which file

Editor_File* get_layer_file();
// custom_layer_execution_file, or current_file when it is null.

//~ Line stepping shared by the routines

inline b8 is_blank_octet(u8 c) { return c == ' ' || c == '\t'; }
inline b8 is_break_octet(u8 c) { return c == '\r' || c == '\n'; }
inline b8 file_has_text(Editor_File* file) { return file && file->text.count > 0; }


s64 get_line_break_start_before(u8* text, s64 line_start);
// Where the line break before the line that starts at line_start (above 0) begins: a CR LF
// pair is one break.

s64 get_line_break_end(u8* text, s64 count, s64 line_end);
// Just past the line break at line_end (below count).

//~ routines_cursor.cpp
// Each takes the address of its parameter block (not read when it has none). A routine
// that finds no file, or its preconditions unmet, does nothing and writes no result,
// unless a default result is named.

void foreign_go_left(u8* parameters);   // a CR LF pair is one step
void foreign_go_right(u8* parameters);
void foreign_go_up(u8* parameters);     // to the same column (in characters) of the line above
void foreign_go_down(u8* parameters);
void foreign_page_up(u8* parameters);   // as go_up, visible_lines times
void foreign_page_down(u8* parameters);
void foreign_go_to_previous_non_whitespace_token(u8* parameters);
void foreign_go_to_next_non_whitespace_token(u8* parameters);
void foreign_go_to_file_start(u8* parameters);
void foreign_go_to_file_end(u8* parameters);
void foreign_go_to_line_start(u8* parameters);
void foreign_go_to_line_end(u8* parameters);
void foreign_go_to_line_padding_end(u8* parameters);  // layer file
void foreign_skip_text(u8* parameters);               // over a run of blanks or of other text
void foreign_go_to_previous_cursor_position(u8* parameters);  // layer file
void foreign_start_selection(u8* parameters);
void foreign_stop_selection(u8* parameters);
void foreign_toggle_selection(u8* parameters);
void foreign_check_if_selection_is_active(u8* parameters);  // 0 without a file
void foreign_do_not_set_selection_anchor_on_click(u8* parameters);

void foreign_set_cursor_offset(u8* parameters);
// Layer file. An offset past the text's count is ignored; a negative one means 0.

void foreign_set_selection_anchor_offset(u8* parameters);
// Layer file. Starts a selection from an offset inside the text (the count included); the
// cursor stays. Any other offset is ignored.

void foreign_get_cursor_offset(u8* parameters);           // layer file; 0 without one
void foreign_get_selection_start_offset(u8* parameters);  // layer file; 0 without one or without a selection
void foreign_get_selection_end_offset(u8* parameters);
