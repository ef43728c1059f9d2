// The shipped inject.8 and api.8 through the real compiler: the probe layer calls every
// routine once with arguments that say where they belong, and its #on_load runs against a
// dispatcher that records each call's id and parameter block and writes a result the probe
// hands back later.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "compiler/pipeline/compile_pipeline.h"
#include "foundation/log.h"
#include "foundation/os_files.h"
#include "runtime/runtime.h"
#include "shell/startup.h"
#include "tests/scratch.h"
#include "tests/test_files.h"

namespace {

struct Layer_Environment : ::testing::Environment {
    void SetUp() override {
        ASSERT_TRUE(init_memory(PROGRAM_EDITOR));
        ASSERT_TRUE(init_compiler(STR("/nonexistent")));
        ASSERT_TRUE(init_logging());
        static std::string logs = test_scratch_root() + "/logs";
        set_log_directory(String{(u8*)logs.data(), (s64)logs.size()});
        setup_foreign_routines_table();
        connect_parser_routines();
        install_shell_actions();
    }
};
::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new Layer_Environment);

//~ What a block holds

enum Field_Kind : u8 { U8, U16, U32, S64, F32, TEXT, TEXTS, ADDRESS, COUNT, HINT };

// One field of a parameter block: its offset, kind and expected value (a number, or text
// with '|' between the elements of an array of texts).
struct Field {
    u32 offset;
    Field_Kind kind;
    f64 number;
    const char* text;
};

Field n(u32 offset, Field_Kind kind, f64 number) { return Field{offset, kind, number, nullptr}; }
Field t(u32 offset, const char* text) { return Field{offset, TEXT, 0, text}; }
Field ts(u32 offset, const char* texts) { return Field{offset, TEXTS, 0, texts}; }
Field a(u32 offset) { return Field{offset, ADDRESS, 0, nullptr}; }
// The first row of an array of hints: extensions; line comment; block start; block end; quote bits.
Field h(u32 offset, const char* row) { return Field{offset, HINT, 0, row}; }

u32 field_size(Field_Kind kind) {
    static const u32 sizes[] = {1, 2, 4, 8, 4, 16, 16, 8, 8, 16};
    return sizes[kind];
}

u16 load_u16(const u8* at) {
    u16 v;
    memcpy(&v, at, 2);
    return v;
}

std::string text_at(const u8* at) {
    String s;
    memcpy(&s, at, sizeof(s));
    return s.count > 0 && s.data ? std::string((char*)s.data, (size_t)s.count) : std::string();
}

std::string texts_at(const u8* at) {
    String* data;
    s64 count;
    memcpy(&data, at, 8);
    memcpy(&count, at + 8, 8);
    if (count < 0 || count > 16 || (count && (u64)data < 4096)) {
        return "bad array " + std::to_string((u64)data) + " " + std::to_string(count);
    }
    std::string joined;
    for (s64 i = 0; i < count; i++) joined += (i ? "|" : "") + std::string((char*)data[i].data, (size_t)data[i].count);
    return joined;
}

// What a field holds, in the form the table gives it.
std::string describe(const u8* block, const Field& f) {
    const u8* at = block + f.offset;
    switch (f.kind) {
        case U8: return std::to_string(at[0]);
        case U16: return std::to_string(load_u16((const u8*)at));
        case U32: return std::to_string(load_u32((u8*)at));
        case S64: case COUNT: return std::to_string((s64)load_u64((u8*)at));
        case F32: {
            f32 v;
            memcpy(&v, at, 4);
            return std::to_string(v);
        }
        case TEXT: return text_at(at);
        case TEXTS: return texts_at(at);
        case ADDRESS: return load_u64((u8*)at) ? "an address" : "null";
        case HINT: {
            const u8* row = (const u8*)load_u64((u8*)at);
            if (!row || load_u64((u8*)at + 8) < 1) return "no hint";
            return texts_at(row) + ";" + text_at(row + 16) + ";" + text_at(row + 32) + ";" + text_at(row + 48) + ";" +
                   std::to_string(load_u16(row + 64));
        }
    }
    return "";
}

std::string expected(const Field& f) {
    switch (f.kind) {
        case U8: case U16: case U32: case S64: case COUNT: return std::to_string((s64)f.number);
        case F32: return std::to_string((f32)f.number);
        case TEXT: case TEXTS: case HINT: return f.text;
        case ADDRESS: return "an address";
    }
    return "";
}

//~ The recording dispatcher

// A call the probe makes, in order: the routine, the fields it should find, and the place
// and kind of the result the recorder writes.
struct Expected_Call {
    u64 id;
    std::vector<Field> fields;
    Field_Kind result = ADDRESS;  // ADDRESS: none
    u32 result_offset = 0;
};

// What arrived: the id and each expected field as found, read while the block lives.
struct Recorded_Call {
    u64 id;
    std::vector<std::string> found;
    std::vector<u64> addresses;  // per field: the address an address field holds, else 0
};

std::vector<Expected_Call> expected_calls;
std::vector<Recorded_Call> recorded;
std::vector<std::string> result_texts;  // by id, kept alive for the probe
std::vector<String> result_array;

u64 result_number(u64 id) { return id * 1000 + 900; }

void record_call(u8* block, u64 id) {
    Recorded_Call call = {id, {}, {}};
    size_t index = recorded.size();
    const Expected_Call* e = index < expected_calls.size() ? &expected_calls[index] : nullptr;
    if (e && e->id == id && block) {
        for (const Field& f : e->fields) call.found.push_back(describe(block, f));
        for (const Field& f : e->fields) call.addresses.push_back(f.kind == ADDRESS ? load_u64(block + f.offset) : 0);
    }
    recorded.push_back(call);
    if (!e || e->id != id || e->result == ADDRESS || !block) return;
    u8* at = block + e->result_offset;
    // A number made from the id, or a text or array the recorder keeps.
    switch (e->result) {
        case U8: *at = (u8)id; break;
        case U32: store_u32(at, (u32)result_number(id)); break;
        case S64: store_u64(at, result_number(id)); break;
        case F32: {
            f32 v = (f32)id + 0.25f;
            memcpy(at, &v, 4);
            break;
        }
        case TEXT: {
            String s = {(u8*)result_texts[id].data(), (s64)result_texts[id].size()};
            memcpy(at, &s, sizeof(s));
            break;
        }
        case TEXTS: case COUNT: {
            // Three texts; the probe reads an event array's count only.
            store_u64(at, (u64)result_array.data());
            store_u64(at + 8, e->result == COUNT ? result_number(id) : result_array.size());
            break;
        }
        default: break;
    }
}

// The probe's first 96 calls, in id order. Integers are id * 1000 + place, a b8 1 (the
// second of two 0), an f32 id + 0.5, a text "r" and the id.
std::vector<Expected_Call> routine_cases() {
    std::vector<Expected_Call> cases;
    for (u64 id = 1; id <= 96; id++) cases.push_back(Expected_Call{id, {}});
    auto at = [&](u64 id) -> Expected_Call& { return cases[id - 1]; };
    at(14).fields = {n(0, U8, 1)};
    at(16).fields = {t(0, "r16"), n(16, U8, 1)};
    at(17).fields = {t(0, "r17"), n(16, S64, 17002)};
    at(18).fields = {n(0, U32, 18001), n(4, U8, 1), n(5, U8, 0)};
    at(19).fields = {n(0, U8, 1), n(1, U8, 0)};
    at(20).fields = {n(0, S64, 20001), n(8, S64, 20002)};
    at(26).fields = {n(0, U8, 1)};
    at(28).fields = {n(0, U8, 1)};
    at(32).fields = {n(0, U8, 1)};
    at(33).fields = {n(0, U8, 1), n(1, U8, 0)};
    at(35).fields = {n(0, U8, 1), n(1, U8, 0)};
    at(41) = {41, {}, U8, 0};
    at(43) = {43, {n(0, S64, 43001), n(8, U32, 43002)}, TEXT, 16};
    at(46) = {46, {}, TEXTS, 0};
    at(47) = {47, {}, TEXT, 0};
    at(48) = {48, {}, COUNT, 0};
    at(49) = {49, {}, U8, 0};
    at(50) = {50, {}, F32, 0};
    at(51).fields = {n(0, F32, 51.5)};
    at(52) = {52, {}, U8, 0};
    at(53) = {53, {n(0, S64, 53001)}, S64, 8};
    at(54) = {54, {n(0, S64, 54001)}, S64, 8};
    at(55).fields = {n(0, U32, 55001)};
    at(56) = {56, {}, U32, 0};
    at(57) = {57, {}, U32, 0};
    at(58).fields = {a(0), a(8), a(16), a(24)};
    at(59) = {59, {n(0, S64, 59001), a(8)}, S64, 16};
    at(60) = {60, {n(0, S64, 60001), a(8)}, S64, 16};
    at(61).fields = {n(0, S64, 61001), n(8, U32, 61002), n(12, F32, 61.25), n(16, F32, 61.5), n(20, F32, 61.75),
                     n(24, F32, 62.0)};
    at(62).fields = {n(0, S64, 62001)};
    at(63).fields = {n(0, S64, 63001)};
    at(64) = {64, {}, S64, 0};
    at(65) = {65, {}, S64, 0};
    at(66) = {66, {}, S64, 0};
    at(67) = {67, {n(0, S64, 67001), a(8)}, S64, 16};
    at(68) = {68, {n(0, S64, 68001)}, U32, 8};
    at(69) = {69, {}, TEXT, 0};
    at(70) = {70, {}, TEXT, 0};
    at(77).fields = {ts(0, "r77|home|me")};
    at(80).fields = {t(0, "r80"), ts(16, "r80 a|r80 b")};
    at(95).fields = {t(0, "r95 % %"), ts(16, "r95 a|r95 b")};
    at(96) = {96, {n(0, S64, 96001)}, TEXT, 8};
    // set_settings: every field of Layer_Settings by value.
    at(45).fields = {
        n(0, F32, 45.1),    n(4, F32, 45.2),    n(8, F32, 45.3),    n(12, F32, 45.4),   // ui colour 1
        n(128, F32, 45.5),  n(140, F32, 45.8),  n(144, F32, 45.9),                      // ui colour 9, scroll bar
        n(148, F32, 45.11), n(160, F32, 45.14), n(228, F32, 45.15), n(240, F32, 45.18), // background, cursor
        t(248, "r45 tab"),  n(264, F32, 45.5),  n(268, U8, 45),     n(269, U8, 46),     n(270, U8, 5),
        n(272, S64, 45001), t(280, "r45 ui"),   t(296, "r45 code"),
        h(312, "r45 a|r45 b;r45 line;r45 start;r45 end;896"),
        ts(328, "r45 skipped"), ts(344, "r45 x|r45 y"), ts(360, "r45 p|r45 q|r45 r")};
    return cases;
}

struct Layer_Conformance : ::testing::Test {
    std::string directory;
    u8* image = nullptr;
    u64 image_size = 0;

    void SetUp() override {
        directory = make_test_directory("layer");
        ASSERT_FALSE(directory.empty());
    }
    void TearDown() override {
        if (image) os_free_mapping(image, image_size);
        executable_filepath = String{};
        global_compiler_state.base_directory = String{};
        remove_test_files(directory);
        tmp_reset();
    }

    // Compiles custom.8 of the directory, with its inject.8 and api.8, into custom.8b, and
    // maps it as the loader does with every foreign call sent to the recorder.
    bool compile_and_map() {
        executable_filepath = String{(u8*)directory.data(), (s64)directory.size()};
        global_compiler_state.base_directory = executable_filepath;
        std::string custom = directory + "/custom.8";
        Version_Info version = EDITOR_VERSION;
        compile_errors.count = 0;
        if (!compile_from_file((u8*)custom.data(), custom.size(), &version)) return false;
        std::string bytes = read_test_file(directory + "/custom.8b");
        image_size = bytes.size();
        image = (u8*)os_allocate_read_write(image_size);
        memcpy(image, bytes.data(), image_size);
        const char* reason = check_layer_image(image, image_size);
        EXPECT_EQ(reason, nullptr) << reason;
        if (reason || mprotect(image, image_size, PROT_READ | PROT_WRITE | PROT_EXEC) != 0) return false;
        amd64_apply_relocations(image);
        Compiled_Layer_Header* h = (Compiled_Layer_Header*)image;
        for (u32 i = 0; i < h->foreign_call_slot_count; i++) {
            u64 slot = load_u64(image + h->foreign_call_slot_offset + 8 * i);
            store_u64(image + h->code_offset + slot, (u64)&record_call);
        }
        return true;
    }

    std::string first_error() const {
        return compile_errors.count ? std::string((char*)((Compile_Error*)compile_errors.data)->message) : "";
    }
};

}  // namespace

TEST_F(Layer_Conformance, TheProbeReachesEveryRoutineWithItsBlock) {
    for (const char* name : {"inject.8", "api.8"}) {
        std::filesystem::copy_file(std::string(QUARN_LAYER_SOURCES) + "/" + name, directory + "/" + name);
    }
    std::filesystem::copy_file(std::string(QUARN_LAYER_PROBE) + "/custom.8", directory + "/custom.8");

    // Every routine once, then each result handed back as the argument of a later call.
    expected_calls = routine_cases();
    const Expected_Call read_back[] = {
        {14, {n(0, U8, 41)}},      {16, {t(0, "result 43")}},  {77, {ts(0, "a|bc|def")}}, {16, {t(0, "result 47")}},
        {62, {n(0, S64, 48900)}},  {55, {n(0, U32, 49)}},      {51, {n(0, F32, 50.25)}},  {55, {n(0, U32, 52)}},
        {62, {n(0, S64, 53900)}},  {62, {n(0, S64, 54900)}},   {55, {n(0, U32, 56900)}},  {55, {n(0, U32, 57900)}},
        {62, {n(0, S64, 59900)}},  {62, {n(0, S64, 60900)}},   {62, {n(0, S64, 64900)}},  {62, {n(0, S64, 65900)}},
        {62, {n(0, S64, 66900)}},  {62, {n(0, S64, 67900)}},   {55, {n(0, U32, 68900)}},  {16, {t(0, "result 69")}},
        {16, {t(0, "result 70")}}, {16, {t(0, "result 96")}},
    };
    expected_calls.insert(expected_calls.end(), std::begin(read_back), std::end(read_back));
    result_texts.assign(97, "");
    for (u64 id = 1; id <= 96; id++) result_texts[id] = "result " + std::to_string(id);
    static String three[] = {{(u8*)"a", 1}, {(u8*)"bc", 2}, {(u8*)"def", 3}};
    result_array.assign(three, three + 3);

    ASSERT_TRUE(compile_and_map()) << first_error();
    u8* on_load = get_on_load_block_entry_point(image);
    ASSERT_NE(on_load, nullptr);
    recorded.clear();
    ((void (*)())on_load)();

    ASSERT_EQ(recorded.size(), expected_calls.size());
    for (size_t i = 0; i < expected_calls.size(); i++) {
        const Expected_Call& e = expected_calls[i];
        SCOPED_TRACE("call " + std::to_string(i + 1) + ", id " + std::to_string(e.id));
        ASSERT_EQ(recorded[i].id, e.id);
        ASSERT_EQ(recorded[i].found.size(), e.fields.size());
        for (size_t f = 0; f < e.fields.size(); f++) {
            EXPECT_EQ(recorded[i].found[f], expected(e.fields[f])) << "at +" << e.fields[f].offset;
        }
    }
    // The four addresses of get_syntax_highlighting_info are four locals; a token is filled
    // through the same local each time.
    std::vector<u64> locals = recorded[57].addresses;
    std::sort(locals.begin(), locals.end());
    EXPECT_EQ(std::unique(locals.begin(), locals.end()), locals.end());
    EXPECT_EQ(recorded[58].addresses[1], recorded[66].addresses[1]);
}
