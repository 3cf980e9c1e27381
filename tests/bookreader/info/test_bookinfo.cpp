// The book information text: the whole text of a small hand-made book, the
// protection words and attribute letters, multi-search definitions, raw
// files, line ends, and buffers of every size (the text stays inside them
// and is always terminated).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "foundation/book/CBookFile.h"
#include "tests/bookreader/HandBook.h"
#include "tests/common/TestDir.h"

using lftest::HandBook;

namespace {

std::string attr(int value, int category) {
    return CBookFile::catalogAttributeName(value, category);
}

// An EPWING book: body text, a word index with valid information, a menu
// without, and a multi search with one field of one sub-index.
std::string infoBook(const lftest::TestDir& dir, uint8_t protection) {
    HandBook b;
    b.headerByte(2, 0x60).headerByte(3, protection).headerByte(5, 1).headerByte(6, 0).headerByte(7, 1);
    b.area(0x00, 2, 1, {1});
    b.area(0x91, 3, 2, {2, 0xC0, 0x00, 0x00});
    b.area(0x01, 5, 1, {1, 0x41, 0x55, 0x40});
    b.area(0xFF, 6, 1, {1});
    // One definition: one sub-index, label 名前 (JIS 4C3E 4130).
    b.put(6, 0, {0x00, 0x01});
    b.put(6, 16, {0x01, 0x00, 0x4C, 0x3E, 0x41, 0x30});
    b.put(6, 48, {0x91, 0x00, 0, 0, 0, 10, 0, 0, 0, 2});
    b.put(6, 2047, {0});
    return b.write(dir.path(), "HONMON");
}

std::string fullText(const std::string& e, uint8_t protection) {
    std::string t = "[EPWING V1]" + e + "Number of items\t= 4" + e + "Book type\t= 60H : " + attr(0x60, 1) + e;
    char head[32];
    snprintf(head, sizeof head, "Protection\t= %02XH : ", protection);
    t += head;
    for (int bit : {0x01, 0x02, 0x04, 0x08}) t += attr(bit, 2) + ":" + ((protection & bit) ? "none " : "allow ");
    t += e + "                   : ";
    for (int bit : {0x10, 0x20, 0x80}) t += attr(bit, 2) + ":" + ((protection & bit) ? "allow " : "none ");
    t += e;
    t += "How to treat the indexing information\t= 00H : " + attr(0, 3) + e;
    t += "Validity Flag\t= 01H : " + attr(1, 4) + e;
    t += "How to display search results\t= 00H : " + attr(0, 5) + e;
    t += "How to display text\t= 01H : " + attr(1, 6) + e;
    t += e + "[ID] item name                      start  size  kasctygdh" + e;
    char line[128];
    CBookFile names;
    for (auto row : {std::make_tuple(0x00, 2, 1, ""), std::make_tuple(0x91, 3, 2, "Kasctygdh"),
                     std::make_tuple(0x01, 5, 1, ""), std::make_tuple(0xFF, 6, 1, "")}) {
        snprintf(line, sizeof line, "[%02X] %-30s %5d %5d  %s", std::get<0>(row), names.indexTypeName(std::get<0>(row)),
                 std::get<1>(row), std::get<2>(row), std::get<3>(row));
        t += line + e;
    }
    snprintf(line, sizeof line, "  [91] %-28s %5d %5d", names.indexTypeName(0x91), 10, 2);
    t += " <\x96\xBC\x91\x4F>" + e + line + e;
    return t + e;
}

}  // namespace

TEST(BookInformation, WholeTextOfAnEpwingBook) {
    lftest::TestDir dir;
    for (uint8_t protection : {0x00, 0xFF, 0x15}) {
        CEBReader reader;
        ASSERT_EQ(reader.open(infoBook(dir, protection).c_str(), 1, 1), 1);
        std::vector<char> out(8192, 'x');
        uint32_t n = reader.bookInformation(out.data(), static_cast<uint32_t>(out.size()), 1);
        EXPECT_EQ(std::string(out.data()), fullText("\r\n", protection)) << "protection " << int(protection);
        EXPECT_EQ(n, strlen(out.data()));
        reader.bookInformation(out.data(), static_cast<uint32_t>(out.size()), 0);
        EXPECT_EQ(std::string(out.data()), fullText("\r", protection));
    }
}

TEST(BookInformation, EbFormats) {
    lftest::TestDir dir;
    HandBook b;
    b.area(0x00, 2, 1);
    b.area(0xF2, 3, 1);
    b.put(3, 8, {8, 16, 0x01, 0x21, 0, 1});  // ISO 8859-1 font
    b.put(3, 2047, {0});
    CEBReader latin;
    ASSERT_EQ(latin.open(b.write(dir.path(), "START").c_str(), 1, 0), 1);
    char out[1024];
    latin.bookInformation(out, sizeof out, 1);
    EXPECT_EQ(std::string(out).substr(0, 7), "[EBG]\r\n");
    latin.setLatin1(0);
    latin.bookInformation(out, sizeof out, 1);
    EXPECT_EQ(std::string(out).substr(0, 8), "[EBXA]\r\n");
    latin.setInfoFlag(1);
    latin.bookInformation(out, sizeof out, 1);
    EXPECT_EQ(std::string(out).substr(0, 10), "[EBXA-C]\r\n");
}

TEST(BookInformation, RawFileStartsWithAnEmptyLine) {
    lftest::TestDir dir;
    lftest::writeFile(dir.file("DATA"), std::string(4096, 'a'));
    CEBReader reader;
    ASSERT_EQ(reader.open(dir.file("DATA").c_str(), 1, 0), 1);
    char out[1024];
    reader.bookInformation(out, sizeof out, 1);
    EXPECT_EQ(std::string(out).substr(0, 23), "\r\nNumber of items\t= 0\r\n");
}

TEST(BookInformation, EveryBufferSizeStaysInsideAndIsTerminated) {
    lftest::TestDir dir;
    CEBReader reader;
    ASSERT_EQ(reader.open(infoBook(dir, 0).c_str(), 1, 1), 1);
    const std::string full = fullText("\r\n", 0);
    // A large buffer: the text stops at the first piece boundary at or
    // after size - 255.
    for (uint32_t size = 0; size < full.size() + 300; ++size) {
        std::vector<char> out(size + 64, '#');
        uint32_t n = reader.bookInformation(out.data(), size, 1);
        for (size_t i = size; i < out.size(); ++i) ASSERT_EQ(out[i], '#') << "size " << size << " wrote past the end";
        if (size == 0) {
            EXPECT_EQ(n, 0u);
            continue;
        }
        ASSERT_LT(n, size) << size;
        ASSERT_EQ(out[n], '\0') << size;
        std::string text(out.data(), n);
        EXPECT_EQ(full.compare(0, n, text), 0) << "size " << size << ": not a prefix of the text";
        if (size <= 255) {
            // The first piece, cut to fit.
            EXPECT_EQ(text, full.substr(0, std::min<size_t>(13, size - 1))) << size;
        } else if (n < full.size()) {
            EXPECT_GE(n, size - 255) << size;
        }
    }
}
