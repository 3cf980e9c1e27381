// libFuzzer target for the catalog and book text file readers: the input
// (after its first byte) is written to a scratch file and read back. The
// first byte chooses the reader (value mod 4): 0 an EPWING CATALOGS, 1 an EB
// CATALOG (with a LANGUAGE file made of the same bytes), 2 an SSEDINFO file,
// 3 a book text file whose index table is walked and whose areas' first
// blocks are read.
#include "foundation/book/CBookFile.h"
#include "foundation/book/CEBCatalog.h"
#include "fuzz/FuzzScratch.h"

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace {

const char* const kNames[] = {"CATALOGS", "CATALOG", "LANGUAGE", "BOOK.IDX", "HONMON"};

FuzzScratch g_scratch("fuzz_catalog");

const std::string& scratchDir() {
    return g_scratch.dir();
}

bool writeScratch(const char* name, const uint8_t* data, size_t size) {
    return writeScratchFile(scratchDir() + "/" + name, data, size);
}

// Touches every byte of a subbook slot the way callers do.
unsigned sumSlot(const SUBBOOK_INFO* s) {
    unsigned sum = s->recordByte0 + s->version + s->textCompression + strlen(s->title) + strlen(s->directory) +
                   strlen(s->rawTitle) + strlen(s->textFileName) + strlen(s->graphicsFileName) +
                   strlen(s->soundFileName) + static_cast<unsigned>(s->indexPage);
    for (const char* n : s->fontNames) sum += strlen(n);
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || scratchDir().empty()) return 0;
    for (const char* n : kNames) unlink((scratchDir() + "/" + n).c_str());
    const int reader = data[0] % 4;
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    volatile unsigned sink = 0;

    if (reader <= 1) {
        if (!writeScratch(reader == 0 ? "CATALOGS" : "CATALOG", body, length)) return 0;
        if (reader == 1 && !writeScratch("LANGUAGE", body, length)) return 0;
        CEBCatalog cat;
        int n = cat.readCatalog(scratchDir().c_str(), "r", reader == 0 ? 1 : 0);
        for (int i = 0; i < n; ++i) sink = sink + sumSlot(cat.subbook(i));
    } else if (reader == 2) {
        if (!writeScratch("BOOK.IDX", body, length)) return 0;
        CEBCatalog cat;
        if (cat.readSsedInfo((scratchDir() + "/BOOK.IDX").c_str(), "r") == 1) sink = sink + sumSlot(cat.subbook(0));
    } else {
        if (!writeScratch("HONMON", body, length)) return 0;
        CBookFile book;
        if (book.open(scratchDir().c_str(), "HONMON", "r", 1, 0, nullptr, 1, 1) == 0) {
            int blocks = 0;
            for (INDEX_TABLE_ITEM* e = book.firstEntry(); e && blocks < 16; e = book.nextEntry(), ++blocks) {
                sink = sink + book.readBlock(e->start)[0] + strlen(book.indexTypeName(e->id));
                sink = sink + e->info[0];
            }
            sink = sink + book.header()[4];
        }
    }
    (void)sink;
    return 0;
}
