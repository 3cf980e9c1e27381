// Text helpers shared by the readers of the gaiji definition files (gaiji map
// and gaiji font definition): whole-file reading with a size limit, ASCII
// case-insensitive prefixes and bounded copies of attribute values.
#pragma once

#include <vector>

namespace gaijitext {

inline int lowerAscii(int c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// Control bytes skipped between the tags of a definition file.
inline bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// The first n bytes of text equal key, ignoring ASCII case; text holds len bytes.
bool startsWithNoCase(const char* text, int len, const char* key, int n);

// A zero-terminated copy of an attribute value, cut to the buffer.
struct ValueText {
    char text[64];
    ValueText(const char* v, int n);
};

// Reads a definition file whole. 0, -1 when it cannot be opened; throws
// std::runtime_error(tooLarge) when it is larger than any definition file
// should be (64 MiB).
int readWholeFile(const char* path, std::vector<char>* data, const char* tooLarge);

}  // namespace gaijitext
