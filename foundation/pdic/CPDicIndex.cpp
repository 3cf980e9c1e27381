#include "foundation/pdic/CPDicIndex.h"

#include <cstring>

#include "foundation/byteorder.h"
#include "foundation/pdic/CPDicData.h"

int CPDicIndex::compareKeys(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
    const size_t n = an < bn ? an : bn;
    const int r = n ? std::memcmp(a, b, n) : 0;
    if (r != 0) return r;
    return an < bn ? -1 : (an > bn ? 1 : 0);
}

int CPDicIndex::parse(const PDIC_HEADER_INFO& h, const uint8_t* area, size_t size) {
    m_phys.clear();
    m_start.clear();
    m_len.clear();
    m_words.clear();
    const size_t bw = h.indexBlkbit ? 4 : 2;
    // Each entry takes at least a block number and a NUL.
    const uint64_t most = size / (bw + 1);
    const uint64_t want = h.nindex2 < most ? h.nindex2 : most;
    m_phys.reserve(static_cast<size_t>(want));
    m_start.reserve(static_cast<size_t>(want));
    m_len.reserve(static_cast<size_t>(want));
    size_t pos = 0;
    for (uint64_t i = 0; i < want; ++i) {
        if (pos + bw >= size) break;
        const uint32_t p = bw == 2 ? byteorder::le16(area + pos) : byteorder::le32(area + pos);
        const size_t w = pos + bw;
        const void* z = std::memchr(area + w, 0, size - w);
        if (!z) break;
        const size_t wEnd = static_cast<size_t>(static_cast<const uint8_t*>(z) - area);
        // The index ends with at least four NUL bytes, which read as block 0
        // with an empty headword. Stop there even when the count claims more:
        // only the first entry can otherwise name block 0 with an empty
        // headword (headwords ascend, and each block has one entry).
        if (i > 0 && wEnd == w && p == 0) break;
        // The block must at least start inside the file.
        if (h.dataOffset + uint64_t(h.blockSize) * p + 2 > h.fileSize) return -1;
        m_phys.push_back(p);
        m_start.push_back(static_cast<uint32_t>(m_words.size()));
        m_len.push_back(static_cast<uint32_t>(wEnd - w));
        m_words.insert(m_words.end(), area + w, area + wEnd);
        pos = wEnd + 1;
    }
    return 0;
}

int CPDicIndex::lastBelow(const uint8_t* key, size_t n) const {
    int lo = 0, hi = count();  // first entry not below key lies in [lo, hi]
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (compareKeys(word(mid), wordLen(mid), key, n) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo > 0 ? lo - 1 : 0;
}
