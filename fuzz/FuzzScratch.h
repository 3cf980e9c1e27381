// The scratch folder of a fuzz target that has to hand its input to a reader
// as named files: made on first use (tried again on a later use when that
// fails) and removed at exit together with everything the target (or the
// code it drives) wrote there. It goes under /dev/shm when that can be used:
// the books written there are the same, but the writers' syncs to disk,
// which cost more than the rest of an input, cost nothing in memory.
#pragma once

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

class FuzzScratch {
public:
    // target names the folder.
    explicit FuzzScratch(const char* target) : m_target(target) {}
    ~FuzzScratch() {
        if (!m_dir.empty()) nftw(m_dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    FuzzScratch(const FuzzScratch&) = delete;
    FuzzScratch& operator=(const FuzzScratch&) = delete;

    // The folder; empty when it cannot be made.
    const std::string& dir() {
        for (const char* base : {"/dev/shm/", "/tmp/"}) {
            if (!m_dir.empty()) break;
            std::string tmpl = base + m_target + ".XXXXXX";
            if (mkdtemp(&tmpl[0])) m_dir = tmpl;
        }
        return m_dir;
    }

    // An empty folder name below the scratch folder, removed first with
    // everything in it, so that what an earlier input wrote there (a book, a
    // catalog) never reaches the next one; empty when it cannot be made.
    std::string freshFolder(const char* name) {
        if (dir().empty()) return std::string();
        std::string path = m_dir + "/" + name;
        nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
        return mkdir(path.c_str(), 0700) == 0 ? path : std::string();
    }

private:
    static int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

    std::string m_target;
    std::string m_dir;
};

// Writes size bytes of data to the file path; false on any failure.
inline bool writeScratchFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}
