// The book information text of a reader: for EB and EPWING books the
// format, the index table's header values with their Japanese meanings, and
// the index areas with their search attributes and multi-search
// definitions. Lines end in CR LF or CR alone. The text is written piece by
// piece through CBoundedText and ends once it reaches 255 bytes before the
// buffer's end; a buffer of 255 bytes or less gets the first piece, cut to
// fit at a character boundary. Always terminated.
#pragma once

#include <cstdint>

#include "foundation/CBoundedText.h"
class CEBReader;

class CBookInfoText {
public:
    CBookInfoText(CEBReader& reader, bool crlf) : m_reader(reader), m_lineEnd(crlf ? "\r\n" : "\r") {}
    // Writes the text into out (size bytes); its length.
    uint32_t write(char* out, uint32_t size);

private:
    // Appends one piece (printf-formatted) followed, when lineEnd is set,
    // by the line end; false once the text has ended.
    bool piece(bool lineEnd, const char* format, ...) __attribute__((format(printf, 3, 4)));
    bool writeTableText();
    bool writeMultiSearch(uint32_t block);

    CEBReader& m_reader;
    const char* m_lineEnd;
    CBoundedText* m_text = nullptr;
    uint32_t m_size = 0;
    bool m_ended = false;
};
