// Desktop notifications and "open elsewhere". The program runs as a grandchild: the child
// forks it and ends at once, so the caller reaps the child by its id without waiting for
// the program, and no ended child is left behind as a zombie.

#include "foundation/notifications.h"
#include "foundation/os_files.h"

#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

u8 global_os_notifications_lock;

// arguments: null-terminated, each a C string built before the fork (the child of a
// threaded process must not allocate).
static void start_detached_program(char** arguments) {
    pid_t child = fork();
    if (child == 0) {
        if (fork() == 0) {
            os_prepare_child_process();
            execvp(arguments[0], arguments);
        }
        _exit(0);
    }
    if (child < 0) return;
    while (waitpid(child, 0, 0) < 0 && errno == EINTR) {
    }
}

void create_os_notification(String title, String body) {
    spin_lock(&global_os_notifications_lock);
    u64 saved = tmp_get_used();
    char* title_text = to_tmp_c_string(title);
    char* body_text = to_tmp_c_string(body);
    if (title_text && body_text) {
        char* arguments[] = {(char*)"notify-send", (char*)"-a", (char*)"quarn", title_text, body_text, 0};
        start_detached_program(arguments);
    }
    tmp_set_used(saved);
    spin_unlock(&global_os_notifications_lock);
}

void os_open_file_in_other_app(String path) {
    u64 saved = tmp_get_used();
    char* path_text = to_tmp_c_string(path);
    if (path_text) {
        char* arguments[] = {(char*)"xdg-open", path_text, 0};
        start_detached_program(arguments);
    }
    tmp_set_used(saved);
}
