#include "platform/UIThread.h"

#include <condition_variable>
#include <cstdio>
#include <exception>
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
        // The count falls however the task ends, so that joinAll never waits
        // for a thread that is gone; a task's exception ends only the task
        // (said on stderr: nobody else could take it).
        struct Ended {
            ~Ended() {
                std::lock_guard<std::mutex> g(g_lock);
                --g_running;
                g_ended.notify_all();
            }
        } ended;
        try {
            fn();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "background task ended by an exception: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "background task ended by an exception\n");
        }
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
