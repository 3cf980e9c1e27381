// What open and save panels share: the answer source that the front end
// installs (any thread may install it) and the modal run that asks it.
#pragma once

#include <mutex>
#include <string>
#include <utility>

#include "platform/UIOpenPanel.h"

template <typename Panel>
class UIPanelAnswers {
public:
    typedef typename Panel::AnswerSource Source;

    void set(Source source) {
        std::lock_guard<std::mutex> g(m_lock);
        m_source = std::move(source);
    }

    // Asks the source for a path: OK with *path filled, or Cancel (no
    // source, or the user cancelled) with *path empty.
    UIModalResponse run(const Panel& panel, std::string* path) {
        Source source;
        {
            std::lock_guard<std::mutex> g(m_lock);
            source = m_source;
        }
        path->clear();
        std::string chosen;
        if (!source || !source(panel, &chosen)) return UIModalCancel;
        *path = chosen;
        return UIModalOK;
    }

private:
    std::mutex m_lock;
    Source m_source;
};
