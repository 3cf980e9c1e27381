// libFuzzer target for the tagged dictionary markup reader and everything a
// markup book goes through after it: menus, anchors and links, search
// indexes and the copyright page. The first byte chooses the options (bit 0
// EB instead of EPWING, bit 1 DT headings off, bit 2 a menu item per
// source, bit 3 single-line entries, bit 4 ruby off, bit 5 the file is the
// copyright page too); the rest is the markup, read as two sources (a.html
// and b.html) so that links cross sources. A whole book with every word,
// kana, keyword and cross index and the menu is built from it.
#include <cstdint>
#include <string>

#include "builder/CEPWing.h"
#include "fuzz/FuzzBookFlags.h"
#include "fuzz/FuzzScratch.h"

namespace {

void quiet(const char*) {}

// The scratch folder holds the sources and the books built from them
// (gaiji font files included, whose names vary); it goes away at exit.
FuzzScratch g_scratch("fuzz_markup");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string& dir = g_scratch.dir();
    if (dir.empty()) return 0;
    const std::string a = dir + "/a.html";
    const std::string b = dir + "/b.html";
    if (!writeScratchFile(a, data + 1, size - 1) || !writeScratchFile(b, data + 1, size - 1)) return 0;

    const unsigned flags = data[0];
    CEPWing w;
    w.init();
    w.setMessageCallback(quiet);
    w.setBoolOption("DTTagIndex", (flags & 2) == 0);
    w.setBoolOption("topMenu", (flags & 4) != 0);
    w.setBoolOption("singleLine", (flags & 8) != 0);
    w.setBoolOption("ruby", (flags & 16) == 0);
    // Each input builds into an empty folder: no book or catalog of the
    // input before reaches it.
    const std::string out = g_scratch.freshFolder("out");
    if (out.empty()) return 0;
    w.setOutput((out + "/").c_str(), (flags & 1) ? 0 : 1);
    // Every index but complex search (0xDF), and the menu.
    if (w.newBook("F", "BOOK", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0xDF, false, 0, 0) == 0 &&
        w.addSource(a.c_str(), nullptr, 0, nullptr) == 0 && w.addSource(b.c_str(), "B", 1, nullptr) == 0) {
        if (flags & 32) w.setCopyright(a.c_str());
        w.makeBook();
    }
    w.closeCatalog();
    w.term();
    return 0;
}
