// Media file forms and the checks of their headers.
#include "builder/media/mediaformats.h"

#include <strings.h>
#include <sys/types.h>

#include <cstring>
#include <string>

#include "foundation/byteorder.h"

namespace {

using byteorder::be16;
using byteorder::le16;
using byteorder::le32;

// Bytes of the file read at a time by the JPEG scan.
const size_t kScanChunk = 65536;
// Bytes of an MPEG file searched for its sequence header.
const size_t kMpegHeadBytes = 65536;

int fail(const char** why, const char* reason) {
    if (why) *why = reason;
    return -1;
}

int checkBmp(FILE* f, uint64_t fileSize, MEDIA_INFO* info, const char** why) {
    uint8_t h[54];
    if (fileSize < 26 || !readFileAt(f, 0, h, 18)) return fail(why, "truncated");
    if (h[0] != 'B' || h[1] != 'M') return fail(why, "not a BMP file");
    const uint32_t declared = le32(h + 2);
    const uint64_t pixels = le32(h + 10);
    const uint32_t headerSize = le32(h + 14);
    if (declared > fileSize) return fail(why, "truncated");
    bool core = headerSize == 12;
    if (!core && (headerSize < 40 || headerSize > 124)) return fail(why, "unknown BMP header");
    if (14 + static_cast<uint64_t>(headerSize) > fileSize || !readFileAt(f, 0, h, core ? 26 : 54))
        return fail(why, "truncated");
    int64_t width, height;
    unsigned planes, bpp;
    uint32_t compression = 0, imageSize = 0;
    if (core) {
        width = le16(h + 18);
        height = le16(h + 20);
        planes = le16(h + 22);
        bpp = le16(h + 24);
    } else {
        width = static_cast<int32_t>(le32(h + 18));
        height = static_cast<int32_t>(le32(h + 22));
        planes = le16(h + 26);
        bpp = le16(h + 28);
        compression = le32(h + 30);
        imageSize = le32(h + 34);
    }
    info->topDown = height < 0;
    if (height < 0) height = -height;
    if (planes != 1 || width <= 0 || height <= 0) return fail(why, "bad BMP header");
    if (width > kMaxFigureSide || height > kMaxFigureSide) return fail(why, "figure larger than 9999 dots");
    const bool rle = (compression == 1 && bpp == 8) || (compression == 2 && bpp == 4);
    const bool fields = compression == 3 && (bpp == 16 || bpp == 32);
    if (!(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32))
        return fail(why, "unsupported BMP pixel form");
    if (!(compression == 0 || rle || fields)) return fail(why, "unsupported BMP compression");
    if (rle && info->topDown) return fail(why, "bad BMP header");
    const uint64_t paletteAt = 14 + static_cast<uint64_t>(headerSize);
    if (pixels < paletteAt || pixels > fileSize) return fail(why, "bad BMP pixel offset");
    const uint64_t rowBytes = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
    const uint64_t pixelBytes = rle ? imageSize : rowBytes * static_cast<uint64_t>(height);
    if (rle && imageSize == 0) return fail(why, "bad BMP header");
    if (pixelBytes > fileSize - pixels) return fail(why, "truncated");
    info->width = static_cast<uint32_t>(width);
    info->height = static_cast<uint32_t>(height);
    info->bitsPerPixel = static_cast<int>(bpp);
    info->rowBytes = static_cast<uint32_t>(rowBytes);
    info->pixelOffset = pixels;
    if (bpp == 1) {
        const int entry = core ? 3 : 4;
        uint8_t pal[8];
        if (paletteAt + 2u * entry > pixels || !readFileAt(f, paletteAt, pal, 2u * entry))
            return fail(why, "bad BMP palette");
        for (int i = 0; i < 2; ++i) {
            const uint8_t* c = pal + i * entry;
            info->palette[i] = (static_cast<uint32_t>(c[2]) << 16) | (static_cast<uint32_t>(c[1]) << 8) | c[0];
        }
    }
    info->dataOffset = 0;
    info->dataSize = fileSize;
    return 0;
}

// A forward reader of a file in chunks, for the JPEG scan.
class ChunkReader {
public:
    ChunkReader(FILE* f, uint64_t size) : f_(f), size_(size), buffer_(kScanChunk) {}
    // The next byte, or -1 at the end of the file.
    int next() {
        if (at_ == have_) {
            if (pos_ >= size_) return -1;
            uint64_t left = size_ - pos_;
            size_t n = left < kScanChunk ? static_cast<size_t>(left) : kScanChunk;
            if (!readFileAt(f_, pos_, buffer_.data(), n)) return -1;
            base_ = pos_;
            pos_ += n;
            have_ = n;
            at_ = 0;
        }
        return buffer_[at_++];
    }
    // Offset of the next byte.
    uint64_t tell() const { return base_ + at_; }
    // Moves to offset (at most the file size).
    void seek(uint64_t offset) {
        pos_ = offset;
        base_ = offset;
        have_ = at_ = 0;
    }

private:
    FILE* f_;
    uint64_t size_;
    std::vector<uint8_t> buffer_;
    uint64_t pos_ = 0;
    uint64_t base_ = 0;
    size_t have_ = 0;
    size_t at_ = 0;
};

bool isFrameMarker(int m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

int checkJpeg(FILE* f, uint64_t fileSize, MEDIA_INFO* info, const char** why) {
    uint8_t soi[2];
    if (fileSize < 4 || !readFileAt(f, 0, soi, 2)) return fail(why, "truncated");
    if (soi[0] != 0xFF || soi[1] != 0xD8) return fail(why, "not a JPEG file");
    ChunkReader in(f, fileSize);
    in.seek(2);
    bool frame = false;
    int marker = -1;  // a marker already read by the scan of entropy-coded data
    for (;;) {
        int m = marker;
        marker = -1;
        if (m < 0) {
            int b = in.next();
            if (b < 0) return fail(why, "truncated");
            if (b != 0xFF) return fail(why, "bad JPEG segment");
            do m = in.next();
            while (m == 0xFF);
            if (m < 0) return fail(why, "truncated");
        }
        if (m == 0xD9) break;
        if ((m >= 0xD0 && m <= 0xD7) || m == 0x01) continue;
        if (m == 0x00 || m == 0xD8) return fail(why, "bad JPEG segment");
        int hi = in.next(), lo = in.next();
        if (hi < 0 || lo < 0) return fail(why, "truncated");
        const uint64_t length = (static_cast<unsigned>(hi) << 8) | static_cast<unsigned>(lo);
        if (length < 2) return fail(why, "bad JPEG segment");
        const uint64_t start = in.tell();
        if (length - 2 > fileSize - start) return fail(why, "truncated");
        if (isFrameMarker(m)) {
            uint8_t sof[5];
            if (length < 8 || !readFileAt(f, start, sof, 5)) return fail(why, "bad JPEG frame header");
            info->height = be16(sof + 1);
            info->width = be16(sof + 3);
            frame = true;
        }
        in.seek(start + length - 2);
        if (m != 0xDA) continue;
        if (!frame) return fail(why, "bad JPEG frame header");
        // Entropy-coded data up to the next marker; 0xFF 0x00 is a stuffed
        // byte and restart markers belong to the scan.
        for (;;) {
            int b = in.next();
            if (b < 0) return fail(why, "truncated");
            if (b != 0xFF) continue;
            int c;
            do c = in.next();
            while (c == 0xFF);
            if (c < 0) return fail(why, "truncated");
            if (c == 0x00 || (c >= 0xD0 && c <= 0xD7)) continue;
            marker = c;
            break;
        }
    }
    if (!frame || info->width == 0 || info->height == 0) return fail(why, "bad JPEG frame header");
    if (info->width > kMaxFigureSide || info->height > kMaxFigureSide) return fail(why, "figure larger than 9999 dots");
    info->dataOffset = 0;
    info->dataSize = in.tell();
    return 0;
}

int checkWave(FILE* f, uint64_t fileSize, MEDIA_INFO* info, const char** why) {
    uint8_t h[12];
    if (fileSize < 12 || !readFileAt(f, 0, h, 12)) return fail(why, "truncated");
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) return fail(why, "not a WAVE file");
    const uint64_t end = 8 + static_cast<uint64_t>(le32(h + 4));
    if (end > fileSize) return fail(why, "truncated");
    bool haveFmt = false, haveData = false;
    for (uint64_t pos = 12; pos + 8 <= end;) {
        uint8_t c[8];
        if (!readFileAt(f, pos, c, 8)) return fail(why, "truncated");
        const uint64_t size = le32(c + 4);
        if (size > end - pos - 8) return fail(why, "truncated");
        if (std::memcmp(c, "fmt ", 4) == 0 && !haveFmt) {
            uint8_t fmt[16];
            if (size < 16 || !readFileAt(f, pos + 8, fmt, 16)) return fail(why, "bad WAVE format chunk");
            info->formatTag = le16(fmt);
            info->channels = le16(fmt + 2);
            info->sampleRate = le32(fmt + 4);
            const uint32_t byteRate = le32(fmt + 8);
            const unsigned align = le16(fmt + 12);
            info->bitsPerSample = le16(fmt + 14);
            info->fmtOffset = pos + 8;
            info->fmtSize = static_cast<uint32_t>(size);
            if (info->channels == 0 || align == 0 || info->bitsPerSample == 0 || info->sampleRate == 0)
                return fail(why, "bad WAVE format chunk");
            if (info->formatTag == 1 && (align != info->channels * ((info->bitsPerSample + 7u) / 8u) ||
                                         byteRate != static_cast<uint64_t>(info->sampleRate) * align))
                return fail(why, "bad WAVE format chunk");
            haveFmt = true;
        } else if (std::memcmp(c, "data", 4) == 0 && !haveData) {
            info->dataOffset = pos + 8;
            info->dataSize = size;
            haveData = true;
        }
        pos += 8 + size + (size & 1);
    }
    if (!haveFmt) return fail(why, "no WAVE format chunk");
    if (!haveData) return fail(why, "no WAVE data chunk");
    const unsigned frame = info->channels * ((info->bitsPerSample + 7u) / 8u);
    if (info->formatTag == 1 && info->dataSize % frame != 0) return fail(why, "truncated");
    return 0;
}

int checkMpeg(FILE* f, uint64_t fileSize, MEDIA_INFO* info, const char** why) {
    const size_t n = fileSize < kMpegHeadBytes ? static_cast<size_t>(fileSize) : kMpegHeadBytes;
    if (n < 12) return fail(why, "truncated");
    std::vector<uint8_t> head(n);
    if (!readFileAt(f, 0, head.data(), n)) return fail(why, "truncated");
    if (head[0] != 0 || head[1] != 0 || head[2] != 1 || (head[3] != 0xBA && head[3] != 0xB3))
        return fail(why, "not an MPEG file");
    for (size_t i = 0; i + 7 <= n; ++i) {
        if (head[i] == 0 && head[i + 1] == 0 && head[i + 2] == 1 && head[i + 3] == 0xB3) {
            info->width = (static_cast<uint32_t>(head[i + 4]) << 4) | (head[i + 5] >> 4);
            info->height = (static_cast<uint32_t>(head[i + 5] & 0x0F) << 8) | head[i + 6];
            break;
        }
    }
    if (info->width > kMaxFigureSide || info->height > kMaxFigureSide) info->width = info->height = 0;
    info->dataOffset = 0;
    info->dataSize = fileSize;
    return 0;
}

}  // namespace

bool readFileAt(FILE* f, uint64_t offset, void* buffer, size_t n) {
    if (f == nullptr || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(buffer, 1, n, f) == n;
}

int mediaFormatOf(const char* path, int length) {
    if (path == nullptr || length <= 0) return MEDIA_FORMAT_NONE;
    std::string name(path, static_cast<size_t>(length));
    name = name.substr(0, name.find('#'));
    const size_t dot = name.rfind('.');
    const size_t slash = name.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return MEDIA_FORMAT_NONE;
    const char* ext = name.c_str() + dot + 1;
    static const struct {
        const char* ext;
        int format;
    } kForms[] = {
        {"bmp", MEDIA_FORMAT_BMP},     {"dib", MEDIA_FORMAT_BMP},     {"jpg", MEDIA_FORMAT_JPEG},
        {"jpeg", MEDIA_FORMAT_JPEG},   {"wav", MEDIA_FORMAT_WAVE},    {"mpg", MEDIA_FORMAT_MPEG},
        {"mpeg", MEDIA_FORMAT_MPEG},   {"png", MEDIA_FORMAT_FOREIGN}, {"gif", MEDIA_FORMAT_FOREIGN},
        {"mid", MEDIA_FORMAT_FOREIGN}, {"avi", MEDIA_FORMAT_FOREIGN},
    };
    for (const auto& form : kForms)
        if (strcasecmp(ext, form.ext) == 0) return form.format;
    return MEDIA_FORMAT_NONE;
}

int checkMediaFile(FILE* f, uint64_t fileSize, int format, MEDIA_INFO* info, const char** why) {
    std::memset(info, 0, sizeof *info);
    info->format = format;
    info->fileSize = fileSize;
    if (why) *why = "";
    if (f == nullptr) return fail(why, "cannot be read");
    switch (format) {
        case MEDIA_FORMAT_BMP:
            return checkBmp(f, fileSize, info, why);
        case MEDIA_FORMAT_JPEG:
            return checkJpeg(f, fileSize, info, why);
        case MEDIA_FORMAT_WAVE:
            return checkWave(f, fileSize, info, why);
        case MEDIA_FORMAT_MPEG:
            return checkMpeg(f, fileSize, info, why);
        default:
            return fail(why, "a form the book cannot carry");
    }
}

int readMonoBitmap(FILE* f, const MEDIA_INFO& info, std::vector<uint8_t>* bitmap) {
    if (info.format != MEDIA_FORMAT_BMP || info.bitsPerPixel != 1 || info.width == 0 || info.height == 0) return -1;
    const size_t outRow = (info.width + 7) / 8;
    bitmap->assign(outRow * info.height, 0);
    // Palette colour darker than middle grey (luma of 8-bit RGB, x1000).
    bool dark[2];
    for (int i = 0; i < 2; ++i) {
        const uint32_t c = info.palette[i];
        const uint32_t luma = ((c >> 16) & 0xFF) * 299 + ((c >> 8) & 0xFF) * 587 + (c & 0xFF) * 114;
        dark[i] = luma < 128000;
    }
    std::vector<uint8_t> row(info.rowBytes);
    for (uint32_t y = 0; y < info.height; ++y) {
        const uint32_t stored = info.topDown ? y : info.height - 1 - y;
        if (!readFileAt(f, info.pixelOffset + static_cast<uint64_t>(stored) * info.rowBytes, row.data(), row.size()))
            return -1;
        uint8_t* out = bitmap->data() + static_cast<size_t>(y) * outRow;
        for (size_t i = 0; i < outRow; ++i) {
            uint8_t b = dark[1] ? row[i] : 0;
            if (dark[0]) b |= static_cast<uint8_t>(~row[i]);
            out[i] = b;
        }
        // Bits past the width are blank.
        if (info.width % 8) out[outRow - 1] &= static_cast<uint8_t>(0xFF << (8 - info.width % 8));
    }
    return 0;
}

bool isBookSampleRate(uint32_t rate) {
    return rate == 44100 || rate == 22050 || rate == 11025;
}

bool isBookSoundFormat(const MEDIA_INFO& info) {
    return info.formatTag == 1 && (info.channels == 1 || info.channels == 2) &&
           (info.bitsPerSample == 8 || info.bitsPerSample == 16) && isBookSampleRate(info.sampleRate);
}
