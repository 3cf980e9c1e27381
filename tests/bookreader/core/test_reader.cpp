// The reader's core: which kind a file opens as, the index walk (style
// flags, multi-search definitions, search titles, font headers), the sound
// map, block reading with its one-block cache, and the small helpers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "tests/bookreader/HandBook.h"
#include "tests/common/TestDir.h"

using lftest::codeBytes;
using lftest::HandBook;

namespace {

// A book with one body area (blocks 2-3) whose blocks hold their number.
HandBook smallBook() {
    HandBook b;
    b.area(0x00, 2, 2);
    b.put(2, 0, {0x12, 0x34, 0x1A});
    b.put(3, 0, {0x33});
    return b;
}

}  // namespace

TEST(ReaderOpen, KindByFileName) {
    struct Case {
        const char* dir;  // under the test directory
        const char* name;
        int kind;
        bool waveMap;
    } cases[] = {
        {"a", "HONMON", BOOK_KIND_EPWING, false}, {"b", "HONMON2", BOOK_KIND_EPWING, false},
        {"c", "honmon", BOOK_KIND_EPWING, false}, {"d", "HONMONG", BOOK_KIND_RAW, false},
        {"e", "HONMONS", BOOK_KIND_RAW, false},   {"f", "DATA.IDX", BOOK_KIND_EPWING, true},
        {"g", "START", BOOK_KIND_EB, false},      {"h", "GAI16H00", BOOK_KIND_RAW, false},
    };
    lftest::TestDir dir;
    for (const auto& c : cases) {
        std::string sub = dir.file(c.dir);
        mkdir(sub.c_str(), 0755);
        std::string path = smallBook().write(sub, c.name);
        CEBReader reader;
        EXPECT_EQ(reader.open(path.c_str(), 1, 0), 1) << c.name;
        EXPECT_EQ(reader.kind(), c.kind) << c.name;
        EXPECT_EQ(reader.hasWaveFileMap(), c.waveMap) << c.name;
        EXPECT_TRUE(reader.isOpen()) << c.name;
    }
}

TEST(ReaderOpen, BareFileNameIsRelative) {
    lftest::TestDir dir;
    smallBook().write(dir.path(), "HONMON");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    CEBReader reader;
    int opened = reader.open("HONMON", 1, 0);
    int kind = reader.kind();
    reader.close();
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(kind, BOOK_KIND_EPWING);
}

TEST(ReaderOpen, RawFileIsOneIndexOfItsWholeBlocks) {
    lftest::TestDir dir;
    lftest::writeFile(dir.file("SOMEFILE.DAT"), std::vector<uint8_t>(5000, 0x41));
    CEBReader reader;
    ASSERT_EQ(reader.open(dir.file("SOMEFILE.DAT").c_str(), 1, 0), 1);
    ASSERT_EQ(reader.indexCount(), 1);
    EXPECT_EQ(reader.indexInfos()[0].id, kRawFileIndexId);
    EXPECT_EQ(reader.indexInfos()[0].start, 1u);
    EXPECT_EQ(reader.indexInfos()[0].count, 2u);
    EXPECT_STREQ(reader.indexInfos()[0].name, "SOMEFILE.DAT");
    EXPECT_EQ(reader.checkCRC(), -2) << "not an EBZip file";
}

TEST(ReaderOpen, Refusals) {
    lftest::TestDir dir;
    CEBReader reader;
    EXPECT_EQ(reader.open(dir.file("missing.dat").c_str(), 1, 0), 0);
    EXPECT_EQ(reader.open(dir.file("HONMON").c_str(), 1, 0), 0) << "no text file";
    std::string longPath = dir.path() + "/" + std::string(300, 'x');
    EXPECT_EQ(reader.open(longPath.c_str(), 1, 0), 0) << "paths of 256 bytes or more";
    EXPECT_EQ(reader.openSingleFile(longPath.c_str()), 0);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.seekBlock(2), 0);
}

TEST(ReaderIndex, StyleFlagsFollowOneValidityRule) {
    // Header byte 4 (global) and the entry's information kind decide whether
    // the stored style bytes hold.
    struct Case {
        uint8_t global, item;
        bool valid;
    } cases[] = {{2, 0, true}, {2, 1, true}, {0, 2, true}, {0, 0, false}, {0, 1, false}, {1, 2, false}};
    for (const auto& c : cases) {
        lftest::TestDir dir;
        HandBook b = smallBook();
        b.globalAvailability(c.global);
        b.area(0x91, 2, 1, {c.item, 0xFF, 0x12, 0x34});
        b.area(0x70, 2, 1, {c.item, 0x01, 0x02, 0x03});
        CEBReader reader;
        ASSERT_EQ(reader.open(b.write(dir.path(), "HONMON").c_str(), 1, 0), 1);
        const READER_INDEX_INFO* word = reader.findIndex(0x91);
        const READER_INDEX_INFO* plain = reader.findIndex(0x70);
        ASSERT_TRUE(word && plain);
        std::vector<uint8_t> ws(word->style, word->style + 3), ps(plain->style, plain->style + 3);
        if (c.valid) {
            EXPECT_EQ(ws, std::vector<uint8_t>({0xF3, 0x12, 0x34})) << int(c.global) << "/" << int(c.item);
            EXPECT_EQ(ps, std::vector<uint8_t>({0x01, 0x02, 0x03}));
        } else {
            EXPECT_EQ(ws, std::vector<uint8_t>({0x41, 0x55, 0x40})) << int(c.global) << "/" << int(c.item);
            EXPECT_EQ(ps, std::vector<uint8_t>({0, 0, 0}));
        }
        const uint8_t keyword[3] = {0x0A, 0x0B, 0x0C}, wordStyle[3] = {0x01, 0x01, 0x01};
        reader.setStyleOverride(keyword, wordStyle);
        EXPECT_EQ(word->style[0], c.valid ? 0x0A : 0x41) << "overrides only valid entries";
        EXPECT_EQ(plain->style[0], c.valid ? 0x01 : 0x00);
    }
}

TEST(ReaderIndex, NamesLastBlockAndFindIndexAt) {
    lftest::TestDir dir;
    HandBook b = smallBook();
    b.area(0x01, 4, 3);
    CEBReader reader;
    ASSERT_EQ(reader.open(b.write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    EXPECT_EQ(reader.indexCount(), 2);
    EXPECT_EQ(std::string(reader.indexInfos()[0].name, 4), "[00]");
    EXPECT_EQ(reader.lastBlock(), 6u);
    EXPECT_EQ(reader.findIndexAt(3, 2047)->id, 0x00u);
    EXPECT_EQ(reader.findIndexAt(3, 2048)->id, 0x01u) << "offset 2048 is the next block";
    EXPECT_EQ(reader.findIndexAt(7, 0), nullptr);
    EXPECT_EQ(reader.findIndex(0x99), nullptr);
}

TEST(ReaderIndex, MultiSearchDefinitions) {
    lftest::TestDir dir;
    HandBook b = smallBook();
    b.area(0xFF, 5, 1);
    // Two fields: "あ" with two sub-indexes, an empty label with one.
    std::vector<uint8_t> def = {0x00, 0x02};
    def.resize(16, 0);
    auto field = [&def](unsigned subCount, std::vector<uint8_t> label) {
        def.push_back(static_cast<uint8_t>(subCount));
        def.push_back(0);
        label.resize(30, 0);
        def.insert(def.end(), label.begin(), label.end());
    };
    auto sub = [&def](uint8_t id, uint32_t start, uint32_t count) {
        uint8_t r[16] = {id,
                         0,
                         uint8_t(start >> 24),
                         uint8_t(start >> 16),
                         uint8_t(start >> 8),
                         uint8_t(start),
                         uint8_t(count >> 24),
                         uint8_t(count >> 16),
                         uint8_t(count >> 8),
                         uint8_t(count)};
        def.insert(def.end(), r, r + 16);
    };
    field(2, codeBytes({0x2422}));
    sub(0x91, 20, 4);
    sub(0x71, 30, 2);
    field(1, {});
    sub(0xA1, 40, 1);
    b.put(5, 0, def);
    CEBReader reader;
    ASSERT_EQ(reader.open(b.write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    EXPECT_EQ(reader.multiSearchCount(), 1);
    EXPECT_EQ(reader.multiSearchDefinitionCount(), 0) << "loaded on demand";
    EXPECT_EQ(reader.lastBlock(), 40u) << "the definitions raise the last block";
    ASSERT_EQ(reader.selectMultiSearch(0), 5);
    const READER_INDEX_INFO* d = reader.multiSearchDefinitions();
    EXPECT_STREQ(d[0].name, "--\x82\xA0");
    EXPECT_EQ(d[1].id, 0x91u);
    EXPECT_EQ(d[1].start, 20u);
    EXPECT_EQ(d[1].count, 4u);
    EXPECT_EQ(d[1].style[2], 0xC0);
    EXPECT_STREQ(d[3].name, "--") << "empty label";
    EXPECT_EQ(d[4].id, 0xA1u);
    EXPECT_EQ(reader.findIndexAt(21, 0), &d[1]) << "definitions hold positions too";
    EXPECT_EQ(reader.selectMultiSearch(1), 0);
    EXPECT_EQ(reader.selectMultiSearch(-1), 0);
}

TEST(ReaderIndex, SearchTitles) {
    lftest::TestDir dir;
    HandBook b = smallBook();
    b.area(0x16, 5, 1);
    std::vector<uint8_t> block(350, 0);
    std::vector<uint8_t> rec(70, 0);
    // Title 0 in the long field, title 1 in the short one, title 2 not a title.
    std::vector<uint8_t> t0 = rec, t1 = rec, t2 = rec;
    t0[1] = 2;
    t0[18] = 0x24, t0[19] = 0x22, t0[20] = 0x24, t0[21] = 0x24;
    t1[1] = 2;
    t1[2] = 0x23, t1[3] = 0x41;
    t2[1] = 1;
    t2[2] = 0x23, t2[3] = 0x42;
    for (auto* r : {&t0, &t1, &t2}) block.insert(block.end(), r->begin(), r->end());
    b.put(5, 0, block);
    CEBReader reader;
    ASSERT_EQ(reader.open(b.write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    EXPECT_STREQ(reader.searchTitle(0), "\x82\xA0\x82\xA2");
    EXPECT_STREQ(reader.searchTitle(1), "\x82\x60");
    EXPECT_STREQ(reader.searchTitle(2), "");
    EXPECT_STREQ(reader.searchTitle(10), "");
}

TEST(ReaderIndex, EbFontHeadersAndLatin1) {
    struct Case {
        unsigned narrowStart, count;
        bool latin1;
        unsigned endCode;
    } cases[] = {
        {0xA121, 94, false, 0xA17E},
        {0xA121, 95, false, 0xA221},
        {0xA17E, 2, false, 0xA221},
        // ISO 8859-1 fonts count rows of 94 codes from their own row too.
        {0x0121, 10, true, 0x012A},
        {0x0121, 95, true, 0x0221},
        {0x1E7E, 1, true, 0x1E7E},
        {0xA121, 0, false, 0},  // no characters, no end
    };
    for (const auto& c : cases) {
        lftest::TestDir dir;
        HandBook b = smallBook();
        b.area(0xF2, 5, 1);
        b.area(0xF1, 6, 1);
        b.put(5, 8,
              {8, 16, uint8_t(c.narrowStart >> 8), uint8_t(c.narrowStart), uint8_t(c.count >> 8), uint8_t(c.count)});
        b.put(6, 8, {16, 16, 0xB1, 0x21, 0x00, 0x02});
        CEBReader reader;
        ASSERT_EQ(reader.open(b.write(dir.path(), "START").c_str(), 1, 0), 1);
        EXPECT_EQ(reader.isLatin1(), c.latin1) << std::hex << c.narrowStart;
        EXPECT_EQ(reader.narrowFont().width, 8);
        EXPECT_EQ(reader.narrowFont().startBlock, 5u);
        EXPECT_EQ(reader.narrowFont().endCode, c.endCode) << std::hex << c.narrowStart << " " << std::dec << c.count;
        EXPECT_EQ(reader.wideFont().startCode, 0xB121);
        EXPECT_EQ(reader.wideFont().endCode, 0xB122);
    }
}

TEST(ReaderIndex, TheCharacterCodeBelongsToTheOpenBook) {
    // A reader that read an ISO 8859-1 book reads the next book, one without
    // a narrow font, as JIS X 0208.
    lftest::TestDir dir;
    HandBook latin = smallBook();
    latin.area(0xF2, 5, 1);
    latin.put(5, 8, {8, 16, 0x01, 0x21, 0x00, 0x01});
    mkdir(dir.file("a").c_str(), 0755);
    mkdir(dir.file("b").c_str(), 0755);
    CEBReader reader;
    ASSERT_EQ(reader.open(latin.write(dir.file("a"), "START").c_str(), 1, 0), 1);
    EXPECT_TRUE(reader.isLatin1());
    ASSERT_EQ(reader.open(smallBook().write(dir.file("b"), "START").c_str(), 1, 0), 1);
    EXPECT_FALSE(reader.isLatin1());
}

TEST(ReaderBlocks, BcdOffsetsAndTheCache) {
    lftest::TestDir dir;
    CEBReader reader;
    ASSERT_EQ(reader.open(smallBook().write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    ASSERT_EQ(reader.seekBlock(2), 1);
    EXPECT_EQ(reader.readBcd(2), 1234);
    EXPECT_EQ(reader.readBcd(1), -1);
    EXPECT_EQ(reader.currentOffset(), 3) << "all bytes read";
    EXPECT_EQ(reader.setOffset(0), 0);
    EXPECT_EQ(reader.setOffset(2049), 0);
    ASSERT_EQ(reader.setOffset(2048), 1);
    EXPECT_EQ(reader.readByte(), 0x33u) << "the first byte of the next block";
    EXPECT_EQ(reader.currentBlock(), 3);
    ASSERT_EQ(reader.seekBlock(3), 1) << "the cached block";
    EXPECT_EQ(reader.currentOffset(), 0);
    EXPECT_EQ(reader.readWord16(), 0x3300u);
    ASSERT_EQ(reader.seekBlock(2), 1);
    EXPECT_EQ(reader.readDword32(), 0x12341A00u);
    EXPECT_EQ(reader.seekBlock(-1), 0);
    EXPECT_EQ(reader.seekBlock(9), 0) << "past the file";
    // The failed read must not leave the book file's cache (now zeros)
    // standing for block 2.
    ASSERT_EQ(reader.seekBlock(2), 1);
    EXPECT_EQ(reader.readByte(), 0x12u);
}

TEST(ReaderBlocks, CloseAndReopenKeepTheIndexList) {
    lftest::TestDir dir;
    CEBReader reader;
    ASSERT_EQ(reader.open(smallBook().write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    EXPECT_EQ(reader.close(), 1);
    EXPECT_EQ(reader.close(), 1) << "twice";
    EXPECT_EQ(reader.seekBlock(2), 0);
    EXPECT_EQ(reader.reopen(), 0) << "only an open reader reopens";
    ASSERT_EQ(reader.open(smallBook().write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    reader.close();
    reader.setLatin1(0);
    // A reader that was open: reopen the same file.
    CEBReader again;
    ASSERT_EQ(again.open(dir.file("HONMON").c_str(), 1, 0), 1);
    again.seekBlock(2);
    ASSERT_EQ(again.reopen(), 1);
    EXPECT_EQ(again.indexCount(), 1);
    ASSERT_EQ(again.seekBlock(2), 1);
    EXPECT_EQ(again.readByte(), 0x12u);
}

TEST(ReaderWaveMap, LinesByNameAndByPosition) {
    lftest::TestDir dir;
    mkdir(dir.file("Sounds").c_str(), 0755);
    lftest::writeFile(dir.file("Sounds/WaveFile.map"),
                      std::string("ABCDEFGH\t12\n1A2B:3C\t7\n1A2B:0\t7\nSHORTNAM\t0\nonetoken\n"));
    std::string path = smallBook().write(dir.path(), "DATA.IDX");
    CEBReader reader;
    ASSERT_EQ(reader.open(path.c_str(), 1, 0), 1);
    EXPECT_TRUE(reader.hasWaveFileMap());
    ASSERT_EQ(reader.waveMapCount(), 2);
    EXPECT_EQ(reader.waveMap()[0].number, 12u);
    EXPECT_STREQ(reader.waveMap()[0].name, "ABCDEFGH");
    EXPECT_EQ(reader.waveMap()[1].block, 0x1A2Bu);
    EXPECT_EQ(reader.waveMap()[1].offset, 0x3Cu);
    EXPECT_STREQ(reader.waveMap()[1].name, "00000007");
    EXPECT_EQ(std::string(reader.waveMapDir()), dir.path());
}

TEST(ReaderSingleFile, FontFileHeader) {
    lftest::TestDir dir;
    std::vector<uint8_t> font(4096, 0);
    font[8] = 16, font[9] = 16, font[10] = 0xA1, font[11] = 0x21, font[12] = 0x00, font[13] = 0x03;
    lftest::writeFile(dir.file("GAI16F00"), font);
    CEBReader reader;
    ASSERT_EQ(reader.openSingleFile(dir.file("GAI16F00").c_str()), 1);
    EXPECT_EQ(reader.kind(), BOOK_KIND_DATA_FILE);
    EXPECT_EQ(reader.indexInfos()[0].count, 2u);
    EXPECT_EQ(reader.narrowFont().startCode, 0xA121);
    EXPECT_EQ(reader.narrowFont().endCode, 0xA123);
    reader.close();
    EXPECT_EQ(reader.openSingleFile(dir.file("none").c_str()), 0);
}

TEST(ReaderHelpers, HexDumpAndAlphaText) {
    uint8_t bytes[17];
    for (int i = 0; i < 17; ++i) bytes[i] = static_cast<uint8_t>(i * 16 + 1);
    char out[80];
    int n = hexDump(out, bytes, 17);
    EXPECT_EQ(std::string(out, n),
              "01 11 21 31 41 51 61 71 81 91 A1 B1 C1 D1 E1 F1 \r\n"
              "01 ");
    EXPECT_EQ(isAlphaText("Hello world\t"), -1);
    EXPECT_EQ(isAlphaText("route66"), 0);
    EXPECT_EQ(isAlphaText("caf\xE9"), 0) << "bytes above 127 are not letters";
    EXPECT_EQ(isAlphaText(""), -1);
}
