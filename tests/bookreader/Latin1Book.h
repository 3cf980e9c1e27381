// A small EB book in ISO 8859-1, written byte by byte: a catalog with one
// subbook "LATIN", a LANGUAGE file that marks the book ISO 8859-1, and a text
// file START with a menu, a body text of Latin-1 letters among narrow
// external characters (two-byte codes 0x0121.. of the font's rows) and, when
// asked, a narrow 8x16 font area (0xF2) holding their glyphs.
//
//   lftest::Latin1Book book;
//   book.write(dir.file("latin"));          // dir/latin/CATALOG, LANGUAGE, LATIN/START
//   book.glyph(0)                           // the 16 bytes of glyph 0 (code 0x0121)
#pragma once

#include <sys/stat.h>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/bookreader/HandBook.h"
#include "tests/common/TestDir.h"

namespace lftest {

struct Latin1Book {
    // Glyphs of the narrow font (0: the book has no font area).
    int glyphs = 3;
    // The LANGUAGE file's mark (byte 1 = 1: ISO 8859-1).
    bool languageFile = true;
    static constexpr unsigned kFirstCode = 0x0121;
    static constexpr uint32_t kBodyBlock = 2;
    static constexpr uint32_t kMenuBlock = 3;

    // The bytes of glyph n: a bar in column n, the last row full and a
    // diagonal dot, distinct for each glyph.
    static std::vector<uint8_t> glyph(int n) {
        std::vector<uint8_t> g(16);
        for (int row = 0; row < 16; ++row) g[row] = static_cast<uint8_t>((0x80 >> (n % 8)) | (0x80 >> (row % 8)));
        g[15] = 0xFF;
        return g;
    }
    // The body text: "café" in Latin-1, then each external character of the
    // font between ASCII letters, a line end, "endü" and the text's end.
    std::vector<uint8_t> body() const {
        std::vector<uint8_t> t = {0x1F, 0x02, 0x1F, 0x09, 0x00, 0x01, 'c', 'a', 'f', 0xE9, ' ', '<', '&'};
        for (int n = 0; n < glyphs; ++n) {
            t.push_back(static_cast<uint8_t>(kFirstCode >> 8));
            t.push_back(static_cast<uint8_t>((kFirstCode & 0xFF) + n));
            t.push_back(static_cast<uint8_t>('a' + n % 26));
        }
        t.insert(t.end(), {0x1F, 0x0A, 'e', 'n', 'd', 0xFC, 0x1F, 0x03});
        return t;
    }
    // The folder of the book (created), with its three files.
    void write(const std::string& root) const {
        mkdir(root.c_str(), 0755);
        mkdir((root + "/LATIN").c_str(), 0755);
        std::vector<uint8_t> catalog(2048, 0);
        catalog[1] = 1;  // one subbook
        const char title[] = "Latin Book";
        for (size_t i = 0; i + 1 < sizeof title; ++i) catalog[16 + 2 + i] = static_cast<uint8_t>(title[i]);
        const char dir[] = "LATIN   ";
        for (size_t i = 0; i < 8; ++i) catalog[16 + 32 + i] = static_cast<uint8_t>(dir[i]);
        writeFile(root + "/CATALOG", catalog);
        std::vector<uint8_t> language(2048, 0);
        language[1] = languageFile ? 1 : 0;
        writeFile(root + "/LANGUAGE", language);

        HandBook b;
        b.area(0x00, kBodyBlock, 1);
        b.area(0x01, kMenuBlock, 1);
        b.put(kBodyBlock, 0, body());
        b.put(kMenuBlock, 0, {0x1F, 0x02, 0x1F, 0x03});
        if (glyphs) {
            b.area(0xF2, 4, 2);
            b.put(4, 8,
                  {8, 16, static_cast<uint8_t>(kFirstCode >> 8), static_cast<uint8_t>(kFirstCode), 0,
                   static_cast<uint8_t>(glyphs)});
            for (int n = 0; n < glyphs; ++n) b.put(5, static_cast<uint32_t>(16 * n), glyph(n));
        }
        b.put(kMenuBlock + (glyphs ? 2 : 0), 2047, {0});
        writeFile(root + "/LATIN/START", b.bytes());
    }
};

}  // namespace lftest
