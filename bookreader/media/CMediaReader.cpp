#include "bookreader/media/CMediaReader.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/media/CGlyphCache.h"
#include "bookreader/media/CXaDecoder.h"
#include "foundation/FileHandle.h"
#include "foundation/book/BookConstants.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"

namespace {

constexpr uint32_t kBmpHeaderSize = 62;
constexpr uint32_t kWaveHeaderSize = 44;

// A malloc'ed copy of bytes (null when bytes is empty or memory is short).
uint8_t* handOut(const std::vector<uint8_t>& bytes, uint32_t* size) {
    if (size) *size = 0;
    if (bytes.empty()) return nullptr;
    uint8_t* out = static_cast<uint8_t*>(malloc(bytes.size()));
    if (!out) return nullptr;
    memcpy(out, bytes.data(), bytes.size());
    if (size) *size = static_cast<uint32_t>(bytes.size());
    return out;
}

// A 1-bit BMP of rows of rowBytes bytes (top row first) at width rounded up
// to a multiple of 8; colour 0 white, colour 1 black. Null when the sides
// are 0 or too large or memory is short.
uint8_t* makeBmp(uint32_t width, uint32_t height, const uint8_t* rows, uint32_t* size) {
    if (size) *size = 0;
    if (width == 0 || height == 0 || width > CMediaReader::kMaxBitmapSide || height > CMediaReader::kMaxBitmapSide)
        return nullptr;
    const uint64_t rowBytes = (width + 7) / 8;
    const uint64_t bmpRow = (rowBytes + 3) / 4 * 4;
    const uint64_t pixels = bmpRow * height;
    const uint64_t total = kBmpHeaderSize + pixels;
    uint8_t* out = static_cast<uint8_t*>(calloc(1, total));
    if (!out) return nullptr;
    out[0] = 'B';
    out[1] = 'M';
    byteorder::putLe32(out + 2, static_cast<uint32_t>(total));
    byteorder::putLe32(out + 10, kBmpHeaderSize);
    byteorder::putLe32(out + 14, 40);
    byteorder::putLe32(out + 18, static_cast<uint32_t>(rowBytes * 8));
    byteorder::putLe32(out + 22, height);
    byteorder::putLe16(out + 26, 1);
    byteorder::putLe16(out + 28, 1);
    byteorder::putLe32(out + 34, static_cast<uint32_t>(pixels));
    byteorder::putLe32(out + 46, 2);
    const uint8_t colours[8] = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00};
    memcpy(out + 54, colours, sizeof colours);
    for (uint64_t y = 0; y < height; ++y)
        memcpy(out + kBmpHeaderSize + (height - 1 - y) * bmpRow, rows + y * rowBytes, rowBytes);
    if (size) *size = static_cast<uint32_t>(total);
    return out;
}

void writeWaveHeader(uint8_t* p, uint32_t dataSize, uint32_t channels, uint32_t rate, uint32_t bits) {
    memcpy(p, "RIFF", 4);
    byteorder::putLe32(p + 4, dataSize + 36);
    memcpy(p + 8, "WAVEfmt ", 8);
    byteorder::putLe32(p + 16, 16);
    byteorder::putLe16(p + 20, 1);
    byteorder::putLe16(p + 22, channels);
    byteorder::putLe32(p + 24, rate);
    byteorder::putLe32(p + 28, rate * channels * (bits / 8));
    byteorder::putLe16(p + 32, channels * bits / 8);
    byteorder::putLe16(p + 34, bits);
    memcpy(p + 36, "data", 4);
    byteorder::putLe32(p + 40, dataSize);
}

// EBCDIC (code page 037) to ASCII for the characters a colour sample name
// uses; every other byte becomes ".".
struct EbcdicTable {
    char map[256];
    EbcdicTable() {
        memset(map, '.', sizeof map);
        const char* rows[][2] = {
            {"\x81\x82\x83\x84\x85\x86\x87\x88\x89", "abcdefghi"},
            {"\x91\x92\x93\x94\x95\x96\x97\x98\x99", "jklmnopqr"},
            {"\xA2\xA3\xA4\xA5\xA6\xA7\xA8\xA9", "stuvwxyz"},
            {"\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9", "ABCDEFGHI"},
            {"\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9", "JKLMNOPQR"},
            {"\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9", "STUVWXYZ"},
            {"\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9", "0123456789"},
            {"\x40\x4B\x4C\x4D\x4E\x50\x5B\x5C\x5D\x5E\x60\x61\x6B\x6C\x6D\x6E\x6F", " .<(+&$*);-/,%_>?"},
            {"\x79\x7A\x7B\x7C\x7D\x7E\x7F\xA1\xC0\xD0\xE0", "`:#@'=\"~{}\\"},
        };
        for (const auto& row : rows)
            for (size_t i = 0; row[0][i]; ++i) map[static_cast<unsigned char>(row[0][i])] = row[1][i];
    }
};

}  // namespace

void CMediaReader::splitPosition(uint64_t position, uint32_t* block, uint32_t* offset) {
    uint64_t b = (position >> 32) + (position & 0xFFFF) / kBlockSize;
    *block = b > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(b);
    *offset = static_cast<uint32_t>((position & 0xFFFF) % kBlockSize);
}

uint64_t CMediaReader::bytesFrom(uint32_t block, uint32_t offset) const {
    if (block == 0) return 0;
    const READER_INDEX_INFO* area = m_reader.findIndexAt(block, offset);
    // Outside every area: a data or raw file up to its last block (and a
    // partial block after it); a book text file as far as its reads go.
    const int kind = m_reader.kind();
    if (!area && kind != BOOK_KIND_DATA_FILE && kind != BOOK_KIND_RAW) return kMaxMediaBytes;
    const uint64_t end =
        area ? static_cast<uint64_t>(area->start) + area->count : static_cast<uint64_t>(m_reader.lastBlock()) + 2;
    if (block >= end) return 0;
    uint64_t room = (end - block) * kBlockSize - offset;
    return room < kMaxMediaBytes ? room : kMaxMediaBytes;
}

bool CMediaReader::seek(uint32_t block, uint32_t offset) {
    if (!m_reader.seekBlock(block)) return false;
    return offset == 0 || m_reader.setOffset(static_cast<int>(offset));
}

bool CMediaReader::copy(uint8_t* out, size_t count) {
    while (count > 0) {
        size_t available = 0;
        const uint8_t* p = m_reader.peek(&available);
        if (available == 0) {
            if (!m_reader.nextBlock()) return false;
            continue;
        }
        size_t n = available < count ? available : count;
        memcpy(out, p, n);
        m_reader.skip(n);
        out += n;
        count -= n;
    }
    return true;
}

bool CMediaReader::append(std::vector<uint8_t>* out, uint64_t count) {
    // Grown as the bytes arrive, so that a size read from the book costs no
    // memory beyond the bytes really there.
    constexpr uint64_t kStep = 1 << 16;
    while (count > 0) {
        const size_t n = static_cast<size_t>(count < kStep ? count : kStep);
        const size_t at = out->size();
        out->resize(at + n);
        if (!copy(out->data() + at, n)) return false;
        count -= n;
    }
    return true;
}

int CMediaReader::readRaw(uint8_t* buffer, uint32_t count, uint64_t position) {
    uint32_t block, offset;
    splitPosition(position, &block, &offset);
    if (!buffer || !seek(block, offset)) return 0;
    return copy(buffer, count) ? 1 : 0;
}

uint8_t* CMediaReader::readColorGraphic(uint64_t position, uint32_t* size) {
    if (size) *size = 0;
    uint32_t block, offset;
    splitPosition(position, &block, &offset);
    const uint64_t room = bytesFrom(block, offset);
    const uint64_t limit = room < kMaxColorGraphic ? room : kMaxColorGraphic;
    if (limit == 0 || !seek(block, offset)) return nullptr;
    std::vector<uint8_t> out;
    out.reserve(32768);
    auto take = [&](uint8_t* b) {
        if (out.size() >= limit) return false;
        uint32_t v = m_reader.readByte();
        if (m_reader.readFailed()) return false;
        *b = static_cast<uint8_t>(v);
        out.push_back(*b);
        return true;
    };
    bool inScan = false;
    for (;;) {
        uint8_t b = 0;
        do {
            if (!take(&b)) return nullptr;
        } while (b != 0xFF);
        uint8_t marker = 0;
        if (!take(&marker)) return nullptr;
        // Fill bytes before a marker.
        while (marker == 0xFF)
            if (!take(&marker)) return nullptr;
        if (marker == 0xD9) break;
        // Stuffed bytes, start of image, restart and TEM markers have no length.
        if (marker == 0x00 || marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7) || inScan)
            continue;
        uint8_t hi = 0, lo = 0;
        if (!take(&hi) || !take(&lo)) return nullptr;
        uint32_t length = (static_cast<uint32_t>(hi) << 8) | lo;
        if (length < 2 || out.size() + length - 2 > limit) return nullptr;
        size_t at = out.size();
        out.resize(at + length - 2);
        if (!copy(out.data() + at, length - 2)) return nullptr;
        if (marker == 0xDA) inScan = true;
    }
    // Pictures of a megabyte or more are not handed out.
    if (out.size() >= kMaxColorGraphic) return nullptr;
    return handOut(out, size);
}

uint8_t* CMediaReader::readMediaData(uint64_t position, uint32_t* size) {
    if (size) *size = 0;
    uint32_t block, offset;
    splitPosition(position, &block, &offset);
    uint8_t head[8];
    const uint64_t room = bytesFrom(block, offset);
    if (room < 2 || !seek(block, offset)) return nullptr;
    if (!copy(head, 2)) return nullptr;
    if (head[0] == 0xFF && head[1] == 0xD8) return readColorGraphic(position, size);
    if (!copy(head + 2, 6) || memcmp(head, "data", 4) != 0) return nullptr;
    uint64_t length = byteorder::le32(head + 4);
    if (length > 0xFFFFFF) length = byteorder::be32(head + 4);
    if (length == 0 || room < 8 || length > room - 8) return nullptr;
    std::vector<uint8_t> out;
    if (!append(&out, length)) return nullptr;
    return handOut(out, size);
}

uint8_t* CMediaReader::monoBitmapToBmp(uint64_t position, uint32_t width, uint32_t height, uint32_t* size) {
    if (size) *size = 0;
    if (width == 0 || height == 0 || width > kMaxBitmapSide || height > kMaxBitmapSide) return nullptr;
    uint32_t block, offset;
    splitPosition(position, &block, &offset);
    const uint64_t stored = static_cast<uint64_t>((width + 7) / 8) * height;
    if (stored > bytesFrom(block, offset) || !seek(block, offset)) return nullptr;
    std::vector<uint8_t> rows(stored);
    if (!copy(rows.data(), rows.size())) return nullptr;
    return makeBmp(width, height, rows.data(), size);
}

uint8_t* CMediaReader::bitmapToBmp(uint32_t width, uint32_t height, const uint8_t* bitmap, uint32_t* size) {
    if (size) *size = 0;
    if (!bitmap) return nullptr;
    return makeBmp(width, height, bitmap, size);
}

uint8_t* CMediaReader::readWaveMapFile(uint32_t startBlock, uint64_t capacity, uint32_t* size) {
    const WAVE_MAP_ENTRY* map = m_reader.waveMap();
    for (int i = 0; i < m_reader.waveMapCount(); ++i) {
        const WAVE_MAP_ENTRY& e = map[i];
        if (e.block != startBlock) continue;
        // The name is a file in the book's folder, never a path.
        char name[sizeof e.name + 1];
        memcpy(name, e.name, sizeof e.name);
        name[sizeof e.name] = 0;
        if (!name[0] || strchr(name, '/') || strchr(name, '\\') || !strcmp(name, ".") || !strcmp(name, ".."))
            return nullptr;
        char path[kPathSize + sizeof name + 2];
        snprintf(path, sizeof path, "%s/%s", m_reader.waveMapDir(), name);
        FilePtr f = openFile(path, "rb");
        struct stat st;
        if (!f || fstat(fileno(f.get()), &st) != 0 || st.st_size <= 0) return nullptr;
        uint64_t n = static_cast<uint64_t>(st.st_size) < capacity ? static_cast<uint64_t>(st.st_size) : capacity;
        uint8_t* out = static_cast<uint8_t*>(malloc(n));
        if (!out) return nullptr;
        if (fread(out, 1, n, f.get()) != n) {
            free(out);
            return nullptr;
        }
        if (size) *size = static_cast<uint32_t>(n);
        return out;
    }
    return nullptr;
}

uint8_t* CMediaReader::extractWave(uint64_t start, uint64_t end, int header, int channelsMinusOne, int eightBit,
                                   int rateCode, uint32_t* size) {
    if (size) *size = 0;
    uint32_t startBlock, startOffset, endBlock, endOffset;
    splitPosition(start, &startBlock, &startOffset);
    splitPosition(end, &endBlock, &endOffset);
    const uint64_t first = static_cast<uint64_t>(startBlock) * kBlockSize + startOffset;
    const uint64_t last = static_cast<uint64_t>(endBlock) * kBlockSize + endOffset;
    if (last < first || last - first + 1 > kMaxMediaBytes) return nullptr;
    const uint64_t n = last - first + 1;
    const uint32_t headSize = header ? kWaveHeaderSize : 12;
    if (m_reader.waveMapCount() > 0) {
        uint8_t* mapped = readWaveMapFile(startBlock, n + headSize, size);
        if (mapped) return mapped;
    }
    const uint32_t channels = static_cast<uint32_t>(channelsMinusOne + 1);
    if ((header && (channels < 1 || channels > 2)) || n > bytesFrom(startBlock, startOffset) ||
        !seek(startBlock, startOffset))
        return nullptr;
    std::vector<uint8_t> out(headSize);
    if (header) {
        const uint32_t rate = rateCode == 0 ? 44100 : rateCode == 1 ? 22050 : rateCode == 2 ? 11025 : 0;
        writeWaveHeader(out.data(), static_cast<uint32_t>(n), channels, rate, eightBit ? 8 : 16);
    } else {
        memcpy(out.data(), "RIFF", 4);
        byteorder::putLe32(out.data() + 4, static_cast<uint32_t>(n + 4));
        memcpy(out.data() + 8, "WAVE", 4);
    }
    if (!append(&out, n)) return nullptr;
    return handOut(out, size);
}

uint8_t* CMediaReader::extractXaSound(uint32_t firstSector, uint32_t lastSector, int sampleRate, uint32_t* size) {
    if (size) *size = 0;
    constexpr uint64_t kSectorBytes = 2352, kAudioOffset = 68, kSectorOutput = 8064;
    constexpr int kGroups = 18;
    if (lastSector < firstSector || sampleRate <= 0) return nullptr;
    const uint64_t sectors = (lastSector - firstSector) / 16 + 1;
    const uint64_t n = sectors * kSectorOutput;
    // The last sector's audio must begin inside the file: its block is read
    // before anything is allocated.
    const uint64_t lastByte = static_cast<uint64_t>(firstSector + (sectors - 1) * 16) * kSectorBytes + kAudioOffset;
    if (n > kMaxMediaBytes || lastByte >= bytesFrom(1, 0) || lastByte / kBlockSize + 1 > 0xFFFFFFFFu ||
        !m_reader.seekBlock(static_cast<int64_t>(lastByte / kBlockSize + 1)))
        return nullptr;
    uint8_t* out = static_cast<uint8_t*>(calloc(1, n + kWaveHeaderSize));
    if (!out) return nullptr;
    writeWaveHeader(out, static_cast<uint32_t>(n), 1, static_cast<uint32_t>(sampleRate), 16);
    CXaDecoder decoder;
    uint8_t group[CXaDecoder::kGroupBytes];
    int16_t samples[CXaDecoder::kGroupSamples];
    uint8_t* pcm = out + kWaveHeaderSize;
    for (uint64_t s = 0; s < sectors; ++s) {
        const uint64_t byte = (firstSector + s * 16) * kSectorBytes + kAudioOffset;
        const uint64_t block = byte / kBlockSize + 1;
        if (!seek(static_cast<uint32_t>(block), static_cast<uint32_t>(byte % kBlockSize))) continue;
        uint8_t* sectorOut = pcm + s * kSectorOutput;
        for (int g = 0; g < kGroups; ++g) {
            if (!copy(group, sizeof group)) break;
            decoder.decodeGroup(group, samples);
            for (int i = 0; i < CXaDecoder::kGroupSamples; ++i)
                byteorder::putLe16(sectorOut + (g * CXaDecoder::kGroupSamples + i) * 2,
                                   static_cast<uint16_t>(samples[i]));
        }
    }
    if (size) *size = static_cast<uint32_t>(n + kWaveHeaderSize);
    return out;
}

int CMediaReader::readColorSample(uint32_t n, char* name, char* title, uint32_t titleSize) {
    static const EbcdicTable kEbcdic;
    if (name) memset(name, 0, 20);
    if (title && titleSize > 0) title[0] = 0;
    const READER_INDEX_INFO* area = m_reader.findIndex(0xE0);
    if (!area || n == 0 || n > area->count) return 0;
    uint8_t block[kBlockSize];
    if (!readRaw(block, kBlockSize, packPosition(area->start + n - 1, 0))) return 0;
    // 19 characters and the terminating zero.
    for (int i = 0; name && i < 19 && block[i]; ++i) name[i] = kEbcdic.map[block[i]];
    if (title && titleSize > 0) {
        uint32_t len = titleSize - 1 < kBlockSize - 20 ? titleSize - 1 : kBlockSize - 20;
        jisStringToSjis(reinterpret_cast<unsigned char*>(title), block + 20, static_cast<int>(len & ~1u));
    }
    return 1;
}

int CMediaReader::readGlyph(const FONT_HEADER& font, CGlyphCache* cache, uint32_t code, uint32_t* outWidth,
                            uint32_t* outHeight, uint8_t* buffer, size_t bufferSize) {
    if (outWidth) *outWidth = 0;
    if (outHeight) *outHeight = 0;
    const uint32_t w = font.width == 12 ? 16 : font.width;
    const uint32_t h = font.height;
    // Glyphs are 8 to 48 dots wide and 16 to 48 high, whole bytes a row, and
    // fit a half block and the caller's buffer.
    if (w < 8 || w > 48 || w % 8 != 0 || h < 16 || h > 48 || font.startBlock == 0 || !buffer) return 0;
    const uint32_t bytes = w * h / 8;
    if (bytes > bufferSize) return 0;
    if (code > 0xFFFF || (code & 0xFF) < 0x21 || (code & 0xFF) > 0x7E) return 0;
    if (h == 16 && cache && cache->find(static_cast<uint16_t>(code), static_cast<uint8_t>(w), 16, buffer, bufferSize)) {
        if (outWidth) *outWidth = w;
        if (outHeight) *outHeight = h;
        return 1;
    }
    const uint32_t first = font.startCode;
    if (code < first || code > font.endCode || (first & 0xFF) < 0x21 || (first & 0xFF) > 0x7E) return 0;
    auto ordinal = [](uint32_t c) {
        return static_cast<int64_t>((c & 0xFF) - 0x21) + (static_cast<int64_t>(c >> 8) - 0xA1) * 94;
    };
    const int64_t i = ordinal(code) - ordinal(first);
    if (i < 0) return 0;
    const uint32_t perHalf = 1024 / bytes;
    const int64_t half = i / perHalf;
    const uint64_t block = static_cast<uint64_t>(font.startBlock) + static_cast<uint64_t>(half / 2) + 1;
    const uint32_t offset = static_cast<uint32_t>(i % perHalf) * bytes + ((half & 1) ? 1024 : 0);
    if (block > 0xFFFFFFFFu || !readRaw(buffer, bytes, packPosition(static_cast<uint32_t>(block), offset))) return 0;
    if (h == 16 && cache) cache->add(static_cast<uint16_t>(code), static_cast<uint8_t>(w), 16, buffer, bytes);
    if (outWidth) *outWidth = w;
    if (outHeight) *outHeight = h;
    return 1;
}
