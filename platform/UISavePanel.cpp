#include "platform/UISavePanel.h"

#include <mutex>

namespace {
std::mutex g_sourceLock;
UISavePanel::AnswerSource g_source;
}  // namespace

void UISavePanel::setAnswerSource(AnswerSource source) {
    std::lock_guard<std::mutex> g(g_sourceLock);
    g_source = std::move(source);
}

UIModalResponse UISavePanel::runModal() {
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
