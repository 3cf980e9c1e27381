// What `lexforge build` writes into the output folder: every file under a
// temporary name renamed over its final name, never through a symbolic link
// planted there, and no book written into a linked folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/pathutil.h"
#include "tests/common/EbProbe.h"
#include "tests/common/RunControl.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::TestDir;

std::string lexforge() {
    return lftest::binDir() + "/lexforge";
}

std::string sample() {
    return std::string(LF_SOURCE_DIR) + "/examples/sample/sample.lfx";
}

int build(const std::string& output, const std::string& project, std::string* out) {
    return lftest::runCommand("'" + lexforge() + "' build --output '" + output + "' '" + project + "' 2>&1", out);
}

bool isLink(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool isRegular(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// No temporary file of the builder is left anywhere below dir.
void expectNoTemporaries(const std::string& dir) {
    std::string out;
    lftest::runCommand("find '" + dir + "' -name '.lexforge-*'", &out);
    EXPECT_EQ(out, "") << "left behind:\n" << out;
}

TEST(LexforgeOutputs, ALinkAtAnOutputFileIsReplacedAndItsTargetKept) {
    // Each planted link points at a file of the user's elsewhere; the build
    // must replace the link by its own file and leave the target as it was.
    const char* const kLinked[] = {
        "CATALOGS", "SAMPLE/DATA/HONMON", "SAMPLE/GAIJI/GAI16H00", "SAMPLE.map", "SAMPLE.plist",
    };
    for (const char* name : kLinked) {
        SCOPED_TRACE(name);
        TestDir dir;
        const std::string victim = dir.file("precious.txt");
        const std::string kept = "the user's own file, not a book file\n";
        ASSERT_TRUE(lftest::writeFile(victim, kept));
        const std::string out = dir.file("out");
        ASSERT_EQ(makeDirectories((out + "/SAMPLE/DATA").c_str()), 0);
        ASSERT_EQ(makeDirectories((out + "/SAMPLE/GAIJI").c_str()), 0);
        const std::string link = out + "/" + name;
        ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);

        std::string log;
        EXPECT_EQ(build(out, sample(), &log), 0) << log;
        EXPECT_EQ(lftest::readFile(victim), lftest::Bytes(kept.begin(), kept.end()));
        EXPECT_TRUE(isRegular(link)) << "the link was not replaced by the book's file";
        expectNoTemporaries(dir.path());
        lftest::EbProbe probe(out);
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"melon"}).size(), 1u) << probe.error();
    }
}

TEST(LexforgeOutputs, ALinkedFolderOfTheBookIsRefusedAndNamed) {
    // A folder of the book that is a link to a folder elsewhere receives
    // nothing: the book is refused with the path named, exit 1.
    const char* const kLinked[] = {"SAMPLE", "SAMPLE/DATA", "SAMPLE/GAIJI"};
    for (const char* name : kLinked) {
        SCOPED_TRACE(name);
        TestDir dir;
        const std::string elsewhere = dir.file("elsewhere");
        ASSERT_EQ(makeDirectories(elsewhere.c_str()), 0);
        const std::string out = dir.file("out");
        ASSERT_EQ(makeDirectories((out + "/SAMPLE").c_str()), 0);
        const std::string link = out + "/" + name;
        if (std::string(name) == "SAMPLE") rmdir(link.c_str());
        ASSERT_EQ(symlink(elsewhere.c_str(), link.c_str()), 0);

        std::string log;
        EXPECT_EQ(build(out, sample(), &log), 1) << log;
        EXPECT_NE(log.find("symbolic link(" + link + ")"), std::string::npos) << log;
        EXPECT_EQ(lftest::listDir(elsewhere), std::vector<std::string>()) << "written through the link";
        EXPECT_TRUE(isLink(link));
        expectNoTemporaries(dir.path());
    }
}

// One book of a test project: title, directory name, its sources as
// SourceInfo elements.
struct ProjectBook {
    std::string title, dir;
    std::string sources;
    std::string extra;  // more BookInfo elements
};

// A PDIC one-line source element for a file of the base folder.
std::string pdicSource(const std::string& file, const std::string& type = "5") {
    return "<SourceInfo><inFile>$(BASE)/" + file + "</inFile><sourceTypeID>" + type + "</sourceTypeID></SourceInfo>";
}

std::string projectXml(const std::vector<ProjectBook>& books, const std::string& output,
                       const std::string& ebType = "1", const std::string& more = "") {
    std::string xml = "<?xml version=\"1.0\"?>\n<BookSet>\n<booklist>\n";
    for (const ProjectBook& b : books)
        xml += "<BookInfo><source>" + b.sources + "</source><bookTitle>" + b.title + "</bookTitle><dirName>" + b.dir +
               "</dirName>" + b.extra + "</BookInfo>\n";
    return xml + "</booklist>\n<outputPath>" + output + "</outputPath>\n<ebType>" + ebType +
           "</ebType>\n<indexDef>1</indexDef>\n" + more + "</BookSet>\n";
}

std::vector<ProjectBook> numberedBooks(int n) {
    std::vector<ProjectBook> books;
    for (int i = 0; i < n; ++i)
        books.push_back({"Book " + std::to_string(i), "B" + std::to_string(i), pdicSource("a.txt"), ""});
    return books;
}

std::string run(const std::string& command, const std::string& project, std::string* out) {
    const int rc = lftest::runCommand("'" + lexforge() + "' " + command + " '" + project + "' 2>&1", out);
    return std::to_string(rc);
}

// How many books, how the catalog run and the build end: 0 books and more
// than the catalog holds are refused before anything is written.
TEST(LexforgeOutputs, CatalogCountsAreCheckedBeforeAnythingIsWritten) {
    const struct {
        const char* name;
        int books;
        const char* ebType;
        const char* status;
        const char* message;  // in the log
    } cases[] = {
        {"no book", 0, "1", "1", "Not started: the project has no complete book"},
        {"twelve EPWING books", 12, "1", "0", "Done."},
        {"thirteen EPWING books", 13, "1", "1",
         "Not started: the project has 13 books; an EPWING catalog holds at most 12."},
        {"thirteen EB books", 13, "0", "0", "Done."},
    };
    for (const auto& c : cases) {
        for (const char* command : {"catalog", "build"}) {
            SCOPED_TRACE(std::string(c.name) + " " + command);
            TestDir dir;
            ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n")));
            const std::string out = dir.file("out");
            ASSERT_TRUE(lftest::writeFile(dir.file("p.lfx"), projectXml(numberedBooks(c.books), out, c.ebType)));
            std::string log;
            EXPECT_EQ(run(command, dir.file("p.lfx"), &log), c.status) << log;
            EXPECT_NE(log.find(c.message), std::string::npos) << log;
            if (std::string(c.status) != "0") {
                EXPECT_FALSE(fileExists(out.c_str())) << "the output was touched";
                continue;
            }
            lftest::EbProbe probe(out);
            ASSERT_TRUE(probe.ok()) << probe.error();
            EXPECT_EQ(probe.subbooks().size(), static_cast<size_t>(c.books));
        }
    }
}

// A value of the project file that no field takes is refused with exit 2,
// naming the field and the value, before the output is touched.
TEST(LexforgeOutputs, FieldValuesNoFieldTakesAreRefused) {
    const struct {
        const char* field;
        const char* value;
        const char* accepted;
    } cases[] = {
        {"ebType", "5", "0 (EB) or 1 (EPWING)"},   {"ebType", "-1", "0 (EB) or 1 (EPWING)"},
        {"ebType", "abc", "0 (EB) or 1 (EPWING)"}, {"sourceTypeID", "8", "0 to 7 or 9"},
        {"sourceTypeID", "10", "0 to 7 or 9"},     {"sourceTypeID", "42", "0 to 7 or 9"},
        {"sourceTypeID", "-3", "0 to 7 or 9"},     {"bookTypeID", "999", "0 to 255"},
        {"bookTypeID", "x", "0 to 255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.value);
        TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n")));
        const std::string field = c.field;
        ProjectBook book{"Book", "BOOK", pdicSource("a.txt", field == "sourceTypeID" ? c.value : "5"),
                         field == "bookTypeID" ? std::string("<bookTypeID>") + c.value + "</bookTypeID>" : ""};
        const std::string out = dir.file("out");
        ASSERT_TRUE(lftest::writeFile(dir.file("p.lfx"), projectXml({book}, out, field == "ebType" ? c.value : "1")));
        for (const char* command : {"build", "catalog"}) {
            std::string log;
            EXPECT_EQ(run(command, dir.file("p.lfx"), &log), "2") << log;
            EXPECT_NE(log.find(std::string("Not started: the project's ") + c.field + " \"" + c.value +
                               "\" is not accepted (" + c.accepted + ")."),
                      std::string::npos)
                << log;
            EXPECT_FALSE(fileExists(out.c_str())) << "the output was touched";
        }
    }
    // An option out of the range the book can carry, likewise.
    for (const char* margin : {"-2", "70000"}) {
        TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n")));
        ASSERT_TRUE(lftest::writeFile(dir.file("p.lfx"),
                                      projectXml({{"Book", "BOOK", pdicSource("a.txt"), ""}}, dir.file("out"), "1",
                                                 std::string("<leftMargin>") + margin + "</leftMargin>\n")));
        std::string log;
        EXPECT_EQ(run("build", dir.file("p.lfx"), &log), "2") << log;
        EXPECT_NE(log.find(std::string("Not started: leftMargin ") + margin + " is outside 0..65534."),
                  std::string::npos)
            << log;
        EXPECT_FALSE(fileExists(dir.file("out").c_str()));
    }
}

// Text fields read CDATA sections as text; a relative output folder lies
// beside the project file; a title longer than the catalog keeps is named.
TEST(LexforgeOutputs, ProjectTextsAndPathsAsTheUserMeantThem) {
    TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n")));
    std::vector<ProjectBook> books = {{"<![CDATA[Book 0]]>", "<![CDATA[ZERO]]>", pdicSource("a.txt"), ""},
                                      {"Sixteen letters!", "LONG", pdicSource("a.txt"), ""}};
    ASSERT_TRUE(lftest::writeFile(dir.file("p.lfx"), projectXml(books, "rel-out/", "0")));
    std::string log;
    // Started from another folder: the output is still beside the project.
    EXPECT_EQ(lftest::runCommand("cd / && '" + lexforge() + "' build '" + dir.file("p.lfx") + "' 2>&1", &log), 1)
        << log;
    EXPECT_NE(log.find("book \"Sixteen letters!\" skipped: the title has 16 characters; an EB catalog keeps 15"),
              std::string::npos)
        << log;
    lftest::EbProbe probe(dir.file("rel-out"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    ASSERT_EQ(probe.subbooks().size(), 1u);
    EXPECT_EQ(probe.subbooks()[0].directory, "zero");
}

std::string csvSource(const std::string& file) {
    return "<SourceInfo><inFile>$(BASE)/" + file +
           "</inFile><sourceTypeID>9</sourceTypeID><fields>enc=utf-8;delim=,;fields=headword|meaning|</fields>"
           "</SourceInfo>";
}

// A build over an earlier output leaves exactly the books it built: the
// other family's catalog, files of a built book it did not write this time
// (fonts, the other family's text file, compressed forms) are removed, and
// the folders of books no longer listed are named and kept.
TEST(LexforgeOutputs, ARebuildLeavesExactlyTheBooksItBuilt) {
    const struct {
        const char* name;
        std::vector<ProjectBook> first, second;
        const char* firstType;
        const char* secondType;
        std::vector<std::string> planted;  // files made between the builds
        std::vector<std::string> listed;   // directories of the second catalog
        std::vector<std::string> gone;     // files that must not remain
        std::vector<std::string> kept;     // folders that must remain, named in the log
    } cases[] = {
        {"EB then EPWING",
         {{"One", "ONE", pdicSource("a.txt"), ""}, {"Two", "TWO", pdicSource("a.txt"), ""}},
         {{"One", "ONE", pdicSource("a.txt"), ""}},
         "0",
         "1",
         {},
         {"one"},
         {"CATALOG", "ONE/START"},
         {"TWO"}},
        {"gaiji then none",
         {{"One", "ONE", csvSource("accents.csv"), ""}},
         {{"One", "ONE", pdicSource("a.txt"), ""}},
         "1",
         "1",
         {},
         {"one"},
         {"ONE/GAIJI/GAI16H00"},
         {}},
        {"ten books then three",
         numberedBooks(10),
         numberedBooks(3),
         "1",
         "1",
         {},
         {"b0", "b1", "b2"},
         {},
         {"B3", "B4", "B5", "B6", "B7", "B8", "B9"}},
        {"compressed forms an earlier run left",
         {{"One", "ONE", pdicSource("a.txt"), ""}},
         {{"One", "ONE", pdicSource("a.txt"), ""}},
         "1",
         "1",
         {"CATALOGS.ebz", "ONE/DATA/HONMON.ebz", "ONE/GAIJI/GAI16F00.ebz", "ONE/DATA/.lexforge-Ab12Cd"},
         {"one"},
         {"CATALOGS.ebz", "ONE/DATA/HONMON.ebz", "ONE/GAIJI/GAI16F00.ebz", "ONE/DATA/.lexforge-Ab12Cd"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n")));
        ASSERT_TRUE(lftest::writeFile(dir.file("accents.csv"), std::string("caf\xC3\xA9,coffee\n")));
        const std::string out = dir.file("out");
        ASSERT_TRUE(lftest::writeFile(dir.file("p1.lfx"), projectXml(c.first, out, c.firstType)));
        ASSERT_TRUE(lftest::writeFile(dir.file("p2.lfx"), projectXml(c.second, out, c.secondType)));
        std::string log;
        ASSERT_EQ(run("build", dir.file("p1.lfx"), &log), "0") << log;
        for (const std::string& f : c.planted) ASSERT_TRUE(lftest::writeFile(out + "/" + f, std::string(2048, 'x')));
        ASSERT_EQ(run("build", dir.file("p2.lfx"), &log), "0") << log;

        lftest::EbProbe probe(out);
        ASSERT_TRUE(probe.ok()) << probe.error();
        std::vector<std::string> listed;
        for (const auto& sb : probe.subbooks()) listed.push_back(sb.directory);
        EXPECT_EQ(listed, c.listed);
        for (size_t i = 0; i < listed.size(); ++i)
            EXPECT_EQ(probe.search(static_cast<int>(i), lftest::EbSearchKind::Word, {"apple"}).size(), 1u)
                << listed[i] << " " << probe.error();
        for (const std::string& f : c.gone) EXPECT_FALSE(fileExists((out + "/" + f).c_str())) << f << " remains";
        for (const std::string& d : c.kept) {
            EXPECT_TRUE(fileExists((out + "/" + d).c_str())) << d << " was removed";
            EXPECT_NE(log.find("Book folder " + out + "/" + d + " is not in this catalog: left as it is"),
                      std::string::npos)
                << log;
        }
        // No gaiji font of the earlier build is left for the reader.
        if (std::string(c.name) == "gaiji then none") {
            EXPECT_TRUE(probe.glyph(0, 16, false, 0xA121).empty());
        }
        expectNoTemporaries(dir.path());
    }
}

// Ctrl-C after a number of log lines, while a rebuild of a good book is
// under way: the book's earlier files stay whole, it is named and not
// listed, the other book is built.
TEST(LexforgeOutputs, AnAbortedRebuildLeavesTheEarlierBookWhole) {
    TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n")));
    std::string big;
    for (int i = 0; i < 200000; ++i) big += "word" + std::to_string(i) + " /// meaning " + std::to_string(i) + "\r\n";
    ASSERT_TRUE(lftest::writeFile(dir.file("big.txt"), big));
    const std::string out = dir.file("out");
    ASSERT_TRUE(lftest::writeFile(dir.file("p1.lfx"), projectXml({{"Big", "BIG", pdicSource("a.txt"), ""}}, out)));
    ASSERT_TRUE(lftest::writeFile(
        dir.file("p2.lfx"),
        projectXml({{"Big", "BIG", pdicSource("big.txt"), ""}, {"Two", "TWO", pdicSource("a.txt"), ""}}, out)));
    std::string log;
    ASSERT_EQ(run("build", dir.file("p1.lfx"), &log), "0") << log;
    const lftest::Bytes earlier = lftest::readFile(out + "/BIG/DATA/HONMON");
    ASSERT_FALSE(earlier.empty());

    // "start.", the book's empty line, its source: the big book is being
    // built after the third line.
    const long kLinesBeforeAbort = 3;
    bool sent = false;
    const int status = lftest::runAndInterrupt(
        {lexforge(), "build", dir.file("p2.lfx")},
        [](const std::string& o) { return std::count(o.begin(), o.end(), '\n') >= kLinesBeforeAbort; }, &log, &sent);
    ASSERT_TRUE(sent) << log;
    EXPECT_EQ(status, 1) << log;
    EXPECT_NE(log.find("book \"Big\" aborted: not in the catalog\n"), std::string::npos) << log;
    EXPECT_EQ(lftest::readFile(out + "/BIG/DATA/HONMON"), earlier) << "the earlier book was not left whole";
    expectNoTemporaries(dir.path());
    lftest::EbProbe probe(out);
    ASSERT_TRUE(probe.ok()) << probe.error();
    ASSERT_EQ(probe.subbooks().size(), 1u);
    EXPECT_EQ(probe.subbooks()[0].directory, "two");
    EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"apple"}).size(), 1u) << probe.error();
}

// A copyright page that cannot be read is a part of the book that could not
// be made: the book is written and listed without it, and the run fails.
TEST(LexforgeOutputs, ACopyrightPageThatCannotBeReadFailsTheRun) {
    const struct {
        const char* name;
        int kind;  // 0 missing, 1 a folder, 2 a FIFO
    } cases[] = {{"missing file", 0}, {"folder", 1}, {"FIFO", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n")));
        const std::string page = dir.file("notice.txt");
        if (c.kind == 1) {
            ASSERT_EQ(mkdir(page.c_str(), 0755), 0);
        } else if (c.kind == 2) {
            ASSERT_EQ(mkfifo(page.c_str(), 0644), 0);
        }
        const std::string out = dir.file("out");
        ASSERT_TRUE(lftest::writeFile(
            dir.file("p.lfx"),
            projectXml({{"Book", "BOOK", pdicSource("a.txt"), "<copyright>$(BASE)/notice.txt</copyright>"}}, out)));
        std::string log;
        EXPECT_EQ(run("build", dir.file("p.lfx"), &log), "1") << log;
        EXPECT_NE(log.find("can't open copyright file(" + page + ")"), std::string::npos) << log;
        lftest::EbProbe probe(out);
        ASSERT_TRUE(probe.ok()) << probe.error();
        ASSERT_EQ(probe.subbooks().size(), 1u);
        EXPECT_FALSE(probe.copyright(0).found);
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"apple"}).size(), 1u) << probe.error();
    }
}

// save-as into another folder keeps what "$(BASE)" meant: the copy builds.
TEST(LexforgeOutputs, SaveAsElsewhereKeepsTheBase) {
    TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n")));
    ASSERT_TRUE(
        lftest::writeFile(dir.file("p.lfx"), projectXml({{"Book", "BOOK", pdicSource("a.txt"), ""}}, dir.file("out"))));
    ASSERT_EQ(makeDirectories(dir.file("copies").c_str()), 0);
    std::string log;
    ASSERT_EQ(
        lftest::runCommand(
            "'" + lexforge() + "' save-as '" + dir.file("p.lfx") + "' '" + dir.file("copies/q.lfx") + "' 2>&1", &log),
        0)
        << log;
    EXPECT_EQ(run("build", dir.file("copies/q.lfx"), &log), "0") << log;
    EXPECT_EQ(log.find("can't open source file"), std::string::npos) << log;
}

}  // namespace
