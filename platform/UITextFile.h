// Whole files for the window layer: an atomic write of a text, a bounded read
// of a file's bytes, and a read that decodes a whole file into UTF-8 through
// the decoder of its text encoding.
//
// Only regular files are read (a FIFO or a device fails at once instead of
// blocking), and at most kUITextFileMaxBytes of them. Every call returns true
// or false; on false, *error (when given) holds a sentence that names the
// path and the reason.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t kUITextFileMaxBytes = 16u << 20;

// Decodes one character of an encoding from the available bytes at p (at
// least 1): appends its UTF-8 form to *utf8 and returns the bytes it took, or
// returns 0, appending nothing, when the bytes there are not a character of
// the encoding.
typedef size_t (*UICharDecoder)(const unsigned char* p, size_t available, std::string* utf8);

// Writes text to path so that the file is replaced whole or not at all: the
// bytes go to a new file beside it, which then takes its name. A file that
// was there keeps its permission bits; a new one gets 0644.
bool UIWriteTextFileAtomically(const std::string& path, const std::string& text, std::string* error);

// Reads the whole regular file at path into *bytes.
bool UIReadFileBytes(const std::string& path, std::string* bytes, std::string* error);

// Reads the whole file and decodes it into UTF-8 in *text, character by
// character through decoder. The decoding is all or nothing: a byte sequence
// the decoder refuses fails the call and leaves *text empty.
bool UIReadTextFile(const std::string& path, UICharDecoder decoder, std::string* text, std::string* error);
