// The test programs and the stand-ins of the bytecode generator's relocation writers, which
// the image writer calls.
#include "tests/runtime/runtime_test_images.h"

#include <string.h>

//~ Code

Test_Code begin_code() {
    Test_Code c = {};
    init_dynamic_array(&c.code, 1);
    init_dynamic_array(&c.data_relocations, sizeof(Amd64_Data_Relocation));
    return c;
}

void emit_bytes(Test_Code* c, const std::vector<u8>& bytes) { amd64_emit(&c->code, bytes.data(), (u32)bytes.size()); }

u32 code_offset(Test_Code* c) { return c->code.count; }

void emit_foreign_call(Test_Code* c, u32 id, u8 block_area_class, u32 block_offset) {
    if (block_area_class) {
        Amd64_Memory_Operand block = amd64_make_rip_relative_operand(block_area_class, block_offset);
        amd64_emit_reg_rm(&c->code, &c->data_relocations, 0, AMD64_REX_W, 0x8D, amd64_gp_register(AMD64_RDI), block, 0);
    }
    std::vector<u8> mov_rsi = {0x48, 0xC7, 0xC6, 0, 0, 0, 0};
    store_u32(&mov_rsi[3], id);
    emit_bytes(c, mov_rsi);
    c->slots.push_back(c->code.count + 2);
    emit_bytes(c, {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0});
    emit_bytes(c, {0x48, 0x83, 0xEC, 0x08, 0x48, 0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x08});
}

void end_code(Test_Code* c, Test_Program* p) {
    p->code.assign(c->code.data, c->code.data + c->code.count);
    Amd64_Data_Relocation* r = (Amd64_Data_Relocation*)c->data_relocations.data;
    p->data_relocations.assign(r, r + c->data_relocations.count);
    p->slots = c->slots;
    dynamic_array_free(&c->code);
    dynamic_array_free(&c->data_relocations);
}

//~ Programs

static void put_string(std::vector<u8>* area, u32 at, u64 count) { store_u64(area->data() + at + 8, count); }

Test_Program make_log_program() {
    Test_Program p;
    p.constants.assign(32, 0);
    memcpy(p.constants.data(), "value: %", 8);
    memcpy(p.constants.data() + 8, "42", 2);
    put_string(&p.constants, 16, 2);  // the value array's one String
    p.constant_relocations.push_back({LAYER_AREA_CONSTANT_DATA, 16, 8});

    p.globals.assign(64, 0);
    put_string(&p.globals, 0, 8);  // log's format
    p.constant_relocations.push_back({LAYER_AREA_GLOBAL_DATA, 0, 0});
    p.constant_relocations.push_back({LAYER_AREA_GLOBAL_DATA, 16, 16});  // log's values
    store_u64(p.globals.data() + 24, 1);
    store_u64(p.globals.data() + 32, (u64)-1234567);  // int_to_string's value
    p.global_relocations.push_back({LAYER_AREA_GLOBAL_DATA, 56, 0});  // a global pointing at a global

    Test_Code c = begin_code();
    p.on_load = code_offset(&c);
    emit_foreign_call(&c, ROUTINE_LOG, AMD64_OPERAND_GLOBAL_DATA, 0);
    emit_foreign_call(&c, ROUTINE_INT_TO_STRING, AMD64_OPERAND_GLOBAL_DATA, 32);
    emit_foreign_call(&c, ROUTINE_EXIT_PROGRAM, 0, 0);
    emit_bytes(&c, {0xC3});
    end_code(&c, &p);
    return p;
}

Test_Program make_block_program(const std::vector<u8>& code, u32 Test_Program::* block) {
    Test_Program p;
    p.code = code;
    p.*block = 0;
    return p;
}

//~ The stand-in compiler

namespace {

std::vector<std::string> source_paths;  // what the Source_File rows point at

Dynamic_Array array_of(const void* data, u32 element_size, u32 count) {
    Dynamic_Array a;
    init_dynamic_array(&a, element_size);
    if (count) {
        void* to = dynamic_array_add_fast_multiple(&a, count);
        memcpy(to, data, (u64)element_size * count);
    }
    return a;
}

void add_register(Dynamic_Array* table, u8 kind, std::vector<u8>* data) {
    if (data->empty()) return;
    Register* r = (Register*)dynamic_array_add_fast(table);
    memset(r, 0, sizeof(*r));
    r->kind = kind;
    r->size = (u32)data->size();
    r->data = data->data();
}

// Rows the stand-in relocation writers read: the location's offset in index, its area in the
// table byte, the target's offset in the target's index.
void add_relocations(Dynamic_Array* list, const std::vector<Test_Relocation>& relocations) {
    for (const Test_Relocation& t : relocations) {
        Relocation* r = (Relocation*)dynamic_array_add_fast(list);
        memset(r, 0, sizeof(*r));
        r->where.index = t.location;
        r->where.table = t.area;
        r->target.index = t.target;
        r->where_area = t.area;
    }
}

b8 copy_relocations(Dynamic_Array* list, Compiled_Layer_Header* header, u8* constants, u8* globals, b8 constant_table) {
    Relocation* rows = (Relocation*)list->data;
    for (u32 i = 0; i < list->count; i++) {
        // A row of an area the table does not handle stays as it is, slot unwritten.
        u8* holder = rows[i].where_area == LAYER_AREA_GLOBAL_DATA ? globals
                     : rows[i].where_area == LAYER_AREA_CONSTANT_DATA ? constants
                                                                       : nullptr;
        if (holder) store_u64(holder + rows[i].where.index, rows[i].target.index);
        store_u32((u8*)&rows[i], rows[i].where.index);
    }
    u32 offset = (u32)compiler_output_memory.used;
    u8* table = bump_region_allocate(&compiler_output_memory, (u64)list->count * sizeof(Relocation));
    if (!table) return false;
    if (list->count) memcpy(table, rows, (u64)list->count * sizeof(Relocation));
    if (constant_table) {
        header->constant_relocation_count = list->count;
        header->constant_relocation_offset = offset;
    } else {
        header->global_relocation_count = list->count;
        header->global_relocation_offset = offset;
    }
    return true;
}

}  // namespace

b8 copy_constant_relocations_to_code_output(Compiled_Layer_Header* header, u8* constant_data, u8* global_data) {
    return copy_relocations(&global_compiler_state.constant_relocations, header, constant_data, global_data, true);
}

b8 copy_global_relocations_to_code_output(Compiled_Layer_Header* header, u8* global_data) {
    return copy_relocations(&global_compiler_state.global_relocations, header, nullptr, global_data, false);
}

b8 write_test_image(const Test_Program& program) {
    Compiler_State* state = &global_compiler_state;
    static Test_Program kept;  // the registers point into it while the writer runs
    kept = program;
    reset_compiler();
    state->constant_data_size = kept.constants.size();
    state->global_data_size = kept.globals.size();
    add_register(&state->constant_registers, REGISTER_CONSTANT_DATA, &kept.constants);
    add_register(&state->global_registers, REGISTER_GLOBAL_DATA, &kept.globals);
    add_relocations(&state->constant_relocations, kept.constant_relocations);
    add_relocations(&state->global_relocations, kept.global_relocations);

    source_paths = kept.sources;
    if (source_paths.empty()) {
        std::string d((char*)executable_filepath.data, executable_filepath.count);
        source_paths = {d + "/inject.8", d + "/api.8", d + "/custom.8"};
    }
    for (const std::string& s : source_paths) {
        Source_File* f = (Source_File*)dynamic_array_add_fast(&state->source_files);
        memset(f, 0, sizeof(*f));
        f->path = String{(u8*)s.data(), (s64)s.size()};
        f->index = state->source_files.count - 1;
    }

    u8 flags = 0;
    if (kept.events != NO_BLOCK) flags |= LAYER_IMAGE_HAS_EVENTS;
    if (kept.on_load != NO_BLOCK) flags |= LAYER_IMAGE_HAS_ON_LOAD;
    if (kept.syntax != NO_BLOCK) flags |= LAYER_IMAGE_HAS_SYNTAX;
    auto offset = [](u32 o) { return o == NO_BLOCK ? 0u : o; };
    Dynamic_Array code = array_of(kept.code.data(), 1, (u32)kept.code.size());
    Dynamic_Array fix_ups = array_of(kept.data_relocations.data(), sizeof(Amd64_Data_Relocation),
                                     (u32)kept.data_relocations.size());
    Dynamic_Array slots = array_of(kept.slots.data(), sizeof(u64), (u32)kept.slots.size());
    String source = STR("custom.8");
    Version_Info version = EDITOR_VERSION;
    b8 written = output_amd64_file(&source, offset(kept.syntax), offset(kept.events), offset(kept.on_load), flags,
                                   &version, code, fix_ups, slots);
    dynamic_array_free(&code);
    dynamic_array_free(&fix_ups);
    dynamic_array_free(&slots);
    return written;
}
