// libFuzzer target for the PDIC dictionary reader: the input is written to a
// temporary file, opened, walked entry by entry, searched by headword and by
// full text, and every hit read back.
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/pdic/CPDicReader.h"

namespace {

std::string tempPath() {
    static std::string path;
    if (path.empty()) {
        const char* base = getenv("TMPDIR");
        path = std::string(base && *base ? base : "/tmp") + "/fuzz_pdic." + std::to_string(getpid()) + ".dic";
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = tempPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    CPDicReader r;
    if (r.open(path.c_str()) == 0) {
        std::vector<uint32_t> word(1025), meaning(4001), example(4001), pron(101);
        int level = 0;
        char info[2048];
        r.dumpHeader(info, sizeof info, 1);
        uint32_t title[41];
        r.title(title, 41);
        // Walk: every index entry once, a bounded number of entries.
        if (r.seekIndex(0) == 0 || r.indexCount() > 0) {
            for (int i = 0; i < 5000; ++i) {
                const int rc = r.nextEntry(word.data(), 1025, meaning.data(), 4001, example.data(), 4001, pron.data(),
                                           101, &level, nullptr, PDIC_ENTRY_CRLF_TO_LF);
                if (rc == 1) break;
            }
        }
        r.seekIndex(r.indexCount() - 1);
        static const std::u32string queries[] = {U"a", U"apple", U"Apple", U"日本", U"z"};
        for (const std::u32string& q : queries) {
            std::vector<uint32_t> w(q.begin(), q.end());
            w.push_back(0);
            uint32_t more = 0;
            for (int mode = 0; mode < 2; ++mode) {
                r.search(w.data(), mode, 20, &more);
                const PDIC_HIT* hits = nullptr;
                int n = 0;
                if (r.results(&hits, &n) == 0) {
                    // Copy the results, since reading may not disturb them
                    // but the copies must stay valid regardless.
                    std::vector<PDIC_HIT> copy(hits, hits + n);
                    std::vector<char> pool(r.hitTextBuffer(), r.hitTextBuffer() + r.hitTextSize());
                    for (const PDIC_HIT& h : copy)
                        r.readEntry(&h, pool.data(), word.data(), 64, meaning.data(), 64, example.data(), 64,
                                    pron.data(), 16, &level, nullptr);
                }
            }
        }
        uint32_t more = 0;
        const uint32_t q[] = {'e', 0};
        std::atomic<uint16_t> cancel{0};
        r.fullTextSearch(q, 10, &more, &cancel, nullptr, nullptr, PDIC_FULLTEXT_FOLD_CASE);
    }
    r.close();
    unlink(path.c_str());
    return 0;
}
