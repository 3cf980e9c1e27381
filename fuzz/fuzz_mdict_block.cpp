// libFuzzer target for MDict block decoding: 4 bytes of stated decoded size
// (big-endian; its top bit asks for the key-index descrambling first), then
// the framed block. A decoded block has exactly its stated size.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dictformats/mdict/MdictBlock.h"
#include "foundation/byteorder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t stated = byteorder::be32(data);
    std::vector<uint8_t> block(data + 4, data + size);
    if (stated & 0x80000000u) descrambleMdictKeyInfo(block.data(), block.size());
    stated &= 0x7FFFFFFFu;
    std::vector<uint8_t> out;
    int r = decodeMdictBlock(block.data(), block.size(), stated, &out);
    if (r == 0 && out.size() != stated) abort();
    if (r != 0 && !out.empty()) abort();
    return 0;
}
