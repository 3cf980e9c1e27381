// The full-text index: keys made from the body text, searches of 1 to many
// characters, the index files and what a failed, cancelled or damaged build
// or index leaves, and the book reader's full-text search over it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/fts/CEBFTS.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"
#include "tests/bookreader/HandBook.h"
#include "tests/common/SqliteShell.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::HandBook;

std::vector<uint32_t> wide(const std::u32string& s) {
    std::vector<uint32_t> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

// Text positions of a search, as block * 2048 + offset.
std::vector<uint32_t> positions(CEBFTS& fts, const std::u32string& query, int max = 0) {
    std::vector<uint32_t> q = wide(query);
    int n = fts.search(q.data(), max);
    std::vector<uint32_t> out;
    for (int i = 0; i < n; ++i) out.push_back(fts.hits()[i].textBlock * 2048 + fts.hits()[i].textOffset);
    return out;
}

// Body text at block 2, by relative position:
//   0 1F02 (heading)   2 1F04 narrow: 4 a  6 b   8 1F05   10 ｃ 12 ｄ (wide)
//   14 1F0A newline    16 ｅ   18 1F04 narrow: 20 A 22 b 24 space 26 b 28 , 30 c
//   32 1F4B with 6 parameter bytes that look like "abc"   40 1F05
//   42 1F41 0001 (heading)   46 ｃ 48 ｄ 50 あ 52 い   54 1F04 56 _ 58 1F05
//   60 あ   62 1F03
HandBook sampleBook() {
    HandBook b;
    b.area(0x00, 2, 1);
    b.codes(2, 0, {0x1F02, 0x1F04, 0x2361, 0x2362, 0x1F05, 0x2363, 0x2364, 0x1F0A, 0x2365, 0x1F04, 0x2341,
                   0x2362, 0x2121, 0x2362, 0x2124, 0x2363, 0x1F4B, 0x2361, 0x2362, 0x2363, 0x1F05, 0x1F41,
                   0x0001, 0x2363, 0x2364, 0x2422, 0x2424, 0x1F04, 0x2132, 0x1F05, 0x2422, 0x1F03});
    return b;
}

struct BuiltIndex {
    lftest::TestDir dir;
    std::string text;
    CEBFTS fts;
    explicit BuiltIndex(const HandBook& b, int options = 0, int format = CEBFTS::FORMAT_COMPACT) {
        text = b.write(dir.path(), "HONMON");
        fts.setFormat(format);
        EXPECT_EQ(fts.build(text.c_str(), nullptr, options), 0) << fts.lastError();
        EXPECT_EQ(fts.open(dir.file("fts.db").c_str()), 0) << fts.lastError();
    }
};

const int kFormats[] = {CEBFTS::FORMAT_PLAIN, CEBFTS::FORMAT_COMPACT};

}  // namespace

TEST(FtsKeys, PairsSinglesAndFolding) {
    struct Case {
        const char* name;
        int options;
        std::vector<std::vector<uint32_t>> chars;  // jis, position, narrow
        std::vector<std::pair<std::string, std::vector<uint32_t>>> keys;
    };
    const Case cases[] = {
        {"narrow full-width capitals fold to small ASCII pairs",
         0,
         {{0x2341, 0, 1}, {0x2342, 2, 1}, {0x2343, 4, 1}},
         {{"ab", {0}}, {"bc", {2}}, {"c", {}}}},
        {"wide full-width letters keep their form and case",
         0,
         {{0x2341, 0, 0}, {0x2342, 2, 0}},
         {{"\x82\x60\x82\x61", {0}}, {"\x82\x60", {}}, {"ab", {}}}},
        {"characters 4 bytes apart get single keys",
         0,
         {{0x2422, 0, 0}, {0x2424, 4, 0}, {0x2426, 6, 0}},
         {{"\x82\xa0", {0}}, {"\x82\xa2\x82\xa4", {4}}}},
        {"spaces are gaps unless blanks are indexed",
         0,
         {{0x2341, 0, 1}, {0x2121, 2, 1}, {0x2342, 4, 1}, {0x2343, 6, 1}},
         {{"a", {0}}, {"a ", {}}, {"bc", {4}}}},
        {"blanks indexed",
         CEBFTS::FTS_BLANKS,
         {{0x2341, 0, 1}, {0x2121, 2, 1}, {0x2342, 4, 1}},
         {{"a ", {0}}, {" b", {2}}}},
        {"letters and digits only: punctuation is a gap",
         CEBFTS::FTS_LETTERS_AND_DIGITS,
         {{0x2361, 0, 1}, {0x2124, 2, 1}, {0x2362, 4, 1}, {0x2362, 6, 1}},
         {{"a", {0}}, {"a,", {}}, {"bb", {4}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CEBFTS fts;
        fts.beginKeys(c.options);
        for (const auto& ch : c.chars) fts.addChar(ch[0], ch[1] / 2048, ch[1] % 2048, ch[2] != 0);
        for (const auto& k : c.keys) EXPECT_EQ(fts.postingsOf(k.first), k.second) << k.first;
    }
}

TEST(FtsSearch, QueriesOverOneText) {
    for (int format : kFormats) {
        SCOPED_TRACE(format);
        BuiltIndex ix(sampleBook(), 0, format);
        struct Case {
            const char* name;
            std::u32string query;
            std::vector<uint32_t> found;
        };
        const Case cases[] = {
            {"ASCII in narrow text", U"ab", {4, 20}},
            {"upper-case query finds either case", U"AB", {4, 20}},
            {"one character finds single keys and pairs", U"b", {6, 22, 26}},
            {"full-width in wide text", U"\uFF43\uFF44", {10, 46}},
            {"three characters", U"\uFF43\uFF44\u3042", {46}},
            {"across a space", U"ab b", {20}},
            {"punctuation is indexed by default", U"b,c", {26}},
            {"an escape breaks adjacency", U"\uFF44\uFF45", {}},
            {"escape parameters are not text", U"abc", {}},
            {"full-width query misses narrow text", U"\uFF41\uFF42", {}},
            {"miss", U"zz", {}},
            {"character without Shift_JIS form", U"\U0001F600", {}},
            {"LIKE wildcard is a plain character", U"_", {56}},
            {"quote is bound, not pasted", U"'", {}},
            {"last character of the text is found", U"\u3042", {50, 60}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(positions(ix.fts, c.query), c.found);
        }
        // Headings: the last heading before the match; none: the match itself.
        std::vector<uint32_t> q = wide(U"\uFF43\uFF44");
        ASSERT_EQ(ix.fts.search(q.data(), 0), 2);
        EXPECT_EQ(ix.fts.hits()[0].headingBlock * 2048 + ix.fts.hits()[0].headingOffset, 0u);
        EXPECT_EQ(ix.fts.hits()[1].headingBlock * 2048 + ix.fts.hits()[1].headingOffset, 42u);
        EXPECT_EQ(positions(ix.fts, U"b", 2).size(), 2u);
    }
}

TEST(FtsSearch, HeadingBeforeAnyHeadingIsTheHitItself) {
    HandBook b;
    b.area(0x00, 2, 1);
    b.codes(2, 0, {0x2422, 0x2424, 0x1F41, 0x0001, 0x2426, 0x1F03});
    BuiltIndex ix(b);
    std::vector<uint32_t> q = wide(U"\u3042\u3044");
    ASSERT_EQ(ix.fts.search(q.data(), 0), 1);
    EXPECT_EQ(ix.fts.hits()[0].headingOffset, 0);
    q = wide(U"\u3046");
    ASSERT_EQ(ix.fts.search(q.data(), 0), 1);
    EXPECT_EQ(ix.fts.hits()[0].headingOffset, 4);
    EXPECT_EQ(ix.fts.hits()[0].textOffset, 8);
}

TEST(FtsSearch, ManyHitsTakeTheHeadingBeforeEach) {
    // Three entries (headings at 0, 124 and 248) of 30 "あい" pairs each.
    HandBook b;
    b.area(0x00, 2, 1);
    std::vector<uint8_t> text;
    for (int entry = 0; entry < 3; ++entry) {
        for (uint8_t c : {0x1F, 0x41, 0x00, 0x01}) text.push_back(c);
        for (int i = 0; i < 30; ++i)
            for (uint8_t c : {0x24, 0x22, 0x24, 0x24}) text.push_back(c);
    }
    text.push_back(0x1F);
    text.push_back(0x03);
    b.put(2, 0, text);
    for (int format : kFormats) {
        SCOPED_TRACE(format);
        BuiltIndex ix(b, 0, format);
        for (int max : {0, 5}) {
            std::vector<uint32_t> q = wide(U"\u3042\u3044");
            const int n = ix.fts.search(q.data(), max);
            ASSERT_EQ(n, max ? max : 90);
            for (int i = 0; i < n; ++i) {
                const HIT_ITEM& h = ix.fts.hits()[i];
                const uint32_t p = h.textBlock * 2048 + h.textOffset;
                EXPECT_EQ(p, (i / 30) * 124 + 4 + (i % 30) * 4);
                EXPECT_EQ(h.headingBlock * 2048 + h.headingOffset, (i / 30) * 124u) << i;
            }
        }
    }
}

TEST(FtsSearch, QueriesAreNormalisedAsTheIndexWas) {
    HandBook b;
    b.area(0x00, 2, 1);
    // narrow "a,b c"
    b.codes(2, 0, {0x1F04, 0x2361, 0x2124, 0x2362, 0x2121, 0x2363, 0x1F05, 0x1F03});
    for (int options : {0, int(CEBFTS::FTS_LETTERS_AND_DIGITS), int(CEBFTS::FTS_BLANKS)})
        for (int format : kFormats) {
            SCOPED_TRACE(options * 10 + format);
            BuiltIndex ix(b, options, format);
            EXPECT_EQ(ix.fts.options(), options);
            EXPECT_EQ(positions(ix.fts, U"a,b c"), std::vector<uint32_t>{2});
            EXPECT_EQ(positions(ix.fts, U"A,B"), std::vector<uint32_t>{2});
            EXPECT_EQ(positions(ix.fts, U"b c"), std::vector<uint32_t>{6});
        }
}

TEST(FtsSearch, LongQueries) {
    HandBook b;
    b.area(0x00, 2, 1);
    std::vector<uint8_t> text;
    std::u32string query;
    auto kanji = [](int i) { return static_cast<unsigned>(((0x30 + i / 94) << 8) | (0x21 + i % 94)); };
    for (int i = 0; i < 700; ++i) {
        unsigned c = kanji(i);
        text.push_back(static_cast<uint8_t>(c >> 8));
        text.push_back(static_cast<uint8_t>(c));
    }
    text.push_back(0x1F);
    text.push_back(0x03);
    b.put(2, 0, text);
    BuiltIndex ix(b);
    auto kanjiChar = [&](int i) { return static_cast<char32_t>(jisToUnicode(kanji(i))); };
    for (int i = 0; i < 511; ++i) query += kanjiChar(i);
    // 511 characters: 256 keys, the last overlapping.
    EXPECT_EQ(positions(ix.fts, query), std::vector<uint32_t>{0});
    query += kanjiChar(511);
    EXPECT_EQ(positions(ix.fts, query), std::vector<uint32_t>{0});
    query += kanjiChar(512);
    EXPECT_TRUE(positions(ix.fts, query).empty());  // over 512 characters
}

TEST(FtsBuild, FilesAndTheirSchema) {
    struct Case {
        int format;
        const char* magic;
        const char* keyTable;
        bool titleRows;  // headings in the database, else in fts.dat
    } cases[] = {{CEBFTS::FORMAT_PLAIN, "FTS4", "ngram_tbl", true},
                 {CEBFTS::FORMAT_COMPACT, "FTS5", "ngram_list", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.magic);
        BuiltIndex ix(sampleBook(), 0, c.format);
        EXPECT_EQ(ix.fts.format(), c.format);
        ix.fts.close();
        EXPECT_EQ(lftest::listDir(ix.dir.path()), (std::vector<std::string>{"HONMON", "fts.dat", "fts.db"}));
        lftest::Bytes dat = lftest::readFile(ix.dir.file("fts.dat"));
        ASSERT_GE(dat.size(), 16u);
        EXPECT_EQ(std::string(dat.begin(), dat.begin() + 4), c.magic);
        auto query = [&](const std::string& q) {
            std::string out = lftest::sqliteOutput(ix.dir.file("fts.db"), q + ";");
            while (!out.empty() && out.back() == '\n') out.pop_back();
            return out;
        };
        // The plain form's dbinfo is the first version's; the compact one
        // also records the postings' size and the key count.
        if (c.titleRows) {
            EXPECT_EQ(query("select sql from sqlite_master where name = 'dbinfo'"),
                      "CREATE TABLE dbinfo (\tver\tINTEGER,\tindexmask\tINTEGER)");
            EXPECT_EQ(query("select * from dbinfo"), "1|0");
            EXPECT_EQ(query("select * from datinfo"),
                      std::to_string(dat.size()) + "|" +
                          std::to_string(dat[4] | (dat[5] << 8) | (dat[6] << 16) | (dat[7] << 24)));
        } else {
            EXPECT_EQ(query("select * from dbinfo"),
                      std::to_string(c.format) + "|0|" + std::to_string(dat.size()) + "|" +
                          std::to_string(dat[4] | (dat[5] << 8) | (dat[6] << 16) | (dat[7] << 24)));
        }
        EXPECT_EQ(query(std::string("select count(*) from ") + c.keyTable), std::to_string(dat[4]));
        // The headings at 0 (text start) and 42 (heading escape).
        if (c.titleRows) {
            EXPECT_EQ(query("select group_concat(offs) from title_tbl"), "0,42");
        } else {
            EXPECT_EQ(lftest::Bytes(dat.begin() + 8, dat.begin() + 24),
                      (lftest::Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 42, 0, 0, 0}));
        }
        EXPECT_TRUE(CEBFTS::isComplete(ix.dir.path().c_str()));
        if (c.titleRows) {
            // An index of the first version's layout, without the sizes, is
            // read; its postings must still end where its last list ends.
            query("drop table datinfo");
            EXPECT_TRUE(CEBFTS::isComplete(ix.dir.path().c_str()));
            lftest::Bytes longer = dat;
            longer.push_back(0);
            lftest::writeFile(ix.dir.file("fts.dat"), longer);
            EXPECT_FALSE(CEBFTS::isComplete(ix.dir.path().c_str()));
            lftest::writeFile(ix.dir.file("fts.dat"), dat);
            EXPECT_TRUE(CEBFTS::isComplete(ix.dir.path().c_str()));
        }
        EXPECT_EQ(CEBFTS::removeFiles(ix.dir.path().c_str()), 0);
        EXPECT_FALSE(CEBFTS::isComplete(ix.dir.path().c_str()));
    }
}

TEST(FtsBuild, StretchesReadApartGiveTheSameIndex) {
    // Six blocks of text in which narrow runs, escapes with parameters,
    // odd-length escapes (which shift the codes to odd offsets) and pairs of
    // characters cross block boundaries. Read in stretches of one or two
    // blocks by several workers, the index must be byte for byte the one
    // read in one stretch.
    HandBook b;
    const int blocks = 6;
    b.area(0x00, 2, blocks);
    std::vector<uint8_t> text;
    uint64_t seed = 12345;
    auto next = [&](uint32_t n) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(seed >> 33) % n;
    };
    auto code = [&](unsigned c) {
        text.push_back(static_cast<uint8_t>(c >> 8));
        text.push_back(static_cast<uint8_t>(c));
    };
    while (text.size() < blocks * 2048 - 64) {
        const uint32_t k = next(100);
        if (k < 55) {
            code(0x2421 + next(4));  // kana from a small set: keys repeat
        } else if (k < 62) {
            code(0x2341 + next(6));  // full-width letters, folded in narrow text
        } else if (k < 70) {
            code(next(2) ? 0x1F04 : 0x1F05);
        } else if (k < 75) {
            code(0x1F41);
            code(0x0001);
        } else if (k < 79) {
            code(0x1F09);
            code(1 + next(2));
        } else if (k < 84) {
            code(0x1F4B);  // parameters that look like characters
            for (int i = 0; i < 3; ++i) code(0x2422);
        } else if (k < 87) {
            code(0x1F35);
            for (int i = 0, n = 4 + next(4); i < n; ++i) text.push_back(0x41);
            text.push_back(0x1F);
            text.push_back(0x00);
        } else if (k < 90) {
            code(0x1F14);
            for (int i = 0, n = next(3); i < n; ++i) code(0x1E00 + next(256));
        } else if (k < 95) {
            code(0x2121);
        } else {
            code(0x1F0A);
        }
    }
    b.put(2, 0, text);
    struct Build {
        unsigned workers;
        uint32_t chunk;
    } builds[] = {{1, 2048}, {3, 1}, {2, 2}, {8, 1}};
    for (int format : kFormats) {
        SCOPED_TRACE(format);
        lftest::Bytes reference;
        std::vector<uint32_t> referenceHits;
        for (const Build& run : builds) {
            SCOPED_TRACE(run.chunk * 100 + run.workers);
            lftest::TestDir dir;
            std::string path = b.write(dir.path(), "HONMON");
            CEBFTS fts;
            fts.setFormat(format);
            fts.setWorkers(run.workers);
            fts.setChunkBlocks(run.chunk);
            ASSERT_EQ(fts.build(path.c_str(), nullptr, 0), 0) << fts.lastError();
            lftest::Bytes dat = lftest::readFile(dir.file("fts.dat"));
            ASSERT_EQ(fts.open(dir.file("fts.db").c_str()), 0);
            std::vector<uint32_t> hits = positions(fts, U"\u3042\u3044");
            for (uint32_t p : positions(fts, U"ab")) hits.push_back(p);
            for (int i = 0; i < fts.hitCount(); ++i) hits.push_back(fts.hits()[i].headingOffset);
            if (reference.empty()) {
                reference = dat;
                referenceHits = hits;
                EXPECT_GT(hits.size(), 20u);
            } else {
                EXPECT_TRUE(dat == reference);
                EXPECT_EQ(hits, referenceHits);
            }
        }
    }
}

TEST(FtsBuild, FailuresLeaveNoIncompleteIndex) {
    struct Case {
        const char* name;
        HandBook book;
        bool cancel;
        const char* message;
    };
    HandBook shortFile;  // the body text claims three blocks, the file holds one
    shortFile.area(0x00, 2, 3).codes(2, 0, {0x2422, 0x2424});
    HandBook tooLarge;
    tooLarge.area(0x00, 2, CEBFTS::kMaxTextBlocks).codes(2, 0, {0x2422, 0x1F03});
    HandBook noBody;
    noBody.area(0x01, 2, 1).codes(2, 0, {0x2422, 0x1F03});
    const Case cases[] = {
        {"read error", shortFile, false, "read error"},
        {"too large", tooLarge, false, "too large"},
        {"no body text", noBody, false, "no body text"},
        {"cancelled", sampleBook(), true, "cancelled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool earlier : {false, true}) {
            lftest::TestDir dir;
            std::string text = c.book.write(dir.path(), "HONMON");
            std::string previous = sampleBook().write(dir.path(), "HONMON2");
            CEBFTS fts;
            if (earlier) {
                ASSERT_EQ(fts.build(previous.c_str(), nullptr, 0), 0);
            }
            lftest::Bytes before = lftest::readFile(dir.file("fts.dat"));
            if (c.cancel) fts.setCancelSource([](void*) { return true; }, nullptr);
            EXPECT_EQ(fts.build(text.c_str(), nullptr, 0), -1);
            EXPECT_NE(std::string(fts.lastError()).find(c.message), std::string::npos) << fts.lastError();
            // An index that was there stays whole; else there is none.
            EXPECT_EQ(CEBFTS::isComplete(dir.path().c_str()), earlier);
            EXPECT_EQ(lftest::readFile(dir.file("fts.dat")), before);
            EXPECT_FALSE(fileExists(dir.file("fts.db.tmp").c_str()));
            EXPECT_FALSE(fileExists(dir.file("fts.dat.tmp").c_str()));
        }
    }
}

TEST(FtsOpen, DamagedOrMissingFilesGiveNoHits) {
    typedef void (*Damage)(const lftest::TestDir& dir, int format);
    // The file offsets of the posting lists, from the database.
    static auto listOffsets = [](const lftest::TestDir& d, int format) {
        std::vector<size_t> out;
        std::string rows =
            lftest::sqliteOutput(d.file("fts.db"), format == CEBFTS::FORMAT_PLAIN ? "select offs from ngram_tbl;"
                                                                                  : "select offs from ngram_list;");
        for (size_t at = 0, end; (end = rows.find('\n', at)) != std::string::npos; at = end + 1)
            out.push_back(std::stoul(rows.substr(at, end - at)));
        return out;
    };
    static auto setKeyOffsets = [](const lftest::TestDir& d, int format, const char* expression) {
        lftest::sqliteOutput(d.file("fts.db"), std::string("update ") +
                                                   (format == CEBFTS::FORMAT_PLAIN ? "ngram_tbl" : "ngram_list") +
                                                   " set offs = " + expression + ";");
    };
    struct Case {
        const char* name;
        Damage damage;
        bool opens;
        bool onlyPairs = false;  // only the lists of more than one position are damaged
    };
    const Case cases[] = {
        {"missing fts.dat", [](const lftest::TestDir& d, int) { std::remove(d.file("fts.dat").c_str()); }, false},
        {"fts.dat of another size",
         [](const lftest::TestDir& d, int) {
             lftest::Bytes b = lftest::readFile(d.file("fts.dat"));
             b.push_back(0);
             lftest::writeFile(d.file("fts.dat"), b);
         },
         false},
        {"fts.dat of the other form",
         [](const lftest::TestDir& d, int format) {
             lftest::Bytes b = lftest::readFile(d.file("fts.dat"));
             b[3] = format == CEBFTS::FORMAT_PLAIN ? '5' : '4';
             lftest::writeFile(d.file("fts.dat"), b);
         },
         false},
        {"posting counts beyond the file",
         [](const lftest::TestDir& d, int format) {
             lftest::Bytes b = lftest::readFile(d.file("fts.dat"));
             for (size_t at : listOffsets(d, format)) {
                 // a count of 0x7Fxxxxxx, as a word or as a number
                 const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0x7F};
                 for (size_t i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = huge[i];
             }
             lftest::writeFile(d.file("fts.dat"), b);
         },
         true},
        {"positions that do not rise",
         [](const lftest::TestDir& d, int format) {
             lftest::Bytes b = lftest::readFile(d.file("fts.dat"));
             for (size_t at : listOffsets(d, format)) {
                 if (format == CEBFTS::FORMAT_PLAIN) {
                     if (b[at] >= 2) b[at + 8] = b[at + 4], b[at + 9] = b[at + 5], b[at + 10] = 0, b[at + 11] = 0;
                 } else if (b[at] >= 2) {
                     b[at + 3] = 0;  // the second position's distance (each number is one byte here)
                 }
             }
             lftest::writeFile(d.file("fts.dat"), b);
         },
         true, true},
        {"file offsets beyond 32 bits are not cut short",
         [](const lftest::TestDir& d, int format) { setKeyOffsets(d, format, "offs + 4294967296"); }, true},
        {"file offsets into the header", [](const lftest::TestDir& d, int format) { setKeyOffsets(d, format, "4"); },
         true},
        {"heading table beyond the file",
         [](const lftest::TestDir& d, int format) {
             if (format == CEBFTS::FORMAT_PLAIN) {
                 lftest::sqliteOutput(d.file("fts.db"), "drop table dbinfo;");
                 return;
             }
             lftest::Bytes b = lftest::readFile(d.file("fts.dat"));
             b[12] = 1;  // 2^32 + 2 headings
             lftest::writeFile(d.file("fts.dat"), b);
         },
         false},
        {"no dbinfo",
         [](const lftest::TestDir& d, int) { lftest::sqliteOutput(d.file("fts.db"), "drop table dbinfo;"); }, false},
    };
    for (int format : kFormats)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (format == CEBFTS::FORMAT_PLAIN ? " (plain)" : " (compact)"));
            lftest::TestDir dir;
            std::string text = sampleBook().write(dir.path(), "HONMON");
            CEBFTS fts;
            fts.setFormat(format);
            ASSERT_EQ(fts.build(text.c_str(), nullptr, 0), 0);
            c.damage(dir, format);
            EXPECT_EQ(fts.open(dir.file("fts.db").c_str()), c.opens ? 0 : -1);
            EXPECT_EQ(CEBFTS::isComplete(dir.path().c_str()), c.opens);
            for (const char32_t* q : {U"ab", U"b", U"\uFF43\uFF44\u3042"})
                if (!c.onlyPairs || q[1] == 'b') {
                    EXPECT_TRUE(positions(fts, q).empty()) << int(q[0]);
                }
            CEBReader reader;
            ASSERT_EQ(reader.open(text.c_str(), 1, 0), 1);
            EXPECT_EQ(reader.hasFullText(), c.opens);
            EXPECT_EQ(reader.fullTextSearch("ab", nullptr, nullptr, 0), 0);
        }
}

TEST(FtsReader, SearchGivesEntryHeadingsAndCombines) {
    lftest::TestDir dir;
    std::string text = sampleBook().write(dir.path(), "HONMON");
    CEBReader reader;
    ASSERT_EQ(reader.open(text.c_str(), 1, 0), 1);
    EXPECT_FALSE(reader.hasFullText());
    EXPECT_EQ(reader.fullTextSearch("ab", nullptr, nullptr, 0), 0);
    CEBFTS fts;
    ASSERT_EQ(fts.build(text.c_str(), dir.path().c_str(), 0), 0);
    EXPECT_TRUE(reader.hasFullText());
    // Three "b" in the first entry give one hit at its heading (block 2).
    ASSERT_EQ(reader.fullTextSearch("b", nullptr, nullptr, 0), 1);
    EXPECT_EQ(reader.hits().at(0)->textBlock, 2u);
    EXPECT_EQ(reader.hits().at(0)->textOffset, 0);
    reader.resetHits();
    ASSERT_EQ(reader.fullTextSearch("\x82\x83", nullptr, nullptr, 0), 2);  // full-width c
    EXPECT_EQ(reader.fullTextSearch("\x82\xa0", nullptr, nullptr, 1), 2);  // raises the second entry
    int raised = 0;
    for (int i = 0; i < reader.hitCount(); ++i) raised += reader.hits().at(i)->level == 1;
    EXPECT_EQ(raised, 1);
    reader.resetHits();
    reader.cancelSearch();
    EXPECT_EQ(reader.fullTextSearch("b", nullptr, nullptr, 0), 0);
}

namespace {

// A body text of entries, each a heading escape 1F41 0001 and its words:
// narrow ASCII (a space is the ideographic space 2121) or, for a character
// of U+3000 and above, its wide JIS code. Entry i begins at starts[i].
HandBook entriesBook(const std::vector<std::u32string>& entries, std::vector<uint32_t>* starts = nullptr) {
    std::vector<unsigned> codes;
    for (const std::u32string& e : entries) {
        if (starts) starts->push_back(static_cast<uint32_t>(2 * codes.size()));
        codes.push_back(0x1F41);
        codes.push_back(0x0001);
        bool narrow = false;
        for (char32_t c : e) {
            const bool ascii = c < 0x80;
            // A space keeps the mode it stands in.
            if (ascii != narrow && c != U' ') codes.push_back(ascii ? 0x1F04 : 0x1F05);
            if (c != U' ') narrow = ascii;
            if (c == U' ')
                codes.push_back(0x2121);
            else if (ascii)
                codes.push_back(jclib::sjisToJis(jclib::hankakuToZenkaku(static_cast<unsigned>(c))));
            else
                codes.push_back(jclib::sjisToJis(unicodeToSjis(static_cast<uint32_t>(c))));
        }
        if (narrow) codes.push_back(0x1F05);
        codes.push_back(0x1F0A);
    }
    codes.push_back(0x1F03);
    std::vector<uint8_t> bytes;
    for (unsigned c : codes) {
        bytes.push_back(static_cast<uint8_t>(c >> 8));
        bytes.push_back(static_cast<uint8_t>(c));
    }
    HandBook b;
    b.area(0x00, 2, static_cast<uint32_t>(bytes.size() / 2048 + 1));
    b.put(2, 0, bytes);
    return b;
}

// Entries (by index) whose text holds the query, a space standing for one
// blank: what a scan of the text finds. The line end after an entry is a
// blank too.
std::vector<size_t> scanEntries(const std::vector<std::u32string>& entries, std::u32string query) {
    for (char32_t& c : query)
        if (c >= U'A' && c <= U'Z') c += 0x20;
    std::vector<size_t> out;
    for (size_t i = 0; i < entries.size(); ++i) {
        std::u32string t = entries[i] + U" ";
        for (char32_t& c : t)
            if (c >= U'A' && c <= U'Z') c += 0x20;
        if (t.find(query) != std::u32string::npos) out.push_back(i);
    }
    return out;
}

}  // namespace

TEST(FtsSearch, ASpaceMatchesExactlyOneLeftOutPosition) {
    const std::vector<std::u32string> entries = {
        U"asterisk",   U"her son",   U"her  son",  U"hers on",  U"paper s",      U"the eris",      U"er",
        U"ever",       U"er sun",    U"a b c",     U"abc",      U"ab c",         U"a bc",          U"over",
        U"本の 虫",    U"本の虫",    U"日本 の虫", U"の 虫",    U"本 の 虫です", U"カメラ マン",   U"カメラマン",
        U"ice cream",  U"icecream",  U"ice  cream"};
    std::vector<uint32_t> starts;
    HandBook b = entriesBook(entries, &starts);
    const std::u32string queries[] = {U"er s",  U"r s",      U"er ", U"a b",   U"b c",   U"a b c",
                                      U"の 虫", U"本の 虫", U"本 の 虫", U"ラ マ", U"ice cream", U"e c", U"ice  cream",
                                      U"er"};
    for (int format : kFormats) {
        SCOPED_TRACE(format);
        BuiltIndex ix(b, 0, format);
        for (const std::u32string& q : queries) {
            std::vector<uint32_t> w = wide(q);
            const int n = ix.fts.searchEntries(w.data(), 0);
            std::vector<size_t> got;
            for (int i = 0; i < n; ++i) {
                const uint32_t h = ix.fts.hits()[i].headingBlock * 2048 + ix.fts.hits()[i].headingOffset;
                got.push_back(static_cast<size_t>(std::find(starts.begin(), starts.end(), h) - starts.begin()));
            }
            std::string shown;
            for (char32_t c : q) shown += c < 0x80 ? static_cast<char>(c) : '?';
            EXPECT_EQ(got, scanEntries(entries, q)) << "query \"" << shown << "\"";
        }
    }
}

TEST(FtsSearch, ACutSearchSaysSoAndCountsEntriesWhenAsked) {
    // 40 entries of three "e" each, and 10 without one.
    std::vector<std::u32string> entries;
    for (int i = 0; i < 40; ++i) entries.push_back(U"eye see");
    for (int i = 0; i < 10; ++i) entries.push_back(U"dog");
    HandBook b = entriesBook(entries);
    for (int format : kFormats) {
        SCOPED_TRACE(format);
        BuiltIndex ix(b, 0, format);
        struct Case {
            const char* name;
            bool entries;
            std::u32string query;
            int max;
            int hits;
            bool more;
        } cases[] = {
            {"positions, cut", false, U"e", 50, 50, true},
            {"positions, exactly all", false, U"e", 160, 160, false},
            {"positions, no limit", false, U"e", 0, 160, false},
            {"positions of a pair, cut", false, U"ee", 39, 39, true},
            {"positions of a pair, all", false, U"ee", 40, 40, false},
            {"entries, cut", true, U"e", 25, 25, true},
            {"entries, exactly all", true, U"e", 40, 40, false},
            {"entries, no limit", true, U"e", 0, 40, false},
            {"entries of a pair, cut", true, U"ye", 1, 1, true},
            {"entries, nothing", true, U"cat", 5, 0, false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            std::vector<uint32_t> w = wide(c.query);
            const int n = c.entries ? ix.fts.searchEntries(w.data(), c.max) : ix.fts.search(w.data(), c.max);
            EXPECT_EQ(n, c.hits);
            EXPECT_EQ(ix.fts.moreHits(), c.more);
            if (!c.entries) continue;
            for (int i = 1; i < n; ++i)
                EXPECT_NE(ix.fts.hits()[i].headingOffset + 2048u * ix.fts.hits()[i].headingBlock,
                          ix.fts.hits()[i - 1].headingOffset + 2048u * ix.fts.hits()[i - 1].headingBlock);
        }
    }

    // The book reader: its limit counts entries and a cut result says so.
    lftest::TestDir dir;
    const std::string text = b.write(dir.path(), "HONMON");
    CEBFTS fts;
    ASSERT_EQ(fts.build(text.c_str(), dir.path().c_str(), 0), 0);
    CEBReader reader;
    ASSERT_EQ(reader.open(text.c_str(), 1, 0), 1);
    for (int max : {10, 39, 40, 41, 1000}) {
        SCOPED_TRACE(max);
        reader.resetHits();
        reader.setMaxHits(max);
        EXPECT_EQ(reader.fullTextSearch("e", nullptr, nullptr, 0), std::min(max, 40));
        EXPECT_EQ(reader.hasMoreHits(), max < 40);
    }
    reader.resetHits();
    reader.setMaxHits(1000);
    reader.hits().setHitLimit50(true);
    EXPECT_EQ(reader.fullTextSearch("e", nullptr, nullptr, 0), 40);
    EXPECT_FALSE(reader.hasMoreHits());
}
