// Record texts to HTML (style markers, the phonetic font, plain-text
// records) and the header attributes that drive them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dictformats/mdict/CMDictReader.h"
#include "tests/common/MdictFixtures.h"

namespace {

std::string render(CMDictReader& r, const char* text, uint32_t capacity = 1024) {
    std::string out(capacity + 16, '#');
    r.applyStyleSheet(text, 0, &out[0], capacity);
    EXPECT_EQ(std::string(16, '#'), out.substr(capacity)) << "written past the capacity";
    return std::string(out.c_str());
}

}  // namespace

TEST(MdictRender, StyleMarkersBecomeTheirTexts) {
    // Styles 1 and 2 are defined with a blank line between them.
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(lftest::mdictFixture("v20_styles.mdx").c_str()));
    ASSERT_EQ(2u, r.styles().size());
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"`1`word`2`x", "<b>word</b><i>x</i>"},
        {"`9`plain", "plain"},  // an undefined style writes nothing
        {"a`b", "a`b"},         // a backquote without a digit is a character
        {"`1`open", "<b>open</b>"},
        {"`1word", "<b>word</b>"},  // the closing backquote may be missing
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.out, render(r, c.in)) << c.in;
    // A small buffer: whole pieces only, never past the end, always ended.
    for (uint32_t cap = 1; cap < 24; ++cap) {
        std::string out = render(r, "`1`word`2`x", cap);
        EXPECT_LT(out.size(), cap);
        EXPECT_EQ(0u, std::string("<b>word</b><i>x</i>").find(out)) << cap;
    }
    char untouched = '#';
    r.applyStyleSheet("`1`word", 0, &untouched, 0);
    EXPECT_EQ('#', untouched);
}

TEST(MdictRender, PhoneticFontAndPlainText) {
    // Format "Text", style 3 begins a font element with the phonetic font.
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(lftest::mdictFixture("v20_required_only.mdx").c_str()));
    EXPECT_EQ('T', r.format());
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"`3`AD`0`AD", "<pre><font  size=2>\xC3\xA6\xC9\x91\xCC\x83</font>AD</pre>"},
        {"<font face=\"Kingsoft Phonetic Plain\">A</font>A", "<pre><font >\xC3\xA6</font>A</pre>"},
        {"<FONT FACE=\"kingsoft phonetic plain\" x>5:</FONT>5", "<pre><FONT  x>'\xCB\x90</FONT>5</pre>"},
        {"a<b", "<pre>a<b</pre>"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.out, render(r, c.in)) << c.in;
}

TEST(MdictRender, HeaderAttributes) {
    struct Case {
        const char* file;
        double version;
        int compact;
        bool utf16;
        const char* key;
    } cases[] = {
        // Only RequiredEngineVersion: read with the 2.0 layout.
        {"v20_required_only.mdx", 2.0, 1, false, "plain"},
        // "utf-16" in lower case: plain bytes in an .mdx.
        {"v20_lower_utf16.mdx", 2.0, 0, false, "banana"},
        // An .mdd has UTF-16 keys whatever its Encoding says.
        {"v20_utf8_claim.mdd", 2.0, 0, true, "\\style.css"},
        {"v12_utf8_zlib.mdx", 1.2, 0, false, "banana"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CMDictReader r;
        ASSERT_NE(nullptr, r.open(lftest::mdictFixture(c.file).c_str())) << r.failureReason();
        EXPECT_DOUBLE_EQ(c.version, r.generatedByEngineVersion());
        EXPECT_EQ(c.compact, r.compact());
        EXPECT_EQ(c.utf16, r.hasUtf16Keys());
        uint64_t pos = 0, off = 0;
        ASSERT_GE(r.findKey(c.key, &pos, &off, 1), 0);
        EXPECT_STREQ(c.key, r.keyText(pos));
    }
}

TEST(MdictRender, DescriptionEntitiesAreDecodedOnce) {
    // The attribute holds "caf&#233; &#x65E5; &#0; &lt;b&gt;": numeric
    // references become UTF-8 of their code point (not one byte of it); a
    // reference to 0 stays as written.
    CMDictReader r;
    ASSERT_NE(nullptr, r.openHeader(lftest::mdictFixture("v20_required_only.mdx").c_str()));
    EXPECT_EQ("caf\xC3\xA9 \xE6\x97\xA5 &#0; <b>", r.description());
}

TEST(MdictRender, InformationTextWithoutFormatKeepsItsLines) {
    // The .mdd fixture has no Format: the line stays, empty, and the lines
    // after it follow.
    CMDictReader r;
    ASSERT_NE(nullptr, r.open(lftest::mdictFixture("v20_utf8_claim.mdd").c_str()));
    char info[1024];
    r.formatInfo(info, sizeof info);
    EXPECT_NE(nullptr, strstr(info, "Format = \r\nTotal number of records = 4\r\n")) << info;
}
