// The EIJIRO text reader: lines taken apart, the five options, and books read
// back through the EB Library.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "builder/CEPWing.h"
#include "builder/ConvertOpt.h"
#include "builder/sources/CEIJIROParser.h"
#include "foundation/codes/jclib.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::EbSearchKind;

// Shift_JIS pieces of the fixtures.
const std::string kSquare = "\x81\xA1";                                        // ■
const std::string kDiamond = "\x81\x9F";                                       // ◆
const std::string kDot = "\x81\x45";                                           // ・
const std::string kComma = "\x81\x41";                                         // 、
const std::string kPron = "\x81\x79\x94\xAD\x89\xB9\x81\x7A";                  // 【発音】
const std::string kAt = "\x81\x79\x81\x97\x81\x7A";                            // 【＠】
const std::string kAbandonKana = "\x83\x41\x83\x6F\x83\x93\x83\x5F\x83\x93";   // アバンダン
const std::string kDannen = "\x92\x66\x94\x4F";                                // 断念
const std::string kYomi = "\x81\x6F\x82\xBE\x82\xF1\x82\xCB\x82\xF1\x81\x70";  // ｛だんねん｝
const std::string kVerb = "\x93\xAE";                                          // 動

bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

TEST(EijiroLine, TakesLinesApart) {
    CEIJIROParser::Line l;
    ASSERT_TRUE(CEIJIROParser::splitLine(kSquare + "abandon  {" + kVerb + "-1} : " + kDannen + kYomi +
                                             "\x82\xB7\x82\xE9" + kDiamond + kPron + "abc" + kComma + kAt +
                                             kAbandonKana + kSquare + kDot + "He abandoned it.",
                                         &l));
    EXPECT_EQ(l.headword, "abandon");
    EXPECT_EQ(l.partOfSpeech, kVerb + "-1");
    EXPECT_EQ(l.translation, kDannen + kYomi + "\x82\xB7\x82\xE9");
    ASSERT_EQ(l.notes.size(), 1u);
    EXPECT_EQ(l.notes[0], kPron + "abc" + kComma + kAt + kAbandonKana);
    EXPECT_EQ(l.examples, std::vector<std::string>{"He abandoned it."});
    EXPECT_EQ(l.kana, std::vector<std::string>{kAbandonKana});

    ASSERT_TRUE(CEIJIROParser::splitLine(kSquare + "a lot : many", &l));
    EXPECT_EQ(l.headword, "a lot");
    EXPECT_TRUE(l.partOfSpeech.empty());
    EXPECT_EQ(l.translation, "many");

    for (const std::string& bad : {std::string("abandon : x"), kSquare + "no separator", kSquare + kDot + "ex : x",
                                   kSquare + " : empty head", kSquare + "\x81\x6F\x82\xA0\x81\x70 : only a reading"})
        EXPECT_FALSE(CEIJIROParser::splitLine(bad, &l)) << bad;
}

// Headwords with readings, part-of-speech labels and item lists.
TEST(EijiroLine, HeadwordsAndTheirReadings) {
    const std::string ai = "\x88\xA4";                                     // 愛
    const std::string aiYomi = "\x81\x6F\x82\xA0\x82\xA2\x81\x70";         // ｛あい｝
    const std::string muchi = "\x95\xDA\x81\x6F\x82\xDE\x82\xBF\x81\x70";  // 鞭｛むち｝
    const std::string plusMinus = "\x81\x7D";                              // ±, its second byte is "}"
    const struct {
        std::string line, headword, key, reading, partOfSpeech;
        bool items;
        std::vector<std::string> kana;
    } cases[] = {
        {kSquare + ai + aiYomi + "  {" + kVerb + "} : love", ai + aiYomi, ai, "\x82\xA0\x82\xA2", kVerb, false, {}},
        {kSquare + ai + aiYomi + " : love", ai + aiYomi, ai, "\x82\xA0\x82\xA2", "", false, {}},
        // Readings inside the headword: no reading of the whole word.
        {kSquare + ai + aiYomi + "\x82\xCC" + muchi + " : x",
         ai + aiYomi + "\x82\xCC" + muchi,
         ai + "\x82\xCC\x95\xDA",
         "",
         "",
         false,
         {}},
        // An opening brace without its close is text.
        {kSquare + ai + "\x81\x6F\x82\xA0 : x", ai + "\x81\x6F\x82\xA0", ai + "\x81\x6F\x82\xA0", "", "", false, {}},
        // A last character whose second byte is "}" closes no label.
        {kSquare + "x {y" + plusMinus + " : z", "x {y" + plusMinus, "x {y" + plusMinus, "", "", false, {}},
        {kSquare + "abandon : " + kPron + "P" + kComma + kAt + kAbandonKana,
         "abandon",
         "abandon",
         "",
         "",
         true,
         {kAbandonKana}},
        // Items count only at the start of the translation.
        {kSquare + "abandon : x" + kAt + kAbandonKana, "abandon", "abandon", "", "", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        CEIJIROParser::Line l;
        ASSERT_TRUE(CEIJIROParser::splitLine(c.line, &l));
        EXPECT_EQ(l.headword, c.headword);
        EXPECT_EQ(l.key, c.key);
        EXPECT_EQ(l.reading, c.reading);
        EXPECT_EQ(l.partOfSpeech, c.partOfSpeech);
        EXPECT_EQ(l.items, c.items);
        EXPECT_EQ(l.kana, c.kana);
    }
}

TEST(EijiroLine, NotesAndReadingsFollowTheOptions) {
    ConvertOpt opt{};
    const std::string note = kPron + "abc" + kComma + kAt + kAbandonKana + kComma + "other";
    struct Case {
        int pronon, kana;
        std::string expected;
    } cases[] = {
        {1, 1, note},
        {0, 1, kAt + kAbandonKana + kComma + "other"},
        {1, 0, kPron + "abc" + kComma + "other"},
        {0, 0, "other"},
    };
    for (const Case& c : cases) {
        opt.eijiPronon = c.pronon;
        opt.eijiKana = c.kana;
        EXPECT_EQ(CEIJIROParser::filterNote(note, opt), c.expected) << c.pronon << c.kana;
    }
    opt.eijiPronon = opt.eijiKana = 0;
    EXPECT_EQ(CEIJIROParser::filterNote(kPron + "x", opt), "");
    EXPECT_EQ(CEIJIROParser::applyYomi(kDannen + kYomi + "\x82\xB7\x82\xE9", 0), kDannen + "\x82\xB7\x82\xE9");
    EXPECT_EQ(CEIJIROParser::applyYomi(kDannen + kYomi + "\x82\xB7\x82\xE9", 2), kDannen + kYomi + "\x82\xB7\x82\xE9");
    // An opening brace without its close stays.
    EXPECT_EQ(CEIJIROParser::applyYomi(kDannen + "\x81\x6F" + "x", 0), kDannen + "\x81\x6F" + "x");
}

struct Built {
    std::string log;
    std::string text;  // text of the hit for "abandon"
    size_t kanaHits = 0;
};

Built buildEijiro(const std::function<void(CEPWing&)>& options) {
    lftest::TestDir dir;
    const std::string src = kSquare + "abandon  {" + kVerb + "-1} : " + kDannen + kYomi + "\x82\xB7\x82\xE9" +
                            kDiamond + kPron + "PRON" + kComma + kAt + kAbandonKana + kSquare + kDot +
                            "They abandoned ship.\r\n" + kSquare + "abandon  {" + kVerb + "-2} : second\r\n" +
                            "garbage line\r\n" + kSquare + "ability : skill\r\n";
    EXPECT_TRUE(lftest::writeFile(dir.file("e.txt"), src));
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.indexDef = 0x01 | 0x02;
    r.sources.push_back({dir.file("e.txt"), "", 3});
    r.configure = options;
    Built b;
    b.log = lftest::buildBook(r).log();
    lftest::EbProbe probe(dir.path() + "/");
    EXPECT_TRUE(probe.ok()) << probe.error();
    auto hits = probe.searchText(0, EbSearchKind::Word, {"abandon"});
    EXPECT_EQ(hits.size(), 1u) << b.log;  // two lines, one entry
    if (!hits.empty()) b.text = hits[0].text;
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Word, {"ability"}).size(), 1u);
    b.kanaHits = probe.searchText(0, EbSearchKind::Word, {kAbandonKana}).size();
    return b;
}

TEST(EijiroBook, OptionsShapeTheText) {
    Built defaults = buildEijiro([](CEPWing&) {});
    EXPECT_TRUE(contains(defaults.log, "not an EIJIRO line in ")) << defaults.log;
    EXPECT_TRUE(contains(defaults.log, "(Line=3)")) << defaults.log;
    EXPECT_TRUE(contains(defaults.text, "second")) << defaults.text;
    EXPECT_TRUE(contains(defaults.text, "{" + kVerb + "-1}")) << defaults.text;  // part of speech on
    EXPECT_TRUE(contains(defaults.text, "PRON"));                                // pronunciation on
    EXPECT_FALSE(contains(defaults.text, kAbandonKana));                         // kana item off
    EXPECT_FALSE(contains(defaults.text, kYomi));                                // readings removed
    EXPECT_TRUE(contains(defaults.text, kDannen + "\x82\xB7\x82\xE9"));
    EXPECT_TRUE(contains(defaults.text, "They abandoned ship."));
    EXPECT_EQ(defaults.kanaHits, 0u);

    Built changed = buildEijiro([](CEPWing& w) {
        w.setIntOption("eijiPartOfSpeech", 0);
        w.setIntOption("eijiPronon", 0);
        w.setIntOption("eijiKana", 1);
        w.setIntOption("eijiYomi", 2);
    });
    EXPECT_FALSE(contains(changed.text, "{" + kVerb)) << changed.text;
    EXPECT_FALSE(contains(changed.text, "PRON"));
    EXPECT_TRUE(contains(changed.text, kAbandonKana));
    EXPECT_TRUE(contains(changed.text, kYomi));
    EXPECT_EQ(changed.kanaHits, 1u);

    // eijiBreak: notes on a line of their own, or after a space.
    Built inlined = buildEijiro([](CEPWing& w) { w.setIntOption("eijiBreak", 0); });
    EXPECT_TRUE(contains(inlined.text, "\x82\xB7\x82\xE9 " + kDiamond)) << inlined.text;
    EXPECT_FALSE(contains(defaults.text, "\x82\xB7\x82\xE9 " + kDiamond)) << defaults.text;

    // Ruby: the reading written apart from the kanji, without its braces.
    Built ruby = buildEijiro([](CEPWing& w) { w.setIntOption("eijiYomi", 1); });
    EXPECT_FALSE(contains(ruby.text, kYomi));
    EXPECT_TRUE(contains(ruby.text, "\x82\xBE\x82\xF1\x82\xCB\x82\xF1")) << ruby.text;
}

}  // namespace

namespace {

// Shift_JIS text as UTF-8.
std::string utf8Of(const std::string& sjis) {
    std::string out(sjis.size() * 3 + 1, '\0');
    int n = sjisToUtf8(reinterpret_cast<const unsigned char*>(sjis.data()), static_cast<int>(sjis.size()), &out[0],
                       out.size());
    out.resize(static_cast<size_t>(n));
    return out;
}

// The same entries in each encoding give the same book; a source of which
// no line is an EIJIRO line is a failed source.
TEST(EijiroBook, EveryEncodingAndASourceWithoutEntries) {
    const std::string sjis = kSquare + "abandon  {" + kVerb + "-1} : " + kDannen + "\x82\xB7\x82\xE9\r\n" + kSquare +
                             kDannen + " : giving up\r\n";
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"Shift_JIS", sjis},
        {"UTF-8 without a mark", utf8Of(sjis)},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + utf8Of(sjis)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        lftest::TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("e.txt"), c.content));
        lftest::BookRecipe r;
        r.outDir = dir.path();
        r.sources.push_back({dir.file("e.txt"), "", 3});
        lftest::BookRun run = lftest::buildBook(r);
        EXPECT_TRUE(run.result.succeeded()) << run.log();
        EXPECT_FALSE(contains(run.log(), "not an EIJIRO line")) << run.log();
        lftest::EbProbe probe(dir.path() + "/");
        ASSERT_TRUE(probe.ok()) << probe.error();
        auto hits = probe.searchText(0, EbSearchKind::ExactWord, {"abandon"});
        ASSERT_EQ(hits.size(), 1u) << run.log();
        EXPECT_TRUE(contains(hits[0].text, kDannen + "\x82\xB7\x82\xE9")) << hits[0].text;
        EXPECT_EQ(probe.search(0, EbSearchKind::ExactWord, {kDannen}).size(), 1u);
    }
    for (const std::string& content : {std::string("no entry here\r\nnor here\r\n"), std::string()}) {
        lftest::TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("e.txt"), content));
        lftest::BookRecipe r;
        r.outDir = dir.path();
        r.sources.push_back({dir.file("e.txt"), "", 3});
        lftest::BookRun run = lftest::buildBook(r);
        // Its only source gave nothing: the book is not written.
        EXPECT_FALSE(run.result.written);
        EXPECT_FALSE(run.result.aborted);
        EXPECT_EQ(run.result.failedSources, 1) << run.log();
        EXPECT_TRUE(contains(run.log(), dir.file("e.txt") + " : no EIJIRO entry, source left out")) << run.log();
        const std::map<std::string, lftest::Bytes> files = lftest::readTree(dir.path());
        EXPECT_EQ(files.count("TEST/DATA/HONMON") + files.count("CATALOGS"), 0u) << run.log();
    }
}

}  // namespace

namespace {

// UTF-8 text as Shift_JIS.
std::string sjisOf(const std::string& utf8) {
    std::vector<unsigned char> out(utf8.size() * 2 + 4);
    const int n = utf8ToSjis(utf8.data(), static_cast<int>(utf8.size()), out.data(), out.size());
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

// Headwords of the Japanese-English form carry their reading: the key is the
// headword without it, the reading a kana key, the heading as eijiYomi wants
// it. The items on a headword's own line follow eijiPronon and eijiKana.
TEST(EijiroBook, ReadingsAndItemsOfTheHeadwordLine) {
    const std::string src = sjisOf(
        "■愛｛あい｝  {名-1} : love\r\n"
        "■愛｛あい｝  {名-2} : affection\r\n"
        "■愛する｛あいする｝ : to love\r\n"
        "■abandon : 【発音】PRON、【＠】アバンダン、【分節】a・ban・don\r\n"
        "■abandon  {動-1} : 断念する\r\n"
        "■ability : 【発音】PRON2\r\n"
        "■ability : skill\r\n");
    struct Case {
        int yomi, pronon, kana;
        std::string heading;             // of 愛
        std::vector<std::string> shown;  // in the entry of 愛 or abandon
        std::vector<std::string> notShown;
        size_t kanaHits;          // of the 【＠】 reading アバンダン
        std::string abilityText;  // start of the body of ability
    } cases[] = {
        {0, 1, 0, "愛", {"PRON", "【分節】a・ban・don", "断念する"}, {"｛", "アバンダン"}, 0, "【発音】PRON2\nskill"},
        {2, 0, 1, "愛｛あい｝", {"愛｛あい｝", "【＠】アバンダン、【分節】"}, {"PRON"}, 1, "skill"},
        {1, 0, 0, "愛｛あい｝", {"愛あい", "【分節】a・ban・don"}, {"PRON", "アバンダン", "｛"}, 0, "skill"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("eijiYomi " + std::to_string(c.yomi) + " eijiPronon " + std::to_string(c.pronon) + " eijiKana " +
                     std::to_string(c.kana));
        lftest::TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("e.txt"), src));
        lftest::BookRecipe r;
        r.outDir = dir.path();
        r.indexDef = 0x5F;  // prefix and suffix by written form and by kana, keyword, menu
        r.sources.push_back({dir.file("e.txt"), "", 3});
        r.configure = [&c](CEPWing& w) {
            w.setIntOption("eijiYomi", c.yomi);
            w.setIntOption("eijiPronon", c.pronon);
            w.setIntOption("eijiKana", c.kana);
        };
        lftest::BookRun run = lftest::buildBook(r);
        ASSERT_TRUE(run.result.succeeded()) << run.log();
        lftest::EbProbe probe(dir.path() + "/");
        ASSERT_TRUE(probe.ok()) << probe.error();

        // Written form and reading, in either script, find the one entry.
        std::string loveText;
        for (const char* word : {"愛", "あい", "アイ"}) {
            auto hits = probe.searchText(0, EbSearchKind::ExactWord, {sjisOf(word)});
            EXPECT_EQ(hits.size(), 1u) << word;
            if (hits.empty()) continue;
            EXPECT_EQ(hits[0].heading, sjisOf(c.heading)) << word;
            loveText = hits[0].text;
        }
        EXPECT_TRUE(contains(loveText, "love") && contains(loveText, "affection")) << loveText;
        for (const char* word : {"愛する", "あいする"})
            EXPECT_EQ(probe.search(0, EbSearchKind::ExactWord, {sjisOf(word)}).size(), 1u) << word;
        EXPECT_EQ(probe.search(0, EbSearchKind::ExactWord, {sjisOf("愛｛あい｝")}).size(), 0u);

        auto abandon = probe.searchText(0, EbSearchKind::ExactWord, {"abandon"});
        ASSERT_EQ(abandon.size(), 1u);
        const std::string text = loveText + abandon[0].text;
        for (const std::string& s : c.shown) EXPECT_TRUE(contains(text, sjisOf(s))) << s << "\n" << text;
        for (const std::string& s : c.notShown) EXPECT_FALSE(contains(text, sjisOf(s))) << s << "\n" << text;
        EXPECT_EQ(probe.search(0, EbSearchKind::ExactWord, {sjisOf("アバンダン")}).size(), c.kanaHits);

        // A line left without text adds no line to the entry.
        auto ability = probe.searchText(0, EbSearchKind::ExactWord, {"ability"});
        ASSERT_EQ(ability.size(), 1u);
        EXPECT_TRUE(contains(ability[0].text, "ability\n" + sjisOf(c.abilityText))) << ability[0].text;
    }
}

}  // namespace
