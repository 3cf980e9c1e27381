#include "tests/common/TestDir.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/codes/jclib.h"

namespace lftest {

namespace {

void removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
                removeTree(path + "/" + e->d_name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace

TestDir::TestDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/lftest.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) m_path = buf.data();
}

TestDir::~TestDir() {
    if (!m_path.empty() && !getenv("LF_KEEP_TEST_DIRS")) removeTree(m_path);
}

std::string TestDir::file(const std::string& name) const {
    return m_path + "/" + name;
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, Bytes> readTree(const std::string& dir) {
    std::map<std::string, Bytes> files;
    std::vector<std::string> folders = {""};
    while (!folders.empty()) {
        std::string rel = folders.back();
        folders.pop_back();
        for (const std::string& name : listDir(dir + (rel.empty() ? "" : "/" + rel))) {
            std::string path = rel.empty() ? name : rel + "/" + name;
            struct stat st;
            if (lstat((dir + "/" + path).c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode))
                folders.push_back(path);
            else if (S_ISREG(st.st_mode))
                files[path] = readFile(dir + "/" + path);
        }
    }
    return files;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    return writeFile(path, Bytes(bytes.begin(), bytes.end()));
}

std::string utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string utf16Text(const std::string& utf8) {
    std::vector<uint16_t> units(utf8.size() + 1);
    const int n = jclib::utf8ToUtf16(utf8.data(), static_cast<int>(utf8.size()), units.data());
    std::string out = "\xFF\xFE";
    out.reserve(2 + 2 * static_cast<size_t>(n < 0 ? 0 : n));
    for (int i = 0; i < n; ++i) {
        out += static_cast<char>(units[static_cast<size_t>(i)] & 0xFF);
        out += static_cast<char>(units[static_cast<size_t>(i)] >> 8);
    }
    return out;
}

std::string sjisText(const std::string& utf8) {
    std::vector<unsigned char> out(utf8.size() * 2 + 4);
    const int n = utf8ToSjis(utf8.data(), static_cast<int>(utf8.size()), out.data(), out.size());
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n < 0 ? 0 : n));
}

Bytes readFile(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

int runCommand(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    std::string text;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string binDir() {
    const char* d = getenv("LF_BIN_DIR");
    if (d && *d) return d;
    return std::string(LF_BINARY_DIR) + "/bin";
}

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string sampleDir() {
    return std::string(LF_SOURCE_DIR) + "/examples/sample";
}

}  // namespace lftest
