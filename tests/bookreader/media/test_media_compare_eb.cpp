// Media and fonts against the EB Library: the gaiji glyphs of every size and
// code that our builder writes, read by our reader and by libeb bit for bit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "foundation/book/CEBCatalog.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

struct FontSize {
    const char* name;  // as the font definition writes it
    int width, height;
    int slot;  // catalog font slot: narrow 16, wide 16, narrow 24, ...
};
const FontSize kSizes[] = {
    {"8X16", 8, 16, 0},   {"16X16", 16, 16, 1}, {"16X24", 16, 24, 2}, {"24X24", 24, 24, 3},
    {"16X30", 16, 30, 4}, {"32X30", 32, 30, 5}, {"24X48", 24, 48, 6}, {"48X48", 48, 48, 7},
};
// Glyphs per font: past a row of codes (0x7E) and across several half blocks.
constexpr int kGlyphs = 100;

bool isWide(const FontSize& s) {
    return s.slot % 2 == 1;
}

// The dots of glyph n: a pattern that differs per glyph, row and size.
bool dot(int n, int x, int y, int width) {
    return ((x * 7 + y * 13 + n * 5 + width) % 11) < 4 || x == n % width;
}

std::string fontDefinition(const std::vector<FontSize>& sizes) {
    std::string d;
    for (const FontSize& s : sizes) {
        d += std::string("<FONTSET size=\"") + s.name + "\" start=\"" + (isWide(s) ? "B121" : "A121") + "\">\n";
        for (int n = 0; n < kGlyphs; ++n) {
            d += "<FONTDATA>\n";
            for (int y = 0; y < s.height; ++y) {
                for (int x = 0; x < s.width; ++x) d += dot(n, x, y, s.width) ? '#' : '.';
                d += "\n";
            }
            d += "</FONTDATA>\n";
        }
        d += "</FONTSET>\n";
    }
    return d;
}

std::vector<unsigned char> expectedGlyph(int n, const FontSize& s) {
    std::vector<unsigned char> bits(static_cast<size_t>(s.width * s.height / 8), 0);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            if (dot(n, x, y, s.width)) bits[static_cast<size_t>((y * s.width + x) / 8)] |= 0x80 >> (x % 8);
    return bits;
}

unsigned codeOf(int n, bool wide) {
    return ((wide ? 0xB1 : 0xA1) + n / 94) << 8 | (0x21 + n % 94);
}

lftest::BookRun buildFontBook(const lftest::TestDir& dir, const std::string& out, int ebType,
                              const std::vector<FontSize>& sizes) {
    lftest::writeFile(dir.file(out + ".xml"), fontDefinition(sizes));
    lftest::writeFile(dir.file(out + ".txt"), std::string("text\n"));
    lftest::BookRecipe r;
    r.outDir = dir.file(out);
    r.ebType = ebType;
    r.gaijiFont = dir.file(out + ".xml");
    r.sources.push_back({dir.file(out + ".txt"), "", 4});
    return lftest::buildBook(r);
}

// Compares every glyph of one font read through `reader` with libeb's.
void compareFont(CEBReader& reader, lftest::EbProbe& probe, const FontSize& s, const std::string& label) {
    int compared = 0;
    for (int n = 0; n < kGlyphs; ++n) {
        const unsigned code = codeOf(n, isWide(s));
        unsigned char glyph[288];
        uint32_t w = 0, h = 0;
        ASSERT_EQ(reader.readGaijiBitmap(s.width, s.height, code, &w, &h, glyph, sizeof glyph), 1)
            << label << " code " << std::hex << code;
        EXPECT_EQ(w, static_cast<uint32_t>(s.width)) << label;
        EXPECT_EQ(h, static_cast<uint32_t>(s.height)) << label;
        std::vector<unsigned char> ours(glyph, glyph + w * h / 8);
        std::vector<unsigned char> theirs = probe.glyph(0, s.height, isWide(s), static_cast<int>(code));
        ASSERT_EQ(ours, theirs) << label << " code " << std::hex << code << ": " << probe.error();
        EXPECT_EQ(ours, expectedGlyph(n, s)) << label << " code " << std::hex << code;
        ++compared;
    }
    EXPECT_EQ(compared, kGlyphs) << label;
    // One past the last code is no glyph.
    unsigned char glyph[288];
    uint32_t w, h;
    EXPECT_EQ(reader.readGaijiBitmap(s.width, s.height, codeOf(kGlyphs, isWide(s)), &w, &h, glyph, sizeof glyph), 0)
        << label;
}

}  // namespace

TEST(CompareMediaWithEbLibrary, GlyphsOfEveryEpwingFontSize) {
    lftest::TestDir dir;
    std::vector<FontSize> sizes(std::begin(kSizes), std::end(kSizes));
    lftest::BookRun run = buildFontBook(dir, "epw", 1, sizes);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    CEBCatalog catalog;
    ASSERT_EQ(catalog.readCatalog(dir.file("epw").c_str(), "r", 1), 1);
    lftest::EbProbe probe(dir.file("epw"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    for (const FontSize& s : sizes) {
        // Each EPWING font is a file of its own in GAIJI, named in the catalog.
        std::string name = catalog.subbook(0)->fontNames[s.slot];
        ASSERT_FALSE(name.empty()) << s.name;
        std::string path = dir.file("epw/TEST/GAIJI/" + name);
        CEBReader reader;
        ASSERT_EQ(reader.openSingleFile(path.c_str()), 1) << path;
        compareFont(reader, probe, s, std::string("EPWING ") + s.name);
    }
}

TEST(CompareMediaWithEbLibrary, GlyphsOfAnEbBook) {
    // An EB book keeps its 16-dot fonts in the text file (areas 0xF2, 0xF1),
    // which the reader finds when it opens the book.
    lftest::TestDir dir;
    std::vector<FontSize> sizes = {kSizes[0], kSizes[1]};
    lftest::BookRun run = buildFontBook(dir, "eb", 0, sizes);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    lftest::EbProbe probe(dir.file("eb"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    CEBReader reader;
    ASSERT_EQ(reader.open(dir.file("eb/TEST/START").c_str(), 1, 0), 1);
    for (const FontSize& s : sizes) compareFont(reader, probe, s, std::string("EB ") + s.name);
}

TEST(CompareMediaWithEbLibrary, TwelveDotNarrowFontReadAsSixteen) {
    // A 12x24 font is read 16 dots wide (48 bytes a glyph), as libeb reads
    // it. (Our builder writes 36 bytes a glyph, so the file ends before the
    // last glyphs: both readers then find none.)
    lftest::TestDir dir;
    const FontSize twelve = {"12X24", 12, 24, 2};
    lftest::BookRun run = buildFontBook(dir, "t", 1, {twelve});
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    CEBCatalog catalog;
    ASSERT_EQ(catalog.readCatalog(dir.file("t").c_str(), "r", 1), 1);
    lftest::EbProbe probe(dir.file("t"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    CEBReader reader;
    ASSERT_EQ(reader.openSingleFile(dir.file(std::string("t/TEST/GAIJI/") + catalog.subbook(0)->fontNames[2]).c_str()),
              1);
    int read = 0;
    for (int n = 0; n < kGlyphs; ++n) {
        unsigned char glyph[64];
        uint32_t w = 0, h = 0;
        const unsigned code = codeOf(n, false);
        std::vector<unsigned char> theirs = probe.glyph(0, 24, false, static_cast<int>(code));
        int ok = reader.readGaijiBitmap(12, 24, code, &w, &h, glyph, sizeof glyph);
        ASSERT_EQ(ok, theirs.empty() ? 0 : 1) << std::hex << code << ": " << probe.error();
        if (!ok) continue;
        ++read;
        EXPECT_EQ(w, 16u);
        EXPECT_EQ(std::vector<unsigned char>(glyph, glyph + 48), theirs) << std::hex << code;
    }
    EXPECT_GT(read, kGlyphs / 2);
}
