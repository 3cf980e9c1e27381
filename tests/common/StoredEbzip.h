// Builds a small EBZip file whose slices are all stored raw (level 0, every
// index span exactly 2048 bytes), so tests can make ".ebz" fixtures without a
// compressor.
#pragma once

#include <vector>

#include "tests/common/Bytes.h"

namespace lftest {

// The EBZip form of plain: 22-byte header ("EBZip", mode 1, level 0, size,
// Adler-32 of the real bytes, time 0), the slice index (2-byte entries below
// 64 KiB, else 3-byte), and the slices zero-padded to 2048 bytes.
Bytes storedEbzip(const Bytes& plain);

}  // namespace lftest
