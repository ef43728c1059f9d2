// Expressions evaluated by direct calls in an entry block's scope: conditions (what stays in
// the processor flags, flags tests, the '!' rule), one-operand operators on values, and the
// global declarations a first use parses.
#include <gtest/gtest.h>

#include "parser_test_helpers.h"

// An entry block whose variables the expressions use; the compile stays readable until the
// fixture ends.
struct Expression_Fixture {
    Scratch_Directory dir;
    Scope* scope = nullptr;
    std::vector<std::string> texts;  // each expression's source, kept alive

    explicit Expression_Fixture(const std::string& declarations) {
        std::string path = dir.write("custom.8", "$Big: #struct = { a: s64; b: s64; c: s64; };\n"
                                                 "#on_load { " + declarations + " }\n");
        EXPECT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
        scope = global_compiler_state.on_load_scope;
    }
    ~Expression_Fixture() { free_compiler_state(); }

    struct Result {
        bool ok;
        Value value;
        Comparison_Result comparison;
        std::vector<u32> kinds;  // of the instructions the expression appended
        std::vector<std::string> messages;
    };

    Result evaluate(const std::string& text, u8 flags, bool with_comparison = true) {
        texts.push_back(text);
        compile_errors.count = 0;
        Source_File* file = add_test_source(texts.back(), "expression.8");
        u32 before = scope->instructions.count;
        Result result = {};
        result.ok = parse_simple_statement(scope, first_token(file), nullptr, basic_type(BASIC_TYPE_B8),
                                           with_comparison ? &result.comparison : nullptr, flags, 0, &result.value);
        std::vector<u32> all = instruction_kinds(scope);
        result.kinds.assign(all.begin() + before, all.end());
        result.messages = compile_error_messages();
        return result;
    }
};

static const u8 CONDITION = EXPRESSION_CONDITION | EXPRESSION_FRESH_REGISTER;

TEST(Expressions, Conditions) {
    Expression_Fixture f("a: s32; b: s32; r: f32; p: @u8; base: Base; handle: Handle; text: String; flags: u32; "
                         "$f: (v: b8) -> b8 = { return v; };");
    struct Case {
        const char* name;
        const char* text;
        std::vector<u32> kinds;
        u64 operator_bit;  // of the comparison record
        u8 single, in_flags;
        bool negated;
    };
    const Case cases[] = {
        {"a comparison stays in the flags", "a < b", {13}, OP_LESS, 1, 1, false},
        {"a constant on the left is swapped", "5 == a", {14}, OP_EQUAL, 1, 1, false},
        {"a constant left of a compare takes the value's type", "1 < a", {1, 13}, OP_LESS, 1, 1, false},
        {"'!' turns a bracketed comparison round", "!(a < b)", {13}, OP_GREATER_EQUAL, 1, 1, false},
        {"'!' turns a bracketed equality round", "!(a == 3)", {14}, OP_NOT_EQUAL, 1, 1, false},
        {"'!' stores a float comparison and negates it", "!(r < 1.5)", {15, 20}, OP_LESS, 0, 0, true},
        {"'!' negates a bracketed &&", "!(a && b)", {5, 5, 11}, OP_LOGICAL_AND, 0, 0, true},
        {"'!' stays before a call whose argument compares", "!(f(a == 1))", {14, 20, 26}, 0, 0, 0, true},
        {"'!' negates a pointer without an instruction", "!p", {}, 0, 0, 0, true},
        {"'!' negates a struct with #as", "!handle", {}, 0, 0, 0, true},
        {"'!' negates a String", "!text", {}, 0, 0, 0, true},
        {"a lone '&' tests flags", "flags & 4", {19}, OP_NOT_EQUAL, 1, 1, false},
        {"a constant mask on the left", "4 & flags", {19}, OP_NOT_EQUAL, 1, 1, false},
        {"'&' before a comparison is arithmetic", "flags & 4 == 0", {3, 12, 14}, OP_EQUAL, 1, 1, false},
        {"a comparison before && is stored", "a < b && b", {13, 20, 5, 11}, OP_LOGICAL_AND, 0, 0, false},
        {"bracketed comparisons are stored, the outer one stays", "(a < b) == (b < a)", {13, 20, 13, 20, 13}, OP_EQUAL, 1, 1,
         false},
        {"a comparison after a comparison stores both", "a < b == 0", {13, 20, 14, 20}, OP_EQUAL, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Expression_Fixture::Result r = f.evaluate(c.text, CONDITION);
        ASSERT_TRUE(r.ok) << testing::PrintToString(r.messages);
        EXPECT_EQ(r.kinds, c.kinds);
        EXPECT_EQ(r.comparison.operator_bit, c.operator_bit);
        EXPECT_EQ(r.comparison.single, c.single);
        EXPECT_EQ(r.comparison.in_flags, c.in_flags);
        EXPECT_EQ((r.value.kind & VALUE_NEGATED) != 0, c.negated);
    }
    // The left operand of a test or a compare stays the value tested.
    Expression_Fixture::Result test = f.evaluate("4 & flags", CONDITION);
    Instruction* last = (Instruction*)f.scope->instructions.last_element;
    EXPECT_EQ(last->copy.destination.dynamic.register_id.index, find_in_scope(f.scope, "flags")->register_id.index);
    EXPECT_TRUE(last->copy.source.kind & VALUE_CONSTANT);
    EXPECT_EQ(test.value.dynamic.type, basic_type(BASIC_TYPE_U32));
    // A struct without #as has nothing to test.
    Expression_Fixture::Result refused = f.evaluate("!base", CONDITION);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.messages, std::vector<std::string>{"This operator cannot be applied on values of type 'Base'."});
}

// Outside a condition the same expressions end in a b8 register and nothing is negated.
TEST(Expressions, ComparisonsOutsideConditions) {
    Expression_Fixture f("a: s32; b: s32; u: u16;");
    Expression_Fixture::Result r = f.evaluate("a < b", 0, false);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.kinds, (std::vector<u32>{13, 20}));
    EXPECT_EQ(r.value.kind, VALUE_FRESH_BOOLEAN);
    Instruction* stored = (Instruction*)f.scope->instructions.last_element;
    EXPECT_EQ(stored->compare_result.operator_bit, OP_LESS);
    EXPECT_EQ(stored->compare_result.unsigned_compare, 0);

    r = f.evaluate("u > 3", 0, false);
    ASSERT_TRUE(r.ok);
    stored = (Instruction*)f.scope->instructions.last_element;
    EXPECT_EQ(stored->compare_result.unsigned_compare, 1) << "an unsigned compare is marked so";

    r = f.evaluate("!(a < b)", 0, false);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.kinds, (std::vector<u32>{13, 20, 11})) << "the stored b8 is a temporary: '!' works on it in place";
    EXPECT_FALSE(r.value.kind & VALUE_NEGATED);

    r = f.evaluate("u & 4", 0, false);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.kinds, (std::vector<u32>{3, 12})) << "a flags test only in a condition";
}

TEST(Expressions, OneOperandOperatorsOnValues) {
    Expression_Fixture f("a: s32; r: f32; big: @Big; bytes: @u8;");
    struct Case {
        const char* name;
        const char* text;
        std::vector<u32> kinds;
        bool changes_the_variable;
    };
    const Case cases[] = {
        {"'-' works on a copy", "-a", {3, 11}, false},
        {"'~' works on a copy", "~a", {3, 11}, false},
        {"'++' after a value changes it", "a++", {11}, true},
        {"'--' before a value changes it", "--a", {11}, true},
        {"'++' on an address steps by its element", "big++", {12}, true},
        {"'@' takes the address", "@a", {10}, false},
        {"'-' on a member read through an address", "-big.b", {7, 11}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Expression_Fixture::Result r = f.evaluate(c.text, 0, false);
        ASSERT_TRUE(r.ok) << testing::PrintToString(r.messages);
        EXPECT_EQ(r.kinds, c.kinds);
        Identifier* variable = find_in_scope(f.scope, c.text[0] == 'b' ? "big" : "a");
        Instruction* last = (Instruction*)f.scope->instructions.last_element;
        if (last->kind == INSTRUCTION_ARITHMETIC || last->kind == INSTRUCTION_ARITHMETIC_CONSTANT) {
            EXPECT_EQ(registers_match(last->arithmetic.destination.dynamic.register_id, variable->register_id),
                      c.changes_the_variable);
        }
    }
    f.evaluate("big++", 0, false);
    Instruction* step = (Instruction*)f.scope->instructions.last_element;
    EXPECT_EQ(step->arithmetic.operator_bit, OP_ADD);
    EXPECT_EQ(step->arithmetic.source.constant.data, 24u) << "the size of Big";
    EXPECT_EQ(step->arithmetic.source.constant.type, basic_type(BASIC_TYPE_U32));

    // A local whose address is taken stays in memory to the end of its scope.
    f.evaluate("@a", 0, false);
    Register* row = get_register(find_in_scope(f.scope, "a")->register_id);
    EXPECT_EQ(row->hints, HINT_MEMORY | HINT_STAY_ALIVE);

    struct Refusal {
        const char* text;
        const char* message;
    };
    const Refusal refusals[] = {
        {"~r", "You cannot use operator bitwise operators with a number of type f32."},
        {"-big.a.b", "It looks like you are trying to dereference something that is neither a struct nor an enum."},
        {"@5", "You cannot take the address of a constant."},
        {"a++ ++", "You cannot chain unary operations. Use '()' to separate them."},
        {"a++ b", "The compiler expected a binary operator or the end of a value but got 'b' instead."},
        {"r % 2", "Operator '%' must be used on integers."},
        {"r & a", "You cannot use operator bitwise operators with a number of type f32."},
        {"a / 0", "It looks like you are dividing by zero."},
        {"a % 0", "It looks like you are dividing by zero."},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.text);
        Expression_Fixture::Result r = f.evaluate(refusal.text, 0, false);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, std::vector<std::string>{refusal.message});
    }
}
