// The index entries that the source readers register with the book writer
// while the body text is written, and that the search index writer selects,
// sorts and writes after the last source.
#pragma once

#include <cstdint>

// Flags of SEARCH_KEY_ENTRY.
enum {
    ENTRY_GROUP = 0x01,       // group member (set by the index writer)
    ENTRY_KEYWORD = 0x02,     // keyword index
    ENTRY_CROSS = 0x04,       // cross index
    ENTRY_LONG_KEY = 0x08,    // the key text was longer than a key: the last
                              // key bytes follow the key in the string table
    ENTRY_NO_HEADING = 0x10,  // heading is the key text; key made when selected
    ENTRY_PREFIX = 0x20,      // prefix word index (0x91)
    ENTRY_SUFFIX = 0x40,      // suffix word index (0x71)
    ENTRY_HEADING_CUT = 0x80  // the heading was cut to 255 bytes when collected
};

// One word, keyword or cross entry.
struct SEARCH_KEY_ENTRY {
    const char* heading;  // heading text (not terminated; headingLen bytes)
    const char* key;      // normalised key in the string table, null when not made yet
    uint64_t bodyPos;     // block * 2048 + offset of the entry's text
    uint64_t headingPos;  // block * 2048 + offset of its heading, 0 until written
    uint8_t flags;
    uint8_t headingLen;
    uint8_t keyLen;
    uint8_t partLen;     // length of a word taken from the heading, 0 for none
    uint8_t partOffset;  // offset of that word in the heading
};

// One kana (reading) entry.
struct KANA_ENTRY {
    const char* kanaKey;  // kana key in the string table
    const char* sortKey;  // folded key, null until the kana select sets it
    const char* heading;
    uint64_t bodyPos;
    uint64_t headingPos;
    uint8_t flags;  // direction mask (0x20 prefix, 0x40 suffix)
    uint8_t kanaKeyLen;
    uint8_t sortKeyLen;
    uint8_t headingLen;
};

// One selected entry of the index being written: what the heading area and
// the leaf pages need, in the order of the sort. Keys are Shift_JIS, two
// bytes a character; the leaf writer stores them as JIS X 0208.
struct INDEX_ITEM {
    const char* key;       // key (kana indexes: the folded key)
    const char* exactKey;  // kana indexes: the entry's own kana key; else null
    const char* heading;   // heading text, headingLen bytes
    uint64_t bodyPos;      // block * 2048 + offset of the entry's text
    uint64_t headingPos;   // set by the heading area writer
    uint32_t order;        // collection order, the last sort key
    uint8_t keyLen;
    uint8_t exactLen;
    uint8_t headingLen;
    uint8_t flags;  // ENTRY_GROUP, ENTRY_HEADING_CUT, ITEM_MARKS_ONLY
};

// Flag of INDEX_ITEM: a kana item whose own key differs from its folded key
// only by marks that readers drop from queries.
enum { ITEM_MARKS_ONLY = 0x40 };
