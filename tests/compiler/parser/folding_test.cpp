// Constant folding. A table of cases whose results are written out by hand, and seeded
// random expressions (literals of every size and sign, reals, short strings, every operator,
// one-operand prefixes, brackets) folded by the compiler and by a reference written here
// from the folding rules: value, class, size and report must agree.
#include <gtest/gtest.h>

#include <math.h>

#include <random>
#include <sstream>

#include "parser_test_helpers.h"

//~ Folding a text through the compiler

struct Folded {
    bool ok;
    Value value;
    std::string message;
};

// The expression folded as a constant in the global scope, after the declarations.
static Folded fold_text(const std::string& text, const std::string& declarations = "") {
    tmp_reset();
    EXPECT_TRUE(reset_with_basic_types());
    Folded folded = {};
    if (!declarations.empty() && !declare_test_source(declarations, "declarations.8")) {
        folded.message = compile_errors.count ? (char*)get_compile_error(0)->message : "declarations failed";
        return folded;
    }
    Source_File* file = add_test_source(text, "expression.8");
    if (compile_errors.count) {
        folded.message = (char*)get_compile_error(0)->message;
        return folded;
    }
    folded.ok = parse_simple_statement(global_compiler_state.global_scope, first_token(file), nullptr, nullptr, nullptr, 0, 1,
                                       &folded.value);
    if (compile_errors.count) folded.message = (char*)get_compile_error(0)->message;
    EXPECT_EQ(folded.ok, compile_errors.count == 0) << "a failure is reported, a success is not";
    return folded;
}

//~ Cases written out

enum Expected_Class : u8 { UNSIGNED, SIGNED, REAL, STRING, B8, TYPED_U8, TYPED_S8, TYPED_S32, TYPED_F32 };

static u64 class_mask(Expected_Class c) {
    switch (c) {
        case UNSIGNED: return CONSTANT_UNSIGNED;
        case SIGNED: return CONSTANT_SIGNED;
        case REAL: return CONSTANT_REAL;
        case STRING: return CONSTANT_STRING;
        case B8:
        case TYPED_U8: return CONSTANT_TYPED_UNSIGNED;
        case TYPED_S8:
        case TYPED_S32: return CONSTANT_TYPED_SIGNED;
        case TYPED_F32: return CONSTANT_TYPED_REAL;
    }
    return 0;
}

TEST(Folding, CasesWrittenOut) {
    struct Case {
        const char* name;
        const char* expression;
        Expected_Class result_class;
        u64 data;  // an f64's bits for a real
        u32 size;
    };
    const u64 lowest = 0x8000000000000000ull;
    const Case cases[] = {
        {"priorities", "2 + 3 * 4 - 1", UNSIGNED, 13, 1},
        {"equal priorities from the left", "100 - 10 - 1", UNSIGNED, 89, 1},
        {"comparison after a sum", "1 < 0 + 2", B8, 1, 1},
        {"a leading minus is a sign", "- 2 + 5", UNSIGNED, 3, 1},
        {"unsigned wraps in 64 bits", "0 - 1", UNSIGNED, ~0ull, 1},
        {"size is the larger operand's", "255 + 70000", UNSIGNED, 70255, 4},
        {"signed and unsigned mix as signed", "-5 + 3", SIGNED, (u64)-2, 1},
        {"a signed result that is not negative stays signed", "-5 + 10", SIGNED, 5, 1},
        {"and goes on signed", "(-5 + 10) - 6 < 0", B8, 1, 1},
        {"also in a division", "((-5 + 10) - 6) / 2", SIGNED, 0, 1},
        {"signed compares are signed", "-1 < 1", B8, 1, 1},
        {"unsigned compares are unsigned", "0 - 1 < 1", B8, 0, 1},
        {"signed division truncates", "-7 / 2", SIGNED, (u64)-3, 1},
        {"signed remainder", "-7 % 2", SIGNED, (u64)-1, 1},
        {"lowest by -1 gives itself", "-9223372036854775808 / -1", SIGNED, lowest, 8},
        {"lowest modulo -1 is 0", "-9223372036854775808 % -1", SIGNED, 0, 8},
        {"shift counts modulo 64", "1 << 65", UNSIGNED, 2, 1},
        {"arithmetic shift of a signed value", "-8 >> 1", SIGNED, (u64)-4, 1},
        {"rotation over 64 bits", "1 >>> 1", UNSIGNED, lowest, 1},
        {"rotation back", "0x8000000000000000 <<< 1", UNSIGNED, 1, 8},
        {"logical and", "2 && 3", B8, 1, 1},
        {"logical or of zeros", "0 || 0", B8, 0, 1},
        {"real arithmetic", "1.5 * 4.0", REAL, bits_of(6.0), 4},
        {"an integer with a real", "1 + 2.5", REAL, bits_of(3.5), 4},
        {"real division by zero", "1.0 / 0.0", REAL, bits_of(INFINITY), 4},
        {"NaN is unequal", "(0.0 / 0.0) != (0.0 / 0.0)", B8, 1, 1},
        {"NaN is not less", "(0.0 / 0.0) < 1.0", B8, 0, 1},
        {"NaN is not less or equal", "(0.0 / 0.0) <= 1.0", B8, 0, 1},
        {"NaN is not greater or equal", "(0.0 / 0.0) >= 1.0", B8, 0, 1},
        {"NaN is true", "(0.0 / 0.0) && 1", B8, 1, 1},
        {"equal strings", "\"abc\" == \"abc\"", B8, 1, 1},
        {"different strings", "\"abc\" != \"abd\"", B8, 1, 1},
        {"empty strings are equal", "\"\" == \"\"", B8, 1, 1},
        {"a string on the right is a number", "0 + \"ab\"", UNSIGNED, 0x6261, 2},
        {"negated real", "- 2.5", REAL, bits_of(-2.5), 4},
        {"inverted real bits", "~0.0", REAL, ~0ull, 4},
        {"not of zero", "!0", UNSIGNED, 1, 1},
        {"not of a real zero", "!0.0", UNSIGNED, 1, 1},
        {"not of five", "!5", UNSIGNED, 0, 1},
        {"negated string", "- \"ab\"", UNSIGNED, 0 - 0x6261ull, 2},
        {"increment", "++41", UNSIGNED, 42, 1},
        {"a compare's b8 takes a number as truth", "(1 < 2) + 5", B8, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folded folded = fold_text(c.expression);
        ASSERT_TRUE(folded.ok) << folded.message;
        Constant* constant = &folded.value.constant;
        EXPECT_EQ(constant->mask & (CONSTANT_NUMBER | CONSTANT_STRING | CONSTANT_TYPED), class_mask(c.result_class));
        if (c.result_class == B8) {
            EXPECT_EQ(constant->type, basic_type(BASIC_TYPE_B8));
        }
        EXPECT_EQ(constant->data, c.data) << std::hex << constant->data;
        EXPECT_EQ(constant->size, c.size);
    }
}

// Typed constants fold as their type computes: cut to its size, shift counts modulo 32 up
// to 4 octets.
TEST(Folding, TypedConstantsAreCutToTheirSize) {
    const std::string declarations = "$A: u8 = 200;\n$B: s8 = 100;\n$C: s32 = -2147483648;\n$D: u8 = 1;\n$F: f32 = 0.1;\n";
    struct Case {
        const char* expression;
        Expected_Class result_class;
        u64 data;
        u32 size;
    };
    const Case cases[] = {
        {"A + A", TYPED_U8, 144, 1},
        {"A * 2 - 1", TYPED_U8, 143, 1},
        {"B + B", TYPED_S8, (u64)-56, 1},
        {"100 + B", TYPED_S8, (u64)-56, 1},  // an untyped number takes the typed one's type
        {"2 * A", TYPED_U8, 144, 1},
        {"B - 10", TYPED_S8, 90, 1},  // not negative, and still an s8
        {"C / -1", TYPED_S32, (u64)(s64)INT32_MIN, 4},
        {"C % -1", TYPED_S32, 0, 4},
        {"C - 1", TYPED_S32, 0x7FFFFFFF, 4},
        {"(C - 1) - 0x7FFFFFFF - 1 < 0", B8, 1, 1},
        {"D << 33", TYPED_U8, 2, 1},
        {"D << 8", TYPED_U8, 0, 1},
        {"A <<< 1", TYPED_U8, 145, 1},
        {"D >>> 1", TYPED_U8, 0x80, 1},
        {"B >> 9", TYPED_S8, 0, 1},
        {"-A", TYPED_U8, 56, 1},
        {"~D", TYPED_U8, 0xFE, 1},
        {"F * 3.0", TYPED_F32, bits_of((f64)(0.1f * 3.0f)), 4},
        {"A > 100", B8, 1, 1},
        {"C < 0", B8, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        Folded folded = fold_text(c.expression, declarations);
        ASSERT_TRUE(folded.ok) << folded.message;
        Constant* constant = &folded.value.constant;
        EXPECT_EQ(constant->mask & (CONSTANT_NUMBER | CONSTANT_STRING | CONSTANT_TYPED), class_mask(c.result_class));
        EXPECT_EQ(constant->data, c.data) << std::hex << constant->data;
        EXPECT_EQ(constant->size, c.size);
    }
}

TEST(Folding, Refusals) {
    struct Case {
        const char* expression;
        const char* message;
        u32 column;  // of the marked range, from 1
    };
    const Case cases[] = {
        {"1 / 0", "It looks like you are dividing by zero.", 5},
        {"1 % (2 - 2)", "It looks like you are dividing by zero.", 6},
        {"\"a\" + \"b\"", "Operator '+' cannot be used with strings.", 5},
        {"\"a\" < \"b\"", "Operator '<' cannot be used with strings.", 5},
        {"\"a\" == 1", "Expected a constant string.", 8},
        {"1 + \"abcdefghi\"", "This string is too big to be used as an integer.", 6},
        {"1.5 % 2.0", "Operator '%' cannot be used with real numbers.", 5},
        {"1.5 << 2.0", "Operator '<<' cannot be used here.", 5},
        {"- \"abcdefghi\"", "To use a string as a number, make sure it is no greater than 8 bytes in size. The string you "
                            "want to use is 9 bytes.", 1},
        {"u8 + 1", "You cannot apply an arithmetic operation on a value of type 'Type' because it is not a number.\nNote "
                   "that operators cannot be overloaded at the moment but this may change in future versions.", 4},
        {"(1 < 2) + \"ab\"", "You cannot assign a 2-byte string to a 1-byte b8.", 12},
        {"1 +", "The compiler expected a value.", 3},
        {"* 1", "It looks like you are trying to use operator '*' as a unary operator.", 1},
        {"-", "It looks like there is no value to apply this operation on.", 1},
        {"(1) 2", "This is unexpected.", 5},
        {"x", "'x' was not previously declared.", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        Folded folded = fold_text(c.expression);
        EXPECT_FALSE(folded.ok);
        EXPECT_EQ(folded.message, c.message);
        if (compile_errors.count) {
            EXPECT_EQ(get_compile_error(0)->column + 1, c.column);
        }
    }
    // Types compare by what they name; an alias names its type.
    Folded same = fold_text("T == s32 && u8 != s32", "$T := s32;\n");
    ASSERT_TRUE(same.ok) << same.message;
    EXPECT_EQ(same.value.constant.data, 1u);
}

//~ The reference

// A constant as the folding rules see it: a class, a 64-bit word (an f64's bits for a real),
// a size, a string's octets, and the mark of a b8 made by a compare.
struct Reference {
    enum Class : u8 { UNSIGNED, SIGNED, REAL, STRING } cls;
    bool b8;
    u64 data;
    u32 size;
    std::string text;
    std::string error;  // the first report; the rest of the fields mean nothing then
};

static Reference reference_error(const std::string& message) {
    Reference r = {};
    r.error = message;
    return r;
}

static u32 size_of_number(u64 value) { return value < 0x100 ? 1 : value < 0x10000 ? 2 : value <= 0xFFFFFFFFull ? 4 : 8; }

static Reference make_b8(bool truth) {
    Reference r = {};
    r.cls = Reference::UNSIGNED;
    r.b8 = true;
    r.data = truth;
    r.size = 1;
    return r;
}

// A string of up to 8 octets as the unsigned number its octets make, least significant first.
static Reference string_as_number(const Reference& s) {
    Reference r = {};
    r.cls = Reference::UNSIGNED;
    for (size_t i = 0; i < s.text.size(); i++) r.data |= (u64)(u8)s.text[i] << (8 * i);
    r.size = size_of_number(r.data);
    return r;
}

// A b8 holds the truth of a number; a string of one octet gives that octet.
static Reference fit_to_b8(const Reference& v) {
    if (v.b8) return v;
    if (v.cls == Reference::STRING) {
        if (v.text.size() > 1) {
            return reference_error("You cannot assign a " + std::to_string(v.text.size()) + "-byte string to a 1-byte b8.");
        }
        Reference r = string_as_number(v);
        r.size = 1;
        return r;
    }
    return make_b8(v.cls == Reference::REAL ? real_of(v.data) != 0.0 : v.data != 0);
}

static std::string operator_text(u64 op) { return operator_to_c_string(op); }

static Reference reference_unary(u64 op, Reference v) {
    if (v.cls == Reference::REAL) {
        f64 real = real_of(v.data);
        if (op == OP_INCREMENT) v.data = bits_of(real + 1.0);
        else if (op == OP_DECREMENT) v.data = bits_of(real - 1.0);
        else if (op == OP_SUBTRACT) v.data ^= 1ull << 63;
        else if (op == OP_BIT_NOT) v.data = ~v.data;
        else if (op == OP_NOT) return Reference{Reference::UNSIGNED, false, real == 0.0, 1, "", ""};
        return v;
    }
    if (v.cls == Reference::STRING) {
        if (v.text.size() > 8) {
            std::string size = v.text.size() == 1 ? "1 byte" : std::to_string(v.text.size()) + " bytes";
            return reference_error("To use a string as a number, make sure it is no greater than 8 bytes in size. The string "
                                   "you want to use is " + size + ".");
        }
        v = string_as_number(v);
    }
    switch (op) {
        case OP_INCREMENT: v.data += 1; break;
        case OP_DECREMENT: v.data -= 1; break;
        case OP_SUBTRACT: v.data = 0 - v.data; break;
        case OP_BIT_NOT: v.data = ~v.data; break;
        case OP_NOT: return Reference{Reference::UNSIGNED, false, v.data == 0, 1, "", ""};
    }
    if (v.b8) v.data &= 0xFF;  // a typed constant keeps to its size
    return v;
}

static bool is_compare(u64 op) { return op & OP_CMP; }

static Reference reference_binary(u64 op, Reference l, Reference r) {
    bool logical = op == OP_LOGICAL_AND || op == OP_LOGICAL_OR;
    if (!logical && l.b8) {
        r = fit_to_b8(r);
        if (!r.error.empty()) return r;
    }
    if (l.cls == Reference::STRING) {
        if (r.cls != Reference::STRING) return reference_error("Expected a constant string.");
        if (op != OP_EQUAL && op != OP_NOT_EQUAL) return reference_error("Operator '" + operator_text(op) + "' cannot be used with strings.");
        return make_b8((l.text == r.text) == (op == OP_EQUAL));
    }
    if (r.cls == Reference::STRING) {
        if (r.text.size() > 8) return reference_error("This string is too big to be used as an integer.");
        r = string_as_number(r);
    }
    Reference result = l;
    bool typed = l.b8 && l.cls == r.cls;
    result.b8 = typed;
    if (l.cls == r.cls) {
        result.size = std::max(l.size, r.size);
    } else if (l.cls == Reference::REAL || r.cls == Reference::REAL) {
        Reference& integer = l.cls == Reference::REAL ? r : l;
        integer.data = bits_of(integer.cls == Reference::SIGNED ? (f64)(s64)integer.data : (f64)integer.data);
        integer.cls = Reference::REAL;
        result.cls = Reference::REAL;
        result.data = l.data;
        result.size = 4;
        result.b8 = false;
    } else {
        result.cls = Reference::SIGNED;
        result.size = std::max(l.size, r.size);
        result.b8 = false;
    }

    if (result.cls == Reference::REAL) {
        f64 a = real_of(result.data), b = real_of(r.data);
        switch (op) {
            case OP_ADD: result.data = bits_of(a + b); return result;
            case OP_SUBTRACT: result.data = bits_of(a - b); return result;
            case OP_MULTIPLY: result.data = bits_of(a * b); return result;
            case OP_DIVIDE: result.data = bits_of(a / b); return result;
            case OP_LOGICAL_AND: return make_b8(a != 0.0 && b != 0.0);
            case OP_LOGICAL_OR: return make_b8(a != 0.0 || b != 0.0);
            case OP_EQUAL: return make_b8(a == b);
            case OP_NOT_EQUAL: return make_b8(a != b);
            case OP_LESS: return make_b8(a < b);
            case OP_LESS_EQUAL: return make_b8(a <= b);
            case OP_GREATER: return make_b8(a > b);
            case OP_GREATER_EQUAL: return make_b8(a >= b);
            case OP_MODULO:
            case OP_BIT_AND:
            case OP_BIT_OR:
            case OP_BIT_XOR: return reference_error("Operator '" + operator_text(op) + "' cannot be used with real numbers.");
        }
        return reference_error("Operator '" + operator_text(op) + "' cannot be used here.");
    }

    // Integers: 64 bits, but a b8 from a compare is one octet wide.
    u32 width = typed ? 8 : 64;
    u64 mask = width == 64 ? ~0ull : 0xFF;
    bool is_signed = result.cls == Reference::SIGNED;
    if (logical) {
        bool a = (l.b8 ? l.data & 0xFF : l.data) != 0, b = (r.b8 ? r.data & 0xFF : r.data) != 0;
        return make_b8(op == OP_LOGICAL_AND ? a && b : a || b);
    }
    u64 a = result.data & mask, b = r.data & mask;
    if (is_compare(op)) {
        s64 sa = (s64)a, sb = (s64)b;
        switch (op) {
            case OP_EQUAL: return make_b8(a == b);
            case OP_NOT_EQUAL: return make_b8(a != b);
            case OP_LESS: return make_b8(is_signed ? sa < sb : a < b);
            case OP_LESS_EQUAL: return make_b8(is_signed ? sa <= sb : a <= b);
            case OP_GREATER: return make_b8(is_signed ? sa > sb : a > b);
            case OP_GREATER_EQUAL: return make_b8(is_signed ? sa >= sb : a >= b);
        }
    }
    u32 count = (u32)(b & (width == 64 ? 63 : 31));
    u32 turn = count % width;
    u64 value = 0;
    switch (op) {
        case OP_ADD: value = a + b; break;
        case OP_SUBTRACT: value = a - b; break;
        case OP_MULTIPLY: value = a * b; break;
        case OP_BIT_AND: value = a & b; break;
        case OP_BIT_OR: value = a | b; break;
        case OP_BIT_XOR: value = a ^ b; break;
        case OP_DIVIDE:
        case OP_MODULO:
            if (b == 0) return reference_error("It looks like you are dividing by zero.");
            if (!is_signed) value = op == OP_DIVIDE ? a / b : a % b;
            else if ((s64)b == -1) value = op == OP_DIVIDE ? 0 - a : 0;
            else value = (u64)(op == OP_DIVIDE ? (s64)a / (s64)b : (s64)a % (s64)b);
            break;
        case OP_SHIFT_LEFT: value = count < 64 ? a << count : 0; break;
        case OP_SHIFT_RIGHT: value = is_signed ? (u64)((s64)a >> count) : a >> count; break;
        case OP_ROTATE_LEFT: value = turn ? (a << turn | a >> (width - turn)) : a; break;
        case OP_ROTATE_RIGHT: value = turn ? (a >> turn | a << (width - turn)) : a; break;
    }
    result.data = value & mask;
    return result;
}

//~ Random expressions

struct Written_Operator {
    u64 bit;
    const char* text;
    u8 priority;
};

static const Written_Operator WRITTEN_OPERATORS[] = {
    {OP_ADD, "+", 3},          {OP_SUBTRACT, "-", 3},     {OP_MULTIPLY, "*", 4},       {OP_DIVIDE, "/", 4},
    {OP_MODULO, "%", 4},       {OP_SHIFT_LEFT, "<<", 4},  {OP_SHIFT_RIGHT, ">>", 4},   {OP_ROTATE_LEFT, "<<<", 4},
    {OP_ROTATE_RIGHT, ">>>", 4}, {OP_BIT_AND, "&", 3},    {OP_BIT_OR, "|", 3},         {OP_BIT_XOR, "^", 3},
    {OP_LOGICAL_AND, "&&", 1}, {OP_LOGICAL_OR, "||", 1},  {OP_EQUAL, "==", 2},         {OP_NOT_EQUAL, "!=", 2},
    {OP_LESS, "<", 2},         {OP_LESS_EQUAL, "<=", 2},  {OP_GREATER, ">", 2},        {OP_GREATER_EQUAL, ">=", 2},
};

struct Generator {
    std::mt19937_64 random;
    std::ostringstream text;

    u64 pick(u64 count) { return random() % count; }

    Reference literal() {
        Reference r = {};
        u64 kind = pick(20);  // mostly integers, so that most expressions fold to a number
        switch (kind < 7 ? 0 : kind < 13 ? 1 : kind < 17 ? 2 : 3) {
            case 0: {  // an unsigned integer of one of the four sizes
                static const u64 LIMITS[] = {0x100, 0x10000, 0x100000000ull, 0};
                u64 limit = LIMITS[pick(4)];
                r.cls = Reference::UNSIGNED;
                r.data = limit ? random() % limit : random();
                r.size = size_of_number(r.data);
                if (pick(3) == 0) text << "0x" << std::hex << r.data << std::dec;
                else text << r.data;
                return r;
            }
            case 1: {  // a negative integer: its sign glued to it
                static const u64 LIMITS[] = {0x100, 0x10000, 0x100000000ull, 0x8000000000000001ull};
                u64 magnitude = 1 + random() % (LIMITS[pick(4)] - 1);
                r.cls = Reference::SIGNED;
                r.data = 0 - magnitude;
                r.size = size_of_number(magnitude);
                text << "-" << magnitude;
                return r;
            }
            case 2: {  // a real, exact in decimal
                f64 real = (f64)((s64)pick(16001) - 8000) / 8.0;
                r.cls = Reference::REAL;
                r.data = bits_of(real);
                r.size = 4;
                char written[32];
                snprintf(written, sizeof(written), "%.3f", real);
                text << written;
                return r;
            }
        }
        r.cls = Reference::STRING;
        u64 length = pick(10);
        for (u64 i = 0; i < length; i++) r.text += (char)('a' + pick(26));
        r.size = (u32)length;
        text << '"' << r.text << '"';
        return r;
    }

    Reference operand(u32 depth) {
        static const std::pair<u64, const char*> PREFIXES[] = {
            {OP_SUBTRACT, "- "}, {OP_NOT, "!"}, {OP_BIT_NOT, "~"}, {OP_INCREMENT, "++"}, {OP_DECREMENT, "--"}};
        bool prefixed = pick(5) == 0;
        u64 prefix = 0;
        if (prefixed) {
            auto& chosen = PREFIXES[pick(5)];
            prefix = chosen.first;
            text << chosen.second;
        }
        Reference value;
        if (depth < 3 && pick(4) == 0) {
            text << "(";
            value = expression(depth + 1);
            text << ")";
        } else {
            value = literal();
        }
        if (!value.error.empty() || !prefixed) return value;
        return reference_unary(prefix, value);
    }

    // Precedence climbing over the written operators: equal priorities from the left.
    Reference expression(u32 depth) {
        std::vector<Reference> operands;
        std::vector<const Written_Operator*> operators;
        operands.push_back(operand(depth));
        u64 count = pick(depth ? 3 : 5);
        for (u64 i = 0; i < count; i++) {
            const Written_Operator* o = &WRITTEN_OPERATORS[pick(ARRAY_COUNT(WRITTEN_OPERATORS))];
            text << " " << o->text << " ";
            operators.push_back(o);
            operands.push_back(operand(depth));
        }
        size_t next = 0;
        return climb(operands, operators, next, 0);
    }

    // The compiler reads operands and applies operators left to right, so the first report
    // is the first failure in that order: a failed left side stays the report.
    Reference climb(std::vector<Reference>& operands, std::vector<const Written_Operator*>& operators, size_t& next, u8 minimum) {
        Reference left = operands[next];
        while (next < operators.size() && operators[next]->priority >= minimum) {
            const Written_Operator* o = operators[next++];
            Reference right = climb(operands, operators, next, o->priority + 1);
            if (!left.error.empty()) continue;
            left = right.error.empty() ? reference_binary(o->bit, left, right) : right;
        }
        return left;
    }
};

static std::string describe(const Reference& r) {
    std::ostringstream s;
    if (!r.error.empty()) return "report: " + r.error;
    static const char* const CLASSES[] = {"unsigned", "signed", "real", "string"};
    s << CLASSES[r.cls] << (r.b8 ? " b8" : "") << " size " << r.size << " data 0x" << std::hex << r.data;
    if (r.cls == Reference::STRING) s << " \"" << r.text << "\"";
    return s.str();
}

static Reference from_compiler(const Folded& folded) {
    if (!folded.ok) return reference_error(folded.message);
    const Constant* c = &folded.value.constant;
    Reference r = {};
    r.cls = c->mask & CONSTANT_STRING ? Reference::STRING
          : c->mask & CONSTANT_REAL   ? Reference::REAL
          : c->mask & CONSTANT_SIGNED ? Reference::SIGNED
                                      : Reference::UNSIGNED;
    r.b8 = (c->mask & CONSTANT_TYPED) && c->type == basic_type(BASIC_TYPE_B8);
    r.size = c->size;
    if (r.cls == Reference::STRING) r.text = std::string((char*)c->data, c->length);
    else r.data = c->data;
    return r;
}

static bool same(const Reference& a, const Reference& b) {
    if (!a.error.empty() || !b.error.empty()) return a.error == b.error;
    if (a.cls != b.cls || a.b8 != b.b8) return false;
    if (a.cls == Reference::STRING) return a.text == b.text;
    return a.data == b.data && a.size == b.size;
}

TEST(Folding, RandomExpressionsAgainstTheReference) {
    u64 seed = std::random_device{}();
    if (const char* given = getenv("QUARN_FOLDING_SEED")) seed = strtoull(given, nullptr, 0);
    Generator generator;
    generator.random.seed(seed);
    u32 failures = 0;
    for (u32 i = 0; i < 3000 && failures < 5; i++) {
        generator.text.str("");
        Reference expected = generator.expression(0);
        std::string text = generator.text.str();
        Reference folded = from_compiler(fold_text(text));
        if (!same(expected, folded)) {
            ADD_FAILURE() << "seed " << seed << " (QUARN_FOLDING_SEED), expression " << i << ": " << text
                          << "\n  reference: " << describe(expected) << "\n  compiler:  " << describe(folded);
            failures++;
        }
    }
}
