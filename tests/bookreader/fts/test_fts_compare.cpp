// Full-text search against a brute-force scan of the same book's decoded
// text: every character the decoder reports, with its position, and every
// other event (escapes, gaiji) as a break between characters. A query
// matches where its characters follow one another without a break, folded
// as the index folds them (narrow text to ASCII, ASCII capitals to small).
// The entries that hold a match are also checked against the EB Library's
// rendering of each entry. On a book of our builder and on a book made by
// FreePWING.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/fts/CEBFTS.h"
#include "foundation/codes/jclib.h"
#include "tests/bookreader/BookFixtures.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

struct DecodedChar {
    uint32_t pos;   // relative to the first body text block
    uint32_t form;  // Shift_JIS, folded as the index folds
    bool afterBreak;
};

std::vector<DecodedChar>* g_chars;
bool g_break = true;
uint32_t g_bodyStart = 0;

uint32_t folded(uint32_t sjis, bool narrow) {
    if (narrow && sjis >= 0x100 && sjis < 0x829F) {
        uint32_t h = jclib::zenkakuToHankaku(sjis);
        if (h < 0x100) sjis = h;
    }
    if (sjis >= 'A' && sjis <= 'Z') sjis += 0x20;
    return sjis;
}

void onChar(RENDER_CONTEXT& c, const MEDIA_ARGS*, int) {
    const uint32_t pos = (c.block - g_bodyStart) * 2048 + c.offset;
    if (!g_chars->empty() && pos <= g_chars->back().pos) return;  // the decoder's back-scan repeats a few
    g_chars->push_back({pos, folded(jclib::jisToSjis(c.param), c.narrow != 0), g_break});
    g_break = false;
}

void onEvent(RENDER_CONTEXT&, const MEDIA_ARGS*, int) {
    g_break = true;
}

// Every character of the body text, decoded entry after entry.
std::vector<DecodedChar> decodeBody(CEBReader& reader) {
    std::vector<DecodedChar> chars;
    g_chars = &chars;
    TAG_HOOKS hooks;
    for (TAG_HOOK& h : hooks.slot) h = onEvent;
    hooks.slot[SLOT_CHARACTER] = onChar;
    const READER_INDEX_INFO* body = reader.findIndex(0x00);
    if (!body) return chars;
    g_bodyStart = body->start;
    const uint32_t last = body->start + body->count - 1;
    uint32_t block = body->start, offset = 0;
    std::vector<char> out(1 << 16);
    for (int guard = 0; guard < 100000; ++guard) {
        if (!reader.seekBlock(block) || (offset && !reader.setOffset(static_cast<int>(offset)))) break;
        g_break = true;
        uint32_t len = 0;
        reader.decodeText(&hooks, out.data(), static_cast<uint32_t>(out.size()), &len, 0, 0);
        const uint64_t end = reader.lastTextEnd();
        uint32_t b = static_cast<uint32_t>(end >> 32), o = static_cast<uint32_t>(end & 0xFFFF) + 2;  // past 0x1F03
        if (o >= 2048) {
            ++b;
            o -= 2048;
        }
        if (end == 0 || b > last || (b == block && o <= offset) || b < block) break;
        block = b;
        offset = o;
    }
    g_chars = nullptr;
    return chars;
}

std::vector<uint32_t> bruteForce(const std::vector<DecodedChar>& text, const std::u32string& query) {
    std::vector<uint32_t> q;
    for (char32_t u : query) q.push_back(folded(unicodeToSjis(u), false));
    std::vector<uint32_t> found;
    for (size_t i = 0; i + q.size() <= text.size(); ++i) {
        size_t k = 0;
        for (; k < q.size(); ++k) {
            const DecodedChar& c = text[i + k];
            if (c.form != q[k] || (k && (c.afterBreak || c.pos != text[i + k - 1].pos + 2))) break;
        }
        if (k == q.size()) found.push_back(text[i].pos);
    }
    return found;
}

std::vector<uint32_t> indexed(CEBFTS& fts, const std::u32string& query) {
    std::vector<uint32_t> q(query.begin(), query.end());
    q.push_back(0);
    const int n = fts.search(q.data(), 0);
    std::vector<uint32_t> out;
    for (int i = 0; i < n; ++i) out.push_back(fts.hits()[i].textBlock * 2048 + fts.hits()[i].textOffset);
    return out;
}

struct Query {
    const char* name;
    std::u32string text;
    bool expectHits;
    const char* ebDiffers = nullptr;  // why the EB Library's entries differ, when they do
};

// Heading positions of the index, in order.
std::vector<uint32_t> headings(const std::string& dbPath) {
    std::vector<uint32_t> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "select offs from title_tbl order by offs", -1, &s, nullptr) == SQLITE_OK)
            while (sqlite3_step(s) == SQLITE_ROW) out.push_back(static_cast<uint32_t>(sqlite3_column_int64(s, 0)));
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return out;
}

// Whether Shift_JIS text holds key starting at a character boundary.
bool containsChars(const std::string& text, const std::string& key) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const int n = static_cast<int>(text.size());
    for (int i = 0; i < n; i += sjisCharLength(p + i, n - i))
        if (text.compare(static_cast<size_t>(i), key.size(), key) == 0) return true;
    return false;
}

// The query in Shift_JIS, ASCII capitals made small.
std::string sjisQuery(const std::u32string& q) {
    std::string out;
    for (char32_t u : q) {
        unsigned c = folded(unicodeToSjis(u), false);
        if (c > 0xFF) out += static_cast<char>(c >> 8);
        out += static_cast<char>(c & 0xFF);
    }
    return out;
}

void compare(const std::string& bookDir, const std::string& textFile, const std::vector<Query>& queries) {
    char dir[kPathSize];
    pathDirName(textFile.c_str(), dir);
    const std::string dbPath = std::string(dir) + "/fts.db";
    CEBReader reader;
    ASSERT_EQ(reader.open(textFile.c_str(), 1, 0), 1);
    const std::vector<DecodedChar> text = decodeBody(reader);
    lftest::EbProbe probe(bookDir);
    ASSERT_TRUE(probe.ok()) << probe.error();
    // Both forms of the index; the compact one read in one-block stretches,
    // so that keys and headings are gathered across many stretch joins.
    const struct {
        int format;
        uint32_t chunkBlocks;
    } builds[] = {{CEBFTS::FORMAT_PLAIN, 2048}, {CEBFTS::FORMAT_COMPACT, 1}};
    std::vector<std::pair<uint32_t, std::string>> ebEntries;
    for (const auto& b : builds) {
        SCOPED_TRACE(b.format);
        CEBFTS fts;
        fts.setFormat(b.format);
        fts.setChunkBlocks(b.chunkBlocks);
        ASSERT_EQ(fts.build(textFile.c_str(), nullptr, 0), 0) << fts.lastError();
        ASSERT_EQ(fts.open(dbPath.c_str()), 0) << fts.lastError();
        ASSERT_EQ(fts.format(), b.format);
        if (b.format == CEBFTS::FORMAT_PLAIN) {
            // The EB Library's text of each entry, from each heading of the index.
            for (uint32_t h : headings(dbPath)) {
                std::string t = probe.readRenderedText(0, h / 2048 + g_bodyStart, h % 2048);
                for (char& c : t)
                    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
                // A text start (0x1F02) and the heading just after it render
                // alike: the entry belongs to the later one, as the hits do.
                if (!ebEntries.empty() && ebEntries.back().second == t) ebEntries.pop_back();
                ebEntries.push_back({h, t});
            }
        }
        ASSERT_GE(ebEntries.size(), 3u);
        for (const Query& q : queries) {
            SCOPED_TRACE(q.name);
            const std::vector<uint32_t> expected = bruteForce(text, q.text);
            EXPECT_EQ(indexed(fts, q.text), expected);
            EXPECT_EQ(!expected.empty(), q.expectHits);
            if (q.ebDiffers) continue;
            std::set<uint32_t> ours, eb;
            for (int i = 0; i < fts.hitCount(); ++i)
                ours.insert(fts.hits()[i].headingBlock * 2048 + fts.hits()[i].headingOffset);
            const std::string key = sjisQuery(q.text);
            for (const auto& e : ebEntries)
                if (containsChars(e.second, key)) eb.insert(e.first);
            EXPECT_EQ(ours, eb) << "entries by the index, by the EB Library";
        }
    }
}

}  // namespace

TEST(FtsCompare, BuilderBookAgainstDecodedText) {
    lftest::TestDir dir;
    // PDIC two-line text in Shift_JIS: ASCII words, full-width letters, kana and kanji.
    lftest::writeFile(dir.file("src.txt"),
                      "apple\n"
                      "an edible fruit, Apple pie\n"
                      "\x82\xE8\x82\xF1\x82\xB2\n"
                      "\x97\xD1\x8C\xE7 \x82`\x82"
                      "a\x82"
                      "b \x90\xD4\x82\xA2\x82\xE8\x82\xF1\x82\xB2\n"
                      "zoo\n"
                      "place with animals, an apple tree\n");
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.sources.push_back({dir.file("src.txt"), "", 2});
    lftest::BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    compare(dir.path(), dir.path() + "/TEST/DATA/HONMON",
            {
                {"one ASCII character", U"a", true},
                {"two", U"ap", true},
                {"three", U"app", true},
                {"four, capitals", U"APPL", true},
                {"five", U"apple", true},
                {"across a space", U"t, a", true},
                {"kana", U"\u308A\u3093\u3054", true},
                {"kanji", U"\u6797", true},
                {"full-width letters in wide text", U"\uFF21\uFF22", true},
                {"ASCII query misses wide letters", U"abc", false},
                {"kanji and kana", U"\u8D64\u3044\u308A", true},
                {"miss", U"zzz", false},
                {"kana miss", U"\u306C\u306C", false},
            });
}

TEST(FtsCompare, FreePwingBookAgainstDecodedText) {
    lftest::TestDir dir;
    lftest::writeFile(dir.file("fpw.txt"), lftest::freepwingData());
    std::string printed;
    ASSERT_EQ(lftest::runCommand("bash '" LF_SOURCE_DIR "/tests/bookreader/freepwing/make_freepwing_book.sh' '" +
                                     dir.file("fpw") + "' '" + dir.file("fpw.txt") + "' 2>&1",
                                 &printed),
              0)
        << printed;
    compare(dir.file("fpw"), dir.file("fpw") + "/TEST/DATA/HONMON",
            {
                {"one character", U"e", true},
                {"two", U"an", true},
                {"across an emphasis escape", U"n ed", false, "rendered text has no breaks"},
                {"inside emphasis", U"edibl", true},
                {"bold", U"anim", true},
                {"subscript ends the run", U"h2o", false, "rendered text has no breaks"},
                {"kanji", U"\u6F22\u5B57", true},
                {"katakana", U"\u30AB\u30CA", true, "the EB Library renders this book's 0x252B as 0x254B"},
                {"miss", U"qq", false},
            });
}
