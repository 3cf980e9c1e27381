// The platform's whole-file calls and its system log: atomic replacement,
// bounded reads of regular files only, all-or-nothing decoding, and the log
// handler.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UILog.h"
#include "platform/UITextFile.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

// A decoder for tests: "e" is taken as "é", the pair "hy" as "表", "!" is
// refused and every other byte stands for itself.
size_t testDecoder(const unsigned char* p, size_t available, std::string* utf8) {
    if (p[0] == '!') return 0;
    if (p[0] == 'h') {
        if (available < 2 || p[1] != 'y') return 0;
        utf8->append("\xE8\xA1\xA8");
        return 2;
    }
    if (p[0] == 'e') {
        utf8->append("\xC3\xA9");
    } else {
        utf8->push_back(static_cast<char>(p[0]));
    }
    return 1;
}

}  // namespace

TEST(TextFile, AtomicWriteReplacesTheFileWholeAndKeepsItsMode) {
    TestDir dir;
    const std::string path = dir.file("p.txt");
    std::string error;
    ASSERT_TRUE(UIWriteTextFileAtomically(path, "first", &error)) << error;
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);
    ASSERT_EQ(0, chmod(path.c_str(), 0600));
    ASSERT_TRUE(UIWriteTextFileAtomically(path, "second", &error)) << error;
    std::string bytes;
    ASSERT_TRUE(UIReadFileBytes(path, &bytes, &error));
    EXPECT_EQ("second", bytes);
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    // No temporary file is left beside it.
    EXPECT_EQ(std::vector<std::string>{"p.txt"}, lftest::listDir(dir.path()));
}

TEST(TextFile, AFailedWriteLeavesNothingBehind) {
    TestDir dir;
    ASSERT_EQ(0, mkdir(dir.file("sub").c_str(), 0755));
    const struct {
        const char* what;
        std::string path;
    } kCases[] = {
        {"missing folder", dir.file("none/p.txt")},
        {"a folder in the way", dir.file("sub")},
        {"no name", ""},
        {"a zero byte in the name", dir.file("p.txt") + std::string(1, '\0') + "x"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(UIWriteTextFileAtomically(c.path, "text", &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(std::vector<std::string>{"sub"}, lftest::listDir(dir.path()));
    }
}

TEST(TextFile, OnlyRegularFilesOfBoundedSizeAreRead) {
    TestDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string big = dir.file("big");
    {
        // Sparse: one byte over the bound without writing it.
        FILE* f = fopen(big.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        ASSERT_EQ(0, ftruncate(fileno(f), static_cast<off_t>(kUITextFileMaxBytes) + 1));
        fclose(f);
    }
    ASSERT_TRUE(lftest::writeFile(dir.file("secret"), std::string("secret")));
    const struct {
        const char* what;
        std::string path;
    } kCases[] = {
        {"FIFO", fifo},
        {"folder", dir.path()},
        {"too large", big},
        {"missing", dir.file("none")},
        {"a zero byte cutting the name short", dir.file("secret") + std::string(1, '\0') + ".lfx"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::string bytes = "old", error;
        EXPECT_FALSE(UIReadFileBytes(c.path, &bytes, &error));
        EXPECT_EQ("", bytes);
        EXPECT_FALSE(error.empty());
    }
}

TEST(TextFile, DecodingIsAllOrNothing) {
    TestDir dir;
    const struct {
        const char* what;
        const char* bytes;
        bool ok;
        const char* utf8;
    } kCases[] = {
        {"plain", "abc", true, "abc"},
        {"characters of one and two bytes", "ehyz", true, "\xC3\xA9\xE8\xA1\xA8z"},
        {"empty file", "", true, ""},
        {"refused byte", "ab!c", false, ""},
        {"character cut at the end", "abeh", false, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(lftest::writeFile(dir.file("t"), std::string(c.bytes)));
        std::string text = "old", error;
        EXPECT_EQ(c.ok, UIReadTextFile(dir.file("t"), testDecoder, &text, &error));
        EXPECT_EQ(c.utf8, text);
        EXPECT_EQ(c.ok, error.empty());
    }
}

TEST(SystemLog, LinesGoToTheInstalledHandler) {
    std::vector<std::string> lines;
    UILogHandler old = UISetLogHandler([&](const std::string& line) { lines.push_back(line); });
    EXPECT_FALSE(static_cast<bool>(old));  // standard error
    UILog("one");
    UILog("two");
    // Putting the old one back hands out the one that was installed.
    UILogHandler mine = UISetLogHandler(old);
    ASSERT_TRUE(static_cast<bool>(mine));
    mine("three");
    EXPECT_EQ((std::vector<std::string>{"one", "two", "three"}), lines);
}
