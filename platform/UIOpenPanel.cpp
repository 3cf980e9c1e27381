#include "platform/UIOpenPanel.h"

#include <cstdlib>

#include "platform/UIPanelAnswers.h"

namespace {
UIPanelAnswers<UIOpenPanel>& answers() {
    static UIPanelAnswers<UIOpenPanel> a;
    return a;
}
}  // namespace

void UIOpenPanel::setAnswerSource(AnswerSource source) { answers().set(std::move(source)); }

UIModalResponse UIOpenPanel::runModal() { return answers().run(*this, &m_path); }

std::string UIOpenPanel::homeDirectory() {
    const char* home = getenv("HOME");
    return home && *home ? home : "/";
}
