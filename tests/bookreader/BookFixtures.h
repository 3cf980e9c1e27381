// The books the reader's tests read: built by our builder from small sources
// (EPWING and EB, plain text and each PDIC form, with gaiji), copies of them
// compressed by ebzip at levels 0 to 5, and books made by FreePWING from
// generated data. One table, so a new book or source type joins every check
// that loops over it.
#pragma once

#include <string>
#include <vector>

#include "tests/common/BookBuilder.h"
#include "tests/common/PdicWriter.h"
#include "tests/common/TestDir.h"

namespace lftest {

struct ReaderBook {
    std::string label;
    std::string dir;       // book directory (holds the catalog)
    std::string textFile;  // path handed to CEBReader::open (may lack ".ebz")
    int epwingVersion = 0;
    int minTexts = 1;  // texts a full walk finds at least
    bool built = false;
    int ebzipLevel = -1;  // -1: not compressed
    std::string log;
};

// A glyph of each width, for gaiji fonts.
constexpr const char* kNarrowGlyphHex = "00000000183C66667E6060663C000000";
constexpr const char* kWideGlyphHex = "0000100010001FFC20044008BFF4000000003FF8200820083FF8200800000000";

struct ReaderSource {
    const char* label;
    int type;  // source type of the builder
    std::string bytes;
    int minTexts;
    std::string fields;  // field spec of a delimited source
};

// A plain text of more than 64 KiB of book text, so that its ebzip copies
// span several slices at every level.
inline std::string bulkText() {
    std::string text;
    for (int i = 0; text.size() < 40000; ++i)
        text += "line " + std::to_string(i) + " \xE8\xA1\x8C\xE3\x81\xAE\xE6\x96\x87 of the bulk text\n";
    return text;
}

// Sources of every type the builder reads. UTF-8 "é" and "𠮟" have no
// Shift_JIS form and become gaiji.
inline std::vector<ReaderSource> readerSources() {
    std::string pdicFile;
    {
        PdicOptions o;
        std::vector<PdicBlock> blocks = pdicWorkedExampleBlocks();
        std::vector<uint8_t> b = buildPdic(o, blocks);
        pdicFile.assign(b.begin(), b.end());
    }
    return {
        {"plain", 4,
         "\xEF\xBB\xBF"
         "first line of text\n\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86 kana & <symbols>\n\ncaf\xC3\xA9 \xF0\xA0\xAE\x9F\n",
         1, ""},
        {"pdic-two-line", 2,
         "apple\nan edible fruit\n\xE3\x82\x8A\xE3\x82\x93\xE3\x81\x94\n\xE6\x9E\x97\xE6\xAA\x8E caf\xC3\xA9\n"
         "zoo\nplace with animals \xF0\xA0\xAE\x9F\n",
         3, ""},
        {"pdic-one-line", 5, "word /// text \\ second line\nother /// more text\nlast\n", 3, ""},
        {"pdic-file", 6, pdicFile, 3, ""},
        {"plain-bulk", 4, bulkText(), 1, ""},
        // ■abandon {動-1} : 断念｛だんねん｝する◆【発音】PRON、【＠】アバンダン■・They abandoned ship.
        {"eijiro", 3,
         "\x81\xA1"
         "abandon  {\x93\xAE-1} : \x92\x66\x94\x4F\x81\x6F\x82\xBE\x82\xF1\x82\xCB\x82\xF1\x81\x70\x82\xB7"
         "\x82\xE9\x81\x9F\x81\x79\x94\xAD\x89\xB9\x81\x7APRON\x81\x41\x81\x79\x81\x97\x81\x7A\x83\x41\x83"
         "\x6F\x83\x93\x83\x5F\x83\x93\x81\xA1\x81\x45They abandoned ship.\r\n\x81\xA1"
         "ability : skill\r\n",
         2, ""},
        // 辞書 and ポンプ, UTF-8, comma separated, with a reading column.
        {"delimited", 9,
         "\xE8\xBE\x9E\xE6\x9B\xB8,\xE3\x81\x98\xE3\x81\x97\xE3\x82\x87,dictionary of words\n"
         "\xE3\x83\x9D\xE3\x83\xB3\xE3\x83\x97,\xE3\x81\xBD\xE3\x82\x93\xE3\x81\xB7,a pump\n",
         2, "enc=utf-8;delim=,;fields=headword|kana|meaning|"},
    };
}

// Entries for a FreePWING book (EUC-JP; markers of
// tests/bookreader/freepwing/make_freepwing_book.sh): emphasis, fonts,
// sub- and superscripts, indents, line ends and references between entries.
inline std::string freepwingData() {
    return "apple\tan {e}edible{/e} fruit{nl}{indent:3}see {ref:1}zoo{/ref}\n"
           "zoo\tplace {i}with{/i} {b}animals{/b} H{sub}2{/sub}O x{sup}2{/sup}\n"
           "\xA4\xA2\xA4\xA4\t\xB4\xC1\xBB\xFA and kana \xA5\xAB\xA5\xCA{nl}{ref:0}back{/ref}\n";
}

// Copies of a built book compressed by ebzip at levels 0 to 5.
inline void addEbzipCopies(const ReaderBook& b, const std::string& textName, std::vector<ReaderBook>* books) {
    for (int level = 0; level <= 5; ++level) {
        ReaderBook z = b;
        z.label += " ebzip " + std::to_string(level);
        z.dir = b.dir + "z" + std::to_string(level);
        z.textFile = z.dir + textName;
        std::string cmd = "mkdir -p '" + z.dir + "' && ebzip -q -f -k -l " + std::to_string(level) + " -o '" + z.dir +
                          "' '" + b.dir + "'";
        std::string printed;
        z.built = runCommand(cmd + " 2>&1", &printed) == 0;
        z.log = cmd + ": " + printed;
        z.ebzipLevel = level;
        books->push_back(z);
    }
}

// Builds one book per source and family, a book by FreePWING, and the ebzip
// copies of each.
inline std::vector<ReaderBook> readerBooks(const std::string& root, bool compressed = true) {
    std::vector<ReaderBook> books;
    writeFile(root + "/8x16.hex", std::string("8 16\n00E9:") + kNarrowGlyphHex + "\n");
    writeFile(root + "/16x16.hex", std::string("16 16\n20B9F:") + kWideGlyphHex + "\n");
    int n = 0;
    for (const ReaderSource& s : readerSources()) {
        for (int ebType : {1, 0}) {
            std::string out = root + "/b" + std::to_string(n++);
            std::string src = out + ".src";
            writeFile(src, s.bytes);
            BookRecipe r;
            r.outDir = out;
            r.ebType = ebType;
            r.hexFonts = {root + "/8x16.hex", root + "/16x16.hex"};
            r.sources.push_back({src, "", s.type, s.fields});
            BookRun run = buildBook(r);
            ReaderBook b;
            b.label = std::string(s.label) + (ebType ? " EPWING" : " EB");
            b.dir = out;
            b.textFile = out + (ebType ? "/TEST/DATA/HONMON" : "/TEST/START");
            b.minTexts = s.minTexts;
            b.built = run.newBookResult == 0;
            b.log = run.log();
            books.push_back(b);
            if (compressed && b.built) addEbzipCopies(b, ebType ? "/TEST/DATA/HONMON" : "/TEST/START", &books);
        }
    }
    ReaderBook f;
    f.label = "freepwing EPWING";
    f.dir = root + "/fpw";
    f.textFile = f.dir + "/TEST/DATA/HONMON";
    f.minTexts = 3;
    writeFile(root + "/fpw.txt", freepwingData());
    std::string printed;
    f.built = runCommand("bash '" LF_SOURCE_DIR "/tests/bookreader/freepwing/make_freepwing_book.sh' '" + f.dir +
                             "' '" + root + "/fpw.txt' 2>&1",
                         &printed) == 0;
    f.log = printed;
    books.push_back(f);
    if (compressed && f.built) addEbzipCopies(f, "/TEST/DATA/HONMON", &books);
    return books;
}

}  // namespace lftest
