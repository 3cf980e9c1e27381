// build/bin/lexforge end to end: the sample project built, listed and read
// back through the EB Library; catalog-only runs; the exit statuses; Ctrl-C;
// save-as of a key=value project.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "app/project/BookSet.h"
#include "foundation/pathutil.h"
#include "tests/common/EbProbe.h"
#include "tests/common/RunControl.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::TestDir;

std::string lexforge() {
    return lftest::binDir() + "/lexforge";
}

// Runs lexforge with args; its standard output (and standard error when
// asked) into *out.
int run(const std::string& args, std::string* out, bool withStderr = false) {
    return lftest::runCommand("'" + lexforge() + "' " + args + (withStderr ? " 2>&1" : " 2>/dev/null"), out);
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// An XML project file of books, each "TITLE:DIR:SOURCE,SOURCE" with PDIC
// one-line sources named relative to the base folder.
std::string project(const std::string& output, const std::vector<std::string>& books) {
    std::string xml = "<?xml version=\"1.0\"?>\n<BookSet>\n<booklist>\n";
    for (const std::string& b : books) {
        size_t c1 = b.find(':'), c2 = b.find(':', c1 + 1);
        xml += "<BookInfo><source>";
        std::string sources = b.substr(c2 + 1);
        for (size_t start = 0; start < sources.size();) {
            size_t comma = sources.find(',', start);
            if (comma == std::string::npos) comma = sources.size();
            xml += "<SourceInfo><inFile>$(BASE)/" + sources.substr(start, comma - start) +
                   "</inFile><sourceTypeID>5</sourceTypeID></SourceInfo>";
            start = comma + 1;
        }
        xml += "</source><bookTitle>" + b.substr(0, c1) + "</bookTitle><dirName>" + b.substr(c1 + 1, c2 - c1 - 1) +
               "</dirName></BookInfo>\n";
    }
    return xml + "</booklist>\n<outputPath>" + output + "</outputPath>\n<indexDef>3</indexDef>\n</BookSet>\n";
}

TEST(LexforgeCli, BuildsTheSampleProject) {
    TestDir dir;
    std::string out;
    ASSERT_EQ(run("build --output '" + dir.file("book") + "' '" + lftest::sampleDir() + "/sample.lfx'", &out), 0)
        << out;
    EXPECT_EQ(out.compare(0, 7, "start.\n"), 0) << out;
    EXPECT_TRUE(endsWith(out, "\nDone.\n")) << out;
    for (const char* source : {"dict.html", "words.csv", "terms.txt"})
        EXPECT_NE(out.find(lftest::sampleDir() + "/" + source + "\n"), std::string::npos) << source << "\n" << out;
    EXPECT_TRUE(fileExists(dir.file("book/CATALOGS").c_str()));
    EXPECT_TRUE(fileExists(dir.file("book/SAMPLE/DATA/HONMON").c_str()));

    lftest::EbProbe probe(dir.file("book"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    auto subbooks = probe.subbooks();
    ASSERT_EQ(subbooks.size(), 1u);
    EXPECT_EQ(subbooks[0].directory, "sample");
    for (const char* word : {"melon", "tea"})
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {word}).size(), 1u) << word << " " << probe.error();
    // "café" and its like became gaiji, drawn from the default hex font.
    std::vector<unsigned char> glyph = probe.glyph(0, 16, false, 0xA121);
    ASSERT_EQ(glyph.size(), 16u) << probe.error();
    EXPECT_NE(glyph, std::vector<unsigned char>(16, 0));
}

TEST(LexforgeCli, ACatalogRunBuildsNoTextFile) {
    TestDir dir;
    std::string out;
    ASSERT_EQ(run("catalog --output '" + dir.file("book") + "' '" + lftest::sampleDir() + "/sample.lfx'", &out), 0)
        << out;
    EXPECT_EQ(out, "start.\nDone.\n");
    EXPECT_TRUE(fileExists(dir.file("book/CATALOGS").c_str()));
    EXPECT_FALSE(fileExists(dir.file("book/SAMPLE/DATA/HONMON").c_str()));
    lftest::EbProbe probe(dir.file("book"));
    EXPECT_EQ(probe.subbooks().size(), 1u) << probe.error();
}

TEST(LexforgeCli, ExitStatuses) {
    TestDir dir;
    lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\n"));
    lftest::writeFile(dir.file("missing.lfx"), project(dir.file("out1"), {"One:ONE:a.txt,gone.txt"}));
    lftest::writeFile(dir.file("nooutput.lfx"), project("", {"One:ONE:a.txt"}));
    lftest::writeFile(dir.file("broken.lfx"), std::string("<BookSet><booklist>"));
    std::string out;

    // A missing source: the book is built without it, the run fails.
    EXPECT_EQ(run("build '" + dir.file("missing.lfx") + "'", &out), 1);
    EXPECT_NE(out.find(dir.file("gone.txt") + " : can't open source file, not added\n"), std::string::npos) << out;
    EXPECT_TRUE(endsWith(out, "Done.\n")) << out;
    EXPECT_TRUE(fileExists(dir.file("out1/ONE/DATA/HONMON").c_str()));

    // The only source has a refused field spec: the log names the source
    // and the reason, and a book of nothing is not written: the run fails.
    lftest::writeFile(dir.file("c.csv"), std::string("pear,fruit\n"));
    lftest::writeFile(dir.file("spec.lfx"),
                      "<?xml version=\"1.0\"?>\n<BookSet><booklist><BookInfo><source><SourceInfo>"
                      "<inFile>$(BASE)/c.csv</inFile><sourceTypeID>9</sourceTypeID>"
                      "<fields>enc=utf-8;delim=,;fields=headword|gloss|</fields></SourceInfo></source>"
                      "<bookTitle>One</bookTitle><dirName>ONE</dirName></BookInfo></booklist>"
                      "<outputPath>" +
                          dir.file("out2") + "</outputPath></BookSet>\n");
    EXPECT_EQ(run("build '" + dir.file("spec.lfx") + "'", &out), 1) << out;
    EXPECT_NE(out.find(dir.file("c.csv") + " : unknown field type \"gloss\" in field spec, source left out"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("book \"One\" failed: not in the catalog"), std::string::npos) << out;
    EXPECT_TRUE(endsWith(out, "Done.\n")) << out;
    EXPECT_FALSE(fileExists(dir.file("out2/ONE/DATA/HONMON").c_str()));
    EXPECT_FALSE(fileExists(dir.file("out2/CATALOGS").c_str()));

    // No output folder: the field that took the focus is named.
    EXPECT_EQ(run("build '" + dir.file("nooutput.lfx") + "'", &out, true), 2);
    EXPECT_NE(out.find("outputPath"), std::string::npos) << out;
    EXPECT_EQ(run("catalog --output '' '" + dir.file("missing.lfx") + "'", &out, true), 2);

    EXPECT_EQ(run("build '" + dir.file("broken.lfx") + "'", &out, true), 3);
    EXPECT_NE(out.find("can't open the project"), std::string::npos) << out;
    EXPECT_EQ(run("build '" + dir.file("none.lfx") + "'", &out), 3);

    EXPECT_EQ(run("", &out), 2);
    EXPECT_EQ(run("convert x.lfx", &out), 2);
    EXPECT_EQ(run("build", &out), 2);
    EXPECT_EQ(run("build --output", &out), 2);
    EXPECT_EQ(run("save-as only.lfx", &out), 2);
    EXPECT_EQ(run("--help", &out), 0);
    EXPECT_EQ(out.compare(0, 28, "Usage: lexforge build [--out"), 0) << out;
}

TEST(LexforgeCli, SaveAsWritesAKeyValueProjectAsXML) {
    TestDir dir;
    const std::string lfs =
        "OutPath=/books/out\r\nWordSearchHyoki=1\r\nMenuSearch=1\r\nStopWord=an of\r\n"
        "Book=Sample;SAMPLE;_;_;_;_;_;_;_;_;_;_;_\r\nSource=/data/words.txt;Words;x;PLAIN\r\n";
    lftest::writeFile(dir.file("old.lfs"), lfs);
    std::string out;
    ASSERT_EQ(run("save-as '" + dir.file("old.lfs") + "' '" + dir.file("new.lfx") + "'", &out), 0) << out;

    // The same as the project model writes it for the same file.
    BookSet* set = BookSet::sharedBookSet();
    set->clear();
    ASSERT_TRUE(set->loadLFSFile(dir.file("old.lfs")));
    ASSERT_TRUE(set->saveXMLFile(dir.file("expected.lfx")));
    std::vector<unsigned char> written = lftest::readFile(dir.file("new.lfx"));
    EXPECT_EQ(written, lftest::readFile(dir.file("expected.lfx")));
    std::string text(written.begin(), written.end());
    for (const char* part : {"<bookTitle>Sample</bookTitle>", "<inFile>/data/words.txt</inFile>",
                             "<stopWord>an of</stopWord>", "<indexDef>65</indexDef>"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    set->clear();
}

// SIGINT while the first of three books builds: that book ends, the other
// two are built whole and the log ends with "Aborted.".
TEST(LexforgeCli, CtrlCAbortsTheBookUnderWay) {
    TestDir dir;
    std::string big;
    for (int i = 0; i < 200000; ++i)
        big += "word" + std::to_string(i) + " /// meaning of word " + std::to_string(i) + "\r\n";
    lftest::writeFile(dir.file("big.txt"), big);
    lftest::writeFile(dir.file("small.txt"), std::string("cat /// animal\r\n"));
    lftest::writeFile(dir.file("p.lfx"),
                      project(dir.file("out"), {"Big:BIG:big.txt", "Two:TWO:small.txt", "Three:THREE:small.txt"}));
    // The big source is added: its book's build comes next.
    std::string out;
    bool sent = false;
    const int status = lftest::runAndInterrupt(
        {lexforge(), "build", dir.file("p.lfx")},
        [&dir](const std::string& o) { return o.find(dir.file("big.txt") + "\n") != std::string::npos; }, &out, &sent);
    ASSERT_TRUE(sent) << out;
    EXPECT_EQ(status, 1) << out;
    EXPECT_TRUE(endsWith(out, "\nAborted.\n")) << out;
    // Only the two small books closed their build.
    size_t closed = 0;
    for (size_t at = out.find("# of Links("); at != std::string::npos; at = out.find("# of Links(", at + 1)) ++closed;
    EXPECT_EQ(closed, 2u) << out;

    // The aborted book is named and not listed; its text was never renamed
    // into place.
    EXPECT_NE(out.find("book \"Big\" aborted: not in the catalog\n"), std::string::npos) << out;
    EXPECT_FALSE(fileExists(dir.file("out/BIG/DATA/HONMON").c_str()));
    lftest::EbProbe probe(dir.file("out"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    ASSERT_EQ(probe.subbooks().size(), 2u);
    for (int sub : {0, 1}) {
        auto hits = probe.search(sub, lftest::EbSearchKind::Word, {"cat"});
        ASSERT_EQ(hits.size(), 1u) << sub << " " << probe.error();
        EXPECT_NE(probe.readRenderedText(sub, hits[0].textBlock, hits[0].textOffset).find("animal"), std::string::npos);
    }
}

}  // namespace
