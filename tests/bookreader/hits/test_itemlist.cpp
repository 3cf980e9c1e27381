// The item list: records appended with their text pools, items written by
// collectHits for every kind, and one list holding the hits of four
// dictionaries of three kinds, each rendered from its own dictionary.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bookreader/backends/CPdicBackend.h"
#include "bookreader/backends/CStarDictBackend.h"
#include "bookreader/backends/CUserDictBackend.h"
#include "bookreader/backends/WaveMapQueries.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "tests/common/PdicWriter.h"
#include "tests/common/StarDictFixtures.h"
#include "tests/common/TestDir.h"

TEST(ItemList, RecordsKeepPointingIntoTheJoinedPool) {
    CItemList list;
    const PDIC_HIT first[3] = {{0, 2, 0, 0}, {0, 9, 0, 10}, {1, 2, 1, 20}};
    EXPECT_EQ(list.appendTextRecords(first, 3, "0123456789abcdefghijklmno", 25), 3);
    // The first append keeps the offsets.
    EXPECT_EQ(list.pdicHit(2)->wordOffset, 20u);
    const PDIC_HIT more[2] = {{2, 2, 2, 0}, {2, 7, 2, 6}};
    EXPECT_EQ(list.appendTextRecords(more, 2, "apple\0pear", 11), 5);
    EXPECT_EQ(list.pdicTextSize(), 36u);
    EXPECT_EQ(list.pdicHit(3)->wordOffset, 25u);
    EXPECT_EQ(list.pdicHit(4)->wordOffset, 31u);
    EXPECT_STREQ(list.pdicText() + list.pdicHit(4)->wordOffset, "pear");

    const USERDICT_HIT u[1] = {{7, 1, 0, 3}};
    list.appendUserDictRecords(u, 1, "abc", 4);
    list.appendUserDictRecords(u, 1, "xyz", 4);
    EXPECT_EQ(list.userDictHit(1)->offset, 4u);
    EXPECT_EQ(list.pdicHitCount(), 5);  // families stay apart

    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.pdicHitCount(), 0);
    EXPECT_EQ(list.pdicText(), nullptr);
    list.clear();
}

TEST(ItemList, CollectHitsOfABlockBookTakesOneLevel) {
    CEBReader r;  // kind 3, no file: the hit store works alone
    r.addHit(5, 0, 5, 0, 0, HIT_ADD);
    r.addHit(3, 0, 3, 0, 1, HIT_ADD);
    r.addHit(4, 0, 4, 0, 1, HIT_ADD);
    r.finishHits(false);
    CItemList list;
    HIT_ITEM stale{9, 0, 9, 0, 1, 0};
    list.appendItems(&stale, 1);
    EXPECT_EQ(r.collectHits(&list, 0, 1), 2);
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.items()[0].textBlock, 3u);
    EXPECT_EQ(list.items()[1].textBlock, 4u);
    EXPECT_EQ(r.hitCount(), 0);
}

TEST(ItemList, MixedListRendersEachHitFromItsOwnDictionary) {
    lftest::TestDir dir;
    const std::string s1 = lftest::writeStarDict(dir.path(), "one", {{"cat", "a pet"}, {"cow", "gives milk"}});
    const std::string s2 = lftest::writeStarDict(dir.path(), "two", {{"cat", "die Katze"}});
    ASSERT_TRUE(lftest::writeFile(dir.file("p.dic"),
                                  lftest::buildPdic(lftest::PdicOptions(), lftest::pdicWorkedExampleBlocks())));
    const std::string lfd = dir.file("u.lfd");
    {
        USERDICT_INFO info;
        memset(&info, 0, sizeof info);
        info.bookno = 5;
        CSQLIO d;
        ASSERT_EQ(0, d.create(lfd.c_str(), &info));
        ASSERT_EQ(0, d.open(lfd.c_str()));
        int64_t id;
        ASSERT_EQ(0, d.addEntry("cat", "neko", "", "", "", "", "", 0, 1, &id));
    }
    CEBReader one, two, pdic, user;
    ASSERT_EQ(one.openStarDict(s1.c_str()), 1);
    ASSERT_EQ(two.openStarDict(s2.c_str()), 1);
    ASSERT_EQ(pdic.openPdic(dir.file("p.dic").c_str()), 1);
    ASSERT_EQ(user.openUserDictionary(lfd.c_str()), 1);

    CItemList list;
    one.starDict()->search("c", 0, 0);
    EXPECT_EQ(one.collectHits(&list, list.count(), 0), 2);
    pdic.pdic()->search(reinterpret_cast<const uint32_t*>(U"zoo"), PDIC_SEARCH_EXACT, 0);
    EXPECT_EQ(pdic.collectHits(&list, list.count(), 0), 1);
    two.starDict()->search("cat", 1, 0);
    EXPECT_EQ(two.collectHits(&list, list.count(), 0), 1);
    user.userDict()->search("cat", CSQLIO::kExact, 0);
    EXPECT_EQ(user.collectHits(&list, list.count(), 0), 1);
    ASSERT_EQ(list.count(), 5);
    // Items name records of their own family.
    const uint32_t blocks[5] = {0, 1, 0, 2, 0};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(list.items()[i].textBlock, blocks[i]);

    // Each reader renders its own hits, and none of another dictionary's.
    std::vector<char> out(4096);
    uint32_t length = 0;
    auto star = [&](CEBReader& r, int record) {
        r.starDict()->renderHits(&list, record, out.data(), 1 << 20, 4096, &length, 1);
        return std::string(out.data(), length);
    };
    EXPECT_NE(star(one, 1).find("gives milk"), std::string::npos);
    EXPECT_NE(star(two, 2).find("die Katze"), std::string::npos);
    EXPECT_EQ(star(two, 0), "");
    EXPECT_EQ(star(one, 2), "");
    std::vector<uint32_t> wide(4096);
    EXPECT_GT(pdic.pdic()->renderHits(&list, 0, wide.data(), 1 << 20, 4096 * 4, &length, 1, 1), 0);
    user.userDict()->renderHits(&list, 0, out.data(), 1 << 20, 4096, &length, 1, 1);
    EXPECT_NE(std::string(out.data(), length).find("neko"), std::string::npos);
}

TEST(WaveMapQueries, FindsRecordsByTheirExactName) {
    lftest::TestDir dir;
    ASSERT_EQ(0, lftest::runCommand("mkdir -p " + lftest::shellQuote(dir.file("Sounds"))));
    ASSERT_TRUE(lftest::writeFile(dir.file("Sounds/WaveFile.map"), std::string("1A2B:3C\t7\nABCDEFGH\t12\n")));
    CEBReader r;
    uint32_t block = 9, offset = 9;
    EXPECT_EQ(waveMapLoaded(r), 0);
    EXPECT_EQ(findWaveMapEntry(r, "00000007", &block, &offset), 0);
    EXPECT_EQ(block, 0u);
    ASSERT_EQ(r.loadWaveFileMap(dir.file("DATA.IDX").c_str()), 1);
    EXPECT_EQ(waveMapLoaded(r), 1);
    EXPECT_EQ(findWaveMapEntry(r, "00000007", &block, &offset), 1);
    EXPECT_EQ(block, 0x1A2Bu);
    EXPECT_EQ(offset, 0x3Cu);
    block = offset = 9;
    for (const char* absent : {"0000000", "000000070", "abcdefgh"}) {
        EXPECT_EQ(findWaveMapEntry(r, absent, &block, &offset), 0) << absent;
        EXPECT_EQ(block, 0u);
        EXPECT_EQ(offset, 0u);
    }
}
