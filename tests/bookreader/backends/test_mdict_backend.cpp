// The MDict back end of the book reader: opening as kind 7 with its resource
// files, hits of two dictionaries in one item list, heads, "@@@LINK="
// redirections, resources written out of the .mdd (and what is refused),
// the guarded-buffer sweep, and records and resources against js-mdict.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bookreader/backends/CMDictBackend.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "tests/bookreader/backends/GuardedBuffer.h"
#include "tests/common/MdictFixtures.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

// Writes MDict files into dir with the fixtures' generator: each file is a
// Python expression for Spec's arguments.
bool writeMdict(const TestDir& dir, const std::vector<std::pair<std::string, std::string>>& files) {
    std::string script = "import sys; sys.path.insert(0, '" + std::string(LF_SOURCE_DIR) +
                         "/tests/dictformats/mdict'); import make_mdict_fixtures as m\n";
    for (const auto& f : files)
        script += "open('" + dir.file(f.first) + "', 'wb').write(m.build(m.Spec(" + f.second + ")))\n";
    if (!lftest::writeFile(dir.file("make.py"), script)) return false;
    std::string out;
    int status =
        lftest::runCommand(lftest::mdictPython() + " " + lftest::shellQuote(dir.file("make.py")) + " 2>&1", &out);
    EXPECT_EQ(status, 0) << out;
    return status == 0;
}

const char* const kWords =
    "[('a&b', 'amp word'), ('alias', '@@@LINK=target'), ('apple', 'a <i>fruit</i>'), "
    "('empty', '@@@LINK='), ('pic', '<img src=\"img/a.png\"><a href=\"sound://s/b.spx\">s</a>"
    "<a href=\"http://x\">x</a><link href=\"style.css\"><img src=nope.png><img src=\"../up.png\">"
    "<img src=\"/abs.png\"><img src=\"C:x.png\"><img src=img/a.png alt=1>'), ('target', 'the target')]";
const char* const kResources =
    "sorted([('\\\\img\\\\a.png', b'PNG-a'), ('\\\\s\\\\b.spx', b'SPX-b'), ('\\\\up.png', b'UP'), "
    "('\\\\..\\\\up.png', b'UP2'), ('\\\\abs.png', b'ABS'), ('\\\\C:x.png', b'CX')], key=lambda e: e[0].lower()), "
    "mdd=True";

std::string render(CEBReader& r, const CItemList& list, int hit, bool single, bool head = true,
                   uint32_t limit = 1 << 20) {
    std::vector<char> out(8192);
    uint32_t length = 99;
    int n =
        r.mdict()->renderHits(&list, hit, out.data(), limit, static_cast<uint32_t>(out.size()), &length, single, head);
    EXPECT_EQ(static_cast<uint32_t>(n), length);
    return std::string(out.data(), length);
}

std::string entry(const std::string& headHtml, const std::string& body) {
    return "<b><div class=\"head\">" + headHtml + "</div></b><p></p><div>" + body + "</div>\n";
}

int searchInto(CEBReader& r, CItemList& list, const char* word, int exact) {
    r.mdict()->search(word, exact, 0);
    return r.collectHits(&list, list.count(), 0);
}

}  // namespace

TEST(MDictBackend, OpenWithAndWithoutResourceFiles) {
    TestDir dir;
    ASSERT_TRUE(
        writeMdict(dir, {{"d.mdx", kWords}, {"d.mdd", kResources}, {"d.1.mdd", kResources}, {"lone.mdx", kWords}}));
    CEBReader r;
    ASSERT_EQ(r.openMDict(dir.file("d.mdx").c_str()), 1);
    EXPECT_EQ(r.kind(), BOOK_KIND_MDICT);
    EXPECT_NE(r.mdict()->mdictReader(1), nullptr);
    EXPECT_NE(r.mdict()->mdictReader(2), nullptr);
    EXPECT_STREQ(r.mdict()->description(), "");
    CEBReader lone;
    ASSERT_EQ(lone.openMDict(dir.file("lone.mdx").c_str()), 1);
    EXPECT_EQ(lone.mdict()->mdictReader(1), nullptr);
    EXPECT_EQ(lone.mdict()->mdictReader(2), nullptr);
    // The .mdd alone is not a dictionary of words, and a missing file fails.
    CEBReader missing;
    EXPECT_EQ(missing.openMDict(dir.file("none.mdx").c_str()), 0);
    EXPECT_EQ(missing.mdict(), nullptr);
}

TEST(MDictBackend, RenderHitsHeadsAndRedirections) {
    TestDir dir;
    ASSERT_TRUE(writeMdict(dir, {{"d.mdx", kWords}, {"o.mdx", "[('apex', 'top')]"}}));
    CEBReader r, other;
    ASSERT_EQ(r.openMDict(dir.file("d.mdx").c_str()), 1);
    ASSERT_EQ(other.openMDict(dir.file("o.mdx").c_str()), 1);
    CItemList list;
    ASSERT_EQ(searchInto(r, list, "a", 0), 3);  // a&b alias apple
    ASSERT_EQ(searchInto(other, list, "apex", 1), 1);
    ASSERT_EQ(searchInto(r, list, "empty", 1), 1);
    EXPECT_EQ(list.items()[4].textBlock, 4u);

    EXPECT_EQ(render(r, list, 0, true), entry("a&amp;b", "amp word"));
    // The linked record under the head of the entry holding the marker.
    EXPECT_EQ(render(r, list, 1, true), entry("alias", "the target"));
    EXPECT_EQ(render(r, list, 1, true, false), "<p></p><div>the target</div>\n");
    // Continuous: stops at the first hit of another dictionary.
    EXPECT_EQ(render(r, list, 1, false), entry("alias", "the target") + entry("apple", "a <i>fruit</i>"));
    EXPECT_EQ(render(r, list, 3, true), "");
    EXPECT_EQ(render(other, list, 3, false), entry("apex", "top"));
    // A marker without a target is no redirection.
    EXPECT_EQ(render(r, list, 4, true), entry("empty", "@@@LINK="));
    EXPECT_EQ(render(r, list, 1, false, true, 1), entry("alias", "the target"));

    char head[32];
    uint32_t length = 0;
    EXPECT_EQ(r.mdict()->hitHeadword(&list, 0, head, sizeof head, &length), 7);
    EXPECT_STREQ(head, "a&amp;b");
    EXPECT_EQ(r.mdict()->hitHeadword(&list, 3, head, sizeof head, &length), 0);
    char info[1024];
    EXPECT_GT(r.dictionaryInformation(info, sizeof info, 1), 0);
}

TEST(MDictBackend, ResourcesAreWrittenOnlyInsideTheFolder) {
    TestDir dir;
    ASSERT_TRUE(writeMdict(dir, {{"d.mdx", kWords}, {"d.mdd", kResources}}));
    TestDir out;
    CEBReader r;
    ASSERT_EQ(r.openMDict(dir.file("d.mdx").c_str()), 1);
    CItemList list;
    ASSERT_EQ(searchInto(r, list, "pic", 1), 1);
    std::string html = render(r, list, 0, true, false);
    std::vector<std::string> refused;
    // The second reference to img/a.png finds the file written for the first.
    EXPECT_EQ(r.mdict()->extractResources(&html[0], out.path().c_str(), false, &refused), 4);
    EXPECT_EQ(html,
              "<p></p><div><img src=\"img_a.png\"><a href=\"sound://s_b.spx\">s</a><a href=\"http://x\">x</a>"
              "<link href=\"style.css\"><img src=nope.png><img src=\"../up.png\"><img src=\"_abs.png\">"
              "<img src=\"C:x.png\"><img src=img_a.png alt=1></div>\n");
    EXPECT_EQ(lftest::listDir(out.path()), (std::vector<std::string>{"C:x.png", "_abs.png", "img_a.png", "s_b.spx"}));
    EXPECT_EQ(refused, std::vector<std::string>{"../up.png"});
    const lftest::Bytes png = lftest::readFile(out.file("img_a.png"));
    EXPECT_EQ(std::string(png.begin(), png.end()), "PNG-a");
    // Nothing was written beside the folder.
    EXPECT_EQ(lftest::listDir(dir.path()), (std::vector<std::string>{"d.mdd", "d.mdx", "make.py"}));
}

namespace {

// Resources of every name form, and one the link cases write.
const char* const kNamedResources =
    "sorted([('\\\\img\\\\a.png', b'IMG'), ('\\\\abs.png', b'ABS'), ('\\\\dir\\\\c.png', b'DIRC'), "
    "('\\\\C:x.png', b'CX'), ('\\\\a..b.png', b'DOTS'), ('\\\\..\\\\up.png', b'UP'), ('\\\\a\\\\..\\\\b.png', b'AB'), "
    "('\\\\x\\\\..', b'X'), ('\\\\.', b'DOT'), ('\\\\..', b'DOTDOT')], key=lambda e: e[0].lower()), mdd=True";

std::string contents(const std::string& path) {
    const lftest::Bytes b = lftest::readFile(path);
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST(MDictBackend, ResourceNamesOfEveryForm) {
    TestDir dir;
    ASSERT_TRUE(writeMdict(dir, {{"d.mdx", kWords}, {"d.mdd", kNamedResources}}));
    CEBReader r;
    ASSERT_EQ(r.openMDict(dir.file("d.mdx").c_str()), 1);
    const struct Case {
        const char* what;
        const char* value;
        const char* file;  // null: refused
        const char* data;
    } cases[] = {
        {"a relative name", "img/a.png", "img_a.png", "IMG"},
        {"a name beginning with a slash", "/abs.png", "_abs.png", "ABS"},
        {"a name of backslashes", "\\dir\\c.png", "_dir_c.png", "DIRC"},
        {"a drive letter is only a character", "C:x.png", "C:x.png", "CX"},
        {"two dots inside a component", "a..b.png", "a..b.png", "DOTS"},
        {"a leading .. component", "../up.png", nullptr, nullptr},
        {"a .. component after backslashes", "..\\up.png", nullptr, nullptr},
        {"a .. component in the middle", "a/../b.png", nullptr, nullptr},
        {"a trailing .. component", "x/..", nullptr, nullptr},
        {"the folder itself", ".", nullptr, nullptr},
        {"its parent", "..", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDir out;
        std::string html = std::string("<img src=\"") + c.value + "\">";
        std::vector<std::string> refused;
        const int written = r.mdict()->extractResources(&html[0], out.path().c_str(), false, &refused);
        if (c.file) {
            EXPECT_EQ(written, 1);
            EXPECT_TRUE(refused.empty());
            EXPECT_EQ(html, std::string("<img src=\"") + c.file + "\">");
            EXPECT_EQ(lftest::listDir(out.path()), std::vector<std::string>{c.file});
            EXPECT_EQ(contents(out.file(c.file)), c.data);
        } else {
            EXPECT_EQ(written, 0);
            EXPECT_EQ(refused, std::vector<std::string>{c.value});
            EXPECT_EQ(html, std::string("<img src=\"") + c.value + "\">");
            EXPECT_TRUE(lftest::listDir(out.path()).empty());
        }
    }
    // Nothing was written beside the folders.
    EXPECT_EQ(lftest::listDir(dir.path()), (std::vector<std::string>{"d.mdd", "d.mdx", "make.py"}));
}

TEST(MDictBackend, ResourcesNeverWriteThroughLinksNorReplaceUnlessAsked) {
    TestDir dir;
    ASSERT_TRUE(writeMdict(dir, {{"d.mdx", kWords}, {"d.mdd", kNamedResources}}));
    CEBReader r;
    ASSERT_EQ(r.openMDict(dir.file("d.mdx").c_str()), 1);
    enum Standing { kNothing, kFile, kLinkToOutside, kDanglingLink };
    const struct Case {
        const char* what;
        Standing standing;
        bool replace;
        int written;
        const char* data;  // what the name reads afterwards (null: nothing readable)
        bool stillLink;
    } cases[] = {
        {"a new name", kNothing, false, 1, "IMG", false},
        {"an existing file is kept", kFile, false, 0, "OLD", false},
        {"an existing file is replaced when asked", kFile, true, 1, "IMG", false},
        {"a link to a file outside is kept", kLinkToOutside, false, 0, "OUTSIDE", true},
        {"a link replaced when asked, its target untouched", kLinkToOutside, true, 1, "IMG", false},
        {"a dangling link is kept", kDanglingLink, false, 0, nullptr, true},
        {"a dangling link replaced when asked, nothing made at its target", kDanglingLink, true, 1, "IMG", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDir out, outside;
        const std::string name = out.file("img_a.png"), target = outside.file("target");
        if (c.standing == kFile) {
            ASSERT_TRUE(lftest::writeFile(name, std::string("OLD")));
        }
        if (c.standing == kLinkToOutside) {
            ASSERT_TRUE(lftest::writeFile(target, std::string("OUTSIDE")));
        }
        if (c.standing == kLinkToOutside || c.standing == kDanglingLink) {
            ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);
        }
        std::string html = "<img src=\"img/a.png\">";
        EXPECT_EQ(r.mdict()->extractResources(&html[0], out.path().c_str(), c.replace), c.written);
        // The reference names the file either way.
        EXPECT_EQ(html, "<img src=\"img_a.png\">");
        struct stat st;
        ASSERT_EQ(lstat(name.c_str(), &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), c.stillLink);
        if (c.data) {
            EXPECT_EQ(contents(name), c.data);
        }
        // The link's target is what it was; no temporary file is left.
        if (c.standing == kLinkToOutside) {
            EXPECT_EQ(contents(target), "OUTSIDE");
        }
        if (c.standing == kDanglingLink) {
            EXPECT_NE(lstat(target.c_str(), &st), 0);
        }
        EXPECT_EQ(lftest::listDir(out.path()), std::vector<std::string>{"img_a.png"});
    }
}

TEST(MDictBackend, GuardedBufferSweep) {
    TestDir dir;
    ASSERT_TRUE(writeMdict(dir, {{"d.mdx", kWords}}));
    CEBReader r;
    ASSERT_EQ(r.openMDict(dir.file("d.mdx").c_str()), 1);
    CItemList list;
    ASSERT_EQ(searchInto(r, list, "a", 0), 3);
    for (uint32_t size = 1; size <= 64; ++size) {
        SCOPED_TRACE(size);
        uint32_t length = 0;
        auto sweep = [&](auto&& run) { lftest::checkGuarded<char>(size, run); };
        sweep([&](char* o) { r.mdict()->renderHits(&list, 0, o, 1 << 20, size, &length, 0, 1); });
        sweep([&](char* o) { r.mdict()->renderHits(&list, 1, o, 1 << 20, size, &length, 1, 1); });
        sweep([&](char* o) { r.mdict()->renderRecord(0, o, size, &length); });
        sweep([&](char* o) { r.mdict()->hitHeadword(&list, 0, o, size, &length); });
        sweep([&](char* o) { r.dictionaryInformation(o, size, 1); });
    }
}

TEST(MDictBackend, RecordsAndResourcesEqualJsMdict) {
    const std::string mdx = lftest::mdictFixture("v20_utf8_zlib.mdx");
    ASSERT_FALSE(mdx.empty());
    lftest::MdictPeerView peer = lftest::mdictPeerRead(mdx);
    ASSERT_TRUE(peer.ok) << peer.error;
    CEBReader r;
    ASSERT_EQ(r.openMDict(mdx.c_str()), 1);
    for (const auto& e : peer.entries) {
        SCOPED_TRACE(e.first);
        CItemList list;
        ASSERT_GE(searchInto(r, list, e.first.c_str(), 1), 1);
        EXPECT_EQ(render(r, list, 0, true, false), "<p></p><div>" + e.second + "</div>\n");
    }
    // Resources written out equal the peer's bytes.
    TestDir dir, out;
    const std::string mdd = lftest::mdictFixture("v20_resources.mdd");
    lftest::MdictPeerView resources = lftest::mdictPeerRead(mdd);
    ASSERT_TRUE(resources.ok) << resources.error;
    const lftest::Bytes mdxBytes = lftest::readFile(mdx), mddBytes = lftest::readFile(mdd);
    ASSERT_TRUE(lftest::writeFile(dir.file("r.mdx"), mdxBytes));
    ASSERT_TRUE(lftest::writeFile(dir.file("r.mdd"), mddBytes));
    CEBReader rr;
    ASSERT_EQ(rr.openMDict(dir.file("r.mdx").c_str()), 1);
    std::string html;
    for (const auto& e : resources.entries) html += "<img src=\"" + e.first.substr(1) + "\">";
    for (char& c : html)
        if (c == '\\') c = '/';
    EXPECT_EQ(rr.mdict()->extractResources(&html[0], out.path().c_str()), static_cast<int>(resources.entries.size()));
    for (const auto& e : resources.entries) {
        std::string file = e.first.substr(1);
        for (char& c : file)
            if (c == '\\') c = '_';
        SCOPED_TRACE(file);
        const lftest::Bytes bytes = lftest::readFile(out.file(file));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), e.second);
    }
}
