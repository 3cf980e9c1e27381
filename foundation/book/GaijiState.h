// The gaiji (external character) records that the gaiji manager fills and the
// book text writer reads: one entry per gaiji, and the code-counter block that
// CBlockStream::setGaijiMap receives.
#pragma once

#include <cstdint>

// One gaiji entry.
struct GAIJI_ITEM {
    const char* name;  // NUL-terminated name in the book's string table, or null
    int32_t mojikyo;   // Mojikyo character number, 0 when none
    uint32_t unicode;  // Unicode code point, 0 when none
    uint32_t ebCode;   // 16-bit EB code of the gaiji, 0 when none
    const char* alt;   // NUL-terminated alternative text in the string table, or null
};

// The code counters and the entry table of one book's gaiji.
// Narrow codes in use are narrowStart <= code < narrowNext, wide codes
// wideStart <= code < wideNext.
struct GAIJI_CODE_STATE {
    uint16_t narrowStart;  // first half-width gaiji code, default 0xA121
    uint16_t narrowNext;   // next half-width code to hand out, default 0xA121
    uint16_t wideStart;    // first full-width gaiji code, default 0xB121
    uint16_t wideNext;     // next full-width code to hand out, default 0xB121
    GAIJI_ITEM* gaijiMap;  // the entries (owned by the gaiji manager)
    int32_t count;         // number of entries in use
};
