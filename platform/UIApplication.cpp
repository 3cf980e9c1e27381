#include "platform/UIApplication.h"

#include "platform/UIApplicationDelegate.h"

UIApplication::UIApplication()
    : m_running(false), m_stop(false), m_mainThread(std::this_thread::get_id()), m_delegate(nullptr) {}

UIApplication::~UIApplication() = default;

bool UIApplication::isMainThread() const {
    return std::this_thread::get_id() == m_mainThread;
}

int UIApplication::run() {
    m_mainThread = std::this_thread::get_id();
    if (m_delegate) m_delegate->applicationWillFinishLaunching(this);
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_running = true;
    }
    for (;;) {
        std::function<void()> fn;
        {
            std::unique_lock<std::mutex> g(m_lock);
            m_wake.wait(g, [this] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty()) break;
            fn = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (fn) fn();
    }
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_running = false;
        m_stop = false;
    }
    if (m_delegate) m_delegate->applicationWillTerminate(this);
    return 0;
}

void UIApplication::terminate() {
    // Queued as a call so that everything queued before it still runs.
    std::lock_guard<std::mutex> g(m_lock);
    m_queue.push_back([this] {
        std::lock_guard<std::mutex> g2(m_lock);
        m_stop = true;
        m_queue.clear();
    });
    m_wake.notify_all();
}

void UIApplication::performOnMainThread(std::function<void()> fn, bool wait) {
    if (wait && isMainThread()) {
        if (fn) fn();
        return;
    }
    if (!wait) {
        std::lock_guard<std::mutex> g(m_lock);
        m_queue.push_back(std::move(fn));
        m_wake.notify_all();
        return;
    }
    std::mutex doneLock;
    std::condition_variable doneWake;
    bool done = false;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_queue.push_back([&] {
            if (fn) fn();
            std::lock_guard<std::mutex> d(doneLock);
            done = true;
            doneWake.notify_all();
        });
        m_wake.notify_all();
    }
    std::unique_lock<std::mutex> d(doneLock);
    doneWake.wait(d, [&] { return done; });
}

void UIApplication::lastWindowClosed() {
    if (m_delegate && m_delegate->applicationShouldTerminateAfterLastWindowClosed(this)) terminate();
}
