// The data area of a PDIC dictionary: the header values that describe its
// geometry, the loading of one logical data block and the walk over the
// entries of that block (headword prefix compression, attribute byte,
// extension records). Text stays in its stored bytes here; decoding is the
// reader's job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Header values of an open dictionary.
struct PDIC_HEADER_INFO {
    uint16_t version = 0;
    int major = 0;
    uint16_t lword = 0;
    uint16_t ljapa = 0;
    uint16_t blockSize = 0;
    uint16_t indexBlock = 0;
    uint16_t headerSize = 0;
    uint32_t nword = 0;
    uint8_t dicorder = 0;
    uint8_t dictype = 0;
    uint8_t attrlen = 0;
    uint8_t os = 0;
    int32_t olenumber = 0;
    uint8_t indexBlkbit = 0;
    uint32_t extheader = 0;
    int32_t emptyBlock2 = -1;
    uint32_t nindex2 = 0;
    uint32_t nblock2 = 0;
    uint8_t title[40] = {};
    bool sjis = false;               // text is Shift_JIS (Hyper forms), else BOCU-1
    bool attrAfterHeadword = false;  // version 4 entry layout
    uint64_t fileSize = 0;
    uint64_t indexOffset = 0;  // start of the index area
    uint64_t indexSize = 0;    // bytes of the index area
    uint64_t dataOffset = 0;   // start of physical block 0
};

// One entry of a data block, pointing into the loaded block (valid until
// the next call of next() or load()).
struct PDIC_RAW_ENTRY {
    int cursor = 0;                 // offset of the entry's length field in the block
    const uint8_t* word = nullptr;  // full stored headword (prefix rebuilt)
    size_t wordLen = 0;
    uint8_t attr = 0;
    const uint8_t* meaning = nullptr;
    size_t meaningLen = 0;
    const uint8_t* example = nullptr;  // null when the entry has none
    size_t exampleLen = 0;
    const uint8_t* pron = nullptr;  // null when the entry has none
    size_t pronLen = 0;
};

class CPDicData {
public:
    // Largest logical block loaded (bytes).
    static const uint64_t kMaxBlockBytes = 128u << 20;

    // Parses and checks the first 256 header bytes: 0, or -1 when the file
    // is not an accepted PDIC file of this size.
    static int parseHeader(const uint8_t* b, size_t n, uint64_t fileSize, PDIC_HEADER_INFO* out);

    CPDicData(const PDIC_HEADER_INFO* header, FILE* file);

    // Loads the logical block of index entry indexNo stored at physical block
    // phys: 0, or -1 when the block lies outside the file (the walker is
    // then empty but positioned there). A free block loads as empty.
    int load(int indexNo, uint32_t phys);
    // Forgets the loaded block (positions become -1).
    void reset();

    // The next entry of the block: 0 with *e filled, 1 at the end of the
    // block, -1 when the block is damaged from here on (it then ends).
    // Reference entries (attribute 0xFF) are passed over.
    int next(PDIC_RAW_ENTRY* e);

    int indexNo() const { return m_indexNo; }
    int cursor() const { return m_cursor; }
    long long block() const { return m_phys; }

private:
    const PDIC_HEADER_INFO* m_header;
    FILE* m_file;
    std::vector<uint8_t> m_bytes;  // the logical block
    std::vector<uint8_t> m_word;   // full headword of the previous entry
    int m_indexNo = -1;
    int m_cursor = -1;
    long long m_phys = -1;
    bool m_wide = false;  // u32 lengths
    bool m_done = true;   // no further entries in this block
};
