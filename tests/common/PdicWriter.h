// Test-side writer of small binary PDIC dictionaries, from the format notes
// alone (its own BOCU-1 encoder and layout code, sharing nothing with the
// library's reader). Used to build fixtures for the PDIC reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/Bytes.h"

namespace lftest {

// BOCU-1 bytes of a text (no terminator).
Bytes pdicBocu1(const std::u32string& text);
// Shift_JIS bytes of a text from a tiny table: ASCII and a few kana
// (り ん ご あ い); anything else becomes "?".
Bytes pdicSjis(const std::u32string& text);

struct PdicEntry {
    std::u32string word;  // stored headword, e.g. U"apple\tApple" in version 6
    std::u32string meaning;
    std::u32string example;  // empty: none
    std::u32string pron;     // empty: none
    int level = 0;           // 0..15
    bool memorise = false;
    bool modified = false;
    // Raw extension records (attribute byte and payload), written before
    // the end marker; they make the entry extended.
    std::vector<Bytes> records;
    int attrOverride = -1;  // whole attribute byte, when >= 0
};

struct PdicBlock {
    std::vector<PdicEntry> entries;
    bool wideLengths = false;  // u32 lengths (count bit 15)
};

struct PdicOptions {
    int major = 6;
    int minor = 0x0A;
    int headerSize = 0;   // 0: 256 for major < 6, 1024 otherwise
    int blockSize = 0;    // as headerSize
    int indexBlkbit = 0;  // 1: u32 block numbers in the index
    int extheader = 0;    // bytes of (zero) extended header
    int dictype = -1;     // -1: 0x08 (BOCU-1) for Unicode, 0 for Shift_JIS
    int os = -1;          // -1: 0x20 for BOCU-1, 0 otherwise
    int attrlen = 1;
    bool sjis = false;  // Shift_JIS text (major 4, or Hyper 5)
    // Order in which logical blocks are placed in the data area (empty:
    // 0, 1, 2, ...).
    std::vector<int> physicalOrder;
    // Free blocks (count 0) placed before the logical block at these
    // positions of the physical order.
    std::vector<int> freeBefore;
    std::u32string title;  // header title field
};

// Where things ended up, for corrupt variants made by patching bytes.
struct PdicLayout {
    size_t indexOffset = 0;                        // start of the index area
    size_t dataOffset = 0;                         // start of physical block 0
    std::vector<size_t> blockOffset;               // file offset of each logical block
    std::vector<uint32_t> blockPhys;               // physical number of each logical block
    std::vector<std::vector<size_t>> entryCursor;  // per block: offset of each entry's length field
};

Bytes buildPdic(const PdicOptions& options, const std::vector<PdicBlock>& blocks, PdicLayout* layout = nullptr);

// The minimal version-6 file of the format notes' worked example
// (apple / apply / zoo in two blocks), as built by buildPdic.
std::vector<PdicBlock> pdicWorkedExampleBlocks();

}  // namespace lftest
