// Byte helpers shared by the decoders of the legacy storage forms (EPWING
// Huffman, S-EBXA, SSED): big-endian numbers and bounded reads at a file
// offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "foundation/byteorder.h"

namespace legacyio {

using byteorder::be16;
using byteorder::be32;
using byteorder::putBe16;
using byteorder::putBe32;

// Size of an open file (seeks to its end), -1 on failure.
int64_t fileLength(FILE* file);

// Reads exactly `length` bytes at `offset`. False when the range does not lie
// inside the first `limit` bytes of the file or the read comes up short.
bool readAt(FILE* file, int64_t limit, int64_t offset, uint8_t* out, size_t length);

}  // namespace legacyio
