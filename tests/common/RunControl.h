// Running code and programs under conditions a test sets: a file-size limit
// that makes writes fail, and an interrupt sent at a point of a program's
// output.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace lftest {

// Runs fn while this process may not make files larger than bytes (writes
// past it fail with EFBIG instead of raising SIGXFSZ); the limit is lifted
// again afterwards.
void withFileSizeLimit(size_t bytes, const std::function<void()>& fn);

// Runs the program argv[0] with arguments argv[1..], its standard output
// read into *out as it comes; SIGINT is sent to it once, the first time
// interruptWhen(*out) is true. *sent tells whether it was. Returns the exit
// status, or -1 when the program did not exit normally.
int runAndInterrupt(const std::vector<std::string>& argv, const std::function<bool(const std::string&)>& interruptWhen,
                    std::string* out, bool* sent);

}  // namespace lftest
