// What a build can take of a book: the driver copies its values into fixed
// fields (title 80 Shift_JIS bytes, directory name 1 to 8 letters, digits or
// "_", paths 255 bytes, gaiji font file names 8 Shift_JIS bytes, start codes
// 16 bits). The book dialog refuses a value beyond them on OK, and a run
// reports and skips a book that holds one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/project/BookInfo.h"

// The fields of a book, in the order they are checked.
enum BookField {
    BOOK_FIELD_NONE = 0,
    BOOK_FIELD_TITLE,
    BOOK_FIELD_DIRNAME,
    BOOK_FIELD_GAIJIMAP,
    BOOK_FIELD_GAIJIFONT,
    BOOK_FIELD_COPYRIGHT,
    BOOK_FIELD_COMPLEX,
    BOOK_FIELD_KEYWORD,
    BOOK_FIELD_FONT,  // with the slot, FONT_SLOT_8X16 to FONT_SLOT_48X48
    BOOK_FIELD_HANSTART,
    BOOK_FIELD_ZENSTART,
};

struct BookFieldProblem {
    BookField field = BOOK_FIELD_NONE;
    int fontSlot = -1;
    std::string message;  // "title longer than 80 bytes in Shift_JIS", ...
};

constexpr size_t kMaxTitleBytes = 80;
constexpr size_t kMaxDirNameBytes = 8;
constexpr size_t kMaxPathBytes = 255;
constexpr size_t kMaxFontNameBytes = 8;

// Shift_JIS form of UTF-8 text; false when a character has none (or the text
// is not UTF-8). The geta mark itself converts.
bool shiftJISText(const std::string& utf8, std::string* sjis);
// The Shift_JIS form without a check: a character that has none becomes the
// geta mark.
std::string toShiftJIS(const std::string& utf8);

// True for 1 to 8 letters, digits or "_" (letters of either case).
bool validDirName(const std::string& name);
// A directory name as a book stores it: ASCII letters in upper case.
std::string upperCaseDirName(std::string name);

// The first field of book beyond the limits, or false when all fit. Paths
// are measured as expand gives them (the run's absolute form); empty fields
// are not checked here.
bool findBookFieldProblem(const BookInfo& book, const std::function<std::string(const std::string&)>& expand,
                          BookFieldProblem* problem);
