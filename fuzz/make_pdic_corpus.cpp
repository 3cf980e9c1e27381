// Writes the seed corpus of fuzz_pdic: small PDIC dictionaries of every
// layout the reader knows, made by the test-side writer, plus a few damaged
// ones. Built and run by make_pdic_corpus.sh; not part of the build.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/common/PdicWriter.h"

using namespace lftest;

namespace {

void save(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

PdicEntry entry(const std::u32string& word, const std::u32string& meaning) {
    PdicEntry e;
    e.word = word;
    e.meaning = meaning;
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    const std::string dir = argv[1];
    PdicLayout lay;

    save(dir, "v6_worked_example", buildPdic(PdicOptions(), pdicWorkedExampleBlocks()));

    // Small geometry: 256-byte header, 64-byte blocks, so that mutations hit
    // the structure more often.
    PdicOptions small;
    small.headerSize = 256;
    small.blockSize = 64;
    std::vector<PdicBlock> blocks(3);
    blocks[0].entries = {entry(U"ant\tant", U"insect"), entry(U"apple\tApple", U"りんご")};
    PdicEntry apply = entry(U"apply\tapply", U"use");
    apply.example = U"apply for a job";
    apply.pron = U"əplái";
    apply.level = 3;
    blocks[1].entries = {apply, entry(U"日曜\t日曜", U"Sunday"), entry(U"日本\t日本", U"Japan")};
    blocks[2].entries = {entry(U"zoo\tzoo", U"動物園")};
    save(dir, "v6_small_blocks", buildPdic(small, blocks));

    PdicOptions shuffled = small;
    shuffled.physicalOrder = {2, 0, 1};
    shuffled.freeBefore = {1};
    shuffled.indexBlkbit = 1;
    shuffled.extheader = 64;
    save(dir, "v6_shuffled_wide_index", buildPdic(shuffled, blocks));

    std::vector<PdicBlock> wideBlocks(1);
    wideBlocks[0].wideLengths = true;
    PdicEntry snd = entry(U"snd\tsnd", U"sound");
    snd.records.push_back({0x14, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'});
    PdicEntry ref = entry(U"t\tt", U"");
    ref.attrOverride = 0xFF;
    wideBlocks[0].entries = {snd, ref, entry(U"u\tu", U"x")};
    save(dir, "v6_u32_lengths_reference", buildPdic(small, wideBlocks));

    PdicOptions v5 = small;
    v5.major = 5;
    v5.minor = 0;
    std::vector<PdicBlock> plain(2);
    plain[0].entries = {entry(U"Apple", U"りんご"), entry(U"apple", U"fruit")};
    plain[1].entries = {entry(U"zoo", U"動物園")};
    save(dir, "v5_unicode", buildPdic(v5, plain));

    PdicOptions v4 = v5;
    v4.major = 4;
    v4.sjis = true;
    save(dir, "v4_shift_jis", buildPdic(v4, plain));
    PdicOptions hyper5 = v5;
    hyper5.sjis = true;
    save(dir, "v5_shift_jis", buildPdic(hyper5, plain));

    // Damaged: compression longer than the previous headword, a length past
    // the block, a count past the end of the file, a truncated BOCU-1 text.
    std::vector<uint8_t> f = buildPdic(small, blocks, &lay);
    std::vector<uint8_t> g = f;
    g[lay.blockOffset[1] + lay.entryCursor[1][1] + 2] = 0x40;
    save(dir, "damaged_compression", g);
    g = f;
    g[lay.blockOffset[0] + lay.entryCursor[0][0]] = 0xF0;
    save(dir, "damaged_length", g);
    g = f;
    g[lay.blockOffset[2] + 1] = 0x10;
    save(dir, "damaged_count", g);
    // The last byte of a basic entry's meaning ("りんご") made a lead byte
    // whose trail bytes are missing: that entry is corrupt.
    g = f;
    const size_t e = lay.blockOffset[0] + lay.entryCursor[0][1];
    g[e + 4 + (g[e] | (g[e + 1] << 8)) - 1] = 0xFB;
    save(dir, "damaged_truncated_text", g);
    return 0;
}
