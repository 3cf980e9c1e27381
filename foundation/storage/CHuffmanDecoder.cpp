#include "foundation/storage/CHuffmanDecoder.h"

#include <algorithm>
#include <cstring>
#include <queue>

#include "foundation/storage/legacyio.h"

using legacyio::be16;
using legacyio::be32;

namespace {

enum { KIND_INTERNAL = 0, KIND_BYTE = 1, KIND_PAIR = 2, KIND_QUAD = 4, KIND_EOF = 5 };

}  // namespace

// Bits of a page, most significant first, read from the file in pieces and
// never past its end.
class CHuffmanDecoder::BitInput {
public:
    BitInput(FILE* file, int64_t limit, int64_t offset)
        : m_file(file), m_limit(limit), m_next(offset), m_pos(0), m_len(0), m_bit(0) {}

    // The next byte, or -1 at the end of the input.
    int byte() {
        if (m_pos == m_len && !refill()) return -1;
        return m_buf[m_pos++];
    }
    // The next bit, or -1 at the end of the input.
    int bit() {
        if (m_bit == 0) {
            int b = byte();
            if (b < 0) return -1;
            m_cur = static_cast<uint8_t>(b);
            m_bit = 8;
        }
        --m_bit;
        return (m_cur >> m_bit) & 1;
    }

private:
    bool refill() {
        if (m_next >= m_limit) return false;
        size_t n = static_cast<size_t>(std::min<int64_t>(sizeof m_buf, m_limit - m_next));
        if (!legacyio::readAt(m_file, m_limit, m_next, m_buf, n)) return false;
        m_next += static_cast<int64_t>(n);
        m_pos = 0;
        m_len = n;
        return true;
    }

    FILE* m_file;
    int64_t m_limit, m_next;
    size_t m_pos, m_len;
    int m_bit;
    uint8_t m_cur = 0;
    uint8_t m_buf[4096];
};

CHuffmanDecoder::CHuffmanDecoder() : m_file(nullptr), m_fileSize(0), m_version(0), m_header(), m_size(0), m_root(0) {}

CHuffmanDecoder::~CHuffmanDecoder() {
    close();
}

void CHuffmanDecoder::close() {
    m_file = nullptr;
    m_fileSize = 0;
    m_version = 0;
    memset(m_header, 0, sizeof m_header);
    m_size = 0;
    std::vector<Node>().swap(m_nodes);
    m_root = 0;
}

bool CHuffmanDecoder::detect(const uint8_t* header, size_t length, int64_t fileSize) {
    if (!header || length < 20 || fileSize < 20) return false;
    uint64_t a = be32(header), b = be32(header + 4), c = be32(header + 8), d = be32(header + 12), e = be32(header + 16);
    if (a + b != c || c + d != e || e > static_cast<uint64_t>(fileSize)) return false;
    // The tables lie after the five header words; the index holds at least
    // one record and the frequency table at least its 256 byte entries.
    return a >= 20 && b >= INDEX_RECORD && b % INDEX_RECORD == 0 && d >= 512;
}

int CHuffmanDecoder::open(FILE* file, int64_t fileSize, int version) {
    close();
    if (!file || (version != VERSION_4 && version != VERSION_6)) return -1;
    uint8_t head[20];
    if (!legacyio::readAt(file, fileSize, 0, head, sizeof head) || !detect(head, sizeof head, fileSize)) return -1;
    for (int i = 0; i < 5; ++i) m_header[i] = be32(head + 4 * i);
    const uint32_t a = m_header[0], b = m_header[1], c = m_header[2], d = m_header[3];

    // Leaves in file order: V6 four-byte leaves, two-byte leaves, the 256
    // single bytes, then the end-of-page leaf.
    size_t quads = 0, pairs = 0;
    if (version == VERSION_4) {
        pairs = (d - 512) / 4;
    } else {
        if (d < 4096 + 512) return -1;
        quads = (d - 4096 - 512) / 6;
        pairs = 1024;
    }
    size_t leaves = quads + pairs + 256 + 1;
    if (leaves > MAX_LEAVES) return -1;
    std::vector<uint8_t> table(d);
    if (!legacyio::readAt(file, fileSize, c, table.data(), table.size())) return -1;

    std::vector<uint32_t> values(leaves), freqs(leaves);
    std::vector<uint8_t> kinds(leaves);
    size_t n = 0, p = 0;
    for (size_t i = 0; i < quads; ++i, ++n, p += 6) {
        values[n] = be32(&table[p]);
        freqs[n] = be16(&table[p + 4]);
        kinds[n] = KIND_QUAD;
    }
    for (size_t i = 0; i < pairs; ++i, ++n, p += 4) {
        values[n] = be16(&table[p]);
        freqs[n] = be16(&table[p + 2]);
        kinds[n] = KIND_PAIR;
    }
    for (size_t i = 0; i < 256; ++i, ++n, p += 2) {
        values[n] = static_cast<uint32_t>(i);
        freqs[n] = be16(&table[p]);
        kinds[n] = KIND_BYTE;
    }
    values[n] = 0;
    freqs[n] = 1;
    kinds[n] = KIND_EOF;
    for (size_t i = 0; i < n; ++i)
        if (freqs[i] == 0) return -1;
    if (buildTree(values, kinds, freqs) != 0) return -1;

    // Size from the last index record: its pages end at the first zero offset.
    uint32_t groups = b / INDEX_RECORD;
    uint8_t rec[INDEX_RECORD];
    if (!legacyio::readAt(file, fileSize, static_cast<int64_t>(a) + static_cast<int64_t>(groups - 1) * INDEX_RECORD,
                          rec, sizeof rec)) {
        close();
        return -1;
    }
    int pages = GROUP_PAGES;
    for (int k = 1; k < GROUP_PAGES; ++k) {
        if (be16(rec + 4 + 2 * k) == 0) {
            pages = k;
            break;
        }
    }
    m_size = static_cast<int64_t>(groups - 1) * GROUP_PAGES * kBlockSize + static_cast<int64_t>(pages) * kBlockSize;
    m_file = file;
    m_fileSize = fileSize;
    m_version = version;
    return 0;
}

// Rebuilds the tree exactly as the books' encoder did: the leaves are put in
// descending order of frequency by a selection sort (the first largest wins,
// then it is exchanged into place), then the two nodes of least frequency are
// merged until one is left (on ties the one latest in order wins; the first
// taken becomes the child for bit 1). Both steps run in O(n log n).
int CHuffmanDecoder::buildTree(const std::vector<uint32_t>& values, const std::vector<uint8_t>& kinds,
                               const std::vector<uint32_t>& freqs) {
    const size_t n = freqs.size();
    if (n < 2) return -1;
    std::vector<size_t> order(n);  // leaf held at each position
    for (size_t i = 0; i < n; ++i) order[i] = i;

    // Segment tree over positions giving the leftmost largest frequency.
    size_t width = 1;
    while (width < n) width <<= 1;
    std::vector<uint32_t> best(2 * width, UINT32_MAX);  // position, UINT32_MAX = none
    auto better = [&](uint32_t x, uint32_t y) -> uint32_t {
        if (x == UINT32_MAX) return y;
        if (y == UINT32_MAX) return x;
        uint32_t fx = freqs[order[x]], fy = freqs[order[y]];
        if (fx != fy) return fx > fy ? x : y;
        return x < y ? x : y;
    };
    auto update = [&](size_t pos) {
        size_t i = pos + width;
        best[i] = static_cast<uint32_t>(pos);
        for (i >>= 1; i >= 1; i >>= 1) best[i] = better(best[2 * i], best[2 * i + 1]);
    };
    for (size_t i = 0; i < n; ++i) best[width + i] = static_cast<uint32_t>(i);
    for (size_t i = width - 1; i >= 1; --i) best[i] = better(best[2 * i], best[2 * i + 1]);
    auto query = [&](size_t lo) -> uint32_t {  // leftmost largest in lo..n-1
        uint32_t res = UINT32_MAX;
        size_t l = lo + width, r = n - 1 + width + 1;
        uint32_t right = UINT32_MAX;
        while (l < r) {
            if (l & 1) res = better(res, best[l++]);
            if (r & 1) right = better(best[--r], right);
            l >>= 1;
            r >>= 1;
        }
        return better(res, right);
    };
    for (size_t i = 0; i + 1 < n; ++i) {
        uint32_t m = query(i);
        if (m != i) {
            std::swap(order[i], order[m]);
            update(i);
            update(m);
        }
    }

    m_nodes.assign(2 * n - 1, Node());
    std::vector<uint64_t> weight(2 * n - 1);
    for (size_t i = 0; i < n; ++i) {
        Node& node = m_nodes[i];
        node.left = node.right = 0;
        node.value = values[order[i]];
        node.kind = kinds[order[i]];
        weight[i] = freqs[order[i]];
    }
    // Least weight first; on equal weight the later node first.
    auto later = [&](uint32_t x, uint32_t y) {
        if (weight[x] != weight[y]) return weight[x] > weight[y];
        return x < y;
    };
    std::priority_queue<uint32_t, std::vector<uint32_t>, decltype(later)> queue(later);
    for (size_t i = 0; i < n; ++i) queue.push(static_cast<uint32_t>(i));
    for (size_t next = n; next < 2 * n - 1; ++next) {
        uint32_t left = queue.top();
        queue.pop();
        uint32_t right = queue.top();
        queue.pop();
        Node& node = m_nodes[next];
        node.left = left;
        node.right = right;
        node.value = 0;
        node.kind = KIND_INTERNAL;
        weight[next] = weight[left] + weight[right];
        queue.push(static_cast<uint32_t>(next));
    }
    m_root = static_cast<uint32_t>(2 * n - 2);
    return 0;
}

int CHuffmanDecoder::decodePage(int64_t page, uint8_t* out) {
    if (!out) return -1;
    memset(out, 0, kBlockSize);
    if (!m_file || page < 0 || page >= pageCount()) return -1;
    uint8_t rec[INDEX_RECORD];
    int64_t recAt = static_cast<int64_t>(m_header[0]) + (page / GROUP_PAGES) * INDEX_RECORD;
    if (!legacyio::readAt(m_file, m_fileSize, recAt, rec, sizeof rec)) return -1;
    int64_t start = static_cast<int64_t>(be32(rec)) + be16(rec + 4 + 2 * (page % GROUP_PAGES));
    if (start >= m_fileSize) return -1;

    BitInput in(m_file, m_fileSize, start);
    size_t pos = 0;
    if (m_version == VERSION_6) {
        int type = in.byte();
        if (type < 0) return -1;
        if (type != 0) {
            for (; pos < kBlockSize; ++pos) {
                int b = in.byte();
                if (b < 0) {
                    memset(out, 0, kBlockSize);
                    return -1;
                }
                out[pos] = static_cast<uint8_t>(b);
            }
            return 0;
        }
    }
    for (;;) {
        if (m_version == VERSION_6 && pos == kBlockSize) return 0;
        uint32_t node = m_root;
        while (m_nodes[node].kind == KIND_INTERNAL) {
            int bit = in.bit();
            if (bit < 0) {
                memset(out, 0, kBlockSize);
                return -1;
            }
            node = bit ? m_nodes[node].left : m_nodes[node].right;
        }
        const Node& leaf = m_nodes[node];
        if (leaf.kind == KIND_EOF) return 0;  // the rest of the page stays zero
        if (pos == kBlockSize) {              // V4: a full page must end with EOF
            memset(out, 0, kBlockSize);
            return -1;
        }
        for (int i = leaf.kind - 1; i >= 0 && pos < kBlockSize; --i)
            out[pos++] = static_cast<uint8_t>(leaf.value >> (8 * i));
    }
}
