// The main window's controller without runs: start-up, the book and source
// lists with their selection rules, the option tabs against the project and
// the driver, and the project commands.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/dialogs/BookViewController.h"
#include "app/project/projectoptions.h"
#include "app/window/RunPlan.h"
#include "builder/CEPWing.h"
#include "platform/UIBundle.h"
#include "platform/UIDocumentController.h"
#include "platform/UINotificationCenter.h"
#include "tests/app/WindowTestUtil.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::TestDir;

class MainWindow : public lftest::WindowTest {};

std::vector<std::string> items(const UIComboBox& combo) {
    std::vector<std::string> out;
    for (int i = 0; i < combo.numberOfItems(); ++i) out.push_back(combo.itemAt(i));
    return out;
}

TEST_F(MainWindow, StartsWithTheEmptyProject) {
    EXPECT_EQ(vc->title(), "Lexforge");
    EXPECT_EQ(vc->tabid, 1);
    EXPECT_EQ(vc->definitionPath, "");
    EXPECT_EQ(vc->bookTableView.numberOfRows(), 0);
    EXPECT_EQ(vc->sourceTableView.numberOfRows(), 0);
    EXPECT_EQ(items(vc->eijiYomi), (std::vector<std::string>{"remove", "ruby", "original"}));
    EXPECT_EQ(items(vc->pdicYorei), (std::vector<std::string>{"NONE", "SILIPA93", "LATIN1"}));
    EXPECT_EQ(items(vc->srchUnit), (std::vector<std::string>{"section", "paragraph"}));
    for (const char* name : {"reloadBookNotification", "doConvertNotification", "openFileNotification",
                             "makeCatalogNotification", "showMessageNotification"})
        EXPECT_EQ(UINotificationCenter::defaultCenter().observerCount(name), 1) << name;
}

TEST_F(MainWindow, SelectionFollowsTheTables) {
    BookInfo& a = addBook("Alpha", "A");
    addSource(a, "a1.txt", 4);
    addSource(a, "a2.txt", 4);
    addBook("Beta", "B");
    vc->invalidateBookSet(nullptr);
    // Loading a project selects its first book and lists that book's sources.
    EXPECT_EQ(set->correntBook(), 0);
    EXPECT_EQ(vc->sourceTableView.numberOfRows(), 2);
    EXPECT_EQ(vc->bookTableView.cellText("book", 1), "Beta");
    EXPECT_EQ(vc->sourceTableView.cellText("source", 1), "a2.txt");

    int reloads = vc->sourceTableView.reloadCount();
    vc->sourceTableView.selectRow(1);
    EXPECT_EQ(set->correntSource(), 1);
    EXPECT_EQ(vc->sourceTableView.reloadCount(), reloads);  // same book: no reload
    vc->bookTableView.selectRow(1);
    EXPECT_EQ(set->correntBook(), 1);
    EXPECT_EQ(vc->sourceTableView.numberOfRows(), 0);
    EXPECT_EQ(set->correntSource(), -1);

    // A row out of range reads as nothing.
    bool found = true;
    vc->bookTableView.cellText("source", 0, &found);
    EXPECT_FALSE(found);
}

TEST_F(MainWindow, ListCommandsNeedASelection) {
    int shown = 0;
    lftest::playDialogs<UIViewController>([&](UIViewController*) { ++shown; });
    AppDelegate menu;
    menu.AddSource();  // no book selected
    menu.EditBook();
    menu.DeleteSource();
    EXPECT_EQ(shown, 0);
    vc->doubleActionSource();  // below the rows, no book: nothing either
    EXPECT_EQ(shown, 0);

    BookInfo& a = addBook("Alpha", "A");
    addSource(a, "a1.txt", 4);
    addSource(a, "a2.txt", 4);
    vc->invalidateBookSet(nullptr);
    vc->sourceTableView.selectRow(0);
    menu.DeleteSource();
    EXPECT_EQ(set->getBookArray()[0].getSource().size(), 1u);
    EXPECT_EQ(set->getBookArray()[0].getSource()[0].inFile(), "a2.txt");
    EXPECT_EQ(set->correntSource(), -1);
    menu.DeleteBook();
    EXPECT_TRUE(set->getBookArray().empty());
    EXPECT_EQ(set->correntBook(), -1);
    EXPECT_EQ(vc->bookTableView.numberOfRows(), 0);
}

// Open replaces the project under highlighted rows: afterwards the rows
// highlighted and the model's book and source are the same, so the list
// commands act on what is shown.
TEST_F(MainWindow, OpenLeavesTheHighlightedRowsAndTheModelInAgreement) {
    TestDir dir;
    for (const char* name : {"one.lfx", "two.lfx"}) {
        set->clear();
        BookInfo& a = addBook("Alpha", "A");
        addSource(a, "a1.txt", 4);
        addSource(a, "a2.txt", 4);
        addSource(a, "a3.txt", 4);
        addBook("Beta", "B");
        ASSERT_TRUE(set->saveXMLFile(dir.file(name)));
    }
    set->clear();
    AppDelegate menu;
    const struct {
        const char* what;
        int bookRow, sourceRow;
    } cases[] = {{"source row 1 of book 1", 0, 1}, {"book 2", 1, -1}, {"nothing", -1, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        menu.applicationOpenFile(nullptr, dir.file("one.lfx"));
        vc->bookTableView.selectRow(c.bookRow);
        vc->sourceTableView.selectRow(c.sourceRow);
        menu.applicationOpenFile(nullptr, dir.file("two.lfx"));
        EXPECT_EQ(set->correntBook(), vc->bookTableView.selectedRow());
        EXPECT_EQ(set->correntSource(), vc->sourceTableView.selectedRow());
        EXPECT_EQ(vc->bookTableView.selectedRow(), 0);
        // Delete Source removes nothing while no source is highlighted, and
        // the highlighted one once one is.
        menu.DeleteSource();
        EXPECT_EQ(set->getBookArray()[0].getSource().size(), 3u);
        vc->sourceTableView.selectRow(2);
        menu.DeleteSource();
        ASSERT_EQ(set->getBookArray()[0].getSource().size(), 2u);
        EXPECT_EQ(set->getBookArray()[0].getSource()[1].inFile(), "a2.txt");
    }
}

TEST_F(MainWindow, DoubleClickOpensTheBookDialogForARowOrANewBook) {
    addBook("Alpha", "A");
    vc->invalidateBookSet(nullptr);
    std::vector<std::string> titles;
    lftest::playDialogs<BookViewController>([&](BookViewController* d) {
        titles.push_back(d->bookTitle.stringValue());
        d->OnCancel();
    });
    vc->doubleActionBook();  // row 0 selected
    auto first = vc->myController;
    vc->bookTableView.deselectAll();
    vc->doubleActionBook();
    EXPECT_EQ(titles, (std::vector<std::string>{"Alpha", ""}));
    EXPECT_NE(vc->myController, first);  // the stored dialog is replaced
    EXPECT_EQ(set->getBookArray().size(), 1u);
}

TEST_F(MainWindow, TabOneShowsAndCommitsTheProject) {
    struct Case {
        int indexDef;
        int startBits;  // boxes on before loading
        int shown;      // boxes on after loading
    } cases[] = {
        {0x43, 0x00, 0x43},
        {0xFF, 0x00, 0xFF},
        {0x00, 0x90, 0xD3},  // 0: the two prefix boxes and the menu on, the rest kept
        {0x84, 0x00, 0x84},
    };
    UICheckBox* boxes[] = {&vc->prefixHyoki,  &vc->prefixKana,   &vc->suffixHyoki, &vc->suffixKana,
                           &vc->keywordIndex, &vc->complexIndex, &vc->menuIndex,   &vc->crossIndex};
    for (const Case& c : cases) {
        for (int i = 0; i < 8; ++i) boxes[i]->setState((c.startBits >> i) & 1 ? UIStateOn : UIStateOff);
        set->setIndexDef(c.indexDef);
        vc->invalidateBookSet(nullptr);
        vc->setBookset();
        EXPECT_EQ(set->indexDef(), c.shown) << c.indexDef;
    }
    for (UICheckBox* box : boxes) box->setState(UIStateOff);
    vc->setBookset();
    EXPECT_EQ(set->indexDef(), 0);

    for (int type : {0, 1}) {
        set->setEbType(type);
        vc->invalidateBookSet(nullptr);
        EXPECT_EQ(vc->ebType.selectedTag(), type);
        vc->setBookset();
        EXPECT_EQ(set->ebType(), type);
    }
    const struct {
        const char* typed;
        const char* stored;
    } outputs[] = {{"/out", "/out/"}, {"/out/", "/out/"}, {"", ""}};
    for (const auto& o : outputs) {
        vc->outputPath.setStringValue(o.typed);
        vc->setBookset();
        EXPECT_EQ(set->outputPath(), o.stored);
    }
}

TEST_F(MainWindow, OptionTabsCommitWhenLeftAndBeforeASave) {
    TestDir dir;
    vc->tabView.selectTabItemWithIdentifier("2");
    EXPECT_EQ(vc->tabid, 2);
    vc->stopWord.setStringValue("an of");
    vc->delBlank.setState(UIStateOff);
    vc->titleOrder.selectCellWithTag(0);
    vc->srchUnit.selectItemAtIndex(1);
    vc->tabView.selectTabItemWithIdentifier("3");  // leaving tab 2 commits it
    const ConvertOpt& opt = *set->getConvertOpt();
    EXPECT_STREQ(opt.stopWord, "an of");
    EXPECT_EQ(opt.delBlank, 0);
    EXPECT_EQ(opt.titleOrder, 0);
    EXPECT_EQ(opt.srchUnit, 1);

    // Tab 3 on view when saving: its values are saved.
    vc->leftMargin.setStringValue("7");
    vc->maxStringT.setStringValue("300000000");
    vc->withHeader.setState(UIStateOn);
    vc->eijiYomi.selectItemAtIndex(2);
    UISavePanel::setAnswerSource([&](const UISavePanel&, std::string* path) {
        *path = dir.file("p.lfx");
        return true;
    });
    vc->saveDocument(nullptr);  // no definition path: Save As
    EXPECT_EQ(vc->definitionPath, dir.file("p.lfx"));
    set->clear();
    ASSERT_TRUE(set->loadXMLFile(dir.file("p.lfx")));
    EXPECT_EQ(set->getConvertOpt()->leftMargin, 7);
    EXPECT_EQ(set->getConvertOpt()->maxStringT, 300000000u);
    EXPECT_EQ(set->getConvertOpt()->withHeader, 1);
    EXPECT_EQ(set->getConvertOpt()->eijiYomi, 2);
    EXPECT_STREQ(set->getConvertOpt()->stopWord, "an of");
}

TEST_F(MainWindow, ComboValuesOutsideTheirItemsAreKeptAndNeverReachTheDriverAsMinusOne) {
    ConvertOpt* opt = set->getConvertOpt();
    opt->srchUnit = 5;
    opt->eijiYomi = -1;
    opt->pdicTitle = 9;
    vc->invalidateBookSet(nullptr);
    EXPECT_EQ(vc->srchUnit.indexOfSelectedItem(), -1);
    EXPECT_EQ(vc->eijiYomi.indexOfSelectedItem(), -1);
    vc->commitOptionTab(2);
    vc->commitOptionTab(3);
    EXPECT_EQ(opt->srchUnit, 5);  // no item chosen: the value stays
    EXPECT_EQ(opt->pdicTitle, 9);

    CEPWing w;
    w.init();
    ViewController::setOptions(&w, *opt);
    EXPECT_EQ(w.getIntOption("srchUnit"), 0);
    EXPECT_EQ(w.getIntOption("eijiYomi"), 0);
    EXPECT_EQ(w.getIntOption("pdicTitle"), 0);
    w.term();
}

// Every option handed to a real driver, read back through its getters.
TEST_F(MainWindow, SetOptionsHandsEveryOptionToTheDriver) {
    ConvertOpt* opt = set->getConvertOpt();
    // Values unlike the driver's defaults: flags flipped, numbers distinct.
    int n = 0;
    for (const ProjectOption& o : kProjectOptions) {
        ++n;
        if (o.kind == OPTION_FLAG) setProjectOptionFlag(opt, o, !projectOptionFlag(*opt, o));
        if (o.kind == OPTION_NUMBER && o.unsignedField == nullptr) setProjectOptionNumber(opt, o, n % 3 == 0 ? 2 : n);
    }
    opt->pdicTitle = 1;
    opt->pdicPronon = 2;
    opt->pdicHonbun = 1;
    opt->pdicYorei = 2;
    opt->srchUnit = 1;
    opt->eijiYomi = 2;
    set->setTextOption(&ConvertOpt::stopWord, "an of");
    set->setTextOption(&ConvertOpt::delChars, "-・");
    set->setTextOption(&ConvertOpt::kanaSep1, "〔");
    set->setTextOption(&ConvertOpt::kanaSep2, "〕");
    set->setTextOption(&ConvertOpt::arrowCode, "2232");

    for (uint32_t limit : {256000000u, 256000001u, 400000000u}) {
        opt->maxStringT = limit;
        CEPWing w;
        w.init();
        const uint32_t before = static_cast<uint32_t>(w.getIntOption("maxStringT"));
        ViewController::setOptions(&w, *opt);
        std::vector<DriverOption> handed = driverIntOptions(*opt);
        EXPECT_EQ(handed.size(), 46u);
        for (const DriverOption& d : handed) {
            const ProjectOption* o = findProjectOption(d.name);
            ASSERT_NE(o, nullptr) << d.name;
            int expected = o->kind == OPTION_FLAG ? opt->*(o->intField) : projectOptionNumber(*opt, *o);
            int got = o->kind == OPTION_FLAG ? w.getBoolOption(d.name) : w.getIntOption(d.name);
            EXPECT_EQ(got, expected) << d.name;
        }
        EXPECT_EQ(static_cast<uint32_t>(w.getIntOption("maxStringT")), limit > 256000000u ? limit : before);
        EXPECT_STREQ(w.getStringOption("stopWord"), "an of");
        EXPECT_STREQ(w.getStringOption("delChars"), "-\x81\x45");
        EXPECT_STREQ(w.getStringOption("kanaSep1"), "\x81\x6B");
        EXPECT_STREQ(w.getStringOption("kanaSep2"), "\x81\x6C");
        EXPECT_STREQ(w.getStringOption("arrowCode"), "2232");
        w.term();
    }
}

TEST_F(MainWindow, ProjectCommandsFollowTheFileKind) {
    TestDir dir;
    lftest::writeFile(dir.file("old.lfs"), std::string("OutPath=/out\r\n"));
    addBook("Alpha", "A");
    set->setOutputPath("/out/");
    ASSERT_TRUE(set->saveXMLFile(dir.file("p.LFX")));
    set->clear();

    std::vector<std::string> chosen = {dir.file("old.lfs"), dir.file("p.LFX")};
    std::vector<std::string> offered;
    UIOpenPanel::setAnswerSource([&](const UIOpenPanel& panel, std::string* path) {
        offered = panel.allowedFileTypes();
        *path = chosen.front();
        chosen.erase(chosen.begin());
        return true;
    });
    int saves = 0;
    UISavePanel::setAnswerSource([&](const UISavePanel&, std::string*) {
        ++saves;
        return false;
    });
    UIDocumentController::sharedDocumentController().clearRecentDocuments();
    AppDelegate menu;
    menu.openDocument();
    EXPECT_EQ(offered, (std::vector<std::string>{"lfx", "lfs", "xml"}));
    EXPECT_EQ(vc->definitionPath, "");
    menu.saveDocument();  // a key=value project is saved through the panel
    EXPECT_EQ(saves, 1);

    menu.openDocument();  // capitals: still an XML project file
    EXPECT_EQ(vc->definitionPath, dir.file("p.LFX"));
    EXPECT_EQ(vc->bookTableView.numberOfRows(), 1);
    EXPECT_EQ(UIDocumentController::sharedDocumentController().recentDocumentURLs().front(), dir.file("p.LFX"));
    vc->outputPath.setStringValue("");
    menu.saveDocument();  // writes back to the file, without a panel
    EXPECT_EQ(saves, 1);
    set->clear();
    ASSERT_TRUE(set->loadXMLFile(dir.file("p.LFX")));
    EXPECT_EQ(set->outputPath(), "");

    // Open on request with no file name does nothing; New empties the
    // project and keeps the log.
    vc->appendText("kept\n");
    menu.applicationOpenFile(nullptr, "");
    EXPECT_EQ(vc->definitionPath, dir.file("p.LFX"));
    menu.newDocument();
    EXPECT_EQ(vc->definitionPath, "");
    EXPECT_TRUE(set->getBookArray().empty());
    EXPECT_EQ(log(), "kept\n");
}

TEST_F(MainWindow, PathFormsExpandOnlyWithABaseFolder) {
    const std::string app = UIBundle::mainBundle().resourcePath();
    EXPECT_EQ(vc->toAbsPath("$(BASE)\\a\\b.txt"), "$(BASE)\\a\\b.txt");
    EXPECT_EQ(vc->toAbsPath("$(APPPATH)/hex"), "$(APPPATH)/hex");
    set->setBasePath("/proj");
    EXPECT_EQ(vc->toAbsPath("$(BASE)\\a\\b.txt"), "/proj/a/b.txt");
    EXPECT_EQ(vc->toAbsPath("$(APPPATH)/hex"), app + "/hex");
}

}  // namespace
