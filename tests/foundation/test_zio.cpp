// CZio: plain and EBZip reading, checksum check, slice cache, detection of
// the other storage forms, and hostile EBZip files.
#include "foundation/storage/CZio.h"

#include "foundation/book/BookConstants.h"
#include "tests/common/FifoOpen.h"
#include "tests/common/TestDir.h"
#include "tests/common/ZioFixtures.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using lftest::readFile;
using lftest::TestDir;
using lftest::writeFile;

namespace {

using lftest::Bytes;

// Block n (1-based) of an image as CZio must deliver it: zeros past the end.
Bytes blockOf(const Bytes& data, size_t n) {
    Bytes b(kBlockSize, 0);
    size_t at = (n - 1) * kBlockSize;
    for (size_t i = 0; i < kBlockSize && at + i < data.size(); ++i) b[i] = data[at + i];
    return b;
}

bool allZero(const Bytes& b) {
    for (unsigned char c : b)
        if (c) return false;
    return true;
}

size_t blockCount(size_t size) {
    return (size + kBlockSize - 1) / kBlockSize;
}

// Seeks block n and reads it into out (pre-filled with a marker so that an
// untouched buffer shows). Returns readBlock's result.
int readNth(CZio& z, unsigned n, Bytes& out) {
    out.assign(kBlockSize, 0xAA);
    if (z.seekBlock(n) != 0) return -100;
    return z.readBlock(out.data());
}

uint64_t getBE(const Bytes& f, size_t at, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | f[at + i];
    return v;
}

void putBE(Bytes& f, size_t at, int width, uint64_t v) {
    for (int i = width - 1; i >= 0; --i, v >>= 8) f[at + i] = (unsigned char)v;
}

// Where things lie in an EBZip file, computed from its header.
struct EbzipLayout {
    unsigned sliceSize = 0;
    int width = 0;
    size_t slices = 0;
    size_t dataStart = 0;
    uint64_t entry(const Bytes& f, size_t i) const { return getBE(f, 22 + i * width, width); }
    void setEntry(Bytes& f, size_t i, uint64_t v) const { putBE(f, 22 + i * width, width, v); }
};

EbzipLayout layoutOf(const Bytes& f) {
    EbzipLayout l;
    uint64_t size = getBE(f, 8, 6);
    l.sliceSize = 2048u << (f[5] & 15);
    l.width = size < 0x10000 ? 2 : size < 0x1000000 ? 3 : size < 0x100000000ULL ? 4 : 5;
    l.slices = size_t((size + l.sliceSize - 1) / l.sliceSize);
    l.dataStart = 22 + (l.slices + 1) * l.width;
    return l;
}

// First slice whose stored span is (raw) or is not (deflated) the slice size.
size_t findSlice(const Bytes& f, bool raw, size_t from = 0) {
    EbzipLayout l = layoutOf(f);
    for (size_t i = from; i < l.slices; ++i) {
        bool isRaw = l.entry(f, i + 1) - l.entry(f, i) == l.sliceSize;
        if (isRaw == raw) return i;
    }
    return size_t(-1);
}

// Reads every block from block 1 on, in order, and compares with the image;
// the block after the last must give 0 and a zero block.
void expectSameBlocks(CZio& z, const Bytes& data) {
    ASSERT_EQ(z.seekBlock(1), 0);
    Bytes got(kBlockSize);
    for (size_t n = 1; n <= blockCount(data.size()); ++n) {
        std::fill(got.begin(), got.end(), 0xAA);
        ASSERT_EQ(z.readBlock(got.data()), int(kBlockSize)) << "block " << n;
        ASSERT_EQ(got, blockOf(data, n)) << "block " << n;
    }
    std::fill(got.begin(), got.end(), 0xAA);
    EXPECT_EQ(z.readBlock(got.data()), 0);
    EXPECT_TRUE(allZero(got));
}

class ZioEbzipTool : public ::testing::Test {
protected:
    // An ebzip-made file of `data` at `level`, in a directory of its own.
    std::string make(const Bytes& data, int level) {
        m_dirs.emplace_back(new TestDir);
        std::string path = lftest::ebzipWithTool(m_dirs.back()->path(), data, level);
        EXPECT_FALSE(path.empty()) << "ebzip failed at level " << level;
        return path;
    }
    std::vector<std::unique_ptr<TestDir>> m_dirs;
};

// ---------------------------------------------------------------- plain files

TEST(ZioPlain, ReadsFilesOfEverySizeBlockByBlock) {
    struct Case {
        const char* name;
        size_t size;
        int openResult;
    } cases[] = {
        {"31 bytes is too short to open", 31, -1},
        {"32 bytes opens with one short block", 32, 0},
        {"one whole block", 2048, 0},
        {"one byte into the second block", 2049, 0},
        {"last block partial", 5000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        Bytes data(c.size);
        for (size_t i = 0; i < c.size; ++i) data[i] = (unsigned char)(i * 7 + 1);
        ASSERT_TRUE(writeFile(dir.file("DATA"), data));

        CZio z;
        ASSERT_EQ(z.open(dir.file("DATA").c_str(), 0), c.openResult);
        if (c.openResult != 0) continue;
        EXPECT_EQ(z.state()->mode, ZIO_PLAIN);
        EXPECT_EQ(z.fileSize(), int64_t(c.size));
        Bytes got(kBlockSize);
        for (size_t n = 1; n <= blockCount(c.size); ++n) {
            std::fill(got.begin(), got.end(), 0xAA);
            size_t expect = std::min<size_t>(kBlockSize, c.size - (n - 1) * kBlockSize);
            ASSERT_EQ(z.readBlock(got.data()), int(expect)) << "block " << n;
            EXPECT_EQ(got, blockOf(data, n)) << "block " << n;  // short read zero-filled
        }
        std::fill(got.begin(), got.end(), 0xAA);
        EXPECT_EQ(z.readBlock(got.data()), 0);
        EXPECT_TRUE(allZero(got));
        EXPECT_EQ(z.checkCRC(), -2);
    }
}

TEST(ZioPlain, SeekBlockZeroGivesAZeroBlock) {
    TestDir dir;
    Bytes data(5000, 0x41);
    ASSERT_TRUE(writeFile(dir.file("DATA"), data));
    CZio z;
    ASSERT_EQ(z.open(dir.file("DATA").c_str(), 0), 0);
    Bytes got(kBlockSize, 0xAA);
    EXPECT_EQ(z.seekBlock(0), -1);
    EXPECT_EQ(z.readBlock(got.data()), 0);
    EXPECT_TRUE(allZero(got));
    EXPECT_EQ(readNth(z, 2, got), int(kBlockSize));
    EXPECT_EQ(got, blockOf(data, 2));
}

TEST(ZioPlain, UnopenedReaderFailsEverything) {
    CZio z;
    Bytes got(kBlockSize, 0xAA);
    EXPECT_EQ(z.open("/nonexistent/zio/file", 0), -1);
    EXPECT_EQ(z.seekBlock(1), -1);
    EXPECT_EQ(z.readBlock(got.data()), 0);
    EXPECT_TRUE(allZero(got));
    EXPECT_EQ(z.checkCRC(), -2);
    EXPECT_EQ(z.open(nullptr, 0), -1);
    z.close();
    z.close();
}

// Only a regular file is opened: a FIFO is refused at once instead of
// waiting for a writer (which would hang every caller), and so is a folder.
TEST(ZioPlain, OnlyRegularFilesAreOpened) {
    TestDir dir;
    int rc = 0;
    EXPECT_TRUE(lftest::opensFifoWithoutWaiting(
        dir.file("HONMON"), [](const char* path) { return CZio().open(path, 0); }, &rc))
        << "the open waited for a writer";
    EXPECT_EQ(-1, rc);

    CZio z;
    EXPECT_EQ(-1, z.open(dir.path().c_str(), 0));
}

// ---------------------------------------------------------------- EBZip

class ZioEbzipLevels : public ZioEbzipTool, public ::testing::WithParamInterface<int> {};

// Three slices even at level 5; the last block is partial.
TEST_P(ZioEbzipLevels, ReadsEbzipFileAsTheOriginal) {
    const int level = GetParam();
    Bytes data = lftest::makeBookText(150001, 3);
    std::string path = make(data, level);
    ASSERT_FALSE(path.empty());

    CZio z;
    ASSERT_EQ(z.open(path.c_str(), 0), 0);
    EXPECT_EQ(z.state()->mode, ZIO_EBZIP);
    EXPECT_EQ(z.state()->level, level);
    EXPECT_EQ(z.state()->sliceSize, 2048 << level);
    EXPECT_EQ(z.state()->slotCount, 2);
    EXPECT_EQ(z.fileSize(), int64_t(data.size()));
    expectSameBlocks(z, data);
    EXPECT_EQ(z.checkCRC(), 0);

    // Random access, backwards, across slices.
    Bytes got;
    for (size_t n = blockCount(data.size()); n >= 1; n -= 7) {
        ASSERT_EQ(readNth(z, unsigned(n), got), int(kBlockSize)) << "block " << n;
        ASSERT_EQ(got, blockOf(data, n)) << "block " << n;
        if (n <= 7) break;
    }
    // Far beyond the last slice.
    EXPECT_EQ(readNth(z, 0xFFFFFFFFu, got), 0);
    EXPECT_TRUE(allZero(got));
    EXPECT_EQ(z.seekBlock(0), -1);
    EXPECT_EQ(z.readBlock(got.data()), 0);
    EXPECT_TRUE(allZero(got));
}

INSTANTIATE_TEST_SUITE_P(Levels, ZioEbzipLevels, ::testing::Values(0, 1, 2, 3, 4, 5));

TEST_F(ZioEbzipTool, CheckCrcSeesOneFlippedByte) {
    Bytes data = lftest::makeBookText(40000, 11);
    std::string path = make(data, 0);
    ASSERT_FALSE(path.empty());
    const Bytes original = readFile(path);
    const EbzipLayout l = layoutOf(original);
    const size_t rawSlice = findSlice(original, true);
    const size_t deflatedSlice = findSlice(original, false);
    ASSERT_NE(rawSlice, size_t(-1));
    ASSERT_NE(deflatedSlice, size_t(-1));

    struct Case {
        const char* name;
        size_t offset;
        int expect;
    } cases[] = {
        {"unchanged", 0, 0},
        {"byte of a stored slice", size_t(l.entry(original, rawSlice)) + 1000, -1},
        {"byte of a deflated slice", size_t(l.entry(original, deflatedSlice)) + 8, -1},
        {"byte of the checksum", 16, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = original;
        if (c.offset) f[c.offset] ^= 0x01;
        ASSERT_TRUE(writeFile(path, f));
        CZio z;
        ASSERT_EQ(z.open(path.c_str(), 0), 0);
        EXPECT_EQ(z.checkCRC(), c.expect);
    }
}

TEST_F(ZioEbzipTool, CheckCrcReportsProgressPerBlock) {
    Bytes data = lftest::makeBookText(5 * 2048 - 100, 2);
    std::string path = make(data, 1);
    ASSERT_FALSE(path.empty());
    std::vector<std::pair<int64_t, int64_t>> calls;
    CZio z;
    ASSERT_EQ(z.open(path.c_str(), 0), 0);
    z.setProgressCallback(
        [](void* ctx, int64_t block, int64_t total) {
            static_cast<std::vector<std::pair<int64_t, int64_t>>*>(ctx)->push_back({block, total});
        },
        &calls);
    EXPECT_EQ(z.checkCRC(), 0);
    std::vector<std::pair<int64_t, int64_t>> expect = {{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}};
    EXPECT_EQ(calls, expect);
}

// Slices of two blocks. Once two slices are cached the file's data is
// overwritten on disk: cached slices still read right, a third slice evicts
// the slot used longest ago.
TEST_F(ZioEbzipTool, TwoSlotCacheFillsEachSliceOnce) {
    Bytes data = lftest::makeBookText(8 * 2048, 4);
    std::string path = make(data, 1);
    ASSERT_FALSE(path.empty());
    const EbzipLayout l = layoutOf(readFile(path));

    CZio z;
    ASSERT_EQ(z.open(path.c_str(), 0), 0);
    Bytes got;
    ASSERT_EQ(readNth(z, 1, got), int(kBlockSize));  // slice 0
    ASSERT_EQ(got, blockOf(data, 1));
    ASSERT_EQ(readNth(z, 3, got), int(kBlockSize));  // slice 1
    ASSERT_EQ(got, blockOf(data, 3));

    FILE* f = fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseek(f, long(l.dataStart), SEEK_SET), 0);
    Bytes junk(readFile(path).size() - l.dataStart, 0x5A);
    ASSERT_EQ(fwrite(junk.data(), 1, junk.size(), f), junk.size());
    fclose(f);

    for (unsigned n : {2u, 1u, 4u, 3u, 1u}) {  // all from the two cached slices
        ASSERT_EQ(readNth(z, n, got), int(kBlockSize)) << "block " << n;
        EXPECT_EQ(got, blockOf(data, n)) << "block " << n;
    }
    readNth(z, 5, got);  // slice 2: read from the overwritten file
    EXPECT_NE(got, blockOf(data, 5));
    ASSERT_EQ(readNth(z, 4, got), int(kBlockSize));  // slice 1 was kept
    EXPECT_EQ(got, blockOf(data, 4));
    readNth(z, 1, got);  // slice 0 was evicted
    EXPECT_NE(got, blockOf(data, 1));
}

TEST_F(ZioEbzipTool, TwoReadersWorkAtTheSameTime) {
    Bytes a = lftest::makeBookText(60000, 21), b = lftest::makeBookText(70000, 22);
    std::string pa = make(a, 0), pb = make(b, 3);
    ASSERT_FALSE(pa.empty());
    ASSERT_FALSE(pb.empty());

    auto readAll = [](const std::string& path, const Bytes& data, int rounds, bool* ok) {
        *ok = true;
        CZio z;
        if (z.open(path.c_str(), 0) != 0) {
            *ok = false;
            return;
        }
        Bytes got(kBlockSize);
        for (int r = 0; r < rounds && *ok; ++r) {
            z.seekBlock(1);
            for (size_t n = 1; n <= blockCount(data.size()); ++n)
                if (z.readBlock(got.data()) != int(kBlockSize) || got != blockOf(data, n)) *ok = false;
            if (z.checkCRC() != 0) *ok = false;
        }
    };
    bool okA = false, okB = false;
    std::thread ta(readAll, pa, a, 20, &okA), tb(readAll, pb, b, 20, &okB);
    ta.join();
    tb.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);

    // Interleaved on one thread, block by block.
    CZio za, zb;
    ASSERT_EQ(za.open(pa.c_str(), 0), 0);
    ASSERT_EQ(zb.open(pb.c_str(), 0), 0);
    Bytes ga(kBlockSize), gb(kBlockSize);
    for (size_t n = 1; n <= blockCount(a.size()); ++n) {
        ASSERT_EQ(za.readBlock(ga.data()), int(kBlockSize));
        ASSERT_EQ(zb.readBlock(gb.data()), int(kBlockSize));
        ASSERT_EQ(ga, blockOf(a, n));
        ASSERT_EQ(gb, blockOf(b, n));
    }
}

TEST_F(ZioEbzipTool, OneReaderOpensFileAfterFile) {
    Bytes a = lftest::makeBookText(9000, 31), b = lftest::makeBookText(30000, 32);
    std::string pa = make(a, 2), pb = make(b, 0);
    ASSERT_FALSE(pa.empty());
    ASSERT_FALSE(pb.empty());
    TestDir dir;
    Bytes plain(3000, 0x33);
    ASSERT_TRUE(writeFile(dir.file("PLAIN"), plain));

    CZio z;
    ASSERT_EQ(z.open(pa.c_str(), 0), 0);
    expectSameBlocks(z, a);
    ASSERT_EQ(z.open(dir.file("PLAIN").c_str(), 0), 0);  // without close in between
    EXPECT_EQ(z.state()->mode, ZIO_PLAIN);
    Bytes got;
    EXPECT_EQ(readNth(z, 2, got), 3000 - 2048);
    z.close();
    z.close();
    ASSERT_EQ(z.open(pb.c_str(), 0), 0);
    expectSameBlocks(z, b);
    EXPECT_EQ(z.checkCRC(), 0);
}

// Hostile EBZip files. Each case damages an ebzip-made file (level 1: slices
// of 4096 bytes, 2-byte index entries); blocks of the damaged slices must
// give 0 and a zero block (no stale bytes from the slot's last slice), all
// other blocks their right bytes, and nothing may overrun or allocate wildly.
TEST_F(ZioEbzipTool, HostileEbzipFilesFailCleanly) {
    const Bytes data = lftest::makeBookText(30000, 7);
    const std::string path = make(data, 1);
    ASSERT_FALSE(path.empty());
    const Bytes original = readFile(path);
    const EbzipLayout l = layoutOf(original);
    const size_t deflated = findSlice(original, false, 1);
    ASSERT_EQ(l.sliceSize, 4096u);
    ASSERT_EQ(l.width, 2);
    ASSERT_GE(l.slices, 7u);
    ASSERT_GE(deflated, 1u);
    ASSERT_LT(deflated, l.slices - 1);
    const size_t last = l.slices - 1;
    std::set<size_t> all;
    for (size_t i = 0; i < l.slices; ++i) all.insert(i);

    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        std::set<size_t> failing;   // slices that must fail
        std::set<size_t> dontCare;  // slices whose content is not checked
    } cases[] = {
        {"level 6", [](Bytes& f) { f[5] = 0x16; }, all, {}},
        {"level 15", [](Bytes& f) { f[5] = 0x1F; }, all, {}},
        {"entry goes backwards", [&](Bytes& f) { l.setEntry(f, 3, l.entry(f, 2) - 1); }, {2}, {3}},
        {"span one longer than a slice",
         [&](Bytes& f) { l.setEntry(f, 3, l.entry(f, 2) + l.sliceSize + 1); },
         {2},
         {3}},
        {"span of zero", [&](Bytes& f) { l.setEntry(f, 3, l.entry(f, 2)); }, {2}, {3}},
        {"first entry inside the index", [&](Bytes& f) { l.setEntry(f, 0, l.dataStart - 1); }, {0}, {}},
        {"last entry past the end of the file", [&](Bytes& f) { l.setEntry(f, l.slices, f.size() + 1); }, {last}, {}},
        {"file cut inside the last slice", [](Bytes& f) { f.resize(f.size() - 3); }, {last}, {}},
        {"file cut inside the slice index", [](Bytes& f) { f.resize(32); }, all, {}},
        {"deflated slice inflates short",
         [&](Bytes& f) {
             // A whole zlib stream of 100 bytes where the slice's stream was,
             // followed by the rest of the old span.
             Bytes small(100, 0x42), z(200);
             uLongf zlen = uLongf(z.size());
             compress(z.data(), &zlen, small.data(), uLong(small.size()));
             size_t at = size_t(l.entry(f, deflated));
             ASSERT_LE(zlen, l.entry(f, deflated + 1) - at);
             std::copy(z.begin(), z.begin() + zlen, f.begin() + at);
         },
         {deflated},
         {}},
        {"deflated slice damaged in its middle",
         [&](Bytes& f) {
             size_t at = size_t(l.entry(f, deflated)), end = size_t(l.entry(f, deflated + 1));
             for (size_t i = at + 2; i < end; ++i) f[i] = 0xFF;
         },
         {deflated},
         {}},
        {"uncompressed size of 2^48 - 1", [](Bytes& f) { putBE(f, 8, 6, 0xFFFFFFFFFFFFULL); }, all, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = original;
        c.damage(f);
        ASSERT_TRUE(writeFile(path, f));
        CZio z;
        ASSERT_EQ(z.open(path.c_str(), 0), 0);
        EXPECT_EQ(z.state()->mode, ZIO_EBZIP);
        Bytes got(kBlockSize);
        // Forwards then backwards, so that failing slices follow good ones in a slot.
        std::vector<size_t> order;
        for (size_t n = 1; n <= blockCount(data.size()); ++n) order.push_back(n);
        for (size_t n = blockCount(data.size()); n >= 1; --n) order.push_back(n);
        for (size_t n : order) {
            size_t slice = (n - 1) * kBlockSize / l.sliceSize;
            int r = readNth(z, unsigned(n), got);
            if (c.failing.count(slice)) {
                EXPECT_EQ(r, 0) << "block " << n;
                EXPECT_TRUE(allZero(got)) << "block " << n;
            } else if (!c.dontCare.count(slice)) {
                EXPECT_EQ(r, int(kBlockSize)) << "block " << n;
                EXPECT_EQ(got, blockOf(data, n)) << "block " << n;
            }
        }
        EXPECT_EQ(readNth(z, unsigned(blockCount(data.size()) + 1), got), 0);
        EXPECT_EQ(z.checkCRC(), -1);
    }
}

// An EBZip file whose slices are all stored raw, written here for any
// level nibble: header (magic, mode 1 / level, bytes 6-7 zero, 48-bit size,
// Adler-32, mtime 0), the index entries, then the zero-padded slices.
Bytes storedEbzip(unsigned level, const Bytes& data) {
    const uint64_t slice = 2048ULL << level, size = data.size();
    const size_t slices = size_t((size + slice - 1) / slice);
    const int width = size < 0x10000 ? 2 : size < 0x1000000 ? 3 : 4;
    const size_t dataStart = 22 + (slices + 1) * width;
    Bytes f(dataStart, 0);
    memcpy(f.data(), "EBZip", 5);
    f[5] = (unsigned char)(0x10 | level);
    putBE(f, 8, 6, size);
    putBE(f, 14, 4, adler32(adler32(0, Z_NULL, 0), data.data(), uInt(size)));
    for (size_t i = 0; i <= slices; ++i) putBE(f, 22 + i * width, width, dataStart + i * slice);
    f.insert(f.end(), data.begin(), data.end());
    f.resize(dataStart + slices * slice, 0);
    return f;
}

// Writes the EBZip file f to path and opens it: as EBZip always; when
// readable, its blocks are data and its check passes, else nothing reads and
// its check fails.
void expectEbzipReadOrNot(const std::string& path, const Bytes& f, const Bytes& data, bool readable) {
    ASSERT_TRUE(writeFile(path, f));
    CZio z;
    ASSERT_EQ(z.open(path.c_str(), 0), 0);
    EXPECT_EQ(z.state()->mode, ZIO_EBZIP);
    if (readable) {
        expectSameBlocks(z, data);
        EXPECT_EQ(z.checkCRC(), 0);
    } else {
        Bytes got;
        EXPECT_EQ(readNth(z, 1, got), 0);
        EXPECT_TRUE(allZero(got));
        EXPECT_EQ(z.checkCRC(), -1);
    }
}

// A level above 5 is refused even when the file would be well formed for it.
TEST(ZioEbzip, LevelAboveFiveIsNeverRead) {
    TestDir dir;
    for (unsigned level : {5u, 6u, 15u}) {
        SCOPED_TRACE(level);
        Bytes data(size_t(2048) << (level < 6 ? level : 6));
        for (size_t i = 0; i < data.size(); ++i) data[i] = (unsigned char)(i * 31 + i / 256);
        expectEbzipReadOrNot(dir.file("HONMON.ebz"), storedEbzip(level, data), data, level <= 5);
    }
}

// Header byte 5: a mode nibble other than 1 or 2 is a form no reader knows.
// Such a file opens as EBZip, but nothing of it reads and its check fails,
// even when it announces no bytes (whose checksum 1 would otherwise agree).
// Mode 2 is read whatever the size.
TEST(ZioEbzip, UnknownModesAreNeverRead) {
    TestDir dir;
    Bytes data(3 * 2048 + 5);
    for (size_t i = 0; i < data.size(); ++i) data[i] = (unsigned char)(i * 7 + i / 300);
    const struct {
        const char* name;
        size_t size;  // of data, 0 or all
        unsigned char byte5;
        bool readable;
    } cases[] = {
        {"mode 0", data.size(), 0x00, false},  {"mode 3", data.size(), 0x30, false},
        {"mode 4", data.size(), 0x40, false},  {"mode 8", data.size(), 0x80, false},
        {"mode 15", data.size(), 0xF0, false}, {"mode 0 over no bytes", 0, 0x00, false},
        {"level 6 over no bytes", 0, 0x16, false}, {"mode 2", data.size(), 0x20, true},
        {"mode 2 over no bytes", 0, 0x20, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes plain(data.begin(), data.begin() + c.size);
        Bytes f = storedEbzip(0, plain);
        f.resize(std::max<size_t>(f.size(), 32), 0);  // a reader needs 32 bytes
        f[5] = c.byte5;
        expectEbzipReadOrNot(dir.file("HONMON.ebz"), f, plain, c.readable);
    }
}

TEST(ZioEbzip, SizeFieldOfZeroHasNoBlocks) {
    // Header only: "EBZip", mode 1 / level 0 (0x10), bytes 6-7 zero,
    // size 0 (8-13), Adler-32 of nothing = 1 (14-17), mtime (18-21),
    // then the single index entry (2 bytes: 24, the end) and padding to 32.
    Bytes f = {'E', 'B', 'Z', 'i', 'p', 0x10, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,
               0,   1,   0,   0,   0,   0,    0, 24, 0, 0, 0, 0, 0, 0, 0, 0};
    TestDir dir;
    ASSERT_TRUE(writeFile(dir.file("EMPTY.ebz"), f));
    CZio z;
    ASSERT_EQ(z.open(dir.file("EMPTY.ebz").c_str(), 0), 0);
    EXPECT_EQ(z.fileSize(), 0);
    Bytes got;
    EXPECT_EQ(readNth(z, 1, got), 0);
    EXPECT_TRUE(allZero(got));
    EXPECT_EQ(z.checkCRC(), 0);
    f[17] = 2;  // a checksum that nothing sums to
    ASSERT_TRUE(writeFile(dir.file("EMPTY.ebz"), f));
    ASSERT_EQ(z.open(dir.file("EMPTY.ebz").c_str(), 0), 0);
    EXPECT_EQ(z.checkCRC(), -1);
}

// ---------------------------------------------------------------- detection

// An EPWING Huffman header: A = 32 (index right after the header),
// B = 3 records of 36 bytes, C = A + B, D = 512 (V4 table of byte leaves),
// E = C + D; the last index record has pages 1-7 present and 8-15 absent.
Bytes huffmanFile() {
    const uint32_t a = 32, b = 3 * 36, c = a + b, d = 512, e = c + d;
    Bytes f(e + 64, 0);
    putBE(f, 0, 4, a);
    putBE(f, 4, 4, b);
    putBE(f, 8, 4, c);
    putBE(f, 12, 4, d);
    putBE(f, 16, 4, e);
    for (int k = 1; k <= 7; ++k) putBE(f, c - 36 + 4 + 2 * k, 2, 4 * k);  // page offsets
    return f;
}

// Block 1 of a START file holding the records with the given ids, each
// with start block 3 + i and 2 blocks (count at bytes 0-1, 16-byte records
// from byte 16: id at +0, start at +2, count at +6).
Bytes startFile(std::initializer_list<int> ids) {
    Bytes f(3 * kBlockSize, 0x11);
    std::fill(f.begin(), f.begin() + kBlockSize, 0);
    putBE(f, 0, 2, ids.size());
    size_t i = 0;
    for (int id : ids) {
        f[16 + 16 * i] = (unsigned char)id;
        putBE(f, 16 + 16 * i + 2, 4, 3 + i);
        putBE(f, 16 + 16 * i + 6, 4, 2);
        ++i;
    }
    return f;
}

TEST(ZioDetect, FormsAreDetectedInOrder) {
    Bytes ebzipHeader = {'E', 'B', 'Z', 'i', 'p', 0x10, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,
                         0,   1,   0,   0,   0,   0,    0, 24, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes ssed(256, 0);
    memcpy(ssed.data(), "SSEDINFO", 8);
    Bytes huffman = huffmanFile();
    Bytes ebxa = startFile({0x00, 0x21, 0x22});
    Bytes wrap = huffmanFile();  // A + B = C only modulo 2^32
    putBE(wrap, 0, 4, 0xFFFFFFFFu);
    putBE(wrap, 4, 4, 2 * 36);
    putBE(wrap, 8, 4, 71);
    putBE(wrap, 12, 4, 512);
    putBE(wrap, 16, 4, 71 + 512);
    Bytes shortIndex = huffmanFile();  // B below one record
    putBE(shortIndex, 4, 4, 20);
    putBE(shortIndex, 8, 4, 52);
    putBE(shortIndex, 16, 4, 52 + 512);
    Bytes pastEnd = huffmanFile();  // tables end beyond the file
    pastEnd.resize(32 + 3 * 36 + 100);

    struct Case {
        const char* name;
        const char* file;
        Bytes bytes;
        unsigned hint;
        int openResult;
        int mode;
    } cases[] = {
        {"EBZip magic before a START name", "START", ebzipHeader, 0, 0, ZIO_EBZIP},
        {"SSEDINFO magic", "BOOK.IDX", ssed, 0, -1, ZIO_SSED},
        {"SSEDINFO magic before a START name", "START", ssed, 0, -1, ZIO_SSED},
        {"START with text, 0x21 and 0x22 records", "START", ebxa, 0, -1, ZIO_SEBXA},
        {"start in lower case", "start", ebxa, 0, -1, ZIO_SEBXA},
        {"START without 0x21 and 0x22 is plain", "START", startFile({0x00, 0x02}), 0, 0, ZIO_PLAIN},
        {"START without 0x22 is plain", "START", startFile({0x00, 0x21}), 0, 0, ZIO_PLAIN},
        {"S-EBXA records in a file not named START", "HONMON", ebxa, 0, 0, ZIO_PLAIN},
        {"Huffman header in a START file is plain", "START", huffman, 4, 0, ZIO_PLAIN},
        {"Huffman header, hint 4", "HONMON2", huffman, 4, -1, ZIO_EPWING},
        {"Huffman header, hint 5", "HONMON2", huffman, 5, -1, ZIO_EPWING},
        {"Huffman header, hint 0", "HONMON2", huffman, 0, -1, ZIO_EPWING6},
        {"Huffman header, hint 6", "HONMON2", huffman, 6, -1, ZIO_EPWING6},
        {"32 zero bytes are plain", "HONMON", Bytes(32, 0), 0, 0, ZIO_PLAIN},
        {"A + B wrapping 32 bits is plain", "HONMON", wrap, 0, 0, ZIO_PLAIN},
        {"page index under one record is plain", "HONMON", shortIndex, 0, 0, ZIO_PLAIN},
        {"tables past the end of the file are plain", "HONMON", pastEnd, 0, 0, ZIO_PLAIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        std::string path = dir.file(c.file);
        ASSERT_TRUE(writeFile(path, c.bytes));
        CZio z;
        EXPECT_EQ(z.open(path.c_str(), c.hint), c.openResult);
        EXPECT_EQ(z.state()->mode, c.mode);
        Bytes got(kBlockSize, 0xAA);
        if (c.openResult != 0) {  // nothing can be read after a failed open
            EXPECT_EQ(z.readBlock(got.data()), 0);
            EXPECT_TRUE(allZero(got));
        }
        if (c.mode == ZIO_PLAIN) {
            EXPECT_EQ(z.fileSize(), int64_t(c.bytes.size()));
        }
    }
}

TEST(ZioDetect, DetectionKeepsTheHeaderFields) {
    TestDir dir;
    Bytes huffman = huffmanFile();
    ASSERT_TRUE(writeFile(dir.file("HONMON2"), huffman));
    CZio z;
    EXPECT_EQ(z.open(dir.file("HONMON2").c_str(), 4), -1);
    const ZIO_STATE* s = z.state();
    EXPECT_EQ(s->huffmanHeader[0], 32u);
    EXPECT_EQ(s->huffmanHeader[1], 108u);
    EXPECT_EQ(s->huffmanHeader[2], 140u);
    EXPECT_EQ(s->huffmanHeader[3], 512u);
    EXPECT_EQ(s->huffmanHeader[4], 652u);
    EXPECT_EQ(s->slotCount, 16);
    EXPECT_EQ(s->sliceSize, 2048);
    EXPECT_EQ(z.fileSize(), 3 * 32768 - 8 * 2048);  // 8 absent pages in the last group

    ASSERT_TRUE(writeFile(dir.file("START"), startFile({0x00, 0x21, 0x22})));
    EXPECT_EQ(z.open(dir.file("START").c_str(), 0), -1);
    EXPECT_EQ(s->ebxaTextStart, 3u);
    EXPECT_EQ(s->ebxaTextBlocks, 2u);
    EXPECT_EQ(s->ebxaSliceStart, 4u);
    EXPECT_EQ(s->ebxaTableStart, 5u);
    EXPECT_EQ(s->sliceSize, 4096);
    EXPECT_EQ(s->slotCount, 2);

    Bytes ssed(256, 0);
    memcpy(ssed.data(), "SSEDINFO", 8);
    ASSERT_TRUE(writeFile(dir.file("BOOK.IDX"), ssed));
    EXPECT_EQ(z.open(dir.file("BOOK.IDX").c_str(), 0), -1);
    EXPECT_EQ(std::string(s->path), dir.path());  // SSED keeps the directory
    EXPECT_EQ(s->sliceSize, 32768);
}

}  // namespace
