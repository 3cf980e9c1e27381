// The complex-search definition reader: what each tag makes, the cuts of
// labels and titles, and the definitions it refuses.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "builder/complex/CComplexDef.h"

namespace {

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// The candidate tree as text: words, groups as "label(children)".
std::string tree(const std::vector<COMPLEX_CANDIDATE>& list) {
    std::string out;
    for (const COMPLEX_CANDIDATE& c : list) {
        if (!out.empty()) out += ",";
        out += c.label;
        if (!c.children.empty()) out += "(" + tree(c.children) + ")";
    }
    return out;
}

// A search as text: "title|label[names]{candidates}|...".
std::string describe(const COMPLEX_DEF& d) {
    std::string out = d.title;
    for (const COMPLEX_FIELD& f : d.fields) {
        out += "|" + f.label + (f.bookIndex ? "*[" : "[");
        for (size_t i = 0; i < f.names.size(); ++i) out += (i ? "," : "") + f.names[i];
        out += "]";
        if (!f.candidates.empty()) out += "{" + tree(f.candidates) + "}";
    }
    return out;
}

std::vector<std::string> parse(const std::string& text) {
    CComplexDef def;
    def.parse(text.data(), text.size());
    std::vector<std::string> out;
    for (const COMPLEX_DEF& d : def.definitions()) out.push_back(describe(d));
    return out;
}

TEST(ComplexDefinition, TagsMakeSearchesFieldsAndCandidates) {
    const std::string kanji16 = repeat("\x8a\xbf", 16);  // 16 two-byte characters
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> searches;
    } cases[] = {
        {"a field fed by its label", "<COMPLEX><GROUP name=a></GROUP></COMPLEX>", {"|a[a]"}},
        {"a self-closing field", "<COMPLEX><GROUP name=\"a\"/></COMPLEX>", {"|a[a]"}},
        {"a field of the book's keyword index",
         "<COMPLEX><GROUP name=k type=Keyword/><GROUP name=o type=x/></COMPLEX>",
         {"|k*[k]|o[o]"}},
        {"title and KEY names",
         "<COMPLEX name=\"Works\"><GROUP name=\"Author\"><ATTR name=\"author\"/><ATTR name=writer></GROUP></COMPLEX>",
         {"Works|Author[author,writer]"}},
        {"candidates on three levels",
         "<complex><group name=g>\n"
         "<category name=\"Fiction\"><subcategory name=\"Long\"><keyword>epic</keyword></subcategory>"
         "<keyword name=\"tale\"/></category>\n"
         "<keyword>  two words </keyword><category name=\"Plain\"/>\n"
         "</group></complex>",
         {"|g[g]{Fiction(Long(epic),tale),two words,Plain}"}},
        {"a subcategory ends at its close",
         "<COMPLEX><GROUP name=g><CATEGORY name=c><SUBCATEGORY name=s1></SUBCATEGORY>"
         "<SUBCATEGORY name=s2><KEYWORD>k</KEYWORD></GROUP></COMPLEX>",
         {"|g[g]{c(s1,s2(k))}"}},
        {"comments, text and other tags are ignored",
         "<?xml version=\"1.0\"?><!-- <GROUP name=x> -->words<COMPLEX><P>p<GROUP name=a></GROUP></COMPLEX>",
         {"|a[a]"}},
        {"a label is cut to 15 characters, a title to 16",
         "<COMPLEX name=\"" + kanji16 + "x\"><GROUP name=\"" + kanji16 + "\"/></COMPLEX>",
         {kanji16 + "|" + repeat("\x8a\xbf", 15) + "[" + kanji16 + "]"}},
        {"an unclosed search ends with the file", "<COMPLEX><GROUP name=a><KEYWORD>w", {"|a[a]{w}"}},
    };
    for (const Case& c : cases) {
        try {
            EXPECT_EQ(parse(c.text), c.searches) << c.what;
        } catch (const std::exception& e) {
            ADD_FAILURE() << c.what << ": " << e.what();
        }
    }
}

TEST(ComplexDefinition, TenSearchesOfFiveFieldsAreTheLimit) {
    const std::string fields = repeat("<GROUP name=f/>", 5);
    const std::string search = "<COMPLEX>" + fields + "</COMPLEX>\n";
    EXPECT_EQ(parse(repeat(search, 10)).size(), 10u);
    struct Case {
        const char* what;
        std::string text;
        const char* message;
    } cases[] = {
        {"eleven searches", repeat(search, 11), "more than 10 complex searches (line 11)(loadComplexDef)"},
        {"six fields", "<COMPLEX>\n" + fields + "\n<GROUP name=six/></COMPLEX>",
         "more than 5 fields in one complex search (line 3)"},
        {"too many candidates", "<COMPLEX><GROUP name=g>" + repeat("<KEYWORD name=k/>", 1001) + "</GROUP></COMPLEX>",
         "too many candidates in one field"},
        {"a field outside a search", "<GROUP name=a/>", "<GROUP> outside <COMPLEX> (line 1)"},
        {"a search inside a search", "<COMPLEX><GROUP name=a/><COMPLEX>", "<COMPLEX> inside <COMPLEX>"},
        {"a search without fields", "<COMPLEX name=t>\n</COMPLEX>", "<COMPLEX> without fields (line 2)"},
        {"a search without fields at the end", "<COMPLEX name=t>", "<COMPLEX> without fields"},
        {"a field without a name", "<COMPLEX><GROUP></GROUP></COMPLEX>", "<GROUP> without a name"},
        {"a field inside a field", "<COMPLEX><GROUP name=a><GROUP name=b>", "<GROUP> inside <GROUP>"},
        {"a KEY name outside a field", "<COMPLEX><ATTR name=a>", "<ATTR> outside <GROUP>"},
        {"a KEY name without a name", "<COMPLEX><GROUP name=a><ATTR>", "<ATTR> without a name"},
        {"a candidate outside a field", "<COMPLEX><CATEGORY name=c>", "<CATEGORY> outside <GROUP>"},
        {"a subcategory outside a category", "<COMPLEX><GROUP name=g><SUBCATEGORY name=s>",
         "<SUBCATEGORY> outside <CATEGORY>"},
        {"an empty keyword", "<COMPLEX><GROUP name=g><KEYWORD> </KEYWORD>", "<KEYWORD> without a word"},
        {"an empty file", "", "no <COMPLEX> in the definition (line 1)"},
        {"a file without a search", "<!-- nothing -->\n<GROUP2>\n", "no <COMPLEX> in the definition (line 3)"},
        {"a subcategory inside a subcategory",
         "<COMPLEX><GROUP name=g><CATEGORY name=c>\n<SUBCATEGORY name=s><SUBCATEGORY name=t>",
         "<SUBCATEGORY> inside <SUBCATEGORY> (line 2)"},
    };
    for (const Case& c : cases) {
        try {
            parse(c.text);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

// A UTF-8 file (with a mark, or valid UTF-8 that is no valid Shift_JIS) is
// read as UTF-8: its Japanese names come out as the Shift_JIS working text.
// Shift_JIS stays Shift_JIS.
TEST(ComplexDefinition, Utf8FilesAreReadAsUtf8) {
    const std::string sjisDef = "<COMPLEX name=\"\x8c\x9f\x8d\xf5\"><GROUP name=\"\x92\x98\x8e\xd2\"/></COMPLEX>";
    const std::string want = "\x8c\x9f\x8d\xf5|\x92\x98\x8e\xd2[\x92\x98\x8e\xd2]";  // 検索|著者[著者]
    const std::string utf8Def = "<COMPLEX name=\"\xe6\xa4\x9c\xe7\xb4\xa2\"><GROUP name=\"\xe8\x91\x97\xe8\x80\x85\"/></COMPLEX>";
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"Shift_JIS", sjisDef},
        {"UTF-8", utf8Def},
        {"UTF-8 with a mark", "\xef\xbb\xbf" + utf8Def},
    };
    for (const Case& c : cases) EXPECT_EQ(parse(c.text), std::vector<std::string>{want}) << c.what;
    EXPECT_FALSE(CComplexDef::isUtf8(sjisDef.data(), sjisDef.size()));
    const std::string ascii = "<COMPLEX><GROUP name=a/></COMPLEX>";
    EXPECT_FALSE(CComplexDef::isUtf8(ascii.data(), ascii.size()));
}

TEST(ComplexDefinition, MissingFileIsRefused) {
    CComplexDef def;
    try {
        def.load("/nonexistent/complex.def");
        ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Complex definition file not found(loadComplexDef)\r\n");
    }
}

}  // namespace
