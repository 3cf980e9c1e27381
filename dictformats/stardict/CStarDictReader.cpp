#include "dictformats/stardict/CStarDictReader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "foundation/CBoundedText.h"
#include "foundation/FileHandle.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

std::atomic<uint32_t> g_nextInstance{0};

// Bytes of an entry besides its word: the NUL, article offset and size.
constexpr size_t kEntryTail = 9;
// Longest ".ifo" line looked at; the rest of a longer line is skipped.
constexpr size_t kIfoLineMax = 4096;

// ASCII-only case folding over unsigned bytes: the order of the ".idx".
inline unsigned fold(char c) {
    unsigned u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? u + 32 : u;
}

int compareWordExact(const char* key, const char* word) {
    for (;; ++key, ++word) {
        unsigned a = fold(*key), b = fold(*word);
        if (a != b) return static_cast<int>(a) - static_cast<int>(b);
        if (a == 0) return 0;
    }
}

int compareWordPrefix(const char* key, const char* word) {
    for (;; ++key, ++word) {
        unsigned a = fold(*key);
        if (a == 0) return 0;
        unsigned b = fold(*word);
        if (a != b) return static_cast<int>(a) - static_cast<int>(b);
    }
}

// Copies at most max bytes of value (n bytes) into out, never ending inside
// a UTF-8 sequence.
void copyValue(char* out, size_t max, const char* value, size_t n) {
    n = utf8PrefixLength(value, n, max);
    std::memcpy(out, value, n);
    out[n] = '\0';
}

// A decimal u32; 0 for anything else.
uint32_t parseCount(const std::string& value) {
    if (value.empty() || value.size() > 10) return 0;
    uint64_t v = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    return v > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(v);
}

// Reads one line without its line end; false at the end of the file. A line
// longer than kIfoLineMax keeps only its start.
bool readLine(FILE* f, std::string* line) {
    line->clear();
    int c;
    bool any = false;
    while ((c = std::getc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line->size() < kIfoLineMax) line->push_back(static_cast<char>(c));
    }
    while (!line->empty() && line->back() == '\r') line->pop_back();
    return any;
}

// A descriptor closed on every way out.
struct Descriptor {
    explicit Descriptor(int d) : fd(d) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

bool olderThan(const struct stat& a, const struct stat& b) {
    if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) return a.st_mtim.tv_sec < b.st_mtim.tv_sec;
    return a.st_mtim.tv_nsec < b.st_mtim.tv_nsec;
}

bool endsWithNoCase(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (fold(s[s.size() - n + i]) != fold(suffix[i])) return false;
    return true;
}

// A name for an HTML attribute value.
std::string attribute(const char* p, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        switch (p[i]) {
            case '"':
                out += "&quot;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += p[i];
        }
    }
    return out;
}

// An image, or a link to a sound (a note sign), for a resource name.
std::string mediaTag(bool image, const char* name, size_t n) {
    if (image) return "<img src=\"" + attribute(name, n) + "\"/>";
    return "<a href=\"" + attribute(name, n) + "\"/>&#x266A;</a>";
}

std::string imageOrSound(const char* name, size_t n) {
    std::string s(name, n);
    return mediaTag(endsWithNoCase(s, ".jpg") || endsWithNoCase(s, ".jpeg") || endsWithNoCase(s, ".png") ||
                        endsWithNoCase(s, ".bmp"),
                    name, n);
}

bool startsWith(const char* p, const char* end, const char* literal) {
    size_t n = std::strlen(literal);
    return static_cast<size_t>(end - p) >= n && std::memcmp(p, literal, n) == 0;
}

// Text with LF as "<br/>" and the HTML specials as entities.
// The renderers below stop at the first piece that does not fit: nothing is
// appended after it.
bool put(CBoundedText& out, const char* s, size_t n) {
    return !out.stopped() && out.append(s, n);
}
bool put(CBoundedText& out, const char* s) {
    return put(out, s, std::strlen(s));
}

void renderPlain(CBoundedText& out, const char* p, const char* end) {
    while (p < end && !out.stopped()) {
        const char* run = p;
        while (p < end && *p != '\n' && *p != '&' && *p != '<' && *p != '>') ++p;
        if (p > run) put(out, run, static_cast<size_t>(p - run));
        if (p == end) break;
        put(out, *p == '\n' ? "<br/>" : *p == '&' ? "&amp;" : *p == '<' ? "&lt;" : "&gt;");
        ++p;
    }
}

void renderReferences(CBoundedText& out, const char* p, const char* end) {
    while (p < end && !out.stopped()) {
        if (startsWith(p, end, "<rref>")) {
            const char* name = p + 6;
            const char* stop = name;
            while (stop < end && *stop != '<') ++stop;
            put(out, imageOrSound(name, static_cast<size_t>(stop - name)).c_str());
            p = stop;
            continue;
        }
        if (startsWith(p, end, "</rref>")) {
            p += 7;
            continue;
        }
        const char* run = p++;
        while (p < end && *p != '<') ++p;
        put(out, run, static_cast<size_t>(p - run));
    }
}

// open collects the closing tags of the elements left open, innermost last.
void renderWordNet(CBoundedText& out, const char* p, const char* end, std::vector<const char*>* open) {
    static const struct {
        const char* tag;
        const char* html;
        bool group;
    } kTags[] = {
        {"<type>", "<i>", false},        {"</type>", "</i>", false},     {"<gloss>", "<div>", false},
        {"</gloss>", "</div>\n", false}, {"<wordgroup>", "<div>", true}, {"</wordgroup>", "</div>\n", true},
        {"</word>", "</span>", false},
    };
    static const struct {
        const char* html;
        const char* closer;
    } kOpeners[] = {{"<i>", "</i>"}, {"<div>", "</div>\n"}};
    int words = 0;
    while (p < end && !out.stopped()) {
        bool done = false;
        if (startsWith(p, end, "<word>")) {
            if (put(out, words++ > 0 ? ", <span style=\"color: #00b\">" : " <span style=\"color: #00b\">"))
                open->push_back("</span>");
            p += 6;
            continue;
        }
        for (const auto& t : kTags) {
            if (!startsWith(p, end, t.tag)) continue;
            if (put(out, t.html)) {
                bool opener = false;
                for (const auto& o : kOpeners)
                    if (std::strcmp(o.html, t.html) == 0) {
                        open->push_back(o.closer);
                        opener = true;
                    }
                if (!opener && !open->empty()) open->pop_back();
            }
            if (t.group) words = 0;
            p += std::strlen(t.tag);
            done = true;
            break;
        }
        if (done) continue;
        const char* run = p++;
        while (p < end && *p != '<') ++p;
        put(out, run, static_cast<size_t>(p - run));
    }
}

void renderResources(CBoundedText& out, const char* p, const char* end) {
    while (p < end && !out.stopped()) {
        const bool image = startsWith(p, end, "img:");
        if (!image && !startsWith(p, end, "snd:")) {
            put(out, p, static_cast<size_t>(end - p));
            break;
        }
        const char* name = p + 4;
        const char* stop = name;
        while (stop < end && *stop != '\n') ++stop;
        put(out, mediaTag(image, name, static_cast<size_t>(stop - name)).c_str());
        p = stop < end ? stop + 1 : stop;
    }
}

}  // namespace

CStarDictReader::CStarDictReader()
    : m_instance(0),
      m_entryCount(0),
      m_indexBase(nullptr),
      m_mappedSize(0),
      m_current(0),
      m_indexDescriptor(-1),
      m_mode(kModeNone),
      m_open(0),
      m_resultCount(0),
      m_resultCapacity(0) {
    std::memset(&m_header, 0, sizeof m_header);
    m_ifoPath[0] = m_idxPath[0] = m_articlePath[0] = m_cachePath[0] = '\0';
}

CStarDictReader::~CStarDictReader() {
    close();
}

CStarDictReader* CStarDictReader::open(const char* ifoPath) {
    if (!openIfo(ifoPath)) return nullptr;
    if (loadIdx(m_idxPath) != 0) return nullptr;
    openDict(m_articlePath);
    clearResults();
    return this;
}

CStarDictReader* CStarDictReader::openIfo(const char* ifoPath) {
    close();
    std::memset(&m_header, 0, sizeof m_header);
    m_instance = g_nextInstance.fetch_add(1);
    if (!ifoPath || std::strlen(ifoPath) >= kPathSize) return nullptr;
    std::strcpy(m_ifoPath, ifoPath);
    if (parseIfo(ifoPath) != 0) return nullptr;
    if (m_header.idxoffsetbits == 0) m_header.idxoffsetbits = 32;
    if (m_header.idxoffsetbits != 32) return nullptr;  // only 32-bit article offsets are read

    char dir[kPathSize], stem[kPathSize];
    if (pathDirName(ifoPath, dir) < 0 || pathStem(ifoPath, stem) < 0) return nullptr;
    // A bare file name lies in the current directory, not in the root.
    std::string base = (dir[0] || ifoPath[0] == '/' || ifoPath[0] == '\\') ? std::string(dir) + "/" + stem : stem;
    const std::string idx = base + ".idx", cache = idx + ".lfi";
    std::string dict = base + ".dict";
    struct stat st;
    if (stat(dict.c_str(), &st) != 0 || st.st_size == 0) dict += ".dz";
    if (cache.size() >= kPathSize || dict.size() >= kPathSize) return nullptr;
    std::strcpy(m_idxPath, idx.c_str());
    std::strcpy(m_cachePath, cache.c_str());
    std::strcpy(m_articlePath, dict.c_str());
    m_open = 1;
    return this;
}

int CStarDictReader::parseIfo(const char* ifoPath) {
    struct stat st;
    if (!ifoPath || stat(ifoPath, &st) != 0) return -1;
    FilePtr f = openFile(ifoPath, "rb");
    if (!f) return -1;
    std::string line;
    bool first = true;
    while (readLine(f.get(), &line)) {
        if (first) {  // "StarDict's dict ifo file"
            first = false;
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq + 1 >= line.size()) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "bookname") {
            copyValue(m_header.bookname, sizeof m_header.bookname - 1, value.data(), value.size());
        } else if (key == "sametypesequence") {
            copyValue(m_header.sametypesequence, sizeof m_header.sametypesequence - 1, value.data(), value.size());
        } else if (key == "wordcount") {
            m_header.wordcount = parseCount(value);
        } else if (key == "synwordcount") {
            m_header.synwordcount = parseCount(value);
        } else if (key == "idxfilesize") {
            m_header.idxfilesize = parseCount(value);
        } else if (key == "idxoffsetbits") {
            m_header.idxoffsetbits = parseCount(value);
        }
    }
    return m_header.wordcount && m_header.idxfilesize ? 0 : -1;
}

int CStarDictReader::loadIdx(const char* idxPath) {
    // An index loaded before is let go first: its mapping and descriptor
    // would otherwise stay until the process ends.
    releaseIndex();
    if (!m_header.wordcount || !m_header.idxfilesize || !idxPath) return -1;
    const int fd = ::open(idxPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    m_indexDescriptor = fd;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return -1;
    // Never map past the real end of the file, whatever the ".ifo" says.
    const uint64_t real = static_cast<uint64_t>(st.st_size);
    m_mappedSize = static_cast<size_t>(real < m_header.idxfilesize ? real : m_header.idxfilesize);
    void* map = mmap(nullptr, m_mappedSize, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        m_mappedSize = 0;
        return -1;
    }
    m_indexBase = static_cast<const uint8_t*>(map);

    // No more entries than the mapped bytes can hold.
    uint32_t slots = m_header.wordcount;
    if (slots > m_mappedSize / kEntryTail) slots = static_cast<uint32_t>(m_mappedSize / kEntryTail);
    if (slots == 0) return -1;
    m_entries.reset(new (std::nothrow) const uint8_t*[slots]);
    if (!m_entries) return -1;

    uint32_t count = slots;
    if (readCache(&count) == 0) {
        m_entryCount = count;
        return 0;
    }
    count = slots;
    walkIndex(&count);
    m_entryCount = count;
    if (count == 0) return -1;
    if (count == slots) writeCache(m_entries.get(), count);
    return 0;
}

// The entries from the cache when it is sound: *count offsets, each at a
// plausible entry of the mapping. 0, or -1 (the index is walked then).
int CStarDictReader::readCache(uint32_t* count) {
    Descriptor cache(::open(m_cachePath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (cache.fd < 0) return -1;
    struct stat cst, ist;
    if (fstat(cache.fd, &cst) != 0 || !S_ISREG(cst.st_mode) || fstat(m_indexDescriptor, &ist) != 0) return -1;
    const uint64_t want = static_cast<uint64_t>(*count) * 4;
    if (static_cast<uint64_t>(cst.st_size) != want || olderThan(cst, ist)) return -1;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[want]);
    if (!bytes || !readFullyAt(cache.fd, bytes.get(), want, 0)) return -1;

    // Each offset must be where the entry before it ends: its two numbers
    // follow the NUL that ends a word of at least one byte, or one that is
    // empty. Checked at the end of each entry only, so the words are not
    // scanned; the word of every entry then ends inside the entry.
    uint32_t previous = 0;
    for (uint32_t i = 0; i < *count; ++i) {
        const uint32_t offset = byteorder::le32(bytes.get() + 4 * i);
        if (offset >= m_mappedSize) return -1;
        if (i == 0 ? offset != 0 : (offset < previous + kEntryTail || !entryEndsAt(previous, offset))) return -1;
        m_entries[i] = m_indexBase + offset;
        previous = offset;
    }
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(m_indexBase + previous, 0, m_mappedSize - previous));
    if (!nul || static_cast<size_t>(nul - m_indexBase) + kEntryTail > m_mappedSize) return -1;
    return 0;
}

// Whether the entry at offset can end where the next one starts.
bool CStarDictReader::entryEndsAt(uint32_t offset, uint32_t next) const {
    const size_t nul = next - kEntryTail;
    return m_indexBase[nul] == 0 && (nul == offset || m_indexBase[nul - 1] != 0);
}

// Walks the mapping from its start for at most *count entries that lie
// wholly inside it; *count becomes the number found.
int CStarDictReader::walkIndex(uint32_t* count) {
    uint32_t n = 0;
    size_t pos = 0;
    while (n < *count && pos < m_mappedSize) {
        const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(m_indexBase + pos, 0, m_mappedSize - pos));
        if (!nul) break;
        const size_t next = static_cast<size_t>(nul - m_indexBase) + kEntryTail;
        if (next > m_mappedSize) break;
        m_entries[n++] = m_indexBase + pos;
        pos = next;
    }
    *count = n;
    return 0;
}

// Writes the offsets to a temporary file beside the cache and renames it
// over the cache, so a reader never sees half a cache.
int CStarDictReader::writeCache(const uint8_t* const* table, uint32_t count) const {
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * 4);
    for (uint32_t i = 0; i < count; ++i) {
        byteorder::putLe32(&bytes[static_cast<size_t>(i) * 4], static_cast<uint32_t>(table[i] - m_indexBase));
    }
    std::string tmp = std::string(m_cachePath) + ".XXXXXX";
    Descriptor out(mkstemp(&tmp[0]));
    if (out.fd < 0) return -1;
    bool ok = fchmod(out.fd, 0644) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = ::write(out.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ok = ::close(out.fd) == 0 && ok;
    out.fd = -1;
    if (!ok || std::rename(tmp.c_str(), m_cachePath) != 0) {
        unlink(tmp.c_str());
        return -1;
    }
    return 0;
}

int CStarDictReader::openDict(const char* articlePath) {
    struct stat st;
    if (!articlePath || stat(articlePath, &st) != 0) return -1;
    readDictzipHeader(articlePath);
    if (m_article.descriptor >= 0) ::close(m_article.descriptor);
    m_article.descriptor = ::open(articlePath, O_RDONLY | O_CLOEXEC);
    return m_article.descriptor >= 0 ? 0 : -1;
}

void CStarDictReader::releaseIndex() {
    m_entries.reset();
    m_entryCount = 0;
    if (m_indexBase) munmap(const_cast<uint8_t*>(m_indexBase), m_mappedSize);
    m_indexBase = nullptr;
    m_mappedSize = 0;
    if (m_indexDescriptor >= 0) ::close(m_indexDescriptor);
    m_indexDescriptor = -1;
    m_current = 0;
}

void CStarDictReader::close() {
    releaseIndex();
    dictzipClose(&m_article);
    m_mode = kModeNone;
    m_open = 0;
}

void CStarDictReader::entryData(uint32_t index, const char** word, uint32_t* articleOffset,
                                uint32_t* articleSize) const {
    const char* w = reinterpret_cast<const char*>(m_entries[index]);
    const uint8_t* tail = m_entries[index] + std::strlen(w) + 1;
    if (word) *word = w;
    if (articleOffset) *articleOffset = byteorder::be32(tail);
    if (articleSize) *articleSize = byteorder::be32(tail + 4);
}

int CStarDictReader::compareAt(uint32_t index, const char* key, int exact) const {
    const char* w = reinterpret_cast<const char*>(m_entries[index]);
    return exact ? compareWordExact(key, w) : compareWordPrefix(key, w);
}

int CStarDictReader::findFirst(const char* key, const char** word, uint32_t* articleOffset, uint32_t* articleSize,
                               int exact) {
    if (!key || !m_entries || m_entryCount == 0) return -1;
    // The first entry not before the key; the matches start there.
    uint32_t lo = 0, hi = m_entryCount;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        if (compareAt(mid, key, exact) > 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo >= m_entryCount || compareAt(lo, key, exact) != 0) return -1;
    m_current = lo;
    entryData(lo, word, articleOffset, articleSize);
    return static_cast<int>(lo);
}

int CStarDictReader::findNext(const char* key, const char** word, uint32_t* articleOffset, uint32_t* articleSize,
                              int exact) {
    if (!key || !m_entries || m_current + 1 >= m_entryCount) return -1;
    if (compareAt(m_current + 1, key, exact) != 0) return -1;
    ++m_current;
    entryData(m_current, word, articleOffset, articleSize);
    return static_cast<int>(m_current);
}

int CStarDictReader::search(const char* key, int exact, int maximum, int* more) {
    clearResults();
    if (more) *more = 0;
    const char* word;
    uint32_t offset, size;
    int hits = 0;
    for (int i = findFirst(key, &word, &offset, &size, exact); i >= 0;
         i = findNext(key, &word, &offset, &size, exact)) {
        if (maximum > 0 && hits >= maximum) {
            if (more) *more = 1;
            break;
        }
        if (addResult(static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(word) - m_indexBase), offset, size) != 0)
            break;
        ++hits;
    }
    return hits;
}

int CStarDictReader::searchText(const char* text, int maximum, int* more, const std::atomic<uint16_t>* cancel,
                                STARDICT_PROGRESS progress, void* arg) {
    clearResults();
    if (more) *more = 0;
    const size_t length = text ? std::strlen(text) : 0;
    if (length == 0) return 0;
    int hits = 0;
    for (uint32_t i = 0; i < m_entryCount; ++i) {
        const char* word;
        const char* article;
        uint32_t offset, size;
        if (entryAt(i, &word, &article, &offset, &size) == 0 && article && size >= length &&
            memmem(article, size, text, length)) {
            if (addResult(static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(word) - m_indexBase), offset, size) ==
                0)
                ++hits;
        }
        const bool full = maximum > 0 && hits >= maximum;
        if (progress) progress(arg, hits, static_cast<int>(m_entryCount), static_cast<int>(i));
        if (full || (cancel && cancel->load() != 0)) {
            if (more) *more = 1;
            break;
        }
    }
    return hits;
}

void CStarDictReader::clearResults() {
    m_results.reset();
    m_resultCount = m_resultCapacity = 0;
}

int CStarDictReader::addResult(uint32_t entryOffset, uint32_t articleOffset, uint32_t articleSize) {
    if (m_resultCount == m_resultCapacity) {
        const uint64_t capacity = m_resultCapacity ? m_resultCapacity * 2 : 1024;
        std::unique_ptr<STARDICT_HIT[]> grown(new (std::nothrow) STARDICT_HIT[capacity]);
        if (!grown) return -1;
        if (m_resultCount) std::memcpy(grown.get(), m_results.get(), m_resultCount * sizeof(STARDICT_HIT));
        m_results = std::move(grown);
        m_resultCapacity = capacity;
    }
    m_results[m_resultCount++] = STARDICT_HIT{m_instance, entryOffset, articleOffset, articleSize};
    return 0;
}

int CStarDictReader::getResults(const STARDICT_HIT** list, uint64_t* count) const {
    if (list) *list = m_results.get();
    if (count) *count = m_results ? m_resultCount : 0;
    return m_results ? 0 : -1;
}

const char* CStarDictReader::idxEntryAt(uint32_t offset) const {
    if (!m_indexBase || offset >= m_mappedSize) return nullptr;
    // The word must end inside the mapping.
    if (!std::memchr(m_indexBase + offset, 0, m_mappedSize - offset)) return nullptr;
    return reinterpret_cast<const char*>(m_indexBase + offset);
}

int CStarDictReader::entryAt(uint32_t index, const char** word, const char** article, uint32_t* articleOffset,
                             uint32_t* articleSize) {
    if (!m_entries || index >= m_entryCount) return -1;
    uint32_t offset, size;
    entryData(index, word, &offset, &size);
    if (articleOffset) *articleOffset = offset;
    if (articleSize) *articleSize = size;
    const char* a = readArticle(offset, size);
    if (article) *article = a;
    // An article past the end of its file (a cut download) or one that does
    // not inflate is a failure, never an empty article.
    return a ? 0 : -1;
}

int CStarDictReader::readHit(const STARDICT_HIT* hit, const char** word, const char** article) {
    if (!hit) return -1;
    const char* w = idxEntryAt(hit->entryOffset);
    if (word) *word = w;
    const char* a = readArticle(hit->articleOffset, hit->articleSize);
    if (article) *article = a;
    return w && a ? 0 : -1;
}

int CStarDictReader::readDictzipHeader(const char* path) {
    m_mode = kModeNone;
    FilePtr f = openFile(path, "rb");
    if (!f) return -1;
    struct stat st;
    uint8_t magic[2];
    if (fstat(fileno(f.get()), &st) != 0) return -1;
    if (std::fread(magic, 1, 2, f.get()) != 2 || magic[0] != 0x1F || magic[1] != 0x8B) {
        m_mode = kModePlain;
        m_article.isize = m_article.fileLength = static_cast<uint64_t>(st.st_size);
        m_article.mtime = static_cast<uint64_t>(st.st_mtime);
        return 0;
    }
    m_mode = kModeGzip;
    f.reset();
    if (dictzipReadHeader(path, &m_article) != 0) return -1;
    m_mode = kModeDictzip;
    return 0;
}

const char* CStarDictReader::readArticle(uint64_t offset, uint64_t size) {
    if (m_article.descriptor < 0) return nullptr;
    if (m_mode == kModePlain) {
        if (offset > m_article.fileLength || size > m_article.fileLength - offset) return nullptr;
        uint8_t* buffer = dictzipReserve(&m_article, size);
        if (!buffer || !readFullyAt(m_article.descriptor, buffer, static_cast<size_t>(size), offset)) return nullptr;
        buffer[size] = 0;
        return reinterpret_cast<const char*>(buffer);
    }
    if (m_mode != kModeDictzip || dictzipCheckRange(&m_article, offset, size) != 0) return nullptr;
    if (!dictzipReserve(&m_article, size) || inflateChunks(offset, size) != 0) return nullptr;
    return reinterpret_cast<const char*>(m_article.readBuffer.get());
}

int CStarDictReader::inflateChunks(uint64_t offset, uint64_t size) {
    return dictzipInflateRange(&m_article, offset, size);
}

int64_t CStarDictReader::nextField(const uint8_t* article, uint32_t size, uint32_t pos, int* seq,
                                   STARDICT_FIELD* field) const {
    if (!article || pos >= size) return -1;
    const size_t sequence = std::strlen(m_header.sametypesequence);
    bool last = false;
    char type;
    if (sequence) {
        int s = seq ? *seq : 0;
        if (s < 0 || static_cast<size_t>(s) >= sequence) s = 0;
        type = m_header.sametypesequence[s];
        // The last field of a sequence has no NUL and no size: it runs to
        // the end of the article.
        last = static_cast<size_t>(s) + 1 == sequence;
        if (seq) *seq = last ? 0 : s + 1;
    } else {
        type = static_cast<char>(article[pos++]);
    }
    const uint8_t* p = article + pos;
    const uint32_t left = size - pos;
    field->type = type;
    field->data = p;
    field->size = 0;
    if (type >= 'a' && type <= 'y') {
        const uint8_t* nul = last ? nullptr : static_cast<const uint8_t*>(std::memchr(p, 0, left));
        field->size = nul ? static_cast<uint32_t>(nul - p) : left;
        return static_cast<int64_t>(pos) + field->size + (nul ? 1 : 0);
    }
    if (type >= 'A' && type <= 'Y') {
        if (last) {
            field->size = left;
            return size;
        }
        if (left < 4 || byteorder::be32(p) > left - 4) return -1;
        field->data = p + 4;
        field->size = byteorder::be32(p);
        return static_cast<int64_t>(pos) + 4 + field->size;
    }
    // An unknown type: its extent is unknown, one byte is passed over.
    return sequence ? static_cast<int64_t>(pos) + 1 : static_cast<int64_t>(pos);
}

bool CStarDictReader::renderField(const STARDICT_FIELD& field, char* out, size_t outSize, size_t* outLength) {
    const size_t length = outLength ? *outLength : 0;
    if (!out || length >= outSize) return false;
    const char* p = reinterpret_cast<const char*>(field.data);
    const char* end = p + field.size;
    if (field.type >= 'a' && field.type <= 'y') {
        // A text field ends at its first NUL.
        const char* nul = static_cast<const char*>(std::memchr(p, 0, field.size));
        if (nul) end = nul;
    }
    // The field's own opening text, and the room kept back for closing
    // whatever is open when the text is cut.
    const char* opening = "";
    size_t reserve = 0;
    switch (field.type) {
        case 'm':
        case 'x':
            opening = "<p>";
            reserve = 4;  // "</p>"
            break;
        case 'r':
            if (end > p) {
                opening = "<p>";
                reserve = 4;
            }
            break;
        case 'n':
            reserve = 40;  // "</span></div>\n</i>" and "<p/>"
            break;
        default:
            break;
    }
    if (outSize - length <= reserve) return false;
    CBoundedText body(out, outSize - reserve, length);
    std::vector<const char*> open;
    const bool opened = body.append(opening);
    switch (field.type) {
        case 'm':
            renderPlain(body, p, end);
            if (opened) open.push_back("</p>");
            break;
        case 't':
            if (end > p) {
                // One piece: the phonetic whole or not at all.
                std::string piece = "/" + std::string(p, static_cast<size_t>(end - p)) + "/";
                body.append(piece.data(), piece.size());
            }
            break;
        case 'x':
            renderReferences(body, p, end);
            if (opened) open.push_back("</p>");
            break;
        case 'n':
            renderWordNet(body, p, end, &open);
            open.insert(open.begin(), "<p/>");
            break;
        case 'r':
            if (end > p) {
                renderResources(body, p, end);
                if (opened) open.push_back("</p>");
            }
            break;
        default:
            if (field.type >= 'a' && field.type <= 'y') body.append(p, static_cast<size_t>(end - p));
            break;
    }
    const bool whole = !body.stopped();
    CBoundedText text(out, outSize, body.length());
    for (auto it = open.rbegin(); it != open.rend(); ++it) text.append(*it);
    if (outLength) *outLength = text.length();
    return whole && !text.stopped();
}

bool CStarDictReader::renderArticle(const uint8_t* article, uint32_t size, char* out, size_t outSize) const {
    if (!out || outSize == 0) return false;
    out[0] = '\0';
    size_t length = 0;
    int seq = 0;
    STARDICT_FIELD field;
    for (int64_t pos = 0; pos >= 0 && pos < static_cast<int64_t>(size);) {
        pos = nextField(article, size, static_cast<uint32_t>(pos), &seq, &field);
        if (pos < 0) break;
        if (!renderField(field, out, outSize, &length)) return false;
    }
    return true;
}

void CStarDictReader::formatInfo(char* out, size_t outSize) const {
    CBoundedText text(out, outSize);
    FilePtr f = openFile(m_ifoPath, "rb");
    if (!f) return;
    std::string line;
    while (readLine(f.get(), &line)) {
        line += "\r\n";
        if (!text.append(line.data(), line.size())) break;
    }
}
