// A text view that keeps a UTF-8 text and a selection (byte offsets).
// Inserting replaces the selection and leaves the insertion point after the
// new text. An observer sees every insertion; display() is the immediate redraw.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

struct UIRange {
    size_t location;
    size_t length;
};

class UITextView {
public:
    const std::string& string() const { return m_text; }
    void setString(const std::string& text);

    UIRange selectedRange() const { return m_selection; }
    void setSelectedRange(UIRange range);  // clamped to the text
    void selectAll() { setSelectedRange(UIRange{0, m_text.size()}); }

    void insertText(const std::string& text);
    void insertNewline() { insertText("\n"); }

    // Redraws at once: calls the display handler with the whole text.
    void display();
    int displayCount() const { return m_displays; }

    void setInsertObserver(std::function<void(const std::string&)> observer) { m_observer = std::move(observer); }
    void setDisplayHandler(std::function<void(const std::string&)> handler) { m_displayHandler = std::move(handler); }

private:
    std::string m_text;
    UIRange m_selection{0, 0};
    int m_displays = 0;
    std::function<void(const std::string&)> m_observer;
    std::function<void(const std::string&)> m_displayHandler;
};
