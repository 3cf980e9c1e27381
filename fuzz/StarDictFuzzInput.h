// The files of one StarDict dictionary packed into a fuzz input, shared by
// the targets that open such dictionaries: a selector byte (bit 0: the
// article file is "<base>.dict.dz", else "<base>.dict"; bit 1: an offset
// cache part follows the index), then u16 little-endian length + the ".ifo",
// u32 length + the ".idx", [u32 length + the ".lfi"], and the rest is the
// article file. Lengths past the input's end take what is left.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/byteorder.h"
#include "fuzz/FuzzScratch.h"

namespace stardictfuzz {

// Takes n bytes of the input (fewer at its end).
inline const uint8_t* take(const uint8_t*& p, const uint8_t* end, size_t n, size_t* got) {
    *got = static_cast<size_t>(end - p) < n ? static_cast<size_t>(end - p) : n;
    const uint8_t* at = p;
    p += *got;
    return at;
}

inline size_t lengthField(const uint8_t*& p, const uint8_t* end, int width) {
    if (end - p < width) {
        p = end;
        return 0;
    }
    size_t v = width == 2 ? byteorder::le16(p) : byteorder::le32(p);
    p += width;
    return v;
}

// Writes the files of the input [p, end) as base + ".ifo" and the others;
// false for an empty input.
inline bool writeFiles(const std::string& base, const uint8_t* p, const uint8_t* end) {
    if (p == end) return false;
    const uint8_t select = *p++;
    size_t got;
    const uint8_t* ifo = take(p, end, lengthField(p, end, 2), &got);
    writeScratchFile(base + ".ifo", ifo, got);
    const uint8_t* idx = take(p, end, lengthField(p, end, 4), &got);
    writeScratchFile(base + ".idx", idx, got);
    unlink((base + ".idx.lfi").c_str());
    if (select & 2) {
        const uint8_t* cache = take(p, end, lengthField(p, end, 4), &got);
        writeScratchFile(base + ".idx.lfi", cache, got);
    }
    unlink((base + ".dict").c_str());
    unlink((base + ".dict.dz").c_str());
    writeScratchFile(base + ((select & 1) ? ".dict.dz" : ".dict"), p, static_cast<size_t>(end - p));
    return true;
}

}  // namespace stardictfuzz
