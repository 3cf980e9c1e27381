#include "tests/common/OpenBook.h"

#include <cstdio>
#include <cstring>

#include "tests/common/BookBuilder.h"

namespace lftest {

OpenBook::OpenBook(int ebType) {
    defaults.init();
    opt = defaults.options();
    defaults.term();  // only the options are used
    opt.ebType = ebType;
    std::snprintf(opt.outPath, sizeof opt.outPath, "%s/", dir.path().c_str());
    for (int i = 0; i < IDX_COUNT; ++i) opt.idx[i] = i == IDX_COMPLEX ? 0 : 1;
    std::memset(&spec, 0, sizeof spec);
    std::strcpy(spec.dirName, "T");
    spec.bookTypeID = 0x60;
    book.setMessageCallback(captureMessage);
    reopen();
}

void OpenBook::reopen() {
    capturedMessages().clear();
    book.open(&opt, &spec);
    capturedMessages().clear();  // the book's own "Body..."
}

bool OpenBook::addSource(const std::string& name, int type) {
    std::string path = dir.file(name);
    writeFile(path, std::string("x"));
    return book.addSource(path.c_str(), nullptr, type, nullptr) == 0;
}

}  // namespace lftest
