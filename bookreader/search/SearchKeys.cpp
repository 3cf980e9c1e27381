#include "bookreader/search/SearchKeys.h"

#include <cstring>

#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

// Bytes of the character at in[i] within length: 2 for a lead byte with a
// byte after it, else 1.
int charBytes(const unsigned char* in, int i, int length) {
    return (i + 1 < length && jclib::isSjisLead(in[i])) ? 2 : 1;
}

unsigned field(uint32_t style, int lowBit) {
    return (style >> lowBit) & 3u;
}

bool isDroppedMark(unsigned c) {
    return c == 0x8166 || c == 0x817C || c == 0x8145 || c == 0x815D;
}

bool isLowerFullWidth(unsigned c) {
    return c >= 0x8281 && c <= 0x829A;
}

unsigned hiraganaToKatakana(unsigned c) {
    if (c >= 0x829F && c <= 0x82DD) return c + 0xA1;
    if (c >= 0x82DE && c <= 0x82F1) return c + 0xA2;
    return c;
}

bool isHiragana(unsigned c) {
    return c >= 0x829F && c <= 0x82F1;
}

bool isKatakana(unsigned c) {
    return c >= 0x8340 && c <= 0x8396 && c != 0x837F;
}

// Vowel rows of the plain hiragana: 1 a .. 5 o, 0 none.
const unsigned kRowMembers[5][10] = {
    {0x82A0, 0x82A9, 0x82B3, 0x82BD, 0x82C8, 0x82CD, 0x82DC, 0x82E2, 0x82E7, 0x82ED},
    {0x82A2, 0x82AB, 0x82B5, 0x82BF, 0x82C9, 0x82D0, 0x82DD, 0x82E8, 0, 0},
    {0x82A4, 0x82AD, 0x82B7, 0x82C2, 0x82CA, 0x82D3, 0x82DE, 0x82E4, 0x82E9, 0},
    {0x82A6, 0x82AF, 0x82B9, 0x82C4, 0x82CB, 0x82D6, 0x82DF, 0x82EA, 0, 0},
    {0x82A8, 0x82B1, 0x82BB, 0x82C6, 0x82CC, 0x82D9, 0x82E0, 0x82E6, 0x82EB, 0x82F0},
};

// The rows by code from 0x82A0, built once from the table above.
struct VowelRows {
    uint8_t row[0x82F1 - 0x82A0 + 1] = {};
    VowelRows() {
        for (int r = 0; r < 5; ++r)
            for (unsigned c : kRowMembers[r])
                if (c) row[c - 0x82A0] = static_cast<uint8_t>(r + 1);
    }
};

int vowelRow(unsigned c) {
    static const VowelRows rows;
    return (c >= 0x82A0 && c <= 0x82F1) ? rows.row[c - 0x82A0] : 0;
}

const unsigned kRowVowel[6] = {0, 0x82A0, 0x82A2, 0x82A4, 0x82A6, 0x82A8};

// The fold tables of bits 15-14 .. 7-6, each mapping a code at most once.
unsigned foldSokuon(unsigned c) {
    if (c == 0x82C1) return 0x82C2;
    if (c == 0x8394) return 0x82A4;
    if (c == 0x8362) return 0x8363;
    return c;
}

unsigned foldSmall(unsigned c) {
    switch (c) {
        case 0x82E1:
        case 0x82E3:
        case 0x82E5:
        case 0x82EC:
        case 0x8383:
        case 0x8385:
        case 0x8387:
        case 0x838E:
            return c + 1;
        case 0x8395:
            return 0x834A;
        case 0x8396:
            return 0x8350;
        default:
            return c;
    }
}

unsigned foldSmallVowel(unsigned c) {
    switch (c) {
        case 0x829F:
        case 0x82A1:
        case 0x82A3:
        case 0x82A5:
        case 0x82A7:
        case 0x8340:
        case 0x8342:
        case 0x8344:
        case 0x8346:
        case 0x8348:
            return c + 1;
        default:
            return c;
    }
}

unsigned foldVoiced(unsigned c) {
    if (c >= 0x82AA && c <= 0x82BC && (c & 1) == 0) return c - 1;  // が..ご, ざ..ぞ
    switch (c) {
        case 0x82BE:
        case 0x82C0:
        case 0x82C3:
        case 0x82C5:
        case 0x82C7:
        case 0x82CE:
        case 0x82D1:
        case 0x82D4:
        case 0x82D7:
        case 0x82DA:
            return c - 1;
        default:
            return c;
    }
}

unsigned foldSemiVoiced(unsigned c) {
    switch (c) {
        case 0x82CF:
        case 0x82D2:
        case 0x82D5:
        case 0x82D8:
        case 0x82DB:
            return c - 2;
        default:
            return c;
    }
}

// Reads the character at in[*i] as a code (one byte or a two-byte pair).
unsigned nextChar(const unsigned char* in, int* i, int length, bool* single) {
    int n = charBytes(in, *i, length);
    *single = n == 1;
    unsigned c = n == 1 ? in[*i] : (static_cast<unsigned>(in[*i]) << 8) | in[*i + 1];
    *i += n;
    return c;
}

bool isHexDigit(unsigned c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned hexValue(unsigned c) {
    if (c >= '0' && c <= '9') return c - '0';
    return (c | 0x20) - 'a' + 10;
}

}  // namespace

uint32_t styleValue(const uint8_t* style) {
    return style ? static_cast<uint32_t>(byteorder::beN(style, 3)) : 0;
}

int upperCaseKey(char* out, const char* in, int max) {
    int n = 0;
    for (; n < max && in[n]; ++n) {
        unsigned char c = static_cast<unsigned char>(in[n]);
        out[n] = static_cast<char>((c >= 'a' && c <= 'z') ? c - 32 : c);
    }
    out[n] = 0;
    return n;
}

int normalizeQueryKey(char* out, const char* text, int length, const uint8_t* style, int max, int dropSpace) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const uint32_t s = styleValue(style);
    int n = 0;
    for (int i = 0; i < length && n + 2 <= max;) {
        bool single;
        unsigned c = nextChar(in, &i, length, &single);
        if (single) {
            if (c < 0x20) {
                out[n++] = 0;
                out[n++] = static_cast<char>(c);
                continue;
            }
            if (c >= 'a' && c <= 'z') c -= 32;
            c = jclib::hankakuToZenkaku(c);
        } else if (isLowerFullWidth(c)) {
            c -= 0x21;
        }
        if (dropSpace && c == 0x8140) continue;
        if (field(s, 18) == 0 && isDroppedMark(c)) continue;
        out[n++] = static_cast<char>(c >> 8);
        out[n++] = static_cast<char>(c);
    }
    out[n] = 0;
    return n;
}

int normalizeKey(char* out, int outSize, const char* in, int length, const uint8_t* style) {
    return normalizeKey(out, outSize, in, length, styleValue(style));
}

int normalizeKey(char* out, int outSize, const char* text, int length, uint32_t s) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const bool keepCase = field(s, 20) != 0;
    int n = 0;
    int row = 0;
    for (int i = 0; i < length;) {
        bool single;
        unsigned c = nextChar(in, &i, length, &single);
        if (single && c < 0x20) {
            if (n + 1 >= outSize) break;
            out[n++] = static_cast<char>(c);
            continue;
        }
        if (single) {
            if (!keepCase && c >= 'a' && c <= 'z') c -= 32;
            c = jclib::hankakuToZenkaku(c);
        } else if (!keepCase && isLowerFullWidth(c)) {
            c -= 0x21;
        }
        if (c >= 0xEB40) continue;
        const unsigned kana = field(s, 22);
        if (kana == 0) c = jclib::katakanaToHiragana(c);
        if (kana == 2) c = hiraganaToKatakana(c);
        if (field(s, 18) == 0 && isDroppedMark(c)) continue;
        if (c == 0x815B && row != 0) {
            const unsigned longVowel = field(s, 16);
            if (longVowel == 0) c = kRowVowel[row];
            if (longVowel == 2) continue;
        }
        if (field(s, 14) == 0) c = foldSokuon(c);
        if (field(s, 12) == 0) c = foldSmall(c);
        if (field(s, 10) == 0) c = foldSmallVowel(c);
        if (field(s, 8) == 0) c = foldVoiced(c);
        if (field(s, 6) == 0) c = foldSemiVoiced(c);
        row = vowelRow(c);
        if (n + 2 >= outSize) break;
        out[n++] = static_cast<char>(c >> 8);
        out[n++] = static_cast<char>(c);
    }
    if (outSize > 0) out[n] = 0;
    return 1;
}

int kanaMemberKey(char* out, int outSize, const char* text, int length) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    int n = 0;
    for (int i = 0; i < length && in[i];) {
        const int bytes = charBytes(in, i, length);
        if (n + bytes >= outSize) break;
        if (bytes == 1) {
            out[n++] = text[i++];
            continue;
        }
        unsigned c = (static_cast<unsigned>(in[i]) << 8) | in[i + 1];
        i += 2;
        if (c != 0x8395 && c != 0x8396) c = jclib::katakanaToHiragana(c);
        out[n++] = static_cast<char>(c >> 8);
        out[n++] = static_cast<char>(c);
    }
    if (outSize > 0) out[n] = 0;
    return n;
}

char* reverseKey(char* out, const char* text, int length, bool latin1) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const int n = length < kSearchKeyBufferSize - 1 ? length : kSearchKeyBufferSize - 1;
    char* end = out + kSearchKeyBufferSize - 1;
    *end = 0;
    char* p = end;
    for (int i = 0; i < n;) {
        int bytes = latin1 ? 1 : charBytes(in, i, n);
        p -= bytes;
        std::memcpy(p, in + i, static_cast<size_t>(bytes));
        i += bytes;
    }
    return p;
}

int toJisKey(char* out, const char* text, int length) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    int n = 0;
    for (int i = 0; i + 1 < length && in[i] != 0;) {
        unsigned c = (static_cast<unsigned>(in[i]) << 8) | in[i + 1];
        if (c == 0x8195 && length - i >= 14) {
            unsigned narrow[6];
            for (int k = 0; k < 6; ++k) {
                unsigned wide = (static_cast<unsigned>(in[i + 2 + 2 * k]) << 8) | in[i + 3 + 2 * k];
                narrow[k] = jclib::zenkakuToHankaku(wide);
            }
            const unsigned kindLetter = narrow[0];
            bool gaiji = (kindLetter == 'H' || kindLetter == 'Z' || kindLetter == 'G') && narrow[5] == ';';
            for (int k = 1; k <= 4 && gaiji; ++k) gaiji = isHexDigit(narrow[k]);
            if (gaiji) {
                unsigned code = 0;
                for (int k = 1; k <= 4; ++k) code = code * 16 + hexValue(narrow[k]);
                if (kindLetter == 'G') code %= 0x8000;
                out[n++] = static_cast<char>(code >> 8);
                out[n++] = static_cast<char>(code);
                i += 14;
                continue;
            }
        }
        unsigned jis = jclib::sjisToJis(c);
        out[n++] = static_cast<char>(jis >> 8);
        out[n++] = static_cast<char>(jis);
        i += 2;
    }
    out[n] = 0;
    return n;
}

int kanaKeyKind(const char* key, int length) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(key);
    bool katakana = false;
    for (int i = 0; i < length && in[i];) {
        unsigned c = charBytes(in, i, length) == 2 ? (static_cast<unsigned>(in[i]) << 8) | in[i + 1] : in[i];
        const int cls = sjisCharClass(in + i);
        i += c > 0xFF ? 2 : 1;
        if (c == 0x815D || c == 0x817C || c == 0x815B || c == 0x8145) continue;
        if (cls == 13) continue;
        if (cls == 14) {
            katakana = true;
            continue;
        }
        return 0;
    }
    return katakana ? 1 : 2;
}

namespace {

template <typename Convert, typename Keep>
int filterKana(char* out, const char* text, int length, Convert convert, Keep keep) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    int n = 0;
    for (int i = 0; i < length && in[i];) {
        bool single;
        unsigned c = nextChar(in, &i, length, &single);
        if (single) continue;
        c = convert(c);
        if (!keep(c)) continue;
        out[n++] = static_cast<char>(c >> 8);
        out[n++] = static_cast<char>(c);
    }
    out[n] = 0;
    return n;
}

}  // namespace

int toHiragana(char* out, const char* in, int length) {
    return filterKana(
        out, in, length, [](unsigned c) { return jclib::katakanaToHiragana(c); },
        [](unsigned c) { return isHiragana(c) || c == 0x815B || c == 0x8394; });
}

int toKatakana(char* out, const char* in, int length) {
    return filterKana(
        out, in, length, [](unsigned c) { return hiraganaToKatakana(c); },
        [](unsigned c) { return isKatakana(c) || c == 0x815B; });
}
