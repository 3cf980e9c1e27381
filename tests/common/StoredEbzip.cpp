#include "tests/common/StoredEbzip.h"

#include "foundation/book/BookConstants.h"
#include "tests/common/EbzipParse.h"

#include <cstddef>
#include <cstdint>

namespace lftest {

Bytes storedEbzip(const Bytes& plain) {
    const size_t slice = kBlockSize;
    const size_t n = (plain.size() + slice - 1) / slice;
    const int width = plain.size() < 0x10000 ? 2 : 3;
    Bytes out = {'E', 'B', 'Z', 'i', 'p', 0x10, 0, 0};
    appendBe(out, plain.size(), 6);
    appendBe(out, booktest::adlerOf(plain), 4);
    appendBe(out, 0, 4);
    const uint64_t dataStart = 22 + (n + 1) * width;
    for (size_t i = 0; i <= n; ++i) appendBe(out, dataStart + i * slice, width);
    out.insert(out.end(), plain.begin(), plain.end());
    out.resize(out.size() + n * slice - plain.size(), 0);  // the last slice zero-padded
    return out;
}

}  // namespace lftest
