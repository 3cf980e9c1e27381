// libFuzzer target for the tag tokenizer: the input is cut into tokens in
// memory (parseTag) and, written to a file, read back with nextToken in both
// white-space modes. Every token and attribute must lie inside its text.
#include "builder/CParseTag0.h"

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void checkInside(const TAG_ITEM& tag, const char* begin, const char* end) {
    for (const TAG_ATTR_ITEM& a : tag.attr) {
        if (a.name == nullptr) break;
        if (a.name < begin || a.name + a.nameLen > end || a.nameLen < 0) abort();
        if (a.value != nullptr && (a.value < begin || a.value + a.valueLen > end || a.valueLen < 0)) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    CParseTag0 p;
    size_t pos = 0;
    while (pos < size) {
        TAG_ITEM tag;
        int used = p.parseTag(text + pos, &tag, static_cast<int>(size - pos));
        if (used <= 0 || pos + static_cast<size_t>(used) > size) abort();
        checkInside(tag, text + pos, text + pos + used);
        pos += static_cast<size_t>(used);
    }

    static const std::string path = "/tmp/fuzz_parsetag." + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (int keepSpace = 0; keepSpace < 2; ++keepSpace) {
        if (p.open(path.c_str()) != 0) return 0;
        char* token = nullptr;
        TAG_ITEM tag;
        int n;
        size_t total = 0;
        while ((n = p.nextToken(&token, &tag, keepSpace)) > 0) {
            if (n >= CParseTag0::kBufferSize || token[n] != 0) abort();
            checkInside(tag, token, token + n);
            total += static_cast<size_t>(n);
            if (total > 2 * size + 16) abort();  // the tokenizer must make progress
        }
        p.close();
    }
    std::remove(path.c_str());
    return 0;
}
