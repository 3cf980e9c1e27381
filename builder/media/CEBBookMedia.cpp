// Figures, sounds and movies of CEBBook: the references the markup readers
// write into the text while the sources are read (beginMediaRef,
// endMediaRef), and build steps 7-11, which copy the movies, write the
// monochrome figure, colour figure and sound areas and patch every
// reference with the position of its medium.
//
// References, as the book's readers read them (all numbers packed BCD):
// - monochrome figure: 1F44, 0 (2 bytes), height (4), width (4), the text,
//   1F64, block (4) and offset (2) of the bitmap: rows top first, (width +
//   7) / 8 bytes a row, a set bit a dark dot;
// - colour figure: 1F4D (1F3C set in the line), kind (2: 0 BMP, 0900
//   JPEG), 0 (2), 0 (2), 0 (2), width (2), height (2), block (4) and offset
//   (2) of the data, the text, 1F6D (1F5C). The data is "data", its size as
//   a little-endian 32-bit number, and the BMP or JPEG file (a JPEG up to
//   its end marker);
// - sound: 1F4A, form (2: 1 the samples alone, 0 with their "fmt " and
//   "data" chunks), format (2: the digits channels - 1, 1 for 8 bits, rate
//   0 44100 Hz, 1 22050, 2 11025, and 0), block (4) and offset (2) of the
//   first byte, of the last byte, the text, 1F6A. Samples stored alone
//   all have the book's format, whose "fmt " chunk and "data" tag stand at
//   byte 32 of the sound area's first block;
// - movie: 1F39, 0 (2), 0 (2), 0 (2), 0 (2), width (2), height (2), 0 (4),
//   0 (4), the file's name in MOVIE (up to eight digits and capitals) as
//   full-width JIS codes filled up with zeros (16 bytes), 0 (8), the text,
//   1F59.

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "builder/CEBBook.h"
#include "foundation/FileHandle.h"
#include "foundation/book/BookConstants.h"
#include "foundation/book/CBookFile.h"
#include "foundation/book/escapecodes.h"
#include "foundation/byteorder.h"
#include "foundation/pathutil.h"

namespace {

// Bytes copied from a media file at a time.
const size_t kCopyChunk = 65536;
// Highest block number a reference's eight BCD digits hold.
const uint64_t kMaxBcdBlock = 99999999;

// Slots of CEBBook::m_mediaPlanned.
enum { PLAN_MONO = 0, PLAN_COLOR = 1, PLAN_SOUND = 2 };

int planSlot(int kind) {
    return kind == MEDIA_MONO ? PLAN_MONO : kind == MEDIA_COLOR ? PLAN_COLOR : PLAN_SOUND;
}

BLOCK_POS posOf(uint64_t value) {
    if (value / kBlockSize > kMaxBcdBlock) throw std::runtime_error("media data past the reach of a reference");
    return BLOCK_POS{static_cast<uint32_t>(value / kBlockSize), static_cast<uint16_t>(value % kBlockSize)};
}

void writePlaceholder(CBlockStream* writer, BLOCK_POS* site) {
    writer->tell(site);
    writer->writeBcd(0, 4);
    writer->writeBcd(0, 2);
}

void patch(const MEDIA_REF& ref, const BLOCK_POS& first, const BLOCK_POS* last) {
    ref.writer->seek(ref.site);
    ref.writer->writeBcd(first.block, 4);
    ref.writer->writeBcd(first.offset, 2);
    if (last != nullptr) {
        ref.writer->writeBcd(last->block, 4);
        ref.writer->writeBcd(last->offset, 2);
    }
}

// The head of a "data" chunk: the tag and the size, little-endian.
void writeDataTag(CBlockStream* stream, uint64_t size) {
    uint8_t head[8] = {'d', 'a', 't', 'a', 0, 0, 0, 0};
    byteorder::putLe32(head + 4, static_cast<uint32_t>(size));
    stream->writeBytes(head, sizeof head);
}

// Flushes every text that references were patched in.
void flushWriters(const std::vector<MEDIA_REF>& refs) {
    std::vector<CBlockStream*> done;
    for (const MEDIA_REF& r : refs) {
        if (std::find(done.begin(), done.end(), r.writer) != done.end()) continue;
        r.writer->flushBlock();
        done.push_back(r.writer);
    }
}

// Bytes a sound takes in its area.
uint64_t soundSize(const MEDIA_INFO& info, bool withHeader) {
    if (!withHeader) return info.dataSize;
    return 8 + static_cast<uint64_t>(info.fmtSize) + (info.fmtSize & 1) + 8 + info.dataSize;
}

// The format digits of a sound reference.
unsigned soundFormat(const MEDIA_INFO& info) {
    const unsigned rate = info.sampleRate == 44100 ? 0 : info.sampleRate == 22050 ? 1 : 2;
    return (info.channels - 1u) * 1000u + (info.bitsPerSample == 8 ? 100u : 0u) + rate * 10u;
}

bool sameSoundFormat(const MEDIA_INFO& a, const MEDIA_INFO& b) {
    return a.channels == b.channels && a.sampleRate == b.sampleRate && a.bitsPerSample == b.bitsPerSample;
}

// Full-width JIS code of a movie name character (a digit or a capital).
unsigned movieNameCode(char c) {
    if (c >= '0' && c <= '9') return 0x2330u + static_cast<unsigned>(c - '0');
    return 0x2341u + static_cast<unsigned>(c - 'A');
}

}  // namespace

// ---- references ----

int CEBBook::beginMediaRef(const char* path, int pathLen, int isInline, CBlockStream* writer) {
    if (!m_opened || path == nullptr || pathLen <= 0 || writer == nullptr) return 0;
    if (!m_openMedia.empty()) return 0;
    std::string name(path, static_cast<size_t>(pathLen));
    name = name.substr(0, name.find('#'));
    const int index = registerMedia(name);
    if (index < 0) return 0;
    const MEDIA_ENTRY& m = m_media[static_cast<size_t>(index)];
    switch (m.kind) {
        case MEDIA_MONO:
            writer->writeCode(EB_BEGIN_MONO_GRAPHIC);
            writer->writeBcd(0, 2);
            writer->writeBcd(m.info.height, 4);
            writer->writeBcd(m.info.width, 4);
            break;
        case MEDIA_COLOR: {
            writer->writeCode(isInline ? EB_BEGIN_INLINE_GRAPHIC : EB_BEGIN_COLOR_GRAPHIC);
            writer->writeBcd(m.info.format == MEDIA_FORMAT_JPEG ? 900 : 0, 2);
            writer->writeBcd(0, 2);
            writer->writeBcd(0, 2);
            writer->writeBcd(0, 2);
            writer->writeBcd(m.info.width, 2);
            writer->writeBcd(m.info.height, 2);
            MEDIA_REF ref{static_cast<uint32_t>(index), writer, BLOCK_POS{0, 0}};
            writePlaceholder(writer, &ref.site);
            m_figureRefs.push_back(ref);
            break;
        }
        case MEDIA_SOUND: {
            writer->writeCode(EB_BEGIN_SOUND);
            writer->writeBcd(m_opt->withHeader ? 0 : 1, 2);
            writer->writeBcd(soundFormat(m.info), 2);
            MEDIA_REF ref{static_cast<uint32_t>(index), writer, BLOCK_POS{0, 0}};
            writePlaceholder(writer, &ref.site);
            BLOCK_POS end;
            writePlaceholder(writer, &end);
            m_soundRefs.push_back(ref);
            break;
        }
        case MEDIA_MOVIE:
            writer->writeCode(EB_BEGIN_MOVIE);
            for (int i = 0; i < 4; ++i) writer->writeBcd(0, 2);
            writer->writeBcd(m.info.width, 2);
            writer->writeBcd(m.info.height, 2);
            writer->writeBcd(0, 4);
            writer->writeBcd(0, 4);
            for (int i = 0; i < 8; ++i) {
                const char c = m.movieName[i];
                writer->writeWord16(c != 0 ? movieNameCode(c) : 0);
            }
            writer->writeBcd(0, 2);
            writer->writeBcd(0, 4);
            writer->writeBcd(0, 2);
            break;
        default:
            return 0;
    }
    m_openMedia.push_back(OpenMedia{static_cast<uint32_t>(index), isInline});
    return 1;
}

void CEBBook::endMediaRef(CBlockStream* writer) {
    if (m_openMedia.empty() || writer == nullptr) return;
    const OpenMedia open = m_openMedia.back();
    m_openMedia.pop_back();
    switch (m_media[open.media].kind) {
        case MEDIA_MONO: {
            writer->writeCode(EB_END_MONO_GRAPHIC);
            MEDIA_REF ref{open.media, writer, BLOCK_POS{0, 0}};
            writePlaceholder(writer, &ref.site);
            m_figureRefs.push_back(ref);
            break;
        }
        case MEDIA_COLOR:
            writer->writeCode(open.isInline ? EB_END_INLINE_GRAPHIC : EB_END_COLOR_GRAPHIC);
            break;
        case MEDIA_SOUND:
            writer->writeCode(EB_END_SOUND);
            break;
        case MEDIA_MOVIE:
            writer->writeCode(EB_END_MOVIE);
            break;
        default:
            break;
    }
}

void CEBBook::refuseMedia(const std::string& path, const char* why) {
    m_mediaByPath[path] = -1;
    std::string line = std::string("Media file skipped (") + why + "): " + path + "\r\n";
    message(line.c_str());
}

int CEBBook::registerMedia(const std::string& path) {
    auto known = m_mediaByPath.find(path);
    if (known != m_mediaByPath.end()) return known->second;
    const int format = mediaFormatOf(path.data(), static_cast<int>(path.size()));
    if (format == MEDIA_FORMAT_NONE || format == MEDIA_FORMAT_FOREIGN) {
        refuseMedia(path, "a form the book cannot carry");
        return -1;
    }
    uint64_t fileSize = 0;
    FilePtr f = openRegularFile(path.c_str(), &fileSize);
    if (!f) {
        // A folder, FIFO or device is there but is no medium.
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            refuseMedia(path, "not a regular file");
            return -1;
        }
        m_mediaByPath[path] = -1;
        message(("Media file not found: " + path + "\r\n").c_str());
        return -1;
    }
    MEDIA_ENTRY e;
    e.path = path;
    e.size = 0;
    e.written = false;
    e.start = e.last = BLOCK_POS{0, 0};
    std::memset(e.movieName, 0, sizeof e.movieName);
    const char* why = "";
    if (checkMediaFile(f.get(), fileSize, format, &e.info, &why) != 0) {
        refuseMedia(path, why);
        return -1;
    }
    const bool epwing = m_opt->ebType == 1;
    switch (format) {
        case MEDIA_FORMAT_BMP:
        case MEDIA_FORMAT_JPEG:
            if (format == MEDIA_FORMAT_BMP && e.info.bitsPerPixel == 1 && (m_opt->optMono || !epwing)) {
                e.kind = MEDIA_MONO;
                e.size = static_cast<uint64_t>((e.info.width + 7) / 8) * e.info.height;
            } else if (!epwing) {
                refuseMedia(path, "an EB book carries monochrome figures only");
                return -1;
            } else {
                e.kind = MEDIA_COLOR;
                if (e.info.dataSize > 0xFFFFFFFFull) {
                    refuseMedia(path, "larger than 4 GiB");
                    return -1;
                }
                e.size = 8 + e.info.dataSize;
            }
            break;
        case MEDIA_FORMAT_WAVE:
            if (!epwing) {
                refuseMedia(path, "an EB book carries no sounds");
                return -1;
            }
            // Samples stored alone all play in the book's one format, that
            // of its first sound; with their chunks each keeps its own.
            if (!isBookSampleRate(e.info.sampleRate)) {
                const std::string why =
                    std::to_string(e.info.sampleRate) + " Hz is not a book sample rate (44100, 22050 or 11025 Hz)";
                refuseMedia(path, why.c_str());
                return -1;
            }
            if (!isBookSoundFormat(e.info)) {
                refuseMedia(path, "a sample format no book carries (PCM, 1 or 2 channels, 8 or 16 bits)");
                return -1;
            }
            if (!m_opt->withHeader && m_bookSound != nullptr && !sameSoundFormat(*m_bookSound, e.info)) {
                refuseMedia(path, "a sample format other than the book's");
                return -1;
            }
            if (e.info.dataSize == 0) {
                refuseMedia(path, "no samples");
                return -1;
            }
            e.kind = MEDIA_SOUND;
            e.size = soundSize(e.info, m_opt->withHeader != 0);
            break;
        default:
            e.kind = MEDIA_MOVIE;
            break;
    }
    if (e.kind != MEDIA_MOVIE) {
        uint64_t& planned = m_mediaPlanned[planSlot(e.kind)];
        // The sound area of samples stored alone begins with the format block.
        if (e.kind == MEDIA_SOUND && !m_opt->withHeader && planned == 0) planned = kBlockSize;
        if (e.size > m_mediaAreaLimit || planned > m_mediaAreaLimit - e.size) {
            refuseMedia(path,
                        e.kind == MEDIA_SOUND ? "the sound area would pass 4 GiB" : "the figure area would pass 4 GiB");
            return -1;
        }
        planned += e.size;
    } else {
        assignMovieName(&e);
    }
    m_media.push_back(e);
    const int index = static_cast<int>(m_media.size() - 1);
    m_mediaByPath[path] = index;
    if (e.kind == MEDIA_SOUND && m_bookSound == nullptr) m_bookSound.reset(new MEDIA_INFO(e.info));
    return index;
}

void CEBBook::assignMovieName(MEDIA_ENTRY* entry) {
    char stem[kPathSize];
    pathStem(entry->path.c_str(), stem, sizeof stem);
    std::string base;
    for (const char* p = stem; *p && base.size() < 8; ++p) {
        char c = *p;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        // Readers find movie files by names of digits and capitals only.
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) base += c;
    }
    if (base.empty()) base = "MOVIE";
    std::string name = base;
    for (unsigned n = 1; m_movieNames.count(name) != 0; ++n) {
        const std::string digits = std::to_string(n);
        name = base.substr(0, 8 - digits.size()) + digits;
    }
    if (name != base) {
        std::string line = "Movie " + entry->path + " is written as " + name + ": " + base + " is taken\r\n";
        message(line.c_str());
    }
    m_movieNames.insert(name);
    std::memcpy(entry->movieName, name.c_str(), name.size() + 1);
}

void CEBBook::forgetMediaRefs(const CBlockStream* writer) {
    for (auto* refs : {&m_figureRefs, &m_soundRefs})
        refs->erase(
            std::remove_if(refs->begin(), refs->end(), [writer](const MEDIA_REF& r) { return r.writer == writer; }),
            refs->end());
}

void CEBBook::clearMedia() {
    m_media.clear();
    m_mediaByPath.clear();
    m_movieNames.clear();
    m_figureRefs.clear();
    m_soundRefs.clear();
    m_openMedia.clear();
    m_bookSound.reset();
    std::fill(m_mediaPlanned, m_mediaPlanned + 3, 0);
    m_figureCount = 0;
    m_soundCount = 0;
}

bool CEBBook::hasMedia(int kind) const {
    return std::any_of(m_media.begin(), m_media.end(), [kind](const MEDIA_ENTRY& m) { return m.kind == kind; });
}

// ---- areas ----

FILE* CEBBook::reopenMedia(const MEDIA_ENTRY& entry) {
    uint64_t fileSize = 0;
    MEDIA_INFO now;
    const char* why = "";
    FilePtr f = openRegularFile(entry.path.c_str(), &fileSize);
    if (f && checkMediaFile(f.get(), fileSize, entry.info.format, &now, &why) == 0 &&
        now.dataOffset == entry.info.dataOffset && now.dataSize == entry.info.dataSize &&
        now.width == entry.info.width && now.height == entry.info.height && now.fmtSize == entry.info.fmtSize &&
        now.bitsPerPixel == entry.info.bitsPerPixel)
        return f.release();
    message(("Media file changed while the book was built: " + entry.path + "\r\n").c_str());
    return nullptr;
}

void CEBBook::copyMediaData(FILE* f, const MEDIA_ENTRY& entry, CBlockStream* stream, uint64_t offset, uint64_t size) {
    std::vector<uint8_t> buffer(kCopyChunk);
    while (size > 0) {
        checkAbort();
        const size_t n = size < kCopyChunk ? static_cast<size_t>(size) : kCopyChunk;
        // The file was checked a moment ago: a short read now is a file cut
        // short under the build, and the area would hold garbage.
        if (!readFileAt(f, offset, buffer.data(), n))
            throw std::runtime_error("can't read media file(" + entry.path + ")");
        stream->writeBytes(buffer.data(), n);
        offset += n;
        size -= n;
    }
}

void CEBBook::writeMovies() {
    const std::string dir = std::string(m_bookPath) + "/MOVIE";
    makeBookFolder(dir);
    for (MEDIA_ENTRY& m : m_media) {
        if (m.kind != MEDIA_MOVIE) continue;
        checkAbort();
        const std::string target = dir + "/" + m.movieName;
        m.written = copyFile(m.path.c_str(), target.c_str()) == 0;
        if (m.written) m_writtenFiles.push_back(target);
        if (!m.written) message(("can't copy movie " + m.path + "\r\n").c_str());
    }
}

void CEBBook::writeMonoFigures(CBlockStream* stream) {
    std::vector<uint8_t> bitmap;
    for (MEDIA_ENTRY& m : m_media) {
        if (m.kind != MEDIA_MONO) continue;
        checkAbort();
        FilePtr f(reopenMedia(m));
        if (!f) continue;
        if (readMonoBitmap(f.get(), m.info, &bitmap) != 0 || bitmap.size() != m.size)
            throw std::runtime_error("can't read media file(" + m.path + ")");
        BLOCK_POS at;
        stream->tell(&at);
        m.start = posOf(positionValue(at));
        stream->writeBytes(bitmap.data(), bitmap.size());
        m.written = true;
        ++m_figureCount;
    }
}

void CEBBook::writeFigureList(CBlockStream* stream) {
    stream->writeCode(EB_BEGIN_TEXT);
    for (const MEDIA_ENTRY& m : m_media) {
        if (m.kind != MEDIA_MONO || !m.written) continue;
        stream->writeCode(EB_BEGIN_MONO_GRAPHIC);
        stream->writeBcd(0, 2);
        stream->writeBcd(m.info.height, 4);
        stream->writeBcd(m.info.width, 4);
        char name[kPathSize];
        pathFileName(m.path.c_str(), name, sizeof name);
        for (char* p = name; *p; ++p)
            if (static_cast<unsigned char>(*p) < 0x20 || static_cast<unsigned char>(*p) > 0x7E) *p = '_';
        stream->writeText(name, static_cast<int>(std::strlen(name)), 0, 0);
        stream->writeCode(EB_END_MONO_GRAPHIC);
        stream->writeBcd(m.start.block, 4);
        stream->writeBcd(m.start.offset, 2);
        stream->writeCode(EB_NEWLINE);
    }
    stream->writeCode(EB_END_TEXT);
}

void CEBBook::writeColorFigures(CBlockStream* stream) {
    for (MEDIA_ENTRY& m : m_media) {
        if (m.kind != MEDIA_COLOR) continue;
        checkAbort();
        FilePtr f(reopenMedia(m));
        if (!f) continue;
        BLOCK_POS at;
        stream->tell(&at);
        m.start = posOf(positionValue(at));
        writeDataTag(stream, m.info.dataSize);
        copyMediaData(f.get(), m, stream, m.info.dataOffset, m.info.dataSize);
        m.written = true;
        ++m_figureCount;
    }
}

void CEBBook::writeSounds(CBlockStream* stream, bool withHeader) {
    for (MEDIA_ENTRY& m : m_media) {
        if (m.kind != MEDIA_SOUND) continue;
        checkAbort();
        FilePtr f(reopenMedia(m));
        if (!f) continue;
        BLOCK_POS at;
        stream->tell(&at);
        const uint64_t first = positionValue(at);
        m.start = posOf(first);
        m.last = posOf(first + m.size - 1);
        if (withHeader) {
            // The "fmt " chunk as the file has it, padded to an even size,
            // then the "data" chunk.
            std::vector<uint8_t> fmt(8 + m.info.fmtSize + (m.info.fmtSize & 1), 0);
            std::memcpy(fmt.data(), "fmt ", 4);
            byteorder::putLe32(fmt.data() + 4, m.info.fmtSize);
            if (!readFileAt(f.get(), m.info.fmtOffset, fmt.data() + 8, m.info.fmtSize))
                throw std::runtime_error("can't read media file(" + m.path + ")");
            stream->writeBytes(fmt.data(), fmt.size());
            writeDataTag(stream, m.info.dataSize);
        }
        copyMediaData(f.get(), m, stream, m.info.dataOffset, m.info.dataSize);
        m.written = true;
        ++m_soundCount;
    }
}

void CEBBook::makeWave(CBlockStream* stream) {
    // The first block of the area: from byte 32 the "fmt " chunk of the
    // book's sample format and the "data" tag, which readers put before
    // the samples of every sound.
    if (m_bookSound != nullptr) {
        uint8_t block[kBlockSize] = {0};
        uint8_t* p = block + 32;
        std::memcpy(p, "fmt ", 4);
        byteorder::putLe32(p + 4, 16);
        const MEDIA_INFO& f = *m_bookSound;
        const unsigned align = f.channels * (f.bitsPerSample / 8u);
        p[8] = 1;  // PCM
        p[10] = static_cast<uint8_t>(f.channels);
        byteorder::putLe32(p + 12, f.sampleRate);
        byteorder::putLe32(p + 16, f.sampleRate * align);
        p[20] = static_cast<uint8_t>(align);
        p[22] = static_cast<uint8_t>(f.bitsPerSample);
        std::memcpy(p + 24, "data", 4);
        stream->writeBytes(block, sizeof block);
    }
    writeSounds(stream, false);
}

void CEBBook::makeWave2(CBlockStream* stream) {
    writeSounds(stream, true);
}

void CEBBook::patchFigureRefs() {
    for (const MEDIA_REF& r : m_figureRefs) {
        const MEDIA_ENTRY& m = m_media[r.media];
        if (m.written) patch(r, m.start, nullptr);
    }
    flushWriters(m_figureRefs);
}

void CEBBook::patchSoundRefs() {
    for (const MEDIA_REF& r : m_soundRefs) {
        const MEDIA_ENTRY& m = m_media[r.media];
        if (m.written) patch(r, m.start, &m.last);
    }
    flushWriters(m_soundRefs);
}

CBlockStream* CEBBook::openMediaArea(int id, const char* fileName) {
    const bool separate = m_spec->separateMMData;
    if (separate) {
        const int opened = id == 0xD2 ? m_bookFile->openGraphicsFile(m_bookPath, fileName, "w")
                                      : m_bookFile->openSoundFile(m_bookPath, fileName, "w");
        if (opened != 0) throw std::runtime_error(std::string("can't create output file(") + fileName + ")");
    }
    CBlockStream* s = new CBlockStream(separate ? 1 : m_nextBlock, 1);
    addArea(id, s, false);
    return s;
}

void CEBBook::closeMediaArea(CBlockStream* stream) {
    // An area in a file of its own takes no blocks of the text file.
    if (m_spec->separateMMData)
        stream->flushBlock();
    else
        endArea(stream);
}

void CEBBook::writeMediaAreas() {
    const bool epwing = m_opt->ebType == 1;
    char line[64];

    const int movies = static_cast<int>(
        std::count_if(m_media.begin(), m_media.end(), [](const MEDIA_ENTRY& m) { return m.kind == MEDIA_MOVIE; }));
    if (movies > 0) {
        std::snprintf(line, sizeof line, "Movies...(%d)\r\n", movies);
        message(line);
        writeMovies();
    }

    m_figureCount = 0;
    if (hasMedia(MEDIA_MONO)) {
        message("Monochrome Figure...");
        CBlockStream* s = new CBlockStream(m_nextBlock, 1);
        addArea(epwing ? 0xD0 : 0xD1, s, false);
        writeMonoFigures(s);
        endArea(s);
        if (!epwing) {
            CBlockStream* list = new CBlockStream(m_nextBlock, 1);
            addArea(0x0F, list, false);
            writeFigureList(list);
            endArea(list);
        }
        message(" done\r\n");
    }

    if (epwing && hasMedia(MEDIA_COLOR)) {
        message("Color Figure...");
        CBlockStream* s = openMediaArea(0xD2, "HONMONG");
        writeColorFigures(s);
        closeMediaArea(s);
        message("done\r\n");
    }

    std::snprintf(line, sizeof line, "# of Figures=(%d)\r\n", m_figureCount);
    message(line);
    patchFigureRefs();
    m_body->flushBlock();

    if (!epwing) return;
    m_soundCount = 0;
    if (hasMedia(MEDIA_SOUND)) {
        message("PCM Sound...");
        CBlockStream* s = openMediaArea(0xD8, "HONMONS");
        if (m_opt->withHeader)
            makeWave2(s);
        else
            makeWave(s);
        closeMediaArea(s);
        message("done\r\n");
    }
    std::snprintf(line, sizeof line, "# of Sounds=(%d)\r\n", m_soundCount);
    message(line);
    patchSoundRefs();
    m_body->flushBlock();
}
