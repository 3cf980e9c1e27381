// The book dialog driven as the user does: opened from the main window,
// fields typed, OK or Cancel pressed.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/AppDelegate.h"
#include "app/dialogs/BookViewController.h"
#include "platform/UINotificationCenter.h"
#include "tests/app/WindowTestUtil.h"

namespace {

class BookDialog : public lftest::WindowTest {
protected:
    // Opens the dialog through the menu (add, or edit of the selected book)
    // and lets play act on it.
    void open(bool add, const std::function<void(BookViewController*)>& play) {
        lftest::playDialogs<BookViewController>(play);
        if (add)
            menu.AddBook();
        else
            menu.EditBook();
    }
    AppDelegate menu;
};

TEST_F(BookDialog, ANewBookStartsWithTheDefaultsAndIsAppendedOnOK) {
    int reloads = 0;
    UINotificationCenter::defaultCenter().addObserver(this, "reloadBookNotification", nullptr,
                                                      [&](const UINotification&) { ++reloads; });
    open(true, [](BookViewController* d) {
        EXPECT_EQ(d->gai8x16.stringValue(), "GAI16H00");
        EXPECT_EQ(d->gai16x16.stringValue(), "GAI16F00");
        EXPECT_EQ(d->kindOfBook.indexOfSelectedItem(), 6);
        EXPECT_EQ(d->hanStart.stringValue(), "A121");
        EXPECT_EQ(d->zenStart.stringValue(), "B121");
        d->bookTitle.setStringValue("My Book");
        d->dirName.setStringValue("mybook");
        d->hanStart.setStringValue("a121");
        d->zenStart.setStringValue("0xB121");
        d->kindOfBook.selectItemAtIndex(2);
        d->OnOK();
        EXPECT_FALSE(d->isPresented());
    });
    UINotificationCenter::defaultCenter().removeObserver(this);
    ASSERT_EQ(set->getBookArray().size(), 1u);
    const BookInfo& b = set->getBookArray()[0];
    EXPECT_EQ(b.bookTitle(), "My Book");
    EXPECT_EQ(b.dirName(), "MYBOOK");
    EXPECT_EQ(b.hanStart(), 0xA121u);
    EXPECT_EQ(b.zenStart(), 0xB121u);
    EXPECT_EQ(b.bookTypeID(), 0x20);
    EXPECT_EQ(set->correntBook(), 0);
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(vc->bookTableView.numberOfRows(), 1);
}

TEST_F(BookDialog, EditingShowsTheBookAndStoresWithoutAppending) {
    BookInfo& b = addBook("Old", "OLD");
    b.setBookTypeID(0x65);  // no kind item
    b.setHanStart(0xA200);
    vc->invalidateBookSet(nullptr);
    open(false, [](BookViewController* d) {
        EXPECT_EQ(d->bookTitle.stringValue(), "Old");
        EXPECT_EQ(d->hanStart.stringValue(), "A200");
        EXPECT_EQ(d->kindOfBook.indexOfSelectedItem(), -1);
        d->zenStart.setStringValue("");
        d->OnOK();
    });
    ASSERT_EQ(set->getBookArray().size(), 1u);
    EXPECT_EQ(set->getBookArray()[0].bookTypeID(), 0x60);  // no kind chosen
    EXPECT_EQ(set->getBookArray()[0].zenStart(), 0u);      // an empty field
}

TEST_F(BookDialog, CancelStoresNothing) {
    open(true, [](BookViewController* d) {
        d->bookTitle.setStringValue("T");
        d->dirName.setStringValue("D");
        d->OnCancel();
    });
    EXPECT_TRUE(set->getBookArray().empty());
    EXPECT_EQ(set->correntBook(), -1);
}

// OK refuses a field by moving the focus to it; the dialog stays open and
// nothing is stored.
TEST_F(BookDialog, OKRefusesEmptyFieldsAndValuesABuildCannotTake) {
    const std::string longPath = "/" + std::string(260, 'p');
    const struct {
        const char* what;
        std::function<void(BookViewController*)> type;
        UITextField BookViewController::*focused;
    } cases[] = {
        {"empty title", [](BookViewController* d) { d->bookTitle.setStringValue(""); }, &BookViewController::bookTitle},
        {"empty directory", [](BookViewController* d) { d->dirName.setStringValue(""); }, &BookViewController::dirName},
        {"long title", [](BookViewController* d) { d->bookTitle.setStringValue(std::string(81, 't')); },
         &BookViewController::bookTitle},
        {"directory with a dot", [](BookViewController* d) { d->dirName.setStringValue("a.b"); },
         &BookViewController::dirName},
        {"directory of nine", [](BookViewController* d) { d->dirName.setStringValue("ABCDEFGHI"); },
         &BookViewController::dirName},
        {"long copyright path", [&](BookViewController* d) { d->copyright.setStringValue(longPath); },
         &BookViewController::copyright},
        {"long font name", [](BookViewController* d) { d->gai48x48.setStringValue("NINECHARS"); },
         &BookViewController::gai48x48},
        {"start code", [](BookViewController* d) { d->zenStart.setStringValue("12345"); },
         &BookViewController::zenStart},
        // A start code that is no number is refused, not stored as 0.
        {"start code of letters", [](BookViewController* d) { d->hanStart.setStringValue("ZZZZ"); },
         &BookViewController::hanStart},
        {"start code with a tail", [](BookViewController* d) { d->zenStart.setStringValue("B121h"); },
         &BookViewController::zenStart},
        {"start code 0x alone", [](BookViewController* d) { d->hanStart.setStringValue("0x"); },
         &BookViewController::hanStart},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool played = false;
        open(true, [&](BookViewController* d) {
            d->bookTitle.setStringValue("Title");
            d->dirName.setStringValue("DIR");
            c.type(d);
            d->OnOK();
            EXPECT_EQ(d->firstResponder(), &(d->*c.focused));
            EXPECT_TRUE(d->isPresented());
            played = true;
        });
        EXPECT_TRUE(played);
        EXPECT_TRUE(set->getBookArray().empty());
    }
}

// The forms of a start code OK takes: hex digits with blanks, "0x" and a
// sign around them; an empty field stores 0 (the default codes).
TEST_F(BookDialog, StartCodesInTheFormsOKTakes) {
    const struct {
        const char* text;
        uint32_t stored;
    } cases[] = {{" a200 ", 0xA200}, {"0xB300", 0xB300}, {"+A121", 0xA121}, {"", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        set->getBookArray().clear();
        open(true, [&](BookViewController* d) {
            d->bookTitle.setStringValue("Title");
            d->dirName.setStringValue("DIR");
            d->hanStart.setStringValue(c.text);
            d->OnOK();
            EXPECT_FALSE(d->isPresented()) << d->refusal();
        });
        ASSERT_EQ(set->getBookArray().size(), 1u);
        EXPECT_EQ(set->getBookArray()[0].hanStart(), c.stored);
    }
}

}  // namespace
