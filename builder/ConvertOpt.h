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
struct ConvertOpt {
    char keywordFile[256];
    char gaijiFile[256];
    char gaijiMapFile[256];
    char outPath[256];  // output directory, with trailing "/"
    char basePath[256];
    int ebType;          // 1 EPWING, 0 EB
    int idx[IDX_COUNT];  // index selection, IDX_* order, 0 or 1
    char* stopWord;
    int delBlank;
    int delSym;
    char* delChars;
    int refAuto;
    int titleWord;
    int autoWord;
    int autoEWord;
    int dispKeyInSelList;
    int FRAuto;
    int titleOrder;
    int addKana;
    int autoKana;
    int omitHeader;
    int titleLen;
    int typeCplxKwd;
    int topMenu;
    int singleLine;
    char* kanaSep1;  // Shift_JIS
    char* kanaSep2;
    int hyokiSep;
    int makeFig;
    int inlineImg;
    int paraHdr;
    int ruby;
    int paraBr;
    int subTitle;
    int dfnStyle;
    int srchUnit;
    int linkChar;
    char* arrowCode;
    int HTagIndex;
    int HTagMenu;
    int DTTagIndex;
    int leftMargin;
    int indent;
    int tableWidth;
    int kwordLen;
    int delLeadNo;
    int autoUniGaiji;
    int eijiPronon;
    int eijiPartOfSpeech;
    int eijiBreak;
    int eijiKana;
    int eijiYomi;
    int withHeader;
    int optMono;
    int16_t pdicTitle;
    int16_t pdicPronon;
    int16_t pdicHonbun;
    int16_t pdicYorei;
    uint32_t maxStringT;  // string table size in bytes (never below 256,000,000)
};

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
