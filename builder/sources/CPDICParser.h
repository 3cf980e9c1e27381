// CPDICParser: the source readers of PDIC text (two-line form, source type 2;
// one-line form "word /// text", type 5) and of PDIC dictionary files (type
// 6). Each writes one entry per record into the body text (headword as a
// keyword run, then the body) and registers the headword with the book
// writer. One parser serves one source; failures of memory are thrown as
// std::runtime_error, a cancel as std::runtime_error("").
#pragma once

#include <string>
#include <vector>

class CBlockStream;
class CEBBook;
struct ConvertOpt;
struct SOURCE_INFO;

// One row of a notation table: the first row whose key equals the text over
// the key length is replaced by its replacement.
struct NOTATION_ROW {
    const char* key;
    int keyLen;
    const char* replacement;
    int flag;  // not read by these readers
};

class CPDICParser {
public:
    CPDICParser();
    virtual ~CPDICParser();
    CPDICParser(const CPDICParser&) = delete;
    CPDICParser& operator=(const CPDICParser&) = delete;

    void parsePDICText(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int sourceNo);
    void parsePDIC1LINE(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int sourceNo);
    void parsePDICDic(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer, int sourceNo);

    int getProgress() const { return m_progress; }

    // The replacements of a table's rows as characters of the book: a
    // replacement that is a reference ("&aacute;", "&#x0259;") becomes the
    // Shift_JIS character when JIS X 0208 has it, else a reference with a
    // gaiji reserved for it, as the book's other readers reserve them. A row
    // is made the first time it is used, so that only characters the book
    // has take gaiji codes. Plain replacements ("`", " ") stay as they are.
    class RowTexts {
    public:
        RowTexts(CEBBook* book, const NOTATION_ROW* table, int rows);
        const char* text(int row);
        // The working text of one replacement (see above).
        static std::string characterOf(CEBBook* book, const char* replacement);

    private:
        CEBBook* m_book;
        const NOTATION_ROW* m_table;
        std::vector<std::string> m_texts;
        std::vector<bool> m_made;
    };

    // Notation tables: 1 the phonetic table, 2 the Latin (Windows-1252) table.
    static const NOTATION_ROW* notationTable(int which, int* rows);
    // Copies text to out (outSize bytes at most, NUL-terminated when room is
    // left), each matched row's key replaced (by its RowTexts text when
    // texts is given); the bytes written. Rows are matched at character
    // starts: a Shift_JIS character whose first byte matches no row is
    // copied whole, and so is a hexadecimal reference "&#x...;" (a character
    // the text's conversion from Unicode wrote as a reference), so that no
    // row takes its "&", "#" or ";".
    static int convertByTable(const char* text, int length, char* out, int outSize, const NOTATION_ROW* table, int rows,
                              RowTexts* texts = nullptr);
    // The same, each replacement and unmatched character written through
    // writeText.
    static void writeByTable(CBlockStream* writer, const char* text, int length, const NOTATION_ROW* table, int rows,
                             RowTexts* texts = nullptr);
    // Index of the first row matching at text (length bytes left), or -1.
    static int findTableRow(const char* text, int length, const NOTATION_ROW* table, int rows);

private:
    int m_progress;
};
