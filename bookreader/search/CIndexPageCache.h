// Index pages a reader's searches have read, kept decoded so that the root
// and upper pages of an index, and the leaves of repeated or growing
// queries, are not read (and on compressed books not inflated) again. The
// cache is direct-mapped by block number, so the pages of any kPages
// consecutive blocks (an index area) never displace each other; a page's
// memory is taken when its slot is first used (at most kPages pages).
//
//   const uint8_t* page = cache.find(block);
//   if (!page) page = cache.put(block, bytesOfTheBlock);
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class CIndexPageCache {
public:
    static constexpr size_t kPages = 2048;
    static constexpr size_t kPageSize = 2048;

    // The cached page of block; null when not cached.
    const uint8_t* find(uint32_t block) const {
        if (m_tags.empty()) return nullptr;
        const size_t slot = block % kPages;
        return m_tags[slot] == block && block != 0 ? m_pages[slot].get() : nullptr;
    }
    // Stores a copy of the page's kPageSize bytes (block from 1); returns the
    // copy, valid until a page of another block takes its slot.
    const uint8_t* put(uint32_t block, const uint8_t* bytes);
    void clear();

private:
    std::vector<std::unique_ptr<uint8_t[]>> m_pages;  // per slot, allocated on first use
    std::vector<uint32_t> m_tags;                     // block held by each slot, 0 = none
};
