// CIndexWriter: writes the pages of one search index area and its heading
// area from the sorted selected entries of a book (INDEX_ITEM records).
//
// An index area is a B-tree of 2048-byte pages: the upper pages first (the
// root at the area's first block, then each lower level), then the leaf
// pages holding every key with its text and heading positions. The number
// of leaf pages is counted first so that the upper pages can be reserved
// ahead of the leaves and no page ever moves.
//
// Leaf layouts:
//  - plain (word indexes): keyLen, key, text position, heading position;
//  - grouped (keyword and cross indexes): single entries, group headers
//    (key, member count, the group's heading) and members (text position);
//  - kana (kana indexes): single entries with the folded key; a group header
//    with a 2-byte member count and the folded key, each member carrying its
//    own kana key, text and heading positions;
//  - complex grouped (multi-search sub-indexes): single entries as in the
//    grouped layout; a group header of keyLen + 6 bytes (key and member
//    count, no heading), members of 13 bytes (text and heading position);
//    lower admission limits.
// Positions are a 4-byte block and a 2-byte offset, big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "builder/index/SearchEntries.h"

class CBlockStream;

class CIndexWriter {
public:
    enum Layout { kPlain = 0, kGrouped = 1, kKana = 2, kComplexGrouped = 3 };

    static const int kNodeKeyLen = 30;      // key field of an upper record
    static const int kRecordsPerPage = 60;  // records of an upper page
    static const int kMaxLevels = 6;        // levels of the node table

    CIndexWriter();

    // Initial room of the node array (it grows as needed).
    void setWorkSize(size_t records);
    // Called once per entry or page; it throws to cancel the build.
    void setCancelCheck(std::function<void()> check) { m_cancel = std::move(check); }
    // Receives the progress (0-100) per leaf page and 100 at the end.
    void setProgress(std::function<void(int)> progress) { m_progress = std::move(progress); }

    // Sort order of every index: key bytes as the pages hold them (JIS X
    // 0208; unsigned, over the shorter key), the shorter key first, then the
    // exact key likewise (kana indexes), then body position, then
    // collection order.
    static bool itemLess(const INDEX_ITEM& a, const INDEX_ITEM& b);
    static void sortItems(INDEX_ITEM* items, size_t n);
    // Keyword family: flag ENTRY_GROUP on every run of two or more
    // neighbours with the same key (exact stored bytes and length); cleared
    // on the others.
    static void markGroups(INDEX_ITEM* items, size_t n);
    // Kana indexes: ENTRY_GROUP on an entry whose own key differs from its
    // folded key (by more than dropped marks, ITEM_MARKS_ONLY), and on every
    // run of neighbours with the same folded key.
    static void markKanaGroups(INDEX_ITEM* items, size_t n);

    // Bytes of heading (len bytes) that fit in limit bytes, never splitting
    // a two-byte character, an escape code or a "&...;" reference. A limit
    // of 0 or less means no limit.
    static int headingCut(const char* heading, int len, int limit);

    // Heading area: 0x1F02, each item's heading (cut to titleLen) with the
    // ellipsis 81 63 when cut, and 0x1F0A; 0x1F03 at the end. Sets every
    // item's headingPos.
    void writeHeadings(CBlockStream* stream, INDEX_ITEM* items, size_t n, int titleLen);

    // Index area into a fresh stream starting at the area's first block:
    // reserved upper pages, leaves, then the upper pages. Returns the number
    // of leaf pages. Throws "indexRoot[] overflow" when the levels do not fit.
    int writeIndex(CBlockStream* stream, const INDEX_ITEM* items, size_t n, Layout layout, int omitHeader);

    // Upper pages reserved for a number of leaf pages.
    static int reservedPages(int leafPages);
    // Levels of the last index written (1 = the root points at the leaves).
    int levelCount() const { return m_levels; }

private:
    struct Node {
        unsigned char key[kNodeKeyLen];  // JIS, zero-filled
        uint8_t isLeaf;
        uint32_t child;
    };

    int writeLeaves(CBlockStream* stream, const INDEX_ITEM* items, size_t n, Layout layout, int omitHeader,
                    bool dryRun);
    void addUpperNode(const char* sjisKey, int keyLen, int isLeaf, uint32_t child);
    void buildUpperLevels();
    void writeUpperLevels(CBlockStream* stream, uint32_t areaStart);
    size_t levelSize(int level) const;
    void poll() const {
        if (m_cancel) m_cancel();
    }

    std::vector<Node> m_nodes;
    size_t m_levelStart[kMaxLevels];
    uint32_t m_pagesBefore[kMaxLevels];
    int m_levels;
    size_t m_workSize;
    std::function<void()> m_cancel;
    std::function<void(int)> m_progress;
};
