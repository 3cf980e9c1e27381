// The PDIC back end of the book reader on small dictionaries written by the
// tests: opening as kind 4, searches into an item list, the tagged text of
// PDIC markup, rendering of hits and positions, and the guarded-buffer sweep.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bookreader/backends/CPdicBackend.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "foundation/codes/jclib.h"
#include "tests/bookreader/backends/GuardedBuffer.h"
#include "tests/common/PdicWriter.h"
#include "tests/common/TestDir.h"

using lftest::PdicBlock;
using lftest::PdicEntry;
using lftest::PdicLayout;
using lftest::PdicOptions;

namespace {

std::u32string wide(const std::string& ascii) {
    return std::u32string(ascii.begin(), ascii.end());
}

// Wide tagged text as UTF-8 for readable comparisons.
std::string utf8(const uint32_t* s, size_t n) {
    std::string out(static_cast<size_t>(wideToUtf8(s, static_cast<int>(n), nullptr)), '\0');
    wideToUtf8(s, static_cast<int>(n), &out[0]);
    return out;
}

std::string tags(const std::string& text, bool allowed, uint32_t capacity = 1024) {
    std::u32string in = wide(text);
    std::vector<uint32_t> out(capacity + 1, 0x5A);
    int n = CPdicBackend::textToTags(out.data(), capacity, reinterpret_cast<const uint32_t*>(in.data()),
                                     static_cast<int>(in.size()), allowed);
    EXPECT_EQ(out[static_cast<size_t>(n)], 0u);
    return utf8(out.data(), static_cast<size_t>(n));
}

// A PDIC file in a temporary folder.
struct PdicBook {
    explicit PdicBook(const std::vector<PdicBlock>& blocks, PdicOptions options = PdicOptions())
        : path(dir.file("test.dic")) {
        EXPECT_TRUE(lftest::writeFile(path, lftest::buildPdic(options, blocks, &layout)));
    }
    lftest::TestDir dir;
    std::string path;
    PdicLayout layout;
};

int searchInto(CEBReader& r, CItemList& list, const std::string& word, int mode) {
    std::u32string w = wide(word);
    r.pdic()->search(reinterpret_cast<const uint32_t*>(w.c_str()), mode, 100);
    return r.collectHits(&list, list.count(), 0);
}

std::string renderHits(CEBReader& r, const CItemList& list, int hit, bool single, uint32_t limit = 1 << 20,
                       bool pron = true) {
    std::vector<uint32_t> out(4096);
    uint32_t length = 99;
    int n = r.pdic()->renderHits(&list, hit, out.data(), limit, static_cast<uint32_t>(out.size() * 4), &length, single,
                                 pron);
    EXPECT_EQ(static_cast<uint32_t>(n), length);
    return utf8(out.data(), length);
}

const char* const kApple = "<INDENT=01><HEAD>Apple</HEAD><BR><INDENT=02>りんご<BR>";
const char* const kApply =
    "<INDENT=01><HEAD>apply</HEAD><BR><INDENT=02>/<PHO>əplái</PHO>/<BR>適用する<BR>apply for a job<BR>"
    "[Level]3<BR>";
const char* const kZoo = "<INDENT=01><HEAD>zoo</HEAD><BR><INDENT=02>動物園<BR>";

}  // namespace

TEST(PdicBackend, TextToTags) {
    struct Case {
        const char* name;
        const char* in;
        bool allowed;
        const char* out;
    } cases[] = {
        {"entities and TAB", "a&b<c>d\te", false, "a&amp;b&lt;c&gt;d e"},
        {"no tags: every < escaped", "<b>x</b>", false, "&lt;b&gt;x&lt;/b&gt;"},
        {"bold italic underline strike", "<b>x</b><i>y</i><u>z</u><s>w</s>", true, "<B>x</B><I>y</I><U>z</U><S>w</S>"},
        {"font colour", "<font color=\"#FF0000\">red</font>", true, "<COL=FF0000>red</COL>"},
        {"font colour without quote, lower hex", "<font size=2 color=#00ff7f>g</font>", true, "<COL=00FF7F>g</COL>"},
        {"font without colour writes none", "<font face=x>t</font>", true, "t"},
        {"black is a colour", "<font color=#000000>k</font>", true, "<COL=000000>k</COL>"},
        {"inner font without colour keeps the outer one",
         "<font color=#FF0000>a<font face=x>b</font>c</font>d", true, "<COL=FF0000>abc</COL>d"},
        {"inner colour inside an outer one", "<font color=#FF0000>a<font color=#0000FF>b</font>c</font>", true,
         "<COL=FF0000>a<COL=0000FF>b</COL>c</COL>"},
        {"a close without an open closes nothing", "x</font>y", true, "xy"},
        {"a colour left open ends with the text", "<font color=#00FF00>g", true, "<COL=00FF00>g</COL>"},
        {"small and big", "<small>s</small><big>b</big>", true, "<SUB>s</SUB>b"},
        {"other tag dropped, its text kept", "<p>para", true, "para"},
        {"span with a style", "<span style=\"color:red\">keep</span> this", true, "keep this"},
        {"a lone < is text", "a < b <3 <", true, "a &lt; b &lt;3 &lt;"},
        {"an unclosed tag is text", "<span x", true, "&lt;span x"},
        {"url closed before space", "see http://x.org/a now", false, "see <URL>http://x.org/a</URL> now"},
        {"url at the end", "https://x.org", false, "<URL>https://x.org</URL>"},
        {"file url closed by >", "file:/a>b", false, "<URL>file:/a</URL>&gt;b"},
        {"http without colon is text", "httpd", false, "httpd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tags(c.in, c.allowed), c.out);
    }
}

TEST(PdicBackend, TextToTagsStopsWholeAtTheCapacity) {
    // "&amp;" does not fit in 3 characters after "a": nothing of it is written.
    EXPECT_EQ(tags("a&b", false, 4), "a");
    EXPECT_EQ(tags("<font color=#112233>", true, 12), "");
    EXPECT_EQ(tags("<font color=#112233>", true, 13), "<COL=112233>");
}

TEST(PdicBackend, OpenSearchCollectAndRender) {
    PdicBook book(lftest::pdicWorkedExampleBlocks());
    CEBReader r;
    ASSERT_EQ(r.openPdic(book.path.c_str()), 1);
    EXPECT_EQ(r.kind(), BOOK_KIND_PDIC);
    EXPECT_EQ(r.indexCount(), 1);
    ASSERT_NE(r.pdic(), nullptr);

    CItemList list;
    ASSERT_EQ(searchInto(r, list, "app", PDIC_SEARCH_PREFIX), 2);
    EXPECT_EQ(r.hitCount(), 0);  // collected and reset
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.items()[1].textBlock, 1u);

    EXPECT_EQ(renderHits(r, list, 0, true), kApple);
    EXPECT_EQ(renderHits(r, list, 1, true), kApply);
    EXPECT_EQ(renderHits(r, list, 1, true, 1 << 20, false),
              "<INDENT=01><HEAD>apply</HEAD><BR><INDENT=02>適用する<BR>apply for a job<BR>[Level]3<BR>");
    // Continuous: the entries from the hit on in file order, across blocks.
    EXPECT_EQ(renderHits(r, list, 0, false), std::string(kApple) + "<PAGE>" + kApply + "<PAGE>" + kZoo + "<PAGE>");
    EXPECT_EQ(renderHits(r, list, 1, false), std::string(kApply) + "<PAGE>" + kZoo + "<PAGE>");
    // The continuation limit stops before an entry that would pass it, but
    // the first entry is always written.
    EXPECT_EQ(renderHits(r, list, 0, false, 4), std::string(kApple) + "<PAGE>");

    std::vector<uint32_t> head(64);
    uint32_t length = 0;
    EXPECT_EQ(r.pdic()->hitHeadword(&list, 1, head.data(), 64 * 4, &length), 5);
    EXPECT_EQ(utf8(head.data(), length), "apply");
    EXPECT_EQ(r.pdic()->hitHeadword(&list, 2, head.data(), 64 * 4, &length), 0);

    std::vector<uint32_t> out(2048);
    int n = r.pdic()->renderIndexEntries(1, out.data(), 1 << 20, 2048 * 4, &length, 1);
    EXPECT_EQ(utf8(out.data(), static_cast<size_t>(n)), "<INDENT=01><HEAD>zoo</HEAD><INDENT=02>動物園<BR>");
    n = r.pdic()->renderEntry(0, static_cast<int>(book.layout.entryCursor[0][1]), out.data(), 1 << 20, 2048 * 4,
                              &length, 1, 1);
    EXPECT_EQ(utf8(out.data(), static_cast<size_t>(n)), std::string(kApply) + "<PAGE>");
}

TEST(PdicBackend, HitRightAfterACorruptEntryRendersInContinuousMode) {
    PdicLayout lay;
    std::vector<uint8_t> bytes = lftest::buildPdic(PdicOptions(), lftest::pdicWorkedExampleBlocks(), &lay);
    // apple's meaning ends inside a BOCU-1 sequence: the entry is corrupt.
    bytes[lay.blockOffset[0] + lay.entryCursor[0][0] + 20] = 0xFB;
    lftest::TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("c.dic"), bytes));
    CEBReader r;
    ASSERT_EQ(r.openPdic(dir.file("c.dic").c_str()), 1);
    CItemList list;
    ASSERT_EQ(searchInto(r, list, "apply", PDIC_SEARCH_EXACT), 1);
    EXPECT_EQ(renderHits(r, list, 0, false), std::string(kApply) + "<PAGE>" + kZoo + "<PAGE>");
}

TEST(PdicBackend, EmptyHeadwordAndEscapedFields) {
    PdicBlock b;
    PdicEntry e;
    e.word = U"\t";  // version 6: empty key, empty display word
    e.meaning = U"x<y & <b>z</b>";
    e.pron = U"a<b";
    b.entries = {e};
    PdicBook book({b});
    CEBReader r;
    ASSERT_EQ(r.openPdic(book.path.c_str()), 1);
    std::vector<uint32_t> out(512);
    uint32_t length = 0;
    int n = r.pdic()->renderIndexEntries(0, out.data(), 1 << 20, 512 * 4, &length, 1);
    EXPECT_EQ(utf8(out.data(), static_cast<size_t>(n)),
              "<INDENT=01><HEAD></HEAD><INDENT=02>/<PHO>a&lt;b</PHO>/<BR>x&lt;y &amp; <B>z</B><BR>");
}

TEST(PdicBackend, HitLimit50AndCancel) {
    PdicBlock b;
    for (int i = 0; i < 60; ++i) {
        PdicEntry e;
        char w[16];
        snprintf(w, sizeof w, "w%02d\tw%02d", i, i);
        e.word = wide(w);
        e.meaning = U"m";
        b.entries.push_back(e);
    }
    PdicBook book({b});
    CEBReader r;
    ASSERT_EQ(r.openPdic(book.path.c_str()), 1);
    std::u32string w = U"w";
    r.setHitLimit50(true);
    EXPECT_EQ(r.pdic()->search(reinterpret_cast<const uint32_t*>(w.c_str()), PDIC_SEARCH_PREFIX, 1000), 50);
    EXPECT_EQ(r.hitCount(), 50);
    EXPECT_TRUE(r.hasMoreHits());
    r.setHitLimit50(false);
    // A set cancel flag ends every search at once until resetHits.
    r.cancelSearch();
    EXPECT_EQ(r.pdic()->search(reinterpret_cast<const uint32_t*>(w.c_str()), PDIC_SEARCH_PREFIX, 0), 0);
    EXPECT_EQ(r.pdic()->fullTextSearch(reinterpret_cast<const uint32_t*>(U"m"), nullptr, nullptr, 0), 0);
    r.resetHits();
    EXPECT_EQ(r.pdic()->fullTextSearch(reinterpret_cast<const uint32_t*>(U"m"), nullptr, nullptr, 0), 60);
}

TEST(PdicBackend, GuardedBufferSweep) {
    PdicBook book(lftest::pdicWorkedExampleBlocks());
    CEBReader r;
    ASSERT_EQ(r.openPdic(book.path.c_str()), 1);
    CItemList list;
    ASSERT_EQ(searchInto(r, list, "a", PDIC_SEARCH_PREFIX), 2);
    const std::u32string tricky = U"a&b <font color=#FF0000>http://x</font> & <small>s</small>";
    for (uint32_t size = 1; size <= 64; ++size) {
        SCOPED_TRACE(size);
        uint32_t length = 0;
        auto sweep = [&](auto&& run) { lftest::checkGuarded<uint32_t>(size, run); };
        sweep([&](uint32_t* o) { r.pdic()->renderHits(&list, 0, o, 1 << 20, size * 4, &length, 0, 1); });
        sweep([&](uint32_t* o) { r.pdic()->renderHits(&list, 1, o, 1 << 20, size * 4, &length, 1, 1); });
        sweep([&](uint32_t* o) { r.pdic()->renderIndexEntries(0, o, 1 << 20, size * 4, &length, 1); });
        sweep([&](uint32_t* o) { r.pdic()->renderEntry(0, 2, o, 1 << 20, size * 4, &length, 0, 1); });
        sweep([&](uint32_t* o) { r.pdic()->hitHeadword(&list, 1, o, size * 4, &length); });
        sweep([&](uint32_t* o) {
            CPdicBackend::textToTags(o, size, reinterpret_cast<const uint32_t*>(tricky.data()),
                                     static_cast<int>(tricky.size()), true);
        });
    }
}
