// A user dictionary kept in an SQLite 3 database (".lfd"): entries with
// headword, meaning, pronunciation and search keys, an alternative search
// index, extra information rows, links between entries and one row of book
// information. All text in and out is UTF-8 as stored.
//
// Every operation on the database needs the object open and returns -1 (a
// search: 0 hits) otherwise. Every text and number reaches SQLite as a bound
// parameter; opened files are treated as untrusted (no schema functions,
// no file created for a missing path). Texts copied into a caller's buffer
// take at most its size - 1 bytes, cut at a character boundary, and are
// always terminated; a NULL column reads as the empty text.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dictformats/userdict/UserDictRecords.h"
#include "foundation/SqliteHandle.h"

// Progress of a text search: (data, hits so far, 0, 0).
typedef void (*USERDICT_PROGRESS)(void* data, int hits, int total, int done);

class CSQLIO {
public:
    // Search modes (and alternative-index attributes).
    enum {
        kExact = 0,
        kWholeKey = 1,   // prefix search; attribute of the whole key
        kReversed = 4,   // suffix search; attribute of the reversed key
        kWord = 16,      // word search; attribute of single words
        kOtherWord = 32  // a further word kind, searched but never written here
    };
    // Links of this attribute are link targets shown as a list.
    enum { kLinkTarget = 128 };

    CSQLIO();
    virtual ~CSQLIO();
    CSQLIO(const CSQLIO&) = delete;
    CSQLIO& operator=(const CSQLIO&) = delete;

    // Writes a new dictionary at path (replacing a file there) with the
    // given book information, or "(no title)" when info is null; a book
    // number of 0 is replaced by a random one. Does not open the object.
    // 0, or -1 with no file left behind.
    int create(const char* path, const USERDICT_INFO* info);
    // Opens an existing dictionary and reads its book information; -1 when
    // already open, when the file is missing or is not a user dictionary.
    int open(const char* path);
    // Commits an open transaction and closes; clears the results.
    void close();
    // -1 when not open, else close and open path.
    int reopen(const char* path);
    bool isOpen() const { return m_open != 0; }

    int readBookInfo();
    USERDICT_INFO* getBookInfo() { return &m_info; }
    // Copies info into the object and writes it to the bookinfo row.
    int updateBookInfo(const USERDICT_INFO* info);

    int begin();
    int commit();

    // Fills the results with the entries matching word by mode (kExact,
    // prefix kWholeKey, kReversed suffix, kWord / kOtherWord word search).
    // maxHits above 0 caps the hits and sets *more when there were further
    // ones. Returns the hit count.
    int search(const char* word, int mode, int maxHits, uint32_t* more);
    // The entries whose meaning or headword contain text. The cancel flag is
    // polled after each hit; a cancelled search sets *more. Hits, or -1
    // when not open.
    int searchText(const char* text, int maxHits, uint32_t* more, const std::atomic<uint16_t>* cancel,
                   USERDICT_PROGRESS progress, void* data);
    // "row(N)" names the entry with id N; any other target names entries by
    // idkey (its first 32 bytes). Returns the hit count.
    int searchLinkTarget(const char* target);
    // The links of attribute kLinkTarget from entry id, as hits named by the
    // link's comment. Hits, or -1 when not open.
    int collectLinks(int64_t id);

    void clearResults();
    // Appends a hit (headword cut to 255 bytes); -1 when out of memory.
    int addResult(const char* headword, size_t length, int64_t id);
    // -1 with *count 0 when there are no hits.
    int getResults(const USERDICT_HIT** list, size_t* count) const;
    size_t getResultCount() const { return m_results.size(); }
    const char* getTextPool() const { return m_pool.empty() ? nullptr : m_pool.data(); }
    size_t getTextPoolSize() const { return m_pool.size(); }

    // Reads entry id into the buffers (any may be null with size 0).
    int readEntry(int64_t id, char* headword, size_t headwordSize, char* meaning, size_t meaningSize, char* phonetic,
                  size_t phoneticSize, char* keyword, size_t keywordSize, char* kana, size_t kanaSize, char* idkey,
                  size_t idkeySize, char* no, size_t noSize, int* level);
    int readResult(size_t index, int64_t* id, char* headword, size_t headwordSize, char* meaning, size_t meaningSize,
                   char* phonetic, size_t phoneticSize, char* keyword, size_t keywordSize, char* kana, size_t kanaSize,
                   char* idkey, size_t idkeySize, char* no, size_t noSize, int* level);
    int readHit(const USERDICT_HIT* hit, int64_t* id, char* headword, size_t headwordSize, char* meaning,
                size_t meaningSize, char* phonetic, size_t phoneticSize, char* keyword, size_t keywordSize, char* kana,
                size_t kanaSize, char* idkey, size_t idkeySize, char* no, size_t noSize, int* level);

    // Walks all entries in keyword order: rewind, then nextRow until -1.
    int rewind();
    int nextRow(int64_t* id, char* headword, size_t headwordSize, char* meaning, size_t meaningSize, char* phonetic,
                size_t phoneticSize, char* keyword, size_t keywordSize, char* kana, size_t kanaSize, char* idkey,
                size_t idkeySize, char* no, size_t noSize, int* level);

    // Adds an entry and its alternative-index rows (indexFlags: kWholeKey,
    // kReversed, kWord) and sets *id to its id.
    int addEntry(const char* headword, const char* meaning, const char* phonetic, const char* keyword, const char* kana,
                 const char* idkey, const char* no, int level, int indexFlags, int64_t* id);
    // Rewrites entry id and replaces its alternative-index rows.
    int updateEntry(int64_t id, const char* headword, const char* meaning, const char* phonetic, const char* keyword,
                    const char* kana, const char* idkey, const char* no, int level, int indexFlags);
    // One alternative-index row; -1 for an empty word and for the words "a"
    // and "the" as single words.
    int addAltIndexWords(int64_t id, int attribute, const char* tag, const char* word);

    // Removes the entry with its alternative-index, extra and link rows,
    // links pointing at it included.
    int deleteEntry(int64_t id);
    int deleteAltIndex(int64_t id);
    int deleteAltInfo(int64_t id);
    int deleteLinksFrom(int64_t id);
    int deleteLinksTo(int64_t id);

    int addAltInfo(int64_t id, int attribute, const char* no, const char* body);
    // An id above 0 starts a walk over the entry's rows, 0 or less continues
    // it; -1 when there is no further row.
    int nextAltInfo(int64_t id, int* attribute, char* no, size_t noSize, char* body, size_t bodySize);

    int addLink(int64_t id, int attribute, int64_t relid, int seq, const char* comment);
    // Links from id / to relid in seq order, walked as nextAltInfo.
    int nextLinkById(int64_t id, int* attribute, int64_t* relid, int* seq, char* comment, size_t commentSize);
    int nextLinkByRelid(int64_t relid, int64_t* id, int* attribute, int* seq, char* comment, size_t commentSize);

    // The information text (lines ending in CR LF) into out; stops when the
    // text comes within 255 bytes of size. Returns the length written.
    size_t formatInfo(char* out, size_t size) const;

private:
    using Statement = SqliteStatement;
    static const int kStatementCount = 10;
    static const int kQueryCount = 8;

    bool ready() const { return m_open != 0 && m_database != nullptr; }
    Statement prepare(const char* sql) const;
    // Prepared statement number statement, reset with its bindings cleared.
    sqlite3_stmt* fresh(int statement);
    // Search statement which, prepared on first use, else reset with its
    // bindings cleared; null when it does not prepare.
    sqlite3_stmt* query(int which);
    int execute(const char* sql, int64_t id);
    int executePlain(const char* sql);
    // Inserts a row of altindex or altinfo (id, attribute, two texts).
    int insertIdRow(int statement, int64_t id, int attribute, const char* third, const std::string& fourth);
    // Inserts one alternative-index row as it stands; -1 when the insert fails.
    int insertAltIndex(int64_t id, int attribute, const char* tag, const std::string& word);
    int fillAltIndex(int64_t id, const char* keyword, const char* headword, const char* kana, int indexFlags);
    int addKeyWords(int64_t id, const std::string& key, int indexFlags);
    // One step of a link walk (statement 8 or 9): the entry id at the other
    // end from column otherColumn (1 or 0), the attribute from the other of
    // the two, then seq and comment.
    int nextLink(int statement, int64_t key, int64_t* otherId, int otherColumn, int* attribute, int* seq, char* comment,
                 size_t commentSize);
    // Steps s, adding each row (id in column 0, headword in column 1) as a
    // hit, up to maxHits (above 0), then resets it; see searchText for cancel
    // and progress.
    int collectRows(sqlite3_stmt* s, int maxHits, uint32_t* more, const std::atomic<uint16_t>* cancel,
                    USERDICT_PROGRESS progress, void* data);

    USERDICT_INFO m_info;
    sqlite3* m_database;
    Statement m_statements[kStatementCount];
    Statement m_queries[kQueryCount];
    std::vector<USERDICT_HIT> m_results;
    std::vector<char> m_pool;
    int m_open;
    int m_inTransaction;
};
