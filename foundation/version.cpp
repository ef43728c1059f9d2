// Version records as text and as the server's four-octet record.

#include "foundation/version.h"

String version_to_string(Version_Info v) {
    return tstring_small("%u.%u.%u", v.major, v.minor, v.patch);
}

char* version_to_c_string(Version_Info v) {
    return tcstring_small("%u.%u.%u", v.major, v.minor, v.patch);
}

String make_version_info_data(Version_Info v) {
    String result = {};
    u8* out = tmp_allocate(4);
    if (!out) return result;
    out[0] = v.major;
    out[1] = v.minor;
    out[2] = v.patch;
    out[3] = 0;
    result.data = out;
    result.count = 4;
    return result;
}
