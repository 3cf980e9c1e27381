// libFuzzer target for the dictionary back ends of the book reader: a
// mutated dictionary of one kind is opened through the reader, searched, its
// hits collected into an item list and every hit rendered (single and
// continuous, heads too) into a buffer of a size the input picks; every
// output must be terminated inside its buffer.
//
// Input: a kind byte (value % 4: 0 PDIC, 1 StarDict, 2 DSL and PDIC markup,
// 3 MDict), a size byte (bit 7 clear: output size 1..64 + its low bits;
// set: 8192), then the files:
//   PDIC: the ".dic";
//   StarDict: as fuzz_stardict's input (selector byte, u16 length + ".ifo",
//     u32 length + ".idx", [u32 length + ".lfi"], the article file);
//   DSL: markup text, converted and escaped, and as PDIC text to tags;
//   MDict: a selector byte (ignored) and the ".mdx".
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bookreader/backends/CMDictBackend.h"
#include "bookreader/backends/CPdicBackend.h"
#include "bookreader/backends/CStarDictBackend.h"
#include "bookreader/backends/CUserDictBackend.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "fuzz/FuzzScratch.h"
#include "fuzz/StarDictFuzzInput.h"

namespace {

FuzzScratch g_scratch("fuzz_backends");
constexpr int kMaxRendered = 16;
constexpr size_t kGuard = 16;

// An output buffer with a guard behind it: the renderers must stay inside
// size and terminate there.
template <typename CharT>
struct Output {
    explicit Output(size_t n) : size(n), data(n + kGuard, static_cast<CharT>(0x5A)) {}
    void check() const {
        bool terminated = false;
        for (size_t i = 0; i < size; ++i)
            if (data[i] == 0) terminated = true;
        if (!terminated) abort();
        for (size_t i = size; i < data.size(); ++i)
            if (data[i] != static_cast<CharT>(0x5A)) abort();
    }
    size_t size;
    std::vector<CharT> data;
};

template <typename Render>
void renderAll(const CItemList& list, int count, size_t size, Render render) {
    for (int i = 0; i < count && i < kMaxRendered; ++i)
        for (int single = 0; single < 2; ++single) {
            Output<char> out(size);
            render(i, single, out.data.data(), static_cast<uint32_t>(size));
            out.check();
        }
    (void)list;
}

void pdic(CEBReader& r, CItemList& list, size_t size) {
    r.pdic()->search(reinterpret_cast<const uint32_t*>(U"a"), PDIC_SEARCH_PREFIX, 50);
    r.collectHits(&list, 0, 0);
    r.pdic()->fullTextSearch(reinterpret_cast<const uint32_t*>(U"e"), nullptr, nullptr, 0);
    r.collectHits(&list, list.count(), 0);
    for (int i = 0; i < list.pdicHitCount() && i < kMaxRendered; ++i) {
        uint32_t length;
        for (int single = 0; single < 2; ++single) {
            Output<uint32_t> out(size);
            r.pdic()->renderHits(&list, i, out.data.data(), 1 << 20, static_cast<uint32_t>(size * 4), &length, single,
                                 1);
            out.check();
        }
        Output<uint32_t> head(size);
        r.pdic()->hitHeadword(&list, i, head.data.data(), static_cast<uint32_t>(size * 4), &length);
        head.check();
    }
    Output<uint32_t> entries(size);
    uint32_t length;
    r.pdic()->renderIndexEntries(0, entries.data.data(), 1 << 20, static_cast<uint32_t>(size * 4), &length, 1);
    entries.check();
}

void starDict(CEBReader& r, CItemList& list, size_t size) {
    r.starDict()->search("a", 0, 50);
    r.collectHits(&list, 0, 0);
    r.starDict()->fullTextSearch("e", nullptr, nullptr);
    r.collectHits(&list, list.count(), 0);
    uint32_t length;
    renderAll(list, list.starDictHitCount(), size, [&](int i, int single, char* out, uint32_t n) {
        r.starDict()->renderHits(&list, i, out, 1 << 20, n, &length, single);
        if (single) r.starDict()->hitHeadword(&list, i, out, n, &length);
    });
}

void mdict(CEBReader& r, CItemList& list, size_t size) {
    r.mdict()->search("a", 0, 50);
    r.collectHits(&list, 0, 0);
    r.mdict()->fullTextSearch("e", nullptr, nullptr);
    r.collectHits(&list, list.count(), 0);
    uint32_t length;
    renderAll(list, list.mdictHitCount(), size, [&](int i, int single, char* out, uint32_t n) {
        r.mdict()->renderHits(&list, i, out, 1 << 20, n, &length, single, 1);
        if (single) r.mdict()->hitHeadword(&list, i, out, n, &length);
    });
}

void markup(const uint8_t* p, size_t n, size_t size) {
    const char* text = reinterpret_cast<const char*>(p);
    Output<char> dsl(size), escaped(size);
    CUserDictBackend::convertDslMarkup(dsl.data.data(), static_cast<uint32_t>(size), 0, text, n);
    dsl.check();
    CUserDictBackend::escapeText(escaped.data.data(), static_cast<uint32_t>(size), 0, text, n, n & 1, false);
    escaped.check();
    std::vector<uint32_t> wide(p, p + n);
    Output<uint32_t> tags(size);
    CPdicBackend::textToTags(tags.data.data(), static_cast<uint32_t>(size), wide.data(), static_cast<int>(n), true);
    tags.check();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || g_scratch.dir().empty()) return 0;
    const int kind = data[0] % 4;
    const size_t outSize = (data[1] & 0x80) ? 8192 : 1 + (data[1] & 0x3F);
    const uint8_t* p = data + 2;
    const uint8_t* end = data + size;
    const std::string base = g_scratch.dir() + "/w";
    CEBReader r;
    r.setMaxHits(100);
    CItemList list;
    switch (kind) {
        case 0:
            if (!writeScratchFile(base + ".dic", p, static_cast<size_t>(end - p))) return 0;
            if (r.openPdic((base + ".dic").c_str())) pdic(r, list, outSize);
            break;
        case 1:
            if (!stardictfuzz::writeFiles(base, p, end)) return 0;
            if (r.openStarDict((base + ".ifo").c_str())) starDict(r, list, outSize);
            break;
        case 2:
            markup(p, static_cast<size_t>(end - p), outSize);
            break;
        default:
            if (p == end) return 0;
            if (!writeScratchFile(base + ".mdx", p + 1, static_cast<size_t>(end - p - 1))) return 0;
            if (r.openMDict((base + ".mdx").c_str())) mdict(r, list, outSize);
            break;
    }
    char info[300];
    r.dictionaryInformation(info, sizeof info, 1);
    if (!memchr(info, 0, sizeof info)) abort();
    return 0;
}
