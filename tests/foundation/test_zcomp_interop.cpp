// CZComp against the EB Library's ebzip and ebunzip: the same bytes as ebzip
// at every level for a book without word-search indexes, and each side
// expanding what the other wrote.

#include "foundation/storage/CZComp.h"
#include "tests/common/BookFolder.h"
#include "tests/common/TestDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using booktest::Bytes;
using lftest::readFile;
using lftest::TestDir;

namespace {

// Probe of the peer tools: runs ebzip (compress, -z) or ebunzip (-u) over a
// book folder into an output folder, keeping the inputs.
struct EbzipProbe {
    static int run(const std::string& args, std::string* out) {
        return lftest::runCommand("ebzip -q -k " + args + " 2>&1", out);
    }
};

struct Case {
    const char* name;
    size_t size;
    bool random;
};

class ZCompInterop : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(ZCompInterop, SameBytesAsEbzipAndExpandedByEachOther) {
    const Case& c = GetParam();
    TestDir t;
    Bytes text = booktest::makeHonmon(c.size, 11);
    if (c.random) booktest::fillRandom(text.data() + 2048, c.size - 2048, 3);
    auto honmon = booktest::makeBook(t.file("book"), {booktest::subbook("SUB1")}, {text})[0];

    for (unsigned level = 0; level <= 5; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        std::string theirs = t.file("e" + std::to_string(level));
        std::string ours = t.file("p" + std::to_string(level));
        ASSERT_EQ(0, mkdir(theirs.c_str(), 0755));
        ASSERT_EQ(0, mkdir(ours.c_str(), 0755));
        std::string log;
        ASSERT_EQ(0, EbzipProbe::run("-z -l " + std::to_string(level) + " -o " + theirs + " " + t.file("book"), &log))
            << "ebzip failed: " << log;
        CZComp z;
        ASSERT_EQ(0, z.compress(honmon.c_str(), ours.c_str(), level, 0, 1, 0, 0)) << z.getInfo()->errorCode;
        Bytes theirFile = readFile(theirs + "/SUB1/DATA/HONMON.ebz");
        Bytes ourFile = readFile(ours + "/HONMON.ebz");
        ASSERT_FALSE(theirFile.empty()) << "ebzip wrote no SUB1/DATA/HONMON.ebz: " << log;
        EXPECT_TRUE(theirFile == ourFile) << "ours " << ourFile.size() << " bytes, ebzip's " << theirFile.size();

        // ebunzip expands ours: a book folder holding our file.
        std::string book2 = t.file("b" + std::to_string(level));
        ASSERT_EQ(0, mkdir(book2.c_str(), 0755));
        lftest::writeFile(book2 + "/CATALOGS", readFile(t.file("book/CATALOGS")));
        mkdir((book2 + "/SUB1").c_str(), 0755);
        mkdir((book2 + "/SUB1/DATA").c_str(), 0755);
        lftest::writeFile(book2 + "/SUB1/DATA/HONMON.ebz", ourFile);
        std::string back = t.file("u" + std::to_string(level));
        ASSERT_EQ(0, mkdir(back.c_str(), 0755));
        ASSERT_EQ(0, EbzipProbe::run("-u -o " + back + " " + book2, &log)) << "ebunzip failed: " << log;
        EXPECT_TRUE(text == readFile(back + "/SUB1/DATA/HONMON")) << "ebunzip did not give back our input";

        // Our expand gives back what ebzip compressed.
        ASSERT_EQ(0, z.expand((theirs + "/SUB1/DATA/HONMON.ebz").c_str(), ours.c_str(), 0, 1, 0))
            << z.getInfo()->errorCode;
        EXPECT_TRUE(text == readFile(ours + "/HONMON.org")) << "our expand of ebzip's file differs";
    }
}

INSTANTIATE_TEST_SUITE_P(Books, ZCompInterop,
                         ::testing::Values(Case{"PartialLastBlock", 150000 + 17, false},
                                           Case{"WholeBlocks", 40 * 2048, false},
                                           Case{"IncompressibleText", 70000, true},
                                           // Expanded by several workers, a chunk of slices each.
                                           Case{"SeveralExpandChunks", (2 << 20) + 5000, false}),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });
