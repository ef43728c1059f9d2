// The updater: the update data format with its two codecs (our own LZ blocks and LZ4
// blocks), the packer that turns a release directory into update data, and the run that
// checks "update.data" beside the program and installs what it carries. Linked into the
// `updater` program and the packer tool; the editor only saves the data and starts us.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"
#include "foundation/version.h"
#include "foundation/os_files.h"

//~ Files (os_files.cpp)

char* tmp_path_in_directory(String directory, String name);
// directory + "/" + name, or name alone when directory is empty; NUL-terminated, in
// temporary memory. Null when temporary memory is full.

//~ Update data format (update_data.cpp)
// All integers are little-endian; offsets count from the first byte of the update data.

#define UPDATE_MAGIC_NUMBER 0x75383838u  // the bytes "888u"
#define UPDATE_DATA_FILENAME "update.data"
#define UPDATER_ERROR_LOG_FILENAME "updater_error_log.txt"
#define UPDATE_MAX_FILE_COUNT 32
#define UPDATE_FORMAT_VERSION_COUNT 2   // 0: own LZ blocks, 1: raw or LZ4 blocks
#define RELEASE_FILE_COUNT 12

// The update client caps a download at 256 MiB; no release file decodes to more, and the
// cap keeps a lying size from asking for a huge decode buffer.
#define UPDATE_MAX_FILE_SIZE (256u * 1024u * 1024u)

struct Update_Header {
    u32 magic;
    u32 format_version;
    Version_Info release_version;
    u8 padding;
    u32 name_table_offset;
    u32 entry_table_offset;
    u32 file_count;
};
static_assert(sizeof(Update_Header) == 24);

struct Update_File_Name {
    u32 offset;
    u32 length;
};
static_assert(sizeof(Update_File_Name) == 8);

struct Update_File_Entry {
    u32 stored_size;
    u32 uncompressed_size;
    u32 data_offset;
};
static_assert(sizeof(Update_File_Entry) == 12);

extern const u32 update_header_sizes[UPDATE_FORMAT_VERSION_COUNT];
extern const char* const update_data_web_filepaths[UPDATE_FORMAT_VERSION_COUNT];

// The files a release carries, in packing order. This build makes no ".exe" programs; the
// packer leaves out every name its release directory does not have.
extern const char* const release_file_names[RELEASE_FILE_COUNT];

u32 release_file_mode(String name);
// 0755 for the programs ("quarn", "_updater"), 0644 for everything else.

// What the user sees when an update fails. The message is empty for a file count above 32.
#define UPDATE_MESSAGE_CANNOT_READ "Could not read update data file from disk."
#define UPDATE_MESSAGE_TOO_SMALL "The update data is too small."
#define UPDATE_MESSAGE_BAD_MAGIC "The update data seems corrupt (bad magic number)."
#define UPDATE_MESSAGE_BAD_FORMAT "The update data seems corrupt or unsupported (unsupported format version)."
#define UPDATE_MESSAGE_TOO_MANY_FILES ""
#define UPDATE_MESSAGE_BAD_ADDRESS "The update data seems corrupt (bad address)."
#define UPDATE_MESSAGE_BAD_NAME "The update data seems corrupt (bad file name)."
#define UPDATE_MESSAGE_STORED_TOO_BIG "The update data seems corrupt (compressed size is greater than uncompressed size)."
#define UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE "The update data seems corrupt (bad uncompressed size)."

#define UPDATE_MESSAGE_CANNOT_WRITE "Could not write file % to disk."  // % is the file's name

struct Update_Report {
    b8 failed;
    String message;                // empty for a file count above 32
    Version_Info release_version;  // 0.0.0 until the header has been read
    u32 format_version;            // 0 until the header has been read
};

struct Update_File {
    String name;          // points into the update data
    const u8* stored;     // points into the update data
    u32 stored_size;
    u32 uncompressed_size;
    String content;          // the decoded file, when check_update_data was asked to decode
    Gp_Allocation storage;   // holds content unless it points into the update data
};

struct Update_Plan {
    const u8* data;
    u64 size;
    u32 format_version;
    u32 file_count;
    Update_File files[UPDATE_MAX_FILE_COUNT];
};

b8 fail_update(Update_Report* report, String message);
// Marks the report failed with message (kept by reference) and returns false.

b8 check_update_data(const u8* data, u64 size, Update_Plan* plan, Update_Report* report, b8 decode);
// Checks the header, both tables and every entry's bounds, name and sizes, and fills the
// plan, whose records point into data. With decode, each file is also decoded into its
// record's content right after its own checks, so the fault reported is the first one in
// table order and nothing is decoded twice. False with the report failed at the first
// check that fails; the report carries the versions read so far. Either way the caller
// frees the plan with free_update_plan.

void free_update_plan(Update_Plan* plan);
// Gives back the memory of the decoded files.

b8 decode_update_file(const Update_Plan* plan, u32 index, Gp_Allocation* buffer, String* content,
                      Update_Report* report);
// Decodes one file of a checked plan. Stored files come back pointing into the update
// data; compressed ones are decoded into buffer, which is kept across calls and replaced
// by a larger one when too small (the caller frees it). False with the report failed when
// the data does not decode to exactly the entry's size.

//~ LZ4 blocks (lz4_block.cpp)

b8 lz4_compress_block(const u8* input, u32 size, Gp_Allocation* state, Gp_Allocation* output, u32* stored_size);
// Compresses input into output (grown when too small) with the state kept across calls
// (taken on first use). False when LZ4 fails.

b8 lz4_decompress_block(const u8* block, u32 block_size, u8* output, u32 uncompressed_size);
// True only when the block decodes to exactly uncompressed_size bytes without reading
// or writing outside either buffer.

//~ Own LZ blocks (lz_block.cpp)
// An Lz_Block is a 9-byte header (u32 payload bit count, u32 uncompressed size, u8 offset
// bits) and the payload as 64-bit little-endian words starting unaligned at byte 9. The
// file is coded as 32-bit words (zero-padded): a literal is a 1 bit and the word in 32
// bits; a match is a 0 bit and distance - 1 in offset-bits bits, the word that many words
// back in the output.

#define LZ_BLOCK_HEADER_SIZE 9
#define LZ_MAX_OFFSET_BITS 31  // a distance field wider than the largest window is never needed
#define LZ_MAX_INPUT_SIZE 0x1F000000u  // keeps the payload bit count of all literals inside a u32

// The head of an Lz_Block as it lies in the data: packed, since the words follow at byte 9.
struct __attribute__((packed)) Lz_Block {
    u32 payload_bit_count;  // bits of all items, flag bits included
    u32 uncompressed_size;  // bytes, before the padding
    u8 offset_bits;         // width of a distance field
};
static_assert(sizeof(Lz_Block) == LZ_BLOCK_HEADER_SIZE);

struct Bit_Stream {
    u8* cursor;   // the current 64-bit word; unaligned, so loaded and stored with memcpy
    u64 buffer;
    u32 total;    // bits read or written so far
    u8 used;      // bits held in the buffer (writing)
    u8 free;      // bits still free (writing) or unread (reading) in the buffer
};

Bit_Stream* make_bit_stream(Bit_Stream* stream, u8* words, b8 for_reading);
// For reading, loads the first word; the caller makes sure it exists.

u64 bit_stream_read(Bit_Stream* stream, u32 n);
// The next n bits (1 to 63), least significant first; loads the next word only when the
// field reaches into it.

void bit_stream_write(Bit_Stream* stream, u64 value, u32 n);
// Appends the n low bits of value (1 to 63; no bits above n).

void bit_stream_flush(Bit_Stream* stream);
// Stores a partly filled buffer and starts a fresh word.

u64 lz_block_bound(u32 length);
// Room an Lz_Block of length input bytes may need: the header and all literals.

u32 lz_compress(const u8* input, u8* output, u32 length, u8 offset_bits);
// Writes the Lz_Block of the input into output (room for lz_block_bound) and returns its
// byte size; 0 when the offset bits exceed LZ_MAX_OFFSET_BITS, the input exceeds
// LZ_MAX_INPUT_SIZE or the match finder's memory cannot be had. The input is not written.

b8 lz_decompress(const u8* block, u64 block_size, u8* output, u64 output_capacity, u32* uncompressed_size);
// Decodes a block into output, in whole 32-bit words (room for the uncompressed size
// rounded up to 4). False for any block that does not decode within both buffers to at
// least its header's size; on success *uncompressed_size is that size.

u32 lz_compress_trying_different_sizes_per_offset(const u8* input, u8* output, u32 length, u8 first_bits, u8 last_bits);
// Leaves in output the smallest block over offset bits first_bits..last_bits (the smaller
// bits on a tie; first_bits when none is below length) and returns its size; 0 as
// lz_compress.

//~ Packing (pack_update.cpp)

b8 pack_update(String output_path, String source_directory, u32 format, u32* left_out);
// Packs the release files found in source_directory (an empty one means the working
// directory) into update data of format 0 or 1 at output_path. Names of the release list
// that do not exist are left out; bit i of *left_out (when not null) marks
// release_file_names[i]. False (logged) when the source directory is missing or holds
// none of the release files, a file is not a regular file (never waiting on a FIFO), cannot
// be read whole or is above UPDATE_MAX_FILE_SIZE, the data would not fit the format's
// 32-bit offsets, or the output cannot be written; the output is not written unless
// everything was packed.

//~ Applying (apply_update.cpp, processes.cpp)

extern String quarn_filepath;
// The editor that run_update starts again: the directory, "/" and "quarn" (temporary memory).

b8 run_update(String directory);
// Installs the directory's "update.data": checks and decodes everything, writes every file
// beside a temporary name and renames it over its target, stops the editors running from
// the directory, deletes the update data and starts the editor on the new "changelog.txt".
// On failure writes "updater_error_log.txt" (never through a link at that name), sends a
// desktop notification and starts nothing.

struct File_Identity {  // a file as the kernel knows it, whatever path leads to it
    u64 device;
    u64 inode;
};

void stop_running_editors(String directory, const File_Identity* replaced_editor);
// Sends SIGKILL to every process, the updater itself aside, whose user ids are all the
// updater's real user id and whose executable is the directory's "quarn" or replaced_editor:
// the file that was that "quarn" before the update renamed another over it, which running
// editors go on running (null when there was none). The caller keeps that file open until
// this returns, so that its inode number cannot pass to another file. The editors of other
// users and of other installations are left alone. Does not wait.

void os_launch_program(String program, String command_line);
// Starts program with the words of command_line as its arguments and does not wait.
// Words are split at blanks and tabs; a word opening with a double or single quote runs
// to the matching quote, which is dropped.

void os_launch_program_with_arguments(String program, const String* arguments, u32 count);
// Starts program with exactly these arguments (the first is its own name) and does not
// wait: a text that may hold any character, a quote included, stays one argument.
