// Gaiji-to-Unicode maps: the map file lines, lookups, the cache
// "GaijiMap.db" with its checks (a cache in doubt is rebuilt from the map
// files), staleness by modification time and size, the listing, and the
// map our builder writes beside a book.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bookreader/gaiji/CGaijiMap.h"
#include "foundation/pathutil.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/TestDir.h"

namespace {

const char kMap[] =
    "# a comment line\n"
    "h41\tu00E9\te'\n"
    "zA121\tnull\n"
    "zA122\tu3042,u3099\n"
    "hA121\t-\tn\n"
    "zA123\tU10FFFF\n"
    "zA124\tu110000\n"
    "hA125\tu0065,u0301\tei\n"
    "cA121\tu4E00\n"
    "gA122\tu4E01,u4E02,u4E03\tabcdef\n"
    "x41\tu0041\n"
    "h4\tu0041\n"
    "hA12\tu0041\n"
    "zA126\n";

// A base folder with GAIJI/<name>.map.
void writeMap(const lftest::TestDir& dir, const std::string& name, const std::string& text) {
    mkdir(dir.file("GAIJI").c_str(), 0755);
    lftest::writeFile(dir.file("GAIJI/" + name + ".map"), text);
}

struct Looked {
    int n;
    std::vector<int32_t> cps;
    std::string alt;
};

Looked look(const CGaijiMap& maps, const GAIJI_MAP_RECORD* m, int kind, uint32_t code) {
    int32_t cps[3] = {7, 7, 7};
    char alt[5] = {'x', 'x', 'x', 'x', 0};
    Looked l;
    l.n = maps.lookup(m, kind, code, cps, alt, 4);
    l.cps.assign(cps, cps + 3);
    l.alt = alt;
    return l;
}

void setTime(const std::string& path, time_t seconds) {
    struct timeval tv[2] = {{seconds, 0}, {seconds, 0}};
    utimes(path.c_str(), tv);
}

}  // namespace

TEST(GaijiMapFile, LinesAndLookups) {
    lftest::TestDir dir;
    writeMap(dir, "BOOK", kMap);
    CGaijiMap maps(dir.path().c_str());
    const GAIJI_MAP_RECORD* m = maps.findMap("book");
    ASSERT_NE(m, nullptr);
    struct Case {
        const char* what;
        int kind;
        uint32_t code;
        int n;
        std::vector<int32_t> cps;
        const char* alt;
    } cases[] = {
        {"narrow code with an alternative text", 0, 0x41, 1, {0xE9, 0, 0}, "e'"},
        {"null maps to 0xFFFF", 1, 0xA121, 1, {0xFFFF, 0, 0}, ""},
        {"two code points", 1, 0xA122, 2, {0x3042, 0x3099, 0}, ""},
        {"no code point but a text", 0, 0xA121, 0, {0, 0, 0}, "n"},
        {"the last code point of Unicode", 1, 0xA123, 1, {0x10FFFF, 0, 0}, ""},
        {"past U+10FFFF: the line is ignored", 1, 0xA124, 0, {0, 0, 0}, ""},
        {"a combining mark yields nothing", 0, 0xA125, 0, {0, 0, 0}, ""},
        {"third list by c", 2, 0xA121, 1, {0x4E00, 0, 0}, ""},
        {"third list by g, text cut to four bytes", 2, 0xA122, 3, {0x4E01, 0x4E02, 0x4E03}, "abcd"},
        {"unknown kind letter", 0, 0x41 + 0x100, 0, {0, 0, 0}, ""},
        {"code of two hex digits in a four-digit field", 0, 0xA12, 0, {0, 0, 0}, ""},
        {"no second field", 1, 0xA126, 0, {0, 0, 0}, ""},
        {"kind out of range", 3, 0x41, 0, {0, 0, 0}, ""},
    };
    for (const Case& c : cases) {
        Looked l = look(maps, m, c.kind, c.code);
        EXPECT_EQ(l.n, c.n) << c.what;
        EXPECT_EQ(l.cps, c.cps) << c.what;
        EXPECT_EQ(l.alt, c.alt) << c.what;
    }
    EXPECT_EQ(m->lists[0].size(), 3u);
    maps.setAllowCombining(true);
    Looked combining = look(maps, m, 0, 0xA125);
    EXPECT_EQ(combining.n, 2);
    EXPECT_EQ(combining.cps, (std::vector<int32_t>{0x65, 0x301, 0}));
    EXPECT_EQ(combining.alt, "ei");

    char text[8];
    EXPECT_EQ(maps.reverseLookup(m, 0xE9, text, sizeof text), 2);
    EXPECT_STREQ(text, "e'");
    EXPECT_EQ(maps.reverseLookup(m, 0xE9, text, 2), 1);
    EXPECT_STREQ(text, "e");
    EXPECT_EQ(maps.reverseLookup(m, 0x4E00, text, sizeof text), 0) << "third-list entries are not searched";
    EXPECT_EQ(maps.findMap("OTHER"), nullptr);
}

TEST(GaijiMapCache, WrittenOnceThenRead) {
    lftest::TestDir dir;
    writeMap(dir, "BOOK", kMap);
    writeMap(dir, "SECOND", "hA121\tu00C0\n");
    {
        CGaijiMap maps(dir.path().c_str());
        EXPECT_TRUE(maps.wroteCache());
        EXPECT_EQ(std::string(maps.cachePath()), dir.path() + "/GaijiMap.db");
    }
    std::vector<unsigned char> cache = lftest::readFile(dir.file("GaijiMap.db"));
    ASSERT_GE(cache.size(), 8u);
    EXPECT_EQ(std::string(cache.begin(), cache.begin() + 4), "GM04");
    EXPECT_EQ(cache[4], 2);
    // Nothing but the cache and the folder: the temporary file was renamed.
    EXPECT_EQ(lftest::listDir(dir.path()).size(), 2u);
    // Unchanged map files are not parsed again; the maps come from the cache.
    lftest::writeFile(dir.file("GAIJI/notes.txt"), std::string("not a map"));
    CGaijiMap again(dir.path().c_str());
    EXPECT_FALSE(again.wroteCache());
    ASSERT_NE(again.findMap("SECOND"), nullptr);
    EXPECT_EQ(look(again, again.findMap("BOOK"), 1, 0xA122).cps, (std::vector<int32_t>{0x3042, 0x3099, 0}));
    EXPECT_EQ(look(again, again.findMap("SECOND"), 0, 0xA121).cps, (std::vector<int32_t>{0xC0, 0, 0}));
}

TEST(GaijiMapCache, StaleWhenTimeOrSizeChanges) {
    lftest::TestDir dir;
    writeMap(dir, "BOOK", "hA121\tu00C0\n");
    const std::string path = dir.file("GAIJI/BOOK.map");
    setTime(path, 1000000000);
    { CGaijiMap first(dir.path().c_str()); }
    struct Change {
        const char* what;
        std::string text;
        time_t seconds;
        int32_t expected;
    } changes[] = {
        {"same time, other size", "hA121\tu00C1\t..\n", 1000000000, 0xC1},
        {"same size, older time", "hA121\tu00C2\t..\n", 999999999, 0xC2},
        {"same size, newer time", "hA121\tu00C3\t..\n", 1000000001, 0xC3},
    };
    for (const Change& c : changes) {
        lftest::writeFile(path, c.text);
        setTime(path, c.seconds);
        CGaijiMap maps(dir.path().c_str());
        EXPECT_TRUE(maps.wroteCache()) << c.what;
        EXPECT_EQ(look(maps, maps.findMap("BOOK"), 0, 0xA121).cps[0], c.expected) << c.what;
    }
}

TEST(GaijiMapCache, RefreshReplacesARecord) {
    lftest::TestDir dir;
    writeMap(dir, "BOOK", "hA121\tu00C0\n");
    const std::string path = dir.file("GAIJI/BOOK.map");
    setTime(path, 1000000000);
    CGaijiMap maps(dir.path().c_str());
    EXPECT_EQ(maps.refreshMapFile(path.c_str()), 0) << "unchanged";
    lftest::writeFile(path, "hA121\tu00E0\n");
    setTime(path, 1000000100);
    EXPECT_EQ(maps.refreshMapFile(path.c_str()), 1);
    // The old record stays in memory, marked replaced.
    ASSERT_EQ(maps.recordCount(), 2);
    EXPECT_EQ(maps.record(0)->valid, 0);
    EXPECT_EQ(look(maps, maps.findMap("BOOK"), 0, 0xA121).cps[0], 0xE0);
    EXPECT_EQ(maps.refreshMapFile(dir.file("GAIJI/none.map").c_str()), 0);
    // A new object finds the cached record stale and rewrites the cache
    // with the new map only.
    lftest::writeFile(path, "hA121\tu00E1\n");
    CGaijiMap fresh(dir.path().c_str());
    EXPECT_TRUE(fresh.wroteCache());
    EXPECT_EQ(look(fresh, fresh.findMap("BOOK"), 0, 0xA121).cps[0], 0xE1);
    std::vector<unsigned char> cache = lftest::readFile(dir.file("GaijiMap.db"));
    EXPECT_EQ(cache[4], 1);
}

TEST(GaijiMapCache, DoubtfulCachesAreRebuilt) {
    lftest::TestDir dir;
    writeMap(dir, "BOOK", "hA121\tu00C0\nhA122\tu00C1\n");
    { CGaijiMap first(dir.path().c_str()); }
    const std::vector<unsigned char> good = lftest::readFile(dir.file("GaijiMap.db"));
    // Layout: "GM04", count, then name (32), three i16 counts, time (16),
    // size (8), and 20-byte entries.
    const size_t counts = 8 + 32, entries = 8 + 32 + 6 + 16 + 8;
    ASSERT_EQ(good.size(), entries + 2 * 20);
    struct Damage {
        const char* what;
        std::function<void(std::vector<unsigned char>&)> apply;
    } damages[] = {
        {"cut in the entries", [](std::vector<unsigned char>& b) { b.resize(b.size() - 7); }},
        {"more maps than the file holds", [](std::vector<unsigned char>& b) { b[4] = 200; }},
        {"negative map count", [](std::vector<unsigned char>& b) { b[7] = 0x80; }},
        {"entry count past the file", [&](std::vector<unsigned char>& b) { b[counts] = 0x40; }},
        {"negative entry count", [&](std::vector<unsigned char>& b) { b[counts + 1] = 0xFF; }},
        {"code point past U+10FFFF", [&](std::vector<unsigned char>& b) { b[entries + 6] = 0x11; }},
        {"entries out of order", [&](std::vector<unsigned char>& b) { b[entries] = 0x30; }},
        {"bytes after the last map", [](std::vector<unsigned char>& b) { b.push_back(0); }},
        {"name without its end", [](std::vector<unsigned char>& b) { memset(&b[8], 'A', 32); }},
    };
    for (const Damage& d : damages) {
        std::vector<unsigned char> bad = good;
        d.apply(bad);
        lftest::writeFile(dir.file("GaijiMap.db"), bad);
        CGaijiMap maps(dir.path().c_str());
        EXPECT_TRUE(maps.wroteCache()) << d.what;
        EXPECT_EQ(maps.recordCount(), 1) << d.what;
        EXPECT_EQ(look(maps, maps.findMap("BOOK"), 0, 0xA122).cps[0], 0xC1) << d.what;
        EXPECT_EQ(lftest::readFile(dir.file("GaijiMap.db")), good) << d.what;
    }
    // Another signature loads nothing; the maps are parsed and the cache written.
    std::vector<unsigned char> old = good;
    old[3] = '3';
    lftest::writeFile(dir.file("GaijiMap.db"), old);
    CGaijiMap maps(dir.path().c_str());
    EXPECT_TRUE(maps.wroteCache());
    EXPECT_EQ(lftest::readFile(dir.file("GaijiMap.db")), good);
}

TEST(GaijiMapCache, LongBaseFolders) {
    // A folder whose cache path would pass the path limit is still scanned,
    // without a cache; one whose own name passes it is not cut to the name
    // of another folder.
    lftest::TestDir dir;
    struct Case {
        size_t length;  // of the base folder, its "/" included
        bool scanned;
    } cases[] = {{255 - 11, true}, {255 - 10, true}, {255, true}, {256, false}};
    for (const Case& c : cases) {
        const std::string parent = dir.file(std::to_string(c.length));
        mkdir(parent.c_str(), 0755);
        const std::string base = parent + "/" + std::string(c.length - parent.size() - 2, 'b');
        ASSERT_EQ(base.size() + 1, c.length);
        ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((base + "/GAIJI").c_str(), 0755), 0);
        lftest::writeFile(base + "/GAIJI/BOOK.map", std::string("hA121\tu00C0\n"));
        CGaijiMap maps(base.c_str());
        const bool cached = c.length + 11 <= 255;
        EXPECT_EQ(maps.findMap("BOOK") != nullptr, c.scanned) << c.length;
        if (c.scanned) {
            EXPECT_EQ(look(maps, maps.findMap("BOOK"), 0, 0xA121).cps[0], 0xC0) << c.length;
        }
        EXPECT_EQ(maps.wroteCache(), cached) << c.length;
        EXPECT_EQ(std::string(maps.cachePath()).empty(), !cached) << c.length;
        EXPECT_EQ(fileExists((base + "/GaijiMap.db").c_str()) == 1, cached) << c.length;
    }
}

TEST(GaijiMapListing, DumpText) {
    lftest::TestDir dir;
    writeMap(dir, "BOOK", "h41\tu00E9\nzA121\tu20B9F\ncA121\tu4E00,u4E01\n");
    CGaijiMap maps(dir.path().c_str());
    ASSERT_EQ(maps.dumpText(dir.file("dump.txt").c_str()), 0);
    std::vector<unsigned char> b = lftest::readFile(dir.file("dump.txt"));
    std::string text(b.begin(), b.end());
    struct stat st;
    stat(dir.file("GAIJI/BOOK.map").c_str(), &st);
    EXPECT_EQ(text, "GAIJIVERSTR=GM04\nnMap=1\n[#0]\ndir=BOOK\nnHan=1\nnZen=1\nnChi=1\ncreate_time=" +
                        std::to_string(st.st_mtime) +
                        "\n(000): &h0041; -> u000E9;\n(000): &zA121; -> u20B9F;\n(000): &cA121; -> u04E00;u04E01;\n");
    EXPECT_EQ(maps.dumpText(dir.file("no/such/dump.txt").c_str()), -1);
}

TEST(GaijiMapBuilder, TheMapOurBuilderWrites) {
    // A book whose text holds é and 𠮟 (no Shift_JIS form): the builder gives
    // them gaiji codes and writes "<output>/TEST.map"; read from GAIJI, it
    // maps each code back to its character.
    lftest::TestDir dir;
    lftest::BookRun run =
        lftest::buildPlainTextBook(dir.file("out"), dir.file("src.txt"), "caf\xC3\xA9 \xF0\xA0\xAE\x9F\n");
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    std::vector<unsigned char> map = lftest::readFile(dir.file("out/TEST.map"));
    ASSERT_FALSE(map.empty()) << run.log();
    mkdir(dir.file("base").c_str(), 0755);
    mkdir(dir.file("base/GAIJI").c_str(), 0755);
    lftest::writeFile(dir.file("base/GAIJI/TEST.map"), map);
    CGaijiMap maps(dir.file("base").c_str());
    const GAIJI_MAP_RECORD* m = maps.findMap("TEST");
    ASSERT_NE(m, nullptr);
    std::vector<uint32_t> found;
    for (int kind : {0, 1})
        for (const GAIJI_MAP_ENTRY& e : m->lists[kind]) {
            EXPECT_EQ(look(maps, m, kind, e.code).n, 1) << std::string(map.begin(), map.end());
            found.push_back(e.codePoints[0]);
        }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<uint32_t>{0xE9, 0x20B9F})) << std::string(map.begin(), map.end());
}
