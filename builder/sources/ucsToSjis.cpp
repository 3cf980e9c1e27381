#include "builder/sources/ucsToSjis.h"

#include <cstdio>

#include "builder/gaiji/CGaiji.h"
#include "foundation/codes/jclib.h"

// jclib keeps some functions outside its namespace; this finds them either way.
using namespace jclib;

namespace {

const unsigned char kGeta[2] = {0x81, 0xAC};

}  // namespace

int ucsToSjis(char* out, int outSize, const uint32_t* units, int count, int wideRange, CGaiji* gaiji, int create) {
    if (out == nullptr || outSize <= 0) return 0;
    out[0] = 0;
    if (outSize < 4 || count < 1 || units == nullptr) return 0;

    int n = 0;
    int i = 0;
    // The loop test leaves room for a two-byte character and the zero.
    while (n < outSize - 3 && i < count) {
        const uint32_t u = units[i++];
        uint32_t cp = u;
        bool reference = false;
        bool geta = false;

        if (u == 0 || u == 0xFEFF || u == 0xFFFE) {
            continue;  // nothing, or a byte-order mark: never text
        } else if (u >= 0xE000 && u <= 0xF8FF) {
            reference = true;
        } else if (u >= 0xD800 && u <= 0xDBFF) {
            if (i < count && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
                cp = 0x10000 + ((u - 0xD800) << 10) + (units[i] - 0xDC00);
                ++i;
                reference = true;
            } else {
                geta = true;  // a high surrogate without its low half
            }
        } else if ((u >= 0xDC00 && u <= 0xDFFF) || u > 0x10FFFF) {
            geta = true;
        } else if (u >= 0x10000) {
            reference = true;  // a code point given as one unit
        } else if (u < 0x80 || u >= 0x2000 || wideRange) {
            unsigned char b[2];
            int r = unicodeCharToSjis(u, b);
            if (r == 0) continue;
            if (r < 0) {
                reference = true;
            } else if (r == 2 && ((b[0] << 8) | b[1]) >= 0xFA40 && ((b[0] << 8) | b[1]) <= 0xFC4F) {
                reference = true;  // extended kanji rows of the Windows variant
            } else {
                for (int k = 0; k < r; ++k) out[n++] = static_cast<char>(b[k]);
                continue;
            }
        } else {
            reference = true;  // Latin, Greek, Cyrillic and other alphabets
        }

        if (reference) {
            if (n >= outSize - 10) break;  // no room for a reference
            uint32_t code = 0;
            const char* alt = nullptr;
            if (gaiji != nullptr) gaiji->lookupUnicode(cp, &code, &alt, create);
            if (code != 0) {
                n += std::snprintf(out + n, static_cast<size_t>(outSize - n), cp < 0x10000 ? "&#x%04x;" : "&#x%05x;",
                                   static_cast<unsigned>(cp));
                continue;
            }
            geta = true;  // without a gaiji code the reference would reach the book raw
        }
        if (geta) {
            out[n++] = static_cast<char>(kGeta[0]);
            out[n++] = static_cast<char>(kGeta[1]);
        }
    }
    out[n] = 0;
    return n;
}

bool sjisToWorking(const char* in, size_t len, std::string* out, CGaiji* gaiji, int create) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
    // The two-byte code at i, 0 for a single byte (a lead byte without its
    // trail byte included).
    auto codeAt = [&](size_t i) -> unsigned int {
        return i + 1 < len && isSjisLead(s[i]) && isSjisTrail(s[i + 1]) ? (s[i] << 8) | s[i + 1] : 0;
    };
    // The first code to convert; most texts have none and are left alone.
    size_t i = 0;
    while (i < len) {
        const unsigned int c = codeAt(i);
        if (c != 0 && sjisToUnicode(c) == 0) break;
        i += c != 0 ? 2 : 1;
    }
    if (i >= len) return false;
    out->assign(in, i);
    while (i < len) {
        const unsigned int c = codeAt(i);
        if (c == 0) {
            out->push_back(in[i++]);
            continue;
        }
        i += 2;
        if (sjisToUnicode(c) != 0) {
            out->push_back(static_cast<char>(c >> 8));
            out->push_back(static_cast<char>(c & 0xFF));
            continue;
        }
        const uint32_t cp = windowsSjisToUnicode(c);
        char one[16];
        const int n = cp != 0 ? ucsToSjis(one, sizeof one, &cp, 1, 0, gaiji, create) : 0;
        if (n > 0)
            out->append(one, static_cast<size_t>(n));
        else
            out->append(reinterpret_cast<const char*>(kGeta), 2);
    }
    return true;
}
