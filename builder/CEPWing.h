// CEPWing: the conversion driver through which a program runs a build. It
// owns the option record, the current book record, the catalog and the book
// writer, and forwards the per-book work to the book writer.
//
//   CEPWing* w = new CEPWing; w->init();
//   w->setIntOption("titleLen", 64); w->setMessageCallback(cb);
//   w->setOutput("/out/", 1);
//   w->newBook(title, "DICT", 0x60, ...); w->addSource(path, nullptr, 4, nullptr);
//   w->setCopyright(path); BookResult r = w->makeBook();
//   bool catalogWritten = w->closeCatalog(); w->term(); delete w;
//
// Nothing throws out of the driver: the book writer reports its own errors
// through the message callback, and the results say what was written.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "builder/BookResult.h"
#include "builder/ConvertOpt.h"

class CEBBook;
class CEBCatalog;
class CHexFontFile;

class CEPWing {
public:
    CEPWing();
    virtual ~CEPWing();
    CEPWing(const CEPWing&) = delete;
    CEPWing& operator=(const CEPWing&) = delete;

    // Zero the records, apply the defaults, create the catalog and the book
    // writer.
    void init();
    // Deletes the book writer and the catalog.
    void term();

    // Also notes the books of the catalogs already in the folder.
    void setOutput(const char* outPath, int ebType);
    // Writes the catalog of every registered book; then removes the other
    // family's catalog and compressed forms of this one, and names the
    // earlier books the new catalog does not list (their folders are left as
    // they are). False (after a message) when it cannot be written, and when
    // no book is registered: a catalog of no book would leave the folder
    // unreadable, so the catalog there (if any) and every other file are
    // left as they were.
    bool closeCatalog();

    // Options by name, names compared without regard to case; unknown names
    // change nothing and read as 0 or "".
    void setIntOption(const char* name, int value);
    int getIntOption(const char* name) const;
    void setBoolOption(const char* name, bool value);
    int getBoolOption(const char* name) const;
    void setStringOption(const char* name, const char* text);
    const char* getStringOption(const char* name) const;

    void setMessageCallback(void (*callback)(const char* text));

    // fontNames: 8 slots of 9 bytes (8x16, 16x16, 12x24, 24x24, 16x30, 32x30,
    // 24x48, 48x48) or null. -1 for a null or invalid directory name or an
    // over-long value (with a message; nothing registered), else the result
    // of opening the book.
    int newBook(const char* title, const char* dirName, int bookTypeID, const char* gaijiFont, const char* gaijiMap,
                const char* complexDef, const char* keywordFile, int fontMask, const char* fontNames, int indexDef,
                bool separateMMData, uint16_t hanStart, uint16_t zenStart);
    int addCatalogBook(const char* title, const char* dirName, int bookTypeID, int fontMask, const char* fontNames,
                       bool separateMMData);
    // Gives the current book the hex font at path: 0, or -1 when it cannot
    // be opened or has none of the hex sizes. Each path is opened once
    // between init and term and the font is shared by every book of the
    // run; its glyphs are read when a book first needs one.
    int loadHexFont(const char* path);
    int addSource(const char* path, const char* title, int type, const char* fields);
    // Counts a source of the current book that the program did not add (it
    // has named it in the log): a book none of whose sources could be added
    // or read is not written (makeBook: written false).
    void leaveOutSource();
    int setCopyright(const char* path);
    // Builds the current book; how it ended (nothing written when no book
    // was started).
    BookResult makeBook();
    void saveGlossviewGaijiMap(const char* path);
    void abort();
    int getProgress() const;

    // Read access for programs and tests.
    const ConvertOpt& options() const { return m_opt; }
    const BOOK_SPEC& bookSpec() const { return m_spec; }
    CEBBook* book() { return m_book; }
    CEBCatalog* catalog() { return m_catalog; }

private:
    void initOptions();
    void freeStrings();
    int fillBookSpec(const char* title, const char* dirName, int bookTypeID, int fontMask, const char* fontNames,
                     bool separateMMData);
    int registerSubbook();
    void report(const char* text) const;

    ConvertOpt m_opt;
    BOOK_SPEC m_spec;
    CEBCatalog* m_catalog;
    CEBBook* m_book;
    int m_subbookIndex;  // catalog slot of the current book, -1 for none
    // Directory names (upper case) of the books of the catalogs found in the
    // output folder by setOutput.
    std::set<std::string> m_earlierBooks;
    std::map<std::string, std::shared_ptr<const CHexFontFile>> m_hexFonts;  // by path, read once a run
    void (*m_callback)(const char* text);
};
