#include "bookreader/text/CTextDecoder.h"

#include <cstring>

#include "bookreader/core/CEBReader.h"
#include "foundation/book/BookConstants.h"
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

CTextDecoder::CTextDecoder(CEBReader& reader, const TAG_HOOKS* hooks) : reader_(reader), hooks_(hooks) {
    memset(&ctx_, 0, sizeof ctx_);
    memset(&media_, 0, sizeof media_);
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
    TAG_HOOK hook = hooks_->slot[slot];
    if (hook) hook(ctx_, &media_, fold);
}

bool CTextDecoder::alive() const {
    if (reader_.readFailed()) return false;
    Position p = positionOf(reader_);
    return endBlock_ == 0 || p.block <= endBlock_;
}

uint32_t CTextDecoder::bcd(int n) {
    int64_t v = reader_.readBcd(n);
    return v < 0 ? 0 : static_cast<uint32_t>(v);
}

void CTextDecoder::readLink() {
    ctx_.linkBlock = bcd(4);
    ctx_.linkOffset = static_cast<uint16_t>(bcd(2));
}

void CTextDecoder::clearMedia() {
    memset(&media_, 0, sizeof media_);
}

void CTextDecoder::readPoint() {
    media_.x = static_cast<uint16_t>(bcd(2));
    media_.y = static_cast<uint16_t>(bcd(2));
}

void CTextDecoder::readMediaFields(bool skipAfterSub) {
    media_.sub = static_cast<uint16_t>(bcd(2));
    if (skipAfterSub) reader_.readBcd(2);
    media_.code = static_cast<uint16_t>(bcd(2));
    readPoint();
    media_.width = static_cast<uint16_t>(bcd(2));
    media_.height = static_cast<uint16_t>(bcd(2));
}

uint32_t CTextDecoder::run(char* out, uint32_t capacity, uint32_t* length, int pageStop, int blockLimit) {
    if (length) *length = 0;
    if (out && capacity > 0) out[0] = 0;
    Position start = positionOf(reader_);
    const READER_INDEX_INFO* area = reader_.findIndexAt(start.block, start.offset);
    if (area && area->count > 0) {
        uint64_t end = static_cast<uint64_t>(area->start) + area->count - 1;
        endBlock_ = end > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(end);
    } else {
        endBlock_ = reader_.lastBlock();
    }
    limitedEnd_ = endBlock_;
    if (blockLimit > 0) {
        uint64_t limited = static_cast<uint64_t>(start.block) + static_cast<uint64_t>(blockLimit) - 1;
        if (limited < limitedEnd_) limitedEnd_ = static_cast<uint32_t>(limited);
    }
    body_ = area && area->id == 0x00;
    map_ = area && isMapArea(area->id);
    pageStop_ = pageStop;

    memset(&ctx_, 0, sizeof ctx_);
    ctx_.out = out;
    ctx_.capacity = out ? capacity : 0;
    ctx_.reader = &reader_;

    uint32_t c[4];
    for (uint32_t& v : c) v = reader_.readWord16();
    seekTo(reader_, start.block, start.offset);
    uint64_t startPos = packPosition(start.block, start.offset);
    reader_.setLastText(startPos, startPos);

    if (reader_.pageBreakCode() != 0) {
        pageCode_ = reader_.pageBreakCode();
        pageParam_ = reader_.pageBreakParameter();
        pageCounter_ = (c[0] == pageCode_ && c[1] == pageParam_) ? -1 : 0;
    } else if (c[0] == 0x1F09 && c[1] == 0x0001 && c[2] == 0x1F41) {
        pageCode_ = 0x1F41;
        pageParam_ = c[3];
        pageCounter_ = -1;
    } else if (c[0] == 0x1F09 || c[0] == 0x1F41) {
        pageCode_ = static_cast<uint16_t>(c[0]);
        pageParam_ = c[1];
        pageCounter_ = -1;
    } else {
        pageCode_ = 0x1F09;
        pageParam_ = 1;
        pageCounter_ = 0;
    }
    if (body_ && !reader_.isLatin1() && c[0] >= 0x2121 && start.offset > 1) backScan(start.block, start.offset);

    backOff_ = 0;
    const bool latin1 = reader_.isLatin1();
    const bool eb = reader_.kind() == BOOK_KIND_EB;
    const int fold = reader_.textOption();
    const TAG_HOOK characterHook = hooks_->slot[SLOT_CHARACTER];
    const bool runWriter = isCharacterWriter(characterHook);
    while (!ctx_.stop) {
        Position p = positionOf(reader_);
        if ((endBlock_ > 0 && endBlock_ < p.block) || reader_.readFailed()) break;
        ctx_.block = p.block;
        ctx_.offset = static_cast<uint16_t>(p.offset);
        uint32_t code = latin1 ? readCode(reader_) : reader_.readWord16();
        if (reader_.readFailed()) break;
        ctx_.code = static_cast<uint16_t>(code);
        ctx_.param = code;
        if (latin1 && (code >> 8) != 0x1F) {
            call(code >= 0x0101 && code <= 0x1E1E ? SLOT_NARROW_GAIJI : SLOT_CHARACTER, fold);
            continue;
        }
        if (code >= 0x2121 && code <= 0x7EFE) {
            if (eb && (code & 0x80))
                call(SLOT_EB_HIGH_CODE);
            else if (characterHook) {
                characterHook(ctx_, &media_, fold);
                if (runWriter && !ctx_.stop) {
                    // Plain characters that follow, in one pass over the block.
                    size_t available = 0;
                    const uint8_t* run = reader_.peek(&available);
                    reader_.skip(writeCharacterRun(ctx_, run, available, fold));
                }
            }
        } else if (code >= 0xA121 && code <= 0xFE7E) {
            const FONT_HEADER& nf = reader_.narrowFont();
            const FONT_HEADER& wf = reader_.wideFont();
            bool inNarrow = nf.startBlock && code >= nf.startCode && code <= nf.endCode;
            bool inWide = wf.startBlock && code >= wf.startCode && code <= wf.endCode;
            if ((inNarrow && !inWide) || ctx_.narrow) {
                call(SLOT_NARROW_GAIJI);
            } else if (reader_.hasWaveFileMap() && !inWide && code == 0xA427) {
                clearMedia();
                reader_.readBytes(media_.name, 16);
                if (readCode(reader_) == 0xA428) {
                    call(SLOT_BEGIN_SOUND_GAIJI);
                    ctx_.param = kJisRightArrow;
                    call(SLOT_CHARACTER, reader_.textOption());
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

    Position end = backBy(positionOf(reader_), static_cast<uint32_t>(backOff_));
    reader_.setLastText(startPos, packPosition(end.block, end.offset));
    if (length) *length = ctx_.used;
    return ctx_.used;
}

void CTextDecoder::backScan(uint32_t startBlock, uint32_t startOffset) {
    uint32_t n = startOffset < 64 ? startOffset : 64;
    const uint32_t from = startOffset - n;
    uint8_t before[64];
    if (!seekTo(reader_, startBlock, from)) return;
    reader_.readBytes(before, static_cast<int>(n));
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
    seekTo(reader_, startBlock, newStart);
}

bool CTextDecoder::pageRule(uint16_t code, uint32_t param) {
    if (code != pageCode_ || param != pageParam_) return false;
    if (++pageCounter_ < reader_.pageCount()) return false;
    pageCounter_ = 0;
    call(SLOT_PAGE);
    Position p = positionOf(reader_);
    if ((pageStop_ && ctx_.textBytes != 0) || (!pageStop_ && limitedEnd_ > 0 && limitedEnd_ < p.block)) {
        ctx_.stop = 1;
        backOff_ = 4;
        return true;
    }
    return false;
}

bool CTextDecoder::applySubstitution(uint16_t* code) {
    for (const ESCAPE_SUBST* e = reader_.escapeSubst(); e && e->code != 0; ++e) {
        if (e->code != *code) continue;
        if (e->action == 0) {
            for (unsigned i = 0; i < e->value; ++i) reader_.readByte();
            return false;
        }
        if (e->action == 1) {
            *code = e->value;
            if (*code == 0x1F42) {
                ctx_.param = 0x20;
                call(SLOT_CHARACTER, reader_.textOption());
                ctx_.param = 0;
            }
            return true;
        }
    }
    return true;
}

void CTextDecoder::skipCodesThrough(uint16_t endCode) {
    for (int i = 0; i < kMaxRunCodes && alive(); ++i)
        if (readCode(reader_) == endCode) return;
}

void CTextDecoder::emptyFigureTest() {
    if (figureParamsEnd_ >= 0 && reader_.currentOffset() == figureParamsEnd_ + 2) {
        ctx_.param = kJisRightArrow;
        call(SLOT_CHARACTER, reader_.textOption());
        ctx_.param = kJisFigure;
        call(SLOT_CHARACTER, reader_.textOption());
        ctx_.param = 0;
    }
}

void CTextDecoder::escapeHexCode() {
    // EPWING 0x1F0B: a run of full-width hexadecimal digits up to 0x1F0C is
    // one code point; an escape right after 0x1F0B makes it a table start.
    Position after = positionOf(reader_);
    uint32_t w = readCode(reader_);
    if ((w >> 8) == 0x1F) {
        seekTo(reader_, after.block, after.offset);
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
        w = readCode(reader_);
    }
    ctx_.param = value;
    call(SLOT_UNICODE);
}

void CTextDecoder::escapeDecoration() {
    // EPWING 0x1FE2 with a sound map: "IMG:" and "COL:C" carry a name.
    uint32_t w = readCode(reader_);
    if (w == 0x0007) {
        char text[8] = {0};
        int n = 0;
        Position mark = positionOf(reader_);
        for (int i = 0; i < 5 && alive(); ++i) {
            uint32_t c = readCode(reader_);
            if (c == 0x1FE3) break;
            text[n++] = narrowByte(c);
        }
        seekTo(reader_, mark.block, mark.offset);
        if (strncmp(text, "IMG:", 4) == 0) {
            // The five codes read were the prefix and the start of the name;
            // read past the prefix again, then the 24-byte name.
            for (int i = 0; i < 4; ++i) readCode(reader_);
            clearMedia();
            reader_.readBytes(media_.name, 24);
            if (readCode(reader_) == 0x1FE3) {
                call(SLOT_BEGIN_IMAGE);
                ctx_.param = kJisRightArrow;
                call(SLOT_CHARACTER, reader_.textOption());
                call(SLOT_END_IMAGE);
                return;
            }
        } else if (strcmp(text, "COL:C") == 0) {
            for (int i = 0; i < 5; ++i) readCode(reader_);
            clearMedia();
            reader_.readBytes(media_.name, 12);
            if (readCode(reader_) == 0x1FE3) {
                call(SLOT_BEGIN_COLOUR);
                call(SLOT_END_COLOUR);
                return;
            }
        }
    }
    if (w != 0x1FE3) skipCodesThrough(0x1FE3);
}

void CTextDecoder::escape(uint16_t code) {
    ctx_.code = code;
    ctx_.param = 0;
    if (reader_.escapeSubst() && !applySubstitution(&code)) return;
    ctx_.code = code;
    const int kind = reader_.kind();
    const bool eb = kind == BOOK_KIND_EB;
    const bool epwing = kind == BOOK_KIND_EPWING;
    const bool waveMap = reader_.hasWaveFileMap();
    switch (code & 0xFF) {
        case 0x02:
            call(SLOT_BEGIN_TEXT);
            break;
        case 0x03:
            ctx_.stop = 1;
            call(SLOT_END_TEXT);
            backOff_ = 2;
            break;
        case 0x04:
            call(SLOT_BEGIN_NARROW);
            ctx_.narrow = 1;
            break;
        case 0x05:
            call(SLOT_END_NARROW);
            ctx_.narrow = 0;
            break;
        case 0x06:
            call(SLOT_BEGIN_SUB);
            break;
        case 0x07:
            call(SLOT_END_SUB);
            break;
        case 0x09:
            // The indent is a 16-bit binary value.
            ctx_.param = reader_.readWord16();
            if (body_ && pageRule(code, ctx_.param)) break;
            call(SLOT_INDENT);
            break;
        case 0x0A:
            if (!noNewline_) call(SLOT_NEWLINE);
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
            } else if (!bold_) {
                call(SLOT_BEGIN_BOLD);
                bold_ = true;
            }
            break;
        case 0x13:
            if (eb) {
                call(SLOT_END_UNDERLINE);
            } else {
                call(SLOT_END_BOLD);
                bold_ = false;
            }
            break;
        case 0x14:
            if (epwing) {
                uint32_t value = 0;
                uint32_t b = reader_.readByte();
                for (int i = 0; b == 0x1E && i < 8 && alive(); ++i) {
                    value = value * 100 + bcd(1);
                    b = reader_.readByte();
                }
                reader_.readByte();
                ctx_.param = value;
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
            if (eb && !bold_) {
                call(SLOT_BEGIN_BOLD);
                bold_ = true;
            }
            break;
        case 0x17:
        case 0xA1:
            if (eb) {
                call(SLOT_END_BOLD);
                bold_ = false;
            }
            break;
        case 0x1A:
            if (eb) {
                call(SLOT_BEGIN_ITALIC);
            } else {
                ctx_.param = bcd(2);
                call(SLOT_TAB);
            }
            break;
        case 0x1B:
            if (eb)
                call(SLOT_END_ITALIC);
            else
                reader_.readBcd(2);
            break;
        case 0x1C:
            if (epwing) {
                reader_.readBcd(2);
            } else {
                for (int i = 0; i < kMaxRunCodes && alive() && !ctx_.stop; ++i) {
                    uint32_t w = readCode(reader_);
                    if (w == 0x1F1D) break;
                    ctx_.param = w;
                    call(SLOT_EB_CODE);
                }
            }
            break;
        case 0x1D:
            if (epwing) reader_.readBcd(2);
            break;
        case 0x1E:
        case 0x1F:
            reader_.readBcd(2);
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
                media_.attr = static_cast<uint16_t>(reader_.readWord16());
                media_.width = static_cast<uint16_t>(bcd(2));
                media_.height = static_cast<uint16_t>(bcd(2));
            }
            call(SLOT_BEGIN_FIGURE);
            break;
        case 0x32:
        case 0x33:
        case 0x3F:
            if (eb) {
                clearMedia();
                if (map_) {
                    readPoint();
                }
            }
            if ((code & 0xFF) == 0x32) {
                if (!map_) call(SLOT_BEGIN_FIGURE);
            } else if ((code & 0xFF) == 0x33) {
                call(map_ ? SLOT_BEGIN_SOUND_AREA : SLOT_BEGIN_SOUND);
            } else {
                call(map_ ? SLOT_BEGIN_AREA : SLOT_BEGIN_FIGURE);
            }
            break;
        case 0x36:
            if (eb) {
                clearMedia();
                readPoint();
                uint32_t id = readCode(reader_);
                const READER_INDEX_INFO* target = reader_.findIndex(id);
                if (!target && id == 0x90) target = reader_.findIndex(0x91);
                if (!target && id == 0x70) target = reader_.findIndex(0x71);
                if (target) {
                    ctx_.linkBlock = target->start;
                    ctx_.linkOffset = 0;
                    call(SLOT_BEGIN_AREA);
                    call(SLOT_END_AREA);
                }
            }
            break;
        case 0x39:
            clearMedia();
            readMediaFields(false);
            media_.start = bcd(4);
            media_.end = bcd(4);
            reader_.readBytes(media_.name, 16);
            reader_.readBcd(2);
            reader_.readBcd(4);
            reader_.readBcd(2);
            call(SLOT_BEGIN_MOVIE);
            break;
        case 0x3B:
            if (epwing && !waveMap) {
                call(SLOT_BEGIN_ANCHOR);
                for (int i = 0; i < kMaxRunCodes && alive() && !ctx_.stop; ++i) {
                    uint32_t w = readCode(reader_);
                    if (w == 0x1F0A) break;
                    if ((w >> 8) == 0x1F) continue;
                    ctx_.param = w;
                    call(SLOT_CHARACTER, kFoldHref);
                }
                call(SLOT_ANCHOR_TARGET_END);
            }
            break;
        case 0x3C:
            clearMedia();
            media_.sub = static_cast<uint16_t>(bcd(2));
            media_.code = static_cast<uint16_t>(bcd(2));
            for (int i = 0; i < 4; ++i) reader_.readWord16();
            readLink();
            call(SLOT_BEGIN_INLINE);
            skipCodesThrough(0x1F5C);
            call(SLOT_END_INLINE);
            break;
        case 0x41:
            ctx_.param = reader_.readWord16();
            if (pageRule(code, ctx_.param)) break;
            if (!reader_.headOption()) call(SLOT_BEGIN_HEADING);
            break;
        case 0x42:
            if (map_) {
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
            media_.code = static_cast<uint16_t>(bcd(2));
            media_.height = static_cast<uint16_t>(bcd(4));
            media_.width = static_cast<uint16_t>(bcd(4));
            figureParamsEnd_ = reader_.currentOffset();
            call(SLOT_BEGIN_FIGURE);
            break;
        case 0x45:
            if (eb) {
                clearMedia();
                media_.code = static_cast<uint16_t>(reader_.readWord16());
            }
            call(SLOT_BEGIN_MAP);
            break;
        case 0x4A:
            clearMedia();
            media_.sub = static_cast<uint16_t>(bcd(2));
            media_.attr = static_cast<uint16_t>(bcd(2));
            readLink();
            ctx_.link2Block = bcd(4);
            ctx_.link2Offset = static_cast<uint16_t>(bcd(2));
            call(SLOT_BEGIN_SOUND);
            break;
        case 0x4B:
            call(SLOT_BEGIN_REFERENCE);
            readLink();
            break;
        case 0x4C:
            ctx_.param = bcd(2);
            call(SLOT_BEGIN_MAP);
            break;
        case 0x4D:
            clearMedia();
            readMediaFields(false);
            readLink();
            figureParamsEnd_ = reader_.currentOffset();
            call(SLOT_BEGIN_FIGURE);
            break;
        case 0x4F:
            readMediaFields(true);
            reader_.readBcd(4);
            reader_.readBcd(2);
            reader_.readBcd(4);
            reader_.readBcd(2);
            readLink();
            call(SLOT_BEGIN_AREA);
            break;
        case 0x51:
            if (eb) readLink();
            call(SLOT_END_FIGURE);
            break;
        case 0x52:
            if (eb) readLink();
            if (map_) {
                call(SLOT_BEGIN_AREA);
                call(SLOT_END_AREA);
            } else {
                call(SLOT_END_FIGURE);
            }
            break;
        case 0x53:
            if (eb) {
                media_.code = static_cast<uint16_t>(reader_.readWord16());
                uint32_t m = bcd(1), s = bcd(1), f = bcd(1);
                media_.start = (m * 60 + s) * 75 + f - 1;
                m = bcd(1), s = bcd(1), f = bcd(1);
                media_.end = (m * 60 + s) * 75 + f;
            }
            call(map_ ? SLOT_END_SOUND_AREA : SLOT_END_SOUND);
            break;
        case 0x59:
            call(SLOT_END_MOVIE);
            break;
        case 0x5B:
            if (epwing && !waveMap) call(SLOT_END_ANCHOR);
            break;
        case 0x5C:
            call(SLOT_END_INLINE);
            break;
        case 0x5F:
            if (eb) readLink();
            call(map_ ? SLOT_END_AREA : SLOT_END_FIGURE);
            break;
        case 0x61:
            if (!reader_.headOption()) call(SLOT_END_HEADING);
            break;
        case 0x62:
            readLink();
            call(map_ ? SLOT_END_AREA : SLOT_END_REFERENCE);
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
            if (map_) ctx_.stop = 1;
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
                ctx_.param = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(reader_.readWord16())));
                call(SLOT_EB_A2);
            }
            break;
        case 0xA3:
            if (eb) call(SLOT_EB_A3);
            break;
        case 0xE0:
            ctx_.param = reader_.readWord16();
            if (ctx_.param == 1) {
                call(SLOT_BEGIN_ITALIC);
                italic_ = true;
            } else {
                if (!bold_) {
                    call(SLOT_BEGIN_BOLD);
                    bold_ = true;
                }
                italic_ = false;
            }
            break;
        case 0xE1:
            if (italic_) {
                call(SLOT_END_ITALIC);
                italic_ = false;
            } else {
                call(SLOT_END_BOLD);
                bold_ = false;
            }
            break;
        case 0xE2:
            if (epwing && waveMap) escapeDecoration();
            break;
        case 0xFE:
            if (eb) noNewline_ = true;
            break;
        case 0xFF:
            if (eb) noNewline_ = false;
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
        uint32_t c0 = (static_cast<uint32_t>(b[0]) << 8) | b[1], c1 = (static_cast<uint32_t>(b[2]) << 8) | b[3];
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
