// libFuzzer target for the MDict reader: the input (after one selector byte:
// bit 0 names the file .mdd) is opened as a file, header-only and whole, and
// searched by key, prefix and text; hits, resources and rendered records are
// read. Every text handed out must be terminated inside its buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dictformats/mdict/CMDictReader.h"
#include "fuzz/FuzzScratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static FuzzScratch scratch("fuzz_mdict_open");
    if (scratch.dir().empty()) return 0;
    const std::string path = scratch.dir() + ((data[0] & 1) ? "/in.mdd" : "/in.mdx");
    if (!writeScratchFile(path, data + 1, size - 1)) return 0;

    CMDictReader r;
    if (r.openHeader(path.c_str())) r.close();
    char info[600];
    r.formatInfo(info, sizeof info);
    if (!memchr(info, 0, sizeof info)) abort();
    if (!r.open(path.c_str())) return 0;

    static const char* const kQueries[] = {"a",   "alpha",  "item",    "\\style.css", "中文", "\xF0\x9D\x84\x9E",
                                           "A-B", "apples", "中文字", "\\a.png2",    "App"};
    uint32_t more = 0;
    for (const char* q : kQueries) {
        for (int exact = 0; exact < 2; ++exact) {
            int n = r.search(q, exact, 50, &more);
            for (int i = 0; i < n; ++i) {
                char* key = nullptr;
                char* text = nullptr;
                if (r.getHit(static_cast<uint32_t>(i), &key, &text) != 0) abort();
                if (text) {
                    char out[256];
                    r.applyStyleSheet(text, 0, out, sizeof out);
                    if (!memchr(out, 0, sizeof out)) abort();
                }
            }
        }
        uint64_t len = 0;
        r.resourceData(q, &len);
    }
    std::atomic<uint16_t> cancel{0};
    r.searchText("e", 20, &more, &cancel, nullptr, nullptr);
    uint64_t pos = 0, off = 0, next = 0;
    if (r.findKey("a", &pos, &off, 0) >= 0)
        for (int i = 0; i < 40 && r.nextEntryOffset(&next) >= 0; ++i) r.resourceAt(next);
    return 0;
}
