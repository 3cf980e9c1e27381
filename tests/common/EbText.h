// Text of a bound book read back through the EB Library with its default
// hooks, for the probes of our own around libeb. Available when the tests
// are built with libeb (LF_HAVE_EB).
#pragma once

#include <string>

#ifdef LF_HAVE_EB
#include <eb/eb.h>
#include <eb/text.h>

namespace lftest {

// eb_read_text or eb_read_heading.
typedef EB_Error_Code (*EbReadFunction)(EB_Book*, EB_Appendix*, EB_Hookset*, void*, size_t, char*, ssize_t*);

// eb_seek_text to block:offset of the book's current subbook.
EB_Error_Code ebSeekText(EB_Book* book, int block, int offset);

// Reads from the current text position through fn until maxBytes are read
// or fn gives no more, and returns it as Shift_JIS. A failing read ends the
// text read so far; error, when not null, then gets "eb_read: " and libeb's
// message.
std::string ebReadAll(EB_Book* book, EbReadFunction fn, size_t maxBytes, std::string* error);

}  // namespace lftest

#endif  // LF_HAVE_EB
