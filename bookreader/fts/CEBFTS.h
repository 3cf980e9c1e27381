// The full-text index of the body text of one EB or EPWING subbook: every
// character pair (and every character without an indexed neighbour) of the
// text is a key. Two files in one directory: "fts.db", an SQLite database
// mapping each key (UTF-8) to the file offset of its posting list and holding
// the positions of the headings, and "fts.dat", the posting lists
// ("FTS4", u32 key count, then per key u32 n and n ascending u32 positions,
// little-endian). A position is (block - first text block) * 2048 + offset.
//
//   CEBFTS fts;
//   if (fts.build("/books/DICT/DATA/HONMON", nullptr, 0) < 0) puts(fts.lastError());
//   fts.open("/books/DICT/DATA/fts.db");
//   int n = fts.search(query, 100);   // hits(): text and heading positions
//   fts.close();
//
// A build writes both files under temporary names and puts them in place
// only when it succeeded, so a failed or cancelled build leaves the index
// that was there before (or none). Results: 0 success, -1 failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "bookreader/hits/CHitStore.h"
#include "foundation/FileHandle.h"

struct sqlite3;
struct sqlite3_stmt;

class CEBReader;

class CEBFTS {
public:
    enum {
        FTS_LETTERS_AND_DIGITS = 1,  // index only letters and digits
        FTS_BLANKS = 2               // index blanks too
    };
    // A body text of this many blocks or more is refused: its positions
    // would not fit the 32-bit positions of "fts.dat".
    static constexpr uint32_t kMaxTextBlocks = 0x200000;
    // A query of more characters finds nothing.
    static constexpr int kMaxQueryChars = 512;

    CEBFTS();
    virtual ~CEBFTS();
    CEBFTS(const CEBFTS&) = delete;
    CEBFTS& operator=(const CEBFTS&) = delete;

    // Builds the index of the text file's body text into outDir (null or
    // empty: the text file's directory). 0, or -1 with lastError() set.
    int build(const char* textPath, const char* outDir, int options);
    // Why the last build, open or search failed ("" when it did not).
    const char* lastError() const { return m_error.c_str(); }

    // Deletes "fts.db" and "fts.dat" in dir; the result of the second deletion.
    static int removeFiles(const char* dir);
    // True when dir holds a complete index: both files, a database with
    // its dbinfo row and a posting file that matches it.
    static bool isComplete(const char* dir);

    // Opens "fts.db" and the "fts.dat" beside it. 0 or -1.
    int open(const char* dbPath);
    // Hits of a query of 32-bit characters (NUL-terminated; ASCII capitals
    // are lower-cased in place), at most maxHits (0: no limit). Each hit's
    // text position is the match, its heading the last heading before it.
    int search(uint32_t* query, int maxHits);
    const HIT_ITEM* hits() const { return m_hits.empty() ? nullptr : m_hits.data(); }
    int hitCount() const { return static_cast<int>(m_hits.size()); }
    void close();

    // May be called from another thread: the build or search ends early.
    void cancel() { m_cancelled.store(true); }
    // A further cancel test polled with the flag (the book reader's own).
    void setCancelSource(bool (*poll)(void*), void* user) {
        m_cancelPoll = poll;
        m_cancelUser = user;
    }
    // Percent of the running step (the text read, then the keys written).
    int getProgress() const;
    // The options of the open index (from dbinfo), or of the last build.
    int options() const { return m_options; }

    // --- steps of the build, public for tests ------------------------------
    void beginKeys(int options);
    // One character of the text: its JIS X 0208 code, its position relative
    // to the first text block, and whether narrow mode is on.
    void addChar(uint32_t jis, uint32_t block, uint32_t offset, bool narrow);
    // The positions gathered for a key (Shift_JIS bytes); empty when none.
    std::vector<uint32_t> postingsOf(const std::string& sjisKey);
    // Number of distinct keys gathered.
    size_t keyCount();

private:
    // The (key << 32 | position) pairs of the keys whose hash falls to one
    // worker; sorted once the text is read, so each key's positions form
    // one ascending run.
    struct Shard {
        std::vector<uint64_t> pairs;
        bool sorted = true;
    };
    bool cancelRequested() const;
    int fail(const std::string& message);
    void emitKey(uint32_t key, uint32_t position);
    void flushBatch(bool wait);
    void waitWorkers();
    void sortShards();
    int readText(CEBReader& reader, uint32_t start, uint32_t count, bool eb, sqlite3_stmt* title);
    void endKeys();
    int createDatabase(const char* path, sqlite3** db);
    int writePostings(FILE* dat, sqlite3* db, uint64_t* size);
    int loadPostings(int64_t offset, std::vector<uint32_t>* out);
    // About how many headings lie between two positions.
    uint64_t headingsBetween(uint32_t first, uint32_t last);
    int gatherKey(sqlite3_stmt* exact, sqlite3_stmt* range, uint32_t key, bool prefix, std::vector<uint32_t>* out);

    sqlite3* m_db = nullptr;
    FilePtr m_dat;
    uint64_t m_datSize = 0;
    int64_t m_headingCount = -1;  // -1: not counted yet
    int64_t m_headingMax = 1;
    std::atomic<bool> m_cancelled{false};
    bool (*m_cancelPoll)(void*) = nullptr;
    void* m_cancelUser = nullptr;
    int m_options = 0;
    std::string m_error;

    // The pending character of the build: key code and position; 0 = none.
    uint32_t m_pendingChar = 0;
    uint32_t m_pendingPos = 0;
    // Keys are gathered in shards, one per worker thread; the text reader
    // fills a batch of pairs that the workers then share out.
    std::vector<Shard> m_shards;
    std::vector<uint64_t> m_batch;
    std::vector<uint64_t> m_working;
    std::vector<std::thread> m_workers;

    std::vector<HIT_ITEM> m_hits;
    std::atomic<int> m_progressTotal{0};
    std::atomic<int> m_progressDone{0};
};
