#include "platform/UISavePanel.h"

#include "platform/UIPanelAnswers.h"

namespace {
UIPanelAnswers<UISavePanel>& answers() {
    static UIPanelAnswers<UISavePanel> a;
    return a;
}
}  // namespace

void UISavePanel::setAnswerSource(AnswerSource source) { answers().set(std::move(source)); }

UIModalResponse UISavePanel::runModal() { return answers().run(*this, &m_path); }
