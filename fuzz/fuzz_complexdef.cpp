// libFuzzer target for the complex-search definition reader: the input is
// written to a file and read with CEBBook::loadComplexDef. A refused file
// must be a std::runtime_error with a message; an accepted one must stay
// within the readers' limits, and its labels and titles go through the
// label conversion and the title page.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "builder/CEBBook.h"
#include "builder/complex/CComplexWriter.h"
#include "foundation/book/CBlockStream.h"
#include "fuzz/FuzzScratch.h"

namespace {

size_t countCandidates(const std::vector<COMPLEX_CANDIDATE>& list) {
    size_t n = list.size();
    for (const COMPLEX_CANDIDATE& c : list) {
        if (c.label.empty()) abort();
        n += countCandidates(c.children);
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzScratch scratch("fuzz_complexdef");
    if (scratch.dir().empty()) return 0;
    const std::string path = scratch.dir() + "/complex.def";
    if (!writeScratchFile(path, data, size)) return 0;

    CEBBook book;
    try {
        book.loadComplexDef(path.c_str());
    } catch (const std::runtime_error& e) {
        if (e.what()[0] == 0) abort();
        return 0;
    }
    const std::vector<COMPLEX_DEF>& defs = book.complexDefinitions();
    if (defs.size() > COMPLEX_MAX_SEARCHES) abort();
    for (const COMPLEX_DEF& d : defs) {
        if (d.fields.empty() || d.fields.size() > COMPLEX_MAX_FIELDS) abort();
        if (d.title.size() > COMPLEX_TITLE_BYTES) abort();
        for (const COMPLEX_FIELD& fl : d.fields) {
            if (fl.label.empty() || fl.label.size() > COMPLEX_LABEL_BYTES || fl.names.empty()) abort();
            if (countCandidates(fl.candidates) > COMPLEX_MAX_CANDIDATES) abort();
            unsigned char label[COMPLEX_LABEL_BYTES];
            CComplexWriter::putJisText(label, fl.label, COMPLEX_LABEL_BYTES);
        }
    }
    CBlockStream titles(1, 0);
    CComplexWriter::writeTitles(&titles, defs);
    if (titles.blockCount() != 1) abort();
    return 0;
}
