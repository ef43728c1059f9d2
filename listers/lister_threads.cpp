// Thread starts shared by the listing and search threads.

#include "listers/lister_threads.h"
#include "foundation/log.h"

#include <pthread.h>
#include <sched.h>
#include <string.h>
#include <unistd.h>

b8 start_detached_thread(Lister_Thread_Entry entry, void* argument, const char* what) {
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error == 0) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        error = pthread_create(&thread, &attributes, entry, argument);
        pthread_attr_destroy(&attributes);
    }
    if (error != 0) add_log(nullptr, LOG_ERROR, "Could not start the %s thread: %s", what, strerror(error));
    return error == 0;
}

u32 get_usable_processor_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    s64 count = 0;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) count = CPU_COUNT(&set);
    if (count <= 0) count = sysconf(_SC_NPROCESSORS_ONLN);
    if (count <= 0) count = 1;
    return (u32)count;
}
