// A small probe of our own around the EB Library (libeb), used by tests as an
// independent reader of the books we write, so that a failing check says
// which side disagrees. One EbProbe binds one book directory (eb_bind) for
// its life; every read names the subbook by its index in subbooks().
//
//   lftest::EbProbe probe(bookDir);
//   ASSERT_TRUE(probe.ok()) << probe.error();
//   auto subbooks = probe.subbooks();             // titles, directories
//   auto bytes = probe.readText(0, 2, 0, 64);     // raw text bytes at block 2
//   auto hits = probe.search(0, lftest::EbSearchKind::Word, {"\x82\xa0"});
//   auto read = probe.searchText(0, lftest::EbSearchKind::Word, {"\x82\xa0"});
//   read[0].heading, read[0].text
//
// Texts go in and come out as Shift_JIS (libeb's EUC-JP is converted here by
// arithmetic, without the library's own conversions). The EB Library's
// command-line tools are run through ebunzipBook.
#pragma once

#include <string>
#include <vector>

#include "tests/common/Bytes.h"

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
    std::string heading;  // searchText only: eb_read_heading at the heading position
    std::string text;     // searchText only: eb_read_text at the text position
};

enum class EbSearchKind { Word, ExactWord, EndWord, Keyword, Cross };

// One media event of a text as libeb's hooks report it: the hook's name
// ("begin-mono", "end-mono", "begin-color-bmp", "begin-color-jpeg",
// "begin-in-color-bmp", "begin-in-color-jpeg", "end-color",
// "end-in-color", "begin-wave", "end-wave", "begin-mpeg", "end-mpeg") and
// the arguments libeb hands it (argv[0] is the escape code).
struct EbMediaEvent {
    std::string hook;
    std::vector<unsigned> argv;
};

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

// One reference of a text as libeb's reference hooks report it: the text
// between its begin and end codes (rendered by libeb, as Shift_JIS) and the
// position it leads to.
struct EbReference {
    std::string text;
    int block = 0;
    int offset = 0;
};

struct EbCopyright {
    bool found = false;  // libeb reports a copyright page
    int block = 0;       // its position
    int offset = 0;
    Bytes raw;  // up to maxBytes raw text bytes from there
};

class EbProbe {
public:
    explicit EbProbe(const std::string& bookDir);
    ~EbProbe();
    EbProbe(const EbProbe&) = delete;
    EbProbe& operator=(const EbProbe&) = delete;

    // True when libeb bound the book directory.
    bool ok() const { return m_bound; }
    // libeb's message for the last failure ("" when none).
    const std::string& error() const { return m_error; }
    // 0 EB, 1 EPWING, -1 unknown.
    int discType();

    std::vector<EbSubbook> subbooks();

    // Up to maxBytes raw bytes of the subbook's text from block:offset
    // (eb_seek_text, then eb_read_rawtext until maxBytes or the text's end);
    // what was read before a failure (see error()).
    Bytes readText(int subbook, int block, int offset, size_t maxBytes);
    // The text at block:offset through libeb's default hooks, as Shift_JIS
    // (eb_read_text); what was read before a failure.
    std::string readRenderedText(int subbook, int block, int offset, size_t maxBytes = 4096);
    // The same through every entry to the end of the text (the end code of
    // a source), not only to the start of the next entry.
    std::string readWholeText(int subbook, int block, int offset, size_t maxBytes = 1 << 22);
    // The heading at block:offset (eb_read_heading), as Shift_JIS.
    std::string readHeading(int subbook, int block, int offset, size_t maxBytes = 1024);
    // The start of the subbook's text (eb_text); false on failure.
    bool textStart(int subbook, int* block, int* offset);
    // The position of the subbook's menu (eb_menu); false when it has none
    // or on failure.
    bool menu(int subbook, int* block, int* offset);

    // The subbook's copyright page (eb_copyright) and up to maxBytes raw
    // bytes of it; found is false when there is none or on failure.
    EbCopyright copyright(int subbook, size_t maxBytes = 256);

    // Runs one search on the subbook. Word, ExactWord and EndWord use words[0];
    // Keyword and Cross take up to five words. Words are Shift_JIS. The hits
    // in libeb's order (positions only), or an empty list when none or on
    // failure (error() tells which).
    std::vector<EbHit> search(int subbook, EbSearchKind kind, const std::vector<std::string>& words, int maxHits = 500);
    // The same, with the heading and the text (up to 4096 bytes) of each hit
    // read back through libeb; a position libeb cannot seek to reads as
    // "<seek failed>".
    std::vector<EbHit> searchText(int subbook, EbSearchKind kind, const std::vector<std::string>& words,
                                  int maxHits = 500);
    // Headings of the hits of searchText, in order.
    std::vector<std::string> headings(int subbook, EbSearchKind kind, const std::vector<std::string>& words);
    bool haveSearch(int subbook, EbSearchKind kind);

    // The multi searches of the subbook (empty when it has none).
    std::vector<EbMultiSearch> multiSearches(int subbook);
    // The candidate list at block:offset (from EbMultiEntry or a group).
    std::vector<EbCandidate> candidates(int subbook, int block, int offset);
    // eb_search_multi with one word per field ("" leaves a field empty).
    std::vector<EbHit> multiSearch(int subbook, int multi, const std::vector<std::string>& words, int maxHits = 500);

    // Bitmap of gaiji character `code` in the font of the given height (16,
    // 24, 30 or 48), narrow or wide; empty when libeb has no such glyph.
    Bytes glyph(int subbook, int height, bool wide, int code);

    // The media hooks that libeb calls while it reads the text at
    // block:offset (eb_read_text with hooks of our own), in order.
    std::vector<EbMediaEvent> mediaEvents(int subbook, int block, int offset, size_t maxBytes = 4096);
    // Every reference of the text at block:offset to the end of the text
    // (eb_read_text with libeb's reference hooks, through every entry), in
    // text order.
    std::vector<EbReference> references(int subbook, int block, int offset, size_t maxBytes = 1 << 20);
    // Binary data through libeb (eb_set_binary_* and eb_read_binary), up to
    // maxBytes; empty on failure (see error()). A monochrome graphic comes
    // back as libeb's BMP file of the bitmap, a colour graphic as the
    // stored BMP or JPEG data, a sound as libeb's WAVE file, a movie as
    // its file (argv: the four name words of the movie hook).
    Bytes monoGraphic(int subbook, int block, int offset, int width, int height, size_t maxBytes = 1 << 20);
    Bytes colorGraphic(int subbook, int block, int offset, size_t maxBytes = 1 << 20);
    Bytes wave(int subbook, int startBlock, int startOffset, int endBlock, int endOffset, size_t maxBytes = 1 << 20);
    Bytes mpeg(int subbook, const std::vector<unsigned>& nameWords, size_t maxBytes = 1 << 20);

private:
    // The hits of the search just run (eb_hit_list), at most maxHits.
    std::vector<EbHit> hitList(int maxHits);
    bool select(int subbook);
    bool selectForText(int subbook);
    // eb_read_binary until the end or maxBytes, after a successful set-up.
    Bytes readBinary(int rc, const char* what, size_t maxBytes);
    bool seek(int block, int offset);
    void fail(const char* what, int code);

    struct Impl;
    Impl* m_impl;
    bool m_bound = false;
    std::string m_error;
};

// Runs the EB Library's `ebunzip` over the book into outDir (kept input,
// quiet). True on exit 0; output, when not null, gets what it printed. With
// timeoutSeconds, a run that takes longer (ebunzip loops on some damaged
// files) is ended and counts as failed.
bool ebunzipBook(const std::string& bookDir, const std::string& outDir, std::string* output = nullptr,
                 int timeoutSeconds = 0);

}  // namespace lftest
