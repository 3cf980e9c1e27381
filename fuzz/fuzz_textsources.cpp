// libFuzzer target for the delimited-text, EIJIRO and HTML/XHTML/XML
// sources: the first byte chooses the reader (bits 0-1: 0 delimited text,
// 1 EIJIRO, 2 and 3 the event parser) and options (bit 2 eijiBreak off, bit
// 3 eijiPronon off, bit 4 eijiKana, bits 5-6 eijiYomi, bit 7 autoWord). For
// delimited text the rest's first line is the field spec and the lines after
// it are the source; for the others the rest is the source. A whole book with
// word, kana and keyword indexes is built from it.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "builder/CEPWing.h"
#include "fuzz/FuzzBookFlags.h"
#include "fuzz/FuzzScratch.h"

namespace {

void quiet(const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static FuzzScratch scratch("fuzz_textsources");
    const std::string& dir = scratch.dir();
    if (dir.empty()) return 0;
    const unsigned flags = data[0];
    const int reader = flags & 3;
    const bool csv = reader == 0;
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string spec;
    if (csv) {
        size_t nl = rest.find('\n');
        spec = rest.substr(0, nl);
        rest = nl == std::string::npos ? std::string() : rest.substr(nl + 1);
    }
    const std::string path = dir + "/src.txt";
    if (!writeScratchFile(path, reinterpret_cast<const uint8_t*>(rest.data()), rest.size())) return 0;

    CEPWing w;
    w.init();
    w.setMessageCallback(quiet);
    w.setIntOption("eijiBreak", (flags & 4) == 0);
    w.setIntOption("eijiPronon", (flags & 8) == 0);
    w.setIntOption("eijiKana", (flags & 16) != 0);
    w.setIntOption("eijiYomi", (flags >> 5) & 3);
    w.setBoolOption("autoWord", (flags & 128) != 0);
    w.setBoolOption("autoKana", true);
    // Each input builds into an empty folder: no book or catalog of the
    // input before reaches it.
    const std::string out = scratch.freshFolder("out");
    if (out.empty()) return 0;
    w.setOutput((out + "/").c_str(), 1);
    if (w.newBook("F", "F", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0x13, false, 0, 0) == 0 &&
        w.addSource(path.c_str(), nullptr,
                    csv           ? 9
                    : reader == 1 ? 3
                                  : 7,
                    csv ? spec.c_str() : nullptr) == 0)
        w.makeBook();
    w.closeCatalog();
    w.term();
    return 0;
}
