// Records of the book reader: its index list, gaiji font headers, the
// sound map, and the limits the reader keeps.
#pragma once

#include <cstdint>

// Kinds of book the reader opens.
enum EB_BOOK_KIND {
    BOOK_KIND_EB = 0,
    BOOK_KIND_EPWING = 1,
    BOOK_KIND_DATA_FILE = 2,  // one graphics, sound or font file of a book
    BOOK_KIND_RAW = 3,        // any other file, read block by block
    BOOK_KIND_PDIC = 4,
    BOOK_KIND_USER_DICT = 5,
    BOOK_KIND_STARDICT = 6,
    BOOK_KIND_MDICT = 7
};

// Book kinds whose text lives in 2048-byte blocks.
inline bool isBlockKind(int kind) {
    return kind >= BOOK_KIND_EB && kind <= BOOK_KIND_RAW;
}

constexpr int kReaderMaxIndexes = 53;      // index list and multi-search definitions
constexpr int kReaderMaxMultiSearch = 10;  // multi-search indexes (id 0xFF)
constexpr int kReaderSearchTitles = 10;
constexpr int kReaderSearchTitleSize = 33;
constexpr uint32_t kRawFileIndexId = 0xFFFFFFFFu;

// One index of the book, or one field of a multi search.
struct READER_INDEX_INFO {
    uint32_t id;           // area id; kRawFileIndexId for a raw file; a field head: its multi-search id
    uint32_t start;        // first block
    uint32_t count;        // blocks
    char name[61];         // "[%02X]<display name>", a raw file's name, "--<label>" for a field head
    uint8_t availability;  // information kind of the index-table entry
    uint8_t style[3];      // search-style flags, most significant byte first
};

// Header of a gaiji font area.
struct FONT_HEADER {
    uint8_t width;
    uint8_t height;
    uint16_t count;
    uint32_t startBlock;  // 0 = no font
    uint16_t startCode;
    uint16_t endCode;
};

// One record of "WaveFile.map".
struct WAVE_MAP_ENTRY {
    uint32_t number;
    uint32_t reserved;  // always 0
    uint32_t block;
    uint32_t offset;
    char name[9];
};

// Whether the index information of an index-table entry holds: the table's
// index-information byte is 2, or it is 0 and the entry's information kind is 2.
// The index walk, its style overrides and the book information all use it
// (one rule for all three: an entry whose kind is 0 or 3 is not taken as
// valid merely because neither byte is 1).
inline bool isIndexInfoValid(unsigned globalAvailability, unsigned itemAvailability) {
    return globalAvailability == 2 || (globalAvailability == 0 && itemAvailability == 2);
}

// Block and offset in one 64-bit value: block << 32 | offset.
inline uint64_t packPosition(uint32_t block, uint32_t offset) {
    return (static_cast<uint64_t>(block) << 32) | offset;
}
