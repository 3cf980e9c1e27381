// Decoder benchmark: every entry of a generated book of 10^5 entries (PDIC
// one-line source, EPWING) is decoded through our reader's tag set and
// through the EB Library's eb_read_text with equivalent hooks (the same tags
// for keywords, references, indents, line ends, narrow text, gaiji), in one
// run, on the plain book and on a copy compressed by ebzip at level 5.
// Prints entries per second for both sides and their ratio (best of three).
//
//   bench_text_bench [entries]     (default 100000)
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
    for (long i = 0; i < entries; ++i) {
        // A kana and ASCII headword, a body of two lines with kanji.
        std::fprintf(f,
                     "\x82\xA0\x82\xA2word%ld /// \x8E\xAB\x8F\x91\x82\xCC meaning of entry %ld "
                     "\x95\xB6\x8E\x9A\x97\xF1 \\ second line %ld\n",
                     i, i, i);
    }
    std::fclose(f);
}

struct Position {
    unsigned block, offset;
};

// The start of every entry, found by our reader.
std::vector<Position> entryStarts(const std::string& honmon) {
    std::vector<Position> out;
    CEBReader reader;
    if (!reader.open(honmon.c_str(), 1, 0)) return out;
    const READER_INDEX_INFO* body = reader.findIndex(0x00);
    if (!body) return out;
    std::vector<char> buf(1 << 16);
    Position p{body->start, 0};
    for (;;) {
        reader.seekBlock(p.block);
        if (p.offset) reader.setOffset(static_cast<int>(p.offset));
        uint32_t n = 0;
        reader.readText(buf.data(), static_cast<uint32_t>(buf.size()), &n, 1, 0);
        uint64_t end = reader.lastTextEnd();
        Position next{static_cast<unsigned>(end >> 32), static_cast<unsigned>(end & 0xFFFF)};
        if (end == 0 || (next.block == p.block && next.offset == p.offset)) break;
        out.push_back(p);
        p = next;
        if (out.size() > 10000000) break;
    }
    return out;
}

double ours(const std::string& honmon, const std::vector<Position>& starts, size_t* bytes) {
    CEBReader reader;
    if (!reader.open(honmon.c_str(), 1, 0)) return -1;
    std::vector<char> buf(1 << 16);
    *bytes = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (const Position& p : starts) {
        reader.seekBlock(p.block);
        if (p.offset) reader.setOffset(static_cast<int>(p.offset));
        uint32_t n = 0;
        reader.readText(buf.data(), static_cast<uint32_t>(buf.size()), &n, 1, 0);
        *bytes += n;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Hooks writing the same tags as our tag set.
EB_Error_Code tagHook(EB_Book* book, EB_Appendix*, void*, EB_Hook_Code code, int argc, const unsigned int* argv) {
    char tag[64];
    switch (code) {
        case EB_HOOK_BEGIN_KEYWORD:
            return eb_write_text_string(book, "<HEAD>");
        case EB_HOOK_END_KEYWORD:
            return eb_write_text_string(book, "</HEAD>");
        case EB_HOOK_NEWLINE:
            return eb_write_text_string(book, "<BR>");
        case EB_HOOK_SET_INDENT:
            std::snprintf(tag, sizeof tag, "<INDENT=%02u>", argc > 1 ? argv[1] : 0);
            return eb_write_text_string(book, tag);
        case EB_HOOK_BEGIN_REFERENCE:
            return eb_write_text_string(book, "<LINK>");
        case EB_HOOK_END_REFERENCE:
            std::snprintf(tag, sizeof tag, "</LINK[%08X:%04X]>", argv[1], argv[2]);
            return eb_write_text_string(book, tag);
        case EB_HOOK_NARROW_FONT:
            std::snprintf(tag, sizeof tag, "&h%04X;", argv[0]);
            return eb_write_text_string(book, tag);
        case EB_HOOK_WIDE_FONT:
            std::snprintf(tag, sizeof tag, "&z%04X;", argv[0]);
            return eb_write_text_string(book, tag);
        default:
            return EB_SUCCESS;
    }
}

double theirs(const std::string& bookDir, const std::vector<Position>& starts, size_t* bytes) {
    EB_Book book;
    eb_initialize_book(&book);
    EB_Hookset hooks;
    eb_initialize_hookset(&hooks);
    for (EB_Hook_Code c : {EB_HOOK_BEGIN_KEYWORD, EB_HOOK_END_KEYWORD, EB_HOOK_NEWLINE, EB_HOOK_SET_INDENT,
                           EB_HOOK_BEGIN_REFERENCE, EB_HOOK_END_REFERENCE, EB_HOOK_NARROW_FONT, EB_HOOK_WIDE_FONT}) {
        EB_Hook h = {c, tagHook};
        eb_set_hook(&hooks, &h);
    }
    double seconds = -1;
    if (bench::bindFirstSubbook(&book, bookDir)) {
        std::vector<char> buf(1 << 16);
        *bytes = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (const Position& p : starts) {
            EB_Position pos;
            pos.page = static_cast<int>(p.block);
            pos.offset = static_cast<int>(p.offset);
            if (eb_seek_text(&book, &pos) != EB_SUCCESS) break;
            for (;;) {
                ssize_t n = 0;
                if (eb_read_text(&book, nullptr, &hooks, nullptr, buf.size() - 1, buf.data(), &n) != EB_SUCCESS ||
                    n <= 0)
                    break;
                *bytes += static_cast<size_t>(n);
            }
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    eb_finalize_hookset(&hooks);
    eb_finalize_book(&book);
    return seconds;
}

void run(const char* label, const std::string& bookDir, const std::vector<Position>& starts) {
    const std::string honmon = bookDir + "/BENCH/DATA/HONMON";
    double bestOurs, bestTheirs;
    size_t ourBytes = 0, theirBytes = 0;
    if (!bench::bestOfThree([&] { return ours(honmon, starts, &ourBytes); },
                            [&] { return theirs(bookDir, starts, &theirBytes); }, &bestOurs, &bestTheirs)) {
        std::printf("%s: a side could not read the book\n", label);
        return;
    }
    double n = static_cast<double>(starts.size());
    std::printf("%-14s %10zu %14.0f %14.0f %8.2fx %12zu %12zu\n", label, starts.size(), n / bestOurs, n / bestTheirs,
                bestTheirs / bestOurs, ourBytes, theirBytes);
}

}  // namespace

int main(int argc, char** argv) {
    long entries = argc > 1 ? std::atol(argv[1]) : 100000;
    static const bool initialized = eb_initialize_library() == EB_SUCCESS;
    (void)initialized;
    const std::string dir =
        bench::makeBooks("text_bench", [&](const std::string& path) { writeSource(path, entries); });
    if (dir.empty()) return 1;
    std::vector<Position> starts = entryStarts(dir + "/plain/BENCH/DATA/HONMON");
    std::printf("%-14s %10s %14s %14s %9s %12s %12s\n", "book", "entries", "ours/s", "libeb/s", "ratio", "our bytes",
                "libeb bytes");
    run("plain", dir + "/plain", starts);
    run("ebzip level 5", dir + "/z5", starts);
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
