// CBlockStream: blocks and positions, big-endian numbers, BCD, back-patching,
// memory and file mode, and the reading side.
#include "foundation/book/CBlockStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/FileHandle.h"
#include "tests/common/TestDir.h"

namespace {

const int kB = kBlockSize;

std::vector<unsigned char> pageBytes(CBlockStream& s, uint32_t index, int from, int n) {
    const unsigned char* p = s.page(index);
    return std::vector<unsigned char>(p + from, p + from + n);
}

void fill(CBlockStream& s, int n, unsigned char value) {
    std::vector<unsigned char> bytes(static_cast<size_t>(n), value);
    s.writeBytes(bytes.data(), bytes.size());
}

TEST(BlockStream, NewStreamIsOneBlockAtItsStart) {
    CBlockStream s(5, 0);
    EXPECT_EQ(s.blockCount(), 1u);
    BLOCK_POS pos{0, 99};
    EXPECT_EQ(s.tell(&pos), 1);
    EXPECT_EQ(pos.block, 5u);
    EXPECT_EQ(pos.offset, 0);
    EXPECT_EQ(s.startBlock(), 5u);
    EXPECT_EQ(s.isFileMode(), 0);
    EXPECT_EQ(s.seekFileBlock(5), -1);
}

TEST(BlockStream, BigEndianNumbers) {
    CBlockStream s(1, 0);
    s.writeByte(0x1AB);
    s.writeWord16(0x12345);
    s.writeDword32(0xDEADBEEF);
    EXPECT_EQ(pageBytes(s, 0, 0, 7), (std::vector<unsigned char>{0xAB, 0x23, 0x45, 0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(s.currentOffset(), 7);
}

// What lands where when a value meets the end of a block.
struct BoundaryCase {
    const char* name;
    int prefill;                      // bytes of 0xFF written first
    void (*write)(CBlockStream&);     // the value written next
    std::vector<unsigned char> tail;  // last bytes of block 1 from prefill on
    std::vector<unsigned char> next;  // first bytes of block 2, if any
};

const BoundaryCase kBoundaryCases[] = {
    {"word16 skips the last byte", 2047, [](CBlockStream& s) { s.writeWord16(0x1234); }, {0x00}, {0x12, 0x34}},
    {"dword32 skips three bytes",
     2045,
     [](CBlockStream& s) { s.writeDword32(0x01020304); },
     {0x00, 0x00, 0x00},
     {0x01, 0x02, 0x03, 0x04}},
    {"code skips the last byte", 2047, [](CBlockStream& s) { s.writeCode(0x1F0A); }, {0x00}, {0x1F, 0x0A}},
    {"bytes continue across",
     2047,
     [](CBlockStream& s) {
         const unsigned char b[3] = {0xA1, 0xA2, 0xA3};
         s.writeBytes(b, 3);
     },
     {0xA1},
     {0xA2, 0xA3}},
    {"bcd continues across", 2046, [](CBlockStream& s) { s.writeBcd(12345678, 4); }, {0x12, 0x34}, {0x56, 0x78}},
    {"word16 that fits exactly stays", 2046, [](CBlockStream& s) { s.writeWord16(0xABCD); }, {0xAB, 0xCD}, {}},
};

TEST(BlockStream, ValuesAtTheEndOfABlock) {
    for (const BoundaryCase& c : kBoundaryCases) {
        SCOPED_TRACE(c.name);
        CBlockStream s(1, 0);
        fill(s, c.prefill, 0xFF);
        c.write(s);
        EXPECT_EQ(pageBytes(s, 0, c.prefill, static_cast<int>(c.tail.size())), c.tail);
        ASSERT_EQ(s.blockCount(), c.next.empty() ? 1u : 2u);
        if (!c.next.empty()) {
            EXPECT_EQ(pageBytes(s, 1, 0, static_cast<int>(c.next.size())), c.next);
        }
    }
}

TEST(BlockStream, TellAndFinishAtBlockEdges) {
    CBlockStream s(3, 0);
    s.finish();  // nothing written: stays
    EXPECT_EQ(s.blockCount(), 1u);
    EXPECT_EQ(s.currentBlock(), 3u);

    fill(s, kB, 0x11);
    EXPECT_EQ(s.blockCount(), 1u);  // full, not yet moved on
    BLOCK_POS pos{};
    s.tell(&pos);
    EXPECT_EQ(pos.block, 4u);
    EXPECT_EQ(pos.offset, 0);
    EXPECT_EQ(s.blockCount(), 2u);

    s.writeByte(1);
    s.finish();
    EXPECT_EQ(s.currentBlock(), 5u);
    EXPECT_EQ(s.currentOffset(), 0);
    EXPECT_EQ(s.blockCount(), 3u);
}

struct BcdWriteCase {
    const char* name;
    uint64_t value;
    int n;
    std::vector<unsigned char> bytes;
};

const BcdWriteCase kBcdWrites[] = {
    {"block number", 1234, 4, {0x00, 0x00, 0x12, 0x34}},
    {"offset", 2048, 2, {0x20, 0x48}},
    {"nine digits lose the first", 123456789, 4, {0x23, 0x45, 0x67, 0x89}},
    {"zero", 0, 2, {0x00, 0x00}},
    {"no bytes", 99, 0, {}},
    {"wider than 64 bits",
     18446744073709551615ULL,
     12,
     {0x00, 0x00, 0x18, 0x44, 0x67, 0x44, 0x07, 0x37, 0x09, 0x55, 0x16, 0x15}},
};

TEST(BlockStream, WriteBcd) {
    for (const BcdWriteCase& c : kBcdWrites) {
        SCOPED_TRACE(c.name);
        CBlockStream s(1, 0);
        EXPECT_EQ(s.writeBcd(c.value, c.n), 1);
        EXPECT_EQ(s.currentOffset(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(pageBytes(s, 0, 0, static_cast<int>(c.bytes.size())), c.bytes);
    }
}

struct BcdReadCase {
    const char* name;
    std::vector<unsigned char> bytes;  // followed by a marker byte 0x77
    int n;
    int64_t value;
};

const BcdReadCase kBcdReads[] = {
    {"block number", {0x00, 0x00, 0x12, 0x34}, 4, 1234},
    {"high nibble above 9 is an error", {0xA0, 0x00}, 2, -1},
    {"low nibble above 9 is an error", {0x12, 0x3A}, 2, -1},
    {"largest offset", {0x99, 0x99}, 2, 9999},
    {"no bytes", {}, 0, 0},
};

TEST(BlockStream, ReadBcdConsumesAllBytes) {
    for (const BcdReadCase& c : kBcdReads) {
        SCOPED_TRACE(c.name);
        CBlockStream s(1, 0);
        s.writeBytes(c.bytes.data(), c.bytes.size());
        s.writeByte(0x77);
        s.seek(BLOCK_POS{1, 0});
        EXPECT_EQ(s.readBcd(c.n), c.value);
        EXPECT_EQ(s.readByte(), 0x77);  // the next byte after all n
    }
}

TEST(BlockStream, BackPatchAReference) {
    CBlockStream s(10, 0);
    fill(s, 2040, 0x20);
    s.writeCode(0x1F62);
    BLOCK_POS ref{};
    s.tell(&ref);
    const unsigned char reserve[6] = {0, 0, 0, 0, 0, 0};
    s.writeBytes(reserve, 6);  // 2042..2047
    s.writeCode(0x1F03);       // next block
    BLOCK_POS end{};
    s.tell(&end);

    s.seek(ref);
    s.writeBcd(11, 4);
    s.writeBcd(0x7FE, 2);  // 2046
    s.seek(end);
    s.writeCode(0x1F02);

    EXPECT_EQ(pageBytes(s, 0, 2040, 8), (std::vector<unsigned char>{0x1F, 0x62, 0x00, 0x00, 0x00, 0x11, 0x20, 0x46}));
    EXPECT_EQ(pageBytes(s, 1, 0, 4), (std::vector<unsigned char>{0x1F, 0x03, 0x1F, 0x02}));
    EXPECT_EQ(s.blockCount(), 2u);
}

TEST(BlockStream, MemorySeekBeyondTheEndAddsZeroPages) {
    CBlockStream s(2, 0);
    s.writeByte(0x55);
    s.seek(BLOCK_POS{5, 100});
    EXPECT_EQ(s.blockCount(), 4u);
    for (uint32_t i = 1; i < 4; ++i) EXPECT_EQ(pageBytes(s, i, 0, kB), std::vector<unsigned char>(kB, 0));
    s.writeByte(0x66);
    EXPECT_EQ(s.page(3)[100], 0x66);
    EXPECT_EQ(s.page(0)[0], 0x55);
}

TEST(BlockStream, MemoryOutsideTheStreamThrows) {
    CBlockStream s(4, 0);
    EXPECT_THROW(s.seek(BLOCK_POS{3, 0}), std::out_of_range);
    EXPECT_THROW(s.page(1), std::out_of_range);
    EXPECT_EQ(s.currentBlock(), 4u);  // the failed seek changed nothing
}

TEST(BlockStream, SeekOffsetIsClampedToTheBlock) {
    CBlockStream s(1, 0);
    s.seek(BLOCK_POS{1, 0xFFFF});
    s.writeByte(0x42);  // the block counts as full
    EXPECT_EQ(s.blockCount(), 2u);
    EXPECT_EQ(s.page(1)[0], 0x42);
}

TEST(BlockStream, ReadsSpanBlocksAndPastTheEndGiveZeros) {
    CBlockStream s(1, 0);
    fill(s, 2046, 0);
    s.writeBytes("\x12\x34\x56", 3);  // 2046, 2047, next block 0
    s.seek(BLOCK_POS{1, 2046});
    EXPECT_EQ(s.readWord16(), 0x1234u);
    s.seek(BLOCK_POS{1, 2047});
    EXPECT_EQ(s.readWord16(), 0x3456u);

    s.seek(BLOCK_POS{2, 2046});
    EXPECT_EQ(s.readDword32(), 0u);  // runs into a new zero page
    EXPECT_EQ(s.blockCount(), 3u);

    unsigned char buf[4] = {9, 9, 9, 9};
    s.seek(BLOCK_POS{1, 2047});
    EXPECT_EQ(s.readBytes(buf, 2), buf);
    EXPECT_EQ(buf[0], 0x34);
    EXPECT_EQ(buf[1], 0x56);
    EXPECT_EQ(buf[2], 9);
}

TEST(BlockStreamFile, BlocksLandAtTheirFileOffsets) {
    lftest::TestDir dir;
    const std::string path = dir.file("HONMON");
    {
        FilePtr f = openFile(path.c_str(), "w+b");
        ASSERT_NE(f.get(), nullptr);
        CBlockStream s(3, 1);
        EXPECT_EQ(s.isFileMode(), 1);
        s.attachFile(f.get());
        fill(s, kB + 10, 0x33);
        s.writeCode(0x1F0A);
        EXPECT_EQ(s.page(7), s.page(0));  // file mode has one buffer
        s.flushBlock();
        EXPECT_EQ(s.blockCount(), 2u);
    }
    std::vector<unsigned char> bytes = lftest::readFile(path);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(4 * kB));
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 2 * kB),
              std::vector<unsigned char>(2 * kB, 0));  // blocks 1 and 2 never written
    EXPECT_EQ(bytes[2 * kB], 0x33);
    EXPECT_EQ(bytes[4 * kB - 1], 0x00);
    EXPECT_EQ(bytes[3 * kB + 9], 0x33);
    EXPECT_EQ(bytes[3 * kB + 10], 0x1F);
    EXPECT_EQ(bytes[3 * kB + 11], 0x0A);
}

TEST(BlockStreamFile, BackPatchAcrossBlocks) {
    lftest::TestDir dir;
    const std::string path = dir.file("START");
    {
        FilePtr f = openFile(path.c_str(), "w+b");
        ASSERT_NE(f.get(), nullptr);
        CBlockStream s(1, 1);
        s.attachFile(f.get());
        s.writeBytes("\0\0\0\0\0\0", 6);
        fill(s, kB, 0x44);  // to block 2, offset 6
        BLOCK_POS end{};
        s.tell(&end);
        s.seek(BLOCK_POS{1, 0});
        s.writeBcd(2, 4);
        s.writeBcd(6, 2);
        s.seek(end);
        s.writeByte(0x99);
        s.flushBlock();
    }
    std::vector<unsigned char> bytes = lftest::readFile(path);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(2 * kB));
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 7),
              (std::vector<unsigned char>{0x00, 0x00, 0x00, 0x02, 0x00, 0x06, 0x44}));
    EXPECT_EQ(bytes[kB + 5], 0x44);
    EXPECT_EQ(bytes[kB + 6], 0x99);
}

// A handle opened for writing only cannot be read from; writing front to
// back still gives the right file.
TEST(BlockStreamFile, WriteOnlyHandle) {
    lftest::TestDir dir;
    const std::string path = dir.file("START");
    {
        FilePtr f = openFile(path.c_str(), "wb");
        ASSERT_NE(f.get(), nullptr);
        CBlockStream s(2, 1);
        s.attachFile(f.get());
        fill(s, kB + 1, 0x5A);
        s.finish();
        s.writeByte(0x01);
        s.flushBlock();
    }
    std::vector<unsigned char> expect(static_cast<size_t>(kB), 0);
    expect.insert(expect.end(), kB + 1, 0x5A);
    expect.insert(expect.end(), kB - 1, 0);
    expect.push_back(0x01);
    expect.insert(expect.end(), kB - 1, 0);
    EXPECT_EQ(lftest::readFile(path), expect);
}

// A block that the file holds only in part must not keep the bytes of the
// block that was in the buffer before.
TEST(BlockStreamFile, ShortReadLeavesZerosNotThePreviousBlock) {
    lftest::TestDir dir;
    const std::string path = dir.file("HONMON");
    std::vector<unsigned char> bytes(static_cast<size_t>(kB), 0xAA);  // block 1
    bytes.insert(bytes.end(), 100, 0xBB);                             // part of block 2
    ASSERT_TRUE(lftest::writeFile(path, bytes));

    struct Way {
        const char* name;
        void (*setup)(CBlockStream&);  // leaves the stream on block 1
        void (*go)(CBlockStream&);     // moves it to block 2
    };
    const Way ways[] = {
        {"seek to a block the stream holds",
         [](CBlockStream& s) {
             s.seek(BLOCK_POS{2, 0});
             s.seek(BLOCK_POS{1, 0});
         },
         [](CBlockStream& s) {
             s.seek(BLOCK_POS{2, 0});
         }},
        {"read on into a new block", [](CBlockStream&) {},
         [](CBlockStream& s) {
             s.seek(BLOCK_POS{1, 2047});
             s.readByte();
             s.readByte();
         }},
    };
    for (const Way& w : ways) {
        SCOPED_TRACE(w.name);
        FilePtr f = openFile(path.c_str(), "rb");
        ASSERT_NE(f.get(), nullptr);
        CBlockStream s(1, 1);
        s.attachFile(f.get());
        w.setup(s);
        EXPECT_EQ(s.readByte(), 0xAA);  // block 1 as the file has it
        w.go(s);
        EXPECT_EQ(s.currentBlock(), 2u);
        const unsigned char* buf = s.page(0);
        EXPECT_EQ(buf[0], 0xBB);
        EXPECT_EQ(buf[99], 0xBB);
        EXPECT_EQ(std::vector<unsigned char>(buf + 100, buf + kB), std::vector<unsigned char>(kB - 100, 0));
    }
}

// Reading a book file through a file-mode stream, with seeks back and forth,
// leaves the file as it was.
TEST(BlockStreamFile, ReadingDoesNotChangeTheFile) {
    lftest::TestDir dir;
    const std::string path = dir.file("HONMON");
    std::vector<unsigned char> bytes;
    for (int b = 0; b < 3; ++b) bytes.insert(bytes.end(), kB, static_cast<unsigned char>(0x10 + b));
    ASSERT_TRUE(lftest::writeFile(path, bytes));
    {
        FilePtr f = openFile(path.c_str(), "r+b");
        ASSERT_NE(f.get(), nullptr);
        CBlockStream s(1, 1);
        s.attachFile(f.get());
        EXPECT_EQ(s.readByte(), 0x10);
        s.seek(BLOCK_POS{1, 2047});
        EXPECT_EQ(s.readWord16(), 0x1011u);  // across into block 2
        s.seek(BLOCK_POS{3, 5});
        EXPECT_EQ(s.readByte(), 0x12);
        s.seek(BLOCK_POS{1, 0});
        EXPECT_EQ(s.readDword32(), 0x10101010u);
        s.flushBlock();
    }
    EXPECT_EQ(lftest::readFile(path), bytes);
}

}  // namespace
