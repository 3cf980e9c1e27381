// CMDictReader against generated MDict files (make_mdict_fixtures.py), each
// good file also read by js-mdict: the same keys must give the same records
// and resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "dictformats/DictionaryReaders.h"
#include "dictformats/mdict/CMDictReader.h"
#include "foundation/book/CEBCatalog.h"
#include "tests/common/MdictFixtures.h"
#include "tests/common/TestDir.h"

using lftest::mdictFixture;
using lftest::mdictPeerRead;

namespace {

std::string fixture(const char* name) {
    std::string path = mdictFixture(name);
    EXPECT_FALSE(path.empty()) << "the fixture generator failed";
    return path;
}

// Keys of the hits of a search, in order.
std::vector<std::string> hitKeys(CMDictReader& r) {
    std::vector<std::string> keys;
    MDICT_HIT* hits = nullptr;
    uint32_t count = 0;
    if (r.getResults(&hits, &count) != 0) return keys;
    for (uint32_t i = 0; i < count; ++i) {
        char* key = nullptr;
        char* text = nullptr;
        EXPECT_EQ(0, r.readHit(&hits[i], &key, &text));
        keys.push_back(key ? key : "(null)");
    }
    return keys;
}

// The record of the entry whose key is exactly key, found through an exact
// search; "(none)" when no hit has that key.
std::string recordOf(CMDictReader& r, const std::string& key) {
    uint32_t more = 0;
    int n = r.search(key.c_str(), 1, 0, &more);
    for (int i = 0; i < n; ++i) {
        char* k = nullptr;
        char* t = nullptr;
        if (r.getHit(static_cast<uint32_t>(i), &k, &t) == 0 && k && key == k) {
            // getHit fills the key first: read the text again for this hit.
            MDICT_HIT* hits = nullptr;
            uint32_t count = 0;
            r.getResults(&hits, &count);
            char* text = r.recordText(hits[i].recordOffset);
            return text ? text : "(null)";
        }
    }
    return "(none)";
}

}  // namespace

// ---------------------------------------------------------------------------
// Agreement with the independent reader.

class MdictPeer : public testing::TestWithParam<const char*> {};

TEST_P(MdictPeer, SameKeysGiveSameRecordsAndResources) {
    const std::string path = fixture(GetParam());
    lftest::MdictPeerView peer = mdictPeerRead(path);
    ASSERT_TRUE(peer.ok) << peer.error;
    ASSERT_FALSE(peer.entries.empty());

    CMDictReader r;
    ASSERT_NE(nullptr, r.open(path.c_str())) << r.failureReason();
    EXPECT_EQ(peer.entries.size(), r.numEntries());
    for (const auto& e : peer.entries) {
        SCOPED_TRACE(e.first);
        if (r.isResourceFile()) {
            uint64_t size = 0;
            uint8_t* data = r.resourceData(e.first.c_str(), &size);
            ASSERT_NE(nullptr, data);
            EXPECT_EQ(e.second, std::string(reinterpret_cast<char*>(data), size));
        } else {
            EXPECT_EQ(e.second, recordOf(r, e.first));
        }
    }
    // The full-text scan finds exactly the records that contain the query.
    if (!r.isResourceFile()) {
        for (const char* query : {"fruit", "letter", "e", "Japan"}) {
            std::multiset<std::string> expected;
            for (const auto& e : peer.entries)
                if (e.second.find(query) != std::string::npos) expected.insert(e.first);
            uint32_t more = 0;
            r.searchText(query, 0, &more, nullptr, nullptr, nullptr);
            std::vector<std::string> got = hitKeys(r);
            EXPECT_EQ(expected, std::multiset<std::string>(got.begin(), got.end())) << query;
        }
    }
}

// GB18030 files are left out: js-mdict does not decode their keys.
INSTANTIATE_TEST_SUITE_P(Fixtures, MdictPeer,
                         testing::Values("v12_utf8_stored.mdx", "v12_utf8_zlib.mdx", "v12_utf8_lzo.mdx",
                                         "v20_utf8_stored.mdx", "v20_utf8_zlib.mdx", "v20_utf8_lzo.mdx",
                                         "v12_utf16.mdx", "v20_utf16.mdx", "v20_utf8_unicode.mdx", "v20_encrypted2.mdx",
                                         "v20_gbk.mdx", "v20_big5.mdx", "v20_punct.mdx", "v20_many.mdx",
                                         "v12_resources.mdd", "v20_resources.mdd", "v20_split_utf8.mdx",
                                         "v12_split_utf8.mdx", "v20_split_utf16.mdx", "v20_split_gbk.mdx",
                                         "v20_split_big5.mdx", "v20_split.mdd", "v20_case_no.mdx",
                                         "v20_case_yes.mdx"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string n = info.param;
                             std::replace_if(
                                 n.begin(), n.end(), [](char c) { return !isalnum(static_cast<unsigned char>(c)); },
                                 '_');
                             return n;
                         });

TEST(MdictPeerPrefix, EveryKeyThePeerFindsByPrefixWeFindToo) {
    // js-mdict's prefix search stops at the end of a key block, so the check
    // runs one way: its keys are a subset of ours, and ours all match.
    const std::string path = fixture("v20_many.mdx");
    const std::vector<std::string> queries = {"item1", "item", "oth", "ITEM2"};
    lftest::MdictPeerView peer = mdictPeerRead(path, queries);
    ASSERT_TRUE(peer.ok) << peer.error;
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(path.c_str()));
    for (const std::string& q : queries) {
        SCOPED_TRACE(q);
        uint32_t more = 0;
        r.search(q.c_str(), 0, 0, &more);
        std::vector<std::string> ours = hitKeys(r);
        for (const std::string& k : ours) EXPECT_EQ(0, strncasecmp(k.c_str(), q.c_str(), q.size())) << k;
        for (const std::string& k : peer.prefix[q]) EXPECT_NE(ours.end(), std::find(ours.begin(), ours.end(), k)) << k;
    }
}

// Blocks of two keys, each ending on a key that begins the next block's first
// key ("apple" | "apples"): every key is found exactly, and every prefix
// search gives every key that begins with the query, in the file's order,
// whichever blocks they lie in. The keys are js-mdict's (which lists them in
// an order of its own).
TEST(MdictLookup, KeysAcrossBlockBoundariesInEveryEncoding) {
    for (const char* file : {"v20_split_utf8.mdx", "v12_split_utf8.mdx", "v20_split_utf16.mdx", "v20_split_gbk.mdx",
                             "v20_split_big5.mdx"}) {
        SCOPED_TRACE(file);
        const std::string path = fixture(file);
        lftest::MdictPeerView peer = mdictPeerRead(path);
        ASSERT_TRUE(peer.ok) << peer.error;
        ASSERT_GE(peer.entries.size(), 11u);
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(path.c_str()));
        for (const auto& e : peer.entries) {
            const std::string& key = e.first;
            SCOPED_TRACE(key);
            uint64_t pos = 0, off = 0;
            ASSERT_GE(r.findKey(key.c_str(), &pos, &off, 1), 0);
            EXPECT_EQ(key, r.keyText(pos));
            EXPECT_EQ(e.second, r.recordText(off));
            EXPECT_EQ(std::vector<std::string>{key}, (r.search(key.c_str(), 1, 0, nullptr), hitKeys(r)));
            std::vector<std::string> expected;
            for (const auto& other : peer.entries)
                if (other.first.compare(0, key.size(), key) == 0) expected.push_back(other.first);
            r.search(key.c_str(), 0, 0, nullptr);
            std::vector<std::string> ours = hitKeys(r);
            std::sort(ours.begin(), ours.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(expected, ours);
        }
    }
}

// Keys that differ only in case: a file whose header says KeyCaseSensitive
// "No" (keys in case-folded order) folds case in its look-ups, one that says
// "Yes" (keys in byte order) does not. Records are compared with js-mdict's
// for every key by the peer test above.
TEST(MdictLookup, CaseRuleOfTheHeader) {
    struct Case {
        const char* file;
        const char* query;
        int exact;
        std::vector<std::string> keys;
    } cases[] = {
        {"v20_case_no.mdx", "apple", 1, {"APPLE", "Apple", "apple"}},
        {"v20_case_no.mdx", "aPPle", 1, {"APPLE", "Apple", "apple"}},
        {"v20_case_no.mdx", "App", 0, {"APPLE", "Apple", "apple", "apples", "Applet", "applet"}},
        {"v20_case_no.mdx", "BAN", 0, {"Banana", "banana", "bandana"}},
        {"v20_case_no.mdx", "zebra", 1, {"Zebra"}},
        {"v20_case_yes.mdx", "apple", 1, {"apple"}},
        {"v20_case_yes.mdx", "APPLE", 1, {"APPLE"}},
        {"v20_case_yes.mdx", "aPPle", 1, {}},
        {"v20_case_yes.mdx", "App", 0, {"Apple", "Applet"}},
        {"v20_case_yes.mdx", "app", 0, {"apple", "apples", "applet"}},
        {"v20_case_yes.mdx", "Ban", 0, {"Banana"}},
        {"v20_case_yes.mdx", "ban", 0, {"banana", "bandana"}},
        {"v20_case_yes.mdx", "zebra", 1, {}},
        {"v20_case_yes.mdx", "Zebra", 1, {"Zebra"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.query + (c.exact ? " exact" : " prefix"));
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(fixture(c.file).c_str()));
        EXPECT_EQ(static_cast<int>(c.keys.size()), r.search(c.query, c.exact, 0, nullptr));
        EXPECT_EQ(c.keys, hitKeys(r));
    }
}

// ---------------------------------------------------------------------------
// Key-index scrambling: real files derive the key from the checksum and
// 95 36 00 00 and start the chaining byte at 0x36.

TEST(MdictScrambling, OnlyTheRealConstantsOpen) {
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(fixture("v20_encrypted2.mdx").c_str())) << r.failureReason();
    EXPECT_EQ(2, r.encrypted());
    EXPECT_EQ("a fruit that grows on trees", recordOf(r, "apple"));
    r.close();

    const std::string other = fixture("scrambled_other_key.mdx");
    EXPECT_EQ(nullptr, r.open(other.c_str()));
    EXPECT_FALSE(mdictPeerRead(other).ok) << "js-mdict opened a file scrambled with other constants";
}

// ---------------------------------------------------------------------------
// Files that open must be refused cleanly, with the reason.

TEST(MdictRefused, RegistrationCodeAndNewerEngines) {
    struct Case {
        const char* file;
        const char* reason;
    } cases[] = {
        {"needs_regcode.mdx", "registration code"},
        {"needs_regcode3.mdx", "registration code"},
        {"engine_v3.mdx", "engine version 3.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CMDictReader r;
        EXPECT_EQ(nullptr, r.open(fixture(c.file).c_str()));
        EXPECT_FALSE(r.isOpen());
        EXPECT_NE(std::string::npos, r.failureReason().find(c.reason)) << r.failureReason();
        char info[1024];
        r.formatInfo(info, sizeof info);
        EXPECT_NE(nullptr, strstr(info, "Unsupported = ")) << info;
        EXPECT_NE(nullptr, strstr(info, c.reason)) << info;
        EXPECT_EQ(nullptr, r.openHeader(fixture(c.file).c_str()));
    }
}

TEST(MdictDamaged, EverySizeCountAndOffsetIsChecked) {
    const char* files[] = {"bad_header_checksum.mdx",  "truncated_header.mdx",   "truncated_records.mdx",
                           "huge_key_block_count.mdx", "huge_key_info_size.mdx", "key_info_size_lie.mdx",
                           "record_size_bomb.mdx",     "/nonexistent/x.mdx"};
    for (const char* f : files) {
        SCOPED_TRACE(f);
        CMDictReader r;
        std::string path = f[0] == '/' ? f : fixture(f);
        EXPECT_EQ(nullptr, r.open(path.c_str()));
        EXPECT_FALSE(r.isOpen());
        EXPECT_EQ(nullptr, r.recordText(0));
        uint64_t pos = 0, off = 0;
        EXPECT_EQ(-1, r.findKey("alpha", &pos, &off, 1));
    }
    CMDictReader r;
    EXPECT_EQ(nullptr, r.openHeader(fixture("bad_header_checksum.mdx").c_str()));
}

TEST(MdictDamaged, ABlockOfAnotherSizeThanStatedGivesNoText) {
    // The first record block states 3 bytes fewer or more than it holds: its
    // records are unreadable (no cut data, no stale bytes).
    for (const char* file : {"record_size_short.mdx", "record_size_long.mdx"}) {
        SCOPED_TRACE(file);
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(fixture(file).c_str()));
        uint64_t pos = 0, off = 0;
        ASSERT_GE(r.findKey("alpha", &pos, &off, 1), 0);
        EXPECT_STREQ("alpha", r.keyText(pos));
        EXPECT_EQ(nullptr, r.recordText(off));
    }
}

TEST(MdictDamaged, NoSingleBitFlipOfAStoredFileFindsAnotherRecord) {
    // Stored key and record blocks carry an Adler-32 like packed ones: a flip
    // in one makes it unreadable, so no lookup reports a key or record the
    // intact file does not hold. Left out: the decoded sizes in the record
    // block table, which move the records of every later block and are
    // checked by no sum.
    struct File {
        const char* name;
        int width;  // of the numbers: 8 from 2.0 on, else 4
    };
    for (const File& f : {File{"v20_utf8_stored.mdx", 8}, File{"v12_utf8_stored.mdx", 4}}) {
        const char* file = f.name;
        SCOPED_TRACE(file);
        std::string intact;
        {
            std::ifstream in(fixture(file), std::ios::binary);
            intact.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        ASSERT_FALSE(intact.empty());
        std::vector<std::string> keys;
        std::set<std::pair<std::string, std::string>> pairs;
        {
            CMDictReader r;
            ASSERT_NE(nullptr, r.open(fixture(file).c_str()));
            ASSERT_EQ(9, r.search("", 0, 0, nullptr) + r.search(".", 0, 0, nullptr));
            MDICT_HIT* hits = nullptr;
            uint32_t count = 0;
            ASSERT_EQ(0, r.getResults(&hits, &count));
            std::vector<MDICT_HIT> all(hits, hits + count);
            for (const MDICT_HIT& h : all) {
                char* key = nullptr;
                char* text = nullptr;
                ASSERT_EQ(0, r.readHit(&h, &key, &text));
                keys.push_back(key);
                pairs.insert({key, text});
            }
        }
        // The record section: 3 blocks, 9 records, a table of 3 size pairs.
        auto number = [&f](uint64_t v) {
            std::string b(static_cast<size_t>(f.width), '\0');
            for (int i = f.width - 1; i >= 0; --i, v >>= 8) b[static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
            return b;
        };
        const size_t head = intact.find(number(3) + number(9) + number(3 * 2 * f.width));
        ASSERT_NE(std::string::npos, head);
        const size_t table = head + 4 * static_cast<size_t>(f.width);
        auto isDecodedSize = [&](size_t byte) {
            if (byte < table || byte >= table + 6 * static_cast<size_t>(f.width)) return false;
            return (byte - table) / f.width % 2 == 1;
        };
        lftest::TestDir dir;
        const std::string path = dir.file("flipped.mdx");
        int opened = 0, found = 0;
        // One bit of each byte, a different one from byte to byte.
        size_t flips = 0;
        for (size_t bit = 0; bit < intact.size() * 8; bit += 9) {
            if (isDecodedSize(bit / 8)) continue;
            ++flips;
            std::string damaged = intact;
            damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
            {
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out << damaged;
            }
            CMDictReader r;
            if (!r.open(path.c_str())) continue;
            ++opened;
            for (const std::string& k : keys) {
                const int n = r.search(k.c_str(), 1, 0, nullptr);
                for (int i = 0; i < n; ++i) {
                    char* key = nullptr;
                    char* text = nullptr;
                    if (r.getHit(static_cast<uint32_t>(i), &key, nullptr) != 0 || !key) continue;
                    const std::string keyCopy = key;
                    if (r.getHit(static_cast<uint32_t>(i), nullptr, &text) != 0 || !text) continue;
                    ++found;
                    EXPECT_EQ(1u, pairs.count({keyCopy, text})) << "bit " << bit << ": " << keyCopy << " -> " << text;
                }
            }
        }
        std::printf("%s: %zu flips, %d opened, %d records found\n", file, flips, opened, found);
        EXPECT_GT(found, 0);
    }
}

// ---------------------------------------------------------------------------
// Lookups.

TEST(MdictLookup, ExactAndPrefixFoldPunctuationAndCase) {
    struct Case {
        const char* query;
        int exact;
        std::vector<std::string> keys;
    } cases[] = {
        {"ab", 0, {"A.B", "a b", "a-b", "ab cd", "abc"}},
        {"ab", 1, {"A.B", "a b", "a-b"}},
        {"AB CD", 1, {"ab cd"}},
        {"abc", 1, {"abc"}},
        {"abcd", 0, {"ab cd"}},
        {"abd", 0, {}},
        {"", 0, {}},
    };
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(fixture("v20_punct.mdx").c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.query) + (c.exact ? " exact" : " prefix"));
        uint32_t more = 7;
        EXPECT_EQ(static_cast<int>(c.keys.size()), r.search(c.query, c.exact, 0, &more));
        EXPECT_EQ(c.keys, hitKeys(r));
        EXPECT_EQ(7u, more);
    }
}

TEST(MdictLookup, MaximumStopsTheSearchAcrossKeyBlocks) {
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(fixture("v20_many.mdx").c_str()));
    uint32_t more = 0;
    EXPECT_EQ(10, r.search("item", 0, 10, &more));
    EXPECT_EQ(1u, more);
    more = 0;
    EXPECT_EQ(25, r.search("item", 0, 0, &more));
    EXPECT_EQ(0u, more);
    std::vector<std::string> keys = hitKeys(r);
    ASSERT_EQ(25u, keys.size());
    EXPECT_EQ("item00", keys.front());
    EXPECT_EQ("item24", keys.back());
}

TEST(MdictLookup, FullTextScan) {
    struct Case {
        const char* query;
        int max;
        int hits;
        uint32_t more;
    } cases[] = {
        {"record 1", 0, 11, 0},  // "record 1" itself and "record 10" to "record 19"
        {"x", 0, 1, 0},          // a record equal to the query
        {"4", 0, 3, 0},          // a match on the last byte
        {"", 0, 0, 0},          {"record", 5, 5, 1},
    };
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(fixture("v20_many.mdx").c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        uint32_t more = 0;
        EXPECT_EQ(c.hits, r.searchText(c.query, c.max, &more, nullptr, nullptr, nullptr));
        EXPECT_EQ(c.more, more);
    }
    std::atomic<uint16_t> cancel{1};
    uint32_t more = 0;
    int calls = 0;
    auto progress = [](void* user, int, uint64_t entries, int) {
        ++*static_cast<int*>(user);
        return entries == 26 ? 0 : 1;
    };
    EXPECT_EQ(1, r.searchText("record", 0, &more, &cancel, progress, &calls));
    EXPECT_EQ(1u, more);
    EXPECT_EQ(1, calls);
}

TEST(MdictLookup, KeysInEveryEncodingComeOutAsUtf8) {
    struct Case {
        const char* file;
        const char* key;
        const char* record;
    } cases[] = {
        {"v20_utf16.mdx",
         "\xF0\x9D\x84\x9E"
         "clef",
         "treble clef (outside the BMP)"},
        {"v12_utf16.mdx", "日本", "Japan"},
        {"v20_utf8_unicode.mdx", "naïve", "innocent"},
        {"v20_gbk.mdx", "啊", "ah"},
        {"v20_gbk.mdx", "字典", "dictionary"},
        {"v20_gb18030.mdx", "字典", "dictionary"},  // read as GBK
        {"v20_big5.mdx", "十", "ten"},
        {"v20_big5.mdx", "中文", "Chinese language"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.key);
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(fixture(c.file).c_str()));
        uint64_t pos = 0, off = 0;
        ASSERT_GE(r.findKey(c.key, &pos, &off, 1), 0);
        EXPECT_STREQ(c.key, r.keyText(pos));
        EXPECT_STREQ(c.record, r.recordText(off));
    }
}

TEST(MdictLookup, LongQueriesAreCutAtACharacterBoundary) {
    // Queries are cut to 255 bytes for the block search; a character split by
    // the cut is left out, and nothing is read past the query.
    std::string longQuery = "a";
    while (longQuery.size() < 300) longQuery += "\xC3\xA9";  // é, cut in its middle at 255
    for (const char* file : {"v20_utf16.mdx", "v20_gbk.mdx", "v20_big5.mdx", "v20_utf8_zlib.mdx"}) {
        SCOPED_TRACE(file);
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(fixture(file).c_str()));
        uint64_t pos = 0, off = 0;
        EXPECT_EQ(-1, r.findKey(longQuery.c_str(), &pos, &off, 1));
        EXPECT_EQ(-1, r.findKey(longQuery.c_str(), &pos, &off, 0));
    }
}

TEST(MdictLookup, DecodedBlocksAreKeptUntilClose) {
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(fixture("v20_many.mdx").c_str()));
    EXPECT_EQ(0u, r.cachedBytes());
    EXPECT_EQ(25, r.search("item", 0, 0, nullptr));
    EXPECT_EQ(1, r.searchText("record 7", 0, nullptr, nullptr, nullptr, nullptr));
    const size_t kept = r.cachedBytes();
    EXPECT_GT(kept, 0u);
    EXPECT_LE(kept, CMdictBlockCache::kMaxBytes);
    // Lookups served from the cache give the same keys and records.
    EXPECT_EQ(25, r.search("item", 0, 0, nullptr));
    EXPECT_EQ("item00", hitKeys(r).front());
    EXPECT_EQ("record 24", recordOf(r, "item24"));
    r.close();
    EXPECT_EQ(0u, r.cachedBytes());
}

TEST(MdictLookup, EnumerationBeforeAnySearchFindsNothing) {
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(fixture("v20_many.mdx").c_str()));
    uint64_t pos = 0, off = 0, next = 0;
    EXPECT_EQ(-1, r.findNextKey("item", &pos, &off, 0));
    EXPECT_EQ(-1, r.nextEntryOffset(&next));
    EXPECT_EQ(nullptr, r.keyText(1u << 30));
    EXPECT_EQ(nullptr, r.recordText(1u << 30));
}

// ---------------------------------------------------------------------------
// Files whose keys are in raw order (case kept, spaces, hyphens and full stops
// compared as characters), one key to a block: every lookup gives exactly
// the keys a scan of every key gives under the header's rule, in file order.

namespace {

// The compared form of a key: spaces, hyphens and full stops left out
// (skip), ASCII case folded (fold).
std::string scanForm(const std::string& key, bool skip, bool fold) {
    std::string out;
    for (char c : key) {
        if (skip && (c == ' ' || c == '-' || c == '.')) continue;
        out += fold ? static_cast<char>(tolower(static_cast<unsigned char>(c))) : c;
    }
    return out;
}

std::string caseSwapped(std::string s, int how) {
    for (char& c : s) c = static_cast<char>(how == 0 ? tolower(static_cast<unsigned char>(c)) : toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TEST(MdictAnyKeyOrder, LookupsGiveWhatAScanOfEveryKeyGives) {
    struct Case {
        const char* set;
        std::vector<std::string> queries;  // besides every key in both cases
    } cases[] = {
        {"bac", {"b", "A", "C", "d"}},
        {"phrase", {"break", "breakd", "BREAK DOWN", "break-down", "b", "br", "bread", "breakin"}},
        {"in", {"in", "i", "i n", "ine", "in-", "INTO", "j"}},
        {"case", {"a", "A", "ab", "a b", "a-", "APP", "appl", "abcd", "."}},
    };
    for (const Case& c : cases) {
        for (const char* tag : {"v20", "v20_utf16", "v12"}) {
            const std::string file = std::string("raw_") + c.set + "_" + tag + ".mdx";
            SCOPED_TRACE(file);
            const std::string path = fixture(file.c_str());
            lftest::MdictPeerView peer = mdictPeerRead(path);
            ASSERT_TRUE(peer.ok) << peer.error;
            // The file's order is the raw one (js-mdict lists keys in an order
            // of its own).
            std::vector<std::pair<std::string, std::string>> keys = peer.entries;
            std::sort(keys.begin(), keys.end());
            CMDictReader r;
            ASSERT_NE(nullptr, r.open(path.c_str())) << r.failureReason();
            ASSERT_EQ(keys.size(), r.numEntries());
            std::vector<std::string> queries = c.queries;
            for (const auto& k : keys)
                for (int how : {-1, 0, 1}) queries.push_back(how < 0 ? k.first : caseSwapped(k.first, how));
            for (const std::string& q : queries) {
                for (int exact : {1, 0}) {
                    SCOPED_TRACE(q + (exact ? " exact" : " prefix"));
                    const std::string qf = scanForm(q, true, true);
                    std::vector<std::string> expected;
                    for (const auto& k : keys) {
                        const std::string kf = scanForm(k.first, true, true);
                        if (exact ? kf == qf : kf.compare(0, qf.size(), qf) == 0) expected.push_back(k.first);
                    }
                    EXPECT_EQ(static_cast<int>(expected.size()), r.search(q.c_str(), exact, 0, nullptr));
                    EXPECT_EQ(expected, hitKeys(r));
                }
            }
            // Each key's record is js-mdict's.
            for (const auto& k : keys) EXPECT_EQ(k.second, recordOf(r, k.first)) << k.first;
        }
    }
}

TEST(MdictAnyKeyOrder, CaseSensitiveFilesKeepCase) {
    struct Case {
        const char* query;
        int exact;
        std::vector<std::string> keys;
    } cases[] = {
        {"APPLE", 1, {"APPLE"}},
        {"apple", 1, {"apple"}},
        {"Apple", 1, {"Apple"}},
        {"aPPLE", 1, {}},
        {"A", 0, {"APPLE", "Apple"}},
        {"a", 0, {"a b", "a-b", "a.b", "aB", "ab", "abc", "apple"}},
        {"ab", 1, {"a b", "a-b", "a.b", "ab"}},
        {"aB", 1, {"aB"}},
    };
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(fixture("raw_case_yes_v20.mdx").c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.query) + (c.exact ? " exact" : " prefix"));
        EXPECT_EQ(static_cast<int>(c.keys.size()), r.search(c.query, c.exact, 0, nullptr));
        EXPECT_EQ(c.keys, hitKeys(r));
    }
}

TEST(MdictAnyKeyOrder, ResourcesByTheirNameInAnyCase) {
    for (const char* file : {"raw_v20.mdd", "raw_v12.mdd"}) {
        const std::string path = fixture(file);
        lftest::MdictPeerView peer = mdictPeerRead(path);
        ASSERT_TRUE(peer.ok) << peer.error;
        ASSERT_EQ(5u, peer.entries.size());
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(path.c_str()));
        for (const auto& e : peer.entries) {
            for (int how : {-1, 0, 1}) {
                const std::string name = how < 0 ? e.first : caseSwapped(e.first, how);
                SCOPED_TRACE(std::string(file) + " " + name);
                uint64_t size = 0;
                const uint8_t* data = r.resourceData(name.c_str(), &size);
                ASSERT_NE(nullptr, data);
                EXPECT_EQ(e.second, std::string(reinterpret_cast<const char*>(data), size));
            }
        }
        uint64_t size = 0;
        EXPECT_EQ(nullptr, r.resourceData("\\ZedJPG", &size));  // the full stop counts in names
        EXPECT_EQ(nullptr, r.resourceData("\\Zed.JP", &size));
    }
}

// ---------------------------------------------------------------------------
// Resources.

TEST(MdictResources, NamesCompareExactlyIgnoringCase) {
    struct Case {
        const char* name;
        size_t size;  // 0: not found
    } cases[] = {
        {"\\style.css", 21},     {"\\STYLE.CSS", 21}, {"\\stylecss", 0},  // the key compare would skip the full stop
        {"\\style.cs", 0},       {"\\Z.bin", 256},  // the last resource runs to the end of the stream
        {"\\img\\logo.png", 48},
    };
    // Names at the start of a key block, after a block ending on their prefix.
    {
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(fixture("v20_split.mdd").c_str()));
        for (const char* name : {"\\a.png", "\\a.png2", "\\A.PNG2X", "\\a.pngs", "\\img\\b", "\\img\\b.png",
                                 "\\img\\b.png.bak", "\\z"}) {
            SCOPED_TRACE(name);
            uint64_t size = 0;
            uint8_t* data = r.resourceData(name, &size);
            ASSERT_NE(nullptr, data);
            std::string lower = name;
            for (char& ch : lower) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
            EXPECT_EQ("bytes of " + lower, std::string(reinterpret_cast<char*>(data), size));
        }
        uint64_t size = 0;
        EXPECT_EQ(nullptr, r.resourceData("\\a.png3", &size));
    }
    for (const char* file : {"v20_resources.mdd", "v12_resources.mdd"}) {
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(fixture(file).c_str()));
        EXPECT_TRUE(r.hasUtf16Keys());
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(file) + " " + c.name);
            uint64_t size = 0;
            uint8_t* data = r.resourceData(c.name, &size);
            if (c.size == 0) {
                EXPECT_EQ(nullptr, data);
            } else {
                ASSERT_NE(nullptr, data);
                EXPECT_EQ(c.size, size);
            }
        }
    }
}

TEST(MdictResources, PositionsPastFourGibibytes) {
    // A sparse .mdd of over 4 GiB: the last record block starts past 4 GiB in
    // the file and in the record stream.
    lftest::TestDir dir;
    const std::string path = dir.file("large.mdd");
    ASSERT_EQ(0, lftest::runCommand(lftest::mdictPython() + " " + LF_SOURCE_DIR +
                                    "/tests/dictformats/mdict/make_mdict_fixtures.py --large " + path));
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(path.c_str())) << r.failureReason();
    uint64_t size = 0;
    uint8_t* data = r.resourceData("\\end.txt", &size);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ("the end of a large file\n", std::string(reinterpret_cast<char*>(data), size));
}

// ---------------------------------------------------------------------------
// Header, information text and the catalog.

TEST(MdictHeader, AttributesAndInformationText) {
    CMDictReader r;
    ASSERT_NE(nullptr, r.openHeader(fixture("v20_utf8_zlib.mdx").c_str()));
    EXPECT_EQ("Fixture", r.title());
    EXPECT_EQ('H', r.format());
    EXPECT_DOUBLE_EQ(2.0, r.generatedByEngineVersion());
    char info[512];
    r.formatInfo(info, sizeof info);
    EXPECT_NE(nullptr, strstr(info, "[MDict]\r\nGeneratedByEngineVersion = 2.0\r\n")) << info;
    EXPECT_NE(nullptr, strstr(info, "Format = H\r\nTitle = Fixture\r\n")) << info;
    EXPECT_EQ(nullptr, strstr(info, "Unsupported")) << info;
    // Writing stops once the text reaches 255 bytes before the end.
    char small[270];
    r.formatInfo(small, sizeof small);
    EXPECT_STREQ("[MDict]\r\nGeneratedByEngineVersion = 2.0\r\n", small);
    r.close();
    EXPECT_FALSE(r.isOpen());
}

TEST(MdictCatalog, OpensMdxFilesAsOneSubbookBooks) {
    registerDictionaryReaders();
    CEBCatalog cat;
    EXPECT_EQ(1, cat.openMdict(fixture("v20_utf8_zlib.mdx").c_str(), "r"));
    EXPECT_EQ(CEBCatalog::kMDict, cat.kind());
    ASSERT_EQ(1, cat.count());
    EXPECT_STREQ("v20_utf8_zlib", cat.title(0));
    for (const char* bad : {"bad_header_checksum.mdx", "needs_regcode.mdx"}) {
        CEBCatalog other;
        EXPECT_EQ(0, other.openMdict(fixture(bad).c_str(), "r")) << bad;
        EXPECT_EQ(0, other.count());
    }
}
