// Searches of a book through the EB Library (libeb), for the tests of the
// search indexes: every search kind libeb offers (word, exact word, end
// word, keyword, cross), with the heading and the text at each hit read back
// through libeb. Subbook 0 of the book directory. Texts are Shift_JIS.
//
//   lftest::EbSearchProbe p(dir);
//   auto hits = p.search(lftest::EbFind::Word, {"\x82\xa0"});
//   hits[0].heading, hits[0].text
#pragma once

#include <string>
#include <vector>

namespace lftest {

enum class EbFind { Word, ExactWord, EndWord, Keyword, Cross };

struct EbFound {
    int textBlock = 0, textOffset = 0;
    int headingBlock = 0, headingOffset = 0;
    std::string heading;  // eb_read_heading at the heading position
    std::string text;     // eb_read_text at the text position (up to the entry's end)
};

#ifdef LF_HAVE_EB

class EbSearchProbe {
public:
    explicit EbSearchProbe(const std::string& bookDir);
    ~EbSearchProbe();
    EbSearchProbe(const EbSearchProbe&) = delete;
    EbSearchProbe& operator=(const EbSearchProbe&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    bool have(EbFind kind);
    // Hits in libeb's order; empty on none or failure (error() tells).
    // withText: read the heading and text of each hit.
    std::vector<EbFound> search(EbFind kind, const std::vector<std::string>& words, bool withText = true,
                                int maxHits = 500);
    // Headings of the hits, in order.
    std::vector<std::string> headings(EbFind kind, const std::vector<std::string>& words);

private:
    struct Impl;
    Impl* impl_;
    bool ok_ = false;
    std::string error_;
};

#endif  // LF_HAVE_EB

}  // namespace lftest
