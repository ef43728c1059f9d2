// Random programs of integer arithmetic, if chains, while and for loops, switches,
// levelled break and continue, deferred blocks, sub-programs called or expanded inline with
// their returns, and foreign calls (which keep only the machine registers their live masks
// name), written as source, compiled by the front end to linked bytecode and run by a small
// interpreter over the registers where placement put them (machine registers and stack
// slots). The globals must end as the program, evaluated directly, leaves them: a lifetime
// cut short lets a later value take a live register's place, a jump aimed wrong runs the
// wrong code, and both give other results.
#include <gtest/gtest.h>

#include <string.h>

#include <iostream>
#include <memory>
#include <random>
#include <sstream>

#include "bytecode_checks.h"
#include "parser_test_helpers.h"
#include "tests/test_seed.h"

namespace {

//~ Programs

const int GLOBALS = 4;

struct Expr {
    int var = -1;  // a leaf: a variable, or the constant when -1; a call: the sub-program
    s64 value = 0;
    char op = 0;   // "+-*&|^", 'c' a call with its two arguments; 0 for a leaf
    std::shared_ptr<Expr> left, right;
};

struct Cond {
    char kind = 'c';  // 'c' a comparison, '&' or '|' joining two conditions
    Expr left, right;
    std::string relation;
    std::shared_ptr<Cond> a, b;
};

struct Stmt;
using Block = std::vector<Stmt>;

enum Stmt_Kind { DECLARE, ASSIGN, IF, WHILE, FOR, LOOP_JUMP, DEFER, SWITCH, RETURN, FOREIGN_CALL };

struct Stmt {
    Stmt_Kind kind;
    int var = -1;        // declared, assigned or switched; a while's counter, a for's index
    char assign = '=';   // '=' or the operator of a compound assignment
    Expr expr;
    s64 value = 0;       // a declaration's value, a while's bound
    int limit = -1;      // a for loop's limit variable
    bool from_zero = false;  // for 0, limit
    std::vector<Cond> conditions;  // an if chain's links; a while's condition; a loop jump's or return's
    std::vector<Block> blocks;     // the links' blocks then the else block; a loop's body; the cases
    bool has_else = false;
    bool is_break = true;
    int level = 0;
    std::vector<s64> cases;
    std::vector<bool> no_break;
    bool has_default = false;
};

// A sub-program of two parameters, expanded inline or called; it changes only its own
// locals, so a call is a value whatever the order of evaluation.
struct Sub {
    int a, b;
    bool is_inline;
    Block body;  // ends with its return
};

struct Program {
    std::vector<std::string> names;  // by variable id; the globals first
    std::vector<Sub> subs;
    Block body;
};

struct Generator {
    std::mt19937 random;
    Program* program;
    std::vector<int> visible;      // variables in reach, innermost last
    std::vector<bool> assignable;  // by id: loop indexes, limits and counters are not
    int statements = 0;
    int assign_floor = 0;  // the lowest variable assignments may change
    bool in_sub = false;

    u32 draw(u32 n) { return (u32)(random() % n); }

    int add_variable(char prefix, bool can_assign) {
        int id = (int)program->names.size();
        program->names.push_back(prefix + std::to_string(id));
        assignable.push_back(can_assign);
        return id;
    }

    Expr leaf(bool calls = true) {
        Expr e;
        if (calls && !in_sub && !program->subs.empty() && draw(8) == 0) {
            e.op = 'c';
            e.var = (int)draw((u32)program->subs.size());
            e.left = std::make_shared<Expr>(leaf(false));
            e.right = std::make_shared<Expr>(leaf(false));
        } else if (draw(3)) {
            e.var = visible[draw((u32)visible.size())];
        } else {
            e.value = draw(13);
        }
        return e;
    }

    Expr expression(int depth = 0) {
        if (depth == 2 || draw(3) == 0) return leaf();
        Expr e;
        e.op = "+-*&|^"[draw(6)];
        e.left = std::make_shared<Expr>(expression(depth + 1));
        e.right = std::make_shared<Expr>(leaf());
        return e;
    }

    Cond condition(int depth = 0) {
        Cond c;
        if (depth == 2 || draw(3)) {
            static const char* relations[] = {"<", "<=", ">", ">=", "==", "!="};
            c.left = leaf(false);
            if (c.left.var < 0) c.left.var = visible[draw((u32)visible.size())];
            c.right = draw(2) ? leaf() : expression(1);
            c.relation = relations[draw(6)];
            return c;
        }
        c.kind = draw(2) ? '&' : '|';
        c.a = std::make_shared<Cond>(condition(depth + 1));
        c.b = std::make_shared<Cond>(condition(depth + 1));
        return c;
    }

    int assignable_target() {
        std::vector<int> targets;
        for (int v : visible) {
            if (assignable[v] && v >= assign_floor) targets.push_back(v);
        }
        return targets[draw((u32)targets.size())];
    }

    Stmt assignment() {
        Stmt s{ASSIGN};
        s.var = assignable_target();
        s.assign = "=+-*&|^"[draw(7)];
        s.expr = expression();
        return s;
    }

    Block block(int loops, int depth) {
        Block b;
        size_t scope_start = visible.size();
        for (u32 n = 1 + draw(4); n > 0 && statements < 40; n--) b.push_back(statement(loops, depth));
        visible.resize(scope_start);
        return b;
    }

    Stmt statement(int loops, int depth) {
        statements++;
        u32 choice = depth >= 3 ? draw(3) : draw(10);
        if (choice == 0) {
            Stmt s{DECLARE};
            s.var = add_variable('v', true);
            s.value = draw(13);
            visible.push_back(s.var);
            return s;
        }
        if (choice == 1) {
            if (in_sub && draw(2)) {
                Stmt s{RETURN};
                s.conditions.push_back(condition());
                s.expr = expression();
                return s;
            }
            if (loops) {
                Stmt s{LOOP_JUMP};
                s.conditions.push_back(condition());
                s.is_break = draw(2);
                s.level = (int)draw((u32)loops);
                return s;
            }
            return assignment();
        }
        if (choice == 2) return draw(4) ? assignment() : Stmt{FOREIGN_CALL};
        if (choice == 3) {
            Stmt s{DEFER};
            Stmt a = assignment();
            s.var = a.var;
            s.assign = a.assign;
            s.expr = a.expr;
            return s;
        }
        if (choice == 4 || choice == 5) {
            Stmt s{IF};
            for (u32 n = 1 + draw(3); n > 0; n--) {
                s.conditions.push_back(condition());
                s.blocks.push_back(block(loops, depth + 1));
            }
            s.has_else = draw(2);
            if (s.has_else) s.blocks.push_back(block(loops, depth + 1));
            return s;
        }
        if (choice == 6 || choice == 7) {
            // The counter goes first in the body, so a continue cannot skip it.
            Stmt s{WHILE};
            s.var = add_variable('w', false);
            s.value = 1 + draw(3);
            visible.push_back(s.var);
            s.conditions.push_back(condition());
            s.blocks.push_back(block(loops + 1, depth + 1));
            return s;
        }
        if (choice == 8) {
            Stmt s{FOR};
            s.limit = add_variable('l', false);
            s.value = draw(5);
            s.from_zero = draw(2);
            visible.push_back(s.limit);
            s.var = add_variable('i', false);
            visible.push_back(s.var);
            s.blocks.push_back(block(loops + 1, depth + 1));
            visible.pop_back();  // the index is the loop's own
            return s;
        }
        Stmt s{SWITCH};
        s.var = visible[draw((u32)visible.size())];
        u32 count = 1 + draw(3);
        s64 next = draw(3);
        for (u32 k = 0; k < count; k++) {
            s.cases.push_back(next);
            next += 1 + draw(2);
            s.blocks.push_back(block(loops, depth + 1));
            s.no_break.push_back(k + 1 < count && draw(3) == 0);
        }
        s.has_default = draw(2);
        if (s.has_default) s.blocks.push_back(block(loops, depth + 1));
        return s;
    }
};

//~ The source text

struct Writer {
    const Program& program;
    std::ostringstream out;

    std::string name(int var) { return program.names[var]; }

    std::string text(const Expr& e, bool top = true) {
        if (!e.op) return e.var >= 0 ? name(e.var) : std::to_string(e.value);
        if (e.op == 'c') return "f" + std::to_string(e.var) + "(" + text(*e.left) + ", " + text(*e.right) + ")";
        std::string t = text(*e.left, false) + " " + e.op + " " + text(*e.right, false);
        return top ? t : "(" + t + ")";
    }

    std::string text(const Cond& c) {
        if (c.kind == 'c') return text(c.left) + " " + c.relation + " " + text(c.right);
        auto part = [&](const Cond& p) { return p.kind == 'c' ? text(p) : "(" + text(p) + ")"; };
        return part(*c.a) + (c.kind == '&' ? " && " : " || ") + part(*c.b);
    }

    std::string assignment(const Stmt& s) {
        std::string op = s.assign == '=' ? "=" : std::string(1, s.assign) + "=";
        return name(s.var) + " " + op + " " + text(s.expr) + ";";
    }

    void write(const Block& b, int indent) {
        for (const Stmt& s : b) write(s, indent);
    }

    void open(const Block& b, int indent) {
        out << "{\n";
        write(b, indent + 1);
        out << std::string(indent * 4, ' ') << "}";
    }

    void write(const Stmt& s, int indent) {
        std::string pad(indent * 4, ' ');
        out << pad;
        switch (s.kind) {
            case DECLARE: out << name(s.var) << ": s64 = " << s.value << ";\n"; break;
            case ASSIGN: out << assignment(s) << "\n"; break;
            case DEFER: out << "#defer { " << assignment(s) << " }\n"; break;
            case FOREIGN_CALL: out << "go_left();\n"; break;
            case RETURN:
                if (s.conditions.empty()) out << "return " << text(s.expr) << ";\n";
                else out << "if " << text(s.conditions[0]) << " { return " << text(s.expr) << "; }\n";
                break;
            case LOOP_JUMP:
                out << "if " << text(s.conditions[0]) << " { " << (s.is_break ? "break" : "continue");
                if (s.level) out << " " << s.level;
                out << "; }\n";
                break;
            case IF:
                for (size_t k = 0; k < s.conditions.size(); k++) {
                    out << (k ? " else if " : "if ") << text(s.conditions[k]) << " ";
                    open(s.blocks[k], indent);
                }
                if (s.has_else) {
                    out << " else ";
                    open(s.blocks.back(), indent);
                }
                out << "\n";
                break;
            case WHILE:
                out << name(s.var) << ": s64 = 0;\n" << pad << "while " << name(s.var) << " < " << s.value << " && ("
                    << text(s.conditions[0]) << ") {\n"
                    << pad << "    " << name(s.var) << " += 1;\n";
                write(s.blocks[0], indent + 1);
                out << pad << "}\n";
                break;
            case FOR:
                out << name(s.limit) << ": s64 = " << s.value << ";\n" << pad << "for " << (s.from_zero ? "0, " : "")
                    << name(s.limit) << " -> " << name(s.var) << " ";
                open(s.blocks[0], indent);
                out << "\n";
                break;
            case SWITCH:
                out << "switch " << name(s.var) << " {\n";
                for (size_t k = 0; k < s.cases.size(); k++) {
                    out << pad << "    " << s.cases[k] << " ";
                    open(s.blocks[k], indent + 1);
                    out << (s.no_break[k] ? " #no_break\n" : "\n");
                }
                if (s.has_default) {
                    out << pad << "    ";
                    open(s.blocks.back(), indent + 1);
                    out << "\n";
                }
                out << pad << "}\n";
                break;
        }
    }

    std::string source() {
        out << "$go_left: () = #import;\n";
        for (size_t k = 0; k < program.subs.size(); k++) {
            const Sub& sub = program.subs[k];
            out << "$f" << k << ": (" << name(sub.a) << ": s64, " << name(sub.b) << ": s64) -> s64 = "
                << (sub.is_inline ? "#inline " : "");
            open(sub.body, 0);
            out << ";\n";
        }
        for (int g = 0; g < GLOBALS; g++) out << name(g) << ": s64;\n";
        out << "#on_load ";
        open(program.body, 0);
        out << "\n";
        return out.str();
    }
};

//~ The program evaluated directly

enum Flow { FLOW_NORMAL, FLOW_BREAK, FLOW_CONTINUE, FLOW_RETURN };

struct Outcome {
    Flow flow = FLOW_NORMAL;
    int level = 0;  // loops still to leave
    s64 value = 0;  // returned
};

struct Evaluator {
    const Program* program;
    std::vector<s64> values;

    static s64 apply(char op, s64 a, s64 b) {
        u64 x = (u64)a, y = (u64)b;
        switch (op) {
            case '=': return b;
            case '+': return (s64)(x + y);
            case '-': return (s64)(x - y);
            case '*': return (s64)(x * y);
            case '&': return a & b;
            case '|': return a | b;
            case '^': return a ^ b;
        }
        return 0;
    }

    s64 eval(const Expr& e) {
        if (!e.op) return e.var >= 0 ? values[e.var] : e.value;
        if (e.op == 'c') {
            const Sub& sub = program->subs[e.var];
            s64 a = eval(*e.left), b = eval(*e.right);
            values[sub.a] = a;
            values[sub.b] = b;
            return run(sub.body).value;
        }
        return apply(e.op, eval(*e.left), eval(*e.right));
    }

    bool eval(const Cond& c) {
        if (c.kind == '&') return eval(*c.a) && eval(*c.b);
        if (c.kind == '|') return eval(*c.a) || eval(*c.b);
        s64 a = eval(c.left), b = eval(c.right);
        if (c.relation == "<") return a < b;
        if (c.relation == "<=") return a <= b;
        if (c.relation == ">") return a > b;
        if (c.relation == ">=") return a >= b;
        if (c.relation == "==") return a == b;
        return a != b;
    }

    void assign(const Stmt& s) { values[s.var] = apply(s.assign, values[s.var], eval(s.expr)); }

    // Deferred blocks run last first however the block is left.
    Outcome run(const Block& b) {
        std::vector<const Stmt*> deferred;
        Outcome o;
        for (const Stmt& s : b) {
            if (s.kind == DEFER) {
                deferred.push_back(&s);
                continue;
            }
            o = run(s);
            if (o.flow != FLOW_NORMAL) break;
        }
        for (auto d = deferred.rbegin(); d != deferred.rend(); ++d) assign(**d);
        return o;
    }

    // A loop's pass ended so: true when the loop goes on; the outcome left for the loops
    // outside otherwise.
    static bool goes_on(Outcome pass, Outcome* out) {
        if (pass.flow == FLOW_NORMAL || (pass.flow == FLOW_CONTINUE && pass.level == 0)) return true;
        if (pass.flow == FLOW_RETURN) *out = pass;
        else *out = pass.level == 0 ? Outcome{} : Outcome{pass.flow, pass.level - 1};
        return false;
    }

    Outcome run(const Stmt& s) {
        Outcome out;
        switch (s.kind) {
            case DECLARE: values[s.var] = s.value; break;
            case ASSIGN: assign(s); break;
            case DEFER:
            case FOREIGN_CALL: break;
            case LOOP_JUMP:
                if (eval(s.conditions[0])) out = Outcome{s.is_break ? FLOW_BREAK : FLOW_CONTINUE, s.level};
                break;
            case RETURN:
                // The value is taken before the deferred blocks of the scopes left run.
                if (s.conditions.empty() || eval(s.conditions[0])) out = Outcome{FLOW_RETURN, 0, eval(s.expr)};
                break;
            case IF:
                for (size_t k = 0; k < s.conditions.size(); k++) {
                    if (eval(s.conditions[k])) return run(s.blocks[k]);
                }
                if (s.has_else) return run(s.blocks.back());
                break;
            case WHILE:
                values[s.var] = 0;
                while (values[s.var] < s.value && eval(s.conditions[0])) {
                    values[s.var] += 1;
                    if (!goes_on(run(s.blocks[0]), &out)) break;
                }
                break;
            case FOR:
                values[s.limit] = s.value;
                for (values[s.var] = 0; values[s.var] < values[s.limit]; values[s.var]++) {
                    if (!goes_on(run(s.blocks[0]), &out)) break;
                }
                break;
            case SWITCH: {
                size_t body = s.blocks.size();
                for (size_t k = 0; k < s.cases.size() && body == s.blocks.size(); k++) {
                    if (values[s.var] == s.cases[k]) body = k;
                }
                if (body == s.blocks.size() && s.has_default) body = s.blocks.size() - 1;
                for (; body < s.blocks.size(); body++) {
                    out = run(s.blocks[body]);
                    if (out.flow != FLOW_NORMAL || body >= s.no_break.size() || !s.no_break[body]) break;
                }
            } break;
        }
        return out;
    }
};

//~ The bytecode run

#define UNARY_OPERATORS (OP_INCREMENT | OP_DECREMENT | OP_NEGATE | OP_BIT_NOT)

struct Machine {
    u64 gp[16] = {};
    std::vector<u8> frame, globals;
    u64 left = 0, right = 0;  // the last comparison, cut to its size
    u32 compare_size = 8;
    u8* block = nullptr;  // the argument block of the sub-program running
    u32 depth = 0;
    std::string fault;

    // The octets a register names: its place, after the offsets of every view on the way.
    u8* place(Register_Id id, u32* size) {
        Register* r = get_register(id);
        if (!r) return nullptr;
        *size = r->size;
        // A scalar result goes to RAX; the parameters lie in the caller's argument block.
        if (r->return_register == RETURN_REGISTER_RAX) return *size <= 8 ? (u8*)&gp[0] : nullptr;
        u64 offset = 0;
        while (r && r->kind == REGISTER_VIEW) {
            offset += r->view_offset;
            r = get_register(r->base);
        }
        if (!r) return nullptr;
        if (r->kind == REGISTER_GLOBAL_DATA) {
            return r->data_offset + offset + *size <= globals.size() ? &globals[r->data_offset + offset] : nullptr;
        }
        if (r->kind == REGISTER_CALL_DATA) return block ? block + r->data_offset + offset : nullptr;
        if (r->kind != REGISTER_LOCAL) return nullptr;
        if (r->in_machine_register) {
            if (r->machine_class != MACHINE_CLASS_INTEGER || offset + *size > 8) return nullptr;
            return (u8*)&gp[r->machine_number] + offset;
        }
        return r->data_offset + offset + *size <= frame.size() ? &frame[r->data_offset + offset] : nullptr;
    }

    u64 read(Register_Id id, u32 size = 0) {
        u32 own = 0;
        u8* p = place(id, &own);
        if (!p) {
            fault = "an operand without a place";
            return 0;
        }
        u64 v = 0;
        memcpy(&v, p, size ? size : own);
        return v;
    }

    void write(Register_Id id, u64 value, u32 size = 0) {
        u32 own = 0;
        u8* p = place(id, &own);
        if (!p) {
            fault = "an operand without a place";
            return;
        }
        memcpy(p, &value, size ? size : own);
    }

    static s64 extend(u64 v, u32 size) {
        if (size >= 8) return (s64)v;
        u32 shift = 64 - size * 8;
        return (s64)(v << shift) >> shift;
    }

    bool holds(u8 kind, bool is_unsigned) {
        s64 a = extend(left, compare_size), b = extend(right, compare_size);
        u64 ua = left, ub = right;
        switch (kind) {
            case BYTECODE_JUMP: return true;
            case BYTECODE_JUMP_EQUAL:
            case BYTECODE_JUMP_ZERO: return ua == ub;
            case BYTECODE_JUMP_NOT_EQUAL:
            case BYTECODE_JUMP_NOT_ZERO: return ua != ub;
            case BYTECODE_JUMP_LESS: return is_unsigned ? ua < ub : a < b;
            case BYTECODE_JUMP_LESS_EQUAL: return is_unsigned ? ua <= ub : a <= b;
            case BYTECODE_JUMP_GREATER: return is_unsigned ? ua > ub : a > b;
            case BYTECODE_JUMP_GREATER_EQUAL: return is_unsigned ? ua >= ub : a >= b;
        }
        return false;
    }

    static u8 jump_of(u64 operator_bit) {
        // The jump taken when the comparison holds: the opposite of the one taken when it fails.
        return get_opposite_comparison_jump2(get_opposite_comparison_jump(operator_bit));
    }

    void compare(u64 a, u64 b, u32 size) {
        u64 mask = size >= 8 ? ~0ull : (1ull << (size * 8)) - 1;
        left = a & mask;
        right = b & mask;
        compare_size = size;
    }

    u64 arithmetic(u64 op, u64 a, u64 b, u8 a_not_boolean, u8 b_not_boolean) {
        switch (op) {
            case OP_NEGATE: return 0 - a;
            case OP_BIT_NOT: return ~a;
            case OP_SHIFT_LEFT: return a << (b & 63);
            case OP_ADD: return a + b;
            case OP_SUBTRACT: return a - b;
            case OP_MULTIPLY: return a * b;
            case OP_BIT_AND: return a & b;
            case OP_BIT_OR: return a | b;
            case OP_BIT_XOR: return a ^ b;
            case OP_INCREMENT: return a + 1;
            case OP_DECREMENT: return a - 1;
            case OP_LOGICAL_AND: return (a_not_boolean ? a != 0 : a) && (b_not_boolean ? b != 0 : b);
            case OP_LOGICAL_OR: return (a_not_boolean ? a != 0 : a) || (b_not_boolean ? b != 0 : b);
        }
        fault = "operator " + std::to_string(op) + " is not run here";
        return 0;
    }

    // The callee runs on a frame of its own and keeps the caller's machine registers, as its
    // code saves those it uses; a scalar result comes back in RAX.
    bool call(Bytecode_Instruction* i, u32 at) {
        u32 target = (u32)((s64)at + (s64)i->callee / (s64)BYTECODE_INSTRUCTION_SIZE);
        Scope* callee = nullptr;
        Dynamic_Array* list = &global_compiler_state.sub_programs;
        for (u32 k = 0; k < list->count; k++) {
            Scope* body = ((Sub_Program**)list->data)[k]->body_scope;
            if (body->first_bytecode_index == target) callee = body;
        }
        if (!callee || depth == 8) {
            fault = "a call of no body at record " + std::to_string(at);
            return false;
        }
        u32 size = 0;
        u8* arguments = (i->call_flags & CALL_ARGUMENT_BLOCK) ? place(i->call.call_data, &size) : nullptr;
        u64 saved_gp[16];
        memcpy(saved_gp, gp, sizeof(gp));
        std::vector<u8> saved_frame(callee->stack_size + 16, 0xCD);
        saved_frame.swap(frame);
        u8* saved_block = block;
        block = arguments;
        depth++;
        bool ok = run(callee->first_bytecode_index, callee->end_bytecode_index);
        depth--;
        u64 result = gp[0];
        memcpy(gp, saved_gp, sizeof(gp));
        frame.swap(saved_frame);
        block = saved_block;
        if (ok && (i->call_flags & CALL_SCALAR_RETURN)) write(i->call.return_value, result);
        return ok && fault.empty();
    }

    // Runs the body from its first record to its return; false with a fault.
    bool run(u32 first, u32 end) {
        u32 at = first;
        for (u32 steps = 0; steps < 2000000; steps++) {
            if (at < first || at >= end) {
                fault = "ran outside the body at record " + std::to_string(at);
                return false;
            }
            Bytecode_Instruction* i = get_bytecode_instruction(&global_compiler_state.bytecode, at);
            u32 next = at + 1;
            switch (i->kind) {
                case BYTECODE_PUSH_STACK_FRAME:
                case BYTECODE_POP_STACK_FRAME:
                case BYTECODE_COPY_ARGUMENTS_ADDRESS:
                case BYTECODE_DEBUG_BREAK: break;
                case BYTECODE_RETURN: return fault.empty();
                case BYTECODE_CALL:
                    if (!call(i, at)) return false;
                    break;
                case BYTECODE_FOREIGN_CALL:
                    // The editor keeps only the machine registers the call's mask says are live.
                    for (u32 n = 0; n < 16; n++) {
                        if (!(i->live_gp_mask & (1u << n))) gp[n] = 0xCDCDCDCDCDCDCDCDull ^ n;
                    }
                    break;
                case BYTECODE_SET_TO_ZERO: write(i->set_to_zero.destination, 0, i->set_to_zero.size); break;
                case BYTECODE_COPY_CONSTANT_NUMBER:
                    write(i->copy_constant_number.destination, i->copy_constant_number.immediate,
                          i->copy_constant_number.destination_size);
                    break;
                case BYTECODE_COPY: write(i->copy.destination, read(i->copy.source)); break;
                case BYTECODE_CAST_INT_TO_BIG_INT:
                case BYTECODE_CAST_INT_TO_SMALL_INT: {
                    u32 size = 0;
                    place(i->cast.source, &size);
                    u64 v = read(i->cast.source);
                    if (!i->cast.is_unsigned) v = (u64)extend(v, size);
                    write(i->cast.destination, v, i->cast.destination_size);
                } break;
                case BYTECODE_MAKE_INT_BOOL:
                    write(i->make_bool.value, read(i->make_bool.value, i->make_bool.size) != 0, i->make_bool.size);
                    break;
                case BYTECODE_INT_ARITHMETIC_CONSTANT: {
                    Bytecode_Int_Arithmetic_Constant* k = &i->int_arithmetic_constant;
                    write(k->destination, arithmetic(k->operator_bit, read(k->destination), k->immediate, k->not_boolean, 1));
                } break;
                case BYTECODE_INT_ARITHMETIC: {
                    Bytecode_Int_Arithmetic* k = &i->int_arithmetic;
                    u64 b = k->operator_bit & UNARY_OPERATORS ? 0 : read(k->source);
                    write(k->destination, arithmetic(k->operator_bit, read(k->destination), b, k->destination_not_boolean,
                                                     k->source_not_boolean));
                } break;
                case BYTECODE_COMPARE: {
                    u32 size = i->compare_flags.size;
                    compare(read(i->compare_flags.left, size), read(i->compare_flags.right, size), size);
                } break;
                case BYTECODE_COMPARE_TO_CONSTANT: {
                    u32 size = 0;
                    place(i->compare_to_constant.left, &size);
                    compare(read(i->compare_to_constant.left), i->compare_to_constant.immediate, size);
                } break;
                case BYTECODE_COMPARE_TO_ZERO: {
                    u32 size = 0;
                    place(i->compare_to_constant.left, &size);
                    compare(read(i->compare_to_constant.left), 0, size);
                } break;
                case BYTECODE_STORE_COMPARE_RESULT: {
                    Bytecode_Store_Compare_Result* k = &i->store_compare_result;
                    write(k->destination, holds(jump_of(k->operator_bit), k->compared_unsigned));
                } break;
                default:
                    if (!is_a_jump(i->kind)) {
                        fault = "kind " + std::to_string(i->kind) + " is not run here";
                        return false;
                    }
                    if (holds(i->kind, i->jump.compared_unsigned)) next = (u32)(i->jump.target / BYTECODE_INSTRUCTION_SIZE);
            }
            if (!fault.empty()) return false;
            at = next;
        }
        fault = "ran too long";
        return false;
    }
};

}  // namespace

TEST(RandomPrograms, RunAsTheyAreWritten) {
    // The suite runs the rounds from fixed bases: 1416131955 found, at its 18th program, an if
    // chain that ran on into its next branch after a nested return. QUARN_TEST_SEED=n runs
    // them from base n, QUARN_TEST_SEED=any from a fresh one.
    std::vector<u32> bases = {20261210u, 1416131955u};
    if (getenv("QUARN_TEST_SEED")) bases = {(u32)test_seed(20261210u)};
    Scratch_Directory scratch;
    u32 ran = 0;
    for (u32 round = 0; round < 150 * bases.size(); round++) {
        u32 base = bases[round / 150];
        if (round % 150 == 0) std::cout << "RandomPrograms.RunAsTheyAreWritten seed " << base << "\n";
        u32 seed = base + round % 150;
        Program program;
        for (int g = 0; g < GLOBALS; g++) program.names.push_back("g" + std::to_string(g));
        Generator generator{std::mt19937(seed), &program};
        generator.assignable.assign(GLOBALS, true);
        for (int g = 0; g < GLOBALS; g++) generator.visible.push_back(g);
        for (u32 n = generator.draw(3); n > 0; n--) {
            // Each body starts with a local of its own to change, and ends with a return.
            Sub sub;
            sub.is_inline = generator.draw(2);
            sub.a = generator.add_variable('a', false);
            sub.b = generator.add_variable('b', false);
            generator.in_sub = true;
            generator.assign_floor = (int)program.names.size();
            generator.visible.push_back(sub.a);
            generator.visible.push_back(sub.b);
            Stmt local{DECLARE};
            local.var = generator.add_variable('v', true);
            local.value = generator.draw(13);
            generator.visible.push_back(local.var);
            generator.statements = 25;  // a body of 15 statements at most
            sub.body = generator.block(0, 1);
            sub.body.insert(sub.body.begin(), local);
            Stmt last{RETURN};
            last.expr = generator.expression();
            sub.body.push_back(last);
            generator.visible.resize(GLOBALS);
            generator.in_sub = false;
            generator.assign_floor = 0;
            program.subs.push_back(sub);
        }
        generator.statements = 0;
        program.body = generator.block(0, 0);
        std::string source = Writer{program}.source();
        SCOPED_TRACE("seed " + std::to_string(seed) + "\n" + source);

        Evaluator expected{&program};
        expected.values.assign(program.names.size(), 0);
        expected.run(program.body);

        std::string path = scratch.write("random.8", source);
        ASSERT_TRUE(compile_test_file(path)) << testing::PrintToString(compile_error_messages());
        u32 syntax = 0, events = 0, on_load = 0;
        u8 flags = 0;
        ASSERT_TRUE(make_bytecode_from_state(&syntax, &events, &on_load, &flags))
            << testing::PrintToString(compile_error_messages());
        EXPECT_EQ(check_program_bytecode(), std::vector<std::string>{});

        Scope* body = global_compiler_state.on_load_scope;
        Machine machine;
        machine.frame.assign(body->stack_size + 16, 0xCD);
        machine.globals.assign(global_compiler_state.global_data_size + 16, 0);
        for (u64& r : machine.gp) r = 0xCDCDCDCDCDCDCDCDull;
        EXPECT_TRUE(machine.run(body->first_bytecode_index, body->end_bytecode_index)) << machine.fault;
        for (int g = 0; g < GLOBALS; g++) {
            Identifier* global = find_global(program.names[g].c_str());
            ASSERT_NE(global, nullptr);
            if (!register_id_is_valid(global->register_id)) continue;  // never used
            EXPECT_EQ((s64)machine.read(global->register_id), expected.values[g]) << program.names[g];
        }
        free_compiler_state();
        ran++;
        if (HasFailure()) break;
    }
    EXPECT_EQ(ran, 150u * bases.size());
}
