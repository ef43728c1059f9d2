// Paths split into components with inline storage, so that open files, the working
// directory and the listers hold their paths without allocating; joining gives the
// one string the OS calls need. Also the blacklist test of the directory walks.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"

#define FILEPATH_MAX_COMPONENTS        64
#define FILEPATH_MAX_COMPONENT_LENGTH  256

struct Filepath_Component {
    u8* text;    // points at this component's own storage
    u64 length;
    u8 storage[FILEPATH_MAX_COMPONENT_LENGTH];
};

struct Filepath {
    Filepath_Component components[FILEPATH_MAX_COMPONENTS];
    u16 count;  // 0: no path
};

b8 string_to_filepath(Filepath* out, u8* text, s64 length);
// Splits at '/' and '\\'; a run of separators counts as one, a leading '/' becomes the
// component "/". An empty text gives count 0. A path with more components or a longer
// component than the record holds is refused: false, count 0 and an error in the log,
// never a shortened path that would name another file.

void set_filepath_from(Filepath* destination, Filepath* source);
// A whole copy whose component texts point at the destination's own storage.

String filepath_to_tmp_string(Filepath* path);
// The components joined with '/' (none after the root component "/"), in temporary
// memory and followed by a NUL so that it can go to the OS as it is. Empty for count 0.

b8 filepath_is_blacklisted(u8* text, s64 length, b8 check_extension, b8 check_path);
// True when the extension (after the last '.' of the whole text) is a blacklisted
// extension, or, with check_path, when some blacklisted path occurs in the text as a run
// of whole components. Empty lists blacklist nothing. Reads the custom layer's lists under
// their lock, so any thread may ask; any length of path is tested.
