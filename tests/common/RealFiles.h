// Real files that scripts/setup.sh installs for the whole-file checks (Debian
// word lists and dictionaries). A test that needs one skips with a clear
// message when it is missing, except in CI (CI=true), where that fails.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#define LF_REQUIRE_REAL_FILE(path)                                                     \
    do {                                                                               \
        if (access((path), R_OK) != 0) {                                               \
            if (std::getenv("CI")) FAIL() << (path) << " is missing: run scripts/setup.sh"; \
            GTEST_SKIP() << (path) << " is missing: run scripts/setup.sh";             \
        }                                                                              \
    } while (0)

namespace lftest {

// Debian's American English word list (package wamerican).
extern const char kWordList[];
// Debian wamerican-huge: about 348,000 words, mixed case, with apostrophes.
extern const char kHugeWordList[];
// Every step-th line of the word list that is not empty, in the list's order.
std::vector<std::string> wordListSample(size_t step);

}  // namespace lftest
