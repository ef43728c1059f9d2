#include <fcntl.h>
#include <gtest/gtest.h>
#include <lz4.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <thread>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/process_test_support.h"
#include "tests/updater/updater_test_support.h"
#include "tests/waiting.h"
#include "tests/test_seed.h"

static std::string message_of(const Update_Report& report) {
    return std::string((const char*)report.message.data, (size_t)report.message.count);
}

// Checks and decodes everything from exactly sized copies; returns the failure message,
// "ok" when every file decoded to its entry's size.
static std::string check_and_decode(const Bytes& data, Update_Report* report_out = nullptr,
                                    std::vector<Bytes>* files = nullptr) {
    std::unique_ptr<u8[]> exact(new u8[data.size() + 1]);
    memcpy(exact.get(), data.data(), data.size());
    Update_Report report = {};
    Update_Plan plan;
    bool ok = check_update_data(exact.get(), data.size(), &plan, &report, true);
    for (u32 i = 0; ok && files && i < plan.file_count; i++) {
        String content = plan.files[i].content;
        files->push_back(Bytes(content.data, content.data + content.count));
    }
    free_update_plan(&plan);
    if (report_out) *report_out = report;
    EXPECT_EQ(ok, !report.failed);
    return ok ? "ok" : message_of(report);
}

TEST(UpdateData, CraftedDataGivesEachMessage) {
    Bytes hello = text_bytes("hello, world");
    Bytes good_lz = lz_block_of(hello);
    Bytes lying_lz = good_lz;
    put_u32(&lying_lz, 4, 40);  // claims more than its three words give
    Bytes short_lz4 = lz4_block_of(Bytes(100, 'a'));
    Bytes corrupt_lz4 = short_lz4;
    corrupt_lz4[2] = 0xFF;  // the first match's offset now reaches before the output
    corrupt_lz4[3] = 0xFF;

    std::vector<Crafted_File> thirty_three;
    for (int i = 0; i < 33; i++) thirty_three.push_back({"readme.txt", hello, (u32)hello.size()});

    Bytes magic = craft_update_data(0, {});
    magic[0] = 'X';
    Bytes format_2 = craft_update_data(2, {});
    Bytes header_cut = craft_update_data(1, {});
    header_cut.resize(20);
    Bytes name_table_past_end = craft_update_data(0, {});
    put_u32(&name_table_past_end, 20, 1);
    put_u32(&name_table_past_end, 16, 0);
    Bytes entry_past_end = craft_update_data(1, {{"readme.txt", hello, (u32)hello.size()}, {"license.txt", hello, (u32)hello.size()}});
    entry_past_end.pop_back();
    Bytes lying_before_past_end = craft_update_data(0, {{"api.8", lying_lz, 40}, {"readme.txt", good_lz, (u32)hello.size()}});
    lying_before_past_end.pop_back();
    Bytes name_past_end = craft_update_data(1, {{"readme.txt", hello, (u32)hello.size()}});
    put_u32(&name_past_end, 24, 0xFFFFFFF8);  // the sum wraps in 32 bits

    struct Case {
        const char* name;
        Bytes data;
        std::string message;
        u32 format_version;
        u8 release_minor;
    };
    const Case cases[] = {
        {"7 bytes", Bytes(7, 0), UPDATE_MESSAGE_TOO_SMALL, 0, 0},
        {"bad magic", magic, UPDATE_MESSAGE_BAD_MAGIC, 0, 0},
        {"format 2", format_2, UPDATE_MESSAGE_BAD_FORMAT, 2, 0},
        {"header cut short", header_cut, UPDATE_MESSAGE_TOO_SMALL, 1, 0},
        {"33 files", craft_update_data(1, thirty_three), "", 1, 3},
        {"name table past the end", name_table_past_end, UPDATE_MESSAGE_BAD_ADDRESS, 0, 3},
        {"an entry past the end", entry_past_end, UPDATE_MESSAGE_BAD_ADDRESS, 1, 3},
        {"a name past the end", name_past_end, UPDATE_MESSAGE_BAD_ADDRESS, 1, 3},
        {"a path as name", craft_update_data(1, {{"../quarn", hello, (u32)hello.size()}}), UPDATE_MESSAGE_BAD_NAME, 1, 3},
        {"a name off the release list", craft_update_data(1, {{"updater", hello, (u32)hello.size()}}), UPDATE_MESSAGE_BAD_NAME, 1, 3},
        {"an empty name", craft_update_data(1, {{"", hello, (u32)hello.size()}}), UPDATE_MESSAGE_BAD_NAME, 1, 3},
        {"a name twice", craft_update_data(1, {{"quarn", hello, 12}, {"quarn", hello, 12}}), UPDATE_MESSAGE_BAD_NAME, 1, 3},
        {"stored above uncompressed", craft_update_data(1, {{"api.8", hello, 11}}), UPDATE_MESSAGE_STORED_TOO_BIG, 1, 3},
        {"a size above the cap", craft_update_data(1, {{"api.8", short_lz4, UPDATE_MAX_FILE_SIZE + 1}}), UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE, 1, 3},
        {"a lying LZ block", craft_update_data(0, {{"api.8", lying_lz, 40}}), UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE, 0, 3},
        {"a lying LZ block before an entry past the end", lying_before_past_end, UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE, 0, 3},
        {"an LZ block of another size", craft_update_data(0, {{"api.8", good_lz, 11}}), UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE, 0, 3},
        {"a corrupt LZ4 block", craft_update_data(1, {{"api.8", corrupt_lz4, 100}}), UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE, 1, 3},
        {"an LZ4 block of another size", craft_update_data(1, {{"api.8", short_lz4, 99}}), UPDATE_MESSAGE_BAD_UNCOMPRESSED_SIZE, 1, 3},
        {"no files", craft_update_data(0, {}), "ok", 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Update_Report report;
        EXPECT_EQ(check_and_decode(c.data, &report), c.message);
        EXPECT_EQ(report.format_version, c.format_version);
        EXPECT_EQ(report.release_version.minor, c.release_minor);
    }
}

TEST(UpdateData, StoredFilesDecode) {
    Bytes text = text_bytes("int main() { return 0; }\nint main() { return 0; }\n");
    Bytes empty;
    std::vector<Bytes> files;
    struct Case {
        const char* name;
        u32 format;
        Bytes stored;
        Bytes expected;
    };
    const Case cases[] = {
        {"raw", 1, text, text},
        {"LZ4", 1, lz4_block_of(text), text},
        {"own LZ", 0, lz_block_of(text), text},
        {"empty raw", 1, empty, empty},
        {"empty own LZ", 0, lz_block_of(empty), empty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        files.clear();
        ASSERT_EQ(check_and_decode(craft_update_data(c.format, {{"api.8", c.stored, (u32)c.expected.size()}}), nullptr, &files), "ok");
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0], c.expected);
    }
}

TEST(UpdateData, ReleaseFileModes) {
    struct Case { const char* name; u32 mode; };
    static const Case cases[] = {{"quarn", 0755}, {"_updater", 0755}, {"quarn.exe", 0644}, {"api.8", 0644}, {"changelog.txt", 0644}};
    for (const Case& c : cases) EXPECT_EQ(release_file_mode(String{(u8*)c.name, (s64)strlen(c.name)}), c.mode) << c.name;
}

// Mutations of good update data of both formats, checked and decoded from exactly sized
// buffers: the checks and decoders must hold whatever the numbers say.
TEST(UpdateData, ChecksSurviveMutatedData) {
    u32 seed = (u32)test_seed(99);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    Bytes text = text_bytes("#load_file \"api.8\";\nx := 1;\nx := 1;\nx := 1;\n");
    Bytes noise(300);
    for (u8& b : noise) b = (u8)random();
    const Bytes seeds[] = {
        craft_update_data(0, {{"api.8", lz_block_of(text), (u32)text.size()}, {"quarn", lz_block_of(noise), 300}}),
        craft_update_data(1, {{"api.8", lz4_block_of(text), (u32)text.size()}, {"quarn", noise, 300}}),
    };
    for (int round = 0; round < 20000; round++) {
        Bytes data = seeds[random() % 2];
        u32 edits = 1 + random() % 3;
        for (u32 e = 0; e < edits && !data.empty(); e++) {
            size_t at = random() % 3 == 0 ? random() % std::min<size_t>(data.size(), 120) : random() % data.size();
            switch (random() % 3) {
                case 0: data[at] ^= (u8)(1 << (random() % 8)); break;
                case 1: data[at] = (u8)random(); break;
                case 2: data.resize(random() % (data.size() + 1)); break;
            }
        }
        check_and_decode(data);
    }
}

//~ Packing

struct Release_Fixture : testing::Test {
    std::string directory;
    std::string release;
    void SetUp() override {
        directory = make_scratch_directory("quarn-pack");
        ASSERT_FALSE(directory.empty());
        release = directory + "/release";
        mkdir(release.c_str(), 0755);
    }
    void TearDown() override { remove_scratch_directory(directory); }
    void write(const std::string& name, const Bytes& content) { write_file_bytes(release + "/" + name, content); }
    bool pack(u32 format, const std::string& output, u32* left_out) {
        return pack_update(String{(u8*)output.data(), (s64)output.size()}, String{(u8*)release.data(), (s64)release.size()},
                           format, left_out);
    }
};

TEST_F(Release_Fixture, PackedReleaseDecodesToItsFiles) {
    u32 seed = (u32)test_seed(5);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    Bytes program(3 * 1024 * 1024 + 5);  // larger than any small fixed assembly buffer
    for (size_t i = 0; i < program.size(); i++) program[i] = (u8)(i % 4096 < 2048 ? random() : i / 4096);
    Bytes noise(70000);
    for (u8& b : noise) b = (u8)random();
    Bytes changelog = text_bytes("Quarn 0.3.2\n- faster search\n- faster search\n");
    write("quarn", program);
    write("_updater", program);
    write("api.8", noise);
    write("changelog.txt", changelog);
    write("license.txt", Bytes());
    write("elsewhere.txt", text_bytes("the readme through a link"));
    ASSERT_EQ(symlink((release + "/elsewhere.txt").c_str(), (release + "/readme.txt").c_str()), 0);

    const std::vector<std::pair<std::string, Bytes>> expected = {
        {"quarn", program}, {"_updater", program}, {"api.8", noise}, {"readme.txt", text_bytes("the readme through a link")},
        {"changelog.txt", changelog}, {"license.txt", Bytes()},
    };
    for (u32 format : {0u, 1u}) {
        SCOPED_TRACE(format);
        std::string output = directory + "/update" + std::to_string(format) + ".bin";
        u32 left_out = 0;
        ASSERT_TRUE(pack(format, output, &left_out));
        u32 missing = 0;
        for (u32 i = 0; i < RELEASE_FILE_COUNT; i++) {
            std::string name = release_file_names[i];
            bool present = false;
            for (auto& e : expected) present |= e.first == name;
            if (!present) missing |= 1u << i;
        }
        EXPECT_EQ(left_out, missing);

        Bytes data = read_file_bytes(output);
        std::unique_ptr<u8[]> exact(new u8[data.size()]);
        memcpy(exact.get(), data.data(), data.size());
        Update_Plan plan;
        Update_Report report = {};
        ASSERT_TRUE(check_update_data(exact.get(), data.size(), &plan, &report, false)) << message_of(report);
        EXPECT_EQ(plan.format_version, format);
        EXPECT_EQ(report.release_version.major, EDITOR_VERSION.major);
        EXPECT_EQ(report.release_version.minor, EDITOR_VERSION.minor);
        EXPECT_EQ(report.release_version.patch, EDITOR_VERSION.patch);
        ASSERT_EQ(plan.file_count, expected.size());
        Gp_Allocation buffer = {};
        for (u32 i = 0; i < plan.file_count; i++) {
            SCOPED_TRACE(expected[i].first);
            EXPECT_EQ(std::string((const char*)plan.files[i].name.data, (size_t)plan.files[i].name.count), expected[i].first);
            String content;
            ASSERT_TRUE(decode_update_file(&plan, i, &buffer, &content, &report));
            EXPECT_TRUE(Bytes(content.data, content.data + content.count) == expected[i].second);
        }
        gp_free(&buffer);
        // Format 1 keeps incompressible data as it is.
        if (format == 1) {
            EXPECT_EQ(plan.files[2].stored_size, plan.files[2].uncompressed_size);
        } else {
            EXPECT_LT(plan.files[0].stored_size, program.size());
        }
    }
}

TEST_F(Release_Fixture, PackingFailsWithoutWritingTheOutput) {
    write("changelog.txt", text_bytes("x"));
    mkdir((release + "/api.8").c_str(), 0755);  // a directory where a file belongs
    std::string output = directory + "/update.bin";
    EXPECT_FALSE(pack(1, output, nullptr));
    EXPECT_NE(access(output.c_str(), F_OK), 0);

    rmdir((release + "/api.8").c_str());
    // A file the updater would refuse to install (sparse, so it costs no disk).
    write("api.8", Bytes());
    ASSERT_EQ(truncate((release + "/api.8").c_str(), (off_t)UPDATE_MAX_FILE_SIZE + 1), 0);
    EXPECT_FALSE(pack(1, output, nullptr));
    EXPECT_NE(access(output.c_str(), F_OK), 0);
    unlink((release + "/api.8").c_str());

    EXPECT_FALSE(pack(1, directory + "/missing/update.bin", nullptr));
    EXPECT_FALSE(pack(2, output, nullptr));
    EXPECT_TRUE(pack(0, output, nullptr));
}

// A release directory that is not there, or holds nothing to pack, gives no update; a FIFO
// among the release names is refused without waiting for a writer.
TEST_F(Release_Fixture, PackingRefusesWhatIsNoRelease) {
    std::string output = directory + "/update.bin";
    struct Case {
        const char* name;
        std::string source;
        bool make_fifo;
    };
    write_file_bytes(directory + "/plain_file", text_bytes("not a directory"));
    mkdir((directory + "/empty").c_str(), 0755);
    write_file_bytes(directory + "/empty/notes.txt", text_bytes("not a release file"));
    const Case cases[] = {
        {"missing directory", directory + "/nowhere", false},
        {"a file for a directory", directory + "/plain_file", false},
        {"no release file in it", directory + "/empty", false},
        {"a FIFO for a release file", release, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.make_fifo) {
            write("changelog.txt", text_bytes("x"));
            ASSERT_EQ(mkfifo((release + "/api.8").c_str(), 0600), 0);
        }
        std::atomic<bool> done{false};
        b8 packed = true;
        std::thread packer([&] {
            tmp_claim_slot();
            packed = pack_update(String{(u8*)output.data(), (s64)output.size()},
                                 String{(u8*)c.source.data(), (s64)c.source.size()}, 1, nullptr);
            done = true;
        });
        wait_for_condition([&] { return done.load(); });
        if (!done.load()) {
            // Let the blocked open go on, so the test can end.
            int writer = open((release + "/api.8").c_str(), O_WRONLY | O_NONBLOCK);
            ADD_FAILURE() << "packing waited on a FIFO";
            packer.join();
            if (writer >= 0) close(writer);
        } else {
            packer.join();
        }
        EXPECT_FALSE(packed);
        EXPECT_NE(access(output.c_str(), F_OK), 0);
    }

    // The tool says why and fails.
    std::string said = directory + "/said";
    std::string command = shell_word(QUARN_PACK_TOOL) + " " + shell_word(output) + " " + shell_word(directory + "/nowhere") +
                          " 1 > " + shell_word(said) + " 2>&1";
    int status = system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    Bytes said_bytes = read_file_bytes(said);
    std::string text(said_bytes.begin(), said_bytes.end());
    EXPECT_NE(text.find("missing or not a directory"), std::string::npos) << text;
}
