// Opens a mutated full-text index ("fts.db" and "fts.dat") and searches it
// (by positions and by entries).
// Input: one selector byte (bit 0: the database is given whole, else as rows;
// bit 1: a second search of the query's first character alone; bit 2: rows
// of the compact form), u8 n and n little-endian u16 query characters, then
//   rows:  u8 key count, per key u8 length, the key's bytes (UTF-8 in the
//          plain form, Shift_JIS in the compact form), i64 offset (LE);
//          u8 heading count, per heading u32 position (LE; the compact form
//          keeps its headings in fts.dat and drops these); then fts.dat
//   whole: u32 length, that many bytes of fts.db; then fts.dat
// The rows are written into a fresh database of the index's schema, so the
// mutations reach the offsets, counts and positions rather than SQLite's
// own page format (which the whole form covers).
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bookreader/fts/CEBFTS.h"
#include "fuzz/FuzzScratch.h"

namespace {

FuzzScratch scratch("fuzz_fts");

struct Input {
    const uint8_t* p;
    size_t n;
    bool take(size_t k, const uint8_t** out) {
        if (n < k) return false;
        *out = p;
        p += k;
        n -= k;
        return true;
    }
    uint64_t le(size_t k, bool* ok) {
        const uint8_t* b;
        if (!take(k, &b)) {
            *ok = false;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = k; i-- > 0;) v = (v << 8) | b[i];
        return v;
    }
};

bool writeRows(const std::string& path, Input* in, bool compact) {
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_exec(db,
                 compact ? "create table ngram_list (ngram BLOB PRIMARY KEY, offs INTEGER) without rowid;"
                           "create table dbinfo (ver INTEGER, indexmask INTEGER); insert into dbinfo values (2, 0);"
                           "begin;"
                         : "create table ngram_tbl (ngram TEXT, offs INTEGER); "
                           "create index ngram_tbl_key on ngram_tbl(ngram);"
                           "create table title_tbl (offs INTEGER); create index title_key on title_tbl(offs);"
                           "create table dbinfo (ver INTEGER, indexmask INTEGER); insert into dbinfo values (1, 0);"
                           "begin;",
                 nullptr, nullptr, nullptr);
    bool ok = true;
    sqlite3_stmt* key = nullptr;
    sqlite3_stmt* title = nullptr;
    sqlite3_prepare_v2(db,
                       compact ? "insert or ignore into ngram_list values (?,?)" : "insert into ngram_tbl values (?,?)",
                       -1, &key, nullptr);
    sqlite3_prepare_v2(db, "insert into title_tbl values (?)", -1, &title, nullptr);
    const uint64_t keys = in->le(1, &ok);
    for (uint64_t i = 0; ok && i < keys; ++i) {
        const uint8_t* text;
        const size_t len = static_cast<size_t>(in->le(1, &ok));
        if (!ok || !in->take(len, &text))
            return sqlite3_finalize(key), sqlite3_finalize(title), sqlite3_close(db), false;
        const int64_t offset = static_cast<int64_t>(in->le(8, &ok));
        if (compact)
            sqlite3_bind_blob(key, 1, text, static_cast<int>(len), SQLITE_TRANSIENT);
        else
            sqlite3_bind_text(key, 1, reinterpret_cast<const char*>(text), static_cast<int>(len), SQLITE_TRANSIENT);
        sqlite3_bind_int64(key, 2, offset);
        sqlite3_step(key);
        sqlite3_reset(key);
    }
    const uint64_t titles = in->le(1, &ok);
    for (uint64_t i = 0; ok && i < titles; ++i) {
        const uint64_t pos = in->le(4, &ok);
        if (compact) continue;
        sqlite3_bind_int64(title, 1, static_cast<int64_t>(pos));
        sqlite3_step(title);
        sqlite3_reset(title);
    }
    sqlite3_finalize(key);
    sqlite3_finalize(title);
    sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = scratch.dir();
    if (dir.empty() || size < 2) return 0;
    Input in{data, size};
    bool ok = true;
    const uint64_t selector = in.le(1, &ok);
    const uint64_t chars = in.le(1, &ok) % 40;
    std::vector<uint32_t> query;
    for (uint64_t i = 0; ok && i < chars; ++i) query.push_back(static_cast<uint32_t>(in.le(2, &ok)));
    if (!ok) return 0;
    for (uint32_t& c : query)
        if (c == 0) c = 'a';
    query.push_back(0);
    const std::string dbPath = dir + "/fts.db";
    if (selector & 1) {
        const uint8_t* db;
        const size_t len = static_cast<size_t>(in.le(4, &ok));
        if (!ok || !in.take(len, &db) || !writeScratchFile(dbPath, db, len)) return 0;
    } else if (!writeRows(dbPath, &in, (selector & 4) != 0)) {
        return 0;
    }
    if (!writeScratchFile(dir + "/fts.dat", in.p, in.n)) return 0;

    CEBFTS::isComplete(dir.c_str());
    CEBFTS fts;
    if (fts.open(dbPath.c_str()) == 0) {
        std::vector<uint32_t> q = query;
        fts.search(q.data(), 50);
        q = query;
        fts.searchEntries(q.data(), 5);
        if ((selector & 2) && query.size() > 1) {
            uint32_t one[2] = {query[0], 0};
            fts.search(one, 50);
        }
    }
    fts.close();
    return 0;
}
