// The image writer: where each part lands, the RIP-relative distances and slots it fixes,
// the source rows, the images it refuses to write, and files it fails to write, which keep
// the image that was there.
#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/runtime/runtime_test_support.h"

namespace {

using Layer_Image_Test = Runtime_Test;

Compiled_Layer_Header header_of(const std::string& image) {
    Compiled_Layer_Header h = {};
    if (image.size() >= sizeof(h)) memcpy(&h, image.data(), sizeof(h));
    return h;
}

std::vector<std::string> directory_entries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* d = opendir(directory.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    return names;
}

// The user nobody, whom permission checks bind as they do not bind root.
const uid_t UNPRIVILEGED_ID = 65534;

}  // namespace

TEST_F(Layer_Image_Test, PartsLandWhereTheLayoutPutsThem) {
    struct Case {
        const char* name;
        u32 constants, globals, code;
        u32 global_offset, code_offset;
    };
    static const Case cases[] = {
        {"nothing but a return", 0, 0, 1, 128, 128},
        {"one octet of constants", 1, 0, 1, 160, 160},
        {"three octets of globals after them: code is not aligned", 1, 3, 1, 160, 163},
        {"constants filling their last 32", 32, 5, 4, 160, 165},
        {"constants one past", 33, 0, 2, 192, 192},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_Program p;
        p.constants.assign(c.constants, 0xC1);
        p.globals.assign(c.globals, 0x61);
        p.code.assign(c.code, 0xC3);
        p.on_load = 0;
        ASSERT_TRUE(write_test_image(p)) << first_compile_error();
        std::string image = read_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME));
        ASSERT_EQ(image.size(), compiler_output_memory.used);
        EXPECT_EQ(memcmp(image.data(), compiler_output_memory.memory, image.size()), 0);
        Compiled_Layer_Header h = header_of(image);
        EXPECT_EQ(h.magic, OUTPUT_MAGIC_ID);
        EXPECT_EQ(memcmp(image.data(), "8888", 4), 0);
        EXPECT_EQ(h.format_version, 1u);
        EXPECT_EQ(h.cpu, 1u);
        EXPECT_EQ(memcmp(h.editor_version, "\x00\x03\x02\x00", 4), 0);
        EXPECT_EQ(h.constant, 0x200000u);
        EXPECT_EQ(h.constant_data_offset, 128u);
        EXPECT_EQ(h.global_data_offset, c.global_offset);
        EXPECT_EQ(h.code_offset, c.code_offset);
        EXPECT_EQ(h.on_load_entry, c.code_offset);
        EXPECT_EQ(h.flags, LAYER_IMAGE_HAS_ON_LOAD);
        EXPECT_EQ(image.substr(128, c.constants), std::string(c.constants, '\xC1'));
        EXPECT_EQ(image.substr(c.global_offset, c.globals), std::string(c.globals, '\x61'));
        EXPECT_EQ(image.substr(c.code_offset, c.code), std::string(c.code, '\xC3'));
        EXPECT_EQ(check_layer_image((u8*)image.data(), image.size()), nullptr);
    }
}

TEST_F(Layer_Image_Test, DataReferencesBecomeDistancesAndSlotsNameTheirImmediates) {
    Test_Program p;
    p.constants.assign(0x180, 0);  // the code then starts at 0x200
    p.globals.clear();
    Test_Code c = begin_code();
    emit_bytes(&c, std::vector<u8>(0x10, 0x90));
    // lea rax, [rip + constant 8] at code offset 0x10, 7 octets
    amd64_emit_reg_rm(&c.code, &c.data_relocations, 0, AMD64_REX_W, 0x8D, amd64_gp_register(AMD64_RAX),
                      amd64_make_rip_relative_operand(AMD64_OPERAND_CONSTANT_DATA, 8), 0);
    u32 first_call = code_offset(&c);
    emit_foreign_call(&c, ROUTINE_LOG, 0, 0);
    u32 second_call = code_offset(&c);
    emit_foreign_call(&c, ROUTINE_INT_TO_STRING, 0, 0);
    emit_bytes(&c, {0xC3});
    end_code(&c, &p);
    p.events = 0;
    p.on_load = 0x10;
    ASSERT_TRUE(write_test_image(p)) << first_compile_error();

    std::string image = read_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME));
    Compiled_Layer_Header h = header_of(image);
    ASSERT_EQ(h.code_offset, 0x200u);
    EXPECT_EQ((s32)load_u32((u8*)image.data() + 0x200 + 0x13), (s32)(8 - (0x200 + 0x10 + 7 - 128)));
    ASSERT_EQ(h.foreign_call_slot_count, 2u);
    // Each names the first octet of the immediate of the movabs that follows mov rsi, id.
    EXPECT_EQ(load_u64((u8*)image.data() + h.foreign_call_slot_offset), first_call + 7 + 2u);
    EXPECT_EQ(load_u64((u8*)image.data() + h.foreign_call_slot_offset + 8), second_call + 7 + 2u);
    // No #syntax: its flag is clear, whatever its field holds.
    EXPECT_EQ(h.flags, LAYER_IMAGE_HAS_EVENTS | LAYER_IMAGE_HAS_ON_LOAD);
    EXPECT_EQ(h.events_entry, 0x200u);
    EXPECT_EQ(h.on_load_entry, 0x210u);
}

TEST_F(Layer_Image_Test, SourceRowsHoldWhatTheCompileSaw) {
    write_whole_file(path("seen.8"), "seen");
    write_whole_file(path("unseen.8"), "twelve bytes");
    set_modification_time(path("unseen.8"), 1700000000, 123456789);
    // The compile read seen.8 before it changed: its row keeps what was read.
    record_layer_source((u8*)path("seen.8").data(), path("seen.8").size(), true, 3, 42);
    Test_Program p;
    p.code = {0xC3};
    p.on_load = 0;
    p.sources = {path("seen.8"), path("unseen.8"), path("missing.8")};
    ASSERT_TRUE(write_test_image(p)) << first_compile_error();

    std::string image = read_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME));
    Compiled_Layer_Header h = header_of(image);
    ASSERT_EQ(h.source_count, 3u);
    EXPECT_EQ(h.source_table_offset + 3 * sizeof(Layer_Source_Entry), image.size());
    struct Row {
        std::string name;
        u64 size, time;
    };
    const Row expected[] = {
        {path("seen.8"), 3, 42},
        {path("unseen.8"), 12, 1700000000ull * 1000000000ull + 123456789ull},
        {path("missing.8"), 0, 0},
    };
    for (u32 i = 0; i < 3; i++) {
        SCOPED_TRACE(expected[i].name);
        Layer_Source_Entry row;
        memcpy(&row, image.data() + h.source_table_offset + i * sizeof(row), sizeof(row));
        EXPECT_EQ(image.substr(row.name, row.name_length), expected[i].name);
        EXPECT_EQ(row.size, expected[i].size);
        EXPECT_EQ(row.modification_time, expected[i].time);
    }
}

TEST_F(Layer_Image_Test, PartsThatMakeNoRunnableImageAreNotWritten) {
    write_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME), "the old image");
    struct Case {
        const char* name;
        void (*spoil)(Test_Program*);
        const char* message;
    };
    static const Case cases[] = {
        {"a slot past the code", [](Test_Program* p) { p->slots = {p->code.size() - 4}; },
         "Internal compiler error: the compiled layer cannot be laid out (a foreign-call slot lies outside the code)."},
        {"a slot that is no movabs", [](Test_Program* p) { p->slots = {0}; },
         "Internal compiler error: the compiled layer cannot be laid out (a foreign-call slot lies outside the code)."},
        {"a slot inside other code", [](Test_Program* p) { p->slots = {3}; },
         "Internal compiler error: the compiled layer cannot be laid out (a foreign-call slot names no movabs)."},
        {"a relocation of type data", [](Test_Program* p) { p->constant_relocations = {{2, 0, 0}}; },
         "Internal compiler error: the compiled layer cannot be laid out (a relocation names no area it may)."},
        {"a global relocation held in constants", [](Test_Program* p) { p->global_relocations = {{1, 0, 0}}; },
         "Internal compiler error: the compiled layer cannot be laid out (a relocation names no area it may)."},
        {"a pointer past its area", [](Test_Program* p) { p->constant_relocations = {{1, 12, 0}}; },
         "Internal compiler error: the compiled layer cannot be laid out (a relocation lies outside its area)."},
        {"an entry past the code", [](Test_Program* p) { p->syntax = (u32)p->code.size(); },
         "Internal compiler error: the compiled layer cannot be laid out (entry outside the code)."},
        {"a data reference past the code", [](Test_Program* p) { p->data_relocations = {{0, 20, 7, 1}}; },
         "Internal compiler error: the compiled layer cannot be laid out (a data reference lies outside the code)."},
        {"constant data larger than any image", [](Test_Program* p) { p->constants.assign(11u << 20, 0); },
         "The compiler ran out of memory for the compiled image."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Test_Program p;
        p.constants.assign(16, 0);
        p.code = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xC3};
        p.on_load = 0;
        p.slots = {2};
        c.spoil(&p);
        EXPECT_FALSE(write_test_image(p));
        EXPECT_EQ(first_compile_error(), c.message);
        EXPECT_EQ(read_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME)), "the old image");
    }
    EXPECT_EQ(directory_entries(directory).size(), 4u);  // the three sources and the old image
}

TEST_F(Layer_Image_Test, AFailedWriteKeepsTheOldImage) {
    Test_Program p = make_log_program();
    ASSERT_TRUE(write_test_image(p));
    std::string old_image = read_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME));
    std::string expected_message = "Failed to write '" + path(COMPILED_CUSTOM_LAYER_FILENAME) + "'.";
    p.globals.assign(4096, 7);  // a different, larger image

    // A file size limit below the image: the write fails instead of ending the process.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    b8 written = write_test_image(p);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(written);
    EXPECT_EQ(first_compile_error(), expected_message);
    EXPECT_EQ(read_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME)), old_image);
    EXPECT_EQ(directory_entries(directory).size(), 4u) << "a temporary file was left behind";
    EXPECT_NE(log_since_mark().find("Failed to compile from 'custom.8'. Writing '" +
                                    path(COMPILED_CUSTOM_LAYER_FILENAME) + "' failed while writing: File too large."),
              std::string::npos);

    // A folder the editor may not write to, as a user that permission checks bind.
    ASSERT_EQ(chmod(directory.c_str(), 0555), 0);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(UNPRIVILEGED_ID) != 0 || setuid(UNPRIVILEGED_ID) != 0)) {
            _exit(2);
        }
        b8 refused = !write_test_image(p) && first_compile_error() == expected_message;
        _exit(refused ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(directory.c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "root could not become the unprivileged user";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write into a read-only folder was not refused as it should be";
    EXPECT_EQ(read_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME)), old_image);
    EXPECT_EQ(directory_entries(directory).size(), 4u);
}

TEST_F(Layer_Image_Test, ImagesThatBreakTheirLayoutAreRefused) {
    ASSERT_TRUE(write_test_image(make_log_program()));
    const std::string valid = read_whole_file(path(COMPILED_CUSTOM_LAYER_FILENAME));
    const Compiled_Layer_Header h = header_of(valid);
    ASSERT_GT(h.constant_relocation_count, 1u);
    ASSERT_GT(h.global_relocation_count, 0u);
    ASSERT_GT(h.foreign_call_slot_count, 0u);
    ASSERT_EQ(check_layer_image((u8*)valid.data(), valid.size()), nullptr);

    struct Case {
        const char* name;
        u32 offset;  // of a u32 field set to value, or of an octet when octet is set
        u32 value;
        b8 octet;
        const char* reason;
    };
    const u32 constant_row = h.constant_relocation_offset;
    const u32 global_row = h.global_relocation_offset;
    const u32 source_row = h.source_table_offset;
#define FIELD(f) (u32)offsetof(Compiled_Layer_Header, f)
    const Case cases[] = {
        {"the fixed constant", FIELD(constant), 0x100000, false, "bad fixed fields"},
        {"an octet after the flags", FIELD(flags) + 1, 1, true, "bad fixed fields"},
        {"an unknown block flag", FIELD(flags), (u32)(0x80 | h.flags), true, "unknown block flags"},
        {"constant data elsewhere", FIELD(constant_data_offset), 160, false, "constant data misplaced"},
        {"constant data larger", FIELD(constant_data_size), h.constant_data_size + 32, false, "global data misplaced"},
        {"global data larger", FIELD(global_data_size), h.global_data_size + 1, false, "code misplaced"},
        {"code larger", FIELD(code_size), h.code_size + 1, false, "foreign-call slots misplaced"},
        {"one slot more", FIELD(foreign_call_slot_count), h.foreign_call_slot_count + 1, false,
         "constant relocations misplaced"},
        {"all the relocations there are", FIELD(constant_relocation_count), 0xFFFFFFFFu, false,
         "global relocations misplaced"},
        {"global relocations from the start", FIELD(global_relocation_offset), 0, false, "global relocations misplaced"},
        {"the source table inside the relocations", FIELD(source_table_offset), global_row, false,
         "source names misplaced"},
        {"one source more", FIELD(source_count), h.source_count + 1, false, "size differs from its tables"},
        {"#on_load where no code is", FIELD(on_load_entry), h.foreign_call_slot_offset, false, "entry outside the code"},
        {"a slot at the code's end", h.foreign_call_slot_offset, h.code_size - 4, false,
         "a foreign-call slot lies outside the code"},
        {"a slot far away", h.foreign_call_slot_offset + 4, 1, false, "a foreign-call slot lies outside the code"},
        {"a slot on a return", h.foreign_call_slot_offset, h.code_size - 9, false, "a foreign-call slot names no movabs"},
        {"a relocation of type data", constant_row + 32, 2, true, "a relocation names no area it may"},
        {"a global relocation held in constants", global_row + 32, 1, true, "a relocation names no area it may"},
        {"a relocation past its area", constant_row, h.global_data_size - 7, false, "a relocation lies outside its area"},
        {"a relocation far away", constant_row, 0xFFFFFFFFu, false, "a relocation lies outside its area"},
        {"a pointer past its target area", h.global_data_offset, h.constant_data_size + 1, false,
         "a relocation points outside its area"},
        {"a source name in the header", source_row, 16, false, "a source name lies outside the names"},
        {"a source name into the table", source_row + 8, 4000, false, "a source name lies outside the names"},
        {"a source name of no length", source_row + 8, 0, false, "a source name lies outside the names"},
    };
#undef FIELD
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string image = valid;
        if (c.octet) image[c.offset] = (char)c.value;
        else store_u32((u8*)image.data() + c.offset, c.value);
        store_u64((u8*)image.data() + offsetof(Compiled_Layer_Header, image_hash),
                  layer_image_hash((u8*)image.data(), image.size()));
        const char* reason = check_layer_image((u8*)image.data(), image.size());
        EXPECT_STREQ(reason, c.reason);
    }
    std::string image = valid;
    image[offsetof(Compiled_Layer_Header, image_hash)] ^= 1;
    EXPECT_STREQ(check_layer_image((u8*)image.data(), image.size()), "its octets do not match their hash");
}
