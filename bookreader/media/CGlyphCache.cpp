#include "bookreader/media/CGlyphCache.h"

#include <cstring>

bool CGlyphCache::find(uint16_t code, uint8_t width, uint8_t height, uint8_t* out, size_t outSize) const {
    size_t bytes = static_cast<size_t>(width) * height / 8;
    if (bytes > kGlyphBytes || bytes > outSize) return false;
    for (int i = 0; i < count_; ++i) {
        const Entry& e = entries_[i];
        if (e.code == code && e.width == width && e.height == height) {
            std::memcpy(out, e.bitmap, bytes);
            return true;
        }
    }
    return false;
}

void CGlyphCache::add(uint16_t code, uint8_t width, uint8_t height, const uint8_t* bitmap, size_t bytes) {
    if (bytes > kGlyphBytes) return;
    Entry& e = entries_[next_];
    e.code = code;
    e.width = width;
    e.height = height;
    std::memset(e.bitmap, 0, kGlyphBytes);
    std::memcpy(e.bitmap, bitmap, bytes);
    next_ = (next_ + 1) % kEntries;
    if (count_ < kEntries) ++count_;
}
