#include "dictformats/stardict/StarDictCatalogProbe.h"

#include <cstring>

#include "dictformats/stardict/CStarDictReader.h"
#include "foundation/codes/jclib.h"

int starDictCatalogProbe(const char* path, char* title, size_t titleSize) {
    if (title && titleSize) title[0] = '\0';
    CStarDictReader reader;
    if (!reader.openIfo(path)) return -1;
    if (title && titleSize) {
        const char* name = reader.getHeader()->bookname;
        size_t n = utf8PrefixLength(name, std::strlen(name), titleSize - 1);
        std::memcpy(title, name, n);
        title[n] = '\0';
    }
    reader.close();
    return 0;
}
