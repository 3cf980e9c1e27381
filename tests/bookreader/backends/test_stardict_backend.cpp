// The StarDict back end of the book reader: opening as kind 6, searches into
// an item list shared with other dictionaries, rendering of hits with their
// heads (each hit only by the dictionary that found it), the reader's open,
// close and reopen of dictionaries, the guarded-buffer sweep, and renders of
// Debian's Czech dictionary against the articles stardict-bin2text writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bookreader/backends/CPdicBackend.h"
#include "bookreader/backends/CStarDictBackend.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "tests/bookreader/backends/GuardedBuffer.h"
#include "tests/common/PdicWriter.h"
#include "tests/common/StarDictFixtures.h"
#include "tests/common/StarDictPeers.h"
#include "tests/common/TestDir.h"

using lftest::StarDictEntry;
using lftest::TestDir;

namespace {

const std::vector<StarDictEntry> kFruit = {{"a&b<c>", "odd"}, {"apple", "a fruit"}, {"apricot", "another fruit"}};
const std::vector<StarDictEntry> kTrees = {{"ash", "a tree"}, {"aspen", "a poplar"}};

// The head and article of one entry as the back end writes it; the
// article as the reader of the dictionary at ifo renders it (fixtures: one
// "m" field, a paragraph).
std::string entry(const char* headHtml, const std::string& article, const std::string& ifo = "") {
    if (ifo.empty()) return std::string("<b><div class=\"head\">") + headHtml + "</div></b><p>" + article + "</p>";
    CStarDictReader r;
    EXPECT_NE(r.open(ifo.c_str()), nullptr);
    std::vector<char> html(1 << 16);
    r.renderArticle(reinterpret_cast<const uint8_t*>(article.data()), static_cast<uint32_t>(article.size()),
                    html.data(), html.size());
    return std::string("<b><div class=\"head\">") + headHtml + "</div></b>" + html.data();
}

std::string render(CEBReader& r, const CItemList& list, int hit, bool single, uint32_t limit = 1 << 20) {
    std::vector<char> out(8192);
    uint32_t length = 99;
    int n = r.starDict()->renderHits(&list, hit, out.data(), limit, static_cast<uint32_t>(out.size()), &length, single);
    EXPECT_EQ(static_cast<uint32_t>(n), length);
    return std::string(out.data(), length);
}

int searchInto(CEBReader& r, CItemList& list, const char* word, int exact) {
    r.starDict()->search(word, exact, 0);
    return r.collectHits(&list, list.count(), 0);
}

}  // namespace

TEST(StarDictBackend, SearchCollectAndRenderEachHitFromItsOwnDictionary) {
    TestDir dir;
    CEBReader fruit, trees;
    ASSERT_EQ(fruit.openStarDict(lftest::writeStarDict(dir.path(), "fruit", kFruit).c_str()), 1);
    ASSERT_EQ(trees.openStarDict(lftest::writeStarDict(dir.path(), "trees", kTrees).c_str()), 1);
    EXPECT_EQ(fruit.kind(), BOOK_KIND_STARDICT);

    CItemList list;
    ASSERT_EQ(searchInto(fruit, list, "ap", 0), 2);
    ASSERT_EQ(searchInto(trees, list, "as", 0), 2);
    ASSERT_EQ(list.count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list.items()[i].textBlock, static_cast<uint32_t>(i));

    EXPECT_EQ(render(fruit, list, 0, true), entry("apple", "a fruit"));
    // Continuous: the run of this dictionary's hits, not the next one's.
    EXPECT_EQ(render(fruit, list, 0, false), entry("apple", "a fruit") + entry("apricot", "another fruit"));
    EXPECT_EQ(render(trees, list, 2, false), entry("ash", "a tree") + entry("aspen", "a poplar"));
    // A hit of another dictionary is not rendered.
    EXPECT_EQ(render(fruit, list, 2, true), "");
    EXPECT_EQ(render(trees, list, 1, true), "");
    // The continuation limit ends the run once it is reached.
    EXPECT_EQ(render(fruit, list, 0, false, 1), entry("apple", "a fruit"));

    char head[64];
    uint32_t length = 0;
    EXPECT_EQ(fruit.starDict()->hitHeadword(&list, 1, head, sizeof head, &length), 7);
    EXPECT_STREQ(head, "apricot");
    EXPECT_EQ(trees.starDict()->hitHeadword(&list, 1, head, sizeof head, &length), 0);
    EXPECT_STREQ(head, "");
}

TEST(StarDictBackend, HeadwordsAreEscaped) {
    TestDir dir;
    CEBReader r;
    ASSERT_EQ(r.openStarDict(lftest::writeStarDict(dir.path(), "fruit", kFruit).c_str()), 1);
    CItemList list;
    ASSERT_EQ(searchInto(r, list, "a&b<c>", 1), 1);
    EXPECT_EQ(render(r, list, 0, true), entry("a&amp;b&lt;c&gt;", "odd"));
    char head[64];
    uint32_t length = 0;
    r.starDict()->hitHeadword(&list, 0, head, sizeof head, &length);
    EXPECT_STREQ(head, "a&amp;b&lt;c&gt;");
}

// An article longer than the output ends at its first piece that does not
// fit, closed, and the back end says it was cut; an article past the end of
// a cut file shows an error text under its head, never an empty article.
TEST(StarDictBackend, CutArticlesAndUnreadableOnesAreReported) {
    TestDir dir;
    const std::vector<StarDictEntry> words = {
        {"caeremonia", "caeremonia /kai/\nfirst line of the meaning\nsecond line\n\n\nlast"},
        {"short", "s"},
    };
    CEBReader r;
    const std::string ifo = lftest::writeStarDict(dir.path(), "cut", words);
    ASSERT_EQ(r.openStarDict(ifo.c_str()), 1);
    CItemList list;
    ASSERT_EQ(searchInto(r, list, "caeremonia", 1), 1);
    struct Case {
        uint32_t outSize;
        const char* html;
        bool cut;
    } cases[] = {
        {200, "<b><div class=\"head\">caeremonia</div></b><p>caeremonia /kai/<br/>first line of the meaning<br/>"
              "second line<br/><br/><br/>last</p>",
         false},
        {80, "<b><div class=\"head\">caeremonia</div></b><p>caeremonia /kai/<br/></p>", true},
        {50, "<b><div class=\"head\">caeremonia</div></b><p></p>", true},
        {20, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outSize);
        std::vector<char> out(c.outSize);
        uint32_t length = 0;
        r.starDict()->renderHits(&list, 0, out.data(), 1 << 20, c.outSize, &length, 1);
        EXPECT_EQ(c.html, std::string(out.data(), length));
        EXPECT_EQ(c.cut, r.starDict()->cut());
    }

    // The article file cut before the first article ends.
    lftest::writeFile(dir.file("cut.dict"), std::string("caeremonia"));
    CEBReader damaged;
    ASSERT_EQ(damaged.openStarDict(ifo.c_str()), 1);
    CItemList hits;
    ASSERT_EQ(searchInto(damaged, hits, "caeremonia", 1), 1);
    const std::string shown = render(damaged, hits, 0, true);
    EXPECT_EQ(0u, shown.find("<b><div class=\"head\">caeremonia</div></b><p class=\"error\">")) << shown;
    EXPECT_NE(std::string::npos, shown.find("cannot be read")) << shown;
    char out[256];
    uint32_t length = 0;
    damaged.starDict()->renderArticle(0, 60, out, sizeof out, &length);
    EXPECT_NE(std::string::npos, std::string(out, length).find("cannot be read"));
}

TEST(StarDictBackend, RenderArticleAndInformation) {
    TestDir dir;
    CEBReader r;
    ASSERT_EQ(r.openStarDict(lftest::writeStarDict(dir.path(), "fruit", kFruit).c_str()), 1);
    char out[256];
    uint32_t length = 0;
    // "odd" at 0, "a fruit" at 3, "another fruit" at 10.
    EXPECT_GT(r.starDict()->renderArticle(10, 13, out, sizeof out, &length), 0);
    EXPECT_EQ(std::string(out, length), "<p>another fruit</p>");
    char info[1024];
    EXPECT_GT(r.dictionaryInformation(info, sizeof info, 1), 0);
    EXPECT_NE(std::string(info).find("bookname=fruit\r\n"), std::string::npos) << info;
    r.dictionaryInformation(info, sizeof info, 0);
    EXPECT_EQ(std::string(info).find('\n'), std::string::npos);
}

TEST(StarDictBackend, OpenCloseAndReopenOfDictionaryKinds) {
    TestDir dir;
    const std::string ifo = lftest::writeStarDict(dir.path(), "fruit", kFruit);
    const std::string dic = dir.file("w.dic");
    ASSERT_TRUE(lftest::writeFile(dic, lftest::buildPdic(lftest::PdicOptions(), lftest::pdicWorkedExampleBlocks())));

    CEBReader r;
    // A file of another kind is refused and leaves nothing attached.
    EXPECT_EQ(r.openStarDict(dic.c_str()), 0);
    EXPECT_EQ(r.openPdic(ifo.c_str()), 0);
    EXPECT_FALSE(r.isOpen());
    EXPECT_EQ(r.starDict(), nullptr);
    EXPECT_EQ(r.pdic(), nullptr);

    ASSERT_EQ(r.openStarDict(ifo.c_str()), 1);
    // A second dictionary on an open reader is refused before anything changes.
    EXPECT_EQ(r.openPdic(dic.c_str()), 0);
    EXPECT_EQ(r.kind(), BOOK_KIND_STARDICT);
    EXPECT_STREQ(r.path(), ifo.c_str());
    ASSERT_NE(r.starDict(), nullptr);

    // Close releases the back end; reopen opens it afresh on the path.
    EXPECT_EQ(r.close(), 1);
    EXPECT_EQ(r.starDict(), nullptr);
    EXPECT_EQ(r.close(), 1);
    EXPECT_EQ(r.reopen(), 1);
    ASSERT_NE(r.starDict(), nullptr);
    CItemList list;
    EXPECT_EQ(searchInto(r, list, "apple", 1), 1);
    EXPECT_EQ(r.reopen(), 1);
    // Hits found before the reopen belong to the dictionary as it was.
    EXPECT_EQ(render(r, list, 0, true), "");

    // After a close another kind may be opened on the same reader.
    r.close();
    ASSERT_EQ(r.openPdic(dic.c_str()), 1);
    EXPECT_EQ(r.kind(), BOOK_KIND_PDIC);
    EXPECT_EQ(r.starDict(), nullptr);
    EXPECT_EQ(r.reopen(), 1);
    EXPECT_NE(r.pdic(), nullptr);
}

TEST(StarDictBackend, GuardedBufferSweep) {
    TestDir dir;
    CEBReader r;
    ASSERT_EQ(r.openStarDict(lftest::writeStarDict(dir.path(), "fruit", kFruit).c_str()), 1);
    CItemList list;
    ASSERT_EQ(searchInto(r, list, "a", 0), 3);
    for (uint32_t size = 1; size <= 64; ++size) {
        SCOPED_TRACE(size);
        uint32_t length = 0;
        auto sweep = [&](auto&& run) { lftest::checkGuarded<char>(size, run); };
        sweep([&](char* o) { r.starDict()->renderHits(&list, 0, o, 1 << 20, size, &length, 0); });
        sweep([&](char* o) { r.starDict()->renderHits(&list, 0, o, 1 << 20, size, &length, 1); });
        sweep([&](char* o) { r.starDict()->renderArticle(0, 7, o, size, &length); });
        sweep([&](char* o) { r.starDict()->hitHeadword(&list, 0, o, size, &length); });
        sweep([&](char* o) { r.dictionaryInformation(o, size, 1); });
    }
}

TEST(StarDictBackend, CzechDictionaryRendersWhatTheToolsRead) {
    TestDir dir;
    const char* const kCzech = "/usr/share/stardict/dic/czech-cizi";
    for (const char* ext : {".ifo", ".idx", ".dict.dz"})
        ASSERT_TRUE(
            lftest::writeFile(dir.file(std::string("czech-cizi") + ext), lftest::readFile(std::string(kCzech) + ext)));
    std::vector<lftest::PeerArticle> peer;
    ASSERT_TRUE(lftest::starDictBin2Text(dir.file("czech-cizi.ifo"), dir.path(), &peer));
    ASSERT_GT(peer.size(), 100u);
    CEBReader r;
    ASSERT_EQ(r.openStarDict(dir.file("czech-cizi.ifo").c_str()), 1);
    int checked = 0;
    for (size_t i = 0; i < peer.size(); i += peer.size() / 40) {
        const lftest::PeerArticle& a = peer[i];
        SCOPED_TRACE(a.word);
        ASSERT_EQ(a.fields.size(), 1u);
        CItemList list;
        ASSERT_GE(searchInto(r, list, a.word.c_str(), 1), 1);
        // Words that differ only in case are all hits; the peer's is one of them.
        std::string expected = entry("", a.fields[0].second, dir.file("czech-cizi.ifo"));
        bool found = false;
        for (int h = 0; h < list.starDictHitCount() && !found; ++h) {
            std::string got = render(r, list, h, true);
            std::string head = "<b><div class=\"head\">";
            size_t close = got.find("</div></b>");
            ASSERT_NE(close, std::string::npos);
            std::string word = got.substr(head.size(), close - head.size());
            if (word.find('&') == std::string::npos && word == a.word)
                found = got.substr(close + 10) == expected.substr(head.size() + 10);
        }
        EXPECT_TRUE(found);
        ++checked;
    }
    EXPECT_GE(checked, 40);
}
