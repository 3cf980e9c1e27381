// Small readers of the files the media operations hand out, written for the
// tests from the file formats alone: a 1-bit BMP decoded into its pixels,
// and a RIFF/WAVE file's header fields and data.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/byteorder.h"

namespace lftest {

inline uint32_t le32At(const std::vector<uint8_t>& b, size_t at) {
    return byteorder::le32(&b[at]);
}
inline uint32_t le16At(const std::vector<uint8_t>& b, size_t at) {
    return byteorder::le16(&b[at]);
}

// A malloc'ed buffer of the reader as bytes (freed here); empty for null.
// The size is read after the call that filled it.
inline std::vector<uint8_t> takeBuffer(uint8_t* p, const uint32_t* n) {
    std::vector<uint8_t> out;
    if (p) out.assign(p, p + *n);
    free(p);
    return out;
}

struct DecodedBmp {
    bool ok = false;
    std::string error;
    uint32_t width = 0, height = 0;
    // rows[y][x]: true for a black (colour 1) pixel, top row first.
    std::vector<std::vector<bool>> rows;
};

// Decodes a 1-bit BMP as the format defines it: file and info headers, a
// palette, and bottom-up rows padded to 4 bytes. Pixels are black where the
// palette entry they select is black. The file size field is not looked at
// (writers differ in it; tests of ours check it on their own).
inline DecodedBmp decodeBmp(const std::vector<uint8_t>& b) {
    DecodedBmp d;
    if (b.size() < 62 || b[0] != 'B' || b[1] != 'M') {
        d.error = "no BMP signature";
        return d;
    }
    uint32_t dataOffset = le32At(b, 10), infoSize = le32At(b, 14);
    d.width = le32At(b, 18);
    d.height = le32At(b, 22);
    if (le16At(b, 26) != 1 || le16At(b, 28) != 1 || le32At(b, 30) != 0) {
        d.error = "not an uncompressed 1-bit BMP";
        return d;
    }
    const size_t palette = 14 + infoSize;
    const bool black[2] = {b[palette] == 0 && b[palette + 1] == 0 && b[palette + 2] == 0,
                           b[palette + 4] == 0 && b[palette + 5] == 0 && b[palette + 6] == 0};
    const size_t stride = (d.width + 31) / 32 * 4;
    if (dataOffset + stride * d.height > b.size()) {
        d.error = "pixel data past the file";
        return d;
    }
    for (uint32_t y = 0; y < d.height; ++y) {
        const size_t row = dataOffset + (d.height - 1 - y) * stride;
        std::vector<bool> pixels;
        for (uint32_t x = 0; x < d.width; ++x) pixels.push_back(black[(b[row + x / 8] >> (7 - x % 8)) & 1]);
        d.rows.push_back(pixels);
    }
    d.ok = true;
    return d;
}

// Pixels of a stored monochrome bitmap (rows of (width + 7) / 8 bytes, bit 1
// black), top row first, width rounded up to whole bytes.
inline std::vector<std::vector<bool>> bitmapRows(const std::vector<uint8_t>& bits, uint32_t width, uint32_t height) {
    std::vector<std::vector<bool>> rows;
    const uint32_t rowBytes = (width + 7) / 8;
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<bool> pixels;
        for (uint32_t x = 0; x < rowBytes * 8; ++x) pixels.push_back((bits[y * rowBytes + x / 8] >> (7 - x % 8)) & 1);
        rows.push_back(pixels);
    }
    return rows;
}

struct ParsedWave {
    bool ok = false;
    std::string error;
    uint32_t riffSize = 0, format = 0, channels = 0, rate = 0, byteRate = 0, blockAlign = 0, bits = 0;
    std::vector<uint8_t> data;
};

// Walks the RIFF chunks: "fmt " and "data" must be there, each inside the file.
inline ParsedWave parseWave(const std::vector<uint8_t>& b) {
    ParsedWave w;
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE") {
        w.error = "no RIFF/WAVE signature";
        return w;
    }
    w.riffSize = le32At(b, 4);
    bool fmt = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        std::string id(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
        uint32_t n = le32At(b, at + 4);
        if (at + 8 + n > b.size()) {
            w.error = "chunk " + id + " past the file";
            return w;
        }
        if (id == "fmt " && n >= 16) {
            w.format = le16At(b, at + 8);
            w.channels = le16At(b, at + 10);
            w.rate = le32At(b, at + 12);
            w.byteRate = le32At(b, at + 16);
            w.blockAlign = le16At(b, at + 20);
            w.bits = le16At(b, at + 22);
            fmt = true;
        } else if (id == "data") {
            w.data.assign(b.begin() + static_cast<long>(at) + 8, b.begin() + static_cast<long>(at + 8 + n));
            w.ok = fmt;
            if (!fmt) w.error = "data before fmt";
            return w;
        }
        at += 8 + n + (n & 1);
    }
    w.error = "no data chunk";
    return w;
}

}  // namespace lftest
