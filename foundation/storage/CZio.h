// CZio: reads one stored book file as a sequence of 2048-byte blocks,
// numbered from 1, whatever form it is stored in: plain, EBZip, SSED
// (SSEDINFO catalog with SSEDDATA chunk files), EPWING Huffman V4/V5 or V6,
// or S-EBXA LZSS.
//
//   CZio zio;
//   if (zio.open(path, epwingVersion) == 0) {
//       zio.seekBlock(1);
//       unsigned char block[2048];
//       while (zio.readBlock(block) > 0) { ... }
//   }
//
// Results follow the library's convention: 0 success, -1 failure;
// readBlock returns the bytes delivered (0 and a zeroed block on failure);
// checkCRC returns 0 (equal), -1 (mismatch or read failure), -2 (not EBZip).
#pragma once

#include "foundation/FileHandle.h"
#include "foundation/book/BookConstants.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

struct z_stream_s;
class CHuffmanDecoder;
class CEbxaDecoder;
class CSsedDecoder;

// Storage forms (the zio mode, first byte of ZIO_STATE).
enum {
    ZIO_PLAIN = 0,
    ZIO_EBZIP = 1,
    ZIO_SSED = 2,
    ZIO_EPWING = 3,   // EPWING Huffman V4/V5
    ZIO_EPWING6 = 4,  // EPWING Huffman V6
    ZIO_SEBXA = 5     // S-EBXA LZSS
};

enum { ZIO_MAX_SLOTS = 16, ZIO_PATH_MAX = 256 };
// open reads this many bytes first: a shorter file is no book file.
enum { ZIO_MIN_FILE_SIZE = 32 };

// Progress of checkCRC: (context, block, total blocks).
typedef void (*ZIO_PROGRESS_FUNC)(void* context, int64_t block, int64_t total);

// The reader's state record. Its first byte is the zio mode; the compressor
// reads the mode and the header Adler-32 from it. Read-only for callers.
struct ZIO_STATE {
    uint8_t mode;                          // ZIO_PLAIN .. ZIO_SEBXA
    uint32_t currentBlock;                 // next block to read, 1-based; 0 = none
    int64_t fileSize;                      // size on disk (SSED: of the SSEDINFO file)
    int64_t slotBlock[ZIO_MAX_SLOTS];      // block held by each slot (EBZip: any block of its slice); 0 = empty
    int64_t slotChunkBase[ZIO_MAX_SLOTS];  // SSED: first block of the chunk held by each slot
    int32_t sliceSize;                     // EBZip 2048 << level; SSED 32768; Huffman 2048; S-EBXA 4096
    int32_t cursor;                        // slot used last (round robin)
    int32_t slotCount;                     // 2, or 16 for the Huffman modes
    uint8_t ebzipMode;                     // EBZip header byte 5, high nibble
    uint8_t level;                         // EBZip header byte 5, low nibble
    uint8_t indexWidth;                    // EBZip slice index entry width, 2-5
    int64_t uncompressedSize;              // what fileSize() returns
    int64_t dataStart;                     // EBZip: where the slice index ends
    uint32_t headerAdler;                  // EBZip header bytes 14-17
    uint8_t headerBytes[2];                // EBZip header bytes 6 and 7, never interpreted
    uint32_t huffmanHeader[5];             // EPWING Huffman header words A, B, C, D, E
    // S-EBXA parameters from the index table in block 1 (0 when not S-EBXA).
    uint32_t ebxaTextStart;    // T: first block of the text (uncompressed numbering)
    uint32_t ebxaTextBlocks;   // N: blocks of text
    uint32_t ebxaSliceStart;   // P21: physical block of the compressed slices
    uint32_t ebxaSliceBlocks;  // blocks of the 0x21 area
    uint32_t ebxaTableStart;   // P22: physical block of the slice offset table
    uint32_t ebxaTableBlocks;  // blocks of the 0x22 area
    char path[ZIO_PATH_MAX];   // opened path (SSED: its directory)
};

class CZio {
public:
    CZio();
    virtual ~CZio();
    CZio(const CZio&) = delete;
    CZio& operator=(const CZio&) = delete;

    // Opens a stored book file and detects its form. hint is the book's
    // EPWING version: 4 or 5 selects Huffman V4/V5, anything else V6.
    // Positions at block 1. 0, or -1 (also for a file under 32 bytes and for
    // anything but a regular file, which is refused without waiting: a FIFO
    // never blocks the open).
    // After a failed open the state record still shows the form that was
    // detected, but nothing can be read.
    int open(const char* path, unsigned hint);

    // Sets the block readBlock reads next. Block 0 gives -1.
    int seekBlock(unsigned block);

    // Fills 2048 bytes with the current block and returns the bytes
    // delivered (2048, or a short count for the end of a plain file), then
    // moves to the next block. 0 and a zeroed block on failure, and for a
    // block past the uncompressed size. The last, partial block of a
    // compressed file comes as 2048 bytes, zeros after the real data.
    int readBlock(void* buffer);

    // Uncompressed size of the file.
    int64_t fileSize() const;

    // The state record (first byte: zio mode).
    const ZIO_STATE* state() const;

    // Adler-32 of the whole uncompressed data against the EBZip header:
    // 0 equal, -1 mismatch or read failure, -2 not an EBZip file. An EBZip
    // header of a form no reader knows (mode other than 1 or 2, level above
    // 5) opens, but nothing of it reads and its check gives -1.
    int checkCRC();

    void setProgressCallback(ZIO_PROGRESS_FUNC callback, void* context);

    // Releases the file and every buffer; safe to call twice.
    void close();

    // The EPWING Huffman decoding version for an open hint: 4 or 5 give
    // VERSION_4, any other non-zero hint VERSION_6; 0 (version not known)
    // asks the book's catalog about the file: VERSION_4 for code 0x11,
    // VERSION_6 for 0x12, 0 when the catalog stores the file plain (code 0,
    // or a file it does not name), -1 when it cannot be known (no catalog,
    // no slot for the subbook, an unknown code).
    static int huffmanVersionFor(unsigned hint, const char* path);

private:
    struct InflaterDeleter {
        void operator()(z_stream_s* z) const;
    };
    typedef int (CZio::*SliceFiller)(uint8_t* slot, int64_t slice);

    void releaseResources();
    int openEbzip(const uint8_t* header);
    int openSsed();
    int detectEbxa();
    int openEbxa();
    int detectHuffman(const uint8_t* header, unsigned hint);
    int openHuffman();
    int allocateSlots(int count, int32_t sliceSize);

    int readPlainBlock(uint8_t* out);
    int readEbzipBlock(uint8_t* out, int64_t block);
    int readHuffmanBlock(uint8_t* out, int64_t block);
    int readEbxaBlock(uint8_t* out, int64_t block);
    int readSsedBlock(uint8_t* out, int64_t block);

    // Slice cache: returns the slot holding slice `slice` (looked up by the
    // slice key), filling the next slot round robin through `fill` on a miss.
    // Null when the fill fails; the slot is then left empty.
    const uint8_t* cachedSlice(int64_t block, int64_t slice, SliceFiller fill);

    int readEbzipSlice(uint8_t* slot, int64_t slice);
    int readHuffmanSlice(uint8_t* slot, int64_t slice);
    int readEbxaSlice(uint8_t* slot, int64_t slice);
    int readSsedSlice(uint8_t* slot, int64_t slice);

    int64_t inflateSlice(int64_t inLen, uint8_t* out, size_t outLen);

    ZIO_STATE m_st;
    FilePtr m_file;
    std::vector<uint8_t> m_slots[ZIO_MAX_SLOTS];
    int64_t m_slotKey[ZIO_MAX_SLOTS];  // slice held by each slot, -1 = empty
    std::unique_ptr<z_stream_s, InflaterDeleter> m_inflater;
    std::vector<uint8_t> m_inflateInput;
    unsigned m_hint;
    std::unique_ptr<CHuffmanDecoder> m_huffman;
    std::unique_ptr<CEbxaDecoder> m_ebxa;
    std::unique_ptr<CSsedDecoder> m_ssed;
    ZIO_PROGRESS_FUNC m_progress;
    void* m_progressContext;
};
