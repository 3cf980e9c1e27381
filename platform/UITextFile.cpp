#include "platform/UITextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/pathutil.h"

namespace {

// Closes a file descriptor on every return.
struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

bool failErrno(std::string* error, const char* what, const std::string& path) {
    return fail(error, std::string(what) + " " + path + ": " + std::strerror(errno));
}

// A path that the C calls would cut short at an embedded zero names another file.
bool badPath(const std::string& path, std::string* error) {
    if (path.empty()) return !fail(error, "no file name given");
    if (path.find('\0') != std::string::npos) return !fail(error, "the file name holds a zero byte");
    return false;
}

}  // namespace

bool UIWriteTextFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    if (badPath(path, error)) return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return fail(error, "can't write " + path + ": not a regular file");
    if (writeFileAtomically(path.c_str(), text.data(), text.size()) != 0) return failErrno(error, "can't write", path);
    return true;
}

bool UIReadFileBytes(const std::string& path, std::string* bytes, std::string* error) {
    bytes->clear();
    if (badPath(path, error)) return false;
    FdCloser in{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (in.fd < 0) return failErrno(error, "can't open", path);
    struct stat st;
    if (fstat(in.fd, &st) != 0) return failErrno(error, "can't read", path);
    if (!S_ISREG(st.st_mode)) return fail(error, "can't read " + path + ": not a regular file");
    if (static_cast<unsigned long long>(st.st_size) > kUITextFileMaxBytes)
        return fail(error, "can't read " + path + ": larger than " + std::to_string(kUITextFileMaxBytes) + " bytes");
    bytes->reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = read(in.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            bytes->clear();
            errno = saved;
            return failErrno(error, "can't read", path);
        }
        if (n == 0) break;
        // The file may have grown since fstat.
        if (bytes->size() + static_cast<size_t>(n) > kUITextFileMaxBytes) {
            bytes->clear();
            return fail(error,
                        "can't read " + path + ": larger than " + std::to_string(kUITextFileMaxBytes) + " bytes");
        }
        bytes->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool UIReadTextFile(const std::string& path, UICharDecoder decoder, std::string* text, std::string* error) {
    text->clear();
    std::string bytes;
    if (!UIReadFileBytes(path, &bytes, error)) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t left = bytes.size();
    text->reserve(left);
    while (left > 0) {
        size_t used = decoder(p, left, text);
        if (used == 0 || used > left) {
            size_t offset = bytes.size() - left;
            text->clear();
            return fail(error, "can't decode " + path + ": no valid character at byte " + std::to_string(offset));
        }
        p += used;
        left -= used;
    }
    return true;
}
