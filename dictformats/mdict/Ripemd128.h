// The RIPEMD-128 digest (ISO/IEC 10118-3): a streaming hash with init, update
// and final steps. The MDict reader derives the key that descrambles a key
// index with it.
#pragma once

#include <cstdint>

struct RIPEMD128_CTX {
    uint64_t count;      // bytes absorbed so far
    uint8_t buffer[64];  // the block being filled
    uint32_t state[4];   // chaining words
};

void ripemd128Init(RIPEMD128_CTX* ctx);
void ripemd128Update(RIPEMD128_CTX* ctx, const void* data, uint64_t length);
// Pads, absorbs the length and writes the 16-byte digest (words little-endian).
void ripemd128Final(RIPEMD128_CTX* ctx, uint8_t digest[16]);
// The compression function over one 64-byte block.
void ripemd128Compress(RIPEMD128_CTX* ctx, const uint8_t block[64]);
