// The system log: one line per call. Lines go to standard error, or to the
// handler that the program (or a test) installs in place of it. Safe from any
// thread; lines are handed out one at a time, in the order they came.
#pragma once

#include <functional>
#include <string>

typedef std::function<void(const std::string& line)> UILogHandler;

// Writes one line to the system log (a line end is added).
void UILog(const std::string& line);

// Installs handler (an empty one restores standard error) and returns the
// handler it replaces.
UILogHandler UISetLogHandler(UILogHandler handler);
