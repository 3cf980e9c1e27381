// libFuzzer target for the reader's media, fonts, information text and gaiji
// maps. The first byte selects what the rest of the input is:
//   bits 0-1 = 0: a book text file "HONMON" (bit 2: "START"): every index
//                 area is read as a colour graphic, a data chunk, a
//                 monochrome bitmap, a sound with and without a header,
//                 colour samples, glyphs of every size, and the book
//                 information text into buffers of several sizes;
//   bits 0-1 = 1: a single data file (font, sound or graphics file): glyphs,
//                 XA sound sectors, raw reads;
//   bits 0-1 = 2: the gaiji map cache "GaijiMap.db" beside one fixed map file;
//   bits 0-1 = 3: a map file "GAIJI/BOOK.map" (and no cache).
// Bits 3-7 vary sizes and codes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/gaiji/CGaijiMap.h"
#include "fuzz/FuzzScratch.h"

namespace {

FuzzScratch g_scratch("fuzz_readermedia");

void drop(uint8_t* p) {
    free(p);
}

const uint32_t kGlyphSizes[][2] = {{8, 16},  {16, 16}, {12, 24}, {16, 24}, {24, 24},
                                   {16, 30}, {32, 30}, {24, 48}, {48, 48}};

void readGlyphs(CEBReader& reader, uint8_t select) {
    uint8_t glyph[512];
    const uint32_t codes[] = {0xA121, 0xA17E, 0xA221, 0xB121, 0xB125, 0x0121, 0xFE7E, 0xA121u + (select >> 3)};
    for (const auto& size : kGlyphSizes)
        for (uint32_t code : codes) {
            uint32_t w = 0, h = 0;
            reader.readGaijiBitmap(size[0], size[1], code, &w, &h, glyph, (select & 0x80) ? 40 : sizeof glyph);
            uint32_t n = 0;
            if (w && h) drop(CEBReader::bitmapToBmp(w, h, glyph, &n));
        }
}

void readMedia(CEBReader& reader, uint8_t select) {
    const uint32_t width = 1u + (select >> 3) * 9, height = 1u + (select >> 4) * 5;
    for (int i = 0; i < reader.indexCount(); ++i) {
        const READER_INDEX_INFO area = reader.indexInfos()[i];
        for (uint32_t offset : {0u, 8u, 2040u}) {
            const uint64_t at = packPosition(area.start, offset);
            uint32_t n = 0;
            drop(reader.readColorGraphic(at, &n));
            drop(reader.readMediaData(at, &n));
            drop(reader.monoBitmapToBmp(at, width, height, &n));
            const uint64_t end = packPosition(area.start + (select >> 5), 100 + offset);
            drop(reader.extractWave(at, end, 1, select & 1, (select >> 1) & 1, (select >> 2) & 3, &n));
            drop(reader.extractWave(at, end, 0, 0, 0, 0, &n));
        }
    }
    char name[20], title[64];
    for (uint32_t n = 0; n < 4; ++n) reader.readColorSample(n, name, title, (select & 8) ? 3 : sizeof title);
}

void readInformation(CEBReader& reader) {
    std::vector<char> out(4096);
    for (uint32_t size : {0u, 1u, 16u, 255u, 256u, 300u, 4096u}) reader.bookInformation(out.data(), size, size & 1);
}

void gaijiMaps(const std::string& base) {
    CGaijiMap maps(base.c_str());
    for (const char* name : {"BOOK", "book", "OTHER"}) {
        const GAIJI_MAP_RECORD* m = maps.findMap(name);
        int32_t cps[3];
        char alt[8];
        for (int kind = 0; kind < 3; ++kind)
            for (uint32_t code : {0x41u, 0xA121u, 0xA122u, 0xB121u, 0xFFFFu}) maps.lookup(m, kind, code, cps, alt, 4);
        maps.reverseLookup(m, 0xE9, alt, sizeof alt);
    }
    maps.setAllowCombining(true);
    maps.dumpText((base + "dump.txt").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || g_scratch.dir().empty()) return 0;
    const uint8_t select = data[0];
    const std::string dir = g_scratch.dir();
    switch (select & 3) {
        case 0: {
            const std::string path = dir + ((select & 4) ? "/START" : "/HONMON");
            if (!writeScratchFile(path, data + 1, size - 1)) return 0;
            {
                CEBReader reader;
                if (reader.open(path.c_str(), 1, 0)) {
                    reader.setFontInfo(16, 16, 100, 0xB121, 0xB221);
                    readMedia(reader, select);
                    readGlyphs(reader, select);
                    readInformation(reader);
                }
            }
            unlink(path.c_str());
            break;
        }
        case 1: {
            const std::string path = dir + "/DATAFILE";
            if (!writeScratchFile(path, data + 1, size - 1)) return 0;
            {
                CEBReader reader;
                if (reader.openSingleFile(path.c_str())) {
                    readGlyphs(reader, select);
                    uint32_t n = 0;
                    drop(reader.extractXaSound(0, (select >> 3) * 16u, &n));
                    drop(reader.extractXaSound(select >> 4, 0xFFFFFFFFu, &n));
                    uint8_t raw[4096];
                    reader.readRaw(raw, sizeof raw, packPosition(1, select));
                    readInformation(reader);
                }
            }
            unlink(path.c_str());
            break;
        }
        default: {
            const std::string base = dir + "/maps/";
            mkdir(base.c_str(), 0755);
            mkdir((base + "GAIJI").c_str(), 0755);
            const std::string map = base + "GAIJI/BOOK.map";
            const std::string cache = base + "GaijiMap.db";
            bool ok = (select & 3) == 2
                          ? writeScratchFile(cache, data + 1, size - 1) &&
                                writeScratchFile(map, reinterpret_cast<const uint8_t*>("h41\tu00E9\te\n"), 12)
                          : writeScratchFile(map, data + 1, size - 1);
            if (ok) gaijiMaps(base);
            unlink(map.c_str());
            unlink(cache.c_str());
            unlink((base + "dump.txt").c_str());
            break;
        }
    }
    return 0;
}
