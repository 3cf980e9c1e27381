// The application's resources: a folder of files loaded by name (for Lexforge
// the default gaiji hex fonts "hex/8x16.hex" and "hex/16x16.hex"). It is the
// folder named by the environment variable LF_RESOURCES; else the folder
// "resources" beside the program (as the build makes it); else, for an
// installed program, "../share/lexforge" from the program's folder when that
// folder is there.
#pragma once

#include <string>

class UIBundle {
public:
    static UIBundle& mainBundle();
    // The resource folder, without a final "/".
    const std::string& resourcePath() const { return m_path; }
    // The full path of a resource ("hex/8x16.hex"); empty when it is missing.
    std::string pathForResource(const std::string& name) const;
    // The resource folder of a program in exeDir (no final "/"), by the rules
    // above without the environment variable.
    static std::string resourceFolderFor(const std::string& exeDir);
    // Points the bundle elsewhere (tests).
    void setResourcePath(const std::string& path) { m_path = path; }

private:
    UIBundle();
    std::string m_path;
};
