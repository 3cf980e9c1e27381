#include "bookreader/info/CBookInfoText.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bookreader/core/CEBReader.h"
#include "foundation/CBoundedText.h"
#include "foundation/book/CBookFile.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

// Room a large buffer keeps free after the text.
constexpr uint32_t kReserve = 255;
// Longest piece: a line of an index entry with its name.
constexpr size_t kPieceMax = 512;

}  // namespace

bool CBookInfoText::piece(bool lineEnd, const char* format, ...) {
    if (m_ended) return false;
    char line[kPieceMax];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) n = 0;
    if (static_cast<size_t>(n) >= sizeof line) n = sizeof line - 1;
    size_t length = static_cast<size_t>(n);
    if (lineEnd) {
        size_t end = strlen(m_lineEnd);
        if (length + end < sizeof line) {
            memcpy(line + length, m_lineEnd, end);
            length += end;
        }
    }
    if (m_size <= kReserve) {
        // A small buffer: the first piece only, cut to fit.
        m_text->appendCut(line, length);
        m_ended = true;
        return false;
    }
    if (!m_text->append(line, length) || m_text->length() >= m_size - kReserve) m_ended = true;
    return !m_ended;
}

uint32_t CBookInfoText::write(char* out, uint32_t size) {
    CBoundedText text(out, size);
    m_text = &text;
    m_size = size;
    m_ended = size == 0;
    writeTableText();
    m_text = nullptr;
    return static_cast<uint32_t>(text.length());
}

bool CBookInfoText::writeTableText() {
    const int kind = m_reader.kind();
    if (kind == BOOK_KIND_EPWING) {
        if (!piece(true, "[EPWING V%d]", m_reader.epwingVersion())) return false;
    } else if (kind == BOOK_KIND_EB) {
        const char* format = m_reader.isLatin1() ? "[EBG]" : m_reader.infoFlag() ? "[EBXA-C]" : "[EBXA]";
        if (!piece(true, "%s", format)) return false;
    } else if (!piece(true, "%s", "")) {
        return false;
    }
    auto header = [this](int n) { return m_reader.tableHeaderByte(n); };
    CBookFile* bookFile = m_reader.bookFile();
    // Bytes 0-1 of the header hold the item count in native order.
    uint16_t native = 0;
    memcpy(&native, bookFile->header(), sizeof native);
    const bool table = kind == BOOK_KIND_EB || kind == BOOK_KIND_EPWING;
    if (!piece(true, "Number of items\t= %d", table ? native : 0)) return false;
    const unsigned bookType = header(2), protection = header(3), indexInfo = header(4);
    if (!piece(true, "Book type\t= %02XH : %s", bookType, CBookFile::catalogAttributeName(bookType, 1))) return false;
    if (!piece(false, "Protection\t= %02XH : ", protection)) return false;
    for (unsigned bit : {0x01u, 0x02u, 0x04u, 0x08u})
        if (!piece(false, "%s:%s ", CBookFile::catalogAttributeName(static_cast<int>(bit), 2),
                   (protection & bit) ? "none" : "allow"))
            return false;
    if (!piece(true, "%s", "") || !piece(false, "%s", "                   : ")) return false;
    for (unsigned bit : {0x10u, 0x20u, 0x80u})
        if (!piece(false, "%s:%s ", CBookFile::catalogAttributeName(static_cast<int>(bit), 2),
                   (protection & bit) ? "allow" : "none"))
            return false;
    if (!piece(true, "%s", "")) return false;
    static const struct {
        const char* label;
        int byte;
    } kValues[] = {
        {"How to treat the indexing information", 4},
        {"Validity Flag", 5},
        {"How to display search results", 6},
        {"How to display text", 7},
    };
    for (int i = 0; i < 4; ++i) {
        const unsigned v = header(kValues[i].byte);
        if (!piece(true, "%s\t= %02XH : %s", kValues[i].label, v,
                   CBookFile::catalogAttributeName(static_cast<int>(v), i + 3)))
            return false;
    }
    if (!piece(true, "%s", "") || !piece(true, "%s", "[ID] item name                      start  size  kasctygdh"))
        return false;
    if (table) {
        for (INDEX_TABLE_ITEM* item = bookFile->firstEntry(); item; item = bookFile->nextEntry()) {
            if (!piece(false, "[%02X] %-30s %5d %5d  ", item->id, bookFile->indexTypeName(item->id),
                       static_cast<int>(item->start), static_cast<int>(item->blocks)))
                return false;
            if (indexInfo == 2 || item->info[0] == 2) {
                const uint32_t a = static_cast<uint32_t>(byteorder::beN(item->info + 1, 3));
                char letters[10];
                const char* names = "kasctygdh";
                for (int j = 0; j < 9; ++j) {
                    const unsigned field = (a >> (22 - 2 * j)) & 3;
                    letters[j] = field == 0 ? names[j] : field == 1 ? '.' : static_cast<char>(names[j] - 32);
                }
                letters[9] = 0;
                if (!piece(false, "%s", letters)) return false;
            }
            if (!piece(true, "%s", "")) return false;
            if (item->id == 0xFF && !writeMultiSearch(item->start)) return false;
        }
    }
    return piece(true, "%s", "");
}

bool CBookInfoText::writeMultiSearch(uint32_t block) {
    if (!m_reader.seekBlock(block)) return true;
    const unsigned count = m_reader.readWord16();
    uint8_t skip[14];
    m_reader.readBytes(skip, sizeof skip);
    CBookFile* bookFile = m_reader.bookFile();
    for (unsigned d = 0; d < count && !m_reader.readFailed(); ++d) {
        const unsigned subCount = m_reader.readByte();
        m_reader.readByte();
        uint8_t label[30];
        m_reader.readBytes(label, sizeof label);
        if (m_reader.readFailed()) break;
        char sjis[sizeof label + 1];
        size_t n = 0;
        for (size_t i = 0; i < sizeof label; i += 2) {
            if (label[i] == 0 && label[i + 1] == 0) continue;
            unsigned char one[3];
            jisStringToSjis(one, label + i, 2);
            if (!one[0]) continue;
            sjis[n++] = static_cast<char>(one[0]);
            sjis[n++] = static_cast<char>(one[1]);
        }
        sjis[n] = 0;
        if (!piece(true, " <%s>", sjis)) return false;
        for (unsigned s = 0; s < subCount && !m_reader.readFailed(); ++s) {
            uint8_t rec[16];
            m_reader.readBytes(rec, sizeof rec);
            if (m_reader.readFailed()) break;
            const uint32_t start = byteorder::be32(rec + 2), blocks = byteorder::be32(rec + 6);
            if (!piece(true, "  [%02X] %-28s %5d %5d", rec[0], bookFile->indexTypeName(rec[0]), static_cast<int>(start),
                       static_cast<int>(blocks)))
                return false;
        }
    }
    return true;
}
