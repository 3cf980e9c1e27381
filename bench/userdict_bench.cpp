// Creates a user dictionary of generated entries (ASCII words and Japanese
// words with kana) through CSQLIO inside one transaction, with whole-key,
// reversed-key and single-word index rows, then times exact, prefix and
// suffix lookups. The sqlite3 tool runs the same inserts and the same
// queries from a script beside it, and the ratios are printed.
//
//   bench_userdict_bench [entries] [lookups]     (default 100000 10000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dictformats/userdict/CSQLIO.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Entry {
    std::string headword, keyword, kana;
};

// Deterministic, unique keys: two ASCII words for one Japanese one.
std::vector<Entry> makeEntries(long count) {
    static const char* const kKanji[] = {"東", "京", "駅", "大", "阪", "山", "川", "海", "空", "花"};
    static const char* const kKana[] = {"あ", "い", "う", "え", "お", "か", "き", "く", "け", "こ"};
    std::vector<Entry> out;
    out.reserve(static_cast<size_t>(count));
    uint32_t seed = 12345;
    for (long i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        Entry e;
        unsigned long n = static_cast<unsigned long>(i);
        if (i % 3 == 2) {
            do {
                e.headword += kKanji[n % 10];
                e.kana += kKana[n % 10];
                n /= 10;
            } while (n);
            e.headword += kKanji[(seed >> 8) % 10];
            e.kana += kKana[(seed >> 8) % 10];
        } else {
            // Random letters around the number, a second word for some.
            e.headword += static_cast<char>('a' + (seed >> 8) % 26);
            do {
                e.headword += static_cast<char>('a' + n % 26);
                n /= 26;
            } while (n);
            e.headword += static_cast<char>('a' + (seed >> 16) % 26);
            if (i % 4 == 0) e.headword += " word";
        }
        e.keyword = e.headword;
        out.push_back(e);
    }
    return out;
}

std::string sqlQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// Seconds the sqlite3 tool takes for the script on db; negative on failure.
double timeSqliteTool(const std::string& db, const std::string& script) {
    const std::string path = db + ".bench.sql";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return -1;
    std::fwrite(script.data(), 1, script.size(), f);
    std::fclose(f);
    const Clock::time_point start = Clock::now();
    const int rc = std::system(("sqlite3 -batch -bail '" + db + "' < '" + path + "' > /dev/null").c_str());
    const double t = secondsSince(start);
    unlink(path.c_str());
    return rc == 0 ? t : -1;
}

void report(const char* what, long count, double ours, double tool) {
    std::printf("%-18s %8.0f /s  %8.1f us each", what, count / ours, 1e6 * ours / count);
    if (tool > 0)
        std::printf("   sqlite3 tool %8.0f /s   ratio ours/tool %.2f\n", count / tool, tool / ours);
    else if (tool == 0)
        std::printf("   (not compared)\n");
    else
        std::printf("   (sqlite3 tool failed)\n");
}

}  // namespace

int main(int argc, char** argv) {
    const long entries = argc > 1 ? std::atol(argv[1]) : 100000;
    const long lookups = argc > 2 ? std::atol(argv[2]) : 10000;
    if (entries < 1 || lookups < 1) {
        std::fprintf(stderr, "usage: %s [entries] [lookups]\n", argv[0]);
        return 2;
    }
    char dirTemplate[] = "/tmp/userdict_bench.XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    const std::string db = dir + "/bench.lfd", toolDb = dir + "/tool.lfd";
    const std::vector<Entry> list = makeEntries(entries);
    const int flags = CSQLIO::kWholeKey | CSQLIO::kReversed | CSQLIO::kWord;

    // Inserts, ours.
    CSQLIO d;
    Clock::time_point start = Clock::now();
    if (d.create(db.c_str(), nullptr) != 0 || d.open(db.c_str()) != 0 || d.begin() != 0) {
        std::fprintf(stderr, "cannot create %s\n", db.c_str());
        return 1;
    }
    int64_t id = 0;
    for (const Entry& e : list) {
        if (d.addEntry(e.headword.c_str(), "meaning", "", e.keyword.c_str(), e.kana.c_str(), "", "", 0, flags, &id) !=
            0) {
            std::fprintf(stderr, "insert failed\n");
            return 1;
        }
    }
    d.commit();
    const double insertSeconds = secondsSince(start);

    // The same rows by the sqlite3 tool: the schema of a new dictionary
    // (copied from ours), then entries and index rows in one transaction.
    std::string script = ".read '" + dir + "/schema.sql'\nbegin;\n";
    {
        CSQLIO empty;
        empty.create((dir + "/empty.lfd").c_str(), nullptr);
        std::system(
            ("sqlite3 '" + dir + "/empty.lfd' .schema | grep -v sqlite_sequence > '" + dir + "/schema.sql'").c_str());
    }
    long row = 0;
    for (const Entry& e : list) {
        ++row;
        script += "insert into book(idkey,no,headword,meaning,phonetic,keyword,kana,level) values ('',''," +
                  sqlQuote(e.headword) + ",'meaning',''," + sqlQuote(e.keyword) + "," + sqlQuote(e.kana) + ",0);\n";
        script += "insert into altindex values (" + std::to_string(row) + ",1,''," + sqlQuote(e.keyword) + ");\n";
    }
    script += "commit;\n";
    const double toolInsertSeconds = timeSqliteTool(toolDb, script);
    std::printf("%ld entries created in %.2f s\n", entries, insertSeconds);
    report("inserts", entries, insertSeconds, toolInsertSeconds);

    // Lookups: words spread over the dictionary.
    struct Kind {
        const char* name;
        int mode;
    } kinds[] = {{"exact lookups", CSQLIO::kExact},
                 {"prefix lookups", CSQLIO::kWholeKey},
                 {"suffix lookups", CSQLIO::kReversed}};
    for (const Kind& k : kinds) {
        std::vector<std::string> words;
        std::string query;
        for (long i = 0; i < lookups; ++i) {
            const Entry& e = list[static_cast<size_t>((i * 7919) % entries)];
            std::string w = e.keyword;
            if (k.mode == CSQLIO::kWholeKey) w = w.substr(0, 3);
            if (k.mode == CSQLIO::kReversed) w = w.substr(w.size() - (w[0] & 0x80 ? 6 : 3));
            words.push_back(w);
            if (k.mode == CSQLIO::kExact)
                query += "select id from book where keyword = " + sqlQuote(w) + " or kana = " + sqlQuote(w) + ";\n";
            else if (k.mode == CSQLIO::kWholeKey)
                query += "select id from book where keyword like " + sqlQuote(w + "%") + " or kana like " +
                         sqlQuote(w + "%") + " limit 50;\n";
        }
        start = Clock::now();
        long hits = 0;
        for (const std::string& w : words) hits += d.search(w.c_str(), k.mode, 50, nullptr);
        const double seconds = secondsSince(start);
        // The tool's file has no reversed keys: suffix lookups are not compared.
        const double tool = query.empty() ? 0 : timeSqliteTool(toolDb, query);
        report(k.name, lookups, seconds, tool);
        std::printf("%18s %ld hits\n", "", hits);
    }
    d.close();
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
