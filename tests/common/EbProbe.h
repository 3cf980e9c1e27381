// A small probe of our own around the EB Library (libeb), used by tests as an
// independent reader of the books we write, so that a failing check says
// which side disagrees. Available when the tests are built with libeb
// (LF_HAVE_EB); tests that use it are guarded the same way.
//
//   lftest::EbProbe probe(bookDir);
//   ASSERT_TRUE(probe.ok()) << probe.error();
//   auto subbooks = probe.subbooks();             // titles, directories
//   auto bytes = probe.readText(0, 2, 0, 64);     // raw text bytes at block 2
//   auto hits = probe.search(0, lftest::EbSearchKind::Word, {"\x82\xa0"});
//
// Texts go in and come out as Shift_JIS (libeb's EUC-JP is converted here by
// arithmetic, without the library's own conversions).
#pragma once

#include <string>
#include <vector>

namespace lftest {

// EUC-JP <-> Shift_JIS by the code arithmetic (JIS X 0208 and ASCII; other
// bytes are copied).
std::string eucToSjis(const std::string& euc);
std::string sjisToEuc(const std::string& sjis);

struct EbSubbook {
    int code = -1;          // libeb's subbook code
    std::string title;      // Shift_JIS
    std::string directory;  // as libeb reports it (lower case, no padding)
};

struct EbHit {
    int headingBlock = 0;
    int headingOffset = 0;
    int textBlock = 0;
    int textOffset = 0;
};

enum class EbSearchKind { Word, ExactWord, EndWord, Keyword };

// One field (entry) of a multi search as libeb reports it.
struct EbMultiEntry {
    std::string label;                              // Shift_JIS
    bool hasCandidates = false;                     // eb_multi_entry_have_candidates
    int candidatesBlock = 0, candidatesOffset = 0;  // eb_multi_entry_candidates
};

struct EbMultiSearch {
    std::string title;  // eb_multi_title, Shift_JIS
    std::vector<EbMultiEntry> entries;
};

// One candidate of a candidate list read through libeb's candidate hooks:
// the word (eb_current_candidate) and, for a group, its sub-list.
struct EbCandidate {
    std::string word;  // Shift_JIS
    bool group = false;
    int block = 0, offset = 0;  // sub-list of a group
};

#ifdef LF_HAVE_EB

class EbProbe {
public:
    explicit EbProbe(const std::string& bookDir);
    ~EbProbe();
    EbProbe(const EbProbe&) = delete;
    EbProbe& operator=(const EbProbe&) = delete;

    // True when libeb bound the book directory.
    bool ok() const { return bound_; }
    // libeb's message for the last failure ("" when none).
    const std::string& error() const { return error_; }
    // 0 EB, 1 EPWING, -1 unknown.
    int discType();

    std::vector<EbSubbook> subbooks();

    // Up to maxBytes raw bytes of the subbook's text from block:offset
    // (eb_seek_text + eb_read_rawtext); empty on failure (see error()).
    std::vector<unsigned char> readText(int subbook, int block, int offset, size_t maxBytes);
    // The text at block:offset through libeb's default hooks, as Shift_JIS
    // (eb_read_text); "" on failure.
    std::string readRenderedText(int subbook, int block, int offset, size_t maxBytes = 4096);
    // The heading at block:offset (eb_read_heading), as Shift_JIS.
    std::string readHeading(int subbook, int block, int offset, size_t maxBytes = 1024);
    // The position of the subbook's menu (eb_menu); false when it has none
    // or on failure.
    bool menu(int subbook, int* block, int* offset);

    // Runs one search on the subbook. Word, ExactWord and EndWord use words[0];
    // Keyword takes up to five words. Words are Shift_JIS. The hits, or an
    // empty list when none or on failure (error() tells which).
    std::vector<EbHit> search(int subbook, EbSearchKind kind, const std::vector<std::string>& words, int maxHits = 100);
    bool haveSearch(int subbook, EbSearchKind kind);

    // The multi searches of the subbook (empty when it has none).
    std::vector<EbMultiSearch> multiSearches(int subbook);
    // The candidate list at block:offset (from EbMultiEntry or a group).
    std::vector<EbCandidate> candidates(int subbook, int block, int offset);
    // eb_search_multi with one word per field ("" leaves a field empty).
    std::vector<EbHit> multiSearch(int subbook, int multi, const std::vector<std::string>& words, int maxHits = 500);

    // Bitmap of gaiji character `code` in the font of the given height (16,
    // 24, 30 or 48), narrow or wide; empty when libeb has no such glyph.
    std::vector<unsigned char> glyph(int subbook, int height, bool wide, int code);

private:
    bool select(int subbook);
    bool selectForText(int subbook);
    void fail(const char* what, int code);

    struct Impl;
    Impl* impl_;
    bool bound_ = false;
    std::string error_;
};

#endif  // LF_HAVE_EB

}  // namespace lftest
