// Books built from tagged dictionary markup, read back through the EB
// Library: the menu tree of the headings, references within a source,
// across sources and by record number, the searches fed by KEY elements,
// the decoration codes and an HTML copyright page.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "builder/CEPWing.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

const char kSourceA[] =
    "<HTML><BODY>\n"
    "<H1 id=\"fruit\">Fruit</H1>\n"
    "<P>Fruits are <B>sweet</B> and <I>juicy</I>: H<SUB>2</SUB>O, x<SUP>2</SUP>, <NOBR>no break</NOBR>.</P>\n"
    "<H2>Apples</H2>\n"
    "<DL>\n"
    "<DT id=\"apple\">apple</DT><KEY type=\"kana\">\x82\xe8\x82\xf1\x82\xb2</KEY><KEY type=\"keyword\">pome</KEY>"
    "<KEY type=\"hyoki\">ringo</KEY>\n"
    "<DD>A red fruit. See <A HREF=\"#banana\">banana</A>, <A HREF=\"b.html#carrot\">carrot</A> and "
    "<EA refid=\"2\">record two</EA>. <RUBY>\x97\xd1\x8c\xe7<RT>\x82\xe8\x82\xf1\x82\xb2</RT></RUBY></DD>\n"
    "<DT id=\"banana\">banana</DT>\n"
    "<DD>A yellow fruit.\n"
    "<TABLE><TR><TD width=48>size</TD><TD>long</TD></TR></TABLE>\n"
    "<UL><LI>one<UL><LI>nested</UL><LI>two</UL>\n"
    "</DD>\n"
    "</DL>\n"
    "</BODY></HTML>\n";

const char kSourceB[] =
    "<H1>Vegetables</H1>\n"
    "<DL><DT id=\"carrot\">carrot</DT><DD>An orange root. Back to <A HREF=\"a.html#apple\">apple</A>, "
    "on to <A HREF=\"#nowhere\">nothing</A>.</DD></DL>\n";

const char kCopyright[] = "<HTML><BODY><P>Copyright <B>2026</B> Example</P></BODY></HTML>\n";

struct Position {
    int block = 0, offset = 0;
    bool operator==(const Position& o) const { return block == o.block && offset == o.offset; }
    bool operator!=(const Position& o) const { return !(*this == o); }
};

std::ostream& operator<<(std::ostream& os, const Position& p) {
    return os << p.block << ":" << p.offset;
}

int bcd(const std::vector<unsigned char>& b, size_t at, int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) v = v * 100 + (b[at + i] >> 4) * 10 + (b[at + i] & 15);
    return v;
}

// A reference or menu item read from raw text: its text (ASCII of the
// full-width letters) and its target.
struct Ref {
    std::string text;
    Position target;
};

// The references (begin, end) up to the text's end code 1F03.
std::vector<Ref> refsIn(const std::vector<unsigned char>& raw, unsigned begin, unsigned end) {
    std::vector<Ref> out;
    Ref cur;
    bool in = false;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        unsigned c = (raw[i] << 8) | raw[i + 1];
        if (c == 0x1F03) break;
        if (c == 0x1F09 || c == 0x1F41 || c == 0x1FE0) {
            i += 2;
        } else if (c == begin) {
            cur = Ref();
            in = true;
        } else if (c == end && i + 7 < raw.size()) {
            cur.target.block = bcd(raw, i + 2, 4);
            cur.target.offset = bcd(raw, i + 6, 2);
            out.push_back(cur);
            in = false;
            i += 6;
        } else if (in && (c >> 8) == 0x23) {
            cur.text += static_cast<char>(c & 0xFF);
        }
    }
    return out;
}

// The menu as "item{child,child},item", following submenu pages.
std::string menuTree(lftest::EbProbe& probe, const Position& page, int depth,
                     std::vector<std::pair<std::string, Position>>* leaves) {
    std::vector<unsigned char> raw = probe.readText(0, page.block, page.offset, 2048);
    std::string out;
    for (const Ref& item : refsIn(raw, 0x1F43, 0x1F63)) {
        if (!out.empty()) out += ",";
        out += item.text;
        std::vector<unsigned char> there = probe.readText(0, item.target.block, item.target.offset, 4);
        bool submenu =
            there.size() == 4 && there[0] == 0x1F && there[1] == 0x02 && there[2] == 0x1F && there[3] == 0x43;
        if (submenu && depth < 8)
            out += "{" + menuTree(probe, item.target, depth + 1, leaves) + "}";
        else
            leaves->push_back({item.text, item.target});
    }
    return out;
}

Position hit(lftest::EbProbe& probe, lftest::EbSearchKind kind, const std::string& word) {
    auto hits = probe.search(0, kind, {word});
    EXPECT_EQ(hits.size(), 1u) << word << " " << probe.error();
    if (hits.empty()) return Position();
    return Position{hits[0].textBlock, hits[0].textOffset};
}

bool hasCodes(const std::vector<unsigned char>& raw, const std::vector<unsigned>& codes) {
    size_t next = 0;
    for (size_t i = 0; i + 1 < raw.size() && next < codes.size(); i += 2)
        if (static_cast<unsigned>((raw[i] << 8) | raw[i + 1]) == codes[next]) ++next;
    return next == codes.size();
}

TEST(MarkupBook, ReadsBackThroughTheEbLibrary) {
    for (int ebType : {1, 0}) {
        SCOPED_TRACE(ebType ? "EPWING" : "EB");
        lftest::TestDir dir;
        lftest::writeFile(dir.file("a.html"), std::string(kSourceA));
        lftest::writeFile(dir.file("b.html"), std::string(kSourceB));
        lftest::writeFile(dir.file("copyright.html"), std::string(kCopyright));
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.ebType = ebType;
        // Prefix word and kana search, keyword search, menu.
        r.indexDef = (1 << IDX_WORD_HYOKI) | (1 << IDX_WORD_KANA) | (1 << IDX_KEYWORD) | (1 << IDX_MENU);
        r.sources = {{dir.file("a.html"), "", 0}, {dir.file("b.html"), "", 1}};
        r.copyright = dir.file("copyright.html");
        lftest::BookRun run = lftest::buildBook(r);
        const std::string log = run.log();
        EXPECT_NE(log.find("Menu...(6)"), std::string::npos) << log;
        EXPECT_NE(log.find("Link \"nowhere\" in b.html: no anchor"), std::string::npos) << log;
        EXPECT_NE(log.find("# of Anchors(4)"), std::string::npos) << log;
        EXPECT_NE(log.find("# of Links(5)"), std::string::npos) << log;

        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();

        const Position apple = hit(probe, lftest::EbSearchKind::ExactWord, "apple");
        const Position banana = hit(probe, lftest::EbSearchKind::ExactWord, "banana");
        const Position carrot = hit(probe, lftest::EbSearchKind::ExactWord, "carrot");
        // KEY elements: notation, kana and keyword keys find the entry.
        EXPECT_EQ(hit(probe, lftest::EbSearchKind::ExactWord, "ringo"), apple);
        EXPECT_EQ(hit(probe, lftest::EbSearchKind::ExactWord, "\x82\xe8\x82\xf1\x82\xb2"), apple);
        EXPECT_EQ(hit(probe, lftest::EbSearchKind::Keyword, "pome"), apple);

        // References within the source, across sources and by record number.
        std::vector<Ref> refs = refsIn(probe.readText(0, apple.block, apple.offset, 2048), 0x1F42, 0x1F62);
        ASSERT_EQ(refs.size(), 3u);
        EXPECT_EQ(refs[0].text, "banana");
        EXPECT_EQ(refs[0].target, banana);
        EXPECT_EQ(refs[1].target, carrot);
        EXPECT_EQ(refs[2].text, "recordtwo");
        EXPECT_EQ(refs[2].target, carrot);
        refs = refsIn(probe.readText(0, carrot.block, carrot.offset, 2048), 0x1F42, 0x1F62);
        ASSERT_EQ(refs.size(), 2u);
        EXPECT_EQ(refs[0].target, apple);
        // A link with no anchor still points into the text.
        EXPECT_FALSE(probe.readRenderedText(0, refs[1].target.block, refs[1].target.offset).empty())
            << refs[1].target << " " << probe.error();

        // The menu is the tree of the headings and entries.
        Position menu;
        ASSERT_TRUE(probe.menu(0, &menu.block, &menu.offset)) << probe.error();
        std::vector<std::pair<std::string, Position>> leaves;
        EXPECT_EQ(menuTree(probe, menu, 0, &leaves), "Fruit{Apples{apple,banana}},Vegetables{carrot}");
        for (const auto& leaf : leaves) {
            if (leaf.first == "apple") {
                EXPECT_EQ(leaf.second, apple);
            }
            if (leaf.first == "carrot") {
                EXPECT_EQ(leaf.second, carrot);
            }
        }

        // Decorations, subscript, superscript and no-break spans.
        const Position fruit = hit(probe, lftest::EbSearchKind::ExactWord, "fruit");
        std::vector<unsigned char> raw = probe.readText(0, fruit.block, fruit.offset, 2048);
        if (ebType == 1) {
            EXPECT_TRUE(hasCodes(raw, {0x1FE0, 0x0003, 0x1FE1, 0x1FE0, 0x0001, 0x1FE1}));
        }
        EXPECT_TRUE(hasCodes(raw, {0x1F06, 0x1F07, 0x1F0E, 0x1F0F, 0x1F10, 0x1F11}));

        // The HTML copyright page reads back as text.
        lftest::EbCopyright c = probe.copyright(0, 512);
        ASSERT_TRUE(c.found) << probe.error();
        std::string text;
        for (size_t i = 0; i + 1 < c.raw.size(); i += 2)
            if (c.raw[i] == 0x23) text += static_cast<char>(c.raw[i + 1]);
        EXPECT_EQ(text, "Copyright2026Example");
    }
}

}  // namespace

namespace {

// A link to a name no anchor has is left unresolved and named in the log:
// it never leads to the anchor that follows its name in the sort order.
TEST(MarkupBook, ALinkToAMissingAnchorIsNotSentElsewhere) {
    const struct {
        const char* what;
        const char* target;  // carrot and date exist
    } cases[] = {{"a prefix of an anchor", "car"}, {"between two anchors", "cat"}, {"after every anchor", "zebra"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        lftest::TestDir dir;
        lftest::writeFile(dir.file("a.html"), std::string("<DL><DT id=\"apple\">apple</DT><DD>See <A HREF=\"#") +
                                                  c.target +
                                                  "\">it</A></DD><DT id=\"carrot\">carrot</DT><DD>root</DD>"
                                                  "<DT id=\"date\">date</DT><DD>fruit</DD></DL>\n");
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.sources = {{dir.file("a.html"), "", 0}};
        lftest::BookRun run = lftest::buildBook(r);
        EXPECT_NE(run.log().find(std::string("Link \"") + c.target + "\" in a.html: no anchor"), std::string::npos)
            << run.log();
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        const Position apple = hit(probe, lftest::EbSearchKind::ExactWord, "apple");
        std::vector<Ref> refs = refsIn(probe.readText(0, apple.block, apple.offset, 2048), 0x1F42, 0x1F62);
        ASSERT_EQ(refs.size(), 1u);
        for (const char* other : {"apple", "carrot", "date"})
            EXPECT_NE(refs[0].target, hit(probe, lftest::EbSearchKind::ExactWord, other)) << other;
    }
}

TEST(MarkupBook, MalformedMarkupStillBuildsAReadableBook) {
    struct Case {
        const char* what;
        std::string markup;
        int errorLine;  // 0: no error expected
    };
    std::string deep;
    for (int i = 0; i < 60; ++i) deep += "<UL><LI><P><DIV><B>";
    const Case cases[] = {
        {"unclosed elements", "<H1>head<B><I><SUP><A HREF=\"#x\">text", 0},
        {"stray end tags", "x\n</P></B></DL></A></KEY>", 2},
        {"nesting past the limits", deep + "x", 1},
        {"invalid UTF-8", "<META charset=utf-8>\n\xff\xfe\xc3(\xe3\x81</H2>", 2},
        {"NUL bytes", std::string("a\0b<H1>c\0d</H1>\0", 16), 0},
        {"a 10 MB single line", std::string(10 << 20, 'w') + "</P>", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lftest::TestDir dir;
        lftest::writeFile(dir.file("bad.html"), c.markup + "\n<H1>okay</H1>\n");
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.indexDef = (1 << IDX_WORD_HYOKI) | (1 << IDX_MENU);
        r.sources = {{dir.file("bad.html"), "", 0}};
        lftest::BookRun run = lftest::buildBook(r);
        const std::string log = run.log();
        if (c.errorLine > 0) {
            char where[64];
            std::snprintf(where, sizeof where, "bad.html (Line=%d) : ", c.errorLine);
            EXPECT_NE(log.find(where), std::string::npos) << log.substr(0, 300);
        }
        EXPECT_NE(log.find("# of Links"), std::string::npos) << log.substr(0, 300);
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        Position okay = hit(probe, lftest::EbSearchKind::ExactWord, "okay");
        EXPECT_FALSE(probe.readRenderedText(0, okay.block, okay.offset).empty()) << probe.error();
    }
}

}  // namespace

namespace {

TEST(MarkupBook, CopyrightPageReaderByExtension) {
    struct Case {
        const char* name;
        const char* expected;  // the page's letters and digits as read back
    };
    const Case cases[] = {
        {"notice.XML", "Hix"},
        {"notice.htm", "Hix"},
        {"notice.txt", "<P>Hi<A NAME=z><B>x</B></P>"},
        {"notice", "<P>Hi<A NAME=z><B>x</B></P>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lftest::TestDir dir;
        lftest::writeFile(dir.file("a.html"), std::string("<H1 id=z>a</H1><A HREF=\"#z\">a</A>"));
        lftest::writeFile(dir.file(c.name), std::string("<P>Hi<A NAME=z><B>x</B></P>"));
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.sources = {{dir.file("a.html"), "", 0}};
        r.copyright = dir.file(c.name);
        lftest::BookRun run = lftest::buildBook(r);
        // Anchors of the page are counted (the page's own anchor set starts
        // empty), never resolved.
        const bool markup = std::string(c.expected) == "Hix";
        EXPECT_NE(run.log().find(markup ? "# of Anchors(2)" : "# of Anchors(1)"), std::string::npos) << run.log();
        lftest::EbProbe probe(dir.file("out"));
        lftest::EbCopyright page = probe.copyright(0, 512);
        ASSERT_TRUE(page.found) << probe.error();
        std::string text;
        for (size_t i = 0; i + 1 < page.raw.size(); i += 2) {
            if (page.raw[i] == 0x1F && page.raw[i + 1] == 0x03) break;
            if (page.raw[i] == 0x23) text += static_cast<char>(page.raw[i + 1]);
            if (page.raw[i] == 0x21 && page.raw[i + 1] == 0x63) text += '<';  // JIS full-width symbols
            if (page.raw[i] == 0x21 && page.raw[i + 1] == 0x64) text += '>';
            if (page.raw[i] == 0x21 && page.raw[i + 1] == 0x3F) text += '/';
            if (page.raw[i] == 0x21 && page.raw[i + 1] == 0x61) text += '=';
            if (page.raw[i] == 0x21 && page.raw[i + 1] == 0x21) text += ' ';
        }
        EXPECT_EQ(text, c.expected);
    }
}

}  // namespace

namespace {

TEST(MarkupBook, LinksReachDelimitedTextEntries) {
    lftest::TestDir dir;
    lftest::writeFile(dir.file("words.csv"), std::string("alpha,first,w1\nbeta,second,w2\n"));
    lftest::writeFile(dir.file("a.html"), std::string("<H1>Links</H1><P><A HREF=\"words.csv#w2\">to beta</A></P>"));
    lftest::BookRecipe r;
    r.outDir = dir.file("out");
    r.sources = {{dir.file("words.csv"), "", 9, "enc=utf-8;delim=,;fields=headword|meaning|id|"},
                 {dir.file("a.html"), "", 0}};
    lftest::BookRun run = lftest::buildBook(r);
    EXPECT_NE(run.log().find("# of Anchors(2)"), std::string::npos) << run.log();
    lftest::EbProbe probe(dir.file("out"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    const Position beta = hit(probe, lftest::EbSearchKind::ExactWord, "beta");
    const Position links = hit(probe, lftest::EbSearchKind::ExactWord, "links");
    std::vector<Ref> refs = refsIn(probe.readText(0, links.block, links.offset, 1024), 0x1F42, 0x1F62);
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].target, beta);
}

}  // namespace

namespace {

// One book of one markup source (type 0), headings as menu items.
lftest::BookRun buildMarkup(const lftest::TestDir& dir, const std::string& markup, const std::string& gaijiMap = "") {
    lftest::writeFile(dir.file("a.html"), markup);
    lftest::BookRecipe r;
    r.outDir = dir.file("out");
    r.indexDef = (1 << IDX_WORD_HYOKI) | (1 << IDX_MENU);
    r.sources = {{dir.file("a.html"), "", 0}};
    if (!gaijiMap.empty()) {
        lftest::writeFile(dir.file("map.xml"), gaijiMap);
        r.gaijiMap = dir.file("map.xml");
    }
    return lftest::buildBook(r);
}

// BR keeps its line break after text that follows P; REF and A reach the
// anchor their target names, forward or back, and register none of their
// own.
TEST(MarkupBook, LineBreaksAndReferencesOfEntries) {
    const struct {
        const char* name;
        const char* body;       // the DD of the entry "one"
        const char* text;       // what "one" shows (rendered), "" not checked
        const char* reference;  // the text its first reference leads to, "" none
    } cases[] = {
        {"BR after text of a P", "<P>first<BR>second</P>", "first\nsecond", ""},
        {"BR right after P", "<P><BR>second</P>", "second", ""},
        {"BR after a tag", "<P><B>first</B><BR>second</P>", "first\nsecond", ""},
        {"REF to a later id", "see <REF idref=\"k\">the second</REF>", "", "two"},
        {"REF to the id after", "<REF idref=\"k2\">the third</REF>, <REF idref=\"k\">the second</REF>", "",
         "three"},
        {"A with idref and href", "see <A idref=\"k2\" HREF=\"#k\">the second</A>", "", "two"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        lftest::TestDir dir;
        const std::string markup = std::string("<DL><DT>one</DT><DD>") + c.body +
                                   "</DD><DT id=\"k\">two</DT><DD>second entry</DD>"
                                   "<DT id=\"k2\">three</DT><DD>third entry</DD></DL>\n";
        lftest::BookRun run = buildMarkup(dir, markup);
        EXPECT_EQ(run.log().find("Link \""), std::string::npos) << run.log();
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        const Position one = hit(probe, lftest::EbSearchKind::ExactWord, "one");
        const std::string text = probe.readRenderedText(0, one.block, one.offset);
        if (*c.text) {
            EXPECT_NE(text.find(std::string("one\n") + c.text), std::string::npos) << text;
            EXPECT_EQ(text.find("\n\n"), std::string::npos) << text;
        }
        if (!*c.reference) continue;
        auto refs = probe.references(0, one.block, one.offset, 2048);
        ASSERT_FALSE(refs.empty());
        const std::string there = probe.readRenderedText(0, refs[0].block, refs[0].offset, 64);
        EXPECT_EQ(there.compare(0, std::strlen(c.reference), c.reference), 0) << there;
    }
}

// A gaiji inside a heading: the menu item and the headword show the gaiji,
// never the text of a reference.
TEST(MarkupBook, GaijiInAHeadingReachesItsMenuItemAndHeadword) {
    for (const char* name : {"eacute", "E9", "00E9"}) {
        SCOPED_TRACE(name);
        lftest::TestDir dir;
        lftest::BookRun run = buildMarkup(dir, std::string("<H1>caf<GI name=\"") + name + "\"></H1><P>coffee</P>\n",
                                          "<GAIJIMAP unicode=\"00E9\" ebcode=\"A121\" name=\"eacute\"/>\n");
        ASSERT_TRUE(run.result.succeeded()) << run.log();
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        auto hits = probe.search(0, lftest::EbSearchKind::Word, {"caf"});
        ASSERT_EQ(hits.size(), 1u);
        // The heading's bytes: "caf" and the narrow gaiji A121.
        std::vector<unsigned char> heading = probe.readText(0, hits[0].headingBlock, hits[0].headingOffset, 64);
        EXPECT_TRUE(hasCodes(heading, {0x2363, 0x2361, 0x2366, 0xA121})) << probe.readHeading(0, hits[0].headingBlock,
                                                                                            hits[0].headingOffset);
        EXPECT_FALSE(hasCodes(heading, {0x2326})) << "a reference's \"&\" in the heading";
        Position menu;
        ASSERT_TRUE(probe.menu(0, &menu.block, &menu.offset)) << probe.error();
        std::vector<unsigned char> page = probe.readText(0, menu.block, menu.offset, 256);
        EXPECT_TRUE(hasCodes(page, {0x1F43, 0x2363, 0x2361, 0x2366, 0xA121, 0x1F63}));
    }
}

}  // namespace

namespace {

// The options of the markup reader that change an entry's text.
TEST(MarkupBook, OptionsShapeTheEntryText) {
    const struct {
        const char* name;
        std::function<void(CEPWing&)> set;
        const char* markup;
        const char* shows;  // the rendered text of the entry "word" starts so
    } cases[] = {
        {"no link mark", nullptr, "<DL><DT>word</DT><DD>see <REF idref=\"k\">next</REF></DD></DL>", "word\nsee next"},
        {"the arrow", [](CEPWing& w) { w.setIntOption("linkChar", 1); },
         "<DL><DT>word</DT><DD>see <REF idref=\"k\">next</REF></DD></DL>", "word\nsee \x81\xa8next"},
        {"the arrowCode character", [](CEPWing& w) {
             w.setIntOption("linkChar", 2);
             w.setStringOption("arrowCode", "2223");  // a white triangle
         },
         "<DL><DT>word</DT><DD>see <REF idref=\"k\">next</REF></DD></DL>", "word\nsee \x81\xa1next"},
        {"an arrowCode that names no character", [](CEPWing& w) {
             w.setIntOption("linkChar", 2);
             w.setStringOption("arrowCode", "22");
         },
         "<DL><DT>word</DT><DD>see <REF idref=\"k\">next</REF></DD></DL>", "word\nsee \x81\xa8next"},
        {"DFN without the option", nullptr, "<DL><DT>word</DT><DD><DFN title=\"long form\">lf</DFN></DD></DL>",
         "word\nlf"},
        {"DFN with the option", [](CEPWing& w) { w.setIntOption("dfnStyle", 1); },
         "<DL><DT>word</DT><DD><DFN title=\"long form\">lf</DFN></DD></DL>", "word\nlong formlf"},
        {"HEAD then its body", nullptr, "<HEAD>word</HEAD><P>the body</P><HEAD>other</HEAD><P>more</P>",
         "word\nthe body"},
        {"HEAD on one line", [](CEPWing& w) { w.setBoolOption("singleLine", true); },
         "<HEAD>word</HEAD><P>the body</P><HEAD>other</HEAD><P>more</P>", "word the body"},
        {"NOTE on one line", [](CEPWing& w) { w.setBoolOption("singleLine", true); },
         "<HEAD>word</HEAD><P>x</P><NOTE>note</NOTE><P>the body</P><P>next line</P>",
         "word x\nnote the body\nnext line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        lftest::TestDir dir;
        lftest::writeFile(dir.file("a.html"), std::string(c.markup) + "<DL><DT id=\"k\">next</DT><DD>x</DD></DL>\n");
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.sources = {{dir.file("a.html"), "", 0}};
        r.configure = c.set;
        lftest::BookRun run = lftest::buildBook(r);
        ASSERT_TRUE(run.result.succeeded()) << run.log();
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        const Position word = hit(probe, lftest::EbSearchKind::ExactWord, "word");
        const std::string text = probe.readWholeText(0, word.block, word.offset, 256);
        EXPECT_EQ(text.compare(0, std::strlen(c.shows), c.shows), 0) << text;
    }
}

}  // namespace

namespace {

// A dictionary in hand-written markup that uses every element the reader
// knows, read back through the EB Library: every heading is a headword,
// the KEY elements feed their searches, and every reference leads to the
// text it names.
TEST(MarkupBook, EveryElementReadsBack) {
    lftest::TestDir dir;
    const std::string markup =
        "<TITLE>Every element</TITLE>\n<BODY>\n<FRONT><P>Front matter.</P></FRONT>\n"
        "<H1 id=\"h1\">Chapter one</H1>\n<H2>Section two</H2>\n<H3>Sub three</H3>\n<H4>Four</H4>\n<H5>Five</H5>\n"
        "<H6>Six</H6>\n"
        "<HEAD id=\"hd\">Headed entry</HEAD><P>Body with <B>bold</B>, <STRONG>strong</STRONG>, <I>italic</I>, "
        "<EM>em</EM>, H<SUB>2</SUB>O, x<SUP>2</SUP>, <NOBR>no break</NOBR>, <RUBY>\x8a\xbf<RT>\x82\xa9\x82\xf1</RT>"
        "</RUBY>, <DFN title=\"long\">dfn</DFN>.<BR>After a break.</P>\n"
        "<MEANING>A meaning.</MEANING><EXAMPLE>An example.</EXAMPLE><MEANING-HEAD>Meaning head.</MEANING-HEAD>\n"
        "<DL><DT id=\"apple\">apple</DT><KEY type=\"kana\">\x82\xe8\x82\xf1\x82\xb2</KEY>"
        "<KEY type=\"keyword\">pome</KEY><KEY type=\"cross\">crossword</KEY><KEY type=\"hyoki\">ringo</KEY>"
        "<DD>A fruit. See <A HREF=\"#banana\">to banana</A>, <EA refid=\"1\">record one</EA>, "
        "<REF idref=\"cherry\">to cherry</REF>.</DD>\n"
        "<DT id=\"banana\">banana</DT><DD>Yellow.<UL><LI>one<LI>two</UL><OL start=\"3\"><LI>three<LI>four</OL></DD>\n"
        "<DT id=\"cherry\">cherry</DT><DD><TABLE width=\"50%\"><TR><TH>key</TH><TD width=80>value</TD></TR>"
        "</TABLE><BLOCKQUOTE>Quoted.</BLOCKQUOTE><PRE>pre  text</PRE><DIV>In a div.</DIV>"
        "<SPAN xtype=\"x\">span</SPAN></DD></DL>\n"
        "<DIC-ITEM><HEADWORD id=\"hw\">headword one</HEADWORD><SUBHEADWORD>sub head</SUBHEADWORD>"
        "<INDENT val=\"2\"><P>indented</P></DIC-ITEM>\n"
        "<NOTE>A note</NOTE><P>note body</P>\n<P><NO>1</NO><X4081>x</X4081> caf<GI name=\"eacute\"></P>\n"
        "<P><IMG src=\"fig.bmp\" alt=\"alt text\"><OBJECT data=\"s.wav\">obj</OBJECT><RES src=\"r.gif\"></P>\n"
        "<BACK><P>Back: <A HREF=\"#hw\">to headword</A>, <A HREF=\"#h1\">to chapter</A>, "
        "<A HREF=\"#hd\">to headed</A>.</P></BACK>\n</BODY>\n";
    lftest::writeFile(dir.file("every.html"), markup);
    lftest::writeFile(dir.file("map.xml"),
                      std::string("<GAIJIMAP unicode=\"00E9\" ebcode=\"A121\" name=\"eacute\"/>\n"));
    lftest::BookRecipe r;
    r.outDir = dir.file("out");
    r.indexDef = (1 << IDX_WORD_HYOKI) | (1 << IDX_WORD_KANA) | (1 << IDX_KEYWORD) | (1 << IDX_MENU) |
                 (1 << IDX_CROSS);
    r.gaijiMap = dir.file("map.xml");
    r.sources = {{dir.file("every.html"), "", 0}};
    r.configure = [](CEPWing& w) { w.setBoolOption("makeFig", false); };
    lftest::BookRun run = lftest::buildBook(r);
    ASSERT_TRUE(run.result.succeeded()) << run.log();
    EXPECT_EQ(run.log().find("Miss Match"), std::string::npos) << run.log();
    EXPECT_EQ(run.log().find("Link \""), std::string::npos) << run.log();

    lftest::EbProbe probe(dir.file("out"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    for (const char* word : {"Chapter one", "Section two", "Sub three", "Four", "Five", "Six", "Headed entry", "apple",
                             "banana", "cherry", "headword one", "sub head", "ringo"})
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::ExactWord, {word}).size(), 1u) << word;
    const Position apple = hit(probe, lftest::EbSearchKind::ExactWord, "apple");
    EXPECT_EQ(hit(probe, lftest::EbSearchKind::ExactWord, "\x82\xe8\x82\xf1\x82\xb2"), apple);
    EXPECT_EQ(hit(probe, lftest::EbSearchKind::Keyword, "pome"), apple);
    EXPECT_EQ(hit(probe, lftest::EbSearchKind::Cross, "crossword"), apple);

    // Every reference of the text leads to the text it names.
    const struct {
        const char* reference;
        const char* leadsTo;
    } links[] = {{"to banana", "banana"},         {"record one", "banana"},    {"to cherry", "cherry"},
                 {"to headword", "headword one"}, {"to chapter", "Chapter one"}, {"to headed", "Headed entry"}};
    int block = 0, offset = 0;
    ASSERT_TRUE(probe.textStart(0, &block, &offset));
    std::vector<lftest::EbReference> refs = probe.references(0, block, offset);
    ASSERT_EQ(refs.size(), sizeof links / sizeof links[0]);
    for (size_t i = 0; i < refs.size(); ++i) {
        EXPECT_EQ(refs[i].text, links[i].reference);
        const std::string there = probe.readWholeText(0, refs[i].block, refs[i].offset, 64);
        EXPECT_EQ(there.compare(0, std::strlen(links[i].leadsTo), links[i].leadsTo), 0)
            << links[i].reference << " -> " << there;
    }

    // The text of the elements.
    const std::string text = probe.readWholeText(0, block, offset);
    for (const char* part : {"Every element", "Front matter.", "bold", "no break", "After a break.", "A meaning.",
                             "Meaning head.", "A fruit.", "Yellow.", "3.three", "4.four", "key", "value", "Quoted.",
                             "pre  text", "In a div.", "span", "indented", "A note", "note body", "alt text", "obj",
                             "Back: "})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    const Position headed = hit(probe, lftest::EbSearchKind::ExactWord, "Headed entry");
    std::vector<unsigned char> raw = probe.readText(0, headed.block, headed.offset, 2048);
    EXPECT_TRUE(hasCodes(raw, {0x1FE0, 0x0003, 0x1FE1, 0x1FE0, 0x0003, 0x1FE1, 0x1FE0, 0x0001, 0x1FE1, 0x1FE0,
                               0x0003, 0x1FE1, 0x1F06, 0x1F07, 0x1F0E, 0x1F0F, 0x1F10, 0x1F11, 0x1F06, 0x1F07}));
    const Position cherry = hit(probe, lftest::EbSearchKind::ExactWord, "cherry");
    EXPECT_TRUE(hasCodes(probe.readText(0, cherry.block, cherry.offset, 2048), {0x1FE0, 0x0003, 0x1FE1}));
    // The menu holds the headings.
    Position menu;
    ASSERT_TRUE(probe.menu(0, &menu.block, &menu.offset)) << probe.error();
}

}  // namespace
