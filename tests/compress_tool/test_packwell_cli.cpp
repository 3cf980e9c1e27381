// build/bin/packwell end to end on generated book folders: the log on
// standard output line for line, the files written and the exit status.

#include "tests/common/TestDir.h"
#include "tests/common/BookFolder.h"
#include "tests/common/EbzipParse.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using booktest::Bytes;
using lftest::readFile;
using lftest::TestDir;
using lftest::writeFile;

namespace {

std::string packwell() {
    return lftest::binDir() + "/packwell";
}

// Runs packwell with the arguments in the folder dir; stdout into *out,
// stderr thrown away unless wanted.
int run(const std::string& dir, const std::string& args, std::string* out, bool withStderr = false) {
    return lftest::runCommand(
        "cd '" + dir + "' && '" + packwell() + "' " + args + (withStderr ? " 2>&1" : " 2>/dev/null"), out);
}

long long sizeOf(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string ok(const std::string& path, long long before, long long after) {
    char n[100];
    snprintf(n, sizeof n, "  %lld -> %lld (%3.2f%%)", before, after, after * 100.0 / before);
    return " >> " + path + n + "\n";
}

// A book of two subbooks whose HONMON files share one name.
struct Book {
    explicit Book(const TestDir& t) : root(t.file("book")) {
        texts = {booktest::makeHonmon(30 * 2048 + 100, 1), booktest::makeHonmon(50 * 2048, 2)};
        honmons = booktest::makeBook(root, {booktest::subbook("SUB1"), booktest::subbook("SUB2")}, texts);
    }
    std::string root;
    std::vector<Bytes> texts;
    std::vector<std::string> honmons;
};

}  // namespace

TEST(PackwellCli, HelpAndUsageErrors) {
    TestDir t;
    ASSERT_TRUE(writeFile(t.file("f"), "x"));
    std::string out;
    EXPECT_EQ(0, run(t.path(), "--help", &out));
    EXPECT_EQ(0u, out.find("Usage: packwell shrink"));
    const struct {
        const char* name;
        const char* args;
    } cases[] = {
        {"no command", ""},
        {"unknown command", "squeeze f"},
        {"level above 5", "shrink --level 6 f"},
        {"level not a number", "shrink --level=x f"},
        {"level without a value", "shrink --level"},
        {"keep and delete", "shrink --keep --delete-input f"},
        {"no path", "shrink --level 1"},
        {"unknown option", "expand --fast f"},
        {"level is for shrink only", "expand --level 1 f"},
        {"check takes no options", "check --out . f"},
        {"output folder is a file", "shrink --out f f"},
        {"output folder missing", "shrink --out nowhere f"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(2, run(t.path(), c.args, &out)) << c.name;
        EXPECT_EQ("", out) << c.name;
    }
    EXPECT_EQ(Bytes{'x'}, readFile(t.file("f")));
}

// Shrink a whole book folder into a tree, expand it back, check it: every
// line of every log, the bytes that come back, and the inputs kept.
TEST(PackwellCli, BookFolderRoundTripWithTree) {
    TestDir t;
    Book b(t);
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("back").c_str(), 0755));
    std::string out;
    ASSERT_EQ(0, run(t.path(), "shrink --level 3 --tree --out out book", &out));
    const std::string o = t.file("out"), cat = b.root + "/CATALOGS";
    std::string e1 = o + b.honmons[0] + ".ebz", e2 = o + b.honmons[1] + ".ebz";
    EXPECT_EQ("shrink\t" + cat + "\n" + ok(o + cat, 2048, 2048) +                                   //
                  "shrink\t" + b.honmons[0] + "\n" + ok(e1, long(b.texts[0].size()), sizeOf(e1)) +  //
                  "shrink\t" + b.honmons[1] + "\n" + ok(e2, long(b.texts[1].size()), sizeOf(e2)) + "done!\n",
              out);
    for (const auto& h : b.honmons) EXPECT_TRUE(booktest::exists(h)) << "input kept by default";
    EXPECT_EQ(3u, booktest::parseEbzip(readFile(e1)).level);

    ASSERT_EQ(0, run(t.path(), "expand --tree --out back out", &out));
    const std::string k = t.file("back");
    std::string o1 = k + o + b.honmons[0] + ".org", o2 = k + o + b.honmons[1] + ".org";
    EXPECT_EQ("expand\t" + o + cat + "\n" + ok(k + o + cat, 2048, 2048) +                 //
                  "expand\t" + e1 + "\n" + ok(o1, sizeOf(e1), long(b.texts[0].size())) +  //
                  "expand\t" + e2 + "\n" + ok(o2, sizeOf(e2), long(b.texts[1].size())) + "done!\n",
              out);
    EXPECT_EQ(b.texts[0], readFile(o1));
    EXPECT_EQ(b.texts[1], readFile(o2));

    ASSERT_EQ(0, run(t.path(), "check out", &out));
    EXPECT_EQ("CRC Check\t" + e1 + "\n->  Success !\nCRC Check\t" + e2 + "\n->  Success !\ndone!\n", out);
}

// Without copy tree both HONMON files map to one output: the second is
// refused and the first output stays; the run exits 1.
TEST(PackwellCli, TwoInputsOneOutputIsRefused) {
    TestDir t;
    Book b(t);
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    std::string out;
    EXPECT_EQ(1, run(t.path(), "shrink --out out --delete-input " + b.honmons[0] + " " + b.honmons[1], &out));
    std::string e = t.file("out/HONMON.ebz");
    EXPECT_EQ("shrink\t" + b.honmons[0] + "\n" + ok(e, long(b.texts[0].size()), sizeOf(e)) + "shrink\t" + b.honmons[1] +
                  "\nfailed in the compression!\t(skipped)\ndone!\n",
              out);
    EXPECT_EQ(b.texts[0], booktest::parseEbzip(readFile(e)).data);
    EXPECT_FALSE(booktest::exists(b.honmons[0]));   // written, so deleted
    EXPECT_EQ(b.texts[1], readFile(b.honmons[1]));  // refused, so untouched
}

// Beside the inputs, deleting them; relative paths are taken from the working
// folder; a path that does not exist is reported and fails the run.
TEST(PackwellCli, BesideTheInputsWithDelete) {
    TestDir t;
    Book b(t);
    std::string out;
    EXPECT_EQ(
        1, run(t.path(), "shrink --delete-input book/SUB1/DATA/HONMON ./book/SUB2/../SUB2/DATA/HONMON missing", &out));
    std::string e1 = b.honmons[0] + ".ebz", e2 = b.honmons[1] + ".ebz";
    EXPECT_EQ("shrink\t" + b.honmons[0] + "\n" + ok(e1, long(b.texts[0].size()), sizeOf(e1)) + "shrink\t" +
                  b.honmons[1] + "\n" + ok(e2, long(b.texts[1].size()), sizeOf(e2)) + "done!\n",
              out);
    EXPECT_FALSE(booktest::exists(b.honmons[0]));
    EXPECT_FALSE(booktest::exists(b.honmons[1]));
    EXPECT_EQ(1, run(t.path(), "check missing", &out, true));
    EXPECT_NE(std::string::npos, out.find("packwell: cannot examine missing"));

    // A plain file of one block cannot be copied onto itself.
    EXPECT_EQ(1, run(t.path(), "shrink book/CATALOGS", &out));
    EXPECT_EQ("shrink\t" + b.root + "/CATALOGS\nfailed in the compression!\t(skipped)\ndone!\n", out);

    ASSERT_EQ(0, run(t.path(), "expand --delete-input book/SUB1/DATA/HONMON.ebz", &out));
    EXPECT_EQ(b.texts[0], readFile(b.root + "/SUB1/DATA/HONMON.org"));
    EXPECT_FALSE(booktest::exists(e1));
}

// One corrupted byte in a compressed slice, or in the checksum field, is
// found by check: " Failure !" and exit 1.
TEST(PackwellCli, CheckFindsCorruption) {
    TestDir t;
    Book b(t);
    std::string out;
    ASSERT_EQ(0, run(t.path(), "shrink --level 1 " + b.honmons[1], &out));
    std::string e = b.honmons[1] + ".ebz";
    Bytes good = readFile(e);
    booktest::EbzipFile p = booktest::parseEbzip(good);
    ASSERT_TRUE(p.ok) << p.error;
    const struct {
        const char* name;
        size_t offset;
    } cases[] = {{"slice byte", size_t((p.offsets[4] + p.offsets[5]) / 2)}, {"checksum byte", 14}};
    for (const auto& c : cases) {
        Bytes bad = good;
        bad[c.offset] ^= 0x20;
        ASSERT_TRUE(writeFile(t.file("bad.ebz"), bad));
        EXPECT_EQ(1, run(t.path(), "check bad.ebz " + e, &out)) << c.name;
        EXPECT_EQ("CRC Check\t" + t.file("bad.ebz") + "\n->  Failure !\nCRC Check\t" + e + "\n->  Success !\ndone!\n",
                  out)
            << c.name;
    }

    // An EBZip file cut below the 32 bytes a reader needs cannot be opened:
    // nothing is logged for it, but the check does not pass.
    ASSERT_TRUE(writeFile(t.file("cut.ebz"), Bytes(good.begin(), good.begin() + 20)));
    EXPECT_EQ(1, run(t.path(), "check cut.ebz " + e, &out));
    EXPECT_EQ("CRC Check\t" + e + "\n->  Success !\ndone!\n", out);
    // A short file that is not EBZip is no failure of the check.
    ASSERT_TRUE(writeFile(t.file("short"), "EBZ"));
    EXPECT_EQ(0, run(t.path(), "check short " + e, &out));
}
