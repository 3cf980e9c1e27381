#include "dictformats/mdict/Ripemd128.h"

#include <cstring>

#include "foundation/byteorder.h"

namespace {

const uint8_t kLeftWord[64] = {0,  1,  2,  3,  4, 5, 6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 7,  4, 13, 1, 10, 6,
                               15, 3,  12, 0,  9, 5, 2,  14, 11, 8, 3,  10, 14, 4,  9,  15, 8,  1, 2,  7, 0,  6,
                               13, 11, 5,  12, 1, 9, 11, 10, 0,  8, 12, 4,  13, 3,  7,  15, 14, 5, 6,  2};
const uint8_t kRightWord[64] = {5,  14, 7,  0,  9, 2,  11, 4, 13, 6,  15, 8, 1, 10, 3, 12, 6, 11, 3,  7, 0,  13,
                                5,  10, 14, 15, 8, 12, 4,  9, 1,  2,  15, 5, 1, 3,  7, 14, 6, 9,  11, 8, 12, 2,
                                10, 0,  4,  13, 8, 6,  4,  1, 3,  11, 15, 0, 5, 12, 2, 13, 9, 7,  10, 14};
const uint8_t kLeftShift[64] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6, 7,  9,  8, 7,  6,  8,  13, 11, 9,
                                7,  15, 7,  12, 15, 9,  11, 7,  13, 12, 11, 13, 6, 7,  14, 9, 13, 15, 14, 8,  13, 6,
                                5,  12, 7,  5,  11, 12, 14, 15, 14, 15, 9,  8,  9, 14, 5,  6, 8,  6,  5,  12};
const uint8_t kRightShift[64] = {8,  9,  9, 11, 13, 15, 15, 5,  7,  7,  8, 11, 14, 14, 12, 6, 9,  13, 15, 7,  12, 8,
                                 9,  11, 7, 7,  12, 7,  6,  15, 13, 11, 9, 7,  15, 11, 8,  6, 6,  14, 12, 13, 5,  14,
                                 13, 13, 7, 5,  15, 5,  8,  11, 14, 14, 6, 14, 6,  9,  12, 9, 12, 5,  15, 8};
const uint32_t kLeftConstant[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};
const uint32_t kRightConstant[4] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x00000000};

inline uint32_t rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// The four boolean functions, by round.
inline uint32_t f(int round, uint32_t x, uint32_t y, uint32_t z) {
    switch (round) {
        case 0:
            return x ^ y ^ z;
        case 1:
            return (x & y) | (~x & z);
        case 2:
            return (x | ~y) ^ z;
        default:
            return (x & z) | (y & ~z);
    }
}

}  // namespace

void ripemd128Init(RIPEMD128_CTX* ctx) {
    ctx->count = 0;
    std::memset(ctx->buffer, 0, sizeof ctx->buffer);
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xEFCDAB89;
    ctx->state[2] = 0x98BADCFE;
    ctx->state[3] = 0x10325476;
}

void ripemd128Compress(RIPEMD128_CTX* ctx, const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = byteorder::le32(block + 4 * i);
    uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3];
    uint32_t ar = a, br = b, cr = c, dr = d;
    for (int j = 0; j < 64; ++j) {
        int round = j / 16;
        uint32_t t = rol(a + f(round, b, c, d) + x[kLeftWord[j]] + kLeftConstant[round], kLeftShift[j]);
        a = d;
        d = c;
        c = b;
        b = t;
        t = rol(ar + f(3 - round, br, cr, dr) + x[kRightWord[j]] + kRightConstant[round], kRightShift[j]);
        ar = dr;
        dr = cr;
        cr = br;
        br = t;
    }
    uint32_t t = ctx->state[1] + c + dr;
    ctx->state[1] = ctx->state[2] + d + ar;
    ctx->state[2] = ctx->state[3] + a + br;
    ctx->state[3] = ctx->state[0] + b + cr;
    ctx->state[0] = t;
}

void ripemd128Update(RIPEMD128_CTX* ctx, const void* data, uint64_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        size_t used = static_cast<size_t>(ctx->count % 64);
        size_t take = 64 - used;
        if (take > length) take = static_cast<size_t>(length);
        std::memcpy(ctx->buffer + used, p, take);
        ctx->count += take;
        p += take;
        length -= take;
        if (used + take == 64) ripemd128Compress(ctx, ctx->buffer);
    }
}

void ripemd128Final(RIPEMD128_CTX* ctx, uint8_t digest[16]) {
    uint64_t bits = ctx->count * 8;
    static const uint8_t kPad[64] = {0x80};
    size_t used = static_cast<size_t>(ctx->count % 64);
    ripemd128Update(ctx, kPad, used < 56 ? 56 - used : 120 - used);
    uint8_t length[8];
    byteorder::putLe32(length, static_cast<uint32_t>(bits));
    byteorder::putLe32(length + 4, static_cast<uint32_t>(bits >> 32));
    ripemd128Update(ctx, length, 8);
    for (int i = 0; i < 4; ++i) byteorder::putLe32(digest + 4 * i, ctx->state[i]);
}
