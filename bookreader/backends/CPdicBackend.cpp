#include "bookreader/backends/CPdicBackend.h"

#include <cstdio>
#include <vector>

#include "bookreader/backends/BackendSearch.h"
#include "bookreader/backends/BackendText.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "foundation/CBoundedText.h"

namespace {

// Field capacities (characters, NUL included).
constexpr int kWordCap = 1025;
constexpr int kTextCap = 128001;
constexpr int kPronCap = 1001;
// Characters a headword's sort key may take before its TAB.
constexpr int kKeySearch = 1024;
// Reserve of the room check for the tags around the fields.
constexpr uint32_t kEntryReserve = 50;

uint32_t lowerAscii(uint32_t c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// in[0..n) begins with the ASCII text s, letters compared without case.
bool startsWith(const uint32_t* in, int n, const char* s) {
    int i = 0;
    for (; s[i]; ++i)
        if (i >= n || lowerAscii(in[i]) != static_cast<uint32_t>(s[i])) return false;
    return true;
}

// The same with the case as given.
bool startsWithExact(const uint32_t* in, int n, const char* s) {
    int i = 0;
    for (; s[i]; ++i)
        if (i >= n || in[i] != static_cast<uint32_t>(s[i])) return false;
    return true;
}

bool isHex(uint32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(uint32_t c) {
    return c <= '9' ? static_cast<int>(c - '0') : static_cast<int>(lowerAscii(c) - 'a' + 10);
}

// Index just past the next ">" at or after i, or n.
int pastClose(const uint32_t* in, int n, int i) {
    while (i < n && in[i] != '>') ++i;
    return i < n ? i + 1 : n;
}

// The colour of a font tag starting at in[i] ("<font"): "color=" then an
// optional quote, "#" and six hex digits; false when there is none.
bool fontColour(const uint32_t* in, int n, int i, uint32_t* colour) {
    for (i += 5; i < n && in[i] != '>'; ++i) {
        if (!startsWith(in + i, n - i, "color=")) continue;
        i += 6;
        if (i < n && in[i] == '"') ++i;
        if (i + 7 > n || in[i] != '#') return false;
        uint32_t v = 0;
        for (int k = 1; k <= 6; ++k) {
            if (!isHex(in[i + k])) return false;
            v = (v << 4) | static_cast<uint32_t>(hexValue(in[i + k]));
        }
        *colour = v;
        return true;
    }
    return false;
}

// A tag starts at in[i]: "<" or "</", a name of letters and digits, then
// ">" or a blank or "/" and attributes, closed by a ">" before any other "<".
bool isTag(const uint32_t* in, int n, int i) {
    int k = i + 1;
    if (k < n && in[k] == '/') ++k;
    const int name = k;
    while (k < n && ((lowerAscii(in[k]) >= 'a' && lowerAscii(in[k]) <= 'z') || (in[k] >= '0' && in[k] <= '9'))) ++k;
    if (k == name || lowerAscii(in[name]) < 'a' || lowerAscii(in[name]) > 'z') return false;
    if (k < n && in[k] != '>' && in[k] != ' ' && in[k] != '\t' && in[k] != '/') return false;
    for (; k < n; ++k) {
        if (in[k] == '>') return true;
        if (in[k] == '<') return false;
    }
    return false;
}

// Drops a version-6 sort key: everything up to and including the first TAB.
const uint32_t* displayWord(const uint32_t* word, int majorVersion) {
    if (majorVersion < 6) return word;
    for (int i = 0; i < kKeySearch && word[i]; ++i)
        if (word[i] == '\t') return word + i + 1;
    return word;
}

uint32_t wideLength(const uint32_t* s) {
    uint32_t n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

CPdicBackend::CPdicBackend(CEBReader& reader) : m_reader(reader) {}

CPdicBackend::~CPdicBackend() {
    close();
}

int CPdicBackend::open(const char* path) {
    if (m_pdic) return 0;
    std::unique_ptr<CPDicReader> pdic(new CPDicReader);
    if (pdic->open(path) != 0) return 0;
    m_pdic = std::move(pdic);
    return 1;
}

int CPdicBackend::reopen(const char* path) {
    if (!m_pdic) return 0;
    return m_pdic->reopen(path) == 0 ? 1 : 0;
}

void CPdicBackend::close() {
    if (m_pdic) m_pdic->close();
    m_pdic.reset();
}

int CPdicBackend::search(const uint32_t* word, int mode, int maxHits) {
    if (!m_pdic || !word || !backend::beginSearch(m_reader)) return 0;
    uint32_t more = 0;
    int n = m_pdic->search(word, mode, backend::hitLimit(m_reader, maxHits), &more);
    return backend::endSearch(m_reader, n, more != 0);
}

int CPdicBackend::fullTextSearch(const uint32_t* text, PDIC_PROGRESS progress, void* data, int flag) {
    if (!m_pdic || !text || !backend::beginSearch(m_reader)) return 0;
    uint32_t more = 0;
    int n = m_pdic->fullTextSearch(text, backend::fullTextLimit(m_reader), &more, backend::cancelFlag(m_reader),
                                   progress, data, flag);
    return backend::endSearch(m_reader, n, more != 0);
}

int CPdicBackend::collect(CItemList* list, int start) {
    if (!m_pdic || !list) return 0;
    const PDIC_HIT* records = nullptr;
    int n = 0;
    if (m_pdic->results(&records, &n) != 0 || n <= 0) return 0;
    backend::writeItems(list, start, list->pdicHitCount(), n);
    list->appendTextRecords(records, n, m_pdic->hitTextBuffer(), static_cast<size_t>(m_pdic->hitTextSize()));
    m_pdic->clearResults();
    return n;
}

int CPdicBackend::textToTags(uint32_t* out, uint32_t capacity, const uint32_t* in, int n, bool tagsAllowed) {
    CBoundedWideText text(out, capacity);
    bool url = false;
    // Open font tags, innermost last: whether each wrote a colour.
    std::vector<bool> fonts;
    for (int i = 0; i < n && !text.stopped();) {
        const uint32_t c = in[i];
        if (url && backend::endsUrl(c)) {
            url = false;
            text.appendAscii("</URL>");
        }
        if (c == '&') {
            text.appendAscii("&amp;");
        } else if (c == '\t') {
            text.append(static_cast<uint32_t>(' '));
        } else if (c == '>') {
            text.appendAscii("&gt;");
        } else if (c == '<' && tagsAllowed) {
            const uint32_t* p = in + i;
            const int left = n - i;
            static const char* const kSimple[] = {"<b>", "</b>", "<i>", "</i>", "<u>", "</u>", "<s>", "</s>"};
            const char* simple = nullptr;
            for (const char* tag : kSimple)
                if (startsWith(p, left, tag)) simple = tag;
            if (simple) {
                char upper[8];
                int k = 0;
                for (; simple[k]; ++k) upper[k] = static_cast<char>(simple[k] >= 'a' ? simple[k] - 32 : simple[k]);
                upper[k] = 0;
                text.appendAscii(upper);
                i += k;
                continue;
            }
            const char* replacement = nullptr;
            char colour[16];
            uint32_t rgb = 0;
            if (startsWith(p, left, "<font")) {
                // Only a colour is written; a font without one leaves the
                // colour around it as it is.
                const bool coloured = fontColour(in, n, i, &rgb);
                snprintf(colour, sizeof colour, "<COL=%06X>", rgb & 0xFFFFFFu);
                fonts.push_back(coloured && text.appendAscii(colour));
                replacement = "";
            } else if (startsWith(p, left, "</font")) {
                // Only what was opened is closed.
                replacement = !fonts.empty() && fonts.back() ? "</COL>" : "";
                if (!fonts.empty()) fonts.pop_back();
            } else if (startsWith(p, left, "<big>") || startsWith(p, left, "</big>")) {
                replacement = "";
            } else if (startsWith(p, left, "<small>")) {
                replacement = "<SUB>";
            } else if (startsWith(p, left, "</small>")) {
                replacement = "</SUB>";
            }
            if (replacement || isTag(in, n, i)) {
                // A tag of no meaning here is dropped; its text stays.
                if (replacement && *replacement) text.appendAscii(replacement);
                i = pastClose(in, n, i);
                continue;
            }
            text.appendAscii("&lt;");
        } else if (c == '<') {
            text.appendAscii("&lt;");
        } else {
            if (!url && (startsWithExact(in + i, n - i, "http:") || startsWithExact(in + i, n - i, "https:") ||
                         startsWithExact(in + i, n - i, "file:")))
                url = text.appendAscii("<URL>");
            text.append(c);
        }
        ++i;
    }
    if (url) text.appendAscii("</URL>");
    // Colours still open end with the text.
    for (bool coloured : fonts)
        if (coloured) text.appendAscii("</COL>");
    return static_cast<int>(text.length());
}

int CPdicBackend::hitHeadword(const CItemList* list, int hit, uint32_t* out, uint32_t outSize, uint32_t* outLength) {
    if (outLength) *outLength = 0;
    if (out && outSize >= 4) out[0] = 0;
    if (!m_pdic || !list || !out || outSize < 4) return 0;
    const PDIC_HIT* record = list->pdicHit(hit);
    if (!record) return 0;
    std::vector<uint32_t> word(kWordCap), meaning(2), example(2), pron(2);
    int level = 0;
    if (m_pdic->readEntry(record, list->pdicText(), word.data(), kWordCap, meaning.data(), 2, example.data(), 2,
                          pron.data(), 2, &level, m_phoneticTable) != 0)
        return 0;
    const uint32_t* head = displayWord(word.data(), m_pdic->majorVersion());
    int n = textToTags(out, outSize / 4, head, static_cast<int>(wideLength(head)), false);
    if (outLength) *outLength = static_cast<uint32_t>(n);
    return n;
}

int CPdicBackend::renderHits(const CItemList* list, int hit, uint32_t* out, uint32_t limit, uint32_t outSize,
                             uint32_t* outLength, int single, int showPron) {
    if (outLength) *outLength = 0;
    if (out && outSize >= 4) out[0] = 0;
    if (!m_pdic || !list) return 0;
    const PDIC_HIT* record = list->pdicHit(hit);
    if (!record) return 0;
    return render(single ? Walk::HitOnly : Walk::FromHit, record, list->pdicText(), record->indexNo, record->cursor,
                  out, limit, outSize, outLength, single != 0, showPron);
}

int CPdicBackend::renderIndexEntries(int indexNo, uint32_t* out, uint32_t limit, uint32_t outSize, uint32_t* outLength,
                                     int showPron) {
    return render(Walk::FromIndex, nullptr, nullptr, indexNo, 0, out, limit, outSize, outLength, false, showPron);
}

int CPdicBackend::renderEntry(int indexNo, int cursor, uint32_t* out, uint32_t limit, uint32_t outSize,
                              uint32_t* outLength, int single, int showPron) {
    return render(Walk::FromCursor, nullptr, nullptr, indexNo, cursor, out, limit, outSize, outLength, single != 0,
                  showPron);
}

int CPdicBackend::render(Walk walk, const PDIC_HIT* hit, const char* pool, int indexNo, int startCursor, uint32_t* out,
                         uint32_t limit, uint32_t outSize, uint32_t* outLength, bool single, int showPron) {
    if (outLength) *outLength = 0;
    if (!out || outSize < 4) return 0;
    out[0] = 0;
    if (!m_pdic) return 0;
    const uint32_t capacity = outSize / 4;
    std::vector<uint32_t> word(kWordCap), meaning(kTextCap), example(kTextCap), pron(kPronCap);
    int level = 0;
    auto readNext = [&]() {
        return m_pdic->nextEntry(word.data(), kWordCap, meaning.data(), kTextCap, example.data(), kTextCap, pron.data(),
                                 kPronCap, &level, m_phoneticTable, 0) == 0;
    };
    int block = -1;
    int cursor = 0;
    bool ok;
    if (walk == Walk::HitOnly) {
        ok = m_pdic->readEntry(hit, pool, word.data(), kWordCap, meaning.data(), kTextCap, example.data(), kTextCap,
                               pron.data(), kPronCap, &level, m_phoneticTable) == 0;
    } else {
        if (m_pdic->seekIndex(indexNo) != 0) return 0;
        block = m_pdic->currentBlock();
        cursor = m_pdic->dataCursor();
        ok = readNext();
    }
    CBoundedWideText text(out, capacity);
    const int major = m_pdic->majorVersion();
    while (ok && text.length() < capacity) {
        // An entry read after corrupt ones that were passed over starts
        // where the read ended, not where it began.
        if (m_pdic->lastEntryStatus() & PDIC_STATUS_SKIPPED) cursor = m_pdic->dataCursor();
        const bool skip = (walk == Walk::FromHit || walk == Walk::FromCursor) && m_pdic->currentBlock() == block &&
                          cursor < startCursor;
        if (!skip) {
            const uint32_t* head = displayWord(word.data(), major);
            const uint32_t wordLen = wideLength(head), meaningLen = wideLength(meaning.data()),
                           exampleLen = wideLength(example.data());
            const uint64_t need =
                static_cast<uint64_t>(text.length()) + wordLen + meaningLen + exampleLen + kEntryReserve;
            if (capacity < need) break;
            if (!single && text.length() > 0 && limit / 4 < need) break;
            auto field = [&](const uint32_t* s, uint32_t n, bool tags) {
                text.grow(static_cast<size_t>(
                    textToTags(text.end(), static_cast<uint32_t>(text.room() + 1), s, static_cast<int>(n), tags)));
            };
            text.appendAscii("<INDENT=01><HEAD>");
            field(head, wordLen, false);
            text.appendAscii(walk == Walk::FromIndex || wordLen == 0 ? "</HEAD>" : "</HEAD><BR>");
            text.appendAscii("<INDENT=02>");
            if (showPron && pron[0]) {
                text.appendAscii("/<PHO>");
                field(pron.data(), wideLength(pron.data()), false);
                text.appendAscii("</PHO>/<BR>");
            }
            if (meaningLen) {
                field(meaning.data(), meaningLen, true);
                text.appendAscii("<BR>");
            }
            if (exampleLen) {
                field(example.data(), exampleLen, true);
                text.appendAscii("<BR>");
            }
            if (level > 0) {
                char line[32];
                snprintf(line, sizeof line, "[Level]%d<BR>", level);
                text.appendAscii(line);
            }
            if (walk == Walk::FromHit || walk == Walk::FromCursor) text.appendAscii("<PAGE>");
            if (text.stopped()) break;
        }
        if (single && !skip) break;
        cursor = m_pdic->dataCursor();
        ok = readNext();
    }
    if (outLength) *outLength = static_cast<uint32_t>(text.length());
    return static_cast<int>(text.length());
}

int CPdicBackend::currentIndex() const {
    return m_pdic ? m_pdic->currentIndex() : 0;
}

int CPdicBackend::dataCursor() const {
    return m_pdic ? m_pdic->dataCursor() : 0;
}

int CPdicBackend::currentBlock() const {
    return m_pdic ? m_pdic->currentBlock() : 0;
}

int CPdicBackend::information(char* buf, uint32_t size, int crlf) const {
    if (!m_pdic || !buf || size == 0) return 0;
    int n = m_pdic->dumpHeader(buf, static_cast<int>(size), crlf);
    return n < 0 ? 0 : n;
}
