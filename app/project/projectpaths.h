// The path forms of a project: "$(BASE)" stands for the project's base
// folder and "$(APPPATH)" for the application's resource folder; "\\" is
// read as a path separator, "/".
#pragma once

#include <string>

extern const char kBasePathForm[];  // "$(BASE)"
extern const char kAppPathForm[];   // "$(APPPATH)"

// The form in which a project file stores path. With an empty basePath the
// path is kept as it is. Otherwise every "\\" becomes "/", and a path that
// begins with the base folder (itself read with "/" for "\\") followed by
// "/" or by nothing gets "$(BASE)" in place of that folder; a path that is
// already in a path form ("$(BASE)..." or "$(APPPATH)...") is not touched
// again, so that storing a stored path changes nothing.
std::string toRelPath(const std::string& path, const std::string& basePath);

// The real path for a stored path. With an empty basePath the path comes
// back unchanged (no form expanded). Otherwise every "\\" becomes "/", every
// "$(BASE)" the base folder as it is, and every "$(APPPATH)" appPath.
std::string toAbsPath(const std::string& path, const std::string& basePath, const std::string& appPath);

// True when path names a key=value project file: its extension is "lfs" in
// any mix of case. Every other path is read as an XML project file.
bool isLegacyProjectPath(const std::string& path);
