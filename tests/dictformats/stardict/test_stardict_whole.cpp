// Whole real StarDict dictionaries of Debian (Czech foreign words, French
// Littré): every headword of the .idx looked up exactly and by prefix, the
// hits against the .idx itself, every article read, and a few hundred exact
// look-ups against sdcv.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "dictformats/stardict/CStarDictReader.h"
#include "tests/common/RealFiles.h"
#include "tests/common/StarDictPeers.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

struct IdxEntry {
    std::string word;
    uint32_t offset, size;
};

// The .idx as the file holds it: word, NUL, offset and size (big-endian).
std::vector<IdxEntry> parseIdx(const lftest::Bytes& idx) {
    std::vector<IdxEntry> out;
    for (size_t p = 0; p < idx.size();) {
        size_t end = p;
        while (end < idx.size() && idx[end]) ++end;
        if (end + 9 > idx.size()) break;
        auto be = [&](size_t at) {
            return (uint32_t(idx[at]) << 24) | (uint32_t(idx[at + 1]) << 16) | (uint32_t(idx[at + 2]) << 8) | idx[at + 3];
        };
        out.push_back({std::string(idx.begin() + p, idx.begin() + end), be(end + 1), be(end + 5)});
        p = end + 9;
    }
    return out;
}

std::string folded(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::vector<std::string> hitWords(CStarDictReader& r) {
    const STARDICT_HIT* hits;
    uint64_t count;
    std::vector<std::string> out;
    if (r.getResults(&hits, &count) != 0) return out;
    for (uint64_t i = 0; i < count; ++i) {
        const char* word = nullptr;
        EXPECT_EQ(0, r.readHit(&hits[i], &word, nullptr));
        out.push_back(word ? word : "(null)");
    }
    return out;
}

// Copies the dictionary's files into dir (the reader and sdcv write caches
// beside them); the .ifo path.
std::string copyDictionary(const std::string& stem, const TestDir& dir) {
    const std::string base = stem.substr(stem.rfind('/') + 1);
    for (const char* ext : {".ifo", ".idx", ".dict.dz"})
        lftest::writeFile(dir.file(base + ext), lftest::readFile(stem + ext));
    return dir.file(base + ".ifo");
}

}  // namespace

class StarDictWhole : public testing::TestWithParam<const char*> {};

TEST_P(StarDictWhole, EveryHeadwordAgainstTheIdxAndSdcv) {
    const std::string stem = GetParam();
    LF_REQUIRE_REAL_FILE((stem + ".idx").c_str());
    TestDir dir;
    const std::string ifo = copyDictionary(stem, dir);
    const std::vector<IdxEntry> idx = parseIdx(lftest::readFile(stem + ".idx"));
    ASSERT_GT(idx.size(), 10000u);
    std::vector<std::string> foldedWords;
    for (const IdxEntry& e : idx) foldedWords.push_back(folded(e.word));
    ASSERT_TRUE(std::is_sorted(foldedWords.begin(), foldedWords.end())) << "the .idx is not in folded order";

    CStarDictReader r;
    ASSERT_NE(nullptr, r.open(ifo.c_str()));
    ASSERT_EQ(idx.size(), r.entryCount());
    size_t articles = 0, prefixHits = 0;
    for (uint32_t i = 0; i < idx.size(); ++i) {
        const char* word;
        const char* article;
        uint32_t offset, size;
        ASSERT_EQ(0, r.entryAt(i, &word, &article, &offset, &size)) << idx[i].word;
        ASSERT_EQ(idx[i].word, word);
        ASSERT_EQ(idx[i].offset, offset);
        ASSERT_EQ(idx[i].size, size);
        ASSERT_NE(nullptr, article);
        ++articles;
    }
    for (size_t i = 0; i < idx.size(); ++i) {
        const std::string& w = idx[i].word;
        const std::string f = foldedWords[i];
        SCOPED_TRACE(w);
        const auto lo = std::lower_bound(foldedWords.begin(), foldedWords.end(), f);
        std::vector<std::string> same, begins;
        for (auto it = lo; it != foldedWords.end() && it->compare(0, f.size(), f) == 0; ++it) {
            if (*it == f) same.push_back(idx[it - foldedWords.begin()].word);
            begins.push_back(idx[it - foldedWords.begin()].word);
        }
        ASSERT_EQ(static_cast<int>(same.size()), r.search(w.c_str(), 1, 0, nullptr));
        ASSERT_EQ(same, hitWords(r));
        ASSERT_EQ(static_cast<int>(begins.size()), r.search(w.c_str(), 0, 0, nullptr));
        ASSERT_EQ(begins, hitWords(r));
        prefixHits += begins.size();
    }

    // sdcv's exact look-ups are case-sensitive: words without another-case
    // twin, spread over the whole index.
    std::vector<std::string> queries;
    for (size_t i = 0; i < idx.size() && queries.size() < 300; i += idx.size() / 300) {
        size_t twins = 0;
        for (auto it = std::lower_bound(foldedWords.begin(), foldedWords.end(), foldedWords[i]);
             it != foldedWords.end() && *it == foldedWords[i]; ++it)
            ++twins;
        if (twins == 1) queries.push_back(idx[i].word);
    }
    ASSERT_GT(queries.size(), 250u);
    std::vector<std::vector<lftest::SdcvHit>> theirs;
    {
        TestDir scratch;
        copyDictionary(stem, scratch);
        ASSERT_TRUE(lftest::sdcvLookup(scratch.path(), queries, &theirs));
    }
    for (size_t q = 0; q < queries.size(); ++q) {
        SCOPED_TRACE(queries[q]);
        std::vector<std::string> words;
        for (const lftest::SdcvHit& h : theirs[q]) words.push_back(h.word);
        r.search(queries[q].c_str(), 1, 0, nullptr);
        EXPECT_EQ(words, hitWords(r));
    }
    std::printf("%zu headwords, %zu articles read, %zu prefix hits, %zu look-ups equal to sdcv's\n", idx.size(),
                articles, prefixHits, queries.size());
}

INSTANTIATE_TEST_SUITE_P(Debian, StarDictWhole,
                         testing::Values("/usr/share/stardict/dic/czech-cizi", "/usr/share/stardict/dic/XMLittre"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0 ? "CzechForeignWords" : "FrenchLittre");
                         });
