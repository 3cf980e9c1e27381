// The application's resources: a folder of files loaded by name (for Lexforge
// the default gaiji hex fonts "hex/8x16.hex" and "hex/16x16.hex"). It is the
// folder "resources" beside the program, or the folder named by the
// environment variable LF_RESOURCES.
#pragma once

#include <string>

class UIBundle {
public:
    static UIBundle& mainBundle();
    // The resource folder, without a final "/".
    const std::string& resourcePath() const { return m_path; }
    // The full path of a resource ("hex/8x16.hex"); empty when it is missing.
    std::string pathForResource(const std::string& name) const;
    // Points the bundle elsewhere (tests).
    void setResourcePath(const std::string& path) { m_path = path; }

private:
    UIBundle();
    std::string m_path;
};
