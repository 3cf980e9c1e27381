// CEBCatalog: CATALOGS / CATALOG writing and reading, the one-subbook
// catalogs, and small books read back by the EB Library.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/book/CBlockStream.h"
#include "foundation/book/CBookFile.h"
#include "foundation/book/CEBCatalog.h"
#include "foundation/book/DictionaryOpeners.h"
#include "foundation/codes/jclib.h"
#include "tests/common/EbProbe.h"
#include "tests/common/FifoOpen.h"
#include "tests/common/PdicWriter.h"
#include "tests/common/RunControl.h"
#include "tests/common/StoredEbzip.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

using lftest::Bytes;

std::string fullWidth(const std::string& sjis) {
    char out[256];
    int n = CEBCatalog::sjisToFullWidth(out, sizeof out, sjis.c_str(), sjis.size());
    return n < 0 ? std::string() : std::string(out, static_cast<size_t>(n));
}

void makeDir(const std::string& path) {
    mkdir(path.c_str(), 0755);
}

// Body text of the small test books: start of text, a line, end of text.
void writeBody(CBlockStream* s, const std::string& text) {
    s->writeCode(0x1F02);
    s->writeText(text.c_str(), static_cast<int>(text.size()), 0, 1);
    s->writeCode(0x1F03);
}

// The bytes writeBody leaves in its first block.
Bytes expectedBody(const std::string& text) {
    CBlockStream s(2, 0);
    writeBody(&s, text);
    return Bytes(s.page(0), s.page(0) + 2048);
}

// A subbook text file with an index table whose body area starts at block 2.
void writeTextFile(const std::string& subbookDir, const char* fileName, int discType, const std::string& text) {
    CBookFile book;
    ASSERT_EQ(0, book.open(subbookDir.c_str(), fileName, "w", discType, 0x60, nullptr, 1, 1));
    CBlockStream* body = new CBlockStream(2, 1);
    ASSERT_EQ(0, book.addEntry(0x00, body, nullptr));
    writeBody(body, text);
    ASSERT_EQ(0, book.writeIndex());
    ASSERT_EQ(0, book.close());
}

struct BookSpec {
    std::string title;  // Shift_JIS as given to addSubbook
    std::string directory;
    std::string text;
};

// An EPWING (CATALOGS, <dir>/DATA/HONMON) or EB (CATALOG, <dir>/START) book.
void writeBook(const std::string& root, bool epwing, const std::vector<BookSpec>& books, int version = 1) {
    CEBCatalog cat;
    ASSERT_EQ(0, cat.readCatalog(root.c_str(), "w", epwing ? 1 : 0));
    for (const BookSpec& b : books) {
        std::string dir = root + "/" + b.directory;
        makeDir(dir);
        if (epwing) {
            makeDir(dir + "/DATA");
            makeDir(dir + "/GAIJI");
        }
        writeTextFile(dir, epwing ? "HONMON" : "START", epwing ? 1 : 0, b.text);
        ASSERT_EQ(0, cat.addSubbook(b.title.c_str(), b.directory.c_str(), 0, 0, nullptr, version,
                                    version >= 4 ? "HONMON" : nullptr));
    }
    ASSERT_EQ(0, cat.writeCatalog());
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Interoperability: the EB Library reads the books we write.

class BookInterop : public ::testing::TestWithParam<bool> {};

TEST_P(BookInterop, EbLibraryReadsTitlesDirectoriesAndText) {
    const bool epwing = GetParam();
    TestDir tmp;
    std::vector<BookSpec> books = {
        {"First Book", "FIRST", "Hello, book."},
        {"\x93\xfa\x96\x7b\x8c\xea", "SECOND", "\x82\xa0\x82\xa2 second text"},  // 日本語, あい
    };
    // A title that fills the whole field (80 bytes EPWING, 30 bytes EB).
    std::string full;
    for (int i = 0; i < (epwing ? 40 : 15); ++i) full += "\x88\x9f";
    books.push_back({full, "THIRD", "third"});
    writeBook(tmp.path(), epwing, books);

    CEBCatalog cat;
    ASSERT_EQ(3, cat.readCatalog(tmp.path().c_str(), "r", epwing ? 1 : 0));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(fullWidth(books[i].title), cat.title(i)) << i;

    lftest::EbProbe probe(tmp.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(epwing ? 1 : 0, probe.discType());
    std::vector<lftest::EbSubbook> subbooks = probe.subbooks();
    ASSERT_EQ(books.size(), subbooks.size()) << probe.error();
    for (size_t i = 0; i < books.size(); ++i) {
        EXPECT_EQ(fullWidth(books[i].title), subbooks[i].title) << i;
        EXPECT_EQ(lower(books[i].directory), lower(subbooks[i].directory)) << i;
        Bytes body = expectedBody(books[i].text);
        Bytes text = probe.readText(static_cast<int>(i), 2, 0, 64);
        ASSERT_EQ(64u, text.size()) << probe.error();
        EXPECT_TRUE(std::equal(text.begin(), text.end(), body.begin())) << i;
        EXPECT_EQ(fullWidth(books[i].text), probe.readRenderedText(static_cast<int>(i), 2, 0)) << probe.error();
    }

    std::string out;
    ASSERT_EQ(0, lftest::runCommand("LC_ALL=C.UTF-8 ebinfo " + tmp.path() + " 2>&1", &out)) << out;
    for (const BookSpec& b : books) {
        EXPECT_NE(std::string::npos, out.find("directory: " + lower(b.directory))) << out;
        std::string title = fullWidth(b.title);
        char utf8[512];
        sjisToUtf8(reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()), utf8,
                   sizeof utf8);
        EXPECT_NE(std::string::npos, out.find(std::string("title: ") + utf8)) << out;
    }
    EXPECT_NE(std::string::npos, out.find(epwing ? "EPWING" : "EB")) << out;
}

INSTANTIATE_TEST_SUITE_P(EpwingAndEb, BookInterop, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Epwing" : "Eb"; });

// ---------------------------------------------------------------------------
// Writing.

namespace {

Bytes field(const Bytes& file, size_t offset, size_t n) {
    return Bytes(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + n));
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes truncated(Bytes b, size_t n) {
    b.resize(n);
    return b;
}

Bytes padded(const std::string& s, size_t n) {
    Bytes b(s.begin(), s.end());
    b.resize(n, 0);
    return b;
}

}  // namespace

TEST(CatalogWrite, EpwingRecordLayout) {
    TestDir tmp;
    CEBCatalog cat;
    ASSERT_EQ(0, cat.readCatalog(tmp.path().c_str(), "w", 1));
    char fonts[72];
    memset(fonts, 0, sizeof fonts);
    strcpy(fonts + 9 * 3, "MYFONT24");  // wide 24 given
    // 0x01 wide 16, 0x02 narrow 16, 0x08 (not 0x100) narrow 24, 0x10 wide 32.
    ASSERT_EQ(0, cat.addSubbook("AB", "DIR", 0x01, 0x01 | 0x02 | 0x08 | 0x10, fonts, 1));
    ASSERT_EQ(0, cat.writeCatalog());

    Bytes f = lftest::readFile(tmp.file("CATALOGS"));
    ASSERT_EQ(2048u, f.size());
    EXPECT_EQ(Bytes({0x00, 0x01, 0x00, 0x01}), field(f, 0, 4));  // count 1, highest version 1
    const size_t r = 16;
    EXPECT_EQ(0x01, f[r + 0]);                                             // record byte 0
    EXPECT_EQ(0x01, f[r + 1]);                                             // version
    EXPECT_EQ(Bytes({0x23, 0x41, 0x23, 0x42, 0x00}), field(f, r + 2, 5));  // full-width "AB" in JIS
    EXPECT_EQ(text("DIR     "), field(f, r + 82, 8));                      // space-padded
    EXPECT_EQ(1, f[r + 95]);                                               // index page
    EXPECT_EQ(padded("GAI16F00", 8), field(f, r + 100, 8));                // wide 16 by default
    EXPECT_EQ(padded("MYFONT24", 8), field(f, r + 108, 8));                // wide 24 as given
    EXPECT_EQ(padded("GAI32F00", 8), field(f, r + 116, 8));                // wide 32 by default
    EXPECT_EQ(padded("", 8), field(f, r + 124, 8));                        // wide 48 unused
    EXPECT_EQ(padded("GAI16H00", 8), field(f, r + 132, 8));                // narrow 16 by default
    EXPECT_EQ(padded("", 8), field(f, r + 140, 8));                        // 0x08 names no narrow 24
}

TEST(CatalogWrite, NarrowTwentyFourDefaultComesFromFlag0x100) {
    TestDir tmp;
    CEBCatalog cat;
    ASSERT_EQ(0, cat.readCatalog(tmp.path().c_str(), "w", 1));
    ASSERT_EQ(0, cat.addSubbook("A", "D", 0, 0x100, nullptr, 1));
    ASSERT_EQ(0, cat.writeCatalog());
    Bytes f = lftest::readFile(tmp.file("CATALOGS"));
    ASSERT_EQ(2048u, f.size());
    EXPECT_EQ(padded("GAI24H00", 8), field(f, 16 + 140, 8));
}

TEST(CatalogWrite, EbRecordLayout) {
    TestDir tmp;
    CEBCatalog cat;
    ASSERT_EQ(0, cat.readCatalog(tmp.path().c_str(), "w", 0));
    ASSERT_EQ(0, cat.addSubbook("A", "AB  ", 0, 0, nullptr, 1));
    ASSERT_EQ(0, cat.addSubbook("B", "CD", 0, 0, nullptr, 1));
    EXPECT_STREQ("AB", cat.directory(0));  // trailing blanks dropped
    ASSERT_EQ(0, cat.writeCatalog());

    Bytes f = lftest::readFile(tmp.file("CATALOG"));
    ASSERT_EQ(2048u, f.size());
    EXPECT_EQ(Bytes({0x00, 0x02, 0x00, 0x00}), field(f, 0, 4));  // count 2, no version byte for EB
    EXPECT_EQ(Bytes({0x01, 0x00}), field(f, 16, 2));             // subbook number 1, low byte first
    EXPECT_EQ(Bytes({0x23, 0x41, 0x00}), field(f, 18, 3));       // full-width "A"
    EXPECT_EQ(padded("AB", 8), field(f, 48, 8));
    EXPECT_EQ(Bytes({0x02, 0x00}), field(f, 56, 2));  // record 2 at 16 + 40
    EXPECT_EQ(padded("CD", 8), field(f, 88, 8));
}

TEST(CatalogWrite, RoundTripKeepsEveryField) {
    struct Case {
        const char* name;
        int epwing;
    } cases[] = {{"EPWING", 1}, {"EB", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        CEBCatalog w;
        ASSERT_EQ(0, w.readCatalog(tmp.path().c_str(), "w", c.epwing));
        char fonts[72];
        memset(fonts, 0, sizeof fonts);
        strcpy(fonts + 9 * 0, "NARROW16");
        strcpy(fonts + 9 * 7, "WIDE48");
        ASSERT_EQ(0, w.addSubbook("\x93\xfa\x96\x7b Book", "ONE", 0x00, 0, fonts, 1));
        ASSERT_EQ(0, w.addSubbook("Two", "TWO", 0xF0, 0, nullptr, 2));
        ASSERT_EQ(0, w.writeCatalog());

        CEBCatalog r;
        ASSERT_EQ(2, r.readCatalog(tmp.path().c_str(), "r", c.epwing));
        EXPECT_EQ(c.epwing ? CEBCatalog::kEPWING : CEBCatalog::kEB, r.kind());
        EXPECT_EQ(fullWidth("\x93\xfa\x96\x7b Book"), r.title(0));
        EXPECT_EQ(fullWidth("Two"), r.title(1));
        const SUBBOOK_INFO* s = r.subbook(0);
        ASSERT_NE(nullptr, s);
        EXPECT_EQ(1, s->indexPage);
        if (c.epwing) {
            EXPECT_STREQ("ONE     ", s->directory);
            EXPECT_STREQ("NARROW16", s->fontNames[0]);
            EXPECT_STREQ("WIDE48", s->fontNames[7]);
            EXPECT_EQ(2, r.subbook(1)->version);
            EXPECT_EQ(0xF0, r.firstByte(1));
        } else {
            EXPECT_STREQ("ONE", s->directory);
            EXPECT_EQ(0, s->version);
            EXPECT_EQ(2, r.firstByte(1));  // an EB record begins with its subbook number
            // The raw title is the stored JIS bytes.
            EXPECT_EQ(0x46, static_cast<unsigned char>(s->rawTitle[0]));
            EXPECT_EQ(0x7C, static_cast<unsigned char>(s->rawTitle[1]));
        }
    }
}

TEST(CatalogWrite, FailuresAreReported) {
    TestDir tmp;
    {
        CEBCatalog cat;  // never prepared for writing
        ASSERT_EQ(0, cat.addSubbook("A", "D", 0, 0, nullptr, 1));
        EXPECT_EQ(-1, cat.writeCatalog());
    }
    {
        CEBCatalog cat;  // directory missing
        ASSERT_EQ(0, cat.readCatalog(tmp.file("missing").c_str(), "w", 1));
        ASSERT_EQ(0, cat.addSubbook("A", "D", 0, 0, nullptr, 1));
        EXPECT_EQ(-1, cat.writeCatalog());
    }
    {
        // Files may not grow past 1024 bytes: the write fails, and the
        // earlier catalog stays as it was.
        ASSERT_TRUE(lftest::writeFile(tmp.file("CATALOGS"), std::string("earlier")));
        CEBCatalog cat;
        ASSERT_EQ(0, cat.readCatalog(tmp.path().c_str(), "w", 1));
        ASSERT_EQ(0, cat.addSubbook("A", "D", 0, 0, nullptr, 1));
        int rc = 0;
        lftest::withFileSizeLimit(1024, [&] { rc = cat.writeCatalog(); });
        EXPECT_EQ(-1, rc);
        EXPECT_EQ(lftest::readFile(tmp.file("CATALOGS")), lftest::Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
        EXPECT_EQ(lftest::listDir(tmp.path()), std::vector<std::string>{"CATALOGS"});
    }
    {
        // A link at the catalog's name is replaced; its target is kept.
        lftest::TestDir other;
        ASSERT_TRUE(lftest::writeFile(other.file("target"), std::string("kept")));
        ASSERT_EQ(0, symlink(other.file("target").c_str(), other.file("CATALOGS").c_str()));
        CEBCatalog cat;
        ASSERT_EQ(0, cat.readCatalog(other.path().c_str(), "w", 1));
        ASSERT_EQ(0, cat.addSubbook("A", "D", 0, 0, nullptr, 1));
        EXPECT_EQ(0, cat.writeCatalog());
        EXPECT_EQ(lftest::readFile(other.file("target")), lftest::Bytes({'k', 'e', 'p', 't'}));
        EXPECT_EQ(lftest::readFile(other.file("CATALOGS")).size(), 2048u);
    }
}

// ---------------------------------------------------------------------------
// Limits of the slots and of the fixed fields.

TEST(CatalogLimits, AddSubbookStopsAtTheLastSlot) {
    struct Case {
        const char* name;
        int epwing;
        int slots;
    } cases[] = {{"EPWING", 1, 12}, {"EB", 0, 50}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        CEBCatalog w;
        ASSERT_EQ(0, w.readCatalog(tmp.path().c_str(), "w", c.epwing));
        for (int i = 0; i < c.slots; ++i) {
            std::string dir = "D" + std::to_string(i);
            ASSERT_EQ(0, w.addSubbook("T", dir.c_str(), 0, 0, nullptr, 1)) << i;
        }
        EXPECT_EQ(-1, w.addSubbook("T", "EXTRA", 0, 0, nullptr, 1));
        EXPECT_EQ(c.slots, w.count());
        ASSERT_EQ(0, w.writeCatalog());
        CEBCatalog r;
        ASSERT_EQ(c.slots, r.readCatalog(tmp.path().c_str(), "r", c.epwing));
        const std::string lastDir = "D" + std::to_string(c.slots - 1);
        EXPECT_EQ(0, strncmp(r.directory(c.slots - 1), lastDir.c_str(), lastDir.size()));
    }
}

TEST(CatalogLimits, FixedFieldsRefuseLongerValues) {
    auto kanji = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += "\x88\x9f";  // a two-byte character
        return s;
    };
    const std::string wide40 = kanji(40), wide41 = kanji(41), wide15 = kanji(15), wide16 = kanji(16);
    const std::string nine = "ABCDEFGHI", eight = "ABCDEFGH";
    struct Case {
        const char* name;
        int epwing;
        std::string title, directory;
        const char *textName, *graphicsName, *soundName;
        int result;
    } cases[] = {
        {"EPWING title of 80 bytes", 1, wide40, "D", nullptr, nullptr, nullptr, 0},
        {"EPWING title of 82 bytes", 1, wide41, "D", nullptr, nullptr, nullptr, -1},
        {"EPWING ASCII title of 40 characters", 1, std::string(40, 'a'), "D", nullptr, nullptr, nullptr, 0},
        {"EPWING ASCII title of 41 characters", 1, std::string(41, 'a'), "D", nullptr, nullptr, nullptr, -1},
        {"EB title of 30 bytes", 0, wide15, "D", nullptr, nullptr, nullptr, 0},
        {"EB title of 32 bytes", 0, wide16, "D", nullptr, nullptr, nullptr, -1},
        {"directory of 8", 1, "T", eight, nullptr, nullptr, nullptr, 0},
        {"directory of 9", 1, "T", nine, nullptr, nullptr, nullptr, -1},
        {"EB directory of 9", 0, "T", nine, nullptr, nullptr, nullptr, -1},
        {"text file name of 9", 1, "T", "D", nine.c_str(), nullptr, nullptr, -1},
        {"graphics file name of 9", 1, "T", "D", nullptr, nine.c_str(), nullptr, -1},
        {"sound file name of 9", 1, "T", "D", nullptr, nullptr, nine.c_str(), -1},
        {"second-record names of 8", 1, "T", "D", eight.c_str(), eight.c_str(), eight.c_str(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        CEBCatalog cat;
        ASSERT_EQ(0, cat.readCatalog(tmp.path().c_str(), "w", c.epwing));
        EXPECT_EQ(c.result, cat.addSubbook(c.title.c_str(), c.directory.c_str(), 0, 0, nullptr, 4, c.textName,
                                           c.graphicsName, c.soundName));
        EXPECT_EQ(c.result == 0 ? 1 : 0, cat.count());
        if (c.result == 0) {
            ASSERT_EQ(0, cat.writeCatalog());
            CEBCatalog r;
            ASSERT_EQ(1, r.readCatalog(tmp.path().c_str(), "r", c.epwing));
            EXPECT_EQ(fullWidth(c.title), r.title(0));
        }
    }
}

TEST(CatalogLimits, OverlongDirectoryIsRefused) {
    std::string dir = "/tmp/" + std::string(300, 'x');
    CEBCatalog cat;
    EXPECT_EQ(0, cat.readCatalog(dir.c_str(), "r", 1));
    EXPECT_EQ(-1, cat.readCatalog(dir.c_str(), "w", 1));
    ASSERT_EQ(0, cat.addSubbook("A", "D", 0, 0, nullptr, 1));
    EXPECT_EQ(-1, cat.writeCatalog());
    // A directory that fits but leaves no room for "/CATALOGS".
    std::string tight = "/tmp/" + std::string(245, 'y');
    EXPECT_EQ(-1, cat.readCatalog(tight.c_str(), "w", 1));
}

// ---------------------------------------------------------------------------
// The second record set of EPWING version 4 and above.

TEST(CatalogSecondRecordSet, TwelveVersion4SubbooksSpanTwoBlocks) {
    TestDir tmp;
    std::vector<BookSpec> books;
    for (int i = 0; i < 12; ++i)
        books.push_back({"Book " + std::to_string(i), "SUB" + std::to_string(i), "Text " + std::to_string(i)});
    writeBook(tmp.path(), true, books, 4);

    Bytes f = lftest::readFile(tmp.file("CATALOGS"));
    // 16 + 164 * 24 = 3952 bytes of header and records: two blocks.
    ASSERT_EQ(4096u, f.size());
    EXPECT_EQ(4, f[3]);
    const size_t last = 16 + 164 * (12 + 11);  // second record of subbook 12
    EXPECT_EQ(Bytes({0, 1, 2, 0}), field(f, last + 40, 4));
    EXPECT_EQ(padded("HONMON", 8), field(f, last + 4, 8));

    CEBCatalog cat;
    ASSERT_EQ(12, cat.readCatalog(tmp.path().c_str(), "r", 1));
    for (int i = 0; i < 12; ++i) EXPECT_STREQ("HONMON", cat.subbook(i)->textFileName) << i;

    lftest::EbProbe probe(tmp.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    std::vector<lftest::EbSubbook> subbooks = probe.subbooks();
    ASSERT_EQ(12u, subbooks.size()) << probe.error();
    EXPECT_EQ(fullWidth("Book 11"), subbooks[11].title);
    Bytes body = expectedBody("Text 11");
    Bytes got = probe.readText(11, 2, 0, 32);
    ASSERT_EQ(32u, got.size()) << probe.error();
    EXPECT_TRUE(std::equal(got.begin(), got.end(), body.begin()));
}

TEST(CatalogSecondRecordSet, SixSubbooksFitOneBlock) {
    TestDir tmp;
    CEBCatalog w;
    ASSERT_EQ(0, w.readCatalog(tmp.path().c_str(), "w", 1));
    for (int i = 0; i < 6; ++i) ASSERT_EQ(0, w.addSubbook("T", "D", 0, 0, nullptr, 4, "HONMON2", "HONMONG", "HONMONS"));
    ASSERT_EQ(0, w.writeCatalog());
    EXPECT_EQ(2048u, lftest::readFile(tmp.file("CATALOGS")).size());  // 16 + 164 * 12 = 1984
    CEBCatalog r;
    ASSERT_EQ(6, r.readCatalog(tmp.path().c_str(), "r", 1));
    EXPECT_STREQ("HONMON2", r.subbook(5)->textFileName);
    EXPECT_STREQ("HONMONG", r.subbook(5)->graphicsFileName);
    EXPECT_STREQ("HONMONS", r.subbook(5)->soundFileName);
}

namespace {

// A CATALOGS block: header, one subbook record of version 4, and its second
// record with file names and compression codes.
Bytes version4Catalog() {
    Bytes f(2048, 0);
    f[1] = 1;                            // 0-1: one subbook
    f[3] = 4;                            // 3: highest version 4
    Bytes& r = f;                        // record 1 at 16
    r[16 + 1] = 4;                       // version 4
    memcpy(&r[16 + 2], "\x23\x41", 2);   // title: full-width A
    memcpy(&r[16 + 82], "SUB     ", 8);  // directory
    r[16 + 95] = 1;                      // index page
    const size_t s = 16 + 164;           // second record of subbook 1
    memcpy(&r[s + 4], "HONMON2 ", 8);    // text file
    r[s + 41] = 1;                       // data-type word 0x0102
    r[s + 42] = 2;
    memcpy(&r[s + 44], "HONMONG ", 8);  // graphics file
    r[s + 53] = 0x21;                   // sound file's code
    r[s + 54] = 0x22;                   // graphics file's code
    r[s + 55] = 0x11;                   // text file's code: Huffman V4/V5
    memcpy(&r[s + 56], "HONMONS ", 8);  // sound file
    return f;
}

// A CATALOGS block of `count` records of version 1, each with the given index page byte.
Bytes version1Catalog(int count, int storedCount, unsigned char indexPage) {
    Bytes f(2048, 0);
    f[0] = static_cast<unsigned char>(storedCount >> 8);
    f[1] = static_cast<unsigned char>(storedCount);
    f[3] = 1;
    for (int i = 0; i < count && 16 + 164 * (i + 1) <= 2048; ++i) {
        unsigned char* r = &f[16 + 164 * i];
        r[1] = 1;
        memcpy(r + 2, "\x23\x42", 2);
        memcpy(r + 82, "OLD     ", 8);
        r[95] = indexPage;
    }
    return f;
}

}  // namespace

TEST(CatalogSecondRecordSet, ReadsNamesAndCompressionCodes) {
    TestDir tmp;
    ASSERT_TRUE(lftest::writeFile(tmp.file("CATALOGS"), version4Catalog()));
    CEBCatalog cat;
    ASSERT_EQ(1, cat.readCatalog(tmp.path().c_str(), "r", 1));
    const SUBBOOK_INFO* s = cat.subbook(0);
    EXPECT_EQ(0x11, s->textCompression);
    EXPECT_EQ(0x22, s->graphicsCompression);
    EXPECT_EQ(0x21, s->soundCompression);
    EXPECT_STREQ("HONMON2 ", s->textFileName);
    EXPECT_STREQ("HONMONG ", s->graphicsFileName);
    EXPECT_STREQ("HONMONS ", s->soundFileName);
}

// ---------------------------------------------------------------------------
// Reading.

TEST(CatalogRead, ClearsEachSlotBeforeFillingIt) {
    TestDir a, b;
    ASSERT_TRUE(lftest::writeFile(a.file("CATALOGS"), version4Catalog()));
    ASSERT_TRUE(lftest::writeFile(b.file("CATALOGS"), version1Catalog(1, 1, 1)));
    CEBCatalog cat;
    ASSERT_EQ(1, cat.readCatalog(a.path().c_str(), "r", 1));
    ASSERT_EQ(0x11, cat.subbook(0)->textCompression);
    ASSERT_EQ(1, cat.readCatalog(b.path().c_str(), "r", 1));
    const SUBBOOK_INFO* s = cat.subbook(0);
    EXPECT_EQ(0, s->textCompression);
    EXPECT_EQ(0, s->graphicsCompression);
    EXPECT_EQ(0, s->soundCompression);
    EXPECT_STREQ("", s->textFileName);
    EXPECT_STREQ("", s->graphicsFileName);
    EXPECT_STREQ("", s->soundFileName);
    EXPECT_STREQ("OLD     ", s->directory);
}

TEST(CatalogRead, CountsAndIndexPagesFromTheFile) {
    struct Case {
        const char* name;
        Bytes file;
        int epwing;
        int count;
        int indexPage;
    } cases[] = {
        {"count 13 in an EPWING catalog", version1Catalog(12, 13, 1), 1, 12, 1},
        {"index page 0 reads as 1", version1Catalog(1, 1, 0), 1, 1, 1},
        {"index page 0xFF (negative) reads as 1", version1Catalog(1, 1, 0xFF), 1, 1, 1},
        {"index page 5", version1Catalog(1, 1, 5), 1, 1, 5},
        {"count 5 in a file holding two records", truncated(version1Catalog(2, 5, 1), 16 + 164 * 2), 1, 2, 1},
        {"file shorter than a header", Bytes(20, 0), 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        ASSERT_TRUE(lftest::writeFile(tmp.file("CATALOGS"), c.file));
        CEBCatalog cat;
        EXPECT_EQ(c.count, cat.readCatalog(tmp.path().c_str(), "r", c.epwing));
        EXPECT_EQ(c.count, cat.count());
        if (c.count > 0) {
            EXPECT_EQ(c.indexPage, cat.subbook(0)->indexPage);
        }
    }
}

TEST(CatalogRead, EbCountAbove50IsCut) {
    Bytes f(2048, 0);
    f[1] = 51;  // 0-1: 51 subbooks
    for (int i = 0; i < 50; ++i) {
        f[16 + 40 * i] = static_cast<unsigned char>(i + 1);  // subbook number, low byte first
        memcpy(&f[16 + 40 * i + 32], "EBDIR", 5);            // directory
    }
    TestDir tmp;
    ASSERT_TRUE(lftest::writeFile(tmp.file("CATALOG"), f));
    CEBCatalog cat;
    EXPECT_EQ(50, cat.readCatalog(tmp.path().c_str(), "r", 0));
    EXPECT_STREQ("EBDIR", cat.directory(49));
    EXPECT_EQ(50, cat.firstByte(49));
}

TEST(CatalogRead, WhichCatalogFileIsRead) {
    auto catalogTitled = [](const char* title, bool epwing) {
        TestDir scratch;
        CEBCatalog w;
        w.readCatalog(scratch.path().c_str(), "w", epwing ? 1 : 0);
        w.addSubbook(title, "D", 0, 0, nullptr, 1);
        w.writeCatalog();
        return lftest::readFile(scratch.file(epwing ? "CATALOGS" : "CATALOG"));
    };
    struct Case {
        const char* name;
        int epwing;
        const char* plainName;   // null: none
        const char* zippedName;  // null: none
        const char* expected;
    } cases[] = {
        {"EPWING prefers the .ebz catalog", 1, "CATALOGS", "CATALOGS.ebz", "Zipped"},
        {"EB prefers the plain catalog", 0, "CATALOG", "CATALOG.ebz", "Plain"},
        {"EB falls back to the .ebz catalog", 0, nullptr, "CATALOG.ebz", "Zipped"},
        {"names are found without regard to case", 1, "catalogs", nullptr, "Plain"},
        {"no catalog at all", 1, nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        if (c.plainName) {
            ASSERT_TRUE(lftest::writeFile(tmp.file(c.plainName), catalogTitled("Plain", c.epwing)));
        }
        if (c.zippedName) {
            ASSERT_TRUE(
                lftest::writeFile(tmp.file(c.zippedName), lftest::storedEbzip(catalogTitled("Zipped", c.epwing))));
        }
        CEBCatalog cat;
        int n = cat.readCatalog(tmp.path().c_str(), "r", c.epwing);
        if (!c.expected) {
            EXPECT_EQ(0, n);
            continue;
        }
        ASSERT_EQ(1, n);
        EXPECT_EQ(fullWidth(c.expected), cat.title(0));
    }
}

TEST(CatalogRead, LanguageFileOfAnEbBook) {
    struct Case {
        const char* name;
        int byte1;  // -1: no LANGUAGE file
        int flag;
    } cases[] = {{"byte 1 is 1", 1, 1}, {"byte 1 is 0", 0, 0}, {"no file", -1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        CEBCatalog w;
        ASSERT_EQ(0, w.readCatalog(tmp.path().c_str(), "w", 0));
        ASSERT_EQ(0, w.addSubbook("A", "D", 0, 0, nullptr, 1));
        ASSERT_EQ(0, w.writeCatalog());
        if (c.byte1 >= 0) {
            Bytes lang(2048, 0);
            lang[1] = static_cast<unsigned char>(c.byte1);
            ASSERT_TRUE(lftest::writeFile(tmp.file("LANGUAGE"), lang));
        }
        CEBCatalog r;
        ASSERT_EQ(1, r.readCatalog(tmp.path().c_str(), "r", 0));
        EXPECT_EQ(c.flag, r.languageFlag());
    }
}

TEST(CatalogRead, AccessorsOutsideTheCountGiveNothing) {
    TestDir tmp;
    ASSERT_TRUE(lftest::writeFile(tmp.file("CATALOGS"), version1Catalog(2, 2, 1)));
    CEBCatalog cat;
    EXPECT_EQ(nullptr, cat.subbook(0));  // empty catalog
    EXPECT_EQ(nullptr, cat.title(0));
    ASSERT_EQ(2, cat.readCatalog(tmp.path().c_str(), "r", 1));
    for (int i : {-1, 2, 50}) {
        EXPECT_EQ(nullptr, cat.subbook(i)) << i;
        EXPECT_EQ(nullptr, cat.title(i)) << i;
        EXPECT_EQ(nullptr, cat.directory(i)) << i;
        EXPECT_EQ(0, cat.firstByte(i)) << i;
    }
    EXPECT_NE(nullptr, cat.subbook(1));
    cat.reset();
    EXPECT_EQ(0, cat.count());
    EXPECT_EQ(nullptr, cat.subbook(0));
}

// ---------------------------------------------------------------------------
// SSEDINFO headers.

namespace {

// An SSEDINFO file: 128-byte header and 48-byte component records.
Bytes ssedInfo(const char* magic, const std::vector<std::pair<int, std::string>>& records) {
    Bytes f(128, 0);
    memcpy(&f[0], magic, 8);                             // 0-7: magic
    f[12] = 5;                                           // 12: title length
    memcpy(&f[13], "Title", 5);                          // 13-: title
    f[77] = static_cast<unsigned char>(records.size());  // 77: record count
    for (const auto& r : records) {
        Bytes rec(48, 0);
        rec[3] = static_cast<unsigned char>(r.first);           // 3: component type
        rec[16] = static_cast<unsigned char>(r.second.size());  // 16: name length
        memcpy(&rec[17], r.second.data(), r.second.size());     // 17-: name
        f.insert(f.end(), rec.begin(), rec.end());
    }
    return f;
}

}  // namespace

TEST(CatalogSsedInfo, OneSubbookFromTheHeader) {
    TestDir tmp;
    makeDir(tmp.file("BOOKDIR"));
    std::string path = tmp.file("BOOKDIR/X.IDX");
    ASSERT_TRUE(lftest::writeFile(
        path, ssedInfo("SSEDINFO", {{0x00, "HONMON.DIC"}, {0xF1, "WIDE16"}, {0xF2, "NARROW16X"}, {0xF8, "N48"}})));
    CEBCatalog cat;
    ASSERT_EQ(1, cat.readSsedInfo(path.c_str(), "r"));
    EXPECT_EQ(1, cat.count());
    EXPECT_EQ(1, cat.ssedFlag());
    EXPECT_EQ(CEBCatalog::kEPWING, cat.kind());
    const SUBBOOK_INFO* s = cat.subbook(0);
    EXPECT_STREQ("Title", s->title);
    EXPECT_STREQ("BOOKDIR", s->directory);
    EXPECT_STREQ("WIDE16", s->fontNames[1]);
    EXPECT_STREQ("NARROW16", s->fontNames[0]);  // cut to 8
    EXPECT_STREQ("N48", s->fontNames[6]);
    EXPECT_EQ(1, s->version);
    EXPECT_EQ(1, s->indexPage);
}

// The title field ends where the record count begins (byte 77): a length
// byte above 64 must not pull the count and the bytes after it into the title.
TEST(CatalogSsedInfo, TitleStopsBeforeTheRecordCount) {
    struct Case {
        const char* name;
        unsigned char length;  // byte 12
        size_t expected;       // title bytes kept
    } cases[] = {{"64 bytes fill the field", 64, 64},
                 {"80 is cut to 64", 80, 64},
                 {"255 is cut to 64", 255, 64},
                 {"shorter titles stay whole", 10, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = ssedInfo("SSEDINFO", {{0xF1, "GAI16F00"}});
        f[12] = c.length;                                      // 12: title length
        for (size_t i = 13; i < 77; ++i) f[i] = 'a' + i % 26;  // 13-76: title text
        for (size_t i = 78; i < 128; ++i) f[i] = 'Z';          // 78-127: bytes after the count
        TestDir tmp;
        ASSERT_TRUE(lftest::writeFile(tmp.file("X.IDX"), f));
        CEBCatalog cat;
        ASSERT_EQ(1, cat.readSsedInfo(tmp.file("X.IDX").c_str(), "r"));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[13]), c.expected), cat.title(0));
        EXPECT_STREQ("GAI16F00", cat.subbook(0)->fontNames[1]);
    }
}

TEST(CatalogSsedInfo, RefusedFilesLeaveNoSubbook) {
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"wrong magic", ssedInfo("SSEDINFX", {})},
        {"short header", truncated(ssedInfo("SSEDINFO", {}), 100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir tmp;
        ASSERT_TRUE(lftest::writeFile(tmp.file("X.IDX"), c.file));
        CEBCatalog cat;
        EXPECT_EQ(0, cat.readSsedInfo(tmp.file("X.IDX").c_str(), "r"));
        EXPECT_EQ(0, cat.count());
        EXPECT_EQ(nullptr, cat.subbook(0));
    }
    CEBCatalog cat;
    EXPECT_EQ(0, cat.readSsedInfo("/nonexistent/X.IDX", "r"));
    EXPECT_EQ(0, cat.count());
}

// An SSEDINFO path that is a FIFO is refused at once: reading the catalog
// never waits for a writer.
TEST(CatalogSsedInfo, FifoIsRefusedWithoutWaiting) {
    TestDir tmp;
    int rc = -1;
    EXPECT_TRUE(lftest::opensFifoWithoutWaiting(
        tmp.file("X.IDX"), [](const char* path) { return CEBCatalog().readSsedInfo(path, "r"); }, &rc))
        << "reading the catalog waited for a writer";
    EXPECT_EQ(0, rc);
}

// ---------------------------------------------------------------------------
// One-subbook catalogs of other dictionary formats.

namespace {

int acceptingProbe(const char*, char* title, size_t size) {
    snprintf(title, size, "%s", "Dictionary Title");
    return 0;
}

int refusingProbe(const char*, char*, size_t) {
    return -1;
}

int (CEBCatalog::*const kOpeners[4])(const char*, const char*) = {&CEBCatalog::openPdic, &CEBCatalog::openSqlite,
                                                                  &CEBCatalog::openStarDict, &CEBCatalog::openMdict};

}  // namespace

TEST(CatalogDictionaries, WithoutTheirReadersOpenersFailCleanly) {
    for (int k = 0; k < 4; ++k) {
        registerDictionaryProbe(4 + k, nullptr);
        CEBCatalog cat;
        EXPECT_EQ(0, (cat.*kOpeners[k])("/tmp/some/file.dic", "r")) << k;
        EXPECT_EQ(0, cat.count());
        EXPECT_EQ(nullptr, cat.subbook(0));
    }
}

TEST(CatalogDictionaries, TitleAndDirectoryByKind) {
    struct Case {
        int kind;
        const char* title;
        const char* directory;
    } cases[] = {
        {CEBCatalog::kPDIC, "LongDictionaryName", ""},
        {CEBCatalog::kSQLite, "Dictionary Title", "Dictiona"},
        {CEBCatalog::kStarDict, "Dictionary Title", "LongDict"},
        {CEBCatalog::kMDict, "LongDictionaryName", "LongDict"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        registerDictionaryProbe(c.kind, acceptingProbe);
        CEBCatalog cat;
        EXPECT_EQ(1, (cat.*kOpeners[c.kind - 4])("/dicts/LongDictionaryName.ext", "r"));
        EXPECT_EQ(c.kind, cat.kind());
        ASSERT_EQ(1, cat.count());
        EXPECT_STREQ(c.title, cat.title(0));
        EXPECT_STREQ(c.directory, cat.directory(0));
        EXPECT_EQ(1, cat.subbook(0)->version);
        EXPECT_EQ(1, cat.subbook(0)->indexPage);

        registerDictionaryProbe(c.kind, refusingProbe);
        EXPECT_EQ(0, (cat.*kOpeners[c.kind - 4])("/dicts/LongDictionaryName.ext", "r"));
        EXPECT_EQ(0, cat.count());
        registerDictionaryProbe(c.kind, nullptr);
    }
}

// ---------------------------------------------------------------------------
// Full-width conversion of titles.

TEST(CatalogFullWidth, ConvertsWithinTheOutputBuffer) {
    struct Case {
        const char* name;
        std::string in;
        size_t outSize;
        int result;
        Bytes out;
    } cases[] = {
        {"ASCII becomes full-width", "A1", 16, 4, {0x82, 0x60, 0x82, 0x50}},
        {"a Shift_JIS pair is kept", "\x88\x9f", 16, 2, {0x88, 0x9f}},
        {"half-width katakana becomes full-width", "\xb1", 16, 2, {0x83, 0x41}},
        {"a control byte becomes 0x00nn", "\x01", 16, 2, {0x00, 0x01}},
        {"a lone lead byte at the end becomes 0x00nn", "\x88", 16, 2, {0x00, 0x88}},
        {"a NUL ends the input", std::string("a\0b", 3), 16, 2, {0x82, 0x81}},
        {"exactly fits with its NUL", "ab", 5, 4, {0x82, 0x81, 0x82, 0x82}},
        {"one byte short", "ab", 4, -1, {}},
        {"no room at all", "a", 0, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char buf[32];
        memset(buf, 0xEE, sizeof buf);
        int n = CEBCatalog::sjisToFullWidth(reinterpret_cast<char*>(buf), c.outSize, c.in.data(), c.in.size());
        EXPECT_EQ(c.result, n);
        for (size_t i = c.outSize; i < sizeof buf; ++i) ASSERT_EQ(0xEE, buf[i]) << "written past the buffer at " << i;
        if (n >= 0) {
            EXPECT_EQ(c.out, Bytes(buf, buf + n));
            EXPECT_EQ(0, buf[n]);
        }
    }
}

// The probe's own EUC-JP conversions, which the checks above rely on.
TEST(EbProbeConversions, ShiftJisAndEucJpRoundTrip) {
    const std::string sjis = "A\x93\xfa\x96\x7b\x8c\xea\xb1\xe0\x40";  // A 日本語 ｱ 0xE040
    const std::string euc = "A\xc6\xfc\xcb\xdc\xb8\xec\x8e\xb1\xdf\xa1";
    EXPECT_EQ(euc, lftest::sjisToEuc(sjis));
    EXPECT_EQ(sjis, lftest::eucToSjis(euc));
}

// The probe's search calls over a book with a one-page prefix word index
// (0x91), so later checks of the index writer can rely on them.
TEST(EbProbeSearch, WordSearchOverAOneLeafIndex) {
    TestDir tmp;
    std::string dir = tmp.file("WORDS");
    makeDir(dir);
    makeDir(dir + "/DATA");
    {
        CBookFile book;
        ASSERT_EQ(0, book.open(dir.c_str(), "HONMON", "w", 1, 0x60, nullptr, 1, 1));
        CBlockStream* body = new CBlockStream(2, 0);
        writeBody(body, "apple pie");
        ASSERT_EQ(0, book.addEntry(0x00, body, nullptr));
        CBlockStream* headings = new CBlockStream(3, 0);
        writeBody(headings, "apple");
        ASSERT_EQ(0, book.addEntry(0x05, headings, nullptr));
        CBlockStream* index = new CBlockStream(4, 0);
        index->writeByte(0xE0);  // the only leaf page
        index->writeByte(0x00);
        index->writeWord16(1);  // one entry
        index->writeByte(10);   // key length: five two-byte codes
        for (unsigned c : {0x2341u, 0x2350u, 0x2350u, 0x234Cu, 0x2345u}) index->writeWord16(c);  // "ＡＰＰＬＥ"
        index->writeDword32(2);                                                                  // body block
        index->writeWord16(0);                                                                   // body offset
        index->writeDword32(3);                                                                  // heading block
        index->writeWord16(2);  // heading offset (after 0x1F02)
        const unsigned char style[3] = {0, 0, 0};
        ASSERT_EQ(0, book.addEntry(0x91, index, style));
        ASSERT_EQ(0, book.writeIndex());
        ASSERT_EQ(0, book.close());
    }
    CEBCatalog cat;
    ASSERT_EQ(0, cat.readCatalog(tmp.path().c_str(), "w", 1));
    ASSERT_EQ(0, cat.addSubbook("Words", "WORDS", 0, 0, nullptr, 1));
    ASSERT_EQ(0, cat.writeCatalog());

    lftest::EbProbe probe(tmp.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_TRUE(probe.haveSearch(0, lftest::EbSearchKind::Word));
    EXPECT_FALSE(probe.haveSearch(0, lftest::EbSearchKind::EndWord));
    std::vector<lftest::EbHit> hits = probe.search(0, lftest::EbSearchKind::Word, {"app"});
    ASSERT_EQ(1u, hits.size()) << probe.error();
    EXPECT_EQ(2, hits[0].textBlock);
    EXPECT_EQ(0, hits[0].textOffset);
    EXPECT_EQ(3, hits[0].headingBlock);
    EXPECT_EQ(fullWidth("apple"), probe.readHeading(0, hits[0].headingBlock, hits[0].headingOffset));
    EXPECT_EQ(1u, probe.search(0, lftest::EbSearchKind::ExactWord, {"apple"}).size()) << probe.error();
    EXPECT_TRUE(probe.search(0, lftest::EbSearchKind::ExactWord, {"app"}).empty());
    EXPECT_TRUE(probe.search(0, lftest::EbSearchKind::Word, {"pie"}).empty());
}

// An EPWING gaiji font written through CBookFile under GAIJI and named by the
// catalog's default font name is found by the EB Library.
TEST(EbProbeGaiji, NarrowSixteenDotGlyphOfAnEpwingBook) {
    TestDir tmp;
    std::string dir = tmp.file("FONTS");
    makeDir(dir);
    makeDir(dir + "/DATA");
    makeDir(dir + "/GAIJI");
    Bytes glyph(16);
    for (size_t i = 0; i < glyph.size(); ++i) glyph[i] = static_cast<unsigned char>(0x80 >> (i % 8));
    {
        CBookFile book;
        ASSERT_EQ(0, book.open(dir.c_str(), "HONMON", "w", 1, 0x60, nullptr, 1, 1));
        CBlockStream* body = new CBlockStream(2, 0);
        writeBody(body, "gaiji");
        ASSERT_EQ(0, book.addEntry(0x00, body, nullptr));
        CBlockStream* font = new CBlockStream(3, 0);
        font->writeByte(1);  // 0: 1
        font->seek(BLOCK_POS{3, 8});
        font->writeByte(8);                            // 8: width
        font->writeByte(16);                           // 9: height
        font->writeWord16(0xA121);                     // 10-11: first code
        font->writeWord16(2);                          // 12-13: two glyphs
        font->seek(BLOCK_POS{4, 0});                   // glyphs from the second block
        font->writeBytes(Bytes(16, 0).data(), 16);     // 0xA121: blank
        font->writeBytes(glyph.data(), glyph.size());  // 0xA122
        ASSERT_EQ(0, book.addEntry(0xF2, font, nullptr));
        ASSERT_EQ(0, book.writeIndex());
        ASSERT_EQ(0, book.close());
    }
    CEBCatalog cat;
    ASSERT_EQ(0, cat.readCatalog(tmp.path().c_str(), "w", 1));
    ASSERT_EQ(0, cat.addSubbook("Fonts", "FONTS", 0, 0x02, nullptr, 1));  // narrow 16 under its default name
    ASSERT_EQ(0, cat.writeCatalog());

    lftest::EbProbe probe(tmp.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(glyph, probe.glyph(0, 16, false, 0xA122)) << probe.error();
    EXPECT_EQ(Bytes(16, 0), probe.glyph(0, 16, false, 0xA121)) << probe.error();
    EXPECT_TRUE(probe.glyph(0, 16, true, 0xB121).empty());  // no wide font
}

// openPdic goes to the library's own PDIC reader: a real dictionary becomes a
// one-subbook catalog named after its file; anything else is refused.
TEST(CatalogDictionaries, OpenPdicUsesThePdicReader) {
    registerDictionaryProbe(CEBCatalog::kPDIC, nullptr);
    lftest::TestDir dir;
    const std::string dic = dir.file("EIJIDICT.dic");
    ASSERT_TRUE(lftest::writeFile(dic, lftest::buildPdic(lftest::PdicOptions(), lftest::pdicWorkedExampleBlocks())));
    const std::string junk = dir.file("junk.dic");
    ASSERT_TRUE(lftest::writeFile(junk, std::string(4096, 'x')));

    CEBCatalog cat;
    ASSERT_EQ(1, cat.openPdic(dic.c_str(), "r"));
    EXPECT_EQ(CEBCatalog::kPDIC, cat.kind());
    ASSERT_EQ(1, cat.count());
    EXPECT_STREQ("EIJIDICT", cat.title(0));
    EXPECT_STREQ("", cat.directory(0));

    EXPECT_EQ(0, cat.openPdic(junk.c_str(), "r"));
    EXPECT_EQ(0, cat.count());
}
