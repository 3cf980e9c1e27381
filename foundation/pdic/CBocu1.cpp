#include "foundation/pdic/CBocu1.h"

namespace {

const int32_t kReset = 0x40;
const uint32_t kReplacement = 0xFFFD;

// Trail byte -> digit 0..242, or -1 for bytes that cannot be trail bytes
// (00, 07-0F, 1A, 1B, 20).
int trailDigit(uint8_t b) {
    if (b >= 0x01 && b <= 0x06) return b - 0x01;
    if (b >= 0x10 && b <= 0x19) return b - 0x10 + 6;
    if (b >= 0x1C && b <= 0x1F) return b - 0x1C + 16;
    if (b >= 0x21) return b - 13;
    return -1;
}

// Trail bytes that follow a lead byte of a multi-byte difference (0x21-0x24,
// 0x25-0x4F, 0xD0-0xFE); *base is the difference the lead byte stands for,
// before the trail digits are added.
int trailCount(uint8_t b, int64_t* base) {
    if (b >= 0xD0 && b <= 0xFA) {
        *base = int64_t(b - 0xD0) * 243 + 64;
        return 1;
    }
    if (b >= 0xFB && b <= 0xFD) {
        *base = int64_t(b - 0xFB) * 243 * 243 + 10513;
        return 2;
    }
    if (b == 0xFE) {
        *base = 187660;
        return 3;
    }
    if (b >= 0x25 && b <= 0x4F) {
        *base = int64_t(b - 0x50) * 243 - 64;
        return 1;
    }
    if (b >= 0x22 && b <= 0x24) {
        *base = int64_t(b - 0x25) * 243 * 243 - 10513;
        return 2;
    }
    *base = -int64_t(243) * 243 * 243 - 187660;  // 0x21
    return 3;
}

uint8_t digitByte(int d) {
    if (d < 6) return static_cast<uint8_t>(0x01 + d);
    if (d < 16) return static_cast<uint8_t>(0x10 + d - 6);
    if (d < 20) return static_cast<uint8_t>(0x1C + d - 16);
    return static_cast<uint8_t>(d + 13);
}

}  // namespace

int32_t CBocu1::nextPrev(int32_t c) {
    if (c >= 0x3040 && c <= 0x309F) return 0x3070;
    if (c >= 0x4E00 && c <= 0x9FA5) return 0x7711;
    if (c >= 0xAC00 && c <= 0xD7A3) return 0xC1D1;
    return (c & ~0x7F) + 0x40;
}

size_t CBocu1::decode(const uint8_t* s, size_t n, uint32_t* out, size_t cap, bool* cut, bool* bad) {
    if (cut) *cut = false;
    if (bad) *bad = false;
    size_t w = 0;
    const size_t room = cap > 0 ? cap - 1 : 0;
    auto emit = [&](uint32_t c) -> bool {
        if (w >= room) {
            if (cut) *cut = true;
            return false;
        }
        out[w++] = c;
        return true;
    };
    int32_t prev = kReset;
    size_t i = 0;
    while (i < n) {
        const uint8_t b = s[i];
        if (b == 0) break;
        ++i;
        if (b <= 0x20) {
            if (!emit(b)) break;
            if (b != 0x20) prev = kReset;
            continue;
        }
        if (b == 0xFF) {
            prev = kReset;
            continue;
        }
        if (b >= 0x50 && b <= 0xCF) {
            const int32_t c = prev + (b - 0x90);
            if (c < 0 || c > 0x10FFFF) {
                if (bad) *bad = true;
                prev = kReset;
                if (!emit(kReplacement)) break;
                continue;
            }
            if (!emit(static_cast<uint32_t>(c))) break;
            prev = nextPrev(c);
            continue;
        }
        int64_t base;
        const int count = trailCount(b, &base);
        int64_t value = 0;
        bool ok = true;
        for (int k = 0; k < count; ++k) {
            // A missing trail byte (end of the string) or a byte that cannot
            // be a trail byte ends the sequence; that byte is then decoded
            // again on its own.
            if (i >= n) {
                ok = false;
                break;
            }
            const int d = trailDigit(s[i]);
            if (d < 0) {
                ok = false;
                break;
            }
            value = value * 243 + d;
            ++i;
        }
        int64_t c = prev + base + value;
        if (!ok || c < 0 || c > 0x10FFFF) {
            if (bad) *bad = true;
            prev = kReset;
            if (!emit(kReplacement)) break;
            continue;
        }
        if (!emit(static_cast<uint32_t>(c))) break;
        prev = nextPrev(static_cast<int32_t>(c));
    }
    if (cap > 0) out[w] = 0;
    return w;
}

bool CBocu1::truncated(const uint8_t* s, size_t n) {
    size_t i = 0;
    while (i < n && s[i] != 0) {
        const uint8_t b = s[i++];
        if (b <= 0x20 || b == 0xFF || (b >= 0x50 && b <= 0xCF)) continue;
        int64_t base;
        const int count = trailCount(b, &base);
        // Same walk as decode: an invalid trail byte ends the sequence and
        // is then taken on its own.
        for (int k = 0; k < count; ++k) {
            if (i >= n || s[i] == 0) return true;
            if (trailDigit(s[i]) < 0) break;
            ++i;
        }
    }
    return false;
}

void CBocu1::encode(const uint32_t* s, size_t n, std::vector<uint8_t>* out) {
    int32_t prev = kReset;
    for (size_t i = 0; i < n && s[i] != 0; ++i) {
        int32_t c = s[i] > 0x10FFFF ? int32_t(kReplacement) : int32_t(s[i]);
        if (c <= 0x20) {
            out->push_back(static_cast<uint8_t>(c));
            if (c != 0x20) prev = kReset;
            continue;
        }
        int64_t d = int64_t(c) - prev;
        prev = nextPrev(c);
        if (d >= -64 && d <= 63) {
            out->push_back(static_cast<uint8_t>(0x90 + d));
            continue;
        }
        int lead0;
        int64_t offset;
        int count;
        if (d >= 64) {
            if (d < 10513) {
                lead0 = 0xD0;
                offset = 64;
                count = 1;
            } else if (d < 187660) {
                lead0 = 0xFB;
                offset = 10513;
                count = 2;
            } else {
                lead0 = 0xFE;
                offset = 187660;
                count = 3;
            }
        } else {
            if (d >= -10513) {
                lead0 = 0x50;
                offset = -64;
                count = 1;
            } else if (d >= -187660) {
                lead0 = 0x25;
                offset = -10513;
                count = 2;
            } else {
                lead0 = 0x22;
                offset = -187660;
                count = 3;
            }
        }
        d -= offset;
        uint8_t trail[3];
        for (int k = count - 1; k >= 0; --k) {
            int64_t m = d % 243;
            d /= 243;
            if (m < 0) {
                m += 243;
                d -= 1;
            }
            trail[k] = digitByte(static_cast<int>(m));
        }
        out->push_back(static_cast<uint8_t>(lead0 + d));
        for (int k = 0; k < count; ++k) out->push_back(trail[k]);
    }
}
