// The machine's description: CPUID for the processor, "key: value" lines of /proc for the
// cores and memory, and os-release for the system's name.

#include "shell/system_info.h"

#include <cpuid.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#define PROC_READ_CHUNK 1024

//~ Reading files whose size is unknown

static void read_whole_file_up_to(Dynamic_Array* out, String path, u64 limit) {
    init_dynamic_array(out, 1);
    char* c_path = to_tmp_c_string(path);
    if (!c_path) return;
    int fd = open(c_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    u8 chunk[PROC_READ_CHUNK];
    while (out->count < limit) {
        u64 want = limit - out->count < PROC_READ_CHUNK ? limit - out->count : PROC_READ_CHUNK;
        ssize_t n = read(fd, chunk, want);
        if (n <= 0) break;
        u8* at = (u8*)dynamic_array_add_fast_multiple(out, (u32)n);
        if (!at) break;
        memcpy(at, chunk, (u64)n);
    }
    close(fd);
}

void linux_read_whole_proc_file(Dynamic_Array* out, String path) { read_whole_file_up_to(out, path, 0xFFFFFFFFull); }

//~ Lines

static b8 is_blank(u8 c) { return c == ' ' || c == '\t'; }

static String trim_blanks(String s) {
    while (s.count > 0 && is_blank(s.data[0])) s = String{s.data + 1, s.count - 1};
    while (s.count > 0 && is_blank(s.data[s.count - 1])) s.count--;
    return s;
}

// Takes the next line (without its line feed) off the front of text; false at the end.
static b8 next_line(String* text, String* line) {
    if (text->count <= 0) return false;
    s64 end = 0;
    while (end < text->count && text->data[end] != '\n') end++;
    *line = String{text->data, end};
    s64 skip = end < text->count ? end + 1 : end;
    *text = String{text->data + skip, text->count - skip};
    return true;
}

// "key: value" with the blanks around each cut; false for a line without a colon.
static b8 split_key_value(String line, String* key, String* value) {
    u8* colon = get_first_character_in_string_like(line.data, line.count, ':');
    if (!colon) return false;
    *key = trim_blanks(String{line.data, colon - line.data});
    *value = trim_blanks(String{colon + 1, line.data + line.count - colon - 1});
    return true;
}

//~ The record

static void read_cpu_counts(Computer_Info* info, String path) {
    Dynamic_Array file;
    linux_read_whole_proc_file(&file, path);
    String text = {file.data, file.count}, line, key, value;
    b8 seen_logical = false, seen_physical = false;
    while (!(seen_logical && seen_physical) && next_line(&text, &line)) {
        if (!split_key_value(line, &key, &value)) continue;
        if (!seen_logical && strings_equal(key, STR("siblings"))) {
            info->num_logical_cores = (u16)string_to_s64(value);
            seen_logical = true;
        } else if (!seen_physical && strings_equal(key, STR("cpu cores"))) {
            info->num_physical_cores = (u16)string_to_s64(value);
            seen_physical = true;
        }
    }
    dynamic_array_free(&file);
}

static void read_memory_size(Computer_Info* info, String path) {
    Dynamic_Array file;
    linux_read_whole_proc_file(&file, path);
    String text = {file.data, file.count}, line, key, value;
    while (next_line(&text, &line)) {
        if (!split_key_value(line, &key, &value) || !strings_equal(key, STR("MemTotal"))) continue;
        s64 number_end = 0;
        while (number_end < value.count && !is_blank(value.data[number_end])) number_end++;
        u64 size = (u64)string_to_s64(String{value.data, number_end});
        String unit = trim_blanks(String{value.data + number_end, value.count - number_end});
        if (strings_equal(unit, STR("kB"))) size *= 1024;
        info->usable_ram = size;
        break;
    }
    dynamic_array_free(&file);
}

// The PRETTY_NAME value: quoted ("..." or '...', up to the closing quote or the line's end)
// or bare (the rest of the line).
static void read_os_name(Computer_Info* info, String path) {
    Dynamic_Array file;
    read_whole_file_up_to(&file, path, OS_RELEASE_MAX_SIZE);
    String text = {file.data, file.count}, line;
    while (next_line(&text, &line)) {
        line = trim_blanks(line);
        s64 key_end = 0;
        while (key_end < line.count && !is_blank(line.data[key_end]) && line.data[key_end] != '=') key_end++;
        if (!strings_equal(String{line.data, key_end}, STR("PRETTY_NAME"))) continue;
        String rest = trim_blanks(String{line.data + key_end, line.count - key_end});
        if (rest.count == 0 || rest.data[0] != '=') continue;
        String value = trim_blanks(String{rest.data + 1, rest.count - 1});
        if (value.count > 0 && (value.data[0] == '"' || value.data[0] == '\'')) {
            u8 quote = value.data[0];
            value = String{value.data + 1, value.count - 1};
            u8* close = get_first_character_in_string_like(value.data, value.count, quote);
            if (close) value.count = close - value.data;
        }
        // Cut to the buffer on a character boundary.
        s64 count = value.count < OS_NAME_CAPACITY ? value.count : OS_NAME_CAPACITY;
        while (count < value.count && count > 0 && (value.data[count] & 0xC0) == 0x80) count--;
        memcpy(info->os_name_buffer, value.data, (u64)count);
        info->os_name = String{info->os_name_buffer, count};
        break;
    }
    dynamic_array_free(&file);
}

void os_get_computer_info_from(Computer_Info* info, String root) {
    memset(info, 0, sizeof(*info));
    info->isa = ISA_AMD64;
    u64 saved = tmp_get_used();
    read_cpu_counts(info, string_concat2("%/proc/cpuinfo", root));
    read_memory_size(info, string_concat2("%/proc/meminfo", root));
    String os_release = string_concat2("%/usr/lib/os-release", root);
    if (access((char*)os_release.data, R_OK) != 0) os_release = string_concat2("%/etc/os-release", root);
    read_os_name(info, os_release);
    tmp_set_used(saved);
}

void os_get_computer_info(Computer_Info* info) { os_get_computer_info_from(info, String{}); }

//~ The processor

char* os_get_cpu_model_c_string() {
    u8* text = tmp_allocate(64);
    if (!text) return nullptr;
    memset(text, 0, 64);
    u32 a, b, c, d;
    __cpuid(0x80000000, a, b, c, d);
    u32 last = a < 0x80000004 ? a : 0x80000004;
    u32 stored = 0;
    for (u32 leaf = 0x80000002; leaf <= last; leaf++) {
        u32 highest, unused_b, unused_c, unused_d;
        __cpuid(0x80000000, highest, unused_b, unused_c, unused_d);
        if (highest < leaf) break;
        __cpuid(leaf, a, b, c, d);
        u32 words[4] = {a, b, c, d};
        memcpy(text + stored, words, 16);
        stored += 16;
    }
    if (stored == 0) {
        __cpuid(0x80000000, a, b, c, d);
        u32 words[3] = {b, c, d};
        memcpy(text, words, 12);
    }
    // Some processors pad the brand on the left, most on the right.
    s64 end = (s64)strnlen((char*)text, 63);
    while (end > 0 && is_blank(text[end - 1])) text[--end] = 0;
    s64 start = 0;
    while (start < end && is_blank(text[start])) start++;
    memmove(text, text + start, (size_t)(end - start + 1));
    return (char*)text;
}

char* os_get_cpu_isa_c_string(u64 code) {
    const char* name = "unknown";
    switch (code) {
        case ISA_AMD64: name = "AMD64"; break;
        case ISA_X86: name = "x86"; break;
        case ISA_ARM: name = "ARM"; break;
        case ISA_ARM64: name = "ARM64"; break;
        case ISA_IA64: name = "IA64"; break;
    }
    return to_tmp_c_string(string_from_c(name));
}
