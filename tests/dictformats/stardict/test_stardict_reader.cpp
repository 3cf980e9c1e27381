// The StarDict reader on small dictionaries written by the tests: lookups,
// hits, text search, the offset cache, damaged sizes, article files,
// rendering and the information text.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "dictformats/DictionaryReaders.h"
#include "dictformats/stardict/CStarDictReader.h"
#include "foundation/book/CEBCatalog.h"
#include "tests/common/DictzipFixtures.h"
#include "tests/common/StarDictFixtures.h"
#include "tests/common/TestDir.h"

using lftest::StarDictEntry;
using lftest::StarDictOptions;
using lftest::TestDir;

namespace {

// In index order: ASCII case folded, then bytes unsigned.
const std::vector<StarDictEntry> kWords = {
    {"Ab", "first ab"}, {"abc", "alphabet"},    {"abd", "abdomen"}, {"apple", "a fruit"},
    {"b", "bee"},       {"čaj", "tea from ČR"}, {"čert", "devil"},  {"žena", "woman"},
};

std::vector<std::string> hitWords(CStarDictReader& r) {
    const STARDICT_HIT* hits;
    uint64_t count;
    std::vector<std::string> out;
    if (r.getResults(&hits, &count) != 0) return out;
    for (uint64_t i = 0; i < count; ++i) out.push_back(r.idxEntryAt(hits[i].entryOffset));
    return out;
}

// kWords with lines added to its .ifo (later lines win); the .ifo path.
std::string writeWithIfoLines(const TestDir& dir, const std::string& lines) {
    StarDictOptions o;
    o.extraIfoLines = lines;
    return lftest::writeStarDict(dir.path(), "w", kWords, o);
}

std::string render(CStarDictReader& r, const std::string& article, size_t outSize = 4096) {
    std::vector<char> out(outSize + 8, '#');
    r.renderArticle(reinterpret_cast<const uint8_t*>(article.data()), static_cast<uint32_t>(article.size()), out.data(),
                    outSize);
    for (size_t i = outSize; i < out.size(); ++i) EXPECT_EQ('#', out[i]) << "written past the output";
    return out.data();
}

}  // namespace

TEST(StarDictReader, LooksWordsUpInIndexOrder) {
    struct Case {
        const char* key;
        int exact;
        std::vector<std::string> words;
    } cases[] = {
        {"ab", 0, {"Ab", "abc", "abd"}},  // from the first match whatever the search lands on
        {"AB", 0, {"Ab", "abc", "abd"}},
        {"APPLE", 1, {"apple"}},
        {"ab", 1, {"Ab"}},
        {"abdx", 0, {}},
        {"č", 0, {"čaj", "čert"}},  // non-ASCII letters are found
        {"če", 0, {"čert"}},
        {"ČAJ", 1, {}},  // only ASCII letters fold, as in the index order
        {"žena", 1, {"žena"}},
        {"z", 0, {}},
        {"", 1, {}},
    };
    TestDir dir;
    for (bool dz : {false, true}) {
        StarDictOptions o;
        o.dictzip = dz;
        CStarDictReader r;
        ASSERT_NE(nullptr, r.open(lftest::writeStarDict(dir.path(), dz ? "wz" : "w", kWords, o).c_str()));
        EXPECT_EQ(dz ? CStarDictReader::kModeDictzip : CStarDictReader::kModePlain, r.fileMode());
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.key) + (c.exact ? " exact" : " prefix"));
            int more = -1;
            EXPECT_EQ(static_cast<int>(c.words.size()), r.search(c.key, c.exact, 0, &more));
            EXPECT_EQ(0, more);
            EXPECT_EQ(c.words, hitWords(r));
        }
        // The hits carry the reader's instance and lead back to the article.
        ASSERT_EQ(2, r.search("č", 0, 0, nullptr));
        const STARDICT_HIT* hits;
        uint64_t count;
        ASSERT_EQ(0, r.getResults(&hits, &count));
        const char* word;
        const char* article;
        ASSERT_EQ(0, r.readHit(&hits[0], &word, &article));
        EXPECT_STREQ("čaj", word);
        EXPECT_STREQ("tea from ČR", article);
        EXPECT_EQ(strlen("tea from ČR"), hits[0].articleSize);
    }
}

TEST(StarDictReader, MaximumStopsTheSearchAndSetsMore) {
    TestDir dir;
    CStarDictReader r;
    ASSERT_NE(nullptr, r.open(lftest::writeStarDict(dir.path(), "w", kWords).c_str()));
    int more = 0;
    EXPECT_EQ(2, r.search("ab", 0, 2, &more));
    EXPECT_EQ(1, more);
    EXPECT_EQ((std::vector<std::string>{"Ab", "abc"}), hitWords(r));
    EXPECT_EQ(3, r.search("ab", 0, 3, &more));
    EXPECT_EQ(0, more);
    r.clearResults();
    EXPECT_EQ(0u, r.getResultCount());
    uint64_t count = 5;
    const STARDICT_HIT* hits;
    EXPECT_EQ(-1, r.getResults(&hits, &count));
    EXPECT_EQ(0u, count);
}

TEST(StarDictReader, TextSearchFindsMatchesAnywhereInTheArticle) {
    TestDir dir;
    CStarDictReader r;
    ASSERT_NE(nullptr, r.open(lftest::writeStarDict(dir.path(), "w", kWords).c_str()));
    struct Case {
        const char* text;
        std::vector<std::string> words;
    } cases[] = {
        {"ab", {"Ab", "abc", "abd"}},
        {"devil", {"čert"}},  // the whole article
        {"ČR", {"čaj"}},      // ends on the article's last byte
        {"e", {"abc", "abd", "b", "čaj", "čert"}},
        {"devils", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int more = -1;
        EXPECT_EQ(static_cast<int>(c.words.size()), r.searchText(c.text, 0, &more, nullptr, nullptr, nullptr));
        EXPECT_EQ(0, more);
        EXPECT_EQ(c.words, hitWords(r));
    }
    int more = 0;
    EXPECT_EQ(2, r.searchText("e", 2, &more, nullptr, nullptr, nullptr));
    EXPECT_EQ(1, more);

    // A cancel from the progress callback after the fifth entry.
    struct Progress {
        std::atomic<uint16_t> cancel{0};
        int calls = 0;
        static void call(void* arg, int /*hits*/, int total, int done) {
            Progress* p = static_cast<Progress*>(arg);
            EXPECT_EQ(8, total);
            EXPECT_EQ(p->calls++, done);
            if (done == 4) p->cancel = 1;
        }
    } progress;
    EXPECT_EQ(3, r.searchText("e", 0, &more, &progress.cancel, &Progress::call, &progress));
    EXPECT_EQ(1, more);
    EXPECT_EQ(5, progress.calls);
    EXPECT_EQ((std::vector<std::string>{"abc", "abd", "b"}), hitWords(r));
}

TEST(StarDictReader, WritesTheOffsetCacheAndUsesIt) {
    TestDir dir;
    const std::string ifo = lftest::writeStarDict(dir.path(), "w", kWords);
    const std::string cache = dir.file("w.idx.lfi");
    {
        CStarDictReader r;
        ASSERT_NE(nullptr, r.open(ifo.c_str()));
        EXPECT_EQ(cache, r.cachePath());
    }
    // One little-endian u32 per entry: its offset in the .idx.
    std::vector<unsigned char> expected;
    uint32_t offset = 0;
    for (const StarDictEntry& e : kWords) {
        for (int s = 0; s < 32; s += 8) expected.push_back(static_cast<unsigned char>(offset >> s));
        offset += static_cast<uint32_t>(e.word.size() + 9);
    }
    EXPECT_EQ(expected, lftest::readFile(cache));

    // A sound cache is read, not written again.
    struct stat before, after;
    ASSERT_EQ(0, stat(cache.c_str(), &before));
    CStarDictReader r;
    ASSERT_NE(nullptr, r.open(ifo.c_str()));
    ASSERT_EQ(0, stat(cache.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(1, r.search("čert", 1, 0, nullptr));
}

TEST(StarDictReader, ReplacesADamagedOrStaleCache) {
    auto le32 = [](std::vector<uint32_t> v) {
        std::vector<unsigned char> out;
        for (uint32_t x : v)
            for (int s = 0; s < 32; s += 8) out.push_back(static_cast<unsigned char>(x >> s));
        return out;
    };
    // Entry offsets of kWords: 0, 11, 23, 35, 49, 59, 72, 86.
    struct Case {
        const char* name;
        std::vector<unsigned char> cache;
        bool stale;
    } cases[] = {
        {"fewer offsets", le32({0, 11, 23}), false},
        {"an offset past the index", le32({0, 11, 23, 35, 49, 59, 72, 9000}), false},
        {"offsets inside words", le32({0, 12, 23, 35, 49, 59, 72, 86}), false},
        {"not starting at 0", le32({1, 11, 23, 35, 49, 59, 72, 86}), false},
        {"a trailing half offset",
         [&] {
             auto v = le32({0, 11, 23, 35, 49, 59, 72, 86});
             v.push_back(0);
             return v;
         }(),
         false},
        {"older than the index", le32({0, 11, 23, 35, 49, 59, 72, 86}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        const std::string ifo = lftest::writeStarDict(dir.path(), "w", kWords);
        const std::string cache = dir.file("w.idx.lfi");
        lftest::writeFile(cache, c.cache);
        if (c.stale) {
            struct timeval old[2] = {{1000000, 0}, {1000000, 0}};
            ASSERT_EQ(0, utimes(cache.c_str(), old));
        }
        CStarDictReader r;
        ASSERT_NE(nullptr, r.open(ifo.c_str()));
        EXPECT_EQ(le32({0, 11, 23, 35, 49, 59, 72, 86}), lftest::readFile(cache));
        EXPECT_EQ((std::vector<std::string>{"Ab", "abc", "abd"}), (r.search("ab", 0, 0, nullptr), hitWords(r)));
    }
}

TEST(StarDictReader, NeverFollowsALinkAtTheCachePath) {
    TestDir dir;
    const std::string ifo = lftest::writeStarDict(dir.path(), "w", kWords);
    const std::string victim = dir.file("victim");
    lftest::writeFile(victim, std::string("keep me"));
    ASSERT_EQ(0, symlink(victim.c_str(), dir.file("w.idx.lfi").c_str()));
    CStarDictReader r;
    ASSERT_NE(nullptr, r.open(ifo.c_str()));
    const std::vector<unsigned char> kept = lftest::readFile(victim);
    EXPECT_EQ("keep me", std::string(kept.begin(), kept.end()));
    struct stat st;
    ASSERT_EQ(0, lstat(dir.file("w.idx.lfi").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));  // replaced by a file of its own
    EXPECT_EQ(4u * kWords.size(), static_cast<size_t>(st.st_size));
}

TEST(StarDictReader, LoadingTheIndexAgainKeepsNoOldMappingOrDescriptor) {
    TestDir dir;
    const std::string ifo = lftest::writeStarDict(dir.path(), "w", kWords);
    CStarDictReader r;
    ASSERT_NE(nullptr, r.open(ifo.c_str()));
    auto openDescriptors = [] { return lftest::listDir("/proc/self/fd").size(); };
    const size_t before = openDescriptors();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(0, r.loadIdx(r.idxPath()));
    EXPECT_EQ(before, openDescriptors());
    EXPECT_EQ(kWords.size(), r.entryCount());
    EXPECT_EQ((std::vector<std::string>{"Ab", "abc", "abd"}), (r.search("ab", 0, 0, nullptr), hitWords(r)));
}

TEST(StarDictReader, CountsAndSizesAreCheckedAgainstTheFiles) {
    const std::string idx = lftest::starDictIndex(kWords);
    struct Case {
        const char* name;
        std::string ifoLines;  // override the written ones
        size_t idxBytes;       // the .idx cut to this length
        uint32_t entries;      // entries the reader then has
    } cases[] = {
        {"idxfilesize larger than the file", "idxfilesize=100000\n", idx.size(), 8},
        {"idxfilesize cuts the last entry", "idxfilesize=" + std::to_string(idx.size() - 3) + "\n", idx.size(), 7},
        {"wordcount larger than the entries", "wordcount=4000000000\n", idx.size(), 8},
        {"wordcount smaller than the entries", "wordcount=3\n", idx.size(), 3},
        {"the .idx ends inside an entry", "", idx.size() - 5, 7},
        {"the .idx ends inside a word", "", 87, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        const std::string ifo = writeWithIfoLines(dir, c.ifoLines);
        lftest::writeFile(dir.file("w.idx"), idx.substr(0, c.idxBytes));
        for (int pass = 0; pass < 2; ++pass) {  // without and with a cache
            CStarDictReader r;
            ASSERT_NE(nullptr, r.open(ifo.c_str()));
            EXPECT_EQ(c.entries, r.entryCount());
            EXPECT_EQ(c.entries >= 3 ? 3 : 0, r.search("ab", 0, 0, nullptr));
            const char* word;
            const char* article;
            EXPECT_EQ(0, r.entryAt(c.entries - 1, &word, &article, nullptr, nullptr));
            EXPECT_EQ(kWords[c.entries - 1].word, word);
            EXPECT_EQ(-1, r.entryAt(c.entries, &word, &article, nullptr, nullptr));
            EXPECT_EQ(nullptr, r.idxEntryAt(static_cast<uint32_t>(c.idxBytes)));
        }
    }
}

TEST(StarDictReader, RefusesUnusableDictionaries) {
    struct Case {
        const char* name;
        std::string ifoLines;
        bool removeIdx;
    } cases[] = {
        {"wordcount 0", "wordcount=0\n", false},
        {"wordcount not a number", "wordcount=12x\n", false},
        {"idxfilesize 0", "idxfilesize=0\n", false},
        {"64-bit offsets", "idxoffsetbits=64\n", false},
        {"no .idx", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        const std::string ifo = writeWithIfoLines(dir, c.ifoLines);
        if (c.removeIdx) unlink(dir.file("w.idx").c_str());
        CStarDictReader r;
        EXPECT_EQ(nullptr, r.open(ifo.c_str()));
    }
    CStarDictReader r;
    EXPECT_EQ(nullptr, r.open("/nonexistent/w.ifo"));
    EXPECT_EQ(nullptr, r.open(nullptr));
}

TEST(StarDictReader, ArticleSizesAndOffsetsStayInsideTheArticleFile) {
    // Entries whose numbers are patched: size 0, size 0xFFFFFFFF, an offset
    // past the file, and offset + size wrapping 32 bits.
    std::vector<StarDictEntry> entries = {{"a", "alpha"}, {"b", "beta"}, {"c", "gamma"}, {"d", "delta"}, {"e", "x"}};
    std::string idx = lftest::starDictIndex(entries);
    auto patch = [&idx](size_t entry, uint32_t offset, uint32_t size) {
        const size_t at = entry * 10 + 2;  // one-letter words
        for (int i = 0; i < 4; ++i) {
            idx[at + i] = static_cast<char>(offset >> (24 - 8 * i));
            idx[at + 4 + i] = static_cast<char>(size >> (24 - 8 * i));
        }
    };
    patch(1, 5, 0);
    patch(2, 0, 0xFFFFFFFFu);
    patch(3, 0x7FFFFFFFu, 2);
    patch(4, 0xFFFFFFFFu, 2);
    for (bool dz : {false, true}) {
        SCOPED_TRACE(dz ? "dictzip" : "plain");
        TestDir dir;
        StarDictOptions o;
        o.dictzip = dz;
        const std::string ifo = lftest::writeStarDict(dir.path(), "w", entries, o);
        lftest::writeFile(dir.file("w.idx"), idx);
        CStarDictReader r;
        ASSERT_NE(nullptr, r.open(ifo.c_str()));
        const char* word;
        const char* article;
        ASSERT_EQ(0, r.entryAt(0, &word, &article, nullptr, nullptr));
        EXPECT_STREQ("alpha", article);
        ASSERT_EQ(0, r.entryAt(1, &word, &article, nullptr, nullptr));
        EXPECT_STREQ("", article);  // an empty article
        for (uint32_t i : {2u, 3u, 4u}) {
            EXPECT_EQ(-1, r.entryAt(i, &word, &article, nullptr, nullptr));
            EXPECT_EQ(nullptr, article) << word;
        }
        EXPECT_EQ(1, r.searchText("ph", 0, nullptr, nullptr, nullptr, nullptr));
    }
}

// A cut download: the article file ends before the articles the index
// names. Every such article is a failure of entryAt and readHit; the
// articles still in a plain file read as before.
TEST(StarDictReader, ArticlesPastTheEndOfACutFileAreFailures) {
    std::vector<StarDictEntry> entries;
    for (int i = 0; i < 400; ++i) entries.push_back({"w" + std::to_string(1000 + i), lftest::sampleText(300, i)});
    for (bool dz : {false, true}) {
        SCOPED_TRACE(dz ? "dictzip" : "plain");
        TestDir dir;
        StarDictOptions o;
        o.dictzip = dz;
        const std::string ifo = lftest::writeStarDict(dir.path(), "w", entries, o);
        const std::string file = dir.file(dz ? "w.dict.dz" : "w.dict");
        const lftest::Bytes bytes = lftest::readFile(file);
        const std::string whole(bytes.begin(), bytes.end());
        lftest::writeFile(file, whole.substr(0, whole.size() / 2));
        CStarDictReader r;
        ASSERT_NE(nullptr, r.open(ifo.c_str()));
        int read = 0, failed = 0;
        for (uint32_t i = 0; i < r.entryCount(); ++i) {
            const char* word;
            const char* article = nullptr;
            uint32_t offset = 0, size = 0;
            if (r.entryAt(i, &word, &article, &offset, &size) == 0) {
                ASSERT_NE(nullptr, article);
                EXPECT_EQ(entries[i].article, std::string(article, size));
                ++read;
            } else {
                EXPECT_EQ(nullptr, article);
                ++failed;
            }
        }
        // Half of the plain file is there; a cut dictzip file has no chunk
        // table that fits it.
        EXPECT_EQ(dz ? 0 : 200, read);
        EXPECT_EQ(400 - (dz ? 0 : 200), failed);
        ASSERT_EQ(400, r.search("w", 0, 0, nullptr));
        const STARDICT_HIT* hits;
        uint64_t count;
        ASSERT_EQ(0, r.getResults(&hits, &count));
        const char* word;
        const char* article;
        EXPECT_EQ(-1, r.readHit(&hits[399], &word, &article));
        EXPECT_EQ(dz ? -1 : 0, r.readHit(&hits[0], &word, &article));
    }
}

TEST(StarDictReader, ChoosesTheArticleFile) {
    const std::vector<StarDictEntry> entries = {{"a", "alpha"}};
    struct Case {
        const char* name;
        int files;  // bit 0: .dict.dz, bit 1: .dict, bit 2: .dict empty, bit 3: .dict.dz plain gzip
        int mode;
        const char* article;
    } cases[] = {
        {"only the dictzip form", 1, CStarDictReader::kModeDictzip, "alpha"},
        {"an empty .dict beside the dictzip form", 1 | 4, CStarDictReader::kModeDictzip, "alpha"},
        {"a plain .dict", 2, CStarDictReader::kModePlain, "alpha"},
        {"gzip without random access", 8, CStarDictReader::kModeGzip, nullptr},
        {"no article file", 0, CStarDictReader::kModeNone, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        StarDictOptions o;
        o.dictzip = true;
        const std::string ifo = lftest::writeStarDict(dir.path(), "w", entries, o);
        const std::string dz = dir.file("w.dict.dz");
        if (c.files & 8) {
            ASSERT_EQ(0, lftest::runCommand("printf alpha | gzip -c > " + dz));
        } else if (!(c.files & 1)) {
            unlink(dz.c_str());
        }
        if (c.files & 2) lftest::writeFile(dir.file("w.dict"), std::string("alpha"));
        if (c.files & 4) lftest::writeFile(dir.file("w.dict"), std::string());
        CStarDictReader r;
        ASSERT_NE(nullptr, r.open(ifo.c_str()));
        EXPECT_EQ(c.mode, r.fileMode());
        const char* article = nullptr;
        EXPECT_EQ(c.article ? 0 : -1, r.entryAt(0, nullptr, &article, nullptr, nullptr));
        if (c.article)
            EXPECT_STREQ(c.article, article);
        else
            EXPECT_EQ(nullptr, article);
    }
}

TEST(StarDictReader, RendersFieldsAsHtml) {
    using std::string;
    struct Case {
        const char* name;
        const char* sequence;
        string article;
        const char* html;
    } cases[] = {
        {"pronunciation and meaning", "tm", string("pron\0meaning", 12), "/pron/<p>meaning</p>"},
        {"meaning with specials", "m", "a<b & c>\nd", "<p>a&lt;b &amp; c&gt;<br/>d</p>"},
        {"letters in the article", "", string("mfirst\0tpron\0", 13), "<p>first</p>/pron/"},
        {"empty pronunciation", "", string("t\0mx\0", 5), "<p>x</p>"},
        {"references", "x", "see <rref>pic.PNG</rref> and <rref>s.wav</rref>.",
         "<p>see <img src=\"pic.PNG\"/> and <a href=\"s.wav\"/>&#x266A;</a>.</p>"},
        {"word groups", "n", "<wordgroup><word>a</word><word>b</word></wordgroup><type>n</type>",
         "<div> <span style=\"color: #00b\">a</span>, <span style=\"color: #00b\">b</span></div>\n<i>n</i><p/>"},
        {"resources", "r", "img:a.png\nsnd:b.wav\n", "<p><img src=\"a.png\"/><a href=\"b.wav\"/>&#x266A;</a></p>"},
        {"resources then text", "r", "img:a.png\nplain rest", "<p><img src=\"a.png\"/>plain rest</p>"},
        {"a quote in a name", "r", "img:a\".png", "<p><img src=\"a&quot;.png\"/></p>"},
        {"binary last field without size", "mW", string("text\0\xff\xfe", 7), "<p>text</p>"},
        {"sized binary field first", "Wm", string("\0\0\0\2\xff\xfetext", 10), "<p>text</p>"},
        {"binary size past the article", "", string("mok\0W\xff\xff\xff\xff", 9), "<p>ok</p>"},
        {"a text field without its NUL", "tm", "pron", "/pron/"},
        {"a NUL inside the last field", "m", string("abc\0def", 7), "<p>abc</p>"},
        {"generic text letter", "g", "<b>bold</b>", "<b>bold</b>"},
    };
    TestDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StarDictOptions o;
        o.sametypesequence = c.sequence;
        CStarDictReader r;
        ASSERT_NE(nullptr, r.openIfo(lftest::writeStarDict(dir.path(), "w", kWords, o).c_str()));
        EXPECT_EQ(c.html, render(r, c.article));
    }
}

// An article longer than the output stops at its first piece that does not
// fit, with what is open closed, and says it was cut; nothing after the cut
// (the short line ends of the lines left out) is written.
TEST(StarDictReader, RenderingStopsAtTheFirstPieceThatDoesNotFit) {
    using std::string;
    struct Case {
        const char* sequence;
        string article;
        size_t outSize;
        const char* html;
        bool whole;
    } cases[] = {
        {"m", "hello world", 12, "<p></p>", false},
        {"m", "hello", 13, "<p>hello</p>", true},
        {"m", "hello", 12, "<p></p>", false},
        {"m", "hello", 1, "", false},
        {"m", "line one\nline two is longer\n\n\nx", 30, "<p>line one<br/></p>", false},
        {"tm", string("caeremonia /kai/\0one\ntwo\nthree", 30), 40, "/caeremonia /kai//<p>one<br/>two</p>", false},
        {"tm", string("long pronunciation\0m", 20), 10, "", false},
        {"n", "<wordgroup><word>alpha</word><word>beta gamma delta</word></wordgroup>", 120,
         "<div> <span style=\"color: #00b\">alpha</span>, <span style=\"color: #00b\"></span></div>\n<p/>", false},
        {"x", "see <rref>a.png</rref> and more text here", 40, "<p>see <img src=\"a.png\"/></p>", false},
    };
    TestDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.article + " into " + std::to_string(c.outSize));
        StarDictOptions o;
        o.sametypesequence = c.sequence;
        CStarDictReader r;
        ASSERT_NE(nullptr, r.openIfo(lftest::writeStarDict(dir.path(), "w", kWords, o).c_str()));
        std::vector<char> out(c.outSize + 8, '#');
        const bool whole = r.renderArticle(reinterpret_cast<const uint8_t*>(c.article.data()),
                                           static_cast<uint32_t>(c.article.size()), out.data(), c.outSize);
        for (size_t i = c.outSize; i < out.size(); ++i) ASSERT_EQ('#', out[i]) << "written past the output";
        EXPECT_EQ(c.html, string(out.data()));
        EXPECT_EQ(c.whole, whole);
    }
}

TEST(StarDictReader, ReadsTheIfo) {
    TestDir dir;
    StarDictOptions o;
    o.extraIfoLines = "bookname=A = B\r\nauthor=someone\nsynwordcount=7\n";
    const std::string ifo = lftest::writeStarDict(dir.path(), "w", kWords, o);
    CStarDictReader r;
    ASSERT_NE(nullptr, r.openIfo(ifo.c_str()));
    const STARDICT_HEADER* h = r.getHeader();
    EXPECT_STREQ("A = B", h->bookname);  // the value runs past a further "="
    EXPECT_EQ(8u, h->wordcount);
    EXPECT_EQ(7u, h->synwordcount);
    EXPECT_EQ(32u, h->idxoffsetbits);
    EXPECT_STREQ("m", h->sametypesequence);
    EXPECT_EQ(dir.file("w.idx"), r.idxPath());
    EXPECT_EQ(dir.file("w.dict"), r.articlePath());

    // A long name is cut at a character boundary.
    std::string longName;
    for (int i = 0; i < 200; ++i) longName += "č";
    o.extraIfoLines = "bookname=" + longName + "\n";
    ASSERT_NE(nullptr, r.openIfo(lftest::writeStarDict(dir.path(), "w", kWords, o).c_str()));
    EXPECT_EQ(longName.substr(0, 254), r.getHeader()->bookname);

    // A bare file name is looked for in the current directory.
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    CStarDictReader relative;
    EXPECT_NE(nullptr, relative.open("w.ifo"));
    EXPECT_STREQ("w.idx", relative.idxPath());
    EXPECT_EQ(1, relative.search("apple", 1, 0, nullptr));
    ASSERT_EQ(0, chdir(cwd));
}

TEST(StarDictReader, InformationTextHoldsWholeLinesThatFit) {
    TestDir dir;
    StarDictOptions o;
    o.sametypesequence = "";
    const std::string ifo = dir.file("w.ifo");
    lftest::writeStarDict(dir.path(), "w", kWords, o);
    lftest::writeFile(ifo, std::string("StarDict's dict ifo file\nversion=2.4.2\r\nwordcount=8\nidxfilesize=97\n"));
    CStarDictReader r;
    ASSERT_NE(nullptr, r.openIfo(ifo.c_str()));
    const std::string all = "StarDict's dict ifo file\r\nversion=2.4.2\r\nwordcount=8\r\nidxfilesize=97\r\n";
    struct Case {
        size_t size;
        std::string text;
    } cases[] = {
        {1024, all},
        {all.size() + 1, all},
        {all.size(), all.substr(0, all.size() - 16)},
        {40, "StarDict's dict ifo file\r\n"},
        {10, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<char> out(c.size + 8, '#');
        r.formatInfo(out.data(), c.size);
        EXPECT_EQ(c.text, out.data());
        for (size_t i = c.size; i < out.size(); ++i) EXPECT_EQ('#', out[i]);
    }
}

TEST(StarDictCatalog, OpensAnIfoAsOneSubbook) {
    registerDictionaryReaders();
    TestDir dir;
    StarDictOptions o;
    o.extraIfoLines = "bookname=Slovník cizích slov\n";
    const std::string ifo = lftest::writeStarDict(dir.path(), "czech-cizi", kWords, o);
    CEBCatalog cat;
    ASSERT_EQ(1, cat.openStarDict(ifo.c_str(), "r"));
    EXPECT_EQ(CEBCatalog::kStarDict, cat.kind());
    ASSERT_EQ(1, cat.count());
    EXPECT_STREQ("Slovník cizích slov", cat.title(0));
    EXPECT_STREQ("czech-ci", cat.directory(0));

    lftest::writeFile(ifo, std::string("StarDict's dict ifo file\nbookname=x\n"));
    EXPECT_EQ(0, cat.openStarDict(ifo.c_str(), "r"));
    EXPECT_EQ(0, cat.openStarDict(dir.file("none.ifo").c_str(), "r"));
}
