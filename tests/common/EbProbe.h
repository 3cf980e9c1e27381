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

// One media event of a text as libeb's hooks report it: the hook's name
// ("begin-mono", "end-mono", "begin-color-bmp", "begin-color-jpeg",
// "begin-in-color-bmp", "begin-in-color-jpeg", "end-color",
// "end-in-color", "begin-wave", "end-wave", "begin-mpeg", "end-mpeg") and
// the arguments libeb hands it (argv[0] is the escape code).
struct EbMediaEvent {
    std::string hook;
    std::vector<unsigned> argv;
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

    // Bitmap of gaiji character `code` in the font of the given height (16,
    // 24, 30 or 48), narrow or wide; empty when libeb has no such glyph.
    std::vector<unsigned char> glyph(int subbook, int height, bool wide, int code);

    // The media hooks that libeb calls while it reads the text at
    // block:offset (eb_read_text with hooks of our own), in order.
    std::vector<EbMediaEvent> mediaEvents(int subbook, int block, int offset, size_t maxBytes = 4096);
    // Binary data through libeb (eb_set_binary_* and eb_read_binary), up to
    // maxBytes; empty on failure (see error()). A monochrome graphic comes
    // back as libeb's BMP file of the bitmap, a colour graphic as the
    // stored BMP or JPEG data, a sound as libeb's WAVE file, a movie as
    // its file (argv: the four name words of the movie hook).
    std::vector<unsigned char> monoGraphic(int subbook, int block, int offset, int width, int height,
                                           size_t maxBytes = 1 << 20);
    std::vector<unsigned char> colorGraphic(int subbook, int block, int offset, size_t maxBytes = 1 << 20);
    std::vector<unsigned char> wave(int subbook, int startBlock, int startOffset, int endBlock, int endOffset,
                                    size_t maxBytes = 1 << 20);
    std::vector<unsigned char> mpeg(int subbook, const std::vector<unsigned>& nameWords, size_t maxBytes = 1 << 20);

private:
    bool select(int subbook);
    bool selectForText(int subbook);
    // eb_read_binary until the end or maxBytes, after a successful set-up.
    std::vector<unsigned char> readBinary(int rc, const char* what, size_t maxBytes);
    void fail(const char* what, int code);

    struct Impl;
    Impl* impl_;
    bool bound_ = false;
    std::string error_;
};

#endif  // LF_HAVE_EB

}  // namespace lftest
