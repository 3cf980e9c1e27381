// The catalog's probe for this format (see foundation/book/DictionaryOpeners.h):
// opens the file with CStarDictReader::openIfo, copies the title and closes it again.
#pragma once

#include <cstddef>

int starDictCatalogProbe(const char* path, char* title, size_t titleSize);
