// Search index pages: heading areas, leaf pages in the plain, grouped and kana
// layouts, and the upper levels of the B-tree above them.
#include "builder/index/CIndexWriter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "foundation/book/BookConstants.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/book/escapecodes.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

const int kLimit = 2047;             // bytes a leaf page may use
const int kGroupHeaderLimit = 2040;  // keyword family: header admission
const int kComplexHeaderLimit = 2028;
const int kComplexMemberLimit = 2034;

using byteorder::putBe16;
using byteorder::putBe32;

// Block and offset of a position kept as block * 2048 + offset.
void putPos(unsigned char* p, uint64_t pos) {
    putBe32(p, static_cast<uint32_t>(pos / kBlockSize));
    putBe16(p + 4, static_cast<unsigned>(pos % kBlockSize));
}

// JIS X 0208 code of every two-byte value of a key. The user-defined area
// has no book code (as in body text); a value that is no Shift_JIS code is
// kept as it stands.
struct JisTable {
    uint16_t code[65536];
    JisTable() {
        for (unsigned c = 0; c < 65536; ++c) {
            unsigned j = c;
            if (jclib::isSjisCode(c)) j = jclib::sjisToJis(c >= 0xF040 ? 0x81AC : c);
            code[c] = static_cast<uint16_t>(j);
        }
    }
};

const JisTable& jisTable() {
    static const JisTable table;
    return table;
}

// Shift_JIS key (two bytes a character) as JIS X 0208 codes, the form the
// pages hold.
void putKey(unsigned char* out, const char* key, int len) {
    const uint16_t* jis = jisTable().code;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(key);
    int i = 0;
    for (; i + 1 < len; i += 2) {
        unsigned j = jis[s[i] * 256u + s[i + 1]];
        out[i] = static_cast<unsigned char>(j >> 8);
        out[i + 1] = static_cast<unsigned char>(j);
    }
    if (i < len) out[i] = s[i];
}

// Byte i of a key as the pages hold it. Entries are sorted in this form,
// not in Shift_JIS: codes that have no book code (the user-defined area)
// are stored as 〓, and a value that is no Shift_JIS code is kept as it
// stands, so the Shift_JIS order is not the order of the stored keys, and
// readers, which compare the stored bytes, stop at the first larger key.
inline unsigned storedByte(const uint16_t* jis, const unsigned char* s, int len, int i) {
    if ((i | 1) >= len) return s[i];  // an odd last byte is kept as it is
    unsigned j = jis[s[i & ~1] * 256u + s[i | 1]];
    return (i & 1) ? (j & 0xFF) : (j >> 8);
}

// The first 8 stored bytes of a key (from an even offset), zero-padded.
uint64_t keyPrefix(const char* key, int len) {
    const uint16_t* jis = jisTable().code;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(key);
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | (i < len ? storedByte(jis, s, len, i) : 0u);
    return v;
}

// Unsigned order of the stored forms over the shorter key, then the
// shorter first.
inline int compareStored(const char* a, int al, const char* b, int bl) {
    const uint16_t* jis = jisTable().code;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    const int n = al < bl ? al : bl;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        unsigned x = jis[p[i] * 256u + p[i + 1]];
        unsigned y = jis[q[i] * 256u + q[i + 1]];
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < n) {
        unsigned x = storedByte(jis, p, al, i);
        unsigned y = storedByte(jis, q, bl, i);
        if (x != y) return x < y ? -1 : 1;
    }
    return al - bl;
}

// Unsigned byte order over the shorter key, then the shorter first. Keys
// are short, so a plain loop beats a library call here.
inline int compareBytes(const char* a, int al, const char* b, int bl) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    const int n = al < bl ? al : bl;
    for (int i = 0; i < n; ++i)
        if (p[i] != q[i]) return p[i] < q[i] ? -1 : 1;
    return al - bl;
}

// Equal keys as the pages hold them, so that a group is one run of the sort.
bool sameKey(const INDEX_ITEM& a, const INDEX_ITEM& b) {
    return a.keyLen == b.keyLen && (a.keyLen == 0 || compareStored(a.key, a.keyLen, b.key, b.keyLen) == 0);
}

// Walks the runs of equal keys of sorted items and sets each item's
// ENTRY_GROUP flag where grouped(item, the run has two or more items) holds,
// clearing it elsewhere.
template <class Grouped>
void markRuns(INDEX_ITEM* items, size_t n, Grouped grouped) {
    size_t i = 0;
    while (i < n) {
        size_t j = i + 1;
        while (j < n && sameKey(items[i], items[j])) ++j;
        for (size_t k = i; k < j; ++k) {
            if (grouped(items[k], j - i >= 2))
                items[k].flags |= ENTRY_GROUP;
            else
                items[k].flags &= static_cast<uint8_t>(~ENTRY_GROUP);
        }
        i = j;
    }
}

// One leaf page being filled.
struct LeafPage {
    unsigned char bytes[kBlockSize];
    int used = 4;
    int count = 0;
    const char* lastKey = nullptr;
    int lastKeyLen = 0;

    void reset() {
        std::memset(bytes, 0, sizeof bytes);
        used = 4;
        count = 0;
    }
    // Room for a record of n bytes; null when only counting pages.
    unsigned char* take(int n, bool fill) {
        unsigned char* p = bytes + used;
        used += n;
        ++count;
        return fill ? p : nullptr;
    }
};

}  // namespace

CIndexWriter::CIndexWriter() : m_levelStart(), m_pagesBefore(), m_levels(0), m_workSize(1000) {}

void CIndexWriter::setWorkSize(size_t records) {
    m_workSize = records;
    if (m_nodes.capacity() < records) m_nodes.reserve(records);
}

bool CIndexWriter::itemLess(const INDEX_ITEM& a, const INDEX_ITEM& b) {
    int c = compareStored(a.key, a.keyLen, b.key, b.keyLen);
    if (c != 0) return c < 0;
    c = compareStored(a.exactKey, a.exactLen, b.exactKey, b.exactLen);
    if (c != 0) return c < 0;
    if (a.bodyPos != b.bodyPos) return a.bodyPos < b.bodyPos;
    return a.order < b.order;
}

void CIndexWriter::sortItems(INDEX_ITEM* items, size_t n) {
    // Sorted as small records of the first 16 bytes of the key and of the
    // exact key, the body position and the item's place, which keeps most
    // comparisons in cache.
    // Zero-padded prefixes that differ order two keys as the whole keys do
    // (a key that ends inside the other's prefix sorts first either way);
    // keys of at most 16 bytes with equal prefixes differ at most in length.
    struct Rec {
        uint64_t p0, p1;  // key
        uint64_t e0, e1;  // exact key (kana indexes)
        uint64_t bodyPos;
        uint32_t index;
        uint8_t keyLen;
        uint8_t exactLen;
    };
    std::vector<Rec> recs(n);
    for (size_t i = 0; i < n; ++i) {
        const INDEX_ITEM& e = items[i];
        Rec& r = recs[i];
        r.p0 = keyPrefix(e.key, e.keyLen);
        r.p1 = e.keyLen > 8 ? keyPrefix(e.key + 8, e.keyLen - 8) : 0;
        r.e0 = keyPrefix(e.exactKey, e.exactLen);
        r.e1 = e.exactLen > 8 ? keyPrefix(e.exactKey + 8, e.exactLen - 8) : 0;
        r.bodyPos = e.bodyPos;
        r.index = static_cast<uint32_t>(i);
        r.keyLen = e.keyLen;
        r.exactLen = e.exactLen;
    }
    std::sort(recs.begin(), recs.end(), [items](const Rec& a, const Rec& b) {
        if (a.p0 != b.p0) return a.p0 < b.p0;
        if (a.p1 != b.p1) return a.p1 < b.p1;
        if (a.keyLen > 16 || b.keyLen > 16) return itemLess(items[a.index], items[b.index]);
        if (a.keyLen != b.keyLen) return a.keyLen < b.keyLen;
        if (a.e0 != b.e0) return a.e0 < b.e0;
        if (a.e1 != b.e1) return a.e1 < b.e1;
        if (a.exactLen > 16 || b.exactLen > 16) return itemLess(items[a.index], items[b.index]);
        if (a.exactLen != b.exactLen) return a.exactLen < b.exactLen;
        if (a.bodyPos != b.bodyPos) return a.bodyPos < b.bodyPos;
        return items[a.index].order < items[b.index].order;
    });
    std::vector<INDEX_ITEM> sorted(n);
    for (size_t i = 0; i < n; ++i) sorted[i] = items[recs[i].index];
    std::copy(sorted.begin(), sorted.end(), items);
}

void CIndexWriter::markGroups(INDEX_ITEM* items, size_t n) {
    markRuns(items, n, [](const INDEX_ITEM&, bool several) { return several; });
}

void CIndexWriter::markKanaGroups(INDEX_ITEM* items, size_t n) {
    // A kana item whose own key differs from the folded one is a group too:
    // readers compare a group member with the word as typed. One that differs
    // only by dropped marks stands alone when no other item has its folded
    // key, so that the word is found with or without its marks.
    markRuns(items, n, [](const INDEX_ITEM& e, bool several) {
        return several ||
               (!(e.flags & ITEM_MARKS_ONLY) && compareBytes(e.key, e.keyLen, e.exactKey, e.exactLen) != 0);
    });
}

int CIndexWriter::headingCut(const char* heading, int len, int limit) {
    if (limit <= 0 || len <= limit) return len < 0 ? 0 : len;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(heading);
    int i = 0;
    while (i < len) {
        int step = 1;
        if (jclib::isSjisLead(s[i]) && i + 1 < len) {
            step = 2;
        } else if (s[i] == 0x1F && i + 1 < len) {
            step = 2;
        } else if (s[i] == '&') {
            for (int k = i + 1; k < len && k <= i + 10; ++k) {
                if (s[k] == ';') {
                    step = k - i + 1;
                    break;
                }
            }
        }
        if (i + step > limit) break;
        i += step;
    }
    return i;
}

void CIndexWriter::writeHeadings(CBlockStream* stream, INDEX_ITEM* items, size_t n, int titleLen) {
    stream->writeCode(EB_BEGIN_TEXT);
    for (size_t i = 0; i < n; ++i) {
        if ((i & 0xFF) == 0) poll();
        INDEX_ITEM& e = items[i];
        // Headings lie scattered in the string table: fetch ahead.
        if (i + 8 < n) __builtin_prefetch(items[i + 8].heading);
        BLOCK_POS pos;
        stream->tell(&pos);
        int cut = headingCut(e.heading, e.headingLen, titleLen);
        stream->writeText(e.heading, cut, 1, 0);
        bool shortened = cut < e.headingLen || ((e.flags & ENTRY_HEADING_CUT) && cut == e.headingLen);
        if (shortened) stream->writeText("\x81\x63", 2, 1, 0);
        stream->writeCode(EB_NEWLINE);
        e.headingPos = static_cast<uint64_t>(pos.block) * kBlockSize + pos.offset;
    }
    stream->writeCode(EB_END_TEXT);
}

int CIndexWriter::reservedPages(int leafPages) {
    if (leafPages < 2) return 1;
    int r = 0;
    int n = leafPages;
    while (n > 1) {
        n = (n + kRecordsPerPage - 1) / kRecordsPerPage;
        r += n;
    }
    return r;
}

void CIndexWriter::addUpperNode(const char* sjisKey, int keyLen, int isLeaf, uint32_t child) {
    Node node;
    std::memset(node.key, 0, sizeof node.key);
    int n = keyLen < kNodeKeyLen ? keyLen : kNodeKeyLen;
    if (n > 0) putKey(node.key, sjisKey, n);
    node.isLeaf = static_cast<uint8_t>(isLeaf);
    node.child = child;
    m_nodes.push_back(node);
}

size_t CIndexWriter::levelSize(int level) const {
    size_t end = level + 1 < m_levels ? m_levelStart[level + 1] : m_nodes.size();
    return end - m_levelStart[level];
}

int CIndexWriter::writeLeaves(CBlockStream* stream, const INDEX_ITEM* items, size_t n, Layout layout, int omitHeader,
                              bool dryRun) {
    LeafPage page;
    page.reset();
    const bool fill = !dryRun;
    int pages = 0;
    const bool grouped = layout != kPlain;
    const int headerLimit = layout == kComplexGrouped ? kComplexHeaderLimit : kGroupHeaderLimit;
    const int memberLimit = layout == kComplexGrouped ? kComplexMemberLimit : kLimit;

    size_t i = 0;
    auto emit = [&](bool last) {
        unsigned kind;
        if (grouped)
            kind = pages == 0 ? (last ? 0xF0 : 0xD0) : (last ? 0xB0 : 0x90);
        else
            kind = pages == 0 ? (last ? 0xE0 : 0xC0) : (last ? 0xA0 : 0x80);
        if (n == 0) kind = grouped ? 0xB0 : 0xA0;
        page.bytes[0] = static_cast<unsigned char>(kind);
        page.bytes[1] = 0;
        putBe16(page.bytes + 2, static_cast<unsigned>(page.count));
        if (!dryRun) {
            poll();
            stream->finish();
            uint32_t block = stream->currentBlock();
            stream->writeBytes(page.bytes, kBlockSize);
            if (page.count > 0) addUpperNode(page.lastKey, page.lastKeyLen, 1, block);
            if (m_progress && n > 0) m_progress(static_cast<int>(i * 100 / n));
        }
        ++pages;
        page.reset();
    };
    auto room = [&](int size, int limit) {
        if (page.count > 0 && page.used + size > limit) emit(false);
    };

    while (i < n) {
        const INDEX_ITEM& e = items[i];
        if (fill && i + 8 < n) __builtin_prefetch(items[i + 8].key);
        uint64_t heading = omitHeader ? e.bodyPos : e.headingPos;
        if (!grouped) {
            room(e.keyLen + 13, kLimit);
            if (unsigned char* p = page.take(e.keyLen + 13, fill)) {
                p[0] = e.keyLen;
                putKey(p + 1, e.key, e.keyLen);
                putPos(p + 1 + e.keyLen, e.bodyPos);
                putPos(p + 7 + e.keyLen, heading);
            }
            page.lastKey = e.key;
            page.lastKeyLen = e.keyLen;
            ++i;
        } else if (!(e.flags & ENTRY_GROUP)) {
            room(e.keyLen + 14, kLimit);
            if (unsigned char* p = page.take(e.keyLen + 14, fill)) {
                p[0] = 0x00;
                p[1] = e.keyLen;
                putKey(p + 2, e.key, e.keyLen);
                putPos(p + 2 + e.keyLen, e.bodyPos);
                putPos(p + 8 + e.keyLen, heading);
            }
            page.lastKey = e.key;
            page.lastKeyLen = e.keyLen;
            ++i;
        } else {
            size_t j = i + 1;
            while (j < n && (items[j].flags & ENTRY_GROUP) && sameKey(e, items[j])) ++j;
            const uint32_t members = static_cast<uint32_t>(j - i);
            if (layout == kKana) {
                // Header and first member go on the same page.
                room(e.keyLen + 4 + e.exactLen + 14, kLimit);
                if (unsigned char* p = page.take(e.keyLen + 4, fill)) {
                    p[0] = 0x80;
                    p[1] = e.keyLen;
                    putBe16(p + 2, members > 0xFFFF ? 0xFFFF : members);
                    putKey(p + 4, e.key, e.keyLen);
                }
            } else {
                // Complex members carry their own headings: their header has none.
                const int size = e.keyLen + (layout == kComplexGrouped ? 6 : 12);
                room(size, headerLimit);
                if (unsigned char* p = page.take(size, fill)) {
                    p[0] = 0x80;
                    p[1] = e.keyLen;
                    putBe32(p + 2, members);
                    putKey(p + 6, e.key, e.keyLen);
                    if (layout != kComplexGrouped) putPos(p + 6 + e.keyLen, heading);
                }
            }
            page.lastKey = e.key;
            page.lastKeyLen = e.keyLen;
            for (size_t k = i; k < j; ++k) {
                const INDEX_ITEM& m = items[k];
                if (layout == kKana) {
                    room(m.exactLen + 14, kLimit);
                    if (unsigned char* p = page.take(m.exactLen + 14, fill)) {
                        p[0] = 0xC0;
                        p[1] = m.exactLen;
                        putKey(p + 2, m.exactKey, m.exactLen);
                        putPos(p + 2 + m.exactLen, m.bodyPos);
                        putPos(p + 8 + m.exactLen, omitHeader ? m.bodyPos : m.headingPos);
                    }
                } else if (layout == kComplexGrouped) {
                    room(13, memberLimit);
                    if (unsigned char* p = page.take(13, fill)) {
                        p[0] = 0xC0;
                        putPos(p + 1, m.bodyPos);
                        putPos(p + 7, omitHeader ? m.bodyPos : m.headingPos);
                    }
                } else {
                    room(7, memberLimit);
                    if (unsigned char* p = page.take(7, fill)) {
                        p[0] = 0xC0;
                        putPos(p + 1, m.bodyPos);
                    }
                }
                page.lastKey = e.key;
                page.lastKeyLen = e.keyLen;
            }
            i = j;
        }
    }
    emit(true);
    if (m_progress && !dryRun) m_progress(100);
    return pages;
}

void CIndexWriter::buildUpperLevels() {
    while (levelSize(m_levels - 1) > static_cast<size_t>(kRecordsPerPage)) {
        if (m_levels >= kMaxLevels - 1) throw std::runtime_error("indexRoot[] overflow");
        const int below = m_levels - 1;
        const size_t start = m_levelStart[below];
        const size_t count = levelSize(below);
        const size_t newStart = m_nodes.size();
        const size_t pages = (count + kRecordsPerPage - 1) / kRecordsPerPage;
        for (size_t p = 0; p < pages; ++p) {
            size_t last = start + std::min((p + 1) * kRecordsPerPage, count) - 1;
            Node node = m_nodes[last];
            node.isLeaf = 0;
            node.child = static_cast<uint32_t>(p);
            m_nodes.push_back(node);
        }
        std::memset(m_nodes.back().key, 0xFF, kNodeKeyLen);
        m_levelStart[m_levels++] = newStart;
    }
    // Pages lying before each level's pages: the root first, then each level
    // below it.
    m_pagesBefore[m_levels - 1] = 0;
    for (int l = m_levels - 2; l >= 0; --l) {
        size_t above = levelSize(l + 1);
        size_t abovePages = above == 0 ? 1 : (above + kRecordsPerPage - 1) / kRecordsPerPage;
        m_pagesBefore[l] = m_pagesBefore[l + 1] + static_cast<uint32_t>(abovePages);
    }
}

void CIndexWriter::writeUpperLevels(CBlockStream* stream, uint32_t areaStart) {
    BLOCK_POS start = {areaStart, 0};
    stream->seek(start);
    unsigned char page[kBlockSize];
    for (int l = m_levels - 1; l >= 0; --l) {
        const size_t count = levelSize(l);
        const size_t pages = count == 0 ? 1 : (count + kRecordsPerPage - 1) / kRecordsPerPage;
        for (size_t p = 0; p < pages; ++p) {
            poll();
            std::memset(page, 0, sizeof page);
            size_t first = p * kRecordsPerPage;
            size_t records = std::min(count - first, static_cast<size_t>(kRecordsPerPage));
            if (count == 0) records = 0;
            unsigned kind = p == 0 ? 0x40 : 0x00;
            if (p + 1 == pages) kind |= 0x20;
            page[0] = static_cast<unsigned char>(kind);
            page[1] = kNodeKeyLen;
            putBe16(page + 2, static_cast<unsigned>(records));
            for (size_t r = 0; r < records; ++r) {
                const Node& node = m_nodes[m_levelStart[l] + first + r];
                unsigned char* q = page + 4 + r * (kNodeKeyLen + 4);
                std::memcpy(q, node.key, kNodeKeyLen);
                uint32_t child = node.isLeaf || l == 0 ? node.child : areaStart + m_pagesBefore[l - 1] + node.child;
                putBe32(q + kNodeKeyLen, child);
            }
            stream->finish();
            stream->writeBytes(page, kBlockSize);
        }
    }
}

int CIndexWriter::writeIndex(CBlockStream* stream, const INDEX_ITEM* items, size_t n, Layout layout, int omitHeader) {
    m_nodes.clear();
    if (m_nodes.capacity() < m_workSize) m_nodes.reserve(m_workSize);
    m_levels = 1;
    m_levelStart[0] = 0;

    const int leaves = writeLeaves(stream, items, n, layout, omitHeader, true);
    const int reserved = reservedPages(leaves);

    BLOCK_POS here;
    stream->tell(&here);
    const uint32_t areaStart = here.block;
    unsigned char zero[kBlockSize];
    std::memset(zero, 0, sizeof zero);
    for (int r = 0; r < reserved; ++r) {
        stream->finish();
        stream->writeBytes(zero, kBlockSize);
    }

    m_nodes.clear();
    writeLeaves(stream, items, n, layout, omitHeader, false);
    buildUpperLevels();
    writeUpperLevels(stream, areaStart);
    return leaves;
}
