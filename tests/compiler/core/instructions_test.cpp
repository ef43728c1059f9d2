#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "compiler_test_helpers.h"

// Emitter calls on named registers of one sub-program body, and the dump of what they
// appended: one line per instruction, registers by name ("t5" for a temporary an emitter
// made, "c9" for constant data, "one32" and the like for the shared float constants).
struct Emit_Fixture {
    Scope* body;
    std::map<std::pair<u8, u32>, std::string> names;  // (table, index) of the body's and global registers
    Value a, b, c, s, u8_variable, flag, f, g, d, str, str2, p, q, pf, t, tp, record;
    Identifier* sub_program;

    Value variable(const char* name, Basic_Type_Slot slot, u8 depth = 0, bool owned = true) {
        Identifier* type = type_to_memory_address_of_type(basic_type(slot), depth);
        Value value;
        make_dynamic_value(&value, body, type, Trace{});
        if (owned) {
            get_register(value.dynamic.register_id)->flags |= REGISTER_OWNED_BY_IDENTIFIER;
            value.kind = VALUE_REGISTER | (type == basic_type(BASIC_TYPE_B8) ? VALUE_BOOLEAN : 0);
        }
        names[{REGISTER_LOCAL, value.dynamic.register_id.index}] = name;
        return value;
    }

    Value indirect(Value address) {
        address.kind = VALUE_REGISTER | VALUE_INDIRECT;
        return address;
    }

    Value integer(s64 v, Basic_Type_Slot slot = BASIC_TYPE_S64, u8 extra_kind = 0) {
        Value value;
        make_constant_value_from_integer(&value, (u64)v, basic_type(slot), Trace{});
        value.kind |= extra_kind;
        return value;
    }

    Value real(f64 v, Basic_Type_Slot slot = BASIC_TYPE_F32) {
        Value value;
        make_constant_value_from_float(&value, v, basic_type(slot), Trace{});
        return value;
    }

    Value as_address(Value integer_value) {
        if (integer_value.kind & VALUE_CONSTANT) integer_value.constant.type = p.dynamic.type;
        else integer_value.dynamic.type = p.dynamic.type;
        integer_value.kind |= VALUE_INTEGER_AS_POINTER;
        return integer_value;
    }
};

static Emit_Fixture make_emit_fixture() {
    Emit_Fixture f;
    EXPECT_TRUE(reset_with_basic_types());
    f.body = _add_a_scope(global_compiler_state.global_scope, BASIC_SUB_PROGRAM_SCOPE_FLAGS, Trace{});
    f.a = f.variable("a", BASIC_TYPE_U64);
    f.b = f.variable("b", BASIC_TYPE_U64);
    f.c = f.variable("c", BASIC_TYPE_U64);
    f.s = f.variable("s", BASIC_TYPE_S32);
    f.u8_variable = f.variable("byte", BASIC_TYPE_U8);
    f.flag = f.variable("flag", BASIC_TYPE_B8);
    f.f = f.variable("f", BASIC_TYPE_F32);
    f.g = f.variable("g", BASIC_TYPE_F32);
    f.d = f.variable("d", BASIC_TYPE_F64);
    f.str = f.variable("str", BASIC_TYPE_STRING);
    f.str2 = f.variable("str2", BASIC_TYPE_STRING);
    f.p = f.variable("p", BASIC_TYPE_U64, 1);
    f.q = f.variable("q", BASIC_TYPE_U8, 1);
    f.pf = f.variable("pf", BASIC_TYPE_F32, 1);
    f.t = f.variable("t", BASIC_TYPE_U64, 0, false);
    f.tp = f.variable("tp", BASIC_TYPE_U64, 1, false);
    f.record = f.variable("record", BASIC_TYPE_STRING, 0, false);
    get_register(f.record.dynamic.register_id)->size = 48;
    f.sub_program = add_test_struct(global_compiler_state.global_scope, "callee");
    f.sub_program->flags = TYPE_SUB_PROGRAM | IDENTIFIER_CONSTANT;
    return f;
}

static std::string register_text(Emit_Fixture& f, Register_Id id) {
    Register* row = get_register(id);
    if (!row) return "?";
    if (row->kind == REGISTER_VIEW) return register_text(f, row->base) + "+" + std::to_string(row->view_offset);
    static const char* shared[] = {"one32", "minus_one32", "one64", "minus_one64", "sign32", "sign64"};
    for (u32 i = 0; i < FLOAT_CONSTANT_SLOT_COUNT; i++) {
        if (registers_match(id, global_compiler_state.float_constants[i])) return shared[i];
    }
    auto name = f.names.find({id.table, id.index});
    if (name != f.names.end()) return name->second;
    return (id.table == REGISTER_CONSTANT_DATA ? "c" : "t") + std::to_string(id.index);
}

static std::string value_text(Emit_Fixture& f, Value& v) {
    if (!(v.kind & VALUE_CONSTANT)) return (v.kind & VALUE_INDIRECT ? "*" : "") + register_text(f, v.dynamic.register_id);
    Constant& c = v.constant;
    if (c.mask & CONSTANT_STRING) return "#\"" + std::string((char*)c.data, c.length) + "\"";
    if (c.mask & CONSTANT_REAL) {
        f64 real;
        memcpy(&real, &c.data, 8);
        char text[32];
        snprintf(text, sizeof(text), "#%g", real);
        return text;
    }
    if (c.mask & CONSTANT_SIGNED) return "#" + std::to_string((s64)c.data);
    if (c.mask & CONSTANT_UNSIGNED) return "#" + std::to_string(c.data);
    if (c.type) return "#" + std::string((char*)c.type->name.data, c.type->name.count);
    return "#?";
}

static std::string operator_text(u64 op) { return op == OP_NEGATE ? "neg" : operator_to_c_string(op); }

static std::string instruction_text(Emit_Fixture& f, Instruction* i) {
    std::string k = std::to_string(i->kind) + " ";
    switch (i->kind) {
        case 0: return k + "zero " + value_text(f, i->value);
        case 6: return k + "bool " + value_text(f, i->value);
        case 1: case 2: case 3: case 4: case 10:
            return k + value_text(f, i->copy.destination) + " = " + value_text(f, i->copy.source);
        case 5:
            return k + "cast" + std::to_string(i->cast.cast_kind) + " " + value_text(f, i->cast.destination) + " = " +
                   value_text(f, i->cast.source) + (i->cast.unsigned_source ? " unsigned" : "");
        case 7: case 8: case 9: {
            std::string sum = value_text(f, i->address.base) + " + " + value_text(f, i->address.index) +
                              (i->address.byte_index ? " octets" : " elements");
            return k + value_text(f, i->address.destination) + " = " + (i->kind == 7 ? "[" + sum + "]" : sum);
        }
        case 11: case 12:
            return k + value_text(f, i->arithmetic.destination) + " " + operator_text(i->arithmetic.operator_bit) + " " +
                   value_text(f, i->arithmetic.source);
        case 13: case 14: case 15: case 16: case 17: case 18:
            return k + value_text(f, i->copy.destination) + " ? " + value_text(f, i->copy.source);
        case 20:
            return k + value_text(f, i->compare_result.destination) + " = " + operator_text(i->compare_result.operator_bit) +
                   (i->compare_result.unsigned_compare ? " unsigned" : "") + (i->compare_result.float_compare ? " float" : "");
    }
    return k;
}

static std::vector<std::string> dump(Emit_Fixture& f) {
    std::vector<std::string> lines;
    for (Instruction* i = (Instruction*)f.body->instructions.first_element; i; i = i->next) lines.push_back(instruction_text(f, i));
    return lines;
}

TEST(Instructions, Emitters) {
    using Lines = std::vector<std::string>;
    struct Case {
        const char* name;
        std::function<bool(Emit_Fixture&)> emit;  // false when the emitters failed
        Lines expected;
        Lines messages;
    };
    auto copy = [](Emit_Fixture& f, Value to, Value from) { return instruction_copy_value(f.body, &to, &from); };
    auto arith = [](Emit_Fixture& f, u64 op, Value to, Value right) {
        return right.kind & VALUE_CONSTANT ? instruction_arithmetic_constant(f.body, op, &to, &right)
                                           : instruction_arithmetic(f.body, op, &to, &right);
    };
    auto compare = [](Emit_Fixture& f, Value left, Value right) { return instruction_cmp(f.body, &left, &right); };
    auto cast = [](Emit_Fixture& f, u8 kind, Value to, Value from) { return instruction_cast(f.body, kind, &to, &from); };
    auto string_literal = [](Emit_Fixture&, const char* text) {
        Value v;
        make_constant_value_from_string(&v, string_from_c(text), Trace{});
        return v;
    };
    const Case cases[] = {
        // Folding a copy into the instruction that made its source.
        {"a temporary's copy is folded", [&](Emit_Fixture& f) { return copy(f, f.t, f.b) && copy(f, f.a, f.t); },
         {"3 a = b"}},
        {"a sum stays in place: folding would drop the left operand",
         [&](Emit_Fixture& f) { return copy(f, f.t, f.b) && arith(f, OP_ADD, f.t, f.c) && copy(f, f.a, f.t); },
         {"3 t = b", "11 t + c", "3 a = t"}},
        {"a cast's result goes straight to the variable",
         [&](Emit_Fixture& f) { return cast(f, 3, f.t, f.s) && copy(f, f.a, f.t); }, {"5 cast3 a = s"}},
        {"a compare result too",
         [&](Emit_Fixture& f) {
             Value result = f.t;
             return instruction_get_cmp_result(f.body, OP_LESS, &result, &f.a) && copy(f, f.flag, f.t);
         },
         {"20 flag = < unsigned"}},
        {"a variable just set to zero: the zero is written again",
         [&](Emit_Fixture& f) { return copy(f, f.b, f.integer(0)) && copy(f, f.a, f.b); }, {"0 zero b", "0 zero a"}},
        {"a variable just set to a constant: the constant is copied again",
         [&](Emit_Fixture& f) { return copy(f, f.b, f.integer(5)) && copy(f, f.a, f.b); }, {"1 b = #5", "1 a = #5"}},
        {"a variable just copied is copied, not folded",
         [&](Emit_Fixture& f) { return copy(f, f.b, f.c) && copy(f, f.a, f.b); }, {"3 b = c", "3 a = b"}},
        {"an indirect destination keeps its copy indirect",
         [&](Emit_Fixture& f) { return copy(f, f.t, f.b) && copy(f, f.indirect(f.p), f.t); }, {"4 *p = b"}},
        {"and its constant copy",
         [&](Emit_Fixture& f) {
             Value five = f.integer(5);
             Instruction* i = allocate_an_instruction(f.body, 1);
             set_instruction_for_a_constant_copy(i, &f.t, &five);
             return copy(f, f.indirect(f.p), f.t);
         },
         {"2 *p = #5"}},
        {"and its address",
         [&](Emit_Fixture& f) {
             return instruction_memory_dereference(f.body, 0, 8, &f.tp, &f.p, &f.b) && copy(f, f.indirect(f.q), f.tp);
         },
         {"9 *q = p + b elements"}},
        {"a taken address is not folded into an indirect destination",
         [&](Emit_Fixture& f) {
             Instruction* i = allocate_an_instruction(f.body, 10);
             i->copy.destination = f.tp;
             i->copy.source = f.b;
             return copy(f, f.indirect(f.q), f.tp);
         },
         {"10 tp = b", "4 *q = tp"}},
        {"a source read through its address is not folded",
         [&](Emit_Fixture& f) {
             return instruction_memory_dereference(f.body, 0, 8, &f.tp, &f.p, &f.b) && copy(f, f.a, f.indirect(f.tp));
         },
         {"8 tp = p + b elements", "3 a = *tp"}},
        {"a copy to itself is nothing; through its address it is a store",
         [&](Emit_Fixture& f) { return copy(f, f.a, f.a) && copy(f, f.indirect(f.tp), f.tp); }, {"4 *tp = tp"}},

        // Constants.
        {"zeros", [&](Emit_Fixture& f) { return copy(f, f.a, f.integer(0)) && copy(f, f.f, f.real(0.0)) && copy(f, f.p, f.integer(0)); },
         {"0 zero a", "0 zero f", "0 zero p"}},
        {"shared float constants and a new one",
         [&](Emit_Fixture& f) {
             return copy(f, f.f, f.real(1.0)) && copy(f, f.d, f.real(-1.0, BASIC_TYPE_F64)) && copy(f, f.f, f.real(2.5)) &&
                    copy(f, f.indirect(f.pf), f.real(-0.0));
         },
         {"3 f = one32", "3 d = minus_one64", "3 f = c6", "4 *pf = c7"}},
        {"a sub-program as a value is listed once",
         [&](Emit_Fixture& f) {
             Value callee;
             make_constant_value_from_register(&callee, INVALID_REGISTER_ID, f.sub_program, Trace{});
             return copy(f, f.a, callee) && copy(f, f.b, callee) && global_compiler_state.sub_programs.count == 1 &&
                    *(Identifier**)global_compiler_state.sub_programs.data == f.sub_program &&
                    (f.sub_program->flags & IDENTIFIER_IN_SUB_PROGRAM_LIST);
         },
         {"1 a = #callee", "1 b = #callee"}},
        {"stack trace location",
         [&](Emit_Fixture& f) { return update_stack_trace_location(f.body, f.record.dynamic.register_id, 12, 34, Trace{}); },
         {"1 record+32 = #12", "1 record+36 = #34"}},

        // Arithmetic with 0, 1 and -1.
        {"multiplying by 1, adding 0, shifting by 0", [&](Emit_Fixture& f) {
             return arith(f, OP_MULTIPLY, f.a, f.integer(1)) && arith(f, OP_ADD, f.a, f.integer(0)) &&
                    arith(f, OP_SHIFT_LEFT, f.a, f.integer(0)) && arith(f, OP_DIVIDE, f.f, f.real(1.0)) &&
                    arith(f, OP_BIT_XOR, f.a, f.integer(0, BASIC_TYPE_U8));
         },
         {}},
        {"multiplying by 0", [&](Emit_Fixture& f) { return arith(f, OP_MULTIPLY, f.a, f.integer(0)) && arith(f, OP_MULTIPLY, f.f, f.real(0.0)); },
         {"0 zero a", "0 zero f"}},
        {"multiplying or dividing by -1 negates",
         [&](Emit_Fixture& f) { return arith(f, OP_MULTIPLY, f.s, f.integer(-1, BASIC_TYPE_S32)) && arith(f, OP_DIVIDE, f.s, f.integer(-1)); },
         {"11 s neg s", "11 s neg s"}},
        {"an s8 -1 held in its own octet",
         [&](Emit_Fixture& f) {
             Value minus_one = f.integer(0xFF, BASIC_TYPE_S8);
             return arith(f, OP_MULTIPLY, f.s, minus_one);
         },
         {"11 s neg s"}},
        {"an unsigned 255 is no -1", [&](Emit_Fixture& f) { return arith(f, OP_MULTIPLY, f.a, f.integer(255, BASIC_TYPE_U8)); },
         {"12 a * #255"}},
        {"dividing by 0", [&](Emit_Fixture& f) { return arith(f, OP_DIVIDE, f.a, f.integer(0)); }, {},
         {"It looks like you are dividing by zero."}},
        {"the remainder of 0", [&](Emit_Fixture& f) { return arith(f, OP_MODULO, f.a, f.integer(0, BASIC_TYPE_U32)); }, {},
         {"It looks like you are dividing by zero."}},
        {"dividing by 0.0", [&](Emit_Fixture& f) { return arith(f, OP_DIVIDE, f.f, f.real(0.0)); }, {},
         {"It looks like you are dividing by zero."}},
        {"|| 0 makes a boolean of what is not one",
         [&](Emit_Fixture& f) { return arith(f, OP_LOGICAL_OR, f.a, f.integer(0)) && arith(f, OP_LOGICAL_OR, f.flag, f.integer(0)); },
         {"6 bool a"}},
        {"a constant operand", [&](Emit_Fixture& f) { return arith(f, OP_MULTIPLY, f.a, f.integer(3)) && arith(f, OP_ADD, f.a, f.b); },
         {"12 a * #3", "11 a + b"}},
        {"a float constant operand comes from data",
         [&](Emit_Fixture& f) { return arith(f, OP_MULTIPLY, f.f, f.real(2.5)) && arith(f, OP_ADD, f.d, f.real(1.0, BASIC_TYPE_F64)); },
         {"11 f * c6", "11 d + c7"}},
        {"an indirect destination is loaded, worked on and stored",
         [&](Emit_Fixture& f) { return arith(f, OP_ADD, f.indirect(f.p), f.integer(5)) && arith(f, OP_SUBTRACT, f.indirect(f.p), f.b); },
         {"7 t17 = [p + #0 octets]", "12 t17 + #5", "4 *p = t17", "7 t18 = [p + #0 octets]", "11 t18 - b", "4 *p = t18"}},
        {"a negation through an address works on the loaded value",
         [&](Emit_Fixture& f) { return arith(f, OP_MULTIPLY, f.indirect(f.p), f.integer(-1)); },
         {"7 t17 = [p + #0 octets]", "11 t17 neg t17", "4 *p = t17"}},

        // Addresses.
        {"stepping an address of u64 counts 8 octets",
         [&](Emit_Fixture& f) { return arith(f, OP_INCREMENT, f.p, f.p) && arith(f, OP_DECREMENT, f.p, f.p); },
         {"12 p + #8", "12 p - #8"}},
        {"an address of octets steps by one", [&](Emit_Fixture& f) { return arith(f, OP_INCREMENT, f.q, f.q); }, {"11 q ++ q"}},
        {"adding elements", [&](Emit_Fixture& f) {
             return arith(f, OP_ADD, f.p, f.as_address(f.b)) && arith(f, OP_ADD, f.p, f.as_address(f.integer(3)));
         },
         {"8 p = p + b elements", "8 p = p + #3 elements"}},
        {"subtracting elements scales them in a temporary",
         [&](Emit_Fixture& f) { return arith(f, OP_SUBTRACT, f.p, f.as_address(f.b)) && arith(f, OP_SUBTRACT, f.p, f.as_address(f.integer(3))); },
         {"3 t17 = b", "12 t17 * #8", "11 p - t17", "12 p - #24"}},
        {"a temporary count is scaled in place",
         [&](Emit_Fixture& f) {
             Value count = f.as_address(f.t);
             count.kind |= VALUE_FRESH;
             return arith(f, OP_SUBTRACT, f.p, count);
         },
         {"12 t * #8", "11 p - t"}},
        {"other operators on an address", [&](Emit_Fixture& f) {
             return arith(f, OP_MULTIPLY, f.p, f.as_address(f.integer(2))) || arith(f, OP_BIT_AND, f.p, f.as_address(f.b));
         },
         {}, {"Operator '*' cannot be used on a memory address.", "Operator '&' cannot be used on a memory address."}},
        {"an address calculated into a temporary becomes a load",
         [&](Emit_Fixture& f) {
             Value zero = f.integer(0), one = f.integer(1);
             return instruction_memory_dereference(f.body, 1, 8, &f.tp, &f.p, &zero) &&
                    !try_to_replace_an_lea_by_a_dereference(f.body, &f.a, &f.tp, &one) &&
                    try_to_replace_an_lea_by_a_dereference(f.body, &f.a, &f.tp, &zero) &&
                    !try_to_replace_an_lea_by_a_dereference(f.body, &f.b, &f.tp, &zero);
         },
         {"7 a = [p + #0 octets]"}},
        {"booleans", [&](Emit_Fixture& f) {
             Value a = f.a;
             return instruction_make_value_boolean(f.body, &f.flag) && instruction_make_value_boolean(f.body, &a) &&
                    instruction_make_value_boolean(f.body, &a);
         },
         {"6 bool a"}},
        {"casts and their unsigned flag", [&](Emit_Fixture& f) {
             return cast(f, 3, f.a, f.s) && cast(f, 3, f.a, f.u8_variable) && cast(f, 3, f.p, f.u8_variable) && cast(f, 3, f.pf, f.u8_variable) &&
                    cast(f, 0, f.f, f.a) && cast(f, 0, f.f, f.s) && cast(f, 1, f.a, f.f) && cast(f, 1, f.s, f.f) &&
                    cast(f, 2, f.u8_variable, f.a);
         },
         {"5 cast3 a = s", "5 cast3 a = byte unsigned", "5 cast3 p = byte unsigned", "5 cast3 pf = byte", "5 cast0 f = a unsigned", "5 cast0 f = s",
          "5 cast1 a = f unsigned", "5 cast1 s = f", "5 cast2 byte = a"}},

        // Compares.
        {"integer, float and block compares", [&](Emit_Fixture& f) {
             return compare(f, f.a, f.integer(5)) && compare(f, f.a, f.b) && compare(f, f.f, f.g) && compare(f, f.str, f.str2) &&
                    compare(f, f.str, string_literal(f, "hi")) && compare(f, f.p, f.integer(0)) && compare(f, f.pf, f.pf);
         },
         {"14 a ? #5", "13 a ? b", "15 f ? g", "17 str ? str2", "18 str ? #\"hi\"", "14 p ? #0", "13 pf ? pf"}},
        {"float constants are compared from data", [&](Emit_Fixture& f) {
             return compare(f, f.f, f.real(1.0)) && compare(f, f.f, f.real(2.5)) && compare(f, f.d, f.real(-1.0, BASIC_TYPE_F64));
         },
         {"15 f ? one32", "15 f ? c6", "15 d ? minus_one64"}},
        {"compare results", [&](Emit_Fixture& f) {
             return instruction_get_cmp_result(f.body, OP_LESS, &f.flag, &f.a) &&
                    instruction_get_cmp_result(f.body, OP_GREATER, &f.flag, &f.s) &&
                    instruction_get_cmp_result(f.body, OP_EQUAL, &f.flag, &f.f) &&
                    instruction_get_cmp_result(f.body, OP_LESS_EQUAL, &f.flag, &f.p);
         },
         {"20 flag = < unsigned", "20 flag = >", "20 flag = == float", "20 flag = <="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emit_Fixture f = make_emit_fixture();
        u32 instructions = f.body->instructions.count;
        bool emitted = c.emit(f);
        EXPECT_EQ(emitted, c.messages.empty());
        EXPECT_EQ(dump(f), c.expected);
        EXPECT_EQ(compile_error_messages(), c.messages);
        EXPECT_EQ(f.body->instructions.count, instructions + c.expected.size());
    }
}

TEST(Instructions, AppendingKeepsTheListAndTheCount) {
    Emit_Fixture f = make_emit_fixture();
    // More than a bucket's worth, so the list crosses buckets.
    for (u32 i = 0; i < NUM_INSTRUCTIONS_PER_BUCKET * 3 + 1; i++) {
        Instruction* instruction = allocate_an_instruction(f.body, INSTRUCTION_SCOPE_END);
        ASSERT_NE(instruction, nullptr);
        EXPECT_EQ(instruction->next, nullptr);
        EXPECT_EQ(get_last_instruction(f.body), instruction);
    }
    u32 walked = 0;
    for (Instruction* i = (Instruction*)f.body->instructions.first_element; i; i = i->next) walked++;
    EXPECT_EQ(walked, NUM_INSTRUCTIONS_PER_BUCKET * 3 + 1);
    EXPECT_EQ(get_current_lifetime_id(f.body), walked);
}
