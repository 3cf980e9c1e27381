// The output file of a compression or expansion: where it goes (the naming
// rules) and how it is written (under a temporary name in the output's folder,
// renamed over the output only when complete, so that a failed run leaves
// nothing behind). The book writer writes every file of a book the same way,
// under its own prefix: the rename replaces a symbolic link at the output's
// name instead of writing through it, and an existing file stays whole until
// its replacement is complete.
#pragma once

#include "foundation/FileHandle.h"

#include <sys/types.h>
#include <cstddef>
#include <string>

class CZOutputFile {
public:
    // Longest input, output folder and output path, in bytes.
    static const size_t kPathLimit = 255;
    // Temporary files are named kTempPrefix (compression) or kBookTempPrefix
    // (the book writer) + six characters.
    static const char kTempPrefix[];
    static const char kBookTempPrefix[];

    CZOutputFile() = default;
    ~CZOutputFile() { discard(); }
    CZOutputFile(const CZOutputFile&) = delete;
    CZOutputFile& operator=(const CZOutputFile&) = delete;

    // The output path for input: in outputDir, else beside the input; an
    // SSED input is named HONMON; suffix (when not null) replaces the name's
    // extension. With keepTree the input's path is kept below outputDir: for
    // an input that begins with a drive letter and a colon, all after its
    // first '/'; else its path below treeRoot (the folder it was found
    // under), or, when treeRoot is empty, its whole path. The kept path must
    // not leave outputDir through "..". 0, or a ZCOMP_ERR_* code.
    static int buildName(const std::string& input, const char* outputDir, bool keepTree, const std::string& treeRoot,
                         bool ssed, const char* suffix, std::string* out);
    // Makes the folders of an output built with keepTree. 0, or a ZCOMP_ERR_* code.
    static int makeFolders(const std::string& output);
    // The file lies in a folder named MOVIE (such files are copied).
    static bool inMovieFolder(const std::string& path);

    // The file name (without its folder) is one of these temporary names
    // (of either prefix).
    static bool isTemporaryName(const std::string& name);
    // Permission bits of a new file as the process would create it
    // (0666 less the file-mode creation mask).
    static mode_t newFileMode();
    // Removes every temporary file that is still being written, in any
    // object. Async-signal-safe: meant for a SIGINT or SIGTERM handler, so
    // that an interrupted run leaves nothing behind.
    static void removeTemporaries();

    // Creates the temporary file for output with the permission bits mode,
    // named with prefix.
    bool create(const std::string& output, mode_t mode, const char* prefix = kTempPrefix);
    // The final path of the file being written (empty when none).
    const std::string& output() const { return m_output; }
    FILE* file() const { return m_file.get(); }
    // Flushes, optionally syncs, closes and renames over the output. On
    // failure the temporary file is removed.
    bool commit(bool sync);
    // Writes size bytes of data as the whole file output (a temporary file
    // with the book writer's prefix, synced and renamed). false on failure,
    // which leaves an existing output as it was.
    static bool writeWhole(const std::string& output, const void* data, size_t size);
    // Closes and removes the temporary file (done by the destructor too).
    void discard();

private:
    FilePtr m_file;
    std::string m_temp;
    int m_slot = -1;  // registry slot of the temporary name, -1 none
    std::string m_output;
};
