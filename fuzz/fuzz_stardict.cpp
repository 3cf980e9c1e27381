// libFuzzer target for the StarDict reader: the input holds the files of one
// dictionary, which is opened twice (the second open reads the offset cache
// the first one wrote), walked entry by entry with every article rendered,
// searched exactly, by prefix and by text, and its information text made.
//
// Input: a selector byte (bit 0: the article file is "w.dict.dz", else
// "w.dict"; bit 1: an offset cache part follows the index), then
// u16 little-endian length + the ".ifo", u32 length + the ".idx",
// [u32 length + the ".lfi"], and the rest is the article file.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dictformats/stardict/CStarDictReader.h"
#include "foundation/byteorder.h"
#include "fuzz/FuzzScratch.h"
#include "fuzz/StarDictFuzzInput.h"

namespace {

FuzzScratch g_scratch("fuzz_stardict");

void exercise(CStarDictReader& r) {
    std::vector<char> html(4096);
    const uint32_t n = r.entryCount() < 2000 ? r.entryCount() : 2000;
    std::string firstWord;
    for (uint32_t i = 0; i < n; ++i) {
        const char* word;
        const char* article;
        uint32_t offset, size;
        if (r.entryAt(i, &word, &article, &offset, &size) != 0) continue;
        if (i == 0) firstWord = word;
        if (article) r.renderArticle(reinterpret_cast<const uint8_t*>(article), size, html.data(), html.size());
    }
    int more;
    r.search(firstWord.c_str(), 1, 0, &more);
    r.search(firstWord.substr(0, 1).c_str(), 0, 50, &more);
    const STARDICT_HIT* hits;
    uint64_t count;
    if (r.getResults(&hits, &count) == 0)
        for (uint64_t i = 0; i < count; ++i) r.readHit(&hits[i], nullptr, nullptr);
    r.searchText("a", 100, &more, nullptr, nullptr, nullptr);
    r.idxEntryAt(0xFFFFFFFFu);
    char info[300];
    r.formatInfo(info, sizeof info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || g_scratch.dir().empty()) return 0;
    const std::string base = g_scratch.dir() + "/w";
    stardictfuzz::writeFiles(base, data, data + size);

    for (int pass = 0; pass < 2; ++pass) {
        CStarDictReader r;
        if (r.open((base + ".ifo").c_str())) exercise(r);
    }
    return 0;
}
