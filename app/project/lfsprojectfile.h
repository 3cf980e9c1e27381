// The key=value project file (".lfs") of older projects, read only: Shift_JIS
// text, one "key=value" per line, "#" comment lines; "Book" and "Source"
// lines with ";"-separated fields, project and option keys, and four keys
// ("Copyright", "GaijiFile", "GaijiMapFile", "IndexFile") that give their
// value to the books that follow them.
#pragma once

#include <cstddef>
#include <string>

class BookSet;

// Decodes one Shift_JIS character of JIS X 0208 (with ASCII and half-width
// katakana) for UIReadTextFile: appends its UTF-8 form and returns the bytes
// it took, or 0 for a zero byte, a byte no character starts with, a broken
// pair or a code with no character.
size_t decodeShiftJisChar(const unsigned char* p, size_t available, std::string* utf8);

// Resets the books and options (no books, option defaults, indexDef 0; base
// and output folders, csvPath, csvFields and, unless the file has "EBType",
// ebType kept) and reads the file into the project. A "Book" line with fewer
// than 13 fields, or a "Source" line with fewer than 4, is read with the
// missing fields taken as "_" (so no book is lost and every source stays
// with its book); a "Size" line without a fourth field changes nothing.
// Selection after: book 0 (or -1 with no books), source -1. False, with no
// books, when the file cannot be read or is not Shift_JIS text.
bool readLFSProject(BookSet* set, const std::string& path, std::string* error);
