// The HTML / XHTML / XML reader: books built from documents in each
// encoding, read back through the EB Library (headwords, kana and keyword
// searches, anchors reached by links of other sources), and documents that
// are broken or hostile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/CEPWing.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/HtmlLinkCheck.h"
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

// The text of the book's first page through the EB Library, its lines
// without the blanks at their ends, empty lines left out.
std::string pageText(const std::string& bookDir) {
    lftest::EbProbe probe(bookDir);
    if (!probe.ok()) return "<no book: " + probe.error() + ">";
    const auto starts = lftest::pageStarts(probe, 1);
    if (starts.empty()) return "<no text>";
    const std::string raw = probe.readWholeText(0, starts[0].first, starts[0].second);
    std::string out, line;
    auto flush = [&]() {
        const size_t a = line.find_first_not_of(' '), b = line.find_last_not_of(' ');
        if (a != std::string::npos) out += line.substr(a, b - a + 1) + "\n";
        line.clear();
    };
    for (char c : raw) {
        if (c == '\n')
            flush();
        else
            line += c;
    }
    flush();
    return out;
}

// Text between elements is laid out as a browser shows it: white space
// between inline content is one space, none at the start and end of a block
// or between blocks, and every block starts a line of its own.
TEST(SaxBook, TextIsLaidOutAsABrowserShowsIt) {
    const struct {
        const char* name;
        const char* body;
        const char* text;  // the page's lines
    } cases[] = {
        {"space between inline elements", "<p>Run <code>diff</code> <code>-u</code> now</p>", "Run diff -u now\n"},
        {"a line of the file between inline elements", "<p><b>one</b>\n   <i>two</i></p>", "one two\n"},
        {"space before a link stays outside it", "<p>see <a href=\"#x\">there</a> <em id=\"x\">now</em></p>",
         "see there now\n"},
        {"space inside an element at its end", "<p><b>bold </b>text <span> </span> more</p>", "bold text more\n"},
        {"blanks at the start and end of blocks", "<div>\n  <p>\n  first  \n</p>\n\n  <p>  second</p>\n</div>\n",
         "first\nsecond\n"},
        {"divisions", "<div>Default: 0</div><div>Description: text</div>", "Default: 0\nDescription: text\n"},
        {"a heading before inline text", "<h2>Next</h2><a href=\"#n\" id=\"n\">after heading</a>",
         "Next\nafter heading\n"},
        {"text after a paragraph", "<p>one</p>two", "one\ntwo\n"},
        {"blocks of HTML5", "<section>a</section><article>b</article><nav>c</nav><aside>d</aside><header>e</header>"
                            "<footer>f</footer><main>g</main><figure>h<figcaption>i</figcaption></figure>",
         "a\nb\nc\nd\ne\nf\ng\nh\ni\n"},
        {"list items, rows and quotes",
         "<ul><li>x</li><li>y</li></ul>z<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>"
         "<blockquote>q</blockquote>w<pre>p  re</pre>v",
         "\x81\x45x\n\x81\x45y\nz\n1 2\n3\nq\nw\np  re\nv\n"},
        {"an ordered list's number and its item", "<ol><li>first</li><li> second</li></ol>", "1. first\n2. second\n"},
        {"inline elements of HTML5", "<p>a <mark>marked</mark> <time>noon</time> word</p>",
         "a marked noon word\n"},
    };
    for (const auto& c : cases) {
        lftest::TestDir dir;
        Built b = build(dir, {{"d.html", std::string("<html><body>") + c.body + "</body></html>\n"}}, {7});
        EXPECT_EQ(pageText(b.dir), c.text) << c.name << "\n" << b.log;
    }
}

// With the single-line option a DD goes on on its DT's line, blocks around
// them still start lines of their own.
TEST(SaxBook, SingleLineKeepsDdOnTheLineOfItsDt) {
    lftest::TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("d.html"), "<html><body><p>before</p><dl><dt>apple</dt>\n<dd>red</dd>"
                                                       "<dt>plum</dt><dd><div>blue</div></dd></dl>after</body></html>"));
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.indexDef = 0x01;
    r.configure = [](CEPWing& w) { w.setBoolOption("singleLine", true); };
    r.sources.push_back({dir.file("d.html"), "", 7});
    lftest::BookRun run = lftest::buildBook(r);
    ASSERT_TRUE(run.result.succeeded()) << run.log();
    EXPECT_EQ(pageText(dir.path() + "/"), "before\napple red\nplum\nblue\nafter\n") << run.log();
}

// A heading's text, and so its headword, keeps the spaces between its
// inline elements.
TEST(SaxBook, HeadwordsKeepTheSpacesBetweenInlineElements) {
    const struct {
        const char* heading;
        const char* search;
        const char* headword;
    } cases[] = {
        {"<h1><span>Daniel</span> <span>Burrows</span></h1>", "Daniel", "Daniel Burrows"},
        {"<h2><code>apt-get</code>\n<code>install</code></h2>", "apt-get", "apt-get install"},
        {"<dl><dt><b>one</b> <i>two</i></dt><dd>x</dd></dl>", "one", "one two"},
    };
    for (const auto& c : cases) {
        lftest::TestDir dir;
        Built b = build(dir, {{"d.html", std::string("<html><body>") + c.heading + "<p>text</p></body></html>"}}, {7});
        lftest::EbProbe probe(b.dir);
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_EQ(probe.headings(0, EbSearchKind::Word, {c.search}), std::vector<std::string>{c.headword})
            << c.heading << "\n" << b.log;
    }
}

// A heading longer than a title holds (an API signature in a DT) is shown
// whole in the text; its title, the menu item, ends at the last whole word
// that fits, and that is no error.
TEST(SaxBook, ALongHeadingsTitleEndsAtAWord) {
    std::string words;
    for (int i = 0; i < 40; ++i) words += (i ? " " : "") + std::string("word") + static_cast<char>('a' + i % 26) + "xyz";
    lftest::TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("d.html"),
                                  "<html><body><dl><dt><code>" + words + "</code></dt><dd>x</dd></dl></body></html>"));
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.indexDef = 0x01 | 0x40;  // prefix word search, menu
    r.configure = [](CEPWing& w) { w.setBoolOption("HTagMenu", true); };
    r.sources.push_back({dir.file("d.html"), "", 7});
    lftest::BookRun run = lftest::buildBook(r);
    ASSERT_TRUE(run.result.succeeded()) << run.log();
    EXPECT_FALSE(contains(run.log(), "Error in")) << run.log();
    lftest::EbProbe probe(dir.path() + "/");
    ASSERT_TRUE(probe.ok()) << probe.error();
    int block = 0, offset = 0;
    ASSERT_TRUE(probe.menu(0, &block, &offset));
    // 28 words of 8 letters and their spaces fit in 255 bytes, the 29th is
    // left out whole.
    EXPECT_EQ(probe.readRenderedText(0, block, offset), words.substr(0, 28 * 9 - 1) + "\n");
    EXPECT_TRUE(contains(pageText(dir.path() + "/"), words)) << pageText(dir.path() + "/");
}

// Valid nesting and the elements of HTML5 are no error; an element nobody
// knows is a note that leaves the page's first real error to be reported.
TEST(SaxBook, ValidNestingIsNoError) {
    const struct {
        const char* name;
        const char* body;
        const char* text;    // the page's lines
        const char* logged;  // part of the log, or null: no error and no note
    } cases[] = {
        {"a DL inside a DD, DT after DT",
         "<dl><dt>One</dt><dd><dl><dt>Two</dt><dt>Three</dt><dd>both</dd></dl></dd><dt>Four</dt><dd>four</dd></dl>",
         "One\nTwo\nThree\nboth\nFour\nfour\n", nullptr},
        {"DT and DD left open", "<dl><dt>One<dd>one<dt>Two<dt>Three<dd>both</dl><p>after</p>",
         "One\none\nTwo\nThree\nboth\nafter\n", nullptr},
        {"a DD holding a paragraph and a list", "<dl><dt>A</dt><dd><p>para</p><ul><li>item</li></ul></dd></dl>",
         "A\npara\n\x81\x45item\n", nullptr},
        {"elements of HTML5",
         "<main><article><header>h</header><section><p>s <mark>m</mark> <time>t</time></p></section>"
         "<aside>a</aside><nav>n</nav><figure>f<figcaption>c</figcaption></figure><footer>e</footer>"
         "</article></main>",
         "h\ns m t\na\nn\nf\nc\ne\n", nullptr},
        {"an unknown element before a real error", "<p><blink>x</blink></p>\n<p>y</q></p>", "x\ny\n",
         "Note in"},
    };
    for (const auto& c : cases) {
        lftest::TestDir dir;
        Built b = build(dir, {{"d.html", std::string("<html><body>") + c.body + "</body></html>\n"}}, {7});
        EXPECT_EQ(pageText(b.dir), c.text) << c.name << "\n" << b.log;
        if (c.logged == nullptr) {
            EXPECT_FALSE(contains(b.log, "Error in")) << c.name << "\n" << b.log;
            EXPECT_FALSE(contains(b.log, "Note in")) << c.name << "\n" << b.log;
        } else {
            EXPECT_TRUE(contains(b.log, c.logged)) << c.name << "\n" << b.log;
            // The note is no error report: the first real error still is.
            EXPECT_TRUE(contains(b.log, "(Line=2) : Unexpected end tag : q")) << c.name << "\n" << b.log;
        }
    }
}

// Elements of the dictionary markup in an XML source are the element
// rules', no error (its root element, unknown, is at most a note).
TEST(SaxBook, MarkupElementsOfXmlSourcesAreNoError) {
    lftest::TestDir dir;
    Built b = build(dir,
                    {{"d.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dic><dic-item><headword>alpha</headword>"
                               "<key type=\"keyword\">first</key><meaning>the first letter</meaning></dic-item>"
                               "</dic>\n"}},
                    {7});
    EXPECT_FALSE(contains(b.log, "Error in")) << b.log;
    EXPECT_FALSE(contains(b.log, "element headword")) << b.log;
    lftest::EbProbe probe(b.dir);
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe.search(0, EbSearchKind::Keyword, {"first"}).size(), 1u) << b.log;
}

}  // namespace
