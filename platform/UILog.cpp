#include "platform/UILog.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {

std::mutex& logLock() {
    static std::mutex lock;
    return lock;
}

UILogHandler& logHandler() {
    static UILogHandler handler;
    return handler;
}

}  // namespace

void UILog(const std::string& line) {
    std::lock_guard<std::mutex> g(logLock());
    if (logHandler()) {
        logHandler()(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

UILogHandler UISetLogHandler(UILogHandler handler) {
    std::lock_guard<std::mutex> g(logLock());
    UILogHandler old = std::move(logHandler());
    logHandler() = std::move(handler);
    return old;
}
