#include "app/project/openproject.h"

#include "app/project/BookSet.h"
#include "app/project/projectpaths.h"

bool openProjectFile(BookSet* set, const std::string& path, std::string* definitionPath, std::string* error) {
    bool legacy = isLegacyProjectPath(path);
    bool ok = legacy ? set->loadLFSFile(path, error) : set->loadXMLFile(path, error);
    *definitionPath = ok && !legacy ? path : std::string();
    return ok;
}
