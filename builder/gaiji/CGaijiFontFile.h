// Reader of a gaiji font definition file: FONTSET tags (size="16X16" ...,
// start="A121") each followed by FONTDATA tags holding one glyph's rows of
// " "/"." (clear) and other (set) characters.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "foundation/book/GaijiFonts.h"
#include "foundation/book/GaijiState.h"

class CGaijiFontFile {
public:
    typedef std::map<uint32_t, std::string> GlyphMap;  // code -> glyph text

    // Reads the file at path. Once it is open, mask is reset and gets the bit
    // of every size named, fonts[size] are cleared and filled, and the start
    // and next codes of state follow the sets' start attributes (the code
    // after a set's last glyph becomes the next code of its range). Returns
    // 0, or -1 when the file cannot be opened (nothing is changed). Throws
    // the errors listed at CGaiji::parseGaijiFont.
    static int read(const char* path, GAIJI_CODE_STATE& state, GlyphMap (&fonts)[GAIJI_FONT_SIZES], int& mask);
};
