#include "bookreader/hits/CItemList.h"

#include <cstring>

namespace {

template <typename T>
int appendAll(std::vector<T>* to, const T* from, int n) {
    if (from && n > 0) to->insert(to->end(), from, from + n);
    return static_cast<int>(to->size());
}

// Appends records whose pool offsets point into text, moving the offsets
// past the pool held so far.
template <typename T>
int appendPooled(std::vector<T>* records, std::vector<char>* pool, const T* from, int n, const char* text,
                 size_t textSize, uint64_t T::*offset) {
    if (from && n > 0) {
        const uint64_t base = pool->size();
        size_t first = records->size();
        records->insert(records->end(), from, from + n);
        for (size_t i = first; i < records->size(); ++i) (*records)[i].*offset += base;
    }
    if (text && textSize > 0) pool->insert(pool->end(), text, text + textSize);
    return static_cast<int>(records->size());
}

}  // namespace

void CItemList::clear() {
    std::vector<HIT_ITEM>().swap(m_items);
    std::vector<PDIC_HIT>().swap(m_pdicHits);
    std::vector<char>().swap(m_pdicText);
    std::vector<USERDICT_HIT>().swap(m_userDictHits);
    std::vector<char>().swap(m_userDictText);
    std::vector<STARDICT_HIT>().swap(m_starDictHits);
    std::vector<MDICT_HIT>().swap(m_mdictHits);
}

const HIT_ITEM* CItemList::item(int i) const {
    return at(m_items, i);
}

int CItemList::appendItems(const HIT_ITEM* items, int n) {
    return appendAll(&m_items, items, n);
}

int CItemList::resize(int n) {
    if (n < 0) n = 0;
    HIT_ITEM zero;
    std::memset(&zero, 0, sizeof zero);
    m_items.resize(static_cast<size_t>(n), zero);
    return n;
}

int CItemList::appendTextRecords(const PDIC_HIT* records, int n, const char* text, size_t textSize) {
    return appendPooled(&m_pdicHits, &m_pdicText, records, n, text, textSize, &PDIC_HIT::wordOffset);
}

int CItemList::appendUserDictRecords(const USERDICT_HIT* records, int n, const char* text, size_t textSize) {
    return appendPooled(&m_userDictHits, &m_userDictText, records, n, text, textSize, &USERDICT_HIT::offset);
}

int CItemList::appendStarDictHits(const STARDICT_HIT* hits, int n) {
    return appendAll(&m_starDictHits, hits, n);
}

int CItemList::appendMDictHits(const MDICT_HIT* hits, int n) {
    return appendAll(&m_mdictHits, hits, n);
}

int64_t CItemList::recordOf(int i) const {
    const HIT_ITEM* h = item(i);
    return h ? static_cast<int64_t>(h->textBlock) : -1;
}
