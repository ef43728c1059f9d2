// The scanner against tables and a plain loop, the one-file and go-to-line searches, and
// multi-file searches over scratch trees that hold things that must not block.
#include "listers_test_helpers.h"

#include <sched.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <random>
#include "tests/test_seed.h"

//~ The scanner

struct Hit {
    u64 offset;
    u32 line;
    u64 line_start, line_end;
    bool operator==(const Hit&) const = default;
};

struct Scan {
    std::vector<Hit> hits;
    bool binary;
    bool operator==(const Scan&) const = default;
};

static std::ostream& operator<<(std::ostream& out, const Scan& s) {
    out << (s.binary ? "binary" : "text") << " {";
    for (const Hit& h : s.hits) out << " " << h.offset << "@" << h.line << "[" << h.line_start << "," << h.line_end << ")";
    return out << " }";
}

// search_file on a text of our own, outside any search thread.
static Scan scan(const std::string& text, const std::string& query, s64 selection_start = -1, s64 selection_end = -1) {
    Search_Lister* s = &global_search_lister;
    EXPECT_TRUE(search_lister_is_finished());
    s->query = String{(u8*)query.data(), (s64)query.size()};
    s->selection_start = selection_start;
    s->selection_end = selection_end;
    s->hit_count = 0;
    __atomic_store_n(&s->running, (u8)1, __ATOMIC_RELEASE);
    Search_File file = {};
    file.text.data = (u8*)text.data();
    file.text.element_size = 1;
    file.text.count = (u32)text.size();
    init_dynamic_array(&file.hits, sizeof(Search_Match));
    Search_Slot slot = {&file, 7, (u8)(selection_start >= 0), 1};
    Scan result;
    result.binary = search_file(&slot) == 0;
    EXPECT_TRUE(file.done);
    for (u32 i = 0; i < file.hits.count; i++) {
        Search_Match* m = &((Search_Match*)file.hits.data)[i];
        EXPECT_EQ(m->file_index, 7u);
        EXPECT_EQ(m->hit, (u8*)text.data() + m->offset);
        EXPECT_EQ(m->length, query.size());
        result.hits.push_back({m->offset, m->line, (u64)(m->line_start - (u8*)text.data()),
                               (u64)(m->line_end - (u8*)text.data())});
    }
    dynamic_array_free(&file.hits);
    __atomic_store_n(&s->running, (u8)0, __ATOMIC_RELEASE);
    s->query = String{};
    return result;
}

// The loop as plainly as it can be written: every position where a hit may start is
// visited; line breaks count at their position (CR LF once), a 0 makes the text binary,
// and after a hit the loop goes on behind it.
static Scan reference_scan(const std::string& text, const std::string& query, u64 start, u64 end) {
    Scan result = {{}, false};
    // Lines before the range, counted as for the whole file: a CR LF pair is one break
    // that starts at its CR.
    u32 line = 1;
    for (u64 i = 0; i < start; i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') i++;
        if (text[i] == '\n' || text[i] == '\r') line++;
    }
    u64 line_start = start;
    while (line_start > 0 && text[line_start - 1] != '\n' && text[line_start - 1] != '\r') line_start--;
    if (query.empty() || end - start < query.size()) return result;
    for (u64 p = start; p + query.size() <= end;) {
        if (text[p] == '\n') {
            line++;
            line_start = p + 1;
        } else if (text[p] == '\r') {
            if (p + 1 < end && text[p + 1] == '\n') p++;
            line++;
            line_start = p + 1;
        } else if (text[p] == 0) {
            return {{}, true};
        }
        if (p + query.size() <= end && text.compare(p, query.size(), query) == 0) {
            u64 line_end = p;
            while (line_end < end && text[line_end] != '\n' && text[line_end] != '\r') line_end++;
            result.hits.push_back({p, line, line_start, line_end});
            p += query.size();
        } else {
            p++;
        }
    }
    return result;
}

TEST(Search, ScannerTable) {
    struct Scan_Case {
        const char* name;
        std::string text, query;
        s64 selection_start, selection_end;
        std::vector<u64> offsets;
        std::vector<u32> lines;
        bool binary;
    };
    const std::string crlf = "x\r\ny\rz\nq";
    const Scan_Case cases[] = {
        {"hits never overlap", "ababab", "ab", -1, -1, {0, 2, 4}, {1, 1, 1}, false},
        {"a run of the query's octet", "aaaa", "aa", -1, -1, {0, 2}, {1, 1}, false},
        {"CR LF, CR and LF each end a line", crlf, "q", -1, -1, {7}, {4}, false},
        {"the line after CR LF", crlf, "y", -1, -1, {3}, {2}, false},
        {"the line after a lone CR", crlf, "z", -1, -1, {5}, {3}, false},
        {"a 0 before the last position", std::string("ab\0ab", 5), "ab", -1, -1, {}, {}, true},
        {"a 0 past the last position is not seen", std::string("ab\0", 3), "ab", -1, -1, {0}, {1}, false},
        {"a query longer than the text", "ab", "abc", -1, -1, {}, {}, false},
        {"an empty text", "", "a", -1, -1, {}, {}, false},
        {"case matters", "Needle needle", "needle", -1, -1, {7}, {1}, false},
        {"multi-octet text", "\xc3\xa9t\xc3\xa9 \xc3\xa9t\xc3\xa9", "t\xc3\xa9", -1, -1, {2, 8}, {1, 1}, false},
        {"only inside the selection", "ab ab ab", "ab", 2, 6, {3}, {1}, false},
        {"a hit crossing the selection's end is left out", "ab ab ab", "ab", 0, 4, {0}, {1}, false},
        {"lines of the whole file inside a selection", "a\nb\nab\nab", "ab", 3, 9, {4, 7}, {3, 4}, false},
        {"an empty selection", "ab", "ab", 1, 1, {}, {}, false},
        {"a selection past the end", "ab", "ab", 0, 100, {0}, {1}, false},
        {"a long run without events", std::string(200000, 'x') + "needle", "needle", -1, -1, {200000}, {1}, false},
    };
    for (const Scan_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan s = scan(c.text, c.query, c.selection_start, c.selection_end);
        EXPECT_EQ(s.binary, c.binary);
        std::vector<u64> offsets;
        std::vector<u32> lines;
        for (const Hit& h : s.hits) {
            offsets.push_back(h.offset);
            lines.push_back(h.line);
        }
        EXPECT_EQ(offsets, c.offsets);
        EXPECT_EQ(lines, c.lines);
    }
    Scan lines = scan(crlf, "y");
    ASSERT_EQ(lines.hits.size(), 1u);
    EXPECT_EQ(lines.hits[0].line_start, 3u);
    EXPECT_EQ(lines.hits[0].line_end, 4u);
}

TEST(Search, ScannerAgreesWithThePlainLoop) {
    u32 seed = (u32)test_seed(4582);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    const char alphabet[] = {'a', 'b', 'a', 'b', '\r', '\n', '\0', 'c'};
    for (int round = 0; round < 20000; round++) {
        std::string text(random() % 48, ' ');
        for (char& c : text) c = alphabet[random() % (random() % 5 ? 6 : 8)];
        std::string query(1 + random() % 3, ' ');
        for (char& c : query) c = alphabet[random() % (random() % 8 ? 4 : 6)];
        s64 start = -1, end = -1;
        if (random() % 4 == 0 && !text.empty()) {
            start = random() % text.size();
            end = start + random() % (text.size() - start + 1);
        }
        Scan expected = start < 0 ? reference_scan(text, query, 0, text.size()) : reference_scan(text, query, start, end);
        Scan got = scan(text, query, start, end);
        ASSERT_EQ(got, expected) << "round " << round << " text \"" << testing::PrintToString(text) << "\" query "
                                 << testing::PrintToString(query) << " selection " << start << ".." << end;
    }
}

//~ Searches on their threads

static Editor_File* make_text_file(const std::string& text) {
    Editor_File* file = add_a_file();
    EXPECT_NE(file, nullptr);
    if (!text.empty()) memcpy(dynamic_array_add_fast_multiple(&file->text, (u32)text.size()), text.data(), text.size());
    memcpy(file->name_storage, "t.txt", 5);
    file->name = String{file->name_storage, 5};
    return file;
}

static bool search_complete() { return __atomic_load_n(&global_search_lister.complete, __ATOMIC_ACQUIRE) != 0; }

struct Found {
    std::string path;  // relative to the searched root
    u32 line;
    bool operator<(const Found& o) const { return path != o.path ? path < o.path : line < o.line; }
    bool operator==(const Found&) const = default;
};

static std::ostream& operator<<(std::ostream& out, const Found& f) { return out << f.path << ":" << f.line; }

// Every hit of the search that runs, once it is complete; the hits' texts are checked
// against the query while the results still stand.
static std::vector<Found> collect_hits(const std::string& root, const std::string& query) {
    std::vector<Found> found;
    EXPECT_TRUE(wait_until(search_complete)) << "the search did not end";
    u32 n = get_num_items_in_search_lister();
    for (u32 i = 0; i < n; i++) {
        Search_Match m;
        String path;
        EXPECT_TRUE(search_lister_copy_hit(i, &m, &path));
        std::string p((char*)path.data, path.count);
        if (!root.empty() && p.rfind(root + "/", 0) == 0) p = p.substr(root.size() + 1);
        found.push_back({p, m.line});
        if (global_search_lister.mode != SEARCH_GO_TO_LINE) {
            EXPECT_EQ(std::string((char*)m.hit, m.length), query);
        }
    }
    Search_Match past;
    EXPECT_FALSE(search_lister_copy_hit(n, &past, nullptr));
    std::sort(found.begin(), found.end());
    return found;
}

static std::vector<Found> search_in_file(Editor_File* file, u8 mode, const std::string& query) {
    global_search_lister.mode = mode;
    set_input_text(&global_search_lister.query_input, query);
    EXPECT_TRUE(search_lister_start(file, String{}));
    std::vector<Found> found = collect_hits("", query);
    search_lister_stop_and_wait();
    return found;
}

static std::vector<Found> search_tree(const std::string& root, const std::string& query) {
    global_search_lister.mode = SEARCH_IN_FILES;
    set_input_text(&global_search_lister.query_input, query);
    EXPECT_TRUE(search_lister_start(nullptr, test_string(root)));
    std::vector<Found> found = collect_hits(root, query);
    search_lister_stop_and_wait();
    EXPECT_EQ(global_search_files.count, 0u);
    return found;
}

TEST(Search, GoesToALine) {
    struct Line_Case {
        const char* name;
        std::string text, query;
        std::vector<u32> lines;
        u64 offset, length;
    };
    const Line_Case cases[] = {
        {"the first line", "ab\ncd", "1", {1}, 0, 2},
        {"the last line", "ab\r\ncd\ref", "3", {3}, 7, 2},
        {"0", "ab\ncd", "0", {}, 0, 0},
        {"negative", "ab\ncd", "-1", {}, 0, 0},
        {"past the end", "ab\ncd", "3", {}, 0, 0},
        {"the empty line after a final break", "ab\n", "2", {2}, 3, 0},
        {"line 1 of an empty file", "", "1", {1}, 0, 0},
        {"blank", "ab", "  \t", {}, 0, 0},
    };
    for (const Line_Case& c : cases) {
        SCOPED_TRACE(c.name);
        Editor_File* file = make_text_file(c.text);
        global_search_lister.mode = SEARCH_GO_TO_LINE;
        set_input_text(&global_search_lister.query_input, c.query);
        ASSERT_TRUE(search_lister_start(file, String{}));
        ASSERT_TRUE(wait_until(search_complete));
        std::vector<u32> lines;
        Search_Match m = {};
        for (u32 i = 0; search_lister_copy_hit(i, &m, nullptr); i++) lines.push_back(m.line);
        EXPECT_EQ(lines, c.lines);
        if (!lines.empty()) {
            EXPECT_EQ(m.offset, c.offset);
            EXPECT_EQ(m.length, c.length);
        }
        search_lister_stop_and_wait();
        close_file(file);
    }
}

TEST(Search, SearchesACopyOfTheCurrentFile) {
    Editor_File* file = make_text_file("one needle\ntwo\nneedle needle");
    EXPECT_EQ(search_in_file(file, SEARCH_IN_FILE, "needle"), (std::vector<Found>{{"t.txt", 1}, {"t.txt", 3}, {"t.txt", 3}}));
    EXPECT_TRUE(search_in_file(file, SEARCH_IN_FILE, " \t ").empty());

    // With a selection, only inside it.
    file->cursor = 4;
    file->selection_anchor = 20;
    file->selection_start = &file->cursor;
    file->selection_end = &file->selection_anchor;
    atomic_or_u16(&file->flags, FILE_SELECTION_ACTIVE);
    EXPECT_EQ(search_in_file(file, SEARCH_REPLACE, "needle"), (std::vector<Found>{{"t.txt", 1}}));
    close_file(file);

    // Hits stop at the cap.
    Editor_File* big = make_text_file(std::string(SEARCH_MAX_HITS + 500, 'a'));
    global_search_lister.mode = SEARCH_IN_FILE;
    set_input_text(&global_search_lister.query_input, "a");
    ASSERT_TRUE(search_lister_start(big, String{}));
    ASSERT_TRUE(wait_until(search_complete));
    EXPECT_EQ(get_num_items_in_search_lister(), SEARCH_MAX_HITS);
    EXPECT_TRUE(global_search_lister.hit_cap_reached);
    search_lister_stop_and_wait();
    close_file(big);
}

static const u64 SEARCH_NO_LIMIT = 1ull << 40;

TEST(Search, SearchesATree) {
    Scratch_Directory scratch;
    std::string root = scratch.path.string();
    make_tree(root, {"a.c=:x needle\nneedle", "sub/", "sub/b.c=:needle", "skip/", "skip/deep/", "skip/deep/c.c=:1\nneedle",
                     "x.txt=:needle", "y.TXT=:needle", "eq=:needle", "over=:needle!", "empty", "none.c=:nothing"});
    std::ofstream(scratch / "binary.o", std::ios::binary) << std::string("needle\0needle", 13);

    struct Tree_Case {
        const char* name;
        std::vector<std::string> extensions, paths;
        u64 limit;
        std::vector<Found> found;
    };
    const std::vector<Found> all = {{"a.c", 1}, {"a.c", 2}, {"eq", 1}, {"over", 1}, {"skip/deep/c.c", 2},
                                    {"sub/b.c", 1}, {"x.txt", 1}, {"y.TXT", 1}};
    const Tree_Case cases[] = {
        {"no lists: the whole tree", {}, {}, SEARCH_NO_LIMIT, all},
        {"a blacklisted path is not entered", {}, {"skip"}, SEARCH_NO_LIMIT,
         {{"a.c", 1}, {"a.c", 2}, {"eq", 1}, {"over", 1}, {"sub/b.c", 1}, {"x.txt", 1}, {"y.TXT", 1}}},
        {"a blacklisted path of two components", {}, {"skip/deep"}, SEARCH_NO_LIMIT,
         {{"a.c", 1}, {"a.c", 2}, {"eq", 1}, {"over", 1}, {"sub/b.c", 1}, {"x.txt", 1}, {"y.TXT", 1}}},
        {"a blacklisted root: only its own files", {}, {scratch.path.filename().string()}, SEARCH_NO_LIMIT,
         {{"a.c", 1}, {"a.c", 2}, {"eq", 1}, {"over", 1}, {"x.txt", 1}, {"y.TXT", 1}}},
        {"extensions compare exactly", {"txt", "o"}, {}, SEARCH_NO_LIMIT,
         {{"a.c", 1}, {"a.c", 2}, {"eq", 1}, {"over", 1}, {"skip/deep/c.c", 2}, {"sub/b.c", 1}, {"y.TXT", 1}}},
        {"a file of the limit is searched, one more octet is not", {}, {}, 6,
         {{"eq", 1}, {"sub/b.c", 1}, {"x.txt", 1}, {"y.TXT", 1}}},
        {"a limit of 0 finds nothing", {}, {}, 0, {}},
    };
    for (const Tree_Case& c : cases) {
        SCOPED_TRACE(c.name);
        set_layer_lists({}, c.extensions, c.paths, c.limit);
        EXPECT_EQ(search_tree(root, "needle"), c.found);
    }
    set_layer_lists({}, {}, {}, SEARCH_NO_LIMIT);
    EXPECT_TRUE(search_tree(root, "").empty());
    EXPECT_TRUE(search_tree(root, "  ").empty());
    EXPECT_TRUE(search_tree(root + "/missing", "needle").empty());
}

// None of these may block the walk or a worker: each search has to end.
TEST(Search, ThingsThatAreNotFilesNeverBlock) {
    Scratch_Directory scratch;
    std::string root = scratch.path.string();
    make_tree(root, {"a.c=:needle", "dir/", "dir/in.c=:needle", "pipe|", "sock@", "to_pipe->pipe", "to_zero->/dev/zero",
                     "to_tty->/dev/tty", "to_dir->dir", "to_self->to_self", "to_nothing->missing", "to_file->a.c"});
    set_layer_lists({}, {}, {}, SEARCH_NO_LIMIT);
    EXPECT_EQ(search_tree(root, "needle"), (std::vector<Found>{{"a.c", 1}, {"dir/in.c", 1}, {"to_file", 1}}));
}

//~ Threads

static std::string make_many_files(const Scratch_Directory& scratch, int count) {
    std::vector<std::string> tree = {"d0/", "d1/", "d2/"};
    for (int i = 0; i < count; i++) {
        tree.push_back("d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".c=:" + "line one\nneedle " +
                       std::to_string(i) + "\nlast needle");
    }
    make_tree(scratch.path.string(), tree);
    return scratch.path.string();
}

static std::vector<Found> expected_many(int count) {
    std::vector<Found> found;
    for (int i = 0; i < count; i++) {
        std::string path = "d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".c";
        found.push_back({path, 2});
        found.push_back({path, 3});
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The main thread restarts searches of both kinds while it reads the hits and edits the
// query and the file; the hits it reads stay whole, and the search threads assert that
// two searches never overlap.
TEST(SearchThreads, RapidRestartsNeverRunTwoSearches) {
    Scratch_Directory scratch;
    std::string root = make_many_files(scratch, 60);
    set_layer_lists({}, {}, {}, SEARCH_NO_LIMIT);
    Editor_File* file = make_text_file("needle one\nneedle two\nno");
    u32 seed = (u32)test_seed(4796);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    const char* queries[] = {"needle", "n", "one", "", "ne", "last"};
    for (int i = 0; i < 200; i++) {
        std::string query = queries[random() % 6];
        set_input_text(&global_search_lister.query_input, query);
        global_search_lister.mode = random() % 2 ? SEARCH_IN_FILES : SEARCH_IN_FILE;
        ASSERT_TRUE(search_lister_start(file, test_string(root)));
        set_input_text(&global_search_lister.query_input, "edited meanwhile");
        set_input_text(file, random() % 2 ? "x" : std::string(5000, 'n'));
        for (int reads = random() % 20; reads > 0; reads--) {
            u32 n = get_num_items_in_search_lister();
            Search_Match m;
            if (n && search_lister_copy_hit(random() % n, &m, nullptr)) {
                ASSERT_EQ(std::string((char*)m.hit, m.length), query);
            }
        }
    }
    search_lister_stop_and_wait();
    EXPECT_EQ(global_search_files.count, 0u);
    close_file(file);
}

TEST(SearchThreads, WorkersThatCannotStartLeaveTheWalkToSearch) {
    Scratch_Directory scratch;
    std::string root = make_many_files(scratch, 30);
    set_layer_lists({}, {}, {}, SEARCH_NO_LIMIT);
    passing_thread_starts = 1;  // the search thread itself
    failing_thread_starts = -1;
    std::vector<Found> found = search_tree(root, "needle");
    failing_thread_starts = 0;
    passing_thread_starts = 0;
    EXPECT_EQ(found, expected_many(30));

    // Some workers start, the rest do not.
    passing_thread_starts = 2;
    failing_thread_starts = 3;
    found = search_tree(root, "needle");
    failing_thread_starts = 0;
    passing_thread_starts = 0;
    EXPECT_EQ(found, expected_many(30));
}

TEST(SearchThreads, ASearchThreadThatCannotStartIsFinished) {
    Scratch_Directory scratch;
    std::string root = make_many_files(scratch, 3);
    global_search_lister.mode = SEARCH_IN_FILES;
    set_input_text(&global_search_lister.query_input, "needle");
    failing_thread_starts = -1;
    EXPECT_FALSE(search_lister_start(nullptr, test_string(root)));
    failing_thread_starts = 0;
    EXPECT_TRUE(search_lister_is_finished());
    search_lister_stop_and_wait();
    EXPECT_EQ(get_num_items_in_search_lister(), 0u);
}

TEST(SearchThreads, OneProcessorIsOneSeat) {
    Scratch_Directory scratch;
    std::string root = make_many_files(scratch, 30);
    set_layer_lists({}, {}, {}, SEARCH_NO_LIMIT);
    cpu_set_t old_set, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof(old_set), &old_set), 0);
    CPU_ZERO(&one);
    for (int i = 0; i < CPU_SETSIZE; i++) {
        if (CPU_ISSET(i, &old_set)) {
            CPU_SET(i, &one);
            break;
        }
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
    EXPECT_EQ(get_usable_processor_count(), 1u);
    std::vector<Found> found = search_tree(root, "needle");
    sched_setaffinity(0, sizeof(old_set), &old_set);
    EXPECT_EQ(found, expected_many(30));
}
