// Opening a project file by its name: a key=value project file (extension
// "lfs", any case) or otherwise an XML project file.
#pragma once

#include <string>

class BookSet;

// Reads the file at path into set and tells where Save should write the
// project from now on: *definitionPath becomes path after an XML project
// file was read whole, and empty after a key=value file (which is never
// written) or after a failed read (so that a half-read project is never
// saved over the file it came from). Returns whether the read succeeded.
bool openProjectFile(BookSet* set, const std::string& path, std::string* definitionPath, std::string* error);
