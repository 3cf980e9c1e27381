#include "foundation/storage/CEbxaDecoder.h"

#include <algorithm>
#include <cstring>

#include "foundation/storage/legacyio.h"

using legacyio::be16;
using legacyio::be32;

namespace {

enum { RECORDS_AT = 16, RECORD_SIZE = 16, MAX_RECORDS = (kBlockSize - RECORDS_AT) / RECORD_SIZE };

// Records of an index-table block that fit in it.
unsigned recordCount(const uint8_t* block) {
    return std::min<unsigned>(be16(block), MAX_RECORDS);
}

// The last record with id `id` (a later record of the same id wins), or null.
const uint8_t* findRecord(const uint8_t* block, uint8_t id) {
    const uint8_t* found = nullptr;
    unsigned n = recordCount(block);
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t* rec = block + RECORDS_AT + RECORD_SIZE * i;
        if (rec[0] == id) found = rec;
    }
    return found;
}

bool usable(const uint8_t* rec) {
    return rec && be32(rec + 2) != 0 && be32(rec + 6) != 0;
}

// Most compressed bytes one slice can take: 4096 literals and 512 flag bytes.
const size_t kMaxSliceInput = CEbxaDecoder::SLICE_SIZE + CEbxaDecoder::SLICE_SIZE / 8;

}  // namespace

CEbxaDecoder::CEbxaDecoder()
    : m_file(nullptr),
      m_fileSize(0),
      m_size(0),
      m_textStart(0),
      m_textBlocks(0),
      m_sliceStart(0),
      m_sliceBlocks(0),
      m_tableStart(0),
      m_tableBlocks(0) {}

CEbxaDecoder::~CEbxaDecoder() {
    close();
}

void CEbxaDecoder::close() {
    m_file = nullptr;
    m_fileSize = m_size = 0;
    m_textStart = m_textBlocks = m_sliceStart = m_sliceBlocks = m_tableStart = m_tableBlocks = 0;
    std::vector<int64_t>().swap(m_offsets);
    std::vector<int64_t>().swap(m_ends);
}

bool CEbxaDecoder::detect(const uint8_t* block1) {
    return block1 && usable(findRecord(block1, ID_TEXT)) && usable(findRecord(block1, ID_SLICES)) &&
           usable(findRecord(block1, ID_SLICE_TABLE));
}

int CEbxaDecoder::stripIndexRecords(uint8_t* block) {
    if (!block) return 0;
    unsigned n = recordCount(block);
    unsigned kept = 0;
    for (unsigned i = 0; i < n; ++i) {
        uint8_t* rec = block + RECORDS_AT + RECORD_SIZE * i;
        if (rec[0] == ID_SLICES || rec[0] == ID_SLICE_TABLE) continue;
        if (kept != i) memmove(block + RECORDS_AT + RECORD_SIZE * kept, rec, RECORD_SIZE);
        ++kept;
    }
    if (kept < n) memset(block + RECORDS_AT + RECORD_SIZE * kept, 0, RECORD_SIZE * (n - kept));
    int removed = static_cast<int>(n - kept);
    legacyio::putBe16(block, be16(block) - static_cast<uint32_t>(removed));
    return removed;
}

int CEbxaDecoder::open(FILE* file, int64_t fileSize) {
    close();
    uint8_t block[kBlockSize];
    if (!file || fileSize <= 0) return -1;
    memset(block, 0, sizeof block);
    size_t have = static_cast<size_t>(std::min<int64_t>(fileSize, kBlockSize));
    if (!legacyio::readAt(file, fileSize, 0, block, have) || !detect(block)) return -1;

    const uint8_t* text = findRecord(block, ID_TEXT);
    const uint8_t* slices = findRecord(block, ID_SLICES);
    const uint8_t* table = findRecord(block, ID_SLICE_TABLE);
    m_textStart = be32(text + 2);
    m_textBlocks = be32(text + 6);
    m_sliceStart = be32(slices + 2);
    m_sliceBlocks = be32(slices + 6);
    m_tableStart = be32(table + 2);
    m_tableBlocks = be32(table + 6);

    // The compressed areas must lie in the file; the table must hold one
    // offset for every slice but the first.
    const int64_t areaStart = static_cast<int64_t>(m_sliceStart - 1) * kBlockSize;
    const int64_t areaEnd = std::min<int64_t>(areaStart + static_cast<int64_t>(m_sliceBlocks) * kBlockSize, fileSize);
    const int64_t tableAt = static_cast<int64_t>(m_tableStart - 1) * kBlockSize;
    const uint64_t count = (static_cast<uint64_t>(m_textBlocks) + 1) / 2;
    const uint64_t tableBytes = (count - 1) * 4;
    if (areaStart >= fileSize || tableBytes > static_cast<uint64_t>(m_tableBlocks) * kBlockSize ||
        static_cast<uint64_t>(tableAt) + tableBytes > static_cast<uint64_t>(fileSize)) {
        close();
        return -1;
    }
    std::vector<uint8_t> raw(static_cast<size_t>(tableBytes));
    if (!legacyio::readAt(file, fileSize, tableAt, raw.data(), raw.size())) {
        close();
        return -1;
    }
    m_offsets.resize(static_cast<size_t>(count));
    m_offsets[0] = areaStart;
    for (size_t j = 1; j < m_offsets.size(); ++j) {
        m_offsets[j] = areaStart + be32(&raw[(j - 1) * 4]);
        if (m_offsets[j] >= areaEnd) {
            close();
            return -1;
        }
    }
    // A slice's input ends where the nearest slice after it begins, or at the
    // end of the compressed area.
    std::vector<int64_t> sorted(m_offsets);
    std::sort(sorted.begin(), sorted.end());
    m_ends.resize(m_offsets.size());
    for (size_t j = 0; j < m_offsets.size(); ++j) {
        auto after = std::upper_bound(sorted.begin(), sorted.end(), m_offsets[j]);
        m_ends[j] = after == sorted.end() ? areaEnd : *after;
    }

    // The image reaches the last block of any area; the compressed areas are
    // physical and do not count.
    int64_t last = static_cast<int64_t>(m_textStart) + m_textBlocks - 1;
    unsigned n = recordCount(block);
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t* rec = block + RECORDS_AT + RECORD_SIZE * i;
        if (rec[0] == ID_SLICES || rec[0] == ID_SLICE_TABLE) continue;
        uint32_t start = be32(rec + 2), blocks = be32(rec + 6);
        if (start != 0 && blocks != 0) last = std::max<int64_t>(last, static_cast<int64_t>(start) + blocks - 1);
    }
    m_size = last * kBlockSize;
    m_file = file;
    m_fileSize = fileSize;
    return 0;
}

int64_t CEbxaDecoder::sliceOfBlock(int64_t block, int* half) const {
    if (!m_file || block < m_textStart || block > static_cast<int64_t>(m_textStart) + m_textBlocks - 1) return -1;
    if (half) *half = static_cast<int>((block - m_textStart) % SLICE_BLOCKS);
    return (block - m_textStart) / SLICE_BLOCKS;
}

int CEbxaDecoder::decodeSlice(int64_t slice, uint8_t* out) {
    if (!out) return -1;
    memset(out, 0, SLICE_SIZE);
    if (!m_file || slice < 0 || slice >= sliceCount()) return -1;
    const size_t j = static_cast<size_t>(slice);
    const size_t inLen = static_cast<size_t>(std::min<int64_t>(m_ends[j] - m_offsets[j], kMaxSliceInput));
    uint8_t in[kMaxSliceInput];
    if (!legacyio::readAt(m_file, m_fileSize, m_offsets[j], in, inLen)) return -1;
    // The last slice of an odd count of blocks needs only its first half.
    const bool halfSlice = j + 1 == m_offsets.size() && (m_textBlocks % 2) == 1;
    const size_t need = halfSlice ? kBlockSize : SLICE_SIZE;

    size_t pos = 0, at = 0;
    while (pos < SLICE_SIZE) {
        if (at >= inLen) break;
        unsigned flags = in[at++];
        for (int item = 0; item < 8 && pos < SLICE_SIZE; ++item, flags >>= 1) {
            if (flags & 1) {
                if (at >= inLen) break;
                out[pos++] = in[at++];
            } else {
                if (at + 2 > inLen) {
                    at = inLen;
                    break;
                }
                unsigned c0 = in[at], c1 = in[at + 1];
                at += 2;
                // Ring position p holds output byte (p + 18) mod 4096; the
                // part of the ring not written yet is zero.
                size_t src = ((((c1 & 0xF0u) << 4) | c0) + 18) % SLICE_SIZE;
                unsigned length = (c1 & 0x0Fu) + 3;
                for (unsigned k = 0; k < length && pos < SLICE_SIZE; ++k) {
                    out[pos] = src < pos ? out[src] : 0;
                    ++pos;
                    src = (src + 1) % SLICE_SIZE;
                }
            }
        }
    }
    if (pos < need) {
        memset(out, 0, SLICE_SIZE);
        return -1;
    }
    return 0;
}

int CEbxaDecoder::readRawBlock(int64_t block, uint8_t* out) {
    if (!out) return -1;
    memset(out, 0, kBlockSize);
    if (!m_file || block < 1 || (block - 1) * kBlockSize >= m_size) return -1;
    int64_t at = (block - 1) * kBlockSize;
    if (at >= m_fileSize) return 0;
    size_t n = static_cast<size_t>(std::min<int64_t>(kBlockSize, m_fileSize - at));
    return legacyio::readAt(m_file, m_fileSize, at, out, n) ? 0 : -1;
}
