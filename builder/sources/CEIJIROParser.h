// CEIJIROParser: the reader of EIJIRO text sources (source type 3), lines of
// the form
//
//     ■headword  {part of speech} : translation◆note■・example
//
// in Shift_JIS (a file that starts with a UTF-16 or UTF-8 byte-order mark is
// read in that encoding, and one whose whole text is well-formed UTF-8 with
// characters beyond ASCII as UTF-8). The part-of-speech label is optional; notes start
// with "◆" and examples with "■・" anywhere in the translation; notes carry
// items such as 【発音】 (pronunciation) and 【＠】 (katakana reading),
// separated by "、"; kanji may carry their reading in full-width braces
// ｛よみ｝. Consecutive lines with the same headword form one entry, one
// line of body text per source line (a line that leaves nothing to write
// adds none).
//
// The headword's own line lists such items right after " : "
// ("■abandon : 【発音】...、【＠】アバンダン"): a translation that starts with
// "【" is such a list, and its 【発音】 and 【＠】 items follow the options as
// those of a note do. A headword of the Japanese-English form carries the
// reading of the whole word at its end ("■愛｛あい｝  {名} : love"): the
// search key is the headword without its readings, the reading becomes a
// kana key of the entry (when the book has a kana index), and the heading
// follows eijiYomi as the body does (with 1 the head of the entry shows the
// reading as a superscript, the heading list, plain text, shows it in its
// braces). Readings standing inside a headword give it no kana key.
//
// The options:
//   eijiPartOfSpeech 1: the part-of-speech label is written before its
//                       translation as "{label}"; 0: left out.
//   eijiBreak        1: every note and example starts a line of its own;
//                    0: they follow the translation after a space.
//   eijiPronon       1: 【発音】 items are kept; 0: left out.
//   eijiKana         1: 【＠】 items are kept and their katakana reading is
//                       registered for kana search; 0: left out.
//   eijiYomi         0: ｛よみ｝ readings are removed; 1: written as a
//                       superscript after the kanji; 2: kept as they are.
// A line that does not start with "■" or has no " : " is reported with its
// line number (the first 20, then a count) and skipped. A source that gives
// no entry at all is a failed source (CEBBook::failSource).
#pragma once

#include <string>
#include <vector>

class CBlockStream;
class CEBBook;
struct BLOCK_POS;
struct ConvertOpt;
struct SEARCH_KEY_ENTRY;
struct SOURCE_INFO;

class CEIJIROParser {
public:
    // One source line taken apart (Shift_JIS).
    struct Line {
        std::string headword;               // as written, readings included
        std::string key;                    // the headword without its readings
        std::string reading;                // reading of the whole headword; empty when none
        bool items = false;                 // the translation is a list of 【...】 items
        std::string partOfSpeech;           // without its braces; empty when none
        std::string translation;            // before the first note or example
        std::vector<std::string> notes;     // each without its "◆"
        std::vector<std::string> examples;  // each without its "■・"
        std::vector<std::string> kana;      // values of 【＠】 items
    };

    // Takes one line apart; false when it is not an EIJIRO line.
    static bool splitLine(const std::string& text, Line* line);
    // A note with the items the options leave out removed ("" when nothing
    // is left).
    static std::string filterNote(const std::string& note, const ConvertOpt& opt);
    // The reading of a whole headword: the one ｛よみ｝ that ends it, after
    // some text ("" when there is none).
    static std::string readingOf(const std::string& headword);
    // Text with its ｛よみ｝ readings removed (mode 0) or kept (2); mode 1
    // keeps them too, the writer turns them into superscripts.
    static std::string applyYomi(const std::string& text, int mode);

    CEIJIROParser() = default;
    virtual ~CEIJIROParser() = default;

    // Converts the source into body. Throws std::runtime_error (empty text
    // for an abort).
    void parse(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* body, int sourceNo);

    int getProgress() const { return m_progress; }
    long entryCount() const { return m_entries; }
    long skippedCount() const { return m_skipped; }

private:
    void writeHead(CEBBook* book, ConvertOpt* opt, CBlockStream* body, const Line& line, int sourceNo,
                   const char** stored, int* storedLen, BLOCK_POS* pos, SEARCH_KEY_ENTRY** entry);
    void writeText(CBlockStream* body, const std::string& text, const ConvertOpt& opt);

    int m_progress = 0;
    long m_entries = 0;
    long m_skipped = 0;
};
