#include <gtest/gtest.h>

#include "compiler/bytecode/bytecode.h"
#include "parser_test_helpers.h"

static Value make_test_constant(u64 mask, u64 data, u64 length = 0) {
    Value value = {};
    value.kind = VALUE_CONSTANT;
    value.constant.mask = mask;
    value.constant.data = data;
    value.constant.length = length;
    return value;
}

static u64 real_bits(f64 real) {
    u64 bits;
    memcpy(&bits, &real, sizeof(bits));
    return bits;
}

TEST(Conditions, ConstantTruth) {
    struct Case {
        const char* name;
        Value value;
        bool zero, non_zero;
    };
    const Case cases[] = {
        {"integer 0", make_test_constant(CONSTANT_UNSIGNED, 0), true, false},
        {"integer 7", make_test_constant(CONSTANT_SIGNED, 7), false, true},
        {"typed 0", make_test_constant(CONSTANT_TYPED_UNSIGNED, 0), true, false},
        {"0.0", make_test_constant(CONSTANT_REAL, real_bits(0.0)), true, false},
        {"-0.0 compares equal to 0.0", make_test_constant(CONSTANT_REAL, real_bits(-0.0)), true, false},
        {"0.5 by value, not by its low bits", make_test_constant(CONSTANT_REAL, real_bits(0.5)), false, true},
        {"1.0", make_test_constant(CONSTANT_TYPED_REAL, real_bits(1.0)), false, true},
        {"empty string, whatever its text's address", make_test_constant(CONSTANT_STRING, 0x1000, 0), true, false},
        {"string of one", make_test_constant(CONSTANT_STRING, 0, 1), false, true},
        {"aggregate", make_test_constant(CONSTANT_TYPED_TYPE_INFO, 0), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Value value = c.value;
        EXPECT_EQ(constant_is_zero(&value.constant), c.zero);
        EXPECT_EQ(constant_is_non_zero(&value.constant), c.non_zero);
        EXPECT_EQ(value_is_constant_zero(&value), c.zero);
    }
    Value dynamic = {};
    dynamic.kind = VALUE_REGISTER;
    EXPECT_FALSE(value_is_constant_zero(&dynamic));
}

// Parts from a spaced notation: "1", "0", "0.5" constants, any other word a run-time value,
// "&&", "||", and "(" ")" for groups.
static void make_parts(Bucket_Array* parts, const std::string& text) {
    init_bucket_array(parts, &condition_parts_pool);
    std::istringstream words(text);
    std::string word;
    u16 level = 0;
    while (words >> word) {
        if (word == "(") { level++; continue; }
        if (word == ")") { level--; continue; }
        Condition_Part* part = (Condition_Part*)bucket_array_append(parts);
        part->level = level;
        if (word == "&&" || word == "||") {
            part->part_kind = CONDITION_PART_OPERATOR;
            part->operator_bit = word == "&&" ? OP_LOGICAL_AND : OP_LOGICAL_OR;
        } else if (word == "0.5") {
            part->value = make_test_constant(CONSTANT_REAL, real_bits(0.5));
        } else if (isdigit((unsigned char)word[0])) {
            part->value = make_test_constant(CONSTANT_UNSIGNED, std::stoull(word));
        } else {
            part->value.kind = VALUE_REGISTER;
        }
    }
}

static std::string ignored_marks(Bucket_Array* parts) {
    std::string marks;
    for (Condition_Part* part = (Condition_Part*)parts->first_element; part; part = part->next) marks += part->ignored ? 'i' : '.';
    return marks;
}

TEST(Conditions, Folding) {
    struct Case {
        const char* condition;
        Condition_Truth truth;
        const char* ignored;  // one mark a part: i ignored, . kept
    };
    const Case cases[] = {
        {"1", CONDITION_TRUE, "i"},
        {"0", CONDITION_FALSE, "i"},
        {"x", CONDITION_DYNAMIC, "."},
        {"1 && x", CONDITION_DYNAMIC, "ii."},
        {"0 && x", CONDITION_FALSE, "iii"},
        {"1 || x", CONDITION_TRUE, "iii"},
        {"0 || x", CONDITION_DYNAMIC, "ii."},
        {"0.5 && x", CONDITION_DYNAMIC, "ii."},
        {"x && 1", CONDITION_DYNAMIC, ".ii"},
        {"x || 0", CONDITION_DYNAMIC, ".ii"},
        {"x && 0", CONDITION_DYNAMIC, "..."},  // x runs for what it does; 0 is tested after it
        {"x || 1", CONDITION_DYNAMIC, "..."},
        {"x && y || z", CONDITION_DYNAMIC, "....."},
        {"x || 0 && y", CONDITION_DYNAMIC, ".ii.."},
        {"x || 1 && y", CONDITION_DYNAMIC, "....."},
        {"1 && 0 || x", CONDITION_DYNAMIC, "iiii."},
        // Groups fold on their own before the level around them sees them.
        {"0 && ( x || 1 )", CONDITION_FALSE, "iiiii"},
        {"( x || 1 ) && y", CONDITION_DYNAMIC, "....."},
        {"( x && 0 ) || y", CONDITION_DYNAMIC, "....."},
        {"( x || y ) && 1", CONDITION_DYNAMIC, "...ii"},
        {"x && ( 0 || y )", CONDITION_DYNAMIC, "..ii."},
        {"( ( x || 1 ) && 0 ) || y", CONDITION_DYNAMIC, "......."},
        // A group that decides after a run-time part: its first part stands for it.
        {"x && ( 1 && 0 )", CONDITION_DYNAMIC, "...ii"},
        {"0 && ( x && 0 )", CONDITION_FALSE, "iiiii"},
        {"( x || y ) && ( z || w )", CONDITION_DYNAMIC, "......."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.condition);
        ASSERT_TRUE(reset_compiler());
        Bucket_Array parts;
        make_parts(&parts, c.condition);
        EXPECT_EQ(fold_condition_constants(&parts), c.truth);
        EXPECT_EQ(ignored_marks(&parts), c.ignored);
    }
}

TEST(Conditions, IgnoringStopsAtTheStopPartOrTheCount) {
    ASSERT_TRUE(reset_compiler());
    Bucket_Array parts;
    make_parts(&parts, "a && b || c");
    Condition_Part* first = (Condition_Part*)parts.first_element;
    Condition_Part* third = first->next->next;
    EXPECT_EQ(ignore_all_condition_parts_up_to(third, 0xFFFFFFFF, first), third);
    EXPECT_EQ(ignored_marks(&parts), "ii...");
    EXPECT_EQ(ignore_all_condition_parts_up_to(0, 2, third), third->next->next);
    EXPECT_EQ(ignored_marks(&parts), "iiii.");
}

//~ Values as conditions

struct Condition_Fixture {
    Scope* scope;
    Identifier* s32_type;
    Identifier* byte_address;
};

static Condition_Fixture start_condition_fixture() {
    Condition_Fixture f = {};
    EXPECT_TRUE(reset_with_basic_types());
    f.scope = _add_a_scope(global_compiler_state.global_scope, 0, Trace{});
    f.s32_type = basic_type(BASIC_TYPE_S32);
    f.byte_address = type_to_memory_address_of_type(basic_type(BASIC_TYPE_U8), 1);
    return f;
}

static Value make_register_value(Scope* scope, Identifier* type, u8 extra_kind = 0) {
    Value value;
    make_dynamic_value(&value, scope, type, Trace{});
    value.kind = (u8)(VALUE_REGISTER | extra_kind);
    return value;
}

TEST(Conditions, AComparisonStillInTheFlagsOnlyChoosesTheJump) {
    struct Case {
        u64 operator_bit;
        u8 jump, negated_jump;
    };
    const Case cases[] = {
        {OP_NOT_EQUAL, BYTECODE_JUMP_EQUAL, BYTECODE_JUMP_NOT_EQUAL},
        {OP_LESS, BYTECODE_JUMP_GREATER_EQUAL, BYTECODE_JUMP_LESS},
        {OP_LESS_EQUAL, BYTECODE_JUMP_GREATER, BYTECODE_JUMP_LESS_EQUAL},
        {OP_GREATER, BYTECODE_JUMP_LESS_EQUAL, BYTECODE_JUMP_GREATER},
        {OP_GREATER_EQUAL, BYTECODE_JUMP_LESS, BYTECODE_JUMP_GREATER_EQUAL},
        {OP_EQUAL, BYTECODE_JUMP_NOT_EQUAL, BYTECODE_JUMP_EQUAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(operator_to_c_string(c.operator_bit));
        Condition_Fixture f = start_condition_fixture();
        for (u8 negated : {0, 1}) {
            Value value = make_register_value(f.scope, basic_type(BASIC_TYPE_B8), negated ? VALUE_NEGATED : 0);
            u8 jump = 0;
            EXPECT_TRUE(adjust_instructions_for_condition(f.scope, c.operator_bit, 1, &jump, &value));
            EXPECT_EQ(jump, negated ? c.negated_jump : c.jump);
        }
        EXPECT_EQ(f.scope->instructions.count, 0u);
    }
}

// The types the cases name, made in the current compile: "Vec" has no designated member,
// "Wrapped" its b8 "on" at offset 4 as #as member.
static Identifier* get_case_type(Condition_Fixture* f, const std::string& name) {
    Scope* global = global_compiler_state.global_scope;
    if (name == "Vec") return add_test_struct(global, "Vec", {{"flags", f->s32_type}, {"count", f->s32_type}});
    if (name == "Wrapped") {
        Identifier* type = add_test_struct(global, "Wrapped", {{"pad", f->s32_type}, {"on", basic_type(BASIC_TYPE_B8)}});
        type->as_member = get_struct_member_from_string(type, STR("on"));
        return type;
    }
    if (name[0] == '@') return type_to_memory_address_of_type(get_case_type(f, name.substr(2)), 1);
    return get_identifier(global, (u8*)name.data(), name.size());
}

TEST(Conditions, OtherValuesAreComparedWithZero) {
    struct Case {
        const char* name;
        const char* type;
        u8 extra_kind;
        u64 operator_bit;      // of a comparison that was stored: direct is clear
        u8 jump;
        std::vector<u32> kinds;
        const char* compared;  // the type of what is compared
        u64 offset;            // of a member compared in place
        const char* error;
    };
    const Case cases[] = {
        {"integer", "s32", 0, 0, BYTECODE_JUMP_ZERO, {14}, "s32", 0, nullptr},
        {"negated address", "@ u8", VALUE_NEGATED, 0, BYTECODE_JUMP_NOT_ZERO, {14}, "@ u8", 0, nullptr},
        {"real", "f64", 0, 0, BYTECODE_JUMP_ZERO, {15}, "f64", 0, nullptr},
        {"stored comparison", "b8", 0, OP_LESS, BYTECODE_JUMP_ZERO, {14}, "b8", 0, nullptr},
        {"String by its count", "String", 0, 0, BYTECODE_JUMP_ZERO, {14}, "s64", 8, nullptr},
        {"struct by its #as member", "Wrapped", 0, 0, BYTECODE_JUMP_ZERO, {14}, "b8", 4, nullptr},
        {"negated String", "String", VALUE_NEGATED, 0, BYTECODE_JUMP_NOT_ZERO, {14}, "s64", 8, nullptr},
        {"read through its address", "@ s32", VALUE_INDIRECT, 0, BYTECODE_JUMP_ZERO, {7, 14}, "s32", 0, nullptr},
        {"struct without designated member", "Vec", 0, 0, 0, {}, nullptr, 0,
         "You cannot use a value of type 'Vec' in a condition."},
        {"void", "void", 0, 0, 0, {}, nullptr, 0, "You cannot use a value of type 'void' in a condition."},
        {"type", "Type", 0, 0, 0, {}, nullptr, 0, "You cannot use a value of type 'Type' in a condition."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Condition_Fixture f = start_condition_fixture();
        Value value = make_register_value(f.scope, get_case_type(&f, c.type), c.extra_kind);
        u8 jump = 0;
        bool adjusted = adjust_instructions_for_condition(f.scope, c.operator_bit, 0, &jump, &value);
        EXPECT_EQ(adjusted, c.error == nullptr);
        EXPECT_EQ(instruction_kinds(f.scope), c.kinds);
        if (c.error) {
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{c.error});
            continue;
        }
        EXPECT_EQ(jump, c.jump);
        EXPECT_STREQ(type_to_c_string(get_type_from_value(&value)), c.compared);
        Instruction* compare = (Instruction*)f.scope->instructions.last_element;
        EXPECT_TRUE(registers_match(compare->copy.destination.dynamic.register_id, value.dynamic.register_id));
        if (c.offset) {
            EXPECT_EQ(get_register(value.dynamic.register_id)->view_offset, c.offset);
        }
        EXPECT_EQ(value.kind & VALUE_NEGATED, c.extra_kind & VALUE_NEGATED);
    }
}

TEST(Conditions, ConstantsAreOnlyChecked) {
    struct Case {
        const char* name;
        Value value;
        const char* error;
    };
    Condition_Fixture f = start_condition_fixture();
    Value type_constant;
    make_constant_value_from_type(&type_constant, f.s32_type, Trace{});
    const Case cases[] = {
        {"integer", make_test_constant(CONSTANT_UNSIGNED, 3), nullptr},
        {"real", make_test_constant(CONSTANT_REAL, real_bits(0.5)), nullptr},
        {"string", make_test_constant(CONSTANT_STRING, 0, 0), nullptr},
        {"a type", type_constant, "You cannot use a value of type 'Type' in a condition."},
        {"no class at all", make_test_constant(0, 0), "You cannot use a value of type '?' in a condition."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        compile_errors.count = 0;
        Value value = c.value;
        u8 jump = 0;
        EXPECT_EQ(adjust_instructions_for_condition(f.scope, 0, 0, &jump, &value), c.error == nullptr);
        if (c.error) {
            EXPECT_EQ(compile_error_messages(), std::vector<std::string>{c.error});
        } else {
            EXPECT_EQ(jump, BYTECODE_JUMP_ZERO);
        }
    }
    EXPECT_EQ(f.scope->instructions.count, 0u);
}

//~ Cutting

TEST(Conditions, CutsAtTopLevelOperators) {
    struct Case {
        const char* condition;
        const char* parts;  // a part each: its level, then v (value, l when last) or the operator
    };
    const Case cases[] = {
        {"a && b || c", "0v 0&& 0v 0|| 0l"},
        {"(a || b) && c", "1v 1|| 1v 0&& 0l"},
        {"((a || b) && c) || a", "2v 2|| 2v 1&& 1v 0|| 0l"},
        {"(a) && b", "1v 0&& 0l"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.condition);
        ASSERT_TRUE(reset_with_basic_types());
        static const std::string globals = "a: s32; b: u8; c: @ u8;";
        ASSERT_TRUE(declare_test_source(globals, "globals.8"));
        std::string text = c.condition;
        Source_File* file = add_test_source(text);
        Scope* scope = _add_a_scope(global_compiler_state.global_scope, 0, Trace{});
        Bucket_Array parts;
        init_bucket_array(&parts, &condition_parts_pool);
        ASSERT_TRUE(parse_if_condition(first_token(file), 0, 0, 0, scope, &parts)) << compile_error_messages()[0];
        std::string listed;
        for (Condition_Part* part = (Condition_Part*)parts.first_element; part; part = part->next) {
            if (!listed.empty()) listed += ' ';
            listed += std::to_string(part->level);
            if (part->part_kind == CONDITION_PART_OPERATOR) listed += operator_to_c_string(part->operator_bit);
            else listed += (part->scope->flags & SCOPE_CONDITION) ? 'l' : 'v';
            // A group's parts name its '('; the top level names none.
            if (part->level) {
                EXPECT_TRUE(part->bracket && (part->bracket->kind & TOKEN_OPEN_PARENTHESIS));
            } else {
                EXPECT_EQ(part->bracket, nullptr);
            }
            if (part->part_kind == CONDITION_PART_VALUE) {
                EXPECT_EQ(part->scope->parent, scope);
            }
        }
        EXPECT_EQ(listed, c.parts);
    }
}
