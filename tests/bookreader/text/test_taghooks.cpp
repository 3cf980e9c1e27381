// The tag hooks: each writes its whole text with a terminator or nothing;
// media names are sanitised; the figure end reads its image map.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/text/TagHooks.h"
#include "tests/bookreader/HandBook.h"
#include "tests/common/TestDir.h"

namespace {

struct Out {
    char buf[256];
    RENDER_CONTEXT ctx;
    explicit Out(uint32_t capacity = sizeof buf) {
        memset(buf, 0x7F, sizeof buf);
        memset(&ctx, 0, sizeof ctx);
        ctx.out = buf;
        ctx.capacity = capacity;
    }
    std::string text() const { return std::string(buf, ctx.used); }
};

void setName(MEDIA_ARGS* m, std::initializer_list<unsigned> codes) {
    int i = 0;
    for (unsigned c : codes) {
        m->name[i++] = static_cast<uint8_t>(c >> 8);
        m->name[i++] = static_cast<uint8_t>(c);
    }
}

TAG_HOOKS tagSet() {
    TAG_HOOKS h;
    initTagHooks(&h);
    return h;
}

}  // namespace

TEST(TagHooks, SetsDifferWhereTheyShould) {
    TAG_HOOKS def, heading, tags;
    initHookSet(&def);
    initHeadingHooks(&heading);
    initTagHooks(&tags);
    EXPECT_EQ(def.slot[SLOT_BEGIN_SOUND], nullptr) << "unset in the default set";
    EXPECT_NE(def.slot[SLOT_OTHER], nullptr) << "a no-op is set";
    EXPECT_EQ(heading.slot[SLOT_NEWLINE], stopHook);
    EXPECT_EQ(heading.slot[SLOT_END_MENU], stopHook);
    EXPECT_NE(tags.slot[SLOT_NEWLINE], stopHook);
    EXPECT_NE(tags.slot[SLOT_BEGIN_SOUND], nullptr);
    EXPECT_EQ(tags.slot[SLOT_BEGIN_AREA], noopHook);
}

TEST(TagHooks, MediaTags) {
    TAG_HOOKS h = tagSet();
    struct Case {
        const char* what;
        int slot;
        std::initializer_list<unsigned> name;
        std::string expect;
    } cases[] = {
        {"colour pairs are written reversed",
         SLOT_END_COLOUR,
         {0x2330, 0x2330, 0x2330, 0x2330, 0x2346, 0x2346},
         "<COL=FF0000>\x81\xA1</COL>"},
        {"image name of twelve characters",
         SLOT_END_IMAGE,
         {0x2349, 0x234D, 0x2347, 0x2330, 0x2330, 0x2330, 0x2330, 0x2331, 0x2125, 0x234A, 0x2350, 0x2347},
         "<IMG src=\"IMG00001.JPG\"></IMG>"},
        {"image name bytes that could end the attribute become _",
         SLOT_END_IMAGE,
         {0x2361, 0x2149, 0x2163, 0x2361},
         "<IMG src=\"a__a\"></IMG>"},
        {"sound external character name", SLOT_END_SOUND_GAIJI, {0x2353, 0x2331}, "</SND[S1      ]>"},
    };
    for (const auto& c : cases) {
        Out o;
        MEDIA_ARGS m;
        memset(&m, 0, sizeof m);
        setName(&m, c.name);
        h.slot[c.slot](o.ctx, &m, 0);
        EXPECT_EQ(o.text(), c.expect) << c.what;
        EXPECT_EQ(o.buf[o.ctx.used], 0) << c.what;
    }
}

TEST(TagHooks, WideValuesNeverOverrun) {
    // Values wider than their printed field make longer tags; with a buffer
    // sized for the fixed length they are refused, never cut or overrun.
    TAG_HOOKS h = tagSet();
    for (int slot : {SLOT_END_AREA, SLOT_END_SOUND_AREA, SLOT_END_INLINE, SLOT_END_FIGURE}) {
        MEDIA_ARGS m;
        memset(&m, 0, sizeof m);
        Out fixed;
        h.slot[slot](fixed.ctx, &m, 0);
        ASSERT_GT(fixed.ctx.used, 0u) << slot;
        m.x = 65535, m.y = 65535, m.width = 65535, m.height = 65535, m.attr = 65535;
        Out o(fixed.ctx.used + 1);
        h.slot[slot](o.ctx, &m, 0);
        EXPECT_EQ(o.ctx.used, 0u) << slot;
        EXPECT_EQ(o.ctx.stop, 1) << slot;
        EXPECT_EQ(o.buf[fixed.ctx.used + 1], '\x7F') << slot;
    }
    Out o;
    o.ctx.param = 100;
    h.slot[SLOT_INDENT](o.ctx, nullptr, 0);
    EXPECT_EQ(o.ctx.used, 0u);
    EXPECT_EQ(o.ctx.stop, 0) << "a large indent is dropped, not a reason to stop";
}

TEST(TagHooks, SoundEndTagByBookKind) {
    lftest::TestDir dir;
    lftest::HandBook b;
    b.area(0x00, 2, 1);
    b.put(2, 0, {0});
    TAG_HOOKS h = tagSet();
    MEDIA_ARGS m;
    memset(&m, 0, sizeof m);
    m.start = 0x10, m.end = 0x20, m.sub = 12, m.attr = 4321;
    struct Case {
        const char* file;
        std::string expect;
    } cases[] = {
        {"START", "</WAV[00000010:0000][00000020:0000](1:0:0:0:0)>"},
        {"HONMON", "</WAV[00000001:0002][00000003:0004](2:4:3:2:1)>"},
    };
    for (const auto& c : cases) {
        CEBReader reader;
        ASSERT_EQ(reader.open(b.write(dir.path(), c.file).c_str(), 1, 0), 1);
        Out o;
        o.ctx.reader = &reader;
        o.ctx.linkBlock = 1, o.ctx.linkOffset = 2, o.ctx.link2Block = 3, o.ctx.link2Offset = 4;
        h.slot[SLOT_END_SOUND](o.ctx, &m, 0);
        EXPECT_EQ(o.text(), c.expect) << c.file;
    }
}

namespace {

// An EB book whose body (block 2) holds a 0x1F52 figure end that points at
// an image map in block 4 (area 0x10).
struct ImageMapBook {
    lftest::TestDir dir;
    lftest::HandBook b;
    CEBReader reader;
    std::vector<uint8_t> map;
    ImageMapBook() {
        b.area(0x00, 2, 2);
        b.area(0x10, 4, 1);
        b.put(2, 0, {0x1F, 0x52, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x24, 0x22});
        map = {0x1F, 0x45, 0x00, 0x01, 0x00, 0x00};
    }
    void add(std::initializer_list<unsigned> bytes) {
        for (unsigned v : bytes) map.push_back(static_cast<uint8_t>(v));
    }
    std::string read(uint32_t capacity = 4096) {
        b.put(4, 0, map);
        EXPECT_EQ(reader.open(b.write(dir.path(), "START").c_str(), 1, 0), 1);
        reader.seekBlock(2);
        std::vector<char> out(capacity);
        uint32_t n = 0;
        reader.readText(out.data(), capacity, &n, 0, 0);
        return std::string(out.data(), n);
    }
};

}  // namespace

TEST(TagHooks, FigureEndReadsItsImageMap) {
    ImageMapBook book;
    // The picture: width 100, height 50, data at 7:10.
    book.add({0x1F, 0x31, 0x00, 0x00, 0x01, 0x00, 0x00, 0x50, 0x1F, 0x51, 0x00, 0x00, 0x00, 0x07, 0x00, 0x10});
    // A link area at 12,34 to 9:20, and a sound area at 5,6 from 0:01:02 to 0:02:00.
    book.add({0x1F, 0x42, 0x00, 0x12, 0x00, 0x34, 0x1F, 0x62, 0x00, 0x00, 0x00, 0x09, 0x00, 0x20});
    book.add({0x1F, 0x33, 0x00, 0x05, 0x00, 0x06, 0x1F, 0x53, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x02, 0x00});
    book.add({0x1F, 0x65});
    EXPECT_EQ(book.read(),
              "</FIG[00000007:000A](0100*0050:0)>"
              "<AREA COORDS=012,034,000,000 HREF=[00000009:0014]>"
              "<AREA COORDS=005,006,000,000 SOUND=[0000004C:00000096]>\x82\xA0")
        << "and the decode goes on after the figure";
}

TEST(TagHooks, ImageMapWithoutItsEndKeepsThirtyAreas) {
    ImageMapBook book;
    for (int i = 0; i < 40; ++i)
        book.add({0x1F, 0x42, 0x00, 0x01, 0x00, 0x02, 0x1F, 0x62, 0x00, 0x00, 0x00, 0x09, 0x00, 0x20});
    std::string text = book.read();
    size_t areas = 0;
    for (size_t p = 0; (p = text.find("<AREA", p)) != std::string::npos; ++p) ++areas;
    EXPECT_EQ(areas, 30u);
    EXPECT_NE(text.find("\x82\xA0"), std::string::npos) << "the decode goes on after the figure";
}

TEST(TagHooks, AreaLinesThatDoNotFitAreDropped) {
    ImageMapBook book;
    for (int i = 0; i < 3; ++i)
        book.add({0x1F, 0x42, 0x00, 0x01, 0x00, 0x02, 0x1F, 0x62, 0x00, 0x00, 0x00, 0x09, 0x00, 0x20});
    book.add({0x1F, 0x65});
    // Room for the figure end tag (34 bytes) and one area line (50).
    std::string text = book.read(34 + 50 + 10);
    EXPECT_EQ(text, "</FIG[00000004:0000](0000*0000:0)><AREA COORDS=001,002,000,000 HREF=[00000009:0014]>");
}
