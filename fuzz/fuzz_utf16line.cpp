// libFuzzer target for the UTF-16 line reader: the first byte gives the line
// buffer size (0..63), the rest is the file. The reader must stay inside the
// buffer and reach the end of the file.
#include "builder/sources/sourcetext.h"

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string path = "/tmp/fuzz_utf16line." + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 1) std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    const int lineSize = data[0] % 64;
    std::vector<int> buffer(static_cast<size_t>(lineSize > 0 ? lineSize : 1));
    f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return 0;
    size_t calls = 0;
    while (readUTF16Line(buffer.data(), lineSize, f) != nullptr) {
        if (lineSize < 2) break;
        if (++calls > size + 2) abort();  // every call must consume input
    }
    std::fclose(f);
    std::remove(path.c_str());
    return 0;
}
