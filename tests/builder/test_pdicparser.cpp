// PDIC text sources: the body text the readers write for one-line and
// two-line files in Shift_JIS and UTF-16, and the notation tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "builder/CEBBook.h"
#include "builder/CEPWing.h"
#include "builder/sources/CPDICParser.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/codes/jclib.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/BookTextRender.h"
#include "tests/common/EbProbe.h"
#include "tests/common/PdicWriter.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::renderBookText;
using lftest::utf16;

struct ParseRun {
    lftest::TestDir dir;
    CEBBook book;
    ConvertOpt opt;
    SOURCE_INFO source;
    CBlockStream body{2, 0};

    ParseRun() {
        std::memset(&opt, 0, sizeof opt);
        std::memset(&source, 0, sizeof source);
        book.allocStringT(1 << 20);
    }
    std::string parse(int type, const std::string& bytes, bool write = true) {
        std::string path = dir.file("src.txt");
        if (write) lftest::writeFile(path, bytes);
        std::snprintf(source.path, sizeof source.path, "%s", path.c_str());
        source.type = type;
        source.fileSize = static_cast<int64_t>(bytes.size());
        CPDICParser parser;
        if (type == 2)
            parser.parsePDICText(&book, &opt, &source, &body, 0);
        else if (type == 6)
            parser.parsePDICDic(&book, &opt, &source, &body, 0);
        else
            parser.parsePDIC1LINE(&book, &opt, &source, &body, 0);
        EXPECT_EQ(parser.getProgress(), write || type == 6 ? 100 : 0);
        return renderBookText(body);
    }
};

const std::string kHead = "<09:0001><41:0160>";

TEST(PdicText, EntriesOfEachForm) {
    struct Case {
        const char* name;
        int type;
        std::string input;
        std::string expect;
    } cases[] = {
        {"one line with a line break mark", 5, "word /// text \\ second\n",
         "<02>" + kHead + "word<61><0A><09:0001>text <0A>second<0A><03>"},
        {"one line without a body", 5, "word\n", "<02>" + kHead + "word<61><0A><09:0001><0A><03>"},
        {"empty lines skipped, CR LF stripped", 5, "\r\n\na /// b\r\n\r\n",
         "<02>" + kHead + "a<61><0A><09:0001>b<0A><03>"},
        {"last line without a line end", 5, "a /// b", "<02>" + kHead + "a<61><0A><09:0001>b<0A><03>"},
        {"only the first separator cuts", 5, "a /// b /// c\n",
         "<02>" + kHead + "a<61><0A><09:0001>b [213F][213F][213F] c<0A><03>"},
        {"two line", 2, "head\nbody text\nsecond\nits body\n",
         "<02>" + kHead + "head<61><0A><09:0001>body text<0A>" + kHead + "second<61><0A><09:0001>its body<0A><03>"},
        {"two line ending after a headword", 2, "head\nbody\nlast\n",
         "<02>" + kHead + "head<61><0A><09:0001>body<0A>" + kHead + "last<61><0A><09:0001><0A><03>"},
        {"UTF-16 one line", 5, utf16("word /// text \\ second\r\n"),
         "<02>" + kHead + "word<61><0A><09:0001>text <0A>second<0A><03>"},
        {"UTF-16 two line without final line end", 2, utf16("head\r\nbody"),
         "<02>" + kHead + "head<61><0A><09:0001>body<0A><03>"},
        {"NUL inside a line neither cuts nor joins", 5, std::string("a /// b\0c\nd /// e\n", 18),
         "<02>" + kHead + "a<61><0A><09:0001>b[222E]c<0A>" + kHead + "d<61><0A><09:0001>e<0A><03>"},
        {"UTF-16 NUL unit dropped", 5, utf16("a /// b") + std::string("\0\0", 2) + utf16("c\nd /// e\n").substr(2),
         "<02>" + kHead + "a<61><0A><09:0001>bc<0A>" + kHead + "d<61><0A><09:0001>e<0A><03>"},
    };
    for (const Case& c : cases) {
        ParseRun r;
        EXPECT_EQ(r.parse(c.type, c.input), c.expect) << c.name;
    }
}

TEST(PdicText, SingleLineAndLeftMargin) {
    ParseRun r;
    r.opt.singleLine = 1;
    EXPECT_EQ(r.parse(5, "a /// b\n"), "<02>" + kHead + "a<61> b<0A><03>");
    ParseRun m;
    m.opt.leftMargin = 3;
    EXPECT_EQ(m.parse(5, "a /// b\n"), "<02>" + kHead + "a<61><0A><09:0004>b<0A><03>");
}

TEST(PdicText, MissingOrTinySourceGivesAnEmptyText) {
    ParseRun missing;
    EXPECT_EQ(missing.parse(5, "", false), "<02><03>");
    ParseRun oneByte;
    lftest::writeFile(oneByte.dir.file("src.txt"), "a");
    EXPECT_EQ(oneByte.parse(2, "a", false), "<02><03>");
}

// A line far longer than the read buffer is still one entry.
TEST(PdicText, LongLinesStayOneEntry) {
    ParseRun r;
    std::string body(100000, 'x');
    std::string out = r.parse(5, "w /// " + body + "\nv /// y\n");
    EXPECT_EQ(out, "<02>" + kHead + "w<61><0A><09:0001>" + body + "<0A>" + kHead + "v<61><0A><09:0001>y<0A><03>");
}

// PDIC text in each encoding a file comes in, read back through the EB
// Library: every headword is found by its exact search and every body reads
// as written. UTF-8 is told by its mark or, without one, by being
// well-formed UTF-8 with characters beyond ASCII; Shift_JIS, whose kana and
// kanji are no UTF-8, stays Shift_JIS.
TEST(PdicText, EveryEncodingIsReadAsWritten) {
    enum Encoding { kShiftJis, kUtf8, kUtf8Mark, kUtf16 };
    auto encode = [](const std::string& utf8, Encoding e) {
        return e == kShiftJis   ? lftest::sjisText(utf8)
               : e == kUtf16    ? lftest::utf16Text(utf8)
               : e == kUtf8Mark ? "\xEF\xBB\xBF" + utf8
                                : utf8;
    };
    const std::string oneLine = "りんご /// 林檎、apple \\ 二行目\r\nみかん /// 蜜柑\r\n";
    const std::string twoLine = "りんご\r\n林檎、apple\r\nみかん\r\n蜜柑\r\n";
    struct Case {
        const char* name;
        int type;
        Encoding encoding;
    } cases[] = {
        {"one line, UTF-8", 5, kUtf8},         {"one line, UTF-8 with its mark", 5, kUtf8Mark},
        {"one line, Shift_JIS", 5, kShiftJis}, {"one line, UTF-16", 5, kUtf16},
        {"two line, UTF-8", 2, kUtf8},         {"two line, UTF-8 with its mark", 2, kUtf8Mark},
        {"two line, Shift_JIS", 2, kShiftJis}, {"two line, UTF-16", 2, kUtf16},
    };
    struct Entry {
        std::string word, body;  // UTF-8; lines of the body end in "\n"
    };
    const Entry oneLineEntries[] = {{"りんご", "林檎、apple \n二行目\n"}, {"みかん", "蜜柑\n"}};
    const Entry twoLineEntries[] = {{"りんご", "林檎、apple\n"}, {"みかん", "蜜柑\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lftest::TestDir dir;
        ASSERT_TRUE(lftest::writeFile(dir.file("words.txt"), encode(c.type == 5 ? oneLine : twoLine, c.encoding)));
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.indexDef = 1;
        r.sources.push_back({dir.file("words.txt"), "", c.type});
        lftest::BookRun run = lftest::buildBook(r);
        ASSERT_TRUE(run.result.succeeded()) << run.log();
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        for (const Entry& e : c.type == 5 ? oneLineEntries : twoLineEntries) {
            const std::vector<lftest::EbHit> hits =
                probe.searchText(0, lftest::EbSearchKind::ExactWord, {lftest::sjisText(e.word)});
            ASSERT_EQ(hits.size(), 1u) << e.word << " " << probe.error();
            EXPECT_EQ(hits[0].heading, lftest::sjisText(e.word));
            EXPECT_EQ(hits[0].text, lftest::sjisText(e.word + "\n" + e.body));
        }
    }
}

// A PDIC dictionary whose data blocks are damaged keeps the entries of the
// blocks that are sound, the first block included.
TEST(PdicDictionary, DamagedBlocksArePassedOver) {
    lftest::PdicLayout lay;
    const std::vector<uint8_t> good = lftest::buildPdic(lftest::PdicOptions(), lftest::pdicWorkedExampleBlocks(), &lay);
    // Block 0 holds apple and apply, block 1 zoo. A block count of 0x7FFF
    // blocks runs past the end of the file: that block cannot be loaded.
    struct Case {
        const char* name;
        std::vector<int> damaged;  // logical blocks whose count is broken
        bool apple, zoo;
    } cases[] = {
        {"intact", {}, true, true},
        {"first block damaged", {0}, false, true},
        {"second block damaged", {1}, true, false},
        {"every block damaged", {0, 1}, false, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> f = good;
        for (int b : c.damaged) {
            f[lay.blockOffset[static_cast<size_t>(b)]] = 0xFF;  // count, little-endian
            f[lay.blockOffset[static_cast<size_t>(b)] + 1] = 0x7F;
        }
        ParseRun r;
        std::string out = r.parse(6, std::string(f.begin(), f.end()));
        EXPECT_EQ(out.find("Apple") != std::string::npos, c.apple) << c.name << ": " << out;
        EXPECT_EQ(out.find("zoo") != std::string::npos, c.zoo) << c.name << ": " << out;
        EXPECT_EQ(out.substr(0, 4), "<02>") << c.name;
        EXPECT_EQ(out.substr(out.size() - 4), "<03>") << c.name;
    }
}

// Version-6 headwords are "key TAB display word": the display word heads
// the entry; without one the key does, and the entry is not lost.
TEST(PdicDictionary, HeadwordIsTheDisplayWordOrElseTheKey) {
    lftest::PdicBlock block;
    lftest::PdicEntry shown, keyOnly, plain;
    shown.word = U"apple\tApple";
    shown.meaning = U"first";
    keyOnly.word = U"banana\t";
    keyOnly.meaning = U"second";
    plain.word = U"cherry";
    plain.meaning = U"third";
    block.entries = {shown, keyOnly, plain};
    const std::vector<uint8_t> f = lftest::buildPdic(lftest::PdicOptions(), {block});
    ParseRun r;
    EXPECT_EQ(r.parse(6, std::string(f.begin(), f.end())), "<02>" + kHead + "Apple<61><0A><09:0001>first<0A>" + kHead +
                                                               "banana<61><0A><09:0001>second<0A>" + kHead +
                                                               "cherry<61><0A><09:0001>third<0A><03>");
}

TEST(PdicNotation, TablesAndConversion) {
    int rows = 0;
    const NOTATION_ROW* phonetic = CPDICParser::notationTable(1, &rows);
    ASSERT_NE(phonetic, nullptr);
    EXPECT_EQ(rows, 210);
    int latinRows = 0;
    const NOTATION_ROW* latin = CPDICParser::notationTable(2, &latinRows);
    EXPECT_EQ(latinRows, 104);
    EXPECT_EQ(CPDICParser::notationTable(0, nullptr), nullptr);

    struct Case {
        const char* name;
        int table;
        std::string in;
        std::string out;
    } cases[] = {
        {"Windows-1252 e acute", 2, "caf\xE9", "caf&eacute;"},
        {"Windows-1252 row before the Latin-1 block", 2, "\x8A", "&Scaron;"},
        {"Latin-1 last", 2, "\xFF", "&yuml;"},
        {"phonetic two-byte row first", 1, "a@b", "&aacute;b"},
        {"phonetic pass-through", 1, "a,b/", "a,b/"},
        {"phonetic schwa", 1, "\xAB", "&#x0259;"},
        {"phonetic digit becomes a space", 1, "5", " "},
        // Rows match at character starts only: あ (82 A0) is not 82 and
        // &nbsp;, 亜 (88 9F) not 88 and &Yuml;.
        {"Latin table keeps a Shift_JIS character whole", 2, "\x82\xa0\x88\x9f", "\x82\xa0\x88\x9f"},
        {"Latin row at a character start", 2, "\x83\x41\xE9", "&fnof;A&eacute;"},
    };
    for (const Case& c : cases) {
        const NOTATION_ROW* t = c.table == 1 ? phonetic : latin;
        int n = c.table == 1 ? rows : latinRows;
        char out[64];
        int len = CPDICParser::convertByTable(c.in.data(), static_cast<int>(c.in.size()), out, sizeof out, t, n);
        EXPECT_EQ(std::string(out, static_cast<size_t>(len)), c.out) << c.name;
    }
    // The text written through the table agrees with the converted text.
    {
        CBlockStream body(2, 0);
        CPDICParser::writeByTable(&body, "\x82\xa0\x88\x9f", 4, latin, latinRows);
        EXPECT_EQ(renderBookText(body), "[2422][3021]");  // あ 亜
    }
    // Never past outSize: a replacement that does not fit is left out.
    char small[6];
    std::memset(small, '#', sizeof small);
    int len = CPDICParser::convertByTable("ab\xE9", 3, small, 5, latin, latinRows);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(small[5], '#');
}

}  // namespace

namespace {

// The code of each character of the book's gaiji map (TEST.map) by code
// point.
std::map<uint32_t, unsigned> gaijiOfMap(const std::string& path) {
    std::map<uint32_t, unsigned> codes;
    const lftest::Bytes bytes = lftest::readFile(path);
    std::string text(bytes.begin(), bytes.end());
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() > 7 && line[5] == '\t' && line[6] == 'u')
            codes[static_cast<uint32_t>(std::stoul(line.substr(7), nullptr, 16))] =
                static_cast<unsigned>(std::stoul(line.substr(1, 4), nullptr, 16));
    }
    return codes;
}

// Occurrences of the book code at the code boundaries of text.
int countCode(const lftest::Bytes& text, unsigned code) {
    int n = 0;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        if (text[i] == (code >> 8) && text[i + 1] == (code & 0xFF)) ++n;
    return n;
}

}  // namespace

// A PDIC dictionary's headwords and bodies through the notation tables: each
// row's replacement reaches the book as its character, the JIS X 0208 one
// where there is one, else a gaiji reserved for it (found in the viewer map);
// never as the text of the reference. The heading and the body of each entry
// carry it, and a headword of JIS characters is found by an exact search.
TEST(PdicNotation, ReplacementsBecomeCharactersInHeadingAndBody) {
    struct Case {
        const char* name;
        int table;             // pdicTitle and pdicHonbun
        std::u32string word;   // the headword, also the body
        uint32_t codePoint;    // the character the table gives
        unsigned jis;          // its JIS X 0208 code, 0: a gaiji
        std::string sjisWord;  // the headword as Shift_JIS, for the exact search ("" none)
    } cases[] = {
        {"phonetic T to theta", 1, U"Tin", 0x3B8, 0x2648, "\x83\xc6in"},
        {"phonetic @ to acute", 1, U"b@k", 0xB4, 0x212D, "b\x81\x4ck"},
        {"phonetic a@ to a acute", 1, U"ka@t", 0xE1, 0, ""},
        {"phonetic Q$ to a private character", 1, U"Q$m", 0xE001, 0, ""},
        {"phonetic D to eth", 1, U"Dis", 0xF0, 0, ""},
        {"phonetic quote to dotless i, a name the entity table lacks", 1, U"s\"p", 0x131, 0, ""},
        {"a replacement character passes the table whole", 1, U"x\uFFFDy", 0xFFFD, 0, ""},
        {"Latin half-width ra byte to times", 2, U"3\uFF977", 0xD7, 0x215F,
         "3\x81\x7e"
         "7"},
        {"Latin half-width byte to copyright", 2, U"c\uFF69", 0xA9, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lftest::TestDir dir;
        lftest::PdicBlock block;
        lftest::PdicEntry e;
        e.word = c.word;
        e.meaning = c.word;
        block.entries = {e};
        const lftest::Bytes dic = lftest::buildPdic(lftest::PdicOptions(), {block});
        ASSERT_TRUE(lftest::writeFile(dir.file("words.dic"), dic));
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.indexDef = 1;
        r.sources.push_back({dir.file("words.dic"), "", 6});
        const int table = c.table;
        r.configure = [table](CEPWing& w) {
            w.setIntOption("pdicTitle", table);
            w.setIntOption("pdicHonbun", table);
        };
        lftest::BookRun run = lftest::buildBook(r);
        ASSERT_NE(run.log().find("# of Links"), std::string::npos) << run.log();

        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        const lftest::Bytes text = probe.readText(0, 2, 0, 2048);
        unsigned code = c.jis;
        if (code == 0) {
            // The book's one gaiji; the viewer map names its character
            // (private characters are not in the map).
            for (size_t i = 0; i + 1 < text.size() && code == 0; i += 2)
                if (text[i] >= 0xA1 && text[i] <= 0xFE && text[i + 1] >= 0x21 && text[i + 1] <= 0x7E)
                    code = static_cast<unsigned>(text[i] << 8 | text[i + 1]);
            ASSERT_NE(code, 0u) << "no gaiji in the text";
            const std::map<uint32_t, unsigned> gaiji = gaijiOfMap(dir.file("out/TEST.map"));
            if (c.codePoint < 0xE000 || c.codePoint > 0xF8FF) {
                ASSERT_EQ(gaiji.count(c.codePoint), 1u) << "no gaiji reserved";
                EXPECT_EQ(gaiji.at(c.codePoint), code);
            }
        }
        EXPECT_EQ(countCode(text, code), 2) << "heading and body";
        // No reference reached the text as characters: no "&" (full width).
        EXPECT_EQ(countCode(text, 0x2177), 0);
        if (!c.sjisWord.empty()) {
            EXPECT_EQ(probe.search(0, lftest::EbSearchKind::ExactWord, {c.sjisWord}).size(), 1u) << probe.error();
        }
    }
}

// A file named as a PDIC dictionary that the reader cannot open is a failed
// source, named with the reason; a dictionary that opens is no failure.
TEST(PdicDictionary, AFileThatIsNoDictionaryIsAFailedSource) {
    const std::vector<uint8_t> good = lftest::buildPdic(lftest::PdicOptions(), lftest::pdicWorkedExampleBlocks());
    const struct {
        const char* name;
        std::string bytes;
        int failed;
    } kCases[] = {
        {"dictionary", std::string(good.begin(), good.end()), 0},
        {"PDIC one-line text", "apple /// fruit\r\n", 1},
        {"binary", std::string("\x7f\x45\x4c\x46\x02\x01", 6) + std::string(3000, '\0'), 1},
        {"header cut short", std::string(good.begin(), good.begin() + 200), 1},
        {"empty", "", 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        lftest::TestDir dir;
        lftest::writeFile(dir.file("words.dic"), c.bytes);
        lftest::writeFile(dir.file("other.txt"), std::string("pear /// fruit\r\n"));
        lftest::BookRecipe r;
        r.outDir = dir.path();
        r.sources.push_back({dir.file("words.dic"), "", 6});
        r.sources.push_back({dir.file("other.txt"), "", 5});
        lftest::BookRun run = lftest::buildBook(r);
        EXPECT_TRUE(run.result.written) << run.log();
        EXPECT_EQ(run.result.failedSources, c.failed) << run.log();
        const bool named = run.log().find(dir.file("words.dic") + " : not a PDIC dictionary, source left out\r\n") !=
                           std::string::npos;
        EXPECT_EQ(named, c.failed == 1) << run.log();
        // The other source is in the book all the same.
        lftest::EbProbe probe(dir.path());
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"pear"}).size(), 1u);
    }
}
