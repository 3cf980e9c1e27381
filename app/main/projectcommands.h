// The editing commands of lexforge: a project made and edited from the
// command line as a user makes it in the main window. Each command opens
// the project as the system's "open file" request does, plays the user on the
// lists, the option tabs and the book, source and text field wizard dialogs,
// and saves through the Save command. A value the window refuses, a book or
// source number the lists do not have, or a file that is not there ends the
// command before the save, with one line on standard error: the project file
// is left as it was.
//
// Exit status: 0 done, 1 the project could not be saved, 2 a usage error or
// a refusal, 3 the project cannot be read.
#pragma once

#include <string>
#include <vector>

// True for the commands below: new, show, book, source, set, get, wizard.
bool isProjectCommand(const std::string& command);

// Runs one command; args[0] is the command's name.
int runProjectCommand(const std::vector<std::string>& args);

// Their part of "lexforge --help": the usage lines, and what they do.
extern const char kProjectCommandsSynopsis[];
extern const char kProjectCommandsHelp[];

// A path named on the command line, made absolute against the working
// folder; the folder of a path ("." for a bare name).
std::string absolutePath(const std::string& path);
std::string folderOf(const std::string& path);
