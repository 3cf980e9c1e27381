// libFuzzer target for the checks of media files before they go into a book:
// the first byte chooses the form (value mod 4: BMP, JPEG, WAVE, MPEG), the
// rest is the file, read through a memory stream. A 1-bit BMP that passes
// is also turned into its monochrome bitmap.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "builder/media/mediaformats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const int kForms[] = {MEDIA_FORMAT_BMP, MEDIA_FORMAT_JPEG, MEDIA_FORMAT_WAVE, MEDIA_FORMAT_MPEG};
    const int format = kForms[data[0] % 4];
    std::vector<uint8_t> file(data + 1, data + size);
    FILE* f = fmemopen(file.data(), file.size(), "rb");
    if (f == nullptr) return 0;
    MEDIA_INFO info;
    const char* why = "";
    if (checkMediaFile(f, file.size(), format, &info, &why) == 0) {
        if (info.dataOffset + info.dataSize > file.size()) __builtin_trap();
        if (format == MEDIA_FORMAT_BMP && info.bitsPerPixel == 1) {
            std::vector<uint8_t> bitmap;
            if (readMonoBitmap(f, info, &bitmap) != 0) __builtin_trap();
        }
        volatile bool carried = isBookSoundFormat(info);
        (void)carried;
    }
    std::fclose(f);
    return 0;
}
