#include "dictformats/text/GbkBig5.h"

#include <algorithm>
#include <cctype>

namespace {

struct CodePair {
    uint32_t codePoint;
    uint32_t code;
};

#include "dictformats/text/gbk_big5_tables.inc"

bool isGbkLead(unsigned b) {
    return b >= 0x81 && b <= 0xFE;
}

bool isBig5Lead(unsigned b) {
    return (b >= 0xA1 && b <= 0xC6) || (b >= 0xC9 && b <= 0xF9);
}

int tableLookup(const uint16_t (*rows)[191], unsigned firstLead, unsigned lastLead, int code) {
    unsigned lead = (static_cast<unsigned>(code) >> 8) & 0xFF;
    unsigned trail = static_cast<unsigned>(code) & 0xFF;
    if (code < 0 || code > 0xFFFF || lead < firstLead || lead > lastLead || trail < 0x40 || trail > 0xFE) return 0;
    return rows[lead - firstLead][trail - 0x40];
}

template <typename IsLead, typename Lookup>
int toWide(uint32_t* out, const uint8_t* text, uint32_t length, IsLead isLead, Lookup lookup) {
    int count = 0;
    uint32_t i = 0;
    while (i < length && text[i] != 0) {
        unsigned b = text[i];
        if (!isLead(b)) {
            if (out) out[count] = b;
            ++count;
            ++i;
            continue;
        }
        // A lead byte that ends the text has no trail byte to read.
        int cp = i + 1 < length ? lookup(static_cast<int>((b << 8) | text[i + 1])) : 0;
        if (cp > 0) {
            if (out) out[count] = static_cast<uint32_t>(cp);
            ++count;
        }
        i += 2;
    }
    if (out) out[count] = 0;
    return count;
}

template <size_t N>
int fromWide(uint8_t* out, const uint32_t* text, uint32_t count, const CodePair (&pairs)[N]) {
    int n = 0;
    for (uint32_t i = 0; i < count && text[i] != 0; ++i) {
        uint32_t c = text[i];
        const CodePair* p =
            std::lower_bound(pairs, pairs + N, c, [](const CodePair& a, uint32_t v) { return a.codePoint < v; });
        if (p != pairs + N && p->codePoint == c) {
            if (out) {
                out[n] = static_cast<uint8_t>(p->code >> 8);
                out[n + 1] = static_cast<uint8_t>(p->code);
            }
            n += 2;
        } else {
            if (out) out[n] = static_cast<uint8_t>(c);
            n += 1;
        }
    }
    if (out) out[n] = 0;
    return n;
}

// The next character of a key, consuming one or two bytes.
template <typename IsLead>
int keyChar(const uint8_t*& p, IsLead isLead) {
    if (isLead(*p) && p[1] != 0) {
        int c = (p[0] << 8) | p[1];
        p += 2;
        return c;
    }
    int c = std::toupper(*p);
    if (*p != 0) ++p;
    return c;
}

template <typename IsLead>
int keyCompare(const uint8_t* a, const uint8_t* b, uint64_t n, IsLead isLead) {
    int d = 0;
    while (n > 0) {
        while ((*a == ' ' || *a == '.' || *a == '-') && a[1] != 0) ++a;
        int ca = keyChar(a, isLead);
        int cb = keyChar(b, isLead);
        d = ca - cb;
        --n;
        if (d != 0 || cb == 0) break;
    }
    return d;
}

}  // namespace

int gbkLookup(int code) {
    return tableLookup(kGbkToUnicode, 0x81, 0xFE, code);
}

int big5Lookup(int code) {
    unsigned lead = (static_cast<unsigned>(code) >> 8) & 0xFF;
    if (lead >= 0xC9) return tableLookup(kBig5Level2ToUnicode, 0xC9, 0xF9, code);
    return tableLookup(kBig5Level1ToUnicode, 0xA1, 0xC6, code);
}

int gbkToWide(uint32_t* out, const uint8_t* text, uint32_t length) {
    return toWide(out, text, length, isGbkLead, gbkLookup);
}

int big5ToWide(uint32_t* out, const uint8_t* text, uint32_t length) {
    return toWide(out, text, length, isBig5Lead, big5Lookup);
}

int wideToGbk(uint8_t* out, const uint32_t* text, uint32_t count) {
    return fromWide(out, text, count, kUnicodeToGbk);
}

int wideToBig5(uint8_t* out, const uint32_t* text, uint32_t count) {
    return fromWide(out, text, count, kUnicodeToBig5);
}

int gbkKeyCompare(const uint8_t* a, const uint8_t* b, uint64_t n) {
    return keyCompare(a, b, n, isGbkLead);
}

int big5KeyCompare(const uint8_t* a, const uint8_t* b, uint64_t n) {
    return keyCompare(a, b, n, isBig5Lead);
}
