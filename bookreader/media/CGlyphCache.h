// The last 256 gaiji glyphs of 16 dots height that a reader read, so that a
// text full of the same external characters reads each glyph once.
#pragma once

#include <cstddef>
#include <cstdint>

class CGlyphCache {
public:
    static constexpr int kEntries = 256;
    static constexpr size_t kGlyphBytes = 32;  // 16 x 16 dots

    // Copies the glyph of code and shape into out (kGlyphBytes at most,
    // width * height / 8 bytes); false when it is not cached.
    bool find(uint16_t code, uint8_t width, uint8_t height, uint8_t* out, size_t outSize) const;
    // Keeps a glyph of up to kGlyphBytes bytes; with all entries in use the
    // oldest is dropped.
    void add(uint16_t code, uint8_t width, uint8_t height, const uint8_t* bitmap, size_t bytes);
    int count() const { return m_count; }
    void clear() { m_count = m_next = 0; }

private:
    struct Entry {
        uint16_t code;
        uint8_t width;
        uint8_t height;
        uint8_t bitmap[kGlyphBytes];
    };
    Entry m_entries[kEntries];
    int m_count = 0;
    int m_next = 0;  // slot the next glyph takes
};
