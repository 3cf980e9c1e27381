// The HTML / XHTML / XML reader: books built from documents in each
// encoding, read back through the EB Library (headwords, kana and keyword
// searches, anchors reached by links of other sources), and documents that
// are broken or hostile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::EbSearchKind;

bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

struct Built {
    std::string dir;
    std::string log;
};

// One book from the given sources (path, type) written into dir.
Built build(const lftest::TestDir& dir, const std::vector<std::pair<std::string, std::string>>& files,
            const std::vector<int>& types) {
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.indexDef = 0x01 | 0x02 | 0x10;  // prefix word, prefix kana, keyword
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_TRUE(lftest::writeFile(dir.file(files[i].first), files[i].second));
        r.sources.push_back({dir.file(files[i].first), "", types[i]});
    }
    Built b;
    b.log = lftest::buildBook(r).log();
    b.dir = dir.path() + "/";
    return b;
}

// 林檎 / りんご in UTF-8 and in Shift_JIS.
const std::string kRingoUtf8 = "\xE6\x9E\x97\xE6\xAA\x8E";
const std::string kRingoKanaUtf8 = "\xE3\x82\x8A\xE3\x82\x93\xE3\x81\x94";
const std::string kRingoSjis = "\x97\xd1\x8c\xe7";
const std::string kRingoKanaSjis = "\x82\xe8\x82\xf1\x82\xb2";

std::string document(const std::string& head, const std::string& ringo, const std::string& kana) {
    return head +
           "<body>\n<h1 id=\"top\">Fruit</h1>\n<dl>\n"
           "<dt id=\"apple\">apple</dt><key type=\"kana\">" +
           kana +
           "</key><key type=\"keyword\">pome</key>\n"
           "<dd>A red &amp; round fruit, " +
           ringo +
           ". See <a href=\"#banana\">banana</a>.</dd>\n"
           "<dt id=\"banana\">banana</dt>\n<dd>A <b>yellow</b>\n   fruit.</dd>\n</dl>\n</body></html>\n";
}

TEST(SaxBook, EveryEncodingGivesTheSameEntries) {
    struct Case {
        const char* name;
        std::string content;
    } cases[] = {
        {"xhtml, utf-8 declared",
         document("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">",
                  kRingoUtf8, kRingoKanaUtf8)},
        {"html, shift_jis in meta",
         document("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"></head>",
                  kRingoSjis, kRingoKanaSjis)},
        {"html, undeclared utf-8", document("<html>", kRingoUtf8, kRingoKanaUtf8)},
        {"html, undeclared shift_jis", document("<html>", kRingoSjis, kRingoKanaSjis)},
        {"utf-8 with a byte-order mark", "\xEF\xBB\xBF" + document("<html>", kRingoUtf8, kRingoKanaUtf8)},
    };
    for (const Case& c : cases) {
        lftest::TestDir dir;
        Built b = build(dir, {{"d.html", c.content}}, {7});
        lftest::EbProbe probe(b.dir);
        ASSERT_TRUE(probe.ok()) << c.name << probe.error();
        auto apple = probe.searchText(0, EbSearchKind::Word, {"apple"});
        ASSERT_EQ(apple.size(), 1u) << c.name << "\n" << b.log;
        EXPECT_TRUE(contains(apple[0].text, "round fruit")) << c.name << apple[0].text;
        EXPECT_TRUE(contains(apple[0].text, "&")) << c.name;  // the entity came through as the character
        EXPECT_TRUE(contains(apple[0].text, kRingoSjis)) << c.name << apple[0].text;
        EXPECT_EQ(probe.search(0, EbSearchKind::Word, {kRingoKanaSjis}).size(), 1u) << c.name;
        EXPECT_EQ(probe.search(0, EbSearchKind::Keyword, {"pome"}).size(), 1u) << c.name;
        auto banana = probe.searchText(0, EbSearchKind::Word, {"banana"});
        ASSERT_EQ(banana.size(), 1u) << c.name;
        // White space between words is one space, not a line of the file.
        EXPECT_TRUE(contains(banana[0].text, "yellow fruit")) << c.name << banana[0].text;
    }
}

TEST(SaxBook, IdsAreAnchorsThatOtherSourcesReach) {
    lftest::TestDir dir;
    const std::string target = document("<html>", kRingoUtf8, kRingoKanaUtf8);
    const std::string linker =
        "<html><body><dl><dt>cherry</dt><dd>Like <a href=\"d.html#apple\">apple</a>.</dd></dl></body></html>";
    Built b = build(dir, {{"d.html", target}, {"e.html", linker}}, {7, 7});
    EXPECT_TRUE(contains(b.log, "# of Links(")) << b.log;
    EXPECT_FALSE(contains(b.log, "no anchor")) << b.log;
    lftest::EbProbe probe(b.dir);
    ASSERT_TRUE(probe.ok()) << probe.error();
    auto apple = probe.search(0, EbSearchKind::Word, {"apple"});
    auto cherry = probe.search(0, EbSearchKind::Word, {"cherry"});
    ASSERT_EQ(apple.size(), 1u);
    ASSERT_EQ(cherry.size(), 1u);
    // The reference in cherry's text leads to apple's entry.
    lftest::Bytes raw = probe.readText(0, cherry[0].textBlock, cherry[0].textOffset, 512);
    bool found = false;
    for (size_t i = 0; i + 7 < raw.size(); i += 2) {
        if (raw[i] == 0x1F && raw[i + 1] == 0x62) {
            auto bcd = [&](size_t at, int n) {
                int v = 0;
                for (int k = 0; k < n; ++k) v = v * 100 + (raw[at + k] >> 4) * 10 + (raw[at + k] & 15);
                return v;
            };
            EXPECT_EQ(bcd(i + 2, 4), apple[0].textBlock);
            EXPECT_EQ(bcd(i + 6, 2), apple[0].textOffset);
            found = true;
            break;
        }
    }
    EXPECT_TRUE(found);
}

TEST(SaxBook, BrokenAndHostileDocumentsStillMakeABook) {
    struct Case {
        const char* name;
        std::string content;
        const char* logged;  // part of the first error report, or null
    } cases[] = {
        {"unclosed elements and a stray end tag",
         "<html><body><dl><dt>alpha</dt><dd>one <b>two</dd></i>\n<dt>beta</dt><dd>three</dd>", nullptr},
        {"a NUL byte and invalid UTF-8",
         std::string("<html><body><dl><dt>alpha</dt><dd>x\0y \xff\xfe z</dd><dt>beta</dt><dd>b</dd>", 64), nullptr},
        {"an external entity is not read",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE html [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
         "<html><body><dl><dt>alpha</dt><dd>&x;</dd><dt>beta</dt><dd>b</dd></dl></body></html>",
         nullptr},
        {"a very long line",
         "<html><body><dl><dt>alpha</dt><dd>" + std::string(1 << 20, 'q') +
             "</dd><dt>beta</dt><dd>b</dd></dl></body></html>",
         nullptr},
        {"an error is reported with its line",
         "<html><body>\n\n<dl><dt>alpha</dt><dd>a</dd>\n<dt>beta</dt><dd>b</dd>\n<p>x</q></p></dl>",
         "(Line=5) : Unexpected end tag : q"},
    };
    for (const Case& c : cases) {
        lftest::TestDir dir;
        Built b = build(dir, {{"d.html", c.content}}, {7});
        if (c.logged) {
            EXPECT_TRUE(contains(b.log, c.logged)) << c.name << "\n" << b.log;
        }
        EXPECT_FALSE(contains(b.log, "root:")) << c.name;
        lftest::EbProbe probe(b.dir);
        ASSERT_TRUE(probe.ok()) << c.name << probe.error();
        EXPECT_EQ(probe.search(0, EbSearchKind::Word, {"alpha"}).size(), 1u) << c.name << "\n" << b.log;
        EXPECT_EQ(probe.search(0, EbSearchKind::Word, {"beta"}).size(), 1u) << c.name;
        auto alpha = probe.searchText(0, EbSearchKind::Word, {"alpha"});
        if (!alpha.empty()) {
            EXPECT_FALSE(contains(alpha[0].text, "root:")) << c.name;
        }
    }
}

}  // namespace
