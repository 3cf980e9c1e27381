// libFuzzer target for the PDIC text sources and everything that turns their
// headwords into search indexes: the first byte chooses the form (bit 0:
// two-line, else one-line) and options (bit 1 titleOrder, bit 2 autoKana,
// bit 3 autoWord and autoEWord, bit 4 omitHeader, bit 5 delSym off, bit 6
// titleLen 3), the rest is the source file. A whole book with every word,
// kana, keyword and cross index is built from it.
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "builder/CEPWing.h"

namespace {

void quiet(const char*) {}

std::string& workDir() {
    static std::string dir = "/tmp/fuzz_pdictext." + std::to_string(getpid());
    return dir;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path);
}

// The books built by the runs go away with the process.
void removeWorkDir() {
    nftw(workDir().c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string dir = workDir();
    static const std::string path = dir + ".txt";
    static const bool registered = (std::atexit(removeWorkDir), true);
    (void)registered;
    mkdir(dir.c_str(), 0755);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 1) std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

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
