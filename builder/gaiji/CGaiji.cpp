#include "builder/gaiji/CGaiji.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "builder/CParseTag0.h"
#include "foundation/FileHandle.h"

namespace {

const uint16_t kDefaultNarrow = 0xA121;
const uint16_t kDefaultWide = 0xB121;
const uint32_t kLastCode = 0xFE7E;
// Entry arrays beyond this many entries are refused like a failed allocation.
const int kMaxEntries = 1 << 20;
// Definition files are read whole; larger files are refused.
const long kMaxDefinitionFile = 64L * 1024 * 1024;
// Longest line of glyph rows inside FONTDATA (one 48x48 glyph on one line).
const int kMaxFontLine = 2304;

// Context codes pushed while a map entry or a glyph is open.
const int kInGaijiMap = 21;
const int kInFontData = 20;

// Order in which FONTSET size values are tried.
const int kSizeSearchOrder[GAIJI_FONT_SIZES] = {
    GAIJI_16X16, GAIJI_24X24, GAIJI_32X30, GAIJI_48X48, GAIJI_8X16, GAIJI_12X24, GAIJI_16X24, GAIJI_16X30, GAIJI_24X48,
};

inline int lowerAscii(int c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// The first n bytes of text equal key, ignoring ASCII case; text holds len bytes.
bool startsWithNoCase(const char* text, int len, const char* key, int n) {
    if (text == nullptr || len < n) return false;
    for (int i = 0; i < n; ++i)
        if (lowerAscii(static_cast<unsigned char>(text[i])) != lowerAscii(static_cast<unsigned char>(key[i])))
            return false;
    return true;
}

bool equalNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = lowerAscii(static_cast<unsigned char>(*a));
        int cb = lowerAscii(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

// A zero-terminated copy of an attribute value, cut to the buffer.
struct ValueText {
    char text[64];
    ValueText(const char* v, int n) {
        if (n < 0) n = 0;
        if (n > static_cast<int>(sizeof text) - 1) n = sizeof text - 1;
        if (n > 0) std::memcpy(text, v, n);
        text[n] = 0;
    }
};

unsigned long parseUnsigned(const char* text, int base) {
    errno = 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, base);
    if (end == text || errno != 0 || v > 0xFFFFFFFFUL) return 0;
    return v;
}

// Reads a definition file whole. 0, -1 when it cannot be opened; throws when
// it is larger than any definition file should be.
int readWholeFile(const char* path, std::vector<char>* data, const char* tooLarge) {
    if (path == nullptr) return -1;
    FilePtr f(std::fopen(path, "rb"));
    if (!f) return -1;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) return -1;
    long size = std::ftell(f.get());
    if (size < 0) return -1;
    if (size > kMaxDefinitionFile) throw std::runtime_error(tooLarge);
    std::rewind(f.get());
    data->assign(static_cast<size_t>(size), 0);
    size_t got = size > 0 ? std::fread(data->data(), 1, data->size(), f.get()) : 0;
    data->resize(got);
    return 0;
}

inline bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

int lineOf(const std::vector<char>& data, size_t pos) {
    int line = 1;
    for (size_t i = 0; i < pos && i < data.size(); ++i)
        if (data[i] == '\n') ++line;
    return line;
}

// Reads one line of at most 1023 bytes (the rest of a longer line is
// discarded); false at the end of the file with nothing read.
bool readTextLine(FILE* f, std::string* line) {
    line->clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line->size() < 1023) line->push_back(static_cast<char>(c));
    }
    return any;
}

// Code points that take a narrow (half-width) gaiji code.
bool takesNarrowCode(uint32_t cp) {
    return cp <= 0x05FF || (cp >= 0x0E00 && cp <= 0x0EFF) || (cp >= 0x1E00 && cp <= 0x1FFF) ||
           (cp >= 0x2C60 && cp <= 0x2C7F) || (cp >= 0xFB00 && cp <= 0xFB4F) || (cp >= 0xFE20 && cp <= 0xFE2F) ||
           (cp >= 0xFE50 && cp <= 0xFE6F) || (cp >= 0xFF61 && cp <= 0xFF9F);
}

// A code with a cell outside 0x21..0x7E moves to the next valid cell.
uint32_t toValidCell(uint32_t code) {
    uint32_t low = code & 0xFF;
    if (low < 0x21) return (code & 0xFF00) | 0x21;
    if (low > 0x7E) return ((code + 0x100) & 0xFF00) | 0x21;
    return code;
}

}  // namespace

CGaiji::CGaiji() : m_sizeMask(0), m_callback(nullptr), m_narrowReported(false), m_wideReported(false) {
    try {
        m_items.resize(kCapacityStep);
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("memory allocate error!!(gaijiMap)");
    }
    m_state.narrowStart = kDefaultNarrow;
    m_state.narrowNext = kDefaultNarrow;
    m_state.wideStart = kDefaultWide;
    m_state.wideNext = kDefaultWide;
    m_state.gaijiMap = m_items.data();
    m_state.count = 0;
}

CGaiji::~CGaiji() = default;

uint32_t CGaiji::nextCode(uint32_t code) {
    uint32_t c = code + 1;
    if ((c & 0xFF) <= 0x7E) return c;
    return ((code + 0x101) & 0xFF00) + 0x21;
}

bool CGaiji::isGaijiCode(uint32_t code) {
    uint32_t high = code >> 8, low = code & 0xFF;
    return code <= 0xFFFF && high >= 0xA1 && high <= 0xFE && low >= 0x21 && low <= 0x7E;
}

int CGaiji::sizeWidth(int size) {
    return size >= 0 && size < GAIJI_FONT_SIZES ? kGaijiFonts[size].width : 0;
}
int CGaiji::sizeHeight(int size) {
    return size >= 0 && size < GAIJI_FONT_SIZES ? kGaijiFonts[size].height : 0;
}
int CGaiji::sizeMaskBit(int size) {
    return size >= 0 && size < GAIJI_FONT_SIZES ? kGaijiFonts[size].maskBit : 0;
}

bool CGaiji::sizeIsNarrow(int size) {
    return sizeWidth(size) != sizeHeight(size) && size != GAIJI_32X30;
}

int CGaiji::hexIndex(int size) {
    switch (size) {
        case GAIJI_8X16:
            return 0;
        case GAIJI_16X16:
            return 1;
        case GAIJI_12X24:
            return 2;
        case GAIJI_24X24:
            return 3;
        default:
            return -1;
    }
}

void CGaiji::report(const std::string& text) {
    if (m_callback != nullptr) m_callback(text.c_str());
}

void CGaiji::setStartCodes(uint16_t narrow, uint16_t wide) {
    if (m_state.count != 0) return;
    if (!isGaijiCode(narrow) || !isGaijiCode(wide) || narrow > kLastCode || wide > kLastCode) return;
    m_state.narrowStart = m_state.narrowNext = narrow;
    m_state.wideStart = m_state.wideNext = wide;
}

void CGaiji::growIfFull() {
    if (m_state.count < static_cast<int>(m_items.size())) return;
    if (static_cast<int>(m_items.size()) + kCapacityStep > kMaxEntries)
        throw std::runtime_error("gaijiMap overflow(parseGaijiMap)");
    try {
        m_items.resize(m_items.size() + kCapacityStep);
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("gaijiMap overflow(parseGaijiMap)");
    }
    m_state.gaijiMap = m_items.data();
}

void CGaiji::clearEntries() {
    m_state.count = 0;
    m_firstByUnicode.clear();
    m_takenCodes.clear();
    m_ownTexts.clear();
}

void CGaiji::commitEntry() {
    const int index = m_state.count;
    const GAIJI_ITEM& e = m_items[index];
    if (e.unicode != 0) m_firstByUnicode.emplace(e.unicode, index);
    if (e.ebCode != 0) ++m_takenCodes[e.ebCode];
    m_state.count = index + 1;
}

// Next free code of one range, passing over codes that entries hold
// already; 0 when the range is used up or meets the other range.
uint16_t CGaiji::takeCode(bool narrow, uint32_t codePoint) {
    uint16_t& next = narrow ? m_state.narrowNext : m_state.wideNext;
    const uint32_t ownStart = narrow ? m_state.narrowStart : m_state.wideStart;
    const uint32_t otherStart = narrow ? m_state.wideStart : m_state.narrowStart;

    uint32_t code = next <= 0xFE7F ? toValidCell(next) : next;
    while (code <= 0xFE7F && m_takenCodes.count(code) != 0) code = nextCode(code);
    bool usedUp = code > 0xFE7F || (code >= otherStart && ownStart <= otherStart);
    if (usedUp) {
        bool& reported = narrow ? m_narrowReported : m_wideReported;
        if (!reported) {
            reported = true;
            char text[160];
            std::snprintf(text, sizeof text,
                          "gaiji codes used up: no %s code for U+%04X and later characters(allocateCode)\r\n",
                          narrow ? "narrow" : "wide", static_cast<unsigned>(codePoint));
            report(text);
        }
        return 0;
    }
    next = static_cast<uint16_t>(nextCode(code));
    return static_cast<uint16_t>(code);
}

int CGaiji::allocateCode(uint32_t codePoint, uint32_t* ebCode) {
    growIfFull();
    uint16_t code = 0;
    if (codePoint != 0) code = takeCode(takesNarrowCode(codePoint), codePoint);
    if (code != 0) {
        GAIJI_ITEM& e = m_items[m_state.count];
        e.name = nullptr;
        e.mojikyo = 0;
        e.unicode = codePoint;
        e.ebCode = code;
        e.alt = nullptr;
        commitEntry();
    }
    if (ebCode != nullptr) *ebCode = code;
    return 0;
}

int CGaiji::lookupUnicode(uint32_t codePoint, uint32_t* ebCode, const char** alt, int create) {
    auto it = codePoint != 0 ? m_firstByUnicode.find(codePoint) : m_firstByUnicode.end();
    if (it != m_firstByUnicode.end()) {
        const GAIJI_ITEM& e = m_items[it->second];
        if (ebCode != nullptr) *ebCode = e.ebCode;
        if (alt != nullptr) *alt = e.alt;
        return 0;
    }
    if (alt != nullptr) *alt = nullptr;
    if (create) allocateCode(codePoint, ebCode);
    return 0;
}

int CGaiji::findByName(const char* name, uint32_t* unicode, uint32_t* ebCode, const char** alt) {
    if (name == nullptr) return -1;
    for (int i = 0; i < m_state.count; ++i) {
        const GAIJI_ITEM& e = m_items[i];
        if (e.name != nullptr && equalNoCase(e.name, name)) {
            if (unicode != nullptr) *unicode = e.unicode;
            if (ebCode != nullptr) *ebCode = e.ebCode;
            if (alt != nullptr) *alt = e.alt;
            break;
        }
    }
    return -1;
}

uint32_t CGaiji::unicodeForCode(uint32_t code) const {
    if (code == 0) return 0;
    for (int i = 0; i < m_state.count; ++i)
        if (m_items[i].ebCode == code) return m_items[i].unicode;
    return 0;
}

bool CGaiji::isNarrowCode(uint32_t code) const {
    return m_state.narrowStart <= code && code < m_state.narrowNext;
}

bool CGaiji::isWideCode(uint32_t code) const {
    return m_state.wideStart <= code && code < m_state.wideNext;
}

int CGaiji::parseGaijiMap(const char* path, StringStore store, void* owner) {
    clearEntries();
    std::vector<char> data;
    if (readWholeFile(path, &data, "gaiji map file too large(parseGaijiMap)") != 0) return -1;

    auto keep = [&](const char* value, int n) -> const char* {
        if (store != nullptr) {
            std::string copy(value, static_cast<size_t>(n));
            copy.push_back('\0');
            return store(owner, copy.data(), n + 1);
        }
        m_ownTexts.emplace_back(value, static_cast<size_t>(n));
        return m_ownTexts.back().c_str();
    };

    std::unique_ptr<CParseTag0> tok(new CParseTag0());
    tok->reset();
    tok->push(CParseTag0::kEmptyStackCode);
    const size_t size = data.size();
    size_t pos = 0;
    // The entry at count has been filled by a start tag and not yet committed.
    // Only such an entry is committed: an end tag left over from a start tag
    // that a later one overwrote adds nothing (the slot after the table may
    // lie beyond the array).
    bool entryOpen = false;
    while (pos < size) {
        while (pos < size && isControl(static_cast<unsigned char>(data[pos]))) ++pos;
        if (pos >= size) break;
        TAG_ITEM tag;
        int used = tok->parseTag(data.data() + pos, &tag, static_cast<int>(size - pos));
        if (used <= 0) break;
        if (tag.code == TAG_GAIJIMAP) {
            growIfFull();
            tok->push(kInGaijiMap);
            GAIJI_ITEM& e = m_items[m_state.count];
            e = GAIJI_ITEM();
            entryOpen = true;
            for (const TAG_ATTR_ITEM& a : tag.attr) {
                if (a.name == nullptr) break;
                if (a.value == nullptr || a.valueLen <= 0) continue;
                ValueText v(a.value, a.valueLen);
                if (startsWithNoCase(a.name, a.nameLen, "mojikyo", 7)) {
                    e.mojikyo = static_cast<int32_t>(std::strtol(v.text, nullptr, 10));
                } else if (startsWithNoCase(a.name, a.nameLen, "unicode", 7)) {
                    if (v.text[0] == '#' && (v.text[1] == 'x' || v.text[1] == 'X'))
                        e.unicode = static_cast<uint32_t>(parseUnsigned(v.text + 2, 16));
                    else if (v.text[0] == '#')
                        e.unicode = static_cast<uint32_t>(parseUnsigned(v.text + 1, 10));
                    else
                        e.unicode = static_cast<uint32_t>(parseUnsigned(v.text, 16));
                } else if (startsWithNoCase(a.name, a.nameLen, "ebcode", 6)) {
                    unsigned code = 0;
                    if (std::sscanf(v.text, "%4x", &code) == 1) e.ebCode = code;
                } else if (startsWithNoCase(a.name, a.nameLen, "name", 4)) {
                    e.name = keep(a.value, a.valueLen);
                } else if (startsWithNoCase(a.name, a.nameLen, "alt", 3)) {
                    e.alt = keep(a.value, a.valueLen);
                }
            }
            if (tag.isEndTag) {
                tok->pop();
                commitEntry();
                entryOpen = false;
            }
        } else if (tag.code == TAG_GAIJIMAP_END) {
            if (tok->pop() != kInGaijiMap)
                throw std::runtime_error("<GAIJIMAP></GAIJIMAP> Miss Match!!(parseGaijiMap)");
            if (entryOpen) commitEntry();
            entryOpen = false;
        }
        pos += static_cast<size_t>(used);
    }
    return 0;
}

int CGaiji::parseGaijiFont(const char* path) {
    std::vector<char> data;
    if (readWholeFile(path, &data, "gaiji font file too large(parseGaijiFont)") != 0) return 0;
    m_sizeMask = 0;
    for (auto& m : m_font) m.clear();

    std::unique_ptr<CParseTag0> tok(new CParseTag0());
    tok->reset();
    tok->push(CParseTag0::kEmptyStackCode);
    int curSize = GAIJI_16X16;
    std::map<uint32_t, std::string>* curMap = nullptr;
    uint32_t curCode = 0;
    std::string glyph;

    auto invalidCode = [](uint32_t code) {
        char text[80];
        std::snprintf(text, sizeof text, "invalid gaiji code:ebcode=%04X (parseGaijiFont)", code);
        return std::runtime_error(text);
    };

    // The code after the last glyph becomes the next code of the set's range
    // (nothing when no start was ever given). A set left open by a broken
    // file is closed by the next set or by the end of the file.
    bool setOpen = false;
    auto closeSet = [&]() {
        setOpen = false;
        if (curCode == 0) return;
        uint16_t& next = sizeIsNarrow(curSize) ? m_state.narrowNext : m_state.wideNext;
        const uint16_t first = sizeIsNarrow(curSize) ? m_state.narrowStart : m_state.wideStart;
        next = static_cast<uint16_t>(curCode < first ? first : curCode);
    };

    const size_t size = data.size();
    size_t pos = 0;
    while (pos < size) {
        while (pos < size && isControl(static_cast<unsigned char>(data[pos]))) ++pos;
        if (pos >= size) break;
        TAG_ITEM tag;
        int start = 0;
        int used = tok->parseTag(data.data() + pos, &tag, static_cast<int>(size - pos), &start);
        if (used <= 0) break;
        switch (tag.code) {
            case TAG_FONTSET:
                if (setOpen) closeSet();
                setOpen = true;
                curSize = GAIJI_16X16;
                for (const TAG_ATTR_ITEM& a : tag.attr) {
                    if (a.name == nullptr) break;
                    if (startsWithNoCase(a.name, a.nameLen, "size", 4)) {
                        int found = -1;
                        for (int s : kSizeSearchOrder) {
                            if (startsWithNoCase(a.value, a.valueLen, kGaijiFonts[s].label,
                                                 static_cast<int>(std::strlen(kGaijiFonts[s].label)))) {
                                found = s;
                                break;
                            }
                        }
                        if (found < 0) throw std::runtime_error("unknown gaiji size (parseGaijiFont)");
                        curSize = found;
                        m_sizeMask |= kGaijiFonts[found].maskBit;
                        curMap = &m_font[found];
                    } else if (startsWithNoCase(a.name, a.nameLen, "start", 4)) {
                        ValueText v(a.value, a.valueLen);
                        unsigned code = 0;
                        if (std::sscanf(v.text, "%4x", &code) != 1 || !isGaijiCode(code)) throw invalidCode(code);
                        curCode = code;
                        if (sizeIsNarrow(curSize))
                            m_state.narrowStart = static_cast<uint16_t>(code);
                        else
                            m_state.wideStart = static_cast<uint16_t>(code);
                    }
                }
                break;
            case TAG_FONTSET_END:
                closeSet();
                break;
            case TAG_FONTDATA:
                tok->push(kInFontData);
                glyph.clear();
                break;
            case TAG_FONTDATA_END:
                if (tok->pop() != kInFontData)
                    throw std::runtime_error("<FONTDATA></FONTDATA> Miss Match!!(parseGaijiFont)");
                if (!isGaijiCode(curCode)) throw invalidCode(curCode);
                if (curMap != nullptr) (*curMap)[curCode] = glyph;
                curCode = nextCode(curCode);
                break;
            case TAG_TEXT:
                if (tok->top() == kInFontData) {
                    const int n = used - start;
                    if (n > kMaxFontLine) {
                        char text[400];
                        std::snprintf(text, sizeof text, "gaiji font line too long in %s (Line=%d) (parseGaijiFont)",
                                      path, lineOf(data, pos + static_cast<size_t>(start)));
                        throw std::runtime_error(text);
                    }
                    glyph.append(data.data() + pos + start, static_cast<size_t>(n));
                }
                break;
            default:
                break;
        }
        pos += static_cast<size_t>(used);
    }
    if (setOpen) closeSet();
    return m_sizeMask;
}

int CGaiji::loadHexFont(const char* path) {
    if (path == nullptr) return -1;
    FilePtr f(std::fopen(path, "r"));
    if (!f) return -1;
    try {
        std::string line;
        if (!readTextLine(f.get(), &line)) return 0;
        // A UTF-8 byte-order mark is not part of the width.
        if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        // Width and height, separated by blanks.
        int values[2];
        int found = 0;
        size_t i = 0;
        while (found < 2 && i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\r' || line[i] == '\n')) ++i;
            if (i >= line.size()) break;
            size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\r' && line[j] != '\n') ++j;
            values[found++] = std::atoi(line.substr(i, j - i).c_str());
            i = j;
        }
        if (found < 2) return 0;
        int w = values[0], h = values[1];
        if (w <= 0 || h <= 0) return -1;
        int wc = w <= 8 ? 8 : w <= 12 ? 12 : w <= 16 ? 16 : w <= 24 ? 24 : w <= 32 ? 32 : 48;
        int hc = h <= 16 ? 16 : h <= 24 ? 24 : h <= 32 ? 30 : 48;
        if (hc == 30)
            w = wc < 32 ? 16 : wc;
        else if (wc < hc)
            w = hc / 2;
        else
            w = wc;
        h = hc;
        int size;
        if (w == 8 && h == 16)
            size = GAIJI_8X16;
        else if (w == 16 && h == 16)
            size = GAIJI_16X16;
        else if (w == 12 && h == 24)
            size = GAIJI_12X24;
        else if (w == 24 && h == 24)
            size = GAIJI_24X24;
        else
            return -1;
        std::map<uint32_t, std::string>& map = m_hex[hexIndex(size)];
        const int pixels = w * h;

        int stored = 0;
        while (readTextLine(f.get(), &line)) {
            size_t colon = line.find(':');
            if (colon == std::string::npos) return stored;
            size_t k = 0;
            while (k < colon && (line[k] == ' ' || line[k] == '\t')) ++k;
            uint32_t cp = 0;
            int digits = 0;
            bool tooLong = false;
            for (; k < colon && std::isxdigit(static_cast<unsigned char>(line[k])); ++k, ++digits) {
                if (cp > 0x0FFFFFFF) tooLong = true;
                char d = line[k];
                cp = cp * 16 + static_cast<uint32_t>(d <= '9' ? d - '0' : lowerAscii(d) - 'a' + 10);
            }
            if (digits == 0) return stored;
            if (tooLong || map.count(cp) != 0) continue;
            std::string bitmap(static_cast<size_t>(pixels), ' ');
            int pixel = 0;
            for (size_t j = colon + 1; j + 1 < line.size() && pixel < pixels; j += 2) {
                char hi = line[j], lo = line[j + 1];
                if (!std::isxdigit(static_cast<unsigned char>(hi)) || !std::isxdigit(static_cast<unsigned char>(lo)))
                    break;
                int byte = static_cast<int>(std::strtol(line.substr(j, 2).c_str(), nullptr, 16));
                for (int bit = 7; bit >= 0 && pixel < pixels; --bit, ++pixel)
                    if (byte & (1 << bit)) bitmap[static_cast<size_t>(pixel)] = '#';
            }
            map.emplace(cp, std::move(bitmap));
            ++stored;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

const std::string* CGaiji::fontBitmap(int size, uint32_t code) const {
    if (size < 0 || size >= GAIJI_FONT_SIZES) return nullptr;
    auto it = m_font[size].find(code);
    return it == m_font[size].end() ? nullptr : &it->second;
}

const std::string* CGaiji::hexBitmap(int size, uint32_t codePoint) const {
    int h = hexIndex(size);
    if (h < 0) return nullptr;
    auto it = m_hex[h].find(codePoint);
    return it == m_hex[h].end() ? nullptr : &it->second;
}

size_t CGaiji::fontGlyphCount(int size) const {
    return size >= 0 && size < GAIJI_FONT_SIZES ? m_font[size].size() : 0;
}

size_t CGaiji::hexGlyphCount(int size) const {
    int h = hexIndex(size);
    return h < 0 ? 0 : m_hex[h].size();
}
