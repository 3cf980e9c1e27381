// Records of the SQLite user dictionary: its book information row and the
// hits of a search.
#pragma once

#include <cstdint>

// The bookinfo row in memory; texts are NUL-terminated UTF-8.
struct USERDICT_INFO {
    char isbn[14];
    char ccode[5];
    char booktitle[256];
    char booksubtitle[256];
    char edition[256];
    char seriestitle[256];
    char bookauthor[256];
    char pubdate[9];
    char publisher[256];
    char bookcode[256];
    char filename[256];
    int64_t compression;
    int64_t crypt;
    int64_t bookno;
    // Bit 0 set: exact searches go through the alternative index (attribute
    // 1) and new entries leave the keyword column empty.
    int64_t indexmask;
    // How meanings are read: 0 plain text, 1 HTML, 2 XML, 3 dsl, 4 dsl index.
    int64_t contenttype;
};

// One hit: the dictionary's book number, the entry's id and its headword in
// the text pool of the object that found it.
struct USERDICT_HIT {
    uint64_t bookno;
    uint64_t id;
    uint64_t offset;  // of the headword in the text pool
    uint16_t length;  // of the headword, in bytes
};
