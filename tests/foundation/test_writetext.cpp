// Book text writing: writeText (Shift_JIS with references to book codes),
// writeCode and writeHexCodes, the entity table.
#include "foundation/book/CBlockStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/book/escapecodes.h"
#include "tests/common/TestDir.h"

namespace {

using Codes = std::vector<uint16_t>;

// The codes written so far into the first block of a memory stream.
Codes written(CBlockStream& s) {
    const int n = s.currentOffset();
    EXPECT_EQ(n % 2, 0) << "a lone byte in book text";
    const unsigned char* p = s.page(0);
    Codes out;
    for (int i = 0; i + 1 < n; i += 2) out.push_back(static_cast<uint16_t>(p[i] << 8 | p[i + 1]));
    return out;
}

// Runs writeText over an exactly sized heap copy of the input, so that a read
// past its end is caught by the address sanitizer.
int writeTextExact(CBlockStream& s, const std::string& text, int length, int brackets, int lineFeeds) {
    std::vector<char> copy(text.begin(), text.end());
    return s.writeText(copy.data(), length, brackets, lineFeeds);
}

struct TextCase {
    const char* name;
    std::string text;
    int length;  // -1: all of text
    int brackets;
    int lineFeeds;
    int startColumn;
    Codes codes;
    int result;
    int column;
};

// Full-width JIS codes used below: a 2361 b 2362 A 2341 < 2163 & 2175 ; 2128
// # 2174 x 2378 space 2121; hiragana a 2422, i 2424; katakana a 2522; geta 222E.
const TextCase kTextCases[] = {
    {"brackets around a half-width run", "ab", -1, 1, 0, 0, {0x1F04, 0x2361, 0x2362, 0x1F05}, 2, 2},
    {"without brackets a narrow character counts 2", "ab", -1, 0, 0, 0, {0x2361, 0x2362}, 4, 2},
    {"a two-byte character closes the run",
     "a\x82\xa0"
     "b",
     -1,
     1,
     0,
     0,
     {0x1F04, 0x2361, 0x1F05, 0x2422, 0x1F04, 0x2362, 0x1F05},
     4,
     4},
    {"half-width katakana is narrow", "\xb1", -1, 1, 0, 0, {0x1F04, 0x2522, 0x1F05}, 1, 1},
    {"entity lt", "&lt;", -1, 1, 0, 0, {0x1F04, 0x2163, 0x1F05}, 1, 4},
    {"entity inside a run", "a&amp;b", -1, 1, 0, 0, {0x1F04, 0x2361, 0x2175, 0x2362, 0x1F05}, 3, 7},
    {"nbsp is a full-width space", "&nbsp;", -1, 1, 0, 0, {0x1F04, 0x2121, 0x1F05}, 1, 6},
    {"no semicolon: the ampersand is text", "&amp", -1, 0, 0, 0, {0x2175, 0x2361, 0x236D, 0x2370}, 8, 4},
    {"name of 16 bytes is not searched",
     "&abcdefghijklmnop;",
     -1,
     0,
     0,
     0,
     {0x2175, 0x2361, 0x2362, 0x2363, 0x2364, 0x2365, 0x2366, 0x2367, 0x2368, 0x2369, 0x236A, 0x236B, 0x236C, 0x236D,
      0x236E, 0x236F, 0x2370, 0x2128},
     36,
     18},
    {"unknown name is text", "&foo;", -1, 0, 0, 0, {0x2175, 0x2366, 0x236F, 0x236F, 0x2128}, 10, 5},
    {"entity above 127 without gaiji is text",
     "&mdash;",
     -1,
     0,
     0,
     0,
     {0x2175, 0x236D, 0x2364, 0x2361, 0x2373, 0x2368, 0x2128},
     14,
     7},
    {"semicolon beyond the length is not seen", "&lt;", 3, 0, 0, 0, {0x2175, 0x236C, 0x2374}, 6, 3},
    {"scan ends at the end of the text", "&l", -1, 0, 0, 0, {0x2175, 0x236C}, 4, 2},
    {"empty reference is text", "&;", -1, 0, 0, 0, {0x2175, 0x2128}, 4, 2},
    {"hex reference without digits is text", "&#x;", -1, 0, 0, 0, {0x2175, 0x2174, 0x2378, 0x2128}, 8, 4},
    {"hex reference is a book code", "&#x2422;", -1, 0, 0, 0, {0x2422}, 2, 8},
    {"decimal reference is a Shift_JIS value", "&#33440;", -1, 0, 0, 0, {0x2422}, 2, 8},
    {"decimal ASCII reference is full-width", "&#65;", -1, 0, 0, 0, {0x2341}, 2, 5},
    {"decimal kana reference is full-width", "&#177;", -1, 0, 0, 0, {0x2522}, 2, 6},
    {"decimal Latin-1 reference without gaiji is geta", "&#233;", -1, 0, 0, 0, {0x222E}, 2, 6},
    {"tab at column 6 fills two", "\t", -1, 0, 1, 6, {0x2121, 0x2121}, 2, 8},
    {"tab at column 7 fills three", "\t", -1, 0, 1, 7, {0x2121, 0x2121, 0x2121}, 3, 10},
    {"tab at column 8 fills four", "\t", -1, 0, 1, 8, {0x2121, 0x2121, 0x2121, 0x2121}, 4, 12},
    {"LF is a new line, CR is dropped", "a\r\nb", -1, 0, 1, 3, {0x2361, 0x1F0A, 0x2362}, 4, 1},
    {"user-defined area is geta", "\xf0\x40\xfc\xfc", -1, 0, 0, 0, {0x222E, 0x222E}, 4, 4},
    // Book text never holds a lone byte: whatever has no two-byte form is geta.
    {"control byte is geta", "\x01", -1, 1, 0, 0, {0x1F04, 0x222E, 0x1F05}, 1, 0},
    {"LF without conversion is geta", "\n", -1, 0, 0, 0, {0x222E}, 2, 0},
    {"TAB without conversion is geta", "\t", -1, 0, 0, 0, {0x222E}, 2, 0},
    {"bytes with no JIS form are geta", "\x80\xa0\xfd\xff", -1, 0, 0, 0, {0x222E, 0x222E, 0x222E, 0x222E}, 8, 0},
    {"zero byte is geta", std::string("a\0b", 3), -1, 0, 0, 0, {0x2361, 0x222E, 0x2362}, 6, 2},
    {"lead byte at the end is geta", "a\x82", -1, 0, 0, 0, {0x2361, 0x222E}, 4, 3},
    {"lead byte cut by the length is geta", "\x82\xa0", 1, 0, 0, 0, {0x222E}, 2, 2},
    {"lead byte before a control keeps the control", "\x82\n", -1, 0, 1, 0, {0x222E, 0x1F0A}, 2, 0},
    {"lead byte before 0x7F", "\x82\x7f", -1, 0, 0, 0, {0x222E, 0x222E}, 4, 2},
    {"lead byte before a digit keeps the digit",
     "\x82"
     "0",
     -1,
     1,
     0,
     0,
     {0x222E, 0x1F04, 0x2330, 0x1F05},
     3,
     3},
    {"empty text", "", -1, 1, 1, 0, {}, 0, 0},
};

TEST(WriteText, Cases) {
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE(c.name);
        CBlockStream s(1, 0);
        s.setColumn(c.startColumn);
        const int length = c.length < 0 ? static_cast<int>(c.text.size()) : c.length;
        EXPECT_EQ(writeTextExact(s, c.text, length, c.brackets, c.lineFeeds), c.result);
        EXPECT_EQ(written(s), c.codes);
        EXPECT_EQ(s.column(), c.column);
    }
}

TEST(WriteText, NullOrNegativeLengthWritesNothing) {
    CBlockStream s(1, 0);
    EXPECT_EQ(s.writeText(nullptr, 10, 1, 1), 0);
    EXPECT_EQ(s.writeText("ab", -1, 1, 1), 0);
    EXPECT_EQ(s.currentOffset(), 0);
}

TEST(WriteText, CharacterStartsTheNextBlockWhenOneByteIsLeft) {
    CBlockStream s(1, 0);
    std::vector<unsigned char> pad(2047, 0xFF);
    s.writeBytes(pad.data(), pad.size());
    s.writeText("\x82\xa0", 2, 0, 0);
    EXPECT_EQ(s.page(0)[2047], 0x00);
    ASSERT_EQ(s.blockCount(), 2u);
    EXPECT_EQ(s.page(1)[0], 0x24);
    EXPECT_EQ(s.page(1)[1], 0x22);
}

// Gaiji entries that references resolve through.
class WriteTextGaiji : public ::testing::Test {
protected:
    void SetUp() override {
        m_state.narrowStart = 0xA121;
        m_state.narrowNext = 0xA122;
        m_state.wideStart = 0xB121;
        m_state.wideNext = 0xB125;
        m_state.gaijiMap = m_items;
        m_state.count = 6;
    }
    GAIJI_ITEM m_items[6] = {
        {"foo", 0, 0xE9, 0xA121, nullptr},
        {nullptr, 0, 0x4E00, 0xB121, nullptr},
        {"abcdefghijklmno", 0, 0x4E01, 0xB122, nullptr},   // 15 bytes: found
        {"abcdefghijklmnop", 0, 0x4E02, 0xB123, nullptr},  // 16 bytes: never reached
        {"nocode", 0, 0x2422, 0, nullptr},                 // no code was given
        {"lt", 0, 0x4E03, 0xB124, nullptr},                // the entity table comes first
    };
    GAIJI_CODE_STATE m_state{};
};

struct GaijiCase {
    const char* name;
    std::string text;
    int brackets;
    Codes codes;
    int result;
};

const GaijiCase kGaijiCases[] = {
    {"entity through its Unicode value, narrow", "&eacute;", 1, {0x1F04, 0xA121, 0x1F05}, 1},
    {"same without brackets", "&eacute;", 0, {0xA121}, 2},
    {"name of a gaiji entry", "&foo;", 1, {0x1F04, 0xA121, 0x1F05}, 1},
    {"wide gaiji closes the run", "a&#x4E00;b", 1, {0x1F04, 0x2361, 0x1F05, 0xB121, 0x1F04, 0x2362, 0x1F05}, 4},
    {"decimal Latin-1 reference", "&#233;", 1, {0x1F04, 0xA121, 0x1F05}, 1},
    {"decimal reference to a wide gaiji", "&#19968;", 1, {0xB121}, 2},
    {"gaiji name of 15 bytes", "&abcdefghijklmno;", 1, {0xB122}, 2},
    {"entry without a code leaves the hex value", "&#x2422;", 1, {0x2422}, 2},
    {"entry without a code: name is text",
     "&nocode;",
     1,
     {0x1F04, 0x2175, 0x236E, 0x236F, 0x2363, 0x236F, 0x2364, 0x2365, 0x2128, 0x1F05},
     8},
    {"entity table before gaiji names", "&lt;", 1, {0x1F04, 0x2163, 0x1F05}, 1},
    {"hex code in the narrow range opens a run", "&#xA121;", 1, {0x1F04, 0xA121, 0x1F05}, 1},
};

TEST_F(WriteTextGaiji, Cases) {
    for (const GaijiCase& c : kGaijiCases) {
        SCOPED_TRACE(c.name);
        CBlockStream s(1, 0);
        s.setGaijiMap(&m_state);
        EXPECT_EQ(writeTextExact(s, c.text, static_cast<int>(c.text.size()), c.brackets, 0), c.result);
        EXPECT_EQ(written(s), c.codes);
    }
}

TEST_F(WriteTextGaiji, SixteenByteNameIsText) {
    CBlockStream s(1, 0);
    s.setGaijiMap(&m_state);
    const std::string text = "&abcdefghijklmnop;";
    EXPECT_EQ(writeTextExact(s, text, static_cast<int>(text.size()), 0, 0), 36);
    Codes codes = written(s);
    ASSERT_EQ(codes.size(), 18u);
    EXPECT_EQ(codes.front(), 0x2175);
    EXPECT_EQ(codes.back(), 0x2128);
}

TEST_F(WriteTextGaiji, EmptyTableIsNoTable) {
    m_state.gaijiMap = nullptr;
    CBlockStream s(1, 0);
    s.setGaijiMap(&m_state);
    EXPECT_EQ(s.writeText("&eacute;", 8, 0, 0), 16);  // written as text
}

// A text through a file-mode stream gives exactly these bytes in the file.
TEST(WriteText, FileModeBytes) {
    lftest::TestDir dir;
    const std::string path = dir.file("HONMON");
    // hiragana a, "a", TAB, "b", "&amp;", CR LF, hiragana i, a hex reference
    const std::string text =
        "\x82\xa0"
        "a\tb&amp;\r\n\x82\xa2&#x2422;";
    int result = 0;
    int column = 0;
    {
        FILE* f = std::fopen(path.c_str(), "w+b");
        ASSERT_NE(f, nullptr);
        CBlockStream s(1, 1);
        s.attachFile(f);
        s.writeCode(EB_BEGIN_TEXT);
        result = s.writeText(text.data(), static_cast<int>(text.size()), 1, 1);
        column = s.column();
        s.writeCode(EB_END_TEXT);
        s.flushBlock();
        std::fclose(f);
    }
    EXPECT_EQ(result, 12);
    EXPECT_EQ(column, 10);
    const std::vector<unsigned char> expect = {
        0x1F, 0x02,                          // start of text
        0x24, 0x22,                          // hiragana a (column 2)
        0x1F, 0x04, 0x23, 0x61,              // narrow run, "a" (column 3)
        0x21, 0x21, 0x21, 0x21, 0x21, 0x21,  // TAB at column 3: three spaces
        0x23, 0x62,                          // "b"
        0x21, 0x75,                          // "&amp;"
        0x1F, 0x0A,                          // LF (CR dropped)
        0x1F, 0x05, 0x24, 0x24,              // run closed, hiragana i
        0x24, 0x22,                          // &#x2422; as it stands
        0x1F, 0x03,                          // end of text
    };
    std::vector<unsigned char> bytes = lftest::readFile(path);
    ASSERT_EQ(bytes.size(), 2048u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + expect.size()), expect);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + expect.size(), bytes.end()),
              std::vector<unsigned char>(2048 - expect.size(), 0));
}

TEST(WriteCode, NewLineResetsTheColumn) {
    CBlockStream s(1, 0);
    s.setColumn(5);
    s.writeCode(EB_BEGIN_KEYWORD);
    EXPECT_EQ(s.column(), 5);
    s.writeCode(EB_NEWLINE);
    EXPECT_EQ(s.column(), 0);
    EXPECT_EQ(written(s), (Codes{0x1F41, 0x1F0A}));
}

struct HexCase {
    const char* name;
    std::string text;
    int length;  // -1: all of text
    Codes codes;
};

const HexCase kHexCases[] = {
    {"one code", "1F02", -1, {0x1F02}},
    {"white space between codes", "1f0a 1F04\n\t1F05", -1, {0x1F0A, 0x1F04, 0x1F05}},
    {"white space inside a code", "1F 02", -1, {0x1F02}},
    {"lone last pair is the high byte", "1F0A1F", -1, {0x1F0A, 0x1F00}},
    {"odd last digit", "1F0A1", -1, {0x1F0A, 0x0100}},
    {"three digits", "1F0", -1, {0x1F00}},
    {"length cuts the code", "1F02", 2, {0x1F00}},
    {"length cuts inside a byte", "1F02", 3, {0x1F00}},
    {"foreign character ends the scan", "1F0Z0A", -1, {0x1F00}},
    {"only white space", "  \n", -1, {}},
};

TEST(WriteHexCodes, Cases) {
    for (const HexCase& c : kHexCases) {
        SCOPED_TRACE(c.name);
        CBlockStream s(1, 0);
        std::vector<char> copy(c.text.begin(), c.text.end());
        const int length = c.length < 0 ? static_cast<int>(copy.size()) : c.length;
        EXPECT_EQ(s.writeHexCodes(copy.data(), length), 1);
        EXPECT_EQ(written(s), c.codes);
    }
}

TEST(WriteHexCodes, NewLineResetsTheColumn) {
    CBlockStream s(1, 0);
    s.setColumn(9);
    s.writeHexCodes("1F0A", 4);
    EXPECT_EQ(s.column(), 0);
}

TEST(EntityTable, RowsAndLookup) {
    EXPECT_STREQ(kEntityTable[0].name, "lt");
    EXPECT_STREQ(kEntityTable[5].name, "nbsp");
    EXPECT_STREQ(kEntityTable[kEntityTableSize - 2].name, "diams");
    EXPECT_STREQ(kEntityTable[kEntityTableSize - 1].name, "");
    EXPECT_EQ(kEntityTable[kEntityTableSize - 1].value, 0);

    struct Row {
        const char* name;
        uint16_t value;
    };
    const Row rows[] = {
        {"nbsp", 0x20},    {"apos", 0x27},   {"iexcl", 0xA1},   {"yuml", 0xFF}, {"Yuml", 0x178},   {"euro", 0x20AC},
        {"fnof", 0x192},   {"Omega", 0x3A9}, {"sigmaf", 0x3C2}, {"piv", 0x3D6}, {"image", 0x2111}, {"lang", 0x2329},
        {"diams", 0x2666}, {"AMP", 0},       {"l", 0},          {"ltx", 0},
    };
    for (const Row& r : rows) EXPECT_EQ(lookupEntity(r.name, std::string(r.name).size()), r.value) << r.name;
    EXPECT_EQ(lookupEntity("lt;", 2), 0x3C);  // only the n bytes count
    EXPECT_EQ(lookupEntity("", 0), 0);
}

}  // namespace
