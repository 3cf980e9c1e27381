// BOCU-1 coding: the library's coder and the test-side writer's coder are
// both pinned to fixed published vectors, so a fixture written by the one
// means the same to the other.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/pdic/CBocu1.h"
#include "tests/common/PdicWriter.h"

namespace {

struct Vector {
    const char* name;
    std::u32string text;
    std::vector<uint8_t> bytes;
};

const Vector kVectors[] = {
    {"ascii", U"apple", {0xB1, 0xC0, 0xC0, 0xBC, 0xB5}},
    {"capital", U"Apple", {0x91, 0xC0, 0xC0, 0xBC, 0xB5}},
    {"key tab word", U"apple\tApple", {0xB1, 0xC0, 0xC0, 0xBC, 0xB5, 0x09, 0x91, 0xC0, 0xC0, 0xBC, 0xB5}},
    {"latin1", U"café", {0xB3, 0xB1, 0xB6, 0xD0, 0x76}},
    {"hiragana", U"あい", {0xFB, 0x11, 0x59, 0x64}},
    {"kanji", U"日本語", {0xFB, 0x4C, 0xD4, 0x3F, 0x8B, 0xE4, 0x5E}},
    {"hangul", U"가", {0xFB, 0x96, 0xB1}},
    {"bom", U"\uFEFF", {0xFB, 0xEE, 0x28}},
    {"astral", U"x\U0001F600y", {0xC8, 0xFC, 0xFF, 0x5D, 0x23, 0x01, 0xA9}},
    {"moscow", U"“Moscow” is Москва.", {0xF1, 0x56, 0x2E, 0xA0, 0xBF, 0xC3, 0xB3, 0xBF, 0xC7, 0xF1, 0x57, 0x20, 0x2E,
                                        0xBC, 0xC3, 0x20, 0xD3, 0xD0, 0x8E, 0x91, 0x8A, 0x82, 0x80, 0x4B, 0xFA}},
};

std::u32string decode(const std::vector<uint8_t>& b, size_t cap, bool* cut = nullptr, bool* bad = nullptr) {
    // One guard element behind the capacity.
    std::vector<uint32_t> out(cap + 1, 0xDEADu);
    const size_t n = CBocu1::decode(b.data(), b.size(), out.data(), cap, cut, bad);
    EXPECT_LT(n, cap);
    EXPECT_EQ(out[n], 0u) << "not terminated";
    EXPECT_EQ(out[cap], 0xDEADu) << "wrote past the capacity";
    return std::u32string(out.begin(), out.begin() + n);
}

TEST(PdicBocu1, FixedVectorsEncodeAndDecode) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(lftest::pdicBocu1(v.text), v.bytes) << "test-side writer";
        std::vector<uint32_t> cps(v.text.begin(), v.text.end());
        std::vector<uint8_t> enc;
        CBocu1::encode(cps.data(), cps.size(), &enc);
        EXPECT_EQ(enc, v.bytes) << "library encoder";
        bool bad = true;
        EXPECT_EQ(decode(v.bytes, 64, nullptr, &bad), v.text);
        EXPECT_FALSE(bad);
    }
}

TEST(PdicBocu1, BrokenInputGivesReplacementWithoutOverread) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::u32string text;
    } cases[] = {
        // FB needs two trail bytes; the string ends after one.
        {"truncated at the end", {0xB1, 0xFB, 0x11}, U"a\uFFFD"},
        // 07 cannot be a trail byte: the lead fails, 07 is decoded on its own.
        {"invalid trail byte",
         {0xD0, 0x07, 0xB1},
         U"\uFFFD\x07"
         U"a"},
        // FE with the largest trails lands far above U+10FFFF.
        {"code point too large", {0xFE, 0xFF, 0xFF, 0xFF, 0xB1}, U"\uFFFDa"},
        // Decoding stops at a NUL even when the length says more.
        {"stops at NUL", {0xB1, 0x00, 0xB2}, U"a"},
        // FF resets the state and produces nothing.
        {"reset byte", {0xFB, 0x11, 0x59, 0xFF, 0xB1}, U"あa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Decode from a heap copy of exactly the string's size, so that
        // AddressSanitizer sees any read beyond it.
        std::vector<uint8_t> exact(c.bytes);
        EXPECT_EQ(decode(exact, 16), c.text);
    }
}

// Truncation is what the reader treats as a corrupt entry; an invalid trail
// byte is not truncation (the decoder replaces it and resynchronises).
TEST(PdicBocu1, TruncatedSequenceIsDetected) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool truncated;
    } cases[] = {
        {"complete text", {0xFB, 0x11, 0x59, 0x64}, false},
        {"empty", {}, false},
        {"lead needs two trails, one left", {0xB1, 0xFB, 0x11}, true},
        {"lead is the last byte", {0xB1, 0xD0}, true},
        {"NUL in trail position", {0xFB, 0x11, 0x00, 0xB2}, true},
        {"four-byte lead with two trails", {0x21, 0x01, 0x01}, true},
        {"invalid trail byte", {0xD0, 0x07, 0xB1}, false},
        {"invalid trail byte, then a cut lead", {0xD0, 0x07, 0xFB}, true},
        {"a lead byte taken as a trail", {0xD0, 0xFE}, false},
        {"text ends at its NUL", {0xB1, 0x00, 0xFB}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> exact(c.bytes);  // heap copy of exactly its size
        EXPECT_EQ(CBocu1::truncated(exact.data(), exact.size()), c.truncated);
    }
}

TEST(PdicBocu1, OutputIsCutAtCapacity) {
    const std::vector<uint8_t> apple = lftest::pdicBocu1(U"apple");
    bool cut = false;
    EXPECT_EQ(decode(apple, 3, &cut), U"ap");
    EXPECT_TRUE(cut);
    EXPECT_EQ(decode(apple, 1, &cut), U"");
    EXPECT_TRUE(cut);
    EXPECT_EQ(decode(apple, 6, &cut), U"apple");
    EXPECT_FALSE(cut);
}

}  // namespace
