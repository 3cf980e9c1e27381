// libFuzzer target for the stored-book block reader: the input (after its
// first byte) is written to a file, opened with CZio::open, and every block
// and the checksum are read. The first byte chooses the file name (bit 0:
// "START", else "HONMON") and the EPWING version hint (bits 1-3).
#include "foundation/storage/CZio.h"
#include "fuzz/FuzzScratch.h"

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

FuzzScratch g_scratch("fuzz_zio");

const std::string& scratchDir() {
    return g_scratch.dir();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || scratchDir().empty()) return 0;
    const uint8_t select = data[0];
    const std::string path = scratchDir() + ((select & 1) ? "/START" : "/HONMON");
    const unsigned hint = (select >> 1) & 7;

    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size > 1) fwrite(data + 1, 1, size - 1, f);
    fclose(f);

    CZio zio;
    if (zio.open(path.c_str(), hint) == 0) {
        unsigned char block[kBlockSize];
        // Every block up to the size (bounded; a run of failures ends it
        // early), one past it, and a far one.
        int64_t blocks = zio.fileSize() / kBlockSize + 2;
        if (blocks > 4096) blocks = 4096;
        int failures = 0;
        for (int64_t n = 1; n <= blocks && failures < 8; ++n) {
            zio.seekBlock(unsigned(n));
            failures = zio.readBlock(block) > 0 ? 0 : failures + 1;
        }
        zio.seekBlock(0xFFFFFFFFu);
        zio.readBlock(block);
        zio.seekBlock(1);
        zio.readBlock(block);
        if (zio.fileSize() <= (int64_t(1) << 24)) zio.checkCRC();
    }
    zio.close();
    unlink(path.c_str());
    return 0;
}
