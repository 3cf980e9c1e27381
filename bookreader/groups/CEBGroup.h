// A dictionary group: an ordered list of dictionaries shown together, kept in
// the group file "HANDVIEW.grp" with three search options and a short
// back/forward history of visited positions. Each entry is one subbook of an
// EB or EPWING book (found through its catalog) or one dictionary file
// (PDIC, SQLite user dictionary, StarDict, MDict) and owns the readers of its
// files: the text and, for EB and EPWING books, sound, graphics and gaiji
// fonts. The text reader of an EPWING entry knows the sizes and code ranges
// of the entry's fonts (fontInfo), so that it tells narrow external
// characters from wide ones; the glyphs are read through the font readers.
// A gaiji map bound to the group (bindLookup) gives each entry its record
// of codes to Unicode.
//
//   CEBGroup group("/home/me/books");
//   group.readFile("/home/me/books/HANDVIEW.grp");
//   GROUP_ENTRY* e;
//   if (group.entry(0, &e)) e->textReader->wordSearch("apple", 0, 0, HIT_ADD);
//   group.save(nullptr);
//
// Results: 1 success, 0 failure (counts and indexes as documented).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/gaiji/CGaijiMap.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/book/CEBCatalog.h"

constexpr int kGroupTitleSize = 38;
constexpr int kGroupHistoryCapacity = 16;

// One entry of a group.
struct GROUP_ENTRY {
    char path[kPathSize];  // catalog, SSED ".IDX" or dictionary file
    int subbookIndex;
    char subbookDir[9];  // the slot's directory, trailing blanks removed
    char gaijiMapName[15];
    int kind;  // EB_BOOK_KIND
    SUBBOOK_INFO subbook;
    std::unique_ptr<CEBReader> textReader;
    std::unique_ptr<CEBReader> graphicsReader;
    std::unique_ptr<CEBReader> soundReader;
    std::unique_ptr<CEBReader> fontReaders[FONT_SLOTS];
    uint16_t fontSlot;  // highest even (narrow) font slot that opened
    char userTitle[kGroupTitleSize];
    uint16_t zhongRi;  // EB subbook directory ends in "ZHONG_RI"
    uint16_t version;  // the slot's EPWING version
    uint16_t ssed;     // the catalog is an SSED book
    uint16_t opened;
    // The catalog's language flag (an EB book in ISO 8859-1 without a
    // narrow font), kept for every later opening of the entry.
    int languageFlag;
    // The entry's record in the group's gaiji map (bindLookup); null when
    // none is bound or the map has none for the entry.
    const GAIJI_MAP_RECORD* gaijiMap;

    // Deletes every reader but the text reader and closes that one.
    void releaseReaders();
};

struct HISTORY_ITEM {
    int32_t entryIndex;
    BLOCK_POS first;
    BLOCK_POS second;
};

// The three search options, -1 when unset.
struct GROUP_SEARCH_OPTIONS {
    int16_t bWordInflect;
    int16_t searchType;
    int16_t bFindAllDict;
};

// A line of the group file that readFile could not read (an entry line
// without a path or a numeric subbook index, an option line without a known
// key and a number): it is dropped, and saving does not write it back.
struct GROUP_FILE_LINE {
    int number;        // from 1
    std::string text;  // without its line end
};

class CEBGroup {
public:
    // directory null: the current directory.
    explicit CEBGroup(const char* directory = nullptr);
    virtual ~CEBGroup();
    CEBGroup(const CEBGroup&) = delete;
    CEBGroup& operator=(const CEBGroup&) = delete;

    // --- files -------------------------------------------------------------
    int clear();
    int setFile(const char* path);
    const char* file() const { return m_file; }
    const char* directory() const { return m_directory; }
    // Null changes nothing; returns the base directory.
    const char* setBaseDir(const char* directory);
    // reopen: re-opens the readers of every opened entry (an entry whose
    // readers do not all open again is left unopened, for entry() to open
    // afresh); else reads the group file.
    int load(int reopen);
    int readFile(const char* path);
    // The lines the last readFile dropped, in file order.
    const std::vector<GROUP_FILE_LINE>& droppedLines() const { return m_droppedLines; }
    // Writes the group file (path null: the current one) when modified,
    // through a temporary file renamed over it. 0 for a group that was never
    // filled, or when the file cannot be written; else 1.
    int save(const char* path);

    // --- adding ------------------------------------------------------------
    // The index of the entry added, or -1 when nothing was added.
    int addBook(const char* path, int subbookIndex, const char* userTitle);
    int addCatalog(const char* path);
    void scanDirectory(const char* directory, int depth);
    int addEntry(CEBCatalog* catalog, const char* path, int subbookIndex, const char* userTitle);

    // --- entries -----------------------------------------------------------
    int count() const { return static_cast<int>(m_entries.size()); }
    int entryPtr(int i, GROUP_ENTRY** out);
    int entry(int i, GROUP_ENTRY** out);
    int openEntry(GROUP_ENTRY* entry, int languageFlag);
    // The entry's subbook directory (static buffer, overwritten by the next call).
    static const char* subbookDirectory(const GROUP_ENTRY* entry);
    int title(int i, char* out, int size);
    // Takes the map and looks up every entry's record in it (by the entry's
    // gaiji map name, else its subbook directory); entries added later are
    // looked up as they are added. Null unbinds. Returns 1.
    int bindLookup(std::unique_ptr<CGaijiMap> map);
    const CGaijiMap* gaijiMap() const { return m_gaijiMap.get(); }
    // Sets the user title of entry i (null or "" removes it); 1 or 0.
    int setUserTitle(int i, const char* userTitle);

    // --- editing -----------------------------------------------------------
    int remove(int i);
    int move(int i, int j);
    int moveByOne(int i, int direction);
    int isModified() const { return m_modified; }
    void setModified(int flag) { m_modified = flag; }
    void setSearchOptions(const GROUP_SEARCH_OPTIONS& options);
    void getSearchOptions(GROUP_SEARCH_OPTIONS* out) const { *out = m_options; }

    // --- history -----------------------------------------------------------
    int pushHistory(int entryIndex, const BLOCK_POS& first, const BLOCK_POS& second);
    int stepHistory(int direction, int* entryIndex, BLOCK_POS* first, BLOCK_POS* second);
    void clearHistory() { m_historyTop = m_historyPosition = 0; }
    int historyPosition() const { return m_historyPosition; }
    int historyTop() const { return m_historyTop; }

private:
    // Opens a catalog for path by its name; the result of the opening.
    static int openCatalogFor(CEBCatalog* catalog, const char* path);
    int openDictionary(GROUP_ENTRY* e);
    int openEb(GROUP_ENTRY* e, int languageFlag);
    int openEpwing(GROUP_ENTRY* e);
    void openFonts(GROUP_ENTRY* e);
    void lookUpGaijiMap(GROUP_ENTRY* e) const;
    // The entry lines and option lines; false when an entry cannot be written.
    bool formatFile(std::string* text) const;
    // False for a line that cannot be read.
    bool parseOptionLine(const char* line);
    bool parseEntryLine(const std::string& line);
    // Maps history entry indexes through newIndex (-1 drops the record).
    template <class F>
    void renumberHistory(F newIndex);

    std::vector<GROUP_ENTRY> m_entries;
    char m_file[kPathSize];
    GROUP_SEARCH_OPTIONS m_options;
    char m_directory[kPathSize];
    std::map<std::string, std::unique_ptr<CEBCatalog>> m_catalogs;
    std::unique_ptr<CGaijiMap> m_gaijiMap;
    char m_baseDir[kPathSize];
    std::vector<HISTORY_ITEM> m_history;
    int m_historyTop = 0;
    int m_historyPosition = 0;
    int m_modified = 0;
    // Set once the group held an entry or read a file: an empty group is then
    // saved as empty instead of being left alone.
    bool m_everFilled = false;
    // Entry lines of the file whose book could not be opened (a disc not
    // mounted, a folder moved away): written back as they were, before the
    // entry that followed them, so that saving the group loses none of them
    // and keeps the order of the file.
    struct KeptLine {
        size_t before;  // the index of the entry the line stood before
        std::string text;
    };
    std::vector<KeptLine> m_unavailableLines;
    std::vector<GROUP_FILE_LINE> m_droppedLines;
};
