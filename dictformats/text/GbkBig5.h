// GBK and Big5 double-byte codes: conversion to and from 32-bit Unicode
// characters, and the key order of dictionaries written in those codes.
// A GBK lead byte is 0x81-0xFE; a Big5 lead byte is 0xA1-0xC6 or 0xC9-0xF9
// (0xC7 and 0xC8 are single bytes). Tables: gbk_big5_tables.inc.
#pragma once

#include <cstdint>

// Unicode value of a two-byte code (lead byte in bits 8-15), 0 when the code
// is outside the tables or unmapped.
int gbkLookup(int code);
int big5Lookup(int code);

// length bytes of text (stopping early at a 0 byte) -> 32-bit characters. A
// byte that is no lead byte is one character; a lead byte and the byte after
// it form a code whose Unicode value is stored, or which is dropped when it
// has none (a lead byte that ends the text is dropped too). out may be null
// to count; with out, a terminating 0 follows (out needs length + 1 units).
// Returns the characters, the terminator not counted.
int gbkToWide(uint32_t* out, const uint8_t* text, uint32_t length);
int big5ToWide(uint32_t* out, const uint8_t* text, uint32_t length);

// count characters (stopping early at 0) -> bytes: a character in the table
// becomes its code (high byte first, two bytes; U+20AC becomes the GBK code
// 0x80 written as 0x00 0x80), any other character its low 8 bits. out may be
// null to count; with out, a terminating 0 byte follows (out needs
// 2 * count + 1 bytes). Returns the bytes, the terminator not counted.
int wideToGbk(uint8_t* out, const uint32_t* text, uint32_t count);
int wideToBig5(uint8_t* out, const uint32_t* text, uint32_t count);

// Order of two 0-terminated keys over at most n characters: a lead byte
// followed by a non-zero byte is one two-byte character, any other byte one
// character folded by toupper; in a (only) spaces, full stops and hyphens
// followed by a non-zero byte are skipped. Negative, 0 or positive.
int gbkKeyCompare(const uint8_t* a, const uint8_t* b, uint64_t n);
int big5KeyCompare(const uint8_t* a, const uint8_t* b, uint64_t n);
