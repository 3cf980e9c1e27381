// Tagged dictionary markup reader.
#include "builder/sources/CHTMLParser.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "foundation/book/escapecodes.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"

namespace {

// A media file name as the attribute value means it: character references
// of ASCII characters ("&quot;", "&amp;", "&#39;") become the characters.
std::string mediaFileName(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const size_t semi = value[i] == '&' ? value.find(';', i + 1) : std::string::npos;
        if (semi != std::string::npos && semi - i <= 16) {
            const std::string name = value.substr(i + 1, semi - i - 1);
            unsigned long code = 0;
            if (name.size() > 1 && name[0] == '#') {
                const bool hex = name[1] == 'x' || name[1] == 'X';
                const std::string digits = name.substr(hex ? 2 : 1);
                char* end = nullptr;
                if (!digits.empty() && std::isxdigit(static_cast<unsigned char>(digits[0])))
                    code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
                if (end == nullptr || *end != 0) code = 0;
            } else if (!name.empty()) {
                code = lookupEntity(name.data(), name.size());
            }
            if (code > 0 && code < 0x80) {
                out += static_cast<char>(code);
                i = semi;
                continue;
            }
        }
        out += value[i];
    }
    return out;
}

// Context codes kept on the tokenizer's stack.
enum {
    CTX_PAGE_TITLE = 1,
    CTX_HEADING = 2,
    CTX_NO = 3,
    CTX_PARAGRAPH = 4,
    CTX_PRE = 5,
    CTX_LINK = 6,
    CTX_DFN = 7,
    CTX_OL = 8,
    CTX_UL = 9,
    CTX_DT = 10,
    CTX_DD = 11,
    CTX_NOTE = 12,
    CTX_RT = 13,
    CTX_DIV = 14,
    CTX_TABLE = 16,
    CTX_X4081 = 18,
    CTX_SPAN = 19,
    CTX_KEY_WORD = 23,
    CTX_KEY_OTHER = 24,
    CTX_HEADWORD = 26,
    CTX_BOTTOM = 28
};

// KEY types.
enum { KEY_NONE = 0, KEY_WORD, KEY_KANA, KEY_KEYWORD, KEY_CROSS, KEY_COMPLEX, KEY_OTHER };

const int kMaxIndent = 60;

bool startsWithNoCase(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    return s.size() >= n && strncasecmp(s.data(), prefix, n) == 0;
}

bool isMediaName(const std::string& target) {
    size_t end = target.find('#');
    std::string name = target.substr(0, end);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot + 1);
    for (const char* e : {"wav", "mid", "avi", "mpg", "mpeg", "bmp", "dib", "jpg", "jpeg", "png", "gif"})
        if (strcasecmp(ext.c_str(), e) == 0) return true;
    return false;
}

int keyTypeOf(const std::string& t) {
    static const struct {
        const char* name;
        int type;
    } kTypes[] = {
        {"kana", KEY_KANA},
        {"\x82\xa9\x82\xc8", KEY_KANA},
        {"hyoki", KEY_WORD},
        {"headword", KEY_WORD},
        {"\x95\x5c\x8b\x4c", KEY_WORD},
        {"\x8c\xa9\x8f\x6f\x82\xb5", KEY_WORD},
        {"keyword", KEY_KEYWORD},
        {"\x83\x4c\x81\x5b\x83\x8f\x81\x5b\x83\x68", KEY_KEYWORD},
        {"cross", KEY_CROSS},
        {"\x83\x4e\x83\x8d\x83\x58", KEY_CROSS},
        {"complex", KEY_COMPLEX},
        {"\x95\xa1\x8d\x87", KEY_COMPLEX},
    };
    for (const auto& k : kTypes)
        if (strcasecmp(t.c_str(), k.name) == 0) return k.type;
    return KEY_NONE;
}

// A number attribute ("12", "50%"), kept within +-100,000 so that the
// arithmetic on widths, indents and list numbers never overflows.
int numberOf(const std::string& v) {
    long n = std::strtol(v.c_str(), nullptr, 10);
    return static_cast<int>(std::max(-100000L, std::min(n, 100000L)));
}

bool containsUtf8Name(const std::string& v) {
    return v.find("utf-8") != std::string::npos || v.find("UTF-8") != std::string::npos;
}

// Bytes of a Shift_JIS text that fit in limit without splitting a character.
int sjisCut(const char* s, int len, int limit) {
    if (len <= limit) return len;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    int i = 0;
    while (i < len) {
        int step = jclib::isSjisLead(p[i]) && i + 1 < len ? 2 : 1;
        if (i + step > limit) break;
        i += step;
    }
    return i;
}

// Valid UTF-8 of at most limit bytes from text that is UTF-8 or Shift_JIS.
std::string safeUtf8(const char* text, int len, int limit) {
    if (text == nullptr || len <= 0) return std::string();
    if (isUtf8Text(text, len)) {
        int n = std::min(len, limit);
        while (n > 0 && n < len && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
        return std::string(text, static_cast<size_t>(n));
    }
    int n = sjisCut(text, len, limit);
    std::string out(static_cast<size_t>(n) * 3 + 1, '\0');
    int w = sjisToUtf8(reinterpret_cast<const unsigned char*>(text), n, &out[0], out.size());
    out.resize(static_cast<size_t>(w));
    // A zero byte ends the conversion early; what came out is still valid.
    return out;
}

}  // namespace

// ---- free functions ----

int headingLevel(int code) {
    if (code < TAG_H2 || code > TAG_H6) return 1;
    if ((code - TAG_H1) % 2 != 0) return 1;
    return (code - TAG_H1) / 2 + 1;
}

int headingWordLevel(const char* word, int length) {
    if (word == nullptr || length <= 0) return -1;
    static const struct {
        const char* text;
        int level;
    } kWords[] = {
        {"\x91\xe5\x8c\xa9\x8f\x6f\x82\xb5", 1},  // large heading
        {"\x95\x94", 1},                          // part
        {"\x92\x86\x8c\xa9\x8f\x6f\x82\xb5", 2},  // middle heading
        {"\x8f\xcd", 2},                          // chapter
        {"\x90\xdf", 2},                          // section
        {"\x8f\xac\x8c\xa9\x8f\x6f\x82\xb5", 3},  // small heading
    };
    const size_t n = static_cast<size_t>(length);
    for (const auto& w : kWords)
        if (std::strlen(w.text) == n && std::memcmp(w.text, word, n) == 0) return w.level;
    static const char kHeading[] = "\x8c\xa9\x8f\x6f\x82\xb5";  // heading
    static const int kNumbered[6] = {4, 5, 6, 6, 6, 6};
    const size_t h = sizeof kHeading - 1;
    if (n > h && std::memcmp(word, kHeading, h) == 0) {
        const unsigned char* d = reinterpret_cast<const unsigned char*>(word + h);
        int digit = -1;
        if (n == h + 1 && d[0] >= '1' && d[0] <= '6') digit = d[0] - '1';
        if (n == h + 2 && d[0] == 0x82 && d[1] >= 0x50 && d[1] <= 0x55) digit = d[1] - 0x50;
        if (digit >= 0) return kNumbered[digit];
    }
    return -1;
}

int stripTags(char* out, const char* in, int length) {
    int o = 0;
    int i = 0;
    while (i < length) {
        char c = in[i];
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c == '<') {
            int k = i + 1;
            while (k < length && k - i <= 256 && in[k] != '>') ++k;
            if (k < length && in[k] == '>') {
                i = k + 1;
                continue;
            }
        }
        out[o++] = c;
        ++i;
    }
    return o;
}

bool isAbsolutePath(const char* path) {
    if (path == nullptr) return false;
    const size_t n = std::strlen(path);
    if (n >= 1 && path[0] == '/') return true;
    if (n >= 2 && path[0] == '\\' && path[1] == '\\') return true;
    const unsigned char c = static_cast<unsigned char>(path[0]);
    return n >= 3 && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':' &&
           (path[2] == '/' || path[2] == '\\');
}

bool isExternalTarget(const std::string& target) {
    for (const char* p : {"http:", "https:", "ftp:", "mailto:"})
        if (startsWithNoCase(target, p)) return true;
    return false;
}

// ---- CHTMLParser ----

CHTMLParser::CHTMLParser() = default;
CHTMLParser::~CHTMLParser() = default;

void CHTMLParser::reportError(const char* file, const CParseTag0* tokenizer, const char* message, const char* context,
                              int contextLen) {
    if (m_callback == nullptr) return;
    std::string name = safeUtf8(file, file ? static_cast<int>(std::strlen(file)) : 0, 1024);
    char head[1200];
    const int line = m_eventLine > 0 ? m_eventLine : tokenizer ? tokenizer->line() : 0;
    std::snprintf(head, sizeof head, " Error in %s (Line=%d) : %s\n\n", name.c_str(), line, message);
    std::string text = head + safeUtf8(context, contextLen, kMaxErrorContext);
    void (*cb)(const char*) = m_callback;
    m_callback = nullptr;
    cb(text.c_str());
}

void CHTMLParser::error(const char* message) {
    reportError(m_path.c_str(), m_tok.get(), message, m_token, m_tokenLen);
}

int CHTMLParser::endBlock(int tag, CBlockStream* writer, int full) {
    if (writer->column() == 0) return 1;
    static const int kInline[] = {8,  12, 14, 16, 18,  20,  22,  24,  26,  28,  30,  36, 38, 71, 73,
                                  75, 77, 79, 83, 119, 121, 129, 133, 141, 147, 153, 40, 61, 84};
    for (int c : kInline)
        if (c == tag) return 0;
    if (tag == 4 && full) return 0;
    if (tag == 37 || tag == 130 || (tag == 5 && full)) {
        if (m_opt != nullptr && m_opt->singleLine) {
            writer->writeText(" ", 1, 1, 0);
            return 0;
        }
    }
    writer->writeCode(EB_NEWLINE);
    return 1;
}

void CHTMLParser::registerIds(CEBBook* book, const TAG_ITEM* tag, CBlockStream* writer, int sourceNumber) {
    for (const TAG_ATTR_ITEM& a : tag->attr) {
        if (a.name == nullptr) break;
        // "id" only: idref and the like name the target of a link, not an
        // anchor here.
        if (a.nameLen != 2 || strncasecmp(a.name, "id", 2) != 0 || a.value == nullptr || a.valueLen <= 0) continue;
        std::string value;
        toWorking(a.value, a.valueLen, &value);
        BLOCK_POS pos;
        writer->tell(&pos);
        book->addAnchor(value.data(), static_cast<int>(value.size()), &pos, sourceNumber);
    }
}

void CHTMLParser::reserveGaiji(CGaiji* gaiji, const char* text, int length) {
    if (gaiji == nullptr || text == nullptr) return;
    for (int i = 0; i + 2 < length; ++i) {
        if (text[i] != '&' || text[i + 1] != '#') continue;
        int k = i + 2;
        bool hex = k < length && (text[k] == 'x' || text[k] == 'X');
        if (hex) ++k;
        uint32_t value = 0;
        int digits = 0;
        while (k < length && digits < 8) {
            char c = text[k];
            int d = -1;
            if (c >= '0' && c <= '9') d = c - '0';
            if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            if (d < 0) break;
            value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
            ++digits;
            ++k;
        }
        if (digits == 0 || (k < length && text[k] != ';')) continue;
        if (value < 1 || value > 0x10FFFF) continue;
        unsigned char b[2];
        int n = unicodeCharToSjis(value, b);
        unsigned code = n == 2 ? (static_cast<unsigned>(b[0]) << 8 | b[1]) : 0;
        if (n < 1 || (code >= 0xFA40 && code <= 0xFC4F)) {
            uint32_t ebCode = 0;
            const char* alt = nullptr;
            gaiji->lookupUnicode(value, &ebCode, &alt, 1);
        }
        i = k - 1;
    }
}

void CHTMLParser::toWorking(const char* p, int n, std::string* out) {
    out->clear();
    if (n <= 0) return;
    if (!m_utf8) {
        if (!m_book->sjisToWorking(p, static_cast<size_t>(n), out)) out->assign(p, static_cast<size_t>(n));
        return;
    }
    // Chunks of whole characters, each converted into the run buffer: a
    // unit becomes at most a 9-byte reference, so a chunk of kRunBuffer / 10
    // units always fits and nothing is cut.
    const int kChunk = kRunBuffer / 10;
    uint32_t wide[kRunBuffer / 10];
    int done = 0;
    while (done < n) {
        int take = std::min(n - done, kChunk);
        const unsigned char* u = reinterpret_cast<const unsigned char*>(p + done);
        if (done + take < n)
            while (take > 1 && (u[take] & 0xC0) == 0x80) --take;
        int units = utf8ToWide(p + done, take, wide);
        int used = take;
        while (units < 0 && used > 1) units = utf8ToWide(p + done, --used, wide);
        if (units > 0) {
            int w = m_book->ucsToSjis(m_sjisBuf.data(), static_cast<int>(m_sjisBuf.size()), wide, units, 0);
            out->append(m_sjisBuf.data(), static_cast<size_t>(w));
        }
        if (used < take || units < 0) out->append("\x81\xac");  // a sequence cut by the end of the text
        done += take;
    }
}

bool CHTMLParser::attribute(const TAG_ITEM& tag, const char* name, std::string* value) {
    const size_t n = std::strlen(name);
    for (const TAG_ATTR_ITEM& a : tag.attr) {
        if (a.name == nullptr) break;
        if (static_cast<size_t>(a.nameLen) != n || strncasecmp(a.name, name, n) != 0) continue;
        if (a.value == nullptr) {
            value->clear();
        } else {
            toWorking(a.value, a.valueLen, value);
        }
        return true;
    }
    return false;
}

void CHTMLParser::indent(int level) {
    if (level < 1) level = 1;
    if (level > kMaxIndent) level = kMaxIndent;
    m_writer->writeCode(EB_INDENT);
    m_writer->writeWord16(static_cast<unsigned>(level));
}

void CHTMLParser::breakLine() {
    if (m_joinLine) {
        // The body goes on on the line of the heading before it.
        m_joinLine = false;
        return;
    }
    if (m_writer->column() != 0) m_writer->writeCode(EB_NEWLINE);
}

void CHTMLParser::blockEvent() {
    if (!m_joinLine && m_writer->column() != 0) m_writer->writeCode(EB_NEWLINE);
}

void CHTMLParser::joinNextLine() {
    if (!m_full || !m_o.single || m_o.newlineAfterHeading) return;
    m_writer->writeText(" ", 1, 1, 0);
    m_joinLine = true;
}

bool CHTMLParser::popIf(int code, const char* message) {
    if (m_tok->top() == code) {
        m_tok->pop();
        return true;
    }
    if (message != nullptr) error(message);
    return false;
}

void CHTMLParser::addTitle(const char* text, int len) {
    const int room = kMaxTitle - static_cast<int>(m_title.size());
    if (len > room) {
        m_titleTooLong = true;
        len = sjisCut(text, len, room < 0 ? 0 : room);
    }
    if (len > 0) m_title.append(text, static_cast<size_t>(len));
}

void CHTMLParser::beginHeading(const TAG_ITEM& tag, int menuLevel, bool keyword) {
    // A heading left open ends where the next one starts.
    while (m_inHeading > 0) {
        if (m_keywordOpen) {
            m_writer->writeCode(EB_END_KEYWORD);
            m_keywordOpen = false;
        }
        registerHeading();
    }
    // The ids of a heading name the entry's position, where its search
    // entries point too.
    m_writer->tell(&m_entryPos);
    m_haveEntry = true;
    registerIds(m_book, &tag, m_writer, m_sourceNumber);
    indent(1);
    if (keyword) {
        m_writer->writeCode(EB_BEGIN_KEYWORD);
        m_writer->writeWord16(EB_KEYWORD_OPERAND);
        m_keywordOpen = true;
    }
    m_title.clear();
    m_titleTooLong = false;
    m_titleAttr.clear();
    std::string v;
    if (attribute(tag, "title", &v)) {
        std::vector<char> stripped(v.size() + 1);
        int n = stripTags(stripped.data(), v.data(), static_cast<int>(v.size()));
        m_titleAttr.assign(stripped.data(), static_cast<size_t>(sjisCut(stripped.data(), n, kMaxTitle)));
    }
    m_noindex = attribute(tag, "noindex", &v) && (v == "1" || strcasecmp(v.c_str(), "true") == 0);
    m_headingMenuLevel = menuLevel;
    ++m_inHeading;
}

void CHTMLParser::endHeading(bool keyword) {
    if (keyword && m_keywordOpen) {
        m_writer->writeCode(EB_END_KEYWORD);
        m_keywordOpen = false;
    }
    if (m_o.newlineAfterHeading) m_writer->writeCode(EB_NEWLINE);
    registerHeading();
}

void CHTMLParser::registerHeading() {
    if (m_inHeading == 0) return;
    --m_inHeading;
    if (m_titleTooLong && m_balanced) {
        // A page's heading is shown whole in the text; its title (menu item,
        // headword) ends at the last word that fits.
        const size_t space = m_title.rfind(' ');
        if (space != std::string::npos && space > 0) m_title.resize(space);
    } else if (m_titleTooLong) {
        error("title too long");
    }
    const std::string& t = m_titleAttr.empty() ? m_title : m_titleAttr;
    // Leading and trailing blanks are no part of a title.
    size_t a = 0, b = t.size();
    while (a < b && t[a] == ' ') ++a;
    while (b > a && t[b - 1] == ' ') --b;
    if (b == a) return;
    const int len = static_cast<int>(b - a);
    const char* stored = m_book->addStringT(t.data() + a, static_cast<size_t>(len));
    m_entryHeading = stored;
    m_entryHeadingLen = len;
    if (!m_full) return;
    if (!m_noindex && m_o.menu) m_book->addMenuItem(m_headingMenuLevel, m_entryPos, stored, len, nullptr, 0);
    if (!m_noindex) m_book->addHeadingTagTitle(stored, len, stored, len, m_sourceNumber, m_entryPos);
}

void CHTMLParser::beginLink(const TAG_ITEM& tag) {
    m_tok->push(CTX_LINK);
    LinkState link{false, false, LINK_ANCHOR, std::string()};
    std::string v;
    if (attribute(tag, "name", &v) && !v.empty()) {
        BLOCK_POS pos;
        m_writer->tell(&pos);
        m_book->addAnchor(v.data(), static_cast<int>(v.size()), &pos, m_sourceNumber);
    }
    registerIds(m_book, &tag, m_writer, m_sourceNumber);
    bool have = false;
    if (tag.code == TAG_REF) {
        writeLinkMark();
        have = attribute(tag, "idref", &link.target);
    } else if (tag.code == TAG_EA) {
        link.kind = LINK_RECORD;
        have = attribute(tag, "refid", &link.target) || attribute(tag, "href", &link.target);
    } else {
        have = attribute(tag, "href", &link.target);
    }
    // A link inside a link, an empty target, or one that leads out of the
    // book writes its text only.
    const bool nested =
        std::any_of(m_links.begin(), m_links.end(), [](const LinkState& l) { return l.reference || l.media; });
    if (have && !link.target.empty() && !nested && !isExternalTarget(link.target)) {
        if (isMediaName(link.target)) {
            std::string path = resolvePath(mediaFileName(link.target));
            link.media = m_book->beginMediaRef(path.data(), static_cast<int>(path.size()), 0, m_writer) != 0;
        } else {
            m_writer->writeCode(EB_BEGIN_REFERENCE);
            link.reference = true;
        }
    }
    m_links.push_back(link);
}

void CHTMLParser::writeLinkMark() {
    if (!m_full || m_o.linkChar == 0) return;
    // 1: the arrow; 2: the JIS X 0208 character that arrowCode names in
    // four hexadecimal digits (row, cell), the arrow when it names none.
    unsigned sjis = 0x81A8;
    if (m_o.linkChar == 2 && m_opt != nullptr && m_opt->arrowCode != nullptr) {
        const char* code = m_opt->arrowCode;
        char* end = nullptr;
        const unsigned long jis = std::strtoul(code, &end, 16);
        if (std::strlen(code) == 4 && end == code + 4 && jclib::isJisCode(static_cast<unsigned>(jis)))
            sjis = jclib::jisToSjis(static_cast<unsigned>(jis));
    }
    const char mark[2] = {static_cast<char>(sjis >> 8), static_cast<char>(sjis & 0xFF)};
    m_writer->writeText(mark, 2, 1, 0);
}

void CHTMLParser::endLink() {
    if (!popIf(CTX_LINK, "<A></A> Miss Match!!")) return;
    if (m_links.empty()) return;
    LinkState link = m_links.back();
    m_links.pop_back();
    finishLink(link);
}

void CHTMLParser::finishLink(const LinkState& link) {
    if (link.media) m_book->endMediaRef(m_writer);
    if (!link.reference) return;
    m_writer->writeCode(EB_END_REFERENCE);
    BLOCK_POS site;
    m_writer->tell(&site);
    // Until the link is resolved it points at the start of this source.
    m_writer->writeBcd(m_sourceStart.block, 4);
    m_writer->writeBcd(m_sourceStart.offset, 2);
    m_book->addLink(link.target.data(), static_cast<int>(link.target.size()), &site, m_sourceNumber, link.kind);
}

void CHTMLParser::endKey() {
    const int type = m_keyType;
    m_keyType = KEY_NONE;
    size_t a = 0, b = m_keyText.size();
    while (a < b && m_keyText[a] == ' ') ++a;
    while (b > a && m_keyText[b - 1] == ' ') --b;
    if (b == a || type == KEY_NONE || type == KEY_OTHER) return;
    const int len = static_cast<int>(std::min<size_t>(b - a, 1024));
    const char* key = m_book->addStringT(m_keyText.data() + a, static_cast<size_t>(len));
    const char* heading = key;
    int headingLen = len;
    if (!m_keyTitle.empty()) {
        heading = m_book->addStringT(m_keyTitle.data(), m_keyTitle.size());
        headingLen = static_cast<int>(m_keyTitle.size());
    } else if (m_entryHeading != nullptr) {
        heading = m_entryHeading;
        headingLen = m_entryHeadingLen;
    }
    const BLOCK_POS& pos = entryPos();
    switch (type) {
        case KEY_WORD:
            m_book->addWordEntry(heading, headingLen, key, len, pos, m_sourceNumber, 1, ENTRY_PREFIX | ENTRY_SUFFIX);
            m_book->addKanaOfKanaWord(heading, headingLen, key, len, pos, m_sourceNumber);
            break;
        case KEY_KANA:
            m_book->addKanaEntry(heading, headingLen, key, len, pos, m_sourceNumber, ENTRY_PREFIX | ENTRY_SUFFIX);
            break;
        case KEY_KEYWORD:
            m_book->addKeywordEntry(heading, headingLen, key, len, pos, m_sourceNumber, ENTRY_KEYWORD);
            break;
        case KEY_CROSS:
            m_book->addKeywordEntry(heading, headingLen, key, len, pos, m_sourceNumber, ENTRY_CROSS);
            break;
        case KEY_COMPLEX:
            m_book->addComplexEntry(m_keyName.data(), static_cast<int>(m_keyName.size()), key, len, heading, headingLen,
                                    pos);
            break;
        default:
            break;
    }
}

std::string CHTMLParser::resolvePath(const std::string& path) const {
    if (isAbsolutePath(path.c_str()) || m_dir.empty()) return path;
    return m_dir + "/" + path;
}

void CHTMLParser::writeMedia(const TAG_ITEM& tag) {
    std::string src, alt, cls;
    bool have = attribute(tag, tag.code == TAG_OBJECT ? "data" : "src", &src);
    attribute(tag, "alt", &alt);
    attribute(tag, "class", &cls);
    int registered = 0;
    if (have && !src.empty() && m_o.figures) {
        std::string path = resolvePath(mediaFileName(src));
        registered = m_book->beginMediaRef(path.data(), static_cast<int>(path.size()),
                                           strcasecmp(cls.c_str(), "inline") == 0, m_writer);
    }
    if (!alt.empty()) handleText(alt.data(), static_cast<int>(alt.size()));
    if (registered) m_book->endMediaRef(m_writer);
}

void CHTMLParser::writeGaijiTag(const TAG_ITEM& tag) {
    std::string name;
    attribute(tag, "name", &name);
    uint32_t unicode = 0, code = 0;
    const char* alt = nullptr;
    if (m_gaiji != nullptr && !name.empty()) {
        m_gaiji->findByName(name.c_str(), &unicode, &code, &alt);
        if (code == 0) {
            // A number: the gaiji code itself, or a Unicode value of an entry.
            char* end = nullptr;
            unsigned long v = std::strtoul(name.c_str(), &end, 16);
            if (end != name.c_str() && *end == 0) {
                if (CGaiji::isGaijiCode(static_cast<uint32_t>(v))) {
                    code = static_cast<uint32_t>(v);
                    unicode = m_gaiji->unicodeForCode(code);
                } else if (v <= 0x10FFFF) {
                    m_gaiji->lookupUnicode(static_cast<uint32_t>(v), &code, &alt, 0);
                    unicode = static_cast<uint32_t>(v);
                }
            }
        }
    }
    if (code != 0) {
        m_writer->writeCode(code);
        if (m_inHeading) {
            char ref[32];
            if (unicode != 0)
                std::snprintf(ref, sizeof ref, "&#x%04X;", unicode);
            else
                std::snprintf(ref, sizeof ref, "&%.20s;", name.c_str());
            addTitle(ref, static_cast<int>(std::strlen(ref)));
        }
        return;
    }
    m_writer->writeText("\x81\xac", 2, 1, 0);
    if (m_inHeading) addTitle("\x81\xac", 2);
}

void CHTMLParser::tableCell(const TAG_ITEM& tag, bool header) {
    if (m_col > 0) {
        const int w = m_colWidth[std::min(m_col - 1, 63)];
        const int target = m_cellStart + w;
        if (w == 0)
            m_writer->writeText("\t", 1, 1, 1);
        else if (m_writer->column() >= target)
            m_writer->writeText(" ", 1, 1, 0);
        else
            while (m_writer->column() < target) m_writer->writeText(" ", 1, 1, 0);
    }
    m_cellStart = m_writer->column();
    std::string v;
    if (attribute(tag, "width", &v) && m_col < 64) {
        int n = numberOf(v);
        int chars = (!v.empty() && v.back() == '%') ? n * m_tableWidth / 100 / 8 : n / 8;
        m_colWidth[m_col] = std::max(0, std::min(chars, 255));
    }
    if (header && m_o.epwing) {
        m_writer->writeCode(EB_BEGIN_DECORATION);
        m_writer->writeWord16(EB_DECORATION_BOLD);
        ++m_decoration;
    }
}

void CHTMLParser::handleText(const char* text, int len) {
    if (len <= 0) return;
    const int top = m_tok->top();
    if (top == CTX_KEY_WORD || top == CTX_KEY_OTHER) {
        if (m_keyText.size() < 4096) m_keyText.append(text, static_cast<size_t>(len));
        return;
    }
    reserveGaiji(m_gaiji, text, len);
    m_joinLine = false;  // the line goes on with this text
    BLOCK_POS pos;
    m_writer->tell(&pos);
    m_writer->writeText(text, len, 1, 1);
    if (m_inHeading) {
        addTitle(text, len);
    } else if (m_full && m_entryHeading != nullptr) {
        m_book->autoIndexText(text, len, m_entryHeading, m_entryHeadingLen, entryPos(), m_sourceNumber);
    }
}

void CHTMLParser::closeAll() {
    // Whatever the file left open is closed, so that the text stays whole.
    while (!m_links.empty()) {
        LinkState link = m_links.back();
        m_links.pop_back();
        finishLink(link);
    }
    if (m_keyType != KEY_NONE) endKey();
    if (m_keywordOpen) {
        m_writer->writeCode(EB_END_KEYWORD);
        m_keywordOpen = false;
    }
    while (m_inHeading > 0) registerHeading();
    for (; m_decoration > 0; --m_decoration) m_writer->writeCode(EB_END_DECORATION);
    for (; m_sup > 0; --m_sup) m_writer->writeCode(EB_END_SUPERSCRIPT);
    for (; m_sub > 0; --m_sub) m_writer->writeCode(EB_END_SUBSCRIPT);
    for (; m_rt > 0; --m_rt) m_writer->writeCode(EB_END_SUBSCRIPT);
    for (; m_nobr > 0; --m_nobr) m_writer->writeCode(EB_END_NO_BREAK);
}

void CHTMLParser::parse(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int full,
                        int sourceNumber) {
    if (book == nullptr || source == nullptr || writer == nullptr) return;
    beginEvents(book, opt, source, writer, full, sourceNumber, false, false);
    const bool opened = m_tok->open(source->path) == 0;
    char* token = nullptr;
    TAG_ITEM tag;
    int n;
    while (opened && (n = m_tok->nextToken(&token, &tag, m_tok->top() == CTX_PRE)) > 0) {
        m_consumed += n;
        if (m_progress <= 99) {
            int p = CEBBook::percentOf(m_consumed, m_size);
            m_progress = std::min(p, 99);
            book->setProgress(m_progress);
        }
        CEBBook::checkAbort();
        if (tag.code == TAG_TEXT)
            textEvent(token, n);
        else
            tagEvent(tag, token, n);
    }
    m_tok->close();
    endEvents();
}

void CHTMLParser::beginEvents(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int full,
                              int sourceNumber, bool utf8, bool balanced) {
    m_book = book;
    m_opt = opt;
    m_writer = writer;
    m_full = full;
    m_sourceNumber = sourceNumber;
    m_path = source->path;
    m_size = source->fileSize;
    m_utf8 = utf8;
    m_utf8Fixed = utf8;
    m_balanced = balanced;
    m_tok.reset(new CParseTag0);
    m_sjisBuf.assign(kRunBuffer, 0);
    book->clearRecentEntries();

    m_o = Options();
    m_joinLine = false;
    if (opt != nullptr) {
        m_o.single = opt->singleLine != 0;
        m_o.figures = opt->makeFig != 0;
        m_o.epwing = opt->ebType == 1;
        m_o.pageWidth = opt->tableWidth > 0 ? std::min(opt->tableWidth, 10000) : 480;
        if (full) {
            m_o.linkChar = opt->linkChar;
            m_o.dfnTitle = opt->dfnStyle != 0;
            m_o.ruby = opt->ruby != 0;
            m_o.newlineAfterHeading = opt->paraBr != 0;
            m_o.dtHeadings = opt->DTTagIndex != 0;
            m_o.menu = opt->HTagMenu != 0;
        }
    }
    m_gaiji = book->getGaiji();
    if (m_gaiji != nullptr) writer->setGaijiMap(m_gaiji->getGaijiMap());

    m_tok->reset();
    m_tok->push(CTX_BOTTOM);
    writer->tell(&m_sourceStart);
    writer->writeCode(EB_BEGIN_TEXT);
    writer->tell(&m_textStart);
    m_entryPos = m_textStart;
    char dir[kPathSize];
    pathDirName(source->path, dir, sizeof dir);
    m_dir = dir;

    if (full && opt != nullptr && opt->topMenu) {
        std::string label = source->title;
        if (label.empty()) {
            char stem[kPathSize];
            pathStem(source->path, stem, sizeof stem);
            label = stem;
        }
        const char* stored = book->addStringT(label.data(), label.size());
        book->addMenuItem(0, m_textStart, stored, static_cast<int>(label.size()), nullptr, 0);
    }
}

void CHTMLParser::tagEvent(const TAG_ITEM& tag, const char* token, int len) {
    m_token = token;
    m_tokenLen = len;
    if (tag.code >= 1 && tag.code <= TAG_XML) handleTag(tag, token, len);
    if (tag.code == TAG_KEY) m_keyHold = true;
    if (tag.code == TAG_KEY_END) m_keyHold = false;
    if (!m_keyHold) m_prevTag = tag.code;
    m_token = nullptr;
    m_tokenLen = 0;
}

void CHTMLParser::textEvent(const char* text, int len) {
    m_token = text;
    m_tokenLen = len;
    toWorking(text, len, &m_run);
    handleText(m_run.data(), static_cast<int>(m_run.size()));
    // Text is an item of its own for the rules that look at what came
    // before (BR after P); blanks between tags are not.
    if (!m_keyHold && std::any_of(text, text + len, [](char c) { return c != ' ' && c != '\t'; }))
        m_prevTag = TAG_TEXT;
    m_token = nullptr;
    m_tokenLen = 0;
}

void CHTMLParser::endEvents() {
    closeAll();
    m_writer->writeCode(EB_END_TEXT);
    m_sjisBuf.clear();
    m_progress = 100;
    m_book->setProgress(100);
}

void CHTMLParser::handleTag(const TAG_ITEM& tag, const char*, int) {
    std::string v;
    const int base = m_base + m_level;
    switch (tag.code) {
        case TAG_META:
            if (m_utf8Fixed) break;
            if (attribute(tag, "content", &v) && containsUtf8Name(v)) m_utf8 = true;
            if (attribute(tag, "charset", &v)) m_utf8 = strcasecmp(v.c_str(), "utf-8") == 0;
            break;
        case TAG_XML:
            if (attribute(tag, "encoding", &v) && containsUtf8Name(v)) m_utf8 = true;
            break;
        case TAG_HEAD:
            if (!m_full) break;
            breakLine();
            m_tok->push(CTX_HEADING);
            beginHeading(tag, m_sectionLevel + 1, true);
            break;
        case TAG_HEAD_END:
            if (!m_full) break;
            if (popIf(CTX_HEADING, "<HEAD></HEAD> Miss Match!!")) {
                endHeading(true);
                joinNextLine();
            }
            break;
        case TAG_TITLE:
            if (m_tok->top() == CTX_HEADING) break;  // part of the heading
            breakLine();
            m_tok->push(m_full ? CTX_LINK : CTX_PAGE_TITLE);
            break;
        case TAG_TITLE_END:
            if (m_tok->top() == CTX_LINK || m_tok->top() == CTX_PAGE_TITLE) {
                m_tok->pop();
                breakLine();
            } else if (m_tok->top() != CTX_HEADING) {
                error("<TITLE></TITLE> Miss Match!!");
            }
            break;
        case TAG_BODY:
        case TAG_FRONT:
        case TAG_BACK:
            breakLine();
            break;
        case TAG_H1:
        case TAG_H2:
        case TAG_H3:
        case TAG_H4:
        case TAG_H5:
        case TAG_H6: {
            breakLine();
            const int level = headingLevel(tag.code);
            for (int i = level; i < 10; ++i) m_headingLevels[i] = 0;
            ++m_headingLevels[level - 1];
            m_sectionLevel = level;
            m_tok->push(CTX_HEADING);
            beginHeading(tag, level, true);
            break;
        }
        case TAG_H1_END:
        case TAG_H2_END:
        case TAG_H3_END:
        case TAG_H4_END:
        case TAG_H5_END:
        case TAG_H6_END: {
            char msg[64];
            std::snprintf(msg, sizeof msg, "<H%d></H%d> Miss Match!!", (tag.code - TAG_H1_END) / 2 + 1,
                          (tag.code - TAG_H1_END) / 2 + 1);
            if (popIf(CTX_HEADING, msg)) endHeading(true);
            break;
        }
        case TAG_P:
        case TAG_MEANING:
        case TAG_EXAMPLE:
        case TAG_MEANING_HEAD:
            breakLine();
            m_tok->push(CTX_PARAGRAPH);
            indent(base + 1);
            registerIds(m_book, &tag, m_writer, m_sourceNumber);
            break;
        case TAG_P_END:
        case TAG_MEANING_END:
        case TAG_EXAMPLE_END:
        case TAG_MEANING_HEAD_END:
            popIf(CTX_PARAGRAPH, "<P></P> Miss Match!!");
            break;
        case TAG_A:
        case TAG_EA:
        case TAG_REF:
            beginLink(tag);
            break;
        case TAG_A_END:
        case TAG_EA_END:
        case TAG_REF_END:
            endLink();
            break;
        case TAG_UL:
        case TAG_OL: {
            breakLine();
            const bool ordered = tag.code == TAG_OL;
            m_tok->push(ordered ? CTX_OL : CTX_UL);
            if (m_listDepth >= (ordered ? kMaxListDepth - 1 : kMaxListDepth))
                error("List nesting too deep");
            else
                ++m_listDepth;
            m_inOrderedList[m_listDepth] = ordered;
            m_olNumber[m_listDepth] = 1;
            if (ordered && attribute(tag, "start", &v)) m_olNumber[m_listDepth] = numberOf(v);
            indent(base + m_listDepth + 1);
            break;
        }
        case TAG_UL_END:
        case TAG_OL_END:
            if (popIf(tag.code == TAG_OL_END ? CTX_OL : CTX_UL,
                      tag.code == TAG_OL_END ? "<OL></OL> Miss Match!!" : "<UL></UL> Miss Match!!")) {
                if (m_listDepth > 0) --m_listDepth;
                breakLine();
                indent(base + m_listDepth + 1);
            }
            break;
        case TAG_LI: {
            breakLine();
            const int top = m_tok->top();
            if (top != CTX_OL && top != CTX_UL) {
                error("<UL></UL><OL></OL> Miss Match!!");
            } else if (top == CTX_OL) {
                char num[16];
                std::snprintf(num, sizeof num, m_balanced ? "%d. " : "%d.", m_olNumber[m_listDepth]);
                if (m_olNumber[m_listDepth] < 1000000) ++m_olNumber[m_listDepth];
                m_writer->writeText(num, static_cast<int>(std::strlen(num)), 1, 0);
            } else {
                m_writer->writeText("\x81\x45", 2, 1, 0);
            }
            registerIds(m_book, &tag, m_writer, m_sourceNumber);
            break;
        }
        case TAG_DL:
            m_tok->push(CTX_DD);
            if (!m_o.dtHeadings) ++m_base;
            break;
        case TAG_DL_END:
            if (m_tok->top() == CTX_DD) m_tok->pop();
            if (!m_o.dtHeadings && m_base > 0) --m_base;
            breakLine();
            break;
        case TAG_DT:
            // Markup leaves DD open before the next DT; events close it.
            if (!m_balanced && m_tok->top() == CTX_DD) m_tok->pop();
            breakLine();
            m_tok->push(CTX_DT);
            m_book->addIdEntry();
            if (m_o.dtHeadings && m_full) {
                beginHeading(tag, m_sectionLevel + 1, true);
            } else {
                m_writer->tell(&m_entryPos);
                m_haveEntry = true;
                registerIds(m_book, &tag, m_writer, m_sourceNumber);
            }
            break;
        case TAG_DT_END:
            if (popIf(CTX_DT, "<DT></DT> Miss Match!!") && m_o.dtHeadings && m_full) endHeading(true);
            break;
        case TAG_DD: {
            // Markup leaves DT or DD open before a DD; events close them.
            const int top = m_balanced ? CTX_BOTTOM : m_tok->top();
            if (top == CTX_DT) {
                m_tok->pop();
                if (m_o.dtHeadings && m_full) endHeading(true);
            } else if (top == CTX_DD) {
                m_tok->pop();
            }
            endBlock(TAG_DT_END, m_writer, m_full);
            m_tok->push(CTX_DD);
            indent(base + 1);
            break;
        }
        case TAG_DD_END:
            popIf(CTX_DD, "<DD></DD> Miss Match!!");
            break;
        case TAG_BR:
            if (m_prevTag != TAG_P) m_writer->writeCode(EB_NEWLINE);
            break;
        case TAG_B:
        case TAG_STRONG:
        case TAG_I:
        case TAG_EM:
            if (m_o.epwing) {
                int kind = EB_DECORATION_BOLD;
                if (tag.code == TAG_I || (tag.code == TAG_EM && !m_full)) kind = EB_DECORATION_ITALIC;
                m_writer->writeCode(EB_BEGIN_DECORATION);
                m_writer->writeWord16(static_cast<unsigned>(kind));
                ++m_decoration;
            }
            break;
        case TAG_B_END:
        case TAG_STRONG_END:
        case TAG_I_END:
        case TAG_EM_END:
        case TAG_TH_END:
            if (m_o.epwing && m_decoration > 0) {
                m_writer->writeCode(EB_END_DECORATION);
                --m_decoration;
            }
            if (tag.code == TAG_TH_END) ++m_col;
            break;
        case TAG_SUP:
            m_writer->writeCode(EB_BEGIN_SUPERSCRIPT);
            ++m_sup;
            break;
        case TAG_SUP_END:
            if (m_sup > 0) {
                m_writer->writeCode(EB_END_SUPERSCRIPT);
                --m_sup;
            }
            break;
        case TAG_SUB:
            m_writer->writeCode(EB_BEGIN_SUBSCRIPT);
            ++m_sub;
            break;
        case TAG_SUB_END:
            if (m_sub > 0) {
                m_writer->writeCode(EB_END_SUBSCRIPT);
                --m_sub;
            }
            break;
        case TAG_NOBR:
            m_writer->writeCode(EB_BEGIN_NO_BREAK);
            ++m_nobr;
            break;
        case TAG_NOBR_END:
            if (m_nobr > 0) {
                m_writer->writeCode(EB_END_NO_BREAK);
                --m_nobr;
            }
            break;
        case TAG_RT:
            m_tok->push(CTX_RT);
            if (m_o.ruby) {
                m_writer->writeCode(EB_BEGIN_SUBSCRIPT);
                ++m_rt;
            }
            break;
        case TAG_RT_END:
            if (popIf(CTX_RT, "<RT></RT> Miss Match!!") && m_o.ruby && m_rt > 0) {
                m_writer->writeCode(EB_END_SUBSCRIPT);
                --m_rt;
            }
            break;
        case TAG_DFN:
            if (m_o.dfnTitle && attribute(tag, "title", &v) && !v.empty())
                handleText(v.data(), static_cast<int>(v.size()));
            m_tok->push(CTX_DFN);
            break;
        case TAG_DFN_END:
            popIf(CTX_DFN, "<DFN> Miss Match!!");
            break;
        case TAG_DIV:
            if (m_full) {
                if (m_level < kMaxIndent) ++m_level;
            } else {
                breakLine();
                m_tok->push(CTX_DIV);
                registerIds(m_book, &tag, m_writer, m_sourceNumber);
            }
            break;
        case TAG_DIV_END:
            if (m_full) {
                if (m_level > 0) --m_level;
            } else {
                popIf(CTX_DIV, "<DIV></DIV> Miss Match!!");
            }
            break;
        case TAG_SPAN:
            if (m_full && attribute(tag, "xtype", &v)) m_tok->push(CTX_SPAN);
            break;
        case TAG_SPAN_END:
            if (m_full && m_tok->top() == CTX_SPAN) m_tok->pop();
            break;
        case TAG_PRE:
            breakLine();
            m_tok->push(CTX_PRE);
            indent(base + 1);
            break;
        case TAG_PRE_END:
            popIf(CTX_PRE, "<PRE></PRE> Miss Match!!");
            breakLine();
            break;
        case TAG_TABLE:
            breakLine();
            m_tok->push(CTX_TABLE);
            indent(base + 1);
            registerIds(m_book, &tag, m_writer, m_sourceNumber);
            m_tableWidth = m_o.pageWidth;
            if (attribute(tag, "width", &v)) {
                int w = numberOf(v);
                m_tableWidth = (!v.empty() && v.back() == '%') ? w * m_o.pageWidth / 100 : w;
                m_tableWidth = std::max(0, std::min(m_tableWidth, 8 * 255));
            }
            std::memset(m_colWidth, 0, sizeof m_colWidth);
            m_col = 0;
            break;
        case TAG_TABLE_END:
            popIf(CTX_TABLE, "<TABLE></TABLE> Miss Match!!");
            breakLine();
            break;
        case TAG_TR:
            breakLine();
            m_col = 0;
            break;
        case TAG_TH:
        case TAG_TD:
            tableCell(tag, tag.code == TAG_TH);
            break;
        case TAG_TD_END:
            ++m_col;
            break;
        case TAG_BLOCKQUOTE:
            breakLine();
            m_tok->push(CTX_PARAGRAPH);
            indent(base + 2);
            ++m_base;
            break;
        case TAG_BLOCKQUOTE_END:
            if (m_tok->top() == CTX_PARAGRAPH || m_tok->top() == CTX_SPAN) {
                m_tok->pop();
                breakLine();
                if (m_base > 0) --m_base;
                indent(m_base + m_level + 1);
            } else {
                error("<P></P> Miss Match!!");
            }
            break;
        case TAG_IMG:
        case TAG_OBJECT:
        case TAG_RES:
            writeMedia(tag);
            break;
        case TAG_NO:
            m_tok->push(CTX_NO);
            break;
        case TAG_NO_END:
            popIf(CTX_NO, "<NO></NO> Miss Match!!");
            break;
        case TAG_GI:
            writeGaijiTag(tag);
            break;
        case TAG_NOTE:
            if (!m_full) break;
            breakLine();
            indent(1);
            registerIds(m_book, &tag, m_writer, m_sourceNumber);
            m_writer->writeCode(EB_BEGIN_KEYWORD);
            m_writer->writeWord16(EB_KEYWORD_OPERAND);
            m_keywordOpen = true;
            m_tok->push(CTX_NOTE);
            break;
        case TAG_NOTE_END:
            if (!m_full) break;
            if (popIf(CTX_NOTE, "<NOTE></NOTE> Miss Match!!")) {
                if (m_keywordOpen) m_writer->writeCode(EB_END_KEYWORD);
                m_keywordOpen = false;
                if (m_o.newlineAfterHeading) m_writer->writeCode(EB_NEWLINE);
                joinNextLine();
            }
            break;
        case TAG_DIC_ITEM:
            if (m_level < kMaxIndent) ++m_level;
            break;
        case TAG_DIC_ITEM_END:
            if (m_level > 0) --m_level;
            break;
        case TAG_HEADWORD:
        case TAG_SUBHEADWORD:
            breakLine();
            m_tok->push(CTX_HEADWORD);
            beginHeading(tag, m_sectionLevel + 1, false);
            break;
        case TAG_HEADWORD_END:
        case TAG_SUBHEADWORD_END:
            if (popIf(CTX_HEADWORD, "<headword></headword> Miss Match!!")) registerHeading();
            break;
        case TAG_INDENT:
            if (attribute(tag, "val", &v)) indent(numberOf(v) + 1);
            break;
        case TAG_X4081:
            m_tok->push(CTX_X4081);
            break;
        case TAG_X4081_END:
            popIf(CTX_X4081, "<X4081></X4081> Miss Match!!");
            break;
        case TAG_KEY: {
            if (m_keyType != KEY_NONE) {
                error("<KEY> Miss Match!!");
                break;
            }
            attribute(tag, "type", &v);
            m_keyType = keyTypeOf(v);
            if (m_keyType == KEY_NONE) m_keyType = KEY_OTHER;  // read, not indexed
            m_keyText.clear();
            m_keyTitle.clear();
            m_keyName.clear();
            attribute(tag, "name", &m_keyName);
            attribute(tag, "title", &m_keyTitle);
            if (m_keyTitle.size() > static_cast<size_t>(kMaxTitle))
                m_keyTitle.resize(
                    static_cast<size_t>(sjisCut(m_keyTitle.data(), static_cast<int>(m_keyTitle.size()), kMaxTitle)));
            m_tok->push(m_keyType == KEY_WORD || m_keyType == KEY_KANA ? CTX_KEY_WORD : CTX_KEY_OTHER);
            break;
        }
        case TAG_KEY_END:
            if (m_keyType == KEY_NONE || (m_tok->top() != CTX_KEY_WORD && m_tok->top() != CTX_KEY_OTHER)) {
                error("<KEY> Miss Match!!");
                break;
            }
            m_tok->pop();
            endKey();
            break;
        default:
            break;
    }
}
