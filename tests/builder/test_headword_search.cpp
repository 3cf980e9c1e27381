// Headwords of a delimited source found through the EB Library as users type
// them: Latin letters in either width and case, accented letters by their
// base letters, words written in kana (and the symbols readers count as
// kana) by kana search in either script, a real English word list of the
// Debian archive checked whole, and a real Japanese-English one checked
// whole as a delimited source and in the EIJIRO and PDIC forms in every
// encoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "builder/CEPWing.h"
#include "foundation/codes/jclib.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/JapaneseWordList.h"
#include "tests/common/RealFiles.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::EbHit;
using lftest::EbSearchKind;

const int kIndexes = 0x5F;  // prefix and suffix by written form and by kana, keyword, menu
const char* const kWordList = lftest::kJapaneseWordList;

std::string sjis(const std::string& utf8) {
    return lftest::sjisText(utf8);
}

std::u32string wide(const std::string& utf8) {
    std::vector<uint32_t> w(utf8.size() + 1);
    const int n = utf8ToWide(utf8.data(), static_cast<int>(utf8.size()), w.data());
    return std::u32string(w.begin(), w.begin() + n);
}

std::string utf8(const std::u32string& w) {
    std::string out;
    for (char32_t c : w) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Hiragana and katakana forms of a word (characters with a counterpart in
// the other script; ヴ ヵ ヶ have none in Shift_JIS).
std::string toHiragana(const std::string& s) {
    std::u32string w = wide(s);
    for (char32_t& c : w)
        if (c >= 0x30A1 && c <= 0x30F3) c -= 0x60;
    return utf8(w);
}
std::string toKatakana(const std::string& s) {
    std::u32string w = wide(s);
    for (char32_t& c : w)
        if (c >= 0x3041 && c <= 0x3093) c += 0x60;
    return utf8(w);
}

typedef lftest::WordRecord Record;

// Builds a book of a UTF-8 source "headword,reading,meaning".
void buildCsvBook(lftest::TestDir& dir, const std::vector<Record>& records, lftest::BookRun* run) {
    ASSERT_TRUE(lftest::writeFile(dir.file("words.csv"), lftest::csvWordSource(records)));
    lftest::BookRecipe recipe;
    recipe.outDir = dir.path();
    recipe.indexDef = kIndexes;
    recipe.sources.push_back({dir.file("words.csv"), "", 9, lftest::kCsvWordFields});
    *run = lftest::buildBook(recipe);
    ASSERT_EQ(run->newBookResult, 0) << run->log();
}

// Text positions of the hits of a search.
std::set<std::pair<int, int>> positions(const std::vector<EbHit>& hits) {
    std::set<std::pair<int, int>> out;
    for (const EbHit& h : hits) out.insert({h.textBlock, h.textOffset});
    return out;
}

}  // namespace

// The index declares that readers fold lower-case letters, so the keys hold
// full-width letters folded as ASCII ones are.
TEST(HeadwordSearch, LettersAreFoundInEitherWidthAndCase) {
    const std::vector<Record> records = {
        {"etc.", "", "ASCII small"}, {"ＡＮＺＡＣ", "", "full-width capitals"}, {"ｃａｆｅ", "", "full-width small"},
        {"１Ｄａｙ", "", "mixed"},   {"Ｑｕｉｚ王", "", "with kanji"},
    };
    lftest::TestDir dir;
    lftest::BookRun run;
    buildCsvBook(dir, records, &run);
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    struct Query {
        EbSearchKind kind;
        std::vector<std::string> forms;  // each must find the entry alone
        size_t entry;
    } queries[] = {
        {EbSearchKind::ExactWord, {"etc.", "ETC.", "ｅｔｃ．", "ＥＴＣ．"}, 0},
        {EbSearchKind::ExactWord, {"anzac", "ANZAC", "ａｎｚａｃ", "Ａｎｚａｃ"}, 1},
        {EbSearchKind::ExactWord, {"cafe", "CAFE", "ｃａｆｅ", "ＣＡＦＥ"}, 2},
        {EbSearchKind::ExactWord, {"1day", "1DAY", "１ｄａｙ", "１ＤＡＹ"}, 3},
        {EbSearchKind::ExactWord, {"quiz王", "ＱＵＩＺ王", "ｑｕｉｚ王"}, 4},
        {EbSearchKind::Word, {"an", "AN", "ａｎ", "Ａｎ"}, 1},
        {EbSearchKind::Word, {"caf", "ｃａｆ", "ＣＡＦ"}, 2},
        {EbSearchKind::EndWord, {"zac", "ZAC", "ｚａｃ", "ＺＡＣ"}, 1},
        {EbSearchKind::EndWord, {"afe", "ｆｅ", "ＡＦＥ"}, 2},
        {EbSearchKind::EndWord, {"day", "ＤＡＹ", "ｄａｙ"}, 3},
    };
    for (const Query& q : queries) {
        for (const std::string& form : q.forms) {
            SCOPED_TRACE(form);
            std::vector<EbHit> hits = p.searchText(0, q.kind, {sjis(form)});
            ASSERT_EQ(hits.size(), 1u) << p.error();
            EXPECT_NE(hits[0].heading.find(sjis(records[q.entry].headword)), std::string::npos);
        }
    }
}

// A word written in kana becomes a kana key of its entry without a reading:
// the EB Library looks a kana query up in the kana indexes only. Marks and
// symbols of the kana code row count as kana there too.
TEST(HeadwordSearch, KanaWordsAreFoundByKanaInEitherScript) {
    const std::vector<Record> records = {
        {"カメラ", "", "plain katakana"},
        {"かめ", "", "plain hiragana"},
        {"コーヒー", "", "long vowel marks"},
        {"がっこう", "", "voiced and small kana"},
        {"ジャム", "", "small ya"},
        {"ア・ラ・モード", "", "middle dots"},
        {"サン・マリノ", "", "middle dot, nothing else folded"},
        {"あーー", "", "two long vowel marks"},
        {"カット＆ペースト", "", "a symbol"},
        {"〆る", "", "a symbol first"},
        {"カメラマン２", "", "not all kana"},
        {"漢字", "かんじ", "a reading"},
        {"一・二", "いち・に", "a reading with a middle dot"},
        {"んー", "", "a long vowel mark after n"},
        {"βカメラ", "", "an external character: no kana word"},
    };
    lftest::TestDir dir;
    lftest::BookRun run;
    buildCsvBook(dir, records, &run);
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    struct Query {
        EbSearchKind kind;
        std::string word;
        std::vector<size_t> entries;
        bool eitherScript = true;  // also typed in hiragana and in katakana
    } queries[] = {
        {EbSearchKind::ExactWord, "カメラ", {0}},
        {EbSearchKind::Word, "かめ", {1, 0}},
        {EbSearchKind::EndWord, "メラ", {0}},
        {EbSearchKind::ExactWord, "コーヒー", {2}},
        {EbSearchKind::EndWord, "ひー", {2}},
        {EbSearchKind::ExactWord, "がっこう", {3}},
        {EbSearchKind::ExactWord, "かっこう", {}},
        {EbSearchKind::ExactWord, "ジャム", {4}},
        {EbSearchKind::ExactWord, "じやむ", {}},
        {EbSearchKind::ExactWord, "ア・ラ・モード", {5}},
        {EbSearchKind::Word, "ア・ラ", {5}},
        {EbSearchKind::EndWord, "モード", {5}},
        {EbSearchKind::ExactWord, "サン・マリノ", {6}},
        {EbSearchKind::ExactWord, "サンマリノ", {6}},
        {EbSearchKind::ExactWord, "あーー", {7}},
        {EbSearchKind::ExactWord, "カット＆ペースト", {8}},
        {EbSearchKind::ExactWord, "〆る", {9}},
        {EbSearchKind::ExactWord, "かめらまん", {}},
        {EbSearchKind::ExactWord, "カメラマン２", {10}, false},  // by written form only
        {EbSearchKind::ExactWord, "かめらまん２", {}, false},
        {EbSearchKind::ExactWord, "んー", {13}},
        {EbSearchKind::ExactWord, "かんじ", {11}},
        {EbSearchKind::ExactWord, "いち・に", {12}},
    };
    for (const Query& q : queries) {
        std::vector<std::string> forms = {q.word};
        if (q.eitherScript) forms = {q.word, toHiragana(q.word), toKatakana(q.word)};
        for (const std::string& form : forms) {
            SCOPED_TRACE(form);
            std::vector<std::string> got;
            for (const EbHit& h : p.searchText(0, q.kind, {sjis(form)})) {
                size_t which = records.size();
                for (size_t i = 0; i < records.size(); ++i)
                    if (h.heading.find(sjis(records[i].headword)) == 0) which = i;
                got.push_back(which < records.size() ? records[which].meaning : h.heading);
            }
            std::vector<std::string> want;
            for (size_t e : q.entries) want.push_back(records[e].meaning);
            std::sort(got.begin(), got.end());
            std::sort(want.begin(), want.end());
            EXPECT_EQ(got, want);
        }
    }
}

// A written-form key (KEY type="hyoki") of a markup source written in kana
// is a kana key too.
TEST(HeadwordSearch, KanaWordKeysOfMarkupAreFoundByKana) {
    lftest::TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("d.html"), sjis("<DL><DT>Turtle</DT><KEY type=\"hyoki\">かめ</KEY>"
                                                           "<KEY type=\"hyoki\">タートル</KEY><DD>slow</DD>\n"
                                                           "<DT>Camera</DT><KEY type=\"hyoki\">カメラ２</KEY>"
                                                           "<DD>photo</DD></DL>\n")));
    lftest::BookRecipe recipe;
    recipe.outDir = dir.path();
    recipe.indexDef = kIndexes;
    recipe.sources.push_back({dir.file("d.html"), "", 0});
    lftest::BookRun run = lftest::buildBook(recipe);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    struct Case {
        EbSearchKind kind;
        std::string word;
        size_t hits;
    } cases[] = {
        {EbSearchKind::ExactWord, "かめ", 1},     {EbSearchKind::ExactWord, "カメ", 1},
        {EbSearchKind::ExactWord, "たーとる", 1}, {EbSearchKind::EndWord, "トル", 1},
        {EbSearchKind::ExactWord, "カメラ２", 1}, {EbSearchKind::ExactWord, "かめら", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(p.search(0, c.kind, {sjis(c.word)}).size(), c.hits) << c.word;
}

namespace {

// The whole EDICT list of the Debian archive as UTF-8 records; under the
// sanitizer every tenth entry, to keep the run short. False when the file is
// missing.
bool readWordList(std::vector<Record>* records) {
    return lftest::readJapaneseWordList(records, [](long line, const Record&) {
#if defined(__SANITIZE_ADDRESS__)
        return line % 10 == 0;
#else
        (void)line;
        return true;
#endif
    });
}

// The word list into records; a test without it is skipped, and fails in CI
// (where the setup script installs it).
#define LF_READ_WORD_LIST(records)                                                      \
    do {                                                                                \
        if (!readWordList(&(records))) {                                                \
            const char* ci = std::getenv("CI");                                         \
            if (ci != nullptr && std::string(ci) == "true")                             \
                FAIL() << kWordList << " is missing (scripts/setup.sh installs edict)"; \
            GTEST_SKIP() << kWordList << " is missing: run scripts/setup.sh";           \
        }                                                                               \
        ASSERT_GE((records).size(), 10000u);                                            \
    } while (0)

// The heading of a headword as the EB Library reads it back: a source read
// as UTF-8 or UTF-16 keeps the alphabets below U+2000 other than ASCII as
// narrow external characters, which the library's default hooks render as
// "<?>".
std::string headingRead(const std::string& text, bool wideSource) {
    if (!wideSource) return sjis(text);
    std::string out;
    std::u32string run;
    for (char32_t c : wide(text) + U'\0') {
        if (c != 0 && (c < 0x80 || c >= 0x2000)) {
            run += c;
            continue;
        }
        out += sjis(utf8(run));
        run.clear();
        if (c != 0) out += "<?>";
    }
    return out;
}

// The text positions of the entries that the exact search of a headword
// finds under a heading starting with it (heading: the headword as read).
std::set<std::pair<int, int>> headwordHits(lftest::EbProbe& p, const std::string& head, const std::string& heading) {
    std::set<std::pair<int, int>> own;
    for (const EbHit& h : p.search(0, EbSearchKind::ExactWord, {head}, 100))
        if (p.readHeading(0, h.headingBlock, h.headingOffset).compare(0, heading.size(), heading) == 0)
            own.insert({h.textBlock, h.textOffset});
    return own;
}

// Whether a search for the word finds one of the entries (text positions).
bool findsOneOf(lftest::EbProbe& p, EbSearchKind kind, const std::string& word,
                const std::set<std::pair<int, int>>& entries) {
    const std::set<std::pair<int, int>> hits = positions(p.search(0, kind, {word}, 3000));
    for (const auto& pos : entries)
        if (hits.count(pos) != 0) return true;
    return false;
}

}  // namespace

// The whole EDICT list: every headword by the EB Library's exact search and
// every reading (a kana headword is its own reading) by its word search as
// written, in hiragana and in katakana, each finding the entry that the
// headword finds. Greek, Cyrillic and the signs JIS X 0208 has are keyed as
// JIS X 0208 characters, so only headwords with a character JIS X 0208 lacks
// (which no reader's query can hold) are counted apart.
TEST(HeadwordSearch, RealWordListIsFoundWhole) {
    std::vector<Record> records;
    LF_READ_WORD_LIST(records);

    lftest::TestDir dir;
    lftest::BookRun run;
    buildCsvBook(dir, records, &run);
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();

    // A character without a Shift_JIS form, which the book holds as a gaiji
    // and a query cannot name.
    auto external = [](const std::string& s) {
        for (char32_t c : wide(s)) {
            unsigned char b[2];
            if (c >= 0x80 && unicodeCharToSjis(c, b) < 0) return true;
        }
        return false;
    };
    size_t headwordsFound = 0, headwordsMissing = 0, withExternal = 0, readings = 0, readingsExternal = 0;
    size_t readingFound[3] = {0, 0, 0};
    std::vector<std::string> missing;
    for (const Record& r : records) {
        const std::set<std::pair<int, int>> own = headwordHits(p, sjis(r.headword), headingRead(r.headword, true));
        const bool ext = external(r.headword);
        withExternal += ext;
        if (!own.empty()) {
            ++headwordsFound;
        } else if (!ext) {
            ++headwordsMissing;
            if (missing.size() < 20) missing.push_back("headword " + r.headword);
        }
        const std::string& reading = r.reading.empty() ? r.headword : r.reading;
        bool kana = true;
        for (char32_t c : wide(reading)) kana = kana && ((c >= 0x3040 && c <= 0x30FF) || c == 0x30FC);
        if (!kana) continue;  // a headword that is not its own reading
        ++readings;
        if (own.empty()) {
            readingsExternal += ext;
            continue;
        }
        const std::string forms[3] = {reading, toHiragana(reading), toKatakana(reading)};
        for (int f = 0; f < 3; ++f) {
            const bool found = findsOneOf(p, EbSearchKind::Word, sjis(forms[f]), own);
            readingFound[f] += found;
            if (!found && missing.size() < 20) missing.push_back("reading " + forms[f] + " of " + r.headword);
        }
    }
    std::printf(
        "entries %zu: headwords found %zu (with an external character %zu); readings %zu, found as written "
        "%zu, in hiragana %zu, in katakana %zu\n",
        records.size(), headwordsFound, withExternal, readings, readingFound[0], readingFound[1], readingFound[2]);
    std::string shown;
    for (const std::string& m : missing) shown += m + "\n";
    EXPECT_EQ(headwordsMissing, 0u) << shown;
    const size_t checked = readings - readingsExternal;
    for (size_t f : readingFound) EXPECT_EQ(f, checked) << shown;
}

// A Latin letter with a diacritic stays an external character in the text,
// and its key holds its base letters, so that a reader finds the word typed
// without its marks, by exact, prefix and suffix search, from every source
// that writes such letters: UTF-8 text (delimited, PDIC) and markup with
// character references.
TEST(HeadwordSearch, AccentedLettersAreFoundByTheirBaseLetters) {
    struct Word {
        std::string word;   // UTF-8
        std::string typed;  // as a reader types it
    } words[] = {
        {"Ardèche", "ardeche"},        {"Besançon", "Besancon"}, {"Straße", "STRASSE"}, {"Æsop", "aesop"},
        {"œuvre", "oeuvre"},           {"Øresund", "oresund"},   {"Đakovo", "dakovo"},  {"Łódź", "lodz"},
        {"Þingvellir", "thingvellir"}, {"Ĳssel", "ijssel"},      {"Ștefan", "stefan"},  {"Zürich", "zurich"},
        {"Zurich", "zurich"},          {"Ÿser", "yser"},
    };
    struct Source {
        const char* name;
        int type;
    } sources[] = {{"delimited UTF-8", 9}, {"PDIC one-line UTF-8", 5}, {"markup with references", 0}};
    // The markup form of a word: its letters beyond ASCII as references.
    auto referenced = [](const std::string& utf8) {
        std::string out;
        for (char32_t c : wide(utf8)) {
            char ref[16];
            std::snprintf(ref, sizeof ref, "&#x%04x;", static_cast<unsigned>(c));
            out += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(ref);
        }
        return out;
    };
    for (const Source& src : sources) {
        SCOPED_TRACE(src.name);
        lftest::TestDir dir;
        std::string text;
        for (const Word& w : words) {
            if (src.type == 9)
                text += lftest::csvField(w.word) + ",\"\",\"" + w.typed + "\"\n";
            else if (src.type == 5)
                text += w.word + " /// " + w.typed + "\n";
            else
                text += "<DL><DT>" + referenced(w.word) + "</DT><DD>" + w.typed + "</DD></DL>\n";
        }
        ASSERT_TRUE(lftest::writeFile(dir.file("words.txt"), text));
        lftest::BookRecipe recipe;
        recipe.outDir = dir.path();
        recipe.indexDef = kIndexes;
        recipe.sources.push_back({dir.file("words.txt"), "", src.type,
                                  src.type == 9 ? "enc=utf-8;delim=,;fields=headword|kana|meaning|" : ""});
        lftest::BookRun run = lftest::buildBook(recipe);
        ASSERT_TRUE(run.result.succeeded()) << run.log();
        lftest::EbProbe p(dir.path());
        ASSERT_TRUE(p.ok()) << p.error();
        for (const Word& w : words) {
            SCOPED_TRACE(w.word);
            // The heading keeps the external characters (the EB Library's
            // default hooks show "<?>").
            const std::string heading = headingRead(w.word, true);
            const std::string typed = sjis(w.typed);
            struct Query {
                EbSearchKind kind;
                std::string word;
            } queries[] = {{EbSearchKind::ExactWord, typed},
                           {EbSearchKind::Word, typed.substr(0, typed.size() - 1)},
                           {EbSearchKind::EndWord, typed.substr(1)}};
            for (const Query& q : queries) {
                std::vector<std::string> got;
                for (const EbHit& h : p.search(0, q.kind, {q.word}))
                    got.push_back(p.readHeading(0, h.headingBlock, h.headingOffset));
                EXPECT_EQ(std::count(got.begin(), got.end(), heading), 1) << q.word;
            }
        }
    }
}

namespace {

const char* const kEnglishList = "/usr/share/dict/american-english-huge";

// A word as a reader types it without its accents: each Latin-1 letter by
// its base letters (this test's own table); *unknown is set when the word
// holds a character beyond ASCII the table lacks.
std::string withoutAccents(const std::string& utf8, bool* unknown) {
    static const struct {
        const char* letters;
        const char* base;
    } kBase[] = {
        {"ÀÁÂÃÄÅ", "A"}, {"Æ", "AE"},     {"Ç", "C"},    {"ÈÉÊË", "E"}, {"ÌÍÎÏ", "I"}, {"Ð", "D"},
        {"Ñ", "N"},      {"ÒÓÔÕÖØ", "O"}, {"ÙÚÛÜ", "U"}, {"Ý", "Y"},    {"Þ", "TH"},   {"ß", "ss"},
        {"àáâãäå", "a"}, {"æ", "ae"},     {"ç", "c"},    {"èéêë", "e"}, {"ìíîï", "i"}, {"ð", "d"},
        {"ñ", "n"},      {"òóôõöø", "o"}, {"ùúûü", "u"}, {"ýÿ", "y"},   {"þ", "th"},
    };
    std::string out;
    for (char32_t c : wide(utf8)) {
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        const char* base = nullptr;
        for (const auto& b : kBase)
            for (char32_t l : wide(b.letters))
                if (l == c) base = b.base;
        if (base == nullptr) *unknown = true;
        out += base != nullptr ? base : "?";
    }
    return out;
}

}  // namespace

// A real English word list of the Debian archive, whole, as a UTF-8
// delimited source: every word is found by the EB Library's exact search as
// typed, a word with accented letters (kept as external characters, which no
// query can hold) typed without its accents, each finding its own entry.
// Under the sanitizer every tenth word and every accented one.
TEST(HeadwordSearch, EnglishWordListIsFoundWhole) {
    LF_REQUIRE_REAL_FILE(kEnglishList);
    std::ifstream in(kEnglishList, std::ios::binary);
    std::vector<std::string> words;
    size_t lineNo = 0;
    for (std::string line; std::getline(in, line); ++lineNo) {
        if (line.empty()) continue;
#if defined(__SANITIZE_ADDRESS__)
        bool ascii = true;
        for (char c : line) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii && lineNo % 10 != 0) continue;
#endif
        words.push_back(line);
    }
    ASSERT_GE(words.size(), 30000u);
    std::vector<Record> records;
    for (size_t i = 0; i < words.size(); ++i) records.push_back({words[i], "", std::to_string(i)});
    lftest::TestDir dir;
    lftest::BookRun run;
    buildCsvBook(dir, records, &run);
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();

    size_t found = 0, accented = 0, accentedFound = 0, leftOut = 0;
    std::vector<std::string> missing;
    for (const std::string& w : words) {
        bool unknown = false;
        const std::string typed = withoutAccents(w, &unknown);
        if (unknown) {
            ++leftOut;
            missing.push_back("left out: " + w);
            continue;
        }
        const bool isAccented = typed != w;
        accented += isAccented;
        const std::string heading = headingRead(w, true);
        bool own = false;
        for (const EbHit& h : p.search(0, EbSearchKind::ExactWord, {sjis(typed)}, 100))
            own = own || p.readHeading(0, h.headingBlock, h.headingOffset) == heading;
        found += own;
        accentedFound += own && isAccented;
        if (!own && missing.size() < 50) missing.push_back(w + " as " + typed);
    }
    std::printf("words %zu: found %zu; with accents %zu, found typed without them %zu; left out %zu\n", words.size(),
                found, accented, accentedFound, leftOut);
    std::string shown;
    for (const std::string& m : missing) shown += m + "\n";
    EXPECT_EQ(found, words.size()) << shown;
    EXPECT_EQ(accentedFound, accented) << shown;
    EXPECT_EQ(leftOut, 0u) << shown;
}

namespace {

// Forms of a source that the whole word list is written in.
struct WordListForm {
    const char* name;
    int sourceType;  // 3 EIJIRO, 2 PDIC two-line, 5 PDIC one-line
    enum Encoding { kShiftJis, kUtf8, kUtf8Mark, kUtf16 } encoding;
};

// UTF-8 text in the form's encoding (UTF-16 little-endian after its mark;
// UTF-8 with its mark or without one).
std::string encodeText(const std::string& utf8, WordListForm::Encoding encoding) {
    if (encoding == WordListForm::kShiftJis) return sjis(utf8);
    if (encoding == WordListForm::kUtf8) return utf8;
    if (encoding == WordListForm::kUtf8Mark) return "\xEF\xBB\xBF" + utf8;
    return lftest::utf16Text(utf8);
}

// The source text of the records: EIJIRO lines "■headword｛reading｝ : gloss"
// (the Japanese-English form; a kana headword has no reading), PDIC pairs
// of a headword line and a body line, or PDIC lines "headword /// body".
std::string wordListSource(const std::vector<Record>& records, int sourceType) {
    std::string text;
    for (const Record& r : records) {
        if (sourceType == 3)
            text += "■" + r.headword + (r.reading.empty() ? "" : "｛" + r.reading + "｝") + " : " + r.meaning + "\r\n";
        else if (sourceType == 5)
            text += r.headword + " /// " + r.meaning + "\r\n";
        else
            text += r.headword + "\r\n" + r.meaning + "\r\n";
    }
    return text;
}

// The text of a PDIC entry as the EB Library reads it: the headword line,
// then the body (in the one-line form each " \ " a line break after the
// blank).
std::string pdicEntryRead(const Record& r, int sourceType, bool wideSource) {
    std::string body = r.meaning;
    if (sourceType == 5)
        for (size_t at = body.find(" \\ "); at != std::string::npos; at = body.find(" \\ ", at + 2))
            body.replace(at, 3, " \n");
    return headingRead(r.headword + "\n" + body + "\n", wideSource);
}

void PrintTo(const WordListForm& form, std::ostream* os) {
    *os << form.name;
}

class WholeWordList : public ::testing::TestWithParam<WordListForm> {};

}  // namespace

// The whole EDICT list as an EIJIRO source in Shift_JIS, in UTF-8 without a
// mark and in UTF-16, and as PDIC two-line and one-line sources in Shift_JIS,
// UTF-8 with and without its mark and UTF-16: every headword is found by the
// EB Library's exact search in every form, the same count in each; in the
// PDIC forms the text of every entry reads as the list has it, the same in
// every encoding (but that wide text keeps the alphabets below U+2000 as
// external characters).
TEST_P(WholeWordList, EveryHeadwordIsFound) {
    const WordListForm& form = GetParam();
    std::vector<Record> records;
    LF_READ_WORD_LIST(records);

    lftest::TestDir dir;
    ASSERT_TRUE(
        lftest::writeFile(dir.file("words.txt"), encodeText(wordListSource(records, form.sourceType), form.encoding)));
    lftest::BookRecipe recipe;
    recipe.outDir = dir.path();
    recipe.indexDef = kIndexes;
    recipe.sources.push_back({dir.file("words.txt"), "", form.sourceType});
    lftest::BookRun run = lftest::buildBook(recipe);
    ASSERT_TRUE(run.result.succeeded()) << run.log();
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();

    // In EIJIRO the reading is a kana key of the entry: its exact search
    // finds the entry that the headword finds.
    const bool wideSource = form.encoding != WordListForm::kShiftJis;
    const bool pdic = form.sourceType == 2 || form.sourceType == 5;
    size_t found = 0, readings = 0, readingsFound = 0, texts = 0;
    std::vector<std::string> missing;
    for (const Record& r : records) {
        const std::set<std::pair<int, int>> own =
            headwordHits(p, sjis(r.headword), headingRead(r.headword, wideSource));
        if (!own.empty())
            ++found;
        else
            missing.push_back(r.headword);
        if (pdic && !own.empty()) {
            const std::string want = pdicEntryRead(r, form.sourceType, wideSource);
            bool same = false;
            for (auto it = own.begin(); it != own.end() && !same; ++it)
                same = p.readRenderedText(0, it->first, it->second) == want;
            texts += same;
            if (!same) missing.push_back("text of " + r.headword);
        }
        if (form.sourceType != 3 || r.reading.empty()) continue;
        ++readings;
        if (findsOneOf(p, EbSearchKind::ExactWord, sjis(r.reading), own))
            ++readingsFound;
        else if (!own.empty())
            missing.push_back("reading " + r.reading + " of " + r.headword);
    }
    std::printf("%s: entries %zu, headwords found %zu; readings %zu, found %zu", form.name, records.size(), found,
                readings, readingsFound);
    if (pdic) std::printf("; texts as written %zu", texts);
    std::printf("\n");
    std::string shown;
    for (size_t i = 0; i < missing.size() && i < 200; ++i) shown += missing[i] + "\n";
    EXPECT_EQ(found, records.size()) << "missing:\n" << shown;
    EXPECT_EQ(readingsFound, readings) << "missing:\n" << shown;
    if (pdic) {
        EXPECT_EQ(texts, records.size()) << "missing:\n" << shown;
    }
}

// tests/CMakeLists.txt runs each form as a test of its own, by these names.
INSTANTIATE_TEST_SUITE_P(Forms, WholeWordList,
                         ::testing::Values(WordListForm{"EijiroShiftJis", 3, WordListForm::kShiftJis},
                                           WordListForm{"EijiroUtf8", 3, WordListForm::kUtf8},
                                           WordListForm{"EijiroUtf16", 3, WordListForm::kUtf16},
                                           WordListForm{"PdicShiftJis", 2, WordListForm::kShiftJis},
                                           WordListForm{"PdicUtf8", 2, WordListForm::kUtf8},
                                           WordListForm{"PdicUtf8Mark", 2, WordListForm::kUtf8Mark},
                                           WordListForm{"PdicUtf16", 2, WordListForm::kUtf16},
                                           WordListForm{"Pdic1ShiftJis", 5, WordListForm::kShiftJis},
                                           WordListForm{"Pdic1Utf8", 5, WordListForm::kUtf8},
                                           WordListForm{"Pdic1Utf8Mark", 5, WordListForm::kUtf8Mark},
                                           WordListForm{"Pdic1Utf16", 5, WordListForm::kUtf16}),
                         [](const ::testing::TestParamInfo<WordListForm>& info) { return info.param.name; });
