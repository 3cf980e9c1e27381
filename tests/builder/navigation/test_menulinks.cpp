// The menu tree, anchors, links and record numbers of the book writer: how
// items are linked by level and written as pages, and where each link's
// placeholder points after resolving.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "foundation/book/CBlockStream.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/BookTextRender.h"
#include "tests/common/OpenBook.h"

namespace {

std::vector<std::string>& messages() {
    return lftest::capturedMessages();
}

// An open book whose menu items target block 100 + their index.
struct OpenBook : lftest::OpenBook {
    void source(const std::string& name) { ASSERT_TRUE(addSource(name)) << name; }
    int item(int level, const char* text) {
        BLOCK_POS p{static_cast<uint32_t>(100 + book.menuItemCount()), 0};
        return book.addMenuItem(level, p, text, static_cast<int>(std::strlen(text)), nullptr, 0);
    }
};

TEST(MenuTree, LevelsLinkItems) {
    struct Link {
        uint32_t child, next;
    };
    struct Case {
        const char* what;
        std::vector<int> levels;
        std::vector<Link> links;  // per item: first child, next sibling
    };
    const Case cases[] = {
        {"siblings under a parent", {0, 1, 1, 0}, {{1, 3}, {0, 2}, {0, 0}, {0, 0}}},
        {"a skipped level attaches to the nearest shallower item", {0, 2, 1}, {{1, 0}, {0, 2}, {0, 0}}},
        {"a deeper first item", {1, 0}, {{0, 1}, {0, 0}}},
        {"back to the top and down again", {0, 1, 2, 0, 1}, {{1, 3}, {2, 0}, {0, 0}, {4, 0}, {0, 0}}},
        {"a skip back past two levels", {0, 1, 3, 2, 0}, {{1, 4}, {2, 0}, {0, 3}, {0, 0}, {0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenBook b;
        for (size_t i = 0; i < c.levels.size(); ++i) EXPECT_EQ(b.item(c.levels[i], "t"), static_cast<int>(i));
        const auto& m = b.book.menuEntries();
        ASSERT_EQ(m.size(), c.links.size());
        for (size_t i = 0; i < m.size(); ++i) {
            EXPECT_EQ(m[i].firstChild, c.links[i].child) << "item " << i;
            EXPECT_EQ(m[i].nextSibling, c.links[i].next) << "item " << i;
        }
    }
}

TEST(MenuTree, BlankTextsAddNothing) {
    OpenBook b;
    EXPECT_EQ(b.item(0, "a"), 0);
    for (const char* blank : {"", " \t", "\x81\x40\x81\x40", " \x81\x40\r\n"}) EXPECT_EQ(b.item(1, blank), 0);
    EXPECT_EQ(b.item(1, " b "), 1);
    EXPECT_EQ(std::string(b.book.menuEntries()[1].text, b.book.menuEntries()[1].textLen), " b ");
}

TEST(MenuTree, FiftyLevelsFitAndTheNextThrows) {
    OpenBook b;
    for (int level = 0; level < 50; ++level) b.item(level, "x");
    try {
        b.item(50, "x");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Stack Overflow(Menu)");
    }
}

TEST(MenuTree, NewBookStartsWithAnEmptyStack) {
    OpenBook b;
    b.item(0, "a");
    b.item(1, "b");
    b.item(2, "c");
    b.reopen();
    EXPECT_EQ(b.book.menuItemCount(), 0);
    EXPECT_EQ(b.item(1, "d"), 0);
    EXPECT_EQ(b.item(0, "e"), 1);
    EXPECT_EQ(b.book.menuEntries()[0].nextSibling, 1u);
    EXPECT_EQ(b.book.menuEntries()[0].firstChild, 0u);
}

TEST(MenuTree, PagesReferToSubmenusAndText) {
    OpenBook b;
    b.item(0, "A");  // target 100:0
    b.item(1, "B");  // 101:0
    b.item(0, "C");  // 102:0
    CBlockStream s(10, 0);
    b.book.writeMenu(&s);
    // Page 1 at 10:0 (two lines of 18 bytes), then B's page at 10:40.
    const std::string page1 = "<02><43>A<63:00000010:0040><0A><43>C<63:00000102:0000><0A><03>";
    const std::string page2 = "<02><43>B<63:00000101:0000><0A><03>";
    EXPECT_EQ(lftest::renderBookText(s), page1 + page2);
}

TEST(MenuTree, SingleLevelMenuIsOnePage) {
    OpenBook b;
    b.item(0, "A");
    b.item(0, "B");
    CBlockStream s(3, 0);
    b.book.writeMenu(&s);
    EXPECT_EQ(lftest::renderBookText(s), "<02><43>A<63:00000100:0000><0A><43>B<63:00000101:0000><0A><03>");
}

TEST(Anchors, FirstOfANameWins) {
    OpenBook b;
    BLOCK_POS p1{5, 0}, p2{6, 0};
    EXPECT_EQ(b.book.addAnchor("x", 1, &p1, 0), 1);
    EXPECT_EQ(b.book.addAnchor("x", 1, &p2, 0), 0);
    EXPECT_EQ(b.book.addAnchor("X", 1, &p2, 0), 1);
    EXPECT_EQ(b.book.addAnchor("", 0, &p2, 0), 0);
    EXPECT_EQ(b.book.anchorCount(), 2);
    b.book.clearAnchorNames();
    EXPECT_EQ(b.book.addAnchor("x", 1, &p2, 1), 1);
    EXPECT_EQ(b.book.anchorCount(), 3);
}

TEST(Anchors, OrderIgnoresAsciiCaseButNotSecondBytes) {
    struct Case {
        int sa;
        const char* a;
        int sb;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {0, "apple", 0, "APPLE", 0},       {0, "apple", 0, "apples", -1}, {1, "a", 0, "z", 1}, {0, "b", 0, "a", 1},
        {0, "\x83\x61", 0, "\x83\x41", 1},  // two katakana
        {0, "\x83\x41", 0, "\x83\x41", 0},
    };
    for (const Case& c : cases) {
        int r = CEBBook::compareAnchors(c.sa, c.a, static_cast<int>(std::strlen(c.a)), c.sb, c.b,
                                        static_cast<int>(std::strlen(c.b)));
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " / " << c.b;
    }
}

// Position written in a placeholder, as block:offset; "" when it still holds
// the sentinel.
std::string placeholderAt(CBlockStream& body, const BLOCK_POS& site) {
    body.seek(site);
    int64_t block = body.readBcd(4);
    int64_t offset = body.readBcd(2);
    if (block == 99999999) return "";
    return std::to_string(block) + ":" + std::to_string(offset);
}

TEST(Links, ResolveToTheirAnchors) {
    OpenBook b;
    for (const char* name : {"a.html", "b.html", "OTHER.HTM", "chapter10.html", "chapter1.html", "chapter1.xml"})
        b.source(name);
    struct Anchor {
        int source;
        std::string name;
        uint32_t block;
    };
    const std::string longName(300, 'L');
    const Anchor anchors[] = {{0, "apples", 11}, {0, "beta", 12}, {1, "x", 13},      {2, "x", 14},    {3, "x", 15},
                              {4, "x", 16},      {5, "x", 17},    {0, longName, 18}, {0, "Same", 19}, {0, "same", 20}};
    int last = -1;
    for (const Anchor& a : anchors) {
        // The name set is emptied per source, as the build does.
        if (a.source != last) b.book.clearAnchorNames();
        last = a.source;
        BLOCK_POS p{a.block, 2};
        b.book.addAnchor(a.name.data(), static_cast<int>(a.name.size()), &p, a.source);
    }
    // Records: 0 and 1 are followed by entries, 2 by none.
    BLOCK_POS r0{30, 4}, r1{31, 6};
    b.book.addIdEntry();
    b.book.addWordEntry("w0", 2, "w0", 2, r0, 0, 0, ENTRY_PREFIX);
    b.book.addIdEntry();
    b.book.addWordEntry("w1", 2, "w1", 2, r1, 0, 0, ENTRY_PREFIX);
    b.book.addIdEntry();

    struct Case {
        const char* what;
        int from;
        std::string target;
        int kind;
        const char* expected;  // "" for unresolved
        bool logged;           // named in the build log
    };
    const Case cases[] = {
        {"exact anchor", 0, "apples", LINK_ANCHOR, "11:2", false},
        {"no anchor of the name: unresolved, not the next name", 0, "apple", LINK_ANCHOR, "", true},
        {"own source by #", 0, "#beta", LINK_ANCHOR, "12:2", false},
        {"past the last name of a source: unresolved, not the next source", 0, "zzz", LINK_ANCHOR, "", true},
        {"past every anchor: unresolved", 5, "zzz", LINK_ANCHOR, "", true},
        {"file part ignores case", 0, "other.htm#x", LINK_ANCHOR, "14:2", false},
        {"file part by stem", 0, "chapter10#x", LINK_ANCHOR, "15:2", false},
        {"a stem is not a prefix: last of the whole stems", 0, "chapter1#x", LINK_ANCHOR, "17:2", false},
        {"whole file name", 0, "chapter1.html#x", LINK_ANCHOR, "16:2", false},
        {"unknown file keeps the link's source", 1, "nofile.html#x", LINK_ANCHOR, "13:2", false},
        {"long names cut alike", 0, longName + "tail", LINK_ANCHOR, "18:2", false},
        {"same bytes win among names equal but for case", 0, "same", LINK_ANCHOR, "20:2", false},
        {"record 0", 0, "0", LINK_RECORD, "30:4", false},
        {"record 1", 0, "1 ", LINK_RECORD, "31:6", false},
        {"record with no entry after it", 0, "2", LINK_RECORD, "", true},
        {"record past the table", 0, "3", LINK_RECORD, "", true},
        {"negative record", 0, "-1", LINK_RECORD, "", true},
    };
    CBlockStream body(2, 0);
    std::vector<BLOCK_POS> sites;
    for (const Case& c : cases) {
        body.writeCode(0x1F62);
        BLOCK_POS site;
        body.tell(&site);
        body.writeBcd(99999999, 4);
        body.writeBcd(9999, 2);
        sites.push_back(site);
        std::string copy = c.target;
        b.book.addLink(&copy[0], static_cast<int>(copy.size()), &site, c.from, c.kind);
        copy.assign(copy.size(), '?');  // the book keeps its own copy
    }
    b.book.resolveLinks(&body);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(placeholderAt(body, sites[i]), c.expected);
        std::string shown = c.target.substr(0, 20);
        bool logged = false;
        for (const std::string& m : messages()) logged |= m.find("Link \"" + shown) == 0;
        EXPECT_EQ(logged, c.logged);
    }
    bool named = false;
    for (const std::string& m : messages()) named |= m == "Link \"apple\" in a.html: no anchor\r\n";
    EXPECT_TRUE(named);
}

TEST(Links, LogNamesTwentyAndCountsTheRest) {
    OpenBook b;
    b.source("a.html");
    CBlockStream body(2, 0);
    for (int i = 0; i < 25; ++i) {
        BLOCK_POS site;
        body.tell(&site);
        body.writeBcd(0, 6);
        std::string t = "missing" + std::to_string(i);
        b.book.addLink(t.data(), static_cast<int>(t.size()), &site, 0, LINK_ANCHOR);
    }
    b.book.resolveLinks(&body);
    ASSERT_EQ(messages().size(), 21u);
    EXPECT_EQ(messages()[0], "Link \"missing0\" in a.html: no anchor\r\n");
    EXPECT_EQ(messages()[20], "... and 5 more links without an exact anchor\r\n");
}

}  // namespace
