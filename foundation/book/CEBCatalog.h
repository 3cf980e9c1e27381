// The subbook list of one book: reads and writes the catalog of a book
// directory ("CATALOGS" for EPWING, "CATALOG" for EB, also as ".ebz"), reads
// the LANGUAGE file of an EB book and the header of an SSEDINFO file, and
// presents a PDIC, SQLite user, StarDict or MDict dictionary as a catalog of
// one subbook.
#pragma once

#include <cstddef>

#include "foundation/book/BookConstants.h"
#include "foundation/book/GaijiFonts.h"

// One subbook of a catalog.
struct SUBBOOK_INFO {
    unsigned char recordByte0;          // first byte of the catalog record (type byte)
    unsigned char version;              // EPWING version of the subbook; 0 for EB
    char title[81];                     // Shift_JIS, two-byte codes
    char rawTitle[31];                  // EB: the 30 stored title bytes, unconverted
    char directory[9];                  // subbook directory (may end in blanks for EPWING)
    int fontFlags;                      // gaiji font bits (0x01 wide 16, 0x02 narrow 16, ...)
    char fontNames[FONT_SLOTS][9];      // narrow 16, wide 16, narrow 24, wide 24,
                                        // narrow 30, wide 30, narrow 48, wide 48
    int indexPage;                      // index table block, at least 1
    unsigned char textCompression;      // second record byte 55 (0x11, 0x12: Huffman forms)
    unsigned char graphicsCompression;  // second record byte 54
    unsigned char soundCompression;     // second record byte 53
    char graphicsFileName[9];           // second record bytes 44-51
    char soundFileName[9];              // second record bytes 56-63
    char textFileName[9];               // second record bytes 4-11
};

// What the EPWING catalog of a book says about one file of a subbook.
struct BOOK_FILE_CODE {
    int version;  // EPWING version of the subbook
    int code;     // compression code of the file (0x11, 0x12: Huffman forms; 0 plain)
    int named;    // 1 when the catalog names the file as the subbook's text,
                  // graphics or sound file (an empty text file name means HONMON)
};

class CEBCatalog {
public:
    static const int kMaxEpwingSubbooks = 12;
    static const int kMaxEbSubbooks = 50;

    // Book kinds.
    enum { kEB = 0, kEPWING = 1, kPDIC = 4, kSQLite = 5, kStarDict = 6, kMDict = 7 };

    CEBCatalog();

    // Mode "r": finds and reads the catalog in dir (EPWING: "CATALOGS.ebz" then
    // "CATALOGS"; EB: "CATALOG" then "CATALOG.ebz"; names compared without
    // regard to case) and returns the number of subbooks, 0 on failure.
    // Mode "w": prepares dir + "/CATALOGS" (or "CATALOG") for writeCatalog and
    // returns 0.
    int readCatalog(const char* dir, const char* mode, int epwing);
    // Looks up a file <book>/<subbook>/DATA/<name> in the EPWING catalog of
    // <book>: the first slot whose directory is <subbook> (case and trailing
    // blanks ignored) decides. The code is the graphics compression code when
    // the name (or the name without its extension) is the slot's graphics file
    // name, else the sound code for its sound file name, else the text code.
    // Version 1 slots carry no codes or names (0). 0, or -1 when the path is
    // not such a file, the book has no readable catalog or no slot matches.
    static int fileCompression(const char* path, BOOK_FILE_CODE* out);
    // Sets the language flag from the LANGUAGE file beside the catalog path.
    void readLanguage(const char* catalogPath);
    // One-subbook catalog from the SSEDINFO header of an ".IDX" file; 1 or 0.
    int readSsedInfo(const char* path, const char* mode);

    // One-subbook catalogs of dictionary files; 1, or 0 when the matching
    // reader does not accept the file (or is not linked in).
    int openPdic(const char* path, const char* mode);
    int openSqlite(const char* path, const char* mode);
    int openStarDict(const char* path, const char* mode);
    int openMdict(const char* path, const char* mode);

    // Appends a subbook for writing. title: Shift_JIS (single-byte characters
    // become full-width); directory: at most 8 bytes; fontNames: 72 bytes
    // (eight 9-byte names in slot order) or null; the last three are the
    // second-record names (text file, graphics file, sound file; each at most
    // 8 bytes, optional). 0, or -1 when the catalog is full (12 EPWING / 50 EB
    // subbooks) or a value does not fit its field.
    int addSubbook(const char* title, const char* directory, int recordByte0, int fontFlags, const char* fontNames,
                   int version, const char* textFileName = nullptr, const char* graphicsFileName = nullptr,
                   const char* soundFileName = nullptr);

    // Writes the catalog prepared by readCatalog(dir, "w", epwing) under a
    // temporary name renamed over the catalog (a link there is replaced, an
    // old catalog stays whole on failure); 0 or -1.
    int writeCatalog();

    // Count 0, mode "r".
    void reset();

    // Accessors; null or 0 when i is outside 0..count-1.
    const char* title(int i) const;
    const char* directory(int i) const;
    int firstByte(int i) const;
    SUBBOOK_INFO* subbook(int i);
    const SUBBOOK_INFO* subbook(int i) const;

    int kind() const { return m_kind; }
    int count() const { return m_count; }
    int languageFlag() const { return m_languageFlag; }
    int ssedFlag() const { return m_ssedFlag; }
    int highestVersion() const { return m_highestVersion; }
    const char* catalogPath() const { return m_catalogPath; }
    const char* bookDirectory() const { return m_bookDir; }

    // Shift_JIS to full-width two-byte codes: lead bytes keep their pair,
    // printable single bytes become their full-width code, others 0x00nn.
    // Reads at most len bytes, stopping at a NUL; writes at most outSize bytes
    // including the terminating NUL. The number of code bytes written, or -1
    // when the result does not fit (nothing beyond outSize is written).
    static int sjisToFullWidth(char* out, size_t outSize, const char* in, size_t len);

private:
    int openDictionary(int kind, const char* path, const char* mode);
    int setPaths(const char* path, const char* mode);

    char m_bookDir[256];
    char m_mode[4];
    int m_kind;
    int m_languageFlag;
    int m_ssedFlag;
    char m_catalogPath[256];
    int m_count;
    SUBBOOK_INFO m_subbooks[kMaxEbSubbooks];
    int m_highestVersion;
};
