// What the line-oriented source readers (PDIC text, delimited text, EIJIRO
// text) share: the lines of a text file converted to Shift_JIS, and the
// writing of one entry (head with its keyword run, body, automatic keywords,
// progress) into the body stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "builder/sources/CUTF16Reader.h"
#include "foundation/book/CBlockStream.h"

class CEBBook;
struct ConvertOpt;
struct SEARCH_KEY_ENTRY;

// Encodings of a text source.
enum SourceEncoding { kSourceShiftJis, kSourceUtf8, kSourceUtf16 };

// Lines of a text source converted to Shift_JIS (characters without a
// Shift_JIS form become references that the text writer turns into gaiji),
// without their line end. Lines are read byte by byte (or unit by unit), so a
// NUL inside a line neither cuts it nor joins it to the next; a line longer
// than kMaxLine goes on as a new line. A UTF-8 byte-order mark at the start
// of the file is dropped, a UTF-16 one decides the byte order (no mark:
// big-endian).
class CSourceLines {
public:
    static const size_t kMaxLine = 16u << 20;

    // what names the reader in the out-of-memory message.
    CSourceLines(FILE* file, SourceEncoding encoding, CEBBook* book, const char* what);

    // The next line into line; false at the end of the file (nothing read).
    bool next(std::string* line);
    // Lines read so far (the number of the line last returned).
    long lineNumber() const { return m_lineNumber; }

private:
    bool readBytes(std::string* line);
    bool readUnits(std::string* line);
    void flushUnits(std::string* line, int* count, bool all);
    void convertUtf8(std::string* line);

    FILE* m_file;
    SourceEncoding m_encoding;
    CEBBook* m_book;
    CUTF16Reader m_reader;
    long m_lineNumber = 0;
    int m_byteSize = 0;
    std::unique_ptr<char[]> m_bytes;
    std::unique_ptr<uint32_t[]> m_wide;
    std::string m_raw;
};

// Byte length of the Shift_JIS character at text[i] (never past the end).
size_t sjisCharLength(const std::string& text, size_t i);
// The first place at or after from where pattern starts at a character
// boundary (a trail byte never starts a match), or std::string::npos.
size_t findSjis(const std::string& text, const std::string& pattern, size_t from = 0);

// The common start of a source: fresh recent-entry ring, gaiji table, text start.
void beginSource(CEBBook* book, CBlockStream* writer);
// The common end of a source: progress full, text end.
void endSource(CEBBook* book, CBlockStream* writer, int* progress);
// Opens a text source: null when it does not open or has fewer than two
// bytes; *utf16 tells whether it starts with the UTF-16 mark FF FE.
FILE* openText(const char* path, bool* utf16);
// Whether the whole of an open file is well-formed UTF-8 holding at least
// one character beyond ASCII (a file of ASCII alone reads the same either
// way and stays Shift_JIS). Reads the file once and rewinds it.
bool holdsUtf8Text(FILE* f);
// The encoding of an open text source: the mark FF FE means UTF-16, the mark
// EF BB BF UTF-8; without a mark, text that holdsUtf8Text is UTF-8 and any
// other Shift_JIS. Leaves the file at its start.
SourceEncoding textEncoding(FILE* f);
// The common start, then the file opened. When it does not open, the text is
// ended at once and null returned.
FILE* beginTextSource(CEBBook* book, CBlockStream* writer, const char* path, bool* utf16);
int64_t filePos(FILE* f);

// Registers the headword (and its search key, when one is given) at the
// writer's position. Returns the entry addTitle gave (null when none);
// *stored gets the stored headword and *at the entry's position, which its
// automatic keywords share.
SEARCH_KEY_ENTRY* registerHead(CEBBook* book, CBlockStream* writer, const char* word, int wordLen, const char* key,
                               int keyLen, int sourceNo, const char** stored, BLOCK_POS* at);
// The markup around the headword of an entry head: indent and keyword start
// before it, keyword end and the break to the body after it.
void beginHeadKeyword(CBlockStream* writer);
void endHeadKeyword(CBlockStream* writer, const ConvertOpt* opt);
// Registers the headword at the writer's position and writes the entry head.
SEARCH_KEY_ENTRY* writeEntryHead(CEBBook* book, ConvertOpt* opt, CBlockStream* writer, const char* word, int wordLen,
                                 const char* key, int keyLen, int sourceNo, const char** stored, BLOCK_POS* at);
// Automatic keywords of an entry's body.
void bodyRun(CEBBook* book, SEARCH_KEY_ENTRY* entry, const char* heading, int headingLen, const char* text, int len,
             const BLOCK_POS& pos, int sourceNo);
// Reports the progress of a source after an entry (100 is left for its end)
// and gives a cancel its chance.
void entryProgress(CEBBook* book, int64_t done, int64_t total, int* progress);
// Ends an entry: a newline, then the progress.
void endEntry(CEBBook* book, CBlockStream* writer, int64_t done, int64_t total, int* progress);
// One entry of a text source: the head, the body (when there is one) with its
// automatic keywords, the entry end with the progress read from the file.
void writeTextEntry(CEBBook* book, ConvertOpt* opt, CBlockStream* writer, const char* word, int wordLen,
                    const std::string& body, int sourceNo, FILE* file, int64_t fileSize, int* progress);
