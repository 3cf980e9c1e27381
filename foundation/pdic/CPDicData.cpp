#include "foundation/pdic/CPDicData.h"

#include <cstring>

#include "foundation/byteorder.h"

namespace {

using byteorder::le16;
using byteorder::le32;

const uint8_t kTypeBocu = 0x08;
const uint8_t kTypeEncrypted = 0x40;
const uint8_t kAttrExtended = 0x10;
const uint8_t kAttrReference = 0xFF;
const uint8_t kRecBinary = 0x10;
const uint8_t kRecEnd = 0x80;

// Position of NUL in p[from, end), or end when there is none.
size_t findNul(const uint8_t* p, size_t from, size_t end) {
    const void* z = from < end ? std::memchr(p + from, 0, end - from) : nullptr;
    return z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - p) : end;
}

bool readAt(FILE* f, uint64_t offset, uint8_t* out, size_t n) {
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return fread(out, 1, n, f) == n;
}

}  // namespace

int CPDicData::parseHeader(const uint8_t* b, size_t n, uint64_t fileSize, PDIC_HEADER_INFO* h) {
    if (n < 256 || fileSize < 256) return -1;
    *h = PDIC_HEADER_INFO();
    h->fileSize = fileSize;
    std::memcpy(h->title, b + 100, sizeof h->title);
    h->version = le16(b + 140);
    h->major = h->version >> 8;
    h->lword = le16(b + 142);
    h->ljapa = le16(b + 144);
    h->blockSize = le16(b + 146);
    h->indexBlock = le16(b + 148);
    h->headerSize = le16(b + 150);
    h->nword = le32(b + 160);
    h->dicorder = b[164];
    h->dictype = b[165];
    h->attrlen = b[166];
    if (h->major == 4) {
        // Hyper 4: the fields from 167 on are packed without alignment.
        h->olenumber = static_cast<int32_t>(le32(b + 167));
        h->os = b[171];
        h->extheader = le32(b + 182);
        h->emptyBlock2 = static_cast<int32_t>(le32(b + 186));
        h->nindex2 = le32(b + 190);
        h->nblock2 = le32(b + 194);
        h->indexBlkbit = b[198];
        h->sjis = true;
        h->attrAfterHeadword = true;
    } else if (h->major == 5 || h->major == 6) {
        h->os = b[167];
        h->olenumber = static_cast<int32_t>(le32(b + 168));
        h->indexBlkbit = b[182];
        h->extheader = le32(b + 184);
        h->emptyBlock2 = static_cast<int32_t>(le32(b + 188));
        h->nindex2 = le32(b + 192);
        h->nblock2 = le32(b + 196);
        if (h->major == 6 && !(h->dictype & kTypeBocu)) return -1;
        h->sjis = !(h->dictype & kTypeBocu);  // Hyper 5 when not BOCU-1
    } else {
        return -1;
    }
    if (h->attrlen != 1) return -1;
    if (h->dictype & kTypeEncrypted) return -1;
    if (h->blockSize < 16 || h->headerSize < 256) return -1;
    if (h->indexBlkbit > 1) return -1;
    h->indexOffset = uint64_t(h->headerSize) + h->extheader;
    h->indexSize = uint64_t(h->indexBlock) * h->blockSize;
    h->dataOffset = h->indexOffset + h->indexSize;
    if (h->dataOffset > fileSize) return -1;
    return 0;
}

CPDicData::CPDicData(const PDIC_HEADER_INFO* header, FILE* file) : m_header(header), m_file(file) {}

void CPDicData::reset() {
    m_bytes.clear();
    m_word.clear();
    m_indexNo = -1;
    m_cursor = -1;
    m_phys = -1;
    m_done = true;
}

int CPDicData::load(int indexNo, uint32_t phys) {
    reset();
    m_indexNo = indexNo;
    m_phys = phys;
    m_cursor = 2;
    const uint64_t bs = m_header->blockSize;
    const uint64_t offset = m_header->dataOffset + bs * phys;
    if (offset + 2 > m_header->fileSize) return -1;
    uint8_t head[2];
    if (!readAt(m_file, offset, head, 2)) return -1;
    const uint16_t countWord = le16(head);
    const uint64_t count = countWord & 0x7FFF;
    if (count == 0) return 0;  // free block: nothing in it
    const uint64_t size = count * bs;
    if (size > kMaxBlockBytes || offset + size > m_header->fileSize) return -1;
    m_bytes.resize(static_cast<size_t>(size));
    if (!readAt(m_file, offset, m_bytes.data(), m_bytes.size())) {
        m_bytes.clear();
        return -1;
    }
    m_wide = (countWord & 0x8000) != 0;
    m_done = false;
    return 0;
}

int CPDicData::next(PDIC_RAW_ENTRY* e) {
    for (;;) {
        if (m_done) return 1;
        const uint8_t* p = m_bytes.data();
        const size_t size = m_bytes.size();
        const size_t pos = static_cast<size_t>(m_cursor);
        const size_t lw = m_wide ? 4 : 2;
        if (pos + lw > size) {  // no room left even for a terminator
            m_done = true;
            return 1;
        }
        const uint64_t len = m_wide ? le32(p + pos) : le16(p + pos);
        if (len == 0) {
            m_done = true;
            return 1;
        }
        // Everything below stays inside [pos, end); any inconsistency makes
        // the rest of the block unreadable, since the next entry's headword
        // is built on this one's.
        m_done = true;
        size_t hwStart, end, compress;
        uint8_t attr;
        if (!m_header->attrAfterHeadword) {
            if (pos + lw + 2 > size) return -1;
            compress = p[pos + lw];
            attr = p[pos + lw + 1];
            hwStart = pos + lw + 2;
        } else {
            if (pos + lw + 1 > size) return -1;
            compress = p[pos + lw];
            hwStart = pos + lw + 1;
            attr = 0;
        }
        if (len > size - hwStart) return -1;
        end = hwStart + static_cast<size_t>(len);
        const size_t hwEnd = findNul(p, hwStart, end);
        if (hwEnd >= end) return -1;
        if (compress > m_word.size()) return -1;
        size_t body = hwEnd + 1;
        if (m_header->attrAfterHeadword) {
            if (body >= end) return -1;
            attr = p[body++];
        }
        m_word.resize(compress);
        m_word.insert(m_word.end(), p + hwStart, p + hwEnd);

        *e = PDIC_RAW_ENTRY();
        e->cursor = m_cursor;
        e->word = m_word.data();
        e->wordLen = m_word.size();
        e->attr = attr;
        if (!(attr & kAttrExtended) || attr == kAttrReference) {
            e->meaning = p + body;
            e->meaningLen = end - body;
        } else {
            const size_t mEnd = findNul(p, body, end);
            if (mEnd >= end) return -1;
            e->meaning = p + body;
            e->meaningLen = mEnd - body;
            size_t q = mEnd + 1;
            while (q < end) {
                const uint8_t x = p[q++];
                if (x & kRecEnd) break;
                if (x & kRecBinary) {
                    if (q + lw > end) return -1;
                    const uint64_t n = m_wide ? le32(p + q) : le16(p + q);
                    q += lw;
                    if (n > end - q) return -1;
                    q += static_cast<size_t>(n);
                    continue;
                }
                const size_t tEnd = findNul(p, q, end);
                if (tEnd >= end) return -1;
                const unsigned kind = x & 0x0F;
                // A kind that repeats keeps its first text.
                if (kind == 1 && !e->example) {
                    e->example = p + q;
                    e->exampleLen = tEnd - q;
                } else if (kind == 2 && !e->pron) {
                    e->pron = p + q;
                    e->pronLen = tEnd - q;
                }
                q = tEnd + 1;
            }
        }
        m_cursor = static_cast<int>(end);
        m_done = false;
        if (attr == kAttrReference && !m_header->attrAfterHeadword) continue;
        return 0;
    }
}
