// Whom a table view tells of a new selection.
#pragma once

class UITableView;

class UITableViewDelegate {
public:
    virtual ~UITableViewDelegate() = default;
    virtual void tableViewSelectionDidChange(UITableView* table) = 0;
};
