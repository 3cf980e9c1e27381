#include "bookreader/text/TagHooks.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bookreader/core/CEBReader.h"
#include "bookreader/text/CTextDecoder.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

// Room the longest tag of this file needs, with some to spare for values
// wider than their printed width.
constexpr int kTagBuffer = 160;
// Areas one image map keeps.
constexpr int kMaxMapAreas = 30;
// Codes an image map may span.
constexpr int kMaxMapCodes = 4096;

bool fits(const RENDER_CONTEXT& ctx, size_t len) {
    return ctx.out && static_cast<uint64_t>(ctx.used) + len < ctx.capacity;
}

void put(RENDER_CONTEXT& ctx, const char* text, size_t len) {
    memcpy(ctx.out + ctx.used, text, len);
    ctx.used += static_cast<uint32_t>(len);
    ctx.out[ctx.used] = 0;
}

// Writes a character's bytes, counted as text.
void putText(RENDER_CONTEXT& ctx, const char* text, size_t len) {
    put(ctx, text, len);
    ctx.textBytes += static_cast<uint32_t>(len);
}

// appendTag for character output: the bytes count as text.
bool appendText(RENDER_CONTEXT& ctx, const char* text, size_t len) {
    if (!appendTag(ctx, text, len)) return false;
    ctx.textBytes += static_cast<uint32_t>(len);
    return true;
}

bool formatText(RENDER_CONTEXT& ctx, const char* format, unsigned value) {
    char buf[32];
    int n = snprintf(buf, sizeof buf, format, value);
    return n > 0 && appendText(ctx, buf, static_cast<size_t>(n));
}

#define FIXED_TAG(name, text)                                \
    void name(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) { \
        appendTag(ctx, text, sizeof(text) - 1);              \
    }

FIXED_TAG(hookBeginText, "<BODY>")
FIXED_TAG(hookEndText, "</BODY>")
FIXED_TAG(hookBeginHeading, "<HEAD>")
FIXED_TAG(hookEndHeading, "</HEAD>")
FIXED_TAG(hookBeginSub, "<SUB>")
FIXED_TAG(hookEndSub, "</SUB>")
FIXED_TAG(hookNewline, "<BR>")
FIXED_TAG(hookBeginTable, "<TABLE>")
FIXED_TAG(hookEndTable, "</TABLE>")
FIXED_TAG(hookBeginSup, "<SUP>")
FIXED_TAG(hookEndSup, "</SUP>")
FIXED_TAG(hookBeginBold, "<B>")
FIXED_TAG(hookEndBold, "</B>")
FIXED_TAG(hookBeginItalic, "<I>")
FIXED_TAG(hookEndItalic, "</I>")
FIXED_TAG(hookBeginUnderline, "<U>")
FIXED_TAG(hookEndUnderline, "</U>")
FIXED_TAG(hookBeginReference, "<LINK>")
FIXED_TAG(hookBeginMenu, "<MENU>")
FIXED_TAG(hookPage, "<PAGE>")
FIXED_TAG(hookBeginSound, "<WAV>")
FIXED_TAG(hookBeginMovie, "<MOV>\x81\xA8")
FIXED_TAG(hookBeginFigure, "<FIG>")
FIXED_TAG(hookBeginInline, "<INL>")
FIXED_TAG(hookBeginMap, "<MAP>")
FIXED_TAG(hookEndMap, "</MAP>")
FIXED_TAG(hookBeginSoundGaiji, " <SND>")
FIXED_TAG(hookBeginAnchor, "<A href=\"")
FIXED_TAG(hookAnchorTargetEnd, "\">")
FIXED_TAG(hookEndAnchor, "</A>")

#undef FIXED_TAG

bool isHrefSafe(unsigned char c) {
    if (c >= 0x80) return true;  // halves of two-byte characters
    if (c <= 0x20 || c == 0x7F) return false;
    return strchr("\"<>\\`{}|^", c) == nullptr;
}

void writeOneByte(RENDER_CONTEXT& ctx, unsigned char c, int fold) {
    if (c == '&') {
        putText(ctx, "&amp;", 5);
    } else if (c == '<') {
        putText(ctx, "&lt;", 4);
    } else if (c == '>') {
        putText(ctx, "&gt;", 4);
    } else {
        char b = static_cast<char>(fold == kFoldHref && !isHrefSafe(c) ? '_' : c);
        putText(ctx, &b, 1);
    }
}

// Shift_JIS forms of every JIS X 0208 code position, made once: the
// two-byte code, and the form written in narrow mode (the one-byte ASCII
// form where one exists). Characters are the decoder's hottest path.
struct JisForms {
    uint16_t wide[94 * 94];
    uint16_t narrow[94 * 94];
    JisForms() {
        for (unsigned row = 0; row < 94; ++row) {
            for (unsigned col = 0; col < 94; ++col) {
                unsigned sjis = jclib::jisToSjis(((row + 0x21) << 8) | (col + 0x21));
                wide[row * 94 + col] = static_cast<uint16_t>(sjis);
                narrow[row * 94 + col] =
                    static_cast<uint16_t>(sjis < 0x829F && sjis != 0x815B ? jclib::zenkakuToHankaku(sjis) : sjis);
            }
        }
    }
};

// Made when the library loads; it depends on nothing but arithmetic and
// jclib's constant tables.
const JisForms kJisForms;

inline const JisForms& jisForms() {
    return kJisForms;
}

void hookCharacter(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int fold) {
    uint32_t code = ctx.param;
    if (code == 0) return;
    if (!fits(ctx, 5)) {  // room for "&amp;"
        ctx.stop = 1;
        return;
    }
    if (code < 32) {
        putText(ctx, " ", 1);
        return;
    }
    if (code < 256) {
        writeOneByte(ctx, static_cast<unsigned char>(code), fold);
        return;
    }
    unsigned sjis;
    unsigned row = (code >> 8) - 0x21, col = (code & 0xFF) - 0x21;
    if (code <= 0xFFFF && row < 94 && col < 94) {
        const JisForms& forms = jisForms();
        sjis = (ctx.narrow || fold) ? forms.narrow[row * 94 + col] : forms.wide[row * 94 + col];
    } else {
        sjis = jclib::jisToSjis(code & 0xFFFF);
        if ((ctx.narrow || fold) && sjis < 0x829F && sjis != 0x815B) sjis = jclib::zenkakuToHankaku(sjis);
    }
    if (sjis == 0) return;
    if (sjis <= 0xFF) {
        if (sjis == '&' || sjis == '<' || sjis == '>' || fold == kFoldHref) {
            writeOneByte(ctx, static_cast<unsigned char>(sjis), fold);
        } else {
            ctx.out[ctx.used++] = static_cast<char>(sjis);
            ctx.out[ctx.used] = 0;
            ctx.textBytes += 1;
        }
        return;
    }
    char two[2] = {static_cast<char>(sjis >> 8), static_cast<char>(sjis & 0xFF)};
    ctx.out[ctx.used] = two[0];
    ctx.out[ctx.used + 1] = two[1];
    ctx.used += 2;
    ctx.out[ctx.used] = 0;
    ctx.textBytes += 2;
}

void hookNarrowGaiji(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    formatText(ctx, "&h%04X;", ctx.param);
}
void hookWideGaiji(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    formatText(ctx, "&z%04X;", ctx.param);
}
void hookEbHighCode(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    formatText(ctx, "&g%04X;", ctx.param | 0x8080);
}
void hookEbCode(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    formatText(ctx, "&c%04X;", ctx.param);
}
void hookUnicode(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    formatText(ctx, ctx.param < 0x10000 ? "&u%04X;" : "&u%05X;", ctx.param);
}
void hookIndent(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    if (ctx.param > 99) return;
    char tag[] = "<INDENT=00>";
    tag[8] = static_cast<char>('0' + ctx.param / 10);
    tag[9] = static_cast<char>('0' + ctx.param % 10);
    appendTag(ctx, tag, sizeof tag - 1);
}
void hookTab(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    if (ctx.param <= 99) formatText(ctx, "<TAB=%02u>", ctx.param);
}
void hookEndReference(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    appendFormat(ctx, "</LINK[%08X:%04X]>", ctx.linkBlock, ctx.linkOffset);
}
void hookEndMenu(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    appendFormat(ctx, "</MENU[%08X:%04X]>", ctx.linkBlock, ctx.linkOffset);
}
void hookColourChart(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    if (ctx.param != 0) appendFormat(ctx, "<COLCHART=%03u>", ctx.param);
}

void hookEndSound(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    if (ctx.reader && ctx.reader->kind() == BOOK_KIND_EB) {
        appendFormat(ctx, "</WAV[%08X:0000][%08X:0000](1:0:0:0:0)>", m->start, m->end);
        return;
    }
    unsigned attr = m->attr;
    appendFormat(ctx, "</WAV[%08X:%04X][%08X:%04X](%u:%u:%u:%u:%u)>", ctx.linkBlock, ctx.linkOffset, ctx.link2Block,
                 ctx.link2Offset, m->sub % 10u, attr / 1000 % 10, attr / 100 % 10, attr / 10 % 10, attr % 10);
}

bool isNameSafe(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-' ||
           c == '.';
}

// A name of `count` 16-bit codes from the media record, one byte per code:
// `viaSjis` converts each JIS code to its one-byte Shift_JIS form, else the
// code's low byte is taken. A zero ends the name; bytes that could break a
// tag or a path become "_".
void mediaName(const MEDIA_ARGS* m, int count, bool viaSjis, bool movie, char* out) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        unsigned code = byteorder::be16(m->name + 2 * i);
        if (code == 0) break;
        unsigned char c;
        if (movie && code == 0x2132)
            c = '_';
        else if (viaSjis)
            c = static_cast<unsigned char>(jclib::zenkakuToHankaku(jclib::jisToSjis(code)) & 0xFF);
        else
            c = static_cast<unsigned char>(jclib::zenkakuToHankaku(code) & 0xFF);
        if (c == 0) break;
        out[n++] = static_cast<char>(isNameSafe(c) ? c : '_');
    }
    out[n] = 0;
}

void hookEndMovie(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    char name[9];
    mediaName(m, 8, false, true, name);
    appendFormat(ctx, "</MOV[%-8s]>", name);
}
void hookEndSoundGaiji(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    char name[9];
    mediaName(m, 8, false, false, name);
    appendFormat(ctx, "</SND[%-8s]>", name);
}
void hookEndImage(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    char name[13];
    mediaName(m, 12, true, false, name);
    appendFormat(ctx, "<IMG src=\"%s\"></IMG>", name);
}

unsigned hexPair(const char* p) {
    unsigned v = 0;
    for (int i = 0; i < 2; ++i) {
        char c = p[i];
        unsigned d = (c >= '0' && c <= '9')   ? static_cast<unsigned>(c - '0')
                     : (c >= 'A' && c <= 'F') ? static_cast<unsigned>(c - 'A' + 10)
                     : (c >= 'a' && c <= 'f') ? static_cast<unsigned>(c - 'a' + 10)
                                              : 0;
        v = v * 16 + d;
    }
    return v;
}

void hookEndColour(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    char digits[7];
    for (int i = 0; i < 6; ++i) {
        unsigned code = byteorder::be16(m->name + 2 * i);
        digits[i] = static_cast<char>(jclib::zenkakuToHankaku(jclib::jisToSjis(code)) & 0xFF);
    }
    digits[6] = 0;
    appendFormat(ctx, "<COL=%02X%02X%02X>\x81\xA1</COL>", hexPair(digits + 4), hexPair(digits + 2), hexPair(digits));
}

void hookEndInline(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    appendFormat(ctx, "</INL[%08X:%04X](%04u*%04u:%d)>", ctx.linkBlock, ctx.linkOffset, m->width, m->height, 1);
}
// One area of an image map: a link to block:offset, or (sound) the sound
// from first to second.
bool appendArea(RENDER_CONTEXT& ctx, unsigned x, unsigned y, unsigned width, unsigned height, bool sound,
                uint32_t first, uint32_t second) {
    if (sound)
        return appendFormat(ctx, "<AREA COORDS=%03u,%03u,%03u,%03u SOUND=[%08X:%08X]>", x, y, width, height, first,
                            second);
    return appendFormat(ctx, "<AREA COORDS=%03u,%03u,%03u,%03u HREF=[%08X:%04X]>", x, y, width, height, first, second);
}

void hookEndArea(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    appendArea(ctx, m->x, m->y, m->width, m->height, false, ctx.linkBlock, ctx.linkOffset);
}
void hookEndSoundArea(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    appendArea(ctx, m->x, m->y, m->width, m->height, true, m->start, m->end);
}

struct MapArea {
    uint16_t code, x, y;
    uint32_t block;
    uint16_t offset;
    uint32_t start, end;
};

// Reads the image map that a 0x1F52 / 0x1F5F figure end points at; the
// picture's own position and size replace those of the figure.
int readImageMap(CEBReader& reader, uint32_t* linkBlock, uint16_t* linkOffset, uint16_t* width, uint16_t* height,
                 MapArea* areas) {
    auto bcd = [&reader](int n) {
        int64_t v = reader.readBcd(n);
        return v < 0 ? 0u : static_cast<uint32_t>(v);
    };
    auto code = [&reader]() { return CTextDecoder::readCode(reader); };
    if (!reader.seekBlock(*linkBlock)) return 0;
    if (*linkOffset > 0 && !reader.setOffset(*linkOffset)) return 0;
    const READER_INDEX_INFO* area = reader.findIndexAt(*linkBlock, *linkOffset);
    uint64_t endBlock = area ? static_cast<uint64_t>(area->start) + area->count - 1 : reader.lastBlock();
    auto alive = [&]() { return !reader.readFailed() && static_cast<uint64_t>(reader.currentBlock()) <= endBlock; };
    if (code() != 0x1F45) return 0;
    code();
    code();
    int count = 0;
    uint32_t c = code();
    for (int steps = 0; c != 0x1F65 && steps < kMaxMapCodes && alive(); ++steps) {
        MapArea a;
        memset(&a, 0, sizeof a);
        a.code = static_cast<uint16_t>(c);
        bool keep = false;
        switch (c) {
            case 0x1F31: {
                code();
                *width = static_cast<uint16_t>(bcd(2));
                *height = static_cast<uint16_t>(bcd(2));
                for (int i = 0; i < kMaxMapCodes && alive(); ++i)
                    if (code() == 0x1F51) break;
                *linkBlock = bcd(4);
                *linkOffset = static_cast<uint16_t>(bcd(2));
                break;
            }
            case 0x1F32:
            case 0x1F3F:
            case 0x1F42: {
                a.x = static_cast<uint16_t>(bcd(2));
                a.y = static_cast<uint16_t>(bcd(2));
                uint32_t want = c == 0x1F32 ? 0x1F52 : c == 0x1F3F ? 0x1F5F : 0x1F62;
                if (code() == want) {
                    a.block = bcd(4);
                    a.offset = static_cast<uint16_t>(bcd(2));
                    keep = true;
                }
                break;
            }
            case 0x1F33: {
                a.x = static_cast<uint16_t>(bcd(2));
                a.y = static_cast<uint16_t>(bcd(2));
                if (code() == 0x1F53) {
                    code();
                    uint32_t m = bcd(1), s = bcd(1), f = bcd(1);
                    a.start = (m * 60 + s) * 75 + f - 1;
                    m = bcd(1), s = bcd(1), f = bcd(1);
                    a.end = (m * 60 + s) * 75 + f;
                    keep = true;
                }
                break;
            }
            case 0x1F36: {
                a.x = static_cast<uint16_t>(bcd(2));
                a.y = static_cast<uint16_t>(bcd(2));
                const READER_INDEX_INFO* target = reader.findIndex(code());
                if (target) {
                    a.block = target->start;
                    keep = true;
                }
                code();
                break;
            }
            default:
                break;
        }
        if (keep && count < kMaxMapAreas) areas[count++] = a;
        c = code();
    }
    return count;
}

void hookEndFigure(RENDER_CONTEXT& ctx, const MEDIA_ARGS* m, int) {
    unsigned flag = ctx.code == 0x1F52 ? 0 : (ctx.code == 0x1F5F || ctx.code == 0x1F6D) ? 1 : m->attr;
    uint32_t linkBlock = ctx.linkBlock;
    uint16_t linkOffset = ctx.linkOffset, width = m->width, height = m->height;
    MapArea areas[kMaxMapAreas];
    int count = 0;
    CEBReader* reader = ctx.reader;
    if ((ctx.code == 0x1F52 || ctx.code == 0x1F5F) && reader && linkBlock != 0) {
        uint32_t block = static_cast<uint32_t>(reader->currentBlock());
        int offset = reader->currentOffset();
        const READER_INDEX_INFO* here = reader->findIndexAt(block, static_cast<uint32_t>(offset));
        if (here && here->id == 0x00) {
            count = readImageMap(*reader, &linkBlock, &linkOffset, &width, &height, areas);
            reader->seekBlock(block);
            if (offset > 0) reader->setOffset(offset);
        }
    }
    if (!appendFormat(ctx, "</FIG[%08X:%04X](%04u*%04u:%u)>", linkBlock, linkOffset, width, height, flag)) return;
    for (int i = 0; i < count; ++i) {
        const MapArea& a = areas[i];
        const bool sound = a.code == 0x1F33;
        if (!appendArea(ctx, a.x, a.y, 0, 0, sound, sound ? a.start : a.block, sound ? a.end : a.offset)) return;
    }
}

}  // namespace

bool isCharacterWriter(TAG_HOOK hook) {
    return hook == hookCharacter;
}

size_t writeCharacterRun(RENDER_CONTEXT& ctx, const uint8_t* codes, size_t bytes, int fold) {
    if (!ctx.out || fold == kFoldHref) return 0;
    const JisForms& forms = jisForms();
    const uint16_t* table = (ctx.narrow || fold) ? forms.narrow : forms.wide;
    size_t i = 0;
    char* out = ctx.out;
    uint32_t used = ctx.used, textBytes = ctx.textBytes;
    for (; i + 1 < bytes; i += 2) {
        unsigned row = codes[i] - 0x21u, col = codes[i + 1] - 0x21u;
        if (row >= 94 || col >= 94) break;
        if (static_cast<uint64_t>(used) + 5 >= ctx.capacity) break;  // the writer's own room rule
        unsigned sjis = table[row * 94 + col];
        if (sjis > 0xFF) {
            out[used] = static_cast<char>(sjis >> 8);
            out[used + 1] = static_cast<char>(sjis);
            used += 2;
            textBytes += 2;
        } else if (sjis == '&' || sjis == '<' || sjis == '>' || sjis == 0) {
            break;
        } else {
            out[used++] = static_cast<char>(sjis);
            textBytes += 1;
        }
    }
    out[used] = 0;
    ctx.used = used;
    ctx.textBytes = textBytes;
    return i;
}

bool appendTag(RENDER_CONTEXT& ctx, const char* text, size_t len) {
    if (!fits(ctx, len)) {
        ctx.stop = 1;
        return false;
    }
    put(ctx, text, len);
    return true;
}

bool appendFormat(RENDER_CONTEXT& ctx, const char* format, ...) {
    char buf[kTagBuffer];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(sizeof buf)) {
        ctx.stop = 1;
        return false;
    }
    return appendTag(ctx, buf, static_cast<size_t>(n));
}

void stopHook(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    ctx.stop = 1;
}

void noopHook(RENDER_CONTEXT&, const MEDIA_ARGS*, int) {}

void initHookSet(TAG_HOOKS* hooks) {
    memset(hooks, 0, sizeof *hooks);
    TAG_HOOK* s = hooks->slot;
    s[SLOT_CHARACTER] = hookCharacter;
    s[SLOT_NARROW_GAIJI] = hookNarrowGaiji;
    s[SLOT_WIDE_GAIJI] = hookWideGaiji;
    s[SLOT_EB_HIGH_CODE] = hookEbHighCode;
    s[SLOT_BEGIN_TEXT] = hookBeginText;
    s[SLOT_END_TEXT] = hookEndText;
    s[SLOT_BEGIN_HEADING] = hookBeginHeading;
    s[SLOT_END_HEADING] = hookEndHeading;
    s[SLOT_BEGIN_REFERENCE] = noopHook;
    s[SLOT_END_REFERENCE] = noopHook;
    s[SLOT_BEGIN_MENU] = noopHook;
    s[SLOT_END_MENU] = noopHook;
    s[SLOT_EB_CODE] = hookEbCode;
    s[SLOT_UNICODE] = hookUnicode;
    s[SLOT_BEGIN_SUB] = hookBeginSub;
    s[SLOT_END_SUB] = hookEndSub;
    s[SLOT_INDENT] = hookIndent;
    s[SLOT_NEWLINE] = hookNewline;
    s[SLOT_BEGIN_TABLE] = hookBeginTable;
    s[SLOT_END_TABLE] = hookEndTable;
    s[SLOT_BEGIN_SUP] = hookBeginSup;
    s[SLOT_END_SUP] = hookEndSup;
    s[SLOT_BEGIN_NO_BREAK] = noopHook;
    s[SLOT_END_NO_BREAK] = noopHook;
    s[SLOT_BEGIN_BOLD] = hookBeginBold;
    s[SLOT_END_BOLD] = hookEndBold;
    s[SLOT_TAB] = hookTab;
    s[SLOT_BEGIN_ITALIC] = hookBeginItalic;
    s[SLOT_END_ITALIC] = hookEndItalic;
    s[SLOT_BEGIN_UNDERLINE] = hookBeginUnderline;
    s[SLOT_END_UNDERLINE] = hookEndUnderline;
    s[SLOT_OTHER] = noopHook;
}

void initHeadingHooks(TAG_HOOKS* hooks) {
    initHookSet(hooks);
    hooks->slot[SLOT_END_MENU] = stopHook;
    hooks->slot[SLOT_NEWLINE] = stopHook;
}

void initTagHooks(TAG_HOOKS* hooks) {
    initHookSet(hooks);
    TAG_HOOK* s = hooks->slot;
    s[SLOT_BEGIN_REFERENCE] = hookBeginReference;
    s[SLOT_END_REFERENCE] = hookEndReference;
    s[SLOT_BEGIN_MENU] = hookBeginMenu;
    s[SLOT_END_MENU] = hookEndMenu;
    s[SLOT_PAGE] = hookPage;
    s[SLOT_BEGIN_SOUND] = hookBeginSound;
    s[SLOT_END_SOUND] = hookEndSound;
    s[SLOT_BEGIN_MOVIE] = hookBeginMovie;
    s[SLOT_END_MOVIE] = hookEndMovie;
    s[SLOT_BEGIN_FIGURE] = hookBeginFigure;
    s[SLOT_END_FIGURE] = hookEndFigure;
    s[SLOT_BEGIN_INLINE] = hookBeginInline;
    s[SLOT_END_INLINE] = hookEndInline;
    s[SLOT_COLOUR_CHART] = hookColourChart;
    s[SLOT_BEGIN_MAP] = hookBeginMap;
    s[SLOT_END_MAP] = hookEndMap;
    s[SLOT_BEGIN_AREA] = noopHook;
    s[SLOT_END_AREA] = hookEndArea;
    s[SLOT_BEGIN_SOUND_AREA] = noopHook;
    s[SLOT_END_SOUND_AREA] = hookEndSoundArea;
    s[SLOT_BEGIN_SOUND_GAIJI] = hookBeginSoundGaiji;
    s[SLOT_END_SOUND_GAIJI] = hookEndSoundGaiji;
    s[SLOT_BEGIN_IMAGE] = noopHook;
    s[SLOT_END_IMAGE] = hookEndImage;
    s[SLOT_BEGIN_COLOUR] = noopHook;
    s[SLOT_END_COLOUR] = hookEndColour;
    s[SLOT_BEGIN_ANCHOR] = hookBeginAnchor;
    s[SLOT_ANCHOR_TARGET_END] = hookAnchorTargetEnd;
    s[SLOT_END_ANCHOR] = hookEndAnchor;
}
