// build/bin/lexforge's editing commands end to end: the bundled sample made
// from nothing and built to the same book, edits of lists and option tabs
// read back from the saved file, the wizard on its own, and refusals that
// leave the project file as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/project/BookSet.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::TestDir;

std::string lexforge() {
    return lftest::binDir() + "/lexforge";
}

struct Result {
    int status;
    std::string out, err;
};

// lexforge with args, run in folder; standard output and error apart.
Result run(const std::string& folder, const std::string& args) {
    TestDir tmp;
    Result r;
    std::string command = "cd " + lftest::shellQuote(folder) + " && " + lftest::shellQuote(lexforge()) + " " + args +
                          " 2>" + lftest::shellQuote(tmp.file("err"));
    r.status = lftest::runCommand(command, &r.out);
    lftest::Bytes err = lftest::readFile(tmp.file("err"));
    r.err.assign(err.begin(), err.end());
    return r;
}

// The sample's inputs copied into dir, as a user's own files.
void copySampleFiles(const TestDir& dir) {
    for (const char* name : {"dict.html", "words.csv", "terms.txt", "copyright.txt"})
        ASSERT_TRUE(lftest::writeFile(dir.file(name), lftest::readFile(lftest::sampleDir() + "/" + name))) << name;
}

// A project loaded as the model reads it.
BookSet* load(const std::string& path) {
    BookSet* set = BookSet::sharedBookSet();
    set->clear();
    EXPECT_TRUE(set->loadXMLFile(path)) << path;
    return set;
}

TEST(LexforgeProjects, MakeTheSampleFromNothingAndBuildTheSameBook) {
    TestDir dir;
    copySampleFiles(dir);
    const std::vector<std::string> commands = {
        "new s.lfx --output book prefixHyoki=on suffixHyoki=on suffixKana=on keywordIndex=on",
        "book add s.lfx --title 'Lexforge Sample' --dir sample --type EIWA --copyright copyright.txt",
        "source add s.lfx --type markup --title 'Fruit and vegetables' dict.html",
        "source add s.lfx --type delimited --title Words words.csv",
        "source add s.lfx --type pdic-line --title Terms terms.txt",
        "wizard words.csv --enc utf-8 --delim , --column 1=id --column 2=headword --column 3=kana "
        "--column 4=keyword --column 5=meaning --source s.lfx 2",
    };
    for (const std::string& c : commands) {
        Result r = run(dir.path(), c);
        ASSERT_EQ(r.status, 0) << c << "\n" << r.out << r.err;
        EXPECT_EQ(r.err, "") << c;
    }
    EXPECT_EQ(run(dir.path(), "book add s.lfx --title Extra --dir EXTRA").out, "book 2\n");
    EXPECT_EQ(run(dir.path(), "source add s.lfx --book 2 terms.txt").out, "source 1 of book 2\n");
    ASSERT_EQ(run(dir.path(), "book remove s.lfx 2").status, 0);
    // The wizard showed the columns with their types and the spec it stored.
    Result w = run(dir.path(), commands.back());
    EXPECT_NE(w.out.find("2       headword  café"), std::string::npos) << w.out;
    EXPECT_NE(w.out.find("spec: enc=utf-8;delim=,;fields=id|headword|kana|keyword|meaning|\n"), std::string::npos)
        << w.out;

    // The same sources, in the base folder's form, as the bundled project.
    BookSet* set = load(dir.file("s.lfx"));
    ASSERT_EQ(set->getBookArray().size(), 1u);
    const BookInfo& book = set->getBookArray()[0];
    EXPECT_EQ(book.dirName(), "SAMPLE");
    EXPECT_EQ(book.bookTypeID(), 0x20);
    EXPECT_EQ(book.copyright(), "$(BASE)/copyright.txt");
    ASSERT_EQ(book.getSource().size(), 3u);
    EXPECT_EQ(book.getSource()[1].inFile(), "$(BASE)/words.csv");
    EXPECT_EQ(set->indexDef(), 95);
    set->clear();

    Result show = run(dir.path(), "show s.lfx");
    ASSERT_EQ(show.status, 0) << show.err;
    for (const char* part : {"book 1: Lexforge Sample\n", "  source 2: $(BASE)/words.csv\n", "type=9 delimited",
                             "fields=enc=utf-8;delim=,;fields=id|headword|kana|keyword|meaning|\n", "outputPath=book/"})
        EXPECT_NE(show.out.find(part), std::string::npos) << part << "\n" << show.out;

    Result built = run(dir.path(), "build s.lfx");
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    TestDir ref;
    Result bundled = run(ref.path(), "build --output out " + lftest::shellQuote(lftest::sampleDir() + "/sample.lfx"));
    ASSERT_EQ(bundled.status, 0) << bundled.out << bundled.err;
    auto made = lftest::readTree(dir.file("book")), expected = lftest::readTree(ref.file("out"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(made.size(), expected.size());
    for (const auto& f : expected) {
        auto it = made.find(f.first);
        ASSERT_NE(it, made.end()) << f.first;
        EXPECT_TRUE(it->second == f.second) << f.first << " differs";
    }
}

TEST(LexforgeProjects, ListEditsAndOptionTabsReachTheSavedFile) {
    TestDir dir;
    copySampleFiles(dir);
    const std::vector<std::string> commands = {
        "new p.lfx --family EB --output out",
        "book add p.lfx --title One --dir one",
        "book add p.lfx --title Two --dir two --type 0x50 --fonts A,B,C --han-start a200 --separate on",
        "book add p.lfx --title Three --dir three",
        "book move p.lfx 3 --to 1",
        "book remove p.lfx 2",
        "book edit p.lfx 2 --title Second --fonts ,X,D",
        "source add p.lfx --book 2 --type 4 terms.txt",
        "source add p.lfx --book 2 --type 9 --fields 'enc=utf-8;delim=,;fields=|headword||' words.csv",
        "source add p.lfx --book 2 dict.html",
        "source move p.lfx --book 2 3 --to 1",
        "source remove p.lfx --book 2 2",
        "source edit p.lfx --book 2 2 --title W --fields 'enc=utf-8;delim=,;fields=|headword|||meaning|'",
        "set p.lfx ebType=EPWING srchUnit=paragraph eijiYomi=ruby pdicTitle=LATIN1 leftMargin=3 "
        "'stopWord=an of' titleOrder=1 crossIndex=on delBlank=off",
    };
    for (const std::string& c : commands) {
        Result r = run(dir.path(), c);
        ASSERT_EQ(r.status, 0) << c << "\n" << r.out << r.err;
    }
    BookSet* set = load(dir.file("p.lfx"));
    const auto& books = set->getBookArray();
    ASSERT_EQ(books.size(), 2u);
    EXPECT_EQ(books[0].bookTitle(), "Three");
    EXPECT_EQ(books[1].bookTitle(), "Second");
    EXPECT_EQ(books[1].dirName(), "TWO");
    EXPECT_EQ(books[1].bookTypeID(), 0x50);
    EXPECT_EQ(books[1].hanStart(), 0xA200u);
    EXPECT_TRUE(books[1].separateMMData());
    EXPECT_EQ(books[1].fontName(1), "X");
    EXPECT_EQ(books[1].fontName(2), "D");
    const auto& sources = books[1].getSource();
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].inFile(), "$(BASE)/dict.html");
    EXPECT_EQ(sources[0].sourceTypeID(), 0);
    EXPECT_EQ(sources[1].inFile(), "$(BASE)/words.csv");
    EXPECT_EQ(sources[1].title(), "W");
    EXPECT_EQ(sources[1].fields(), "enc=utf-8;delim=,;fields=|headword|||meaning|");
    const ConvertOpt& o = *set->getConvertOpt();
    EXPECT_EQ(set->ebType(), 1);
    EXPECT_EQ(set->indexDef(), 0x43 | 0x80);
    EXPECT_EQ(set->outputPath(), "out/");
    EXPECT_EQ(o.srchUnit, 1);
    EXPECT_EQ(o.eijiYomi, 1);
    EXPECT_EQ(o.pdicTitle, 2);
    EXPECT_EQ(o.leftMargin, 3);
    EXPECT_STREQ(o.stopWord, "an of");
    EXPECT_EQ(o.titleOrder, 1);
    EXPECT_EQ(o.delBlank, 0);
    set->clear();

    Result get = run(dir.path(), "get p.lfx ebType srchUnit stopWord crossIndex leftMargin");
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "ebType=EPWING\nsrchUnit=paragraph\nstopWord=an of\ncrossIndex=on\nleftMargin=3\n");
}

TEST(LexforgeProjects, TheWizardOnItsOwnShowsColumnsAndProposesASpec) {
    TestDir dir;
    lftest::writeFile(dir.file("e.txt"), std::string("word\treading\tsense\nmelon\tめろん\tfruit\ntea\tちゃ\tdrink"));
    lftest::writeFile(dir.file("u.csv"), std::string("w,k\nx,y\n"));
    // Shift_JIS and TAB when nothing is answered.
    Result r = run(dir.path(), "wizard e.txt --header --column 1=headword --column 3=meaning");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(", delimiter TAB, 3 columns\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("column  type      name"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1       headword  word             melon | tea\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("spec: enc=shift_jis;delim=\\t;fields=headword||meaning|\n"), std::string::npos) << r.out;
    r = run(dir.path(), "wizard u.csv --enc utf-8 --delim ,");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("utf-8, delimiter \",\", 2 columns"), std::string::npos) << r.out;
    // The first reading (Shift_JIS, TAB) gave one column and its type entry;
    // entries stay by position when the line is read again.
    EXPECT_NE(r.out.find("spec: enc=utf-8;delim=,;fields=|\n"), std::string::npos) << r.out;
    EXPECT_EQ(lftest::listDir(dir.path()), (std::vector<std::string>{"e.txt", "u.csv"}));
}

// Every refusal: exit 2, one line on standard error naming what was
// refused, the project file byte for byte as it was.
TEST(LexforgeProjects, RefusalsLeaveTheProjectAsItWas) {
    TestDir dir;
    copySampleFiles(dir);
    for (const char* c : {"new p.lfx --output out", "book add p.lfx --title One --dir ONE",
                          "source add p.lfx --type 9 --fields 'enc=utf-8;delim=,;fields=id|headword|' words.csv"})
        ASSERT_EQ(run(dir.path(), c).status, 0) << c;
    const lftest::Bytes before = lftest::readFile(dir.file("p.lfx"));
    const struct {
        const char* args;
        const char* named;
    } cases[] = {
        {"book edit p.lfx 5 --title X", "book 5: no such book (the project has 1)"},
        {"book add p.lfx --title T", "the book dialog refused --dir: empty"},
        {"book add p.lfx --title T --dir TOO_LONG_NAME", "refused --dir: directory name"},
        {"book add p.lfx --title T --dir D --han-start 1FFFF", "refused --han-start"},
        {"book add p.lfx --title T --dir D --fonts GAIJIFONT8", "refused --fonts (the 8x16 name)"},
        {"book add p.lfx --title T --dir D --copyright gone.txt", "--copyright: no file"},
        {"book add p.lfx --title T --dir D --type NOVEL", "--type NOVEL"},
        {"book add p.lfx --title T --dir D --separate maybe", "--separate maybe"},
        {"book move p.lfx 1 --to 2", "--to 2: no such place"},
        {"book remove p.lfx 0", "book \"0\" is no number"},
        {"book edit p.lfx 1 --colour red", "unknown option: --colour"},
        {"source add p.lfx gone.csv", "FILE: no file"},
        {"source add p.lfx --book 3 terms.txt", "book 3: no such book"},
        {"source add p.lfx --type 8 terms.txt", "--type 8"},
        {"source edit p.lfx 9 --title X", "source 9 of book 1: no such source (the book has 1)"},
        {"source remove p.lfx --book 2 1", "book 2: no such book"},
        {"source add p.lfx --type 4 --fields 'fields=headword|' terms.txt", "wizard is for delimited text"},
        {"source add p.lfx --type 9 --fields 'enc=utf-8;delim=,;fields=word|' words.csv", "type \"word\""},
        {"source add p.lfx --type 9 --fields 'enc=utf-8;delim=,;fields=||||||headword|' words.csv",
         "column 7: the first line of"},
        {"source edit p.lfx 1 --fields 'enc=latin1;fields=id|'", "\"enc=latin1\" is no part of a field spec"},
        {"set p.lfx leftMargin=abc", "leftMargin=abc: not an integer"},
        {"set p.lfx nosuch=1", "nosuch: no such option"},
        {"set p.lfx ebType=CD", "ebType=CD: one of EB, EPWING"},
        {"set p.lfx menuIndex=maybe", "menuIndex=maybe: on or off"},
        {"set p.lfx srchUnit=chapter", "one of section, paragraph"},
        {"set p.lfx menuIndex", "\"menuIndex\" is not NAME=VALUE"},
        {"get p.lfx nosuch", "nosuch: no such option"},
        {"wizard words.csv --enc latin1 --source p.lfx 1", "--enc latin1"},
        {"wizard words.csv --enc utf-8 --delim , --column 9=headword --source p.lfx 1", "column 9"},
        {"wizard words.csv --source p.lfx 4", "source 4 of book 1: no such source"},
        {"wizard gone.csv --source p.lfx 1", "FILE: no file"},
        {"new p.lfx", "exists (give --force to replace it)"},
        {"book shelve p.lfx 1", "unknown command: book shelve"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Result r = run(dir.path(), c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_EQ(r.err.compare(0, 10, "lexforge: "), 0) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_TRUE(lftest::readFile(dir.file("p.lfx")) == before);
    }
    // A project that cannot be read, and a key=value one that Save would not
    // write back.
    EXPECT_EQ(run(dir.path(), "book add none.lfx --title T --dir D").status, 3);
    lftest::writeFile(dir.file("old.lfs"), std::string("OutPath=/out\r\n"));
    Result lfs = run(dir.path(), "set old.lfs menuIndex=off");
    EXPECT_EQ(lfs.status, 2);
    EXPECT_NE(lfs.err.find("key=value project: save it as .lfx first"), std::string::npos) << lfs.err;
}

}  // namespace
