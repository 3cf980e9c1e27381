// The source dialog driven as the user does, with the text field wizard it
// opens for delimited text.
#include <gtest/gtest.h>

#include <string>

#include "app/AppDelegate.h"
#include "app/dialogs/SourceViewController.h"
#include "app/dialogs/TextWizardViewController.h"
#include "tests/app/WindowTestUtil.h"

namespace {

class SourceDialog : public lftest::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        BookInfo& b = addBook("Book", "BOOK");
        addSource(b, "$(BASE)\\data\\words.csv", 9, "enc=utf-8;delim=,;fields=headword|meaning|");
        vc->invalidateBookSet(nullptr);
    }
    void open(bool add, const std::function<void(SourceViewController*)>& play) {
        lftest::playDialogs<SourceViewController>(play);
        if (add)
            menu.AddSource();
        else
            menu.EditSource();
    }
    const SourceInfo& source(size_t i) { return set->getBookArray()[0].getSource().at(i); }
    AppDelegate menu;
};

TEST_F(SourceDialog, AddingStoresTheTypedSource) {
    open(true, [](SourceViewController* d) {
        EXPECT_EQ(d->sourceType.selectedTag(), 0);
        d->OnOK();  // no path: refused
        EXPECT_EQ(d->firstResponder(), &d->sourcePath);
        d->sourcePath.setStringValue("$(BASE)/dict.html");
        d->sourceType.selectCellWithTag(1);
        d->OnOK();
    });
    ASSERT_EQ(set->getBookArray()[0].getSource().size(), 2u);
    EXPECT_EQ(source(1).inFile(), "$(BASE)/dict.html");  // kept as typed
    EXPECT_EQ(source(1).title(), "");
    EXPECT_EQ(source(1).sourceTypeID(), 1);
    EXPECT_EQ(source(1).fields(), "");
    EXPECT_EQ(set->correntSource(), 1);
    EXPECT_EQ(vc->sourceTableView.numberOfRows(), 2);
}

TEST_F(SourceDialog, TheWizardOpensOnTheStoredSpecAndItsResultIsStored) {
    set->setBasePath("/proj");
    vc->sourceTableView.selectRow(0);
    lftest::playDialogs<UIViewController>([](UIViewController* presented) {
        if (auto* d = dynamic_cast<SourceViewController*>(presented)) {
            EXPECT_EQ(d->sourcePath.stringValue(), "$(BASE)\\data\\words.csv");
            d->OnTextWizard();
            d->OnOK();
        } else if (auto* w = dynamic_cast<TextWizardViewController*>(presented)) {
            EXPECT_EQ(BookSet::sharedBookSet()->csvPath(), "/proj/data/words.csv");
            EXPECT_EQ(w->m_fieldstype, (std::vector<std::string>{"headword", "meaning"}));
            w->m_fieldstype.push_back("keyword");
            w->OnOK();
        }
    });
    menu.EditSource();
    EXPECT_EQ(source(0).fields(), "enc=utf-8;delim=,;fields=headword|meaning|keyword|");
    EXPECT_EQ(source(0).inFile(), "$(BASE)\\data\\words.csv");
}

TEST_F(SourceDialog, OtherTypesStoreNoSpecAndOpenNoWizard) {
    set->setBasePath("");
    vc->sourceTableView.selectRow(0);
    int wizards = 0;
    lftest::playDialogs<UIViewController>([&](UIViewController* presented) {
        if (dynamic_cast<TextWizardViewController*>(presented)) ++wizards;
        if (auto* d = dynamic_cast<SourceViewController*>(presented)) {
            d->sourceType.selectCellWithTag(4);
            d->OnTextWizard();
            // Without a base folder the path goes over as typed.
            EXPECT_EQ(BookSet::sharedBookSet()->csvPath(), "$(BASE)\\data\\words.csv");
            d->OnOK();
        }
    });
    menu.EditSource();
    EXPECT_EQ(wizards, 0);
    EXPECT_EQ(source(0).sourceTypeID(), 4);
    EXPECT_EQ(source(0).fields(), "");
}

TEST_F(SourceDialog, CancelStoresNothing) {
    open(true, [](SourceViewController* d) {
        d->sourcePath.setStringValue("x.txt");
        d->OnCancel();
    });
    EXPECT_EQ(set->getBookArray()[0].getSource().size(), 1u);
}

}  // namespace
