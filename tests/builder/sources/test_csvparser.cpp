// The delimited text reader: the field spec, the record splitter, and books
// built from CSV, TSV and "|" sources read back through the EB Library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/sources/CCSVParser.h"
#include "foundation/book/CBlockStream.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::EbSearchKind;

TEST(CsvFieldSpec, ReadsEveryForm) {
    struct Case {
        const char* name;
        const char* spec;
        CCSVParser::Encoding encoding;
        char delimiter;
        std::vector<CCSVParser::Role> roles;
    };
    using R = CCSVParser::Role;
    const Case cases[] = {
        {"wizard form, final bar ends the list",
         "enc=shift_jis;delim=\t;fields=headword||meaning|",
         CCSVParser::kShiftJis,
         '\t',
         {R::kHeadword, R::kUnused, R::kMeaning}},
        {"bar delimiter",
         "enc=utf-16;delim=|;fields=kana|headword|html|id|keyword|",
         CCSVParser::kUtf16,
         '|',
         {R::kKana, R::kHeadword, R::kHtml, R::kId, R::kKeyword}},
        {"no final bar",
         "enc=utf-8;delim=,;fields=headword|meaning",
         CCSVParser::kUtf8,
         ',',
         {R::kHeadword, R::kMeaning}},
        {"dash is an unused column, defaults utf-8 and comma",
         "fields=-|headword|",
         CCSVParser::kUtf8,
         ',',
         {R::kUnused, R::kHeadword}},
    };
    for (const Case& c : cases) {
        CCSVParser::FieldSpec spec;
        std::string error;
        ASSERT_TRUE(CCSVParser::parseFieldSpec(c.spec, &spec, &error)) << c.name << ": " << error;
        EXPECT_EQ(spec.encoding, c.encoding) << c.name;
        EXPECT_EQ(spec.delimiter, c.delimiter) << c.name;
        EXPECT_EQ(spec.roles, c.roles) << c.name;
    }
}

TEST(CsvFieldSpec, FaultsNameWhatIsWrong) {
    const struct {
        const char* spec;
        const char* named;
    } cases[] = {
        {"enc=latin1;fields=headword|", "latin1"},
        {"enc=utf-8;delim=;;fields=headword|", "delim"},
        {"enc=utf-8;fields=headword|body|", "body"},
        {"enc=utf-8;colour=red;fields=headword|", "colour"},
        {"enc=utf-8;delim=,", "no fields"},
        {"", "empty"},
        {"enc=utf-8;delim=:;fields=headword|", "\":\""},
    };
    for (const auto& c : cases) {
        CCSVParser::FieldSpec spec;
        std::string error;
        EXPECT_FALSE(CCSVParser::parseFieldSpec(c.spec, &spec, &error)) << c.spec;
        EXPECT_NE(error.find(c.named), std::string::npos) << c.spec << " -> " << error;
    }
}

TEST(CsvRecords, SplitsWithQuotes) {
    const struct {
        const char* name;
        std::string line;
        char delimiter;
        bool complete;
        std::vector<std::string> fields;
    } cases[] = {
        {"plain", "a,b,c", ',', true, {"a", "b", "c"}},
        {"empty fields", ",,", ',', true, {"", "", ""}},
        {"quoted delimiter and doubled quote", "\"a,b\",\"say \"\"hi\"\"\"", ',', true, {"a,b", "say \"hi\""}},
        {"quote inside an unquoted field is text", "a\"b,c", ',', true, {"a\"b", "c"}},
        {"text after a closing quote is kept", "\"a\"b,c", ',', true, {"ab", "c"}},
        {"open quote continues the record", "x,\"line one", ',', false, {"x", "line one"}},
        {"tab", "a\tb c\t", '\t', true, {"a", "b c", ""}},
        // ポ is 83 7C: its second byte is "|" and must not split the field.
        {"bar inside a two-byte character", "\x83\x7C\x83\x93|b", '|', true, {"\x83\x7C\x83\x93", "b"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> fields;
        EXPECT_EQ(CCSVParser::splitRecord(c.line, c.delimiter, &fields, false), c.complete) << c.name;
        EXPECT_EQ(fields, c.fields) << c.name;
    }
    // A quoted line break: the open field goes on with the next line.
    std::vector<std::string> fields;
    ASSERT_FALSE(CCSVParser::splitRecord("w,\"first", ',', &fields, false));
    ASSERT_TRUE(CCSVParser::splitRecord("second\",z", ',', &fields, true));
    EXPECT_EQ(fields, (std::vector<std::string>{"w", "first\r\nsecond", "z"}));
}

// Builds one book from one delimited source; the log in *log.
std::string buildCsvBook(const lftest::TestDir& dir, const std::string& name, const std::string& content,
                         const std::string& spec, std::string* log, int indexDef = 0x01 | 0x02 | 0x10) {
    std::string path = dir.file(name);
    EXPECT_TRUE(lftest::writeFile(path, content));
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.indexDef = indexDef;
    lftest::BookSource s;
    s.path = path;
    s.type = 9;
    s.fields = spec;
    r.sources.push_back(s);
    lftest::BookRun run = lftest::buildBook(r);
    if (log) *log = run.log();
    return dir.path() + "/";
}

bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

TEST(CsvBook, Utf8CommaWithQuotedLineBreaksIsSearchable) {
    lftest::TestDir dir;
    // apple: a quoted meaning over two lines; banana: a keyword list; a record
    // with extra columns and one that lacks its meaning column.
    const std::string csv =
        "apple,\xE3\x82\x8A\xE3\x82\x93\xE3\x81\x94,\"a fruit,\nred or green\",fruit;tree,extra,more\n"
        "banana,\xE3\x81\xB0\xE3\x81\xAA\xE3\x81\xAA,yellow,fruit\n"
        "cherry\n";
    std::string log;
    std::string book = buildCsvBook(dir, "d.csv", csv, "enc=utf-8;delim=,;fields=headword|kana|meaning|keyword|", &log);
    lftest::EbProbe probe(book);
    ASSERT_TRUE(probe.ok()) << probe.error();
    auto apple = probe.searchText(0, EbSearchKind::Word, {"apple"});
    ASSERT_EQ(apple.size(), 1u) << log;
    EXPECT_TRUE(contains(apple[0].text, "a fruit,")) << apple[0].text;
    EXPECT_TRUE(contains(apple[0].text, "red or green")) << apple[0].text;
    // Reading in the head, kana search by it.
    EXPECT_TRUE(contains(apple[0].text, "\x82\xe8\x82\xf1\x82\xb2")) << apple[0].text;
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Word, {"\x82\xe8\x82\xf1\x82\xb2"}).size(), 1u);
    // Keywords of both records; the second keyword of apple alone.
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Keyword, {"fruit"}).size(), 2u);
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Keyword, {"tree"}).size(), 1u);
    // A record without the meaning column is still an entry.
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Word, {"cherry"}).size(), 1u);
    // Extra columns are ignored, not written.
    EXPECT_FALSE(contains(apple[0].text, "extra"));
}

// UTF-16LE bytes with the byte-order mark.
std::string utf16le(const std::u16string& text) {
    std::string out("\xFF\xFE", 2);
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

TEST(CsvBook, EveryEncodingAndDelimiter) {
    struct Case {
        const char* name;
        std::string content;
        std::string spec;
    };
    // 辞書 (dictionary) and ポンプ (pump, whose first character ends in the byte "|").
    const Case cases[] = {
        {"shift_jis tab", "\x8e\xab\x8f\x91\tdictionary\t-\n\x83\x7C\x83\x93\x83\x76\tpump\t-\n",
         "enc=shift_jis;delim=\t;fields=headword|meaning||"},
        {"shift_jis bar", "\x8e\xab\x8f\x91|dictionary\r\n\x83\x7C\x83\x93\x83\x76|pump\r\n",
         "enc=shift_jis;delim=|;fields=headword|meaning|"},
        {"utf-16 bar, quoted", utf16le(u"\u8F9E\u66F8|dictionary\r\n\u30DD\u30F3\u30D7|\"pump\"\r\n"),
         "enc=utf-16;delim=|;fields=headword|meaning|"},
        {"utf-8 with mark, comma",
         "\xEF\xBB\xBF\xE8\xBE\x9E\xE6\x9B\xB8,dictionary\n\xE3\x83\x9D\xE3\x83\xB3\xE3\x83\x97,pump",
         "enc=utf-8;delim=,;fields=headword|meaning|"},
        {"mark wins over the spec", utf16le(u"\u8F9E\u66F8,dictionary\n\u30DD\u30F3\u30D7,pump\n"),
         "enc=shift_jis;delim=,;fields=headword|meaning|"},
    };
    for (const Case& c : cases) {
        lftest::TestDir dir;
        std::string log;
        std::string book = buildCsvBook(dir, "d.txt", c.content, c.spec, &log);
        lftest::EbProbe probe(book);
        ASSERT_TRUE(probe.ok()) << c.name << probe.error();
        auto hits = probe.searchText(0, EbSearchKind::Word, {"\x8e\xab\x8f\x91"});
        ASSERT_EQ(hits.size(), 1u) << c.name << log;
        EXPECT_TRUE(contains(hits[0].text, "dictionary")) << c.name;
        auto pump = probe.searchText(0, EbSearchKind::Word, {"\x83\x7C\x83\x93\x83\x76"});
        ASSERT_EQ(pump.size(), 1u) << c.name << log;
        EXPECT_TRUE(contains(pump[0].text, "pump")) << c.name << pump[0].text;
        EXPECT_FALSE(contains(pump[0].text, "\"")) << c.name;
    }
}

TEST(CsvBook, RecordsWithoutHeadwordAreNamedAndSkipped) {
    lftest::TestDir dir;
    std::string csv = "alpha,first\n,orphan\nbeta,second\n";
    for (int i = 0; i < 25; ++i) csv += ",more\n";
    std::string log;
    std::string book = buildCsvBook(dir, "d.csv", csv, "enc=utf-8;delim=,;fields=headword|meaning|", &log);
    EXPECT_TRUE(contains(log, "record without a headword in " + dir.file("d.csv") + " (Line=2)")) << log;
    EXPECT_TRUE(contains(log, "(Line=22)")) << log;   // the 20th one named
    EXPECT_FALSE(contains(log, "(Line=23)")) << log;  // then counted
    EXPECT_TRUE(contains(log, "6 more records without a headword")) << log;
    lftest::EbProbe probe(book);
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Word, {"alpha"}).size(), 1u);
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Word, {"beta"}).size(), 1u);
}

TEST(CsvBook, BadSpecSkipsTheSourceWithAMessage) {
    lftest::TestDir dir;
    std::string log;
    buildCsvBook(dir, "d.csv", "alpha,first\n", "enc=utf-8;fields=headword|gloss|", &log);
    EXPECT_TRUE(contains(log, "unknown field type \"gloss\"")) << log;
    EXPECT_TRUE(contains(log, dir.file("d.csv"))) << log;
}

TEST(CsvBook, HtmlFieldsAndVeryLongFields) {
    lftest::TestDir dir;
    const std::string big(1 << 20, 'x');
    std::string csv = "term,<b>bold</b> and <i>it</i><br>H<sub>2</sub>O <unknown>kept</unknown> <b>open\n";
    csv += "long,\"" + big + "\"\n";
    csv += "after,end\n";
    std::string log;
    std::string book = buildCsvBook(dir, "d.csv", csv, "enc=utf-8;delim=,;fields=headword|html|", &log);
    lftest::EbProbe probe(book);
    ASSERT_TRUE(probe.ok()) << probe.error();
    auto term = probe.searchText(0, EbSearchKind::Word, {"term"});
    ASSERT_EQ(term.size(), 1u) << log;
    EXPECT_TRUE(contains(term[0].text, "bold and it")) << term[0].text;
    EXPECT_TRUE(contains(term[0].text, "kept")) << term[0].text;
    EXPECT_FALSE(contains(term[0].text, "<b>")) << term[0].text;
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Word, {"long"}).size(), 1u);
    EXPECT_EQ(probe.searchText(0, EbSearchKind::Word, {"after"}).size(), 1u);
}

TEST(CsvBook, IdsAreAnchorsAndHtmlLinksReachThem) {
    lftest::TestDir dir;
    const std::string csv =
        "apple,\"See <a href=\"\"#b2\"\">banana</a>, <a href=\"\"http://x.example/\"\">web</a>.\",a1\n"
        "banana,yellow,b2\n";
    std::string log;
    std::string book = buildCsvBook(dir, "d.csv", csv, "enc=utf-8;delim=,;fields=headword|html|id|", &log);
    EXPECT_TRUE(contains(log, "# of Anchors(2)")) << log;
    EXPECT_TRUE(contains(log, "# of Links(1)")) << log;
    lftest::EbProbe probe(book);
    ASSERT_TRUE(probe.ok()) << probe.error();
    auto apple = probe.searchText(0, EbSearchKind::Word, {"apple"});
    auto banana = probe.search(0, EbSearchKind::Word, {"banana"});
    ASSERT_EQ(apple.size(), 1u);
    ASSERT_EQ(banana.size(), 1u);
    EXPECT_TRUE(contains(apple[0].text, "web")) << apple[0].text;  // external: text only
    lftest::Bytes raw = probe.readText(0, apple[0].textBlock, apple[0].textOffset, 256);
    int references = 0;
    for (size_t i = 0; i + 7 < raw.size(); i += 2) {
        if (raw[i] == 0x1F && raw[i + 1] == 0x03) break;
        if (raw[i] == 0x1F && raw[i + 1] == 0x62) {
            auto bcd = [&](size_t at, int n) {
                int v = 0;
                for (int k = 0; k < n; ++k) v = v * 100 + (raw[at + k] >> 4) * 10 + (raw[at + k] & 15);
                return v;
            };
            EXPECT_EQ(bcd(i + 2, 4), banana[0].textBlock);
            EXPECT_EQ(bcd(i + 6, 2), banana[0].textOffset);
            ++references;
        }
    }
    EXPECT_EQ(references, 1);
}

}  // namespace
