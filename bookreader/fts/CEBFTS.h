// The full-text index of the body text of one EB or EPWING subbook: every
// character pair (and every character without an indexed neighbour) of the
// text is a key. Two files in one directory: "fts.db", an SQLite database
// mapping each key to the file offset of its posting list, and "fts.dat",
// the posting lists (FtsPostingList.h). A position is
// (block - first text block) * 2048 + offset.
//
// Two forms are read and written. The compact form (the default, "FTS5",
// this library's own layout) keeps the lists as distances in variable-length
// numbers and the heading positions in "fts.dat", and its dbinfo row holds
// ver, indexmask, the postings' size and the key count. The plain form
// ("FTS4") keeps 4-byte positions and the headings in the database, as
// indexes of the first version did, with their dbinfo (ver, indexmask) as
// it was; the postings' size and key count go in a table "datinfo" beside
// it. An index of the first version's layout (no sizes recorded) is read as
// well: its postings must end where its last list ends.
//
//   CEBFTS fts;
//   if (fts.build("/books/DICT/DATA/HONMON", nullptr, 0) < 0) puts(fts.lastError());
//   fts.open("/books/DICT/DATA/fts.db");
//   int n = fts.search(query, 100);   // hits(): text and heading positions
//   fts.close();
//
// A build reads the text on every core: one pass finds the headings and the
// places where stretches of text begin, workers gather the keys of the
// stretches. It writes both files under temporary names and puts them in
// place only when it succeeded, so a failed or cancelled build leaves the
// index that was there before (or none). Results: 0 success, -1 failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bookreader/hits/CHitStore.h"
#include "foundation/FileHandle.h"

struct sqlite3;
struct sqlite3_stmt;

class CEBReader;
class CFtsKeyForms;
class CFtsKeyRun;

class CEBFTS {
public:
    enum {
        FTS_LETTERS_AND_DIGITS = 1,  // index only letters and digits
        FTS_BLANKS = 2               // index blanks too
    };
    enum {
        FORMAT_PLAIN = 1,   // 4-byte positions, headings in the database
        FORMAT_COMPACT = 2  // distances as variable-length numbers
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
    // The form the next build writes (FORMAT_COMPACT unless set).
    void setFormat(int format) { m_writeFormat = format == FORMAT_PLAIN ? FORMAT_PLAIN : FORMAT_COMPACT; }
    // Blocks of text each worker of a build takes at a time, and how many
    // workers there are (0: one per core); for tests and benchmarks.
    void setChunkBlocks(uint32_t blocks) { m_chunkBlocks = blocks ? blocks : 1; }
    void setWorkers(unsigned workers) { m_workers = workers; }
    // Why the last build, open or search failed ("" when it did not).
    const char* lastError() const { return m_error.c_str(); }

    // Deletes "fts.db" and "fts.dat" in dir; the result of the second deletion.
    static int removeFiles(const char* dir);
    // True when dir holds a complete index: both files, a database with
    // its dbinfo row and a posting file that matches it.
    static bool isComplete(const char* dir);

    // Opens "fts.db" and the "fts.dat" beside it. 0 or -1.
    int open(const char* dbPath);
    // The form of the open index (0 when none is open).
    int format() const { return m_format; }
    // Hits of a query of 32-bit characters (NUL-terminated; ASCII capitals
    // are lower-cased in place), at most maxHits (0: no limit). Each hit's
    // text position is the match, its heading the last heading before it.
    int search(uint32_t* query, int maxHits);
    // The same, one hit per entry (the first match of each; the heading is
    // the entry's), at most maxEntries (0: no limit).
    int searchEntries(uint32_t* query, int maxEntries);
    // True when the last search stopped at its limit with more to find.
    bool moreHits() const { return m_more; }
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
    struct Built;
    struct Term;
    struct ListPlace;
    bool cancelRequested() const;
    int run(uint32_t* query, int maxHits, bool entries);
    int fail(const std::string& message);
    int gatherKeys(const char* textPath, CEBReader& reader, uint32_t start, uint32_t count, bool eb, Built* built);
    int writeIndex(Built& built, FILE* dat, sqlite3* db, uint64_t* size);
    void groupKeys(std::vector<std::unique_ptr<CFtsKeyRun>>& runs, unsigned workers, Built* built);

    bool readAt(uint64_t offset, void* buf, size_t n);
    bool listHead(int64_t offset, ListPlace* place);
    int loadPostings(const ListPlace& place, std::vector<uint32_t>* out, size_t limit, uint32_t upTo);
    bool gatherTerm(sqlite3_stmt* exact, sqlite3_stmt* range, Term* term);
    bool findHeadings(const std::vector<uint32_t>& found, std::vector<uint32_t>* headings);
    bool findHeadingsInDatabase(const std::vector<uint32_t>& found, std::vector<uint32_t>* headings);
    bool findHeadingsInPostings(const std::vector<uint32_t>& found, std::vector<uint32_t>* headings);
    // About how many headings lie between two positions.
    uint64_t headingsBetween(uint32_t first, uint32_t last);

    sqlite3* m_db = nullptr;
    FilePtr m_dat;
    uint64_t m_datSize = 0;
    int m_format = 0;
    uint64_t m_headingCount = 0;   // compact form: headings in "fts.dat"
    int64_t m_tableHeadings = -1;  // plain form: rows of title_tbl, -1 until counted
    int64_t m_tableHeadingMax = 1;
    std::vector<uint8_t> m_buffer;

    std::atomic<bool> m_cancelled{false};
    bool (*m_cancelPoll)(void*) = nullptr;
    void* m_cancelUser = nullptr;
    int m_options = 0;
    int m_writeFormat = FORMAT_COMPACT;
    uint32_t m_chunkBlocks = 2048;
    unsigned m_workers = 0;
    std::string m_error;

    // The keys gathered through addChar.
    std::unique_ptr<CFtsKeyForms> m_testForms;
    std::unique_ptr<CFtsKeyRun> m_testRun;

    std::vector<HIT_ITEM> m_hits;
    bool m_more = false;
    std::atomic<int> m_progressTotal{0};
    std::atomic<int> m_progressDone{0};
};
