// libFuzzer target for the two project file readers. The first byte chooses
// the file (bit 0: 0 an XML project file ".lfx", 1 a key=value project file
// ".lfs"); the rest is the file, opened by its name as the main window opens
// one. Whatever was read, partly or whole, is then saved: a save either
// refuses a value or writes a file that reads back whole, and from then on
// saving and reading again gives the same bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/project/BookSet.h"
#include "app/project/openproject.h"
#include "app/project/xmlprojectfile.h"
#include "fuzz/FuzzScratch.h"
#include "platform/UILog.h"

namespace {

FuzzScratch g_scratch("fuzz_project");

void fault(const char* what) {
    std::fprintf(stderr, "fuzz_project: %s\n", what);
    std::abort();
}

// Saves the project, reads it back and returns the saved text; empty when
// the save refused a value.
std::string saveAndRead(BookSet* set, const std::string& path) {
    std::string text, error;
    if (!makeXMLProject(*set, &text, &error)) return std::string();
    if (!set->saveXMLFile(path, &error)) fault("a project that makes a text could not be written");
    if (!set->loadXMLFile(path, &error)) fault("a saved project did not read back");
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = g_scratch.dir();
    if (size < 1 || dir.empty()) return 0;
    static bool quiet = (UISetLogHandler([](const std::string&) {}), true);
    (void)quiet;

    const bool legacy = data[0] & 1;
    const std::string path = dir + (legacy ? "/p.lfs" : "/p.lfx");
    if (!writeScratchFile(path, data + 1, size - 1)) return 0;

    BookSet* set = BookSet::sharedBookSet();
    set->clear();
    set->setEbType(1);
    std::string definitionPath, error;
    openProjectFile(set, path, &definitionPath, &error);
    unlink(path.c_str());

    const std::string saved = dir + "/saved.lfx";
    std::string first = saveAndRead(set, saved);
    if (!first.empty()) {
        // Empty values read back as their initial values, so the first save
        // may differ from the second; the second and third must not.
        std::string second = saveAndRead(set, saved);
        std::string third = saveAndRead(set, saved);
        if (second != third) fault("saving a read project again changed the file");
    }
    unlink(saved.c_str());
    return 0;
}
