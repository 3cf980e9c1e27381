#include "platform/UITextView.h"

void UITextView::setString(const std::string& text) {
    m_text = text;
    m_selection = UIRange{m_text.size(), 0};
}

void UITextView::setSelectedRange(UIRange range) {
    if (range.location > m_text.size()) range.location = m_text.size();
    if (range.length > m_text.size() - range.location) range.length = m_text.size() - range.location;
    m_selection = range;
}

void UITextView::insertText(const std::string& text) {
    m_text.replace(m_selection.location, m_selection.length, text);
    m_selection = UIRange{m_selection.location + text.size(), 0};
    if (m_observer) m_observer(text);
}

void UITextView::display() {
    ++m_displays;
    if (m_displayHandler) m_displayHandler(m_text);
}
