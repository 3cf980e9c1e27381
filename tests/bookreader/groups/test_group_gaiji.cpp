// External characters through a group: an EPWING book with narrow and wide
// gaiji rendered and drawn as the EB Library does, with the fonts' headers
// known to the text reader; each entry's gaiji-to-Unicode map through the
// group; and reader state that survives the group's reopening.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bookreader/backends/CPdicBackend.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/gaiji/CGaijiMap.h"
#include "bookreader/groups/CEBGroup.h"
#include "tests/bookreader/BookFixtures.h"
#include "tests/bookreader/EventStream.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

using lftest::EventList;

namespace {

// The code of the first token of events that begins with prefix ("gh ",
// "gz "); 0 when there is none.
unsigned firstCode(const EventList& events, const std::string& prefix) {
    for (const std::string& e : events)
        if (e.compare(0, prefix.size(), prefix) == 0)
            return static_cast<unsigned>(std::stoul(e.substr(3), nullptr, 16));
    return 0;
}

// An EPWING book whose text holds "é" (a narrow gaiji) and "𠮟" (a wide one).
std::string buildGaijiBook(const lftest::TestDir& dir) {
    lftest::writeFile(dir.file("8x16.hex"), std::string("8 16\n00E9:") + lftest::kNarrowGlyphHex + "\n");
    lftest::writeFile(dir.file("16x16.hex"), std::string("16 16\n20B9F:") + lftest::kWideGlyphHex + "\n");
    lftest::writeFile(dir.file("src.txt"), std::string("caf\xC3\xA9 and \xF0\xA0\xAE\x9F here\n"));
    lftest::BookRecipe r;
    r.outDir = dir.file("book");
    r.hexFonts = {dir.file("8x16.hex"), dir.file("16x16.hex")};
    r.sources.push_back({dir.file("src.txt"), "", 4});
    lftest::BookRun run = lftest::buildBook(r);
    EXPECT_EQ(run.newBookResult, 0) << run.log();
    return dir.file("book");
}

}  // namespace

TEST(GroupGaiji, EpwingNarrowAndWideGaijiAsTheEbLibraryReadsThem) {
    lftest::TestDir dir;
    const std::string book = buildGaijiBook(dir);
    CEBGroup group(dir.path().c_str());
    ASSERT_EQ(group.addBook((book + "/CATALOGS").c_str(), 0, nullptr), 0);
    GROUP_ENTRY* e = nullptr;
    ASSERT_EQ(group.entry(0, &e), 1);
    CEBReader& text = *e->textReader;

    // The text reader knows both fonts by their shape.
    struct Slot {
        int slot;
        uint32_t width, height;
    } slots[] = {{0, 8, 16}, {1, 16, 16}};
    for (const Slot& s : slots) {
        uint32_t w = 0, h = 0;
        uint16_t count = 0, first = 0, last = 0;
        ASSERT_EQ(text.fontInfo(s.slot, &w, &h, &count, &first, &last), 1);
        EXPECT_EQ(w, s.width) << "slot " << s.slot;
        EXPECT_EQ(h, s.height) << "slot " << s.slot;
        EXPECT_EQ(count, 1) << "slot " << s.slot;
        EXPECT_EQ(first, last) << "slot " << s.slot;
        EXPECT_NE(first, 0) << "slot " << s.slot;
    }

    // The text renders each external character in its own width, as the
    // EB Library does.
    const READER_INDEX_INFO* body = text.findIndex(0x00);
    ASSERT_NE(body, nullptr);
    lftest::EbEventReader eb(book);
    ASSERT_TRUE(eb.ok()) << eb.error();
    EventList ours = lftest::ourEvents(text, body->start, 0, false);
    EventList theirs = eb.events(body->start, 0, false);
    EXPECT_EQ(ours, theirs);
    const unsigned narrow = firstCode(ours, "gh "), wide = firstCode(ours, "gz ");
    ASSERT_NE(narrow, 0u) << ::testing::PrintToString(ours);
    ASSERT_NE(wide, 0u) << ::testing::PrintToString(ours);

    // Their glyphs come from the font readers, as the EB Library draws them;
    // the text file itself holds none.
    lftest::EbProbe probe(book);
    ASSERT_TRUE(probe.ok()) << probe.error();
    struct Glyph {
        int slot;
        uint32_t width;
        unsigned code;
        bool wide;
    } glyphs[] = {{0, 8, narrow, false}, {1, 16, wide, true}};
    for (const Glyph& g : glyphs) {
        ASSERT_TRUE(e->fontReaders[g.slot]) << "slot " << g.slot;
        uint8_t glyph[32];
        uint32_t w = 0, h = 0;
        ASSERT_EQ(e->fontReaders[g.slot]->readGaijiBitmap(g.width, 16, g.code, &w, &h, glyph, sizeof glyph), 1);
        EXPECT_EQ(lftest::Bytes(glyph, glyph + g.width * 2), probe.glyph(0, 16, g.wide, static_cast<int>(g.code)))
            << "slot " << g.slot << ": " << probe.error();
        EXPECT_EQ(text.readGaijiBitmap(g.width, 16, g.code, &w, &h, glyph, sizeof glyph), 0) << "slot " << g.slot;
    }

    // Each entry's map of codes to Unicode through the group, for entries
    // there before the map was bound and for those added after.
    const std::string base = dir.file("maps");
    ASSERT_EQ(lftest::runCommand("mkdir -p '" + base + "/GAIJI'"), 0);
    char lines[64];
    snprintf(lines, sizeof lines, "h%04X\tu00E9\te'\nz%04X\tu20B9F\n", narrow, wide);
    lftest::writeFile(base + "/GAIJI/TEST.map", std::string(lines));
    EXPECT_EQ(e->gaijiMap, nullptr) << "nothing bound yet";
    ASSERT_EQ(group.bindLookup(std::unique_ptr<CGaijiMap>(new CGaijiMap(base.c_str()))), 1);
    ASSERT_EQ(group.addBook((book + "/CATALOGS").c_str(), 0, "again"), 1);
    for (int i = 0; i < group.count(); ++i) {
        ASSERT_EQ(group.entry(i, &e), 1);
        ASSERT_NE(e->gaijiMap, nullptr) << "entry " << i;
        int32_t cp[3];
        char alt[4];
        EXPECT_EQ(group.gaijiMap()->lookup(e->gaijiMap, GAIJI_MAP_NARROW, narrow, cp, alt, sizeof alt), 1);
        EXPECT_EQ(cp[0], 0xE9);
        EXPECT_EQ(std::string(alt, 2), "e'");
        EXPECT_EQ(group.gaijiMap()->lookup(e->gaijiMap, GAIJI_MAP_WIDE, wide, cp, alt, sizeof alt), 1);
        EXPECT_EQ(cp[0], 0x20B9F);
    }
    // A map named in the entry wins over its directory; no map, no record.
    strcpy(e->gaijiMapName, "OTHER");
    ASSERT_EQ(group.bindLookup(std::unique_ptr<CGaijiMap>(new CGaijiMap(base.c_str()))), 1);
    EXPECT_EQ(e->gaijiMap, nullptr);
    ASSERT_EQ(group.bindLookup(nullptr), 1);
    ASSERT_EQ(group.entry(0, &e), 1);
    EXPECT_EQ(e->gaijiMap, nullptr) << "unbound";
}

TEST(GroupGaiji, PronunciationTableSurvivesReopening) {
    lftest::TestDir dir;
    const std::string pdic = dir.file("words.DIC");
    ASSERT_TRUE(lftest::writeFile(pdic, lftest::buildPdic(lftest::PdicOptions(), lftest::pdicWorkedExampleBlocks())));
    static const uint16_t table[256] = {0x41};
    // By the reader's own setter and by the back end's.
    for (bool throughBackend : {false, true}) {
        CEBReader reader;
        ASSERT_EQ(reader.openPdic(pdic.c_str()), 1);
        if (throughBackend)
            reader.pdic()->setPhoneticTable(table);
        else
            reader.setPdicPhoneticTable(table);
        ASSERT_EQ(reader.reopen(), 1);
        ASSERT_NE(reader.pdic(), nullptr);
        EXPECT_EQ(reader.pdic()->phoneticTable(), table) << throughBackend;
    }
    CEBGroup group(dir.path().c_str());
    ASSERT_EQ(group.addBook(pdic.c_str(), 0, nullptr), 0);
    GROUP_ENTRY* e = nullptr;
    ASSERT_EQ(group.entry(0, &e), 1);
    e->textReader->setPdicPhoneticTable(table);
    ASSERT_EQ(group.load(1), 1);
    ASSERT_EQ(group.entry(0, &e), 1);
    ASSERT_NE(e->textReader->pdic(), nullptr);
    EXPECT_EQ(e->textReader->pdic()->phoneticTable(), table);
}
