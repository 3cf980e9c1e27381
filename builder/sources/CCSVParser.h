// CCSVParser: the reader of delimited text sources (source type 9): a
// spreadsheet export in UTF-8, UTF-16 or Shift_JIS, its fields separated by
// commas, tabs or "|", described by a field spec of the form
//
//     enc=<utf-8|utf-16|shift_jis>;delim=<,|TAB|"|">;fields=<type>|<type>|...|
//
// with one type per column: "headword", "meaning", "keyword", "kana",
// "html", "id", or nothing (or "-") for a column that is not used. The final
// "|" ends the list. A missing "enc" or "delim" means utf-8 and a comma.
//
// Records: one per line; a field that starts with a double quote is quoted:
// it ends at the next lone quote, a doubled quote stands for one quote, and
// delimiters and line breaks inside it are text (a quoted line break becomes
// a line break of the body). Columns beyond the spec are ignored; columns
// the record lacks leave their roles empty.
//
// Entries: one per record with a headword. Every headword column is searched
// by word (and by kana, as titles are); the first non-empty one is the
// entry's head, followed by its reading "【kana】" when a kana column has
// text. Kana columns feed the kana indexes, keyword columns the keyword index
// (a keyword field may hold several keywords separated by ";"). Meaning and
// html columns, in column order, make the body, each starting on a line of
// its own; html fields are written as inline markup (the elements of the
// markup reader that make sense inside one entry), meaning fields as plain
// text. An id column makes the entry an anchor that links of other sources
// reach. A record without a headword is reported with its line number and
// skipped; so is a spec that cannot be read, which skips the whole source.
#pragma once

#include <string>
#include <vector>

#include "foundation/book/CBlockStream.h"

class CBlockStream;
class CEBBook;
struct ConvertOpt;
struct SOURCE_INFO;

class CCSVParser {
public:
    enum Role { kUnused, kHeadword, kMeaning, kKeyword, kKana, kHtml, kId };
    enum Encoding { kUtf8, kUtf16, kShiftJis };

    struct FieldSpec {
        Encoding encoding = kUtf8;
        char delimiter = ',';
        std::vector<Role> roles;  // one per column
    };

    // Reads a field spec; false with *error naming the fault (an unknown key,
    // encoding, delimiter or type token, or no "fields" item).
    static bool parseFieldSpec(const char* text, FieldSpec* spec, std::string* error);

    // Splits the Shift_JIS text of one line of a record into fields by the
    // delimiter, with the quoting rules above. Returns false when a quoted
    // field is still open at the end of the line: the record goes on with the
    // next line, split with resume set, which adds a line break to the open
    // field and carries on inside it.
    static bool splitRecord(const std::string& text, char delimiter, std::vector<std::string>* fields, bool resume);

    // Writes the inline markup of an html field (Shift_JIS) into body: b,
    // strong, i, em (decorations, EPWING books only), sub, sup, nobr, br and
    // the block elements p, div, li, tr (line breaks), and a with an href
    // inside the book (a reference registered as a link, resolved against
    // the anchors of every source; "http:", "https:", "ftp:" and "mailto:"
    // targets are plain text). Character references are kept for the text
    // writer; every other tag is dropped, its text kept. unresolved is the
    // position an unresolved link keeps.
    static void writeInlineHTML(CEBBook* book, CBlockStream* body, const std::string& html, bool epwing, int sourceNo,
                                const BLOCK_POS& unresolved);

    CCSVParser() = default;
    virtual ~CCSVParser() = default;

    // Converts the source into body as described above. Throws
    // std::runtime_error (empty text for an abort).
    void parseCSV(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* body, int sourceNo,
                  const char* fields);

    int getProgress() const { return m_progress; }
    // Records converted into entries, and records skipped, by the last parse.
    long entryCount() const { return m_entries; }
    long skippedCount() const { return m_skipped; }

private:
    void writeRecord(CEBBook* book, ConvertOpt* opt, CBlockStream* body, const FieldSpec& spec,
                     const std::vector<std::string>& cells, SOURCE_INFO* source, int sourceNo, long line);

    BLOCK_POS m_sourceStart{};
    int m_progress = 0;
    long m_entries = 0;
    long m_skipped = 0;
};
