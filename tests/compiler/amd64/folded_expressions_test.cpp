// Randomized expressions over every integer and float type, compiled from source twice:
// once folded from typed constants and once computed from variables holding the same
// values. Both must agree with each other and with the C++ reference. Folding computes in
// f64 and keeps a constant's class by its value: every folded operation is declared as a
// constant of the type, which rounds an f32 and wraps an integer as the machine does.
#include <gtest/gtest.h>

#include <random>

#include "tests/compiler/amd64/compiled_program.h"
#include "tests/compiler/amd64/translation_fixture.h"
#include "tests/compiler/amd64/reference.h"
#include "compiler/core/token_kinds.h"
#include "tests/test_seed.h"

struct Expression_Type {
    const char* name;
    u32 size;
    b8 is_signed;
    b8 is_float;
};

static const Expression_Type EXPRESSION_TYPES[] = {
    {"s8", 1, 1, 0},  {"s16", 2, 1, 0}, {"s32", 4, 1, 0}, {"s64", 8, 1, 0}, {"u8", 1, 0, 0},
    {"u16", 2, 0, 0}, {"u32", 4, 0, 0}, {"u64", 8, 0, 0}, {"f32", 4, 1, 1}, {"f64", 8, 1, 1},
};

struct Operator_Text {
    u64 bit;
    const char* text;
};
static const Operator_Text INTEGER_OPERATORS[] = {
    {OP_ADD, "+"},     {OP_SUBTRACT, "-"}, {OP_MULTIPLY, "*"},    {OP_DIVIDE, "/"},      {OP_MODULO, "%"},
    {OP_BIT_AND, "&"}, {OP_BIT_OR, "|"},   {OP_BIT_XOR, "^"},     {OP_SHIFT_LEFT, "<<"}, {OP_SHIFT_RIGHT, ">>"},
};
static const Operator_Text FLOAT_OPERATORS[] = {{OP_ADD, "+"}, {OP_SUBTRACT, "-"}, {OP_MULTIPLY, "*"}, {OP_DIVIDE, "/"}};

#define OPERAND_COUNT    6
#define EXPRESSION_COUNT 16

// Exactly representable in f32, so a constant and a variable start from the same value.
static const f64 FLOAT_VALUES[] = {0.5, -2.25, 3.0, 1024.125, -7.75, 1e6, 0.0078125, -65536.5, 12.375, 99.0};

struct Generated {
    std::string folded, variables;  // the expression's constant c<i> or k<n>, and its text over the variables a<i>
    u64 value;                      // the reference's result, cut to the type's size
};

// The folded side declares a typed constant per operation, "$k<n>: T = left op right;", so
// every fold works on two constants of the type, as every computed operation does.
struct Folded_Constants {
    const Expression_Type* type;
    std::vector<std::string> declarations;
};

static std::string fold_node(Folded_Constants* k, const std::string& left, const char* op, const std::string& right) {
    std::string name = "k" + std::to_string(k->declarations.size());
    k->declarations.push_back("$" + name + ": " + k->type->name + " = " + left + " " + op + " " + right + ";\n");
    return name;
}

// A tree of at most depth levels over the operands, or nothing when an operation would
// trap (a zero divisor, the lowest value over -1).
static bool generate(std::mt19937_64* random, Folded_Constants* k, const std::vector<u64>& operands, u32 depth,
                     Generated* out) {
    const Expression_Type& t = *k->type;
    std::uniform_int_distribution<u32> pick(0, OPERAND_COUNT - 1);
    if (depth == 0 || (*random)() % 3 == 0) {
        u32 i = pick(*random);
        out->folded = "c" + std::to_string(i);
        out->variables = "a" + std::to_string(i);
        out->value = operands[i];
        return true;
    }
    Generated left, right;
    if (!generate(random, k, operands, depth - 1, &left) || !generate(random, k, operands, depth - 1, &right)) return false;
    const Operator_Text& op = t.is_float ? FLOAT_OPERATORS[(*random)() % ARRAY_COUNT(FLOAT_OPERATORS)]
                                         : INTEGER_OPERATORS[(*random)() % ARRAY_COUNT(INTEGER_OPERATORS)];
    if (t.is_float) {
        out->value = reference_float(op.bit, left.value, right.value, t.size);
    } else {
        // Shift counts stay below the type's width, where every form agrees.
        if (op.bit & (OP_SHIFT_LEFT | OP_SHIFT_RIGHT)) {
            std::string width_mask = std::to_string(t.size * 8 - 1);
            right.value &= t.size * 8 - 1;
            right.folded = fold_node(k, right.folded, "&", width_mask);
            right.variables = "(" + right.variables + " & " + width_mask + ")";
        }
        if (!reference_integer(op.bit, left.value, right.value, t.size, t.is_signed, &out->value)) return false;
    }
    out->folded = fold_node(k, left.folded, op.text, right.folded);
    out->variables = "(" + left.variables + " " + op.text + " " + right.variables + ")";
    return true;
}

static std::string literal_text(const Expression_Type& t, u64 value) {
    char text[64];
    if (t.is_float) snprintf(text, sizeof(text), "%.17g", reference_float_value(value, t.size));
    else if (t.is_signed) snprintf(text, sizeof(text), "%lld", (long long)reference_signed(value, t.size));
    else snprintf(text, sizeof(text), "%llu", (unsigned long long)(value & reference_mask(t.size)));
    std::string s = text;
    if (t.is_float && s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

// Values that reach the edges: small ones, all ones, the sign bit, random bits.
static u64 random_operand(std::mt19937_64* random, const Expression_Type& t) {
    if (t.is_float) return reference_float_bits(FLOAT_VALUES[(*random)() % ARRAY_COUNT(FLOAT_VALUES)], t.size);
    u64 mask = reference_mask(t.size);
    u64 value;
    switch ((*random)() % 4) {
        case 0: value = (*random)() % 16; break;
        case 1: value = ~((*random)() % 4); break;
        case 2: value = (*random)() & mask; break;
        default: value = (1ull << (t.size * 8 - 1)) + (*random)() % 3; break;
    }
    value &= mask;
    // The lowest s64 has no literal: its magnitude is past s64.
    if (t.is_signed && t.size == 8 && value == 0x8000000000000000ull) value++;
    return value;
}

TEST(FoldedExpressions, AgreeWithVariablesAndTheReference) {
    HARNESS_REQUIRE_AVX();
    u64 seed = test_seed(2645);
    SCOPED_TRACE(test_seed_text(seed));
    std::mt19937_64 random(seed);
    for (const Expression_Type& t : EXPRESSION_TYPES) {
        SCOPED_TRACE(t.name);
        std::vector<u64> operands;
        for (u32 i = 0; i < OPERAND_COUNT; i++) operands.push_back(random_operand(&random, t));
        std::vector<Generated> expressions;
        Folded_Constants folded_constants = {&t, {}};
        while (expressions.size() < EXPRESSION_COUNT) {
            Folded_Constants attempt = folded_constants;
            Generated g;
            if (generate(&random, &attempt, operands, 3, &g)) {
                expressions.push_back(g);
                folded_constants = attempt;
            }
        }
        std::string source, block;
        for (const std::string& declaration : folded_constants.declarations) source += declaration;
        std::vector<std::string> globals;
        for (u32 i = 0; i < OPERAND_COUNT; i++) {
            std::string n = std::to_string(i);
            source += "$c" + n + ": " + t.name + " = " + literal_text(t, operands[i]) + ";\n";
            block += "    a" + n + ": " + t.name + " = c" + n + ";\n";
        }
        for (u32 i = 0; i < expressions.size(); i++) {
            std::string n = std::to_string(i);
            source += "f" + n + ": " + t.name + ";\nv" + n + ": " + t.name + ";\n";
            block += "    f" + n + " = " + expressions[i].folded + ";\n    v" + n + " = " + expressions[i].variables + ";\n";
            globals.push_back("f" + n);
            globals.push_back("v" + n);
        }
        source += "#on_load {\n" + block + "}\n";
        Compiled_Program p = compile_program(source, globals);
        ASSERT_TRUE(p.ok) << testing::PrintToString(p.errors) << "\n" << source;
        EXPECT_EQ(lint_compiled(p), "");
        Harness_Run run = harness_run_image(p.image, LAYER_IMAGE_HAS_ON_LOAD, harness_canaries());
        ASSERT_FALSE(run.faulted) << run.fault << "\n" << source;
        u64 mask = reference_mask(t.size);
        for (u32 i = 0; i < expressions.size(); i++) {
            std::string n = std::to_string(i);
            u64 folded = global_bits(p, run, "f" + n, t.size);
            u64 computed = global_bits(p, run, "v" + n, t.size);
            std::string operands = source.substr(0, source.find("f0:"));
            EXPECT_EQ(folded, expressions[i].value & mask) << "folded " << expressions[i].folded << " from " << operands;
            EXPECT_EQ(computed, expressions[i].value & mask) << "computed " << expressions[i].variables << " from "
                                                            << operands;
        }
    }
}
