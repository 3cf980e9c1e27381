#include "platform/UIThread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
std::mutex g_lock;
std::condition_variable g_ended;
int g_running = 0;
}  // namespace

void UIThread::detachNewThread(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> g(g_lock);
        ++g_running;
    }
    std::thread([fn = std::move(fn)]() {
        fn();
        std::lock_guard<std::mutex> g(g_lock);
        --g_running;
        g_ended.notify_all();
    }).detach();
}

void UIThread::joinAll() {
    std::unique_lock<std::mutex> g(g_lock);
    g_ended.wait(g, [] { return g_running == 0; });
}

int UIThread::runningCount() {
    std::lock_guard<std::mutex> g(g_lock);
    return g_running;
}
