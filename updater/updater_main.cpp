// The `updater` program: started by the editor beside "update.data" with no arguments,
// it installs the update into its own directory and always exits with status 0.

#include "foundation/memory.h"
#include "foundation/os_files.h"
#include "updater/updater.h"

int main() {
    if (!init_memory(PROGRAM_UPDATER)) return 0;
    // The editor that started us ends right after the start; give it the time to go.
    sleep_milliseconds(200);
    // Without its directory every path is taken relative to the working directory.
    init_executable_filepath();
    run_update(executable_filepath);
    tmp_release_slot();
    return 0;
}
