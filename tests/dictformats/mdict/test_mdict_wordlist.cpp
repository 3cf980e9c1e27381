// A whole real word list as an MDict file: every word of Debian's American
// English list (converted at test time by make_mdict_fixtures.py --words,
// 16 keys to a key block, so that block ends split families of words that
// begin with one another) looked up exactly and by prefix, against the list
// itself and against js-mdict.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dictformats/mdict/CMDictReader.h"
#include "tests/common/MdictFixtures.h"
#include "tests/common/RealFiles.h"
#include "tests/common/TestDir.h"

using lftest::kWordList;

namespace {

std::string folded(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

}  // namespace

TEST(MdictWordList, EveryWordExactAndByPrefixAgainstTheListAndJsMdict) {
    LF_REQUIRE_REAL_FILE(kWordList);
    // The words as the generator takes them: distinct, in the file's order
    // (ASCII case folded, then bytes); the record of the i-th names it.
    std::set<std::string> distinct;
    {
        std::ifstream in(kWordList);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line.size() < 250) distinct.insert(line);
    }
    std::vector<std::string> words(distinct.begin(), distinct.end());
    ASSERT_GE(words.size(), 100000u);
    std::map<std::string, size_t> number;  // record number, in byte order
    for (size_t i = 0; i < words.size(); ++i) number[words[i]] = i;
    std::stable_sort(words.begin(), words.end(), [](const std::string& a, const std::string& b) {
        const std::string fa = folded(a), fb = folded(b);
        return fa != fb ? fa < fb : a < b;
    });

    lftest::TestDir dir;
    const std::string path = dir.file("words.mdx");
    ASSERT_EQ(0, lftest::runCommand(lftest::mdictPython() + " " + LF_SOURCE_DIR +
                                    "/tests/dictformats/mdict/make_mdict_fixtures.py --words " + kWordList + " " +
                                    path + " 16"));
    lftest::MdictPeerView peer = lftest::mdictPeerRead(path, {"--every-key"});
    ASSERT_TRUE(peer.ok) << peer.error;
    ASSERT_EQ(words.size(), peer.entries.size());

    CMDictReader r;
    ASSERT_NE(nullptr, r.open(path.c_str())) << r.failureReason();
    ASSERT_EQ(words.size(), r.numEntries());
    std::vector<std::string> foldedWords;
    for (const std::string& w : words) foldedWords.push_back(folded(w));

    size_t exactFound = 0, prefixHits = 0, peerPrefixKeys = 0;
    for (const auto& e : peer.entries) {
        const std::string& key = e.first;
        SCOPED_TRACE(key);
        // Exact: the hits are the words equal to it but for ASCII case, and
        // the one with this very key carries the peer's and the list's record.
        const std::string f = folded(key);
        const auto lo = std::lower_bound(foldedWords.begin(), foldedWords.end(), f);
        std::vector<std::string> same;
        for (auto it = lo; it != foldedWords.end() && *it == f; ++it) same.push_back(words[it - foldedWords.begin()]);
        ASSERT_EQ(static_cast<int>(same.size()), r.search(key.c_str(), 1, 0, nullptr));
        ASSERT_EQ(same, lftest::mdictHitKeys(r));
        uint64_t pos = 0, offset = 0;
        ASSERT_GE(r.findKey(key.c_str(), &pos, &offset, 1), 0);
        bool found = false;
        for (int k = 0; k < static_cast<int>(same.size()) && !found; ++k) {
            if (key == r.keyText(pos)) {
                const char* text = r.recordText(offset);
                ASSERT_NE(nullptr, text);
                EXPECT_EQ(e.second, text);
                EXPECT_EQ(0, std::strncmp(text, ("<b>" + key).c_str(), key.size() + 3)) << text;
                EXPECT_NE(nullptr, std::strstr(text, (" entry " + std::to_string(number[key])).c_str())) << text;
                found = true;
            } else if (r.findNextKey(key.c_str(), &pos, &offset, 1) < 0) {
                break;
            }
        }
        ASSERT_TRUE(found);
        ++exactFound;
        // Prefix: every word that begins with it but for ASCII case, in order.
        std::vector<std::string> expected;
        for (auto it = lo; it != foldedWords.end() && it->compare(0, f.size(), f) == 0; ++it)
            expected.push_back(words[it - foldedWords.begin()]);
        ASSERT_EQ(static_cast<int>(expected.size()), r.search(key.c_str(), 0, 0, nullptr));
        const std::vector<std::string> ours = lftest::mdictHitKeys(r);
        ASSERT_EQ(expected, ours);
        prefixHits += ours.size();
        // js-mdict's prefix search is case-sensitive and stops at the end of
        // a key block: each key it gives is one of ours.
        const std::set<std::string> oursSet(ours.begin(), ours.end());
        for (const std::string& k : peer.prefix[key]) {
            EXPECT_EQ(1u, oursSet.count(k)) << k;
            ++peerPrefixKeys;
        }
    }
    EXPECT_EQ(words.size(), exactFound);
    std::printf("%zu words found exactly, %zu prefix hits, %zu keys of js-mdict's prefix searches among them\n",
                exactFound, prefixHits, peerPrefixKeys);
}
