// Gaiji manager: code allocation in the narrow and wide ranges, start codes,
// gaiji map files, gaiji font definition files and hex bitmap fonts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/gaiji/CGaiji.h"
#include "builder/gaiji/CHexFontFile.h"
#include "tests/common/TestDir.h"

namespace {

std::vector<std::string> g_messages;
void collectMessage(const char* text) {
    g_messages.push_back(text);
}

uint32_t allocate(CGaiji& g, uint32_t cp) {
    uint32_t code = 0xDEAD;
    EXPECT_EQ(0, g.allocateCode(cp, &code));
    return code;
}

TEST(GaijiCodes, NextCodeRule) {
    const struct {
        uint32_t code, next;
    } cases[] = {
        {0xA121, 0xA122}, {0xA17D, 0xA17E}, {0xA17E, 0xA221}, {0xB07E, 0xB121}, {0xFE7E, 0xFF21},
    };
    for (const auto& c : cases) EXPECT_EQ(c.next, CGaiji::nextCode(c.code)) << std::hex << c.code;
}

TEST(GaijiCodes, DefaultAllocationAndLookup) {
    CGaiji g;
    const GAIJI_CODE_STATE* s = g.getGaijiMap();
    EXPECT_EQ(0xA121, s->narrowStart);
    EXPECT_EQ(0xB121, s->wideStart);
    EXPECT_EQ(0xA121u, allocate(g, 0x00E9));  // Latin: narrow
    EXPECT_EQ(0xB121u, allocate(g, 0x4E00));  // kanji: wide
    uint32_t code = 0;
    const char* alt = "x";
    EXPECT_EQ(0, g.lookupUnicode(0x00E9, &code, &alt, 1));
    EXPECT_EQ(0xA121u, code);
    EXPECT_EQ(nullptr, alt);
    EXPECT_EQ(2, s->count);  // found, nothing allocated
    EXPECT_EQ(0xA122, s->narrowNext);
    EXPECT_EQ(0xB122, s->wideNext);
    EXPECT_TRUE(g.isNarrowCode(0xA121));
    EXPECT_FALSE(g.isNarrowCode(0xA122));
    EXPECT_TRUE(g.isWideCode(0xB121));
    EXPECT_EQ(0x4E00u, g.unicodeForCode(0xB121));
    EXPECT_EQ(0u, g.unicodeForCode(0xB122));

    // Without create an unknown character leaves the code as the caller set it.
    code = 0x1234;
    g.lookupUnicode(0x5000, &code, &alt, 0);
    EXPECT_EQ(0x1234u, code);
    EXPECT_EQ(2, s->count);
}

TEST(GaijiCodes, NarrowOrWideByCodePoint) {
    const struct {
        uint32_t cp;
        bool narrow;
    } cases[] = {
        {0x0041, true}, {0x05FF, true},  {0x0600, false},  {0x0E01, true},  {0x1E00, true},
        {0x2C60, true}, {0xFB00, true},  {0xFE20, true},   {0xFE50, true},  {0xFF61, true},
        {0xFF9F, true}, {0xFFA0, false}, {0x20B9F, false}, {0xE001, false},
    };
    for (const auto& c : cases) {
        CGaiji g;
        uint32_t code = allocate(g, c.cp);
        EXPECT_EQ(c.narrow ? 0xA121u : 0xB121u, code) << std::hex << c.cp;
    }
}

TEST(GaijiCodes, RowEndMovesToNextRow) {
    CGaiji g;
    g.setStartCodes(0xA17D, 0xB121);
    EXPECT_EQ(0xA17Du, allocate(g, 0xE0));
    EXPECT_EQ(0xA17Eu, allocate(g, 0xE1));
    EXPECT_EQ(0xA221u, allocate(g, 0xE2));
    EXPECT_EQ(0xA222, g.getGaijiMap()->narrowNext);
}

TEST(GaijiCodes, ExhaustionGivesZeroAndOneMessage) {
    g_messages.clear();
    CGaiji g;
    g.setMessageCallback(collectMessage);
    g.setStartCodes(0xA121, 0xFE7D);
    EXPECT_EQ(0xFE7Du, allocate(g, 0x4E00));
    EXPECT_EQ(0xFE7Eu, allocate(g, 0x4E01));  // the last code
    EXPECT_EQ(0u, allocate(g, 0x4E02));
    EXPECT_EQ(0u, allocate(g, 0x4E03));
    EXPECT_EQ(2, g.getGaijiMap()->count);  // no entry without a code
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_NE(std::string::npos, g_messages[0].find("wide"));
    // The other range still works.
    EXPECT_EQ(0xA121u, allocate(g, 0xE9));
    EXPECT_EQ(1u, g_messages.size());
}

TEST(GaijiCodes, RangesThatMeetGiveZero) {
    g_messages.clear();
    CGaiji g;
    g.setMessageCallback(collectMessage);
    g.setStartCodes(0xA121, 0xA121);
    EXPECT_EQ(0xA121, g.getGaijiMap()->wideStart);
    EXPECT_EQ(0u, allocate(g, 0xE9));
    EXPECT_EQ(0u, allocate(g, 0x4E00));
    EXPECT_EQ(0, g.getGaijiMap()->count);
    EXPECT_EQ(2u, g_messages.size());  // once per range

    // The narrow range growing into the wide range stops there.
    CGaiji h;
    h.setStartCodes(0xB07E, 0xB121);
    EXPECT_EQ(0xB07Eu, allocate(h, 0xE9));
    EXPECT_EQ(0u, allocate(h, 0xEA));
}

TEST(GaijiCodes, StartCodesRejected) {
    const struct {
        const char* what;
        uint16_t narrow, wide;
    } cases[] = {
        {"narrow below the area", 0xA120, 0xB121},
        {"wide beyond the last code", 0xA121, 0xFE7F},
        {"cell outside 0x21..0x7E", 0xA180, 0xB121},
    };
    for (const auto& c : cases) {
        CGaiji g;
        g.setStartCodes(c.narrow, c.wide);
        EXPECT_EQ(0xA121, g.getGaijiMap()->narrowStart) << c.what;
        EXPECT_EQ(0xB121, g.getGaijiMap()->wideStart) << c.what;
    }
    CGaiji g;
    allocate(g, 0xE9);
    g.setStartCodes(0xA221, 0xB221);  // entries exist already
    EXPECT_EQ(0xA121, g.getGaijiMap()->narrowStart);
    EXPECT_EQ(0xA122, g.getGaijiMap()->narrowNext);
}

TEST(GaijiCodes, TableGrowsAndStateFollows) {
    CGaiji g;
    GAIJI_CODE_STATE* s = g.getGaijiMap();
    for (uint32_t i = 0; i < 2100; ++i) ASSERT_NE(0u, allocate(g, 0x4E00 + i));
    EXPECT_EQ(2100, s->count);
    EXPECT_EQ(0x4E00u + 2099, s->gaijiMap[2099].unicode);
    EXPECT_EQ(s, g.getGaijiMap());
}

// A string table standing in for the book writer's.
struct FakeBook {
    std::vector<std::unique_ptr<char[]>> texts;
    int calls = 0;
    char* addStringT(const char* bytes, int n) {
        ++calls;
        texts.emplace_back(new char[n]);
        std::memcpy(texts.back().get(), bytes, n);
        return texts.back().get();
    }
};

class GaijiFiles : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& content) {
        std::string path = dir.file(name);
        EXPECT_TRUE(lftest::writeFile(path, content));
        return path;
    }
    lftest::TestDir dir;
};

TEST_F(GaijiFiles, MapEntries) {
    std::string path = write("map.xml",
                             "<GAIJIDATA>\n"
                             "<gaijimap unicode=\"#x4E00\" ebcode=\"B121\" name=\"ichi\" alt=\"one\"></gaijimap>\n"
                             "<GAIJIMAP UNICODE=\"#19968\" ebcode=\"B122\"/>\n"
                             "<GAIJIMAP unicode=\"4E00\" ebcode=\"B123\" mojikyo=\"123\" other=\"x\"/>\n"
                             "<GAIJIMAP name=\"\" unicode=\"#x20B9F\" ebcode=\"B124\"/>\n"
                             "<GAIJIMAP unicode=\"#x00E9\">never closed\n"
                             "<GAIJIMAP unicode=\"#x00E8\" ebcode=\"A121\"></GAIJIMAP>\n"
                             "</GAIJIDATA>\n");
    CGaiji g;
    FakeBook book;
    EXPECT_EQ(0, g.parseGaijiMap(&book, path.c_str()));
    const GAIJI_CODE_STATE* s = g.getGaijiMap();
    ASSERT_EQ(5, s->count);
    const struct {
        uint32_t unicode, ebCode;
        int mojikyo;
        const char* name;
        const char* alt;
    } want[] = {
        {0x4E00, 0xB121, 0, "ichi", "one"},      {0x4E00, 0xB122, 0, nullptr, nullptr},
        {0x4E00, 0xB123, 123, nullptr, nullptr}, {0x20B9F, 0xB124, 0, nullptr, nullptr},  // an empty name is not kept
        {0x00E8, 0xA121, 0, nullptr, nullptr},  // the unclosed start tag was overwritten
    };
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const GAIJI_ITEM& e = s->gaijiMap[i];
        EXPECT_EQ(want[i].unicode, e.unicode);
        EXPECT_EQ(want[i].ebCode, e.ebCode);
        EXPECT_EQ(want[i].mojikyo, e.mojikyo);
        EXPECT_EQ(want[i].name ? std::string(want[i].name) : "<null>", e.name ? std::string(e.name) : "<null>");
        EXPECT_EQ(want[i].alt ? std::string(want[i].alt) : "<null>", e.alt ? std::string(e.alt) : "<null>");
    }
    EXPECT_EQ(2, book.calls);  // name and alt went to the book's table

    uint32_t code = 0;
    const char* alt = nullptr;
    g.lookupUnicode(0x4E00, &code, &alt, 1);
    EXPECT_EQ(0xB121u, code);  // the first entry wins
    EXPECT_STREQ("one", alt);

    uint32_t unicode = 0;
    code = 0;
    EXPECT_EQ(-1, g.findByName("ICHI", &unicode, &code, &alt));
    EXPECT_EQ(0x4E00u, unicode);
    EXPECT_EQ(0xB121u, code);
    unicode = 7;
    g.findByName("ni", &unicode, &code, &alt);
    EXPECT_EQ(7u, unicode);  // nothing stored when no entry has the name
}

TEST_F(GaijiFiles, MapCodesAreNotHandedOutAgain) {
    std::string path = write("map.xml",
                             "<GAIJIMAP unicode=\"#x00E8\" ebcode=\"A121\"/>\n"
                             "<GAIJIMAP unicode=\"#x00E7\" ebcode=\"A122\"/>\n"
                             "<GAIJIMAP unicode=\"#x4E00\" ebcode=\"B121\"/>\n");
    CGaiji g;
    ASSERT_EQ(0, g.parseGaijiMap(path.c_str(), nullptr, nullptr));
    EXPECT_EQ(0xA123u, allocate(g, 0x00E9));
    EXPECT_EQ(0xB122u, allocate(g, 0x4E01));
}

// An end tag whose start tag was overwritten by a later one commits nothing:
// it neither adds an empty entry nor reaches past a full array.
TEST_F(GaijiFiles, LeftOverEndTagsAddNothing) {
    CGaiji g;
    std::string nested = write("nested.xml",
                               "<GAIJIMAP unicode=\"#x00E9\" ebcode=\"A121\">"
                               "<GAIJIMAP unicode=\"#x00E8\" ebcode=\"A122\"></GAIJIMAP>"
                               "</GAIJIMAP>\n");
    ASSERT_EQ(0, g.parseGaijiMap(nested.c_str(), nullptr, nullptr));
    ASSERT_EQ(1, g.getGaijiMap()->count);
    EXPECT_EQ(0xE8u, g.getGaijiMap()->gaijiMap[0].unicode);

    // The array holds 2048 entries; 2040 of them are used before 20 start
    // tags in a row and their 20 end tags.
    std::string full;
    for (int i = 0; i < 2040; ++i) full += "<GAIJIMAP unicode=\"#x" + std::to_string(5000 + i) + "\"/>\n";
    for (int i = 0; i < 20; ++i) full += "<GAIJIMAP unicode=\"#x9000\">";
    for (int i = 0; i < 20; ++i) full += "</GAIJIMAP>";
    std::string path = write("full.xml", full);
    ASSERT_EQ(0, g.parseGaijiMap(path.c_str(), nullptr, nullptr));
    ASSERT_EQ(2041, g.getGaijiMap()->count);
    EXPECT_EQ(0x9000u, g.getGaijiMap()->gaijiMap[2040].unicode);
}

TEST_F(GaijiFiles, MapErrors) {
    CGaiji g;
    allocate(g, 0xE9);
    EXPECT_EQ(-1, g.parseGaijiMap(dir.file("missing.xml").c_str(), nullptr, nullptr));
    EXPECT_EQ(0, g.getGaijiMap()->count);  // emptied even so

    std::string endOnly = write("end.xml", "<GAIJIMAP unicode=\"#x4E00\"/>\n</GAIJIMAP>\n");
    try {
        g.parseGaijiMap(endOnly.c_str(), nullptr, nullptr);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("<GAIJIMAP></GAIJIMAP> Miss Match!!(parseGaijiMap)", e.what());
    }

    // A tag cut off by the end of the file adds nothing.
    std::string cut = write("cut.xml", "<GAIJIMAP unicode=\"#x4E00\" ebcode=\"B1");
    EXPECT_EQ(0, g.parseGaijiMap(cut.c_str(), nullptr, nullptr));
    EXPECT_EQ(0, g.getGaijiMap()->count);
}

TEST_F(GaijiFiles, FontDefinition) {
    std::string path = write("font.xml",
                             "<GAIJISET>\n"
                             "<FONTSET size=\"8x16\" start=\"A121\">\n"
                             "<FONTDATA>\n## ..\n  ##\n</FONTDATA>\n"
                             "<FONTDATA>\nab</FONTDATA>\n"
                             "<FONTDATA>\ncd</FONTDATA>\n"
                             "</FONTSET>\n"
                             "<FONTSET size=\"16X16\" start=\"B121\">\n"
                             "<FONTDATA>xy</FONTDATA>\n"
                             "</FONTSET>\n"
                             "</GAIJISET>\n");
    CGaiji g;
    EXPECT_EQ(GAIJI_MASK_8X16 | GAIJI_MASK_16X16, g.parseGaijiFont(path.c_str()));
    const GAIJI_CODE_STATE* s = g.getGaijiMap();
    EXPECT_EQ(0xA121, s->narrowStart);
    EXPECT_EQ(0xA124, s->narrowNext);
    EXPECT_EQ(0xB121, s->wideStart);
    EXPECT_EQ(0xB122, s->wideNext);
    ASSERT_NE(nullptr, g.fontBitmap(GAIJI_8X16, 0xA121));
    EXPECT_EQ("## ..  ##", *g.fontBitmap(GAIJI_8X16, 0xA121));  // rows joined, spaces kept
    EXPECT_EQ("cd", *g.fontBitmap(GAIJI_8X16, 0xA123));
    EXPECT_EQ("xy", *g.fontBitmap(GAIJI_16X16, 0xB121));
    EXPECT_EQ(3u, g.fontGlyphCount(GAIJI_8X16));
    // Allocation goes on after the glyphs.
    EXPECT_EQ(0xA124u, allocate(g, 0xE9));

    EXPECT_EQ(0, g.parseGaijiFont(dir.file("missing.xml").c_str()));
    EXPECT_EQ(3u, g.fontGlyphCount(GAIJI_8X16));  // nothing changed
}

TEST_F(GaijiFiles, FontSetLeftOpen) {
    // Without its end tag the set still moves the next code past its glyphs.
    std::string path = write("open.xml",
                             "<FONTSET size=\"8x16\" start=\"C121\"><FONTDATA>a</FONTDATA><FONTDATA>b</FONTDATA>\n"
                             "<FONTSET size=\"16x16\" start=\"D121\"><FONTDATA>c</FONTDATA>\n");
    CGaiji g;
    EXPECT_EQ(GAIJI_MASK_8X16 | GAIJI_MASK_16X16, g.parseGaijiFont(path.c_str()));
    EXPECT_EQ(0xC121, g.getGaijiMap()->narrowStart);
    EXPECT_EQ(0xC123, g.getGaijiMap()->narrowNext);
    EXPECT_EQ(0xD121, g.getGaijiMap()->wideStart);
    EXPECT_EQ(0xD122, g.getGaijiMap()->wideNext);
    EXPECT_EQ(0xC123u, allocate(g, 0xE9));
}

TEST_F(GaijiFiles, FontSizes) {
    const struct {
        const char* value;
        int size;
        int mask;
    } cases[] = {
        {"8x16", GAIJI_8X16, 0x02},   {"16x16", GAIJI_16X16, 0x01}, {"24x24", GAIJI_24X24, 0x04},
        {"12x24", GAIJI_12X24, 0x08}, {"32x30", GAIJI_32X30, 0x10}, {"16x30", GAIJI_16X30, 0x20},
        {"48x48", GAIJI_48X48, 0x40}, {"24x48", GAIJI_24X48, 0x80}, {"16x24", GAIJI_16X24, 0x100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::string path = write(
            "f.xml", std::string("<FONTSET size=\"") + c.value + "\" start=\"C121\"><FONTDATA>z</FONTDATA></FONTSET>");
        CGaiji g;
        EXPECT_EQ(c.mask, g.parseGaijiFont(path.c_str()));
        ASSERT_NE(nullptr, g.fontBitmap(c.size, 0xC121));
        bool narrow = CGaiji::sizeIsNarrow(c.size);
        EXPECT_EQ(0xC122, narrow ? g.getGaijiMap()->narrowNext : g.getGaijiMap()->wideNext);
    }
}

TEST_F(GaijiFiles, FontErrors) {
    const struct {
        const char* what;
        std::string content;
        std::string message;
    } cases[] = {
        {"unknown size", "<FONTSET size=\"10x10\" start=\"A121\"></FONTSET>", "unknown gaiji size (parseGaijiFont)"},
        {"end tag alone", "<FONTSET size=\"8x16\" start=\"A121\"></FONTDATA></FONTSET>",
         "<FONTDATA></FONTDATA> Miss Match!!(parseGaijiFont)"},
        {"start outside the gaiji area", "<FONTSET size=\"8x16\" start=\"2121\"></FONTSET>",
         "invalid gaiji code:ebcode=2121 (parseGaijiFont)"},
        {"glyph without a start code", "<FONTSET size=\"8x16\"><FONTDATA>a</FONTDATA></FONTSET>",
         "invalid gaiji code:ebcode=0000 (parseGaijiFont)"},
        {"glyphs beyond the last code",
         "<FONTSET size=\"16x16\" start=\"FE7E\"><FONTDATA>a</FONTDATA><FONTDATA>b</FONTDATA></FONTSET>",
         "invalid gaiji code:ebcode=FF21 (parseGaijiFont)"},
        {"over-long glyph line",
         "<FONTSET size=\"8x16\" start=\"A121\">\n<FONTDATA>\n" + std::string(3000, '#') + "\n</FONTDATA></FONTSET>",
         "gaiji font line too long in PATH (Line=3) (parseGaijiFont)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = write("bad.xml", c.content);
        std::string want = c.message;
        size_t at = want.find("PATH");
        if (at != std::string::npos) want.replace(at, 4, path);
        CGaiji g;
        try {
            g.parseGaijiFont(path.c_str());
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(want, e.what());
        }
    }
}

TEST_F(GaijiFiles, HexFontSizes) {
    const struct {
        const char* first;
        int result;
        int size;
    } cases[] = {
        {"16 16", 0, GAIJI_16X16},
        {"8 16", 0, GAIJI_8X16},
        {"12 16", 0, GAIJI_8X16},
        {"16 24", 0, GAIJI_12X24},
        {"20 24", 0, GAIJI_24X24},
        {"\xEF\xBB\xBF"
         "16 24",
         0, GAIJI_12X24},   // UTF-8 byte-order mark first
        {"32 32", -1, -1},  // 32x30 has no hex map
        {"16", 0, -1},      // no height
        {"", 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        std::string path = write("f.hex", std::string(c.first) + "\n0041:FF\n");
        CGaiji g;
        EXPECT_EQ(c.result, g.loadHexFont(path.c_str()));
        for (int s = 0; s < GAIJI_FONT_SIZES; ++s) EXPECT_EQ(s == c.size ? 1u : 0u, g.hexGlyphCount(s)) << s;
    }
    CGaiji g;
    EXPECT_EQ(-1, g.loadHexFont(dir.file("missing.hex").c_str()));
}

TEST_F(GaijiFiles, HexFontGlyphs) {
    std::string path = write("f.hex",
                             "8 16\n"
                             "0041:8001" +
                                 std::string(28, '0') +
                                 "\n"                                       // row 0: pixel 0 set; row 1: pixel 15 set
                                 "0041:FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\n"  // a second definition is ignored
                                 "00E9:F\n"                                 // shorter than two digits: blank
                                 "4E00:" +
                                 std::string(40, 'F') + "\n");  // extra bits are ignored
    CGaiji g;
    EXPECT_EQ(0, g.loadHexFont(path.c_str()));
    const std::string* a = g.hexBitmap(GAIJI_8X16, 0x41);
    ASSERT_NE(nullptr, a);
    ASSERT_EQ(128u, a->size());
    EXPECT_EQ("#       ", a->substr(0, 8));
    EXPECT_EQ("       #", a->substr(8, 8));
    EXPECT_EQ(std::string(112, ' '), a->substr(16));
    EXPECT_EQ(std::string(128, ' '), *g.hexBitmap(GAIJI_8X16, 0xE9));
    EXPECT_EQ(std::string(128, '#'), *g.hexBitmap(GAIJI_8X16, 0x4E00));

    std::string stops = write("g.hex", "16 16\n0041:00\n0042:00\nno code here\n0043:00\n");
    CGaiji h;
    EXPECT_EQ(2, h.loadHexFont(stops.c_str()));
    EXPECT_EQ(2u, h.hexGlyphCount(GAIJI_16X16));
}

TEST_F(GaijiFiles, HexFontLines) {
    const struct {
        const char* what;
        std::string content;
        int result;
        size_t glyphs;
    } cases[] = {
        {"CR LF line ends", "16 16\r\n0041:00\r\n0042:00\r\n", 0, 2},
        {"no line end after the last glyph", "16 16\n0041:00\n0042:00", 0, 2},
        {"blanks before the code", "16 16\n  0041:00\n\t0042:00\n", 0, 2},
        {"an empty line ends the reading", "16 16\n0041:00\n\n0042:00\n", 1, 1},
        {"a colon past the line limit ends it", "16 16\n0041:00\n" + std::string(1100, ' ') + ":00\n", 1, 1},
        {"a code line without digits ends it", "16 16\nzz:00\n0041:00\n", 0, 0},
        {"a code of more than 32 bits is skipped", "16 16\n123456789:00\n0041:00\n", 0, 1},
        {"width 0", "0 16\n0041:00\n", -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CGaiji g;
        EXPECT_EQ(c.result, g.loadHexFont(write("f.hex", c.content).c_str()));
        EXPECT_EQ(c.glyphs, g.hexGlyphCount(GAIJI_16X16));
    }
}

// Two fonts of one size: the glyph of the font loaded first wins, and a
// font that ends early counts only the glyphs it added.
TEST_F(GaijiFiles, HexFontsOfOneSizeKeepTheFirstGlyph) {
    const std::string one = "8 16\n0041:" + std::string(32, 'F') + "\n0042:" + std::string(32, 'F') + "\n";
    const std::string two = "8 16\n0042:" + std::string(32, '0') + "\n0043:" + std::string(32, '0') + "\n-\n";
    CGaiji g;
    EXPECT_EQ(0, g.loadHexFont(write("one.hex", one).c_str()));
    EXPECT_EQ(1, g.loadHexFont(write("two.hex", two).c_str()));
    EXPECT_EQ(3u, g.hexGlyphCount(GAIJI_8X16));
    EXPECT_EQ(std::string(128, '#'), *g.hexBitmap(GAIJI_8X16, 0x42));
    EXPECT_EQ(std::string(128, ' '), *g.hexBitmap(GAIJI_8X16, 0x43));
    EXPECT_EQ(nullptr, g.hexBitmap(GAIJI_8X16, 0x44));
    EXPECT_EQ(nullptr, g.hexBitmap(GAIJI_16X16, 0x41));
    // The same glyph asked for twice is the same text.
    EXPECT_EQ(g.hexBitmap(GAIJI_8X16, 0x41), g.hexBitmap(GAIJI_8X16, 0x41));
}

// An opened font reads its glyphs when one is first asked for; a file that
// is gone or has another size by then gives no glyphs.
TEST_F(GaijiFiles, OpenedHexFontReadsItsGlyphsOnFirstUse) {
    const std::string glyph = "0041:" + std::string(32, 'F') + "\n";
    const struct {
        const char* what;
        const char* later;  // the file when the glyphs are read; null: removed
        size_t glyphs;
    } cases[] = {
        {"unchanged", "8 16\n", 1},
        {"removed", nullptr, 0},
        {"another size", "16 16\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write("f.hex", "8 16\n" + glyph);
        auto font = CHexFontFile::open(path.c_str());
        EXPECT_EQ(CGaiji::hexIndex(GAIJI_8X16), font->hexIndex());
        if (c.later)
            write("f.hex", c.later + glyph);
        else
            std::remove(path.c_str());
        CGaiji g;
        EXPECT_EQ(0, g.shareHexFont(font));
        EXPECT_EQ(c.glyphs, g.hexGlyphCount(GAIJI_8X16));
        EXPECT_EQ(c.glyphs != 0, g.hexBitmap(GAIJI_8X16, 0x41) != nullptr);
    }
    CGaiji g;
    EXPECT_EQ(-1, g.shareHexFont(CHexFontFile::open(dir.file("missing.hex").c_str())));
    EXPECT_EQ(-1, g.shareHexFont(CHexFontFile::open(write("f.hex", "32 32\n").c_str())));
}

}  // namespace
