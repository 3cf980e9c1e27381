// Gaiji font areas and the viewer gaiji map.
#include "builder/gaiji/CGaijiFontWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "foundation/FileHandle.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"
#include "foundation/storage/CZOutputFile.h"

namespace {

int sizeIndexOf(int width, int height) {
    for (int s = 0; s < GAIJI_FONT_SIZES; ++s)
        if (CGaiji::sizeWidth(s) == width && CGaiji::sizeHeight(s) == height) return s;
    return -1;
}

}  // namespace

int CGaijiFontWriter::makeGaiji(const CGaiji& gaiji, int width, int height, CBlockStream* stream) {
    const int size = sizeIndexOf(width, height);
    if (size < 0 || stream == nullptr) {
        char msg[80];
        std::snprintf(msg, sizeof msg, "invalid gaiji size:x=%d y=%d (makeGaiji)", width, height);
        throw std::runtime_error(msg);
    }
    const GAIJI_CODE_STATE* st = gaiji.getGaijiMap();
    const bool narrow = width != height && !(width == 32 && height == 30);
    const uint32_t first = narrow ? st->narrowStart : st->wideStart;
    const uint32_t end = narrow ? st->narrowNext : st->wideNext;
    const uint32_t firstBlock = stream->startBlock();

    stream->writeByte(1);
    for (int i = 0; i < 7; ++i) stream->writeByte(0);
    stream->writeByte(static_cast<unsigned>(width));
    stream->writeByte(static_cast<unsigned>(height));
    stream->writeWord16(first);
    stream->writeWord16(0);
    BLOCK_POS pos = {firstBlock + 1, 0};
    stream->seek(pos);

    // Rows are whole bytes: a 12-dot row is stored as 16 dots, the last four
    // clear (48 bytes a 12x24 glyph), as readers read the 24-dot narrow area.
    const int rowBytes = (width + 7) / 8;
    const int glyphBytes = rowBytes * height;
    const bool hasHex = CGaiji::hexIndex(size) >= 0;
    std::vector<unsigned char> glyph(static_cast<size_t>(glyphBytes));
    int count = 0;
    for (uint32_t code = first; code < end && CGaiji::isGaijiCode(code); code = CGaiji::nextCode(code)) {
        CEBBook::checkAbort();
        const std::string* bitmap = gaiji.fontBitmap(size, code);
        if (bitmap == nullptr && hasHex) {
            uint32_t cp = gaiji.unicodeForCode(code);
            if (cp > 0) bitmap = gaiji.hexBitmap(size, cp);
            if (cp > 0 && bitmap == nullptr && !gaiji.missingHexFonts().empty()) {
                // The glyph may be in a font that is not there: a blank one
                // would pass for a good build.
                std::string msg = "the book needs glyphs of the default gaiji fonts, which cannot be read:";
                for (size_t i = 0; i < gaiji.missingHexFonts().size(); ++i)
                    msg += (i ? ", " : " ") + gaiji.missingHexFonts()[i];
                throw std::runtime_error(msg + "\r\n");
            }
        }
        std::fill(glyph.begin(), glyph.end(), 0);
        if (bitmap != nullptr) {
            if (bitmap->size() != static_cast<size_t>(width * height)) {
                char msg[64];
                std::snprintf(msg, sizeof msg, "invalid font data:ebcode=%4X (makeGaiji)", code);
                throw std::runtime_error(msg);
            }
            for (size_t p = 0; p < bitmap->size(); ++p) {
                char c = (*bitmap)[p];
                if (c == ' ' || c == '.') continue;
                const size_t x = p % static_cast<size_t>(width), y = p / static_cast<size_t>(width);
                unsigned char& byte = glyph[y * static_cast<size_t>(rowBytes) + x / 8];
                byte = static_cast<unsigned char>(byte | (0x80 >> (x % 8)));
            }
        }
        // A glyph never crosses from one half of a block into the next.
        int offset = stream->currentOffset();
        if (offset >= kBlockSize) {
            stream->seek(BLOCK_POS{stream->currentBlock() + 1, 0});
            offset = 0;
        }
        const int half = kBlockSize / 2;
        int halfEnd = offset < half ? half : kBlockSize;
        if (halfEnd - offset < glyphBytes) {
            if (halfEnd == half)
                stream->seek(BLOCK_POS{stream->currentBlock(), static_cast<uint16_t>(half)});
            else
                stream->seek(BLOCK_POS{stream->currentBlock() + 1, 0});
        }
        stream->writeBytes(glyph.data(), glyph.size());
        ++count;
    }
    stream->seek(BLOCK_POS{firstBlock, 12});
    stream->writeWord16(static_cast<unsigned>(count) & 0xFFFF);
    return count;
}

std::string CGaijiFontWriter::plistPath(const char* mapPath) {
    // The list goes beside the text file, its extension replaced by ".plist".
    std::string plist(mapPath);
    std::string extension(plist.size() + 1, '\0');
    int n = pathExtension(mapPath, &extension[0], extension.size());
    if (n > 0) plist.erase(plist.size() - static_cast<size_t>(n) - 1);
    return plist + ".plist";
}

void CGaijiFontWriter::glossviewGaijiMap(const CGaiji& gaiji, std::string* map, std::string* plist) {
    map->clear();
    plist->clear();
    const GAIJI_CODE_STATE* st = gaiji.getGaijiMap();
    std::vector<const GAIJI_ITEM*> items;
    for (int i = 0; i < st->count; ++i) items.push_back(&st->gaijiMap[i]);
    std::stable_sort(items.begin(), items.end(),
                     [](const GAIJI_ITEM* a, const GAIJI_ITEM* b) { return a->ebCode < b->ebCode; });

    *plist += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    *plist +=
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
    *plist += "<plist version=\"1.0\">\n<dict>\n";
    char line[64];
    for (const GAIJI_ITEM* g : items) {
        if ((g->unicode >= 0xE000 && g->unicode <= 0xF8FF) || g->ebCode == 0) continue;
        const bool narrow = g->ebCode >= st->narrowStart && g->ebCode <= st->narrowNext;
        const char kind = narrow ? 'h' : 'z';
        std::snprintf(line, sizeof line, "%c%04X\t", kind, g->ebCode & 0xFFFF);
        *map += line;
        if (g->unicode == 0)
            std::snprintf(line, sizeof line, "-\t");
        else if (g->unicode < 0x10000)
            std::snprintf(line, sizeof line, "u%04x\t", g->unicode);
        else
            std::snprintf(line, sizeof line, "u%05x\t", g->unicode);
        *map += line;
        if (g->alt != nullptr) *map += g->alt;
        *map += '\n';

        char utf8[8] = {0};
        if (g->unicode != 0) {
            uint32_t cp = g->unicode;
            int n = ::wideToUtf8(&cp, 1, utf8);
            utf8[n > 0 && n < 8 ? n : 0] = 0;
        }
        std::snprintf(line, sizeof line, "<key>%c%04X</key><string>%s</string>\n", kind, g->ebCode & 0xFFFF, utf8);
        *plist += line;
    }
    *plist += "</dict>\n</plist>\n";
}

int CGaijiFontWriter::saveGlossviewGaijiMap(const CGaiji& gaiji, const char* path) {
    if (path == nullptr || path[0] == 0) return -1;
    std::string map, plist;
    glossviewGaijiMap(gaiji, &map, &plist);
    int rc = 0;
    if (!CZOutputFile::writeWhole(path, map.data(), map.size())) rc = -1;
    if (!CZOutputFile::writeWhole(plistPath(path), plist.data(), plist.size())) rc = -1;
    return rc;
}
