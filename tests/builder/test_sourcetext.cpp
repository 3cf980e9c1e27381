// Source text utilities: the UTF-16 line reader (byte-order marks, line ends,
// the size limit, state per file), the Shift_JIS searches and the 2-byte
// full-width form.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "builder/sources/CUTF16Reader.h"
#include "builder/sources/sourcetext.h"
#include "foundation/FileHandle.h"
#include "tests/common/TestDir.h"

namespace {

typedef std::vector<int> Units;

class UTF16Files : public ::testing::Test {
protected:
    FilePtr open(const std::string& name, const std::vector<unsigned char>& bytes) {
        std::string path = dir.file(name);
        EXPECT_TRUE(lftest::writeFile(path, bytes));
        return FilePtr(std::fopen(path.c_str(), "rb"));
    }
    lftest::TestDir dir;
};

// Every line of a file: the units up to the zero, and whether the line was
// returned (non-null).
struct Line {
    Units units;
    bool returned;
};

std::vector<Line> readLines(FILE* f, int size) {
    std::vector<Line> lines;
    std::vector<int> buffer(static_cast<size_t>(size) + 8, 0x5555);
    for (int guard = 0; guard < 50; ++guard) {
        int* r = readUTF16Line(buffer.data(), size, f);
        for (int i = size; i < size + 8; ++i) EXPECT_EQ(0x5555, buffer[i]) << "written past the buffer";
        Line line;
        for (int i = 0; i < size && buffer[i] != 0; ++i) line.units.push_back(buffer[i]);
        line.returned = r != nullptr;
        lines.push_back(line);
        if (!r) break;
    }
    return lines;
}

TEST_F(UTF16Files, Lines) {
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        int size;
        std::vector<Line> lines;
    } cases[] = {
        {"little-endian mark, CR LF kept",
         {0xFF, 0xFE, 0x41, 0x00, 0x0D, 0x00, 0x0A, 0x00},
         64,
         {{{0x41, 0x0D, 0x0A}, true}, {{}, false}}},
        {"big-endian mark", {0xFE, 0xFF, 0x30, 0x42, 0x00, 0x0A}, 64, {{{0x3042, 0x0A}, true}, {{}, false}}},
        {"no mark reads big-endian",
         {0x00, 0x41, 0x30, 0x42, 0x00, 0x0A},
         64,
         {{{0x41, 0x3042, 0x0A}, true}, {{}, false}}},
        {"lone CR stays in the line",
         {0xFE, 0xFF, 0x00, 0x0D, 0x00, 0x42, 0x00, 0x0A},
         64,
         {{{0x0D, 0x42, 0x0A}, true}, {{}, false}}},
        {"CR at the end of the file ends the line", {0x00, 0x41, 0x00, 0x0D}, 64, {{{0x41, 0x0D}, true}, {{}, false}}},
        {"last line without a line end", {0xFF, 0xFE, 0x41, 0x00, 0x42, 0x00}, 64, {{{0x41, 0x42}, false}}},
        {"odd last byte is a short read", {0x00, 0x41, 0x00}, 64, {{{0x41}, false}}},
        {"empty file", {}, 64, {{{}, false}}},
        {"mark only", {0xFF, 0xFE}, 64, {{{}, false}}},
        {"long line is cut",
         {0x00, 0x41, 0x00, 0x42, 0x00, 0x43, 0x00, 0x0A},
         3,
         {{{0x41, 0x42}, true}, {{0x43, 0x0A}, true}, {{}, false}}},
        {"CR LF at the limit moves to the next line",
         {0x00, 0x41, 0x00, 0x0D, 0x00, 0x0A},
         3,
         {{{0x41}, true}, {{0x0D, 0x0A}, true}, {{}, false}}},
        {"size 2 splits CR LF", {0x00, 0x0D, 0x00, 0x0A}, 2, {{{0x0D}, true}, {{0x0A}, true}, {{}, false}}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FilePtr f = open("f" + std::to_string(n++), c.bytes);
        ASSERT_TRUE(f);
        std::vector<Line> got = readLines(f.get(), c.size);
        ASSERT_EQ(c.lines.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(c.lines[i].units, got[i].units) << "line " << i;
            EXPECT_EQ(c.lines[i].returned, got[i].returned) << "line " << i;
        }
    }
}

TEST_F(UTF16Files, TinySizes) {
    FilePtr f = open("a", {0x00, 0x41, 0x00, 0x0A});
    int buffer[2] = {7, 7};
    EXPECT_EQ(buffer, readUTF16Line(buffer, 1, f.get()));
    EXPECT_EQ(0, buffer[0]);
    EXPECT_EQ(7, buffer[1]);
    EXPECT_EQ(buffer, readUTF16Line(buffer, 0, f.get()));
}

// The byte order and the push-back belong to the file being read.
TEST_F(UTF16Files, StatePerFile) {
    int buffer[16];
    FilePtr le = open("le", {0xFF, 0xFE, 0x41, 0x00, 0x0A, 0x00, 0x42, 0x00, 0x0A, 0x00});
    FilePtr be = open("be", {0x00, 0x43, 0x00, 0x0A});
    ASSERT_TRUE(readUTF16Line(buffer, 16, le.get()));
    EXPECT_EQ(0x41, buffer[0]);
    ASSERT_TRUE(readUTF16Line(buffer, 16, be.get()));
    EXPECT_EQ(0x43, buffer[0]);
    // Back to the first file: still little-endian.
    ASSERT_TRUE(readUTF16Line(buffer, 16, le.get()));
    EXPECT_EQ(0x42, buffer[0]);

    // After a rewind the mark is read again, not returned as text.
    std::rewind(le.get());
    ASSERT_TRUE(readUTF16Line(buffer, 16, le.get()));
    EXPECT_EQ(0x41, buffer[0]);

    // A caller that has read the mark itself: the order still comes from it.
    FilePtr marked = open("m", {0xFF, 0xFE, 0x44, 0x00, 0x0A, 0x00});
    unsigned char mark[2];
    ASSERT_EQ(2u, std::fread(mark, 1, 2, marked.get()));
    ASSERT_TRUE(readUTF16Line(buffer, 16, marked.get()));
    EXPECT_EQ(0x44, buffer[0]);
    // ... and a file without a mark read after it from past its start is big-endian.
    FilePtr plain = open("p", {0x00, 0x45, 0x00, 0x46, 0x00, 0x0A});
    ASSERT_EQ(0, std::fseek(plain.get(), 2, SEEK_SET));
    ASSERT_TRUE(readUTF16Line(buffer, 16, plain.get()));
    EXPECT_EQ(0x46, buffer[0]);

    // A unit pushed back for one file is not delivered from another.
    FilePtr first = open("x", {0x00, 0x41, 0x00, 0x42});
    FilePtr second = open("y", {0x00, 0x43});
    EXPECT_EQ(0x41, readUTF16Char(first.get()));
    ungetUTF16Char(0x41);
    EXPECT_EQ(0x43, readUTF16Char(second.get()));
    EXPECT_EQ(-1, readUTF16Char(second.get()));
    // On the same file the push-back comes back.
    FilePtr again = open("z", {0x00, 0x41, 0x00, 0x42});
    EXPECT_EQ(0x41, readUTF16Char(again.get()));
    ungetUTF16Char(0x41);
    EXPECT_EQ(0x41, readUTF16Char(again.get()));
    EXPECT_EQ(0x42, readUTF16Char(again.get()));
}

// A file opened after another one is closed usually gets the same FILE*; read
// from the position where the old one was left, it still has its own order.
TEST_F(UTF16Files, ReusedHandleAtTheSamePosition) {
    lftest::writeFile(dir.file("le"), std::vector<unsigned char>{0xFF, 0xFE, 0x41, 0x00, 0x0A, 0x00});
    lftest::writeFile(dir.file("be"), std::vector<unsigned char>{0x00, 0x43, 0x00, 0x44, 0x00, 0x45, 0x00, 0x0A});
    int buffer[16];
    FILE* le = std::fopen(dir.file("le").c_str(), "rb");
    ASSERT_NE(nullptr, le);
    ASSERT_TRUE(readUTF16Line(buffer, 16, le));  // little-endian, left at byte 6
    EXPECT_EQ(0x41, buffer[0]);
    std::fclose(le);

    FilePtr be(std::fopen(dir.file("be").c_str(), "rb"));
    ASSERT_TRUE(be);
    ASSERT_EQ(0, std::fseek(be.get(), 6, SEEK_SET));
    ASSERT_TRUE(readUTF16Line(buffer, 16, be.get()));
    EXPECT_EQ(0x0A, buffer[0]);  // the big-endian LF, not 0x0A00
}

TEST_F(UTF16Files, ReadersInterleave) {
    FilePtr a = open("a", {0xFF, 0xFE, 0x41, 0x00, 0x42, 0x00});
    FilePtr b = open("b", {0xFE, 0xFF, 0x00, 0x43, 0x00, 0x44});
    CUTF16Reader ra(a.get()), rb(b.get());
    EXPECT_EQ(0x41, ra.readChar());
    EXPECT_EQ(0x43, rb.readChar());
    EXPECT_EQ(CUTF16Reader::kLittleEndian, ra.byteOrder());
    EXPECT_EQ(CUTF16Reader::kBigEndian, rb.byteOrder());
    EXPECT_EQ(0x42, ra.readChar());
    EXPECT_EQ(0x44, rb.readChar());
    EXPECT_EQ(-1, ra.readChar());
}

const unsigned char* u(const char* s) {
    return reinterpret_cast<const unsigned char*>(s);
}

TEST(ShiftJisSearch, FindByteAndChar) {
    // 0x82 0x41 is one character whose trail byte is "A".
    const char text[] =
        "\x82\x41"
        "A"
        "\x82\xA0";
    EXPECT_EQ(text + 2, findByteSJIS(text, 'A', 5));
    EXPECT_EQ(text, findByteSJIS(text, 0x82, 5));
    EXPECT_EQ(nullptr, findByteSJIS(text, 0x41, 2));
    EXPECT_EQ(nullptr, findByteSJIS(text, 0xA0, 5));  // a trail byte never matches

    EXPECT_EQ(u(text) + 3, findCharSJIS(u(text), u("\x82\xA0"), 5));
    EXPECT_EQ(nullptr, findCharSJIS(u(text), u("AA"), 5));  // bytes 1..2 are "AA" but 1 is a trail byte
    // At a last single byte the missing second byte counts as 0.
    EXPECT_EQ(u(text) + 2, findCharSJIS(u(text), u("A"), 3));
    EXPECT_EQ(nullptr, findCharSJIS(u(text), u("\x41\x82"), 2));
}

TEST(ShiftJisSearch, FindAnyOf) {
    const unsigned char* brackets = u("\x81\x79\x81\x7A");  // the kana separators
    const char* text = "ab\x81\x79kana\x81\x7A";
    EXPECT_EQ(u(text) + 2, findAnyOfSJIS(u(text), brackets, 10));
    EXPECT_EQ(nullptr, findAnyOfSJIS(u(text), brackets, 2));
    // "y" (0x79) in the set does not match the trail byte of 0x81 0x79.
    EXPECT_EQ(nullptr, findAnyOfSJIS(u("\x81\x79"), u("y"), 2));
    EXPECT_EQ(u(text) + 1, findAnyOfSJIS(u(text), u("zb"), 10));
}

TEST(FullWidth, TwoByteForm) {
    const struct {
        const char* what;
        std::string in;
        int outSize;
        std::string out;
    } cases[] = {
        {"letters upper-cased and made full-width", "a1", 64, "\x82\x60\x82\x50"},
        {"two-byte characters kept", "\x82\xA0z", 64, "\x82\xA0\x82\x79"},
        {"control byte kept as 0x00nn", "\t", 64, std::string("\x00\x09", 2)},
        {"lone lead byte at the end", "\x82", 64, std::string("\x00\x82", 2)},
        {"output bound keeps whole units", "abc", 5, "\x82\x60\x82\x61"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> out(static_cast<size_t>(c.outSize) + 4, 0x55);
        int n = toFullWidthSJIS(out.data(), u(c.in.c_str()), static_cast<int>(c.in.size()), c.outSize);
        EXPECT_EQ(c.out, std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(n)));
        EXPECT_EQ(0, out[static_cast<size_t>(n)]);
        EXPECT_EQ(0x55, out[static_cast<size_t>(c.outSize)]);
    }
}

TEST(FullWidth, JisForm) {
    unsigned char out[600];
    EXPECT_EQ(4, toFullWidthJIS(out, u("a1"), 2));
    EXPECT_EQ(std::string("\x23\x41\x23\x31"), std::string(reinterpret_cast<char*>(out)));

    // Longer input than the work buffer holds is cut at a character.
    std::string many(400, 'a');
    EXPECT_EQ(582, toFullWidthJIS(out, u(many.c_str()), 400));
    std::string jis(reinterpret_cast<char*>(out));
    EXPECT_EQ(582u, jis.size());
    EXPECT_EQ("\x23\x41", jis.substr(580));

    // A single byte without a full-width form ends the converted text.
    EXPECT_EQ(6, toFullWidthJIS(out, u("a\tb"), 3));
    EXPECT_EQ(std::string("\x23\x41"), std::string(reinterpret_cast<char*>(out)));
}

}  // namespace
