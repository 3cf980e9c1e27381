// libFuzzer target for the book reader's index searches: the input after its
// first two bytes is a run of 2048-byte index pages. The target writes a
// book text file whose index table lists them (blocks 2 on) as the index
// chosen by the second byte and as the body text, opens it and runs every
// search over it: word (prefix, exact, with retries), end-word, keyword and
// cross queries, a multi search in the pages and the text scan. The first
// byte chooses options: bit 0 an ISO 8859-1 book, bit 1 loose matching,
// bit 2 punctuation stripping, bit 3 the 50-hit limit, bit 4 a page-break
// mark, bit 5 the file name "START" (an EB book) instead of "HONMON".
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "foundation/byteorder.h"
#include "fuzz/FuzzScratch.h"

namespace {

FuzzScratch g_scratch("fuzz_booksearch");

// Index ids the second byte chooses from: every leaf layout, both end-word
// families, the kana indexes, and an id of no fixed layout.
const uint8_t kIds[] = {0x91, 0x90, 0x71, 0x70, 0x80, 0x81, 0x40, 0x30, 0xA0, 0x61, 0x72, 0x05};

constexpr size_t kPageSize = 2048;
constexpr size_t kMaxPages = 16;

std::vector<uint8_t> bookFile(uint8_t id, const uint8_t* pages, size_t size) {
    const size_t count = size / kPageSize + (size % kPageSize ? 1 : 0);
    std::vector<uint8_t> file(kPageSize * (1 + count), 0);
    file[1] = 2;  // two areas
    file[16] = 0x00;
    byteorder::putBe32(&file[18], 2);
    byteorder::putBe32(&file[22], static_cast<uint32_t>(count));
    file[32] = id;
    byteorder::putBe32(&file[34], 2);
    byteorder::putBe32(&file[38], static_cast<uint32_t>(count));
    std::copy(pages, pages + size, file.begin() + kPageSize);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 2 + kMaxPages * kPageSize || g_scratch.dir().empty()) return 0;
    const uint8_t select = data[0];
    const uint8_t id = kIds[data[1] % sizeof kIds];
    const std::string path = g_scratch.dir() + (select & 32 ? "/START" : "/HONMON");
    const std::vector<uint8_t> file = bookFile(id, data + 2, size - 2);
    if (!writeScratchFile(path, file.data(), file.size())) return 0;
    {
        CEBReader reader;
        if (reader.open(path.c_str(), 1, 0)) {
            reader.setLatin1(select & 1 ? 1 : 0);
            reader.setLooseMatch(select & 2);
            reader.setStripPunctuation(select & 4);
            reader.setHitLimit50(select & 8);
            if (select & 16) reader.setPageBreak(0x1F41, 0x0001, 1);
            reader.setMaxHits(1000);
            const char* const keys[] = {"a",
                                        "ab",
                                        "\x82\xa0",
                                        "\x83\x41\x81\x5b",
                                        "running",
                                        "#1F41",
                                        "red, green!",
                                        "\"a b\"",
                                        "\x81\x95\x82\x67\x82\x50\x82\x51\x82\x52\x82\x53\x81\x47"};
            const std::string longKey(300, 'a');
            for (const char* key : keys) {
                for (int exact = 0; exact < 2; ++exact) {
                    reader.setWordRetry(exact == 0);
                    reader.resetHits();
                    reader.wordSearch(key, exact, 0, HIT_ADD);
                }
                reader.endwordSearch(key, 1, HIT_RAISE);
                int level = 0;
                reader.resetHits();
                reader.keywordSearch(key, &level, HIT_ADD);
                reader.crossSearch(key, &level, HIT_RAISE);
                reader.resetHits();
                READER_INDEX_INFO sub{data[1], 2, static_cast<uint32_t>(file.size() / kPageSize - 1),
                                      "",      0, {0xFF, 0xFF, 0xC0}};
                reader.multiSearch(&sub, key, 0);
                reader.textScanSearch(key, nullptr, nullptr, 0);
                for (int i = 0; i < reader.hitCount(); ++i) reader.hits().at(i);
            }
            reader.resetHits();
            reader.wordSearch(longKey.c_str(), 0, 0, HIT_ADD);
            reader.fillFollowingHeadings();
        }
    }
    unlink(path.c_str());
    return 0;
}
