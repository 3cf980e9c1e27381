#include "platform/UIDocumentController.h"

#include <algorithm>

UIDocumentController& UIDocumentController::sharedDocumentController() {
    static UIDocumentController controller;
    return controller;
}

void UIDocumentController::noteNewRecentDocumentURL(const std::string& path) {
    if (path.empty()) return;
    std::lock_guard<std::mutex> g(m_lock);
    m_recent.erase(std::remove(m_recent.begin(), m_recent.end(), path), m_recent.end());
    m_recent.insert(m_recent.begin(), path);
    if (m_recent.size() > kMaxRecent) m_recent.resize(kMaxRecent);
}

std::vector<std::string> UIDocumentController::recentDocumentURLs() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_recent;
}

void UIDocumentController::clearRecentDocuments() {
    std::lock_guard<std::mutex> g(m_lock);
    m_recent.clear();
}
