#include "platform/UITableView.h"

#include "platform/UITableViewDataSource.h"
#include "platform/UITableViewDelegate.h"

void UITableView::reloadData() {
    ++m_reloads;
    m_rows = m_source ? m_source->numberOfRowsInTableView(this) : 0;
    if (m_rows < 0) m_rows = 0;
    if (m_selected >= m_rows) selectRow(-1);
}

std::string UITableView::cellText(const std::string& columnIdentifier, int row, bool* found) {
    bool ok = false;
    std::string text;
    if (m_source && row >= 0 && row < m_rows) text = m_source->tableViewObjectValue(this, columnIdentifier, row, &ok);
    if (found) *found = ok;
    return ok ? text : std::string();
}

void UITableView::selectRow(int row) {
    if (row < 0 || row >= m_rows) row = -1;
    if (row == m_selected) return;
    m_selected = row;
    if (m_delegate) m_delegate->tableViewSelectionDidChange(this);
}
