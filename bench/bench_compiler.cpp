// The compiler core's speed: tokeniser throughput on a generated 10 MB source beside `wc -w`
// on the same file; name lookup among 10,000 globals (a hit, a miss, and a hit from deep
// inside nested scopes) beside std::unordered_map; the cost of one string literal among
// 1,000 and 10,000 (all distinct, or all one text); and finding an address type among
// 1,000 and 10,000 globals. The last two stay flat as the counts grow: both go through an
// index, not a walk.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "compiler/core/compiler_core.h"
#include "tests/process_test_support.h"

static const size_t SOURCE_SIZE = 10ull * 1024 * 1024;  // at least; the text ends on a whole round of lines
static const u32 GLOBAL_COUNT = 10000;

static void set_up_compiler() {
    static bool done;
    if (done) return;
    if (!init_memory(PROGRAM_EDITOR) || !init_compiler(STR("."))) abort();
    done = true;
}

// Declarations, statements, literals and comments in the language's own shapes.
static const std::string& get_source_text() {
    static std::string text;
    if (!text.empty()) return text;
    const char* lines[] = {
        "$compute_%u: (a: u32, b: @u8, count: s64) -> s64 = {",
        "    total_%u := a * 3 + cast(b[count - 1], s64) << 2;",
        "    if total_%u > 10 && !done { return total_%u; } else { total_%u -= 1; }",
        "    name_%u: String = \"value %u with \\\"quotes\\\"\\n\";",
        "    ratio_%u: f32 = 1_000.5 * .25 - -0.5; mask |= 0x1F_FF;",
        "    // a line comment about item %u",
        "    /* a block /* nested %u */ comment */ items[%u].field.inner = @other;",
        "};",
        "$Point_%u: #struct = { x: f32; y: f32; #as base: u64; };",
    };
    std::mt19937 random(11);
    text.reserve(SOURCE_SIZE + 256);
    char line[256];
    const u32 line_count = sizeof(lines) / sizeof(lines[0]);
    // Whole rounds of the lines, so every block is closed.
    for (u32 n = 0; text.size() < SOURCE_SIZE || n % line_count; n++) {
        const char* pattern = lines[n % line_count];
        snprintf(line, sizeof(line), pattern, n, n, n, n, n);
        text += line;
        text += random() % 16 ? "\n" : "\r\n";
    }
    return text;
}

static Source_File* add_source(const std::string& text) {
    Source_File* file = (Source_File*)dynamic_array_add_fast(&global_compiler_state.source_files);
    memset(file, 0, sizeof(*file));
    file->path = STR("bench.8");
    file->text = (u8*)text.data();
    file->text_size = (u32)text.size();
    init_bucket_array(&file->tokens, &tokens_pool);
    return file;
}

static void tokenise_10_mb(benchmark::State& state) {
    set_up_compiler();
    const std::string& text = get_source_text();
    u64 tokens = 0;
    for (auto _ : state) {
        reset_compiler();
        Source_File* file = add_source(text);
        if (!tokenise_file(file) || compile_errors.count) state.SkipWithError("the source did not tokenise");
        tokens = file->tokens.count;
    }
    state.SetBytesProcessed(state.iterations() * (s64)text.size());
    state.counters["tokens"] = (double)tokens;
    state.counters["per_token"] = benchmark::Counter((double)tokens * state.iterations(),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(tokenise_10_mb)->Unit(benchmark::kMillisecond);

// The same octets counted by `wc -w`, started afresh each time as a user would.
static void wc_words_10_mb(benchmark::State& state) {
    const std::string& text = get_source_text();
    char path[] = "/tmp/quarn_bench_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || write(fd, text.data(), text.size()) != (ssize_t)text.size()) {
        state.SkipWithError("cannot write the source file");
        return;
    }
    close(fd);
    std::string command = "wc -w < " + shell_word(path) + " > /dev/null";
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (system(command.c_str()) != 0) state.SkipWithError("wc failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(state.iterations() * (s64)text.size());
    unlink(path);
}
BENCHMARK(wc_words_10_mb)->UseManualTime()->Unit(benchmark::kMillisecond);

//~ Lookups

struct Lookup_Fixture {
    std::vector<std::string> names;
    std::vector<std::string> missing;
    Scope* global;
    Scope* innermost;
    std::unordered_map<std::string_view, Identifier*> map;
};

static Lookup_Fixture& get_lookup_fixture() {
    static Lookup_Fixture f;
    if (!f.names.empty()) return f;
    set_up_compiler();
    reset_compiler();
    f.global = global_compiler_state.global_scope;
    for (u32 i = 0; i < GLOBAL_COUNT; i++) {
        f.names.push_back("global_name_" + std::to_string(i));
        f.missing.push_back("absent_name_" + std::to_string(i));
    }
    for (u32 i = 0; i < GLOBAL_COUNT; i++) {
        // Globals are mostly sub-programs and types (constants), some variables.
        Identifier_Kind kind = i % 4 ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE;
        Identifier* identifier = add_identifier(f.global, (u8*)f.names[i].data(), f.names[i].size(), kind, Trace{});
        f.map[f.names[i]] = identifier;
    }
    // A sub-program body, a loop and two blocks, each with a few locals of its own.
    f.innermost = _add_a_scope(f.global, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    static const char* locals[] = {"i", "count", "text", "result"};
    for (u32 depth = 0; depth < 4; depth++) {
        if (depth) f.innermost = _add_a_scope(f.innermost, depth == 1 ? SCOPE_LOOP : 0, Trace{});
        for (const char* local : locals) add_identifier(f.innermost, (u8*)local, strlen(local), IDENTIFIER_KIND_VARIABLE, Trace{});
    }
    return f;
}

static void lookup_hit(benchmark::State& state) {
    Lookup_Fixture& f = get_lookup_fixture();
    u32 i = 0;
    for (auto _ : state) {
        const std::string& name = f.names[i++ % GLOBAL_COUNT];
        benchmark::DoNotOptimize(get_identifier(f.global, (u8*)name.data(), name.size()));
    }
}
BENCHMARK(lookup_hit);

static void lookup_miss(benchmark::State& state) {
    Lookup_Fixture& f = get_lookup_fixture();
    u32 i = 0;
    for (auto _ : state) {
        const std::string& name = f.missing[i++ % GLOBAL_COUNT];
        benchmark::DoNotOptimize(get_identifier(f.global, (u8*)name.data(), name.size()));
    }
}
BENCHMARK(lookup_miss);

static void lookup_hit_from_nested_scope(benchmark::State& state) {
    Lookup_Fixture& f = get_lookup_fixture();
    u32 i = 0;
    for (auto _ : state) {
        const std::string& name = f.names[i++ % GLOBAL_COUNT];
        benchmark::DoNotOptimize(get_identifier(f.innermost, (u8*)name.data(), name.size()));
    }
}
BENCHMARK(lookup_hit_from_nested_scope);

static void unordered_map_hit(benchmark::State& state) {
    Lookup_Fixture& f = get_lookup_fixture();
    u32 i = 0;
    for (auto _ : state) {
        const std::string& name = f.names[i++ % GLOBAL_COUNT];
        benchmark::DoNotOptimize(f.map.find(name));
    }
}
BENCHMARK(unordered_map_hit);

static void unordered_map_miss(benchmark::State& state) {
    Lookup_Fixture& f = get_lookup_fixture();
    u32 i = 0;
    for (auto _ : state) {
        const std::string& name = f.missing[i++ % GLOBAL_COUNT];
        benchmark::DoNotOptimize(f.map.find(name));
    }
}
BENCHMARK(unordered_map_miss);

//~ String literals and derived types

// Each iteration is one compile's worth: a fresh state, then the literals of the source.
static void string_literals(benchmark::State& state, bool distinct) {
    set_up_compiler();
    u32 count = (u32)state.range(0);
    std::string text;
    for (u32 i = 0; i < count; i++) text += distinct ? "\"literal number " + std::to_string(i) + "\\n\" " : "\"one text\\n\" ";
    u64 made = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!reset_compiler() || !add_the_basic_types()) state.SkipWithError("no compiler state");
        Source_File* file = add_source(text);
        if (!tokenise_file(file)) state.SkipWithError("the source did not tokenise");
        state.ResumeTiming();
        for (Token* token = (Token*)file->tokens.first_element; token; token = token->next) {
            Value value;
            made += make_constant_value_from_token(&value, token, 0)->kind != 0;
        }
    }
    if (made != (u64)count * state.iterations()) state.SkipWithError("a literal failed");
    state.counters["per_literal"] = benchmark::Counter((double)count * state.iterations(),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

static void string_literals_distinct(benchmark::State& state) { string_literals(state, true); }
static void string_literals_repeated(benchmark::State& state) { string_literals(state, false); }
BENCHMARK(string_literals_distinct)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(string_literals_repeated)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Globals that are types, each with its address type made; the lookup asks for one again.
static void address_type_lookup(benchmark::State& state) {
    set_up_compiler();
    u32 count = (u32)state.range(0);
    if (!reset_compiler() || !add_the_basic_types()) state.SkipWithError("no compiler state");
    static std::vector<std::string> names;
    names.clear();
    for (u32 i = 0; i < count; i++) names.push_back("Type_" + std::to_string(i));
    std::vector<Identifier*> types;
    for (u32 i = 0; i < count; i++) {
        Identifier* type = add_a_basic_type(String{(u8*)names[i].data(), (s64)names[i].size()}, TYPE_UNSIGNED, 8, 8);
        if (!type || !type_to_memory_address_of_type(type, 1)) state.SkipWithError("no type");
        types.push_back(type);
    }
    u32 i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(type_to_memory_address_of_type(types[i++ % count], 1));
}
BENCHMARK(address_type_lookup)->Arg(1000)->Arg(10000);

BENCHMARK_MAIN();
