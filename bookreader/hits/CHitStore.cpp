#include "bookreader/hits/CHitStore.h"

#include <algorithm>
#include <new>

namespace {

bool textBefore(const HIT_ITEM& a, uint32_t block, uint16_t offset) {
    return a.textBlock < block || (a.textBlock == block && a.textOffset < offset);
}

bool hitBefore(const HIT_ITEM& a, const HIT_ITEM& b) {
    if (a.textBlock != b.textBlock) return a.textBlock < b.textBlock;
    if (a.textOffset != b.textOffset) return a.textOffset < b.textOffset;
    if (a.headingBlock != b.headingBlock) return a.headingBlock < b.headingBlock;
    return a.headingOffset < b.headingOffset;
}

}  // namespace

CHitStore::CHitStore() = default;

void CHitStore::dropList() {
    m_list.clear();
    m_listed = false;
    m_sorted = false;
}

bool CHitStore::reserveFor(size_t n) {
    if (m_capacityLimit && n > m_capacityLimit) {
        m_allocationFailed = true;
        return false;
    }
    try {
        if (m_hits.capacity() < kInitialCapacity) m_hits.reserve(kInitialCapacity);
        if (n > m_hits.capacity()) m_hits.reserve(m_hits.capacity() * 2);
    } catch (const std::bad_alloc&) {
        m_allocationFailed = true;
        return false;
    }
    return true;
}

int CHitStore::add(uint32_t textBlock, uint16_t textOffset, uint32_t headingBlock, uint16_t headingOffset, int level,
                   int mode) {
    if (mode == HIT_ADD) {
        size_t stored = m_hits.size();
        if (stored >= static_cast<size_t>(m_maxHits) || (m_limit50 && stored >= static_cast<size_t>(kLimit50))) {
            m_moreHits = true;
            return -1;
        }
        dropList();
        m_external = false;
        if (!reserveFor(stored + 1)) return -1;
        HIT_ITEM h{headingBlock, headingOffset, textBlock, textOffset, 0, static_cast<uint8_t>(level)};
        m_hits.push_back(h);
        return count();
    }
    if (!m_listed || (mode != HIT_RAISE && mode != HIT_LOWER)) return count();
    auto matches = [&](uint32_t i) {
        const HIT_ITEM& h = m_hits[i];
        return h.textBlock == textBlock && h.textOffset == textOffset;
    };
    auto change = [&](uint32_t i) {
        HIT_ITEM& h = m_hits[i];
        if (mode == HIT_RAISE && h.level + 1 == level) h.level = static_cast<uint8_t>(level);
        if (mode == HIT_LOWER && h.level == level && level > 0) h.level = static_cast<uint8_t>(level - 1);
    };
    if (m_sorted) {
        auto it = std::lower_bound(m_list.begin(), m_list.end(), 0u,
                                   [&](uint32_t i, uint32_t) { return textBefore(m_hits[i], textBlock, textOffset); });
        for (; it != m_list.end() && matches(*it); ++it) change(*it);
    } else {
        // A list kept in store order has no order to search by.
        for (uint32_t i : m_list)
            if (matches(i)) change(i);
    }
    return count();
}

void CHitStore::setExternalResults(int n, bool more) {
    m_hits.clear();
    dropList();
    m_external = true;
    m_externalCount = n < 0 ? 0 : n;
    m_moreHits = more;
}

int CHitStore::finish(bool noSort) {
    dropList();
    m_external = false;
    if (m_hits.empty()) return 0;
    try {
        m_list.reserve(m_hits.size());
    } catch (const std::bad_alloc&) {
        m_allocationFailed = true;
        return 0;
    }
    for (uint32_t i = 0; i < m_hits.size(); ++i) {
        m_hits[i].keep = 1;
        m_list.push_back(i);
    }
    m_listed = true;
    if (noSort) return count();
    std::stable_sort(m_list.begin(), m_list.end(),
                     [&](uint32_t a, uint32_t b) { return hitBefore(m_hits[a], m_hits[b]); });
    size_t kept = 0;
    for (size_t i = 0; i < m_list.size(); ++i) {
        HIT_ITEM& h = m_hits[m_list[i]];
        if (kept > 0) {
            const HIT_ITEM& prev = m_hits[m_list[kept - 1]];
            if (prev.textBlock == h.textBlock && prev.textOffset == h.textOffset) {
                h.keep = 0;
                continue;
            }
        }
        m_list[kept++] = m_list[i];
    }
    m_list.resize(kept);
    m_sorted = true;
    return count();
}

void CHitStore::reset() {
    m_hits.clear();
    // A grown store goes back to its first capacity; when even that cannot
    // be had, it gives everything back (the next hit reserves afresh).
    if (m_hits.capacity() > kInitialCapacity) {
        std::vector<HIT_ITEM> fresh;
        try {
            fresh.reserve(kInitialCapacity);
        } catch (const std::bad_alloc&) {
        }
        m_hits.swap(fresh);
    }
    dropList();
    std::vector<uint32_t>().swap(m_list);
    m_allocationFailed = false;
    m_external = false;
    m_externalCount = 0;
    m_moreHits = false;
    m_cancelled.store(0);
}

const HIT_ITEM* CHitStore::at(int i) const {
    if (i < 0 || i >= count()) return nullptr;
    return m_listed ? &m_hits[m_list[static_cast<size_t>(i)]] : &m_hits[static_cast<size_t>(i)];
}

int CHitStore::setMaxHits(int n) {
    if (n < 1) return 0;
    m_maxHits = n;
    return n;
}
