// The conversion driver end to end: options by name, the book record, and
// books built from plain text sources, read back through the EB Library.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/CEPWing.h"
#include "builder/gaiji/CGaiji.h"
#include "foundation/book/CBookFile.h"
#include "foundation/book/CEBCatalog.h"
#include "foundation/pathutil.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

using lftest::BookRecipe;
using lftest::BookRun;
using lftest::TestDir;

namespace {

// A driver after init, with messages captured.
struct Driver {
    CEPWing* w;
    Driver() : w(new CEPWing) {
        w->init();
        lftest::capturedMessages().clear();
        w->setMessageCallback(lftest::captureMessage);
    }
    ~Driver() {
        w->term();
        delete w;
    }
};

std::vector<unsigned char> codes(std::initializer_list<unsigned> list) {
    std::vector<unsigned char> out;
    for (unsigned c : list) {
        out.push_back(static_cast<unsigned char>(c >> 8));
        out.push_back(static_cast<unsigned char>(c & 0xFF));
    }
    return out;
}

std::string slurp(const std::string& path) {
    auto b = lftest::readFile(path);
    return std::string(b.begin(), b.end());
}

}  // namespace

// ---- options by name ----

TEST(EpwingOptions, DefaultsAfterInit) {
    Driver d;
    struct Case {
        const char* name;
        int value;
    } ints[] = {{"titleLen", 128}, {"addKana", 1}, {"tableWidth", 480}, {"kwordLen", 1}, {"leftMargin", 1}};
    for (const auto& c : ints) EXPECT_EQ(d.w->getIntOption(c.name), c.value) << c.name;
    const char* onFlags[] = {"delBlank",   "delSym",           "titleWord", "hyokiSep",   "makeFig",
                             "ruby",       "HTagIndex",        "HTagMenu",  "DTTagIndex", "autoUniGaiji",
                             "eijiPronon", "eijiPartOfSpeech", "eijiBreak"};
    for (const char* f : onFlags) EXPECT_EQ(d.w->getBoolOption(f), 1) << f;
    EXPECT_EQ(d.w->getBoolOption("autoKana"), 0);
    EXPECT_STREQ(d.w->getStringOption("stopWord"), "a the");
    EXPECT_STREQ(d.w->getStringOption("delChars"), "");
    EXPECT_STREQ(d.w->getStringOption("arrowCode"), "222A");
    EXPECT_STREQ(d.w->getStringOption("kanaSep1"), "\x81\x79");
    EXPECT_STREQ(d.w->getStringOption("kanaSep2"), "\x81\x7A");
    EXPECT_EQ(d.w->options().ebType, 1);
}

TEST(EpwingOptions, SettersByNameIgnoreCaseAndUnknownNames) {
    Driver d;
    d.w->setIntOption("TITLELEN", 64);
    EXPECT_EQ(d.w->getIntOption("titleLen"), 64);
    // The int setter also takes flag names, storing the value as given.
    d.w->setIntOption("DELSYM", 0);
    EXPECT_EQ(d.w->getBoolOption("delSym"), 0);
    d.w->setIntOption("autoWord", 3);
    EXPECT_EQ(d.w->options().autoWord, 3);
    // pdic fields keep the low 16 bits; maxStringT is unsigned.
    d.w->setIntOption("pdicTitle", 0x12345);
    EXPECT_EQ(d.w->getIntOption("PdicTitle"), 0x2345);
    d.w->setIntOption("maxStringT", -1);
    EXPECT_EQ(d.w->options().maxStringT, 0xFFFFFFFFu);
    // Names the setters do not know change nothing.
    ConvertOpt before = d.w->options();
    d.w->setIntOption("stopWord", 7);
    d.w->setIntOption("noSuchOption", 7);
    d.w->setBoolOption("titleLen", false);
    d.w->setBoolOption("kanaSep1", false);
    d.w->setStringOption("titleLen", "9");
    d.w->setIntOption(nullptr, 1);
    EXPECT_EQ(std::memcmp(&before, &d.w->options(), sizeof before), 0);
    EXPECT_EQ(d.w->getIntOption("noSuchOption"), 0);
    EXPECT_EQ(d.w->getIntOption("delBlank"), 0);  // flags are not int getter names
    EXPECT_EQ(d.w->getBoolOption("titleLen"), 0);
    EXPECT_STREQ(d.w->getStringOption("noSuchOption"), "");
    // Flags are stored as 0 or 1; strings are copies.
    d.w->setBoolOption("Ruby", false);
    EXPECT_EQ(d.w->getBoolOption("ruby"), 0);
    char words[] = "an of";
    d.w->setStringOption("STOPWORD", words);
    words[0] = 'X';
    EXPECT_STREQ(d.w->getStringOption("stopWord"), "an of");
}

// ---- the book record ----

TEST(EpwingBookRecord, FontMaskCopiesOnlyItsSlots) {
    TestDir dir;
    Driver d;
    d.w->setOutput((dir.path() + "/").c_str(), 1);
    char names[8][9] = {"N16", "W16", "N24", "W24", "N30", "W30", "N48", "W48"};
    ASSERT_EQ(d.w->addCatalogBook("T", "BOOK", 0x60, 0x03, &names[0][0], false), 0);
    const BOOK_SPEC& s = d.w->bookSpec();
    EXPECT_STREQ(s.fontNames[0], "N16");
    EXPECT_STREQ(s.fontNames[1], "W16");
    for (int i = 2; i < 8; ++i) EXPECT_STREQ(s.fontNames[i], "") << i;
}

TEST(EpwingBookRecord, IndexDefZeroSelectsPrefixHeadwordSearchAlone) {
    TestDir dir;
    Driver d;
    d.w->setOutput((dir.path() + "/").c_str(), 1);
    ASSERT_EQ(d.w->newBook("T", "BOOK", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
    const int expect0[IDX_COUNT] = {1, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < IDX_COUNT; ++i) EXPECT_EQ(d.w->options().idx[i], expect0[i]) << i;
    // Bits 0..7 select the indexes; complex search needs a definition file.
    ASSERT_EQ(d.w->newBook("T", "BOOK2", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0xB2, false, 0, 0), 0);
    const int expectB2[IDX_COUNT] = {0, 1, 0, 0, 1, 0, 0, 1};
    for (int i = 0; i < IDX_COUNT; ++i) EXPECT_EQ(d.w->options().idx[i], expectB2[i]) << i;
    // 0 again: the prefix headword search alone, none of the last book's.
    ASSERT_EQ(d.w->newBook("T", "BOOK3", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
    for (int i = 0; i < IDX_COUNT; ++i) EXPECT_EQ(d.w->options().idx[i], expect0[i]) << i;
}

TEST(EpwingBookRecord, RefusesValuesThatDoNotFitOrLeaveTheOutputDirectory) {
    const std::string longTitle(81, 'T');
    const std::string longPath(256, 'p');
    char longFont[8][9];
    std::memset(longFont, 'F', sizeof longFont);  // slot 0 has no terminator
    // Font names are file names in the book's GAIJI directory.
    char pathFont[8][9] = {"../../x", "W16"};
    char dotFont[8][9] = {"N16", ".."};
    struct Case {
        const char* what;
        const char* title;
        const char* dir;
        const char* gaijiFont;
        int fontMask;
        const char* fontNames;
    } cases[] = {
        {"null directory", "T", nullptr, nullptr, 0, nullptr},
        {"empty directory", "T", "", nullptr, 0, nullptr},
        {"directory over 8 bytes", "T", "ABCDEFGHI", nullptr, 0, nullptr},
        {"parent directory", "T", "..", nullptr, 0, nullptr},
        {"path separator", "T", "A/B", nullptr, 0, nullptr},
        {"title over 80 bytes", longTitle.c_str(), "BOOK", nullptr, 0, nullptr},
        {"path over 255 bytes", "T", "BOOK", longPath.c_str(), 0, nullptr},
        {"font name over 8 bytes", "T", "BOOK", nullptr, 0x02, &longFont[0][0]},
        {"font name with a path", "T", "BOOK", nullptr, 0x02, &pathFont[0][0]},
        {"font name of the parent directory", "T", "BOOK", nullptr, 0x03, &dotFont[0][0]},
    };
    for (const auto& c : cases) {
        TestDir dir;
        Driver d;
        d.w->setOutput((dir.path() + "/").c_str(), 1);
        EXPECT_EQ(d.w->newBook(c.title, c.dir, 0x60, c.gaijiFont, nullptr, nullptr, nullptr, c.fontMask, c.fontNames, 0,
                               false, 0, 0),
                  -1)
            << c.what;
        EXPECT_EQ(d.w->catalog()->count(), 0) << c.what;
        if (c.gaijiFont == nullptr) {
            EXPECT_EQ(d.w->addCatalogBook(c.title, c.dir, 0x60, c.fontMask, c.fontNames, false), -1) << c.what;
        }
        EXPECT_EQ(d.w->catalog()->count(), 0) << c.what;
        if (c.dir != nullptr) {
            EXPECT_FALSE(lftest::capturedMessages().empty()) << c.what << ": refused without a message";
        }
    }
}

TEST(EpwingBookRecord, OutputPathThatDoesNotFitStartsNoBook) {
    TestDir dir;
    Driver d;
    const std::string longPath = dir.path() + "/" + std::string(300 - dir.path().size(), 'o') + "/";
    d.w->setOutput(longPath.c_str(), 1);
    EXPECT_EQ(d.w->newBook("T", "BOOK", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), -1);
    EXPECT_EQ(d.w->addCatalogBook("T", "BOOK", 0x60, 0, nullptr, false), -1);
    EXPECT_EQ(d.w->catalog()->count(), 0);
    EXPECT_FALSE(::fileExists("BOOK")) << "book written beside the program";
    EXPECT_GE(lftest::capturedMessages().size(), 2u);
    // Without the trailing "/" the book still goes into the directory.
    Driver e;
    e.w->setOutput(dir.path().c_str(), 1);
    ASSERT_EQ(e.w->newBook("T", "BOOK", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
    // (The text file itself gets its name when the book is complete.)
    EXPECT_TRUE(::fileExists(dir.file("BOOK/DATA").c_str()));
}

TEST(EpwingBookRecord, LongTitleIsCutToTheCatalogField) {
    // The catalog stores titles in full width: 80 bytes (40 characters) for
    // EPWING, 30 (15) for EB. A longer title is cut there, never a reason
    // to leave the book out of the catalog.
    const std::string ascii50(50, 'A');
    const std::string kanji40 = [] {
        std::string t;
        for (int i = 0; i < 40; ++i) t += "\x8e\x9a";  // 字
        return t;
    }();
    struct Case {
        const char* what;
        int ebType;
        std::string title;
        size_t chars;  // characters the catalog keeps
    } cases[] = {
        {"EPWING, 50 ASCII letters", 1, ascii50, 40},
        {"EPWING, 40 kanji fit", 1, kanji40, 40},
        {"EB, 26 letters", 0, "Concise English Dictionary", 15},
        {"EB, 15 letters fit", 0, "Concise English", 15},
    };
    for (const auto& c : cases) {
        TestDir dir;
        BookRecipe r;
        r.outDir = dir.path();
        r.ebType = c.ebType;
        r.title = c.title;
        BookRun run = lftest::buildBook(r);
        ASSERT_EQ(run.newBookResult, 0) << c.what << run.log();
        CEBCatalog cat;
        ASSERT_EQ(cat.readCatalog(dir.path().c_str(), "r", c.ebType), 1) << c.what << run.log();
        EXPECT_EQ(std::strlen(cat.title(0)), 2 * c.chars) << c.what;
        lftest::EbProbe probe(dir.path());
        ASSERT_TRUE(probe.ok()) << probe.error();
        auto subbooks = probe.subbooks();
        ASSERT_EQ(subbooks.size(), 1u) << c.what;
        EXPECT_EQ(subbooks[0].title.size(), 2 * c.chars) << c.what;
    }
}

TEST(EpwingBookRecord, DirectoryNameIsUpperCased) {
    TestDir dir;
    BookRecipe r;
    r.outDir = dir.path();
    r.dirName = "my_dict1";
    BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    EXPECT_TRUE(::fileExists(dir.file("MY_DICT1/DATA/HONMON").c_str()));
    CEBCatalog cat;
    ASSERT_EQ(cat.readCatalog(dir.path().c_str(), "r", 1), 1);
    EXPECT_STREQ(cat.directory(0), "MY_DICT1");
}

TEST(EpwingBookRecord, CatalogOnlyRunRegistersWithoutBuilding) {
    TestDir dir;
    {
        Driver d;
        d.w->setOutput((dir.path() + "/").c_str(), 1);
        ASSERT_EQ(d.w->addCatalogBook("\x8e\xab\x8f\x91", "JITEN", 0x00, 0, nullptr, false), 0);
        ASSERT_EQ(d.w->addCatalogBook("Second", "TWO", 0x60, 0, nullptr, true), 0);
        d.w->closeCatalog();
    }
    EXPECT_FALSE(::fileExists(dir.file("JITEN").c_str()));
    CEBCatalog cat;
    ASSERT_EQ(cat.readCatalog(dir.path().c_str(), "r", 1), 2);
    // EPWING catalogs pad directory names with blanks.
    EXPECT_STREQ(cat.directory(0), "JITEN   ");
    EXPECT_STREQ(cat.directory(1), "TWO     ");
    EXPECT_STREQ(cat.subbook(1)->textFileName, "HONMON2");
}

// ---- builds ----

struct EncodingCase {
    const char* name;
    int ebType;
    std::vector<unsigned char> source;
};

class EpwingBuild : public ::testing::TestWithParam<EncodingCase> {};

// "abc", a line break, あい and a last line break, in each encoding.
const EncodingCase kEncodings[] = {
    {"EpwingShiftJis", 1, {'a', 'b', 'c', '\r', '\n', 0x82, 0xA0, 0x82, 0xA2, '\n'}},
    {"EpwingUtf8", 1, {'a', 'b', 'c', '\n', 0xE3, 0x81, 0x82, 0xE3, 0x81, 0x84, '\n'}},
    {"EpwingUtf16le", 1, {0xFF, 0xFE, 'a', 0, 'b', 0, 'c', 0, '\n', 0, 0x42, 0x30, 0x44, 0x30, '\n', 0}},
    {"EbShiftJis", 0, {'a', 'b', 'c', '\n', 0x82, 0xA0, 0x82, 0xA2, '\n'}},
    {"EbUtf8", 0, {'a', 'b', 'c', '\r', 0xE3, 0x81, 0x82, 0xE3, 0x81, 0x84, '\r'}},
    {"EbUtf16le", 0, {0xFF, 0xFE, 'a', 0, 'b', 0, 'c', 0, '\r', 0, '\n', 0, 0x42, 0x30, 0x44, 0x30, '\n', 0}},
};

TEST_P(EpwingBuild, PlainSourceAndCopyrightReadBackThroughLibeb) {
    const EncodingCase& c = GetParam();
    TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("body.txt"), c.source));
    ASSERT_TRUE(lftest::writeFile(dir.file("notice.txt"), std::string("(C) 2026\n")));
    BookRecipe r;
    r.outDir = dir.path();
    r.ebType = c.ebType;
    r.title = "Plain";
    r.dirName = "PLAIN";
    r.sources.push_back({dir.file("body.txt"), "Body", 4});
    r.copyright = dir.file("notice.txt");
    BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    EXPECT_EQ(run.progress, 100);

    std::vector<std::string> expect = {"Body...", " done\r\n", "Copyright...", "done\r\n", "# of Figures=(0)\r\n"};
    if (c.ebType == 1) expect.push_back("# of Sounds=(0)\r\n");
    expect.push_back("# of Anchors(0)\r\n");
    expect.push_back("# of Links(0)\r\n");
    EXPECT_EQ(run.messages, expect);

    const char* textFile = c.ebType == 1 ? "PLAIN/DATA/HONMON" : "PLAIN/START";
    EXPECT_TRUE(::fileExists(dir.file(textFile).c_str()));
    EXPECT_TRUE(::fileExists(dir.file(c.ebType == 1 ? "CATALOGS" : "CATALOG").c_str()));

    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe.discType(), c.ebType);
    auto subbooks = probe.subbooks();
    ASSERT_EQ(subbooks.size(), 1u);
    EXPECT_EQ(subbooks[0].title, "\x82\x6f\x82\x8c\x82\x81\x82\x89\x82\x8e");  // full-width Plain
    EXPECT_EQ(subbooks[0].directory, "plain");

    // abc (a half-width run), new line, あい, new line, end of text.
    const auto want = codes({0x1F02, 0x1F04, 0x2361, 0x2362, 0x2363, 0x1F05, 0x1F0A, 0x2422, 0x2424, 0x1F0A, 0x1F03});
    auto text = probe.readText(0, 2, 0, want.size());
    EXPECT_EQ(text, want) << probe.error();

    lftest::EbCopyright cr = probe.copyright(0);
    ASSERT_TRUE(cr.found) << probe.error();
    // "(C) 2026" as one half-width run, new line, end of text.
    const auto page =
        codes({0x1F02, 0x1F04, 0x214A, 0x2343, 0x214B, 0x2121, 0x2332, 0x2330, 0x2332, 0x2336, 0x1F05, 0x1F0A, 0x1F03});
    ASSERT_GE(cr.raw.size(), page.size());
    EXPECT_EQ(std::vector<unsigned char>(cr.raw.begin(), cr.raw.begin() + page.size()), page);
    // ebinfo (eb-utils) lists the subbook and its copyright.
    std::string info;
    ASSERT_EQ(lftest::runCommand("LC_ALL=C.UTF-8 ebinfo '" + dir.path() + "'", &info), 0) << info;
    EXPECT_NE(info.find("directory: plain"), std::string::npos) << info;
    // The title in full width, as ebinfo prints it (UTF-8).
    EXPECT_NE(info.find("title: \xEF\xBC\xB0\xEF\xBD\x8C\xEF\xBD\x81\xEF\xBD\x89\xEF\xBD\x8E\n"), std::string::npos)
        << info;
    EXPECT_NE(info.find("copyright"), std::string::npos) << info;
    EXPECT_NE(info.find(c.ebType == 1 ? "disc type: EPWING\n" : "disc type: EB/"), std::string::npos) << info;
}

INSTANTIATE_TEST_SUITE_P(Encodings, EpwingBuild, ::testing::ValuesIn(kEncodings),
                         [](const ::testing::TestParamInfo<EncodingCase>& i) { return std::string(i.param.name); });

TEST(EpwingRun, SeparateMediaBookWritesHonmon2) {
    TestDir dir;
    lftest::writeFile(dir.file("a.txt"), std::string("\x82\xa0\n"));
    BookRecipe r;
    r.outDir = dir.path();
    r.separateMMData = true;
    r.sources.push_back({dir.file("a.txt"), "", 4});
    BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    EXPECT_TRUE(::fileExists(dir.file("TEST/DATA/HONMON2").c_str()));
    EXPECT_FALSE(::fileExists(dir.file("TEST/DATA/HONMON").c_str()));
    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe.readText(0, 2, 0, 6), codes({0x1F02, 0x2422, 0x1F0A})) << probe.error();
}

TEST(EpwingRun, AbortBeforeMakeGivesOneEmptyMessage) {
    TestDir dir;
    lftest::writeFile(dir.file("a.txt"), std::string("x\n"));
    BookRecipe r;
    r.outDir = dir.path();
    r.sources.push_back({dir.file("a.txt"), "", 4});
    r.abortBeforeMake = true;
    BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0);
    // The run's catalog would list no book: none is written.
    EXPECT_EQ(run.messages,
              (std::vector<std::string>{"Body...", "", "No book completed: the catalog CATALOGS is not written\r\n"}));
    EXPECT_EQ(run.progress, 100);
    EXPECT_TRUE(run.result.aborted);
    EXPECT_FALSE(run.result.written);
    EXPECT_FALSE(::fileExists(dir.file("TEST.map").c_str()));
}

TEST(EpwingRun, NextBookAfterAnAbortStartsClean) {
    TestDir dir;
    lftest::writeFile(dir.file("a.txt"), std::string("x\n"));
    Driver d;
    d.w->setOutput((dir.path() + "/").c_str(), 1);
    ASSERT_EQ(d.w->newBook("A", "A", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
    d.w->abort();
    d.w->makeBook();
    ASSERT_EQ(d.w->newBook("B", "B", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
    ASSERT_EQ(d.w->addSource(dir.file("a.txt").c_str(), nullptr, 4, nullptr), 0);
    lftest::capturedMessages().clear();
    d.w->makeBook();
    EXPECT_EQ(lftest::capturedMessages().front(), " done\r\n");
    EXPECT_EQ(lftest::capturedMessages().back(), "# of Links(0)\r\n");
    d.w->closeCatalog();
    // Only the book built whole is listed.
    CEBCatalog cat;
    ASSERT_EQ(cat.readCatalog(dir.path().c_str(), "r", 1), 1);
    const std::string listed = cat.directory(0);
    EXPECT_EQ(listed.substr(0, listed.find(' ')), "B");
    EXPECT_FALSE(::fileExists(dir.file("A/DATA/HONMON").c_str()));
}

TEST(EpwingRun, BookWithoutSourcesStillGetsItsIndexTableAndCounts) {
    TestDir dir;
    BookRecipe r;
    r.outDir = dir.path();
    BookRun run = lftest::buildBook(r);
    EXPECT_EQ(run.messages,
              (std::vector<std::string>{"Body...", " done\r\n", "# of Figures=(0)\r\n", "# of Sounds=(0)\r\n",
                                        "# of Anchors(0)\r\n", "# of Links(0)\r\n"}));
    EXPECT_TRUE(run.result.succeeded());
    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe.subbooks().size(), 1u);
}

TEST(EpwingRun, UnreadableCopyrightIsReportedAndTheBuildGoesOn) {
    struct Case {
        const char* what;
        const char* name;
        bool directory;
    } cases[] = {
        {"missing file", "missing.txt", false},
        {"a directory", "notice.d", true},
    };
    for (const auto& c : cases) {
        TestDir dir;
        // A PDIC one-line source, so that the book has a word index.
        lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\n"));
        if (c.directory) {
            ASSERT_EQ(::mkdir(dir.file(c.name).c_str(), 0755), 0);
        }
        BookRecipe r;
        r.outDir = dir.path();
        r.sources.push_back({dir.file("a.txt"), "", 5});
        r.copyright = dir.file(c.name);
        BookRun run = lftest::buildBook(r);
        ASSERT_GE(run.messages.size(), 4u) << c.what;
        EXPECT_EQ(run.messages[2], "Copyright...") << c.what;
        EXPECT_NE(run.messages[3].find(c.name), std::string::npos) << c.what << ": " << run.messages[3];
        EXPECT_EQ(run.log().find("...done\r\n"), std::string::npos) << c.what << ": no done line for the copyright";
        EXPECT_NE(run.log().find("Prefix Index...(1)\r\n"), std::string::npos) << c.what << run.log();
        EXPECT_EQ(run.messages.back(), "# of Links(0)\r\n") << c.what;
        lftest::EbProbe probe(dir.path());
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_FALSE(probe.copyright(0).found) << c.what;
        EXPECT_FALSE(probe.readText(0, 2, 0, 4).empty()) << c.what;
        EXPECT_TRUE(probe.haveSearch(0, lftest::EbSearchKind::Word)) << c.what;
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"apple"}).size(), 1u) << c.what << probe.error();
    }
}

TEST(EpwingRun, SearchAreasCarryTheKeyAttributeBytes) {
    struct Case {
        bool delSym;
        unsigned char second;  // 0x41 with symbols dropped from keys, else 0x45
    } cases[] = {{true, 0x41}, {false, 0x45}};
    for (const auto& c : cases) {
        TestDir dir;
        lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\n"));
        BookRecipe r;
        r.outDir = dir.path();
        r.indexDef = 0x05;  // prefix and suffix search by written form
        r.sources.push_back({dir.file("a.txt"), "", 5});
        const bool delSym = c.delSym;
        r.configure = [delSym](CEPWing& w) { w.setBoolOption("delSym", delSym); };
        BookRun run = lftest::buildBook(r);
        ASSERT_EQ(run.newBookResult, 0) << run.log();
        CBookFile book;
        ASSERT_EQ(book.open(dir.file("TEST/DATA").c_str(), "HONMON", "r", 1, 0, nullptr, 1, 1), 0);
        for (int id : {0x91, 0x71}) {
            INDEX_TABLE_ITEM* e = book.findEntry(id);
            ASSERT_NE(e, nullptr) << std::hex << id;
            EXPECT_EQ(std::vector<unsigned char>(e->info, e->info + 4),
                      (std::vector<unsigned char>{2, c.second, 0x55, 0x40}))
                << std::hex << id;
        }
        for (int id : {0x00, 0x05, 0x07}) {
            INDEX_TABLE_ITEM* e = book.findEntry(id);
            ASSERT_NE(e, nullptr) << std::hex << id;
            EXPECT_EQ(std::vector<unsigned char>(e->info + 1, e->info + 4), std::vector<unsigned char>(3, 0))
                << std::hex << id;
        }
    }
}

TEST(EpwingRun, CopyrightBelongsToItsOwnBook) {
    TestDir dir;
    lftest::writeFile(dir.file("a.txt"), std::string("x\n"));
    lftest::writeFile(dir.file("notice.txt"), std::string("(C)\n"));
    Driver d;
    d.w->setOutput((dir.path() + "/").c_str(), 1);
    ASSERT_EQ(d.w->newBook("A", "A", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
    ASSERT_EQ(d.w->addSource(dir.file("a.txt").c_str(), nullptr, 4, nullptr), 0);
    d.w->setCopyright(dir.file("notice.txt").c_str());
    d.w->makeBook();
    // The second book names no copyright file: it gets no copyright page.
    ASSERT_EQ(d.w->newBook("B", "B", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
    ASSERT_EQ(d.w->addSource(dir.file("a.txt").c_str(), nullptr, 4, nullptr), 0);
    lftest::capturedMessages().clear();
    d.w->makeBook();
    for (const auto& m : lftest::capturedMessages()) EXPECT_EQ(m.find("Copyright"), std::string::npos) << m;
    d.w->closeCatalog();
    lftest::EbProbe probe(dir.path());
    EXPECT_TRUE(probe.copyright(0).found) << probe.error();
    EXPECT_FALSE(probe.copyright(1).found);
}

TEST(EpwingRun, MakeAfterAFailedOpenOnlyReportsIt) {
    TestDir dir;
    lftest::writeFile(dir.file("a.txt"), std::string("x\n"));
    // The output "directory" is a file: the book directory cannot be made.
    lftest::writeFile(dir.file("out"), std::string("file"));
    Driver d;
    d.w->setOutput((dir.file("out") + "/").c_str(), 1);
    EXPECT_EQ(d.w->newBook("T", "BOOK", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), -1);
    EXPECT_EQ(lftest::capturedMessages().back(), "can't create output folder(" + dir.file("out") + "/BOOK)\r\n");
    EXPECT_EQ(d.w->addSource(dir.file("a.txt").c_str(), nullptr, 4, nullptr), 0);
    lftest::capturedMessages().clear();
    d.w->makeBook();
    ASSERT_EQ(lftest::capturedMessages().size(), 1u);
    EXPECT_EQ(lftest::capturedMessages()[0], "no book is open(make)\r\n");
    EXPECT_EQ(d.w->getProgress(), 100);
    // A book that was not built is not listed.
    EXPECT_EQ(d.w->catalog()->count(), 0);
}

// ---- gaiji ----

namespace {

// 8x16 glyph for U+00E9 and 16x16 glyph for U+20B9F, as hex font lines.
const char kNarrowHex[] = "00000000183C66667E6060663C000000";
const char kWideHex[] = "0000100010001FFC20044008BFF4000000003FF8200820083FF8200800000000";

std::vector<unsigned char> hexBytes(const char* hex) {
    std::vector<unsigned char> out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

}  // namespace

TEST(EpwingGaiji, FontsFollowTheGaijiTheTextUsed) {
    TestDir dir;
    // UTF-8: "é𠮟": neither has a Shift_JIS form, so each becomes a gaiji.
    lftest::writeFile(dir.file("g.txt"), std::string("\xC3\xA9\xF0\xA0\xAE\x9F\n"));
    lftest::writeFile(dir.file("8x16.hex"), std::string("8 16\n00E9:") + kNarrowHex + "\n");
    lftest::writeFile(dir.file("16x16.hex"), std::string("16 16\n20B9F:") + kWideHex + "\n");
    BookRecipe r;
    r.outDir = dir.path();
    r.dirName = "GAIJI";
    r.hexFonts = {dir.file("8x16.hex"), dir.file("16x16.hex")};
    r.sources.push_back({dir.file("g.txt"), "", 4});
    r.fontMask = 0;  // no font named: the catalog must still name the written fonts
    BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    const std::string log = run.log();
    EXPECT_NE(log.find("Gaiji(8x16)...(1) done\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Gaiji(16x16)...(1) done\r\n"), std::string::npos) << log;
    EXPECT_LT(log.find("Gaiji(8x16)"), log.find("Gaiji(16x16)"));
    EXPECT_LT(log.find("Gaiji(16x16)"), log.find("# of Anchors"));

    CEBCatalog cat;
    ASSERT_EQ(cat.readCatalog(dir.path().c_str(), "r", 1), 1);
    EXPECT_NE(cat.subbook(0)->fontNames[0][0], 0) << "narrow 16 font not named";
    EXPECT_NE(cat.subbook(0)->fontNames[1][0], 0) << "wide 16 font not named";

    // The viewer gaiji map lists both, in code order.
    EXPECT_EQ(slurp(dir.file("GAIJI.map")), "hA121\tu00e9\t\nzB121\tu20b9f\t\n");
    const std::string plist = slurp(dir.file("GAIJI.plist"));
    EXPECT_NE(plist.find("<key>hA121</key><string>\xC3\xA9</string>\n"), std::string::npos) << plist;
    EXPECT_NE(plist.find("<key>zB121</key><string>\xF0\xA0\xAE\x9F</string>\n"), std::string::npos) << plist;

    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    auto text = probe.readText(0, 2, 0, 64);
    std::string t(text.begin(), text.end());
    EXPECT_NE(t.find(std::string("\xA1\x21")), std::string::npos) << "narrow gaiji code in the text";
    EXPECT_NE(t.find(std::string("\xB1\x21")), std::string::npos) << "wide gaiji code in the text";
    EXPECT_EQ(probe.glyph(0, 16, false, 0xA121), hexBytes(kNarrowHex)) << probe.error();
    EXPECT_EQ(probe.glyph(0, 16, true, 0xB121), hexBytes(kWideHex)) << probe.error();
}

// A run reads each hex font once and hands the same reading to every book;
// the next run reads the file again.
TEST(EpwingGaiji, HexFontIsReadOncePerRunAndSharedByItsBooks) {
    TestDir dir;
    const std::string font = dir.file("8x16.hex");
    const std::string set = std::string(128, '#'), clear = std::string(128, ' ');
    lftest::writeFile(font, "8 16\n00E9:" + std::string(32, 'F') + "\n");
    CEPWing w;
    auto glyphOfNextBook = [&](const char* dirName) {
        EXPECT_EQ(w.newBook("T", dirName, 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
        EXPECT_EQ(w.loadHexFont(font.c_str()), 0);
        EXPECT_EQ(w.loadHexFont(dir.file("missing.hex").c_str()), -1);
        const std::string* g = w.book()->getGaiji()->hexBitmap(GAIJI_8X16, 0xE9);
        std::string text = g ? *g : "none";
        w.makeBook();
        return text;
    };
    w.init();
    w.setOutput((dir.path() + "/").c_str(), 1);
    EXPECT_EQ(glyphOfNextBook("ONE"), set);
    lftest::writeFile(font, "8 16\n00E9:" + std::string(32, '0') + "\n");
    EXPECT_EQ(glyphOfNextBook("TWO"), set);
    w.closeCatalog();
    w.term();
    w.init();
    w.setOutput((dir.path() + "/").c_str(), 1);
    EXPECT_EQ(glyphOfNextBook("THREE"), clear);
    w.term();
}

TEST(EpwingGaiji, EbBookCarriesItsFontsInTheTextFile) {
    TestDir dir;
    lftest::writeFile(dir.file("g.txt"), std::string("\xC3\xA9\n"));
    lftest::writeFile(dir.file("8x16.hex"), std::string("8 16\n00E9:") + kNarrowHex + "\n");
    BookRecipe r;
    r.outDir = dir.path();
    r.ebType = 0;
    r.hexFonts = {dir.file("8x16.hex")};
    r.sources.push_back({dir.file("g.txt"), "", 4});
    BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    EXPECT_NE(run.log().find("Gaiji(8x16)...(1) done\r\n"), std::string::npos) << run.log();
    EXPECT_EQ(run.log().find("Gaiji(16x16)"), std::string::npos);
    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe.glyph(0, 16, false, 0xA121), hexBytes(kNarrowHex)) << probe.error();
}

TEST(EpwingGaiji, NarrowFontOf24DotsKeepsOneOfTwoSizesAndIsNamed) {
    TestDir dir;
    // A font definition with both 24-dot narrow sizes, one glyph each.
    std::string def = "<FONTSET size=\"12X24\" start=\"A121\">\n<FONTDATA>\n";
    for (int row = 0; row < 24; ++row) def += std::string(12, row % 2 ? '#' : '.') + "\n";
    def += "</FONTDATA>\n</FONTSET>\n<FONTSET size=\"16X24\" start=\"A121\">\n<FONTDATA>\n";
    for (int row = 0; row < 24; ++row) def += std::string(16, row % 2 ? '.' : '#') + "\n";
    def += "</FONTDATA>\n</FONTSET>\n";
    lftest::writeFile(dir.file("fonts.xml"), def);
    lftest::writeFile(dir.file("a.txt"), std::string("x\n"));
    BookRecipe r;
    r.outDir = dir.path();
    r.gaijiFont = dir.file("fonts.xml");
    r.sources.push_back({dir.file("a.txt"), "", 4});
    BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    const std::string log = run.log();
    EXPECT_NE(log.find("Gaiji(16x24)...(1) done\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Gaiji(12x24)...("), std::string::npos) << log;
    CEBCatalog cat;
    ASSERT_EQ(cat.readCatalog(dir.path().c_str(), "r", 1), 1);
    EXPECT_NE(cat.subbook(0)->fontNames[2][0], 0) << "24-dot narrow font not named";
    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    std::vector<unsigned char> want;
    for (int row = 0; row < 24; ++row) {
        unsigned char b = row % 2 ? 0x00 : 0xFF;
        want.push_back(b);
        want.push_back(b);
    }
    EXPECT_EQ(probe.glyph(0, 24, false, 0xA121), want) << probe.error();
}

TEST(EpwingRun, CopyrightThatFailsHalfwayLeavesNoArea) {
    TestDir dir;
    lftest::writeFile(dir.file("g.txt"), std::string("\xC3\xA9\n"));
    lftest::writeFile(dir.file("8x16.hex"), std::string("8 16\n00E9:00000000183C66667E6060663C000000\n"));
    // A sparse copyright file above the plain reader's size limit: opened,
    // then refused by the reader after its area was begun.
    const std::string big = dir.file("big.txt");
    lftest::writeFile(big, std::string("x"));
    ASSERT_EQ(::truncate(big.c_str(), 300LL * 1024 * 1024), 0);
    BookRecipe r;
    r.outDir = dir.path();
    r.ebType = 0;  // the font area goes into the text file, after the copyright
    r.hexFonts = {dir.file("8x16.hex")};
    r.sources.push_back({dir.file("g.txt"), "", 4});
    r.copyright = big;
    BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    EXPECT_NE(run.log().find("source file too large(CPlainParser)"), std::string::npos) << run.log();
    EXPECT_NE(run.log().find("Gaiji(8x16)...(1) done\r\n"), std::string::npos) << run.log();
    // No copyright record, and no two areas share a block.
    CBookFile book;
    ASSERT_EQ(book.open(dir.file("TEST").c_str(), "START", "r", 0, 0, nullptr, 1, 1), 0);
    EXPECT_EQ(book.findEntry(0x02), nullptr);
    std::vector<uint32_t> starts;
    for (INDEX_TABLE_ITEM* e = book.firstEntry(); e != nullptr; e = book.nextEntry()) starts.push_back(e->start);
    for (size_t i = 0; i < starts.size(); ++i)
        for (size_t j = i + 1; j < starts.size(); ++j) EXPECT_NE(starts[i], starts[j]) << "areas " << i << " and " << j;
    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_FALSE(probe.copyright(0).found);
    EXPECT_EQ(probe.glyph(0, 16, false, 0xA121), hexBytes(kNarrowHex)) << probe.error();
}

// A hex font that cannot be used fails a book only when the book needs one
// of its glyphs; the log names the files with the reason.
TEST(EpwingGaiji, AMissingHexFontFailsOnlyABookThatNeedsItsGlyphs) {
    TestDir dir;
    lftest::writeFile(dir.file("16x16.hex"), std::string("16 16\n20B9F:") + kWideHex + "\n");
    lftest::writeFile(dir.file("bad.hex"), std::string("48 48\n0041:00\n"));
    lftest::writeFile(dir.file("accent.txt"), std::string("caf\xC3\xA9\n"));
    lftest::writeFile(dir.file("wide.txt"), std::string("\xF0\xA0\xAE\x9F\n"));
    lftest::writeFile(dir.file("plain.txt"), std::string("cafe\n"));
    const std::string missing = dir.file("hex/8x16.hex");
    const struct {
        const char* source;
        std::string narrowFont;
        bool built;
        std::string named;  // in the failure line
    } kCases[] = {
        {"accent.txt", missing, false, missing + " (not found)"},
        {"accent.txt", dir.file("bad.hex"), false, dir.file("bad.hex") + " (not a hex font of 8x16, 16x16"},
        // The wide glyph is in the font that is there.
        {"wide.txt", missing, true, ""},
        {"plain.txt", missing, true, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.narrowFont);
        TestDir out;
        BookRecipe r;
        r.outDir = out.path();
        r.hexFonts = {c.narrowFont, dir.file("16x16.hex")};
        r.sources.push_back({dir.file(c.source), "", 4});
        BookRun run = lftest::buildBook(r);
        EXPECT_EQ(run.result.written, c.built) << run.log();
        CEBCatalog cat;
        EXPECT_EQ(cat.readCatalog(out.path().c_str(), "r", 1), c.built ? 1 : 0);
        if (c.built) continue;
        EXPECT_NE(run.log().find("the book needs glyphs of the default gaiji fonts, which cannot be read: " + c.named),
                  std::string::npos)
            << run.log();
        EXPECT_FALSE(fileExists(out.file("TEST/DATA/HONMON").c_str()));
    }
}

namespace {

std::string joinedMessages() {
    std::string all;
    for (const std::string& m : lftest::capturedMessages()) all += m;
    return all;
}

}  // namespace

// A catalog is only written when it lists a book: one of no book would make
// the folder unreadable.
TEST(EpwingRun, ACatalogOfNoBookIsNeverWritten) {
    for (int ebType : {1, 0}) {
        SCOPED_TRACE(ebType);
        const std::string name = ebType ? "CATALOGS" : "CATALOG";
        TestDir dir;
        {
            Driver d;
            d.w->setOutput((dir.path() + "/").c_str(), ebType);
            EXPECT_FALSE(d.w->closeCatalog());
            EXPECT_NE(joinedMessages().find("No book completed: the catalog " + name + " is not written\r\n"),
                      std::string::npos);
        }
        EXPECT_EQ(lftest::listDir(dir.path()), std::vector<std::string>());

        ASSERT_EQ(lftest::buildPlainTextBook(dir.path(), dir.file("a.txt"), "apple\n", ebType).result.written, true);
        const lftest::Bytes earlier = lftest::readFile(dir.file(name));
        ASSERT_FALSE(earlier.empty());
        {
            Driver d;
            d.w->setOutput((dir.path() + "/").c_str(), ebType);
            // A book that never completes: it is refused at its start.
            EXPECT_NE(d.w->newBook("T", "B/C", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0),
                      0);
            EXPECT_FALSE(d.w->closeCatalog());
            EXPECT_NE(joinedMessages().find("No book completed: the catalog " + name + " is left as it was\r\n"),
                      std::string::npos);
        }
        EXPECT_EQ(lftest::readFile(dir.file(name)), earlier);
        lftest::EbProbe probe(dir.path());
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_EQ(probe.subbooks().size(), 1u);
    }
}
