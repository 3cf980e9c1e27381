// The application main loop: runs the calls queued for the main thread, in
// order, until terminate() is called. Any thread may queue a call.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class UIApplicationDelegate;

class UIApplication {
public:
    UIApplication();
    ~UIApplication();
    UIApplication(const UIApplication&) = delete;
    UIApplication& operator=(const UIApplication&) = delete;

    void setDelegate(UIApplicationDelegate* delegate) { m_delegate = delegate; }
    UIApplicationDelegate* delegate() const { return m_delegate; }

    // Tells the delegate that launching finishes, then runs queued calls until
    // terminate(); tells the delegate before it returns. Returns 0.
    int run();

    // Ends run() after the call that is running (and the calls queued before
    // this one). Safe from any thread.
    void terminate();

    // Queues fn for the main loop. With wait, blocks until it has run (runs it
    // at once when called on the main loop's own thread).
    void performOnMainThread(std::function<void()> fn, bool wait = false);

    // The window was closed: terminates when the delegate asks for it.
    void lastWindowClosed();

    bool isMainThread() const;

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_running;
    bool m_stop;
    std::thread::id m_mainThread;
    UIApplicationDelegate* m_delegate;
};
