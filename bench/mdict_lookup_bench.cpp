// Times exact lookups (key found, record text read) in an MDict file with
// CMDictReader: the keys "word%07d" of i = k * 7919 mod entries for k below
// the count. Prints "ours <nanoseconds per lookup> <hits> <peak resident KiB>".
//   bench_mdict_lookup_bench FILE ENTRIES COUNT
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "dictformats/mdict/CMDictReader.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE ENTRIES COUNT\n", argv[0]);
        return 2;
    }
    const long entries = std::atol(argv[2]);
    const long count = std::atol(argv[3]);
    CMDictReader reader;
    if (entries <= 0 || count <= 0 || !reader.open(argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    char key[32];
    long hits = 0;
    auto start = std::chrono::steady_clock::now();
    for (long k = 0; k < count; ++k) {
        std::snprintf(key, sizeof key, "word%07ld", (k * 7919) % entries);
        uint64_t pos = 0, offset = 0;
        if (reader.findKey(key, &pos, &offset, 1) >= 0 && reader.recordText(offset)) ++hits;
    }
    double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("ours %.0f %ld %ld\n", ns / static_cast<double>(count), hits, usage.ru_maxrss);
    return hits == count ? 0 : 1;
}
