// A combo box: a list of items, one selected (-1 for none). Selecting an
// index outside the items selects none, as a user could not pick it. The
// delegate hears of every change of the selection.
#pragma once

#include <functional>
#include <string>
#include <vector>

class UIComboBox {
public:
    explicit UIComboBox(std::string identifier = std::string()) : m_identifier(std::move(identifier)) {}

    const std::string& identifier() const { return m_identifier; }
    void removeAllItems() {
        m_items.clear();
        m_selected = -1;
    }
    void addItem(const std::string& item) { m_items.push_back(item); }
    int numberOfItems() const { return static_cast<int>(m_items.size()); }
    const std::string& itemAt(int index) const { return m_items.at(static_cast<size_t>(index)); }

    int indexOfSelectedItem() const { return m_selected; }
    // The selected item's text; empty when none is selected.
    std::string stringValue() const { return m_selected >= 0 ? m_items[static_cast<size_t>(m_selected)] : ""; }
    void selectItemAtIndex(int index) {
        int next = (index >= 0 && index < numberOfItems()) ? index : -1;
        if (next == m_selected) return;
        m_selected = next;
        if (m_onChange) m_onChange(this);
    }
    void deselect() { selectItemAtIndex(-1); }
    void setSelectionDidChange(std::function<void(UIComboBox*)> handler) { m_onChange = std::move(handler); }

private:
    std::string m_identifier;
    std::vector<std::string> m_items;
    int m_selected = -1;
    std::function<void(UIComboBox*)> m_onChange;
};
