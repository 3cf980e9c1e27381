// Our index searches against the EB Library on the same books: books our
// builder makes with every index kind (EPWING and EB), their ebzip copies,
// and a book made by FreePWING. Queries come from the books' own headwords
// (every prefix, kana forms, widths, case, voiced and small kana, misses,
// long keys, gaiji). Each search must find the same set of text positions,
// or a difference listed below with its reason.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/search/SearchKeys.h"
#include "foundation/codes/jclib.h"
#include "tests/bookreader/BookFixtures.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

using EbFind = lftest::EbSearchKind;

namespace {

typedef std::set<std::pair<int, int>> PositionSet;

// Headwords of the search book (Shift_JIS) and their bodies. UTF-8 "é"
// becomes a gaiji of the book.
struct Entry {
    const char* headword;
    const char* body;
};
const Entry kEntries[] = {
    {"\x82\xB6\x82\xC4\x82\xF1", ""},                  // じてん (reading)
    {"\x82\xC6\x82\xA4\x82\xAB\x82\xE5\x82\xA4", ""},  // とうきょう (reading)
    {"\x83\x52\x81\x5B\x83\x71\x81\x5B", ""},          // コーヒー (reading)
    {"apple", "an edible fruit"},
    {"apple pie", "a baked dish"},
    {"Applet", "a small program"},
    {"running", "moving fast"},
    {"run", "to move fast"},
    {"zoo", "place with animals"},
    {"\x82\xA0\x82\xA2\x82\xA4", "kana aiu"},                              // あいう
    {"\x82\xA9\x82\xC2\x82\xA8", "katsuo"},                                // かつお
    {"\x82\xAA\x82\xC1\x82\xB1\x82\xA4", "school"},                        // がっこう
    {"\x82\xAB\x82\xE1\x82\xAD", "guest"},                                 // きゃく
    {"\x83\x89\x81\x5B\x83\x81\x83\x93", "noodles"},                       // ラーメン
    {"\x83\x4A\x83\x5E\x83\x4A\x83\x69", "katakana"},                      // カタカナ
    {"\x8E\xAB\x8F\x91", "dictionary"},                                    // 辞書
    {"\x8E\xAB\x8F\x91\x82\xCC\x82\xA0\x82\xA2", "dictionary with kana"},  // 辞書のあい
    {"\x82\xCF\x82\xF1", "bread"},                                         // ぱん
    {"caf?", ""},
};

// The source of the search book: PDIC two-line text in Shift_JIS.
std::string sjisSource() {
    std::string s;
    for (const Entry& e : kEntries)
        if (e.body[0] && std::string(e.headword).find('?') == std::string::npos)
            s += std::string(e.headword) + "\n" + e.body + "\n";
    return s;
}

// Every form a user may type for a headword: each prefix by characters, the
// katakana and hiragana forms, full- and half-width ASCII, case, voiced and
// small kana folded, and a miss.
std::vector<std::string> queriesFor(const std::string& head) {
    std::vector<std::string> q;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(head.data());
    for (size_t i = 0; i < head.size();) {
        i += (p[i] >= 0x81 && p[i] <= 0x9F) || (p[i] >= 0xE0 && p[i] <= 0xFC) ? 2 : 1;
        q.push_back(head.substr(0, i));
    }
    std::string kata, hira, upper, wide, plain;
    bool kana = false;
    for (size_t i = 0; i < head.size();) {
        unsigned c = p[i];
        if (i + 1 < head.size() && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) {
            unsigned code = (c << 8) | p[i + 1];
            unsigned k = code, h = code, f = code;
            if (code >= 0x829F && code <= 0x82DD) k = code + 0xA1, kana = true;
            if (code >= 0x82DE && code <= 0x82F1) k = code + 0xA2, kana = true;
            if (code >= 0x8340 && code <= 0x837E) h = code - 0xA1, kana = true;
            if (code >= 0x8380 && code <= 0x8393) h = code - 0xA2, kana = true;
            // voiced and small kana folded: が -> か, っ -> つ, ゃ -> や, ぱ -> は
            if (code >= 0x82AA && code <= 0x82BC && !(code & 1)) f = code - 1;
            if (code == 0x82C1) f = 0x82C2;
            if (code == 0x82E1) f = 0x82E2;
            if (code == 0x82CF) f = 0x82CD;
            for (unsigned v : {k, h, f}) (void)v;
            kata += static_cast<char>(k >> 8), kata += static_cast<char>(k);
            hira += static_cast<char>(h >> 8), hira += static_cast<char>(h);
            plain += static_cast<char>(f >> 8), plain += static_cast<char>(f);
            upper += head.substr(i, 2), wide += head.substr(i, 2);
            i += 2;
        } else {
            upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            if (c >= 0x21 && c <= 0x7E) {
                unsigned w = c >= 'a' && c <= 'z' ? 0x8281 + (c - 'a') : c >= 'A' && c <= 'Z' ? 0x8260 + (c - 'A') : 0;
                if (w) {
                    wide += static_cast<char>(w >> 8), wide += static_cast<char>(w);
                } else {
                    wide += static_cast<char>(c);
                }
            } else {
                wide += static_cast<char>(c);
            }
            kata += static_cast<char>(c), hira += static_cast<char>(c), plain += static_cast<char>(c);
            ++i;
        }
    }
    if (kana) {
        q.push_back(kata);
        q.push_back(hira);
        q.push_back(plain);
    }
    q.push_back(upper);
    q.push_back(wide);
    q.push_back(head + "zz");        // a miss
    q.push_back(head + "\x82\xF0");  // a miss in kana
    return q;
}

bool isKanaKey(const std::string& q) {
    return kanaKeyKind(q.c_str(), static_cast<int>(q.size())) != 0;
}

bool hasKatakana(const std::string& q) {
    for (size_t i = 0; i + 1 < q.size(); ++i) {
        unsigned c = (static_cast<unsigned char>(q[i]) << 8) | static_cast<unsigned char>(q[i + 1]);
        if (c >= 0x8340 && c <= 0x8396) return true;
        if (static_cast<unsigned char>(q[i]) >= 0x81) ++i;
    }
    return false;
}

bool hasVoicedOrSmallKana(const std::string& q) {
    for (size_t i = 0; i + 1 < q.size(); ++i) {
        unsigned c = (static_cast<unsigned char>(q[i]) << 8) | static_cast<unsigned char>(q[i + 1]);
        unsigned h = c >= 0x8340 && c <= 0x837E ? c - 0xA1 : c >= 0x8380 && c <= 0x8393 ? c - 0xA2 : c;
        static const unsigned kMarked[] = {0x82AA, 0x82AC, 0x82AE, 0x82B0, 0x82B2, 0x82B4, 0x82B6, 0x82B8, 0x82BA,
                                           0x82BC, 0x82BE, 0x82C0, 0x82C3, 0x82C5, 0x82C7, 0x82CE, 0x82CF, 0x82D1,
                                           0x82D2, 0x82D4, 0x82D5, 0x82D7, 0x82D8, 0x82DA, 0x82DB, 0x829F, 0x82A1,
                                           0x82A3, 0x82A5, 0x82A7, 0x82C1, 0x82E1, 0x82E3, 0x82E5, 0x82EC, 0x8394};
        for (unsigned m : kMarked)
            if (h == m) return true;
        if (static_cast<unsigned char>(q[i]) >= 0x81) ++i;
    }
    return false;
}

// Differences that may remain, each with its reason: where a difference
// applies, our hits must include all of the library's (or, for one marked
// libraryWider, the library's must include ours).
struct KnownDifference {
    bool (*applies)(EbFind kind, const std::string& query);
    const char* reason;
    bool libraryWider;
};
const KnownDifference kKnownDifferences[] = {
    {[](EbFind k, const std::string& q) { return (k == EbFind::Word || k == EbFind::ExactWord) && isKanaKey(q); },
     "Our index chain: a kana key that finds nothing in the kana index is searched in the written-form index "
     "next; the library searches the kana index only.",
     false},
    {[](EbFind k, const std::string& q) { return k == EbFind::EndWord && isKanaKey(q); },
     "The merged end-word search: a kana key is searched in the kana and the written-form end-word indexes and "
     "the hits are joined; the library searches the kana index only.",
     false},
    {[](EbFind k, const std::string& q) { return k == EbFind::Cross && hasKatakana(q); },
     "The library finds no katakana key in the builder's cross index; ours folds the key by the index's own "
     "style flags (katakana kept), the form in which the keys were stored.",
     false},
    {[](EbFind k, const std::string& q) {
         return (k == EbFind::Word || k == EbFind::ExactWord) && isKanaKey(q) && hasVoicedOrSmallKana(q);
     },
     "The library compares a kana entry that is no group with the query fully folded, so a voiced or small kana "
     "also finds the plain one (\"が\" finds かつお); ours keeps them apart there as in groups.",
     true},
};

// True when a listed difference applies and our hits include the library's.
bool isKnownDifference(EbFind kind, const std::string& query, const PositionSet& a, const PositionSet& b) {
    for (const KnownDifference& d : kKnownDifferences) {
        if (!d.applies(kind, query)) continue;
        const PositionSet& wider = d.libraryWider ? b : a;
        const PositionSet& narrower = d.libraryWider ? a : b;
        bool within = true;
        for (const auto& p : narrower) within = within && wider.count(p) != 0;
        if (within) return true;
    }
    return false;
}

PositionSet ours(CEBReader& r, EbFind kind, const std::string& query) {
    r.resetHits();
    int level = 0;
    switch (kind) {
        case EbFind::Word:
            r.wordSearch(query.c_str(), 0, 0, HIT_ADD);
            break;
        case EbFind::ExactWord:
            r.wordSearch(query.c_str(), 1, 0, HIT_ADD);
            break;
        case EbFind::EndWord:
            r.endwordSearch(query.c_str(), 0, HIT_ADD);
            break;
        case EbFind::Keyword:
            r.keywordSearch(query.c_str(), &level, HIT_ADD);
            break;
        case EbFind::Cross:
            r.crossSearch(query.c_str(), &level, HIT_ADD);
            break;
    }
    PositionSet s;
    for (int i = 0; i < r.hitCount(); ++i) {
        const HIT_ITEM* h = r.hits().at(i);
        if (h->level == level) s.insert({static_cast<int>(h->textBlock), h->textOffset});
    }
    return s;
}

PositionSet theirs(lftest::EbProbe& eb, EbFind kind, const std::string& query) {
    PositionSet s;
    if (!eb.haveSearch(0, kind)) return s;
    // The library takes the words of a keyword or cross query as a list.
    std::vector<std::string> words{query};
    if (kind == EbFind::Keyword || kind == EbFind::Cross) {
        words.clear();
        std::string word;
        for (char c : query + " ") {
            if (c != ' ') {
                word += c;
            } else if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        }
    }
    for (const lftest::EbHit& f : eb.search(0, kind, words)) s.insert({f.textBlock, f.textOffset});
    return s;
}

const char* kindName(EbFind k) {
    switch (k) {
        case EbFind::Word:
            return "word";
        case EbFind::ExactWord:
            return "exactword";
        case EbFind::EndWord:
            return "endword";
        case EbFind::Keyword:
            return "keyword";
        case EbFind::Cross:
            return "cross";
    }
    return "?";
}

std::string hex(const std::string& s) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += d[c >> 4];
            out += d[c & 15];
        }
    }
    return out;
}

}  // namespace

TEST(CompareSearchWithEbLibrary, SameTextPositions) {
    lftest::TestDir dir;
    std::vector<lftest::ReaderBook> books;
    std::string src = dir.path() + "/entries.txt";
    lftest::writeFile(src, sjisSource());
    // Headwords with readings, for the kana indexes, in UTF-8: 辞典 じてん,
    // 学校 がっこう, 東京 とうきょう, 珈琲 コーヒー, and "café" かふぇ ("é" has no
    // Shift_JIS form: a gaiji of the book).
    std::string kanaSrc = dir.path() + "/readings.csv";
    lftest::writeFile(kanaSrc,
                      "\xE8\xBE\x9E\xE5\x85\xB8,\xE3\x81\x98\xE3\x81\xA6\xE3\x82\x93,dictionary\n"
                      "\xE5\xAD\xA6\xE6\xA0\xA1,\xE3\x81\x8C\xE3\x81\xA3\xE3\x81\x93\xE3\x81\x86,school\n"
                      "\xE6\x9D\xB1\xE4\xBA\xAC,\xE3\x81\xA8\xE3\x81\x86\xE3\x81\x8D\xE3\x82\x87\xE3\x81\x86,capital\n"
                      "\xE7\x8F\x88\xE7\x90\xB2,\xE3\x82\xB3\xE3\x83\xBC\xE3\x83\x92\xE3\x83\xBC,coffee\n"
                      "caf\xC3\xA9,\xE3\x81\x8B\xE3\x81\xB5\xE3\x81\x87,a coffee house\n");
    int n = 0;
    for (int ebType : {1, 0}) {
        lftest::BookRecipe r;
        r.outDir = dir.path() + "/s" + std::to_string(n++);
        r.ebType = ebType;
        r.indexDef = 0x9F;  // word and end-word by written form and kana, keyword, cross
        r.sources.push_back({src, "", 2});
        r.sources.push_back({kanaSrc, "", 9, "enc=utf-8;delim=,;fields=headword|kana|meaning|"});
        lftest::BookRun run = lftest::buildBook(r);
        lftest::ReaderBook b;
        b.label = ebType ? "EPWING" : "EB";
        b.dir = r.outDir;
        b.textFile = r.outDir + (ebType ? "/TEST/DATA/HONMON" : "/TEST/START");
        b.built = run.newBookResult == 0;
        b.log = run.log();
        ASSERT_TRUE(b.built) << b.log;
        books.push_back(b);
        lftest::addEbzipCopies(b, ebType ? "/TEST/DATA/HONMON" : "/TEST/START", &books);
    }
    {
        // FreePWING: word and end-word indexes of the written form.
        lftest::ReaderBook f;
        f.label = "freepwing";
        f.dir = dir.path() + "/fpw";
        f.textFile = f.dir + "/TEST/DATA/HONMON";
        std::string data;
        for (const Entry& e : kEntries)
            if (e.body[0] && std::string(e.headword).find('?') == std::string::npos)
                data += lftest::sjisToEuc(e.headword) + "\t" + e.body + "\n";
        lftest::writeFile(dir.path() + "/fpw.txt", data);
        f.built = lftest::runCommand("bash '" LF_SOURCE_DIR "/tests/bookreader/freepwing/make_freepwing_book.sh' '" +
                                         f.dir + "' '" + dir.path() + "/fpw.txt' 2>&1",
                                     &f.log) == 0;
        books.push_back(f);
        if (f.built) lftest::addEbzipCopies(f, "/TEST/DATA/HONMON", &books);
    }
    int compared = 0, found = 0, knownDifferences = 0;
    std::set<std::string> searchedBooks;
    for (const lftest::ReaderBook& book : books) {
        ASSERT_TRUE(book.built) << book.label << ": " << book.log;
        lftest::EbProbe eb(book.dir);
        if (!eb.ok()) continue;
        CEBReader reader;
        if (!reader.open(book.textFile.c_str(), 1, 0)) {
            // ebzip at level 5 writes some small books (one stored slice
            // larger than the file) that the library cannot read back
            // either; we refuse them.
            EXPECT_EQ(book.ebzipLevel, 5) << book.label;
            EXPECT_FALSE(eb.haveSearch(0, EbFind::Word)) << book.label;
            continue;
        }
        std::vector<std::string> queries;
        for (const Entry& e : kEntries)
            for (const std::string& q : queriesFor(e.headword)) queries.push_back(q);
        queries.push_back(std::string(254, 'a'));
        queries.push_back(std::string(255, 'a'));
        queries.push_back(std::string(300, 'a'));
        queries.push_back(std::string(200, 'a') + std::string(120, '\x82'));
        // The gaiji headword typed in the decoder's tag form ("caf&hXXXX;"),
        // the gaiji code read from the heading's bytes. The builder leaves
        // gaiji out of index keys, so neither side finds it.
        reader.resetHits();
        if (reader.wordSearch("caf", 0, 0, HIT_ADD) > 0) {
            const HIT_ITEM* h = reader.hits().at(0);
            reader.seekBlock(h->headingBlock);
            if (h->headingOffset) reader.setOffset(h->headingOffset);
            for (int i = 0; i < 32; ++i) {
                unsigned code = reader.readWord16();
                if (code >= 0xA121) {
                    char tag[16];
                    snprintf(tag, sizeof tag, "caf&h%04X;", code);
                    queries.push_back(tag);
                    break;
                }
            }
        }
        for (const std::string& q : queries) {
            {
                for (EbFind kind : {EbFind::Word, EbFind::ExactWord, EbFind::EndWord, EbFind::Keyword, EbFind::Cross}) {
                    PositionSet a = ours(reader, kind, q), b = theirs(eb, kind, q);
                    if (a != b && isKnownDifference(kind, q, a, b)) {
                        ++knownDifferences;
                        continue;
                    }
                    found += !a.empty();
                    searchedBooks.insert(book.label);
                    EXPECT_EQ(a, b) << book.label << " " << kindName(kind) << " \"" << hex(q) << "\": ours " << a.size()
                                    << " theirs " << b.size();
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 0);
    EXPECT_GT(knownDifferences, 0);
    EXPECT_GT(found, compared / 10) << "too few queries find anything";
    for (const char* label : {"EPWING", "EB", "freepwing", "EPWING ebzip 1", "EB ebzip 3", "freepwing ebzip 2"})
        EXPECT_EQ(searchedBooks.count(label), 1u) << label << " was not compared";
}

namespace {

std::string sjis(const std::string& utf8) {
    std::vector<unsigned char> out(utf8.size() * 2 + 1);
    const int n = utf8ToSjis(utf8.c_str(), static_cast<int>(utf8.size()), out.data(), out.size());
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

// The characters of a Shift_JIS string, one string each.
std::vector<std::string> sjisChars(const std::string& s) {
    std::vector<std::string> chars;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC) ? 2 : 1;
        chars.push_back(s.substr(i, n));
        i += n;
    }
    return chars;
}

// A book (EB or EPWING) of a UTF-8 source "headword,reading,meaning" with
// the word and end-word indexes by written form and kana, keyword and cross,
// open in the library and in our reader.
struct CsvBook {
    std::unique_ptr<lftest::EbProbe> eb;
    CEBReader reader;
};
void openCsvBook(const std::string& outDir, const std::string& src, int ebType, CsvBook* book) {
    lftest::BookRecipe r;
    r.outDir = outDir;
    r.ebType = ebType;
    r.indexDef = 0x9F;
    r.sources.push_back({src, "", 9, "enc=utf-8;delim=,;fields=headword|kana|meaning|"});
    const lftest::BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    book->eb.reset(new lftest::EbProbe(r.outDir));
    ASSERT_TRUE(book->eb->ok()) << book->eb->error();
    const std::string text = r.outDir + (ebType ? "/TEST/DATA/HONMON" : "/TEST/START");
    ASSERT_EQ(book->reader.open(text.c_str(), 1, 0), 1) << text;
}

}  // namespace

// End-word search on books whose keys end in what other keys begin with:
// a query must find the keys that end in it, never the keys that end in it
// written backwards. Every suffix, prefix and reversal of every key is
// searched on an EB and an EPWING book and compared with the library.
TEST(CompareSearchWithEbLibrary, EndwordFindsOnlyKeysEndingInTheQuery) {
    // Kana keys (each headword is its own reading, so the kana and the
    // written-form indexes hold the same positions) and Latin keys.
    const char* const kKeys[] = {"だぶこ", "いささおざさ", "なたか", "かたな",   "さくら",   "らくさ", "こぶし",
                                 "しぶき", "apple",        "elppa",  "stressed", "desserts", "rotor"};
    lftest::TestDir dir;
    std::string csv;
    for (const char* k : kKeys) {
        const bool latin = static_cast<unsigned char>(k[0]) < 0x80;
        csv += std::string(k) + "," + (latin ? "" : k) + ",meaning of " + k + "\n";
    }
    const std::string src = dir.path() + "/keys.csv";
    lftest::writeFile(src, csv);

    std::set<std::string> queries;
    for (const char* k : kKeys) {
        const std::vector<std::string> chars = sjisChars(sjis(k));
        std::string reversed;
        for (size_t i = chars.size(); i-- > 0;) reversed += chars[i];
        queries.insert(reversed);
        for (size_t n = 1; n <= chars.size(); ++n) {
            std::string prefix, suffix;
            for (size_t i = 0; i < n; ++i) prefix += chars[i], suffix += chars[chars.size() - n + i];
            queries.insert(prefix);
            queries.insert(suffix);
        }
    }

    struct Expect {
        const char* query;
        size_t hits;
    };
    const Expect kExpected[] = {
        {"こぶ", 0},              // "だぶこ" reversed begins with it
        {"しぶ", 0},              // and "こぶし" reversed
        {"ぶこ", 1},              // "だぶこ"
        {"さざ", 0},              // "いささおざさ" reversed begins with it
        {"ざさ", 1}, {"elp", 0},  // "apple" reversed begins with it
        {"ppa", 1},               // "elppa"
    };

    for (int ebType : {0, 1}) {
        const char* label = ebType ? "EPWING" : "EB";
        CsvBook book;
        ASSERT_NO_FATAL_FAILURE(openCsvBook(dir.path() + "/" + label, src, ebType, &book));
        lftest::EbProbe& eb = *book.eb;
        CEBReader& reader = book.reader;
        ASSERT_TRUE(eb.haveSearch(0, EbFind::EndWord)) << label;
        for (const std::string& q : queries) {
            const PositionSet a = ours(reader, EbFind::EndWord, q), b = theirs(eb, EbFind::EndWord, q);
            EXPECT_EQ(a, b) << label << " \"" << hex(q) << "\": ours " << a.size() << " theirs " << b.size();
        }
        for (const Expect& e : kExpected) {
            const std::string q = sjis(e.query);
            EXPECT_EQ(ours(reader, EbFind::EndWord, q).size(), e.hits) << label << " " << e.query;
            EXPECT_EQ(theirs(eb, EbFind::EndWord, q).size(), e.hits) << label << " " << e.query;
        }
    }
}

namespace {

struct Headword {
    const char* headword;  // UTF-8
    const char* reading;   // "" for a word written in kana
};

// Kana words written with one of the marks the kana indexes fold away, each
// beside its twin without the mark: both share one group of the kana index.
const Headword kMarkedTwins[] = {
    {"カラー・ペン", ""},
    {"カラーペン", ""},
    {"あいどる・ぎや", ""},
    {"あいどるぎや", ""},
    {"ウエット・シェービング", ""},
    {"ウエットシェービング", ""},
    {"ロック’ン’ロール", ""},
    {"ロックンロール", ""},
    {"一・二", "いち・に"},
    {"一二", "いちに"},
    {"サン・マリノ", ""},  // no twin: its group is its own
    {"ヶ", ""},
    {"け", ""},  // ヶ has no hiragana: it stays in its member's key
};

// The heading of each hit of the set, read through the library.
std::set<std::string> headingsOf(lftest::EbProbe& eb, CEBReader& reader) {
    std::set<std::string> out;
    for (int i = 0; i < reader.hitCount(); ++i) {
        const HIT_ITEM* h = reader.hits().at(i);
        std::string heading = eb.readHeading(0, static_cast<int>(h->headingBlock), h->headingOffset);
        out.insert(heading.substr(0, heading.find('\n')));
    }
    return out;
}

}  // namespace

// A kana word written with a mark (・ or ’) is found by its exact and word
// search as typed, in either script, as the library finds it, also where
// its twin without the mark shares its group in the kana index (the twin
// may be found as well); so is ヶ beside け. Every hit of the library is one
// of ours.
TEST(CompareSearchWithEbLibrary, MarkedKanaWordsAreFoundAsTyped) {
    lftest::TestDir dir;
    std::string csv;
    for (const Headword& h : kMarkedTwins)
        csv += std::string(h.headword) + "," + h.reading + ",meaning of " + h.headword + "\n";
    const std::string src = dir.path() + "/twins.csv";
    lftest::writeFile(src, csv);
    struct Case {
        const char* query;     // UTF-8
        const char* headword;  // the entry it must find
        bool exact;
    } cases[] = {
        {"カラー・ペン", "カラー・ペン", true},
        {"からー・ぺん", "カラー・ペン", true},
        {"カラー・ペン", "カラー・ペン", false},
        {"カラー・ペ", "カラー・ペン", false},
        {"カラーペン", "カラーペン", true},
        {"あいどる・ぎや", "あいどる・ぎや", true},
        {"アイドル・ギヤ", "あいどる・ぎや", true},
        {"あいどる・", "あいどる・ぎや", false},
        {"ウエット・シェービング", "ウエット・シェービング", true},
        {"ウエット・シェー", "ウエット・シェービング", false},
        {"ロック’ン’ロール", "ロック’ン’ロール", true},
        {"いち・に", "一・二", true},
        {"イチ・ニ", "一・二", false},
        {"サン・マリノ", "サン・マリノ", true},
        {"ヶ", "ヶ", true},
        {"け", "け", true},
    };
    for (int ebType : {1, 0}) {
        const char* label = ebType ? "EPWING" : "EB";
        CsvBook book;
        ASSERT_NO_FATAL_FAILURE(openCsvBook(dir.path() + "/" + label, src, ebType, &book));
        lftest::EbProbe& eb = *book.eb;
        CEBReader& reader = book.reader;
        for (const Case& c : cases) {
            const std::string q = sjis(c.query), head = sjis(c.headword);
            const EbFind kind = c.exact ? EbFind::ExactWord : EbFind::Word;
            SCOPED_TRACE(std::string(label) + " " + kindName(kind) + " " + c.query);
            std::set<std::string> theirHeadings;
            for (const lftest::EbHit& h : eb.searchText(0, kind, {q})) theirHeadings.insert(h.heading);
            EXPECT_EQ(theirHeadings.count(head), 1u) << "the library misses it";
            const PositionSet a = ours(reader, kind, q), b = theirs(eb, kind, q);
            for (const auto& p : b) EXPECT_EQ(a.count(p), 1u) << "a hit of the library that we miss";
            EXPECT_EQ(headingsOf(eb, reader).count(head), 1u) << "we miss it";
        }
    }
}
