// Conversion of wide source text (32-bit units holding Unicode code points or
// UTF-16 code units) into the builder's Shift_JIS working text. A character
// that Shift_JIS cannot carry, or that the book shows as an external
// character, becomes a hexadecimal character reference "&#x....;" and a gaiji
// code is reserved for it, so that the text writer finds the reference in the
// gaiji table and writes the gaiji code.
//
// This is the conversion behind CEBBook::ucsToSjis, which forwards to it with
// the book's gaiji manager and its gaiji-creation setting (autoUniGaiji).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CGaiji;

// Converts count units into out (outSize bytes, always zero-terminated when
// outSize > 0) and returns the bytes written. Writes an empty string and
// returns 0 when outSize < 4 or count < 1. Conversion stops at a character
// boundary when the output is full.
//
// - Private use (U+E000..U+F8FF) and characters from U+10000 (surrogate pairs
//   or single units) are written as references.
// - Units below 0x80 and from 0x2000 up (any unit when wideRange is set) take
//   their Shift_JIS form; those without one, and those whose form is in the
//   extended kanji rows 0xFA40..0xFC4F, are written as references.
// - Units 0x80..0x1FFF (Latin, Greek, Cyrillic, ...) are written as references
//   unless wideRange is set.
// - U+0000 and byte-order marks (U+FEFF, U+FFFE) are dropped.
// - A reference is kept only when the character has a gaiji code, found in
//   gaiji's table or allocated there when create is non-zero; otherwise (no
//   gaiji manager, no entry, codes used up) the geta mark 0x81AC is written,
//   so that no raw code point ever reaches the book. Lone surrogates and
//   values above U+10FFFF also become the geta mark.
int ucsToSjis(char* out, int outSize, const uint32_t* units, int count, int wideRange, CGaiji* gaiji, int create);

// Shift_JIS source text (len bytes) to working text, so that no two-byte code
// a reader cannot decode reaches the book: a code that Windows Shift_JIS adds
// to JIS X 0208 (jclib windowsSjisToUnicode: row 13, the NEC-selected and IBM
// extensions, the user-defined area) is converted as the Unicode character it
// stands for by ucsToSjis (its JIS X 0208 code where JIS X 0208 has it, else a
// reference with a gaiji code, else the geta mark); any other lead and trail
// byte pair that is no character becomes the geta mark. Everything else is
// copied. Returns false, with out untouched, when the text holds no such code.
bool sjisToWorking(const char* in, size_t len, std::string* out, CGaiji* gaiji, int create);
