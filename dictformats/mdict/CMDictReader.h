// Reader of MDict dictionaries: an .mdx file maps keywords to record texts, an
// .mdd file maps resource names to resource bytes. The file stays open from
// open to close; blocks are read on demand, and at most one key block and one
// record block are held decoded. Read-only. Lookups, record texts and
// resources come back in UTF-8 (keys and records of UTF-16, GBK and Big5
// files are converted).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "dictformats/mdict/CMdictBlockCache.h"
#include "foundation/FileHandle.h"

// One key block: its sizes, its offsets among the key blocks and in the
// stream of decoded key data, and its last key as the key index gives it
// (0-terminated copy; listed by dumpKeyIndex, not used for lookups).
struct KEYWORD_INDEX_ITEM {
    uint64_t comp_size;
    uint64_t decomp_size;
    uint64_t comp_offs;
    uint64_t decomp_offs;
    std::string key;
    uint64_t keylen;  // in units
};

// One record block: its sizes and running offsets.
struct REC_INDEX_ITEM {
    uint64_t comp_size;
    uint64_t decomp_size;
    uint64_t comp_offs;
    uint64_t decomp_offs;
};

// One style of the header's StyleSheet: offsets into the decoded style sheet.
struct STYLE_TOKEN {
    uint32_t number;
    uint32_t beginOffset, beginLength;
    uint32_t endOffset, endLength;
};

// One search result.
struct MDICT_HIT {
    uint32_t instance;  // the reader's instance number
    uint64_t keyPos;
    uint64_t recordOffset;
};

// Progress of a full-text scan: user data, hits so far, keyword entries of
// the file, hits so far again. The result is ignored.
typedef int (*MdictProgress)(void* user, int hits, uint64_t entries, int hitsAgain);

class CMDictReader {
public:
    CMDictReader();
    ~CMDictReader();
    CMDictReader(const CMDictReader&) = delete;
    CMDictReader& operator=(const CMDictReader&) = delete;

    // Opens an .mdx or .mdd file for lookups; the reader itself, or null. A
    // file that needs a registration code (Encrypted bit 0) or was made by
    // engine 3.0 or later is refused; failureReason() and formatInfo() then say
    // why.
    CMDictReader* open(const char* path);
    // Reads and checks the header only (no sections, no instance number).
    CMDictReader* openHeader(const char* path);
    // Releases the buffers and closes the file. Header attributes stay
    // readable until the next open.
    void close();
    CMDictReader* getHeader() { return this; }
    bool isOpen() const { return m_open; }

    // Header attributes.
    const std::string& title() const { return m_title; }
    const std::string& description() const { return m_description; }
    const std::string& encoding() const { return m_encoding; }
    const std::string& styleSheet() const { return m_styleSheet; }
    char format() const { return m_format; }
    double generatedByEngineVersion() const { return m_generatedVersion; }
    double requiredEngineVersion() const { return m_requiredVersion; }
    int encrypted() const { return m_encrypted; }
    int compact() const { return m_compact; }
    int keyCaseSensitive() const { return m_keyCaseSensitive; }
    bool isResourceFile() const { return m_resource; }
    bool hasUtf16Keys() const { return m_utf16Keys; }
    uint64_t numEntries() const { return m_numEntries; }
    uint64_t numRecords() const { return m_numRecords; }
    uint32_t instance() const { return m_instance; }
    // Bytes of decoded blocks the reader keeps for later lookups (at most
    // CMdictBlockCache::kMaxBytes; none after close).
    size_t cachedBytes() const { return m_cache.bytes(); }
    const std::vector<STYLE_TOKEN>& styles() const { return m_styles; }
    // Why the last open or openHeader failed ("" when it did not).
    const std::string& failureReason() const { return m_failure; }

    // First entry whose key matches (exact: equal once spaces, hyphens and
    // full stops are skipped and, unless the header says KeyCaseSensitive,
    // ASCII case folded; else: begins with the query under the same rule);
    // the key-block index, or -1. The matches are those a scan of every key
    // would give, in file order, whatever order the writer sorted its keys
    // in: the first lookup reads every key block once to see whether the
    // keys are in the order of that comparison (then the key blocks are
    // searched by their last keys) or not (then an index of every key's
    // compared form is kept until close).
    int findKey(const char* query, uint64_t* keyPos, uint64_t* recordOffset, int exact);
    // The next match of the lookup findKey started.
    int findNextKey(const char* query, uint64_t* keyPos, uint64_t* recordOffset, int exact);
    // Record offset of the entry after the current one (moving on to it), or
    // the end of the record stream after the last entry.
    int nextEntryOffset(uint64_t* next);
    // UTF-8 key at a key position / record at a record offset, or null. Valid
    // until the next call that fills the same buffer.
    char* keyText(uint64_t keyPos);
    char* recordText(uint64_t recordOffset);
    // Bytes of the .mdd resource whose name equals name (ASCII case folded
    // unless the header says KeyCaseSensitive),
    // and their length (clamped to the record block that holds them), or null.
    uint8_t* resourceData(const char* name, uint64_t* size);
    // Bytes at a record offset; available (when given) gets the bytes up to the
    // end of its record block.
    uint8_t* resourceAt(uint64_t recordOffset, uint64_t* available = nullptr);

    // Fill the result list; the number of hits. more is set to 1 only when
    // max (> 0) or a cancel stopped the search.
    int search(const char* query, int exact, int max, uint32_t* more);
    int searchText(const char* query, int max, uint32_t* more, const std::atomic<uint16_t>* cancel,
                   MdictProgress progress, void* user);
    int getResultCount() const { return static_cast<int>(m_results.size()); }
    int getResults(MDICT_HIT** list, uint32_t* count);
    void clearResults();
    void addResult(uint64_t keyPos, uint64_t recordOffset);
    int readHit(const MDICT_HIT* hit, char** key, char** text);
    int getHit(uint32_t index, char** key, char** text);

    // Record text -> HTML: style markers replaced by their texts, the
    // phonetic font mapped to Unicode, plain-text records wrapped in <pre>.
    // Writes at most capacity bytes including the terminating 0; a piece that
    // does not fit ends the output. 1 when the whole text was written, 0 when
    // it was cut (the output may then end inside a tag or a character).
    int applyStyleSheet(const char* text, uint32_t length, char* out, uint32_t capacity);
    // The information text: CR LF lines, stopping 255 bytes before the end.
    void formatInfo(char* buffer, uint32_t size, uint32_t unused = 0);
    void dumpKeys();
    void dumpKeyIndex();

private:
    enum KeyKind { kPlain, kUtf16, kGbk, kBig5 };
    enum Match { kPrefix = 0, kExact = 1, kResource = 2 };

    void resetHeader();
    int openFile(const char* path);
    int readHeader();
    void parseHeaderAttributes(const char* text, size_t length);
    void parseStyleSheet();
    int readKeywordSection();
    int readRecordSection();
    int readAt(uint64_t pos, uint8_t* out, uint64_t length);
    // Reads the framed block of storedSize bytes at pos and decodes it into out.
    int readBlock(uint64_t pos, uint64_t storedSize, uint64_t decodedSize, std::vector<uint8_t>* out);
    int loadKeyBlock(size_t index);
    // The entries of the loaded key block (none when no block is loaded).
    const std::vector<DATA_ITEM>& entries() const;
    int loadRecordBlock(size_t index);
    int locateKeyBlock(uint64_t keyPos);
    int locateRecordBlock(uint64_t recordOffset);
    // The form keys are compared in for a kind of match: ASCII letters in
    // lower case unless the header says KeyCaseSensitive, and for key matches
    // spaces, hyphens and full stops left out (resource names keep them).
    void keyForm(const char* key, Match match, std::string* out) const;
    // Reads every key once and builds the KeyOrder of the match's form; the
    // keys of a block that cannot be read are left out.
    void buildKeyOrder(Match match);
    // The entries of a decoded key block starting at decompOffs in the stream.
    void parseKeyEntries(const uint8_t* bytes, size_t size, uint64_t decompOffs, std::vector<DATA_ITEM>* out) const;
    // Makes the entry at keyPos the current one; its record offset, or -1.
    int selectEntry(uint64_t keyPos, uint64_t* recordOffset);
    int findKeyWith(const char* query, uint64_t* keyPos, uint64_t* recordOffset, Match match);
    int findNextKeyWith(const char* query, uint64_t* keyPos, uint64_t* recordOffset, Match match);
    int toUtf8(const uint8_t* text, size_t length, std::vector<char>* out);
    const STYLE_TOKEN* style(uint32_t number) const;

    // Header.
    uint32_t m_headerLength = 0;
    std::string m_title, m_description, m_encoding, m_styleSheet, m_registerBy, m_regCode;
    bool m_hasTitle = false, m_hasRegisterBy = false, m_hasRegCode = false;
    double m_generatedVersion = 0, m_requiredVersion = 0;
    int m_encrypted = 0;
    char m_format = 0;
    int m_compact = 0, m_keyCaseSensitive = 0;
    int m_width = 4;  // N
    bool m_utf16Keys = false;
    KeyKind m_keyKind = kPlain;
    std::vector<STYLE_TOKEN> m_styles;
    std::string m_failure;

    // Sections.
    uint64_t m_keyNumBlocks = 0, m_numEntries = 0, m_keyInfoDecompSize = 0, m_keyInfoSize = 0, m_keyBlocksSize = 0;
    uint64_t m_numRecordBlocks = 0, m_numRecords = 0, m_recordInfoSize = 0, m_recordBlocksSize = 0;
    uint64_t m_keywordSectionPos = 0, m_keyBlocksPos = 0, m_recordSectionPos = 0, m_recordBlocksPos = 0;
    uint64_t m_fileSize = 0;
    bool m_resource = false;
    uint32_t m_instance = 0;
    bool m_open = false;
    FilePtr m_file;

    std::vector<KEYWORD_INDEX_ITEM> m_keyIndex;
    std::vector<REC_INDEX_ITEM> m_recordIndex;
    CMdictBlockCache m_cache;

    // How the keys are found, per form (key matches, resource names); built
    // by the first lookup of that form.
    struct KeyOrder {
        bool built = false;
        // The keys are in the order of their forms: the key blocks are found
        // by their largest form so far, one per block.
        bool sorted = false;
        std::vector<std::string> lastForm;
        // Otherwise: every key's form (back to back in forms) by form, then
        // key position.
        struct Entry {
            uint64_t keyPos;
            uint32_t formOffset, formLength;
        };
        std::string forms;
        std::vector<Entry> index;
    };
    KeyOrder m_order[2];
    // The key positions the current lookup of an unsorted file matched, in
    // file order, and the one reached (an index into them).
    bool m_enumIndexed = false;
    std::vector<uint64_t> m_matches;
    size_t m_matchCursor = 0;
    std::string m_queryForm, m_entryForm;  // work buffers of the lookups

    // Lookup position and loaded blocks (-1: none).
    int m_currentBlock = -1;
    uint32_t m_currentEntry = 0;
    int m_loadedKeyBlock = -1;
    int m_loadedRecordBlock = -1;
    MdictBlockRef m_keyBlock, m_recordBlock;  // the loaded blocks (null: none)
    std::vector<uint8_t> m_stored;  // a block as read, before decoding
    std::vector<char> m_keyText, m_recordText;
    std::vector<uint32_t> m_wide;  // a GBK or Big5 text as characters, on its way to UTF-8

    std::vector<MDICT_HIT> m_results;
};
