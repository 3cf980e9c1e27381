#include "tests/common/DictzipFixtures.h"

#include <zlib.h>

#include <cstring>

#include "foundation/byteorder.h"
#include "tests/common/Bytes.h"

namespace lftest {

namespace {

// Deflates in (may be empty) with the flush mode, appending to out.
void deflateInto(z_stream& z, const std::string& in, int flush, std::string& out) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    unsigned char buf[16384];
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        deflate(&z, flush);
        out.append(reinterpret_cast<char*>(buf), sizeof buf - z.avail_out);
    } while (z.avail_out == 0 || z.avail_in > 0);
}

}  // namespace

void putLe16(std::vector<unsigned char>& bytes, size_t offset, unsigned value) {
    byteorder::putLe16(&bytes[offset], value);
}

std::vector<unsigned char> makeDictzip(const std::string& data, const DictzipOptions& o) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::vector<std::string> chunks;
    for (size_t at = 0; at < data.size(); at += o.chunkLength) {
        std::string c;
        deflateInto(z, data.substr(at, o.chunkLength), o.fullFlush ? Z_FULL_FLUSH : Z_SYNC_FLUSH, c);
        chunks.push_back(c);
    }
    std::string end;
    deflateInto(z, std::string(), Z_FINISH, end);
    deflateEnd(&z);
    if (chunks.empty()) chunks.push_back(std::string());
    if (o.endInLastChunk) {
        chunks.back() += end;
        end.clear();
    }

    std::vector<unsigned char> out = {0x1F, 0x8B, 8, 0, 0x10, 0x20, 0x30, 0x40, 2, 3};
    out[3] = static_cast<unsigned char>(4 | (o.name ? 8 : 0) | (o.comment ? 16 : 0) | (o.headerCrc ? 2 : 0));
    const unsigned count = static_cast<unsigned>(chunks.size());
    out.resize(22 + 2 * count);
    putLe16(out, kDzXlen, 10 + 2 * count);
    out[kDzSubfield] = 'R';
    out[kDzSubfield + 1] = 'A';
    putLe16(out, 14, 6 + 2 * count);
    putLe16(out, kDzVersion, 1);
    putLe16(out, kDzChunkLength, o.chunkLength);
    putLe16(out, kDzChunkCount, count);
    for (unsigned i = 0; i < count; ++i) putLe16(out, kDzSizes + 2 * i, static_cast<unsigned>(chunks[i].size()));
    if (o.name) out.insert(out.end(), {'d', 'a', 't', 'a', '.', 't', 'x', 't', 0});
    if (o.comment) out.insert(out.end(), {'a', ' ', 'c', 'o', 'm', 'm', 'e', 'n', 't', 0});
    if (o.headerCrc) {
        uLong crc = crc32(0, out.data(), static_cast<uInt>(out.size()));
        appendLe(out, crc, 2);
    }
    for (const std::string& c : chunks) out.insert(out.end(), c.begin(), c.end());
    out.insert(out.end(), end.begin(), end.end());
    appendLe(out, crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())), 4);
    appendLe(out, data.size(), 4);
    return out;
}

std::string sampleText(size_t n, unsigned seed) {
    static const char* const kWords[] = {"apple", "river", "stone", "čaj", "über",
                                         "north", "x<y",   "a&b",   "\n",  "Ωmega"};
    std::string s;
    uint32_t x = seed;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        s += kWords[(x >> 16) % 10];
        s += ' ';
        s += static_cast<char>('0' + (x >> 8) % 10);
    }
    s.resize(n);
    return s;
}

}  // namespace lftest
