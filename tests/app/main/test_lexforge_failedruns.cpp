// Runs that fail must say so and must not spoil what the last good build
// wrote. Two outputs are built once for the program, the bundled sample and
// a book of the whole EDICT word list; each failing command line is then run
// against both, and the EB Library (ebinfo and a search) still reads the
// earlier book after it.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/pathutil.h"
#include "tests/common/EbProbe.h"
#include "tests/common/RunControl.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::shellQuote;
using lftest::TestDir;

const char* const kWordList = "/usr/share/edict/edict";

std::string lexforge() {
    return lftest::binDir() + "/lexforge";
}

// Runs lexforge with the words of args (quoted by the caller), the log in *out.
int lexforgeRun(const std::string& args, std::string* out, const std::string& env = "") {
    return lftest::runCommand(env + shellQuote(lexforge()) + " " + args + " 2>&1", out);
}

// One output folder of a good build and what a reader must still find in it.
struct GoodOutput {
    std::string name;                            // for the trace
    std::string title;                           // of its book, as the log names it
    std::string project;                         // the project it was built from
    std::string folder;                          // where its sources are (a project's base)
    std::string out;                             // the output folder
    std::string dir;                             // the book's folder, as the EB Library names it
    std::vector<std::string> words;              // Shift_JIS headwords the book finds
    std::map<std::string, lftest::Bytes> files;  // the output as built
};

// A project of one book over the given SourceInfo elements.
std::string projectXml(const std::string& title, const std::string& dir, const std::string& sources,
                       const std::string& more = "") {
    return "<?xml version=\"1.0\"?>\n<BookSet>\n<booklist>\n<BookInfo><source>" + sources + "</source><bookTitle>" +
           title + "</bookTitle><dirName>" + dir +
           "</dirName></BookInfo>\n</booklist>\n<outputPath>out</outputPath>\n" +
           "<ebType>1</ebType>\n<indexDef>1</indexDef>\n" + more + "</BookSet>\n";
}

std::string source(const std::string& file, const std::string& type) {
    return "<SourceInfo><inFile>$(BASE)/" + file + "</inFile><sourceTypeID>" + type + "</sourceTypeID></SourceInfo>";
}

// The EDICT list (EUC-JP) as PDIC one-line text in Shift_JIS, "headword ///
// [reading] /gloss/"; lines with a character Shift_JIS lacks are left out.
// Under the sanitizer every fourth entry, to keep the run short. Returns the
// number of entries, 0 when the list is missing; *words gets three headwords.
size_t convertWordList(const std::string& path, std::vector<std::string>* words) {
    std::ifstream in(kWordList, std::ios::binary);
    if (!in) return 0;
    iconv_t cd = iconv_open("SHIFT_JIS", "EUC-JP");
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    std::string text, line;
    std::vector<std::string> heads;
    long lineNo = 0;
    while (std::getline(in, line)) {
        if (lineNo++ == 0) continue;  // the list's own header
#if defined(__SANITIZE_ADDRESS__)
        if (lineNo % 4 != 0) continue;
#endif
        std::vector<char> buf(line.size() * 2 + 4);
        char* ip = &line[0];
        size_t il = line.size();
        char* op = buf.data();
        size_t ol = buf.size();
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        const std::string s(buf.data(), static_cast<size_t>(op - buf.data()));
        const size_t space = s.find(' ');
        if (space == std::string::npos || space == 0) continue;
        heads.push_back(s.substr(0, space));
        text += s.substr(0, space) + " /// " + s.substr(space + 1) + "\r\n";
    }
    iconv_close(cd);
    if (heads.empty() || !lftest::writeFile(path, text)) return 0;
    // Headwords that begin with a kanji, from three parts of the list.
    for (size_t part = 1; part <= 3; ++part) {
        for (size_t i = heads.size() * part / 4; i < heads.size(); ++i) {
            const unsigned char lead = static_cast<unsigned char>(heads[i][0]);
            if ((lead >= 0x89 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xE9)) {
                words->push_back(heads[i]);
                break;
            }
        }
    }
    return heads.size();
}

class FailedRuns : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TestDir;
        s_outputs = new std::vector<GoodOutput>;
        s_setupError = new std::string;
        std::string log;
        // A book big enough to be cut short by Ctrl-C.
        std::string big;
        for (int i = 0; i < 200000; ++i)
            big += "word" + std::to_string(i) + " /// meaning " + std::to_string(i) + "\r\n";
        lftest::writeFile(s_dir->file("big.txt"), big);
        // The sample, copied so that its project can be changed beside it.
        GoodOutput sample;
        sample.name = "sample";
        sample.title = "Lexforge Sample";
        sample.folder = s_dir->file("sample");
        lftest::runCommand("cp -R " + shellQuote(lftest::sampleDir()) + " " + shellQuote(sample.folder));
        sample.project = sample.folder + "/sample.lfx";
        sample.out = s_dir->file("sample-out");
        sample.dir = "sample";
        sample.words = {"melon", "peach", "tomato"};
        if (lexforgeRun("build --output " + shellQuote(sample.out) + " " + shellQuote(sample.project), &log) != 0) {
            *s_setupError = "the sample does not build:\n" + log;
            return;
        }
        sample.files = lftest::readTree(sample.out);
        s_outputs->push_back(sample);

        GoodOutput edict;
        edict.name = "edict";
        edict.title = "EDICT";
        edict.folder = s_dir->file("edict");
        makeDirectories(edict.folder.c_str());
        s_entries = convertWordList(edict.folder + "/edict.txt", &edict.words);
        if (s_entries == 0) {
            *s_setupError = std::string(kWordList) + " is missing (scripts/setup.sh installs edict)";
            return;
        }
        edict.project = edict.folder + "/edict.lfx";
        lftest::writeFile(edict.project, projectXml("EDICT", "EDICT", source("edict.txt", "5")));
        edict.out = edict.folder + "/out";
        edict.dir = "edict";
        if (lexforgeRun("build " + shellQuote(edict.project), &log) != 0) {
            *s_setupError = "the word list does not build:\n" + log;
            return;
        }
        edict.files = lftest::readTree(edict.out);
        s_outputs->push_back(edict);
    }
    static void TearDownTestSuite() {
        delete s_outputs;
        delete s_setupError;
        delete s_dir;
    }
    void SetUp() override {
        if (s_setupError->empty()) {
#if !defined(__SANITIZE_ADDRESS__)
            ASSERT_GE(s_entries, 100000u);
#endif
            return;
        }
        const char* ci = std::getenv("CI");
        if (s_entries == 0 && s_outputs->size() == 1 && !(ci != nullptr && std::string(ci) == "true"))
            GTEST_SKIP() << *s_setupError;
        FAIL() << *s_setupError;
    }

    // The last good build of g is still there byte for byte and read back
    // by the EB Library: ebinfo lists it and the search finds its words.
    static void expectStillGood(const GoodOutput& g, bool sameFiles = true) {
        SCOPED_TRACE(g.name);
        if (sameFiles) {
            const std::map<std::string, lftest::Bytes> now = lftest::readTree(g.out);
            std::string changed;
            for (const auto& f : now)
                if (!g.files.count(f.first) || g.files.at(f.first) != f.second) changed += " " + f.first;
            for (const auto& f : g.files)
                if (!now.count(f.first)) changed += " -" + f.first;
            EXPECT_EQ(changed, "") << "the output changed";
        }
        std::string info;
        EXPECT_EQ(lftest::runCommand("LC_ALL=C.UTF-8 ebinfo " + shellQuote(g.out) + " 2>&1", &info), 0) << info;
        EXPECT_NE(info.find("directory: " + g.dir), std::string::npos) << info;
        lftest::EbProbe probe(g.out);
        ASSERT_TRUE(probe.ok()) << probe.error();
        ASSERT_EQ(probe.subbooks().size(), 1u);
        EXPECT_EQ(probe.subbooks()[0].directory, g.dir);
        for (const std::string& w : g.words)
            EXPECT_FALSE(probe.search(0, lftest::EbSearchKind::Word, {w}).empty()) << w << " " << probe.error();
    }

    static TestDir* s_dir;
    static std::vector<GoodOutput>* s_outputs;
    static std::string* s_setupError;
    static size_t s_entries;
};

TestDir* FailedRuns::s_dir = nullptr;
std::vector<GoodOutput>* FailedRuns::s_outputs = nullptr;
std::string* FailedRuns::s_setupError = nullptr;
size_t FailedRuns::s_entries = 0;

// text with every token replaced by value.
std::string replaced(std::string text, const std::string& token, const std::string& value) {
    for (size_t at = 0; (at = text.find(token, at)) != std::string::npos; at += value.size())
        text.replace(at, token.size(), value);
    return text;
}

// The file of a project with one more source in its (first) book.
std::string withSource(const std::string& project, const std::string& element) {
    const lftest::Bytes bytes = lftest::readFile(project);
    std::string text(bytes.begin(), bytes.end());
    const size_t at = text.find("</source>");
    return at == std::string::npos ? std::string() : text.insert(at, element);
}

std::string textOf(const std::string& path) {
    const lftest::Bytes bytes = lftest::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// A project's text with the sources of its (first) book replaced.
std::string withSources(std::string text, const std::string& elements) {
    const size_t from = text.find("<source>");
    const size_t to = text.find("</source>");
    if (from == std::string::npos || to == std::string::npos) return std::string();
    return text.replace(from + 8, to - from - 8, elements);
}

// A project's text with one more book of the given sources.
std::string withBook(std::string text, const std::string& title, const std::string& dir, const std::string& sources) {
    const size_t at = text.find("</booklist>");
    if (at == std::string::npos) return std::string();
    return text.insert(at, "<BookInfo><source>" + sources + "</source><bookTitle>" + title + "</bookTitle><dirName>" +
                               dir + "</dirName></BookInfo>\n");
}

// Sources of which nothing can be read, in folder, with what the log says of
// each one.
struct FailingSources {
    const char* name;
    std::string elements;
    std::vector<std::string> lines;
};
std::vector<FailingSources> failingSources(const std::string& folder) {
    lftest::writeFile(folder + "/junk.dic", std::string("junk\n"));
    lftest::writeFile(folder + "/no-eijiro.txt", std::string("no entry here\r\n"));
    const std::string longName = std::string(260, 'l') + ".txt";
    return {
        {"no PDIC dictionary",
         source("junk.dic", "6"),
         {folder + "/junk.dic : not a PDIC dictionary, source left out"}},
        {"a file that is gone", source("gone.txt", "5"), {folder + "/gone.txt : can't open source file, not added"}},
        {"a path too long", source(longName, "5"), {"source path longer than 255 bytes, not added"}},
        {"all three and no EIJIRO entry",
         source("junk.dic", "6") + source("gone.txt", "5") + source(longName, "5") + source("no-eijiro.txt", "3"),
         {"not a PDIC dictionary, source left out", "gone.txt : can't open source file, not added",
          "source path longer than 255 bytes, not added", "no-eijiro.txt : no EIJIRO entry, source left out"}},
    };
}

// A book none of whose sources can be read is a failed book, as an aborted
// one is: not in the catalog, named in the log, its earlier files left
// whole; the only book of a run failing leaves the catalog as it was.
TEST_F(FailedRuns, ABookOfWhichNoSourceCanBeReadIsNotWritten) {
    for (const GoodOutput& g : *s_outputs) {
        for (const FailingSources& f : failingSources(g.folder)) {
            SCOPED_TRACE(f.name);
            const std::string project = g.folder + "/no-source.lfx";
            ASSERT_TRUE(lftest::writeFile(project, withSources(textOf(g.project), f.elements)));
            std::string log;
            EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 1) << log;
            for (const std::string& line : f.lines) EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
            EXPECT_NE(log.find("no source of the book could be read: the book is not written"), std::string::npos)
                << log;
            EXPECT_NE(log.find("book \"" + g.title + "\" failed: not in the catalog"), std::string::npos) << log;
            EXPECT_NE(log.find("No book completed: the catalog CATALOGS is left as it was"), std::string::npos) << log;
            expectStillGood(g);
        }
    }
}

// One book of several whose every source fails: the others are built and
// listed; the failed one keeps its earlier files and is left out of the
// catalog. A book with one good source among failed ones is built from it.
TEST_F(FailedRuns, OneBookOfSeveralOfWhichNoSourceCanBeReadIsLeftOut) {
    for (const GoodOutput& g : *s_outputs) {
        SCOPED_TRACE(g.name);
        const std::vector<FailingSources> failing = failingSources(g.folder);
        ASSERT_TRUE(lftest::writeFile(g.folder + "/words.txt", std::string("apple /// a fruit\r\n")));
        const std::string good = source("words.txt", "5");
        const std::string project = g.folder + "/two-books.lfx";
        ASSERT_TRUE(lftest::writeFile(project, withBook(textOf(g.project), "Words", "WORDS", good)));
        std::string log;
        ASSERT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 0) << log;
        const std::map<std::string, lftest::Bytes> both = lftest::readTree(g.out);
        {
            lftest::EbProbe probe(g.out);
            ASSERT_TRUE(probe.ok()) << probe.error();
            ASSERT_EQ(probe.subbooks().size(), 2u);
        }
        for (const FailingSources& f : failing) {
            SCOPED_TRACE(f.name);
            // The second book fails: the catalog lists the first alone.
            ASSERT_TRUE(lftest::writeFile(project, withBook(textOf(g.project), "Words", "WORDS", f.elements)));
            EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 1) << log;
            EXPECT_NE(log.find("book \"Words\" failed: not in the catalog"), std::string::npos) << log;
            EXPECT_NE(log.find("Book folder " + g.out + "/WORDS is not in this catalog: left as it is"),
                      std::string::npos)
                << log;
            std::map<std::string, lftest::Bytes> expected = both;
            expected["CATALOGS"] = g.files.at("CATALOGS");
            EXPECT_TRUE(lftest::readTree(g.out) == expected) << "the output changed";
            expectStillGood(g, false);

            // The first book fails: the second alone is listed, the first's
            // files stay as they were.
            ASSERT_TRUE(lftest::writeFile(
                project, withBook(withSources(textOf(g.project), f.elements), "Words", "WORDS", good)));
            EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 1) << log;
            EXPECT_NE(log.find("book \"" + g.title + "\" failed: not in the catalog"), std::string::npos) << log;
            const std::map<std::string, lftest::Bytes> now = lftest::readTree(g.out);
            for (const auto& file : g.files) {
                if (file.first == "CATALOGS") continue;
                EXPECT_TRUE(now.count(file.first) && now.at(file.first) == file.second) << file.first;
            }
            lftest::EbProbe probe(g.out);
            ASSERT_TRUE(probe.ok()) << probe.error();
            ASSERT_EQ(probe.subbooks().size(), 1u);
            EXPECT_EQ(probe.subbooks()[0].directory, "words");
            EXPECT_FALSE(probe.search(0, lftest::EbSearchKind::Word, {"apple"}).empty()) << probe.error();
        }
        // Failed sources beside a good one: the book is built from it, and
        // the run still fails.
        ASSERT_TRUE(
            lftest::writeFile(project, withBook(textOf(g.project), "Words", "WORDS", failing.back().elements + good)));
        EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 1) << log;
        EXPECT_EQ(log.find("failed: not in the catalog"), std::string::npos) << log;
        {
            lftest::EbProbe probe(g.out);
            ASSERT_TRUE(probe.ok()) << probe.error();
            ASSERT_EQ(probe.subbooks().size(), 2u);
            EXPECT_FALSE(probe.search(1, lftest::EbSearchKind::Word, {"apple"}).empty()) << probe.error();
        }
        // Back to the book alone, as built at first.
        lftest::runCommand("rm -rf " + shellQuote(g.out + "/WORDS") + " " + shellQuote(g.out + "/WORDS.map") + " " +
                           shellQuote(g.out + "/WORDS.plist"));
        EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(g.project), &log), 0) << log;
        expectStillGood(g);
    }
}

// A type-6 source that is no PDIC dictionary is a failed source: named with
// the reason, exit 1; the book is built from its other sources as before.
TEST_F(FailedRuns, AFileThatIsNoPdicDictionaryIsAFailedSource) {
    const struct {
        const char* name;
        std::string bytes;
    } kFiles[] = {
        {"pdic-text.txt", "apple /// fruit\r\npear /// fruit\r\n"},
        {"binary.dic", std::string("\x00\x01\x02\x03\xff\xfe", 6) + std::string(4000, '\x5a')},
        {"empty.dic", ""},
    };
    for (const GoodOutput& g : *s_outputs) {
        for (const auto& f : kFiles) {
            SCOPED_TRACE(f.name);
            const std::string file = g.folder + "/" + f.name;
            ASSERT_TRUE(lftest::writeFile(file, f.bytes));
            const std::string project = g.folder + "/bad-pdic.lfx";
            ASSERT_TRUE(lftest::writeFile(project, withSource(g.project, source(f.name, "6"))));
            std::string log;
            EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 1) << log;
            EXPECT_NE(log.find(file + " : not a PDIC dictionary, source left out"), std::string::npos) << log;
            expectStillGood(g, false);
        }
        // The good project builds the same files again.
        std::string log;
        EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(g.project), &log), 0) << log;
        expectStillGood(g);
    }
}

// The only book of a run refused (its folder is a symbolic link) or cut
// short: the catalog of the last build stays, and the log says so.
TEST_F(FailedRuns, ARunThatCompletesNoBookLeavesTheCatalog) {
    for (const GoodOutput& g : *s_outputs) {
        TestDir elsewhere;
        const std::string link = g.out + "/LINKED";
        ASSERT_EQ(symlink(elsewhere.path().c_str(), link.c_str()), 0);
        const std::string project = g.folder + "/linked.lfx";
        ASSERT_TRUE(lftest::writeFile(project, projectXml("Linked", "LINKED", source("big.txt", "5"))));
        ASSERT_TRUE(lftest::writeFile(g.folder + "/big.txt", lftest::readFile(s_dir->file("big.txt"))));
        std::string log;
        EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 1) << log;
        EXPECT_NE(log.find("No book completed: the catalog CATALOGS is left as it was"), std::string::npos) << log;
        EXPECT_EQ(unlink(link.c_str()), 0);
        EXPECT_EQ(lftest::listDir(elsewhere.path()), std::vector<std::string>());
        expectStillGood(g);

        // Ctrl-C while the only book is being built: "start.", the book's
        // empty line and its source are out by then.
        const std::string big = g.folder + "/big.lfx";
        ASSERT_TRUE(lftest::writeFile(big, projectXml("Big", "BIG", source("big.txt", "5"))));
        bool sent = false;
        const int status = lftest::runAndInterrupt(
            {lexforge(), "build", "--output", g.out, big},
            [](const std::string& o) { return std::count(o.begin(), o.end(), '\n') >= 3; }, &log, &sent);
        ASSERT_TRUE(sent) << log;
        EXPECT_EQ(status, 1) << log;
        EXPECT_NE(log.find("book \"Big\" aborted: not in the catalog"), std::string::npos) << log;
        EXPECT_NE(log.find("No book completed: the catalog CATALOGS is left as it was"), std::string::npos) << log;
        // The aborted book's folder may hold what it made before the abort,
        // never a catalog entry.
        lftest::runCommand("rm -rf " + shellQuote(g.out + "/BIG"));
        expectStillGood(g);
    }
    // Into an empty folder, no catalog is written at all.
    TestDir empty;
    ASSERT_EQ(symlink(s_dir->path().c_str(), empty.file("LINKED").c_str()), 0);
    std::string log;
    EXPECT_EQ(lexforgeRun("build --output " + shellQuote(empty.path()) + " " +
                              shellQuote((*s_outputs)[0].folder + "/linked.lfx"),
                          &log),
              1)
        << log;
    EXPECT_NE(log.find("No book completed: the catalog CATALOGS is not written"), std::string::npos) << log;
    EXPECT_EQ(lftest::listDir(empty.path()), std::vector<std::string>{"LINKED"});
}

// Well-formed XML whose root is not BookSet is no project: every command
// refuses it with exit 3 and leaves it byte for byte as it was.
TEST_F(FailedRuns, XmlThatIsNoProjectIsRefusedByEveryCommand) {
    const GoodOutput& g = (*s_outputs)[0];
    const std::string kFiles[] = {
        "<?xml version=\"1.0\"?>\n<notes><note>keep me</note><ebType>0</ebType></notes>\n",
        "<BookInfo><bookTitle>T</bookTitle><dirName>D</dirName></BookInfo>",
        "<x:BookSet xmlns:x=\"urn:x\"><outputPath>o</outputPath></x:BookSet>",
    };
    // {} is the file.
    const char* const kCommands[] = {
        "set {} delBlank=off",      "get {}",           "show {}",          "book add {} --title T --dir D",
        "book edit {} 1 --title T", "book remove {} 1", "source add {} {}", "build --output OUT {}",
        "catalog --output OUT {}",  "save-as {} NEW",
    };
    for (const std::string& xml : kFiles) {
        for (const char* command : kCommands) {
            SCOPED_TRACE(xml + " / " + command);
            TestDir dir;
            const std::string file = dir.file("mydict.xml");
            ASSERT_TRUE(lftest::writeFile(file, xml));
            const std::string args =
                replaced(replaced(replaced(command, "{}", shellQuote(file)), "OUT", shellQuote(g.out)), "NEW",
                         shellQuote(dir.file("n.lfx")));
            std::string log;
            EXPECT_EQ(lexforgeRun(args, &log), 3) << log;
            EXPECT_NE(log.find("not a Lexforge project"), std::string::npos) << log;
            EXPECT_EQ(lftest::readFile(file), lftest::Bytes(xml.begin(), xml.end()));
            EXPECT_EQ(lftest::listDir(dir.path()), std::vector<std::string>{"mydict.xml"});
        }
    }
    expectStillGood(g);
}

// Values that are no number: refused with exit 2, naming the field, from the
// command line and from the project file; nothing is written.
TEST_F(FailedRuns, ValuesThatAreNoNumberAreRefused) {
    for (const GoodOutput& g : *s_outputs) {
        const lftest::Bytes before = lftest::readFile(g.project);
        for (const char* edit : {"book edit {} 1 --han-start ZZZZ", "book edit {} 1 --zen-start 12G4",
                                 "book edit {} 1 --han-start 0x", "set {} leftMargin=abc", "set {} indent="}) {
            SCOPED_TRACE(edit);
            const std::string args = replaced(edit, "{}", shellQuote(g.project));
            std::string log;
            EXPECT_EQ(lexforgeRun(args, &log), 2) << log;
            EXPECT_EQ(lftest::readFile(g.project), before);
        }
        const struct {
            const char* field;
            std::string element;  // put into the project's book, its source or its options
            const char* where;
        } kValues[] = {
            {"leftMargin", "<leftMargin>abc</leftMargin>", "</BookSet>"},
            {"indexDef", "<indexDef>all</indexDef>", "</BookSet>"},
            {"titleLen", "<titleLen> </titleLen>", "</BookSet>"},
            {"hanStart", "<hanStart>A121</hanStart>", "</BookInfo>"},
            {"sourceTypeID", source("x.txt", ""), "</source>"},
            {"sourceTypeID", source("x.txt", "csv"), "</source>"},
        };
        for (const auto& v : kValues) {
            SCOPED_TRACE(v.element);
            const lftest::Bytes bytes = lftest::readFile(g.project);
            std::string text(bytes.begin(), bytes.end());
            const size_t at = text.rfind(v.where);
            ASSERT_NE(at, std::string::npos);
            text.insert(at, v.element);
            const std::string project = g.folder + "/bad-number.lfx";
            ASSERT_TRUE(lftest::writeFile(project, text));
            ASSERT_TRUE(lftest::writeFile(g.folder + "/x.txt", std::string("w1,apple,fruit\r\n")));
            std::string log;
            EXPECT_EQ(lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 2) << log;
            EXPECT_NE(log.find(std::string("field ") + v.field + " is refused"), std::string::npos) << log;
            EXPECT_EQ(lexforgeRun("catalog --output " + shellQuote(g.out) + " " + shellQuote(project), &log), 2) << log;
        }
        expectStillGood(g);
    }
}

// Default gaiji fonts that cannot be found: a book that needs their glyphs
// fails with the files named; one that needs none builds as before.
TEST_F(FailedRuns, MissingDefaultFontsFailOnlyTheBooksThatNeedThem) {
    TestDir noFonts;
    const std::string env = "LF_RESOURCES=" + shellQuote(noFonts.path()) + " ";
    for (const GoodOutput& g : *s_outputs) {
        SCOPED_TRACE(g.name);
        std::string log;
        const int status = lexforgeRun("build --output " + shellQuote(g.out) + " " + shellQuote(g.project), &log, env);
        if (g.name == "sample") {
            // Its accented letters are drawn from the default fonts.
            EXPECT_EQ(status, 1) << log;
            EXPECT_NE(
                log.find("the book needs glyphs of the default gaiji fonts, which cannot be read: " + noFonts.path() +
                         "/hex/8x16.hex (not found), " + noFonts.path() + "/hex/16x16.hex (not found)"),
                std::string::npos)
                << log;
            EXPECT_NE(log.find("book \"Lexforge Sample\" failed: not in the catalog"), std::string::npos) << log;
        } else {
            // Shift_JIS text has no gaiji: the same book as with the fonts.
            EXPECT_EQ(status, 0) << log;
            EXPECT_NE(log.find("Done."), std::string::npos) << log;
        }
        expectStillGood(g);
    }
}

}  // namespace
