// One owner for stdio files: the file is closed when the owner goes away, so
// every early return releases it.
#pragma once

#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

// Opens a file as fopen does; null on failure.
inline FilePtr openFile(const char* path, const char* mode) { return FilePtr(std::fopen(path, mode)); }
