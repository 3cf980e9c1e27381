// Reader of StarDict dictionaries: the ".ifo" text header, the ".idx" word
// index (mapped read-only, with an offset cache ".lfi" beside it) and the
// ".dict" article file, plain or in dictzip form (".dict.dz").
//
// Lookups compare words the way the ".idx" is sorted: bytes taken unsigned,
// only ASCII letters folded to lower case, so words in any script are found.
// Everything read from the files is checked against their real sizes: the
// ".ifo"'s counts are hints, an entry never reaches past the mapped index,
// an article never past its file.
//
// The offset cache holds one little-endian u32 per entry, the entry's byte
// offset in the ".idx". It is only a hint: it is used when it is not older
// than the ".idx", has exactly one offset per entry and every offset is
// where the entry before it can end (a NUL then two numbers); otherwise the
// index is walked and the cache written anew (through a temporary file
// renamed over it; a symbolic link is never followed). A directory that
// cannot be written just gets no cache.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "dictformats/dictzip/dictzip.h"
#include "foundation/pathutil.h"

// One search hit.
struct STARDICT_HIT {
    uint32_t instance;       // instance number of the reader that found it
    uint32_t entryOffset;    // byte offset of the entry in the ".idx"
    uint32_t articleOffset;  // article offset in the uncompressed ".dict"
    uint32_t articleSize;    // article size
};

// The ".ifo" values the reader keeps.
struct STARDICT_HEADER {
    char bookname[256];  // at most 255 bytes
    uint32_t wordcount;
    uint32_t synwordcount;   // stored only
    uint32_t idxfilesize;    // as the ".ifo" says; the reader maps at most the real size
    uint32_t idxoffsetbits;  // 0 in the file becomes 32
    char sametypesequence[33];
};

// One field of an article: its type letter and bytes.
struct STARDICT_FIELD {
    char type;
    const uint8_t* data;
    uint32_t size;
};

// Progress of searchText: (argument, hits so far, entries, entry index).
typedef void (*STARDICT_PROGRESS)(void* arg, int hits, int total, int done);

class CStarDictReader {
public:
    // File modes of the article file.
    enum { kModeNone = 0, kModePlain = 1, kModeGzip = 2, kModeDictzip = 3 };

    CStarDictReader();
    ~CStarDictReader();
    CStarDictReader(const CStarDictReader&) = delete;
    CStarDictReader& operator=(const CStarDictReader&) = delete;

    // openIfo, loadIdx and openDict (whose failure leaves articles
    // unreadable), then clearResults. The reader, or null.
    CStarDictReader* open(const char* ifoPath);
    // Reads the ".ifo" and sets the paths of the other files; the reader, or
    // null when the ".ifo" lacks wordcount or idxfilesize, asks for 64-bit
    // offsets or cannot be read.
    CStarDictReader* openIfo(const char* ifoPath);
    int parseIfo(const char* ifoPath);
    // Maps the ".idx" and fills the entry table (from the cache when it is
    // sound). 0 or -1.
    int loadIdx(const char* idxPath);
    // Opens the article file, plain or dictzip. 0 or -1.
    int openDict(const char* articlePath);
    // Releases everything but the result list.
    void close();

    const STARDICT_HEADER* getHeader() const { return &m_header; }
    // Entries really in the index (at most the ".ifo"'s wordcount).
    uint32_t entryCount() const { return m_entryCount; }
    int isOpen() const { return m_open; }
    // The instance number its hits carry (a new one at every open).
    uint32_t instance() const { return m_instance; }
    int fileMode() const { return m_mode; }
    const char* ifoPath() const { return m_ifoPath; }
    const char* idxPath() const { return m_idxPath; }
    const char* articlePath() const { return m_articlePath; }
    const char* cachePath() const { return m_cachePath; }

    // The first entry (in index order) that matches key, exactly (exact
    // non-zero: equal but for ASCII case) or by prefix; its index, or -1.
    // Out values may be null.
    int findFirst(const char* key, const char** word, uint32_t* articleOffset, uint32_t* articleSize, int exact);
    // The entry after the last one returned, when it matches too; else -1.
    int findNext(const char* key, const char** word, uint32_t* articleOffset, uint32_t* articleSize, int exact);

    // Collects the matches of key as hits; at most maximum (0: all), setting
    // *more to 1 when stopped there. The number of hits.
    int search(const char* key, int exact, int maximum, int* more);
    // Collects the entries whose article holds text (bytes compared) as
    // hits. Stops at maximum hits (0: no limit) or when *cancel becomes
    // non-zero, then sets *more to 1. The number of hits.
    int searchText(const char* text, int maximum, int* more, const std::atomic<uint16_t>* cancel,
                   STARDICT_PROGRESS progress, void* arg);

    void clearResults();
    int addResult(uint32_t entryOffset, uint32_t articleOffset, uint32_t articleSize);
    // 0 and the hits of the last search, or -1 with count 0 when there are none.
    int getResults(const STARDICT_HIT** list, uint64_t* count) const;
    uint64_t getResultCount() const { return m_resultCount; }

    // The word of the entry at that byte offset of the ".idx", or null when
    // there is none.
    const char* idxEntryAt(uint32_t offset) const;
    // Word and article of entry index; 0, or -1 when the index is past the
    // entries or its article cannot be read.
    int entryAt(uint32_t index, const char** word, const char** article, uint32_t* articleOffset,
                uint32_t* articleSize);
    // Word and article of a hit; 0, or -1 when either cannot be read (an
    // article past the end of the article file, or one that does not inflate).
    int readHit(const STARDICT_HIT* hit, const char** word, const char** article);

    // Splits off the field of article[pos..size): its letter (from
    // sametypesequence when set, the field's index within the sequence is
    // *seq) and its bytes. The position after it, or -1 at the end or for a
    // field that runs past the article.
    int64_t nextField(const uint8_t* article, uint32_t size, uint32_t pos, int* seq, STARDICT_FIELD* field) const;
    // The article as HTML, NUL-terminated, in out (outSize bytes). True when
    // it was written whole; false when it was cut (at the first piece that
    // did not fit, with the elements open there closed).
    bool renderArticle(const uint8_t* article, uint32_t size, char* out, size_t outSize) const;
    // Appends the HTML of one field to out at *outLength. It stops at the
    // first piece that does not fit, closes what is open and returns false;
    // true when the field was written whole.
    static bool renderField(const STARDICT_FIELD& field, char* out, size_t outSize, size_t* outLength);
    // The ".ifo" as lines ending in CR LF, as many whole lines as fit.
    void formatInfo(char* out, size_t outSize) const;

    // The article file's header: 0 and mode plain or dictzip, or -1.
    int readDictzipHeader(const char* path);
    // size bytes of the uncompressed articles at offset, NUL-terminated, in
    // the reader's buffer (valid until the next read); null when they cannot
    // be read.
    const char* readArticle(uint64_t offset, uint64_t size);
    // The dictzip chunk reader on the article file. 0 or -1.
    int inflateChunks(uint64_t offset, uint64_t size);

private:
    // Unmaps the index, closes its descriptor and drops the entry table.
    void releaseIndex();
    int writeCache(const uint8_t* const* table, uint32_t count) const;
    int readCache(uint32_t* count);
    bool entryEndsAt(uint32_t offset, uint32_t next) const;
    int walkIndex(uint32_t* count);
    int compareAt(uint32_t index, const char* key, int exact) const;
    void entryData(uint32_t index, const char** word, uint32_t* articleOffset, uint32_t* articleSize) const;

    uint32_t m_instance;
    STARDICT_HEADER m_header;
    std::unique_ptr<const uint8_t*[]> m_entries;
    uint32_t m_entryCount;
    const uint8_t* m_indexBase;
    size_t m_mappedSize;
    uint32_t m_current;
    int m_indexDescriptor;
    DICTZIP_STATE m_article;  // the descriptor is the article file's
    int m_mode;
    int m_open;
    char m_ifoPath[kPathSize];
    char m_idxPath[kPathSize];
    char m_articlePath[kPathSize];
    char m_cachePath[kPathSize];
    std::unique_ptr<STARDICT_HIT[]> m_results;
    uint64_t m_resultCount;
    uint64_t m_resultCapacity;
};
