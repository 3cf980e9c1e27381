// The reader of one book file: a subbook text file of an EB or EPWING book
// (kinds 0 and 1), one data file of such a book (kind 2), or any other file
// read block by block (kind 3). It walks the book's index table into its own
// index list, reads blocks through a one-block cache, keeps the hits of its
// searches and renders book text as tagged text through hook sets.
//
//   CEBReader reader;
//   if (reader.open("/books/DICT/DATA/HONMON", 1, 0)) {
//       reader.seekBlock(block);
//       reader.setOffset(offset);
//       char text[4096];
//       uint32_t n;
//       reader.readText(text, sizeof text, &n, 1, 0);
//   }
//
// Results: 1 success, 0 failure. Kinds 4 to 7 (PDIC, user dictionary,
// StarDict, MDict) are opened by their own back ends; until one is attached,
// the block operations refuse them.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "bookreader/core/ReaderTypes.h"
#include "bookreader/hits/CHitStore.h"
#include "bookreader/media/CGlyphCache.h"
#include "bookreader/search/CBookSearch.h"
#include "bookreader/search/CIndexPageCache.h"
#include "bookreader/text/TagHooks.h"
#include "foundation/book/BookConstants.h"
#include "foundation/pathutil.h"

class CBookFile;
class CZio;
class CItemList;
class CPdicBackend;
class CStarDictBackend;
class CMDictBackend;
class CUserDictBackend;

class CEBReader {
public:
    CEBReader();
    virtual ~CEBReader();
    CEBReader(const CEBReader&) = delete;
    CEBReader& operator=(const CEBReader&) = delete;

    // --- opening and closing ---------------------------------------------
    // Opens a subbook text file ("HONMON*", "*.IDX": EPWING; "START*": EB)
    // or any other file as a raw file. A path of kPathSize bytes or more is
    // refused.
    int open(const char* path, int indexBlock, int epwingVersion);
    // Opens one data file (graphics, sound, gaiji font) as kind 2.
    int openSingleFile(const char* path);
    // Releases the file objects; the index list and options stay. Returns 1.
    int close();
    // Opens the same file again after close (index list, fonts and the
    // sound map are not read again).
    int reopen();

    // --- dictionaries of kinds 4 to 7 (bookreader/backends) ----------------
    // Each open refuses (0, nothing changed) while the reader holds an open
    // book or dictionary; close() first. 1 when the dictionary opened.
    int openPdic(const char* path);
    int openUserDictionary(const char* path);
    int openStarDict(const char* path);
    int openMDict(const char* path);
    // The back end of the open dictionary of that kind, else null.
    CPdicBackend* pdic() const { return m_kind == BOOK_KIND_PDIC ? m_pdic.get() : nullptr; }
    CUserDictBackend* userDict() const { return m_kind == BOOK_KIND_USER_DICT ? m_userDict.get() : nullptr; }
    CStarDictBackend* starDict() const { return m_kind == BOOK_KIND_STARDICT ? m_starDict.get() : nullptr; }
    CMDictBackend* mdict() const { return m_kind == BOOK_KIND_MDICT ? m_mdict.get() : nullptr; }
    // The pronunciation table of PDIC entries (256 u16, the caller's; null
    // for none). The reader keeps it and hands it to every PDIC back end it
    // opens, so that it survives reopen.
    void setPdicPhoneticTable(const uint16_t* table);
    const uint16_t* pdicPhoneticTable() const { return m_pdicPhoneticTable; }
    // The information text of a dictionary's own reader (lines ending in CR
    // LF, or CR alone without crlf); 0 for other kinds.
    int dictionaryInformation(char* buf, uint32_t size, int crlf);

    // --- index information -----------------------------------------------
    const READER_INDEX_INFO* findIndex(uint32_t id) const;
    // The index area holding a position (an offset of 2048 or more counts in
    // the next block): the index list (areas from block 2 on), then the
    // multi-search definitions; null when none.
    const READER_INDEX_INFO* findIndexAt(uint32_t block, uint32_t offset) const;
    const READER_INDEX_INFO* indexInfos() const { return m_indexes; }
    int indexCount() const { return m_indexCount; }
    int kind() const { return m_kind; }
    const char* path() const { return m_path; }
    CBookFile* bookFile() const { return m_bookFile.get(); }
    bool isOpen() const { return m_opened; }
    uint32_t lastBlock() const { return m_lastBlock; }
    bool isLatin1() const { return m_latin1 != 0; }
    void setLatin1(int v) {
        if (v != -1) m_latin1 = v;
    }
    bool infoFlag() const { return m_infoFlag != 0; }
    uint32_t setInfoFlag(uint32_t v) {
        if (v != 0xFFFFFFFFu) m_infoFlag = static_cast<int>(v);
        return v;
    }
    bool hasWaveFileMap() const { return m_hasWaveMap; }
    const WAVE_MAP_ENTRY* waveMap() const { return m_waveMap.empty() ? nullptr : m_waveMap.data(); }
    int waveMapCount() const { return static_cast<int>(m_waveMap.size()); }
    const char* waveMapDir() const { return m_waveMapDir; }
    const FONT_HEADER& narrowFont() const { return m_narrowFont; }
    const FONT_HEADER& wideFont() const { return m_wideFont; }

    int multiSearchCount() const { return m_multiSearchCount; }
    int currentMultiSearch() const { return m_currentMultiSearch; }
    // Loads the definitions of multi search n; their count, 0 when n is out of range.
    int selectMultiSearch(int n);
    const READER_INDEX_INFO* multiSearchDefinitions() const { return m_multiDefinitions; }
    int multiSearchDefinitionCount() const { return m_multiDefinitionCount; }
    // Search title n (0..9), Shift_JIS; "" when absent.
    const char* searchTitle(int n) const;
    // Two triples of search-style bytes (keyword family, word family) that
    // replace the stored ones of indexes with valid information; 0xFF = none.
    void setStyleOverride(const uint8_t keywordStyle[3], const uint8_t wordStyle[3]);

    // -2 for kinds 4 to 7, else the EBZip checksum test: 0, -1, -2.
    int checkCRC();

    // --- block reading (kinds 0 to 3) ------------------------------------
    int seekBlock(int64_t n);
    int nextBlock();
    // Read position n bytes into the current block, 1..2048.
    int setOffset(int n);
    int64_t currentBlock() const { return m_currentBlock; }
    int currentOffset() const { return static_cast<int>(m_readPtr - m_blockData); }
    // The next byte; 0 when no further block can be read (readFailed() is then set).
    uint32_t readByte() {
        if (m_readPtr < m_blockEnd) return *m_readPtr++;
        return readByteSlow();
    }
    uint32_t readWord16() {
        if (m_blockEnd - m_readPtr >= 2) {
            uint32_t v = (static_cast<uint32_t>(m_readPtr[0]) << 8) | m_readPtr[1];
            m_readPtr += 2;
            return v;
        }
        uint32_t hi = readByte();
        return (hi << 8) | readByte();
    }
    uint32_t readDword32();
    // Decimal value of n packed BCD bytes, -1 when a nibble is above 9 (all n
    // bytes are read in any case).
    int64_t readBcd(int n);
    uint8_t* readBytes(uint8_t* buf, int n);
    // The bytes from the read position to the end of the cached block, for
    // callers that scan a run of bytes in place; skip() moves past n of them.
    const uint8_t* peek(size_t* available) const {
        *available = static_cast<size_t>(m_blockEnd - m_readPtr);
        return m_readPtr;
    }
    void skip(size_t n) { m_readPtr += n; }
    // Set when a block load failed since the last successful seekBlock.
    bool readFailed() const { return m_readFailed; }

    // --- tagged text -----------------------------------------------------
    // Decodes from the current position through the hook set into out
    // (capacity bytes, NUL-terminated). Returns the bytes written (also in
    // *length). pageStop: end at the next page escape after some character
    // output; blockLimit > 0: end after that many blocks.
    uint32_t decodeText(const TAG_HOOKS* hooks, char* out, uint32_t capacity, uint32_t* length, int pageStop,
                        int blockLimit);
    uint32_t readText(char* out, uint32_t capacity, uint32_t* length, int pageStop, int blockLimit);
    // The heading at the current position: up to its first line end.
    uint32_t readHeading(char* out, uint32_t capacity, uint32_t* length);
    void setPageBreak(uint16_t code, uint16_t parameter, int pageCount);
    uint16_t pageBreakCode() const { return m_pageBreakCode; }
    uint16_t pageBreakParameter() const { return m_pageBreakParameter; }
    uint16_t pageCount() const { return m_pageCount; }
    // The table stays the caller's; null removes it.
    void setEscapeSubst(const ESCAPE_SUBST* table) { m_escapeSubst = table; }
    const ESCAPE_SUBST* escapeSubst() const { return m_escapeSubst; }
    // Start and end of the last decode (packPosition form); 0 for other kinds.
    uint64_t lastTextStart() const;
    uint64_t lastTextEnd() const;
    // End of the last decode whatever area it lies in (packPosition form).
    uint64_t lastDecodeEnd() const { return m_lastEnd; }
    void setLastText(uint64_t start, uint64_t end) {
        m_lastStart = start;
        m_lastEnd = end;
    }
    // The start of the page before the last decode; 0 when none.
    uint64_t previousPageStart();
    // The references of the menu page at the position as hits; their count.
    int menuToHits(uint32_t block, uint32_t offset);
    const TAG_HOOKS* headingHooks() const { return &m_headingHooks; }
    const TAG_HOOKS* textHooks() const { return &m_textHooks; }
    int textOption() const { return m_textOption; }
    void setTextOption(int v) { m_textOption = v; }
    int headOption() const { return m_headOption; }
    void setHeadOption(int v) { m_headOption = v; }

    // --- hits ---------------------------------------------------------------
    CHitStore& hits() { return m_hits; }
    const CHitStore& hits() const { return m_hits; }
    int hitCount() const { return m_hits.count(); }
    bool hasMoreHits() const { return m_hits.hasMoreHits(); }
    int addHit(uint32_t textBlock, uint16_t textOffset, uint32_t headingBlock, uint16_t headingOffset, int level,
               int mode) {
        return m_hits.add(textBlock, textOffset, headingBlock, headingOffset, level, mode);
    }
    int finishHits(bool noSort) {
        return runSearch([&] { return m_hits.finish(noSort); });
    }
    // Copies the results into list from item start on (kinds 0 to 3: the
    // finished hits of that level, start 0 clearing the list first; kinds 4
    // to 7: every result of the back end, appended) and resets the store.
    // Returns the items written.
    int collectHits(CItemList* list, int start, int level);
    int resetHits() {
        m_hits.reset();
        return 1;
    }
    void cancelSearch() { m_hits.cancel(); }
    int setMaxHits(int n) { return m_hits.setMaxHits(n); }
    int setHitLimit50(bool on) {
        m_hits.setHitLimit50(on);
        return 1;
    }

    // --- media and fonts -----------------------------------------------------
    // Positions are packPosition(block, offset). Buffers handed out are
    // allocated with malloc and freed by the caller; null on failure.
    // count bytes from the position into buffer, across block ends; 0 when
    // they cannot all be read.
    int readRaw(uint8_t* buffer, uint32_t count, uint64_t position);
    // The JPEG data starting at the position, cut out by its markers.
    uint8_t* readColorGraphic(uint64_t position, uint32_t* size);
    // A "data" chunk's payload, or JPEG data, at the position.
    uint8_t* readMediaData(uint64_t position, uint32_t* size);
    // A BMP file of the monochrome bitmap stored at the position.
    uint8_t* monoBitmapToBmp(uint64_t position, uint32_t width, uint32_t height, uint32_t* size);
    // A RIFF/WAVE file of the sound data from start to end (inclusive).
    // rateCode: 0 44100, 1 22050, 2 11025 Hz. *size (may be null) gets the
    // file's length.
    uint8_t* extractWave(uint64_t start, uint64_t end, int header, int channelsMinusOne, int eightBit, int rateCode,
                         uint32_t* size = nullptr);
    void setXaSampleRate(int rate) { m_xaSampleRate = rate; }
    int xaSampleRate() const { return m_xaSampleRate; }
    // A WAVE file decoded from CD-ROM XA ADPCM sectors first, first + 16, ..
    // up to last.
    uint8_t* extractXaSound(uint32_t firstSector, uint32_t lastSector, uint32_t* size = nullptr);
    // Item n (from 1) of the colour sample area: name (20 bytes, ASCII) and
    // title (Shift_JIS, titleSize bytes). 0 when the book has no such item.
    int readColorSample(uint32_t n, char* name, char* title, uint32_t titleSize);
    // Font slots: narrow (0) and wide (1).
    int setFontInfo(uint32_t width, uint32_t height, uint16_t count, uint16_t first, uint16_t last);
    int fontInfoByShape(uint32_t width, uint32_t height, uint16_t* count, uint16_t* first, uint16_t* last) const;
    int fontInfo(int slot, uint32_t* width, uint32_t* height, uint16_t* count, uint16_t* first, uint16_t* last) const;
    // The bitmap of gaiji `code` into buffer (bufferSize bytes); its size in
    // *outWidth, *outHeight. 1, or 0 (sizes 0) for a size, code or buffer
    // that does not fit the font, and for an EPWING text file (its glyphs
    // are in the font files). Glyphs 16 dots high are cached until the file
    // is closed.
    int readGaijiBitmap(uint32_t width, uint32_t height, uint32_t code, uint32_t* outWidth, uint32_t* outHeight,
                        uint8_t* buffer, size_t bufferSize);
    // A BMP file of a glyph bitmap (rows of (width + 7) / 8 bytes).
    static uint8_t* bitmapToBmp(uint32_t width, uint32_t height, const uint8_t* bitmap, uint32_t* size);

    // --- book information ------------------------------------------------------
    // A readable description of the book into out (size bytes, terminated),
    // lines ending in "\r\n" (crlf set) or "\r". Returns the length written.
    uint32_t bookInformation(char* out, uint32_t size, int crlf);
    // The search-style triples of keyword-family and word-family indexes
    // (0xFF: keep), applied to the open book at once.
    void setIndexAttributes(const uint8_t keywordStyle[3], const uint8_t wordStyle[3]) {
        setStyleOverride(keywordStyle, wordStyle);
    }
    // Index-table header byte n (0..31) of an EB or EPWING book, 0 otherwise.
    unsigned tableHeaderByte(int n) const;
    int epwingVersion() const { return m_epwingVersion; }
    // --- searches (CBookSearch) -------------------------------------------
    // Each returns the hit count; kinds other than EB and EPWING give 0. A
    // search whose hits cannot be stored for want of memory releases the
    // hits it found and returns 0 with searchFailed() set.
    bool hasWordSearch() const { return CBookSearch::hasWordSearch(*this); }
    bool hasKeywordSearch() const { return CBookSearch::hasKeywordSearch(*this); }
    bool hasCrossSearch() const { return CBookSearch::hasCrossSearch(*this); }
    bool hasEndwordSearch() const { return CBookSearch::hasEndwordSearch(*this); }
    bool hasMultiSearch() const { return CBookSearch::hasMultiSearch(*this); }
    bool hasMenu() const { return CBookSearch::hasMenu(*this); }
    bool hasGraphicIndex() const { return CBookSearch::hasGraphicIndex(*this); }
    bool hasCopyright() const { return CBookSearch::hasCopyright(*this); }
    // True when a complete full-text index lies beside the text file.
    bool hasFullText() const { return CBookSearch::hasFullText(*this); }
    // exact: whole-key match; mode: HIT_ADD, HIT_RAISE or HIT_LOWER.
    int wordSearch(const char* key, int exact, int level, int mode) {
        return runSearch([&] { return CBookSearch(*this).wordSearch(key, exact, level, mode); });
    }
    int endwordSearch(const char* key, int level, int mode) {
        return runSearch([&] { return CBookSearch(*this).endwordSearch(key, level, mode); });
    }
    int keywordSearch(const char* query, int* level, int mode) {
        return runSearch([&] { return CBookSearch(*this).keywordSearch(query, level, mode); });
    }
    int crossSearch(const char* query, int* level, int mode) {
        return runSearch([&] { return CBookSearch(*this).crossSearch(query, level, mode); });
    }
    int keywordSearchWord(const char* word, int level, int mode) {
        return runSearch([&] { return CBookSearch(*this).keywordSearchWord(word, level, mode); });
    }
    int crossSearchWord(const char* word, int level, int mode) {
        return runSearch([&] { return CBookSearch(*this).crossSearchWord(word, level, mode); });
    }
    // index: one sub-index of multiSearchDefinitions(); level 0 adds, above 0 raises.
    int multiSearch(const READER_INDEX_INFO* index, const char* key, int level) {
        return runSearch([&] { return CBookSearch(*this).multiSearch(index, key, level); });
    }
    int textScanSearch(const char* key, SearchProgress progress, void* user, int level) {
        return runSearch([&] { return CBookSearch(*this).textScanSearch(key, progress, user, level); });
    }
    // Searches the full-text index beside the text file ("fts.db", "fts.dat",
    // bookreader/fts) for a Shift_JIS query; each hit is the heading of the
    // entry that holds a match. level 0 adds, above 0 raises. 0 when the book
    // has no body text or no complete index.
    int fullTextSearch(const char* query, SearchProgress progress, void* user, int level) {
        return runSearch([&] { return searchFullText(query, progress, user, level); });
    }
    void fillFollowingHeadings() {
        runSearch([&] {
            CBookSearch(*this).fillFollowingHeadings();
            return 0;
        });
    }
    // True when the last search failed for want of memory (its hits released).
    bool searchFailed() const { return m_searchFailed; }
    // Index pages the searches have read (emptied when the file is closed).
    CIndexPageCache& indexPages() { return m_indexPages; }
    // Retry a word search without hits with a shortened or stemmed key.
    int setWordRetry(bool on) {
        m_wordRetry = on;
        return 1;
    }
    bool wordRetry() const { return m_wordRetry; }
    // Group members match on the folded key alone.
    CEBReader& setLooseMatch(bool on) {
        m_looseMatch = on;
        return *this;
    }
    bool looseMatch() const { return m_looseMatch; }
    // Keyword and cross queries drop trailing ".,;:!?" from each word.
    CEBReader& setStripPunctuation(bool on) {
        m_stripPunctuation = on;
        return *this;
    }
    bool stripPunctuation() const { return m_stripPunctuation; }
    // A flag for the library's user; nothing in the library reads it.
    void setUserFlag(int v) { m_userFlag = v; }
    bool userFlag() const { return m_userFlag != 0; }

    // --- index-walk helpers, also used by the searches ------------------------
    // Reads a gaiji font header at block into header; false when the block
    // cannot be read.
    bool readFontHeader(uint32_t block, FONT_HEADER* header);
    int readMultiSearch(uint32_t block);
    void readSearchTitles(uint32_t block);
    // Reads "Sounds/WaveFile.map" (or "Sound/...") beside the file; 1 when read.
    int loadWaveFileMap(const char* path);

private:
    // Every search runs through here: one that could not store its hits
    // (the store's allocation failed, or any allocation threw) releases them
    // and gives 0 with searchFailed() set. Searches that call others (a
    // finishing step) are judged once, by the outermost.
    template <class Search>
    int runSearch(Search search) {
        if (m_searchDepth++ == 0) {
            m_searchFailed = false;
            m_hits.clearAllocationFailure();
        }
        int n = 0;
        bool threw = false;
        try {
            n = search();
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        if (--m_searchDepth > 0) {
            if (threw) throw std::bad_alloc();
            return n;
        }
        if (!threw && !m_hits.allocationFailed()) return n;
        m_hits.reset();
        m_searchFailed = true;
        return 0;
    }
    int searchFullText(const char* query, SearchProgress progress, void* user, int level);
    enum class NameKind { Epwing, Eb, Raw };
    static NameKind kindByName(const char* fileName, const char* extension);
    // The path's directory (with a "/" added; empty for a bare name), file
    // name and extension;
    // each buffer holds kPathSize bytes.
    bool splitPath(char* dir, char* fileName, char* extension) const;
    int openBookFile(NameKind nameKind, const char* dir, const char* fileName);
    int openZio(const char* path, int version);
    // Blocks of the open file's data (its uncompressed size / 2048).
    uint32_t storedBlockCount() const;
    bool loadBlock(int64_t n);
    uint32_t readByteSlow();
    void walkIndexTable();
    void applyStyleOverrides();
    void appendIndex(const READER_INDEX_INFO& info);
    void raiseLastBlock(uint32_t start, uint32_t count);
    void clearState();
    // Opens a dictionary of kind 4 to 7 through a fresh back end; on
    // success takes path and kind and one zeroed index entry.
    template <typename Backend>
    int openBackend(std::unique_ptr<Backend>* slot, int kind, const char* path);
    void releaseBackends();

    char m_path[kPathSize];
    std::unique_ptr<CBookFile> m_bookFile;
    std::unique_ptr<CZio> m_zio;
    int m_indexCount = 0;
    READER_INDEX_INFO m_indexes[kReaderMaxIndexes];
    int m_latin1 = 0;
    bool m_searchFailed = false;
    int m_searchDepth = 0;
    const uint16_t* m_pdicPhoneticTable = nullptr;
    int m_infoFlag = 0;
    bool m_hasWaveMap = false;
    int m_kind = BOOK_KIND_RAW;
    bool m_opened = false;
    uint32_t m_lastBlock = 0;
    int m_indexBlock = 1;
    int m_epwingVersion = 0;
    uint16_t m_pageBreakCode = 0, m_pageBreakParameter = 0, m_pageCount = 1;
    const ESCAPE_SUBST* m_escapeSubst = nullptr;
    uint8_t m_styleOverride[6];
    READER_INDEX_INFO m_multiDefinitions[kReaderMaxIndexes];
    int m_multiDefinitionCount = 0;
    int m_multiSearchCount = 0;
    uint16_t m_multiSearchEntries[kReaderMaxMultiSearch];
    int m_currentMultiSearch = 0;
    char m_searchTitles[kReaderSearchTitles][kReaderSearchTitleSize];
    CHitStore m_hits;
    TAG_HOOKS m_headingHooks;
    TAG_HOOKS m_textHooks;
    int m_textOption = 0;
    int m_headOption = 0;
    CIndexPageCache m_indexPages;
    bool m_wordRetry = false;
    bool m_looseMatch = false;
    bool m_stripPunctuation = false;
    int m_userFlag = 1;
    int64_t m_currentBlock = 0;
    const uint8_t* m_blockData;
    uint8_t m_blockBuffer[kBlockSize];
    const uint8_t* m_readPtr;
    const uint8_t* m_blockEnd;
    bool m_readFailed = false;
    FONT_HEADER m_narrowFont;
    FONT_HEADER m_wideFont;
    CGlyphCache m_glyphCache;
    int m_xaSampleRate = 18900;
    std::vector<WAVE_MAP_ENTRY> m_waveMap;
    char m_waveMapDir[kPathSize];
    uint64_t m_lastStart = 0, m_lastEnd = 0;
    std::unique_ptr<CPdicBackend> m_pdic;
    std::unique_ptr<CUserDictBackend> m_userDict;
    std::unique_ptr<CStarDictBackend> m_starDict;
    std::unique_ptr<CMDictBackend> m_mdict;
};

// -1 when every byte up to the terminating zero is an ASCII letter or white
// space, else 0.
int isAlphaText(const char* text);
// Each byte as "%02X ", "\r\n" after every 16th; returns the length written.
// out needs 3 * n + 2 * (n / 16) + 1 bytes.
int hexDump(char* out, const uint8_t* bytes, int n);
