// Path parts, file search, copying and directory creation.
#include "foundation/pathutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cstring>
#include <string>

#include "tests/common/FifoOpen.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::TestDir;

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Names in a directory (dot entries excluded).
int entryCount(const std::string& dir) {
    int n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

TEST(PathParts, Table) {
    struct Case {
        const char* path;
        const char* dir;
        const char* name;
        const char* stem;
        const char* ext;
    } cases[] = {
        {"/book/HONMON.ebz", "/book", "HONMON.ebz", "HONMON", "ebz"},
        {"book/data/a.tar.gz", "book/data", "a.tar.gz", "a.tar", "gz"},
        {"HONMON", "", "HONMON", "HONMON", ""},
        {"/HONMON", "", "HONMON", "HONMON", ""},
        {"C:\\dic\\src.txt", "C:\\dic", "src.txt", "src", "txt"},
        {"mixed/sep\\file.csv", "mixed/sep", "file.csv", "file", "csv"},
        {"dir.d/noext", "dir.d", "noext", "noext", ""},
        {"dir/.profile", "dir", ".profile", ".profile", ""},
        {"dir/name.", "dir", "name.", "name", ""},
        {"dir/..x", "dir", "..x", ".", "x"},
        {"dir/", "dir", "", "", ""},
        {"//x", "/", "x", "x", ""},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        char out[kPathSize];
        EXPECT_EQ(pathDirName(c.path, out), static_cast<int>(std::strlen(c.dir))) << c.path;
        EXPECT_STREQ(out, c.dir) << c.path;
        EXPECT_EQ(pathFileName(c.path, out), static_cast<int>(std::strlen(c.name))) << c.path;
        EXPECT_STREQ(out, c.name) << c.path;
        EXPECT_EQ(pathStem(c.path, out), static_cast<int>(std::strlen(c.stem))) << c.path;
        EXPECT_STREQ(out, c.stem) << c.path;
        EXPECT_EQ(pathExtension(c.path, out), static_cast<int>(std::strlen(c.ext))) << c.path;
        EXPECT_STREQ(out, c.ext) << c.path;
    }
}

TEST(PathParts, ResultThatDoesNotFitIsRefused) {
    char small[4];
    std::memset(small, 'X', sizeof small);
    EXPECT_EQ(pathFileName("/a/name.txt", small, sizeof small), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(pathExtension("/a/name.text", small, sizeof small), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(pathExtension("/a/name.txt", small, sizeof small), 3);  // exactly fits
    EXPECT_STREQ(small, "txt");
    EXPECT_EQ(pathDirName("/abcd/x", small, sizeof small), -1);
    EXPECT_EQ(pathStem("abcd.e", small, 0), -1);  // nothing written at all

    // A path longer than the default buffer.
    std::string longPath = "/" + std::string(300, 'd') + "/f";
    char out[kPathSize];
    EXPECT_EQ(pathDirName(longPath.c_str(), out), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(pathFileName(longPath.c_str(), out), 1);
}

TEST(PathParts, LineEndLength) {
    EXPECT_EQ(lineEndLength("\r\nx"), 2);
    EXPECT_EQ(lineEndLength("\nx"), 1);
    EXPECT_EQ(lineEndLength("\rx"), 1);
    EXPECT_EQ(lineEndLength("\r"), 1);
    EXPECT_EQ(lineEndLength("x"), 0);
    EXPECT_EQ(lineEndLength(""), 0);
}

TEST(Files, FileExists) {
    TestDir t;
    ASSERT_TRUE(lftest::writeFile(t.file("a"), std::string("x")));
    EXPECT_EQ(fileExists(t.file("a").c_str()), 1);
    EXPECT_EQ(fileExists(t.path().c_str()), 1);
    EXPECT_EQ(fileExists(t.file("missing").c_str()), 0);
    EXPECT_EQ(fileExists(nullptr), 0);
}

// A book-like tree: CATALOGS, a subbook directory and a hidden file.
class FindFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(t.file("Sub").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(t.file("Sub/DATA").c_str(), 0755), 0);
        ASSERT_TRUE(lftest::writeFile(t.file("CATALOGS"), std::string("c")));
        ASSERT_TRUE(lftest::writeFile(t.file(".hidden"), std::string("h")));
        ASSERT_TRUE(lftest::writeFile(t.file("Sub/DATA/HONMON"), std::string("h")));
    }
    TestDir t;
};

TEST_F(FindFileTest, MatchesWithoutCaseAndReturnsOwnName) {
    const char* p = findFile(t.path().c_str(), "catalogs", 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p), t.file("CATALOGS"));
    std::string withSlash = t.path() + "/";
    p = findFile(withSlash.c_str(), "SUB", 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p), t.file("Sub"));
}

TEST_F(FindFileTest, MissesAndDepth) {
    EXPECT_EQ(findFile(t.path().c_str(), "CATALOG", 1), nullptr);  // no prefix match
    EXPECT_EQ(findFile(t.path().c_str(), ".hidden", 1), nullptr);  // dot names passed over
    EXPECT_EQ(findFile(t.file("nodir").c_str(), "x", 1), nullptr);
    EXPECT_EQ(findFile(t.path().c_str(), "honmon", 1), nullptr);  // only directly in the directory
    EXPECT_EQ(findFile(t.path().c_str(), "honmon", 2), nullptr);  // two levels down
    const char* p = findFile(t.path().c_str(), "honmon", 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p), t.file("Sub/DATA/HONMON"));
}

TEST_F(FindFileTest, LinkLoopsAreNotFollowed) {
    ASSERT_EQ(symlink("..", t.file("Sub/up").c_str()), 0);
    EXPECT_EQ(findFile(t.path().c_str(), "nothing", 100), nullptr);
    const char* p = findFile(t.file("Sub").c_str(), "UP", 1);  // the link itself still matches
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p), t.file("Sub/up"));
}

TEST_F(FindFileTest, AnyOfSeveralNames) {
    const char* names[] = {"CATALOGS.ebz", "catalogs", nullptr};
    const char* p = findAnyFile(t.path().c_str(), names, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p), t.file("CATALOGS"));
    const char* none[] = {"CATALOG", "CATALOG.ebz", nullptr};
    EXPECT_EQ(findAnyFile(t.path().c_str(), none, 1), nullptr);
    const char* empty[] = {nullptr};
    EXPECT_EQ(findAnyFile(t.path().c_str(), empty, 1), nullptr);

    // The two searches keep separate buffers.
    const char* a = findFile(t.path().c_str(), "sub", 1);
    const char* b = findAnyFile(t.path().c_str(), names, 1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::string(a), t.file("Sub"));
}

TEST(CopyFile, CopiesBytesAndMode) {
    TestDir t;
    std::string data;
    for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7);
    ASSERT_TRUE(lftest::writeFile(t.file("src"), data));
    chmod(t.file("src").c_str(), 0640);
    ASSERT_TRUE(lftest::writeFile(t.file("dst"), std::string("old contents")));
    EXPECT_EQ(copyFile(t.file("src").c_str(), t.file("dst").c_str()), 0);
    std::vector<unsigned char> got = lftest::readFile(t.file("dst"));
    EXPECT_EQ(std::string(got.begin(), got.end()), data);
    struct stat st;
    ASSERT_EQ(stat(t.file("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(entryCount(t.path()), 2);  // no temporary left behind

    ASSERT_TRUE(lftest::writeFile(t.file("empty"), std::string()));
    EXPECT_EQ(copyFile(t.file("empty").c_str(), t.file("empty2").c_str()), 0);
    EXPECT_TRUE(lftest::readFile(t.file("empty2")).empty());
    EXPECT_EQ(copyFile(t.file("src").c_str(), t.file("src").c_str()), 0);  // onto itself
    got = lftest::readFile(t.file("src"));
    EXPECT_EQ(got.size(), data.size());
}

TEST(CopyFile, FailuresLeaveNoOutput) {
    TestDir t;
    ASSERT_TRUE(lftest::writeFile(t.file("src"), std::string("abc")));
    ASSERT_TRUE(lftest::writeFile(t.file("dst"), std::string("keep")));
    ASSERT_EQ(mkdir(t.file("adir").c_str(), 0755), 0);
    struct Case {
        const char* what;
        std::string src, dst;
    } cases[] = {
        {"missing source", t.file("missing"), t.file("dst")},
        {"source is a directory", t.file("adir"), t.file("dst")},
        {"missing output directory", t.file("src"), t.file("nodir/out")},
        {"output is a directory", t.file("src"), t.file("adir")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(copyFile(c.src.c_str(), c.dst.c_str()), -1) << c.what;
        std::vector<unsigned char> kept = lftest::readFile(t.file("dst"));
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep") << c.what;
        EXPECT_EQ(entryCount(t.path()), 3) << c.what;  // src, dst, adir: nothing new
        EXPECT_EQ(entryCount(t.file("adir")), 0) << c.what;
    }
    EXPECT_EQ(copyFile(nullptr, t.file("x").c_str()), -1);
    EXPECT_EQ(copyFile(t.file("src").c_str(), ""), -1);
    // A FIFO is refused at once, not waited on for a writer.
    int result = 0;
    const std::string out = t.file("fromfifo");
    EXPECT_TRUE(lftest::opensFifoWithoutWaiting(
        t.file("fifo"), [&](const char* path) { return copyFile(path, out.c_str()); }, &result));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(access(out.c_str(), F_OK), -1) << "no output";
}

TEST(MakeDirectories, LikeMkdirP) {
    TestDir t;
    std::string deep = t.file("a/b/c");
    EXPECT_EQ(makeDirectories(deep.c_str()), 0);
    EXPECT_TRUE(isDirectory(deep));
    EXPECT_EQ(makeDirectories(deep.c_str()), 0);  // already there
    std::string trailing = t.file("x/y/");
    EXPECT_EQ(makeDirectories(trailing.c_str()), 0);
    EXPECT_TRUE(isDirectory(t.file("x/y")));
    std::string doubled = t.file("p//q");
    EXPECT_EQ(makeDirectories(doubled.c_str()), 0);
    EXPECT_TRUE(isDirectory(t.file("p/q")));

    ASSERT_TRUE(lftest::writeFile(t.file("file"), std::string("x")));
    EXPECT_EQ(makeDirectories(t.file("file").c_str()), -1);
    EXPECT_EQ(makeDirectories(t.file("file/sub").c_str()), -1);
    EXPECT_EQ(makeDirectories(""), -1);
    EXPECT_EQ(makeDirectories(nullptr), -1);
}
