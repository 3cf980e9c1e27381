// CBookFile: the book text file with its index table, in write and read mode.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/book/CBlockStream.h"
#include "foundation/book/CBookFile.h"
#include "foundation/codes/jclib.h"
#include "tests/common/RunControl.h"
#include "tests/common/StoredEbzip.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

using lftest::Bytes;

void makeDir(const std::string& path) {
    mkdir(path.c_str(), 0755);
}

// A subbook directory with DATA and GAIJI, as the builder makes it.
std::string subbookDir(const TestDir& tmp) {
    std::string dir = tmp.file("SUB");
    makeDir(dir);
    makeDir(dir + "/DATA");
    makeDir(dir + "/GAIJI");
    return dir;
}

// A memory-mode area of `blocks` blocks whose block k begins with marker, k.
CBlockStream* markedArea(uint32_t start, uint32_t blocks, unsigned char marker) {
    CBlockStream* s = new CBlockStream(start, 0);
    for (uint32_t k = 0; k < blocks; ++k) {
        s->seek(BLOCK_POS{start + k, 0});
        s->writeByte(marker);
        s->writeByte(k);
    }
    return s;
}

Bytes blockOf(const Bytes& file, uint32_t block) {
    size_t at = static_cast<size_t>(block - 1) * 2048;
    if (file.size() < at + 2048) return Bytes();
    return Bytes(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + 2048));
}

Bytes bytesAt(const Bytes& file, size_t offset, size_t n) {
    return Bytes(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + n));
}

std::string sjis(const char* utf8) {
    unsigned char out[256];
    int n = utf8ToSjis(utf8, static_cast<int>(strlen(utf8)), out, sizeof out);
    return std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n));
}

const unsigned char kStyle[3] = {0x12, 0x34, 0x56};

// Writes the book of the layout tests: body text at 2 (file mode, two
// blocks), menu at 4, word index at 5 (2 blocks), complex search at 7 (3
// blocks), a sub-index 0x0D at 10, and an area that never got a start block.
void writeLayoutBook(const std::string& dir) {
    CBookFile book;
    ASSERT_EQ(0, book.open(dir.c_str(), "HONMON", "w", 1, 0x60, nullptr, 1, 1));
    CBlockStream* body = new CBlockStream(2, 1);
    ASSERT_EQ(0, book.addEntry(0x00, body, kStyle));
    body->writeCode(0x1F02);
    std::string text(2100, 'x');  // 2 bytes per character: runs into block 3
    body->writeText(text.c_str(), 1100, 0, 0);
    body->writeCode(0x1F03);
    ASSERT_EQ(0, book.addEntry(0x01, markedArea(4, 1, 0xA1), nullptr));
    ASSERT_EQ(0, book.addEntry(0x91, markedArea(5, 2, 0xB1), kStyle));
    ASSERT_EQ(0, book.addEntry(0xFF, markedArea(7, 3, 0xC1), nullptr));
    ASSERT_EQ(0, book.addEntry(0x0D, markedArea(10, 1, 0xD1), nullptr));
    ASSERT_EQ(0, book.addEntry(0x02, markedArea(0, 1, 0xE1), nullptr));
    ASSERT_EQ(0, book.writeIndex());
    ASSERT_EQ(0, book.close());
}

}  // namespace

// ---------------------------------------------------------------------------
// Write mode.

TEST(BookFileWrite, IndexTableAndAreasAreLaidOut) {
    TestDir tmp;
    std::string dir = subbookDir(tmp);
    writeLayoutBook(dir);
    Bytes f = lftest::readFile(dir + "/DATA/HONMON");
    ASSERT_EQ(9u * 2048, f.size());  // the 0x0D area at block 10 is not written

    // Header: 4 records, character code 0x60, zeros.
    EXPECT_EQ(Bytes({0x00, 0x04, 0x60, 0x00}), bytesAt(f, 0, 4));
    // Record layout: id, 0, start (4), length (4), information (4), 0, 0.
    EXPECT_EQ(Bytes({0x00, 0, 0, 0, 0, 2, 0, 0, 0, 2, 1, 0, 0, 0, 0, 0}), bytesAt(f, 16, 16));
    EXPECT_EQ(Bytes({0x01, 0, 0, 0, 0, 4, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0}), bytesAt(f, 32, 16));
    EXPECT_EQ(Bytes({0x91, 0, 0, 0, 0, 5, 0, 0, 0, 2, 2, 0x12, 0x34, 0x56, 0, 0}), bytesAt(f, 48, 16));
    EXPECT_EQ(Bytes({0xFF, 0, 0, 0, 0, 7, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0}), bytesAt(f, 64, 16));  // length 1
    EXPECT_EQ(Bytes(16, 0), bytesAt(f, 80, 16));

    // The body's last block reached the file although the stream never left it.
    EXPECT_EQ(Bytes({0x1F, 0x02}), bytesAt(blockOf(f, 2), 0, 2));
    Bytes b3 = blockOf(f, 3);
    EXPECT_EQ(Bytes({0x1F, 0x03}), bytesAt(b3, 2 * (1100 - 1023), 2));
    // Memory areas at their start blocks, every page of the complex-search area.
    struct Expect {
        uint32_t block;
        unsigned char marker, k;
    } pages[] = {{4, 0xA1, 0}, {5, 0xB1, 0}, {6, 0xB1, 1}, {7, 0xC1, 0}, {8, 0xC1, 1}, {9, 0xC1, 2}};
    for (const Expect& e : pages) EXPECT_EQ(Bytes({e.marker, e.k}), bytesAt(blockOf(f, e.block), 0, 2)) << e.block;
}

TEST(BookFileWrite, The54thAreaIsRefused) {
    TestDir tmp;
    std::string dir = subbookDir(tmp);
    CBookFile book;
    ASSERT_EQ(0, book.open(dir.c_str(), "HONMON", "w", 1, 0, nullptr, 1, 1));
    for (int i = 0; i < 53; ++i) ASSERT_EQ(0, book.addEntry(0x10, markedArea(2 + i, 1, 1), nullptr)) << i;
    // The refused stream is deleted by the book file (the sanitizer build sees a leak otherwise).
    EXPECT_EQ(-1, book.addEntry(0x01, markedArea(60, 1, 2), nullptr));
    EXPECT_EQ(53, book.entryCount());
    EXPECT_EQ(nullptr, book.findEntry(0x01));
    EXPECT_EQ(-1, book.addEntry(0x01, nullptr, nullptr));
    ASSERT_EQ(0, book.writeIndex());
    ASSERT_EQ(0, book.close());

    CBookFile r;
    ASSERT_EQ(0, r.open(dir.c_str(), "/DATA/HONMON", "r", 1, 0, nullptr, 1, 1));
    EXPECT_EQ(53, r.entryCount());
}

TEST(BookFileWrite, AddEntryNeedsAFileOpenForWriting) {
    CBookFile closed;
    EXPECT_EQ(-1, closed.addEntry(0x00, markedArea(2, 1, 1), nullptr));
    EXPECT_EQ(-1, closed.writeIndex());
}

TEST(BookFileWrite, GaijiFontAreas) {
    struct Case {
        const char* name;
        int discType;
        bool fileInGaiji;  // EPWING: a font file and no record; EB: a record in the text file
    } cases[] = {{"EPWING", 1, true}, {"EB", 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        std::string dir = subbookDir(tmp);
        char fonts[72];
        memset(fonts, 0, sizeof fonts);
        strcpy(fonts + 9 * 1, "MYWIDE16");  // 16-dot wide
        CBookFile book;
        ASSERT_EQ(0, book.open(dir.c_str(), "HONMON", "w", c.discType, 0, fonts, 1, 1));
        EXPECT_STREQ("MYWIDE16", book.fontName(1));
        EXPECT_STREQ("GAI16H00", book.fontName(0));  // empty name takes its default
        ASSERT_EQ(0, book.addEntry(0x00, markedArea(2, 1, 0x11), nullptr));
        ASSERT_EQ(0, book.addEntry(0xF1, markedArea(3, 2, 0xF1), nullptr));  // 16-dot wide
        ASSERT_EQ(0, book.addEntry(0xF2, markedArea(5, 1, 0xF2), nullptr));  // 16-dot narrow
        ASSERT_EQ(0, book.writeIndex());
        ASSERT_EQ(0, book.close());

        std::string text = dir + (c.discType == 1 ? "/DATA/HONMON" : "/HONMON");
        Bytes f = lftest::readFile(text);
        ASSERT_GE(f.size(), 2048u);
        Bytes wide = lftest::readFile(dir + "/GAIJI/MYWIDE16");
        Bytes narrow = lftest::readFile(dir + "/GAIJI/GAI16H00");
        if (c.fileInGaiji) {
            EXPECT_EQ(1, f[1]);  // only the body has a record
            ASSERT_EQ(2u * 2048, wide.size());
            EXPECT_EQ(Bytes({0xF1, 1}), bytesAt(wide, 2048, 2));
            ASSERT_EQ(2048u, narrow.size());
            EXPECT_EQ(Bytes({0xF2, 0}), bytesAt(narrow, 0, 2));
        } else {
            EXPECT_EQ(3, f[1]);
            EXPECT_EQ(0xF1, f[32]);
            EXPECT_EQ(0xF2, f[48]);
            EXPECT_EQ(Bytes({0xF1, 1}), bytesAt(blockOf(f, 4), 0, 2));
            EXPECT_TRUE(wide.empty());
            EXPECT_TRUE(narrow.empty());
        }
    }
}

TEST(BookFileWrite, AFontFileThatCannotBeCreatedFails) {
    TestDir tmp;
    std::string dir = subbookDir(tmp);
    makeDir(dir + "/GAIJI/GAI16H00");  // a directory where the font file should go
    CBookFile book;
    ASSERT_EQ(0, book.open(dir.c_str(), "HONMON", "w", 1, 0, nullptr, 1, 1));
    ASSERT_EQ(0, book.addEntry(0x00, markedArea(2, 1, 0x11), nullptr));
    ASSERT_EQ(0, book.addEntry(0xF2, markedArea(3, 1, 0xF2), nullptr));
    ASSERT_EQ(0, book.addEntry(0x01, markedArea(4, 1, 0x01), nullptr));
    EXPECT_EQ(-1, book.writeIndex());
    // A book that could not be written whole leaves nothing: no text file,
    // no temporary file.
    EXPECT_EQ(-1, book.close());
    EXPECT_EQ(lftest::listDir(dir + "/DATA"), std::vector<std::string>());
    EXPECT_EQ(lftest::listDir(dir + "/GAIJI"), std::vector<std::string>{"GAI16H00"});
}

// Files are written under temporary names and renamed when the index table
// is written: an earlier file stays whole until then and after a failure, a
// link at a final name is replaced without its target being touched.
TEST(BookFileWrite, FilesReplaceTheirFinalNamesOnlyWhenWritten) {
    TestDir tmp;
    std::string dir = subbookDir(tmp);
    ASSERT_TRUE(lftest::writeFile(dir + "/DATA/HONMON", std::string("earlier")));
    ASSERT_TRUE(lftest::writeFile(tmp.file("target"), std::string("kept")));
    ASSERT_EQ(0, symlink(tmp.file("target").c_str(), (dir + "/GAIJI/GAI16H00").c_str()));
    for (bool fail : {true, false}) {
        SCOPED_TRACE(fail ? "write fails" : "written");
        CBookFile book;
        ASSERT_EQ(0, book.open(dir.c_str(), "HONMON", "w", 1, 0, nullptr, 1, 1));
        ASSERT_EQ(0, book.addEntry(0x00, markedArea(2, 3, 0x11), nullptr));
        ASSERT_EQ(0, book.addEntry(0xF2, markedArea(5, 1, 0xF2), nullptr));
        EXPECT_EQ(lftest::readFile(dir + "/DATA/HONMON"), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
        int written = 0;
        if (fail) {
            // Files may not grow past 4096 bytes: the text file's writes fail.
            lftest::withFileSizeLimit(4096, [&] { written = book.writeIndex(); });
            EXPECT_EQ(-1, written);
            EXPECT_EQ(-1, book.close());
            EXPECT_EQ(lftest::readFile(dir + "/DATA/HONMON"), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
        } else {
            EXPECT_EQ(0, book.writeIndex());
            EXPECT_EQ(0, book.close());
            EXPECT_EQ(lftest::readFile(dir + "/DATA/HONMON").size(), 4u * 2048);
        }
        EXPECT_EQ(lftest::readFile(tmp.file("target")), Bytes({'k', 'e', 'p', 't'}));
        EXPECT_EQ(lftest::listDir(dir + "/DATA"), std::vector<std::string>{"HONMON"});
    }
    struct stat st;
    ASSERT_EQ(0, lstat((dir + "/GAIJI/GAI16H00").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link was not replaced";
}

TEST(BookFileWrite, OpenFailures) {
    TestDir tmp;
    CBookFile book;
    EXPECT_EQ(-1, book.open(tmp.path().c_str(), "HONMON", "w", 1, 0, nullptr, 1, 1));  // no DATA directory
    EXPECT_EQ(-1, book.open(tmp.path().c_str(), "HONMON", "x", 1, 0, nullptr, 1, 1));  // bad mode
    std::string longName(300, 'n');
    EXPECT_EQ(-1, book.open(tmp.path().c_str(), longName.c_str(), "w", 0, 0, nullptr, 1, 1));
}

TEST(BookFileWrite, MultimediaFilesTakeTheirAreas) {
    TestDir tmp;
    std::string dir = subbookDir(tmp);
    CBookFile book;
    ASSERT_EQ(0, book.open(dir.c_str(), "HONMON2", "w", 1, 0, nullptr, 1, 4));
    ASSERT_EQ(0, book.openGraphicsFile(dir.c_str(), "HONMONG", "w"));
    ASSERT_EQ(0, book.openSoundFile(dir.c_str(), "HONMONS", "w"));
    ASSERT_EQ(0, book.addEntry(0x00, markedArea(2, 1, 0x11), nullptr));
    ASSERT_EQ(0, book.addEntry(0xD2, markedArea(1, 2, 0xD2), nullptr));
    CBlockStream* sound = new CBlockStream(1, 1);  // file mode, written straight into HONMONS
    ASSERT_EQ(0, book.addEntry(0xD8, sound, nullptr));
    sound->writeDword32(0xD8D8D8D8);
    ASSERT_EQ(0, book.writeIndex());
    ASSERT_EQ(0, book.close());

    Bytes text = lftest::readFile(dir + "/DATA/HONMON2");
    ASSERT_EQ(2u * 2048, text.size());
    EXPECT_EQ(3, text[1]);
    EXPECT_EQ(Bytes({0xD2, 0, 0, 0, 0, 1, 0, 0, 0, 2}), bytesAt(text, 32, 10));
    Bytes g = lftest::readFile(dir + "/DATA/HONMONG");
    ASSERT_EQ(2u * 2048, g.size());
    EXPECT_EQ(Bytes({0xD2, 1}), bytesAt(g, 2048, 2));
    Bytes s = lftest::readFile(dir + "/DATA/HONMONS");
    ASSERT_EQ(2048u, s.size());
    EXPECT_EQ(Bytes({0xD8, 0xD8, 0xD8, 0xD8}), bytesAt(s, 0, 4));

    CBookFile eb;
    ASSERT_EQ(0, eb.open(dir.c_str(), "START", "w", 0, 0, nullptr, 1, 0));
    EXPECT_EQ(-1, eb.openGraphicsFile(dir.c_str(), "HONMONG", "w"));  // EPWING only
    EXPECT_EQ(-1, eb.openSoundFile(dir.c_str(), "HONMONS", "w"));
}

// ---------------------------------------------------------------------------
// Read mode.

TEST(BookFileRead, IndexTableLookups) {
    TestDir tmp;
    std::string dir = subbookDir(tmp);
    writeLayoutBook(dir);

    CBookFile book;
    ASSERT_EQ(0, book.open((dir + "/DATA/").c_str(), "HONMON", "r", 1, 0, nullptr, 1, 1));
    EXPECT_EQ(4, book.entryCount());
    EXPECT_EQ(1, book.discType());
    EXPECT_EQ(1, book.epwingVersion());
    EXPECT_EQ(0x60, book.charCode());
    uint16_t count;
    memcpy(&count, book.header(), 2);
    EXPECT_EQ(4, count);
    EXPECT_EQ(0x60, book.header()[2]);

    INDEX_TABLE_ITEM* word = book.findEntry(0x91);
    ASSERT_NE(nullptr, word);
    EXPECT_EQ(5u, word->start);
    EXPECT_EQ(2u, word->blocks);
    EXPECT_EQ(nullptr, word->stream);
    EXPECT_EQ(Bytes({2, 0x12, 0x34, 0x56}), Bytes(word->info, word->info + 4));
    EXPECT_EQ(4u, book.startBlockOf(0x01));
    EXPECT_EQ(0u, book.startBlockOf(0x02));
    EXPECT_EQ(nullptr, book.findEntry(0x0D));
    EXPECT_EQ(nullptr, book.streamOf(0x00));

    std::vector<int> ids;
    for (INDEX_TABLE_ITEM* e = book.firstEntry(); e; e = book.nextEntry()) ids.push_back(e->id);
    EXPECT_EQ(std::vector<int>({0x00, 0x01, 0x91, 0xFF}), ids);

    const unsigned char* b = book.readBlock(5);
    EXPECT_EQ(0xB1, b[0]);
    EXPECT_EQ(b, book.readBlock(5));  // the cached block
    EXPECT_EQ(0xC1, book.readBlock(9)[0]);
    EXPECT_EQ(2, book.readBlock(9)[1]);
    const unsigned char* beyond = book.readBlock(100);
    ASSERT_NE(nullptr, beyond);
    EXPECT_EQ(Bytes(2048, 0), Bytes(beyond, beyond + 2048));
    EXPECT_EQ(-1, book.seekBlock(0));
    EXPECT_EQ(-2, book.checkCRC());  // plain file

    EXPECT_EQ(0, book.close());
    EXPECT_EQ(nullptr, book.firstEntry());
    EXPECT_EQ(-2, book.checkCRC());
    // Reusable after close.
    ASSERT_EQ(0, book.open(dir.c_str(), "DATA/HONMON", "r", 1, 0, nullptr, 1, 1));
    EXPECT_EQ(4, book.entryCount());
}

TEST(BookFileRead, HeaderKeepsTheSixteenBytesAfterTheLastRecord) {
    Bytes f(2048, 0);
    f[1] = 2;                                                                       // 0-1: two records
    f[2] = 0x01;                                                                    // 2: character code
    f[4] = 0x07;                                                                    // 4: a header byte the reader keeps
    f[16] = 0x00;                                                                   // record 1: id 0x00
    f[16 + 5] = 2;                                                                  //   start block 2
    f[16 + 9] = 1;                                                                  //   one block
    f[32] = 0x91;                                                                   // record 2: id 0x91
    f[32 + 5] = 3;                                                                  //   start block 3
    for (int i = 0; i < 16; ++i) f[48 + i] = static_cast<unsigned char>(0xA0 + i);  // after the records
    TestDir tmp;
    ASSERT_TRUE(lftest::writeFile(tmp.file("START"), f));
    CBookFile book;
    ASSERT_EQ(0, book.open(tmp.path().c_str(), "START", "r", 0, 0, nullptr, 1, 0));
    const unsigned char* h = book.header();
    EXPECT_EQ(0x07, h[4]);
    EXPECT_EQ(0xA0, h[16]);
    EXPECT_EQ(0xAF, h[31]);
    EXPECT_EQ(2u, book.startBlockOf(0x00));
    EXPECT_EQ(1u, book.findEntry(0x00)->blocks);
}

TEST(BookFileRead, RefusedTables) {
    auto table = [](int count) {
        Bytes f(2048, 0);
        f[0] = static_cast<unsigned char>(count >> 8);  // 0-1: record count
        f[1] = static_cast<unsigned char>(count);
        return f;
    };
    struct Case {
        const char* name;
        Bytes file;
        int result;
    } cases[] = {
        {"no records", table(0), -1},        {"127 records", table(127), 0},     {"128 records", table(128), -1},
        {"count 0xFFFF", table(0xFFFF), -1}, {"31-byte file", Bytes(31, 1), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        ASSERT_TRUE(lftest::writeFile(tmp.file("HONMON"), c.file));
        CBookFile book;
        EXPECT_EQ(c.result, book.open(tmp.path().c_str(), "HONMON", "r", 1, 0, nullptr, 1, 1));
    }
    TestDir empty;
    CBookFile book;
    EXPECT_EQ(-1, book.open(empty.path().c_str(), "HONMON", "r", 1, 0, nullptr, 1, 1));
}

TEST(BookFileRead, FindsTheEbzipFormAndOtherCase) {
    TestDir tmp;
    std::string dir = subbookDir(tmp);
    writeLayoutBook(dir);
    Bytes plain = lftest::readFile(dir + "/DATA/HONMON");
    ASSERT_TRUE(lftest::writeFile(dir + "/DATA/HONMON.ebz", lftest::storedEbzip(plain)));
    ASSERT_EQ(0, unlink((dir + "/DATA/HONMON").c_str()));

    CBookFile book;
    ASSERT_EQ(0, book.open(dir.c_str(), "DATA/HONMON", "r", 1, 0, nullptr, 1, 1));
    EXPECT_EQ(4, book.entryCount());
    EXPECT_EQ(0xC1, book.readBlock(8)[0]);
    EXPECT_EQ(0, book.checkCRC());
    book.close();
    ASSERT_EQ(0, book.open(dir.c_str(), "DATA/honmon", "r", 1, 0, nullptr, 1, 1));
    EXPECT_EQ(4, book.entryCount());
}

// ---------------------------------------------------------------------------
// Display names.

TEST(BookFileNames, IndexTypeNames) {
    TestDir tmp;
    std::string dir = subbookDir(tmp);
    CBookFile epwing;
    ASSERT_EQ(0, epwing.open(dir.c_str(), "HONMON", "w", 1, 0, nullptr, 1, 1));
    CBookFile eb;
    ASSERT_EQ(0, eb.open(dir.c_str(), "START", "w", 0, 0, nullptr, 1, 0));
    struct Case {
        CBookFile* book;
        int id;
        const char* name;  // UTF-8
    } cases[] = {
        {&epwing, 0x00, "本文"},
        {&epwing, 0x21, "著作権表示"},
        {&eb, 0x21, "圧縮本文"},
        {&eb, 0x09, "英単語JUMP見出し"},
        {&epwing, 0x09, "後方一致英字見出し"},
        {&epwing, 0x75, "その他のテキストデータ"},
        {&epwing, 0xD5, "マルチメディアデータ"},
        {&epwing, 0xF4, "外字(12×24ドット)"},
        {&epwing, 0xFF, "複合検索管理情報"},
        {&epwing, 0xC0, "0"},
        {&eb, 0x100, "0"},
    };
    for (const Case& c : cases) EXPECT_EQ(sjis(c.name), c.book->indexTypeName(c.id)) << std::hex << c.id;
    EXPECT_STREQ("\x96\x7b\x95\xb6", epwing.indexTypeName(0x00));  // 本文 in Shift_JIS
}

TEST(BookFileNames, CatalogAttributeNames) {
    struct Case {
        int value, category;
        const char* name;  // UTF-8
    } cases[] = {
        {0x60, 1, "一般書物"},
        {0x70, 1, "類語辞典"},
        {0x08, 2, "図版引用"},
        {2, 3, "インデックス作成情報はすべて有効"},
        {1, 4, "表示方法初期値情報は有効"},
        {1, 5, "一覧表表示し、選択指示を受けて表示"},
        {0, 6, "項目単位に連続して表示"},
        {0x65, 1, "不明"},
        {0, 7, "不明"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sjis(c.name), CBookFile::catalogAttributeName(c.value, c.category)) << c.value << "/" << c.category;
}
