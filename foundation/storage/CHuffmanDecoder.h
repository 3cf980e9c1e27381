// CHuffmanDecoder: reads the text file of an EPWING book stored in the
// Huffman form of EPWING V4/V5 or V6 (catalog compression codes 0x11, 0x12).
//
// File layout (big-endian):
//   0   u32 A  offset of the page index (36-byte records, one per 16 pages:
//              u32 base of the group's data, then 16 u16 page offsets from it)
//   4   u32 B  length of the page index
//   8   u32 C  offset of the frequency table, 12 u32 D its length
//   16  u32 E  first byte after the frequency table
// The Huffman tree is rebuilt from the leaf frequencies; each page decodes to
// 2048 bytes. The file carries no mark of its version: V4/V5 and V6 tables
// differ, so the version must come from outside (the catalog code, which
// CZio looks up).
//
// The decoder reads through a FILE* it does not own. Pages are numbered from 0
// (page p is block p + 1).
#pragma once

#include "foundation/book/BookConstants.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class CHuffmanDecoder {
public:
    enum { GROUP_PAGES = 16, INDEX_RECORD = 36 };
    enum { VERSION_4 = 4, VERSION_6 = 6 };
    // Most leaves a frequency table may give (bounds the tree's memory).
    enum { MAX_LEAVES = 1 << 20 };

    CHuffmanDecoder();
    ~CHuffmanDecoder();
    CHuffmanDecoder(const CHuffmanDecoder&) = delete;
    CHuffmanDecoder& operator=(const CHuffmanDecoder&) = delete;

    // True when the first bytes of a file (at least 20) hold a Huffman
    // header whose tables lie inside a file of fileSize bytes: A + B = C and
    // C + D = E (in 64 bits, no wrap), E <= fileSize, A >= 20, B a non-zero
    // multiple of 36, D >= 512. A file of zeros is not Huffman.
    static bool detect(const uint8_t* header, size_t length, int64_t fileSize);

    // Reads the header, page index and frequency table and builds the tree.
    // version is VERSION_4 or VERSION_6. 0, or -1 for a table that is not
    // usable (too small for its fixed part, too many leaves, outside the file).
    // A zero frequency makes the table unusable, as in the EB Library (the
    // books' encoder gives every leaf at least 1).
    int open(FILE* file, int64_t fileSize, int version);

    // Uncompressed size: a whole number of pages (the last group stops at the
    // first zero page offset of its record).
    int64_t uncompressedSize() const { return m_size; }
    int64_t pageCount() const { return m_size / kBlockSize; }
    int version() const { return m_version; }
    // Header words A..E.
    uint32_t headerWord(int i) const { return (i >= 0 && i < 5) ? m_header[i] : 0; }

    // Decodes page `page` (0-based) into out (kBlockSize bytes). 0, or -1 with
    // out zeroed for a page outside the size, input that runs out, or a V4
    // page that does not end with its end-of-page code.
    int decodePage(int64_t page, uint8_t* out);

    void close();

private:
    struct Node {
        uint32_t left;   // child for bit 1 (internal nodes)
        uint32_t right;  // child for bit 0
        uint32_t value;  // leaf value (output bytes, high first)
        uint8_t kind;    // 0 internal, 1 one byte, 2 two bytes, 4 four bytes, 5 end of page
    };
    class BitInput;

    int buildTree(const std::vector<uint32_t>& values, const std::vector<uint8_t>& kinds,
                  const std::vector<uint32_t>& freqs);

    FILE* m_file;
    int64_t m_fileSize;
    int m_version;
    uint32_t m_header[5];
    int64_t m_size;
    std::vector<Node> m_nodes;
    uint32_t m_root;
};
