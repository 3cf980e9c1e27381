// A slider with a range; setting a value outside the range clamps it, as a
// user dragging the knob could not go further.
#pragma once

#include <cmath>

class UISlider {
public:
    UISlider(double minValue = 0, double maxValue = 1, double value = 0)
        : m_min(minValue), m_max(maxValue), m_value(value) {
        clamp();
    }

    double minValue() const { return m_min; }
    double maxValue() const { return m_max; }
    void setRange(double minValue, double maxValue) {
        m_min = minValue;
        m_max = maxValue;
        clamp();
    }
    double doubleValue() const { return m_value; }
    int intValue() const { return static_cast<int>(std::lround(m_value)); }
    void setDoubleValue(double value) {
        m_value = value;
        clamp();
    }
    void setIntValue(int value) { setDoubleValue(value); }

private:
    void clamp() {
        if (m_value < m_min) m_value = m_min;
        if (m_value > m_max) m_value = m_max;
    }
    double m_min, m_max, m_value;
};
