// Search keys of CEBBook: character references, key normalisation, kana
// keys, reversal, stop words and the entry order of the index sorts.
#include <cstdio>
#include <cstring>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "foundation/book/BookConstants.h"
#include "foundation/codes/jclib.h"

namespace {

bool isLead(unsigned char b) {
    return jclib::isSjisLead(b);
}

// Appends one 16-bit character to a key unless the key is full.
bool putKeyChar(char* out, int* n, int max, unsigned int c) {
    if (*n + 2 > max) return false;
    out[(*n)++] = static_cast<char>((c >> 8) & 0xFF);
    out[(*n)++] = static_cast<char>(c & 0xFF);
    return true;
}

// A single byte as it goes into a key: upper case, full width.
unsigned int keyFormOfByte(unsigned char b) {
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    return jclib::hankakuToZenkaku(b);
}

// A two-byte character as it goes into a key. The search indexes declare
// that readers fold lower-case Latin letters to upper case, full-width ones
// included (other scripts keep their case), so the keys hold them folded.
unsigned int keyFormOfPair(unsigned int c) {
    return c >= 0x8281 && c <= 0x829A ? c - 0x21 : c;
}

struct NamedRef {
    const char* name;
    unsigned int code;
};
const NamedRef kNamedRefs[] = {{"nbsp", 0x20}, {"lt", 0x3C},   {"gt", 0x3E},
                               {"amp", 0x26},  {"quot", 0x22}, {"apos", 0x27}};

const unsigned int kGetaSjis = 0x81AC;

}  // namespace

// The JIS X 0208 character (as Shift_JIS) that a key holds for a character
// the text shows as a gaiji, 0 for none: the alphabets and signs below U+2000
// that wide text always writes as gaiji (narrow glyphs) though JIS X 0208 has
// them (Greek, Cyrillic, the multiplication sign, ...), and characters a
// reader's query gives as a JIS X 0208 neighbour (the em dash as the
// horizontal bar of the published mapping, the overline as its full-width
// form).
unsigned int CEBBook::sjisFormForKey(uint32_t cp) {
    static const struct {
        uint32_t cp;
        unsigned int sjis;
    } kNear[] = {{0x2014, 0x815C}, {0x00A5, 0x818F}, {0x203E, 0x8150}};
    unsigned char b[2];
    if (cp >= 0x80 && cp < 0x2000 && unicodeCharToSjis(cp, b) == 2)
        return (static_cast<unsigned int>(b[0]) << 8) | b[1];
    for (const auto& k : kNear)
        if (k.cp == cp) return k.sjis;
    return 0;
}

namespace {

// The base letters (upper case ASCII) a key holds for a Latin letter with a
// diacritic, or a ligature or letter of its own, that the text shows as a
// gaiji: readers type the word without its marks (Ardeche for Ardèche). Null
// for a code point that is no such letter.
const char* latinBaseForKey(uint32_t cp) {
    static const struct {
        uint32_t cp;
        const char* base;
    } kTwoLetters[] = {{0xC6, "AE"},  {0xDE, "TH"},  {0xDF, "SS"},  {0xE6, "AE"}, {0xFE, "TH"},
                       {0x132, "IJ"}, {0x133, "IJ"}, {0x152, "OE"}, {0x153, "OE"}};
    // One letter a code point, "." for none (the multiplication and division
    // signs, the two-letter ones above).
    static const char kLatin[] =
        "AAAAAA.CEEEEIIII"   // U+00C0
        "DNOOOOO.OUUUUY.."   // U+00D0
        "AAAAAA.CEEEEIIII"   // U+00E0
        "DNOOOOO.OUUUUY.Y"   // U+00F0
        "AAAAAACCCCCCCCDD"   // U+0100
        "DDEEEEEEEEEEGGGG"   // U+0110
        "GGGGHHHHIIIIIIII"   // U+0120
        "II..JJKKKLLLLLLL"   // U+0130
        "LLLNNNNNNNNNOOOO"   // U+0140
        "OO..RRRRRRSSSSSS"   // U+0150
        "SSTTTTTTUUUUUUUU"   // U+0160
        "UUUUWWYYYZZZZZZS";  // U+0170
    static_assert(sizeof kLatin - 1 == 0x180 - 0xC0, "one letter a code point");
    // Latin Extended-B letters of current orthographies: the pinyin tones
    // (U+01CD-U+01DC) and the Romanian comma below (U+0218-U+021B).
    static const char kPinyin[] = "AAIIOOUUUUUUUUUU";
    static const char kComma[] = "SSTT";
    static const char kLetters[] = "A\0B\0C\0D\0E\0F\0G\0H\0I\0J\0K\0L\0M\0N\0O\0P\0Q\0R\0S\0T\0U\0V\0W\0X\0Y\0Z";
    for (const auto& t : kTwoLetters)
        if (t.cp == cp) return t.base;
    char letter = '.';
    if (cp >= 0xC0 && cp <= 0x17F)
        letter = kLatin[cp - 0xC0];
    else if (cp >= 0x1CD && cp <= 0x1DC)
        letter = kPinyin[cp - 0x1CD];
    else if (cp >= 0x218 && cp <= 0x21B)
        letter = kComma[cp - 0x218];
    return letter >= 'A' && letter <= 'Z' ? kLetters + 2 * (letter - 'A') : nullptr;
}

bool inSymbolSet(unsigned int c) {
    return c == 0x8166 || c == 0x817C || c == 0x8145 || c == 0x815D;
}

// Voiced, semi-voiced and small kana to their plain forms (hiragana codes).
unsigned int plainKana(unsigned int c) {
    static const unsigned short kFold[][2] = {
        {0x82AA, 0x82A9}, {0x82AC, 0x82AB}, {0x82AE, 0x82AD}, {0x82B0, 0x82AF}, {0x82B2, 0x82B1}, {0x82B4, 0x82B3},
        {0x82B6, 0x82B5}, {0x82B8, 0x82B7}, {0x82BA, 0x82B9}, {0x82BC, 0x82BB}, {0x82BE, 0x82BD}, {0x82C0, 0x82BF},
        {0x82C3, 0x82C2}, {0x82C5, 0x82C4}, {0x82C7, 0x82C6}, {0x82CE, 0x82CD}, {0x82D1, 0x82D0}, {0x82D4, 0x82D3},
        {0x82D7, 0x82D6}, {0x82DA, 0x82D9}, {0x82CF, 0x82CD}, {0x82D2, 0x82D0}, {0x82D5, 0x82D3}, {0x82D8, 0x82D6},
        {0x82DB, 0x82D9}, {0x829F, 0x82A0}, {0x82A1, 0x82A2}, {0x82A3, 0x82A4}, {0x82A5, 0x82A6}, {0x82A7, 0x82A8},
        {0x82E1, 0x82E2}, {0x82E3, 0x82E4}, {0x82E5, 0x82E6}, {0x82EC, 0x82ED}, {0x82C1, 0x82C2}, {0x8394, 0x82A4},
    };
    for (const auto& f : kFold)
        if (f[0] == c) return f[1];
    return c;
}

// The vowel (as its hiragana) that a long vowel mark after c stands for, 0
// for none.
unsigned int vowelOf(unsigned int c) {
    static const unsigned short kA[] = {0x82A0, 0x82A9, 0x82B3, 0x82BD, 0x82C8, 0x82CD, 0x82DC, 0x82E2, 0x82E7, 0x82ED};
    static const unsigned short kI[] = {0x82A2, 0x82AB, 0x82B5, 0x82BF, 0x82C9, 0x82D0, 0x82DD, 0x82E8, 0x82EE};
    static const unsigned short kU[] = {0x82A4, 0x82AD, 0x82B7, 0x82C2, 0x82CA, 0x82D3, 0x82DE, 0x82E4, 0x82E9};
    static const unsigned short kE[] = {0x82A6, 0x82AF, 0x82B9, 0x82C4, 0x82CB, 0x82D6, 0x82DF, 0x82EA, 0x82EF};
    static const unsigned short kO[] = {0x82A8, 0x82B1, 0x82BB, 0x82C6, 0x82CC, 0x82D9, 0x82E0, 0x82E6, 0x82EB, 0x82F0};
    for (unsigned short v : kA)
        if (v == c) return 0x82A0;
    for (unsigned short v : kI)
        if (v == c) return 0x82A2;
    for (unsigned short v : kU)
        if (v == c) return 0x82A4;
    for (unsigned short v : kE)
        if (v == c) return 0x82A6;
    for (unsigned short v : kO)
        if (v == c) return 0x82A8;
    if (c == 0x82F1) return 0x82F1;  // readers make a long vowel mark after ん another ん
    return 0;
}

bool isKanji(unsigned int c) {
    return (c >= 0x889F && c <= 0x9872) || (c >= 0x989F && c <= 0xEA9E);
}

}  // namespace

int CEBBook::parseEntity(const char* text, int len, uint32_t* codePoint, uint32_t* gaijiCode, const char** alt) {
    uint32_t cp = 0, gc = 0;
    const char* a = nullptr;
    if (codePoint) *codePoint = 0;
    if (gaijiCode) *gaijiCode = 0;
    if (alt) *alt = nullptr;
    if (text == nullptr || len < 3 || text[0] != '&') return 0;
    int semi = -1;
    for (int j = 1; j <= 10 && j < len; ++j) {
        if (text[j] == ';') {
            semi = j;
            break;
        }
    }
    if (semi < 2) return 0;
    const char* body = text + 1;
    int bodyLen = semi - 1;
    bool lookUp = false;
    if (body[0] == '#') {
        int i = 1;
        if (bodyLen > 1 && (body[1] == 'x' || body[1] == 'X')) {
            // Up to four hexadecimal digits.
            for (i = 2; i < bodyLen && i < 6; ++i) {
                char c = body[i];
                int d = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
                if (d < 0) break;
                cp = cp * 16 + static_cast<uint32_t>(d);
            }
        } else {
            for (; i < bodyLen && body[i] >= '0' && body[i] <= '9'; ++i) {
                cp = cp * 10 + static_cast<uint32_t>(body[i] - '0');
                if (cp > 0x10FFFF) break;
            }
        }
        lookUp = cp >= 128;
    } else {
        char name[16];
        std::memcpy(name, body, static_cast<size_t>(bodyLen));
        name[bodyLen] = 0;
        bool found = false;
        for (const auto& r : kNamedRefs) {
            if (std::strcmp(r.name, name) == 0) {
                cp = r.code;
                found = true;
                break;
            }
        }
        if (!found && m_gaiji) m_gaiji->findByName(name, &cp, &gc, &a);
    }
    if (lookUp && m_gaiji) {
        int create = (m_opt != nullptr && m_opt->autoUniGaiji) ? 1 : 0;
        m_gaiji->lookupUnicode(cp, &gc, &a, create);
    }
    if (codePoint) *codePoint = cp;
    if (gaijiCode) *gaijiCode = gc;
    if (alt) *alt = a;
    return semi + 1;
}

int CEBBook::normalizeKey(char* out, const char* text, int len, int filter, int max) {
    int n = 0;
    if (out == nullptr) return 0;
    if (max < 0) max = 0;
    out[0] = 0;
    if (text == nullptr || len <= 0) {
        return 0;
    }
    const bool gaijiAsGeta = (filter & kKeyGaijiAsGeta) != 0;
    filter &= ~kKeyGaijiAsGeta;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    const bool delBlank = m_opt != nullptr && m_opt->delBlank;
    const bool delSym = m_opt != nullptr && m_opt->delSym;
    const bool delChars = m_delChars[0] != 0;
    // A two-byte character of the text through the filter into the key.
    auto keep = [&](unsigned int c) {
        if (filter) {
            if (delBlank && c == 0x8140) return;
            if (filter == kFilterBlanks) {
                putKeyChar(out, &n, max, c);
                return;
            }
            if (delSym && inSymbolSet(c)) return;
            if (delChars) {
                for (const unsigned char* d = m_delChars; d[0] != 0 || d[1] != 0; d += 2)
                    if (keyFormOfPair((static_cast<unsigned int>(d[0]) << 8) | d[1]) == c) return;
            }
        }
        putKeyChar(out, &n, max, c);
    };
    int i = 0;
    while (i < len && n < max) {
        unsigned char b = s[i];
        if (b == '&') {
            uint32_t cp = 0, gc = 0;
            const char* alt = nullptr;
            int used = parseEntity(text + i, len - i, &cp, &gc, &alt);
            if (used > 0) {
                i += used;
                if (alt != nullptr) {
                    const unsigned char* p = reinterpret_cast<const unsigned char*>(alt);
                    bool room = true;
                    while (*p && room) {
                        if (isLead(p[0]) && p[1] != 0) {
                            room = putKeyChar(out, &n, max, keyFormOfPair((p[0] << 8) | p[1]));
                            p += 2;
                        } else {
                            // A byte with no two-byte form would put a zero
                            // byte into the key, which readers take as its end.
                            const unsigned int k = *p >= 0x20 ? keyFormOfByte(*p) : *p;
                            if (k > 0xFF) room = putKeyChar(out, &n, max, k);
                            ++p;
                        }
                    }
                } else if (cp >= 1 && cp <= 127) {
                    putKeyChar(out, &n, max, keyFormOfByte(static_cast<unsigned char>(cp)));
                } else if (const unsigned int sjis = sjisFormForKey(cp)) {
                    // A character that the text shows as a gaiji but JIS X
                    // 0208 has (Greek, Cyrillic, symbols such as the
                    // multiplication sign) is keyed as that character, as a
                    // Shift_JIS source gives it, so that the query a reader
                    // sends finds it.
                    keep(keyFormOfPair(sjis));
                } else if (const char* base = latinBaseForKey(cp)) {
                    for (; *base != 0; ++base) keep(keyFormOfByte(static_cast<unsigned char>(*base)));
                } else if (gaijiAsGeta && cp >= 128) {
                    putKeyChar(out, &n, max, kGetaSjis);
                }
                continue;
            }
        }
        if (b == 0x1F) {
            i += 2;
        } else if (b < 0x20) {
            ++i;
        } else if (isLead(b) && i + 1 < len) {
            keep(keyFormOfPair((static_cast<unsigned int>(b) << 8) | s[i + 1]));
            i += 2;
        } else {
            const unsigned int c = keyFormOfByte(b);
            ++i;
            // No full-width form (0x7F, 0x80, 0xA0, 0xFD-0xFF, a lone lead byte).
            if (c > 0xFF) keep(c);
        }
    }
    out[n] = 0;
    return n;
}

int CEBBook::headwordKey(char* out, const char* text, int len, int max) {
    const int n = normalizeKey(out, text, len, 1, max);
    if (n > 0) return n;
    // Nothing left: the characters the filter drops stay, and a gaiji
    // without a key form is the geta mark, so that the entry keeps a place
    // in the index.
    return normalizeKey(out, text, len, kKeyGaijiAsGeta, max);
}

int CEBBook::kanaKey(char* out, const char* text, int len, int* outLen) {
    int n = 0;
    int allKana = 1;
    unsigned int vowel = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    for (int i = 0; text != nullptr && i < len;) {
        unsigned int c;
        bool two = false;
        if (isLead(s[i]) && i + 1 < len) {
            c = (static_cast<unsigned int>(s[i]) << 8) | s[i + 1];
            i += 2;
            two = true;
        } else if (s[i] >= 0x20) {
            c = jclib::hankakuToZenkaku(s[i]);
            two = c > 0xFF;
            ++i;
        } else {
            c = s[i++];
        }
        // The kana indexes declare that readers drop these marks, and that a
        // long vowel mark stands for the vowel of the kana before it; one
        // after another long vowel mark stays.
        if (two && inSymbolSet(c)) continue;
        const bool longVowel = c == 0x815B;
        if (longVowel && vowel != 0) c = vowel;
        c = plainKana(jclib::katakanaToHiragana(c));
        vowel = longVowel ? 0 : vowelOf(c);
        if (isKanji(c)) allKana = 0;
        if (two) {
            out[n++] = static_cast<char>(c >> 8);
            out[n++] = static_cast<char>(c & 0xFF);
        } else {
            out[n++] = static_cast<char>(c);
        }
    }
    out[n] = 0;
    if (outLen) *outLen = n;
    return allKana;
}

const char* CEBBook::reverseKey(const char* text, int len, int* outLen) {
    char work[256];
    int n = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    // Copy whole characters, at most 255 bytes.
    while (text != nullptr && n < len) {
        int w = (isLead(s[n]) && n + 1 < len) ? 2 : 1;
        if (n + w > 255) break;
        work[n] = text[n];
        if (w == 2) work[n + 1] = text[n + 1];
        n += w;
    }
    int o = n;
    for (int i = 0; i < n;) {
        int w = (isLead(static_cast<unsigned char>(work[i])) && i + 1 < n) ? 2 : 1;
        o -= w;
        std::memcpy(m_reverse + o, work + i, static_cast<size_t>(w));
        i += w;
    }
    m_reverse[n] = 0;
    if (outLen) *outLen = n;
    return m_reverse;
}

void CEBBook::reverseKeyUnits(char* key, int len) {
    for (int i = 0, j = (len & ~1) - 2; i < j; i += 2, j -= 2) {
        char a = key[i], b = key[i + 1];
        key[i] = key[j];
        key[i + 1] = key[j + 1];
        key[j] = a;
        key[j + 1] = b;
    }
}

int CEBBook::isStopWord(const char* key, int len) const {
    // Stop words and keys are both normalised (full width, upper case), so
    // an exact byte compare is the case-insensitive one; a byte-wise
    // case-folding compare would mix up two-byte codes.
    if (key == nullptr || len <= 0) return 0;
    for (int i = 0; i < m_stopWordCount; ++i)
        if (m_stopWords[i].len == len && std::memcmp(m_stopWords[i].text, key, static_cast<size_t>(len)) == 0) return 1;
    return 0;
}

int CEBBook::compareEntries(const SEARCH_KEY_ENTRY& a, const SEARCH_KEY_ENTRY& b) {
    int la = a.key ? a.keyLen : 0, lb = b.key ? b.keyLen : 0;
    int m = la < lb ? la : lb;
    if (m > 0) {
        int c = std::memcmp(a.key, b.key, static_cast<size_t>(m));
        if (c != 0) return c;
    }
    if (la != lb) return la < lb ? -1 : 1;
    uint64_t ba = a.bodyPos / kBlockSize, bb = b.bodyPos / kBlockSize;
    if (ba != bb) return ba < bb ? -1 : 1;
    uint64_t oa = a.bodyPos % kBlockSize, ob = b.bodyPos % kBlockSize;
    if (oa != ob) return oa < ob ? -1 : 1;
    return 0;
}
