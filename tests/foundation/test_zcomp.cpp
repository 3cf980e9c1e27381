// CZComp: the EBZip writer, the expander, copy cases, output names, kept
// ranges, refusals of unsafe outputs and the EPWING version lookup.

#include "foundation/pathutil.h"
#include "foundation/storage/CEbxaDecoder.h"
#include "foundation/storage/CZComp.h"
#include "foundation/storage/CZOutputFile.h"
#include "foundation/storage/CZio.h"
#include "foundation/storage/ebzipformat.h"
#include "tests/common/BookFolder.h"
#include "tests/common/EbzipParse.h"
#include "tests/common/TestDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using booktest::Bytes;
using lftest::listDir;
using lftest::readFile;
using lftest::TestDir;
using lftest::writeFile;

namespace {

Bytes randomBytes(size_t n, uint32_t seed) {
    Bytes b(n);
    booktest::fillRandom(b.data(), n, seed);
    return b;
}

struct RoundTrip {
    const char* name;
    size_t size;
    unsigned level;
    bool random;
};

class ZCompRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

}  // namespace

// The file format as written, read back by an independent parser, and the
// expansion giving back exactly the original bytes (the last block is not
// padded).
TEST_P(ZCompRoundTrip, FormatAndExactExpansion) {
    const RoundTrip& c = GetParam();
    TestDir t;
    Bytes original = c.random ? randomBytes(c.size, 7) : booktest::makeHonmon(c.size, 3);
    std::string in = t.file("HONMON");
    ASSERT_TRUE(writeFile(in, original));
    struct utimbuf times = {1234567890, 1234567890};
    ASSERT_EQ(0, utime(in.c_str(), &times));

    CZComp z;
    ASSERT_EQ(0, z.compress(in.c_str(), nullptr, c.level, 0, 1, 0, 0)) << z.getInfo()->errorCode;
    std::string ebz = t.file("HONMON.ebz");
    EXPECT_STREQ(ebz.c_str(), z.getInfo()->outputPath);
    Bytes file = readFile(ebz);
    booktest::EbzipFile p = booktest::parseEbzip(file);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(1u, p.mode);
    EXPECT_EQ(c.level, p.level);
    EXPECT_EQ(0u, p.byte6);
    EXPECT_EQ(0u, p.byte7);
    EXPECT_EQ(original.size(), p.size);
    EXPECT_EQ(1234567890u, p.mtime);
    EXPECT_EQ(booktest::adlerOf(original), p.adler);
    EXPECT_EQ(original, p.data);
    EXPECT_EQ(int64_t(original.size()), z.getInfo()->inputSize);
    EXPECT_EQ(int64_t(file.size()), z.getInfo()->outputSize);
    EXPECT_EQ(p.adler, z.getInfo()->adler);
    EXPECT_EQ(p.width, z.getInfo()->indexWidth);
    EXPECT_EQ(2048u << c.level, z.getInfo()->sliceSize);
    for (size_t i = 0; i < p.raw.size(); ++i)
        if (p.raw[i]) {
            EXPECT_EQ(2048u << c.level, p.offsets[i + 1] - p.offsets[i]);
        }
    if (c.random) {
        // Incompressible full slices are stored raw.
        EXPECT_TRUE(p.raw[0]);
    }

    ASSERT_EQ(0, unlink(in.c_str()));
    ASSERT_EQ(0, z.expand(ebz.c_str(), nullptr, 0, 1, 0)) << z.getInfo()->errorCode;
    EXPECT_STREQ(t.file("HONMON.org").c_str(), z.getInfo()->outputPath);
    EXPECT_EQ(original, readFile(t.file("HONMON.org")));
    EXPECT_EQ(int64_t(original.size()), z.getInfo()->inputSize);
    EXPECT_EQ(int64_t(file.size()), z.getInfo()->outputSize);
    EXPECT_EQ(0, checkEbzipFile(ebz.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ZCompRoundTrip,
                         ::testing::Values(RoundTrip{"OneByteOverABlockIsOneSlice", 2049, 0, false},
                                           RoundTrip{"PartialLastBlockLevel0", 3 * 2048 + 5, 0, false},
                                           RoundTrip{"ExactSlicesLevel1", 4 * 4096, 1, false},
                                           RoundTrip{"PartialLastBlockLevel3", 5 * 16384 + 100, 3, false},
                                           RoundTrip{"ManySlicesLevel5", 300001, 5, false},
                                           RoundTrip{"WidthThreeLevel2", 0x10000 + 777, 2, false},
                                           RoundTrip{"RandomStoredRawLevel1", 8192 + 2048, 1, true},
                                           RoundTrip{"RandomStoredRawLevel0", 6 * 2048 + 1, 0, true}),
                         [](const ::testing::TestParamInfo<RoundTrip>& i) { return std::string(i.param.name); });

TEST(ZComp, IndexWidthThresholds) {
    const struct {
        uint64_t size;
        unsigned width;
    } cases[] = {{0xFFFF, 2}, {0x10000, 3}, {0xFFFFFF, 3}, {0x1000000, 4}, {0xFFFFFFFF, 4}, {0x100000000ull, 5}};
    for (const auto& c : cases) EXPECT_EQ(c.width, ebzip::indexWidthFor(c.size)) << std::hex << c.size;
}

TEST(ZComp, HeaderModeNibble) {
    const struct {
        uint64_t size;
        unsigned char byte5;
    } cases[] = {{0xFFFFFFFEull, 0x13}, {0xFFFFFFFFull, 0x23}, {0x123456789Aull, 0x23}};
    for (const auto& c : cases) {
        unsigned char h[22];
        ebzip::makeHeader(h, c.size, 3, 0, 0x01020304, 0x0A0B0C0D);
        const unsigned char expected[22] = {'E',
                                            'B',
                                            'Z',
                                            'i',
                                            'p',
                                            c.byte5,
                                            0,
                                            0,
                                            static_cast<unsigned char>(c.size >> 40),
                                            static_cast<unsigned char>(c.size >> 32),
                                            static_cast<unsigned char>(c.size >> 24),
                                            static_cast<unsigned char>(c.size >> 16),
                                            static_cast<unsigned char>(c.size >> 8),
                                            static_cast<unsigned char>(c.size),
                                            1,
                                            2,
                                            3,
                                            4,  // Adler-32
                                            0x0A,
                                            0x0B,
                                            0x0C,
                                            0x0D};  // modification time
        EXPECT_EQ(0, memcmp(expected, h, 22)) << std::hex << c.size;
    }
}

// Threads change nothing in the output, and each slice is what one zlib stream
// at the default level makes of it.
TEST(ZComp, ParallelOutputEqualsSequential) {
    TestDir t;
    Bytes original = booktest::makeHonmon(40 * 2048 + 33, 9);
    ASSERT_TRUE(writeFile(t.file("a"), original));
    ASSERT_EQ(0, mkdir(t.file("one").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("many").c_str(), 0755));
    CZComp one, many;
    one.setThreadCount(1);
    many.setThreadCount(8);
    ASSERT_EQ(0, one.compress(t.file("a").c_str(), t.file("one").c_str(), 0, 0, 1, 0, 0));
    ASSERT_EQ(0, many.compress(t.file("a").c_str(), t.file("many").c_str(), 0, 0, 1, 0, 0));
    Bytes a = readFile(t.file("one/a.ebz")), b = readFile(t.file("many/a.ebz"));
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b);

    booktest::EbzipFile p = booktest::parseEbzip(a);
    ASSERT_TRUE(p.ok) << p.error;
    std::vector<unsigned char> slice(2048), out(2048);
    for (size_t i = 0; i + 1 < p.offsets.size(); ++i) {
        std::fill(slice.begin(), slice.end(), 0);
        size_t real = std::min<size_t>(2048, original.size() - i * 2048);
        std::copy(original.begin() + i * 2048, original.begin() + i * 2048 + real, slice.begin());
        unsigned len = 0;
        ASSERT_EQ(0, ebzip::deflateSlice(out.data(), &len, slice.data(), 2048));
        ASSERT_EQ(p.offsets[i + 1] - p.offsets[i], len) << "slice " << i;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + len, a.begin() + p.offsets[i])) << "slice " << i;
    }
}

TEST(ZComp, HeaderByte6AndProgress) {
    TestDir t;
    ASSERT_TRUE(writeFile(t.file("b"), booktest::makeHonmon(5 * 4096 + 10)));
    CZComp z;
    z.setHeaderByte6(0x5A);
    std::vector<std::pair<int64_t, int64_t>> calls;
    z.setProgressCallback(
        [](void* ctx, int64_t done, int64_t total) {
            static_cast<std::vector<std::pair<int64_t, int64_t>>*>(ctx)->push_back({done, total});
        },
        &calls);
    ASSERT_EQ(0, z.compress(t.file("b").c_str(), nullptr, 1, 0, 1, 0, 0));
    EXPECT_EQ(0x5Au, booktest::parseEbzip(readFile(t.file("b.ebz"))).byte6);
    // One call per slice (6 slices), then one more; total = size / slice, truncated.
    ASSERT_EQ(7u, calls.size());
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(std::make_pair(int64_t(i + 1), int64_t(5)), calls[i]);
    EXPECT_EQ(std::make_pair(int64_t(6), int64_t(5)), calls[6]);
}

// ---- failures and copy cases ----

TEST(ZComp, FailureCodes) {
    TestDir t;
    ASSERT_TRUE(writeFile(t.file("small31"), Bytes(31, 'x')));
    ASSERT_TRUE(writeFile(t.file("plain"), booktest::makeHonmon(3 * 2048)));
    CZComp prep;
    ASSERT_EQ(0, prep.compress(t.file("plain").c_str(), nullptr, 0, 0, 1, 0, 0));
    std::string longPath = t.path() + "/" + std::string(300 - t.path().size(), 'n');

    const struct {
        const char* name;
        std::string input;
        unsigned level;
        int code;
    } cases[] = {
        {"level 6 before anything is opened", t.file("missing"), 6, ZCOMP_ERR_ARGUMENT},
        {"missing input", t.file("missing"), 0, ZCOMP_ERR_NO_INPUT},
        {"file under 32 bytes: no book file, left alone", t.file("small31"), 0, ZCOMP_KEPT_AS_IS},
        {"folder as input", t.path(), 0, ZCOMP_ERR_NO_INPUT},
        {"EBZip input", t.file("plain.ebz"), 0, ZCOMP_ERR_ALREADY},
        {"path over 255 bytes", longPath, 0, ZCOMP_ERR_ARGUMENT},
    };
    for (const auto& c : cases) {
        CZComp z;
        EXPECT_EQ(-1, z.compress(c.input.c_str(), nullptr, c.level, 0, 0, 0, 0)) << c.name;
        EXPECT_EQ(c.code, z.getInfo()->errorCode) << c.name;
    }
    // Nothing was deleted or added by the failures (nor by leaving a file
    // alone, though the input was not to be kept).
    EXPECT_EQ((std::vector<std::string>{"plain", "plain.ebz", "small31"}), listDir(t.path()));

    // Only regular files are read: a FIFO would block the run waiting for a
    // writer, a folder is no book file.
    ASSERT_EQ(0, mkfifo(t.file("fifo").c_str(), 0600));
    for (const std::string& special : {t.file("fifo"), t.path()}) {
        CZComp z;
        EXPECT_EQ(-1, z.compress(special.c_str(), nullptr, 0, 0, 1, 0, 0)) << special;
        EXPECT_EQ(ZCOMP_ERR_NO_INPUT, z.getInfo()->errorCode) << special;
        EXPECT_EQ(-1, z.expand(special.c_str(), nullptr, 0, 1, 0)) << special;
        EXPECT_EQ(ZCOMP_ERR_NO_INPUT, z.getInfo()->errorCode) << special;
    }
    ASSERT_EQ(0, unlink(t.file("fifo").c_str()));

    CZComp z;
    EXPECT_EQ(-1, z.compress(t.file("plain").c_str(), t.file("no-such-folder").c_str(), 0, 0, 0, 0, 0));
    EXPECT_EQ(ZCOMP_ERR_OUTPUT, z.getInfo()->errorCode);
    EXPECT_TRUE(booktest::exists(t.file("plain")));
}

TEST(ZComp, CopyCases) {
    TestDir t;
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("MOVIE").c_str(), 0755));
    Bytes small = booktest::makeHonmon(2048), movie = booktest::makeHonmon(3 * 2048);
    ASSERT_TRUE(writeFile(t.file("small.dat"), small));
    ASSERT_TRUE(writeFile(t.file("MOVIE/clip.mpg"), movie));

    CZComp z;
    // 2048 bytes: copied under its own name, sizes equal, input kept even
    // without keep-original.
    ASSERT_EQ(0, z.compress(t.file("small.dat").c_str(), t.file("out").c_str(), 0, 0, 0, 0, 0));
    EXPECT_STREQ(t.file("out/small.dat").c_str(), z.getInfo()->outputPath);
    EXPECT_EQ(2048, z.getInfo()->inputSize);
    EXPECT_EQ(2048, z.getInfo()->outputSize);
    EXPECT_EQ(small, readFile(t.file("out/small.dat")));
    EXPECT_TRUE(booktest::exists(t.file("small.dat")));

    // A file in a MOVIE folder is copied whatever its size.
    ASSERT_EQ(0, z.compress(t.file("MOVIE/clip.mpg").c_str(), t.file("out").c_str(), 0, 0, 0, 0, 0));
    EXPECT_EQ(movie, readFile(t.file("out/clip.mpg")));

    // Copying into the input's own folder is skipped (also with no output folder).
    EXPECT_EQ(-1, z.compress(t.file("small.dat").c_str(), nullptr, 0, 0, 0, 0, 0));
    EXPECT_EQ(ZCOMP_SKIPPED_SELF, z.getInfo()->errorCode);
    EXPECT_EQ(-1, z.compress(t.file("small.dat").c_str(), (t.path() + "/").c_str(), 0, 0, 0, 0, 0));
    EXPECT_EQ(ZCOMP_SKIPPED_SELF, z.getInfo()->errorCode);
    EXPECT_EQ(small, readFile(t.file("small.dat")));

    // Expanding a plain file copies it the same way (replacing the copy above).
    CZComp e;
    e.setOverwrite(true);
    ASSERT_EQ(0, e.expand(t.file("MOVIE/clip.mpg").c_str(), t.file("out").c_str(), 0, 1, 0));
    EXPECT_EQ(int64_t(movie.size()), e.getInfo()->inputSize);
    EXPECT_EQ(int64_t(movie.size()), e.getInfo()->outputSize);
    EXPECT_EQ(-1, e.expand(t.file("small.dat").c_str(), nullptr, 0, 1, 0));
    EXPECT_EQ(ZCOMP_SKIPPED_SELF, e.getInfo()->errorCode);
}

TEST(ZComp, OutputNames) {
    TestDir t;
    ASSERT_EQ(0, mkdir(t.file("book").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("book/DATA").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("a.b").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    Bytes text = booktest::makeHonmon(4 * 2048);
    const struct {
        const char* input;
        const char* outDir;
        const char* expected;
    } cases[] = {
        {"book/DATA/honmon.txt", nullptr, "book/DATA/honmon.ebz"},
        {"book/DATA/HONMON", nullptr, "book/DATA/HONMON.ebz"},
        {"a.b/HONMON", nullptr, "a.b/HONMON.ebz"},   // a dot in a folder name is no extension
        {"a.b/x.tar.gz", nullptr, "a.b/x.tar.ebz"},  // only the last extension goes
        {"book/DATA/START", "out", "out/START.ebz"},
        {"book/DATA/honmon2.dat", "out/", "out/honmon2.ebz"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(writeFile(t.file(c.input), text));
        CZComp z;
        std::string outDir = c.outDir ? t.file(c.outDir) : std::string();
        ASSERT_EQ(0, z.compress(t.file(c.input).c_str(), c.outDir ? outDir.c_str() : nullptr, 0, 0, 1, 0, 0))
            << c.input;
        EXPECT_EQ(t.file(c.expected), z.getInfo()->outputPath) << c.input;
        EXPECT_TRUE(booktest::exists(t.file(c.expected))) << c.input;
    }
}

// Copy tree keeps the whole input path below the output folder, so the HONMON
// files of two subbooks do not overwrite each other; without it the second
// one is refused instead of overwriting the first.
TEST(ZComp, CopyTreeAndOneOutputPerRun) {
    TestDir t;
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    auto honmons = booktest::makeBook(t.file("book"), {booktest::subbook("SUB1"), booktest::subbook("SUB2")},
                                      {booktest::makeHonmon(5 * 2048, 1), booktest::makeHonmon(6 * 2048, 2)});
    CZComp tree;
    for (const auto& h : honmons) {
        ASSERT_EQ(0, tree.compress(h.c_str(), t.file("out").c_str(), 0, 0, 1, 1, 0));
        std::string expected = t.file("out") + h.substr(0, h.size() - 6) + "HONMON.ebz";
        EXPECT_EQ(expected, tree.getInfo()->outputPath);
        booktest::EbzipFile p = booktest::parseEbzip(readFile(expected));
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(readFile(h), p.data);
    }

    CZComp flat;
    ASSERT_EQ(0, flat.compress(honmons[0].c_str(), t.file("out").c_str(), 0, 0, 1, 0, 0));
    Bytes first = readFile(t.file("out/HONMON.ebz"));
    EXPECT_EQ(-1, flat.compress(honmons[1].c_str(), t.file("out").c_str(), 0, 0, 0, 0, 0));
    EXPECT_EQ(ZCOMP_ERR_SKIPPED, flat.getInfo()->errorCode);
    EXPECT_EQ(first, readFile(t.file("out/HONMON.ebz")));
    EXPECT_TRUE(booktest::exists(honmons[1]));

    // A path that would climb out of the output folder is refused.
    CZComp z;
    std::string climbing = t.file("book/SUB1/DATA/../../SUB1/DATA/HONMON");
    EXPECT_EQ(-1, z.compress(climbing.c_str(), t.file("out").c_str(), 0, 0, 1, 1, 0));
    EXPECT_EQ(ZCOMP_ERR_ARGUMENT, z.getInfo()->errorCode);
}

// Output names with copy tree: the path below the folder the input was
// found under, the whole path when none is known, all after the first '/'
// for a drive-letter path; never a path that leaves the output folder.
TEST(ZComp, KeptTreeNames) {
    const struct {
        const char* name;
        const char* input;
        bool keepTree;
        const char* root;
        bool ssed;
        const char* expected;  // nullptr: refused
    } cases[] = {
        {"below the root", "/b/BOOKS/B0/DATA/HONMON", true, "/b/BOOKS", false, "/o/B0/DATA/HONMON.ebz"},
        {"root with a slash", "/b/BOOKS/B0/DATA/HONMON", true, "/b/BOOKS/", false, "/o/B0/DATA/HONMON.ebz"},
        {"root /", "/b/HONMON", true, "/", false, "/o/b/HONMON.ebz"},
        {"no root: the whole path", "/b/BOOKS/B0/DATA/HONMON", true, "", false, "/o/b/BOOKS/B0/DATA/HONMON.ebz"},
        {"drive letter", "C:/books/B0/DATA/HONMON", true, "/b", false, "/o/books/B0/DATA/HONMON.ebz"},
        {"without tree the name only", "/b/BOOKS/B0/DATA/HONMON", false, "/b/BOOKS", false, "/o/HONMON.ebz"},
        {"SSED below the root", "/b/BOOKS/B0/DATA/SSEDINFO", true, "/b/BOOKS", true, "/o/B0/DATA/HONMON.ebz"},
        {"root is a longer name", "/b/BOOKS2/HONMON", true, "/b/BOOKS", false, nullptr},
        {"outside the root", "/c/HONMON", true, "/b", false, nullptr},
        {"climbing out", "/b/BOOKS/../../HONMON", true, "/b/BOOKS", false, nullptr},
        {"nothing below the root", "/b/BOOKS", true, "/b/BOOKS", false, nullptr},
    };
    for (const auto& c : cases) {
        std::string out;
        int rc = CZOutputFile::buildName(c.input, "/o", c.keepTree, c.root, c.ssed, ".ebz", &out);
        if (c.expected) {
            EXPECT_EQ(0, rc) << c.name;
            EXPECT_EQ(c.expected, out) << c.name;
        } else {
            EXPECT_EQ(ZCOMP_ERR_ARGUMENT, rc) << c.name;
        }
    }
}

// What plannedOutput names is what compress and expand then write, for
// every kind of file (compressed, copied, kept as it is, left alone, failed)
// and every kind of output folder (none, flat, tree).
TEST(ZComp, PlannedOutputIsWhatIsWritten) {
    TestDir t;
    ASSERT_EQ(0, makeDirectories(t.file("in/B0/DATA").c_str()));
    ASSERT_TRUE(writeFile(t.file("in/B0/DATA/HONMON"), booktest::makeHonmon(5 * 2048)));
    ASSERT_TRUE(writeFile(t.file("in/CATALOGS"), Bytes(2048, 'c')));
    ASSERT_TRUE(writeFile(t.file("in/B0.map"), Bytes(13, 'm')));
    ASSERT_TRUE(writeFile(t.file("in/B0.plist"), Bytes(3000, 'p')));
    ASSERT_TRUE(writeFile(t.file("in/cut.ebz"), Bytes(20, 'e')));
    const std::vector<std::string> names = {"B0/DATA/HONMON", "CATALOGS", "B0.map", "B0.plist", "cut.ebz"};
    const struct {
        const char* name;
        const char* outDir;
        bool tree;
    } outputs[] = {{"beside the input", nullptr, false}, {"flat", "flat", false}, {"tree", "tree", true}};
    for (bool expanding : {false, true}) {
        for (const auto& o : outputs) {
            const std::string outDir =
                o.outDir ? t.file(std::string(o.outDir) + (expanding ? "-expanded" : "")) : std::string();
            if (o.outDir) {
                ASSERT_EQ(0, makeDirectories(outDir.c_str()));
            }
            for (const std::string& name : names) {
                SCOPED_TRACE(std::string(expanding ? "expand " : "shrink ") + o.name + ": " + name);
                std::string input = t.file("in/" + name);
                if (expanding && name == "B0/DATA/HONMON") input += ".ebz";
                CZComp z;
                z.setTreeRoot(t.file("in"));
                const char* dir = o.outDir ? outDir.c_str() : nullptr;
                std::string planned;
                const int plannedRc = z.plannedOutput(input.c_str(), dir, 0, o.tree, expanding, &planned);
                const int rc = expanding ? z.expand(input.c_str(), dir, 0, 1, o.tree)
                                         : z.compress(input.c_str(), dir, 0, 0, 1, o.tree, 0);
                const int code = z.getInfo()->errorCode;
                if (plannedRc != 0) {
                    EXPECT_EQ(-1, rc);
                    EXPECT_EQ(plannedRc, code);
                    EXPECT_TRUE(planned.empty());
                } else if (planned.empty()) {
                    EXPECT_EQ(-1, rc);
                    EXPECT_TRUE(code == ZCOMP_SKIPPED_SELF || code == ZCOMP_KEPT_AS_IS) << code;
                } else {
                    EXPECT_TRUE(rc == 0 || code == ZCOMP_KEPT_AS_IS) << code;
                    EXPECT_EQ(planned, z.getInfo()->outputPath);
                    EXPECT_TRUE(booktest::exists(planned));
                }
            }
        }
    }
    // Each of the outputs named (the expanded ones too) is in its tree.
    EXPECT_TRUE(booktest::exists(t.file("tree/B0/DATA/HONMON.ebz")));
    EXPECT_TRUE(booktest::exists(t.file("tree-expanded/B0/DATA/HONMON.org")));
    EXPECT_EQ(Bytes(13, 'm'), readFile(t.file("tree/B0.map")));
    EXPECT_EQ(Bytes(3000, 'p'), readFile(t.file("flat/B0.plist")));
    EXPECT_FALSE(booktest::exists(t.file("flat/cut.ebz")));
}

// An output that is the input itself is skipped and the input stays as it was.
TEST(ZComp, OutputThatIsTheInputIsRefused) {
    TestDir t;
    Bytes text = booktest::makeHonmon(4 * 2048);
    ASSERT_TRUE(writeFile(t.file("X.ebz"), text));
    CZComp z;
    EXPECT_EQ(-1, z.compress(t.file("X.ebz").c_str(), nullptr, 0, 0, 0, 0, 0));
    EXPECT_EQ(ZCOMP_SKIPPED_SELF, z.getInfo()->errorCode);
    EXPECT_EQ(text, readFile(t.file("X.ebz")));

    ASSERT_TRUE(writeFile(t.file("Y"), text));
    ASSERT_EQ(0, z.compress(t.file("Y").c_str(), nullptr, 0, 0, 1, 0, 0));
    ASSERT_EQ(0, rename(t.file("Y.ebz").c_str(), t.file("Y.org").c_str()));
    Bytes packed = readFile(t.file("Y.org"));
    EXPECT_EQ(-1, z.expand(t.file("Y.org").c_str(), nullptr, 0, 0, 0));
    EXPECT_EQ(ZCOMP_SKIPPED_SELF, z.getInfo()->errorCode);
    EXPECT_EQ(packed, readFile(t.file("Y.org")));
}

// What no reader can read is never expanded nor copied out as a book file:
// an EBZip header of an unknown form fails with ZCOMP_ERR_HEADER, a plain
// file named ".ebz" (its magic gone) with ZCOMP_ERR_NOT_COMPRESSED; nothing
// is written and the input stays, even without keep-original. Compressing
// either is refused as ever.
TEST(ZComp, UnreadableCompressedFilesAreNotExpanded) {
    TestDir t;
    ASSERT_TRUE(writeFile(t.file("H"), booktest::makeHonmon(5 * 2048)));
    CZComp prep;
    ASSERT_EQ(0, prep.compress(t.file("H").c_str(), nullptr, 0, 0, 1, 0, 0));
    const Bytes good = readFile(t.file("H.ebz"));
    ASSERT_EQ(0, unlink(t.file("H.ebz").c_str()));
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    const struct {
        const char* name;
        size_t at;
        unsigned char value;
        int expandCode, compressCode;
        const char* compressOutput;  // what compress writes (in out), or null
    } cases[] = {
        {"mode 0", 5, 0x00, ZCOMP_ERR_HEADER, ZCOMP_ERR_ALREADY, nullptr},
        {"mode 3", 5, 0x30, ZCOMP_ERR_HEADER, ZCOMP_ERR_ALREADY, nullptr},
        {"level 6", 5, 0x16, ZCOMP_ERR_HEADER, ZCOMP_ERR_ALREADY, nullptr},
        // Shrunk again, it is a plain file like any other.
        {"damaged magic", 0, 'e', ZCOMP_ERR_NOT_COMPRESSED, ZCOMP_OK, "H.ebz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = good;
        f[c.at] = c.value;
        ASSERT_TRUE(writeFile(t.file("H.ebz"), f));
        CZComp z;
        EXPECT_EQ(-1, z.expand(t.file("H.ebz").c_str(), t.file("out").c_str(), 0, 0, 0));
        EXPECT_EQ(c.expandCode, z.getInfo()->errorCode);
        EXPECT_EQ(std::vector<std::string>(), listDir(t.file("out")));
        EXPECT_EQ(f, readFile(t.file("H.ebz")));
        EXPECT_EQ(c.compressCode ? -1 : 0, z.compress(t.file("H.ebz").c_str(), t.file("out").c_str(), 0, 0, 1, 0, 0));
        EXPECT_EQ(c.compressCode, z.getInfo()->errorCode);
        EXPECT_EQ(c.compressOutput ? std::vector<std::string>{c.compressOutput} : std::vector<std::string>(),
                  listDir(t.file("out")));
        if (c.compressOutput) {
            ASSERT_EQ(0, unlink(t.file(std::string("out/") + c.compressOutput).c_str()));
        }
    }
}

TEST(ZComp, InputDeletedOnlyAfterSuccess) {
    TestDir t;
    ASSERT_TRUE(writeFile(t.file("HONMON"), booktest::makeHonmon(4 * 2048)));
    CZComp z;
    ASSERT_EQ(0, z.compress(t.file("HONMON").c_str(), nullptr, 2, 0, 0, 0, 0));
    EXPECT_FALSE(booktest::exists(t.file("HONMON")));
    ASSERT_EQ(0, z.expand(t.file("HONMON.ebz").c_str(), nullptr, 0, 0, 0));
    EXPECT_FALSE(booktest::exists(t.file("HONMON.ebz")));
    EXPECT_EQ(booktest::makeHonmon(4 * 2048), readFile(t.file("HONMON.org")));
}

// A checksum mismatch fails the expansion with code 3, leaves no output and
// keeps the input even without keep-original.
TEST(ZComp, ChecksumErrorLeavesNothingBehind) {
    TestDir t;
    ASSERT_TRUE(writeFile(t.file("H"), booktest::makeHonmon(6 * 2048)));
    CZComp z;
    ASSERT_EQ(0, z.compress(t.file("H").c_str(), nullptr, 0, 0, 0, 0, 0));
    Bytes f = readFile(t.file("H.ebz"));
    f[16] ^= 0x01;  // header Adler-32, byte 3 of 4
    ASSERT_TRUE(writeFile(t.file("H.ebz"), f));
    EXPECT_EQ(-1, checkEbzipFile(t.file("H.ebz").c_str()));
    EXPECT_EQ(-1, z.expand(t.file("H.ebz").c_str(), nullptr, 0, 0, 0));
    EXPECT_EQ(ZCOMP_ERR_CHECKSUM, z.getInfo()->errorCode);
    EXPECT_EQ((std::vector<std::string>{"H.ebz"}), listDir(t.path()));
}

// Expansion of EBZip input on one thread and on eight: the same output, the
// same progress calls and the same failures. The file spans several of the
// chunks that the workers take, so damage in a late chunk must still fail the
// whole expansion (code 3), leave no output and keep the input.
TEST(ZComp, ExpandOnOneAndManyThreads) {
    const size_t size = 3 * (1 << 20) + 2048 * 7 + 333;
    const Bytes original = booktest::makeHonmon(size, 4);
    struct Damage {
        const char* name;
        unsigned level;
        int code;  // 0: the expansion succeeds
        void (*apply)(Bytes& f, const booktest::EbzipFile& p);
    };
    const Damage cases[] = {
        {"intact, level 0", 0, 0, [](Bytes&, const booktest::EbzipFile&) {}},
        {"intact, level 5", 5, 0, [](Bytes&, const booktest::EbzipFile&) {}},
        {"zlib header of a slice in the third chunk", 0, ZCOMP_ERR_CHECKSUM,
         [](Bytes& f, const booktest::EbzipFile& p) {
             size_t k = 2 * 512 + 5;  // 512 slices of 2048 bytes to a chunk
             ASSERT_LT(k, p.raw.size());
             ASSERT_FALSE(p.raw[k]);
             f[p.offsets[k]] = 0xFF;
             f[p.offsets[k] + 1] = 0xFF;
         }},
        {"a byte inside a middle slice", 3, ZCOMP_ERR_CHECKSUM,
         [](Bytes& f, const booktest::EbzipFile& p) {
             size_t k = p.offsets.size() / 2;
             ASSERT_FALSE(p.raw[k]);
             f[(p.offsets[k] + p.offsets[k + 1]) / 2] ^= 0x55;
         }},
        {"index entry past the end of the file", 0, ZCOMP_ERR_CHECKSUM,
         [](Bytes& f, const booktest::EbzipFile& p) {
             booktest::putBE(&f[22 + 1200 * p.width], f.size() + 100, p.width);
         }},
        {"file cut in the middle", 1, ZCOMP_ERR_CHECKSUM,
         [](Bytes& f, const booktest::EbzipFile&) { f.resize(f.size() / 2); }},
        {"header Adler-32", 2, ZCOMP_ERR_CHECKSUM, [](Bytes& f, const booktest::EbzipFile&) { f[17] ^= 0x80; }},
    };
    for (const Damage& c : cases) {
        TestDir t;
        ASSERT_TRUE(writeFile(t.file("HONMON"), original));
        CZComp prep;
        ASSERT_EQ(0, prep.compress(t.file("HONMON").c_str(), nullptr, c.level, 0, 1, 0, 0)) << c.name;
        Bytes f = readFile(t.file("HONMON.ebz"));
        booktest::EbzipFile p = booktest::parseEbzip(f);
        ASSERT_TRUE(p.ok) << c.name << ": " << p.error;
        c.apply(f, p);
        ASSERT_TRUE(writeFile(t.file("HONMON.ebz"), f));

        std::vector<std::pair<int64_t, int64_t>> calls[2];
        Bytes outputs[2];
        for (int run = 0; run < 2; ++run) {
            std::string dir = t.file(run == 0 ? "one" : "many");
            ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
            CZComp z;
            z.setThreadCount(run == 0 ? 1 : 8);
            z.setProgressCallback(
                [](void* ctx, int64_t done, int64_t total) {
                    static_cast<std::vector<std::pair<int64_t, int64_t>>*>(ctx)->push_back({done, total});
                },
                &calls[run]);
            int rc = z.expand(t.file("HONMON.ebz").c_str(), dir.c_str(), 0, 0, 0);
            if (c.code == 0) {
                ASSERT_EQ(0, rc) << c.name << " run " << run;
                EXPECT_EQ(int64_t(size), z.getInfo()->inputSize) << c.name;
                outputs[run] = readFile(dir + "/HONMON.org");
                EXPECT_TRUE(outputs[run] == original) << c.name << " run " << run;
                // Without keep-original the input goes once its output is complete.
                EXPECT_FALSE(booktest::exists(t.file("HONMON.ebz"))) << c.name;
                ASSERT_TRUE(writeFile(t.file("HONMON.ebz"), f));
            } else {
                EXPECT_EQ(-1, rc) << c.name << " run " << run;
                EXPECT_EQ(c.code, z.getInfo()->errorCode) << c.name << " run " << run;
                EXPECT_TRUE(listDir(dir).empty()) << c.name << " run " << run;
                EXPECT_EQ(f, readFile(t.file("HONMON.ebz"))) << c.name << " run " << run;
            }
        }
        EXPECT_FALSE(calls[0].empty()) << c.name;
        EXPECT_EQ(calls[0], calls[1]) << c.name;
        if (c.code == 0) {
            EXPECT_EQ(int64_t(size / 2048), calls[0].back().first) << c.name;
        }
    }
}

// The index width comes from the size: a file whose offsets would not fit is
// written at a lower level, and fails (code 6, nothing left) when even level 0
// does not fit.
TEST(ZComp, OffsetsThatDoNotFitTheIndexWidth) {
    TestDir t;
    // 60000 bytes, block 1 kept raw: at level 5 the whole file is one raw
    // 65536-byte slice, past what two-byte offsets hold.
    Bytes text = booktest::makeHonmon(60000);
    ASSERT_TRUE(writeFile(t.file("HONMON"), text));
    CZComp z;
    ASSERT_EQ(0, z.compress(t.file("HONMON").c_str(), nullptr, 5, 0, 1, 0, 0x01));
    booktest::EbzipFile p = booktest::parseEbzip(readFile(t.file("HONMON.ebz")));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(4u, p.level);
    EXPECT_EQ(4u, z.getInfo()->level);
    EXPECT_TRUE(p.raw[0]);
    EXPECT_EQ(text, p.data);

    // Incompressible data just under 64 KiB cannot be written at any level.
    ASSERT_TRUE(writeFile(t.file("R"), randomBytes(65500, 5)));
    EXPECT_EQ(-1, z.compress(t.file("R").c_str(), nullptr, 5, 0, 0, 0, 0));
    EXPECT_EQ(ZCOMP_ERR_SYSTEM, z.getInfo()->errorCode);
    EXPECT_EQ((std::vector<std::string>{"HONMON", "HONMON.ebz", "R"}), listDir(t.path()));
}

// An input that ends before its size (here cut short while it is being
// compressed) fails the compression instead of looping or writing a short
// file; nothing is left behind. The reader is at most 8 MiB ahead of the
// writer when the first slice is written, so cutting the file to 9 MiB then
// always leaves blocks missing.
TEST(ZComp, InputCutShortWhileCompressing) {
    TestDir t;
    std::string in = t.file("HONMON");
    ASSERT_TRUE(writeFile(in, booktest::makeHonmon(12 << 20)));
    struct Cut {
        std::string path;
        bool done;
    } cut{in, false};
    CZComp z;
    z.setProgressCallback(
        [](void* ctx, int64_t, int64_t) {
            Cut* c = static_cast<Cut*>(ctx);
            if (!c->done) c->done = truncate(c->path.c_str(), 9 << 20) == 0;
        },
        &cut);
    EXPECT_EQ(-1, z.compress(in.c_str(), nullptr, 0, 0, 0, 0, 0));
    EXPECT_TRUE(cut.done);
    EXPECT_EQ(ZCOMP_ERR_SYSTEM, z.getInfo()->errorCode);
    EXPECT_EQ((std::vector<std::string>{"HONMON"}), listDir(t.path()));
}

// ---- kept ranges ----

// Flag 0x01 keeps block 1 raw at every level; keep flags apply only to book
// text files (HONMON, HONMON2, START).
TEST(ZComp, KeptFirstSliceAtEveryLevel) {
    TestDir t;
    Bytes text = booktest::makeHonmon(600000);
    ASSERT_TRUE(writeFile(t.file("honmon2"), text));
    ASSERT_TRUE(writeFile(t.file("other"), text));
    for (unsigned level = 0; level <= 5; ++level) {
        ASSERT_EQ(0, mkdir(t.file("o" + std::to_string(level)).c_str(), 0755));
        std::string out = t.file("o" + std::to_string(level));
        CZComp z;
        ASSERT_EQ(0, z.compress(t.file("honmon2").c_str(), out.c_str(), level, 0, 1, 0, 0x01));
        EXPECT_EQ(nullptr, z.getInfo()->keepRanges);
        booktest::EbzipFile p = booktest::parseEbzip(readFile(out + "/honmon2.ebz"));
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_TRUE(p.raw[0]) << "level " << level;
        EXPECT_FALSE(p.raw[1]) << "level " << level;
        EXPECT_EQ(text, p.data);
        ASSERT_EQ(0, z.compress(t.file("other").c_str(), out.c_str(), level, 0, 1, 0, 0x01));
        EXPECT_FALSE(booktest::parseEbzip(readFile(out + "/other.ebz")).raw[0]) << "level " << level;
    }
}

TEST(ZComp, CollectKeepRanges) {
    TestDir t;
    // Blocks: 1 index table; 10 a 0x90 area whose first block says 3 more;
    // 20 a 0x71 area (+2); 30 id 0x80 (+0); 40 id 0x81 (+1); 50 id 0x00 text;
    // 60 the 0xFF multi-search table naming a 0x91 sub-index at 70 (+4) and a
    // 0x10 one at 80 that stays compressed.
    Bytes b = booktest::makeBookText(
        100 * 2048, {{0x90, 10, 4}, {0x71, 20, 3}, {0x80, 30, 1}, {0x81, 40, 2}, {0x00, 50, 5}, {0xFF, 60, 1}});
    auto at = [&](uint32_t block) { return b.data() + (block - 1) * 2048; };
    auto setCount = [&](uint32_t block, unsigned n) { booktest::putBE(at(block) + 2, n, 2); };
    setCount(10, 3);
    setCount(20, 2);
    setCount(30, 0);
    setCount(40, 1);
    setCount(50, 9);
    setCount(70, 4);
    unsigned char* ms = at(60);
    memset(ms, 0, 2048);
    booktest::putBE(ms, 1, 2);  // bytes 0-1: one entry
    ms[16] = 2;                 // entry head byte 0: two sub-records follow
    ms[48] = 0x91;              // sub-record 1: id 0x91, start block 70
    booktest::putBE(ms + 50, 70, 4);
    ms[64] = 0x10;  // sub-record 2: id 0x10, start block 80
    booktest::putBE(ms + 66, 80, 4);
    ASSERT_TRUE(writeFile(t.file("HONMON"), b));

    const struct {
        const char* name;
        unsigned flags;
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
    } cases[] = {
        {"0x01 block 1", 0x01, {{1, 1}}},
        {"0x02 prefix indexes", 0x02, {{10, 13}}},
        {"0x04 suffix indexes", 0x04, {{20, 22}}},
        {"0x08 keyword", 0x08, {{30, 30}}},
        {"0x10 cross", 0x10, {{40, 41}}},
        {"0x20 multi-search", 0x20, {{60, 60}, {70, 74}}},
        {"63 all", 63, {{1, 1}, {10, 13}, {20, 22}, {30, 30}, {40, 41}, {60, 60}, {70, 74}}},
    };
    for (const auto& c : cases) {
        CZio zio;
        ASSERT_EQ(0, zio.open(t.file("HONMON").c_str(), 0));
        CZComp z;
        z.collectKeepRanges(&zio, b.data(), c.flags);
        std::vector<std::pair<uint64_t, uint64_t>> got;
        for (int i = 0; i < z.getInfo()->keepCount; ++i)
            got.push_back({z.getInfo()->keepRanges[i].first, z.getInfo()->keepRanges[i].last});
        EXPECT_EQ(c.ranges, got) << c.name;
    }

    // The kept areas stay raw in the file; the text area does not.
    CZComp z;
    ASSERT_EQ(0, z.compress(t.file("HONMON").c_str(), nullptr, 0, 0, 1, 0, 63));
    booktest::EbzipFile p = booktest::parseEbzip(readFile(t.file("HONMON.ebz")));
    ASSERT_TRUE(p.ok) << p.error;
    for (uint32_t block : {1u, 10u, 13u, 20u, 22u, 30u, 41u, 60u, 70u, 74u}) EXPECT_TRUE(p.raw[block - 1]) << block;
    for (uint32_t block : {2u, 14u, 50u, 75u, 80u}) EXPECT_FALSE(p.raw[block - 1]) << block;
    EXPECT_EQ(b, p.data);
}

TEST(ZComp, KeepRangeBookkeeping) {
    CZComp z;
    z.collectKeepRanges(nullptr, nullptr, 0);
    z.addKeepRange(0, 5);  // block 0 does not exist
    z.addKeepRange(9, 8);  // first > last
    z.addKeepRange(10, 20);
    z.addKeepRange(10, 20);  // already present
    EXPECT_EQ(1, z.getInfo()->keepCount);
    const struct {
        uint64_t first, count;
        bool in;
    } cases[] = {{1, 9, false}, {1, 10, true}, {20, 5, true}, {21, 3, false}, {12, 2, true}, {5, 30, true}};
    for (const auto& c : cases) EXPECT_EQ(c.in, z.inKeepRange(c.first, c.count)) << c.first << "+" << c.count;
    for (uint64_t i = 0; i < 100; ++i) z.addKeepRange(100 + i, 100 + i);
    EXPECT_EQ(ZCOMP_MAX_KEEP_RANGES, z.getInfo()->keepCount);
    z.clearKeepRanges();
    EXPECT_EQ(nullptr, z.getInfo()->keepRanges);
    EXPECT_FALSE(z.inKeepRange(10, 1));
}

TEST(ZComp, StripLzssIndex) {
    unsigned char block[2048];
    memset(block, 0xEE, sizeof block);
    memset(block, 0, 16);
    block[1] = 4;  // bytes 0-1: four records
    const unsigned char ids[] = {0x00, 0x21, 0x22, 0x90};
    for (int i = 0; i < 4; ++i) {
        memset(block + 16 + 16 * i, 0, 16);
        block[16 + 16 * i] = ids[i];                                 // +0 id
        block[16 + 16 * i + 5] = static_cast<unsigned char>(i + 1);  // +2..5 start block i+1
    }
    CEbxaDecoder::stripIndexRecords(block);
    EXPECT_EQ(0, block[0]);
    EXPECT_EQ(2, block[1]);  // two records left
    EXPECT_EQ(0x00, block[16]);
    EXPECT_EQ(1, block[21]);
    EXPECT_EQ(0x90, block[32]);  // moved up from record 3
    EXPECT_EQ(4, block[37]);
    for (int i = 48; i < 80; ++i) EXPECT_EQ(0, block[i]) << i;  // freed records cleared
    EXPECT_EQ(0xEE, block[80]);                                 // bytes behind the table untouched
}

// ---- EPWING version ----

TEST(ZComp, EpwingVersionOf) {
    TestDir t;
    using booktest::SubbookSpec;
    auto spec = [](const char* dir, unsigned version, unsigned text, unsigned gcode = 0, const char* gname = "",
                   unsigned scode = 0, const char* sname = "") {
        SubbookSpec s;
        s.directory = dir;
        s.version = version;
        s.textCode = text;
        s.graphicsCode = gcode;
        s.graphicsName = gname;
        s.soundCode = scode;
        s.soundName = sname;
        return s;
    };
    // SUBA is a prefix of SUBAB, which comes first: whole names decide.
    booktest::makeBook(t.file("book"),
                       {spec("SUBAB", 3, 0x12), spec("SUBA", 5, 0), spec("HUF4", 4, 0x11),
                        spec("GRA", 6, 0, 0x12, "HONMONG", 0x11, "HONMONS"), spec("V1", 1, 0x12)},
                       {});
    for (const char* d : {"GRA", "V1", "ebsub"}) {
        mkdir(t.file(std::string("book/") + d).c_str(), 0755);
        mkdir(t.file(std::string("book/") + d + "/DATA").c_str(), 0755);
    }
    mkdir(t.file("book/SUBA/data").c_str(), 0755);
    mkdir(t.file("eb").c_str(), 0755);
    writeFile(t.file("eb/CATALOG"), Bytes(2048, 0));

    const struct {
        const char* path;
        int version;
    } cases[] = {
        {"book/SUBA/DATA/HONMON", 5},   // not SUBAB's Huffman code
        {"book/SUBAB/DATA/HONMON", 6},  // text code 0x12
        {"book/HUF4/DATA/HONMON", 4},   // text code 0x11
        {"book/suba/data/honmon2", 5},  // case ignored
        {"book/GRA/DATA/HONMONG", 6},   // graphics file name -> graphics code
        {"book/GRA/DATA/HONMONS", 4},   // sound file name -> sound code
        {"book/GRA/DATA/HONMON", 6},    // the text file: text code 0 -> version
        {"book/V1/DATA/HONMON", 1},     // version 1: no codes
        {"book/SUBA/DATA/START", 0},    // not a HONMON file
        {"book/SUBA/HONMON", 0},        // not in DATA
        {"book/SUBA/DATAX/HONMON", 0},  // DATAX is not DATA
        {"book/NONE/DATA/HONMON", 0},   // no such subbook
        {"eb/ebsub/DATA/HONMON", 0},    // EB catalog
    };
    for (const auto& c : cases) EXPECT_EQ(c.version, CZComp::epwingVersionOf(t.file(c.path).c_str())) << c.path;
}

TEST(ZComp, CheckEbzipFile) {
    TestDir t;
    ASSERT_TRUE(writeFile(t.file("H"), booktest::makeHonmon(8 * 2048)));
    CZComp z;
    ASSERT_EQ(0, z.compress(t.file("H").c_str(), nullptr, 0, 0, 1, 0, 0));
    EXPECT_EQ(0, checkEbzipFile(t.file("H.ebz").c_str()));
    EXPECT_EQ(-1, checkEbzipFile(t.file("H").c_str()));
    Bytes f = readFile(t.file("H.ebz"));
    booktest::EbzipFile p = booktest::parseEbzip(f);
    ASSERT_TRUE(p.ok);
    // A literal byte inside the second slice's deflate data.
    f[p.offsets[1] + (p.offsets[2] - p.offsets[1]) / 2] ^= 0x40;
    ASSERT_TRUE(writeFile(t.file("H.ebz"), f));
    EXPECT_EQ(-1, checkEbzipFile(t.file("H.ebz").c_str()));
}
