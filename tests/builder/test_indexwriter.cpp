// Pages of the search index writer: leaf and upper page kinds and counts,
// reserved upper pages and their links, group records, heading cuts.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "builder/index/CIndexWriter.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

const uint32_t kStart = 10;  // first block of every area written here

using byteorder::be16;
using byteorder::be32;

// Keys live here for the life of a test (INDEX_ITEM keeps pointers).
struct Keys {
    std::deque<std::string> store;
    const char* add(const std::string& s) {
        store.push_back(s);
        return store.back().c_str();
    }
};

// A full-width key of n characters: "Ａ" repeated, then the number in
// full-width digits, so that keys of one length sort by number.
std::string wideKey(int number, int chars) {
    std::string digits = std::to_string(number);
    while (static_cast<int>(digits.size()) < 5) digits = "0" + digits;
    std::string k;
    for (int i = 0; i < chars - 5; ++i) k += "\x82\x60";  // Ａ
    for (char d : digits) {
        k += '\x82';
        k += static_cast<char>(0x4F + (d - '0'));  // ０..９
    }
    return k;
}

INDEX_ITEM item(const char* key, int keyLen, uint64_t body, uint32_t order, const char* heading = "h",
                int headingLen = 1) {
    INDEX_ITEM it;
    std::memset(&it, 0, sizeof it);
    it.key = key;
    it.keyLen = static_cast<uint8_t>(keyLen);
    it.bodyPos = body;
    it.order = order;
    it.heading = heading;
    it.headingLen = static_cast<uint8_t>(headingLen);
    return it;
}

// Writes an index into a memory stream and gives access to its pages.
struct Area {
    CBlockStream stream{kStart, 0};
    CIndexWriter writer;
    int leaves = 0;
    int write(const std::vector<INDEX_ITEM>& items, CIndexWriter::Layout layout, int omitHeader = 0) {
        leaves = writer.writeIndex(&stream, items.data(), items.size(), layout, omitHeader);
        return leaves;
    }
    const unsigned char* block(uint32_t b) { return stream.page(b - kStart); }
    uint32_t blocks() const { return stream.blockCount(); }
};

TEST(IndexWriterPages, EmptyIndexHasRootAndOneEmptyLeaf) {
    struct Case {
        CIndexWriter::Layout layout;
        unsigned leafKind;
    } cases[] = {{CIndexWriter::kPlain, 0xA0}, {CIndexWriter::kGrouped, 0xB0}, {CIndexWriter::kKana, 0xB0}};
    for (const Case& c : cases) {
        Area a;
        EXPECT_EQ(a.write({}, c.layout), 1);
        ASSERT_EQ(a.blocks(), 2u);
        EXPECT_EQ(a.block(kStart)[0], 0x60);
        EXPECT_EQ(a.block(kStart)[1], 30);
        EXPECT_EQ(be16(a.block(kStart) + 2), 0u);
        EXPECT_EQ(a.block(kStart + 1)[0], c.leafKind);
        EXPECT_EQ(be16(a.block(kStart + 1) + 2), 0u);
    }
}

TEST(IndexWriterPages, OneLeafPlainEntryLayout) {
    Keys k;
    // ＡＢ in Shift_JIS; the page holds JIS 23 41 23 42.
    std::vector<INDEX_ITEM> items = {item(k.add("\x82\x60\x82\x61"), 4, 5 * 2048 + 100, 0)};
    items[0].headingPos = 7 * 2048 + 6;
    Area a;
    EXPECT_EQ(a.write(items, CIndexWriter::kPlain), 1);
    const unsigned char* root = a.block(kStart);
    EXPECT_EQ(root[0], 0x60);
    ASSERT_EQ(be16(root + 2), 1u);
    const unsigned char key[] = {0x23, 0x41, 0x23, 0x42, 0, 0};
    EXPECT_EQ(std::memcmp(root + 4, key, 6), 0);
    EXPECT_EQ(be32(root + 4 + 30), kStart + 1);

    const unsigned char* leaf = a.block(kStart + 1);
    const unsigned char expect[] = {
        0xE0, 0x00, 0x00, 0x01,             // only leaf, one entry
        0x04, 0x23, 0x41, 0x23, 0x42,       // key length, key
        0x00, 0x00, 0x00, 0x05, 0x00, 100,  // text block 5, offset 100
        0x00, 0x00, 0x00, 0x07, 0x00, 6,    // heading block 7, offset 6
    };
    EXPECT_EQ(std::memcmp(leaf, expect, sizeof expect), 0);
}

TEST(IndexWriterPages, OmitHeaderRepeatsTheBodyPosition) {
    Keys k;
    std::vector<INDEX_ITEM> items = {item(k.add("\x82\x60"), 2, 3 * 2048 + 8, 0)};
    items[0].headingPos = 9 * 2048;
    Area a;
    a.write(items, CIndexWriter::kPlain, 1);
    const unsigned char* e = a.block(kStart + 1) + 4;
    EXPECT_EQ(std::memcmp(e + 3, e + 9, 6), 0);
    EXPECT_EQ(be32(e + 9), 3u);
    EXPECT_EQ(be16(e + 13), 8u);
}

// 841 keys of 128 bytes fill 14 a page: 61 leaf pages, two upper levels.
TEST(IndexWriterPages, SixtyOneLeavesMakeTwoUpperLevels) {
    Keys k;
    std::vector<INDEX_ITEM> items;
    for (int i = 0; i < 841; ++i)
        items.push_back(item(k.add(wideKey(i, 64)), 128, 2048 * 2 + i, static_cast<uint32_t>(i)));
    Area a;
    ASSERT_EQ(a.write(items, CIndexWriter::kPlain), 61);
    EXPECT_EQ(CIndexWriter::reservedPages(61), 3);
    EXPECT_EQ(a.writer.levelCount(), 2);
    ASSERT_EQ(a.blocks(), 3u + 61u);

    const unsigned char* root = a.block(kStart);
    EXPECT_EQ(root[0], 0x60);
    ASSERT_EQ(be16(root + 2), 2u);
    EXPECT_EQ(be32(root + 4 + 30), kStart + 1);
    EXPECT_EQ(be32(root + 4 + 34 + 30), kStart + 2);
    std::string ff(30, '\xFF');
    EXPECT_EQ(std::memcmp(root + 4 + 34, ff.data(), 30), 0) << "last record of the new level";

    const unsigned char* first = a.block(kStart + 1);
    const unsigned char* second = a.block(kStart + 2);
    EXPECT_EQ(first[0], 0x40);
    EXPECT_EQ(be16(first + 2), 60u);
    EXPECT_EQ(second[0], 0x20);
    EXPECT_EQ(be16(second + 2), 1u);
    // The records point at the leaves in order; the last at the last leaf.
    EXPECT_EQ(be32(first + 4 + 30), kStart + 3);
    EXPECT_EQ(be32(second + 4 + 30), kStart + 3 + 60);

    EXPECT_EQ(a.block(kStart + 3)[0], 0xC0);
    EXPECT_EQ(a.block(kStart + 4)[0], 0x80);
    EXPECT_EQ(a.block(kStart + 3 + 60)[0], 0xA0);
    EXPECT_EQ(be16(a.block(kStart + 3) + 2), 14u);
    EXPECT_EQ(be16(a.block(kStart + 3 + 60) + 2), 1u);
    // The upper key of a leaf is its last key cut to 30 bytes (JIS).
    EXPECT_EQ(std::memcmp(first + 4, a.block(kStart + 3) + 4 + 13 * 141 + 1, 30), 0);
}

TEST(IndexWriterPages, ReservedPagesPerLeafCount) {
    struct Case {
        int leaves, reserved;
    } cases[] = {{0, 1}, {1, 1}, {2, 1}, {60, 1}, {61, 3}, {3600, 61}, {3601, 64}};
    for (const Case& c : cases) EXPECT_EQ(CIndexWriter::reservedPages(c.leaves), c.reserved) << c.leaves;
}

// A keyword group larger than a page: one header, members going on in the
// next page without a second header; the count covers the whole group.
TEST(IndexWriterPages, GroupCrossesAPageBoundary) {
    Keys k;
    const char* key = k.add("\x82\x60\x82\x61");
    std::vector<INDEX_ITEM> items;
    items.push_back(item(k.add("\x82\x5F"), 2, 2048 * 2, 0));  // ＠: a single entry first
    for (int i = 0; i < 400; ++i) {
        items.push_back(item(key, 4, 2048 * 3 + i, static_cast<uint32_t>(i + 1)));
        items.back().headingPos = 2048 * 50 + i;
    }
    CIndexWriter::markGroups(items.data(), items.size());
    EXPECT_FALSE(items[0].flags & ENTRY_GROUP);
    EXPECT_TRUE(items[1].flags & ENTRY_GROUP);
    Area a;
    ASSERT_EQ(a.write(items, CIndexWriter::kGrouped), 2);
    const unsigned char* p1 = a.block(kStart + 1);
    const unsigned char* p2 = a.block(kStart + 2);
    EXPECT_EQ(p1[0], 0xD0);
    EXPECT_EQ(p2[0], 0xB0);
    // Page 1: the single entry (2 + 14 bytes), the header (4 + 12), members.
    const unsigned char* h = p1 + 4 + 16;
    EXPECT_EQ(p1[4], 0x00);
    EXPECT_EQ(h[0], 0x80);
    EXPECT_EQ(h[1], 4);
    EXPECT_EQ(be32(h + 2), 400u);
    EXPECT_EQ(be32(h + 10), 50u);  // heading of the group's first entry
    EXPECT_EQ(be16(h + 14), 0u);
    EXPECT_EQ(h[16], 0xC0);
    int onFirst = (2047 - (4 + 16 + 16)) / 7;
    EXPECT_EQ(be16(p1 + 2), static_cast<unsigned>(2 + onFirst));
    EXPECT_EQ(p2[4], 0xC0) << "no second header";
    EXPECT_EQ(be16(p2 + 2), static_cast<unsigned>(400 - onFirst));
    // Upper key of both pages: the group key.
    const unsigned char* root = a.block(kStart);
    EXPECT_EQ(std::memcmp(root + 4, root + 4 + 34, 30), 0);
}

// Multi-search sub-indexes: a group header of key length + 6 bytes without a
// heading, members of 13 bytes with their own heading positions, and the
// lower admission limits of these pages (2028 for a header, 2034 for a
// member).
TEST(IndexWriterPages, ComplexGroupMembersCarryTheirHeadings) {
    Keys k;
    const char* key = k.add("\x82\x60\x82\x61");
    std::vector<INDEX_ITEM> items;
    items.push_back(item(k.add("\x82\x5F"), 2, 2048 * 2, 0));  // a single entry first
    for (int i = 0; i < 400; ++i) {
        items.push_back(item(key, 4, 2048 * 3 + i, static_cast<uint32_t>(i + 1)));
        items.back().headingPos = 2048 * 50 + i;
    }
    CIndexWriter::markGroups(items.data(), items.size());
    Area a;
    ASSERT_EQ(a.write(items, CIndexWriter::kComplexGrouped), 3);
    const unsigned char* p1 = a.block(kStart + 1);
    EXPECT_EQ(p1[0], 0xD0);
    EXPECT_EQ(a.block(kStart + 2)[0], 0x90);
    EXPECT_EQ(a.block(kStart + 3)[0], 0xB0);
    // The single entry (2 + 14 bytes), then the header: 0x80, key length,
    // member count, key, and the first member right after it.
    EXPECT_EQ(p1[4], 0x00);
    EXPECT_EQ(be32(p1 + 4 + 2 + 2), 2u);  // its body block
    const unsigned char* h = p1 + 4 + 16;
    EXPECT_EQ(h[0], 0x80);
    EXPECT_EQ(h[1], 4);
    EXPECT_EQ(be32(h + 2), 400u);
    const unsigned char* m = h + 10;
    for (int i = 0; i < 3; ++i, m += 13) {
        EXPECT_EQ(m[0], 0xC0);
        EXPECT_EQ(be32(m + 1), 3u);
        EXPECT_EQ(be16(m + 5), static_cast<unsigned>(i));
        EXPECT_EQ(be32(m + 7), 50u);
        EXPECT_EQ(be16(m + 11), static_cast<unsigned>(i));
    }
    const int onFirst = (2034 - (4 + 16 + 10)) / 13;
    const int onSecond = (2034 - 4) / 13;
    EXPECT_EQ(be16(p1 + 2), static_cast<unsigned>(2 + onFirst));
    EXPECT_EQ(be16(a.block(kStart + 2) + 2), static_cast<unsigned>(onSecond));
    EXPECT_EQ(be16(a.block(kStart + 3) + 2), static_cast<unsigned>(400 - onFirst - onSecond));
    EXPECT_EQ(a.block(kStart + 2)[4], 0xC0) << "no second header";
}

TEST(IndexWriterPages, KanaGroupsCarryTheirOwnKeys) {
    Keys k;
    // Folded key かつこう; members がっこう and かっこう; a single かんじ.
    const char* folded = k.add("\x82\xa9\x82\xc2\x82\xb1\x82\xa4");
    const char* gakkou = k.add("\x82\xaa\x82\xc1\x82\xb1\x82\xa4");
    const char* kakkou = k.add("\x82\xa9\x82\xc1\x82\xb1\x82\xa4");
    const char* kanji = k.add("\x82\xa9\x82\xf1\x82\xb6");
    std::vector<INDEX_ITEM> items;
    items.push_back(item(kanji, 6, 2048 * 4, 0));
    items.back().exactKey = kanji;
    items.back().exactLen = 6;
    items.push_back(item(folded, 8, 2048 * 3, 1));
    items.back().exactKey = kakkou;
    items.back().exactLen = 8;
    items.push_back(item(folded, 8, 2048 * 2, 2));
    items.back().exactKey = gakkou;
    items.back().exactLen = 8;
    CIndexWriter::sortItems(items.data(), items.size());
    CIndexWriter::markKanaGroups(items.data(), items.size());
    // Sorted by folded key then own key: かっこう (0x82A9..) before がっこう.
    EXPECT_EQ(items[0].exactKey, kakkou);
    EXPECT_EQ(items[1].exactKey, gakkou);
    EXPECT_EQ(items[2].exactKey, kanji);
    EXPECT_TRUE(items[0].flags & ENTRY_GROUP);
    EXPECT_FALSE(items[2].flags & ENTRY_GROUP);
    Area a;
    a.write(items, CIndexWriter::kKana);
    const unsigned char* p = a.block(kStart + 1);
    EXPECT_EQ(p[0], 0xF0);
    EXPECT_EQ(be16(p + 2), 4u);  // header, two members, one single
    const unsigned char* h = p + 4;
    EXPECT_EQ(h[0], 0x80);
    EXPECT_EQ(h[1], 8);
    EXPECT_EQ(be16(h + 2), 2u);
    const unsigned char kaTuKoU[] = {0x24, 0x2B, 0x24, 0x44, 0x24, 0x33, 0x24, 0x26};
    EXPECT_EQ(std::memcmp(h + 4, kaTuKoU, 8), 0);
    const unsigned char* m = h + 12;
    EXPECT_EQ(m[0], 0xC0);
    EXPECT_EQ(m[1], 8);
    EXPECT_EQ(m[2 + 2], 0x24);
    EXPECT_EQ(m[2 + 3], 0x43);  // っ kept in the member's own key
    EXPECT_EQ(be32(m + 10), 3u);
    const unsigned char* s = m + 22 + 22;
    EXPECT_EQ(s[0], 0x00);
    EXPECT_EQ(s[1], 6);
    EXPECT_EQ(be32(s + 8), 4u);
}

TEST(IndexWriterSort, TiesKeepCollectionOrderAndGroupsCompareExactBytes) {
    Keys k;
    const char* a = k.add("\x83\x41");   // ア
    const char* di = k.add("\x83\x61");  // ヂ: equal to ア under an ASCII case fold
    std::vector<INDEX_ITEM> items = {item(a, 2, 2048 * 2, 2), item(a, 2, 2048 * 2, 1), item(di, 2, 2048 * 2, 0)};
    CIndexWriter::sortItems(items.data(), items.size());
    EXPECT_EQ(items[0].order, 1u);
    EXPECT_EQ(items[1].order, 2u);
    EXPECT_EQ(items[2].order, 0u);
    CIndexWriter::markGroups(items.data(), items.size());
    EXPECT_TRUE(items[0].flags & ENTRY_GROUP);
    EXPECT_TRUE(items[1].flags & ENTRY_GROUP);
    EXPECT_FALSE(items[2].flags & ENTRY_GROUP);
}

// Readers compare the stored (JIS) keys and stop at the first larger one,
// so the leaves must be in the order of the stored bytes even where that is
// not the Shift_JIS order: a user-defined code is stored as 〓 (21 2E
// after JIS 3A 34 for 佐 here), a value that is no Shift_JIS code as it is.
TEST(IndexWriterSort, LeavesAscendInTheStoredForm) {
    Keys k;
    std::vector<INDEX_ITEM> items = {
        item(k.add("\x8d\xb2\x81\x20"), 4, 2048 * 2, 0),  // 佐 + no Shift_JIS code: stored 81 20
        item(k.add("\x8d\xb2\x8d\xb0"), 4, 2048 * 3, 1),  // 佐 + 8D B0: 3A 32
        item(k.add("\x8d\xb2\x93\xa1"), 4, 2048 * 4, 2),  // 佐藤: 46 23
        item(k.add("\x8d\xb2\xf0\x40"), 4, 2048 * 5, 3),  // 佐 + user-defined code: 22 2E
        item(k.add("\x8d\xb2\xf0\x41"), 4, 2048 * 6, 4),  // another one, stored alike
    };
    CIndexWriter::sortItems(items.data(), items.size());
    CIndexWriter::markGroups(items.data(), items.size());
    Area a;
    ASSERT_EQ(a.write(items, CIndexWriter::kGrouped), 1);
    const unsigned char* p = a.block(kStart + 1);
    ASSERT_EQ(be16(p + 2), 6u);  // a group of the two stored alike (header, 2 members), 3 singles
    std::vector<std::string> stored;
    const unsigned char* e = p + 4;
    for (int i = 0; i < 6; ++i) {
        if (e[0] == 0xC0) {
            e += 7;
            continue;
        }
        stored.push_back(std::string(reinterpret_cast<const char*>(e + (e[0] == 0x80 ? 6 : 2)), e[1]));
        e += e[0] == 0x80 ? e[1] + 12 : e[1] + 14;
    }
    const std::vector<std::string> want = {"\x3a\x34\x22\x2e", "\x3a\x34\x3a\x32", "\x3a\x34\x46\x23",
                                           "\x3a\x34\x81\x20"};
    EXPECT_EQ(stored, want);
    EXPECT_EQ(p[4], 0x80) << "the two codes stored alike form one group";
    EXPECT_EQ(be32(p + 4 + 2), 2u);
}

// ---- the pages as a book reader's searches walk them ----
//
// A reader of index pages written from the reading side's own rules: the
// descent from the root by the highest keys of the children (30-byte keys,
// zero-filled) and the leaf scan that stops at the first larger key, with
// the entry layouts of the index styles 2 (word and kana indexes) and 3
// (keyword and cross indexes). Queries are given in their stored form: A
// the fully folded key, B the kana key as typed (for other indexes B = A).
struct PageWalker {
    Area& area;
    uint32_t end;  // last block of the area

    struct Hit {
        uint32_t textBlock, textOffset, headBlock, headOffset;
    };

    static int compareKey(const std::string& key, const unsigned char* entry, int el, bool exact, bool descent) {
        const int kl = static_cast<int>(key.size());
        int i = 0;
        for (; i < kl && i < el; ++i) {
            int d = static_cast<unsigned char>(key[i]) - entry[i];
            if (d != 0) return d;
        }
        if (!descent && i < kl) return kl - i;
        if (!exact) return 0;
        return (kl - i) - (el - i);
    }

    uint32_t findLeaf(const std::string& key) {
        uint32_t block = kStart;
        for (;;) {
            const unsigned char* p = area.block(block);
            if (p[0] & 0x80) break;
            const int fixed = p[1];
            const unsigned count = be16(p + 2);
            const unsigned char* e = p + 4;
            uint32_t next = 0, last = 0;
            for (unsigned i = 0; i < count; ++i) {
                int kl = fixed ? fixed : *e++;
                uint32_t child = be32(e + kl);
                last = child;
                if (compareKey(key, e, kl, false, true) <= 0) {
                    next = child;
                    break;
                }
                e += kl + 4;
            }
            if (next == 0) next = (p[0] & 0x20) ? last : block + 1;
            if (next < kStart || next > end) return 0;
            block = next;
        }
        return block;
    }

    std::vector<Hit> search(const std::string& a, const std::string& b, bool exact, int style) {
        std::vector<Hit> hits;
        uint32_t block = findLeaf(a);
        if (block == 0) return hits;
        std::string groupKey;
        for (; block <= end; ++block) {
            const unsigned char* p = area.block(block);
            if (!(p[0] & 0x80)) return hits;
            const bool grouped = (p[0] & 0x10) != 0;
            const unsigned count = be16(p + 2);
            const unsigned char* e = p + 4;
            auto pos = [](const unsigned char* q) { return std::make_pair(be32(q), be16(q + 4)); };
            auto add = [&](const unsigned char* text, const unsigned char* head) {
                hits.push_back({pos(text).first, pos(text).second, pos(head).first, pos(head).second});
            };
            for (unsigned i = 0; i < count; ++i) {
                const int type = grouped ? *e++ : 0x00;
                if (type == 0x00) {
                    const int kl = *e++;
                    const int c = compareKey(a, e, kl, exact, false);
                    if (c < 0) return hits;
                    if (c == 0 && compareKey(b, e, kl, exact, false) == 0) add(e + kl, e + kl + 6);
                    e += kl + 12;
                } else if (type == 0x80) {
                    const int kl = *e++;
                    const int skip = style == 2 ? 2 : 4;
                    groupKey.assign(reinterpret_cast<const char*>(e + skip), static_cast<size_t>(kl));
                    if (compareKey(a, e + skip, kl, exact, false) < 0) return hits;
                    e += skip + kl + (style == 3 ? 6 : 0);
                } else if (type == 0xC0 && style == 2) {
                    const int kl = *e++;
                    if (compareKey(b, e, kl, exact, false) == 0) add(e + kl, e + kl + 6);
                    e += kl + 12;
                } else if (type == 0xC0) {
                    const int c = compareKey(b, reinterpret_cast<const unsigned char*>(groupKey.data()),
                                             static_cast<int>(groupKey.size()), exact, false);
                    if (c < 0) return hits;
                    if (c == 0) add(e, e);
                    e += 6;
                } else {
                    return hits;
                }
            }
        }
        return hits;
    }
};

// Stored (JIS) form of a Shift_JIS key.
std::string stored(const std::string& sjis) {
    std::string out;
    for (size_t i = 0; i + 1 < sjis.size(); i += 2) {
        unsigned j =
            jclib::sjisToJis((static_cast<unsigned char>(sjis[i]) << 8) | static_cast<unsigned char>(sjis[i + 1]));
        out += static_cast<char>(j >> 8);
        out += static_cast<char>(j & 0xFF);
    }
    return out;
}

// Every key of a word index with two upper levels is found by a whole-key
// search, and prefix searches find their runs, across the page boundaries.
TEST(IndexWriterWalk, EveryKeyOfATwoLevelIndexIsFound) {
    Keys k;
    std::vector<INDEX_ITEM> items;
    // 40-character keys sharing their first 35: the upper keys are cut.
    const int n = 5000;
    for (int i = 0; i < n; ++i)
        items.push_back(
            item(k.add(wideKey(i, 40)), 80, 2048 * (2 + static_cast<uint64_t>(i)), static_cast<uint32_t>(i)));
    Area a;
    const int leaves = a.write(items, CIndexWriter::kPlain);
    ASSERT_GT(leaves, 60);
    ASSERT_EQ(a.writer.levelCount(), 2);
    PageWalker w{a, kStart + a.blocks() - 1};
    for (int i = 0; i < n; ++i) {
        std::string key = stored(wideKey(i, 40));
        std::vector<PageWalker::Hit> hits = w.search(key, key, true, 2);
        ASSERT_EQ(hits.size(), 1u) << i;
        EXPECT_EQ(hits[0].textBlock, static_cast<uint32_t>(2 + i)) << i;
    }
    // A prefix of all but the last digit: ten keys, wherever they lie.
    for (int first : {0, 1230, 4990}) {
        std::string key = stored(wideKey(first, 40)).substr(0, 78);
        EXPECT_EQ(w.search(key, key, false, 2).size(), 10u) << first;
    }
    std::string missing = stored(wideKey(n, 40));
    EXPECT_TRUE(w.search(missing, missing, true, 2).empty());
    std::string before = stored("\x82\x60");  // Ａ: a prefix of every key
    EXPECT_EQ(w.search(before, before, false, 2).size(), static_cast<size_t>(n));
}

// Keyword groups, equal word keys and kana groups running over several
// pages: every member is found, each with its own position; kana members by
// their own reading.
TEST(IndexWriterWalk, GroupMembersAcrossPagesAreFound) {
    Keys k;
    // Keyword index: a single, a group of 700 (several pages), a single.
    {
        const char* common = k.add("\x82\x62\x82\x6e\x82\x6c");  // ＣＯＭ
        std::vector<INDEX_ITEM> items = {item(k.add("\x82\x60"), 2, 2048 * 2, 0)};
        for (int i = 0; i < 700; ++i) {
            items.push_back(item(common, 6, 2048 * 3 + i, static_cast<uint32_t>(i + 1)));
            items.back().headingPos = 2048 * 9;
        }
        items.push_back(item(k.add("\x82\x79"), 2, 2048 * 4, 701));  // Ｚ
        CIndexWriter::markGroups(items.data(), items.size());
        Area a;
        ASSERT_GE(a.write(items, CIndexWriter::kGrouped), 3);
        PageWalker w{a, kStart + a.blocks() - 1};
        std::string key = stored("\x82\x62\x82\x6e\x82\x6c");
        std::vector<PageWalker::Hit> hits = w.search(key, key, true, 3);
        ASSERT_EQ(hits.size(), 700u);
        for (int i = 0; i < 700; ++i) EXPECT_EQ(hits[static_cast<size_t>(i)].textOffset, static_cast<uint32_t>(i));
        EXPECT_EQ(w.search(stored("\x82\x79"), stored("\x82\x79"), true, 3).size(), 1u);
        EXPECT_EQ(w.search(stored("\x82\x60"), stored("\x82\x60"), true, 3).size(), 1u);
    }
    // Word index: 300 equal keys over several plain leaves.
    {
        const char* same = k.add("\x82\x72\x82\x60\x82\x6c\x82\x64");  // ＳＡＭＥ
        std::vector<INDEX_ITEM> items = {item(k.add("\x82\x60"), 2, 2048 * 2, 0)};
        for (int i = 0; i < 300; ++i) items.push_back(item(same, 8, 2048 * 3 + i, static_cast<uint32_t>(i + 1)));
        items.push_back(item(k.add("\x82\x79"), 2, 2048 * 4, 301));
        Area a;
        ASSERT_GE(a.write(items, CIndexWriter::kPlain), 3);
        PageWalker w{a, kStart + a.blocks() - 1};
        std::string key = stored("\x82\x72\x82\x60\x82\x6c\x82\x64");
        EXPECT_EQ(w.search(key, key, true, 2).size(), 300u);
        EXPECT_EQ(w.search(key.substr(0, 2), key.substr(0, 2), false, 2).size(), 300u);
    }
    // Kana index: 300 readings かっこう and 300 がっこう fold to かつこう.
    {
        const char* folded = k.add("\x82\xa9\x82\xc2\x82\xb1\x82\xa4");
        const char* kakkou = k.add("\x82\xa9\x82\xc1\x82\xb1\x82\xa4");
        const char* gakkou = k.add("\x82\xaa\x82\xc1\x82\xb1\x82\xa4");
        std::vector<INDEX_ITEM> items;
        for (int i = 0; i < 600; ++i) {
            items.push_back(item(folded, 8, 2048 * 3 + i, static_cast<uint32_t>(i)));
            items.back().exactKey = i % 2 ? gakkou : kakkou;
            items.back().exactLen = 8;
            items.back().headingPos = 2048 * 20 + i;
        }
        CIndexWriter::sortItems(items.data(), items.size());
        CIndexWriter::markKanaGroups(items.data(), items.size());
        Area a;
        ASSERT_GE(a.write(items, CIndexWriter::kKana), 3);
        PageWalker w{a, kStart + a.blocks() - 1};
        for (const char* exact : {kakkou, gakkou}) {
            std::vector<PageWalker::Hit> hits = w.search(stored(folded), stored(exact), true, 2);
            ASSERT_EQ(hits.size(), 300u);
            for (const PageWalker::Hit& h : hits) {
                EXPECT_EQ(h.textOffset % 2, exact == gakkou ? 1u : 0u);
                EXPECT_EQ(h.headOffset, h.textOffset) << "each member has its own heading";
            }
        }
    }
}

TEST(IndexWriterHeadings, CutAtTitleLenWithEllipsis) {
    struct Case {
        const char* name;
        std::string heading;
        int titleLen;
        int written;  // bytes of heading written
        bool ellipsis;
    } cases[] = {
        {"exactly titleLen", "ABCD", 4, 4, false},
        {"one over", "ABCDE", 4, 4, true},
        {"two-byte character not split", "\x82\xa0\x82\xa2\x82\xa4", 5, 4, true},
        {"reference not split", "a&amp;b", 3, 1, true},
        {"no limit", "ABCDE", 0, 5, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CIndexWriter::headingCut(c.heading.data(), static_cast<int>(c.heading.size()), c.titleLen), c.written)
            << c.name;
        CBlockStream s(kStart, 0);
        CIndexWriter w;
        std::vector<INDEX_ITEM> items = {
            item("\x82\x60", 2, 2048 * 2, 0, c.heading.data(), static_cast<int>(c.heading.size()))};
        w.writeHeadings(&s, items.data(), 1, c.titleLen);
        const unsigned char* p = s.page(0);
        EXPECT_EQ(be16(p), 0x1F02u);
        EXPECT_EQ(items[0].headingPos, uint64_t(kStart) * 2048 + 2) << c.name;
        // Find the newline after the heading and look before it.
        int i = 2;
        while (i < 2040 && be16(p + i) != 0x1F0A) i += 2;
        ASSERT_LT(i, 2040) << c.name;
        EXPECT_EQ(be16(p + i - 2) == 0x2144, c.ellipsis) << c.name;  // 81 63 is JIS 21 44
        EXPECT_EQ(be16(p + i + 2), 0x1F03u) << c.name;
    }
}

TEST(IndexWriterHeadings, EmptyAreaHoldsStartAndEnd) {
    CBlockStream s(kStart, 0);
    CIndexWriter w;
    w.writeHeadings(&s, nullptr, 0, 128);
    EXPECT_EQ(be16(s.page(0)), 0x1F02u);
    EXPECT_EQ(be16(s.page(0) + 2), 0x1F03u);
}

}  // namespace
