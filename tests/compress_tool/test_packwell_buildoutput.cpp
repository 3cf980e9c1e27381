// Packwell over the whole output of a Lexforge build of several books, as a
// user runs it: into a tree, back out of it, and in place. After every run
// each book reads in the EB Library, the viewer gaiji maps and property lists
// beside the books are kept as they are, and nothing is a failure; a run that
// would write two books' files to one name is refused.

#include "foundation/pathutil.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

using lftest::Bytes;
using lftest::TestDir;

namespace {

const int kBooks = 3;

std::string bookDir(int i) {
    return "B" + std::to_string(i);
}

// The headword of book i that the EB Library must find.
std::string word(int i) {
    return "apple" + std::to_string(i);
}

// Runs a program of ours in dir; standard output into *out (and standard
// error with it when asked).
int runIn(const std::string& dir, const std::string& program, const std::string& args, std::string* out,
          bool withStderr = false) {
    return lftest::runCommand("cd '" + dir + "' && '" + lftest::binDir() + "/" + program + "' " + args +
                                  (withStderr ? " 2>&1" : " 2>/dev/null"),
                              out);
}

// Builds one book per CSV text (id, headword, meaning) into root with
// Lexforge: book i is in folder bookDir(i).
void buildProject(const TestDir& t, const std::string& root, const std::vector<std::string>& csvs) {
    std::string xml = "<?xml version=\"1.0\"?>\n<BookSet>\n<booklist>\n";
    for (size_t i = 0; i < csvs.size(); ++i) {
        const std::string source = "words" + std::to_string(i) + ".csv";
        ASSERT_TRUE(lftest::writeFile(t.file(source), csvs[i]));
        xml += "<BookInfo><source><SourceInfo><inFile>$(BASE)/" + source +
               "</inFile><sourceTypeID>9</sourceTypeID><fields>enc=utf-8;delim=,;fields=id|headword|meaning|"
               "</fields></SourceInfo></source><bookTitle>Book " +
               std::to_string(i) + "</bookTitle><dirName>" + bookDir(i) +
               "</dirName><g8x16>GAI16H00</g8x16><g16x16>GAI16F00</g16x16><hanStart>41249</hanStart>"
               "<zenStart>45345</zenStart></BookInfo>\n";
    }
    xml +=
        "</booklist>\n<outputPath>" + root + "</outputPath>\n<ebType>1</ebType>\n<indexDef>1</indexDef>\n</BookSet>\n";
    ASSERT_TRUE(lftest::writeFile(t.file("books.lfx"), xml));
    std::string log;
    ASSERT_EQ(0, runIn(t.path(), "lexforge", "build books.lfx", &log, true)) << log;
}

// Builds kBooks books into root with Lexforge. Book i has i + 1 letters
// that are no JIS characters, so it gets a gaiji font and a viewer map of
// 13 bytes per gaiji (all under 32 bytes) and a property list.
void buildBooks(const TestDir& t, const std::string& root) {
    // Letters outside JIS X 0208, in UTF-8: é, ï, ñ.
    const char* const letters[] = {"\xc3\xa9", "\xc3\xaf", "\xc3\xb1"};
    std::vector<std::string> csvs;
    for (int i = 0; i < kBooks; ++i) {
        std::string csv;
        for (int k = 0; k <= i; ++k) csv += "w" + std::to_string(k) + ",caf" + letters[k] + ",drink\n";
        csvs.push_back(csv + "x," + word(i) + ",fruit\n");
    }
    buildProject(t, root, csvs);
}

// What each book must read back as: its first gaiji glyph from the build.
struct Expected {
    std::vector<Bytes> glyphs;
};

// Every book of the folder reads in the EB Library: its subbook is there, its
// word is found and its gaiji glyph is the one built.
void expectBooksRead(const std::string& dir, const Expected& e) {
    SCOPED_TRACE(dir);
    lftest::EbProbe probe(dir);
    ASSERT_TRUE(probe.ok()) << probe.error();
    std::vector<lftest::EbSubbook> subbooks = probe.subbooks();
    ASSERT_EQ(size_t(kBooks), subbooks.size()) << probe.error();
    for (int i = 0; i < kBooks; ++i) {
        EXPECT_EQ("b" + std::to_string(i), subbooks[i].directory);
        EXPECT_EQ(1u, probe.search(i, lftest::EbSearchKind::Word, {word(i)}).size()) << word(i) << probe.error();
        EXPECT_EQ(e.glyphs[i], probe.glyph(i, 16, false, 0xA121)) << bookDir(i) << probe.error();
    }
}

// The viewer maps and property lists of the build, by path below the book folder.
std::map<std::string, Bytes> besideFiles(const std::string& root) {
    std::map<std::string, Bytes> out;
    for (const auto& f : lftest::readTree(root)) {
        const std::string& name = f.first;
        if (name.find('/') == std::string::npos && name != "CATALOGS") out.insert(f);
    }
    return out;
}

// Each viewer map and property list was logged as kept (at where/NAME) and
// nothing failed.
void expectKeptLines(const std::string& log, const std::string& where, const std::map<std::string, Bytes>& beside) {
    EXPECT_EQ(std::string::npos, log.find("failed")) << log;
    for (const auto& f : beside)
        EXPECT_NE(std::string::npos, log.find(" >> " + where + "/" + f.first + "  not a book file: kept as it is\n"))
            << f.first << "\n"
            << log;
}

}  // namespace

TEST(PackwellBuildOutput, TreeAndInPlaceRunsKeepEveryBookReadable) {
    TestDir t;
    const std::string books = t.file("BOOKS");
    buildBooks(t, books);
    if (HasFatalFailure()) return;
    const std::map<std::string, Bytes> beside = besideFiles(books);
    ASSERT_EQ(size_t(2 * kBooks), beside.size());
    for (int i = 0; i < kBooks; ++i) {
        ASSERT_EQ(1u, beside.count(bookDir(i) + ".plist"));
        ASSERT_EQ(size_t(13 * (i + 1)), beside.at(bookDir(i) + ".map").size()) << "a map of " << i + 1 << " gaiji";
    }
    Expected e;
    {
        lftest::EbProbe built(books);
        ASSERT_TRUE(built.ok()) << built.error();
        for (int i = 0; i < kBooks; ++i) {
            e.glyphs.push_back(built.glyph(i, 16, false, 0xA121));
            ASSERT_EQ(16u, e.glyphs.back().size()) << built.error();
        }
    }
    expectBooksRead(books, e);
    for (const char* d : {"OUT", "DOT", "BACK"}) ASSERT_EQ(0, mkdir(t.file(d).c_str(), 0755));
    std::string log;

    // Into a tree: OUT/B0/DATA/HONMON.ebz, the maps and lists copied beside.
    ASSERT_EQ(0, runIn(t.path(), "packwell", "shrink --level 2 --tree --out OUT BOOKS", &log)) << log;
    expectKeptLines(log, t.file("OUT"), beside);
    for (int i = 0; i < kBooks; ++i)
        EXPECT_TRUE(fileExists(t.file("OUT/" + bookDir(i) + "/DATA/HONMON.ebz").c_str())) << log;
    EXPECT_EQ(beside, besideFiles(t.file("OUT")));
    expectBooksRead(t.file("OUT"), e);

    // "." names the book folder itself: the same tree.
    ASSERT_EQ(0, runIn(books, "packwell", "shrink --level 2 --tree --out ../DOT .", &log)) << log;
    EXPECT_EQ(lftest::readTree(t.file("OUT")), lftest::readTree(t.file("DOT")));

    // Out of the tree again.
    ASSERT_EQ(0, runIn(t.path(), "packwell", "expand --tree --out BACK OUT", &log)) << log;
    expectKeptLines(log, t.file("BACK"), beside);
    for (int i = 0; i < kBooks; ++i)
        EXPECT_EQ(lftest::readFile(books + "/" + bookDir(i) + "/DATA/HONMON"),
                  lftest::readFile(t.file("BACK/" + bookDir(i) + "/DATA/HONMON.org")));
    EXPECT_EQ(beside, besideFiles(t.file("BACK")));
    expectBooksRead(t.file("BACK"), e);

    // In place, deleting the inputs: the maps and lists stay where they are.
    ASSERT_EQ(0, runIn(t.path(), "packwell", "shrink --delete-input BOOKS", &log)) << log;
    expectKeptLines(log, books, beside);
    EXPECT_FALSE(fileExists((books + "/B0/DATA/HONMON").c_str()));
    EXPECT_EQ(beside, besideFiles(books));
    expectBooksRead(books, e);

    ASSERT_EQ(0, runIn(t.path(), "packwell", "expand --delete-input BOOKS", &log)) << log;
    expectKeptLines(log, books, beside);
    EXPECT_FALSE(fileExists((books + "/B0/DATA/HONMON.ebz").c_str()));
    EXPECT_EQ(beside, besideFiles(books));
    expectBooksRead(books, e);

    ASSERT_EQ(0, runIn(t.path(), "packwell", "check BOOKS OUT", &log)) << log;
    EXPECT_EQ(std::string::npos, log.find("Failure")) << log;
}

// Without --tree the books' HONMON files would all be one file in --out:
// the run is refused before anything is written, naming two of them.
TEST(PackwellBuildOutput, OneOutputNameForTwoBooksIsRefused) {
    TestDir t;
    const std::string books = t.file("BOOKS");
    buildBooks(t, books);
    if (HasFatalFailure()) return;
    ASSERT_EQ(0, mkdir(t.file("OUT").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("FLAT").c_str(), 0755));
    std::string log;
    ASSERT_EQ(0, runIn(t.path(), "packwell", "shrink --tree --out OUT BOOKS", &log)) << log;
    const struct {
        const char* command;
        const char* from;
        const char* stored;  // name of a book text as the command reads it
        const char* written;
    } cases[] = {{"shrink", "BOOKS", "HONMON", "HONMON.ebz"}, {"expand", "OUT", "HONMON.ebz", "HONMON.org"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const std::map<std::string, Bytes> before = lftest::readTree(t.file(c.from));
        std::string out;
        EXPECT_EQ(2, runIn(t.path(), "packwell", std::string(c.command) + " --delete-input --out FLAT " + c.from, &out,
                           true));
        const std::string dir = t.file(c.from);
        EXPECT_EQ("packwell: " + dir + "/B0/DATA/" + c.stored + " and " + dir + "/B1/DATA/" + c.stored +
                      " would both be written to " + t.file("FLAT/") + c.written +
                      "; nothing was written (--tree keeps each file's folders below --out)\n",
                  out);
        EXPECT_EQ(std::vector<std::string>(), lftest::listDir(t.file("FLAT")));
        EXPECT_EQ(before, lftest::readTree(t.file(c.from)));
    }
}

// A book without gaiji gets an empty viewer map. Every folder walk keeps it
// as the small file it is: copied into the tree and logged as kept, by
// shrink and by expand, and passed over by check; the book still reads.
TEST(PackwellBuildOutput, TheEmptyMapOfABookWithoutGaijiIsKept) {
    TestDir t;
    const std::string books = t.file("BOOKS");
    buildProject(t, books, {"x," + word(0) + ",fruit\n"});
    if (HasFatalFailure()) return;
    const std::map<std::string, Bytes> beside = besideFiles(books);
    ASSERT_EQ(1u, beside.count(bookDir(0) + ".map"));
    ASSERT_EQ(Bytes(), beside.at(bookDir(0) + ".map"));
    for (const char* d : {"OUT", "BACK"}) ASSERT_EQ(0, mkdir(t.file(d).c_str(), 0755));

    std::string log;
    ASSERT_EQ(0, runIn(t.path(), "packwell", "shrink --tree --out OUT BOOKS", &log)) << log;
    expectKeptLines(log, t.file("OUT"), beside);
    EXPECT_EQ(beside, besideFiles(t.file("OUT")));
    ASSERT_EQ(0, runIn(t.path(), "packwell", "expand --tree --out BACK OUT", &log)) << log;
    expectKeptLines(log, t.file("BACK"), beside);
    EXPECT_EQ(beside, besideFiles(t.file("BACK")));
    ASSERT_EQ(0, runIn(t.path(), "packwell", "check OUT", &log)) << log;
    EXPECT_EQ("CRC Check\t" + t.file("OUT/B0/DATA/HONMON.ebz") + "\n->  Success !\ndone!\n", log);

    lftest::EbProbe probe(t.file("OUT"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(1u, probe.search(0, lftest::EbSearchKind::Word, {word(0)}).size()) << probe.error();
}
