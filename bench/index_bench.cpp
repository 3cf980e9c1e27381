// Builds books from generated PDIC one-line sources of 10^4, 10^5 and 10^6
// entries (ASCII words, kanji headwords with 【kana】 readings, katakana
// headwords) with the prefix and suffix indexes by written form and by kana,
// and prints entries per second, peak memory and output size per size. Then
// the same for tagged dictionary markup of the same entries (a heading every
// 100 entries, DT/DD entries with the readings as KEY elements, a link per
// entry), up to 10^5 entries or max-entries, and for delimited text of the
// same entries (headword, reading and meaning columns) at every size, each
// with its rate as a ratio of the PDIC one.
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
#include <utility>
#include <vector>

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

// One entry of writeSource taken apart: the written form, its reading (empty
// when none) and the meaning.
struct BenchEntry {
    std::string word, kana, meaning;
};

// Writes the entries of writeSource in another form into path: write is
// called once per entry with its number and the output file.
template <typename Write>
void rewriteEntries(const std::string& path, long entries, Write write) {
    const std::string pdic = path + ".pdic";
    writeSource(pdic, entries);
    FILE* in = std::fopen(pdic.c_str(), "rb");
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!in || !out) {
        std::perror(path.c_str());
        std::exit(1);
    }
    char line[512];
    long i = 0;
    while (std::fgets(line, sizeof line, in)) {
        std::string text(line);
        size_t cut = text.find(" /// ");
        BenchEntry e;
        std::string head = text.substr(0, cut);
        e.meaning = cut == std::string::npos ? std::string() : text.substr(cut + 5);
        while (!e.meaning.empty() && (e.meaning.back() == '\n' || e.meaning.back() == '\r')) e.meaning.pop_back();
        e.word = head;
        size_t open = head.find("\x81\x79");
        if (open != std::string::npos) {
            e.word = head.substr(0, open);
            e.kana = head.substr(open + 2, head.size() - open - 4);
        }
        write(out, i++, e);
    }
    std::fclose(in);
    std::fclose(out);
    std::remove(pdic.c_str());
}

// The markup form: each headword a DT (its word entry) with its reading, when
// it has one, as a kana KEY (its kana entry), and a DD with a link to the
// next entry; a heading every 100 entries.
void writeMarkup(const std::string& path, long entries) {
    rewriteEntries(path, entries, [entries](FILE* out, long i, const BenchEntry& e) {
        if (i == 0) std::fputs("<DL>\n", out);
        if (i % 100 == 0) std::fprintf(out, "</DL><H2>Part %ld</H2><DL>\n", i / 100);
        std::fprintf(out, "<DT id=\"e%ld\">%s</DT>", i, e.word.c_str());
        if (!e.kana.empty()) std::fprintf(out, "<KEY type=\"kana\">%s</KEY>", e.kana.c_str());
        std::fputc('\n', out);
        std::fprintf(out, "<DD>meaning of entry %ld, see <A HREF=\"#e%ld\">the next</A>.</DD>\n", i, (i + 1) % entries);
        if (i == entries - 1) std::fputs("</DL>\n", out);
    });
}

// The delimited-text form: headword, reading and meaning, in Shift_JIS,
// comma-separated.
const char kCsvSpec[] = "enc=shift_jis;delim=,;fields=headword|kana|meaning|";
void writeCsv(const std::string& path, long entries) {
    rewriteEntries(path, entries, [](FILE* out, long, const BenchEntry& e) {
        std::fprintf(out, "%s,%s,\"%s\"\n", e.word.c_str(), e.kana.c_str(), e.meaning.c_str());
    });
}

long long fileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

int build(const std::string& dir, const std::string& source, int type, const char* fields) {
    CEPWing w;
    w.init();
    w.setBoolOption("autoKana", true);
    w.setMessageCallback(quiet);
    w.setOutput((dir + "/").c_str(), 1);
    // Prefix and suffix search by written form and by kana.
    if (w.newBook("Bench", "BENCH", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0x0F, false, 0, 0) != 0)
        return 1;
    if (w.addSource(source.c_str(), nullptr, type, fields) != 0) return 1;
    w.makeBook();
    w.closeCatalog();
    w.term();
    return 0;
}

struct Result {
    double seconds = 0, cpu = 0, peakMB = 0;
    long long bytes = 0;
    bool ok = false;
};

// Builds the source of n entries of the given kind (5 PDIC one-line, 0
// markup, 9 delimited text) in a child process.
Result measure(const std::string& dir, long n, int type) {
    const std::string source = dir + (type == 5 ? "/src.txt" : type == 9 ? "/src.csv" : "/src.html");
    if (type == 5)
        writeSource(source, n);
    else if (type == 9)
        writeCsv(source, n);
    else
        writeMarkup(source, n);
    const std::string out = dir + "/out" + std::to_string(n);
    mkdir(out.c_str(), 0755);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) _exit(build(out, source, type, type == 9 ? kCsvSpec : nullptr));
    int status = 0;
    struct rusage ru;
    std::memset(&ru, 0, sizeof ru);
    wait4(pid, &status, 0, &ru);
    Result r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.bytes = fileSize(out + "/BENCH/DATA/HONMON") + fileSize(out + "/CATALOGS");
    r.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    r.peakMB = ru.ru_maxrss / 1024.0;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::string rm = "rm -rf '" + out + "' '" + source + "'";
    if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", out.c_str());
    return r;
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
    std::printf("PDIC one-line\n%10s %10s %10s %14s %12s %14s\n", "entries", "seconds", "cpu s", "entries/s", "peak MB",
                "output bytes");
    double previous = 0;
    std::vector<std::pair<long, double>> pdicRates;
    for (long n = 10000; n <= maxEntries; n *= 10) {
        Result r = measure(dir, n, 5);
        std::printf("%10ld %10.2f %10.2f %14.0f %12.1f %14lld", n, r.seconds, r.cpu, n / r.seconds, r.peakMB, r.bytes);
        if (previous > 0) std::printf("   x%.1f cpu time", r.cpu / previous);
        if (!r.ok) std::printf("   (build failed)");
        std::printf("\n");
        std::fflush(stdout);
        previous = r.cpu;
        pdicRates.push_back({n, n / r.seconds});
    }
    std::printf("\nTagged markup (DT/DD, KEY, a link per entry)\n%10s %10s %10s %14s %12s %14s %12s\n", "entries",
                "seconds", "cpu s", "entries/s", "peak MB", "output bytes", "x PDIC rate");
    for (const auto& p : pdicRates) {
        if (p.first > 100000) break;
        Result r = measure(dir, p.first, 0);
        std::printf("%10ld %10.2f %10.2f %14.0f %12.1f %14lld %12.2f%s\n", p.first, r.seconds, r.cpu,
                    p.first / r.seconds, r.peakMB, r.bytes, (p.first / r.seconds) / p.second,
                    r.ok ? "" : "   (build failed)");
        std::fflush(stdout);
    }
    std::printf("\nDelimited text (headword, reading, meaning)\n%10s %10s %10s %14s %12s %14s %12s\n", "entries",
                "seconds", "cpu s", "entries/s", "peak MB", "output bytes", "x PDIC rate");
    for (const auto& p : pdicRates) {
        Result r = measure(dir, p.first, 9);
        std::printf("%10ld %10.2f %10.2f %14.0f %12.1f %14lld %12.2f%s\n", p.first, r.seconds, r.cpu,
                    p.first / r.seconds, r.peakMB, r.bytes, (p.first / r.seconds) / p.second,
                    r.ok ? "" : "   (build failed)");
        std::fflush(stdout);
    }
    rmdir(dir.c_str());
    return 0;
}
