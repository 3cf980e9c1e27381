// The PDIC back end of a book reader of kind 4: forwards searches to its
// CPDicReader and renders entries as wide-character (32-bit) tagged text.
//
// Output sizes are in bytes (the buffers hold size / 4 characters); lengths
// are in characters. Every piece of output goes through CBoundedWideText, so
// rendering stops cleanly at the buffer's end, always terminated. A hit
// index is the index of a PDIC record in the item list (the item's block).
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/pdic/CPDicReader.h"

class CEBReader;
class CItemList;

class CPdicBackend {
public:
    explicit CPdicBackend(CEBReader& reader);
    ~CPdicBackend();
    CPdicBackend(const CPdicBackend&) = delete;
    CPdicBackend& operator=(const CPdicBackend&) = delete;

    // 1, or 0 when the file is not an accepted PDIC dictionary.
    int open(const char* path);
    int reopen(const char* path);
    void close();
    CPDicReader* pdicReader() { return m_pdic.get(); }

    // The table (256 u16, the caller's) maps pronunciation symbols.
    void setPhoneticTable(const uint16_t* table) { m_phoneticTable = table; }
    const uint16_t* phoneticTable() const { return m_phoneticTable; }

    int search(const uint32_t* word, int mode, int maxHits);
    int fullTextSearch(const uint32_t* text, PDIC_PROGRESS progress, void* data, int flag);
    // Moves the results into list from item start on; the items written.
    int collect(CItemList* list, int start);

    int hitHeadword(const CItemList* list, int hit, uint32_t* out, uint32_t outSize, uint32_t* outLength);
    // The hit's entry (single) or the entries from it on in file order, up
    // to the continuation limit (bytes, like outSize).
    int renderHits(const CItemList* list, int hit, uint32_t* out, uint32_t limit, uint32_t outSize, uint32_t* outLength,
                   int single, int showPron);
    int renderIndexEntries(int indexNo, uint32_t* out, uint32_t limit, uint32_t outSize, uint32_t* outLength,
                           int showPron);
    // The entry at a position (single) or the entries from it on.
    int renderEntry(int indexNo, int cursor, uint32_t* out, uint32_t limit, uint32_t outSize, uint32_t* outLength,
                    int single, int showPron);

    // PDIC text (n characters) to tagged text in out (capacity characters):
    // "&", "<", ">" escaped, TAB to a space, URLs wrapped in <URL>; with
    // tags allowed, b i u s font small big become the reader's tags. Returns
    // the characters written (the text is cut before a piece that does not fit).
    static int textToTags(uint32_t* out, uint32_t capacity, const uint32_t* in, int n, bool tagsAllowed);

    int currentIndex() const;
    int dataCursor() const;
    int currentBlock() const;
    // The header report of the dictionary.
    int information(char* buf, uint32_t size, int crlf) const;

private:
    enum class Walk { HitOnly, FromHit, FromIndex, FromCursor };
    int render(Walk walk, const PDIC_HIT* hit, const char* pool, int indexNo, int startCursor, uint32_t* out,
               uint32_t limit, uint32_t outSize, uint32_t* outLength, bool single, int showPron);

    CEBReader& m_reader;
    std::unique_ptr<CPDicReader> m_pdic;
    const uint16_t* m_phoneticTable = nullptr;
};
