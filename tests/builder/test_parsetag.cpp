// Tag tokenizer: tag codes, attributes, text runs from files and memory, the
// context stack, line counting and tokens longer than the token buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/CParseTag0.h"
#include "tests/common/TestDir.h"

namespace {

std::string attrName(const TAG_ATTR_ITEM& a) {
    return a.name ? std::string(a.name, a.nameLen) : "<null>";
}
std::string attrValue(const TAG_ATTR_ITEM& a) {
    return a.value ? std::string(a.value, a.valueLen) : "<null>";
}

struct CodeCase {
    const char* what;
    const char* text;
    int code;
    int isEndTag;
    int consumed;  // parseTag's result
};

const CodeCase kCodeCases[] = {
    {"lower-case start tag", "<h1>", 12, 0, 4},
    {"upper-case start tag", "<H1>", 12, 0, 4},
    {"end tag takes the close code", "</h1>", 13, 1, 5},
    {"tag without end form", "<br>", 40, 0, 4},
    {"self-closing BR", "<BR/>", 40, 1, 5},
    {"slash after name keeps the open code", "<P/>", 24, 1, 4},
    {"name with a hyphen", "<DIC-ITEM>", 143, 0, 10},
    {"longer name than any row", "<HEADWORDS>", 165, 0, 11},
    {"comment is one token", "<!-- a -- b -->", 163, 0, 15},
    {"xml declaration", "<?xml version=\"1.0\"?>", 164, 0, 21},
    {"doctype is unknown", "<!DOCTYPE html>", 165, 0, 15},
    {"slash in unquoted value", "<A HREF=dir/file.htm>", 26, 1, 21},
    {"quoted '>' does not end the tag", "<a title=\"x>y\">rest", 26, 0, 15},
    {"line break inside the name", "<h1\nclass=x>", 165, 0, 12},
    {"tag stops at the end of the buffer", "<b class=\"x", 41, 0, 11},
    {"unterminated comment", "<!-- never closed", 163, 0, 17},
    {"comment ends at -->, not at '>'", "<!-- a > b -->c", 163, 0, 14},
    {"quotes do not hide a comment's end", "<!-- \" -->c", 163, 0, 10},
    {"'<!-->' does not end the comment", "<!-->x-->y", 163, 0, 9},
    {"text run stops at '<'", "abc<b>", 0, 0, 3},
    {"text run stops at a tab", "ab\tcd", 0, 0, 2},
    {"spaces are kept in memory", "  ab", 0, 0, 4},
    {"leading control characters are skipped", "\r\n<b>", 41, 0, 5},
    {"only control characters", "\r\n\t", 0, 0, 3},
};

TEST(ParseTag, CodesFromMemory) {
    CParseTag0 p;
    for (const CodeCase& c : kCodeCases) {
        SCOPED_TRACE(c.what);
        TAG_ITEM tag;
        int n = p.parseTag(c.text, &tag, static_cast<int>(std::string(c.text).size()));
        EXPECT_EQ(c.code, tag.code);
        EXPECT_EQ(c.isEndTag, tag.isEndTag);
        EXPECT_EQ(c.consumed, n);
    }
}

struct AttrCase {
    const char* what;
    const char* text;
    std::vector<std::pair<std::string, std::string>> attrs;  // value "<null>" when none
};

TEST(ParseTag, Attributes) {
    const AttrCase cases[] = {
        {"quoted value with a space, comma, bare name",
         "<IMG SRC=\"a b.png\" ALT=x,y>",
         {{"SRC", "a b.png"}, {"ALT", "x"}, {"y", "<null>"}}},
        {"unquoted value ends at '/'", "<A HREF=dir/file.htm>", {{"HREF", "dir"}}},
        {"empty quoted value", "<a b=\"\">", {{"b", ""}}},
        {"spaces belong to the name", "<a b c=1>", {{"b c", "1"}}},
        {"unquoted value ends at white space", "<td width=10 align=left>", {{"width", "10"}, {"align", "left"}}},
        {"unquoted name and link both kept", "<A NAME=x HREF=y>", {{"NAME", "x"}, {"HREF", "y"}}},
        {"unquoted value ends at a tab", "<a b=1\tc=2>", {{"b", "1"}, {"c", "2"}}},
        {"only five attributes are kept",
         "<x a=\"1\" b=\"2\" c=\"3\" d=\"4\" e=\"5\" f=\"6\">",
         {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}}},
        {"value cut by the end of the buffer", "<b class=\"x", {{"class", "x"}}},
        {"no white space after the name", "<b/>", {}},
    };
    CParseTag0 p;
    for (const AttrCase& c : cases) {
        SCOPED_TRACE(c.what);
        TAG_ITEM tag;
        p.parseTag(c.text, &tag, static_cast<int>(std::string(c.text).size()));
        size_t i = 0;
        for (; i < c.attrs.size(); ++i) {
            EXPECT_EQ(c.attrs[i].first, attrName(tag.attr[i]));
            EXPECT_EQ(c.attrs[i].second, attrValue(tag.attr[i]));
        }
        if (i < 5) {
            EXPECT_EQ(nullptr, tag.attr[i].name);
        }
    }
}

TEST(ParseTag, SixthAttributeSlashStillMarksEnd) {
    CParseTag0 p;
    TAG_ITEM tag;
    const std::string t = "<GAIJIMAP a=\"1\" b=\"2\" c=\"3\" d=\"4\" e=\"5\" f=\"6\"/>";
    EXPECT_EQ(static_cast<int>(t.size()), p.parseTag(t.data(), &tag, static_cast<int>(t.size())));
    EXPECT_EQ(TAG_GAIJIMAP, tag.code);
    EXPECT_EQ(1, tag.isEndTag);
}

TEST(ParseTag, TokenStartSkipsControls) {
    CParseTag0 p;
    TAG_ITEM tag;
    int start = -1;
    EXPECT_EQ(5, p.parseTag("\n\nabc", &tag, 5, &start));
    EXPECT_EQ(2, start);
    EXPECT_EQ(TAG_TEXT, tag.code);
}

// Reads every token of a file.
struct Token {
    std::string text;
    int code;
    int line;  // line() after the token
};

std::vector<Token> readAll(const std::string& content, int keepSpace) {
    lftest::TestDir dir;
    std::string path = dir.file("in.html");
    EXPECT_TRUE(lftest::writeFile(path, content));
    CParseTag0 p;
    EXPECT_EQ(0, p.open(path.c_str()));
    std::vector<Token> out;
    char* text = nullptr;
    TAG_ITEM tag;
    int n;
    while ((n = p.nextToken(&text, &tag, keepSpace)) > 0) {
        EXPECT_EQ(n, static_cast<int>(std::string(text).size()));
        out.push_back({std::string(text, n), tag.code, p.line()});
        if (out.size() > 100) break;
    }
    return out;
}

struct StreamCase {
    const char* what;
    const char* content;
    int keepSpace;
    std::vector<Token> tokens;
};

TEST(ParseTag, TokensFromFile) {
    const StreamCase cases[] = {
        {"blanks collapse, line break joins", "  abc def\nghi", 0, {{" abc def", 0, 1}, {"ghi", 0, 2}}},
        {"tag after blanks gives a space token first",
         "x\n  <b>y</b>",
         0,
         {{"x", 0, 1}, {" ", 0, 2}, {"<b>", 41, 2}, {"y", 0, 2}, {"</b>", 42, 2}}},
        {"spaces inside a run are kept", "a <i>", 0, {{"a ", 0, 1}, {"<i>", 43, 1}}},
        {"only blanks at the end give nothing", "<br>\n \t\n", 0, {{"<br>", 40, 1}}},
        {"keepSpace keeps a line feed and spaces", "\n  abc", 1, {{"\n  abc", 0, 2}}},
        {"keepSpace gives kept line breaks before a tag on their own",
         "a\n<b>",
         1,
         {{"a", 0, 1}, {"\n", 0, 2}, {"<b>", 41, 2}}},
        {"line counts lines of a tag", "<a\nhref=x>\nz", 0, {{"<a\nhref=x>", 165, 2}, {"z", 0, 3}}},
        {"UTF-8 byte-order mark is not text", "\xEF\xBB\xBF<b>x", 0, {{"<b>", 41, 1}, {"x", 0, 1}}},
        {"mark-like bytes that are no mark stay", "\xEF\xBBz", 0, {{"\xEF\xBBz", 0, 1}}},
        {"unterminated tag ends at the end of the file", "t<b class=\"x", 0, {{"t", 0, 1}, {"<b class=\"x", 41, 1}}},
        {"comment runs over '>' and lines to -->", "<!-- <b>\n\" -->x", 0, {{"<!-- <b>\n\" -->", 163, 2}, {"x", 0, 2}}},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Token> got = readAll(c.content, c.keepSpace);
        ASSERT_EQ(c.tokens.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(c.tokens[i].text, got[i].text) << "token " << i;
            EXPECT_EQ(c.tokens[i].code, got[i].code) << "token " << i;
            EXPECT_EQ(c.tokens[i].line, got[i].line) << "token " << i;
        }
    }
}

TEST(ParseTag, CommentLongerThanTheBufferIsOneToken) {
    // Its start is kept; the rest up to "-->" is passed over, never text.
    const std::string comment = "<!--" + std::string(CParseTag0::kBufferSize + 100, '>') + "-->";
    std::vector<Token> got = readAll(comment + "x", 0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].code, 163);
    EXPECT_EQ(got[0].text.size(), static_cast<size_t>(CParseTag0::kBufferSize - 1));
    EXPECT_EQ(got[1].text, "x");
}

TEST(ParseTag, NoFileGivesNoTokens) {
    CParseTag0 p;
    char* text = nullptr;
    TAG_ITEM tag;
    EXPECT_EQ(0, p.nextToken(&text, &tag, 0));
    lftest::TestDir dir;
    EXPECT_EQ(-1, p.open(dir.file("missing.html").c_str()));
    EXPECT_EQ(0, p.nextToken(&text, &tag, 0));
    p.close();
    p.close();  // harmless twice
}

// A text run longer than the token buffer is cut at a character boundary and
// its rest comes as the next token.
TEST(ParseTag, LongRunsAreCutAtCharacterBoundaries) {
    struct Case {
        const char* what;
        std::string prefix;
        std::string unit;  // repeated character
        int repeat;
        int firstLength;
    };
    const Case cases[] = {
        // 65535 bytes would end on the lead byte of a Shift_JIS pair.
        {"Shift_JIS pairs", "", "\x82\xA0", 35000, 65534},
        // 1 + 3k bytes: 65535 would cut the last UTF-8 sequence after 2 bytes.
        {"UTF-8 sequences", "a", "\xE3\x81\x82", 23000, 65533},
        {"ASCII", "", "x", 70000, 65535},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string content = c.prefix;
        for (int i = 0; i < c.repeat; ++i) content += c.unit;
        std::vector<Token> got = readAll(content, 0);
        ASSERT_EQ(2u, got.size());
        EXPECT_EQ(c.firstLength, static_cast<int>(got[0].text.size()));
        EXPECT_EQ(content, got[0].text + got[1].text);
    }
}

TEST(ParseTag, CutFlagAndLongTag) {
    lftest::TestDir dir;
    std::string path = dir.file("long.html");
    std::string content = "<" + std::string(70000, 'a') + ">";
    ASSERT_TRUE(lftest::writeFile(path, content));
    CParseTag0 p;
    ASSERT_EQ(0, p.open(path.c_str()));
    char* text = nullptr;
    TAG_ITEM tag;
    EXPECT_EQ(65535, p.nextToken(&text, &tag, 0));
    EXPECT_EQ(1, p.tokenWasCut());
    EXPECT_EQ(TAG_UNKNOWN, tag.code);
    EXPECT_EQ(70002 - 65535, p.nextToken(&text, &tag, 0));
    EXPECT_EQ(0, p.tokenWasCut());
    EXPECT_EQ(0, p.nextToken(&text, &tag, 0));
}

TEST(ParseTag, ContextStack) {
    CParseTag0 p;
    EXPECT_EQ(28, p.top());
    EXPECT_EQ(28, p.pop());
    for (int i = 1; i <= 41; ++i) p.push(i);  // the 41st is ignored
    EXPECT_EQ(40, p.top());
    for (int i = 40; i >= 1; --i) EXPECT_EQ(i, p.pop());
    EXPECT_EQ(28, p.pop());
    p.push(7);
    p.reset();
    EXPECT_EQ(28, p.top());
    EXPECT_EQ(1, p.line());
}

}  // namespace
