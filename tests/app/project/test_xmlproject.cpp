// The XML project file: the exact bytes written, reading back, the value
// forms of both directions, refused values, and damaged or hostile files.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>

#include "app/project/BookSet.h"
#include "app/project/projectoptions.h"
#include "app/project/xmlprojectfile.h"
#include "tests/app/project/ProjectTestUtil.h"
#include "tests/common/TestDir.h"

using lftest::freshBookSet;
using lftest::LogCatcher;
using lftest::TestDir;

namespace {

std::string readText(const std::string& path) {
    std::vector<unsigned char> bytes = lftest::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// A project with two books (one with a delimited and a plain source, one
// bare) and some options away from their defaults.
void fillSample(BookSet* set) {
    set->setBasePath("/home/u/dic");
    set->setOutputPath("/home/u/out/");
    set->setEbType(0);
    BookInfo one;
    one.setBookTitle("A&B <C> ]]>");
    one.setDirName("SAMPLE");
    one.setBookTypeID(0x20);
    one.setComplexDef("/home/u/dic/cplx.txt");
    one.setCopyright("/other/copy.txt");
    one.setIndexFile("/home/u/dic\\kw.txt");
    one.setG24x24("GAI24F00");
    one.setSeparateMMData(true);
    one.setZenStart(0x80000000u);
    SourceInfo csv;
    csv.setSourceTypeID(9);
    csv.setInFile("/home/u/dic/a.csv");
    csv.setTitle("CSV");
    csv.setFields("UTF-8,TAB,H,T");
    SourceInfo plain;
    plain.setSourceTypeID(4);
    plain.setInFile("/elsewhere/b.txt");
    plain.setFields("not written for this type");
    one.getSource() = {csv, plain};
    BookInfo two;
    two.setBookTitle("Two");
    two.setDirName("TWO");
    set->getBookArray() = {one, two};
    ConvertOpt* o = set->getConvertOpt();
    o->delBlank = 0;
    o->refAuto = 5;  // any non-zero flag is set
    o->titleLen = -5;
    o->pdicTitle = -2;
    o->maxStringT = 0xFFFFFFFFu;
    set->setTextOption(&ConvertOpt::stopWord, "a an the");
    set->setTextOption(&ConvertOpt::delChars, "\xE3\x83\xBB");  // ・
}

const char kSampleFile[] =
    "<?xml version=\"1.0\"?>\n"
    "<BookSet xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n"
    "  <booklist>\n"
    "    <BookInfo>\n"
    "      <source>\n"
    "        <SourceInfo>\n"
    "          <inFile>$(BASE)/a.csv</inFile>\n"
    "          <title>CSV</title>\n"
    "          <sourceTypeID>9</sourceTypeID>\n"
    "          <fields>UTF-8,TAB,H,T</fields>\n"
    "        </SourceInfo>\n"
    "        <SourceInfo>\n"
    "          <inFile>/elsewhere/b.txt</inFile>\n"
    "          <title></title>\n"
    "          <sourceTypeID>4</sourceTypeID>\n"
    "        </SourceInfo>\n"
    "      </source>\n"
    "      <bookTitle>A&amp;B &lt;C&gt; ]]&gt;</bookTitle>\n"
    "      <dirName>SAMPLE</dirName>\n"
    "      <bookTypeID>32</bookTypeID>\n"
    "      <complexDef>$(BASE)/cplx.txt</complexDef>\n"
    "      <copyright>/other/copy.txt</copyright>\n"
    "      <gaijiMap></gaijiMap>\n"
    "      <gaijiFont></gaijiFont>\n"
    "      <indexFile>$(BASE)/kw.txt</indexFile>\n"
    "      <g8x16>GAI16H00</g8x16>\n"
    "      <g16x16>GAI16F00</g16x16>\n"
    "      <g12x24></g12x24>\n"
    "      <g24x24>GAI24F00</g24x24>\n"
    "      <g16x30></g16x30>\n"
    "      <g32x30></g32x30>\n"
    "      <g24x48></g24x48>\n"
    "      <g48x48></g48x48>\n"
    "      <separateMMData>true</separateMMData>\n"
    "      <hanStart>41249</hanStart>\n"
    "      <zenStart>-2147483648</zenStart>\n"
    "    </BookInfo>\n"
    "    <BookInfo>\n"
    "      <source>\n"
    "      </source>\n"
    "      <bookTitle>Two</bookTitle>\n"
    "      <dirName>TWO</dirName>\n"
    "      <bookTypeID>96</bookTypeID>\n"
    "      <complexDef></complexDef>\n"
    "      <copyright></copyright>\n"
    "      <gaijiMap></gaijiMap>\n"
    "      <gaijiFont></gaijiFont>\n"
    "      <indexFile></indexFile>\n"
    "      <g8x16>GAI16H00</g8x16>\n"
    "      <g16x16>GAI16F00</g16x16>\n"
    "      <g12x24></g12x24>\n"
    "      <g24x24></g24x24>\n"
    "      <g16x30></g16x30>\n"
    "      <g32x30></g32x30>\n"
    "      <g24x48></g24x48>\n"
    "      <g48x48></g48x48>\n"
    "      <separateMMData>false</separateMMData>\n"
    "      <hanStart>41249</hanStart>\n"
    "      <zenStart>45345</zenStart>\n"
    "    </BookInfo>\n"
    "  </booklist>\n"
    "  <basePath>/home/u/dic</basePath>\n"
    "  <outputPath>/home/u/out/</outputPath>\n"
    "  <ebType>0</ebType>\n"
    "  <indexDef>67</indexDef>\n"
    "  <convertOpt>\n"
    "    <stopWord>a an the</stopWord>\n"
    "    <delBlank>false</delBlank>\n"
    "    <delSym>true</delSym>\n"
    "    <delChars>\xE3\x83\xBB</delChars>\n"
    "    <refAuto>true</refAuto>\n"
    "    <titleWord>true</titleWord>\n"
    "    <autoWord>false</autoWord>\n"
    "    <autoEWord>false</autoEWord>\n"
    "    <dispKeyInSelList>false</dispKeyInSelList>\n"
    "    <FRAuto>false</FRAuto>\n"
    "    <titleOrder>0</titleOrder>\n"
    "    <addKana>1</addKana>\n"
    "    <autoKana>false</autoKana>\n"
    "    <omitHeader>false</omitHeader>\n"
    "    <titleLen>-5</titleLen>\n"
    "    <typeCplxKwd>0</typeCplxKwd>\n"
    "    <topMenu>false</topMenu>\n"
    "    <singleLine>false</singleLine>\n"
    "    <kanaSep1>\xE3\x80\x90</kanaSep1>\n"
    "    <kanaSep2>\xE3\x80\x91</kanaSep2>\n"
    "    <hyokiSep>true</hyokiSep>\n"
    "    <makeFig>true</makeFig>\n"
    "    <inlineImg>false</inlineImg>\n"
    "    <paraHdr>false</paraHdr>\n"
    "    <ruby>true</ruby>\n"
    "    <paraBr>false</paraBr>\n"
    "    <subTitle>false</subTitle>\n"
    "    <dfnStyle>0</dfnStyle>\n"
    "    <srchUnit>0</srchUnit>\n"
    "    <linkChar>0</linkChar>\n"
    "    <arrowCode>222A</arrowCode>\n"
    "    <HTagIndex>true</HTagIndex>\n"
    "    <HTagMenu>true</HTagMenu>\n"
    "    <DTTagIndex>true</DTTagIndex>\n"
    "    <leftMargin>1</leftMargin>\n"
    "    <indent>0</indent>\n"
    "    <tableWidth>480</tableWidth>\n"
    "    <kwordLen>1</kwordLen>\n"
    "    <delLeadNo>false</delLeadNo>\n"
    "    <eijiPronon>true</eijiPronon>\n"
    "    <eijiPartOfSpeech>true</eijiPartOfSpeech>\n"
    "    <eijiBreak>true</eijiBreak>\n"
    "    <eijiKana>false</eijiKana>\n"
    "    <eijiYomi>0</eijiYomi>\n"
    "    <withHeader>0</withHeader>\n"
    "    <optMono>false</optMono>\n"
    "    <pdicTitle>-2</pdicTitle>\n"
    "    <pdicPronon>0</pdicPronon>\n"
    "    <pdicHonbun>0</pdicHonbun>\n"
    "    <pdicYorei>0</pdicYorei>\n"
    "    <maxStringT>-1</maxStringT>\n"
    "    <autoUniGaiji>true</autoUniGaiji>\n"
    "  </convertOpt>\n"
    "</BookSet>";

// The XML text of a project with one book, the given lines inside its
// BookInfo element (before its value elements), the given lines after the
// book list, and the given option lines.
std::string projectText(const std::string& inBook, const std::string& afterList, const std::string& options) {
    return "<?xml version=\"1.0\"?>\n<BookSet>\n<booklist>\n<BookInfo>\n" + inBook +
           "\n<dirName>D</dirName>\n</BookInfo>\n</booklist>\n" + afterList + "\n<convertOpt>\n" + options +
           "\n</convertOpt>\n</BookSet>";
}

class XmlProject : public ::testing::Test {
protected:
    void SetUp() override { set = freshBookSet(); }

    // Writes text to a file and reads it into the project.
    bool load(const std::string& text) {
        EXPECT_TRUE(lftest::writeFile(dir.file("in.lfx"), text));
        return set->loadXMLFile(dir.file("in.lfx"));
    }

    TestDir dir;
    BookSet* set = nullptr;
    LogCatcher log;
};

}  // namespace

TEST_F(XmlProject, WritesTheExactFileAndReadsItBack) {
    fillSample(set);
    const std::string path = dir.file("p.lfx");
    ASSERT_TRUE(set->saveXMLFile(path));
    EXPECT_EQ(kSampleFile, readText(path));

    set->clear();
    set->setEbType(1);
    ASSERT_TRUE(set->loadXMLFile(path));
    EXPECT_TRUE(log.lines.empty());
    ASSERT_EQ(2u, set->getBookArray().size());
    const BookInfo& one = set->getBookArray()[0];
    EXPECT_EQ("A&B <C> ]]>", one.bookTitle());
    EXPECT_EQ("$(BASE)/cplx.txt", one.complexDef());  // resolved only when used
    EXPECT_EQ(0x80000000u, one.zenStart());
    EXPECT_TRUE(one.separateMMData());
    ASSERT_EQ(2u, one.getSource().size());
    EXPECT_EQ("UTF-8,TAB,H,T", one.getSource()[0].fields());
    EXPECT_EQ("", one.getSource()[1].fields());
    EXPECT_EQ(0, set->ebType());
    EXPECT_EQ(0, set->correntBook());
    EXPECT_EQ(0, set->correntSource());
    EXPECT_EQ(-2, set->getConvertOpt()->pdicTitle);
    EXPECT_EQ(0xFFFFFFFFu, set->getConvertOpt()->maxStringT);
    EXPECT_EQ(1, set->getConvertOpt()->refAuto);

    // Saving what was read gives the same bytes.
    const std::string again = dir.file("again.lfx");
    ASSERT_TRUE(set->saveXMLFile(again));
    EXPECT_EQ(kSampleFile, readText(again));
}

TEST_F(XmlProject, EmptyProject) {
    std::string text;
    ASSERT_TRUE(makeXMLProject(*set, &text, nullptr));
    EXPECT_NE(std::string::npos, text.find("\n  <booklist>\n  </booklist>\n"));
    EXPECT_NE('\n', text.back());
    ASSERT_TRUE(load(text));
    EXPECT_EQ(-1, set->correntBook());
    EXPECT_EQ(-1, set->correntSource());
}

TEST_F(XmlProject, TextValuesRoundTrip) {
    const char* const kValues[] = {
        "&<]]>",
        "a\rb\r\nc\nd",                               // CR kept apart from the line feeds
        "\ttab and  spaces ",                         // white space as it was
        "\xE8\xBE\x9E\xE6\x9B\xB8 \xF0\x9F\x93\x96",  // 辞書, a character beyond the BMP
        "&amp; written by hand",
        "\xC2\x85 and \x7F",  // C1 and DEL are XML characters
    };
    for (const char* value : kValues) {
        SCOPED_TRACE(value);
        set->clear();
        BookInfo book;
        book.setBookTitle(value);
        SourceInfo source;
        source.setTitle(value);
        book.getSource().push_back(source);
        set->getBookArray() = {book};
        set->setTextOption(&ConvertOpt::arrowCode, value);
        set->setOutputPath(value);
        ASSERT_TRUE(set->saveXMLFile(dir.file("v.lfx")));
        set->clear();
        ASSERT_TRUE(set->loadXMLFile(dir.file("v.lfx")));
        ASSERT_EQ(1u, set->getBookArray().size());
        EXPECT_EQ(value, set->getBookArray()[0].bookTitle());
        EXPECT_EQ(value, set->getBookArray()[0].getSource().at(0).title());
        EXPECT_STREQ(value, set->getConvertOpt()->arrowCode);
        EXPECT_EQ(value, set->outputPath());
    }
}

TEST_F(XmlProject, ValuesAFileCannotCarryAreRefusedAndTheOldFileStays) {
    const std::string path = dir.file("p.lfx");
    set->getBookArray().push_back(BookInfo());
    ASSERT_TRUE(set->saveXMLFile(path));
    const std::string before = readText(path);
    const struct {
        const char* what;
        std::string value;
    } kCases[] = {
        {"a control character", "a\x01z"},
        {"form feed", "a\x0Cz"},
        {"escape", "\x1B[0m"},
        {"a zero byte", std::string("a\0z", 3)},
        {"not UTF-8", "caf\xE9"},
        {"a cut UTF-8 sequence", "\xE8\xBE"},
        {"U+FFFE", "\xEF\xBF\xBE"},
        {"U+FFFF", "\xEF\xBF\xBF"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        // In a book, in a source and in an option.
        for (int place = 0; place < 3; ++place) {
            set->clear();
            BookInfo book;
            SourceInfo source;
            if (place == 0) book.setGaijiMap(c.value);
            if (place == 1) source.setInFile(c.value);
            book.getSource().push_back(source);
            set->getBookArray() = {book};
            if (place == 2) {
                // A text option is a C string: it cannot hold a zero byte.
                if (c.value.find('\0') != std::string::npos) continue;
                set->setTextOption(&ConvertOpt::delChars, c.value);
            }
            std::string error;
            EXPECT_FALSE(set->saveXMLFile(path, &error));
            EXPECT_NE(std::string::npos, error.find(place == 0   ? "gaijiMap (book 1)"
                                                    : place == 1 ? "inFile (source 1 of book 1)"
                                                                 : "delChars"))
                << error;
            EXPECT_EQ(before, readText(path));
        }
    }
}

TEST_F(XmlProject, SavingIntoAFolderThatIsNotThereFails) {
    std::string error;
    EXPECT_FALSE(set->saveXMLFile(dir.file("missing/p.lfx"), &error));
    EXPECT_NE(std::string::npos, error.find("missing/p.lfx"));
    EXPECT_FALSE(set->saveXMLFile(dir.path(), &error));  // a folder
}

TEST_F(XmlProject, ValueFormsOnReading) {
    const struct {
        const char* what;
        const char* element;
        const char* text;
        int32_t expected;  // the field as written back
    } kCases[] = {
        {"flag false", "delBlank", "false", 0},
        {"flag true", "delSym", "true", 1},
        {"flag 0 counts as set", "autoWord", "0", 1},
        {"flag no counts as set", "autoEWord", "no", 1},
        {"flag False counts as set", "FRAuto", "False", 1},
        {"empty flag keeps the default", "delBlank", "", 1},
        {"number with blanks", "titleOrder", "  12 ", 12},
        {"number with a plus", "addKana", "+7", 7},
        {"above the 32-bit range", "leftMargin", "99999999999", 2147483647},
        {"below the 32-bit range", "indent", "-99999999999", -2147483647 - 1},
        {"16-bit field keeps the low bits", "pdicTitle", "70000", 4464},
        {"16-bit field sign", "pdicPronon", "32768", -32768},
        {"16-bit field negative", "pdicHonbun", "-1", -1},
        {"unsigned field from a negative number", "maxStringT", "-2", -2},
        {"kwordLen 0", "kwordLen", "0", 1},
        {"kwordLen negative", "kwordLen", "-3", 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::string option = std::string("<") + c.element + ">" + c.text + "</" + c.element + ">";
        ASSERT_TRUE(load(projectText("", "", option)));
        const ProjectOption* o = findProjectOption(c.element);
        ASSERT_NE(nullptr, o);
        int32_t value = o->kind == OPTION_FLAG ? projectOptionFlag(*set->getConvertOpt(), *o)
                                               : projectOptionNumber(*set->getConvertOpt(), *o);
        EXPECT_EQ(c.expected, value);
    }
    ASSERT_TRUE(load(projectText("", "", "<maxStringT>-2</maxStringT>")));
    EXPECT_EQ(0xFFFFFFFEu, set->getConvertOpt()->maxStringT);
}

// A number field whose text is no number is refused by name (a run then
// refuses to start), not read as 0; so is an empty source type, which has
// no initial value.
TEST_F(XmlProject, ValuesThatAreNoNumberAreRefused) {
    const struct {
        const char* field;
        std::string inBook, afterList, options;
    } kCases[] = {
        {"titleOrder", "", "", "<titleOrder>12abc</titleOrder>"},
        {"titleLen", "", "", "<titleLen>abc</titleLen>"},
        {"kwordLen", "", "", "<kwordLen>x</kwordLen>"},
        {"leftMargin", "", "", "<leftMargin> </leftMargin>"},
        {"maxStringT", "", "", "<maxStringT>1e9</maxStringT>"},
        {"indexDef", "", "<indexDef>0x43</indexDef>", ""},
        {"hanStart", "<hanStart>A121</hanStart>", "", ""},
        {"zenStart", "<zenStart>-</zenStart>", "", ""},
        {"sourceTypeID",
         "<source><SourceInfo><inFile>/a.csv</inFile><sourceTypeID></sourceTypeID></SourceInfo></source>", "", ""},
        {"sourceTypeID", "<source><SourceInfo><inFile>/a.csv</inFile><sourceTypeID/></SourceInfo></source>", "", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.inBook + c.afterList + c.options);
        ASSERT_TRUE(load(projectText(c.inBook, c.afterList, c.options)));
        ASSERT_EQ(set->refusedValues().size(), 1u);
        EXPECT_EQ(set->refusedValues()[0].field, c.field);
    }
    // Numbers in every accepted form are no refusal.
    ASSERT_TRUE(
        load(projectText("<hanStart> 41249 </hanStart><source><SourceInfo><sourceTypeID>9</sourceTypeID>"
                         "</SourceInfo></source>",
                         "<indexDef>+67</indexDef>", "<leftMargin>-0</leftMargin><titleLen>99999999999</titleLen>")));
    EXPECT_TRUE(set->refusedValues().empty());
}

// Well-formed XML whose root is not BookSet is no project: the read fails
// with the reason and leaves the project reset.
TEST_F(XmlProject, AFileWhoseRootIsNotBookSetIsNoProject) {
    for (const std::string& text : {std::string("<?xml version=\"1.0\"?>\n<notes><ebType>0</ebType></notes>"),
                                    std::string("<BookInfo><bookTitle>T</bookTitle><dirName>D</dirName></BookInfo>"),
                                    std::string("<x:BookSet xmlns:x=\"urn:x\"><outputPath>o</outputPath></x:BookSet>"),
                                    std::string("<bookset><outputPath>o</outputPath></bookset>")}) {
        SCOPED_TRACE(text);
        set->setEbType(1);
        EXPECT_TRUE(lftest::writeFile(dir.file("in.lfx"), text));
        std::string error;
        EXPECT_FALSE(set->loadXMLFile(dir.file("in.lfx"), &error));
        EXPECT_NE(error.find("not <BookSet>: not a Lexforge project"), std::string::npos) << error;
        EXPECT_TRUE(set->getBookArray().empty());
        EXPECT_EQ(set->outputPath(), "");
        EXPECT_EQ(set->ebType(), 1);
    }
}

TEST_F(XmlProject, EmptyElementsReadAsInitialValues) {
    ASSERT_TRUE(load(projectText("<g8x16></g8x16><bookTypeID></bookTypeID><hanStart/>", "<ebType></ebType>",
                                 "<stopWord></stopWord><kanaSep1></kanaSep1>")));
    const BookInfo& book = set->getBookArray().at(0);
    EXPECT_EQ("GAI16H00", book.g8x16());
    EXPECT_EQ(0x60, book.bookTypeID());
    EXPECT_EQ(0xA121u, book.hanStart());
    EXPECT_STREQ("a the", set->getConvertOpt()->stopWord);
    EXPECT_STREQ("\xE3\x80\x90", set->getConvertOpt()->kanaSep1);
}

TEST_F(XmlProject, ResetKeepsOnlyTheOutputFamilyAndTheWizardValues) {
    set->setEbType(0);
    set->setCsvPath("/w.csv");
    set->setBasePath("/old");
    set->setOutputPath("/old/out");
    set->getConvertOpt()->titleLen = 3;
    ASSERT_TRUE(load(projectText("", "", "")));
    EXPECT_EQ(0, set->ebType());    // no ebType element
    EXPECT_EQ(0, set->indexDef());  // no indexDef element
    EXPECT_EQ("/w.csv", set->csvPath());
    EXPECT_EQ("", set->basePath());
    EXPECT_EQ("", set->outputPath());
    EXPECT_EQ(128, set->getConvertOpt()->titleLen);
    // A book without sources is selected with no source.
    EXPECT_EQ(0, set->correntBook());
    EXPECT_EQ(-1, set->correntSource());
}

TEST_F(XmlProject, ElementsCountWhereverTheyStand) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n"
        "<BookSet a=\"1\">\n"
        "<SourceInfo><inFile>/lost.txt</inFile></SourceInfo>\n"  // outside any book: dropped
        "<title>no source open</title>\n"                        // ignored
        "<bookTitle>no book open</bookTitle>\n"                  // ignored
        "<BookInfo>\n"
        "<Unknown><bookTitle>Deep</bookTitle></Unknown>\n"  // read inside an unknown element
        "<dirName>AB<b>x</b>CD</dirName>\n"                 // mixed content gives no value
        "<source><SourceInfo><title>A<!-- c -->B&amp;C<![CDATA[<as text>]]></title>"
        "<sourceTypeID>2</sourceTypeID></SourceInfo></source>\n"
        "<?pi ignored?>"
        "</BookInfo>\n"
        "<deep><deeper><tableWidth>999</tableWidth></deeper></deep>\n"
        "<outputPath attr=\"ignored\">/o</outputPath>\n"
        "</BookSet>";
    ASSERT_TRUE(load(text));
    ASSERT_EQ(1u, set->getBookArray().size());
    const BookInfo& book = set->getBookArray()[0];
    EXPECT_EQ("Deep", book.bookTitle());
    EXPECT_EQ("", book.dirName());
    ASSERT_EQ(1u, book.getSource().size());
    // A CDATA section is text like the rest.
    EXPECT_EQ("AB&C<as text>", book.getSource()[0].title());
    EXPECT_EQ(2, book.getSource()[0].sourceTypeID());
    EXPECT_EQ(999, set->getConvertOpt()->tableWidth);
    EXPECT_EQ("/o", set->outputPath());
}

TEST_F(XmlProject, ATruncatedFileKeepsTheBooksReadBeforeTheCut) {
    for (int i = 0; i < 3; ++i) {
        BookInfo book;
        book.setBookTitle("Book " + std::to_string(i));
        set->getBookArray().push_back(book);
    }
    set->getConvertOpt()->titleLen = 9;
    std::string text;
    ASSERT_TRUE(makeXMLProject(*set, &text, nullptr));
    // Cut inside the third book, after its title.
    size_t cut = text.find("<bookTitle>Book 2</bookTitle>");
    ASSERT_NE(std::string::npos, cut);
    std::string error;
    ASSERT_TRUE(lftest::writeFile(dir.file("cut.lfx"), text.substr(0, cut + 20)));
    EXPECT_FALSE(set->loadXMLFile(dir.file("cut.lfx"), &error));
    ASSERT_EQ(2u, set->getBookArray().size());
    EXPECT_EQ("Book 1", set->getBookArray()[1].bookTitle());
    EXPECT_EQ(128, set->getConvertOpt()->titleLen);  // the options come after the books
    ASSERT_EQ(1u, log.lines.size());
    EXPECT_EQ(0u, log.lines[0].find("Parse Error "));
    EXPECT_NE(std::string::npos, log.lines[0].find(error));
    EXPECT_EQ(0, set->correntBook());
}

TEST_F(XmlProject, EntitiesOfTheFileAreNeverExpanded) {
    const std::string secret = dir.file("secret.txt");
    ASSERT_TRUE(lftest::writeFile(secret, std::string("TOP-SECRET-CONTENT")));
    const struct {
        const char* what;
        std::string text;
    } kCases[] = {
        {"external entity", "<?xml version=\"1.0\"?>\n<!DOCTYPE BookSet [<!ENTITY x SYSTEM \"file://" + secret +
                                "\">]>\n<BookSet><booklist><BookInfo><bookTitle>&x;</bookTitle></BookInfo></booklist>"
                                "<outputPath>&x;</outputPath></BookSet>"},
        {"external DTD", "<?xml version=\"1.0\"?>\n<!DOCTYPE BookSet SYSTEM \"" + secret +
                             "\">\n<BookSet><outputPath>x</outputPath></BookSet>"},
        {"parameter entity",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE BookSet [<!ENTITY % p SYSTEM \"" + secret + "\"> %p;]>\n<BookSet/>"},
        {"entity bomb",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE BookSet [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
         "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
         "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
         "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
         "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\"><!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>\n"
         "<BookSet><booklist><BookInfo><bookTitle>&i;</bookTitle></BookInfo></booklist></BookSet>"},
        {"undeclared entity", "<?xml version=\"1.0\"?>\n<BookSet><outputPath>&x;</outputPath></BookSet>"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        log.lines.clear();
        auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(load(c.text));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_EQ(1u, log.lines.size());
        for (const BookInfo& book : set->getBookArray()) EXPECT_EQ(std::string::npos, book.bookTitle().find("SECRET"));
        EXPECT_EQ(std::string::npos, set->outputPath().find("SECRET"));
        for (const std::string& line : log.lines) EXPECT_EQ(std::string::npos, line.find("SECRET"));
    }
}

TEST_F(XmlProject, HostileFilesGiveAnErrorNotACrash) {
    std::string deep = "<?xml version=\"1.0\"?>\n<BookSet>";
    for (int i = 0; i < 20000; ++i) deep += "<a>";
    std::string bigAttribute = "<?xml version=\"1.0\"?>\n<BookSet><outputPath v=\"" + std::string(1 << 20, 'x') +
                               "\">/o</outputPath></BookSet>";
    const struct {
        const char* what;
        std::string text;
        bool readable;
    } kCases[] = {
        {"empty file", "", false},
        {"binary", std::string("\x00\xFF\xFE\x01\x80<BookSet>", 14), false},
        {"a zero byte in a value", std::string("<BookSet><outputPath>a\0b</outputPath></BookSet>", 47), false},
        {"a character reference to a control", "<BookSet><outputPath>&#1;</outputPath></BookSet>", false},
        {"deep nesting", deep, false},
        {"a megabyte attribute", bigAttribute, true},
        {"a second root", "<BookSet/><BookSet/>", false},
        {"mismatched tags", "<BookSet><booklist></BookSet>", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        log.lines.clear();
        EXPECT_EQ(c.readable, load(c.text));
        EXPECT_EQ(c.readable ? 0u : 1u, log.lines.size());
    }
    ASSERT_TRUE(load(bigAttribute));
    EXPECT_EQ("/o", set->outputPath());
}

TEST_F(XmlProject, FilesThatCannotBeReadLeaveTheProjectReset) {
    set->getBookArray().push_back(BookInfo());
    set->setOutputPath("/o");
    const std::string fifo = dir.file("fifo.lfx");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string withZero = dir.file("p.lfx") + std::string(1, '\0') + "x";
    for (const std::string& path : {dir.file("none.lfx"), dir.path(), fifo, withZero}) {
        SCOPED_TRACE(path);
        log.lines.clear();
        std::string error;
        EXPECT_FALSE(set->loadXMLFile(path, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(set->getBookArray().empty());
        EXPECT_EQ("", set->outputPath());
        EXPECT_EQ(-1, set->correntBook());
        EXPECT_EQ(1u, log.lines.size());
    }
}
