// Register placement: the cases of machine registers, stack slots, gaps, calls and frame
// sizes, then generated bodies checked for what every placement must hold.
#include <gtest/gtest.h>

#include <iostream>
#include <algorithm>
#include <random>

#include "bytecode_test_builder.h"
#include "tests/test_seed.h"

static const std::string PLACEMENT_SOURCE = "#on_load {\n}\n";

struct Test_Register {
    u32 first;
    u32 last;
    u32 size;
    u32 alignment;
    u8 hints;
    u32 last_call = 0;
};

// A body of record_total records (calls at the given indices) whose registers have the
// given lifetimes, as emission leaves them; placement not run yet.
struct Placement_Body {
    Scope* body;
    Body_Lists lists;
    std::vector<Register_Id> ids;
};

static void make_placement_body(Placement_Body* p, const std::vector<Test_Register>& registers,
                                 const std::vector<u32>& calls, u32 record_total) {
    Scope* body = add_test_entry_block(&global_compiler_state.on_load_scope, 1);
    p->body = body;
    init_dynamic_array(&p->lists.scopes, sizeof(Scope*));
    init_dynamic_array(&p->lists.calls, sizeof(u32));
    *(Scope**)dynamic_array_add_fast(&p->lists.scopes) = body;
    for (u32 k = 0; k < record_total; k++) insert_bytecode(&global_compiler_state.bytecode, BYTECODE_DEBUG_BREAK, line_trace(1));
    for (u32 call : calls) {
        record(call)->kind = BYTECODE_CALL;
        *(u32*)dynamic_array_add_fast(&p->lists.calls) = call;
    }
    for (const Test_Register& t : registers) {
        Register_Id id = allocate_a_register(body, t.size, nullptr, t.alignment);
        Register* r = get_register(id);
        r->hints = t.hints;
        r->first_use = t.first;
        r->last_use = t.last;
        r->last_call = t.last_call;
        r->use_count = 1;
        p->ids.push_back(id);
    }
    body->end_bytecode_index = record_total;
}

static void free_placement_body(Placement_Body* p) {
    dynamic_array_free(&p->lists.scopes);
    dynamic_array_free(&p->lists.calls);
}

// "R15", "X2", or the stack offset as a number.
static std::string place_of(Register_Id id) {
    Register* r = get_register(id);
    if (r->in_machine_register) return (r->machine_class == MACHINE_CLASS_INTEGER ? "R" : "X") + std::to_string(r->machine_number);
    return std::to_string(r->data_offset);
}

TEST(RegisterPlacement, Cases) {
    const u8 I = HINT_INTEGER, F = HINT_FLOAT, M = HINT_MEMORY;
    std::vector<Test_Register> nine_integers, fifteen_floats;
    std::vector<std::string> nine_places, fifteen_places;
    for (u32 k = 0; k < 9; k++) {
        nine_integers.push_back({0, 5, 8, 8, I});
        nine_places.push_back(k < 8 ? "R" + std::to_string(15 - k) : "640");
    }
    for (u32 k = 0; k < 15; k++) {
        fifteen_floats.push_back({0, 5, 8, 8, F});
        fifteen_places.push_back(k < 14 ? "X" + std::to_string(15 - k) : "640");
    }
    struct Case {
        const char* name;
        std::vector<Test_Register> registers;
        std::vector<u32> calls;
        std::vector<std::string> places;
        u64 frame;
        std::vector<u16> call_masks;
        u8 target_os = TARGET_OS_LINUX;
    };
    const Case cases[] = {
        {"a register ending at a call is live across it, and one starting there",
         {{10, 12, 8, 8, I}, {12, 14, 8, 8, I}, {2, 11, 8, 8, I}},
         {12},
         {"R14", "R15", "R15"},
         648,
         {(1u << 15) | (1u << 14)}},
        {"an argument lives through its call", {{0, 3, 8, 8, I, 6}}, {5}, {"R15"}, 648, {1u << 15}},
        {"the ninth integer register goes to the stack", nine_integers, {}, nine_places, 648, {}},
        {"the fifteenth float register goes to the stack", fifteen_floats, {}, fifteen_places, 648, {}},
        {"an integer register never takes a float one", nine_integers, {}, nine_places, 648, {}},
        {"no hint: the stack", {{0, 1, 8, 8, M}, {0, 1, 4, 4, 0}}, {}, {"640", "648"}, 664, {}},
        {"a released slot is used again", {{0, 1, 8, 8, M}, {2, 3, 8, 8, M}}, {}, {"640", "640"}, 648, {}},
        {"a smaller register takes the front of a gap", {{0, 1, 8, 8, M}, {2, 3, 4, 4, M}, {2, 3, 4, 4, M}},
         {}, {"640", "640", "644"}, 648, {}},
        {"the largest aligned gap is cut", {{0, 1, 16, 16, M}, {0, 1, 32, 16, M}, {2, 3, 8, 8, M}},
         {}, {"640", "656", "656"}, 696, {}},
        {"an exact aligned gap is taken", {{0, 1, 1, 1, M}, {0, 1, 8, 8, M}, {2, 3, 8, 8, M}},
         {}, {"640", "648", "648"}, 664, {}},
        {"a gap whose start is off the alignment is passed over", {{0, 5, 1, 1, M}, {0, 5, 8, 8, M}, {1, 5, 4, 4, M}},
         {}, {"640", "648", "656"}, 664, {}},
        {"a frame of 648 stays", {{0, 1, 8, 8, M}}, {}, {"640"}, 648, {}},
        {"a frame of 656 becomes 664", {{0, 1, 16, 8, M}}, {}, {"640"}, 664, {}},
        {"an empty frame on Linux", {}, {}, {}, 648, {}},
        {"an empty frame on Windows", {}, {}, {}, 640, {}, TARGET_OS_WINDOWS},
        {"a frame of 656 on Windows", {{0, 1, 16, 8, M}}, {}, {"640"}, 656, {}, TARGET_OS_WINDOWS},
        {"a register kept alive lives to its scope's end", {{0, 1, 8, 8, I | HINT_STAY_ALIVE}, {5, 6, 8, 8, I}},
         {}, {"R15", "R14"}, 648, {}},
        {"without being kept alive its register is free again", {{0, 1, 8, 8, I}, {5, 6, 8, 8, I}},
         {}, {"R15", "R15"}, 648, {}},
        {"a register left unplaced", {{0, 1, 8, 8, I | HINT_NOT_PLACED}, {0, 1, 8, 8, I}}, {}, {"0", "R15"}, 648, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(reset_test_program(PLACEMENT_SOURCE));
        global_compiler_state.target_os = c.target_os;
        Placement_Body p;
        make_placement_body(&p, c.registers, c.calls, 20);
        ASSERT_TRUE(place_body_registers(p.body, &p.lists, &global_compiler_state.bytecode));
        std::vector<std::string> places;
        for (Register_Id id : p.ids) places.push_back(place_of(id));
        EXPECT_EQ(places, c.places);
        EXPECT_EQ(p.body->stack_size, c.frame);
        for (size_t k = 0; k < c.call_masks.size(); k++) EXPECT_EQ(record(c.calls[k])->live_gp_mask, c.call_masks[k]);
        free_placement_body(&p);
    }
    global_compiler_state.target_os = TARGET_OS_LINUX;
}

TEST(RegisterPlacement, FramesPastTheLimitFailAtTheBody) {
    const std::string source = "$big :: () {\n    a: [2000000] u8;\n}\n#on_load {\n    b: [2000000] u8;\n}\n";
    ASSERT_TRUE(reset_test_program(source));
    Sub_Program* big = add_test_sub_program("big", 1);
    Token opener = {};
    opener.text = (u8*)source.data() + source.find('{');
    opener.length = 1;
    opener.location = line_trace(1);
    opener.location.text_start = opener.text;
    opener.location.length = 1;
    big->body_token = &opener;
    Scope* entry = add_test_entry_block(&global_compiler_state.on_load_scope, 4);

    for (Scope* body : {big->body_scope, entry}) {
        Placement_Body p;
        p.body = body;
        init_dynamic_array(&p.lists.scopes, sizeof(Scope*));
        init_dynamic_array(&p.lists.calls, sizeof(u32));
        *(Scope**)dynamic_array_add_fast(&p.lists.scopes) = body;
        Register_Id id = allocate_a_register(body, 2000000, nullptr, 1);
        get_register(id)->use_count = 1;
        EXPECT_FALSE(place_body_registers(body, &p.lists, &global_compiler_state.bytecode));
        free_placement_body(&p);
    }
    ASSERT_EQ(compile_errors.count, 2u);
    EXPECT_EQ(compile_error_messages()[0], "'big' needs 2,000,648 bytes of stack, more than the 1,048,576 allowed.");
    EXPECT_EQ(get_compile_error(0)->line, 1u);
    EXPECT_EQ(get_compile_error(0)->column, 11u);  // counted from 0
    EXPECT_EQ(compile_error_messages()[1], "'#on_load' needs 2,000,648 bytes of stack, more than the 1,048,576 allowed.");
    EXPECT_EQ(get_compile_error(1)->line, 4u);
}

// Generated bodies: lifetimes, hints, sizes and calls drawn from a seed.
TEST(RegisterPlacement, RandomBodies) {
    u32 base = (u32)test_seed(2236);
    for (u32 round = 0; round < 300; round++) {
        u32 seed = base + round;
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        auto draw = [&](u32 n) { return (u32)(random() % n); };
        u32 records = 4 + draw(60);
        std::vector<Test_Register> registers;
        u32 count = draw(40);
        static const u32 sizes[] = {1, 2, 4, 8, 12, 16, 24, 32, 40};
        static const u8 hints[] = {HINT_MEMORY, HINT_INTEGER, HINT_FLOAT, HINT_INTEGER | HINT_STAY_ALIVE, HINT_FLOAT | HINT_STAY_ALIVE,
                                   HINT_INTEGER | HINT_FLOAT, HINT_MEMORY | HINT_STAY_ALIVE};
        for (u32 k = 0; k < count; k++) {
            u32 first = draw(records);
            u32 last = first + draw(records - first);
            u32 size = sizes[draw(9)];
            u32 alignment = 1u << draw(5);
            u32 last_call = draw(3) == 0 ? first + draw(records - first) : 0;
            registers.push_back({first, last, size, alignment, hints[draw(7)], last_call});
        }
        std::vector<u32> calls;
        for (u32 k = draw(6); k > 0; k--) calls.push_back(draw(records));
        std::sort(calls.begin(), calls.end());
        calls.erase(std::unique(calls.begin(), calls.end()), calls.end());

        ASSERT_TRUE(reset_test_program(PLACEMENT_SOURCE));
        Placement_Body p;
        make_placement_body(&p, registers, calls, records);
        ASSERT_TRUE(place_body_registers(p.body, &p.lists, &global_compiler_state.bytecode));

        // Each register's lifetime as the placement must honour it.
        std::vector<std::pair<u32, u32>> life;
        for (const Test_Register& t : registers) {
            u32 end = std::max(t.last, t.last_call);
            if (t.hints & HINT_STAY_ALIVE) end = std::max(t.last, records - 1);
            life.push_back({t.first, end});
        }
        u64 frame = p.body->stack_size;
        EXPECT_EQ(frame % 16, 8u);
        for (size_t a = 0; a < registers.size(); a++) {
            Register* x = get_register(p.ids[a]);
            ASSERT_TRUE(x->placed);
            if (x->in_machine_register) {
                EXPECT_TRUE(x->machine_class == MACHINE_CLASS_INTEGER ? (registers[a].hints & HINT_INTEGER)
                                                                       : (registers[a].hints & HINT_FLOAT) && !(registers[a].hints & HINT_INTEGER));
                EXPECT_GE(x->machine_number, x->machine_class == MACHINE_CLASS_INTEGER ? 8 : 2);
                u16 used = x->machine_class == MACHINE_CLASS_INTEGER ? p.body->integer_registers_used : p.body->float_registers_used;
                EXPECT_TRUE(used & (1u << x->machine_number));
            } else {
                EXPECT_EQ(x->data_offset % registers[a].alignment, 0u);
                EXPECT_GE(x->data_offset, FRAME_RESERVED_SIZE);
                EXPECT_LE(x->data_offset + x->size, frame);
            }
            // Nothing live at once shares a place.
            for (size_t b = a + 1; b < registers.size(); b++) {
                if (life[a].second < life[b].first || life[b].second < life[a].first) continue;
                Register* y = get_register(p.ids[b]);
                SCOPED_TRACE("registers " + std::to_string(a) + " and " + std::to_string(b));
                if (x->in_machine_register && y->in_machine_register) {
                    EXPECT_FALSE(x->machine_class == y->machine_class && x->machine_number == y->machine_number);
                } else if (!x->in_machine_register && !y->in_machine_register) {
                    EXPECT_FALSE(x->data_offset < y->data_offset + y->size && y->data_offset < x->data_offset + x->size);
                }
            }
            // A register that asked for a machine register got one unless its class was full
            // at its start (registers ending there still count: ends come after starts).
            if (!x->in_machine_register && (registers[a].hints & (HINT_INTEGER | HINT_FLOAT))) {
                b8 integer = registers[a].hints & HINT_INTEGER;
                u32 busy = 0;
                for (size_t b = 0; b < registers.size(); b++) {
                    Register* y = get_register(p.ids[b]);
                    if (b == a || !y->in_machine_register || (y->machine_class == MACHINE_CLASS_INTEGER) != integer) continue;
                    // Starts at one time are taken in the order the registers were made.
                    b8 started = life[b].first < life[a].first || (life[b].first == life[a].first && b < a);
                    if (started && life[b].second >= life[a].first) busy++;
                }
                EXPECT_EQ(busy, integer ? 8u : 14u) << "register " << a;
            }
        }
        // Each call's masks: exactly the machine registers live at it.
        for (u32 call : calls) {
            u16 gp = 0, xmm = 0;
            for (size_t a = 0; a < registers.size(); a++) {
                Register* x = get_register(p.ids[a]);
                if (!x->in_machine_register || life[a].first > call || life[a].second < call) continue;
                (x->machine_class == MACHINE_CLASS_INTEGER ? gp : xmm) |= (u16)(1u << x->machine_number);
            }
            EXPECT_EQ(record(call)->live_gp_mask, gp) << "call " << call;
            EXPECT_EQ(record(call)->live_xmm_mask, xmm) << "call " << call;
        }
        free_placement_body(&p);
        if (HasFailure()) break;
    }
}
