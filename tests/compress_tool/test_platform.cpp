// The window platform stand-in: main loop, controls that keep their state,
// open panels answered by the front end, and the directory enumerator.

#include "platform/UIApplication.h"
#include "platform/UIApplicationDelegate.h"
#include "platform/UIDirectoryEnumerator.h"
#include "platform/UIOpenPanel.h"
#include "platform/UISlider.h"
#include "platform/UITableView.h"
#include "platform/UITableViewDataSource.h"
#include "platform/UITableViewDelegate.h"
#include "platform/UITextView.h"
#include "tests/common/TestDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

using lftest::TestDir;

TEST(Platform, MainLoopRunsQueuedCallsInOrderUntilTerminate) {
    struct Delegate : UIApplicationDelegate {
        std::vector<std::string>* log;
        void applicationWillFinishLaunching(UIApplication*) override { log->push_back("launch"); }
        void applicationWillTerminate(UIApplication*) override { log->push_back("terminate"); }
        bool applicationShouldTerminateAfterLastWindowClosed(UIApplication*) override { return true; }
    };
    std::vector<std::string> log;
    Delegate d;
    d.log = &log;
    UIApplication app;
    app.setDelegate(&d);
    app.performOnMainThread([&] { log.push_back("a"); });
    std::thread worker([&] {
        // From another thread: waits until the main loop has run it.
        app.performOnMainThread([&] { log.push_back(app.isMainThread() ? "b on main" : "b elsewhere"); }, true);
        app.performOnMainThread([&] { app.lastWindowClosed(); });
        app.performOnMainThread([&] { log.push_back("after close"); });
    });
    std::thread joiner([&] { worker.join(); });
    app.run();
    joiner.join();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ("launch", log[0]);
    EXPECT_EQ("a", log[1]);
    EXPECT_EQ("b on main", log[2]);
    EXPECT_EQ("terminate", log.back());
}

TEST(Platform, TextViewInsertsAtTheSelection) {
    UITextView v;
    std::string seen;
    v.setInsertObserver([&](const std::string& s) { seen += s; });
    v.insertText("abc");
    v.setSelectedRange(UIRange{1, 1});
    v.insertText("XY");  // replaces "b"
    EXPECT_EQ("aXYc", v.string());
    EXPECT_EQ(3u, v.selectedRange().location);
    EXPECT_EQ(0u, v.selectedRange().length);
    v.setSelectedRange(UIRange{99, 5});  // clamped to the end
    v.insertNewline();
    EXPECT_EQ("aXYc\n", v.string());
    EXPECT_EQ("abcXY\n", seen);
    v.display();
    EXPECT_EQ(1, v.displayCount());
}

TEST(Platform, SliderClampsToItsRange) {
    UISlider s(0, 5, 2);
    s.setIntValue(9);
    EXPECT_EQ(5, s.intValue());
    s.setDoubleValue(-1);
    EXPECT_EQ(0, s.intValue());
    s.setDoubleValue(2.6);
    EXPECT_EQ(3, s.intValue());
}

TEST(Platform, TableViewSelectionFollowsRows) {
    struct Source : UITableViewDataSource, UITableViewDelegate {
        std::vector<std::string> rows;
        int changes = 0;
        int numberOfRowsInTableView(UITableView*) override { return static_cast<int>(rows.size()); }
        std::string tableViewObjectValue(UITableView*, const std::string& col, int row, bool* found) override {
            *found = col == "path";
            return *found ? rows[row] : std::string();
        }
        void tableViewSelectionDidChange(UITableView*) override { ++changes; }
    } src;
    UITableView t;
    t.addColumn("path");
    t.setDataSource(&src);
    t.setDelegate(&src);
    src.rows = {"a", "b"};
    t.reloadData();
    EXPECT_EQ(2, t.numberOfRows());
    EXPECT_EQ("b", t.cellText("path", 1));
    bool found = true;
    EXPECT_EQ("", t.cellText("other", 1, &found));
    EXPECT_FALSE(found);
    t.selectRow(5);  // no such row
    EXPECT_EQ(-1, t.selectedRow());
    EXPECT_EQ(0, src.changes);
    t.selectRow(1);
    EXPECT_EQ(1, t.selectedRow());
    src.rows.pop_back();
    t.reloadData();  // the selected row is gone
    EXPECT_EQ(-1, t.selectedRow());
    EXPECT_EQ(2, src.changes);
}

TEST(Platform, OpenPanelAnswersComeFromTheFrontEnd) {
    UIOpenPanel p;
    UIOpenPanel::setAnswerSource(nullptr);
    EXPECT_EQ(UIModalCancel, p.runModal());
    bool askedForFolders = false;
    UIOpenPanel::setAnswerSource([&](const UIOpenPanel& panel, std::string* path) {
        askedForFolders = panel.canChooseDirectories();
        *path = "/chosen";
        return true;
    });
    p.setCanChooseDirectories(true);
    EXPECT_EQ(UIModalOK, p.runModal());
    EXPECT_EQ("/chosen", p.path());
    EXPECT_TRUE(askedForFolders);
    UIOpenPanel::setAnswerSource([](const UIOpenPanel&, std::string*) { return false; });
    EXPECT_EQ(UIModalCancel, p.runModal());
    EXPECT_EQ("", p.path());
    UIOpenPanel::setAnswerSource(nullptr);
}

// Sorted at every level, parents before their contents, symbolic links listed
// but never followed (a link back to the root would otherwise loop).
TEST(Platform, DirectoryEnumeratorIsSortedAndDoesNotFollowLinks) {
    TestDir t;
    for (const char* d : {"b", "b/z", "a", ".hidden"}) ASSERT_EQ(0, mkdir(t.file(d).c_str(), 0755));
    for (const char* f : {"b/z/2", "b/1", "a/x", "c", ".hidden/h"}) ASSERT_TRUE(lftest::writeFile(t.file(f), "x"));
    ASSERT_EQ(0, symlink(t.path().c_str(), t.file("b/loop").c_str()));
    UIDirectoryEnumerator e(t.path() + "/");
    std::vector<std::string> got;
    std::string p;
    while (e.next(&p)) got.push_back(p);
    EXPECT_EQ((std::vector<std::string>{".hidden", ".hidden/h", "a", "a/x", "b", "b/1", "b/loop", "b/z", "b/z/2", "c"}),
              got);
    UIDirectoryEnumerator none(t.file("missing"));
    EXPECT_FALSE(none.next(&p));
}
