#include "bookreader/search/CIndexPageCache.h"

#include <cstring>

const uint8_t* CIndexPageCache::put(uint32_t block, const uint8_t* bytes) {
    if (m_tags.empty()) {
        m_tags.assign(kPages, 0);
        m_pages.resize(kPages);
    }
    const size_t slot = block % kPages;
    if (!m_pages[slot]) m_pages[slot].reset(new uint8_t[kPageSize]);
    std::memcpy(m_pages[slot].get(), bytes, kPageSize);
    m_tags[slot] = block;
    return m_pages[slot].get();
}

void CIndexPageCache::clear() {
    m_pages.clear();
    m_tags.clear();
}
