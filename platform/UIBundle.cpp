#include "platform/UIBundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

UIBundle& UIBundle::mainBundle() {
    static UIBundle bundle;
    return bundle;
}

UIBundle::UIBundle() {
    const char* env = std::getenv("LF_RESOURCES");
    if (env && *env) {
        m_path = env;
    } else {
        std::vector<char> exe(4096);
        ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
        std::string self = n > 0 ? std::string(exe.data(), static_cast<size_t>(n)) : std::string();
        size_t slash = self.rfind('/');
        m_path = resourceFolderFor(slash == std::string::npos ? std::string(".") : self.substr(0, slash));
    }
    while (m_path.size() > 1 && m_path.back() == '/') m_path.pop_back();
}

namespace {

bool isFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string UIBundle::resourceFolderFor(const std::string& exeDir) {
    const std::string beside = exeDir + "/resources";
#ifdef LF_INSTALLED_RESOURCES
    // Each leading ".." takes the last folder off exeDir.
    std::string dir = exeDir, rel = LF_INSTALLED_RESOURCES;
    while (rel.compare(0, 3, "../") == 0 && dir.rfind('/') != std::string::npos && dir.rfind('/') > 0) {
        dir.erase(dir.rfind('/'));
        rel.erase(0, 3);
    }
    const std::string installed = dir + "/" + rel;
    if (!isFolder(beside) && isFolder(installed)) return installed;
#endif
    return beside;
}

std::string UIBundle::pathForResource(const std::string& name) const {
    std::string path = m_path + "/" + name;
    struct stat st;
    return (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ? path : std::string();
}
