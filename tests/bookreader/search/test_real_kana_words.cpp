// Kana headwords of a real word list (the Debian archive's Japanese-English
// list, converted at test time) found by exact search as typed, by our reader
// and by the EB Library, on a book our builder makes of the whole list. Among
// them are words written with a mark (カラー・ペン) beside a twin without it
// (カラーペン), which share one group of the kana index.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "foundation/codes/jclib.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/JapaneseWordList.h"
#include "tests/common/RealFiles.h"
#include "tests/common/TestDir.h"

namespace {

std::string sjis(const std::string& utf8) {
    std::vector<unsigned char> out(utf8.size() * 2 + 4);
    const int n = utf8ToSjis(utf8.data(), static_cast<int>(utf8.size()), out.data(), out.size());
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n < 0 ? 0 : n));
}

// The marks kana indexes fold away: ・ ’ − ‐.
bool isMark(uint32_t c) {
    return c == 0x30FB || c == 0x2019 || c == 0x2212 || c == 0x2010;
}

// A headword written in kana: hiragana, katakana, the long vowel mark and
// the marks, with at least one kana. Its form without marks in *plain, and
// whether it has any in *marked.
bool isKanaHeadword(const std::string& utf8, std::string* plain, bool* marked) {
    std::vector<uint32_t> w(utf8.size() + 1);
    const int n = utf8ToWide(utf8.data(), static_cast<int>(utf8.size()), w.data());
    bool kana = false;
    std::vector<uint32_t> kept;
    *marked = false;
    for (int i = 0; i < n; ++i) {
        const uint32_t c = w[i];
        const bool k = (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA);
        if (isMark(c)) {
            *marked = true;
            continue;
        }
        if (!k && c != 0x30FC) return false;
        kana = kana || k;
        kept.push_back(c);
    }
    plain->clear();
    for (uint32_t c : kept) {  // all of them three bytes in UTF-8
        *plain += static_cast<char>(0xE0 | (c >> 12));
        *plain += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *plain += static_cast<char>(0x80 | (c & 0x3F));
    }
    return kana && n > 0;
}

// The heading at a position as the library reads it, to the end of its line.
std::string headingAt(lftest::EbProbe& eb, int block, int offset) {
    const std::string h = eb.readHeading(0, block, offset);
    return h.substr(0, h.find('\n'));
}

// Whether our search (exact or prefix) of the headword finds an entry under it.
bool oursFinds(CEBReader& reader, lftest::EbProbe& eb, const std::string& head, int exact) {
    reader.resetHits();
    reader.wordSearch(head.c_str(), exact, 0, HIT_ADD);
    for (int i = 0; i < reader.hitCount(); ++i) {
        const HIT_ITEM* h = reader.hits().at(i);
        if (headingAt(eb, static_cast<int>(h->headingBlock), h->headingOffset) == head) return true;
    }
    return false;
}

bool theirsFinds(lftest::EbProbe& eb, const std::string& head, lftest::EbSearchKind kind) {
    for (const lftest::EbHit& h : eb.search(0, kind, {head}, 3000))
        if (headingAt(eb, h.headingBlock, h.headingOffset) == head) return true;
    return false;
}

}  // namespace

// Every kana headword of the whole list by exact search as typed, on both
// sides; the headwords with a mark also by word (prefix) search. Under the
// sanitizer the book holds every kana headword and a tenth of the others.
TEST(RealKanaWords, EveryKanaHeadwordIsFoundAsTyped) {
    LF_REQUIRE_REAL_FILE(lftest::kJapaneseWordList);
    std::vector<lftest::WordRecord> records;
    ASSERT_TRUE(lftest::readJapaneseWordList(&records, [](long line, const lftest::WordRecord& r) {
#if defined(__SANITIZE_ADDRESS__)
        std::string plain;
        bool marked = false;
        return line % 10 == 0 || isKanaHeadword(r.headword, &plain, &marked);
#else
        (void)line;
        (void)r;
        return true;
#endif
    }));
    ASSERT_GE(records.size(), 10000u);

    lftest::TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("words.csv"), lftest::csvWordSource(records)));
    lftest::BookRecipe recipe;
    recipe.outDir = dir.path();
    recipe.indexDef = 0x5F;  // prefix and suffix by written form and by kana, keyword, menu
    recipe.sources.push_back({dir.file("words.csv"), "", 9, lftest::kCsvWordFields});
    const lftest::BookRun run = lftest::buildBook(recipe);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    lftest::EbProbe eb(dir.path());
    ASSERT_TRUE(eb.ok()) << eb.error();
    CEBReader reader;
    ASSERT_EQ(reader.open(dir.file("TEST/DATA/HONMON").c_str(), 1, 0), 1);

    // Distinct kana headwords, with their form without marks.
    std::map<std::string, std::string> kana;  // Shift_JIS headword -> without marks
    std::set<std::string> all;
    for (const lftest::WordRecord& r : records) {
        std::string plain;
        bool marked = false;
        all.insert(sjis(r.headword));
        if (isKanaHeadword(r.headword, &plain, &marked)) kana[sjis(r.headword)] = marked ? sjis(plain) : "";
    }
    struct Count {
        size_t headwords = 0, ours = 0, theirs = 0;
    } exact[3], word;  // exact: all, with a mark, with a mark and a twin
    std::vector<std::string> missed;
    for (const auto& k : kana) {
        const std::string& head = k.first;
        const bool marked = !k.second.empty();
        const bool twin = marked && all.count(k.second) != 0;
        const bool o = oursFinds(reader, eb, head, 1), t = theirsFinds(eb, head, lftest::EbSearchKind::ExactWord);
        for (int c = 0; c < 3; ++c) {
            if ((c == 1 && !marked) || (c == 2 && !twin)) continue;
            ++exact[c].headwords;
            exact[c].ours += o;
            exact[c].theirs += t;
        }
        if (t && !o && missed.size() < 20) missed.push_back("exact " + head);
        if (!marked) continue;
        const bool ow = oursFinds(reader, eb, head, 0), tw = theirsFinds(eb, head, lftest::EbSearchKind::Word);
        ++word.headwords;
        word.ours += ow;
        word.theirs += tw;
        if (tw && !ow && missed.size() < 20) missed.push_back("word " + head);
    }
    const char* const names[3] = {"kana headwords", "with a mark", "with a mark and a twin"};
    for (int c = 0; c < 3; ++c)
        std::printf("exact search, %s: %zu, found by ours %zu, by the EB Library %zu\n", names[c], exact[c].headwords,
                    exact[c].ours, exact[c].theirs);
    std::printf("word search, with a mark: %zu, found by ours %zu, by the EB Library %zu\n", word.headwords, word.ours,
                word.theirs);
    std::string shown;
    for (const std::string& m : missed) shown += m + "\n";
    EXPECT_GT(exact[2].headwords, 0u) << "no marked headword with a twin: the check shows nothing";
    for (const Count& c : exact) EXPECT_EQ(c.ours, c.headwords) << shown;
    EXPECT_EQ(word.ours, word.headwords) << shown;
}
