// The tag and attribute tokenizer of the dictionary readers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dictformats/text/CParseTag.h"

namespace {

struct Tok {
    int type;
    std::string name;  // text of a run, or the tag's name
    int bytes;
    std::vector<std::pair<std::string, std::string>> attrs;  // value "(null)" when none
};

std::vector<Tok> tokens(const std::string& text, int skip = 1) {
    CParseTag p;
    p.setText(text.data(), static_cast<uint32_t>(text.size()));
    p.setSkipSpace(skip);
    std::vector<Tok> out;
    PARSE_TOKEN t;
    int n;
    while ((n = p.getToken(&t)) >= 0) {
        Tok k{static_cast<int>(t.type), text.substr(t.start, t.length), n, {}};
        for (const ATTR_SPAN& a : t.attributes) {
            if (!a.name) break;
            k.attrs.emplace_back(std::string(a.name, a.nameLength),
                                 a.value ? std::string(a.value, a.valueLength) : "(null)");
        }
        out.push_back(k);
        if (out.size() > text.size() + 2) break;  // no progress
    }
    return out;
}

}  // namespace

TEST(ParseTagDict, TokensAndWhiteSpace) {
    struct Case {
        const char* text;
        std::vector<std::pair<int, std::string>> tokens;  // type, name or text
        std::vector<int> bytes;
    } cases[] = {
        {"  <a>", {{3, " "}, {0, "a"}}, {1, 3}},
        {"\t<a>", {{0, "a"}}, {3}},
        {"x <br/>", {{3, "x "}, {2, "br"}}, {2, 5}},
        {"</p>", {{1, "p"}}, {4}},
        {"text", {{3, "text"}}, {4}},
        {"<a", {{0, "a"}}, {2}},
        {"", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<Tok> got = tokens(c.text);
        ASSERT_EQ(c.tokens.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(c.tokens[i].first, got[i].type) << i;
            EXPECT_EQ(c.tokens[i].second, got[i].name) << i;
            EXPECT_EQ(c.bytes[i], got[i].bytes) << i;
        }
    }
}

TEST(ParseTagDict, Attributes) {
    struct Case {
        const char* text;
        int type;
        std::vector<std::pair<std::string, std::string>> attrs;
    } cases[] = {
        {"<d a=\"x > / , y\" b=1>", 0, {{"a", "x > / , y"}, {"b", "1"}}},
        {"<d a=1,b=2 c=3>", 0, {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        {"<d a=x/y>", 2, {{"a", "x"}}},
        {"<d a=x>y>", 0, {{"a", "x"}}},
        {"<d flag>", 0, {{"flag", "(null)"}}},
        {"<d a=\"\" />", 2, {{"a", ""}}},
        {"<d a=\"unterminated", 0, {{"a", "unterminated"}}},
        {"<d a=", 0, {{"a", "(null)"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<Tok> got = tokens(c.text);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ("d", got[0].name);
        EXPECT_EQ(c.type, got[0].type);
        EXPECT_EQ(c.attrs, got[0].attrs);
    }
}

TEST(ParseTagDict, AtMost128AttributesAndASlashLaterMakesAnEmptyTag) {
    std::string text = "<d";
    for (int i = 0; i < 130; ++i) text += " a" + std::to_string(i) + "=" + std::to_string(i);
    text += " /><next>";
    std::vector<Tok> got = tokens(text);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(2, got[0].type);
    ASSERT_EQ(128u, got[0].attrs.size());
    EXPECT_EQ("a127", got[0].attrs.back().first);
    EXPECT_EQ("next", got[1].name);
}
