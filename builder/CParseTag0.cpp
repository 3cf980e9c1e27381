#include "builder/CParseTag0.h"

#include <cstring>
#include <new>

namespace {

struct TagRow {
    const char* name;
    int open;
    int close;
};

// Searched in this order; a name matches a row of exactly its length,
// ignoring ASCII case.
const TagRow kTagTable[] = {
    {"META", 1, 1},
    {"HTML", 2, 3},
    {"BLOCKQUOTE", 83, 84},
    {"CAPTION", 81, 82},
    {"STRONG", 53, 54},
    {"OBJECT", 85, 86},
    {"TABLE", 73, 74},
    {"TITLE", 6, 7},
    {"NOBR", 51, 52},
    {"CITE", 57, 58},
    {"SPAN", 63, 64},
    {"RUBY", 65, 66},
    {"BODY", 8, 9},
    {"HEAD", 4, 5},
    {"IMG", 10, 11},
    {"SUP", 47, 48},
    {"SUB", 49, 50},
    {"DFN", 59, 60},
    {"DIV", 61, 62},
    {"PRE", 71, 72},
    {"DEL", 87, 88},
    {"EM", 55, 56},
    {"H1", 12, 13},
    {"H2", 14, 15},
    {"H3", 16, 17},
    {"H4", 18, 19},
    {"H5", 20, 21},
    {"H6", 22, 23},
    {"UL", 28, 29},
    {"OL", 30, 31},
    {"DL", 32, 33},
    {"DT", 36, 37},
    {"DD", 38, 39},
    {"LI", 34, 35},
    {"BR", 40, 40},
    {"RB", 67, 68},
    {"RT", 69, 70},
    {"TR", 75, 76},
    {"TH", 77, 78},
    {"TD", 79, 80},
    {"JEPAX", 111, 112},
    {"JEPAXINFO", 113, 114},
    {"BOOKINFO", 115, 116},
    {"BOOK-TITLE", 117, 118},
    {"FRONT", 119, 120},
    {"FLOAT", 133, 134},
    {"BACK", 121, 122},
    {"NOTE", 129, 130},
    {"REF", 127, 128},
    {"RES", 131, 132},
    {"KEY", 135, 136},
    {"MLG", 137, 138},
    {"NO", 123, 124},
    {"GI", 125, 126},
    {"DICX", 139, 140},
    {"SUBHEADWORD", 141, 142},
    {"SUBHEAD", 155, 156},
    {"DIC-ITEM", 143, 144},
    {"HEADWORD", 145, 146},
    {"MEANING", 147, 148},
    {"MEANING-HEAD", 153, 154},
    {"EXAMPLE", 149, 150},
    {"INDEX", 151, 152},
    {"SUBCATEGORY", 105, 106},
    {"CATEGORY", 103, 104},
    {"COMPLEX", 99, 100},
    {"KEYWORD", 109, 110},
    {"GROUP", 101, 102},
    {"ATTR", 107, 108},
    {"GAIJIDATA", 89, 90},
    {"FONTSET", 91, 92},
    {"FONTDATA", 93, 94},
    {"GAIJISET", 95, 96},
    {"GAIJIMAP", 97, 98},
    {"INDENT", 159, 160},
    {"X4081", 161, 162},
    {"EA", 157, 158},
    {"A", 26, 27},
    {"B", 41, 42},
    {"I", 43, 44},
    {"P", 24, 25},
    {"U", 45, 46},
    {"!", 163, 163},
    {"?xml", 164, 164},
};

// Control characters of the C locale; bytes from 0x80 up are characters.
inline bool isControl(int c) {
    return (c >= 0 && c < 0x20) || c == 0x7F;
}
inline bool isBlankOrControl(int c) {
    return c == ' ' || isControl(c);
}
inline bool isWhite(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline int lowerAscii(int c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

bool sameNameNoCase(const char* a, const char* b, int n) {
    for (int i = 0; i < n; ++i)
        if (lowerAscii(static_cast<unsigned char>(a[i])) != lowerAscii(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

void clearTag(TAG_ITEM* tag) {
    tag->code = TAG_UNKNOWN;
    tag->isEndTag = 0;
    for (TAG_ATTR_ITEM& a : tag->attr) {
        a.name = nullptr;
        a.nameLen = 0;
        a.value = nullptr;
        a.valueLen = 0;
    }
}

// Length of the longest prefix of p[0..len) that ends on a character
// boundary. The tokenizer does not know the encoding, so text that is valid
// UTF-8 up to a sequence cut by the end is taken as UTF-8, anything else as
// Shift_JIS read from the start (p begins on a boundary).
int characterBoundary(const unsigned char* p, int len) {
    bool utf8 = true;
    int lastStart = 0;  // start of the last complete-or-not sequence
    int i = 0;
    while (i < len) {
        unsigned char c = p[i];
        int need = c < 0x80                   ? 0
                   : (c >= 0xC2 && c <= 0xDF) ? 1
                   : (c >= 0xE0 && c <= 0xEF) ? 2
                   : (c >= 0xF0 && c <= 0xF4) ? 3
                                              : -1;
        if (need < 0) {
            utf8 = false;
            break;
        }
        lastStart = i;
        int j = 1;
        while (j <= need && i + j < len && (p[i + j] & 0xC0) == 0x80) ++j;
        if (j <= need) {
            if (i + j < len) {
                utf8 = false;
                break;
            }                  // a non-continuation byte too early
            return lastStart;  // cut inside the last sequence
        }
        i += need + 1;
    }
    if (utf8) return len;
    i = 0;
    while (i < len) {
        unsigned char c = p[i];
        bool lead = ((c ^ 0x20u) - 0xA1u) < 60u;
        if (lead) {
            if (i + 1 >= len) return i;
            i += 2;
        } else {
            i += 1;
        }
    }
    return len;
}

}  // namespace

CParseTag0::CParseTag0() : m_stackIndex(-1), m_file(nullptr), m_line(0), m_cut(0) {
    std::memset(m_stack, 0, sizeof m_stack);
}

CParseTag0::~CParseTag0() {
    close();
}

void CParseTag0::reset() {
    m_stackIndex = -1;
    m_line = 1;
}

int CParseTag0::open(const char* path) {
    close();
    m_line = 1;
    m_cut = 0;
    m_pushBack.clear();
    if (path == nullptr) return -1;
    m_file = std::fopen(path, "rb");
    if (m_file == nullptr) return -1;
    m_buffer.reset(new (std::nothrow) char[kBufferSize]);
    if (!m_buffer) {
        std::fclose(m_file);
        m_file = nullptr;
        return -1;
    }
    m_buffer[0] = 0;
    // A UTF-8 byte-order mark is not text (EF BB is no JIS X 0208 character,
    // so a Shift_JIS file never starts so).
    int b0 = std::fgetc(m_file);
    int b1 = b0 == 0xEF ? std::fgetc(m_file) : EOF;
    int b2 = b1 == 0xBB ? std::fgetc(m_file) : EOF;
    if (!(b0 == 0xEF && b1 == 0xBB && b2 == 0xBF)) {
        // Read past the line counter, so put back past it as well.
        for (int b : {b2, b1, b0})
            if (b != EOF) m_pushBack.push_back(static_cast<unsigned char>(b));
    }
    return 0;
}

void CParseTag0::close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_buffer.reset();
    m_pushBack.clear();
}

int CParseTag0::readByte() {
    int c;
    if (!m_pushBack.empty()) {
        c = m_pushBack.back();
        m_pushBack.pop_back();
    } else {
        c = getc_unlocked(m_file);
    }
    if (c == '\n') ++m_line;
    return c;
}

void CParseTag0::unreadByte(int c) {
    if (c == EOF) return;
    if (c == '\n') --m_line;
    m_pushBack.push_back(static_cast<unsigned char>(c));
}

int CParseTag0::nextToken(char** text, TAG_ITEM* tag, int keepSpace) {
    TAG_ITEM scratch;
    if (tag == nullptr) tag = &scratch;
    clearTag(tag);
    m_cut = 0;
    if (m_file == nullptr || !m_buffer) return 0;
    char* buf = m_buffer.get();
    buf[0] = 0;
    if (text != nullptr) *text = buf;
    const int cap = kBufferSize - 1;  // room for the terminating zero

    int c = readByte();
    if (c == EOF) return 0;

    int len = 0;
    int blanks = 0;
    if (!keepSpace) {
        while (c != EOF && isBlankOrControl(c)) {
            if (c == ' ' || c == '\t') ++blanks;
            c = readByte();
        }
        if (c == EOF) return 0;
    } else {
        while (c != EOF && isControl(c)) {
            if (len >= cap) {
                unreadByte(c);
                m_cut = 1;
                buf[len] = 0;
                tag->code = TAG_TEXT;
                return len;
            }
            buf[len++] = static_cast<char>(c);
            c = readByte();
        }
        if (len > 0 && (c == EOF || c == '<')) {
            // Kept line breaks before a tag (or the end) are a token of their own.
            unreadByte(c);
            buf[len] = 0;
            tag->code = TAG_TEXT;
            return len;
        }
        if (c == EOF) return 0;
    }

    if (blanks > 0 || c != '<') {
        tag->code = TAG_TEXT;
        if (blanks > 0) buf[len++] = ' ';
        const int runStart = len;
        while (c != EOF) {
            if (c == '\t' || c == '\n' || c == '\r' || c == '<') {
                unreadByte(c);
                break;
            }
            if (len >= cap) {
                unreadByte(c);
                m_cut = 1;
                break;
            }
            buf[len++] = static_cast<char>(c);
            c = readByte();
        }
        if (m_cut) {
            int keep = runStart + characterBoundary(reinterpret_cast<unsigned char*>(buf) + runStart, len - runStart);
            if (keep == 0) keep = len;  // no boundary at all: cut where the buffer ends
            for (int k = len - 1; k >= keep; --k) unreadByte(static_cast<unsigned char>(buf[k]));
            len = keep;
        }
        buf[len] = 0;
        return len;
    }

    // A tag: from '<' to the first '>' outside double quotes; a comment
    // "<!--" to its "-->". A comment longer than the buffer keeps its start
    // and the rest is passed over.
    buf[len++] = '<';
    bool quoted = false;
    unsigned tail = 0;  // the last three bytes of a comment
    for (;;) {
        c = readByte();
        if (c == EOF) break;
        const bool comment = len >= 4 && std::memcmp(buf, "<!--", 4) == 0;
        if (comment) {
            tail = ((tail << 8) | static_cast<unsigned char>(c)) & 0xFFFFFFu;
            if (len < cap) buf[len++] = static_cast<char>(c);
            if (tail == 0x2D2D3E) break;  // "-->"
            continue;
        }
        if (len >= cap) {
            unreadByte(c);
            m_cut = 1;
            break;
        }
        buf[len++] = static_cast<char>(c);
        if (len == 4 && std::memcmp(buf, "<!--", 4) == 0) continue;
        if (c == '"')
            quoted = !quoted;
        else if (c == '>' && !quoted)
            break;
    }
    if (m_cut) {
        int keep = characterBoundary(reinterpret_cast<unsigned char*>(buf), len);
        if (keep == 0) keep = len;
        for (int k = len - 1; k >= keep; --k) unreadByte(static_cast<unsigned char>(buf[k]));
        len = keep;
    }
    buf[len] = 0;
    analyse(buf, len, tag);
    return len;
}

int CParseTag0::parseTag(const char* buffer, TAG_ITEM* tag, int length, int* tokenStart) {
    TAG_ITEM scratch;
    if (tag == nullptr) tag = &scratch;
    clearTag(tag);
    if (tokenStart != nullptr) *tokenStart = 0;
    if (buffer == nullptr || length <= 0) {
        tag->code = TAG_TEXT;
        return 0;
    }
    int i = 0;
    while (i < length && isControl(static_cast<unsigned char>(buffer[i]))) ++i;
    if (tokenStart != nullptr) *tokenStart = i;
    if (i >= length) {
        tag->code = TAG_TEXT;
        return i;
    }
    if (buffer[i] != '<') {
        tag->code = TAG_TEXT;
        while (i < length) {
            char c = buffer[i];
            if (c == '<' || c == '\r' || c == '\n' || c == '\t') break;
            ++i;
        }
        return i;
    }
    const int start = i++;
    bool quoted = false;
    const bool comment = length - start >= 4 && std::memcmp(buffer + start, "<!--", 4) == 0;
    if (comment) {
        // A comment runs to its "-->" (or the end of the buffer).
        i = start + 4;
        while (i < length && !(i - start >= 6 && buffer[i] == '>' && buffer[i - 1] == '-' && buffer[i - 2] == '-')) ++i;
        if (i < length) ++i;
    }
    while (!comment && i < length) {
        char c = buffer[i++];
        if (c == '"')
            quoted = !quoted;
        else if (c == '>' && !quoted)
            break;
    }
    analyse(buffer + start, i - start, tag);
    return i;
}

// Names the tag p[0..len) (p[0] is '<') and records its attributes; never
// looks outside the token.
void CParseTag0::analyse(const char* p, int len, TAG_ITEM* tag) {
    tag->code = TAG_UNKNOWN;
    int i = 1;
    if (i < len && p[i] == '/') {
        tag->isEndTag = 1;
        ++i;
    }
    const int nameStart = i;
    while (i < len && p[i] != ' ' && p[i] != '/' && p[i] != '>') ++i;
    const int nameLen = i - nameStart;

    if (len >= 4 && p[1] == '!' && p[2] == '-' && p[3] == '-') tag->code = TAG_COMMENT;
    // The first letter sorts out most rows before their length is taken.
    const char first = nameLen > 0 ? static_cast<char>(p[nameStart] | 0x20) : 0;
    for (const TagRow& row : kTagTable) {
        if (static_cast<char>(row.name[0] | 0x20) == first && static_cast<int>(std::strlen(row.name)) == nameLen &&
            sameNameNoCase(p + nameStart, row.name, nameLen)) {
            tag->code = tag->isEndTag ? row.close : row.open;
            break;
        }
    }

    if (i < len && p[i] == ' ') {
        int n = 0;
        while (n < 5) {
            while (i < len && isWhite(static_cast<unsigned char>(p[i]))) ++i;
            if (i >= len || p[i] == '>' || p[i] == '/') break;
            TAG_ATTR_ITEM& a = tag->attr[n++];
            const int ns = i;
            while (i < len && p[i] != '=' && p[i] != '/' && p[i] != '>') ++i;
            a.name = p + ns;
            a.nameLen = i - ns;
            if (i >= len || p[i] != '=') break;  // a name without a value ends the list
            ++i;
            if (i < len && p[i] == '"') {
                const int vs = ++i;
                while (i < len && p[i] != '"') ++i;
                a.value = p + vs;
                a.valueLen = i - vs;
                if (i < len) ++i;
            } else {
                const int vs = i;
                while (i < len && p[i] != ',' && p[i] != '/' && p[i] != '>' && p[i] != '"' &&
                       !isWhite(static_cast<unsigned char>(p[i])))
                    ++i;
                a.value = p + vs;
                a.valueLen = i - vs;
            }
            if (i < len && p[i] == ',')
                ++i;
            else if (i < len && (p[i] == '/' || p[i] == '>'))
                break;
        }
    }

    // Any '/' left before the closing '>' marks the tag as closing itself.
    while (i < len && p[i] != '>') {
        if (p[i] == '/') tag->isEndTag = 1;
        ++i;
    }
}

void CParseTag0::push(int code) {
    if (m_stackIndex + 1 < kStackSize) m_stack[++m_stackIndex] = code;
}

int CParseTag0::pop() {
    if (m_stackIndex < 0) return kEmptyStackCode;
    return m_stack[m_stackIndex--];
}

int CParseTag0::top() const {
    if (m_stackIndex < 0) return kEmptyStackCode;
    return m_stack[m_stackIndex];
}
