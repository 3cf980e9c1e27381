// Full-text index benchmark: builds the index of a book's body text in both
// forms and times queries of 1 to 5 characters taken from the text on the
// compact one. Prints MB of body text per second to build (the text is read
// on every core), the index size against the body text, and the query
// latency (alone, and with the open and close the book reader's search
// adds), next to a plain scan of the body text for the same queries as the
// baseline (the ratio says how many times faster the index answers). Not
// run by the tests.
//
//   bench_fts_bench DIR [MB] [QUERIES_PER_LENGTH]
//
// DIR/HONMON is written first: block 1 an index table with one body text
// area, then MB (default 100) of dictionary-like text: entries with a
// heading escape, a headword, lines of kana and kanji words drawn with a
// skewed frequency, ASCII words in narrow text, numbers and newlines. The
// same arguments always give the same bytes.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/fts/CEBFTS.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long long sizeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

struct Lcg {
    uint64_t s = 7;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
};

void put16(std::vector<uint8_t>* b, unsigned c) {
    b->push_back(static_cast<uint8_t>(c >> 8));
    b->push_back(static_cast<uint8_t>(c));
}

bool writeBook(const std::string& path, size_t textBytes) {
    Lcg g;
    std::vector<std::vector<unsigned>> words;
    for (int i = 0; i < 20000; ++i) {
        std::vector<unsigned> w;
        const int len = 1 + g.next() % 4;
        const bool kana = g.next() % 2;
        for (int k = 0; k < len; ++k)
            w.push_back(kana ? 0x2421 + g.next() % 83 : ((0x30 + g.next() % 32) << 8) | (0x21 + g.next() % 94));
        words.push_back(w);
    }
    static const char* const ascii[] = {"noun", "verb", "see", "example", "usage", "adjective", "plural", "past"};
    const size_t blocks = (textBytes + 2047) / 2048;
    std::vector<uint8_t> b(2048, 0);
    b[1] = 1;  // one area: body text, blocks 2 .. blocks + 1
    b[16] = 0x00;
    b[21] = 2;
    b[22] = static_cast<uint8_t>(blocks >> 24);
    b[23] = static_cast<uint8_t>(blocks >> 16);
    b[24] = static_cast<uint8_t>(blocks >> 8);
    b[25] = static_cast<uint8_t>(blocks);
    auto word = [&]() -> const std::vector<unsigned>& {
        const uint32_t r = g.next() % 20000;
        return words[r * r / 20000];  // skewed: low numbers are frequent
    };
    while (b.size() < 2048 + textBytes) {
        put16(&b, 0x1F41);
        put16(&b, 0x0100);
        for (unsigned c : word()) put16(&b, c);
        put16(&b, 0x1F61);
        put16(&b, 0x1F0A);
        const int parts = 8 + g.next() % 24;
        for (int p = 0; p < parts; ++p) {
            const uint32_t k = g.next() % 10;
            if (k < 7) {
                for (unsigned c : word()) put16(&b, c);
                if (g.next() % 4 == 0) put16(&b, 0x2122 + g.next() % 3);  // punctuation
            } else if (k < 9) {
                put16(&b, 0x1F04);
                for (const char* a = ascii[g.next() % 8]; *a; ++a) put16(&b, 0x2300 | static_cast<uint8_t>(*a));
                put16(&b, 0x2121);
                put16(&b, 0x1F05);
            } else {
                for (int d = 0, n = 1 + g.next() % 5; d < n; ++d) put16(&b, 0x2330 + g.next() % 10);
            }
        }
        put16(&b, 0x1F0A);
    }
    b.resize(2048 * (blocks + 1), 0);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [MB] [QUERIES_PER_LENGTH]\n", argv[0]);
        return 2;
    }
    const std::string path = std::string(argv[1]) + "/HONMON";
    const long mbWanted = argc > 2 ? std::atol(argv[2]) : 100;
    const int perLength = argc > 3 ? std::atoi(argv[3]) : 200;
    if (mbWanted < 1 || mbWanted > 4000 || perLength < 1 || !writeBook(path, static_cast<size_t>(mbWanted) * 1000000)) {
        std::fprintf(stderr, "can't write %s\n", path.c_str());
        return 1;
    }
    const char* text = path.c_str();
    CEBReader reader;
    if (!reader.open(text, 1, 0) || !reader.findIndex(0x00)) {
        std::fprintf(stderr, "can't open %s\n", text);
        return 1;
    }
    const READER_INDEX_INFO body = *reader.findIndex(0x00);
    std::vector<uint8_t> bytes(static_cast<size_t>(body.count) * 2048);
    reader.seekBlock(body.start);
    reader.readBytes(bytes.data(), static_cast<int>(bytes.size()));
    const double mb = bytes.size() / 1e6;

    // Both forms, each in its own folder beside the text; the compact one
    // (the default) is searched below.
    char dir[kPathSize];
    pathDirName(text, dir);
    const std::string compactDir = dir, plainDir = std::string(dir) + "/plain";
    mkdir(plainDir.c_str(), 0755);
    std::printf("body text        %.1f MB, %u cores\n", mb, std::thread::hardware_concurrency());
    std::printf("form      build s    MB/s   fts.db MB  fts.dat MB  index/body\n");
    for (int format : {CEBFTS::FORMAT_COMPACT, CEBFTS::FORMAT_PLAIN}) {
        CEBFTS builder;
        builder.setFormat(format);
        const std::string& out = format == CEBFTS::FORMAT_COMPACT ? compactDir : plainDir;
        auto t0 = std::chrono::steady_clock::now();
        if (builder.build(text, out.c_str(), 0) != 0) {
            std::fprintf(stderr, "build failed: %s\n", builder.lastError());
            return 1;
        }
        const double buildSeconds = seconds(t0);
        const long long db = sizeOf(out + "/fts.db"), dat = sizeOf(out + "/fts.dat");
        std::printf("%-8s %8.2f %7.1f %11.1f %11.1f %11.2f\n", format == CEBFTS::FORMAT_COMPACT ? "compact" : "plain",
                    buildSeconds, mb / buildSeconds, db / 1e6, dat / 1e6, static_cast<double>(db + dat) / bytes.size());
    }
    std::printf("goals: at least 20 MB/s, index at most 1.5x the body text\n");

    const std::string dbPath = compactDir + "/fts.db";
    CEBFTS fts;
    if (fts.open(dbPath.c_str()) != 0) {
        std::fprintf(stderr, "open failed: %s\n", fts.lastError());
        return 1;
    }
    Lcg g;
    // "reader": open, search and close, as the book reader's search does.
    std::printf("query  median ms   p95 ms   reader p95 ms   mean hits   scan ms   scan/index\n");
    for (int length = 1; length <= 5; ++length) {
        std::vector<double> times, readerTimes;
        double scanTotal = 0;
        long long hitTotal = 0;
        for (int q = 0; q < perLength; ++q) {
            // A run of JIS X 0208 characters at an even offset of the text.
            std::vector<uint32_t> query;
            std::string jis;
            for (int tries = 0; tries < 1000 && static_cast<int>(query.size()) < length; ++tries) {
                query.clear();
                jis.clear();
                size_t at = (g.next() % (bytes.size() / 2 - 8)) * 2;
                for (int k = 0; k < length; ++k) {
                    unsigned c = (bytes[at + 2 * k] << 8) | bytes[at + 2 * k + 1];
                    uint32_t u = jclib::isJisCode(c) ? jisToUnicode(c) : 0;
                    if (!u || c == 0x2121) break;
                    query.push_back(u);
                    jis.append(reinterpret_cast<const char*>(&bytes[at + 2 * k]), 2);
                }
            }
            query.push_back(0);
            auto t = std::chrono::steady_clock::now();
            hitTotal += fts.search(query.data(), 100000);
            times.push_back(seconds(t) * 1000);
            {
                std::vector<uint32_t> again = query;
                CEBFTS one;
                auto r = std::chrono::steady_clock::now();
                if (one.open(dbPath.c_str()) == 0) one.search(again.data(), 100000);
                one.close();
                readerTimes.push_back(seconds(r) * 1000);
            }
            if (q < 5) {  // the scan is slow: a few suffice for its mean
                auto s = std::chrono::steady_clock::now();
                volatile size_t found = 0;
                const uint8_t* p = bytes.data();
                const uint8_t* end = p + bytes.size();
                while (p < end) {
                    const void* m = memmem(p, static_cast<size_t>(end - p), jis.data(), jis.size());
                    if (!m) break;
                    found = found + 1;
                    p = static_cast<const uint8_t*>(m) + 1;
                }
                scanTotal += seconds(s) * 1000;
            }
        }
        std::sort(times.begin(), times.end());
        std::sort(readerTimes.begin(), readerTimes.end());
        const double median = times[times.size() / 2], p95 = times[times.size() * 95 / 100];
        const double scan = scanTotal / std::min(perLength, 5);
        std::printf("%5d  %9.3f  %7.3f  %14.3f  %10.1f  %8.1f  %10.0f\n", length, median, p95,
                    readerTimes[readerTimes.size() * 95 / 100], static_cast<double>(hitTotal) / perLength, scan,
                    scan / median);
    }
    std::printf("goal: a query under 5 ms\n");
    return 0;
}
