// The tagged dictionary markup reader: the book text it writes for each
// element, the headings, keys, anchors and links it registers, and how it
// reports malformed markup.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "builder/sources/CHTMLParser.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/codes/jclib.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/BookTextRender.h"
#include "tests/common/OpenBook.h"

namespace {

std::vector<std::string>& errors() {
    return lftest::capturedMessages();
}

// An open book and a memory stream to parse into.
struct MarkupRun : lftest::OpenBook {
    CBlockStream body{2, 0};
    SOURCE_INFO source;

    explicit MarkupRun(int ebType = 1) : lftest::OpenBook(ebType) { std::memset(&source, 0, sizeof source); }
    // Parses markup written to name; the rendered text.
    std::string parse(const std::string& markup, int full = 1, const std::string& name = "src.html",
                      int sourceNumber = 0) {
        std::string path = dir.file(name);
        lftest::writeFile(path, markup);
        std::snprintf(source.path, sizeof source.path, "%s", path.c_str());
        source.fileSize = static_cast<int64_t>(markup.size());
        CHTMLParser parser;
        parser.setMessageCallback(lftest::captureMessage);
        parser.parse(&book, &opt, &source, &body, full, sourceNumber);
        return lftest::renderBookText(body);
    }
};

struct TextCase {
    const char* what;
    const char* markup;
    const char* expected;  // the rendered text between 1F02 and 1F03
    int full;
    int ebType;
};

TEST(MarkupReader, ElementText) {
    const TextCase cases[] = {
        {"bold, italic and emphasis in a dictionary", "<B>b</B><I>i</I><EM>e</EM><STRONG>s</STRONG>",
         "<E0:0003>b<E1><E0:0001>i<E1><E0:0003>e<E1><E0:0003>s<E1>", 1, 1},
        {"emphasis is italic on a page", "<EM>e</EM>", "<E0:0001>e<E1>", 0, 1},
        {"no decoration in EB books", "<B>b</B><I>i</I>", "bi", 1, 0},
        {"superscript, subscript, no break", "<SUP>2</SUP><SUB>3</SUB><NOBR>n</NOBR>", "<0E>2<0F><06>3<07><10>n<11>", 1,
         1},
        {"ruby reading as subscript", "<RUBY>a<RT>b</RT></RUBY>", "a<06>b<07>", 1, 1},
        {"stray end tags write nothing", "a</B></SUP></SUB></NOBR>b", "ab", 1, 1},
        {"open spans are closed at the end", "<B><SUP>x", "<E0:0003><0E>x<E1><0F>", 1, 1},
        {"comment runs to -->", "a<!-- <B> > -->b", "ab", 1, 1},
        {"ordered list from start, bullet list", "<OL start=3><LI>a<LI>b</OL><UL><LI>c</UL>",
         "<09:0002>3[2125]a<0A>4[2125]b<0A><09:0001><09:0002>[2126]c<0A><09:0001>", 1, 1},
        {"table columns padded to their width",
         "<TABLE><TR><TD width=32>a</TD><TD>b</TD></TR><TR><TD>cc</TD><TD>d</TD></TR></TABLE>",
         "<09:0001>a   b<0A>cc  d<0A>", 1, 1},
        {"a cell past its width gets one space", "<TABLE><TR><TD width=8>abc</TD><TD>d</TD></TR></TABLE>",
         "<09:0001>abc d<0A>", 1, 1},
        {"numbers past any sane size are kept in range",
         "<OL start=99999999999><LI>a</OL><INDENT val=2147483647>b<TABLE width=2147483647%><TR><TD "
         "width=16>c</TD><TD>d</TABLE>",
         "<09:0002>100000[2125]a<0A><09:0001><09:003C>b<0A><09:0001>c d<0A>", 1, 1},
        {"key contents are no body text", "<KEY type=kana>x</KEY>y", "y", 1, 1},
        {"line break after a paragraph start is dropped", "<P><BR>a<BR>b", "<09:0001>a<0A>b", 1, 1},
        {"unknown elements are passed over", "<FOO bar=1>a</FOO>", "a", 1, 1},
        {"preformatted text keeps its lines", "<PRE>a\n  b</PRE>", "<09:0001>a<0A>  b<0A>", 1, 1},
        {"a reference with no Shift_JIS form gets a gaiji code", "&#x2422;&#66;", "[B121]B", 1, 1},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.what);
        MarkupRun run(c.ebType);
        std::string out = run.parse(c.markup, c.full);
        ASSERT_GE(out.size(), 8u);
        EXPECT_EQ(out.substr(0, 4), "<02>");
        EXPECT_EQ(out.substr(out.size() - 4), "<03>");
        EXPECT_EQ(out.substr(4, out.size() - 8), c.expected);
        EXPECT_TRUE(errors().empty()) << errors()[0];
    }
}

TEST(MarkupReader, HeadingsBecomeMenuItemsAndEntries) {
    MarkupRun run;
    run.opt.topMenu = 1;
    std::string out = run.parse(
        "<H1>Fruit</H1><P>about</P><H2 id=ap>Apple</H2><P>red</P>"
        "<H2 noindex=1>Hidden</H2><H1 title=\"<B>Veg</B>\">ignored</H1>",
        1, "food.html");
    EXPECT_NE(out.find("<09:0001><41:0160>Fruit<61>"), std::string::npos) << out;
    const auto& menu = run.book.menuEntries();
    ASSERT_EQ(menu.size(), 4u);
    const char* texts[] = {"food", "Fruit", "Apple", "Veg"};
    const int levels[] = {0, 1, 2, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::string(menu[i].text, menu[i].textLen), texts[i]);
        EXPECT_EQ(menu[i].level, levels[i]);
    }
    EXPECT_EQ(menu[0].firstChild, 1u);
    EXPECT_EQ(menu[1].firstChild, 2u);
    EXPECT_EQ(menu[1].nextSibling, 3u);
    // The anchor of the H2 lies at the heading's text, as its entry does.
    ASSERT_EQ(run.book.anchors().size(), 1u);
    bool found = false;
    for (const SEARCH_KEY_ENTRY& e : run.book.entries())
        if (std::string(e.heading, e.headingLen) == "Apple") {
            found = true;
            EXPECT_EQ(e.bodyPos, CEBBook::positionValue(menu[2].target));
        }
    EXPECT_TRUE(found);
    for (const SEARCH_KEY_ENTRY& e : run.book.entries()) EXPECT_NE(std::string(e.heading, e.headingLen), "Hidden");
}

TEST(MarkupReader, DefinitionTermsAreEntriesAndRecords) {
    MarkupRun run;
    run.parse("<DL><DT id=a>alpha</DT><DD>first</DD><DT>beta<DD>second</DL>");
    EXPECT_EQ(run.book.recordNumberCount(), 2u);
    std::vector<std::string> headings;
    for (const SEARCH_KEY_ENTRY& e : run.book.entries())
        if (!(e.flags & (ENTRY_KEYWORD | ENTRY_CROSS))) headings.push_back(std::string(e.heading, e.headingLen));
    EXPECT_EQ(headings, (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_TRUE(errors().empty()) << errors()[0];
}

TEST(MarkupReader, KeysFeedTheirIndexes) {
    MarkupRun run;
    run.parse(
        "<H1>Apple</H1><KEY type=hyoki>ringo</KEY><KEY type=kana>\x82\xe8\x82\xf1\x82\xb2</KEY>"
        "<KEY type=keyword>fruit</KEY><KEY type=cross>pome</KEY><KEY type=complex>zzz</KEY>"
        "<KEY type=\"\x8c\xa9\x8f\x6f\x82\xb5\" title=T>word</KEY>");
    int words = 0, keywords = 0, cross = 0;
    for (const SEARCH_KEY_ENTRY& e : run.book.entries()) {
        std::string h(e.heading, e.headingLen);
        if (e.flags & ENTRY_KEYWORD) {
            ++keywords;
            EXPECT_EQ(h, "Apple");
        } else if (e.flags & ENTRY_CROSS) {
            if (std::string(e.key ? e.key : "", e.keyLen).find("POME") != std::string::npos || h == "Apple") ++cross;
        } else {
            ++words;
        }
    }
    EXPECT_GE(words, 3);  // Apple, ringo, word
    EXPECT_EQ(keywords, 1);
    EXPECT_GE(cross, 1);
    ASSERT_FALSE(run.book.kanaEntries().empty());
    EXPECT_EQ(std::string(run.book.kanaEntries()[0].heading, run.book.kanaEntries()[0].headingLen), "Apple");
    bool titled = false;
    for (const SEARCH_KEY_ENTRY& e : run.book.entries()) titled |= std::string(e.heading, e.headingLen) == "T";
    EXPECT_TRUE(titled);
}

TEST(MarkupReader, LinksAreWrittenAsReferences) {
    struct Case {
        const char* what;
        const char* markup;
        int kind;            // expected link kind, -1 for no link
        const char* target;  // anchor part
        bool reference;      // 1F42 written
    };
    const Case cases[] = {
        {"anchor link", "<A HREF=\"#x\">t</A>", LINK_ANCHOR, "x", true},
        {"unquoted name and href both kept", "<A NAME=n HREF=y>t</A>", LINK_ANCHOR, "y", true},
        {"file and anchor", "<A HREF=\"b.html#x\">t</A>", LINK_ANCHOR, "x", true},
        {"record number", "<EA refid=\"4\">t</EA>", LINK_RECORD, "4", true},
        {"REF by idref", "<REF idref=\"k\">t</REF>", LINK_ANCHOR, "k", true},
        {"web link is text", "<A HREF=\"http://x.org/\">t</A>", -1, "", false},
        {"mail link is text", "<A HREF=\"MAILTO:a@b\">t</A>", -1, "", false},
        {"media link is text until media areas exist", "<A HREF=\"s.WAV\">t</A>", -1, "", false},
        {"anchor only", "<A NAME=n>t</A>", -1, "", false},
        {"link inside a link is text", "<A HREF=\"#a\"><A HREF=\"#b\">t</A></A>", LINK_ANCHOR, "a", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MarkupRun run;
        std::string out = run.parse(c.markup);
        EXPECT_EQ(out.find("<42>") != std::string::npos, c.reference) << out;
        if (c.kind < 0) {
            EXPECT_EQ(run.book.links().size(), 0u);
            continue;
        }
        ASSERT_EQ(run.book.links().size(), 1u);
        const LINK_ENTRY& l = run.book.links()[0];
        EXPECT_EQ(l.kind, c.kind);
        EXPECT_EQ(std::string(l.target, l.targetLen), c.target);
        // Until resolved the placeholder names the start of the source.
        EXPECT_NE(out.find("<42>t<62:00000002:0000>"), std::string::npos) << out;
        EXPECT_EQ(l.site.block, 2u);
    }
}

TEST(MarkupReader, Utf8Declarations) {
    const std::string nihon = "\xe6\x97\xa5\xe6\x9c\xac";  // two kanji in UTF-8
    struct Case {
        const char* what;
        std::string markup;
        bool utf8;
    };
    const Case cases[] = {
        {"meta charset", "<META charset=\"UTF-8\">" + nihon, true},
        {"meta content", "<META http-equiv=x content=\"text/html; charset=utf-8\">" + nihon, true},
        {"xml declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + nihon, true},
        {"another charset switches it off", "<META charset=utf-8><META charset=Shift_JIS>\x93\xfa\x96\x7b", false},
        {"Shift_JIS by default", "\x93\xfa\x96\x7b", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MarkupRun run;
        std::string out = run.parse(c.markup);
        EXPECT_EQ(out, "<02>[467C][4B5C]<03>");
    }
}

TEST(MarkupReader, LongTextRunsAreConvertedWhole) {
    // 30,000 three-byte characters: a run of 90,000 bytes read as two
    // tokens and converted in chunks, nothing lost.
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "\xe3\x81\x82";  // hiragana a
    MarkupRun run;
    std::string out = run.parse("<META charset=utf-8>" + text);
    size_t count = 0;
    for (size_t p = out.find("[2422]"); p != std::string::npos; p = out.find("[2422]", p + 1)) ++count;
    EXPECT_EQ(count, 30000u);
}

TEST(MarkupReader, LongHeadingIsReportedAndStillIndexed) {
    MarkupRun run;
    std::string title(300, 'a');
    run.parse("<H1>" + title + "</H1>");
    ASSERT_FALSE(errors().empty());
    EXPECT_NE(errors()[0].find("title too long"), std::string::npos);
    ASSERT_FALSE(run.book.entries().empty());
    EXPECT_EQ(run.book.entries()[0].headingLen, 255);
    EXPECT_EQ(run.book.menuEntries().size(), 1u);
}

TEST(MarkupReader, MalformedMarkupReportsTheFirstErrorAndGoesOn) {
    struct Case {
        const char* what;
        std::string markup;
        const char* message;
        int line;
    };
    std::string deep;
    for (int i = 0; i < 51; ++i) deep += "<UL>";
    const Case cases[] = {
        {"heading end without its start", "<P>a</H2>", "<H2></H2> Miss Match!!", 1},
        {"stray list end on line 3", "a\n\n</UL>", "<UL></UL> Miss Match!!", 3},
        {"list item outside a list", "<LI>x", "<UL></UL><OL></OL> Miss Match!!", 1},
        {"nested key", "<KEY type=kana>a<KEY>", "<KEY> Miss Match!!", 1},
        {"key end without key", "</KEY>", "<KEY> Miss Match!!", 1},
        {"lists nested past the limit", deep + "x", "List nesting too deep", 1},
        {"unclosed elements and a NUL byte", std::string("<H1>a<B>b\0c", 11) + "</P>", "<P></P> Miss Match!!", 1},
        {"DD end without DD", "</DD>", "<DD></DD> Miss Match!!", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MarkupRun run;
        std::string out = run.parse(c.markup + "<P>after</P>");
        ASSERT_EQ(errors().size(), 1u);  // only the first error
        char head[128];
        std::snprintf(head, sizeof head, "(Line=%d) : %s\n\n", c.line, c.message);
        EXPECT_NE(errors()[0].find(head), std::string::npos) << errors()[0];
        EXPECT_NE(errors()[0].find(" Error in "), std::string::npos);
        EXPECT_NE(out.find("after"), std::string::npos) << out;
        EXPECT_EQ(out.substr(out.size() - 4), "<03>");
    }
}

TEST(MarkupReader, ErrorContextIsUtf8) {
    struct Case {
        const char* what;
        std::string markup;
        const char* expectedContext;
    };
    const Case cases[] = {
        {"Shift_JIS source", "</H1 title=\"\x93\xfa\">", "</H1 title=\"\xe6\x97\xa5\">"},
        {"invalid UTF-8 in a UTF-8 source", "<META charset=utf-8></H1 x=\"\xff\xfe\">", nullptr},
        {"long context cut at 128 bytes", "</H1 " + std::string(200, 'x') + ">", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MarkupRun run;
        run.parse(c.markup);
        ASSERT_EQ(errors().size(), 1u);
        const std::string& e = errors()[0];
        EXPECT_TRUE(isUtf8Text(e.data(), static_cast<int>(e.size()))) << e;
        size_t context = e.find("\n\n") + 2;
        EXPECT_LE(e.size() - context, 128u);
        if (c.expectedContext) {
            EXPECT_EQ(e.substr(context), c.expectedContext);
        }
    }
}

TEST(MarkupReader, HeadingLevelsAndWords) {
    const int codes[][2] = {{TAG_H1, 1}, {TAG_H2, 2}, {TAG_H4, 4}, {TAG_H6, 6}, {TAG_P, 1}, {TAG_H2_END, 1}};
    for (const auto& c : codes) EXPECT_EQ(headingLevel(c[0]), c[1]) << c[0];
    const struct {
        const char* word;
        int level;
    } words[] = {
        {"\x91\xe5\x8c\xa9\x8f\x6f\x82\xb5", 1},
        {"\x95\x94", 1},
        {"\x92\x86\x8c\xa9\x8f\x6f\x82\xb5", 2},
        {"\x8f\xcd", 2},
        {"\x90\xdf", 2},
        {"\x8f\xac\x8c\xa9\x8f\x6f\x82\xb5", 3},
        {"\x8c\xa9\x8f\x6f\x82\xb5"
         "1",
         4},
        {"\x8c\xa9\x8f\x6f\x82\xb5\x82\x52", 6},
        {"\x8c\xa9\x8f\x6f\x82\xb5"
         "7",
         -1},
        {"other", -1},
    };
    for (const auto& w : words) EXPECT_EQ(headingWordLevel(w.word, static_cast<int>(std::strlen(w.word))), w.level);
}

TEST(MarkupReader, StripTagsAndAbsolutePaths) {
    const struct {
        const char* in;
        const char* out;
    } strips[] = {{"a<b>c</b>d", "acd"}, {"x\r\ny", "xy"}, {"a < b", "a < b"}, {"<unclosed", "<unclosed"}};
    for (const auto& s : strips) {
        char out[64];
        int n = stripTags(out, s.in, static_cast<int>(std::strlen(s.in)));
        EXPECT_EQ(std::string(out, n), s.out);
    }
    const struct {
        const char* path;
        bool absolute;
    } paths[] = {{"/usr/x.png", true}, {"\\\\host\\x", true}, {"C:/x", true}, {"c:\\x", true},
                 {"x.png", false},     {"dir/x.png", false},  {"C:x", false}, {"", false}};
    for (const auto& p : paths) EXPECT_EQ(isAbsolutePath(p.path), p.absolute) << p.path;
}

TEST(MarkupReader, NumericReferencesWithoutShiftJisGetGaiji) {
    MarkupRun run;
    CGaiji* g = run.book.getGaiji();
    ASSERT_NE(g, nullptr);
    // U+00E9 has no Shift_JIS form; hiragana a has one; malformed
    // references are passed over.
    CHTMLParser::reserveGaiji(g, "&#xE9;&#233;&#x3042;&#;&#xZZ;", 30);
    uint32_t code = 0;
    const char* alt = nullptr;
    g->lookupUnicode(0xE9, &code, &alt, 0);
    EXPECT_NE(code, 0u);
    code = 0;
    g->lookupUnicode(0x3042, &code, &alt, 0);
    EXPECT_EQ(code, 0u);
}

}  // namespace
