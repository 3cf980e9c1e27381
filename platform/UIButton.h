// A push button: a title and the action that a click runs.
#pragma once

#include <functional>
#include <string>

class UIButton {
public:
    explicit UIButton(std::string title = std::string()) : m_title(std::move(title)) {}

    const std::string& title() const { return m_title; }
    void setTitle(const std::string& title) { m_title = title; }
    void setAction(std::function<void(UIButton*)> action) { m_action = std::move(action); }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    // What a click does: runs the action when the button is enabled.
    void performClick() {
        if (m_enabled && m_action) m_action(this);
    }

private:
    std::string m_title;
    std::function<void(UIButton*)> m_action;
    bool m_enabled = true;
};
