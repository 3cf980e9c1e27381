// Key forms of the index searches and the English stemmer, against tables of
// inputs and the forms the indexes hold.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bookreader/search/SearchKeys.h"
#include "bookreader/search/Stemmer.h"

namespace {

std::string hex(const std::string& s) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += d[c >> 4];
        out += d[c & 15];
        out += ' ';
    }
    return out;
}

std::string normalized(const std::string& in, uint32_t style) {
    char out[kSearchKeyBufferSize];
    normalizeKey(out, sizeof out, in.data(), static_cast<int>(in.size()), style);
    return out;
}

std::string typed(const std::string& in, int dropSpace, uint32_t style = 0x415540) {
    char out[kSearchKeyBufferSize];
    const uint8_t bytes[3] = {static_cast<uint8_t>(style >> 16), static_cast<uint8_t>(style >> 8),
                              static_cast<uint8_t>(style)};
    int n = normalizeQueryKey(out, in.data(), static_cast<int>(in.size()), bytes, kSearchKeyMax, dropSpace);
    return std::string(out, static_cast<size_t>(n));
}

}  // namespace

TEST(SearchKeys, TypedQueryForm) {
    struct Case {
        const char* in;
        int dropSpace;
        uint32_t style;
        std::string expected;
    } cases[] = {
        // "abc def": full width, upper case; the full-width space dropped or kept.
        {"abc def", 1, 0x415540, "\x82\x60\x82\x61\x82\x62\x82\x63\x82\x64\x82\x65"},
        {"abc def", 0, 0x415540, "\x82\x60\x82\x61\x82\x62\x81\x40\x82\x63\x82\x64\x82\x65"},
        // Full-width lower case is upper-cased whatever the style.
        {"\x82\x9A", 1, 0xFFFFC0, "\x82\x79"},
        // Marks dropped when bits 19-18 are 0, kept otherwise.
        {"a\x81\x45"
         "b",
         1, 0x000000, "\x82\x60\x82\x61"},
        {"a\x81\x45"
         "b",
         1, 0x0C0000, "\x82\x60\x81\x45\x82\x61"},
        // Half-width katakana become full width.
        {"\xB1", 1, 0x415540, "\x83\x41"},
    };
    for (const Case& c : cases) EXPECT_EQ(hex(typed(c.in, c.dropSpace, c.style)), hex(c.expected)) << c.in;
}

TEST(SearchKeys, TypedQueryEndsAtControlByteAndNeverOverflows) {
    std::string k = typed(
        "ab\x01"
        "cd",
        1);
    EXPECT_EQ(std::strlen(k.c_str()), 4u) << "a control byte ends the key";
    // 300 letters give at most 254 bytes (127 characters) and a terminator.
    char out[kSearchKeyBufferSize + 8];
    std::memset(out, 0x55, sizeof out);
    std::string longKey(300, 'a');
    int n = normalizeQueryKey(out, longKey.data(), 300, nullptr, kSearchKeyMax, 1);
    EXPECT_EQ(n, 254);
    EXPECT_EQ(out[254], 0);
    EXPECT_EQ(static_cast<unsigned char>(out[256]), 0x55u) << "written beyond the key buffer";
}

TEST(SearchKeys, FullFoldingByStyle) {
    struct Case {
        const char* in;
        uint32_t style;
        const char* expected;
        const char* what;
    } cases[] = {
        {"\x83\x4A\x81\x5B", 0x000000, "\x82\xA9\x82\xA0", "katakana and long vowel: kaa"},
        {"\x82\xAA\x81\x5B", 0x000000, "\x82\xA9\x82\xA0", "voiced kana folded before its row is taken"},
        {"\x82\xE1", 0x000000, "\x82\xE2", "small ya"},
        {"\x82\xCF", 0x000000, "\x82\xCD", "semi-voiced pa"},
        {"\x82\x9A", 0x000000, "\x82\x79", "full-width z upper-cased"},
        {"z", 0x000000, "\x82\x79", "ASCII z made full width and upper-cased"},
        {"z", 0x300000, "\x82\x9A", "case kept by bits 21-20"},
        {"\x82\xA9\x81\x5B", 0x020000, "\x82\xA9", "long-vowel field 2 drops the mark"},
        {"\x82\xA9\x81\x5B", 0x010000, "\x82\xA9\x81\x5B", "long-vowel field 1 keeps it"},
        {"\x81\x5B\x82\xA9", 0x000000, "\x81\x5B\x82\xA9", "a mark at the start is kept"},
        {"\x83\x4A\x81\x5B", 0x400000, "\x83\x4A\x81\x5B", "katakana kept: the mark follows no row"},
        {"\x82\xA0", 0x800000, "\x83\x41", "hiragana to katakana"},
        {"\x82\xA0\xEB\x40\xF0\x40", 0x000000, "\x82\xA0", "codes from 0xEB40 dropped"},
        {"\x82\xC1\x83\x94\x83\x62", 0x000000, "\x82\xC2\x82\xA4\x82\xC2", "sokuon and vu"},
        {"\x82\xC1", 0x00C000, "\x82\xC1", "sokuon kept by its field"},
        {"\x82\x9F\x83\x40", 0x000000, "\x82\xA0\x82\xA0", "small vowels"},
        {"\x82\xAA\x82\xCE\x82\xC3", 0x000300, "\x82\xAA\x82\xCE\x82\xC3", "voiced kept by bits 9-8"},
    };
    for (const Case& c : cases) EXPECT_EQ(hex(normalized(c.in, c.style)), hex(c.expected)) << c.what;
}

TEST(SearchKeys, JisFormWithGaijiReferences) {
    struct Case {
        const char* in;
        std::string expected;
    } cases[] = {
        // ＆Ｈ１２３４；
        {"\x81\x95\x82\x67\x82\x50\x82\x51\x82\x52\x82\x53\x81\x47", std::string("\x12\x34", 2)},
        // ＆Ｇ８１２１； (modulo 0x8000)
        {"\x81\x95\x82\x66\x82\x57\x82\x50\x82\x51\x82\x50\x81\x47", std::string("\x01\x21", 2)},
        // ＆Ｚ１２３ without its ";" is text
        {"\x81\x95\x82\x79\x82\x50\x82\x51\x82\x52\x82\x53\x82\x60",
         "\x21\x75\x23\x5A\x23\x31\x23\x32\x23\x33\x23\x34\x23\x41"},
        {"\x82\xA0", "\x24\x22"},
    };
    for (const Case& c : cases) {
        char out[kSearchKeyBufferSize];
        int n = toJisKey(out, c.in, static_cast<int>(std::strlen(c.in)));
        EXPECT_EQ(hex(std::string(out, static_cast<size_t>(n))), hex(c.expected)) << hex(c.in);
    }
}

TEST(SearchKeys, ReversalKeepsCharactersAndLatin1Bytes) {
    char buf[kSearchKeyBufferSize];
    EXPECT_STREQ(reverseKey(buf,
                            "\x82\xA0\x82\xA2"
                            "A",
                            5, false),
                 "A\x82\xA2\x82\xA0");
    // In an ISO 8859-1 book 0xE9 is a letter, not the first byte of a pair.
    EXPECT_STREQ(reverseKey(buf, "caf\xE9s", 5, true),
                 "s\xE9"
                 "fac");
    EXPECT_STREQ(reverseKey(buf, "caf\xE9s", 5, false),
                 "\xE9s"
                 "fac");
    // Two buffers: the reversal of one key does not overwrite another's.
    char other[kSearchKeyBufferSize];
    const char* a = reverseKey(buf, "ab", 2, true);
    const char* b = reverseKey(other, "xyz", 3, true);
    EXPECT_STREQ(a, "ba");
    EXPECT_STREQ(b, "zyx");
    // At most 255 bytes are reversed.
    std::string longKey(300, 'q');
    EXPECT_EQ(std::strlen(reverseKey(buf, longKey.c_str(), 300, true)), 255u);
}

TEST(SearchKeys, KanaKind) {
    struct Case {
        const char* in;
        int kind;
    } cases[] = {
        {"\x82\xD0\x82\xE7\x82\xAA\x82\xC8", 2},  // ひらがな
        {"\x83\x4A\x83\x5E\x83\x4A\x83\x69", 1},  // カタカナ
        {"\x82\xA9\x83\x5E", 1},                  // かタ
        {"\x8A\xBF\x8E\x9A", 0},                  // 漢字
        {"\x82\xA9"
         "a",
         0},                              // kana and a Latin letter
        {"\x82\xA9\x81\x5B\x81\x45", 2},  // marks go with hiragana
        {"", 2},
    };
    for (const Case& c : cases) EXPECT_EQ(kanaKeyKind(c.in, static_cast<int>(std::strlen(c.in))), c.kind) << hex(c.in);
}

// The form of kana-index group members: the word as written, in hiragana.
TEST(SearchKeys, KanaMemberForm) {
    struct Case {
        const char* in;
        const char* expected;
        const char* what;
    } cases[] = {
        {"\x83\x4A\x83\x89\x81\x5B\x81\x45\x83\x79\x83\x93", "\x82\xA9\x82\xE7\x81\x5B\x81\x45\x82\xD8\x82\xF1",
         "カラー・ペン: hiragana, long vowel and mark kept, semi-voiced kept"},
        {"\x83\x62\x83\x83\x83\x94", "\x82\xC1\x82\xE1\x83\x94", "ッャ small, ヴ has no hiragana"},
        {"\x83\x95\x83\x96", "\x83\x95\x83\x96", "ヵ ヶ have none either"},
        {"\x81\x66\x81\x7C\x81\x5D\x82\xAA", "\x81\x66\x81\x7C\x81\x5D\x82\xAA", "the other marks, voiced が"},
        {"\x82\x60", "\x82\x60", "anything else as it is"},
    };
    for (const Case& c : cases) {
        char out[kSearchKeyBufferSize];
        const int n = kanaMemberKey(out, sizeof out, c.in, static_cast<int>(std::strlen(c.in)));
        EXPECT_EQ(hex(std::string(out, static_cast<size_t>(n))), hex(c.expected)) << c.what;
        EXPECT_EQ(out[n], 0) << c.what;
    }
    // Cut at whole characters to fit: three characters do not fit in six bytes.
    char small[6];
    EXPECT_EQ(kanaMemberKey(small, sizeof small, "\x83\x4A\x83\x4A\x83\x4A", 6), 4);
    EXPECT_STREQ(small, "\x82\xA9\x82\xA9");
}

TEST(SearchKeys, KanaConversionFilters) {
    char out[kSearchKeyBufferSize];
    // カ, a, 漢, ー, ヴ -> か ー ヴ
    const char* in =
        "\x83\x4A"
        "a\x8A\xBF\x81\x5B\x83\x94";
    int n = toHiragana(out, in, static_cast<int>(std::strlen(in)));
    EXPECT_EQ(hex(std::string(out, static_cast<size_t>(n))), hex("\x82\xA9\x81\x5B\x83\x94"));
    n = toKatakana(out, in, static_cast<int>(std::strlen(in)));
    EXPECT_EQ(hex(std::string(out, static_cast<size_t>(n))), hex("\x83\x4A\x81\x5B\x83\x94"));
}

TEST(Stemmer, EnglishInflections) {
    struct Case {
        const char* in;
        const char* stem;
    } cases[] = {
        // plurals
        {"caresses", "caress"},
        {"ponies", "poni"},
        {"cats", "cat"},
        {"glass", "glass"},
        // past and -ing
        {"running", "run"},
        {"hopped", "hop"},
        {"agreed", "agre"},
        {"hoping", "hope"},
        {"filing", "file"},
        {"conflated", "conflat"},
        {"sized", "size"},
        // -ly, -y, comparatives and derivations
        {"happy", "happi"},
        {"quickly", "quickli"},
        {"relational", "relat"},
        {"bigger", "bigger"},
        {"electricity", "electr"},
        {"hopefulness", "hope"},
        {"archaeology", "archaeolog"},
        {"adoption", "adopt"},
        // short words and irregular forms of the table
        {"as", "as"},
        {"Went", "go"},
        {"sewd", "sew"},
        {"lay", "lie"},
        {"laid", "lay"},
        {"written", "write"},
        {"swang", "swing"},
        // texts: no lookup of single words inside, other characters copied
        {"went away", "went awai"},
        {"run-ning", "run-ning"},
        {"Running 42", "run 42"},
    };
    for (const Case& c : cases) {
        char out[256];
        stemWords(c.in, out, sizeof out);
        EXPECT_STREQ(out, c.stem) << c.in;
    }
}

TEST(Stemmer, OutputLimitAndLongWords) {
    char out[256];
    stemWords("running fast", out, 4);
    EXPECT_STREQ(out, "run");
    stemWords("running fast", out, 5);
    EXPECT_STREQ(out, "run ");
    std::string stemmed;
    for (int i = 0; i < 30; ++i) stemmed += "ab";
    stemWords((stemmed + "ing").c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), stemmed) << "a long word is stemmed whole";
}

TEST(Stemmer, LongRunsOfYTakeLinearTime) {
    // A "y" after a vowel-like "y" is a consonant and so on down the run:
    // each answer comes from the one before (a run of 200,000 letters took
    // seconds while every test walked the run back to its start).
    for (size_t n : {size_t(3), size_t(8), size_t(200000), size_t(200001)}) {
        const std::string run(n, 'y');
        std::vector<char> out(n + 8);
        stemWords(run.c_str(), out.data(), static_cast<int>(out.size()));
        EXPECT_EQ(std::string(out.data()), std::string(n - 1, 'y') + "i") << n << " letters";
    }
}

TEST(Stemmer, CallsInParallelDoNotShareState) {
    // Stemming long and short words at once in two threads gives each its own result.
    std::string longStem;
    for (int i = 0; i < 100; ++i) longStem += "ab";
    const std::string longWord = longStem + "ations";
    std::vector<std::string> a, b;
    std::thread t1([&] {
        for (int i = 0; i < 2000; ++i) {
            char out[512];
            stemWords(longWord.c_str(), out, sizeof out);
            a.push_back(out);
        }
    });
    std::thread t2([&] {
        for (int i = 0; i < 2000; ++i) {
            char out[64];
            stemWords("connections", out, sizeof out);
            b.push_back(out);
        }
    });
    t1.join();
    t2.join();
    for (const std::string& s : a) ASSERT_EQ(s, longStem);
    for (const std::string& s : b) ASSERT_EQ(s, "connect");
}
