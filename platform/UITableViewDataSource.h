// Where a table view gets its rows.
#pragma once

#include <string>

class UITableView;

class UITableViewDataSource {
public:
    virtual ~UITableViewDataSource() = default;
    virtual int numberOfRowsInTableView(UITableView* table) = 0;
    // Text of a cell; found is false for "nothing".
    virtual std::string tableViewObjectValue(UITableView* table, const std::string& columnIdentifier, int row,
                                             bool* found) = 0;
};
