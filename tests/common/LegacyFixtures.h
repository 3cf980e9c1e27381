// Small helpers of the tests of the legacy decoders: big-endian numbers
// patched into a fixture, and fixtures written to a test directory and
// opened for the decoder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "foundation/FileHandle.h"
#include "foundation/byteorder.h"
#include "tests/common/LegacyEncoders.h"
#include "tests/common/TestDir.h"

namespace lftest {

// Big-endian numbers written into b at byte offset at.
inline void put16(Bytes& b, size_t at, uint32_t v) {
    byteorder::putBe16(&b[at], v);
}
inline void put32(Bytes& b, size_t at, uint32_t v) {
    byteorder::putBe32(&b[at], v);
}

// Writes bytes to the file name of the test directory and opens it for
// reading (null when it does not open).
inline FilePtr openBytes(const TestDir& dir, const Bytes& bytes, const char* name) {
    EXPECT_TRUE(writeFile(dir.file(name), bytes));
    return FilePtr(fopen(dir.file(name).c_str(), "rb"));
}

}  // namespace lftest
