// One owner for stdio files: the file is closed when the owner goes away, so
// every early return releases it.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

// Opens a file as fopen does; null on failure.
inline FilePtr openFile(const char* path, const char* mode) {
    return FilePtr(std::fopen(path, mode));
}

// Opens a regular file for reading ("rb") and gives its size (when size is
// not null); null when it does not open or is no regular file (a directory
// opens on some systems and has no size).
inline FilePtr openRegularFile(const char* path, uint64_t* size) {
    FilePtr f(path != nullptr ? std::fopen(path, "rb") : nullptr);
    struct stat st;
    if (!f || fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return FilePtr();
    if (size != nullptr) *size = static_cast<uint64_t>(st.st_size);
    return f;
}

// Reads exactly n bytes at offset of a descriptor (without moving its file
// position); false on an error or when the file ends first.
inline bool readFullyAt(int fd, void* buffer, size_t n, uint64_t offset) {
    unsigned char* p = static_cast<unsigned char*>(buffer);
    while (n > 0) {
        ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}
