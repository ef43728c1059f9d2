#include "tests/compiler/amd64/matrix.h"

#include <gtest/gtest.h>
#include <string.h>

const char* const MATRIX_PLACE_NAMES[PLACE_COUNT] = {"stack",          "global",           "constant",
                                              "register",       "call data",        "pointer in a global",
                                              "pointer in a register", "the destination"};

#define TEMPORARY_GP  0x00CF
#define TEMPORARY_XMM 0x0003
#define STACK_SIZE    256

void matrix_begin(Matrix* m, u32 rows) {
    fixture_reset(&m->f, STACK_SIZE);
    m->program.clear();
    m->program.reserve(4 * rows);
    m->constants.clear();
    m->machine_registers.clear();
    m->stack.clear();
    m->call_data.clear();
    m->scratch_globals.clear();
    m->pointers.clear();
    m->rows = rows;
    m->gp_used = m->xmm_used = 0;
    m->outputs = fixture_global(&m->f, rows * MATRIX_SLOT);
    m->output_base = fixture_offset(m->outputs);
    memset(&m->f.globals[m->output_base], MATRIX_GUARD_BYTE, rows * MATRIX_SLOT);
}

Register_Id matrix_output(Matrix* m, u32 row, u32 size) { return fixture_view(m->outputs, row * MATRIX_SLOT, size); }

Register_Id matrix_constant(Matrix* m, u64 bits, u32 size) {
    auto key = std::make_pair(bits, size);
    auto found = m->constants.find(key);
    if (found != m->constants.end()) return found->second;
    Register_Id id = fixture_constant(&m->f, &bits, size);
    m->constants[key] = id;
    return id;
}

static Register_Id machine_register(Matrix* m, u8 machine_class, u8 number, u32 size) {
    auto key = std::make_tuple(machine_class, number, size);
    auto found = m->machine_registers.find(key);
    if (found != m->machine_registers.end()) return found->second;
    Register_Id id = fixture_machine_register(&m->f, machine_class, number, size);
    m->machine_registers[key] = id;
    if (machine_class == MACHINE_CLASS_INTEGER) m->gp_used |= (u16)(1u << number);
    else m->xmm_used |= (u16)(1u << number);
    return id;
}

static Register_Id reused(std::map<std::pair<u32, u32>, Register_Id>* ids, u32 offset, u32 size,
                          Register_Id (*make)(Matrix*, u32, u32), Matrix* m) {
    auto key = std::make_pair(offset, size);
    auto found = ids->find(key);
    if (found != ids->end()) return found->second;
    Register_Id id = make(m, offset, size);
    (*ids)[key] = id;
    return id;
}

static Register_Id make_stack(Matrix* m, u32 offset, u32 size) { return fixture_stack_local(&m->f, offset, size); }
static Register_Id make_call_data(Matrix* m, u32 offset, u32 size) {
    return fixture_view(m->f.call_data_block, offset, size);
}

Bytecode_Instruction* matrix_add(Matrix* m, u8 kind) {
    m->program.push_back(fixture_instruction(kind));
    return &m->program.back();
}

static void add_copy(Matrix* m, Register_Id destination, Register_Id source) {
    m->program.push_back(fixture_copy(destination, source));
}

// Two general-purpose and four XMM registers per operand (two XMM for the fourth):
// R8 and R9, XMM2 to XMM5 for the first, and so on.
static u8 register_number(u8 machine_class, u32 which, u32 row) {
    if (machine_class == MACHINE_CLASS_INTEGER) return (u8)(AMD64_R8 + 2 * which + row % 2);
    return (u8)(which == 3 ? 14 + row % 2 : 2 + 4 * which + row % 4);
}

Register_Id matrix_place(Matrix* m, Matrix_Place place, u8 machine_class, u32 size, u32 which, u32 row) {
    switch (place) {
        case PLACE_STACK: return reused(&m->stack, 32 * which, size, make_stack, m);
        case PLACE_CALL_DATA: return reused(&m->call_data, 32 * which, size, make_call_data, m);
        case PLACE_REGISTER: return machine_register(m, machine_class, register_number(machine_class, which, row), size);
        case PLACE_GLOBAL:
            if (which == 0) return matrix_output(m, row, size);
            while (m->scratch_globals.size() < 4) m->scratch_globals.push_back(fixture_global(&m->f, 16));
            return fixture_view(m->scratch_globals[which], 0, size);
        case PLACE_POINTER_IN_GLOBAL:
        case PLACE_POINTER_IN_REGISTER: return matrix_pointer_to_output(m, place, row);
        default: break;
    }
    ADD_FAILURE() << "no register in place " << MATRIX_PLACE_NAMES[place];
    return INVALID_REGISTER_ID;
}

Register_Id matrix_operand(Matrix* m, Matrix_Place place, u8 machine_class, u32 size, u64 bits, u32 which, u32 row) {
    Register_Id constant = matrix_constant(m, bits, size);
    if (place == PLACE_CONSTANT) return constant;
    Register_Id id = matrix_place(m, place, machine_class, size, which, row);
    add_copy(m, id, constant);
    return id;
}

Register_Id matrix_pointer(Matrix* m, Matrix_Place place, Harness_Area area, u32 offset, u32 which, u32 row) {
    Register_Id pointer = fixture_global(&m->f, 8, 8);
    m->pointers.push_back({HARNESS_GLOBALS, fixture_offset(pointer), area, offset});
    if (place == PLACE_POINTER_IN_GLOBAL || place == PLACE_GLOBAL) return pointer;
    Register_Id r = matrix_place(m, place == PLACE_POINTER_IN_REGISTER ? PLACE_REGISTER : place, MACHINE_CLASS_INTEGER, 8,
                                 which, row);
    add_copy(m, r, pointer);
    return r;
}

Register_Id matrix_pointer_to_output(Matrix* m, Matrix_Place place, u32 row) {
    return matrix_pointer(m, place, HARNESS_GLOBALS, m->output_base + row * MATRIX_SLOT, 0, row);
}

void matrix_store_output(Matrix* m, Register_Id a, u32 row, u32 size) {
    Register* r = amd64_get_register(a);
    if (r && r->kind == REGISTER_VIEW && r->base.index == m->outputs.index && r->base.table == m->outputs.table &&
        r->view_offset == row * MATRIX_SLOT) {
        return;
    }
    add_copy(m, matrix_output(m, row, size), a);
}

Matrix_Run matrix_run(Matrix* m) {
    Matrix_Run r;
    Translated_Program t = fixture_translate(&m->f, &m->program);
    if (!t.ok) {
        r.failure = "translation failed: " + (t.errors.empty() ? std::string("no report") : t.errors[0]);
        return r;
    }
    t.program.pointers = m->pointers;
    r.run = harness_run(t.program, harness_canaries());
    if (r.run.faulted) {
        r.failure = r.run.fault;
        return r;
    }
    r.failure = harness_changed_registers(r.run.entered, r.run.registers, TEMPORARY_GP | m->gp_used,
                                          TEMPORARY_XMM | m->xmm_used);
    return r;
}

const u8* matrix_result(const Matrix& m, const Matrix_Run& r, u32 row) {
    return &r.run.globals[m.output_base + row * MATRIX_SLOT];
}

b8 matrix_guard_intact(const Matrix& m, const Matrix_Run& r, u32 row, u32 size) {
    const u8* slot = matrix_result(m, r, row);
    for (u32 i = size; i < MATRIX_SLOT; i++) {
        if (slot[i] != MATRIX_GUARD_BYTE) return false;
    }
    return true;
}
