// One owner for stdio files: the file is closed when the owner goes away, so
// every early return releases it.
#pragma once

#include <fcntl.h>
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
// not null); null for anything else (a directory opens on some systems and
// has no size). The file is opened without blocking, so that a FIFO is
// refused at once instead of waiting for a writer.
inline FilePtr openRegularFile(const char* path, uint64_t* size = nullptr) {
    if (!path) return FilePtr();
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return FilePtr();
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return FilePtr();
    }
    FILE* f = fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return FilePtr();
    }
    if (size) *size = static_cast<uint64_t>(st.st_size);
    return FilePtr(f);
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
