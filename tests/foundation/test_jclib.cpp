// Character-code conversions and the Shift_JIS string helpers.
#include "foundation/codes/jclib.h"
#include "tests/common/Bytes.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using lftest::Bytes;

Bytes bytes(const char* s) {
    return Bytes(s, s + std::strlen(s));
}
Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Every JIS X 0208 character as {jis, Unicode} from our tables.
struct JisChar {
    unsigned int jis;
    uint32_t ucs;
};
std::vector<JisChar> allJisChars() {
    std::vector<JisChar> v;
    for (unsigned int r = 0x21; r <= 0x7E; ++r)
        for (unsigned int c = 0x21; c <= 0x7E; ++c)
            if (uint32_t u = jisToUnicode((r << 8) | c)) v.push_back({(r << 8) | c, u});
    return v;
}

// Converts with the C library's iconv; false when iconv refuses the input.
bool runIconv(const char* to, const char* from, const Bytes& in, Bytes* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    out->assign(in.size() * 4 + 16, 0);
    char* ip = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    size_t il = in.size();
    char* op = reinterpret_cast<char*>(out->data());
    size_t ol = out->size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    if (r != (size_t)-1) r = iconv(cd, nullptr, nullptr, &op, &ol);
    iconv_close(cd);
    out->resize(out->size() - ol);
    return r != (size_t)-1 && il == 0;
}

Bytes utf32le(const std::vector<uint32_t>& cps) {
    Bytes b;
    for (uint32_t c : cps)
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(c >> (8 * i)));
    return b;
}

std::vector<uint32_t> fromUtf32le(const Bytes& b) {
    std::vector<uint32_t> v;
    for (size_t i = 0; i + 3 < b.size(); i += 4)
        v.push_back(b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) | (uint32_t(b[i + 3]) << 24));
    return v;
}

}  // namespace

// ---- JIS X 0208 <-> Shift_JIS arithmetic ---------------------------------

TEST(JisSjis, KnownCodesBothWays) {
    struct Case {
        const char* what;
        unsigned int jis, sjis;
    } cases[] = {
        {"first cell, ideographic space", 0x2121, 0x8140},
        {"odd row, trail above 0x7F", 0x2160, 0x8180},
        {"even row, first cell", 0x2221, 0x819F},
        {"hiragana a", 0x2422, 0x82A0},
        {"first level-1 kanji", 0x3021, 0x889F},
        {"last row below 0xA0 lead", 0x5E7E, 0x9FFC},
        {"first row of the 0xE0 leads", 0x5F21, 0xE040},
        {"last JIS X 0208 kanji", 0x7426, 0xEAA4},
        {"last code position", 0x7E7E, 0xEFFC},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(jclib::jisToSjis(c.jis), c.sjis) << c.what;
        EXPECT_EQ(jclib::sjisToJis(c.sjis), c.jis) << c.what;
    }
}

TEST(JisSjis, EveryCodePositionRoundTrips) {
    for (unsigned int r = 0x21; r <= 0x7E; ++r)
        for (unsigned int c = 0x21; c <= 0x7E; ++c) {
            unsigned int j = (r << 8) | c;
            unsigned int s = jclib::jisToSjis(j);
            ASSERT_TRUE(jclib::isSjisCode(s)) << std::hex << j;
            ASSERT_EQ(jclib::sjisToJis(s), j) << std::hex << j;
        }
}

TEST(JisSjis, ByteClasses) {
    EXPECT_TRUE(jclib::isSjisLead(0x81));
    EXPECT_TRUE(jclib::isSjisLead(0x9F));
    EXPECT_TRUE(jclib::isSjisLead(0xE0));
    EXPECT_TRUE(jclib::isSjisLead(0xFC));
    EXPECT_FALSE(jclib::isSjisLead(0x80));
    EXPECT_FALSE(jclib::isSjisLead(0xA0));
    EXPECT_FALSE(jclib::isSjisLead(0xDF));
    EXPECT_FALSE(jclib::isSjisLead(0xFD));
    EXPECT_FALSE(jclib::isSjisTrail(0x7F));
    EXPECT_FALSE(jclib::isSjisTrail(0x3F));
    EXPECT_FALSE(jclib::isSjisTrail(0xFD));
    EXPECT_TRUE(jclib::isSjisTrail(0x5C));
}

// ---- half-width / full-width ----------------------------------------------

TEST(HankakuZenkaku, Table) {
    struct Case {
        const char* what;
        unsigned int han, zen;
    } cases[] = {
        {"space to ideographic space", 0x20, 0x8140},
        {"digit", '1', 0x8250},
        {"capital", 'A', 0x8260},
        {"small letter", 'z', 0x829A},
        {"backslash stays a backslash", 0x5C, 0x815F},
        {"tilde", '~', 0x8160},
        {"hyphen-minus to minus sign", '-', 0x817C},
        {"double quote", '"', 0x8168},
        {"apostrophe", '\'', 0x8166},
        {"less-than", '<', 0x8183},
        {"ampersand", '&', 0x8195},
        {"half-width katakana a", 0xB1, 0x8341},
        {"half-width voiced mark", 0xDE, 0x814A},
        {"half-width long vowel", 0xB0, 0x815B},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(jclib::hankakuToZenkaku(c.han), c.zen) << c.what;
        if (c.han < 0x80) {
            EXPECT_EQ(jclib::zenkakuToHankaku(c.zen), c.han) << c.what;
        }
    }
}

TEST(HankakuZenkaku, UnchangedWhenNoOtherForm) {
    for (unsigned int b : {0x00u, 0x0Au, 0x1Fu, 0x7Fu, 0x80u, 0xA0u, 0xE0u, 0xFFu})
        EXPECT_EQ(jclib::hankakuToZenkaku(b), b) << b;
    EXPECT_EQ(jclib::hankakuToZenkaku(0x100), 0x100u);
    EXPECT_EQ(jclib::hankakuToZenkaku(0x8140), 0x8140u);
    EXPECT_EQ(jclib::zenkakuToHankaku(0x889F), 0x889Fu);  // kanji
    EXPECT_EQ(jclib::zenkakuToHankaku(0x8341), 0x8341u);  // katakana has no ASCII form
    EXPECT_EQ(jclib::zenkakuToHankaku(0x41), 0x41u);
}

TEST(HankakuZenkaku, EveryPrintableAsciiRoundTrips) {
    for (unsigned int b = 0x20; b <= 0x7E; ++b) {
        unsigned int z = jclib::hankakuToZenkaku(b);
        ASSERT_TRUE(jclib::isSjisCode(z)) << b;
        ASSERT_NE(sjisToUnicode(z), 0u) << b;  // a real JIS X 0208 character
        ASSERT_EQ(jclib::zenkakuToHankaku(z), b) << b;
    }
}

TEST(KatakanaToHiragana, EveryKatakanaGoesToTheHiraganaOfItsSound) {
    // Katakana U+30A1-U+30F3 and hiragana U+3041-U+3093 lie 0x60 apart.
    for (unsigned int c = 0x8340; c <= 0x8393; ++c) {
        if (c == 0x837F) continue;
        uint32_t u = sjisToUnicode(c);
        ASSERT_GE(u, 0x30A1u) << std::hex << c;
        ASSERT_LE(u, 0x30F3u) << std::hex << c;
        EXPECT_EQ(sjisToUnicode(jclib::katakanaToHiragana(c)), u - 0x60) << std::hex << c;
    }
    struct Case {
        const char* what;
        unsigned int in, out;
    } cases[] = {
        {"small ka to ka", 0x8395, 0x82A9},        {"small ke to ke", 0x8396, 0x82AF},
        {"vu has no hiragana", 0x8394, 0x8394},    {"hiragana stays", 0x829F, 0x829F},
        {"long vowel mark stays", 0x815B, 0x815B}, {"gap between the katakana rows", 0x837F, 0x837F},
        {"kanji stays", 0x889F, 0x889F},           {"ASCII stays", 'A', 'A'},
    };
    for (const Case& c : cases) EXPECT_EQ(jclib::katakanaToHiragana(c.in), c.out) << c.what;
}

// ---- character classes ------------------------------------------------------

TEST(SjisCharClass, Table) {
    struct Case {
        const char* what;
        const char* text;
        int cls;
    } cases[] = {
        {"full-width space", "\x81\x40", 5},
        {"ASCII space", " ", 6},
        {"hiragana first", "\x82\x9F", 13},
        {"hiragana last", "\x82\xF1", 13},
        {"katakana first", "\x83\x40", 14},
        {"katakana last", "\x83\x96", 14},
        {"long vowel mark", "\x81\x5B", 14},
        {"middle dot", "\x81\x45", 14},
        {"full-width digit", "\x82\x4F", 15},
        {"full-width capital", "\x82\x60", 15},
        {"full-width small", "\x82\x9A", 15},
        {"ASCII digit", "7", 15},
        {"ASCII letter", "q", 15},
        {"underscore", "_", 15},
        {"level-1 kanji", "\x88\x9F", 16},
        {"level-2 kanji", "\xE0\x40", 16},
        {"geta mark", "\x81\xAC", 16},
        {"repeat mark", "\x81\x58", 16},
        {"comma and period", "\x81\x41", 17},
        {"colon", "\x81\x44", 17},
        {"bracket", "\x81\x75", 18},
        {"other two-byte", "\x81\x9B", 8},
        {"hiragana just above the range", "\x82\xF2", 8},
        {"other single byte", "-", 12},
        {"half-width katakana", "\xB1", 12},
        {"lead byte at the end", "\x88", 12},
        {"lead byte with a bad trail", "\x88\x20", 12},
    };
    for (const Case& c : cases) EXPECT_EQ(sjisCharClass(c.text), c.cls) << c.what;
}

TEST(SjisCharLength, StaysInsideLength) {
    const unsigned char t[] = {0x88, 0x9F, 0x41, 0x88};
    EXPECT_EQ(sjisCharLength(t, 4), 2);
    EXPECT_EQ(sjisCharLength(t, 1), 1);  // the trail byte lies outside
    EXPECT_EQ(sjisCharLength(t + 2, 2), 1);
    EXPECT_EQ(sjisCharLength(t + 3, 1), 1);
    EXPECT_EQ(sjisCharLength(t, 0), 0);
}

// ---- mbschr / mbstok / u16 ---------------------------------------------------

TEST(Mbschr, WalksByCharacters) {
    // "ソ" is 83 5C: its trail byte is a backslash that must not match.
    const char text[] =
        "\x83\x5C"
        "a\\b"
        "\x82\xA0";
    EXPECT_EQ(jclib::mbschr(text, '\\'), text + 3);
    EXPECT_EQ(jclib::mbschr(text, 0x835C), text);
    EXPECT_EQ(jclib::mbschr(text, 0x82A0), text + 5);
    EXPECT_EQ(jclib::mbschr(text, 'z'), nullptr);
    EXPECT_EQ(jclib::mbschr(text, 0x5C83), nullptr);
    EXPECT_EQ(jclib::mbschr(text, 0), nullptr);
    // A lone lead byte before the terminator is a one-byte character.
    const char tail[] = "x\x88";
    EXPECT_EQ(jclib::mbschr(tail, 0x88), tail + 1);
}

TEST(Mbstok, SplitsLikeStrtokWithoutCuttingCharacters) {
    // "ポ" is 83 7C: its trail byte is "|".
    char line[] =
        "||\x83\x7C"
        "a||b\tc|";
    std::vector<std::string> tokens;
    for (char* t = jclib::mbstok(line, "|\t"); t; t = jclib::mbstok(nullptr, "|\t")) tokens.push_back(t);
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[0],
              "\x83\x7C"
              "a");
    EXPECT_EQ(tokens[1], "b");
    EXPECT_EQ(tokens[2], "c");
    EXPECT_EQ(jclib::mbstok(nullptr, "|"), nullptr);  // stays at the end

    char wide[] =
        "ab\x81\x40"
        "cd";  // split at the full-width space
    EXPECT_STREQ(jclib::mbstok(wide, "\x81\x40"), "ab");
    EXPECT_STREQ(jclib::mbstok(nullptr, "\x81\x40"), "cd");

    char onlyDelims[] = "|||";
    EXPECT_EQ(jclib::mbstok(onlyDelims, "|"), nullptr);
}

TEST(U16, LengthAndCaseFoldedCompare) {
    const uint16_t abc[] = {'A', 'b', 'C', 0};
    const uint16_t abd[] = {'a', 'B', 'd', 0};
    const uint16_t ab[] = {'a', 'b', 0};
    const uint16_t wideA[] = {0xFF21, 0};  // full-width A is not folded
    const uint16_t wideSmallA[] = {0xFF41, 0};
    EXPECT_EQ(jclib::u16len(abc), 3u);
    EXPECT_EQ(jclib::u16len(abc + 3), 0u);
    EXPECT_EQ(jclib::u16nicmp(abc, abd, 2), 0);
    EXPECT_EQ(jclib::u16nicmp(abc, abd, 3), 'c' - 'd');
    EXPECT_EQ(jclib::u16nicmp(abc, abd, 0), 0);
    EXPECT_EQ(jclib::u16nicmp(ab, abc, 10), 0 - 'c');  // stops at a's 0 after comparing it
    EXPECT_EQ(jclib::u16nicmp(ab, ab, 10), 0);
    EXPECT_NE(jclib::u16nicmp(wideA, wideSmallA, 1), 0);
}

// ---- UTF conversions ---------------------------------------------------------

TEST(Utf8Decode, CountsAndErrors) {
    struct Case {
        const char* what;
        std::string in;
        int result;                   // units, or -1
        std::vector<uint32_t> units;  // the units written (also before a -1)
    } cases[] = {
        {"ASCII", "ab", 2, {'a', 'b'}},
        {"two-byte", "\xC3\xA9", 1, {0xE9}},
        {"three-byte", "\xE6\xBC\xA2", 1, {0x6F22}},
        {"four-byte as a surrogate pair", "\xF0\xA0\xAE\x9F", 2, {0xD842, 0xDF9F}},
        {"ends inside a sequence", std::string("a\xE6\xBC"), -1, {'a'}},
        {"ends after a lead byte", std::string("ab\xF0"), -1, {'a', 'b'}},
        {"stray continuation byte",
         std::string("\x80"
                     "a"),
         2,
         {0xFFFD, 'a'}},
        {"lead byte cut by ASCII",
         std::string("\xE6"
                     "a"),
         2,
         {0xFFFD, 'a'}},
        {"overlong form", std::string("\xC0\xAF"), 2, {0xFFFD, 0xFFFD}},
        {"encoded surrogate", std::string("\xED\xA0\x80"), 3, {0xFFFD, 0xFFFD, 0xFFFD}},
        {"above U+10FFFF", std::string("\xF4\x90\x80\x80"), 4, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
        {"byte F8", std::string("\xF8"), 1, {0xFFFD}},
        {"zero byte is a character", std::string("a\0b", 3), 3, {'a', 0, 'b'}},
        {"empty", "", 0, {}},
    };
    for (const Case& c : cases) {
        int len = static_cast<int>(c.in.size());
        std::vector<uint32_t> wide(c.in.size() + 1, 0xAAAA);
        EXPECT_EQ(utf8ToWide(c.in.data(), len, wide.data()), c.result) << c.what;
        EXPECT_EQ(utf8ToWide(c.in.data(), len, nullptr), c.result) << c.what << " (counting)";
        std::vector<uint16_t> u16(c.in.size() + 1, 0xAAAA);
        EXPECT_EQ(jclib::utf8ToUtf16(c.in.data(), len, u16.data()), c.result) << c.what;
        EXPECT_EQ(jclib::utf8ToUtf16(c.in.data(), len, nullptr), c.result) << c.what << " (counting)";
        for (size_t i = 0; i < c.units.size(); ++i) {
            EXPECT_EQ(wide[i], c.units[i]) << c.what << " unit " << i;
            EXPECT_EQ(u16[i], c.units[i]) << c.what << " unit " << i;
        }
        // No terminator: the unit after the last one is untouched.
        EXPECT_EQ(wide[c.units.size()], 0xAAAAu) << c.what;
        EXPECT_EQ(u16[c.units.size()], 0xAAAA) << c.what;
    }
}

TEST(Utf8Encode, CountsAndReplacements) {
    struct Case {
        const char* what;
        std::vector<uint32_t> in;
        std::string wideOut;   // wideToUtf8
        std::string utf16Out;  // jclib::utf16ToUtf8 of the same units
    } cases[] = {
        {"ASCII", {'a'}, "a", "a"},
        {"two bytes", {0xE9}, "\xC3\xA9", "\xC3\xA9"},
        {"three bytes", {0x3042}, "\xE3\x81\x82", "\xE3\x81\x82"},
        {"surrogate pair", {0xD842, 0xDF9F}, "\xF0\xA0\xAE\x9F", "\xED\xA1\x82\xED\xBE\x9F"},
        {"lone high surrogate",
         {0xD842, 'a'},
         "\xEF\xBF\xBD"
         "a",
         "\xED\xA1\x82"
         "a"},
        {"lone low surrogate", {0xDC00}, "\xEF\xBF\xBD", "\xED\xB0\x80"},
        {"high surrogate last", {0xD800}, "\xEF\xBF\xBD", "\xED\xA0\x80"},
        {"zero unit", {0}, std::string("\0", 1), std::string("\0", 1)},
    };
    for (const Case& c : cases) {
        int n = static_cast<int>(c.in.size());
        char out[32];
        std::memset(out, 'X', sizeof out);
        int w = wideToUtf8(c.in.data(), n, out);
        EXPECT_EQ(std::string(out, static_cast<size_t>(w > 0 ? w : 0)), c.wideOut) << c.what;
        EXPECT_EQ(out[w], 'X') << c.what << ": no terminator";
        EXPECT_EQ(wideToUtf8(c.in.data(), n, nullptr), w) << c.what;

        std::vector<uint16_t> u16(c.in.begin(), c.in.end());
        std::memset(out, 'X', sizeof out);
        int u = jclib::utf16ToUtf8(u16.data(), n, out);
        EXPECT_EQ(std::string(out, static_cast<size_t>(u)), c.utf16Out) << c.what;
        EXPECT_EQ(jclib::utf16ToUtf8(u16.data(), n, nullptr), u) << c.what;
    }
    const uint32_t tooBig[] = {0x110000};
    char out[8];
    EXPECT_EQ(wideToUtf8(tooBig, 1, out), 3);
    EXPECT_EQ(std::string(out, 3), "\xEF\xBF\xBD");
}

TEST(Utf16le, ToUtf8) {
    struct Case {
        const char* what;
        Bytes in;
        int units;
        std::string out;
    } cases[] = {
        {"ASCII", {'a', 0, 'b', 0}, 2, "ab"},
        {"kana", {0x42, 0x30}, 1, "\xE3\x81\x82"},
        {"surrogate pair", {0x42, 0xD8, 0x9F, 0xDF}, 2, "\xF0\xA0\xAE\x9F"},
        {"pair cut by the count", {0x42, 0xD8, 0x9F, 0xDF}, 1, "\xEF\xBF\xBD"},
        {"lone low surrogate",
         {0x00, 0xDC, 'a', 0},
         2,
         "\xEF\xBF\xBD"
         "a"},
        {"zero units", {'a', 0}, 0, ""},
    };
    for (const Case& c : cases) {
        char out[16];
        int n = utf16leToUtf8(c.in.data(), c.units, out);
        EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.out) << c.what;
        EXPECT_EQ(utf16leToUtf8(c.in.data(), c.units, nullptr), n) << c.what;
    }
}

// ---- Unicode lookups ------------------------------------------------------------

TEST(UnicodeLookup, MappingDecisions) {
    struct Case {
        const char* what;
        uint32_t ucs;
        unsigned int sjis;  // unicodeToSjis (0: none)
        uint32_t decoded;   // sjisToUnicode(sjis) when sjis != 0
    } cases[] = {
        {"ASCII backslash", 0x5C, 0x5C, 0x5C},
        {"ASCII tilde", 0x7E, 0x7E, 0x7E},
        {"yen sign has no form", 0xA5, 0, 0},
        {"overline has no form", 0x203E, 0, 0},
        {"half-width katakana", 0xFF71, 0xB1, 0xFF71},
        {"hiragana a", 0x3042, 0x82A0, 0x3042},
        {"kanji", 0x6F22, 0x8ABF, 0x6F22},
        {"fullwidth reverse solidus", 0xFF3C, 0x815F, 0xFF3C},
        {"wave dash", 0x301C, 0x8160, 0x301C},
        {"alias fullwidth tilde", 0xFF5E, 0x8160, 0x301C},
        {"alias parallel to", 0x2225, 0x8161, 0x2016},
        {"alias fullwidth hyphen-minus", 0xFF0D, 0x817C, 0x2212},
        {"alias fullwidth cent", 0xFFE0, 0x8191, 0xA2},
        {"alias fullwidth pound", 0xFFE1, 0x8192, 0xA3},
        {"alias fullwidth not", 0xFFE2, 0x81CA, 0xAC},
        {"horizontal bar", 0x2015, 0x815C, 0x2015},
        {"circled one is NEC only", 0x2460, 0, 0},
        {"IBM extension kanji", 0x7E8A, 0, 0},
        {"private use", 0xE000, 0, 0},
        {"beyond the BMP", 0x20B9F, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unicodeToSjis(c.ucs), c.sjis) << c.what;
        if (c.sjis) {
            EXPECT_EQ(sjisToUnicode(c.sjis), c.decoded) << c.what;
        }
        if (c.sjis > 0xFF) {
            EXPECT_EQ(unicodeToJis(c.ucs), jclib::sjisToJis(c.sjis)) << c.what;
            EXPECT_EQ(jisToUnicode(jclib::sjisToJis(c.sjis)), c.decoded) << c.what;
        }
    }
}

TEST(UnicodeLookup, CodesOutsideJisX0208HaveNoUnicode) {
    struct Case {
        const char* what;
        unsigned int sjis;
    } cases[] = {
        {"NEC special row 13", 0x8740},
        {"NEC selected IBM extension", 0xED40},
        {"user-defined area", 0xF040},
        {"IBM extension", 0xFA40},
        {"empty cell of row 2", 0x81AD},
        {"bad trail byte", 0x817F},
        {"lead byte alone", 0x81},
        {"byte 0x80", 0x80},
        {"byte 0xA0", 0xA0},
    };
    for (const Case& c : cases) EXPECT_EQ(sjisToUnicode(c.sjis), 0u) << c.what;
    EXPECT_EQ(jisToUnicode(0x2D21), 0u);  // row 13
    EXPECT_EQ(jisToUnicode(0x7F21), 0u);  // not a code position
    EXPECT_EQ(jisToUnicode(0x2120), 0u);
}

// The codes Windows Shift_JIS adds to JIS X 0208, read for sources written
// with them; JIS X 0208 codes and codes no table fills give 0.
TEST(UnicodeLookup, WindowsExtensionsHaveTheirCharacters) {
    struct Case {
        const char* what;
        unsigned int sjis;
        uint32_t ucs;
    } cases[] = {
        {"row 13 first, circled one", 0x8740, 0x2460},
        {"row 13 Roman numeral one", 0x8754, 0x2160},
        {"row 13 empty cell", 0x875E, 0},
        {"row 13 approximately equal, also in JIS X 0208", 0x8790, 0x2252},
        {"row 13 last, union", 0x879C, 0x222A},
        {"after row 13", 0x879D, 0},
        {"NEC-selected first", 0xED40, 0x7E8A},
        {"NEC-selected small Roman numeral one", 0xEEEF, 0x2170},
        {"NEC-selected not sign", 0xEEF9, 0xFFE2},
        {"NEC-selected last", 0xEEFC, 0xFF02},
        {"IBM first", 0xFA40, 0x2170},
        {"IBM because sign", 0xFA5B, 0x2235},
        {"IBM kanji", 0xFBFC, 0x9AD9},
        {"IBM last", 0xFC4B, 0x9ED1},
        {"after the IBM extensions", 0xFC4C, 0},
        {"user-defined first", 0xF040, 0xE000},
        {"user-defined after 0x7E", 0xF080, 0xE03F},
        {"user-defined last of a row", 0xF0FC, 0xE0BB},
        {"user-defined next row", 0xF140, 0xE0BC},
        {"user-defined last", 0xF9FC, 0xE757},
        {"JIS X 0208 kanji", 0x889F, 0},
        {"JIS X 0208 approximately equal", 0x81E0, 0},
        {"bad trail byte", 0x877F, 0},
        {"single byte", 0x41, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(windowsSjisToUnicode(c.sjis), c.ucs) << c.what;
}

TEST(UnicodeLookup, CharToSjisResults) {
    unsigned char b[2] = {0xEE, 0xEE};
    EXPECT_EQ(unicodeCharToSjis(0, b), 0);
    EXPECT_EQ(unicodeCharToSjis(0xFEFF, b), 0);
    EXPECT_EQ(unicodeCharToSjis(0xE9, b), -1);
    EXPECT_EQ(b[0], 0xEE);  // untouched
    EXPECT_EQ(unicodeCharToSjis('A', b), 1);
    EXPECT_EQ(b[0], 'A');
    EXPECT_EQ(unicodeCharToSjis(0xFF9E, b), 1);
    EXPECT_EQ(b[0], 0xDE);
    EXPECT_EQ(unicodeCharToSjis(0x6F22, b), 2);
    EXPECT_EQ(b[0], 0x8A);
    EXPECT_EQ(b[1], 0xBF);
}

// Every JIS X 0208 character: Shift_JIS -> Unicode -> Shift_JIS with our
// tables, and both Shift_JIS and EUC-JP checked against glibc's iconv.
TEST(UnicodeLookup, EveryJisX0208CharacterAgreesWithIconv) {
    std::vector<JisChar> chars = allJisChars();
    ASSERT_EQ(chars.size(), 6879u);

    Bytes sjis;
    std::vector<uint32_t> ucs;
    for (const JisChar& c : chars) {
        unsigned int s = jclib::jisToSjis(c.jis);
        ASSERT_EQ(sjisToUnicode(s), c.ucs);
        ASSERT_EQ(unicodeToSjis(c.ucs), s) << std::hex << c.ucs;
        ASSERT_EQ(unicodeToJis(c.ucs), c.jis);
        sjis.push_back(static_cast<unsigned char>(s >> 8));
        sjis.push_back(static_cast<unsigned char>(s));
        ucs.push_back(c.ucs);
    }

    // Our Shift_JIS -> Unicode against iconv's.
    Bytes fromIconv;
    ASSERT_TRUE(runIconv("UTF-32LE", "SHIFT_JIS", sjis, &fromIconv));
    EXPECT_EQ(fromUtf32le(fromIconv), ucs);
    std::vector<uint32_t> wide(sjis.size() + 1);
    ASSERT_EQ(sjisToWide(wide.data(), sjis.data(), static_cast<int>(sjis.size())), static_cast<int>(ucs.size()));
    wide.resize(ucs.size());
    EXPECT_EQ(wide, ucs);

    // Our Shift_JIS -> EUC-JP against iconv's encoding of the same characters.
    Bytes eucIconv;
    ASSERT_TRUE(runIconv("EUC-JP", "UTF-32LE", utf32le(ucs), &eucIconv));
    Bytes euc(sjis.size() + 1);
    int n = sjisToEucjp(sjis.data(), static_cast<int>(sjis.size()), euc.data(), euc.size());
    euc.resize(static_cast<size_t>(n));
    EXPECT_EQ(euc, eucIconv);
    Bytes back(euc.size() + 1);
    n = eucjpToSjis(euc.data(), static_cast<int>(euc.size()), back.data(), back.size());
    back.resize(static_cast<size_t>(n));
    EXPECT_EQ(back, sjis);

    // ISO-2022-JP written by us reads back through iconv.
    Bytes iso(sjis.size() + 8);
    n = sjisToIso2022jp(sjis.data(), static_cast<int>(sjis.size()), iso.data(), iso.size());
    iso.resize(static_cast<size_t>(n));
    Bytes isoDecoded;
    ASSERT_TRUE(runIconv("UTF-32LE", "ISO-2022-JP", iso, &isoDecoded));
    EXPECT_EQ(fromUtf32le(isoDecoded), ucs);
    back.assign(iso.size() + 1, 0);
    n = iso2022jpToSjis(iso.data(), static_cast<int>(iso.size()), back.data(), back.size());
    back.resize(static_cast<size_t>(n));
    EXPECT_EQ(back, sjis);

    // UTF-8 both ways through the string conversions.
    std::vector<char> utf8(ucs.size() * 3 + 1);
    n = sjisToUtf8(sjis.data(), static_cast<int>(sjis.size()), utf8.data(), utf8.size());
    ASSERT_EQ(n, wideToUtf8(ucs.data(), static_cast<int>(ucs.size()), nullptr));
    back.assign(sjis.size() + 1, 0);
    EXPECT_EQ(utf8ToSjis(utf8.data(), n, back.data(), back.size()), static_cast<int>(sjis.size()));
    back.resize(sjis.size());
    EXPECT_EQ(back, sjis);
}

// ---- string conversions ------------------------------------------------------

TEST(SjisToWide, MalformedInput) {
    struct Case {
        const char* what;
        Bytes in;
        std::vector<uint32_t> out;
    } cases[] = {
        {"mixed text", {'a', 0xB1, 0x82, 0xA0}, {'a', 0xFF71, 0x3042}},
        {"lone lead byte at the end", {'a', 0x82}, {'a', 0xFFFD}},
        {"lead byte with a bad trail", {0x82, 0x20}, {0xFFFD, ' '}},
        {"unmapped two-byte code", {0x87, 0x40}, {0xFFFD}},
        {"zero byte", {0x00, 'a'}, {0, 'a'}},
        {"byte 0x80", {0x80}, {0xFFFD}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> out(c.in.size() + 1, 0xAAAA);
        int n = sjisToWide(out.data(), c.in.data(), static_cast<int>(c.in.size()));
        ASSERT_EQ(n, static_cast<int>(c.out.size())) << c.what;
        EXPECT_EQ(std::vector<uint32_t>(out.begin(), out.begin() + n), c.out) << c.what;
        EXPECT_EQ(out[static_cast<size_t>(n)], 0u) << c.what << ": terminator";
    }
}

TEST(JisStringToSjis, PairsAndStops) {
    struct Case {
        const char* what;
        Bytes in;
        Bytes out;
    } cases[] = {
        {"two characters", {0x24, 0x22, 0x30, 0x21}, {0x82, 0xA0, 0x88, 0x9F}},
        {"stops at a zero pair", {0x24, 0x22, 0x00, 0x00, 0x24, 0x22}, {0x82, 0xA0}},
        {"stops at a zero second byte", {0x24, 0x22, 0x24, 0x00}, {0x82, 0xA0}},
        {"odd last byte ignored", {0x24, 0x22, 0x24}, {0x82, 0xA0}},
        {"blank padding copied", {0x24, 0x22, 0x20, 0x20}, {0x82, 0xA0, 0x20, 0x20}},
        {"gaiji code becomes geta", {0xB1, 0x21}, {0x81, 0xAC}},
        {"control pair becomes geta", {0x1F, 0x0A}, {0x81, 0xAC}},
    };
    for (const Case& c : cases) {
        Bytes out(c.in.size() + 1, 0xEE);  // exactly len + 1 bytes
        jisStringToSjis(out.data(), c.in.data(), static_cast<int>(c.in.size()));
        Bytes expect = c.out;
        expect.push_back(0);
        out.resize(expect.size());
        EXPECT_EQ(out, expect) << c.what;
    }
}

TEST(SjisStringToJis, ConvertsAndBounds) {
    struct Case {
        const char* what;
        Bytes in;
        size_t outSize;
        Bytes out;
    } cases[] = {
        {"two-byte characters", {0x82, 0xA0, 0x88, 0x9F}, 16, {0x24, 0x22, 0x30, 0x21}},
        {"single bytes become full-width", {'A', ' ', 0xB1}, 16, {0x23, 0x41, 0x21, 0x21, 0x25, 0x22}},
        {"control byte becomes geta", {0x0A}, 16, {0x22, 0x2E}},
        {"user-defined area becomes geta", {0xF0, 0x40}, 16, {0x22, 0x2E}},
        {"lone lead byte at the end", {'a', 0x82}, 16, {0x23, 0x61, 0x22, 0x2E}},
        {"stops at a zero byte", {'a', 0, 'b'}, 16, {0x23, 0x61}},
        {"whole codes only", {'a', 'b', 'c'}, 4, {0x23, 0x61}},
        {"room for the zero only", {'a'}, 1, {}},
    };
    for (const Case& c : cases) {
        Bytes out(c.outSize, 0xEE);
        int n = sjisStringToJis(out.data(), out.size(), c.in.data(), static_cast<int>(c.in.size()));
        ASSERT_EQ(n, static_cast<int>(c.out.size())) << c.what;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.out) << c.what;
        EXPECT_EQ(out[static_cast<size_t>(n)], 0) << c.what;
    }
    EXPECT_EQ(sjisStringToJis(nullptr, 0, bytes("a").data(), 1), 0);
}

// The bounded string conversions: replacements, whole characters, limits.
TEST(StringConversions, Table) {
    enum Kind { SjisUtf8, Utf8Sjis, SjisEuc, EucSjis, SjisIso, IsoSjis };
    struct Case {
        const char* what;
        Kind kind;
        std::string in;
        size_t outSize;
        std::string out;
    } cases[] = {
        {"UTF-8 of mixed text", SjisUtf8, "a\xB1\x82\xA0", 16, "a\xEF\xBD\xB1\xE3\x81\x82"},
        {"UTF-8 replacement for a lone lead", SjisUtf8, "a\x82", 16, "a\xEF\xBF\xBD"},
        {"UTF-8 never split", SjisUtf8, "a\x82\xA0", 4, "a"},
        {"Shift_JIS of mixed text", Utf8Sjis, "a\xE3\x81\x82\xEF\xBD\xB1", 16, "a\x82\xA0\xB1"},
        {"Shift_JIS geta for no form", Utf8Sjis, "\xC3\xA9", 16, "\x81\xAC"},
        {"Shift_JIS geta for a cut sequence", Utf8Sjis, "a\xE3\x81", 16, "a\x81\xAC"},
        {"Shift_JIS drops the BOM", Utf8Sjis,
         "\xEF\xBB\xBF"
         "a",
         16, "a"},
        {"Shift_JIS alias", Utf8Sjis, "\xEF\xBD\x9E", 16, "\x81\x60"},
        {"Shift_JIS never split", Utf8Sjis, "a\xE3\x81\x82", 3, "a"},
        {"EUC-JP of mixed text", SjisEuc, "a\xB1\x82\xA0", 16, "a\x8E\xB1\xA4\xA2"},
        {"EUC-JP geta for the user area", SjisEuc, "\xF0\x40", 16, "\xA2\xAE"},
        {"EUC-JP geta for a lone lead", SjisEuc, "\x82", 16, "\xA2\xAE"},
        {"EUC-JP never split", SjisEuc, "\x82\xA0\x82\xA0", 4, "\xA4\xA2"},
        {"from EUC-JP", EucSjis, "a\x8E\xB1\xA4\xA2", 16, "a\xB1\x82\xA0"},
        {"from EUC-JP, JIS X 0212 is geta", EucSjis,
         "\x8F\xB0\xA1"
         "a",
         16,
         "\x81\xAC"
         "a"},
        {"from EUC-JP, cut pair", EucSjis, "a\xA4", 16, "a\x81\xAC"},
        {"from EUC-JP, bad 0x8E", EucSjis,
         "\x8E"
         "a",
         16,
         "\x81\xAC"
         "a"},
        {"ISO-2022-JP of mixed text", SjisIso,
         "a\x82\xA0"
         "b",
         32, "a\x1B$B$\"\x1B(Bb"},
        {"ISO-2022-JP ends in ASCII", SjisIso, "\x82\xA0", 32, "\x1B$B$\"\x1B(B"},
        {"ISO-2022-JP half-width kana", SjisIso, "\xB1", 32, "\x1B(I1\x1B(B"},
        {"ISO-2022-JP stays in bounds", SjisIso, "\x82\xA0\x82\xA0", 9, "\x1B$B$\"\x1B(B"},
        {"ISO-2022-JP tiny buffer", SjisIso, "\x82\xA0", 3, ""},
        {"from ISO-2022-JP", IsoSjis, "a\x1B$B$\"0!\x1B(Bb", 32,
         "a\x82\xA0\x88\x9F"
         "b"},
        {"from ISO-2022-JP, ESC ( J is ASCII", IsoSjis, "\x1B(J\\~", 32, "\\~"},
        {"from ISO-2022-JP, kana set", IsoSjis, "\x1B(I1\x1B(B", 32, "\xB1"},
        {"from ISO-2022-JP, old kanji escape", IsoSjis, "\x1B$@$\"", 32, "\x82\xA0"},
        {"from ISO-2022-JP, unknown escape dropped", IsoSjis, "\x1B$(Dab\x1B(Bc", 32,
         "\x81\xAC"
         "c"},
        {"from ISO-2022-JP, cut pair", IsoSjis, "\x1B$B$", 32, "\x81\xAC"},
        {"from ISO-2022-JP, escape cut short", IsoSjis, "a\x1B$", 32, "a"},
        {"from ISO-2022-JP, 8-bit byte", IsoSjis, "a\xB1", 32, "a\x81\xAC"},
    };
    for (const Case& c : cases) {
        Bytes in = bytes(c.in);
        Bytes out(c.outSize, 0xEE);
        int len = static_cast<int>(in.size());
        int n = -2;
        switch (c.kind) {
            case SjisUtf8:
                n = sjisToUtf8(in.data(), len, reinterpret_cast<char*>(out.data()), out.size());
                break;
            case Utf8Sjis:
                n = utf8ToSjis(reinterpret_cast<const char*>(in.data()), len, out.data(), out.size());
                break;
            case SjisEuc:
                n = sjisToEucjp(in.data(), len, out.data(), out.size());
                break;
            case EucSjis:
                n = eucjpToSjis(in.data(), len, out.data(), out.size());
                break;
            case SjisIso:
                n = sjisToIso2022jp(in.data(), len, out.data(), out.size());
                break;
            case IsoSjis:
                n = iso2022jpToSjis(in.data(), len, out.data(), out.size());
                break;
        }
        ASSERT_GE(n, 0) << c.what;
        ASSERT_LT(static_cast<size_t>(n), c.outSize) << c.what;
        EXPECT_EQ(std::string(out.begin(), out.begin() + n), c.out) << c.what;
        EXPECT_EQ(out[static_cast<size_t>(n)], 0) << c.what << ": terminator";
    }
}

TEST(Utf8Test, WellFormedOnly) {
    struct Case {
        const char* what;
        std::string text;
        int valid;
    } cases[] = {
        {"empty", "", 1},
        {"ASCII", "abc", 1},
        {"kana and a four-byte character", "\xE3\x81\x82\xF0\xA0\xAE\x9F", 1},
        {"Shift_JIS text", "\x82\xA0\x82\xA2", 0},
        {"cut at the end", "a\xE3\x81", 0},
        {"overlong", "\xC0\xAF", 0},
        {"surrogate", "\xED\xA0\x80", 0},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isUtf8Text(c.text.data(), static_cast<int>(c.text.size())), c.valid) << c.what;
}

TEST(WideToSjis, PairsReplacementsAndBounds) {
    struct Case {
        const char* what;
        std::vector<uint32_t> in;
        size_t outSize;
        std::string out;
    } cases[] = {
        {"mixed text", {'a', 0x3042, 0xFF71}, 16, "a\x82\xA0\xB1"},
        {"alias", {0xFF5E}, 16, "\x81\x60"},
        {"byte-order mark dropped", {0xFEFF, 'a'}, 16, "a"},
        {"zero ends the text", {'a', 0, 'b'}, 16, "a"},
        {"no form is geta", {0xE9}, 16, "\x81\xAC"},
        {"surrogate pair is one geta", {0xD842, 0xDF9F}, 16, "\x81\xAC"},
        {"never split", {'a', 0x3042}, 3, "a"},
    };
    for (const Case& c : cases) {
        Bytes out(c.outSize, 0xEE);
        int n = wideToSjis(c.in.data(), static_cast<int>(c.in.size()), out.data(), out.size());
        ASSERT_GE(n, 0) << c.what;
        EXPECT_EQ(std::string(out.begin(), out.begin() + n), c.out) << c.what;
        EXPECT_EQ(out[static_cast<size_t>(n)], 0) << c.what;
    }
}

// Random bytes through every decoder, with output buffers of exactly the
// documented size (so the sanitizer build catches any write past them): each
// result stays inside its buffer, is terminated where documented, and
// counting agrees with converting.
TEST(BadInput, RandomBytesStayInsideBuffers) {
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    // Bytes drawn mostly from the interesting ranges: lead, trail, ESC, UTF-8.
    const unsigned char pool[] = {0x00, 0x1B, '$',  '(',  'B',  'I',  '@',  0x21, 0x7E, 0x7F, 0x80,
                                  0x81, 0x8E, 0x8F, 0x9F, 0xA0, 0xA1, 0xDF, 0xE0, 0xED, 0xEF, 0xF0,
                                  0xF4, 0xFC, 0xFE, 0xFF, 0x40, 0x5C, 0xBF, 0xC2, 'a',  '\n'};
    for (int round = 0; round < 3000; ++round) {
        size_t len = next() % 24;
        Bytes in(len);
        for (auto& b : in) b = (next() % 4 == 0) ? static_cast<unsigned char>(next()) : pool[next() % sizeof pool];
        int n = static_cast<int>(len);
        const char* text = reinterpret_cast<const char*>(in.data());

        std::vector<uint32_t> wide(len + 1);
        int w = sjisToWide(wide.data(), in.data(), n);
        ASSERT_LE(w, n);
        ASSERT_EQ(wide[static_cast<size_t>(w)], 0u);

        std::vector<uint32_t> units(len ? len : 1);
        int u = utf8ToWide(text, n, len ? units.data() : nullptr);
        ASSERT_EQ(u, utf8ToWide(text, n, nullptr));
        ASSERT_LE(u, n);
        std::vector<uint16_t> u16(len ? len : 1);
        ASSERT_EQ(jclib::utf8ToUtf16(text, n, len ? u16.data() : nullptr), u);
        if (u < 0) {
            ASSERT_EQ(isUtf8Text(text, n), 0);
        }
        if (u > 0) {
            std::vector<char> utf8(static_cast<size_t>(wideToUtf8(units.data(), u, nullptr)));
            ASSERT_EQ(wideToUtf8(units.data(), u, utf8.data()), static_cast<int>(utf8.size()));
        }

        std::vector<char> le(static_cast<size_t>(utf16leToUtf8(in.data(), n / 2, nullptr)) + 1);
        ASSERT_EQ(utf16leToUtf8(in.data(), n / 2, le.data()), static_cast<int>(le.size()) - 1);

        Bytes jis(len + 1);
        jisStringToSjis(jis.data(), in.data(), n);

        for (size_t outSize : {size_t(1), size_t(2), size_t(3), size_t(5), size_t(8), 4 * len + 8}) {
            Bytes out(outSize);
            char* cout = reinterpret_cast<char*>(out.data());
            int r[] = {
                sjisStringToJis(out.data(), outSize, in.data(), n), sjisToUtf8(in.data(), n, cout, outSize),
                utf8ToSjis(text, n, out.data(), outSize),           sjisToEucjp(in.data(), n, out.data(), outSize),
                eucjpToSjis(in.data(), n, out.data(), outSize),     sjisToIso2022jp(in.data(), n, out.data(), outSize),
                iso2022jpToSjis(in.data(), n, out.data(), outSize),
            };
            for (int k : r) {
                ASSERT_GE(k, 0);
                ASSERT_LT(static_cast<size_t>(k), outSize);
            }
        }
    }
}
