// Books of HTML pages (source type 7) shaped as documentation tools export
// manuals: a head with style sheets and scripts, ids on divisions and spans,
// links to whole pages, navigation lines. Read back through the EB Library;
// every link's target text checked by HtmlLinkCheck.
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
    std::vector<std::string> pages;
};

// One book of the pages (name, content), type 7, headings as menu items.
Built buildPages(const lftest::TestDir& dir, const std::vector<std::pair<std::string, std::string>>& files) {
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.indexDef = 0x01 | 0x40;  // prefix word search, menu
    r.configure = [](CEPWing& w) {
        w.setBoolOption("HTagMenu", true);
        w.setBoolOption("topMenu", true);
    };
    Built b;
    for (const auto& f : files) {
        EXPECT_TRUE(lftest::writeFile(dir.file(f.first), f.second));
        r.sources.push_back({dir.file(f.first), "", 7});
        b.pages.push_back(dir.file(f.first));
    }
    lftest::BookRun run = lftest::buildBook(r);
    EXPECT_TRUE(run.result.succeeded()) << run.log();
    b.log = run.log();
    b.dir = dir.path() + "/";
    return b;
}

// The headings of the hits of an exact search.
std::vector<std::string> headingsOf(lftest::EbProbe& probe, const std::string& word) {
    std::vector<std::string> out;
    for (const auto& hit : probe.searchText(0, EbSearchKind::ExactWord, {word})) out.push_back(hit.heading);
    return out;
}

const char kStyledHead[] =
    "<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
    "<!-- a comment\n of the head -->\n<title>Alpha Page</title>\n"
    "<link href=\"b.html\" rel=\"next\" title=\"Beta\">\n"
    "<style type=\"text/css\">\n<!--\na.copiable-anchor {visibility: hidden; text-decoration: none}\n"
    "div.example {margin-left: 3.2em}\n-->\n</style>\n"
    "<script>var documentationOptions = {version: '1.0'};</script>\n</head>\n";

// Style sheets, scripts and the rest of the head are never text, titles,
// headwords or menu items; the title stays the page's first line.
TEST(HtmlPages, HeadStyleAndScriptAreNeverText) {
    const struct {
        const char* name;
        std::string page;
    } cases[] = {
        {"style and script in the head",
         std::string("<html>") + kStyledHead + "<body><h1>Alpha</h1><p>First words.</p></body></html>\n"},
        {"head implied by its elements",
         "<html><title>Alpha Page</title><style>p.note {color: red; font-weight: bold}</style>"
         "<h1>Alpha</h1><p>First words.</p></html>\n"},
        {"style and script in the body",
         "<html><head><title>Alpha Page</title></head><body><h1>Alpha</h1>"
         "<style>table.grid {border-collapse: collapse}</style><p>First"
         "<script type=\"text/javascript\">if (a < b) { document.write('hidden text'); }</script> words.</p>"
         "</body></html>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        lftest::TestDir dir;
        Built b = buildPages(dir, {{"a.html", c.page}});
        EXPECT_FALSE(contains(b.log, "title too long")) << b.log;
        lftest::EbProbe probe(b.dir);
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_EQ(headingsOf(probe, "Alpha"), (std::vector<std::string>{"Alpha"}));
        auto hits = probe.searchText(0, EbSearchKind::ExactWord, {"Alpha"});
        ASSERT_EQ(hits.size(), 1u);
        EXPECT_TRUE(contains(hits[0].text, "First words.")) << hits[0].text;
        lftest::HtmlLinkReport report = lftest::checkHtmlLinks(b.pages, b.dir, b.log);
        EXPECT_TRUE(report.failures.empty()) << report.summary();
        int block = 0, offset = 0;
        ASSERT_TRUE(probe.textStart(0, &block, &offset));
        const std::string text = probe.readRenderedText(0, block, offset);
        EXPECT_EQ(text.compare(0, 10, "Alpha Page"), 0) << text;
        for (const char* hidden : {"visibility", "color", "border", "document", "comment", "charset"})
            EXPECT_FALSE(contains(text, hidden)) << hidden << "\n" << text;
    }
}

// An id on any element is an anchor at the element's place.
TEST(HtmlPages, IdsOnAnyElementAreAnchors) {
    const struct {
        const char* element;
        std::string target;
    } cases[] = {
        {"div", "<div class=\"section\" id=\"Arrays\"><h2>Arrays in depth</h2><p>Body.</p></div>"},
        {"section", "<section id=\"Arrays\"><h2>Arrays in depth</h2></section>"},
        {"empty span before a heading", "<span id=\"Arrays\"></span><h2>Arrays in depth</h2>"},
        {"span", "<p>Some <span id=\"Arrays\">Arrays in depth</span> here.</p>"},
        {"em", "<p>Some <em id=\"Arrays\">Arrays in depth</em> here.</p>"},
        {"a without href", "<p><a class=\"index-entry-id\" id=\"Arrays\"></a>Arrays in depth</p>"},
        {"table cell", "<table><tr><td>one</td><td id=\"Arrays\">Arrays in depth</td></tr></table>"},
        {"list item", "<ul><li>one</li><li id=\"Arrays\">Arrays in depth</li></ul>"},
        {"h3", "<h3 id=\"Arrays\">Arrays in depth</h3>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.element);
        lftest::TestDir dir;
        // The anchors of other names come first in the anchor order, so that a
        // link that missed its own would land on them.
        const std::string page =
            "<html><body><h1>Start</h1><p id=\"Array\">Wrong place.</p>"
            "<p id=\"Aardvark\">Wrong too.</p><p>See <a href=\"#Arrays\">the arrays</a>.</p>" +
            c.target + "</body></html>\n";
        Built b = buildPages(dir, {{"a.html", page}});
        lftest::HtmlLinkReport report = lftest::checkHtmlLinks(b.pages, b.dir, b.log);
        EXPECT_EQ(report.checked, 1) << report.summary();
        EXPECT_TRUE(report.failures.empty()) << report.summary();
        EXPECT_FALSE(contains(b.log, "Link \"")) << b.log;
    }
}

// A link to a whole page (no "#") leads to that page's first line; with "#"
// the file part names a page by its file name, its stem or the beginning of
// its file name, and an exact name or stem wins over a beginning.
TEST(HtmlPages, LinksToPagesOfTheBook) {
    const struct {
        const char* href;
        const char* landsOn;  // the text the link leads to
    } cases[] = {
        {"b.html", "Beta Page"},       {"b", "Beta Page"},         {"./guide/b.html", "Beta Page"},
        {"B.HTML", "Beta Page"},       {"b.htm", "Beta Page"},     {"b.html#inner", "Inner part"},
        {"b.htm#inner", "Inner part"}, {"b#inner", "Inner part"},  {"c.htm#inner", "Exact C"},
        {"c.htm", "C Page"},           {"index.html", "Top Page"}, {"Index.html", "Index Page"},
        {"#own", "Own place"},         {"#", "Alpha Page"},        {"b.html#", "Beta Page"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.href);
        lftest::TestDir dir;
        const std::string a = std::string("<html><head><title>Alpha Page</title></head><body><h1>Alpha</h1>") +
                              "<p>Go to <a href=\"" + c.href + "\">there</a>.</p><p id=\"own\">Own place</p>" +
                              "<p id=\"b.html\">Wrong place</p></body></html>\n";
        const std::string b =
            "<html><head><title>Beta Page</title></head><body><h1>Beta</h1><p>Before.</p>"
            "<div id=\"inner\"><p>Inner part</p></div></body></html>\n";
        // c.htm and c.html: the link c.htm#inner means c.htm, which comes first.
        const std::string cExact =
            "<html><head><title>C Page</title></head><body><p id=\"inner\">Exact C</p></body></html>\n";
        const std::string cLonger =
            "<html><head><title>Longer C</title></head><body><p id=\"inner\">Longer C</p></body></html>\n";
        const std::string top = "<html><head><title>Top Page</title></head><body><p>top</p></body></html>\n";
        const std::string index = "<html><head><title>Index Page</title></head><body><p>index</p></body></html>\n";
        Built built = buildPages(dir, {{"a.html", a},
                                       {"b.html", b},
                                       {"c.htm", cExact},
                                       {"c.html", cLonger},
                                       {"index.html", top},
                                       {"Index.html", index}});
        lftest::EbProbe probe(built.dir);
        ASSERT_TRUE(probe.ok()) << probe.error();
        auto alpha = probe.search(0, EbSearchKind::ExactWord, {"Alpha"});
        ASSERT_EQ(alpha.size(), 1u);
        auto refs = probe.references(0, alpha[0].textBlock, alpha[0].textOffset, 4096);
        ASSERT_FALSE(refs.empty());
        EXPECT_EQ(refs[0].text, "there");
        const std::string there = probe.readRenderedText(0, refs[0].block, refs[0].offset, 64);
        EXPECT_TRUE(contains(there.substr(0, 20), c.landsOn)) << there;
        EXPECT_FALSE(contains(built.log, "Link \"")) << built.log;
    }
}

// Attribute values holding quotes keep the attributes after them.
TEST(HtmlPages, AttributeValuesWithQuotesKeepEveryAttribute) {
    lftest::TestDir dir;
    const std::string page =
        "<html><body><h1>Quotes</h1>"
        "<p><a title='say \"hi\"' href=\"#there\">one</a>, "
        "<a title=\"it's\" href=\"#there\">two</a>, "
        "<a class=\"a\" rel=\"b\" title=\"c\" accesskey=\"d\" target=\"e\" data-x=\"f\" href=\"#there\">three</a></p>"
        "<p>Filler.</p><p id=\"there\">The target</p></body></html>\n";
    Built b = buildPages(dir, {{"a.html", page}});
    lftest::HtmlLinkReport report = lftest::checkHtmlLinks(b.pages, b.dir, b.log);
    EXPECT_EQ(report.checked, 3) << report.summary();
    EXPECT_TRUE(report.failures.empty()) << report.summary();
}

// The navigation lines and section structure of the two kinds of exported
// manuals: every link leads to the text it names.
TEST(HtmlPages, ManualNavigationLinksLeadToTheirTargets) {
    lftest::TestDir dir;
    auto texinfoPage = [](const std::string& id, const std::string& title, const std::string& next,
                          const std::string& prev) {
        return "<!DOCTYPE html>\n<html>\n<!-- Created by a documentation tool -->\n<head>\n<title>" + title +
               " (Manual)</title>\n<link href=\"index.html\" rel=\"start\" title=\"Top\">\n"
               "<style type=\"text/css\">\n<!--\na.copiable-anchor {visibility: hidden; text-decoration: none}\n"
               "-->\n</style>\n</head>\n<body lang=\"en\">\n<div class=\"chapter\" id=\"" +
               id + "\">\n<div class=\"header\">\n<p>\nNext: <a href=\"" + next +
               ".html\" accesskey=\"n\" rel=\"next\">" + next + "</a>, Previous: <a href=\"" + prev +
               ".html\" accesskey=\"p\" rel=\"prev\">" + prev +
               "</a>, Up: <a href=\"index.html\" accesskey=\"u\" rel=\"up\">Top</a> &nbsp; "
               "[<a href=\"index.html#SEC_Contents\" title=\"Table of contents\" rel=\"contents\">Contents</a>]"
               "</p>\n</div>\n<hr>\n<h2 class=\"chapter\">2 " +
               title + "</h2>\n<p>About " + title + "; see <a href=\"#" + id + "-Details\">Details</a> and <a href=\"" +
               next + ".html#" + next + "-Details\">the next details</a>.</p>\n<div class=\"section\" id=\"" + id +
               "-Details\">\n<h3 class=\"section\">2.1 " + title + " Details<a class=\"copiable-anchor\" href=\"#" +
               id +
               "-Details\"> &para;</a></h3>\n"
               "<a class=\"index-entry-id\" id=\"index-" +
               id + "\"></a>\n<p>Text of " + title + ".</p>\n</div>\n</div>\n</body>\n</html>\n";
    };
    const std::string top =
        "<!DOCTYPE html>\n<html><head><title>Top (Manual)</title><style>h1 {font-size: 2em}</style></head>\n"
        "<body><h1 class=\"top\">Manual</h1>\n<div class=\"contents\" id=\"SEC_Contents\"><h2>Table of Contents</h2>\n"
        "<ul><li><a href=\"Arrays.html\">Arrays</a></li><li><a href=\"Types.html\">Types</a></li></ul></div>\n"
        "<p>Missing: <a href=\"Gone.html#x\">gone</a>, <a href=\"#nowhere\">nowhere</a>.</p></body></html>\n";
    const std::string sphinx =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\" />\n"
        "<title>Usage &#8212; Guide 1.0 documentation</title>\n"
        "<link rel=\"stylesheet\" type=\"text/css\" href=\"_static/basic.css\" />\n"
        "<script src=\"_static/doctools.js\"></script>\n"
        "<script>DOCUMENTATION_OPTIONS = {VERSION: '1.0', LANGUAGE: 'en'};</script>\n</head><body>\n"
        "<div class=\"related\" role=\"navigation\" aria-label=\"related navigation\">\n<h3>Navigation</h3>\n<ul>\n"
        "<li class=\"right\"><a href=\"Types.html\" title=\"Types\" accesskey=\"N\">next</a> |</li>\n"
        "<li class=\"nav-item nav-item-0\"><a href=\"index.html\">Guide 1.0 documentation</a> &#187;</li>\n"
        "</ul>\n</div>\n<div class=\"document\"><div class=\"body\" role=\"main\">\n<section id=\"usage\">\n"
        "<h1>Usage<a class=\"headerlink\" href=\"#usage\" title=\"Permalink to this heading\">\xC2\xB6</a></h1>\n"
        "<p>See <a class=\"reference internal\" href=\"Arrays.html#Arrays-Details\"><span class=\"std std-ref\">"
        "the array details</span></a> and <a class=\"reference internal\" href=\"#install\">"
        "<span class=\"std std-ref\">installing</span></a>.</p>\n"
        "<section id=\"details\"><span id=\"install\"></span><h2>Installing<a class=\"headerlink\" "
        "href=\"#details\" title=\"Permalink to this heading\">\xC2\xB6</a></h2>\n<p>Run the tool.</p>\n"
        "</section>\n</section>\n</div></div>\n</body></html>\n";
    Built b = buildPages(dir, {{"index.html", top},
                               {"Arrays.html", texinfoPage("Arrays", "Arrays", "Types", "index")},
                               {"Types.html", texinfoPage("Types", "Types", "Usage", "Arrays")},
                               {"Usage.html", sphinx}});
    EXPECT_FALSE(contains(b.log, "title too long")) << b.log;
    lftest::HtmlLinkReport report = lftest::checkHtmlLinks(b.pages, b.dir, b.log);
    EXPECT_TRUE(report.failures.empty()) << report.summary();
    // Gone.html#x, #nowhere, Usage.html#Usage-Details.
    EXPECT_EQ(report.missing, 3) << report.summary();
    EXPECT_GE(report.checked, 20) << report.summary();
}

}  // namespace
