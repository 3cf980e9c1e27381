// A modal open panel. There is no screen here: the answer comes from the
// answer source that the front end installs (the user's choice), and without
// one every panel is cancelled.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum UIModalResponse { UIModalCancel = 0, UIModalOK = 1 };

class UIOpenPanel {
public:
    // Fills *path and returns true for OK, false for Cancel.
    typedef std::function<bool(const UIOpenPanel& panel, std::string* path)> AnswerSource;
    static void setAnswerSource(AnswerSource source);

    bool canChooseFiles() const { return m_files; }
    void setCanChooseFiles(bool yes) { m_files = yes; }
    bool canChooseDirectories() const { return m_directories; }
    void setCanChooseDirectories(bool yes) { m_directories = yes; }
    // Empty: any file type.
    const std::vector<std::string>& allowedFileTypes() const { return m_types; }
    void setAllowedFileTypes(const std::vector<std::string>& types) { m_types = types; }
    const std::string& directory() const { return m_directory; }
    void setDirectory(const std::string& directory) { m_directory = directory; }

    UIModalResponse runModal();
    // The chosen path after OK (absolute, as a panel gives it).
    const std::string& path() const { return m_path; }

    // The user's home folder ($HOME, else "/").
    static std::string homeDirectory();

private:
    bool m_files = true;
    bool m_directories = false;
    std::vector<std::string> m_types;
    std::string m_directory;
    std::string m_path;
};
