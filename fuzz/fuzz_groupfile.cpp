// libFuzzer target for the group file: the input is written as
// "HANDVIEW.grp" into a scratch folder that also holds an EPWING catalog of
// one subbook, read with the scratch folder as base directory, its entries'
// titles taken and opened, then saved and read again: the second reading must
// give the same entries and options.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bookreader/groups/CEBGroup.h"
#include "fuzz/FuzzScratch.h"

namespace {

FuzzScratch g_scratch("fuzz_groupfile");

// An EPWING catalog of one subbook "SUB" titled "AB" (JIS full-width).
bool makeBook(const std::string& dir) {
    uint8_t cat[2048] = {};
    cat[1] = 1;
    cat[3] = 1;
    uint8_t* r = cat + 16;
    r[1] = 1;
    const uint8_t title[] = {0x23, 0x41, 0x23, 0x42};
    memcpy(r + 2, title, sizeof title);
    memcpy(r + 82, "SUB     ", 8);
    r[95] = 1;
    mkdir((dir + "/SUB").c_str(), 0755);
    return writeScratchFile(dir + "/CATALOGS", cat, sizeof cat);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = !g_scratch.dir().empty() && makeBook(g_scratch.dir());
    if (!ready) return 0;
    const std::string dir = g_scratch.dir();
    const std::string file = dir + "/HANDVIEW.grp";
    if (!writeScratchFile(file, data, size)) return 0;

    CEBGroup group(dir.c_str());
    group.setBaseDir(dir.c_str());
    if (!group.readFile(file.c_str())) return 0;
    char title[100];
    for (int i = 0; i < group.count(); ++i) {
        group.title(i, title, sizeof title);
        GROUP_ENTRY* e;
        group.entry(i, &e);
    }
    GROUP_SEARCH_OPTIONS before;
    group.getSearchOptions(&before);
    const int count = group.count();
    group.setModified(1);
    const std::string copy = dir + "/copy.grp";
    if (!group.save(copy.c_str())) return 0;

    CEBGroup again(dir.c_str());
    again.setBaseDir(dir.c_str());
    if (!again.readFile(copy.c_str())) abort();
    GROUP_SEARCH_OPTIONS after;
    again.getSearchOptions(&after);
    if (again.count() != count || memcmp(&before, &after, sizeof before) != 0) abort();
    for (int i = 0; i < count; ++i) {
        GROUP_ENTRY *a, *b;
        group.entryPtr(i, &a);
        again.entryPtr(i, &b);
        if (strcmp(a->path, b->path) != 0 || strcmp(a->userTitle, b->userTitle) != 0 ||
            a->subbookIndex != b->subbookIndex)
            abort();
    }
    return 0;
}
