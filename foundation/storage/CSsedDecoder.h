// CSsedDecoder: reads an SSED book, an SSEDINFO catalog (".IDX") naming
// SSEDDATA component files (".DIC") beside it, as one image of 2048-byte
// blocks.
//
// SSEDINFO (big-endian): "SSEDINFO", title length at 12, title from 13, the
// component count at 77, then 48-byte records from 128: type at +3, first
// and last block (inclusive) at +4 and +8, four index-information bytes at
// +12, name length at +16 and the name from +17.
// SSEDDATA: "SSEDDATA", chunk count at 0x16, first and last block at 0x18 and
// 0x1C, chunk offsets (u32) from 0x40. A chunk expands to 16 blocks (the
// last chunk to what is left) with a 4080-byte window: u16 unknown, u16
// command count, fill byte, then 3-byte commands (12-bit window offset,
// 4-bit copy length, one literal byte).
//
// Block 1 is not covered by the components: it reads as an index table
// listing them. Blocks no component covers read as zeros.
#pragma once

#include "foundation/FileHandle.h"
#include "foundation/book/BookConstants.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class CSsedDecoder {
public:
    enum { CHUNK_SIZE = 32768, CHUNK_BLOCKS = 16, WINDOW = 4080 };

    CSsedDecoder();
    ~CSsedDecoder();
    CSsedDecoder(const CSsedDecoder&) = delete;
    CSsedDecoder& operator=(const CSsedDecoder&) = delete;

    // Reads the catalog from `idx` (its first idxSize bytes) and opens every
    // component with a block range from `dir` (the catalog's directory; file
    // names are matched ignoring case). Font records (0xF1-0xF8) are loose
    // plain files and are not part of the image. 0, or -1 for a bad catalog,
    // no body text component (type 0x00), overlapping ranges, or a component
    // file that is missing or invalid (no SSEDDATA mark, range or chunk count
    // differing from the record, chunk offsets decreasing or past the end of
    // the file).
    int open(FILE* idx, int64_t idxSize, const char* dir);

    // Size of the image: the highest last block times 2048.
    int64_t uncompressedSize() const { return m_size; }
    int componentCount() const { return static_cast<int>(m_parts.size()); }

    // The chunk that holds block `block`: the key is the chunk's first block
    // in the image (> 0); 0 when no component covers the block.
    int64_t chunkOfBlock(int64_t block) const;

    // Expands the chunk whose first image block is chunkBase into out
    // (CHUNK_SIZE bytes; zero past the component's end). 0, or -1 with out
    // zeroed for an unknown chunk or corrupt data (a window offset of 4080 or
    // more, input that runs out, a chunk shorter than its blocks).
    int decodeChunk(int64_t chunkBase, uint8_t* out);

    // A block outside every component: block 1 gives the synthesised index
    // table, other blocks inside the size give zeros. 0, or -1 beyond the size.
    int readLooseBlock(int64_t block, uint8_t* out);

    void close();

private:
    struct Part {
        uint8_t type;
        uint8_t flag;
        uint32_t first, last;
        uint8_t info[4];
        FilePtr file;
        int64_t fileSize;
        std::vector<int64_t> chunks;  // file offset of each chunk
    };

    int openPart(Part& part, const std::string& dir, const std::string& name);
    const Part* partOf(int64_t block) const;
    void buildIndexBlock();

    std::vector<Part> m_parts;
    int64_t m_size;
    uint8_t m_indexBlock[kBlockSize];
};
