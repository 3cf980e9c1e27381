// Books made of real multi-page HTML manuals that Debian packages ship
// (scripts/setup.sh installs them), one page a source (type 7): every link
// of every page is checked against the pages themselves (HtmlLinkCheck), no
// style sheet or script shows in the text, and no heading is cut but at a
// word. The text of every page, read through the EB Library, is the page's
// visible text word for word as Python's own HTML parser lays it out
// (visible_text.py), every block of it on a line of its own, and the build
// log holds no error report.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "builder/CEPWing.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/HtmlLinkCheck.h"
#include "tests/common/MdictFixtures.h"
#include "tests/common/TestDir.h"

namespace {

// The .html files of a folder, sorted by name.
std::vector<std::string> htmlPages(const std::string& folder) {
    std::vector<std::string> out;
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return out;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0) out.push_back(folder + "/" + name);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

// The manuals, each with the generator that exported it.
const char* const kManuals[] = {
    "/usr/share/doc/libffi-dev/html",               // Texinfo
    "/usr/share/doc/m4",                            // Texinfo
    "/usr/share/doc/python-itsdangerous-doc/html",  // Sphinx
    "/usr/share/doc/python-jinja2-doc/html",        // Sphinx
    "/usr/share/doc/aptitude/html/en",              // DocBook: inline code, div layouts
};

// The pages of the manual, or none (the test is then skipped, or fails in CI).
std::vector<std::string> manualPages(const char* folder) {
    std::vector<std::string> pages = htmlPages(folder);
    if (pages.size() < 2) pages.clear();
    return pages;
}

// The book of a manual, built once for the checks of this program.
struct ManualBook {
    lftest::TestDir dir;
    bool succeeded = false;
    std::string log;
};

const ManualBook& manualBook(const std::vector<std::string>& pages, const std::string& folder) {
    static std::map<std::string, std::unique_ptr<ManualBook>> books;
    std::unique_ptr<ManualBook>& book = books[folder];
    if (book) return *book;
    book.reset(new ManualBook);
    lftest::BookRecipe r;
    r.outDir = book->dir.path();
    r.indexDef = 0x01 | 0x40;  // prefix word search, menu
    r.configure = [](CEPWing& w) {
        w.setBoolOption("HTagMenu", true);
        w.setBoolOption("topMenu", true);
    };
    for (const std::string& page : pages) r.sources.push_back({page, "", 7});
    lftest::BookRun run = lftest::buildBook(r);
    book->succeeded = run.result.succeeded();
    book->log = run.log();
    return *book;
}

#define REQUIRE_MANUAL(pages)                                                                                      \
    if ((pages).empty()) {                                                                                         \
        if (lftest::realFilesRequired()) FAIL() << "no HTML manual in " << GetParam() << ": run scripts/setup.sh"; \
        GTEST_SKIP() << "no HTML manual in " << GetParam() << ": run scripts/setup.sh";                            \
    }

class RealManual : public ::testing::TestWithParam<const char*> {};

TEST_P(RealManual, EveryLinkLeadsToTheTextItNames) {
    const std::vector<std::string> pages = manualPages(GetParam());
    REQUIRE_MANUAL(pages);
    const ManualBook& book = manualBook(pages, GetParam());
    ASSERT_TRUE(book.succeeded) << book.log;
    const std::string& log = book.log;
    EXPECT_EQ(log.find("title too long"), std::string::npos) << log;
    lftest::HtmlLinkReport report = lftest::checkHtmlLinks(pages, book.dir.path(), log);
    EXPECT_TRUE(report.failures.empty()) << report.summary();
    EXPECT_GT(report.checked, 0) << report.summary();
    std::printf("%s: %s\n", GetParam(), report.summary().c_str());
}

// A word as the comparison sees it: its ASCII characters (a character of
// Shift_JIS, UTF-8 or a gaiji, which the EB Library shows as "<?>", is left
// out on both sides alike).
std::string asciiOf(const std::string& word, bool sjis) {
    std::string out;
    for (size_t i = 0; i < word.size(); ++i) {
        if (sjis && word.compare(i, 3, "<?>") == 0) {
            i += 2;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(word[i]);
        if (sjis && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) {
            // The book's tilde is its JIS X 0208 form, the wave dash, which
            // the EB Library does not turn back into ASCII.
            if (c == 0x81 && i + 1 < word.size() && static_cast<unsigned char>(word[i + 1]) == 0x60) out += '~';
            ++i;
            continue;
        }
        if (c > 0x20 && c < 0x7F) out += static_cast<char>(c);
    }
    return out;
}

struct Word {
    std::string text;
    bool startsLine;
};

// The words of a text, line by line, each marked when it is the first of
// its line.
std::vector<Word> wordsOf(const std::string& text, bool sjis) {
    std::vector<Word> out;
    bool lineStart = true;
    std::string word;
    auto flush = [&]() {
        const std::string a = asciiOf(word, sjis);
        word.clear();
        if (a.empty()) return;
        out.push_back({a, lineStart});
        lineStart = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (sjis && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < text.size()) {
            word += text.substr(i, 2);
            ++i;
        } else if (c == '\n') {
            flush();
            lineStart = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f') {
            flush();
        } else {
            word += static_cast<char>(c);
        }
    }
    flush();
    return out;
}

// The visible text of each page by the independent parser, by page path.
std::map<std::string, std::string> visibleTexts(const std::vector<std::string>& pages, std::string* error) {
    std::string command = lftest::mdictPython() + " " +
                          lftest::shellQuote(std::string(LF_SOURCE_DIR) + "/tests/builder/sources/visible_text.py");
    for (const std::string& p : pages) command += " " + lftest::shellQuote(p);
    std::string out;
    std::map<std::string, std::string> texts;
    if (lftest::runCommand(command + " 2>&1", &out) != 0) {
        *error = out;
        return texts;
    }
    std::string* current = nullptr;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(at, end - at);
        at = end + 1;
        if (line.compare(0, 4, "=== ") == 0)
            current = &texts[line.substr(4)];
        else if (current != nullptr)
            *current += line + "\n";
    }
    return texts;
}

// The words to add and to drop that turn a into b (the edit distance of
// the O(ND) difference algorithm), at most limit + 1.
size_t wordDistance(const std::vector<Word>& a, const std::vector<Word>& b, size_t limit) {
    const long n = static_cast<long>(a.size()), m = static_cast<long>(b.size());
    const long max = static_cast<long>(limit);
    std::vector<long> v(static_cast<size_t>(2 * max + 3), 0);
    auto at = [&](long k) -> long& { return v[static_cast<size_t>(k + max + 1)]; };
    for (long d = 0; d <= max; ++d) {
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
            long y = x - k;
            while (x < n && y < m && a[static_cast<size_t>(x)].text == b[static_cast<size_t>(y)].text) ++x, ++y;
            at(k) = x;
            if (x >= n && y >= m) return static_cast<size_t>(d);
        }
    }
    return limit + 1;
}

std::string around(const std::vector<Word>& words, size_t at) {
    std::string s;
    for (size_t i = at > 6 ? at - 6 : 0; i < words.size() && i < at + 6; ++i)
        s += (words[i].startsLine ? " | " : " ") + (i == at ? "[" + words[i].text + "]" : words[i].text);
    return s;
}

TEST_P(RealManual, TextIsThePagesVisibleText) {
    const std::vector<std::string> pages = manualPages(GetParam());
    REQUIRE_MANUAL(pages);
    std::string error;
    const std::map<std::string, std::string> visible = visibleTexts(pages, &error);
    ASSERT_EQ(visible.size(), pages.size()) << error;
    const ManualBook& book = manualBook(pages, GetParam());
    ASSERT_TRUE(book.succeeded) << book.log;
    const std::string& log = book.log;
    EXPECT_EQ(log.find("Error in"), std::string::npos) << log;
    lftest::EbProbe probe(book.dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    const auto starts = lftest::pageStarts(probe, pages.size());
    ASSERT_EQ(starts.size(), pages.size());
    size_t compared = 0, mismatched = 0, merged = 0, blocks = 0;
    std::vector<std::string> failures;
    for (size_t i = 0; i < pages.size(); ++i) {
        const std::vector<Word> book = wordsOf(probe.readWholeText(0, starts[i].first, starts[i].second), true);
        const std::vector<Word> page = wordsOf(visible.at(pages[i]), false);
        compared += page.size();
        size_t head = 0;
        while (head < book.size() && head < page.size() && book[head].text == page[head].text) ++head;
        const size_t differ = head == book.size() && head == page.size() ? 0 : wordDistance(book, page, 1000);
        mismatched += differ;
        if (differ > 0)
            failures.push_back(pages[i] + ": " + std::to_string(differ) + " words added or dropped, first at book" +
                               around(book, head) + "\n    page" + around(page, head));
        // Every block of the page starts a line of the book.
        for (size_t k = 0; k < head; ++k) {
            if (!page[k].startsLine) continue;
            ++blocks;
            if (book[k].startsLine) continue;
            if (++merged <= 20) failures.push_back(pages[i] + ": block runs on a line:" + around(book, k));
        }
    }
    size_t notes = 0;
    for (size_t at = log.find(" Note in "); at != std::string::npos; at = log.find(" Note in ", at + 1)) ++notes;
    std::printf(
        "%s: %zu pages, %zu words compared, %zu added or dropped, %zu of %zu blocks not on a line of their own, "
        "%zu notes\n",
        GetParam(), pages.size(), compared, mismatched, merged, blocks, notes);
    std::string all;
    for (size_t i = 0; i < failures.size() && i < 40; ++i) all += failures[i] + "\n";
    EXPECT_EQ(mismatched, 0u) << all;
    EXPECT_EQ(merged, 0u) << all;
}

INSTANTIATE_TEST_SUITE_P(DebianManuals, RealManual, ::testing::ValuesIn(kManuals));

}  // namespace
