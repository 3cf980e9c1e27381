// Test-side writers of the legacy storage forms, for small fixtures that our
// decoders and the EB Library read back: EPWING Huffman (V4/V5, V6), S-EBXA
// LZSS START files, SSED catalogs with SSEDDATA component files. They favour
// plain code over speed; images are a few dozen blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/Bytes.h"

namespace lftest {

// --- EPWING Huffman --------------------------------------------------------

struct HuffmanOptions {
    int version = 4;         // 4 (V4/V5) or 6
    size_t pairLeaves = 64;  // V4: most frequent byte pairs taken as leaves
    size_t quadLeaves = 8;   // V6: most frequent 4-byte words taken as leaves
};

// Encodes `image` (a multiple of 2048 bytes) in the Huffman form. Empty on
// failure (a page offset beyond 65535 in a group), with the reason in *error.
Bytes encodeHuffman(const Bytes& image, const HuffmanOptions& options, std::string* error = nullptr);

// Huffman codes ("0"/"1" strings) the tree of a frequency table gives, leaves
// in table order (V6 quads, pairs, the 256 bytes, end of page last), built
// the direct quadratic way, as the books' encoder does.
std::vector<std::string> huffmanCodes(const std::vector<uint32_t>& freqs);

// --- S-EBXA ---------------------------------------------------------------

struct EbxaOptions {
    bool allowZeroRuns = true;  // references into the unwritten (zero) ring
    bool literalsOnly = false;  // no references at all (compressed slice of 4608 bytes)
};

// Turns a plain START image (block 1 an index table with a text record 0x00)
// into its S-EBXA form: 0x22 table at block T, the slices after it, areas
// before the text raw, areas after the text raw at their own blocks. Empty
// on failure (no text record, compressed data reaching an area after the text).
Bytes encodeEbxa(const Bytes& image, const EbxaOptions& options = EbxaOptions(), std::string* error = nullptr);

// One LZSS slice (4096 bytes of input) as the S-EBXA coder writes it.
Bytes encodeLzssSlice(const uint8_t* slice, const EbxaOptions& options);

// --- SSED -----------------------------------------------------------------

struct SsedComponent {
    uint8_t type = 0;      // area id (0x00 body)
    uint8_t flag = 0;      // "multi" flag of the record
    uint32_t first = 0;    // first block in the image; 0 with an empty image: declared, absent
    Bytes image;           // a multiple of 2048 bytes
    std::string fileName;  // e.g. "HONMON.DIC"
    uint8_t info[4] = {0, 0, 0, 0};
};

// An SSEDDATA file for one component (header, chunk table, chunks).
Bytes encodeSsedData(const SsedComponent& component);
// One chunk (up to 32768 bytes of input, a multiple of 2048).
Bytes encodeSsedChunk(const uint8_t* data, size_t length);
// The SSEDINFO catalog naming the components.
Bytes encodeSsedInfo(const std::string& title, const std::vector<SsedComponent>& components);
// Writes <dir>/<idxName> and every component file with an image. True on success.
bool writeSsedBook(const std::string& dir, const std::string& idxName, const std::string& title,
                   const std::vector<SsedComponent>& components);

// --- Book fixtures ---------------------------------------------------------

// A plain book text image: block 1 an index table with the given records
// (id, start, blocks), blocks after it filled by `fill`(block number, offset).
struct AreaRecord {
    uint8_t id;
    uint32_t start;
    uint32_t blocks;
};
Bytes makeTextImage(uint32_t totalBlocks, const std::vector<AreaRecord>& areas, uint8_t charCode = 0x02);
// Fills blocks from..to (inclusive) with text-like bytes (JIS pairs and
// escape codes) that compress, seeded by `seed`.
void fillTextLike(Bytes& image, uint32_t from, uint32_t to, unsigned seed);
// Fills blocks from..to with pseudo-random bytes that do not compress.
void fillRandom(Bytes& image, uint32_t from, uint32_t to, unsigned seed);

// EPWING book <dir>/CATALOGS + <dir>/TEST/DATA/<fileName>, one subbook of
// `version` whose second record gives `code` for the text file.
bool writeEpwingBook(const std::string& dir, const Bytes& textFile, int version, uint8_t code,
                     const std::string& fileName = "HONMON2");
// EB book <dir>/CATALOG + <dir>/TEST/START.
bool writeEbBook(const std::string& dir, const Bytes& startFile);

}  // namespace lftest
