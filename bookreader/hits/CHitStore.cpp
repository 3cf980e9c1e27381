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
    list_.clear();
    listed_ = false;
    sorted_ = false;
}

void CHitStore::reserveFor(size_t n) {
    try {
        if (hits_.capacity() < kInitialCapacity) hits_.reserve(kInitialCapacity);
        if (n > hits_.capacity()) hits_.reserve(hits_.capacity() * 2);
    } catch (const std::bad_alloc&) {
        throw 1;
    }
}

int CHitStore::add(uint32_t textBlock, uint16_t textOffset, uint32_t headingBlock, uint16_t headingOffset, int level,
                   int mode) {
    if (mode == HIT_ADD) {
        size_t stored = hits_.size();
        if (stored >= static_cast<size_t>(maxHits_) || (limit50_ && stored >= static_cast<size_t>(kLimit50))) {
            moreHits_ = true;
            return -1;
        }
        dropList();
        external_ = false;
        reserveFor(stored + 1);
        HIT_ITEM h{headingBlock, headingOffset, textBlock, textOffset, 0, static_cast<uint8_t>(level)};
        hits_.push_back(h);
        return count();
    }
    if (!listed_ || (mode != HIT_RAISE && mode != HIT_LOWER)) return count();
    auto matches = [&](uint32_t i) {
        const HIT_ITEM& h = hits_[i];
        return h.textBlock == textBlock && h.textOffset == textOffset;
    };
    auto change = [&](uint32_t i) {
        HIT_ITEM& h = hits_[i];
        if (mode == HIT_RAISE && h.level + 1 == level) h.level = static_cast<uint8_t>(level);
        if (mode == HIT_LOWER && h.level == level && level > 0) h.level = static_cast<uint8_t>(level - 1);
    };
    if (sorted_) {
        auto it = std::lower_bound(list_.begin(), list_.end(), 0u,
                                   [&](uint32_t i, uint32_t) { return textBefore(hits_[i], textBlock, textOffset); });
        for (; it != list_.end() && matches(*it); ++it) change(*it);
    } else {
        // A list kept in store order has no order to search by.
        for (uint32_t i : list_)
            if (matches(i)) change(i);
    }
    return count();
}

void CHitStore::setExternalResults(int n, bool more) {
    hits_.clear();
    dropList();
    external_ = true;
    externalCount_ = n < 0 ? 0 : n;
    moreHits_ = more;
}

int CHitStore::finish(bool noSort) {
    dropList();
    external_ = false;
    if (hits_.empty()) return 0;
    try {
        list_.reserve(hits_.size());
    } catch (const std::bad_alloc&) {
        throw 1;
    }
    for (uint32_t i = 0; i < hits_.size(); ++i) {
        hits_[i].keep = 1;
        list_.push_back(i);
    }
    listed_ = true;
    if (noSort) return count();
    std::stable_sort(list_.begin(), list_.end(), [&](uint32_t a, uint32_t b) { return hitBefore(hits_[a], hits_[b]); });
    size_t kept = 0;
    for (size_t i = 0; i < list_.size(); ++i) {
        HIT_ITEM& h = hits_[list_[i]];
        if (kept > 0) {
            const HIT_ITEM& prev = hits_[list_[kept - 1]];
            if (prev.textBlock == h.textBlock && prev.textOffset == h.textOffset) {
                h.keep = 0;
                continue;
            }
        }
        list_[kept++] = list_[i];
    }
    list_.resize(kept);
    sorted_ = true;
    return count();
}

void CHitStore::reset() {
    hits_.clear();
    if (hits_.capacity() > kInitialCapacity) {
        try {
            std::vector<HIT_ITEM> fresh;
            fresh.reserve(kInitialCapacity);
            hits_.swap(fresh);
        } catch (const std::bad_alloc&) {
            throw 1;
        }
    }
    dropList();
    external_ = false;
    externalCount_ = 0;
    moreHits_ = false;
    cancelled_.store(0);
}

const HIT_ITEM* CHitStore::at(int i) const {
    if (i < 0 || i >= count()) return nullptr;
    return listed_ ? &hits_[list_[static_cast<size_t>(i)]] : &hits_[static_cast<size_t>(i)];
}

int CHitStore::setMaxHits(int n) {
    if (n < 1) return 0;
    maxHits_ = n;
    return n;
}
