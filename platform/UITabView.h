// A tab view: tab items named by identifier, one of them on view; the
// delegate hears when another tab is selected.
#pragma once

#include <functional>
#include <string>
#include <vector>

class UITabView {
public:
    void addTabItem(const std::string& identifier) {
        m_items.push_back(identifier);
        if (m_selected < 0) m_selected = 0;
    }
    int numberOfTabItems() const { return static_cast<int>(m_items.size()); }
    // The identifier of the tab on view; empty when there is none.
    std::string selectedIdentifier() const { return m_selected >= 0 ? m_items[static_cast<size_t>(m_selected)] : ""; }
    // What a click on a tab does; an unknown identifier changes nothing.
    bool selectTabItemWithIdentifier(const std::string& identifier) {
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (m_items[i] != identifier) continue;
            if (static_cast<int>(i) != m_selected) {
                m_selected = static_cast<int>(i);
                if (m_onSelect) m_onSelect(this, identifier);
            }
            return true;
        }
        return false;
    }
    void setDidSelect(std::function<void(UITabView*, const std::string&)> handler) { m_onSelect = std::move(handler); }

private:
    std::vector<std::string> m_items;
    int m_selected = -1;
    std::function<void(UITabView*, const std::string&)> m_onSelect;
};
