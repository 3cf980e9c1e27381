#include "dictformats/userdict/CSQLIO.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "dictformats/userdict/MD5.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

// The schema of a new dictionary, executed in this order.
const char* const kSchema[] = {
    "create table book (\tid\tINTEGER\tprimary key autoincrement,\tidkey\tVARCHAR(32),\tno\tVARCHAR(255),"
    "\theadword\tVARCHAR(255),\tmeaning\tTEXT,\tphonetic\tVARCHAR(255),\tkeyword\t VARCHAR(255) COLLATE NOCASE,"
    "\tkana\t VARCHAR(255) COLLATE NOCASE,\tlevel\tINTEGER);",
    "create index book_keyword_idkey on book(idkey);",
    "create index book_keyword_idx on book(keyword COLLATE NOCASE);",
    "create index book_kana_idx on book(kana COLLATE NOCASE);",
    "create table altinfo (\tid\t\tINTEGER,\tattribute\tINTEGER,\tno\t\tVARCHAR(255),\tbody\t\tTEXT);",
    "create table altindex (\tid\t\tINTEGER,\tattribute\tINTEGER,\ttag\t\tVARCHAR(255) COLLATE NOCASE,"
    "\tkeyword\t\tVARCHAR(255) COLLATE NOCASE);",
    "create index altindex_keyword_idx on altindex(keyword COLLATE NOCASE,attribute);",
    "create table link (\tid\t\tINTEGER,\tattribute\tINTEGER,\trelid\t\tINTEGER,\tseq\t\tINTEGER,"
    "\tcomment\t\tVARCHAR(255));",
    "create table bookinfo (\tisbn\t\tCHAR(13),\tccode\t\tCHAR(4),\tbooktitle\tVARCHAR(255),"
    "\tbooksubtitle\tVARCHAR(255),\tedition\t\tVARCHAR(255),\tseriestitle\tVARCHAR(255),"
    "\tbookauthor\tVARCHAR(255),\tpubdate\tCHAR(8),\tpublisher\tVARCHAR(255),\tbookcode\tVARCHAR(255),"
    "\tfilename\tVARCHAR(255),\tcompression\tINTEGER,\tcrypt\t\tINTEGER,\tbookno\t\tINTEGER,"
    "\tindexmask\tINTEGER,\tcontenttype\tINTEGER);"};

// The statements prepared by open; the entry reads select the level last.
enum {
    kReadEntry,
    kAllRows,
    kInsertEntry,
    kUpdateEntry,
    kInsertAltIndex,
    kInsertAltInfo,
    kAltInfoById,
    kInsertLink,
    kLinksById,
    kLinksByRelid
};
const char* const kStatements[] = {
    "select id,idkey,no,headword,meaning,phonetic,keyword,kana,level from book where id=?;",
    "select id,idkey,no,headword,meaning,phonetic,keyword,kana,level from book order by keyword;",
    "insert into book(idkey,no,headword,meaning,phonetic,keyword,kana,level) values (?,?,?,?,?,?,?,?)",
    "update book set idkey=?,no=?,headword=?,meaning=?,phonetic=?,keyword=?,kana=?,level=? where id=?",
    "insert into altindex(id,attribute,tag,keyword) values (?,?,?,?)",
    "insert into altinfo(id,attribute,no,body) values (?,?,?,?)",
    "select attribute,no,body from altinfo where id=?",
    "insert into link(id,attribute,relid,seq,comment) values (?,?,?,?,?)",
    "select attribute,relid,seq,comment from link where id=? order by seq",
    "select id,attribute,seq,comment from link where relid=? order by seq"};

const char kBookInfoColumns[] =
    "isbn,ccode,booktitle,booksubtitle,edition,seriestitle,bookauthor,pubdate,publisher,bookcode,filename,"
    "compression,crypt,bookno,indexmask,contenttype";
// The searches, prepared on first use and kept while the file is open. Each
// selects the entry id and its headword. Searches through the alternative
// index walk its rows in key order and stop at the maximum; an entry matched
// by several rows counts once. Prefix matches are ranges of the keys' NOCASE
// order (?1 to ?2, see bindPrefixRange), which the indexes serve and which
// match keys byte by byte, whatever the bytes are.
#define LF_BOOK "SELECT id,headword FROM book WHERE "
#define LF_ALT "SELECT DISTINCT b.id,b.headword FROM altindex a JOIN book b ON b.id = a.id WHERE "
enum Query {
    kQueryExact,
    kQueryExactAlt,
    kQueryPrefix,
    kQueryPrefixAlt,  // also the word searches; attribute ?5
    kQuerySuffix,     // ?3 to ?4: the range of keys stored with their bytes reversed
    kQueryText,
    kQueryRow,
    kQueryIdkey
};
const char* const kQueries[] = {
    LF_BOOK "keyword = ?1 or kana = ?1;",
    LF_ALT "a.keyword = ?1 and a.attribute = 1;",
    LF_BOOK "(keyword >= ?1 and keyword < ?2) or (kana >= ?1 and kana < ?2);",
    LF_ALT "a.keyword >= ?1 and a.keyword < ?2 and a.attribute = ?5;",
    LF_ALT "((a.keyword >= ?1 and a.keyword < ?2) or (a.keyword >= ?3 and a.keyword < ?4)) and a.attribute = ?5;",
    LF_BOOK "meaning like ?1 escape '\\' or headword like ?1 escape '\\';",
    LF_BOOK "id = ?1;",
    LF_BOOK "idkey = ?1;"};
#undef LF_BOOK
#undef LF_ALT

// Longest headword kept with a hit, and longest idkey a link target names.
const size_t kMaxHeadword = 255;
const size_t kMaxIdkey = 32;
// Largest text or blob SQLite hands out of an opened file.
const int kMaxValueLength = 64 << 20;
// Bytes at which single words of a key are split.
const char kWordBreaks[] = " /|-,.?;:!()<>{}[]+*";

const char* orEmpty(const char* s) {
    return s ? s : "";
}

// Copies a UTF-8 text of n bytes into out (size bytes), cut at a character
// boundary to fit with its terminator.
void copyText(char* out, size_t size, const char* text, size_t n) {
    if (!out || size == 0) return;
    n = text ? utf8PrefixLength(text, n, size - 1) : 0;
    if (n) std::memcpy(out, text, n);
    out[n] = '\0';
}

void copyColumn(sqlite3_stmt* s, int column, char* out, size_t size) {
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    copyText(out, size, text, text ? static_cast<size_t>(sqlite3_column_bytes(s, column)) : 0);
}

void clearText(char* out, size_t size) {
    if (out && size) out[0] = '\0';
}

int bindText(sqlite3_stmt* s, int index, const char* text) {
    return sqlite3_bind_text(s, index, orEmpty(text), -1, SQLITE_TRANSIENT);
}
int bindText(sqlite3_stmt* s, int index, const std::string& text) {
    return sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// The text with its characters in reverse order; a byte that starts no
// well-formed sequence counts as one character.
std::string reverseCharacters(const std::string& text) {
    std::string out(text.size(), '\0');
    size_t end = text.size();
    for (size_t i = 0; i < text.size();) {
        int n = utf8CharLength(text.data() + i, static_cast<int>(text.size() - i));
        end -= static_cast<size_t>(n);
        std::memcpy(&out[end], text.data() + i, static_cast<size_t>(n));
        i += static_cast<size_t>(n);
    }
    return out;
}

// A LIKE pattern (escape character backslash) matching text literally.
std::string likeLiteral(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// The fields of the bookinfo row in column order: eleven texts, then five
// numbers.
struct InfoFields {
    char* texts[11];
    size_t sizes[11];
    int64_t* numbers[5];
};

InfoFields infoFields(USERDICT_INFO& i) {
    return InfoFields{{i.isbn, i.ccode, i.booktitle, i.booksubtitle, i.edition, i.seriestitle, i.bookauthor, i.pubdate,
                       i.publisher, i.bookcode, i.filename},
                      {sizeof i.isbn, sizeof i.ccode, sizeof i.booktitle, sizeof i.booksubtitle, sizeof i.edition,
                       sizeof i.seriestitle, sizeof i.bookauthor, sizeof i.pubdate, sizeof i.publisher,
                       sizeof i.bookcode, sizeof i.filename},
                      {&i.compression, &i.crypt, &i.bookno, &i.indexmask, &i.contenttype}};
}

// Binds the sixteen bookinfo columns from parameter 1 on; each text is
// terminated first (cut at a character boundary) whatever the caller left
// in its field.
bool bindInfo(sqlite3_stmt* s, USERDICT_INFO& info) {
    InfoFields f = infoFields(info);
    bool ok = true;
    int k = 1;
    for (int i = 0; i < 11; ++i) {
        char* t = f.texts[i];
        t[utf8PrefixLength(t, strnlen(t, f.sizes[i]), f.sizes[i] - 1)] = '\0';
        ok = sqlite3_bind_text(s, k++, t, -1, SQLITE_TRANSIENT) == SQLITE_OK && ok;
    }
    for (int64_t* n : f.numbers) ok = sqlite3_bind_int64(s, k++, *n) == SQLITE_OK && ok;
    return ok;
}

std::string insertInfoSql() {
    return std::string("insert into bookinfo(") + kBookInfoColumns + ") values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?);";
}

// Binds parameters first and first + 1 to the range of keys that start
// with prefix in NOCASE order (bytes compared with ASCII letters folded to
// lower case): the prefix, and the least text above every key starting with
// it, or an empty blob (above every text) when there is none.
void bindPrefixRange(sqlite3_stmt* s, int first, const std::string& prefix) {
    bindText(s, first, prefix);
    std::string high = prefix;
    for (char& c : high)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    while (!high.empty() && static_cast<unsigned char>(high.back()) == 0xFF) high.pop_back();
    if (high.empty()) {
        sqlite3_bind_zeroblob(s, first + 1, 0);
        return;
    }
    unsigned char next = static_cast<unsigned char>(high.back()) + 1;
    // No byte folds to an upper-case letter: the next folded value is '['.
    if (next >= 'A' && next <= 'Z') next = '[';
    high.back() = static_cast<char>(next);
    bindText(s, first + 1, high);
}

// A random book number from 0 to 0x7FFFFFFF: the MD5 digest of a random
// value written as "%08X", its first four bytes big-endian, top bit cleared.
int64_t randomBookNumber() {
    uint32_t value;
    try {
        std::random_device source;
        value = static_cast<uint32_t>(source());
    } catch (...) {
        // No entropy source: the clock still tells dictionaries apart.
        value = static_cast<uint32_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    MD5 md5;
    MD5_CTX context;
    uint8_t digest[16];
    md5.init(&context);
    md5.update(&context, reinterpret_cast<const uint8_t*>(text), 8);
    md5.final(&context, digest);
    return static_cast<int64_t>(byteorder::be32(digest) & 0x7FFFFFFFu);
}

// Appends one formatted line to out when it fits whole before size - 255
// is reached; false when the text is full or the line does not fit.
bool appendLine(char* out, size_t size, size_t* length, const char* format, ...) __attribute__((format(printf, 4, 5)));
bool appendLine(char* out, size_t size, size_t* length, const char* format, ...) {
    if (size <= 255 || *length >= size - 255) return false;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out + *length, size - *length, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= size - *length) {
        out[*length] = '\0';
        return false;
    }
    *length += static_cast<size_t>(n);
    return true;
}

// Binds the eight columns that the insert and the update of an entry share,
// in their order.
void bindEntry(sqlite3_stmt* s, const char* idkey, const char* no, const char* headword, const char* meaning,
               const char* phonetic, const char* keyword, const char* kana, int level) {
    const char* texts[] = {idkey, no, headword, meaning, phonetic, keyword, kana};
    for (int i = 0; i < 7; ++i) bindText(s, i + 1, texts[i]);
    sqlite3_bind_int(s, 8, level);
}

// Steps a statement that changes the file once and resets it; 0 when done.
int stepOnce(sqlite3_stmt* s) {
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    return rc == SQLITE_DONE ? 0 : -1;
}

}  // namespace

CSQLIO::CSQLIO() : m_database(nullptr), m_open(0), m_inTransaction(0) {
    std::memset(&m_info, 0, sizeof m_info);
}

CSQLIO::~CSQLIO() {
    close();
}

CSQLIO::Statement CSQLIO::prepare(const char* sql) const {
    return prepareSqlite(m_database, sql);
}

int CSQLIO::executePlain(const char* sql) {
    return m_database && sqlite3_exec(m_database, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : -1;
}

int CSQLIO::execute(const char* sql, int64_t id) {
    if (!ready()) return -1;
    Statement s = prepare(sql);
    if (!s || sqlite3_bind_int64(s.get(), 1, id) != SQLITE_OK) return -1;
    return sqlite3_step(s.get()) == SQLITE_DONE ? 0 : -1;
}

int CSQLIO::create(const char* path, const USERDICT_INFO* given) {
    if (!path || !*path) return -1;
    USERDICT_INFO info;
    if (given) {
        info = *given;
    } else {
        std::memset(&info, 0, sizeof info);
        std::strcpy(info.booktitle, "(no title)");
    }
    if (info.bookno == 0) info.bookno = randomBookNumber();

    // Written under a neighbouring name and moved over path once complete,
    // so that a failure leaves neither a half-made file nor a lost old one.
    const std::string part = std::string(path) + ".part";
    auto removePart = [&part]() {
        std::remove(part.c_str());
        std::remove((part + "-journal").c_str());
    };
    removePart();
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(part.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        removePart();
        return -1;
    }
    // One transaction for the whole file: one write to the disk.
    bool ok = sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK;
    for (const char* sql : kSchema) ok = ok && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok) {
        SqliteStatement s = prepareSqlite(db, insertInfoSql().c_str());
        ok = s && bindInfo(s.get(), info) && sqlite3_step(s.get()) == SQLITE_DONE;
    }
    ok = ok && sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
    ok = sqlite3_close(db) == SQLITE_OK && ok;
    if (!ok || std::rename(part.c_str(), path) != 0) {
        removePart();
        return -1;
    }
    return 0;
}

int CSQLIO::open(const char* path) {
    if (m_open || !path) return -1;
    // Read-write without create: a missing path fails and makes no file.
    if (sqlite3_open_v2(path, &m_database, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(m_database);
        m_database = nullptr;
        return -1;
    }
    // The file comes from outside: its schema may run no functions with side
    // effects, and the schema cannot be written to.
    sqlite3_db_config(m_database, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(m_database, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_limit(m_database, SQLITE_LIMIT_LENGTH, kMaxValueLength);
    // A page cache that holds the indexes of a large dictionary while it is
    // filled in one transaction, instead of spilling them to the file.
    sqlite3_exec(m_database, "PRAGMA cache_size = -32768; PRAGMA temp_store = MEMORY;", nullptr, nullptr, nullptr);
    for (int i = 0; i < kStatementCount; ++i) {
        m_statements[i] = prepare(kStatements[i]);
        if (!m_statements[i]) {
            for (Statement& s : m_statements) s.reset();
            sqlite3_close(m_database);
            m_database = nullptr;
            return -1;
        }
    }
    m_open = 1;
    readBookInfo();
    return 0;
}

void CSQLIO::close() {
    if (m_open && m_database) {
        if (m_inTransaction) commit();
        for (Statement& s : m_statements) s.reset();
        for (Statement& s : m_queries) s.reset();
        sqlite3_close(m_database);
        m_database = nullptr;
    }
    clearResults();
    m_results.shrink_to_fit();
    m_pool.shrink_to_fit();
    m_open = 0;
    m_inTransaction = 0;
}

int CSQLIO::reopen(const char* path) {
    if (!m_open) return -1;
    close();
    return open(path);
}

int CSQLIO::readBookInfo() {
    std::memset(&m_info, 0, sizeof m_info);
    const std::string sql = std::string("SELECT ") + kBookInfoColumns + " FROM bookinfo;";
    Statement s = prepare(sql.c_str());
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return 0;
    InfoFields f = infoFields(m_info);
    for (int i = 0; i < 11; ++i) copyColumn(s.get(), i, f.texts[i], f.sizes[i]);
    for (int i = 0; i < 5; ++i) *f.numbers[i] = sqlite3_column_int64(s.get(), 11 + i);
    return 0;
}

int CSQLIO::updateBookInfo(const USERDICT_INFO* info) {
    if (!info || !ready()) return -1;
    if (info != &m_info) m_info = *info;
    Statement s = prepare(
        "update bookinfo set isbn=?,ccode=?,booktitle=?,booksubtitle=?,edition=?,seriestitle=?,bookauthor=?,"
        "pubdate=?,publisher=?,bookcode=?,filename=?,compression=?,crypt=?,bookno=?,indexmask=?,contenttype=?;");
    if (!s || !bindInfo(s.get(), m_info) || sqlite3_step(s.get()) != SQLITE_DONE) return -1;
    if (sqlite3_changes(m_database) > 0) return 0;
    // A file without its bookinfo row gets one, so that the text is kept.
    s = prepare(insertInfoSql().c_str());
    return s && bindInfo(s.get(), m_info) && sqlite3_step(s.get()) == SQLITE_DONE ? 0 : -1;
}

int CSQLIO::begin() {
    if (!ready() || m_inTransaction) return -1;
    if (executePlain("BEGIN;") != 0) return -1;
    m_inTransaction = 1;
    return 0;
}

int CSQLIO::commit() {
    if (!ready() || !m_inTransaction) return -1;
    if (executePlain("COMMIT;") != 0) return -1;
    m_inTransaction = 0;
    return 0;
}

sqlite3_stmt* CSQLIO::fresh(int statement) {
    sqlite3_stmt* s = m_statements[statement].get();
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return s;
}

sqlite3_stmt* CSQLIO::query(int which) {
    Statement& s = m_queries[which];
    if (s) {
        sqlite3_reset(s.get());
        sqlite3_clear_bindings(s.get());
    } else {
        s = prepare(kQueries[which]);
    }
    return s.get();
}

int CSQLIO::collectRows(sqlite3_stmt* s, int maxHits, uint32_t* more, const std::atomic<uint16_t>* cancel,
                        USERDICT_PROGRESS progress, void* data) {
    int count = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
        if (maxHits > 0 && count >= maxHits) {
            // A further row beyond the maximum.
            if (more) *more = 1;
            break;
        }
        const char* headword = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        const size_t length = headword ? static_cast<size_t>(sqlite3_column_bytes(s, 1)) : 0;
        if (addResult(headword, length, sqlite3_column_int64(s, 0)) != 0) break;
        ++count;
        if (progress) progress(data, count, 0, 0);
        if (cancel && *cancel) {
            if (more) *more = 1;
            break;
        }
    }
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return count;
}

int CSQLIO::search(const char* word, int mode, int maxHits, uint32_t* more) {
    if (more) *more = 0;
    clearResults();
    if (!ready() || !word) return 0;
    const bool alternative = (m_info.indexmask & 1) != 0;
    const std::string text(word);
    int which;
    if (mode == kExact)
        which = alternative ? kQueryExactAlt : kQueryExact;
    else if (mode & kWholeKey)
        which = alternative ? kQueryPrefixAlt : kQueryPrefix;
    else if (mode & (kWord | kOtherWord))
        which = kQueryPrefixAlt;
    else if (mode & kReversed)
        which = kQuerySuffix;
    else
        return 0;
    sqlite3_stmt* s = query(which);
    if (!s) return 0;
    if (which == kQueryExact || which == kQueryExactAlt) {
        bindText(s, 1, text);
    } else if (which == kQuerySuffix) {
        // Keys are stored reversed by character; older files stored them
        // with their bytes reversed.
        bindPrefixRange(s, 1, reverseCharacters(text));
        bindPrefixRange(s, 3, std::string(text.rbegin(), text.rend()));
    } else {
        bindPrefixRange(s, 1, text);
    }
    if (which == kQueryPrefixAlt || which == kQuerySuffix) sqlite3_bind_int64(s, 5, mode);
    return collectRows(s, maxHits, more, nullptr, nullptr, nullptr);
}

int CSQLIO::searchText(const char* text, int maxHits, uint32_t* more, const std::atomic<uint16_t>* cancel,
                       USERDICT_PROGRESS progress, void* data) {
    if (more) *more = 0;
    clearResults();
    if (!ready()) return -1;
    sqlite3_stmt* s = query(kQueryText);
    if (!s) return 0;
    bindText(s, 1, "%" + likeLiteral(orEmpty(text)) + "%");
    return collectRows(s, maxHits, more, cancel, progress, data);
}

int CSQLIO::searchLinkTarget(const char* target) {
    clearResults();
    if (!ready() || !target) return 0;
    // "row(N)" with N a decimal id names the entry by its id.
    if (std::strncmp(target, "row(", 4) == 0) {
        const char* digits = target + 4;
        char* end = nullptr;
        errno = 0;
        long long id = std::strtoll(digits, &end, 10);
        if (end != digits && *digits >= '0' && *digits <= '9' && errno == 0 && std::strcmp(end, ")") == 0) {
            sqlite3_stmt* s = query(kQueryRow);
            if (!s) return 0;
            sqlite3_bind_int64(s, 1, id);
            return collectRows(s, 0, nullptr, nullptr, nullptr, nullptr);
        }
    }
    sqlite3_stmt* s = query(kQueryIdkey);
    if (!s) return 0;
    bindText(s, 1, std::string(target, utf8PrefixLength(target, std::strlen(target), kMaxIdkey)));
    return collectRows(s, 0, nullptr, nullptr, nullptr, nullptr);
}

int CSQLIO::collectLinks(int64_t id) {
    clearResults();
    if (!ready()) return -1;
    sqlite3_stmt* s = fresh(kLinksById);
    sqlite3_bind_int64(s, 1, id);
    int count = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
        if (sqlite3_column_int64(s, 0) != kLinkTarget) continue;
        const char* comment = reinterpret_cast<const char*>(sqlite3_column_text(s, 3));
        const size_t length = comment ? static_cast<size_t>(sqlite3_column_bytes(s, 3)) : 0;
        if (addResult(comment, length, sqlite3_column_int64(s, 1)) != 0) break;
        ++count;
    }
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return count;
}

void CSQLIO::clearResults() {
    // The room stays for the next search; close gives it back.
    m_results.clear();
    m_pool.clear();
}

int CSQLIO::addResult(const char* headword, size_t length, int64_t id) {
    if (!headword) length = 0;
    length = utf8PrefixLength(headword, length, kMaxHeadword);
    try {
        if (m_results.capacity() == 0) m_results.reserve(1024);
        if (m_pool.capacity() <= m_pool.size() + length + 1) m_pool.reserve(m_pool.capacity() + 16384);
        USERDICT_HIT hit;
        hit.bookno = static_cast<uint64_t>(m_info.bookno);
        hit.id = static_cast<uint64_t>(id);
        hit.offset = m_pool.size();
        hit.length = static_cast<uint16_t>(length);
        m_pool.insert(m_pool.end(), headword, headword + length);
        m_pool.push_back('\0');
        m_results.push_back(hit);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

int CSQLIO::getResults(const USERDICT_HIT** list, size_t* count) const {
    if (list) *list = m_results.empty() ? nullptr : m_results.data();
    if (count) *count = m_results.size();
    return m_results.empty() ? -1 : 0;
}

namespace {

// Copies the entry columns of a row of statement 0 or 1.
void copyEntry(sqlite3_stmt* s, int64_t* id, char* headword, size_t headwordSize, char* meaning, size_t meaningSize,
               char* phonetic, size_t phoneticSize, char* keyword, size_t keywordSize, char* kana, size_t kanaSize,
               char* idkey, size_t idkeySize, char* no, size_t noSize, int* level) {
    if (id) *id = sqlite3_column_int64(s, 0);
    copyColumn(s, 1, idkey, idkeySize);
    copyColumn(s, 2, no, noSize);
    copyColumn(s, 3, headword, headwordSize);
    copyColumn(s, 4, meaning, meaningSize);
    copyColumn(s, 5, phonetic, phoneticSize);
    copyColumn(s, 6, keyword, keywordSize);
    copyColumn(s, 7, kana, kanaSize);
    if (level) *level = sqlite3_column_int(s, 8);
}

void clearEntry(char* headword, size_t headwordSize, char* meaning, size_t meaningSize, char* phonetic,
                size_t phoneticSize, char* keyword, size_t keywordSize, char* kana, size_t kanaSize, char* idkey,
                size_t idkeySize, char* no, size_t noSize, int* level) {
    clearText(headword, headwordSize);
    clearText(meaning, meaningSize);
    clearText(phonetic, phoneticSize);
    clearText(keyword, keywordSize);
    clearText(kana, kanaSize);
    clearText(idkey, idkeySize);
    clearText(no, noSize);
    if (level) *level = 0;
}

}  // namespace

int CSQLIO::readEntry(int64_t id, char* headword, size_t headwordSize, char* meaning, size_t meaningSize,
                      char* phonetic, size_t phoneticSize, char* keyword, size_t keywordSize, char* kana,
                      size_t kanaSize, char* idkey, size_t idkeySize, char* no, size_t noSize, int* level) {
    clearEntry(headword, headwordSize, meaning, meaningSize, phonetic, phoneticSize, keyword, keywordSize, kana,
               kanaSize, idkey, idkeySize, no, noSize, level);
    if (!ready()) return -1;
    sqlite3_stmt* s = m_statements[kReadEntry].get();
    sqlite3_reset(s);
    sqlite3_bind_int64(s, 1, id);
    int result = -1;
    if (sqlite3_step(s) == SQLITE_ROW) {
        copyEntry(s, nullptr, headword, headwordSize, meaning, meaningSize, phonetic, phoneticSize, keyword,
                  keywordSize, kana, kanaSize, idkey, idkeySize, no, noSize, level);
        result = 0;
    }
    sqlite3_reset(s);
    return result;
}

int CSQLIO::readResult(size_t index, int64_t* id, char* headword, size_t headwordSize, char* meaning,
                       size_t meaningSize, char* phonetic, size_t phoneticSize, char* keyword, size_t keywordSize,
                       char* kana, size_t kanaSize, char* idkey, size_t idkeySize, char* no, size_t noSize,
                       int* level) {
    if (index >= m_results.size()) return -1;
    return readHit(&m_results[index], id, headword, headwordSize, meaning, meaningSize, phonetic, phoneticSize, keyword,
                   keywordSize, kana, kanaSize, idkey, idkeySize, no, noSize, level);
}

int CSQLIO::readHit(const USERDICT_HIT* hit, int64_t* id, char* headword, size_t headwordSize, char* meaning,
                    size_t meaningSize, char* phonetic, size_t phoneticSize, char* keyword, size_t keywordSize,
                    char* kana, size_t kanaSize, char* idkey, size_t idkeySize, char* no, size_t noSize, int* level) {
    if (!hit) return -1;
    if (id) *id = static_cast<int64_t>(hit->id);
    return readEntry(static_cast<int64_t>(hit->id), headword, headwordSize, meaning, meaningSize, phonetic,
                     phoneticSize, keyword, keywordSize, kana, kanaSize, idkey, idkeySize, no, noSize, level);
}

int CSQLIO::rewind() {
    clearResults();
    if (!ready()) return -1;
    return sqlite3_reset(m_statements[kAllRows].get()) == SQLITE_OK ? 0 : -1;
}

int CSQLIO::nextRow(int64_t* id, char* headword, size_t headwordSize, char* meaning, size_t meaningSize, char* phonetic,
                    size_t phoneticSize, char* keyword, size_t keywordSize, char* kana, size_t kanaSize, char* idkey,
                    size_t idkeySize, char* no, size_t noSize, int* level) {
    clearEntry(headword, headwordSize, meaning, meaningSize, phonetic, phoneticSize, keyword, keywordSize, kana,
               kanaSize, idkey, idkeySize, no, noSize, level);
    if (id) *id = 0;
    if (!ready()) return -1;
    sqlite3_stmt* s = m_statements[kAllRows].get();
    if (sqlite3_step(s) != SQLITE_ROW) return -1;
    copyEntry(s, id, headword, headwordSize, meaning, meaningSize, phonetic, phoneticSize, keyword, keywordSize, kana,
              kanaSize, idkey, idkeySize, no, noSize, level);
    return 0;
}

int CSQLIO::addEntry(const char* headword, const char* meaning, const char* phonetic, const char* keyword,
                     const char* kana, const char* idkey, const char* no, int level, int indexFlags, int64_t* id) {
    if (id) *id = 0;
    if (!ready()) return -1;
    // The entry and its index rows go in together or not at all: outside a
    // transaction in one of their own; inside one (bulk loads) a failure
    // deletes what went in, which costs nothing while all goes well.
    const bool own = !m_inTransaction;
    if (own && executePlain("BEGIN;") != 0) return -1;
    sqlite3_stmt* s = fresh(kInsertEntry);
    const char* key = (m_info.indexmask & 1) ? "" : (keyword && *keyword ? keyword : headword);
    bindEntry(s, idkey, no, headword, meaning, phonetic, key, kana, level);
    const bool inserted = stepOnce(s) == 0;
    const int64_t newId = inserted ? sqlite3_last_insert_rowid(m_database) : 0;
    if (!inserted || fillAltIndex(newId, keyword, headword, kana, indexFlags) != 0) {
        if (own) {
            executePlain("ROLLBACK;");
        } else if (inserted) {
            execute("delete from book where id=?;", newId);
            deleteAltIndex(newId);
        }
        return -1;
    }
    if (own && executePlain("COMMIT;") != 0) {
        executePlain("ROLLBACK;");
        return -1;
    }
    if (id) *id = newId;
    return 0;
}

int CSQLIO::updateEntry(int64_t id, const char* headword, const char* meaning, const char* phonetic,
                        const char* keyword, const char* kana, const char* idkey, const char* no, int level,
                        int indexFlags) {
    if (!ready()) return -1;
    if (executePlain("SAVEPOINT updateentry;") != 0) return -1;
    sqlite3_stmt* s = fresh(kUpdateEntry);
    bindEntry(s, idkey, no, headword, meaning, phonetic, keyword && *keyword ? keyword : headword, kana, level);
    sqlite3_bind_int64(s, 9, id);
    // An id naming no entry changes nothing and gets no index rows.
    const bool updated = stepOnce(s) == 0 && sqlite3_changes(m_database) > 0;
    if (!updated || deleteAltIndex(id) != 0 || fillAltIndex(id, keyword, headword, kana, indexFlags) != 0) {
        executePlain("ROLLBACK TO updateentry;");
        executePlain("RELEASE updateentry;");
        return -1;
    }
    return executePlain("RELEASE updateentry;");
}

int CSQLIO::fillAltIndex(int64_t id, const char* keyword, const char* headword, const char* kana, int indexFlags) {
    const char* key = keyword && *keyword ? keyword : orEmpty(headword);
    if (addKeyWords(id, std::string(key, utf8PrefixLength(key, std::strlen(key), kMaxHeadword)), indexFlags) != 0)
        return -1;
    if (kana && *kana &&
        addKeyWords(id, std::string(kana, utf8PrefixLength(kana, std::strlen(kana), kMaxHeadword)), indexFlags) != 0)
        return -1;
    return 0;
}

namespace {

// Words a single-word index leaves out.
bool isSkippedWord(const std::string& word) {
    return strcasecmp(word.c_str(), "a") == 0 || strcasecmp(word.c_str(), "the") == 0;
}

}  // namespace

int CSQLIO::addKeyWords(int64_t id, const std::string& key, int indexFlags) {
    if (key.empty()) return 0;
    if ((indexFlags & kWholeKey) && insertAltIndex(id, kWholeKey, "", key) != 0) return -1;
    if ((indexFlags & kReversed) && insertAltIndex(id, kReversed, "", reverseCharacters(key)) != 0) return -1;
    if (indexFlags & kWord) {
        size_t start = 0;
        while (start <= key.size()) {
            size_t end = key.find_first_of(kWordBreaks, start);
            if (end == std::string::npos) end = key.size();
            const std::string word = key.substr(start, end - start);
            if (!word.empty() && !isSkippedWord(word) && insertAltIndex(id, kWord, "", word) != 0) return -1;
            start = end + 1;
        }
    }
    return 0;
}

int CSQLIO::insertIdRow(int statement, int64_t id, int attribute, const char* third, const std::string& fourth) {
    sqlite3_stmt* s = fresh(statement);
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int(s, 2, attribute);
    bindText(s, 3, third);
    bindText(s, 4, fourth);
    return stepOnce(s);
}

int CSQLIO::insertAltIndex(int64_t id, int attribute, const char* tag, const std::string& word) {
    return insertIdRow(kInsertAltIndex, id, attribute, tag, word);
}

int CSQLIO::addAltIndexWords(int64_t id, int attribute, const char* tag, const char* word) {
    if (!word || !*word || !ready()) return -1;
    const std::string text(word);
    if ((attribute == kWord || attribute == kOtherWord) && isSkippedWord(text)) return -1;
    return insertAltIndex(id, attribute, tag, (attribute & kReversed) ? reverseCharacters(text) : text);
}

int CSQLIO::deleteAltIndex(int64_t id) {
    return execute("delete from altindex where id=?;", id);
}
int CSQLIO::deleteAltInfo(int64_t id) {
    return execute("delete from altinfo where id=?;", id);
}
int CSQLIO::deleteLinksFrom(int64_t id) {
    return execute("delete from link where id=?;", id);
}
int CSQLIO::deleteLinksTo(int64_t id) {
    return execute("delete from link where relid=?;", id);
}

int CSQLIO::deleteEntry(int64_t id) {
    if (execute("delete from book where id=?;", id) != 0) return -1;
    deleteAltIndex(id);
    deleteAltInfo(id);
    deleteLinksFrom(id);
    deleteLinksTo(id);
    return 0;
}

int CSQLIO::addAltInfo(int64_t id, int attribute, const char* no, const char* body) {
    if (!ready()) return -1;
    return insertIdRow(kInsertAltInfo, id, attribute, no, orEmpty(body));
}

int CSQLIO::addLink(int64_t id, int attribute, int64_t relid, int seq, const char* comment) {
    if (!ready()) return -1;
    sqlite3_stmt* s = fresh(kInsertLink);
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int(s, 2, attribute);
    sqlite3_bind_int64(s, 3, relid);
    sqlite3_bind_int(s, 4, seq);
    bindText(s, 5, comment);
    return stepOnce(s);
}

namespace {

// Starts a walk of s over key (above 0) or continues it; false when there is
// no further row (the walk is then reset and stays ended).
bool stepWalk(sqlite3_stmt* s, int64_t key) {
    if (key > 0) {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        sqlite3_bind_int64(s, 1, key);
    }
    if (sqlite3_step(s) == SQLITE_ROW) return true;
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return false;
}

}  // namespace

int CSQLIO::nextAltInfo(int64_t id, int* attribute, char* no, size_t noSize, char* body, size_t bodySize) {
    clearText(no, noSize);
    clearText(body, bodySize);
    if (!ready()) return -1;
    sqlite3_stmt* s = m_statements[kAltInfoById].get();
    if (!stepWalk(s, id)) return -1;
    if (attribute) *attribute = sqlite3_column_int(s, 0);
    copyColumn(s, 1, no, noSize);
    copyColumn(s, 2, body, bodySize);
    return 0;
}

int CSQLIO::nextLink(int statement, int64_t key, int64_t* otherId, int otherColumn, int* attribute, int* seq,
                     char* comment, size_t commentSize) {
    clearText(comment, commentSize);
    if (!ready()) return -1;
    sqlite3_stmt* s = m_statements[statement].get();
    if (!stepWalk(s, key)) return -1;
    if (otherId) *otherId = sqlite3_column_int64(s, otherColumn);
    if (attribute) *attribute = sqlite3_column_int(s, 1 - otherColumn);
    if (seq) *seq = sqlite3_column_int(s, 2);
    copyColumn(s, 3, comment, commentSize);
    return 0;
}

int CSQLIO::nextLinkById(int64_t id, int* attribute, int64_t* relid, int* seq, char* comment, size_t commentSize) {
    return nextLink(kLinksById, id, relid, 1, attribute, seq, comment, commentSize);
}

int CSQLIO::nextLinkByRelid(int64_t relid, int64_t* id, int* attribute, int* seq, char* comment, size_t commentSize) {
    return nextLink(kLinksByRelid, relid, id, 0, attribute, seq, comment, commentSize);
}

size_t CSQLIO::formatInfo(char* out, size_t size) const {
    if (!out || size == 0) return 0;
    out[0] = '\0';
    size_t n = 0;
    static const char* const kContentTypes[] = {"Plain-Text", "HTML", "XML", "dsl", "dsl index"};
    const struct {
        const char* label;
        const char* text;
        size_t size;
    } fields[] = {
        {"booktitle\t= ", m_info.booktitle, sizeof m_info.booktitle},
        {"booksubtitle\t= ", m_info.booksubtitle, sizeof m_info.booksubtitle},
        {"edition\t\t= ", m_info.edition, sizeof m_info.edition},
        {"seriestitle\t= ", m_info.seriestitle, sizeof m_info.seriestitle},
        {"bookauthor\t= ", m_info.bookauthor, sizeof m_info.bookauthor},
        {"pubdate\t\t= ", m_info.pubdate, sizeof m_info.pubdate},
        {"publisher\t= ", m_info.publisher, sizeof m_info.publisher},
        {"filename\t= ", m_info.filename, sizeof m_info.filename},
    };
    bool ok =
        appendLine(out, size, &n, "[User Dictionary]\r\n") && appendLine(out, size, &n, "engine\t\t= SQLite3\r\n");
    // A field the caller filled to its end without a terminator is read no
    // further than the field.
    for (const auto& f : fields)
        ok = ok && appendLine(out, size, &n, "%s%.*s\r\n", f.label, static_cast<int>(strnlen(f.text, f.size)), f.text);
    ok = ok && appendLine(out, size, &n, "compression\t= %" PRId64 "\r\n", m_info.compression) &&
         appendLine(out, size, &n, "crypt\t\t= %" PRId64 "\r\n", m_info.crypt);
    if (ok && m_info.contenttype >= 0 && m_info.contenttype <= 4)
        appendLine(out, size, &n, "contenttype\t= %s\r\n", kContentTypes[m_info.contenttype]);
    return n;
}
