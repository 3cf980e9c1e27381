#include "bookreader/fts/FtsKeys.h"

#include <cctype>

#include "foundation/codes/jclib.h"

namespace ftskeys {

namespace {

void appendCode(std::string* out, uint32_t code) {
    if (code > 0xFF) out->push_back(static_cast<char>(code >> 8));
    out->push_back(static_cast<char>(code & 0xFF));
}

}  // namespace

std::string keyBytes(uint32_t key) {
    std::string s;
    appendCode(&s, key >> 16);
    if (key & 0xFFFF) appendCode(&s, key & 0xFFFF);
    return s;
}

uint64_t keyOrder(uint32_t key) {
    uint64_t order = 0;
    int shift = 64;
    for (unsigned char b : keyBytes(key)) order |= static_cast<uint64_t>(b) << (shift -= 8);
    return order;
}

uint32_t keyOf(const std::string& sjis) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(sjis.data());
    const int len = static_cast<int>(sjis.size());
    uint32_t codes[2] = {0, 0};
    int at = 0;
    for (int i = 0; i < 2 && at < len; ++i) {
        int l = sjisCharLength(p + at, len - at);
        codes[i] = l == 2 ? (static_cast<uint32_t>(p[at]) << 8) | p[at + 1] : p[at];
        at += l;
    }
    return makeKey(codes[0], codes[1]);
}

uint32_t indexForm(uint32_t sjis, bool narrow, int options) {
    // Narrow text folds full-width letters, digits and symbols to ASCII.
    if (narrow && sjis >= 0x100 && sjis < 0x829F) {
        uint32_t h = jclib::zenkakuToHankaku(sjis);
        if (h < 0x100) sjis = h;
    }
    if (!(options & kBlanks) && (sjis == 0x20 || sjis == 0x8140)) return 0;
    if (options & kLettersAndDigits) {
        if (sjis < 0x100 && !std::isalnum(static_cast<int>(sjis))) return 0;
        if (sjis >= 0x8140 && sjis < 0x81FD) return 0;
    }
    if (sjis >= 'A' && sjis <= 'Z') sjis += 0x20;
    return sjis;
}

}  // namespace ftskeys
