// Fixtures for the stored-book block reader: book text images and EBZip
// files made by the EB Library's ebzip tool (used as an independent writer).
#pragma once

#include <string>
#include <vector>

#include "tests/common/Bytes.h"

namespace lftest {

// A book text file image of `size` bytes (at least 2048) that ebzip accepts:
// block 1 is an index table with one text area from block 2; the rest mixes
// runs of random bytes (which ebzip stores raw) with repeated text (which it
// deflates). The same seed gives the same bytes.
Bytes makeBookText(size_t size, unsigned seed);

// Writes `data` as TEST/DATA/HONMON of a one-subbook EPWING book under `dir`
// and compresses it with ebzip at `level` into dir/out. Returns the path of
// the HONMON.ebz written, or "" when ebzip is missing or fails.
std::string ebzipWithTool(const std::string& dir, const Bytes& data, int level);

}  // namespace lftest
