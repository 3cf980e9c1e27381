#include "bookreader/text/CTextDecoder.h"

#include <cstring>

#include "bookreader/core/CEBReader.h"
#include "foundation/book/BookConstants.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

// Codes an inner run (hexadecimal digits, anchors, skipped parameters) may
// span before the decode gives up on it.
constexpr int kMaxRunCodes = 4096;

// The JIS X 0208 right arrow and the kanji for figure.
constexpr uint32_t kJisRightArrow = 0x222A;
constexpr uint32_t kJisFigure = 0x3F5E;

struct Position {
    uint32_t block;
    uint32_t offset;
};

Position positionOf(const CEBReader& reader) {
    Position p{static_cast<uint32_t>(reader.currentBlock()), static_cast<uint32_t>(reader.currentOffset())};
    if (p.offset >= static_cast<uint32_t>(kBlockSize)) {
        p.block += 1;
        p.offset -= kBlockSize;
    }
    return p;
}

bool seekTo(CEBReader& reader, uint32_t block, uint32_t offset) {
    if (!reader.seekBlock(block)) return false;
    return offset == 0 || reader.setOffset(static_cast<int>(offset));
}

// Position moved back by n bytes (n below 2048).
Position backBy(Position p, uint32_t n) {
    if (p.offset >= n) return {p.block, p.offset - n};
    return {p.block > 0 ? p.block - 1 : 0, p.offset + kBlockSize - n};
}

bool isTextArea(const READER_INDEX_INFO* area) {
    return area && (area->id == 0x00 || area->id == 0x01 || area->id == 0x20);
}

int hexDigit(uint32_t code) {
    if (code >= 0x2330 && code <= 0x2339) return static_cast<int>(code - 0x2330);
    if (code >= 0x2341 && code <= 0x2346) return static_cast<int>(code - 0x2341 + 10);
    if (code >= 0x2361 && code <= 0x2366) return static_cast<int>(code - 0x2361 + 10);
    return -1;
}

// The one-byte form of a JIS X 0208 code (its full-width ASCII folded).
char narrowByte(uint32_t jis) {
    return static_cast<char>(jclib::zenkakuToHankaku(jclib::jisToSjis(jis)) & 0xFF);
}

}  // namespace

CTextDecoder::CTextDecoder(CEBReader& reader, const TAG_HOOKS* hooks) : m_reader(reader), m_hooks(hooks) {
    memset(&m_ctx, 0, sizeof m_ctx);
    memset(&m_media, 0, sizeof m_media);
}

bool CTextDecoder::isMapArea(uint32_t id) {
    return id == 0x0E || id == 0x0F || id == 0x10 || id == 0x11 || id == 0xEE || id == 0xEF;
}

uint32_t CTextDecoder::readCode(CEBReader& reader) {
    if (!reader.isLatin1()) return reader.readWord16();
    uint32_t first = reader.readByte();
    uint32_t low = reader.narrowFont().startCode >> 8, high = reader.narrowFont().endCode >> 8;
    if (first == 0x1F || (first >= low && first <= high && first != 0)) return (first << 8) | reader.readByte();
    return first;
}

void CTextDecoder::call(int slot, int fold) {
    TAG_HOOK hook = m_hooks->slot[slot];
    if (hook) hook(m_ctx, &m_media, fold);
}

bool CTextDecoder::alive() const {
    if (m_reader.readFailed()) return false;
    Position p = positionOf(m_reader);
    return m_endBlock == 0 || p.block <= m_endBlock;
}

uint32_t CTextDecoder::bcd(int n) {
    int64_t v = m_reader.readBcd(n);
    return v < 0 ? 0 : static_cast<uint32_t>(v);
}

void CTextDecoder::readLink() {
    m_ctx.linkBlock = bcd(4);
    m_ctx.linkOffset = static_cast<uint16_t>(bcd(2));
}

void CTextDecoder::clearMedia() {
    memset(&m_media, 0, sizeof m_media);
}

void CTextDecoder::readPoint() {
    m_media.x = static_cast<uint16_t>(bcd(2));
    m_media.y = static_cast<uint16_t>(bcd(2));
}

void CTextDecoder::readMediaFields(bool skipAfterSub) {
    m_media.sub = static_cast<uint16_t>(bcd(2));
    if (skipAfterSub) m_reader.readBcd(2);
    m_media.code = static_cast<uint16_t>(bcd(2));
    readPoint();
    m_media.width = static_cast<uint16_t>(bcd(2));
    m_media.height = static_cast<uint16_t>(bcd(2));
}

uint32_t CTextDecoder::run(char* out, uint32_t capacity, uint32_t* length, int pageStop, int blockLimit) {
    if (length) *length = 0;
    if (out && capacity > 0) out[0] = 0;
    Position start = positionOf(m_reader);
    const READER_INDEX_INFO* area = m_reader.findIndexAt(start.block, start.offset);
    if (area && area->count > 0) {
        uint64_t end = static_cast<uint64_t>(area->start) + area->count - 1;
        m_endBlock = end > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(end);
    } else {
        m_endBlock = m_reader.lastBlock();
    }
    m_limitedEnd = m_endBlock;
    if (blockLimit > 0) {
        uint64_t limited = static_cast<uint64_t>(start.block) + static_cast<uint64_t>(blockLimit) - 1;
        if (limited < m_limitedEnd) m_limitedEnd = static_cast<uint32_t>(limited);
    }
    m_body = area && area->id == 0x00;
    m_map = area && isMapArea(area->id);
    m_pageStop = pageStop;

    memset(&m_ctx, 0, sizeof m_ctx);
    m_ctx.out = out;
    m_ctx.capacity = out ? capacity : 0;
    m_ctx.reader = &m_reader;

    uint32_t c[4];
    for (uint32_t& v : c) v = m_reader.readWord16();
    seekTo(m_reader, start.block, start.offset);
    uint64_t startPos = packPosition(start.block, start.offset);
    m_reader.setLastText(startPos, startPos);

    if (m_reader.pageBreakCode() != 0) {
        m_pageCode = m_reader.pageBreakCode();
        m_pageParam = m_reader.pageBreakParameter();
        m_pageCounter = (c[0] == m_pageCode && c[1] == m_pageParam) ? -1 : 0;
    } else if (c[0] == 0x1F09 && c[1] == 0x0001 && c[2] == 0x1F41) {
        m_pageCode = 0x1F41;
        m_pageParam = c[3];
        m_pageCounter = -1;
    } else if (c[0] == 0x1F09 || c[0] == 0x1F41) {
        m_pageCode = static_cast<uint16_t>(c[0]);
        m_pageParam = c[1];
        m_pageCounter = -1;
    } else {
        m_pageCode = 0x1F09;
        m_pageParam = 1;
        m_pageCounter = 0;
    }
    if (m_body && !m_reader.isLatin1() && c[0] >= 0x2121 && start.offset > 1) backScan(start.block, start.offset);

    m_backOff = 0;
    const bool latin1 = m_reader.isLatin1();
    const bool eb = m_reader.kind() == BOOK_KIND_EB;
    const int fold = m_reader.textOption();
    const TAG_HOOK characterHook = m_hooks->slot[SLOT_CHARACTER];
    const bool runWriter = isCharacterWriter(characterHook);
    while (!m_ctx.stop) {
        Position p = positionOf(m_reader);
        if ((m_endBlock > 0 && m_endBlock < p.block) || m_reader.readFailed()) break;
        m_ctx.block = p.block;
        m_ctx.offset = static_cast<uint16_t>(p.offset);
        uint32_t code = latin1 ? readCode(m_reader) : m_reader.readWord16();
        if (m_reader.readFailed()) break;
        m_ctx.code = static_cast<uint16_t>(code);
        m_ctx.param = code;
        if (latin1 && (code >> 8) != 0x1F) {
            call(code >= 0x0101 && code <= 0x1E1E ? SLOT_NARROW_GAIJI : SLOT_CHARACTER, fold);
            continue;
        }
        if (code >= 0x2121 && code <= 0x7EFE) {
            if (eb && (code & 0x80))
                call(SLOT_EB_HIGH_CODE);
            else if (characterHook) {
                characterHook(m_ctx, &m_media, fold);
                if (runWriter && !m_ctx.stop) {
                    // Plain characters that follow, in one pass over the block.
                    size_t available = 0;
                    const uint8_t* run = m_reader.peek(&available);
                    m_reader.skip(writeCharacterRun(m_ctx, run, available, fold));
                }
            }
        } else if (code >= 0xA121 && code <= 0xFE7E) {
            const FONT_HEADER& nf = m_reader.narrowFont();
            const FONT_HEADER& wf = m_reader.wideFont();
            bool inNarrow = nf.startBlock && code >= nf.startCode && code <= nf.endCode;
            bool inWide = wf.startBlock && code >= wf.startCode && code <= wf.endCode;
            if ((inNarrow && !inWide) || m_ctx.narrow) {
                call(SLOT_NARROW_GAIJI);
            } else if (m_reader.hasWaveFileMap() && !inWide && code == 0xA427) {
                clearMedia();
                m_reader.readBytes(m_media.name, 16);
                if (readCode(m_reader) == 0xA428) {
                    call(SLOT_BEGIN_SOUND_GAIJI);
                    m_ctx.param = kJisRightArrow;
                    call(SLOT_CHARACTER, m_reader.textOption());
                    call(SLOT_END_SOUND_GAIJI);
                }
            } else {
                call(SLOT_WIDE_GAIJI);
            }
        } else if (code == 0) {
            continue;
        } else if ((code >> 8) == 0x1F) {
            escape(static_cast<uint16_t>(code));
        } else {
            call(SLOT_OTHER);
        }
    }

    Position end = backBy(positionOf(m_reader), static_cast<uint32_t>(m_backOff));
    m_reader.setLastText(startPos, packPosition(end.block, end.offset));
    if (length) *length = m_ctx.used;
    return m_ctx.used;
}

void CTextDecoder::backScan(uint32_t startBlock, uint32_t startOffset) {
    uint32_t n = startOffset < 64 ? startOffset : 64;
    const uint32_t from = startOffset - n;
    uint8_t before[64];
    if (!seekTo(m_reader, startBlock, from)) return;
    m_reader.readBytes(before, static_cast<int>(n));
    // before[n - k] is the byte k bytes before the start.
    uint32_t newStart = startOffset;
    for (uint32_t k = 2; k < n; k += 2) {
        if (k + 2 <= n && before[n - k - 2] == 0x1F && (before[n - k - 1] == 0x41 || before[n - k - 1] == 0x09)) {
            newStart = startOffset - k - 2;
            break;
        }
        if (before[n - k] == 0x1F) {
            newStart = startOffset - k;
            break;
        }
        if (before[n - k] < 0x21 || before[n - k + 1] < 0x21) {
            if (k > 2) newStart = startOffset - (k - 2);
            break;
        }
    }
    seekTo(m_reader, startBlock, newStart);
}

bool CTextDecoder::pageRule(uint16_t code, uint32_t param) {
    if (code != m_pageCode || param != m_pageParam) return false;
    if (++m_pageCounter < m_reader.pageCount()) return false;
    m_pageCounter = 0;
    call(SLOT_PAGE);
    Position p = positionOf(m_reader);
    if ((m_pageStop && m_ctx.textBytes != 0) || (!m_pageStop && m_limitedEnd > 0 && m_limitedEnd < p.block)) {
        m_ctx.stop = 1;
        m_backOff = 4;
        return true;
    }
    return false;
}

bool CTextDecoder::applySubstitution(uint16_t* code) {
    for (const ESCAPE_SUBST* e = m_reader.escapeSubst(); e && e->code != 0; ++e) {
        if (e->code != *code) continue;
        if (e->action == 0) {
            for (unsigned i = 0; i < e->value; ++i) m_reader.readByte();
            return false;
        }
        if (e->action == 1) {
            *code = e->value;
            if (*code == 0x1F42) {
                m_ctx.param = 0x20;
                call(SLOT_CHARACTER, m_reader.textOption());
                m_ctx.param = 0;
            }
            return true;
        }
    }
    return true;
}

void CTextDecoder::skipCodesThrough(uint16_t endCode) {
    for (int i = 0; i < kMaxRunCodes && alive(); ++i)
        if (readCode(m_reader) == endCode) return;
}

void CTextDecoder::emptyFigureTest() {
    if (m_figureParamsEnd >= 0 && m_reader.currentOffset() == m_figureParamsEnd + 2) {
        m_ctx.param = kJisRightArrow;
        call(SLOT_CHARACTER, m_reader.textOption());
        m_ctx.param = kJisFigure;
        call(SLOT_CHARACTER, m_reader.textOption());
        m_ctx.param = 0;
    }
}

void CTextDecoder::escapeHexCode() {
    // EPWING 0x1F0B: a run of full-width hexadecimal digits up to 0x1F0C is
    // one code point; an escape right after 0x1F0B makes it a table start.
    Position after = positionOf(m_reader);
    uint32_t w = readCode(m_reader);
    if ((w >> 8) == 0x1F) {
        seekTo(m_reader, after.block, after.offset);
        call(SLOT_BEGIN_TABLE);
        return;
    }
    uint32_t value = 0;
    int digits = 0;
    for (int i = 0; i < kMaxRunCodes && alive(); ++i) {
        if (w == 0x1F0C) break;
        int d = hexDigit(w);
        if (d >= 0 && digits < 8) {
            value = value * 16 + static_cast<uint32_t>(d);
            ++digits;
        }
        w = readCode(m_reader);
    }
    m_ctx.param = value;
    call(SLOT_UNICODE);
}

void CTextDecoder::escapeDecoration() {
    // EPWING 0x1FE2 with a sound map: "IMG:" and "COL:C" carry a name.
    uint32_t w = readCode(m_reader);
    if (w == 0x0007) {
        char text[8] = {0};
        int n = 0;
        Position mark = positionOf(m_reader);
        for (int i = 0; i < 5 && alive(); ++i) {
            uint32_t c = readCode(m_reader);
            if (c == 0x1FE3) break;
            text[n++] = narrowByte(c);
        }
        seekTo(m_reader, mark.block, mark.offset);
        if (strncmp(text, "IMG:", 4) == 0) {
            // The five codes read were the prefix and the start of the name;
            // read past the prefix again, then the 24-byte name.
            for (int i = 0; i < 4; ++i) readCode(m_reader);
            clearMedia();
            m_reader.readBytes(m_media.name, 24);
            if (readCode(m_reader) == 0x1FE3) {
                call(SLOT_BEGIN_IMAGE);
                m_ctx.param = kJisRightArrow;
                call(SLOT_CHARACTER, m_reader.textOption());
                call(SLOT_END_IMAGE);
                return;
            }
        } else if (strcmp(text, "COL:C") == 0) {
            for (int i = 0; i < 5; ++i) readCode(m_reader);
            clearMedia();
            m_reader.readBytes(m_media.name, 12);
            if (readCode(m_reader) == 0x1FE3) {
                call(SLOT_BEGIN_COLOUR);
                call(SLOT_END_COLOUR);
                return;
            }
        }
    }
    if (w != 0x1FE3) skipCodesThrough(0x1FE3);
}

void CTextDecoder::escape(uint16_t code) {
    m_ctx.code = code;
    m_ctx.param = 0;
    if (m_reader.escapeSubst() && !applySubstitution(&code)) return;
    m_ctx.code = code;
    const int kind = m_reader.kind();
    const bool eb = kind == BOOK_KIND_EB;
    const bool epwing = kind == BOOK_KIND_EPWING;
    const bool waveMap = m_reader.hasWaveFileMap();
    switch (code & 0xFF) {
        case 0x02:
            call(SLOT_BEGIN_TEXT);
            break;
        case 0x03:
            m_ctx.stop = 1;
            call(SLOT_END_TEXT);
            m_backOff = 2;
            break;
        case 0x04:
            call(SLOT_BEGIN_NARROW);
            m_ctx.narrow = 1;
            break;
        case 0x05:
            call(SLOT_END_NARROW);
            m_ctx.narrow = 0;
            break;
        case 0x06:
            call(SLOT_BEGIN_SUB);
            break;
        case 0x07:
            call(SLOT_END_SUB);
            break;
        case 0x09:
            // The indent is a 16-bit binary value.
            m_ctx.param = m_reader.readWord16();
            if (m_body && pageRule(code, m_ctx.param)) break;
            call(SLOT_INDENT);
            break;
        case 0x0A:
            if (!m_noNewline) call(SLOT_NEWLINE);
            break;
        case 0x0B:
            if (epwing)
                escapeHexCode();
            else
                call(SLOT_BEGIN_TABLE);
            break;
        case 0x0C:
            call(SLOT_END_TABLE);
            break;
        case 0x0E:
            call(SLOT_BEGIN_SUP);
            break;
        case 0x0F:
            call(SLOT_END_SUP);
            break;
        case 0x10:
            call(SLOT_BEGIN_NO_BREAK);
            break;
        case 0x11:
            call(SLOT_END_NO_BREAK);
            break;
        case 0x12:
            if (eb) {
                call(SLOT_BEGIN_UNDERLINE);
            } else if (!m_bold) {
                call(SLOT_BEGIN_BOLD);
                m_bold = true;
            }
            break;
        case 0x13:
            if (eb) {
                call(SLOT_END_UNDERLINE);
            } else {
                call(SLOT_END_BOLD);
                m_bold = false;
            }
            break;
        case 0x14:
            if (epwing) {
                uint32_t value = 0;
                uint32_t b = m_reader.readByte();
                for (int i = 0; b == 0x1E && i < 8 && alive(); ++i) {
                    value = value * 100 + bcd(1);
                    b = m_reader.readByte();
                }
                m_reader.readByte();
                m_ctx.param = value;
            }
            call(SLOT_COLOUR_CHART);
            break;
        case 0x15:
        case 0x3A:
        case 0x56:
        case 0x5A:
            break;
        case 0x16:
        case 0xA0:
            if (eb && !m_bold) {
                call(SLOT_BEGIN_BOLD);
                m_bold = true;
            }
            break;
        case 0x17:
        case 0xA1:
            if (eb) {
                call(SLOT_END_BOLD);
                m_bold = false;
            }
            break;
        case 0x1A:
            if (eb) {
                call(SLOT_BEGIN_ITALIC);
            } else {
                m_ctx.param = bcd(2);
                call(SLOT_TAB);
            }
            break;
        case 0x1B:
            if (eb)
                call(SLOT_END_ITALIC);
            else
                m_reader.readBcd(2);
            break;
        case 0x1C:
            if (epwing) {
                m_reader.readBcd(2);
            } else {
                for (int i = 0; i < kMaxRunCodes && alive() && !m_ctx.stop; ++i) {
                    uint32_t w = readCode(m_reader);
                    if (w == 0x1F1D) break;
                    m_ctx.param = w;
                    call(SLOT_EB_CODE);
                }
            }
            break;
        case 0x1D:
            if (epwing) m_reader.readBcd(2);
            break;
        case 0x1E:
        case 0x1F:
            m_reader.readBcd(2);
            break;
        case 0x27:
        case 0x29:
        case 0x2B:
            if (eb) call(SLOT_BEGIN_UNDERLINE);
            break;
        case 0x28:
        case 0x2A:
        case 0x2C:
            if (eb) call(SLOT_END_UNDERLINE);
            break;
        case 0x31:
            if (eb) {
                clearMedia();
                m_media.attr = static_cast<uint16_t>(m_reader.readWord16());
                m_media.width = static_cast<uint16_t>(bcd(2));
                m_media.height = static_cast<uint16_t>(bcd(2));
            }
            call(SLOT_BEGIN_FIGURE);
            break;
        case 0x32:
        case 0x33:
        case 0x3F:
            if (eb) {
                clearMedia();
                if (m_map) {
                    readPoint();
                }
            }
            if ((code & 0xFF) == 0x32) {
                if (!m_map) call(SLOT_BEGIN_FIGURE);
            } else if ((code & 0xFF) == 0x33) {
                call(m_map ? SLOT_BEGIN_SOUND_AREA : SLOT_BEGIN_SOUND);
            } else {
                call(m_map ? SLOT_BEGIN_AREA : SLOT_BEGIN_FIGURE);
            }
            break;
        case 0x36:
            if (eb) {
                clearMedia();
                readPoint();
                uint32_t id = readCode(m_reader);
                const READER_INDEX_INFO* target = m_reader.findIndex(id);
                if (!target && id == 0x90) target = m_reader.findIndex(0x91);
                if (!target && id == 0x70) target = m_reader.findIndex(0x71);
                if (target) {
                    m_ctx.linkBlock = target->start;
                    m_ctx.linkOffset = 0;
                    call(SLOT_BEGIN_AREA);
                    call(SLOT_END_AREA);
                }
            }
            break;
        case 0x39:
            clearMedia();
            readMediaFields(false);
            m_media.start = bcd(4);
            m_media.end = bcd(4);
            m_reader.readBytes(m_media.name, 16);
            m_reader.readBcd(2);
            m_reader.readBcd(4);
            m_reader.readBcd(2);
            call(SLOT_BEGIN_MOVIE);
            break;
        case 0x3B:
            if (epwing && !waveMap) {
                call(SLOT_BEGIN_ANCHOR);
                for (int i = 0; i < kMaxRunCodes && alive() && !m_ctx.stop; ++i) {
                    uint32_t w = readCode(m_reader);
                    if (w == 0x1F0A) break;
                    if ((w >> 8) == 0x1F) continue;
                    m_ctx.param = w;
                    call(SLOT_CHARACTER, kFoldHref);
                }
                call(SLOT_ANCHOR_TARGET_END);
            }
            break;
        case 0x3C:
            // Kind, a second value, two unused words, width and height, then
            // the data's position. The text up to 0x1F5C is the figure's
            // alternative text; its end tag names what the start read.
            clearMedia();
            readMediaFields(false);
            readLink();
            call(SLOT_BEGIN_INLINE);
            m_inline = InlineFigure{true, m_media, m_ctx.linkBlock, m_ctx.linkOffset};
            break;
        case 0x41:
            m_ctx.param = m_reader.readWord16();
            if (pageRule(code, m_ctx.param)) break;
            if (!m_reader.headOption()) call(SLOT_BEGIN_HEADING);
            break;
        case 0x42:
            if (m_map) {
                clearMedia();
                readPoint();
                call(SLOT_BEGIN_AREA);
            } else {
                call(SLOT_BEGIN_REFERENCE);
            }
            break;
        case 0x43:
            call(SLOT_BEGIN_MENU);
            break;
        case 0x44:
            clearMedia();
            m_media.code = static_cast<uint16_t>(bcd(2));
            m_media.height = static_cast<uint16_t>(bcd(4));
            m_media.width = static_cast<uint16_t>(bcd(4));
            m_figureParamsEnd = m_reader.currentOffset();
            call(SLOT_BEGIN_FIGURE);
            break;
        case 0x45:
            if (eb) {
                clearMedia();
                m_media.code = static_cast<uint16_t>(m_reader.readWord16());
            }
            call(SLOT_BEGIN_MAP);
            break;
        case 0x4A:
            clearMedia();
            m_media.sub = static_cast<uint16_t>(bcd(2));
            m_media.attr = static_cast<uint16_t>(bcd(2));
            readLink();
            m_ctx.link2Block = bcd(4);
            m_ctx.link2Offset = static_cast<uint16_t>(bcd(2));
            call(SLOT_BEGIN_SOUND);
            break;
        case 0x4B:
            call(SLOT_BEGIN_REFERENCE);
            readLink();
            break;
        case 0x4C:
            m_ctx.param = bcd(2);
            call(SLOT_BEGIN_MAP);
            break;
        case 0x4D:
            clearMedia();
            readMediaFields(false);
            readLink();
            m_figureParamsEnd = m_reader.currentOffset();
            call(SLOT_BEGIN_FIGURE);
            break;
        case 0x4F:
            readMediaFields(true);
            m_reader.readBcd(4);
            m_reader.readBcd(2);
            m_reader.readBcd(4);
            m_reader.readBcd(2);
            readLink();
            call(SLOT_BEGIN_AREA);
            break;
        case 0x51:
            if (eb) readLink();
            call(SLOT_END_FIGURE);
            break;
        case 0x52:
            if (eb) readLink();
            if (m_map) {
                call(SLOT_BEGIN_AREA);
                call(SLOT_END_AREA);
            } else {
                call(SLOT_END_FIGURE);
            }
            break;
        case 0x53:
            if (eb) {
                m_media.code = static_cast<uint16_t>(m_reader.readWord16());
                uint32_t m = bcd(1), s = bcd(1), f = bcd(1);
                m_media.start = (m * 60 + s) * 75 + f - 1;
                m = bcd(1), s = bcd(1), f = bcd(1);
                m_media.end = (m * 60 + s) * 75 + f;
            }
            call(m_map ? SLOT_END_SOUND_AREA : SLOT_END_SOUND);
            break;
        case 0x59:
            call(SLOT_END_MOVIE);
            break;
        case 0x5B:
            if (epwing && !waveMap) call(SLOT_END_ANCHOR);
            break;
        case 0x5C:
            if (m_inline.open) {
                m_media = m_inline.media;
                m_ctx.linkBlock = m_inline.linkBlock;
                m_ctx.linkOffset = m_inline.linkOffset;
                m_inline.open = false;
            }
            call(SLOT_END_INLINE);
            break;
        case 0x5F:
            if (eb) readLink();
            call(m_map ? SLOT_END_AREA : SLOT_END_FIGURE);
            break;
        case 0x61:
            if (!m_reader.headOption()) call(SLOT_END_HEADING);
            break;
        case 0x62:
            readLink();
            call(m_map ? SLOT_END_AREA : SLOT_END_REFERENCE);
            break;
        case 0x63:
            readLink();
            call(SLOT_END_MENU);
            break;
        case 0x64:
            emptyFigureTest();
            readLink();
            call(SLOT_END_FIGURE);
            break;
        case 0x65:
        case 0x6C:
            if ((code & 0xFF) == 0x65 && !eb) break;
            if (m_map) m_ctx.stop = 1;
            call(SLOT_END_MAP);
            break;
        case 0x6A:
            call(SLOT_END_SOUND);
            break;
        case 0x6B:
            call(SLOT_END_REFERENCE);
            break;
        case 0x6D:
            emptyFigureTest();
            call(SLOT_END_FIGURE);
            break;
        case 0x6F:
            call(SLOT_END_AREA);
            break;
        case 0xA2:
            if (eb) {
                m_ctx.param = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(m_reader.readWord16())));
                call(SLOT_EB_A2);
            }
            break;
        case 0xA3:
            if (eb) call(SLOT_EB_A3);
            break;
        case 0xE0:
            m_ctx.param = m_reader.readWord16();
            if (m_ctx.param == 1) {
                call(SLOT_BEGIN_ITALIC);
                m_italic = true;
            } else {
                if (!m_bold) {
                    call(SLOT_BEGIN_BOLD);
                    m_bold = true;
                }
                m_italic = false;
            }
            break;
        case 0xE1:
            if (m_italic) {
                call(SLOT_END_ITALIC);
                m_italic = false;
            } else {
                call(SLOT_END_BOLD);
                m_bold = false;
            }
            break;
        case 0xE2:
            if (epwing && waveMap) escapeDecoration();
            break;
        case 0xFE:
            if (eb) m_noNewline = true;
            break;
        case 0xFF:
            if (eb) m_noNewline = false;
            break;
        default:
            call(SLOT_OTHER);
            break;
    }
}

uint64_t CTextDecoder::previousPageStart(CEBReader& reader) {
    if (reader.kind() != BOOK_KIND_EB && reader.kind() != BOOK_KIND_EPWING) return 0;
    uint64_t last = reader.lastTextStart();
    if (last == 0) return 0;
    Position start{static_cast<uint32_t>(last >> 32), static_cast<uint32_t>(last & 0xFFFF)};
    if (!seekTo(reader, start.block, start.offset)) return last;
    uint32_t first = reader.readWord16(), second = reader.readWord16();
    if (first == 0x1F02) return last;
    uint32_t pageCode = 0, pageParam = 0;
    bool havePage = true;
    if (reader.pageBreakCode() != 0) {
        pageCode = reader.pageBreakCode();
        pageParam = reader.pageBreakParameter();
    } else if (first == 0x1F41 || second == 0x1F09) {
        pageCode = first;
        pageParam = second;
    } else {
        havePage = false;
    }
    // A page is at most a few blocks long; a walk back ends after this many.
    const uint32_t kMaxSteps = 256 * kBlockSize / 2;
    Position p = start;
    for (uint32_t step = 0; step < kMaxSteps; ++step) {
        p = backBy(p, 2);
        if (p.block == 0) return packPosition(p.block, p.offset);
        if (!isTextArea(reader.findIndexAt(p.block, p.offset))) break;
        if (!seekTo(reader, p.block, p.offset)) break;
        uint8_t b[4];
        reader.readBytes(b, 4);
        if (reader.readFailed()) break;
        const uint32_t c0 = byteorder::be16(b), c1 = byteorder::be16(b + 2);
        Position next = p;
        next.offset += 2;
        if (next.offset >= static_cast<uint32_t>(kBlockSize)) {
            next.offset -= kBlockSize;
            next.block += 1;
        }
        if (c0 == 0x1F02) return packPosition(next.block, next.offset);
        if (havePage ? (c0 == pageCode && c1 == pageParam) : (c0 == 0x1F41 || c0 == 0x1F02))
            return packPosition(p.block, p.offset);
    }
    return last;
}

int CTextDecoder::menuToHits(CEBReader& reader, uint32_t block, uint32_t offset) {
    reader.resetHits();
    const READER_INDEX_INFO* area = reader.findIndexAt(block, offset);
    if (!area || (area->id != 0x01 && area->id != 0x20)) return 0;
    if (!seekTo(reader, block, offset)) return 0;
    uint64_t end = static_cast<uint64_t>(area->start) + area->count - 1;
    Position heading{block, offset};
    for (;;) {
        Position p = positionOf(reader);
        if (p.block > end || reader.readFailed()) break;
        uint32_t code = readCode(reader);
        if (reader.readFailed() || code == 0x1F03) break;
        if (code == 0x1F43) {
            heading = p;
        } else if (code == 0x1F63) {
            int64_t linkBlock = reader.readBcd(4), linkOffset = reader.readBcd(2);
            if (linkBlock < 0 || linkOffset < 0) continue;
            if (reader.addHit(static_cast<uint32_t>(linkBlock), static_cast<uint16_t>(linkOffset), heading.block,
                              static_cast<uint16_t>(heading.offset), 0, HIT_ADD) < 0)
                break;
        }
    }
    return reader.finishHits(true);
}
