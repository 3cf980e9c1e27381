// CComplexWriter: the areas of complex (multi-field) search.
//
// One multi-search area (id 0xFF) per definition, laid out as:
//  - its first block, the definition page: u16 field count, 14 zero bytes,
//    then per field a byte with its number of sub-index records, a zero
//    byte, the label as 15 JIS X 0208 codes, and 16-byte records {id, 0,
//    u32 start block, u32 block count, 6 zero bytes}: 0xA1 for the field's
//    sub-index (its own, or the book's complex keyword index, which the
//    index table does not list), 0x01 for its candidate list when it has
//    one;
//  - per field: its candidate lists (menu-item text: each candidate between
//    1F43 and 1F63 with the position of its sub-list, or zeros for a word),
//    the heading text of its entries, and its sub-index (a B-tree of its
//    own, the grouped layout of complex leaves or the plain layout).
// The search-title area (id 0x16): 10 records of 70 bytes from offset 350,
// record i {u16 2, 8 JIS codes of the short title, 16 JIS codes of the
// title} for the i-th multi search.
#pragma once

#include <vector>

#include "foundation/book/CBlockStream.h"

#include "builder/complex/ComplexDefinitions.h"
#include "builder/index/CIndexWriter.h"
#include "builder/index/SearchEntries.h"

class CComplexWriter {
public:
    // Offset of the first multi-search record of the title page and the
    // size of a record.
    static const int kTitleRecords = 350;
    static const int kTitleRecordSize = 70;

    explicit CComplexWriter(CIndexWriter* indexWriter) : m_index(indexWriter) {}

    // An area already written elsewhere in the book.
    struct Block {
        uint32_t start = 0;
        uint32_t count = 0;
    };

    // Writes the area of def into stream, which stands at the area's first
    // block; fieldItems[i] holds the sorted entries of field i (their
    // heading positions are set here). A field that takes the book's
    // complex keyword index refers to bookIndex when it has blocks (else it
    // gets an index of its own entries). Leaves the stream after the area.
    void writeSearch(CBlockStream* stream, const COMPLEX_DEF& def, std::vector<std::vector<INDEX_ITEM>>* fieldItems,
                     const Block& bookIndex, CIndexWriter::Layout layout, int omitHeader, int titleLen);

    // Writes the title page of the definitions.
    static void writeTitles(CBlockStream* stream, const std::vector<COMPLEX_DEF>& defs);

    // Shift_JIS text as full-width JIS X 0208 codes into out (bytes, even),
    // zero-padded; never more than bytes.
    static void putJisText(unsigned char* out, const std::string& text, int bytes);

private:
    Block writeCandidates(CBlockStream* stream, const std::vector<COMPLEX_CANDIDATE>& list);
    void writeList(CBlockStream* stream, const std::vector<COMPLEX_CANDIDATE>& list, BLOCK_POS* at, bool freshBlock);

    CIndexWriter* m_index;
};
