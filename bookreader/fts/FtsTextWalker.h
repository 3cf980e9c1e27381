// The walk of a body text that the full-text index is built from: every
// 16-bit code from the reader's position, with the parameters of escape codes
// stepped over, the narrow flag followed and the heading marks found.
//
// A sink receives what the walk meets:
//   bool atCode(int64_t block, int offset, bool narrow)  before each code; true ends the walk there
//   void character(uint32_t jis, uint32_t block, uint32_t offset, bool narrow)   block relative to the text start
//   void heading(uint32_t position)                      position relative to the text start
//   bool cancelled()                                     polled now and then
//   static constexpr bool characters()                   false: characters are not wanted
//
// The same walk serves the pass that finds the headings and where each
// stretch of text begins, and the workers that gather the keys of one
// stretch each: started at a place the first pass recorded, a worker meets
// exactly the codes the first pass met there.
#pragma once

#include <cstdint>

#include "bookreader/core/CEBReader.h"
#include "foundation/codes/jclib.h"

enum class FtsWalkEnd { Done, ReadError, Cancelled };

namespace ftswalk {

// Bytes of the parameters of the escapes of fixed length.
inline int fixedSkip(uint32_t low) {
    switch (low) {
        case 0x09:
        case 0x41:
        case 0x45:
        case 0xE0:
        case 0xE2:
        case 0x4C:
        case 0x1A:
        case 0x1B:
        case 0x1E:
        case 0x1F:
            return 2;
        case 0x31:
        case 0x4B:
        case 0x51:
        case 0x52:
        case 0x5F:
        case 0x62:
        case 0x63:
        case 0x64:
        case 0x66:
            return 6;
        case 0x39:
            return 22;
        case 0x3C:
        case 0x4D:
            return 18;
        case 0x44:
            return 10;
        case 0x4A:
            return 16;
        case 0x4F:
            return 32;
        case 0x53:
            return 8;
        default:
            return 0;
    }
}

}  // namespace ftswalk

// Walks from the reader's position to the end of block `last` (or until the
// sink stops it). `start` is the first block of the body text; `eb` selects
// the EB forms of escapes 1C and 1D; `narrow` and `indentHeadings` are the
// states in force at the starting place.
template <class Sink>
FtsWalkEnd walkBodyText(CEBReader& reader, int64_t start, int64_t last, bool eb, bool narrow, bool indentHeadings,
                        Sink& sink) {
    auto ended = [&]() {
        int64_t b = reader.currentBlock();
        return b > last || (b == last && reader.currentOffset() >= 2048) || reader.readFailed();
    };
    auto skipBytes = [&](int n) {
        for (int i = 0; i < n && !ended(); ++i) reader.readByte();
    };
    uint32_t polls = 0;
    while (!ended()) {
        int64_t block = reader.currentBlock();
        int offset = reader.currentOffset();
        if (sink.atCode(block, offset, narrow)) return FtsWalkEnd::Done;
        if ((++polls & 0xFFF) == 0 && sink.cancelled()) return FtsWalkEnd::Cancelled;
        if (!Sink::characters()) {
            // Without characters only escapes matter: step over the codes
            // before the next one in the block at once.
            size_t available;
            const uint8_t* p = reader.peek(&available);
            size_t i = 0;
            while (i + 1 < available && p[i] != 0x1F) i += 2;
            if (i) {
                reader.skip(i);
                continue;
            }
        }
        uint32_t code = reader.readWord16();
    dispatch:
        if (reader.readFailed()) break;
        if (code == 0) continue;
        if ((code >> 8) != 0x1F) {
            if (jclib::isJisCode(code))
                sink.character(code, static_cast<uint32_t>(block - start), static_cast<uint32_t>(offset), narrow);
            continue;
        }
        const uint32_t pos = static_cast<uint32_t>((block - start) * 2048 + offset);
        const uint32_t low = code & 0xFF;
        if (low == 0x09) {
            // Its parameter is read with it and never taken as a character.
            if (reader.readWord16() == 1) {
                sink.heading(pos);
                indentHeadings = true;
            }
            continue;
        }
        if (!indentHeadings && (low == 0x41 || low == 0x02)) sink.heading(pos);
        switch (low) {
            case 0x04:
                narrow = true;
                break;
            case 0x05:
                narrow = false;
                break;
            case 0x14:
            case 0x67: {
                uint32_t w;
                do {
                    block = reader.currentBlock();
                    offset = reader.currentOffset();
                    w = reader.readWord16();
                } while ((w >> 8) == 0x1E && !ended());
                code = w;
                goto dispatch;
            }
            case 0x15: {
                block = reader.currentBlock();
                offset = reader.currentOffset();
                uint32_t w = reader.readWord16();
                if ((w >> 8) == 0x1F) {
                    code = w;
                    goto dispatch;
                }
                break;
            }
            case 0x1C:
                if (eb) {
                    while (!ended() && reader.readWord16() != 0x1F1D) {
                    }
                } else {
                    skipBytes(2);
                }
                break;
            case 0x1D:
                if (!eb) skipBytes(2);
                break;
            case 0x35:
                skipBytes(4);
                while (!ended() && reader.readByte() != 0x1F) {
                }
                skipBytes(1);
                break;
            default:
                skipBytes(ftswalk::fixedSkip(low));
                break;
        }
    }
    if (reader.readFailed()) return FtsWalkEnd::ReadError;
    return sink.cancelled() ? FtsWalkEnd::Cancelled : FtsWalkEnd::Done;
}
