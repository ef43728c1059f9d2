// What the updater tests share: the foundation set up once for the whole run, and a
// scratch directory per test.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "updater/updater.h"

std::string make_scratch_directory(const char* prefix);
// A fresh directory under the system's temporary directory.

void remove_scratch_directory(const std::string& path);

typedef std::vector<u8> Bytes;

inline Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline void put_u32(Bytes* bytes, size_t at, u32 value) { memcpy(bytes->data() + at, &value, 4); }

struct Crafted_File {
    std::string name;
    Bytes stored;
    u32 uncompressed_size;
};

Bytes craft_update_data(u32 format, const std::vector<Crafted_File>& files);
// Update data of release version 0.3.2 laid out as the packer lays it out: header, name
// table, entry table, names, stored data; the fields are what the files say, checked or not.

Bytes read_file_bytes(const std::string& path);
// The whole file; empty when it cannot be read.

void write_file_bytes(const std::string& path, const Bytes& content, unsigned mode = 0644);

Bytes lz_block_of(const Bytes& input);  // an own LZ block with 4 offset bits
Bytes lz4_block_of(const Bytes& input);
