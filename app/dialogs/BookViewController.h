// The book dialog: adds a book to the project (when no book is selected) or
// edits the selected one. OK refuses an empty title or directory name, and a
// value that a build cannot take (see booklimits.h), by moving the focus to
// its field; otherwise it stores every field at once and posts
// "reloadBookNotification".
#pragma once

#include <string>

#include "platform/UICheckBox.h"
#include "platform/UIComboBox.h"
#include "platform/UITextField.h"
#include "platform/UIViewController.h"

class BookSet;

class BookViewController : public UIViewController {
public:
    BookViewController();
    void viewDidLoad() override;

    void OnOK();
    void OnCancel();
    void selectGaijiMap();
    void selectGaijiFont();
    void selectCopyright();
    void selectComplex();
    void selectKeyword();

    UITextField bookTitle, dirName, gaijiMap, gaijiFont, copyright, complexindex, keywordFile;
    UITextField gai8x16, gai16x16, gai12x24, gai24x24, gai16x30, gai32x30, gai24x48, gai48x48;
    UITextField hanStart, zenStart;
    UIComboBox kindOfBook;
    UICheckBox separateHonmon;

    // The font-name fields in slot order (8x16 first).
    UITextField* fontField(int slot);
    // Why the last OK kept the dialog open ("empty", or what a build cannot
    // take of the field that has the focus); empty after an OK that stored.
    const std::string& refusal() const { return m_refusal; }

private:
    void choosePath(UITextField* field);
    BookSet* m_bookset = nullptr;
    std::string m_refusal;
};
