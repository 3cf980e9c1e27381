#include "dictformats/userdict/MD5.h"

#include <cstring>

#include "foundation/byteorder.h"

namespace {

// Per-step shift amounts, by round and step modulo 4.
const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// floor(abs(sin(i + 1)) * 2^32) for the 64 steps.
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t rotateLeft(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

void MD5::init(MD5_CTX* context) {
    context->countLow = 0;
    context->countHigh = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xEFCDAB89;
    context->state[2] = 0x98BADCFE;
    context->state[3] = 0x10325476;
    std::memset(context->buffer, 0, sizeof context->buffer);
}

void MD5::transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = byteorder::le32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int k;
        switch (round) {
            case 0:
                f = (b & c) | (~b & d);
                k = i;
                break;
            case 1:
                f = (b & d) | (c & ~d);
                k = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                k = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                k = (7 * i) % 16;
                break;
        }
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + rotateLeft(a + f + kSine[i] + x[k], kShift[round][i % 4]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void MD5::update(MD5_CTX* context, const uint8_t* bytes, int32_t length) {
    if (!bytes || length <= 0) return;
    const uint32_t n = static_cast<uint32_t>(length);
    uint32_t used = (context->countLow >> 3) & 63;
    const uint32_t bits = n << 3;
    context->countLow += bits;
    if (context->countLow < bits) ++context->countHigh;
    context->countHigh += n >> 29;

    uint32_t i = 0;
    const uint32_t room = 64 - used;
    if (n >= room) {
        std::memcpy(context->buffer + used, bytes, room);
        transform(context->state, context->buffer);
        for (i = room; i + 63 < n; i += 64) transform(context->state, bytes + i);
        used = 0;
    }
    std::memcpy(context->buffer + used, bytes + i, n - i);
}

void MD5::final(MD5_CTX* context, uint8_t digest[16]) {
    uint8_t count[8];
    byteorder::putLe32(count, context->countLow);
    byteorder::putLe32(count + 4, context->countHigh);
    const uint32_t used = (context->countLow >> 3) & 63;
    const uint32_t padLength = used < 56 ? 56 - used : 120 - used;
    uint8_t padding[64] = {0x80};
    update(context, padding, static_cast<int32_t>(padLength));
    update(context, count, 8);
    for (int i = 0; i < 4; ++i) byteorder::putLe32(digest + 4 * i, context->state[i]);
}
