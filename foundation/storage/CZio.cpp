#include "foundation/storage/CZio.h"

#include <strings.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/byteorder.h"
#include "foundation/storage/CEbxaDecoder.h"
#include "foundation/storage/CHuffmanDecoder.h"
#include "foundation/storage/CSsedDecoder.h"

namespace {

const int64_t kHeaderSize = 22;  // EBZip header before the slice index
const unsigned kMaxEbzipLevel = 5;
const size_t kInflateChunk = 1024;  // compressed bytes fed to inflate per read
const int32_t kSsedSliceSize = 32768;
const int32_t kEbxaSliceSize = 4096;
const int kEbxaMaxRecords = 127;  // 16-byte records that fit in the index block

using byteorder::be16;
using byteorder::be32;
using byteorder::beN;

// Width of an EBZip slice index entry for an uncompressed size.
uint8_t ebzipIndexWidth(int64_t size) {
    if (size < 0x10000LL) return 2;
    if (size < 0x1000000LL) return 3;
    if (size < 0x100000000LL) return 4;
    return 5;
}

bool endsWithNoCase(const char* text, const char* tail) {
    size_t n = strlen(text), m = strlen(tail);
    return n >= m && strcasecmp(text + n - m, tail) == 0;
}

// The path up to its last '/' or '\\'; empty when it has none or only a leading one.
void dirNameOf(const char* path, char* out, size_t cap) {
    const char* cut = nullptr;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') cut = p;
    size_t n = cut ? size_t(cut - path) : 0;
    if (n >= cap) n = cap - 1;
    memcpy(out, path, n);
    out[n] = '\0';
}

// Reads exactly `len` bytes at `offset`; false on a failed seek or a short read.
bool readAt(FILE* f, int64_t offset, uint8_t* out, size_t len) {
    if (offset < 0 || fseeko(f, off_t(offset), SEEK_SET) != 0) return false;
    return fread(out, 1, len, f) == len;
}

}  // namespace

void CZio::FileCloser::operator()(FILE* f) const {
    if (f) fclose(f);
}

void CZio::InflaterDeleter::operator()(z_stream_s* z) const {
    if (!z) return;
    inflateEnd(z);
    delete z;
}

CZio::CZio() : hint_(0), progress_(nullptr), progressContext_(nullptr) {
    memset(&st_, 0, sizeof st_);
    for (int i = 0; i < ZIO_MAX_SLOTS; ++i) slotKey_[i] = -1;
}

CZio::~CZio() {
    close();
}

void CZio::setProgressCallback(ZIO_PROGRESS_FUNC callback, void* context) {
    progress_ = callback;
    progressContext_ = context;
}

int64_t CZio::fileSize() const {
    return st_.uncompressedSize;
}

const ZIO_STATE* CZio::state() const {
    return &st_;
}

void CZio::releaseResources() {
    file_.reset();
    for (int i = 0; i < ZIO_MAX_SLOTS; ++i) {
        std::vector<uint8_t>().swap(slots_[i]);
        slotKey_[i] = -1;
        st_.slotBlock[i] = 0;
        st_.slotChunkBase[i] = 0;
    }
    inflater_.reset();
    std::vector<uint8_t>().swap(inflateInput_);
    huffman_.reset();
    ebxa_.reset();
    ssed_.reset();
    st_.currentBlock = 0;
}

void CZio::close() {
    releaseResources();
    memset(&st_, 0, sizeof st_);
    hint_ = 0;
}

int CZio::allocateSlots(int count, int32_t sliceSize) {
    if (count < 1 || count > ZIO_MAX_SLOTS || sliceSize < ZIO_BLOCK_SIZE) return -1;
    st_.slotCount = count;
    st_.sliceSize = sliceSize;
    st_.cursor = 0;
    try {
        for (int i = 0; i < count; ++i) slots_[i].assign(size_t(sliceSize), 0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

int CZio::open(const char* path, unsigned hint) {
    close();
    st_.currentBlock = 1;
    st_.mode = ZIO_PLAIN;
    hint_ = hint;
    if (!path) return -1;
    snprintf(st_.path, sizeof st_.path, "%s", path);

    file_.reset(fopen(path, "rb"));
    if (!file_) return -1;

    uint8_t header[32];
    int result = -1;
    if (fread(header, 1, sizeof header, file_.get()) == sizeof header && fseeko(file_.get(), 0, SEEK_END) == 0) {
        off_t end = ftello(file_.get());
        if (end >= 0) {
            st_.fileSize = int64_t(end);
            result = 0;
        }
    }

    if (result == 0) {
        if (memcmp(header, "EBZip", 5) == 0) {
            result = openEbzip(header);
        } else if (memcmp(header, "SSEDINFO", 8) == 0) {
            st_.mode = ZIO_SSED;
            dirNameOf(path, st_.path, sizeof st_.path);
            result = allocateSlots(2, kSsedSliceSize);
            if (result == 0) result = openSsed();
        } else if (endsWithNoCase(path, "START")) {
            // An EB text file: S-EBXA when its index table says so, else plain.
            if (detectEbxa() == 0) {
                st_.mode = ZIO_SEBXA;
                result = allocateSlots(2, kEbxaSliceSize);
                if (result == 0) result = openEbxa();
            } else {
                st_.uncompressedSize = st_.fileSize;
            }
        } else {
            int found = detectHuffman(header, hint);
            if (found < 0) {
                result = -1;
            } else if (found == 0) {
                result = allocateSlots(16, ZIO_BLOCK_SIZE);
                if (result == 0) result = openHuffman();
            } else {
                st_.mode = ZIO_PLAIN;
                st_.uncompressedSize = st_.fileSize;
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
    st_.mode = ZIO_EBZIP;
    st_.ebzipMode = header[5] >> 4;
    st_.level = header[5] & 0x0F;
    st_.headerBytes[0] = header[6];
    st_.headerBytes[1] = header[7];
    st_.uncompressedSize = int64_t(beN(header + 8, 6));
    st_.indexWidth = ebzipIndexWidth(st_.uncompressedSize);
    st_.headerAdler = be32(header + 14);
    st_.slotCount = 2;
    if (st_.level > kMaxEbzipLevel) {
        // Unknown level: the file is EBZip, but no slice of it can be read.
        st_.sliceSize = 0;
        st_.dataStart = 0;
        return 0;
    }
    int32_t sliceSize = ZIO_BLOCK_SIZE << st_.level;
    int64_t slices = (st_.uncompressedSize + sliceSize - 1) / sliceSize;
    st_.dataStart = (slices + 1) * st_.indexWidth + kHeaderSize;
    return allocateSlots(2, sliceSize);
}

// SSED: reads the SSEDINFO catalog and opens its SSEDDATA component files.
// The path in the state record is already the catalog's directory.
int CZio::openSsed() {
    ssed_.reset(new (std::nothrow) CSsedDecoder);
    if (!ssed_ || ssed_->open(file_.get(), st_.fileSize, st_.path[0] ? st_.path : ".") != 0) return -1;
    st_.uncompressedSize = ssed_->uncompressedSize();
    return 0;
}

// S-EBXA: finds the body text (0x00), compressed text (0x21) and its slice
// table (0x22) in the index table of block 1, read raw. 0 when all three
// are there with non-zero start blocks, 1 when the file is plain.
int CZio::detectEbxa() {
    uint8_t block[ZIO_BLOCK_SIZE];
    memset(block, 0, sizeof block);
    if (fseeko(file_.get(), 0, SEEK_SET) != 0) return 1;
    size_t got = fread(block, 1, sizeof block, file_.get());
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
    st_.ebxaTextStart = textStart;
    st_.ebxaTextBlocks = textBlocks;
    st_.ebxaSliceStart = sliceStart;
    st_.ebxaSliceBlocks = sliceBlocks;
    st_.ebxaTableStart = tableStart;
    st_.ebxaTableBlocks = tableBlocks;
    return 0;
}

// S-EBXA: checks the slice table against the file and sets the uncompressed size.
int CZio::openEbxa() {
    ebxa_.reset(new (std::nothrow) CEbxaDecoder);
    if (!ebxa_ || ebxa_->open(file_.get(), st_.fileSize) != 0) return -1;
    st_.uncompressedSize = ebxa_->uncompressedSize();
    return 0;
}

// EPWING Huffman header test: words A..E with A + B = C, C + D = E and E
// within the file (sums in 64 bits). A page index of whole 36-byte records,
// a frequency table of at least 512 bytes and tables behind the header words
// are required too, so that a file starting with zeros stays plain.
// 0 when detected (mode and uncompressed size set), 1 when plain, -1 on a
// read failure.
int CZio::detectHuffman(const uint8_t* header, unsigned hint) {
    uint32_t w[5];
    for (int i = 0; i < 5; ++i) w[i] = be32(header + 4 * i);
    const uint64_t a = w[0], b = w[1], c = w[2], d = w[3], e = w[4];
    if (a + b != c || c + d != e || e > uint64_t(st_.fileSize)) return 1;
    if (a < 20 || b < 36 || b % 36 != 0 || d < 512) return 1;

    // Hint 0: the version comes from the book's catalog; when it cannot be
    // known the open fails rather than decode V4/V5 as V6.
    const int version = CHuffmanDecoder::versionForHint(hint, st_.path);
    if (version == 0) return 1;  // the catalog stores this file plain
    st_.mode = version == CHuffmanDecoder::VERSION_4 ? ZIO_EPWING : ZIO_EPWING6;
    for (int i = 0; i < 5; ++i) st_.huffmanHeader[i] = w[i];

    // The last 36-byte index record ends at C; a zero page offset among its
    // pages 1-15 (bytes 6-35) is a page that does not exist.
    uint8_t last[36];
    if (!readAt(file_.get(), int64_t(c) - 36, last, sizeof last)) return -1;
    int64_t size = int64_t(b / 36) * 32768;
    for (int k = 6; k < 36; k += 2)
        if (be16(last + k) == 0) size -= ZIO_BLOCK_SIZE;
    st_.uncompressedSize = size;
    return version < 0 ? -1 : 0;
}

// EPWING Huffman: reads the frequency table and builds the code tree
// (V4/V5 or V6 by the mode).
int CZio::openHuffman() {
    huffman_.reset(new (std::nothrow) CHuffmanDecoder);
    if (!huffman_) return -1;
    const int version = st_.mode == ZIO_EPWING ? CHuffmanDecoder::VERSION_4 : CHuffmanDecoder::VERSION_6;
    if (huffman_->open(file_.get(), st_.fileSize, version) != 0) return -1;
    st_.uncompressedSize = huffman_->uncompressedSize();
    return 0;
}

int CZio::seekBlock(unsigned block) {
    st_.currentBlock = block;
    if (block == 0 || !file_) return -1;
    switch (st_.mode) {
        case ZIO_PLAIN:
            return fseeko(file_.get(), off_t(int64_t(block - 1) * ZIO_BLOCK_SIZE), SEEK_SET) == 0 ? 0 : -1;
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
    memset(out, 0, ZIO_BLOCK_SIZE);
    if (st_.currentBlock == 0 || !file_) return 0;

    const int64_t block = st_.currentBlock;
    int n = 0;
    switch (st_.mode) {
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
        memset(out, 0, ZIO_BLOCK_SIZE);
        return 0;
    }
    ++st_.currentBlock;
    return n;
}

int CZio::readPlainBlock(uint8_t* out) {
    return int(fread(out, 1, ZIO_BLOCK_SIZE, file_.get()));
}

const uint8_t* CZio::cachedSlice(int64_t block, int64_t slice, SliceFiller fill) {
    for (int i = 0; i < st_.slotCount; ++i)
        if (slotKey_[i] == slice && !slots_[i].empty()) return slots_[i].data();

    st_.cursor = (st_.cursor + 1) % st_.slotCount;
    const int slot = st_.cursor;
    std::vector<uint8_t>& buf = slots_[slot];
    if (buf.size() != size_t(st_.sliceSize)) return nullptr;
    slotKey_[slot] = -1;
    st_.slotBlock[slot] = 0;
    if ((this->*fill)(buf.data(), slice) != 0) {
        // Nothing of a failed fill may be served later.
        std::fill(buf.begin(), buf.end(), 0);
        return nullptr;
    }
    slotKey_[slot] = slice;
    st_.slotBlock[slot] = block;
    return buf.data();
}

int CZio::readEbzipBlock(uint8_t* out, int64_t block) {
    if (st_.sliceSize <= 0) return 0;
    const int64_t size = st_.uncompressedSize;
    const int64_t start = (block - 1) * ZIO_BLOCK_SIZE;
    if (start >= size) return 0;

    const int64_t slice = start / st_.sliceSize;
    const uint8_t* data = cachedSlice(block, slice, &CZio::readEbzipSlice);
    if (!data) return 0;
    const int64_t offset = start % st_.sliceSize;
    const int64_t real = std::min<int64_t>(ZIO_BLOCK_SIZE, size - start);
    memcpy(out, data + offset, size_t(real));  // the rest stays zero
    return ZIO_BLOCK_SIZE;
}

// Fills one EBZip slice from the two index entries that bound it.
int CZio::readEbzipSlice(uint8_t* slot, int64_t slice) {
    const int width = st_.indexWidth;
    const int64_t entry = kHeaderSize + slice * width;
    if (entry + 2 * width > st_.dataStart) return -1;

    uint8_t raw[10];
    if (!readAt(file_.get(), entry, raw, size_t(2 * width))) return -1;
    const int64_t begin = int64_t(beN(raw, width));
    const int64_t end = int64_t(beN(raw + width, width));
    // A span must lie after the index, inside the file, forwards, and be no
    // longer than a stored slice.
    if (begin < st_.dataStart || end < begin || end > st_.fileSize) return -1;
    const int64_t span = end - begin;
    if (span == 0 || span > st_.sliceSize) return -1;

    if (span == st_.sliceSize) return readAt(file_.get(), begin, slot, size_t(span)) ? 0 : -1;
    if (fseeko(file_.get(), off_t(begin), SEEK_SET) != 0) return -1;
    return inflateSlice(span, slot, size_t(st_.sliceSize)) < 0 ? -1 : 0;
}

// Inflates one zlib stream of at most inLen bytes at the file position into
// out, which must come out full. Returns the compressed bytes used, or -1.
int64_t CZio::inflateSlice(int64_t inLen, uint8_t* out, size_t outLen) {
    if (!inflater_) {
        std::unique_ptr<z_stream_s> z(new (std::nothrow) z_stream_s());
        if (!z) return -1;
        int rc = inflateInit(z.get());
        if (rc != Z_OK) {
            fprintf(stderr, "inflateInit: %s\n", z->msg ? z->msg : "???");
            return -1;
        }
        inflater_.reset(z.release());
        inflateInput_.assign(kInflateChunk, 0);
    } else if (inflateReset(inflater_.get()) != Z_OK) {
        return -1;
    }

    z_stream_s* z = inflater_.get();
    z->next_in = nullptr;
    z->avail_in = 0;
    z->next_out = out;
    z->avail_out = uInt(outLen);
    int64_t remaining = inLen;
    while (z->avail_out > 0) {
        if (z->avail_in == 0) {
            if (remaining <= 0) break;
            size_t want = size_t(std::min<int64_t>(remaining, int64_t(kInflateChunk)));
            size_t got = fread(inflateInput_.data(), 1, want, file_.get());
            if (got == 0) break;
            remaining -= int64_t(got);
            z->next_in = inflateInput_.data();
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
    if (block < 1 || (block - 1) * ZIO_BLOCK_SIZE >= st_.uncompressedSize) return 0;
    const uint8_t* data = cachedSlice(block, block - 1, &CZio::readHuffmanSlice);
    if (!data) return 0;
    memcpy(out, data, ZIO_BLOCK_SIZE);
    return ZIO_BLOCK_SIZE;
}

// Decodes page `slice` into the slot.
int CZio::readHuffmanSlice(uint8_t* slot, int64_t slice) {
    return huffman_ ? huffman_->decodePage(slice, slot) : -1;
}

// S-EBXA: the text is cut into 4096-byte slices counted from its first
// block; blocks outside the text are stored raw at their own offset.
int CZio::readEbxaBlock(uint8_t* out, int64_t block) {
    const int64_t textStart = st_.ebxaTextStart;
    const int64_t textEnd = textStart + int64_t(st_.ebxaTextBlocks);  // first block after the text
    if (block >= textStart && block < textEnd) {
        const int64_t slice = (block - textStart) / 2;
        const uint8_t* data = cachedSlice(block, slice, &CZio::readEbxaSlice);
        if (!data) return 0;
        memcpy(out, data + ((block - textStart) % 2) * ZIO_BLOCK_SIZE, ZIO_BLOCK_SIZE);
        return ZIO_BLOCK_SIZE;
    }
    if ((block - 1) * ZIO_BLOCK_SIZE >= st_.uncompressedSize) return 0;
    if (fseeko(file_.get(), off_t((block - 1) * ZIO_BLOCK_SIZE), SEEK_SET) != 0) return 0;
    // A block that lies (partly) past the physical end stays zero-filled.
    size_t got = fread(out, 1, ZIO_BLOCK_SIZE, file_.get());
    (void)got;
    return ZIO_BLOCK_SIZE;
}

// Decodes text slice `slice` (LZSS) into the slot.
int CZio::readEbxaSlice(uint8_t* slot, int64_t slice) {
    return ebxa_ ? ebxa_->decodeSlice(slice, slot) : -1;
}

// SSED: the block's component and chunk; the cache is hit by chunk.
int CZio::readSsedBlock(uint8_t* out, int64_t block) {
    if (!ssed_) return 0;
    const int64_t base = ssed_->chunkOfBlock(block);  // the chunk's first block is the slice key
    if (base == 0) return ssed_->readLooseBlock(block, out) == 0 ? ZIO_BLOCK_SIZE : 0;
    const uint8_t* data = cachedSlice(block, base, &CZio::readSsedSlice);
    if (!data) return 0;
    memcpy(out, data + (block - base) * ZIO_BLOCK_SIZE, ZIO_BLOCK_SIZE);
    return ZIO_BLOCK_SIZE;
}

// Expands one SSEDDATA chunk into the slot.
int CZio::readSsedSlice(uint8_t* slot, int64_t slice) {
    if (!ssed_ || ssed_->decodeChunk(slice, slot) != 0) return -1;
    st_.slotChunkBase[st_.cursor] = slice;
    return 0;
}

int CZio::checkCRC() {
    if (st_.mode != ZIO_EBZIP) return -2;
    if (!file_) return -1;
    const int64_t size = st_.uncompressedSize;
    const int64_t total = (size + ZIO_BLOCK_SIZE - 1) / ZIO_BLOCK_SIZE;
    if (seekBlock(1) != 0) return -1;

    uLong adler = adler32(0L, Z_NULL, 0);
    uint8_t block[ZIO_BLOCK_SIZE];
    int64_t summed = 0, k = 0;
    while (summed < size) {
        ++k;
        if (readBlock(block) <= 0) return -1;
        const int64_t len = std::min<int64_t>(ZIO_BLOCK_SIZE, size - summed);
        adler = adler32(adler, block, uInt(len));
        summed += len;
        if (summed >= size) break;
        if (progress_) progress_(progressContext_, k, total);
    }
    if (progress_) progress_(progressContext_, k, total);
    return uint32_t(adler) == st_.headerAdler ? 0 : -1;
}
