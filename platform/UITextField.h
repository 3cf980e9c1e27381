// A one-line text field; its text is UTF-8.
#pragma once

#include <string>

class UITextField {
public:
    const std::string& stringValue() const { return m_text; }
    void setStringValue(const std::string& text) { m_text = text; }

private:
    std::string m_text;
};
