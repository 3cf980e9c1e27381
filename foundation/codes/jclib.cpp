// Japanese character codes and the Shift_JIS string helpers.
#include "foundation/codes/jclib.h"

#include <algorithm>
#include <cstring>

namespace {

#include "foundation/codes/jis_tables.inc"
#include "foundation/codes/windows_sjis_tables.inc"

constexpr unsigned int kGetaSjis = 0x81AC;
constexpr unsigned int kGetaJis = 0x222E;
constexpr uint32_t kReplacement = 0xFFFD;

inline bool isHalfKana(unsigned int b) {
    return b >= 0xA1 && b <= 0xDF;
}

// JIS X 0208 rows 9-15 and 85-94 are empty in the standard; row 13 holds
// NEC special characters in vendor tables, which are not ours.
uint32_t lookupJis(unsigned int jis) {
    if (!jclib::isJisCode(jis)) return 0;
    return kJisToUcs[((jis >> 8) - 0x21) * 94 + ((jis & 0xFF) - 0x21)];
}

// The entry of a table sorted by its key field whose key equals key, or null.
template <class Entry, size_t N, class Key>
const Entry* findSorted(const Entry (&table)[N], uint16_t Entry::*field, Key key) {
    const Entry* end = table + N;
    const Entry* e = std::lower_bound(table, end, key, [field](const Entry& x, Key k) { return x.*field < k; });
    return e != end && e->*field == key ? e : nullptr;
}

unsigned int lookupUcs(uint32_t cp) {
    if (cp > 0xFFFF) return 0;
    const UcsJis* e = findSorted(kUcsToJis, &UcsJis::ucs, cp);
    return e ? e->jis : 0;
}

// Encodes one code point as UTF-8 into out (when not null); returns 1-4.
int putUtf8(uint32_t cp, char* out) {
    unsigned char b[4];
    int n;
    if (cp < 0x80) {
        b[0] = static_cast<unsigned char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        b[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        b[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        b[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        b[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        b[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        b[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        b[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        b[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        b[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 4;
    }
    if (out) std::memcpy(out, b, static_cast<size_t>(n));
    return n;
}

// Result of decoding one UTF-8 sequence.
enum class Utf8Step { Ok, Bad, Truncated };

// Decodes the sequence at in[0..len). On Ok, *cp and *used are set; on Bad,
// *used is 1 (the bad byte); on Truncated the text ends inside a sequence.
Utf8Step nextUtf8(const unsigned char* in, int len, uint32_t* cp, int* used) {
    unsigned int b = in[0];
    *used = 1;
    if (b < 0x80) {
        *cp = b;
        return Utf8Step::Ok;
    }
    int need;
    uint32_t v;
    uint32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        v = b & 0x1F;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        v = b & 0x0F;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        v = b & 0x07;
        min = 0x10000;
    } else
        return Utf8Step::Bad;  // stray continuation byte, C0/C1, F5-FF
    for (int i = 1; i <= need; ++i) {
        if (i >= len) return Utf8Step::Truncated;
        unsigned int c = in[i];
        if ((c & 0xC0) != 0x80) return Utf8Step::Bad;
        v = (v << 6) | (c & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return Utf8Step::Bad;
    *cp = v;
    *used = need + 1;
    return Utf8Step::Ok;
}

// Bounded byte writer: whole characters only, room kept for the final zero.
class ByteSink {
public:
    ByteSink(unsigned char* out, size_t size) : m_out(out), m_size(size) {}
    bool put(const unsigned char* b, size_t n) {
        if (m_size == 0 || n > m_size - 1 - m_len) {
            m_full = true;
            return false;
        }
        std::memcpy(m_out + m_len, b, n);
        m_len += n;
        return true;
    }
    bool put1(unsigned int b) {
        unsigned char c = static_cast<unsigned char>(b);
        return put(&c, 1);
    }
    bool put2(unsigned int code) {
        unsigned char c[2] = {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)};
        return put(c, 2);
    }
    bool full() const { return m_full; }
    size_t room() const { return m_size == 0 ? 0 : m_size - 1 - m_len; }
    int finish() {
        if (m_size > 0) m_out[m_len] = 0;
        return static_cast<int>(m_len);
    }

private:
    unsigned char* m_out;
    size_t m_size;
    size_t m_len = 0;
    bool m_full = false;
};

// One Shift_JIS character read from text: a single byte (code < 0x100), a
// two-byte code, or a malformed lead byte (bad = true, one byte consumed).
struct SjisChar {
    unsigned int code;
    int length;
    bool bad;
};

SjisChar nextSjis(const unsigned char* in, int remaining) {
    unsigned int b = in[0];
    if (!jclib::isSjisLead(b)) return {b, 1, false};
    if (remaining >= 2 && jclib::isSjisTrail(in[1])) return {(b << 8) | in[1], 2, false};
    return {b, 1, true};
}

// JIS X 0208 code of a Shift_JIS character, 0 when it has none.
unsigned int sjisCharToJis(const SjisChar& c) {
    if (c.bad) return 0;
    if (c.length == 2) {
        if (c.code >= 0xF040) return 0;  // user-defined area
        return jclib::sjisToJis(c.code);
    }
    unsigned int z = jclib::hankakuToZenkaku(c.code);
    return z > 0xFF ? jclib::sjisToJis(z) : 0;
}

// Length of the input up to len bytes or the first zero byte.
int boundedLength(const unsigned char* in, int len) {
    if (!in || len <= 0) return 0;
    const void* z = std::memchr(in, 0, static_cast<size_t>(len));
    return z ? static_cast<int>(static_cast<const unsigned char*>(z) - in) : len;
}

const unsigned char* asBytes(const char* p) {
    return reinterpret_cast<const unsigned char*>(p);
}

char* savedToken = nullptr;

// Is the character at p (of length n) one of the delimiters?
bool isDelimiter(const unsigned char* p, int n, const unsigned char* delims) {
    for (const unsigned char* d = delims; *d;) {
        int dn = (jclib::isSjisLead(d[0]) && d[1] && jclib::isSjisTrail(d[1])) ? 2 : 1;
        if (dn == n && std::memcmp(d, p, static_cast<size_t>(n)) == 0) return true;
        d += dn;
    }
    return false;
}

// Byte length of the zero-terminated Shift_JIS character at p.
int charLengthZ(const unsigned char* p) {
    return (jclib::isSjisLead(p[0]) && p[1] && jclib::isSjisTrail(p[1])) ? 2 : 1;
}

// UTF-8 -> 16- or 32-bit units, code points above U+FFFF as surrogate
// pairs; out may be null to count. The units, or -1 when the text ends
// inside a sequence; a bad byte gives U+FFFD.
template <class Unit>
int utf8ToUnits(const char* in, int len, Unit* out) {
    const unsigned char* p = asBytes(in);
    int n = 0;
    for (int i = 0; p && i < len;) {
        uint32_t cp;
        int used;
        Utf8Step st = nextUtf8(p + i, len - i, &cp, &used);
        if (st == Utf8Step::Truncated) return -1;
        if (st == Utf8Step::Bad) cp = kReplacement;
        i += used;
        if (cp >= 0x10000) {
            if (out) {
                out[n] = static_cast<Unit>(0xD800 + ((cp - 0x10000) >> 10));
                out[n + 1] = static_cast<Unit>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
            n += 2;
        } else {
            if (out) out[n] = static_cast<Unit>(cp);
            n += 1;
        }
    }
    return n;
}

}  // namespace

namespace jclib {

unsigned int jisToSjis(unsigned int jis) {
    unsigned int h = (jis >> 8) & 0xFF, l = jis & 0xFF;
    if (h & 1)
        l += (l <= 0x5F) ? 0x1F : 0x20;
    else
        l += 0x7E;
    h = ((h + 1) >> 1) + (h <= 0x5E ? 0x70 : 0xB0);
    return ((h << 8) | l) & 0xFFFF;
}

unsigned int sjisToJis(unsigned int sjis) {
    sjis &= 0xFFFF;
    if (sjis >= 0xE000) sjis -= 0x4000;
    unsigned int h = sjis >> 8, l = sjis & 0xFF;
    h = (h - 0x81) * 2 + 0x21;
    if (l >= 0x9F) {
        h += 1;
        l -= 0x7E;
    } else {
        if (l >= 0x80) l -= 1;
        l -= 0x1F;
    }
    return ((h << 8) | l) & 0xFFFF;
}

unsigned int hankakuToZenkaku(unsigned int code) {
    return code <= 0xFF ? kHankakuToZenkaku[code] : code;
}

unsigned int zenkakuToHankaku(unsigned int sjis) {
    const SjisAscii* e = findSorted(kZenkakuToHankaku, &SjisAscii::sjis, sjis);
    return e ? e->ascii : sjis;
}

const char* mbschr(const char* text, unsigned int ch) {
    if (!text || ch == 0) return nullptr;
    const unsigned char* p = asBytes(text);
    while (*p) {
        int n = charLengthZ(p);
        unsigned int c = n == 2 ? ((unsigned int)p[0] << 8) | p[1] : p[0];
        if (c == ch) return reinterpret_cast<const char*>(p);
        p += n;
    }
    return nullptr;
}

char* mbschr(char* text, unsigned int ch) {
    return const_cast<char*>(mbschr(static_cast<const char*>(text), ch));
}

char* mbstok(char* text, const char* delims) {
    unsigned char* p = reinterpret_cast<unsigned char*>(text ? text : savedToken);
    if (!p) return nullptr;
    const unsigned char* d = asBytes(delims ? delims : "");
    while (*p && isDelimiter(p, charLengthZ(p), d)) p += charLengthZ(p);
    if (!*p) {
        savedToken = nullptr;
        return nullptr;
    }
    unsigned char* start = p;
    while (*p) {
        int n = charLengthZ(p);
        if (isDelimiter(p, n, d)) {
            // Clear the whole delimiter so no stray trail byte stays behind.
            for (int i = 0; i < n; ++i) p[i] = 0;
            savedToken = reinterpret_cast<char*>(p + n);
            return reinterpret_cast<char*>(start);
        }
        p += n;
    }
    savedToken = nullptr;
    return reinterpret_cast<char*>(start);
}

int u16nicmp(const uint16_t* a, const uint16_t* b, size_t n) {
    int diff = 0;
    for (size_t i = 0; i < n; ++i) {
        int ca = a[i], cb = b[i];
        if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
        diff = ca - cb;
        if (diff != 0 || a[i] == 0) break;
    }
    return diff;
}

size_t u16len(const uint16_t* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

int utf16ToUtf8(const uint16_t* in, int count, char* out) {
    int n = 0;
    for (int i = 0; in && i < count; ++i) n += putUtf8(in[i], out ? out + n : nullptr);
    return n;
}

int utf8ToUtf16(const char* in, int len, uint16_t* out) {
    return utf8ToUnits(in, len, out);
}

}  // namespace jclib

int sjisCharClass(const unsigned char* p) {
    unsigned int b = p[0];
    if (jclib::isSjisLead(b) && jclib::isSjisTrail(p[1])) {
        unsigned int c = (b << 8) | p[1];
        if (c == 0x8140) return 5;
        if (c >= 0x829F && c <= 0x82F1) return 13;
        if ((c >= 0x8340 && c <= 0x8396) || c == 0x815B || c == 0x8145) return 14;
        if ((c >= 0x824F && c <= 0x8258) || (c >= 0x8260 && c <= 0x8279) || (c >= 0x8281 && c <= 0x829A)) return 15;
        if ((c >= 0x889F && c <= 0x9FFC) || (c >= 0xE040 && c <= 0xEFFC) || c == 0x81AC || c == 0x8158) return 16;
        if (c >= 0x8141 && c <= 0x8144) return 17;
        if (c >= 0x8169 && c <= 0x817A) return 18;
        return 8;
    }
    if (b == ' ') return 6;
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_') return 15;
    return 12;
}

int sjisCharLength(const unsigned char* p, int len) {
    if (!p || len <= 0) return 0;
    return (len >= 2 && jclib::isSjisLead(p[0]) && jclib::isSjisTrail(p[1])) ? 2 : 1;
}

void jisStringToSjis(unsigned char* out, const unsigned char* in, int len) {
    int o = 0;
    for (int i = 0; in && i + 1 < len; i += 2) {
        unsigned int h = in[i], l = in[i + 1];
        if (h == 0 || l == 0) break;
        unsigned int code = (h << 8) | l;
        if (jclib::isJisCode(code)) {
            code = jclib::jisToSjis(code);
        } else if (!(h >= 0x20 && h <= 0x7E && l >= 0x20 && l <= 0x7E)) {
            code = kGetaSjis;
        }
        out[o++] = static_cast<unsigned char>(code >> 8);
        out[o++] = static_cast<unsigned char>(code);
    }
    out[o] = 0;
}

int sjisStringToJis(unsigned char* out, size_t outSize, const unsigned char* in, int len) {
    ByteSink sink(out, outSize);
    len = boundedLength(in, len);
    for (int i = 0; i < len;) {
        SjisChar c = nextSjis(in + i, len - i);
        unsigned int jis = sjisCharToJis(c);
        if (!sink.put2(jis ? jis : kGetaJis)) break;
        i += c.length;
    }
    return sink.finish();
}

unsigned int unicodeToSjis(uint32_t cp) {
    if (cp < 0x80) return cp;
    if (cp >= 0xFF61 && cp <= 0xFF9F) return cp - 0xFF61 + 0xA1;
    unsigned int jis = lookupUcs(cp);
    return jis ? jclib::jisToSjis(jis) : 0;
}

uint32_t sjisToUnicode(unsigned int sjis) {
    if (sjis < 0x80) return sjis;
    if (isHalfKana(sjis)) return sjis - 0xA1 + 0xFF61;
    if (!jclib::isSjisCode(sjis) || sjis >= 0xF040) return 0;
    return lookupJis(jclib::sjisToJis(sjis));
}

uint32_t windowsSjisToUnicode(unsigned int sjis) {
    if (!jclib::isSjisCode(sjis)) return 0;
    struct Range {
        const uint16_t* table;
        unsigned int first;
        size_t count;
    };
    static const Range kRanges[] = {
        {kNecRow13, kNecRow13First, sizeof kNecRow13 / sizeof kNecRow13[0]},
        {kNecSelected, kNecSelectedFirst, sizeof kNecSelected / sizeof kNecSelected[0]},
        {kIbmExtension, kIbmExtensionFirst, sizeof kIbmExtension / sizeof kIbmExtension[0]},
    };
    for (const Range& r : kRanges)
        if (sjis >= r.first && sjis - r.first < r.count) return r.table[sjis - r.first];
    if (sjis >= 0xF040 && sjis <= 0xF9FC) {
        // The user-defined area: 188 codes a lead byte, in order, from U+E000.
        const unsigned int trail = sjis & 0xFF;
        return 0xE000 + ((sjis >> 8) - 0xF0) * 188 + (trail - 0x40) - (trail > 0x7F ? 1 : 0);
    }
    return 0;
}

unsigned int unicodeToJis(uint32_t cp) {
    return lookupUcs(cp);
}

uint32_t jisToUnicode(unsigned int jis) {
    return lookupJis(jis);
}

int unicodeCharToSjis(uint32_t cp, unsigned char* out) {
    if (cp == 0 || cp == 0xFEFF) return 0;
    unsigned int s = unicodeToSjis(cp);
    if (s == 0) return -1;
    if (s <= 0xFF) {
        out[0] = static_cast<unsigned char>(s);
        return 1;
    }
    out[0] = static_cast<unsigned char>(s >> 8);
    out[1] = static_cast<unsigned char>(s);
    return 2;
}

int sjisToWide(uint32_t* out, const unsigned char* in, int len) {
    if (!out) return 0;
    int n = 0;
    for (int i = 0; in && i < len;) {
        SjisChar c = nextSjis(in + i, len - i);
        uint32_t u = c.bad ? 0 : sjisToUnicode(c.code);
        if (u == 0 && !(c.length == 1 && c.code == 0)) u = kReplacement;
        out[n++] = u;
        i += c.length;
    }
    out[n] = 0;
    return n;
}

int wideToUtf8(const uint32_t* in, int count, char* out) {
    int n = 0;
    for (int i = 0; in && i < count; ++i) {
        uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            cp = kReplacement;
        }
        n += putUtf8(cp, out ? out + n : nullptr);
    }
    return n;
}

int utf8ToWide(const char* in, int len, uint32_t* out) {
    return utf8ToUnits(in, len, out);
}

int utf16leToUtf8(const unsigned char* in, int count, char* out) {
    int n = 0;
    for (int i = 0; in && i < count; ++i) {
        uint32_t u = in[2 * i] | (uint32_t(in[2 * i + 1]) << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            uint32_t lo = in[2 * i + 2] | (uint32_t(in[2 * i + 3]) << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = kReplacement;
        n += putUtf8(u, out ? out + n : nullptr);
    }
    return n;
}

int sjisToUtf8(const unsigned char* in, int len, char* out, size_t outSize) {
    ByteSink sink(reinterpret_cast<unsigned char*>(out), outSize);
    len = boundedLength(in, len);
    for (int i = 0; i < len;) {
        SjisChar c = nextSjis(in + i, len - i);
        uint32_t u = c.bad ? 0 : sjisToUnicode(c.code);
        if (u == 0) u = kReplacement;
        unsigned char b[4];
        int n = putUtf8(u, reinterpret_cast<char*>(b));
        if (!sink.put(b, static_cast<size_t>(n))) break;
        i += c.length;
    }
    return sink.finish();
}

namespace {

// Writes the Shift_JIS form of cp, the geta mark when it has none, nothing
// for U+0000 and U+FEFF; false when the sink is full.
bool putSjisChar(ByteSink& sink, uint32_t cp) {
    unsigned char b[2];
    int n = unicodeCharToSjis(cp, b);
    if (n < 0) return sink.put2(kGetaSjis);
    if (n > 0) return sink.put(b, static_cast<size_t>(n));
    return true;
}

}  // namespace

int utf8ToSjis(const char* in, int len, unsigned char* out, size_t outSize) {
    ByteSink sink(out, outSize);
    const unsigned char* p = asBytes(in);
    len = boundedLength(p, len);
    for (int i = 0; i < len;) {
        uint32_t cp;
        int used;
        Utf8Step st = nextUtf8(p + i, len - i, &cp, &used);
        if (st == Utf8Step::Truncated) used = len - i;
        if (st != Utf8Step::Ok) cp = kReplacement;
        if (!putSjisChar(sink, cp)) break;
        i += used;
    }
    return sink.finish();
}

int isUtf8Text(const char* text, int len) {
    const unsigned char* p = asBytes(text);
    for (int i = 0; p && i < len;) {
        uint32_t cp;
        int used;
        if (nextUtf8(p + i, len - i, &cp, &used) != Utf8Step::Ok) return 0;
        i += used;
    }
    return 1;
}

int utf8CharLength(const char* text, int len) {
    if (!text || len <= 0) return 0;
    uint32_t cp;
    int used;
    if (nextUtf8(asBytes(text), len, &cp, &used) != Utf8Step::Ok) return 1;
    return used;
}

size_t utf8PrefixLength(const char* text, size_t len, size_t max) {
    if (len <= max) return len;
    size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

int wideToSjis(const uint32_t* in, int count, unsigned char* out, size_t outSize) {
    ByteSink sink(out, outSize);
    for (int i = 0; in && i < count; ++i) {
        uint32_t cp = in[i];
        if (cp == 0) break;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        }
        if (!putSjisChar(sink, cp)) break;
    }
    return sink.finish();
}

int sjisToEucjp(const unsigned char* in, int len, unsigned char* out, size_t outSize) {
    ByteSink sink(out, outSize);
    len = boundedLength(in, len);
    for (int i = 0; i < len;) {
        SjisChar c = nextSjis(in + i, len - i);
        bool ok;
        if (!c.bad && c.length == 1 && c.code < 0x80) {
            ok = sink.put1(c.code);
        } else if (!c.bad && c.length == 1 && isHalfKana(c.code)) {
            unsigned char b[2] = {0x8E, static_cast<unsigned char>(c.code)};
            ok = sink.put(b, 2);
        } else {
            unsigned int jis = (c.length == 2 && c.code < 0xF040) ? jclib::sjisToJis(c.code) : 0;
            ok = sink.put2((jis ? jis : kGetaJis) | 0x8080);
        }
        if (!ok) break;
        i += c.length;
    }
    return sink.finish();
}

int eucjpToSjis(const unsigned char* in, int len, unsigned char* out, size_t outSize) {
    ByteSink sink(out, outSize);
    len = boundedLength(in, len);
    for (int i = 0; i < len;) {
        unsigned int b = in[i];
        int used = 1;
        bool ok;
        if (b < 0x80) {
            ok = sink.put1(b);
        } else if (b == 0x8E && i + 1 < len && isHalfKana(in[i + 1])) {
            ok = sink.put1(in[i + 1]);
            used = 2;
        } else if (b == 0x8F && i + 2 < len && in[i + 1] >= 0xA1 && in[i + 1] <= 0xFE && in[i + 2] >= 0xA1 &&
                   in[i + 2] <= 0xFE) {
            ok = sink.put2(kGetaSjis);  // JIS X 0212
            used = 3;
        } else if (b >= 0xA1 && b <= 0xFE && i + 1 < len && in[i + 1] >= 0xA1 && in[i + 1] <= 0xFE) {
            ok = sink.put2(jclib::jisToSjis(((b << 8) | in[i + 1]) & 0x7F7F));
            used = 2;
        } else {
            ok = sink.put2(kGetaSjis);
        }
        if (!ok) break;
        i += used;
    }
    return sink.finish();
}

namespace {

// Other: a two-byte set we do not read (JIS X 0212, ...): one geta per pair.
enum class IsoSet { Ascii, Kanji, Kana, Other };

const unsigned char kEscAscii[3] = {0x1B, '(', 'B'};
const unsigned char kEscKanji[3] = {0x1B, '$', 'B'};
const unsigned char kEscKana[3] = {0x1B, '(', 'I'};

}  // namespace

int sjisToIso2022jp(const unsigned char* in, int len, unsigned char* out, size_t outSize) {
    // Keep room for the closing switch back to ASCII.
    if (outSize < 4) {
        if (outSize > 0) out[0] = 0;
        return 0;
    }
    ByteSink sink(out, outSize - 3);
    IsoSet set = IsoSet::Ascii;
    len = boundedLength(in, len);
    for (int i = 0; i < len;) {
        SjisChar c = nextSjis(in + i, len - i);
        IsoSet want;
        unsigned int code;
        if (!c.bad && c.length == 1 && c.code < 0x80) {
            want = IsoSet::Ascii;
            code = c.code;
        } else if (!c.bad && c.length == 1 && isHalfKana(c.code)) {
            want = IsoSet::Kana;
            code = c.code & 0x7F;
        } else {
            want = IsoSet::Kanji;
            code = (c.length == 2 && c.code < 0xF040) ? jclib::sjisToJis(c.code) : kGetaJis;
        }
        size_t need = (want == IsoSet::Kanji ? 2 : 1) + (want != set ? 3 : 0);
        if (need > sink.room()) break;
        if (want != set) {
            sink.put(want == IsoSet::Ascii ? kEscAscii : want == IsoSet::Kanji ? kEscKanji : kEscKana, 3);
            set = want;
        }
        if (want == IsoSet::Kanji)
            sink.put2(code);
        else
            sink.put1(code);
        i += c.length;
    }
    int n = sink.finish();
    if (set != IsoSet::Ascii) {
        std::memcpy(out + n, kEscAscii, 3);
        n += 3;
        out[n] = 0;
    }
    return n;
}

int iso2022jpToSjis(const unsigned char* in, int len, unsigned char* out, size_t outSize) {
    ByteSink sink(out, outSize);
    IsoSet set = IsoSet::Ascii;
    len = boundedLength(in, len);
    for (int i = 0; i < len;) {
        unsigned int b = in[i];
        int used = 1;
        bool ok = true;
        if (b == 0x1B) {
            // ESC and its intermediate bytes (0x20-0x2F) up to a final byte.
            int j = i + 1;
            while (j < len && in[j] >= 0x20 && in[j] <= 0x2F) ++j;
            if (j >= len) break;  // escape cut short at the end: dropped
            used = j - i + 1;
            if (used == 3 && in[i + 1] == '(' && (in[j] == 'B' || in[j] == 'J'))
                set = IsoSet::Ascii;
            else if (used == 3 && in[i + 1] == '$' && (in[j] == 'B' || in[j] == '@'))
                set = IsoSet::Kanji;
            else if (used == 4 && in[i + 1] == '$' && in[i + 2] == '(' && in[j] == 'B')
                set = IsoSet::Kanji;
            else if (used == 3 && in[i + 1] == '(' && in[j] == 'I')
                set = IsoSet::Kana;
            else if (in[i + 1] == '$')
                set = IsoSet::Other;
        } else if (b == '\r' || b == '\n') {
            ok = sink.put1(b);  // line ends pass in any set
        } else if (b >= 0x80) {
            ok = sink.put2(kGetaSjis);
        } else if ((set == IsoSet::Kanji || set == IsoSet::Other) && b >= 0x21 && b <= 0x7E) {
            // A pair of 0x21-0x7E bytes; a lone or broken first byte is one geta.
            if (i + 1 < len && in[i + 1] >= 0x21 && in[i + 1] <= 0x7E) {
                ok = sink.put2(set == IsoSet::Kanji ? jclib::jisToSjis((b << 8) | in[i + 1]) : kGetaSjis);
                used = 2;
            } else {
                ok = sink.put2(kGetaSjis);
            }
        } else if (set == IsoSet::Kana) {
            ok = (b >= 0x21 && b <= 0x5F) ? sink.put1(b | 0x80) : sink.put1(b);
        } else {
            ok = sink.put1(b);
        }
        if (!ok) break;
        i += used;
    }
    return sink.finish();
}
