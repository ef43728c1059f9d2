// The update checker and the update download, over one libcurl request helper. What
// arrives is untrusted until checked: the server must prove its name with a certificate
// the system (or the configured CA file) trusts, answer 200, stay within the size limit and
// not fall silent; the data must pass the size and magic checks before anything is saved.

#include "shell/update_client.h"
#include "editor/editor_state.h"
#include "shell/tabs.h"
#include "ui/window.h"
#include "updater/updater.h"

#include <curl/curl.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char** environ;

Update_Client_Settings update_client_settings = {
    QUARN_UPDATE_HOST,
    nullptr,
    UPDATE_STALL_SECONDS,
    UPDATE_MAX_DOWNLOAD_SIZE,
};

static u32 running_threads;  // atomic: threads that may still call libcurl

b8 update_client_threads_running() { return __atomic_load_n(&running_threads, __ATOMIC_ACQUIRE) != 0; }

//~ One request

struct Download_Target {
    Dynamic_Array* output;
    u64 limit;
    b8 over_limit;
    b8 out_of_memory;
    Download_Progress_Callback progress;
    void* argument;
    s64 reported_total;
    s64 reported_now;
    u64 reported_time;  // microseconds: the tab is told at most every PROGRESS_INTERVAL
    s64 received;       // octets of the body when last seen growing
    u64 received_time;  // microseconds, when it last grew (or the transfer started)
    b8 went_silent;
};

#define PROGRESS_INTERVAL_MICROSECONDS 50000

size_t curl_download_callback(char* data, size_t size, size_t count, void* output) {
    Download_Target* target = (Download_Target*)output;
    u64 n = (u64)size * count;
    if (n == 0) return 0;
    if (target->output->count + n > target->limit) {
        target->over_limit = true;
        return 0;  // libcurl ends the transfer with a write error
    }
    u8* at = (u8*)dynamic_array_add_fast_multiple(target->output, (u32)n);
    if (!at) {
        target->out_of_memory = true;
        return 0;
    }
    memcpy(at, data, n);
    return n;
}

static int curl_transfer_info_callback(void* argument, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    Download_Target* target = (Download_Target*)argument;
    // A size the server announces beyond the limit ends the transfer before the body.
    if (total > 0 && (u64)total > target->limit) {
        target->over_limit = true;
        return 1;
    }
    // libcurl calls this at least once a second, also while nothing arrives.
    u64 time = os_get_monotonic_microseconds();
    if (now != target->received) {
        target->received = now;
        target->received_time = time;
    } else if (time - target->received_time > (u64)update_client_settings.stall_seconds * 1000000) {
        target->went_silent = true;
        return 1;
    }
    if (!target->progress || total <= 0 || (total == target->reported_total && now == target->reported_now)) return 0;
    if (now < total && total == target->reported_total && time - target->reported_time < PROGRESS_INTERVAL_MICROSECONDS) {
        return 0;
    }
    target->reported_total = total;
    target->reported_now = now;
    target->reported_time = time;
    target->progress((s64)total, target->argument);
    return 0;
}

b8 download_file_over_http(String host, String path, Dynamic_Array* output, Download_Progress_Callback progress,
                           void* argument) {
    if (host.count <= 0 || path.count <= 0) return false;
    CURL* curl = curl_easy_init();
    if (!curl) {
        add_log(nullptr, LOG_ERROR, "libcurl: curl_easy_init() failed.");
        return false;
    }

    b8 has_scheme = host.count >= 4 && memcmp(host.data, "http", 4) == 0;
    String base = has_scheme ? host : string_concat2("https://%", host);
    String url = path.data[0] == '/' ? string_concat2("%%", base, path) : string_concat2("%/%", base, path);

    Download_Target target = {};
    target.output = output;
    target.limit = update_client_settings.max_download_size;
    target.progress = progress;
    target.argument = argument;

    long stall = (long)update_client_settings.stall_seconds;
    curl_easy_setopt(curl, CURLOPT_URL, (char*)url.data);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    // Only HTTPS, with the server's certificate and name checked: the data ends up as
    // programs that run.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (update_client_settings.ca_file) curl_easy_setopt(curl, CURLOPT_CAINFO, update_client_settings.ca_file);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, curl_download_callback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &target);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, (curl_off_t)target.limit);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, curl_transfer_info_callback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &target);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    // Signals cannot serve timeouts in a threaded program.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, stall);

    if (progress) progress(1, argument);
    target.received_time = os_get_monotonic_microseconds();
    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    if (result == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    if (target.over_limit || result == CURLE_FILESIZE_EXCEEDED) {
        add_log(nullptr, LOG_ERROR, "The download from '%s' is larger than the limit of %llu octets.", (char*)url.data,
                (unsigned long long)target.limit);
        return false;
    }
    if (target.went_silent) {
        add_log(nullptr, LOG_ERROR, "The server of '%s' stayed silent for %u seconds.", (char*)url.data,
                update_client_settings.stall_seconds);
        return false;
    }
    if (target.out_of_memory) {
        add_log(nullptr, LOG_ERROR, "The download from '%s' did not fit in memory.", (char*)url.data);
        return false;
    }
    if (result != CURLE_OK) {
        add_log(nullptr, LOG_ERROR, "libcurl: curl_easy_perform() failed with status %u.", (u32)result);
        return false;
    }
    if (status != 200) {
        add_log(nullptr, LOG_ERROR, "The server answered '%s' with HTTP status %ld.", (char*)url.data, status);
        return false;
    }
    return true;
}

//~ The version check

void* update_checker(void* unused) {
    tmp_claim_slot();
    Dynamic_Array received;
    init_dynamic_array(&received, 1);
    b8 ok = download_file_over_http(string_from_c(update_client_settings.host), STR(UPDATE_VERSION_INFO_PATH),
                                    &received, nullptr, nullptr);
    if (!ok) {
        add_log(nullptr, LOG_ERROR, "Failed to check for updates.");
    } else {
        // Too short a record counts as no newer version.
        Version_Info v = {};
        b8 newer = false;
        if (received.count >= 3) {
            v = Version_Info{received.data[0], received.data[1], received.data[2]};
            u32 theirs = (u32)v.major << 16 | (u32)v.minor << 8 | v.patch;
            u32 ours = (u32)EDITOR_VERSION.major << 16 | (u32)EDITOR_VERSION.minor << 8 | EDITOR_VERSION.patch;
            newer = theirs > ours;
        }
        if (newer) {
            add_log(nullptr, LOG_INFO, "Quarn %u.%u.%u update is available.", v.major, v.minor, v.patch);
            atomic_or_u64(&global_flags, UPDATE_IS_AVAILABLE);
            wake_main_loop();
        } else {
            add_log(nullptr, LOG_INFO, "Quarn is up to date.");
        }
    }
    dynamic_array_free(&received);
    tmp_release_slot();
    __atomic_fetch_sub(&running_threads, 1, __ATOMIC_ACQ_REL);
    return nullptr;
}

//~ The download

void download_update_progress_tracker(s64 total, void* argument) {
    Download_Progress* progress = (Download_Progress*)argument;
    u32 count = progress->data->count;
    spin_lock(&tabs_read_lock);
    Tab* tab = get_tab_by_id(progress->tab_id);
    if (tab) {
        tab->download_total = (u64)total;
        tab->download_progress = total > 0 ? (f32)count / (f32)total : 0.0f;
        tab->download_state = DOWNLOAD_RUNNING;
    }
    spin_unlock(&tabs_read_lock);
    if (tab) wake_main_loop();
}

static void set_download_state(u32 tab_id, u8 state) {
    spin_lock(&tabs_read_lock);
    Tab* tab = get_tab_by_id(tab_id);
    if (tab) tab->download_state = state;
    spin_unlock(&tabs_read_lock);
}

b8 save_update_data(u8* data, u64 size) {
    char* path = tmp_path_in_directory(executable_filepath, STR(UPDATE_DATA_FILENAME));
    String temporary = string_concat2("%.XXXXXX", string_from_c(path ? path : ""));
    if (!path || !temporary.data) return false;

    // mkostemp makes the file 0600: the data is only the owner's business.
    const char* failed_step = "creating a temporary file";
    int error = 0;
    int fd = mkostemp((char*)temporary.data, O_CLOEXEC);
    if (fd < 0) error = errno;
    if (!error) {
        failed_step = "writing";
        if (!os_write_all(fd, data, size)) error = errno;
    }
    if (!error) {
        failed_step = "flushing";
        if (fsync(fd) != 0) error = errno;
    }
    if (fd >= 0 && close(fd) != 0 && !error) {
        failed_step = "closing";
        error = errno;
    }
    if (!error) {
        failed_step = "renaming";
        if (rename((char*)temporary.data, path) != 0) error = errno;
    }
    if (error) {
        if (fd >= 0) unlink((char*)temporary.data);
        add_log(nullptr, LOG_ERROR, "Failed to write update data to '%s'. (%s: %s)", path, failed_step, strerror(error));
        return false;
    }
    add_log(nullptr, LOG_INFO, "Downloaded update to '%s'.", path);
    return true;
}

b8 start_updater() {
    char* path = tmp_path_in_directory(executable_filepath, STR("updater"));
    if (!path) return false;
    // A path without a "/" would send posix_spawnp through PATH; posix_spawn never does,
    // and it reports a program that could not be started.
    char* argv[] = {path, nullptr};
    pid_t child;
    int error = posix_spawn(&child, path, nullptr, nullptr, argv, environ);
    if (error) {
        add_log(nullptr, LOG_ERROR, "Could not start the updater '%s': %s", path, strerror(error));
        return false;
    }
    return true;
}

void* download_update(void* tab_id_argument) {
    tmp_claim_slot();
    u32 tab_id = (u32)(u64)tab_id_argument;
    Dynamic_Array received;
    init_dynamic_array(&received, 1);
    add_log(nullptr, LOG_INFO, "Downloading update...");

    Download_Progress progress = {&received, tab_id};
    String host = string_from_c(update_client_settings.host);
    String path = string_from_c(update_data_web_filepaths[1]);
    if (!download_file_over_http(host, path, &received, download_update_progress_tracker, &progress)) {
        set_download_state(tab_id, DOWNLOAD_FAILED);
        atomic_or_u64(&global_flags, UPDATE_IS_AVAILABLE);  // the "Update" button returns
        add_log(nullptr, LOG_ERROR, "Failed to download update.");
        wake_main_loop();
    } else {
        b8 ok = false;
        if (received.count < sizeof(Update_Header)) {
            add_log(nullptr, LOG_ERROR, "Update data is too small to be valid.");
        } else if (load_u32(received.data) != UPDATE_MAGIC_NUMBER) {
            add_log(nullptr, LOG_ERROR, "The update data is invalid.");
        } else {
            ok = save_update_data(received.data, received.count) && start_updater();
        }
        set_download_state(tab_id, ok ? DOWNLOAD_DONE : DOWNLOAD_FAILED);
        if (ok) atomic_and_u64(&global_flags, ~(u64)SHOULD_RUN);
        wake_main_loop();
    }
    dynamic_array_free(&received);
    tmp_release_slot();
    __atomic_fetch_sub(&running_threads, 1, __ATOMIC_ACQ_REL);
    return nullptr;
}

//~ Starting the threads

static b8 start_detached_thread(void* (*entry)(void*), void* argument) {
    __atomic_fetch_add(&running_threads, 1, __ATOMIC_ACQ_REL);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int error = pthread_create(&thread, &attributes, entry, argument);
    pthread_attr_destroy(&attributes);
    if (error) {
        __atomic_fetch_sub(&running_threads, 1, __ATOMIC_ACQ_REL);
        add_log(nullptr, LOG_ERROR, "Could not start a thread of the update client: %s", strerror(error));
        return false;
    }
    return true;
}

b8 start_update_checker() {
    // A build without an update host (the test builds) never asks.
    if (!update_client_settings.host || !update_client_settings.host[0]) return true;
    return start_detached_thread(update_checker, nullptr);
}

b8 start_update_download(u32 tab_id) {
    if (start_detached_thread(download_update, (void*)(u64)tab_id)) return true;
    // Otherwise the tab would wait for ever and could never be closed.
    set_download_state(tab_id, DOWNLOAD_FAILED);
    return false;
}
