// libFuzzer target for the dictzip reader: the input is written to a file,
// its header parsed and opened, and ranges read around every chunk boundary
// (bounded), across the whole data when it is small, and past its end.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "dictformats/dictzip/dictzip.h"
#include "fuzz/FuzzScratch.h"

namespace {

FuzzScratch g_scratch("fuzz_dictzip");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_scratch.dir().empty()) return 0;
    const std::string path = g_scratch.dir() + "/data.dz";
    if (!writeScratchFile(path, data, size)) return 0;

    DICTZIP_STATE s;
    if (dictzipOpen(path.c_str(), &s) == 0 && s.chunkCount > 0) {
        const uint64_t chunk = static_cast<uint64_t>(s.chunkLength);
        const int chunks = s.chunkCount < 64 ? s.chunkCount : 64;
        for (int k = 0; k < chunks; ++k) {
            const uint64_t start = static_cast<uint64_t>(k) * chunk;
            dictzipRead(&s, start, 1);
            if (start > 0) dictzipRead(&s, start - 1, 2);
            dictzipRead(&s, start + 1, chunk);
        }
        if (s.dataLength <= (1u << 20)) dictzipRead(&s, 0, s.dataLength);
        dictzipRead(&s, s.dataLength, 1);
        dictzipRead(&s, UINT64_MAX - 2, 5);
        dictzipRead(&s, 0, 0);
    }
    dictzipClose(&s);
    unlink(path.c_str());
    return 0;
}
