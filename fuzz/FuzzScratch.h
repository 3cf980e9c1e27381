// The scratch folder of a fuzz target that has to hand its input to a reader
// as named files: made under /tmp on first use (tried again on a later use
// when that fails) and removed at exit together with the files the target
// writes there.
#pragma once

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

class FuzzScratch {
public:
    // target names the folder; names are the files written into it.
    FuzzScratch(const char* target, std::vector<std::string> names) : m_target(target), m_names(std::move(names)) {}
    ~FuzzScratch() {
        if (m_dir.empty()) return;
        for (const std::string& n : m_names) unlink((m_dir + "/" + n).c_str());
        rmdir(m_dir.c_str());
    }
    FuzzScratch(const FuzzScratch&) = delete;
    FuzzScratch& operator=(const FuzzScratch&) = delete;

    // The folder; empty when it cannot be made.
    const std::string& dir() {
        if (m_dir.empty()) {
            std::string tmpl = "/tmp/" + m_target + ".XXXXXX";
            if (mkdtemp(&tmpl[0])) m_dir = tmpl;
        }
        return m_dir;
    }

private:
    std::string m_target;
    std::vector<std::string> m_names;
    std::string m_dir;
};

// Writes size bytes of data to the file path; false on any failure.
inline bool writeScratchFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}
