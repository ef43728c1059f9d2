// The foreign routine table, the dispatcher's refusal of ids it has no routine for, and the
// routines built so far: log, int_to_string and exit_program.
#include <set>

#include "tests/runtime/runtime_test_support.h"

namespace {

using Dispatcher_Test = Runtime_Test;

std::string text_of(String s) { return std::string((char*)s.data, s.data ? (size_t)s.count : 0); }

}  // namespace

TEST_F(Dispatcher_Test, TableHoldsEveryRoutineOnceWithItsHash) {
    std::set<u16> ids;
    std::set<std::string> names;
    std::set<u64> hashes;
    for (const Foreign_Routine& row : foreign_routines) {
        SCOPED_TRACE(text_of(row.name));
        EXPECT_GE(row.id, 1);
        EXPECT_LE(row.id, FOREIGN_ROUTINE_COUNT);
        EXPECT_EQ(row.hash, MeowHash((u64)row.name.count, row.name.data).low);
        ids.insert(row.id);
        names.insert(text_of(row.name));
        hashes.insert(row.hash);
    }
    EXPECT_EQ(ids.size(), FOREIGN_ROUTINE_COUNT);
    EXPECT_EQ(names.size(), FOREIGN_ROUTINE_COUNT);
    EXPECT_EQ(hashes.size(), FOREIGN_ROUTINE_COUNT);

    // Reference hashes of the published Meow hash: the compiler binds #import by them.
    struct Known {
        const char* name;
        u16 id;
        u64 hash;
    };
    static const Known known[] = {
        {"go_left", 1, 0x9cb245fb50cf0dd5ull},
        {"insert_text", 16, 0xf48204bfab00e482ull},
        {"exit_program", 44, 0x8e4d29105746c3baull},
        {"set_settings", 45, 0xdf44706e298b460aull},
    };
    for (const Known& k : known) {
        SCOPED_TRACE(k.name);
        const Foreign_Routine* row = nullptr;
        for (const Foreign_Routine& r : foreign_routines) {
            if (text_of(r.name) == k.name) row = &r;
        }
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->id, k.id);
        EXPECT_EQ(row->hash, k.hash);
    }
    // The compiler searches in this order: its first rows and its last.
    EXPECT_EQ(foreign_routines[8].id, 11);
    EXPECT_EQ(foreign_routines[11].id, 9);
    EXPECT_EQ(foreign_routines[FOREIGN_ROUTINE_COUNT - 1].id, 96);
}

TEST_F(Dispatcher_Test, IdsOutsideTheTableChangeNothing) {
    // 0x10001 and 97 + 2^32 alias real routines in their low bits; RSI carries the id
    // sign-extended, so 0xFFFFFFFF arrives as all ones.
    static const u64 ids[] = {0, 97, 0x10001, 0xFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0x100000060ull, 0x8000000000000001ull};
    u8 block[64];
    memset(block, 0xA5, sizeof(block));
    u8 before[64];
    memcpy(before, block, sizeof(block));
    u64 tmp_used = tmp_get_used();
    for (u64 id : ids) {
        SCOPED_TRACE(id);
        handle_foreign_call(block, id);
        EXPECT_EQ(memcmp(block, before, sizeof(block)), 0);
        EXPECT_EQ(global_flags, (u64)SHOULD_RUN);
        EXPECT_EQ(log_since_mark(), "");
        EXPECT_EQ(tmp_get_used(), tmp_used);
    }
}

TEST_F(Dispatcher_Test, ExitProgramClearsOnlyTheRunFlag) {
    global_flags = SHOULD_RUN | FOCUS_MODE | DISPLAY_COMPILE_ERRORS;
    handle_foreign_call(nullptr, ROUTINE_EXIT_PROGRAM);
    EXPECT_EQ(global_flags, (u64)(FOCUS_MODE | DISPLAY_COMPILE_ERRORS));
}

TEST_F(Dispatcher_Test, IntToStringGroupsThousands) {
    struct Case {
        s64 value;
        const char* text;
    };
    static const Case cases[] = {
        {0, "0"},
        {999, "999"},
        {-1000, "-1,000"},
        {1234567, "1,234,567"},
        {-999999, "-999,999"},
        {INT64_MAX, "9,223,372,036,854,775,807"},
        {INT64_MIN, "-9,223,372,036,854,775,808"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // The block as compiled code lays it out, at an odd address: the routine may not
        // count on alignment.
        u8 memory[1 + sizeof(Int_To_String_Parameters)] = {};
        u8* block = memory + 1;
        store_u64(block, (u64)c.value);
        handle_foreign_call(block, ROUTINE_INT_TO_STRING);
        String result;
        memcpy(&result, block + 8, sizeof(result));
        EXPECT_EQ(text_of(result), c.text);
    }
}

TEST_F(Dispatcher_Test, LogFormatsOneInfoLine) {
    struct Case {
        const char* name;
        std::string format;
        std::vector<std::string> values;
        const char* line;  // null: nothing logged
    };
    const Case cases[] = {
        {"each % takes the next value", "% is %", {"x", "1"}, "Info: x is 1\n"},
        {"%% is a percent sign", "100%% of %", {"a"}, "Info: 100% of a\n"},
        {"too few values: the rest stands", "% and % and %%", {"a"}, "Info: a and % and %%\n"},
        {"values left over are not shown", "only %", {"a", "b"}, "Info: only a\n"},
        {"no values: nothing", "text %", {}, nullptr},
        {"a value is text, not a format", "[%]", {"%s%n%x"}, "Info: [%s%n%x]\n"},
        {"a format that is printf's", "%s %d %", {"v"}, "Info: vs %d %\n"},
        {"a trailing %", "end%", {"!"}, "Info: end!\n"},
        {"an empty value", "<%>", {""}, "Info: <>\n"},
        {"an empty format", "", {"a"}, "Info: \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        u64 mark = __global_log.used;
        std::vector<String> values;
        for (const std::string& v : c.values) values.push_back(String{(u8*)v.data(), (s64)v.size()});
        Log_Parameters p = {String{(u8*)c.format.data(), (s64)c.format.size()}, values.data(), (s64)values.size()};
        handle_foreign_call((u8*)&p, ROUTINE_LOG);
        std::string logged((char*)__global_log.memory + mark, __global_log.used - mark);
        EXPECT_EQ(logged, c.line ? c.line : "");
    }
}

TEST_F(Dispatcher_Test, LogBoundsWhatCompiledCodeHandsOver) {
    // A negative count, a null array or a huge value: one bounded line or nothing, never a
    // read past what was handed over.
    std::string big(100000, 'v');
    String values[] = {String{(u8*)big.data(), (s64)big.size()}, String{nullptr, 5}, String{(u8*)"x", -3}};
    Log_Parameters p = {STR("%|%|%|"), values, 3};
    u64 mark = __global_log.used;
    handle_foreign_call((u8*)&p, ROUTINE_LOG);
    std::string logged((char*)__global_log.memory + mark, __global_log.used - mark);
    EXPECT_LE(logged.size(), (size_t)LOG_LINE_CAPACITY);
    EXPECT_EQ(logged.rfind("Info: vvvv", 0), 0u);

    Log_Parameters negative = {STR("%"), values, -1};
    Log_Parameters no_array = {STR("%"), nullptr, 2};
    mark = __global_log.used;
    handle_foreign_call((u8*)&negative, ROUTINE_LOG);
    handle_foreign_call((u8*)&no_array, ROUTINE_LOG);
    EXPECT_EQ(__global_log.used, mark);

    Log_Parameters odd = {STR("%|%|"), values + 1, 2};
    mark = __global_log.used;
    handle_foreign_call((u8*)&odd, ROUTINE_LOG);
    EXPECT_EQ(std::string((char*)__global_log.memory + mark, __global_log.used - mark), "Info: ||\n");
}
