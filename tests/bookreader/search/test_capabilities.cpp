// What a dictionary of each kind says it offers: a user dictionary its
// searches and menu by its index mask, a StarDict and an MDict with a
// Description their copyright page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bookreader/core/CEBReader.h"
#include "dictformats/userdict/CSQLIO.h"
#include "tests/common/MdictFixtures.h"
#include "tests/common/StarDictFixtures.h"
#include "tests/common/TestDir.h"

namespace {

struct Offers {
    bool word, keyword, cross, endword, multi, menu, copyright;
};

Offers offers(const CEBReader& r) {
    return {r.hasWordSearch(),  r.hasKeywordSearch(), r.hasCrossSearch(), r.hasEndwordSearch(),
            r.hasMultiSearch(), r.hasMenu(),          r.hasCopyright()};
}

void expectOffers(const CEBReader& r, const Offers& expected, const std::string& what) {
    const Offers got = offers(r);
    EXPECT_EQ(got.word, expected.word) << what << ": word";
    EXPECT_EQ(got.keyword, expected.keyword) << what << ": keyword";
    EXPECT_EQ(got.cross, expected.cross) << what << ": cross";
    EXPECT_EQ(got.endword, expected.endword) << what << ": end-word";
    EXPECT_EQ(got.multi, expected.multi) << what << ": multi";
    EXPECT_EQ(got.menu, expected.menu) << what << ": menu";
    EXPECT_EQ(got.copyright, expected.copyright) << what << ": copyright";
}

}  // namespace

TEST(Capabilities, UserDictionariesByTheirIndexMask) {
    struct Case {
        int64_t indexmask;
        Offers expected;
    } cases[] = {
        {0x00, {true, false, false, false, false, false, false}},
        {0x20, {true, true, false, false, false, false, false}},
        {0x10, {true, false, true, false, false, false, false}},
        {0x04, {true, false, false, true, false, false, false}},
        {0x40, {true, false, false, false, true, false, false}},
        {0x80, {true, false, false, false, false, true, false}},
        {0xF5, {true, true, true, true, true, true, false}},
    };
    lftest::TestDir dir;
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir.file("d" + std::to_string(n++) + ".lfd");
        USERDICT_INFO info;
        memset(&info, 0, sizeof info);
        strcpy(info.booktitle, "Mask");
        info.indexmask = c.indexmask;
        CSQLIO writer;
        ASSERT_EQ(writer.create(path.c_str(), &info), 0);
        CEBReader r;
        ASSERT_EQ(r.openUserDictionary(path.c_str()), 1);
        expectOffers(r, c.expected, "index mask " + std::to_string(c.indexmask));
        r.close();
        EXPECT_FALSE(r.hasKeywordSearch()) << "closed";
    }
}

TEST(Capabilities, StarDictAndMdictCopyrightPages) {
    lftest::TestDir dir;
    const Offers wordsOnly = {true, false, false, false, false, false, false};
    Offers withCopyright = wordsOnly;
    withCopyright.copyright = true;
    {
        CEBReader r;
        const std::string ifo = lftest::writeStarDict(dir.path(), "words", {{"apple", "a fruit"}});
        ASSERT_EQ(r.openStarDict(ifo.c_str()), 1);
        expectOffers(r, withCopyright, "StarDict");
        r.close();
        EXPECT_FALSE(r.hasCopyright()) << "closed StarDict";
    }
    struct Case {
        const char* fixture;
        bool description;
    } cases[] = {{"v20_utf8_zlib.mdx", false}, {"v20_required_only.mdx", true}};
    for (const Case& c : cases) {
        const std::string mdx = lftest::mdictFixture(c.fixture);
        ASSERT_FALSE(mdx.empty()) << "the MDict fixtures were not written";
        CEBReader r;
        ASSERT_EQ(r.openMDict(mdx.c_str()), 1) << c.fixture;
        expectOffers(r, c.description ? withCopyright : wordsOnly, c.fixture);
    }
}
