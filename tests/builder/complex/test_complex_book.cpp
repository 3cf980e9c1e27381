// Books with complex (multi-field) search read back through the EB Library:
// the multi searches with their titles and field labels, the candidate lists
// of the fields that have them, and searches by one and by two fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "builder/CEPWing.h"
#include "builder/ConvertOpt.h"
#include "foundation/pathutil.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::TestDir;

// ASCII letters and digits as the full-width Shift_JIS characters libeb
// gives back for them.
std::string wide(const std::string& ascii) {
    std::string out;
    for (char ch : ascii) {
        unsigned c = static_cast<unsigned char>(ch);
        unsigned code = 0x8140;  // space
        if (c >= 'A' && c <= 'Z') code = 0x8260 + (c - 'A');
        if (c >= 'a' && c <= 'z') code = 0x8281 + (c - 'a');
        if (c >= '0' && c <= '9') code = 0x824F + (c - '0');
        out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
    }
    return out;
}

// Four works: author and genre are complex keys; one keyword key feeds the
// book's complex keyword index.
const char kWorks[] =
    "<DL>\n"
    "<DT>Botchan</DT><KEY type=\"complex\" name=\"author\">Soseki</KEY>"
    "<KEY type=\"complex\" name=\"genre\">novel</KEY><KEY type=\"keyword\">school</KEY><DD>A school story.</DD>\n"
    "<DT>Kokoro</DT><KEY type=\"complex\" name=\"author\">Soseki</KEY>"
    "<KEY type=\"complex\" name=\"genre\">novel</KEY><DD>A heart.</DD>\n"
    "<DT>Yume</DT><KEY type=\"complex\" name=\"author\">Soseki</KEY>"
    "<KEY type=\"complex\" name=\"genre\">story</KEY><DD>Ten nights.</DD>\n"
    "<DT>Rashomon</DT><KEY type=\"complex\" name=\"author\">Akutagawa</KEY>"
    "<KEY type=\"complex\" name=\"genre\">story</KEY><DD>A gate.</DD>\n"
    "</DL>\n";

const char kDefinition[] =
    "<COMPLEX name=\"Works\">\n"
    " <GROUP name=\"Author\"><ATTR name=\"author\"></GROUP>\n"
    " <GROUP name=\"Genre\"><ATTR name=\"genre\">\n"
    "  <CATEGORY name=\"Fiction\"><KEYWORD>novel</KEYWORD><KEYWORD>story</KEYWORD></CATEGORY>\n"
    "  <KEYWORD name=\"poem\"/>\n"
    " </GROUP>\n"
    "</COMPLEX>\n"
    "<COMPLEX>\n"
    " <GROUP name=\"genre\"></GROUP>\n"
    "</COMPLEX>\n"
    "<COMPLEX name=\"Keywords\"><GROUP name=\"Keyword\" type=\"keyword\"/></COMPLEX>\n";

struct Built {
    TestDir dir;
    lftest::BookRun run;
    std::string book() const { return dir.path(); }
};

void build(Built* b, int typeCplxKwd, const std::string& definition = kDefinition, const std::string& works = kWorks) {
    lftest::writeFile(b->dir.file("works.html"), works);
    lftest::writeFile(b->dir.file("works.def"), std::string(definition));
    lftest::BookRecipe r;
    r.outDir = b->dir.path();
    r.complexDef = b->dir.file("works.def");
    r.indexDef = (1 << IDX_WORD_HYOKI) | (1 << IDX_KEYWORD) | (1 << IDX_COMPLEX);
    r.sources.push_back({b->dir.file("works.html"), "", 0});
    r.configure = [typeCplxKwd](CEPWing& w) { w.setIntOption("typeCplxKwd", typeCplxKwd); };
    b->run = lftest::buildBook(r);
}

std::vector<std::string> headingsOf(lftest::EbProbe& p, const std::vector<lftest::EbHit>& hits) {
    std::vector<std::string> out;
    for (const auto& h : hits) out.push_back(p.readHeading(0, h.headingBlock, h.headingOffset));
    std::sort(out.begin(), out.end());
    return out;
}

class ComplexBook : public ::testing::TestWithParam<int> {};

TEST_P(ComplexBook, MultiSearchReadsBackThroughTheEbLibrary) {
    Built b;
    build(&b, GetParam());
    ASSERT_EQ(b.run.newBookResult, 0) << b.run.log();
    EXPECT_NE(b.run.log().find("Complex Index...(8)\r\n"), std::string::npos) << b.run.log();
    const char* index = GetParam() ? "Prefix Index(Complex)...(1)\r\n" : "Keyword Index(Complex)...(1)\r\n";
    EXPECT_NE(b.run.log().find(index), std::string::npos) << b.run.log();
    lftest::EbProbe p(b.book());
    ASSERT_TRUE(p.ok()) << p.error();
    auto searches = p.multiSearches(0);
    ASSERT_EQ(searches.size(), 3u) << p.error();
    EXPECT_EQ(searches[0].title, wide("Works"));
    ASSERT_EQ(searches[0].entries.size(), 2u);
    EXPECT_EQ(searches[0].entries[0].label, wide("Author"));
    EXPECT_EQ(searches[0].entries[1].label, wide("Genre"));
    EXPECT_FALSE(searches[0].entries[0].hasCandidates);
    ASSERT_TRUE(searches[0].entries[1].hasCandidates);

    // The candidates: a group and a word; the group's list holds two words.
    auto top = p.candidates(0, searches[0].entries[1].candidatesBlock, searches[0].entries[1].candidatesOffset);
    ASSERT_EQ(top.size(), 2u) << p.error();
    EXPECT_EQ(top[0].word, wide("Fiction"));
    EXPECT_TRUE(top[0].group);
    // Words come in the form of the keys: a picked word is searched as it
    // stands.
    EXPECT_EQ(top[1].word, wide("POEM"));
    EXPECT_FALSE(top[1].group);
    auto sub = p.candidates(0, top[0].block, top[0].offset);
    ASSERT_EQ(sub.size(), 2u) << p.error();
    EXPECT_EQ(sub[0].word, wide("NOVEL"));
    EXPECT_EQ(sub[1].word, wide("STORY"));

    struct Case {
        const char* what;
        std::vector<std::string> words;
        std::vector<std::string> headings;
    } cases[] = {
        {"a typed word", {"Soseki", ""}, {"Botchan", "Kokoro", "Yume"}},
        {"a typed word, folded", {"soseki", ""}, {"Botchan", "Kokoro", "Yume"}},
        {"a picked candidate", {"", sub[1].word}, {"Rashomon", "Yume"}},
        {"two fields", {"Soseki", sub[0].word}, {"Botchan", "Kokoro"}},
        {"two fields, one hit", {"Soseki", sub[1].word}, {"Yume"}},
        {"no such key", {"Mori", ""}, {}},
        {"a candidate no entry has", {"", top[1].word}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> want;
        for (const auto& h : c.headings) want.push_back(h);
        std::sort(want.begin(), want.end());
        EXPECT_EQ(headingsOf(p, p.multiSearch(0, 0, c.words)), want) << c.what << " " << p.error();
    }
    // The second search takes the field named by its label; the third the
    // book's complex keyword index.
    EXPECT_EQ(headingsOf(p, p.multiSearch(0, 1, {"novel"})).size(), 2u) << p.error();
    EXPECT_EQ(headingsOf(p, p.multiSearch(0, 2, {"school"})), std::vector<std::string>{"Botchan"}) << p.error();
}

INSTANTIATE_TEST_SUITE_P(KeywordAndPrefixForm, ComplexBook, ::testing::Values(0, 1));

// Fields whose sub-indexes take many leaf pages and two levels of upper
// pages, with a group of 3000 entries running over several pages.
TEST_P(ComplexBook, LargeFieldsKeepEveryEntry) {
    std::string works = "<DL>\n";
    char line[160];
    for (int i = 0; i < 6000; ++i) {
        char author[16];
        std::snprintf(author, sizeof author, i % 2 == 0 ? "Soseki" : "A%04d", i);
        std::snprintf(line, sizeof line,
                      "<DT>W%04d</DT><KEY type=complex name=author>%s</KEY><KEY type=complex name=genre>G%04d</KEY>\n",
                      i, author, i);
        works += line;
    }
    works += "</DL>\n";
    Built b;
    build(&b, GetParam(), "<COMPLEX><GROUP name=author/><GROUP name=genre/></COMPLEX>", works);
    ASSERT_EQ(b.run.newBookResult, 0) << b.run.log();
    lftest::EbProbe p(b.book());
    struct Case {
        std::vector<std::string> words;
        size_t hits;
    } cases[] = {
        {{"Soseki", ""}, 3000}, {{"A0001", ""}, 1}, {{"A5999", ""}, 1},       {{"", "G0000"}, 1},
        {{"", "G5999"}, 1},     {{"", "G3001"}, 1}, {{"Soseki", "G4000"}, 1}, {{"Soseki", "G4001"}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(p.multiSearch(0, 0, c.words, 5000).size(), c.hits)
            << c.words[0] << "|" << c.words[1] << " " << p.error();
}

// A definition beyond what readers accept is refused before any file of
// the book is made.
TEST(ComplexBookRefused, DefinitionBeyondTheLimitsLeavesNoBook) {
    const std::string search = "<COMPLEX><GROUP name=author/></COMPLEX>\n";
    std::string eleven;
    for (int i = 0; i < 11; ++i) eleven += search;
    Built b;
    build(&b, 0, eleven);
    EXPECT_EQ(b.run.newBookResult, -1);
    EXPECT_NE(b.run.log().find("more than 10 complex searches (line 11)(loadComplexDef)"), std::string::npos)
        << b.run.log();
    EXPECT_FALSE(::fileExists(b.dir.file("TEST/DATA/HONMON").c_str()));
}

}  // namespace

// Complex keys and candidate words are chosen words: their blanks and
// symbols stay, so that the EB Library finds them typed as written (it
// takes a multi-search word as it is), whatever delBlank and delSym say.
TEST(ComplexBookKeys, BlanksAndSymbolsStayInKeysAndCandidates) {
    const std::string sanMarino = "\x83\x54\x83\x93\x81\x45\x83\x7d\x83\x8a\x83\x6d";  // サン・マリノ
    const std::string works = "<DL>\n"
                              "<DT>Dessert</DT><KEY type=\"complex\" name=\"word\">ice cream</KEY><DD>cold</DD>\n"
                              "<DT>Disc</DT><KEY type=\"complex\" name=\"word\">CD-ROM</KEY><DD>data</DD>\n"
                              "<DT>Country</DT><KEY type=\"complex\" name=\"word\">" +
                              sanMarino + "</KEY><DD>small</DD>\n</DL>\n";
    // Two fields over the same keys: one typed, one with candidates.
    const std::string definition = "<COMPLEX name=\"Words\">\n <GROUP name=\"Typed\"><ATTR name=\"word\"></GROUP>\n"
                                   " <GROUP name=\"Picked\"><ATTR name=\"word\">\n"
                                   "  <KEYWORD>ice cream</KEYWORD><KEYWORD>CD-ROM</KEYWORD>\n </GROUP>\n</COMPLEX>\n";
    Built b;
    build(&b, 0, definition, works);
    ASSERT_EQ(b.run.newBookResult, 0) << b.run.log();
    lftest::EbProbe p(b.book());
    ASSERT_TRUE(p.ok()) << p.error();
    auto searches = p.multiSearches(0);
    ASSERT_EQ(searches.size(), 1u) << p.error();
    ASSERT_EQ(searches[0].entries.size(), 2u);
    ASSERT_TRUE(searches[0].entries[1].hasCandidates);
    auto top = p.candidates(0, searches[0].entries[1].candidatesBlock, searches[0].entries[1].candidatesOffset);
    ASSERT_EQ(top.size(), 2u) << p.error();
    EXPECT_EQ(top[0].word, wide("ICE") + "\x81\x40" + wide("CREAM"));
    EXPECT_EQ(top[1].word, wide("CD") + "\x81\x7c" + wide("ROM"));
    struct Case {
        std::vector<std::string> words;
        std::vector<std::string> headings;
    } cases[] = {
        {{"ice cream", ""}, {"Dessert"}}, {{"ICE CREAM", ""}, {"Dessert"}}, {{"icecream", ""}, {}},
        {{"CD-ROM", ""}, {"Disc"}},       {{"cd-rom", ""}, {"Disc"}},       {{"CDROM", ""}, {}},
        {{sanMarino, ""}, {"Country"}},   {{"", top[0].word}, {"Dessert"}}, {{"", top[1].word}, {"Disc"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(headingsOf(p, p.multiSearch(0, 0, c.words)), c.headings) << c.words[0] << c.words[1];
}

// Half-width katakana in titles and labels are widened with their voiced
// and semi-voiced marks joined: ﾗﾍﾞﾙ is ラベル, not ラヘ゛ル.
TEST(ComplexBookKeys, HalfWidthKanaLabelsKeepTheirSoundMarks) {
    struct Case {
        std::string halfWidth;
        std::string fullWidth;
    } cases[] = {
        {"\xd7\xcd\xde\xd9", "\x83\x89\x83\x78\x83\x8b"},  // ﾗﾍﾞﾙ ラベル
        {"\xca\xdf\xdd", "\x83\x70\x83\x93"},              // ﾊﾟﾝ パン
        {"\xb3\xde\xa8", "\x83\x94\x83\x42"},              // ｳﾞｨ ヴィ
        {"\xc2\xde\xc3\xde\xc4\xde", "\x83\x64\x83\x66\x83\x68"},  // ﾂﾞﾃﾞﾄﾞ ヅデド
        {"\xcf\xde", "\x83\x7d\x81\x4a"},                  // ﾏﾞ: no such kana, the mark stays apart
    };
    std::string definition;
    for (const Case& c : cases)
        definition += "<COMPLEX name=\"" + c.halfWidth + "\"><GROUP name=\"" + c.halfWidth + "\"/></COMPLEX>\n";
    Built b;
    build(&b, 0, definition);
    ASSERT_EQ(b.run.newBookResult, 0) << b.run.log();
    lftest::EbProbe p(b.book());
    ASSERT_TRUE(p.ok()) << p.error();
    auto searches = p.multiSearches(0);
    ASSERT_EQ(searches.size(), sizeof cases / sizeof cases[0]) << p.error();
    for (size_t i = 0; i < searches.size(); ++i) {
        EXPECT_EQ(searches[i].title, cases[i].fullWidth) << i;
        ASSERT_EQ(searches[i].entries.size(), 1u);
        EXPECT_EQ(searches[i].entries[0].label, cases[i].fullWidth) << i;
    }
}
