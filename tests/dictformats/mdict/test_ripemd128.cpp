// RIPEMD-128 against the published test vectors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dictformats/mdict/Ripemd128.h"
#include "tests/common/Bytes.h"

namespace {

std::string digestInPieces(const std::string& message, size_t piece) {
    RIPEMD128_CTX ctx;
    ripemd128Init(&ctx);
    for (size_t i = 0; i < message.size(); i += piece)
        ripemd128Update(&ctx, message.data() + i, std::min(piece, message.size() - i));
    uint8_t d[16];
    ripemd128Final(&ctx, d);
    return lftest::hexString(d, 16);
}

}  // namespace

TEST(Ripemd128, PublishedVectorsWholeAndInPieces) {
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "cdf26213a150dc3ecb610f18f6b38b46"},
        {"a", "86be7afa339d0fc7cfc785e72f578d33"},
        {"abc", "c14a12199c66e4ba84636b0f69144c77"},
        {"message digest", "9e327b3d6e523062afc1132d7df9d1b8"},
        {"abcdefghijklmnopqrstuvwxyz", "fd2aa607f71dc8f510714922b371834e"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "a1aa0689d0fafa2ddc22e88b49133a06"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "3f45ef194732c2dbb2c4a2c769795fa3"},
        {std::string(1000000, 'a'), "4a7f5723f954eba1216c9d8f6320431f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 20));
        for (size_t piece : {c.message.size() + 1, size_t(4), size_t(63), size_t(1)}) {
            if (piece == 1 && c.message.size() > 1000) continue;
            EXPECT_EQ(c.digest, digestInPieces(c.message, piece)) << "pieces of " << piece;
        }
    }
}

TEST(Ripemd128, FourAndFourBytesAsTheReaderFeedsThem) {
    const uint8_t bytes[8] = {0x12, 0x34, 0x56, 0x78, 0x95, 0x36, 0x00, 0x00};
    RIPEMD128_CTX a, b;
    uint8_t da[16], db[16];
    ripemd128Init(&a);
    ripemd128Update(&a, bytes, 8);
    ripemd128Final(&a, da);
    ripemd128Init(&b);
    ripemd128Update(&b, bytes, 4);
    ripemd128Update(&b, bytes + 4, 4);
    ripemd128Final(&b, db);
    EXPECT_EQ(0, memcmp(da, db, 16));
}
