// The recent-documents list: newest first, no duplicates, at most
// kMaxRecent entries. Kept for the program's run.
#pragma once

#include <mutex>
#include <string>
#include <vector>

class UIDocumentController {
public:
    static constexpr size_t kMaxRecent = 10;
    static UIDocumentController& sharedDocumentController();

    void noteNewRecentDocumentURL(const std::string& path);
    std::vector<std::string> recentDocumentURLs() const;
    void clearRecentDocuments();

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_recent;
};
