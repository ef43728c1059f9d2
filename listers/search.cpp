// Search threads. The main thread copies everything a search reads (query, the current
// file's text and selection, the root directory) before it starts the search thread, so
// edits never pull memory from under a worker. A multi-file search keeps one worker
// thread per seat for its whole walk; each worker reads and scans the files the walk hands
// it, and a file joins global_search_files only once it is scanned and has hits, so files
// without hits give their text back at once and the list only grows at its end.

#include "listers/search.h"
#include "listers/lister_threads.h"
#include "ui/window.h"
#include "editor/editor_settings.h"

#include <assert.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

Search_Lister global_search_lister;
Bucket_Array global_search_files;
Memory_Pool search_files_pool;
u8 global_search_lock;

// Set by a search thread for its run; a second one means two searches overlap.
static u8 search_thread_inside;

// A file's text count is a u32.
#define SEARCH_MAX_FILE_SIZE 0xFFFFFFFFull

static void* map_search_files_page(u64 size) { return os_allocate_read_write(size); }

void init_search_lister() {
    Search_Lister* s = &global_search_lister;
    if (!search_files_pool.element_size) {
        _init_memory_pool(&search_files_pool, sizeof(Search_File), NUM_SEARCH_RESULT_FILES_PER_BUCKET,
                          NUM_SEARCH_RESULT_FILE_BUCKETS_PER_PAGE, nullptr, map_search_files_page);
        init_bucket_array(&global_search_files, &search_files_pool);
    }
    bucket_array_reset(&global_search_files);
    Editor_File* inputs[2] = {&s->query_input, &s->replacement_input};
    for (Editor_File* input : inputs) {
        if (input->flags & FILE_IN_USE) input->text.count = 0;
        else init_file(input, FILE_SINGLE_LINE | FILE_NO_SYNTAX);
    }
    s->title = String{s->title_text, 0};
    s->second_title = String{s->second_title_text, 0};
    s->running_workers = 0;
    s->selected = 0;
    s->query_hash = 0;
    s->scroll_request = 0;
    s->mode = SEARCH_CLOSED;
    s->finished = 1;
    s->running = 0;
    s->complete = 1;
}

b8 search_lister_is_finished() { return __atomic_load_n(&global_search_lister.finished, __ATOMIC_ACQUIRE) != 0; }

static b8 search_may_go_on() { return __atomic_load_n(&global_search_lister.running, __ATOMIC_RELAXED) != 0; }

static void release_search_file_memory(Search_File* file) {
    gp_free(&file->text.storage);
    file->text.data = nullptr;
    file->text.count = 0;
    file->text.capacity = 0;
    dynamic_array_free(&file->hits);
    file->hits.count = 0;
}

u32 search_file(Search_Slot* slot) {
    Search_Lister* s = &global_search_lister;
    Search_File* file = slot->file;
    u8* text = file->text.data;
    u64 count = file->text.count;
    Scan_Result result = SCAN_DONE;
    if (s->query.count > 0 && count > 0) {
        u64 start = 0;
        u64 end = count;
        u32 line = 1;
        u64 line_start = 0;
        if (slot->selection) {
            s64 a = s->selection_start < 0 ? 0 : s->selection_start;
            s64 b = s->selection_end < 0 ? 0 : s->selection_end;
            start = (u64)a < count ? (u64)a : count;
            end = (u64)b < count ? (u64)b : count;
            line = get_line_at_offset(text, (s64)count, (s64)start);
            line_start = (u64)get_line_start(text, (s64)start);
        }
        result = scan_for_hits(text, start, end, line, line_start, s->query, &file->hits);
        if (result == SCAN_DONE || result == SCAN_STOPPED) {
            for (u32 i = 0; i < file->hits.count; i++) ((Search_Match*)file->hits.data)[i].file_index = slot->file_index;
        }
    }
    if (result == SCAN_BINARY) release_search_file_memory(file);
    __atomic_store_n(&file->done, (u8)1, __ATOMIC_RELEASE);
    return result == SCAN_BINARY ? 0 : 1;
}

//~ Multi-file search

// Paths waiting for a worker. The walk only lists; the workers open, read and scan, so
// reading the files runs on every seat at once.
#define SEARCH_QUEUE_LENGTH 256

struct Search_Queue_Entry {
    u32 path_count;
    u8 path[SEARCH_PATH_CAPACITY];
};

struct Search_Walk;

// The texts and hits of files with hits are copied into large blocks, one chain per seat,
// given back when the search ends: thousands of small files then cost a few mappings.
#define SEARCH_TEXT_BLOCK_SIZE (16ull << 20)
#define SEARCH_TEXT_BLOCK_HEADER 64ull

struct Search_Text_Block {
    Search_Text_Block* next;
    u64 used;
    u64 size;  // octets behind the header
};

// A worker's seat, and what it keeps between files so that a file without hits costs no
// allocation.
struct Search_Seat {
    Search_Slot slot;
    Search_Walk* walk;
    Gp_Allocation text;  // the read buffer, as large as the largest file read yet
    Dynamic_Array hits;
    Search_Text_Block* kept;  // texts and hits of the files with hits
    u32 path_count;
    u8 path[SEARCH_PATH_CAPACITY];
};

// n octets, 16-aligned, from the seat's chain; null (logged) when no block can be mapped.
static u8* keep_octets(Search_Seat* seat, u64 n) {
    Search_Text_Block* block = seat->kept;
    if (!block || block->size - block->used < n) {
        u64 size = n > SEARCH_TEXT_BLOCK_SIZE ? n : SEARCH_TEXT_BLOCK_SIZE;
        block = (Search_Text_Block*)os_allocate_read_write(SEARCH_TEXT_BLOCK_HEADER + size);
        if (!block) {
            add_log(nullptr, LOG_ERROR, "The search could not keep a file's hits: no memory for %llu octets.",
                    (unsigned long long)n);
            return nullptr;
        }
        block->size = size;
        block->next = seat->kept;
        seat->kept = block;
    }
    u8* at = (u8*)block + SEARCH_TEXT_BLOCK_HEADER + block->used;
    block->used += align_up(n, 16);
    return at;
}

static void release_kept_blocks(Search_Seat* seat) {
    while (Search_Text_Block* block = seat->kept) {
        seat->kept = block->next;
        os_free_mapping(block, SEARCH_TEXT_BLOCK_HEADER + block->size);
    }
}

struct Search_Walk {
    Search_Seat* seats;  // one per usable processor; seats[0] also serves the walk itself
    u32 seat_count;
    u32 worker_count;    // seats with a worker thread
    Search_Queue_Entry* queue;
    u32 head, tail;      // entries taken and put, both counting up
    u8 queue_lock;       // guards head, tail and the entries; innermost
    sem_t queued;        // entries for the workers, then one end token per worker
    sem_t spaces;        // free entries for the walk
    Editor_Settings_Lists settings;
};

static void wait_on(sem_t* semaphore) {
    while (sem_wait(semaphore) != 0 && errno == EINTR) {}
}

// A worker that finished a file usually finds the next one queued within microseconds;
// a short spin before sleeping saves the walk a wake-up per file.
static void wait_for_work(sem_t* semaphore) {
    for (u32 i = 0; i < 4096; i++) {
        if (sem_trywait(semaphore) == 0) return;
        __builtin_ia32_pause();
    }
    wait_on(semaphore);
}

// Reads the file the seat names and scans it; a file with hits joins the list. Only a
// regular file of 1 octet up to the limit is read, and a FIFO, socket or device never
// blocks the open: O_NONBLOCK, then fstat decides.
static void search_seat_file(Search_Seat* seat) {
    if (!search_may_go_on()) return;
    int fd = open((char*)seat->path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    u64 count = 0;
    u64 size = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        (u64)st.st_size <= seat->walk->settings.search_size_limit && (u64)st.st_size <= SEARCH_MAX_FILE_SIZE) {
        size = (u64)st.st_size;
        if (seat->text.size < size) {
            gp_free(&seat->text);
            if (!gp_allocate(&seat->text, size < 65536 ? 65536 : size)) size = 0;
        }
        // A file that shrank since fstat is searched as far as it goes; growth is left out.
        while (count < size) {
            ssize_t n = read(fd, seat->text.memory + count, size - count);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            count += (u64)n;
        }
    }
    close(fd);
    if (count == 0) return;

    seat->hits.count = 0;
    Scan_Result result = scan_for_hits(seat->text.memory, 0, count, 1, 0, global_search_lister.query, &seat->hits);
    if (result == SCAN_BINARY || seat->hits.count == 0) return;

    // The record's text and hits are copies in the seat's kept blocks; it owns neither.
    u32 hit_count = seat->hits.count;
    u64 text_size = align_up(count, 16);
    u8* text = keep_octets(seat, text_size + (u64)hit_count * sizeof(Search_Match));
    if (!text) return;
    memcpy(text, seat->text.memory, count);
    Search_Match* hits = (Search_Match*)(text + text_size);
    memcpy(hits, seat->hits.data, (u64)hit_count * sizeof(Search_Match));
    s64 moved = text - seat->text.memory;
    for (u32 i = 0; i < hit_count; i++) {
        hits[i].line_start += moved;
        hits[i].line_end += moved;
        hits[i].hit += moved;
    }

    spin_lock(&global_search_lock);
    Search_File* record = (Search_File*)bucket_array_append(&global_search_files);
    if (record) {
        u32 index = global_search_files.count - 1;
        record->text.data = text;
        record->text.element_size = 1;
        record->text.count = (u32)count;
        record->text.capacity = (u32)count;
        record->hits.data = (u8*)hits;
        record->hits.element_size = sizeof(Search_Match);
        record->hits.count = hit_count;
        record->hits.capacity = hit_count;
        memcpy(record->path_text, seat->path, seat->path_count);
        record->path = String{record->path_text, (s64)seat->path_count};
        for (u32 i = 0; i < hit_count; i++) hits[i].file_index = index;
        __atomic_store_n(&record->done, (u8)1, __ATOMIC_RELEASE);
    }
    spin_unlock(&global_search_lock);
    if (record) wake_main_loop();
}

// The read buffer and hits array; the kept blocks stay until the results are released.
static void release_seat_buffers(Search_Seat* seat) {
    gp_free(&seat->text);
    dynamic_array_free(&seat->hits);
}

static void* search_worker(void* argument) {
    Search_Seat* seat = (Search_Seat*)argument;
    Search_Walk* walk = seat->walk;
    tmp_claim_slot();
    for (;;) {
        wait_for_work(&walk->queued);
        spin_lock(&walk->queue_lock);
        b8 got = walk->head != walk->tail;
        if (got) {
            Search_Queue_Entry* entry = &walk->queue[walk->head++ % SEARCH_QUEUE_LENGTH];
            memcpy(seat->path, entry->path, entry->path_count + 1);
            seat->path_count = entry->path_count;
        }
        spin_unlock(&walk->queue_lock);
        if (!got) break;  // the walk's end token: nothing is left
        sem_post(&walk->spaces);
        __atomic_store_n(&seat->slot.busy, (u8)1, __ATOMIC_RELAXED);
        search_seat_file(seat);
        __atomic_store_n(&seat->slot.busy, (u8)0, __ATOMIC_RELEASE);
    }
    release_seat_buffers(seat);
    // The seats live in the search thread's memory: nothing of them is touched after this.
    __atomic_sub_fetch(&global_search_lister.running_workers, 1, __ATOMIC_ACQ_REL);
    tmp_release_slot();
    return nullptr;
}

static b8 extension_is_listed(Search_Walk* walk, String name) {
    String extension = get_extension(name);
    if (extension.count == 0) return false;
    for (u32 i = 0; i < walk->settings.blacklisted_extension_count; i++) {
        if (strings_equal(walk->settings.blacklisted_extensions[i], extension)) return true;
    }
    return false;
}

// Queues the file for the workers, sleeping while the queue is full. Without any worker
// the walk searches it itself.
static void hand_out_file(Search_Walk* walk, String directory, String name) {
    b8 root = directory.count == 1 && directory.data[0] == '/';
    u64 length = (u64)directory.count + (root ? 0 : 1) + (u64)name.count;
    if (length >= SEARCH_PATH_CAPACITY) return;  // the record could not name it

    u8* path;
    Search_Seat* own = nullptr;
    if (walk->worker_count == 0) {
        own = &walk->seats[0];
        path = own->path;
        own->path_count = (u32)length;
    } else {
        wait_on(&walk->spaces);
        spin_lock(&walk->queue_lock);
        Search_Queue_Entry* entry = &walk->queue[walk->tail % SEARCH_QUEUE_LENGTH];
        spin_unlock(&walk->queue_lock);
        // The entry is the walk's until it is counted in tail.
        path = entry->path;
        entry->path_count = (u32)length;
    }
    memcpy(path, directory.data, (u64)directory.count);
    u64 at = (u64)directory.count;
    if (!root) path[at++] = '/';
    memcpy(path + at, name.data, (u64)name.count);
    path[length] = 0;

    if (own) {
        search_seat_file(own);
        return;
    }
    spin_lock(&walk->queue_lock);
    walk->tail++;
    spin_unlock(&walk->queue_lock);
    sem_post(&walk->queued);
}

static b8 walk_may_go_on() {
    return search_may_go_on() && !__atomic_load_n(&global_search_lister.hit_cap_reached, __ATOMIC_RELAXED);
}

// One directory: its files are handed out in the order the directory gives them, then its
// subdirectories that are not blacklisted are walked, depth first. A link is searched when
// it names a regular file and never walked.
static void search_multiple_files_helper(Search_Walk* walk, String directory) {
    DIR* stream = opendir((char*)directory.data);
    if (!stream) return;
    Dynamic_Array subdirectories;  // String, their texts in temporary memory
    init_dynamic_array(&subdirectories, sizeof(String));

    while (walk_may_go_on()) {
        struct dirent* entry = readdir(stream);
        if (!entry) break;
        String name = string_from_c(entry->d_name);
        if (strings_equal(name, STR(".")) || strings_equal(name, STR(".."))) continue;
        u8 type = entry->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            struct stat st;
            if (fstatat(dirfd(stream), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISLNK(st.st_mode)) {
                if (fstatat(dirfd(stream), entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
                type = DT_REG;
            } else {
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
        }
        if (type == DT_DIR) {
            String copy = string_concat2("%", name);
            String* slot = (String*)dynamic_array_add_fast(&subdirectories);
            if (copy.data && slot) *slot = copy;
            continue;
        }
        if (type != DT_REG || extension_is_listed(walk, name)) continue;
        hand_out_file(walk, directory, name);
    }
    closedir(stream);

    String* names = (String*)subdirectories.data;
    for (u32 i = 0; i < subdirectories.count && walk_may_go_on(); i++) {
        u64 saved = tmp_get_used();
        b8 root = directory.count == 1 && directory.data[0] == '/';
        String path = string_concat2(root ? "%%" : "%/%", directory, names[i]);
        // Deeper paths could not be recorded for any file under them; a blacklisted
        // directory is never entered.
        if (path.data && path.count < SEARCH_PATH_CAPACITY &&
            !filepath_is_blacklisted(path.data, path.count, false, true)) {
            search_multiple_files_helper(walk, path);
        }
        tmp_set_used(saved);
    }
    dynamic_array_free(&subdirectories);
}

// Seats, queue and workers; then the walk; then the end tokens and the wait for every
// worker to end (sleeping: it is over in one file's time).
static void run_multi_file_search(Search_Walk* walk) {
    Search_Lister* s = &global_search_lister;
    u32 count = get_usable_processor_count();
    walk->seat_count = count < SEARCH_MAX_SEATS ? count : SEARCH_MAX_SEATS;
    walk->seats = (Search_Seat*)tmp_allocate_aligned(walk->seat_count * sizeof(Search_Seat), 64);
    walk->queue = (Search_Queue_Entry*)tmp_allocate_aligned(SEARCH_QUEUE_LENGTH * sizeof(Search_Queue_Entry), 64);
    if (!walk->seats || !walk->queue) return;
    memset(walk->seats, 0, walk->seat_count * sizeof(Search_Seat));
    sem_init(&walk->queued, 0, 0);
    sem_init(&walk->spaces, 0, SEARCH_QUEUE_LENGTH);
    __atomic_store_n(&s->running_workers, 1, __ATOMIC_RELEASE);
    for (u32 i = 0; i < walk->seat_count; i++) {
        Search_Seat* seat = &walk->seats[i];
        seat->walk = walk;
        init_dynamic_array(&seat->hits, sizeof(Search_Match));
    }
    for (u32 i = 0; i < walk->seat_count; i++) {
        __atomic_add_fetch(&s->running_workers, 1, __ATOMIC_ACQ_REL);
        if (!start_detached_thread(search_worker, &walk->seats[i], "search worker")) {
            // The seats that have a worker share the work; without any the walk searches.
            __atomic_sub_fetch(&s->running_workers, 1, __ATOMIC_ACQ_REL);
            break;
        }
        walk->worker_count++;
    }

    search_multiple_files_helper(walk, s->directory);

    for (u32 i = 0; i < walk->worker_count; i++) sem_post(&walk->queued);
    __atomic_sub_fetch(&s->running_workers, 1, __ATOMIC_ACQ_REL);
    while (__atomic_load_n(&s->running_workers, __ATOMIC_ACQUIRE) > 0) sleep_milliseconds(1);
    if (walk->worker_count == 0) release_seat_buffers(&walk->seats[0]);
    sem_destroy(&walk->queued);
    sem_destroy(&walk->spaces);
}

static b8 query_is_blank() {
    String q = global_search_lister.query;
    return q.count == 0 || string_is_empty(q.data, q.count);
}

// The end of every search: the results go, and only then is the search finished.
static void release_results_and_finish(Search_Walk* walk) {
    spin_lock(&global_search_lock);
    for (Search_File* file = (Search_File*)global_search_files.first_element; file; file = file->next) {
        release_search_file_memory(file);
    }
    bucket_array_reset(&global_search_files);
    spin_unlock(&global_search_lock);
    for (u32 i = 0; walk && walk->seats && i < walk->seat_count; i++) release_kept_blocks(&walk->seats[i]);
    Search_Lister* s = &global_search_lister;
    gp_free(&s->file_text);
    __atomic_store_n(&search_thread_inside, (u8)0, __ATOMIC_RELEASE);
    __atomic_store_n(&s->finished, (u8)1, __ATOMIC_RELEASE);
    wake_main_loop();
}

static void enter_search_thread() {
    tmp_claim_slot();
    tmp_reset();
    u8 inside = __atomic_exchange_n(&search_thread_inside, (u8)1, __ATOMIC_ACQ_REL);
    assert(inside == 0 && "two searches overlap");
    (void)inside;
    // Waits out a reader that still walks the previous results.
    spin_lock(&global_search_lock);
    spin_unlock(&global_search_lock);
}

// Results stay for the panel until the search is stopped.
static void wait_for_stop() {
    __atomic_store_n(&global_search_lister.complete, (u8)1, __ATOMIC_RELEASE);
    while (search_may_go_on()) sleep_milliseconds(2);
}

void* search_multiple_files(void* unused) {
    enter_search_thread();
    Search_Lister* s = &global_search_lister;
    Search_Walk walk = {};
    if (!query_is_blank() && s->directory.count > 0 && editor_settings_copy_lists_tmp(&walk.settings)) {
        run_multi_file_search(&walk);
    }
    wait_for_stop();
    release_results_and_finish(&walk);
    tmp_release_slot();
    return nullptr;
}

//~ One file

static void go_to_line(Search_File* file, u32 file_index) {
    s64 wanted = string_to_s64(global_search_lister.query);
    u8* text = file->text.data;
    s64 count = file->text.count;
    if (wanted < 1 || wanted > 0xFFFFFFFFll || (u64)wanted > count_lines_in(text, count)) return;
    s64 start = get_offset_at_line(text, count, (u32)wanted);
    s64 end = get_line_end(text, count, start);
    Search_Match* match = (Search_Match*)dynamic_array_add_fast(&file->hits);
    if (!match) return;
    match->offset = (u64)start;
    match->length = (u64)(end - start);
    match->file_index = file_index;
    match->line = (u32)wanted;
    match->line_start = text + start;
    match->line_end = text + end;
    match->hit = text + start;
}

void* search_current_file(void* unused) {
    enter_search_thread();
    Search_Lister* s = &global_search_lister;
    if (!query_is_blank()) {
        spin_lock(&global_search_lock);
        Search_File* file = (Search_File*)bucket_array_append(&global_search_files);
        if (file) {
            memcpy(file->path_text, s->file_path, s->file_path_count);
            file->path = String{file->path_text, (s64)s->file_path_count};
            // The record takes the copy over; release_results_and_finish frees it there.
            file->text.storage = s->file_text;
            file->text.data = s->file_text_count ? s->file_text.memory : nullptr;
            file->text.element_size = 1;
            file->text.count = (u32)s->file_text_count;
            file->text.capacity = (u32)s->file_text_count;
            s->file_text = Gp_Allocation{};
            init_dynamic_array(&file->hits, sizeof(Search_Match));
        }
        spin_unlock(&global_search_lock);
        if (file) {
            if (s->searched_mode == SEARCH_GO_TO_LINE) {
                go_to_line(file, 0);
                __atomic_store_n(&file->done, (u8)1, __ATOMIC_RELEASE);
            } else {
                Search_Slot slot = {file, 0, s->selection_active, 1};
                search_file(&slot);
            }
            wake_main_loop();
        }
    }
    wait_for_stop();
    release_results_and_finish(nullptr);
    tmp_release_slot();
    return nullptr;
}

//~ Starting and stopping (main thread)

void search_lister_stop_and_wait() {
    Search_Lister* s = &global_search_lister;
    __atomic_store_n(&s->running, (u8)0, __ATOMIC_RELEASE);
    // A worker notices within one step of its scan, the walk at its next entry.
    while (!search_lister_is_finished()) sleep_milliseconds(1);
}

b8 search_lister_start(Editor_File* file, String directory) {
    Search_Lister* s = &global_search_lister;
    search_lister_stop_and_wait();
    String query = {s->query_input.text.data, (s64)s->query_input.text.count};
    s->query_hash = MeowHash((u64)query.count, query.data).low;
    s->selected = 0;
    s->hit_count = 0;
    s->hit_cap_reached = 0;
    s->running_workers = 0;
    if (!copy_string_to_allocation(&s->query_storage, query, &s->query)) return false;

    s->searched_mode = s->mode;
    s->searched_file = file;
    b8 in_files = s->mode == SEARCH_IN_FILES;
    if (in_files) {
        if (!copy_string_to_allocation(&s->directory_storage, directory, &s->directory)) return false;
    } else {
        if (!file) return false;
        u64 saved = tmp_get_used();
        String path = get_file_path_tmp(file);
        b8 fits = path.data && (u64)path.count < SEARCH_PATH_CAPACITY;
        if (fits) {
            memcpy(s->file_path, path.data, (u64)path.count);
            s->file_path_count = (u64)path.count;
        }
        tmp_set_used(saved);
        if (!fits) {
            add_log(nullptr, LOG_ERROR, "The path of the file is too long to search it.");
            return false;
        }
        u64 count = file->text.count;
        gp_free(&s->file_text);
        if (count > 0 && !gp_allocate(&s->file_text, count)) return false;
        if (count > 0) memcpy(s->file_text.memory, file->text.data, count);
        s->file_text_count = count;
        s->selection_active = (atomic_load_u16(&file->flags) & FILE_SELECTION_ACTIVE) != 0;
        s->selection_start = *file->selection_start;
        s->selection_end = *file->selection_end;
    }

    __atomic_store_n(&s->running, (u8)1, __ATOMIC_RELEASE);
    __atomic_store_n(&s->complete, (u8)0, __ATOMIC_RELEASE);
    __atomic_store_n(&s->finished, (u8)0, __ATOMIC_RELEASE);
    if (!start_detached_thread(in_files ? search_multiple_files : search_current_file, nullptr, "search")) {
        // Nobody would ever set it: the waiters of a stop must not hang.
        gp_free(&s->file_text);
        __atomic_store_n(&s->complete, (u8)1, __ATOMIC_RELEASE);
        __atomic_store_n(&s->finished, (u8)1, __ATOMIC_RELEASE);
        return false;
    }
    return true;
}

//~ Reading the results

u32 get_num_items_in_search_lister() {
    u32 count = 0;
    spin_lock(&global_search_lock);
    for (Search_File* file = (Search_File*)global_search_files.first_element; file; file = file->next) {
        if (__atomic_load_n(&file->done, __ATOMIC_ACQUIRE)) count += file->hits.count;
    }
    spin_unlock(&global_search_lock);
    return count;
}

b8 search_lister_copy_hit(u32 index, Search_Match* match, String* path_tmp) {
    b8 found = false;
    spin_lock(&global_search_lock);
    for (Search_File* file = (Search_File*)global_search_files.first_element; file; file = file->next) {
        if (!__atomic_load_n(&file->done, __ATOMIC_ACQUIRE)) continue;
        if (index < file->hits.count) {
            *match = ((Search_Match*)file->hits.data)[index];
            if (path_tmp) *path_tmp = string_concat2("%", file->path);
            found = true;
            break;
        }
        index -= file->hits.count;
    }
    spin_unlock(&global_search_lock);
    return found;
}
