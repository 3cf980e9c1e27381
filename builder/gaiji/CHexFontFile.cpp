// Reader of hex bitmap fonts.
#include "builder/gaiji/CHexFontFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "builder/gaiji/CGaiji.h"
#include "foundation/FileHandle.h"

namespace {

// Bytes of a line that count; the rest of a longer line is ignored.
const size_t kLineLimit = 1023;
// Offsets into the file are 32-bit.
const size_t kMaxFile = 0x7FFFFFFF;

// Value of a hexadecimal digit, -1 for any other byte.
int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<unsigned char>(c | 0x20);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The next line of bytes from *at: [*begin, *end) cut to the line limit;
// false when nothing is left.
bool nextLine(const std::string& bytes, size_t* at, size_t* begin, size_t* end) {
    if (*at >= bytes.size()) return false;
    *begin = *at;
    const void* nl = std::memchr(bytes.data() + *at, '\n', bytes.size() - *at);
    size_t stop = nl ? static_cast<size_t>(static_cast<const char*>(nl) - bytes.data()) : bytes.size();
    *at = nl ? stop + 1 : stop;
    *end = std::min(stop, *begin + kLineLimit);
    return true;
}

// Reads the whole file at path into *bytes; false when it cannot be opened.
// Throws std::bad_alloc when memory runs out or the file is too large.
bool readFile(const char* path, std::string* bytes) {
    if (path == nullptr) return false;
    FilePtr f(std::fopen(path, "r"));
    if (!f) return false;
    // Room for the whole file at once (its size when it has one), then
    // whatever more there is.
    struct stat st;
    size_t room = 65536;
    if (fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        room = static_cast<size_t>(std::min<off_t>(st.st_size, static_cast<off_t>(kMaxFile))) + 1;
    size_t used = 0;
    for (;;) {
        bytes->resize(used + room);
        const size_t got = std::fread(&(*bytes)[used], 1, room, f.get());
        used += got;
        if (got < room) break;
        if (used > kMaxFile) throw std::bad_alloc();
        room = used;
    }
    bytes->resize(used);
    return true;
}

}  // namespace

std::shared_ptr<const CHexFontFile> CHexFontFile::read(const char* path) {
    std::string bytes;
    try {
        if (readFile(path, &bytes)) return parse(std::move(bytes));
    } catch (const std::bad_alloc&) {
    }
    return std::shared_ptr<const CHexFontFile>(new CHexFontFile);
}

std::shared_ptr<const CHexFontFile> CHexFontFile::parse(std::string bytes) {
    std::shared_ptr<CHexFontFile> font(new CHexFontFile);
    try {
        if (bytes.size() > kMaxFile) return font;
        font->m_bytes = std::move(bytes);
        size_t at = 0;
        font->readHeader(font->m_bytes, &at);
        if (font->m_hexIndex >= 0) font->indexGlyphs(at);
    } catch (const std::bad_alloc&) {
        font->m_status = kFailed;
        font->m_hexIndex = -1;
        font->m_glyphs.clear();
        font->m_bytes.clear();
    }
    return font;
}

std::shared_ptr<const CHexFontFile> CHexFontFile::open(const char* path) {
    std::shared_ptr<CHexFontFile> font(new CHexFontFile);
    try {
        FilePtr f(path != nullptr ? std::fopen(path, "r") : nullptr);
        if (!f) return font;
        std::string first;
        int c;
        while ((c = std::fgetc(f.get())) != EOF && c != '\n')
            if (first.size() < kLineLimit) first.push_back(static_cast<char>(c));
        size_t at = 0;
        font->readHeader(first, &at);
        if (font->m_hexIndex >= 0) font->m_path = path;
    } catch (const std::bad_alloc&) {
        font->m_status = kFailed;
        font->m_hexIndex = -1;
    }
    return font;
}

void CHexFontFile::loadGlyphs() const {
    if (m_path.empty()) return;
    std::call_once(m_loaded, [this] {
        CHexFontFile* self = const_cast<CHexFontFile*>(this);
        try {
            std::string bytes;
            if (!readFile(m_path.c_str(), &bytes)) return;
            CHexFontFile now;
            size_t at = 0;
            now.readHeader(bytes, &at);
            // A file changed to another size since it was opened has no glyphs.
            if (now.m_hexIndex != m_hexIndex) return;
            self->m_bytes = std::move(bytes);
            self->indexGlyphs(at);
        } catch (const std::bad_alloc&) {
            self->m_glyphs.clear();
            self->m_bytes.clear();
        }
    });
}

CHexFontFile::Status CHexFontFile::status() const {
    loadGlyphs();
    return m_status;
}

size_t CHexFontFile::glyphCount() const {
    loadGlyphs();
    return m_glyphs.size();
}

uint32_t CHexFontFile::codePointAt(size_t i) const {
    loadGlyphs();
    return m_glyphs[i].codePoint;
}

bool CHexFontFile::has(uint32_t codePoint) const {
    return find(codePoint) != nullptr;
}

void CHexFontFile::readHeader(const std::string& b, size_t* at) {
    size_t begin, end;
    m_status = kNoSize;
    m_hexIndex = -1;
    if (!nextLine(b, at, &begin, &end)) return;
    // A UTF-8 byte-order mark is not part of the width.
    if (end - begin >= 3 && b.compare(begin, 3, "\xEF\xBB\xBF") == 0) begin += 3;
    // Width and height, separated by blanks.
    int values[2];
    int found = 0;
    size_t i = begin;
    auto blank = [&](size_t k) { return b[k] == ' ' || b[k] == '\r' || b[k] == '\n'; };
    while (found < 2 && i < end) {
        while (i < end && blank(i)) ++i;
        if (i >= end) break;
        size_t j = i;
        while (j < end && !blank(j)) ++j;
        values[found++] = std::atoi(b.substr(i, j - i).c_str());
        i = j;
    }
    if (found < 2) return;
    m_status = kFailed;
    int w = values[0], h = values[1];
    if (w <= 0 || h <= 0) return;
    int wc = w <= 8 ? 8 : w <= 12 ? 12 : w <= 16 ? 16 : w <= 24 ? 24 : w <= 32 ? 32 : 48;
    int hc = h <= 16 ? 16 : h <= 24 ? 24 : h <= 32 ? 30 : 48;
    if (hc == 30)
        w = wc < 32 ? 16 : wc;
    else if (wc < hc)
        w = hc / 2;
    else
        w = wc;
    h = hc;
    int size;
    if (w == 8 && h == 16)
        size = GAIJI_8X16;
    else if (w == 16 && h == 16)
        size = GAIJI_16X16;
    else if (w == 12 && h == 24)
        size = GAIJI_12X24;
    else if (w == 24 && h == 24)
        size = GAIJI_24X24;
    else
        return;
    m_hexIndex = CGaiji::hexIndex(size);
    m_pixels = w * h;
    m_status = kRead;
}

void CHexFontFile::indexGlyphs(size_t at) {
    const std::string& b = m_bytes;
    size_t begin, end;
    m_status = kRead;
    // Glyph lines are some tens of bytes each.
    m_glyphs.reserve((b.size() - std::min(at, b.size())) / 32);
    uint32_t order = 0;
    while (nextLine(b, &at, &begin, &end)) {
        const void* c = std::memchr(b.data() + begin, ':', end - begin);
        if (c == nullptr) {
            m_status = kEndedEarly;
            break;
        }
        const size_t colon = static_cast<size_t>(static_cast<const char*>(c) - b.data());
        size_t k = begin;
        while (k < colon && (b[k] == ' ' || b[k] == '\t')) ++k;
        uint32_t cp = 0;
        int digits = 0;
        bool tooLong = false;
        for (int d; k < colon && (d = hexValue(static_cast<unsigned char>(b[k]))) >= 0; ++k, ++digits) {
            if (cp > 0x0FFFFFFF) tooLong = true;
            cp = cp * 16 + static_cast<uint32_t>(d);
        }
        if (digits == 0) {
            m_status = kEndedEarly;
            break;
        }
        if (tooLong) continue;
        m_glyphs.push_back(Glyph{cp, static_cast<uint32_t>(colon + 1), static_cast<uint32_t>(end - colon - 1), order++});
    }
    // One glyph per code point, the first line winning.
    std::sort(m_glyphs.begin(), m_glyphs.end(), [](const Glyph& x, const Glyph& y) {
        return x.codePoint != y.codePoint ? x.codePoint < y.codePoint : x.order < y.order;
    });
    m_glyphs.erase(std::unique(m_glyphs.begin(), m_glyphs.end(),
                               [](const Glyph& x, const Glyph& y) { return x.codePoint == y.codePoint; }),
                   m_glyphs.end());
    m_glyphs.shrink_to_fit();
}

const CHexFontFile::Glyph* CHexFontFile::find(uint32_t codePoint) const {
    loadGlyphs();
    auto it = std::lower_bound(m_glyphs.begin(), m_glyphs.end(), codePoint,
                               [](const Glyph& g, uint32_t cp) { return g.codePoint < cp; });
    return it != m_glyphs.end() && it->codePoint == codePoint ? &*it : nullptr;
}

bool CHexFontFile::bitmap(uint32_t codePoint, std::string* out) const {
    const Glyph* g = find(codePoint);
    if (g == nullptr) return false;
    out->assign(static_cast<size_t>(m_pixels), ' ');
    // Pairs of hexadecimal digits, 8 pixels each, most significant bit first,
    // row after row; a pair that is not two digits ends the bitmap.
    const char* t = m_bytes.data() + g->text;
    int pixel = 0;
    for (size_t j = 0; j + 1 < g->length && pixel < m_pixels; j += 2) {
        const int hi = hexValue(static_cast<unsigned char>(t[j])), lo = hexValue(static_cast<unsigned char>(t[j + 1]));
        if (hi < 0 || lo < 0) break;
        const int byte = hi * 16 + lo;
        for (int bit = 7; bit >= 0 && pixel < m_pixels; --bit, ++pixel)
            if (byte & (1 << bit)) (*out)[static_cast<size_t>(pixel)] = '#';
    }
    return true;
}
