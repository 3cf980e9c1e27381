// Gaiji font areas and the viewer gaiji map written at the end of a build.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "builder/gaiji/CGaiji.h"
#include "builder/gaiji/CGaijiFontWriter.h"
#include "foundation/book/CBlockStream.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

// A font definition file: one FONTSET of the given size from start, with
// one glyph per entry of rows (each glyph's text given whole).
std::string fontDef(const char* size, const char* start, const std::vector<std::string>& glyphs, int width) {
    std::string d = std::string("<FONTSET size=\"") + size + "\" start=\"" + start + "\">\n";
    for (const auto& g : glyphs) {
        d += "<FONTDATA>\n";
        for (size_t i = 0; i < g.size(); i += static_cast<size_t>(width))
            d += g.substr(i, static_cast<size_t>(width)) + "\n";
        d += "</FONTDATA>\n";
    }
    return d + "</FONTSET>\n";
}

std::string bytesAt(CBlockStream& s, uint32_t page, size_t offset, size_t n) {
    return std::string(reinterpret_cast<const char*>(s.page(page)) + offset, n);
}

}  // namespace

TEST(GaijiFontArea, EmptyRangeGivesHeaderOnly) {
    CGaiji gaiji;
    CBlockStream s(10, 0);
    EXPECT_EQ(CGaijiFontWriter::makeGaiji(gaiji, 16, 16, &s), 0);
    // 1, seven zeros, width 16, height 16, first code B121, count 0.
    const std::string head("\x01\x00\x00\x00\x00\x00\x00\x00\x10\x10\xB1\x21\x00\x00", 14);
    EXPECT_EQ(bytesAt(s, 0, 0, 14), head);
}

TEST(GaijiFontArea, GlyphsNeverCrossAHalfBlock) {
    TestDir dir;
    // Four 48x48 glyphs, all pixels set: 288 bytes of 0xFF each.
    const std::string full(48 * 48, '#');
    lftest::writeFile(dir.file("f.xml"), fontDef("48X48", "B121", {full, full, full, full}, 48));
    CGaiji gaiji;
    ASSERT_EQ(gaiji.parseGaijiFont(dir.file("f.xml").c_str()), 0x40);
    CBlockStream s(5, 0);
    ASSERT_EQ(CGaijiFontWriter::makeGaiji(gaiji, 48, 48, &s), 4);
    EXPECT_EQ(bytesAt(s, 0, 8, 6), std::string("\x30\x30\xB1\x21\x00\x04", 6));
    EXPECT_EQ(bytesAt(s, 1, 0, 864), std::string(864, '\xFF'));     // three glyphs
    EXPECT_EQ(bytesAt(s, 1, 864, 160), std::string(160, '\0'));     // rest of the half
    EXPECT_EQ(bytesAt(s, 1, 1024, 288), std::string(288, '\xFF'));  // the fourth
}

TEST(GaijiFontArea, BitmapsComeFromTheDefinitionThenTheHexFont) {
    TestDir dir;
    // U+4E00 and U+4E01 get wide codes B121, B122; only U+4E00 has a hex glyph.
    lftest::writeFile(dir.file("16x16.hex"), std::string("16 16\n4E00:") + std::string(62, '0') + "FF\n");
    CGaiji gaiji;
    ASSERT_EQ(gaiji.loadHexFont(dir.file("16x16.hex").c_str()), 0);
    uint32_t code = 0;
    gaiji.allocateCode(0x4E00, &code);
    ASSERT_EQ(code, 0xB121u);
    gaiji.allocateCode(0x4E01, &code);
    CBlockStream s(2, 0);
    ASSERT_EQ(CGaijiFontWriter::makeGaiji(gaiji, 16, 16, &s), 2);
    EXPECT_EQ(bytesAt(s, 1, 0, 32), std::string(31, '\0') + "\xFF");
    EXPECT_EQ(bytesAt(s, 1, 32, 32), std::string(32, '\0'));
}

TEST(GaijiFontArea, Errors) {
    TestDir dir;
    lftest::writeFile(dir.file("f.xml"), fontDef("8X16", "A121", {std::string(127, '#')}, 127));
    CGaiji gaiji;
    ASSERT_EQ(gaiji.parseGaijiFont(dir.file("f.xml").c_str()), 0x02);
    struct Case {
        int width, height;
        const char* message;
    } cases[] = {
        {8, 16, "invalid font data:ebcode=A121 (makeGaiji)"},
        {10, 10, "invalid gaiji size:x=10 y=10 (makeGaiji)"},
    };
    for (const auto& c : cases) {
        CBlockStream s(2, 0);
        try {
            CGaijiFontWriter::makeGaiji(gaiji, c.width, c.height, &s);
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(GaijiViewerMap, TextMapAndPropertyList) {
    TestDir dir;
    lftest::writeFile(dir.file("map.xml"), std::string("<GAIJIMAP unicode=\"20B9F\" ebcode=\"B121\" alt=\"shi\"/>\n"
                                                       "<GAIJIMAP unicode=\"E001\" ebcode=\"B122\"/>\n"
                                                       "<GAIJIMAP ebcode=\"A121\" alt=\"n\"/>\n"
                                                       "<GAIJIMAP unicode=\"00E9\"/>\n"));
    CGaiji gaiji;
    ASSERT_EQ(gaiji.parseGaijiMap(dir.file("map.xml").c_str(), nullptr, nullptr), 0);
    ASSERT_EQ(CGaijiFontWriter::saveGlossviewGaijiMap(gaiji, dir.file("BOOK.map").c_str()), 0);
    auto text = lftest::readFile(dir.file("BOOK.map"));
    // In code order; no private-use entry, no entry without a code.
    EXPECT_EQ(std::string(text.begin(), text.end()), "hA121\t-\tn\nzB121\tu20b9f\tshi\n");
    auto plist = lftest::readFile(dir.file("BOOK.plist"));
    const std::string p(plist.begin(), plist.end());
    EXPECT_EQ(
        p.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\"",
                0),
        0u);
    EXPECT_NE(p.find("<plist version=\"1.0\">\n<dict>\n<key>hA121</key><string></string>\n"
                     "<key>zB121</key><string>\xF0\xA0\xAE\x9F</string>\n</dict>\n</plist>\n"),
              std::string::npos)
        << p;
    // A map file that cannot be created is a result, not an error.
    EXPECT_EQ(CGaijiFontWriter::saveGlossviewGaijiMap(gaiji, dir.file("no/such/dir.map").c_str()), -1);
}
