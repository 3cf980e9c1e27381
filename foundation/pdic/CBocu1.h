// BOCU-1 (Unicode Technical Note #6), the text encoding of Unicode PDIC
// dictionaries: each code point is coded as its difference from a state
// value, so byte order of encodings equals code-point order of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CBocu1 {
public:
    // Decodes n bytes (stopping early at a NUL byte) into at most cap - 1
    // code points followed by a terminating 0; with cap < 1 nothing is
    // written. Bad or truncated sequences give U+FFFD and the state is
    // reset; nothing past the n bytes is ever read. *cut is set when the
    // output did not fit, *bad when a sequence was invalid (both optional).
    // Returns the number of code points written.
    static size_t decode(const uint8_t* s, size_t n, uint32_t* out, size_t cap, bool* cut = nullptr,
                         bool* bad = nullptr);

    // True when the text (n bytes, ending early at a NUL byte) ends inside a
    // multi-byte sequence, i.e. a lead byte lacks trail bytes because the
    // text stops first. Sequences broken by an invalid trail byte do not
    // count (decode replaces those and goes on).
    static bool truncated(const uint8_t* s, size_t n);

    // Encodes n code points (stopping early at 0). Code points above
    // U+10FFFF are coded as U+FFFD.
    static void encode(const uint32_t* s, size_t n, std::vector<uint8_t>* out);

    // The state after coding c as a difference.
    static int32_t nextPrev(int32_t c);
};
