// A hex bitmap font as read from its file: a first line with width and
// height, then lines of "code point:hex bitmap", for the four sizes that have
// hex maps (8x16, 16x16, 12x24, 24x24).
//
// The file is read whole and only indexed: a glyph's bitmap text is decoded
// when it is asked for. A font opened with open is read no further than its
// first line until a glyph is first asked for, so a book without gaiji never
// reads the glyphs. A font never changes once its glyphs are read, so one
// object may be shared read-only by every book of a run (CEPWing keeps them
// by path).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CHexFontFile {
public:
    enum Status {
        kFailed,      // cannot be opened, size none of the four, or out of memory
        kNoSize,      // the first line lacks a width or a height: nothing read
        kRead,        // read to its end
        kEndedEarly,  // a line without a code ended the reading
    };

    // Reads the font at path whole; never null.
    static std::shared_ptr<const CHexFontFile> read(const char* path);
    // The same over the bytes of a font file.
    static std::shared_ptr<const CHexFontFile> parse(std::string bytes);
    // Reads the first line of the font at path now and the glyphs when they
    // are first needed (a file that cannot be read by then has no glyphs);
    // never null.
    static std::shared_ptr<const CHexFontFile> open(const char* path);

    // CGaiji::hexIndex of the font's size; -1 when the font cannot be used
    // (kFailed or kNoSize). Known without reading the glyphs.
    int hexIndex() const { return m_hexIndex; }
    // kNoSize and kFailed are known at once; telling kRead from kEndedEarly
    // reads the glyphs of an opened font.
    Status status() const;
    // Glyphs read, one per code point (the first line for a code point wins).
    size_t glyphCount() const;
    uint32_t codePointAt(size_t i) const;
    bool has(uint32_t codePoint) const;
    // The glyph of codePoint as a text bitmap of width x height characters,
    // "#" set and " " clear; false when the font has none.
    bool bitmap(uint32_t codePoint, std::string* out) const;

private:
    struct Glyph {
        uint32_t codePoint;
        uint32_t text;    // offset of the bitmap text (after the ":")
        uint32_t length;  // its length up to the line end (or the line limit)
        uint32_t order;   // line order, so that the first definition wins
    };
    CHexFontFile() = default;
    // Reads the first line at *at: sets the status, the size and the pixels.
    void readHeader(const std::string& bytes, size_t* at);
    // Indexes the glyph lines of m_bytes from at.
    void indexGlyphs(size_t at);
    // An opened font: reads and indexes the file (once).
    void loadGlyphs() const;
    const Glyph* find(uint32_t codePoint) const;

    std::string m_bytes;
    std::vector<Glyph> m_glyphs;  // sorted by code point
    Status m_status = kFailed;
    int m_hexIndex = -1;
    int m_pixels = 0;
    // Set for a font whose glyphs are read on first use.
    std::string m_path;
    mutable std::once_flag m_loaded;
};
