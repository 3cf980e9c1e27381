// The tagged text decoder with the reader's tag set: one golden per escape
// family, the page rules, escape substitution, the heading set, and books
// whose bytes end or loop where they should not.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "tests/bookreader/HandBook.h"
#include "tests/common/TestDir.h"

using lftest::codeBytes;
using lftest::HandBook;

namespace {

enum Family { EPWING, EB };

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> raw(std::initializer_list<unsigned> bytes) {
    std::vector<uint8_t> out;
    for (unsigned b : bytes) out.push_back(static_cast<uint8_t>(b));
    return out;
}

// A book whose body text (area 0x00, blocks 2-3) holds the bytes at block 2.
struct TextBook {
    lftest::TestDir dir;
    CEBReader reader;
    TextBook(Family family, const std::vector<uint8_t>& text, uint8_t areaId = 0x00, const char* name = nullptr) {
        HandBook b;
        b.area(areaId, 2, 2);
        b.put(2, 0, text);
        std::string path = b.write(dir.path(), name ? name : family == EPWING ? "HONMON" : "START");
        EXPECT_EQ(reader.open(path.c_str(), 1, 0), 1);
    }
    std::string read(int pageStop = 0, uint32_t block = 2, uint32_t offset = 0, uint32_t capacity = 4096) {
        reader.seekBlock(block);
        if (offset) reader.setOffset(static_cast<int>(offset));
        std::vector<char> out(capacity + 1, '\x7F');
        uint32_t n = 0;
        uint32_t r = reader.readText(out.data(), capacity, &n, pageStop, 0);
        EXPECT_EQ(r, n);
        EXPECT_EQ(out[capacity], '\x7F') << "wrote past the capacity";
        if (n < capacity) {
            EXPECT_EQ(out[n], 0) << "not terminated";
        }
        return std::string(out.data(), n);
    }
};

}  // namespace

TEST(Decoder, EscapeFamilies) {
    struct Case {
        const char* what;
        Family family;
        std::vector<uint8_t> text;
        std::string expect;
    } cases[] = {
        {"text begin and end around characters", EPWING, codeBytes({0x1F02, 0x2422, 0x2424, 0x1F03}),
         "<BODY>\x82\xA0\x82\xA2</BODY>"},
        {"narrow mode folds full-width letters", EPWING, codeBytes({0x1F04, 0x2341, 0x2362, 0x1F05, 0x2341}),
         "Ab\x82\x60"},
        {"entities for folded & < >", EPWING, codeBytes({0x1F04, 0x2175, 0x2163, 0x2164, 0x1F05}), "&amp;&lt;&gt;"},
        {"the long vowel mark is not folded", EPWING, codeBytes({0x1F04, 0x213C, 0x1F05}), "\x81\x5B"},
        {"indent operand is binary", EPWING, codeBytes({0x1F09, 0x000C}), "<INDENT=12>"},
        {"indent above 99 writes nothing", EPWING, codeBytes({0x1F09, 0x0064, 0x2422}), "\x82\xA0"},
        {"newline", EPWING, codeBytes({0x1F0A}), "<BR>"},
        {"subscript and superscript", EPWING, codeBytes({0x1F06, 0x2331, 0x1F07, 0x1F0E, 0x2332, 0x1F0F}),
         "<SUB>\x82\x50</SUB><SUP>\x82\x51</SUP>"},
        {"code point of four digits", EPWING, codeBytes({0x1F0B, 0x2330, 0x2345, 0x2339, 0x1F0C}), "&u00E9;"},
        {"code point of five digits", EPWING, codeBytes({0x1F0B, 0x2332, 0x2330, 0x2342, 0x2339, 0x2346, 0x1F0C}),
         "&u20B9F;"},
        {"0x1F0B before an escape is a table", EPWING, codeBytes({0x1F0B, 0x1F0A, 0x1F0C}), "<TABLE><BR></TABLE>"},
        {"EPWING 0x1F12 is bold", EPWING, codeBytes({0x1F12, 0x2422, 0x1F13}), "<B>\x82\xA0</B>"},
        {"EB 0x1F12 is underline", EB, codeBytes({0x1F12, 0x2422, 0x1F13}), "<U>\x82\xA0</U>"},
        {"decoration 1 is italic, 3 bold", EPWING,
         codeBytes({0x1FE0, 0x0001, 0x2422, 0x1FE1, 0x1FE0, 0x0003, 0x2424, 0x1FE1}), "<I>\x82\xA0</I><B>\x82\xA2</B>"},
        {"reference with its target", EPWING,
         cat({codeBytes({0x1F42, 0x2422, 0x1F62}), raw({0x00, 0x00, 0x01, 0x23, 0x00, 0x45})}),
         "<LINK>\x82\xA0</LINK[0000007B:002D]>"},
        {"menu reference", EPWING,
         cat({codeBytes({0x1F43, 0x2422, 0x1F63}), raw({0x00, 0x00, 0x00, 0x09, 0x02, 0x00})}),
         "<MENU>\x82\xA0</MENU[00000009:00C8]>"},
        {"keyword", EPWING, codeBytes({0x1F41, 0x0160, 0x2422, 0x1F61}), "<HEAD>\x82\xA0</HEAD>"},
        {"gaiji outside any font are wide", EPWING, codeBytes({0xB121, 0xA121}), "&zB121;&zA121;"},
        {"gaiji in narrow mode are narrow", EPWING, codeBytes({0x1F04, 0xA121, 0x1F05}), "&hA121;"},
        {"EB code with bit 0x80", EB, codeBytes({0x24A2}), "&gA4A2;"},
        {"colour chart number", EPWING,
         cat({codeBytes({0x1F14}), raw({0x1E, 0x12, 0x1E, 0x34, 0x00, 0x00}), codeBytes({0x2422})}),
         "<COLCHART=1234>\x82\xA0"},
        {"tab", EPWING, cat({codeBytes({0x1F1A}), raw({0x00, 0x12})}), "<TAB=12>"},
        {"EPWING sound", EPWING,
         cat({codeBytes({0x1F4A}),
              raw({0x00, 0x01, 0x12, 0x34, 0x00, 0x00, 0x00, 0x10, 0x00, 0x20, 0x00, 0x00, 0x00, 0x11, 0x00, 0x40}),
              codeBytes({0x2422, 0x1F6A})}),
         "<WAV>\x82\xA0</WAV[0000000A:0014][0000000B:0028](1:1:2:3:4)>"},
        {"movie with its name", EPWING,
         cat({codeBytes({0x1F39}), raw({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              codeBytes({0x234D, 0x236F, 0x2376, 0x2132, 0x2331, 0, 0, 0}), raw({0, 0, 0, 0, 0, 0, 0, 0}),
              codeBytes({0x1F59})}),
         "<MOV>\x81\xA8</MOV[Mov_1   ]>"},
        {"movie name bytes that could end the tag become _", EPWING,
         cat({codeBytes({0x1F39}), raw({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              codeBytes({0x3E3E, 0x5D5D, 0x2361, 0, 0, 0, 0, 0}), raw({0, 0, 0, 0, 0, 0, 0, 0}), codeBytes({0x1F59})}),
         "<MOV>\x81\xA8</MOV[__a     ]>"},
        // Kind 0900 (JPEG), 0, two unused words, width 720 and height 477
        // (BCD), the data's position, the alternative text, 0x1F5C.
        {"inline figure with its size and alternative text", EPWING,
         cat({codeBytes({0x1F3C}), raw({0x09, 0x00, 0x00, 0x00}), codeBytes({0, 0}), raw({0x07, 0x20, 0x04, 0x77}),
              raw({0x00, 0x00, 0x00, 0x30, 0x01, 0x00}), codeBytes({0x2422, 0x1F5C, 0x2424})}),
         "<INL>\x82\xA0</INL[0000001E:0064](0720*0477:1)>\x82\xA2"},
        {"a reference inside an inline figure's text leaves the figure's position", EPWING,
         cat({codeBytes({0x1F3C}), raw({0x00, 0x00, 0x00, 0x00}), codeBytes({0, 0}), raw({0x00, 0x16, 0x00, 0x09}),
              raw({0x00, 0x00, 0x00, 0x30, 0x01, 0x00}), codeBytes({0x1F42, 0x2422, 0x1F62}),
              raw({0x00, 0x00, 0x01, 0x23, 0x00, 0x45}), codeBytes({0x1F5C})}),
         "<INL><LINK>\x82\xA0</LINK[0000007B:002D]></INL[0000001E:0064](0016*0009:1)>"},
        {"empty colour figure gets an arrow and the kanji for figure", EPWING,
         cat({codeBytes({0x1F4D}), raw({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x31, 0, 0x10}),
              codeBytes({0x1F6D})}),
         "<FIG>\x81\xA8\x90\x7D</FIG[0000001F:000A](0000*0000:1)>"},
        {"anchor target is folded and cannot end its attribute", EPWING,
         codeBytes({0x1F3B, 0x2361, 0x2149, 0x2140, 0x1F0A, 0x2422, 0x1F5B}), "<A href=\"a__\">\x82\xA0</A>"},
        {"an unknown escape writes nothing", EPWING, codeBytes({0x1F99, 0x2422}), "\x82\xA0"},
        {"EB newline suppression", EB, codeBytes({0x1FFE, 0x1F0A, 0x1FFF, 0x1F0A}), "<BR>"},
    };
    for (const auto& c : cases) {
        TextBook book(c.family, c.text);
        EXPECT_EQ(book.read(), c.expect) << c.what;
    }
}

TEST(Decoder, BooksWithASoundMap) {
    // A "*.IDX" book: sound external characters, embedded images and colours.
    std::vector<uint8_t> name16 = codeBytes({0x2353, 0x2331, 0, 0, 0, 0, 0, 0});
    struct Case {
        const char* what;
        std::vector<uint8_t> text;
        std::string expect;
    } cases[] = {
        {"sound external character", cat({codeBytes({0xA427}), name16, codeBytes({0xA428})}),
         " <SND>\x81\xA8</SND[S1      ]>"},
        {"sound external character without its end", cat({codeBytes({0xA427}), name16, codeBytes({0x2422})}), ""},
        {"embedded image",
         cat({codeBytes({0x1FE2, 0x0007, 0x2349, 0x234D, 0x2347, 0x2127}),
              codeBytes({0x2361, 0x2125, 0x234A, 0x2350, 0x2347, 0, 0, 0, 0, 0, 0, 0}), codeBytes({0x1FE3, 0x2422})}),
         "\x81\xA8<IMG src=\"a.JPG\"></IMG>\x82\xA0"},
        {"colour",
         cat({codeBytes({0x1FE2, 0x0007, 0x2343, 0x234F, 0x234C, 0x2127, 0x2343}),
              codeBytes({0x2330, 0x2330, 0x2330, 0x2330, 0x2346, 0x2346}), codeBytes({0x1FE3})}),
         "<COL=FF0000>\x81\xA1</COL>"},
        {"other decorations are passed over", codeBytes({0x1FE2, 0x0001, 0x2422, 0x1FE3, 0x2424}), "\x82\xA2"},
    };
    for (const auto& c : cases) {
        TextBook book(EPWING, c.text, 0x00, "DATA.IDX");
        ASSERT_TRUE(book.reader.hasWaveFileMap());
        EXPECT_EQ(book.read(), c.expect) << c.what;
    }
}

TEST(Decoder, TextEndStopsAndTheNextDecodeStartsAtIt) {
    TextBook book(EPWING, codeBytes({0x2422, 0x1F03, 0x2424}));
    EXPECT_EQ(book.read(), "\x82\xA0</BODY>");
    uint64_t end = book.reader.lastTextEnd();
    EXPECT_EQ(end, packPosition(2, 2)) << "the end points at the 0x1F03";
    EXPECT_EQ(book.read(0, 2, static_cast<uint32_t>(end & 0xFFFF)), "</BODY>");
}

TEST(Decoder, PageRules) {
    // Entries that open with 0x1F09 0001 0x1F41 q page on 0x1F41 q.
    std::vector<uint8_t> entries = codeBytes({0x1F09, 0x0001, 0x1F41, 0x0160, 0x2422, 0x1F61, 0x1F0A, 0x1F09, 0x0001,
                                              0x1F41, 0x0160, 0x2424, 0x1F61, 0x1F0A});
    {
        TextBook book(EPWING, entries);
        EXPECT_EQ(book.read(1), "<INDENT=01><HEAD>\x82\xA0</HEAD><BR><INDENT=01><PAGE>")
            << "stops at the second keyword after text";
        EXPECT_EQ(book.reader.lastTextEnd(), packPosition(2, 18)) << "end at the page escape";
        // From there the first keyword opens the page and does not count.
        EXPECT_EQ(book.read(1, 2, 18), "<HEAD>\x82\xA2</HEAD><BR>");
    }
    {
        // Without the page stop the decode runs on and marks each page.
        TextBook book(EPWING, entries);
        EXPECT_EQ(book.read(0), "<INDENT=01><HEAD>\x82\xA0</HEAD><BR><INDENT=01><PAGE><HEAD>\x82\xA2</HEAD><BR>");
    }
    {
        // A page escape before any character output does not stop.
        TextBook book(EPWING, codeBytes({0x1F02, 0x1F09, 0x0001, 0x2422, 0x1F09, 0x0001, 0x2424}));
        EXPECT_EQ(book.read(1), "<BODY><PAGE><INDENT=01>\x82\xA0<PAGE>");
    }
    {
        // A page-break setting with a page count of 2.
        TextBook book(EPWING, codeBytes({0x1F41, 0x0005, 0x2422, 0x1F41, 0x0005, 0x2424, 0x1F41, 0x0005, 0x2426}));
        book.reader.setPageBreak(0x1F41, 0x0005, 2);
        EXPECT_EQ(book.read(1), "<HEAD>\x82\xA0<HEAD>\x82\xA2<PAGE>");
    }
}

TEST(Decoder, EscapeSubstitution) {
    const ESCAPE_SUBST table[] = {{0x1F41, 2, 0}, {0x1F43, 0x1F42, 1}, {0x1F0A, 0, 7}, {0, 0, 0}};
    TextBook book(EPWING, codeBytes({0x1F41, 0x0160, 0x2422, 0x1F43, 0x2424, 0x1F0A}));
    book.reader.setEscapeSubst(table);
    EXPECT_EQ(book.read(), "\x82\xA0 <LINK>\x82\xA2<BR>");
}

TEST(Decoder, HeadingSet) {
    struct Case {
        const char* what;
        std::vector<uint8_t> text;
        std::string expect;
    } cases[] = {
        {"ends at the first line end", codeBytes({0x1F41, 0x0160, 0x2422, 0x1F61, 0x1F0A, 0x2424}),
         "<HEAD>\x82\xA0</HEAD>"},
        {"ends at a menu reference end",
         cat({codeBytes({0x1F43, 0x2422, 0x1F63}), raw({0, 0, 0, 9, 0, 0}), codeBytes({0x2424})}), "\x82\xA0"},
    };
    for (const auto& c : cases) {
        TextBook book(EPWING, c.text);
        book.reader.seekBlock(2);
        char out[256];
        uint32_t n = 0;
        book.reader.readHeading(out, sizeof out, &n);
        EXPECT_EQ(std::string(out, n), c.expect) << c.what;
    }
    TextBook book(EPWING, codeBytes({0x1F41, 0x0160, 0x2422, 0x1F61}));
    book.reader.setHeadOption(1);
    EXPECT_EQ(book.read(), "\x82\xA0") << "heading tags suppressed";
}

TEST(Decoder, OutputThatDoesNotFitStopsWithoutOverrun) {
    struct Case {
        const char* what;
        std::vector<uint8_t> text;
        uint32_t capacity;
        std::string expect;
    } cases[] = {
        {"a tag with exactly its room and none for the NUL", codeBytes({0x1F0A}), 4, ""},
        {"the tag and its NUL", codeBytes({0x1F0A}), 5, "<BR>"},
        {"a character needs room for the longest entity", codeBytes({0x2422}), 5, ""},
        {"output ends at the first event that does not fit", codeBytes({0x2422, 0x1F0A, 0x2424}), 6, "\x82\xA0"},
        {"a run of characters ends where the room does", codeBytes({0x2422, 0x2424, 0x2426, 0x2428}), 9,
         "\x82\xA0\x82\xA2"},
        {"a narrow run ends before an entity", codeBytes({0x1F04, 0x2341, 0x2175, 0x2342, 0x1F05}), 64, "A&amp;B"},
        {"a colour chart number wider than its field",
         cat({codeBytes({0x1F14}), raw({0x1E, 0x99, 0x1E, 0x99, 0x1E, 0x99, 0x1E, 0x99, 0x1E, 0x99, 0, 0})}), 16, ""},
    };
    for (const auto& c : cases) {
        TextBook book(EPWING, c.text);
        EXPECT_EQ(book.read(0, 2, 0, c.capacity), c.expect) << c.what;
    }
}

TEST(Decoder, MapAreaReferencesAreAreas) {
    // A colour figure menu (id 0x11): 0x1F42 x y ... 0x1F62 target is an area.
    TextBook book(EPWING,
                  cat({codeBytes({0x1F42}), raw({0x00, 0x12, 0x00, 0x34}), codeBytes({0x1F62}),
                       raw({0, 0, 0, 0x55, 0x00, 0x66})}),
                  0x11);
    EXPECT_EQ(book.read(), "<AREA COORDS=012,034,000,000 HREF=[00000037:0042]>");
}

TEST(Decoder, MalformedBooksEndTheDecode) {
    // Runs that never meet their end code, at the end of the last block.
    struct Case {
        const char* what;
        std::vector<uint8_t> tail;
        const char* name;  // the kind of book
    } cases[] = {
        {"code point without 0x1F0C", codeBytes({0x1F0B, 0x2331}), "HONMON"},
        {"EB code run without 0x1F1D", codeBytes({0x1F1C, 0x2422}), "START"},
        {"anchor without a line end", codeBytes({0x1F3B, 0x2361}), "HONMON"},
        {"inline figure without its end", cat({codeBytes({0x1F3C}), raw({0, 0, 0, 0, 0, 0, 0, 0, 0, 0})}), "HONMON"},
        {"colour chart of 0x1E bytes", raw({0x1F, 0x14, 0x1E}), "HONMON"},
        {"decoration without 0x1FE3", codeBytes({0x1FE2, 0x0007, 0x2349}), "DATA.IDX"},
        {"sound external character at the end", codeBytes({0xA427, 0x2353}), "DATA.IDX"},
    };
    for (const auto& c : cases) {
        lftest::TestDir dir;
        HandBook b;
        b.area(0x00, 2, 1);
        // Fill the block so the run starts near its end and meets only
        // what follows (nothing, or the repeated last bytes).
        std::vector<uint8_t> text(2048 - c.tail.size(), 0);
        text.insert(text.end(), c.tail.begin(), c.tail.end());
        if (c.tail.size() == 3) std::fill(text.end() - 1, text.end(), 0x1E);
        b.put(2, 0, text);
        CEBReader reader;
        ASSERT_EQ(reader.open(b.write(dir.path(), c.name).c_str(), 1, 0), 1);
        reader.seekBlock(2);
        char out[256];
        uint32_t n = 0;
        reader.readText(out, sizeof out, &n, 0, 0);  // must return
        EXPECT_LT(n, sizeof out) << c.what;
    }
}

TEST(Decoder, AnAreaLargerThanTheFileEndsAtTheFileEnd) {
    // The index claims two billion blocks of text; the file has one. A read
    // past the file used to give zero blocks without end.
    lftest::TestDir dir;
    HandBook b;
    b.area(0x00, 2, 0x7FFFFFFF);
    b.codes(2, 0, {0x2422, 0x2424});
    CEBReader reader;
    ASSERT_EQ(reader.open(b.write(dir.path(), "HONMON").c_str(), 1, 0), 1);
    reader.seekBlock(2);
    char out[64];
    uint32_t n = 0;
    reader.readText(out, sizeof out, &n, 0, 0);
    EXPECT_EQ(std::string(out, n), "\x82\xA0\x82\xA2");
    EXPECT_TRUE(reader.readFailed());
}

TEST(Decoder, RawFileEndsAtItsLastWholeBlock) {
    // A raw file (kind 3) of 2050 bytes: one whole block and two bytes.
    lftest::TestDir dir;
    std::vector<uint8_t> bytes(2050, 0);
    bytes[2046] = 0x24;
    bytes[2047] = 0x22;
    bytes[2048] = 0x24;
    bytes[2049] = 0x24;
    lftest::writeFile(dir.file("DATA.BIN"), bytes);
    CEBReader reader;
    ASSERT_EQ(reader.open(dir.file("DATA.BIN").c_str(), 1, 0), 1);
    EXPECT_EQ(reader.kind(), BOOK_KIND_RAW);
    char out[64];
    uint32_t n = 0;
    reader.seekBlock(1);
    reader.setOffset(2046);
    reader.readText(out, sizeof out, &n, 0, 0);
    EXPECT_EQ(std::string(out, n), "\x82\xA0");
    ASSERT_EQ(reader.seekBlock(2), 1) << "the short block still reads";
    reader.readText(out, sizeof out, &n, 0, 0);
    EXPECT_EQ(n, 0u) << "no area holds it";
    reader.seekBlock(2);
    EXPECT_EQ(reader.readWord16(), 0x2424u);
    EXPECT_EQ(reader.readWord16(), 0u) << "zeros after the file's bytes";
    reader.setOffset(2048);
    EXPECT_EQ(reader.readByte(), 0u);
    EXPECT_TRUE(reader.readFailed()) << "no block 3";
}

TEST(Decoder, BackScanFindsTheLineStart) {
    // A decode that starts inside a line steps back to the escape that opens it.
    std::vector<uint8_t> text = codeBytes({0x1F0A, 0x1F09, 0x0002, 0x2422, 0x2424, 0x2426});
    TextBook book(EPWING, text);
    EXPECT_EQ(book.read(0, 2, 10), "<INDENT=02>\x82\xA0\x82\xA2\x82\xA4");
    EXPECT_EQ(book.reader.lastTextStart(), packPosition(2, 10)) << "the recorded start stays";
}

TEST(Decoder, MenuToHits) {
    TextBook book(
        EPWING,
        cat({codeBytes({0x1F43, 0x2422, 0x1F63}), raw({0, 0, 0, 0x09, 0x00, 0x10}),
             codeBytes({0x1F0A, 0x1F43, 0x2424, 0x1F63}), raw({0, 0, 0, 0x03, 0x00, 0x20}), codeBytes({0x1F03})}),
        0x01);
    EXPECT_EQ(book.reader.menuToHits(2, 0), 2);
    const HIT_ITEM* first = book.reader.hits().at(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->textBlock, 9u);
    EXPECT_EQ(first->textOffset, 10);
    EXPECT_EQ(first->headingBlock, 2u);
    EXPECT_EQ(first->headingOffset, 0);
    EXPECT_EQ(book.reader.hits().at(1)->textBlock, 3u) << "menu order, not sorted";
    EXPECT_EQ(book.reader.hits().at(1)->headingOffset, 14);
    TextBook body(EPWING, codeBytes({0x1F43}));
    EXPECT_EQ(body.reader.menuToHits(2, 0), 0) << "only menu areas";
}

TEST(Decoder, PreviousPageStart) {
    TextBook book(EPWING, codeBytes({0x1F02, 0x1F41, 0x0160, 0x2422, 0x1F61, 0x1F41, 0x0160, 0x2424, 0x1F61}));
    EXPECT_EQ(book.reader.previousPageStart(), 0u) << "no decode yet";
    book.read(1, 2, 10);
    EXPECT_EQ(book.reader.previousPageStart(), packPosition(2, 2));
}
