// The output file of a compression or expansion: where it goes (the naming
// rules) and how it is written (under a temporary name in the output's folder,
// renamed over the output only when complete, so that a failed run leaves
// nothing behind).
#pragma once

#include "foundation/FileHandle.h"

#include <sys/types.h>
#include <cstddef>
#include <string>

class CZOutputFile {
public:
    // Longest input, output folder and output path, in bytes.
    static const size_t kPathLimit = 255;
    // Temporary files are named kTempPrefix + six characters.
    static const char kTempPrefix[];

    CZOutputFile() = default;
    ~CZOutputFile() { discard(); }
    CZOutputFile(const CZOutputFile&) = delete;
    CZOutputFile& operator=(const CZOutputFile&) = delete;

    // The output path for input: in outputDir (with the input's path below it
    // when keepTree, which must not leave outputDir through ".."), else beside
    // the input; an SSED input is named HONMON; suffix (when not null)
    // replaces the name's extension. 0, or a ZCOMP_ERR_* code.
    static int buildName(const std::string& input, const char* outputDir, bool keepTree, bool ssed, const char* suffix,
                         std::string* out);
    // As buildName; also makes the output's folders when keepTree.
    static int prepare(const std::string& input, const char* outputDir, bool keepTree, bool ssed, const char* suffix,
                       std::string* out);
    // The file lies in a folder named MOVIE (such files are copied).
    static bool inMovieFolder(const std::string& path);

    // The file name (without its folder) is one of these temporary names.
    static bool isTemporaryName(const std::string& name);
    // Removes every temporary file that is still being written, in any
    // object. Async-signal-safe: meant for a SIGINT or SIGTERM handler, so
    // that an interrupted run leaves nothing behind.
    static void removeTemporaries();

    // Creates the temporary file for output with the permission bits mode.
    bool create(const std::string& output, mode_t mode);
    FILE* file() const { return m_file.get(); }
    // Flushes, optionally syncs, closes and renames over the output.
    bool commit(bool sync);
    // Closes and removes the temporary file (done by the destructor too).
    void discard();

private:
    FilePtr m_file;
    std::string m_temp;
    int m_slot = -1;  // registry slot of the temporary name, -1 none
    std::string m_output;
};
