#include "builder/sources/sourcetext.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "builder/sources/CUTF16Reader.h"
#include "foundation/codes/jclib.h"

// jclib keeps some functions outside its namespace; this finds them either way.
using namespace jclib;

namespace {

// The reader behind the free functions (their interface names no reader).
CUTF16Reader& theReader() {
    static CUTF16Reader reader;
    return reader;
}

// The file the reader was started on, as the system knows it, so that a new
// file that got the same FILE* is told apart even at the same position.
struct FileIdentity {
    bool known = false;
    dev_t dev = 0;
    ino_t ino = 0;
};

FileIdentity identityOf(FILE* file) {
    FileIdentity id;
    struct stat st;
    int fd = file != nullptr ? fileno(file) : -1;
    if (fd >= 0 && fstat(fd, &st) == 0) {
        id.known = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
    }
    return id;
}

// The reader for file: started afresh for another stream, or for the same
// stream when it has moved since the last read (a rewind, a seek by the
// caller) or now reads another file (a new file that got the same FILE*).
CUTF16Reader& readerFor(FILE* file) {
    static FileIdentity current;
    CUTF16Reader& reader = theReader();
    const FileIdentity id = identityOf(file);
    const bool otherFile = id.known != current.known || id.dev != current.dev || id.ino != current.ino;
    if (reader.file() != file || otherFile ||
        (file != nullptr && reader.position() >= 0 && std::ftell(file) != reader.position())) {
        reader.attach(file);
        current = id;
    }
    return reader;
}

inline int charLength(const unsigned char* p, int remaining) {
    return (remaining >= 2 && jclib::isSjisLead(p[0])) ? 2 : 1;
}

// ch (one or two bytes, len) is one of the characters of the zero-terminated
// Shift_JIS string set.
bool inSet(const unsigned char* ch, int len, const unsigned char* set) {
    size_t remaining = std::strlen(reinterpret_cast<const char*>(set));
    const unsigned char* p = set;
    while (remaining > 0) {
        int l = charLength(p, static_cast<int>(remaining));
        if (l == len && std::memcmp(p, ch, static_cast<size_t>(len)) == 0) return true;
        p += l;
        remaining -= static_cast<size_t>(l);
    }
    return false;
}

// The first character of text[0..length) (walked a Shift_JIS character at a
// time) for which matches(character, its byte length) holds, or null.
template <class Match>
const unsigned char* findCharWhere(const unsigned char* text, int length, Match matches) {
    int i = 0;
    while (i < length) {
        int l = charLength(text + i, length - i);
        if (matches(text + i, l)) return text + i;
        i += l;
    }
    return nullptr;
}

const int kFullWidthWork = 584;

}  // namespace

int readUTF16Char(FILE* file) {
    return readerFor(file).readChar();
}

void ungetUTF16Char(int unit) {
    theReader().unget(unit);
}

int* readUTF16Line(int* buffer, int size, FILE* file) {
    return readerFor(file).readLine(buffer, size);
}

const char* findByteSJIS(const char* text, int ch, int length) {
    if (text == nullptr) return nullptr;
    const unsigned char want = static_cast<unsigned char>(ch);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* hit = findCharWhere(p, length, [want](const unsigned char* c, int) { return c[0] == want; });
    return hit ? text + (hit - p) : nullptr;
}

const unsigned char* findCharSJIS(const unsigned char* text, const unsigned char* ch2, int length) {
    if (text == nullptr || ch2 == nullptr) return nullptr;
    const unsigned char* end = text + length;
    return findCharWhere(text, length, [ch2, end](const unsigned char* c, int) {
        unsigned char second = c + 1 < end ? c[1] : 0;
        return c[0] == ch2[0] && second == ch2[1];
    });
}

const unsigned char* findAnyOfSJIS(const unsigned char* text, const unsigned char* set, int length) {
    if (text == nullptr || set == nullptr) return nullptr;
    return findCharWhere(text, length, [set](const unsigned char* c, int l) { return inSet(c, l, set); });
}

int toFullWidthSJIS(unsigned char* out, const unsigned char* in, int length, int outSize) {
    if (out == nullptr || outSize <= 0) return 0;
    int n = 0;
    int i = 0;
    while (in != nullptr && i < length && n + 2 <= outSize - 1) {
        unsigned int c = in[i];
        unsigned int unit;
        if (i + 1 < length && jclib::isSjisLead(c)) {
            unit = (c << 8) | in[i + 1];
            i += 2;
        } else {
            if (std::isprint(static_cast<int>(c)))
                unit = jclib::hankakuToZenkaku(static_cast<unsigned int>(std::toupper(static_cast<int>(c))));
            else
                unit = c;
            i += 1;
        }
        out[n++] = static_cast<unsigned char>(unit >> 8);
        out[n++] = static_cast<unsigned char>(unit & 0xFF);
    }
    out[n] = 0;
    return n;
}

int toFullWidthSJIS(unsigned char* out, const unsigned char* in, int length) {
    return toFullWidthSJIS(out, in, length, length > 0 ? 2 * length + 1 : 1);
}

int toFullWidthJIS(unsigned char* out, const unsigned char* in, int length, int outSize) {
    unsigned char work[kFullWidthWork];
    int n = toFullWidthSJIS(work, in, length, kFullWidthWork);
    if (out != nullptr && outSize > 0) {
        int textLen = static_cast<int>(std::strlen(reinterpret_cast<const char*>(work)));
        sjisStringToJis(out, static_cast<size_t>(outSize), work, textLen);
    }
    return n;
}

int toFullWidthJIS(unsigned char* out, const unsigned char* in, int length) {
    return toFullWidthJIS(out, in, length, kFullWidthWork);
}
