// Reads a subbook's copyright page through the EB Library (libeb), beside
// lftest::EbProbe, so that tests check our copyright area with an
// independent reader. Available when the tests are built with libeb.
#pragma once

#include <string>
#include <vector>

namespace lftest {

#ifdef LF_HAVE_EB

struct EbCopyright {
    bool found = false;  // libeb reports a copyright page
    int block = 0;       // its position
    int offset = 0;
    std::vector<unsigned char> raw;  // up to maxBytes raw text bytes from there
    std::string error;               // libeb's message when something failed
};

// Subbook index as in EbProbe::subbooks().
EbCopyright readEbCopyright(const std::string& bookDir, int subbook, size_t maxBytes = 256);

#endif  // LF_HAVE_EB

}  // namespace lftest
