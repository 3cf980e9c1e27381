// Small text utilities shared by the source readers and the book writer:
// the UTF-16 source reader as free functions, Shift_JIS-aware searches and
// the normaliser of Shift_JIS text into its 2-byte full-width form.
//
// Shift_JIS characters: a lead byte (0x81-0x9F, 0xE0-0xFC) and the byte after
// it form one character, every other byte is a character by itself. The
// searches step by characters and never look past length bytes.
#pragma once

#include <cstdio>

// UTF-16 reading over a FILE* (see CUTF16Reader for the rules). The reader
// state (byte order, push-back) belongs to the stream being read: it is
// started afresh whenever a different stream, or the same stream at another
// position than where the last read left it, is read.
// The next code unit 0..0xFFFF, or -1 at the end of the file or a short read.
int readUTF16Char(FILE* file);
// Puts one unit back for the stream read last.
void ungetUTF16Char(int unit);
// Reads one line (see CUTF16Reader::readLine); buffer, or null at the end.
int* readUTF16Line(int* buffer, int size, FILE* file);

// First character whose first byte is ch, or null.
const char* findByteSJIS(const char* text, int ch, int length);
// First character position whose two bytes equal ch2[0] and ch2[1], or null.
// At a last single byte the missing second byte counts as 0.
const unsigned char* findCharSJIS(const unsigned char* text, const unsigned char* ch2, int length);
// First character of text that is one of the characters of the
// zero-terminated Shift_JIS string set (a trail byte never matches), or null.
const unsigned char* findAnyOfSJIS(const unsigned char* text, const unsigned char* set, int length);

// Writes text (length bytes) in 2-byte form: each character as one
// big-endian 16-bit unit (a printable single byte upper-cased and made
// full-width, any other single byte as 0x00nn), then a zero byte. Returns the
// bytes written without the zero. outSize bounds the output (zero included);
// whole units only. The form without outSize needs 2 * length + 1 bytes.
int toFullWidthSJIS(unsigned char* out, const unsigned char* in, int length, int outSize);
int toFullWidthSJIS(unsigned char* out, const unsigned char* in, int length);
// toFullWidthSJIS into a 584-byte work buffer (longer input is cut at a
// character), then the work buffer's text up to its first zero byte converted
// to JIS X 0208 codes into out (outSize bytes, zero included). Returns the
// byte count of the first step.
int toFullWidthJIS(unsigned char* out, const unsigned char* in, int length, int outSize);
// The same with out holding at least 584 bytes.
int toFullWidthJIS(unsigned char* out, const unsigned char* in, int length);
