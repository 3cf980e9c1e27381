// The legacy storage forms read through CZio (EPWING Huffman, S-EBXA, SSED),
// the EB Library's reading of the same fixtures, and their recompression to
// EBZip.
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/storage/CEbxaDecoder.h"
#include "foundation/storage/CZComp.h"
#include "foundation/storage/CZio.h"
#include "tests/common/EbProbe.h"
#include "tests/common/LegacyEncoders.h"
#include "tests/common/TestDir.h"

using namespace lftest;

namespace {

// Every block of an opened reader, from block 1 to its size.
Bytes readAll(CZio& zio) {
    Bytes out;
    uint8_t block[2048];
    if (zio.seekBlock(1) != 0) return out;
    while (static_cast<int64_t>(out.size()) < zio.fileSize()) {
        if (zio.readBlock(block) != 2048) return Bytes();
        out.insert(out.end(), block, block + 2048);
    }
    return out;
}

Bytes textImage(uint32_t blocks, unsigned seed) {
    Bytes image = makeTextImage(blocks, {{0x00, 2, blocks - 1}});
    fillTextLike(image, 2, blocks, seed);
    return image;
}

}  // namespace

struct HuffmanZioCase {
    const char* name;
    int version;    // of the file
    unsigned hint;  // given to open
    uint8_t code;   // catalog code of HONMON2
    bool opens;
    uint8_t mode;
};

TEST(LegacyZio, HuffmanByHintAndCatalog) {
    const HuffmanZioCase cases[] = {
        {"V4 with hint 4", 4, 4, 0x11, true, ZIO_EPWING},
        {"V4 with hint 5", 4, 5, 0x11, true, ZIO_EPWING},
        {"V6 with hint 6", 6, 6, 0x12, true, ZIO_EPWING6},
        {"V4 with hint 0: the catalog's code 0x11", 4, 0, 0x11, true, ZIO_EPWING},
        {"V6 with hint 0: the catalog's code 0x12", 6, 0, 0x12, true, ZIO_EPWING6},
        {"V4 with hint 0 and no code: not guessed as V6", 4, 0, 0x05, false, 0},
    };
    for (const HuffmanZioCase& k : cases) {
        SCOPED_TRACE(k.name);
        Bytes image = textImage(40, 11);
        HuffmanOptions opt;
        opt.version = k.version;
        Bytes file = encodeHuffman(image, opt);
        ASSERT_FALSE(file.empty());
        TestDir dir;
        ASSERT_TRUE(writeEpwingBook(dir.path(), file, k.version, k.code));
        CZio zio;
        ASSERT_EQ(zio.open((dir.path() + "/TEST/DATA/HONMON2").c_str(), k.hint), k.opens ? 0 : -1);
        if (!k.opens) continue;
        EXPECT_EQ(zio.state()->mode, k.mode);
        EXPECT_EQ(zio.fileSize(), 81920);
        EXPECT_TRUE(readAll(zio) == image);
        // Past the size: a zero block and 0.
        uint8_t block[2048];
        ASSERT_EQ(zio.seekBlock(41), 0);
        EXPECT_EQ(zio.readBlock(block), 0);
    }
}

// Files that start with zeros, or whose header sums wrap, stay plain.
TEST(LegacyZio, ZeroFilesArePlain) {
    TestDir dir;
    Bytes zeros(4096, 0);
    Bytes wrap(64, 0);
    wrap[0] = wrap[1] = wrap[2] = wrap[3] = 0xFF;  // A = 0xFFFFFFFF
    wrap[7] = 1;                                   // B = 1: A + B = 0 = C in 32 bits
    for (const Bytes* f : {&zeros, &wrap}) {
        ASSERT_TRUE(writeFile(dir.file("HONMON"), *f));
        CZio zio;
        ASSERT_EQ(zio.open(dir.file("HONMON").c_str(), 0), 0);
        EXPECT_EQ(zio.state()->mode, ZIO_PLAIN);
        EXPECT_EQ(zio.fileSize(), static_cast<int64_t>(f->size()));
    }
}

TEST(LegacyZio, EbxaStart) {
    struct Case {
        const char* name;
        uint32_t t, n, after;
    } cases[] = {
        {"odd start", 3, 15, 0},
        {"even start", 2, 10, 0},
        {"area after the text", 3, 8, 2},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<AreaRecord> areas{{0x00, k.t, k.n}};
        if (k.t > 2) areas.push_back({0x02, 2, k.t - 2});
        uint32_t total = k.t + k.n - 1 + k.after;
        if (k.after) areas.push_back({0x01, k.t + k.n, k.after});
        Bytes image = makeTextImage(total, areas, 0x01);
        fillTextLike(image, 2, total, k.t + k.n);
        Bytes file = encodeEbxa(image);
        ASSERT_FALSE(file.empty());
        TestDir dir;
        ASSERT_TRUE(writeEbBook(dir.path(), file));
        CZio zio;
        ASSERT_EQ(zio.open((dir.path() + "/TEST/START").c_str(), 0), 0);
        EXPECT_EQ(zio.state()->mode, ZIO_SEBXA);
        EXPECT_EQ(zio.fileSize(), static_cast<int64_t>(image.size()));
        Bytes got = readAll(zio);
        ASSERT_EQ(got.size(), image.size());
        CEbxaDecoder::stripIndexRecords(got.data());
        EXPECT_TRUE(got == image);
    }
}

TEST(LegacyZio, SsedBook) {
    TestDir dir;
    SsedComponent body;
    body.type = 0x00;
    body.first = 2;
    body.image.assign(20 * 2048, 0);
    fillTextLike(body.image, 1, 20, 4);
    body.fileName = "HONMON.DIC";
    ASSERT_TRUE(writeSsedBook(dir.path(), "BOOK.IDX", "Book", {body}));
    CZio zio;
    ASSERT_EQ(zio.open(dir.file("BOOK.IDX").c_str(), 0), 0);
    EXPECT_EQ(zio.state()->mode, ZIO_SSED);
    EXPECT_EQ(zio.fileSize(), 21 * 2048);
    Bytes got = readAll(zio);
    ASSERT_EQ(got.size(), 21u * 2048);
    EXPECT_EQ(got[1], 1);  // block 1: an index table of one record
    EXPECT_TRUE(Bytes(got.begin() + 2048, got.end()) == body.image);

    unlink(dir.file("HONMON.DIC").c_str());  // the body is missing: the open fails
    CZio missing;
    EXPECT_EQ(missing.open(dir.file("BOOK.IDX").c_str(), 0), -1);
}

// Huffman and S-EBXA books recompressed to EBZip expand, in the EB Library,
// to the bytes CZio reads from the originals.
TEST(LegacyZio, RecompressedBooksExpandAlike) {
    {
        Bytes image = textImage(24, 5);
        Bytes file = encodeHuffman(image, HuffmanOptions());
        TestDir dir;
        ASSERT_TRUE(writeEpwingBook(dir.path() + "/book", file, 4, 0x11));
        const std::string text = dir.path() + "/book/TEST/DATA/HONMON2";
        CZComp comp;
        ASSERT_EQ(comp.compress(text.c_str(), nullptr, 2, 4, 1, 0, 0), 0) << comp.getInfo()->errorCode;
        ASSERT_EQ(unlink(text.c_str()), 0);
        std::string out;
        ASSERT_TRUE(ebunzipBook(dir.path() + "/book", dir.path() + "/out", &out)) << out;
        EXPECT_TRUE(readFile(dir.path() + "/out/TEST/DATA/HONMON2.org") == image);
    }
    {
        Bytes image = makeTextImage(19, {{0x00, 3, 17}, {0x02, 2, 1}}, 0x01);
        fillTextLike(image, 2, 19, 8);
        Bytes file = encodeEbxa(image);
        TestDir dir;
        ASSERT_TRUE(writeEbBook(dir.path() + "/book", file));
        const std::string start = dir.path() + "/book/TEST/START";
        CZComp comp;
        ASSERT_EQ(comp.compress(start.c_str(), nullptr, 1, 0, 0, 0, 0), 0) << comp.getInfo()->errorCode;
        std::string out;
        ASSERT_TRUE(ebunzipBook(dir.path() + "/book", dir.path() + "/out", &out)) << out;
        EXPECT_TRUE(readFile(dir.path() + "/out/TEST/START") == image);
    }
}
