// The hit store: limits, finishing (sort and one hit per text position),
// combining searches by level, reset and cancel.
#include <gtest/gtest.h>

#include <thread>

#include "bookreader/hits/CHitStore.h"

namespace {

struct Hit {
    uint32_t tb;
    uint16_t to;
    uint32_t hb;
    uint16_t ho;
};

void addAll(CHitStore& s, std::initializer_list<Hit> hits, int level = 0) {
    for (const Hit& h : hits) s.add(h.tb, h.to, h.hb, h.ho, level, HIT_ADD);
}

}  // namespace

TEST(HitStore, MaxHitsMeansAtMostThatMany) {
    CHitStore s;
    EXPECT_EQ(s.setMaxHits(0), 0);
    EXPECT_EQ(s.maxHits(), CHitStore::kDefaultMaxHits) << "refused";
    EXPECT_EQ(s.setMaxHits(3), 3);
    EXPECT_EQ(s.add(1, 0, 1, 0, 0, HIT_ADD), 1);
    EXPECT_EQ(s.add(2, 0, 1, 0, 0, HIT_ADD), 2);
    EXPECT_EQ(s.add(3, 0, 1, 0, 0, HIT_ADD), 3);
    EXPECT_FALSE(s.hasMoreHits());
    EXPECT_EQ(s.add(4, 0, 1, 0, 0, HIT_ADD), -1);
    EXPECT_TRUE(s.hasMoreHits());
    EXPECT_EQ(s.count(), 3);
}

TEST(HitStore, FinishSortsAndKeepsTheLowestHeadingPerPosition) {
    CHitStore s;
    // Positions chosen so that a comparison by subtraction of 32-bit values
    // would overflow and misorder them.
    addAll(s, {{0x90000000u, 5, 9, 0}, {1, 5, 7, 0}, {1, 5, 3, 9}, {1, 5, 3, 2}, {1, 4, 8, 0}});
    EXPECT_EQ(s.finish(false), 3);
    EXPECT_EQ(s.at(0)->textOffset, 4);
    EXPECT_EQ(s.at(1)->textOffset, 5);
    EXPECT_EQ(s.at(1)->headingBlock, 3u);
    EXPECT_EQ(s.at(1)->headingOffset, 2);
    EXPECT_EQ(s.at(2)->textBlock, 0x90000000u);
    EXPECT_EQ(s.at(3), nullptr);
}

TEST(HitStore, NoSortKeepsStoreOrderAndEveryHit) {
    CHitStore s;
    addAll(s, {{5, 0, 1, 0}, {2, 0, 1, 0}, {5, 0, 1, 0}});
    EXPECT_EQ(s.finish(true), 3);
    EXPECT_EQ(s.at(0)->textBlock, 5u);
    EXPECT_EQ(s.at(1)->textBlock, 2u);
}

TEST(HitStore, CombiningRaisesAndLowersMatchedLevels) {
    for (bool limit50 : {false, true}) {
        CHitStore s;
        s.setHitLimit50(limit50);
        addAll(s, {{9, 0, 1, 0}, {3, 0, 1, 0}, {5, 0, 1, 0}});
        s.finish(false);
        s.add(3, 0, 0, 0, 1, HIT_RAISE);
        s.add(9, 0, 0, 0, 1, HIT_RAISE);
        s.add(7, 0, 0, 0, 1, HIT_RAISE);  // no stored hit: nothing changes
        s.add(9, 0, 0, 0, 2, HIT_RAISE);
        EXPECT_EQ(s.at(0)->level, 1) << "block 3, limit50 " << limit50;
        EXPECT_EQ(s.at(1)->level, 0) << "block 5 not matched";
        EXPECT_EQ(s.at(2)->level, 2) << "block 9 raised twice";
        s.add(9, 0, 0, 0, 2, HIT_LOWER);
        EXPECT_EQ(s.at(2)->level, 1);
        s.add(5, 0, 0, 0, 2, HIT_RAISE);
        EXPECT_EQ(s.at(1)->level, 0) << "a level-0 hit is not raised to 2";
    }
}

TEST(HitStore, CombiningWithoutAFinishedListChangesNothing) {
    CHitStore s;
    addAll(s, {{3, 0, 1, 0}});
    EXPECT_EQ(s.add(3, 0, 0, 0, 1, HIT_RAISE), 1);
    s.finish(false);
    EXPECT_EQ(s.at(0)->level, 0);
}

TEST(HitStore, Limit50StopsAtFifty) {
    CHitStore s;
    s.setHitLimit50(true);
    for (uint32_t i = 0; i < 60; ++i) s.add(100 - i, 0, 1, 0, 0, HIT_ADD);
    EXPECT_EQ(s.count(), 50);
    EXPECT_TRUE(s.hasMoreHits());
    EXPECT_EQ(s.finish(false), 50);
    EXPECT_EQ(s.at(0)->textBlock, 51u) << "sorted, so later searches can combine with it";
}

TEST(HitStore, CombiningAfterTheLimitIsSwitchedOn) {
    // Hits stored before the 50-hit option was turned on: the finished list
    // is still sorted, so a later search finds its positions.
    CHitStore s;
    for (uint32_t i = 0; i < 60; ++i) s.add(100 - i, 0, 1, 0, 0, HIT_ADD);
    s.setHitLimit50(true);
    EXPECT_EQ(s.finish(false), 60);
    s.add(45, 0, 0, 0, 1, HIT_RAISE);
    s.add(99, 0, 0, 0, 1, HIT_RAISE);
    int raised = 0;
    for (int i = 0; i < s.count(); ++i) raised += s.at(i)->level;
    EXPECT_EQ(raised, 2);
    EXPECT_EQ(s.at(0)->textBlock, 41u);
}

TEST(HitStore, GrowthAndReset) {
    CHitStore s;
    for (uint32_t i = 0; i < 1001; ++i) s.add(i, 0, 1, 0, 0, HIT_ADD);
    EXPECT_GE(s.capacity(), 2000);
    s.cancel();
    s.reset();
    EXPECT_EQ(s.count(), 0);
    EXPECT_EQ(s.capacity(), CHitStore::kInitialCapacity);
    EXPECT_FALSE(s.cancelled());
    EXPECT_FALSE(s.hasMoreHits());
    EXPECT_EQ(s.at(0), nullptr);
}

TEST(HitStore, CancelFromAnotherThread) {
    CHitStore s;
    std::thread t([&s] { s.cancel(); });
    t.join();
    EXPECT_TRUE(s.cancelled());
}
