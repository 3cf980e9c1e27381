// Byte helpers shared by the decoders of the legacy storage forms (EPWING
// Huffman, S-EBXA, SSED): big-endian numbers and bounded reads at a file
// offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace legacyio {

inline uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline uint32_t be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

inline void putBe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void putBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Size of an open file (seeks to its end), -1 on failure.
int64_t fileLength(FILE* file);

// Reads exactly `length` bytes at `offset`. False when the range does not lie
// inside the first `limit` bytes of the file or the read comes up short.
bool readAt(FILE* file, int64_t limit, int64_t offset, uint8_t* out, size_t length);

}  // namespace legacyio
