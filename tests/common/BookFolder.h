// Small generated EPWING book folders for the compressor and Packwell tests:
// a CATALOGS file written byte by byte and book text files whose block 1 is
// an index table.
#pragma once

#include "foundation/byteorder.h"
#include "tests/common/TestDir.h"

#include <sys/stat.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace booktest {

using lftest::Bytes;

// The low `width` bytes of v, most significant first (for the tests that
// patch fixtures).
inline void putBE(unsigned char* p, uint64_t v, unsigned width) {
    byteorder::putBeN(p, v, static_cast<int>(width));
}

// One record of an index table: area id, start block, length in blocks.
struct IndexRecord {
    unsigned id;
    uint32_t start;
    uint32_t blocks;
};

// Deterministic text-like bytes (compress to about a third): words of a small
// vocabulary picked by a linear congruential generator.
inline void fillText(unsigned char* p, size_t n, uint32_t seed) {
    static const char* const words[] = {"dictionary ", "entry ", "\x1f\x09", "kana ",    "\x82\xa0\x82\xa2 ",
                                        "reference ",  "block ", "EPWING ",  "\x1f\x0a", "index ",
                                        "search ",     "word ",  "title ",   "gaiji ",   "\x93\xfa\x96\x7b ",
                                        "text "};
    uint32_t s = seed * 2654435761u + 1;
    size_t i = 0;
    while (i < n) {
        s = s * 1103515245u + 12345u;
        const char* w = words[(s >> 16) & 15];
        for (size_t k = 0; w[k] && i < n; ++k) p[i++] = static_cast<unsigned char>(w[k]);
        if (((s >> 8) & 31) == 0 && i < n) p[i++] = static_cast<unsigned char>(s >> 24);
    }
}

// Random (incompressible) bytes.
inline void fillRandom(unsigned char* p, size_t n, uint32_t seed) {
    uint64_t s = seed * 0x9E3779B97F4A7C15ull + 7;
    for (size_t i = 0; i < n; ++i) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        p[i] = static_cast<unsigned char>(s >> 32);
    }
}

// A book text file of size bytes: block 1 the index table (records as given;
// byte 2 the character code 1), then text.
inline Bytes makeBookText(size_t size, const std::vector<IndexRecord>& records, uint32_t seed = 1) {
    Bytes b(size, 0);
    if (size > 2048) fillText(b.data() + 2048, size - 2048, seed);
    if (size >= 16) {
        size_t room = std::min<size_t>(size, 2048);
        byteorder::putBe16(b.data(), static_cast<uint32_t>(records.size()));  // bytes 0-1: record count
        b[2] = 1;                                                             // byte 2: character code
        for (size_t i = 0; i < records.size() && 16 + 16 * (i + 1) <= room; ++i) {
            unsigned char* r = b.data() + 16 + 16 * i;
            r[0] = static_cast<unsigned char>(records[i].id);  // +0 area id
            byteorder::putBe32(r + 2, records[i].start);       // +2 start block
            byteorder::putBe32(r + 6, records[i].blocks);      // +6 length in blocks
            r[10] = 1;                                         // +10 index information
        }
    }
    return b;
}

// A plain body-text-only index table: one record, id 0x00 from block 2.
inline Bytes makeHonmon(size_t size, uint32_t seed = 1) {
    uint32_t blocks = size > 2048 ? static_cast<uint32_t>((size - 2048 + 2047) / 2048) : 0;
    return makeBookText(size, {{0x00, 2, blocks}}, seed);
}

struct SubbookSpec {
    std::string directory;      // at most 8 characters
    unsigned version = 1;       // EPWING version byte
    unsigned textCode = 0;      // second record byte 55
    unsigned graphicsCode = 0;  // second record byte 54
    unsigned soundCode = 0;     // second record byte 53
    std::string graphicsName;   // second record bytes 44-51
    std::string soundName;      // second record bytes 56-63
};

inline SubbookSpec subbook(const std::string& directory, unsigned version = 1) {
    SubbookSpec s;
    s.directory = directory;
    s.version = version;
    return s;
}

// CATALOGS: one 2048-byte block.
inline Bytes makeCatalogs(const std::vector<SubbookSpec>& subs) {
    Bytes b(2048, 0);
    unsigned highest = 1;
    for (const auto& s : subs) highest = std::max(highest, s.version);
    byteorder::putBe16(b.data(), static_cast<uint32_t>(subs.size()));  // bytes 0-1: subbook count
    b[3] = static_cast<unsigned char>(highest);                        // byte 3: highest version
    for (size_t i = 0; i < subs.size(); ++i) {
        unsigned char* r = b.data() + 16 + 164 * i;
        r[0] = 0x00;                                                    // record byte 0: book type
        r[1] = static_cast<unsigned char>(subs[i].version);             // version
        static const unsigned char title[] = {0x24, 0x22, 0x24, 0x24};  // JIS "あい"
        memcpy(r + 2, title, sizeof title);                             // 2-81 title
        memset(r + 82, ' ', 8);                                         // 82-89 directory, blank-padded
        memcpy(r + 82, subs[i].directory.data(), std::min<size_t>(8, subs[i].directory.size()));
        r[95] = 1;  // index page
        // Second record set, read for version > 1.
        size_t second = 16 + 164 * (subs.size() + i);
        if (second + 164 <= 2048) {
            unsigned char* q = b.data() + second;
            memcpy(q + 4, "HONMON  ", 8);  // 4-11 text file name
            q[40] = 0;
            q[41] = 1;
            q[42] = 2;
            q[43] = 0;  // 40-43 as the writer puts them
            memcpy(q + 44, subs[i].graphicsName.data(), std::min<size_t>(8, subs[i].graphicsName.size()));
            q[53] = static_cast<unsigned char>(subs[i].soundCode);     // 53 sound code
            q[54] = static_cast<unsigned char>(subs[i].graphicsCode);  // 54 graphics code
            q[55] = static_cast<unsigned char>(subs[i].textCode);      // 55 text code
            memcpy(q + 56, subs[i].soundName.data(), std::min<size_t>(8, subs[i].soundName.size()));
        }
    }
    return b;
}

// root/CATALOGS and root/<dir>/DATA/HONMON for each subbook; returns the
// HONMON paths.
inline std::vector<std::string> makeBook(const std::string& root, const std::vector<SubbookSpec>& subs,
                                         const std::vector<Bytes>& texts) {
    mkdir(root.c_str(), 0755);
    lftest::writeFile(root + "/CATALOGS", makeCatalogs(subs));
    std::vector<std::string> out;
    for (size_t i = 0; i < subs.size(); ++i) {
        std::string d = root + "/" + subs[i].directory;
        mkdir(d.c_str(), 0755);
        mkdir((d + "/DATA").c_str(), 0755);
        std::string h = d + "/DATA/HONMON";
        lftest::writeFile(h, i < texts.size() ? texts[i] : makeHonmon(3 * 2048));
        out.push_back(h);
    }
    return out;
}

inline bool exists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

}  // namespace booktest
