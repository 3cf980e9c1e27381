// The window-platform pieces the builder application uses: notifications,
// background threads, controls, modal windows made by identifier, panels,
// recent documents and the resource folder with the default hex fonts.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/gaiji/CGaiji.h"
#include "platform/UIBundle.h"
#include "platform/UIComboBox.h"
#include "platform/UIDocumentController.h"
#include "platform/UIMatrix.h"
#include "platform/UINotificationCenter.h"
#include "platform/UISavePanel.h"
#include "platform/UITabView.h"
#include "platform/UIThread.h"
#include "platform/UIViewController.h"
#include "tests/common/TestDir.h"

namespace {

TEST(NotificationCenter, DeliversByNameAndPoster) {
    UINotificationCenter center;
    int a = 0, b = 0, any = 0;
    int observerA = 0, observerB = 0, poster = 0, other = 0;
    std::string info;
    center.addObserver(&observerA, "ping", nullptr, [&](const UINotification& n) {
        ++any;
        info = n.userInfo.count("filename") ? n.userInfo.at("filename") : "";
    });
    center.addObserver(&observerB, "ping", &poster, [&](const UINotification&) { ++b; });
    center.addObserver(&observerA, "pong", nullptr, [&](const UINotification&) { ++a; });
    center.post("ping", &other, {{"filename", "x.lfx"}});
    EXPECT_EQ(any, 1);
    EXPECT_EQ(b, 0);  // only from its poster
    EXPECT_EQ(info, "x.lfx");
    center.post("ping", &poster);
    EXPECT_EQ(b, 1);
    // A handler may post in turn.
    center.addObserver(&observerB, "chain", nullptr, [&](const UINotification&) { center.post("pong"); });
    center.post("chain");
    EXPECT_EQ(a, 1);
    center.removeObserver(&observerA);
    center.post("pong");
    EXPECT_EQ(a, 1);
    EXPECT_EQ(center.observerCount("ping"), 1);
}

TEST(UIThreadTest, JoinAllWaitsForEveryThread) {
    // Tasks that throw end too: joinAll does not wait for them for ever.
    std::atomic<int> done{0};
    for (int i = 0; i < 6; ++i)
        UIThread::detachNewThread([&done, i] {
            ++done;
            if (i == 1) throw std::runtime_error("task failed");
            if (i == 3) throw 3;
        });
    UIThread::joinAll();
    EXPECT_EQ(done.load(), 6);
    EXPECT_EQ(UIThread::runningCount(), 0);
}

TEST(Controls, OutOfRangeChoicesSelectNothing) {
    UIComboBox combo("eijiYomi");
    int changes = 0;
    combo.setSelectionDidChange([&](UIComboBox*) { ++changes; });
    for (const char* item : {"remove", "ruby", "original"}) combo.addItem(item);
    combo.selectItemAtIndex(1);
    EXPECT_EQ(combo.indexOfSelectedItem(), 1);
    EXPECT_EQ(combo.stringValue(), "ruby");
    combo.selectItemAtIndex(7);
    EXPECT_EQ(combo.indexOfSelectedItem(), -1);
    EXPECT_EQ(combo.stringValue(), "");
    combo.selectItemAtIndex(-3);  // no change: already none
    EXPECT_EQ(changes, 2);

    UIMatrix matrix({{"EPWING", 1}, {"EB", 0}});
    EXPECT_EQ(matrix.selectedTag(), 1);
    EXPECT_TRUE(matrix.selectCellWithTag(0));
    EXPECT_FALSE(matrix.selectCellWithTag(5));
    EXPECT_EQ(matrix.selectedTag(), 0);

    UITabView tabs;
    std::vector<std::string> seen;
    tabs.setDidSelect([&](UITabView*, const std::string& id) { seen.push_back(id); });
    for (const char* id : {"1", "2", "3"}) tabs.addTabItem(id);
    EXPECT_EQ(tabs.selectedIdentifier(), "1");
    EXPECT_TRUE(tabs.selectTabItemWithIdentifier("3"));
    EXPECT_FALSE(tabs.selectTabItemWithIdentifier("9"));
    EXPECT_EQ(seen, std::vector<std::string>{"3"});
}

class Dialog : public UIViewController {
public:
    void viewDidLoad() override { ++loads; }
    int loads = 0;
};

TEST(Storyboard, MakesControllersAndDrivesModalWindows) {
    UIStoryboard::registerController("TestMain", "dialog",
                                     [] { return std::unique_ptr<UIViewController>(new Dialog); });
    UIStoryboard board("TestMain");
    EXPECT_EQ(board.instantiateControllerWithIdentifier("nothing"), nullptr);
    auto wc = board.instantiateControllerWithIdentifier("dialog");
    ASSERT_NE(wc, nullptr);
    auto* dialog = static_cast<Dialog*>(wc->contentViewController());

    UIViewController main;
    int driven = 0;
    UIViewController::setModalDriver([&](UIViewController* vc) {
        ++driven;
        vc->dismissController();  // the user presses OK
    });
    main.presentViewControllerAsModalWindow(dialog);
    EXPECT_EQ(dialog->loads, 1);
    EXPECT_EQ(driven, 1);
    EXPECT_FALSE(dialog->isPresented());
    UIViewController::setModalDriver(nullptr);
    main.presentViewControllerAsModalWindow(dialog);
    EXPECT_EQ(dialog->loads, 1);  // loaded once
    EXPECT_TRUE(dialog->isPresented());
}

TEST(Panels, SavePanelAnswersOrCancels) {
    UISavePanel cancelled;
    EXPECT_EQ(cancelled.runModal(), UIModalCancel);
    UISavePanel::setAnswerSource([](const UISavePanel&, std::string* path) {
        *path = "/tmp/x.lfx";
        return true;
    });
    UISavePanel panel;
    EXPECT_EQ(panel.runModal(), UIModalOK);
    EXPECT_EQ(panel.path(), "/tmp/x.lfx");
    UISavePanel::setAnswerSource(nullptr);
}

TEST(RecentDocuments, NewestFirstWithoutDuplicates) {
    UIDocumentController& dc = UIDocumentController::sharedDocumentController();
    dc.clearRecentDocuments();
    for (int i = 0; i < 12; ++i) dc.noteNewRecentDocumentURL("/p" + std::to_string(i));
    dc.noteNewRecentDocumentURL("/p5");
    auto recent = dc.recentDocumentURLs();
    ASSERT_EQ(recent.size(), UIDocumentController::kMaxRecent);
    EXPECT_EQ(recent[0], "/p5");
    EXPECT_EQ(recent[1], "/p11");
    EXPECT_EQ(std::count(recent.begin(), recent.end(), "/p5"), 1);
}

TEST(Bundle, DefaultHexFontsLoadAsGaijiFonts) {
    UIBundle& bundle = UIBundle::mainBundle();
    bundle.setResourcePath(lftest::binDir() + "/resources");
    EXPECT_EQ(bundle.pathForResource("hex/none.hex"), "");
    struct {
        const char* name;
        int size;  // CGaiji size index
    } fonts[] = {{"hex/8x16.hex", 0}, {"hex/16x16.hex", 1}};
    for (const auto& f : fonts) {
        std::string path = bundle.pathForResource(f.name);
        ASSERT_FALSE(path.empty()) << f.name;
        CGaiji gaiji;
        EXPECT_EQ(gaiji.loadHexFont(path.c_str()), 0) << f.name;
        EXPECT_GT(gaiji.hexGlyphCount(f.size), 1000u) << f.name;
    }
    // A wide kanji has a glyph in the 16x16 font, "A" one in the 8x16 font.
    CGaiji gaiji;
    gaiji.loadHexFont(bundle.pathForResource("hex/8x16.hex").c_str());
    gaiji.loadHexFont(bundle.pathForResource("hex/16x16.hex").c_str());
    EXPECT_NE(gaiji.hexBitmap(0, 0x41), nullptr);
    EXPECT_NE(gaiji.hexBitmap(1, 0x6F22), nullptr);
}

}  // namespace
