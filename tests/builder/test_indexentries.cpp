// Index entry collection: titles split into notation and reading, kana
// forms, keyword duplicates, automatic keywords, heading words and the 8-bit
// length fields.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/CEPWing.h"
#include "foundation/book/CBookFile.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/TestDir.h"

namespace {

const BLOCK_POS kPos = {2, 10};
const BLOCK_POS kOther = {2, 40};

// An opened book (through the driver, with its defaults) to add entries to.
struct OpenBook {
    lftest::TestDir dir;
    CEPWing w;
    CEBBook* book = nullptr;
    explicit OpenBook(int indexDef = 0x9F, std::function<void(CEPWing&)> configure = nullptr,
                      const std::string& keywordList = "") {
        w.init();
        if (configure) configure(w);
        w.setOutput((dir.path() + "/").c_str(), 1);
        const std::string list = dir.file("keywords.txt");
        if (!keywordList.empty()) lftest::writeFile(list, keywordList);
        int rc = w.newBook("T", "T", 0x60, nullptr, nullptr, nullptr, keywordList.empty() ? nullptr : list.c_str(), 0,
                           nullptr, indexDef, false, 0, 0);
        EXPECT_EQ(rc, 0);
        book = w.book();
    }
    ~OpenBook() { w.term(); }
    // Stores text in the string table, as the readers do.
    const char* s(const std::string& t) { return book->addStringT(t.data(), t.size()); }
};

std::string key(const SEARCH_KEY_ENTRY& e) {
    return e.key ? std::string(e.key, e.keyLen) : std::string();
}
std::string kana(const KANA_ENTRY& e) {
    return std::string(e.kanaKey, e.kanaKeyLen);
}

TEST(IndexEntries, KeywordDuplicatesAtOnePosition) {
    OpenBook b;
    const char* h = b.s("head");
    b.book->addKeywordEntry(h, 4, "word", 4, kPos, 0, 2);
    b.book->addKeywordEntry(h, 4, "word", 4, kPos, 0, 2);
    EXPECT_EQ(b.book->entryCount(), 1u) << "same text, same position";
    b.book->addKeywordEntry(h, 4, "word", 4, kOther, 0, 2);
    EXPECT_EQ(b.book->entryCount(), 2u) << "another position";
    b.book->addKeywordEntry(h, 4, "WORD", 4, kPos, 0, 4);
    EXPECT_EQ(b.book->entryCount(), 3u) << "another kind";
    b.book->clearRecentEntries();
    b.book->addKeywordEntry(h, 4, "word", 4, kPos, 0, 2);
    EXPECT_EQ(b.book->entryCount(), 4u) << "after clearing the ring";
    const SEARCH_KEY_ENTRY& e = b.book->entries()[0];
    EXPECT_EQ(e.flags & 0x0F, 2);
    EXPECT_EQ(e.partLen, 4);
    EXPECT_EQ(e.partOffset, 4);
    EXPECT_EQ(key(e), "\x82\x76\x82\x6e\x82\x71\x82\x63");  // ＷＯＲＤ
}

TEST(IndexEntries, StopWordsAndDisabledKindsAddNothing) {
    OpenBook b(0x11);  // prefix and keyword search, no cross search
    const char* h = b.s("head");
    b.book->addKeywordEntry(h, 4, "the", 3, kPos, 0, 2);
    b.book->addKeywordEntry(h, 4, "The", 3, kOther, 0, 2);
    b.book->addKeywordEntry(h, 4, "cross", 5, kPos, 0, 4);
    b.book->addKeywordEntry(nullptr, 0, "word", 4, kPos, 0, 2);
    EXPECT_EQ(b.book->entryCount(), 0u);
}

TEST(IndexEntries, TitleWithReadingGivesNotationAndKanaEntries) {
    OpenBook b;
    const std::string title = "\x8a\xbf\x8e\x9a\x81\x79\x82\xa9\x82\xf1\x82\xb6\x81\x7a";  // 漢字【かんじ】
    const char* t = b.s(title);
    ASSERT_NE(b.book->addTitle(t, static_cast<int>(title.size()), t, static_cast<int>(title.size()), kPos, 0, 1, 1),
              nullptr);
    ASSERT_GE(b.book->entryCount(), 1u);
    const SEARCH_KEY_ENTRY& w = b.book->entries()[0];
    EXPECT_EQ(key(w), "\x8a\xbf\x8e\x9a");
    EXPECT_EQ(w.flags & 0x60, 0x60);
    EXPECT_EQ(std::string(w.heading, w.headingLen), title);
    EXPECT_EQ(w.bodyPos, 2u * 2048 + 10);
    ASSERT_EQ(b.book->kanaEntryCount(), 1u) << "a hiragana reading of a kanji title: one form";
    EXPECT_EQ(kana(b.book->kanaEntries()[0]), "\x82\xa9\x82\xf1\x82\xb6");
}

// titleOrder 1: the reading comes first, the written forms follow in
// brackets (several pairs, or forms joined by a middle dot) or after a blank.
TEST(IndexEntries, ReadingFirstTitles) {
    const std::string kanji = "\x8a\xbf\x8e\x9a", kanji2 = "\x8a\xb4\x82\xb6";  // 漢字, 感じ
    const std::string reading = "\x82\xa9\x82\xf1\x82\xb6";                     // かんじ
    const std::string open = "\x81\x79", close = "\x81\x7a", dot = "\x81\x45", blank = "\x81\x40";
    struct Case {
        const char* name;
        std::string title;
        std::vector<std::string> words;
    } cases[] = {
        {"bracketed form", reading + open + kanji + close, {kanji}},
        {"forms joined by a dot", reading + open + kanji + dot + kanji2 + close, {kanji, kanji2}},
        {"two bracket pairs", reading + open + kanji + close + open + kanji2 + close, {kanji, kanji2}},
        {"form after a blank", reading + blank + kanji, {kanji}},
        {"reading alone", reading, {reading}},
    };
    for (const Case& c : cases) {
        OpenBook b(0x9F, [](CEPWing& w) { w.setIntOption("titleOrder", 1); });
        const char* t = b.s(c.title);
        b.book->addTitle(t, static_cast<int>(c.title.size()), t, static_cast<int>(c.title.size()), kPos, 0, 1, 1);
        std::vector<std::string> words;
        for (const SEARCH_KEY_ENTRY& e : b.book->entries())
            if (!(e.flags & 0x06)) words.push_back(key(e));
        EXPECT_EQ(words, c.words) << c.name;
        ASSERT_EQ(b.book->kanaEntryCount(), 1u) << c.name;
        EXPECT_EQ(kana(b.book->kanaEntries()[0]), reading) << c.name;
    }
}

TEST(IndexEntries, KatakanaHeadingGetsBothKanaForms) {
    OpenBook b(0x9F, [](CEPWing& w) { w.setBoolOption("autoKana", true); });
    const std::string camera = "\x83\x4a\x83\x81\x83\x89";  // カメラ
    const char* t = b.s(camera);
    b.book->addTitle(t, 6, t, 6, kPos, 0, 1, 1);
    ASSERT_EQ(b.book->kanaEntryCount(), 2u);
    EXPECT_EQ(kana(b.book->kanaEntries()[0]), "\x82\xa9\x82\xdf\x82\xe7");  // かめら
    EXPECT_EQ(kana(b.book->kanaEntries()[1]), camera);
    // The same reading again at the same place is not repeated.
    b.book->addKanaEntry(t, 6, t, 6, kPos, 0, 0x60);
    EXPECT_EQ(b.book->kanaEntryCount(), 2u);
}

TEST(IndexEntries, IsKanaText) {
    OpenBook b;
    struct Case {
        std::string text;
        int kind;
    } cases[] = {{"\x82\xa9\x82\xc8", 2},
                 {"\x83\x4a\x83\x69", 1},
                 {"\x8a\xbf\x8e\x9a", 0},
                 {"", 2},
                 {"\x82\xa9\x83\x4a", 1},
                 {"\x82\xa9"
                  "a",
                  0}};
    for (const Case& c : cases) EXPECT_EQ(b.book->isKanaText(c.text.data(), static_cast<int>(c.text.size())), c.kind);
}

// Keyword list words found in body text: at each place the longest word of
// the list that starts there and stands as a word, then the walk goes on
// after it.
TEST(IndexEntries, KeywordListTakesTheLongestWordAtEachPlace) {
    OpenBook b(0x9F, nullptr, "a\nab\nabb\nabcd\nb\nbx\n");
    const char* h = b.s("h");
    const std::string text = "abce abcd b x zz";
    b.book->autoIndexText(text.data(), static_cast<int>(text.size()), h, 1, kPos, 0);
    std::vector<std::string> keys;
    for (const SEARCH_KEY_ENTRY& e : b.book->entries()) keys.push_back(key(e));
    // "abce": "abcd" and "abb" sort next to it but are no prefix; "ab" and
    // "a" are, but inside the longer word.
    std::vector<std::string> want = {"\x82\x60\x82\x61\x82\x62\x82\x63", "\x82\x61"};
    EXPECT_EQ(keys, want);
}

// PDIC headwords reach kilobytes: the 8-bit lengths are cut at a character,
// never wrapped.
TEST(IndexEntries, LongHeadingsAreCutAtACharacter) {
    OpenBook b;
    std::string wide;
    for (int i = 0; i < 300; ++i) wide += "\x8a\xbf";  // 600 bytes of 漢
    std::string narrow = "x" + wide;                   // odd: a cut at 255 would split a character
    for (const std::string& text : {wide, narrow}) {
        const char* t = b.s(text);
        size_t before = b.book->entryCount();
        b.book->addWordEntry(nullptr, 0, t, static_cast<int>(text.size()), kPos, 0, 0, 0x60);
        b.book->addWordEntry(t, static_cast<int>(text.size()), t, static_cast<int>(text.size()), kOther, 0, 0, 0x60);
        ASSERT_EQ(b.book->entryCount(), before + 2);
        for (size_t i = before; i < before + 2; ++i) {
            const SEARCH_KEY_ENTRY& e = b.book->entries()[i];
            int expect = text.size() % 2 ? 255 : 254;
            EXPECT_EQ(e.headingLen, expect);
            EXPECT_TRUE(e.flags & ENTRY_HEADING_CUT);
        }
        EXPECT_EQ(b.book->entries()[before + 1].keyLen, 128);
    }
}

TEST(IndexEntries, HeadingWordsBecomeCrossEntries) {
    OpenBook b;
    const std::string title = "Apple pie apple";
    const char* t = b.s(title);
    b.book->addWordEntry(nullptr, 0, t, static_cast<int>(title.size()), kPos, 0, 1, 0x60);
    // Entry 0 takes "Apple" (offset 0); "pie" becomes a copy at offset 6; the
    // second "apple" repeats the first word and adds nothing.
    ASSERT_EQ(b.book->entryCount(), 2u);
    EXPECT_EQ(b.book->entries()[0].partLen, 5);
    EXPECT_EQ(b.book->entries()[0].partOffset, 0);
    EXPECT_EQ(b.book->entries()[1].partLen, 3);
    EXPECT_EQ(b.book->entries()[1].partOffset, 6);
    EXPECT_TRUE(b.book->entries()[1].flags & ENTRY_NO_HEADING);

    const std::string head = "head";
    const char* h = b.s(head);
    b.book->addWordEntry(h, 4, "red car", 7, kOther, 0, 1, 0x60);
    // A separate heading: the word entry, and one cross entry per word.
    ASSERT_EQ(b.book->entryCount(), 5u);
    EXPECT_EQ(b.book->entries()[3].flags & 0x0F, 4);
    EXPECT_EQ(key(b.book->entries()[4]), "\x82\x62\x82\x60\x82\x71");  // ＣＡＲ
}

TEST(IndexEntries, AutomaticKeywordsFromBodyText) {
    OpenBook b(0x9F, [](CEPWing& w) {
        w.setBoolOption("autoWord", true);
        w.setBoolOption("autoEWord", true);
    });
    const char* h = b.s("h");
    // 漢字 と カメラ, then "big" and "a1" (one letter: not taken).
    const std::string text = "\x8a\xbf\x8e\x9a\x82\xc6\x83\x4a\x83\x81\x83\x89 big a1";
    b.book->autoIndexText(text.data(), static_cast<int>(text.size()), h, 1, kPos, 0);
    std::vector<std::string> keys;
    for (const SEARCH_KEY_ENTRY& e : b.book->entries()) keys.push_back(key(e));
    std::vector<std::string> want = {"\x8a\xbf\x8e\x9a", "\x83\x4a\x83\x81\x83\x89", "\x82\x61\x82\x68\x82\x66"};
    EXPECT_EQ(keys, want);
}

// Source texts are not always terminated: a lead byte at the very end of
// a text is taken alone, and nothing after the text is read (the buffers
// here are exactly as long as the text, so a sanitiser sees any overread).
TEST(IndexEntries, TextsEndingInALeadByteAreReadNoFurther) {
    struct Case {
        const char* name;
        int titleOrder;
        bool body;  // automatic keywords from body text, else a title
        std::string text;
        size_t entries;
    } cases[] = {
        {"body: kanji run, then a lone lead byte", 0, true, "\x8a\xbf\x8e\x9a\x8a", 1},
        {"body: only a lead byte", 0, true, "\x8a", 0},
        {"reading-first title ending in a lead byte", 1, false, "\x82\xa9\x82\xf1\x83", 1},
    };
    for (const Case& c : cases) {
        OpenBook b(0x9F, [&](CEPWing& w) {
            w.setBoolOption("autoWord", true);
            w.setIntOption("titleOrder", c.titleOrder);
        });
        const char* h = b.s("h");
        std::vector<char> exact(c.text.begin(), c.text.end());
        std::unique_ptr<char[]> text(new char[exact.size()]);
        std::memcpy(text.get(), exact.data(), exact.size());
        const int len = static_cast<int>(exact.size());
        if (c.body)
            b.book->autoIndexText(text.get(), len, h, 1, kPos, 0);
        else
            b.book->addTitle(h, 1, text.get(), len, kPos, 0, 1, 1);
        EXPECT_EQ(b.book->entryCount(), c.entries) << c.name;
    }
}

// The same sources always give the same book: equal keys at equal
// positions keep their collection order, and nothing else (addresses,
// uninitialised bytes) reaches the files.
TEST(IndexEntries, SameSourcesGiveTheSameBookByteForByte) {
    const std::string kanji = "\x8a\xbf\x8e\x9a", reading = "\x82\xa9\x82\xf1\x82\xb6";  // 漢字 かんじ
    const std::string open = "\x81\x79", close = "\x81\x7a", dot = "\x81\x45";
    // Equal keys at one position (a form given twice), equal keys at
    // several positions (groups) and shared body words (keyword groups).
    std::string src = reading + open + kanji + dot + kanji + close + " /// common word\n";
    for (int i = 0; i < 300; ++i)
        src += "word" + std::to_string(i % 7) + " /// common text " + std::to_string(i) + "\n" + reading + open +
               kanji + std::to_string(i) + close + " /// common\n";
    lftest::TestDir first, second;
    for (lftest::TestDir* d : {&first, &second}) {
        ASSERT_TRUE(lftest::writeFile(d->file("src.txt"), src));
        lftest::BookRecipe r;
        r.outDir = d->path();
        r.indexDef = 0x9F;
        r.configure = [](CEPWing& w) {
            w.setIntOption("titleOrder", 1);
            w.setBoolOption("hyokiSep", true);
            w.setBoolOption("autoKana", true);
            w.setBoolOption("autoEWord", true);
        };
        r.sources.push_back({d->file("src.txt"), "", 5});
        lftest::BookRun run = lftest::buildBook(r);
        ASSERT_EQ(run.newBookResult, 0) << run.log();
    }
    for (const char* name : {"CATALOGS", "TEST/DATA/HONMON"}) {
        std::vector<unsigned char> a = lftest::readFile(first.file(name));
        std::vector<unsigned char> b = lftest::readFile(second.file(name));
        ASSERT_GE(a.size(), 2048u) << name;
        EXPECT_TRUE(a == b) << name << " differs between two builds";
    }
}

// A katakana heading gets a hiragana and a katakana reading; the kana index
// keeps one of the two per entry, also when very many entries share the
// reading (a long group is handled apart from short ones).
TEST(IndexEntries, KanaIndexKeepsOneReadingPerEntry) {
    struct Case {
        const char* heading;
        int entries;
    } cases[] = {
        {"\x83\x4a\x83\x81\x83\x89", 3},    // カメラ
        {"\x83\x4a\x83\x81\x83\x89", 150},  // many of one reading
        {"\x83\x50\x83\x96", 3},            // ケヶ: small ヶ is け in the hiragana form
    };
    for (const Case& c : cases) {
        std::string src;
        for (int i = 0; i < c.entries; ++i) src += std::string(c.heading) + " /// " + std::to_string(i) + "\n";
        lftest::TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("src.txt"), src));
        lftest::BookRecipe r;
        r.outDir = dir.path();
        r.indexDef = 0x9F;
        r.configure = [](CEPWing& w) { w.setBoolOption("autoKana", true); };
        r.sources.push_back({dir.file("src.txt"), "", 5});
        lftest::BookRun run = lftest::buildBook(r);
        ASSERT_EQ(run.newBookResult, 0) << run.log();
        CBookFile book;
        ASSERT_EQ(book.open((dir.path() + "/TEST/DATA").c_str(), "HONMON", "r", 1, 1, nullptr, 1, 1), 0);
        const uint32_t start = book.startBlockOf(0x90);
        ASSERT_NE(start, 0u);
        // One reserved root, then the leaves up to the one marked last.
        unsigned records = 0, members = 0;
        for (uint32_t b = start + 1;; ++b) {
            const unsigned char* p = book.readBlock(b);
            ASSERT_NE(p, nullptr);
            ASSERT_TRUE(p[0] & 0x80) << "a leaf";
            const unsigned count = (p[2] << 8) | p[3];
            const unsigned char* e = p + 4;
            for (unsigned i = 0; i < count; ++i) {
                if (e[0] == 0xC0) ++members;
                e += e[0] == 0x80 ? 4 + e[1] : 14 + e[1];
            }
            records += count;
            if (p[0] & 0x20) break;
        }
        EXPECT_EQ(members, static_cast<unsigned>(c.entries)) << c.entries;
        EXPECT_EQ(records, static_cast<unsigned>(c.entries) + 1) << "one group header";
    }
}

}  // namespace
