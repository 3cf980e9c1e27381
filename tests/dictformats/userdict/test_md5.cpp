#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "dictformats/userdict/MD5.h"
#include "tests/common/Bytes.h"

namespace {

// Digest of text fed in pieces of at most piece bytes (0: all at once).
std::string digestOf(const std::string& text, size_t piece) {
    MD5 md5;
    MD5_CTX context;
    md5.init(&context);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    if (piece == 0) piece = text.size() ? text.size() : 1;
    for (size_t i = 0; i < text.size(); i += piece)
        md5.update(&context, p + i, static_cast<int32_t>(std::min(piece, text.size() - i)));
    uint8_t digest[16];
    md5.final(&context, digest);
    return lftest::hexString(digest, 16);
}

}  // namespace

TEST(MD5, PublishedTestSuite) {
    // The test suite of RFC 1321, appendix A.5.
    struct Case {
        const char* input;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.digest, digestOf(c.input, 0)) << '"' << c.input << '"';
}

TEST(MD5, PiecesGiveTheSameDigestAsOneCall) {
    // 200 bytes cross the 64-byte blocks and the 56-byte padding limit in
    // every way the piece sizes allow.
    std::string text;
    for (int i = 0; i < 200; ++i) text += static_cast<char>('A' + i % 53);
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 200u}) {
        const std::string part = text.substr(0, length);
        const std::string whole = digestOf(part, 0);
        for (size_t piece : {1u, 63u, 65u}) EXPECT_EQ(whole, digestOf(part, piece)) << length << " by " << piece;
    }
}

TEST(MD5, NonPositiveLengthAddsNothing) {
    MD5 md5;
    MD5_CTX context;
    md5.init(&context);
    const uint8_t abc[] = {'a', 'b', 'c'};
    md5.update(&context, abc, 0);
    md5.update(&context, abc, -5);
    md5.update(&context, abc, 3);
    uint8_t digest[16];
    md5.final(&context, digest);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", lftest::hexString(digest, 16));
}
