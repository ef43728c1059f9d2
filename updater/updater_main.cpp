// The `updater` program: started by the editor beside "update.data" with no arguments,
// it installs the update into its own directory and always exits with status 0.

#include "foundation/memory.h"
#include "updater/updater.h"

int main() {
    if (!init_memory(PROGRAM_UPDATER)) return 0;
    // The editor that started us ends right after the start; give it the time to go.
    sleep_milliseconds(200);
    run_update(get_executable_directory());
    tmp_release_slot();
    return 0;
}
