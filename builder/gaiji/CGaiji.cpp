#include "builder/gaiji/CGaiji.h"

#include <cstdio>
#include <new>
#include <stdexcept>

#include "builder/gaiji/CGaijiFontFile.h"
#include "builder/gaiji/CGaijiMapFile.h"
#include "builder/gaiji/CHexFontFile.h"
#include "builder/gaiji/gaijitext.h"

namespace {

const uint16_t kDefaultNarrow = 0xA121;
const uint16_t kDefaultWide = 0xB121;
const uint32_t kLastCode = 0xFE7E;
// Entry arrays beyond this many entries are refused like a failed allocation.
const int kMaxEntries = 1 << 20;

using gaijitext::lowerAscii;

bool equalNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = lowerAscii(static_cast<unsigned char>(*a));
        int cb = lowerAscii(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
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
    // Entries go straight into the table; texts to the caller's store or to
    // this object.
    class TableSink : public CGaijiMapFile::Sink {
    public:
        TableSink(CGaiji& gaiji, StringStore store, void* owner) : m_gaiji(gaiji), m_store(store), m_owner(owner) {}
        GAIJI_ITEM& beginEntry() override {
            m_gaiji.growIfFull();
            GAIJI_ITEM& e = m_gaiji.m_items[m_gaiji.m_state.count];
            e = GAIJI_ITEM();
            return e;
        }
        void commitEntry() override { m_gaiji.commitEntry(); }
        const char* keepText(const char* bytes, int n) override {
            if (m_store != nullptr) {
                std::string copy(bytes, static_cast<size_t>(n));
                copy.push_back('\0');
                return m_store(m_owner, copy.data(), n + 1);
            }
            m_gaiji.m_ownTexts.emplace_back(bytes, static_cast<size_t>(n));
            return m_gaiji.m_ownTexts.back().c_str();
        }

    private:
        CGaiji& m_gaiji;
        StringStore m_store;
        void* m_owner;
    } sink(*this, store, owner);
    return CGaijiMapFile::read(path, sink);
}

int CGaiji::parseGaijiFont(const char* path) {
    if (CGaijiFontFile::read(path, m_state, m_font, m_sizeMask) != 0) return 0;
    return m_sizeMask;
}

int CGaiji::loadHexFont(const char* path) {
    return addHexFont(CHexFontFile::read(path));
}

int CGaiji::addHexFont(std::shared_ptr<const CHexFontFile> font) {
    if (font && font->status() == CHexFontFile::kNoSize) return 0;
    if (shareHexFont(font) != 0) return -1;
    // Ended early: the number of glyphs this font added.
    const int h = font->hexIndex();
    if (font->status() != CHexFontFile::kEndedEarly) return 0;
    return static_cast<int>(newHexGlyphs(h, m_hexFonts[h].size() - 1));
}

int CGaiji::shareHexFont(std::shared_ptr<const CHexFontFile> font) {
    if (!font) return -1;
    const int h = font->hexIndex();
    if (h < 0 || h >= 4) return -1;
    m_hexFonts[h].push_back(std::move(font));
    return 0;
}

void CGaiji::noteMissingHexFont(const std::string& path, const std::string& why) {
    m_missingHexFonts.push_back(path + " (" + why + ")");
}

size_t CGaiji::newHexGlyphs(int h, size_t i) const {
    const CHexFontFile& font = *m_hexFonts[h][i];
    if (i == 0) return font.glyphCount();
    size_t n = 0;
    for (size_t g = 0; g < font.glyphCount(); ++g) {
        const uint32_t cp = font.codePointAt(g);
        bool earlier = false;
        for (size_t e = 0; e < i && !earlier; ++e) earlier = m_hexFonts[h][e]->has(cp);
        if (!earlier) ++n;
    }
    return n;
}

const std::string* CGaiji::fontBitmap(int size, uint32_t code) const {
    if (size < 0 || size >= GAIJI_FONT_SIZES) return nullptr;
    auto it = m_font[size].find(code);
    return it == m_font[size].end() ? nullptr : &it->second;
}

const std::string* CGaiji::hexBitmap(int size, uint32_t codePoint) const {
    int h = hexIndex(size);
    if (h < 0) return nullptr;
    auto made = m_hexMade[h].find(codePoint);
    if (made != m_hexMade[h].end()) return &made->second;
    std::string text;
    for (const auto& font : m_hexFonts[h])
        if (font->bitmap(codePoint, &text)) return &m_hexMade[h].emplace(codePoint, std::move(text)).first->second;
    return nullptr;
}

size_t CGaiji::fontGlyphCount(int size) const {
    return size >= 0 && size < GAIJI_FONT_SIZES ? m_font[size].size() : 0;
}

size_t CGaiji::hexGlyphCount(int size) const {
    int h = hexIndex(size);
    if (h < 0) return 0;
    size_t n = 0;
    for (size_t i = 0; i < m_hexFonts[h].size(); ++i) n += newHexGlyphs(h, i);
    return n;
}
