// The XML project file (".lfx"): UTF-8 lines joined by line feeds, no final
// one, two spaces of indent per level, one tag or one value element per line,
// the books with their sources, then the project's own fields, then the 52
// build options. Read through an event parser that loads no DTD, expands no
// entity of the file's own and never touches the network.
#pragma once

#include <string>

class BookSet;

// The file's text for the project, or false with the reason in *error when a
// value is not UTF-8 or holds a character that XML 1.0 cannot carry (a
// control character other than tab, line feed and carriage return, U+FFFE,
// U+FFFF). "&", "<" and ">" are written as entity references and a carriage
// return as "&#13;", so that every value reads back as it was.
bool makeXMLProject(const BookSet& set, std::string* text, std::string* error);

// Writes makeXMLProject's text to path atomically.
bool writeXMLProject(const BookSet& set, const std::string& path, std::string* error);

// Resets the project (no books, option defaults, indexDef 0, empty base and
// output folders; ebType, csvPath and csvFields kept) and reads the file
// into it. On the first parse error the reading stops, one line
// "Parse Error <description>" goes to the system log, what was read stays
// (books whose end tag was seen, values read so far) and the result is false.
// A DOCTYPE counts as an error. In every case the selection is set after:
// book 0 and its source 0 (or -1 when it has none), or -1 and -1.
bool readXMLProject(BookSet* set, const std::string& path, std::string* error);
