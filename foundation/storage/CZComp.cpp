#include "foundation/storage/CZComp.h"

#include "foundation/book/BookConstants.h"
#include "foundation/book/CEBCatalog.h"
#include "foundation/byteorder.h"
#include "foundation/pathutil.h"
#include "foundation/storage/CEbxaDecoder.h"
#include "foundation/storage/COrderedPipeline.h"
#include "foundation/storage/CZOutputFile.h"
#include "foundation/storage/CZio.h"
#include "foundation/storage/ebzipformat.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

const size_t kPathLimit = CZOutputFile::kPathLimit;
// No book file comes near this; anything larger is a damaged size field.
const uint64_t kMaxInputSize = uint64_t(1) << 40;
// Bytes of input slices held in memory at once while compressing.
const size_t kBatchBytes = size_t(8) << 20;
// Bytes of output one worker decodes at a time in a parallel expansion.
const size_t kExpandChunkBytes = size_t(1) << 20;
const unsigned kMaxExpandWorkers = 16;
// Blocks decoded at a time, and chunks in flight, when one reader expands in order.
const size_t kInOrderChunkBlocks = 256;
const size_t kInOrderChunks = 3;

// "ファイルの情報を取得できませんでした" in Shift_JIS.
const char kStatFailedText[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x8f\xee\x95\xf1\x82\xf0"
    "\x8e\xe6\x93\xbe\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5"
    "\x82\xb5\x82\xbd";

using byteorder::be16;
using byteorder::be32;
using byteorder::putBeN;

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Same file or folder on disk (both must exist).
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.empty() ? "." : a.c_str(), &sa) != 0) return false;
    if (stat(b.empty() ? "." : b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Two folder paths name one folder (compared as written, case ignored, or on disk).
bool sameFolder(const std::string& a, const std::string& b) {
    return equalsNoCase(a, b) || sameFile(a, b);
}

// No book reader reads these as book files: what is too short for the
// block reader, and the viewer gaiji map and property list that the book
// builder writes beside a book. A short file with the EBZip magic or an
// ".ebz" name is a compressed book file all the same (a damaged one).
bool isBookFile(const std::string& path, int64_t size) {
    const std::string name = pathFileName(path);
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    if (equalsNoCase(ext, ".map") || equalsNoCase(ext, ".plist")) return false;
    if (size >= ZIO_MIN_FILE_SIZE) return true;
    return ebzip::hasEbzName(path) || ebzip::hasMagic(path.c_str());
}

bool writeAll(FILE* f, const void* data, size_t len) {
    return len == 0 || fwrite(data, 1, len, f) == len;
}

unsigned threadsFor(unsigned requested) {
    return requested ? requested : std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

CZComp::CZComp()
    : m_progress(nullptr),
      m_progressContext(nullptr),
      m_headerByte6(0),
      m_threads(0),
      m_overwrite(false),
      m_keepStore(nullptr) {
    memset(&m_result, 0, sizeof m_result);
    memset(m_keepIds, 0, sizeof m_keepIds);
}

CZComp::~CZComp() {
    clearKeepRanges();
}

void CZComp::setProgressCallback(ZCOMP_PROGRESS callback, void* context) {
    m_progress = callback;
    m_progressContext = context;
}

int CZComp::fail(int code) {
    m_result.errorCode = code;
    return -1;
}

// ---- kept ranges ----

void CZComp::clearKeepRanges() {
    delete[] m_keepStore;
    m_keepStore = nullptr;
    m_result.keepRanges = nullptr;
    m_result.keepCount = 0;
}

void CZComp::addKeepRange(uint64_t first, uint64_t last) {
    if (first == 0 || first > last || !m_result.keepRanges) return;
    for (int i = 0; i < m_result.keepCount; ++i)
        if (m_result.keepRanges[i].first == first && m_result.keepRanges[i].last == last) return;
    if (m_result.keepCount >= ZCOMP_MAX_KEEP_RANGES) return;
    m_result.keepRanges[m_result.keepCount].first = first;
    m_result.keepRanges[m_result.keepCount].last = last;
    ++m_result.keepCount;
}

bool CZComp::inKeepRange(uint64_t first, uint64_t count) const {
    if (count == 0 || !m_result.keepRanges) return false;
    uint64_t last = first + count - 1;
    for (int i = 0; i < m_result.keepCount; ++i) {
        uint64_t a = m_result.keepRanges[i].first, b = m_result.keepRanges[i].last;
        if ((a >= first && a <= last) || (b >= first && b <= last) || (a <= first && last <= b)) return true;
    }
    return false;
}

int CZComp::collectKeepRanges(CZio* reader, const unsigned char* block1, unsigned flags) {
    int n = 0;
    memset(m_keepIds, 0, sizeof m_keepIds);
    auto addId = [&](unsigned char id) {
        if (n < ZCOMP_MAX_KEEP_IDS) m_keepIds[n++] = id;
    };
    if (flags & 0x02) {
        addId(0x90);
        addId(0x91);
        addId(0x92);
    }
    if (flags & 0x04) {
        addId(0x70);
        addId(0x71);
        addId(0x72);
    }
    if (flags & 0x08) addId(0x80);
    if (flags & 0x10) addId(0x81);

    clearKeepRanges();
    m_keepStore = new ZCOMP_KEEP_RANGE[ZCOMP_MAX_KEEP_RANGES];
    memset(m_keepStore, 0, sizeof(ZCOMP_KEEP_RANGE) * ZCOMP_MAX_KEEP_RANGES);
    m_result.keepRanges = m_keepStore;
    m_result.keepCount = 0;

    if (flags & 0x01) addKeepRange(1, 1);
    if (!block1) return 0;

    unsigned char area[kBlockSize];
    // An area's extent: start to start + the u16 at bytes 2-3 of its first block.
    auto keepArea = [&](uint32_t start) {
        if (!reader || start == 0 || m_result.keepCount >= ZCOMP_MAX_KEEP_RANGES) return;
        if (reader->seekBlock(start) != 0 || reader->readBlock(area) <= 0) return;
        addKeepRange(start, uint64_t(start) + be16(area + 2));
    };

    // Index table: count at bytes 0-1, 16-byte records from byte 16; at most
    // 127 records fit the block.
    unsigned count = std::min<unsigned>(be16(block1), (kBlockSize - 16) / 16);
    for (unsigned r = 0; r < count; ++r) {
        const unsigned char* rec = block1 + 16 + r * 16;
        unsigned id = rec[0];
        uint32_t start = be32(rec + 2);
        if (id != 0 && id != 0xFF && memchr(m_keepIds, static_cast<int>(id), n) != nullptr) {
            keepArea(start);
        } else if (id == 0xFF && (flags & 0x20) && reader && start != 0) {
            // The multi-search table: its own block, then the sub-indexes
            // 0x71, 0x91 and 0xA1 of its entries.
            addKeepRange(start, start);
            unsigned char table[kBlockSize];
            if (reader->seekBlock(start) != 0 || reader->readBlock(table) <= 0) continue;
            unsigned entries = be16(table);
            size_t pos = 16;
            for (unsigned e = 0; e < entries && pos + 32 <= kBlockSize; ++e) {
                unsigned subs = table[pos];
                pos += 32;
                for (unsigned s = 0; s < subs && pos + 16 <= kBlockSize; ++s, pos += 16) {
                    unsigned sid = table[pos];
                    if (sid == 0x71 || sid == 0x91 || sid == 0xA1) keepArea(be32(table + pos + 2));
                }
            }
        }
    }
    return 0;
}

// ---- output ----

// What compress or expand does with one input, decided before anything is
// written.
struct CZComp::Decision {
    enum Action { kTransform, kCopy, kKeep };
    Action action = kTransform;
    struct stat st {};
    std::unique_ptr<CZio> reader;  // open at block 1 (none for kKeep)
    int mode = ZIO_PLAIN;
    int64_t size = 0;    // CZio::fileSize
    std::string output;  // the output path (its folders not made yet)
};

// 0, or the code to fail with.
int CZComp::decide(const std::string& in, const char* outputDir, unsigned hint, bool keepTree, bool expanding,
                   Decision* d) {
    // Only regular files are book files (opening a FIFO would wait for a writer).
    if (stat(in.c_str(), &d->st) != 0 || !S_ISREG(d->st.st_mode)) return ZCOMP_ERR_NO_INPUT;
    if (access(in.c_str(), R_OK) != 0) return ZCOMP_ERR_UNREADABLE;
    if (!isBookFile(in, d->st.st_size)) {
        d->action = Decision::kKeep;
        return CZOutputFile::buildName(in, outputDir, keepTree, m_treeRoot, false, nullptr, &d->output);
    }
    d->reader.reset(new (std::nothrow) CZio);
    if (!d->reader) return ZCOMP_ERR_SYSTEM;
    if (d->reader->open(in.c_str(), hint) != 0) {
        // A compressed file too short to be read.
        if (!expanding && d->st.st_size < ZIO_MIN_FILE_SIZE) return ZCOMP_ERR_ALREADY;
        return openFailure(in.c_str(), *d->reader, hint);
    }
    d->size = d->reader->fileSize();
    d->reader->seekBlock(1);
    d->mode = d->reader->state()->mode;
    bool copy;
    if (expanding) {
        // What no reader can read is not copied out as if it were a book file.
        if (d->mode == ZIO_EBZIP && d->reader->state()->sliceSize <= 0) return ZCOMP_ERR_HEADER;
        if (d->mode == ZIO_PLAIN && ebzip::hasEbzName(in)) return ZCOMP_ERR_NOT_COMPRESSED;
        copy = d->mode == ZIO_PLAIN || (d->size <= 0 && d->mode != ZIO_EBZIP);
    } else {
        if (d->mode == ZIO_EBZIP || d->size <= 0) return ZCOMP_ERR_ALREADY;
        if (uint64_t(d->size) > kMaxInputSize) return ZCOMP_ERR_SYSTEM;
        copy = (d->mode == ZIO_PLAIN && d->size < kBlockSize + 1) || CZOutputFile::inMovieFolder(in);
    }
    d->action = copy ? Decision::kCopy : Decision::kTransform;
    const char* suffix = copy ? nullptr : expanding ? ".org" : ".ebz";
    return CZOutputFile::buildName(in, outputDir, keepTree, m_treeRoot, d->mode == ZIO_SSED, suffix, &d->output);
}

int CZComp::plannedOutput(const char* input, const char* outputDir, unsigned epwingVersion, unsigned keepTree,
                          bool expanding, std::string* output) {
    output->clear();
    if (!input || !*input || strlen(input) > kPathLimit) return ZCOMP_ERR_ARGUMENT;
    if (outputDir && strlen(outputDir) > kPathLimit) return ZCOMP_ERR_ARGUMENT;
    const std::string in = input;
    Decision d;
    if (int rc = decide(in, outputDir, epwingVersion, keepTree != 0, expanding, &d)) return rc;
    // A copy into the input's own folder, and an output that is the input,
    // leave the input alone.
    if (d.output == in || sameFile(in, d.output)) return 0;
    if (d.action != Decision::kTransform && sameFolder(pathDirName(in), pathDirName(d.output))) return 0;
    *output = d.output;
    return 0;
}

// Names the output in the result block and, with keepTree, makes its folders.
int CZComp::startOutput(const std::string& output, bool keepTree) {
    snprintf(m_result.outputPath, sizeof m_result.outputPath, "%s", output.c_str());
    return keepTree ? CZOutputFile::makeFolders(output) : 0;
}

// Decides what compress or expand does with input and does all that is not
// a transformation (a failure, a file kept as it is, a copy): true then,
// with the call's result in *rc. False when input is to be transformed
// into d->output, whose folders are made.
bool CZComp::settle(const std::string& in, const char* outputDir, unsigned hint, bool keepTree, bool expanding,
                    Decision* d, int* rc) {
    int code = decide(in, outputDir, hint, keepTree, expanding, d);
    m_result.inputSize = d->size;
    if (expanding) m_result.outputSize = d->st.st_size;
    if (code == 0 && d->action == Decision::kKeep) {
        *rc = keepAsItIs(in, *d, keepTree);
        return true;
    }
    if (code == 0) code = startOutput(d->output, keepTree);
    if (code != 0) {
        *rc = fail(code);
        return true;
    }
    if (d->action == Decision::kCopy) {
        d->reader->close();
        *rc = copyCase(in, d->output, d->st.st_size);
        return true;
    }
    return false;
}

// A file that is no book file: copied as it is into the output folder, or
// left alone in its own. Never deleted.
int CZComp::keepAsItIs(const std::string& input, const Decision& d, bool keepTree) {
    m_result.inputSize = d.st.st_size;
    m_result.outputSize = d.st.st_size;
    if (d.output == input || sameFolder(pathDirName(input), pathDirName(d.output))) {
        snprintf(m_result.outputPath, sizeof m_result.outputPath, "%s", input.c_str());
        return fail(ZCOMP_KEPT_AS_IS);
    }
    if (int rc = startOutput(d.output, keepTree)) return fail(rc);
    int rc = copyCase(input, d.output, d.st.st_size);
    return rc == 0 ? fail(ZCOMP_KEPT_AS_IS) : rc;
}

// 0 when the output may be written, else the code to fail with.
int CZComp::claimOutput(const std::string& input, const std::string& output) {
    if (output == input || sameFile(input, output)) return ZCOMP_SKIPPED_SELF;
    struct stat st;
    if (stat(output.c_str(), &st) != 0) return 0;
    if (S_ISDIR(st.st_mode) || m_written.count({uint64_t(st.st_dev), uint64_t(st.st_ino)})) return ZCOMP_ERR_SKIPPED;
    return m_overwrite ? 0 : ZCOMP_ERR_EXISTS;
}

// Why CZio could not open a regular input: it cannot be read, or it is in the
// EPWING Huffman form and its version is not known, or it is no book file.
int CZComp::openFailure(const char* input, const CZio& reader, unsigned hint) const {
    if (access(input, R_OK) != 0) return ZCOMP_ERR_UNREADABLE;
    int mode = reader.state()->mode;
    if ((mode == ZIO_EPWING || mode == ZIO_EPWING6) && CZio::huffmanVersionFor(hint, input) < 0)
        return ZCOMP_ERR_UNKNOWN_FORM;
    return ZCOMP_ERR_NO_INPUT;
}

// The output is written: deletes the input unless it is kept.
int CZComp::finish(const char* input, unsigned keepOriginal) {
    if (!keepOriginal && unlink(input) != 0) return fail(ZCOMP_ERR_DELETE);
    return 0;
}

void CZComp::rememberOutput(const std::string& output) {
    struct stat st;
    if (stat(output.c_str(), &st) == 0) m_written.insert({uint64_t(st.st_dev), uint64_t(st.st_ino)});
}

int CZComp::copyCase(const std::string& input, const std::string& output, int64_t size) {
    m_result.inputSize = size;
    m_result.outputSize = size;
    snprintf(m_result.outputPath, sizeof m_result.outputPath, "%s", output.c_str());
    if (sameFolder(pathDirName(input), pathDirName(output))) return fail(ZCOMP_SKIPPED_SELF);
    if (int rc = claimOutput(input, output)) return fail(rc);
    struct stat st;
    FilePtr in = openFile(input.c_str(), "rb");
    if (!in || fstat(fileno(in.get()), &st) != 0) return fail(ZCOMP_ERR_UNREADABLE);
    CZOutputFile out;
    if (!out.create(output, st.st_mode)) return fail(ZCOMP_ERR_OUTPUT);
    std::vector<unsigned char> buf(size_t(1) << 16);
    size_t got;
    while ((got = fread(buf.data(), 1, buf.size(), in.get())) > 0)
        if (!writeAll(out.file(), buf.data(), got)) return -1;
    if (ferror(in.get()) || !out.commit(false)) return -1;
    rememberOutput(output);
    return 0;
}

// ---- compress ----

int CZComp::compress(const char* input, const char* outputDir, unsigned level, unsigned epwingVersion,
                     unsigned keepOriginal, unsigned keepTree, unsigned keepFlags) {
    clearKeepRanges();
    memset(&m_result, 0, sizeof m_result);
    m_result.level = static_cast<uint8_t>(level);
    if (level > ebzip::kMaxLevel) return fail(ZCOMP_ERR_ARGUMENT);
    m_result.sliceSize = kBlockSize << level;
    if (!input || !*input || strlen(input) > kPathLimit) return fail(ZCOMP_ERR_ARGUMENT);
    if (outputDir && strlen(outputDir) > kPathLimit) return fail(ZCOMP_ERR_ARGUMENT);
    const std::string in = input;

    struct stat st;
    if (stat(input, &st) != 0) {
        perror(kStatFailedText);
        return fail(ZCOMP_ERR_NO_INPUT);
    }
    Decision d;
    int rc;
    if (settle(in, outputDir, epwingVersion, keepTree != 0, false, &d, &rc)) return rc;
    const std::string& output = d.output;
    if (int claim = claimOutput(in, output)) return fail(claim);
    std::string stem = pathStem(in);
    if (!(equalsNoCase(stem, "HONMON") || equalsNoCase(stem, "HONMON2") || equalsNoCase(stem, "START"))) keepFlags = 0;

    // The slice index width comes from the size, so an index whose offsets do
    // not fit it cannot be written: such a file is written at the next lower
    // level instead (smaller slices, smaller raw spans), and fails when even
    // level 0 does not fit.
    rc = -2;
    for (int lv = static_cast<int>(level); lv >= 0 && rc == -2; --lv) {
        rc = compressBody(*d.reader, output, d.size, static_cast<unsigned>(lv), d.mode,
                          static_cast<uint32_t>(d.st.st_mtime), d.st.st_mode, keepFlags, !keepOriginal);
    }
    clearKeepRanges();
    d.reader->close();
    if (rc == -2) return fail(ZCOMP_ERR_SYSTEM);
    if (rc != 0) return -1;
    rememberOutput(output);
    return finish(input, keepOriginal);
}

// Writes the EBZip file; 0, -1 with the code set, or -2 when the offsets do
// not fit the index width at this level. Slices are read in order (the
// checksum runs over them in order), deflated on every worker and written in
// order.
int CZComp::compressBody(CZio& reader, const std::string& output, int64_t size, unsigned level, int zioMode,
                         uint32_t mtime, mode_t perms, unsigned keepFlags, bool sync) {
    const unsigned sliceSize = kBlockSize << level;
    const unsigned blocksPerSlice = sliceSize / kBlockSize;
    const unsigned width = ebzip::indexWidthFor(uint64_t(size));
    const uint64_t maxOffset = width >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * width)) - 1;
    const uint64_t n = (uint64_t(size) + sliceSize - 1) / sliceSize;
    const uint64_t dataStart = (n + 1) * width + ebzip::kHeaderSize;

    m_result.level = static_cast<uint8_t>(level);
    m_result.sliceSize = sliceSize;
    m_result.indexWidth = static_cast<uint8_t>(width);
    m_result.outputSize = static_cast<int64_t>(dataStart);
    if (dataStart > maxOffset) return -2;

    // The offsets grow with the slices really read, so a size field that
    // promises more than the file holds costs no memory.
    std::vector<uint64_t> offsets;
    try {
        offsets.reserve(static_cast<size_t>(std::min<uint64_t>(n + 1, uint64_t(1) << 16)));
    } catch (const std::bad_alloc&) {
        return fail(ZCOMP_ERR_SYSTEM);
    }

    CZOutputFile out;
    if (!out.create(output, perms)) return fail(ZCOMP_ERR_OUTPUT);
    if (fseeko(out.file(), static_cast<off_t>(dataStart), SEEK_SET) != 0) return fail(ZCOMP_ERR_OUTPUT);

    // Kept ranges of a book text file.
    clearKeepRanges();
    if (keepFlags) {
        unsigned char block1[kBlockSize];
        if (reader.seekBlock(1) == 0 && reader.readBlock(block1) > 0) {
            if (zioMode == ZIO_SEBXA) CEbxaDecoder::stripIndexRecords(block1);
            collectKeepRanges(&reader, block1, keepFlags);
        }
    }
    if (reader.seekBlock(1) != 0) return fail(ZCOMP_ERR_SYSTEM);

    unsigned threads = static_cast<unsigned>(std::min<uint64_t>(threadsFor(m_threads), n));
    struct Slot {
        std::vector<unsigned char> in, out;
        uint64_t firstBlock = 0;
        unsigned blocks = 0;
        bool keep = false;
        long outLen = 0;
    };
    size_t ringSize = std::max<size_t>(kBatchBytes / sliceSize, size_t(threads) * 4);
    ringSize = static_cast<size_t>(std::min<uint64_t>(ringSize, n));
    std::vector<Slot> ring;
    std::vector<std::unique_ptr<ebzip::Deflater>> deflaters;
    try {
        ring.resize(ringSize);
        for (Slot& sl : ring) {
            sl.in.resize(sliceSize);
            sl.out.resize(sliceSize);
        }
        for (unsigned i = 0; i < threads; ++i) {
            deflaters.emplace_back(new ebzip::Deflater);
            if (!deflaters.back()->ready()) return fail(ZCOMP_ERR_SYSTEM);
        }
    } catch (const std::bad_alloc&) {
        return fail(ZCOMP_ERR_SYSTEM);
    }

    uLong adler = adler32(0L, Z_NULL, 0);
    uint64_t bytesRead = 0;
    bool firstBlock = true;
    // Reads the next slice, zero-padded, and sums it. Nothing, or a short
    // block before the end, means the rest of the file is missing.
    auto readSlice = [&](uint64_t, size_t slot) -> int {
        if (bytesRead >= uint64_t(size)) return 0;
        Slot& sl = ring[slot];
        unsigned char* buf = sl.in.data();
        unsigned bytes = 0;
        sl.firstBlock = bytesRead / kBlockSize + 1;
        sl.blocks = 0;
        while (sl.blocks < blocksPerSlice && bytesRead < uint64_t(size)) {
            int got = reader.readBlock(buf + bytes);
            if (got <= 0) break;
            if (firstBlock && zioMode == ZIO_SEBXA) CEbxaDecoder::stripIndexRecords(buf + bytes);
            firstBlock = false;
            unsigned real = static_cast<unsigned>(std::min<uint64_t>(unsigned(got), uint64_t(size) - bytesRead));
            bytes += real;
            bytesRead += real;
            ++sl.blocks;
            if (got < kBlockSize) break;
        }
        if (bytes == 0 || (bytes < sliceSize && bytesRead < uint64_t(size))) return -1;
        memset(buf + bytes, 0, sliceSize - bytes);
        adler = adler32(adler, buf, bytes);
        sl.keep = m_result.keepCount > 0 && inKeepRange(sl.firstBlock, sl.blocks);
        return 1;
    };
    auto deflateSlice = [&](uint64_t, size_t slot, unsigned worker) {
        Slot& sl = ring[slot];
        sl.outLen = sl.keep ? long(sliceSize) : deflaters[worker]->deflateSlice(sl.out.data(), sl.in.data(), sliceSize);
    };
    uint64_t outSize = dataStart;
    uint64_t written = 0;
    int writeRc = 0;
    const int64_t total = size / sliceSize;
    auto writeSlice = [&](uint64_t slice, size_t slot) -> bool {
        Slot& sl = ring[slot];
        if (sl.outLen < 0 || slice >= n) {
            writeRc = fail(ZCOMP_ERR_SYSTEM);
            return false;
        }
        const unsigned char* data = sl.out.data();
        unsigned len = static_cast<unsigned>(sl.outLen);
        if (len >= sliceSize) {
            data = sl.in.data();
            len = sliceSize;
        }
        try {
            offsets.push_back(outSize);
        } catch (const std::bad_alloc&) {
            writeRc = fail(ZCOMP_ERR_SYSTEM);
            return false;
        }
        if (!writeAll(out.file(), data, len)) {
            writeRc = fail(ZCOMP_ERR_SYSTEM);
            return false;
        }
        outSize += len;
        if (outSize > maxOffset) {
            writeRc = -2;
            return false;
        }
        ++written;
        m_result.outputSize = static_cast<int64_t>(outSize);
        if (m_progress) m_progress(m_progressContext, static_cast<int64_t>(slice + 1), total);
        return true;
    };
    COrderedPipeline::Result run = COrderedPipeline::run(ringSize, threads, n, readSlice, deflateSlice, writeSlice);
    if (run == COrderedPipeline::kStopped) return writeRc;
    if (run != COrderedPipeline::kDone) return fail(ZCOMP_ERR_SYSTEM);

    m_result.outputSize = static_cast<int64_t>(outSize);
    if (m_progress) m_progress(m_progressContext, static_cast<int64_t>(written), total);
    if (written != n) return fail(ZCOMP_ERR_SYSTEM);
    try {
        offsets.push_back(outSize);
    } catch (const std::bad_alloc&) {
        return fail(ZCOMP_ERR_SYSTEM);
    }
    m_result.adler = static_cast<uint32_t>(adler);

    unsigned char header[ebzip::kHeaderSize];
    ebzip::makeHeader(header, uint64_t(size), level, m_headerByte6, static_cast<uint32_t>(adler), mtime);
    std::vector<unsigned char> index;
    try {
        index.resize((n + 1) * width);
    } catch (const std::bad_alloc&) {
        return fail(ZCOMP_ERR_SYSTEM);
    }
    for (uint64_t i = 0; i <= n; ++i) putBeN(&index[i * width], offsets[i], width);
    if (fseeko(out.file(), 0, SEEK_SET) != 0 || !writeAll(out.file(), header, sizeof header) ||
        !writeAll(out.file(), index.data(), index.size()))
        return fail(ZCOMP_ERR_SYSTEM);
    if (!out.commit(sync)) return fail(ZCOMP_ERR_OUTPUT);
    m_result.outputSize = static_cast<int64_t>(outSize);
    return 0;
}

// ---- expand ----

namespace {

// What an expansion writes to and what it has written.
struct ExpandRun {
    FILE* file = nullptr;
    uint64_t size = 0;     // uncompressed size to write
    int mode = ZIO_PLAIN;  // zio mode of the input
    ZCOMP_PROGRESS progress = nullptr;
    void* context = nullptr;
    uLong adler = 1;  // Adler-32 of the bytes written (EBZip input)
    uint64_t written = 0;
};

unsigned expandChunkSlices(unsigned sliceSize) {
    return std::max<unsigned>(1, static_cast<unsigned>(kExpandChunkBytes / sliceSize));
}

uint64_t expandChunkCount(uint64_t size, unsigned sliceSize) {
    const uint64_t chunkBytes = uint64_t(expandChunkSlices(sliceSize)) * sliceSize;
    return (size + chunkBytes - 1) / chunkBytes;
}

// Writes decoded bytes and reports each 2048-byte step (the last one may be
// shorter). False on a short write.
bool writeDecoded(ExpandRun& run, const unsigned char* data, size_t len) {
    if (!writeAll(run.file, data, len)) return false;
    const int64_t total = static_cast<int64_t>(run.size / kBlockSize);
    for (size_t done = 0; done < len;) {
        size_t step = std::min<size_t>(kBlockSize, len - done);
        done += step;
        run.written += step;
        if (run.progress) run.progress(run.context, static_cast<int64_t>(run.written / kBlockSize), total);
    }
    return true;
}

// One output chunk of an expansion.
struct ExpandChunk {
    std::vector<unsigned char> data;
    size_t len = 0;
    uLong adler = 1;
    bool failed = false;  // a block of it could not be read: the output ends with it
};

// Expands through the pipeline: decode(item, chunk, worker) fills a chunk;
// this thread sums (joining the chunks' sums) and writes them in order. The
// output ends at the first block that cannot be read. 0, or -1 on a write or
// thread failure.
int expandChunks(ExpandRun& run, std::vector<ExpandChunk>& ring, unsigned workers, uint64_t chunks,
                 const COrderedPipeline::Prepare& decodeInOrder, const COrderedPipeline::Work& decodeAnyOrder) {
    run.adler = adler32(0L, Z_NULL, 0);
    run.written = 0;
    bool writeFailed = false;
    auto write = [&](uint64_t, size_t slot) -> bool {
        ExpandChunk& ch = ring[slot];
        if (run.mode == ZIO_EBZIP) run.adler = adler32_combine(run.adler, ch.adler, static_cast<z_off_t>(ch.len));
        if (!writeDecoded(run, ch.data.data(), ch.len)) {
            writeFailed = true;
            return false;
        }
        return !ch.failed;
    };
    COrderedPipeline::Result r =
        COrderedPipeline::run(ring.size(), workers, chunks, decodeInOrder, decodeAnyOrder, write);
    if (r == COrderedPipeline::kThreadFailed || writeFailed) return -1;
    return 0;
}

// Decodes blocks from the reader's current position into a chunk: up to
// `bytes` bytes, the last block at its real length. False when a block could
// not be read (the chunk holds what came before it).
bool decodeChunk(CZio& reader, ExpandChunk& ch, uint64_t from, uint64_t bytes, bool firstOfFile, int mode) {
    ch.len = 0;
    ch.failed = false;
    for (uint64_t pos = 0; pos < bytes;) {
        unsigned char* block = ch.data.data() + ch.len;
        int got = reader.readBlock(block);
        if (got < 1) {
            ch.failed = true;
            break;
        }
        if (firstOfFile && pos == 0 && from == 0 && mode == ZIO_SEBXA) CEbxaDecoder::stripIndexRecords(block);
        unsigned real = static_cast<unsigned>(std::min<uint64_t>(unsigned(got), bytes - pos));
        ch.len += real;
        pos += real;
    }
    ch.adler = adler32(adler32(0L, Z_NULL, 0), ch.data.data(), static_cast<uInt>(ch.len));
    return !ch.failed;
}

// One reader decodes the input in order, a chunk at a time, ahead of the writer.
int expandInOrder(CZio& reader, ExpandRun& run) {
    const uint64_t chunkBytes = kInOrderChunkBlocks * kBlockSize;
    const uint64_t chunks = (run.size + chunkBytes - 1) / chunkBytes;
    std::vector<ExpandChunk> ring;
    try {
        ring.resize(static_cast<size_t>(std::min<uint64_t>(kInOrderChunks, std::max<uint64_t>(chunks, 1))));
        for (ExpandChunk& ch : ring) ch.data.resize(chunkBytes);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    bool stopped = false;
    auto decode = [&](uint64_t c, size_t slot) -> int {
        if (stopped) return 0;
        const uint64_t from = c * chunkBytes;
        ExpandChunk& ch = ring[slot];
        stopped = !decodeChunk(reader, ch, from, std::min<uint64_t>(chunkBytes, run.size - from), true, run.mode);
        return ch.len > 0 ? 1 : 0;
    };
    return expandChunks(run, ring, 0, chunks, decode, nullptr);
}

// EBZip slices are independent: every worker decodes whole chunks of slices
// through a reader of its own.
int expandEbzipParallel(const std::vector<CZio*>& readers, unsigned sliceSize, ExpandRun& run) {
    const uint64_t chunkBytes = uint64_t(expandChunkSlices(sliceSize)) * sliceSize;
    const uint64_t chunks = expandChunkCount(run.size, sliceSize);
    const unsigned workers = static_cast<unsigned>(readers.size());
    std::vector<ExpandChunk> ring;
    try {
        ring.resize(static_cast<size_t>(std::min<uint64_t>(chunks, uint64_t(workers) * 3)));
        for (ExpandChunk& ch : ring) ch.data.resize(chunkBytes);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    auto decode = [&](uint64_t c, size_t slot, unsigned worker) {
        CZio& reader = *readers[worker];
        ExpandChunk& ch = ring[slot];
        const uint64_t from = c * chunkBytes;
        if (reader.seekBlock(static_cast<unsigned>(from / kBlockSize + 1)) != 0) {
            ch.len = 0;
            ch.failed = true;
            return;
        }
        decodeChunk(reader, ch, from, std::min<uint64_t>(chunkBytes, run.size - from), false, run.mode);
    };
    return expandChunks(run, ring, workers, chunks, nullptr, decode);
}

}  // namespace

int CZComp::expand(const char* input, const char* outputDir, unsigned epwingVersion, unsigned keepOriginal,
                   unsigned keepTree) {
    clearKeepRanges();
    memset(&m_result, 0, sizeof m_result);
    if (!input || !*input || strlen(input) > kPathLimit) return fail(ZCOMP_ERR_ARGUMENT);
    if (outputDir && strlen(outputDir) > kPathLimit) return fail(ZCOMP_ERR_ARGUMENT);
    const std::string in = input;
    Decision d;
    int rc;
    if (settle(in, outputDir, epwingVersion, keepTree != 0, true, &d, &rc)) return rc;
    const std::string& output = d.output;
    const int64_t size = d.size;
    if (uint64_t(size) > kMaxInputSize) return fail(ZCOMP_ERR_SYSTEM);
    if (int claim = claimOutput(in, output)) return fail(claim);
    CZio* reader = d.reader.get();
    const ZIO_STATE* zs = reader->state();
    const int mode = d.mode;
    const struct stat& st = d.st;

    CZOutputFile out;
    if (!out.create(output, st.st_mode)) return fail(ZCOMP_ERR_OUTPUT);
    ExpandRun run;
    run.file = out.file();
    run.size = uint64_t(size);
    run.mode = mode;
    run.progress = m_progress;
    run.context = m_progressContext;

    // EBZip slices are independent: with more than one thread every worker
    // decodes whole chunks of slices through a reader of its own. The other
    // forms are decoded in order by one reader.
    // Beyond kMaxExpandWorkers the ordered writer is the limit, and each
    // worker holds three chunks of output.
    unsigned threads = std::min(threadsFor(m_threads), kMaxExpandWorkers);
    std::vector<std::unique_ptr<CZio>> extra;
    std::vector<CZio*> readers{reader};
    if (mode == ZIO_EBZIP && threads > 1 && zs->sliceSize > 0) {
        const uint64_t chunks = expandChunkCount(run.size, unsigned(zs->sliceSize));
        while (readers.size() < std::min<uint64_t>(threads, chunks)) {
            std::unique_ptr<CZio> r(new (std::nothrow) CZio);
            // A reader that cannot be had only means fewer workers.
            if (!r || r->open(input, epwingVersion) != 0 || r->state()->mode != ZIO_EBZIP || r->fileSize() != size ||
                r->state()->sliceSize != zs->sliceSize)
                break;
            readers.push_back(r.get());
            extra.push_back(std::move(r));
        }
    }
    int runRc =
        readers.size() > 1 ? expandEbzipParallel(readers, unsigned(zs->sliceSize), run) : expandInOrder(*reader, run);
    extra.clear();
    if (runRc != 0) return fail(ZCOMP_ERR_SYSTEM);
    const uLong adler = run.adler;
    const uint64_t written = run.written;
    const int64_t total = size / kBlockSize;
    if (m_progress) m_progress(m_progressContext, static_cast<int64_t>(written / kBlockSize), total);
    if (mode == ZIO_EBZIP) m_result.adler = zs->headerAdler;
    if (mode == ZIO_EBZIP && (written < uint64_t(size) || uint32_t(adler) != zs->headerAdler))
        return fail(ZCOMP_ERR_CHECKSUM);
    if (written < uint64_t(size)) return fail(ZCOMP_ERR_SYSTEM);
    reader->close();
    if (!out.commit(!keepOriginal)) return fail(ZCOMP_ERR_OUTPUT);
    rememberOutput(output);
    return finish(input, keepOriginal);
}

// ---- EPWING version ----

int CZComp::epwingVersionOf(const char* path) {
    if (!path || strlen(path) > kPathLimit) return 0;
    std::string name = pathFileName(std::string(path));
    if (name.size() < 6 || strncasecmp(name.c_str(), "HONMON", 6) != 0) return 0;
    BOOK_FILE_CODE entry;
    if (CEBCatalog::fileCompression(path, &entry) != 0) return 0;
    return entry.code == 0x12 ? 6 : entry.code == 0x11 ? 4 : entry.version;
}

// ---- checks and texts ----

int checkEbzipFile(const char* path) {
    CZio reader;
    if (!path || reader.open(path, 0) != 0) return -1;
    if (reader.state()->mode != ZIO_EBZIP) return -1;
    return reader.checkCRC() == 0 ? 0 : -1;
}

const char* zcompErrorText(int code) {
    switch (code) {
        case ZCOMP_ERR_NO_INPUT:
            return "There is no input file.";
        case ZCOMP_ERR_ALREADY:
            return "already compressed.";
        case ZCOMP_ERR_CHECKSUM:
            return "checksum error.";
        case ZCOMP_ERR_ARGUMENT:
            return "invalid argument.";
        case ZCOMP_ERR_OUTPUT:
            return "output device can't be used.";
        case ZCOMP_ERR_SYSTEM:
            return "system error";
        case ZCOMP_ERR_NOT_COMPRESSED:
            return "not a compressed file.";
        case ZCOMP_ERR_SKIPPED:
        case ZCOMP_SKIPPED_SELF:
            return "skipped";
        case ZCOMP_ERR_EXISTS:
            return "the output file exists:";
        case ZCOMP_ERR_UNREADABLE:
            return "cannot be read.";
        case ZCOMP_ERR_UNKNOWN_FORM:
            return "the compression form could not be determined.";
        case ZCOMP_ERR_DELETE:
            return "the input could not be deleted.";
        case ZCOMP_KEPT_AS_IS:
            return "not a book file: kept as it is";
        case ZCOMP_ERR_HEADER:
            return "the EBZip header is damaged.";
        default:
            return "unknown error";
    }
}
