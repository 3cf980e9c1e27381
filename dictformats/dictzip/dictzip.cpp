#include "dictformats/dictzip/dictzip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "foundation/FileHandle.h"
#include "foundation/byteorder.h"

namespace {

enum { kFlagHeaderCrc = 2, kFlagExtra = 4, kFlagName = 8, kFlagComment = 16 };

// Deflate cannot expand its input by more than this factor (a 258-byte match
// in two bits), plus the bytes of one match per chunk.
constexpr uint64_t kMaxInflateRatio = 1032;

bool readBytes(FILE* f, uint8_t* p, size_t n) {
    return std::fread(p, 1, n, f) == n;
}

// Skips a NUL-terminated text; the bytes read, NUL included, or -1 when the
// file ends first.
long skipText(FILE* f) {
    long n = 0;
    for (;;) {
        int c = std::getc(f);
        if (c == EOF) return -1;
        ++n;
        if (c == 0) return n;
    }
}

void clearHeader(DICTZIP_STATE* s) {
    s->headerLength = 0;
    s->method = s->flags = s->xfl = s->os = 0;
    s->mtime = 0;
    s->version = s->chunkLength = s->chunkCount = 0;
    s->chunkSizes.reset();
    s->chunkOffsets.reset();
    s->crc32 = s->isize = s->fileLength = s->dataLength = 0;
    for (DICTZIP_SLOT& slot : s->slots) {
        slot.chunk = -1;
        slot.length = 0;
        slot.complete = 0;
        slot.buffer.reset();
    }
    s->nextSlot = 0;
    s->liveSlot = -1;
    s->compressed.reset();
}

// Reads the "RA" subfield body of len bytes.
int readRandomAccess(FILE* f, uint32_t len, DICTZIP_STATE* s) {
    uint8_t b[6];
    if (len < 6 || !readBytes(f, b, 6)) return -1;
    s->version = byteorder::le16(b);
    s->chunkLength = byteorder::le16(b + 2);
    s->chunkCount = byteorder::le16(b + 4);
    if (s->version != 1 || s->chunkLength == 0 || s->chunkCount < 1) return -1;
    if (6u + 2u * static_cast<uint32_t>(s->chunkCount) > len) return -1;
    s->chunkSizes.reset(new (std::nothrow) uint32_t[s->chunkCount]);
    if (!s->chunkSizes) return -1;
    for (int i = 0; i < s->chunkCount; ++i) {
        if (!readBytes(f, b, 2)) return -1;
        s->chunkSizes[i] = byteorder::le16(b);
    }
    return 0;
}

// The extra field of xlen bytes: its subfields, of which "RA" is taken.
int readExtra(FILE* f, uint32_t xlen, DICTZIP_STATE* s) {
    const long end = 12 + static_cast<long>(xlen);
    long pos = 12;
    while (pos + 4 <= end) {
        uint8_t sub[4];
        if (std::fseek(f, pos, SEEK_SET) != 0 || !readBytes(f, sub, 4)) return -1;
        const uint32_t len = byteorder::le16(sub + 2);
        if (pos + 4 + static_cast<long>(len) > end) return -1;
        if (sub[0] == 'R' && sub[1] == 'A' && !s->chunkSizes) {
            if (readRandomAccess(f, len, s) != 0) return -1;
        }
        pos += 4 + static_cast<long>(len);
    }
    return std::fseek(f, end, SEEK_SET) == 0 ? 0 : -1;
}

int parseHeader(FILE* f, DICTZIP_STATE* s) {
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return -1;
    uint8_t h[10];
    if (!readBytes(f, h, 10) || h[0] != 0x1F || h[1] != 0x8B) return -1;
    s->method = h[2];
    s->flags = h[3];
    s->mtime = byteorder::le32(h + 4);
    s->xfl = h[8];
    s->os = h[9];
    if (s->method != Z_DEFLATED) return -1;
    long length = 10;
    if (s->flags & kFlagExtra) {
        uint8_t x[2];
        if (!readBytes(f, x, 2)) return -1;
        const uint32_t xlen = byteorder::le16(x);
        length += 2 + static_cast<long>(xlen);
        if (readExtra(f, xlen, s) != 0) return -1;
    }
    for (int flag : {kFlagName, kFlagComment}) {
        if (!(s->flags & flag)) continue;
        long n = skipText(f);
        if (n < 0) return -1;
        length += n;
    }
    if (s->flags & kFlagHeaderCrc) {
        uint8_t c[2];
        if (!readBytes(f, c, 2)) return -1;
        length += 2;
    }
    if (std::ftell(f) != length) return -1;
    s->headerLength = static_cast<int32_t>(length);

    const uint64_t fileLength = static_cast<uint64_t>(st.st_size);
    if (fileLength < static_cast<uint64_t>(length) + 8) return -1;
    uint8_t t[8];
    if (std::fseek(f, static_cast<long>(fileLength - 8), SEEK_SET) != 0 || !readBytes(f, t, 8)) return -1;
    s->crc32 = byteorder::le32(t);
    s->isize = byteorder::le32(t + 4);
    s->fileLength = fileLength;
    if (!s->chunkSizes) return -1;  // gzip without random access

    // Every chunk must lie between the header and the trailer.
    s->chunkOffsets.reset(new (std::nothrow) uint64_t[s->chunkCount]);
    if (!s->chunkOffsets) return -1;
    uint64_t offset = static_cast<uint64_t>(length);
    for (int i = 0; i < s->chunkCount; ++i) {
        s->chunkOffsets[i] = offset;
        offset += s->chunkSizes[i];
    }
    if (offset > fileLength - 8) return -1;

    // The data is at most chunkCount chunks long; ISIZE, when it fits that,
    // is the exact length (it is only the length modulo 2^32).
    const uint64_t chunkLength = static_cast<uint64_t>(s->chunkLength);
    const uint64_t bound = static_cast<uint64_t>(s->chunkCount) * chunkLength;
    const uint64_t floor = bound - chunkLength;
    s->dataLength = (s->isize > floor && s->isize <= bound) ? s->isize : bound;

    for (DICTZIP_SLOT& slot : s->slots) {
        slot.buffer.reset(new (std::nothrow) uint8_t[kDictzipSlotSize]);
        if (!slot.buffer) return -1;
        slot.chunk = -1;
        slot.length = 0;
    }
    s->compressed.reset(new (std::nothrow) uint8_t[kDictzipSlotSize]);
    if (!s->compressed) return -1;
    s->nextSlot = 0;
    return 0;
}

// Keeps a failure's diagnostic line in the state for its caller.
void report(const DICTZIP_STATE* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
void report(const DICTZIP_STATE* s, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(s->error, sizeof s->error, format, args);
    va_end(args);
}

void dropSlot(DICTZIP_STATE* s, int index) {
    DICTZIP_SLOT& slot = s->slots[index];
    slot.chunk = -1;
    slot.length = 0;
    slot.complete = 0;
    if (s->liveSlot == index) s->liveSlot = -1;
}

// Reads the compressed bytes of chunk i and starts inflating them into the
// slot from the beginning; 0, or -1 after a diagnostic line (the slot is
// then left empty).
int startChunk(DICTZIP_STATE* s, int i, int index) {
    dropSlot(s, index);
    s->liveSlot = -1;
    const uint32_t size = s->chunkSizes[i];
    if (size == 0 || !readFullyAt(s->descriptor, s->compressed.get(), size, s->chunkOffsets[i])) {
        report(s, "read error: %u\n", size);
        return -1;
    }
    z_stream& z = s->inflater;
    // Each chunk starts a fresh stream: nothing of the previous chunk's
    // window or end-of-stream state may leak into it.
    if (inflateReset(&z) != Z_OK) {
        report(s, "inflate: %s\n", z.msg ? z.msg : "reset failed");
        return -1;
    }
    z.next_in = s->compressed.get();
    z.avail_in = size;
    s->slots[index].chunk = i;
    s->liveSlot = index;
    return 0;
}

// Inflates more of the live slot's chunk until the slot holds need bytes or
// the whole chunk; 0, or -1 after a diagnostic line (the slot is then left
// empty).
int continueChunk(DICTZIP_STATE* s, int index, uint32_t need) {
    DICTZIP_SLOT& slot = s->slots[index];
    z_stream& z = s->inflater;
    while (!slot.complete && static_cast<uint32_t>(slot.length) < need) {
        const uint32_t room = kDictzipSlotSize - static_cast<uint32_t>(slot.length);
        if (room == 0) {
            if (z.avail_in == 0) {
                slot.complete = 1;
                break;
            }
            report(s, "inflate did not flush (%u pending, %u avail)\n", z.avail_in, 0u);
            dropSlot(s, index);
            return -1;
        }
        // Somewhat more than needed, in steps of 4 KiB.
        uint32_t want = ((need - static_cast<uint32_t>(slot.length)) + 4095) & ~4095u;
        if (want > room) want = room;
        const uInt inBefore = z.avail_in;
        z.next_out = slot.buffer.get() + slot.length;
        z.avail_out = want;
        const int rc = inflate(&z, Z_SYNC_FLUSH);
        const uint32_t produced = want - z.avail_out;
        slot.length += static_cast<int32_t>(produced);
        // The final chunk may end the deflate stream (Z_STREAM_END); a chunk
        // is whole when its input is used up while room was left.
        if (rc == Z_STREAM_END || (z.avail_in == 0 && (z.avail_out > 0 || rc == Z_BUF_ERROR))) {
            if (z.avail_in != 0) {
                report(s, "inflate did not flush (%u pending, %u avail)\n", z.avail_in, z.avail_out);
                dropSlot(s, index);
                return -1;
            }
            slot.complete = 1;
        } else if ((rc != Z_OK && rc != Z_BUF_ERROR) || (produced == 0 && z.avail_in == inBefore)) {
            report(s, "inflate: %s\n", z.msg ? z.msg : zError(rc));
            dropSlot(s, index);
            return -1;
        }
    }
    if (slot.complete && s->liveSlot == index) s->liveSlot = -1;
    return 0;
}

}  // namespace

DICTZIP_STATE::DICTZIP_STATE() {
    std::memset(&inflater, 0, sizeof inflater);
}

DICTZIP_STATE::~DICTZIP_STATE() {
    dictzipClose(this);
}

int dictzipReadHeader(const char* path, DICTZIP_STATE* state) {
    if (!path || !state) return -1;
    clearHeader(state);
    FilePtr f = openFile(path, "rb");
    if (!f) return -1;
    if (parseHeader(f.get(), state) != 0) {
        clearHeader(state);
        return -1;
    }
    return 0;
}

int dictzipOpen(const char* path, DICTZIP_STATE* state) {
    if (!path || !state) return -1;
    struct stat st;
    if (stat(path, &st) != 0) return -1;
    dictzipClose(state);
    dictzipReadHeader(path, state);
    state->descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    return state->descriptor >= 0 ? 0 : -1;
}

int dictzipCheckRange(const DICTZIP_STATE* s, uint64_t offset, uint64_t size) {
    s->error[0] = 0;
    if (s->chunkCount < 1 || !s->chunkOffsets) return -1;
    if (size == 0) return 0;
    if (offset > s->dataLength || size > s->dataLength - offset) {
        report(s, "range %llu+%llu past the end of the data (%llu bytes)\n", static_cast<unsigned long long>(offset),
               static_cast<unsigned long long>(size), static_cast<unsigned long long>(s->dataLength));
        return -1;
    }
    // The chunks of the range must be able to hold it before room is made.
    const uint64_t chunkLength = static_cast<uint64_t>(s->chunkLength);
    const uint64_t first = offset / chunkLength, last = (offset + size - 1) / chunkLength;
    uint64_t room = 0;
    for (uint64_t i = first; i <= last && room < size + offset % chunkLength; ++i) {
        uint64_t most = (static_cast<uint64_t>(s->chunkSizes[i]) + 1) * kMaxInflateRatio;
        room += most < chunkLength ? most : chunkLength;
    }
    if (room < size + offset % chunkLength) {
        report(s, "range %llu+%llu larger than its chunks can hold\n", static_cast<unsigned long long>(offset),
               static_cast<unsigned long long>(size));
        return -1;
    }
    return 0;
}

uint8_t* dictzipReserve(DICTZIP_STATE* s, uint64_t size) {
    if (size >= SIZE_MAX) return nullptr;
    if (!s->readBuffer || size > s->readBufferSize) {
        s->readBuffer.reset();
        s->readBufferSize = 0;
        s->readBuffer.reset(new (std::nothrow) uint8_t[size + 1]);
        if (!s->readBuffer) return nullptr;
        s->readBufferSize = size;
    }
    s->readBuffer[0] = 0;
    return s->readBuffer.get();
}

int dictzipInflateRange(DICTZIP_STATE* s, uint64_t offset, uint64_t size) {
    if (!s->readBuffer || size > s->readBufferSize || dictzipCheckRange(s, offset, size) != 0) return -1;
    uint8_t* out = s->readBuffer.get();
    if (size == 0) {
        out[0] = 0;
        return 0;
    }
    if (!s->inflaterReady) {
        std::memset(&s->inflater, 0, sizeof s->inflater);
        if (inflateInit2(&s->inflater, -15) != Z_OK) {
            report(s, "Cannot initialize inflation engine: %s\n", s->inflater.msg ? s->inflater.msg : "");
            return -1;
        }
        s->inflaterReady = 1;
    }
    const uint64_t chunkLength = static_cast<uint64_t>(s->chunkLength);
    const uint64_t first = offset / chunkLength, last = (offset + size - 1) / chunkLength;
    const uint64_t firstStart = offset - first * chunkLength;
    const uint64_t lastEnd = offset + size - last * chunkLength;
    for (uint64_t i = first; i <= last; ++i) {
        const uint64_t from = i == first ? firstStart : 0;
        const uint64_t to = i == last ? lastEnd : chunkLength;
        int index = -1;
        for (int k = 0; k < kDictzipSlots; ++k)
            if (s->slots[k].chunk == static_cast<int32_t>(i)) {
                index = k;
                break;
            }
        if (index < 0) {
            index = s->nextSlot;
            s->nextSlot = (s->nextSlot + 1) % kDictzipSlots;
            if (startChunk(s, static_cast<int>(i), index) != 0) {
                s->readBuffer[0] = 0;
                return -1;
            }
        } else if (!s->slots[index].complete && static_cast<uint64_t>(s->slots[index].length) < to &&
                   s->liveSlot != index) {
            // Part of this chunk is inflated, but the inflater has moved on:
            // start it again.
            if (startChunk(s, static_cast<int>(i), index) != 0) {
                s->readBuffer[0] = 0;
                return -1;
            }
        }
        if (continueChunk(s, index, static_cast<uint32_t>(to)) != 0) {
            s->readBuffer[0] = 0;
            return -1;
        }
        DICTZIP_SLOT* slot = &s->slots[index];
        // A chunk shorter than the bytes wanted of it is damaged (or the
        // range runs past the real end of the data).
        if (static_cast<uint64_t>(slot->length) < to) {
            report(s, "Length = %d instead of %d\n", slot->length, static_cast<int>(to));
            s->readBuffer[0] = 0;
            return -1;
        }
        std::memcpy(out, slot->buffer.get() + from, to - from);
        out += to - from;
    }
    *out = 0;
    return 0;
}

const char* dictzipRead(DICTZIP_STATE* s, uint64_t offset, uint64_t size) {
    static const char kEmpty[1] = {0};
    if (!s) return kEmpty;
    if (dictzipCheckRange(s, offset, size) != 0) {
        uint8_t* b = dictzipReserve(s, 0);
        return b ? reinterpret_cast<const char*>(b) : kEmpty;
    }
    uint8_t* b = dictzipReserve(s, size);
    if (!b) return kEmpty;
    if (dictzipInflateRange(s, offset, size) != 0) b[0] = 0;
    return reinterpret_cast<const char*>(b);
}

void dictzipClose(DICTZIP_STATE* s) {
    if (!s) return;
    if (s->descriptor >= 0) ::close(s->descriptor);
    s->descriptor = -1;
    if (s->inflaterReady) inflateEnd(&s->inflater);
    s->inflaterReady = 0;
    s->readBuffer.reset();
    s->readBufferSize = 0;
    clearHeader(s);
}
