// The gaiji (external characters) of one book while it is built: the gaiji
// entries, the counters from which new EB codes are handed out, the glyph
// bitmaps of a gaiji font definition file and of hex bitmap fonts, and the
// mask of font sizes that the definition file holds.
//
// EB gaiji codes are two bytes, row and cell, each cell 0x21..0x7E; narrow
// (half-width) codes start at 0xA121 and wide (full-width) ones at 0xB121
// unless setStartCodes or a font definition file moves them. The code-counter
// block returned by getGaijiMap is what CBlockStream::setGaijiMap takes.
//
// Errors are std::runtime_error with a literal message (see each operation);
// running out of codes is not an error: the character gets code 0 and the
// message callback is told once per code range.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/book/GaijiFonts.h"
#include "foundation/book/GaijiState.h"

class CHexFontFile;

class CGaiji {
public:
    static constexpr int kCapacityStep = 2048;

    // Throws "memory allocate error!!(gaijiMap)" when the first entry array
    // cannot be allocated.
    CGaiji();
    virtual ~CGaiji();
    CGaiji(const CGaiji&) = delete;
    CGaiji& operator=(const CGaiji&) = delete;

    // The code-counter block; valid for the life of the object (it follows
    // growth of the entry array).
    GAIJI_CODE_STATE* getGaijiMap() { return &m_state; }
    const GAIJI_CODE_STATE* getGaijiMap() const { return &m_state; }

    // Where messages go (UTF-8 text); null for none.
    void setMessageCallback(void (*callback)(const char* text)) { m_callback = callback; }

    // Sets the first and next codes of both ranges, only while no entry exists
    // and both are gaiji codes (0xA121..0xFE7E, cell 0x21..0x7E).
    void setStartCodes(uint16_t narrow, uint16_t wide);

    // Gives the code and alternative text of the first entry for codePoint.
    // With none: *alt becomes null and, when create is non-zero, a code is
    // allocated (*ebCode gets it, or 0 when the range is used up); with create
    // 0, *ebCode is left as it was. Returns 0.
    int lookupUnicode(uint32_t codePoint, uint32_t* ebCode, const char** alt, int create);

    // Hands out the next free code of the range the character belongs to and
    // adds an entry for it; *ebCode gets the code, or 0 when the range is used
    // up or runs into the other range. Codes already given to an entry (by a
    // gaiji map file) are passed over. Throws "gaijiMap overflow(parseGaijiMap)"
    // when the entry array cannot grow. Returns 0.
    int allocateCode(uint32_t codePoint, uint32_t* ebCode);

    // The first entry whose name equals name (ASCII case ignored) gives its
    // code point, code and alternative text; nothing is stored when none
    // does. Returns -1 in either case: callers clear the outputs first.
    int findByName(const char* name, uint32_t* unicode, uint32_t* ebCode, const char** alt);

    // Code point of the first entry with this code, else 0.
    uint32_t unicodeForCode(uint32_t code) const;
    // narrowStart <= code < narrowNext, and wideStart <= code < wideNext.
    bool isNarrowCode(uint32_t code) const;
    bool isWideCode(uint32_t code) const;

    // Reads a gaiji map file (GAIJIMAP tags) into the entries, replacing the
    // ones there. Names and alternative texts are copied into book's string
    // table through book->addStringT(bytes, n). Throws the runtime errors
    // "<GAIJIMAP></GAIJIMAP> Miss Match!!(parseGaijiMap)" and "gaijiMap
    // overflow(parseGaijiMap)" (and whatever addStringT throws). Returns 0, or
    // -1 when the file cannot be opened (not an error: the table is then empty).
    template <class Book>
    int parseGaijiMap(Book* book, const char* path) {
        return parseGaijiMap(path, book == nullptr ? nullptr : &storeInBook<Book>, book);
    }
    // The same with a string store of the caller's: store(owner, bytes, n)
    // keeps n bytes (they end with a zero byte) and returns the copy. Without
    // a store the texts are kept by this object.
    typedef const char* (*StringStore)(void* owner, const char* bytes, int n);
    int parseGaijiMap(const char* path, StringStore store, void* owner);

    // Reads a gaiji font definition file (FONTSET and FONTDATA tags) into the
    // font bitmap maps; returns the font size mask, 0 when the file cannot be
    // opened. Throws "<FONTDATA></FONTDATA> Miss Match!!(parseGaijiFont)",
    // "unknown gaiji size (parseGaijiFont)", "invalid gaiji code:ebcode=%04X
    // (parseGaijiFont)" for a start code or glyph code outside the gaiji codes,
    // and "gaiji font line too long in <path> (Line=<n>) (parseGaijiFont)".
    int parseGaijiFont(const char* path);
    // The mask of the last parseGaijiFont.
    int fontSizeMask() const { return m_sizeMask; }

    // Reads a hex bitmap font (a line with width and height, then lines of
    // "code:hex bitmap") into the hex map of its size (8x16, 16x16, 12x24 or
    // 24x24). 0 when read to its end; -1 when it cannot be opened, its size is
    // none of the four or memory runs out; 0 when the first line lacks width
    // or height; the number of glyphs stored so far when a later line holds no
    // code. The first glyph for a code point wins.
    int loadHexFont(const char* path);
    // The same with a font read already (CHexFontFile::read), which may be
    // shared with other books: it is kept, not copied.
    int addHexFont(std::shared_ptr<const CHexFontFile> font);
    // Keeps a font (CHexFontFile::open or read) without counting its glyphs,
    // so that an opened font is read only when a glyph is asked for: -1 when
    // the font cannot be used, else 0.
    int shareHexFont(std::shared_ptr<const CHexFontFile> font);

    // A hex font the run asked for that could not be used (path and why):
    // a book whose gaiji need a glyph from the hex fonts then fails, rather
    // than getting blank glyphs (CGaijiFontWriter::makeGaiji).
    void noteMissingHexFont(const std::string& path, const std::string& why);
    const std::vector<std::string>& missingHexFonts() const { return m_missingHexFonts; }

    // Glyph texts (width x height characters, " " and "." clear, others set)
    // for the font writer; null when there is none.
    const std::string* fontBitmap(int size, uint32_t code) const;
    const std::string* hexBitmap(int size, uint32_t codePoint) const;
    // Number of glyphs in a font bitmap map / hex map.
    size_t fontGlyphCount(int size) const;
    size_t hexGlyphCount(int size) const;

    // Size tables: width and height in dots, mask bit, narrow or wide.
    static int sizeWidth(int size);
    static int sizeHeight(int size);
    static int sizeMaskBit(int size);
    static bool sizeIsNarrow(int size);
    // Index of the hex map for a size, -1 for sizes without one.
    static int hexIndex(int size);

    // The code after code: the next cell, or the first cell of the next row
    // (0xA17E is followed by 0xA221).
    static uint32_t nextCode(uint32_t code);
    // A code of the gaiji area: row 0xA1..0xFE, cell 0x21..0x7E.
    static bool isGaijiCode(uint32_t code);

private:
    template <class Book>
    static const char* storeInBook(void* owner, const char* bytes, int n) {
        return reinterpret_cast<const char*>(static_cast<Book*>(owner)->addStringT(bytes, n));
    }

    void growIfFull();
    void clearEntries();
    void commitEntry();  // makes the entry at count part of the table
    uint16_t takeCode(bool narrow, uint32_t codePoint);
    void report(const std::string& text);

    std::vector<GAIJI_ITEM> m_items;  // capacity slots; count of them in use
    GAIJI_CODE_STATE m_state;
    int m_sizeMask;
    std::map<uint32_t, std::string> m_font[GAIJI_FONT_SIZES];
    // The hex fonts of each hex size in the order loaded (an earlier font's
    // glyph wins), and the glyph texts asked for so far.
    std::vector<std::shared_ptr<const CHexFontFile>> m_hexFonts[4];
    mutable std::map<uint32_t, std::string> m_hexMade[4];
    std::vector<std::string> m_missingHexFonts;  // "PATH (why)"
    // Glyphs of m_hexFonts[h][i] that no earlier font of that size has.
    size_t newHexGlyphs(int h, size_t i) const;
    std::map<uint32_t, int> m_firstByUnicode;  // code point -> first entry index
    std::map<uint32_t, int> m_takenCodes;      // code -> number of entries holding it
    std::deque<std::string> m_ownTexts;        // names and alt texts without a string store
    void (*m_callback)(const char* text);
    bool m_narrowReported;
    bool m_wideReported;
};
