// A fresh temporary directory for one test, removed with everything in it
// when the object goes away.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/common/Bytes.h"

namespace lftest {

class TestDir {
public:
    TestDir();
    ~TestDir();
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string m_path;
};

// Whole-file helpers for fixtures.
bool writeFile(const std::string& path, const Bytes& bytes);
bool writeFile(const std::string& path, const std::string& bytes);
Bytes readFile(const std::string& path);
// Names in a folder (without "." and ".."), sorted, to see that nothing
// stray is left; empty when it cannot be read.
std::vector<std::string> listDir(const std::string& dir);
// Every regular file under dir (folders searched all the way down, links
// not followed), by its path relative to dir.
std::map<std::string, Bytes> readTree(const std::string& dir);
// UTF-16LE text with the mark FF FE, from ASCII text.
std::string utf16(const std::string& ascii);
// The same from UTF-8 text.
std::string utf16Text(const std::string& utf8);
// Shift_JIS text from UTF-8 text (characters Shift_JIS lacks as the library
// converts them).
std::string sjisText(const std::string& utf8);

// A word quoted for the shell.
std::string shellQuote(const std::string& s);

// Runs a shell command, returns its exit status and fills out with what it printed.
int runCommand(const std::string& command, std::string* out = nullptr);

// Directory of the built programs (build/bin).
std::string binDir();
// The bundled sample project's folder (examples/sample).
std::string sampleDir();

}  // namespace lftest
