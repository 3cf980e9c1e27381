// The characters real Japanese sources hold, each as a headword in Shift_JIS,
// UTF-8 and UTF-16 sources of several types, read back through the EB
// Library: the codes Windows Shift_JIS adds to JIS X 0208 (row 13, the
// NEC-selected and IBM extensions, the user-defined area) and the Greek,
// Cyrillic and symbols JIS X 0208 has below U+2000. Every headword is found
// by exact search with the query a reader sends (its JIS X 0208 characters;
// the geta mark for a headword of gaiji alone), and its text holds only
// codes a reader decodes: JIS X 0208 characters and gaiji codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "foundation/codes/jclib.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::EbHit;
using lftest::EbSearchKind;

const std::string kGeta = "\x81\xAC";

struct Word {
    const char* what;
    std::u32string text;  // the headword as Unicode (UTF-8 and UTF-16 sources)
    std::string sjis;     // the headword in a Shift_JIS source; empty: text converted
    std::string query;    // the exact-search query (Shift_JIS); empty: the Shift_JIS form
};

const std::vector<Word>& words() {
    static const std::vector<Word> kWords = {
        // Windows Shift_JIS: row 13.
        {"circled one", U"\u2460", "\x87\x40", kGeta},
        {"Roman numeral one", U"\u2160", "\x87\x54", kGeta},
        {"square milli", U"\u3349", "\x87\x5F", kGeta},
        {"numero sign", U"\u2116", "\x87\x82", kGeta},
        {"parenthesized stock company", U"\u3231", "\x87\x8A", kGeta},
        {"row 13 approximately equal", U"\u2252", "\x87\x90", "\x81\xE0"},
        {"row 13 identical to", U"\u2261", "\x87\x91", "\x81\xDF"},
        {"row 13 integral", U"\u222B", "\x87\x92", "\x81\xE7"},
        {"contour integral", U"\u222E", "\x87\x93", kGeta},
        {"n-ary summation", U"\u2211", "\x87\x94", kGeta},
        {"row 13 square root", U"\u221A", "\x87\x95", "\x81\xE3"},
        {"row 13 up tack", U"\u22A5", "\x87\x96", "\x81\xDB"},
        {"row 13 angle", U"\u2220", "\x87\x97", "\x81\xDA"},
        {"right angle", U"\u221F", "\x87\x98", kGeta},
        {"right triangle", U"\u22BF", "\x87\x99", kGeta},
        {"row 13 because", U"\u2235", "\x87\x9A", "\x81\xE6"},
        {"row 13 intersection", U"\u2229", "\x87\x9B", "\x81\xBF"},
        {"row 13 union", U"\u222A", "\x87\x9C", "\x81\xBE"},
        {"circled one in a word", U"\u2460\u756A", "\x87\x40\x94\xD4", "\x94\xD4"},
        // The NEC-selected IBM extensions.
        {"NEC-selected kanji", U"\u7E8A", "\xED\x40", kGeta},
        {"NEC-selected small Roman one", U"\u2170", "\xEE\xEF", kGeta},
        {"NEC-selected not sign", U"\uFFE2", "\xEE\xF9", "\x81\xCA"},
        {"NEC-selected broken bar", U"\uFFE4", "\xEE\xFA", kGeta},
        // The IBM extensions.
        {"IBM small Roman one", U"\u2170", "\xFA\x40", kGeta},
        {"IBM not sign", U"\uFFE2", "\xFA\x54", "\x81\xCA"},
        {"IBM because", U"\u2235", "\xFA\x5B", "\x81\xE6"},
        {"IBM kanji taka", U"\u9AD9", "\xFB\xFC", kGeta},
        {"IBM kanji taka in a name", U"\u9AD9\u6A4B", "\xFB\xFC\x8B\xB4", "\x8B\xB4"},
        {"IBM last kanji", U"\u9ED1", "\xFC\x4B", kGeta},
        // The user-defined area, private use in Unicode.
        {"user-defined first", U"\uE000", "\xF0\x40", kGeta},
        {"user-defined last", U"\uE757", "\xF9\xFC", kGeta},
        // JIS X 0208 letters and signs below U+2000.
        {"Greek capital alpha", U"\u0391", "", ""},
        {"Greek capital gamma", U"\u0393", "", ""},
        {"Greek capital omega", U"\u03A9", "", ""},
        {"Greek small alpha", U"\u03B1", "", ""},
        {"Greek small omega", U"\u03C9", "", ""},
        {"Greek word", U"\u0391\u0392\u0393", "", ""},
        {"Cyrillic capital a", U"\u0410", "", ""},
        {"Cyrillic capital io", U"\u0401", "", ""},
        {"Cyrillic capital ya", U"\u042F", "", ""},
        {"Cyrillic small io", U"\u0451", "", ""},
        {"Cyrillic word", U"\u041C\u043E\u0441\u043A\u0432\u0430", "", ""},
        {"multiplication sign", U"\u00D7", "", ""},
        {"division sign", U"\u00F7", "", ""},
        {"plus-minus sign", U"\u00B1", "", ""},
        {"degree sign", U"\u00B0", "", ""},
        {"section sign", U"\u00A7", "", ""},
        {"pilcrow", U"\u00B6", "", ""},
        {"acute accent", U"\u00B4", "", ""},
        {"diaeresis", U"\u00A8", "", ""},
        {"alpha rice", U"\u03B1\u5316\u7C73", "", ""},
        {"gamma distribution", U"\u03B3\u5206\u5E03", "", ""},
        {"circle and cross", U"\u25CB\u00D7", "", ""},
        // Characters a query gives as a JIS X 0208 neighbour.
        {"em dash", U"\u2014", "\x81\x5C", ""},
        {"yen sign", U"\u00A5", "\x81\x8F", ""},
    };
    return kWords;
}

std::string utf8Of(const std::u32string& w) {
    std::string out;
    for (char32_t c : w) {
        char buf[4];
        const uint32_t u = c;
        out.append(buf, static_cast<size_t>(wideToUtf8(&u, 1, buf)));
    }
    return out;
}

std::string sjisOf(const Word& w) {
    if (!w.sjis.empty()) return w.sjis;
    const std::string u = utf8Of(w.text);
    std::vector<unsigned char> out(u.size() * 2 + 4);
    const int n = utf8ToSjis(u.data(), static_cast<int>(u.size()), out.data(), out.size());
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

std::string queryOf(const Word& w) {
    return w.query.empty() ? sjisOf(w) : w.query;
}

std::string utf16leOf(const std::string& utf8) {
    std::vector<uint16_t> units(utf8.size() + 1);
    const int n = jclib::utf8ToUtf16(utf8.data(), static_cast<int>(utf8.size()), units.data());
    std::string out = "\xFF\xFE";
    for (int i = 0; i < n; ++i) {
        out += static_cast<char>(units[static_cast<size_t>(i)] & 0xFF);
        out += static_cast<char>(units[static_cast<size_t>(i)] >> 8);
    }
    return out;
}

enum Encoding { kShiftJis, kUtf8, kUtf16 };

// One source: its type, its field spec and the line of an entry (headword in
// the source's encoding, ASCII meaning).
struct Variant {
    const char* what;
    Encoding encoding;
    int type;
    const char* fields;
    std::string (*line)(const std::string& head, const std::string& meaning);
    const char* header;  // markup around the entries, empty for line sources
    const char* footer;
};

std::string csvLine(const std::string& h, const std::string& m) {
    return "\"" + h + "\",\"" + m + "\"\n";
}
std::string eijiroLine(const std::string& h, const std::string& m) {
    return "\x81\xA1" + h + " : " + m + "\n";  // the square mark, in Shift_JIS
}
std::string pdicLine(const std::string& h, const std::string& m) {
    return h + " /// " + m + "\n";
}
std::string markupLine(const std::string& h, const std::string& m) {
    return "<dt>" + h + "</dt><dd>" + m + "</dd>\n";
}

const Variant kVariants[] = {
    {"delimited Shift_JIS", kShiftJis, 9, "enc=shift_jis;delim=,;fields=headword|meaning|", csvLine, "", ""},
    {"delimited UTF-8", kUtf8, 9, "enc=utf-8;delim=,;fields=headword|meaning|", csvLine, "", ""},
    {"delimited UTF-16", kUtf16, 9, "enc=utf-16;delim=,;fields=headword|meaning|", csvLine, "", ""},
    {"EIJIRO Shift_JIS", kShiftJis, 3, "", eijiroLine, "", ""},
    {"EIJIRO UTF-8", kUtf8, 3, "", eijiroLine, "", ""},
    {"EIJIRO UTF-16", kUtf16, 3, "", eijiroLine, "", ""},
    {"PDIC one-line Shift_JIS", kShiftJis, 5, "", pdicLine, "", ""},
    {"PDIC one-line UTF-16", kUtf16, 5, "", pdicLine, "", ""},
    {"markup Shift_JIS", kShiftJis, 0, "", markupLine, "<HTML><BODY><DL>\n", "</DL></BODY></HTML>\n"},
    {"markup UTF-8", kUtf8, 0, "", markupLine,
     "<HTML><HEAD><META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\"></HEAD><BODY><DL>\n",
     "</DL></BODY></HTML>\n"},
    {"event-parser markup Shift_JIS", kShiftJis, 7, "", markupLine,
     "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"></head><body><dl>\n",
     "</dl></body></html>\n"},
    {"event-parser markup UTF-8", kUtf8, 7, "", markupLine,
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><dl>\n",
     "</dl></body></html>\n"},
};

// The source file of a variant: every word with the meaning "m<index>m".
std::string sourceOf(const Variant& v) {
    std::string text = v.header;
    for (size_t i = 0; i < words().size(); ++i) {
        const std::string meaning = "m" + std::to_string(i) + "m";
        const Word& w = words()[i];
        if (v.encoding == kShiftJis) {
            text += v.line(sjisOf(w), meaning);
        } else {
            // The line in UTF-8 (the EIJIRO mark and all), converted whole.
            std::string line = v.line(utf8Of(w.text), meaning);
            const std::string sjisMark = "\x81\xA1";
            if (line.compare(0, 2, sjisMark) == 0) line = "\xE2\x96\xA0" + line.substr(2);
            text += line;
        }
    }
    text += v.footer;
    return v.encoding == kUtf16 ? utf16leOf(text) : text;
}

// What an entry's text holds: the codes of its headword (between the keyword
// codes) and the number of its meaning ("m<n>m", full width), -1 when the
// text has none.
struct EntryText {
    std::vector<unsigned> head;
    long meaning = -1;
};

EntryText entryText(const lftest::Bytes& raw) {
    EntryText e;
    size_t i = 0;
    auto code = [&](size_t k) { return (static_cast<unsigned>(raw[k]) << 8) | raw[k + 1]; };
    while (i + 1 < raw.size() && code(i) != 0x1F41) i += 2;
    i += 4;  // the keyword code and its operand
    for (; i + 1 < raw.size() && code(i) != 0x1F61; i += 2)
        if (code(i) != 0x1F04 && code(i) != 0x1F05) e.head.push_back(code(i));
    // The meaning: full-width m, digits, m.
    for (; i + 1 < raw.size() && code(i) != 0x236D; i += 2) {
    }
    std::string digits;
    for (i += 2; i + 1 < raw.size() && code(i) >= 0x2330 && code(i) <= 0x2339; i += 2)
        digits += static_cast<char>('0' + (code(i) - 0x2330));
    if (!digits.empty() && i + 1 < raw.size() && code(i) == 0x236D) e.meaning = std::stol(digits);
    return e;
}

// A code a reader decodes: a JIS X 0208 character or a gaiji code.
bool decodable(unsigned c) {
    const unsigned hi = c >> 8, lo = c & 0xFF;
    return jisToUnicode(c) != 0 || (hi >= 0xA1 && hi <= 0xFE && lo >= 0x21 && lo <= 0x7E);
}

std::string hexCodes(const std::vector<unsigned>& codes) {
    std::string s;
    char buf[8];
    for (unsigned c : codes) {
        std::snprintf(buf, sizeof buf, " %04X", c);
        s += buf;
    }
    return s;
}

}  // namespace

TEST(CharacterSearch, EveryHeadwordIsFoundAndDecodableInEveryEncoding) {
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.what);
        lftest::TestDir dir;
        const std::string path = dir.file("words.txt");
        ASSERT_TRUE(lftest::writeFile(path, sourceOf(v)));
        lftest::BookRecipe recipe;
        recipe.outDir = dir.path();
        recipe.indexDef = 0x5F;
        recipe.sources.push_back({path, "Words", v.type, v.fields});
        lftest::BookRun run = lftest::buildBook(recipe);
        ASSERT_EQ(run.newBookResult, 0) << run.log();
        lftest::EbProbe p(dir.path());
        ASSERT_TRUE(p.ok()) << p.error();

        std::map<unsigned, uint32_t> gaijiOf;  // gaiji code -> the character it was given for
        for (size_t i = 0; i < words().size(); ++i) {
            const Word& w = words()[i];
            SCOPED_TRACE(w.what);
            const std::vector<EbHit> hits = p.search(0, EbSearchKind::ExactWord, {queryOf(w)});
            EXPECT_TRUE(p.error().empty()) << p.error();
            bool found = false;
            for (const EbHit& h : hits) {
                const EntryText e = entryText(p.readText(0, h.textBlock, h.textOffset, 256));
                if (e.meaning != static_cast<long>(i)) continue;
                found = true;
                // One code a character, each one a reader decodes, and no
                // character lost to the geta mark (gaiji codes are there).
                EXPECT_EQ(e.head.size(), w.text.size()) << hexCodes(e.head);
                if (e.head.size() != w.text.size()) continue;
                for (size_t k = 0; k < e.head.size(); ++k) {
                    const unsigned c = e.head[k];
                    EXPECT_TRUE(decodable(c)) << hexCodes(e.head);
                    EXPECT_NE(c, 0x222Eu) << hexCodes(e.head);
                    // A gaiji stands for one character: a character lost on
                    // the way (a replacement character) would share its code.
                    if (jisToUnicode(c) != 0) continue;
                    const auto known = gaijiOf.emplace(c, static_cast<uint32_t>(w.text[k])).first;
                    EXPECT_EQ(known->second, static_cast<uint32_t>(w.text[k])) << "gaiji " << hexCodes({c});
                }
            }
            EXPECT_TRUE(found) << hits.size() << " hits";
        }
    }
}

// A plain text source in Shift_JIS holding the Windows codes: its text keeps
// one decodable code a character, a gaiji code for each character without a
// JIS X 0208 form, one code per character.
TEST(CharacterSearch, PlainShiftJisTextKeepsEveryCharacterDecodable) {
    std::string text;
    std::vector<const Word*> lines;
    for (const Word& w : words()) {
        if (w.sjis.empty() || w.text.size() != 1) continue;
        text += w.sjis + "\r\n";
        lines.push_back(&w);
    }
    lftest::TestDir dir;
    lftest::BookRun run = lftest::buildPlainTextBook(dir.path(), dir.file("plain.txt"), text);
    ASSERT_EQ(run.newBookResult, 0) << run.log();
    lftest::EbProbe p(dir.path());
    ASSERT_TRUE(p.ok()) << p.error();
    int block = 0, offset = 0;
    ASSERT_TRUE(p.textStart(0, &block, &offset)) << p.error();
    const lftest::Bytes raw = p.readText(0, block, offset, 4096);
    std::vector<unsigned> codes;  // the characters, line ends as 0
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        const unsigned c = (static_cast<unsigned>(raw[i]) << 8) | raw[i + 1];
        if (c == 0x1F03) break;
        if (c == 0x1F0A) codes.push_back(0);
        if ((c >> 8) != 0x1F) codes.push_back(c);
    }
    ASSERT_EQ(codes.size(), 2 * lines.size()) << hexCodes(codes);
    std::map<unsigned, uint32_t> gaijiOf;
    for (size_t k = 0; k < lines.size(); ++k) {
        SCOPED_TRACE(lines[k]->what);
        const unsigned c = codes[2 * k];
        EXPECT_EQ(codes[2 * k + 1], 0u);
        EXPECT_TRUE(decodable(c)) << hexCodes({c});
        EXPECT_NE(c, 0x222Eu);
        if (lines[k]->query != kGeta) {
            // The JIS X 0208 character a query gives for it.
            const std::string q = queryOf(*lines[k]);
            ASSERT_EQ(q.size(), 2u);
            EXPECT_EQ(c, jclib::sjisToJis((static_cast<unsigned char>(q[0]) << 8) | static_cast<unsigned char>(q[1])))
                << hexCodes({c});
            continue;
        }
        EXPECT_EQ(jisToUnicode(c), 0u) << hexCodes({c});
        const auto known = gaijiOf.emplace(c, static_cast<uint32_t>(lines[k]->text[0])).first;
        EXPECT_EQ(known->second, static_cast<uint32_t>(lines[k]->text[0])) << "gaiji " << hexCodes({c});
    }
}
