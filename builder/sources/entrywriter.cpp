#include "builder/sources/entrywriter.h"

#include <cstring>
#include <string>
#include <vector>
#include <new>
#include <stdexcept>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "foundation/book/escapecodes.h"
#include "foundation/codes/jclib.h"

namespace {

const int kLineBuffer = 64000;  // UTF-16 units converted at a time

}  // namespace

CSourceLines::CSourceLines(FILE* file, SourceEncoding encoding, CEBBook* book, const char* what)
    : m_file(file), m_encoding(encoding), m_book(book), m_reader(encoding == kSourceUtf16 ? file : nullptr) {
    // Only text that is converted needs the buffers (Shift_JIS lines are
    // read as they are). A chunk of UTF-16 may grow when converted
    // (references for characters without a Shift_JIS form).
    if (encoding == kSourceShiftJis) return;
    m_byteSize = 5 * kLineBuffer + 1;
    m_bytes.reset(new (std::nothrow) char[m_byteSize]);
    m_wide.reset(new (std::nothrow) uint32_t[kLineBuffer + 1]);
    if (!m_bytes || !m_wide) throw std::runtime_error(std::string("memory allocate error!!(") + what + ")");
}

bool CSourceLines::next(std::string* line) {
    line->clear();
    bool got;
    if (m_encoding == kSourceUtf16) {
        got = readUnits(line);
    } else if (m_encoding == kSourceUtf8) {
        got = readBytes(&m_raw);
        if (got) {
            if (m_lineNumber == 0 && m_raw.compare(0, 3, "\xEF\xBB\xBF") == 0) m_raw.erase(0, 3);
            convertUtf8(line);
        }
    } else {
        got = readBytes(line);
        if (got && m_book->sjisToWorking(line->data(), line->size(), &m_raw)) line->swap(m_raw);
    }
    if (got) ++m_lineNumber;
    return got;
}

bool CSourceLines::readBytes(std::string* line) {
    line->clear();
    int c = getc_unlocked(m_file);
    if (c == EOF) return false;
    while (c != EOF) {
        if (c == '\n') break;
        line->push_back(static_cast<char>(c));
        if (line->size() >= kMaxLine) break;
        c = getc_unlocked(m_file);
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

// Converts the units gathered so far and appends them to line. A high
// surrogate at the end waits for its partner.
void CSourceLines::flushUnits(std::string* line, int* count, bool all) {
    int n = *count;
    if (!all && n > 0 && m_wide[n - 1] >= 0xD800 && m_wide[n - 1] <= 0xDBFF) --n;
    if (n > 0) {
        int bytes = m_book->ucsToSjis(m_bytes.get(), m_byteSize, m_wide.get(), n, 0);
        line->append(m_bytes.get(), static_cast<size_t>(bytes));
    }
    for (int i = n; i < *count; ++i) m_wide[i - n] = m_wide[i];
    *count -= n;
}

bool CSourceLines::readUnits(std::string* line) {
    int u = m_reader.readChar();
    if (u < 0) return false;
    int count = 0;
    bool cr = false;
    while (u >= 0 && u != '\n') {
        if (cr) m_wide[count++] = '\r';
        cr = u == '\r';
        if (!cr && u != 0) m_wide[count++] = static_cast<uint32_t>(u);
        if (count >= kLineBuffer - 1) {
            flushUnits(line, &count, false);
            if (line->size() >= kMaxLine) break;
        }
        u = m_reader.readChar();
    }
    flushUnits(line, &count, true);
    return true;
}

// UTF-8 bytes of m_raw to Shift_JIS, in chunks that end on whole characters.
// Malformed bytes become U+FFFD (and so the geta mark), never lost text.
void CSourceLines::convertUtf8(std::string* line) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(m_raw.data());
    const size_t total = m_raw.size();
    size_t done = 0;
    while (done < total) {
        size_t n = total - done < static_cast<size_t>(kLineBuffer) ? total - done : static_cast<size_t>(kLineBuffer);
        while (done + n < total && n > 0 && (u[done + n] & 0xC0) == 0x80) --n;
        if (n == 0) n = total - done < 4 ? total - done : 4;
        int units = ::utf8ToWide(m_raw.data() + done, static_cast<int>(n), m_wide.get());
        if (units < 0) {
            // The line ends inside a sequence: the cut character is replaced.
            m_wide[0] = 0xFFFD;
            units = 1;
        }
        int count = units;
        flushUnits(line, &count, true);
        done += n;
    }
}

size_t sjisCharLength(const std::string& text, size_t i) {
    return (jclib::isSjisLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

size_t findSjis(const std::string& text, const std::string& pattern, size_t from) {
    if (pattern.empty()) return from <= text.size() ? from : std::string::npos;
    for (size_t i = from; i + pattern.size() <= text.size(); i += sjisCharLength(text, i))
        if (text.compare(i, pattern.size(), pattern) == 0) return i;
    return std::string::npos;
}

// The common start of a source: fresh recent-entry ring, gaiji table, text start.
void beginSource(CEBBook* book, CBlockStream* writer) {
    book->clearRecentEntries();
    if (book->getGaiji() != nullptr) writer->setGaijiMap(book->getGaiji()->getGaijiMap());
    writer->writeCode(EB_BEGIN_TEXT);
}

// Registers the headword (and its search key, when one is given) at the
// writer's position. Returns the entry addTitle gave (null when none);
// *stored gets the stored headword and *at the entry's position, which its
// automatic keywords share.
SEARCH_KEY_ENTRY* registerHead(CEBBook* book, CBlockStream* writer, const char* word, int wordLen, const char* key,
                               int keyLen, int sourceNo, const char** stored, BLOCK_POS* at) {
    writer->tell(at);
    const char* h = book->addStringT(word, static_cast<size_t>(wordLen));
    const char* k = h;
    if (key != nullptr && keyLen > 0)
        k = book->addStringT(key, static_cast<size_t>(keyLen));
    else
        keyLen = wordLen;
    *stored = h;
    return book->addTitle(h, wordLen, k, keyLen, *at, sourceNo, 1, 1);
}

// The markup around the headword of an entry head: indent and keyword start
// before it, keyword end and the break to the body after it.
void beginHeadKeyword(CBlockStream* writer) {
    writer->writeCode(EB_INDENT);
    writer->writeWord16(1);
    writer->writeCode(EB_BEGIN_KEYWORD);
    writer->writeWord16(EB_KEYWORD_OPERAND);
}

void endHeadKeyword(CBlockStream* writer, const ConvertOpt* opt) {
    writer->writeCode(EB_END_KEYWORD);
    if (!opt->singleLine) {
        writer->writeCode(EB_NEWLINE);
        writer->writeCode(EB_INDENT);
        const int margin = opt->leftMargin < 0                ? 0
                           : opt->leftMargin > kMaxLeftMargin ? kMaxLeftMargin
                                                              : opt->leftMargin;
        writer->writeWord16(static_cast<unsigned>(margin + 1));
    } else {
        writer->writeText(" ", 1, 1, 0);
    }
}

// Registers the headword at the writer's position and writes the entry head.
// Returns the entry addTitle gave (null when none) and the stored headword.
// *at gets the entry's position, which its automatic keywords share.
SEARCH_KEY_ENTRY* writeEntryHead(CEBBook* book, ConvertOpt* opt, CBlockStream* writer, const char* word, int wordLen,
                                 const char* key, int keyLen, int sourceNo, const char** stored, BLOCK_POS* at) {
    SEARCH_KEY_ENTRY* e = registerHead(book, writer, word, wordLen, key, keyLen, sourceNo, stored, at);
    beginHeadKeyword(writer);
    writer->writeText(word, wordLen, 1, 0);
    endHeadKeyword(writer, opt);
    return e;
}

// Automatic keywords of an entry's body (complex-search patterns come with
// the complex search).
void bodyRun(CEBBook* book, SEARCH_KEY_ENTRY* entry, const char* heading, int headingLen, const char* text, int len,
             const BLOCK_POS& pos, int sourceNo) {
    if (entry != nullptr && len > 0) book->autoIndexText(text, len, heading, headingLen, pos, sourceNo);
}

// Reports the progress of a source after an entry (100 is left for its end)
// and gives a cancel its chance.
void entryProgress(CEBBook* book, int64_t done, int64_t total, int* progress) {
    int p = CEBBook::percentOf(done, total);
    if (p <= 99) {
        *progress = p;
        book->setProgress(p);
    }
    CEBBook::checkAbort();
}

void endEntry(CEBBook* book, CBlockStream* writer, int64_t done, int64_t total, int* progress) {
    writer->writeCode(EB_NEWLINE);
    entryProgress(book, done, total, progress);
}

// The common end of a source: progress full, text end.
void endSource(CEBBook* book, CBlockStream* writer, int* progress) {
    *progress = 100;
    book->setProgress(100);
    writer->writeCode(EB_END_TEXT);
}

// Opens a text source: null when it does not open or has fewer than two
// bytes; *utf16 tells the form.
FILE* openText(const char* path, bool* utf16) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return nullptr;
    unsigned char mark[2];
    if (std::fread(mark, 1, 2, f) != 2) {
        std::fclose(f);
        return nullptr;
    }
    *utf16 = mark[0] == 0xFF && mark[1] == 0xFE;
    std::rewind(f);
    return f;
}

bool holdsUtf8Text(FILE* f) {
    // Read a piece at a time (its size does not change the answer): small
    // enough that a small source does not pay for a large buffer.
    std::vector<char> chunk(1 << 16);
    std::string data;  // a sequence cut by the end of a chunk, then the next chunk
    bool beyondAscii = false;
    bool wellFormed = true;
    size_t got;
    while (wellFormed && (got = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
        data.append(chunk.data(), got);
        // Whole characters only: a sequence cut by the chunk waits.
        size_t cut = data.size();
        size_t k = data.size();
        for (int back = 0; k > 0 && back < 3 && (static_cast<unsigned char>(data[k - 1]) & 0xC0) == 0x80; ++back) --k;
        if (k > 0) {
            const unsigned char lead = static_cast<unsigned char>(data[k - 1]);
            const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (need > data.size() - (k - 1)) cut = k - 1;
        }
        for (size_t i = 0; i < cut && !beyondAscii; ++i)
            if (static_cast<unsigned char>(data[i]) >= 0x80) beyondAscii = true;
        wellFormed = isUtf8Text(data.data(), static_cast<int>(cut)) != 0;
        data.erase(0, cut);
    }
    // What is left at the end is a sequence the file cuts off.
    if (!data.empty()) wellFormed = false;
    std::rewind(f);
    return wellFormed && beyondAscii;
}

SourceEncoding textEncoding(FILE* f) {
    unsigned char mark[3] = {0, 0, 0};
    const size_t marked = std::fread(mark, 1, 3, f);
    std::rewind(f);
    if (marked >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) return kSourceUtf16;
    if (marked == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) return kSourceUtf8;
    return holdsUtf8Text(f) ? kSourceUtf8 : kSourceShiftJis;
}

// The start of a text source: the common start, then the file opened. When
// it does not open, the text is ended at once and null returned.
FILE* beginTextSource(CEBBook* book, CBlockStream* writer, const char* path, bool* utf16) {
    beginSource(book, writer);
    FILE* f = openText(path, utf16);
    if (f == nullptr) writer->writeCode(EB_END_TEXT);
    return f;
}

int64_t filePos(FILE* f) {
    long p = std::ftell(f);
    return p < 0 ? 0 : static_cast<int64_t>(p);
}

// One entry of a text source: the head, the body (when there is one) with its
// automatic keywords, the entry end with the progress read from the file.
void writeTextEntry(CEBBook* book, ConvertOpt* opt, CBlockStream* writer, const char* word, int wordLen,
                    const std::string& body, int sourceNo, FILE* file, int64_t fileSize, int* progress) {
    const char* stored = nullptr;
    BLOCK_POS pos;
    SEARCH_KEY_ENTRY* e = writeEntryHead(book, opt, writer, word, wordLen, nullptr, 0, sourceNo, &stored, &pos);
    if (!body.empty()) {
        writer->writeText(body.data(), static_cast<int>(body.size()), 1, 1);
        bodyRun(book, e, stored, wordLen, body.data(), static_cast<int>(body.size()), pos, sourceNo);
    }
    endEntry(book, writer, filePos(file), fileSize, progress);
}
