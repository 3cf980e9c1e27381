// The dictzip random-access reader: reads against the data written, against
// the dictzip tool on Debian's dictionaries, the chunk cache, and damaged
// headers and chunks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dictformats/dictzip/dictzip.h"
#include "tests/common/DictzipFixtures.h"
#include "tests/common/TestDir.h"

using lftest::DictzipOptions;
using lftest::makeDictzip;
using lftest::TestDir;

namespace {

std::string readRange(DICTZIP_STATE* s, uint64_t offset, uint64_t size) {
    return std::string(dictzipRead(s, offset, size), size);
}

std::string writeDz(const TestDir& dir, const std::vector<unsigned char>& bytes, const char* name = "d.dict.dz") {
    const std::string path = dir.file(name);
    lftest::writeFile(path, bytes);
    return path;
}

// The dictzip form of data with the first bytes of its second chunk
// overwritten, so that the chunk does not inflate; chunks is the number of
// chunks the data makes.
std::vector<unsigned char> brokenSecondChunk(const std::string& data, size_t chunks) {
    std::vector<unsigned char> broken = makeDictzip(data);
    const unsigned size0 = broken[lftest::kDzSizes] | (broken[lftest::kDzSizes + 1] << 8);
    const size_t chunk1 = lftest::kDzSizes + 2 * chunks + size0;
    for (size_t i = 0; i < 12; ++i) broken[chunk1 + i] = 0xFF;
    return broken;
}

// Offsets at and around every chunk boundary of the data.
std::vector<uint64_t> boundaryOffsets(uint64_t chunk, uint64_t length) {
    std::vector<uint64_t> out = {0};
    for (uint64_t k = chunk; k < length; k += chunk)
        for (uint64_t o : {k - 1, k, k + 1})
            if (o < length) out.push_back(o);
    out.push_back(length - 1);
    return out;
}

}  // namespace

TEST(Dictzip, ReadsEqualTheDataAtEveryChunkBoundary) {
    struct Case {
        const char* name;
        size_t length;
        DictzipOptions options;
    };
    DictzipOptions named;
    named.name = named.comment = named.headerCrc = true;  // all move the first chunk
    DictzipOptions endInLast;
    endInLast.endInLastChunk = true;
    DictzipOptions small;
    small.chunkLength = 7;
    const Case cases[] = {
        {"plain", 10500, DictzipOptions()},
        {"name, comment and header CRC", 4321, named},
        {"final block inside the last chunk", 5000, endInLast},
        {"data an exact multiple of the chunk", 3000, DictzipOptions()},
        {"tiny chunks", 200, small},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        const std::string data = lftest::sampleText(c.length);
        DICTZIP_STATE s;
        ASSERT_EQ(0, dictzipOpen(writeDz(dir, makeDictzip(data, c.options)).c_str(), &s));
        ASSERT_EQ(c.options.chunkLength, s.chunkLength);
        EXPECT_EQ(data.size(), s.isize);
        const uint64_t chunk = c.options.chunkLength;
        for (uint64_t offset : boundaryOffsets(chunk, data.size()))
            for (uint64_t size : {uint64_t(1), uint64_t(2), chunk, chunk + 2, 3 * chunk}) {
                if (offset + size > data.size()) size = data.size() - offset;
                ASSERT_EQ(data.substr(offset, size), readRange(&s, offset, size)) << offset << "+" << size;
            }
        EXPECT_EQ(data, readRange(&s, 0, data.size()));
        // The last chunk (ending the deflate stream) and then the first again.
        EXPECT_EQ(data.substr(data.size() - 3), readRange(&s, data.size() - 3, 3));
        EXPECT_EQ(data.substr(0, 5), readRange(&s, 0, 5));
    }
}

// Debian's dictionaries, compressed by dictzip: index ranges and chunk
// boundaries read by us and by the dictzip tool.
TEST(Dictzip, EqualsTheDictzipToolOnDebianDictionaries) {
    for (const char* name : {"/usr/share/dictd/gcide", "/usr/share/dictd/freedict-eng-deu"}) {
        SCOPED_TRACE(name);
        const std::string dz = std::string(name) + ".dict.dz";
        DICTZIP_STATE s;
        ASSERT_EQ(0, dictzipOpen(dz.c_str(), &s));
        ASSERT_GT(s.chunkCount, 10);
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        // A dozen entries spread over the .index ("word TAB offset TAB
        // length", numbers in base 64).
        std::ifstream index(std::string(name) + ".index");
        std::vector<std::string> lines;
        for (std::string line; std::getline(index, line);) lines.push_back(line);
        for (size_t n = 0; n < lines.size(); n += lines.size() / 12) {
            const std::string& line = lines[n];
            auto b64 = [](const std::string& t) {
                static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
                uint64_t v = 0;
                for (char ch : t) v = v * 64 + kDigits.find(ch);
                return v;
            };
            size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
            ranges.push_back({b64(line.substr(t1 + 1, t2 - t1 - 1)), b64(line.substr(t2 + 1))});
        }
        ASSERT_GT(ranges.size(), 5u);
        const uint64_t chunk = static_cast<uint64_t>(s.chunkLength);
        for (uint64_t k : {uint64_t(1), uint64_t(2), uint64_t(s.chunkCount / 2), uint64_t(s.chunkCount - 1)})
            for (uint64_t o : {k * chunk - 1, k * chunk, k * chunk + 1}) ranges.push_back({o, 100});
        ranges.push_back({s.isize - 50, 50});  // the end of the data

        for (const auto& r : ranges) {
            std::string theirs;
            ASSERT_EQ(0, lftest::runCommand("dictzip -d -c -s " + std::to_string(r.first) + " -e " +
                                                std::to_string(r.second) + " " + dz,
                                            &theirs));
            ASSERT_EQ(theirs, readRange(&s, r.first, r.second)) << r.first << "+" << r.second;
        }
        EXPECT_STREQ("", dictzipRead(&s, s.isize - 50, 51));  // one byte past the end
    }
}

TEST(Dictzip, KeepsTheLastFiveChunksInflated) {
    TestDir dir;
    const std::string data = lftest::sampleText(10000);
    DICTZIP_STATE s;
    ASSERT_EQ(0, dictzipOpen(writeDz(dir, makeDictzip(data)).c_str(), &s));
    auto held = [&s]() {
        std::vector<int> chunks;
        for (const DICTZIP_SLOT& slot : s.slots) chunks.push_back(slot.chunk);
        return chunks;
    };
    // A one-byte read at a chunk start inflates that chunk only; a read
    // ending on a boundary does not touch the next chunk.
    readRange(&s, 3000, 1);
    EXPECT_EQ((std::vector<int>{3, -1, -1, -1, -1}), held());
    readRange(&s, 3500, 500);
    EXPECT_EQ((std::vector<int>{3, -1, -1, -1, -1}), held());
    for (uint64_t c : {0, 1, 2, 4}) readRange(&s, c * 1000 + 10, 5);
    EXPECT_EQ((std::vector<int>{3, 0, 1, 2, 4}), held());
    readRange(&s, 3010, 3);  // a hit: nothing changes
    EXPECT_EQ((std::vector<int>{3, 0, 1, 2, 4}), held());
    readRange(&s, 5000, 1);  // the sixth chunk takes the oldest slot
    EXPECT_EQ((std::vector<int>{5, 0, 1, 2, 4}), held());
    EXPECT_EQ(data.substr(2990, 20), readRange(&s, 2990, 20));  // chunk 3 again
    EXPECT_EQ((std::vector<int>{5, 3, 1, 2, 4}), held());
}

TEST(Dictzip, RefusesDamagedHeaders) {
    const std::string data = lftest::sampleText(5000);
    const std::vector<unsigned char> good = makeDictzip(data);
    struct Case {
        const char* name;
        size_t offset;  // little-endian u16 patched there
        unsigned value;
    } cases[] = {
        {"version 2", lftest::kDzVersion, 2},
        {"chunk length 0", lftest::kDzChunkLength, 0},
        {"chunk count 0", lftest::kDzChunkCount, 0},
        {"chunk count past the field", lftest::kDzChunkCount, 6},
        {"a chunk size past the trailer", lftest::kDzSizes + 8, 60000},
        {"extra field longer than the file", lftest::kDzXlen, 65000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        std::vector<unsigned char> bytes = good;
        lftest::putLe16(bytes, c.offset, c.value);
        const std::string path = writeDz(dir, bytes);
        DICTZIP_STATE s;
        EXPECT_EQ(-1, dictzipReadHeader(path.c_str(), &s));
        EXPECT_EQ(0, s.chunkCount);
        // It still opens; every read gives the empty text.
        ASSERT_EQ(0, dictzipOpen(path.c_str(), &s));
        EXPECT_STREQ("", dictzipRead(&s, 0, 10));
        EXPECT_EQ(-1, dictzipCheckRange(&s, 0, 10));
    }
    TestDir dir;
    const std::string missing = dir.file("missing.dz");
    DICTZIP_STATE s;
    EXPECT_EQ(-1, dictzipOpen(missing.c_str(), &s));
    for (size_t cut : {size_t(5), size_t(30), good.size() - 20}) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(-1, dictzipReadHeader(
                          writeDz(dir, std::vector<unsigned char>(good.begin(), good.begin() + cut)).c_str(), &s));
    }
}

TEST(Dictzip, AnExtraFieldOtherThanRandomAccessIsSkipped) {
    TestDir dir;
    std::vector<unsigned char> bytes = makeDictzip("hello");
    bytes[lftest::kDzSubfield] = 'X';  // "XA": not ours
    const std::string path = writeDz(dir, bytes);
    DICTZIP_STATE s;
    EXPECT_EQ(-1, dictzipReadHeader(path.c_str(), &s));
    EXPECT_EQ(0, dictzipOpen(path.c_str(), &s));
    EXPECT_STREQ("", dictzipRead(&s, 0, 5));
}

TEST(Dictzip, RangesOutsideTheDataAreRefused) {
    TestDir dir;
    const std::string data = lftest::sampleText(2500);
    DICTZIP_STATE s;
    ASSERT_EQ(0, dictzipOpen(writeDz(dir, makeDictzip(data)).c_str(), &s));
    EXPECT_EQ(data.substr(0, 100), readRange(&s, 0, 100));  // fills the buffer
    struct Case {
        const char* name;
        uint64_t offset, size;
    } cases[] = {
        {"one byte past the end", 2400, 101},
        {"past the last chunk", 3000, 10},
        {"offset plus size wraps", UINT64_MAX - 1, 5},
        {"size wraps 32 bits", 10, 0xFFFFFFFFu},
        {"offset far away", 1ull << 40, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(-1, dictzipCheckRange(&s, c.offset, c.size));
        EXPECT_STREQ("", dictzipRead(&s, c.offset, c.size));  // never the old bytes
    }
    EXPECT_STREQ("", dictzipRead(&s, 100, 0));
    EXPECT_EQ(data.substr(2400), readRange(&s, 2400, 100));
}

TEST(Dictzip, DamagedChunksGiveNoStaleBytes) {
    const std::string data = lftest::sampleText(4000);
    // Chunks of 500 bytes under a header that claims 1000: every chunk but
    // the last inflates short.
    DictzipOptions half;
    half.chunkLength = 500;
    std::vector<unsigned char> shortChunks = makeDictzip(data.substr(0, 2000), half);
    lftest::putLe16(shortChunks, lftest::kDzChunkLength, 1000);
    // Bytes of chunk 1 overwritten: it does not inflate.
    const std::vector<unsigned char> broken = brokenSecondChunk(data, 4);

    TestDir dir;
    DICTZIP_STATE s;
    ASSERT_EQ(0, dictzipOpen(writeDz(dir, shortChunks, "short.dz").c_str(), &s));
    EXPECT_EQ(data.substr(0, 400), readRange(&s, 0, 400));  // inside what chunk 0 holds
    EXPECT_STREQ("", dictzipRead(&s, 400, 700));            // needs chunk 0 whole

    ASSERT_EQ(0, dictzipOpen(writeDz(dir, broken, "broken.dz").c_str(), &s));
    EXPECT_EQ(data.substr(900, 50), readRange(&s, 900, 50));
    EXPECT_STREQ("", dictzipRead(&s, 900, 200));
    for (const DICTZIP_SLOT& slot : s.slots) EXPECT_NE(1, slot.chunk);  // the failed slot is empty
    EXPECT_STREQ("", dictzipRead(&s, 1100, 10));                        // and fails again
    EXPECT_EQ(data.substr(2100, 50), readRange(&s, 2100, 50));
}

// Chunks that were not fully flushed refer back into the previous chunk; each
// chunk is inflated on its own, so such a read fails the same way whatever
// was inflated before it.
TEST(Dictzip, EachChunkInflatesOnItsOwn) {
    std::string data;
    for (int i = 0; i < 300; ++i) data += "the same words again and again ";
    DictzipOptions linked;
    linked.fullFlush = false;
    TestDir dir;
    DICTZIP_STATE s;
    ASSERT_EQ(0, dictzipOpen(writeDz(dir, makeDictzip(data, linked)).c_str(), &s));
    EXPECT_STREQ("", dictzipRead(&s, 1500, 10));
    EXPECT_EQ(data.substr(0, 10), readRange(&s, 0, 10));
    EXPECT_STREQ("", dictzipRead(&s, 1500, 10));
}

TEST(Dictzip, CloseReleasesEverything) {
    TestDir dir;
    DICTZIP_STATE s;
    ASSERT_EQ(0, dictzipOpen(writeDz(dir, makeDictzip(lftest::sampleText(3000))).c_str(), &s));
    readRange(&s, 10, 2000);
    dictzipClose(&s);
    EXPECT_EQ(-1, s.descriptor);
    EXPECT_EQ(nullptr, s.readBuffer);
    EXPECT_EQ(nullptr, s.chunkSizes);
    EXPECT_EQ(nullptr, s.chunkOffsets);
    for (const DICTZIP_SLOT& slot : s.slots) EXPECT_EQ(nullptr, slot.buffer);
    EXPECT_STREQ("", dictzipRead(&s, 0, 1));
}

// Chunks are inflated only as far as a read needs; a later read of the same
// chunk goes on from there, or starts the chunk again when the inflater has
// moved on to another one. Chunks of 16000 bytes, so that a read near a
// chunk's start leaves most of it uninflated.
TEST(Dictzip, ChunksInflatedInPartAreCompletedLater) {
    const uint64_t k = 16000;
    const std::string data = lftest::sampleText(6 * k);
    DictzipOptions options;
    options.chunkLength = k;
    struct Read {
        uint64_t offset, size;
    };
    const std::vector<std::vector<Read>> sequences = {
        {{10, 5}, {8000, 100}, {k - 20, 20}},                         // one chunk, further each time
        {{10, 5}, {3 * k + 10, 5}, {9000, 50}, {3 * k + 9000, 200}},  // back to chunks left in part
        {{k - 10, 20}, {k + 10, 10}, {k + 8000, k}},                  // across chunks left in part
        {{6 * k - 10, 10}, {0, 6 * k}},                               // everything after the end
        {{10, 5}, {k + 10, 5}, {2 * k + 10, 5}, {3 * k + 10, 5}, {4 * k + 10, 5}, {5 * k + 10, 5}, {20, 9000}},
    };
    TestDir dir;
    const std::string path = writeDz(dir, makeDictzip(data, options));
    {
        DICTZIP_STATE s;
        ASSERT_EQ(0, dictzipOpen(path.c_str(), &s));
        readRange(&s, 10, 5);
        EXPECT_EQ(0, s.slots[0].complete);
        EXPECT_LT(s.slots[0].length, static_cast<int32_t>(k));
    }
    for (size_t n = 0; n < sequences.size(); ++n) {
        SCOPED_TRACE(n);
        DICTZIP_STATE s;
        ASSERT_EQ(0, dictzipOpen(path.c_str(), &s));
        for (const Read& r : sequences[n]) {
            ASSERT_EQ(data.substr(r.offset, r.size), readRange(&s, r.offset, r.size)) << r.offset << "+" << r.size;
            for (const DICTZIP_SLOT& slot : s.slots) {
                if (slot.chunk >= 0 && !slot.complete) {
                    EXPECT_LT(slot.length, static_cast<int32_t>(k));
                }
            }
        }
    }
}

TEST(Dictzip, FailuresAreReportedThroughTheStateNotPrinted) {
    const std::string data = lftest::sampleText(3000);
    const std::vector<unsigned char> broken = brokenSecondChunk(data, 3);
    TestDir dir;
    DICTZIP_STATE s;
    ASSERT_EQ(0, dictzipOpen(writeDz(dir, broken).c_str(), &s));
    struct Case {
        const char* name;
        uint64_t offset, size;
        const char* error;  // how the error text begins; "" for a read that works
    } cases[] = {
        {"a range past the end", 2990, 20, "range 2990+20 past the end"},
        {"a chunk that does not inflate", 1100, 10, "inflate"},
        {"a good read clears the error", 10, 10, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        // A refused range leaves the buffer as small as it was: read it as text.
        const std::string got = dictzipRead(&s, c.offset, c.size);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(std::string(s.error).compare(0, strlen(c.error), c.error), 0) << s.error;
        if (c.error[0]) {
            EXPECT_EQ(got, "");
        } else {
            EXPECT_STREQ(s.error, "");
            EXPECT_EQ(got, data.substr(c.offset, c.size));
        }
    }
}
