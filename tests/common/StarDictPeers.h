// Probes of the StarDict tools, run as black boxes: stardict-bin2text (every
// article of a dictionary), stardict-text2bin and tabfile (dictionaries from
// text), and sdcv (lookups). sdcv writes caches beside the dictionary and in
// its home, so it runs on a scratch copy with a scratch home.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace lftest {

struct PeerArticle {
    std::string word;
    std::vector<std::pair<char, std::string>> fields;  // type letter, bytes
};

// Every article of the dictionary as stardict-bin2text writes it out, in
// index order; false when the tool fails.
bool starDictBin2Text(const std::string& ifoPath, const std::string& scratchDir, std::vector<PeerArticle>* out);
// Runs stardict-text2bin on an XML text, writing dir/stem.ifo etc.; false on failure.
bool starDictText2Bin(const std::string& xml, const std::string& dir, const std::string& stem);
// Runs tabfile on "word TAB meaning" lines, writing dir/stem.ifo etc.
bool starDictTabfile(const std::string& lines, const std::string& dir, const std::string& stem);

struct SdcvHit {
    std::string word;
    std::string definition;
};
// Looks every query up with sdcv (exact search, no fuzzy matches; a query
// ending in "*" is a prefix pattern) in the dictionaries of dataDir, in one
// run. One list of hits per query; false when sdcv fails.
bool sdcvLookup(const std::string& dataDir, const std::vector<std::string>& queries,
                std::vector<std::vector<SdcvHit>>* out);

// The path of a StarDict tool in /usr/lib/stardict-tools.
std::string starDictTool(const char* name);

}  // namespace lftest
