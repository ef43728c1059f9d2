// The release packer's command line: packs a release directory into update data for the
// update server. Run by whoever makes a release; never installed.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "foundation/memory.h"
#include "updater/updater.h"

int main(int argument_count, char** arguments) {
    const char* format_text = argument_count == 4 ? arguments[3] : "";
    if ((strcmp(format_text, "0") != 0 && strcmp(format_text, "1") != 0)) {
        fprintf(stderr, "usage: %s OUTPUT RELEASE_DIRECTORY FORMAT\n"
                        "  packs the release files of RELEASE_DIRECTORY into update data at OUTPUT;\n"
                        "  FORMAT 0 compresses with the own LZ blocks, 1 with LZ4.\n",
                argument_count ? arguments[0] : "pack_update_tool");
        return 2;
    }
    if (!init_memory(PROGRAM_UPDATER)) return 1;
    u32 format = (u32)atoi(format_text);
    u32 left_out = 0;
    b8 packed = pack_update(string_from_c(arguments[1]), string_from_c(arguments[2]), format, &left_out);
    for (u32 i = 0; i < RELEASE_FILE_COUNT; i++) {
        if (left_out & (1u << i)) printf("Left out %s: not in %s.\n", release_file_names[i], arguments[2]);
    }
    if (!packed) {
        fprintf(stderr, "Could not pack %s into %s.\n", arguments[2], arguments[1]);
        return 1;
    }
    printf("Packed %s (format %u); the update server offers it as %s.\n", arguments[1], format,
           update_data_web_filepaths[format]);
    return 0;
}
