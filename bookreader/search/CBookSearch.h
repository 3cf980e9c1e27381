// The index searches of an EB or EPWING book read by a CEBReader: word
// (prefix or whole key), end-word, keyword and cross search with query
// splitting, multi search with one key per field, and a scan of the body
// text. A search makes the query's key form for each index, descends the
// index tree to a leaf page, scans the leaves for matching entries and adds
// each match to the reader's hit store with a level, so that searches can be
// combined (mode HIT_RAISE raises the hits a later search matches again).
//
//   CBookSearch search(reader);
//   int n = search.wordSearch("\x82\xa0", 0, 0, HIT_ADD);   // hits, finished
//
// Every search returns the reader's hit count. Index pages are checked
// against the index area and the page bounds: a damaged page ends the search
// with the hits found before it. One object per search call; it keeps no
// state beyond the call.
#pragma once

#include <cstdint>

#include "bookreader/core/ReaderTypes.h"

class CEBReader;

// Progress of the text scan: hits so far, blocks of the body text, blocks done.
typedef void (*SearchProgress)(void* user, int hits, int blocks, int done);

class CBookSearch {
public:
    explicit CBookSearch(CEBReader& reader) : m_reader(reader) {}

    // What the reader's book offers; the back-end kinds answer by their own
    // rules: every dictionary has the word search; a user dictionary has the
    // keyword (index mask 0x20), cross (0x10), end-word (0x04), multi (0x40)
    // search and the menu (0x80) its index mask names; an open StarDict has a
    // copyright page, an MDict when its header has a Description.
    static bool hasWordSearch(const CEBReader& reader);
    static bool hasKeywordSearch(const CEBReader& reader);
    static bool hasCrossSearch(const CEBReader& reader);
    static bool hasEndwordSearch(const CEBReader& reader);
    static bool hasMultiSearch(const CEBReader& reader);
    static bool hasMenu(const CEBReader& reader);
    static bool hasGraphicIndex(const CEBReader& reader);
    static bool hasCopyright(const CEBReader& reader);
    static bool hasFullText(const CEBReader& reader);

    int wordSearch(const char* key, int exact, int level, int mode);
    int endwordSearch(const char* key, int level, int mode);
    // Splits the query at blanks; every word after the first raises the
    // hits (*level rises per word and names the level of the hits of all
    // words at the end). A query in double quotes is one word.
    int keywordSearch(const char* query, int* level, int mode);
    int crossSearch(const char* query, int* level, int mode);
    int keywordSearchWord(const char* word, int level, int mode);
    int crossSearchWord(const char* word, int level, int mode);
    // index: a sub-index entry of the reader's multi-search definitions.
    int multiSearch(const READER_INDEX_INFO* index, const char* key, int level);
    int textScanSearch(const char* key, SearchProgress progress, void* user, int level);
    // Gives every hit without a heading the position after the heading of
    // the hit before it.
    void fillFollowingHeadings();

    // Leaf block for key (a typed key form) in the index; 0 when none.
    uint32_t findLeafBlock(const READER_INDEX_INFO& index, const char* key);
    // Adds the matches of the leaves from block on; returns the hit count.
    int scanLeaves(const READER_INDEX_INFO& index, uint32_t block, const char* key, int exact, int level, int mode);

    // Unsigned byte comparison of a key form with an index key: 0 for a
    // match (the key a prefix of the entry unless exact; in the descent
    // also the entry a prefix of the key), else the sign of the order.
    static int compareKey(const uint8_t* key, int keyLength, const uint8_t* entry, int entryLength, int exact,
                          int descent);

    // Matches the last scan made (hits added or raised).
    int matches() const { return m_matches; }

private:
    struct KeyForm;
    struct KeyForms;
    bool isSearchableKind() const;
    // The 2048 bytes of an index page, through the reader's page cache; null
    // when the block cannot be read.
    const uint8_t* indexPage(uint32_t block);
    const READER_INDEX_INFO* index(uint32_t id) const;
    // The typed key form of query for index into out (kSearchKeyBufferSize
    // bytes); its length.
    int queryKey(const READER_INDEX_INFO& index, const char* query, char* out, bool multi) const;
    // Descends and scans one index; false when its leaf lies outside it.
    // typed: the query as the user typed it, whose marks a kana index's
    // group members are also compared with (null: the key's own).
    bool searchIndex(const READER_INDEX_INFO& index, const char* key, int exact, int level, int mode,
                     const char* typed = nullptr);
    int finish(int mode, bool headings);
    // One index, prefix match, finished (headings: filled in first); an
    // allocation failure empties the store.
    int searchOneIndex(const READER_INDEX_INFO& index, const char* key, bool multi, int level, int mode, bool headings);
    int splitSearch(const char* query, int* level, int mode, bool cross);
    int wordOf(const char* word, int level, int mode, bool cross);
    void makeForm(const READER_INDEX_INFO& index, const char* key, int length, uint32_t style, bool reverse,
                  KeyForm* form) const;
    // A folded Shift_JIS form (ASCII for ISO 8859-1 books) as the index
    // holds it: reversed for end-word indexes when reverse is set, in JIS
    // X 0208 codes.
    void finishForm(const READER_INDEX_INFO& index, const char* folded, bool reverse, KeyForm* form) const;
    // The forms A (folded by the index's style), B and C of the leaf scan,
    // and for the kana indexes M, the typed query (key when null) with its
    // marks in the form of the group members' keys (kanaMemberKey).
    void makeForms(const READER_INDEX_INFO& index, const char* key, int keyLength, const char* typed,
                   KeyForms* forms) const;
    uint32_t descend(const READER_INDEX_INFO& index, const KeyForm& form);
    int scan(const READER_INDEX_INFO& index, uint32_t block, const KeyForms& forms, int exact, int level, int mode);

    CEBReader& m_reader;
    int m_matches = 0;
};
