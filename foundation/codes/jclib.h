// Japanese character codes: JIS X 0208, Shift_JIS, EUC-JP, ISO-2022-JP and
// Unicode (UTF-8, UTF-16, 32-bit), and a small Shift_JIS string library.
//
// Mapping decisions (the same in every function here):
// - Bytes 0x00-0x7F are ASCII in both directions; 0x5C is the backslash and
//   0x7E the tilde (not the yen sign and overline of JIS X 0201 Roman).
// - 0xA1-0xDF are the JIS X 0201 half-width katakana, U+FF61-U+FF9F.
// - Two-byte codes follow the published JIS X 0208 mapping (the one of the
//   C library's SHIFT_JIS and EUC-JP converters): 0x815F is U+FF3C, 0x8160
//   U+301C, 0x8161 U+2016, 0x817C U+2212, 0x8191 U+00A2, 0x8192 U+00A3,
//   0x81CA U+00AC, 0x815C U+2015.
// - Encoding also accepts the Windows-table aliases of those characters:
//   U+FF5E -> 0x8160, U+2225 -> 0x8161, U+FF0D -> 0x817C, U+FFE0 -> 0x8191,
//   U+FFE1 -> 0x8192, U+FFE2 -> 0x81CA. Decoding always gives the JIS forms.
// - Only JIS X 0208 is mapped: the NEC special row (row 13), the NEC and IBM
//   selected extensions (0xED40-0xEEFC, 0xFA40-0xFC4B) and the user-defined
//   area (0xF040-0xF9FC) have no Unicode form here (lookups give 0), and
//   Unicode characters found only there have no Shift_JIS form. Only
//   windowsSjisToUnicode reads those codes, for sources written with them.
// - U+0000 and U+FEFF (byte-order mark) encode to no bytes at all.
//
// Invalid input never makes a function read or write outside its buffers.
// Replacements, unless a function says otherwise: a character that has no
// form in the target code, or a malformed one (a lead byte without a valid
// trail byte, a lone lead byte at the end), becomes the geta mark (Shift_JIS
// 0x81AC, JIS 0x222E, EUC-JP 0xA2AE) in Japanese targets and U+FFFD in
// Unicode targets. Code values are passed and returned as unsigned int; a
// two-byte code is (first byte << 8) | second byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jclib {

// Shift_JIS byte classes: lead 0x81-0x9F / 0xE0-0xFC, trail 0x40-0x7E / 0x80-0xFC.
inline bool isSjisLead(unsigned int b) {
    return ((b ^ 0x20u) - 0xA1u) < 60u;
}
inline bool isSjisTrail(unsigned int b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}
// A two-byte code with a lead byte and a trail byte.
inline bool isSjisCode(unsigned int c) {
    return c <= 0xFFFF && isSjisLead(c >> 8) && isSjisTrail(c & 0xFF);
}
// A JIS X 0208 code position: both bytes 0x21-0x7E.
inline bool isJisCode(unsigned int c) {
    unsigned int h = c >> 8, l = c & 0xFF;
    return c <= 0xFFFF && h >= 0x21 && h <= 0x7E && l >= 0x21 && l <= 0x7E;
}

// JIS X 0208 code -> Shift_JIS code by the published arithmetic. Meaningful
// for JIS code positions (isJisCode); other values give an arithmetic result
// that callers must not rely on. Never fails.
unsigned int jisToSjis(unsigned int jis);
// Shift_JIS code -> JIS X 0208 code by arithmetic (codes from 0xE000 are first
// lowered by 0x4000). Meaningful for isSjisCode values below 0xF000.
unsigned int sjisToJis(unsigned int sjis);

// One-byte code -> full-width Shift_JIS code by a 256-entry table: ASCII
// 0x20-0x7E to the full-width forms (0x20 -> 0x8140 ideographic space, 0x5C ->
// 0x815F, 0x7E -> 0x8160, 0x22 -> 0x8168, 0x27 -> 0x8166, 0x60 -> 0x814D),
// half-width katakana 0xA1-0xDF to full-width katakana and marks. Bytes with
// no full-width form (controls, 0x7F, 0x80-0xA0, 0xE0-0xFF) and codes above
// 255 are returned unchanged.
unsigned int hankakuToZenkaku(unsigned int code);
// Two-byte Shift_JIS code -> its one-byte ASCII form when one exists
// (symbols of the 0x81 row by a table, full-width digits and letters), else
// the code unchanged. Callers needing one character keep the low byte.
unsigned int zenkakuToHankaku(unsigned int sjis);
// Two-byte Shift_JIS katakana -> the hiragana of the same sound: 0x8340-0x837E
// and 0x8380-0x8393 by their offsets, small ka 0x8395 -> 0x82A9, small ke
// 0x8396 -> 0x82AF. Vu 0x8394 (no hiragana in JIS X 0208) and every other
// code are returned unchanged.
inline unsigned int katakanaToHiragana(unsigned int c) {
    if (c >= 0x8340 && c <= 0x837E) return c - 0xA1;
    if (c >= 0x8380 && c <= 0x8393) return c - 0xA2;
    if (c == 0x8395) return 0x82A9;
    if (c == 0x8396) return 0x82AF;
    return c;
}

// First occurrence of a one- or two-byte character (ch <= 0xFF or a two-byte
// code) in zero-terminated Shift_JIS text, walking by characters so that a
// trail byte never matches; null when absent (or ch is 0).
const char* mbschr(const char* text, unsigned int ch);
char* mbschr(char* text, unsigned int ch);

// strtok over Shift_JIS text: delimiters are the characters (one- or
// two-byte) of delims; a trail byte is never taken for a delimiter; runs of
// delimiters count as one. A null text continues from the one saved position
// of the whole program. Returns the token (terminated in place) or null.
char* mbstok(char* text, const char* delims);

// Compares at most n 16-bit units, folding only A-Z to lower case; stops
// after a unit of a that is 0 or differs; returns the difference of the last
// units compared (0 when n is 0).
int u16nicmp(const uint16_t* a, const uint16_t* b, size_t n);
// Units before the first 0 unit.
size_t u16len(const uint16_t* text);

// Each 16-bit unit (machine byte order) taken as a BMP code point, 1 to 3
// UTF-8 bytes each (surrogates too, each on its own). out may be null to
// count. Returns the bytes; writes no terminator; never fails.
int utf16ToUtf8(const uint16_t* in, int count, char* out);
// UTF-8 -> UTF-16 units (code points above U+FFFF as surrogate pairs). out
// may be null to count; out needs at most len units. Returns the units, or
// -1 when the text ends inside a multi-byte sequence (the units before it
// are already written). Other malformed bytes (stray continuation bytes,
// overlong or surrogate forms, values above U+10FFFF, a lead byte followed
// too early by a non-continuation byte) give one U+FFFD per bad byte and the
// scan goes on. Writes no terminator.
int utf8ToUtf16(const char* in, int len, uint16_t* out);

}  // namespace jclib

// Class of the character at p (Shift_JIS pair read as one big-endian code):
// 5 full-width space, 6 ASCII space, 8 other two-byte code, 12 other single
// byte, 13 hiragana 0x829F-0x82F1, 14 katakana 0x8340-0x8396 and 0x815B,
// 0x8145, 15 full-width digits and Latin letters, ASCII digits, letters and
// "_", 16 kanji 0x889F-0x9FFC, 0xE040-0xEFFC and 0x81AC, 0x8158, 17
// 0x8141-0x8144, 18 brackets 0x8169-0x817A. p[1] is read only when p[0] is a
// lead byte; a lead byte followed by a byte that is no trail byte (the
// terminating zero included) is a single byte of class 12.
int sjisCharClass(const unsigned char* p);
inline int sjisCharClass(const char* p) {
    return sjisCharClass(reinterpret_cast<const unsigned char*>(p));
}

// Bytes of the Shift_JIS character at p within len remaining bytes: 2 for a
// lead byte followed by a trail byte, else 1 (0 when len <= 0).
int sjisCharLength(const unsigned char* p, int len);

// Two-byte JIS X 0208 codes -> Shift_JIS, two bytes at a time until a zero
// byte (in either byte of a pair) or until len is used up (an odd last byte
// is ignored); then a terminating zero: out needs len + 1 bytes. A pair of
// two JIS bytes is converted; a pair of printable ASCII that is no JIS code
// (it holds a 0x20, as in blank padding) is copied; any other pair (gaiji
// codes, controls) becomes the geta mark 0x81AC.
void jisStringToSjis(unsigned char* out, const unsigned char* in, int len);
inline void jisStringToSjis(char* out, const char* in, int len) {
    jisStringToSjis(reinterpret_cast<unsigned char*>(out), reinterpret_cast<const unsigned char*>(in), len);
}

// Shift_JIS text (len bytes, or up to a zero byte) -> two-byte JIS X 0208
// codes: a two-byte character by sjisToJis, a printable single byte or a
// half-width katakana through hankakuToZenkaku first; anything else (a
// control byte, a code in the user-defined area, a lone or broken lead byte)
// becomes 0x222E. Writes whole codes only, at most outSize - 1 bytes, then a
// zero (nothing when outSize is 0). Returns the code bytes written.
int sjisStringToJis(unsigned char* out, size_t outSize, const unsigned char* in, int len);

// Single characters. Each lookup gives 0 when the character has none.
// unicodeToSjis: a one-byte result (0x01-0x7F, 0xA1-0xDF) or a two-byte code.
unsigned int unicodeToSjis(uint32_t cp);
// sjisToUnicode: a one-byte code (0x00-0x7F, 0xA1-0xDF) or a two-byte code.
uint32_t sjisToUnicode(unsigned int sjis);
// The character that Windows Shift_JIS gives a two-byte code outside JIS
// X 0208: the NEC special row 13 (0x8740-0x879C), the NEC-selected IBM
// extensions (0xED40-0xEEFC) and the IBM extensions (0xFA40-0xFC4B) by the
// Windows table, the user-defined area (0xF040-0xF9FC) as private use
// U+E000-U+E757. 0 for every other code, JIS X 0208 codes included (for
// those see sjisToUnicode). Some of these characters are in JIS X 0208 as
// well (the duplicated math symbols, the not sign): unicodeToSjis gives
// their JIS X 0208 codes.
uint32_t windowsSjisToUnicode(unsigned int sjis);
// JIS X 0208 only (no single bytes).
unsigned int unicodeToJis(uint32_t cp);
uint32_t jisToUnicode(unsigned int jis);
// Writes the Shift_JIS form of cp into out (room for 2 bytes) and returns its
// length 1 or 2; 0 for U+0000 and U+FEFF (to be dropped); -1 when Shift_JIS
// has no form for it (out untouched).
int unicodeCharToSjis(uint32_t cp, unsigned char* out);

// Shift_JIS bytes -> 32-bit Unicode characters, followed by a terminating
// zero (out needs len + 1 units). Unmapped or malformed characters give
// U+FFFD; a zero byte gives U+0000 and counts. Returns the characters
// written, the terminator not counted.
int sjisToWide(uint32_t* out, const unsigned char* in, int len);
inline int sjisToWide(uint32_t* out, const char* in, int len) {
    return sjisToWide(out, reinterpret_cast<const unsigned char*>(in), len);
}

// 32-bit characters -> UTF-8. A high surrogate followed by a low one is
// joined into one code point; a lone surrogate or a value above U+10FFFF
// gives U+FFFD. out may be null to count. Returns the bytes; no terminator.
int wideToUtf8(const uint32_t* in, int count, char* out);
// UTF-8 -> 32-bit units, code points above U+FFFF stored as surrogate pairs
// of two units. out may be null to count; out needs at most len units.
// Returns the units, -1 when the text ends inside a multi-byte sequence;
// other malformed bytes as in jclib::utf8ToUtf16. No terminator.
int utf8ToWide(const char* in, int len, uint32_t* out);
// UTF-16LE bytes (count code units, 2 bytes each) -> UTF-8; surrogate pairs
// become four bytes, a lone surrogate U+FFFD. out may be null to count.
// Returns the bytes; no terminator.
int utf16leToUtf8(const unsigned char* in, int count, char* out);

// 1 when the len bytes are well-formed UTF-8 (ASCII included; no overlong
// forms, surrogates or values above U+10FFFF, no sequence cut at the end),
// else 0.
int isUtf8Text(const char* text, int len);
// Bytes of the character at text[0..len): the length of a well-formed UTF-8
// sequence, 1 for a byte that starts none (so that a walk steps over it),
// 0 when len is 0 or less.
int utf8CharLength(const char* text, int len);
// The largest n <= max such that text[0..n) does not end inside a UTF-8
// sequence (cuts before continuation bytes); len when len <= max.
size_t utf8PrefixLength(const char* text, size_t len, size_t max);

// Whole-string conversions with a bounded output. Each reads len bytes (it
// stops early at a zero byte), writes whole characters only, at most
// outSize - 1 bytes followed by a zero (nothing when outSize is 0), and
// returns the bytes written without the zero. Replacements as above.
int sjisToUtf8(const unsigned char* in, int len, char* out, size_t outSize);
// Unmappable characters become the geta mark 0x81AC; U+0000 ends the text.
int utf8ToSjis(const char* in, int len, unsigned char* out, size_t outSize);
// 32-bit characters (count of them; surrogate pairs joined) -> Shift_JIS;
// unmappable characters become 0x81AC, U+FEFF is dropped, U+0000 ends the text.
int wideToSjis(const uint32_t* in, int count, unsigned char* out, size_t outSize);
// EUC-JP: ASCII, JIS X 0208 (0xA1-0xFE pairs) and half-width katakana
// (0x8E + 0xA1-0xDF). JIS X 0212 (0x8F + two bytes) has no Shift_JIS form and
// becomes 0x81AC.
int sjisToEucjp(const unsigned char* in, int len, unsigned char* out, size_t outSize);
int eucjpToSjis(const unsigned char* in, int len, unsigned char* out, size_t outSize);
// ISO-2022-JP (RFC 1468 with the JIS X 0201 katakana set): ESC ( B / ESC ( J
// ASCII, ESC $ @ / ESC $ B JIS X 0208, ESC ( I half-width katakana. The
// encoder switches sets only when needed and ends in ASCII; half-width
// katakana are written through ESC ( I; a character that does not fit is not
// begun, and the closing ESC ( B always fits. The decoder takes ESC ( J as
// ASCII, drops escape sequences it does not know (a two-byte set it does not
// know, such as JIS X 0212, gives 0x81AC per pair), passes CR and LF in any
// set, and turns bytes of 0x80 and above and broken pairs into 0x81AC.
int sjisToIso2022jp(const unsigned char* in, int len, unsigned char* out, size_t outSize);
int iso2022jpToSjis(const unsigned char* in, int len, unsigned char* out, size_t outSize);
