// HTML / XHTML / XML reader through libxml2's HTML push parser.
#include "builder/sources/CSAXParser.h"

#include <libxml/HTMLparser.h>
#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "foundation/FileHandle.h"
#include "foundation/codes/jclib.h"

namespace {

CSAXParser* self(void* ctx) {
    return static_cast<CSAXParser*>(ctx);
}

void onStart(void* ctx, const xmlChar* name, const xmlChar** atts) {
    self(ctx)->startElement(reinterpret_cast<const char*>(name), reinterpret_cast<const char**>(atts));
}
void onEnd(void* ctx, const xmlChar* name) {
    self(ctx)->endElement(reinterpret_cast<const char*>(name));
}
void onCharacters(void* ctx, const xmlChar* ch, int len) {
    self(ctx)->characters(reinterpret_cast<const char*>(ch), len);
}
void onStructuredError(void* ctx, xmlErrorPtr error) {
    if (error == nullptr || error->level < XML_ERR_ERROR) return;
    // The parser's element table is HTML 4's: any other element is its
    // "invalid tag", which is no error of the document's.
    if (error->code == XML_HTML_UNKNOWN_TAG)
        self(ctx)->unknownElement(error->line, error->str1);
    else
        self(ctx)->parseError(error->line, error->message);
}
// libxml2's own messages to standard error are silenced.
void quiet(void*, const char*, ...) {}

struct CtxtFree {
    void operator()(htmlParserCtxtPtr c) const {
        if (c) htmlFreeParserCtxt(c);
    }
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// The document's bytes as UTF-8, for the parser. Malformed bytes become
// U+FFFD and NUL characters are dropped, so that the parser always gets
// well-formed text and never stops at an encoding error; a character cut by
// the end of a chunk waits for the next one.
class ToUtf8 {
public:
    enum Kind { kUtf8, kShiftJis, kEucJp, kUtf16LE, kUtf16BE };
    explicit ToUtf8(Kind kind) : m_kind(kind) {}

    void convert(const char* p, size_t n, bool last, std::string* out) {
        std::string data = m_carry;
        data.append(p, n);
        m_carry.clear();
        const unsigned char* u = reinterpret_cast<const unsigned char*>(data.data());
        const size_t size = data.size();
        out->clear();
        switch (m_kind) {
            case kUtf8:
                utf8(u, size, last, out);
                break;
            case kShiftJis:
            case kEucJp:
                japanese(u, size, last, out);
                break;
            case kUtf16LE:
            case kUtf16BE:
                utf16(u, size, last, out);
                break;
        }
    }

private:
    static void replacement(std::string* out) { out->append("\xEF\xBF\xBD"); }

    void utf8(const unsigned char* u, size_t n, bool last, std::string* out) {
        size_t i = 0;
        while (i < n) {
            unsigned c = u[i];
            size_t len = c < 0x80                   ? 1
                         : (c >= 0xC2 && c <= 0xDF) ? 2
                         : (c >= 0xE0 && c <= 0xEF) ? 3
                         : (c >= 0xF0 && c <= 0xF4) ? 4
                                                    : 0;
            if (len == 0) {
                replacement(out);
                ++i;
                continue;
            }
            if (i + len > n) {
                if (!last) {
                    m_carry.assign(reinterpret_cast<const char*>(u + i), n - i);
                    return;
                }
                replacement(out);
                return;
            }
            if (::isUtf8Text(reinterpret_cast<const char*>(u + i), static_cast<int>(len))) {
                if (c != 0) out->append(reinterpret_cast<const char*>(u + i), len);
                i += len;
            } else {
                replacement(out);
                ++i;
            }
        }
    }

    void japanese(const unsigned char* u, size_t n, bool last, std::string* out) {
        // Whole characters without NUL bytes, converted in one go.
        std::string whole;
        size_t i = 0;
        while (i < n) {
            unsigned c = u[i];
            size_t len = 1;
            if (m_kind == kShiftJis)
                len = jclib::isSjisLead(c) ? 2 : 1;
            else if (c == 0x8F)
                len = 3;
            else if (c >= 0x8E)
                len = 2;
            if (i + len > n) {
                if (!last)
                    m_carry.assign(reinterpret_cast<const char*>(u + i), n - i);
                else
                    replacement(&whole);
                break;
            }
            if (c != 0) whole.append(reinterpret_cast<const char*>(u + i), len);
            i += len;
        }
        if (m_kind == kEucJp) {
            std::vector<unsigned char> sjis(whole.size() + 1);
            int m = ::eucjpToSjis(reinterpret_cast<const unsigned char*>(whole.data()), static_cast<int>(whole.size()),
                                  sjis.data(), sjis.size());
            whole.assign(reinterpret_cast<const char*>(sjis.data()), static_cast<size_t>(m));
        }
        // Runs of JIS X 0208 text in one go; a code that Windows Shift_JIS
        // adds gives the character it stands for, which the element rules
        // then write as JIS X 0208 or as a gaiji.
        const unsigned char* w = reinterpret_cast<const unsigned char*>(whole.data());
        size_t run = 0;
        for (size_t k = 0; k <= whole.size(); ++k) {
            uint32_t cp = 0;
            if (k < whole.size()) {
                if (!jclib::isSjisLead(w[k]) || k + 1 >= whole.size()) continue;
                const unsigned int code = (w[k] << 8) | w[k + 1];
                if (::sjisToUnicode(code) != 0 || (cp = ::windowsSjisToUnicode(code)) == 0) {
                    ++k;
                    continue;
                }
            }
            appendSjis(w + run, k - run, out);
            if (cp != 0) {
                char utf[4];
                out->append(utf, static_cast<size_t>(::wideToUtf8(&cp, 1, utf)));
                run = k + 2;
                ++k;
            }
        }
    }

    static void appendSjis(const unsigned char* sjis, size_t n, std::string* out) {
        if (n == 0) return;
        std::vector<char> utf(n * 3 + 4);
        int m = ::sjisToUtf8(sjis, static_cast<int>(n), utf.data(), utf.size());
        out->append(utf.data(), static_cast<size_t>(m));
    }

    void utf16(const unsigned char* u, size_t n, bool last, std::string* out) {
        std::vector<unsigned char> le;
        le.reserve(n);
        size_t units = n / 2;
        for (size_t k = 0; k < units; ++k) {
            unsigned char lo = m_kind == kUtf16LE ? u[2 * k] : u[2 * k + 1];
            unsigned char hi = m_kind == kUtf16LE ? u[2 * k + 1] : u[2 * k];
            if (lo == 0 && hi == 0) continue;
            if (m_start && lo == 0xFF && hi == 0xFE) continue;  // the mark
            m_start = false;
            le.push_back(lo);
            le.push_back(hi);
        }
        size_t keepFrom = units * 2;
        // A high surrogate at the end waits for its partner.
        if (!last && le.size() >= 2 && le[le.size() - 1] >= 0xD8 && le[le.size() - 1] <= 0xDB) {
            le.resize(le.size() - 2);
            keepFrom -= 2;
        }
        if (!last) m_carry.assign(reinterpret_cast<const char*>(u + keepFrom), n - keepFrom);
        std::vector<char> utf(le.size() * 2 + 4);
        int m = ::utf16leToUtf8(le.data(), static_cast<int>(le.size() / 2), utf.data());
        out->append(utf.data(), static_cast<size_t>(m));
        if (last && n % 2 == 1) replacement(out);
    }

    Kind m_kind;
    std::string m_carry;
    bool m_start = true;
};

// The encoding named by a declaration (XML declaration "encoding", META
// "charset") in the sample, lower case; empty when there is none.
std::string declaredEncoding(const std::string& lower) {
    for (const char* key : {"encoding=", "charset="}) {
        size_t at = lower.find(key);
        if (at == std::string::npos) continue;
        at += std::strlen(key);
        while (at < lower.size() && (lower[at] == '"' || lower[at] == '\'' || lower[at] == ' ')) ++at;
        size_t end = at;
        while (end < lower.size() &&
               (std::isalnum(static_cast<unsigned char>(lower[end])) || lower[end] == '-' || lower[end] == '_'))
            ++end;
        if (end > at) return lower.substr(at, end - at);
    }
    return std::string();
}

// What the document is written in: its byte-order mark, else its
// declaration, else UTF-8 when the sample is well-formed UTF-8, else
// Shift_JIS.
ToUtf8::Kind documentEncoding(const std::vector<char>& head) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(head.data());
    const size_t n = head.size();
    if (n >= 2 && u[0] == 0xFF && u[1] == 0xFE) return ToUtf8::kUtf16LE;
    if (n >= 2 && u[0] == 0xFE && u[1] == 0xFF) return ToUtf8::kUtf16BE;
    if (n >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) return ToUtf8::kUtf8;
    std::string lower(head.begin(), head.end());
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const std::string name = declaredEncoding(lower);
    if (name == "utf-8" || name == "utf8") return ToUtf8::kUtf8;
    if (name == "shift_jis" || name == "shift-jis" || name == "sjis" || name == "x-sjis" || name == "windows-31j" ||
        name == "cp932" || name == "ms_kanji")
        return ToUtf8::kShiftJis;
    if (name == "euc-jp" || name == "x-euc-jp" || name == "eucjp") return ToUtf8::kEucJp;
    // Well-formed UTF-8 up to the last whole character of the sample.
    size_t end = n;
    size_t back = 0;
    while (end > 0 && back < 3 && (u[end - 1] & 0xC0) == 0x80) {
        --end;
        ++back;
    }
    if (end > 0 && u[end - 1] >= 0xC0) --end;
    return ::isUtf8Text(head.data(), static_cast<int>(end)) ? ToUtf8::kUtf8 : ToUtf8::kShiftJis;
}

}  // namespace

void CSAXParser::setLine() {
    if (m_ctxt != nullptr) m_rules.setEventLine(xmlSAX2GetLineNumber(m_ctxt));
}

void CSAXParser::flushText() {
    if (m_text.empty()) return;
    std::string text;
    text.swap(m_text);
    if (m_pre == 0) {
        // White space as a browser lays it out: a run of it between inline
        // content is one space, written before the content that follows it;
        // at the start and the end of a line box (a block, a cell) it is
        // nothing.
        std::string folded;
        for (char c : text) {
            if (isSpace(c)) {
                if (m_lineText && !m_spaced) m_space = true;
                continue;
            }
            if (m_space) folded += ' ';
            m_space = m_spaced = false;
            m_lineText = true;
            folded += c;
        }
        if (folded.empty()) return;
        text.swap(folded);
    } else {
        m_lineText = true;
        m_space = m_spaced = false;
    }
    // The element rules read text as markup holds it: "&" starts a reference.
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '&')
            escaped += "&amp;";
        else
            escaped += c;
    }
    m_rules.textEvent(escaped.data(), static_cast<int>(escaped.size()));
}

namespace {

// Attributes the element rules read, in the order they get one of a tag's
// five slots when an element has more.
const char* const kRuleAttributes[] = {"id",  "name",   "href", "refid",   "idref",   "title",   "noindex",
                                       "src", "data",   "alt",  "class",   "width",   "start",   "xtype",
                                       "type", "val",   "content", "charset", "encoding"};

int ruleRank(const char* name) {
    int rank = 0;
    for (const char* known : kRuleAttributes) {
        if (strcasecmp(name, known) == 0) return rank;
        ++rank;
    }
    return rank;
}

bool namedOneOf(const char* name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (strcasecmp(name, n) == 0) return true;
    return false;
}

// Elements laid out as blocks: each starts and ends a line. DT's end and
// DD's start are left to the element rules (a DD may go on on its DT's line).
bool isBlock(const char* name) {
    return namedOneOf(name, {"address", "article", "aside",  "blockquote", "body",   "caption", "center", "dd",
                             "details", "dialog",  "dir",    "div",        "dl",     "dt",      "fieldset",
                             "figcaption", "figure", "footer", "form",     "h1",     "h2",      "h3",     "h4",
                             "h5",      "h6",      "header", "hgroup",     "hr",     "legend",  "li",     "main",
                             "menu",    "nav",     "ol",     "p",          "pre",    "section", "summary", "table",
                             "tbody",   "tfoot",   "thead",  "tr",         "ul"});
}

// Elements whose start and end begin a new line box for white space: the
// blocks, table cells and line breaks.
bool startsLineBox(const char* name) {
    return isBlock(name) || namedOneOf(name, {"td", "th", "br"});
}

// Elements of HTML5 that the parser's HTML 4 table does not have.
bool isHtml5Element(const char* name) {
    return namedOneOf(name, {"article", "aside",   "audio",  "bdi",    "canvas",   "data",     "datalist", "details",
                             "dialog",  "embed",   "figcaption", "figure", "footer", "header", "hgroup",   "main",
                             "mark",    "math",    "meter",  "nav",    "output",   "picture",  "progress", "rp",
                             "rt",      "ruby",    "search", "section", "slot",    "source",   "summary",  "svg",
                             "template", "time",   "track",  "video",  "wbr"});
}

}  // namespace

void CSAXParser::registerIdAnchors(const char* name, const char** attributes, bool end) {
    // The tag code comes from the tokenizer's table; the attributes are
    // handed over as the parser read them, entities decoded, so that no
    // quote or other character in a value can cut the tag short.
    m_tagText = end ? "</" : "<";
    m_tagText += name;
    m_tagText += '>';
    TAG_ITEM tag;
    std::memset(&tag, 0, sizeof tag);
    m_tokenizer.parseTag(m_tagText.data(), &tag, static_cast<int>(m_tagText.size()));
    if (end) tag.isEndTag = 1;
    std::memset(tag.attr, 0, sizeof tag.attr);
    m_attributes.clear();
    for (const char** a = attributes; a != nullptr && a[0] != nullptr; a += 2)
        m_attributes.push_back({ruleRank(a[0]), a[0], a[1] ? a[1] : ""});
    std::stable_sort(m_attributes.begin(), m_attributes.end(),
                     [](const Attribute& x, const Attribute& y) { return x.rank < y.rank; });
    const size_t slots = sizeof tag.attr / sizeof tag.attr[0];
    for (size_t i = 0; i < m_attributes.size() && i < slots; ++i) {
        const Attribute& a = m_attributes[i];
        tag.attr[i] = {a.name.data(), static_cast<int32_t>(a.name.size()), a.value.data(),
                       static_cast<int32_t>(a.value.size())};
        // The token text is for error reports only.
        m_tagText.insert(m_tagText.size() - 1, " " + a.name + "=\"" + a.value + "\"");
    }
    m_rules.tagEvent(tag, m_tagText.data(), static_cast<int>(m_tagText.size()));
    // Any element's id is an anchor at the element's place, whether or not
    // the element's rule registers it (a second anchor of a name is
    // ignored).
    if (!end) m_rules.registerIds(m_book, &tag, m_writer, m_sourceNumber);
}

void CSAXParser::startElement(const char* name, const char** attributes) {
    if (m_failure) return;
    try {
        // Style sheets and scripts are never text; neither is the document
        // head but for its title, nor is the head a heading of the book.
        if (m_hidden > 0 || namedOneOf(name, {"style", "script", "template"})) {
            if (m_hidden == 0) flushText();
            ++m_hidden;
            return;
        }
        if (strcasecmp(name, "head") == 0) {
            flushText();
            m_inHead = true;
            return;
        }
        if (m_inHead && !namedOneOf(name, {"title", "meta"})) return;
        flushText();
        setLine();
        if (isBlock(name) && strcasecmp(name, "dd") != 0) m_rules.blockEvent();
        if (startsLineBox(name) || strcasecmp(name, "title") == 0) {
            m_lineText = m_space = m_spaced = false;
        } else if (m_space) {
            // The space before an inline element is the element's neighbour,
            // not part of it (not of a link's text).
            m_space = false;
            m_spaced = true;
            m_rules.textEvent(" ", 1);
        }
        if (strcasecmp(name, "pre") == 0) ++m_pre;
        if (strcasecmp(name, "title") == 0) m_inTitle = true;
        anchorStart(name, attributes);
    } catch (...) {
        m_failure = std::current_exception();
        xmlStopParser(static_cast<htmlParserCtxtPtr>(m_ctxt));
    }
}

void CSAXParser::endElement(const char* name) {
    if (m_failure) return;
    try {
        if (m_hidden > 0) {
            m_text.clear();
            --m_hidden;
            return;
        }
        if (strcasecmp(name, "head") == 0) {
            m_text.clear();
            m_inHead = m_inTitle = false;
            return;
        }
        if (m_inHead && !namedOneOf(name, {"title", "meta"})) return;
        flushText();
        setLine();
        if (strcasecmp(name, "pre") == 0 && m_pre > 0) --m_pre;
        if (strcasecmp(name, "title") == 0) m_inTitle = false;
        anchorEnd(name);
        if (isBlock(name) && strcasecmp(name, "dt") != 0) m_rules.blockEvent();
        if (startsLineBox(name) || strcasecmp(name, "title") == 0) m_lineText = m_space = m_spaced = false;
    } catch (...) {
        m_failure = std::current_exception();
        xmlStopParser(static_cast<htmlParserCtxtPtr>(m_ctxt));
    }
}

void CSAXParser::characters(const char* text, int len) {
    if (m_failure || len <= 0 || m_hidden > 0 || (m_inHead && !m_inTitle)) return;
    m_text.append(text, static_cast<size_t>(len));
}

void CSAXParser::parseError(int line, const char* message) {
    if (m_errorReported) return;
    m_errorReported = true;
    std::string text = message ? message : "parse error";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    m_rules.setEventLine(line);
    m_rules.reportError(m_path.c_str(), nullptr, text.c_str(), nullptr, 0);
    setLine();
}

void CSAXParser::unknownElement(int line, const char* name) {
    if (name == nullptr || isHtml5Element(name)) return;
    // Elements of the markup (headword, key and the like) are the rules'.
    const std::string tagText = std::string("<") + name + ">";
    TAG_ITEM tag;
    std::memset(&tag, 0, sizeof tag);
    m_tokenizer.parseTag(tagText.data(), &tag, static_cast<int>(tagText.size()));
    if (tag.code != TAG_UNKNOWN || m_noted || m_callback == nullptr) return;
    // A note, once a document, that leaves the first error to be reported.
    m_noted = true;
    char note[1400];
    std::snprintf(note, sizeof note, " Note in %.1024s (Line=%d) : element %.200s unknown, its content read as text\n\n",
                  m_path.c_str(), line, name);
    m_callback(note);
}

void CSAXParser::parse(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int full,
                       int sourceNumber) {
    if (book == nullptr || source == nullptr || writer == nullptr) return;
    m_path = source->path;
    m_book = book;
    m_writer = writer;
    m_sourceNumber = sourceNumber;
    m_text.clear();
    m_pre = 0;
    m_hidden = 0;
    m_inHead = m_inTitle = false;
    m_errorReported = false;
    m_noted = false;
    m_lineText = m_space = m_spaced = false;
    m_failure = nullptr;
    m_progress = 0;
    m_rules.beginEvents(book, opt, source, writer, full, sourceNumber, true, true);

    FilePtr file = openFile(source->path, "rb");
    if (file) {
        std::vector<char> chunk(kChunk);
        size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
        chunk.resize(got);
        ToUtf8 decoder(documentEncoding(chunk));
        htmlSAXHandler sax;
        std::memset(&sax, 0, sizeof sax);
        sax.initialized = XML_SAX2_MAGIC;
        sax.startElement = onStart;
        sax.endElement = onEnd;
        sax.characters = onCharacters;
        sax.cdataBlock = onCharacters;
        sax.ignorableWhitespace = onCharacters;
        sax.serror = onStructuredError;
        sax.error = quiet;
        sax.warning = quiet;
        std::unique_ptr<htmlParserCtxt, CtxtFree> ctxt(
            htmlCreatePushParserCtxt(&sax, this, nullptr, 0, source->path, XML_CHAR_ENCODING_UTF8));
        if (!ctxt) throw std::runtime_error("memory allocate error!!(CSAXParser)");
        // The text reaches the parser as UTF-8, whatever the document says.
        htmlCtxtUseOptions(ctxt.get(), HTML_PARSE_NONET | HTML_PARSE_COMPACT | HTML_PARSE_IGNORE_ENC);
        m_ctxt = ctxt.get();
        int64_t done = 0;
        std::string utf8;
        try {
            for (;;) {
                const bool last = chunk.empty();
                decoder.convert(chunk.data(), chunk.size(), last, &utf8);
                htmlParseChunk(ctxt.get(), utf8.data(), static_cast<int>(utf8.size()), last ? 1 : 0);
                if (m_failure || last) break;
                done += static_cast<int64_t>(chunk.size());
                int p = CEBBook::percentOf(done, source->fileSize);
                m_progress = p > 99 ? 99 : p;
                book->setProgress(m_progress);
                CEBBook::checkAbort();
                chunk.resize(kChunk);
                got = std::fread(chunk.data(), 1, chunk.size(), file.get());
                chunk.resize(got);
            }
        } catch (...) {
            m_ctxt = nullptr;
            throw;
        }
        m_ctxt = nullptr;
        if (m_failure) std::rethrow_exception(m_failure);
        flushText();
    }
    m_rules.endEvents();
    m_progress = 100;
}
