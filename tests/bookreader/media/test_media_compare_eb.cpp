// Media and fonts against the EB Library: the gaiji glyphs of every size and
// code that our builder writes, read by our reader and by libeb bit for bit;
// and a book made by FreePWING with gaiji of four heights, BMP and JPEG
// colour graphics and a sound, whose media our reader extracts as libeb's
// binary reading does and as FreePWING was given them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "builder/CEPWing.h"
#include "foundation/book/CEBCatalog.h"
#include "tests/bookreader/MediaFiles.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/MediaFixtures.h"
#include "tests/common/TestDir.h"

namespace {

struct FontSize {
    const char* name;  // as the font definition writes it
    int width, height;
    int slot;  // catalog font slot: narrow 16, wide 16, narrow 24, ...
};
// The nine sizes a font definition may draw; 12x24 and 16x24 share the
// narrow 24-dot slot, so a book holds one of them.
const FontSize kSizes[] = {
    {"8X16", 8, 16, 0},   {"16X16", 16, 16, 1}, {"16X24", 16, 24, 2}, {"24X24", 24, 24, 3}, {"16X30", 16, 30, 4},
    {"32X30", 32, 30, 5}, {"24X48", 24, 48, 6}, {"48X48", 48, 48, 7}, {"12X24", 12, 24, 2},
};
// Glyphs per font: past a row of codes (0x7E) and across several half blocks.
constexpr int kGlyphs = 100;

bool isWide(const FontSize& s) {
    return s.slot % 2 == 1;
}

// The dots of glyph n: a bar in the first column, a bar in the last row, a
// diagonal, or a pattern that differs per glyph, row and size.
bool dot(int n, int x, int y, int width, int height) {
    switch (n % 4) {
        case 0:
            return x == 0;
        case 1:
            return y == height - 1;
        case 2:
            return x == y * width / height;
        default:
            return ((x * 7 + y * 13 + n * 5 + width) % 11) < 4 || x == n % width;
    }
}

std::string fontDefinition(const std::vector<FontSize>& sizes) {
    std::string d;
    for (const FontSize& s : sizes) {
        d += std::string("<FONTSET size=\"") + s.name + "\" start=\"" + (isWide(s) ? "B121" : "A121") + "\">\n";
        for (int n = 0; n < kGlyphs; ++n) {
            d += "<FONTDATA>\n";
            for (int y = 0; y < s.height; ++y) {
                for (int x = 0; x < s.width; ++x) d += dot(n, x, y, s.width, s.height) ? '#' : '.';
                d += "\n";
            }
            d += "</FONTDATA>\n";
        }
        d += "</FONTSET>\n";
    }
    return d;
}

// The stored glyph: rows of whole bytes (a 12-dot row in 16 dots, the last
// four clear).
std::vector<unsigned char> expectedGlyph(int n, const FontSize& s) {
    const int rowBytes = (s.width + 7) / 8;
    std::vector<unsigned char> bits(static_cast<size_t>(rowBytes * s.height), 0);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            if (dot(n, x, y, s.width, s.height)) bits[static_cast<size_t>(y * rowBytes + x / 8)] |= 0x80 >> (x % 8);
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
        EXPECT_EQ(w, static_cast<uint32_t>((s.width + 7) / 8 * 8)) << label;
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
    // One book with the eight sizes of the eight slots, one with 12x24.
    lftest::TestDir dir;
    const std::vector<std::vector<FontSize>> books = {{std::begin(kSizes), std::end(kSizes) - 1}, {kSizes[8]}};
    int n = 0;
    for (const std::vector<FontSize>& sizes : books) {
        const std::string out = "epw" + std::to_string(n++);
        lftest::BookRun run = buildFontBook(dir, out, 1, sizes);
        ASSERT_EQ(run.newBookResult, 0) << run.log();
        CEBCatalog catalog;
        ASSERT_EQ(catalog.readCatalog(dir.file(out).c_str(), "r", 1), 1);
        lftest::EbProbe probe(dir.file(out));
        ASSERT_TRUE(probe.ok()) << probe.error();
        for (const FontSize& s : sizes) {
            // Each EPWING font is a file of its own in GAIJI, named in the catalog.
            std::string name = catalog.subbook(0)->fontNames[s.slot];
            ASSERT_FALSE(name.empty()) << s.name;
            std::string path = dir.file(out + "/TEST/GAIJI/" + name);
            CEBReader reader;
            ASSERT_EQ(reader.openSingleFile(path.c_str()), 1) << path;
            compareFont(reader, probe, s, std::string("EPWING ") + s.name);
        }
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

TEST(CompareMediaWithEbLibrary, FreePwingBookWithFiguresSoundsAndGaiji) {
    lftest::TestDir dir;
    const std::string book = dir.file("fpw");
    std::string printed;
    ASSERT_EQ(lftest::runCommand("bash '" LF_SOURCE_DIR "/tests/bookreader/freepwing/make_freepwing_media_book.sh' '" +
                                     book + "' 2>&1",
                                 &printed),
              0)
        << printed;
    CEBReader reader;
    ASSERT_EQ(reader.open((book + "/TEST/DATA/HONMON").c_str(), 1, 0), 1);
    const READER_INDEX_INFO* body = reader.findIndex(0x00);
    ASSERT_NE(body, nullptr);
    ASSERT_EQ(reader.seekBlock(body->start), 1);
    char text[4096];
    uint32_t length = 0;
    reader.readText(text, sizeof text, &length, 0, 0);
    const std::string tagged(text, length);

    lftest::EbProbe probe(book);
    ASSERT_TRUE(probe.ok()) << probe.error();

    // Colour graphics: the "data" chunk at each figure's position holds the
    // file FreePWING was given; libeb's colour-graphic reading agrees.
    std::vector<std::string> sources = {"pic.bmp", "pic.jpg"};
    std::regex figure("</FIG\\[([0-9A-F]{8}):([0-9A-F]{4})\\]");
    size_t figures = 0;
    for (std::sregex_iterator it(tagged.begin(), tagged.end(), figure), end; it != end; ++it, ++figures) {
        ASSERT_LT(figures, sources.size()) << tagged;
        const uint32_t block = static_cast<uint32_t>(std::stoul((*it)[1].str(), nullptr, 16));
        const uint32_t offset = static_cast<uint32_t>(std::stoul((*it)[2].str(), nullptr, 16));
        uint32_t size = 0;
        std::vector<uint8_t> ours = lftest::takeBuffer(reader.readMediaData(packPosition(block, offset), &size), &size);
        lftest::Bytes theirs = probe.colorGraphic(0, static_cast<int>(block), static_cast<int>(offset));
        ASSERT_FALSE(theirs.empty()) << probe.error();
        EXPECT_EQ(ours, theirs) << sources[figures];
        std::vector<unsigned char> given = lftest::readFile(book + "/src/" + sources[figures]);
        EXPECT_EQ(ours, std::vector<uint8_t>(given.begin(), given.end())) << sources[figures];
        if (!ours.empty() && ours[0] == 0xFF) {
            // The JPEG cut out by its markers from its first byte is the same.
            std::vector<uint8_t> cut =
                lftest::takeBuffer(reader.readColorGraphic(packPosition(block, offset + 8), &size), &size);
            EXPECT_EQ(cut, ours);
        }
    }
    EXPECT_EQ(figures, sources.size()) << tagged;

    // The sound: the book data holds its "fmt " and "data" chunks, so the
    // file is made without a header of ours; libeb's wave reading agrees.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        tagged, m, std::regex("</WAV\\[([0-9A-F]{8}):([0-9A-F]{4})\\]\\[([0-9A-F]{8}):([0-9A-F]{4})\\]")))
        << tagged;
    uint32_t at[4];
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint32_t>(std::stoul(m[i + 1].str(), nullptr, 16));
    uint32_t size = 0;
    std::vector<uint8_t> wav = lftest::takeBuffer(
        reader.extractWave(packPosition(at[0], at[1]), packPosition(at[2], at[3]), 0, 0, 0, 0, &size), &size);
    lftest::Bytes theirs = probe.wave(0, static_cast<int>(at[0]), static_cast<int>(at[1]), static_cast<int>(at[2]),
                                      static_cast<int>(at[3]));
    ASSERT_FALSE(theirs.empty()) << probe.error();
    EXPECT_EQ(wav, theirs);
    std::vector<unsigned char> given = lftest::readFile(book + "/src/snd.wav");
    EXPECT_EQ(wav, std::vector<uint8_t>(given.begin(), given.end()));
    lftest::ParsedWave parsed = lftest::parseWave(wav);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.rate, 11025u);
    EXPECT_EQ(parsed.data.size(), 300u);

    // Gaiji: each font file, every code, against libeb.
    const struct {
        const char* file;
        FontSize size;
    } fonts[] = {
        {"GAI16H", {"", 8, 16, 0}},  {"GAI16F", {"", 16, 16, 1}}, {"GAI24H", {"", 16, 24, 2}},
        {"GAI24F", {"", 24, 24, 3}}, {"GAI30H", {"", 16, 30, 4}}, {"GAI30F", {"", 32, 30, 5}},
        {"GAI48H", {"", 24, 48, 6}}, {"GAI48F", {"", 48, 48, 7}},
    };
    for (const auto& f : fonts) {
        CEBReader font;
        ASSERT_EQ(font.openSingleFile((book + "/TEST/GAIJI/" + f.file).c_str()), 1) << f.file;
        for (unsigned code : {0xA121u, 0xA122u}) {
            unsigned char glyph[288];
            uint32_t w = 0, h = 0;
            ASSERT_EQ(font.readGaijiBitmap(f.size.width, f.size.height, code, &w, &h, glyph, sizeof glyph), 1)
                << f.file;
            std::vector<unsigned char> theirGlyph =
                probe.glyph(0, f.size.height, isWide(f.size), static_cast<int>(code));
            EXPECT_EQ(std::vector<unsigned char>(glyph, glyph + w * h / 8), theirGlyph)
                << f.file << ": " << probe.error();
        }
        unsigned char glyph[288];
        uint32_t w, h;
        EXPECT_EQ(font.readGaijiBitmap(f.size.width, f.size.height, 0xA123, &w, &h, glyph, sizeof glyph), 0) << f.file;
    }
}

TEST(CompareMediaWithEbLibrary, MonochromeBitmapsDecodeToTheSamePixels) {
    // A book of our builder with monochrome bitmaps appended to its text
    // file: our BMP and libeb's BMP of each give the same pixels.
    lftest::TestDir dir;
    lftest::BookRun run = lftest::buildPlainTextBook(dir.file("book"), dir.file("a.txt"), "text\n");
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    const std::string honmon = dir.file("book/TEST/DATA/HONMON");
    lftest::Bytes file = lftest::readFile(honmon);
    ASSERT_EQ(file.size() % 2048, 0u);
    const uint32_t block = static_cast<uint32_t>(file.size() / 2048) + 1;
    struct Case {
        uint32_t offset, width, height;
    } cases[] = {{0, 8, 1}, {100, 12, 3}, {2000, 33, 20}, {512, 64, 64}, {0, 1, 40}};
    lftest::Bytes data(2048 * 3, 0);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 131) ^ (i >> 3));
    file.insert(file.end(), data.begin(), data.end());
    lftest::writeFile(honmon, file);
    CEBReader reader;
    ASSERT_EQ(reader.open(honmon.c_str(), 1, 0), 1);
    lftest::EbProbe probe(dir.file("book"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    for (const Case& c : cases) {
        uint32_t size = 0;
        lftest::Bytes ours =
            lftest::takeBuffer(reader.monoBitmapToBmp(packPosition(block, c.offset), c.width, c.height, &size), &size);
        lftest::Bytes theirs = probe.monoGraphic(0, static_cast<int>(block), static_cast<int>(c.offset),
                                                 static_cast<int>(c.width), static_cast<int>(c.height));
        ASSERT_FALSE(theirs.empty()) << probe.error();
        lftest::DecodedBmp a = lftest::decodeBmp(ours), b = lftest::decodeBmp(theirs);
        ASSERT_TRUE(a.ok) << c.width << "x" << c.height << " at " << block << ":" << c.offset << ": " << a.error;
        ASSERT_TRUE(b.ok) << c.width << "x" << c.height << ": libeb's BMP: " << b.error;
        EXPECT_EQ(a.height, b.height) << c.width << "x" << c.height;
        // Both cover the stored width; ours rounds it up to whole bytes.
        ASSERT_GE(a.width, c.width);
        ASSERT_GE(b.width, c.width);
        for (uint32_t y = 0; y < c.height && y < a.rows.size() && y < b.rows.size(); ++y)
            for (uint32_t x = 0; x < c.width; ++x)
                ASSERT_EQ(a.rows[y][x], b.rows[y][x]) << c.width << "x" << c.height << " at " << x << "," << y;
    }
}

namespace {

unsigned checkered(int x, int y) {
    return ((x / 3 + y / 2) % 2) == 0 ? 1 : 0;
}

unsigned gradient(int x, int y) {
    return static_cast<unsigned>(x * 0x040000 + y * 0x000400 + ((x ^ y) & 0x3F));
}

// One medium a reference of the book names: a colour figure's data, a
// sound's first and last byte, or a monochrome figure's bitmap and size.
struct MediaRef {
    enum Kind { kColour, kSound, kMono } kind = kColour;
    std::string what;
    unsigned at[4] = {0, 0, 0, 0};  // block, offset, and the sound's end or the bitmap's width, height
};

std::vector<MediaRef> mediaRefs(const std::vector<lftest::EbMediaEvent>& events, const std::string& where) {
    std::vector<MediaRef> refs;
    unsigned monoWidth = 0, monoHeight = 0;
    for (const lftest::EbMediaEvent& e : events) {
        MediaRef r;
        if (e.hook == "begin-color-bmp" || e.hook == "begin-color-jpeg") {
            r.at[0] = e.argv[2], r.at[1] = e.argv[3];
        } else if (e.hook == "begin-wave") {
            r.kind = MediaRef::kSound;
            for (int i = 0; i < 4; ++i) r.at[i] = e.argv[static_cast<size_t>(2 + i)];
        } else if (e.hook == "begin-mono") {
            monoHeight = e.argv[2], monoWidth = e.argv[3];
            continue;
        } else if (e.hook == "end-mono") {
            r.kind = MediaRef::kMono;
            r.at[0] = e.argv[1], r.at[1] = e.argv[2], r.at[2] = monoWidth, r.at[3] = monoHeight;
        } else {
            continue;
        }
        r.what = where + " " + e.hook + " #" + std::to_string(refs.size());
        refs.push_back(r);
    }
    return refs;
}

}  // namespace

// A book whose figures and sounds are in separate files, its files
// compressed by packwell at levels 0, 2 and 5: through our reader (the media
// files opened as a group opens them, and as single data files) the last
// figure, the last sound and the copyright logo are the EB Library's
// extraction byte for byte, and so is every other medium of the book; the
// monochrome figure of the text file has the library's pixels.
TEST(CompareMediaWithEbLibrary, SeparateMediaFilesAtEveryPackwellLevel) {
    lftest::TestDir dir;
    std::string markup = "<H1>media</H1>\n<P>";
    // About 23 KB of sounds before a 35 KB stereo one, figures between, a
    // JPEG at the end of the graphics file.
    for (int i = 0; i < 4; ++i) {
        const std::string name = "s" + std::to_string(i) + ".wav";
        lftest::writeFile(dir.file(name), lftest::makeWave(1, 22050, 16, 2900, static_cast<uint8_t>(i + 3)));
        const std::string pic = "f" + std::to_string(i) + ".bmp";
        lftest::writeFile(dir.file(pic), lftest::makeBmp(40 + 8 * i, 30, 24, gradient));
        markup += "s <A href=\"" + name + "\">S" + std::to_string(i) + "</A> f <IMG src=\"" + pic + "\" alt=\"F\"> ";
        if (i == 1) markup += "m <IMG src=\"mono.bmp\" alt=\"M\"> ";
    }
    lftest::writeFile(dir.file("mono.bmp"), lftest::makeBmp(37, 21, 1, checkered));
    lftest::writeFile(dir.file("big.wav"), lftest::makeWave(2, 44100, 16, 8960, 11));
    lftest::writeFile(dir.file("last.jpg"), lftest::makeJpeg(64, 48, 5000));
    lftest::writeFile(dir.file("logo.jpg"), lftest::makeJpeg(16, 16, 700));
    markup += "b <A href=\"big.wav\">B</A> j <IMG src=\"last.jpg\" alt=\"J\"></P>\n";
    lftest::writeFile(dir.file("a.html"), markup);
    lftest::writeFile(dir.file("c.html"), "<P>Copyright <IMG src=\"logo.jpg\" alt=\"L\"></P>\n");
    lftest::BookRecipe r;
    r.outDir = dir.file("book");
    r.separateMMData = true;
    r.sources.push_back({dir.file("a.html"), "", 0});
    r.copyright = dir.file("c.html");
    r.configure = [](CEPWing& w) {
        w.setIntOption("withHeader", 1);
        w.setBoolOption("optMono", true);
    };
    const lftest::BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();

    // The references, read once from the plain book.
    std::vector<MediaRef> refs;
    {
        lftest::EbProbe plain(dir.file("book"));
        ASSERT_TRUE(plain.ok()) << plain.error();
        refs = mediaRefs(plain.mediaEvents(0, 2, 0), "text");
        const lftest::EbCopyright c = plain.copyright(0);
        ASSERT_TRUE(c.found) << plain.error();
        const std::vector<MediaRef> logo = mediaRefs(plain.mediaEvents(0, c.block, c.offset), "copyright");
        ASSERT_EQ(logo.size(), 1u);
        refs.push_back(logo[0]);
    }
    // 4 sounds, 4 colour figures and a monochrome one, the big sound, the
    // JPEG, the logo.
    ASSERT_EQ(refs.size(), 12u);
    // The ones named by the fault: the last figure, the last sound, the logo.
    EXPECT_EQ(refs[refs.size() - 2].kind, MediaRef::kColour);
    EXPECT_EQ(refs[refs.size() - 3].kind, MediaRef::kSound);
    const std::map<std::string, lftest::Bytes> given = {
        {"last figure", lftest::readFile(dir.file("last.jpg"))},
        {"last sound", lftest::readFile(dir.file("big.wav"))},
        {"copyright logo", lftest::readFile(dir.file("logo.jpg"))},
    };
    const std::map<size_t, std::string> named = {
        {refs.size() - 2, "last figure"}, {refs.size() - 3, "last sound"}, {refs.size() - 1, "copyright logo"}};

    for (int level : {0, 2, 5}) {
        const std::string book = dir.file("l" + std::to_string(level));
        const std::string data = book + "/TEST/DATA";
        std::string printed;
        ASSERT_EQ(lftest::runCommand("cp -r '" + dir.file("book") + "' '" + book + "' && '" + lftest::binDir() +
                                         "/packwell' shrink --level " + std::to_string(level) + " --delete-input '" +
                                         data + "/HONMON2' '" + data + "/HONMONG' '" + data + "/HONMONS' 2>&1",
                                     &printed),
                  0)
            << printed;
        ASSERT_EQ(lftest::readFile(data + "/HONMONG").size(), 0u) << "the plain file was left";
        lftest::EbProbe probe(book);
        ASSERT_TRUE(probe.ok()) << probe.error();
        CEBReader text;
        ASSERT_EQ(text.open((data + "/HONMON2.ebz").c_str(), 1, 0), 1);
        for (bool single : {false, true}) {
            CEBReader graphics, sounds;
            const std::string g = data + "/HONMONG.ebz", s = data + "/HONMONS.ebz";
            ASSERT_EQ(single ? graphics.openSingleFile(g.c_str()) : graphics.open(g.c_str(), 1, 0), 1);
            ASSERT_EQ(single ? sounds.openSingleFile(s.c_str()) : sounds.open(s.c_str(), 1, 0), 1);
            for (size_t i = 0; i < refs.size(); ++i) {
                const MediaRef& m = refs[i];
                const std::string label =
                    "level " + std::to_string(level) + (single ? " single file " : " raw file ") + m.what;
                uint32_t size = 0;
                lftest::Bytes ours, theirs;
                if (m.kind == MediaRef::kMono) {
                    // The two BMP files differ in their headers: compare pixels.
                    const lftest::DecodedBmp a = lftest::decodeBmp(lftest::takeBuffer(
                        text.monoBitmapToBmp(packPosition(m.at[0], m.at[1]), m.at[2], m.at[3], &size), &size));
                    const lftest::DecodedBmp b =
                        lftest::decodeBmp(probe.monoGraphic(0, static_cast<int>(m.at[0]), static_cast<int>(m.at[1]),
                                                            static_cast<int>(m.at[2]), static_cast<int>(m.at[3])));
                    ASSERT_TRUE(a.ok && b.ok) << label << ": " << a.error << b.error << probe.error();
                    ASSERT_EQ(a.rows.size(), b.rows.size()) << label;
                    for (size_t y = 0; y < a.rows.size(); ++y)
                        EXPECT_TRUE(std::equal(b.rows[y].begin(), b.rows[y].begin() + m.at[2], a.rows[y].begin()))
                            << label << " row " << y;
                    continue;
                }
                if (m.kind == MediaRef::kSound) {
                    ours = lftest::takeBuffer(sounds.extractWave(packPosition(m.at[0], m.at[1]),
                                                                 packPosition(m.at[2], m.at[3]), 0, 0, 0, 0, &size),
                                              &size);
                    theirs = probe.wave(0, static_cast<int>(m.at[0]), static_cast<int>(m.at[1]),
                                        static_cast<int>(m.at[2]), static_cast<int>(m.at[3]));
                } else {
                    ours = lftest::takeBuffer(graphics.readMediaData(packPosition(m.at[0], m.at[1]), &size), &size);
                    theirs = probe.colorGraphic(0, static_cast<int>(m.at[0]), static_cast<int>(m.at[1]));
                }
                ASSERT_FALSE(theirs.empty()) << label << ": " << probe.error();
                EXPECT_EQ(ours, theirs) << label << ": ours " << ours.size() << " bytes, theirs " << theirs.size();
                const auto name = named.find(i);
                if (name != named.end()) {
                    EXPECT_EQ(ours, given.at(name->second)) << label << " " << name->second;
                }
            }
        }
    }
}

// An inline figure: our tag carries the position libeb's hook gets, the
// size the book stores (the picture's own), and the alternative text libeb
// reads between the figure's codes; the data there is the picture. (EB
// books carry no colour figures.)
TEST(CompareMediaWithEbLibrary, InlineFigureSizeAndText) {
    lftest::TestDir dir;
    const lftest::Bytes jpeg = lftest::makeJpeg(720, 477);
    lftest::writeFile(dir.file("pic.jpg"), jpeg);
    const lftest::BookRun run = lftest::buildMarkupBook(
        dir.file("book"), dir.file("a.html"),
        "<H1>inline</H1>\n<P>x <IMG class=\"inline\" src=\"pic.jpg\" alt=\"Alt text\"> y</P>\n");
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    lftest::EbProbe probe(dir.file("book"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    const std::vector<lftest::EbMediaEvent> ev = probe.mediaEvents(0, 2, 0);
    ASSERT_EQ(ev.size(), 2u) << probe.error();
    ASSERT_EQ(ev[0].hook, "begin-in-color-jpeg");
    ASSERT_EQ(ev[0].argv.size(), 4u);
    const std::string rendered = probe.readRenderedText(0, 2, 0);
    const size_t x = rendered.find("x "), y = rendered.find(" y");
    ASSERT_TRUE(x != std::string::npos && y != std::string::npos && x < y) << rendered;
    const std::string theirText = rendered.substr(x + 2, y - x - 2);
    EXPECT_EQ(theirText, "Alt text");

    CEBReader reader;
    ASSERT_EQ(reader.open(dir.file("book/TEST/DATA/HONMON").c_str(), 1, 0), 1);
    ASSERT_EQ(reader.seekBlock(2), 1);
    char text[4096];
    uint32_t length = 0;
    reader.readText(text, sizeof text, &length, 0, 0);
    const std::string tagged(text, length);
    char expected[128];
    snprintf(expected, sizeof expected, "<INL>%s</INL[%08X:%04X](0720*0477:1)>", theirText.c_str(), ev[0].argv[2],
             ev[0].argv[3]);
    EXPECT_NE(tagged.find(expected), std::string::npos) << tagged << "\nwanted " << expected;
    uint32_t size = 0;
    const lftest::Bytes ours =
        lftest::takeBuffer(reader.readMediaData(packPosition(ev[0].argv[2], ev[0].argv[3]), &size), &size);
    EXPECT_EQ(ours, jpeg);
    EXPECT_EQ(ours, probe.colorGraphic(0, static_cast<int>(ev[0].argv[2]), static_cast<int>(ev[0].argv[3])));
}
