// A modal save panel. As with the open panel, the answer comes from the
// answer source that the front end installs; without one it is cancelled.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/UIOpenPanel.h"

class UISavePanel {
public:
    // Fills *path and returns true for OK, false for Cancel.
    typedef std::function<bool(const UISavePanel& panel, std::string* path)> AnswerSource;
    static void setAnswerSource(AnswerSource source);

    const std::vector<std::string>& allowedFileTypes() const { return m_types; }
    void setAllowedFileTypes(const std::vector<std::string>& types) { m_types = types; }
    const std::string& nameFieldStringValue() const { return m_name; }
    void setNameFieldStringValue(const std::string& name) { m_name = name; }

    UIModalResponse runModal();
    // The chosen path after OK.
    const std::string& path() const { return m_path; }

private:
    std::vector<std::string> m_types;
    std::string m_name;
    std::string m_path;
};
