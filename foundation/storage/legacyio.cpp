#include "foundation/storage/legacyio.h"

#include <sys/types.h>

namespace legacyio {

int64_t fileLength(FILE* file) {
    if (!file || fseeko(file, 0, SEEK_END) != 0) return -1;
    off_t end = ftello(file);
    return end < 0 ? -1 : static_cast<int64_t>(end);
}

bool readAt(FILE* file, int64_t limit, int64_t offset, uint8_t* out, size_t length) {
    if (!file || offset < 0 || limit < 0 || offset > limit) return false;
    if (static_cast<uint64_t>(limit - offset) < length) return false;
    if (length == 0) return true;
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return fread(out, 1, length, file) == length;
}

}  // namespace legacyio
