// An independent reader of EBZip files for the tests: parses the header and
// the slice index byte by byte and inflates every slice with zlib, so that
// what the compressor writes is checked without going through CZio.
#pragma once

#include <zlib.h>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/byteorder.h"

namespace booktest {

struct EbzipFile {
    bool ok = false;
    std::string error;
    unsigned mode = 0, level = 0, byte6 = 0, byte7 = 0;
    uint64_t size = 0;
    uint32_t adler = 0, mtime = 0;
    unsigned width = 0;
    std::vector<uint64_t> offsets;    // n + 1
    std::vector<bool> raw;            // per slice
    std::vector<unsigned char> data;  // the uncompressed bytes (padding cut)
};

inline EbzipFile parseEbzip(const std::vector<unsigned char>& f) {
    EbzipFile z;
    if (f.size() < 22 || std::string(f.begin(), f.begin() + 5) != "EBZip") {
        z.error = "no EBZip header";
        return z;
    }
    z.mode = f[5] >> 4;
    z.level = f[5] & 15;
    z.byte6 = f[6];
    z.byte7 = f[7];
    z.size = byteorder::beN(&f[8], 6);
    z.adler = byteorder::be32(&f[14]);
    z.mtime = byteorder::be32(&f[18]);
    if (z.level > 5) {
        z.error = "level";
        return z;
    }
    uint64_t slice = 2048u << z.level;
    z.width = z.size < 0x10000 ? 2 : z.size < 0x1000000 ? 3 : z.size < 0x100000000ull ? 4 : 5;
    uint64_t n = (z.size + slice - 1) / slice;
    if (22 + (n + 1) * z.width > f.size()) {
        z.error = "index beyond the file";
        return z;
    }
    for (uint64_t i = 0; i <= n; ++i)
        z.offsets.push_back(byteorder::beN(&f[22 + i * z.width], static_cast<int>(z.width)));
    if (z.offsets[0] != 22 + (n + 1) * z.width) {
        z.error = "first slice does not follow the index";
        return z;
    }
    if (z.offsets[n] != f.size()) {
        z.error = "last offset is not the file length";
        return z;
    }
    std::vector<unsigned char> buf(slice);
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t a = z.offsets[i], b = z.offsets[i + 1];
        if (b < a || b > f.size()) {
            z.error = "bad span";
            return z;
        }
        if (b - a == slice) {
            z.raw.push_back(true);
            buf.assign(f.begin() + a, f.begin() + b);
        } else {
            z.raw.push_back(false);
            uLongf len = slice;
            if (uncompress(buf.data(), &len, &f[a], b - a) != Z_OK || len != slice) {
                z.error = "slice " + std::to_string(i) + " does not inflate to one slice";
                return z;
            }
        }
        uint64_t real = std::min<uint64_t>(slice, z.size - i * slice);
        z.data.insert(z.data.end(), buf.begin(), buf.begin() + real);
        for (uint64_t k = real; k < slice; ++k)
            if (buf[k] != 0) {
                z.error = "padding is not zero";
                return z;
            }
    }
    z.ok = true;
    return z;
}

inline uint32_t adlerOf(const std::vector<unsigned char>& d) {
    return static_cast<uint32_t>(adler32(adler32(0, Z_NULL, 0), d.data(), static_cast<uInt>(d.size())));
}

}  // namespace booktest
