#include "foundation/storage/CZComp.h"

#include "foundation/book/CEBCatalog.h"
#include "foundation/byteorder.h"
#include "foundation/pathutil.h"
#include "foundation/storage/CZio.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

const unsigned kBlock = 2048;
const unsigned kHeaderSize = 22;
const unsigned kMaxLevel = 5;
const size_t kPathLimit = 255;
// No book file comes near this; anything larger is a damaged size field.
const uint64_t kMaxInputSize = uint64_t(1) << 40;
// Bytes of input slices held in memory at once while compressing.
const size_t kBatchBytes = size_t(8) << 20;

// "ファイルの情報を取得できませんでした" in Shift_JIS.
const char kStatFailedText[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x8f\xee\x95\xf1\x82\xf0"
    "\x8e\xe6\x93\xbe\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5"
    "\x82\xb5\x82\xbd";

using byteorder::be16;
using byteorder::be32;
using byteorder::putBeN;

std::string dirPart(const std::string& path) {
    char buf[kPathSize];
    if (pathDirName(path.c_str(), buf, sizeof buf) < 0) return std::string();
    return buf;
}

std::string namePart(const std::string& path) {
    char buf[kPathSize];
    if (pathFileName(path.c_str(), buf, sizeof buf) < 0) return std::string();
    return buf;
}

std::string stemPart(const std::string& path) {
    char buf[kPathSize];
    if (pathStem(path.c_str(), buf, sizeof buf) < 0) return std::string();
    return buf;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string trimTrailingBlanks(const char* s, size_t max) {
    std::string out(s, strnlen(s, max));
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// Same file or folder on disk (both must exist).
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.empty() ? "." : a.c_str(), &sa) != 0) return false;
    if (stat(b.empty() ? "." : b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Owns a FILE*.
struct FileCloser {
    void operator()(FILE* f) const {
        if (f) fclose(f);
    }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

// Flushes a folder's entries (a rename in it) to disk, as far as it can.
void syncFolderOf(const std::string& path) {
    std::string dir = dirPart(path);
    if (dir.empty()) dir = (!path.empty() && path[0] == '/') ? "/" : ".";
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    ::close(fd);
}

// A file written under a temporary name in the output's folder and renamed
// over the output only when complete. Until commit() it is removed again,
// so a failed run leaves nothing behind.
class TempOutput {
public:
    ~TempOutput() { discard(); }

    // Creates the temporary file with the permission bits mode.
    bool create(const std::string& output, mode_t mode) {
        std::string dir = dirPart(output);
        if (dir.empty() && !output.empty() && output[0] == '/') dir = "/";
        std::string tmpl = (dir.empty() ? std::string(".") : dir) + "/.packwell-XXXXXX";
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        int fd = mkstemp(name.data());
        if (fd < 0) return false;
        m_temp = name.data();
        fchmod(fd, mode & 0777);
        m_file.reset(fdopen(fd, "w+b"));
        if (!m_file) {
            ::close(fd);
            return false;
        }
        setvbuf(m_file.get(), nullptr, _IOFBF, 1 << 20);
        m_output = output;
        return true;
    }

    FILE* file() const { return m_file.get(); }

    // Flushes, optionally syncs, closes and renames over the output.
    bool commit(bool sync) {
        if (!m_file) return false;
        FILE* f = m_file.release();
        bool ok = fflush(f) == 0 && !ferror(f);
        if (ok && sync) ok = fsync(fileno(f)) == 0;
        if (fclose(f) != 0) ok = false;
        if (ok && rename(m_temp.c_str(), m_output.c_str()) != 0) ok = false;
        if (ok) m_temp.clear();
        // The input may be deleted next: make the new name durable first.
        if (ok && sync) syncFolderOf(m_output);
        return ok;
    }

    void discard() {
        m_file.reset();
        if (!m_temp.empty()) unlink(m_temp.c_str());
        m_temp.clear();
    }

private:
    FilePtr m_file;
    std::string m_temp;
    std::string m_output;
};

bool writeAll(FILE* f, const void* data, size_t len) {
    return len == 0 || fwrite(data, 1, len, f) == len;
}

// One zlib stream at the default level, reset for every slice (which gives
// the same bytes as a fresh stream).
class Deflater {
public:
    Deflater() {
        memset(&m_z, 0, sizeof m_z);
        m_ready = deflateInit(&m_z, Z_DEFAULT_COMPRESSION) == Z_OK;
    }
    ~Deflater() {
        if (m_ready) deflateEnd(&m_z);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    bool ready() const { return m_ready; }
    z_stream* stream() { return &m_z; }

private:
    z_stream m_z;
    bool m_ready;
};

// One zlib stream of in into out; the length, inLen when it does not fit,
// or -1 on a zlib failure. The stream is reset for the next slice.
long deflateWith(z_stream* z, unsigned char* out, const unsigned char* in, unsigned inLen) {
    z->next_in = const_cast<Bytef*>(in);
    z->avail_in = inLen;
    z->next_out = out;
    z->avail_out = inLen;
    int rc = deflate(z, Z_FINISH);
    long len;
    if (rc == Z_STREAM_END)
        len = static_cast<long>(z->total_out);
    else if (rc == Z_OK || rc == Z_BUF_ERROR)
        len = inLen;
    else
        len = -1;
    if (deflateReset(z) != Z_OK) return -1;
    return len;
}

// Runs fn when it goes out of scope: stops and joins the threads of a run on
// every way out of it.
struct Joiner {
    std::function<void()> fn;
    ~Joiner() { fn(); }
};

// One slice of a batch.
struct SliceJob {
    uint64_t firstBlock;
    unsigned blocks;
    unsigned bytes;
    bool keep;
    long outLen;
};

}  // namespace

CZComp::CZComp()
    : m_progress(nullptr), m_progressContext(nullptr), m_headerByte6(0), m_threads(0), m_keepStore(nullptr) {
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

unsigned CZComp::indexWidthFor(uint64_t size) {
    if (size < 0x10000ull) return 2;
    if (size < 0x1000000ull) return 3;
    if (size < 0x100000000ull) return 4;
    return 5;
}

void CZComp::makeHeader(unsigned char* header, uint64_t size, unsigned level, unsigned byte6, uint32_t adler,
                        uint32_t mtime) {
    memcpy(header, "EBZip", 5);
    header[5] = static_cast<unsigned char>(((size < 0xFFFFFFFFull ? 1 : 2) << 4) | (level & 15));
    header[6] = static_cast<unsigned char>(byte6);
    header[7] = 0;
    putBeN(header + 8, size, 6);
    putBeN(header + 14, adler, 4);
    putBeN(header + 18, mtime, 4);
}

int CZComp::deflateSlice(unsigned char* out, unsigned* outLen, const unsigned char* in, unsigned inLen) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) return -1;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = inLen;
    z.next_out = out;
    z.avail_out = inLen;
    int rc = deflate(&z, Z_FINISH);
    unsigned len = rc == Z_STREAM_END ? static_cast<unsigned>(z.total_out) : inLen;
    int end = deflateEnd(&z);
    if (rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR) return -1;
    // An unfinished stream ends with Z_DATA_ERROR; that is the "does not fit" case.
    if (rc == Z_STREAM_END && end != Z_OK) return -1;
    *outLen = len;
    return 0;
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

    unsigned char area[kBlock];
    // An area's extent: start to start + the u16 at bytes 2-3 of its first block.
    auto keepArea = [&](uint32_t start) {
        if (!reader || start == 0 || m_result.keepCount >= ZCOMP_MAX_KEEP_RANGES) return;
        if (reader->seekBlock(start) != 0 || reader->readBlock(area) <= 0) return;
        addKeepRange(start, uint64_t(start) + be16(area + 2));
    };

    // Index table: count at bytes 0-1, 16-byte records from byte 16; at most
    // 127 records fit the block.
    unsigned count = std::min<unsigned>(be16(block1), (kBlock - 16) / 16);
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
            unsigned char table[kBlock];
            if (reader->seekBlock(start) != 0 || reader->readBlock(table) <= 0) continue;
            unsigned entries = be16(table);
            size_t pos = 16;
            for (unsigned e = 0; e < entries && pos + 32 <= kBlock; ++e) {
                unsigned subs = table[pos];
                pos += 32;
                for (unsigned s = 0; s < subs && pos + 16 <= kBlock; ++s, pos += 16) {
                    unsigned sid = table[pos];
                    if (sid == 0x71 || sid == 0x91 || sid == 0xA1) keepArea(be32(table + pos + 2));
                }
            }
        }
    }
    return 0;
}

void CZComp::stripLzssIndex(unsigned char* block) {
    unsigned count = std::min<unsigned>(be16(block), (kBlock - 16) / 16);
    unsigned kept = 0, removed = 0;
    for (unsigned r = 0; r < count; ++r) {
        unsigned char* rec = block + 16 + r * 16;
        if (rec[0] == 0x21 || rec[0] == 0x22) {
            ++removed;
            continue;
        }
        if (kept != r) memmove(block + 16 + kept * 16, rec, 16);
        ++kept;
    }
    if (removed == 0) return;
    // The records freed at the end of the table are cleared.
    memset(block + 16 + kept * 16, 0, removed * 16);
    unsigned total = be16(block) - removed;
    block[0] = static_cast<unsigned char>(total >> 8);
    block[1] = static_cast<unsigned char>(total);
}

// ---- output names ----

namespace {

// Builds the output path; returns 0 or an error code.
int buildOutputName(const std::string& input, const char* outputDir, bool keepTree, bool ssed, const char* suffix,
                    std::string* out) {
    std::string path;
    if (outputDir && *outputDir) {
        path = outputDir;
        if (path.back() != '/') path += '/';
        if (keepTree) {
            std::string rel;
            if (input.size() >= 2 && isalpha(static_cast<unsigned char>(input[0])) && input[1] == ':') {
                size_t slash = input.find('/');
                rel = slash == std::string::npos ? input.substr(2) : input.substr(slash + 1);
            } else {
                size_t i = input.find_first_not_of('/');
                rel = i == std::string::npos ? std::string() : input.substr(i);
            }
            // The kept path must stay below the output folder.
            std::string clean;
            size_t pos = 0;
            while (pos <= rel.size()) {
                size_t next = rel.find('/', pos);
                if (next == std::string::npos) next = rel.size();
                std::string part = rel.substr(pos, next - pos);
                pos = next + 1;
                if (part.empty() || part == ".") continue;
                if (part == "..") return ZCOMP_ERR_ARGUMENT;
                if (!clean.empty()) clean += '/';
                clean += part;
            }
            if (clean.empty()) return ZCOMP_ERR_ARGUMENT;
            path += clean;
        } else {
            std::string name = namePart(input);
            if (name.empty()) return ZCOMP_ERR_ARGUMENT;
            path += name;
        }
    } else {
        path = input;
    }
    if (ssed) {
        size_t slash = path.rfind('/');
        path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "HONMON";
    }
    if (suffix) {
        size_t slash = path.rfind('/');
        size_t dot = path.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
        path += suffix;
    }
    if (path.size() > kPathLimit) return ZCOMP_ERR_ARGUMENT;
    *out = path;
    return 0;
}

bool inMovieFolder(const std::string& path) {
    return equalsNoCase(namePart(dirPart(path)), "MOVIE");
}

// Builds the output path as buildOutputName does, notes it in outputPath
// (outputPathSize bytes) and, when the tree is kept, makes its folders;
// returns 0 or an error code.
int prepareOutput(const std::string& input, const char* outputDir, bool keepTree, bool ssed, const char* suffix,
                  char* outputPath, size_t outputPathSize, std::string* out) {
    int rc = buildOutputName(input, outputDir, keepTree, ssed, suffix, out);
    if (rc != 0) return rc;
    snprintf(outputPath, outputPathSize, "%s", out->c_str());
    if (keepTree) {
        std::string dir = dirPart(*out);
        if (!dir.empty() && makeDirectories(dir.c_str()) != 0) return ZCOMP_ERR_OUTPUT;
    }
    return 0;
}

}  // namespace

bool CZComp::claimOutput(const std::string& input, const std::string& output) {
    if (output == input || sameFile(input, output)) return false;
    struct stat st;
    if (stat(output.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return false;
        if (m_written.count({uint64_t(st.st_dev), uint64_t(st.st_ino)})) return false;
    }
    return true;
}

void CZComp::rememberOutput(const std::string& output) {
    struct stat st;
    if (stat(output.c_str(), &st) == 0) m_written.insert({uint64_t(st.st_dev), uint64_t(st.st_ino)});
}

int CZComp::copyCase(const std::string& input, const std::string& output, int64_t size) {
    m_result.inputSize = size;
    m_result.outputSize = size;
    snprintf(m_result.outputPath, sizeof m_result.outputPath, "%s", output.c_str());
    std::string inDir = dirPart(input), outDir = dirPart(output);
    if (equalsNoCase(inDir, outDir) || sameFile(inDir, outDir) || !claimOutput(input, output))
        return fail(ZCOMP_ERR_SKIPPED);
    if (copyFile(input.c_str(), output.c_str()) != 0) return -1;
    rememberOutput(output);
    return 0;
}

// ---- compress ----

int CZComp::compress(const char* input, const char* outputDir, unsigned level, unsigned epwingVersion,
                     unsigned keepOriginal, unsigned keepTree, unsigned keepFlags) {
    clearKeepRanges();
    memset(&m_result, 0, sizeof m_result);
    m_result.level = static_cast<uint8_t>(level);
    if (level > kMaxLevel) return fail(ZCOMP_ERR_ARGUMENT);
    m_result.sliceSize = kBlock << level;
    if (!input || !*input || strlen(input) > kPathLimit) return fail(ZCOMP_ERR_ARGUMENT);
    if (outputDir && strlen(outputDir) > kPathLimit) return fail(ZCOMP_ERR_ARGUMENT);
    const std::string in = input;

    struct stat st;
    if (stat(input, &st) != 0) {
        perror(kStatFailedText);
        return fail(ZCOMP_ERR_NO_INPUT);
    }
    std::unique_ptr<CZio> reader(new (std::nothrow) CZio);
    if (!reader) return fail(ZCOMP_ERR_SYSTEM);
    // Only regular files are book files (opening a FIFO would wait for a writer).
    if (!S_ISREG(st.st_mode) || reader->open(input, epwingVersion) != 0) return fail(ZCOMP_ERR_NO_INPUT);
    int64_t size = reader->fileSize();
    m_result.inputSize = size;
    reader->seekBlock(1);
    int mode = reader->state()->mode;
    if (mode == ZIO_EBZIP || size <= 0) return fail(ZCOMP_ERR_ALREADY);
    if (uint64_t(size) > kMaxInputSize) return fail(ZCOMP_ERR_SYSTEM);

    bool copy = (mode == ZIO_PLAIN && size < 2049) || inMovieFolder(in);
    std::string output;
    int rc = prepareOutput(in, outputDir, keepTree != 0, mode == ZIO_SSED, copy ? nullptr : ".ebz", m_result.outputPath,
                           sizeof m_result.outputPath, &output);
    if (rc != 0) return fail(rc);
    if (copy) {
        reader->close();
        return copyCase(in, output, st.st_size);
    }
    if (!claimOutput(in, output)) return fail(ZCOMP_ERR_SKIPPED);
    std::string stem = stemPart(in);
    if (!(equalsNoCase(stem, "HONMON") || equalsNoCase(stem, "HONMON2") || equalsNoCase(stem, "START"))) keepFlags = 0;

    // The slice index width comes from the size, so an index whose offsets do
    // not fit it cannot be written: such a file is written at the next lower
    // level instead (smaller slices, smaller raw spans), and fails when even
    // level 0 does not fit.
    rc = -2;
    for (int lv = static_cast<int>(level); lv >= 0 && rc == -2; --lv) {
        rc = compressBody(*reader, output, size, static_cast<unsigned>(lv), mode, static_cast<uint32_t>(st.st_mtime),
                          st.st_mode, keepFlags, !keepOriginal);
    }
    clearKeepRanges();
    reader->close();
    if (rc == -2) return fail(ZCOMP_ERR_SYSTEM);
    if (rc != 0) return -1;
    rememberOutput(output);
    if (!keepOriginal) unlink(input);
    return 0;
}

// Writes the EBZip file; 0, -1 with the code set, or -2 when the offsets do
// not fit the index width at this level.
int CZComp::compressBody(CZio& reader, const std::string& output, int64_t size, unsigned level, int zioMode,
                         uint32_t mtime, mode_t perms, unsigned keepFlags, bool sync) {
    const unsigned sliceSize = kBlock << level;
    const unsigned blocksPerSlice = sliceSize / kBlock;
    const unsigned width = indexWidthFor(uint64_t(size));
    const uint64_t maxOffset = width >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * width)) - 1;
    const uint64_t n = (uint64_t(size) + sliceSize - 1) / sliceSize;
    const uint64_t dataStart = (n + 1) * width + kHeaderSize;

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

    TempOutput out;
    if (!out.create(output, perms)) return fail(ZCOMP_ERR_OUTPUT);
    if (fseeko(out.file(), static_cast<off_t>(dataStart), SEEK_SET) != 0) return fail(ZCOMP_ERR_OUTPUT);

    // Kept ranges of a book text file.
    clearKeepRanges();
    if (keepFlags) {
        unsigned char block1[kBlock];
        if (reader.seekBlock(1) == 0 && reader.readBlock(block1) > 0) {
            if (zioMode == ZIO_SEBXA) stripLzssIndex(block1);
            collectKeepRanges(&reader, block1, keepFlags);
        }
    }
    if (reader.seekBlock(1) != 0) return fail(ZCOMP_ERR_SYSTEM);

    unsigned threads = m_threads ? m_threads : std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<uint64_t>(threads, n));

    // A ring of slots runs through three stages: one thread reads slices in
    // file order (and sums the checksum), the workers deflate them in any
    // order, and this thread writes them in file order. A slot is free again
    // once written.
    enum { kFree, kRead, kDeflated };
    struct Slot {
        std::vector<unsigned char> in, out;
        SliceJob job;
        int state = kFree;
    };
    size_t ringSize = std::max<size_t>(kBatchBytes / sliceSize, size_t(threads) * 4);
    ringSize = static_cast<size_t>(std::min<uint64_t>(ringSize, n));
    std::vector<Slot> ring;
    std::vector<std::unique_ptr<Deflater>> deflaters;
    try {
        ring.resize(ringSize);
        for (Slot& sl : ring) {
            sl.in.resize(sliceSize);
            sl.out.resize(sliceSize);
        }
        for (unsigned i = 0; i < threads; ++i) {
            deflaters.emplace_back(new Deflater);
            if (!deflaters.back()->ready()) return fail(ZCOMP_ERR_SYSTEM);
        }
    } catch (const std::bad_alloc&) {
        return fail(ZCOMP_ERR_SYSTEM);
    }

    std::mutex lock;
    std::condition_variable freed, readDone, deflated;
    uint64_t slicesRead = 0, nextToDeflate = 0;
    bool readerFinished = false, readFailed = false, stop = false;
    uLong adler = adler32(0L, Z_NULL, 0);

    auto readerMain = [&] {
        uint64_t bytesRead = 0;
        bool firstBlock = true;
        for (uint64_t seq = 0; bytesRead < uint64_t(size); ++seq) {
            Slot& sl = ring[seq % ringSize];
            {
                std::unique_lock<std::mutex> g(lock);
                freed.wait(g, [&] { return sl.state == kFree || stop; });
                if (stop) break;
            }
            SliceJob& j = sl.job;
            unsigned char* buf = sl.in.data();
            j.firstBlock = bytesRead / kBlock + 1;
            j.blocks = 0;
            j.bytes = 0;
            while (j.blocks < blocksPerSlice && bytesRead < uint64_t(size)) {
                int got = reader.readBlock(buf + j.bytes);
                if (got <= 0) break;
                if (firstBlock && zioMode == ZIO_SEBXA) stripLzssIndex(buf + j.bytes);
                firstBlock = false;
                unsigned real = static_cast<unsigned>(std::min<uint64_t>(unsigned(got), uint64_t(size) - bytesRead));
                j.bytes += real;
                bytesRead += real;
                ++j.blocks;
                if (got < static_cast<int>(kBlock)) break;
            }
            // Nothing, or a short block before the end: the rest of the file is missing.
            if (j.bytes == 0 || (j.bytes < sliceSize && bytesRead < uint64_t(size))) {
                std::lock_guard<std::mutex> g(lock);
                readFailed = true;
                break;
            }
            memset(buf + j.bytes, 0, sliceSize - j.bytes);
            adler = adler32(adler, buf, j.bytes);
            j.keep = m_result.keepCount > 0 && inKeepRange(j.firstBlock, j.blocks);
            std::lock_guard<std::mutex> g(lock);
            sl.state = kRead;
            ++slicesRead;
            readDone.notify_all();
        }
        std::lock_guard<std::mutex> g(lock);
        readerFinished = true;
        readDone.notify_all();
        deflated.notify_all();
    };

    auto workerMain = [&](Deflater* d) {
        for (;;) {
            uint64_t seq;
            {
                std::unique_lock<std::mutex> g(lock);
                readDone.wait(g, [&] { return stop || nextToDeflate < slicesRead || readerFinished; });
                if (stop || nextToDeflate >= slicesRead) {
                    if (stop || readerFinished) return;
                    continue;
                }
                seq = nextToDeflate++;
            }
            Slot& sl = ring[seq % ringSize];
            sl.job.outLen =
                sl.job.keep ? long(sliceSize) : deflateWith(d->stream(), sl.out.data(), sl.in.data(), sliceSize);
            std::lock_guard<std::mutex> g(lock);
            sl.state = kDeflated;
            deflated.notify_all();
        }
    };

    std::vector<std::thread> workers;
    std::thread readerThread;
    // Stops and joins every thread on every way out of the write loop.
    Joiner joiner{[&] {
        {
            std::lock_guard<std::mutex> g(lock);
            stop = true;
        }
        freed.notify_all();
        readDone.notify_all();
        if (readerThread.joinable()) readerThread.join();
        for (auto& w : workers)
            if (w.joinable()) w.join();
    }};
    try {
        workers.reserve(threads);
        readerThread = std::thread(readerMain);
        for (unsigned i = 0; i < threads; ++i) workers.emplace_back(workerMain, deflaters[i].get());
    } catch (const std::system_error&) {
        return fail(ZCOMP_ERR_SYSTEM);
    }

    uint64_t outSize = dataStart;
    uint64_t slice = 0;
    const int64_t total = size / sliceSize;
    for (;; ++slice) {
        Slot& sl = ring[slice % ringSize];
        {
            std::unique_lock<std::mutex> g(lock);
            deflated.wait(
                g, [&] { return sl.state == kDeflated || readFailed || (readerFinished && slice >= slicesRead); });
            if (readFailed) return fail(ZCOMP_ERR_SYSTEM);
            if (sl.state != kDeflated) break;
        }
        if (sl.job.outLen < 0 || slice >= n) return fail(ZCOMP_ERR_SYSTEM);
        const unsigned char* data = sl.out.data();
        unsigned len = static_cast<unsigned>(sl.job.outLen);
        if (len >= sliceSize) {
            data = sl.in.data();
            len = sliceSize;
        }
        try {
            offsets.push_back(outSize);
        } catch (const std::bad_alloc&) {
            return fail(ZCOMP_ERR_SYSTEM);
        }
        if (!writeAll(out.file(), data, len)) return fail(ZCOMP_ERR_SYSTEM);
        outSize += len;
        if (outSize > maxOffset) return -2;
        m_result.outputSize = static_cast<int64_t>(outSize);
        if (m_progress) m_progress(m_progressContext, static_cast<int64_t>(slice + 1), total);
        std::lock_guard<std::mutex> g(lock);
        sl.state = kFree;
        freed.notify_one();
    }
    m_result.outputSize = static_cast<int64_t>(outSize);
    if (m_progress) m_progress(m_progressContext, static_cast<int64_t>(slice), total);
    if (slice != n) return fail(ZCOMP_ERR_SYSTEM);
    try {
        offsets.push_back(outSize);
    } catch (const std::bad_alloc&) {
        return fail(ZCOMP_ERR_SYSTEM);
    }
    m_result.adler = static_cast<uint32_t>(adler);

    unsigned char header[kHeaderSize];
    makeHeader(header, uint64_t(size), level, m_headerByte6, static_cast<uint32_t>(adler), mtime);
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

// Bytes of output one worker decodes at a time in a parallel expansion.
const size_t kExpandChunkBytes = size_t(1) << 20;
const unsigned kMaxExpandWorkers = 16;

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
    const int64_t total = static_cast<int64_t>(run.size / kBlock);
    for (size_t done = 0; done < len;) {
        size_t step = std::min<size_t>(kBlock, len - done);
        done += step;
        run.written += step;
        if (run.progress) run.progress(run.context, static_cast<int64_t>(run.written / kBlock), total);
    }
    return true;
}

// One thread decodes blocks through the reader into a ring of chunks; this
// thread sums and writes them in order. Stops at the first block that cannot
// be read. 0, or -1 on a write or thread failure.
int expandInOrder(CZio& reader, ExpandRun& run) {
    const size_t kChunkBlocks = 256, kChunks = 3;
    const uint64_t size = run.size;
    const int mode = run.mode;
    struct Chunk {
        std::vector<unsigned char> data;
        size_t len = 0;
        bool full = false;
    };
    Chunk chunks[kChunks];
    try {
        for (Chunk& ch : chunks) ch.data.resize(kChunkBlocks * kBlock);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::mutex lock;
    std::condition_variable filled, emptied;
    bool readerFinished = false, stop = false;
    uint64_t chunksRead = 0;
    auto readerMain = [&] {
        uint64_t decoded = 0;
        bool first = true;
        for (uint64_t k = 0; decoded < size; ++k) {
            Chunk& ch = chunks[k % kChunks];
            {
                std::unique_lock<std::mutex> g(lock);
                emptied.wait(g, [&] { return !ch.full || stop; });
                if (stop) break;
            }
            ch.len = 0;
            bool shortRead = false;
            for (size_t b = 0; b < kChunkBlocks && decoded < size; ++b) {
                unsigned char* block = ch.data.data() + ch.len;
                int got = reader.readBlock(block);
                if (got < 1) {
                    shortRead = true;
                    break;
                }
                if (first && mode == ZIO_SEBXA) CZComp::stripLzssIndex(block);
                first = false;
                // The last block is written with its real length, not padded.
                unsigned real = static_cast<unsigned>(std::min<uint64_t>(unsigned(got), size - decoded));
                ch.len += real;
                decoded += real;
            }
            std::lock_guard<std::mutex> g(lock);
            if (ch.len > 0) {
                ch.full = true;
                ++chunksRead;
                filled.notify_all();
            }
            if (shortRead) break;
        }
        std::lock_guard<std::mutex> g(lock);
        readerFinished = true;
        filled.notify_all();
    };
    std::thread readerThread;
    Joiner joiner{[&] {
        {
            std::lock_guard<std::mutex> g(lock);
            stop = true;
        }
        emptied.notify_all();
        if (readerThread.joinable()) readerThread.join();
    }};
    try {
        readerThread = std::thread(readerMain);
    } catch (const std::system_error&) {
        return -1;
    }

    run.adler = adler32(0L, Z_NULL, 0);
    run.written = 0;
    for (uint64_t k = 0;; ++k) {
        Chunk& ch = chunks[k % kChunks];
        {
            std::unique_lock<std::mutex> g(lock);
            filled.wait(g, [&] { return ch.full || (readerFinished && k >= chunksRead); });
            if (!ch.full) break;
        }
        if (mode == ZIO_EBZIP) run.adler = adler32(run.adler, ch.data.data(), static_cast<uInt>(ch.len));
        if (!writeDecoded(run, ch.data.data(), ch.len)) return -1;
        std::lock_guard<std::mutex> g(lock);
        ch.full = false;
        emptied.notify_one();
    }
    return 0;
}

// EBZip input on several threads: the output is cut into chunks of whole
// slices; each worker takes the next chunk, decodes it through its own reader
// and sums it; this thread writes the chunks in order and joins their sums.
// As in expandInOrder, the output ends at the first block that cannot be read.
// 0, or -1 on a write or thread failure.
int expandEbzipParallel(const std::vector<CZio*>& readers, unsigned sliceSize, ExpandRun& run) {
    const uint64_t size = run.size;
    const unsigned chunkSlices = expandChunkSlices(sliceSize);
    const size_t chunkBytes = size_t(chunkSlices) * sliceSize;
    const uint64_t chunks = expandChunkCount(size, sliceSize);
    const size_t workers = readers.size();
    const size_t ringSize = static_cast<size_t>(std::min<uint64_t>(chunks, uint64_t(workers) * 3));

    struct Chunk {
        std::vector<unsigned char> data;
        uint64_t seq = 0;
        size_t len = 0;
        uLong adler = 1;
        bool ready = false;
        bool failed = false;  // a block of it could not be read
    };
    std::vector<Chunk> ring;
    try {
        ring.resize(ringSize);
        for (Chunk& ch : ring) ch.data.resize(chunkBytes);
    } catch (const std::bad_alloc&) {
        return -1;
    }

    std::mutex lock;
    std::condition_variable ready, freed;
    uint64_t nextChunk = 0, consumed = 0;
    bool stop = false;

    auto workerMain = [&](CZio* reader) {
        for (;;) {
            uint64_t c;
            {
                std::unique_lock<std::mutex> g(lock);
                if (stop || nextChunk >= chunks) return;
                c = nextChunk++;
                // The chunk's slot is free once the chunk ringSize before it is written.
                freed.wait(g, [&] { return stop || c < consumed + ringSize; });
                if (stop) return;
            }
            Chunk& ch = ring[c % ringSize];
            const uint64_t begin = c * chunkBytes;
            const uint64_t end = std::min<uint64_t>(size, begin + chunkBytes);
            ch.len = 0;
            ch.failed = false;
            if (reader->seekBlock(static_cast<unsigned>(begin / kBlock + 1)) != 0) ch.failed = true;
            for (uint64_t pos = begin; !ch.failed && pos < end;) {
                int got = reader->readBlock(ch.data.data() + ch.len);
                if (got < 1) {
                    ch.failed = true;
                    break;
                }
                // The last block is written with its real length, not padded.
                unsigned real = static_cast<unsigned>(std::min<uint64_t>(unsigned(got), end - pos));
                ch.len += real;
                pos += real;
            }
            ch.adler = adler32(adler32(0L, Z_NULL, 0), ch.data.data(), static_cast<uInt>(ch.len));
            std::lock_guard<std::mutex> g(lock);
            ch.seq = c;
            ch.ready = true;
            ready.notify_all();
        }
    };

    std::vector<std::thread> threads;
    Joiner joiner{[&] {
        {
            std::lock_guard<std::mutex> g(lock);
            stop = true;
        }
        freed.notify_all();
        for (auto& t : threads)
            if (t.joinable()) t.join();
    }};
    try {
        threads.reserve(workers);
        for (CZio* r : readers) threads.emplace_back(workerMain, r);
    } catch (const std::system_error&) {
        return -1;
    }

    run.adler = adler32(0L, Z_NULL, 0);
    run.written = 0;
    for (uint64_t c = 0; c < chunks; ++c) {
        Chunk& ch = ring[c % ringSize];
        {
            std::unique_lock<std::mutex> g(lock);
            ready.wait(g, [&] { return ch.ready && ch.seq == c; });
        }
        run.adler = adler32_combine(run.adler, ch.adler, static_cast<z_off_t>(ch.len));
        if (!writeDecoded(run, ch.data.data(), ch.len)) return -1;
        if (ch.failed) break;
        std::lock_guard<std::mutex> g(lock);
        ch.ready = false;
        ++consumed;
        freed.notify_all();
    }
    return 0;
}

}  // namespace

int CZComp::expand(const char* input, const char* outputDir, unsigned epwingVersion, unsigned keepOriginal,
                   unsigned keepTree) {
    clearKeepRanges();
    memset(&m_result, 0, sizeof m_result);
    if (!input || !*input || strlen(input) > kPathLimit) return fail(ZCOMP_ERR_ARGUMENT);
    if (outputDir && strlen(outputDir) > kPathLimit) return fail(ZCOMP_ERR_ARGUMENT);
    const std::string in = input;
    struct stat st;
    if (stat(input, &st) != 0 || !S_ISREG(st.st_mode)) return fail(ZCOMP_ERR_NO_INPUT);
    m_result.outputSize = st.st_size;

    std::unique_ptr<CZio> reader(new (std::nothrow) CZio);
    if (!reader) return fail(ZCOMP_ERR_SYSTEM);
    if (reader->open(input, epwingVersion) != 0) return fail(ZCOMP_ERR_NO_INPUT);
    int64_t size = reader->fileSize();
    m_result.inputSize = size;
    reader->seekBlock(1);
    const ZIO_STATE* zs = reader->state();
    int mode = zs->mode;
    bool copy = mode == ZIO_PLAIN || size <= 0;

    std::string output;
    int rc = prepareOutput(in, outputDir, keepTree != 0, mode == ZIO_SSED, copy ? nullptr : ".org", m_result.outputPath,
                           sizeof m_result.outputPath, &output);
    if (rc != 0) return fail(rc);
    if (copy) {
        reader->close();
        return copyCase(in, output, st.st_size);
    }
    if (uint64_t(size) > kMaxInputSize) return fail(ZCOMP_ERR_SYSTEM);
    if (!claimOutput(in, output)) return fail(ZCOMP_ERR_SKIPPED);

    TempOutput out;
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
    unsigned threads = m_threads ? m_threads : std::max(1u, std::thread::hardware_concurrency());
    // Beyond this the ordered writer is the limit, and each worker holds
    // three chunks of output.
    threads = std::min(threads, kMaxExpandWorkers);
    std::vector<std::unique_ptr<CZio>> extra;
    std::vector<CZio*> readers{reader.get()};
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
    const int64_t total = size / kBlock;
    if (m_progress) m_progress(m_progressContext, static_cast<int64_t>(written / kBlock), total);
    if (mode == ZIO_EBZIP) m_result.adler = zs->headerAdler;
    if (mode == ZIO_EBZIP && (written < uint64_t(size) || uint32_t(adler) != zs->headerAdler))
        return fail(ZCOMP_ERR_CHECKSUM);
    if (written < uint64_t(size)) return fail(ZCOMP_ERR_SYSTEM);
    reader->close();
    if (!out.commit(!keepOriginal)) return fail(ZCOMP_ERR_OUTPUT);
    rememberOutput(output);
    if (!keepOriginal) unlink(input);
    return 0;
}

// ---- EPWING version ----

int CZComp::epwingVersionOf(const char* path) {
    if (!path || strlen(path) > kPathLimit) return 0;
    std::string name = namePart(path);
    if (name.size() < 6 || strncasecmp(name.c_str(), "HONMON", 6) != 0) return 0;
    std::string dataDir = dirPart(path);
    if (!equalsNoCase(trimTrailingBlanks(namePart(dataDir).c_str(), kPathSize), "DATA")) return 0;
    std::string subbookDir = dirPart(dataDir);
    std::string folder = trimTrailingBlanks(namePart(subbookDir).c_str(), kPathSize);
    if (folder.empty()) return 0;
    std::string root = dirPart(subbookDir);
    if (root.empty()) root = (!subbookDir.empty() && subbookDir[0] == '/') ? "/" : ".";

    std::unique_ptr<CEBCatalog> catalog(new (std::nothrow) CEBCatalog);
    if (!catalog) return 0;
    if (catalog->readCatalog(root.c_str(), "r", 1) < 1 || catalog->count() < 1) return 0;
    // The file's own name (and the name without its extension) is what the
    // catalog's graphics and sound file names describe.
    std::string base = name.substr(0, name.find('.'));
    auto namesFile = [&](const char* field) {
        std::string s = trimTrailingBlanks(field, 8);
        return !s.empty() && (equalsNoCase(s, name) || equalsNoCase(s, base));
    };
    int result = 0;
    for (int i = 0; i < catalog->count(); ++i) {
        const SUBBOOK_INFO* sb = catalog->subbook(i);
        if (!sb) continue;
        if (!equalsNoCase(trimTrailingBlanks(sb->directory, 8), folder)) continue;
        unsigned code = 0;
        // Version 1 slots carry no compression codes or file names.
        if (sb->version >= 2) {
            if (namesFile(sb->graphicsFileName))
                code = sb->graphicsCompression;
            else if (namesFile(sb->soundFileName))
                code = sb->soundCompression;
            else
                code = sb->textCompression;
        }
        result = code == 0x12 ? 6 : code == 0x11 ? 4 : sb->version;
        break;
    }
    catalog->reset();
    return result;
}

int checkEbzipFile(const char* path) {
    CZio reader;
    if (!path || reader.open(path, 0) != 0) return -1;
    if (reader.state()->mode != ZIO_EBZIP) return -1;
    return reader.checkCRC() == 0 ? 0 : -1;
}
