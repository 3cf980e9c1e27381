// A CEBBook opened for tests that register entries, menu items, anchors or
// links directly, or run a source reader into a stream of their own: the
// driver's default options (EPWING, every index but complex search, the
// menu), a book directory in a fresh temporary directory, and the book's
// messages in lftest::capturedMessages() (emptied after open).
//
//   lftest::OpenBook b;
//   b.book.addMenuItem(0, pos, "a", 1, nullptr, 0);
#pragma once

#include <string>

#include "builder/CEBBook.h"
#include "builder/CEPWing.h"
#include "tests/common/TestDir.h"

namespace lftest {

struct OpenBook {
    TestDir dir;
    CEPWing defaults;  // owns the option texts that opt points to
    ConvertOpt opt;
    BOOK_SPEC spec;
    CEBBook book;

    explicit OpenBook(int ebType = 1);
    // Opens the book again (a new book of the same run).
    void reopen();
    // Adds a source file of the given name (created with one byte).
    bool addSource(const std::string& name, int type = 0);
};

}  // namespace lftest
