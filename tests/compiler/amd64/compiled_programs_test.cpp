// Programs compiled from source by compile_from_file, run from the image it wrote, and
// checked against the same steps in C++; the lint reads every program's machine code.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/compiler/amd64/compiled_program.h"
#include "tests/compiler/amd64/translation_fixture.h"

// A fixture by its path, or by its name among the programs beside the tests.
static std::string read_program(const char* name) {
    std::ifstream f(name[0] == '/' ? std::string(name) : std::string(QUARN_AMD64_PROGRAMS) + "/" + name);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Compiles a fixture; the image must load and the code pass the lint.
static Compiled_Program compile_fixture(const std::string& source, const std::vector<std::string>& globals) {
    Compiled_Program p = compile_program(source, globals);
    EXPECT_TRUE(p.ok) << testing::PrintToString(p.errors);
    EXPECT_TRUE(p.errors.empty()) << testing::PrintToString(p.errors);
    EXPECT_EQ(lint_compiled(p), "");
    return p;
}

// The program's steps in C++.
struct Control_Flow_Results {
    s64 counted, stepped, collatz, chain, switched, nested, negated;
};

static Control_Flow_Results control_flow_in_cpp(s64 input) {
    Control_Flow_Results r = {};
    for (s64 i = 0; i < input; i++) r.counted += i;
    s64 j = input;
    for (; j > 0; j -= 3) {
        if (j < 7) break;
        if (j % 5 == 0) continue;
        r.stepped += j;
    }
    r.stepped = r.stepped * 1000 + j;
    for (s64 n = input; n > 1; r.collatz++) n = (n & 1) ? n * 3 + 1 : n / 2;
    if (input < 0) r.chain = -1;
    else if (input == 0) r.chain = 100;
    else if (input < 10 && input != 7) r.chain = 200;
    else if (input >= 50 || input == 7) r.chain = 300;
    else r.chain = 400;
    switch (input) {
        case 1: r.switched = 10; break;
        case 2: r.switched = 20; [[fallthrough]];
        case 3: r.switched += 30; break;
        case -4: r.switched = 40; break;
        default: r.switched = 99;
    }
    for (s64 a = 0; a < 4; a++) {
        for (s64 b = 0; b < 5; b++) {
            if (a != b) r.nested += a * 10 + b;
        }
    }
    r.negated = (input == 0) * 1 + (input != 0) * 10 + (input < 3) * 100 + (input == 0) * 1000 +
                !(input == 0 && input != 7) * 10000;
    return r;
}

TEST(CompiledPrograms, LoopsIfChainsAndSwitches) {
    HARNESS_REQUIRE_AVX();
    Compiled_Program p = compile_fixture(read_program("control_flow.8"), {"input", "counted", "stepped", "collatz",
                                                                         "chain", "switched", "nested", "negated"});
    ASSERT_TRUE(p.ok);
    for (s64 input : {-5LL, -4LL, 0LL, 1LL, 2LL, 3LL, 6LL, 7LL, 9LL, 10LL, 27LL, 49LL, 50LL, 97LL}) {
        SCOPED_TRACE(input);
        Harness_Registers in = harness_canaries();
        Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, in,
                                            [&](u8* image) { store_u64(loaded_global(p, image, "input"), (u64)input); });
        ASSERT_FALSE(run.faulted) << run.fault;
        Control_Flow_Results expected = control_flow_in_cpp(input);
        EXPECT_EQ(global_value<s64>(p, run, "counted"), expected.counted);
        EXPECT_EQ(global_value<s64>(p, run, "stepped"), expected.stepped);
        EXPECT_EQ(global_value<s64>(p, run, "collatz"), expected.collatz);
        EXPECT_EQ(global_value<s64>(p, run, "chain"), expected.chain);
        EXPECT_EQ(global_value<s64>(p, run, "switched"), expected.switched);
        EXPECT_EQ(global_value<s64>(p, run, "nested"), expected.nested);
        EXPECT_EQ(global_value<s64>(p, run, "negated"), expected.negated);
        // An entry block keeps every register of the editor's.
        EXPECT_EQ(harness_changed_registers(run.entered, run.registers, 0, 0), "");
    }
}

TEST(CompiledPrograms, CountsEndBeforeTheirIndexWraps) {
    HARNESS_REQUIRE_AVX();
    Compiled_Program p = compile_fixture(read_program("counts.8"), {"down", "down_by_seven", "up_by_seven", "last_up",
                                                                    "stepped"});
    ASSERT_TRUE(p.ok);
    Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(global_value<s64>(p, run, "down"), 11);
    EXPECT_EQ(global_value<s64>(p, run, "down_by_seven"), 15);
    EXPECT_EQ(global_value<s64>(p, run, "up_by_seven"), 37);
    EXPECT_EQ(global_value<s64>(p, run, "last_up"), 252);
    EXPECT_EQ(global_value<s64>(p, run, "stepped"), 13);
}

TEST(CompiledPrograms, StructsThatReferToEachOtherThroughAddresses) {
    HARNESS_REQUIRE_AVX();
    Compiled_Program p = compile_fixture(read_program("linked_structs.8"), {"ring_sum", "owner_sum"});
    ASSERT_TRUE(p.ok);
    Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, harness_canaries());
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(global_value<s64>(p, run, "ring_sum"), 1023);
    EXPECT_EQ(global_value<s64>(p, run, "owner_sum"), 75);
}

// The elements of a global fixed-size array, through the address its header holds, and
// their count (the array starts empty).
template <typename T>
static void plant_elements(const Compiled_Program& p, u8* image, const char* name, const std::vector<T>& values) {
    u8* header = loaded_global(p, image, name);
    memcpy((u8*)load_u64(header), values.data(), values.size() * sizeof(T));
    store_u64(header + 8, values.size());
}

template <typename T>
static s64 weighted_sum(const std::vector<T>& values) {
    s64 sum = 0;
    for (size_t i = 0; i < values.size(); i++) sum += (s64)values[i] * (s64)(i + 1);
    return sum;
}

TEST(CompiledPrograms, ArraysReadByARegisterIndex) {
    HARNESS_REQUIRE_AVX();
    Compiled_Program p = compile_fixture(read_program("arrays.8"), {"bytes", "shorts", "words", "quads", "reals",
                                                                   "byte_sum", "short_sum", "word_sum", "quad_sum",
                                                                   "real_sum", "address_steps"});
    ASSERT_TRUE(p.ok);
    const std::vector<u8> bytes = {1, 2, 3, 250, 5, 6, 7, 8, 255};
    const std::vector<s16> shorts = {-1, 300, -32768, 32767, 5, 6, -7};
    const std::vector<s32> words = {-2147483647 - 1, 2147483647, -3, 4, 5};
    const std::vector<s64> quads = {1LL << 40, -(1LL << 50), 3, -4, 5, 0x7FFFFFFFFFFFLL};
    const std::vector<f64> reals = {0.5, -2.25, 1e10, 3.0};
    Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, harness_canaries(), [&](u8* image) {
        plant_elements(p, image, "bytes", bytes);
        plant_elements(p, image, "shorts", shorts);
        plant_elements(p, image, "words", words);
        plant_elements(p, image, "quads", quads);
        plant_elements(p, image, "reals", reals);
    });
    ASSERT_FALSE(run.faulted) << run.fault;
    EXPECT_EQ(global_value<s64>(p, run, "byte_sum"), weighted_sum(bytes));
    EXPECT_EQ(global_value<s64>(p, run, "short_sum"), weighted_sum(shorts));
    EXPECT_EQ(global_value<s64>(p, run, "word_sum"), weighted_sum(words));
    EXPECT_EQ(global_value<s64>(p, run, "quad_sum"), weighted_sum(quads));
    EXPECT_EQ(global_value<f64>(p, run, "real_sum"), 0.5 - 2.25 + 1e10 + 3.0);
    EXPECT_EQ(global_value<s64>(p, run, "address_steps"), (s64)quads.size() - 1);
}

TEST(CompiledPrograms, DebugBreakTrapsAtItsInstruction) {
    HARNESS_REQUIRE_AVX();
    Compiled_Program p = compile_fixture("before: s32;\nafter: s32;\n"
                                         "#events { before = 1; debug_break; after = 1; }\n",
                                         {"before", "after"});
    ASSERT_TRUE(p.ok);
    Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_EVENTS, harness_canaries());
    ASSERT_TRUE(run.faulted);
    EXPECT_EQ(run.signal, SIGTRAP);
    u32 offset = 0;
    ASSERT_EQ(sscanf(run.fault.c_str(), "SIGTRAP at code offset 0x%x", &offset), 1) << run.fault;
    const Compiled_Layer_Header* h = (const Compiled_Layer_Header*)p.image.data();
    EXPECT_EQ(p.image[h->code_offset + offset], 0xCC);
    EXPECT_EQ(global_value<s32>(p, run, "before"), 1);
    EXPECT_EQ(global_value<s32>(p, run, "after"), 0);
}

//~ Every fixture of the front end

// The snippets of a NAME.cases file, each after a line "// case TITLE"; none when its
// snippets are support sources.
static std::vector<std::string> read_snippets(const std::string& text) {
    std::vector<std::string> snippets;
    std::string content = "\n" + text;
    if (content.rfind("\n// each snippet is inject.8\n", 0) == 0) return snippets;
    const std::string marker = "\n// case ";
    for (size_t at = content.find(marker); at != std::string::npos;) {
        size_t next = content.find(marker, at + marker.size());
        size_t body = content.find('\n', at + marker.size());
        size_t end = next == std::string::npos ? content.size() : next + 1;
        if (body != std::string::npos && body + 1 < end) snippets.push_back(content.substr(body + 1, end - body - 1));
        at = next;
    }
    return snippets;
}

// Every case file and snippet the front end and the bytecode take goes on through the
// machine code to an image the writer accepts, and its code passes the lint (the files
// that embed machine code of their own aside).
TEST(CompiledPrograms, EveryFixtureOfTheFrontEndMakesAnImageThatPassesTheLint) {
    std::string prelude = read_program(QUARN_FRONT_END_PRELUDE);
    std::vector<std::pair<std::string, std::string>> sources;  // name, text
    for (const char* folder : {QUARN_FRONT_END_CASES, QUARN_BYTECODE_CASES}) {
        // Files in subfolders belong to the multi-file cases, which load each other.
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::string extension = entry.path().extension().string();
            if (!entry.is_regular_file() || (extension != ".8" && extension != ".cases")) continue;
            std::string text = read_program(entry.path().string().c_str());
            if (extension == ".8") {
                sources.push_back({entry.path().string(), text});
                continue;
            }
            std::vector<std::string> snippets = read_snippets(text);
            for (size_t i = 0; i < snippets.size(); i++) {
                sources.push_back({entry.path().string() + " #" + std::to_string(i), snippets[i]});
            }
        }
    }
    std::sort(sources.begin(), sources.end());
    u32 compiled = 0;
    for (const auto& [name, text] : sources) {
        // Octets embedded by #machine_code are the user's own, not the generator's.
        if (text.find("#machine_code") != std::string::npos) continue;
        Compiled_Program p = compile_program(text, {}, prelude);
        if (!p.bytecode_made) continue;
        SCOPED_TRACE(name);
        compiled++;
        EXPECT_TRUE(p.ok) << testing::PrintToString(p.errors);
        EXPECT_EQ(lint_compiled(p), "");
    }
    EXPECT_GE(compiled, 10u);
    printf("%u of %zu fixtures compiled to images\n", compiled, sources.size());
}

//~ Calls

TEST(CompiledPrograms, CallsReturnsAndForeignCalls) {
    HARNESS_REQUIRE_AVX();
    Compiled_Program p = compile_fixture(
        read_program("calls.8"),
        {"input", "factorial_result", "results_s8", "results_s16", "results_s32", "results_s64", "results_u8",
         "results_f32", "results_f64", "deferred_result", "deferred_after", "through_register", "through_memory",
         "foreign_in_entry", "foreign_deep", "live_integers", "live_reals"});
    ASSERT_TRUE(p.ok);
    for (s64 input : {-3LL, 0LL, 1LL, 5LL, 12LL, 20LL}) {
        SCOPED_TRACE(input);
        // Each routine's block: two s64 arguments, then its s64 result.
        harness_record_foreign_calls(16, 16);
        Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, harness_canaries(),
                                            [&](u8* image) { store_u64(loaded_global(p, image, "input"), (u64)input); });
        ASSERT_FALSE(run.faulted) << run.fault;
        s64 factorial = 1;
        for (s64 n = 2; n <= input; n++) factorial *= n;
        EXPECT_EQ(global_value<s64>(p, run, "factorial_result"), factorial);
        EXPECT_EQ(global_value<s8>(p, run, "results_s8"), (s8)input);
        EXPECT_EQ(global_value<s16>(p, run, "results_s16"), (s16)(input * 300));
        EXPECT_EQ(global_value<s32>(p, run, "results_s32"), (s32)(input * 100000));
        EXPECT_EQ(global_value<s64>(p, run, "results_s64"), input * 10000000000LL);
        EXPECT_EQ(global_value<u8>(p, run, "results_u8"), (u8)(input + 200));
        EXPECT_EQ(global_value<f32>(p, run, "results_f32"), (f32)input / 4.0f);
        EXPECT_EQ(global_value<f64>(p, run, "results_f64"), (f64)input / 8.0);
        EXPECT_EQ(global_value<s64>(p, run, "deferred_result"), input + 1);
        EXPECT_EQ(global_value<s64>(p, run, "deferred_after"), 1000);
        EXPECT_EQ(global_value<s64>(p, run, "through_register"), 2 * input);
        EXPECT_EQ(global_value<s64>(p, run, "through_memory"), 2 * (input + 1));

        // The dispatcher numbers the calls from 1 and answers id * 1000 + number.
        const std::vector<Harness_Foreign_Call>& calls = harness_foreign_calls();
        ASSERT_EQ(calls.size(), 2u);
        std::vector<u8> entry_block(16), deep_block(16);
        store_u64(&entry_block[0], (u64)input);
        store_u64(&entry_block[8], 7);
        store_u64(&deep_block[0], (u64)(input + 1));
        store_u64(&deep_block[8], (u64)(input + 2));
        EXPECT_EQ(calls[0].id, 1u);
        EXPECT_EQ(calls[0].block, entry_block);
        EXPECT_EQ(calls[1].id, 2u);
        EXPECT_EQ(calls[1].block, deep_block);
        for (const Harness_Foreign_Call& call : calls) EXPECT_TRUE(call.aligned) << "routine " << call.id;
        EXPECT_EQ(global_value<s64>(p, run, "foreign_in_entry"), 1001);
        EXPECT_EQ(global_value<s64>(p, run, "foreign_deep"), 2002);
        // The dispatcher spoils every register a callee may change: values live across it
        // come back only when the call kept them.
        EXPECT_EQ(global_value<s64>(p, run, "live_integers"), 12 * (input + 1) + 78);
        EXPECT_EQ(global_value<f64>(p, run, "live_reals"), 16.0 * (f64)input + 136.0);
        EXPECT_EQ(harness_changed_registers(run.entered, run.registers, 0, 0), "");
    }
}

// A sub-program keeps its caller's registers: the editor's routine it calls must not take
// away a value its caller holds across the call, in either register class.
TEST(CompiledPrograms, ValuesLiveAcrossACallWhoseCalleeCallsTheEditor) {
    HARNESS_REQUIRE_AVX();
    Compiled_Program p = compile_fixture("$go_right: (a: s64, b: s64) -> s64 = #import;\n"
                                         "$shallow: (x: s64) -> s64 = { return go_right(x, x); };\n"
                                         "input: s64;\nresult: s64;\nkept: s64;\nkept_reals: f64;\n"
                                         "#on_load {\n"
                                         "    a := input + 1; b := input + 2; c := input + 3;\n"
                                         "    d := input + 4; e := input + 5; f := input + 6;\n"
                                         "    p: f64 = cast(input, f64);\n"
                                         "    r1 := p + 1.0; r2 := p + 2.0; r3 := p + 3.0; r4 := p + 4.0;\n"
                                         "    result = shallow(input);\n"
                                         "    kept = a + b + c + d + e + f;\n"
                                         "    kept_reals = r1 + r2 + r3 + r4;\n"
                                         "}\n",
                                         {"input", "result", "kept", "kept_reals"});
    ASSERT_TRUE(p.ok);
    for (s64 input : {-2LL, 5LL}) {
        SCOPED_TRACE(input);
        harness_record_foreign_calls(16, 16);
        Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, harness_canaries(),
                                            [&](u8* image) { store_u64(loaded_global(p, image, "input"), (u64)input); });
        ASSERT_FALSE(run.faulted) << run.fault;
        EXPECT_EQ(global_value<s64>(p, run, "result"), 2001);
        EXPECT_EQ(global_value<s64>(p, run, "kept"), 6 * input + 21);
        EXPECT_EQ(global_value<f64>(p, run, "kept_reals"), 4.0 * (f64)input + 10.0);
    }
}

//~ Arrays by index

struct Element_Case {
    u32 size;
    const char* declaration;  // of the element type, or ""
    const char* type;
    const char* member;       // the member read and written, or ""
    u32 member_offset;
    u32 value_size;
    const char* value_type;
};

static const Element_Case ELEMENT_CASES[] = {
    {1, "", "u8", "", 0, 1, "u8"},
    {2, "", "s16", "", 0, 2, "s16"},
    {4, "", "s32", "", 0, 4, "s32"},
    {8, "", "s64", "", 0, 8, "s64"},
    {12, "$E12: #struct = { a: s32; b: s32; c: s32; };\n", "E12", ".b", 4, 4, "s32"},
    {16, "$E16: #struct = { a: s64; b: s64; };\n", "E16", ".b", 8, 8, "s64"},
    {24, "$E24: #struct = { a: s64; b: s64; c: s64; };\n", "E24", ".c", 16, 8, "s64"},
    {28, "$E28: #struct = { a: s32; b: s32; c: s32; d: s32; e: s32; f: s32; g: s32; };\n", "E28", ".f", 20, 4, "s32"},
};

#define ELEMENT_COUNT 8

// For every element size: reads by an s64 index, a u32 index, a constant and a negative
// index from a pointer into the middle; a write; and element addresses.
static std::string element_program(std::vector<std::string>* globals) {
    std::string declarations = "index: s64;\nsmall: u32;\nback: s64;\n", block;
    for (const Element_Case& c : ELEMENT_CASES) {
        std::string n = std::to_string(c.size), a = "a" + n, m = c.member, v = c.value_type;
        declarations += c.declaration;
        declarations += a + ": [" + std::to_string(ELEMENT_COUNT) + "] " + c.type + ";\n";
        for (const char* name : {"read", "read_small", "read_constant", "read_back"}) {
            declarations += std::string(name) + n + ": " + v + ";\n";
            globals->push_back(name + n);
        }
        declarations += "address" + n + ": u64;\naddress_small" + n + ": u64;\n";
        globals->insert(globals->end(), {a, "address" + n, "address_small" + n});
        block += "    read" + n + " = " + a + "[index]" + m + ";\n";
        block += "    read_small" + n + " = " + a + "[small]" + m + ";\n";
        block += "    read_constant" + n + " = " + a + "[3]" + m + ";\n";
        block += "    p" + n + " := @" + a + "[5];\n";
        block += "    read_back" + n + " = p" + n + "[back]" + m + ";\n";
        block += "    " + a + "[index + 1]" + m + " = " + std::to_string(100 + c.size) + ";\n";
        block += "    address" + n + " = cast(@" + a + "[index], u64);\n";
        block += "    address_small" + n + " = cast(@" + a + "[small], u64);\n";
    }
    globals->insert(globals->end(), {"index", "small", "back"});
    return declarations + "#on_load {\n" + block + "}\n";
}

static u64 bits_at(const u8* at, u32 size) {
    u64 value = 0;
    memcpy(&value, at, size);
    return value;
}

TEST(CompiledPrograms, ArraysOfEveryElementSizeByIndexAgainstPointerArithmetic) {
    HARNESS_REQUIRE_AVX();
    std::vector<std::string> globals;
    Compiled_Program p = compile_fixture(element_program(&globals), globals);
    ASSERT_TRUE(p.ok);
    struct Indexes {
        s64 index;
        u32 small;
        s64 back;
    };
    for (Indexes x : {Indexes{0, 1, -5}, Indexes{2, 7, -1}, Indexes{6, 4, -3}}) {
        SCOPED_TRACE(testing::Message() << "index " << x.index << ", small " << x.small << ", back " << x.back);
        std::map<u32, u64> storage;  // by element size: the elements' address
        std::map<u32, u64> storage_offset;  // and their offset in global data
        Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, harness_canaries(), [&](u8* image) {
            store_u64(loaded_global(p, image, "index"), (u64)x.index);
            store_u32(loaded_global(p, image, "small"), x.small);
            store_u64(loaded_global(p, image, "back"), (u64)x.back);
            u8* globals_start = image + ((Compiled_Layer_Header*)image)->global_data_offset;
            for (const Element_Case& c : ELEMENT_CASES) {
                u8* elements = (u8*)load_u64(loaded_global(p, image, "a" + std::to_string(c.size)));
                for (u32 k = 0; k < c.size * ELEMENT_COUNT; k++) elements[k] = (u8)(c.size * 7 + k * 13);
                storage[c.size] = (u64)elements;
                storage_offset[c.size] = (u64)(elements - globals_start);
            }
        });
        ASSERT_FALSE(run.faulted) << run.fault;
        for (const Element_Case& c : ELEMENT_CASES) {
            SCOPED_TRACE(c.type);
            std::string n = std::to_string(c.size);
            // What the elements held before the run, as planted.
            std::vector<u8> planted(c.size * ELEMENT_COUNT);
            for (u32 k = 0; k < planted.size(); k++) planted[k] = (u8)(c.size * 7 + k * 13);
            auto element = [&](s64 i) { return bits_at(&planted[(u64)i * c.size + c.member_offset], c.value_size); };
            EXPECT_EQ(global_bits(p, run, "read" + n, c.value_size), element(x.index));
            EXPECT_EQ(global_bits(p, run, "read_small" + n, c.value_size), element(x.small));
            EXPECT_EQ(global_bits(p, run, "read_constant" + n, c.value_size), element(3));
            EXPECT_EQ(global_bits(p, run, "read_back" + n, c.value_size), element(5 + x.back));
            EXPECT_EQ(global_value<u64>(p, run, "address" + n), storage[c.size] + (u64)x.index * c.size);
            EXPECT_EQ(global_value<u64>(p, run, "address_small" + n), storage[c.size] + (u64)x.small * c.size);
            // The write changed the one member of the one element.
            std::vector<u8> expected = planted;
            u64 written = 100 + c.size;
            memcpy(&expected[(u64)(x.index + 1) * c.size + c.member_offset], &written, c.value_size);
            const u8* after = run.globals.data() + storage_offset[c.size];
            EXPECT_EQ(std::vector<u8>(after, after + expected.size()), expected);
        }
    }
}
