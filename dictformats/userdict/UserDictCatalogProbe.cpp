#include "dictformats/userdict/UserDictCatalogProbe.h"

// Not readable yet: the catalog refuses the file.
int userDictCatalogProbe(const char* /*path*/, char* title, size_t titleSize) {
    if (title && titleSize) title[0] = '\0';
    return -1;
}
