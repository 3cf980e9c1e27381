#include "tests/common/StarDictFixtures.h"

#include "tests/common/DictzipFixtures.h"
#include "tests/common/TestDir.h"

namespace lftest {

std::string starDictIndex(const std::vector<StarDictEntry>& entries) {
    std::string idx;
    uint32_t offset = 0;
    for (const StarDictEntry& e : entries) {
        idx += e.word;
        idx += '\0';
        const uint32_t size = static_cast<uint32_t>(e.article.size());
        for (uint32_t v : {offset, size})
            for (int s = 24; s >= 0; s -= 8) idx += static_cast<char>(v >> s);
        offset += size;
    }
    return idx;
}

std::string writeStarDict(const std::string& dir, const std::string& stem, const std::vector<StarDictEntry>& entries,
                          const StarDictOptions& o) {
    std::string dict;
    for (const StarDictEntry& e : entries) dict += e.article;
    const std::string idx = starDictIndex(entries);
    const std::string base = dir + "/" + stem;
    std::string ifo = "StarDict's dict ifo file\nversion=2.4.2\nwordcount=" + std::to_string(entries.size()) +
                      "\nidxfilesize=" + std::to_string(idx.size()) + "\nbookname=" + stem + "\n";
    if (!o.sametypesequence.empty()) ifo += "sametypesequence=" + o.sametypesequence + "\n";
    ifo += o.extraIfoLines;
    writeFile(base + ".ifo", ifo);
    writeFile(base + ".idx", idx);
    if (o.dictzip)
        writeFile(base + ".dict.dz", makeDictzip(dict, DictzipOptions()));
    else
        writeFile(base + ".dict", dict);
    return base + ".ifo";
}

}  // namespace lftest
