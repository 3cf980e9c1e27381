#include "dictformats/mdict/MdictCatalogProbe.h"

#include <cstdio>

#include "dictformats/mdict/CMDictReader.h"

int mdictCatalogProbe(const char* path, char* title, size_t titleSize) {
    if (title && titleSize) title[0] = '\0';
    CMDictReader reader;
    if (!reader.openHeader(path)) return -1;
    if (title && titleSize) std::snprintf(title, titleSize, "%s", reader.title().c_str());
    reader.close();
    return 0;
}
