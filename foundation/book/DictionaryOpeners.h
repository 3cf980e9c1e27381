// The seam through which the catalog opens dictionary files of other formats
// as one-subbook books without linking their readers: each reader library
// registers a probe at start-up. An unregistered kind makes the matching
// CEBCatalog::open... call fail cleanly.
#pragma once

#include <cstddef>

// Opens the file at path with the reader of one dictionary format, copies its
// title (NUL-terminated, at most titleSize - 1 bytes) into title when the
// format has one (else leaves title empty), closes the reader again and
// returns 0; -1 when the reader does not accept the file.
typedef int (*DictionaryProbe)(const char* path, char* title, size_t titleSize);

// Book kinds a probe can be registered for (the catalog's kinds).
enum DictionaryProbeKind {
    kDictionaryPdic = 4,      // CPDicReader::open
    kDictionarySqlite = 5,    // CSQLIO::open, title of getBookInfo()
    kDictionaryStarDict = 6,  // CStarDictReader::openIfo, its book name
    kDictionaryMdict = 7      // CMDictReader::openHeader (title unused)
};

// Registers (or with null removes) the probe of a kind; other kinds are ignored.
void registerDictionaryProbe(int kind, DictionaryProbe probe);
// The registered probe of a kind, or null.
DictionaryProbe dictionaryProbe(int kind);
