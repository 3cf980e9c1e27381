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

CPDicData::CPDicData(const PDIC_HEADER_INFO* header, FILE* file) : header_(header), file_(file) {}

void CPDicData::reset() {
    bytes_.clear();
    word_.clear();
    indexNo_ = -1;
    cursor_ = -1;
    phys_ = -1;
    done_ = true;
}

int CPDicData::load(int indexNo, uint32_t phys) {
    reset();
    indexNo_ = indexNo;
    phys_ = phys;
    cursor_ = 2;
    const uint64_t bs = header_->blockSize;
    const uint64_t offset = header_->dataOffset + bs * phys;
    if (offset + 2 > header_->fileSize) return -1;
    uint8_t head[2];
    if (!readAt(file_, offset, head, 2)) return -1;
    const uint16_t countWord = le16(head);
    const uint64_t count = countWord & 0x7FFF;
    if (count == 0) return 0;  // free block: nothing in it
    const uint64_t size = count * bs;
    if (size > kMaxBlockBytes || offset + size > header_->fileSize) return -1;
    bytes_.resize(static_cast<size_t>(size));
    if (!readAt(file_, offset, bytes_.data(), bytes_.size())) {
        bytes_.clear();
        return -1;
    }
    wide_ = (countWord & 0x8000) != 0;
    done_ = false;
    return 0;
}

int CPDicData::next(PDIC_RAW_ENTRY* e) {
    for (;;) {
        if (done_) return 1;
        const uint8_t* p = bytes_.data();
        const size_t size = bytes_.size();
        const size_t pos = static_cast<size_t>(cursor_);
        const size_t lw = wide_ ? 4 : 2;
        if (pos + lw > size) {  // no room left even for a terminator
            done_ = true;
            return 1;
        }
        const uint64_t len = wide_ ? le32(p + pos) : le16(p + pos);
        if (len == 0) {
            done_ = true;
            return 1;
        }
        // Everything below stays inside [pos, end); any inconsistency makes
        // the rest of the block unreadable, since the next entry's headword
        // is built on this one's.
        done_ = true;
        size_t hwStart, end, compress;
        uint8_t attr;
        if (!header_->attrAfterHeadword) {
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
        if (compress > word_.size()) return -1;
        size_t body = hwEnd + 1;
        if (header_->attrAfterHeadword) {
            if (body >= end) return -1;
            attr = p[body++];
        }
        word_.resize(compress);
        word_.insert(word_.end(), p + hwStart, p + hwEnd);

        *e = PDIC_RAW_ENTRY();
        e->cursor = cursor_;
        e->word = word_.data();
        e->wordLen = word_.size();
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
                    const uint64_t n = wide_ ? le32(p + q) : le16(p + q);
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
        cursor_ = static_cast<int>(end);
        done_ = false;
        if (attr == kAttrReference && !header_->attrAfterHeadword) continue;
        return 0;
    }
}
