// Decoder of CD-ROM XA ADPCM sound groups (4-bit samples, mono): each
// 128-byte group holds 8 sound units of 28 samples, with a range and a
// filter per unit in bytes 4 to 11. The last two samples carry from one
// group into the next.
#pragma once

#include <cstdint>

class CXaDecoder {
public:
    static constexpr int kGroupBytes = 128;
    static constexpr int kGroupSamples = 8 * 28;

    void reset() { m_p1 = m_p2 = 0; }
    // Decodes one group into kGroupSamples samples, unit after unit.
    void decodeGroup(const uint8_t* group, int16_t* out);

private:
    int m_p1 = 0;
    int m_p2 = 0;
};
