#include "bookreader/fts/CEBFTS.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "bookreader/core/CEBReader.h"
#include "bookreader/fts/CFtsKeyForms.h"
#include "bookreader/fts/CFtsKeyRun.h"
#include "bookreader/fts/FtsKeys.h"
#include "bookreader/fts/FtsPostingList.h"
#include "bookreader/fts/FtsTextWalker.h"
#include "foundation/SqliteHandle.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"
#include "foundation/storage/CZComp.h"

using ftskeys::keyBytes;
using ftskeys::makeKey;

namespace {

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The key's characters as UTF-8, the form the plain index's ngram_tbl holds.
std::string keyUtf8(uint32_t key) {
    const std::string sjis = keyBytes(key);
    uint32_t wide[4];
    int n = sjisToWide(wide, sjis.data(), static_cast<int>(sjis.size()));
    char out[16];
    int len = wideToUtf8(wide, n, out);
    return std::string(out, static_cast<size_t>(len));
}

std::string utf8Of(uint32_t cp) {
    char out[8];
    int len = wideToUtf8(&cp, 1, out);
    return std::string(out, static_cast<size_t>(len));
}

std::string tempName(const std::string& path) {
    return path + ".tmp";
}

int64_t fileSizeOf(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

unsigned workerCount(unsigned wanted) {
    if (wanted) return wanted;
    unsigned n = std::thread::hardware_concurrency();
    return std::max(1u, std::min(n, 16u));
}

// Rows of the key table inserted by one statement.
constexpr size_t kRowsPerInsert = 64;

// The key tables of the two forms.
const char* const kCreatePlain[] = {
    "create table ngram_tbl (\tngram\tTEXT,\toffs\tINTEGER);",
    "create table title_tbl (\toffs\tINTEGER);",
    "create index title_key on title_tbl(offs);",
};
const char* const kCreateCompact[] = {
    "create table ngram_list (ngram BLOB PRIMARY KEY, offs INTEGER) without rowid;",
};

}  // namespace

// What the gathering of a build leaves: the heading positions and, per key
// in byte-wise order of its bytes, its posting list already encoded in one
// of the shard buffers.
struct CEBFTS::Built {
    struct Entry {
        uint64_t order;
        uint32_t key;
        uint32_t shard;
        uint64_t at;
        uint64_t size;
    };
    std::vector<uint32_t> headings;
    std::vector<std::vector<uint8_t>> lists;  // one per shard
    std::vector<Entry> entries;
};

CEBFTS::CEBFTS() = default;

CEBFTS::~CEBFTS() {
    close();
}

bool CEBFTS::cancelRequested() const {
    return m_cancelled.load() || (m_cancelPoll && m_cancelPoll(m_cancelUser));
}

int CEBFTS::fail(const std::string& message) {
    m_error = message;
    return -1;
}

int CEBFTS::getProgress() const {
    int total = m_progressTotal.load();
    if (total < 1) return 0;
    return static_cast<int>(static_cast<int64_t>(m_progressDone.load()) * 100 / total);
}

// --- gathering keys ---------------------------------------------------------

void CEBFTS::beginKeys(int options) {
    m_options = options;
    m_testForms.reset(new CFtsKeyForms(options));
    m_testRun.reset(new CFtsKeyRun(m_testForms.get(), 1));
}

void CEBFTS::addChar(uint32_t jis, uint32_t block, uint32_t offset, bool narrow) {
    if (!m_testRun) beginKeys(m_options);
    if (jclib::isJisCode(jis)) m_testRun->character(jis, block, offset, narrow);
}

std::vector<uint32_t> CEBFTS::postingsOf(const std::string& sjisKey) {
    std::vector<uint32_t> out;
    if (!m_testRun) return out;
    const uint32_t key = ftskeys::keyOf(sjisKey);
    for (uint64_t e : m_testRun->shard(0))
        if ((e >> 32) == key) out.push_back(static_cast<uint32_t>(e));
    return out;  // the pending character has no key until the text ends
}

size_t CEBFTS::keyCount() {
    if (!m_testRun) return 0;
    std::vector<uint32_t> keys;
    for (uint64_t e : m_testRun->shard(0)) keys.push_back(static_cast<uint32_t>(e >> 32));
    std::sort(keys.begin(), keys.end());
    return static_cast<size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
}

namespace {

// Sorts (key << 32 | position) values by key, keeping the order of equal
// keys: values that come in position order leave with each key's positions
// in order. Two passes over 16-bit digits.
void sortByKey(std::vector<uint64_t>* values, std::vector<uint64_t>* scratch) {
    const size_t n = values->size();
    scratch->resize(n);
    std::vector<size_t> count(65537);
    for (int pass = 0; pass < 2; ++pass) {
        const int shift = 32 + 16 * pass;
        std::fill(count.begin(), count.end(), 0);
        for (uint64_t v : *values) ++count[((v >> shift) & 0xFFFF) + 1];
        if (count[1 + ((values->empty() ? 0 : (*values)[0] >> shift) & 0xFFFF)] == n) continue;  // one digit
        for (size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
        for (uint64_t v : *values) (*scratch)[count[(v >> shift) & 0xFFFF]++] = v;
        values->swap(*scratch);
    }
}

// Where a stretch of the text begins: the place of its first code and the
// narrow flag in force there.
struct ChunkStart {
    int64_t block;
    int offset;
    bool narrow;
    uint64_t place() const { return static_cast<uint64_t>(block) * 2048 + static_cast<uint64_t>(offset); }
};

// The stretches the first pass has found, handed to the workers as they
// become known: a stretch can be read once the next one's start is known.
class ChunkQueue {
public:
    void add(const ChunkStart& s) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_starts.push_back(s);
        m_ready.notify_all();
    }
    void close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_ready.notify_all();
    }
    // The next stretch to read: its start and the place where the next one
    // begins (UINT64_MAX for the last). False when none is left.
    bool next(size_t* index, ChunkStart* start, uint64_t* end) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const size_t k = m_next++;
        m_ready.wait(lock, [&] { return m_closed || m_starts.size() > k + 1; });
        if (k >= m_starts.size()) return false;
        *index = k;
        *start = m_starts[k];
        *end = k + 1 < m_starts.size() ? m_starts[k + 1].place() : UINT64_MAX;
        return true;
    }
    size_t size() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_starts.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::vector<ChunkStart> m_starts;
    size_t m_next = 0;
    bool m_closed = false;
};

}  // namespace

int CEBFTS::gatherKeys(const char* textPath, CEBReader& reader, uint32_t start, uint32_t count, bool eb, Built* built) {
    const int64_t last = static_cast<int64_t>(start) + count - 1;
    const uint32_t chunkBlocks = m_chunkBlocks;
    const unsigned workers = workerCount(m_workers);
    // More shards than workers: the shards grouped at one time need their
    // sorting space, the others none yet.
    const size_t shards = std::max<size_t>(1, std::min<size_t>(4 * workers, 64));
    const CFtsKeyForms forms(m_options);
    std::vector<std::unique_ptr<CFtsKeyRun>> runs(count / chunkBlocks + 2);

    ChunkQueue queue;
    std::mutex errorMutex;
    std::string workerError;
    std::atomic<bool> stop{false};
    std::atomic<int> blocksDone{0};
    auto workerFailed = [&](const std::string& message) {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (workerError.empty()) workerError = message;
        stop.store(true);
    };

    // A worker's walk: keys of one stretch, up to where the next begins.
    struct KeyPass {
        static constexpr bool characters() { return true; }
        CFtsKeyRun* run;
        uint64_t end;
        const CEBFTS* self;
        const std::atomic<bool>* stop;
        bool atCode(int64_t block, int offset, bool) const {
            return static_cast<uint64_t>(block) * 2048 + static_cast<uint64_t>(offset) >= end;
        }
        void character(uint32_t jis, uint32_t block, uint32_t offset, bool narrow) {
            run->character(jis, block, offset, narrow);
        }
        void heading(uint32_t) {}
        bool cancelled() const { return stop->load() || self->cancelRequested(); }
    };
    auto work = [&]() {
        CEBReader own;
        if (!own.open(textPath, 1, CZComp::epwingVersionOf(textPath))) {
            workerFailed(std::string("can't open the text: ") + textPath);
            return;
        }
        size_t k;
        ChunkStart s;
        uint64_t end;
        while (!stop.load() && queue.next(&k, &s, &end)) {
            if (!own.seekBlock(s.block) || (s.offset > 0 && !own.setOffset(s.offset))) {
                workerFailed("read error in the body text at block " + std::to_string(s.block));
                return;
            }
            std::unique_ptr<CFtsKeyRun> run(new CFtsKeyRun(&forms, shards));
            KeyPass pass{run.get(), end, this, &stop};
            const FtsWalkEnd r = walkBodyText(own, start, last, eb, s.narrow, false, pass);
            if (r == FtsWalkEnd::ReadError) {
                workerFailed("read error in the body text at block " + std::to_string(own.currentBlock()));
                return;
            }
            if (r == FtsWalkEnd::Cancelled) {
                stop.store(true);
                return;
            }
            runs[k] = std::move(run);
            const int64_t endBlock = end == UINT64_MAX ? last + 1 : static_cast<int64_t>(end / 2048);
            blocksDone += static_cast<int>(endBlock - s.block);
            m_progressDone = std::min(blocksDone.load(), static_cast<int>(count));
        }
    };
    std::vector<std::thread> threads;
    struct Joiner {
        std::vector<std::thread>* threads;
        ChunkQueue* queue;
        std::atomic<bool>* stop;
        ~Joiner() {
            stop->store(true);
            queue->close();
            for (std::thread& t : *threads)
                if (t.joinable()) t.join();
        }
    } joiner{&threads, &queue, &stop};
    for (unsigned i = 0; i < workers; ++i) threads.emplace_back(work);

    // The first pass: headings, and where each stretch begins.
    struct FirstPass {
        static constexpr bool characters() { return false; }
        ChunkQueue* queue;
        std::vector<uint32_t>* headings;
        int64_t start;
        uint32_t chunkBlocks;
        int64_t nextBoundary;
        const CEBFTS* self;
        const std::atomic<bool>* stop;
        bool atCode(int64_t block, int offset, bool narrow) {
            if (block >= nextBoundary) {
                queue->add({block, offset, narrow});
                nextBoundary = start + ((block - start) / chunkBlocks + 1) * chunkBlocks;
            }
            return false;
        }
        void character(uint32_t, uint32_t, uint32_t, bool) {}
        void heading(uint32_t position) { headings->push_back(position); }
        bool cancelled() const { return stop->load() || self->cancelRequested(); }
    } first{&queue, &built->headings, start, chunkBlocks, start, this, &stop};
    const FtsWalkEnd r = walkBodyText(reader, start, last, eb, false, false, first);
    if (r == FtsWalkEnd::ReadError)
        return fail("read error in the body text at block " + std::to_string(reader.currentBlock()));
    queue.close();
    for (std::thread& t : threads) t.join();
    threads.clear();
    if (!workerError.empty()) return fail(workerError);
    if (r == FtsWalkEnd::Cancelled || cancelRequested()) return fail("cancelled");
    runs.resize(queue.size());
    for (const auto& run : runs)
        if (!run) return fail("cancelled");
    m_progressDone = static_cast<int>(count);

    // Stretches read apart are joined: a stretch's last character takes its
    // key from the first character of the next stretch that has one.
    CFtsKeyRun* holder = nullptr;
    for (auto& run : runs) {
        if (!run->firstChar()) continue;
        if (holder) {
            const uint32_t p = holder->pendingPosition();
            holder->emit(makeKey(holder->pendingChar(), run->firstPosition() == p + 2 ? run->firstChar() : 0), p);
        }
        holder = run.get();
    }
    if (holder) holder->finish();
    groupKeys(runs, workers, built);
    return 0;
}

void CEBFTS::groupKeys(std::vector<std::unique_ptr<CFtsKeyRun>>& runs, unsigned workers, Built* built) {
    const size_t shards = runs.empty() ? 1 : runs[0]->shardCount();
    const ftslist::Format format = m_writeFormat == FORMAT_PLAIN ? ftslist::kPlain : ftslist::kCompact;
    built->lists.assign(shards, {});
    std::vector<std::vector<Built::Entry>> entries(shards);
    auto group = [&](size_t w) {
        size_t total = 0;
        for (auto& run : runs) total += run->shard(w).size();
        std::vector<uint64_t> values, scratch;
        values.reserve(total);
        for (auto& run : runs) {
            values.insert(values.end(), run->shard(w).begin(), run->shard(w).end());
            std::vector<uint64_t>().swap(run->shard(w));
        }
        sortByKey(&values, &scratch);
        std::vector<uint64_t>().swap(scratch);
        std::vector<uint8_t>& out = built->lists[w];
        for (size_t i = 0, j; i < values.size(); i = j) {
            const uint32_t key = static_cast<uint32_t>(values[i] >> 32);
            for (j = i + 1; j < values.size() && (values[j] >> 32) == key; ++j) {
            }
            const uint64_t at = out.size();
            ftslist::appendListOfPairs(&out, format, &values[i], j - i);
            entries[w].push_back({ftskeys::keyOrder(key), key, static_cast<uint32_t>(w), at, out.size() - at});
        }
    };
    std::atomic<size_t> nextShard{0};
    auto work = [&]() {
        for (size_t w; (w = nextShard++) < shards;) group(w);
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers && i < shards; ++i) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
    size_t n = 0;
    for (const auto& e : entries) n += e.size();
    built->entries.reserve(n);
    for (auto& e : entries) {
        built->entries.insert(built->entries.end(), e.begin(), e.end());
        std::vector<Built::Entry>().swap(e);
    }
    std::sort(built->entries.begin(), built->entries.end(),
              [](const Built::Entry& a, const Built::Entry& b) { return a.order < b.order; });
}

// --- build ------------------------------------------------------------------

int CEBFTS::removeFiles(const char* dir) {
    const std::string base = std::string(dir) + "/";
    std::remove((base + "fts.db").c_str());
    return std::remove((base + "fts.dat").c_str());
}

int CEBFTS::build(const char* textPath, const char* outDir, int options) {
    m_error.clear();
    m_cancelled.store(false);
    m_progressTotal = 0;
    m_progressDone = 0;
    m_options = options;
    std::string dir;
    if (outDir && *outDir) {
        dir = outDir;
    } else {
        char d[kPathSize];
        if (pathDirName(textPath, d) < 0) return fail("text path too long");
        dir = *d ? d : ".";
    }
    const std::string dbPath = dir + "/fts.db";
    const std::string datPath = dir + "/fts.dat";
    if (dbPath.size() + 4 >= kPathSize) return fail("output path too long");

    CEBReader reader;
    if (!reader.open(textPath, 1, CZComp::epwingVersionOf(textPath)))
        return fail(std::string("can't open the text: ") + textPath);
    const bool eb = reader.kind() == BOOK_KIND_EB;
    const READER_INDEX_INFO* body = reader.findIndex(0x00);
    if (!isBlockKind(reader.kind()) || !body || body->start == 0 || body->count == 0)
        return fail("the book has no body text");
    if (body->count >= kMaxTextBlocks)
        return fail("the body text is too large for a full-text index (" + std::to_string(body->count) +
                    " blocks, at most " + std::to_string(kMaxTextBlocks - 1) + ")");
    const uint32_t start = body->start, count = body->count;

    const std::string dbTemp = tempName(dbPath), datTemp = tempName(datPath);
    struct TempFiles {
        std::string a, b;
        bool keep = false;
        ~TempFiles() {
            if (keep) return;
            std::remove(a.c_str());
            std::remove(b.c_str());
        }
    } temps{dbTemp, datTemp};

    FilePtr dat = openFile(datTemp.c_str(), "wb");
    if (!dat) return fail("can't create " + datTemp);
    std::remove(dbTemp.c_str());
    sqlite3* rawDb = nullptr;
    if (sqlite3_open(dbTemp.c_str(), &rawDb) != SQLITE_OK) {
        sqlite3_close(rawDb);
        return fail("can't create " + dbTemp);
    }
    SqliteDatabase db(rawDb);

    m_progressTotal = static_cast<int>(count);
    if (!reader.seekBlock(start)) return fail("read error at block " + std::to_string(start));
    Built built;
    if (gatherKeys(textPath, reader, start, count, eb, &built) != 0) return -1;
    reader.close();

    uint64_t datSize = 0;
    if (writeIndex(built, dat.get(), rawDb, &datSize) != 0) return -1;
    if (std::fflush(dat.get()) != 0 || std::ferror(dat.get())) return fail("can't write " + datTemp);
    dat.reset();
    db.reset();

    // The database is put in place last: without it no index is taken as
    // complete, and its dbinfo row names the size of the postings it goes with.
    std::remove(dbPath.c_str());
    if (std::rename(datTemp.c_str(), datPath.c_str()) != 0) return fail("can't rename " + datTemp);
    if (std::rename(dbTemp.c_str(), dbPath.c_str()) != 0) return fail("can't rename " + dbTemp);
    temps.keep = true;
    m_progressDone = m_progressTotal.load();
    return 0;
}

int CEBFTS::writeIndex(Built& built, FILE* dat, sqlite3* db, uint64_t* size) {
    const bool plain = m_writeFormat == FORMAT_PLAIN;
    // The file is a temporary one until the build succeeds: no journal.
    if (!exec(db, "PRAGMA journal_mode=OFF;") || !exec(db, "PRAGMA synchronous=OFF;"))
        return fail("can't write the key table");
    const std::vector<const char*> schema =
        plain ? std::vector<const char*>(std::begin(kCreatePlain), std::end(kCreatePlain))
              : std::vector<const char*>(std::begin(kCreateCompact), std::end(kCreateCompact));
    for (const char* sql : schema)
        if (!exec(db, sql)) return fail("can't write the key table");
    // The plain form's dbinfo is the first version's (ver, indexmask), with
    // the size of the postings and the key count in a table of their own;
    // the compact form keeps all four in dbinfo.
    if (!exec(db, plain ? "create table dbinfo (\tver\tINTEGER,\tindexmask\tINTEGER);"
                        : "create table dbinfo (\tver\tINTEGER,\tindexmask\tINTEGER,\tdatsize\tINTEGER,\tkeycount"
                          "\tINTEGER);") ||
        (plain && !exec(db, "create table datinfo (\tdatsize\tINTEGER,\tkeycount\tINTEGER);")) || !exec(db, "BEGIN;"))
        return fail("can't write the key table");

    std::vector<uint8_t> head;
    ftslist::putHeader(&head, plain ? ftslist::kPlain : ftslist::kCompact, static_cast<uint32_t>(built.entries.size()),
                       built.headings.size());
    if (plain) {
        SqliteStatement title = prepareSqlite(db, "insert into title_tbl(offs) values (?);");
        if (!title) return fail("can't write the heading table");
        for (uint32_t h : built.headings) {
            sqlite3_bind_int64(title.get(), 1, h);
            int rc = sqlite3_step(title.get());
            sqlite3_reset(title.get());
            if (rc != SQLITE_DONE) return fail("can't write the heading table");
        }
    } else {
        const size_t at = head.size();
        head.resize(at + 4 * built.headings.size());
        for (size_t i = 0; i < built.headings.size(); ++i) byteorder::putLe32(&head[at + 4 * i], built.headings[i]);
    }
    std::vector<uint32_t>().swap(built.headings);
    if (std::fwrite(head.data(), 1, head.size(), dat) != head.size()) return fail("can't write fts.dat");
    uint64_t offset = head.size();

    // Keys go in by statements of many rows: a statement per row costs more
    // than the row.
    const char* const table = plain ? "ngram_tbl" : "ngram_list";
    std::string rowsSql = std::string("insert into ") + table + "(ngram,offs) values (?,?)";
    for (size_t i = 1; i < kRowsPerInsert; ++i) rowsSql += ",(?,?)";
    SqliteStatement insertRows = prepareSqlite(db, (rowsSql + ";").c_str());
    SqliteStatement insertOne =
        prepareSqlite(db, (std::string("insert into ") + table + "(ngram,offs) values (?,?);").c_str());
    if (!insertRows || !insertOne) return fail("can't write the key table");
    m_progressTotal = static_cast<int>(built.entries.size());
    m_progressDone = 0;

    // The lists are written on a second thread while the keys go into the
    // database in the same order.
    std::atomic<bool> stop{false};
    bool written = true;
    std::thread writer([&]() {
        for (const Built::Entry& e : built.entries) {
            if (stop.load()) break;
            const uint8_t* list = built.lists[e.shard].data() + e.at;
            if (std::fwrite(list, 1, static_cast<size_t>(e.size), dat) != e.size) {
                written = false;
                break;
            }
        }
    });
    struct Join {
        std::thread* t;
        std::atomic<bool>* stop;
        ~Join() {
            stop->store(true);
            if (t->joinable()) t->join();
        }
    } join{&writer, &stop};
    std::string keys[kRowsPerInsert];
    for (size_t i = 0, n = built.entries.size(); i < n;) {
        if (cancelRequested()) return fail("cancelled");
        const size_t rows = n - i >= kRowsPerInsert ? kRowsPerInsert : 1;
        sqlite3_stmt* insert = rows > 1 ? insertRows.get() : insertOne.get();
        for (size_t r = 0; r < rows; ++r, ++i) {
            const Built::Entry& e = built.entries[i];
            keys[r] = plain ? keyUtf8(e.key) : keyBytes(e.key);
            const int column = static_cast<int>(2 * r + 1);
            if (plain)
                sqlite3_bind_text(insert, column, keys[r].data(), static_cast<int>(keys[r].size()), SQLITE_STATIC);
            else
                sqlite3_bind_blob(insert, column, keys[r].data(), static_cast<int>(keys[r].size()), SQLITE_STATIC);
            sqlite3_bind_int64(insert, column + 1, static_cast<sqlite3_int64>(offset));
            offset += e.size;
        }
        int rc = sqlite3_step(insert);
        sqlite3_reset(insert);
        if (rc != SQLITE_DONE) return fail("can't write the key table");
        m_progressDone += static_cast<int>(rows);
    }
    writer.join();
    if (!written) return fail("can't write fts.dat");
    if (cancelRequested()) return fail("cancelled");
    insertRows.reset();
    insertOne.reset();
    SqliteStatement info =
        prepareSqlite(db, plain ? "insert into dbinfo (ver,indexmask) values (?,?);"
                                : "insert into dbinfo (ver,indexmask,datsize,keycount) values (?,?,?,?);");
    if (!info) return fail("can't write dbinfo");
    sqlite3_bind_int(info.get(), 1, plain ? FORMAT_PLAIN : FORMAT_COMPACT);
    sqlite3_bind_int(info.get(), 2, m_options);
    if (!plain) {
        sqlite3_bind_int64(info.get(), 3, static_cast<sqlite3_int64>(offset));
        sqlite3_bind_int64(info.get(), 4, static_cast<sqlite3_int64>(built.entries.size()));
    }
    if (sqlite3_step(info.get()) != SQLITE_DONE) return fail("can't write dbinfo");
    info.reset();
    if (plain) {
        SqliteStatement sizes = prepareSqlite(db, "insert into datinfo (datsize,keycount) values (?,?);");
        if (!sizes) return fail("can't write dbinfo");
        sqlite3_bind_int64(sizes.get(), 1, static_cast<sqlite3_int64>(offset));
        sqlite3_bind_int64(sizes.get(), 2, static_cast<sqlite3_int64>(built.entries.size()));
        if (sqlite3_step(sizes.get()) != SQLITE_DONE) return fail("can't write dbinfo");
    }
    if (plain && !exec(db, "create index ngram_tbl_key on ngram_tbl(ngram);")) return fail("can't write the key table");
    if (!exec(db, "COMMIT;")) return fail("can't write the key table");
    *size = offset;
    return 0;
}

// --- search -------------------------------------------------------------------

namespace {

struct IndexInfo {
    int format = 0;
    int options = 0;
    int64_t datSize = -1;  // -1: not recorded
};

IndexInfo readInfo(sqlite3* db) {
    IndexInfo info;
    SqliteStatement s = prepareSqlite(db, "select * from dbinfo;");
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return info;
    for (int i = 0; i < sqlite3_column_count(s.get()); ++i) {
        const char* name = sqlite3_column_name(s.get(), i);
        if (!name) continue;
        if (!std::strcmp(name, "ver")) {
            const sqlite3_int64 v = sqlite3_column_int64(s.get(), i);
            info.format = v == CEBFTS::FORMAT_PLAIN || v == CEBFTS::FORMAT_COMPACT ? static_cast<int>(v) : 0;
        }
        if (!std::strcmp(name, "indexmask")) info.options = sqlite3_column_int(s.get(), i);
        if (!std::strcmp(name, "datsize")) info.datSize = sqlite3_column_int64(s.get(), i);
    }
    if (info.format == CEBFTS::FORMAT_PLAIN && info.datSize < 0) {
        SqliteStatement sizes = prepareSqlite(db, "select datsize from datinfo;");
        if (sizes && sqlite3_step(sizes.get()) == SQLITE_ROW) info.datSize = sqlite3_column_int64(sizes.get(), 0);
    }
    return info;
}

// A plain index that records no size (one of the first version's layout)
// is checked by its last list: it must end where the file ends.
bool plainListsEndAtFileEnd(sqlite3* db, FILE* f, int64_t size) {
    SqliteStatement s = prepareSqlite(db, "select max(offs) from ngram_tbl;");
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return false;
    if (sqlite3_column_type(s.get(), 0) == SQLITE_NULL) return size == static_cast<int64_t>(ftslist::kPlainHeaderSize);
    const int64_t last = sqlite3_column_int64(s.get(), 0);
    uint8_t n[4];
    if (last < static_cast<int64_t>(ftslist::kPlainHeaderSize) || last > size - 4 || fseeko(f, last, SEEK_SET) != 0 ||
        std::fread(n, 1, sizeof n, f) != sizeof n)
        return false;
    return last + 4 + 4 * static_cast<int64_t>(byteorder::le32(n)) == size;
}

// Checks "fts.dat" against its database: the form both name, the size the
// database recorded (or, for a plain index without one, where its last list
// ends), a heading table within the file. The heading count of a compact
// file in *headings.
bool datMatches(sqlite3* db, FILE* f, int64_t size, const IndexInfo& info, uint64_t* headings) {
    uint8_t head[ftslist::kCompactHeaderSize];
    const size_t got = std::fread(head, 1, sizeof head, f);
    if (info.format == 0 || size < 0 || (info.datSize >= 0 && info.datSize != size)) return false;
    if (ftslist::formatOf(head, got, headings) != info.format) return false;
    if (info.format == CEBFTS::FORMAT_COMPACT)
        return *headings <= (static_cast<uint64_t>(size) - ftslist::kCompactHeaderSize) / 4;
    return info.datSize >= 0 || plainListsEndAtFileEnd(db, f, size);
}

}  // namespace

bool CEBFTS::isComplete(const char* dir) {
    const std::string base = std::string(dir) + "/";
    const std::string dbPath = base + "fts.db", datPath = base + "fts.dat";
    if (!fileExists(dbPath.c_str())) return false;
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return false;
    }
    SqliteDatabase db(raw);
    FilePtr dat = openFile(datPath.c_str(), "rb");
    uint64_t headings;
    return dat && datMatches(raw, dat.get(), fileSizeOf(datPath.c_str()), readInfo(raw), &headings);
}

int CEBFTS::open(const char* dbPath) {
    close();
    m_error.clear();
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(dbPath, &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return fail(std::string("can't open ") + dbPath);
    }
    SqliteDatabase db(raw);
    IndexInfo info = readInfo(raw);
    if (!info.format) return fail(std::string("not a full-text index: ") + dbPath);
    char dir[kPathSize];
    if (pathDirName(dbPath, dir) < 0) return fail("path too long");
    const std::string datPath = std::string(*dir ? dir : ".") + "/fts.dat";
    const int64_t size = fileSizeOf(datPath.c_str());
    FilePtr dat = openFile(datPath.c_str(), "rb");
    uint64_t headings = 0;
    if (!dat) return fail("can't read " + datPath);
    if (!datMatches(raw, dat.get(), size, info, &headings)) return fail(datPath + " does not belong to " + dbPath);
    m_db = db.release();
    m_dat = std::move(dat);
    m_datSize = static_cast<uint64_t>(size);
    m_format = info.format;
    m_headingCount = headings;
    m_options = info.options;
    return 0;
}

void CEBFTS::close() {
    if (m_db) sqlite3_close(m_db);
    m_db = nullptr;
    m_dat.reset();
    m_datSize = 0;
    m_format = 0;
    m_headingCount = 0;
    m_tableHeadings = -1;
    m_hits.clear();
    m_hits.shrink_to_fit();
    std::vector<uint8_t>().swap(m_buffer);
}

bool CEBFTS::readAt(uint64_t offset, void* buf, size_t n) {
    if (offset > m_datSize || n > m_datSize - offset) return false;
    return readFullyAt(fileno(m_dat.get()), buf, n, offset);
}

// Where a posting list's positions lie in "fts.dat", and how many there are.
struct CEBFTS::ListPlace {
    uint64_t body = 0;
    uint64_t bodySize = 0;
    uint64_t count = 0;
};

bool CEBFTS::listHead(int64_t offset, ListPlace* place) {
    const ftslist::Format format = m_format == FORMAT_PLAIN ? ftslist::kPlain : ftslist::kCompact;
    const uint64_t first =
        format == ftslist::kPlain ? ftslist::kPlainHeaderSize : ftslist::kCompactHeaderSize + 4 * m_headingCount;
    if (offset < 0 || static_cast<uint64_t>(offset) < first || static_cast<uint64_t>(offset) >= m_datSize) return false;
    const uint64_t available = m_datSize - static_cast<uint64_t>(offset);
    uint8_t lead[ftslist::kMaxCompactLead];
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof lead, available));
    ftslist::ListHead head;
    if (!readAt(static_cast<uint64_t>(offset), lead, n) || !ftslist::readHead(lead, n, available, format, &head))
        return false;
    place->count = head.count;
    place->body = static_cast<uint64_t>(offset) + head.body;
    place->bodySize = head.bodySize;
    return true;
}

int CEBFTS::loadPostings(const ListPlace& place, std::vector<uint32_t>* out, size_t limit, uint32_t upTo) {
    const uint64_t count = place.count, bodySize = place.bodySize;
    const ftslist::Format format = m_format == FORMAT_PLAIN ? ftslist::kPlain : ftslist::kCompact;
    // Only as much of the list as the limit needs is read.
    uint64_t want = bodySize;
    if (limit < count)
        want = std::min<uint64_t>(bodySize, static_cast<uint64_t>(limit) * (format == ftslist::kPlain ? 4 : 5));
    m_buffer.resize(static_cast<size_t>(want));
    if (want && !readAt(place.body, m_buffer.data(), static_cast<size_t>(want))) return -1;
    ftslist::ListHead head;
    head.count = count;
    head.bodySize = want;
    return ftslist::decodeBody(m_buffer.data(), head, format, limit, upTo, out) ? 0 : -1;
}

// One key the text must hold where a query matches, at its distance from the
// query's start: exact, or (the query's last character) any key beginning
// with that character.
struct CEBFTS::Term {
    uint32_t key;
    uint32_t rel;
    bool prefix;
    std::vector<ListPlace> lists;  // its posting lists
    uint64_t count = 0;            // positions in them
    std::vector<uint32_t> positions;
};

bool CEBFTS::gatherTerm(sqlite3_stmt* exact, sqlite3_stmt* range, Term* term) {
    sqlite3_stmt* s = term->prefix ? range : exact;
    std::string low, high;
    const bool plain = m_format == FORMAT_PLAIN;
    if (term->prefix) {
        const uint32_t first = term->key >> 16;
        if (plain) {
            uint32_t wide[2];
            const std::string sjis = keyBytes(makeKey(first, 0));
            sjisToWide(wide, sjis.data(), static_cast<int>(sjis.size()));
            low = keyUtf8(makeKey(first, 0));
            high = utf8Of(wide[0] + 1);
        } else {
            // Bytes: one-byte characters never share a lead byte with
            // two-byte ones, so the range holds exactly the keys of first.
            low = keyBytes(makeKey(first, 0));
            high = keyBytes(makeKey(first + 1, 0));
        }
    } else {
        low = plain ? keyUtf8(term->key) : keyBytes(term->key);
    }
    auto bind = [&](int n, const std::string& v) {
        if (plain)
            sqlite3_bind_text(s, n, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_blob(s, n, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    };
    bind(1, low);
    if (term->prefix) bind(2, high);
    while (!cancelRequested() && sqlite3_step(s) == SQLITE_ROW) {
        const int64_t offset = sqlite3_column_int64(s, 0);
        ListPlace place;
        if (!listHead(offset, &place)) continue;  // a damaged list is skipped
        term->lists.push_back(place);
        term->count += place.count;
    }
    sqlite3_reset(s);
    return !cancelRequested();
}

int CEBFTS::search(uint32_t* query, int maxHits) {
    return run(query, maxHits, false);
}

int CEBFTS::searchEntries(uint32_t* query, int maxEntries) {
    return run(query, maxEntries, true);
}

int CEBFTS::run(uint32_t* query, int maxHits, bool entries) {
    m_hits.clear();
    m_more = false;
    m_error.clear();
    if (!m_db || !m_dat || !query) return 0;
    m_cancelled.store(false);
    for (uint32_t* q = query; *q; ++q)
        if (*q >= 'A' && *q <= 'Z') *q += 0x20;
    int length = 0;
    while (query[length]) {
        if (++length > kMaxQueryChars) return fail("query too long"), 0;
    }

    // The query's characters as the index holds them, with their distance
    // from the query's start; characters the index leaves out are gaps.
    struct Token {
        uint32_t code;
        uint32_t rel;
    };
    std::vector<Token> tokens;
    bool trailingGap = false;
    for (int i = 0; i < length; ++i) {
        uint32_t sjis = unicodeToSjis(query[i]);
        if (sjis == 0) return 0;  // no such character in a book's text
        if (sjis >= 0xA1 && sjis <= 0xDF) sjis = jclib::hankakuToZenkaku(sjis);
        uint32_t c = ftskeys::indexForm(sjis, false, m_options);
        trailingGap = c == 0;
        if (c) tokens.push_back({c, static_cast<uint32_t>(2 * i)});
    }
    if (tokens.empty()) return 0;

    // The keys the text holds where it matches: a pair for each two adjacent
    // characters, a single key for a character whose follower is a gap; the
    // last character's key depends on what follows it in the text, so it is
    // the pair ending with it, or any key that begins with it.
    // A character followed by a gap has the single key, which is what makes
    // the gap a position the index left out (a space matches exactly one).
    std::vector<Term> terms;
    const size_t m = tokens.size();
    auto gapAfter = [&](size_t j) {
        return j + 1 < m ? tokens[j + 1].rel != tokens[j].rel + 2 : trailingGap;
    };
    for (size_t j = 0; j < m;) {
        const bool adjacentNext = j + 1 < m && tokens[j + 1].rel == tokens[j].rel + 2;
        if (adjacentNext) {
            terms.push_back({makeKey(tokens[j].code, tokens[j + 1].code), tokens[j].rel, false, {}, 0, {}});
            if (gapAfter(j + 1)) terms.push_back({makeKey(tokens[j + 1].code, 0), tokens[j + 1].rel, false, {}, 0, {}});
            j += 2;
        } else if (j + 1 < m || trailingGap) {
            terms.push_back({makeKey(tokens[j].code, 0), tokens[j].rel, false, {}, 0, {}});
            j += 1;
        } else if (j > 0 && tokens[j - 1].rel + 2 == tokens[j].rel) {
            terms.push_back({makeKey(tokens[j - 1].code, tokens[j].code), tokens[j - 1].rel, false, {}, 0, {}});
            j += 1;
        } else {
            terms.push_back({makeKey(tokens[j].code, 0), tokens[j].rel, true, {}, 0, {}});
            j += 1;
        }
    }

    const bool plain = m_format == FORMAT_PLAIN;
    SqliteStatement exact = prepareSqlite(
        m_db, plain ? "select offs from ngram_tbl where ngram=?;" : "select offs from ngram_list where ngram=?;");
    SqliteStatement range = prepareSqlite(m_db, plain ? "select offs from ngram_tbl where ngram>=? and ngram<?;"
                                                      : "select offs from ngram_list where ngram>=? and ngram<?;");
    if (!exact || !range) return fail("can't query the index"), 0;
    size_t driver = 0;
    for (size_t t = 0; t < terms.size(); ++t) {
        if (!gatherTerm(exact.get(), range.get(), &terms[t]) || terms[t].count == 0) return 0;
        if (terms[t].count < terms[driver].count) driver = t;
    }

    // The rarest key leads; the others are read only as far as it reaches.
    // One match more than the limit is looked for, to tell whether the
    // limit cut the result.
    const size_t limit = maxHits > 0 ? static_cast<size_t>(maxHits) : SIZE_MAX;
    const size_t wanted = limit == SIZE_MAX ? SIZE_MAX : limit + 1;
    Term& lead = terms[driver];
    // The lists of a prefix hold distinct positions (one key per position);
    // merged, only the first `most` of them are put in order.
    auto load = [&](Term& term, size_t most, uint32_t upTo) {
        for (const ListPlace& place : term.lists) loadPostings(place, &term.positions, most, upTo);  // damaged: skipped
        if (term.lists.size() > 1) {
            std::vector<uint32_t>& p = term.positions;
            if (most < p.size()) {
                std::nth_element(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(most), p.end());
                p.resize(most);
            }
            std::sort(p.begin(), p.end());
            p.erase(std::unique(p.begin(), p.end()), p.end());
        }
    };
    load(lead, terms.size() == 1 && lead.rel == 0 && !entries ? wanted : SIZE_MAX, UINT32_MAX);
    if (cancelRequested() || lead.positions.empty()) return 0;
    const uint64_t reach = static_cast<uint64_t>(lead.positions.back()) - std::min(lead.rel, lead.positions.back());
    for (size_t t = 0; t < terms.size(); ++t) {
        if (t == driver) continue;
        load(terms[t], SIZE_MAX, static_cast<uint32_t>(std::min<uint64_t>(reach + terms[t].rel, UINT32_MAX)));
        if (cancelRequested() || terms[t].positions.empty()) return 0;
    }

    // Matches in text order, from the lead's position `next` on, until
    // `most` more are found or the lead ends.
    std::vector<uint32_t> found;
    std::vector<size_t> cursor(terms.size(), 0);
    size_t next = 0;
    auto match = [&](size_t most) {
        const size_t stop = found.size() + std::min(most, SIZE_MAX - found.size());
        for (; next < lead.positions.size() && found.size() < stop && !cancelRequested(); ++next) {
            const uint32_t x = lead.positions[next];
            if (x < lead.rel) continue;
            const uint32_t p = x - lead.rel;
            bool all = true;
            for (size_t t = 0; t < terms.size() && all; ++t) {
                if (t == driver) continue;
                const uint64_t want = static_cast<uint64_t>(p) + terms[t].rel;
                const std::vector<uint32_t>& list = terms[t].positions;
                // The wanted positions rise with p: each list is walked once.
                size_t& c = cursor[t];
                c = static_cast<size_t>(
                    std::lower_bound(list.begin() + static_cast<std::ptrdiff_t>(c), list.end(), want) - list.begin());
                all = c < list.size() && list[c] == want;
            }
            if (all) found.push_back(p);
        }
    };

    std::vector<uint32_t> headings;
    if (!entries) {
        match(wanted);
        if (found.size() > limit) {
            found.resize(limit);
            m_more = true;
        }
        if (found.empty()) return 0;
        if (!findHeadings(found, &headings)) return fail("can't query the index"), 0;
    } else {
        // One hit per entry: matches are taken in batches and each keeps the
        // first of its heading, until one entry more than the limit is seen.
        std::vector<uint32_t> kept, keptHeadings, batchHeadings;
        const size_t batch = std::max<size_t>(std::min<size_t>(wanted, 1 << 16), 256);
        while (kept.size() < wanted && next < lead.positions.size() && !cancelRequested()) {
            found.clear();
            match(batch);
            if (found.empty()) break;
            if (!findHeadings(found, &batchHeadings)) return fail("can't query the index"), 0;
            for (size_t i = 0; i < found.size() && kept.size() < wanted; ++i) {
                if (!keptHeadings.empty() && keptHeadings.back() == batchHeadings[i]) continue;
                kept.push_back(found[i]);
                keptHeadings.push_back(batchHeadings[i]);
            }
        }
        if (kept.size() > limit) {
            kept.resize(limit);
            keptHeadings.resize(limit);
            m_more = true;
        }
        found.swap(kept);
        headings.swap(keptHeadings);
        if (found.empty()) return 0;
    }

    m_hits.reserve(found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        HIT_ITEM hit{};
        hit.textBlock = found[i] / 2048;
        hit.textOffset = static_cast<uint16_t>(found[i] % 2048);
        hit.headingBlock = headings[i] / 2048;
        hit.headingOffset = static_cast<uint16_t>(headings[i] % 2048);
        m_hits.push_back(hit);
    }
    return static_cast<int>(m_hits.size());
}

// --- headings -------------------------------------------------------------------

bool CEBFTS::findHeadings(const std::vector<uint32_t>& found, std::vector<uint32_t>* headings) {
    headings->assign(found.begin(), found.end());  // no heading before: the hit itself
    return m_format == FORMAT_PLAIN ? findHeadingsInDatabase(found, headings) : findHeadingsInPostings(found, headings);
}

bool CEBFTS::findHeadingsInPostings(const std::vector<uint32_t>& found, std::vector<uint32_t>* headings) {
    const uint64_t base = ftslist::kCompactHeaderSize;
    uint8_t word[4];
    auto at = [&](uint64_t i, uint32_t* v) {
        if (!readAt(base + 4 * i, word, 4)) return false;
        *v = byteorder::le32(word);
        return true;
    };
    // How many headings lie below p, searched within [lo, hi).
    auto below = [&](uint32_t p, uint64_t lo, uint64_t hi, uint64_t* n) {
        while (lo < hi) {
            const uint64_t mid = lo + (hi - lo) / 2;
            uint32_t v;
            if (!at(mid, &v)) return false;
            if (v < p)
                lo = mid + 1;
            else
                hi = mid;
        }
        *n = lo;
        return true;
    };
    uint64_t first, last;
    if (!below(found.front(), 0, m_headingCount, &first) || !below(found.back(), first, m_headingCount, &last))
        return false;
    // The headings the hits span are read at once unless they are very many
    // against the hits (a read of a few bytes costs as much as thousands of
    // headings read together); else each hit's is looked up.
    const uint64_t from = first ? first - 1 : 0;
    if (last - from <= found.size() * 4096) {
        std::vector<uint8_t> bytes(static_cast<size_t>(last - from) * 4);
        if (!bytes.empty() && !readAt(base + 4 * from, bytes.data(), bytes.size())) return false;
        uint64_t i = 0;  // headings below the current hit, counted from `from`
        const uint64_t n = last - from;
        for (size_t h = 0; h < found.size(); ++h) {
            while (i < n && byteorder::le32(&bytes[4 * i]) < found[h]) ++i;
            if (i) (*headings)[h] = byteorder::le32(&bytes[4 * (i - 1)]);
        }
        return true;
    }
    uint64_t lo = first;
    for (size_t h = 0; h < found.size(); ++h) {
        uint64_t n;
        if (!below(found[h], lo ? lo - 1 : 0, last, &n)) return false;
        lo = n;
        uint32_t v;
        if (n && at(n - 1, &v)) (*headings)[h] = v;
    }
    return true;
}

uint64_t CEBFTS::headingsBetween(uint32_t first, uint32_t last) {
    if (m_tableHeadings < 0) {
        m_tableHeadings = 0;
        m_tableHeadingMax = 1;
        SqliteStatement s = prepareSqlite(m_db, "select count(*), max(offs) from title_tbl;");
        if (s && sqlite3_step(s.get()) == SQLITE_ROW) {
            m_tableHeadings = sqlite3_column_int64(s.get(), 0);
            m_tableHeadingMax = std::max<sqlite3_int64>(1, sqlite3_column_int64(s.get(), 1));
        }
    }
    // Headings are spread over the text about evenly.
    return static_cast<uint64_t>(static_cast<double>(m_tableHeadings) * (last - first) / m_tableHeadingMax) + 1;
}

bool CEBFTS::findHeadingsInDatabase(const std::vector<uint32_t>& found, std::vector<uint32_t>* headings) {
    SqliteStatement heading =
        prepareSqlite(m_db, "select offs from title_tbl where offs<? order by offs desc limit 1;");
    if (!heading) return false;
    auto headingBefore = [&](uint32_t p) {
        uint32_t h = p;
        sqlite3_bind_int64(heading.get(), 1, p);
        if (sqlite3_step(heading.get()) == SQLITE_ROW) {
            sqlite3_int64 v = sqlite3_column_int64(heading.get(), 0);
            if (v >= 0 && v < p) h = static_cast<uint32_t>(v);
        }
        sqlite3_reset(heading.get());
        return h;
    };
    // A lookup per hit, or, when the hits are many against the headings they
    // span, one ordered walk over those headings.
    SqliteStatement walk;
    bool walkRow = false;
    if (found.size() > 16 && found.size() * 8 > headingsBetween(found.front(), found.back())) {
        walk = prepareSqlite(m_db, "select offs from title_tbl where offs>=? and offs<? order by offs;");
        if (!walk) return false;
        sqlite3_bind_int64(walk.get(), 1, found.front());
        sqlite3_bind_int64(walk.get(), 2, found.back());
        walkRow = sqlite3_step(walk.get()) == SQLITE_ROW;
    }
    uint32_t h = headingBefore(found.front());
    for (size_t i = 0; i < found.size(); ++i) {
        const uint32_t p = found[i];
        if (!walk) {
            if (i) h = headingBefore(p);
        } else {
            for (; walkRow; walkRow = sqlite3_step(walk.get()) == SQLITE_ROW) {
                sqlite3_int64 v = sqlite3_column_int64(walk.get(), 0);
                if (v >= p) break;
                if (v >= 0) h = static_cast<uint32_t>(v);
            }
        }
        (*headings)[i] = h;
    }
    return true;
}
