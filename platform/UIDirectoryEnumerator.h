// Walks everything below a folder at every depth, parent before its contents,
// names of each folder in byte order, so that a walk is the same every time.
// A symbolic link is listed but never followed; folders that cannot be read
// are listed and passed over. Hands out paths relative to the root.
#pragma once

#include <string>
#include <vector>

class UIDirectoryEnumerator {
public:
    explicit UIDirectoryEnumerator(const std::string& root);

    // Next relative path ("a", "a/b", ...); false at the end.
    bool next(std::string* relativePath);
    // Folders met so far that could not be read (relative paths; "" is the
    // root itself).
    const std::vector<std::string>& unreadableFolders() const { return m_unreadable; }

private:
    void pushChildren(const std::string& relative);

    std::string m_root;
    // Paths still to hand out, the next one at the back.
    std::vector<std::string> m_pending;
    std::vector<std::string> m_unreadable;
};
