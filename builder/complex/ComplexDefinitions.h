// The complex (multi-field) searches of a book as the definition file gives
// them, and the complex entries that the source readers register while the
// body text is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Limits of the readers of these books.
enum {
    COMPLEX_MAX_SEARCHES = 10,      // multi searches of a book
    COMPLEX_MAX_FIELDS = 5,         // fields of one multi search
    COMPLEX_LABEL_BYTES = 30,       // a field label: 15 full-width characters
    COMPLEX_TITLE_BYTES = 32,       // a search title: 16 full-width characters
    COMPLEX_MAX_CANDIDATES = 1000,  // candidates of one field, all levels
    COMPLEX_MAX_NAME = 255          // a KEY name
};

// One candidate of a field's candidate list: the word a user can pick, or a
// group of further candidates.
struct COMPLEX_CANDIDATE {
    std::string label;                        // Shift_JIS
    std::vector<COMPLEX_CANDIDATE> children;  // a group when not empty
};

// One field (entry) of a multi search.
struct COMPLEX_FIELD {
    std::string label;               // Shift_JIS, at most COMPLEX_LABEL_BYTES when full-width
    std::vector<std::string> names;  // KEY names that feed the field (the label when no ATTR)
    bool bookIndex = false;          // type="keyword": the book's complex keyword index
    std::vector<COMPLEX_CANDIDATE> candidates;
};

// One multi search.
struct COMPLEX_DEF {
    std::string title;  // Shift_JIS search title, empty when none
    std::vector<COMPLEX_FIELD> fields;
};

// One complex entry read back from the temp file.
struct COMPLEX_ENTRY {
    uint32_t name;        // index into the entry names
    const char* key;      // normalised key in the string table
    const char* heading;  // heading text in the string table
    uint64_t bodyPos;     // block * 2048 + offset of the entry's text
    uint8_t keyLen;
    uint8_t headingLen;
};
