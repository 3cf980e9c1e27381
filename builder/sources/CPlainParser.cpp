// Plain text reader.
#include "builder/sources/CPlainParser.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "foundation/FileHandle.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/codes/jclib.h"

namespace {

const size_t kChunkUnits = 4096;

// Appends the Shift_JIS form of units to out. The output buffer of a chunk
// has room for its worst case (a unit becomes at most an 8-byte reference
// "&#x0000;", a surrogate pair a 9-byte one), so nothing is cut.
void appendConverted(CEBBook* book, std::vector<char>* out, const uint32_t* units, size_t count) {
    char buffer[kChunkUnits * 8 + 16];
    if (count == 0) return;
    int n = book->ucsToSjis(buffer, static_cast<int>(sizeof buffer), units, static_cast<int>(count), 0);
    out->insert(out->end(), buffer, buffer + n);
}

// Units of a chunk to convert now, so that a chunk does not end between the
// two halves of a surrogate pair.
size_t chunkOf(const uint32_t* units, size_t count) {
    if (count > 1 && units[count - 1] >= 0xD800 && units[count - 1] <= 0xDBFF) return count - 1;
    return count;
}

}  // namespace

void CPlainParser::parse(CEBBook* book, ConvertOpt*, SOURCE_INFO* source, CBlockStream* body, int addTitle) {
    if (book == nullptr || source == nullptr || body == nullptr) return;
    if (book->getGaiji() != nullptr) body->setGaijiMap(book->getGaiji()->getGaijiMap());

    // The size is taken from the file itself: the one measured when the
    // source was added may be stale.
    uint64_t size = 0;
    FilePtr file = openRegularFile(source->path, &size);
    if (!file) return;
    if (size > kMaxFileSize) throw std::runtime_error("source file too large(CPlainParser)");
    std::vector<char> raw(static_cast<size_t>(size) + 1);
    size_t got = size > 0 ? std::fread(raw.data(), 1, static_cast<size_t>(size), file.get()) : 0;
    file.reset();

    const unsigned char* u = reinterpret_cast<const unsigned char*>(raw.data());
    std::vector<char> converted;
    const char* text = raw.data();
    size_t textLen = got;
    if (got >= 2 && u[0] == 0xFF && u[1] == 0xFE) {
        // UTF-16LE; the mark goes in with the text and is dropped there.
        const size_t units = got / 2;
        uint32_t wide[kChunkUnits];
        size_t done = 0;
        while (done < units) {
            size_t n = units - done < kChunkUnits ? units - done : kChunkUnits;
            for (size_t i = 0; i < n; ++i)
                wide[i] = static_cast<uint32_t>(u[2 * (done + i)] | (u[2 * (done + i) + 1] << 8));
            // A high surrogate at the end of a chunk waits for its pair.
            size_t take = (done + n < units) ? chunkOf(wide, n) : n;
            appendConverted(book, &converted, wide, take);
            done += take;
        }
        text = converted.data();
        textLen = converted.size();
    } else if (got > 0 && ::isUtf8Text(raw.data(), static_cast<int>(got))) {
        uint32_t wide[kChunkUnits];
        size_t done = 0;
        while (done < got) {
            // Whole characters only: a chunk never ends on a lead or
            // continuation byte of an unfinished sequence.
            size_t n = got - done < kChunkUnits / 2 ? got - done : kChunkUnits / 2;
            while (done + n < got && n > 0 && (u[done + n] & 0xC0) == 0x80) --n;
            if (n == 0) n = got - done < 4 ? got - done : 4;
            int units = ::utf8ToWide(raw.data() + done, static_cast<int>(n), wide);
            if (units > 0) appendConverted(book, &converted, wide, static_cast<size_t>(units));
            done += n;
        }
        text = converted.data();
        textLen = converted.size();
    } else if (got > 0) {
        std::string working;
        if (book->sjisToWorking(raw.data(), got, &working)) {
            converted.assign(working.begin(), working.end());
            text = converted.data();
            textLen = converted.size();
        }
    }

    BLOCK_POS start;
    body->tell(&start);
    body->writeCode(0x1F02);
    if (addTitle) {
        size_t titleLen = std::strlen(source->title);
        if (titleLen > 0) {
            const char* t = book->addStringT(source->title, titleLen + 1);
            book->addMenuItem(0, start, t, static_cast<int>(titleLen), nullptr, 0);
        }
    }

    size_t pos = 0;
    while (pos < textLen) {
        CEBBook::checkAbort();
        size_t end = pos;
        while (end < textLen && text[end] != '\r' && text[end] != '\n') ++end;
        if (end > pos) body->writeText(text + pos, static_cast<int>(end - pos), 1, 1);
        body->writeCode(0x1F0A);
        if (end < textLen && text[end] == '\r' && end + 1 < textLen && text[end + 1] == '\n')
            end += 2;
        else if (end < textLen)
            end += 1;
        pos = end;
        book->setProgress(CEBBook::percentOf(static_cast<int64_t>(pos), static_cast<int64_t>(textLen)));
    }
    body->writeCode(0x1F03);
}
