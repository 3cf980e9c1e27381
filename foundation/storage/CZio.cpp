#include "foundation/storage/CZio.h"

#include <strings.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/book/CEBCatalog.h"
#include "foundation/byteorder.h"
#include "foundation/pathutil.h"
#include "foundation/storage/CEbxaDecoder.h"
#include "foundation/storage/CHuffmanDecoder.h"
#include "foundation/storage/CSsedDecoder.h"
#include "foundation/storage/ebzipformat.h"
#include "foundation/storage/legacyio.h"

namespace {

const size_t kInflateChunk = 1024;  // compressed bytes fed to inflate per read
const int32_t kSsedSliceSize = 32768;
const int32_t kEbxaSliceSize = 4096;
const int kEbxaMaxRecords = 127;  // 16-byte records that fit in the index block

using byteorder::be16;
using byteorder::be32;
using byteorder::beN;

bool endsWithNoCase(const char* text, const char* tail) {
    size_t n = strlen(text), m = strlen(tail);
    return n >= m && strcasecmp(text + n - m, tail) == 0;
}

}  // namespace

void CZio::InflaterDeleter::operator()(z_stream_s* z) const {
    if (!z) return;
    inflateEnd(z);
    delete z;
}

CZio::CZio() : m_hint(0), m_progress(nullptr), m_progressContext(nullptr) {
    memset(&m_st, 0, sizeof m_st);
    for (int i = 0; i < ZIO_MAX_SLOTS; ++i) m_slotKey[i] = -1;
}

CZio::~CZio() {
    close();
}

void CZio::setProgressCallback(ZIO_PROGRESS_FUNC callback, void* context) {
    m_progress = callback;
    m_progressContext = context;
}

int64_t CZio::fileSize() const {
    return m_st.uncompressedSize;
}

const ZIO_STATE* CZio::state() const {
    return &m_st;
}

void CZio::releaseResources() {
    m_file.reset();
    for (int i = 0; i < ZIO_MAX_SLOTS; ++i) {
        std::vector<uint8_t>().swap(m_slots[i]);
        m_slotKey[i] = -1;
        m_st.slotBlock[i] = 0;
        m_st.slotChunkBase[i] = 0;
    }
    m_inflater.reset();
    std::vector<uint8_t>().swap(m_inflateInput);
    m_huffman.reset();
    m_ebxa.reset();
    m_ssed.reset();
    m_st.currentBlock = 0;
}

void CZio::close() {
    releaseResources();
    memset(&m_st, 0, sizeof m_st);
    m_hint = 0;
}

int CZio::allocateSlots(int count, int32_t sliceSize) {
    if (count < 1 || count > ZIO_MAX_SLOTS || sliceSize < kBlockSize) return -1;
    m_st.slotCount = count;
    m_st.sliceSize = sliceSize;
    m_st.cursor = 0;
    try {
        for (int i = 0; i < count; ++i) m_slots[i].assign(size_t(sliceSize), 0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

int CZio::open(const char* path, unsigned hint) {
    close();
    m_st.currentBlock = 1;
    m_st.mode = ZIO_PLAIN;
    m_hint = hint;
    if (!path) return -1;
    snprintf(m_st.path, sizeof m_st.path, "%s", path);

    // Only a regular file is a book file (a FIFO is refused at once).
    m_file = openRegularFile(path);
    if (!m_file) return -1;

    uint8_t header[ZIO_MIN_FILE_SIZE];
    int result = -1;
    if (fread(header, 1, sizeof header, m_file.get()) == sizeof header) {
        const int64_t end = legacyio::fileLength(m_file.get());
        if (end >= 0) {
            m_st.fileSize = end;
            result = 0;
        }
    }

    if (result == 0) {
        if (memcmp(header, "EBZip", 5) == 0) {
            result = openEbzip(header);
        } else if (memcmp(header, "SSEDINFO", 8) == 0) {
            m_st.mode = ZIO_SSED;
            pathDirName(path, m_st.path, sizeof m_st.path);
            result = allocateSlots(2, kSsedSliceSize);
            if (result == 0) result = openSsed();
        } else if (endsWithNoCase(path, "START")) {
            // An EB text file: S-EBXA when its index table says so, else plain.
            if (detectEbxa() == 0) {
                m_st.mode = ZIO_SEBXA;
                result = allocateSlots(2, kEbxaSliceSize);
                if (result == 0) result = openEbxa();
            } else {
                m_st.uncompressedSize = m_st.fileSize;
            }
        } else {
            int found = detectHuffman(header, hint);
            if (found < 0) {
                result = -1;
            } else if (found == 0) {
                result = allocateSlots(16, kBlockSize);
                if (result == 0) result = openHuffman();
            } else {
                m_st.mode = ZIO_PLAIN;
                m_st.uncompressedSize = m_st.fileSize;
            }
        }
    }

    if (result != 0) {
        // The state record keeps what was detected; reads give nothing.
        releaseResources();
        return -1;
    }
    seekBlock(1);
    return 0;
}

int CZio::openEbzip(const uint8_t* header) {
    m_st.mode = ZIO_EBZIP;
    m_st.ebzipMode = header[5] >> 4;
    m_st.level = header[5] & 0x0F;
    m_st.headerBytes[0] = header[6];
    m_st.headerBytes[1] = header[7];
    m_st.uncompressedSize = int64_t(beN(header + 8, 6));
    m_st.indexWidth = ebzip::indexWidthFor(m_st.uncompressedSize);
    m_st.headerAdler = be32(header + 14);
    m_st.slotCount = 2;
    if (!ebzip::knownForm(header[5])) {
        // Unknown mode or level: the file is EBZip, but no slice of it can
        // be read and its checksum passes for nothing.
        m_st.sliceSize = 0;
        m_st.dataStart = 0;
        return 0;
    }
    int32_t sliceSize = kBlockSize << m_st.level;
    int64_t slices = (m_st.uncompressedSize + sliceSize - 1) / sliceSize;
    m_st.dataStart = (slices + 1) * m_st.indexWidth + ebzip::kHeaderSize;
    return allocateSlots(2, sliceSize);
}

// SSED: reads the SSEDINFO catalog and opens its SSEDDATA component files.
// The path in the state record is already the catalog's directory.
int CZio::openSsed() {
    m_ssed.reset(new (std::nothrow) CSsedDecoder);
    if (!m_ssed || m_ssed->open(m_file.get(), m_st.fileSize, m_st.path[0] ? m_st.path : ".") != 0) return -1;
    m_st.uncompressedSize = m_ssed->uncompressedSize();
    return 0;
}

// S-EBXA: finds the body text (0x00), compressed text (0x21) and its slice
// table (0x22) in the index table of block 1, read raw. 0 when all three
// are there with non-zero start blocks, 1 when the file is plain.
int CZio::detectEbxa() {
    uint8_t block[kBlockSize];
    memset(block, 0, sizeof block);
    if (fseeko(m_file.get(), 0, SEEK_SET) != 0) return 1;
    size_t got = fread(block, 1, sizeof block, m_file.get());
    if (got < 16) return 1;

    int count = std::min<int>(int(be16(block)), kEbxaMaxRecords);
    uint32_t textStart = 0, textBlocks = 0, sliceStart = 0, sliceBlocks = 0, tableStart = 0, tableBlocks = 0;
    for (int i = 0; i < count; ++i) {
        const uint8_t* rec = block + 16 + 16 * i;
        uint32_t start = be32(rec + 2), blocks = be32(rec + 6);
        switch (rec[0]) {  // the last record of an id wins
            case 0x00:
                textStart = start;
                textBlocks = blocks;
                break;
            case 0x21:
                sliceStart = start;
                sliceBlocks = blocks;
                break;
            case 0x22:
                tableStart = start;
                tableBlocks = blocks;
                break;
            default:
                break;
        }
    }
    if (textStart == 0 || textBlocks == 0 || sliceStart == 0 || tableStart == 0) return 1;
    m_st.ebxaTextStart = textStart;
    m_st.ebxaTextBlocks = textBlocks;
    m_st.ebxaSliceStart = sliceStart;
    m_st.ebxaSliceBlocks = sliceBlocks;
    m_st.ebxaTableStart = tableStart;
    m_st.ebxaTableBlocks = tableBlocks;
    return 0;
}

// S-EBXA: checks the slice table against the file and sets the uncompressed size.
int CZio::openEbxa() {
    m_ebxa.reset(new (std::nothrow) CEbxaDecoder);
    if (!m_ebxa || m_ebxa->open(m_file.get(), m_st.fileSize) != 0) return -1;
    m_st.uncompressedSize = m_ebxa->uncompressedSize();
    return 0;
}

// EPWING Huffman header test: words A..E with A + B = C, C + D = E and E
// within the file (sums in 64 bits). A page index of whole 36-byte records,
// a frequency table of at least 512 bytes and tables behind the header words
// are required too, so that a file starting with zeros stays plain.
// 0 when detected (mode and uncompressed size set), 1 when plain, -1 on a
// read failure.
int CZio::huffmanVersionFor(unsigned hint, const char* path) {
    if (hint == 4 || hint == 5) return CHuffmanDecoder::VERSION_4;
    if (hint != 0) return CHuffmanDecoder::VERSION_6;
    BOOK_FILE_CODE entry;
    if (!path || CEBCatalog::fileCompression(path, &entry) != 0) return -1;
    if (!entry.named || entry.code == 0) return 0;
    if (entry.code == 0x11) return CHuffmanDecoder::VERSION_4;
    if (entry.code == 0x12) return CHuffmanDecoder::VERSION_6;
    return -1;
}

int CZio::detectHuffman(const uint8_t* header, unsigned hint) {
    if (!CHuffmanDecoder::detect(header, 20, m_st.fileSize)) return 1;
    uint32_t w[5];
    for (int i = 0; i < 5; ++i) w[i] = be32(header + 4 * i);
    const uint32_t b = w[1], c = w[2];

    // Hint 0: the version comes from the book's catalog; when it cannot be
    // known the open fails rather than decode V4/V5 as V6.
    const int version = huffmanVersionFor(hint, m_st.path);
    if (version == 0) return 1;  // the catalog stores this file plain
    m_st.mode = version == CHuffmanDecoder::VERSION_4 ? ZIO_EPWING : ZIO_EPWING6;
    for (int i = 0; i < 5; ++i) m_st.huffmanHeader[i] = w[i];

    // The last 36-byte index record ends at C; a zero page offset among its
    // pages 1-15 (bytes 6-35) is a page that does not exist.
    uint8_t last[36];
    if (!legacyio::readAt(m_file.get(), m_st.fileSize, int64_t(c) - 36, last, sizeof last)) return -1;
    int64_t size = int64_t(b / 36) * 32768;
    for (int k = 6; k < 36; k += 2)
        if (be16(last + k) == 0) size -= kBlockSize;
    m_st.uncompressedSize = size;
    return version < 0 ? -1 : 0;
}

// EPWING Huffman: reads the frequency table and builds the code tree
// (V4/V5 or V6 by the mode).
int CZio::openHuffman() {
    m_huffman.reset(new (std::nothrow) CHuffmanDecoder);
    if (!m_huffman) return -1;
    const int version = m_st.mode == ZIO_EPWING ? CHuffmanDecoder::VERSION_4 : CHuffmanDecoder::VERSION_6;
    if (m_huffman->open(m_file.get(), m_st.fileSize, version) != 0) return -1;
    m_st.uncompressedSize = m_huffman->uncompressedSize();
    return 0;
}

int CZio::seekBlock(unsigned block) {
    m_st.currentBlock = block;
    if (block == 0 || !m_file) return -1;
    switch (m_st.mode) {
        case ZIO_PLAIN:
            return fseeko(m_file.get(), off_t(int64_t(block - 1) * kBlockSize), SEEK_SET) == 0 ? 0 : -1;
        case ZIO_EBZIP:
        case ZIO_SSED:
        case ZIO_EPWING:
        case ZIO_EPWING6:
        case ZIO_SEBXA:
            return 0;
        default:
            return -1;
    }
}

int CZio::readBlock(void* buffer) {
    if (!buffer) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    memset(out, 0, kBlockSize);
    if (m_st.currentBlock == 0 || !m_file) return 0;

    const int64_t block = m_st.currentBlock;
    int n = 0;
    switch (m_st.mode) {
        case ZIO_PLAIN:
            n = readPlainBlock(out);
            break;
        case ZIO_EBZIP:
            n = readEbzipBlock(out, block);
            break;
        case ZIO_SSED:
            n = readSsedBlock(out, block);
            break;
        case ZIO_EPWING:
        case ZIO_EPWING6:
            n = readHuffmanBlock(out, block);
            break;
        case ZIO_SEBXA:
            n = readEbxaBlock(out, block);
            break;
        default:
            break;
    }
    if (n <= 0) {
        memset(out, 0, kBlockSize);
        return 0;
    }
    ++m_st.currentBlock;
    return n;
}

int CZio::readPlainBlock(uint8_t* out) {
    return int(fread(out, 1, kBlockSize, m_file.get()));
}

const uint8_t* CZio::cachedSlice(int64_t block, int64_t slice, SliceFiller fill) {
    for (int i = 0; i < m_st.slotCount; ++i)
        if (m_slotKey[i] == slice && !m_slots[i].empty()) return m_slots[i].data();

    m_st.cursor = (m_st.cursor + 1) % m_st.slotCount;
    const int slot = m_st.cursor;
    std::vector<uint8_t>& buf = m_slots[slot];
    if (buf.size() != size_t(m_st.sliceSize)) return nullptr;
    m_slotKey[slot] = -1;
    m_st.slotBlock[slot] = 0;
    if ((this->*fill)(buf.data(), slice) != 0) {
        // Nothing of a failed fill may be served later.
        std::fill(buf.begin(), buf.end(), 0);
        return nullptr;
    }
    m_slotKey[slot] = slice;
    m_st.slotBlock[slot] = block;
    return buf.data();
}

int CZio::readEbzipBlock(uint8_t* out, int64_t block) {
    if (m_st.sliceSize <= 0) return 0;
    const int64_t size = m_st.uncompressedSize;
    const int64_t start = (block - 1) * kBlockSize;
    if (start >= size) return 0;

    const int64_t slice = start / m_st.sliceSize;
    const uint8_t* data = cachedSlice(block, slice, &CZio::readEbzipSlice);
    if (!data) return 0;
    const int64_t offset = start % m_st.sliceSize;
    const int64_t real = std::min<int64_t>(kBlockSize, size - start);
    memcpy(out, data + offset, size_t(real));  // the rest stays zero
    return kBlockSize;
}

// Fills one EBZip slice from the two index entries that bound it.
int CZio::readEbzipSlice(uint8_t* slot, int64_t slice) {
    const int width = m_st.indexWidth;
    const int64_t entry = ebzip::kHeaderSize + slice * width;
    if (entry + 2 * width > m_st.dataStart) return -1;

    uint8_t raw[10];
    if (!legacyio::readAt(m_file.get(), m_st.fileSize, entry, raw, size_t(2 * width))) return -1;
    const int64_t begin = int64_t(beN(raw, width));
    const int64_t end = int64_t(beN(raw + width, width));
    // A span must lie after the index, inside the file, forwards, and be no
    // longer than a stored slice.
    if (begin < m_st.dataStart || end < begin || end > m_st.fileSize) return -1;
    const int64_t span = end - begin;
    if (span == 0 || span > m_st.sliceSize) return -1;

    if (span == m_st.sliceSize)
        return legacyio::readAt(m_file.get(), m_st.fileSize, begin, slot, size_t(span)) ? 0 : -1;
    if (fseeko(m_file.get(), off_t(begin), SEEK_SET) != 0) return -1;
    return inflateSlice(span, slot, size_t(m_st.sliceSize)) < 0 ? -1 : 0;
}

// Inflates one zlib stream of at most inLen bytes at the file position into
// out, which must come out full. Returns the compressed bytes used, or -1.
int64_t CZio::inflateSlice(int64_t inLen, uint8_t* out, size_t outLen) {
    if (!m_inflater) {
        std::unique_ptr<z_stream_s> z(new (std::nothrow) z_stream_s());
        if (!z) return -1;
        int rc = inflateInit(z.get());
        if (rc != Z_OK) {
            fprintf(stderr, "inflateInit: %s\n", z->msg ? z->msg : "???");
            return -1;
        }
        m_inflater.reset(z.release());
        m_inflateInput.assign(kInflateChunk, 0);
    } else if (inflateReset(m_inflater.get()) != Z_OK) {
        return -1;
    }

    z_stream_s* z = m_inflater.get();
    z->next_in = nullptr;
    z->avail_in = 0;
    z->next_out = out;
    z->avail_out = uInt(outLen);
    int64_t remaining = inLen;
    while (z->avail_out > 0) {
        if (z->avail_in == 0) {
            if (remaining <= 0) break;
            size_t want = size_t(std::min<int64_t>(remaining, int64_t(kInflateChunk)));
            size_t got = fread(m_inflateInput.data(), 1, want, m_file.get());
            if (got == 0) break;
            remaining -= int64_t(got);
            z->next_in = m_inflateInput.data();
            z->avail_in = uInt(got);
        }
        int rc = inflate(z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK) {
            fprintf(stderr, "inflate: %s\n", z->msg ? z->msg : "???");
            return -1;
        }
    }
    if (z->avail_out != 0) return -1;  // the stream did not fill the slice
    return inLen - remaining - int64_t(z->avail_in);
}

// EPWING Huffman: one page per slice, page = block - 1.
int CZio::readHuffmanBlock(uint8_t* out, int64_t block) {
    if (block < 1 || (block - 1) * kBlockSize >= m_st.uncompressedSize) return 0;
    const uint8_t* data = cachedSlice(block, block - 1, &CZio::readHuffmanSlice);
    if (!data) return 0;
    memcpy(out, data, kBlockSize);
    return kBlockSize;
}

// Decodes page `slice` into the slot.
int CZio::readHuffmanSlice(uint8_t* slot, int64_t slice) {
    return m_huffman ? m_huffman->decodePage(slice, slot) : -1;
}

// S-EBXA: the text is cut into 4096-byte slices counted from its first
// block; blocks outside the text are stored raw at their own offset.
int CZio::readEbxaBlock(uint8_t* out, int64_t block) {
    const int64_t textStart = m_st.ebxaTextStart;
    const int64_t textEnd = textStart + int64_t(m_st.ebxaTextBlocks);  // first block after the text
    if (block >= textStart && block < textEnd) {
        const int64_t slice = (block - textStart) / 2;
        const uint8_t* data = cachedSlice(block, slice, &CZio::readEbxaSlice);
        if (!data) return 0;
        memcpy(out, data + ((block - textStart) % 2) * kBlockSize, kBlockSize);
        return kBlockSize;
    }
    if ((block - 1) * kBlockSize >= m_st.uncompressedSize) return 0;
    if (fseeko(m_file.get(), off_t((block - 1) * kBlockSize), SEEK_SET) != 0) return 0;
    // A block that lies (partly) past the physical end stays zero-filled.
    size_t got = fread(out, 1, kBlockSize, m_file.get());
    (void)got;
    return kBlockSize;
}

// Decodes text slice `slice` (LZSS) into the slot.
int CZio::readEbxaSlice(uint8_t* slot, int64_t slice) {
    return m_ebxa ? m_ebxa->decodeSlice(slice, slot) : -1;
}

// SSED: the block's component and chunk; the cache is hit by chunk.
int CZio::readSsedBlock(uint8_t* out, int64_t block) {
    if (!m_ssed) return 0;
    const int64_t base = m_ssed->chunkOfBlock(block);  // the chunk's first block is the slice key
    if (base == 0) return m_ssed->readLooseBlock(block, out) == 0 ? kBlockSize : 0;
    const uint8_t* data = cachedSlice(block, base, &CZio::readSsedSlice);
    if (!data) return 0;
    memcpy(out, data + (block - base) * kBlockSize, kBlockSize);
    return kBlockSize;
}

// Expands one SSEDDATA chunk into the slot.
int CZio::readSsedSlice(uint8_t* slot, int64_t slice) {
    if (!m_ssed || m_ssed->decodeChunk(slice, slot) != 0) return -1;
    m_st.slotChunkBase[m_st.cursor] = slice;
    return 0;
}

int CZio::checkCRC() {
    if (m_st.mode != ZIO_EBZIP) return -2;
    // A header of an unknown form fails even when it announces no bytes.
    if (!m_file || m_st.sliceSize <= 0) return -1;
    const int64_t size = m_st.uncompressedSize;
    const int64_t total = (size + kBlockSize - 1) / kBlockSize;
    if (seekBlock(1) != 0) return -1;

    uLong adler = adler32(0L, Z_NULL, 0);
    uint8_t block[kBlockSize];
    int64_t summed = 0, k = 0;
    while (summed < size) {
        ++k;
        if (readBlock(block) <= 0) return -1;
        const int64_t len = std::min<int64_t>(kBlockSize, size - summed);
        adler = adler32(adler, block, uInt(len));
        summed += len;
        if (summed >= size) break;
        if (m_progress) m_progress(m_progressContext, k, total);
    }
    if (m_progress) m_progress(m_progressContext, k, total);
    return uint32_t(adler) == m_st.headerAdler ? 0 : -1;
}
