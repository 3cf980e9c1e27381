// The escape codes that book text carries, and the character entity table
// that CBlockStream::writeText resolves "&name;" references with.
//
// Escape codes are big-endian 16-bit values whose first byte is 0x1F, written
// with CBlockStream::writeCode; operands follow as noted.
#pragma once

#include <cstddef>
#include <cstdint>

enum EB_ESCAPE_CODE : uint16_t {
    EB_BEGIN_TEXT = 0x1F02,  // start of an entry's or page's body
    EB_END_TEXT = 0x1F03,
    EB_BEGIN_NARROW = 0x1F04,  // half-width characters
    EB_END_NARROW = 0x1F05,
    EB_BEGIN_SUBSCRIPT = 0x1F06,
    EB_END_SUBSCRIPT = 0x1F07,
    EB_INDENT = 0x1F09,   // + 16-bit indent level
    EB_NEWLINE = 0x1F0A,  // resets the column counter
    EB_BEGIN_SUPERSCRIPT = 0x1F0E,
    EB_END_SUPERSCRIPT = 0x1F0F,
    EB_BEGIN_NO_BREAK = 0x1F10,
    EB_END_NO_BREAK = 0x1F11,
    EB_BEGIN_MEDIA = 0x1F31,  // multimedia writer; closed by EB_END_MEDIA
    EB_BEGIN_INLINE_COLOR_GRAPHIC = 0x1F32,
    EB_BEGIN_MOVIE = 0x1F39,
    EB_BEGIN_INLINE_GRAPHIC = 0x1F3C,
    EB_BEGIN_KEYWORD = 0x1F41,  // + 16-bit operand 0x0160
    EB_BEGIN_REFERENCE = 0x1F42,
    EB_BEGIN_MENU_ITEM = 0x1F43,
    EB_BEGIN_MONO_GRAPHIC = 0x1F44,
    EB_BEGIN_GRAPHIC_BLOCK = 0x1F45,  // + 0x0001 and an inline graphic
    EB_BEGIN_SOUND = 0x1F4A,
    EB_BEGIN_COLOR_GRAPHIC = 0x1F4D,
    EB_END_MEDIA = 0x1F51,
    EB_END_INLINE_COLOR_GRAPHIC = 0x1F52,
    EB_END_MOVIE = 0x1F59,
    EB_END_INLINE_GRAPHIC = 0x1F5C,
    EB_END_KEYWORD = 0x1F61,
    EB_END_REFERENCE = 0x1F62,     // + BCD block (4 bytes) + BCD offset (2 bytes)
    EB_END_MENU_ITEM = 0x1F63,     // + BCD block (4 bytes) + BCD offset (2 bytes)
    EB_END_MONO_GRAPHIC = 0x1F64,  // + BCD position
    EB_END_GRAPHIC_BLOCK = 0x1F65,
    EB_END_SOUND = 0x1F6A,
    EB_END_COLOR_GRAPHIC = 0x1F6D,
    EB_BEGIN_DECORATION = 0x1FE0,  // + 16-bit kind (EPWING books only)
    EB_END_DECORATION = 0x1FE1,
};

// Kinds of EB_BEGIN_DECORATION.
enum { EB_DECORATION_ITALIC = 1, EB_DECORATION_BOLD = 3 };

// The operand of EB_BEGIN_KEYWORD.
enum { EB_KEYWORD_OPERAND = 0x0160 };

// The JIS X 0208 code of the geta mark, written for characters that have no
// book code.
enum { EB_GETA_CODE = 0x222E };

// One row of the entity table.
struct ENTITY_ITEM {
    const char* name;
    uint16_t value;  // Unicode code point
};

// 254 rows: "lt" "gt" "amp" "quot" "apos" "nbsp", then the other character
// entities of HTML 4.01 (Latin-1, special, symbols), and a last row with an
// empty name and value 0. "nbsp" is a plain space 0x20 and "apos" 0x27.
constexpr int kEntityTableSize = 254;
extern const ENTITY_ITEM kEntityTable[kEntityTableSize];

// The value of the entity whose name is the n bytes at name (exact,
// case-sensitive, first match wins); 0 when there is none.
uint16_t lookupEntity(const char* name, size_t n);
