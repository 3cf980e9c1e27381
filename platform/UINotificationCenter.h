// The default notification center: observers register a handler for a name
// (and optionally one posting object); post calls the matching handlers
// synchronously, on the posting thread, in the order they registered.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct UINotification {
    std::string name;
    const void* object = nullptr;                 // the poster, or null
    std::map<std::string, std::string> userInfo;  // empty when none
};

class UINotificationCenter {
public:
    typedef std::function<void(const UINotification&)> Handler;

    static UINotificationCenter& defaultCenter();

    // object null: notifications of that name from any poster.
    void addObserver(const void* observer, const std::string& name, const void* object, Handler handler);
    // Removes every registration of the observer.
    void removeObserver(const void* observer);
    void post(const std::string& name, const void* object = nullptr,
              const std::map<std::string, std::string>& userInfo = {});
    // Registrations of a name (for tests and diagnostics).
    int observerCount(const std::string& name) const;

private:
    struct Registration {
        const void* observer;
        std::string name;
        const void* object;
        Handler handler;
    };
    mutable std::mutex m_lock;
    std::vector<Registration> m_registrations;
};
