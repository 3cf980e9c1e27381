#include "foundation/storage/CSsedDecoder.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "foundation/storage/legacyio.h"

using legacyio::be16;
using legacyio::be32;

namespace {

enum { INFO_HEADER = 128, INFO_RECORD = 48, DATA_HEADER = 0x40 };

// Most input one chunk can take: its 5-byte head and one 3-byte command per
// output byte.
const size_t kMaxChunkInput = 5 + 3 * static_cast<size_t>(CSsedDecoder::CHUNK_SIZE);

bool isFontType(uint8_t type) {
    return type >= 0xF1 && type <= 0xF8;
}

}  // namespace

CSsedDecoder::CSsedDecoder() : m_size(0), m_indexBlock() {}

CSsedDecoder::~CSsedDecoder() {
    close();
}

void CSsedDecoder::close() {
    m_parts.clear();
    m_size = 0;
    memset(m_indexBlock, 0, sizeof m_indexBlock);
}

int CSsedDecoder::open(FILE* idx, int64_t idxSize, const char* dir) {
    close();
    uint8_t head[INFO_HEADER];
    if (!idx || !dir || !legacyio::readAt(idx, idxSize, 0, head, sizeof head) || memcmp(head, "SSEDINFO", 8) != 0)
        return -1;
    unsigned count = head[0x4D];
    for (unsigned i = 0; i < count; ++i) {
        uint8_t rec[INFO_RECORD];
        if (!legacyio::readAt(idx, idxSize, INFO_HEADER + static_cast<int64_t>(i) * INFO_RECORD, rec, sizeof rec)) {
            close();
            return -1;
        }
        uint32_t first = be32(rec + 4), last = be32(rec + 8);
        if (isFontType(rec[3]) || (first == 0 && last == 0)) continue;  // not part of the image
        if (first == 0 || last < first) {
            close();
            return -1;
        }
        size_t nameLen = std::min<size_t>(rec[16], INFO_RECORD - 17);
        std::string name(reinterpret_cast<const char*>(rec + 17), nameLen);
        name.resize(strnlen(name.c_str(), name.size()));
        Part part;
        part.type = rec[3];
        part.flag = rec[2];
        part.first = first;
        part.last = last;
        memcpy(part.info, rec + 12, 4);
        part.fileSize = 0;
        if (openPart(part, dir, name) != 0) {
            close();
            return -1;
        }
        m_parts.push_back(std::move(part));
    }
    // Without the body text (type 0x00) there is no book to read.
    if (std::none_of(m_parts.begin(), m_parts.end(), [](const Part& p) { return p.type == 0x00; })) {
        close();
        return -1;
    }
    std::sort(m_parts.begin(), m_parts.end(), [](const Part& x, const Part& y) { return x.first < y.first; });
    for (size_t i = 1; i < m_parts.size(); ++i) {
        if (m_parts[i].first <= m_parts[i - 1].last) {  // two components claim a block
            close();
            return -1;
        }
    }
    m_size = static_cast<int64_t>(m_parts.back().last) * kBlockSize;
    buildIndexBlock();
    return 0;
}

int CSsedDecoder::openPart(Part& part, const std::string& dir, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return -1;
    std::string path;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (strcasecmp(e->d_name, name.c_str()) == 0) {
                path = dir + "/" + e->d_name;
                break;
            }
        }
        closedir(d);
    }
    if (path.empty()) return -1;
    part.file = openRegularFile(path.c_str());  // a FIFO is refused at once
    if (!part.file) return -1;
    FILE* f = part.file.get();
    part.fileSize = legacyio::fileLength(f);
    uint8_t head[DATA_HEADER];
    if (part.fileSize < DATA_HEADER || !legacyio::readAt(f, part.fileSize, 0, head, sizeof head) ||
        memcmp(head, "SSEDDATA", 8) != 0)
        return -1;
    const uint64_t blocks = static_cast<uint64_t>(part.last) - part.first + 1;
    const uint64_t chunks = (blocks + CHUNK_BLOCKS - 1) / CHUNK_BLOCKS;
    if (be16(head + 0x16) != chunks || be32(head + 0x18) != part.first || be32(head + 0x1C) != part.last) return -1;
    std::vector<uint8_t> table(static_cast<size_t>(chunks) * 4);
    if (!legacyio::readAt(f, part.fileSize, DATA_HEADER, table.data(), table.size())) return -1;
    const int64_t dataStart = DATA_HEADER + static_cast<int64_t>(table.size());
    part.chunks.resize(static_cast<size_t>(chunks));
    for (size_t c = 0; c < part.chunks.size(); ++c) {
        int64_t at = be32(&table[c * 4]);
        if (at < dataStart || at >= part.fileSize || (c > 0 && at < part.chunks[c - 1])) return -1;
        part.chunks[c] = at;
    }
    return 0;
}

const CSsedDecoder::Part* CSsedDecoder::partOf(int64_t block) const {
    for (const Part& p : m_parts)
        if (block >= p.first && block <= p.last) return &p;
    return nullptr;
}

int64_t CSsedDecoder::chunkOfBlock(int64_t block) const {
    const Part* p = partOf(block);
    if (!p) return 0;
    return p->first + (block - p->first) / CHUNK_BLOCKS * CHUNK_BLOCKS;
}

int CSsedDecoder::decodeChunk(int64_t chunkBase, uint8_t* out) {
    if (!out) return -1;
    memset(out, 0, CHUNK_SIZE);
    const Part* p = partOf(chunkBase);
    if (!p || (chunkBase - p->first) % CHUNK_BLOCKS != 0) return -1;
    const size_t c = static_cast<size_t>((chunkBase - p->first) / CHUNK_BLOCKS);
    const int64_t from = p->chunks[c];
    const int64_t to = c + 1 < p->chunks.size() ? p->chunks[c + 1] : p->fileSize;
    const int64_t blocks = std::min<int64_t>(CHUNK_BLOCKS, static_cast<int64_t>(p->last) - chunkBase + 1);
    const size_t want = static_cast<size_t>(blocks) * kBlockSize;

    std::vector<uint8_t> in(static_cast<size_t>(std::min<int64_t>(to - from, kMaxChunkInput)));
    if (in.size() < 5 || !legacyio::readAt(p->file.get(), p->fileSize, from, in.data(), in.size())) return -1;
    const size_t commands = be16(&in[2]);
    uint8_t window[WINDOW];
    memset(window, in[4], sizeof window);
    size_t wp = 0, pos = 0, at = 5;
    bool fail = false;
    for (size_t i = 0; i < commands && pos < CHUNK_SIZE && !fail; ++i) {
        if (at + 3 > in.size()) {
            fail = true;
            break;
        }
        const unsigned b0 = in[at], b1 = in[at + 1];
        const uint8_t literal = in[at + 2];
        at += 3;
        const size_t w = (b0 << 4) | (b1 >> 4);
        const unsigned copy = b1 & 0x0F;
        if (w >= WINDOW) {
            fail = true;
            break;
        }
        // The last command stops at a block boundary: a short chunk may end
        // with a dummy literal.
        const bool lastCommand = i + 1 == commands;
        bool stop = false;
        for (unsigned k = 0; k <= copy; ++k) {
            if (pos == CHUNK_SIZE || (lastCommand && pos % kBlockSize == 0 && pos > 0)) {
                stop = true;
                break;
            }
            uint8_t byte = k < copy ? window[(w + wp) % WINDOW] : literal;
            out[pos++] = byte;
            window[wp] = byte;
            wp = (wp + 1) % WINDOW;
        }
        if (stop) break;
    }
    if (fail || pos < want) {
        memset(out, 0, CHUNK_SIZE);
        return -1;
    }
    if (want < CHUNK_SIZE) memset(out + want, 0, CHUNK_SIZE - want);
    return 0;
}

int CSsedDecoder::readLooseBlock(int64_t block, uint8_t* out) {
    if (!out) return -1;
    memset(out, 0, kBlockSize);
    if (m_parts.empty() || block < 1 || (block - 1) * kBlockSize >= m_size) return -1;
    if (block == 1) memcpy(out, m_indexBlock, kBlockSize);
    return 0;
}

// Block 1 as an index table of the components: type, start block, block
// count and the catalog's four information bytes per record.
void CSsedDecoder::buildIndexBlock() {
    memset(m_indexBlock, 0, sizeof m_indexBlock);
    unsigned n = 0;
    m_indexBlock[2] = 0x02;  // JIS X 0208 text
    for (const Part& p : m_parts) {
        if (p.flag == 0xFF || n == (kBlockSize - 16) / 16) continue;
        uint8_t* rec = m_indexBlock + 16 + 16 * n;
        rec[0] = p.type;
        legacyio::putBe32(rec + 2, p.first);
        legacyio::putBe32(rec + 6, p.last - p.first + 1);
        memcpy(rec + 10, p.info, 4);
        ++n;
    }
    legacyio::putBe16(m_indexBlock, n);
}
