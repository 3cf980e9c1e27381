// Word-search benchmark: on a generated book of 10^5 entries (PDIC one-line
// source, EPWING), a few thousand word searches through our reader and
// through the EB Library, each timed from the search to the first hit's text
// (search, hit list, text of the first hit), in one run, on the plain book
// and on a copy compressed by ebzip at level 5. Prints searches per second
// for both sides and their ratio (best of three).
//
//   bench_search_bench [entries] [searches]     (defaults 100000, 5000)
#include <sys/stat.h>
#include <unistd.h>

#include <eb/eb.h>
#include <eb/error.h>
#include <eb/text.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchBook.h"
#include "bookreader/core/CEBReader.h"

namespace {

void writeSource(const std::string& path, long entries) {
    FILE* f = bench::createOrExit(path);
    // A kana and ASCII headword, a body of two lines with kanji.
    for (long i = 0; i < entries; ++i)
        std::fprintf(f, "\x82\xA0\x82\xA2word%ld /// \x8E\xAB\x8F\x91\x82\xCC meaning of entry %ld \\ line %ld\n", i, i,
                     i);
    std::fclose(f);
}

// Headwords of entries spread over the book: with five digits each names
// exactly one entry. Shift_JIS for us, EUC-JP for the library.
struct Query {
    std::string sjis, euc;
};

std::vector<Query> queries(long entries, int count) {
    std::vector<Query> out;
    const long first = entries > 10000 ? 10000 : 0;
    unsigned long x = 12345;
    for (int i = 0; i < count; ++i) {
        x = x * 6364136223846793005ul + 1442695040888963407ul;
        long n = first + static_cast<long>((x >> 33) % static_cast<unsigned long>(entries - first));
        out.push_back({"\x82\xA0\x82\xA2word" + std::to_string(n), "\xA4\xA2\xA4\xA4word" + std::to_string(n)});
    }
    return out;
}

double ours(const std::string& honmon, const std::vector<Query>& qs, long* found) {
    CEBReader reader;
    if (!reader.open(honmon.c_str(), 1, 0)) return -1;
    std::vector<char> buf(1 << 16);
    *found = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (const Query& q : qs) {
        reader.resetHits();
        if (reader.wordSearch(q.sjis.c_str(), 0, 0, HIT_ADD) <= 0) continue;
        const HIT_ITEM* h = reader.hits().at(0);
        reader.seekBlock(h->textBlock);
        if (h->textOffset) reader.setOffset(h->textOffset);
        uint32_t n = 0;
        reader.readText(buf.data(), static_cast<uint32_t>(buf.size()), &n, 1, 0);
        *found += n > 0;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double theirs(const std::string& bookDir, const std::vector<Query>& qs, long* found) {
    EB_Book book;
    eb_initialize_book(&book);
    double seconds = -1;
    if (bench::bindFirstSubbook(&book, bookDir)) {
        std::vector<char> buf(1 << 16);
        EB_Hit hits[50];
        *found = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const Query& q : qs) {
            int n = 0;
            if (eb_search_word(&book, q.euc.c_str()) != EB_SUCCESS || eb_hit_list(&book, 50, hits, &n) != EB_SUCCESS ||
                n <= 0)
                continue;
            if (eb_seek_text(&book, &hits[0].text) != EB_SUCCESS) continue;
            ssize_t total = 0;
            for (;;) {
                ssize_t got = 0;
                if (eb_read_text(&book, nullptr, nullptr, nullptr, buf.size() - 1, buf.data(), &got) != EB_SUCCESS ||
                    got <= 0)
                    break;
                total += got;
            }
            *found += total > 0;
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    eb_finalize_book(&book);
    return seconds;
}

void run(const char* label, const std::string& bookDir, const std::vector<Query>& qs) {
    const std::string honmon = bookDir + "/BENCH/DATA/HONMON";
    double bestOurs, bestTheirs;
    long ourFound = 0, theirFound = 0;
    if (!bench::bestOfThree([&] { return ours(honmon, qs, &ourFound); },
                            [&] { return theirs(bookDir, qs, &theirFound); }, &bestOurs, &bestTheirs)) {
        std::printf("%s: a side could not read the book\n", label);
        return;
    }
    const double n = static_cast<double>(qs.size());
    std::printf("%-14s %9zu %12.0f %12.0f %8.2fx %10ld %10ld\n", label, qs.size(), n / bestOurs, n / bestTheirs,
                bestTheirs / bestOurs, ourFound, theirFound);
}

}  // namespace

int main(int argc, char** argv) {
    const long entries = argc > 1 ? std::atol(argv[1]) : 100000;
    const int searches = argc > 2 ? std::atoi(argv[2]) : 5000;
    static const bool initialized = eb_initialize_library() == EB_SUCCESS;
    (void)initialized;
    const std::string dir =
        bench::makeBooks("search_bench", [&](const std::string& path) { writeSource(path, entries); });
    if (dir.empty()) return 1;
    const std::vector<Query> qs = queries(entries, searches);
    std::printf("%-14s %9s %12s %12s %9s %10s %10s\n", "book", "searches", "ours/s", "libeb/s", "ratio", "our texts",
                "libeb texts");
    run("plain", dir + "/plain", qs);
    run("ebzip level 5", dir + "/z5", qs);
    if (!std::getenv("SEARCH_BENCH_KEEP")) std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
