// Books made of real multi-page HTML manuals that Debian packages ship
// (scripts/setup.sh installs them), one page a source (type 7): every link
// of every page is checked against the pages themselves (HtmlLinkCheck), no
// style sheet or script shows in the text, and no heading is cut.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "builder/CEPWing.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/HtmlLinkCheck.h"
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

class RealManual : public ::testing::TestWithParam<const char*> {};

TEST_P(RealManual, EveryLinkLeadsToTheTextItNames) {
    const std::vector<std::string> pages = htmlPages(GetParam());
    if (pages.size() < 2) {
        if (lftest::realFilesRequired()) FAIL() << "no HTML manual in " << GetParam() << ": run scripts/setup.sh";
        GTEST_SKIP() << "no HTML manual in " << GetParam() << ": run scripts/setup.sh";
    }
    lftest::TestDir dir;
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.indexDef = 0x01 | 0x40;  // prefix word search, menu
    r.configure = [](CEPWing& w) {
        w.setBoolOption("HTagMenu", true);
        w.setBoolOption("topMenu", true);
    };
    for (const std::string& page : pages) r.sources.push_back({page, "", 7});
    lftest::BookRun run = lftest::buildBook(r);
    ASSERT_TRUE(run.result.succeeded()) << run.log();
    const std::string log = run.log();
    EXPECT_EQ(log.find("title too long"), std::string::npos) << log;
    lftest::HtmlLinkReport report = lftest::checkHtmlLinks(pages, dir.path(), log);
    EXPECT_TRUE(report.failures.empty()) << report.summary();
    EXPECT_GT(report.checked, 0) << report.summary();
    std::printf("%s: %s\n", GetParam(), report.summary().c_str());
}

INSTANTIATE_TEST_SUITE_P(DebianManuals, RealManual,
                         ::testing::Values("/usr/share/doc/libffi-dev/html", "/usr/share/doc/m4",
                                           "/usr/share/doc/python-itsdangerous-doc/html",
                                           "/usr/share/doc/python-jinja2-doc/html"));

}  // namespace
