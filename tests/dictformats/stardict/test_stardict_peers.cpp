// The StarDict reader against the StarDict tools: every article of whole
// dictionaries equals what stardict-bin2text writes out, and lookups equal
// sdcv's, on Debian's Czech dictionary and on dictionaries the tools made.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "dictformats/stardict/CStarDictReader.h"
#include "tests/common/StarDictPeers.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

const char* const kCzech = "/usr/share/stardict/dic/czech-cizi";

// Debian's dictionary copied into dir (our reader and sdcv write caches
// beside it); returns the .ifo path.
std::string copyCzech(const TestDir& dir) {
    for (const char* ext : {".ifo", ".idx", ".dict.dz"})
        lftest::writeFile(dir.file(std::string("czech-cizi") + ext), lftest::readFile(std::string(kCzech) + ext));
    return dir.file("czech-cizi.ifo");
}

// "word TAB meaning" lines for tabfile: words with non-ASCII letters and
// meanings with escaped line ends, in no particular order.
std::string tabLines() {
    static const char* const kStems[] = {"river", "čaj", "über", "Ωmega", "straße", "kůň", "apple", "zebra"};
    std::string out;
    for (int i = 0; i < 240; ++i) {
        out += std::string(kStems[(i * 7) % 8]) + std::to_string(i * 37 % 1000) + "\t";
        out += "meaning " + std::to_string(i) + (i % 3 ? "\\nsecond line of " + std::to_string(i) : "") + " & <x>\n";
    }
    return out;
}

std::string xmlDictionary(bool sameTypes) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<stardict xmlns:xi=\"http://www.w3.org/2003/XInclude\">\n"
        "<info>\n<version>2.4.2</version>\n<bookname>Fields</bookname>\n<author>t</author>\n<email></email>\n"
        "<website></website>\n<description></description>\n<date>2026.12.10</date>\n<dicttype></dicttype>\n"
        "</info>\n";
    auto article = [](const std::string& key, const std::vector<std::pair<char, std::string>>& fields) {
        std::string a = "<article>\n<key>" + key + "</key>\n";
        for (const auto& f : fields)
            a += std::string("<definition type=\"") + f.first + "\"><![CDATA[" + f.second + "]]></definition>\n";
        return a + "</article>\n";
    };
    for (int i = 0; i < 60; ++i) {
        const std::string n = std::to_string(i);
        if (sameTypes) {
            xml += article("word" + n, {{'t', "pron " + n}, {'m', "meaning " + n + "\nline two"}});
        } else {
            switch (i % 3) {
                case 0:
                    xml += article("a&amp;b" + n, {{'t', "pron"}, {'m', "meaning " + n}});
                    break;
                case 1:
                    xml += article("čaj" + n, {{'x', "<rref>pic" + n + ".png</rref> text"}});
                    break;
                default:
                    xml += article("Zebra" + n, {{'g', "<b>bold</b> " + n}, {'m', "plain"}, {'t', "z"}});
            }
        }
    }
    return xml + "</stardict>\n";
}

// Every article of the dictionary, split into fields, by our reader.
std::vector<lftest::PeerArticle> ourArticles(const std::string& ifo) {
    std::vector<lftest::PeerArticle> out;
    CStarDictReader r;
    EXPECT_NE(nullptr, r.open(ifo.c_str()));
    for (uint32_t i = 0; i < r.entryCount(); ++i) {
        const char* word;
        const char* article;
        uint32_t offset, size;
        EXPECT_EQ(0, r.entryAt(i, &word, &article, &offset, &size));
        lftest::PeerArticle a;
        a.word = word;
        EXPECT_NE(nullptr, article) << word;
        if (!article) continue;
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(article);
        int seq = 0;
        STARDICT_FIELD f;
        for (int64_t pos = r.nextField(bytes, size, 0, &seq, &f); pos >= 0;
             pos = r.nextField(bytes, size, static_cast<uint32_t>(pos), &seq, &f))
            a.fields.push_back({f.type, std::string(reinterpret_cast<const char*>(f.data), f.size)});
        out.push_back(a);
    }
    return out;
}

}  // namespace

TEST(StarDictPeers, EveryArticleEqualsTheToolsDump) {
    struct Case {
        const char* name;
        int source;  // 0 Debian's Czech dictionary, 1 tabfile, 2 text2bin mixed, 3 text2bin "tm"
        size_t words;
    } cases[] = {
        {"Debian czech-cizi (dictzip, sametypesequence g)", 0, 18259},
        {"tabfile (sametypesequence m)", 1, 240},
        {"text2bin, mixed field types", 2, 60},
        {"text2bin, sametypesequence tm", 3, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        std::string ifo;
        switch (c.source) {
            case 0:
                ifo = copyCzech(dir);
                break;
            case 1:
                ASSERT_TRUE(lftest::starDictTabfile(tabLines(), dir.path(), "tab"));
                ifo = dir.file("tab.ifo");
                break;
            default:
                ASSERT_TRUE(lftest::starDictText2Bin(xmlDictionary(c.source == 3), dir.path(), "fields"));
                ifo = dir.file("fields.ifo");
        }
        std::vector<lftest::PeerArticle> theirs;
        ASSERT_TRUE(lftest::starDictBin2Text(ifo, dir.path(), &theirs));
        const std::vector<lftest::PeerArticle> ours = ourArticles(ifo);
        ASSERT_EQ(c.words, theirs.size());
        ASSERT_EQ(theirs.size(), ours.size());
        for (size_t i = 0; i < ours.size(); ++i) {
            ASSERT_EQ(theirs[i].word, ours[i].word) << i;
            ASSERT_EQ(theirs[i].fields, ours[i].fields) << theirs[i].word;
        }
    }
}

// Exact lookups fold ASCII case and sdcv's do not, and sdcv's prefix
// patterns are case-sensitive, so the table holds words whose other-case
// forms are not in the dictionary. (sdcv shows the articles with their markup
// taken out; the articles themselves are compared with the dump above.)
TEST(StarDictPeers, LookupsEqualSdcv) {
    struct Case {
        const char* query;  // a trailing "*" makes it a prefix search
    } cases[] = {
        {"č*"},  // 42 entries, none found with locale-dependent signed folding
        {"ž*"},    {"úz*"},    {"ře*"},        {"abo*"}, {"absolut*"}, {"abbé"},      {"čachr"},
        {"žaket"}, {"řešeto"}, {"úzus, usus"}, {"zzz"},  {"ček"},      {"absurdno*"},
    };
    TestDir dir;
    const std::string ifo = copyCzech(dir);
    std::vector<std::string> queries;
    for (const Case& c : cases) queries.push_back(c.query);
    std::vector<std::vector<lftest::SdcvHit>> theirs;
    {
        TestDir scratch;  // sdcv's own copy
        copyCzech(scratch);
        ASSERT_TRUE(lftest::sdcvLookup(scratch.path(), queries, &theirs));
    }
    CStarDictReader r;
    ASSERT_NE(nullptr, r.open(ifo.c_str()));
    for (size_t q = 0; q < queries.size(); ++q) {
        std::string key = queries[q];
        const bool prefix = key.back() == '*';
        if (prefix) key.pop_back();
        SCOPED_TRACE(queries[q]);
        const int hits = r.search(key.c_str(), prefix ? 0 : 1, 0, nullptr);
        ASSERT_EQ(theirs[q].size(), static_cast<size_t>(hits));
        const STARDICT_HIT* list;
        uint64_t count;
        if (hits) {
            ASSERT_EQ(0, r.getResults(&list, &count));
        }
        for (int i = 0; i < hits; ++i) {
            const char* word;
            ASSERT_EQ(0, r.readHit(&list[i], &word, nullptr));
            EXPECT_EQ(theirs[q][i].word, word);
        }
    }
    EXPECT_EQ(42u, theirs[0].size());
}
