// EPWING Huffman (V4/V5 and V6) text files: detection, the tree, page
// decoding, the uncompressed size, corrupt files, and the EB Library's
// reading of the same fixtures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/storage/CHuffmanDecoder.h"
#include "foundation/storage/CZio.h"
#include "tests/common/EbProbe.h"
#include "tests/common/LegacyEncoders.h"
#include "tests/common/LegacyFixtures.h"
#include "tests/common/TestDir.h"

using namespace lftest;

namespace {

// Every page of an opened decoder, or empty when one fails.
Bytes decodeAll(CHuffmanDecoder& dec) {
    Bytes out(static_cast<size_t>(dec.uncompressedSize()));
    for (int64_t p = 0; p < dec.pageCount(); ++p)
        if (dec.decodePage(p, &out[static_cast<size_t>(p) * 2048]) != 0) return Bytes();
    return out;
}

// The worked V4 vector: one 2-byte leaf 0x2422 (frequency 100), bytes 0x24
// (50) and 0x1F (20), every other byte 1, the end-of-page leaf 1.
Bytes vectorTable() {
    Bytes t;
    t.push_back(0x24), t.push_back(0x22), t.push_back(0x00), t.push_back(0x64);  // leaf 0x2422, freq 100
    for (int v = 0; v < 256; ++v) {
        uint16_t f = v == 0x24 ? 50 : v == 0x1F ? 20 : 1;
        t.push_back(static_cast<uint8_t>(f >> 8)), t.push_back(static_cast<uint8_t>(f));
    }
    return t;  // 516 bytes
}

std::vector<uint32_t> vectorFreqs() {
    std::vector<uint32_t> f{100};
    for (int v = 0; v < 256; ++v) f.push_back(v == 0x24 ? 50 : v == 0x1F ? 20 : 1);
    f.push_back(1);  // end of page
    return f;
}

// A one-page V4 file with the vector's table and `page` as its data.
Bytes vectorFile(const Bytes& page) {
    Bytes f(32 + 36, 0);
    put32(f, 0, 0x20);    // A: page index after the 32-byte header
    put32(f, 4, 0x24);    // B: one 36-byte record
    put32(f, 8, 0x44);    // C = A + B: frequency table
    put32(f, 12, 0x204);  // D: 4 bytes of the pair leaf + 512
    put32(f, 16, 0x248);  // E = C + D: first page byte
    put32(f, 32, 0x248);  // record: base of group 0; all 16 page offsets 0
    Bytes t = vectorTable();
    f.insert(f.end(), t.begin(), t.end());
    f.insert(f.end(), page.begin(), page.end());
    return f;
}

// Packs codes (strings of '0'/'1') into bytes, most significant bit first.
Bytes packBits(const std::string& bits) {
    Bytes out((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    return out;
}

// A book text image: index table in block 1, text in blocks 2..blocks.
Bytes textImage(uint32_t blocks, unsigned seed, bool random = false) {
    Bytes image = makeTextImage(blocks, {{0x00, 2, blocks - 1}});
    if (random)
        fillRandom(image, 2, blocks, seed);
    else
        fillTextLike(image, 2, blocks, seed);
    return image;
}

}  // namespace

TEST(LegacyHuffman, WorkedVectorCodesAndPage) {
    // The tree of the vector's table gives the codes the EB Library uses.
    std::vector<std::string> codes = huffmanCodes(vectorFreqs());
    EXPECT_EQ(codes[0], "10");  // pair 0x2422
    EXPECT_EQ(codes[1 + 0x24], "110");
    EXPECT_EQ(codes[1 + 0x1F], "0111");
    EXPECT_EQ(codes[257], "011011001");  // end of page
    EXPECT_EQ(codes[1 + 0x00], "000111101");
    EXPECT_EQ(codes[1 + 0x01], "000111000");
    EXPECT_EQ(codes[1 + 0xFE], "011011011");
    EXPECT_EQ(codes[1 + 0xFF], "011011000");

    TestDir dir;
    Bytes file = vectorFile({0xB3, 0x8F, 0x5B, 0x0D, 0x90});
    ASSERT_EQ(file.size(), 589u);
    FilePtr f = openBytes(dir, file, "HONMON2");
    ASSERT_TRUE(CHuffmanDecoder::detect(file.data(), file.size(), static_cast<int64_t>(file.size())));
    CHuffmanDecoder dec;
    ASSERT_EQ(dec.open(f.get(), static_cast<int64_t>(file.size()), CHuffmanDecoder::VERSION_4), 0);
    EXPECT_EQ(dec.uncompressedSize(), 2048);
    uint8_t page[2048];
    ASSERT_EQ(dec.decodePage(0, page), 0);
    const uint8_t want[] = {0x24, 0x22, 0x24, 0x1F, 0x00, 0xFF};
    EXPECT_EQ(0, memcmp(page, want, sizeof want));
    for (size_t i = sizeof want; i < 2048; ++i) ASSERT_EQ(page[i], 0) << i;
    EXPECT_EQ(dec.decodePage(1, page), -1);  // beyond the size
}

// The tree is rebuilt with the books' tie rules also on tables full of equal
// frequencies: a page coded with the reference tree decodes.
TEST(LegacyHuffman, TreeMatchesReferenceOnTies) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        uint32_t x = seed * 7919;
        auto next = [&x]() { return (x = x * 1103515245u + 12345u) >> 16; };
        const size_t pairs = 40;
        std::vector<uint32_t> freqs;  // table order: pairs, 256 bytes, end of page
        Bytes table;
        for (size_t i = 0; i < pairs; ++i) {
            uint32_t f = 1 + next() % 3;  // 1..3: many ties
            freqs.push_back(f);
            table.push_back(static_cast<uint8_t>(0x30 + i)), table.push_back(0x21);
            table.push_back(0), table.push_back(static_cast<uint8_t>(f));
        }
        for (int v = 0; v < 256; ++v) {
            uint32_t f = 1 + next() % 3;
            freqs.push_back(f);
            table.push_back(0), table.push_back(static_cast<uint8_t>(f));
        }
        freqs.push_back(1);
        std::vector<std::string> codes = huffmanCodes(freqs);
        // Every leaf once: each pair, then every byte value but 0.
        std::string bits;
        Bytes want;
        for (size_t i = 0; i < pairs; ++i) {
            bits += codes[i];
            want.push_back(static_cast<uint8_t>(0x30 + i)), want.push_back(0x21);
        }
        for (int v = 1; v < 256; ++v) {
            bits += codes[pairs + v];
            want.push_back(static_cast<uint8_t>(v));
        }
        bits += codes.back();
        want.resize(2048, 0);

        // Header (68 bytes), the leaf table, then the page, in one buffer of
        // its final size.
        const uint32_t d = static_cast<uint32_t>(table.size());
        Bytes page = packBits(bits);
        Bytes f(68 + d + page.size(), 0);
        put32(f, 0, 32), put32(f, 4, 36), put32(f, 8, 68), put32(f, 12, d), put32(f, 16, 68 + d);
        put32(f, 32, 68 + d);
        std::copy(table.begin(), table.end(), f.begin() + 68);
        std::copy(page.begin(), page.end(), f.begin() + 68 + d);
        TestDir dir;
        FilePtr file = openBytes(dir, f, "HONMON2");
        CHuffmanDecoder dec;
        ASSERT_EQ(dec.open(file.get(), static_cast<int64_t>(f.size()), 4), 0);
        Bytes got(2048);
        ASSERT_EQ(dec.decodePage(0, got.data()), 0);
        EXPECT_TRUE(got == want);
    }
}

// Hand-built V4 pages with the vector's codes: where a page must end.
TEST(LegacyHuffman, V4PageEnd) {
    std::vector<std::string> c = huffmanCodes(vectorFreqs());
    const std::string b24 = c[1 + 0x24], pair = c[0], eof = c[257];
    auto repeat = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i) r += s;
        return r;
    };
    struct Case {
        const char* name;
        std::string bits;
        bool ok;
        uint8_t last;  // byte 2047 when ok
    } cases[] = {
        {"full page then end code", repeat(b24, 2048) + eof, true, 0x24},
        {"pair cut at the last byte keeps its high byte", repeat(b24, 2047) + pair + eof, true, 0x24},
        {"full page without end code", repeat(b24, 2049), false, 0},
        {"input ends inside a code", repeat(b24, 10) + "0", false, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestDir dir;
        Bytes file = vectorFile(packBits(k.bits));
        FilePtr f = openBytes(dir, file, "HONMON2");
        CHuffmanDecoder dec;
        ASSERT_EQ(dec.open(f.get(), static_cast<int64_t>(file.size()), CHuffmanDecoder::VERSION_4), 0);
        uint8_t page[2048];
        memset(page, 0xAA, sizeof page);
        ASSERT_EQ(dec.decodePage(0, page), k.ok ? 0 : -1);
        if (k.ok) {
            EXPECT_EQ(page[0], 0x24);
            EXPECT_EQ(page[2046], 0x24);
            EXPECT_EQ(page[2047], k.last);
        } else {
            for (uint8_t b : page) ASSERT_EQ(b, 0);
        }
    }
}

struct RoundTrip {
    const char* name;
    int version;
    uint32_t blocks;
    bool random;  // incompressible text: V6 stores raw pages
    int64_t size;
};

class LegacyHuffmanRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(LegacyHuffmanRoundTrip, DecoderAndEbLibraryAgree) {
    const RoundTrip& k = GetParam();
    Bytes image = textImage(k.blocks, k.blocks * 7 + k.version, k.random);
    HuffmanOptions opt;
    opt.version = k.version;
    std::string why;
    Bytes file = encodeHuffman(image, opt, &why);
    ASSERT_FALSE(file.empty()) << why;
    if (k.random && k.version == 6) {  // random pages do not code below 2048 bytes: stored raw, type byte 1
        const uint32_t base = (uint32_t(file[48]) << 24) | (file[49] << 16) | (file[50] << 8) | file[51];
        int raw = 0;
        for (int p = 0; p < 16; ++p) raw += file[base + ((file[52 + 2 * p] << 8) | file[53 + 2 * p])] == 1;
        ASSERT_GE(raw, 1);
        ASSERT_EQ(file[base], 0);  // page 0, the index table, is coded
    }

    TestDir dir;
    ASSERT_TRUE(writeEpwingBook(dir.path() + "/book", file, k.version, k.version == 6 ? 0x12 : 0x11));
    std::string path = dir.path() + "/book/TEST/DATA/HONMON2";
    FilePtr f(fopen(path.c_str(), "rb"));
    ASSERT_TRUE(f);
    ASSERT_TRUE(CHuffmanDecoder::detect(file.data(), file.size(), static_cast<int64_t>(file.size())));
    CHuffmanDecoder dec;
    ASSERT_EQ(dec.open(f.get(), static_cast<int64_t>(file.size()), k.version), 0);
    EXPECT_EQ(dec.uncompressedSize(), k.size);
    Bytes ours = decodeAll(dec);
    ASSERT_TRUE(ours == image);

    {
        std::string out;
        ASSERT_TRUE(ebunzipBook(dir.path() + "/book", dir.path() + "/out", &out)) << out;
        EXPECT_TRUE(readFile(dir.path() + "/out/TEST/DATA/HONMON2.org") == ours) << "ebunzip differs";
        runCommand("ebzipinfo '" + dir.path() + "/book' 2>&1", &out);
        EXPECT_NE(out.find(std::to_string(k.size) + " -> "), std::string::npos) << out;
    }
    {
        EbProbe probe(dir.path() + "/book");
        ASSERT_TRUE(probe.ok()) << probe.error();
        Bytes eb = probe.readText(0, 2, 0, ours.size() - 2048);
        ASSERT_EQ(eb.size(), ours.size() - 2048) << probe.error();
        EXPECT_TRUE(Bytes(ours.begin() + 2048, ours.end()) == eb) << "libeb differs";
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, LegacyHuffmanRoundTrip,
                         ::testing::Values(RoundTrip{"V4_40_pages", 4, 40, false, 81920},
                                           RoundTrip{"V6_40_pages", 6, 40, false, 81920},
                                           RoundTrip{"V4_one_group_13_pages", 4, 13, false, 13 * 2048},
                                           RoundTrip{"V6_raw_pages", 6, 17, true, 17 * 2048},
                                           RoundTrip{"V4_two_whole_groups", 4, 32, false, 65536}),
                         [](const ::testing::TestParamInfo<RoundTrip>& i) { return std::string(i.param.name); });

// Headers that must not be taken for a Huffman file.
TEST(LegacyHuffman, DetectionRefusesImpossibleHeaders) {
    struct Case {
        const char* name;
        uint32_t a, b, c, d, e;
        bool ok;
    } cases[] = {
        {"well formed", 32, 36, 68, 516, 584, true},
        {"all zero", 0, 0, 0, 0, 0, false},
        {"empty page index", 32, 0, 32, 516, 548, false},
        {"index shorter than a record", 32, 35, 67, 516, 583, false},
        {"index not whole records", 32, 40, 72, 516, 588, false},
        {"A + B wraps in 32 bits", 0xFFFFFFFF, 1, 0, 516, 516, false},
        {"C + D wraps in 32 bits", 32, 36, 68, 0xFFFFFFC0, 4, false},
        {"table shorter than 256 bytes entries", 32, 36, 68, 511, 579, false},
        {"tables overlap the header words", 8, 36, 44, 516, 560, false},
        {"tables end past the file", 32, 36, 68, 4000, 4068, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Bytes h(600, 0);
        put32(h, 0, k.a), put32(h, 4, k.b), put32(h, 8, k.c), put32(h, 12, k.d), put32(h, 16, k.e);
        EXPECT_EQ(CHuffmanDecoder::detect(h.data(), h.size(), 600), k.ok);
    }
    Bytes zeros(32, 0);
    EXPECT_FALSE(CHuffmanDecoder::detect(zeros.data(), zeros.size(), 32));
    EXPECT_FALSE(CHuffmanDecoder::detect(zeros.data(), 19, 32));  // too few header bytes
}

// Files that pass detection but cannot be read: open or the page read fails,
// never reads outside the file.
TEST(LegacyHuffman, CorruptFilesFailCleanly) {
    Bytes good = encodeHuffman(textImage(20, 3), HuffmanOptions());
    ASSERT_FALSE(good.empty());
    HuffmanOptions v6;
    v6.version = 6;
    Bytes good6 = encodeHuffman(textImage(20, 3), v6);
    ASSERT_FALSE(good6.empty());
    const uint32_t base1 =
        (uint32_t(good[32 + 36]) << 24) | (good[33 + 36] << 16) | (good[34 + 36] << 8) | good[35 + 36];

    struct Case {
        const char* name;
        Bytes file;
        int version;
        bool opens;
        int64_t badPage;  // a page whose read must fail (-1: none)
    };
    std::vector<Case> cases;
    cases.push_back({"V4 table read as V6 (too small for its fixed part)", good, 6, false, -1});
    {
        Bytes f = good6;  // D = 4607: one byte short of the V6 fixed part
        put32(f, 12, 4607);
        put32(f, 16, 48 + 72 + 4607);
        cases.push_back({"V6 table of 4607 bytes", f, 6, false, -1});
    }
    {
        Bytes f = good;
        f.resize(base1 + 3);  // the second group's data cut short
        cases.push_back({"file cut inside a page", f, 4, true, 16});
    }
    {
        Bytes f = good;
        put32(f, 32 + 36, 0x7FFFFFF0);  // second group's base far past the end
        cases.push_back({"group base past the file", f, 4, true, 17});
    }
    {
        Bytes f = good;  // the frequency of byte 0xFF (the table's last entry) set to 0
        const uint32_t c = (f[8] << 24) | (f[9] << 16) | (f[10] << 8) | f[11];
        const uint32_t d = (f[12] << 24) | (f[13] << 16) | (f[14] << 8) | f[15];
        put16(f, c + d - 2, 0);
        cases.push_back({"a zero frequency", f, 4, false, -1});
    }
    {
        Bytes f = good;  // version unknown to the decoder
        cases.push_back({"version 5 passed directly", f, 5, false, -1});
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestDir dir;
        FilePtr f = openBytes(dir, k.file, "HONMON2");
        CHuffmanDecoder dec;
        int rc = dec.open(f.get(), static_cast<int64_t>(k.file.size()), k.version);
        ASSERT_EQ(rc, k.opens ? 0 : -1);
        if (!k.opens) continue;
        uint8_t page[2048];
        EXPECT_EQ(dec.decodePage(0, page), 0);
        EXPECT_EQ(dec.decodePage(k.badPage, page), -1);
        for (uint8_t b : page) ASSERT_EQ(b, 0);
    }
}

// A table that claims more leaves than the decoder will build a tree for.
TEST(LegacyHuffman, TooManyLeavesFailsOpen) {
    const uint32_t d = 512 + 4 * (CHuffmanDecoder::MAX_LEAVES + 1);
    Bytes f(32 + 36 + d + 16, 0);
    put32(f, 0, 32), put32(f, 4, 36), put32(f, 8, 68), put32(f, 12, d), put32(f, 16, 68 + d);
    put32(f, 32, 68 + d);
    TestDir dir;
    FilePtr file = openBytes(dir, f, "HONMON2");
    CHuffmanDecoder dec;
    EXPECT_EQ(dec.open(file.get(), static_cast<int64_t>(f.size()), 4), -1);
}

// The last index record ends the file at its first zero page offset, as the
// EB Library reads it, also when non-zero offsets follow.
TEST(LegacyHuffman, SizeEndsAtFirstZeroOffset) {
    Bytes file = vectorFile({0xB3, 0x8F, 0x5B, 0x0D, 0x90});
    put16(file, 32 + 4 + 2 * 1, 0);  // page 1: none
    put16(file, 32 + 4 + 2 * 2, 3);  // page 2: a stray non-zero offset
    TestDir dir;
    FilePtr f = openBytes(dir, file, "HONMON2");
    CHuffmanDecoder dec;
    ASSERT_EQ(dec.open(f.get(), static_cast<int64_t>(file.size()), 4), 0);
    EXPECT_EQ(dec.uncompressedSize(), 2048);
}

// The version for a hint: 4/5 V4, others V6; 0 (unknown) asks the catalog
// and fails when there is none rather than guess.
TEST(LegacyHuffman, VersionForHint) {
    struct Case {
        const char* name;
        unsigned hint;
        int catalogVersion;  // 0: no catalog written
        uint8_t code;
        int want;
    } cases[] = {
        {"hint 4", 4, 0, 0, 4},
        {"hint 5", 5, 0, 0, 4},
        {"hint 6", 6, 0, 0, 6},
        {"hint 3 keeps V6", 3, 0, 0, 6},
        {"hint 0, no catalog", 0, 0, 0, -1},
        {"hint 0, catalog code 0x11", 0, 4, 0x11, 4},
        {"hint 0, catalog code 0x12", 0, 6, 0x12, 6},
        {"hint 0, catalog says plain", 0, 4, 0x00, 0},
        {"hint 0, unknown code", 0, 4, 0x13, -1},
        {"hint 0, version 1 subbook has no codes", 0, 1, 0x11, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestDir dir;
        std::string book = dir.path() + "/book";
        if (k.catalogVersion)
            ASSERT_TRUE(writeEpwingBook(book, Bytes(2048, 1), k.catalogVersion, k.code));
        else
            ASSERT_EQ(runCommand("mkdir -p '" + book + "/TEST/DATA'"), 0);
        EXPECT_EQ(CZio::huffmanVersionFor(k.hint, (book + "/TEST/DATA/HONMON2").c_str()), k.want);
    }
    // A file the catalog does not name as the text file is stored plain.
    TestDir dir;
    ASSERT_TRUE(writeEpwingBook(dir.path(), Bytes(2048, 1), 4, 0x11));
    EXPECT_EQ(CZio::huffmanVersionFor(0, (dir.path() + "/TEST/DATA/HONMONG").c_str()), 0);
    EXPECT_EQ(CZio::huffmanVersionFor(0, (dir.path() + "/TEST/HONMON2").c_str()), -1);  // not in DATA
}
