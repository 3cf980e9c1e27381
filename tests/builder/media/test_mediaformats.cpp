// The checks of media files before they go into a book: the form by the
// extension, the headers of BMP, JPEG, WAVE and MPEG files against the bytes
// really in the file, and the monochrome bitmap of a 1-bit BMP.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "builder/media/mediaformats.h"
#include "foundation/byteorder.h"
#include "tests/common/MediaFixtures.h"
#include "tests/common/TestDir.h"

namespace {

unsigned stripes(int x, int y) {
    return ((x + 2 * y) % 5) == 0 ? 1 : 0;
}

unsigned shades(int x, int y) {
    return static_cast<unsigned>(0x102030 * (x + 1) + y);
}

struct Checked {
    int result = -1;
    MEDIA_INFO info{};
    std::string why;
};

Checked check(const lftest::Bytes& bytes, int format) {
    lftest::TestDir dir;
    const std::string path = dir.file("media");
    lftest::writeFile(path, bytes);
    Checked c;
    FILE* f = std::fopen(path.c_str(), "rb");
    const char* why = "";
    c.result = checkMediaFile(f, bytes.size(), format, &c.info, &why);
    c.why = why;
    if (f) std::fclose(f);
    return c;
}

TEST(MediaFormats, FormByExtension) {
    const struct {
        const char* path;
        int format;
    } cases[] = {
        {"a/b.BMP", MEDIA_FORMAT_BMP},       {"x.dib", MEDIA_FORMAT_BMP},     {"p.JpEg", MEDIA_FORMAT_JPEG},
        {"p.jpg#part", MEDIA_FORMAT_JPEG},   {"s.wav", MEDIA_FORMAT_WAVE},    {"m.mpeg", MEDIA_FORMAT_MPEG},
        {"m.MPG", MEDIA_FORMAT_MPEG},        {"i.png", MEDIA_FORMAT_FOREIGN}, {"i.gif", MEDIA_FORMAT_FOREIGN},
        {"t.mid", MEDIA_FORMAT_FOREIGN},     {"v.avi", MEDIA_FORMAT_FOREIGN}, {"page.html", MEDIA_FORMAT_NONE},
        {"dir.bmp/file", MEDIA_FORMAT_NONE}, {"noext", MEDIA_FORMAT_NONE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mediaFormatOf(c.path, static_cast<int>(std::strlen(c.path))), c.format) << c.path;
}

TEST(MediaFormats, HeadersAreCheckedAgainstTheFile) {
    const lftest::Bytes bmp1 = lftest::makeBmp(13, 5, 1, stripes);
    const lftest::Bytes bmp24 = lftest::makeBmp(4, 3, 24, shades);
    const lftest::Bytes jpeg = lftest::makeJpeg(20, 10);
    const lftest::Bytes wave = lftest::makeWave(2, 44100, 16, 10);
    const lftest::Bytes mpeg = lftest::makeMpeg(352, 240);

    auto cut = [](lftest::Bytes b, size_t n) {
        b.resize(b.size() - n);
        return b;
    };
    auto set32 = [](lftest::Bytes b, size_t at, uint32_t v) {
        byteorder::putLe32(b.data() + at, v);
        return b;
    };
    auto append = [](lftest::Bytes b, lftest::Bytes tail) {
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    lftest::Bytes jpegNoFrame = jpeg;  // SOF0 (FF C0 at 20) made a comment segment
    jpegNoFrame[21] = 0xFE;
    lftest::Bytes waveBadAlign = wave;  // block align 3 for 2 x 16 bits
    waveBadAlign[32] = 3;
    const size_t dataSizeAt = wave.size() - 40 - 4;  // the "data" chunk's size field

    const struct {
        const char* what;
        lftest::Bytes bytes;
        int format;
        const char* why;  // null: accepted
    } cases[] = {
        {"1-bit BMP", bmp1, MEDIA_FORMAT_BMP, nullptr},
        {"24-bit BMP", bmp24, MEDIA_FORMAT_BMP, nullptr},
        {"top-down BMP", lftest::makeBmp(4, 3, 8, stripes, true), MEDIA_FORMAT_BMP, nullptr},
        {"BMP cut in its pixels", cut(bmp24, 1), MEDIA_FORMAT_BMP, "truncated"},
        {"BMP cut in its header", cut(bmp24, bmp24.size() - 30), MEDIA_FORMAT_BMP, "truncated"},
        {"BMP whose file size says more", set32(bmp1, 2, static_cast<uint32_t>(bmp1.size() + 1)), MEDIA_FORMAT_BMP,
         "truncated"},
        {"BMP pixels past 4 GiB", set32(bmp1, 10, 0xFFFFFFF0u), MEDIA_FORMAT_BMP, "bad BMP pixel offset"},
        {"BMP 10000 dots wide", set32(bmp1, 18, 10000), MEDIA_FORMAT_BMP, "figure larger than 9999 dots"},
        {"BMP with JPEG compression", set32(bmp24, 30, 4), MEDIA_FORMAT_BMP, "unsupported BMP compression"},
        {"a PNG named .bmp",
         {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1, 8, 2},
         MEDIA_FORMAT_BMP,
         "not a BMP file"},
        {"JPEG", jpeg, MEDIA_FORMAT_JPEG, nullptr},
        {"JPEG with bytes after its end", append(jpeg, {1, 2, 3}), MEDIA_FORMAT_JPEG, nullptr},
        {"JPEG cut before its end marker", cut(jpeg, 2), MEDIA_FORMAT_JPEG, "truncated"},
        {"JPEG cut in a segment", cut(jpeg, jpeg.size() - 30), MEDIA_FORMAT_JPEG, "truncated"},
        {"JPEG without a frame header", jpegNoFrame, MEDIA_FORMAT_JPEG, "bad JPEG frame header"},
        {"a GIF named .jpg", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, MEDIA_FORMAT_JPEG, "not a JPEG file"},
        {"WAVE", wave, MEDIA_FORMAT_WAVE, nullptr},
        {"WAVE with a chunk of odd size", lftest::makeWave(1, 22050, 8, 7, 1, true), MEDIA_FORMAT_WAVE, nullptr},
        {"WAVE cut in its samples", cut(wave, 4), MEDIA_FORMAT_WAVE, "truncated"},
        {"WAVE data size wrapping 32 bits", set32(wave, dataSizeAt, 0xFFFFFFF8u), MEDIA_FORMAT_WAVE, "truncated"},
        {"WAVE RIFF size past the file", set32(wave, 4, static_cast<uint32_t>(wave.size())), MEDIA_FORMAT_WAVE,
         "truncated"},
        {"WAVE with half a sample frame", set32(wave, dataSizeAt, 38), MEDIA_FORMAT_WAVE, "truncated"},
        {"WAVE with a wrong block align", waveBadAlign, MEDIA_FORMAT_WAVE, "bad WAVE format chunk"},
        {"WAVE without samples chunk", cut(set32(wave, 4, 28), 48), MEDIA_FORMAT_WAVE, "no WAVE data chunk"},
        {"MPEG", mpeg, MEDIA_FORMAT_MPEG, nullptr},
        {"not MPEG", lftest::Bytes(64, 0x47), MEDIA_FORMAT_MPEG, "not an MPEG file"},
        {"empty file", {}, MEDIA_FORMAT_BMP, "truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Checked r = check(c.bytes, c.format);
        if (c.why == nullptr) {
            EXPECT_EQ(r.result, 0) << r.why;
        } else {
            EXPECT_EQ(r.result, -1);
            EXPECT_EQ(r.why, c.why);
        }
    }
}

TEST(MediaFormats, WhatTheChecksFind) {
    Checked bmp = check(lftest::makeBmp(13, 5, 1, stripes, true), MEDIA_FORMAT_BMP);
    ASSERT_EQ(bmp.result, 0) << bmp.why;
    EXPECT_EQ(bmp.info.width, 13u);
    EXPECT_EQ(bmp.info.height, 5u);
    EXPECT_EQ(bmp.info.bitsPerPixel, 1);
    EXPECT_TRUE(bmp.info.topDown);
    EXPECT_EQ(bmp.info.palette[0], 0xFFFFFFu);
    EXPECT_EQ(bmp.info.palette[1], 0u);

    // A JPEG keeps its bytes up to and including its end marker.
    lftest::Bytes jpeg = lftest::makeJpeg(300, 200);
    const size_t size = jpeg.size();
    jpeg.insert(jpeg.end(), {0xFF, 0xD9, 0});
    Checked j = check(jpeg, MEDIA_FORMAT_JPEG);
    ASSERT_EQ(j.result, 0) << j.why;
    EXPECT_EQ(j.info.width, 300u);
    EXPECT_EQ(j.info.height, 200u);
    EXPECT_EQ(j.info.dataSize, size);

    const lftest::Bytes waveBytes = lftest::makeWave(2, 11025, 8, 9, 1, true);
    Checked w = check(waveBytes, MEDIA_FORMAT_WAVE);
    ASSERT_EQ(w.result, 0) << w.why;
    EXPECT_EQ(w.info.channels, 2);
    EXPECT_EQ(w.info.sampleRate, 11025u);
    EXPECT_EQ(w.info.bitsPerSample, 8);
    EXPECT_EQ(w.info.dataSize, 18u);
    EXPECT_EQ(w.info.dataOffset, waveBytes.size() - 18);
    EXPECT_EQ(w.info.fmtOffset, 20u);
    EXPECT_EQ(w.info.fmtSize, 16u);

    Checked m = check(lftest::makeMpeg(352, 240), MEDIA_FORMAT_MPEG);
    ASSERT_EQ(m.result, 0) << m.why;
    EXPECT_EQ(m.info.width, 352u);
    EXPECT_EQ(m.info.height, 240u);
}

TEST(MediaFormats, SoundFormatsTheBookCarries) {
    const struct {
        int channels, rate, bits;
        bool carried;
    } cases[] = {
        {1, 44100, 16, true}, {2, 22050, 8, true},   {1, 11025, 8, true},   {2, 48000, 16, false},
        {1, 8000, 8, false},  {1, 44100, 24, false}, {6, 44100, 16, false},
    };
    for (const auto& c : cases) {
        Checked w = check(lftest::makeWave(c.channels, c.rate, c.bits, 4), MEDIA_FORMAT_WAVE);
        ASSERT_EQ(w.result, 0) << w.why;
        EXPECT_EQ(isBookSoundFormat(w.info), c.carried) << c.channels << " " << c.rate << " " << c.bits;
    }
}

TEST(MediaFormats, MonochromeBitmapOfA1BitBmp) {
    const lftest::Bytes expected = lftest::monoRows(13, 5, stripes);
    for (bool topDown : {false, true}) {
        lftest::Bytes bmp = lftest::makeBmp(13, 5, 1, stripes, topDown);
        // Junk in the row padding and past the width is not a dot.
        const size_t pixels = bmp.size() - 4 * 5;
        for (int r = 0; r < 5; ++r) {
            bmp[pixels + 4 * r + 1] |= 0x07;
            bmp[pixels + 4 * r + 3] = 0xFF;
        }
        lftest::TestDir dir;
        lftest::writeFile(dir.file("m.bmp"), bmp);
        FILE* f = std::fopen(dir.file("m.bmp").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        MEDIA_INFO info;
        const char* why = "";
        ASSERT_EQ(checkMediaFile(f, bmp.size(), MEDIA_FORMAT_BMP, &info, &why), 0) << why;
        std::vector<uint8_t> bits;
        EXPECT_EQ(readMonoBitmap(f, info, &bits), 0);
        lftest::Bytes want = expected;
        for (int r = 0; r < 5; ++r) want[static_cast<size_t>(2 * r + 1)] &= 0xF8;
        EXPECT_EQ(bits, want) << (topDown ? "top-down" : "bottom-up");

        // A palette whose colour 0 is the dark one: dots are the zero bits.
        lftest::Bytes inverted = lftest::makeBmp(13, 5, 1, stripes, topDown);
        for (int i = 0; i < 3; ++i) {
            inverted[54 + i] = 0x00;
            inverted[58 + i] = 0xFF;
        }
        lftest::writeFile(dir.file("i.bmp"), inverted);
        FILE* g = std::fopen(dir.file("i.bmp").c_str(), "rb");
        ASSERT_EQ(checkMediaFile(g, inverted.size(), MEDIA_FORMAT_BMP, &info, &why), 0) << why;
        EXPECT_EQ(readMonoBitmap(g, info, &bits), 0);
        for (size_t i = 0; i < bits.size(); ++i) {
            const uint8_t mask = (i % 2 == 1) ? 0xF8 : 0xFF;
            EXPECT_EQ(bits[i], static_cast<uint8_t>(~expected[i] & mask)) << i;
        }
        std::fclose(g);
        std::fclose(f);
    }
}

}  // namespace
