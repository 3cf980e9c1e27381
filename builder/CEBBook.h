// CEBBook: the book writer. One instance serves a whole run and writes one
// book at a time: open prepares a book (options, string table, stop words,
// keyword list, directories and text file, gaiji, body text stream), sources
// are added, and make reads every source through its reader and writes every
// further area of the book and the index table.
//
// Errors inside open and make are std::runtime_error with a literal message;
// both catch them and pass the text to the message callback (an abort is an
// error with empty text). Nothing throws out of open, make or addSource.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "builder/BookResult.h"
#include "builder/CStringTable.h"
#include "builder/ConvertOpt.h"
#include "builder/complex/ComplexDefinitions.h"
#include "builder/index/SearchEntries.h"
#include "builder/media/MediaEntries.h"
#include "builder/navigation/NavigationEntries.h"
#include "foundation/book/BookConstants.h"
#include "foundation/book/CBlockStream.h"

class CBookFile;
class CComplexTemp;
class CGaiji;
class CParseTag0;

// One source file of a book.
struct SOURCE_INFO {
    char path[256];
    char title[256];   // empty when none
    int type;          // source type code
    int64_t fileSize;  // bytes
    char* fields;      // owned copy of the CSV field spec (malloc), or null
};

// Keyword list record: key and optional second form in the string table.
struct KEYWORD_ITEM {
    const char* key;
    const char* second;  // null when none
    uint8_t keyLen;
    uint8_t secondLen;
};

class CEBBook {
public:
    static const size_t kDefaultStringT = 256000000;
    static const int kMaxStopWords = 128;
    static const int kMaxKeyLen = 128;

    CEBBook();
    virtual ~CEBBook();
    CEBBook(const CEBBook&) = delete;
    CEBBook& operator=(const CEBBook&) = delete;

    // ---- set-up and build run ----
    // Prepares a book; 0, or -1 after a message through the callback.
    int open(ConvertOpt* opt, BOOK_SPEC* spec);
    // Appends a source; -1 (nothing added, no message) when path is null, too
    // long or cannot be opened. A refused source counts as left out.
    int addSource(const char* path, const char* title, int type, const char* fields);
    // Counts a source of the open book that the caller did not add (it has
    // named it): a book none of whose sources could be read is not written.
    void leaveOutSource() { ++m_leftOutSources; }
    // Copyright text file of the open book (open clears it); an empty or
    // null path means no copyright page.
    // Returns 0 (-1 for a path too long, which is then ignored).
    int setCopyright(const char* path);
    // Builds the book prepared by open. Always returns; every outcome goes to
    // the callback, and the result says how the build ended. After a failed
    // or missing open it only reports that (nothing written).
    BookResult make();
    // Called by a reader that leaves its source out of the book (a refused
    // field spec, a file that does not open): names the source and the
    // reason in the log and counts the source as failed. When every source
    // of a book failed or was left out, make writes nothing and the earlier
    // files of the book stay as they were.
    void failSource(const SOURCE_INFO* source, const std::string& reason);

    void setMessageCallback(void (*callback)(const char* text));
    // Passes text to the book's message callback when it has one.
    static void postMessage(CEBBook* book, const char* text);
    void setProgress(int percent) { m_progress = percent; }
    int getProgress() const { return m_progress; }
    // Progress as bytes done * 100 / total, safe for empty and huge sources.
    static int percentOf(int64_t done, int64_t total);
    BOOK_SPEC* getBookSpec() { return m_spec; }
    ConvertOpt* getOptions() { return m_opt; }
    CGaiji* getGaiji() { return m_gaiji.get(); }
    CParseTag0* getParseTag() { return m_parseTag.get(); }
    const std::vector<SOURCE_INFO>& sources() const { return m_sources; }
    int epwingVersion() const { return m_epwingVersion; }
    // Path of the complex-search temp file while a book with complex search
    // is open ("" otherwise).
    const char* complexTempPath() const;

    // ---- complex search (builder/complex/CEBBookComplex.cpp) ----
    // Reads the definition file into the book's definitions; throws
    // std::runtime_error with the message on a missing, unreadable or
    // refused file.
    void loadComplexDef(const char* path);
    const std::vector<COMPLEX_DEF>& complexDefinitions() const { return m_complexDefs; }
    // Registers a complex entry of the field fed by KEY name (the text at
    // pos): written to the temp file. Throws when the temp file cannot be
    // written. Does nothing without complex search.
    void addComplexEntry(const char* name, int nameLen, const char* key, int keyLen, const char* heading,
                         int headingLen, const BLOCK_POS& pos);
    // Reads the entries of the temp file back (their keys normalised into
    // the string table); the number read. Throws when the file is damaged.
    int LoadComplexTemp();

    // Sets the process-wide abort flag.
    void abort();
    static bool isAborted();
    // Throws std::runtime_error("") when the abort flag is set.
    static void checkAbort();

    // Sends text to the message callback (when set).
    void message(const char* text) const;

    // Gaiji fonts written by the last make: the mask (0x08 also for a
    // 16x24 font kept in the 24-dot narrow slot) and the font file names in
    // slot order as the book file wrote them.
    int writtenFontMask() const { return m_writtenFontMask; }
    const char* writtenFontName(int slot) const;

    // ---- string table (see CStringTable) ----
    // Appends n bytes and returns the copy, valid until the table is freed;
    // throws "string table overflow" when the bytes would take the table
    // past its size, "memory allocate error!!(stringT)" when memory runs out.
    char* addStringT(const void* bytes, size_t n);
    // 0 when the table exists or was set up with size as its capacity, -1
    // (with a message) else.
    int allocStringT(size_t size);
    void freeStringT();
    size_t stringTUsed() const { return m_stringT.used(); }
    size_t stringTSize() const { return m_stringTSize; }
    // Drops everything stored after mark (a value of stringTUsed()).
    void restoreStringT(size_t mark);

    // ---- stop words and keyword list ----
    void setStopWords(const char* text);
    int stopWordCount() const { return m_stopWordCount; }
    // Throws "Keyword file not found(LoadKeyword)".
    void LoadKeyword(const char* path);
    const std::vector<KEYWORD_ITEM>& keywords() const { return m_keywords; }

    // ---- search keys ----
    // Normalised key of len bytes of text into out (max + 2 bytes); the key
    // length (even, at most max). filter: 0 none, 1 blanks, symbols and
    // delChars as the options say, kFilterBlanks blanks only.
    static const int kFilterBlanks = 2;
    // Added to filter: a character reference that gives the key no
    // character (a gaiji without an alternative text or a JIS X 0208 form)
    // gives the geta mark, so that a headword of such characters alone still
    // has a key.
    static const int kKeyGaijiAsGeta = 4;
    int normalizeKey(char* out, const char* text, int len, int filter, int max);
    // The key of a headword: normalizeKey with the filter on; when that
    // leaves nothing, the key without the filter and with kKeyGaijiAsGeta,
    // so that no headword that holds a character loses its index entry.
    int headwordKey(char* out, const char* text, int len, int max);
    // A character reference at text (len bytes available): bytes consumed, 0
    // when none starts there. *codePoint, *gaijiCode and *alt are set (0,
    // 0, null when unknown).
    int parseEntity(const char* text, int len, uint32_t* codePoint, uint32_t* gaijiCode, const char** alt);
    // The JIS X 0208 character (Shift_JIS) a key holds for a code point the
    // text shows as a gaiji; 0 for none.
    static unsigned int sjisFormForKey(uint32_t cp);
    // Kana key of text into out (2 * len + 2 bytes, zero-terminated);
    // returns 1 when the text holds no kanji, else 0. *outLen gets the key
    // length when given.
    static int kanaKey(char* out, const char* text, int len, int* outLen = nullptr);
    // Characters of text (at most 255 bytes) in reverse order, in a buffer of
    // this object valid until the next call; *outLen gets its length.
    const char* reverseKey(const char* text, int len, int* outLen = nullptr);
    // Reverses the order of the 2-byte units of a normalised key in place
    // (an odd last byte stays where it is).
    static void reverseKeyUnits(char* key, int len);
    // 1 when key (len bytes) equals a stop word (ASCII case ignored).
    int isStopWord(const char* key, int len) const;
    // Entry order of every index sort: key bytes, key length, body block,
    // body offset. <0, 0 or >0.
    static int compareEntries(const SEARCH_KEY_ENTRY& a, const SEARCH_KEY_ENTRY& b);
    static bool entryLess(const SEARCH_KEY_ENTRY& a, const SEARCH_KEY_ENTRY& b) { return compareEntries(a, b) < 0; }
    // The full-width delChars text of the open book.
    const unsigned char* delCharsFullWidth() const { return m_delChars; }

    // ---- text conversion ----
    // Wide text to Shift_JIS with gaiji references (see builder/ucsToSjis.h);
    // gaiji codes are reserved when autoUniGaiji is on.
    int ucsToSjis(char* out, int outSize, const uint32_t* units, int count, int wideRange);
    // Shift_JIS source text to working text (see sjisToWorking in
    // builder/sources/ucsToSjis.h), gaiji reserved as ucsToSjis does. False,
    // out untouched, when the text needs no change.
    bool sjisToWorking(const char* text, size_t len, std::string* out);

    // ---- menu (builder/navigation/CEBBookMenu.cpp) ----
    // Adds a menu item at level (0 = top) referring to target; text and
    // prefix must stay valid until the menu is written (string table). A
    // text that is empty or only blanks adds nothing. An item whose level
    // skips levels (0, 2, 1) is attached to the nearest shallower item, so
    // that every item is written. Returns the index of the item, or of the
    // last item when nothing was added. Throws "Stack Overflow(Menu)" past
    // 50 nested levels.
    int addMenuItem(int level, const BLOCK_POS& target, const char* text, int textLen, const char* prefix,
                    int prefixLen);
    // Writes the menu pages (item 0's page first, then every submenu) at
    // the stream's position; items with children refer to their submenu.
    void writeMenu(CBlockStream* stream);
    int menuItemCount() const { return static_cast<int>(m_menu.size()); }
    const std::vector<MENU_ENTRY>& menuEntries() const { return m_menu; }

    // ---- anchors and links (builder/navigation/CEBBookLinks.cpp) ----
    // Names and link targets are cut to 255 bytes at a character boundary
    // (the same cut on both sides) and copied into the string table.
    static const int kMaxNameLen = 255;
    // Registers an anchor at *pos; the first anchor of a name (exact bytes)
    // wins until clearAnchorNames. 1 when registered, 0 when not.
    int addAnchor(const char* name, int length, const BLOCK_POS* pos, int source);
    // Registers a link site (*site: the six-byte placeholder). For
    // LINK_ANCHOR targets "file#name" the anchors of the source that "file"
    // names (sourceNamed) are searched, else those of the link's own
    // source; "#name" searches the link's own source. A target without "#"
    // that names a source leads to the start of that source's text (a link
    // to a whole page): from an HTML page (type 7) always, from dictionary
    // markup when the link's own source has no anchor of that name. So does
    // a target with nothing after "#" ("#" alone: the link's own source).
    void addLink(const char* target, int length, const BLOCK_POS* site, int source, int kind);
    // The source that the file part of a link names: the last one whose file
    // name or stem equals the part's last path component (byte for byte
    // before ASCII case ignored), else the last one whose file name begins
    // with it; -1 for none.
    int sourceNamed(const char* part, size_t length) const;
    // Starts a record: record n refers to the first entry collected after
    // the n-th call.
    void addIdEntry() { m_recordNumbers.push_back(static_cast<uint32_t>(m_entries.size())); }
    // Empties the anchor name set (a new markup source).
    void clearAnchorNames() { m_anchorNames.clear(); }
    // Patches every link site with its target's position: an anchor of
    // exactly its name (names equal but for case when no anchor has the
    // same bytes), else the page of the book it names; a link that finds
    // neither is left unresolved: it points at the start of its own
    // source's text and is named in the build log.
    void resolveLinks(CBlockStream* body);
    int anchorCount() const { return m_anchorCount; }
    int linkCount() const { return m_linkCount; }
    const std::vector<ANCHOR_ENTRY>& anchors() const { return m_anchors; }
    const std::vector<LINK_ENTRY>& links() const { return m_links; }
    size_t recordNumberCount() const { return m_recordNumbers.size(); }
    // A body position as one number, block * kBlockSize + offset (the form
    // of SEARCH_KEY_ENTRY::bodyPos).
    static uint64_t positionValue(const BLOCK_POS& pos) {
        return static_cast<uint64_t>(pos.block) * kBlockSize + pos.offset;
    }
    // Anchor order: source number, then the names compared without ASCII
    // case over the shorter length (two-byte characters compared as they
    // are), then the shorter name first. <0, 0 or >0.
    static int compareAnchors(int sourceA, const char* a, int lenA, int sourceB, const char* b, int lenB);

    // ---- multimedia (builder/media/CEBBookMedia.cpp) ----
    // Hook of the media references (IMG, OBJECT, RES, links to media files).
    // path names a figure (.bmp .dib .jpg .jpeg), a sound (.wav) or a movie
    // (.mpg .mpeg); the file is checked the first time it is named and
    // stored once however often it is named. On success the reference's
    // begin code is written and 1 returned: the caller writes the reference
    // text and then calls endMediaRef. Otherwise nothing is written and 0
    // returned, and the caller writes the text plainly: a missing file, a
    // form the book cannot carry (PNG, GIF, MIDI, AVI, a colour figure or a
    // sound in an EB book, a sample format the book has no form for), a
    // file whose headers do not match its bytes, an area that would pass 4
    // GiB; each is reported by name once. isInline: a colour figure set in
    // the line (class="inline"). A media reference inside another is not
    // made.
    int beginMediaRef(const char* path, int pathLen, int isInline, CBlockStream* writer);
    // Ends the reference begun on writer (the end code, and for monochrome
    // figures the placeholder of the figure's position).
    void endMediaRef(CBlockStream* writer);
    // Bytes one figure or sound area may take (4 GiB, what a "data" size
    // and the readers' 32-bit offsets reach; tests set less).
    void setMediaAreaLimit(uint64_t bytes) { m_mediaAreaLimit = bytes; }
    // Build steps 7-11: movies, monochrome and colour figures, sounds; each
    // reference of the text gets its medium's position.
    void writeMediaAreas();
    void patchFigureRefs();
    void patchSoundRefs();

    // ---- index entries and search indexes ----
    void clearRecentEntries();
    SEARCH_KEY_ENTRY* addTitle(const char* heading, int headingLen, const char* text, int textLen, const BLOCK_POS& pos,
                               int source, int withKana, int withHeading);
    SEARCH_KEY_ENTRY* addWordEntry(const char* heading, int headingLen, const char* text, int textLen,
                                   const BLOCK_POS& pos, int source, int split, int mask);
    void addKeywordEntry(const char* heading, int headingLen, const char* text, int textLen, const BLOCK_POS& pos,
                         int source, int kind);
    void addKanaEntry(const char* heading, int headingLen, const char* kana, int kanaLen, const BLOCK_POS& pos,
                      int source, int mask);
    // form 0 hiragana, 1 katakana. A reading keeps only its kana; a word
    // written in kana (written set) keeps its marks and symbols too, unfiltered,
    // as a reader compares the typed word with it.
    void pushKanaEntry(const char* heading, int headingLen, const char* kana, int kanaLen, const BLOCK_POS& pos,
                       int source, int form, int mask, bool written = false);
    void autoIndexText(const char* text, int len, const char* heading, int headingLen, const BLOCK_POS& pos,
                       int source);
    void addHeadingTagTitle(const char* heading, int headingLen, const char* text, int len, int source,
                            const BLOCK_POS& pos);
    int isKanaText(const char* text, int len);
    // True when every character of the text, made full width, is a kana or
    // a symbol of the first code row, and one at least is a kana (a
    // character reference is neither).
    bool isKanaWord(const char* text, int len);
    // A word written in kana (hiragana, katakana and the symbols of their
    // code rows: long vowel marks, middle dots, punctuation) is also a kana
    // key of its entry when the book has a kana index: readers look such a
    // query up in the kana indexes only.
    void addKanaOfKanaWord(const char* heading, int headingLen, const char* text, int len, const BLOCK_POS& pos,
                           int source);
    int isRecentDuplicate(const char* text, int len, const BLOCK_POS& pos, int kind);
    // Writes every search index with its heading area.
    void writeSearchIndexes();

    size_t entryCount() const { return m_entries.size(); }
    size_t kanaEntryCount() const { return m_kanaEntries.size(); }
    const std::vector<SEARCH_KEY_ENTRY>& entries() const { return m_entries; }
    const std::vector<KANA_ENTRY>& kanaEntries() const { return m_kanaEntries; }

private:
    struct RecentSlot {
        char key[256];
        uint8_t kind;
        uint8_t len;  // 0: empty slot
        uint32_t block;
        uint16_t offset;
    };
    static const int kRecentSlots = 200;
    void clearIndexEntries();
    // Katakana or kanji runs of text (longer than kwordLen) as entries of kind.
    void addCrossRuns(const char* heading, int headingLen, const char* text, int len, const BLOCK_POS& pos, int source,
                      int kind);
    // One notation of a title: its kana entry (when written in kana) and word entries.
    void addNotation(const char* heading, int headingLen, const char* text, int len, const BLOCK_POS& pos, int source,
                     SEARCH_KEY_ENTRY** last);
    // Whether a kana entry of this heading also gets its katakana form (addKana).
    bool addsKatakanaForm(const char* heading, int headingLen);
    // The longest keyword-list key that text starts with, or null.
    const KEYWORD_ITEM* findKeyword(const char* text, int len) const;
    // Whether a keyword-list hit stands as a word: a key of single-byte
    // characters has no ASCII letter or digit right before it (afterLetter)
    // or right after it (next); other keys always do.
    static bool keywordOnWordBounds(const KEYWORD_ITEM& k, bool afterLetter, const unsigned char* next, int nextLen);
    // Whether the last character of Shift_JIS text is an ASCII letter or digit.
    static bool endsInAsciiLetter(const char* text, int len);
    // Select steps: fill m_selected, sorted (keyword family and kana: groups marked).
    void selectWordEntries(int indexId);
    void selectKeywordEntries(int indexId);
    void selectKanaEntries(int indexId);
    // With delBlank off, the last selected item again under its key without
    // blanks, when it has any.
    void pushBlankFreeTwin();
    // Message, select, heading area, index area, count line.
    void writeOneIndex(const char* title, int indexId, int headingId, bool headingAlways, int layout);

    std::vector<INDEX_ITEM> m_selected;
    size_t m_indexWorkSize = 1000;
    std::vector<char> m_keyWork;  // whole normalised key texts

    std::vector<SEARCH_KEY_ENTRY> m_entries;
    std::vector<KANA_ENTRY> m_kanaEntries;
    std::vector<RecentSlot> m_recent;
    int m_recentNext = 0;
    // ---- end of index entries ----

private:
    void openBook();
    // Makes a folder of the book (its parent exists); throws when it cannot,
    // naming the path, and for a symbolic link, so that no book file is
    // written into a folder elsewhere.
    static void makeBookFolder(const std::string& path);
    // Removes the files of the book's folders that an earlier build left and
    // this one did not write (text files of the other family or in a form
    // Packwell made, gaiji fonts and movies no longer written, temporary
    // files), each with a log line. Folders are never removed.
    void removeStaleFiles();
    void runSources();
    void writeCopyrightArea();
    void writeCopyright(const char* path, CBlockStream* writer);
    void writeMenuArea();
    void writeComplexIndexes();
    void writeComplexTitles();
    void writeGaijiFonts();
    void clearNavigation();
    void closeComplexTemp(bool remove);
    void cleanUp();
    // Registers stream as area id at the next free block (the book file owns
    // it); search carries the search attribute bytes.
    void addArea(int id, CBlockStream* stream, bool search);
    void endArea(CBlockStream* stream);

    ConvertOpt* m_opt;
    BOOK_SPEC* m_spec;
    bool m_opened;
    char m_copyright[256];
    // Parts of the book under way that could not be made (the copyright
    // page): the book is written without them and counts as failed.
    int m_failedParts = 0;
    std::vector<SOURCE_INFO> m_sources;
    std::unique_ptr<CBookFile> m_bookFile;
    std::unique_ptr<CParseTag0> m_parseTag;
    std::unique_ptr<CGaiji> m_gaiji;
    int m_progress;
    int m_sourceType;
    int m_failedSources;   // of the build under way
    int m_leftOutSources;  // of the open book: refused by addSource or left out by the caller
    int m_epwingVersion;
    unsigned char m_delChars[258];
    CStringTable m_stringT;
    size_t m_stringTSize;
    struct StopWord {
        const char* text;
        int len;
    };
    StopWord m_stopWords[kMaxStopWords];
    int m_stopWordCount;
    std::vector<KEYWORD_ITEM> m_keywords;
    std::vector<MENU_ENTRY> m_menu;
    struct MenuLevel {
        uint32_t item;
        uint16_t level;
    };
    std::vector<MenuLevel> m_menuStack;
    void writeMenuPage(CBlockStream* stream, uint32_t first, int depth);
    std::vector<ANCHOR_ENTRY> m_anchors;
    std::set<std::string> m_anchorNames;
    std::vector<LINK_ENTRY> m_links;
    std::vector<uint32_t> m_recordNumbers;
    std::vector<BLOCK_POS> m_sourceStarts;                                   // text start of each source read
    mutable std::vector<std::pair<std::string, std::string>> m_sourceNames;  // file name and stem of each source
    int m_anchorCount;
    int m_linkCount;
    std::unique_ptr<CComplexTemp> m_complexTemp;
    std::vector<COMPLEX_DEF> m_complexDefs;
    std::vector<COMPLEX_ENTRY> m_complexEntries;
    std::vector<std::string> m_complexNames;  // names of m_complexEntries
    int m_complexCount;
    char m_bookPath[256];
    unsigned char m_attr[6];
    uint32_t m_nextBlock;
    CBlockStream* m_body;  // owned by the book file
    int m_fontMask;        // font sizes of the gaiji font definition file
    int m_writtenFontMask;
    char m_writtenFontNames[FONT_SLOTS][9];
    std::vector<std::string> m_writtenFiles;  // final paths of the files of the book under way
    char m_reverse[256];

    // ---- multimedia ----
    struct OpenMedia {
        uint32_t media;
        int isInline;
    };
    // Index of the media entry of path, or -1 (reported) when it is not
    // carried.
    int registerMedia(const std::string& path);
    void refuseMedia(const std::string& path, const char* why);
    void assignMovieName(MEDIA_ENTRY* entry);
    void writeMovies();
    void writeMonoFigures(CBlockStream* stream);
    void writeFigureList(CBlockStream* stream);
    void writeColorFigures(CBlockStream* stream);
    // The colour figure (0xD2) or sound (0xD8) area: with separateMMData in
    // its own file (fileName, from block 1), else at the next free block.
    CBlockStream* openMediaArea(int id, const char* fileName);
    void closeMediaArea(CBlockStream* stream);
    // The sounds: samples alone (makeWave) or with their "fmt " and "data"
    // chunks (makeWave2).
    void makeWave(CBlockStream* stream);
    void makeWave2(CBlockStream* stream);
    void writeSounds(CBlockStream* stream, bool withHeader);
    // Copies size bytes at offset of entry's open file f into stream.
    void copyMediaData(FILE* f, const MEDIA_ENTRY& entry, CBlockStream* stream, uint64_t offset, uint64_t size);
    // Opens entry's file again and checks it is as it was; null (reported)
    // when it is not.
    FILE* reopenMedia(const MEDIA_ENTRY& entry);
    bool hasMedia(int kind) const;
    // Drops the references written into writer (a text area given up).
    void forgetMediaRefs(const CBlockStream* writer);
    void clearMedia();
    std::vector<MEDIA_ENTRY> m_media;
    std::map<std::string, int> m_mediaByPath;  // -1: refused
    std::set<std::string> m_movieNames;
    std::vector<MEDIA_REF> m_figureRefs;
    std::vector<MEDIA_REF> m_soundRefs;
    std::vector<OpenMedia> m_openMedia;
    std::unique_ptr<MEDIA_INFO> m_bookSound;  // format of the first sound
    uint64_t m_mediaPlanned[3];               // bytes of the mono, colour and sound areas
    uint64_t m_mediaAreaLimit;
    int m_figureCount;
    int m_soundCount;
    void (*m_callback)(const char* text);
};
