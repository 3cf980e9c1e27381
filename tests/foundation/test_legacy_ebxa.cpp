// S-EBXA START files: detection from the index table, LZSS slices, blocks
// outside the text, corrupt tables, the removal of the 0x21/0x22 records, and
// the EB Library's reading of the same fixtures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/storage/CEbxaDecoder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/LegacyEncoders.h"
#include "tests/common/LegacyFixtures.h"
#include "tests/common/TestDir.h"

using namespace lftest;

namespace {

// Index-table record at slot i: id, start block, block count.
void record(Bytes& b, int i, uint8_t id, uint32_t start, uint32_t blocks) {
    const size_t r = 16 + 16 * static_cast<size_t>(i);
    b[r] = id;
    put32(b, r + 2, start);
    put32(b, r + 6, blocks);
}

// The whole image as our decoder reads it, block by block; empty on failure.
Bytes readImage(CEbxaDecoder& dec) {
    Bytes out(static_cast<size_t>(dec.uncompressedSize()));
    uint8_t slice[4096];
    for (int64_t b = 1; b * 2048 <= dec.uncompressedSize(); ++b) {
        int half = 0;
        int64_t j = dec.sliceOfBlock(b, &half);
        uint8_t* dst = &out[static_cast<size_t>(b - 1) * 2048];
        if (j >= 0) {
            if (dec.decodeSlice(j, slice) != 0) return Bytes();
            memcpy(dst, slice + 2048 * half, 2048);
        } else if (dec.readRawBlock(b, dst) != 0) {
            return Bytes();
        }
    }
    return out;
}

// A START image: index table, copyright at block 2 (raw), text from T for N
// blocks, optionally a menu area after the text.
Bytes startImage(uint32_t t, uint32_t n, unsigned seed, uint32_t after = 0, bool random = false) {
    std::vector<AreaRecord> areas{{0x00, t, n}, {0x02, 2, t - 2}};
    if (t == 2) areas.pop_back();
    uint32_t total = t + n - 1;
    if (after) {
        areas.push_back({0x01, total + 1, after});
        total += after;
    }
    Bytes image = makeTextImage(total, areas, 0x01);
    if (t > 2) fillTextLike(image, 2, t - 1, seed + 1);
    if (random)
        fillRandom(image, t, t + n - 1, seed);
    else
        fillTextLike(image, t, t + n - 1, seed);
    if (after) fillTextLike(image, t + n, total, seed + 2);
    return image;
}

}  // namespace

// The worked LZSS vector: literals, an overlapping copy, copies from the
// unwritten (zero) part of the ring, the slice cut at 4096 bytes.
TEST(LegacyEbxa, LzssVector) {
    Bytes f(4 * 2048, 0);
    f[1] = 3;                  // three index records
    record(f, 0, 0x00, 3, 2);  // text: blocks 3-4, one slice
    record(f, 1, 0x21, 4, 1);  // slices at physical block 4
    record(f, 2, 0x22, 3, 1);  // offset table at block 3 (empty: one slice)
    Bytes s = {0x03,           // flags: literal, literal, then six references
               0x41, 0x42,     // "A", "B"
               0xEE, 0xFF,     // p = 0xFEE: output index 0, 18 bytes (overlapping)
               0x02, 0x0F};    // p = 0x002: output index 20 = current length: 18 zeros
    for (int i = 0; i < 4; ++i) s.push_back(0x02), s.push_back(0x0F);  // more zero runs
    for (int g = 0; g < 28; ++g) {  // 28 flag bytes of 8 zero-run references, cut at 4096
        s.push_back(0x00);
        for (int i = 0; i < 8; ++i) s.push_back(0x02), s.push_back(0x0F);
    }
    std::copy(s.begin(), s.end(), f.begin() + 3 * 2048);
    TestDir dir;
    FilePtr file = openBytes(dir, f, "START");
    ASSERT_TRUE(CEbxaDecoder::detect(f.data()));
    CEbxaDecoder dec;
    ASSERT_EQ(dec.open(file.get(), static_cast<int64_t>(f.size())), 0);
    EXPECT_EQ(dec.uncompressedSize(), 4 * 2048);
    uint8_t slice[4096];
    ASSERT_EQ(dec.decodeSlice(0, slice), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(slice), 20), "ABABABABABABABABABAB");
    for (int i = 20; i < 4096; ++i) ASSERT_EQ(slice[i], 0) << i;
    // The same slice one byte short of its last reference fails.
    Bytes cut(f.begin(), f.begin() + 3 * 2048 + static_cast<long>(s.size()) - 20);
    TestDir dir2;
    FilePtr file2 = openBytes(dir2, cut, "START");
    ASSERT_EQ(dec.open(file2.get(), static_cast<int64_t>(cut.size())), 0);
    EXPECT_EQ(dec.decodeSlice(0, slice), -1);
}

struct EbxaCase {
    const char* name;
    uint32_t t, n, after;
    bool random;
    bool ebLibraryReads;  // within the EB Library's limits: odd T, slices up to 4096 bytes, nothing after the text
};

class LegacyEbxaRoundTrip : public ::testing::TestWithParam<EbxaCase> {};

TEST_P(LegacyEbxaRoundTrip, DecoderAndEbLibraryAgree) {
    const EbxaCase& k = GetParam();
    Bytes image = startImage(k.t, k.n, k.t * 31 + k.n, k.after, k.random);
    std::string why;
    Bytes file = encodeEbxa(image, EbxaOptions(), &why);
    ASSERT_FALSE(file.empty()) << why;
    TestDir dir;
    ASSERT_TRUE(writeEbBook(dir.path() + "/book", file));
    std::string path = dir.path() + "/book/TEST/START";
    FilePtr f(fopen(path.c_str(), "rb"));
    ASSERT_TRUE(CEbxaDecoder::detect(file.data()));
    CEbxaDecoder dec;
    ASSERT_EQ(dec.open(f.get(), static_cast<int64_t>(file.size())), 0);
    EXPECT_EQ(dec.uncompressedSize(),
              static_cast<int64_t>(image.size()));  // whole blocks, areas after the text included
    Bytes ours = readImage(dec);
    ASSERT_EQ(ours.size(), image.size());
    EXPECT_EQ(CEbxaDecoder::stripIndexRecords(ours.data()), 2);
    ASSERT_TRUE(ours == image);

    if (!k.ebLibraryReads) return;
    // The EB Library stops one byte short of the text's last block.
    const size_t ebSize = static_cast<size_t>(k.t + k.n - 1) * 2048 - 1;
    {
        std::string out;
        ASSERT_TRUE(ebunzipBook(dir.path() + "/book", dir.path() + "/out", &out)) << out;
        Bytes eb = readFile(dir.path() + "/out/TEST/START");
        EXPECT_TRUE(eb == Bytes(ours.begin(), ours.begin() + static_cast<long>(ebSize))) << "ebunzip differs";
    }
    {
        const size_t from = static_cast<size_t>(k.t - 1) * 2048;
        EbProbe probe(dir.path() + "/book");
        ASSERT_TRUE(probe.ok()) << probe.error();
        Bytes eb = probe.readText(0, static_cast<int>(k.t), 0, ebSize - from);
        ASSERT_EQ(eb.size(), ebSize - from) << probe.error();
        EXPECT_TRUE(Bytes(ours.begin() + static_cast<long>(from), ours.begin() + static_cast<long>(ebSize)) == eb)
            << "libeb differs";
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LegacyEbxaRoundTrip,
                         ::testing::Values(EbxaCase{"odd_start_odd_count", 3, 15, 0, false, true},
                                           EbxaCase{"odd_start_even_count", 5, 12, 0, false, true},
                                           EbxaCase{"one_block_text", 3, 1, 0, false, true},
                                           EbxaCase{"even_start", 2, 9, 0, false, false},
                                           EbxaCase{"slices_longer_than_4096", 3, 6, 0, true, false},
                                           EbxaCase{"area_after_text", 3, 20, 2, false, false}),
                         [](const ::testing::TestParamInfo<EbxaCase>& i) { return std::string(i.param.name); });

TEST(LegacyEbxa, DetectionNeedsAllThreeRecords) {
    struct Case {
        const char* name;
        std::vector<AreaRecord> records;
        bool ok;
    } cases[] = {
        {"text, slices and table", {{0x00, 3, 4}, {0x21, 4, 1}, {0x22, 3, 1}}, true},
        {"plain START: no 0x21/0x22", {{0x00, 2, 4}, {0x02, 6, 1}}, false},
        {"no slice table", {{0x00, 3, 4}, {0x21, 4, 1}}, false},
        {"no text record", {{0x01, 3, 4}, {0x21, 4, 1}, {0x22, 3, 1}}, false},
        {"slice start 0", {{0x00, 3, 4}, {0x21, 0, 1}, {0x22, 3, 1}}, false},
        {"text of 0 blocks", {{0x00, 3, 0}, {0x21, 4, 1}, {0x22, 3, 1}}, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Bytes b = makeTextImage(1, k.records);
        EXPECT_EQ(CEbxaDecoder::detect(b.data()), k.ok);
    }
    Bytes zeros(2048, 0);
    EXPECT_FALSE(CEbxaDecoder::detect(zeros.data()));
}

// Tables that do not fit their areas or the file fail the open; a slice whose
// input runs out fails its read.
TEST(LegacyEbxa, CorruptTablesFailCleanly) {
    Bytes image = startImage(3, 9, 5);
    Bytes good = encodeEbxa(image);
    ASSERT_FALSE(good.empty());
    // Records as written: 0x00, 0x02, then 0x21 at slot 2 and 0x22 at slot 3.
    struct Case {
        const char* name;
        Bytes file;
        bool opens;
    };
    std::vector<Case> cases;
    {
        Bytes f = good;
        put32(f, 16 + 16 * 3 + 6, 0);  // 0x22 area of 0 blocks: detection fails
        cases.push_back({"slice table of 0 blocks", f, false});
    }
    {
        Bytes f = good;
        record(f, 0, 0x00, 3, 2000);  // 1000 slices: the table does not fit its one block
        cases.push_back({"more slices than the table holds", f, false});
    }
    {
        Bytes f = good;
        put32(f, 2 * 2048 + 4, 0x00100000);  // slice 2 starts 1 MiB into the 0x21 area
        cases.push_back({"slice offset past its area", f, false});
    }
    {
        Bytes f = good;
        put32(f, 16 + 16 * 2 + 2, 0x00FFFFFF);  // 0x21 area far past the end of the file
        cases.push_back({"slice area past the file", f, false});
    }
    {
        // The table (block 3) holds the offsets of slices 1-4 from the 0x21
        // area (block 4); cut the file 40 bytes into slice 4.
        const uint32_t last = (good[2 * 2048 + 12] << 24) | (good[2 * 2048 + 13] << 16) | (good[2 * 2048 + 14] << 8) |
                              good[2 * 2048 + 15];
        Bytes f(good.begin(), good.begin() + 3 * 2048 + last + 40);
        cases.push_back({"file cut inside the last slice", f, true});
        Bytes g(good.begin(), good.begin() + 3 * 2048 + 40);
        cases.push_back({"file cut before the later slices", g, false});
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestDir dir;
        FilePtr f = openBytes(dir, k.file, "START");
        CEbxaDecoder dec;
        ASSERT_EQ(dec.open(f.get(), static_cast<int64_t>(k.file.size())), k.opens ? 0 : -1);
        if (!k.opens) continue;
        uint8_t slice[4096];
        EXPECT_EQ(dec.decodeSlice(0, slice), 0);
        memset(slice, 0xAA, sizeof slice);
        EXPECT_EQ(dec.decodeSlice(dec.sliceCount() - 1, slice), -1);
        for (uint8_t b : slice) ASSERT_EQ(b, 0);
        EXPECT_EQ(dec.decodeSlice(dec.sliceCount(), slice), -1);  // no such slice
    }
}

// Blocks outside the text read raw at their own offset, zero-filled past the
// physical end; nothing is read beyond the size.
TEST(LegacyEbxa, RawBlocksOutsideTheText) {
    Bytes image = startImage(3, 4, 9, 3);
    Bytes file = encodeEbxa(image);
    ASSERT_FALSE(file.empty());
    file.resize(file.size() - 1000);  // the last area's block is cut short on disk
    TestDir dir;
    FilePtr f = openBytes(dir, file, "START");
    CEbxaDecoder dec;
    ASSERT_EQ(dec.open(f.get(), static_cast<int64_t>(file.size())), 0);
    uint8_t block[2048];
    const int64_t last = dec.uncompressedSize() / 2048;
    ASSERT_EQ(last, 9);
    ASSERT_EQ(dec.readRawBlock(2, block), 0);
    EXPECT_EQ(0, memcmp(block, &image[2048], 2048));
    ASSERT_EQ(dec.readRawBlock(last, block), 0);
    EXPECT_EQ(0, memcmp(block, &image[(last - 1) * 2048], 1048));
    for (int i = 1048; i < 2048; ++i) ASSERT_EQ(block[i], 0);
    EXPECT_EQ(dec.readRawBlock(last + 1, block), -1);
    EXPECT_EQ(dec.readRawBlock(0, block), -1);
    EXPECT_EQ(dec.sliceOfBlock(2), -1);
    int half = -1;
    EXPECT_EQ(dec.sliceOfBlock(6, &half), 1);
    EXPECT_EQ(half, 1);
}

TEST(LegacyEbxa, StripIndexRecordsZeroesFreedSlots) {
    Bytes b = makeTextImage(1, {{0x00, 2, 9}, {0x21, 12, 3}, {0x02, 11, 1}, {0x22, 11, 1}, {0x01, 15, 1}});
    Bytes want = makeTextImage(1, {{0x00, 2, 9}, {0x02, 11, 1}, {0x01, 15, 1}});
    EXPECT_EQ(CEbxaDecoder::stripIndexRecords(b.data()), 2);
    EXPECT_TRUE(b == want);  // count 3, the two last slots all zero
    EXPECT_EQ(CEbxaDecoder::stripIndexRecords(b.data()), 0);
    EXPECT_TRUE(b == want);
}
