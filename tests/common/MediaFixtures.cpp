#include "tests/common/MediaFixtures.h"

#include <cstring>

#include "foundation/byteorder.h"

namespace lftest {

namespace {

void tag(Bytes* b, const char* t) {
    b->insert(b->end(), t, t + 4);
}

}  // namespace

Bytes makeBmp(int width, int height, int bpp, unsigned (*pixel)(int x, int y), bool topDown) {
    const int colours = bpp <= 8 ? (1 << bpp) : 0;
    const int row = ((width * bpp + 31) / 32) * 4;
    const uint32_t offset = 14 + 40 + 4 * colours;
    const uint32_t size = offset + static_cast<uint32_t>(row * height);
    Bytes b;
    b.push_back('B');  // file header: "BM"
    b.push_back('M');
    appendLe(b, size, 4);    // file size
    appendLe(b, 0, 4);       // reserved
    appendLe(b, offset, 4);  // pixel data offset
    appendLe(b, 40, 4);      // BITMAPINFOHEADER
    appendLe(b, static_cast<uint32_t>(width), 4);
    appendLe(b, static_cast<uint32_t>(topDown ? -height : height), 4);
    appendLe(b, 1, 2);  // planes
    appendLe(b, static_cast<unsigned>(bpp), 2);
    appendLe(b, 0, 4);  // no compression
    appendLe(b, static_cast<uint32_t>(row * height), 4);
    appendLe(b, 2835, 4);  // 72 dpi
    appendLe(b, 2835, 4);
    appendLe(b, static_cast<uint32_t>(colours), 4);
    appendLe(b, 0, 4);
    for (int i = 0; i < colours; ++i) {  // palette B G R 0: white, black, greys
        uint8_t v = i == 0 ? 0xFF : i == 1 ? 0x00 : static_cast<uint8_t>(0x10 * i);
        b.insert(b.end(), {v, v, v, 0});
    }
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        Bytes line(static_cast<size_t>(row), 0);
        for (int x = 0; x < width; ++x) {
            const unsigned p = pixel(x, y);
            if (bpp == 24) {
                line[static_cast<size_t>(x * 3)] = static_cast<uint8_t>(p);
                line[static_cast<size_t>(x * 3 + 1)] = static_cast<uint8_t>(p >> 8);
                line[static_cast<size_t>(x * 3 + 2)] = static_cast<uint8_t>(p >> 16);
            } else {
                const int bit = x * bpp;
                line[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(p << (8 - bpp - bit % 8));
            }
        }
        b.insert(b.end(), line.begin(), line.end());
    }
    return b;
}

Bytes makeJpeg(int width, int height, size_t scanBytes) {
    Bytes b = {0xFF, 0xD8};           // start of image
    b.insert(b.end(), {0xFF, 0xE0});  // APP0, length 16: "JFIF"
    appendBe(b, 16, 2);
    b.insert(b.end(), {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    b.insert(b.end(), {0xFF, 0xC0});  // SOF0, length 11
    appendBe(b, 11, 2);
    b.push_back(8);  // precision
    appendBe(b, static_cast<unsigned>(height), 2);
    appendBe(b, static_cast<unsigned>(width), 2);
    b.insert(b.end(), {1, 1, 0x11, 0});  // one component
    b.insert(b.end(), {0xFF, 0xDA});     // SOS, length 8
    appendBe(b, 8, 2);
    b.insert(b.end(), {1, 1, 0, 0, 63, 0});
    for (size_t i = 0; i < scanBytes; ++i) {  // entropy-coded data
        if (i == scanBytes / 3) {
            b.insert(b.end(), {0xFF, 0x00});  // a stuffed 0xFF
        } else if (i == scanBytes / 2) {
            b.insert(b.end(), {0xFF, 0xD0});  // restart marker
        } else {
            b.push_back(static_cast<uint8_t>(0x20 + i % 0x50));
        }
    }
    b.insert(b.end(), {0xFF, 0xD9});  // end of image
    return b;
}

Bytes makeWave(int channels, int rate, int bits, int frames, uint8_t seed, bool extraChunk) {
    const uint32_t align = static_cast<uint32_t>(channels * bits / 8);
    const uint32_t data = align * static_cast<uint32_t>(frames);
    Bytes b;
    tag(&b, "RIFF");
    appendLe(b, 0, 4);  // patched below
    tag(&b, "WAVE");
    tag(&b, "fmt ");
    appendLe(b, 16, 4);
    appendLe(b, 1, 2);  // PCM
    appendLe(b, static_cast<unsigned>(channels), 2);
    appendLe(b, static_cast<uint32_t>(rate), 4);
    appendLe(b, static_cast<uint32_t>(rate) * align, 4);
    appendLe(b, align, 2);
    appendLe(b, static_cast<unsigned>(bits), 2);
    if (extraChunk) {
        tag(&b, "LIST");
        appendLe(b, 5, 4);
        b.insert(b.end(), {'I', 'N', 'F', 'O', 'x', 0});  // odd size: one pad byte
    }
    tag(&b, "data");
    appendLe(b, data, 4);
    for (uint32_t i = 0; i < data; ++i) b.push_back(static_cast<uint8_t>(seed + i));
    const uint32_t riff = static_cast<uint32_t>(b.size() - 8);  // RIFF size
    byteorder::putLe32(&b[4], riff);
    return b;
}

Bytes makeMpeg(int width, int height, size_t size) {
    Bytes b = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0, 0x03, 0xFF, 0xF8};  // pack header
    b.insert(b.end(), {0, 0, 1, 0xB3});                                   // sequence header
    b.push_back(static_cast<uint8_t>(width >> 4));
    b.push_back(static_cast<uint8_t>(((width & 15) << 4) | (height >> 8)));
    b.push_back(static_cast<uint8_t>(height));
    b.insert(b.end(), {0x13, 0xFF, 0xFF, 0xE0, 0x18});
    while (b.size() + 4 < size) b.push_back(0xFF);  // filler
    b.insert(b.end(), {0, 0, 1, 0xB9});             // end code
    return b;
}

Bytes waveSamples(const Bytes& wave) {
    for (size_t pos = 12; pos + 8 <= wave.size();) {
        const uint32_t size = byteorder::le32(&wave[pos + 4]);
        if (std::memcmp(&wave[pos], "data", 4) == 0 && pos + 8 + size <= wave.size())
            return Bytes(wave.begin() + static_cast<long>(pos + 8), wave.begin() + static_cast<long>(pos + 8 + size));
        pos += 8 + size + (size & 1);
    }
    return {};
}

Bytes monoRows(int width, int height, unsigned (*pixel)(int x, int y)) {
    const int row = (width + 7) / 8;
    Bytes b(static_cast<size_t>(row * height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (pixel(x, y) == 1) b[static_cast<size_t>(y * row + x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return b;
}

}  // namespace lftest
