#include "tests/common/RealFiles.h"

#include <fstream>

namespace lftest {

const char kWordList[] = "/usr/share/dict/american-english";
const char kHugeWordList[] = "/usr/share/dict/american-english-huge";

std::vector<std::string> wordListSample(size_t step) {
    std::vector<std::string> words;
    std::ifstream in(kWordList);
    size_t n = 0;
    for (std::string line; std::getline(in, line); ++n)
        if (n % step == 0 && !line.empty()) words.push_back(line);
    return words;
}

}  // namespace lftest
