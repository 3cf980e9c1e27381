// Hook sets of the tagged text decoder: the decoder reports every event of a
// book text (a character, an external character, an escape) by calling one
// slot of a TAG_HOOKS set; the hooks write the tagged text into the render
// context's buffer. A slot left null writes nothing for its event.
//
// Every hook writes only when its whole text and a terminating NUL fit
// (used + length < capacity); otherwise it writes nothing and sets `stop`.
#pragma once

#include <cstddef>
#include <cstdint>

class CEBReader;

// The state of one decode that hooks see.
struct RENDER_CONTEXT {
    uint32_t block;  // position of the code being handled
    uint16_t offset;
    uint16_t code;       // escape code (after substitution) or character code
    uint32_t param;      // character code, or the escape's parameter
    uint8_t narrow;      // half-width mode (0x1F04 .. 0x1F05)
    uint8_t stop;        // ends the decode
    uint32_t linkBlock;  // target of a reference, position of a medium
    uint16_t linkOffset;
    uint32_t link2Block;  // second position (end of sound data)
    uint16_t link2Offset;
    char* out;
    uint32_t used;
    uint32_t capacity;
    uint32_t textBytes;  // bytes of character output (tags not counted)
    CEBReader* reader;
};

// Values read with a media escape, handed to the media hooks.
struct MEDIA_ARGS {
    uint16_t code;
    uint16_t sub;
    uint16_t attr;
    uint16_t x, y;
    uint16_t width, height;
    uint32_t start, end;
    uint8_t name[36];
};

// One entry of an escape substitution table; code 0 ends the table.
// action 0: skip the escape and `value` further bytes; action 1: handle the
// escape as the code `value`.
struct ESCAPE_SUBST {
    uint16_t code;
    uint16_t value;
    int8_t action;
};

// A hook: media is the record of the media slots (else null); fold is the
// full-width folding argument of the character slot (else 0).
typedef void (*TAG_HOOK)(RENDER_CONTEXT& ctx, const MEDIA_ARGS* media, int fold);

// Slots of a hook set.
enum TAG_SLOT {
    SLOT_CHARACTER = 0,
    SLOT_NARROW_GAIJI = 1,
    SLOT_WIDE_GAIJI = 2,
    SLOT_EB_HIGH_CODE = 3,
    SLOT_BEGIN_TEXT = 4,
    SLOT_END_TEXT = 5,
    SLOT_BEGIN_HEADING = 6,
    SLOT_END_HEADING = 7,
    SLOT_BEGIN_REFERENCE = 8,
    SLOT_END_REFERENCE = 9,
    SLOT_BEGIN_MENU = 10,
    SLOT_END_MENU = 11,
    SLOT_EB_CODE = 12,
    SLOT_UNICODE = 13,
    SLOT_PAGE = 14,
    SLOT_BEGIN_NARROW = 15,
    SLOT_END_NARROW = 16,
    SLOT_BEGIN_SUB = 17,
    SLOT_END_SUB = 18,
    SLOT_INDENT = 19,
    SLOT_NEWLINE = 20,
    SLOT_BEGIN_TABLE = 21,
    SLOT_END_TABLE = 22,
    SLOT_BEGIN_SUP = 23,
    SLOT_END_SUP = 24,
    SLOT_BEGIN_NO_BREAK = 25,
    SLOT_END_NO_BREAK = 26,
    SLOT_BEGIN_BOLD = 27,
    SLOT_END_BOLD = 28,
    SLOT_TAB = 29,
    SLOT_BEGIN_ITALIC = 30,
    SLOT_END_ITALIC = 31,
    SLOT_BEGIN_UNDERLINE = 32,
    SLOT_END_UNDERLINE = 33,
    SLOT_EB_A2 = 34,
    SLOT_EB_A3 = 35,
    SLOT_BEGIN_SOUND = 36,
    SLOT_END_SOUND = 37,
    SLOT_BEGIN_MOVIE = 38,
    SLOT_END_MOVIE = 39,
    SLOT_BEGIN_FIGURE = 40,
    SLOT_END_FIGURE = 41,
    SLOT_BEGIN_INLINE = 42,
    SLOT_END_INLINE = 43,
    SLOT_COLOUR_CHART = 44,
    SLOT_BEGIN_MAP = 45,
    SLOT_END_MAP = 46,
    SLOT_BEGIN_AREA = 47,
    SLOT_END_AREA = 48,
    SLOT_BEGIN_SOUND_AREA = 49,
    SLOT_END_SOUND_AREA = 50,
    SLOT_BEGIN_SOUND_GAIJI = 51,
    SLOT_END_SOUND_GAIJI = 52,
    SLOT_BEGIN_IMAGE = 53,
    SLOT_END_IMAGE = 54,
    SLOT_BEGIN_COLOUR = 55,
    SLOT_END_COLOUR = 56,
    SLOT_BEGIN_ANCHOR = 57,
    SLOT_ANCHOR_TARGET_END = 58,
    SLOT_END_ANCHOR = 59,
    SLOT_OTHER = 60,
    TAG_SLOT_COUNT = 61
};

// Folding argument of the character slot for the target of an anchor: folded
// to one-byte forms, and bytes that could end the attribute become "_".
constexpr int kFoldHref = 2;

struct TAG_HOOKS {
    TAG_HOOK slot[TAG_SLOT_COUNT];
};

// Clears the set and fills the default hooks.
void initHookSet(TAG_HOOKS* hooks);
// The heading set (defaults; the line end and the menu reference end stop the
// decode) and the tag set (defaults and the tag writers).
void initHeadingHooks(TAG_HOOKS* hooks);
void initTagHooks(TAG_HOOKS* hooks);

// Appends len bytes and a NUL when they fit, else sets `stop`. True when written.
bool appendTag(RENDER_CONTEXT& ctx, const char* text, size_t len);
// printf-style appendTag: the text is formatted into a local buffer first and
// written only whole.
bool appendFormat(RENDER_CONTEXT& ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The library's character writer (slot 0 of its sets), and a run of plain
// JIS X 0208 codes (big-endian pairs, both bytes 0x21-0x7E) written exactly
// as it would write them one by one. The run ends before the first other
// code and before a character that does not fit (which the writer then
// handles itself). Returns the input bytes consumed.
bool isCharacterWriter(TAG_HOOK hook);
size_t writeCharacterRun(RENDER_CONTEXT& ctx, const uint8_t* codes, size_t bytes, int fold);

// The hook that writes nothing and stops the decode.
void stopHook(RENDER_CONTEXT& ctx, const MEDIA_ARGS* media, int fold);
// The hook that writes nothing.
void noopHook(RENDER_CONTEXT& ctx, const MEDIA_ARGS* media, int fold);
