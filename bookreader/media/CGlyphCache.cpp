#include "bookreader/media/CGlyphCache.h"

#include <cstring>

bool CGlyphCache::find(uint16_t code, uint8_t width, uint8_t height, uint8_t* out, size_t outSize) const {
    size_t bytes = static_cast<size_t>(width) * height / 8;
    if (bytes > kGlyphBytes || bytes > outSize) return false;
    for (int i = 0; i < m_count; ++i) {
        const Entry& e = m_entries[i];
        if (e.code == code && e.width == width && e.height == height) {
            std::memcpy(out, e.bitmap, bytes);
            return true;
        }
    }
    return false;
}

void CGlyphCache::add(uint16_t code, uint8_t width, uint8_t height, const uint8_t* bitmap, size_t bytes) {
    if (bytes > kGlyphBytes) return;
    Entry& e = m_entries[m_next];
    e.code = code;
    e.width = width;
    e.height = height;
    std::memset(e.bitmap, 0, kGlyphBytes);
    std::memcpy(e.bitmap, bitmap, bytes);
    m_next = (m_next + 1) % kEntries;
    if (m_count < kEntries) ++m_count;
}
