// The user-dictionary back end of a book reader of kind 5: a SQLite user
// dictionary (CSQLIO) with, for the content type "dsl index", its DSL body
// file, plain or dictzip. Renders entries as tagged text (UTF-8, bytes),
// converting DSL markup to HTML-like tags. Sizes are in bytes; a hit index
// is the index of a user-dictionary record in the item list. Only hits of
// this dictionary (its book number) are rendered.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "dictformats/dictzip/dictzip.h"
#include "dictformats/userdict/CSQLIO.h"
#include "foundation/CBoundedText.h"
#include "foundation/FileHandle.h"

class CEBReader;
class CItemList;

// Content types of a user dictionary's meanings.
enum { USERDICT_PLAIN = 0, USERDICT_HTML = 1, USERDICT_XML = 2, USERDICT_DSL = 3, USERDICT_DSL_INDEX = 4 };
// Encodings of a DSL body file.
enum { DSL_UTF16LE = 0, DSL_UTF8 = 1, DSL_OTHER = 2 };

class CUserDictBackend {
public:
    explicit CUserDictBackend(CEBReader& reader);
    ~CUserDictBackend();
    CUserDictBackend(const CUserDictBackend&) = delete;
    CUserDictBackend& operator=(const CUserDictBackend&) = delete;

    // Opens the dictionary and, for "dsl index", its body file beside it
    // (the name in the book information, ".dz" appended when only that
    // exists; "name:UTF-8" names the encoding). 1, or 0 when either fails.
    int open(const char* path);
    CSQLIO* userDictionary() { return m_sqlio.get(); }
    int dslEncoding() const { return m_dslEncoding; }
    bool hasPlainBody() const { return static_cast<bool>(m_body); }
    bool hasDictzipBody() const { return m_dictzip.descriptor >= 0; }

    // mode: CSQLIO::kExact, kWholeKey, kReversed, kWord.
    int search(const char* word, int mode, int maxHits);
    int fullTextSearch(const char* text, USERDICT_PROGRESS progress, void* data);
    int collectLinks(int64_t id);
    int collect(CItemList* list, int start);

    int hitHeadword(const CItemList* list, int hit, char* out, uint32_t outSize, uint32_t* outLength);
    int renderEntryById(int64_t id, char* out, uint32_t outSize, uint32_t* outLength, int showPhonetic);
    // The hit's entry (single) or the run of this dictionary's hits from it
    // on while the output is shorter than the continuation limit.
    int renderHits(const CItemList* list, int hit, char* out, uint32_t limit, uint32_t outSize, uint32_t* outLength,
                   int single, int showPhonetic);
    // One entry from its fields, appended at outLength (0: the output
    // starts empty); the new length, or 0 when the entry does not fit.
    int renderEntry(char* out, uint32_t outSize, uint32_t outLength, const char* headword, const char* meaning,
                    const char* phonetic, int level, int showPhonetic, int contentType, int64_t id);
    int information(char* buf, uint32_t size, int crlf) const;

    // Text with "&", "<", ">" as entities (unless tags pass) and URLs in
    // <URL>; line ends dropped on request. Appends at outLength; the new length.
    static uint32_t escapeText(char* out, uint32_t outSize, uint32_t outLength, const char* in, size_t n,
                               bool dropLineEnds, bool tagsPass);
    // DSL markup to tags, appended at outLength; the new length. A "~"
    // stands for the card's headword; a "[" without a "]" on its line is
    // text; "<<word>>" is a reference as "[ref]word[/ref]" is.
    static uint32_t convertDslMarkup(char* out, uint32_t outSize, uint32_t outLength, const char* in, size_t n,
                                     const char* headword = "");
    // The body text a locator "[offset:length]" names, converted; appended
    // at outLength. A range the body does not hold whole gives nothing.
    uint32_t readDslBody(char* out, uint32_t outSize, uint32_t outLength, const char* locator,
                         const char* headword = "");

private:
    static void escapeInto(CBoundedText& text, const char* in, size_t n, bool dropLineEnds, bool tagsPass);
    static void dslInto(CBoundedText& text, const char* in, size_t n, const char* headword);
    void bodyInto(CBoundedText& text, const char* locator, const char* headword);

    CEBReader& m_reader;
    std::unique_ptr<CSQLIO> m_sqlio;
    FilePtr m_body;
    DICTZIP_STATE m_dictzip;
    int m_dslEncoding = DSL_UTF16LE;
};
