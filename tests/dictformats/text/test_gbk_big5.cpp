// GBK and Big5 conversions and the key order of dictionaries in those codes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dictformats/text/GbkBig5.h"

namespace {

typedef int (*ToWide)(uint32_t*, const uint8_t*, uint32_t);
typedef int (*FromWide)(uint8_t*, const uint32_t*, uint32_t);

std::vector<uint32_t> toWide(ToWide f, const std::vector<uint8_t>& in) {
    int n = f(nullptr, in.data(), static_cast<uint32_t>(in.size()));
    std::vector<uint32_t> out(static_cast<size_t>(n) + 1, 0xFFFF);
    EXPECT_EQ(n, f(out.data(), in.data(), static_cast<uint32_t>(in.size())));
    EXPECT_EQ(0u, out.back());
    out.pop_back();
    return out;
}

std::vector<uint8_t> fromWide(FromWide f, const std::vector<uint32_t>& in) {
    int n = f(nullptr, in.data(), static_cast<uint32_t>(in.size()));
    std::vector<uint8_t> out(static_cast<size_t>(n) + 1, 0xEE);
    EXPECT_EQ(n, f(out.data(), in.data(), static_cast<uint32_t>(in.size())));
    EXPECT_EQ(0u, out.back());
    out.pop_back();
    return out;
}

const uint8_t* u8(const char* s) {
    return reinterpret_cast<const uint8_t*>(s);
}

}  // namespace

TEST(GbkBig5, TableLookups) {
    struct Case {
        int (*lookup)(int);
        int code;
        int unicode;
    } cases[] = {
        {gbkLookup, 0xB0A1, 0x554A},  {gbkLookup, 0xA1A1, 0x3000},  {gbkLookup, 0x8140, 0x4E02},
        {gbkLookup, 0x8130, 0},       {gbkLookup, 0x80A1, 0},       {gbkLookup, 0xFFA1, 0},
        {gbkLookup, 0xA2A0, 0},       {gbkLookup, -1, 0},           {big5Lookup, 0xA440, 0x4E00},
        {big5Lookup, 0xA140, 0x3000}, {big5Lookup, 0xC940, 0x4E42}, {big5Lookup, 0xF9F9, 0x2550},
        {big5Lookup, 0xC7A1, 0},      {big5Lookup, 0xC6A1, 0},      {big5Lookup, 0xFA40, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.unicode, c.lookup(c.code)) << std::hex << c.code;
}

TEST(GbkBig5, ToWide) {
    struct Case {
        ToWide f;
        std::vector<uint8_t> in;
        std::vector<uint32_t> out;
    } cases[] = {
        {gbkToWide, {0xB0, 0xA1, 0x41}, {0x554A, 0x41}},
        {gbkToWide, {0x81, 0x30, 0x42}, {0x42}},  // a trail byte below 0x40 drops the pair
        {gbkToWide, {0x41, 0xB0}, {0x41}},        // a lead byte at the end is never read past
        {gbkToWide, {0x41, 0x00, 0x42}, {0x41}},
        {big5ToWide, {0xA4, 0x40, 0xC7, 0x41}, {0x4E00, 0xC7, 0x41}},  // 0xC7 is a single byte
        {big5ToWide, {0xC9, 0x40}, {0x4E42}},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cases[i].out, toWide(cases[i].f, cases[i].in)) << i;
}

TEST(GbkBig5, FromWide) {
    struct Case {
        FromWide f;
        std::vector<uint32_t> in;
        std::vector<uint8_t> out;
    } cases[] = {
        {wideToGbk, {0x554A}, {0xB0, 0xA1}},
        {wideToGbk, {0xC0}, {0xC0}},  // not in the table: the low byte
        {wideToGbk, {0x41}, {0x41}},  // ASCII is not in the table
        {wideToGbk, {0x20AC}, {0x00, 0x80}},
        {wideToGbk, {0x41, 0, 0x42}, {0x41}},
        {wideToBig5, {0x4E00, 0x3000}, {0xA4, 0x40, 0xA1, 0x40}},
        // Two Big5 codes: the one the source codec encodes to.
        {wideToBig5, {0x5341}, {0xA4, 0x51}},
        {wideToBig5, {0x2550}, {0xA2, 0xA4}},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cases[i].out, fromWide(cases[i].f, cases[i].in)) << i;
}

TEST(GbkBig5, EveryMappedCodeRoundTrips) {
    int gbk = 0, big5 = 0;
    for (int code = 0x8100; code <= 0xFEFF; ++code) {
        for (int pass = 0; pass < 2; ++pass) {
            int u = pass == 0 ? gbkLookup(code) : big5Lookup(code);
            if (u == 0) continue;
            (pass == 0 ? gbk : big5)++;
            uint32_t w[2] = {static_cast<uint32_t>(u), 0};
            uint8_t out[3];
            int n = pass == 0 ? wideToGbk(out, w, 1) : wideToBig5(out, w, 1);
            ASSERT_EQ(2, n) << std::hex << code;
            int back = pass == 0 ? gbkLookup((out[0] << 8) | out[1]) : big5Lookup((out[0] << 8) | out[1]);
            EXPECT_EQ(u, back) << std::hex << code;
        }
    }
    EXPECT_EQ(21791, gbk);
    EXPECT_EQ(13503, big5);
}

TEST(GbkBig5, KeyOrder) {
    struct Case {
        int (*compare)(const uint8_t*, const uint8_t*, uint64_t);
        const char* a;
        const char* b;
        uint64_t n;
        int sign;
    } cases[] = {
        {gbkKeyCompare, "a-b", "AB", 2, 0},
        {gbkKeyCompare, "AB", "a-b", 2, 1},  // the second key is never skipped in
        {gbkKeyCompare, "abc", "abd", 3, -1},
        {gbkKeyCompare, "abc", "abd", 2, 0},
        {gbkKeyCompare, "x", "y", 0, 0},
        {gbkKeyCompare, "ab-", "AB-", 3, 0},  // a last hyphen is not skipped
        {gbkKeyCompare, "\xB0\xA1", "\xB0\xA2", 1, -1},
        {gbkKeyCompare, "\xB0\xA1", "a", 1, 1},
        {big5KeyCompare, "\xA4", "\xA4", 2, 0},  // a lead byte before the end is one byte
        {big5KeyCompare, "\xA4\x40", "\xA4\x41", 1, -1},
        {big5KeyCompare, "\xC7\x41", "\xC7\x42", 1, 0},  // 0xC7 is a single byte
    };
    for (const Case& c : cases) {
        int r = c.compare(u8(c.a), u8(c.b), c.n);
        EXPECT_EQ(c.sign, (r > 0) - (r < 0)) << c.a << " / " << c.b << " over " << c.n;
    }
}
