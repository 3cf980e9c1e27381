// The application delegate: one notification per menu command, and the
// system's request to open a file.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "platform/UINotificationCenter.h"

namespace {

TEST(AppDelegateTest, EachCommandPostsItsNotification) {
    AppDelegate d;
    const struct {
        std::function<void()> action;
        const char* name;
    } cases[] = {
        {[&] { d.newDocument(); }, "newDocumentNotification"},
        {[&] { d.openDocument(); }, "openDocumentNotification"},
        {[&] { d.saveDocument(); }, "saveDocumentNotification"},
        {[&] { d.saveDocumentAs(); }, "saveDocumentAsNotification"},
        {[&] { d.AddBook(); }, "addBookNotification"},
        {[&] { d.DeleteBook(); }, "deleteBookNotification"},
        {[&] { d.EditBook(); }, "editBookNotification"},
        {[&] { d.AddSource(); }, "addSourceNotification"},
        {[&] { d.DeleteSource(); }, "deleteSourceNotification"},
        {[&] { d.EditSource(); }, "editSourceNotification"},
        {[&] { d.doMake(); }, "doConvertNotification"},
        {[&] { d.doAbort(); }, "abortNotification"},
        {[&] { d.doMakeCatalog(); }, "makeCatalogNotification"},
    };
    std::vector<UINotification> seen;
    UINotificationCenter& center = UINotificationCenter::defaultCenter();
    for (const auto& c : cases)
        center.addObserver(&seen, c.name, nullptr, [&](const UINotification& n) { seen.push_back(n); });
    for (const auto& c : cases) {
        seen.clear();
        c.action();
        ASSERT_EQ(seen.size(), 1u) << c.name;
        EXPECT_EQ(seen[0].name, c.name);
        EXPECT_EQ(seen[0].object, &d);
        EXPECT_TRUE(seen[0].userInfo.empty());
    }
    center.addObserver(&seen, "openFileNotification", nullptr, [&](const UINotification& n) { seen.push_back(n); });
    seen.clear();
    EXPECT_TRUE(d.applicationOpenFile(nullptr, "/p/dict.lfx"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].object, nullptr);
    EXPECT_EQ(seen[0].userInfo.at("filename"), "/p/dict.lfx");
    center.removeObserver(&seen);
}

}  // namespace
