// Small media files for tests, made byte by byte: BMP figures, JPEG figures
// (structurally whole: frame header, scan and end marker, no real picture),
// WAVE sounds and MPEG movie heads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/Bytes.h"

namespace lftest {

// A BMP of width x height dots with bpp bits per pixel (1, 4, 8, 24),
// BITMAPINFOHEADER, bottom-up rows (top-down when topDown). The pixels come
// from pixel(x, y): a palette index for 1, 4 and 8 bits (palette: 0 white, 1
// black, then greys), a 0xRRGGBB colour for 24 bits.
Bytes makeBmp(int width, int height, int bpp, unsigned (*pixel)(int x, int y), bool topDown = false);

// A JPEG of width x height dots whose scan holds scanBytes bytes, with a
// stuffed 0xFF 0x00 and a restart marker in it.
Bytes makeJpeg(int width, int height, size_t scanBytes = 40);

// A PCM WAVE file with the given format and frames sample frames; sample
// bytes count up from seed. extraChunk puts a "LIST" chunk before "data".
Bytes makeWave(int channels, int rate, int bits, int frames, uint8_t seed = 1, bool extraChunk = false);

// The start of an MPEG program stream with a sequence header of width x
// height, padded with filler to size bytes.
Bytes makeMpeg(int width, int height, size_t size = 600);

// The payload of the first "data" chunk of a WAVE file (empty when none).
Bytes waveSamples(const Bytes& wave);

// A 1-bit picture as a monochrome bitmap: rows top first, (width + 7) / 8
// bytes a row, set bits for pixel() == 1.
Bytes monoRows(int width, int height, unsigned (*pixel)(int x, int y));

}  // namespace lftest
