// AppController: the file list, the output folder, and the shrink, expand and
// checksum runs with their log lines, driven through the main window.

#include "compress_tool/AppController.h"
#include "compress_tool/PackwellWindow.h"
#include "foundation/storage/CZComp.h"
#include "platform/UIOpenPanel.h"
#include "tests/common/BookFolder.h"
#include "tests/common/EbzipParse.h"
#include "tests/common/TestDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <deque>

using booktest::Bytes;
using lftest::readFile;
using lftest::TestDir;
using lftest::writeFile;

namespace {

// The main window with a user who answers the open panels from a queue
// (an empty answer is Cancel).
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        UIOpenPanel::setAnswerSource([this](const UIOpenPanel&, std::string* path) {
            if (answers.empty()) return false;
            std::string a = answers.front();
            answers.pop_front();
            if (a.empty()) return false;
            *path = a;
            return true;
        });
    }
    void TearDown() override { UIOpenPanel::setAnswerSource(nullptr); }

    void add(const std::string& path) {
        answers.push_back(path);
        w.addButton.performClick();
    }
    void select(int row) { w.tableView.selectRow(row); }
    std::vector<std::string> list() {
        std::vector<std::string> out;
        for (int i = 0; i < w.tableView.numberOfRows(); ++i) out.push_back(w.tableView.cellText("path", i));
        return out;
    }
    std::string takeLog() {
        std::string s = w.textView.string();
        w.textView.setString("");
        return s;
    }
    static std::string line(const std::string& path, long long before, long long after) {
        char n[100];
        snprintf(n, sizeof n, "  %lld -> %lld (%3.2f%%)", before, after, after * 100.0 / before);
        return " >> " + path + n + "\n";
    }

    std::deque<std::string> answers;
    PackwellWindow w;
    AppController& c = w.controller();
    TestDir t;
};

long long sizeOf(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace

TEST_F(Window, EmptyListRunsLogOnlyDone) {
    w.shrinkButton.performClick();
    w.expandButton.performClick();
    w.checkButton.performClick();
    EXPECT_EQ("done!\ndone!\ndone!\n", takeLog());
    EXPECT_EQ(0, c.lastRunFailures());
}

// A folder is walked at every depth in sorted order; folders and what cannot
// be examined stay out, empty files are listed like any other (the runs keep
// them as they are); a file chosen alone is added whatever its size; the
// same file twice is listed twice.
TEST_F(Window, AddListWalksFoldersAndKeepsDuplicates) {
    for (const char* d : {"f", "f/sub", "f/sub/deeper", "only-empty", "only-empty/d"})
        ASSERT_EQ(0, mkdir(t.file(d).c_str(), 0755));
    ASSERT_TRUE(writeFile(t.file("f/b"), "bb"));
    ASSERT_TRUE(writeFile(t.file("f/a"), "a"));
    ASSERT_TRUE(writeFile(t.file("f/.dot"), "d"));
    ASSERT_TRUE(writeFile(t.file("f/empty"), ""));
    ASSERT_TRUE(writeFile(t.file("f/sub/deeper/x"), "x"));
    ASSERT_TRUE(writeFile(t.file("only-empty/e"), ""));
    ASSERT_TRUE(writeFile(t.file("lone-empty"), ""));
    ASSERT_EQ(0, symlink(t.file("f/sub").c_str(), t.file("f/link-to-sub").c_str()));
    ASSERT_EQ(0, symlink(t.file("f/a").c_str(), t.file("f/link-to-a").c_str()));
    ASSERT_EQ(0, symlink(t.file("nowhere").c_str(), t.file("f/dangling").c_str()));

    int reloads = w.tableView.reloadCount();
    add(t.file("f"));
    const std::string f = t.file("f");
    EXPECT_EQ((std::vector<std::string>{f + "/.dot", f + "/a", f + "/b", f + "/empty", f + "/link-to-a",
                                        f + "/sub/deeper/x"}),
              list());
    add(t.file("only-empty"));
    add(t.file("missing"));
    answers.push_back("");  // Cancel
    w.addButton.performClick();
    EXPECT_EQ(7u, list().size());
    EXPECT_EQ(t.file("only-empty/e"), list()[6]);
    EXPECT_EQ(reloads + 4, w.tableView.reloadCount());
    add(t.file("lone-empty"));
    add(t.file("f/a"));
    EXPECT_EQ(9u, list().size());
    EXPECT_EQ(t.file("lone-empty"), list()[7]);
    EXPECT_EQ(f + "/a", list()[8]);
}

TEST_F(Window, DeleteAndClearFollowTheSelection) {
    for (const char* n : {"0", "1", "2", "3"}) {
        ASSERT_TRUE(writeFile(t.file(n), "x"));
        add(t.file(n));
    }
    w.deleteButton.performClick();  // no selection: nothing
    EXPECT_EQ(4u, list().size());
    select(1);
    EXPECT_EQ(1, c.selectedItem);
    w.deleteButton.performClick();  // middle row: row 1 now names "2"
    EXPECT_EQ((std::vector<std::string>{t.file("0"), t.file("2"), t.file("3")}), list());
    EXPECT_EQ(1, c.selectedItem);
    select(2);
    w.deleteButton.performClick();  // last row: no selection left
    EXPECT_EQ(-1, c.selectedItem);
    EXPECT_EQ((std::vector<std::string>{t.file("0"), t.file("2")}), list());
    select(0);
    w.clearButton.performClick();
    EXPECT_TRUE(list().empty());
    EXPECT_EQ(-1, c.selectedItem);
    EXPECT_EQ(-1, w.tableView.selectedRow());
}

TEST_F(Window, OutputFolderTakesOnlyFolders) {
    ASSERT_TRUE(writeFile(t.file("file"), "x"));
    answers = {t.path()};
    w.selectOutPathButton.performClick();
    EXPECT_EQ(t.path(), w.outputPath.stringValue());
    for (std::string a : {t.file("file"), t.file("missing"), std::string()}) {
        answers = {a};
        w.selectOutPathButton.performClick();
        EXPECT_EQ(t.path(), w.outputPath.stringValue()) << a;
    }
}

// The shrink run's log, line for line, over files that succeed and fail in
// each way, with no output folder (outputs beside the inputs).
TEST_F(Window, ShrinkLogBesideTheInputs) {
    auto h = booktest::makeBook(t.file("book"), {booktest::subbook("SUB1")}, {booktest::makeHonmon(10 * 2048)})[0];
    ASSERT_TRUE(writeFile(t.file("small.dat"), Bytes(100, 'a')));
    ASSERT_TRUE(writeFile(t.file("empty"), ""));
    ASSERT_TRUE(writeFile(t.file("packed"), booktest::makeHonmon(3 * 2048)));
    CZComp z;
    ASSERT_EQ(0, z.compress(t.file("packed").c_str(), nullptr, 0, 0, 0, 0, 0));
    std::string longPath = t.path() + "/" + std::string(260, 'L');
    for (const std::string& p : {h, t.file("small.dat"), t.file("empty"), t.file("packed.ebz"), longPath})
        c.fileListArray.push_back({p});
    w.zipLevelSlider.setIntValue(2);

    w.shrinkButton.performClick();
    std::string expected = "shrink\t" + h + "\n" + line(h + ".ebz", 10 * 2048, sizeOf(h + ".ebz")) + "shrink\t" +
                           t.file("small.dat") + "\n >> " + t.file("small.dat") +
                           "  skipped (the output would be the file itself)\n" + "shrink\t" + t.file("empty") +
                           "\n >> " + t.file("empty") + "  not a book file: kept as it is\n" + "shrink\t" +
                           t.file("packed.ebz") + "\nfailed in the compression!\t(already compressed.)\n" + "shrink\t" +
                           longPath + "\nfailed in the compression!\t(invalid argument.)\n" + "done!\n";
    EXPECT_EQ(expected, takeLog());
    EXPECT_EQ(2, c.lastRunFailures());  // a file left as it is is no failure
    EXPECT_EQ(2, c.m_zipLevel);
    EXPECT_EQ(2u, booktest::parseEbzip(readFile(h + ".ebz")).level);
    // Keep original is on in the window as it opens: the input stays.
    EXPECT_TRUE(booktest::exists(h));
    // The runs never change the list.
    EXPECT_EQ(5u, c.fileListArray.size());

    // Without keep original the input goes once its output is written (here
    // replacing the output of the first run, which the window allows).
    w.keepOriginalCheck.setState(UIStateOff);
    w.overwriteCheck.setState(UIStateOn);
    c.fileListArray = {{h}};
    w.shrinkButton.performClick();
    EXPECT_FALSE(booktest::exists(h));
    EXPECT_EQ(0, c.lastRunFailures());
}

TEST_F(Window, ShrinkIntoFolderAndExpandBack) {
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    ASSERT_EQ(0, mkdir(t.file("back").c_str(), 0755));
    Bytes text = booktest::makeHonmon(2000 * 10 + 7);
    ASSERT_TRUE(writeFile(t.file("HONMON"), text));
    ASSERT_TRUE(writeFile(t.file("small.dat"), Bytes(2048, 's')));
    c.fileListArray = {{t.file("HONMON")}, {t.file("small.dat")}};
    w.outputPath.setStringValue(t.file("out"));
    // The log is redrawn once per file, right after the file's first line, so
    // that the line shows while the file is worked on.
    std::vector<std::string> shown;
    w.textView.setDisplayHandler([&shown](const std::string& text) { shown.push_back(text); });
    w.shrinkButton.performClick();
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ("shrink\t" + t.file("HONMON") + "\n", shown[0]);
    EXPECT_EQ("shrink\t" + t.file("small.dat") + "\n", shown[1].substr(shown[1].rfind("shrink")));
    std::string ebz = t.file("out/HONMON.ebz");
    EXPECT_EQ("shrink\t" + t.file("HONMON") + "\n" + line(ebz, long(text.size()), sizeOf(ebz)) + "shrink\t" +
                  t.file("small.dat") + "\n" + line(t.file("out/small.dat"), 2048, 2048) + "done!\n",
              takeLog());
    EXPECT_NE(std::string::npos, line(t.file("out/small.dat"), 2048, 2048).find("(100.00%)"));

    c.fileListArray = {{ebz}, {t.file("out/small.dat")}};
    w.outputPath.setStringValue(t.file("back"));
    shown.clear();
    w.expandButton.performClick();
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ("expand\t" + ebz + "\n", shown[0]);
    EXPECT_EQ("expand\t" + t.file("out/small.dat") + "\n", shown[1].substr(shown[1].rfind("expand")));
    EXPECT_EQ("expand\t" + ebz + "\n" + line(t.file("back/HONMON.org"), sizeOf(ebz), long(text.size())) + "expand\t" +
                  t.file("out/small.dat") + "\n" + line(t.file("back/small.dat"), 2048, 2048) + "done!\n",
              takeLog());
    EXPECT_EQ(text, readFile(t.file("back/HONMON.org")));
}

// Speed-up keeps the search areas (here block 1) raw; crypt turns that off.
TEST_F(Window, SpeedUpAndCryptSelectTheKeepFlags) {
    const struct {
        const char* name;
        UIControlState speedUp, crypt;
        bool firstSliceRaw;
    } cases[] = {{"speed-up", UIStateOn, UIStateOff, true},
                 {"speed-up and crypt", UIStateOn, UIStateOn, false},
                 {"neither", UIStateOff, UIStateOff, false},
                 {"mixed counts as off", UIStateMixed, UIStateOff, false}};
    ASSERT_TRUE(writeFile(t.file("HONMON"), booktest::makeHonmon(20 * 2048)));
    for (const auto& k : cases) {
        unlink(t.file("HONMON.ebz").c_str());
        w.speedUpCheck.setState(k.speedUp);
        w.cryptCheck.setState(k.crypt);
        c.fileListArray = {{t.file("HONMON")}};
        w.shrinkButton.performClick();
        booktest::EbzipFile p = booktest::parseEbzip(readFile(t.file("HONMON.ebz")));
        ASSERT_TRUE(p.ok) << k.name << ": " << p.error;
        EXPECT_EQ(k.firstSliceRaw, bool(p.raw[0])) << k.name;
    }
}

TEST_F(Window, LevelOutsideTheRangeFailsEveryFile) {
    ASSERT_TRUE(writeFile(t.file("HONMON"), booktest::makeHonmon(4 * 2048)));
    w.zipLevelSlider.setRange(0, 9);
    w.zipLevelSlider.setIntValue(6);
    c.fileListArray = {{t.file("HONMON")}, {t.file("HONMON")}};
    w.shrinkButton.performClick();
    std::string one = "shrink\t" + t.file("HONMON") + "\nfailed in the compression!\t(invalid argument.)\n";
    EXPECT_EQ(one + one + "done!\n", takeLog());
}

TEST_F(Window, ExpandFailures) {
    ASSERT_TRUE(writeFile(t.file("H"), booktest::makeHonmon(6 * 2048)));
    CZComp z;
    ASSERT_EQ(0, z.compress(t.file("H").c_str(), nullptr, 0, 0, 0, 0, 0));
    Bytes f = readFile(t.file("H.ebz"));
    f[15] ^= 0x10;  // the stored Adler-32
    ASSERT_TRUE(writeFile(t.file("H.ebz"), f));
    ASSERT_TRUE(writeFile(t.file("plain"), Bytes(500, 'p')));
    c.fileListArray = {{t.file("H.ebz")}, {t.file("plain")}, {t.file("gone")}};
    w.expandButton.performClick();
    EXPECT_EQ("expand\t" + t.file("H.ebz") + "\nfailed in the expansion!\t(checksum error.)\n" + "expand\t" +
                  t.file("plain") + "\n >> " + t.file("plain") + "  skipped (the output would be the file itself)\n" +
                  "expand\t" + t.file("gone") + "\nfailed in the expansion!\t(There is no input file.)\ndone!\n",
              takeLog());
    EXPECT_EQ(2, c.lastRunFailures());
    EXPECT_FALSE(booktest::exists(t.file("H.org")));
}

// The checksum run logs only EBZip files; a corrupted slice or checksum field
// gives " Failure !".
TEST_F(Window, ChecksumRun) {
    ASSERT_TRUE(writeFile(t.file("H"), booktest::makeHonmon(6 * 2048)));
    CZComp z;
    ASSERT_EQ(0, z.compress(t.file("H").c_str(), nullptr, 0, 0, 1, 0, 0));
    Bytes good = readFile(t.file("H.ebz"));
    booktest::EbzipFile p = booktest::parseEbzip(good);
    ASSERT_TRUE(p.ok);
    Bytes badSlice = good, badSum = good;
    badSlice[(p.offsets[2] + p.offsets[3]) / 2] ^= 0x08;
    badSum[17] ^= 0x01;
    ASSERT_TRUE(writeFile(t.file("slice.ebz"), badSlice));
    ASSERT_TRUE(writeFile(t.file("sum.ebz"), badSum));
    ASSERT_TRUE(writeFile(t.file("tiny"), "x"));
    c.fileListArray = {{t.file("H.ebz")}, {t.file("H")}, {t.file("slice.ebz")}, {t.file("tiny")}, {t.file("sum.ebz")}};
    w.checkButton.performClick();
    EXPECT_EQ("CRC Check\t" + t.file("H.ebz") + "\n->  Success !\n" + "CRC Check\t" + t.file("slice.ebz") +
                  "\n->  Failure !\n" + "CRC Check\t" + t.file("sum.ebz") + "\n->  Failure !\ndone!\n",
              takeLog());
    EXPECT_EQ(2, c.lastRunFailures());
    EXPECT_EQ(0, w.textView.displayCount());  // the checksum run does not redraw

    // Plain files, a FIFO (never opened, which would wait for a writer) and a
    // folder log nothing.
    ASSERT_EQ(0, mkfifo(t.file("fifo").c_str(), 0600));
    c.fileListArray = {{t.file("H")}, {t.file("tiny")}, {t.file("fifo")}, {t.path()}};
    w.checkButton.performClick();
    EXPECT_EQ("done!\n", takeLog());
    EXPECT_EQ(0, c.lastRunFailures());
}

// A path or output folder over 255 bytes is refused with a failure line in
// every run, never cut to fit.
TEST_F(Window, OverLongPathsAreRefused) {
    // A real file whose path is 256 bytes: cut to 255 it would name "H".
    std::string dir = t.path();
    while (dir.size() + 21 < 250) {
        dir += "/dddddddddddddddddddd";
        ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
    }
    std::string cut = dir + "/H";
    std::string full = cut + std::string(256 - cut.size(), 'x');
    ASSERT_EQ(256u, full.size());
    ASSERT_TRUE(writeFile(full, booktest::makeHonmon(3 * 2048)));
    ASSERT_TRUE(writeFile(cut.substr(0, 255), booktest::makeHonmon(3 * 2048)));
    c.fileListArray = {{full}};
    w.shrinkButton.performClick();
    w.expandButton.performClick();
    w.checkButton.performClick();
    EXPECT_EQ("shrink\t" + full + "\nfailed in the compression!\t(invalid argument.)\ndone!\n" + "expand\t" + full +
                  "\nfailed in the expansion!\t(invalid argument.)\ndone!\n" + "CRC Check\t" + full +
                  "\nfailed in the CRC check!\t(invalid argument.)\ndone!\n",
              takeLog());
    EXPECT_EQ(1, c.lastRunFailures());

    ASSERT_TRUE(writeFile(t.file("HONMON"), booktest::makeHonmon(3 * 2048)));
    c.fileListArray = {{t.file("HONMON")}};
    w.outputPath.setStringValue(t.path() + "/" + std::string(255, 'o'));
    w.shrinkButton.performClick();
    EXPECT_EQ("shrink\t" + t.file("HONMON") + "\nfailed in the compression!\t(invalid argument.)\ndone!\n", takeLog());
    EXPECT_FALSE(booktest::exists(cut.substr(0, 255) + ".ebz"));
}

TEST_F(Window, GetEPWINGVer) {
    using booktest::SubbookSpec;
    SubbookSpec huff = booktest::subbook("HUF", 3);
    huff.textCode = 0x11;
    booktest::makeBook(t.file("book"), {huff, booktest::subbook("V1", 1)}, {});
    EXPECT_EQ(4, c.GetEPWINGVer(t.file("book/HUF/DATA/HONMON")));
    EXPECT_EQ(4, c.GetEPWINGVer(t.file("book/huf/data/Honmon2")));
    EXPECT_EQ(1, c.GetEPWINGVer(t.file("book/V1/DATA/HONMON")));
    EXPECT_EQ(0, c.GetEPWINGVer(t.file("book/HUF/HONMON")));
    EXPECT_EQ(0, c.GetEPWINGVer(t.path() + "/" + std::string(300, 'x') + "/DATA/HONMON"));
}

// An existing output is replaced only when the window's overwrite box is on;
// otherwise the file fails with the output's path and its input stays.
TEST_F(Window, ExistingOutputNeedsTheOverwriteBox) {
    const Bytes first = booktest::makeHonmon(5 * 2048, 1), second = booktest::makeHonmon(7 * 2048, 2);
    ASSERT_TRUE(writeFile(t.file("HONMON"), first));
    c.fileListArray = {{t.file("HONMON")}};
    w.keepOriginalCheck.setState(UIStateOff);
    w.shrinkButton.performClick();
    ASSERT_TRUE(writeFile(t.file("HONMON"), second));
    takeLog();
    w.shrinkButton.performClick();
    EXPECT_EQ("shrink\t" + t.file("HONMON") +
                  "\nfailed in the compression!\t(the output file exists: " + t.file("HONMON.ebz") + ")\ndone!\n",
              takeLog());
    EXPECT_EQ(1, c.lastRunFailures());
    EXPECT_EQ(second, readFile(t.file("HONMON")));
    EXPECT_EQ(first, booktest::parseEbzip(readFile(t.file("HONMON.ebz"))).data);

    w.overwriteCheck.setState(UIStateOn);
    w.shrinkButton.performClick();
    EXPECT_EQ(0, c.lastRunFailures());
    EXPECT_EQ(second, booktest::parseEbzip(readFile(t.file("HONMON.ebz"))).data);
    EXPECT_FALSE(booktest::exists(t.file("HONMON")));
}

// Copy tree keeps a file's path below the folder it was found under (a file
// chosen alone keeps its name); without it, files that would share one
// output refuse the run with one line, and nothing is written.
TEST_F(Window, CopyTreeKeepsThePathBelowTheChosenFolder) {
    auto h = booktest::makeBook(t.file("book"), {booktest::subbook("SUB1"), booktest::subbook("SUB2")},
                                {booktest::makeHonmon(5 * 2048, 1), booktest::makeHonmon(6 * 2048, 2)});
    ASSERT_TRUE(writeFile(t.file("alone"), booktest::makeHonmon(4 * 2048, 3)));
    ASSERT_EQ(0, mkdir(t.file("out").c_str(), 0755));
    add(t.file("book"));
    add(t.file("alone"));
    w.outputPath.setStringValue(t.file("out"));
    w.shrinkButton.performClick();
    EXPECT_EQ("shrink refused: " + h[0] + " and " + h[1] + " would both be written to " + t.file("out/HONMON.ebz") +
                  " (copy tree keeps their folders apart); nothing was written\n",
              takeLog());
    EXPECT_EQ(1, c.lastRunFailures());
    EXPECT_EQ(std::vector<std::string>(), lftest::listDir(t.file("out")));

    w.copyTreeCheck.setState(UIStateOn);
    w.shrinkButton.performClick();
    EXPECT_EQ(0, c.lastRunFailures()) << takeLog();
    EXPECT_EQ((std::vector<std::string>{"CATALOGS", "SUB1", "SUB2", "alone.ebz"}), lftest::listDir(t.file("out")));
    EXPECT_EQ(readFile(h[1]), booktest::parseEbzip(readFile(t.file("out/SUB2/DATA/HONMON.ebz"))).data);
}
