// The result list a caller keeps across searches: hit items of every kind of
// book and, beside them, the result records of the dictionary back ends
// (PDIC and user-dictionary records with their text pools, StarDict and
// MDict hits). An item of kinds 4 to 7 names its record by its index in the
// array of its family (heading block = text block = that index); the family
// is that of the reader whose collectHits wrote it.
//
//   CItemList list;
//   reader.searchPdic(word, PDIC_SEARCH_PREFIX, 100);
//   reader.collectHits(&list, list.count(), 0);
//   reader.pdic()->renderHits(&list, 0, out, limit, sizeof out, &n, 1, 1);
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bookreader/hits/CHitStore.h"
#include "dictformats/mdict/CMDictReader.h"
#include "dictformats/stardict/CStarDictReader.h"
#include "dictformats/userdict/UserDictRecords.h"
#include "foundation/pdic/CPDicReader.h"

class CItemList {
public:
    CItemList() = default;
    virtual ~CItemList() = default;
    CItemList(const CItemList&) = delete;
    CItemList& operator=(const CItemList&) = delete;

    // Empties the items, the four record arrays and the two pools.
    void clear();

    HIT_ITEM* items() { return m_items.empty() ? nullptr : m_items.data(); }
    const HIT_ITEM* items() const { return m_items.empty() ? nullptr : m_items.data(); }
    int count() const { return static_cast<int>(m_items.size()); }
    // Item i, null when out of range.
    const HIT_ITEM* item(int i) const;
    int appendItems(const HIT_ITEM* items, int n);
    // Sets the item count to n; new items are zeroed.
    int resize(int n);

    // Records with a text pool: each new record's pool offset is moved past
    // the pool held so far. Return the family's record count.
    int appendTextRecords(const PDIC_HIT* records, int n, const char* text, size_t textSize);
    int appendUserDictRecords(const USERDICT_HIT* records, int n, const char* text, size_t textSize);
    int appendStarDictHits(const STARDICT_HIT* hits, int n);
    int appendMDictHits(const MDICT_HIT* hits, int n);

    int pdicHitCount() const { return static_cast<int>(m_pdicHits.size()); }
    const PDIC_HIT* pdicHit(int i) const { return at(m_pdicHits, i); }
    const char* pdicText() const { return m_pdicText.empty() ? nullptr : m_pdicText.data(); }
    size_t pdicTextSize() const { return m_pdicText.size(); }
    int userDictHitCount() const { return static_cast<int>(m_userDictHits.size()); }
    const USERDICT_HIT* userDictHit(int i) const { return at(m_userDictHits, i); }
    const char* userDictText() const { return m_userDictText.empty() ? nullptr : m_userDictText.data(); }
    size_t userDictTextSize() const { return m_userDictText.size(); }
    int starDictHitCount() const { return static_cast<int>(m_starDictHits.size()); }
    const STARDICT_HIT* starDictHit(int i) const { return at(m_starDictHits, i); }
    int mdictHitCount() const { return static_cast<int>(m_mdictHits.size()); }
    const MDICT_HIT* mdictHit(int i) const { return at(m_mdictHits, i); }

    // The record index item i names, -1 when there is no item i.
    int64_t recordOf(int i) const;

private:
    template <typename T>
    static const T* at(const std::vector<T>& v, int i) {
        return (i < 0 || static_cast<size_t>(i) >= v.size()) ? nullptr : &v[static_cast<size_t>(i)];
    }

    std::vector<HIT_ITEM> m_items;
    std::vector<PDIC_HIT> m_pdicHits;
    std::vector<char> m_pdicText;
    std::vector<USERDICT_HIT> m_userDictHits;
    std::vector<char> m_userDictText;
    std::vector<STARDICT_HIT> m_starDictHits;
    std::vector<MDICT_HIT> m_mdictHits;
};
