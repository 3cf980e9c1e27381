// Reader of gaiji font definition files.
#include "builder/gaiji/CGaijiFontFile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "builder/CParseTag0.h"
#include "builder/gaiji/CGaiji.h"
#include "builder/gaiji/gaijitext.h"

using gaijitext::isControl;
using gaijitext::readWholeFile;
using gaijitext::startsWithNoCase;
using gaijitext::ValueText;

namespace {

// Longest line of glyph rows inside FONTDATA (one 48x48 glyph on one line).
const int kMaxFontLine = 2304;

// Context code pushed while a glyph is open.
const int kInFontData = 20;

// Order in which FONTSET size values are tried.
const int kSizeSearchOrder[GAIJI_FONT_SIZES] = {
    GAIJI_16X16, GAIJI_24X24, GAIJI_32X30, GAIJI_48X48, GAIJI_8X16, GAIJI_12X24, GAIJI_16X24, GAIJI_16X30, GAIJI_24X48,
};

int lineOf(const std::vector<char>& data, size_t pos) {
    int line = 1;
    for (size_t i = 0; i < pos && i < data.size(); ++i)
        if (data[i] == '\n') ++line;
    return line;
}

}  // namespace

int CGaijiFontFile::read(const char* path, GAIJI_CODE_STATE& state, GlyphMap (&fonts)[GAIJI_FONT_SIZES], int& mask) {
    std::vector<char> data;
    if (readWholeFile(path, &data, "gaiji font file too large(parseGaijiFont)") != 0) return -1;
    mask = 0;
    for (auto& m : fonts) m.clear();

    std::unique_ptr<CParseTag0> tok(new CParseTag0());
    tok->reset();
    tok->push(CParseTag0::kEmptyStackCode);
    int curSize = GAIJI_16X16;
    GlyphMap* curMap = nullptr;
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
        uint16_t& next = CGaiji::sizeIsNarrow(curSize) ? state.narrowNext : state.wideNext;
        const uint16_t first = CGaiji::sizeIsNarrow(curSize) ? state.narrowStart : state.wideStart;
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
                        mask |= kGaijiFonts[found].maskBit;
                        curMap = &fonts[found];
                    } else if (startsWithNoCase(a.name, a.nameLen, "start", 4)) {
                        ValueText v(a.value, a.valueLen);
                        unsigned code = 0;
                        if (std::sscanf(v.text, "%4x", &code) != 1 || !CGaiji::isGaijiCode(code))
                            throw invalidCode(code);
                        curCode = code;
                        if (CGaiji::sizeIsNarrow(curSize))
                            state.narrowStart = static_cast<uint16_t>(code);
                        else
                            state.wideStart = static_cast<uint16_t>(code);
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
                if (!CGaiji::isGaijiCode(curCode)) throw invalidCode(curCode);
                if (curMap != nullptr) (*curMap)[curCode] = glyph;
                curCode = CGaiji::nextCode(curCode);
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
    return 0;
}
