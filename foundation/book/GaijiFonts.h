// Gaiji (external character) font sizes of a book: their dot sizes, font mask
// bits, index area codes and catalog font-name slots, shared by the gaiji
// manager, the book writer, the conversion driver and the catalog.
#pragma once

// Font sizes. The index is the order of the gaiji manager's font bitmap maps
// and of the fonts a book writes; width != height means narrow, except 32x30,
// which is wide.
enum GaijiFontSize {
    GAIJI_8X16 = 0,
    GAIJI_16X16,
    GAIJI_12X24,
    GAIJI_16X24,
    GAIJI_24X24,
    GAIJI_16X30,
    GAIJI_32X30,
    GAIJI_24X48,
    GAIJI_48X48,
    GAIJI_FONT_SIZES  // number of sizes
};

// Font mask bits: a gaiji font definition file's sizes, and a subbook's font
// flags in the catalog.
enum {
    GAIJI_MASK_16X16 = 0x01,
    GAIJI_MASK_8X16 = 0x02,
    GAIJI_MASK_24X24 = 0x04,
    GAIJI_MASK_12X24 = 0x08,
    GAIJI_MASK_32X30 = 0x10,
    GAIJI_MASK_16X30 = 0x20,
    GAIJI_MASK_48X48 = 0x40,
    GAIJI_MASK_24X48 = 0x80,
    GAIJI_MASK_16X24 = 0x100
};

// Font-name slots of a subbook (catalog record, book set-up, the driver's
// font-name block): narrow and wide of each height. 12x24 and 16x24 share
// the narrow 24-dot slot.
enum {
    FONT_SLOT_8X16 = 0,
    FONT_SLOT_16X16,
    FONT_SLOT_12X24,
    FONT_SLOT_24X24,
    FONT_SLOT_16X30,
    FONT_SLOT_32X30,
    FONT_SLOT_24X48,
    FONT_SLOT_48X48,
    FONT_SLOTS
};

struct GaijiFontInfo {
    int width;          // dots
    int height;         // dots
    int maskBit;        // GAIJI_MASK_*
    int area;           // index area code of the font in the book
    int slot;           // FONT_SLOT_*
    const char* label;  // FONTSET size="..." value
};

// Indexed by GaijiFontSize.
inline constexpr GaijiFontInfo kGaijiFonts[GAIJI_FONT_SIZES] = {
    {8, 16, GAIJI_MASK_8X16, 0xF2, FONT_SLOT_8X16, "8X16"},
    {16, 16, GAIJI_MASK_16X16, 0xF1, FONT_SLOT_16X16, "16X16"},
    {12, 24, GAIJI_MASK_12X24, 0xF4, FONT_SLOT_12X24, "12X24"},
    {16, 24, GAIJI_MASK_16X24, 0xF4, FONT_SLOT_12X24, "16X24"},
    {24, 24, GAIJI_MASK_24X24, 0xF3, FONT_SLOT_24X24, "24X24"},
    {16, 30, GAIJI_MASK_16X30, 0xF6, FONT_SLOT_16X30, "16X30"},
    {32, 30, GAIJI_MASK_32X30, 0xF5, FONT_SLOT_32X30, "32X30"},
    {24, 48, GAIJI_MASK_24X48, 0xF8, FONT_SLOT_24X48, "24X48"},
    {48, 48, GAIJI_MASK_48X48, 0xF7, FONT_SLOT_48X48, "48X48"},
};

// Font-name slot (FONT_SLOT_*) of a gaiji font's index area code
// (0xF1-0xF8), or -1 for any other code.
constexpr int fontSlotOfArea(int area) {
    for (const GaijiFontInfo& f : kGaijiFonts)
        if (f.area == area) return f.slot;
    return -1;
}

struct FontSlotInfo {
    int maskBit;              // the font flag a written font of the slot sets
    int defaultFlag;          // the font flag for which the catalog fills in
    const char* defaultName;  // this name when the slot's name is empty
    bool wide;                // wide names at record bytes 100.., narrow at 132..
};

// Indexed by FONT_SLOT_*. The narrow 24-dot slot is flagged 0x08 when
// written, while its default name follows flag 0x100 (16x24).
inline constexpr FontSlotInfo kFontSlots[FONT_SLOTS] = {
    {GAIJI_MASK_8X16, GAIJI_MASK_8X16, "GAI16H00", false},   {GAIJI_MASK_16X16, GAIJI_MASK_16X16, "GAI16F00", true},
    {GAIJI_MASK_12X24, GAIJI_MASK_16X24, "GAI24H00", false}, {GAIJI_MASK_24X24, GAIJI_MASK_24X24, "GAI24F00", true},
    {GAIJI_MASK_16X30, GAIJI_MASK_16X30, "GAI32H00", false}, {GAIJI_MASK_32X30, GAIJI_MASK_32X30, "GAI32F00", true},
    {GAIJI_MASK_24X48, GAIJI_MASK_24X48, "GAI48H00", false}, {GAIJI_MASK_48X48, GAIJI_MASK_48X48, "GAI48F00", true},
};
