// The byte string of the tests: file contents, fixtures and expected bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace lftest
