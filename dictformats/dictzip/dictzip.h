// Random access to dictzip files: gzip files whose deflate stream was
// flushed into independent chunks and whose header carries an "RA" extra
// field with the compressed size of every chunk. Any byte range of the
// uncompressed data is read by inflating only the chunks that cover it, each
// only as far as needed (a later read of the same chunk goes on from there);
// the last five chunks inflated are kept.
//
// The file is untrusted: the header is checked against the file's real size
// (chunk length 0, chunk count 0, chunks past the trailer are refused), a
// range past the data or one that cannot be inflated gives an error, never
// stale bytes. Nothing is printed: a failing call leaves its diagnostic line
// in the state's error text.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

// Inflated chunks kept per open file, and the room of each.
constexpr int kDictzipSlots = 5;
constexpr uint32_t kDictzipSlotSize = 65535;

struct DICTZIP_SLOT {
    int32_t chunk = -1;  // chunk number held, -1 = empty
    std::unique_ptr<uint8_t[]> buffer;
    int32_t length = 0;    // bytes inflated into buffer so far
    int32_t complete = 0;  // 1 when the whole chunk is in buffer
};

// The state of one open dictzip file. Owned by its user; closed (and every
// buffer released) by dictzipClose or when it goes away.
struct DICTZIP_STATE {
    DICTZIP_STATE();
    ~DICTZIP_STATE();
    DICTZIP_STATE(const DICTZIP_STATE&) = delete;
    DICTZIP_STATE& operator=(const DICTZIP_STATE&) = delete;

    int32_t descriptor = -1;  // read-only descriptor of the file, -1 when closed
    std::unique_ptr<uint8_t[]> readBuffer;
    uint64_t readBufferSize = 0;  // bytes the read buffer holds besides its NUL
    int32_t headerLength = 0;     // the first chunk starts at this file offset
    int32_t method = 0;           // gzip CM
    int32_t flags = 0;            // gzip FLG
    uint64_t mtime = 0;
    int32_t xfl = 0;
    int32_t os = 0;
    int32_t version = 0;                       // VER of the "RA" field
    int32_t chunkLength = 0;                   // CHLEN: uncompressed length of every chunk but the last
    int32_t chunkCount = 0;                    // CHCNT; 0 while there is no usable "RA" field
    std::unique_ptr<uint32_t[]> chunkSizes;    // compressed size of each chunk
    std::unique_ptr<uint64_t[]> chunkOffsets;  // file offset of each chunk
    uint64_t crc32 = 0;                        // gzip trailer CRC32
    uint64_t isize = 0;                        // gzip trailer ISIZE
    uint64_t fileLength = 0;                   // size of the file
    uint64_t dataLength = 0;                   // upper bound of the uncompressed length
    z_stream inflater;
    int32_t inflaterReady = 0;
    DICTZIP_SLOT slots[kDictzipSlots];
    int32_t nextSlot = 0;                   // slot to fill on the next miss
    int32_t liveSlot = -1;                  // slot whose chunk the inflater is in the middle of
    std::unique_ptr<uint8_t[]> compressed;  // one compressed chunk
    // Why the last range check or read failed ("range 5+27 past the end of
    // the data (27 bytes)", "inflate: ..."); empty after one that succeeded.
    mutable char error[128] = {};
};

// Parses the header and trailer of the file at path into state and opens the
// file read-only into its descriptor. 0, or -1 when the path cannot be
// examined or opened. A file that is not dictzip still opens: every read of
// it then gives the empty text.
int dictzipOpen(const char* path, DICTZIP_STATE* state);
// Parses the gzip header with its "RA" field and the trailer of the file at
// path into state. 0 for a dictzip file; -1 otherwise (not gzip, no "RA"
// field, or a header that does not fit the file), leaving no chunk table.
int dictzipReadHeader(const char* path, DICTZIP_STATE* state);
// The size uncompressed bytes at offset, followed by a NUL, in the state's
// read buffer (valid until the next read or the close). A range that cannot
// be read gives the empty text.
const char* dictzipRead(DICTZIP_STATE* state, uint64_t offset, uint64_t size);
// 0 when the range lies inside the data of the chunk table and its chunks can
// hold that many bytes; else -1 with the reason in the error text. Checked
// before the read buffer grows.
int dictzipCheckRange(const DICTZIP_STATE* state, uint64_t offset, uint64_t size);
// Makes the read buffer hold size bytes and a NUL (first byte set to 0);
// the buffer, or null when it cannot be allocated.
uint8_t* dictzipReserve(DICTZIP_STATE* state, uint64_t size);
// Inflates the chunks covering the range into the read buffer (which must
// hold size + 1 bytes) and writes a NUL after them. 0, or -1 with the
// reason in the error text.
int dictzipInflateRange(DICTZIP_STATE* state, uint64_t offset, uint64_t size);
// Closes the descriptor, ends the inflater and releases every buffer.
void dictzipClose(DICTZIP_STATE* state);
