// The project that Lexforge edits: the books in build order (each with its
// sources), the base and output folders, the output family, the index
// selection, the build options, the selection of the main window's two lists
// and two working values of the text field wizard. One instance per process,
// reached through sharedBookSet(); opening or starting a project replaces its
// content in place, so every holder sees the current project.
//
// Texts are UTF-8 and empty means none; indices are zero-based and -1 means
// no selection. The model checks nothing when an index is set: selectedBook
// and selectedSource check it against its list when it is used. It is edited
// on the main thread; nothing here takes a lock except the first creation.
#pragma once

#include <string>
#include <vector>

#include "app/project/BookInfo.h"
#include "builder/ConvertOpt.h"

class BookSet {
public:
    // The one project; created on the first call.
    static BookSet* sharedBookSet();

    ~BookSet();
    BookSet(const BookSet&) = delete;
    BookSet& operator=(const BookSet&) = delete;

    // Starts a new project in place: option defaults, no books, empty base
    // and output folders, ebType 1, indexDef 0x43, no book selected.
    // csvPath, csvFields and correntSource are kept.
    void clear();

    // Writes the project's own option defaults into the option record (each
    // text option's old string is freed first). Nothing else changes; the
    // record's fields before stopWord are never touched.
    void initConvOpt();

    // The book list itself: callers add, remove and replace books in it.
    std::vector<BookInfo>& getBookArray() { return m_bookArray; }
    const std::vector<BookInfo>& getBookArray() const { return m_bookArray; }

    // The option record; callers read and write its fields. Text options are
    // owned by the model: replace them through setTextOption.
    ConvertOpt* getConvertOpt() { return &m_convOpt; }
    const ConvertOpt* getConvertOpt() const { return &m_convOpt; }
    // Replaces a text option (stopWord, delChars, kanaSep1, kanaSep2,
    // arrowCode) by a copy of text, freeing the old string.
    void setTextOption(char* ConvertOpt::*field, const std::string& text);

    int ebType() const { return m_ebType; }  // 1 EPWING, 0 EB
    void setEbType(int type) { m_ebType = type; }
    // Index selection bits: 1 prefix headword, 2 prefix kana, 4 suffix
    // headword, 8 suffix kana, 16 keyword, 32 complex, 64 menu, 128 cross.
    int indexDef() const { return m_indexDef; }
    void setIndexDef(int bits) { m_indexDef = bits; }
    int correntBook() const { return m_correntBook; }
    void setCorrentBook(int index) { m_correntBook = index; }
    int correntSource() const { return m_correntSource; }
    void setCorrentSource(int index) { m_correntSource = index; }
    // The selected book, and the selected source of that book; null when an
    // index is no entry of its list (also for -1).
    BookInfo* selectedBook();
    SourceInfo* selectedSource();
    const std::string& basePath() const { return m_basePath; }
    void setBasePath(const std::string& path) { m_basePath = path; }
    const std::string& outputPath() const { return m_outputPath; }
    void setOutputPath(const std::string& path) { m_outputPath = path; }
    const std::string& csvPath() const { return m_csvPath; }
    void setCsvPath(const std::string& path) { m_csvPath = path; }
    const std::string& csvFields() const { return m_csvFields; }
    void setCsvFields(const std::string& fields) { m_csvFields = fields; }

    // A value a project file gave that no field accepts (an ebType of 5, a
    // sourceTypeID of "abc"): kept for the run, which refuses the project
    // naming it. Emptied by clear() and by reading a project file.
    struct RefusedValue {
        std::string field;     // the element's name
        std::string value;     // as the file gives it
        std::string accepted;  // what the field takes
    };
    void refuseValue(const std::string& field, const std::string& value, const std::string& accepted) {
        m_refused.push_back(RefusedValue{field, value, accepted});
    }
    const std::vector<RefusedValue>& refusedValues() const { return m_refused; }
    void clearRefusedValues() { m_refused.clear(); }

    // The form in which the project file stores a path: "$(BASE)" for a
    // leading base folder (see projectpaths.h).
    std::string toRelPath(const std::string& path) const;

    // Writes the project as an XML project file, replacing the file whole or
    // not at all. False, with the reason in *error, when a value holds text
    // that the file cannot carry or the file cannot be written; the old file
    // is then left as it was.
    bool saveXMLFile(const std::string& path, std::string* error = nullptr) const;
    // Replaces the project by the one in an XML project file. On a parse
    // error, what was read before it is kept, one "Parse Error ..." line goes
    // to the system log, and the result is false: the file then is not the
    // project's, and must not be written back as if it were.
    bool loadXMLFile(const std::string& path, std::string* error = nullptr);
    // Replaces the books and options by those of a key=value project file
    // (Shift_JIS). False when it cannot be read or decoded (no books then).
    bool loadLFSFile(const std::string& path, std::string* error = nullptr);

private:
    BookSet();

    ConvertOpt m_convOpt;
    std::vector<BookInfo> m_bookArray;
    int m_ebType;
    int m_indexDef;
    int m_correntBook;
    int m_correntSource;
    std::string m_basePath;
    std::string m_outputPath;
    std::string m_csvPath;
    std::string m_csvFields;
    std::vector<RefusedValue> m_refused;
};
