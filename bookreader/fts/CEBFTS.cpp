#include "bookreader/fts/CEBFTS.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bookreader/core/CEBReader.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"
#include "foundation/storage/CZComp.h"

namespace {

constexpr size_t kBatchSize = 1 << 20;
constexpr uint32_t kFormatVersion = 1;
const char kMagic[4] = {'F', 'T', 'S', '4'};

struct StatementFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
typedef std::unique_ptr<sqlite3_stmt, StatementFinalizer> Statement;

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
typedef std::unique_ptr<sqlite3, DatabaseCloser> Database;

Statement prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return Statement();
    }
    return Statement(s);
}

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A key: the Shift_JIS code of its first character in the high half and of
// the second (0 = none) in the low half; one-byte characters stay below 256.
inline uint32_t makeKey(uint32_t first, uint32_t second) {
    return (first << 16) | second;
}

void appendCode(std::string* out, uint32_t code) {
    if (code > 0xFF) out->push_back(static_cast<char>(code >> 8));
    out->push_back(static_cast<char>(code & 0xFF));
}

std::string keyBytes(uint32_t key) {
    std::string s;
    appendCode(&s, key >> 16);
    if (key & 0xFFFF) appendCode(&s, key & 0xFFFF);
    return s;
}

// The key's characters as UTF-8, the form ngram_tbl holds.
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

// The form in which a Shift_JIS character is indexed, or 0 when the options
// leave it out. Narrow text folds full-width letters, digits and symbols to
// their ASCII form; ASCII capitals become small.
uint32_t indexForm(uint32_t sjis, bool narrow, int options) {
    if (narrow && sjis >= 0x100 && sjis < 0x829F) {
        uint32_t h = jclib::zenkakuToHankaku(sjis);
        if (h < 0x100) sjis = h;
    }
    if (!(options & CEBFTS::FTS_BLANKS) && (sjis == 0x20 || sjis == 0x8140)) return 0;
    if (options & CEBFTS::FTS_LETTERS_AND_DIGITS) {
        if (sjis < 0x100 && !std::isalnum(static_cast<int>(sjis))) return 0;
        if (sjis >= 0x8140 && sjis < 0x81FD) return 0;
    }
    if (sjis >= 'A' && sjis <= 'Z') sjis += 0x20;
    return sjis;
}

inline size_t shardOf(uint32_t key, size_t shards) {
    return static_cast<size_t>((key * 0x9E3779B1u) >> 16) % shards;
}

std::string tempName(const std::string& path) {
    return path + ".tmp";
}

int64_t fileSizeOf(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

// The words of an escape's parameters that the text reader steps over, in
// bytes, for the escapes of fixed length.
int fixedSkip(uint32_t low) {
    switch (low) {
        case 0x09:
        case 0x41:
        case 0x45:
        case 0xE0:
        case 0xE2:
        case 0x4C:
            return 2;
        case 0x1A:
        case 0x1B:
        case 0x1E:
        case 0x1F:
            return 2;
        case 0x31:
        case 0x4B:
        case 0x51:
        case 0x52:
        case 0x5F:
        case 0x62:
        case 0x63:
        case 0x64:
        case 0x66:
            return 6;
        case 0x39:
            return 22;
        case 0x3C:
        case 0x4D:
            return 18;
        case 0x44:
            return 10;
        case 0x4A:
            return 16;
        case 0x4F:
            return 32;
        case 0x53:
            return 8;
        default:
            return 0;
    }
}

}  // namespace

CEBFTS::CEBFTS() {
    size_t n = std::thread::hardware_concurrency();
    m_shards.resize(std::max<size_t>(1, std::min<size_t>(n, 8)));
}

CEBFTS::~CEBFTS() {
    waitWorkers();
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
    waitWorkers();
    m_options = options;
    m_pendingChar = 0;
    m_pendingPos = 0;
    for (Shard& s : m_shards) {
        s.pairs.clear();
        s.sorted = true;
    }
    m_batch.clear();
    m_batch.reserve(kBatchSize);
}

void CEBFTS::addChar(uint32_t jis, uint32_t block, uint32_t offset, bool narrow) {
    if (!(m_options & FTS_BLANKS) && jis == 0x2121) return;
    uint32_t c = indexForm(jclib::jisToSjis(jis), narrow, m_options);
    if (c == 0) return;
    const uint32_t pos = block * 2048u + offset;
    if (m_pendingChar) emitKey(makeKey(m_pendingChar, pos == m_pendingPos + 2 ? c : 0), m_pendingPos);
    m_pendingChar = c;
    m_pendingPos = pos;
}

void CEBFTS::endKeys() {
    // The text's last character has no follower: it gets a key of its own.
    if (m_pendingChar) emitKey(makeKey(m_pendingChar, 0), m_pendingPos);
    m_pendingChar = 0;
    flushBatch(true);
    sortShards();
}

void CEBFTS::emitKey(uint32_t key, uint32_t position) {
    m_batch.push_back((static_cast<uint64_t>(key) << 32) | position);
    if (m_batch.size() >= kBatchSize) flushBatch(false);
}

void CEBFTS::sortShards() {
    waitWorkers();
    for (Shard& s : m_shards)
        if (!s.sorted)
            m_workers.emplace_back([&s] {
                std::sort(s.pairs.begin(), s.pairs.end());
                s.sorted = true;
            });
    waitWorkers();
}

void CEBFTS::waitWorkers() {
    for (std::thread& t : m_workers) t.join();
    m_workers.clear();
}

void CEBFTS::flushBatch(bool wait) {
    waitWorkers();
    m_working.swap(m_batch);
    m_batch.clear();
    if (m_batch.capacity() < kBatchSize) m_batch.reserve(kBatchSize);
    const size_t n = m_shards.size();
    for (size_t w = 0; w < n; ++w) {
        m_workers.emplace_back([this, w, n] {
            Shard& shard = m_shards[w];
            for (uint64_t e : m_working)
                if (shardOf(static_cast<uint32_t>(e >> 32), n) == w) shard.pairs.push_back(e);
            shard.sorted = false;
        });
    }
    if (wait) waitWorkers();
}

std::vector<uint32_t> CEBFTS::postingsOf(const std::string& sjisKey) {
    flushBatch(true);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(sjisKey.data());
    const int len = static_cast<int>(sjisKey.size());
    uint32_t codes[2] = {0, 0};
    int at = 0;
    for (int i = 0; i < 2 && at < len; ++i) {
        int l = sjisCharLength(p + at, len - at);
        codes[i] = l == 2 ? (static_cast<uint32_t>(p[at]) << 8) | p[at + 1] : p[at];
        at += l;
    }
    const uint32_t key = makeKey(codes[0], codes[1]);
    sortShards();
    const std::vector<uint64_t>& pairs = m_shards[shardOf(key, m_shards.size())].pairs;
    const uint64_t first = static_cast<uint64_t>(key) << 32;
    std::vector<uint32_t> out;
    for (auto it = std::lower_bound(pairs.begin(), pairs.end(), first); it != pairs.end() && (*it >> 32) == key; ++it)
        out.push_back(static_cast<uint32_t>(*it));
    return out;
}

size_t CEBFTS::keyCount() {
    flushBatch(true);
    sortShards();
    size_t n = 0;
    for (const Shard& s : m_shards)
        for (size_t i = 0; i < s.pairs.size(); ++i) n += i == 0 || (s.pairs[i] >> 32) != (s.pairs[i - 1] >> 32);
    return n;
}

// --- build ------------------------------------------------------------------

int CEBFTS::removeFiles(const char* dir) {
    const std::string base = std::string(dir) + "/";
    std::remove((base + "fts.db").c_str());
    return std::remove((base + "fts.dat").c_str());
}

int CEBFTS::createDatabase(const char* path, sqlite3** out) {
    std::remove(path);
    sqlite3* raw = nullptr;
    if (sqlite3_open(path, &raw) != SQLITE_OK) {
        sqlite3_close(raw);
        return -1;
    }
    Database db(raw);
    // The file is a temporary one until the build succeeds: no journal.
    if (!exec(raw, "PRAGMA journal_mode=OFF;") || !exec(raw, "PRAGMA synchronous=OFF;") ||
        !exec(raw, "create table ngram_tbl (\tngram\tTEXT,\toffs\tINTEGER);") ||
        !exec(raw, "create table title_tbl (\toffs\tINTEGER);") ||
        !exec(raw, "create index title_key on title_tbl(offs);") ||
        !exec(raw, "create table dbinfo (\tver\tINTEGER,\tindexmask\tINTEGER,\tdatsize\tINTEGER,\tkeycount\tINTEGER);"))
        return -1;
    *out = db.release();
    return 0;
}

int CEBFTS::build(const char* textPath, const char* outDir, int options) {
    m_error.clear();
    m_cancelled.store(false);
    m_progressTotal = 0;
    m_progressDone = 0;
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
    sqlite3* rawDb = nullptr;
    if (createDatabase(dbTemp.c_str(), &rawDb) != 0) return fail("can't create " + dbTemp);
    Database db(rawDb);
    Statement title = prepare(rawDb, "insert into title_tbl(offs) values (?);");
    if (!title || !exec(rawDb, "BEGIN;")) return fail("can't prepare " + dbTemp);

    m_progressTotal = static_cast<int>(count);
    beginKeys(options);
    // The gathered keys are released however the build ends.
    struct KeyRelease {
        CEBFTS* fts;
        ~KeyRelease() {
            fts->waitWorkers();
            for (Shard& s : fts->m_shards) s.pairs = {};
            fts->m_batch = {};
            fts->m_working = {};
        }
    } release{this};
    if (!reader.seekBlock(start)) return fail("read error at block " + std::to_string(start));
    if (readText(reader, start, count, eb, title.get()) != 0) return -1;
    endKeys();
    title.reset();
    if (!exec(rawDb, "COMMIT;")) return fail("can't write " + dbTemp);

    uint64_t datSize = 0;
    if (writePostings(dat.get(), rawDb, &datSize) != 0) return -1;
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

int CEBFTS::readText(CEBReader& reader, uint32_t start, uint32_t count, bool eb, sqlite3_stmt* title) {
    const int64_t last = static_cast<int64_t>(start) + count - 1;
    bool narrow = false;
    bool indentHeadings = false;
    auto position = [&](int64_t block, int offset) { return static_cast<uint32_t>((block - start) * 2048 + offset); };
    auto ended = [&]() {
        int64_t b = reader.currentBlock();
        return b > last || (b == last && reader.currentOffset() >= 2048) || reader.readFailed();
    };
    auto skipBytes = [&](int n) {
        for (int i = 0; i < n && !ended(); ++i) reader.readByte();
    };
    auto addTitle = [&](uint32_t pos) -> bool {
        sqlite3_bind_int64(title, 1, pos);
        bool ok = sqlite3_step(title) == SQLITE_DONE;
        sqlite3_reset(title);
        return ok;
    };

    uint32_t polls = 0;
    while (!ended()) {
        if ((++polls & 0xFFF) == 0) {
            if (cancelRequested()) return fail("cancelled");
            m_progressDone = static_cast<int>(reader.currentBlock() - start);
        }
        int64_t block = reader.currentBlock();
        int offset = reader.currentOffset();
        uint32_t code = reader.readWord16();
    dispatch:
        if (reader.readFailed()) break;
        if (code == 0) continue;
        if ((code >> 8) != 0x1F) {
            if (jclib::isJisCode(code))
                addChar(code, static_cast<uint32_t>(block - start), static_cast<uint32_t>(offset), narrow);
            continue;
        }
        const uint32_t pos = position(block, offset);
        const uint32_t low = code & 0xFF;
        if (low == 0x09) {
            uint32_t indent = reader.readWord16();
            if (indent == 1) {
                if (!addTitle(pos)) return fail("can't write the heading table");
                indentHeadings = true;
            }
            continue;
        }
        if (!indentHeadings && (low == 0x41 || low == 0x02))
            if (!addTitle(pos)) return fail("can't write the heading table");
        switch (low) {
            case 0x04:
                narrow = true;
                break;
            case 0x05:
                narrow = false;
                break;
            case 0x14:
            case 0x67: {
                uint32_t w;
                do {
                    block = reader.currentBlock();
                    offset = reader.currentOffset();
                    w = reader.readWord16();
                } while ((w >> 8) == 0x1E && !ended());
                code = w;
                goto dispatch;
            }
            case 0x15: {
                block = reader.currentBlock();
                offset = reader.currentOffset();
                uint32_t w = reader.readWord16();
                if ((w >> 8) == 0x1F) {
                    code = w;
                    goto dispatch;
                }
                break;
            }
            case 0x1C:
                if (eb) {
                    while (!ended() && reader.readWord16() != 0x1F1D) {
                    }
                } else {
                    skipBytes(2);
                }
                break;
            case 0x1D:
                if (!eb) skipBytes(2);
                break;
            case 0x35:
                skipBytes(4);
                while (!ended() && reader.readByte() != 0x1F) {
                }
                skipBytes(1);
                break;
            default:
                skipBytes(fixedSkip(low));
                break;
        }
    }
    if (reader.readFailed())
        return fail("read error in the body text at block " + std::to_string(reader.currentBlock()));
    if (cancelRequested()) return fail("cancelled");
    m_progressDone = static_cast<int>(count);
    return 0;
}

int CEBFTS::writePostings(FILE* dat, sqlite3* db, uint64_t* size) {
    struct Entry {
        std::string bytes;
        uint32_t key;
        const uint64_t* positions;  // low halves of the key's pairs
        size_t count;
    };
    std::vector<Entry> entries;
    for (const Shard& s : m_shards) {
        for (size_t i = 0, j; i < s.pairs.size(); i = j) {
            const uint32_t key = static_cast<uint32_t>(s.pairs[i] >> 32);
            for (j = i + 1; j < s.pairs.size() && (s.pairs[j] >> 32) == key; ++j) {
            }
            entries.push_back({keyBytes(key), key, &s.pairs[i], j - i});
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.bytes < b.bytes; });

    Statement insert = prepare(db, "insert into ngram_tbl(ngram,offs) values (?,?);");
    if (!insert || !exec(db, "BEGIN;")) return fail("can't write the key table");
    m_progressTotal = static_cast<int>(entries.size());
    m_progressDone = 0;

    uint8_t head[8];
    std::memcpy(head, kMagic, 4);
    byteorder::putLe32(head + 4, static_cast<uint32_t>(entries.size()));
    if (std::fwrite(head, 1, 8, dat) != 8) return fail("can't write fts.dat");
    uint64_t offset = 8;
    std::vector<uint8_t> buf;
    for (const Entry& e : entries) {
        if (cancelRequested()) return fail("cancelled");
        const std::string utf8 = keyUtf8(e.key);
        sqlite3_bind_text(insert.get(), 1, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert.get(), 2, static_cast<sqlite3_int64>(offset));
        int rc = sqlite3_step(insert.get());
        sqlite3_reset(insert.get());
        if (rc != SQLITE_DONE) return fail("can't write the key table");
        buf.resize(4 + 4 * e.count);
        byteorder::putLe32(buf.data(), static_cast<uint32_t>(e.count));
        for (size_t i = 0; i < e.count; ++i)
            byteorder::putLe32(buf.data() + 4 + 4 * i, static_cast<uint32_t>(e.positions[i]));
        if (std::fwrite(buf.data(), 1, buf.size(), dat) != buf.size()) return fail("can't write fts.dat");
        offset += buf.size();
        ++m_progressDone;
    }
    insert.reset();
    Statement info = prepare(db, "insert into dbinfo (ver,indexmask,datsize,keycount) values (?,?,?,?);");
    if (!info) return fail("can't write dbinfo");
    sqlite3_bind_int(info.get(), 1, kFormatVersion);
    sqlite3_bind_int(info.get(), 2, m_options);
    sqlite3_bind_int64(info.get(), 3, static_cast<sqlite3_int64>(offset));
    sqlite3_bind_int64(info.get(), 4, static_cast<sqlite3_int64>(entries.size()));
    if (sqlite3_step(info.get()) != SQLITE_DONE) return fail("can't write dbinfo");
    info.reset();
    if (!exec(db, "create index ngram_tbl_key on ngram_tbl(ngram);") || !exec(db, "COMMIT;"))
        return fail("can't write the key table");
    *size = offset;
    return 0;
}

// --- search -------------------------------------------------------------------

namespace {

struct IndexInfo {
    bool ok = false;
    int options = 0;
    int64_t datSize = -1;  // -1: not recorded
};

IndexInfo readInfo(sqlite3* db) {
    IndexInfo info;
    Statement s = prepare(db, "select * from dbinfo;");
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return info;
    bool version = false;
    for (int i = 0; i < sqlite3_column_count(s.get()); ++i) {
        const char* name = sqlite3_column_name(s.get(), i);
        if (!name) continue;
        if (!std::strcmp(name, "ver")) version = sqlite3_column_int64(s.get(), i) == kFormatVersion;
        if (!std::strcmp(name, "indexmask")) info.options = sqlite3_column_int(s.get(), i);
        if (!std::strcmp(name, "datsize")) info.datSize = sqlite3_column_int64(s.get(), i);
    }
    info.ok = version;
    return info;
}

bool hasMagic(FILE* f) {
    uint8_t head[8];
    return std::fread(head, 1, 8, f) == 8 && std::memcmp(head, kMagic, 4) == 0;
}

}  // namespace

bool CEBFTS::isComplete(const char* dir) {
    const std::string base = std::string(dir) + "/";
    const std::string dbPath = base + "fts.db", datPath = base + "fts.dat";
    const int64_t datSize = fileSizeOf(datPath.c_str());
    if (datSize < 8 || !fileExists(dbPath.c_str())) return false;
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return false;
    }
    Database db(raw);
    IndexInfo info = readInfo(raw);
    if (!info.ok || (info.datSize >= 0 && info.datSize != datSize)) return false;
    FilePtr dat = openFile(datPath.c_str(), "rb");
    return dat && hasMagic(dat.get());
}

int CEBFTS::open(const char* dbPath) {
    close();
    m_error.clear();
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(dbPath, &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return fail(std::string("can't open ") + dbPath);
    }
    Database db(raw);
    IndexInfo info = readInfo(raw);
    if (!info.ok) return fail(std::string("not a full-text index: ") + dbPath);
    char dir[kPathSize];
    if (pathDirName(dbPath, dir) < 0) return fail("path too long");
    const std::string datPath = std::string(*dir ? dir : ".") + "/fts.dat";
    const int64_t size = fileSizeOf(datPath.c_str());
    FilePtr dat = openFile(datPath.c_str(), "rb");
    if (!dat || size < 8 || !hasMagic(dat.get())) return fail("can't read " + datPath);
    if (info.datSize >= 0 && info.datSize != size) return fail(datPath + " does not belong to " + dbPath);
    m_db = db.release();
    m_dat = std::move(dat);
    m_datSize = static_cast<uint64_t>(size);
    m_options = info.options;
    return 0;
}

void CEBFTS::close() {
    if (m_db) sqlite3_close(m_db);
    m_db = nullptr;
    m_dat.reset();
    m_datSize = 0;
    m_headingCount = -1;
    m_hits.clear();
    m_hits.shrink_to_fit();
}

uint64_t CEBFTS::headingsBetween(uint32_t first, uint32_t last) {
    if (m_headingCount < 0) {
        m_headingCount = 0;
        m_headingMax = 1;
        Statement s = prepare(m_db, "select count(*), max(offs) from title_tbl;");
        if (s && sqlite3_step(s.get()) == SQLITE_ROW) {
            m_headingCount = sqlite3_column_int64(s.get(), 0);
            m_headingMax = std::max<sqlite3_int64>(1, sqlite3_column_int64(s.get(), 1));
        }
    }
    // Headings are spread over the text about evenly.
    return static_cast<uint64_t>(static_cast<double>(m_headingCount) * (last - first) / m_headingMax) + 1;
}

int CEBFTS::loadPostings(int64_t offset, std::vector<uint32_t>* out) {
    if (offset < 8 || static_cast<uint64_t>(offset) + 4 > m_datSize) return -1;
    if (fseeko(m_dat.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return -1;
    uint8_t head[4];
    if (std::fread(head, 1, 4, m_dat.get()) != 4) return -1;
    const uint64_t n = byteorder::le32(head);
    if (n > (m_datSize - static_cast<uint64_t>(offset) - 4) / 4) return -1;
    std::vector<uint8_t> buf(static_cast<size_t>(n) * 4);
    if (n && std::fread(buf.data(), 1, buf.size(), m_dat.get()) != buf.size()) return -1;
    const size_t at = out->size();
    out->resize(at + static_cast<size_t>(n));
    for (size_t i = 0; i < n; ++i) {
        uint32_t p = byteorder::le32(buf.data() + 4 * i);
        if (i && p <= (*out)[at + i - 1]) {  // damaged: positions must rise
            out->resize(at);
            return -1;
        }
        (*out)[at + i] = p;
    }
    return 0;
}

int CEBFTS::gatherKey(sqlite3_stmt* exact, sqlite3_stmt* range, uint32_t key, bool prefix, std::vector<uint32_t>* out) {
    sqlite3_stmt* s = prefix ? range : exact;
    std::string low, high;
    if (prefix) {
        const std::string first = keyUtf8(makeKey(key >> 16, 0));
        uint32_t wide[2];
        const std::string sjis = keyBytes(makeKey(key >> 16, 0));
        sjisToWide(wide, sjis.data(), static_cast<int>(sjis.size()));
        low = first;
        high = utf8Of(wide[0] + 1);
        sqlite3_bind_text(s, 1, low.data(), static_cast<int>(low.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, high.data(), static_cast<int>(high.size()), SQLITE_TRANSIENT);
    } else {
        low = keyUtf8(key);
        sqlite3_bind_text(s, 1, low.data(), static_cast<int>(low.size()), SQLITE_TRANSIENT);
    }
    int rows = 0;
    while (!cancelRequested() && sqlite3_step(s) == SQLITE_ROW) {
        loadPostings(sqlite3_column_int64(s, 0), out);  // a damaged list is skipped
        ++rows;
    }
    sqlite3_reset(s);
    if (rows > 1) {
        std::sort(out->begin(), out->end());
        out->erase(std::unique(out->begin(), out->end()), out->end());
    }
    return 0;
}

int CEBFTS::search(uint32_t* query, int maxHits) {
    m_hits.clear();
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
        uint32_t c = indexForm(sjis, false, m_options);
        trailingGap = c == 0;
        if (c) tokens.push_back({c, static_cast<uint32_t>(2 * i)});
    }
    if (tokens.empty()) return 0;

    // The keys the text holds where it matches: a pair for each two adjacent
    // characters, a single key for a character whose follower is a gap; the
    // last character's key depends on what follows it in the text, so it is
    // the pair ending with it, or any key that begins with it.
    struct Term {
        uint32_t key;
        uint32_t rel;
        bool prefix;
        std::vector<uint32_t> list;
    };
    std::vector<Term> terms;
    const size_t m = tokens.size();
    for (size_t j = 0; j < m;) {
        const bool adjacentNext = j + 1 < m && tokens[j + 1].rel == tokens[j].rel + 2;
        if (adjacentNext) {
            terms.push_back({makeKey(tokens[j].code, tokens[j + 1].code), tokens[j].rel, false, {}});
            j += 2;
        } else if (j + 1 < m || trailingGap) {
            terms.push_back({makeKey(tokens[j].code, 0), tokens[j].rel, false, {}});
            j += 1;
        } else if (j > 0 && tokens[j - 1].rel + 2 == tokens[j].rel) {
            terms.push_back({makeKey(tokens[j - 1].code, tokens[j].code), tokens[j - 1].rel, false, {}});
            j += 1;
        } else {
            terms.push_back({makeKey(tokens[j].code, 0), tokens[j].rel, true, {}});
            j += 1;
        }
    }

    Statement exact = prepare(m_db, "select offs from ngram_tbl where ngram=?;");
    Statement range = prepare(m_db, "select offs from ngram_tbl where ngram>=? and ngram<?;");
    Statement heading = prepare(m_db, "select offs from title_tbl where offs<? order by offs desc limit 1;");
    if (!exact || !range || !heading) return fail("can't query the index"), 0;
    size_t driver = 0;
    for (size_t t = 0; t < terms.size(); ++t) {
        if (cancelRequested()) return 0;
        gatherKey(exact.get(), range.get(), terms[t].key, terms[t].prefix, &terms[t].list);
        if (terms[t].list.empty()) return 0;
        if (terms[t].list.size() < terms[driver].list.size()) driver = t;
    }

    std::vector<uint32_t> found;
    const size_t limit = maxHits > 0 ? static_cast<size_t>(maxHits) : SIZE_MAX;
    const uint32_t driverRel = terms[driver].rel;
    for (uint32_t x : terms[driver].list) {
        if (found.size() >= limit || cancelRequested()) break;
        if (x < driverRel) continue;
        const uint32_t p = x - driverRel;
        bool all = true;
        for (size_t t = 0; t < terms.size() && all; ++t) {
            if (t == driver) continue;
            const uint64_t want = static_cast<uint64_t>(p) + terms[t].rel;
            all = want <= UINT32_MAX &&
                  std::binary_search(terms[t].list.begin(), terms[t].list.end(), static_cast<uint32_t>(want));
        }
        if (all) found.push_back(p);
    }

    // Headings: a lookup per hit, or, when the hits are many against the
    // headings they span, one ordered walk over those headings.
    m_hits.reserve(found.size());
    if (found.empty()) return 0;
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
    Statement walk;
    bool walkRow = false;
    if (found.size() > 16 && found.size() * 8 > headingsBetween(found.front(), found.back())) {
        walk = prepare(m_db, "select offs from title_tbl where offs>=? and offs<? order by offs;");
        if (!walk) return fail("can't query the index"), 0;
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
        HIT_ITEM hit{};
        hit.textBlock = p / 2048;
        hit.textOffset = static_cast<uint16_t>(p % 2048);
        hit.headingBlock = h / 2048;
        hit.headingOffset = static_cast<uint16_t>(h % 2048);
        m_hits.push_back(hit);
    }
    return static_cast<int>(m_hits.size());
}
