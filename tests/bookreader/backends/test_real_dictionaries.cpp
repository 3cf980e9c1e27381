// The dictionary back ends on whole real dictionaries, through CEBReader:
// an MDict of every word of Debian's American English list with HTML
// records, images and sounds in an .mdd, entry:// links and redirections
// (make_mdict_fixtures.py --words ... html) against js-mdict; Debian's Czech
// and French StarDict dictionaries against stardict-bin2text; a user
// dictionary of a few thousand of those words with links.
#include <gtest/gtest.h>
#include <unistd.h>

#include <strings.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bookreader/backends/CMDictBackend.h"
#include "bookreader/backends/CStarDictBackend.h"
#include "bookreader/backends/CUserDictBackend.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "tests/common/MdictFixtures.h"
#include "tests/common/RealFiles.h"
#include "tests/common/StarDictPeers.h"
#include "tests/common/TestDir.h"

using lftest::kWordList;
using lftest::TestDir;

namespace {

// Every value of attribute name="..." in the html, in order.
std::vector<std::string> quotedValues(const std::string& html, const std::string& name) {
    std::vector<std::string> out;
    const std::string key = name + "=\"";
    for (size_t at = html.find(key); at != std::string::npos; at = html.find(key, at + 1)) {
        const size_t start = at + key.size(), end = html.find('"', start);
        out.push_back(html.substr(start, end - start));
    }
    return out;
}

std::string unescaped(std::string s) {
    for (const auto& e : std::vector<std::pair<std::string, std::string>>{{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""},
                                                                           {"&amp;", "&"}})
        for (size_t at = s.find(e.first); at != std::string::npos; at = s.find(e.first, at))
            s.replace(at, e.first.size(), e.second);
    return s;
}

}  // namespace

TEST(RealDictionaries, MdictWordListRecordsResourcesLinksAndRedirections) {
    LF_REQUIRE_REAL_FILE(kWordList);
    TestDir dir;
    const std::string mdx = dir.file("words.mdx");
    ASSERT_EQ(0, lftest::runCommand(lftest::mdictPython() + " " + LF_SOURCE_DIR +
                                    "/tests/dictformats/mdict/make_mdict_fixtures.py --words " + kWordList + " " + mdx +
                                    " 16 html"));
    lftest::MdictPeerView peer = lftest::mdictPeerRead(mdx);
    ASSERT_TRUE(peer.ok) << peer.error;
    lftest::MdictPeerView peerResources = lftest::mdictPeerRead(dir.file("words.mdd"));
    ASSERT_TRUE(peerResources.ok) << peerResources.error;
    ASSERT_GE(peer.entries.size(), 100000u);
    std::map<std::string, std::string> records(peer.entries.begin(), peer.entries.end());
    std::map<std::string, std::string> resources(peerResources.entries.begin(), peerResources.entries.end());

    CEBReader r;
    ASSERT_EQ(r.openMDict(mdx.c_str()), 1);
    ASSERT_NE(nullptr, r.mdict()->mdictReader(1));
    CMDictReader* words = r.mdict()->mdictReader(0);
    TestDir out;
    size_t rendered = 0, redirections = 0, links = 0, extracted = 0;
    std::set<std::string> extractedNames;
    std::vector<char> html(1 << 16);
    for (const auto& e : peer.entries) {
        SCOPED_TRACE(e.first);
        // The entry with this very key among those equal to it but for case.
        uint64_t pos = 0, offset = 0;
        bool found = words->findKey(e.first.c_str(), &pos, &offset, 1) >= 0;
        while (found && e.first != words->keyText(pos)) found = words->findNextKey(e.first.c_str(), &pos, &offset, 1) >= 0;
        ASSERT_TRUE(found);
        uint32_t length = 0;
        r.mdict()->renderRecord(offset, html.data(), static_cast<uint32_t>(html.size()), &length);
        ASSERT_FALSE(r.mdict()->cut());
        std::string got(html.data(), length);
        // A redirection shows the record its chain leads to, as js-mdict
        // reads it; a loop or a chain of more than eight ends on a link.
        std::string expected = e.second;
        std::vector<std::string> visited;
        while (expected.compare(0, 8, "@@@LINK=") == 0) {
            const std::string target = expected.substr(8);
            bool loop = false;
            for (const std::string& v : visited) loop = loop || strcasecmp(v.c_str(), target.c_str()) == 0;
            ASSERT_EQ(1u, records.count(target));
            if (loop || visited.size() >= 8) {
                expected = "<a href=\"entry://" + target + "\">" + target + "</a>";
                break;
            }
            visited.push_back(target);
            expected = records[target];
            ++redirections;
        }
        ASSERT_EQ("<p></p><div>" + expected + "</div>\n", got);
        ++rendered;
        // Every entry:// link names a word of the file.
        for (const std::string& href : quotedValues(got, "href")) {
            if (href.compare(0, 8, "entry://") != 0) continue;
            const std::string target = unescaped(href.substr(8));
            EXPECT_EQ(1u, records.count(target)) << target;
            ++links;
        }
        // Every image and sound it names is written out, byte for byte.
        const std::vector<std::string> before = quotedValues(got, "src");
        std::vector<std::string> named = before;
        for (const std::string& href : quotedValues(got, "href"))
            if (href.compare(0, 8, "sound://") == 0) named.push_back(href.substr(8));
        if (named.empty()) continue;
        const int written = r.mdict()->extractResources(&got[0], out.path().c_str());
        EXPECT_EQ(static_cast<int>(named.size()), written);
        for (const std::string& name : named) {
            std::string key = "\\" + name, file = name;
            for (char& c : key)
                if (c == '/') c = '\\';
            for (char& c : file)
                if (c == '/') c = '_';
            ASSERT_EQ(1u, resources.count(key)) << key;
            const lftest::Bytes bytes = lftest::readFile(out.file(file));
            EXPECT_EQ(resources[key], std::string(bytes.begin(), bytes.end())) << file;
            ++extracted;
            extractedNames.insert(key);
            unlink(out.file(file).c_str());
        }
    }
    EXPECT_EQ(peer.entries.size(), rendered);
    EXPECT_GT(redirections, 10000u);
    EXPECT_GT(links, 10000u);
    EXPECT_EQ(resources.size(), extractedNames.size());
    std::printf("%zu records rendered as js-mdict reads them (%zu redirections followed), %zu entry links "
                "resolved, %zu images and sounds written out (every one of the %zu in the .mdd)\n",
                rendered, redirections, links, extracted, extractedNames.size());
}

class RealStarDict : public testing::TestWithParam<const char*> {};

TEST_P(RealStarDict, EveryArticleRendersWhatTheToolsRead) {
    const std::string stem = GetParam();
    LF_REQUIRE_REAL_FILE((stem + ".idx").c_str());
    TestDir dir;
    const std::string base = stem.substr(stem.rfind('/') + 1);
    for (const char* ext : {".ifo", ".idx", ".dict.dz"})
        ASSERT_TRUE(lftest::writeFile(dir.file(base + ext), lftest::readFile(stem + ext)));
    const std::string ifo = dir.file(base + ".ifo");
    std::vector<lftest::PeerArticle> peer;
    ASSERT_TRUE(lftest::starDictBin2Text(ifo, dir.path(), &peer));
    CEBReader r;
    ASSERT_EQ(r.openStarDict(ifo.c_str()), 1);
    CStarDictReader* reader = r.starDict()->starDictReader();
    // The tools write an article once, under one of the words that share it
    // (the same offset and size in the index): each article is found by the
    // place of its word in the index.
    typedef std::pair<uint32_t, uint32_t> Place;
    std::map<std::string, std::vector<Place>> placesOf;
    for (uint32_t i = 0; i < reader->entryCount(); ++i) {
        const char* word = nullptr;
        uint32_t offset = 0, size = 0;
        ASSERT_EQ(0, reader->entryAt(i, &word, nullptr, &offset, &size));
        placesOf[word].push_back({offset, size});
    }
    std::map<Place, const lftest::PeerArticle*> articleOf;
    std::map<std::string, size_t> seen;
    for (const lftest::PeerArticle& a : peer) {
        std::vector<Place>& places = placesOf[a.word];
        const size_t k = seen[a.word]++;
        ASSERT_LT(k, places.size()) << a.word;
        articleOf[places[k]] = &a;
    }
    std::vector<char> expected(1 << 20), got(1 << 20);
    size_t rendered = 0;
    for (uint32_t i = 0; i < reader->entryCount(); ++i) {
        const char* word = nullptr;
        uint32_t offset = 0, size = 0;
        ASSERT_EQ(0, reader->entryAt(i, &word, nullptr, &offset, &size));
        SCOPED_TRACE(word);
        ASSERT_EQ(1u, articleOf.count({offset, size}));
        const lftest::PeerArticle& a = *articleOf[{offset, size}];
        ASSERT_EQ(1u, a.fields.size());
        // The article as the tools read it, through the documented rendering.
        ASSERT_TRUE(reader->renderArticle(reinterpret_cast<const uint8_t*>(a.fields[0].second.data()),
                                          static_cast<uint32_t>(a.fields[0].second.size()), expected.data(),
                                          expected.size()));
        uint32_t length = 0;
        r.starDict()->renderArticle(offset, size, got.data(), static_cast<uint32_t>(got.size()), &length);
        ASSERT_FALSE(r.starDict()->cut());
        ASSERT_EQ(std::string(expected.data()), std::string(got.data(), length));
        ++rendered;
    }
    EXPECT_EQ(peer.size(), articleOf.size());
    std::printf("%zu headwords, their %zu articles rendered as stardict-bin2text reads them\n", rendered,
                articleOf.size());
}

INSTANTIATE_TEST_SUITE_P(Debian, RealStarDict,
                         testing::Values("/usr/share/stardict/dic/czech-cizi", "/usr/share/stardict/dic/XMLittre"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0 ? "CzechForeignWords" : "FrenchLittre");
                         });

// Every 30th word of the list, each linked to two others (link targets,
// attribute 128): every link an entry shows names the entry it was made to,
// with the comment it was made with, in the order made.
TEST(RealDictionaries, UserDictionaryLinksNameTheirEntries) {
    LF_REQUIRE_REAL_FILE(kWordList);
    const std::vector<std::string> words = lftest::wordListSample(30);
    ASSERT_GT(words.size(), 3000u);
    TestDir dir;
    const std::string path = dir.file("words.lfd");
    std::vector<int64_t> ids;
    std::map<int64_t, std::vector<std::pair<int64_t, std::string>>> made;
    {
        CSQLIO d;
        ASSERT_EQ(0, d.create(path.c_str(), nullptr));
        ASSERT_EQ(0, d.open(path.c_str()));
        ASSERT_EQ(0, d.begin());
        for (const std::string& w : words) {
            int64_t id = 0;
            ASSERT_EQ(0, d.addEntry(w.c_str(), ("meaning of " + w).c_str(), "", "", "", "", "", 0, 1, &id));
            ids.push_back(id);
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            for (int k = 1; k <= 2; ++k) {
                const size_t to = (i * 7 + static_cast<size_t>(k) * 13) % ids.size();
                ASSERT_EQ(0, d.addLink(ids[i], CSQLIO::kLinkTarget, ids[to], k, words[to].c_str()));
                made[ids[i]].push_back({ids[to], words[to]});
            }
        }
        ASSERT_EQ(0, d.commit());
    }
    CEBReader r;
    ASSERT_EQ(r.openUserDictionary(path.c_str()), 1);
    std::vector<char> out(1 << 16);
    size_t links = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(words[i]);
        uint32_t length = 0;
        r.userDict()->renderEntryById(ids[i], out.data(), static_cast<uint32_t>(out.size()), &length, 1);
        const std::string text(out.data(), length);
        std::vector<std::pair<int64_t, std::string>> shown;
        const std::string key = "<A href=\"$row(";
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            const size_t close = text.find(")\">", at);
            const size_t end = text.find("</A>", close);
            shown.push_back({std::stoll(text.substr(at + key.size(), close - at - key.size())),
                             unescaped(text.substr(close + 3, end - close - 3))});
        }
        ASSERT_EQ(made[ids[i]], shown);
        links += shown.size();
    }
    EXPECT_EQ(2 * ids.size(), links);
    std::printf("%zu entries, %zu links each naming the entry it was made to\n", ids.size(), links);
}
