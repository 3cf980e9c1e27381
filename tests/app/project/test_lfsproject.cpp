// The key=value project file: Shift_JIS decoded whole, the key table, the
// keys carried over to later books, the "Book" and "Source" fields, and short
// or broken lines and files.

#include <gtest/gtest.h>

#include "app/project/BookSet.h"
#include "app/project/lfsprojectfile.h"
#include "app/project/projectoptions.h"
#include "tests/app/project/ProjectTestUtil.h"
#include "tests/common/TestDir.h"

using lftest::freshBookSet;
using lftest::TestDir;

namespace {

// A Book line with all of fields 4 to 13 "_".
const char kPlainBook[] = "Book=Title;DIR;一般書物;_;_;_;_;_;_;_;_;_;_";

class LfsProject : public ::testing::Test {
protected:
    void SetUp() override { set = freshBookSet(); }

    // Writes the lines (UTF-8, joined by line feeds) as Shift_JIS and reads them.
    bool load(const std::string& utf8) { return loadBytes(lftest::toShiftJis(utf8)); }
    bool loadBytes(const std::string& bytes) {
        EXPECT_TRUE(lftest::writeFile(dir.file("p.lfs"), bytes));
        return set->loadLFSFile(dir.file("p.lfs"));
    }
    const BookInfo& book(size_t i) { return set->getBookArray().at(i); }

    TestDir dir;
    BookSet* set = nullptr;
};

}  // namespace

TEST_F(LfsProject, ProjectKeys) {
    const struct {
        const char* what;
        const char* lines;
        int ebType;  // starting from 1
        int indexDef;
    } kCases[] = {
        {"EBType 1 is EB", "EBType=1", 0, 0},
        {"EBType 0 is EPWING", "EBType=0", 1, 0},
        {"EBType 7 is EB", "EBType=7", 0, 0},
        {"no index key", "OutPath=/x\nInPath=/y", 1, 0},
        {"every index key",
         "WordSearchHyoki=1\nWordSearchKana=1\nEndWordSearchHyoki=1\nEndWordSearchKana=1\nKeywordSearch=1\n"
         "ComplexSearch=1\nMenuSearch=1\nCrossSearch=1",
         1, 0xFF},
        {"only the value 1 sets a bit", "MenuSearch=2\nKeywordSearch=1\nCrossSearch=yes", 1, 16},
        {"nothing clears a bit", "MenuSearch=1\nMenuSearch=0", 1, 64},
        {"keys are case-sensitive", "menusearch=1\nebtype=1", 1, 0},
        {"blanks are part of the key", "MenuSearch =1", 1, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        set->setEbType(1);
        set->setIndexDef(0x43);
        ASSERT_TRUE(load(c.lines));
        EXPECT_EQ(c.ebType, set->ebType());
        EXPECT_EQ(c.indexDef, set->indexDef());
    }
}

TEST_F(LfsProject, OptionKeys) {
    const struct {
        const char* what;
        const char* line;
        const char* option;
        int32_t expected;  // the field's value, as the XML file writes it
    } kCases[] = {
        {"flag 7 is set", "delBlank=7", "delBlank", 1},
        {"flag 0 is clear", "ruby=0", "ruby", 0},
        {"flag without digits is clear", "makeFig=yes", "makeFig", 0},
        {"flag with blanks and sign", "refAuto= -2", "refAuto", 1},
        {"number", "tableWidth=640", "tableWidth", 640},
        {"number clamped", "indent=-99999999999", "indent", INT32_MIN},
        {"kwordLen 0 is 1", "kwordLen=0", "kwordLen", 1},
        {"kwordLen -4 is 1", "kwordLen=-4", "kwordLen", 1},
        {"16-bit field keeps the low bits", "pdicYorei=65537", "pdicYorei", 1},
        {"16-bit field sign", "pdicTitle=65535", "pdicTitle", -1},
        {"Size is the fourth field", "Size=1;2;3;300000000", "maxStringT", 300000000},
        {"Size with three fields changes nothing", "Size=1;2;300000000", "maxStringT", 256000000},
        {"Size negative", "Size=;;;-1", "maxStringT", -1},
        {"FRAuto has no key", "FRAuto=1", "FRAuto", 0},
        {"titleLen has no key", "titleLen=5", "titleLen", 128},
        {"maxStringT has no key", "maxStringT=5", "maxStringT", 256000000},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(load(c.line));
        const ProjectOption* o = findProjectOption(c.option);
        ASSERT_NE(nullptr, o);
        const ConvertOpt& opt = *set->getConvertOpt();
        int32_t value = o->kind == OPTION_FLAG ? projectOptionFlag(opt, *o) : projectOptionNumber(opt, *o);
        EXPECT_EQ(c.expected, value);
    }
}

TEST_F(LfsProject, TextOptions) {
    ASSERT_TRUE(load("StopWord=the of\nstopWord=ignored\nkanaSep1=《\nkanaSep2=》\narrowCode=2192\ndelChars=・"));
    const ConvertOpt& o = *set->getConvertOpt();
    EXPECT_STREQ("the of", o.stopWord);
    EXPECT_STREQ("《", o.kanaSep1);
    EXPECT_STREQ("》", o.kanaSep2);
    EXPECT_STREQ("2192", o.arrowCode);
    EXPECT_STREQ("・", o.delChars);
    // A second "=" ends the value.
    ASSERT_TRUE(load("StopWord=a=b"));
    EXPECT_STREQ("a", set->getConvertOpt()->stopWord);
}

TEST_F(LfsProject, BookLines) {
    ASSERT_TRUE(load(std::string(kPlainBook) +
                     "\nBook=英和;EJ;英和辞典;/c/copy.txt;/c/cplx.txt;H8;F16;H24;F24;H30;F30;H48;F48;extra\n"
                     "Book=X;Y;未知の種類;_;_;_;_;_;_;_;_;_;_"));
    ASSERT_EQ(3u, set->getBookArray().size());
    EXPECT_EQ("Title", book(0).bookTitle());
    EXPECT_EQ("DIR", book(0).dirName());
    EXPECT_EQ(0x60, book(0).bookTypeID());
    EXPECT_EQ("", book(0).copyright());
    EXPECT_EQ("", book(0).complexDef());
    EXPECT_EQ("GAI16H00", book(0).g8x16());
    EXPECT_EQ("GAI16F00", book(0).g16x16());
    EXPECT_EQ("", book(0).g48x48());
    EXPECT_EQ("英和", book(1).bookTitle());
    EXPECT_EQ(0x20, book(1).bookTypeID());
    EXPECT_EQ("/c/copy.txt", book(1).copyright());
    EXPECT_EQ("/c/cplx.txt", book(1).complexDef());
    const char* const kFonts[] = {"H8", "F16", "H24", "F24", "H30", "F30", "H48", "F48"};
    for (int slot = 0; slot < FONT_SLOTS; ++slot) EXPECT_EQ(kFonts[slot], book(1).fontName(slot));
    EXPECT_EQ(0x60, book(2).bookTypeID());  // unknown kind
    EXPECT_EQ(0, set->correntBook());
    EXPECT_EQ(-1, set->correntSource());
}

TEST_F(LfsProject, KindNames) {
    const struct {
        const char* name;
        int type;
    } kKinds[] = {{"国語辞典", 0x00}, {"漢和辞典", 0x10},     {"英和辞典", 0x20},
                  {"和英辞典", 0x30}, {"現代用語辞典", 0x40}, {"百科事典", 0x50},
                  {"一般書物", 0x60}, {"類語辞典", 0x70},     {"国語", 0x60}};
    for (const auto& k : kKinds) {
        SCOPED_TRACE(k.name);
        ASSERT_TRUE(load(std::string("Book=T;D;") + k.name + ";_;_;_;_;_;_;_;_;_;_"));
        EXPECT_EQ(k.type, book(0).bookTypeID());
    }
}

TEST_F(LfsProject, KeysCarriedToLaterBooks) {
    ASSERT_TRUE(
        load("Book=A;A;x;_;_;_;_;_;_;_;_;_;_\n"
             "Copyright=/c/common.txt\n"
             "GaijiFile=/g/font1\n"
             "IndexFile=/k/list\n"
             "Book=B;B;x;_;_;_;_;_;_;_;_;_;_\n"
             "GaijiFile=/g/font2\n"
             "GaijiMapFile=/g/map\n"
             "Book=C;C;x;/c/own.txt;_;_;_;_;_;_;_;_;_\n"
             "Book=D;D;x;;_;_;_;_;_;_;_;_;_"));
    ASSERT_EQ(4u, set->getBookArray().size());
    // A book before the keys has none of them.
    EXPECT_EQ("", book(0).copyright());
    EXPECT_EQ("", book(0).gaijiFont());
    EXPECT_EQ("/c/common.txt", book(1).copyright());
    EXPECT_EQ("/g/font1", book(1).gaijiFont());
    EXPECT_EQ("/k/list", book(1).indexFile());
    EXPECT_EQ("", book(1).gaijiMap());
    // A later key replaces the value for the books after it; a book's own
    // copyright stands; an empty copyright field takes the common one.
    EXPECT_EQ("/g/font2", book(2).gaijiFont());
    EXPECT_EQ("/g/map", book(2).gaijiMap());
    EXPECT_EQ("/k/list", book(2).indexFile());
    EXPECT_EQ("/c/own.txt", book(2).copyright());
    EXPECT_EQ("/c/common.txt", book(3).copyright());
}

TEST_F(LfsProject, SourceLines) {
    ASSERT_TRUE(load("Source=/lost.txt;Lost;x;PLAIN\n" + std::string(kPlainBook) +
                     "\nSource=/s/a.txt;_;x;PDICB\n"
                     "Source=/s/b.txt;Title B;x;EIJIRO;more\n"
                     "Source=/s/c.txt;T;x;PLAIN=dropped\n"
                     "Source=/s/d.txt;T;x;UNKNOWN\n"
                     "Source=/s/e.txt;T;x;pdic"));
    ASSERT_EQ(1u, set->getBookArray().size());
    const std::vector<SourceInfo>& s = book(0).getSource();
    ASSERT_EQ(5u, s.size());
    EXPECT_EQ("/s/a.txt", s[0].inFile());
    EXPECT_EQ("", s[0].title());
    EXPECT_EQ(6, s[0].sourceTypeID());
    EXPECT_EQ("Title B", s[1].title());
    EXPECT_EQ(3, s[1].sourceTypeID());
    EXPECT_EQ(4, s[2].sourceTypeID());  // the type before a second "=" counts
    EXPECT_EQ(0, s[3].sourceTypeID());
    EXPECT_EQ(0, s[4].sourceTypeID());  // names are case-sensitive
    EXPECT_EQ(0, set->correntBook());
    EXPECT_EQ(-1, set->correntSource());  // even though the book has sources
}

TEST_F(LfsProject, SourceTypeNames) {
    const struct {
        const char* name;
        int type;
    } kTypes[] = {{"JEPAX", 1}, {"PDIC", 2}, {"EIJIRO", 3}, {"PLAIN", 4}, {"PDIC1", 5}, {"PDICB", 6}, {"CSV", 0}};
    for (const auto& t : kTypes) {
        SCOPED_TRACE(t.name);
        ASSERT_TRUE(load(std::string(kPlainBook) + "\nSource=/a;T;x;" + t.name));
        EXPECT_EQ(t.type, book(0).getSource().at(0).sourceTypeID());
    }
}

TEST_F(LfsProject, ShortLinesKeepEveryBookAndItsSources) {
    ASSERT_TRUE(
        load("Book=Full;F;一般書物;_;_;_;_;_;_;_;_;_;_\n"
             "Source=/f.txt;F;x;PLAIN\n"
             "Book=Short;S\n"
             "Source=/s1.txt\n"
             "Source=/s2.txt;Two\n"
             "Book=Fonts;G;英和辞典;_;_;H8;;F24\n"
             "Book=\n"
             "Source=/last.txt;L;x;PDIC"));
    ASSERT_EQ(4u, set->getBookArray().size());
    EXPECT_EQ(1u, book(0).getSource().size());
    EXPECT_EQ("Short", book(1).bookTitle());
    EXPECT_EQ("S", book(1).dirName());
    EXPECT_EQ(0x60, book(1).bookTypeID());
    EXPECT_EQ("GAI16H00", book(1).g8x16());  // missing fields count as "_"
    ASSERT_EQ(2u, book(1).getSource().size());
    EXPECT_EQ("/s1.txt", book(1).getSource()[0].inFile());
    EXPECT_EQ("", book(1).getSource()[0].title());
    EXPECT_EQ(0, book(1).getSource()[0].sourceTypeID());
    EXPECT_EQ("Two", book(1).getSource()[1].title());
    EXPECT_EQ(0x20, book(2).bookTypeID());
    EXPECT_EQ("H8", book(2).g8x16());
    EXPECT_EQ("", book(2).g16x16());  // an empty field given is an empty name
    EXPECT_EQ("F24", book(2).g12x24());
    EXPECT_EQ("", book(2).g24x24());
    EXPECT_EQ("", book(3).bookTitle());
    ASSERT_EQ(1u, book(3).getSource().size());
    EXPECT_EQ(2, book(3).getSource()[0].sourceTypeID());
}

TEST_F(LfsProject, LinesCommentsAndLineEnds) {
    ASSERT_TRUE(
        loadBytes(lftest::toShiftJis("# Book=Comment;C;x\r\n\r\nno equals sign\rBook=CR;C;x\rBook=LF;L;x\n"
                                     "Book=CRLF;R;x\r\nBook=Last;Z;x")));
    ASSERT_EQ(4u, set->getBookArray().size());
    EXPECT_EQ("CR", book(0).bookTitle());
    EXPECT_EQ("Last", book(3).bookTitle());
}

TEST_F(LfsProject, ShiftJisPathsWithBackslashes) {
    // 表 is 0x95 0x5C: its trail byte is the backslash's code and must stay
    // part of the character; real backslashes stay backslashes.
    ASSERT_TRUE(loadBytes(lftest::toShiftJis(kPlainBook) + "\nSource=C:\\dic\\\x95\x5C.txt;\x95\x5C;x;PLAIN"));
    const SourceInfo& s = book(0).getSource().at(0);
    EXPECT_EQ("C:\\dic\\表.txt", s.inFile());
    EXPECT_EQ("表", s.title());
}

TEST_F(LfsProject, TheLoadResetsBooksAndOptionsOnly) {
    set->getBookArray().push_back(BookInfo());
    set->setBasePath("/base");
    set->setOutputPath("/out");
    set->setEbType(0);
    set->setCsvFields("f");
    set->setIndexDef(0x43);
    set->getConvertOpt()->tableWidth = 5;
    ASSERT_TRUE(load("OutPath=/elsewhere"));
    EXPECT_TRUE(set->getBookArray().empty());
    EXPECT_EQ("/base", set->basePath());
    EXPECT_EQ("/out", set->outputPath());
    EXPECT_EQ(0, set->ebType());
    EXPECT_EQ("f", set->csvFields());
    EXPECT_EQ(0, set->indexDef());
    EXPECT_EQ(480, set->getConvertOpt()->tableWidth);
    EXPECT_EQ(-1, set->correntBook());
    EXPECT_EQ(-1, set->correntSource());
}

TEST_F(LfsProject, FilesThatAreNotShiftJisGiveNoBooks) {
    const struct {
        const char* what;
        std::string bytes;
    } kCases[] = {
        {"a lead byte at the end", std::string(kPlainBook) + "\n\x95"},
        {"a lead byte before a line feed", std::string(kPlainBook) + "\x95\n"},
        {"a byte no character starts with", std::string(kPlainBook) + "\n\xFD"},
        {"a code with no character", std::string(kPlainBook) + "\n\xF0\x40"},
        {"a zero byte", std::string(kPlainBook) + std::string(1, '\0') + "\n"},
        {"UTF-8", "Book=\xE8\xBE\x9E;D;x"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        set->getBookArray().push_back(BookInfo());
        EXPECT_FALSE(loadBytes(c.bytes));
        EXPECT_TRUE(set->getBookArray().empty());
        EXPECT_EQ(-1, set->correntBook());
    }
    std::string error;
    EXPECT_FALSE(set->loadLFSFile(dir.file("none.lfs"), &error));
    EXPECT_NE(std::string::npos, error.find("none.lfs"));
}

TEST(LfsDecoder, ShiftJisCharacters) {
    const struct {
        const char* what;
        std::string bytes;
        size_t used;
        const char* utf8;
    } kCases[] = {
        {"ASCII", "A", 1, "A"},
        {"backslash", "\\", 1, "\\"},
        {"half-width katakana", "\xB1", 1, "\xEF\xBD\xB1"},
        {"kanji", "\x8A\xBF", 2, "\xE6\xBC\xA2"},
        {"trail byte 0x5C", "\x95\x5C", 2, "\xE8\xA1\xA8"},
        {"lone lead byte", "\x8A", 0, ""},
        {"lead byte and no trail", "\x8A\x20", 0, ""},
        {"zero", std::string(1, '\0'), 0, ""},
        {"0x80", "\x80", 0, ""},
        {"0xA0", "\xA0", 0, ""},
        {"user-defined area", "\xF0\x40", 0, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::string utf8 = ">";
        EXPECT_EQ(c.used,
                  decodeShiftJisChar(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(), &utf8));
        EXPECT_EQ(std::string(">") + c.utf8, utf8);
    }
}
