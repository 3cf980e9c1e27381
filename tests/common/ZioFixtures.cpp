#include "tests/common/ZioFixtures.h"

#include "foundation/byteorder.h"
#include "tests/common/TestDir.h"

#include <sys/stat.h>

namespace lftest {

Bytes makeBookText(size_t size, unsigned seed) {
    if (size < 2048) size = 2048;
    Bytes b(size, 0);
    // Index table: count 1 (bytes 0-1), then at byte 16 one record:
    // id 0x00 (body text), start block 2 (bytes 18-21), block count (22-25).
    b[1] = 1;
    b[16] = 0x00;
    byteorder::putBe32(&b[18], 2);
    byteorder::putBe32(&b[22], unsigned((size - 2048 + 2047) / 2048));

    unsigned x = seed * 2654435761u + 12345u;
    const char text[] = "The quick brown fox jumps over the lazy dog. ";
    size_t pos = 2048, run = 0;
    while (pos < size) {
        size_t len = 1000 + (run % 4) * 1500;
        for (size_t i = 0; i < len && pos < size; ++i, ++pos) {
            if (run % 2 == 0) {
                x = x * 1103515245u + 12345u;
                b[pos] = (unsigned char)(x >> 16);
            } else {
                b[pos] = (unsigned char)text[i % (sizeof text - 1)];
            }
        }
        ++run;
    }
    return b;
}

std::string ebzipWithTool(const std::string& dir, const Bytes& data, int level) {
    const std::string book = dir + "/book", out = dir + "/out";
    mkdir(book.c_str(), 0755);
    mkdir((book + "/TEST").c_str(), 0755);
    mkdir((book + "/TEST/DATA").c_str(), 0755);
    mkdir(out.c_str(), 0755);

    // CATALOGS: count 1 (bytes 0-1), version 1 (byte 3); one 164-byte record
    // at 16: version 1 (+1), title in JIS (+2), directory "TEST" (+82),
    // index page 1 (+95).
    Bytes cat(2048, 0);
    cat[1] = 1;
    cat[3] = 1;
    cat[16 + 1] = 1;
    const unsigned char title[] = {0x24, 0x22, 0x24, 0x24};
    for (size_t i = 0; i < sizeof title; ++i) cat[16 + 2 + i] = title[i];
    const char dirName[] = "TEST    ";
    for (size_t i = 0; i < 8; ++i) cat[16 + 82 + i] = (unsigned char)dirName[i];
    cat[16 + 95] = 1;

    if (!writeFile(book + "/CATALOGS", cat) || !writeFile(book + "/TEST/DATA/HONMON", data)) return "";
    const std::string cmd = "ebzip --keep --force-overwrite --quiet --level " + std::to_string(level) +
                            " --output-directory " + shellQuote(out) + " " + shellQuote(book) + " 2>&1";
    if (runCommand(cmd) != 0) return "";
    const std::string result = out + "/TEST/DATA/HONMON.ebz";
    struct stat st;
    return stat(result.c_str(), &st) == 0 ? result : "";
}

}  // namespace lftest
