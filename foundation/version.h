// Version records: three one-byte numbers, printed as "%u.%u.%u". The update server's
// version record holds the same three octets.
#pragma once

#include "foundation/types.h"
#include "foundation/strings.h"

struct Version_Info {
    u8 major;
    u8 minor;
    u8 patch;
};
static_assert(sizeof(Version_Info) == 3);

constexpr Version_Info EDITOR_VERSION = {0, 3, 2};

String version_to_string(Version_Info v);    // 32-octet temporary block
char* version_to_c_string(Version_Info v);   // 64-octet temporary block, NUL-terminated

String make_version_info_data(Version_Info v);
// The 4 octets of the server's version record (major, minor, patch, 0) in temporary memory.
