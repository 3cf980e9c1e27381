// A table view: columns named by identifier, rows from a data source, one
// selected row (-1 for none). reloadData asks the data source again and drops
// a selection that no longer names a row.
#pragma once

#include <string>
#include <vector>

class UITableViewDataSource;
class UITableViewDelegate;

class UITableView {
public:
    explicit UITableView(std::string identifier = std::string()) : m_identifier(std::move(identifier)) {}

    // The name by which a data source serving several tables tells them apart.
    const std::string& identifier() const { return m_identifier; }

    void addColumn(const std::string& identifier) { m_columns.push_back(identifier); }
    const std::vector<std::string>& columns() const { return m_columns; }

    void setDataSource(UITableViewDataSource* source) { m_source = source; }
    void setDelegate(UITableViewDelegate* delegate) { m_delegate = delegate; }

    void reloadData();
    int numberOfRows() const { return m_rows; }
    int reloadCount() const { return m_reloads; }

    // The text shown in a cell (asks the data source); empty for "nothing".
    std::string cellText(const std::string& columnIdentifier, int row, bool* found = nullptr);

    int selectedRow() const { return m_selected; }
    // What a click on a row does (-1: click on no row); tells the delegate
    // when the selection changes. A row outside the table selects nothing.
    void selectRow(int row);
    void deselectAll() { selectRow(-1); }

private:
    std::string m_identifier;
    std::vector<std::string> m_columns;
    UITableViewDataSource* m_source = nullptr;
    UITableViewDelegate* m_delegate = nullptr;
    int m_rows = 0;
    int m_selected = -1;
    int m_reloads = 0;
};
