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
    if (ended_) return false;
    char line[kPieceMax];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) n = 0;
    if (static_cast<size_t>(n) >= sizeof line) n = sizeof line - 1;
    size_t length = static_cast<size_t>(n);
    if (lineEnd) {
        size_t end = strlen(lineEnd_);
        if (length + end < sizeof line) {
            memcpy(line + length, lineEnd_, end);
            length += end;
        }
    }
    if (size_ <= kReserve) {
        // A small buffer: the first piece only, cut to fit.
        text_->appendCut(line, length);
        ended_ = true;
        return false;
    }
    if (!text_->append(line, length) || text_->length() >= size_ - kReserve) ended_ = true;
    return !ended_;
}

uint32_t CBookInfoText::write(char* out, uint32_t size) {
    CBoundedText text(out, size);
    text_ = &text;
    size_ = size;
    ended_ = size == 0;
    writeTableText();
    text_ = nullptr;
    return static_cast<uint32_t>(text.length());
}

bool CBookInfoText::writeTableText() {
    const int kind = reader_.kind();
    if (kind == BOOK_KIND_EPWING) {
        if (!piece(true, "[EPWING V%d]", reader_.epwingVersion())) return false;
    } else if (kind == BOOK_KIND_EB) {
        const char* format = reader_.isLatin1() ? "[EBG]" : reader_.infoFlag() ? "[EBXA-C]" : "[EBXA]";
        if (!piece(true, "%s", format)) return false;
    } else if (!piece(true, "%s", "")) {
        return false;
    }
    auto header = [this](int n) { return reader_.tableHeaderByte(n); };
    CBookFile* bookFile = reader_.bookFile();
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
                const uint32_t a = (static_cast<uint32_t>(item->info[1]) << 16) | (item->info[2] << 8) | item->info[3];
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
    if (!reader_.seekBlock(block)) return true;
    const unsigned count = reader_.readWord16();
    uint8_t skip[14];
    reader_.readBytes(skip, sizeof skip);
    CBookFile* bookFile = reader_.bookFile();
    for (unsigned d = 0; d < count && !reader_.readFailed(); ++d) {
        const unsigned subCount = reader_.readByte();
        reader_.readByte();
        uint8_t label[30];
        reader_.readBytes(label, sizeof label);
        if (reader_.readFailed()) break;
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
        for (unsigned s = 0; s < subCount && !reader_.readFailed(); ++s) {
            uint8_t rec[16];
            reader_.readBytes(rec, sizeof rec);
            if (reader_.readFailed()) break;
            const uint32_t start = byteorder::be32(rec + 2), blocks = byteorder::be32(rec + 6);
            if (!piece(true, "  [%02X] %-28s %5d %5d", rec[0], bookFile->indexTypeName(rec[0]), static_cast<int>(start),
                       static_cast<int>(blocks)))
                return false;
        }
    }
    return true;
}
