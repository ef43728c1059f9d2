// The file calls the packer and the updater share: paths beside a directory, whole reads
// and writes that go on after a short transfer, and a sleep that survives signals.

#include <errno.h>
#include <time.h>
#include <unistd.h>

#include "updater/updater.h"

char* tmp_path_in_directory(String directory, String name) {
    if (directory.count == 0) return to_tmp_c_string(name);
    return to_tmp_c_string(string_concat2("%/%", directory, name));
}

b8 os_read_all(int fd, u8* data, u64 size) {
    u64 done = 0;
    while (done < size) {
        ssize_t n = read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += (u64)n;
    }
    return true;
}

b8 os_write_all(int fd, const u8* data, u64 size) {
    u64 done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
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
