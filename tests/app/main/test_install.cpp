// cmake --install into a temporary prefix: the programs and the default
// gaiji fonts land there, and the installed lexforge builds the bundled
// sample to the same book as the one in the build folder.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/TestDir.h"

namespace {

using lftest::shellQuote;
using lftest::TestDir;

TEST(Install, TheInstalledProgramsFindTheirFontsAndBuildTheSample) {
    TestDir prefix, work;
    std::string out;
    ASSERT_EQ(lftest::runCommand(shellQuote(LF_CMAKE_COMMAND) + " --install " + shellQuote(LF_BINARY_DIR) +
                                     " --prefix " + shellQuote(prefix.path()) + " 2>&1",
                                 &out),
              0)
        << out;
    for (const char* file : {"bin/lexforge", "bin/packwell", "share/lexforge/hex/8x16.hex", "share/lexforge/hex/16x16.hex"})
        EXPECT_FALSE(lftest::readFile(prefix.file(file)).empty()) << file;
    EXPECT_EQ(lftest::runCommand(shellQuote(prefix.file("bin/packwell")) + " --help >/dev/null"), 0);

    const std::string project = shellQuote(std::string(LF_SOURCE_DIR) + "/examples/sample/sample.lfx");
    // Only the installed folders tell the program where its fonts are.
    const std::string env = "env -u LF_RESOURCES ";
    ASSERT_EQ(lftest::runCommand(env + shellQuote(prefix.file("bin/lexforge")) + " build --output " +
                                     shellQuote(work.file("installed")) + " " + project + " 2>&1",
                                 &out),
              0)
        << out;
    ASSERT_EQ(lftest::runCommand(env + shellQuote(lftest::binDir() + "/lexforge") + " build --output " +
                                     shellQuote(work.file("built")) + " " + project + " 2>&1",
                                 &out),
              0)
        << out;
    auto installed = lftest::readTree(work.file("installed")), built = lftest::readTree(work.file("built"));
    ASSERT_FALSE(built.empty());
    EXPECT_TRUE(installed == built);
    // The narrow gaiji font is drawn from the installed hex font.
    ASSERT_TRUE(installed.count("SAMPLE/GAIJI/GAI16H00"));
}

}  // namespace
