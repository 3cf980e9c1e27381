// The option record of a build and the per-book record, both filled by the
// conversion driver CEPWing and read by the book writer CEBBook.
#pragma once

#include <cstdint>

#include "foundation/book/GaijiFonts.h"

// Index selection: ConvertOpt::idx[i] for i in this order (also the bit
// order of newBook's feature mask).
enum {
    IDX_WORD_HYOKI = 0,  // hasWordSearchHyoki: prefix search by written form
    IDX_WORD_KANA,       // hasWordSearchKana: prefix search by kana
    IDX_ENDWORD_HYOKI,   // hasEndWordSearchHyoki: suffix search by written form
    IDX_ENDWORD_KANA,    // hasEndWordSearchKana: suffix search by kana
    IDX_KEYWORD,         // hasKeywordSearch
    IDX_COMPLEX,         // hasComplex
    IDX_MENU,            // hasMenu
    IDX_CROSS,           // hasCrossSearch
    IDX_COUNT
};

// Options of a build. The five text options are owned by the holder of the
// record (allocated with malloc; the holder frees an old text when it
// stores a new one). Defaults are those of CEPWing::init.
//
// addKana has no effect on the book: the katakana twins it asks for are
// made, but the index writer drops every twin again after sorting, since
// readers fold a katakana query to the hiragana key and a twin could only
// give the same hit twice.
struct ConvertOpt {
    char keywordFile[256];   // keyword list file, empty for none
    char gaijiFile[256];     // gaiji font definition file, empty for none
    char gaijiMapFile[256];  // gaiji map file, empty for none
    char outPath[256];       // output directory, with trailing "/"
    char basePath[256];      // project base directory (read by the window layer only)
    int ebType;              // output family: 1 EPWING, 0 EB
    int idx[IDX_COUNT];      // index selection, IDX_* order, 0 or 1
    char* stopWord;          // stop words, blank-separated ("a the"), never taken as keywords
    int delBlank;            // drop blanks from search keys
    int delSym;              // drop symbols from search keys
    char* delChars;          // further characters dropped from search keys
    int refAuto;             // stored and handed on; no reader acts on it
    int titleWord;           // with the cross index, headwords are also cut into words
    int autoWord;            // runs of kanji and katakana in the text become keywords
    int autoEWord;           // runs of Latin letters (with digits, "#", "&", ";") become keywords
    int dispKeyInSelList;    // stored and handed on; no reader acts on it
    int FRAuto;              // keyword-list matches also become word-search entries
    int titleOrder;          // 0: notation first, reading bracketed; 1: reading first
    int addKana;             // katakana twins of kana entries: 0 none, 1 all-kana, 2 always (no effect, above)
    int autoKana;            // kept for projects: kana notations always become kana-index entries
    int omitHeader;          // 1: no heading areas for the word and kana indexes
    int titleLen;            // heading length limit in bytes
    int typeCplxKwd;         // 0: complex keys as a keyword index, else as a prefix index
    int topMenu;             // a level-0 menu item per source
    int singleLine;          // head and body on one line: PDIC headwords, markup DT, HEAD and NOTE
    char* kanaSep1;          // opening bracket of a kana reading (Shift_JIS, "【")
    char* kanaSep2;          // closing bracket of a kana reading (Shift_JIS, "】")
    int hyokiSep;            // with titleOrder 1, notations are also cut at middle dots
    int makeFig;             // markup sources: figures and sounds of the text go into the book
    int inlineImg;           // stored and handed on; no reader acts on it (class="inline" on IMG does)
    int paraHdr;             // stored and handed on; no reader acts on it
    int ruby;                // markup sources: ruby text written as subscript
    int paraBr;              // markup sources: a new line right after each heading (H1-H6, HEAD, NOTE)
    int subTitle;            // stored and handed on; no reader acts on it
    int dfnStyle;            // markup sources: a DFN element shows its "title" attribute before its text
    int srchUnit;            // stored and handed on ("section" 0, "paragraph" 1); no reader acts on it
    int linkChar;            // markup sources: mark before a REF: 0 none, 1 the arrow, 2 the arrowCode character
    char* arrowCode;         // the REF mark of linkChar 2, as four hexadecimal digits of JIS X 0208 ("222A")
    int HTagIndex;           // markup sources: heading elements become entries
    int HTagMenu;            // markup sources: heading elements become menu items
    int DTTagIndex;          // markup sources: definition terms become entries
    int leftMargin;          // indent level of an entry's body text (written as leftMargin + 1, 0..kMaxLeftMargin)
    int indent;              // stored and handed on; no reader acts on it
    int tableWidth;          // markup sources: page width that percent table widths refer to
    int kwordLen;            // shortest automatic keyword, in bytes (at least 1)
    int delLeadNo;           // stored and handed on; no reader acts on it
    int autoUniGaiji;        // characters without a Shift_JIS code get gaiji codes
    int eijiPronon;          // EIJIRO sources: write pronunciations
    int eijiPartOfSpeech;    // EIJIRO sources: write parts of speech
    int eijiBreak;           // EIJIRO sources: a new line before each sense
    int eijiKana;            // EIJIRO sources: kana readings become kana entries
    int eijiYomi;            // EIJIRO sources: readings 0 removed, 1 as ruby, 2 as written
    int withHeader;          // sound data keeps its file header
    int optMono;             // markup sources: monospaced text as such
    int16_t pdicTitle;       // PDIC headword characters: 0 plain, 1 phonetic table, 2 Latin table
    int16_t pdicPronon;      // PDIC pronunciation characters, as pdicTitle
    int16_t pdicHonbun;      // PDIC body characters, as pdicTitle
    int16_t pdicYorei;       // PDIC example characters, as pdicTitle
    uint32_t maxStringT;     // string table size in bytes (never below 256,000,000)
};

// The largest leftMargin: the indent code carries leftMargin + 1 in 16 bits.
// The option tab refuses values outside 0..kMaxLeftMargin; the book writer
// holds any other value within them.
constexpr int kMaxLeftMargin = 0xFFFE;

// One book of a build.
struct BOOK_SPEC {
    char title[81];   // Shift_JIS, at most 80 bytes
    char dirName[9];  // at most 8 bytes: letters, digits, "_" (upper case)
    int bookTypeID;
    char complexDef[256];  // complex-search definition path, empty for none
    char fontNames[FONT_SLOTS][9];
    bool separateMMData;
    uint16_t hanStart;
    uint16_t zenStart;
};
