// The user dictionary against databases written and read by the sqlite3
// tool: searches compared with the same query run by the tool, our writes
// checked with .schema, PRAGMA integrity_check and plain selects.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dictformats/userdict/CSQLIO.h"
#include "tests/common/RealFiles.h"
#include "tests/common/SqliteShell.h"
#include "tests/common/TestDir.h"

using lftest::readFile;
using lftest::runSqlite;
using lftest::sqliteOutput;
using lftest::TestDir;

namespace {

std::string fixtureScript() {
    const std::vector<unsigned char> bytes = readFile(LF_SOURCE_DIR "/tests/dictformats/userdict/userdict_fixture.sql");
    return std::string(bytes.begin(), bytes.end());
}

// The fixture dictionary, with extra SQL run after it.
std::string makeFixture(const TestDir& dir, const std::string& extra = "") {
    const std::string path = dir.file("fixture.lfd");
    std::string out;
    EXPECT_EQ(0, runSqlite(path, fixtureScript() + extra, &out)) << out;
    return path;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The ids of the hits, sorted, one per line as the sqlite3 tool prints them.
std::string hitIds(const CSQLIO& d) {
    const USERDICT_HIT* list = nullptr;
    size_t count = 0;
    d.getResults(&list, &count);
    std::vector<uint64_t> ids;
    for (size_t i = 0; i < count; ++i) ids.push_back(list[i].id);
    std::sort(ids.begin(), ids.end());
    std::string out;
    for (uint64_t id : ids) out += std::to_string(id) + "\n";
    return out;
}

std::string hitHeadword(const CSQLIO& d, size_t i) {
    const USERDICT_HIT* list = nullptr;
    size_t count = 0;
    if (d.getResults(&list, &count) != 0 || i >= count) return "(none)";
    return std::string(d.getTextPool() + list[i].offset, list[i].length);
}

size_t lineCount(const std::string& s) {
    return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
}

// The hits of the last search (n of them) are the entries the sqlite3 tool
// selects by the condition where, and there are hits of them.
void expectSameAsSqlite(const CSQLIO& d, int n, const std::string& db, const char* where, size_t hits) {
    const std::string expected = sqliteOutput(db, std::string("select id from book where ") + where + " order by id;");
    EXPECT_EQ(expected, hitIds(d));
    EXPECT_EQ(hits, lineCount(expected));
    EXPECT_EQ(static_cast<int>(hits), n);
}

}  // namespace

// ---------------------------------------------------------------------------
// Searches, each compared with the same query run by the sqlite3 tool.

TEST(SqlioSearch, MatchesTheSameQueryRunBySqlite) {
    TestDir dir;
    const std::string db = makeFixture(dir);
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    struct Case {
        const char* word;
        int mode;
        const char* where;  // condition of the same query, quoted for SQL by hand
        size_t hits;
    } cases[] = {
        {"clock", 0, "keyword = 'clock' or kana = 'clock'", 1},
        {"CLOCK", 0, "keyword = 'CLOCK' or kana = 'CLOCK'", 1},
        {"o'clock", 0, "keyword = 'o''clock' or kana = 'o''clock'", 1},
        {"o'clock", 1, "keyword like 'o''clock%' or kana like 'o''clock%'", 1},
        {"100%", 0, "keyword = '100%' or kana = '100%'", 1},
        {"100%", 1, "keyword like '100\\%%' escape '\\' or kana like '100\\%%' escape '\\'", 1},
        {"100", 1, "keyword like '100%' or kana like '100%'", 2},
        {"a_b", 0, "keyword = 'a_b' or kana = 'a_b'", 1},
        {"a_b", 1, "keyword like 'a\\_b%' escape '\\' or kana like 'a\\_b%' escape '\\'", 1},
        {"A_", 1, "keyword like 'A\\_%' escape '\\' or kana like 'A\\_%' escape '\\'", 1},
        {"x' or '1'='1", 0, "keyword = 'x'' or ''1''=''1' or kana = 'x'' or ''1''=''1'", 1},
        {"x' or '1'='1", 1, "keyword like 'x'' or ''1''=''1%' or kana like 'x'' or ''1''=''1%'", 1},
        {"row(", 0, "keyword = 'row(' or kana = 'row('", 0},
        {"row(42)", 1, "keyword like 'row(42)%' or kana like 'row(42)%'", 0},
        {"", 1, "keyword like '%' or kana like '%'", 12},
        {"とうきょう", 1, "keyword like 'とうきょう%' or kana like 'とうきょう%'", 1},
        {"おおさかえき", 0, "keyword = 'おおさかえき' or kana = 'おおさかえき'", 1},
        // Suffixes: keys stored reversed by character, and 大阪駅 stored with
        // its bytes reversed (compared through hex, byte by byte).
        {"駅", 4,
         "id in (select id from altindex where attribute = 4 and (keyword like '駅%' or hex(keyword) like '85A7E9%'))",
         2},
        {"京駅", 4, "id in (select id from altindex where attribute = 4 and keyword like '駅京%')", 1},
        {"阪駅", 4, "id in (select id from altindex where attribute = 4 and hex(keyword) like '85A7E9AA98E9%')", 1},
        {"ING", 4, "id in (select id from altindex where attribute = 4 and keyword like 'gni%')", 1},
        {"o'clock", 4, "id in (select id from altindex where attribute = 4 and keyword like 'kcolc''o%')", 1},
        {"two", 16, "id in (select id from altindex where attribute = 16 and keyword like 'two%')", 1},
        {"t", 16, "id in (select id from altindex where attribute = 16 and keyword like 't%')", 1},
        {"two", 32, "id in (select id from altindex where attribute = 32 and keyword like 'two%')", 0},
        {"clock", 2, "0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.word) + " mode " + std::to_string(c.mode));
        uint32_t more = 7;
        const int n = d.search(c.word, c.mode, 0, &more);
        expectSameAsSqlite(d, n, db, c.where, c.hits);
        EXPECT_EQ(0u, more);
    }
}

TEST(SqlioSearch, AlternativeIndexServesExactAndPrefixSearches) {
    TestDir dir;
    // Entry 6 loses its whole-key row: with the alternative index in use it
    // is found by neither its keyword column nor its kana.
    const std::string db = makeFixture(dir,
                                       "update bookinfo set indexmask = 1;\n"
                                       "delete from altindex where id = 6 and attribute = 1;\n");
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    struct Case {
        const char* word;
        int mode;
        const char* where;
        size_t hits;
    } cases[] = {
        {"axb", 0, "id in (select id from altindex where keyword = 'axb' and attribute = 1)", 0},
        {"CLOCK", 0, "id in (select id from altindex where keyword = 'CLOCK' and attribute = 1)", 1},
        {"とうきょうえき", 0, "id in (select id from altindex where keyword = 'とうきょうえき' and attribute = 1)", 0},
        {"a", 1, "id in (select id from altindex where keyword like 'a%' and attribute = 1)", 1},
        {"100%", 1, "id in (select id from altindex where keyword like '100\\%%' escape '\\' and attribute = 1)", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        const int n = d.search(c.word, c.mode, 0, nullptr);
        expectSameAsSqlite(d, n, db, c.where, c.hits);
    }
}

TEST(SqlioSearch, MaximumSetsTheMoreFlagOnlyWhenRowsWereLeft) {
    TestDir dir;
    CSQLIO d;
    ASSERT_EQ(0, d.open(makeFixture(dir).c_str()));
    struct Case {
        int maximum;
        int hits;
        uint32_t more;
    } cases[] = {{1, 1, 1}, {2, 2, 0}, {3, 2, 0}, {0, 2, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maximum);
        uint32_t more = 9;
        EXPECT_EQ(c.hits, d.search("100", 1, c.maximum, &more));  // 100% and 1000
        EXPECT_EQ(static_cast<size_t>(c.hits), d.getResultCount());
        EXPECT_EQ(c.more, more);
    }
}

TEST(SqlioSearch, HitsCarryBookNumberAndHeadword) {
    TestDir dir;
    CSQLIO d;
    ASSERT_EQ(0, d.open(makeFixture(dir).c_str()));
    ASSERT_EQ(1, d.search("o'clock", 0, 0, nullptr));
    const USERDICT_HIT* list = nullptr;
    size_t count = 0;
    ASSERT_EQ(0, d.getResults(&list, &count));
    EXPECT_EQ(12345u, list[0].bookno);
    EXPECT_EQ(2u, list[0].id);
    EXPECT_EQ("o'clock", hitHeadword(d, 0));
    EXPECT_EQ(list[0].offset + list[0].length + 1, d.getTextPoolSize());

    // A search without hits leaves no list.
    EXPECT_EQ(0, d.search("nothing", 0, 0, nullptr));
    EXPECT_EQ(-1, d.getResults(&list, &count));
    EXPECT_EQ(0u, count);
}

TEST(SqlioSearch, LinkTargetsByRowNumberOrIdkey) {
    TestDir dir;
    const std::string db = makeFixture(dir);
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    struct Case {
        const char* target;
        const char* where;
        size_t hits;
    } cases[] = {
        {"row(42)", "id = 42", 1},
        {"row(", "idkey = 'row('", 1},
        {"row(42", "idkey = 'row(42'", 0},
        {"row(4x)", "idkey = 'row(4x)'", 0},
        {"answer", "idkey = 'answer'", 1},
        {"x' or '1'='1", "idkey = 'x'' or ''1''=''1'", 0},
        {"o'clock", "idkey = 'o''clock'", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const int n = d.searchLinkTarget(c.target);
        expectSameAsSqlite(d, n, db, c.where, c.hits);
    }
}

TEST(SqlioSearch, TextSearchEscapesAndHonoursCancelAndProgress) {
    TestDir dir;
    const std::string db = makeFixture(dir);
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    struct Case {
        const char* text;
        const char* where;
        size_t hits;
    } cases[] = {
        {"station", "meaning like '%station%' or headword like '%station%'", 2},
        {"0%", "meaning like '%0\\%%' escape '\\' or headword like '%0\\%%' escape '\\'", 1},
        {"_", "meaning like '%\\_%' escape '\\' or headword like '%\\_%' escape '\\'", 1},
        {"'1'", "meaning like '%''1''%' or headword like '%''1''%'", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const int n = d.searchText(c.text, 0, nullptr, nullptr, nullptr, nullptr);
        expectSameAsSqlite(d, n, db, c.where, c.hits);
    }

    // "the" is in three meanings; the progress sees each hit; a cancel flag
    // set by the callback stops after that hit and sets the more flag.
    struct Progress {
        std::vector<int> hits;
        std::atomic<uint16_t>* cancel;
        int cancelAt;
    };
    std::atomic<uint16_t> cancel{0};
    Progress p{{}, &cancel, 0};
    auto callback = [](void* data, int hits, int total, int done) {
        Progress* q = static_cast<Progress*>(data);
        EXPECT_EQ(0, total);
        EXPECT_EQ(0, done);
        q->hits.push_back(hits);
        if (hits == q->cancelAt) *q->cancel = 1;
    };
    uint32_t more = 5;
    EXPECT_EQ(3, d.searchText("the", 0, &more, &cancel, callback, &p));
    EXPECT_EQ((std::vector<int>{1, 2, 3}), p.hits);
    EXPECT_EQ(0u, more);

    p.hits.clear();
    p.cancelAt = 2;
    EXPECT_EQ(2, d.searchText("the", 0, &more, &cancel, callback, &p));
    EXPECT_EQ(1u, more);
}

// ---------------------------------------------------------------------------
// Reading entries, rows, links and extra rows.

TEST(SqlioRead, EntryWithLevelAndBoundedCopies) {
    TestDir dir;
    CSQLIO d;
    ASSERT_EQ(0, d.open(makeFixture(dir).c_str()));
    char headword[256], meaning[256], phonetic[256], keyword[256], kana[256], idkey[33], no[256];
    int level = -1;
    ASSERT_EQ(0, d.readEntry(9, headword, sizeof headword, meaning, sizeof meaning, phonetic, sizeof phonetic, keyword,
                             sizeof keyword, kana, sizeof kana, idkey, sizeof idkey, no, sizeof no, &level));
    EXPECT_STREQ("東京駅", headword);
    EXPECT_STREQ("Tokyo station", meaning);
    EXPECT_STREQ("とうきょうえき", kana);
    EXPECT_STREQ("tokyo", idkey);
    EXPECT_STREQ("9", no);
    EXPECT_EQ(2, level);

    // Small buffers: at most size - 1 bytes, whole characters, terminated;
    // the byte after the buffer stays untouched.
    struct Case {
        size_t size;
        const char* headword;
    } cases[] = {{1, ""}, {3, ""}, {4, "東"}, {7, "東京"}, {9, "東京"}, {10, "東京駅"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        ASSERT_EQ(0, d.readEntry(9, buffer, c.size, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                                 0, nullptr));
        EXPECT_STREQ(c.headword, buffer);
        EXPECT_EQ('#', buffer[c.size]);
    }

    EXPECT_EQ(-1, d.readEntry(999, headword, sizeof headword, meaning, sizeof meaning, phonetic, sizeof phonetic,
                              keyword, sizeof keyword, kana, sizeof kana, idkey, sizeof idkey, no, sizeof no, &level));
    EXPECT_STREQ("", headword);
    EXPECT_EQ(0, level);
}

TEST(SqlioRead, ResultsHitsAndRowsInKeywordOrder) {
    TestDir dir;
    CSQLIO d;
    const std::string db = makeFixture(dir);
    ASSERT_EQ(0, d.open(db.c_str()));
    ASSERT_EQ(1, d.search("forty", 1, 0, nullptr));
    int64_t id = 0;
    char headword[64];
    int level = 0;
    ASSERT_EQ(0, d.readResult(0, &id, headword, sizeof headword, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                              nullptr, 0, nullptr, 0, &level));
    EXPECT_EQ(42, id);
    EXPECT_STREQ("forty-two", headword);
    EXPECT_EQ(3, level);
    EXPECT_EQ(-1, d.readResult(1, &id, headword, sizeof headword, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                               nullptr, 0, nullptr, 0, &level));
    EXPECT_EQ(-1, d.readHit(nullptr, &id, headword, sizeof headword, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                            nullptr, 0, nullptr, 0, &level));

    ASSERT_EQ(0, d.rewind());
    std::string order;
    char keyword[64];
    while (d.nextRow(&id, nullptr, 0, nullptr, 0, nullptr, 0, keyword, sizeof keyword, nullptr, 0, nullptr, 0, nullptr,
                     0, &level) == 0)
        order += std::to_string(id) + " ";
    const std::string expected = sqliteOutput(db, "select id from book order by keyword;");
    std::string expectedLine;
    for (char c : expected) expectedLine += c == '\n' ? ' ' : c;
    EXPECT_EQ(expectedLine, order);
}

TEST(SqlioRead, LinksAndExtraRowsWalkInOrder) {
    TestDir dir;
    CSQLIO d;
    ASSERT_EQ(0, d.open(makeFixture(dir).c_str()));
    int attribute = 0, seq = 0;
    int64_t relid = 0, id = 0;
    char comment[8];
    std::memset(comment, '#', sizeof comment);
    // A comment longer than the buffer: size - 1 bytes and the terminator.
    ASSERT_EQ(0, d.nextLinkById(1, &attribute, &relid, &seq, comment, 5));
    EXPECT_EQ(128, attribute);
    EXPECT_EQ(42, relid);
    EXPECT_EQ(1, seq);
    EXPECT_STREQ("see ", comment);
    EXPECT_EQ('#', comment[5]);
    ASSERT_EQ(0, d.nextLinkById(0, &attribute, &relid, &seq, comment, sizeof comment));
    EXPECT_EQ(2, relid);
    EXPECT_STREQ("plain l", comment);
    EXPECT_EQ(-1, d.nextLinkById(0, &attribute, &relid, &seq, comment, sizeof comment));
    EXPECT_EQ(-1, d.nextLinkById(0, &attribute, &relid, &seq, comment, sizeof comment));

    ASSERT_EQ(0, d.nextLinkByRelid(1, &id, &attribute, &seq, comment, sizeof comment));
    EXPECT_EQ(2, id);
    EXPECT_EQ(-1, d.nextLinkByRelid(0, &id, &attribute, &seq, comment, sizeof comment));

    char no[4], body[32];
    ASSERT_EQ(0, d.nextAltInfo(1, &attribute, no, sizeof no, body, sizeof body));
    EXPECT_EQ(1, attribute);
    EXPECT_STREQ("1", no);
    EXPECT_STREQ("extra body", body);
    EXPECT_EQ(-1, d.nextAltInfo(0, &attribute, no, sizeof no, body, sizeof body));

    // Link targets of entry 1 (attribute 128 only), named by their comments.
    EXPECT_EQ(1, d.collectLinks(1));
    EXPECT_EQ("42\n", hitIds(d));
    EXPECT_EQ("see the answer", hitHeadword(d, 0));
}

TEST(SqlioRead, IdsBeyond32Bits) {
    TestDir dir;
    const int64_t big = 5000000000LL;
    CSQLIO d;
    ASSERT_EQ(0, d.open(makeFixture(dir,
                                    "insert into book(id,idkey,headword,keyword,level) "
                                    "values (5000000000,'big','big entry','big',7);\n"
                                    "insert into link values (1,128,5000000000,3,'to big');\n"
                                    "insert into link values (5000000000,0,1,1,'from big');\n")
                            .c_str()));
    char headword[32];
    int level = 0;
    ASSERT_EQ(0, d.readEntry(big, headword, sizeof headword, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                             nullptr, 0, &level));
    EXPECT_STREQ("big entry", headword);
    EXPECT_EQ(7, level);
    ASSERT_EQ(1, d.searchLinkTarget("row(5000000000)"));
    EXPECT_EQ("5000000000\n", hitIds(d));
    ASSERT_EQ(2, d.collectLinks(1));
    EXPECT_EQ("42\n5000000000\n", hitIds(d));
    int64_t id = 0, relid = 0;
    int attribute = 0, seq = 0;
    ASSERT_EQ(0, d.nextLinkByRelid(big, &id, &attribute, &seq, nullptr, 0));
    EXPECT_EQ(1, id);
    ASSERT_EQ(0, d.nextLinkById(big, &attribute, &relid, &seq, nullptr, 0));
    EXPECT_EQ(1, relid);

    int64_t newId = 0;
    ASSERT_EQ(0, d.addEntry("after big", "", "", "", "", "", "", 0, 1, &newId));
    EXPECT_EQ(big + 1, newId);
    ASSERT_EQ(0, d.addLink(newId, 0, big, 1, "64-bit"));
    d.close();
    EXPECT_EQ("5000000001|5000000000\n",
              sqliteOutput(dir.file("fixture.lfd"), "select id, relid from link where comment = '64-bit';"));
}

// ---------------------------------------------------------------------------
// Writing entries, checked by the sqlite3 tool.

TEST(SqlioWrite, AddedEntriesAndTheirIndexRows) {
    TestDir dir;
    const std::string db = dir.file("new.lfd");
    CSQLIO d;
    ASSERT_EQ(0, d.create(db.c_str(), nullptr));
    ASSERT_EQ(0, d.open(db.c_str()));
    ASSERT_EQ(0, d.begin());
    int64_t tokyo = 0, apple = 0, cat = 0, plain = 0;
    ASSERT_EQ(0, d.addEntry("東京駅", "station", "", "", "とうきょうえき", "tokyo", "1", 4, 1 | 4 | 16, &tokyo));
    ASSERT_EQ(0, d.addEntry("Green Apple", "fruit", "", "green apple", "", "", "", 0, 16, &apple));
    ASSERT_EQ(0, d.addEntry("The Cat", "animal", "", "", "", "", "", 0, 16, &cat));
    ASSERT_EQ(0, d.addEntry("o'clock", "time", "", "", "", "", "", 0, 1 | 4, &plain));
    ASSERT_EQ(0, d.commit());
    d.close();

    EXPECT_EQ("ok\n", sqliteOutput(db, "pragma integrity_check;"));
    struct Check {
        const char* query;
        const char* expected;
    } checks[] = {
        // The reversed keys are valid UTF-8, reversed by character.
        {"select keyword from altindex where attribute = 4 order by id;", "駅京東\nきえうょきうと\nkcolc'o\n"},
        {"select count(*) from altindex where attribute = 4 and keyword <> cast(cast(keyword as blob) as text);",
         "0\n"},
        {"select keyword from altindex where attribute = 16 order by id, keyword;",
         "とうきょうえき\n東京駅\napple\ngreen\nCat\n"},
        {"select headword, keyword, level from book order by id;",
         "東京駅|東京駅|4\nGreen Apple|green apple|0\nThe Cat|The Cat|0\no'clock|o'clock|0\n"},
    };
    for (const Check& c : checks) EXPECT_EQ(c.expected, sqliteOutput(db, c.query)) << c.query;

    ASSERT_EQ(0, d.open(db.c_str()));
    EXPECT_EQ(1, d.search("駅", 4, 0, nullptr));
    EXPECT_EQ(1, d.search("えき", 4, 0, nullptr));
    EXPECT_EQ(1, d.search("apple", 16, 0, nullptr));
    EXPECT_EQ(0, d.search("the", 16, 0, nullptr));
    EXPECT_EQ(1, d.search("O'CLOCK", 0, 0, nullptr));
    EXPECT_EQ(1, d.search("K", 4, 0, nullptr));
}

TEST(SqlioWrite, AlternativeIndexLeavesTheKeywordColumnEmpty) {
    TestDir dir;
    const std::string db = dir.file("mask.lfd");
    USERDICT_INFO info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.booktitle, "Masked");
    info.indexmask = 1;
    CSQLIO d;
    ASSERT_EQ(0, d.create(db.c_str(), &info));
    ASSERT_EQ(0, d.open(db.c_str()));
    int64_t id = 0;
    ASSERT_EQ(0, d.addEntry("word", "meaning", "", "word", "", "", "", 0, 1, &id));
    ASSERT_EQ(0, d.addEntry("other", "meaning", "", "", "", "", "", 0, 0, &id));
    EXPECT_EQ(1, d.search("WORD", 0, 0, nullptr));
    EXPECT_EQ(0, d.search("other", 0, 0, nullptr));
    d.close();
    EXPECT_EQ("|word\n|\n", sqliteOutput(db,
                                         "select b.keyword, a.keyword from book b left join altindex a "
                                         "on a.id = b.id order by b.id;"));
}

TEST(SqlioWrite, AltIndexWordsRefusesEmptyAndSkippedWords) {
    TestDir dir;
    const std::string db = makeFixture(dir);
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    struct Case {
        int attribute;
        const char* word;
        int result;
    } cases[] = {
        {16, nullptr, -1}, {16, "", -1}, {16, "The", -1}, {32, "A", -1}, {1, "the", 0}, {16, "them", 0}, {4, "ab駅", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, d.addAltIndexWords(6, c.attribute, "", c.word)) << c.word;
    d.close();
    EXPECT_EQ("1|axb\n1|the\n4|駅ba\n16|them\n",
              sqliteOutput(db, "select attribute, keyword from altindex where id = 6 order by attribute;"));
}

TEST(SqlioWrite, UpdateReplacesIndexRowsAndRefusesMissingEntries) {
    TestDir dir;
    const std::string db = makeFixture(dir);
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    ASSERT_EQ(0, d.updateEntry(11, "sprinting", "moving faster", "", "", "", "sprint", "11", 5, 1 | 4));
    EXPECT_EQ(-1, d.updateEntry(777, "ghost", "", "", "", "", "", "", 0, 1 | 4 | 16));
    EXPECT_EQ(1, d.search("ing", 4, 0, nullptr));
    EXPECT_EQ(0, d.search("running", 0, 0, nullptr));
    d.close();
    EXPECT_EQ("1|sprinting\n4|gnitnirps\n",
              sqliteOutput(db, "select attribute, keyword from altindex where id = 11 order by attribute;"));
    EXPECT_EQ("sprinting|sprinting|5\n", sqliteOutput(db, "select headword, keyword, level from book where id = 11;"));
    EXPECT_EQ("0\n0\n", sqliteOutput(db,
                                     "select count(*) from book where id = 777;"
                                     "select count(*) from altindex where id = 777;"));
}

TEST(SqlioWrite, DeleteRemovesEveryRowOfTheEntry) {
    TestDir dir;
    const std::string db = makeFixture(dir);
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    ASSERT_EQ(0, d.deleteEntry(1));
    d.close();
    EXPECT_EQ("0|0|0|0\n", sqliteOutput(db,
                                        "select (select count(*) from book where id = 1), "
                                        "(select count(*) from altindex where id = 1), "
                                        "(select count(*) from altinfo where id = 1), "
                                        "(select count(*) from link where id = 1 or relid = 1);"));
    // The other entries keep their rows.
    EXPECT_EQ("11\n", sqliteOutput(db, "select count(*) from book;"));
}

TEST(SqlioWrite, FailedInsertsAreReportedAndLeaveNothingBehind) {
    TestDir dir;
    // Triggers of the file refuse new index rows and new links.
    const std::string db = makeFixture(dir,
                                       "create trigger no_index before insert on altindex "
                                       "begin select raise(abort, 'refused'); end;\n"
                                       "create trigger no_link before insert on link "
                                       "begin select raise(abort, 'refused'); end;\n"
                                       "create trigger no_info before insert on altinfo "
                                       "begin select raise(abort, 'refused'); end;\n");
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    int64_t id = 99;
    EXPECT_EQ(-1, d.addEntry("new", "meaning", "", "", "", "", "", 0, 1, &id));
    EXPECT_EQ(0, id);
    // The same inside a transaction of the caller, which goes on.
    ASSERT_EQ(0, d.begin());
    EXPECT_EQ(-1, d.addEntry("new", "meaning", "", "", "", "", "", 0, 1, &id));
    EXPECT_EQ(0, d.addEntry("kept", "meaning", "", "", "", "", "", 0, 0, &id));
    ASSERT_EQ(0, d.commit());
    EXPECT_EQ(-1, d.updateEntry(1, "changed", "", "", "", "", "", "", 0, 1));
    EXPECT_EQ(-1, d.addLink(1, 128, 2, 9, "refused"));
    EXPECT_EQ(-1, d.addAltInfo(1, 1, "2", "refused"));
    // Without index flags nothing is refused.
    EXPECT_EQ(0, d.addEntry("plain", "meaning", "", "", "", "", "", 0, 0, &id));
    d.close();
    EXPECT_EQ("0|clock|3|1\n", sqliteOutput(db,
                                            "select (select count(*) from book where headword = 'new'), "
                                            "(select headword from book where id = 1), (select count(*) from link), "
                                            "(select count(*) from book where headword = 'kept');"));
}

TEST(SqlioWrite, TransactionsAndCloseCommitting) {
    TestDir dir;
    const std::string db = makeFixture(dir);
    CSQLIO d;
    EXPECT_EQ(-1, d.begin());
    ASSERT_EQ(0, d.open(db.c_str()));
    EXPECT_EQ(-1, d.commit());
    ASSERT_EQ(0, d.begin());
    EXPECT_EQ(-1, d.begin());
    int64_t id = 0;
    ASSERT_EQ(0, d.addEntry("pending", "", "", "", "", "", "", 0, 1, &id));
    // Close commits the open transaction.
    d.close();
    EXPECT_EQ("1\n", sqliteOutput(db, "select count(*) from book where headword = 'pending';"));
    ASSERT_EQ(0, d.open(db.c_str()));
    ASSERT_EQ(0, d.begin());
    ASSERT_EQ(0, d.commit());
    EXPECT_EQ(-1, d.commit());
}

// ---------------------------------------------------------------------------
// Creating, opening and book information.

TEST(SqlioCreate, SchemaMatchesAndFileIsSound) {
    TestDir dir;
    const std::string db = dir.file("new.lfd");
    CSQLIO d;
    ASSERT_EQ(0, d.create(db.c_str(), nullptr));
    EXPECT_FALSE(d.isOpen());
    EXPECT_EQ("ok\n", sqliteOutput(db, "pragma integrity_check;"));
    // The schema equals that of the fixture, which the sqlite3 tool made from
    // the statements as written.
    const std::string reference = dir.file("reference.lfd");
    const std::string script = fixtureScript();
    ASSERT_EQ(0, runSqlite(reference, script.substr(0, script.find("insert into book"))));
    const std::string schema = sqliteOutput(db, ".schema");
    EXPECT_EQ(sqliteOutput(reference, ".schema"), schema);
    EXPECT_NE(std::string::npos, schema.find("CREATE TABLE book (\tid\tINTEGER\tprimary key autoincrement,"));
    EXPECT_FALSE(exists(db + ".part"));

    ASSERT_EQ(0, d.open(db.c_str()));
    const USERDICT_INFO* info = d.getBookInfo();
    EXPECT_STREQ("(no title)", info->booktitle);
    EXPECT_GE(info->bookno, 1);  // 0 only with odds of 2^-31
    EXPECT_LE(info->bookno, 0x7FFFFFFF);
    char text[1024];
    d.formatInfo(text, sizeof text);
    EXPECT_NE(nullptr, std::strstr(text, "booktitle\t= (no title)\r\n"));
}

TEST(SqlioCreate, BookNumbersDifferBetweenDictionariesMadeTogether) {
    TestDir dir;
    std::vector<int64_t> numbers;
    for (int i = 0; i < 4; ++i) {
        const std::string db = dir.file("d" + std::to_string(i) + ".lfd");
        CSQLIO d;
        ASSERT_EQ(0, d.create(db.c_str(), nullptr));
        ASSERT_EQ(0, d.open(db.c_str()));
        numbers.push_back(d.getBookInfo()->bookno);
    }
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(numbers.end(), std::adjacent_find(numbers.begin(), numbers.end()));
}

TEST(SqlioCreate, BookInformationTextsAreStoredAsGiven) {
    TestDir dir;
    const std::string db = dir.file("quoted.lfd");
    USERDICT_INFO info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.booktitle, "O'Brien's \"Words\"");
    std::strcpy(info.publisher, "x', 1, 1, 1, 1, 1); drop table book; --");
    std::strcpy(info.isbn, "9784000000000");
    info.bookno = 0x123456789LL;
    info.contenttype = 3;
    CSQLIO d;
    ASSERT_EQ(0, d.create(db.c_str(), &info));
    EXPECT_EQ("O'Brien's \"Words\"|x', 1, 1, 1, 1, 1); drop table book; --|9784000000000|4886718345|3\n",
              sqliteOutput(db, "select booktitle, publisher, isbn, bookno, contenttype from bookinfo;"));

    ASSERT_EQ(0, d.open(db.c_str()));
    EXPECT_STREQ("O'Brien's \"Words\"", d.getBookInfo()->booktitle);
    USERDICT_INFO changed = *d.getBookInfo();
    std::strcpy(changed.booktitle, "It's new");
    changed.bookno = 0x7FFFFFFFFFLL;
    ASSERT_EQ(0, d.updateBookInfo(&changed));
    EXPECT_STREQ("It's new", d.getBookInfo()->booktitle);
    d.close();
    EXPECT_EQ("It's new|549755813887\n", sqliteOutput(db, "select booktitle, bookno from bookinfo;"));

    // A file that lost its bookinfo row gets one back.
    ASSERT_EQ(0, runSqlite(db, "delete from bookinfo;"));
    ASSERT_EQ(0, d.open(db.c_str()));
    EXPECT_STREQ("", d.getBookInfo()->booktitle);
    ASSERT_EQ(0, d.updateBookInfo(&changed));
    d.close();
    EXPECT_EQ("It's new\n", sqliteOutput(db, "select booktitle from bookinfo;"));
}

TEST(SqlioCreate, ReplacesAnExistingFileAndFailsCleanly) {
    TestDir dir;
    const std::string db = makeFixture(dir);
    CSQLIO d;
    ASSERT_EQ(0, d.create(db.c_str(), nullptr));
    EXPECT_EQ("0\n", sqliteOutput(db, "select count(*) from book;"));

    EXPECT_EQ(-1, d.create(dir.file("missing/dir/x.lfd").c_str(), nullptr));
    EXPECT_FALSE(exists(dir.file("missing")));
    // A folder in the way: the create fails and leaves no scratch file.
    ASSERT_EQ(0, mkdir(dir.file("taken.lfd").c_str(), 0755));
    EXPECT_EQ(-1, d.create(dir.file("taken.lfd").c_str(), nullptr));
    EXPECT_FALSE(exists(dir.file("taken.lfd.part")));
}

TEST(SqlioOpen, RefusesWhatIsNotAUserDictionary) {
    TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("text.lfd"), std::string("just some text, not a database\n")));
    ASSERT_EQ(0, runSqlite(dir.file("other.lfd"), "create table book (id integer);"));
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"missing file", dir.file("missing.lfd")},
        {"text file", dir.file("text.lfd")},
        {"other database", dir.file("other.lfd")},
        {"folder", dir.path()},
    };
    for (const Case& c : cases) {
        CSQLIO d;
        EXPECT_EQ(-1, d.open(c.path.c_str())) << c.name;
        EXPECT_FALSE(d.isOpen()) << c.name;
    }
    // Opening a missing path does not create it.
    EXPECT_FALSE(exists(dir.file("missing.lfd")));

    CSQLIO d;
    const std::string db = makeFixture(dir);
    ASSERT_EQ(0, d.open(db.c_str()));
    EXPECT_EQ(-1, d.open(db.c_str()));
    EXPECT_EQ(0, d.reopen(db.c_str()));
    EXPECT_STREQ("Fixture Dictionary", d.getBookInfo()->booktitle);
    d.close();
    EXPECT_EQ(-1, d.reopen(db.c_str()));
}

TEST(SqlioOpen, SchemaOfTheFileIsNotTrusted) {
    TestDir dir;
    // The bookinfo of this file is a view over a virtual table: an untrusted
    // schema may not use it, so the title stays empty and nothing else fails.
    const std::string db = makeFixture(dir,
                                       "drop table bookinfo;\n"
                                       "create virtual table secret using fts4(title);\n"
                                       "insert into secret values ('From a virtual table');\n"
                                       "create view bookinfo(isbn,ccode,booktitle,booksubtitle,edition,seriestitle,"
                                       "bookauthor,pubdate,publisher,bookcode,filename,compression,crypt,bookno,"
                                       "indexmask,contenttype) as select '','',title,'','','','','','','','',"
                                       "0,0,0,0,0 from secret;\n");
    ASSERT_EQ("From a virtual table\n", sqliteOutput(db, "select booktitle from bookinfo;"));
    CSQLIO d;
    ASSERT_EQ(0, d.open(db.c_str()));
    EXPECT_STREQ("", d.getBookInfo()->booktitle);
    EXPECT_EQ(1, d.search("clock", 0, 0, nullptr));
}

TEST(SqlioClosed, OperationsFailWithoutAnOpenFile) {
    CSQLIO d;
    int64_t id = 5;
    uint32_t more = 3;
    char buffer[8] = "x";
    EXPECT_EQ(0, d.search("clock", 0, 0, &more));
    EXPECT_EQ(0u, more);
    EXPECT_EQ(-1, d.searchText("clock", 0, &more, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, d.searchLinkTarget("row(1)"));
    EXPECT_EQ(-1, d.collectLinks(1));
    EXPECT_EQ(-1, d.readEntry(1, buffer, sizeof buffer, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                              nullptr, 0, nullptr));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(-1, d.rewind());
    EXPECT_EQ(-1, d.addEntry("w", "", "", "", "", "", "", 0, 1, &id));
    EXPECT_EQ(-1, d.updateEntry(1, "w", "", "", "", "", "", "", 0, 1));
    EXPECT_EQ(-1, d.deleteEntry(1));
    EXPECT_EQ(-1, d.addLink(1, 0, 2, 1, ""));
    EXPECT_EQ(-1, d.nextLinkById(1, nullptr, nullptr, nullptr, buffer, sizeof buffer));
    EXPECT_EQ(-1, d.updateBookInfo(d.getBookInfo()));
    EXPECT_EQ(-1, d.addAltIndexWords(1, 1, "", "w"));
}

// ---------------------------------------------------------------------------
// The information text.

TEST(SqlioInfo, LinesByContentTypeAndBoundedOutput) {
    CSQLIO d;
    USERDICT_INFO* info = d.getBookInfo();
    std::strcpy(info->booktitle, "Title");
    info->compression = 1;
    info->crypt = 2;
    struct Case {
        int64_t type;
        const char* last;
    } cases[] = {
        {0, "contenttype\t= Plain-Text\r\n"},
        {1, "contenttype\t= HTML\r\n"},
        {2, "contenttype\t= XML\r\n"},
        {3, "contenttype\t= dsl\r\n"},
        {4, "contenttype\t= dsl index\r\n"},
        {9, "crypt\t\t= 2\r\n"},
        {-1, "crypt\t\t= 2\r\n"},
    };
    for (const Case& c : cases) {
        info->contenttype = c.type;
        char text[2048];
        const size_t n = d.formatInfo(text, sizeof text);
        const std::string s(text);
        EXPECT_EQ(n, s.size());
        EXPECT_EQ(0u, s.find("[User Dictionary]\r\nengine\t\t= SQLite3\r\nbooktitle\t= Title\r\n"));
        ASSERT_GE(s.size(), std::strlen(c.last));
        EXPECT_EQ(c.last, s.substr(s.size() - std::strlen(c.last))) << c.type;
    }

    // Long fields in a small output: whole lines only, never past the end;
    // a title filled to its end without a terminator is read no further.
    std::memset(info->booktitle, 'T', sizeof info->booktitle);
    std::memset(info->booksubtitle, 'S', 255);
    info->booksubtitle[255] = '\0';
    for (size_t size : {0u, 100u, 300u, 320u, 600u}) {
        std::vector<char> out(size + 16, '#');
        const size_t n = d.formatInfo(out.data(), size);
        if (size == 0) continue;
        EXPECT_EQ(n, std::strlen(out.data())) << size;
        EXPECT_LT(n, size);
        EXPECT_EQ('#', out[size]) << size;
        EXPECT_TRUE(n == 0 || std::string(out.data(), n).substr(n - 2) == "\r\n") << size;
    }
    char text[2048];
    d.formatInfo(text, sizeof text);
    EXPECT_NE(nullptr, std::strstr(text, ("booktitle\t= " + std::string(256, 'T') + "\r\nbooksubtitle").c_str()));
}

// A user dictionary of a few thousand real words (every 30th word of
// Debian's American English list) made through the library: every word
// looked up exactly, by prefix and by suffix, each search against the same
// query run by the sqlite3 tool (all queries in one run).
TEST(SqlioSearch, EveryWordOfARealListMatchesTheSqliteTool) {
    LF_REQUIRE_REAL_FILE(lftest::kWordList);
    const std::vector<std::string> words = lftest::wordListSample(30);
    ASSERT_GT(words.size(), 3000u);
    TestDir dir;
    const std::string db = dir.file("words.lfd");
    CSQLIO d;
    ASSERT_EQ(0, d.create(db.c_str(), nullptr));
    ASSERT_EQ(0, d.open(db.c_str()));
    ASSERT_EQ(0, d.begin());
    for (const std::string& w : words) {
        int64_t id = 0;
        ASSERT_EQ(0, d.addEntry(w.c_str(), ("meaning of " + w).c_str(), "", "", "", "", "", 0, 1 | 4, &id)) << w;
    }
    ASSERT_EQ(0, d.commit());

    // SQL text of a word: quotes doubled; for like, % _ and \ escaped too.
    auto quoted = [](const std::string& w, bool like) {
        std::string out;
        for (char c : w) {
            if (c == '\'') out += '\'';
            if (like && (c == '%' || c == '_' || c == '\\')) out += '\\';
            out += c;
        }
        return out;
    };
    auto reversed = [](const std::string& w) {  // by UTF-8 character
        std::vector<std::string> chars;
        for (size_t i = 0; i < w.size();) {
            size_t n = 1;
            while (i + n < w.size() && (static_cast<unsigned char>(w[i + n]) & 0xC0) == 0x80) ++n;
            chars.push_back(w.substr(i, n));
            i += n;
        }
        std::string out;
        for (auto it = chars.rbegin(); it != chars.rend(); ++it) out += *it;
        return out;
    };
    const int modes[] = {0, 1, 4};
    std::string script;
    std::vector<std::string> ours;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        const std::string conditions[] = {
            "keyword = '" + quoted(w, false) + "' or kana = '" + quoted(w, false) + "'",
            "keyword like '" + quoted(w, true) + "%' escape '\\' or kana like '" + quoted(w, true) + "%' escape '\\'",
            "id in (select id from altindex where attribute = 4 and keyword like '" + quoted(reversed(w), true) +
                "%' escape '\\')",
        };
        for (int m = 0; m < 3; ++m) {
            const std::string tag = std::to_string(i) + "/" + std::to_string(modes[m]);
            script += "select '" + tag + "', group_concat(id, ',') from (select id from book where " + conditions[m] +
                      " order by id);\n";
            d.search(w.c_str(), modes[m], 0, nullptr);
            std::string ids = hitIds(d);
            std::replace(ids.begin(), ids.end(), '\n', ',');
            if (!ids.empty()) ids.pop_back();
            ours.push_back(tag + "|" + ids);
        }
    }
    d.close();
    const std::string theirs = sqliteOutput(db, script);
    std::vector<std::string> lines;
    size_t hits = 0;
    for (size_t a = 0, b; a < theirs.size(); a = b + 1) {
        b = theirs.find('\n', a);
        if (b == std::string::npos) b = theirs.size();
        lines.push_back(theirs.substr(a, b - a));
        if (lines.back().back() != '|')
            hits += static_cast<size_t>(std::count(lines.back().begin(), lines.back().end(), ',')) + 1;
    }
    ASSERT_EQ(ours.size(), lines.size()) << theirs.substr(0, 300);
    for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(lines[i], ours[i]) << words[i / 3];
    std::printf("%zu words, %zu searches, %zu hits equal to the sqlite3 tool's\n", words.size(), ours.size(), hits);
}
