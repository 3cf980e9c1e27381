// The StarDict back end of a book reader of kind 6: forwards searches to its
// CStarDictReader and renders hits as HTML (UTF-8) with a head block per
// entry. Sizes are in bytes; a hit index is the index of a StarDict record
// in the item list. Only hits that this dictionary found (its instance
// number) are rendered.
#pragma once

#include <cstdint>
#include <memory>

#include "dictformats/stardict/CStarDictReader.h"

class CEBReader;
class CItemList;

class CStarDictBackend {
public:
    explicit CStarDictBackend(CEBReader& reader);
    ~CStarDictBackend();
    CStarDictBackend(const CStarDictBackend&) = delete;
    CStarDictBackend& operator=(const CStarDictBackend&) = delete;

    // Opens the ".ifo" (the ".idx" and ".dict" beside it); 1 or 0.
    int open(const char* path);
    CStarDictReader* starDictReader() { return m_starDict.get(); }

    // exact: 1 whole word, 0 prefix.
    int search(const char* word, int exact, int maxHits);
    int fullTextSearch(const char* text, STARDICT_PROGRESS progress, void* data);
    int collect(CItemList* list, int start);

    // The hit's word, escaped for the tagged text; its length.
    int hitHeadword(const CItemList* list, int hit, char* out, uint32_t outSize, uint32_t* outLength);
    // The hit's entry (single) or the run of this dictionary's hits from it
    // on while the output is shorter than the continuation limit.
    int renderHits(const CItemList* list, int hit, char* out, uint32_t limit, uint32_t outSize, uint32_t* outLength,
                   int single);
    // One article without a head.
    int renderArticle(uint32_t offset, uint32_t size, char* out, uint32_t outSize, uint32_t* outLength);
    // Whether the last renderHits or renderArticle left text out because the
    // output was full (what was written still ends on closed elements). An
    // article that cannot be read (past the end of a cut file) is rendered as
    // an error text under its head.
    bool cut() const { return m_cut; }
    int information(char* buf, uint32_t size, int crlf) const;

private:
    CEBReader& m_reader;
    std::unique_ptr<CStarDictReader> m_starDict;
    bool m_cut = false;
};
