#include "dictformats/mdict/CMdictBlockCache.h"

namespace {

size_t costOf(const MDICT_DECODED_BLOCK& b) {
    return b.bytes.capacity() + b.entries.capacity() * sizeof(DATA_ITEM) + sizeof b;
}

}  // namespace

MdictBlockRef CMdictBlockCache::find(Kind kind, size_t index) {
    auto it = m_byId.find(idOf(kind, index));
    if (it == m_byId.end()) return nullptr;
    m_items.splice(m_items.begin(), m_items, it->second);
    return it->second->block;
}

void CMdictBlockCache::put(Kind kind, size_t index, const MdictBlockRef& block) {
    if (!block) return;
    const uint64_t id = idOf(kind, index);
    auto old = m_byId.find(id);
    if (old != m_byId.end()) drop(old->second);
    const size_t cost = costOf(*block);
    if (cost > m_maxBytes) return;
    m_items.push_front(Item{id, block, cost});
    m_byId[id] = m_items.begin();
    m_bytes += cost;
    while (m_bytes > m_maxBytes && !m_items.empty()) drop(std::prev(m_items.end()));
}

void CMdictBlockCache::clear() {
    m_items.clear();
    m_byId.clear();
    m_bytes = 0;
}

void CMdictBlockCache::drop(std::list<Item>::iterator it) {
    m_bytes -= it->bytes;
    m_byId.erase(it->id);
    m_items.erase(it);
}
