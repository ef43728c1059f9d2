// The image writer: lays a compiled layer out in the compiler's output arena and writes it
// as "custom.8b". The file is replaced by a rename, so an editor that starts, or a second
// one that loads it, never reads half an image; and the writer checks its own image as the
// loader will, so no compile ends in a file the loader would refuse.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "compiler/pipeline/layer_image_writer.h"
#include "compiler/core/layer_sources.h"
#include "compiler/bytecode/bytecode.h"
#include "compiler/amd64/amd64.h"
#include "foundation/log.h"
#include "foundation/os_files.h"

static void report_malformed_image(const char* reason) {
    print_error("Internal compiler error: the compiled layer cannot be laid out (%s).", reason);
}

// size zeroed octets at the end of the output; null after the out-of-memory report.
static u8* output_append(u64 size) {
    u8* at = bump_region_allocate(&compiler_output_memory, size);
    if (at && size) memset(at, 0, size);
    return at;
}

// Copies the staged octets of every register of a data table into its image area.
static b8 copy_data_registers(Dynamic_Array* registers, u8* area, u64 area_size) {
    Register* rows = (Register*)registers->data;
    for (u32 i = 0; i < registers->count; i++) {
        Register* r = &rows[i];
        if (r->kind == REGISTER_VIEW || r->size == 0) continue;
        if (r->data_offset > area_size || r->size > area_size - r->data_offset) {
            report_malformed_image("a datum lies outside its area");
            return false;
        }
        if (r->data) memcpy(area + r->data_offset, r->data, r->size);
    }
    return true;
}

// The generator left in each RIP-relative field the target's offset in its area: it becomes
// the distance from the instruction's end. Type data (class 2) is not placed by the image.
static b8 patch_data_references(Compiled_Layer_Header* h, u8* code, Dynamic_Array* data_relocations) {
    Amd64_Data_Relocation* rows = (Amd64_Data_Relocation*)data_relocations->data;
    for (u32 i = 0; i < data_relocations->count; i++) {
        Amd64_Data_Relocation* r = &rows[i];
        u32 area;
        if (r->area_class == AMD64_OPERAND_CONSTANT_DATA) area = h->constant_data_offset;
        else if (r->area_class == AMD64_OPERAND_GLOBAL_DATA) area = h->global_data_offset;
        else continue;
        if (h->code_size < 4 || r->displacement_offset > h->code_size - 4) {
            report_malformed_image("a data reference lies outside the code");
            return false;
        }
        u8* field = code + r->displacement_offset;
        u32 distance = h->code_offset + r->instruction_start + r->instruction_length - area;
        store_u32(field, load_u32(field) - distance);
    }
    return true;
}

// The source table: names first, then the rows, with the size and time the compile saw when
// it read each file (read now for a file it did not record).
static b8 append_sources(Compiled_Layer_Header* h) {
    Dynamic_Array* files = &global_compiler_state.source_files;
    Layer_Source_Entry* rows = (Layer_Source_Entry*)tmp_allocate_aligned((u64)files->count * sizeof(Layer_Source_Entry) + 1,
                                                                          alignof(Layer_Source_Entry));
    if (!rows) {
        report_out_of_compiler_memory("temporary memory");
        return false;
    }
    u32 count = 0;
    for (u32 i = 0; i < files->count; i++) {
        String path = ((Source_File*)files->data)[i].path;
        if (path.count <= 0 || (u64)path.count > LAYER_SOURCE_NAME_MAX_LENGTH) continue;
        Layer_Source_Entry* row = &rows[count++];
        row->name = compiler_output_memory.used;
        row->name_length = (u64)path.count;
        Layer_Source_Record* seen = find_layer_source(path);
        if (seen) {
            row->size = seen->size;
            row->modification_time = seen->modification_time;
        } else {
            stat_layer_source(to_tmp_c_string(path), &row->size, &row->modification_time);
        }
        u8* name = output_append((u64)path.count);
        if (!name) return false;
        memcpy(name, path.data, (u64)path.count);
    }
    h->source_table_offset = (u32)compiler_output_memory.used;
    h->source_count = count;
    u8* table = output_append((u64)count * sizeof(Layer_Source_Entry));
    if (!table) return false;
    if (count) memcpy(table, rows, (u64)count * sizeof(Layer_Source_Entry));
    return true;
}

static b8 lay_out_image(u32 syntax_offset, u32 events_offset, u32 on_load_offset, u8 flags, Version_Info* version,
                        Dynamic_Array* code, Dynamic_Array* data_relocations, Dynamic_Array* slots) {
    Compiler_State* state = &global_compiler_state;
    compiler_output_memory.used = 0;
    u8* image = compiler_output_memory.memory;
    if (state->constant_data_size > LAYER_IMAGE_MAX_SIZE || state->global_data_size > LAYER_IMAGE_MAX_SIZE) {
        report_out_of_compiler_memory(compiler_output_memory.name);
        return false;
    }
    if (!output_append(LAYER_IMAGE_CONSTANT_OFFSET)) return false;

    Compiled_Layer_Header* h = (Compiled_Layer_Header*)image;
    h->magic = OUTPUT_MAGIC_ID;
    h->format_version = COMPILED_LAYER_FORMAT_VERSION;
    h->cpu = BC_CPU_AMD64;
    h->editor_version[0] = version->major;
    h->editor_version[1] = version->minor;
    h->editor_version[2] = version->patch;
    h->constant = COMPILED_LAYER_CONSTANT;
    h->flags = flags;

    h->constant_data_offset = LAYER_IMAGE_CONSTANT_OFFSET;
    h->constant_data_size = (u32)state->constant_data_size;
    u64 global_offset = align_up(LAYER_IMAGE_CONSTANT_OFFSET + state->constant_data_size, LAYER_IMAGE_DATA_ALIGNMENT);
    h->global_data_offset = (u32)global_offset;
    h->global_data_size = (u32)state->global_data_size;
    if (!output_append(global_offset + state->global_data_size - LAYER_IMAGE_CONSTANT_OFFSET)) return false;
    u8* constants = image + h->constant_data_offset;
    u8* globals = image + h->global_data_offset;
    if (!copy_data_registers(&state->global_registers, globals, h->global_data_size) ||
        !copy_data_registers(&state->constant_registers, constants, h->constant_data_size)) {
        return false;
    }

    h->code_offset = (u32)compiler_output_memory.used;
    h->code_size = code->count;
    u8* code_area = output_append(code->count);
    if (!code_area) return false;
    if (code->count) memcpy(code_area, code->data, code->count);
    h->syntax_entry = h->code_offset + syntax_offset;
    h->events_entry = h->code_offset + events_offset;
    h->on_load_entry = h->code_offset + on_load_offset;
    if (!patch_data_references(h, code_area, data_relocations)) return false;

    h->foreign_call_slot_offset = (u32)compiler_output_memory.used;
    h->foreign_call_slot_count = slots->count;
    u8* slot_table = output_append((u64)slots->count * sizeof(Foreign_Call_Slot));
    if (!slot_table) return false;
    if (slots->count) memcpy(slot_table, slots->data, (u64)slots->count * sizeof(Foreign_Call_Slot));

    if (!copy_constant_relocations_to_code_output(h, constants, globals) ||
        !copy_global_relocations_to_code_output(h, globals) || !append_sources(h)) {
        return false;
    }

    u64 size = compiler_output_memory.used;
    h->image_hash = layer_image_hash(image, size);
    const char* reason = check_layer_image(image, size);
    if (reason) {
        report_malformed_image(reason);
        return false;
    }
    return true;
}

//~ The file

// A write past RLIMIT_FSIZE would end the editor; ignored, it fails with EFBIG instead.
static void ignore_file_size_signal() {
    struct sigaction current;
    if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGXFSZ, SIG_IGN);
}

// Writes a temporary file beside the target, flushes it and renames it over the target.
// On false, *step and the errno say what failed and the target is untouched.
static b8 replace_file(const char* path, const u8* data, u64 size, const char** step) {
    ignore_file_size_signal();
    char* temporary = (char*)string_concat2("%.XXXXXX", string_from_c(path)).data;
    *step = "making a temporary file";
    if (!temporary) return false;
    int fd = mkostemp(temporary, O_CLOEXEC);
    if (fd < 0) return false;
    b8 ok = true;
    *step = "writing";
    if (!os_write_all(fd, data, size)) ok = false;
    if (ok) {
        *step = "flushing";
        if (fsync(fd) != 0) ok = false;
    }
    int error = errno;
    if (close(fd) != 0 && ok) {
        *step = "closing";
        error = errno;
        ok = false;
    }
    if (ok) {
        *step = "renaming";
        if (rename(temporary, path) != 0) {
            error = errno;
            ok = false;
        }
    }
    if (!ok) {
        unlink(temporary);
        errno = error;
    }
    return ok;
}

b8 output_amd64_file(String* source_path, u32 syntax_offset, u32 events_offset, u32 on_load_offset, u8 flags,
                     Version_Info* version, Dynamic_Array code, Dynamic_Array data_relocations,
                     Dynamic_Array foreign_call_slots) {
    u64 saved = tmp_get_used();
    char* source = to_tmp_c_string(*source_path);
    if (!source) source = (char*)"";
    if (!lay_out_image(syntax_offset, events_offset, on_load_offset, flags, version, &code, &data_relocations,
                       &foreign_call_slots)) {
        add_log(nullptr, LOG_ERROR, "Failed to compile from '%s'.", source);
        tmp_set_used(saved);
        return false;
    }
    String path = get_layer_image_path_tmp();
    const char* step = "building its path";
    b8 written = path.data && replace_file((char*)path.data, compiler_output_memory.memory, compiler_output_memory.used, &step);
    if (written) {
        add_log(nullptr, LOG_INFO, "Successfully compiled custom layer from '%s'.", source);
    } else {
        const char* image_path = path.data ? (char*)path.data : COMPILED_CUSTOM_LAYER_FILENAME;
        add_log(nullptr, LOG_ERROR, "Failed to compile from '%s'. Writing '%s' failed while %s: %s.", source,
                image_path, step, strerror(errno));
        print_error("Failed to write '%s'.", image_path);
    }
    tmp_set_used(saved);
    return written;
}
