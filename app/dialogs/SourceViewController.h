// The source dialog: adds a source file to the selected book (when no source
// is selected) or edits the selected source, and opens the text field wizard
// for delimited text (type 9), with which it shares BookSet csvPath and
// csvFields. OK refuses an empty path by moving the focus to it and posts
// "reloadSourceNotification".
#pragma once

#include <memory>
#include <string>

#include "platform/UIMatrix.h"
#include "platform/UITextField.h"
#include "platform/UIViewController.h"

class BookSet;

class SourceViewController : public UIViewController {
public:
    SourceViewController();
    void viewDidLoad() override;

    void OnOK();
    void OnCancel();
    void OnTextWizard();
    void selectSourcePath();
    std::string toAbsPath(const std::string& path) const;

    UITextField sourcePath, sourceTitle;
    UIMatrix sourceType;  // one cell per source type; the tag is the type code
    std::shared_ptr<UIWindowController> myController;

private:
    BookSet* m_bookset = nullptr;
};
