// libFuzzer target for the user dictionary's searches and writes: the input
// is a mode byte, a search word, a newline and a link target. The words go
// into a fixture dictionary that the target makes on first use: searched in
// every mode, by text and as link targets, then added as an entry with all
// its index rows, searched again and deleted.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "dictformats/userdict/CSQLIO.h"
#include "fuzz/FuzzScratch.h"

namespace {

const char kName[] = "fixture.lfd";

// The fixture, open; null when it cannot be made.
CSQLIO* fixture() {
    static FuzzScratch scratch("fuzz_userdict");
    static std::unique_ptr<CSQLIO> d;
    if (d) return d.get();
    if (scratch.dir().empty()) return nullptr;
    const std::string path = scratch.dir() + "/" + kName;
    std::unique_ptr<CSQLIO> made(new CSQLIO);
    if (made->create(path.c_str(), nullptr) != 0 || made->open(path.c_str()) != 0) return nullptr;
    static const char* const entries[][3] = {
        {"clock", "o'clock", ""},         {"100%", "100%", ""},    {"a_b", "a_b", ""},
        {"東京駅", "", "とうきょうえき"}, {"green apple", "", ""}, {"row(1)", "row(1)", "ろう"},
    };
    int64_t id = 0;
    for (const auto& e : entries) made->addEntry(e[0], "meaning", "", e[1], e[2], e[0], "", 0, 1 | 4 | 16, &id);
    made->addLink(1, CSQLIO::kLinkTarget, id, 1, "last");
    // One transaction for the whole run (closing commits it): the writes
    // stay in memory instead of each reaching the disk.
    made->begin();
    d = std::move(made);
    return d.get();
}

void readHits(CSQLIO* d) {
    char headword[256], meaning[64], idkey[33];
    int64_t id = 0;
    int level = 0;
    for (size_t i = 0; i < d->getResultCount(); ++i)
        d->readResult(i, &id, headword, sizeof headword, meaning, sizeof meaning, nullptr, 0, nullptr, 0, nullptr, 0,
                      idkey, sizeof idkey, nullptr, 0, &level);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    CSQLIO* d = fixture();
    if (!d) return 0;
    static const int kModes[] = {0, 1, 4, 16, 32, 2, 1 | 4, 4 | 16};
    const int mode = kModes[data[0] % 8];
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t newline = rest.find('\n');
    // Texts end at a zero byte as C strings do.
    const std::string word = rest.substr(0, newline).c_str();
    const std::string target = newline == std::string::npos ? word : std::string(rest.substr(newline + 1).c_str());

    uint32_t more = 0;
    d->search(word.c_str(), mode, 3, &more);
    readHits(d);
    d->searchText(word.c_str(), 3, &more, nullptr, nullptr, nullptr);
    d->searchLinkTarget(target.c_str());
    readHits(d);

    int64_t id = 0;
    if (d->addEntry(word.c_str(), target.c_str(), "", target.c_str(), word.c_str(), target.c_str(), "", 0, 1 | 4 | 16,
                    &id) == 0) {
        d->search(word.c_str(), CSQLIO::kReversed, 0, &more);
        readHits(d);
        d->addAltIndexWords(id, data[0], target.c_str(), word.c_str());
        d->updateEntry(id, target.c_str(), word.c_str(), "", "", target.c_str(), word.c_str(), "", 1, 1 | 4 | 16);
        d->deleteEntry(id);
    }
    return 0;
}
