#include "bookreader/media/CXaDecoder.h"

namespace {

const int kK0[4] = {0, 240, 460, 392};
const int kK1[4] = {0, 0, -208, -220};

}  // namespace

void CXaDecoder::decodeGroup(const uint8_t* group, int16_t* out) {
    for (int u = 0; u < 8; ++u) {
        const unsigned parameters = group[4 + u];
        // A range above 12 would shift right; it is read as 12 (shift 0).
        const unsigned range = parameters & 0x0F;
        const int shift = 12 - static_cast<int>(range > 12 ? 12 : range);
        // The format's filter field has two bits; the nibble's upper bits
        // are unused.
        const unsigned filter = (parameters >> 4) & 0x03;
        for (int i = 0; i < 28; ++i) {
            const unsigned byte = group[16 + 4 * i + u / 2];
            const unsigned nibble = (u & 1) ? (byte >> 4) : (byte & 0x0F);
            const int value = static_cast<int>(nibble ^ 8u) - 8;  // sign-extended
            int sample = value * (1 << shift) + (m_p1 * kK0[filter] + m_p2 * kK1[filter]) / 256;
            if (sample > 32767) sample = 32767;
            if (sample < -32768) sample = -32768;
            m_p2 = m_p1;
            m_p1 = sample;
            *out++ = static_cast<int16_t>(sample);
        }
    }
}
