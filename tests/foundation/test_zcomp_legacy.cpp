// CZComp over the legacy storage forms that CZio decodes: EPWING Huffman
// (V4/V5 by the catalog's hint, V6), S-EBXA and SSED are recompressed as
// EBZip holding the plain blocks, and expand gives the plain file back.

#include "foundation/storage/CZComp.h"
#include "foundation/storage/CZio.h"
#include "tests/common/LegacyEncoders.h"
#include "tests/common/TestDir.h"
#include "tests/common/EbzipParse.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using lftest::readFile;
using lftest::TestDir;

namespace {

lftest::Bytes textImage(uint32_t blocks, unsigned seed) {
    lftest::Bytes image = lftest::makeTextImage(blocks, {{0x00, 2, blocks - 1}});
    lftest::fillTextLike(image, 2, blocks, seed);
    return image;
}

// True when CZio opens path in the given storage form.
bool zioReads(const std::string& path, unsigned hint, int mode) {
    CZio zio;
    return zio.open(path.c_str(), hint) == 0 && zio.state()->mode == mode;
}

// Compresses path (version from the book's catalog), checks that the EBZip
// file holds `plain`, then expands it and checks the bytes again.
void roundTrip(const std::string& path, const std::string& expectedEbz, const lftest::Bytes& plain, int expectedVersion,
               int mode) {
    int version = CZComp::epwingVersionOf(path.c_str());
    EXPECT_EQ(expectedVersion, version);
    ASSERT_TRUE(zioReads(path, static_cast<unsigned>(version), mode)) << "CZio does not detect the storage form";
    CZComp z;
    ASSERT_EQ(0, z.compress(path.c_str(), nullptr, 2, static_cast<unsigned>(version), 1, 0, 0))
        << "code " << z.getInfo()->errorCode;
    EXPECT_EQ(expectedEbz, z.getInfo()->outputPath);
    EXPECT_EQ(int64_t(plain.size()), z.getInfo()->inputSize);
    booktest::EbzipFile p = booktest::parseEbzip(readFile(expectedEbz));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.data == plain) << "the EBZip file does not hold the decoded blocks";

    std::string org = expectedEbz.substr(0, expectedEbz.size() - 4) + ".org";
    ASSERT_EQ(0, z.expand(path.c_str(), nullptr, static_cast<unsigned>(version), 1, 0))
        << "code " << z.getInfo()->errorCode;
    EXPECT_EQ(org, z.getInfo()->outputPath);
    EXPECT_TRUE(readFile(org) == plain) << "expanding the legacy file directly differs";
}

}  // namespace

TEST(ZCompLegacy, HuffmanForms) {
    const struct {
        const char* name;
        int encoderVersion;
        int catalogVersion;
        uint8_t code;
        int hint;
    } cases[] = {{"V4 by code 0x11", 4, 4, 0x11, 4}, {"V6 by code 0x12", 6, 6, 0x12, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir t;
        lftest::Bytes plain = textImage(24, 5);
        lftest::HuffmanOptions opt;
        opt.version = c.encoderVersion;
        std::string error;
        lftest::Bytes huff = lftest::encodeHuffman(plain, opt, &error);
        ASSERT_FALSE(huff.empty()) << error;
        ASSERT_TRUE(lftest::writeEpwingBook(t.path(), huff, c.catalogVersion, c.code));
        std::string path = t.file("TEST/DATA/HONMON2");
        roundTrip(path, path + ".ebz", plain, c.hint, c.hint == 6 ? ZIO_EPWING6 : ZIO_EPWING);
    }
}

// S-EBXA: the 0x21 and 0x22 records of the index table are taken out of
// block 1, so the result is the plain START image again.
TEST(ZCompLegacy, SebxaStart) {
    TestDir t;
    lftest::Bytes plain = textImage(20, 9);
    std::string error;
    lftest::Bytes ebxa = lftest::encodeEbxa(plain, lftest::EbxaOptions(), &error);
    ASSERT_FALSE(ebxa.empty()) << error;
    ASSERT_TRUE(lftest::writeEbBook(t.path(), ebxa));
    std::string path = t.file("TEST/START");
    roundTrip(path, path + ".ebz", plain, 0, ZIO_SEBXA);
}

// SSED: read through its SSEDINFO file; the output is named HONMON beside it.
TEST(ZCompLegacy, SsedWrittenAsHonmon) {
    TestDir t;
    lftest::SsedComponent body;
    body.type = 0x00;
    body.first = 1;
    body.image = textImage(40, 3);
    body.fileName = "HONMON.DIC";
    ASSERT_TRUE(lftest::writeSsedBook(t.path(), "BOOK.IDX", "title", {body}));
    roundTrip(t.file("BOOK.IDX"), t.file("HONMON.ebz"), body.image, 0, ZIO_SSED);
}
