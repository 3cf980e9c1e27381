// Path and file helpers: parts of a path, file tests, copying, directory
// creation and the case-insensitive file search.
//
// Paths are at most kPathSize - 1 bytes. The part helpers write a
// zero-terminated result into out, whose capacity is outSize (default
// kPathSize); a result that does not fit is not cut short: out becomes empty
// and the helper returns -1. "/" and "\\" both separate components.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t kPathSize = 256;

// The path up to, not including, its last separator; empty when it has none
// or only a leading one. Returns the output length.
int pathDirName(const char* path, char* out, size_t outSize = kPathSize);
// The part after the last separator; the whole path when it has none.
int pathFileName(const char* path, char* out, size_t outSize = kPathSize);
// The file name with its last extension (from its last ".") removed; a name
// whose only "." is its first character keeps it (".profile").
int pathStem(const char* path, char* out, size_t outSize = kPathSize);
// The text after the last "." of the file name; empty when the file name has
// no "." or its only "." is its first character. A "." in a directory part
// never counts.
int pathExtension(const char* path, char* out, size_t outSize = kPathSize);
// The same parts as strings (empty when the path is longer than kPathSize - 1).
std::string pathDirName(const std::string& path);
std::string pathFileName(const std::string& path);
std::string pathStem(const std::string& path);

// Bytes of the line end at p: 2 for CR LF, 1 for LF or CR alone, else 0.
int lineEndLength(const char* p);

// 1 when the path can be examined with stat, else 0.
int fileExists(const char* path);

// Looks in dir (a trailing "/" is ignored) for an entry whose name equals
// name without regard to ASCII case, passing over names that begin with ".".
// depth 1 (or less) looks only directly in dir; a larger depth also searches
// subdirectories that many levels down, after the entries of dir itself
// (symbolic links to directories are not descended into).
// Returns dir + "/" + the entry's own name in a static buffer that the next
// call overwrites, or null when there is none, dir cannot be opened or the
// result would not fit in kPathSize.
const char* findFile(const char* dir, const char* name, int depth);
// The same with a null-terminated list of names: the first entry, in
// directory order, equal to any name of the list matches. Its own static
// buffer.
const char* findAnyFile(const char* dir, const char* const* names, int depth);

// Copies the bytes of src, a regular file (anything else, such as a FIFO, is
// refused at once), to dst (created or replaced; permissions taken from
// src). The copy is written beside dst under a temporary name and renamed at
// the end, so a failure leaves no partial output and an existing dst intact.
// Returns 0, or -1.
int copyFile(const char* src, const char* dst);
// Writes size bytes of data as the file path, through a temporary file in
// the same folder that is synced and renamed over path, so that a failure
// leaves the old file whole and no partial one. An existing file keeps its
// mode (a new one gets 0644); a path that is not a regular file is refused.
// Returns 0, or -1.
int writeFileAtomically(const char* path, const char* data, size_t size);
// Creates every missing directory of path (like mkdir -p); a trailing
// separator is allowed. Returns 0 when path is then a directory, else -1
// (also when a component exists as a file).
int makeDirectories(const char* path);
