// Multi-search areas, candidate lists and search titles.
#include "builder/complex/CComplexWriter.h"

#include <cstring>

#include "foundation/book/BookConstants.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/book/escapecodes.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

const int kFieldHeader = 32;  // count, 0, 30-byte label
const int kRecord = 16;

using byteorder::putBe16;
using byteorder::putBe32;

// Moves the stream behind everything written (the next write opens a new
// block) and returns the last block.
uint32_t toEnd(CBlockStream* stream) {
    const uint32_t last = stream->lastBlock();
    BLOCK_POS end = {last, kBlockSize};
    stream->seek(end);
    return last;
}

// A full-width katakana c followed by the half-width voiced (0xDE) or
// semi-voiced (0xDF) mark, as one character; c itself when they do not join.
unsigned withSoundMark(unsigned c, unsigned mark) {
    if (mark == 0xDE) {
        if (c == 0x8345) return 0x8394;  // ウ -> ヴ
        if ((c >= 0x834A && c <= 0x8367 && c != 0x8362 && ((c < 0x8362) == ((c - 0x834A) % 2 == 0))) ||
            (c >= 0x836E && c <= 0x837A && (c - 0x836E) % 3 == 0))
            return c + 1;
    }
    if (mark == 0xDF && c >= 0x836E && c <= 0x837A && (c - 0x836E) % 3 == 0) return c + 2;
    return c;
}

}  // namespace

void CComplexWriter::putJisText(unsigned char* out, const std::string& text, int bytes) {
    std::memset(out, 0, static_cast<size_t>(bytes));
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    int o = 0;
    for (size_t i = 0; i < n && o + 1 < bytes;) {
        unsigned c;
        if (jclib::isSjisLead(s[i]) && i + 1 < n) {
            c = static_cast<unsigned>(s[i]) << 8 | s[i + 1];
            i += 2;
        } else {
            // Letters keep their case: a label is shown, not searched. A
            // half-width kana takes its voiced or semi-voiced mark with it.
            c = jclib::hankakuToZenkaku(s[i]);
            const unsigned mark = i + 1 < n ? s[i + 1] : 0;
            i += 1;
            const unsigned joined = withSoundMark(c, mark);
            if (joined != c) {
                c = joined;
                i += 1;
            }
        }
        if (!jclib::isSjisCode(c)) continue;
        unsigned j = jclib::sjisToJis(c >= 0xF040 ? 0x81AC : c);
        out[o++] = static_cast<unsigned char>(j >> 8);
        out[o++] = static_cast<unsigned char>(j);
    }
}

void CComplexWriter::writeList(CBlockStream* stream, const std::vector<COMPLEX_CANDIDATE>& list, BLOCK_POS* at,
                               bool freshBlock) {
    // Sub-lists first, so that every group knows where its list lies.
    std::vector<BLOCK_POS> sub(list.size(), BLOCK_POS{0, 0});
    for (size_t i = 0; i < list.size(); ++i)
        if (!list[i].children.empty()) writeList(stream, list[i].children, &sub[i], false);
    if (freshBlock) stream->finish();
    stream->tell(at);
    stream->writeCode(EB_BEGIN_TEXT);
    for (size_t i = 0; i < list.size(); ++i) {
        stream->writeCode(EB_BEGIN_MENU_ITEM);
        stream->writeText(list[i].label.data(), static_cast<int>(list[i].label.size()), 1, 0);
        stream->writeCode(EB_END_MENU_ITEM);
        stream->writeBcd(sub[i].block, 4);
        stream->writeBcd(sub[i].offset, 2);
        stream->writeCode(EB_NEWLINE);
    }
    stream->writeCode(EB_END_TEXT);
}

CComplexWriter::Block CComplexWriter::writeCandidates(CBlockStream* stream,
                                                      const std::vector<COMPLEX_CANDIDATE>& list) {
    Block b;
    if (list.empty()) return b;
    // The top list opens a block of its own: readers take its block as the
    // list's position. Its sub-lists lie before it.
    BLOCK_POS at;
    writeList(stream, list, &at, true);
    b.start = at.block;
    b.count = toEnd(stream) - b.start + 1;
    return b;
}

void CComplexWriter::writeSearch(CBlockStream* stream, const COMPLEX_DEF& def,
                                 std::vector<std::vector<INDEX_ITEM>>* fieldItems, const Block& bookIndex,
                                 CIndexWriter::Layout layout, int omitHeader, int titleLen) {
    unsigned char page[kBlockSize];
    std::memset(page, 0, sizeof page);
    BLOCK_POS start;
    stream->tell(&start);
    // The definition page is written last, when the positions are known.
    stream->writeBytes(page, kBlockSize);

    const size_t fields = def.fields.size();
    std::vector<Block> candidates(fields), indexes(fields);
    for (size_t f = 0; f < fields; ++f) {
        candidates[f] = writeCandidates(stream, def.fields[f].candidates);
        if (def.fields[f].bookIndex && bookIndex.count > 0) {
            indexes[f] = bookIndex;
            continue;
        }
        std::vector<INDEX_ITEM>& items = (*fieldItems)[f];
        stream->finish();
        if (!omitHeader) {
            m_index->writeHeadings(stream, items.data(), items.size(), titleLen);
            stream->finish();
        }
        indexes[f].start = stream->currentBlock();
        m_index->writeIndex(stream, items.data(), items.size(), layout, omitHeader);
        indexes[f].count = toEnd(stream) - indexes[f].start + 1;
    }

    putBe16(page, static_cast<unsigned>(fields));
    unsigned char* p = page + 16;
    for (size_t f = 0; f < fields; ++f) {
        const int records = candidates[f].count > 0 ? 2 : 1;
        p[0] = static_cast<unsigned char>(records);
        p[1] = 0;
        putJisText(p + 2, def.fields[f].label, COMPLEX_LABEL_BYTES);
        p += kFieldHeader;
        p[0] = 0xA1;
        putBe32(p + 2, indexes[f].start);
        putBe32(p + 6, indexes[f].count);
        p += kRecord;
        if (candidates[f].count > 0) {
            p[0] = 0x01;
            putBe32(p + 2, candidates[f].start);
            putBe32(p + 6, candidates[f].count);
            p += kRecord;
        }
    }
    stream->seek(start);
    stream->writeBytes(page, kBlockSize);
    toEnd(stream);
}

void CComplexWriter::writeTitles(CBlockStream* stream, const std::vector<COMPLEX_DEF>& defs) {
    unsigned char page[kBlockSize];
    std::memset(page, 0, sizeof page);
    putBe16(page, static_cast<unsigned>(defs.size()));
    for (size_t i = 0; i < defs.size() && i < COMPLEX_MAX_SEARCHES; ++i) {
        if (defs[i].title.empty()) continue;
        unsigned char* r = page + kTitleRecords + i * kTitleRecordSize;
        putBe16(r, 2);
        putJisText(r + 2, defs[i].title, 16);
        putJisText(r + 18, defs[i].title, COMPLEX_TITLE_BYTES);
    }
    stream->writeBytes(page, kBlockSize);
}
