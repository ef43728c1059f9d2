// The update client: at start a thread asks the update server for its newest version; when
// the user asks for the update, a second thread downloads the update data, checks it,
// saves it as "update.data" beside the executable, starts the updater and ends the editor.
// Both go through one libcurl request that verifies the server and bounds what it takes.
#pragma once

#include "foundation/foundation.h"

#ifndef QUARN_UPDATE_HOST
#define QUARN_UPDATE_HOST "https://updates.quarn.dev"
#endif

#define UPDATE_VERSION_INFO_PATH "binaries/quarn/version_info.bin"
#define UPDATE_STALL_SECONDS 30
#define UPDATE_MAX_DOWNLOAD_SIZE (256ull * 1024 * 1024)
#define UPDATE_DOWNLOAD_INITIAL_CAPACITY 1048576

// Where and how the client downloads; the defaults are the release's, tests point it at a
// server of their own.
struct Update_Client_Settings {
    const char* host;         // "https://" is put in front unless it begins with "http"
    const char* ca_file;      // null: the system's certificate store
    u32 stall_seconds;        // a connection silent this long is given up
    u64 max_download_size;    // a body larger than this is refused
};

extern Update_Client_Settings update_client_settings;

typedef void (*Download_Progress_Callback)(s64 total, void* argument);

struct Download_Progress {
    Dynamic_Array* data;  // what has arrived so far
    u32 tab_id;
};

//~ update_client.cpp

b8 download_file_over_http(String host, String path, Dynamic_Array* output, Download_Progress_Callback progress,
                           void* argument);
// Fetches host/path over HTTPS into output (octets appended; the caller frees it), with the
// server's certificate and name verified. progress, when given, is called with total 1
// before the transfer and then with the body's size as it is learned. False, logged, when
// the transfer fails, the status is not 200, the body is larger than the limit or the
// server stays silent; an empty host or path fails at once without a message.

size_t curl_download_callback(char* data, size_t size, size_t count, void* output);
// libcurl's write function: appends to the download, or ends the transfer at the limit.

void download_update_progress_tracker(s64 total, void* progress);
// Stores the download's progress in the update tab it names (a Download_Progress), if the
// tab still exists, and wakes the main loop.

void* update_checker(void* unused);
// Thread entry: asks the server's version record and raises UPDATE_IS_AVAILABLE when it is
// newer than this editor.

void* download_update(void* tab_id);
// Thread entry: the tab id is the argument's value. Downloads, checks and saves the update
// data, starts the updater beside the executable and clears SHOULD_RUN; after any failure
// the tab shows it and the editor runs on.

b8 start_update_checker();
b8 start_update_download(u32 tab_id);
// Start the threads, detached. A download thread that cannot start marks its tab failed.
// False (logged) when the thread could not be created. With no update host the checker
// does not start.

b8 update_client_threads_running();
// True while a thread of the client may still use libcurl; shut-down leaves libcurl alone
// then.

b8 save_update_data(u8* data, u64 size);
// Writes the data beside the executable as "update.data", mode 0600, through a temporary
// file renamed over it, so a reader never finds part of it. False (logged) on failure,
// with no "update.data" left by this call.

b8 start_updater();
// Starts the updater beside the executable by its path (never through PATH), with its path
// as the only argument, without waiting for it. False (logged) when it could not be started.
