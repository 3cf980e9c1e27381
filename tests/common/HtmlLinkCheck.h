// A check of a book built from HTML pages (source type 7, one page a source,
// in order), made without the reader under test: the pages are parsed here
// with libxml2's HTML parser into their text and links, and the book is read
// through the EB Library. For every page it compares the references of the
// page's text with the page's links in document order; for every link whose
// target the pages have (a page, an id, an "a name") it compares the text at
// the reference's target with the text of the document from that element on
// (ASCII letters and digits only, so that layout and characters outside
// ASCII do not matter). Links whose target the pages do not have must be the
// ones the build log names. Style sheets and scripts must not show in the
// text.
//
//   lftest::HtmlLinkReport r = lftest::checkHtmlLinks(pages, bookDir, log);
//   EXPECT_TRUE(r.failures.empty()) << r.summary();
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace lftest {

class EbProbe;

struct HtmlLinkReport {
    int pages = 0;
    int links = 0;          // references the pages should give
    int checked = 0;        // links whose target text was compared
    int pageLinks = 0;      // of these, links to a whole page
    int missing = 0;        // links to targets the pages do not have
    int loggedMissing = 0;  // links the build log names or counts
    std::vector<std::string> failures;
    std::string summary() const;
};

// pages: the HTML files in source order; bookDir: the output folder of the
// book (subbook 0); log: the build log.
HtmlLinkReport checkHtmlLinks(const std::vector<std::string>& pages, const std::string& bookDir,
                              const std::string& log);

// The positions (block, offset) of the text start codes 1F02 of subbook 0,
// from the start of its text on: one a source; at most count of them.
std::vector<std::pair<int, int>> pageStarts(EbProbe& probe, size_t count);

// Real files named by a test must be there in CI (CI=true); elsewhere a
// missing one skips the test.
bool realFilesRequired();

}  // namespace lftest
