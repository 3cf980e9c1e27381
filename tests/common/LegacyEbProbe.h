// A small probe of the EB Library (libeb, used as a black box) and of its
// command-line tools, for checking what our legacy-form decoders read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lftest {

// True when the probe was built against libeb.
bool haveLibEb();

// Binds the book at `bookDir`, selects its first subbook and reads `length`
// raw (decompressed) bytes of its text file from block `block`, offset 0.
// False with the reason in *error when libeb refuses.
bool ebReadRawText(const std::string& bookDir, uint32_t block, size_t length, std::vector<uint8_t>* out,
                   std::string* error);

// True when the EB Library's tools (ebunzip, ebzipinfo) are on the path.
bool haveEbTools();

// Runs `ebunzip` over the book into outDir (kept input, quiet). True on exit 0.
bool ebunzipBook(const std::string& bookDir, const std::string& outDir, std::string* output = nullptr);

}  // namespace lftest
