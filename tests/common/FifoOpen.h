// Checks that an opener refuses a FIFO at once rather than waiting for a
// writer, without letting a test hang when it does wait.
#pragma once

#include <functional>
#include <string>

namespace lftest {

// Makes a FIFO at path and calls open(path) on another thread. True when the
// call returned within five seconds; *result is its value either way (an
// open still waiting then is released by a writer that comes and goes).
bool opensFifoWithoutWaiting(const std::string& path, const std::function<int(const char*)>& open, int* result);

}  // namespace lftest
