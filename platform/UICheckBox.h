// A check box that keeps its state: off, on or mixed.
#pragma once

#include <string>

enum UIControlState { UIStateOff = 0, UIStateOn = 1, UIStateMixed = -1 };

class UICheckBox {
public:
    explicit UICheckBox(std::string title = std::string(), UIControlState state = UIStateOff)
        : m_title(std::move(title)), m_state(state) {}

    const std::string& title() const { return m_title; }
    UIControlState state() const { return m_state; }
    void setState(UIControlState state) { m_state = state; }

private:
    std::string m_title;
    UIControlState m_state;
};
