// A whole real word list as an MDict file: every word of Debian's American
// English list (converted at test time by make_mdict_fixtures.py --words,
// 16 keys to a key block, so that block ends split families of words that
// begin with one another) looked up exactly and by prefix, against the list
// itself and against js-mdict.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

// Debian's largest American English list (about 348,000 words, mixed case)
// written as a writer that sorts keys by their raw bytes does, 16 keys to a
// key block, in v2.0 UTF-8, v2.0 UTF-16 and v1.2: every word's exact lookup
// gives the words a scan of every key gives under the header's rule (spaces,
// hyphens and full stops skipped, ASCII case folded), in file order, with
// the record that names it (and js-mdict's, for every key, read from a
// copy with large key blocks); a table of prefixes gives what the scan gives,
// and every key js-mdict's prefix search gives is among them. Under the sanitizers only
// the v2.0 UTF-8 file is checked.
namespace {

std::string scanForm(const std::string& key) {
    std::string out;
    for (char c : key)
        if (c != ' ' && c != '-' && c != '.') out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return out;
}

struct RawFile {
    const char* name;
    const char* version;
    const char* encoding;
};

class MdictRawWordList : public testing::TestWithParam<RawFile> {};


}  // namespace

TEST_P(MdictRawWordList, EveryWordAndPrefixAsAScanAndJsMdictGiveThem) {
    LF_REQUIRE_REAL_FILE(lftest::kHugeWordList);
#if defined(__SANITIZE_ADDRESS__)
    if (std::string(GetParam().name) != "v20_utf8") GTEST_SKIP() << "one file only under the sanitizers";
#endif
    // The words as the generator takes them, in raw (byte) order: the file's.
    std::set<std::string> distinct;
    {
        std::ifstream in(lftest::kHugeWordList);
        for (std::string line; std::getline(in, line);) {
            while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
            size_t start = 0;
            while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
            line.erase(0, start);
            if (!line.empty() && line.size() < 250) distinct.insert(line);
        }
    }
    const std::vector<std::string> words(distinct.begin(), distinct.end());
    ASSERT_GE(words.size(), 300000u);
    std::map<std::string, std::vector<size_t>> byForm;  // form -> words, in file order
    for (size_t i = 0; i < words.size(); ++i) byForm[scanForm(words[i])].push_back(i);

    lftest::TestDir dir;
    const std::string path = dir.file(std::string(GetParam().name) + ".mdx");
    ASSERT_EQ(0, lftest::runCommand(lftest::mdictPython() + " " + LF_SOURCE_DIR +
                                    "/tests/dictformats/mdict/make_mdict_fixtures.py --raw-words " +
                                    lftest::kHugeWordList + " " + path + " 16 " + GetParam().version + " " +
                                    GetParam().encoding));
    const std::vector<std::string> prefixes = {"a",    "A",   "in",  "i",   "break", "un",  "re",   "Z",  "zz",
                                               "qu",   "O'",  "st",  "co",  "pre",   "anti", "x",   "Mc", "e",
                                               "aa",   "ab",  "de",  "B",   "b",     "ba",  "Jo",   "j",  "over",
                                               "s'",   "y",   "ze",  "Ca",  "ca",    "CA",  "mis",  "ph", "tele"};
    // js-mdict reads the same words in the same order from a copy with
    // 1024 keys to a block: it takes minutes to open a file of 21,000 key
    // blocks.
    const std::string peerPath = dir.file(std::string(GetParam().name) + "_peer.mdx");
    ASSERT_EQ(0, lftest::runCommand(lftest::mdictPython() + " " + LF_SOURCE_DIR +
                                    "/tests/dictformats/mdict/make_mdict_fixtures.py --raw-words " +
                                    lftest::kHugeWordList + " " + peerPath + " 1024 " + GetParam().version + " " +
                                    GetParam().encoding));
    lftest::MdictPeerView peer = lftest::mdictPeerRead(peerPath, prefixes);
    ASSERT_TRUE(peer.ok) << peer.error;
    ASSERT_EQ(words.size(), peer.entries.size());
    const std::map<std::string, std::string> peerRecord(peer.entries.begin(), peer.entries.end());

    CMDictReader r;
    ASSERT_NE(nullptr, r.open(path.c_str())) << r.failureReason();
    ASSERT_EQ(words.size(), r.numEntries());
    size_t checked = 0, matched = 0, missed = 0, hits = 0;
    size_t peerChecked = 0;
    for (size_t w = 0; w < words.size(); ++w) {
        const std::string& key = words[w];
        ++checked;
        std::vector<std::string> expected;
        for (size_t i : byForm[scanForm(key)]) expected.push_back(words[i]);
        r.search(key.c_str(), 1, 0, nullptr);
        const std::vector<std::string> ours = lftest::mdictHitKeys(r);
        hits += ours.size();
        bool same = ours == expected;
        // The hit with this very key carries the record that names it, and
        // js-mdict's where it looked the key up.
        const auto peerIt = peerRecord.find(key);
        MDICT_HIT* list = nullptr;
        uint32_t count = 0;
        bool record = false;
        if (r.getResults(&list, &count) == 0)
            for (uint32_t i = 0; i < count && !record; ++i)
                if (ours[i] == key) {
                    const char* text = r.recordText(list[i].recordOffset);
                    record = text && std::strncmp(text, ("<b>" + key).c_str(), key.size() + 3) == 0 &&
                             (peerIt == peerRecord.end() || peerIt->second == text);
                }
        if (peerIt != peerRecord.end()) ++peerChecked;
        if (same && record) {
            ++matched;
        } else {
            ++missed;
            EXPECT_TRUE(same && record) << key;
            if (missed > 20) FAIL() << "too many misses";
        }
    }
    size_t prefixHits = 0, peerPrefixKeys = 0;
    for (const std::string& q : prefixes) {
        SCOPED_TRACE(q);
        const std::string qf = scanForm(q);
        std::vector<std::string> expected;
        for (const std::string& w : words)
            if (scanForm(w).compare(0, qf.size(), qf) == 0) expected.push_back(w);
        EXPECT_EQ(static_cast<int>(expected.size()), r.search(q.c_str(), 0, 0, nullptr));
        const std::vector<std::string> ours = lftest::mdictHitKeys(r);
        EXPECT_EQ(expected, ours);
        prefixHits += ours.size();
        const std::set<std::string> oursSet(ours.begin(), ours.end());
        for (const std::string& k : peer.prefix[q]) {
            EXPECT_EQ(1u, oursSet.count(k)) << k;
            ++peerPrefixKeys;
        }
    }
    EXPECT_EQ(words.size(), matched);
    EXPECT_EQ(peer.entries.size(), peerChecked);
    std::printf("%s: %zu keys checked exactly, %zu matched, %zu missed, %zu hits; %zu prefixes, %zu hits, %zu keys "
                "of js-mdict's prefix searches among them; %zu keys' records equal js-mdict's lookup\n",
                GetParam().name, checked, matched, missed, hits, prefixes.size(), prefixHits, peerPrefixKeys,
                peerChecked);
}

INSTANTIATE_TEST_SUITE_P(RawOrder, MdictRawWordList,
                         testing::Values(RawFile{"v20_utf8", "2.0", "UTF-8"}, RawFile{"v20_utf16", "2.0", "UTF-16"},
                                         RawFile{"v12_utf8", "1.2", "UTF-8"}),
                         [](const testing::TestParamInfo<RawFile>& info) { return std::string(info.param.name); });
