// The EBZip file format: the 22-byte header, the slice index and the
// deflated slices.
//
// EBZip file, all numbers big-endian:
//   0  5  "EBZip"
//   5  1  high nibble: 1 when the size is below 0xFFFFFFFF, else 2; low: level
//   6  1  header byte 6, 7  1  zero
//   8  6  uncompressed size          14 4  Adler-32 of the uncompressed bytes
//   18 4  modification time of the input (low 32 bits)
//   22 (n+1)*w  slice offsets, then the n slices (raw when the span equals
//   the slice size, else one zlib stream of the zero-padded slice).
#pragma once

#include <cstdint>
#include <string>

struct z_stream_s;

namespace ebzip {

constexpr unsigned kHeaderSize = 22;
constexpr unsigned kMaxLevel = 5;

// Index width for an uncompressed size: 2, 3, 4 or 5.
unsigned indexWidthFor(uint64_t size);

// The 22-byte header.
void makeHeader(unsigned char* header, uint64_t size, unsigned level, unsigned byte6, uint32_t adler, uint32_t mtime);

// The file begins with the EBZip magic (it may still be too short or damaged
// to be read).
bool hasMagic(const char* path);

// Header byte 5 names a form readers know: mode 1 or 2 in the high nibble
// and a level of at most kMaxLevel in the low one. No reader reads a file
// with any other value, whatever its checksum says.
bool knownForm(unsigned char byte5);

// The file name ends with ".ebz" (case ignored): the name of a compressed
// book file, so such a file that is not EBZip is a damaged one.
bool hasEbzName(const std::string& path);

// One zlib stream at the default level, reset after every slice (which gives
// the same bytes as a fresh stream).
class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    bool ready() const { return m_stream != nullptr; }

    // One zlib stream of in into out (room for inLen bytes): its length,
    // inLen when it does not fit (the slice is stored raw), or -1 on a zlib
    // failure.
    long deflateSlice(unsigned char* out, const unsigned char* in, unsigned inLen);

private:
    z_stream_s* m_stream;
};

// One slice through a fresh Deflater: *outLen = the stream's length, or
// inLen when it does not fit. 0, or -1 on a zlib failure.
int deflateSlice(unsigned char* out, unsigned* outLen, const unsigned char* in, unsigned inLen);

}  // namespace ebzip
