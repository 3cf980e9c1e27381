// The gaiji font areas and the viewer gaiji map of a book, written at the
// end of its build from the entries, code ranges and bitmaps of its gaiji
// manager.
#pragma once

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
    // beside it (extension replaced by ".plist"). 0, or -1 when a file
    // cannot be created (nothing is thrown for it).
    static int saveGlossviewGaijiMap(const CGaiji& gaiji, const char* path);
};
