// The bytecode listing, for whoever debugs the compiler: one line per record, each run of
// records preceded by the source line it comes from. Nothing in the editor writes it;
// `quarnc --listing` does.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "compiler/bytecode/bytecode.h"
#include "foundation/log.h"
#include "foundation/os_files.h"

//~ Operands

// Views inside views: more than this is a cycle, never a real chain.
#define LISTING_VIEW_LIMIT 64

static char* get_register_text(Register_Id id, u32 depth) {
    if (!register_id_is_valid(id) || id.table < REGISTER_CONSTANT_DATA || id.table > REGISTER_CALL_DATA) return (char*)"";
    Register* r = get_register(id);
    if (!r) return (char*)"";
    switch (r->kind) {
        case REGISTER_CONSTANT_DATA:
            return r->data_offset ? tcstring("CD+0x%llx", (unsigned long long)r->data_offset) : (char*)"CD";
        case REGISTER_TYPE_DATA:
            return r->data_offset ? tcstring("TD+0x%llx", (unsigned long long)r->data_offset) : (char*)"TD";
        case REGISTER_GLOBAL_DATA:
            return r->data_offset ? tcstring("GD+0x%llx", (unsigned long long)r->data_offset) : (char*)"GD";
        case REGISTER_LOCAL: {
            char* owner = register_id_to_c_string(id);
            if (r->in_machine_register) {
                return tcstring("(%s) %s%u", owner, r->machine_class == MACHINE_CLASS_FLOAT ? "MRF" : "MRI", r->machine_number);
            }
            return r->data_offset ? tcstring("(%s) SB+0x%llx", owner, (unsigned long long)r->data_offset)
                                  : tcstring("(%s) SB", owner);
        }
        case REGISTER_CALL_DATA: return (char*)"CallD";
        case REGISTER_VIEW: {
            if (depth == LISTING_VIEW_LIMIT) return (char*)"";
            char* base = get_register_text(r->base, depth + 1);
            return r->view_offset ? tcstring("%s+0x%llx", base, (unsigned long long)r->view_offset) : base;
        }
    }
    add_log(nullptr, LOG_ERROR, "Got unknown bytecode register type 0x%x.", r->kind);
    return (char*)"";
}

char* get_bytecode_register_info(Register_Id id) { return get_register_text(id, 0); }

//~ Instructions

static char* operand(Register_Id id) { return get_bytecode_register_info(id); }


static char* get_operand_text(Bytecode_Instruction* i) {
    u8 k = i->kind;
    switch (k) {
        case BYTECODE_SET_TO_ZERO:
            return tcstring("%s, size: %'u", operand(i->operand_a), get_register_size(i->operand_a));
        case BYTECODE_COPY_CONSTANT_NUMBER:
        case BYTECODE_COPY_CONSTANT_NUMBER_INDIRECT:
            return tcstring(k == BYTECODE_COPY_CONSTANT_NUMBER ? "%s <- 0x%llx" : "[%s] <- 0x%llx", operand(i->operand_a),
                            (unsigned long long)i->copy_constant_number.immediate);
        case BYTECODE_COPY_CONSTANT_STRUCT:
        case BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT:
        case BYTECODE_COPY:
        case BYTECODE_COPY_INDIRECT: {
            b8 indirect = k == BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT || k == BYTECODE_COPY_INDIRECT;
            b8 constant = k == BYTECODE_COPY_CONSTANT_STRUCT || k == BYTECODE_COPY_CONSTANT_STRUCT_INDIRECT;
            u32 size = get_register_size(constant ? i->copy.source : i->copy.destination);
            return tcstring(indirect ? "[%s] <- %s, size: %'u" : "%s <- %s, size: %'u", operand(i->copy.destination),
                            operand(i->copy.source), size);
        }
        case BYTECODE_COPY_SUB_PROGRAM_ADDRESS: {
            Sub_Program* s = i->copy_sub_program_address.sub_program;
            return tcstring("%s <- %.*s", operand(i->operand_a), s ? (int)s->name.count : 0, s ? (char*)s->name.data : "");
        }
        case BYTECODE_MAKE_INT_BOOL:
        case BYTECODE_MAKE_FLOAT_BOOL:
            return tcstring(i->make_bool.through_address ? "[%s]" : "%s", operand(i->make_bool.value));
        case BYTECODE_INT_ARITHMETIC_CONSTANT:
            return tcstring("%s %s 0x%llx", operand(i->operand_a), operator_to_c_string(i->int_arithmetic_constant.operator_bit),
                            (unsigned long long)i->int_arithmetic_constant.immediate);
        case BYTECODE_INT_ARITHMETIC:
        case BYTECODE_FLOAT_ARITHMETIC: {
            u64 op = k == BYTECODE_INT_ARITHMETIC ? i->int_arithmetic.operator_bit : i->float_arithmetic.operator_bit;
            return tcstring("%s %s %s", operand(i->operand_a), operator_to_c_string(op), operand(i->operand_b));
        }
        case BYTECODE_FLOAT_ARITHMETIC_CONSTANT:
            return tcstring("%s %s %f", operand(i->operand_a), operator_to_c_string(i->float_arithmetic_constant.operator_bit),
                            i->float_arithmetic_constant.immediate);
        case BYTECODE_TAKE_ADDRESS:
            return tcstring("%s <- %s", operand(i->operand_a), operand(i->operand_b));
        case BYTECODE_CALCULATE_ADDRESS:
            return tcstring("%s <- (%s) + (%s) * %u", operand(i->address.destination), operand(i->address.base),
                            operand(i->address.index), i->address.element_size);
        case BYTECODE_CALCULATE_ADDRESS_CONSTANT: {
            Bytecode_Address_Constant* a = &i->address_constant;
            return tcstring(a->through_address ? "[%s] <- %s + %llu * %u" : "%s <- %s + %llu * %u", operand(a->destination),
                            operand(a->base), (unsigned long long)a->index, a->element_size);
        }
        case BYTECODE_MEMORY_DEREFERENCE: {
            Bytecode_Address* a = &i->address;
            return tcstring(a->through_address ? "[%s] <- [(%s) + (%s) * %u]" : "%s <- [(%s) + (%s) * %u]",
                            operand(a->destination), operand(a->base), operand(a->index), a->element_size);
        }
        case BYTECODE_MEMORY_DEREFERENCE_CONSTANT: {
            Bytecode_Address_Constant* a = &i->address_constant;
            return tcstring(a->through_address ? "[%s] <- [(%s) + %llu * %u]" : "%s <- [(%s) + %llu * %u]",
                            operand(a->destination), operand(a->base), (unsigned long long)a->index, a->element_size);
        }
        case BYTECODE_COMPARE:
        case BYTECODE_TEST_FLAGS:
        case BYTECODE_FLOAT_COMPARE:
            return tcstring("%s, %s", operand(i->operand_a), operand(i->operand_b));
        case BYTECODE_COMPARE_TO_CONSTANT:
        case BYTECODE_TEST_FLAGS_CONSTANT:
            return tcstring("%s, 0x%llx", operand(i->operand_a), (unsigned long long)i->compare_to_constant.immediate);
        case BYTECODE_COMPARE_TO_ZERO:
        case BYTECODE_FLOAT_COMPARE_TO_ZERO:
            return operand(i->operand_a);
        case BYTECODE_COMPARE_BLOCK_TO_CONSTANT:
            return tcstring("[%s], [%s]", operand(i->operand_a), operand(i->operand_b));
        case BYTECODE_MEMCMP:
            return tcstring("[%s], [%s] | size stored in %s", operand(i->operand_a), operand(i->operand_b),
                            operand(i->compare.size_register));
        case BYTECODE_FLOAT_COMPARE_TO_CONSTANT:
            return tcstring("%s, %f", operand(i->operand_a), real_of(i->compare_to_constant.immediate));
        case BYTECODE_STORE_COMPARE_RESULT:
            return tcstring("%s, %s", operand(i->operand_a), operator_to_c_string(i->store_compare_result.operator_bit));
    }
    if (is_a_cast(k)) {
        return tcstring(i->cast.through_address ? "[%s] <- %s" : "%s <- %s", operand(i->cast.destination), operand(i->cast.source));
    }
    if (is_a_call(k)) {
        return tcstring("0x%llx | arguments and return value: %s", (unsigned long long)i->callee, operand(i->call.call_data));
    }
    if (is_a_jump(k)) return tcstring("0x%llx", (unsigned long long)i->jump.target);
    return (char*)"";
}

String get_bc_instruction_text(Bytecode_Instruction* first, Bytecode_Instruction* instruction) {
    u64 offset = (u64)(instruction - first) * BYTECODE_INSTRUCTION_SIZE;
    return tstring("0x%llx %s %s", (unsigned long long)offset, bytecode_kind_name(instruction->kind),
                   get_operand_text(instruction));
}

//~ Source lines

String debugger_file_get_line(Source_File* file, u32 line) {
    u8* text = file->text;
    u64 size = text ? file->text_size : 0;
    u64 start = 0;
    u32 counter = 1;
    for (u64 at = 0; at < size; at++) {
        if (text[at] != '\r' && text[at] != '\n') continue;
        // A "\r\n" pair is one break, ending at its "\n".
        u64 last = text[at] == '\r' && at + 1 < size && text[at + 1] == '\n' ? at + 1 : at;
        counter++;
        if (counter > line) return String{text + start, (s64)(at - start)};
        start = last;
        at = last;
    }
    return String{text + start, (s64)(size - start)};
}

//~ The file

static b8 write_text(int fd, String text) { return text.count <= 0 || os_write_all(fd, text.data, (u64)text.count); }

b8 log_bc_instructions(String path, Dynamic_Array* source_files, Dynamic_Array* bytecode) {
    char* c_path = to_tmp_c_string(path);
    int fd = c_path ? open(c_path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    if (fd < 0) return false;
    b8 ok = true;
    u32 line = 0, file_index = 0;
    Bytecode_Instruction* first = (Bytecode_Instruction*)bytecode->data;
    for (u32 index = 0; ok && index < bytecode->count; index++) {
        u64 saved = tmp_get_used();
        Bytecode_Instruction* i = first + index;
        if (i->line != line || i->file_index != file_index) {
            line = i->line;
            file_index = i->file_index;
            if (file_index < source_files->count) {
                ok = write_text(fd, debugger_file_get_line((Source_File*)source_files->data + file_index, line));
            }
            ok = ok && write_text(fd, STR("\n"));
        }
        String text = get_bc_instruction_text(first, i);
        ok = ok && write_text(fd, text) && write_text(fd, STR("\n"));
        tmp_set_used(saved);
    }
    if (close(fd) != 0) ok = false;
    return ok;
}
