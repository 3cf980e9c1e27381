#include "foundation/pdic/CPDicReader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "foundation/FileHandle.h"
#include "foundation/codes/jclib.h"
#include "foundation/pdic/CBocu1.h"
#include "foundation/pdic/CPDicData.h"
#include "foundation/pdic/CPDicIndex.h"

namespace {

// Largest index area read into memory.
const uint64_t kMaxIndexBytes = 256u << 20;

size_t wideLen(const uint32_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

// Simple case folding of the letters that normalised keys hold in lower case.
uint32_t foldCase(uint32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE && c != 0xD7) return c + 32;                  // Latin-1
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
    if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;  // full-width Latin
    return c;
}

void appendUtf8(uint32_t c, std::string* out) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string toUtf8(const std::vector<uint32_t>& s) {
    std::string out;
    for (uint32_t c : s) {
        if (!c) break;
        appendUtf8(c, &out);
    }
    return out;
}

// Decodes n stored bytes of Shift_JIS text (stopping at a NUL) like the
// BOCU-1 decoder: at most cap - 1 characters and a terminator.
size_t decodeSjis(const uint8_t* s, size_t n, uint32_t* out, size_t cap, bool* cut, bool* bad) {
    *cut = false;
    *bad = false;
    const size_t room = cap > 0 ? cap - 1 : 0;
    size_t w = 0;
    size_t i = 0;
    while (i < n && s[i]) {
        const unsigned b = s[i];
        uint32_t c;
        if (jclib::isSjisLead(b) && i + 1 < n && jclib::isSjisTrail(s[i + 1])) {
            c = sjisToUnicode((b << 8) | s[i + 1]);
            i += 2;
        } else {
            c = (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) ? sjisToUnicode(b) : 0;
            if (b < 0x80) c = b;
            i += 1;
        }
        if (c == 0) {
            c = 0xFFFD;
            *bad = true;
        }
        if (w >= room) {
            *cut = true;
            break;
        }
        out[w++] = c;
    }
    if (cap > 0) out[w] = 0;
    return w;
}

}  // namespace

struct CPDicReaderState {
    PDIC_HEADER_INFO header;
    FilePtr file;
    CPDicIndex index;
    std::unique_ptr<CPDicData> walk;  // the position of seekIndex/nextEntry

    // Decodes stored text into out (capacity cap); adds status bits.
    size_t decode(const uint8_t* s, size_t n, uint32_t* out, int cap, int* status) const {
        if (!out || cap < 1) return 0;
        bool cut = false, bad = false;
        size_t r;
        if (!s) {
            out[0] = 0;
            return 0;
        }
        if (header.sjis)
            r = decodeSjis(s, n, out, static_cast<size_t>(cap), &cut, &bad);
        else
            r = CBocu1::decode(s, n, out, static_cast<size_t>(cap), &cut, &bad);
        if (cut) *status |= PDIC_STATUS_CUT;
        if (bad) *status |= PDIC_STATUS_BAD_TEXT;
        return r;
    }

    // Whole text decoded into v (one character per byte at most); v's
    // storage is reused, so a loop over entries allocates only to grow it.
    void decodeInto(const uint8_t* s, size_t n, std::vector<uint32_t>* v) const {
        v->resize(n + 1);
        int st = 0;
        v->resize(decode(s, n, v->data(), static_cast<int>(v->size()), &st));
    }
    std::vector<uint32_t> decodeAll(const uint8_t* s, size_t n) const {
        std::vector<uint32_t> v;
        decodeInto(s, n, &v);
        return v;
    }

    // The query in the dictionary's stored form; false when it cannot be
    // stored (a character Shift_JIS lacks).
    bool encode(const std::vector<uint32_t>& q, std::vector<uint8_t>* out) const {
        out->clear();
        if (!header.sjis) {
            CBocu1::encode(q.data(), q.size(), out);
            return true;
        }
        for (uint32_t c : q) {
            unsigned char b[2];
            const int n = unicodeCharToSjis(c, b);
            if (n < 0) return false;
            out->insert(out->end(), b, b + n);
        }
        return true;
    }

    // An entry whose stored text ends inside a BOCU-1 sequence: lost
    // bytes, so the entry is treated as corrupt rather than guessed at.
    bool corrupt(const PDIC_RAW_ENTRY& e) const {
        if (header.sjis) return false;
        return CBocu1::truncated(e.word, e.wordLen) || CBocu1::truncated(e.meaning, e.meaningLen) ||
               (e.example && CBocu1::truncated(e.example, e.exampleLen)) ||
               (e.pron && CBocu1::truncated(e.pron, e.pronLen));
    }

    // Stored headword -> its key (before the first TAB, major 6 and above).
    size_t keyLength(const uint8_t* w, size_t n) const {
        if (header.major < 6) return n;
        const void* t = std::memchr(w, 0x09, n);
        return t ? static_cast<size_t>(static_cast<const uint8_t*>(t) - w) : n;
    }
};

struct CPDicReaderResults {
    std::vector<PDIC_HIT> hits;
    std::vector<char> text;
};

namespace {

struct Found {
    PDIC_HIT hit;
    std::string word;
    bool operator<(const Found& o) const {
        return hit.indexNo != o.hit.indexNo ? hit.indexNo < o.hit.indexNo : hit.cursor < o.hit.cursor;
    }
    bool operator==(const Found& o) const { return hit.indexNo == o.hit.indexNo && hit.cursor == o.hit.cursor; }
};

}  // namespace

CPDicReader::CPDicReader() : m_results(new CPDicReaderResults) {
    m_results->hits.reserve(1024);
}

CPDicReader::~CPDicReader() = default;

bool CPDicReader::isOpen() const {
    return m_state != nullptr;
}

int CPDicReader::open(const char* path) {
    close();
    if (!path) return -1;
    std::unique_ptr<CPDicReaderState> s(new CPDicReaderState);
    // Only a regular file (a FIFO is refused at once, without waiting).
    s->file = openRegularFile(path);
    if (!s->file) return -1;
    FILE* f = s->file.get();
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return -1;
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    uint8_t head[256];
    if (fileSize < sizeof head || std::fread(head, 1, sizeof head, f) != sizeof head) return -1;
    if (CPDicData::parseHeader(head, sizeof head, fileSize, &s->header) != 0) return -1;
    const PDIC_HEADER_INFO& h = s->header;
    if (h.indexSize > kMaxIndexBytes) return -1;
    std::vector<uint8_t> area(static_cast<size_t>(h.indexSize));
    if (!area.empty()) {
        if (fseeko(f, static_cast<off_t>(h.indexOffset), SEEK_SET) != 0) return -1;
        if (std::fread(area.data(), 1, area.size(), f) != area.size()) return -1;
    }
    if (s->index.parse(h, area.data(), area.size()) != 0) return -1;
    s->walk.reset(new CPDicData(&s->header, f));
    m_state = std::move(s);
    return 0;
}

int CPDicReader::reopen(const char* path) {
    return open(path);
}

void CPDicReader::close() {
    m_state.reset();
    clearResults();
    m_status = 0;
}

int CPDicReader::majorVersion() const {
    return m_state ? m_state->header.major : 0;
}
int CPDicReader::currentIndex() const {
    return m_state ? m_state->walk->indexNo() : -1;
}
int CPDicReader::dataCursor() const {
    return m_state ? m_state->walk->cursor() : -1;
}
int CPDicReader::currentBlock() const {
    return m_state ? static_cast<int>(m_state->walk->block()) : -1;
}
int CPDicReader::indexCount() const {
    return m_state ? m_state->index.count() : 0;
}
uint32_t CPDicReader::wordCount() const {
    return m_state ? m_state->header.nword : 0;
}
int CPDicReader::lastEntryStatus() const {
    return m_status;
}

int CPDicReader::seekIndex(int n) {
    if (!m_state || n < 0 || n >= m_state->index.count()) return -1;
    return m_state->walk->load(n, m_state->index.phys(n));
}

namespace {

// Applies the entry-reading options to a decoded field in place.
void finishField(uint32_t* s, size_t n, int flag, const uint16_t* table) {
    if (!s) return;
    if (table) {
        for (size_t i = 0; i < n; ++i)
            if (s[i] < 256 && table[s[i]] != 0) s[i] = table[s[i]];
    }
    if (flag & PDIC_ENTRY_CRLF_TO_LF) {
        size_t w = 0;
        for (size_t i = 0; i < n; ++i) {
            if (s[i] == 0x0D && i + 1 < n && s[i + 1] == 0x0A) continue;
            s[w++] = s[i];
        }
        s[w] = 0;
    }
}

}  // namespace

int CPDicReader::nextEntry(uint32_t* word, int wordCap, uint32_t* meaning, int meaningCap, uint32_t* example,
                           int exampleCap, uint32_t* pron, int pronCap, int* level, const uint16_t* pronTable,
                           int flag) {
    m_status = 0;
    if (!m_state) return -1;
    CPDicReaderState& s = *m_state;
    CPDicData& w = *s.walk;
    if (w.indexNo() < 0) {
        if (s.index.count() == 0) return 1;
        if (seekIndex(0) != 0) return -1;
    }
    PDIC_RAW_ENTRY e;
    bool skipped = false;
    for (;;) {
        const int r = w.next(&e);
        if (r < 0) return -1;
        if (r == 0) {
            if (!s.corrupt(e)) break;
            skipped = true;  // pass it over; the block's layout is still sound
            continue;
        }
        const int n = w.indexNo() + 1;
        if (n >= s.index.count()) return 1;
        if (w.load(n, s.index.phys(n)) != 0) return -1;
    }
    int st = 0;
    s.decode(e.word, e.wordLen, word, wordCap, &st);
    size_t n = s.decode(e.meaning, e.meaningLen, meaning, meaningCap, &st);
    finishField(meaningCap > 0 ? meaning : nullptr, n, flag, nullptr);
    n = s.decode(e.example, e.exampleLen, example, exampleCap, &st);
    finishField(exampleCap > 0 ? example : nullptr, n, flag, nullptr);
    n = s.decode(e.pron, e.pronLen, pron, pronCap, &st);
    finishField(pronCap > 0 ? pron : nullptr, n, flag, pronTable);
    if (level) *level = e.attr & 0x0F;
    if (skipped) st |= PDIC_STATUS_SKIPPED;
    m_status = st;
    return 0;
}

int CPDicReader::readEntry(const PDIC_HIT* hit, const char* pool, uint32_t* word, int wordCap, uint32_t* meaning,
                           int meaningCap, uint32_t* example, int exampleCap, uint32_t* pron, int pronCap, int* level,
                           const uint16_t* pronTable) {
    m_status = 0;
    if (!m_state || !hit) return -1;
    CPDicReaderState& s = *m_state;
    if (hit->indexNo < 0 || hit->indexNo >= s.index.count()) return -1;
    if (s.index.phys(hit->indexNo) != hit->block) return -1;
    CPDicData& w = *s.walk;
    if (w.load(hit->indexNo, hit->block) != 0) return -1;
    PDIC_RAW_ENTRY e;
    for (;;) {
        if (w.next(&e) != 0) return -1;
        if (e.cursor == hit->cursor) break;
        if (e.cursor > hit->cursor) return -1;
    }
    if (s.corrupt(e)) return -1;
    if (pool) {
        const std::string utf8 = toUtf8(s.decodeAll(e.word, e.wordLen));
        if (std::strcmp(pool + hit->wordOffset, utf8.c_str()) != 0) return -1;
    }
    int st = 0;
    size_t n;
    s.decode(e.word, e.wordLen, word, wordCap, &st);
    s.decode(e.meaning, e.meaningLen, meaning, meaningCap, &st);
    s.decode(e.example, e.exampleLen, example, exampleCap, &st);
    n = s.decode(e.pron, e.pronLen, pron, pronCap, &st);
    finishField(pronCap > 0 ? pron : nullptr, n, 0, pronTable);
    if (level) *level = e.attr & 0x0F;
    m_status = st;
    return 0;
}

int CPDicReader::results(const PDIC_HIT** hits, int* count) const {
    const int n = static_cast<int>(m_results->hits.size());
    if (hits) *hits = n ? m_results->hits.data() : nullptr;
    if (count) *count = n;
    return n ? 0 : -1;
}

const char* CPDicReader::hitTextBuffer() const {
    return m_results->text.empty() ? nullptr : m_results->text.data();
}

int CPDicReader::hitTextSize() const {
    return static_cast<int>(m_results->text.size());
}

void CPDicReader::clearResults() {
    m_results->hits.clear();
    m_results->hits.shrink_to_fit();
    m_results->hits.reserve(1024);
    m_results->text.clear();
    m_results->text.shrink_to_fit();
}

namespace {

// Headword scan for one stored query q: every entry whose key matches, in
// file order, at most limit of them (0: all). Starts at the last block whose
// first headword lies below q; the headwords beginning with q follow each
// other in sort order, so the scan ends at the first one above q that does
// not begin with it.
void collect(const CPDicReaderState& s, CPDicData& w, const std::vector<uint8_t>& q, bool prefix, size_t limit,
             std::vector<Found>* out) {
    const CPDicIndex& index = s.index;
    const int start = index.lastBelow(q.data(), q.size());
    PDIC_RAW_ENTRY e;
    for (int i = start; i < index.count(); ++i) {
        if (w.load(i, index.phys(i)) != 0) continue;  // damaged block: go on with the next
        while (w.next(&e) == 0) {
            const bool beginsWith = e.wordLen >= q.size() && std::memcmp(e.word, q.data(), q.size()) == 0;
            if (!beginsWith) {
                if (CPDicIndex::compareKeys(e.word, e.wordLen, q.data(), q.size()) > 0) return;
                continue;
            }
            const size_t k = s.keyLength(e.word, e.wordLen);
            if (k < q.size() || (!prefix && k != q.size())) continue;
            if (s.corrupt(e)) continue;
            Found f;
            f.hit.indexNo = i;
            f.hit.cursor = e.cursor;
            f.hit.block = index.phys(i);
            f.hit.wordOffset = 0;
            f.word = toUtf8(s.decodeAll(e.word, e.wordLen));
            out->push_back(std::move(f));
            if (limit && out->size() >= limit) return;
        }
    }
}

// Substring test on decoded text, optionally folding case.
bool contains(const std::vector<uint32_t>& text, const std::vector<uint32_t>& q, bool fold) {
    if (q.empty() || text.size() < q.size()) return false;
    if (!fold) return std::search(text.begin(), text.end(), q.begin(), q.end()) != text.end();
    return std::search(text.begin(), text.end(), q.begin(), q.end(),
                       [](uint32_t a, uint32_t b) { return foldCase(a) == b; }) != text.end();
}

}  // namespace

namespace {

void storeResults(CPDicReaderResults* r, std::vector<Found>* found) {
    for (Found& f : *found) {
        f.hit.wordOffset = r->text.size();
        r->hits.push_back(f.hit);
        r->text.insert(r->text.end(), f.word.begin(), f.word.end());
        r->text.push_back('\0');
    }
}

}  // namespace

int CPDicReader::search(const uint32_t* word, int mode, int maxHits, uint32_t* more) {
    clearResults();
    if (more) *more = 0;
    if (!m_state || !word || !word[0]) return 0;
    const bool prefix = (mode & PDIC_SEARCH_PREFIX) != 0;
    if (!prefix && mode != PDIC_SEARCH_EXACT) return 0;
    const CPDicReaderState& s = *m_state;
    std::vector<uint32_t> q(word, word + wideLen(word));
    std::vector<uint32_t> lower(q);
    for (uint32_t& c : lower) c = foldCase(c);
    const size_t limit = maxHits > 0 ? static_cast<size_t>(maxHits) + 1 : 0;
    CPDicData w(&s.header, s.file.get());
    std::vector<Found> found;
    std::vector<uint8_t> stored;
    if (s.encode(q, &stored)) collect(s, w, stored, prefix, limit, &found);
    if (lower != q && s.encode(lower, &stored)) {
        collect(s, w, stored, prefix, limit, &found);
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
    }
    if (maxHits > 0 && found.size() > static_cast<size_t>(maxHits)) {
        found.resize(static_cast<size_t>(maxHits));
        if (more) *more = 1;
    }
    storeResults(m_results.get(), &found);
    return static_cast<int>(m_results->hits.size());
}

int CPDicReader::fullTextSearch(const uint32_t* query, int maxHits, uint32_t* more, const std::atomic<uint16_t>* cancel,
                                PDIC_PROGRESS progress, void* data, int flag) {
    clearResults();
    if (more) *more = 0;
    if (!m_state || !query || !query[0]) return 0;
    const CPDicReaderState& s = *m_state;
    const bool fold = (flag & PDIC_FULLTEXT_FOLD_CASE) != 0;
    std::vector<uint32_t> q(query, query + wideLen(query));
    if (fold)
        for (uint32_t& c : q) c = foldCase(c);
    CPDicData w(&s.header, s.file.get());
    std::vector<Found> found;
    PDIC_RAW_ENTRY e;
    const int total = s.index.count();
    bool stop = false;
    // Decoded fields, their storage kept from entry to entry.
    std::vector<uint32_t> hw, field;
    for (int i = 0; i < total && !stop; ++i) {
        if (w.load(i, s.index.phys(i)) == 0) {
            while (!stop && w.next(&e) == 0) {
                bool match = false;
                if (!s.corrupt(e)) {
                    s.decodeInto(e.word, e.wordLen, &hw);
                    match = contains(hw, q, fold);
                    if (!match) {
                        s.decodeInto(e.meaning, e.meaningLen, &field);
                        match = contains(field, q, fold);
                    }
                    if (!match) {
                        s.decodeInto(e.example, e.example ? e.exampleLen : 0, &field);
                        match = contains(field, q, fold);
                    }
                }
                if (match) {
                    if (maxHits > 0 && found.size() >= static_cast<size_t>(maxHits)) {
                        if (more) *more = 1;  // a further hit exists
                        stop = true;
                        break;
                    }
                    Found f;
                    f.hit.indexNo = i;
                    f.hit.cursor = e.cursor;
                    f.hit.block = s.index.phys(i);
                    f.hit.wordOffset = 0;
                    f.word = toUtf8(hw);
                    found.push_back(std::move(f));
                }
                if (cancel && *cancel) {
                    if (more) *more = 1;
                    stop = true;
                }
            }
        }
        if (progress) progress(data, static_cast<int>(found.size()), total, i + 1);
        if (!stop && cancel && *cancel) {
            if (more) *more = 1;
            stop = true;
        }
    }
    storeResults(m_results.get(), &found);
    return static_cast<int>(m_results->hits.size());
}

int CPDicReader::title(uint32_t* out, int cap) const {
    if (!out || cap < 1) return 0;
    out[0] = 0;
    if (!m_state) return 0;
    int st = 0;
    const uint8_t* t = m_state->header.title;
    return static_cast<int>(m_state->decode(t, sizeof m_state->header.title, out, cap, &st));
}

int CPDicReader::dumpHeader(char* buf, int size, int crlf) const {
    if (!buf || size < 1) return -1;
    buf[0] = 0;
    if (!m_state) return -1;
    const PDIC_HEADER_INFO& h = m_state->header;
    const char* eol = crlf ? "\r\n" : "\n";
    const int limit = size - 255;  // lines stop this far before the end
    int used = 0;
    auto line = [&](const std::string& text) {
        const std::string l = text + eol;
        if (limit <= 0 || used + static_cast<int>(l.size()) >= limit) return;
        std::memcpy(buf + used, l.data(), l.size());
        used += static_cast<int>(l.size());
        buf[used] = 0;
    };
    char tmp[160];
    line("PDIC dictionary");
    std::snprintf(tmp, sizeof tmp, "Version: 0x%04X (major %d)", h.version, h.major);
    line(tmp);
    line(std::string("Text encoding: ") + (h.sjis ? "Shift_JIS" : "BOCU-1"));
    std::vector<uint32_t> t = m_state->decodeAll(h.title, sizeof h.title);
    if (!t.empty()) line("Title: " + toUtf8(t));
    std::snprintf(tmp, sizeof tmp, "Words: %u", h.nword);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Index entries: %d (header: %u)", m_state->index.count(), h.nindex2);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Data blocks: %u", h.nblock2);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Block size: %u", h.blockSize);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Header size: %u", h.headerSize);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Extended header: %u", h.extheader);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Index blocks: %u (%d-bit block numbers)", h.indexBlock, h.indexBlkbit ? 32 : 16);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Dictionary type: 0x%02X", h.dictype);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Order: %u", h.dicorder);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "OS: 0x%02X", h.os);
    line(tmp);
    std::snprintf(tmp, sizeof tmp, "Maximum headword: %u", h.lword);
    line(tmp);
    return used;
}

int CPDicReader::probe(const char* path, char* title, size_t titleSize) {
    if (title && titleSize) title[0] = 0;
    CPDicReader r;
    if (r.open(path) != 0) return -1;
    if (title && titleSize) {
        uint32_t t[41];
        const int n = r.title(t, 41);
        std::string u = toUtf8(std::vector<uint32_t>(t, t + n));
        // Cut at a character boundary.
        size_t len = std::min(u.size(), titleSize - 1);
        while (len > 0 && len < u.size() && (static_cast<unsigned char>(u[len]) & 0xC0) == 0x80) --len;
        std::memcpy(title, u.data(), len);
        title[len] = 0;
    }
    r.close();
    return 0;
}
