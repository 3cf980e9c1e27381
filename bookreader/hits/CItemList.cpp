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
    std::vector<HIT_ITEM>().swap(items_);
    std::vector<PDIC_HIT>().swap(pdicHits_);
    std::vector<char>().swap(pdicText_);
    std::vector<USERDICT_HIT>().swap(userDictHits_);
    std::vector<char>().swap(userDictText_);
    std::vector<STARDICT_HIT>().swap(starDictHits_);
    std::vector<MDICT_HIT>().swap(mdictHits_);
}

const HIT_ITEM* CItemList::item(int i) const {
    return at(items_, i);
}

int CItemList::appendItems(const HIT_ITEM* items, int n) {
    return appendAll(&items_, items, n);
}

int CItemList::resize(int n) {
    if (n < 0) n = 0;
    HIT_ITEM zero;
    std::memset(&zero, 0, sizeof zero);
    items_.resize(static_cast<size_t>(n), zero);
    return n;
}

int CItemList::appendTextRecords(const PDIC_HIT* records, int n, const char* text, size_t textSize) {
    return appendPooled(&pdicHits_, &pdicText_, records, n, text, textSize, &PDIC_HIT::wordOffset);
}

int CItemList::appendUserDictRecords(const USERDICT_HIT* records, int n, const char* text, size_t textSize) {
    return appendPooled(&userDictHits_, &userDictText_, records, n, text, textSize, &USERDICT_HIT::offset);
}

int CItemList::appendStarDictHits(const STARDICT_HIT* hits, int n) {
    return appendAll(&starDictHits_, hits, n);
}

int CItemList::appendMDictHits(const MDICT_HIT* hits, int n) {
    return appendAll(&mdictHits_, hits, n);
}

int64_t CItemList::recordOf(int i) const {
    const HIT_ITEM* h = item(i);
    return h ? static_cast<int64_t>(h->textBlock) : -1;
}
