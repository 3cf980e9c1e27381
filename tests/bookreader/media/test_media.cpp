// Media and font extraction on hand-made books: raw reads, JPEG data cut
// out by its markers, "data" chunks, monochrome bitmaps and glyphs as BMP
// (decoded back into pixels), sounds as WAVE (parsed back), CD-ROM XA ADPCM
// (a signal encoded here and decoded by the reader), colour samples and
// gaiji glyphs with their cache and their limits.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "tests/bookreader/HandBook.h"
#include "tests/bookreader/MediaFiles.h"
#include "tests/common/Bytes.h"
#include "tests/common/TestDir.h"

using lftest::Bytes;
using lftest::HandBook;
using lftest::takeBuffer;

namespace {

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes filled(size_t n, uint8_t v) {
    return Bytes(n, v);
}

// A book whose area `id` covers blocks 2 .. 1 + blocks, with bytes at
// 2:offset; the body text follows it.
std::string mediaBook(const lftest::TestDir& dir, const std::string& name, uint8_t id, uint32_t blocks, uint32_t offset,
                      const Bytes& bytes) {
    HandBook b;
    b.area(id, 2, blocks);
    b.area(0x00, 2 + blocks, 1);
    b.put(2, offset, bytes);
    b.put(1 + blocks, 2047, {0});  // the file holds the whole area
    mkdir(dir.file(name).c_str(), 0755);
    return b.write(dir.file(name), "HONMON");
}

// JPEG parts: start of image, an APP0 segment whose data holds FF D9, a
// quantisation table, the start of scan, scan data with a stuffed byte and
// a restart marker, and the end of image.
const Bytes kSoi = {0xFF, 0xD8};
const Bytes kApp0 = {0xFF, 0xE0, 0x00, 0x08, 'J', 'F', 0xFF, 0xD9, 0x00, 0x01};
const Bytes kDqt = {0xFF, 0xDB, 0x00, 0x04, 0x11, 0x22};
const Bytes kSos = {0xFF, 0xDA, 0x00, 0x05, 0x01, 0x02, 0x03};
const Bytes kScan = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56};
const Bytes kEoi = {0xFF, 0xD9};

}  // namespace

TEST(MediaRead, RawBytesCrossBlockEnds) {
    lftest::TestDir dir;
    Bytes data;
    for (int i = 0; i < 3000; ++i) data.push_back(static_cast<uint8_t>(i * 7));
    CEBReader reader;
    ASSERT_EQ(reader.open(mediaBook(dir, "a", 0xD2, 3, 1000, data).c_str(), 1, 0), 1);
    Bytes out(3000);
    EXPECT_EQ(reader.readRaw(out.data(), 3000, packPosition(2, 1000)), 1);
    EXPECT_EQ(out, data);
    // An offset of 2048 or more counts in the following blocks.
    EXPECT_EQ(reader.readRaw(out.data(), 10, packPosition(1, 2048 + 1000)), 1);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), Bytes(data.begin(), data.begin() + 10));
    // Past the file: refused.
    EXPECT_EQ(reader.readRaw(out.data(), 3000, packPosition(4, 0)), 0);
}

TEST(MediaRead, ColorGraphicCutByItsMarkers) {
    const Bytes whole = concat({kSoi, kApp0, kDqt, kSos, kScan, kEoi});
    struct Case {
        const char* what;
        uint32_t offset;
        Bytes stored;
        Bytes expected;  // empty: null
    } cases[] = {
        {"segments before the scan whole, stuffed byte and restart in the scan", 100, concat({whole, {0x99, 0x98}}),
         whole},
        {"data across a block end", 2040, concat({whole, {0x99}}), whole},
        {"no end marker before the area ends", 0, concat({kSoi, kSos, kScan}), {}},
        {"segment length below 2", 0, concat({kSoi, {0xFF, 0xE1, 0x00, 0x01, 0x00}, kEoi}), {}},
        {"segment longer than the area", 0, concat({kSoi, {0xFF, 0xE1, 0xFF, 0xF0}}), {}},
        {"fill bytes before a marker", 0, concat({kSoi, {0xFF, 0xFF}, kDqt, kSos, kEoi}),
         concat({kSoi, {0xFF, 0xFF}, kDqt, kSos, kEoi})},
    };
    lftest::TestDir dir;
    int n = 0;
    for (const Case& c : cases) {
        Bytes stored = c.stored;
        // Bytes after the data that hold no marker.
        stored.resize(stored.size() + 64, 0x11);
        CEBReader reader;
        ASSERT_EQ(reader.open(mediaBook(dir, "c" + std::to_string(n++), 0xD2, 2, c.offset, stored).c_str(), 1, 0), 1);
        uint32_t size = 7;
        Bytes got = takeBuffer(reader.readColorGraphic(packPosition(2, c.offset), &size), &size);
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(size, c.expected.size()) << c.what;
    }
}

TEST(MediaRead, ColorGraphicsOfAMegabyteOrMoreAreDropped) {
    struct Case {
        size_t total;  // bytes of the picture, markers included
        bool kept;
    } cases[] = {{0x100000 - 1, true}, {0x100000, false}, {0x100000 + 1, false}};
    lftest::TestDir dir;
    int n = 0;
    for (const Case& c : cases) {
        const Bytes head = concat({kSoi, kSos});
        Bytes picture = concat({head, filled(c.total - head.size() - kEoi.size(), 0x42), kEoi});
        ASSERT_EQ(picture.size(), c.total);
        CEBReader reader;
        ASSERT_EQ(reader.open(mediaBook(dir, "big" + std::to_string(n++), 0xD2, 520, 0, picture).c_str(), 1, 0), 1);
        uint32_t size = 1;
        Bytes got = takeBuffer(reader.readColorGraphic(packPosition(2, 0), &size), &size);
        EXPECT_EQ(got.size(), c.kept ? c.total : 0u) << c.total;
        EXPECT_EQ(size, c.kept ? c.total : 0u) << c.total;
    }
}

TEST(MediaRead, ColorGraphicWithoutEndInAShortFile) {
    // The area claims 100 blocks but the file ends after 2: the failed read
    // ends the copy.
    lftest::TestDir dir;
    HandBook b;
    b.area(0x00, 2, 1);
    b.area(0xD2, 2, 100);
    b.put(2, 0, concat({kSoi, kSos, filled(3000, 0x42)}));
    CEBReader reader;
    ASSERT_EQ(reader.open(b.write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    uint32_t size = 1;
    EXPECT_EQ(reader.readColorGraphic(packPosition(2, 0), &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST(MediaRead, DataChunks) {
    const Bytes payload = {1, 2, 3, 4, 5};
    struct Case {
        const char* what;
        uint32_t offset;
        Bytes stored;
        Bytes expected;
    } cases[] = {
        {"little-endian size", 10, concat({{'d', 'a', 't', 'a', 5, 0, 0, 0}, payload}), payload},
        {"big-endian size when the little-endian one is above 0xFFFFFF", 10,
         concat({{'d', 'a', 't', 'a', 0, 0, 0, 5}, payload}), payload},
        {"header across a block end", 2044, concat({{'d', 'a', 't', 'a', 5, 0, 0, 0}, payload}), payload},
        {"JPEG data", 0, concat({kSoi, kSos, kScan, kEoi}), concat({kSoi, kSos, kScan, kEoi})},
        {"size past the area", 0, concat({{'d', 'a', 't', 'a', 0, 0, 0x10, 0}, payload}), {}},
        {"no chunk", 0, {'f', 'm', 't', ' ', 5, 0, 0, 0}, {}},
    };
    lftest::TestDir dir;
    int n = 0;
    for (const Case& c : cases) {
        CEBReader reader;
        ASSERT_EQ(reader.open(mediaBook(dir, "d" + std::to_string(n++), 0xD8, 2, c.offset, c.stored).c_str(), 1, 0), 1);
        uint32_t size = 9;
        Bytes got = takeBuffer(reader.readMediaData(packPosition(2, c.offset), &size), &size);
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(size, c.expected.size()) << c.what;
    }
}

TEST(MediaBitmap, MonochromeBitmapAsBmp) {
    // 12 dots wide, 3 rows: rows of 2 bytes, written 16 pixels wide with
    // rows of 4 bytes, bottom row first.
    const Bytes bits = {0xF0, 0x10, 0x0F, 0x20, 0xAA, 0x50};
    lftest::TestDir dir;
    CEBReader reader;
    ASSERT_EQ(reader.open(mediaBook(dir, "m", 0xD0, 1, 500, bits).c_str(), 1, 0), 1);
    uint32_t size = 0;
    Bytes bmp = takeBuffer(reader.monoBitmapToBmp(packPosition(2, 500), 12, 3, &size), &size);
    ASSERT_EQ(bmp.size(), 62u + 12u);
    lftest::DecodedBmp d = lftest::decodeBmp(bmp);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.width, 16u);
    EXPECT_EQ(d.height, 3u);
    EXPECT_EQ(d.rows, lftest::bitmapRows(bits, 12, 3));
    EXPECT_EQ(lftest::le32At(bmp, 2), bmp.size()) << "file size";
    EXPECT_EQ(lftest::le32At(bmp, 34), 12u) << "pixel data size";
    EXPECT_EQ(lftest::le32At(bmp, 46), 2u) << "colours used";
    if (std::system("convert -version 2>/dev/null | grep -q 'Version: ImageMagick'") == 0) {
        // Where ImageMagick is installed, an outside decoder reads the same pixels.
        lftest::writeFile(dir.file("m.bmp"), std::vector<unsigned char>(bmp.begin(), bmp.end()));
        std::string pbm;
        ASSERT_EQ(lftest::runCommand("convert '" + dir.file("m.bmp") + "' -compress none pbm:- 2>/dev/null", &pbm), 0);
        std::string expected = "P1\n16 3\n";
        for (const auto& row : d.rows) {
            for (size_t x = 0; x < row.size(); ++x) expected += std::string(x ? " " : "") + (row[x] ? "1" : "0");
            expected += "\n";
        }
        std::string compact, want;
        for (char c : pbm)
            if (!isspace(static_cast<unsigned char>(c))) compact += c;
        for (char c : expected)
            if (!isspace(static_cast<unsigned char>(c))) want += c;
        EXPECT_EQ(compact, want) << pbm;
    }
    struct Refused {
        const char* what;
        uint32_t width, height;
    } refused[] = {{"no width", 0, 3}, {"no height", 12, 0}, {"too wide", 100000, 1}, {"past the area", 2048, 16}};
    for (const Refused& r : refused) {
        size = 5;
        EXPECT_EQ(reader.monoBitmapToBmp(packPosition(2, 500), r.width, r.height, &size), nullptr) << r.what;
        EXPECT_EQ(size, 0u) << r.what;
    }
}

TEST(MediaBitmap, GlyphAsBmp) {
    Bytes glyph(32);
    for (int i = 0; i < 32; ++i) glyph[i] = static_cast<uint8_t>(i * 37 + 1);
    uint32_t size = 0;
    Bytes bmp = takeBuffer(CEBReader::bitmapToBmp(16, 16, glyph.data(), &size), &size);
    lftest::DecodedBmp d = lftest::decodeBmp(bmp);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.rows, lftest::bitmapRows(glyph, 16, 16));
    EXPECT_EQ(CEBReader::bitmapToBmp(0, 16, glyph.data(), &size), nullptr);
    EXPECT_EQ(CEBReader::bitmapToBmp(16, 16, nullptr, &size), nullptr);
}

TEST(MediaSound, WaveFromBookData) {
    Bytes pcm;
    for (int i = 0; i < 100; ++i) pcm.push_back(static_cast<uint8_t>(i * 3));
    // Sound data that carries its own "fmt " and "data" chunks.
    Bytes chunks = {'f', 'm', 't', ' ', 16, 0, 0,   0,   1,   0,   1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58,
                    1,   0,   2,   0,   16, 0, 'd', 'a', 't', 'a', 4, 0, 0,    0,    9, 8, 7,    6};
    lftest::TestDir dir;
    CEBReader reader;
    ASSERT_EQ(reader.open(mediaBook(dir, "w", 0xD8, 2, 2000, concat({pcm, chunks})).c_str(), 1, 0), 1);
    struct Case {
        const char* what;
        int channelsMinusOne, eightBit, rateCode;
        uint32_t channels, rate, bits, byteRate, align;
    } cases[] = {
        {"stereo 16-bit 22050 Hz", 1, 0, 1, 2, 22050, 16, 88200, 4},
        {"mono 8-bit 11025 Hz", 0, 1, 2, 1, 11025, 8, 11025, 1},
        {"mono 16-bit 44100 Hz", 0, 0, 0, 1, 44100, 16, 88200, 2},
        {"unknown rate code", 0, 0, 7, 1, 0, 16, 0, 2},
    };
    const uint64_t start = packPosition(2, 2000), end = packPosition(2, 2099);
    for (const Case& c : cases) {
        uint32_t size = 0;
        Bytes wav =
            takeBuffer(reader.extractWave(start, end, 1, c.channelsMinusOne, c.eightBit, c.rateCode, &size), &size);
        lftest::ParsedWave w = lftest::parseWave(wav);
        ASSERT_TRUE(w.ok) << c.what << ": " << w.error;
        EXPECT_EQ(wav.size(), 44u + 100u) << c.what;
        EXPECT_EQ(w.riffSize, 136u) << c.what;
        EXPECT_EQ(w.format, 1u) << c.what;
        EXPECT_EQ(w.channels, c.channels) << c.what;
        EXPECT_EQ(w.rate, c.rate) << c.what;
        EXPECT_EQ(w.bits, c.bits) << c.what;
        EXPECT_EQ(w.byteRate, c.byteRate) << c.what;
        EXPECT_EQ(w.blockAlign, c.align) << c.what;
        EXPECT_EQ(w.data, pcm) << c.what;
    }
    // Without the header flag the book's own chunks follow "RIFF" and "WAVE".
    uint32_t size = 0;
    Bytes own = takeBuffer(
        reader.extractWave(packPosition(2, 2100), packPosition(2, 2100 + chunks.size() - 1), 0, 0, 0, 0, &size), &size);
    ASSERT_EQ(own.size(), 12u + chunks.size());
    EXPECT_EQ(lftest::le32At(own, 4), chunks.size() + 4);
    lftest::ParsedWave w = lftest::parseWave(own);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.rate, 44100u);
    EXPECT_EQ(w.data, (Bytes{9, 8, 7, 6}));
    // An end before the start, or data past the area, gives nothing.
    EXPECT_EQ(reader.extractWave(end, start, 1, 0, 0, 0), nullptr);
    EXPECT_EQ(reader.extractWave(start, packPosition(4, 0), 1, 0, 0, 0), nullptr);
    EXPECT_EQ(reader.extractWave(start, packPosition(0xFFFFFFFF, 0), 1, 0, 0, 0), nullptr);
}

TEST(MediaSound, WaveFileMapNamesAFileInTheBookFolder) {
    lftest::TestDir dir;
    HandBook b;
    b.area(0x00, 2, 1);
    b.area(0xD8, 2, 1);
    b.put(2, 0, filled(2048, 0x55));
    std::string idx = b.write(dir.path(), "DATA.IDX");
    mkdir(dir.file("Sounds").c_str(), 0755);
    // Block 2 maps to file "00000007"; a name-keyed line tries to leave the folder.
    lftest::writeFile(dir.file("Sounds/WaveFile.map"), std::string("2:10\t7\n../x/abc\t3\n"));
    lftest::writeFile(dir.file("00000007"), std::string("RIFF-from-the-map"));
    lftest::writeFile(dir.file("x/abc"), std::string("outside"));
    CEBReader reader;
    ASSERT_EQ(reader.open(idx.c_str(), 1, 0), 1);
    ASSERT_EQ(reader.waveMapCount(), 2);
    uint32_t size = 0;
    Bytes got = takeBuffer(reader.extractWave(packPosition(2, 0x10), packPosition(2, 0x30), 1, 0, 0, 0, &size), &size);
    EXPECT_EQ(std::string(got.begin(), got.end()), "RIFF-from-the-map");
    // The name-keyed entry (block 0) names no file outside the folder.
    Bytes none = takeBuffer(reader.extractWave(packPosition(0, 0), packPosition(0, 10), 1, 0, 0, 0, &size), &size);
    EXPECT_NE(std::string(none.begin(), none.end()), "outside");
}

namespace {

// The published XA ADPCM decoding of one sample, written out here on its
// own: the nibble shifted by 12 - range plus the filtered last two samples.
int xaPredict(int nibble, int range, int filter, int p1, int p2) {
    static const int k0[4] = {0, 240, 460, 392}, k1[4] = {0, 0, -208, -220};
    int v = nibble * (1 << (12 - range)) + (p1 * k0[filter] + p2 * k1[filter]) / 256;
    return v < -32768 ? -32768 : v > 32767 ? 32767 : v;
}

// Encodes samples (224 per group, 18 groups per sector) into XA sound
// groups: per unit the filter and range with the least error. Fills decoded
// with what a decoder must give back.
Bytes encodeXaSector(const std::vector<int>& samples, size_t from, int* p1, int* p2, std::vector<int>* decoded) {
    Bytes sector;
    for (int g = 0; g < 18; ++g) {
        Bytes group(128, 0);
        for (int u = 0; u < 8; ++u) {
            long bestError = -1;
            int bestRange = 0, bestFilter = 0;
            std::vector<int> bestNibbles, bestOut;
            for (int filter = 0; filter < 4; ++filter)
                for (int range = 0; range <= 12; ++range) {
                    int a = *p1, b = *p2;
                    long error = 0;
                    std::vector<int> nibbles, out;
                    for (int i = 0; i < 28; ++i) {
                        int target = samples[from + static_cast<size_t>(g * 224 + u * 28 + i)];
                        int predicted = xaPredict(0, range, filter, a, b);
                        double step = std::ldexp(1.0, 12 - range);
                        int nibble = static_cast<int>(std::lround((target - predicted) / step));
                        nibble = nibble < -8 ? -8 : nibble > 7 ? 7 : nibble;
                        int v = xaPredict(nibble, range, filter, a, b);
                        error += std::labs(static_cast<long>(v) - target);
                        b = a;
                        a = v;
                        nibbles.push_back(nibble);
                        out.push_back(v);
                    }
                    if (bestError < 0 || error < bestError) {
                        bestError = error;
                        bestRange = range;
                        bestFilter = filter;
                        bestNibbles = nibbles;
                        bestOut = out;
                    }
                }
            group[4 + u] = static_cast<uint8_t>(bestFilter << 4 | bestRange);
            for (int i = 0; i < 28; ++i) {
                uint8_t nibble = static_cast<uint8_t>(bestNibbles[i] & 0x0F);
                group[16 + 4 * i + u / 2] |= (u & 1) ? static_cast<uint8_t>(nibble << 4) : nibble;
            }
            *p2 = bestOut[26];
            *p1 = bestOut[27];
            decoded->insert(decoded->end(), bestOut.begin(), bestOut.end());
        }
        sector.insert(sector.end(), group.begin(), group.end());
    }
    return sector;
}

}  // namespace

TEST(MediaSound, XaAdpcmDecodesAKnownSignal) {
    // Two sectors (0 and 16) of a 440 Hz tone at 18900 Hz.
    std::vector<int> signal;
    for (int i = 0; i < 2 * 4032; ++i)
        signal.push_back(static_cast<int>(9000 * std::sin(2 * M_PI * 440 * i / 18900.0)));
    std::vector<int> decoded;
    int p1 = 0, p2 = 0;
    Bytes file(16 * 2352 + 68 + 18 * 128 + 100, 0);
    for (int s = 0; s < 2; ++s) {
        Bytes sector = encodeXaSector(signal, static_cast<size_t>(s) * 4032, &p1, &p2, &decoded);
        std::copy(sector.begin(), sector.end(), file.begin() + s * 16 * 2352 + 68);
    }
    lftest::TestDir dir;
    lftest::writeFile(dir.file("SOUND.DAT"), std::vector<unsigned char>(file.begin(), file.end()));
    CEBReader reader;
    ASSERT_EQ(reader.openSingleFile(dir.file("SOUND.DAT").c_str()), 1);
    EXPECT_EQ(reader.xaSampleRate(), 18900);
    uint32_t size = 0;
    Bytes wav = takeBuffer(reader.extractXaSound(0, 16, &size), &size);
    lftest::ParsedWave w = lftest::parseWave(wav);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.channels, 1u);
    EXPECT_EQ(w.bits, 16u);
    EXPECT_EQ(w.rate, 18900u);
    ASSERT_EQ(w.data.size(), 2u * 8064u);
    int worst = 0;
    for (size_t i = 0; i < decoded.size(); ++i) {
        int got = static_cast<int16_t>(lftest::le16At(w.data, 2 * i));
        ASSERT_EQ(got, decoded[i]) << "sample " << i;
        worst = std::max(worst, std::abs(got - signal[i]));
    }
    // The decoded tone is the tone.
    EXPECT_LT(worst, 900);
    // Another rate, and a last sector beyond the file.
    reader.setXaSampleRate(37800);
    wav = takeBuffer(reader.extractXaSound(0, 0, &size), &size);
    EXPECT_EQ(lftest::parseWave(wav).rate, 37800u);
    EXPECT_EQ(wav.size(), 44u + 8064u);
    EXPECT_EQ(reader.extractXaSound(0, 32, &size), nullptr);
    EXPECT_EQ(reader.extractXaSound(16, 0, &size), nullptr);
}

TEST(MediaSound, XaParametersOutOfRangeStayBounded) {
    // Range 15 and filter nibble 0xF on every unit, all nibbles -8: the
    // shift stays at 0 and the filter at the format's two bits.
    Bytes file(68 + 18 * 128, 0x88);
    for (int g = 0; g < 18; ++g)
        for (int u = 0; u < 8; ++u) file[68 + g * 128 + 4 + u] = 0xFF;
    lftest::TestDir dir;
    lftest::writeFile(dir.file("XA.DAT"), std::vector<unsigned char>(file.begin(), file.end()));
    CEBReader reader;
    ASSERT_EQ(reader.openSingleFile(dir.file("XA.DAT").c_str()), 1);
    uint32_t size = 0;
    lftest::ParsedWave w = lftest::parseWave(takeBuffer(reader.extractXaSound(0, 0, &size), &size));
    ASSERT_TRUE(w.ok) << w.error;
    int p1 = 0, p2 = 0;
    for (int i = 0; i < 40; ++i) {
        int expected = xaPredict(-8, 12, 3, p1, p2);
        p2 = p1;
        p1 = expected;
        EXPECT_EQ(static_cast<int16_t>(lftest::le16At(w.data, 2 * static_cast<size_t>(i))), expected) << i;
    }
}

TEST(MediaColorSample, NameAndTitle) {
    lftest::TestDir dir;
    HandBook b;
    b.area(0x00, 2, 1);
    b.area(0xE0, 3, 2);
    // Item 2: "RED 01!" in EBCDIC (the "!" is no listed character), the
    // title 赤 (JIS 0x4056).
    b.put(4, 0, {0xD9, 0xC5, 0xC4, 0x40, 0xF0, 0xF1, 0x5A, 0x00});
    b.put(4, 20, {0x40, 0x56, 0x00, 0x00});
    b.put(4, 2047, {0});
    CEBReader reader;
    ASSERT_EQ(reader.open(b.write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    char name[20], title[16];
    ASSERT_EQ(reader.readColorSample(2, name, title, sizeof title), 1);
    EXPECT_STREQ(name, "RED 01.");
    EXPECT_STREQ(title, "\x90\xD4");
    // A title buffer of 2 bytes holds no whole character.
    ASSERT_EQ(reader.readColorSample(2, name, title, 2), 1);
    EXPECT_STREQ(title, "");
    EXPECT_EQ(reader.readColorSample(0, name, title, sizeof title), 0);
    EXPECT_EQ(reader.readColorSample(3, name, title, sizeof title), 0);
}

namespace {

// A gaiji font file: header in block 1 (width, height, first code, count),
// glyphs from block 2, each glyph's bytes all equal to its number + 1.
std::string fontFile(const lftest::TestDir& dir, const std::string& name, uint8_t width, uint8_t height, uint16_t first,
                     uint16_t count, size_t glyphBytes, const std::vector<std::pair<int, int>>& places) {
    Bytes file(2048 * 8, 0);
    file[8] = width;
    file[9] = height;
    file[10] = static_cast<uint8_t>(first >> 8);
    file[11] = static_cast<uint8_t>(first);
    file[12] = static_cast<uint8_t>(count >> 8);
    file[13] = static_cast<uint8_t>(count);
    int n = 0;
    for (const auto& place : places) {
        size_t at = static_cast<size_t>(place.first - 1) * 2048 + static_cast<size_t>(place.second);
        std::fill(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + glyphBytes),
                  static_cast<uint8_t>(++n));
    }
    lftest::writeFile(dir.file(name), std::vector<unsigned char>(file.begin(), file.end()));
    return dir.file(name);
}

}  // namespace

TEST(MediaGlyph, PlacesInHalfBlocks) {
    struct Case {
        const char* what;
        uint8_t width, height;
        size_t bytes;
        std::vector<std::pair<int, int>> places;  // block, offset of glyphs 1, 2, ...
    } cases[] = {
        {"8x16: 64 a half block", 8, 16, 16, {{2, 0}, {2, 16}, {2, 32}}},
        {"48x48: three a half block",
         48,
         48,
         288,
         {{2, 0}, {2, 288}, {2, 576}, {2, 1024}, {2, 1312}, {2, 1600}, {3, 0}}},
        {"12x24 read as 16x24", 12, 24, 48, {{2, 0}, {2, 48}}},
        {"32x30: 120 bytes", 32, 30, 120, {{2, 0}, {2, 120}, {2, 240}}},
    };
    lftest::TestDir dir;
    int n = 0;
    for (const Case& c : cases) {
        std::string path = fontFile(dir, "F" + std::to_string(n++), c.width, c.height, 0xA17D,
                                    static_cast<uint16_t>(c.places.size()), c.bytes, c.places);
        CEBReader reader;
        ASSERT_EQ(reader.openSingleFile(path.c_str()), 1) << c.what;
        for (size_t i = 0; i < c.places.size(); ++i) {
            // Codes A17D, A17E, A221, ...: the row changes after 0x7E.
            unsigned code = i < 2 ? 0xA17D + static_cast<unsigned>(i) : 0xA221 + static_cast<unsigned>(i - 2);
            uint8_t glyph[288];
            uint32_t w = 0, h = 0;
            ASSERT_EQ(reader.readGaijiBitmap(c.width, c.height, code, &w, &h, glyph, sizeof glyph), 1)
                << c.what << " code " << std::hex << code;
            EXPECT_EQ(w, c.width == 12 ? 16u : c.width) << c.what;
            EXPECT_EQ(h, c.height) << c.what;
            EXPECT_EQ(Bytes(glyph, glyph + c.bytes), filled(c.bytes, static_cast<uint8_t>(i + 1)))
                << c.what << " glyph " << i;
        }
    }
}

TEST(MediaGlyph, Refusals) {
    lftest::TestDir dir;
    std::string font = fontFile(dir, "N", 8, 16, 0xA121, 3, 16, {{2, 0}, {2, 16}, {2, 32}});
    CEBReader reader;
    ASSERT_EQ(reader.openSingleFile(font.c_str()), 1);
    struct Case {
        const char* what;
        uint32_t width, height, code;
        size_t buffer;
    } cases[] = {
        {"asked width below 8", 4, 16, 0xA121, 64}, {"asked height above 48", 8, 60, 0xA121, 64},
        {"code past the last", 8, 16, 0xA124, 64},  {"code before the first", 8, 16, 0xA07E, 64},
        {"low byte 0x20", 8, 16, 0xA120, 64},       {"low byte 0x7F", 8, 16, 0xA17F, 64},
        {"code above 16 bits", 8, 16, 0x1A121, 64}, {"buffer smaller than the glyph", 8, 16, 0xA121, 15},
    };
    for (const Case& c : cases) {
        uint8_t glyph[64];
        uint32_t w = 9, h = 9;
        EXPECT_EQ(reader.readGaijiBitmap(c.width, c.height, c.code, &w, &h, glyph, c.buffer), 0) << c.what;
        EXPECT_EQ(w, 0u) << c.what;
        EXPECT_EQ(h, 0u) << c.what;
    }
    // Font headers whose sizes would divide by zero or overrun a buffer.
    struct Header {
        const char* what;
        uint8_t width, height;
    } headers[] = {{"no width", 0, 16}, {"255 by 255", 255, 255}, {"200 high", 8, 200}, {"odd width", 9, 16}};
    int n = 0;
    for (const Header& hd : headers) {
        std::string bad = fontFile(dir, "B" + std::to_string(n++), hd.width, hd.height, 0xA121, 3, 16, {{2, 0}});
        CEBReader r;
        ASSERT_EQ(r.openSingleFile(bad.c_str()), 1) << hd.what;
        uint8_t glyph[8192];
        uint32_t w = 0, h = 0;
        EXPECT_EQ(r.readGaijiBitmap(16, 16, 0xA121, &w, &h, glyph, sizeof glyph), 0) << hd.what;
    }
}

TEST(MediaGlyph, SixteenDotGlyphsAreCachedForTheOpenFileOnly) {
    // The cache is seen by changing the file under the open reader: 16-dot
    // glyphs come from the cache, 24-dot ones from the file. Closing,
    // reopening or opening another file drops the cached glyphs.
    lftest::TestDir dir;
    for (uint8_t height : {16, 24}) {
        const uint8_t width = height == 16 ? 16 : 12;
        const size_t bytes = height == 16 ? 32 : 48;
        const std::string name = "C" + std::to_string(height);
        const std::string path = fontFile(dir, name, width, height, 0xB121, 1, bytes, {{2, 0}});
        const std::string other = fontFile(dir, name + "o", width, height, 0xB121, 1, bytes, {{2, 0}, {2, 0}, {2, 0}});
        struct Step {
            const char* what;
            std::function<int(CEBReader&)> run;
            uint8_t expected;  // the glyph's bytes after the step
        } steps[] = {
            // (The reader's one-block cache moved off the glyph's block.)
            {"file changed under the open reader", [](CEBReader& r) { return r.seekBlock(3); },
             uint8_t(height == 16 ? 1 : 2)},
            {"reopened", [](CEBReader& r) { return r.reopen(); }, 2},
            {"another file", [&](CEBReader& r) { return r.openSingleFile(other.c_str()); }, 3},
            {"closed and opened", [&](CEBReader& r) { return r.close() && r.openSingleFile(path.c_str()); }, 2},
        };
        CEBReader reader;
        ASSERT_EQ(reader.openSingleFile(path.c_str()), 1);
        uint8_t glyph[64];
        uint32_t w, h;
        ASSERT_EQ(reader.readGaijiBitmap(width, height, 0xB121, &w, &h, glyph, sizeof glyph), 1);
        EXPECT_EQ(glyph[0], 1);
        fontFile(dir, name, width, height, 0xB121, 1, bytes, {{2, 0}, {2, 0}});  // now all 2
        for (const Step& step : steps) {
            ASSERT_EQ(step.run(reader), 1) << step.what;
            ASSERT_EQ(reader.readGaijiBitmap(width, height, 0xB121, &w, &h, glyph, sizeof glyph), 1) << step.what;
            EXPECT_EQ(glyph[0], step.expected) << step.what << ", height " << int(height);
        }
    }
}

TEST(MediaGlyph, EbBookFontSlotsByShape) {
    lftest::TestDir dir;
    HandBook b;
    b.area(0x00, 2, 1);
    b.area(0xF2, 3, 2);  // narrow 8x16 from A121
    b.area(0xF1, 5, 2);  // wide 16x16 from B121
    b.put(3, 8, {8, 16, 0xA1, 0x21, 0x00, 0x01});
    b.put(4, 0, filled(16, 0x81));
    b.put(5, 8, {16, 16, 0xB1, 0x21, 0x00, 0x01});
    b.put(6, 0, filled(32, 0x7E));
    b.put(6, 2047, {0});
    CEBReader reader;
    ASSERT_EQ(reader.open(b.write(dir.path(), "START").c_str(), 1, 0), 1);
    uint8_t glyph[64];
    uint32_t w, h;
    ASSERT_EQ(reader.readGaijiBitmap(8, 16, 0xA121, &w, &h, glyph, sizeof glyph), 1);
    EXPECT_EQ(Bytes(glyph, glyph + 16), filled(16, 0x81));
    ASSERT_EQ(reader.readGaijiBitmap(16, 16, 0xB121, &w, &h, glyph, sizeof glyph), 1);
    EXPECT_EQ(Bytes(glyph, glyph + 32), filled(32, 0x7E));
    EXPECT_EQ(reader.readGaijiBitmap(16, 16, 0xA121, &w, &h, glyph, sizeof glyph), 0) << "not a wide code";
    uint16_t count = 0, first = 0, last = 0;
    uint32_t fw = 0, fh = 0;
    ASSERT_EQ(reader.fontInfo(1, &fw, &fh, &count, &first, &last), 1);
    EXPECT_EQ(fw, 16u);
    EXPECT_EQ(first, 0xB121);
    EXPECT_EQ(last, 0xB121);
    EXPECT_EQ(reader.fontInfo(2, &fw, &fh, &count, &first, &last), 0);
    // Font slots are set only on EPWING books.
    EXPECT_EQ(reader.setFontInfo(16, 16, 5, 0xB121, 0xB125), 0);
}

TEST(MediaGlyph, EpwingFontSlotsBySetting) {
    lftest::TestDir dir;
    CEBReader reader;
    ASSERT_EQ(reader.open(mediaBook(dir, "e", 0xD2, 1, 0, {1}).c_str(), 1, 0), 1);
    EXPECT_EQ(reader.setFontInfo(24, 48, 10, 0xA121, 0xA12A), 1);  // narrow by shape
    EXPECT_EQ(reader.setFontInfo(32, 30, 4, 0xB121, 0xB124), 1);   // wide by shape
    uint16_t count = 0, first = 0, last = 0;
    reader.fontInfoByShape(16, 30, &count, &first, &last);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(first, 0xA121);
    reader.fontInfoByShape(48, 48, &count, &first, &last);
    EXPECT_EQ(last, 0xB124);
}

TEST(MediaSound, XaSectorsPastABookTextFile) {
    // A book text file has no file size of its own to check against: the
    // last sector's block must be there before anything is allocated.
    lftest::TestDir dir;
    CEBReader reader;
    ASSERT_EQ(reader.open(mediaBook(dir, "x", 0xD8, 1, 0, {1}).c_str(), 1, 0), 1);
    uint32_t size = 5;
    EXPECT_EQ(reader.extractXaSound(0, 16 * 30000, &size), nullptr);
    EXPECT_EQ(size, 0u);
}
