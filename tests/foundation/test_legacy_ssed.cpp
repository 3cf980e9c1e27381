// SSED books: the SSEDINFO catalog, SSEDDATA component files and their
// chunks, the composed image (synthesised block 1, gaps), and corrupt files.
// No independent SSED reader is available here: the checks are our own
// encoder against our decoder, plus the hand-made vector below.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/storage/CSsedDecoder.h"
#include "tests/common/FifoOpen.h"
#include "tests/common/LegacyEncoders.h"
#include "tests/common/LegacyFixtures.h"
#include "tests/common/TestDir.h"

using namespace lftest;

namespace {

Bytes blocksOf(uint32_t n, unsigned seed) {
    Bytes b(static_cast<size_t>(n) * 2048, 0);
    fillTextLike(b, 1, n, seed);
    return b;
}

SsedComponent component(uint8_t type, uint32_t first, Bytes image, const char* name) {
    SsedComponent c;
    c.type = type;
    c.first = first;
    c.image = std::move(image);
    c.fileName = name;
    c.info[0] = 2;
    c.info[1] = type;
    return c;
}

// Opens <dir>/BOOK.IDX with the decoder. 0 or -1.
int openBook(const TestDir& dir, CSsedDecoder& dec) {
    FilePtr idx(fopen(dir.file("BOOK.IDX").c_str(), "rb"));
    if (!idx) return -1;
    fseek(idx.get(), 0, SEEK_END);
    long size = ftell(idx.get());
    return dec.open(idx.get(), size, dir.path().c_str());
}

// Block `block` of the image through the decoder; false on failure.
bool readBlock(CSsedDecoder& dec, int64_t block, uint8_t* out) {
    int64_t base = dec.chunkOfBlock(block);
    if (base == 0) return dec.readLooseBlock(block, out) == 0;
    static uint8_t chunk[32768];
    if (dec.decodeChunk(base, chunk) != 0) return false;
    memcpy(out, chunk + (block - base) * 2048, 2048);
    return true;
}

// A body of 27 blocks at 2-28 (two chunks, the second short), a gap at
// block 29, a copyright area at 30-31, a loose gaiji font record.
std::vector<SsedComponent> sampleBook() {
    std::vector<SsedComponent> parts;
    parts.push_back(component(0x00, 2, blocksOf(27, 1), "HONMON.DIC"));
    parts.push_back(component(0x02, 30, blocksOf(2, 2), "COPY.DIC"));
    SsedComponent font;
    font.type = 0xF1;
    font.fileName = "GAI16F00";
    parts.push_back(font);
    return parts;
}

}  // namespace

// One block of "AB" x 1024 at block 2: 463 bytes, as the format's reader
// expects them.
TEST(LegacySsed, ChunkVector) {
    Bytes data = encodeSsedData(component(0x00, 2, Bytes(), "X"));  // header layout only
    SsedComponent c = component(0x00, 2, Bytes(2048), "HONMON.DIC");
    for (size_t i = 0; i < 2048; ++i) c.image[i] = i % 2 ? 'B' : 'A';
    data = encodeSsedData(c);
    ASSERT_EQ(data.size(), 463u);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 8), "SSEDDATA");
    EXPECT_EQ(data[0x17], 1);                   // chunk count 1
    EXPECT_EQ(data[0x1B], 2);                   // first block 2
    EXPECT_EQ(data[0x1F], 2);                   // last block 2
    EXPECT_EQ(data[0x43], 0x44);                // the chunk at 0x44
    const uint8_t head[] = {0x00, 0x00,         // unknown word
                            0x00, 0x82,         // 130 commands
                            0x00,               // fill byte
                            0x00, 0x00, 0x41,   // no copy, literal 'A'
                            0x00, 0x00, 0x42,   // no copy, literal 'B'
                            0xFE, 0xEF, 0x42};  // w = 0xFEE (2 back), 15 bytes, then 'B'
    EXPECT_EQ(0, memcmp(&data[0x44], head, sizeof head));
    const uint8_t tail[] = {0xFE, 0xED, 0x42};  // last: 13 bytes, 'B' ends the block
    EXPECT_EQ(0, memcmp(&data[460], tail, sizeof tail));

    TestDir dir;
    ASSERT_TRUE(writeSsedBook(dir.path(), "BOOK.IDX", "AB", {c}));
    CSsedDecoder dec;
    ASSERT_EQ(openBook(dir, dec), 0);
    EXPECT_EQ(dec.uncompressedSize(), 2 * 2048);
    uint8_t block[2048];
    ASSERT_TRUE(readBlock(dec, 2, block));
    EXPECT_EQ(0, memcmp(block, c.image.data(), 2048));
}

TEST(LegacySsed, ComposedImage) {
    TestDir dir;
    std::vector<SsedComponent> parts = sampleBook();
    parts[0].fileName = "honmon.dic";  // the file on disk, in lower case
    ASSERT_TRUE(writeSsedBook(dir.path(), "BOOK.IDX", "Sample", parts));
    parts[0].fileName = "HONMON.DIC";  // the catalog names it in upper case
    ASSERT_TRUE(writeFile(dir.file("BOOK.IDX"), encodeSsedInfo("Sample", parts)));

    CSsedDecoder dec;
    ASSERT_EQ(openBook(dir, dec), 0);
    EXPECT_EQ(dec.componentCount(), 2);
    EXPECT_EQ(dec.uncompressedSize(), 31 * 2048);
    EXPECT_EQ(dec.chunkOfBlock(17), 2);
    EXPECT_EQ(dec.chunkOfBlock(18), 18);
    EXPECT_EQ(dec.chunkOfBlock(29), 0);

    uint8_t block[2048];
    ASSERT_TRUE(readBlock(dec, 1, block));
    const uint8_t index[] = {0x00, 0x02, 0x02, 0, 0, 0,  0, 0, 0, 0,  0, 0,    0, 0, 0, 0,   // 2 records, JIS text
                             0x00, 0,    0,    0, 0, 2,  0, 0, 0, 27, 2, 0x00, 0, 0, 0, 0,   // body: 2, 27 blocks
                             0x02, 0,    0,    0, 0, 30, 0, 0, 0, 2,  2, 0x02, 0, 0, 0, 0};  // copyright: 30, 2 blocks
    EXPECT_EQ(0, memcmp(block, index, sizeof index));
    for (size_t i = sizeof index; i < 2048; ++i) ASSERT_EQ(block[i], 0);
    for (int64_t b = 2; b <= 28; ++b) {
        ASSERT_TRUE(readBlock(dec, b, block)) << b;
        ASSERT_EQ(0, memcmp(block, &parts[0].image[(b - 2) * 2048], 2048)) << b;
    }
    ASSERT_TRUE(readBlock(dec, 29, block));  // gap
    for (uint8_t v : block) ASSERT_EQ(v, 0);
    for (int64_t b = 30; b <= 31; ++b) {
        ASSERT_TRUE(readBlock(dec, b, block));
        ASSERT_EQ(0, memcmp(block, &parts[1].image[(b - 30) * 2048], 2048)) << b;
    }
    EXPECT_EQ(dec.readLooseBlock(32, block), -1);  // beyond the size
    static uint8_t chunk[32768];
    EXPECT_EQ(dec.decodeChunk(3, chunk), -1);  // not a chunk's first block
}

// Catalogs and component files that must fail the open.
TEST(LegacySsed, BadBooksFailOpen) {
    struct Case {
        const char* name;
        const char* bodyName;  // the body's name in the catalog
        void (*spoil)(Bytes& idx, Bytes& body);
    } cases[] = {
        {"no SSEDINFO mark", "HONMON.DIC", [](Bytes& idx, Bytes&) { idx[0] = 'X'; }},
        {"records past the end of the catalog", "HONMON.DIC", [](Bytes& idx, Bytes&) { idx[0x4D] = 9; }},
        {"body file missing", "NONE.DIC", [](Bytes&, Bytes&) {}},
        {"no body record", "HONMON.DIC", [](Bytes& idx, Bytes&) { idx[128 + 3] = 0x05; }},  // 1st record's type
        {"body declared but absent", "HONMON.DIC",
         [](Bytes& idx, Bytes&) {
             put32(idx, 128 + 4, 0);  // first and last block 0/0
             put32(idx, 128 + 8, 0);
         }},
        {"name leaving the directory", "../HONMON.DIC", [](Bytes&, Bytes&) {}},
        {"body not SSEDDATA", "HONMON.DIC", [](Bytes&, Bytes& body) { body[0] = 'X'; }},
        {"chunk count differs", "HONMON.DIC", [](Bytes&, Bytes& body) { body[0x17] = 3; }},
        {"block range differs", "HONMON.DIC", [](Bytes&, Bytes& body) { body[0x1F] = 29; }},
        {"chunk offset past the end", "HONMON.DIC", [](Bytes&, Bytes& body) { put32(body, 0x44, 0x7FFFFFFF); }},
        {"chunk offsets decreasing", "HONMON.DIC", [](Bytes&, Bytes& body) { put32(body, 0x44, 0x45); }},
        {"chunk inside the table", "HONMON.DIC", [](Bytes&, Bytes& body) { put32(body, 0x40, 0x10); }},
        {"last block before first", "HONMON.DIC", [](Bytes& idx, Bytes&) { put32(idx, 128 + 8, 1); }},
        {"overlapping components", "HONMON.DIC", [](Bytes& idx, Bytes&) { put32(idx, 128 + 48 + 4, 28); }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestDir dir;
        std::vector<SsedComponent> parts = sampleBook();
        Bytes body = encodeSsedData(parts[0]);
        parts[0].fileName = k.bodyName;
        Bytes idx = encodeSsedInfo("Sample", parts);
        k.spoil(idx, body);
        ASSERT_TRUE(writeFile(dir.file("BOOK.IDX"), idx));
        ASSERT_TRUE(writeFile(dir.file("HONMON.DIC"), body));
        ASSERT_TRUE(writeFile(dir.file("COPY.DIC"), encodeSsedData(parts[1])));
        CSsedDecoder dec;
        EXPECT_EQ(openBook(dir, dec), -1);
    }
}

// A component file that is a FIFO fails the open at once instead of making
// it wait for a writer.
TEST(LegacySsed, FifoComponentFailsWithoutWaiting) {
    TestDir dir;
    std::vector<SsedComponent> parts = sampleBook();
    ASSERT_TRUE(writeFile(dir.file("BOOK.IDX"), encodeSsedInfo("Sample", parts)));
    ASSERT_TRUE(writeFile(dir.file("COPY.DIC"), encodeSsedData(parts[1])));
    int rc = 0;
    EXPECT_TRUE(opensFifoWithoutWaiting(
        dir.file("HONMON.DIC"),
        [&](const char*) {
            CSsedDecoder dec;
            return openBook(dir, dec);
        },
        &rc))
        << "the open waited for a writer";
    EXPECT_EQ(-1, rc);
}

// Chunks whose data is corrupt fail their read with a zeroed buffer.
TEST(LegacySsed, CorruptChunksFailCleanly) {
    struct Case {
        const char* name;
        size_t at;      // byte of the body file to change (from the first chunk), or cut there
        int value;      // new value; -1: cut the file at `at`
        int64_t chunk;  // first block of the chunk that must fail
    } cases[] = {
        {"window offset 4080", 5, 0xFF, 2},              // first command: w = 0xFF0
        {"command count beyond the data", 2, 0xFF, 18},  // 0xFF.. commands in the last chunk
        {"last chunk cut short", 400, -1, 18},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestDir dir;
        std::vector<SsedComponent> parts = sampleBook();
        ASSERT_TRUE(writeSsedBook(dir.path(), "BOOK.IDX", "Sample", parts));
        Bytes body = readFile(dir.file("HONMON.DIC"));
        const size_t chunk0 = 0x48, chunk1 = (body[0x44] << 24) | (body[0x45] << 16) | (body[0x46] << 8) | body[0x47];
        if (k.value < 0) {
            body.resize(chunk1 + k.at);
        } else {
            const size_t c = k.chunk == 2 ? chunk0 : chunk1;
            body[c + k.at] = static_cast<uint8_t>(k.value);
            if (k.at == 5) body[c + 6] = 0x00;
        }
        ASSERT_TRUE(writeFile(dir.file("HONMON.DIC"), body));
        CSsedDecoder dec;
        ASSERT_EQ(openBook(dir, dec), 0);
        static uint8_t out[32768];
        memset(out, 0xAA, sizeof out);
        EXPECT_EQ(dec.decodeChunk(k.chunk, out), -1);
        for (uint8_t v : out) ASSERT_EQ(v, 0);
    }
}

// A record flagged 0xFF is placed in the image but left out of block 1.
TEST(LegacySsed, FlaggedRecordNotListed) {
    TestDir dir;
    std::vector<SsedComponent> parts = sampleBook();
    parts[1].flag = 0xFF;
    ASSERT_TRUE(writeSsedBook(dir.path(), "BOOK.IDX", "Sample", parts));
    CSsedDecoder dec;
    ASSERT_EQ(openBook(dir, dec), 0);
    uint8_t block[2048];
    ASSERT_TRUE(readBlock(dec, 1, block));
    EXPECT_EQ(block[1], 1);
    ASSERT_TRUE(readBlock(dec, 31, block));
    EXPECT_EQ(0, memcmp(block, &parts[1].image[2048], 2048));
}
