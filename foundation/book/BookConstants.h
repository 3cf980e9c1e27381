// Facts of the book format shared by every reader and writer of book files.
#pragma once

#include <cstddef>

// Book files are read and written in blocks of this many bytes, numbered from 1.
constexpr int kBlockSize = 2048;
