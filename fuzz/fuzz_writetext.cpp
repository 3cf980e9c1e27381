// libFuzzer target for the book text writer: the input (after its first
// byte) is written with writeText and, as hexadecimal text, with
// writeHexCodes, into a memory stream. The first byte chooses the options:
// bit 0 half-width brackets, bit 1 line-feed conversion, bit 2 a small gaiji
// table, bits 3-7 the starting column. Book text is whole 16-bit codes, so
// the stream must end on an even offset.
#include "foundation/book/CBlockStream.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned flags = data[0];
    const char* text = reinterpret_cast<const char*>(data + 1);
    const int length = static_cast<int>(size - 1);

    GAIJI_ITEM items[3] = {
        {"foo", 0, 0xE9, 0xA121, nullptr},
        {nullptr, 0, 0x4E00, 0xB121, nullptr},
        {"nocode", 0, 0x2422, 0, nullptr},
    };
    GAIJI_CODE_STATE state = {0xA121, 0xA122, 0xB121, 0xB122, items, 3};

    CBlockStream s(1, 0);
    if (flags & 4) s.setGaijiMap(&state);
    s.setColumn(static_cast<int>(flags >> 3));
    s.writeText(text, length, flags & 1, flags & 2);
    if (s.currentOffset() % 2 != 0) abort();  // a lone byte in book text

    CBlockStream h(1, 0);
    h.writeHexCodes(text, length);
    if (h.currentOffset() % 2 != 0) abort();
    return 0;
}
