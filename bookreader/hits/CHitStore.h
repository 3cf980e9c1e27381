// The hit store of a book reader: the results of every search, with a level
// per hit so that searches can be combined (a later search raises the level
// of the stored hits it matches again), finished into a list sorted by text
// position without repeated positions.
//
//   store.add(textBlock, textOffset, headBlock, headOffset, 0, HIT_ADD);
//   store.finish(false);
//   for (int i = 0; i < store.count(); ++i) use(*store.at(i));
//
// Limits: at most maxHits hits are stored (the hit that would pass it is
// refused, not the one that reaches it); with the 50-hit option at most 50,
// finished like any other list (sorted, one per text position), the option
// only capping the count.
//
// A hit that cannot be stored for want of memory is refused as a limit
// refuses it (add returns -1) and marks the store: allocationFailed() then
// tells the reader that the search failed, and reset() releases the hits.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

struct HIT_ITEM {
    uint32_t headingBlock;
    uint16_t headingOffset;
    uint32_t textBlock;
    uint16_t textOffset;
    uint8_t keep;  // set and cleared by finishing
    uint8_t level;
};

// Modes of CHitStore::add.
enum { HIT_ADD = 0, HIT_RAISE = 1, HIT_LOWER = 2 };

class CHitStore {
public:
    static constexpr int kInitialCapacity = 1000;
    static constexpr int kDefaultMaxHits = 100000;
    static constexpr int kLimit50 = 50;

    CHitStore();

    // Mode HIT_ADD stores a hit of the given level; HIT_RAISE raises each
    // finished hit at the text position from level - 1 to level; HIT_LOWER
    // lowers each such hit from level to level - 1 (both need a finished
    // list and add nothing). Returns count(), or -1 when a limit refused the
    // hit (hasMoreHits() is then set).
    int add(uint32_t textBlock, uint16_t textOffset, uint32_t headingBlock, uint16_t headingOffset, int level,
            int mode);

    // Builds the result list: sorted by text position then heading, one hit
    // per text position (the lowest heading stays), unless noSort is set (all
    // hits in store order). Returns the kept count.
    int finish(bool noSort);
    // Empties the store and clears moreHits and the cancel flag.
    void reset();

    // The result count: hits stored, or after finishing the hits kept.
    int count() const {
        if (m_external) return m_externalCount;
        return m_listed ? static_cast<int>(m_list.size()) : static_cast<int>(m_hits.size());
    }
    // The result count of a search whose results a dictionary back end keeps
    // itself (kinds 4 to 7); more: it stopped at a limit. Stored hits are
    // dropped; reset() clears it.
    void setExternalResults(int n, bool more);
    // Result i (finished list order, else store order); null when out of range.
    const HIT_ITEM* at(int i) const;
    bool finished() const { return m_listed; }
    // Stored hit i in store order, for searches that complete the hits they
    // added (headings); null when out of range.
    HIT_ITEM* storedAt(int i) {
        return (i < 0 || static_cast<size_t>(i) >= m_hits.size()) ? nullptr : &m_hits[static_cast<size_t>(i)];
    }
    int storedCount() const { return static_cast<int>(m_hits.size()); }
    int capacity() const { return static_cast<int>(m_hits.capacity()); }

    bool hasMoreHits() const { return m_moreHits; }
    // Set when a hit or the result list could not be allocated; reset() and
    // clearAllocationFailure() clear it.
    bool allocationFailed() const { return m_allocationFailed; }
    void clearAllocationFailure() { m_allocationFailed = false; }
    // Makes storing more than n hits fail as an exhausted allocator would
    // (0: no limit), so that the failure paths can be tried.
    void setCapacityLimit(size_t n) { m_capacityLimit = n; }
    // A limit of at least 1; smaller values are refused (returns 0).
    int setMaxHits(int n);
    int maxHits() const { return m_maxHits; }
    void setHitLimit50(bool on) { m_limit50 = on; }
    bool hitLimit50() const { return m_limit50; }

    // May be called from another thread while a search runs.
    void cancel() { m_cancelled.store(1); }
    bool cancelled() const { return m_cancelled.load() != 0; }
    // The flag itself, for the scans of the dictionary readers.
    const std::atomic<uint16_t>* cancelFlag() const { return &m_cancelled; }

private:
    void dropList();
    bool reserveFor(size_t n);

    std::vector<HIT_ITEM> m_hits;
    std::vector<uint32_t> m_list;  // indexes into m_hits
    bool m_listed = false;
    bool m_sorted = false;
    bool m_moreHits = false;
    bool m_limit50 = false;
    bool m_allocationFailed = false;
    size_t m_capacityLimit = 0;
    int m_maxHits = kDefaultMaxHits;
    bool m_external = false;
    int m_externalCount = 0;
    std::atomic<uint16_t> m_cancelled{0};
};
