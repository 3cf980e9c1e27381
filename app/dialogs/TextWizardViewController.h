// The text field wizard: makes the CSV field spec of a delimited text source
// from the first line of its file (BookSet csvPath) and the user's choices of
// encoding, delimiter and one role per column, and writes it into BookSet
// csvFields on OK.
//
// The spec reads "enc=" ENCODING ";delim=" DELIMITER ";fields=" and then each
// column's type token ("" for a column not used) followed by "|". The final
// "|" ends the list: decoding a spec and encoding it again gives the same
// text.
#pragma once

#include <string>
#include <vector>

#include "platform/UIComboBox.h"
#include "platform/UITableView.h"
#include "platform/UITableViewDataSource.h"
#include "platform/UITableViewDelegate.h"
#include "platform/UIViewController.h"

class BookSet;

class TextWizardViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    TextWizardViewController();
    void viewDidLoad() override;

    void OnOK();
    void OnCancel();
    void OnReload();

    void decodeFields();
    void encodeFields();
    void recognizeHeader();

    int numberOfRowsInTableView(UITableView* table) override;
    std::string tableViewObjectValue(UITableView* table, const std::string& columnIdentifier, int row,
                                     bool* found) override;
    void tableViewSelectionDidChange(UITableView* table) override;
    void comboBoxSelectionDidChange(UIComboBox* combo);

    UIComboBox encoding, delimiter, type;
    UITableView fieldList;

    std::vector<std::string> encodingStr, delimStr, typeStr;
    std::vector<std::string> m_fieldsname;
    std::vector<std::string> m_fieldstype;

private:
    BookSet* m_bookset = nullptr;
};
