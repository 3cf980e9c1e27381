// Media and font extraction of one reader: raw bytes, JPEG data cut out by
// its markers, "data" chunks, monochrome bitmaps and glyphs as BMP files,
// sounds as RIFF/WAVE files (from book data, from files named by
// "WaveFile.map", or decoded from CD-ROM XA ADPCM sectors), colour samples
// and gaiji glyphs. It reads through the reader's block operations and lives
// for one call, as CEBReader's media operations create it.
//
// Every size taken from book data is checked against the bytes left in the
// area (or file) that holds the position and against kMaxMediaBytes before
// anything is allocated; buffers handed out come from malloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bookreader/core/ReaderTypes.h"

class CEBReader;
class CGlyphCache;

class CMediaReader {
public:
    // Largest buffer a media operation hands out.
    static constexpr uint64_t kMaxMediaBytes = 0x10000000;
    // Colour graphics of this size or more are dropped.
    static constexpr uint32_t kMaxColorGraphic = 0x100000;
    // Largest side of a monochrome bitmap.
    static constexpr uint32_t kMaxBitmapSide = 8192;

    explicit CMediaReader(CEBReader& reader) : m_reader(reader) {}

    int readRaw(uint8_t* buffer, uint32_t count, uint64_t position);
    uint8_t* readColorGraphic(uint64_t position, uint32_t* size);
    uint8_t* readMediaData(uint64_t position, uint32_t* size);
    uint8_t* monoBitmapToBmp(uint64_t position, uint32_t width, uint32_t height, uint32_t* size);
    uint8_t* extractWave(uint64_t start, uint64_t end, int header, int channelsMinusOne, int eightBit, int rateCode,
                         uint32_t* size);
    uint8_t* extractXaSound(uint32_t firstSector, uint32_t lastSector, int sampleRate, uint32_t* size);
    int readColorSample(uint32_t n, char* name, char* title, uint32_t titleSize);
    // The glyph of code in the font slot readGaijiBitmap chose, through the
    // glyph cache for 16-dot glyphs.
    int readGlyph(const FONT_HEADER& font, CGlyphCache* cache, uint32_t code, uint32_t* outWidth, uint32_t* outHeight,
                  uint8_t* buffer, size_t bufferSize);
    static uint8_t* bitmapToBmp(uint32_t width, uint32_t height, const uint8_t* bitmap, uint32_t* size);

    // Block and offset of a position, the offset brought below 2048.
    static void splitPosition(uint64_t position, uint32_t* block, uint32_t* offset);
    // Bytes from block:offset to the end of the index area that holds it,
    // or else to the end of the file; 0 when the position lies past them.
    uint64_t bytesFrom(uint32_t block, uint32_t offset) const;

private:
    bool seek(uint32_t block, uint32_t offset);
    // count bytes from the read position; false when a block cannot be read.
    bool copy(uint8_t* out, size_t count);
    // Appends count bytes from the read position to out.
    bool append(std::vector<uint8_t>* out, uint64_t count);
    uint8_t* readWaveMapFile(uint32_t startBlock, uint64_t capacity, uint32_t* size);

    CEBReader& m_reader;
};
