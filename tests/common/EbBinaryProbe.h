// Reads a subbook's figures and sounds through the EB Library's binary
// reading (libeb), beside lftest::EbProbe, so that tests check the reader's
// media extraction with an independent reader: the same binary kind is set
// (monochrome graphic, colour graphic, wave) and its bytes read whole.
// Available when the tests are built with libeb.
#pragma once

#include <string>
#include <vector>

namespace lftest {

#ifdef LF_HAVE_EB

enum class EbBinaryKind { MonoGraphic, ColorGraphic, Wave };

struct EbBinary {
    bool ok = false;
    std::vector<unsigned char> bytes;
    std::string error;  // libeb's message when something failed
};

// Subbook index as in EbProbe::subbooks(). MonoGraphic takes width and
// height; Wave takes the end position.
EbBinary readEbBinary(const std::string& bookDir, int subbook, EbBinaryKind kind, int block, int offset,
                      int widthOrEndBlock = 0, int heightOrEndOffset = 0);

#endif  // LF_HAVE_EB

}  // namespace lftest
