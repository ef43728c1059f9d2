// The invariant checker. Register liveness is worked out from the records themselves (the
// first and last record naming a register, stretched over the back jump of every loop that
// uses a value made before it), not from the lifetimes placement used, so a placement
// that misjudged a lifetime shows as two live registers in one place.
#include "bytecode_checks.h"

#include <map>
#include <set>
#include <string>

namespace {

struct Body {
    Scope* scope;
    u32 first;
    u32 end;
    std::string name;
};

struct Liveness {
    Register* row;
    Register_Id id;
    u32 start = 0xFFFFFFFF;
    u32 end = 0;
};

std::string hex(u64 v) {
    char text[32];
    snprintf(text, sizeof(text), "0x%llx", (unsigned long long)v);
    return text;
}

std::vector<Body> get_bodies() {
    Compiler_State* state = &global_compiler_state;
    std::vector<Body> bodies;
    Scope* entries[3] = {state->syntax_scope, state->events_scope, state->on_load_scope};
    const char* names[3] = {"#syntax", "#events", "#on_load"};
    for (int k = 0; k < 3; k++) {
        if (entries[k]) bodies.push_back({entries[k], entries[k]->first_bytecode_index, entries[k]->end_bytecode_index, names[k]});
    }
    Sub_Program** list = (Sub_Program**)state->sub_programs.data;
    for (u32 k = 0; k < state->sub_programs.count; k++) {
        Scope* s = list[k]->body_scope;
        bodies.push_back({s, s->first_bytecode_index, s->end_bytecode_index, std::string((char*)list[k]->name.data, list[k]->name.count)});
    }
    return bodies;
}

// The register ids a record names, and whether each is used after the record (the values
// a call leaves and the callee address are only read or written at its end).
void get_operands(Bytecode_Instruction* i, std::vector<std::pair<Register_Id, bool>>* out) {
    auto add = [&](Register_Id id, bool after) {
        if (register_id_is_valid(id)) out->push_back({id, after});
    };
    if (is_a_cast(i->kind)) {
        add(i->cast.destination, false);
        add(i->cast.source, false);
        return;
    }
    switch (i->kind) {
        case BYTECODE_SET_TO_ZERO:
        case BYTECODE_COPY_CONSTANT_NUMBER:
        case BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT:
        case BYTECODE_COPY_SUB_PROGRAM_ADDRESS:
        case BYTECODE_MAKE_INT_BOOL:
        case BYTECODE_MAKE_FLOAT_BOOL:
        case BYTECODE_INT_ARITHMETIC_CONSTANT:
        case BYTECODE_FLOAT_ARITHMETIC_CONSTANT:
        case BYTECODE_COMPARE_TO_CONSTANT:
        case BYTECODE_COMPARE_TO_ZERO:
        case BYTECODE_TEST_FLAGS_CONSTANT:
        case BYTECODE_FLOAT_COMPARE_TO_CONSTANT:
        case BYTECODE_FLOAT_COMPARE_TO_ZERO:
        case BYTECODE_STORE_COMPARE_RESULT:
            add(i->operand_a, false);
            break;
        case BYTECODE_CALCULATE_ADDRESS_CONSTANT:
        case BYTECODE_MEMORY_DEREFERENCE_CONSTANT:
            add(i->address_constant.destination, false);
            add(i->address_constant.base, false);
            break;
        case BYTECODE_CALCULATE_ADDRESS:
        case BYTECODE_MEMORY_DEREFERENCE:
            add(i->address.destination, false);
            add(i->address.base, false);
            add(i->address.index, false);
            break;
        case BYTECODE_MEMCMP:
            add(i->compare.size_register, false);
            [[fallthrough]];
        case BYTECODE_COPY_CONSTANT_STRUCT:
        case BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT:
        case BYTECODE_COPY:
        case BYTECODE_COPY_INDIRECT:
        case BYTECODE_INT_ARITHMETIC:
        case BYTECODE_FLOAT_ARITHMETIC:
        case BYTECODE_TAKE_ADDRESS:
        case BYTECODE_COMPARE:
        case BYTECODE_COMPARE_BLOCK_TO_CONSTANT:
        case BYTECODE_TEST_FLAGS:
        case BYTECODE_FLOAT_COMPARE:
            add(i->operand_a, false);
            add(i->operand_b, false);
            break;
        case BYTECODE_CALL_THROUGH_ADDRESS:
            add(i->call.callee_address, true);
            [[fallthrough]];
        case BYTECODE_CALL:
        case BYTECODE_FOREIGN_CALL: {
            add(i->call.call_data, true);
            add(i->call.return_value, true);
            Dynamic_Array arguments;
            memcpy(&arguments, i->call_area, sizeof(arguments));
            for (u32 k = 0; k < arguments.count; k++) {
                Value* v = (Value*)arguments.data + k;
                if (v->kind & VALUE_REGISTER) add(v->dynamic.register_id, true);
            }
        } break;
    }
}

void check_body_registers(const Body& body, std::vector<std::string>* faults) {
    std::map<Register*, Liveness> live;
    std::vector<u32> calls;
    for (u32 index = body.first; index < body.end; index++) {
        Bytecode_Instruction* i = get_bytecode_instruction(&global_compiler_state.bytecode, index);
        if (is_a_call(i->kind)) calls.push_back(index);
        std::vector<std::pair<Register_Id, bool>> operands;
        get_operands(i, &operands);
        for (auto& [id, after] : operands) {
            if (id.table != REGISTER_LOCAL) continue;
            Register* r = get_first_non_view_register(id);
            if (!r) {
                faults->push_back(body.name + ": record " + hex((u64)index * BYTECODE_INSTRUCTION_SIZE) + " names no register");
                continue;
            }
            if (!r->placed) faults->push_back(body.name + ": a register of record " + hex((u64)index * BYTECODE_INSTRUCTION_SIZE) + " was never placed");
            Liveness& l = live[r];
            l.row = r;
            l.id = id;
            u32 at = after ? index + 1 : index;
            if (at < l.start) l.start = at;
            if (at > l.end) l.end = at;
        }
    }
    // A value made before a loop and used in it is needed until the loop's back jump.
    for (bool changed = true; changed;) {
        changed = false;
        for (u32 index = body.first; index < body.end; index++) {
            Bytecode_Instruction* i = get_bytecode_instruction(&global_compiler_state.bytecode, index);
            if (!is_a_jump(i->kind) || i->jump.target > (u64)index * BYTECODE_INSTRUCTION_SIZE) continue;
            u32 loop_start = (u32)(i->jump.target / BYTECODE_INSTRUCTION_SIZE);
            for (auto& [r, l] : live) {
                if (l.start < loop_start && l.end >= loop_start && l.end < index) {
                    l.end = index;
                    changed = true;
                }
            }
        }
    }

    Scope* scope = body.scope;
    for (auto& [r, l] : live) {
        std::string name = body.name + ": register " + register_id_to_c_string(l.id);
        if (r->in_machine_register) {
            u16 used = r->machine_class == MACHINE_CLASS_INTEGER ? scope->integer_registers_used : scope->float_registers_used;
            if (!(used & (1u << r->machine_number))) faults->push_back(name + " is missing from the registers-used mask");
            continue;
        }
        u64 alignment = r->alignment ? r->alignment : 1;
        if (r->data_offset % alignment) faults->push_back(name + " has a slot off its alignment");
        if (r->data_offset < FRAME_RESERVED_SIZE || r->data_offset + r->size > scope->stack_size) {
            faults->push_back(name + " has a slot outside the frame");
        }
    }
    for (auto a = live.begin(); a != live.end(); ++a) {
        for (auto b = std::next(a); b != live.end(); ++b) {
            const Liveness& x = a->second;
            const Liveness& y = b->second;
            if (x.end < y.start || y.end < x.start) continue;
            Register* p = x.row;
            Register* q = y.row;
            bool clash = false;
            if (p->in_machine_register && q->in_machine_register) {
                clash = p->machine_class == q->machine_class && p->machine_number == q->machine_number;
            } else if (!p->in_machine_register && !q->in_machine_register && p->size && q->size) {
                clash = p->data_offset < q->data_offset + q->size && q->data_offset < p->data_offset + p->size;
            }
            if (clash) {
                faults->push_back(body.name + ": registers " + register_id_to_c_string(x.id) + " and " +
                                  register_id_to_c_string(y.id) + " are live at once in one place");
            }
        }
    }
    for (u32 call : calls) {
        Bytecode_Instruction* i = get_bytecode_instruction(&global_compiler_state.bytecode, call);
        for (auto& [r, l] : live) {
            if (!r->in_machine_register || l.start >= call || l.end <= call) continue;
            u16 mask = r->machine_class == MACHINE_CLASS_INTEGER ? i->live_gp_mask : i->live_xmm_mask;
            if (!(mask & (1u << r->machine_number))) {
                faults->push_back(body.name + ": the call at " + hex((u64)call * BYTECODE_INSTRUCTION_SIZE) + " misses register " +
                                  register_id_to_c_string(l.id) + " from its live mask");
            }
        }
    }
}

}  // namespace

std::vector<std::string> check_program_bytecode() {
    std::vector<std::string> faults;
    Dynamic_Array* bytecode = &global_compiler_state.bytecode;
    std::vector<Body> bodies = get_bodies();
    std::set<u64> starts;
    u32 expected_first = 0;
    for (const Body& b : bodies) {
        if (b.first != expected_first) faults.push_back(b.name + " does not follow the body before it");
        expected_first = b.end;
        starts.insert((u64)b.first * BYTECODE_INSTRUCTION_SIZE);
        u64 frame = b.scope->stack_size;
        if (frame % 16 != 8 || frame > FRAME_SIZE_LIMIT || frame < FRAME_RESERVED_SIZE) {
            faults.push_back(b.name + " has a frame of " + std::to_string(frame) + " octets");
        }
    }
    if (expected_first != bytecode->count) faults.push_back("records lie after the last body");

    for (const Body& b : bodies) {
        for (u32 index = b.first; index < b.end; index++) {
            Bytecode_Instruction* i = get_bytecode_instruction(bytecode, index);
            std::string at = b.name + ": record " + hex((u64)index * BYTECODE_INSTRUCTION_SIZE) + " ";
            s64 own = (s64)index * BYTECODE_INSTRUCTION_SIZE;
            if (i->kind == BYTECODE_INVALID || i->kind == BYTECODE_INVALID_31 || i->kind == BYTECODE_INVALID_39 ||
                i->kind >= BYTECODE_KIND_COUNT) {
                faults.push_back(at + "has kind " + std::to_string(i->kind));
            } else if (is_a_jump(i->kind)) {
                u64 target = i->jump.target;
                if (target % BYTECODE_INSTRUCTION_SIZE || target < (u64)b.first * BYTECODE_INSTRUCTION_SIZE ||
                    target >= (u64)b.end * BYTECODE_INSTRUCTION_SIZE) {
                    faults.push_back(at + "jumps to " + hex(target) + ", outside its body");
                }
            } else if (i->kind == BYTECODE_CALL && !starts.count((u64)(own + (s64)i->callee))) {
                faults.push_back(at + "calls no body's first record");
            } else if (i->kind == BYTECODE_COPY_SUB_PROGRAM_ADDRESS &&
                       !starts.count((u64)(own + i->copy_sub_program_address.distance))) {
                faults.push_back(at + "takes the address of no body's first record");
            } else if (i->kind == BYTECODE_FOREIGN_CALL && (i->callee < 1 || i->callee > 96)) {
                faults.push_back(at + "calls foreign routine " + std::to_string(i->callee));
            }
        }
        check_body_registers(b, &faults);
    }
    return faults;
}
