#include "bookreader/search/CIndexPageCache.h"

#include <cstring>

const uint8_t* CIndexPageCache::put(uint32_t block, const uint8_t* bytes) {
    if (tags_.empty()) {
        tags_.assign(kPages, 0);
        pages_.resize(kPages);
    }
    const size_t slot = block % kPages;
    if (!pages_[slot]) pages_[slot].reset(new uint8_t[kPageSize]);
    std::memcpy(pages_[slot].get(), bytes, kPageSize);
    tags_[slot] = block;
    return pages_[slot].get();
}

void CIndexPageCache::clear() {
    pages_.clear();
    tags_.clear();
}
