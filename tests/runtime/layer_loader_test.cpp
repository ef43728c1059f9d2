// Loading the layer: a compiled #on_load that logs and ends the editor, when "custom.8b" is
// reused and when it is compiled again, seeded mutations of an image that must never run,
// and failed compiles and loads that keep the layer and watch what the compile read.
#include <random>

#include "tests/runtime/runtime_test_support.h"
#include "shell/tabs.h"
#include "tests/test_seed.h"
#include "tests/layer_code.h"

namespace {

struct Layer_Loader_Test : Runtime_Test {
    std::string image_path() const { return path(COMPILED_CUSTOM_LAYER_FILENAME); }

    // Writes the log program's image as a compile would, no layer installed.
    std::string make_image() {
        spin_lock(&custom_layer.execution_lock);
        unload_custom_layer();
        spin_unlock(&custom_layer.execution_lock);
        test_compiler.compiles = 0;
        global_flags = SHOULD_RUN;
        test_compiler.program = make_log_program();
        EXPECT_TRUE(write_test_image(test_compiler.program));
        return read_whole_file(image_path());
    }

    std::vector<std::string> watched_names() const {
        std::vector<std::string> names;
        Layer_Source_View v = custom_layer.watched_sources;
        for (u32 i = 0; i < v.count; i++) {
            Layer_Source_Entry* row = (Layer_Source_Entry*)(v.entries + (u64)i * v.stride);
            names.emplace_back((char*)row->name, row->name_length);
        }
        return names;
    }

    std::vector<std::string> default_sources() const { return {path("inject.8"), path("api.8"), path("custom.8")}; }
};

void rehash(std::string* image) {
    u64 hash = layer_image_hash((u8*)image->data(), image->size());
    store_u64((u8*)image->data() + offsetof(Compiled_Layer_Header, image_hash), hash);
}

// The image offset of the first code octet that no foreign-call slot (with its movabs) and
// no relocated pointer covers: changing it leaves only the hash to notice. 0 when there is none.
u64 unchecked_code_octet(const std::string& image) {
    Compiled_Layer_Header h;
    memcpy(&h, image.data(), sizeof(h));
    u8* octets = (u8*)image.data();
    std::vector<std::pair<u64, u64>> checked;  // [first, end) image offsets
    for (u32 i = 0; i < h.foreign_call_slot_count; i++) {
        u64 slot = load_u64(octets + h.foreign_call_slot_offset + 8ull * i);
        checked.push_back({h.code_offset + slot - 2, h.code_offset + slot + 8});
    }
    auto add_relocated = [&](u32 table, u32 count) {
        for (u32 i = 0; i < count; i++) {
            u8* row = octets + table + (u64)i * LAYER_RELOCATION_ROW_SIZE;
            u64 area = row[LAYER_RELOCATION_AREA_OFFSET] == LAYER_AREA_GLOBAL_DATA ? h.global_data_offset
                                                                                   : h.constant_data_offset;
            checked.push_back({area + load_u32(row), area + load_u32(row) + 8});
        }
    };
    add_relocated(h.constant_relocation_offset, h.constant_relocation_count);
    add_relocated(h.global_relocation_offset, h.global_relocation_count);
    for (u64 at = h.code_offset; at < (u64)h.code_offset + h.code_size; at++) {
        bool covered = false;
        for (const auto& span : checked) covered = covered || (at >= span.first && at < span.second);
        if (!covered) return at;
    }
    return 0;
}

std::string string_at(u8* at) {
    String s;
    memcpy(&s, at, sizeof(s));
    return std::string((char*)s.data, s.data ? (size_t)s.count : 0);
}

}  // namespace

TEST_F(Layer_Loader_Test, OnLoadLogsAndEndsTheEditorAfterARebase) {
    SKIP_UNLESS_LAYER_CODE_RUNS();
    test_compiler.program = make_log_program();
    ASSERT_TRUE(compile_custom_layer(1)) << first_compile_error();
    EXPECT_EQ(test_compiler.compiles, 1u);
    EXPECT_NE(log_since_mark().find("Info: Successfully compiled custom layer from 'custom.8'.\nInfo: value: 42\n"),
              std::string::npos)
        << log_since_mark();
    EXPECT_EQ(global_flags & SHOULD_RUN, 0u);

    u8* image = custom_layer.image;
    ASSERT_NE(image, nullptr);
    Compiled_Layer_Header* h = (Compiled_Layer_Header*)image;
    u8* constants = image + h->constant_data_offset;
    u8* globals = image + h->global_data_offset;
    EXPECT_EQ(load_u64(globals + 0), (u64)constants);            // a constant pointer held in globals
    EXPECT_EQ(load_u64(globals + 16), (u64)(constants + 16));    // and another
    EXPECT_EQ(load_u64(constants + 16), (u64)(constants + 8));   // one held in constants
    EXPECT_EQ(load_u64(globals + 56), (u64)globals);              // a global pointing at a global
    EXPECT_EQ(string_at(globals + LOG_PROGRAM_RESULT), "-1,234,567");
    for (u32 i = 0; i < h->foreign_call_slot_count; i++) {
        u64 slot = load_u64(image + h->foreign_call_slot_offset + 8 * i);
        EXPECT_EQ(load_u64(image + h->code_offset + slot), (u64)&handle_foreign_call);
    }
    EXPECT_EQ(watched_names(), default_sources());

    // The next start finds the image current and loads it as it is.
    global_flags = SHOULD_RUN;
    u64 mark = __global_log.used;
    ASSERT_TRUE(compile_custom_layer(1));
    EXPECT_EQ(test_compiler.compiles, 1u);
    std::string log((char*)__global_log.memory + mark, __global_log.used - mark);
    EXPECT_EQ(log, "Info: Loaded custom layer from '" + image_path() + "' without compiling.\nInfo: value: 42\n");
    EXPECT_EQ(global_flags & SHOULD_RUN, 0u);
    EXPECT_NE(custom_layer.image, image) << "the old mapping was kept";

    // Asked to compile, it compiles even so.
    ASSERT_TRUE(compile_custom_layer(0));
    EXPECT_EQ(test_compiler.compiles, 2u);
}

TEST_F(Layer_Loader_Test, ReuseOnlyACurrentImageOfThisEditor) {
    SKIP_UNLESS_LAYER_CODE_RUNS();
    struct Case {
        const char* name;
        void (*change)(Layer_Loader_Test* t, std::string* image);
        u32 compiles;
        const char* refusal;  // why the image itself is refused, as the log says
    };
    static const Case cases[] = {
        {"unchanged", [](Layer_Loader_Test*, std::string*) {}, 0, nullptr},
        {"no image", [](Layer_Loader_Test*, std::string* i) { i->clear(); }, 1, nullptr},
        {"cut inside its header", [](Layer_Loader_Test*, std::string* i) { i->resize(100); }, 1, "shorter than a header"},
        {"one octet short", [](Layer_Loader_Test*, std::string* i) { i->pop_back(); }, 1, "size differs from its tables"},
        {"one octet long", [](Layer_Loader_Test*, std::string* i) { i->push_back(0); }, 1, "size differs from its tables"},
        // The fields below are changed with the hash made to match, so their own check refuses.
        {"wrong magic", [](Layer_Loader_Test*, std::string* i) { (*i)[0] = '9'; rehash(i); }, 1, "wrong magic"},
        {"wrong format", [](Layer_Loader_Test*, std::string* i) { (*i)[4] = 2; rehash(i); }, 1, "wrong format version"},
        {"wrong processor", [](Layer_Loader_Test*, std::string* i) { (*i)[8] = 2; rehash(i); }, 1,
         "made for another processor"},
        {"another patch version", [](Layer_Loader_Test*, std::string* i) { (*i)[14] = 3; rehash(i); }, 1,
         "made by another editor version"},
        {"version octet 15", [](Layer_Loader_Test*, std::string* i) { (*i)[15] = 1; rehash(i); }, 1,
         "made by another editor version"},
        {"an octet of code changed",
         [](Layer_Loader_Test*, std::string* i) {
             u64 at = unchecked_code_octet(*i);
             ASSERT_NE(at, 0u) << "every octet of code is read by another check";
             (*i)[at] ^= 1;
         },
         1, "its octets do not match their hash"},
        {"a source's size changed",
         [](Layer_Loader_Test* t, std::string*) { write_whole_file(t->path("api.8"), "// api, longer\n"); }, 1, nullptr},
        {"a source's seconds changed",
         [](Layer_Loader_Test* t, std::string*) {
             struct stat st;
             stat(t->path("inject.8").c_str(), &st);
             set_modification_time(t->path("inject.8"), st.st_mtim.tv_sec - 7, st.st_mtim.tv_nsec);
         },
         1, nullptr},
        {"a source gone", [](Layer_Loader_Test* t, std::string*) { unlink(t->path("custom.8").c_str()); }, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string image = make_image();
        c.change(this, &image);
        unlink(image_path().c_str());
        if (!image.empty()) write_whole_file(image_path(), image);
        test_compiler.fail = true;  // counted, and no fresh image replaces the one tested
        log_mark = __global_log.used;
        EXPECT_EQ(compile_custom_layer(1), c.compiles == 0);
        EXPECT_EQ(test_compiler.compiles, c.compiles);
        EXPECT_EQ(custom_layer.image != nullptr, c.compiles == 0);
        std::string refused = "Info: The custom layer image '" + image_path() + "' is compiled again: ";
        if (c.refusal) {
            EXPECT_NE(log_since_mark().find(refused + c.refusal + ".\n"), std::string::npos) << log_since_mark();
        } else {
            EXPECT_EQ(log_since_mark().find(refused), std::string::npos) << log_since_mark();
        }
        test_compiler.fail = false;
        write_whole_file(path("custom.8"), "#on_load {}\n");
        write_whole_file(path("api.8"), "// api\n");
    }
}

TEST_F(Layer_Loader_Test, ASymlinkedSourceIsFollowed) {
    SKIP_UNLESS_LAYER_CODE_RUNS();
    write_whole_file(path("a.8"), "#on_load { a(); }\n");
    write_whole_file(path("b.8"), "#on_load { b(); }\n");
    set_modification_time(path("a.8"), 1600000000, 5);
    set_modification_time(path("b.8"), 1600000100, 5);
    unlink(path("custom.8").c_str());
    ASSERT_EQ(symlink(path("a.8").c_str(), path("custom.8").c_str()), 0);
    make_image();
    test_compiler.fail = true;

    ASSERT_TRUE(compile_custom_layer(1));
    EXPECT_EQ(test_compiler.compiles, 0u);
    unlink(path("custom.8").c_str());
    ASSERT_EQ(symlink(path("b.8").c_str(), path("custom.8").c_str()), 0);
    EXPECT_FALSE(compile_custom_layer(1));
    EXPECT_EQ(test_compiler.compiles, 1u);
}

TEST_F(Layer_Loader_Test, MutatedImagesNeverRun) {
    const std::string valid = make_image();
    u32 seed = (u32)test_seed(2718);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937 random(seed);
    test_compiler.fail = true;
    for (u32 round = 0; round < 400; round++) {
        std::string image = valid;
        switch (random() % 4) {
            case 0: image.resize(random() % image.size()); break;
            case 1: image.append(1 + random() % 64, (char)random()); break;
            case 2:  // header and tables: the fields the checks read
                for (u32 n = 1 + random() % 4; n > 0; n--) image[random() % 104] = (char)random();
                break;
            default:
                for (u32 n = 1 + random() % 8; n > 0; n--) image[random() % image.size()] ^= (char)(1 + random() % 255);
                break;
        }
        if (image == valid) continue;
        write_whole_file(image_path(), image);
        global_flags = SHOULD_RUN;
        u64 mark = __global_log.used;
        EXPECT_FALSE(compile_custom_layer(1)) << "round " << round;
        EXPECT_EQ(global_flags & SHOULD_RUN, (u64)SHOULD_RUN) << "round " << round << " ran #on_load";
        EXPECT_EQ(std::string((char*)__global_log.memory + mark, __global_log.used - mark).find("value: 42"),
                  std::string::npos);
        EXPECT_EQ(custom_layer.image, nullptr);
        if (HasFailure()) break;
    }
}

TEST_F(Layer_Loader_Test, AFailedCompileKeepsTheLayerAndWatchesWhatItRead) {
    SKIP_UNLESS_LAYER_CODE_RUNS();
    test_compiler.program = make_log_program();
    ASSERT_TRUE(compile_custom_layer(0));
    u8* installed = custom_layer.image;
    global_flags = SHOULD_RUN;

    // The broken compile also tried a file that does not exist yet: making it must wake the
    // watcher, so it is watched too.
    test_compiler.fail = true;
    test_compiler.program.sources = {path("custom.8"), path("lib.8")};
    EXPECT_FALSE(compile_custom_layer(0));
    EXPECT_EQ(custom_layer.image, installed);
    EXPECT_EQ(first_compile_error(), "The test compile fails.");
    EXPECT_NE(global_flags & DISPLAY_COMPILE_ERRORS, 0u);
    EXPECT_EQ(watched_names(), (std::vector<std::string>{path("custom.8"), path("lib.8"), path("inject.8"), path("api.8")}));
    Layer_Source_Entry* lib = (Layer_Source_Entry*)(custom_layer.watched_sources.entries + 32);
    EXPECT_EQ(lib->size, 0u);
    EXPECT_EQ(lib->modification_time, 0u);
    struct stat st;
    ASSERT_EQ(stat(path("custom.8").c_str(), &st), 0);
    Layer_Source_Entry* custom = (Layer_Source_Entry*)custom_layer.watched_sources.entries;
    EXPECT_EQ(custom->size, (u64)st.st_size);
    EXPECT_EQ(custom->modification_time, (u64)st.st_mtim.tv_sec * 1000000000ull + (u64)st.st_mtim.tv_nsec);

    // Fixed, it loads.
    test_compiler.fail = false;
    test_compiler.program.sources = {};
    EXPECT_TRUE(compile_custom_layer(0));
    EXPECT_NE(custom_layer.image, nullptr);
    EXPECT_EQ(watched_names(), default_sources());
}

TEST_F(Layer_Loader_Test, AFirstFailedCompileStillWatchesTheSources) {
    SKIP_UNLESS_LAYER_CODE_RUNS();
    test_compiler.fail = true;
    EXPECT_FALSE(compile_custom_layer(1));
    EXPECT_EQ(custom_layer.image, nullptr);
    EXPECT_EQ(watched_names(), default_sources());
}

TEST_F(Layer_Loader_Test, ACompileThatLeavesNoNewImageKeepsTheLayer) {
    SKIP_UNLESS_LAYER_CODE_RUNS();
    struct Case {
        const char* name;
        b8 Test_Compiler::* flag;
        const char* reason;
    };
    const Case cases[] = {
        {"the image removed", &Test_Compiler::remove_image, "it is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test_compiler = Test_Compiler{};
        test_compiler.program = make_log_program();
        ASSERT_TRUE(compile_custom_layer(0));
        u8* installed = custom_layer.image;
        compile_errors.count = 0;
        global_flags = SHOULD_RUN;
        u64 mark = __global_log.used;
        test_compiler.program = make_block_program({0xC3}, &Test_Program::on_load);
        test_compiler.*c.flag = true;
        EXPECT_FALSE(compile_custom_layer(0));
        EXPECT_EQ(custom_layer.image, installed);
        EXPECT_EQ(first_compile_error(), "Failed to load '" + image_path() + "'.");
        std::string log((char*)__global_log.memory + mark, __global_log.used - mark);
        EXPECT_NE(log.find("Failed to load '" + image_path() + "': " + c.reason + "."), std::string::npos) << log;
        EXPECT_NE(global_flags & DISPLAY_COMPILE_ERRORS, 0u);
        EXPECT_EQ(watched_names(), default_sources());
    }
}

TEST_F(Layer_Loader_Test, BlocksRunAndFilesAreMarkedOnlyWhenTheImageHasThem) {
    SKIP_UNLESS_LAYER_CODE_RUNS();
    static Editor_File file;
    memset(&file, 0, sizeof(file));
    ASSERT_NE(add_a_tab(TAB_FILE, &file), nullptr);

    test_compiler.program = make_block_program({0xC3}, &Test_Program::events);
    ASSERT_TRUE(compile_custom_layer(0));
    EXPECT_EQ(file.flags & FILE_NEEDS_SYNTAX, 0);
    EXPECT_EQ(get_on_load_block_entry_point(custom_layer.image), nullptr);
    EXPECT_EQ(get_syntax_block_entry_point(custom_layer.image), nullptr);
    EXPECT_NE(get_events_block_entry_point(custom_layer.image), nullptr);
    EXPECT_EQ(get_events_block_entry_point(nullptr), nullptr);

    test_compiler.program = make_block_program({0xC3}, &Test_Program::syntax);
    ASSERT_TRUE(compile_custom_layer(0));
    EXPECT_NE(file.flags & FILE_NEEDS_SYNTAX, 0);
    u8* syntax = get_syntax_block_entry_point(custom_layer.image);
    ASSERT_NE(syntax, nullptr);
    spin_lock(&custom_layer.execution_lock);
    EXPECT_TRUE(amd64_execute(syntax, &file));
    spin_unlock(&custom_layer.execution_lock);
    EXPECT_EQ(custom_layer_execution_file, &file);
}

TEST_F(Layer_Loader_Test, AProcessorWithoutAvxRunsNoLayer) {
    layer_runtime_settings.processor_checked = true;
    layer_runtime_settings.missing_cpu_features = AMD64_LACKS_AVX | AMD64_LACKS_YMM_STATE;
    test_compiler.program = make_log_program();
    EXPECT_FALSE(compile_custom_layer(1));
    EXPECT_EQ(test_compiler.compiles, 0u);
    EXPECT_EQ(first_compile_error(), "The custom layer cannot run on this processor: it lacks AVX and YMM state.");
    EXPECT_NE(global_flags & DISPLAY_COMPILE_ERRORS, 0u);
    EXPECT_EQ(global_flags & SHOULD_RUN, (u64)SHOULD_RUN);
}
