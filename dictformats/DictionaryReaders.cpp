#include "dictformats/DictionaryReaders.h"

#include "dictformats/mdict/MdictCatalogProbe.h"
#include "dictformats/stardict/StarDictCatalogProbe.h"
#include "dictformats/userdict/UserDictCatalogProbe.h"
#include "foundation/book/DictionaryOpeners.h"

void registerDictionaryReaders() {
    registerDictionaryProbe(kDictionaryMdict, mdictCatalogProbe);
    registerDictionaryProbe(kDictionaryStarDict, starDictCatalogProbe);
    registerDictionaryProbe(kDictionarySqlite, userDictCatalogProbe);
}
