// libFuzzer target for the book reader: the input (after its first byte) is
// written as a book text file, opened with CEBReader::open, and the text of
// every index area is decoded with both hook sets, with and without the page
// stop; menus are turned into hits and multi searches selected. The first
// byte chooses the file name (bits 0-1: "HONMON", "START", "DATA.IDX", a raw
// file) and the decode options (bit 2: full-width folding, bit 3: heading
// tags off, bit 4: a page-break setting, bit 5: an escape substitution).
#include "bookreader/core/CEBReader.h"
#include "fuzz/FuzzScratch.h"

#include <unistd.h>
#include <cstdint>
#include <string>
#include <vector>

namespace {

FuzzScratch g_scratch("fuzz_bookreader");
const char* const kNames[] = {"/HONMON", "/START", "/DATA.IDX", "/RAWFILE"};

// Texts decoded per area, and the output room of one decode.
constexpr int kTextsPerArea = 8;
constexpr uint32_t kOutputSize = 1 << 14;

void decodeArea(CEBReader& reader, const READER_INDEX_INFO& area, int pageStop, std::vector<char>& out) {
    uint32_t block = area.start, offset = 0;
    for (int i = 0; i < kTextsPerArea; ++i) {
        if (!reader.seekBlock(block) || (offset > 0 && !reader.setOffset(static_cast<int>(offset)))) return;
        uint32_t n = 0;
        reader.readText(out.data(), kOutputSize, &n, pageStop, 2);
        uint64_t end = reader.lastTextEnd();
        if (end == 0 || end <= ((static_cast<uint64_t>(block) << 32) | offset)) return;
        block = static_cast<uint32_t>(end >> 32);
        offset = static_cast<uint32_t>(end & 0xFFFF);
        reader.previousPageStart();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || g_scratch.dir().empty()) return 0;
    const uint8_t select = data[0];
    const std::string path = g_scratch.dir() + kNames[select & 3];
    if (!writeScratchFile(path, data + 1, size - 1)) return 0;

    static const ESCAPE_SUBST kSubst[] = {{0x1F41, 2, 0}, {0x1F43, 0x1F42, 1}, {0x1F0A, 0, 9}, {0, 0, 0}};
    std::vector<char> out(kOutputSize);
    {
        CEBReader reader;
        if (reader.open(path.c_str(), 1, 0)) {
            reader.setTextOption(select & 4 ? 1 : 0);
            reader.setHeadOption(select & 8 ? 1 : 0);
            if (select & 16) reader.setPageBreak(0x1F41, 0x0160, 2);
            if (select & 32) reader.setEscapeSubst(kSubst);
            for (int i = 0; i < reader.indexCount(); ++i) {
                const READER_INDEX_INFO area = reader.indexInfos()[i];
                decodeArea(reader, area, 1, out);
                decodeArea(reader, area, 0, out);
                if (reader.seekBlock(area.start)) {
                    uint32_t n = 0;
                    reader.readHeading(out.data(), 256, &n);
                }
                if (area.id == 0x01 || area.id == 0x20) reader.menuToHits(area.start, 0);
            }
            for (int i = 0; i < reader.multiSearchCount(); ++i) reader.selectMultiSearch(i);
            reader.checkCRC();
        }
    }
    unlink(path.c_str());
    return 0;
}
