// The media files a book carries (BMP and JPEG figures, WAVE sounds, MPEG
// movies): which form a file is by its extension, and the check of its
// headers against the bytes really in the file before anything of it is
// written into a book.
//
// Every size and offset is 64-bit; a size read from a header is checked
// against the file's size before it is used, so a truncated file or a header
// that claims more than the file holds is refused, never copied.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

enum MEDIA_FORMAT {
    MEDIA_FORMAT_NONE = 0,  // not a media file name
    MEDIA_FORMAT_BMP,       // .bmp .dib
    MEDIA_FORMAT_JPEG,      // .jpg .jpeg
    MEDIA_FORMAT_WAVE,      // .wav
    MEDIA_FORMAT_MPEG,      // .mpg .mpeg
    MEDIA_FORMAT_FOREIGN    // .png .gif .mid .avi: media a book cannot carry
};

// Largest width and height of a figure: references carry them as four
// decimal digits.
constexpr uint32_t kMaxFigureSide = 9999;

// What the check of a media file found.
struct MEDIA_INFO {
    int format;  // MEDIA_FORMAT_*
    uint64_t fileSize;
    uint32_t width;   // pixels (figures; movies when the file says)
    uint32_t height;  // pixels
    // BMP
    int bitsPerPixel;
    bool topDown;         // rows stored top row first
    uint32_t rowBytes;    // stored bytes of one row (1-bit and uncompressed BMP)
    uint32_t palette[2];  // 1-bit BMP: colours 0 and 1 as 0xRRGGBB
    // Bytes kept of the file: BMP and MPEG the whole file, JPEG up to and
    // including its end marker, WAVE the payload of the "data" chunk.
    uint64_t dataOffset;
    uint64_t dataSize;
    // BMP pixel data (1-bit figures).
    uint64_t pixelOffset;
    // WAVE: the "fmt " chunk payload and the sample format.
    uint64_t fmtOffset;
    uint32_t fmtSize;
    uint16_t formatTag;
    uint16_t channels;
    uint32_t sampleRate;
    uint16_t bitsPerSample;
};

// The form of a media file by the extension of its path (case ignored;
// anything after a "#" is not part of the name).
int mediaFormatOf(const char* path, int length);

// Reads the headers of the open file f (fileSize bytes) in the given format
// and checks every size in them against the file. 0 with *info filled, or -1
// with *why set to a short reason ("truncated", "not a BMP file", ...).
int checkMediaFile(FILE* f, uint64_t fileSize, int format, MEDIA_INFO* info, const char** why);

// The figure of a checked 1-bit BMP as a monochrome bitmap: rows top first,
// (width + 7) / 8 bytes a row, the first pixel in the high bit, a set bit a
// dark pixel (a palette colour darker than middle grey). 0, or -1 when the
// pixels cannot be read.
int readMonoBitmap(FILE* f, const MEDIA_INFO& info, std::vector<uint8_t>* bitmap);

// True when the sample format can be described by a sound reference:
// PCM, one or two channels, 8 or 16 bits, 44100, 22050 or 11025 Hz.
bool isBookSoundFormat(const MEDIA_INFO& info);
// One of the three sample rates a sound reference can describe.
bool isBookSampleRate(uint32_t rate);

// Reads n bytes at offset of f; false when the file holds fewer.
bool readFileAt(FILE* f, uint64_t offset, void* buffer, size_t n);
