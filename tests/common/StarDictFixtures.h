// Small StarDict dictionaries for the tests: ".ifo", ".idx" and ".dict" (or
// ".dict.dz") written from a list of entries in the order given.
#pragma once

#include <string>
#include <vector>

namespace lftest {

struct StarDictEntry {
    std::string word;
    std::string article;  // the article's bytes as stored
};

struct StarDictOptions {
    std::string sametypesequence = "m";  // empty: no sametypesequence line
    bool dictzip = false;                // ".dict.dz" in place of ".dict"
    std::string extraIfoLines;           // appended to the ".ifo" (later lines win)
};

// Writes dir/stem.ifo, .idx and .dict[.dz]; returns the ".ifo" path.
std::string writeStarDict(const std::string& dir, const std::string& stem, const std::vector<StarDictEntry>& entries,
                          const StarDictOptions& options = StarDictOptions());

// The ".idx" bytes of the entries (articles laid out one after the other).
std::string starDictIndex(const std::vector<StarDictEntry>& entries);

}  // namespace lftest
