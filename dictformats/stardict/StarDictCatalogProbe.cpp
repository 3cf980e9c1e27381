#include "dictformats/stardict/StarDictCatalogProbe.h"

// Not readable yet: the catalog refuses the file.
int starDictCatalogProbe(const char* /*path*/, char* title, size_t titleSize) {
    if (title && titleSize) title[0] = '\0';
    return -1;
}
