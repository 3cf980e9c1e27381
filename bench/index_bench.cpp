// Builds books from generated PDIC one-line sources of 10^4, 10^5 and 10^6
// entries (ASCII words, kanji headwords with 【kana】 readings, katakana
// headwords) with the prefix and suffix indexes by written form and by kana,
// and prints entries per second, peak memory and output size per size.
//
//   bench_index_bench [max-entries]     (default 1000000)
//
// Each size is built in a child process so that its peak memory is its own.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "builder/CEPWing.h"

namespace {

void quiet(const char*) {}

// A deterministic mix of the three kinds of headwords.
void writeSource(const std::string& path, long entries) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFF;
    };
    std::string line;
    for (long i = 0; i < entries; ++i) {
        line.clear();
        switch (i % 3) {
            case 0: {  // ASCII word, unique by its number
                unsigned n = static_cast<unsigned>(i);
                line += static_cast<char>('a' + next() % 26);
                do {
                    line += static_cast<char>('a' + n % 26);
                    n /= 26;
                } while (n);
                line += static_cast<char>('a' + next() % 26);
                break;
            }
            case 1: {  // two or three kanji with a hiragana reading
                int k = 2 + static_cast<int>(next() % 2);
                for (int j = 0; j < k; ++j) {
                    line += static_cast<char>(0x88 + next() % 0x10);
                    line += static_cast<char>(0x9F + next() % 0x5D);
                }
                line += "\x81\x79";
                int r = 3 + static_cast<int>(next() % 4);
                for (int j = 0; j < r; ++j) {
                    line += '\x82';
                    line += static_cast<char>(0x9F + next() % 0x53);
                }
                line += "\x81\x7a";
                break;
            }
            default: {  // katakana
                int r = 3 + static_cast<int>(next() % 5);
                for (int j = 0; j < r; ++j) {
                    line += '\x83';
                    line += static_cast<char>(0x40 + next() % 0x3E);
                }
                break;
            }
        }
        char body[64];
        std::snprintf(body, sizeof body, " /// meaning of entry %ld \\ second line\n", i);
        line += body;
        std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fclose(f);
}

long long fileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

int build(const std::string& dir, const std::string& source) {
    CEPWing w;
    w.init();
    w.setBoolOption("autoKana", true);
    w.setMessageCallback(quiet);
    w.setOutput((dir + "/").c_str(), 1);
    // Prefix and suffix search by written form and by kana.
    if (w.newBook("Bench", "BENCH", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0x0F, false, 0, 0) != 0)
        return 1;
    if (w.addSource(source.c_str(), nullptr, 5, nullptr) != 0) return 1;
    w.makeBook();
    w.closeCatalog();
    w.term();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    long maxEntries = argc > 1 ? std::atol(argv[1]) : 1000000;
    char tmpl[] = "/tmp/index_bench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    std::printf("%10s %10s %10s %14s %12s %14s\n", "entries", "seconds", "cpu s", "entries/s", "peak MB",
                "output bytes");
    double previous = 0;
    for (long n = 10000; n <= maxEntries; n *= 10) {
        const std::string source = dir + "/src.txt";
        writeSource(source, n);
        const std::string out = dir + "/out" + std::to_string(n);
        mkdir(out.c_str(), 0755);
        auto t0 = std::chrono::steady_clock::now();
        pid_t pid = fork();
        if (pid == 0) _exit(build(out, source));
        int status = 0;
        struct rusage ru;
        std::memset(&ru, 0, sizeof ru);
        wait4(pid, &status, 0, &ru);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        long long bytes = fileSize(out + "/BENCH/DATA/HONMON") + fileSize(out + "/CATALOGS");
        double cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
        std::printf("%10ld %10.2f %10.2f %14.0f %12.1f %14lld", n, seconds, cpu, n / seconds, ru.ru_maxrss / 1024.0,
                    bytes);
        if (previous > 0) std::printf("   x%.1f cpu time", cpu / previous);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("   (build failed)");
        std::printf("\n");
        std::fflush(stdout);
        previous = cpu;
        std::string rm = "rm -rf '" + out + "' '" + source + "'";
        if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", out.c_str());
    }
    rmdir(dir.c_str());
    return 0;
}
