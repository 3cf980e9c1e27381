// Books built from PDIC one-line sources and searched through the EB Library:
// prefix, whole-word and suffix searches by written form and by kana,
// keyword and cross searches, and a book large enough for two upper index
// levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/CEPWing.h"
#include "foundation/book/CBookFile.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/PdicWriter.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::EbHit;
using lftest::EbSearchKind;

// Full-width ASCII letters, digits and the ideographic space read back as
// ASCII, so that headings compare whatever width libeb renders them in.
std::string plain(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        if (b == 0x82 && i + 1 < s.size()) {
            unsigned char t = static_cast<unsigned char>(s[i + 1]);
            if (t >= 0x4F && t <= 0x58) {
                out += static_cast<char>('0' + t - 0x4F);
                ++i;
                continue;
            }
            if (t >= 0x60 && t <= 0x79) {
                out += static_cast<char>('A' + t - 0x60);
                ++i;
                continue;
            }
            if (t >= 0x81 && t <= 0x9A) {
                out += static_cast<char>('a' + t - 0x81);
                ++i;
                continue;
            }
        }
        if (b == 0x81 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x40) {
            out += ' ';
            ++i;
            continue;
        }
        out += s[i];
        if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            if (i + 1 < s.size()) out += s[++i];
        }
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

std::vector<std::string> plainHeadings(lftest::EbProbe& p, EbSearchKind kind, const std::vector<std::string>& w) {
    std::vector<std::string> out;
    for (const std::string& h : p.headings(0, kind, w)) out.push_back(plain(h));
    return out;
}

const int kAllIndexes = 0x9F;  // prefix and suffix by form and kana, keyword, cross

struct Built {
    lftest::TestDir dir;
    lftest::BookRun run;
};

void build(Built* b, const std::string& source, int indexDef, std::function<void(CEPWing&)> configure = nullptr,
           int ebType = 1) {
    ASSERT_TRUE(lftest::writeFile(b->dir.file("src.txt"), source));
    lftest::BookRecipe r;
    r.outDir = b->dir.path();
    r.ebType = ebType;
    r.indexDef = indexDef;
    r.configure = configure;
    r.sources.push_back({b->dir.file("src.txt"), "", 5});
    b->run = lftest::buildBook(r);
    ASSERT_EQ(b->run.newBookResult, 0) << b->run.log();
}

// Shift_JIS words of the book below.
const std::string kKanji = "\x8a\xbf\x8e\x9a";                       // 漢字
const std::string kKanjiKana = "\x82\xa9\x82\xf1\x82\xb6";           // かんじ
const std::string kGakkou = "\x8a\x77\x8d\x5a";                      // 学校
const std::string kGakkouKana = "\x82\xaa\x82\xc1\x82\xb1\x82\xa4";  // がっこう
const std::string kKakkou = "\x8a\x69\x8d\x44";                      // 格好
const std::string kKakkouKana = "\x82\xa9\x82\xc1\x82\xb1\x82\xa4";  // かっこう
const std::string kCamera = "\x83\x4a\x83\x81\x83\x89";              // カメラ
const std::string kOpen = "\x81\x79", kClose = "\x81\x7a";           // 【 】

std::string dictionary() {
    return "apple /// a red fruit \\ grows on trees\n"
           "Apple pie /// a sweet dessert\n"
           "banana /// a yellow fruit\n"
           "\n" +
           kKanji + kOpen + kKanjiKana + kClose + " /// characters\n" + kGakkou + kOpen + kGakkouKana + kClose +
           " /// school\n" + kKakkou + kOpen + kKakkouKana + kClose + " /// shape\n" + kCamera + " /// camera\n";
}

TEST(IndexSearch, WordSearchesByWrittenForm) {
    Built b;
    build(&b, dictionary(), kAllIndexes);
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    ASSERT_TRUE(p.haveSearch(0, EbSearchKind::Word));
    ASSERT_TRUE(p.haveSearch(0, EbSearchKind::EndWord));
    struct Case {
        const char* name;
        EbSearchKind kind;
        std::string word;
        std::vector<std::string> headings;  // in key order
    } cases[] = {
        {"prefix", EbSearchKind::Word, "app", {"apple", "Apple pie"}},
        {"prefix upper case", EbSearchKind::Word, "APPLE", {"apple", "Apple pie"}},
        {"prefix full width", EbSearchKind::Word, "\x82\x81\x82\x90\x82\x90", {"apple", "Apple pie"}},
        {"exact", EbSearchKind::ExactWord, "apple", {"apple"}},
        {"exact with blank", EbSearchKind::ExactWord, "apple pie", {"Apple pie"}},
        {"suffix", EbSearchKind::EndWord, "ana", {"banana"}},
        {"suffix of two", EbSearchKind::EndWord, "pie", {"Apple pie"}},
        {"kanji", EbSearchKind::Word, kKanji, {kKanji + kOpen + kKanjiKana + kClose}},
        {"missing", EbSearchKind::Word, "cherry", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(plainHeadings(p, c.kind, {c.word}), c.headings) << c.name;
}

// A headword longer than a key (64 characters) and than titleLen: the prefix
// index keeps its start, the suffix index its end, the heading is cut.
TEST(IndexSearch, LongHeadwordsKeepBothEnds) {
    const std::string word = std::string(200, 'x') + "tail";
    std::string reading;
    for (int i = 0; i < 80; ++i) reading += "\x82\xa9";  // か
    reading += "\x82\xf1";                               // ん
    Built b;
    build(&b, word + " /// body\n" + kKanji + kOpen + reading + kClose + " /// long reading\n", kAllIndexes);
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_EQ(p.search(0, EbSearchKind::Word, {"\x82\xa9\x82\xa9\x82\xa9"}).size(), 1u) << "start of the reading";
    EXPECT_EQ(p.search(0, EbSearchKind::EndWord, {"\x82\xa9\x82\xf1"}).size(), 1u) << "end of the reading";
    EXPECT_EQ(p.search(0, EbSearchKind::Word, {"xxxx"}).size(), 1u);
    EXPECT_EQ(p.search(0, EbSearchKind::EndWord, {"tail"}).size(), 1u);
    EXPECT_EQ(p.search(0, EbSearchKind::EndWord, {"xtail"}).size(), 1u);
    std::vector<EbHit> hits = p.searchText(0, EbSearchKind::EndWord, {"tail"});
    ASSERT_EQ(hits.size(), 1u);
    // The heading is cut at titleLen (128) with the ellipsis 81 63.
    EXPECT_NE(hits[0].heading.find("\x81\x63"), std::string::npos);
}

TEST(IndexSearch, TextAtAHitStopsAtTheNextEntry) {
    Built b;
    build(&b, dictionary(), kAllIndexes);
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    std::vector<EbHit> hits = p.searchText(0, EbSearchKind::ExactWord, {"apple"});
    ASSERT_EQ(hits.size(), 1u);
    std::string text = plain(hits[0].text);
    EXPECT_NE(text.find("apple"), std::string::npos) << text;
    EXPECT_NE(text.find("a red fruit"), std::string::npos) << text;
    EXPECT_NE(text.find("\ngrows on trees"), std::string::npos) << "\" \\ \" starts a new line: " << text;
    EXPECT_EQ(text.find("dessert"), std::string::npos) << text;
}

TEST(IndexSearch, KanaSearchesTellVoicedReadingsApart) {
    Built b;
    build(&b, dictionary(), kAllIndexes, [](CEPWing& w) { w.setBoolOption("autoKana", true); });
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    const std::string gakkou = kGakkou + kOpen + kGakkouKana + kClose;
    const std::string kakkou = kKakkou + kOpen + kKakkouKana + kClose;
    struct Case {
        const char* name;
        EbSearchKind kind;
        std::string word;
        std::vector<std::string> headings;
    } cases[] = {
        {"voiced reading", EbSearchKind::Word, kGakkouKana, {gakkou}},
        {"plain reading", EbSearchKind::Word, kKakkouKana, {kakkou}},
        {"reading prefix", EbSearchKind::Word, "\x82\xa9\x82\xf1", {kKanji + kOpen + kKanjiKana + kClose}},
        {"katakana heading by hiragana", EbSearchKind::Word, "\x82\xa9\x82\xdf\x82\xe7", {kCamera}},
        {"katakana heading by katakana", EbSearchKind::Word, kCamera, {kCamera}},
        {"reading suffix", EbSearchKind::EndWord, "\x82\xb1\x82\xa4", {kakkou, gakkou}},
        {"reading suffix voiced", EbSearchKind::EndWord, "\x82\xaa\x82\xc1\x82\xb1\x82\xa4", {gakkou}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got = plainHeadings(p, c.kind, {c.word});
        if (c.headings.size() > 1) std::sort(got.begin(), got.end());
        std::vector<std::string> want = c.headings;
        if (want.size() > 1) std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << c.name;
    }
}

// addKana asks for katakana twins of kana entries; readers fold a katakana
// query to the same key, so the twins are dropped again and no setting gives
// a reading's hit twice.
TEST(IndexSearch, AddKanaAddsNoDuplicateHit) {
    const std::string gakkou = kGakkou + kOpen + kGakkouKana + kClose;
    const std::string gakkouKatakana = "\x83\x4b\x83\x62\x83\x52\x83\x45";  // ガッコウ
    for (int addKana : {0, 1, 2}) {
        SCOPED_TRACE(addKana);
        Built b;
        build(&b, dictionary(), kAllIndexes, [addKana](CEPWing& w) {
            w.setBoolOption("autoKana", true);
            w.setIntOption("addKana", addKana);
        });
        lftest::EbProbe p(b.dir.path());
        ASSERT_TRUE(p.ok()) << p.error();
        for (const std::string& query : {kGakkouKana, gakkouKatakana})
            EXPECT_EQ(plainHeadings(p, EbSearchKind::Word, {query}), std::vector<std::string>{gakkou});
        EXPECT_EQ(plainHeadings(p, EbSearchKind::Word, {kCamera}), std::vector<std::string>{kCamera});
        EXPECT_EQ(plainHeadings(p, EbSearchKind::EndWord, {"\x82\xaa\x82\xc1\x82\xb1\x82\xa4"}),
                  std::vector<std::string>{gakkou});
    }
}

TEST(IndexSearch, KeywordAndCrossSearchesNeedEveryWord) {
    Built b;
    build(&b, dictionary(), kAllIndexes, [](CEPWing& w) { w.setBoolOption("autoEWord", true); });
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    ASSERT_TRUE(p.haveSearch(0, EbSearchKind::Keyword));
    ASSERT_TRUE(p.haveSearch(0, EbSearchKind::Cross));
    struct Case {
        const char* name;
        EbSearchKind kind;
        std::vector<std::string> words;
        std::vector<std::string> headings;
    } cases[] = {
        {"keyword one word", EbSearchKind::Keyword, {"fruit"}, {"apple", "banana"}},
        {"keyword two words", EbSearchKind::Keyword, {"yellow", "fruit"}, {"banana"}},
        {"keyword none", EbSearchKind::Keyword, {"yellow", "trees"}, {}},
        {"cross heading words", EbSearchKind::Cross, {"pie", "apple"}, {"Apple pie"}},
        {"cross one word", EbSearchKind::Cross, {"apple"}, {"apple", "Apple pie"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got = plainHeadings(p, c.kind, c.words);
        std::sort(got.begin(), got.end());
        std::vector<std::string> want = c.headings;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << c.name << ": " << p.error();
    }
    // A keyword hit points at its entry, headword included.
    std::vector<EbHit> hits = p.searchText(0, EbSearchKind::Keyword, {"yellow"});
    std::vector<EbHit> word = p.search(0, EbSearchKind::ExactWord, {"banana"});
    ASSERT_EQ(hits.size(), 1u);
    ASSERT_EQ(word.size(), 1u);
    EXPECT_EQ(hits[0].textBlock, word[0].textBlock);
    EXPECT_EQ(hits[0].textOffset, word[0].textOffset);
    EXPECT_NE(plain(hits[0].text).find("banana"), std::string::npos);
}

// 5,000 entries with 35-character keys sharing their first 30 bytes and
// more: the index gets two upper levels and the descent must go by cut keys.
TEST(IndexSearch, LargeBookFindsFirstLastMiddleAndMissingKeys) {
    std::string src;
    auto word = [](int i) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "commonprefixcommonprefixcommon%05d", i);
        return std::string(buf);
    };
    for (int i = 0; i < 5000; ++i) src += word(i) + " /// entry " + std::to_string(i) + "\n";
    Built b;
    build(&b, src, 0);
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    struct Case {
        const char* name;
        EbSearchKind kind;
        std::string word;
        std::vector<std::string> headings;
    } cases[] = {
        {"first", EbSearchKind::ExactWord, word(0), {word(0)}},
        {"last", EbSearchKind::ExactWord, word(4999), {word(4999)}},
        {"middle", EbSearchKind::ExactWord, word(2500), {word(2500)}},
        {"missing after all", EbSearchKind::ExactWord, word(5000), {}},
        {"missing before all", EbSearchKind::Word, "commonprefixa", {}},
        {"prefix of ten",
         EbSearchKind::Word,
         "commonprefixcommonprefixcommon0250",
         {word(2500), word(2501), word(2502), word(2503), word(2504), word(2505), word(2506), word(2507), word(2508),
          word(2509)}},
    };
    for (const Case& c : cases) EXPECT_EQ(plainHeadings(p, c.kind, {c.word}), c.headings) << c.name;
    std::vector<EbHit> hits = p.searchText(0, EbSearchKind::ExactWord, {word(4321)});
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_NE(plain(hits[0].text).find("entry 4321"), std::string::npos);

    // The prefix index really has two upper levels: the root's children are
    // upper pages (no leaf bit), and its last record carries the 0xFF key.
    CBookFile book;
    ASSERT_EQ(book.open((b.dir.path() + "/TEST/DATA").c_str(), "HONMON", "r", 1, 1, nullptr, 1, 1), 0);
    uint32_t start = book.startBlockOf(0x91);
    ASSERT_NE(start, 0u);
    const unsigned char* root = book.readBlock(start);
    EXPECT_EQ(root[0], 0x60);
    unsigned records = (root[2] << 8) | root[3];
    ASSERT_GE(records, 2u);
    const unsigned char* last = root + 4 + 34 * (records - 1);
    EXPECT_EQ(last[0], 0xFF);
    uint32_t child = (uint32_t(root[4 + 30]) << 24) | (root[4 + 31] << 16) | (root[4 + 32] << 8) | root[4 + 33];
    EXPECT_EQ(book.readBlock(child)[0] & 0x80, 0) << "an upper page below the root";
}

// A keyword shared by 400 entries and a reading shared by 200: both groups
// run over a page; every member is found, each with its own heading. Equal
// headwords running over plain leaf pages are all found too.
TEST(IndexSearch, GroupsCrossingAPageAreFoundWhole) {
    std::string src;
    std::vector<std::string> words, kanjiHeads;
    for (int i = 0; i < 400; ++i) {
        char w[32];
        std::snprintf(w, sizeof w, "word%03d", i);
        words.push_back(w);
        src += std::string(w) + " /// common text\n";
    }
    for (int i = 0; i < 200; ++i) {
        // 字 followed by full-width digits, all read かんじ.
        std::string h = "\x8e\x9a";
        char d[8];
        std::snprintf(d, sizeof d, "%03d", i);
        for (const char* c = d; *c; ++c) {
            h += '\x82';
            h += static_cast<char>(0x4F + (*c - '0'));
        }
        kanjiHeads.push_back(h + kOpen + kKanjiKana + kClose);
        src += kanjiHeads.back() + " /// x\n";
    }
    // 300 entries of one headword: equal keys over several plain leaves.
    for (int i = 0; i < 300; ++i) src += "same /// entry " + std::to_string(i) + "\n";
    Built b;
    build(&b, src, kAllIndexes, [](CEPWing& w) { w.setBoolOption("autoEWord", true); });
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();

    for (EbSearchKind kind : {EbSearchKind::ExactWord, EbSearchKind::Word, EbSearchKind::EndWord})
        EXPECT_EQ(p.search(0, kind, {"same"}).size(), 300u) << static_cast<int>(kind);

    std::vector<std::string> got = plainHeadings(p, EbSearchKind::Keyword, {"common"});
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, words);

    std::vector<std::string> kana = plainHeadings(p, EbSearchKind::Word, {kKanjiKana});
    std::vector<std::string> want;
    for (const std::string& h : kanjiHeads) want.push_back(plain(h));
    std::sort(kana.begin(), kana.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(kana, want);
}

TEST(IndexSearch, OmitHeaderPointsHeadingsAtTheText) {
    Built b;
    build(&b, dictionary(), kAllIndexes, [](CEPWing& w) { w.setBoolOption("omitHeader", true); });
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    std::vector<EbHit> hits = p.searchText(0, EbSearchKind::Word, {"banana"});
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].headingBlock, hits[0].textBlock);
    EXPECT_EQ(hits[0].headingOffset, hits[0].textOffset);
    CBookFile book;
    ASSERT_EQ(book.open((b.dir.path() + "/TEST/DATA").c_str(), "HONMON", "r", 1, 1, nullptr, 1, 1), 0);
    EXPECT_EQ(book.startBlockOf(0x05), 0u) << "no heading area";
    EXPECT_NE(book.startBlockOf(0x91), 0u);
}

// delSym decides whether symbols stay in keys; the index's style byte tells
// readers to fold the query the same way.
TEST(IndexSearch, DelSymOffKeepsSymbolsInKeysAndQueries) {
    struct Case {
        bool delSym;
        const char* query;
        size_t hits;
    } cases[] = {{true, "re-use", 1}, {true, "reuse", 1}, {false, "re-use", 1}, {false, "reuse", 0}};
    for (const Case& c : cases) {
        Built b;
        build(&b, "re-use /// again\n", 0, [&](CEPWing& w) { w.setBoolOption("delSym", c.delSym); });
        lftest::EbProbe p(b.dir.path());
        ASSERT_TRUE(p.ok()) << p.error();
        EXPECT_EQ(p.search(0, EbSearchKind::ExactWord, {c.query}).size(), c.hits)
            << "delSym " << c.delSym << " query " << c.query;
    }
}

// Readers drop blanks from every query, so a key that keeps its blanks
// (delBlank off) is found through its blank-free twin. A prefix that ends
// before the blank matches both keys of the entry, so hits are compared as
// a set of headings.
TEST(IndexSearch, DelBlankOffKeepsBlankKeysFindable) {
    const std::string kIceCream = "\x95\x58\x89\xdb";                                 // 氷菓
    const std::string kReading = "\x82\xa0\x82\xa2\x82\xb7\x81\x40\x82\xad\x82\xe8";  // あいす　くり
    struct Case {
        EbSearchKind kind;
        const char* what;
        std::string query;
        std::vector<std::string> headings;
    } cases[] = {
        {EbSearchKind::ExactWord, "as written", "ice cream", {"ice cream"}},
        {EbSearchKind::ExactWord, "without the blank", "icecream", {"ice cream"}},
        {EbSearchKind::ExactWord,
         "full-width blank",
         "ice\x81\x40"
         "cream",
         {"ice cream"}},
        {EbSearchKind::Word, "prefix before the blank", "ice", {"ice cream"}},
        {EbSearchKind::Word, "prefix across the blank", "ice cr", {"ice cream"}},
        {EbSearchKind::EndWord, "suffix across the blank", "e cream", {"ice cream"}},
        {EbSearchKind::Word, "reading with a blank", kReading, {plain(kIceCream + kOpen + kReading + kClose)}},
        {EbSearchKind::Word, "other entry", "hot dog", {"hot dog"}},
    };
    for (bool delBlank : {true, false}) {
        Built b;
        build(&b, "ice cream /// cold\nhot dog /// warm\n" + kIceCream + kOpen + kReading + kClose + " /// sweet\n",
              kAllIndexes, [&](CEPWing& w) { w.setBoolOption("delBlank", delBlank); });
        lftest::EbProbe p(b.dir.path());
        ASSERT_TRUE(p.ok()) << p.error();
        for (const Case& c : cases) {
            std::vector<std::string> got = plainHeadings(p, c.kind, {c.query});
            got.erase(std::unique(got.begin(), got.end()), got.end());
            EXPECT_EQ(got, c.headings) << "delBlank " << delBlank << ": " << c.what;
        }
    }
}

// Entries without a heading of their own (as the markup readers register
// them) get their keys when the index is written: normalised first, then
// reversed for the suffix index, so that escape codes and references in the
// heading never reach a key.
TEST(IndexSearch, SuffixKeysAreNormalisedBeforeReversal) {
    lftest::TestDir dir;
    lftest::capturedMessages().clear();
    CEPWing w;
    w.init();
    w.setMessageCallback(lftest::captureMessage);
    w.setOutput((dir.path() + "/").c_str(), 1);
    ASSERT_EQ(w.newBook("T", "TEST", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0x05, false, 0, 0), 0);
    CEBBook* book = w.book();
    const std::string withEscape =
        "ab\x1f\x41"
        "cd";  // an escape code inside
    const std::string withRef = "x&amp;y";
    const char* a = book->addStringT(withEscape.data(), withEscape.size());
    const char* r = book->addStringT(withRef.data(), withRef.size());
    const std::string longText = std::string(100, 'y') + "end";  // longer than a key
    const char* l = book->addStringT(longText.data(), longText.size());
    book->addWordEntry(nullptr, 0, a, static_cast<int>(withEscape.size()), BLOCK_POS{2, 0}, 0, 0, 0x60);
    book->addWordEntry(nullptr, 0, r, static_cast<int>(withRef.size()), BLOCK_POS{2, 4}, 0, 0, 0x60);
    book->addWordEntry(nullptr, 0, l, static_cast<int>(longText.size()), BLOCK_POS{2, 8}, 0, 0, 0x60);
    w.makeBook();
    w.closeCatalog();
    w.term();
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    struct Case {
        EbSearchKind kind;
        const char* word;
        int offset;
    } cases[] = {{EbSearchKind::EndWord, "bcd", 0},    {EbSearchKind::EndWord, "&y", 4},
                 {EbSearchKind::ExactWord, "abcd", 0}, {EbSearchKind::ExactWord, "x&y", 4},
                 {EbSearchKind::EndWord, "yend", 8},   {EbSearchKind::Word, "yyyy", 8}};
    for (const Case& c : cases) {
        std::vector<EbHit> hits = p.search(0, c.kind, {c.word});
        ASSERT_EQ(hits.size(), 1u) << c.word;
        EXPECT_EQ(hits[0].textOffset, c.offset) << c.word;
    }
}

CEPWing* g_running = nullptr;

// Aborts the run as soon as the prefix index starts.
void abortAtPrefixIndex(const char* text) {
    lftest::captureMessage(text);
    if (g_running != nullptr && std::string(text) == "Prefix Index...") g_running->abort();
}

TEST(IndexSearch, AbortDuringAnIndexEndsTheBuild) {
    lftest::TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("src.txt"), dictionary()));
    lftest::capturedMessages().clear();
    CEPWing w;
    w.init();
    w.setMessageCallback(abortAtPrefixIndex);
    w.setOutput((dir.path() + "/").c_str(), 1);
    ASSERT_EQ(w.newBook("T", "TEST", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, kAllIndexes, false, 0, 0),
              0);
    ASSERT_EQ(w.addSource(dir.file("src.txt").c_str(), nullptr, 5, nullptr), 0);
    g_running = &w;
    w.makeBook();
    g_running = nullptr;
    EXPECT_EQ(w.getProgress(), 100);
    w.term();
    const std::vector<std::string>& m = lftest::capturedMessages();
    auto at = std::find(m.begin(), m.end(), std::string("Prefix Index..."));
    ASSERT_NE(at, m.end());
    ASSERT_NE(at + 1, m.end());
    EXPECT_EQ(*(at + 1), "") << "the abort is reported as an empty message";
    EXPECT_EQ(std::find(m.begin(), m.end(), std::string("Suffix Index...")), m.end());
}

using lftest::utf16;

// Two UTF-16 sources in one book: the second is read from its own start
// with its own byte order, as the first was.
TEST(IndexSearch, Utf16SourcesOneAfterAnother) {
    lftest::TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("a.txt"), utf16("alpha /// first\r\nbeta /// second\r\n")));
    ASSERT_TRUE(lftest::writeFile(dir.file("b.txt"), utf16("gamma\r\nthird\r\ndelta\r\nfourth\r\n")));
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.sources.push_back({dir.file("a.txt"), "", 5});
    r.sources.push_back({dir.file("b.txt"), "", 2});
    lftest::BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    struct Case {
        const char* word;
        const char* body;
    } cases[] = {{"alpha", "first"}, {"beta", "second"}, {"gamma", "third"}, {"delta", "fourth"}};
    for (const Case& c : cases) {
        std::vector<EbHit> hits = p.searchText(0, EbSearchKind::ExactWord, {c.word});
        ASSERT_EQ(hits.size(), 1u) << c.word;
        EXPECT_EQ(plain(hits[0].heading), c.word);
        EXPECT_NE(plain(hits[0].text).find(c.body), std::string::npos) << c.word << ": " << plain(hits[0].text);
    }
}

// A PDIC dictionary file (version 6: "key<TAB>display word") as a source.
TEST(IndexSearch, PdicDictionaryBecomesABook) {
    lftest::TestDir dir;
    lftest::PdicBlock block;
    lftest::PdicEntry a;
    a.word = U"apple\tApple";
    a.meaning = U"a fruit";
    a.pron = U"apl";
    lftest::PdicEntry z;
    z.word = U"zoo";
    z.meaning = U"animals";
    block.entries = {a, z};
    lftest::PdicOptions o;
    ASSERT_TRUE(lftest::writeFile(dir.file("d.dic"), lftest::buildPdic(o, {block})));
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.sources.push_back({dir.file("d.dic"), "", 6});
    lftest::BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    std::vector<EbHit> hits = p.searchText(0, EbSearchKind::ExactWord, {"apple"});
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(plain(hits[0].heading), "Apple") << "the display word heads the entry";
    std::string text = plain(hits[0].text);
    EXPECT_NE(text.find("/apl/"), std::string::npos) << text;
    EXPECT_NE(text.find("a fruit"), std::string::npos) << text;
    EXPECT_EQ(text.find("animals"), std::string::npos) << text;
    EXPECT_EQ(plainHeadings(p, EbSearchKind::Word, {"zo"}), std::vector<std::string>{"zoo"});
}

// An EB book has no cross index; its keyword index takes cross entries too.
TEST(IndexSearch, EbBookKeywordIndexTakesEveryKind) {
    Built b;
    build(
        &b, dictionary(), kAllIndexes, [](CEPWing& w) { w.setBoolOption("autoEWord", true); }, 0);
    lftest::EbProbe p(b.dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_FALSE(p.haveSearch(0, EbSearchKind::Cross));
    ASSERT_TRUE(p.haveSearch(0, EbSearchKind::Keyword));
    std::vector<std::string> got = plainHeadings(p, EbSearchKind::Keyword, {"fruit"});
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"apple", "banana"}));
    // "pie" is a word of a heading: a cross entry, in the keyword index here.
    EXPECT_EQ(plainHeadings(p, EbSearchKind::Keyword, {"pie"}), std::vector<std::string>{"Apple pie"});
    EXPECT_EQ(plainHeadings(p, EbSearchKind::ExactWord, {"banana"}), std::vector<std::string>{"banana"});
}

}  // namespace
