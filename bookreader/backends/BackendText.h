// Text pieces the dictionary back ends write into tagged text, through
// CBoundedText so that nothing is written past the buffer and no character
// is cut.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/CBoundedText.h"

namespace backend {

// Bytes of the UTF-8 character that starts with lead (1 for a stray byte).
size_t utf8Length(unsigned char lead);
// Appends n bytes of UTF-8 text with "&", "<" and ">" (and, with quotes,
// '"') written as entities, character by character; false when it stopped
// at the end of the buffer.
bool appendEscaped(CBoundedText& out, const char* text, size_t n, bool quotes = false);
// Appends as many whole characters of the UTF-8 text as fit; false when
// some were left out.
bool appendWhole(CBoundedText& out, const char* text, size_t n);

// A character that ends a URL marked in text: white space, ">", a control
// character or any non-ASCII one.
bool endsUrl(uint32_t c);

// Turns the CR LF line ends of an information text into CR alone, in place.
void crOnlyLineEnds(char* text);

// Empties a caller's output: out (when it has room) and *outLength (when
// given), before anything is written.
void clearOutput(char* out, uint32_t outSize, uint32_t* outLength);

}  // namespace backend
