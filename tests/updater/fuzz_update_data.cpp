// libFuzzer target of the update data's check and decode, both formats. Each input is
// placed so that its last octet is the last readable one before a page without access.
// Holds: no crash and no read outside the data; checking with decoding accepts exactly
// what checking without it accepts and then decoding every file one by one accepts, with
// the same contents, each of its entry's size and named by a release file name. The input
// is also packed as a file of both formats and must decode back to itself.
#include "tests/fuzz_input.h"
#include "updater/updater.h"

static Guarded_Room get_room() {
    static Guarded_Room room;
    if (!room.start) {
        room = make_guarded_room(1 << 20);
        CHECK(init_memory(PROGRAM_UPDATER));
    }
    return room;
}

static b8 is_release_name(String name) {
    for (u32 i = 0; i < RELEASE_FILE_COUNT; i++) {
        if (strings_equal(name, string_from_c(release_file_names[i]))) return true;
    }
    return false;
}

static void check_data(const u8* data, u64 size) {
    Update_Plan checked, decoded;
    Update_Report checked_report = {}, decoded_report = {};
    b8 checks = check_update_data(data, size, &checked, &checked_report, false);
    b8 decodes = check_update_data(data, size, &decoded, &decoded_report, true);
    CHECK(checks == !checked_report.failed && decodes == !decoded_report.failed);
    CHECK(!decodes || checks);

    b8 each_decodes = checks;
    Gp_Allocation buffer = {};
    for (u32 i = 0; checks && i < checked.file_count; i++) {
        Update_File* file = &checked.files[i];
        CHECK(is_release_name(file->name));
        CHECK(file->stored >= data && file->stored + file->stored_size <= data + size);
        String content;
        Update_Report report = {};
        if (!decode_update_file(&checked, i, &buffer, &content, &report)) {
            each_decodes = false;
            break;
        }
        CHECK(content.count == (s64)file->uncompressed_size);
        if (decodes) {
            CHECK(strings_equal(decoded.files[i].name, file->name));
            CHECK(strings_equal(decoded.files[i].content, content));
        }
    }
    gp_free(&buffer);
    CHECK(decodes == each_decodes);
    if (decodes) CHECK(decoded.file_count == checked.file_count);
    free_update_plan(&checked);
    free_update_plan(&decoded);
}

// The bytes as the one file of update data of the format, as the packer lays it out.
static void check_round_trip(const u8* bytes, u32 size, u32 format) {
    Gp_Allocation block = {}, state = {};
    u32 stored_size = 0;
    if (format == 0) {
        CHECK(gp_allocate(&block, lz_block_bound(size)));
        stored_size = lz_compress_trying_different_sizes_per_offset(bytes, block.memory, size, 4, 12);
        CHECK(stored_size > 0);
    } else {
        CHECK(lz4_compress_block(bytes, size, &state, &block, &stored_size));
    }
    const char name[] = "readme.txt";
    u32 name_length = sizeof(name) - 1;
    u64 total = sizeof(Update_Header) + sizeof(Update_File_Name) + sizeof(Update_File_Entry) + name_length + stored_size;
    Gp_Allocation data = {};
    CHECK(gp_allocate(&data, total));
    Update_Header header = {UPDATE_MAGIC_NUMBER, format, {0, 3, 2}, 0, sizeof(Update_Header),
                            sizeof(Update_Header) + sizeof(Update_File_Name), 1};
    u32 names_at = sizeof(Update_Header) + sizeof(Update_File_Name) + sizeof(Update_File_Entry);
    Update_File_Name file_name = {names_at, name_length};
    // Format 1 stores a file that does not shrink as it is.
    b8 raw = format == 1 && stored_size >= size;
    Update_File_Entry entry = {raw ? size : stored_size, size, names_at + name_length};
    memcpy(data.memory, &header, sizeof(header));
    memcpy(data.memory + header.name_table_offset, &file_name, sizeof(file_name));
    memcpy(data.memory + header.entry_table_offset, &entry, sizeof(entry));
    memcpy(data.memory + names_at, name, name_length);
    if (raw) memcpy(data.memory + entry.data_offset, bytes, size);
    else memcpy(data.memory + entry.data_offset, block.memory, stored_size);

    Update_Plan plan;
    Update_Report report = {};
    CHECK(check_update_data(data.memory, entry.data_offset + entry.stored_size, &plan, &report, true));
    CHECK(plan.file_count == 1);
    CHECK(plan.files[0].content.count == (s64)size);
    CHECK(size == 0 || memcmp(plan.files[0].content.data, bytes, size) == 0);
    free_update_plan(&plan);
    gp_free(&data);
    gp_free(&block);
    gp_free(&state);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    u8* at = place_before_guard(get_room(), data, size);
    if (!at) return 0;
    check_data(at, size);
    check_round_trip(at, (u32)size, 0);
    check_round_trip(at, (u32)size, 1);
    tmp_reset();
    return 0;
}
