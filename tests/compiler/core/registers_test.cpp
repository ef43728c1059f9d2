#include <gtest/gtest.h>

#include "compiler_test_helpers.h"

TEST(Registers, Match) {
    Scope* a = (Scope*)0x1000;
    Scope* b = (Scope*)0x2000;
    struct Case { const char* name; Register_Id x; Register_Id y; bool match; };
    const Case cases[] = {
        {"globals with other owner words", {a, 3, 3, 3, {0, 0}}, {b, 3, 3, 3, {0, 0}}, true},
        {"locals of two scopes", {a, 3, 4, 4, {0, 0}}, {b, 3, 4, 4, {0, 0}}, false},
        {"locals of one scope", {a, 3, 4, 4, {0, 0}}, {a, 3, 4, 4, {0, 0}}, true},
        {"other index", {0, 3, 1, 1, {0, 0}}, {0, 4, 1, 1, {0, 0}}, false},
        {"a row and a view of the same index", {0, 3, 1, 1, {0, 0}}, {0, 3, 1, 6, {0, 0}}, false},
        {"constant and type tables", {0, 3, 1, 1, {0, 0}}, {0, 3, 2, 1, {0, 0}}, false},
        {"invalid ids", INVALID_REGISTER_ID, {a, 0xFFFFFFFFu, 0, 0, {0, 0}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(registers_match(c.x, c.y), c.match);
    }
    EXPECT_FALSE(register_id_is_valid(Register_Id{a, 0xFFFFFFFFu, 0, 0, {0, 0}}));
    EXPECT_TRUE(register_id_is_valid(Register_Id{0, 0xFFFFFFFFu, 4, 0, {0, 0}}));
}

TEST(Registers, HintsByType) {
    ASSERT_TRUE(reset_with_basic_types());
    Scope* body = _add_a_scope(global_compiler_state.global_scope, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    Identifier* colour = add_a_basic_type(STR("Colour"), TYPE_ENUM, 0, 1);
    colour->size = 4;
    Identifier* small_struct = add_test_struct(global_compiler_state.global_scope, "Small", {{"x", basic_type(BASIC_TYPE_U32)}});
    Identifier* signature = add_test_struct(global_compiler_state.global_scope, "f");
    signature->flags = TYPE_SUB_PROGRAM | IDENTIFIER_CONSTANT;
    signature->size = 8;
    struct Case { const char* name; Identifier* type; u8 hints; };
    const Case cases[] = {
        {"no type", nullptr, HINT_MEMORY},
        {"u8", basic_type(BASIC_TYPE_U8), HINT_INTEGER},
        {"b8", basic_type(BASIC_TYPE_B8), HINT_INTEGER},
        {"s64", basic_type(BASIC_TYPE_S64), HINT_INTEGER},
        {"enum", colour, HINT_INTEGER},
        {"sub-program", signature, HINT_INTEGER},
        {"f32", basic_type(BASIC_TYPE_F32), HINT_FLOAT},
        {"f64", basic_type(BASIC_TYPE_F64), HINT_FLOAT},
        {"Type", basic_type(BASIC_TYPE_TYPE), HINT_INTEGER},
        {"address of f64", type_to_memory_address_of_type(basic_type(BASIC_TYPE_F64), 1), HINT_INTEGER},
        {"address of String", type_to_memory_address_of_type(basic_type(BASIC_TYPE_STRING), 1), HINT_INTEGER},
        {"small struct", small_struct, HINT_MEMORY},
        {"String", basic_type(BASIC_TYPE_STRING), HINT_MEMORY},
        {"void", basic_type(BASIC_TYPE_VOID), HINT_MEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        u32 size = c.type ? c.type->size : 4;
        Register_Id id = allocate_a_register(body, size, c.type, 4);
        Register* row = get_register(id);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->hints, c.hints);
        EXPECT_EQ(row->kind, REGISTER_LOCAL);
        EXPECT_EQ(row->owner, body);
        EXPECT_EQ(row->size, size);
        EXPECT_EQ(row->alignment, 4u);
        EXPECT_EQ(id.owner, body);
        EXPECT_TRUE(registers_match(get_register_id(row, REGISTER_LOCAL), id));
    }
}

TEST(Registers, ViewsOfViews) {
    ASSERT_TRUE(reset_with_basic_types());
    Scope* global = global_compiler_state.global_scope;
    Scope* body = _add_a_scope(global, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    Scope* defer = _add_a_scope(body, SCOPE_DEFER, Trace{});
    defer->defer_owner = body;

    // A local asked for in a defer block belongs to the scope that replays it.
    Register_Id outer = allocate_a_register(defer, 32, basic_type(BASIC_TYPE_U64), 8);
    EXPECT_EQ(outer.owner, body);
    force_stay_alive(outer);
    EXPECT_EQ(get_register(outer)->hints, HINT_INTEGER | HINT_STAY_ALIVE);
    get_register(outer)->data_offset = 64;  // as placement gives it
    Register_Id middle = allocate_within_register(outer, 8, 16);
    Register_Id inner = allocate_within_register(middle, 4, 4);
    EXPECT_EQ(inner.owner, body);
    EXPECT_EQ(inner.table, REGISTER_LOCAL);
    EXPECT_EQ(inner.kind, REGISTER_VIEW);
    EXPECT_EQ(get_register(outer)->hints, HINT_MEMORY | HINT_STAY_ALIVE);
    EXPECT_EQ(get_first_non_view_register(inner), get_register(outer));
    EXPECT_TRUE(registers_match(get_register(inner)->base, middle));
    EXPECT_EQ(get_register_offset_in_stack_data(inner), 64u + 8 + 4);
    EXPECT_EQ(get_register_size(inner), 4u);
    EXPECT_EQ(get_register_constant_data(inner), nullptr);  // a local has no staged octets
    EXPECT_FALSE(is_a_machine_register(inner));
    get_register(outer)->in_machine_register = 1;
    EXPECT_TRUE(is_a_machine_register(outer));
    EXPECT_FALSE(is_a_machine_register(inner));  // asked of the view's own id
    // A view's hints are its end's: the whole byte is replaced, stay-alive included.
    clear_and_set_allocation_hints(inner, HINT_FLOAT);
    EXPECT_EQ(get_register(outer)->hints, HINT_FLOAT);
    force_stay_alive(inner);
    EXPECT_EQ(get_register(outer)->hints, HINT_FLOAT);
    EXPECT_EQ(get_register(inner)->hints, HINT_STAY_ALIVE);

    // Views of constant data stage their octets at the base's plus the offsets.
    Register_Id constant = allocate_constant_data(24, 8);
    Register_Id constant_middle = allocate_within_register(constant, 8, 16);
    Register_Id constant_inner = allocate_within_register(constant_middle, 4, 4);
    EXPECT_EQ(constant_inner.owner, nullptr);
    EXPECT_EQ(constant_inner.table, REGISTER_CONSTANT_DATA);
    EXPECT_EQ(get_register_constant_data(constant_inner), get_register_constant_data(constant) + 12);
    EXPECT_EQ(get_register(constant_inner)->data, get_register_constant_data(constant) + 12);
    EXPECT_EQ(maybe_get_register_constant_data(constant_inner), get_register_constant_data(constant) + 12);
    EXPECT_EQ(get_register_constant_data_at_offset(constant_inner, 2), get_register_constant_data(constant) + 14);
    EXPECT_EQ(get_register_offset_in_constant_data(constant_inner), get_register(constant)->data_offset + 12);

    // Globals: image offsets aligned, staged octets packed, views in the global table.
    Register_Id byte = allocate_a_register(global, 1, basic_type(BASIC_TYPE_U8), 1);
    Register_Id word = allocate_a_register(global, 8, basic_type(BASIC_TYPE_U64), 8);
    EXPECT_EQ(byte.table, REGISTER_GLOBAL_DATA);
    EXPECT_EQ(byte.owner, nullptr);
    EXPECT_EQ(get_register_offset_in_global_data(byte), 0u);
    EXPECT_EQ(get_register_offset_in_global_data(word), 8u);
    EXPECT_EQ(get_register_global_data(word), get_register_global_data(byte) + 1);
    EXPECT_EQ(maybe_get_register_constant_data(word), nullptr);
    Register_Id global_view = allocate_within_register(word, 4, 4);
    EXPECT_EQ(global_view.table, REGISTER_GLOBAL_DATA);
    EXPECT_EQ(get_register_offset_in_global_data(global_view), 12u);
    EXPECT_EQ(global_compiler_state.global_data_size, 16u);

    // Call data and the views of its parameters.
    Identifier* sub_program = add_identifier(global, (u8*)"f", 1, IDENTIFIER_KIND_CONSTANT, Trace{});
    sub_program->body_scope = body;
    body->sub_program = sub_program;
    sub_program->register_id = allocate_a_register_for_call_data(global, sub_program, 24);
    Register* block = get_register(sub_program->register_id);
    EXPECT_EQ(block->kind, REGISTER_CALL_DATA);
    EXPECT_EQ(block->sub_program_scope, body);
    EXPECT_EQ(block->owner, global);
    Identifier* parameter = add_identifier(body, (u8*)"p", 1, IDENTIFIER_KIND_PARAMETER, Trace{});
    parameter->call_data_offset = 16;
    Register_Id parameter_view = make_register_for_sub_program_param(body, parameter, 8);
    EXPECT_EQ(parameter_view.table, REGISTER_CALL_DATA);
    EXPECT_EQ(get_register_offset_in_call_data(allocate_within_register(parameter_view, 4, 2)), 20u);

    EXPECT_EQ(get_register(INVALID_REGISTER_ID), nullptr);
    EXPECT_EQ(get_register(Register_Id{0, 0, 7, 7, {0, 0}}), nullptr);
    EXPECT_EQ(get_register(Register_Id{0, 1000, 3, 3, {0, 0}}), nullptr);
    EXPECT_FALSE(register_id_is_valid(allocate_within_register(INVALID_REGISTER_ID, 0, 1)));
}

TEST(Registers, LifetimePositions) {
    ASSERT_TRUE(reset_with_basic_types());
    Scope* global = global_compiler_state.global_scope;
    Scope* body = _add_a_scope(global, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    Scope* loop = _add_a_scope(body, SCOPE_LOOP, Trace{});
    Scope* block = _add_a_scope(loop, 0, Trace{});
    Scope* defer = _add_a_scope(block, SCOPE_DEFER, Trace{});
    defer->defer_owner = loop;
    Scope* inlined = _add_a_scope(block, INLINED_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    inlined->call_site_scope = block;
    Scope* in_inlined = _add_a_scope(inlined, 0, Trace{});
    Scope* entry = _add_a_scope(global, ENTRY_BLOCK_SCOPE_FLAGS, Trace{});
    Scope* in_entry = _add_a_scope(entry, 0, Trace{});
    global->instructions.count = 1000;
    body->instructions.count = 100;
    loop->instructions.count = 20;
    block->instructions.count = 3;
    defer->instructions.count = 5;
    inlined->instructions.count = 7;
    in_inlined->instructions.count = 1;
    entry->instructions.count = 40;
    in_entry->instructions.count = 2;
    struct Case { const char* name; Scope* scope; u32 position; };
    const Case cases[] = {
        {"a sub-program body ends the walk", body, 100},
        {"nested blocks add up", block, 123},
        {"a defer block counts on in its replaying scope", defer, 5 + 120},
        {"an inlined body counts on at its call site", in_inlined, 1 + 7 + 123},
        {"an entry block ends the walk", in_entry, 42},
        {"the global scope", global, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(get_current_lifetime_id(c.scope), c.position);
    }
}

static std::vector<Memory_Gap> gaps_of(Dynamic_Array* a) {
    return std::vector<Memory_Gap>((Memory_Gap*)a->data, (Memory_Gap*)a->data + a->count);
}

static bool operator==(const Memory_Gap& a, const Memory_Gap& b) { return a.start == b.start && a.size == b.size; }

TEST(Registers, MemoryGaps) {
    struct Case {
        const char* name;
        std::vector<Memory_Gap> gaps;
        u64 size;
        u64 alignment;
        s64 offset;
        std::vector<Memory_Gap> left;
    };
    const Case cases[] = {
        {"an exact aligned gap is taken at once", {{0, 32}, {40, 8}, {64, 8}}, 8, 8, 40, {{0, 32}, {64, 8}}},
        {"an exact gap that is not aligned is not exact; the largest wins", {{4, 8}, {16, 24}, {48, 16}}, 8, 8, 16,
         {{4, 8}, {48, 16}, {24, 16}}},
        {"of two equally large gaps the earlier wins", {{0, 16}, {32, 16}}, 4, 4, 0, {{32, 16}, {4, 12}}},
        {"an aligned start splits the gap in three", {{4, 28}}, 8, 8, 8, {{4, 4}, {16, 16}}},
        {"the largest gap wins over a closer fit", {{0, 12}, {16, 64}}, 10, 2, 16, {{0, 12}, {26, 54}}},
        {"no gap holds it once aligned", {{4, 8}, {20, 6}}, 8, 8, -1, {{4, 8}, {20, 6}}},
        {"no gaps", {}, 1, 1, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dynamic_Array gaps;
        init_dynamic_array(&gaps, sizeof(Memory_Gap));
        for (const Memory_Gap& g : c.gaps) *(Memory_Gap*)dynamic_array_add_fast(&gaps) = g;
        EXPECT_EQ(try_to_allocate_on_a_memory_gap(&gaps, c.size, c.alignment), c.offset);
        EXPECT_EQ(gaps_of(&gaps), c.left);
        dynamic_array_free(&gaps);
    }
}

TEST(Registers, GrabbingFreePlaces) {
    ASSERT_TRUE(reset_compiler());
    struct Case {
        const char* name;
        u16 integers_in_use;
        u16 floats_in_use;
        u8 hints;
        u32 size;
        u32 alignment;
        Register_Placement expected;
        u16 integers_after;
        u16 floats_after;
    };
    const u16 R8_TO_R15 = 0xFF00;
    const Case cases[] = {
        {"integer r15 first", 0, 0, HINT_INTEGER, 8, 8, {0, MACHINE_CLASS_INTEGER, 15, 1, 1}, 0x8000, 0},
        {"the highest free", 0x8000 | 0x4000, 0, HINT_INTEGER, 8, 8, {0, MACHINE_CLASS_INTEGER, 13, 1, 1}, 0xE000, 0},
        {"integer wins over float", 0, 0, HINT_INTEGER | HINT_FLOAT, 8, 8, {0, MACHINE_CLASS_INTEGER, 15, 1, 1}, 0x8000, 0},
        {"float xmm15 first", 0, 0, HINT_FLOAT, 4, 4, {0, MACHINE_CLASS_FLOAT, 15, 1, 1}, 0, 0x8000},
        {"float down to xmm2", 0, 0xFFF8, HINT_FLOAT, 8, 8, {0, MACHINE_CLASS_FLOAT, 2, 1, 1}, 0, 0xFFFC},
        {"r8 to r15 in use: the first exact place", R8_TO_R15, 0, HINT_INTEGER, 8, 8, {16, 0, 0, 0, 1}, R8_TO_R15, 0},
        {"xmm2 to xmm15 in use: the smallest larger place", 0, 0xFFFC, HINT_FLOAT, 5, 4, {40, 0, 0, 0, 1}, 0, 0xFFFC},
        {"memory: an exact place that is not aligned is passed over", 0, 0, HINT_MEMORY, 4, 8, {40, 0, 0, 0, 1}, 0, 0},
        {"memory: the one large place", 0, 0, HINT_MEMORY, 16, 16, {48, 0, 0, 0, 1}, 0, 0},
        {"memory: nothing fits", 0, 0, HINT_MEMORY, 64, 8, {0, 0, 0, 0, 0}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Register_Allocation_State state = {};
        init_dynamic_array(&state.free_places, sizeof(Free_Stack_Place));
        // At 0 two octets, at 4 four (not aligned for 8), at 16 eight, at 40 six, at 48 thirty-two.
        const Free_Stack_Place places[] = {{0, 2, 0}, {4, 4, 0}, {16, 8, 0}, {40, 6, 0}, {48, 32, 0}};
        for (const Free_Stack_Place& p : places) *(Free_Stack_Place*)dynamic_array_add_fast(&state.free_places) = p;
        state.integer_registers_in_use = c.integers_in_use;
        state.float_registers_in_use = c.floats_in_use;
        Register_Placement placement = try_to_grab_a_free_register(&state, c.size, c.alignment, c.hints);
        EXPECT_EQ(placement.found, c.expected.found);
        EXPECT_EQ(placement.offset, c.expected.offset);
        EXPECT_EQ(placement.machine_class, c.expected.machine_class);
        EXPECT_EQ(placement.machine_number, c.expected.machine_number);
        EXPECT_EQ(placement.in_machine_register, c.expected.in_machine_register);
        EXPECT_EQ(state.integer_registers_in_use, c.integers_after);
        EXPECT_EQ(state.float_registers_in_use, c.floats_after);
        dynamic_array_free(&state.free_places);
    }

    // A place used from its front moves on; an exact one leaves the list.
    Register_Allocation_State state = {};
    init_dynamic_array(&state.free_places, sizeof(Free_Stack_Place));
    *(Free_Stack_Place*)dynamic_array_add_fast(&state.free_places) = {8, 24, 0};
    EXPECT_EQ(try_to_grab_a_free_register(&state, 8, 8, HINT_MEMORY).offset, 8u);
    EXPECT_EQ(((Free_Stack_Place*)state.free_places.data)->offset, 16u);
    EXPECT_EQ(((Free_Stack_Place*)state.free_places.data)->size, 16);
    EXPECT_EQ(try_to_grab_a_free_register(&state, 16, 8, HINT_MEMORY).offset, 16u);
    EXPECT_EQ(state.free_places.count, 0u);
    // Another target keeps every register on the stack.
    global_compiler_state.target_platform = TARGET_PLATFORM_BYTECODE;
    EXPECT_EQ(try_to_grab_a_free_register(&state, 8, 8, HINT_INTEGER).found, 0);
    EXPECT_EQ(state.integer_registers_in_use, 0);
    global_compiler_state.target_platform = TARGET_PLATFORM_AMD64;
    dynamic_array_free(&state.free_places);
}
