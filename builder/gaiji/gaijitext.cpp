// Text helpers of the gaiji definition file readers.
#include "builder/gaiji/gaijitext.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "foundation/FileHandle.h"

namespace gaijitext {

namespace {

// Definition files are read whole; larger files are refused.
const long kMaxDefinitionFile = 64L * 1024 * 1024;

}  // namespace

bool startsWithNoCase(const char* text, int len, const char* key, int n) {
    if (text == nullptr || len < n) return false;
    for (int i = 0; i < n; ++i)
        if (lowerAscii(static_cast<unsigned char>(text[i])) != lowerAscii(static_cast<unsigned char>(key[i])))
            return false;
    return true;
}

ValueText::ValueText(const char* v, int n) {
    if (n < 0) n = 0;
    if (n > static_cast<int>(sizeof text) - 1) n = sizeof text - 1;
    if (n > 0) std::memcpy(text, v, n);
    text[n] = 0;
}

int readWholeFile(const char* path, std::vector<char>* data, const char* tooLarge) {
    if (path == nullptr) return -1;
    FilePtr f(std::fopen(path, "rb"));
    if (!f) return -1;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) return -1;
    long size = std::ftell(f.get());
    if (size < 0) return -1;
    if (size > kMaxDefinitionFile) throw std::runtime_error(tooLarge);
    std::rewind(f.get());
    data->assign(static_cast<size_t>(size), 0);
    size_t got = size > 0 ? std::fread(data->data(), 1, data->size(), f.get()) : 0;
    data->resize(got);
    return 0;
}

}  // namespace gaijitext
