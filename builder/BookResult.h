// BookResult: how the build of one book ended, as CEBBook::make and
// CEPWing::makeBook return it. A run decides whether a book was built from
// this record, never from the text of the log.
//
//   BookResult r = epwing->makeBook();
//   if (!r.succeeded()) ++failures;
#pragma once

struct BookResult {
    // The book was written whole: every area and the index table.
    bool written = false;
    // An abort ended the build (written is then false).
    bool aborted = false;
    // Sources left out of the book, each named in the log with the reason:
    // a refused field spec, a file that no longer opens, a type without a
    // reader. The book is still written from the other sources.
    int failedSources = 0;
    // Parts of the book that could not be made (a copyright page that cannot
    // be read), each named in the log; the book is written without them.
    int failedParts = 0;

    bool succeeded() const { return written && !aborted && failedSources == 0 && failedParts == 0; }
};
