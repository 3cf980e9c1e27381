// Reader of tagged dictionary markup (an HTML subset and JEPAX-style
// dictionary markup; source types 0 and 1) and of HTML / XML pages such as
// the copyright page. It converts one file into book text through the body
// writer and registers with the book writer the headings (menu items and
// title entries), anchors, links, record numbers and search keys that the
// markup names. Tokens come from a CParseTag0 of its own, whose code stack
// keeps the element context.
//
// Choices this reader makes where the markup leaves them open:
// - KEY elements are search keys only, never body text. type "hyoki",
//   "headword" (and the Japanese words for notation and headword) give word
//   entries for the prefix and suffix indexes; "kana" (and the Japanese word
//   for kana) kana entries; "keyword" keyword entries; "cross" cross-search
//   entries; "complex" complex-search entries of the field that the "name"
//   attribute names (CEBBook::addComplexEntry); other types are read and
//   dropped. Each key refers to the current entry (the last
//   heading, DT or HEADWORD) and is shown with its "title" attribute, else
//   the entry's heading, else the key itself.
// - Links whose target starts with "http:", "https:", "ftp:" or "mailto:"
//   (case ignored) lead out of the book: their text is written as plain
//   text. Targets and media sources ending in .wav .mid .avi .mpg .mpeg
//   .bmp .dib .jpg .jpeg .png .gif go to CEBBook::beginMediaRef; the text
//   (or the "alt" text) is the reference's text, or plain text when the
//   book makes no reference of it.
// - A (href) links by anchor name, EA (refid, else href) by record number
//   (the n-th DT of the book, from 0), REF (idref) by anchor name.
// - With linkChar 1 a REF is preceded by the arrow mark (Shift_JIS 81A8),
//   with 2 by the JIS X 0208 character that arrowCode names in four
//   hexadecimal digits ("222A" is the arrow); the mark is no part of the
//   reference. With dfnStyle a DFN's "title" is written before its text.
// - With singleLine the body after a HEAD or NOTE heading goes on on the
//   heading's line, after a space, as DD does after DT.
// - An unresolved link keeps the start of its source's text as target.
// - UTF-8 text is taken as such after a META charset / content or an XML
//   declaration naming UTF-8; everything else is read as Shift_JIS.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "builder/CParseTag0.h"
#include "foundation/book/CBlockStream.h"

class CEBBook;
class CGaiji;
struct ConvertOpt;
struct SOURCE_INFO;

class CHTMLParser {
public:
    static constexpr int kRunBuffer = 64000;  // Shift_JIS bytes converted at a time
    static constexpr int kMaxTitle = 255;     // bytes of a heading title
    static constexpr int kMaxListDepth = 50;
    static constexpr int kMaxErrorContext = 128;

    CHTMLParser();
    virtual ~CHTMLParser();
    CHTMLParser(const CHTMLParser&) = delete;
    CHTMLParser& operator=(const CHTMLParser&) = delete;

    // Receives the first error report of the next parse (then cleared).
    void setMessageCallback(void (*callback)(const char* text)) { m_callback = callback; }

    // Converts the file of source into writer. full non-zero: dictionary
    // mode (headings open entries, options from opt); zero: page mode
    // (ruby on, no newline after headings, no menu). Throws
    // std::runtime_error for an abort (empty text) and allocation failures.
    void parse(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int full, int sourceNumber);

    // The same conversion driven by a reader that tokenizes the file itself
    // (the event-parser reader): beginEvents, then the tags and texts in
    // document order, then endEvents. With utf8 set the texts and attribute
    // values are UTF-8 whatever the document declares; else they are read as
    // parse reads them. Text is passed as the markup would hold it: a "&"
    // starts a character reference. With balanced set every element's end
    // comes as an event of its own (the parser closes what the document
    // leaves open), so DT and DD close nothing of what is around them and a
    // DL nests in a DD; an ordered list item's number is followed by a space.
    void beginEvents(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int full,
                     int sourceNumber, bool utf8, bool balanced);
    void tagEvent(const TAG_ITEM& tag, const char* token, int len);
    void textEvent(const char* text, int len);
    // A block of the document starts or ends: the text goes on on a new line
    // unless nothing is on the current one (or it is joined to the heading
    // before it, which the block's own rule then settles).
    void blockEvent();
    void endEvents();
    // The source line of the next events, for error reports (0: the
    // tokenizer's own line).
    void setEventLine(int line) { m_eventLine = line; }

    // " Error in FILE (Line=N) : MESSAGE\n\n" and at most 128 bytes of the
    // context, all as valid UTF-8, to the callback, which is then cleared.
    void reportError(const char* file, const CParseTag0* tokenizer, const char* message, const char* context,
                     int contextLen);

    // Decides whether tag ends the current line (see the source for the
    // codes); 1 when the caller should write an indent.
    int endBlock(int tag, CBlockStream* writer, int full);

    // Registers the "id" attribute (case ignored) as an anchor at the
    // writer's position.
    void registerIds(CEBBook* book, const TAG_ITEM* tag, CBlockStream* writer, int sourceNumber);

    // Gives gaiji entries to the numeric references "&#xHHHH;" / "&#DDD;"
    // of text whose character has no Shift_JIS form or one in the
    // user-defined rows 0xFA40..0xFC4F.
    static void reserveGaiji(CGaiji* gaiji, const char* text, int length);

private:
    struct LinkState {
        bool reference;  // a reference code was written
        bool media;      // a media reference was begun
        int kind;
        std::string target;
    };
    struct Options {
        bool ruby = true;
        bool newlineAfterHeading = false;
        bool dtHeadings = false;
        bool menu = false;
        bool headingIndex = false;
        bool single = false;
        bool figures = false;
        bool epwing = true;
        int pageWidth = 480;
        int linkChar = 0;       // the mark before a REF (writeLinkMark)
        bool dfnTitle = false;  // a DFN shows its "title" first
    };

    void handleTag(const TAG_ITEM& tag, const char* token, int len);
    void handleText(const char* text, int len);
    // The working (Shift_JIS) form of bytes of the file.
    void toWorking(const char* p, int n, std::string* out);
    // Attribute value by name (case ignored), in the working form; false
    // when absent.
    bool attribute(const TAG_ITEM& tag, const char* name, std::string* value);
    void error(const char* message);
    void indent(int level);
    // A new line unless the writer is at a line's start, or the line is
    // joined to the heading before it (joinNextLine).
    void breakLine();
    // With the single-line option, after a HEAD or NOTE heading: a space,
    // and the next block starts on the heading's line.
    void joinNextLine();
    // Before a REF, with the link mark option: 1 the arrow, 2 the character
    // arrowCode names.
    void writeLinkMark();
    void beginHeading(const TAG_ITEM& tag, int menuLevel, bool keyword);
    void endHeading(bool keyword);
    void registerHeading();
    void beginLink(const TAG_ITEM& tag);
    void endLink();
    // Closes a reference: end code, placeholder, link registered.
    void finishLink(const LinkState& link);
    void endKey();
    void writeMedia(const TAG_ITEM& tag);
    void writeGaijiTag(const TAG_ITEM& tag);
    void addTitle(const char* text, int len);
    void tableCell(const TAG_ITEM& tag, bool header);
    void closeAll();
    std::string resolvePath(const std::string& path) const;
    bool popIf(int code, const char* message);
    const BLOCK_POS& entryPos() const { return m_haveEntry ? m_entryPos : m_textStart; }

    CEBBook* m_book = nullptr;
    ConvertOpt* m_opt = nullptr;
    CBlockStream* m_writer = nullptr;
    std::unique_ptr<CParseTag0> m_tok;
    CGaiji* m_gaiji = nullptr;
    int m_progress = 0;
    void (*m_callback)(const char* text) = nullptr;
    int m_headingLevels[10] = {};

    Options m_o;
    int m_full = 0;
    int m_sourceNumber = 0;
    std::string m_path;
    std::string m_dir;
    int64_t m_size = 0;
    int64_t m_consumed = 0;
    bool m_utf8 = false;
    bool m_utf8Fixed = false;  // the encoding is not the document's to choose
    bool m_balanced = false;   // every element's end is an event (beginEvents)
    int m_eventLine = 0;
    const char* m_token = nullptr;  // the current token, for error reports
    int m_tokenLen = 0;

    std::vector<char> m_sjisBuf;
    std::string m_run;
    std::string m_attrValue;

    // Heading being collected and the current entry.
    int m_inHeading = 0;
    std::string m_title;
    bool m_titleTooLong = false;
    std::string m_titleAttr;
    bool m_noindex = false;
    int m_headingMenuLevel = 0;
    bool m_keywordOpen = false;
    bool m_haveEntry = false;
    BLOCK_POS m_entryPos{};
    BLOCK_POS m_sourceStart{};  // before the text start code
    BLOCK_POS m_textStart{};
    const char* m_entryHeading = nullptr;
    int m_entryHeadingLen = 0;
    int m_sectionLevel = 0;

    int m_level = 0;  // DIV / DIC-ITEM nesting
    int m_base = 0;   // indent base (DL, BLOCKQUOTE)
    int m_listDepth = 0;
    int m_olNumber[kMaxListDepth + 1] = {};
    bool m_inOrderedList[kMaxListDepth + 1] = {};

    int m_tableWidth = 0;
    int m_colWidth[64] = {};
    int m_col = 0;
    int m_cellStart = 0;

    int m_prevTag = 0;
    bool m_joinLine = false;  // the next block continues the current line
    bool m_keyHold = false;
    std::vector<LinkState> m_links;
    int m_keyType = 0;
    std::string m_keyText;
    std::string m_keyTitle;
    std::string m_keyName;  // KEY "name": the complex-search field
    int m_decoration = 0;
    int m_sup = 0, m_sub = 0, m_nobr = 0, m_rt = 0;
};

// 1 for H1 and any code outside 14..22; 2..6 for the open codes of H2..H6.
int headingLevel(int code);
// Level of a Japanese heading word (Shift_JIS): 1 for the words for large
// heading and part, 2 for middle heading, chapter and section, 3 for small
// heading, 4, 5, 6, 6, 6, 6 for the word for heading followed by 1 to 6
// (ASCII or full-width digit); -1 for anything else.
int headingWordLevel(const char* word, int length);
// Copies in without CR, LF and anything from "<" to the next ">" (a tag
// name scanned at most 256 bytes); returns the bytes written.
int stripTags(char* out, const char* in, int length);
// A path of this platform ("/..."), a UNC path ("\\..."), or a drive path
// ("C:/", "C:\").
bool isAbsolutePath(const char* path);
// A link target that leads out of the book: it starts with "http:",
// "https:", "ftp:" or "mailto:" (case ignored).
bool isExternalTarget(const std::string& target);
