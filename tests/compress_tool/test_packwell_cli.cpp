// build/bin/packwell end to end on generated book folders: the log on
// standard output line for line, the files written and the exit status.

#include "foundation/pathutil.h"
#include "tests/common/BookFolder.h"
#include "tests/common/EbzipParse.h"
#include "tests/common/TestDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <map>
#include <thread>

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

// Runs packwell as run does, with only its standard error into *err.
int runErr(const std::string& dir, const std::string& args, std::string* err) {
    return lftest::runCommand("cd '" + dir + "' && '" + packwell() + "' " + args + " 2>&1 >/dev/null", err);
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

// Folder modes only stop a user without privileges: run as root, packwell is
// run as "nobody" for the checks that need them (the test folder is opened to
// it); run as anyone else, packwell runs as that user.
std::string asUnprivileged(const TestDir& t) {
    if (geteuid() != 0) return std::string();
    chmod(t.path().c_str(), 0777);
    return "setpriv --reuid=65534 --regid=65534 --clear-groups ";
}

int runAs(const std::string& prefix, const std::string& dir, const std::string& args, std::string* out) {
    return lftest::runCommand("cd '" + dir + "' && " + prefix + "'" + packwell() + "' " + args + " 2>/dev/null", out);
}

// Names in a folder that are Packwell's temporary files.
std::vector<std::string> temporaries(const std::string& dir) {
    std::vector<std::string> out;
    for (const std::string& name : lftest::listDir(dir))
        if (name.compare(0, 10, ".packwell-") == 0) out.push_back(name);
    return out;
}

// Bytes that deflate slowly and hardly shrink.
Bytes noise(size_t n) {
    Bytes b(n);
    uint32_t x = 12345;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<unsigned char>(x >> 23);
    }
    return b;
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
    EXPECT_NE(std::string::npos, out.find("--force       replace output files that already exist"));
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
// line of every log, the bytes that come back, and the inputs kept. The tree
// kept is each file's path below the folder named on the command line.
TEST(PackwellCli, BookFolderRoundTripWithTree) {
    TestDir t;
    Book b(t);
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("back").c_str(), 0755));
    std::string out;
    ASSERT_EQ(0, run(t.path(), "shrink --level 3 --tree --out out book", &out));
    const std::string o = t.file("out"), cat = b.root + "/CATALOGS";
    std::string e1 = o + "/SUB1/DATA/HONMON.ebz", e2 = o + "/SUB2/DATA/HONMON.ebz";
    EXPECT_EQ("shrink\t" + cat + "\n" + ok(o + "/CATALOGS", 2048, 2048) +                           //
                  "shrink\t" + b.honmons[0] + "\n" + ok(e1, long(b.texts[0].size()), sizeOf(e1)) +  //
                  "shrink\t" + b.honmons[1] + "\n" + ok(e2, long(b.texts[1].size()), sizeOf(e2)) + "done!\n",
              out);
    for (const auto& h : b.honmons) EXPECT_TRUE(booktest::exists(h)) << "input kept by default";
    EXPECT_EQ(3u, booktest::parseEbzip(readFile(e1)).level);

    ASSERT_EQ(0, run(t.path(), "expand --tree --out back out", &out));
    const std::string k = t.file("back");
    std::string o1 = k + "/SUB1/DATA/HONMON.org", o2 = k + "/SUB2/DATA/HONMON.org";
    EXPECT_EQ("expand\t" + o + "/CATALOGS\n" + ok(k + "/CATALOGS", 2048, 2048) +          //
                  "expand\t" + e1 + "\n" + ok(o1, sizeOf(e1), long(b.texts[0].size())) +  //
                  "expand\t" + e2 + "\n" + ok(o2, sizeOf(e2), long(b.texts[1].size())) + "done!\n",
              out);
    EXPECT_EQ(b.texts[0], readFile(o1));
    EXPECT_EQ(b.texts[1], readFile(o2));

    ASSERT_EQ(0, run(t.path(), "check out", &out));
    EXPECT_EQ("CRC Check\t" + e1 + "\n->  Success !\nCRC Check\t" + e2 + "\n->  Success !\ndone!\n", out);
}

// Two inputs that would be written to one output refuse the run before
// anything is written, exit 2, naming both (and, without --tree, how to keep
// them apart); with --tree they go to their own folders. Under --tree the
// same happens to two folders named on the command line that hold the same
// paths. One file named twice is no such pair.
TEST(PackwellCli, TwoInputsOneOutputRefuseTheRun) {
    TestDir t;
    Book b(t);
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    const std::string flat = t.file("out/HONMON.ebz");
    const struct {
        const char* name;
        std::string args, first, second, output;
        bool hint;  // the message suggests --tree
    } cases[] = {
        {"two files", "shrink --out out --delete-input " + b.honmons[0] + " " + b.honmons[1], b.honmons[0],
         b.honmons[1], flat, true},
        {"a folder", "shrink --out out --delete-input book", b.honmons[0], b.honmons[1], flat, true},
        {"two folders, tree", "shrink --tree --out out book/SUB1 book/SUB2", b.honmons[0], b.honmons[1],
         t.file("out/DATA/HONMON.ebz"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out, err;
        EXPECT_EQ(2, run(t.path(), c.args, &out));
        EXPECT_EQ("", out);
        EXPECT_EQ(2, runErr(t.path(), c.args, &err));
        EXPECT_EQ("packwell: " + c.first + " and " + c.second + " would both be written to " + c.output +
                      "; nothing was written" + (c.hint ? " (--tree keeps each file's folders below --out)" : "") +
                      "\n",
                  err);
        EXPECT_EQ(std::vector<std::string>(), lftest::listDir(t.file("out")));
        for (size_t i = 0; i < b.honmons.size(); ++i) EXPECT_EQ(b.texts[i], readFile(b.honmons[i]));
    }

    std::string out;
    ASSERT_EQ(0, run(t.path(), "shrink --tree --out out book", &out)) << out;
    EXPECT_EQ(b.texts[1], booktest::parseEbzip(readFile(t.file("out/SUB2/DATA/HONMON.ebz"))).data);
    // The same file twice: written once, then its own output is in the way.
    EXPECT_EQ(1, run(t.path(), "shrink --out . " + b.honmons[0] + " " + b.honmons[0], &out));
    EXPECT_NE(std::string::npos, out.find("failed in the compression!\t(skipped)\n")) << out;
    EXPECT_EQ(b.texts[0], booktest::parseEbzip(readFile(t.file("HONMON.ebz"))).data);
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

    // A plain file of one block is not copied onto itself: it is left as it
    // is, which is no failure.
    EXPECT_EQ(0, run(t.path(), "shrink book/CATALOGS", &out));
    EXPECT_EQ("shrink\t" + b.root + "/CATALOGS\n >> " + b.root +
                  "/CATALOGS  skipped (the output would be the file itself)\ndone!\n",
              out);

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
    // it fails its check, with a line naming it.
    ASSERT_TRUE(writeFile(t.file("cut.ebz"), Bytes(good.begin(), good.begin() + 20)));
    EXPECT_EQ(1, run(t.path(), "check cut.ebz " + e, &out));
    EXPECT_EQ("CRC Check\t" + t.file("cut.ebz") + "\n->  Failure !\nCRC Check\t" + e + "\n->  Success !\ndone!\n", out);
    // A short file that is not EBZip is no failure of the check.
    ASSERT_TRUE(writeFile(t.file("short"), "EBZ"));
    EXPECT_EQ(0, run(t.path(), "check short " + e, &out));
}

// "x/.." is what the system makes of it: through a symbolic link lnk ->
// o/sub, lnk/../book is o/book, not ./book; the same for --out.
TEST(PackwellCli, DotDotFollowsSymbolicLinks) {
    TestDir t;
    ASSERT_EQ(0, mkdir(t.file("o").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("o/sub").c_str(), 0755));
    ASSERT_EQ(0, symlink("o/sub", t.file("lnk").c_str()));
    const Bytes here = booktest::makeHonmon(5 * 2048, 1), there = booktest::makeHonmon(6 * 2048, 2);
    ASSERT_TRUE(writeFile(t.file("book"), here));
    ASSERT_TRUE(writeFile(t.file("o/book"), there));
    std::string out;
    ASSERT_EQ(0, run(t.path(), "shrink --delete-input lnk/../book", &out));
    EXPECT_EQ(here, readFile(t.file("book")));  // the user's other book is untouched
    EXPECT_FALSE(booktest::exists(t.file("book.ebz")));
    EXPECT_FALSE(booktest::exists(t.file("o/book")));
    EXPECT_EQ(there, booktest::parseEbzip(readFile(t.file("o/book.ebz"))).data);

    ASSERT_EQ(0, run(t.path(), "shrink --force --out lnk/.. book", &out));
    EXPECT_EQ(here, booktest::parseEbzip(readFile(t.file("o/book.ebz"))).data) << "written into o";
    EXPECT_FALSE(booktest::exists(t.file("book.ebz")));
}

// An existing output is replaced only with --force; otherwise the file fails
// with a line naming the output, and its input stays.
TEST(PackwellCli, ExistingOutputsAreKeptWithoutForce) {
    const struct {
        const char* name;
        const char* command;
        const char* output;
        const char* verb;
    } cases[] = {{"shrink", "shrink --delete-input", "d/bookA.ebz", "compression"},
                 {"expand", "expand --delete-input", "d/bookA.org", "expansion"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        TestDir t;
        ASSERT_EQ(0, mkdir(t.file("d").c_str(), 0755));
        const Bytes first = booktest::makeHonmon(8 * 2048, 1), second = booktest::makeHonmon(9 * 2048, 2);
        std::string out;
        const bool expanding = std::string(k.name) == "expand";
        // Puts a book under d/bookA (compressed first when expanding).
        auto place = [&](const Bytes& text) {
            ASSERT_TRUE(writeFile(t.file("d/bookA"), text));
            if (expanding) {
                ASSERT_EQ(0, run(t.path(), "shrink --force --delete-input d/bookA", &out));
                ASSERT_TRUE(booktest::exists(t.file("d/bookA.ebz")));
            }
        };
        const std::string input = expanding ? t.file("d/bookA.ebz") : t.file("d/bookA");
        place(first);
        ASSERT_EQ(0, run(t.path(), std::string(k.command) + " " + input, &out));
        place(second);
        EXPECT_EQ(1, run(t.path(), std::string(k.command) + " " + input, &out));
        EXPECT_EQ(std::string(k.name) + "\t" + input + "\nfailed in the " + k.verb +
                      "!\t(the output file exists: " + t.file(k.output) + ")\ndone!\n",
                  out);
        EXPECT_TRUE(booktest::exists(input)) << "the input is kept";
        Bytes kept = readFile(t.file(k.output));
        EXPECT_EQ(first, expanding ? kept : booktest::parseEbzip(kept).data) << "the first book is not lost";

        EXPECT_EQ(0, run(t.path(), std::string(k.command) + " --force " + input, &out));
        Bytes replaced = readFile(t.file(k.output));
        EXPECT_EQ(second, expanding ? replaced : booktest::parseEbzip(replaced).data);
        EXPECT_FALSE(booktest::exists(input));
    }
}

// SIGINT or SIGTERM during a run removes the temporary output; a folder
// that holds such a leftover does not take it as an input.
TEST(PackwellCli, InterruptedRunLeavesNoTemporaryFile) {
    TestDir t;
    ASSERT_TRUE(writeFile(t.file("BIG"), noise(size_t(48) << 20)));
    std::string out;
    ASSERT_EQ(0, run(t.path(), "shrink --level 0 BIG", &out));
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    const struct {
        const char* name;
        const char* command;
        const char* input;
        int signal;
    } cases[] = {{"shrink, SIGTERM", "shrink", "BIG", SIGTERM},
                 {"shrink, SIGINT", "shrink", "BIG", SIGINT},
                 {"expand, SIGTERM", "expand", "BIG.ebz", SIGTERM}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (chdir(t.path().c_str()) != 0) _exit(127);
            if (!freopen("/dev/null", "w", stdout)) _exit(127);
            const std::string bin = packwell();
            execl(bin.c_str(), bin.c_str(), k.command, "--out", "out", k.input, (char*)nullptr);
            _exit(127);
        }
        // Freeze the run as soon as its temporary file is there, so that the
        // signal comes while the output is being written.
        bool seen = false;
        for (int i = 0; i < 200000 && !seen; ++i) {
            seen = !temporaries(t.file("out")).empty();
            if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        if (seen) kill(pid, SIGSTOP);
        kill(pid, k.signal);
        kill(pid, SIGCONT);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        ASSERT_TRUE(seen) << "no temporary file appeared";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == k.signal);
        EXPECT_EQ(std::vector<std::string>(), temporaries(t.file("out")));
    }
    // A leftover of an older run is no input.
    ASSERT_TRUE(writeFile(t.file("out/.packwell-Ab12Cd"), noise(3 * 2048)));
    ASSERT_TRUE(writeFile(t.file("out/HONMON"), booktest::makeHonmon(3 * 2048)));
    EXPECT_EQ(0, run(t.path(), "shrink out", &out));
    EXPECT_EQ(std::string::npos, out.find(".packwell-")) << out;
    EXPECT_FALSE(booktest::exists(t.file("out/.ebz")));
}

// Every input that could not be read gets a failure line with its path and
// makes the exit status 1: an unreadable EBZip file in check, and a folder
// or subfolder that cannot be read in every run.
TEST(PackwellCli, UnreadableInputsFail) {
    TestDir t;
    const std::string as = asUnprivileged(t);
    Book b(t);
    std::string out;
    ASSERT_EQ(0, run(t.path(), "shrink --out . " + b.honmons[0], &out));
    ASSERT_EQ(0, chmod(t.file("HONMON.ebz").c_str(), 0644));
    ASSERT_EQ(0, mkdir(t.file("locked").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("locked/inner").c_str(), 0755));
    ASSERT_TRUE(writeFile(t.file("locked/inner/HONMON"), booktest::makeHonmon(4 * 2048)));
    ASSERT_EQ(0, chmod(t.file("locked/inner").c_str(), 0));
    ASSERT_TRUE(writeFile(t.file("secret.ebz"), readFile(t.file("HONMON.ebz"))));
    ASSERT_EQ(0, chmod(t.file("secret.ebz").c_str(), 0));

    EXPECT_EQ(1, runAs(as, t.path(), "check secret.ebz HONMON.ebz", &out));
    EXPECT_EQ("CRC Check\t" + t.file("secret.ebz") + "\nfailed in the CRC check!\t(cannot be read.)\nCRC Check\t" +
                  t.file("HONMON.ebz") + "\n->  Success !\ndone!\n",
              out);
    EXPECT_EQ(1, runAs(as, t.path(), "check locked", &out));
    EXPECT_EQ("CRC Check\t" + t.file("locked/inner") + "\nfailed in the CRC check!\t(cannot be read.)\ndone!\n", out);

    const struct {
        const char* command;
        const char* verb;
    } runs[] = {{"shrink", "compression"}, {"expand", "expansion"}};
    for (const auto& r : runs) {
        ASSERT_EQ(0, chmod(t.file("locked").c_str(), 0755));
        EXPECT_EQ(1, runAs(as, t.path(), std::string(r.command) + " locked", &out)) << r.command;
        EXPECT_EQ(std::string(r.command) + "\t" + t.file("locked/inner") + "\nfailed in the " + r.verb +
                      "!\t(cannot be read.)\ndone!\n",
                  out);
        ASSERT_EQ(0, chmod(t.file("locked").c_str(), 0));
        EXPECT_EQ(1, runAs(as, t.path(), std::string(r.command) + " locked", &out)) << r.command;
        EXPECT_EQ(std::string(r.command) + "\t" + t.file("locked") + "\nfailed in the " + r.verb +
                      "!\t(cannot be read.)\ndone!\n",
                  out);
    }
    chmod(t.file("locked").c_str(), 0755);
    chmod(t.file("locked/inner").c_str(), 0755);
}

// A delete that fails is a failure; the output stays.
TEST(PackwellCli, FailedDeleteIsReported) {
    TestDir t;
    const std::string as = asUnprivileged(t);
    ASSERT_EQ(0, mkdir(t.file("ro").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    ASSERT_EQ(0, chmod(t.file("out").c_str(), 0777));
    const Bytes text = booktest::makeHonmon(6 * 2048);
    ASSERT_TRUE(writeFile(t.file("ro/HONMON"), text));
    ASSERT_EQ(0, chmod(t.file("ro/HONMON").c_str(), 0644));
    ASSERT_EQ(0, chmod(t.file("ro").c_str(), 0555));
    std::string out;
    EXPECT_EQ(1, runAs(as, t.path(), "shrink --delete-input --out out ro/HONMON", &out));
    EXPECT_EQ(
        "shrink\t" + t.file("ro/HONMON") + "\nfailed in the compression!\t(the input could not be deleted.)\ndone!\n",
        out);
    EXPECT_EQ(text, readFile(t.file("ro/HONMON")));
    EXPECT_EQ(text, booktest::parseEbzip(readFile(t.file("out/HONMON.ebz"))).data);
    chmod(t.file("ro").c_str(), 0755);
}

// Shrinking a book folder in place: the catalog, whose copy would be itself,
// is left as it is and the run succeeds.
TEST(PackwellCli, BookFolderInPlaceSucceeds) {
    TestDir t;
    Book b(t);
    std::string out;
    EXPECT_EQ(0, run(t.path(), "shrink book", &out));
    EXPECT_EQ(0u, out.find("shrink\t" + b.root + "/CATALOGS\n >> " + b.root +
                           "/CATALOGS  skipped (the output would be the file itself)\n"))
        << out;
    for (size_t i = 0; i < b.honmons.size(); ++i)
        EXPECT_EQ(b.texts[i], booktest::parseEbzip(readFile(b.honmons[i] + ".ebz")).data);
}

// A plain file that starts like an EPWING Huffman header, with no catalog to
// give its version, fails with a message that says so.
TEST(PackwellCli, UnknownHuffmanVersionIsNamed) {
    TestDir t;
    Bytes f(4096, 0x41);
    // Header words A..E: page index at 20 (one 36-byte record), frequency
    // table at 56 (512 bytes), tables end at 568.
    const uint32_t words[5] = {20, 36, 56, 512, 568};
    for (int i = 0; i < 5; ++i) booktest::putBE(&f[4 * i], words[i], 4);
    ASSERT_TRUE(writeFile(t.file("LOOKS"), f));
    std::string out;
    for (const char* verb : {"shrink", "expand"}) {
        EXPECT_EQ(1, run(t.path(), std::string(verb) + " --out . LOOKS", &out));
        EXPECT_NE(std::string::npos, out.find("!\t(the compression form could not be determined.)\n")) << out;
    }
}

// An EBZip header announcing 0 bytes is an empty file: expand writes an empty
// output and check passes, both only when the checksum (of nothing: 1) agrees.
TEST(PackwellCli, EbzipOfZeroBytesIsAnEmptyFile) {
    const struct {
        const char* name;
        uint32_t adler;
        int status;
    } cases[] = {{"checksum of nothing", 1, 0}, {"wrong checksum", 7, 1}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        TestDir t;
        Bytes f(40, 0);
        memcpy(&f[0], "EBZip", 5);
        f[5] = 0x10;                          // size below 4 GiB, level 0
        booktest::putBE(&f[14], k.adler, 4);  // Adler-32
        booktest::putBE(&f[22], 26, 2);       // slice index: no slices, ends at 26
        booktest::putBE(&f[24], 26, 2);
        ASSERT_TRUE(writeFile(t.file("E.ebz"), f));
        std::string out;
        EXPECT_EQ(k.status, run(t.path(), "check E.ebz", &out));
        EXPECT_EQ(k.status, run(t.path(), "expand E.ebz", &out));
        EXPECT_EQ(k.status == 0, booktest::exists(t.file("E.org")));
        if (k.status == 0) {
            EXPECT_EQ(Bytes(), readFile(t.file("E.org")));
        }
        EXPECT_FALSE(booktest::exists(t.file("E.ebz.org")));
    }
}

// A file name holding a line break is logged escaped: it cannot forge a
// "Success !" or "done!" line.
TEST(PackwellCli, ControlCharactersInNamesAreEscaped) {
    TestDir t;
    std::string out;
    ASSERT_TRUE(writeFile(t.file("HONMON"), booktest::makeHonmon(4 * 2048)));
    ASSERT_EQ(0, run(t.path(), "shrink HONMON", &out));
    const std::string evil = "x\n->  Success !\ndone!\n";
    ASSERT_TRUE(writeFile(t.file(evil), readFile(t.file("HONMON.ebz"))));
    Bytes bad = readFile(t.file("HONMON.ebz"));
    bad[14] ^= 1;
    ASSERT_TRUE(writeFile(t.file("bad.ebz"), bad));
    EXPECT_EQ(1, run(t.path(), "check .", &out));
    // One line per line of the log: the name's line breaks come out as "\n".
    EXPECT_EQ("CRC Check\t" + t.file("HONMON.ebz") + "\n->  Success !\nCRC Check\t" + t.file("bad.ebz") +
                  "\n->  Failure !\nCRC Check\t" + t.path() + "/x\\n->  Success !\\ndone!\\n\n->  Success !\ndone!\n",
              out);
}

// Files that are no book files (under 32 bytes, and the viewer gaiji map and
// property list whatever their size) are never a failure, in shrink and in
// expand: copied as they are into --out (below their folders with --tree),
// left alone without it, and never deleted, --delete-input or not. The book
// file beside them is worked on as ever.
TEST(PackwellCli, FilesThatAreNoBookFilesAreKept) {
    const std::map<std::string, Bytes> kept = {
        {"B0.map", lftest::Bytes{'h', 'A', '1', '2', '1', '\t', 'u', '0', '0', 'e', '9', '\t', '\n'}},
        {"sub/tiny", Bytes(31, 't')},
        {"B0.plist", Bytes(300, 'p')},
        {"BIG.map", Bytes(5000, 'm')},  // more than a block: would be compressed if it were a book file
        {"sub/nothing", Bytes()},       // an empty file is found by the folder walk as any small file
    };
    const struct {
        const char* name;
        const char* command;
        const char* options;
        bool out, tree;
    } cases[] = {
        {"shrink in place", "shrink", "", false, false},
        {"shrink into a folder", "shrink", "--out out", true, false},
        {"shrink into a tree", "shrink", "--tree --out out", true, true},
        {"expand in place", "expand", "", false, false},
        {"expand into a folder", "expand", "--out out", true, false},
        {"expand into a tree", "expand", "--tree --out out", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir t;
        ASSERT_EQ(0, makeDirectories(t.file("d/sub").c_str()));
        ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
        for (const auto& f : kept) ASSERT_TRUE(writeFile(t.file("d/" + f.first), f.second));
        ASSERT_TRUE(writeFile(t.file("empty"), ""));  // given alone
        const Bytes text = booktest::makeHonmon(6 * 2048);
        ASSERT_TRUE(writeFile(t.file("d/HONMON"), text));
        const bool expanding = std::string(c.command) == "expand";
        std::string out;
        if (expanding) {
            ASSERT_EQ(0, run(t.path(), "shrink --delete-input d/HONMON", &out));
        }
        const std::map<std::string, Bytes> before = lftest::readTree(t.file("d"));

        ASSERT_EQ(0, run(t.path(), std::string(c.command) + " --delete-input " + c.options + " d empty", &out)) << out;
        EXPECT_EQ(std::string::npos, out.find("failed")) << out;
        std::map<std::string, Bytes> copies;
        auto expectKept = [&](const std::string& rel, const std::string& from, const Bytes& bytes) {
            const std::string name = c.tree ? rel : pathFileName(rel);
            const std::string where = c.out ? t.file("out/" + name) : from;
            EXPECT_NE(std::string::npos, out.find(" >> " + where + "  not a book file: kept as it is\n")) << out;
            EXPECT_EQ(bytes, readFile(from)) << from;
            if (c.out) copies[name] = bytes;
        };
        for (const auto& f : kept) expectKept(f.first, t.file("d/" + f.first), f.second);
        expectKept("empty", t.file("empty"), Bytes());

        // Only the book file was worked on (and deleted).
        std::map<std::string, Bytes> after = lftest::readTree(t.file("d"));
        const std::string bookIn = expanding ? "HONMON.ebz" : "HONMON";
        const std::string bookOut = expanding ? "HONMON.org" : "HONMON.ebz";
        EXPECT_EQ(0u, after.count(bookIn));
        const Bytes written = c.out ? lftest::readFile(t.file("out/" + bookOut)) : after[bookOut];
        EXPECT_EQ(text, expanding ? written : booktest::parseEbzip(written).data);
        after.erase(bookOut);
        std::map<std::string, Bytes> rest = before;
        rest.erase(bookIn);
        EXPECT_EQ(rest, after);
        std::map<std::string, Bytes> outTree = lftest::readTree(t.file("out"));
        outTree.erase(bookOut);
        EXPECT_EQ(copies, outTree);
    }
}

// A file too short to be read that carries the EBZip magic or an ".ebz"
// name is a damaged compressed file, not one to keep: shrink and expand fail
// on it and leave it as it was.
TEST(PackwellCli, ShortCompressedFilesFail) {
    TestDir t;
    std::string out;
    ASSERT_TRUE(writeFile(t.file("HONMON"), booktest::makeHonmon(4 * 2048)));
    ASSERT_EQ(0, run(t.path(), "shrink HONMON", &out));
    const Bytes good = readFile(t.file("HONMON.ebz"));
    const Bytes cut(good.begin(), good.begin() + 20);
    const struct {
        const char* name;
        const char* command;
        const char* reason;
    } cases[] = {{"shrink", "shrink", "compression!\t(already compressed.)"},
                 {"expand", "expand", "expansion!\t(There is no input file.)"}};
    for (const auto& c : cases) {
        for (const char* file : {"cut", "short.ebz"}) {
            SCOPED_TRACE(std::string(c.name) + " " + file);
            const Bytes bytes = std::string(file) == "cut" ? cut : Bytes(10, 'x');
            ASSERT_TRUE(writeFile(t.file(file), bytes));
            EXPECT_EQ(1, run(t.path(), std::string(c.command) + " --delete-input --out . " + file, &out));
            EXPECT_EQ(std::string(c.command) + "\t" + t.file(file) + "\nfailed in the " + c.reason + "\ndone!\n", out);
            EXPECT_EQ(bytes, readFile(t.file(file)));
        }
    }
}

// A header of a form no reader knows (a mode nibble other than 1 or 2; a
// level above 5, even over no bytes at all) fails check and expand, with
// lines naming the file, whatever its checksum says; so does a file named
// ".ebz" that is not EBZip (its magic damaged, or too short to be one).
// Mode 2 over a small file is read as ever.
TEST(PackwellCli, EbzipHeadersNoReaderKnowsFail) {
    TestDir src;
    std::string out;
    const Bytes text = booktest::makeHonmon(4 * 2048);
    ASSERT_TRUE(writeFile(src.file("HONMON"), text));
    ASSERT_EQ(0, run(src.path(), "shrink HONMON", &out));
    const Bytes good = readFile(src.file("HONMON.ebz"));
    ASSERT_EQ(0x10, good[5]);  // mode 1, level 0
    // An EBZip file of no bytes: checksum 1, an index of one entry (the end).
    Bytes none(40, 0);
    memcpy(&none[0], "EBZip", 5);
    booktest::putBE(&none[14], 1, 4);
    booktest::putBE(&none[22], 24, 2);

    auto withByte = [](Bytes f, size_t at, unsigned char value) {
        f[at] = value;
        return f;
    };
    const char* const notCompressed = "not a compressed file.";
    const char* const damaged = "the EBZip header is damaged.";
    const struct {
        const char* name;
        Bytes bytes;
        const char* expandReason;  // null: check and expand succeed
    } cases[] = {
        {"mode 0", withByte(good, 5, 0x00), damaged},
        {"mode 3", withByte(good, 5, 0x30), damaged},
        {"mode 4", withByte(good, 5, 0x40), damaged},
        {"mode 8", withByte(good, 5, 0x80), damaged},
        {"mode 15", withByte(good, 5, 0xF0), damaged},
        {"level 6 over no bytes", withByte(none, 5, 0x16), damaged},
        {"mode 0 over no bytes", withByte(none, 5, 0x00), damaged},
        {"damaged magic", withByte(good, 0, 'e'), notCompressed},
        {"no magic and too short", Bytes(10, 'x'), "There is no input file."},
        {"mode 2", withByte(good, 5, 0x20), nullptr},
        {"mode 1 over no bytes", withByte(none, 5, 0x10), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir t;
        const std::string file = t.file("H.ebz");
        ASSERT_TRUE(writeFile(file, c.bytes));
        ASSERT_EQ(0, mkdir(t.file("x").c_str(), 0755));
        const bool passes = c.expandReason == nullptr;
        EXPECT_EQ(passes ? 0 : 1, run(t.path(), "check H.ebz", &out));
        EXPECT_EQ("CRC Check\t" + file + (passes ? "\n->  Success !\ndone!\n" : "\n->  Failure !\ndone!\n"), out);
        EXPECT_EQ(passes ? 0 : 1, run(t.path(), "expand --out x H.ebz", &out));
        if (passes) {
            EXPECT_EQ(c.bytes.size() == good.size() ? text : Bytes(), readFile(t.file("x/H.org")));
        } else {
            EXPECT_EQ("expand\t" + file + "\nfailed in the expansion!\t(" + c.expandReason + ")\ndone!\n", out);
            EXPECT_EQ(std::vector<std::string>(), lftest::listDir(t.file("x")));
        }
        EXPECT_EQ(c.bytes, readFile(file));
    }
}
