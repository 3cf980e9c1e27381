// The gaiji font areas and the viewer gaiji map of a book, written at the
// end of its build from the entries, code ranges and bitmaps of its gaiji
// manager.
#pragma once

#include <string>

class CBlockStream;
class CGaiji;

class CGaijiFontWriter {
public:
    // Writes one font area (header block, then one glyph per code of the
    // narrow or wide range) into stream, a fresh memory-mode stream at its
    // first block, offset 0. width and height in dots; the header's width
    // byte holds the drawn width (12 for a 12x24 font, whose rows are stored
    // 16 dots wide). Glyphs never cross a half block. Returns the number of
    // glyphs. Throws "invalid gaiji size:x=%d y=%d (makeGaiji)" and
    // "invalid font data:ebcode=%4X (makeGaiji)".
    static int makeGaiji(const CGaiji& gaiji, int width, int height, CBlockStream* stream);

    // Writes the tab-separated viewer map at path and the property list
    // beside it (extension replaced by ".plist"), each under a temporary
    // name renamed over the final one (a link there is replaced, not
    // followed). 0, or -1 when a file cannot be written (nothing is thrown
    // for it).
    static int saveGlossviewGaijiMap(const CGaiji& gaiji, const char* path);
    // The two texts saveGlossviewGaijiMap writes.
    static void glossviewGaijiMap(const CGaiji& gaiji, std::string* map, std::string* plist);
    // The property-list path beside a map path.
    static std::string plistPath(const char* mapPath);
};
