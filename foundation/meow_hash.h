// The Meow hash, version 0.5 with its default seed: a fast non-cryptographic 128-bit hash
// built on the AES decryption round. Names are hashed once and later compared by the low
// 64 bits of their hashes.
#pragma once

#include "foundation/types.h"

struct Meow_Hash {
    u64 low;   // the key every caller keeps
    u64 high;
};

Meow_Hash MeowHash(u64 length, const void* data);
// Reads exactly the length octets at data and nothing around them; data may be null when
// length is 0.
