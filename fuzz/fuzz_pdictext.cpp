// libFuzzer target for the PDIC text sources and everything that turns their
// headwords into search indexes: the first byte chooses the form (bit 0:
// two-line, else one-line) and options (bit 1 titleOrder, bit 2 autoKana,
// bit 3 autoWord and autoEWord, bit 4 omitHeader, bit 5 delSym off, bit 6
// titleLen 3), the rest is the source file. A whole book with every word,
// kana, keyword and cross index is built from it.
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
    static FuzzScratch scratch("fuzz_pdictext");
    if (scratch.dir().empty()) return 0;
    // Each input builds into an empty folder: no book or catalog of the
    // input before reaches it.
    const std::string dir = scratch.freshFolder("book");
    const std::string path = scratch.dir() + "/src.txt";
    if (dir.empty()) return 0;
    if (!writeScratchFile(path, data + 1, size - 1)) return 0;

    const unsigned flags = data[0];
    CEPWing w;
    w.init();
    w.setMessageCallback(quiet);
    w.setIntOption("titleOrder", (flags >> 1) & 1);
    w.setBoolOption("autoKana", (flags & 4) != 0);
    w.setBoolOption("autoWord", (flags & 8) != 0);
    w.setBoolOption("autoEWord", (flags & 8) != 0);
    w.setBoolOption("omitHeader", (flags & 16) != 0);
    w.setBoolOption("delSym", (flags & 32) == 0);
    if (flags & 64) w.setIntOption("titleLen", 3);
    w.setOutput((dir + "/").c_str(), 1);
    if (w.newBook("F", "F", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0x9F, false, 0, 0) == 0 &&
        w.addSource(path.c_str(), nullptr, (flags & 1) ? 2 : 5, nullptr) == 0)
        w.makeBook();
    w.closeCatalog();
    w.term();
    std::remove(path.c_str());
    return 0;
}
