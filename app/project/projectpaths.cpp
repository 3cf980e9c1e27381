#include "app/project/projectpaths.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "foundation/pathutil.h"

const char kBasePathForm[] = "$(BASE)";
const char kAppPathForm[] = "$(APPPATH)";

namespace {

std::string slashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Every occurrence of from, left to right, without overlap.
void replaceAll(std::string* text, const std::string& from, const std::string& to) {
    for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
        text->replace(at, from.size(), to);
}

}  // namespace

std::string toRelPath(const std::string& path, const std::string& basePath) {
    if (basePath.empty()) return path;
    std::string result = slashes(path);
    if (startsWith(result, kBasePathForm) || startsWith(result, kAppPathForm)) return result;
    std::string base = slashes(basePath);
    if (result.compare(0, base.size(), base) != 0) return result;
    // The base folder must end where a path component ends: /a/b is not the
    // folder of /a/bc/x.
    bool boundary = result.size() == base.size() || result[base.size()] == '/' || base.back() == '/';
    if (!boundary) return result;
    return kBasePathForm + result.substr(base.size());
}

std::string toAbsPath(const std::string& path, const std::string& basePath, const std::string& appPath) {
    if (basePath.empty()) return path;
    std::string result = slashes(path);
    replaceAll(&result, kBasePathForm, basePath);
    replaceAll(&result, kAppPathForm, appPath);
    return result;
}

bool isLegacyProjectPath(const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    char extension[kPathSize];
    return pathExtension(path.c_str(), extension) >= 0 && strcasecmp(extension, "lfs") == 0;
}
