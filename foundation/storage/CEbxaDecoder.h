// CEbxaDecoder: reads the START file of an S-EBXA book, whose text area is
// stored LZSS-compressed.
//
// Block 1 is the book's index table (count at bytes 0-1, 16-byte records
// from byte 16: id, start block at +2, block count at +6). Three records
// describe the compression:
//   0x00  text: blocks T..T+N-1 of the uncompressed image
//   0x21  physical block P21 where the compressed slices begin
//   0x22  physical block P22 of the slice offset table: one u32 per slice
//         but the first, the slice's offset from the start of the 0x21 area
// The text is cut into slices of 4096 bytes (two blocks) counted from T;
// each is an independent LZSS stream (4096-byte ring, zero-filled). Every
// other block is stored raw at its own offset.
//
// The decoder reads through a FILE* it does not own.
#pragma once

#include "foundation/book/BookConstants.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class CEbxaDecoder {
public:
    enum { SLICE_SIZE = 4096, SLICE_BLOCKS = 2 };
    enum { ID_TEXT = 0x00, ID_SLICES = 0x21, ID_SLICE_TABLE = 0x22 };

    CEbxaDecoder();
    ~CEbxaDecoder();
    CEbxaDecoder(const CEbxaDecoder&) = delete;
    CEbxaDecoder& operator=(const CEbxaDecoder&) = delete;

    // True when block 1 (2048 bytes) names an S-EBXA text: records 0x00,
    // 0x21 and 0x22 present, each with a non-zero start and count. A file
    // without them is plain.
    static bool detect(const uint8_t* block1);

    // Removes the 0x21 and 0x22 records from an index-table block (2048
    // bytes), moves the later records up, lowers the count and zeroes the
    // slots left free at the end of the table. Returns the records removed.
    static int stripIndexRecords(uint8_t* block);

    // Reads block 1 and the slice offset table. 0, or -1 when the file is not
    // S-EBXA or its table does not fit the 0x22 area and the file.
    int open(FILE* file, int64_t fileSize);

    // Size of the uncompressed image: the highest last block of the index
    // table's areas (other than 0x21 and 0x22), in bytes.
    int64_t uncompressedSize() const { return m_size; }

    uint32_t textStart() const { return m_textStart; }
    uint32_t textBlocks() const { return m_textBlocks; }
    uint32_t sliceStart() const { return m_sliceStart; }
    uint32_t sliceBlocks() const { return m_sliceBlocks; }
    uint32_t tableStart() const { return m_tableStart; }
    uint32_t tableBlocks() const { return m_tableBlocks; }
    int64_t sliceCount() const { return static_cast<int64_t>(m_offsets.size()); }

    // The slice that holds block `block` (1-based), and the half of it
    // (0 or 1) the block is; -1 for a block outside the text.
    int64_t sliceOfBlock(int64_t block, int* half = nullptr) const;

    // Decodes slice `slice` into out (SLICE_SIZE bytes). 0, or -1 with out
    // zeroed when the slice's input is corrupt or runs out.
    int decodeSlice(int64_t slice, uint8_t* out);

    // Reads block `block` raw at its own offset (for blocks outside the
    // text), zero-filled past the end of the file. 0, or -1 for block 0 or a
    // block beyond the size.
    int readRawBlock(int64_t block, uint8_t* out);

    void close();

private:
    FILE* m_file;
    int64_t m_fileSize;
    int64_t m_size;
    uint32_t m_textStart, m_textBlocks;
    uint32_t m_sliceStart, m_sliceBlocks;
    uint32_t m_tableStart, m_tableBlocks;
    std::vector<int64_t> m_offsets;  // file offset of each slice
    std::vector<int64_t> m_ends;     // where each slice's input ends at the latest
};
