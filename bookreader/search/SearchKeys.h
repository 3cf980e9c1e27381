// Key forms of the index searches. Indexes store their keys folded by 24-bit
// search-style flags (nine two-bit fields, a field of 0 folds): upper case,
// katakana or hiragana, marks, long-vowel marks, small and voiced kana. A
// query is brought into the same form in steps: the typed form (upper case,
// full width, spaces), the full folding by the index's style, a reversal for
// end-word indexes, and the JIS X 0208 codes the index holds.
//
//   char typed[kSearchKeyBufferSize], folded[kSearchKeyBufferSize], jis[kSearchKeyBufferSize];
//   normalizeQueryKey(typed, query, strlen(query), style, kSearchKeyMax, 1);
//   normalizeKey(folded, sizeof folded, typed, strlen(typed), style);
//   int n = toJisKey(jis, folded, strlen(folded));
//
// Texts are Shift_JIS (ASCII for ISO 8859-1 books), zero-terminated.
#pragma once

#include <cstdint>

// Room for a key form and its terminator, and the longest key form a query
// gives (an even count, so that no two-byte character is cut).
constexpr int kSearchKeyBufferSize = 256;
constexpr int kSearchKeyMax = 254;

// Style values the searches use.
constexpr uint32_t kStyleNoFolding = 0xFFFFC0;   // multi search, text scan
constexpr uint32_t kStyleKanaSecond = 0x33FFC0;  // second form of the kana indexes

// The 24-bit value of three style bytes (most significant first); 0 for null.
uint32_t styleValue(const uint8_t* style);

// Copies in up to its terminating zero or max bytes, ASCII lower-case letters
// upper-cased; terminates out (max + 1 bytes). Returns the bytes written.
int upperCaseKey(char* out, const char* in, int max);

// The typed form of a query: single bytes of 0x20 and more upper-cased and
// made full width (a space becomes 0x8140), a control byte written as 0x00
// and the byte (which ends the key), full-width a..z upper-cased, with
// dropSpace the full-width space dropped, and with style bits 19-18 of 0 the
// marks 0x8166, 0x817C, 0x8145, 0x815D dropped. At most max bytes (rounded
// down to whole characters) and a terminator. Returns the bytes written.
int normalizeQueryKey(char* out, const char* in, int length, const uint8_t* style, int max, int dropSpace);

// The full folding by the style flags (null: 0x000000); out holds outSize
// bytes, the form is cut at whole characters to fit. Returns 1.
int normalizeKey(char* out, int outSize, const char* in, int length, const uint8_t* style);
int normalizeKey(char* out, int outSize, const char* in, int length, uint32_t style);

// The key form in which kana indexes hold the keys of group members (the
// words as written, in hiragana): katakana to hiragana except ヵ 0x8395 and
// ヶ 0x8396, which have no hiragana; marks, long-vowel marks, voiced and
// small kana and every other character kept. out holds outSize bytes; the
// form is cut at whole characters to fit. Returns the bytes written.
int kanaMemberKey(char* out, int outSize, const char* in, int length);

// The first min(length, 255) bytes written from the end of out (256 bytes)
// backwards, character by character; a two-byte character keeps its byte
// order unless latin1 is set (then every byte is one character). Returns the
// start of the reversed text in out.
char* reverseKey(char* out, const char* in, int length, bool latin1);

// Shift_JIS form -> JIS X 0208 codes, two bytes at a time until a zero first
// byte or the end of length; a full-width "&H1234;", "&Z1234;" or "&G1234;"
// becomes the gaiji code (G: modulo 0x8000). out needs length + 1 bytes.
// Returns the bytes written.
int toJisKey(char* out, const char* in, int length);

// 2 when every character is hiragana or one of 0x815D, 0x817C, 0x815B,
// 0x8145 (also for an empty key); 1 when katakana also occurs and nothing
// else; 0 otherwise.
int kanaKeyKind(const char* key, int length);

// Kana conversion with filtering: only hiragana (with 0x815B and 0x8394),
// or only katakana (with 0x815B), is written; everything else is dropped.
// out needs length + 1 bytes. Return the bytes written.
int toHiragana(char* out, const char* in, int length);
int toKatakana(char* out, const char* in, int length);
