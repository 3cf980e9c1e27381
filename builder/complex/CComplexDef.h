// CComplexDef: reads a complex-search definition file.
//
//   <COMPLEX name="search title">          one multi search (at most 10)
//     <GROUP name="label">                 one field (at most 5 a search)
//       <ATTR name="author"/>              KEY name feeding the field; without
//                                          ATTR the label is the KEY name
//     <GROUP name="label" type="keyword">  a field searching the book's
//                                          complex keyword index (keyword and
//                                          cross keys, words of headings)
//       <CATEGORY name="Novels">           candidate group (a plain candidate
//         <SUBCATEGORY name="Long">        when it holds nothing)
//           <KEYWORD>epic</KEYWORD>        candidate word
//
// The file is Shift_JIS or UTF-8 text (a byte-order mark, or valid UTF-8
// that is no valid Shift_JIS), read through the tag tokenizer; names are
// taken from the "name" attribute (KEYWORD also from its text). A file that
// asks for more than readers accept, places a tag where it has no meaning
// (a SUBCATEGORY inside a SUBCATEGORY) or holds no COMPLEX at all is refused
// with a message naming the line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "builder/complex/ComplexDefinitions.h"

class CComplexDef {
public:
    // Largest definition file read.
    static const size_t kMaxFileSize = 1 << 20;

    // Reads the file; throws std::runtime_error with the message on any
    // fault ("Complex definition file not found(loadComplexDef)", ...).
    void load(const char* path);
    // Reads a definition held in memory; throws as load.
    void parse(const char* data, size_t size);

    const std::vector<COMPLEX_DEF>& definitions() const { return m_defs; }
    // True when the bytes are read as UTF-8 (see above).
    static bool isUtf8(const char* data, size_t size);

private:
    std::vector<COMPLEX_DEF> m_defs;
};
