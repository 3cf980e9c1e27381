// Makes the catalog able to open MDict, StarDict and SQLite user dictionaries
// as one-subbook books. Programs that open such files through CEBCatalog call
// this once at start-up.
#pragma once

void registerDictionaryReaders();
