// Directory listing, path resolution and the executable's directory. The foundation finds
// the executable's directory itself because the updater links no other subsystem.

#include "foundation/os_files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

//~ Directory listing

b8 os_lister_open(Os_Lister* lister, String directory, String extension) {
    lister->directory = directory;
    lister->extension = extension;
    lister->stream = 0;
    u64 saved = tmp_get_used();
    char* path = to_tmp_c_string(directory);
    if (path) lister->stream = opendir(path);
    tmp_set_used(saved);
    return lister->stream != 0;
}

void os_lister_close(Os_Lister* lister) {
    if (lister->stream) closedir(lister->stream);
    lister->stream = 0;
}

b8 os_lister_get_next_item(Os_Lister* lister, Os_Lister_Item* item) {
    if (!lister->stream) return false;
    for (;;) {
        struct dirent* entry = readdir(lister->stream);
        if (!entry) return false;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        u64 name_length = strlen(name);
        if (lister->extension.count > 0 &&
            !strings_equal(get_extension(String{(u8*)name, (s64)name_length}), lister->extension)) {
            continue;
        }

        if (name_length > OS_LISTER_NAME_CAPACITY - 1) name_length = OS_LISTER_NAME_CAPACITY - 1;
        memcpy(item->name_buffer, name, name_length);
        item->name_buffer[name_length] = 0;
        item->name = String{item->name_buffer, (s64)name_length};
        item->flags = 0;
        item->size = 0;
        item->modification_time = 0;

        u64 saved = tmp_get_used();
        String full = lister->directory.count > 0 ? string_concat2("%/%", lister->directory, item->name) : item->name;
        char* path = to_tmp_c_string(full);
        struct stat status;
        if (path && lstat(path, &status) == 0) {
            if (S_ISDIR(status.st_mode)) item->flags |= OS_ITEM_DIRECTORY;
            else if (S_ISREG(status.st_mode)) item->flags |= OS_ITEM_FILE;
            if ((status.st_mode & 0700) == 0400) item->flags |= OS_ITEM_READ_ONLY;
            item->size = (u64)status.st_size;
            item->modification_time = (u64)status.st_mtim.tv_sec * 1000000000ull + (u64)status.st_mtim.tv_nsec;
        }
        tmp_set_used(saved);
        return true;
    }
}

b8 os_get_mount_id(int fd, u64* id) {
    struct statx status;
    if (statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &status) == 0 && (status.stx_mask & STATX_MNT_ID)) {
        *id = status.stx_mnt_id;
        return true;
    }
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/fdinfo/%d", fd);
    int info = open(path, O_RDONLY | O_CLOEXEC);
    if (info < 0) return false;
    char text[512];
    ssize_t n = read(info, text, sizeof(text) - 1);
    close(info);
    if (n <= 0) return false;
    text[n] = 0;
    const char* at = strstr(text, "mnt_id:");
    if (!at) return false;
    char* end;
    unsigned long long value = strtoull(at + 7, &end, 10);
    if (end == at + 7) return false;
    *id = (u64)value;
    return true;
}

//~ Child processes

void os_prepare_child_process() {
    struct sigaction original = {};
    original.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; s++) sigaction(s, &original, 0);  // fails harmlessly for KILL and STOP
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, 0);

    if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
    // Kernels before close_range: every descriptor up to the limit.
    rlimit limit = {};
    int highest = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536 ? (int)limit.rlim_cur : 65536;
    for (int fd = 3; fd < highest; fd++) close(fd);
}

//~ Paths

#define FULL_FILEPATH_BLOCK 4096
static_assert(PATH_MAX <= FULL_FILEPATH_BLOCK);

b8 os_get_full_filepath(u8* path, u64 count, String* directory, String* name) {
    *directory = String{};
    *name = String{};
    u64 saved = tmp_get_used();
    char* c_path = to_tmp_c_string(String{path, (s64)count});
    u8* block = tmp_allocate(FULL_FILEPATH_BLOCK);
    if (!c_path || !block || !realpath(c_path, (char*)block)) {
        tmp_set_used(saved);
        return false;
    }

    s64 length = (s64)strlen((char*)block);
    // Only "/" separates: a backslash is an ordinary character of a file name here.
    s64 separator = length - 1;
    while (separator >= 0 && block[separator] != '/') separator--;
    *name = String{block + separator + 1, length - separator - 1};
    if (separator <= 0) *directory = String{block, 1};  // "/" itself
    else *directory = String{block, separator};
    return true;
}

//~ The executable's directory

String executable_filepath;
static u8 executable_filepath_buffer[PATH_MAX];

b8 init_executable_filepath() {
    executable_filepath = String{};
    ssize_t length = readlink("/proc/self/exe", (char*)executable_filepath_buffer, sizeof(executable_filepath_buffer));
    // readlink does not terminate the text, and a full buffer may be a cut path.
    if (length <= 0 || length >= (ssize_t)sizeof(executable_filepath_buffer)) return false;
    s64 separator = length - 1;
    while (separator >= 0 && executable_filepath_buffer[separator] != '/') separator--;
    if (separator < 0) return false;
    executable_filepath = String{executable_filepath_buffer, separator == 0 ? 1 : separator};
    return true;
}

//~ Whole transfers, sleeping and the clock

b8 os_read_all(int fd, u8* data, u64 size) {
    u64 done = 0;
    while (done < size) {
        ssize_t n = read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += (u64)n;
    }
    return true;
}

b8 os_write_all(int fd, const u8* data, u64 size) {
    u64 done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += (u64)n;
    }
    return true;
}

void sleep_milliseconds(u32 milliseconds) {
    timespec wait = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    timespec left;
    while (nanosleep(&wait, &left) != 0 && errno == EINTR) {
        if (left.tv_sec == 0 && left.tv_nsec < 1000) break;
        wait = left;
    }
}

u64 os_get_monotonic_microseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (u64)now.tv_sec * 1000000ull + (u64)now.tv_nsec / 1000ull;
}
