// Starting work on a background thread, as the window layer starts a build.
// Threads are detached from their starter but remembered, so that a front end
// can wait for all of them before it exits.
#pragma once

#include <functional>

class UIThread {
public:
    // Runs fn on a new thread; an exception fn throws ends only its task.
    static void detachNewThread(std::function<void()> fn);
    // Waits until every thread started so far has ended.
    static void joinAll();
    // Threads started and not yet ended.
    static int runningCount();
};
