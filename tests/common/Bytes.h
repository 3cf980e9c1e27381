// The byte string of the tests: file contents, fixtures and expected bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace lftest {

typedef std::vector<uint8_t> Bytes;

}  // namespace lftest
