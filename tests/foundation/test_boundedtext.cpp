// The bounded-append helper: whole pieces or nothing, and cut pieces that
// never split a two-byte Shift_JIS character; always terminated, never past
// the capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/CBoundedText.h"

TEST(BoundedText, CutAtACharacterBoundary) {
    // "ab" then the two-byte characters 0x82A0 0x82A2.
    const std::string piece = "ab\x82\xA0\x82\xA2";
    struct Case {
        const char* what;
        size_t size;
        std::string expected;
        bool whole;
    } cases[] = {
        {"everything fits", 7, piece, true},
        {"the last character does not fit", 6, "ab\x82\xA0", false},
        {"half a character never", 5, "ab\x82\xA0", false},
        {"only the ASCII part", 4, "ab", false},
        {"one byte and the NUL", 2, "a", false},
        {"the NUL alone", 1, "", false},
    };
    for (const Case& c : cases) {
        char out[16];
        memset(out, '#', sizeof out);
        CBoundedText text(out, c.size);
        EXPECT_EQ(text.appendCut(piece.data(), piece.size()), c.whole) << c.what;
        EXPECT_EQ(std::string(out), c.expected) << c.what;
        EXPECT_EQ(text.length(), c.expected.size()) << c.what;
        for (size_t i = c.size; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << c.what << ": byte " << i;
    }
    // No buffer takes nothing.
    CBoundedText none(nullptr, 0);
    EXPECT_FALSE(none.appendCut("a", 1));
    EXPECT_TRUE(none.appendCut("", 0));
}
