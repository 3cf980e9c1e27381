#include "bookreader/fts/CFtsKeyForms.h"

#include "bookreader/fts/FtsKeys.h"
#include "foundation/codes/jclib.h"

CFtsKeyForms::CFtsKeyForms(int options) : m_forms(2 * kCells) {
    for (int narrow = 0; narrow < 2; ++narrow)
        for (uint32_t hi = 0x21; hi <= 0x7E; ++hi)
            for (uint32_t lo = 0x21; lo <= 0x7E; ++lo) {
                const uint32_t jis = (hi << 8) | lo;
                uint32_t form = 0;
                // The ideographic space is a gap before any folding.
                if ((options & ftskeys::kBlanks) || jis != 0x2121)
                    form = ftskeys::indexForm(jclib::jisToSjis(jis), narrow != 0, options);
                m_forms[(narrow ? kCells : 0) + (hi - 0x21) * 94 + (lo - 0x21)] = static_cast<uint16_t>(form);
            }
}
