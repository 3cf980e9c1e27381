#include "tests/common/BookTextRender.h"

#include <cstdio>
#include <vector>

#include "foundation/book/BookConstants.h"
#include "foundation/book/CBlockStream.h"

namespace lftest {

std::string renderBookText(CBlockStream& s) {
    std::vector<unsigned char> bytes;
    for (uint32_t b = 0; b < s.blockCount(); ++b) {
        const unsigned char* p = s.page(b);
        bytes.insert(bytes.end(), p, p + kBlockSize);
    }
    std::string out;
    const size_t n = bytes.size();
    for (size_t i = 0; i + 1 < n; i += 2) {
        unsigned c = (bytes[i] << 8) | bytes[i + 1];
        if (c == 0) continue;  // the zero tail of a block
        char buf[48];
        if ((c >> 8) == 0x1F) {
            if (c == 0x1F04 || c == 0x1F05) continue;
            if ((c == 0x1F09 || c == 0x1F41 || c == 0x1FE0) && i + 3 < n) {
                std::snprintf(buf, sizeof buf, "<%02X:%04X>", c & 0xFF, (bytes[i + 2] << 8) | bytes[i + 3]);
                i += 2;
            } else if ((c == 0x1F62 || c == 0x1F63) && i + 7 < n) {
                std::snprintf(buf, sizeof buf, "<%02X:%02X%02X%02X%02X:%02X%02X>", c & 0xFF, bytes[i + 2], bytes[i + 3],
                              bytes[i + 4], bytes[i + 5], bytes[i + 6], bytes[i + 7]);
                i += 6;
            } else {
                std::snprintf(buf, sizeof buf, "<%02X>", c & 0xFF);
            }
            out += buf;
        } else if (c == 0x2121) {
            out += ' ';
        } else if ((c >> 8) == 0x23) {
            out += static_cast<char>(c & 0xFF);
        } else {
            std::snprintf(buf, sizeof buf, "[%04X]", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace lftest
