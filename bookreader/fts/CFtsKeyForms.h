#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The indexed form of every JIS X 0208 code, narrow and wide, for one set of
// options: one table lookup per character of the text.
class CFtsKeyForms {
public:
    explicit CFtsKeyForms(int options);
    // The code's form, 0 when it is not indexed. jis must be a JIS X 0208
    // code position (both bytes 0x21 to 0x7E).
    uint32_t of(uint32_t jis, bool narrow) const {
        return m_forms[(narrow ? kCells : 0) + ((jis >> 8) - 0x21) * 94 + ((jis & 0xFF) - 0x21)];
    }

private:
    static constexpr size_t kCells = 94 * 94;
    std::vector<uint16_t> m_forms;
};
