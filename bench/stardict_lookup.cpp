// Looks words up in a StarDict dictionary: opens it, reads one query a line
// from standard input and writes every exact hit's word and article to
// standard output, as a command-line dictionary client does. With -t it
// prints to standard error the time to open and the time per lookup.
//
//   bench_stardict_lookup [-t] DICT.ifo < queries
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "dictformats/stardict/CStarDictReader.h"

int main(int argc, char** argv) {
    const bool timing = argc > 2 && std::strcmp(argv[1], "-t") == 0;
    if (argc < 2 || (timing && argc < 3)) {
        std::fprintf(stderr, "usage: %s [-t] DICT.ifo < queries\n", argv[0]);
        return 2;
    }
    typedef std::chrono::steady_clock Clock;
    const Clock::time_point t0 = Clock::now();
    CStarDictReader reader;
    if (!reader.open(argv[timing ? 2 : 1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[timing ? 2 : 1]);
        return 1;
    }
    const Clock::time_point t1 = Clock::now();
    char line[4096];
    long queries = 0;
    while (std::fgets(line, sizeof line, stdin)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        ++queries;
        const int hits = reader.search(line, 1, 0, nullptr);
        const STARDICT_HIT* list;
        uint64_t count;
        if (hits == 0 || reader.getResults(&list, &count) != 0) {
            std::fputs("[]\n", stdout);
            continue;
        }
        for (uint64_t i = 0; i < count; ++i) {
            const char* word;
            const char* article;
            if (reader.readHit(&list[i], &word, &article) != 0 || !article) continue;
            std::fputs(word, stdout);
            std::fputc('\n', stdout);
            std::fwrite(article, 1, list[i].articleSize, stdout);
            std::fputc('\n', stdout);
        }
    }
    std::fflush(stdout);
    const Clock::time_point t2 = Clock::now();
    if (timing) {
        const double open = std::chrono::duration<double>(t1 - t0).count();
        const double each = queries ? std::chrono::duration<double>(t2 - t1).count() / queries : 0;
        std::fprintf(stderr, "open %.6f s, %ld lookups, %.3f us per lookup\n", open, queries, each * 1e6);
    }
    return 0;
}
