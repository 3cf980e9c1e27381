// Reader of binary PDIC dictionaries (".dic"): the Unicode dictionaries of
// versions 5 and 6 (BOCU-1 text) and the Shift_JIS "Hyper" dictionaries of
// versions 4 and 5. Everything in the file is treated as untrusted.
//
// Text comes out as 32-bit wide characters (Unicode code points), each field
// NUL-terminated. A capacity is the number of elements of the caller's
// buffer, terminator included: at most capacity - 1 characters are written
// and a field that does not fit is cut at a character boundary. A null
// buffer or a capacity below 1 skips that field.
//
// Headwords are handed out as stored: in version 6 and above they are
// normally "key TAB display"; the key is the dictionary's normalised sort
// form (in practice lower case). Callers that show a headword drop
// everything up to and including the first TAB.
//
// Title: the header's title field is almost always empty, so callers name
// the dictionary after its file (the file stem). title() gives the field
// when it is set.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

struct CPDicReaderState;
struct CPDicReaderResults;

// One search hit.
struct PDIC_HIT {
    int32_t indexNo;      // index entry (logical block) number of the hit's entry
    int32_t cursor;       // byte offset of the entry's length field in its block (first entry: 2)
    uint32_t block;       // physical data block number of that index entry
    uint64_t wordOffset;  // offset of the entry's word in the hit-text buffer
                          // (UTF-8 of the stored headword, zero-terminated)
};

// Search modes of CPDicReader::search. The query is matched against the
// key of each headword (the part before the first TAB in version 6 and
// above, the whole headword otherwise).
enum {
    PDIC_SEARCH_EXACT = 0,  // key equals the query
    PDIC_SEARCH_PREFIX = 1  // key begins with the query (any mode with bit 0 set)
};
// Other mode values find nothing.
//
// Case: the query is looked up as given and, when it differs, also in its
// lower-case form (A-Z, Latin-1, Greek, Cyrillic and full-width Latin
// capitals), because keys are normalised to lower case; the hits of both are
// merged in file order. In Shift_JIS dictionaries a query character that
// Shift_JIS lacks finds nothing.

// Flag of fullTextSearch: fold letter case (as above) on both sides.
enum { PDIC_FULLTEXT_FOLD_CASE = 1 };

// Flag of nextEntry: turn CR LF pairs of the text fields into a single LF.
enum { PDIC_ENTRY_CRLF_TO_LF = 1 };

// Bits of lastEntryStatus().
enum {
    PDIC_STATUS_CUT = 1,       // a field was cut to fit its buffer
    PDIC_STATUS_BAD_TEXT = 2,  // invalid text bytes were replaced by U+FFFD
    PDIC_STATUS_SKIPPED = 4    // nextEntry passed over corrupt entries before this one
};
// An entry whose text ends inside a BOCU-1 sequence (a lead byte without
// its trail bytes) is corrupt: walks pass it over, searches do not return
// it and readEntry fails for it.

// Progress of fullTextSearch, called once per index entry:
// (callback data, hits so far, number of index entries, index entries done).
typedef void (*PDIC_PROGRESS)(void* data, int hits, int total, int done);

class CPDicReader {
public:
    CPDicReader();
    ~CPDicReader();
    CPDicReader(const CPDicReader&) = delete;
    CPDicReader& operator=(const CPDicReader&) = delete;

    // Opens a dictionary and checks its header and index: 0, or -1 when the
    // file cannot be opened or is not an accepted PDIC file (wrong version,
    // encrypted, inconsistent sizes, index past the end of the file, ...).
    int open(const char* path);
    // Closes the current file and opens another in its place: 0 or -1.
    int reopen(const char* path);
    // Closes the file and frees index, data and results. May be called again.
    void close();
    bool isOpen() const;

    // Headword search (see the modes above). maxHits 0 means no limit.
    // Replaces the result list; *more (if given) is 1 when further hits
    // exist beyond maxHits, else 0. Returns the hit count.
    int search(const uint32_t* word, int mode, int maxHits, uint32_t* more);

    // Looks for the query in the headword, meaning and example of every
    // entry. Replaces the result list. The cancel flag (if given) is polled
    // after each entry; a cancelled scan sets *more to 1. Returns the hit count.
    int fullTextSearch(const uint32_t* query, int maxHits, uint32_t* more, const std::atomic<uint16_t>* cancel,
                       PDIC_PROGRESS progress, void* data, int flag);

    // Decodes the hit's entry. pool, when given, is the hit-text pool the hit
    // came with; its word must match the entry (a hit of another file fails).
    // pronTable, when given, has 256 entries: a pronunciation character
    // below 256 whose entry is non-zero becomes that entry. Leaves the
    // position after the entry. 0, or -1 on failure.
    int readEntry(const PDIC_HIT* hit, const char* pool, uint32_t* word, int wordCap, uint32_t* meaning, int meaningCap,
                  uint32_t* example, int exampleCap, uint32_t* pron, int pronCap, int* level,
                  const uint16_t* pronTable);

    // The result list of the last search: 0 with the array and its count,
    // -1 with count 0 when there are none.
    int results(const PDIC_HIT** hits, int* count) const;
    // The words of all hits, zero-terminated one after another, and the
    // bytes used.
    const char* hitTextBuffer() const;
    int hitTextSize() const;
    void clearResults();

    // Positions the reader at index entry n (0 .. indexCount()-1) and loads
    // its data block: 0, or -1 (out of range, block outside the file).
    int seekIndex(int n);
    // Reads the next entry in file order into the buffers (meanings and
    // level as for readEntry; flag: PDIC_ENTRY_CRLF_TO_LF). Returns 0 for an
    // entry, 1 at the end, -1 for a damaged block: that block is passed over
    // and the next call goes on with the following index entry.
    int nextEntry(uint32_t* word, int wordCap, uint32_t* meaning, int meaningCap, uint32_t* example, int exampleCap,
                  uint32_t* pron, int pronCap, int* level, const uint16_t* pronTable, int flag);
    // PDIC_STATUS_* bits of the entry last delivered by nextEntry/readEntry.
    int lastEntryStatus() const;

    // Header version >> 8 (0 when closed).
    int majorVersion() const;
    // Current index entry number, byte cursor in its data block and physical
    // data block number; -1 before the first load.
    int currentIndex() const;
    int dataCursor() const;
    int currentBlock() const;
    // Number of index entries (logical blocks); number of entries the header
    // announces (not relied on).
    int indexCount() const;
    uint32_t wordCount() const;

    // The header's title field as wide characters into out (capacity as
    // above); returns its length, 0 when the field is empty or closed.
    int title(uint32_t* out, int cap) const;

    // Writes a report of the header into buf, lines ending in CR LF (LF when
    // crlf is 0), stopping 255 bytes before the end of the buffer. Returns
    // the bytes written (NUL not counted), -1 when closed.
    int dumpHeader(char* buf, int size, int crlf) const;

    // Probe in the form the catalog's dictionary openers take: opens and
    // closes the file, copies the header's title (UTF-8, usually empty) into
    // title. 0 when the file is an accepted PDIC dictionary, else -1.
    static int probe(const char* path, char* title, size_t titleSize);

private:
    std::unique_ptr<CPDicReaderState> m_state;  // null when closed
    std::unique_ptr<CPDicReaderResults> m_results;
    int m_status = 0;
};
