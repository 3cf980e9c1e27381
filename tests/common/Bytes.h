// The byte string of the tests: file contents, fixtures and expected bytes,
// and appending numbers to it (numbers inside it go through
// foundation/byteorder.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/byteorder.h"

namespace lftest {

typedef std::vector<uint8_t> Bytes;

// n bytes as lower-case hexadecimal digits, two per byte (digests).
inline std::string hexString(const uint8_t* bytes, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[bytes[i] >> 4];
        s += kDigits[bytes[i] & 15];
    }
    return s;
}

// Appends the low `width` bytes of v (at most 8), most significant first.
inline void appendBe(Bytes& b, uint64_t v, int width) {
    b.resize(b.size() + static_cast<size_t>(width));
    byteorder::putBeN(&b[b.size() - static_cast<size_t>(width)], v, width);
}

// Appends the low `width` bytes of v (at most 8), least significant first.
inline void appendLe(Bytes& b, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace lftest
