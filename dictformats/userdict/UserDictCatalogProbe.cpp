#include "dictformats/userdict/UserDictCatalogProbe.h"

#include "dictformats/userdict/CSQLIO.h"
#include "foundation/codes/jclib.h"

#include <cstring>

int userDictCatalogProbe(const char* path, char* title, size_t titleSize) {
    if (title && titleSize) title[0] = '\0';
    CSQLIO dictionary;
    if (dictionary.open(path) != 0) return -1;
    if (title && titleSize) {
        const char* t = dictionary.getBookInfo()->booktitle;
        const size_t n = utf8PrefixLength(t, std::strlen(t), titleSize - 1);
        std::memcpy(title, t, n);
        title[n] = '\0';
    }
    dictionary.close();
    return 0;
}
