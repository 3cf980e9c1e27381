// CComplexTemp: the temporary file that holds the complex entries of a book
// while its sources are read ("cplx<pid>XXXXXX.txt" in "/tmp/"). It is
// created exclusively (no file or link already there is written through)
// and removed by remove(), by the destructor, and so on every exit path of
// a build.
//
// One line per entry: name, key text, heading, body block, body offset,
// separated by tabs (control characters inside the texts become spaces).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class CComplexTemp {
public:
    // Longest name, key or heading kept in a line.
    static const int kMaxText = 255;

    CComplexTemp() = default;
    ~CComplexTemp() { remove(); }
    CComplexTemp(const CComplexTemp&) = delete;
    CComplexTemp& operator=(const CComplexTemp&) = delete;

    // Creates the file; false when it cannot be made.
    bool create();
    // Appends one entry; false when the file is not open or a write failed.
    bool add(const char* name, int nameLen, const char* key, int keyLen, const char* heading, int headingLen,
             uint32_t block, uint16_t offset);
    // Ends writing; false when any write failed.
    bool close();
    // Closes and deletes the file.
    void remove();

    // Reads every entry back (after close), in the order written. Returns
    // false for a line that is not an entry; entry's texts are valid during
    // the call only.
    struct Entry {
        const char* name;
        int nameLen;
        const char* key;
        int keyLen;
        const char* heading;
        int headingLen;
        uint32_t block;
        uint16_t offset;
    };
    bool load(const std::function<void(const Entry&)>& each) const;

    const std::string& path() const { return m_path; }
    bool isOpen() const { return m_file != nullptr; }
    int count() const { return m_count; }

private:
    std::string m_path;
    FILE* m_file = nullptr;
    bool m_failed = false;
    int m_count = 0;
};
