#include "tests/common/StoredEbzip.h"

#include "foundation/book/BookConstants.h"

#include <cstddef>
#include <cstdint>

namespace lftest {

namespace {

uint32_t adler32Of(const Bytes& data) {
    uint32_t a = 1, b = 0;
    for (unsigned char c : data) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

}  // namespace

Bytes storedEbzip(const Bytes& plain) {
    const size_t slice = kBlockSize;
    const size_t n = (plain.size() + slice - 1) / slice;
    const int width = plain.size() < 0x10000 ? 2 : 3;
    Bytes out = {'E', 'B', 'Z', 'i', 'p', 0x10, 0, 0};
    appendBe(out, plain.size(), 6);
    appendBe(out, adler32Of(plain), 4);
    appendBe(out, 0, 4);
    const uint64_t dataStart = 22 + (n + 1) * width;
    for (size_t i = 0; i <= n; ++i) appendBe(out, dataStart + i * slice, width);
    for (size_t i = 0; i < n; ++i) {
        for (size_t k = 0; k < slice; ++k) {
            size_t at = i * slice + k;
            out.push_back(at < plain.size() ? plain[at] : 0);
        }
    }
    return out;
}

}  // namespace lftest
