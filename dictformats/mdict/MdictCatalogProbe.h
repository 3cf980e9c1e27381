// The catalog's probe for this format (see foundation/book/DictionaryOpeners.h):
// opens the file with CMDictReader::openHeader, copies the title and closes it again.
#pragma once

#include <cstddef>

int mdictCatalogProbe(const char* path, char* title, size_t titleSize);
