#include "bookreader/backends/CUserDictBackend.h"

#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "bookreader/backends/BackendSearch.h"
#include "bookreader/backends/BackendText.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "foundation/CBoundedText.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"

namespace {

// Room an entry needs besides its three texts.
constexpr size_t kEntryReserve = 50;
// Room a link row needs besides its comment.
constexpr size_t kLinkReserve = 32;
// Longest body text a locator may name.
constexpr unsigned long kMaxBodyLength = 64000;
// Field sizes of an entry read for rendering.
constexpr size_t kFieldSize = 256;
constexpr size_t kMinMeaningSize = 16000;
// Longest collected media or reference name.
constexpr size_t kMaxName = 1024;

// Level label and link indent (UTF-8, as the texts of the database).
const char kLevelLabel[] = "\xE3\x80\x90\xE3\x83\xAC\xE3\x83\x99\xE3\x83\xAB\xE3\x80\x91";  // 【レベル】
const char kLinkIndent[] = "\xE3\x80\x80";                                                  // ideographic space

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool startsNoCase(const char* p, size_t left, const char* s) {
    size_t n = strlen(s);
    if (n > left) return false;
    for (size_t i = 0; i < n; ++i)
        if (lowerAscii(p[i]) != s[i]) return false;
    return true;
}

bool startsUrl(const char* p, size_t left) {
    auto at = [&](const char* s) { return strlen(s) <= left && memcmp(p, s, strlen(s)) == 0; };
    return at("http:") || at("https:") || at("file:");
}

bool endsWithNoCase(const std::string& s, const char* suffix) {
    size_t n = strlen(suffix);
    return s.size() >= n && startsNoCase(s.data() + s.size() - n, n, suffix);
}

bool isImage(const std::string& name) {
    for (const char* ext : {".bmp", ".jpg", ".jpeg", ".png", ".tiff", ".tif"})
        if (endsWithNoCase(name, ext)) return true;
    return false;
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// A "[" at i whose "]" stands on the same line; any other "[" is text.
bool closedOnItsLine(const char* in, size_t n, size_t i) {
    for (size_t k = i + 1; k < n && in[k] && !isLineEnd(in[k]); ++k)
        if (in[k] == ']') return true;
    return false;
}

// A link to the card of the name.
void appendReference(CBoundedText& text, const std::string& name) {
    text.append("<A HREF=\"#");
    backend::appendEscaped(text, name.data(), name.size(), true);
    text.append("\">");
    backend::appendEscaped(text, name.data(), name.size());
    text.append("</a>");
}

struct EntryFields {
    explicit EntryFields(size_t meaningSize) : meaning(meaningSize) {}
    char headword[kFieldSize], phonetic[kFieldSize], keyword[kFieldSize], kana[kFieldSize], no[kFieldSize];
    char idkey[32];
    std::vector<char> meaning;
    int level = 0;
};

}  // namespace

CUserDictBackend::CUserDictBackend(CEBReader& reader) : m_reader(reader) {}

CUserDictBackend::~CUserDictBackend() {
    dictzipClose(&m_dictzip);
}

int CUserDictBackend::open(const char* path) {
    if (m_sqlio || !path) return 0;
    std::unique_ptr<CSQLIO> sqlio(new CSQLIO);
    if (sqlio->open(path) != 0) return 0;
    const USERDICT_INFO* info = sqlio->getBookInfo();
    if (info->contenttype == USERDICT_DSL_INDEX && info->filename[0]) {
        m_dslEncoding = DSL_UTF16LE;
        char dir[kPathSize];
        if (pathDirName(path, dir) < 0) return 0;
        std::string body = std::string(dir[0] ? dir : ".") + "/" + info->filename;
        const char* colon = strchr(info->filename, ':');
        if (colon) {
            const char* name = colon + 1;
            m_dslEncoding = startsNoCase(name, strlen(name), "utf-16")  ? DSL_UTF16LE
                            : startsNoCase(name, strlen(name), "utf-8") ? DSL_UTF8
                                                                        : DSL_OTHER;
            body.erase(body.rfind(':'));
        }
        if (fileExists(body.c_str())) {
            m_body = openFile(body.c_str(), "rb");
            if (!m_body) return 0;
        } else {
            body += ".dz";
            if (!fileExists(body.c_str()) || dictzipOpen(body.c_str(), &m_dictzip) != 0) {
                dictzipClose(&m_dictzip);
                return 0;
            }
        }
    }
    m_sqlio = std::move(sqlio);
    return 1;
}

int CUserDictBackend::search(const char* word, int mode, int maxHits) {
    if (!m_sqlio || !word || !backend::beginSearch(m_reader)) return 0;
    uint32_t more = 0;
    int n = m_sqlio->search(word, mode, backend::hitLimit(m_reader, maxHits), &more);
    return backend::endSearch(m_reader, n, more != 0);
}

int CUserDictBackend::fullTextSearch(const char* text, USERDICT_PROGRESS progress, void* data) {
    if (!m_sqlio || !text || !backend::beginSearch(m_reader)) return 0;
    uint32_t more = 0;
    int n = m_sqlio->searchText(text, backend::fullTextLimit(m_reader), &more, backend::cancelFlag(m_reader), progress,
                                data);
    return backend::endSearch(m_reader, n, more != 0);
}

int CUserDictBackend::collectLinks(int64_t id) {
    if (!m_sqlio || !backend::beginSearch(m_reader)) return 0;
    return backend::endSearch(m_reader, m_sqlio->collectLinks(id), false);
}

int CUserDictBackend::collect(CItemList* list, int start) {
    if (!m_sqlio || !list) return 0;
    const USERDICT_HIT* hits = nullptr;
    size_t count = 0;
    if (m_sqlio->getResults(&hits, &count) != 0 || count == 0 || count > 0x7FFFFFFF) return 0;
    const int n = static_cast<int>(count);
    backend::writeItems(list, start, list->userDictHitCount(), n);
    list->appendUserDictRecords(hits, n, m_sqlio->getTextPool(), m_sqlio->getTextPoolSize());
    m_sqlio->clearResults();
    return n;
}

uint32_t CUserDictBackend::escapeText(char* out, uint32_t outSize, uint32_t outLength, const char* in, size_t n,
                                      bool dropLineEnds, bool tagsPass) {
    CBoundedText text(out, outSize, outLength);
    escapeInto(text, in, n, dropLineEnds, tagsPass);
    return static_cast<uint32_t>(text.length());
}

void CUserDictBackend::escapeInto(CBoundedText& text, const char* in, size_t n, bool dropLineEnds, bool tagsPass) {
    bool url = false;
    for (size_t i = 0; i < n && in[i] && !text.stopped();) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (dropLineEnds && (c == '\r' || c == '\n')) {
            ++i;
            continue;
        }
        if (url && backend::endsUrl(c)) {
            url = false;
            text.append("</URL>");
        }
        if (!url && startsUrl(in + i, n - i)) url = text.append("<URL>");
        if (!tagsPass && (c == '&' || c == '<' || c == '>')) {
            backend::appendEscaped(text, in + i, 1);
            ++i;
            continue;
        }
        size_t len = backend::utf8Length(c);
        if (len > n - i) len = n - i;
        text.append(in + i, len);
        i += len;
    }
    if (url) text.append("</URL>");
}

uint32_t CUserDictBackend::convertDslMarkup(char* out, uint32_t outSize, uint32_t outLength, const char* in, size_t n,
                                            const char* headword) {
    CBoundedText text(out, outSize, outLength);
    dslInto(text, in, n, headword);
    return static_cast<uint32_t>(text.length());
}

void CUserDictBackend::dslInto(CBoundedText& text, const char* in, size_t n, const char* headword) {
    if (!headword) headword = "";
    bool division = false;
    bool collecting = false;
    enum { kMedia, kReference } collected = kMedia;
    std::string name;
    // Past the "]" that ends the tag starting at i.
    auto pastTag = [&](size_t i) {
        while (i < n && in[i] && in[i] != ']') ++i;
        return i < n && in[i] == ']' ? i + 1 : i;
    };
    static const struct {
        const char* tag;
        const char* html;
    } kSimple[] = {{"[b]", "<B>"},          {"[/b]", "</B>"},
                   {"[i]", "<I>"},          {"[/i]", "</I>"},
                   {"[u]", "<U>"},          {"[/u]", "</U>"},
                   {"[sub]", "<SUB>"},      {"[/sub]", "</SUB>"},
                   {"[sup]", "<SUP>"},      {"[/sup]", "</SUP>"},
                   {"[/c]", "</font>"},     {"[p]", "<I><font color=\"green\">"},
                   {"[/p]", "</font></I>"}, {"[ex]", "<font color=\"gray\">"},
                   {"[/ex]", "</font>"}};
    size_t i = 0;
    while (i < n && in[i] && !text.stopped()) {
        const char* p = in + i;
        const size_t left = n - i;
        const char c = *p;
        if (c == '\r') {
            text.append("<br/>\r\n");
            ++i;
            continue;
        }
        if (c == '\\' && left > 1 && p[1]) {
            // The next character stands for itself.
            size_t len = backend::utf8Length(static_cast<unsigned char>(p[1]));
            if (len > left - 1) len = left - 1;
            if (collecting)
                name.append(p + 1, len);
            else
                backend::appendEscaped(text, p + 1, len);
            i += 1 + len;
            continue;
        }
        if (startsNoCase(p, left, "{{")) {
            const char* end = nullptr;
            for (size_t k = i + 2; k + 1 < n && in[k]; ++k)
                if (in[k] == '}' && in[k + 1] == '}') {
                    end = in + k + 2;
                    break;
                }
            i = end ? static_cast<size_t>(end - in) : n;
            continue;
        }
        if (c == '@') {
            ++i;
            continue;
        }
        if (c == '\t') {
            text.append(" ");
            ++i;
            continue;
        }
        if (c == '~') {
            // The card's own headword.
            if (collecting)
                name.append(headword, std::min(strlen(headword), kMaxName - std::min(name.size(), kMaxName)));
            else
                backend::appendEscaped(text, headword, strlen(headword));
            ++i;
            continue;
        }
        if (startsNoCase(p, left, "<<") && !collecting) {
            // "<<word>>" on one line is a reference, as "[ref]word[/ref]" is.
            size_t k = i + 2;
            while (k + 1 < n && in[k] && !isLineEnd(in[k]) && !(in[k] == '>' && in[k + 1] == '>')) ++k;
            if (k + 1 < n && in[k] == '>' && in[k + 1] == '>') {
                appendReference(text, std::string(in + i + 2, k - i - 2));
                i = k + 2;
                continue;
            }
        }
        if ((c == '<' || c == '>' || c == '&') && !collecting) {
            backend::appendEscaped(text, p, 1);
            ++i;
            continue;
        }
        if (c == '[' && closedOnItsLine(in, n, i)) {
            bool done = false;
            for (const auto& s : kSimple)
                if (startsNoCase(p, left, s.tag)) {
                    text.append(s.html);
                    i = pastTag(i);
                    done = true;
                    break;
                }
            if (done) continue;
            if (startsNoCase(p, left, "[c]")) {
                // A colour tag without a colour: the default one, so that its
                // "[/c]" closes this and not an enclosing colour.
                text.append("<font color=\"green\">");
                i = pastTag(i);
                continue;
            }
            if (startsNoCase(p, left, "[c ")) {
                size_t start = i + 3, end = pastTag(i);
                size_t stop = end > start && in[end - 1] == ']' ? end - 1 : end;
                text.append("<font color=\"");
                backend::appendEscaped(text, in + start, stop - start, true);
                text.append("\">");
                i = end;
                continue;
            }
            if (startsNoCase(p, left, "[s]") || startsNoCase(p, left, "[ref")) {
                collecting = true;
                collected = p[1] == 's' || p[1] == 'S' ? kMedia : kReference;
                name.clear();
                i = pastTag(i);
                continue;
            }
            if (startsNoCase(p, left, "[/s]") || startsNoCase(p, left, "[/ref]")) {
                if (collecting) {
                    if (collected == kReference) {
                        appendReference(text, name);
                    } else if (isImage(name)) {
                        text.append("<IMG SRC=\"");
                        backend::appendEscaped(text, name.data(), name.size(), true);
                        text.append("\"/>");
                    } else {
                        text.append("<A HREF=\"");
                        backend::appendEscaped(text, name.data(), name.size(), true);
                        text.append("\">&#x266A;</a>");
                    }
                }
                collecting = false;
                i = pastTag(i);
                continue;
            }
            if (startsNoCase(p, left, "[m")) {
                if (division) text.append("</div>\r\n");
                size_t end = pastTag(i);
                unsigned long level = 0;
                for (size_t k = i + 2; k < end; ++k)
                    if (in[k] >= '0' && in[k] <= '9' && level < 1000000) level = level * 10 + (in[k] - '0');
                char open[48];
                snprintf(open, sizeof open, "<div class=\"i%lu\">", level + 1);
                text.append(open);
                division = true;
                i = end;
                continue;
            }
            if (startsNoCase(p, left, "[/m]")) {
                text.append("</div>\r\n");
                division = false;
                i = pastTag(i);
                if (i < n && (in[i] == '\r' || in[i] == '\n')) ++i;
                continue;
            }
            // Any other tag is dropped.
            i = pastTag(i);
            continue;
        }
        size_t len = backend::utf8Length(static_cast<unsigned char>(c));
        if (len > left) len = left;
        if (collecting) {
            if (name.size() + len <= kMaxName) name.append(p, len);
        } else {
            text.append(p, len);
        }
        i += len;
    }
    if (collecting && !text.stopped()) backend::appendEscaped(text, name.data(), name.size());
    if (division) text.append("</div>\r\n");
}

uint32_t CUserDictBackend::readDslBody(char* out, uint32_t outSize, uint32_t outLength, const char* locator,
                                       const char* headword) {
    CBoundedText text(out, outSize, outLength);
    bodyInto(text, locator, headword);
    return static_cast<uint32_t>(text.length());
}

void CUserDictBackend::bodyInto(CBoundedText& text, const char* locator, const char* headword) {
    if (!locator) return;
    unsigned long offset = 0, length = 0;
    if (sscanf(locator, "[%lu:%lu]", &offset, &length) != 2 || length < 1 || length >= kMaxBodyLength) return;
    std::vector<char> bytes;
    if (m_body) {
        if (fseek(m_body.get(), static_cast<long>(offset), SEEK_SET) != 0) return;
        bytes.resize(length);
        // A locator reaching past the end of the file names no text.
        if (fread(bytes.data(), 1, length, m_body.get()) != length) return;
    } else if (m_dictzip.descriptor >= 0) {
        // The range whole: UTF-16 text holds zero bytes, so its end is the
        // locator's length, not the first NUL.
        if (dictzipCheckRange(&m_dictzip, offset, length) != 0) return;
        const uint8_t* data = dictzipReserve(&m_dictzip, length);
        if (!data || dictzipInflateRange(&m_dictzip, offset, length) != 0) return;
        bytes.assign(data, data + length);
    } else {
        return;
    }
    if (m_dslEncoding == DSL_UTF16LE) {
        const int units = static_cast<int>(bytes.size() / 2);
        std::vector<char> utf8(static_cast<size_t>(units) * 3 + 1);
        int m = utf16leToUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), units, utf8.data());
        bytes.assign(utf8.data(), utf8.data() + (m > 0 ? m : 0));
    }
    dslInto(text, bytes.data(), bytes.size(), headword);
}

int CUserDictBackend::renderEntry(char* out, uint32_t outSize, uint32_t outLength, const char* headword,
                                  const char* meaning, const char* phonetic, int level, int showPhonetic,
                                  int contentType, int64_t id) {
    if (!out || outSize == 0 || outLength >= outSize) return 0;
    headword = headword ? headword : "";
    meaning = meaning ? meaning : "";
    phonetic = phonetic ? phonetic : "";
    const size_t need = outLength + strlen(headword) + strlen(meaning) + strlen(phonetic) + kEntryReserve;
    if (outSize < need) {
        out[outLength] = 0;
        return 0;
    }
    CBoundedText text(out, outSize, outLength);
    auto escaped = [&](const char* s) { escapeInto(text, s, strlen(s), false, false); };
    text.append("<INDENT=01><HEAD>");
    escaped(headword);
    text.append("</HEAD>");
    if (headword[0]) {
        char idTag[64];
        snprintf(idTag, sizeof idTag, "<ID id=\"%" PRId64 "\">  </ID>\r", id);
        text.append(idTag);
    }
    text.append("<INDENT=02>");
    if (showPhonetic && phonetic[0]) {
        text.append("/<PHO>");
        escaped(phonetic);
        text.append("</PHO>/\r<BR>");
    }
    if (meaning[0]) {
        if (contentType == USERDICT_DSL)
            dslInto(text, meaning, strlen(meaning), headword);
        else if (contentType == USERDICT_DSL_INDEX)
            bodyInto(text, meaning, headword);
        else
            escapeInto(text, meaning, strlen(meaning), contentType == USERDICT_HTML || contentType == USERDICT_XML,
                       true);
        text.append("\r<BR>");
    }
    if (level > 0) {
        char line[64];
        snprintf(line, sizeof line, "%s%d\r<BR>", kLevelLabel, level);
        text.append(line);
    }
    if (m_sqlio) {
        char comment[kFieldSize];
        int64_t other = 0;
        int attribute = 0, seq = 0;
        for (int64_t key = id; m_sqlio->nextLinkByRelid(key, &other, &attribute, &seq, comment, sizeof comment) == 0;
             key = 0) {
            if (outSize < text.length() + strlen(comment) + kLinkReserve) {
                // Finish the walk so the next one starts afresh.
                while (m_sqlio->nextLinkByRelid(0, &other, &attribute, &seq, comment, sizeof comment) == 0) {
                }
                break;
            }
            char anchor[48];
            snprintf(anchor, sizeof anchor, "<A href=\"$row(%d)\">", attribute);
            text.append(kLinkIndent);
            text.append(anchor);
            escaped(comment);
            text.append("</A>\r<BR>");
        }
    }
    if (text.stopped()) {
        // Cut short: the entry is taken back whole, or kept as far as the
        // last whole piece when it is the only one.
        if (outLength > 0) {
            out[outLength] = 0;
            return 0;
        }
    }
    return static_cast<int>(text.length());
}

int CUserDictBackend::renderEntryById(int64_t id, char* out, uint32_t outSize, uint32_t* outLength, int showPhonetic) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_sqlio || !out || outSize == 0) return 0;
    EntryFields f(outSize > kMinMeaningSize ? outSize : kMinMeaningSize);
    if (m_sqlio->readEntry(id, f.headword, sizeof f.headword, f.meaning.data(), f.meaning.size(), f.phonetic,
                           sizeof f.phonetic, f.keyword, sizeof f.keyword, f.kana, sizeof f.kana, f.idkey,
                           sizeof f.idkey, f.no, sizeof f.no, &f.level) != 0)
        return 0;
    int n = renderEntry(out, outSize, 0, f.headword, f.meaning.data(), f.phonetic, f.level, showPhonetic,
                        static_cast<int>(m_sqlio->getBookInfo()->contenttype), id);
    if (outLength) *outLength = static_cast<uint32_t>(n);
    return n;
}

int CUserDictBackend::renderHits(const CItemList* list, int hit, char* out, uint32_t limit, uint32_t outSize,
                                 uint32_t* outLength, int single, int showPhonetic) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_sqlio || !list || !out || outSize == 0) return 0;
    const uint64_t book = static_cast<uint64_t>(m_sqlio->getBookInfo()->bookno);
    EntryFields f(outSize > kMinMeaningSize ? outSize : kMinMeaningSize);
    uint32_t length = 0;
    for (int i = hit; i < list->userDictHitCount() && length < limit; ++i) {
        const USERDICT_HIT* h = list->userDictHit(i);
        if (!h || h->bookno != book) break;
        int64_t id = 0;
        if (m_sqlio->readHit(h, &id, f.headword, sizeof f.headword, f.meaning.data(), f.meaning.size(), f.phonetic,
                             sizeof f.phonetic, f.keyword, sizeof f.keyword, f.kana, sizeof f.kana, f.idkey,
                             sizeof f.idkey, f.no, sizeof f.no, &f.level) != 0)
            break;
        int n = renderEntry(out, outSize, length, f.headword, f.meaning.data(), f.phonetic, f.level, showPhonetic,
                            static_cast<int>(m_sqlio->getBookInfo()->contenttype), id);
        if (n <= 0) break;
        length = static_cast<uint32_t>(n);
        if (single) break;
    }
    out[length] = 0;
    if (outLength) *outLength = length;
    return static_cast<int>(length);
}

int CUserDictBackend::hitHeadword(const CItemList* list, int hit, char* out, uint32_t outSize, uint32_t* outLength) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_sqlio || !list || !out || outSize == 0) return 0;
    const USERDICT_HIT* h = list->userDictHit(hit);
    if (!h || h->bookno != static_cast<uint64_t>(m_sqlio->getBookInfo()->bookno)) return 0;
    char headword[kFieldSize];
    int64_t id = 0;
    if (m_sqlio->readHit(h, &id, headword, sizeof headword, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                         nullptr, 0, nullptr) != 0)
        return 0;
    uint32_t n = escapeText(out, outSize, 0, headword, strlen(headword), false, false);
    if (outLength) *outLength = n;
    return static_cast<int>(n);
}

int CUserDictBackend::information(char* buf, uint32_t size, int crlf) const {
    if (!m_sqlio || !buf || size == 0) return 0;
    m_sqlio->formatInfo(buf, size);
    if (!crlf) backend::crOnlyLineEnds(buf);
    return static_cast<int>(strlen(buf));
}
