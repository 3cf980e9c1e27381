#include "platform/UIDirectoryEnumerator.h"

#include <dirent.h>
#include <sys/stat.h>
#include <algorithm>
#include <cstring>

namespace {

// Closes a directory stream on every return.
struct DirCloser {
    DIR* d;
    ~DirCloser() {
        if (d) closedir(d);
    }
};

}  // namespace

UIDirectoryEnumerator::UIDirectoryEnumerator(const std::string& root) : m_root(root) {
    while (m_root.size() > 1 && m_root.back() == '/') m_root.pop_back();
    pushChildren(std::string());
}

void UIDirectoryEnumerator::pushChildren(const std::string& relative) {
    std::string dir = relative.empty() ? m_root : m_root + "/" + relative;
    DirCloser d{opendir(dir.c_str())};
    if (!d.d) {
        m_unreadable.push_back(relative);
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d.d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        names.push_back(e->d_name);
    }
    std::sort(names.begin(), names.end());
    // Pushed in reverse so that the smallest name comes out first.
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        m_pending.push_back(relative.empty() ? *it : relative + "/" + *it);
}

bool UIDirectoryEnumerator::next(std::string* relativePath) {
    if (m_pending.empty()) return false;
    std::string path = m_pending.back();
    m_pending.pop_back();
    struct stat st;
    if (lstat((m_root + "/" + path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) pushChildren(path);
    if (relativePath) *relativePath = path;
    return true;
}
