// The hit store of a book reader: the results of every search, with a level
// per hit so that searches can be combined (a later search raises the level
// of the stored hits it matches again), finished into a list sorted by text
// position without repeated positions.
//
//   store.add(textBlock, textOffset, headBlock, headOffset, 0, HIT_ADD);
//   store.finish(false);
//   for (int i = 0; i < store.count(); ++i) use(*store.at(i));
//
// Allocation failures throw an int of value 1 (the searches catch it).
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
        if (external_) return externalCount_;
        return listed_ ? static_cast<int>(list_.size()) : static_cast<int>(hits_.size());
    }
    // The result count of a search whose results a dictionary back end keeps
    // itself (kinds 4 to 7); more: it stopped at a limit. Stored hits are
    // dropped; reset() clears it.
    void setExternalResults(int n, bool more);
    // Result i (finished list order, else store order); null when out of range.
    const HIT_ITEM* at(int i) const;
    bool finished() const { return listed_; }
    // Stored hit i in store order, for searches that complete the hits they
    // added (headings); null when out of range.
    HIT_ITEM* storedAt(int i) {
        return (i < 0 || static_cast<size_t>(i) >= hits_.size()) ? nullptr : &hits_[static_cast<size_t>(i)];
    }
    int storedCount() const { return static_cast<int>(hits_.size()); }
    int capacity() const { return static_cast<int>(hits_.capacity()); }

    bool hasMoreHits() const { return moreHits_; }
    // A limit of at least 1; smaller values are refused (returns 0).
    int setMaxHits(int n);
    int maxHits() const { return maxHits_; }
    void setHitLimit50(bool on) { limit50_ = on; }
    bool hitLimit50() const { return limit50_; }

    // May be called from another thread while a search runs.
    void cancel() { cancelled_.store(1); }
    bool cancelled() const { return cancelled_.load() != 0; }
    // The flag itself, for the scans of the dictionary readers.
    const std::atomic<uint16_t>* cancelFlag() const { return &cancelled_; }

private:
    void dropList();
    void reserveFor(size_t n);

    std::vector<HIT_ITEM> hits_;
    std::vector<uint32_t> list_;  // indexes into hits_
    bool listed_ = false;
    bool sorted_ = false;
    bool moreHits_ = false;
    bool limit50_ = false;
    int maxHits_ = kDefaultMaxHits;
    bool external_ = false;
    int externalCount_ = 0;
    std::atomic<uint16_t> cancelled_{0};
};
