// Small wrappers over the operating system's file calls that several subsystems share:
// listing a directory one entry at a time, resolving a path, and the executable's own
// directory. Paths handed to the system are NUL-terminated copies in temporary memory.
#pragma once

#include <dirent.h>

#include "foundation/types.h"
#include "foundation/strings.h"

//~ Directory listing

#define OS_LISTER_NAME_CAPACITY 2048

enum Os_Lister_Item_Flags : u8 {
    OS_ITEM_FILE = 1,       // S_ISREG; a symbolic link is neither file nor directory
    OS_ITEM_DIRECTORY = 2,  // S_ISDIR
    OS_ITEM_READ_ONLY = 8,  // the owner's permission bits are exactly read
};

struct Os_Lister {
    String directory;
    String extension;  // empty for none; otherwise the text after an entry's last "."
    DIR* stream;       // null when the directory could not be opened
};

struct Os_Lister_Item {
    String name;  // points at name_buffer; point it at the copy's own buffer after a copy
    u8 flags;
    u64 size;
    u64 modification_time;  // nanoseconds since the epoch (seconds and nanoseconds together)
    u8 name_buffer[OS_LISTER_NAME_CAPACITY];
};

b8 os_lister_open(Os_Lister* lister, String directory, String extension);
// False when the directory cannot be opened; the lister then lists nothing. The directory
// text must outlive the lister.

void os_lister_close(Os_Lister* lister);

b8 os_lister_get_next_item(Os_Lister* lister, Os_Lister_Item* item);
// Fills the next entry ("." and ".." and entries the extension filter rejects are skipped)
// and returns true; false at the end or when the lister has no open stream. The status is
// read without following a final symbolic link; an entry whose status cannot be read is
// still returned, with flags, size and time 0. Leaves no temporary memory behind.

b8 os_get_mount_id(int fd, u64* id);
// The id of the mount that holds the open file fd: two directories of one file system
// that are reached through different mounts (a bind mount) have different ids. False when
// the system tells neither through statx nor through /proc/self/fdinfo.

//~ Whole transfers, sleeping and the clock

b8 os_read_all(int fd, u8* data, u64 size);
// Reads exactly size octets, going on after short reads and signals. False at an error or
// an early end of file (errno is EIO then).

b8 os_write_all(int fd, const u8* data, u64 size);
// Writes all size octets, going on after short writes and signals. False at an error.

void sleep_milliseconds(u32 milliseconds);
// Sleeps the whole time, resuming after signals.

u64 os_get_monotonic_microseconds();
// Microseconds of the monotonic clock: the editor's time stamps.

//~ Child processes

void os_prepare_child_process();
// For a child just forked from the threaded editor, before it execs: default signal
// handlers, an empty signal mask and no descriptor above 2, so the program it runs inherits
// none of the editor's state. Only async-signal-safe calls.

//~ Paths

b8 os_get_full_filepath(u8* path, u64 count, String* directory, String* name);
// Resolves the path to its absolute form: directory without the last separator ("/" for an
// entry of the root) and the name after it, both in one 4,096-octet temporary block. False
// with both empty when the path cannot be resolved.

extern String executable_filepath;
// The directory that holds the running executable, without a trailing "/" ("/" for the
// root); empty until init_executable_filepath has run or when it failed.

b8 init_executable_filepath();
// Reads "/proc/self/exe". Run once at start, before other threads use executable_filepath.
