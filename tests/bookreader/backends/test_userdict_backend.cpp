// The user-dictionary back end of the book reader: opening as kind 5 with a
// DSL body file (UTF-16, UTF-8, dictzip), escaping and DSL markup, entries
// with phonetics, levels and links, hits of two dictionaries in one item
// list, the guarded-buffer sweep, and body bytes against the dictzip tool.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bookreader/backends/CUserDictBackend.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "tests/bookreader/backends/GuardedBuffer.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

struct Entry {
    const char* headword;
    const char* meaning;
    const char* phonetic;
    int level;
};

// A user dictionary at path with the entries; their ids in order.
std::vector<int64_t> makeDictionary(const std::string& path, int contentType, const std::vector<Entry>& entries,
                                    const char* bodyName = "", int64_t bookno = 0) {
    USERDICT_INFO info;
    memset(&info, 0, sizeof info);
    snprintf(info.booktitle, sizeof info.booktitle, "test");
    snprintf(info.filename, sizeof info.filename, "%s", bodyName);
    info.contenttype = contentType;
    info.bookno = bookno;
    CSQLIO d;
    EXPECT_EQ(0, d.create(path.c_str(), &info));
    EXPECT_EQ(0, d.open(path.c_str()));
    std::vector<int64_t> ids;
    for (const Entry& e : entries) {
        int64_t id = 0;
        EXPECT_EQ(0, d.addEntry(e.headword, e.meaning, e.phonetic, "", "", "", "", e.level, 1, &id));
        ids.push_back(id);
    }
    d.close();
    return ids;
}

std::string dsl(const std::string& in, const char* headword = "") {
    std::vector<char> out(1 << 16);
    uint32_t n = CUserDictBackend::convertDslMarkup(out.data(), static_cast<uint32_t>(out.size()), 0, in.data(),
                                                    in.size(), headword);
    return std::string(out.data(), n);
}

std::string byId(CEBReader& r, int64_t id, bool phonetic = true) {
    std::vector<char> out(4096);
    uint32_t length = 0;
    int n = r.userDict()->renderEntryById(id, out.data(), static_cast<uint32_t>(out.size()), &length, phonetic);
    EXPECT_EQ(static_cast<uint32_t>(n), length);
    return std::string(out.data(), length);
}

std::string utf16le(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

const char kLevel[] = "\xE3\x80\x90\xE3\x83\xAC\xE3\x83\x99\xE3\x83\xAB\xE3\x80\x91";

}  // namespace

TEST(UserDictBackend, DslMarkup) {
    struct Case {
        const char* name;
        const char* in;
        const char* out;
    } cases[] = {
        {"styles", "[b]B[/b][I]i[/i][u]u[/u][sub]1[/sub][sup]2[/sup]",
         "<B>B</B><I>i</I><U>u</U><SUB>1</SUB><SUP>2</SUP>"},
        {"margin with digit", "[m2]x[/m]\ny", "<div class=\"i3\">x</div>\r\ny"},
        {"margin without digits", "[m]x", "<div class=\"i1\">x</div>\r\n"},
        {"second margin closes the first", "[m1]a[m2]b[/m]",
         "<div class=\"i2\">a</div>\r\n<div class=\"i3\">b</div>\r\n"},
        {"image in capitals", "[s]PIC.PNG[/s]", "<IMG SRC=\"PIC.PNG\"/>"},
        {"sound", "[s]a.wav[/s]", "<A HREF=\"a.wav\">&#x266A;</a>"},
        {"reference", "see [ref dict=\"x\"]word[/ref]", "see <A HREF=\"#word\">word</a>"},
        {"reference with a quote", "[ref]a\"b&c[/ref]", "<A HREF=\"#a&quot;b&amp;c\">a\"b&amp;c</a>"},
        {"colour", "[c red]t[/c]", "<font color=\"red\">t</font>"},
        {"colour value escaped", "[c \"><x]t[/c]", "<font color=\"&quot;&gt;&lt;x\">t</font>"},
        {"comment, @, TAB, escape", "a{{note}}b@\tc\\[d\\]", "ab c[d]"},
        {"entities and CR", "<&>\r", "&lt;&amp;&gt;<br/>\r\n"},
        {"examples and other tags", "[p]n[/p][ex]e[/ex][lang id=1]t[/lang]",
         "<I><font color=\"green\">n</font></I><font color=\"gray\">e</font>t"},
        {"unclosed name comes out as text", "[s]a<b", "a&lt;b"},
        // As real DSL files are written:
        {"a [ without ] on its line is text", "one [ two\nthree [b]bold[/b]", "one [ two\nthree <B>bold</B>"},
        {"and at the end of the card", "x [y", "x [y"},
        {"a bare [c] opens the default colour", "[c red]a [c]b[/c] c[/c]",
         "<font color=\"red\">a <font color=\"green\">b</font> c</font>"},
        {"<<word>> is a reference", "see <<word>>.", "see <A HREF=\"#word\">word</a>."},
        {"<< without >> on its line is text", "a << b\n>>", "a &lt;&lt; b\n&gt;&gt;"},
        {"~ stands for the headword", "~ness, [ref]~s[/ref], \\~", "goodness, <A HREF=\"#goods\">goods</a>, ~"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dsl(c.in, "good"), c.out);
    }
}

TEST(UserDictBackend, EscapeText) {
    struct Case {
        const char* in;
        bool drop, tagsPass;
        const char* out;
    } cases[] = {
        {"a<b>&c", false, false, "a&lt;b&gt;&amp;c"},
        {"<b>x</b>\r\n", true, true, "<b>x</b>"},
        {"go http://x.y/z now", false, false, "go <URL>http://x.y/z</URL> now"},
        {"file:/a", false, false, "<URL>file:/a</URL>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        char out[128];
        uint32_t n = CUserDictBackend::escapeText(out, sizeof out, 0, c.in, strlen(c.in), c.drop, c.tagsPass);
        EXPECT_EQ(std::string(out, n), c.out);
    }
}

TEST(UserDictBackend, EntriesByContentType) {
    TestDir dir;
    const std::vector<Entry> entries = {{"a<b", "line1\nline2 <i>x</i>", "f&n", 2}, {"", "m", "", 0}};
    struct Case {
        int type;
        const char* meaning;
    } cases[] = {{0, "line1\nline2 <i>x</i>"}, {1, "line1line2 <i>x</i>"}, {3, "line1\nline2 &lt;i&gt;x&lt;/i&gt;"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const std::string path = dir.file("t" + std::to_string(c.type) + ".lfd");
        std::vector<int64_t> ids = makeDictionary(path, c.type, entries);
        CEBReader r;
        ASSERT_EQ(r.openUserDictionary(path.c_str()), 1);
        EXPECT_EQ(r.kind(), BOOK_KIND_USER_DICT);
        EXPECT_EQ(byId(r, ids[0]), "<INDENT=01><HEAD>a&lt;b</HEAD><ID id=\"" + std::to_string(ids[0]) +
                                       "\">  </ID>\r<INDENT=02>/<PHO>f&amp;n</PHO>/\r<BR>" + c.meaning + "\r<BR>" +
                                       kLevel + "2\r<BR>");
        // An empty headword still closes its head; level 0 has no level line.
        EXPECT_EQ(byId(r, ids[1], false), "<INDENT=01><HEAD></HEAD><INDENT=02>m\r<BR>");
    }
}

TEST(UserDictBackend, LinksUntilTheyNoLongerFit) {
    TestDir dir;
    const std::string path = dir.file("l.lfd");
    std::vector<int64_t> ids =
        makeDictionary(path, 0, {{"to", "m", "", 0}, {"from1", "x", "", 0}, {"from2", "y", "", 0}});
    {
        CSQLIO d;
        ASSERT_EQ(0, d.open(path.c_str()));
        ASSERT_EQ(0, d.addLink(ids[1], static_cast<int>(ids[1]), ids[0], 1, "first <link>"));
        ASSERT_EQ(0, d.addLink(ids[2], static_cast<int>(ids[2]), ids[0], 2, std::string(40, 'c').c_str()));
    }
    CEBReader r;
    ASSERT_EQ(r.openUserDictionary(path.c_str()), 1);
    const std::string head =
        "<INDENT=01><HEAD>to</HEAD><ID id=\"" + std::to_string(ids[0]) + "\">  </ID>\r<INDENT=02>m\r<BR>";
    const std::string link1 =
        "\xE3\x80\x80<A href=\"$row(" + std::to_string(ids[1]) + ")\">first &lt;link&gt;</A>\r<BR>";
    const std::string link2 =
        "\xE3\x80\x80<A href=\"$row(" + std::to_string(ids[2]) + ")\">" + std::string(40, 'c') + "</A>\r<BR>";
    EXPECT_EQ(byId(r, ids[0]), head + link1 + link2);
    // With room for the first link only, the list ends there.
    std::vector<char> out(head.size() + link1.size() + 40 + 20);
    uint32_t length = 0;
    r.userDict()->renderEntryById(ids[0], out.data(), static_cast<uint32_t>(out.size()), &length, 1);
    EXPECT_EQ(std::string(out.data(), length), head + link1);
    // The walk was finished: the next rendering lists both again.
    EXPECT_EQ(byId(r, ids[0]), head + link1 + link2);
}

TEST(UserDictBackend, DslBodyFiles) {
    TestDir dir;
    const std::string body = "[b]bold[/b] one\r[m1]two[/m]";
    const std::string locator = "[0:" + std::to_string(body.size()) + "]";
    const std::string locator16 = "[0:" + std::to_string(body.size() * 2) + "]";
    const std::string expected = "<INDENT=01><HEAD>w</HEAD><ID id=\"1\">  </ID>\r<INDENT=02>" + dsl(body) + "\r<BR>";
    ASSERT_TRUE(lftest::writeFile(dir.file("u16.dsl"), utf16le(body)));
    ASSERT_TRUE(lftest::writeFile(dir.file("u8.dsl"), body));
    ASSERT_TRUE(lftest::writeFile(dir.file("z.dsl"), body));
    ASSERT_EQ(0, lftest::runCommand("dictzip " + lftest::shellQuote(dir.file("z.dsl"))));
    ASSERT_TRUE(lftest::writeFile(dir.file("z16.dsl"), utf16le(body)));
    ASSERT_EQ(0, lftest::runCommand("dictzip " + lftest::shellQuote(dir.file("z16.dsl"))));
    struct Case {
        const char* name;
        const char* filename;
        std::string locator;
        int encoding;
        bool dictzip;
    } cases[] = {
        {"no colon: UTF-16", "u16.dsl", locator16, DSL_UTF16LE, false},
        {"colon and UTF-8 in any case", "u8.dsl:uTf-8", locator, DSL_UTF8, false},
        {"other encoding passes bytes", "u8.dsl:latin1", locator, DSL_OTHER, false},
        {"only the .dz form exists", "z.dsl:UTF-8", locator, DSL_UTF8, true},
        // UTF-16 text holds zero bytes: the read takes the locator's length.
        {"UTF-16 only in the .dz form", "z16.dsl", locator16, DSL_UTF16LE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string("d") + std::to_string(&c - cases) + ".lfd");
        makeDictionary(path, USERDICT_DSL_INDEX, {{"w", c.locator.c_str(), "", 0}}, c.filename);
        CEBReader r;
        ASSERT_EQ(r.openUserDictionary(path.c_str()), 1);
        EXPECT_EQ(r.userDict()->dslEncoding(), c.encoding);
        EXPECT_EQ(r.userDict()->hasDictzipBody(), c.dictzip);
        EXPECT_EQ(byId(r, 1), expected);
    }
    // Locators that do not parse or name no text give an empty meaning, and
    // so do ranges the body does not hold whole, plain or dictzip'ed.
    const std::string pastTheEnd = "[5:" + std::to_string(body.size()) + "]";
    const struct {
        std::string locator;
        const char* filename;
    } bad[] = {
        {"[0:0]", "u8.dsl:UTF-8"},    {"[0:64000]", "u8.dsl:UTF-8"}, {"nonsense", "u8.dsl:UTF-8"},
        {pastTheEnd, "u8.dsl:UTF-8"}, {pastTheEnd, "z.dsl:UTF-8"},   {"[9999:4]", "u8.dsl:UTF-8"},
        {"[9999:4]", "z.dsl:UTF-8"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.locator + " in " + b.filename);
        const std::string path = dir.file("bad" + std::to_string(&b - bad) + ".lfd");
        makeDictionary(path, USERDICT_DSL_INDEX, {{"w", b.locator.c_str(), "", 0}}, b.filename);
        CEBReader r;
        ASSERT_EQ(r.openUserDictionary(path.c_str()), 1);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(byId(r, 1), "<INDENT=01><HEAD>w</HEAD><ID id=\"1\">  </ID>\r<INDENT=02>\r<BR>");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the reader prints nothing";
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the reader prints nothing";
    }
    // "~" in a body stands for the card's headword.
    ASSERT_TRUE(lftest::writeFile(dir.file("tilde.dsl"), std::string("[b]~[/b]s")));
    const std::string tilde = dir.file("tilde.lfd");
    makeDictionary(tilde, USERDICT_DSL_INDEX, {{"cat", "[0:9]", "", 0}}, "tilde.dsl:UTF-8");
    CEBReader t;
    ASSERT_EQ(t.openUserDictionary(tilde.c_str()), 1);
    EXPECT_EQ(byId(t, 1), "<INDENT=01><HEAD>cat</HEAD><ID id=\"1\">  </ID>\r<INDENT=02><B>cat</B>s\r<BR>");
    // A missing body fails the open and leaves nothing attached.
    const std::string missing = dir.file("missing.lfd");
    makeDictionary(missing, USERDICT_DSL_INDEX, {{"w", "[0:1]", "", 0}}, "nothere.dsl");
    CEBReader r;
    EXPECT_EQ(r.openUserDictionary(missing.c_str()), 0);
    EXPECT_EQ(r.userDict(), nullptr);
    EXPECT_FALSE(r.isOpen());
}

TEST(UserDictBackend, DictzipBodyBytesEqualTheDictzipTool) {
    TestDir dir;
    std::string body;
    for (int i = 0; i < 6000; ++i) body += "[b]w" + std::to_string(i) + "[/b] m\r";
    ASSERT_TRUE(lftest::writeFile(dir.file("big.dsl"), body));
    ASSERT_EQ(0, lftest::runCommand("dictzip " + lftest::shellQuote(dir.file("big.dsl"))));
    const std::pair<size_t, size_t> ranges[] = {{0, 40}, {12345, 200}, {body.size() - 100, 100}, {55000, 9000}};
    ASSERT_GT(body.size(), 70000u);  // the last ranges cross chunks
    std::vector<Entry> entries;
    std::vector<std::string> locators;
    for (const auto& range : ranges)
        locators.push_back("[" + std::to_string(range.first) + ":" + std::to_string(range.second) + "]");
    for (const std::string& l : locators) entries.push_back({"w", l.c_str(), "", 0});
    const std::string path = dir.file("z.lfd");
    std::vector<int64_t> ids = makeDictionary(path, USERDICT_DSL_INDEX, entries, "big.dsl:utf-8");
    CEBReader r;
    ASSERT_EQ(r.openUserDictionary(path.c_str()), 1);
    for (size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(locators[i]);
        std::string bytes;
        ASSERT_EQ(0, lftest::runCommand("dictzip -d -c -s " + std::to_string(ranges[i].first) + " -e " +
                                            std::to_string(ranges[i].second) + " " +
                                            lftest::shellQuote(dir.file("big.dsl.dz")),
                                        &bytes));
        ASSERT_EQ(bytes.size(), ranges[i].second);
        std::vector<char> out(1 << 16);
        uint32_t length = 0;
        r.userDict()->renderEntryById(ids[i], out.data(), static_cast<uint32_t>(out.size()), &length, 0);
        const std::string head =
            "<INDENT=01><HEAD>w</HEAD><ID id=\"" + std::to_string(ids[i]) + "\">  </ID>\r<INDENT=02>";
        EXPECT_EQ(std::string(out.data(), length), head + dsl(bytes) + "\r<BR>");
    }
}

TEST(UserDictBackend, HitsOfTwoDictionariesInOneList) {
    TestDir dir;
    const std::string a = dir.file("a.lfd"), b = dir.file("b.lfd");
    makeDictionary(a, 0, {{"apple", "fruit", "", 0}, {"apricot", "fruit too", "", 0}}, "", 11);
    makeDictionary(b, 0, {{"ash", "tree", "", 0}}, "", 22);
    CEBReader ra, rb;
    ASSERT_EQ(ra.openUserDictionary(a.c_str()), 1);
    ASSERT_EQ(rb.openUserDictionary(b.c_str()), 1);
    CItemList list;
    ra.userDict()->search("ap", CSQLIO::kWholeKey, 0);
    ASSERT_EQ(ra.collectHits(&list, 0, 0), 2);
    rb.userDict()->search("ash", CSQLIO::kExact, 0);
    ASSERT_EQ(rb.collectHits(&list, list.count(), 0), 1);
    ASSERT_EQ(list.userDictHitCount(), 3);
    EXPECT_EQ(list.items()[2].textBlock, 2u);

    std::vector<char> out(4096);
    uint32_t length = 0;
    ra.userDict()->renderHits(&list, 0, out.data(), 1 << 20, 4096, &length, 0, 1);
    std::string both(out.data(), length);
    EXPECT_NE(both.find("apple"), std::string::npos);
    EXPECT_NE(both.find("fruit too"), std::string::npos);
    EXPECT_EQ(both.find("ash"), std::string::npos);
    EXPECT_EQ(ra.userDict()->renderHits(&list, 2, out.data(), 1 << 20, 4096, &length, 1, 1), 0);
    EXPECT_GT(rb.userDict()->renderHits(&list, 2, out.data(), 1 << 20, 4096, &length, 1, 1), 0);
    EXPECT_NE(std::string(out.data(), length).find("tree"), std::string::npos);
    char head[32];
    EXPECT_EQ(rb.userDict()->hitHeadword(&list, 2, head, sizeof head, &length), 3);
    EXPECT_EQ(rb.userDict()->hitHeadword(&list, 0, head, sizeof head, &length), 0);
}

TEST(UserDictBackend, GuardedBufferSweep) {
    TestDir dir;
    const std::string path = dir.file("s.lfd");
    std::vector<int64_t> ids = makeDictionary(
        path, USERDICT_DSL, {{"a&b", "[c red]x[/c] & [s]p.png[/s] [ref]w[/ref] [m1]http://x y", "p<h", 1}});
    {
        CSQLIO d;
        ASSERT_EQ(0, d.open(path.c_str()));
        ASSERT_EQ(0, d.addLink(ids[0], 7, ids[0], 1, "self & me"));
    }
    CEBReader r;
    ASSERT_EQ(r.openUserDictionary(path.c_str()), 1);
    CItemList list;
    r.userDict()->search("a&b", CSQLIO::kExact, 0);
    ASSERT_EQ(r.collectHits(&list, 0, 0), 1);
    const std::string markup = "[m2][c blue]&<>[/c][s]snd.wav[/s][ref]r\"q[/ref]{{c}}\\[x\r[/m]";
    for (uint32_t size = 1; size <= 64; ++size) {
        SCOPED_TRACE(size);
        uint32_t length = 0;
        auto sweep = [&](auto&& run) { lftest::checkGuarded<char>(size, run); };
        sweep([&](char* o) { r.userDict()->renderEntryById(ids[0], o, size, &length, 1); });
        sweep([&](char* o) { r.userDict()->renderHits(&list, 0, o, 1 << 20, size, &length, 0, 1); });
        sweep([&](char* o) { r.userDict()->hitHeadword(&list, 0, o, size, &length); });
        sweep([&](char* o) { CUserDictBackend::convertDslMarkup(o, size, 0, markup.data(), markup.size()); });
        sweep([&](char* o) { CUserDictBackend::escapeText(o, size, 0, "a&b http://x <", 14, false, false); });
        sweep([&](char* o) { r.dictionaryInformation(o, size, 1); });
    }
}
