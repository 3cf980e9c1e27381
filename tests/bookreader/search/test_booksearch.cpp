// Index searches over hand-made index pages: the descent and the leaf scan
// on damaged pages, word-search retries and index chains, keyword queries,
// multi search, the text scan, ISO 8859-1 books and readers searching side
// by side.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "tests/bookreader/HandBook.h"
#include "tests/common/TestDir.h"

using lftest::HandBook;

namespace {

// Key bytes as the index holds them (JIS X 0208 codes, or ISO 8859-1 bytes).
typedef std::string Key;

// Full-width upper-case JIS form of ASCII letters and digits.
Key wide(const char* ascii) {
    Key k;
    for (const char* p = ascii; *p; ++p) {
        k += '\x23';
        k += static_cast<char>(*p >= 'a' && *p <= 'z' ? *p - 32 : *p);
    }
    return k;
}

struct LeafEntry {
    Key key;
    uint32_t textBlock;
    uint16_t textOffset;
    uint32_t headingBlock;
    uint16_t headingOffset;
};

void put16(std::vector<uint8_t>* v, unsigned x) {
    v->push_back(static_cast<uint8_t>(x >> 8));
    v->push_back(static_cast<uint8_t>(x));
}

void put32(std::vector<uint8_t>* v, uint32_t x) {
    put16(v, x >> 16);
    put16(v, x & 0xFFFF);
}

// A leaf page without group layout, each entry with its own key length:
// key, text position and (unless onePosition) heading position.
std::vector<uint8_t> leafPage(const std::vector<LeafEntry>& entries, bool onePosition = false, uint8_t type = 0xA0,
                              unsigned count = 0) {
    std::vector<uint8_t> v{type, 0};
    put16(&v, count ? count : static_cast<unsigned>(entries.size()));
    for (const LeafEntry& e : entries) {
        v.push_back(static_cast<uint8_t>(e.key.size()));
        v.insert(v.end(), e.key.begin(), e.key.end());
        put32(&v, e.textBlock);
        put16(&v, e.textOffset);
        if (!onePosition) {
            put32(&v, e.headingBlock);
            put16(&v, e.headingOffset);
        }
    }
    return v;
}

// An intermediate page: the highest key of each child and the child's block.
std::vector<uint8_t> nodePage(const std::vector<std::pair<Key, uint32_t>>& entries, uint8_t type = 0x20) {
    std::vector<uint8_t> v{type, 0};
    put16(&v, static_cast<unsigned>(entries.size()));
    for (const auto& e : entries) {
        v.push_back(static_cast<uint8_t>(e.first.size()));
        v.insert(v.end(), e.first.begin(), e.first.end());
        put32(&v, e.second);
    }
    return v;
}

// A book with a body text at block 2 and the given index areas; pages are
// put by the caller.
struct BookFile {
    lftest::TestDir dir;
    HandBook book;
    BookFile() {
        book.area(0x00, 2, 1);
        book.put(2, 0, {0x1F, 0x02});
    }
    std::string write(const char* name = "HONMON") { return book.write(dir.path(), name); }
};

std::vector<std::pair<uint32_t, uint16_t>> textPositions(CEBReader& r, int level = -1) {
    std::vector<std::pair<uint32_t, uint16_t>> out;
    for (int i = 0; i < r.hitCount(); ++i) {
        const HIT_ITEM* h = r.hits().at(i);
        if (level < 0 || h->level == level) out.push_back({h->textBlock, h->textOffset});
    }
    return out;
}

}  // namespace

TEST(IndexDescent, DamagedPagesEndTheSearch) {
    const Key ab = wide("AB");
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;  // blocks 3..5 of the index
        int hits;
    } cases[] = {
        {"leaf at the root", {{3, leafPage({{ab, 2, 0, 2, 0}})}}, 1},
        {"two levels", {{3, nodePage({{wide("AZ"), 4}})}, {4, leafPage({{ab, 2, 4, 2, 4}})}}, 1},
        {"the next page of a level",
         {{3, nodePage({{wide("AA"), 5}}, 0x00)}, {4, nodePage({{wide("AZ"), 5}})}, {5, leafPage({{ab, 2, 8, 2, 8}})}},
         1},
        {"child outside the index", {{3, nodePage({{wide("AZ"), 99}})}}, 0},
        {"child before the index", {{3, nodePage({{wide("AZ"), 2}})}}, 0},
        {"child is its own page", {{3, nodePage({{wide("AZ"), 3}})}}, 0},
        {"two pages pointing at each other", {{3, nodePage({{wide("AZ"), 4}})}, {4, nodePage({{wide("AZ"), 3}})}}, 0},
        {"levels running off the index",
         {{3, nodePage({{wide("AA"), 4}}, 0x00)},
          {4, nodePage({{wide("AA"), 5}}, 0x00)},
          {5, nodePage({{wide("AA"), 3}}, 0x00)}},
         0},
        {"unknown leaf type", {{3, leafPage({{ab, 2, 0, 2, 0}}, false, 0x88)}}, 0},
        // Entry counts beyond the page: the entries that are there count.
        {"node count beyond the page",
         {{3,
           [] {
               std::vector<uint8_t> v{0x20, 200, 0xFF, 0xFF};
               v.resize(2048, 0);  // keys of zeros, all below the query
               return v;
           }()}},
         0},
        {"leaf count beyond the page",
         {{3,
           [&] {
               std::vector<uint8_t> v = leafPage({{ab, 2, 12, 2, 12}}, false, 0xA0, 0xFFFF);
               v.resize(2048, 0xFF);  // keys above the query, to the page end
               return v;
           }()}},
         1},
        {"key length beyond the page",
         {{3,
           [&] {
               // Eight keys of 255 bytes starting with "AB": seven fit.
               std::vector<LeafEntry> es;
               for (uint16_t i = 0; i < 8; ++i)
                   es.push_back({ab + Key(251, '\x7E'), 2, static_cast<uint16_t>(i), 2, 0});
               std::vector<uint8_t> v = leafPage(es);
               v.resize(2048);
               return v;
           }()}},
         7},
        {"text offset beyond its block", {{3, leafPage({{ab, 2, 3000, 2, 0}, {wide("ABC"), 2, 20, 2, 20}})}}, 0},
    };
    for (const Case& c : cases) {
        BookFile f;
        f.book.area(0x91, 3, 3);
        for (const auto& p : c.pages) f.book.put(p.first, 0, p.second);
        f.book.put(5, 2040, {0});  // the file holds all three blocks
        CEBReader r;
        ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1) << c.what;
        EXPECT_EQ(r.wordSearch("ab", 0, 0, HIT_ADD), c.hits) << c.what;
    }
}

TEST(IndexDescent, PositionsAndMatches) {
    BookFile f;
    f.book.area(0x91, 3, 1);
    f.book.put(3, 0,
               leafPage({{wide("AB"), 2, 2048, 2, 10},
                         {wide("ABC"), 2, 100, 2, 100},
                         {wide("ABD"), 2, 200, 2, 200},
                         {wide("B"), 2, 300, 2, 300}}));
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    EXPECT_EQ(r.wordSearch("ab", 0, 0, HIT_ADD), 3);
    // An offset of 2048 is offset 0 of the next block.
    EXPECT_EQ(textPositions(r), (std::vector<std::pair<uint32_t, uint16_t>>{{2, 100}, {2, 200}, {3, 0}}));
    r.resetHits();
    EXPECT_EQ(r.wordSearch("abc", 1, 0, HIT_ADD), 1);
    r.resetHits();
    EXPECT_EQ(r.wordSearch("\x82\x81\x82\x82", 1, 0, HIT_ADD), 1) << "full-width lower case";
    r.resetHits();
    EXPECT_EQ(r.wordSearch("abx", 0, 0, HIT_ADD), 0);
}

TEST(WordSearch, IndexChainCountsOnlyItsOwnHits) {
    // "X" is in the written-form index 0x91, "Y" only in 0x40 (one position per entry).
    BookFile f;
    f.book.area(0x91, 3, 1).area(0x40, 4, 1);
    f.book.put(3, 0, leafPage({{wide("X"), 2, 10, 2, 10}}));
    f.book.put(4, 0, leafPage({{wide("Y"), 2, 20, 0, 0}}, true));
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    EXPECT_EQ(r.wordSearch("x", 0, 0, HIT_ADD), 1);
    // Added to the hit of the first search: 0x91 has no "Y", so 0x40 is tried.
    EXPECT_EQ(r.wordSearch("y", 0, 0, HIT_ADD), 2);
    EXPECT_EQ(textPositions(r), (std::vector<std::pair<uint32_t, uint16_t>>{{2, 10}, {2, 20}}));
}

TEST(WordSearch, RetryShortensOrStems) {
    BookFile f;
    f.book.area(0x91, 3, 1);
    // あいう, DAY, GO, KEY, PLAYGROUND, RUBY, RUN (sorted by JIS code)
    f.book.put(3, 0,
               leafPage({{wide("DAY"), 2, 40, 2, 40},
                         {wide("GO"), 2, 10, 2, 10},
                         {wide("KEY"), 2, 50, 2, 50},
                         {wide("PLAYGROUND"), 2, 60, 2, 60},
                         {wide("RUBY"), 2, 70, 2, 70},
                         {wide("RUN"), 2, 20, 2, 20},
                         {"\x24\x22\x24\x24\x24\x26", 2, 30, 2, 30}}));
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    struct Case {
        const char* key;
        int exact;
        bool retry;
        int hits;
    } cases[] = {
        {"running", 0, false, 0},
        {"running", 0, true, 1},  // stemmed to "run"
        {"went", 0, true, 1},     // irregular: "go"
        // Stems ending in "i" are also tried with "y" in its place.
        {"days", 0, true, 1},    // "dai", "day"
        {"keys", 0, true, 1},    // "kei", "key"
        {"plays", 0, true, 1},   // "plai", "play": a prefix of PLAYGROUND
        {"rubies", 0, true, 1},  // "rubi", "ruby"
        {"rubies", 0, false, 0},
        {"\x82\xA0\x82\xA2\x82\xA4\x82\xA6", 0, true, 1},  // あいうえ -> あいう
        {"\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8", 0, true, 1},
        {"\x82\xA0\x82\xA2\x82\xA6", 0, true, 0},          // three characters are not shortened
        {"\x82\xA0\x82\xA2\x82\xA4\x82\xA6", 1, true, 0},  // never with exact
    };
    for (const Case& c : cases) {
        r.resetHits();
        r.setWordRetry(c.retry);
        EXPECT_EQ(r.wordSearch(c.key, c.exact, 0, HIT_ADD), c.hits) << c.key << " retry " << c.retry;
    }
}

TEST(WordSearch, KeyWithoutAnIndexEndsWithRetries) {
    // Only a kana index: a key without kana has no index to search, and the
    // retries must not go on for ever.
    BookFile f;
    f.book.area(0x90, 3, 1);
    f.book.put(3, 0, leafPage({{"\x24\x22", 2, 10, 2, 10}}));
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    r.setWordRetry(true);
    EXPECT_EQ(r.wordSearch("#1F41", 0, 0, HIT_ADD), 0);
    EXPECT_EQ(r.wordSearch("\x82\xa0", 0, 0, HIT_ADD), 1);
}

TEST(WordSearch, CancelStopsUntilReset) {
    BookFile f;
    f.book.area(0x91, 3, 1);
    f.book.put(3, 0, leafPage({{wide("AB"), 2, 10, 2, 10}}));
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    r.cancelSearch();
    EXPECT_EQ(r.wordSearch("ab", 0, 0, HIT_ADD), 0);
    r.resetHits();
    EXPECT_EQ(r.wordSearch("ab", 0, 0, HIT_ADD), 1);
}

namespace {

// A keyword index (0x80) of plain entries on a group-layout leaf page.
std::vector<uint8_t> keywordPage(const std::vector<LeafEntry>& entries) {
    std::vector<uint8_t> v{0xB0, 0};
    put16(&v, static_cast<unsigned>(entries.size()));
    for (const LeafEntry& e : entries) {
        v.push_back(0x00);
        v.push_back(static_cast<uint8_t>(e.key.size()));
        v.insert(v.end(), e.key.begin(), e.key.end());
        put32(&v, e.textBlock);
        put16(&v, e.textOffset);
        put32(&v, e.headingBlock);
        put16(&v, e.headingOffset);
    }
    return v;
}

}  // namespace

TEST(KeywordSearch, WordsCombineByLevel) {
    BookFile f;
    f.book.area(0x80, 3, 1);
    // GREEN at 20 and 30, RED at 10 and 20, REDGREEN (one key: spaces are dropped from keys) at 40.
    f.book.put(3, 0,
               keywordPage({{wide("GREEN"), 2, 20, 2, 20},
                            {wide("GREEN"), 2, 30, 2, 30},
                            {wide("RED"), 2, 10, 2, 10},
                            {wide("RED"), 2, 20, 2, 20},
                            {wide("REDGREEN"), 2, 40, 2, 40}}));
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    typedef std::vector<std::pair<uint32_t, uint16_t>> Positions;
    struct Case {
        const char* query;
        bool strip;
        int levelIn;
        int levelOut;
        Positions hits;  // at levelOut
    } cases[] = {
        {"red green", false, 1, 2, {{2, 20}}},
        {"red", false, 0, 0, {{2, 10}, {2, 20}, {2, 40}}},
        {"\"red green\"", false, 0, 0, {{2, 40}}},
        {"red, green!", true, 0, 1, {{2, 20}}},
        // A first word that becomes empty is not counted: "red" is the first word.
        {", red", true, 0, 0, {{2, 10}, {2, 20}, {2, 40}}},
        {"  red\x81\x40\x81\x40green ", false, 0, 1, {{2, 20}}},
        {"", false, 0, 0, {}},
    };
    for (const Case& c : cases) {
        r.resetHits();
        r.setStripPunctuation(c.strip);
        int level = c.levelIn;
        r.keywordSearch(c.query, &level, HIT_ADD);
        EXPECT_EQ(level, c.levelOut) << c.query;
        EXPECT_EQ(textPositions(r, c.levelOut), c.hits) << c.query;
    }
}

namespace {

// A kana index page with group layout: each group a head (0x80) with its
// folded key and its members (0xC0) with their own keys, or, for a group
// without members, an ordinary entry (0x00). onePosition: the members'
// layout of id 0x30 (one position for text and heading).
struct KanaGroup {
    Key key;
    std::vector<LeafEntry> members;
};
std::vector<uint8_t> kanaPage(const std::vector<KanaGroup>& groups, bool onePosition) {
    std::vector<uint8_t> v{0xF0, 0, 0, 0};
    unsigned count = 0;
    auto position = [&](uint32_t block, uint16_t offset) {
        put32(&v, block);
        put16(&v, offset);
    };
    for (const KanaGroup& g : groups) {
        if (g.members.empty()) {
            v.push_back(0x00);
            v.push_back(static_cast<uint8_t>(g.key.size()));
            v.insert(v.end(), g.key.begin(), g.key.end());
            position(2, 0);
            if (!onePosition) position(2, 0);
            ++count;
            continue;
        }
        v.push_back(0x80);
        v.push_back(static_cast<uint8_t>(g.key.size()));
        put16(&v, static_cast<unsigned>(g.members.size()));
        v.insert(v.end(), g.key.begin(), g.key.end());
        ++count;
        for (const LeafEntry& m : g.members) {
            v.push_back(0xC0);
            v.push_back(static_cast<uint8_t>(m.key.size()));
            v.insert(v.end(), m.key.begin(), m.key.end());
            position(m.textBlock, m.textOffset);
            if (!onePosition) position(m.headingBlock, m.headingOffset);
            ++count;
        }
    }
    v[2] = static_cast<uint8_t>(count >> 8);
    v[3] = static_cast<uint8_t>(count);
    return v;
}

// The characters of a JIS key in reverse order, as end-word indexes hold them.
Key reversedJis(const Key& k) {
    Key r;
    for (size_t i = k.size(); i >= 2; i -= 2) r += k.substr(i - 2, 2);
    return r;
}

}  // namespace

// A kana word written with a mark shares its group with its twin without
// the mark: the group's members keep their marks, and a member matches the
// query folded to hiragana with or without its marks, so the word typed
// with its mark finds its own entry (and the twin), in the prefix kana
// indexes of both layouts and in the end-word kana index.
TEST(KanaIndexes, MembersWithMarksAreFoundAsTyped) {
    // からあへん, the folded key of both; からー・ぺん at 10; からーぺん at 20;
    // からす, an entry of its own, at 30.
    const Key folded("\x24\x2B\x24\x69\x24\x22\x24\x58\x24\x73", 10);
    const Key marked("\x24\x2B\x24\x69\x21\x3C\x21\x26\x24\x5A\x24\x73", 12);
    const Key twin("\x24\x2B\x24\x69\x21\x3C\x24\x5A\x24\x73", 10);
    const Key karasu("\x24\x2B\x24\x69\x24\x39", 6);
    typedef std::vector<std::pair<uint32_t, uint16_t>> Positions;
    const Positions both{{2, 10}, {2, 20}}, twinOnly{{2, 20}}, none;
    struct Index {
        uint8_t id;
        bool endword;
    } indexes[] = {{0x90, false}, {0x30, false}, {0x70, true}};
    struct Case {
        const char* query;  // Shift_JIS
        int exact;
        Positions want;
    } cases[] = {
        {"\x83\x4A\x83\x89\x81\x5B\x81\x45\x83\x79\x83\x93", 1, both},      // カラー・ペン
        {"\x82\xA9\x82\xE7\x81\x5B\x81\x45\x82\xD8\x82\xF1", 1, both},      // からー・ぺん
        {"\x83\x4A\x83\x89\x81\x5B\x83\x79\x83\x93", 1, twinOnly},          // カラーペン
        {"\x83\x4A\x83\x89\x81\x5B\x81\x45\x83\x79", 0, both},              // カラー・ペ
        {"\x83\x4A\x83\x89\x81\x5B\x81\x45\x83\x79", 1, none},              // カラー・ペ, whole key
        {"\x83\x4A\x83\x89\x81\x45\x81\x5B\x83\x79\x83\x93", 1, twinOnly},  // カラ・ーペン: mark elsewhere
    };
    const struct {
        const char* query;
        Positions want;
    } endwordCases[] = {
        {"\x83\x89\x81\x5B\x81\x45\x83\x79\x83\x93", both},      // ラー・ペン
        {"\x83\x89\x81\x5B\x83\x79\x83\x93", twinOnly},          // ラーペン
        {"\x83\x89\x81\x45\x81\x5B\x83\x79\x83\x93", twinOnly},  // ラ・ーペン
    };
    for (const Index& ix : indexes) {
        SCOPED_TRACE(static_cast<int>(ix.id));
        auto form = [&](const Key& k) { return ix.endword ? reversedJis(k) : k; };
        const std::vector<LeafEntry> members{{form(marked), 2, 10, 2, 10}, {form(twin), 2, 20, 2, 20}};
        // Groups in key order; the end-word keys sort the other way.
        std::vector<KanaGroup> groups{{form(folded), members}, {form(karasu), {}}};
        if (ix.endword) std::swap(groups[0], groups[1]);
        BookFile f;
        f.book.area(ix.id, 3, 1);
        f.book.put(3, 0, kanaPage(groups, ix.id == 0x30));
        if (ix.id == 0x30) {
            // A word index beside it, empty, for the book to have a word search.
            f.book.area(0x91, 4, 1);
            f.book.put(4, 0, leafPage({}));
        }
        CEBReader r;
        ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
        if (ix.endword) {
            for (const auto& c : endwordCases) {
                r.resetHits();
                r.endwordSearch(c.query, 0, HIT_ADD);
                EXPECT_EQ(textPositions(r), c.want) << c.query;
            }
            continue;
        }
        for (const Case& c : cases) {
            r.resetHits();
            r.wordSearch(c.query, c.exact, 0, HIT_ADD);
            EXPECT_EQ(textPositions(r), c.want) << c.query << " exact " << c.exact;
        }
    }
}

TEST(WordSearch, KeywordAndCrossIndexesServeWhenNoWordIndex) {
    BookFile f;
    f.book.area(0x80, 3, 1).area(0x81, 4, 1).area(0x70, 5, 1).area(0x02, 6, 1);
    f.book.put(3, 0, keywordPage({{wide("RED"), 2, 10, 2, 10}}));
    f.book.put(4, 0, keywordPage({{wide("RED"), 2, 20, 2, 20}}));
    f.book.put(6, 0, {0});
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    EXPECT_FALSE(r.hasWordSearch());
    EXPECT_TRUE(r.hasKeywordSearch());
    EXPECT_TRUE(r.hasCrossSearch());
    EXPECT_TRUE(r.hasEndwordSearch());
    EXPECT_TRUE(r.hasCopyright());
    EXPECT_FALSE(r.hasMultiSearch());
    EXPECT_FALSE(r.hasMenu());
    EXPECT_FALSE(r.hasFullText());
    // The cross index first; it has hits, so the keyword index is not searched.
    EXPECT_EQ(r.wordSearch("red", 0, 0, HIT_ADD), 1);
    EXPECT_EQ(textPositions(r), (std::vector<std::pair<uint32_t, uint16_t>>{{2, 20}}));
}

TEST(Searches, AFailedAllocationReleasesTheHitsAndSaysSo) {
    // Two of everything: keys in the keyword and cross indexes, headings
    // with "A" in the body text, references in the menu. With room for one
    // hit, each search fails: nothing found so far is kept.
    BookFile f;
    f.book.area(0x80, 3, 1).area(0x81, 4, 1).area(0x01, 5, 1);
    f.book.put(
        2, 0,
        {0x1F, 0x02, 0x1F, 0x41, 0x01, 0x00, 0x23, 0x41, 0x1F, 0x0A, 0x1F, 0x41, 0x01, 0x00, 0x23, 0x41, 0x1F, 0x03});
    f.book.put(3, 0, keywordPage({{wide("RED"), 2, 10, 2, 10}, {wide("RED"), 2, 20, 2, 20}}));
    f.book.put(4, 0, keywordPage({{wide("RED"), 2, 30, 2, 30}, {wide("RED"), 2, 40, 2, 40}}));
    f.book.put(5, 0, {0x1F, 0x43, 0x24, 0x22, 0x1F, 0x63, 0, 0, 0, 2, 0, 0x10, 0x1F, 0x0A,
                      0x1F, 0x43, 0x24, 0x24, 0x1F, 0x63, 0, 0, 0, 2, 0, 0x20, 0x1F, 0x03});
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    struct Case {
        const char* what;
        std::function<int(CEBReader&)> search;
    } cases[] = {
        {"word search", [](CEBReader& x) { return x.wordSearch("red", 0, 0, HIT_ADD); }},
        {"keyword search",
         [](CEBReader& x) {
             int level = 0;
             return x.keywordSearch("red", &level, HIT_ADD);
         }},
        {"cross search",
         [](CEBReader& x) {
             int level = 0;
             return x.crossSearch("red", &level, HIT_ADD);
         }},
        {"keyword of one word", [](CEBReader& x) { return x.keywordSearchWord("red", 0, HIT_ADD); }},
        {"text scan", [](CEBReader& x) { return x.textScanSearch("a", nullptr, nullptr, 0); }},
        {"menu", [](CEBReader& x) { return x.menuToHits(5, 0); }},
    };
    for (const Case& c : cases) {
        r.resetHits();
        r.hits().setCapacityLimit(0);
        EXPECT_EQ(c.search(r), 2) << c.what << " with room";
        EXPECT_FALSE(r.searchFailed()) << c.what;
        r.resetHits();
        r.hits().setCapacityLimit(1);
        EXPECT_EQ(c.search(r), 0) << c.what;
        EXPECT_TRUE(r.searchFailed()) << c.what;
        EXPECT_EQ(r.hitCount(), 0) << c.what;
        EXPECT_EQ(r.hits().storedCount(), 0) << c.what << ": the hits found so far are released";
    }
}

TEST(KeywordSearch, LongQueriesStayInTheirBuffers) {
    BookFile f;
    f.book.area(0x80, 3, 1);
    f.book.put(3, 0, keywordPage({{wide("RED"), 2, 10, 2, 10}}));
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    for (const std::string& q : {std::string(600, 'r'), "red " + std::string(400, 'x'), std::string(300, '"')}) {
        r.resetHits();
        int level = 0;
        r.keywordSearch(q.c_str(), &level, HIT_ADD);
        r.resetHits();
        r.wordSearch(q.c_str(), 0, 0, HIT_ADD);
        r.resetHits();
        r.endwordSearch(q.c_str(), 0, HIT_ADD);
        EXPECT_EQ(r.textScanSearch(q.c_str(), nullptr, nullptr, 0), 0);
    }
}

TEST(MultiSearch, FieldsNarrowByLevel) {
    BookFile f;
    // Two sub-indexes of no fixed layout: key, text position, heading position.
    f.book.area(0x91, 3, 1);
    f.book.put(3, 0, leafPage({{wide("X"), 2, 10, 2, 10}, {wide("X"), 2, 20, 2, 20}}));
    f.book.put(4, 0, leafPage({{wide("Y"), 2, 20, 2, 20}}));
    CEBReader r;
    ASSERT_EQ(r.open(f.write().c_str(), 1, 0), 1);
    READER_INDEX_INFO first{0x01, 3, 1, "[01]", 0, {0xFF, 0xFF, 0xC0}};
    READER_INDEX_INFO second{0x01, 4, 1, "[01]", 0, {0xFF, 0xFF, 0xC0}};
    EXPECT_EQ(r.multiSearch(&first, "X", 0), 2);
    EXPECT_EQ(r.multiSearch(&second, "Y", 1), 2);
    EXPECT_EQ(textPositions(r, 1), (std::vector<std::pair<uint32_t, uint16_t>>{{2, 20}}));
    EXPECT_EQ(r.multiSearch(nullptr, "Y", 1), 0);
}

TEST(EndwordSearch, Latin1KeysReverseByteByByte) {
    // "ETAT" with a first byte 0xE9 (é), stored reversed: "TAT\xE9".
    BookFile f;
    f.book.area(0x71, 3, 1);
    f.book.put(3, 0, leafPage({{"TAT\xE9", 2, 10, 2, 10}}));
    std::string path = f.write();
    auto search = [](CEBReader& r, const char* key) {
        r.resetHits();
        return r.endwordSearch(key, 0, HIT_ADD);
    };
    CEBReader one, two;
    ASSERT_EQ(one.open(path.c_str(), 1, 0), 1);
    ASSERT_EQ(two.open(path.c_str(), 1, 0), 1);
    one.setLatin1(1);
    two.setLatin1(1);
    EXPECT_EQ(search(one, "\xE9tat"), 1);
    EXPECT_EQ(search(one, "at"), 1);
    EXPECT_EQ(search(one, "\xE9t"), 0);
    // Two readers searching at the same time get the results of one.
    std::vector<int> a, b;
    std::thread t1([&] {
        for (int i = 0; i < 300; ++i) a.push_back(search(one, "\xE9tat"));
    });
    std::thread t2([&] {
        for (int i = 0; i < 300; ++i) b.push_back(search(two, "tat"));
    });
    t1.join();
    t2.join();
    EXPECT_EQ(a, std::vector<int>(300, 1));
    EXPECT_EQ(b, std::vector<int>(300, 1));
}

// Body text as bytes: ASCII letters and the space as their full-width JIS
// codes, any other value as a 16-bit code.
std::vector<uint8_t> text(std::initializer_list<unsigned> units) {
    std::vector<uint8_t> out;
    for (unsigned u : units) {
        const unsigned code = u == ' ' ? 0x2121 : u < 0x80 ? 0x2300 + u : u;
        out.push_back(static_cast<uint8_t>(code >> 8));
        out.push_back(static_cast<uint8_t>(code));
    }
    return out;
}

TEST(TextScan, MatchesAndHeadings) {
    struct Put {
        uint32_t block, offset;
        std::vector<uint8_t> bytes;
    };
    struct Case {
        const char* what;
        bool latin1;
        std::vector<Put> text;  // body text: blocks 2 and 3
        uint16_t markCode, markParameter;
        const char* key;
        std::vector<std::pair<uint32_t, uint16_t>> hits;
    } cases[] = {
        {"overlapping match (ああい in あああい)",
         false,
         {{2, 0, {0x1F, 0x41, 0x01, 0x00, 0x24, 0x22, 0x24, 0x22, 0x24, 0x22, 0x24, 0x24}}},
         0,
         0,
         "\x82\xA0\x82\xA0\x82\xA2",
         {{2, 0}}},
        {"match across a block end",
         false,
         {{2, 0, {0x1F, 0x41}}, {2, 2046, {0x24, 0x22}}, {3, 0, {0x24, 0x24}}},
         0,
         0,
         "\x82\xA0\x82\xA2",
         {{2, 0}}},
        {"newline and spaces between words",
         false,
         {{2, 0, {0x1F, 0x41, 0x01, 0x00, 0x23, 0x41, 0x1F, 0x0A, 0x23, 0x42,
                  0x1F, 0x02, 0x23, 0x41, 0x21, 0x21, 0x21, 0x21, 0x23, 0x42}}},
         0,
         0,
         "a b",
         {{2, 0}, {2, 10}}},
        // Escapes with parameters inside a match: emphasis (1FE0 0003 ..
        // 1FE1), an indent (1F09 0002), a keyword (1F41 0100 .. 1F61).
        {"across emphasis",
         false,
         {{2, 0, text({0x1F02, 'a', ' ', 0x1FE0, 0x0003, 'n', 'o', 0x1FE1, 'b'})}},
         0,
         0,
         "a nob",
         {{2, 0}}},
        {"across an indent", false, {{2, 0, text({0x1F02, 'a', 'b', 0x1F09, 0x0002, 'c', 'd'})}}, 0, 0, "bc", {{2, 0}}},
        {"across a keyword's start and end",
         false,
         {{2, 0, text({0x1F02, 'x', 0x1F41, 0x0100, 'y', 0x1F61, 'z'})}},
         0,
         0,
         "xyz",
         {{2, 4}}},  // the keyword's start is a heading mark
        {"an escape parameter is not text", false, {{2, 0, text({0x1F02, 0x1FE0, 0x2341, 'b'})}}, 0, 0, "ab", {}},
        {"parameters up to a mark (EPWING colour chart)",
         false,
         {{2, 0, text({0x1F02, 'a', 0x1F14, 0x1E12, 0x1E34, 'b'})}},
         0,
         0,
         "ab",
         {{2, 0}}},
        // A line break matches a space of the key (or a line break), never nothing.
        {"a line break is no empty string",
         false,
         {{2, 0, text({0x1F02, 'T', 'V', 0x1F0A, 's', 'e', 't'})}},
         0,
         0,
         "TVset",
         {}},
        {"nor are two letters around it adjacent",
         false,
         {{2, 0, text({0x1F02, 'T', 'V', 0x1F0A, 's', 'e', 't'})}},
         0,
         0,
         "VS",
         {}},
        {"a line break matches a space",
         false,
         {{2, 0, text({0x1F02, 'T', 'V', 0x1F0A, 's', 'e', 't'})}},
         0,
         0,
         "TV set",
         {{2, 0}}},
        {"a space and a line break are one run of spaces",
         false,
         {{2, 0, text({0x1F02, 'T', 'V', ' ', 0x1F0A, 's', 'e', 't'})}},
         0,
         0,
         "TV set",
         {{2, 0}}},
        {"heading mark across a block end (ISO 8859-1)",
         true,
         {{2, 2047, {0x1F}}, {3, 0, {0x41, 'a', 'b', 'c'}}},
         0,
         0,
         "ABC",
         {{2, 2047}}},
        {"page-break mark across a block end",
         false,
         {{2, 2046, {0x1F, 0x09}}, {3, 0, {0x00, 0x07, 0x23, 0x41}}},
         0x1F09,
         0x0007,
         "a",
         {{2, 2046}}},
        {"hex key (ISO 8859-1)", true, {{2, 0, {'x', 0x1F, 0x41, 'y'}}}, 0, 0, "#1F41", {{2, 1}}},
        {"odd digit count is text", true, {{2, 0, {0x1F, 0x02, '#', '1', 'F', '4'}}}, 0, 0, "#1F4", {{2, 0}}},
    };
    for (const Case& c : cases) {
        lftest::TestDir dir;
        HandBook book;
        book.area(0x00, 2, 2);
        for (const Put& p : c.text) book.put(p.block, p.offset, p.bytes);
        book.put(3, 2047, {0});
        CEBReader r;
        ASSERT_EQ(r.open(book.write(dir.path(), "HONMON").c_str(), 1, 0), 1) << c.what;
        r.setLatin1(c.latin1 ? 1 : 0);
        if (c.markCode) r.setPageBreak(c.markCode, c.markParameter, 1);
        int calls = 0;
        r.textScanSearch(
            c.key, [](void* user, int, int, int) { ++*static_cast<int*>(user); }, &calls, 0);
        EXPECT_EQ(textPositions(r), c.hits) << c.what;
        EXPECT_EQ(calls, 3) << c.what << ": one progress call per block and one at the end";
    }
}

TEST(TextScan, LimitsCountEntriesNotOccurrences) {
    // Entries of a keyword (a heading mark) and a body holding the word
    // "ox" `perEntry` times.
    struct Case {
        const char* what;
        int entries, perEntry;
        int maxHits;
        bool limit50;
        int found;
        bool more;
    } cases[] = {
        {"three entries of three occurrences under maxHits 3", 3, 3, 3, false, 3, false},
        {"a fourth entry is refused", 4, 3, 3, false, 3, true},
        {"63 entries of two occurrences under the 50-hit limit", 63, 2, 0, true, 50, true},
        {"50 entries fill the limit exactly", 50, 4, 0, true, 50, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> body;
        for (int e = 0; e < c.entries; ++e) {
            const std::vector<uint8_t> head = text({0x1F41, 0x0100, 'k', 0x1F61, 0x1F0A});
            body.insert(body.end(), head.begin(), head.end());
            for (int k = 0; k < c.perEntry; ++k) {
                const std::vector<uint8_t> word = text({'o', 'x', ' '});
                body.insert(body.end(), word.begin(), word.end());
            }
        }
        lftest::TestDir dir;
        HandBook book;
        const uint32_t blocks = static_cast<uint32_t>(body.size() / 2048 + 1);
        book.area(0x00, 2, blocks);
        book.put(2, 0, body);
        book.put(2 + blocks - 1, 2047, {0});
        CEBReader r;
        ASSERT_EQ(r.open(book.write(dir.path(), "HONMON").c_str(), 1, 0), 1) << c.what;
        if (c.maxHits) r.setMaxHits(c.maxHits);
        r.setHitLimit50(c.limit50);
        EXPECT_EQ(r.textScanSearch("ox", nullptr, nullptr, 0), c.found) << c.what;
        EXPECT_EQ(r.hasMoreHits(), c.more) << c.what;
    }
}
