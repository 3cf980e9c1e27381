// CPDicReader over small dictionaries made by the test-side writer
// (tests/common/PdicWriter), which is pinned to the worked byte example of
// the format notes below.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/pdic/CPDicReader.h"
#include "tests/common/FifoOpen.h"
#include "tests/common/PdicWriter.h"
#include "tests/common/TestDir.h"

using lftest::PdicBlock;
using lftest::PdicEntry;
using lftest::PdicLayout;
using lftest::PdicOptions;

namespace {

std::vector<uint32_t> wide(const std::u32string& s) {
    std::vector<uint32_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

std::u32string str(const uint32_t* s) {
    std::u32string r;
    while (*s) r.push_back(static_cast<char32_t>(*s++));
    return r;
}

std::string utf8(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// One entry as read back.
struct Read {
    std::u32string word, meaning, example, pron;
    int level = -1;
};

// Field buffers of the sizes the book reader uses.
struct Buffers {
    std::vector<uint32_t> word = std::vector<uint32_t>(1025);
    std::vector<uint32_t> meaning = std::vector<uint32_t>(128001);
    std::vector<uint32_t> example = std::vector<uint32_t>(128001);
    std::vector<uint32_t> pron = std::vector<uint32_t>(1001);
    int level = -1;
    Read get() const { return {str(word.data()), str(meaning.data()), str(example.data()), str(pron.data()), level}; }
};

int next(CPDicReader& r, Buffers& b, const uint16_t* table = nullptr, int flag = 0) {
    return r.nextEntry(b.word.data(), 1025, b.meaning.data(), 128001, b.example.data(), 128001, b.pron.data(), 1001,
                       &b.level, table, flag);
}

// Walks the whole dictionary from index entry 0: the words read, with "!"
// standing for each damaged block reported on the way.
std::vector<std::u32string> walk(CPDicReader& r) {
    std::vector<std::u32string> out;
    Buffers b;
    if (r.seekIndex(0) != 0) out.push_back(U"!");
    for (int guard = 0; guard < 10000; ++guard) {
        const int rc = next(r, b);
        if (rc == 1) break;
        out.push_back(rc == 0 ? b.get().word : U"!");
    }
    return out;
}

std::vector<std::u32string> wordsOf(const std::vector<PdicBlock>& blocks) {
    std::vector<std::u32string> out;
    for (const PdicBlock& b : blocks)
        for (const PdicEntry& e : b.entries)
            if (e.attrOverride != 0xFF) out.push_back(e.word);
    return out;
}

// A dictionary file in a temp directory.
class PdicFile {
public:
    explicit PdicFile(const std::vector<uint8_t>& bytes) : m_path(m_dir.file("test.dic")) {
        EXPECT_TRUE(lftest::writeFile(m_path, bytes));
    }
    const char* path() const { return m_path.c_str(); }

private:
    lftest::TestDir m_dir;
    std::string m_path;
};

PdicEntry entry(const std::u32string& word, const std::u32string& meaning) {
    PdicEntry e;
    e.word = word;
    e.meaning = meaning;
    return e;
}

// ---------------------------------------------------------------------------
// The worked example: three entries in two logical blocks of a 4096-byte
// version-6 file.

std::vector<uint8_t> workedExampleBytes() {
    std::vector<uint8_t> f(4096, 0);
    auto put = [&](size_t at, std::initializer_list<uint8_t> b) { std::copy(b.begin(), b.end(), f.begin() + at); };
    put(140, {0x0A, 0x06,                // version 6.10
              0x00, 0x04,                // lword 1024
              0x00, 0x00,                // ljapa
              0x00, 0x04,                // block_size 1024
              0x01, 0x00,                // index_block 1
              0x00, 0x04});              // header_size 1024
    put(154, {0xFF, 0xFF});              // empty_block (unused)
    put(160, {0x03, 0x00, 0x00, 0x00});  // nword 3
    put(164, {0x00,                      // dicorder: code order
              0x08,                      // dictype: BOCU-1
              0x01,                      // attrlen
              0x20});                    // os: BOCU-1
    put(182, {0x00});                    // 16-bit block numbers in the index
    put(184, {0x00, 0x00, 0x00, 0x00,    // extheader
              0xFF, 0xFF, 0xFF, 0xFF,    // empty_block2: none
              0x02, 0x00, 0x00, 0x00,    // nindex2
              0x02, 0x00, 0x00, 0x00});  // nblock2
    // Index area: block number, first headword, NUL; then the end marker.
    put(1024, {0x00, 0x00, 0xB1, 0xC0, 0xC0, 0xBC, 0xB5, 0x09, 0x91, 0xC0, 0xC0, 0xBC, 0xB5, 0x00,  // 0 apple\tApple
               0x01, 0x00, 0xCA, 0xBF, 0xBF, 0x09, 0xCA, 0xBF, 0xBF, 0x00,                          // 1 zoo\tzoo
               0x00, 0x00, 0x00, 0x00});
    // Physical block 0.
    put(2048, {0x01, 0x00,                                                              // count 1, u16 lengths
               0x11, 0x00, 0x00, 0x00,                                                  // L 17, c 0, attribute 0
               0xB1, 0xC0, 0xC0, 0xBC, 0xB5, 0x09, 0x91, 0xC0, 0xC0, 0xBC, 0xB5, 0x00,  // apple\tApple
               0xFB, 0x11, 0xA1, 0xB3, 0x74,                                            // りんご (no NUL)
               0x2F, 0x00, 0x04, 0x13,                                      // L 47, c 4 ("appl"), extended + level 3
               0xC9, 0x09, 0xB1, 0xC0, 0xC0, 0xBC, 0xC9, 0x00,              // y\tapply
               0xFB, 0x79, 0xA1, 0x4E, 0x4A, 0x24, 0xE0, 0xC6, 0xAB, 0x00,  // 適用する
               0x01, 0xB1, 0xC0, 0xC0, 0xBC, 0xC9, 0x20, 0xB6, 0xBF, 0xC2, 0x20, 0xB1,  // example
               0x20, 0xBA, 0xBF, 0xB2, 0x00,                                            //  "apply for a job"
               0x02, 0xD1, 0xF3, 0x4E, 0x63, 0xBC, 0xD0, 0x6E, 0x4F, 0xE9, 0x00,        // pronunciation
               0x80,                                                                    // end of records
               0x00, 0x00});                                                            // terminator
    // Physical block 1.
    put(3072, {0x01, 0x00, 0x0F, 0x00, 0x00, 0x00, 0xCA, 0xBF, 0xBF, 0x09, 0xCA, 0xBF, 0xBF, 0x00,  // zoo\tzoo
               0xFB, 0x38, 0xC0, 0x4B, 0x64, 0x2E, 0x94,                                            // 動物園
               0x00, 0x00});
    return f;
}

TEST(PdicWriter, MatchesWorkedByteExample) {
    const std::vector<uint8_t> expected = workedExampleBytes();
    const std::vector<uint8_t> built = lftest::buildPdic(PdicOptions(), lftest::pdicWorkedExampleBlocks());
    ASSERT_EQ(built.size(), expected.size());
    // The banner (bytes 0..99) is informational; everything else must match.
    EXPECT_TRUE(std::equal(built.begin() + 100, built.end(), expected.begin() + 100));
}

TEST(PdicReader, ReadsWorkedByteExample) {
    PdicFile file(workedExampleBytes());
    CPDicReader r;
    EXPECT_EQ(r.currentIndex(), -1);
    ASSERT_EQ(r.open(file.path()), 0);
    EXPECT_EQ(r.majorVersion(), 6);
    EXPECT_EQ(r.indexCount(), 2);
    EXPECT_EQ(r.wordCount(), 3u);
    EXPECT_EQ(r.currentIndex(), -1);
    EXPECT_EQ(r.dataCursor(), -1);
    EXPECT_EQ(r.currentBlock(), -1);

    ASSERT_EQ(r.seekIndex(0), 0);
    EXPECT_EQ(r.currentIndex(), 0);
    EXPECT_EQ(r.dataCursor(), 2);
    EXPECT_EQ(r.currentBlock(), 0);
    Buffers b;
    ASSERT_EQ(next(r, b), 0);
    Read e = b.get();
    EXPECT_EQ(e.word, U"apple\tApple");
    EXPECT_EQ(e.meaning, U"りんご");
    EXPECT_EQ(e.example, U"");
    EXPECT_EQ(e.pron, U"");
    EXPECT_EQ(e.level, 0);
    EXPECT_EQ(r.dataCursor(), 2 + 4 + 17);

    ASSERT_EQ(next(r, b), 0);
    e = b.get();
    EXPECT_EQ(e.word, U"apply\tapply");
    EXPECT_EQ(e.meaning, U"適用する");
    EXPECT_EQ(e.example, U"apply for a job");
    EXPECT_EQ(e.pron, U"əplái");
    EXPECT_EQ(e.level, 3);

    ASSERT_EQ(next(r, b), 0);
    e = b.get();
    EXPECT_EQ(e.word, U"zoo\tzoo");
    EXPECT_EQ(e.meaning, U"動物園");
    EXPECT_EQ(r.currentIndex(), 1);
    EXPECT_EQ(r.currentBlock(), 1);
    EXPECT_EQ(next(r, b), 1);
    EXPECT_EQ(next(r, b), 1);

    EXPECT_EQ(r.seekIndex(2), -1);
    EXPECT_EQ(r.seekIndex(-1), -1);
}

// The index entry count of the header bounds the index, and the index's end
// marker bounds a count that claims too many.
TEST(PdicReader, IndexCountFromHeaderAndEndMarker) {
    struct Case {
        const char* name;
        uint8_t count;
        int entries;
        std::vector<std::u32string> walk;
    } cases[] = {
        {"count below the entries", 1, 1, {U"apple\tApple", U"apply\tapply"}},
        {"count above the entries", 200, 2, {U"apple\tApple", U"apply\tapply", U"zoo\tzoo"}},
        {"no entries", 0, 0, {U"!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> f = workedExampleBytes();
        f[192] = c.count;  // nindex2
        PdicFile file(f);
        CPDicReader r;
        ASSERT_EQ(r.open(file.path()), 0);
        EXPECT_EQ(r.indexCount(), c.entries);
        EXPECT_EQ(walk(r), c.walk);
    }
}

// ---------------------------------------------------------------------------
// File layouts: each case is one fixture and the words a walk must give.

struct LayoutCase {
    const char* name;
    PdicOptions options;
    std::vector<PdicBlock> blocks;
    int major;
};

std::vector<LayoutCase> layoutCases() {
    std::vector<LayoutCase> cases;
    {
        LayoutCase c{"version 5 with 256-byte header and blocks", PdicOptions(), lftest::pdicWorkedExampleBlocks(), 5};
        c.options.major = 5;
        c.options.minor = 0;
        for (PdicBlock& b : c.blocks)  // no keys before version 6
            for (PdicEntry& e : b.entries) e.word = e.word.substr(0, e.word.find(U'\t'));
        cases.push_back(c);
    }
    {
        // A meaning of 1500 bytes makes block 1 span two physical blocks;
        // blocks are stored in the order 2, 0, 1 with a free block before 0.
        LayoutCase c{"shuffled blocks, two-block span, free block", PdicOptions(), {}, 6};
        PdicBlock b0, b1, b2;
        b0.entries = {entry(U"a\ta", U"1"), entry(U"b\tb", U"2")};
        b1.entries = {entry(U"c\tc", std::u32string(1500, U'x')), entry(U"d\td", U"4")};
        b2.entries = {entry(U"e\te", U"5")};
        c.blocks = {b0, b1, b2};
        c.options.physicalOrder = {2, 0, 1};
        c.options.freeBefore = {1};
        cases.push_back(c);
    }
    {
        LayoutCase c{"32-bit block numbers and an extended header", PdicOptions(), lftest::pdicWorkedExampleBlocks(),
                     6};
        c.options.indexBlkbit = 1;
        c.options.extheader = 1024;
        cases.push_back(c);
    }
    {
        // u32 lengths: the binary record's size is u32 too; the example
        // after it must still be found.
        LayoutCase c{"u32 lengths with a binary record", PdicOptions(), {}, 6};
        PdicBlock b;
        b.wideLengths = true;
        PdicEntry e = entry(U"snd\tsnd", U"sound");
        e.records.push_back({0x14, 0x05, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'});
        std::vector<uint8_t> ex = {0x01};
        const auto t = lftest::pdicBocu1(U"after");
        ex.insert(ex.end(), t.begin(), t.end());
        ex.push_back(0);
        e.records.push_back(ex);
        b.entries = {e};
        c.blocks = {b};
        cases.push_back(c);
    }
    {
        LayoutCase c{"reference entry between two others", PdicOptions(), {}, 6};
        PdicBlock b;
        PdicEntry ref = entry(U"b\tb", U"");
        ref.attrOverride = 0xFF;
        b.entries = {entry(U"a\ta", U"1"), ref, entry(U"ba\tba", U"3")};
        c.blocks = {b};
        cases.push_back(c);
    }
    {
        // Version 4: unaligned header, attribute after the headword.
        LayoutCase c{"version 4 Shift_JIS", PdicOptions(), {}, 4};
        c.options.major = 4;
        c.options.minor = 0;
        c.options.sjis = true;
        PdicBlock b;
        PdicEntry e = entry(U"apple", U"りんご");
        e.level = 2;
        b.entries = {e, entry(U"apply", U"あい")};
        c.blocks = {b};
        cases.push_back(c);
    }
    {
        LayoutCase c{"Hyper 5 Shift_JIS", PdicOptions(), {}, 5};
        c.options.major = 5;
        c.options.minor = 0;
        c.options.sjis = true;
        PdicBlock b;
        b.entries = {entry(U"ai", U"あい"), entry(U"ringo", U"りんご")};
        c.blocks = {b};
        cases.push_back(c);
    }
    return cases;
}

TEST(PdicReader, WalksEveryLayoutInOrder) {
    for (const LayoutCase& c : layoutCases()) {
        SCOPED_TRACE(c.name);
        PdicLayout lay;
        PdicFile file(lftest::buildPdic(c.options, c.blocks, &lay));
        CPDicReader r;
        ASSERT_EQ(r.open(file.path()), 0);
        EXPECT_EQ(r.majorVersion(), c.major);
        EXPECT_EQ(walk(r), wordsOf(c.blocks));
        // Every entry's fields, and the position reported for it.
        r.seekIndex(0);
        Buffers b;
        for (size_t i = 0; i < c.blocks.size(); ++i) {
            for (const PdicEntry& e : c.blocks[i].entries) {
                if (e.attrOverride == 0xFF) continue;
                ASSERT_EQ(next(r, b), 0);
                const Read got = b.get();
                EXPECT_EQ(got.word, e.word);
                EXPECT_EQ(got.meaning, e.meaning);
                EXPECT_EQ(got.pron, e.pron);
                EXPECT_EQ(got.level, e.level);
                EXPECT_EQ(r.currentIndex(), static_cast<int>(i));
                EXPECT_EQ(r.currentBlock(), static_cast<int>(lay.blockPhys[i]));
            }
        }
        EXPECT_EQ(next(r, b), 1);
        // Every entry is found by an exact search for its key.
        for (const PdicBlock& blk : c.blocks) {
            for (const PdicEntry& e : blk.entries) {
                if (e.attrOverride == 0xFF) continue;
                const std::u32string key = c.major >= 6 ? e.word.substr(0, e.word.find(U'\t')) : e.word;
                SCOPED_TRACE(utf8(key));
                ASSERT_EQ(r.search(wide(key).data(), PDIC_SEARCH_EXACT, 0, nullptr), 1);
                const PDIC_HIT* hits = nullptr;
                int n = 0;
                ASSERT_EQ(r.results(&hits, &n), 0);
                ASSERT_EQ(r.readEntry(&hits[0], r.hitTextBuffer(), b.word.data(), 1025, b.meaning.data(), 128001,
                                      b.example.data(), 128001, b.pron.data(), 1001, &b.level, nullptr),
                          0);
                EXPECT_EQ(b.get().word, e.word);
                EXPECT_EQ(b.get().meaning, e.meaning);
            }
        }
    }
}

// A 6.10 translation may hold 256 KB; the book reader's buffers take 128,000
// characters.
TEST(PdicReader, HugeTranslationIsCutToTheBuffer) {
    PdicBlock blk;
    blk.wideLengths = true;
    PdicEntry e = entry(U"big\tbig", std::u32string(200000, U'x'));
    e.example = U"ex";
    blk.entries = {e, entry(U"c\tc", U"after")};
    PdicFile file(lftest::buildPdic(PdicOptions(), {blk}));
    CPDicReader r;
    ASSERT_EQ(r.open(file.path()), 0);
    Buffers b;
    b.meaning.push_back(0xDEAD);  // guard behind the 128001 elements
    ASSERT_EQ(next(r, b), 0);
    EXPECT_EQ(b.get().meaning.size(), 128000u);
    EXPECT_EQ(b.meaning[128001], 0xDEADu);
    EXPECT_EQ(b.get().example, U"ex");
    EXPECT_EQ(r.lastEntryStatus(), PDIC_STATUS_CUT);
    ASSERT_EQ(next(r, b), 0);
    EXPECT_EQ(b.get().meaning, U"after");
}

TEST(PdicReader, BinaryRecordIsSkippedAndExampleFound) {
    const LayoutCase c = layoutCases()[3];
    PdicFile file(lftest::buildPdic(c.options, c.blocks));
    CPDicReader r;
    ASSERT_EQ(r.open(file.path()), 0);
    Buffers b;
    ASSERT_EQ(next(r, b), 0);
    EXPECT_EQ(b.get().example, U"after");
}

// ---------------------------------------------------------------------------
// Searches over several blocks whose headwords share prefixes.

class PdicSearch : public ::testing::Test {
protected:
    void SetUp() override {
        PdicBlock b0, b1, b2, b3;
        b0.entries = {entry(U"ant\tant", U"insect"), entry(U"app\tApp", U"program"),
                      entry(U"apple\tApple", U"company")};
        b1.entries = {entry(U"apple\tapple", U"fruit"), entry(U"apple pie\tapple pie", U"dessert"),
                      entry(U"applet\tapplet", U"small program")};
        PdicEntry apply = entry(U"apply\tapply", U"use");
        apply.example = U"apply for a job";
        b2.entries = {apply, entry(U"apricot\tapricot", U"fruit"), entry(U"banana\tBanana", U"fruit")};
        b3.entries = {entry(U"zebra\tzebra", U"animal"), entry(U"日曜\t日曜", U"Sunday"),
                      entry(U"日本\t日本", U"Japan")};
        m_blocks = {b0, b1, b2, b3};
        // The search relies on the headwords ascending in stored byte order.
        std::vector<std::vector<uint8_t>> stored;
        for (const PdicBlock& b : m_blocks)
            for (const PdicEntry& e : b.entries) stored.push_back(lftest::pdicBocu1(e.word));
        ASSERT_TRUE(std::is_sorted(stored.begin(), stored.end()));
        m_file.reset(new PdicFile(lftest::buildPdic(PdicOptions(), m_blocks, &m_layout)));
        ASSERT_EQ(m_reader.open(m_file->path()), 0);
    }

    // Words of the current results, checked against their entries.
    std::vector<std::u32string> hitWords() {
        std::vector<std::u32string> out;
        const PDIC_HIT* hits = nullptr;
        int n = -1;
        if (m_reader.results(&hits, &n) != 0) {
            EXPECT_EQ(n, 0);
            return out;
        }
        const char* pool = m_reader.hitTextBuffer();
        for (int i = 0; i < n; ++i) {
            Buffers b;
            EXPECT_LT(hits[i].wordOffset, static_cast<uint64_t>(m_reader.hitTextSize()));
            EXPECT_EQ(m_reader.readEntry(&hits[i], pool, b.word.data(), 1025, b.meaning.data(), 128001,
                                         b.example.data(), 128001, b.pron.data(), 1001, &b.level, nullptr),
                      0);
            const Read e = b.get();
            EXPECT_EQ(std::string(pool + hits[i].wordOffset), utf8(e.word));
            // The cursor is that of the entry's length field.
            const auto& cursors = m_layout.entryCursor[hits[i].indexNo];
            EXPECT_NE(std::find(cursors.begin(), cursors.end(), static_cast<size_t>(hits[i].cursor)), cursors.end());
            out.push_back(e.word);
        }
        return out;
    }

    std::vector<PdicBlock> m_blocks;
    PdicLayout m_layout;
    std::unique_ptr<PdicFile> m_file;
    CPDicReader m_reader;
};

TEST_F(PdicSearch, ExactAndPrefixAcrossBlocks) {
    struct Case {
        const char* name;
        std::u32string query;
        int mode;
        int max;
        std::vector<std::u32string> words;
        uint32_t more;
    } cases[] = {
        {"exact key shared by two blocks", U"apple", PDIC_SEARCH_EXACT, 0, {U"apple\tApple", U"apple\tapple"}, 0},
        {"capital query finds lower-case keys", U"Apple", PDIC_SEARCH_EXACT, 0, {U"apple\tApple", U"apple\tapple"}, 0},
        {"exact does not match longer keys", U"app", PDIC_SEARCH_EXACT, 0, {U"app\tApp"}, 0},
        {"prefix over three blocks",
         U"appl",
         PDIC_SEARCH_PREFIX,
         0,
         {U"apple\tApple", U"apple\tapple", U"apple pie\tapple pie", U"applet\tapplet", U"apply\tapply"},
         0},
        {"prefix stopped by the limit",
         U"appl",
         PDIC_SEARCH_PREFIX,
         3,
         {U"apple\tApple", U"apple\tapple", U"apple pie\tapple pie"},
         1},
        {"limit equal to the hits",
         U"appl",
         PDIC_SEARCH_PREFIX,
         5,
         {U"apple\tApple", U"apple\tapple", U"apple pie\tapple pie", U"applet\tapplet", U"apply\tapply"},
         0},
        {"display part is not searched", U"Banana", PDIC_SEARCH_EXACT, 0, {U"banana\tBanana"}, 0},
        {"before the first entry", U"aa", PDIC_SEARCH_PREFIX, 0, {}, 0},
        {"after the last entry", U"\u9999", PDIC_SEARCH_PREFIX, 0, {}, 0},
        {"last entry of the file", U"日本", PDIC_SEARCH_EXACT, 0, {U"日本\t日本"}, 0},
        {"prefix inside a multi-byte character", U"日", PDIC_SEARCH_PREFIX, 0, {U"日曜\t日曜", U"日本\t日本"}, 0},
        {"first entry of the file", U"ant", PDIC_SEARCH_EXACT, 0, {U"ant\tant"}, 0},
        {"unknown mode finds nothing", U"apple", 2, 0, {}, 0},
        {"empty query finds nothing", U"", PDIC_SEARCH_PREFIX, 0, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t more = 7;
        const int n = m_reader.search(wide(c.query).data(), c.mode, c.max, &more);
        EXPECT_EQ(n, static_cast<int>(c.words.size()));
        EXPECT_EQ(more, c.more);
        EXPECT_EQ(hitWords(), c.words);
    }
}

TEST_F(PdicSearch, WalkGivesEveryEntryAndSeekIndexStartsABlock) {
    EXPECT_EQ(walk(m_reader), wordsOf(m_blocks));
    ASSERT_EQ(m_reader.seekIndex(2), 0);
    EXPECT_EQ(m_reader.currentBlock(), static_cast<int>(m_layout.blockPhys[2]));
    Buffers b;
    ASSERT_EQ(next(m_reader, b), 0);
    EXPECT_EQ(b.get().word, U"apply\tapply");
    EXPECT_EQ(b.get().example, U"apply for a job");
}

TEST_F(PdicSearch, FullTextSearch) {
    struct Case {
        const char* name;
        std::u32string query;
        int max;
        int flag;
        std::vector<std::u32string> words;
        uint32_t more;
    } cases[] = {
        {"meaning", U"fruit", 0, 0, {U"apple\tapple", U"apricot\tapricot", U"banana\tBanana"}, 0},
        {"example", U"job", 0, 0, {U"apply\tapply"}, 0},
        {"headword", U"曜", 0, 0, {U"日曜\t日曜"}, 0},
        {"limit with more hits", U"fruit", 2, 0, {U"apple\tapple", U"apricot\tapricot"}, 1},
        {"limit equal to the hits", U"fruit", 3, 0, {U"apple\tapple", U"apricot\tapricot", U"banana\tBanana"}, 0},
        {"case kept without the flag", U"JAPAN", 0, 0, {}, 0},
        {"case folded with the flag", U"JAPAN", 0, PDIC_FULLTEXT_FOLD_CASE, {U"日本\t日本"}, 0},
        {"not found", U"zzz", 0, 0, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t more = 7;
        const int n = m_reader.fullTextSearch(wide(c.query).data(), c.max, &more, nullptr, nullptr, nullptr, c.flag);
        EXPECT_EQ(n, static_cast<int>(c.words.size()));
        EXPECT_EQ(more, c.more);
        EXPECT_EQ(hitWords(), c.words);
    }
}

TEST_F(PdicSearch, FullTextSearchCancelAndProgress) {
    struct Progress {
        std::atomic<uint16_t> cancel{0};
        std::vector<int> done;
        int cancelAfter = -1;
    } p;
    auto cb = [](void* data, int, int total, int done) {
        Progress* p = static_cast<Progress*>(data);
        EXPECT_EQ(total, 4);
        p->done.push_back(done);
        if (done == p->cancelAfter) p->cancel = 1;
    };
    uint32_t more = 0;
    // Uncancelled: one call per index entry.
    EXPECT_EQ(m_reader.fullTextSearch(wide(U"fruit").data(), 0, &more, &p.cancel, cb, &p, 0), 3);
    EXPECT_EQ(p.done, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(more, 0u);
    // Cancelled after the second block: only block 1's fruit is found.
    p.done.clear();
    p.cancelAfter = 2;
    EXPECT_EQ(m_reader.fullTextSearch(wide(U"fruit").data(), 0, &more, &p.cancel, cb, &p, 0), 1);
    EXPECT_EQ(p.done, (std::vector<int>{1, 2}));
    EXPECT_EQ(more, 1u);
    EXPECT_EQ(hitWords(), (std::vector<std::u32string>{U"apple\tapple"}));
    // A flag already set stops after the first entry.
    EXPECT_EQ(m_reader.fullTextSearch(wide(U"e").data(), 0, &more, &p.cancel, nullptr, nullptr, 0), 1);
    EXPECT_EQ(more, 1u);
}

TEST_F(PdicSearch, ResultsAndStaleHits) {
    ASSERT_EQ(m_reader.search(wide(U"apple").data(), PDIC_SEARCH_EXACT, 0, nullptr), 2);
    const PDIC_HIT* hits = nullptr;
    int n = 0;
    ASSERT_EQ(m_reader.results(&hits, &n), 0);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(m_reader.hitTextSize(), static_cast<int>(2 * (std::strlen("apple\tApple") + 1)));
    Buffers b;
    auto read = [&](const PDIC_HIT& h, const char* pool) {
        return m_reader.readEntry(&h, pool, b.word.data(), 1025, b.meaning.data(), 128001, b.example.data(), 128001,
                                  b.pron.data(), 1001, &b.level, nullptr);
    };
    // Without a pool the entry is read all the same.
    EXPECT_EQ(read(hits[1], nullptr), 0);
    EXPECT_EQ(b.get().meaning, U"fruit");
    // As a hit list keeps it: the pool appended behind another reader's
    // words, the offset moved by the same amount.
    std::vector<char> joined = {'p', 'e', 'a', 'r', '\0'};
    joined.insert(joined.end(), m_reader.hitTextBuffer(), m_reader.hitTextBuffer() + m_reader.hitTextSize());
    PDIC_HIT moved = hits[1];
    moved.wordOffset += 5;
    EXPECT_EQ(read(moved, joined.data()), 0);
    EXPECT_EQ(b.get().word, U"apple\tapple");
    // A pool whose word differs (a hit of another file) is refused.
    const char other[] = "pear\tpear";
    PDIC_HIT h = hits[1];
    h.wordOffset = 0;
    EXPECT_NE(read(h, other), 0);
    struct Bad {
        const char* name;
        PDIC_HIT hit;
    } bad[] = {
        {"index entry out of range", {99, 2, 0, 0}},
        {"negative index entry", {-1, 2, 0, 0}},
        {"cursor between entries", {hits[1].indexNo, hits[1].cursor + 1, hits[1].block, 0}},
        {"cursor past the block", {hits[1].indexNo, 5000, hits[1].block, 0}},
        {"block of another index entry", {hits[1].indexNo, hits[1].cursor, hits[1].block + 7, 0}},
    };
    for (const Bad& c : bad) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(read(c.hit, nullptr), 0);
    }
    m_reader.clearResults();
    EXPECT_EQ(m_reader.results(&hits, &n), -1);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(m_reader.hitTextSize(), 0);
}

// ---------------------------------------------------------------------------
// Refused files.

TEST(PdicReader, OpenRefusesWhatItCannotRead) {
    const std::vector<uint8_t> good = workedExampleBytes();
    struct Case {
        const char* name;
        size_t at;  // patch position (or new size, for truncate)
        std::vector<uint8_t> bytes;
        bool truncate;
    } cases[] = {
        {"major version 3", 141, {0x03}, false},
        {"major version 7", 141, {0x07}, false},
        {"encrypted", 165, {0x48}, false},
        {"version 6 without BOCU-1", 165, {0x00}, false},
        {"attribute length 2", 166, {0x02}, false},
        {"block size 0", 146, {0x00, 0x00}, false},
        {"header area below 256 bytes", 150, {0x00, 0x01 - 1}, false},
        {"index block width 2", 182, {0x02}, false},
        {"index area past the end of the file", 148, {0x10, 0x00}, false},
        {"index entry names a block past the end", 1024 + 14, {0x40, 0x00}, false},
        {"truncated header", 200, {}, true},
        {"header only", 1024, {}, true},
        {"empty file", 0, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> f = good;
        if (c.truncate)
            f.resize(c.at);
        else
            std::copy(c.bytes.begin(), c.bytes.end(), f.begin() + c.at);
        PdicFile file(f);
        CPDicReader r;
        EXPECT_EQ(r.open(file.path()), -1);
        EXPECT_FALSE(r.isOpen());
        Buffers b;
        EXPECT_NE(next(r, b), 0);
        EXPECT_EQ(r.search(wide(U"apple").data(), 0, 0, nullptr), 0);
    }
    CPDicReader r;
    EXPECT_EQ(r.open("/nonexistent/dir/x.dic"), -1);
    EXPECT_EQ(r.open(nullptr), -1);
}

// A FIFO is refused at once: the open never waits for a writer.
TEST(PdicReader, OpenRefusesAFifoWithoutWaiting) {
    lftest::TestDir dir;
    int rc = 0;
    EXPECT_TRUE(lftest::opensFifoWithoutWaiting(
        dir.file("x.dic"), [](const char* path) { return CPDicReader().open(path); }, &rc))
        << "the open waited for a writer";
    EXPECT_EQ(-1, rc);
}

// ---------------------------------------------------------------------------
// Damaged data blocks: the damaged block ends, the others stay readable,
// nothing is read outside the block.

TEST(PdicReader, DamagedBlocksEndWithoutOverread) {
    PdicLayout lay;
    const std::vector<uint8_t> good = lftest::buildPdic(PdicOptions(), lftest::pdicWorkedExampleBlocks(), &lay);
    const size_t b0 = lay.blockOffset[0];
    const size_t e0 = b0 + lay.entryCursor[0][0];  // apple
    const size_t e1 = b0 + lay.entryCursor[0][1];  // apply
    struct Case {
        const char* name;
        size_t at;
        std::vector<uint8_t> bytes;
        std::vector<std::u32string> walk;
    } cases[] = {
        {"length past the block end", e0, {0xF0, 0xFF}, {U"!", U"zoo\tzoo"}},
        {"length just past the block end", e0, {0xFB, 0x03}, {U"!", U"zoo\tzoo"}},
        {"compression longer than the previous headword", e1 + 2, {0x20}, {U"apple\tApple", U"!", U"zoo\tzoo"}},
        {"compression on the first entry", e0 + 2, {0x01}, {U"!", U"zoo\tzoo"}},
        // The headword's NUL overwritten: no NUL before the entry's end.
        {"headword without NUL", e0 + 4 + 11, {0x41}, {U"!", U"zoo\tzoo"}},
        // Extended entry cut (L 12) inside its translation: no NUL before the end.
        {"translation without NUL", e1, {0x0C, 0x00}, {U"apple\tApple", U"!", U"zoo\tzoo"}},
        // Example record whose text has no NUL before the entry end (L cut).
        {"record past the entry end", e1, {0x1C, 0x00}, {U"apple\tApple", U"!", U"zoo\tzoo"}},
        {"count past the end of the file", lay.blockOffset[1], {0x00, 0x01}, {U"apple\tApple", U"apply\tapply", U"!"}},
        {"count 0 marks a free block", lay.blockOffset[1], {0x00, 0x00}, {U"apple\tApple", U"apply\tapply"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> f = good;
        std::copy(c.bytes.begin(), c.bytes.end(), f.begin() + c.at);
        PdicFile file(f);
        CPDicReader r;
        ASSERT_EQ(r.open(file.path()), 0);
        EXPECT_EQ(walk(r), c.walk);
        // Searches pass the damaged block over.
        uint32_t more = 0;
        EXPECT_EQ(r.search(wide(U"zoo").data(), PDIC_SEARCH_EXACT, 0, &more), c.walk.back() == U"zoo\tzoo" ? 1 : 0);
        r.fullTextSearch(wide(U"o").data(), 0, &more, nullptr, nullptr, nullptr, 0);
    }
}

// A text that ends inside a BOCU-1 sequence has lost bytes: that entry is
// corrupt. Walks pass it over (the rest of its block stays readable), searches
// do not return it and readEntry refuses it.
TEST(PdicReader, TruncatedTextMakesTheEntryCorrupt) {
    PdicLayout lay;
    const std::vector<uint8_t> good = lftest::buildPdic(PdicOptions(), lftest::pdicWorkedExampleBlocks(), &lay);
    // Entry layouts of the worked example: length (2), c, attribute, then
    // apple: headword 4..14 + NUL, meaning "りんご" 16..20 (no NUL);
    // apply: headword rest 4..10 + NUL, meaning 12..20 + NUL, example
    //        record 22 + text 23..37 + NUL, pronunciation record 39 + text
    //        40..48 + NUL, end 50;
    // zoo:   headword 4..10 + NUL, meaning 12..18.
    const size_t e0 = lay.blockOffset[0] + lay.entryCursor[0][0];
    const size_t e1 = lay.blockOffset[0] + lay.entryCursor[0][1];
    const size_t e2 = lay.blockOffset[1] + lay.entryCursor[1][0];
    struct Case {
        const char* name;
        size_t at;
        uint8_t was;         // byte found there (a check of the layout)
        std::u32string key;  // key of the damaged entry
        int hitIndex;        // index entry and cursor of the damaged entry
        size_t hitCursor;
        std::vector<std::u32string> walk;
        int skippedAt;  // walk position reported with PDIC_STATUS_SKIPPED, -1: none
    } cases[] = {
        // Each byte becomes FB, a lead that needs two trail bytes, and the
        // text ends before the second.
        {"meaning ends inside a sequence",
         e0 + 20,
         0x74,
         U"apple",
         0,
         lay.entryCursor[0][0],
         {U"apply\tapply", U"zoo\tzoo"},
         0},
        {"headword ends inside a sequence",
         e0 + 14,
         0xB5,
         U"apple",
         0,
         lay.entryCursor[0][0],
         {U"apply\tapply", U"zoo\tzoo"},
         0},
        {"example ends inside a sequence",
         e1 + 37,
         0xB2,
         U"apply",
         0,
         lay.entryCursor[0][1],
         {U"apple\tApple", U"zoo\tzoo"},
         1},
        // "... 4F E9": 4F takes E9 as its trail byte; FB in its place
        // takes E9 and then meets the NUL.
        {"pronunciation ends inside a sequence",
         e1 + 47,
         0x4F,
         U"apply",
         0,
         lay.entryCursor[0][1],
         {U"apple\tApple", U"zoo\tzoo"},
         1},
        // "... 2E 94" likewise.
        {"last entry of the file",
         e2 + 17,
         0x2E,
         U"zoo",
         1,
         lay.entryCursor[1][0],
         {U"apple\tApple", U"apply\tapply"},
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> f = good;
        ASSERT_EQ(f[c.at], c.was);
        f[c.at] = 0xFB;
        PdicFile file(f);
        CPDicReader r;
        ASSERT_EQ(r.open(file.path()), 0);
        // Walk, with the status of each entry delivered.
        std::vector<std::u32string> words;
        std::vector<int> status;
        Buffers b;
        ASSERT_EQ(r.seekIndex(0), 0);
        int rc;
        while ((rc = next(r, b)) == 0) {
            words.push_back(b.get().word);
            status.push_back(r.lastEntryStatus());
        }
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(words, c.walk);
        for (size_t i = 0; i < status.size(); ++i)
            EXPECT_EQ(status[i], static_cast<int>(i) == c.skippedAt ? PDIC_STATUS_SKIPPED : 0) << i;
        // Neither search returns it.
        uint32_t more = 7;
        EXPECT_EQ(r.search(wide(c.key).data(), PDIC_SEARCH_EXACT, 0, &more), 0);
        EXPECT_EQ(r.search(wide(c.key).data(), PDIC_SEARCH_PREFIX, 0, &more), 0);
        EXPECT_EQ(r.fullTextSearch(wide(c.key).data(), 0, &more, nullptr, nullptr, nullptr, 0), 0);
        // readEntry of a hit naming it fails.
        const PDIC_HIT hit = {c.hitIndex, static_cast<int32_t>(c.hitCursor), lay.blockPhys[c.hitIndex], 0};
        EXPECT_NE(r.readEntry(&hit, nullptr, b.word.data(), 1025, b.meaning.data(), 128001, b.example.data(), 128001,
                              b.pron.data(), 1001, &b.level, nullptr),
                  0);
    }
}

// Other invalid bytes lose no length: they decode to U+FFFD, the entry stays
// and is flagged.
TEST(PdicReader, InvalidTrailByteBecomesReplacementCharacter) {
    PdicLayout lay;
    std::vector<uint8_t> f = lftest::buildPdic(PdicOptions(), lftest::pdicWorkedExampleBlocks(), &lay);
    // "りんご" is FB 11 A1 B3 74: A1 becomes 07, which cannot be a trail
    // byte. FB 11 gives U+FFFD, 07 stands for itself, B3 74 decode from the
    // reset state as "c$".
    const size_t e0 = lay.blockOffset[0] + lay.entryCursor[0][0];
    ASSERT_EQ(f[e0 + 18], 0xA1);
    f[e0 + 18] = 0x07;
    PdicFile file(f);
    CPDicReader r;
    ASSERT_EQ(r.open(file.path()), 0);
    Buffers b;
    ASSERT_EQ(next(r, b), 0);
    EXPECT_EQ(b.get().word, U"apple\tApple");
    EXPECT_EQ(b.get().meaning,
              U"\uFFFD\x07"
              U"c$");
    EXPECT_EQ(r.lastEntryStatus(), PDIC_STATUS_BAD_TEXT);
    ASSERT_EQ(next(r, b), 0);
    EXPECT_EQ(r.lastEntryStatus(), 0);
    ASSERT_EQ(r.search(wide(U"apple").data(), PDIC_SEARCH_EXACT, 0, nullptr), 1);
}

TEST(PdicReader, FieldsAreCutToTheirBuffers) {
    PdicBlock blk;
    PdicEntry e = entry(U"long\tlong", std::u32string(3000, U'あ'));
    e.example = std::u32string(2000, U'x');
    e.pron = U"pron";
    blk.entries = {e};
    PdicFile file(lftest::buildPdic(PdicOptions(), {blk}));
    CPDicReader r;
    ASSERT_EQ(r.open(file.path()), 0);
    // Each buffer one element larger than the capacity passed, as a guard.
    std::vector<uint32_t> word(6, 0xDEAD), meaning(101, 0xDEAD), example(11, 0xDEAD), pron(3, 0xDEAD);
    int level = -1;
    ASSERT_EQ(r.nextEntry(word.data(), 5, meaning.data(), 100, example.data(), 10, pron.data(), 2, &level, nullptr, 0),
              0);
    EXPECT_EQ(str(word.data()), U"long");
    EXPECT_EQ(str(meaning.data()), std::u32string(99, U'あ'));
    EXPECT_EQ(str(example.data()), std::u32string(9, U'x'));
    EXPECT_EQ(str(pron.data()), U"p");
    EXPECT_EQ(word[5], 0xDEADu);
    EXPECT_EQ(meaning[100], 0xDEADu);
    EXPECT_EQ(example[10], 0xDEADu);
    EXPECT_EQ(pron[2], 0xDEADu);
    EXPECT_EQ(r.lastEntryStatus(), PDIC_STATUS_CUT);
    // Null buffers and zero capacities skip fields.
    r.seekIndex(0);
    word.assign(10, 0xDEAD);
    ASSERT_EQ(r.nextEntry(word.data(), 10, nullptr, 0, nullptr, 0, pron.data(), 0, &level, nullptr, 0), 0);
    EXPECT_EQ(str(word.data()), U"long\tlong");
    EXPECT_EQ(r.lastEntryStatus(), 0);
}

TEST(PdicReader, PronunciationTableAndLineBreaks) {
    PdicBlock blk;
    PdicEntry e = entry(U"w\tw", U"line1\r\nline2");
    e.pron = U"a:b";
    blk.entries = {e};
    PdicFile file(lftest::buildPdic(PdicOptions(), {blk}));
    CPDicReader r;
    ASSERT_EQ(r.open(file.path()), 0);
    uint16_t table[256] = {};
    table[static_cast<unsigned char>(':')] = 0x02D0;  // length mark
    Buffers b;
    ASSERT_EQ(next(r, b, table, PDIC_ENTRY_CRLF_TO_LF), 0);
    EXPECT_EQ(b.get().pron, U"a\u02D0b");
    EXPECT_EQ(b.get().meaning, U"line1\nline2");
    r.seekIndex(0);
    ASSERT_EQ(next(r, b), 0);
    EXPECT_EQ(b.get().pron, U"a:b");
    EXPECT_EQ(b.get().meaning, U"line1\r\nline2");
}

TEST(PdicReader, HeaderReportTitleReopenClose) {
    PdicOptions o;
    o.title = U"テスト辞書";
    PdicFile file(lftest::buildPdic(o, lftest::pdicWorkedExampleBlocks()));
    CPDicReader r;
    ASSERT_EQ(r.open(file.path()), 0);
    uint32_t t[41];
    EXPECT_EQ(r.title(t, 41), 5);
    EXPECT_EQ(str(t), U"テスト辞書");
    char buf[1024];
    const int n = r.dumpHeader(buf, sizeof buf, 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(static_cast<int>(std::strlen(buf)), n);
    EXPECT_LT(n, static_cast<int>(sizeof buf) - 255);
    const std::string text(buf);
    EXPECT_NE(text.find("Version: 0x060A (major 6)\r\n"), std::string::npos);
    EXPECT_NE(text.find("Words: 3\r\n"), std::string::npos);
    EXPECT_NE(text.find(utf8(U"Title: テスト辞書")), std::string::npos);
    EXPECT_EQ(r.dumpHeader(buf, sizeof buf, 0), n - std::count(text.begin(), text.end(), '\r'));
    // A buffer too small for any line gets an empty text.
    EXPECT_EQ(r.dumpHeader(buf, 260, 1), 0);
    EXPECT_EQ(buf[0], 0);

    char title[8];
    EXPECT_EQ(CPDicReader::probe(file.path(), title, sizeof title), 0);
    EXPECT_EQ(std::string(title), utf8(U"テス"));  // cut at a character boundary

    // Reopen on another file replaces everything.
    PdicFile other(workedExampleBytes());
    ASSERT_EQ(r.search(wide(U"zoo").data(), 0, 0, nullptr), 1);
    ASSERT_EQ(r.reopen(other.path()), 0);
    EXPECT_EQ(r.title(t, 41), 0);
    EXPECT_EQ(r.currentIndex(), -1);
    const PDIC_HIT* hits;
    int count;
    EXPECT_EQ(r.results(&hits, &count), -1);
    EXPECT_EQ(r.reopen("/nonexistent.dic"), -1);
    EXPECT_FALSE(r.isOpen());
    r.close();
    r.close();
    EXPECT_EQ(r.dumpHeader(buf, sizeof buf, 1), -1);
    EXPECT_EQ(r.majorVersion(), 0);
}

}  // namespace

namespace {

// Version 5 has no keys: the whole headword is matched. A headword that
// ends one block and starts the next (duplicates) is found in both.
TEST(PdicReader, Version5SearchWithoutKeys) {
    PdicOptions o;
    o.major = 5;
    o.minor = 0;
    PdicBlock b0, b1, b2;
    b0.entries = {entry(U"Apple", U"company"), entry(U"apple", U"fruit"), entry(U"dup", U"first")};
    b1.entries = {entry(U"dup", U"second"), entry(U"eel", U"fish")};
    b2.entries = {entry(U"fig", U"fruit")};
    PdicFile file(lftest::buildPdic(o, {b0, b1, b2}));
    CPDicReader r;
    ASSERT_EQ(r.open(file.path()), 0);
    struct Case {
        const char* name;
        std::u32string query;
        int mode;
        std::vector<std::u32string> meanings;
    } cases[] = {
        {"lower-case query", U"apple", PDIC_SEARCH_EXACT, {U"fruit"}},
        {"capital query also finds the lower-case form", U"Apple", PDIC_SEARCH_EXACT, {U"company", U"fruit"}},
        {"duplicate across a block boundary", U"dup", PDIC_SEARCH_EXACT, {U"first", U"second"}},
        {"prefix", U"e", PDIC_SEARCH_PREFIX, {U"fish"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        r.search(wide(c.query).data(), c.mode, 0, nullptr);
        const PDIC_HIT* hits = nullptr;
        int n = 0;
        r.results(&hits, &n);
        std::vector<std::u32string> got;
        for (int i = 0; i < n; ++i) {
            Buffers b;
            EXPECT_EQ(r.readEntry(&hits[i], r.hitTextBuffer(), b.word.data(), 1025, b.meaning.data(), 128001,
                                  b.example.data(), 128001, b.pron.data(), 1001, &b.level, nullptr),
                      0);
            got.push_back(b.get().meaning);
        }
        EXPECT_EQ(got, c.meanings);
    }
}

}  // namespace
