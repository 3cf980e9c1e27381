#include "platform/UIOpenPanel.h"

#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_sourceLock;
UIOpenPanel::AnswerSource g_source;
}  // namespace

void UIOpenPanel::setAnswerSource(AnswerSource source) {
    std::lock_guard<std::mutex> g(g_sourceLock);
    g_source = std::move(source);
}

UIModalResponse UIOpenPanel::runModal() {
    AnswerSource source;
    {
        std::lock_guard<std::mutex> g(g_sourceLock);
        source = g_source;
    }
    m_path.clear();
    std::string chosen;
    if (!source || !source(*this, &chosen)) return UIModalCancel;
    m_path = chosen;
    return UIModalOK;
}

std::string UIOpenPanel::homeDirectory() {
    const char* home = getenv("HOME");
    return home && *home ? home : "/";
}
