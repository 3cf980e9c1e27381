// Reader of a hex bitmap font: a first line with width and height, then lines
// of "code point:hex bitmap", for the four sizes that have hex maps.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class CHexFontFile {
public:
    typedef std::map<uint32_t, std::string> GlyphMap;  // code point -> glyph text
    static constexpr int kMaps = 4;                    // 8x16, 16x16, 12x24, 24x24

    // Reads the font into maps[CGaiji::hexIndex(size)], the first glyph for a
    // code point winning. Results as CGaiji::loadHexFont.
    static int read(const char* path, GlyphMap (&maps)[kMaps]);
};
