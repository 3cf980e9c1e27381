// Small dictzip files for the tests, written with zlib: the data is deflated
// in chunks of a chosen length, each ending on a flush, and the gzip header
// lists the chunk sizes in its "RA" field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lftest {

struct DictzipOptions {
    uint16_t chunkLength = 1000;
    bool name = false;            // FNAME "data.txt"
    bool comment = false;         // FCOMMENT "a comment"
    bool headerCrc = false;       // FHCRC
    bool fullFlush = true;        // false: chunks may refer back into earlier ones
    bool endInLastChunk = false;  // the empty final deflate block counted in the last chunk
};

// Header offsets of a file made with DictzipOptions (no other extra subfield):
// XLEN at 10, "RA" at 12, its LEN at 14, VER at 16, CHLEN at 18, CHCNT at 20,
// the chunk sizes from 22.
enum { kDzXlen = 10, kDzSubfield = 12, kDzVersion = 16, kDzChunkLength = 18, kDzChunkCount = 20, kDzSizes = 22 };

std::vector<unsigned char> makeDictzip(const std::string& data, const DictzipOptions& options = DictzipOptions());
// Little-endian u16 at offset.
void putLe16(std::vector<unsigned char>& bytes, size_t offset, unsigned value);
// Deterministic text of n bytes: words, line ends and a few UTF-8 letters.
std::string sampleText(size_t n, unsigned seed = 1);

}  // namespace lftest
