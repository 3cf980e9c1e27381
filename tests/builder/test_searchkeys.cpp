// Search keys: character references, key normalisation with its filters,
// kana keys, reversal, stop words and the entry order of the index sorts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/CEPWing.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/TestDir.h"

namespace {

// A book opened through the driver, with a gaiji map holding U+3042 (alt
// "xy") and the named entry "foo" (alt "z").
class SearchKeys : public ::testing::Test {
protected:
    void SetUp() override {
        lftest::writeFile(dir.file("map.xml"),
                          std::string("<GAIJIMAP unicode=\"3042\" ebcode=\"B121\" alt=\"xy\"/>\n"
                                      "<GAIJIMAP name=\"foo\" unicode=\"4E00\" ebcode=\"B122\" alt=\"z\"/>\n"));
        w.init();
        w.setMessageCallback(lftest::captureMessage);
        configure(w);
        w.setOutput((dir.path() + "/").c_str(), 1);
        ASSERT_EQ(w.newBook("T", "KEYS", 0x60, nullptr, dir.file("map.xml").c_str(), nullptr, nullptr, 0, nullptr, 0,
                            false, 0, 0),
                  0);
        book = w.book();
    }
    void TearDown() override { w.term(); }
    virtual void configure(CEPWing&) {}

    std::string key(const std::string& text, int filter = 1, int max = 128) {
        char out[300];
        int n = book->normalizeKey(out, text.data(), static_cast<int>(text.size()), filter, max);
        return std::string(out, static_cast<size_t>(n));
    }

    lftest::TestDir dir;
    CEPWing w;
    CEBBook* book = nullptr;
};

class SearchKeysNoFilters : public SearchKeys {
    void configure(CEPWing& d) override {
        d.setBoolOption("delBlank", false);
        d.setBoolOption("delSym", false);
    }
};

class SearchKeysDelChars : public SearchKeys {
    void configure(CEPWing& d) override { d.setStringOption("delChars", "x"); }
};

}  // namespace

TEST_F(SearchKeys, Normalisation) {
    struct Case {
        const char* what;
        std::string text;
        std::string key;
    } cases[] = {
        {"letters become full-width capitals", "abc", "\x82\x60\x82\x61\x82\x62"},
        {"named reference", "&amp;", "\x81\x95"},
        {"decimal reference below 128", "&#65;", "\x82\x60"},
        {"reference with an alternative text", "&#x3042;", "\x82\x77\x82\x78"},
        {"gaiji name with an alternative text", "&foo;", "\x82\x79"},
        {"reference without alternative text is dropped", "a&#x3044;", "\x82\x60"},
        {"& without ; in the next 10 bytes is text", "&ab", "\x81\x95\x82\x60\x82\x61"},
        {"; beyond 10 bytes", "&abcdefghij;",
         std::string("\x81\x95\x82\x60\x82\x61\x82\x62\x82\x63\x82\x64\x82\x65"
                     "\x82\x66\x82\x67\x82\x68\x82\x69\x81\x47")},
        {"escape codes and controls are dropped", "\x1F\x04z\x1F\x05\t\r\n", "\x82\x79"},
        {"two-byte characters stay", "\x8a\xbf\x8e\x9a", "\x8a\xbf\x8e\x9a"},
        {"half-width katakana become full width", "\xb1", "\x83\x41"},
        {"full-width blank dropped",
         "a\x81\x40"
         "b",
         "\x82\x60\x82\x61"},
        {"ASCII blank dropped", "a b", "\x82\x60\x82\x61"},
        {"symbols dropped",
         "a-b'c\x81\x45"
         "d",
         "\x82\x60\x82\x61\x82\x62\x82\x63"},
        {"reference characters are never filtered", "a&nbsp;b", "\x82\x60\x81\x40\x82\x61"},
        {"empty text", "", ""},
        // A byte with no full-width form would leave a zero byte in the key.
        {"bytes without a full-width form are dropped",
         "a\x7f\x80\xa0\xfd"
         "b",
         "\x82\x60\x82\x61"},
        {"a lead byte at the end is dropped", "a\x88", "\x82\x60"},
    };
    for (const auto& c : cases) EXPECT_EQ(key(c.text), c.key) << c.what;
}

// Wide text writes the alphabets below U+2000 as gaiji references; their
// keys hold the JIS X 0208 characters, as a Shift_JIS source gives them, and
// a Latin letter with a diacritic (which JIS X 0208 lacks) its base letters.
TEST_F(SearchKeys, GaijiReferencesKeyedAsTheirJisCharacters) {
    struct Case {
        const char* what;
        std::string text;
        std::string key;
    } cases[] = {
        {"Greek capital gamma", "&#x0393;", "\x83\xA1"},
        {"Greek small alpha before kanji", "&#x03b1;\x89\xBB", "\x83\xBF\x89\xBB"},
        {"Cyrillic capital ya", "&#x042f;", "\x84\x60"},
        {"multiplication and division signs", "&#x00d7;&#x00f7;", "\x81\x7E\x81\x80"},
        {"degree, section, pilcrow", "&#x00b0;&#x00a7;&#x00b6;", "\x81\x8B\x81\x98\x81\xF7"},
        {"acute accent and diaeresis", "&#x00b4;&#x00a8;", "\x81\x4C\x81\x4E"},
        {"decimal reference", "&#215;", "\x81\x7E"},
        {"em dash as the horizontal bar", "&#x2014;", "\x81\x5C"},
        {"yen sign as the full-width one", "&#x00a5;", "\x81\x8F"},
        {"Latin letter with a diacritic as its base letter", "caf&#x00e9;", "\x82\x62\x82\x60\x82\x65\x82\x64"},
        {"sharp s and ligatures as two letters", "&#x00df;&#x00e6;&#x0153;&#x0133;",
         "\x82\x72\x82\x72\x82\x60\x82\x64\x82\x6E\x82\x64\x82\x68\x82\x69"},
        {"thorn, eth, o with stroke, d with stroke, l with stroke", "&#x00de;&#x00f0;&#x00f8;&#x0111;&#x0142;",
         "\x82\x73\x82\x67\x82\x63\x82\x6E\x82\x63\x82\x6B"},
        {"capital and small alike, first and last of the rows", "&#x00c0;&#x00ff;&#x0100;&#x017e;",
         "\x82\x60\x82\x78\x82\x60\x82\x79"},
        {"pinyin tone and Romanian comma below", "&#x01da;&#x0219;", "\x82\x74\x82\x72"},
        {"a letter beyond those rows is dropped", "a&#x1ea1;", "\x82\x60"},
    };
    for (const auto& c : cases) EXPECT_EQ(key(c.text), c.key) << c.what;
}

// A headword whose key would be empty keeps one: its filtered characters,
// else the geta mark for each gaiji without a key form.
TEST_F(SearchKeys, HeadwordKeyIsNeverEmpty) {
    struct Case {
        const char* what;
        std::string text;
        std::string key;
    } cases[] = {
        {"ordinary headword as normalizeKey", "a b", "\x82\x60\x82\x61"},
        {"gaiji alone", "&#x2460;", "\x81\xAC"},
        {"two gaiji", "&#x2460;&#x2461;", "\x81\xAC\x81\xAC"},
        {"an accented letter alone is its base letter", "&#x00e9;", "\x82\x64"},
        {"gaiji beside a character keeps only the character", "&#x2460;\x94\xD4", "\x94\xD4"},
        {"symbols alone stay", "\x81\x45", "\x81\x45"},
        {"blank alone stays", "\x81\x40", "\x81\x40"},
        {"controls alone give nothing", "\t\r", ""},
        {"unknown name gives nothing", "&nosuch;", ""},
    };
    for (const auto& c : cases) {
        char out[300];
        const int n = book->headwordKey(out, c.text.data(), static_cast<int>(c.text.size()), 128);
        EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.key) << c.what;
    }
}

TEST_F(SearchKeys, KeyEndsAtItsMaximum) {
    std::string text;
    for (int i = 0; i < 100; ++i) text += "\x82\xa0";
    EXPECT_EQ(key(text).size(), 128u);
    // The limit never splits a character.
    EXPECT_EQ(key("abc", 1, 5).size(), 4u);
}

TEST_F(SearchKeysNoFilters, BlanksAndSymbolsStayWhenTheirFiltersAreOff) {
    EXPECT_EQ(key("a\x81\x40"
                  "b"),
              "\x82\x60\x81\x40\x82\x61");
    EXPECT_EQ(key("a-b"), "\x82\x60\x81\x7c\x82\x61");
}

TEST_F(SearchKeys, FilterArgumentZeroKeepsEverything) {
    EXPECT_EQ(key("a b", 0), "\x82\x60\x81\x40\x82\x61");
}

TEST_F(SearchKeysDelChars, ExtraCharactersAreDroppedInTheirFullWidthForm) {
    EXPECT_EQ(key("axb"), "\x82\x60\x82\x61");
    EXPECT_EQ(key("a\x82\x77"
                  "b"),
              "\x82\x60\x82\x61");
}

TEST_F(SearchKeys, ParseEntity) {
    struct Case {
        const char* text;
        int consumed;
        uint32_t codePoint;
    } cases[] = {
        {"&#65;x", 5, 65},   {"&#x41;", 6, 0x41},     {"&#X3042;", 8, 0x3042}, {"&lt;", 4, 0x3C},
        {"&quot;", 6, 0x22}, {"&nosuch;", 8, 0},      {"abc", 0, 0},           {"&", 0, 0},
        {"&;", 0, 0},        {"&abcdefghijk;", 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t cp = 99, gc = 99;
        const char* alt = "x";
        EXPECT_EQ(book->parseEntity(c.text, static_cast<int>(std::strlen(c.text)), &cp, &gc, &alt), c.consumed)
            << c.text;
        EXPECT_EQ(cp, c.codePoint) << c.text;
    }
    uint32_t cp = 0, gc = 0;
    const char* alt = nullptr;
    ASSERT_EQ(book->parseEntity("&foo;", 5, &cp, &gc, &alt), 5);
    EXPECT_EQ(cp, 0x4E00u);
    EXPECT_EQ(gc, 0xB122u);
    ASSERT_NE(alt, nullptr);
    EXPECT_STREQ(alt, "z");
    // The reference is never read past the bytes given.
    EXPECT_EQ(book->parseEntity("&lt;", 3, &cp, &gc, &alt), 0);
}

TEST(SearchKeysKana, KanaKeyFoldsToPlainHiragana) {
    struct Case {
        const char* what;
        std::string text;
        std::string key;
        int allKana;
    } cases[] = {
        {"katakana and long vowel", "\x83\x4a\x81\x5b", "\x82\xa9\x82\xa0", 1},  // カー -> かあ
        {"voiced, small and long", "\x83\x4b\x83\x62\x83\x52\x81\x5b", "\x82\xa9\x82\xc2\x82\xb1\x82\xa8",
         1},                                                                             // ガッコー
        {"long vowel after n is another n", "\x83\x93\x81\x5b", "\x82\xf1\x82\xf1", 1},  // ンー -> んん
        {"long vowel after a long vowel stays", "\x82\xa0\x81\x5b\x81\x5b", "\x82\xa0\x82\xa0\x81\x5b",
         1},                                                                         // あーー -> ああー
        {"long vowel after wi and we", "\x83\x90\x81\x5b\x83\x91\x81\x5b",
         "\x82\xee\x82\xa2\x82\xef\x82\xa6", 1},                                  // ヰーヱー -> ゐいゑえ
        {"marks readers drop", "\x83\x41\x81\x45\x83\x89", "\x82\xa0\x82\xe7", 1},  // ア・ラ -> あら
        {"vu and small ka", "\x83\x94\x83\x95\x83\x96", "\x82\xa4\x82\xa9\x82\xaf", 1},  // ヴヵヶ
        {"semi-voiced", "\x82\xcf", "\x82\xcd", 1},                                      // ぱ -> は
        {"kanji clears all-kana", "\x8a\xbf\x8e\x9a", "\x8a\xbf\x8e\x9a", 0},
        {"ASCII is made full width", "a", "\x82\x81", 1},
    };
    for (const auto& c : cases) {
        char out[64];
        int n = -1;
        EXPECT_EQ(CEBBook::kanaKey(out, c.text.data(), static_cast<int>(c.text.size()), &n), c.allKana) << c.what;
        EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.key) << c.what;
    }
}

TEST(SearchKeysReverse, CharactersInReverseOrder) {
    CEBBook book;
    struct Case {
        std::string text;
        std::string reversed;
    } cases[] = {
        {"\x82\xa0\x82\xa2\x82\xa4", "\x82\xa4\x82\xa2\x82\xa0"},
        {"ab", "ba"},
        {"a\x82\xa0",
         "\x82\xa0"
         "a"},
        {"", ""},
    };
    for (const auto& c : cases) {
        int n = -1;
        const char* r = book.reverseKey(c.text.data(), static_cast<int>(c.text.size()), &n);
        EXPECT_EQ(std::string(r, static_cast<size_t>(n)), c.reversed);
    }
    // At most 255 bytes, whole characters: 200 two-byte characters give 127.
    std::string longText;
    for (int i = 0; i < 200; ++i) longText += "\x82\xa0";
    int n = 0;
    book.reverseKey(longText.data(), static_cast<int>(longText.size()), &n);
    EXPECT_EQ(n, 254);

    char units[] = {'\x00', 'A', '\x82', '\xa0', '\x82', '\xa2'};
    CEBBook::reverseKeyUnits(units, 6);
    EXPECT_EQ(std::string(units, 6), std::string("\x82\xa2\x82\xa0\x00"
                                                 "A",
                                                 6));
}

TEST_F(SearchKeys, StopWordsAreNormalisedAndComparedExactly) {
    EXPECT_EQ(book->stopWordCount(), 2);
    const std::string the = key("the");
    EXPECT_EQ(book->isStopWord(the.data(), static_cast<int>(the.size())), 1);
    const std::string them = key("them");
    EXPECT_EQ(book->isStopWord(them.data(), static_cast<int>(them.size())), 0);
    EXPECT_EQ(book->isStopWord(the.data(), 2), 0);
}

TEST(SearchKeysStopWords, TwoByteCodesAreNotFoldedLikeLetters) {
    lftest::TestDir dir;
    CEPWing w;
    w.init();
    w.setStringOption("stopWord", "\x83\x41");  // ア
    w.setOutput((dir.path() + "/").c_str(), 1);
    ASSERT_EQ(w.newBook("T", "SW", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
    EXPECT_EQ(w.book()->isStopWord("\x83\x41", 2), 1);
    EXPECT_EQ(w.book()->isStopWord("\x83\x61", 2), 0);  // ヂ
    w.term();
}

TEST(SearchKeysOrder, EntryComparator) {
    auto entry = [](const char* key, uint64_t block, uint64_t offset) {
        SEARCH_KEY_ENTRY e;
        std::memset(&e, 0, sizeof e);
        e.key = key;
        e.keyLen = static_cast<uint8_t>(std::strlen(key));
        e.bodyPos = block * 2048 + offset;
        return e;
    };
    struct Case {
        const char* what;
        SEARCH_KEY_ENTRY a, b;
        int sign;
    } cases[] = {
        {"key bytes unsigned", entry("\x82\xa0", 9, 0), entry("A", 1, 0), 1},
        {"shorter key first", entry("AB", 9, 0), entry("ABC", 1, 0), -1},
        {"then body block", entry("AB", 2, 100), entry("AB", 3, 0), -1},
        {"then body offset", entry("AB", 3, 10), entry("AB", 3, 4), 1},
        {"equal", entry("AB", 3, 4), entry("AB", 3, 4), 0},
    };
    for (const auto& c : cases) {
        int r = CEBBook::compareEntries(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.what;
        EXPECT_EQ(CEBBook::entryLess(c.a, c.b), c.sign < 0) << c.what;
    }
}
