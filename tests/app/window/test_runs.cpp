// Build and catalog runs of the main window on real books: the log, the
// books and catalog written (read back through the EB Library), the checks
// made before a run, abort, and the refusal of a second run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/window/RunPlan.h"
#include "foundation/pathutil.h"
#include "tests/app/WindowTestUtil.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::TestDir;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Runs : public lftest::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        lftest::writeFile(dir.file("a.txt"), std::string("apple /// fruit\r\nbook /// paper\r\n"));
        lftest::writeFile(dir.file("b.txt"), std::string("cat /// animal\r\n"));
        vc->outputPath.setStringValue(dir.file("out"));
    }
    // A book of one PDIC one-line source.
    BookInfo& book(const std::string& title, const std::string& dirName, const std::string& source = "a.txt") {
        BookInfo& b = addBook(title, dirName);
        addSource(b, dir.file(source), 5);
        return b;
    }
    void build() {
        onMainLoop([this] { vc->doConvert(nullptr); });
    }
    std::vector<std::string> catalogDirs() {
        std::vector<std::string> out;
        lftest::EbProbe probe(dir.file("out"));
        for (const auto& s : probe.subbooks()) out.push_back(s.directory);
        return out;
    }
    TestDir dir;
};

TEST_F(Runs, BuildsEveryCompleteBookAndLogsItsSources) {
    book("Alpha", "alpha");
    addBook("No directory", "");  // incomplete: left out without a word
    book("Beta", "BETA", "b.txt");
    build();
    const std::string& text = log();
    EXPECT_EQ(text.compare(0, 7, "start.\n"), 0) << text;
    EXPECT_TRUE(contains(text, "\n" + dir.file("a.txt") + "\n")) << text;
    EXPECT_TRUE(contains(text, "\n" + dir.file("b.txt") + "\n")) << text;
    EXPECT_FALSE(contains(text, "No directory"));
    EXPECT_EQ(text.substr(text.size() - 6), "Done.\n");
    EXPECT_TRUE(vc->lastRun().finished);
    EXPECT_EQ(vc->lastRun().failures, 0);
    EXPECT_EQ(catalogDirs(), (std::vector<std::string>{"alpha", "beta"}));
    lftest::EbProbe probe(dir.file("out"));
    EXPECT_EQ(probe.search(1, lftest::EbSearchKind::Word, {"cat"}).size(), 1u) << probe.error();
}

// The run builds the project as it was when the build started, whatever the
// window does to the project meanwhile.
TEST_F(Runs, TheRunWorksOnACopyOfTheProject) {
    book("Alpha", "ALPHA");
    onMainLoop([this] {
        vc->doConvert(nullptr);
        set->clear();
        addBook("Other", "OTHER");
    });
    EXPECT_EQ(catalogDirs(), (std::vector<std::string>{"alpha"}));
    EXPECT_EQ(vc->lastRun().failures, 0);
}

// A catalog of no book would make an earlier output unreadable: the run is
// refused and nothing is written.
TEST_F(Runs, AProjectWithoutBooksIsRefused) {
    build();
    EXPECT_EQ(log(), "Not started: the project has no complete book (each needs a title and a directory name).\n");
    EXPECT_TRUE(vc->lastRun().refused);
    EXPECT_FALSE(fileExists(dir.file("out/CATALOGS").c_str()));
}

TEST_F(Runs, ASourceThatCannotBeOpenedIsReportedAndCounted) {
    BookInfo& b = book("Alpha", "ALPHA");
    addSource(b, dir.file("missing.txt"), 5);
    build();
    EXPECT_TRUE(contains(log(), dir.file("missing.txt") + " : can't open source file, not added\n")) << log();
    EXPECT_EQ(vc->lastRun().failures, 1);
    // The book is built from the sources that could be opened.
    lftest::EbProbe probe(dir.file("out"));
    EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"apple"}).size(), 1u) << probe.error();
}

// The book writer leaves a source out (here for a refused field spec): the
// run counts it as failed from the driver's result, whatever the log's last
// line is.
TEST_F(Runs, ASourceTheBookWriterLeavesOutFailsTheRun) {
    BookInfo& b = book("Alpha", "ALPHA");
    lftest::writeFile(dir.file("c.csv"), std::string("pear,fruit\n"));
    addSource(b, dir.file("c.csv"), 9, "enc=utf-8;delim=x;fields=headword|meaning|");
    build();
    EXPECT_TRUE(contains(log(), dir.file("c.csv") + " : unknown delimiter \"x\" in field spec, source left out"))
        << log();
    EXPECT_EQ(log().substr(log().size() - 6), "Done.\n");
    EXPECT_EQ(vc->lastRun().failures, 1);
    lftest::EbProbe probe(dir.file("out"));
    EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"apple"}).size(), 1u) << probe.error();
}

TEST_F(Runs, ABookThatCannotBeStartedGetsNoFurtherCalls) {
    mkdir(dir.file("out").c_str(), 0755);
    lftest::writeFile(dir.file("out/BAD"), std::string("a file where the book's folder would go"));
    book("Bad", "BAD", "b.txt");
    book("Good", "GOOD");
    build();
    EXPECT_TRUE(contains(log(), "book \"Bad\" could not be started: not in the catalog\n")) << log();
    EXPECT_FALSE(contains(log(), dir.file("b.txt"))) << log();  // no source was added to it
    EXPECT_EQ(vc->lastRun().failures, 1);
    EXPECT_TRUE(fileExists(dir.file("out/GOOD/DATA/HONMON").c_str()));
}

TEST_F(Runs, FieldsBeyondTheDriversLimitsSkipTheBook) {
    const std::string longPath = "/" + std::string(300, 'p');
    const struct {
        const char* what;
        std::function<void(BookInfo&)> spoil;
        const char* message;
    } cases[] = {
        {"title", [](BookInfo& b) { b.setBookTitle(std::string(77, 'x') + "\xE3\x81\x82\xE3\x81\x82"); },
         "title longer than 80 bytes in Shift_JIS"},
        {"title without Shift_JIS", [](BookInfo& b) { b.setBookTitle("caf\xC3\xA9"); },
         "title has characters without a Shift_JIS form"},
        {"directory name", [](BookInfo& b) { b.setDirName("A-B"); }, "directory name not 1 to 8"},
        {"long directory name", [](BookInfo& b) { b.setDirName("ABCDEFGHI"); }, "directory name not 1 to 8"},
        {"gaiji map", [&](BookInfo& b) { b.setGaijiMap(longPath); }, "gaiji map path longer than 255 bytes"},
        {"font name", [](BookInfo& b) { b.setG24x24("GAIJI1234"); }, "24x24 gaiji font name"},
        {"font path", [](BookInfo& b) { b.setG16x16("../X"); }, "16x16 gaiji font name"},
        {"start code", [](BookInfo& b) { b.setHanStart(0x1A121); }, "narrow gaiji start code above FFFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        set->clear();
        vc->clearLog();
        BookInfo& bad = book("Bad", "BAD");
        c.spoil(bad);
        book("Good", "GOOD");
        build();
        EXPECT_TRUE(contains(log(), "skipped: ")) << log();
        EXPECT_TRUE(contains(log(), c.message)) << log();
        EXPECT_EQ(vc->lastRun().failures, 1);
        EXPECT_FALSE(fileExists(dir.file("out/BAD").c_str()));
        EXPECT_EQ(catalogDirs(), (std::vector<std::string>{"good"}));
    }
}

TEST_F(Runs, SourceFieldsBeyondTheLimitsAreNotAdded) {
    BookInfo& b = book("Alpha", "ALPHA");
    addSource(b, "/" + std::string(300, 's'), 5);
    build();
    EXPECT_TRUE(contains(log(), " : source path longer than 255 bytes, not added\n")) << log();
    EXPECT_EQ(vc->lastRun().failures, 1);
}

TEST_F(Runs, TwoBooksWithOneDirectoryNameAreRefused) {
    book("First", "dict");
    book("Second", "DICT");
    build();
    EXPECT_EQ(log(), "Not started: books \"First\" and \"Second\" have the same directory name DICT.\n");
    EXPECT_TRUE(vc->lastRun().refused);
    EXPECT_FALSE(fileExists(dir.file("out").c_str()));
}

TEST_F(Runs, AnEmptyOutputFieldTakesTheFocus) {
    vc->outputPath.setStringValue("");
    book("Alpha", "ALPHA");
    build();
    vc->makeCatalog(nullptr);
    EXPECT_EQ(vc->firstResponder(), &vc->outputPath);
    EXPECT_EQ(log(), "");
}

TEST_F(Runs, ASecondRunIsRefusedWhileOneRuns) {
    book("Alpha", "ALPHA");
    onMainLoop([this] {
        vc->doConvert(nullptr);
        vc->makeCatalog(nullptr);
        vc->doConvert(nullptr);
    });
    const std::string refused = "A run is under way: this one is not started.\n";
    size_t first = log().find(refused);
    ASSERT_NE(first, std::string::npos) << log();
    EXPECT_NE(log().find(refused, first + 1), std::string::npos) << log();
    EXPECT_EQ(log().substr(log().size() - 6), "Done.\n");
    EXPECT_FALSE(vc->isRunning());
}

TEST_F(Runs, AbortEndsTheBookUnderWayAndTheOthersAreBuilt) {
    // The first book is large, so that the abort pressed right after the
    // start always finds it under way however the threads are scheduled.
    std::string big;
    for (int i = 0; i < 200000; ++i)
        big += "word" + std::to_string(i) + " /// text of entry " + std::to_string(i) + "\r\n";
    lftest::writeFile(dir.file("big.txt"), big);
    book("One", "ONE", "big.txt");
    book("Two", "TWO", "b.txt");
    book("Three", "THREE", "b.txt");
    onMainLoop([this] {
        vc->doConvert(nullptr);
        vc->abort(nullptr);
    });
    EXPECT_EQ(log().substr(log().size() - 9), "Aborted.\n") << log();
    EXPECT_TRUE(vc->lastRun().aborted);
    EXPECT_EQ(vc->lastRun().failures, 1);
    // The aborted book is named and not listed.
    EXPECT_TRUE(contains(log(), "book \"One\" aborted: not in the catalog\n")) << log();
    EXPECT_EQ(catalogDirs(), (std::vector<std::string>{"two", "three"}));
    lftest::EbProbe probe(dir.file("out"));
    for (int sub : {0, 1}) EXPECT_EQ(probe.search(sub, lftest::EbSearchKind::Word, {"cat"}).size(), 1u) << sub;

    // The next run starts afresh and ends with "Done.".
    vc->clearLog();
    build();
    EXPECT_EQ(log().substr(log().size() - 6), "Done.\n");
    EXPECT_FALSE(vc->lastRun().aborted);
}

// Aborts keep coming from the main loop while the run ends and deletes its
// driver (under the sanitizers a use of the deleted driver shows).
TEST_F(Runs, AbortsWhileTheRunEndsNeverReachADeletedDriver) {
    book("One", "ONE", "b.txt");
    book("Two", "TWO", "b.txt");
    std::atomic<bool> stop(false);
    std::thread hammer([&] {
        while (!stop) {
            app.performOnMainThread([this] { vc->abort(nullptr); });
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // The first abort comes with the start, so that the run is aborted
    // however quickly it would end; the rest keep coming while it ends.
    onMainLoop([this] {
        vc->doConvert(nullptr);
        vc->abort(nullptr);
    });
    stop = true;
    hammer.join();
    EXPECT_EQ(log().substr(log().size() - 9), "Aborted.\n") << log();
}

TEST_F(Runs, ACatalogRunListsBooksWithoutBuildingThem) {
    book("Alpha", "ALPHA");
    book("Beta", "BETA");
    onMainLoop([this] { vc->makeCatalog(nullptr); });
    EXPECT_EQ(log(), "start.\nDone.\n");
    EXPECT_EQ(catalogDirs(), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_FALSE(fileExists(dir.file("out/ALPHA/DATA/HONMON").c_str()));
}

TEST_F(Runs, TheLogTakesMessagesAsTheyCome) {
    onMainLoop([] {
        ViewController::showMessage("");
        ViewController::showMessage("line\r\n");
        ViewController::showMessage("");
    });
    EXPECT_EQ(log(), "line\r\n");
}

TEST(RunPlanTest, CarriesTheBookInTheDriversForms) {
    BookSet* set = BookSet::sharedBookSet();
    set->clear();
    set->setBasePath("/proj");
    set->setOutputPath("/out/");
    BookInfo b;
    b.setBookTitle("\xE8\xBE\x9E\xE6\x9B\xB8");  // 辞書
    b.setDirName("dict");
    for (int slot = 0; slot < FONT_SLOTS; ++slot) b.setFontName(slot, "");
    b.setG16x16("W16");
    b.setG24x48("N48");
    b.setCopyright("$(BASE)\\c.txt");
    SourceInfo s;
    s.setInFile("$(BASE)/s.txt");
    b.getSource().push_back(s);
    b.getSource().push_back(SourceInfo());  // no path: not used
    set->getBookArray().push_back(b);
    RunPlan plan(*set, "/app");
    set->getBookArray().clear();  // the plan is a copy
    ASSERT_EQ(plan.books.size(), 1u);
    const PlannedBook& p = plan.books[0];
    EXPECT_EQ(p.title, "\x8E\xAB\x8F\x91");
    EXPECT_EQ(p.dirName, "DICT");
    EXPECT_EQ(p.fontMask, 0x81);
    EXPECT_STREQ(p.fontNames + 1 * 9, "W16");
    EXPECT_STREQ(p.fontNames + 6 * 9, "N48");
    EXPECT_EQ(std::string(p.fontNames, 9), std::string(9, '\0'));
    EXPECT_EQ(p.copyright, "/proj/c.txt");
    EXPECT_EQ(p.gaijiMap, "");
    ASSERT_EQ(p.sources.size(), 1u);
    EXPECT_EQ(p.sources[0].path, "/proj/s.txt");
    EXPECT_EQ(p.sources[0].title, "");
    set->clear();
}

}  // namespace
