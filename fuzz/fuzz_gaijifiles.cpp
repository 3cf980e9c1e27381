// libFuzzer target for the gaiji manager's file readers. The first byte
// chooses the reader: 0 gaiji map, 1 gaiji font definition, 2 hex font; the
// rest is the file. The builder's runtime errors are expected results.
// Allocation then runs on whatever the file left in the code counters.
#include "builder/gaiji/CGaiji.h"

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string path = "/tmp/fuzz_gaijifiles." + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 1) std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    CGaiji g;
    try {
        switch (data[0] % 3) {
            case 0:
                g.parseGaijiMap(path.c_str(), nullptr, nullptr);
                break;
            case 1:
                g.parseGaijiFont(path.c_str());
                break;
            default:
                g.loadHexFont(path.c_str());
                break;
        }
        uint32_t code = 0;
        for (uint32_t cp : {0xE9u, 0x4E00u, 0x20B9Fu}) {
            g.allocateCode(cp, &code);
            if (code != 0 && !CGaiji::isGaijiCode(code)) __builtin_trap();
        }
    } catch (const std::runtime_error&) {
    }
    std::remove(path.c_str());
    return 0;
}
