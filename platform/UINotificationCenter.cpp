#include "platform/UINotificationCenter.h"

#include <algorithm>

UINotificationCenter& UINotificationCenter::defaultCenter() {
    static UINotificationCenter center;
    return center;
}

void UINotificationCenter::addObserver(const void* observer, const std::string& name, const void* object,
                                       Handler handler) {
    std::lock_guard<std::mutex> g(m_lock);
    m_registrations.push_back({observer, name, object, std::move(handler)});
}

void UINotificationCenter::removeObserver(const void* observer) {
    std::lock_guard<std::mutex> g(m_lock);
    m_registrations.erase(std::remove_if(m_registrations.begin(), m_registrations.end(),
                                         [observer](const Registration& r) { return r.observer == observer; }),
                          m_registrations.end());
}

void UINotificationCenter::post(const std::string& name, const void* object,
                                const std::map<std::string, std::string>& userInfo) {
    // The handlers run outside the lock, so that they may post or register.
    std::vector<Handler> handlers;
    {
        std::lock_guard<std::mutex> g(m_lock);
        for (const Registration& r : m_registrations)
            if (r.name == name && (r.object == nullptr || r.object == object)) handlers.push_back(r.handler);
    }
    UINotification n;
    n.name = name;
    n.object = object;
    n.userInfo = userInfo;
    for (const Handler& h : handlers) h(n);
}

int UINotificationCenter::observerCount(const std::string& name) const {
    std::lock_guard<std::mutex> g(m_lock);
    return static_cast<int>(std::count_if(m_registrations.begin(), m_registrations.end(),
                                          [&name](const Registration& r) { return r.name == name; }));
}
