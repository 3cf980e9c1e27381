// CSAXParser: the reader of HTML, XHTML and XML sources (source type 7)
// through libxml2's HTML push parser. The parser's events (start and end of
// elements, text) drive the same element rules as the markup reader
// (CHTMLParser's event interface): headings, DT/DD, KEY, links, lists,
// tables, and ids as anchors. The file is fed in chunks, with progress and a
// look at the abort flag after each; nothing is loaded from the network and
// no DTD or external entity is read.
//
// Encoding: a byte-order mark (UTF-8, UTF-16) or a declaration in the first
// 64 KiB (XML declaration "encoding", META "charset": UTF-8, Shift_JIS,
// EUC-JP) decides; without one, text that is well-formed UTF-8 is UTF-8 and
// anything else Shift_JIS. The reader converts the document to UTF-8 itself
// (malformed bytes become U+FFFD, NUL characters are dropped), so that an
// encoding error never stops the conversion.
//
// Layout as a browser shows the page: outside PRE a run of white space
// between inline content is one space, and white space at the start or end
// of a block or table cell is nothing; the start and end of every block
// element (P, DIV, headings, lists and their items, DL, DT, DD, table rows,
// BLOCKQUOTE, PRE, the HTML5 sectioning elements) start a new line when text
// is on the line (a DD may go on on its DT's line as the element rules
// decide). The parser closes elements the document leaves open, so that
// every element's end reaches the rules (nested DL in DD, DT after DT).
//
// The first parse error is reported with its line, as the markup reader
// reports its errors; the conversion goes on. An element outside the
// parser's HTML 4 table is no error: the HTML5 ones and those of the markup
// are read silently, any other gets a note (once a document) that does not
// take the place of the first error.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "builder/sources/CHTMLParser.h"

class CBlockStream;
class CEBBook;
struct ConvertOpt;
struct SOURCE_INFO;

class CSAXParser {
public:
    static constexpr size_t kChunk = 64 * 1024;  // bytes fed to the parser at a time

    CSAXParser() = default;
    virtual ~CSAXParser() = default;
    CSAXParser(const CSAXParser&) = delete;
    CSAXParser& operator=(const CSAXParser&) = delete;

    // Receives the first error report of the next parse.
    void setMessageCallback(void (*callback)(const char* text)) {
        m_callback = callback;
        m_rules.setMessageCallback(callback);
    }

    // Converts the file of source into writer (full: dictionary mode, as the
    // markup reader's parse). Throws std::runtime_error for an abort (empty
    // text) and for failures of the writer.
    void parse(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int full, int sourceNumber);

    int getProgress() const { return m_progress; }

    // Parser events (called by libxml2 through the handler's user data).
    void startElement(const char* name, const char** attributes);
    void endElement(const char* name);
    void characters(const char* text, int len);
    void parseError(int line, const char* message);
    // An element the parser's HTML 4 table does not have: nothing for the
    // elements of HTML5 and of the markup, else a note (the first of the
    // document only) that is no error report.
    void unknownElement(int line, const char* name);

private:
    struct Attribute {
        int rank;  // the order in which attributes get the tag's slots
        std::string name, value;
    };
    // The element rules: an element with its attributes as a tag, then the
    // element's id registered as an anchor.
    void registerIdAnchors(const char* name, const char** attributes, bool end);
    void anchorStart(const char* name, const char** attributes) { registerIdAnchors(name, attributes, false); }
    void anchorEnd(const char* name) { registerIdAnchors(name, nullptr, true); }
    void flushText();
    void setLine();

    CHTMLParser m_rules;
    CEBBook* m_book = nullptr;
    CBlockStream* m_writer = nullptr;
    int m_sourceNumber = 0;
    std::string m_tagText;                // the tag as text, for error reports
    std::vector<Attribute> m_attributes;  // of the element being handed over
    int m_hidden = 0;                     // style, script or template elements open
    bool m_inHead = false;                // inside the document head
    bool m_inTitle = false;               // inside its title
    CParseTag0 m_tokenizer;  // parses the rebuilt tags
    void* m_ctxt = nullptr;  // the libxml2 parser while a parse runs
    std::string m_path;
    std::string m_text;  // text gathered since the last element
    int m_pre = 0;       // PRE elements open
    bool m_errorReported = false;
    bool m_noted = false;  // an unknown element was noted
    void (*m_callback)(const char* text) = nullptr;
    // White space layout: inline content is on the current line box, a
    // space waits to be written before the next content, a space was
    // written after the last content.
    bool m_lineText = false;
    bool m_space = false;
    bool m_spaced = false;
    std::exception_ptr m_failure;
    int m_progress = 0;
};
