// Wide text to Shift_JIS: characters Shift_JIS has, references with gaiji
// codes for those it lacks, private use, surrogate pairs, byte-order marks
// and output buffers too small for the text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/gaiji/CGaiji.h"
#include "builder/sources/ucsToSjis.h"

namespace {

std::string convert(const std::vector<uint32_t>& units, CGaiji* g, int create = 1, int wide = 0, int outSize = 256) {
    std::vector<char> out(static_cast<size_t>(outSize) + 16, '\x55');  // guard bytes after outSize
    int n = ucsToSjis(out.data(), outSize, units.data(), static_cast<int>(units.size()), wide, g, create);
    for (int i = outSize; i < outSize + 16; ++i) EXPECT_EQ('\x55', out[i]) << "written past the output";
    EXPECT_GE(n, 0);
    if (outSize > 0) {
        EXPECT_EQ(0, out[n]);
    }
    return std::string(out.data(), static_cast<size_t>(n));
}

// g holds one entry with the code, or none when the code is 0.
void expectReserved(CGaiji& g, uint32_t code) {
    const GAIJI_CODE_STATE* s = g.getGaijiMap();
    if (code != 0) {
        ASSERT_EQ(1, s->count);
        EXPECT_EQ(code, s->gaijiMap[0].ebCode);
    } else {
        EXPECT_EQ(0, s->count);
    }
}

struct Case {
    const char* what;
    std::vector<uint32_t> units;
    int wide;
    std::string sjis;
    uint32_t gaijiCode;  // code reserved for the last character referred to, 0 for none
};

TEST(UcsToSjis, Characters) {
    const Case cases[] = {
        {"ASCII, kana and kanji", {'A', 0x3042, 0x4E00}, 0, "A\x82\xA0\x88\xEA", 0},
        {"Latin letter becomes a narrow gaiji", {0x00E9}, 0, "&#x00e9;", 0xA121},
        {"section sign is a reference below 0x2000", {0x00A7}, 0, "&#x00a7;", 0xA121},
        {"section sign with the wide-range flag", {0x00A7}, 1, "\x81\x98", 0},
        {"character without a Shift_JIS form", {0x2603}, 0, "&#x2603;", 0xB121},
        {"private use", {0xE001}, 0, "&#xe001;", 0xB121},
        {"surrogate pair gives five digits", {0xD842, 0xDF9F}, 0, "&#x20b9f;", 0xB121},
        {"code point above U+FFFF as one unit", {0x20B9F}, 0, "&#x20b9f;", 0xB121},
        {"high surrogate U+DBFF pairs too", {0xDBFF, 0xDC00}, 0, "&#x10fc00;", 0xB121},
        {"byte-order mark is dropped", {0xFEFF, 'a', 0xFEFF}, 0, "a", 0},
        {"reversed mark is dropped", {0xFFFE, 'a'}, 0, "a", 0},
        {"zero is dropped", {'a', 0, 'b'}, 0, "ab", 0},
        {"lone high surrogate at the end", {'a', 0xD842}, 0, "a\x81\xAC", 0},
        {"high surrogate before a non-surrogate",
         {0xD842, 'b'},
         0,
         "\x81\xAC"
         "b",
         0},
        {"lone low surrogate", {0xDF9F}, 0, "\x81\xAC", 0},
        {"value above U+10FFFF", {0x110000}, 0, "\x81\xAC", 0},
        {"half-width katakana", {0xFF71}, 0, "\xB1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CGaiji g;
        std::string got = convert(c.units, &g, 1, c.wide);
        EXPECT_EQ(c.sjis, got);
        expectReserved(g, c.gaijiCode);
    }
}

TEST(UcsToSjis, SameCharacterKeepsItsCode) {
    CGaiji g;
    EXPECT_EQ("&#x00e9;x&#x00e9;", convert({0xE9, 'x', 0xE9}, &g));
    EXPECT_EQ(1, g.getGaijiMap()->count);
}

// Without a gaiji code a reference would reach the book as a raw code
// point; the geta mark stands in for the character instead.
TEST(UcsToSjis, NoGaijiCodeGivesGeta) {
    const std::string geta = "\x81\xAC";
    CGaiji g;
    EXPECT_EQ(geta, convert({0xE9}, &g, 0));  // creation off, no entry
    EXPECT_EQ(0, g.getGaijiMap()->count);
    EXPECT_EQ(geta, convert({0xE9}, nullptr));  // no gaiji manager

    CGaiji full;
    full.setStartCodes(0xA121, 0xA121);                    // nothing left in either range
    EXPECT_EQ("a" + geta, convert({'a', 0x1E02}, &full));  // narrow, none left

    // An entry found without creation is used.
    CGaiji known;
    uint32_t code = 0;
    known.allocateCode(0x2603, &code);
    EXPECT_EQ("&#x2603;", convert({0x2603}, &known, 0));
}

TEST(UcsToSjis, SmallOutputBuffers) {
    CGaiji g;
    EXPECT_EQ("", convert({'a', 'b'}, &g, 1, 0, 3));
    EXPECT_EQ("", convert({}, &g, 1, 0, 16));
    // A two-byte character and the zero need 3 bytes beyond the text.
    EXPECT_EQ("a\x82\xA0", convert({'a', 0x3042, 0x3042}, &g, 1, 0, 6));
    // A reference needs 10 bytes of room: with 12 bytes one fits after "a".
    EXPECT_EQ("a&#x00e9;", convert({'a', 0xE9, 0xE9}, &g, 1, 0, 12));
    EXPECT_EQ("ab", convert({'a', 'b', 0xE9}, &g, 1, 0, 11));
    // Many two-byte characters never overflow and are never split.
    std::vector<uint32_t> many(100, 0x3042);
    for (int size = 4; size < 40; ++size) {
        std::string got = convert(many, &g, 1, 0, size);
        EXPECT_EQ(0u, got.size() % 2) << size;
        EXPECT_LT(static_cast<int>(got.size()), size);
    }
}

}  // namespace

// Shift_JIS source text: the codes Windows Shift_JIS adds become the JIS X
// 0208 character where there is one, else a reference with a gaiji code;
// pairs that are no character become the geta mark; the rest is copied.
TEST(SjisToWorking, WindowsExtensionsAndUndecodablePairs) {
    const struct {
        const char* what;
        std::string in;
        std::string out;       // empty: the text is left alone
        uint32_t gaijiCode;    // code reserved, 0 for none
    } cases[] = {
        {"JIS X 0208 text and ASCII", "a\x88\x9f\xb1", "", 0},
        {"row 13 approximately equal", "x\x87\x90y", "x\x81\xE0y", 0},
        {"row 13 because sign", "\x87\x9a", "\x81\xE6", 0},
        {"NEC-selected not sign", "\xEE\xF9", "\x81\xCA", 0},
        {"IBM because sign", "\xFA\x5B", "\x81\xE6", 0},
        {"row 13 circled one", "\x87\x40\x94\xD4", "&#x2460;\x94\xD4", 0xB121},
        {"row 13 contour integral", "\x87\x93", "&#x222e;", 0xB121},
        {"NEC-selected kanji", "\xED\x40", "&#x7e8a;", 0xB121},
        {"IBM kanji", "\xFB\xFC\x8B\xB4", "&#x9ad9;\x8B\xB4", 0xB121},
        {"user-defined area", "\xF0\x40", "&#xe000;", 0xB121},
        {"empty cell of row 13", "\x87\x5E", "\x81\xAC", 0},
        {"row 9", "\x85\x40", "\x81\xAC", 0},
        {"after the IBM extensions", "\xFC\xFC", "\x81\xAC", 0},
        {"a lead byte without a trail byte stays", "\x87", "", 0},
        {"a lead byte before a control stays", "\x87\x0A", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CGaiji g;
        std::string out = "untouched";
        const bool changed = sjisToWorking(c.in.data(), c.in.size(), &out, &g, 1);
        EXPECT_EQ(!c.out.empty(), changed);
        EXPECT_EQ(c.out.empty() ? std::string("untouched") : c.out, out);
        expectReserved(g, c.gaijiCode);
    }
    // Without gaiji codes the character is the geta mark, as for wide text.
    std::string out;
    EXPECT_TRUE(sjisToWorking("\x87\x40", 2, &out, nullptr, 1));
    EXPECT_EQ("\x81\xAC", out);
}
