// Path and file helpers.
#include "foundation/pathutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

inline bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// Copies n bytes of src into out as a zero-terminated string when it fits.
int putPart(const char* src, size_t n, char* out, size_t outSize) {
    if (!out || outSize == 0) return -1;
    if (n >= outSize) {
        out[0] = 0;
        return -1;
    }
    if (n) std::memmove(out, src, n);
    out[n] = 0;
    return static_cast<int>(n);
}

// Offset of the file-name part: after the last separator.
size_t fileNameStart(const char* path, size_t len) {
    size_t start = 0;
    for (size_t i = 0; i < len; ++i)
        if (isSeparator(path[i])) start = i + 1;
    return start;
}

// Offset of the extension's "." inside name[0..len), or len when there is none.
size_t extensionDot(const char* name, size_t len) {
    for (size_t i = len; i > 1; --i)
        if (name[i - 1] == '.') return i - 1;
    return len;  // no ".", or only one at the first character
}

bool equalsNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

// Closes a DIR* on every way out.
class DirHandle {
public:
    explicit DirHandle(const char* path) : m_dir(opendir(path)) {}
    ~DirHandle() {
        if (m_dir) closedir(m_dir);
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DIR* get() const { return m_dir; }

private:
    DIR* m_dir;
};

// Deepest recursion of the search, whatever depth a caller passes.
constexpr int kMaxDepth = 32;

// Searches dir (no trailing "/") for one of names; fills result on a match.
bool searchDir(const std::string& dir, const char* const* names, int depth, std::string& result) {
    std::string subdirs;  // kept as a list of names to visit after this level
    std::string found;
    {
        DirHandle d(dir.empty() ? "/" : dir.c_str());
        if (!d.get()) return false;
        while (struct dirent* e = readdir(d.get())) {
            if (e->d_name[0] == '.') continue;
            for (const char* const* n = names; *n; ++n) {
                if (equalsNoCase(e->d_name, *n)) {
                    std::string full = dir + "/" + e->d_name;
                    if (full.size() < kPathSize) {
                        result = full;
                        return true;
                    }
                }
            }
            if (depth > 1) {
                subdirs += e->d_name;
                subdirs += '\0';
            }
        }
    }
    for (size_t pos = 0; pos < subdirs.size();) {
        std::string name(subdirs.c_str() + pos);
        pos += name.size() + 1;
        std::string sub = dir + "/" + name;
        struct stat st;
        // lstat: a link to a directory is matched by name but never descended
        // into, so link loops cannot make the search run away.
        if (sub.size() >= kPathSize || lstat(sub.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (searchDir(sub, names, depth - 1, result)) return true;
    }
    return false;
}

const char* findInto(char* buffer, const char* dir, const char* const* names, int depth) {
    buffer[0] = 0;
    if (!dir || !names) return nullptr;
    std::string d(dir);
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    if (d == "/") d.clear();
    if (depth < 1) depth = 1;
    if (depth > kMaxDepth) depth = kMaxDepth;
    std::string result;
    if (!searchDir(d, names, depth, result)) return nullptr;
    std::memcpy(buffer, result.c_str(), result.size() + 1);
    return buffer;
}

char findFileBuffer[kPathSize];
char findAnyFileBuffer[kPathSize];

}  // namespace

int pathDirName(const char* path, char* out, size_t outSize) {
    size_t len = path ? std::strlen(path) : 0;
    size_t start = fileNameStart(path ? path : "", len);
    size_t n = start > 1 ? start - 1 : 0;
    return putPart(path, n, out, outSize);
}

int pathFileName(const char* path, char* out, size_t outSize) {
    size_t len = path ? std::strlen(path) : 0;
    size_t start = fileNameStart(path ? path : "", len);
    return putPart(path ? path + start : "", len - start, out, outSize);
}

int pathStem(const char* path, char* out, size_t outSize) {
    size_t len = path ? std::strlen(path) : 0;
    size_t start = fileNameStart(path ? path : "", len);
    const char* name = path ? path + start : "";
    return putPart(name, extensionDot(name, len - start), out, outSize);
}

std::string pathDirName(const std::string& path) {
    char buf[kPathSize];
    return pathDirName(path.c_str(), buf, sizeof buf) < 0 ? std::string() : std::string(buf);
}

std::string pathFileName(const std::string& path) {
    char buf[kPathSize];
    return pathFileName(path.c_str(), buf, sizeof buf) < 0 ? std::string() : std::string(buf);
}

std::string pathStem(const std::string& path) {
    char buf[kPathSize];
    return pathStem(path.c_str(), buf, sizeof buf) < 0 ? std::string() : std::string(buf);
}

int pathExtension(const char* path, char* out, size_t outSize) {
    size_t len = path ? std::strlen(path) : 0;
    size_t start = fileNameStart(path ? path : "", len);
    const char* name = path ? path + start : "";
    size_t nameLen = len - start;
    size_t dot = extensionDot(name, nameLen);
    if (dot == nameLen) return putPart("", 0, out, outSize);
    return putPart(name + dot + 1, nameLen - dot - 1, out, outSize);
}

int lineEndLength(const char* p) {
    if (!p) return 0;
    if (p[0] == '\r') return p[1] == '\n' ? 2 : 1;
    return p[0] == '\n' ? 1 : 0;
}

int fileExists(const char* path) {
    struct stat st;
    return path && stat(path, &st) == 0 ? 1 : 0;
}

const char* findFile(const char* dir, const char* name, int depth) {
    const char* names[2] = {name, nullptr};
    return name ? findInto(findFileBuffer, dir, names, depth) : nullptr;
}

const char* findAnyFile(const char* dir, const char* const* names, int depth) {
    return findInto(findAnyFileBuffer, dir, names, depth);
}

namespace {

bool writeAllTo(int fd, const char* data, size_t size) {
    for (size_t done = 0; done < size;) {
        ssize_t w = write(fd, data + done, size - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

// Finishes the temporary file out (written completely when ok): gives it
// the mode, syncs and closes it and renames it over dst; else removes it.
int commitTemporary(int out, const std::string& tmp, const char* dst, mode_t mode, bool ok) {
    if (ok && fchmod(out, mode) != 0) ok = false;
    if (ok && fsync(out) != 0) ok = false;
    if (close(out) != 0) ok = false;
    if (ok && rename(tmp.c_str(), dst) != 0) ok = false;
    if (!ok) unlink(tmp.c_str());
    return ok ? 0 : -1;
}

}  // namespace

int copyFile(const char* src, const char* dst) {
    if (!src || !dst || !*src || !*dst) return -1;
    // Opened without waiting, so that a FIFO (which would wait for a writer)
    // is refused at once like anything else that is not a regular file.
    int in = open(src, O_RDONLY | O_NONBLOCK);
    if (in < 0) return -1;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return -1;
    }
    int flags = fcntl(in, F_GETFL);
    if (flags < 0 || fcntl(in, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(in);
        return -1;
    }
    std::string tmp = std::string(dst) + ".XXXXXX";
    int out = mkstemp(&tmp[0]);
    if (out < 0) {
        close(in);
        return -1;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0 || !(ok = writeAllTo(out, buf, static_cast<size_t>(n)))) break;
    }
    close(in);
    return commitTemporary(out, tmp, dst, st.st_mode & 0777, ok);
}

int writeFileAtomically(const char* path, const char* data, size_t size) {
    if (!path || !*path || (!data && size > 0)) return -1;
    mode_t mode = 0644;
    struct stat st;
    if (stat(path, &st) == 0) {
        if (!S_ISREG(st.st_mode)) return -1;
        mode = st.st_mode & 07777;
    }
    std::string tmp = std::string(path) + ".XXXXXX";
    int out = mkstemp(&tmp[0]);
    if (out < 0) return -1;
    return commitTemporary(out, tmp, path, mode, writeAllTo(out, data, size));
}

int makeDirectories(const char* path) {
    if (!path || !*path) return -1;
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    for (size_t i = 1; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != '/') continue;
        std::string part = p.substr(0, i);
        struct stat st;
        if (stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return -1;
            continue;
        }
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return -1;
    }
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}
