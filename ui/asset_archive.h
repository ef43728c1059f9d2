// The asset archive "quarn.data": a zip beside the executable, read whole into one block at
// start-up, whose entries (the fonts) are found by exact name and handed out in place when
// stored or inflated when deflated. Only local headers are walked; every size in a header
// is checked against the archive's end before it is used, since a damaged file must never
// make the walk read past the block.
#pragma once

#include "foundation/foundation.h"

//~ Format

#define ZIP_LOCAL_HEADER_SIGNATURE     0x04034B50u
#define ZIP_DATA_DESCRIPTOR_SIGNATURE  0x08074B50u
#define ZIP_HEADER_HAS_NO_SIZE_INFO    8  // flag bit: a data descriptor follows the entry's data
#define ZIP_METHOD_STORED              0
#define ZIP_METHOD_DEFLATE             8
// Deflate never expands by more than this factor; a header claiming more is damaged.
#define ZIP_DEFLATE_MAX_RATIO          1032u

#define ASSET_ARCHIVE_FILENAME "quarn.data"

struct __attribute__((packed)) Zip_Local_Header {
    u32 signature;
    u16 version_needed;      // ignored
    u16 flags;
    u16 compression_method;
    u16 modification_time;   // ignored
    u16 modification_date;   // ignored
    u32 crc32;               // not checked
    u32 compressed_size;
    u32 uncompressed_size;
    u16 name_count;
    u16 extra_count;
    // then the name, the extra field and the data
};
static_assert(sizeof(Zip_Local_Header) == 30);

//~ The archive (asset_archive.cpp)

struct Asset_Archive {
    u8* data;   // a block of PSEUDO_EXE_DATA_MEMORY octets from the static memory
    u32 flag;   // 1 once the block is set up
    u32 size;   // octets read from the file
};

extern Asset_Archive pseudo_exe_data;

b8 init_assets(String executable_directory);
// Reads "quarn.data" from the directory (the working directory when it is empty) into
// pseudo_exe_data, whose block is taken once per process. A missing file leaves the
// archive empty, silently:
// the fonts then fail with their own messages. A file larger than the block is read up to
// the block's end and logged. False only when the block cannot be had.

String get_asset(String name);
// The named entry of the archive, valid for the rest of the process: a stored entry in
// place in the archive's block, a deflated one inflated into memory that is never freed.
// Empty when there is no such entry (the caller reports it) or it cannot be extracted
// (logged). Each call for a deflated entry inflates it again, so call it once per entry.

//~ Walking entries (asset_archive.cpp)

struct Zip_Lister {
    u8* start;
    u8* position;
    u8* end;
    b8 failed;  // the walk stopped at a damaged header (logged), not at the end
};

struct Zip_Entry {
    String name;  // in the archive
    u16 compression_method;
    u32 compressed_size;
    Zip_Local_Header* header;
};

Zip_Lister init_zip_lister(u8* data, u32 size);

b8 zip_lister_get_next_file(Zip_Lister* lister, Zip_Entry* out);
// Fills out with the next entry and moves past it. False at the end of the data, at the
// first position without the local-header signature (the central directory), or at a
// header whose name, extra field, data or data descriptor would run past the end or whose
// sizes stand only in its data descriptor; the last two log an error and set failed.

Zip_Local_Header* get_file_from_zip(u8* data, u32 size, u8* name, u64 name_count);
// The header of the first entry whose name has exactly these octets; null when none.

String extract_zip_file(Zip_Local_Header* header, Gp_Allocation* buffer);
// The entry's octets. header must come from a walk of its archive, which checked that the
// data lies inside it. A stored entry is returned in place (no copy); a deflated one is
// inflated into buffer, which is reallocated when it is smaller than the entry, so the
// result lives as long as buffer's current block. Empty for a null header, an unknown
// method, sizes that contradict each other, or data that does not inflate to exactly the
// uncompressed size (all but the first logged).

String find_and_extract_file_from_zip_data(u8* data, u32 size, u8* name, u64 name_count, Gp_Allocation* buffer);
// get_file_from_zip and extract_zip_file in one call.
