// The zip walk and extraction over archives built here byte by byte (stored, deflated,
// cut short, with lying sizes, with data descriptors), and the quarn.data the build lays
// out beside this program. Every archive sits in a block of exactly its size, so a read
// past its end is caught by the address sanitizer.

#include "ui/asset_archive.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>
#include "tests/scratch.h"

typedef std::vector<u8> Bytes;

//~ Building archives

static void put16(Bytes* b, u32 v) { b->push_back((u8)v); b->push_back((u8)(v >> 8)); }
static void put32(Bytes* b, u32 v) { put16(b, v & 0xFFFF); put16(b, v >> 16); }

static Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

static Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

static Bytes cut(Bytes b, size_t count) {
    b.resize(count);
    return b;
}

struct Header_Fields {
    u16 method;
    u16 flags;
    u32 compressed_size;
    u32 uncompressed_size;
    u16 extra_count;  // octets of extra field written after the name
    u16 claimed_extra_count;
};

static Bytes entry(const std::string& name, const Header_Fields& h, const Bytes& data) {
    Bytes b;
    put32(&b, ZIP_LOCAL_HEADER_SIGNATURE);
    put16(&b, 20);
    put16(&b, h.flags);
    put16(&b, h.method);
    put32(&b, 0);
    put32(&b, (u32)crc32(0, data.data(), (uInt)data.size()));
    put32(&b, h.compressed_size);
    put32(&b, h.uncompressed_size);
    put16(&b, (u32)name.size());
    put16(&b, h.claimed_extra_count);
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), h.extra_count, (u8)0xEE);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

static Bytes deflate_raw(const std::string& text) {
    z_stream s = {};
    deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&s, text.size()));
    s.next_in = (Bytef*)text.data();
    s.avail_in = (uInt)text.size();
    s.next_out = out.data();
    s.avail_out = (uInt)out.size();
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

static Bytes stored(const std::string& name, const std::string& text) {
    u32 n = (u32)text.size();
    return entry(name, {ZIP_METHOD_STORED, 0, n, n, 0, 0}, bytes_of(text));
}

static Bytes deflated(const std::string& name, const std::string& text, s64 size_lie = 0) {
    Bytes packed = deflate_raw(text);
    return entry(name, {ZIP_METHOD_DEFLATE, 0, (u32)packed.size(), (u32)(text.size() + size_lie), 0, 0}, packed);
}

enum Descriptor_Kind { DESCRIPTOR_SIGNED, DESCRIPTOR_BARE, DESCRIPTOR_SIZES_ONLY_THERE };

static Bytes with_descriptor(const std::string& name, const std::string& text, Descriptor_Kind kind) {
    u32 n = (u32)text.size();
    u32 header_size = kind == DESCRIPTOR_SIZES_ONLY_THERE ? 0 : n;
    Bytes b = entry(name, {ZIP_METHOD_STORED, ZIP_HEADER_HAS_NO_SIZE_INFO, header_size, header_size, 0, 0},
                    bytes_of(text));
    if (kind == DESCRIPTOR_SIGNED) put32(&b, ZIP_DATA_DESCRIPTOR_SIGNATURE);
    put32(&b, (u32)crc32(0, (const Bytef*)text.data(), (uInt)text.size()));
    put32(&b, n);
    put32(&b, n);
    return b;
}

static Bytes central_directory() {
    Bytes b;
    put32(&b, 0x02014B50);  // a central directory header; the walk must stop here
    b.insert(b.end(), 42, (u8)0);
    put32(&b, 0x06054B50);
    b.insert(b.end(), 18, (u8)0);
    return b;
}

// The archive in a malloc block of exactly its size.
struct Exact_Block {
    u8* data;
    u32 size;
};

static Exact_Block exact_copy(const Bytes& b) {
    Exact_Block block = {(u8*)malloc(b.size() ? b.size() : 1), (u32)b.size()};
    if (!b.empty()) memcpy(block.data, b.data(), b.size());
    return block;
}

static std::vector<std::string> list_names(Exact_Block block, b8* failed) {
    std::vector<std::string> names;
    Zip_Lister lister = init_zip_lister(block.data, block.size);
    Zip_Entry e;
    while (zip_lister_get_next_file(&lister, &e)) names.push_back(std::string((char*)e.name.data, e.name.count));
    *failed = lister.failed;
    return names;
}

//~ Walking

TEST(ZipWalk, ListsEntriesAndStopsWhereTheArchiveDoes) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    const std::string text = "The quick brown fox jumps over the lazy dog, again and again and again.";
    struct Case {
        const char* name;
        Bytes archive;
        std::vector<std::string> listed;
        bool failed;
    };
    const Case cases[] = {
        {"empty archive", {}, {}, false},
        {"stored and deflated, then the central directory",
         cat({stored("UI_FONT", text), deflated("ICONS", text), central_directory()}), {"UI_FONT", "ICONS"}, false},
        {"a few stray octets after the last entry", cat({stored("A", text), bytes_of("PK")}), {"A"}, false},
        {"no signature at the start", bytes_of("not a zip archive at all"), {}, false},
        {"header cut short", cat({stored("A", text), cut(stored("B", text), 20)}), {"A"}, true},
        {"name runs past the end", cut(stored("NAME", text), 32), {}, true},
        {"extra field claims more than is left",
         entry("A", {ZIP_METHOD_STORED, 0, 4, 4, 0, 200}, bytes_of("data")), {}, true},
        {"data cut short", cat({stored("A", text), cut(stored("B", text), 40)}), {"A"}, true},
        {"compressed size of four gigabytes", entry("A", {ZIP_METHOD_STORED, 0, 0xFFFFFFFFu, 4, 0, 0}, bytes_of("data")),
         {}, true},
        {"extra field skipped", cat({entry("A", {ZIP_METHOD_STORED, 0, 4, 4, 9, 9}, bytes_of("data")), stored("B", text)}),
         {"A", "B"}, false},
        {"data descriptor with its signature",
         cat({with_descriptor("A", text, DESCRIPTOR_SIGNED), stored("B", text), central_directory()}), {"A", "B"}, false},
        {"data descriptor without its signature",
         cat({with_descriptor("A", text, DESCRIPTOR_BARE), stored("B", text)}), {"A", "B"}, false},
        {"sizes only in the data descriptor",
         cat({stored("A", text), with_descriptor("B", text, DESCRIPTOR_SIZES_ONLY_THERE), stored("C", text)}), {"A"}, true},
        {"data descriptor cut short", cut(with_descriptor("A", text, DESCRIPTOR_SIGNED), 30 + 1 + text.size() + 10), {},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exact_Block block = exact_copy(c.archive);
        b8 failed = false;
        EXPECT_EQ(list_names(block, &failed), c.listed);
        EXPECT_EQ(failed, c.failed);
        free(block.data);
    }
}

//~ Extracting

TEST(ZipExtract, FindsByExactNameAndChecksSizes) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    const std::string text = "Text that deflates well: abcabcabcabcabcabcabcabcabcabcabcabcabcabcabc.";
    struct Case {
        const char* name;
        Bytes archive;
        const char* entry;
        const char* expected;  // null: nothing comes back
        bool in_place;
    };
    const Case cases[] = {
        {"stored entry comes back in place", cat({stored("UI_FONT", text), central_directory()}), "UI_FONT",
         text.c_str(), true},
        {"deflated entry is inflated", cat({stored("UI_FONT", "x"), deflated("ICONS", text)}), "ICONS", text.c_str(),
         false},
        {"a prefix of a name finds nothing", stored("UI_FONT", text), "UI", nullptr, false},
        {"a longer name is passed over", cat({stored("UI_FONT_2", "wrong"), stored("UI_FONT", text)}), "UI_FONT",
         text.c_str(), true},
        {"missing entry", stored("UI_FONT", text), "CODE_FONT", nullptr, false},
        {"after a descriptor", cat({with_descriptor("A", "first", DESCRIPTOR_SIGNED), deflated("B", text)}), "B",
         text.c_str(), false},
        {"stored sizes that disagree",
         entry("A", {ZIP_METHOD_STORED, 0, (u32)text.size(), (u32)text.size() + 1, 0, 0}, bytes_of(text)), "A", nullptr,
         false},
        {"deflated, claiming more than it holds", deflated("A", text, 1), "A", nullptr, false},
        {"deflated, claiming less than it holds", deflated("A", text, -1), "A", nullptr, false},
        {"deflated, claiming more than deflate can give",
         entry("A", {ZIP_METHOD_DEFLATE, 0, 4, 0xFFFFFFF0u, 0, 0}, bytes_of("abcd")), "A", nullptr, false},
        {"deflated data damaged", entry("A", {ZIP_METHOD_DEFLATE, 0, 8, 100, 0, 0}, bytes_of("\xff\xff\xff\xff....")), "A",
         nullptr, false},
        {"unknown method", entry("A", {12, 0, 4, 4, 0, 0}, bytes_of("data")), "A", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exact_Block block = exact_copy(c.archive);
        Gp_Allocation buffer = {};
        String got = find_and_extract_file_from_zip_data(block.data, block.size, (u8*)c.entry, strlen(c.entry), &buffer);
        if (!c.expected) {
            EXPECT_EQ(got.count, 0);
        } else {
            EXPECT_EQ(std::string((char*)got.data, got.count), c.expected);
            bool inside = got.data >= block.data && got.data + got.count <= block.data + block.size;
            EXPECT_EQ(inside, c.in_place);
        }
        gp_free(&buffer);
        free(block.data);
    }
}

TEST(ZipExtract, ReusesABufferThatIsLargeEnough) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    const std::string small = "small small small small", large(5000, 'q');
    Exact_Block block = exact_copy(cat({deflated("S", small), deflated("L", large)}));
    Gp_Allocation buffer = {};
    String got = find_and_extract_file_from_zip_data(block.data, block.size, (u8*)"L", 1, &buffer);
    ASSERT_EQ(got.count, (s64)large.size());
    u8* memory = buffer.memory;
    got = find_and_extract_file_from_zip_data(block.data, block.size, (u8*)"S", 1, &buffer);
    EXPECT_EQ(std::string((char*)got.data, got.count), small);
    EXPECT_EQ(got.data, memory);
    gp_free(&buffer);
    free(block.data);
}

//~ Reading quarn.data

static std::string executable_directory() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return "";
    std::string s(path, n);
    return s.substr(0, s.rfind('/'));
}

TEST(AssetArchive, ReadsTheBuiltArchiveWithTheFontsInPlace) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    std::string directory = executable_directory();
    ASSERT_TRUE(init_assets(String{(u8*)directory.data(), (s64)directory.size()}));
    ASSERT_GT(pseudo_exe_data.size, 0u) << "quarn.data is missing beside " << directory;

    std::vector<std::string> names;
    Zip_Lister lister = init_zip_lister(pseudo_exe_data.data, pseudo_exe_data.size);
    Zip_Entry e;
    while (zip_lister_get_next_file(&lister, &e)) {
        names.push_back(std::string((char*)e.name.data, e.name.count));
        EXPECT_EQ(e.header->flags & ZIP_HEADER_HAS_NO_SIZE_INFO, 0);
    }
    EXPECT_FALSE(lister.failed);
    EXPECT_EQ(names, (std::vector<std::string>{"UI_FONT", "CODE_FONT", "ICONS"}));

    for (const char* name : {"UI_FONT", "CODE_FONT", "ICONS"}) {
        SCOPED_TRACE(name);
        String font = get_asset(String{(u8*)name, (s64)strlen(name)});
        ASSERT_GT(font.count, 0);
        // In place: the fonts keep pointing into a block that lives as long as the process.
        EXPECT_TRUE(font.data > pseudo_exe_data.data && font.data + font.count <= pseudo_exe_data.data + pseudo_exe_data.size);
    }
}

struct Temporary_Directory {
    char path[4096];
};

static Temporary_Directory make_temporary_directory() {
    Temporary_Directory d;
    std::string made = make_test_directory("assets");
    snprintf(d.path, sizeof(d.path), "%s", made.c_str());
    return d;
}

static void write_file(const std::string& path, const Bytes& b) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(b.data(), 1, b.size(), f);
    fclose(f);
}

TEST(AssetArchive, ReadsAtMostTheBlockOfALargerFile) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Temporary_Directory dir = make_temporary_directory();
    ASSERT_NE(dir.path[0], 0);
    std::string big(PSEUDO_EXE_DATA_MEMORY, 'z');
    Bytes archive = cat({stored("UI_FONT", "first"), stored("BIG", big)});
    std::string path = std::string(dir.path) + "/quarn.data";
    write_file(path, archive);

    ASSERT_TRUE(init_assets(String{(u8*)dir.path, (s64)strlen(dir.path)}));
    EXPECT_EQ(pseudo_exe_data.size, PSEUDO_EXE_DATA_MEMORY);
    EXPECT_EQ(memcmp(pseudo_exe_data.data, archive.data(), PSEUDO_EXE_DATA_MEMORY), 0);
    EXPECT_EQ(std::string((char*)get_asset(STR("UI_FONT")).data, 5), "first");
    EXPECT_EQ(get_asset(STR("BIG")).count, 0);  // its data is cut off by the block's end
    unlink(path.c_str());
    rmdir(dir.path);
}

TEST(AssetArchive, MissingFileGivesAnEmptyArchive) {
    ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
    Temporary_Directory dir = make_temporary_directory();
    ASSERT_NE(dir.path[0], 0);
    ASSERT_TRUE(init_assets(String{(u8*)dir.path, (s64)strlen(dir.path)}));
    EXPECT_EQ(pseudo_exe_data.flag, 1u);
    EXPECT_EQ(pseudo_exe_data.size, 0u);
    EXPECT_EQ(get_asset(STR("UI_FONT")).count, 0);
    rmdir(dir.path);
}
