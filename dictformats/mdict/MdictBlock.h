// The framed blocks of an MDict file (key-block info, key blocks, record
// blocks): a 4-byte type (stored, LZO, zlib), a 4-byte big-endian Adler-32 of
// the decoded bytes, then the payload; and the scrambling of a key-block info.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The largest decoded block the reader accepts (real files keep blocks far
// smaller).
const uint64_t kMdictMaxBlockSize = 64u << 20;
// The largest block as stored: a compressed block may exceed its decoded size
// by a little.
const uint64_t kMdictMaxStoredSize = kMdictMaxBlockSize + (kMdictMaxBlockSize >> 3) + 4096;

// Decodes a framed block of size bytes into out, which then holds exactly
// decodedSize bytes. Fails (-1, out emptied) when the frame is short, the type
// is unknown, decodedSize is above kMdictMaxBlockSize or more than the payload
// can expand to, the payload decodes to any other size, or the Adler-32 of the
// decoded bytes differs (stored blocks are checked as packed ones are).
// zlib failures print "inflate: %s\n".
int decodeMdictBlock(const uint8_t* block, size_t size, uint64_t decodedSize, std::vector<uint8_t>* out);

// Undoes the scrambling of a key-block info in place (the 8 framing bytes stay
// as they are): the key is the RIPEMD-128 of bytes 4-7 followed by 95 36 00
// 00, the chaining byte starts at 0x36.
void descrambleMdictKeyInfo(uint8_t* buffer, size_t size);
