// Reader of hex bitmap fonts.
#include "builder/gaiji/CHexFontFile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "builder/gaiji/CGaiji.h"
#include "builder/gaiji/gaijitext.h"
#include "foundation/FileHandle.h"

namespace {

// Reads one line of at most 1023 bytes (the rest of a longer line is
// discarded); false at the end of the file with nothing read.
bool readTextLine(FILE* f, std::string* line) {
    line->clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line->size() < 1023) line->push_back(static_cast<char>(c));
    }
    return any;
}

}  // namespace

int CHexFontFile::read(const char* path, GlyphMap (&maps)[kMaps]) {
    if (path == nullptr) return -1;
    FilePtr f(std::fopen(path, "r"));
    if (!f) return -1;
    try {
        std::string line;
        if (!readTextLine(f.get(), &line)) return 0;
        // A UTF-8 byte-order mark is not part of the width.
        if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        // Width and height, separated by blanks.
        int values[2];
        int found = 0;
        size_t i = 0;
        while (found < 2 && i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\r' || line[i] == '\n')) ++i;
            if (i >= line.size()) break;
            size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\r' && line[j] != '\n') ++j;
            values[found++] = std::atoi(line.substr(i, j - i).c_str());
            i = j;
        }
        if (found < 2) return 0;
        int w = values[0], h = values[1];
        if (w <= 0 || h <= 0) return -1;
        int wc = w <= 8 ? 8 : w <= 12 ? 12 : w <= 16 ? 16 : w <= 24 ? 24 : w <= 32 ? 32 : 48;
        int hc = h <= 16 ? 16 : h <= 24 ? 24 : h <= 32 ? 30 : 48;
        if (hc == 30)
            w = wc < 32 ? 16 : wc;
        else if (wc < hc)
            w = hc / 2;
        else
            w = wc;
        h = hc;
        int size;
        if (w == 8 && h == 16)
            size = GAIJI_8X16;
        else if (w == 16 && h == 16)
            size = GAIJI_16X16;
        else if (w == 12 && h == 24)
            size = GAIJI_12X24;
        else if (w == 24 && h == 24)
            size = GAIJI_24X24;
        else
            return -1;
        GlyphMap& map = maps[CGaiji::hexIndex(size)];
        const int pixels = w * h;

        int stored = 0;
        while (readTextLine(f.get(), &line)) {
            size_t colon = line.find(':');
            if (colon == std::string::npos) return stored;
            size_t k = 0;
            while (k < colon && (line[k] == ' ' || line[k] == '\t')) ++k;
            uint32_t cp = 0;
            int digits = 0;
            bool tooLong = false;
            for (; k < colon && std::isxdigit(static_cast<unsigned char>(line[k])); ++k, ++digits) {
                if (cp > 0x0FFFFFFF) tooLong = true;
                char d = line[k];
                cp = cp * 16 + static_cast<uint32_t>(d <= '9' ? d - '0' : gaijitext::lowerAscii(d) - 'a' + 10);
            }
            if (digits == 0) return stored;
            if (tooLong || map.count(cp) != 0) continue;
            std::string bitmap(static_cast<size_t>(pixels), ' ');
            int pixel = 0;
            for (size_t j = colon + 1; j + 1 < line.size() && pixel < pixels; j += 2) {
                char hi = line[j], lo = line[j + 1];
                if (!std::isxdigit(static_cast<unsigned char>(hi)) || !std::isxdigit(static_cast<unsigned char>(lo)))
                    break;
                int byte = static_cast<int>(std::strtol(line.substr(j, 2).c_str(), nullptr, 16));
                for (int bit = 7; bit >= 0 && pixel < pixels; --bit, ++pixel)
                    if (byte & (1 << bit)) bitmap[static_cast<size_t>(pixel)] = '#';
            }
            map.emplace(cp, std::move(bitmap));
            ++stored;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
