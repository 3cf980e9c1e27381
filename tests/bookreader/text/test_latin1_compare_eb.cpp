// An EB book in ISO 8859-1 against the EB Library: its text, event by event,
// with Latin-1 letters and narrow external characters, and the glyphs of its
// narrow font, read by a reader of its own and through a group.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/groups/CEBGroup.h"
#include "tests/bookreader/EventStream.h"
#include "tests/bookreader/Latin1Book.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

using lftest::EventList;
using lftest::Latin1Book;

namespace {

// The body text's events through reader and through the EB Library agree,
// and hold the external characters as narrow ones.
void compareBody(CEBReader& reader, const std::string& bookDir, const Latin1Book& book, const std::string& label) {
    lftest::EbEventReader eb(bookDir);
    ASSERT_TRUE(eb.ok()) << label << ": " << eb.error();
    EventList theirs = eb.events(Latin1Book::kBodyBlock, 0, false);
    EventList ours = lftest::ourEvents(reader, Latin1Book::kBodyBlock, 0, false);
    EXPECT_EQ(ours, theirs) << label;
    for (int n = 0; n < book.glyphs; ++n) {
        const std::string token = "gh " + lftest::hex4(Latin1Book::kFirstCode + static_cast<unsigned>(n));
        EXPECT_NE(std::find(ours.begin(), ours.end(), token), ours.end()) << label << ": " << token;
    }
}

// Every glyph of the font reads as drawn and as the EB Library reads it; the
// code after the last is none.
void compareGlyphs(CEBReader& reader, const std::string& bookDir, const Latin1Book& book, const std::string& label) {
    lftest::EbProbe probe(bookDir);
    ASSERT_TRUE(probe.ok()) << probe.error();
    for (int n = 0; n <= book.glyphs; ++n) {
        const unsigned code = Latin1Book::kFirstCode + static_cast<unsigned>(n);
        uint8_t glyph[32];
        uint32_t w = 0, h = 0;
        const int ok = reader.readGaijiBitmap(8, 16, code, &w, &h, glyph, sizeof glyph);
        lftest::Bytes theirs = probe.glyph(0, 16, false, static_cast<int>(code));
        if (n == book.glyphs) {
            EXPECT_EQ(ok, 0) << label << " past the last code";
            EXPECT_TRUE(theirs.empty()) << label << " past the last code";
            continue;
        }
        ASSERT_EQ(ok, 1) << label << " code " << std::hex << code;
        EXPECT_EQ(w, 8u);
        EXPECT_EQ(h, 16u);
        lftest::Bytes ours(glyph, glyph + 16);
        EXPECT_EQ(ours, theirs) << label << " code " << std::hex << code << ": " << probe.error();
        EXPECT_EQ(ours, Latin1Book::glyph(n)) << label << " code " << std::hex << code;
    }
}

}  // namespace

TEST(Latin1Book, TextAndGlyphsAsTheEbLibraryReadsThem) {
    struct Case {
        const char* what;
        int glyphs;
    } cases[] = {{"one glyph", 1}, {"three glyphs", 3}, {"a whole row of 94", 94}};
    for (const Case& c : cases) {
        lftest::TestDir dir;
        Latin1Book book;
        book.glyphs = c.glyphs;
        const std::string root = dir.file("latin");
        book.write(root);
        CEBReader reader;
        ASSERT_EQ(reader.open((root + "/LATIN/START").c_str(), 1, 0), 1) << c.what;
        EXPECT_TRUE(reader.isLatin1()) << c.what;
        uint16_t count = 0, first = 0, last = 0;
        ASSERT_EQ(reader.fontInfo(0, nullptr, nullptr, &count, &first, &last), 1);
        EXPECT_EQ(first, Latin1Book::kFirstCode) << c.what;
        EXPECT_EQ(last, Latin1Book::kFirstCode + c.glyphs - 1) << c.what;
        compareBody(reader, root, book, c.what);
        compareGlyphs(reader, root, book, c.what);
    }
}

TEST(Latin1Book, ThroughAGroupAndAfterTheBookWasAway) {
    // With a font, the font tells the character code; without one, only the
    // catalog's LANGUAGE file does, also when the entry is opened again after
    // its book came back.
    for (int glyphs : {3, 0}) {
        const std::string label = glyphs ? "with a font" : "without a font";
        lftest::TestDir dir;
        Latin1Book book;
        book.glyphs = glyphs;
        const std::string root = dir.file("latin");
        book.write(root);
        CEBGroup group(dir.path().c_str());
        ASSERT_EQ(group.addBook((root + "/CATALOG").c_str(), 0, nullptr), 0) << label;
        GROUP_ENTRY* e = nullptr;
        ASSERT_EQ(group.entry(0, &e), 1) << label;
        EXPECT_TRUE(e->textReader->isLatin1()) << label;
        compareBody(*e->textReader, root, book, label);
        if (glyphs) compareGlyphs(*e->textReader, root, book, label);

        const std::string away = dir.file("away");
        ASSERT_EQ(std::rename(root.c_str(), away.c_str()), 0);
        ASSERT_EQ(group.load(1), 1);
        EXPECT_EQ(group.entry(0, &e), 0) << label << ": the book is away";
        ASSERT_EQ(std::rename(away.c_str(), root.c_str()), 0);
        ASSERT_EQ(group.entry(0, &e), 1) << label << ": the book is back";
        EXPECT_TRUE(e->textReader->isLatin1()) << label << " after the book came back";
        compareBody(*e->textReader, root, book, label + " after the book came back");
    }
}
