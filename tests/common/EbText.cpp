#include "tests/common/EbText.h"

#ifdef LF_HAVE_EB
#include <vector>

#include <eb/error.h>

#include "tests/common/EbProbe.h"

namespace lftest {

EB_Error_Code ebSeekText(EB_Book* book, int block, int offset) {
    EB_Position pos;
    pos.page = block;
    pos.offset = offset;
    return eb_seek_text(book, &pos);
}

std::string ebReadAll(EB_Book* book, EbReadFunction fn, size_t maxBytes, std::string* error) {
    EB_Hookset hooks;
    eb_initialize_hookset(&hooks);
    std::string text;
    std::vector<char> buf(maxBytes + 1);
    while (text.size() < maxBytes) {
        ssize_t length = 0;
        EB_Error_Code rc = fn(book, nullptr, &hooks, nullptr, maxBytes - text.size(), buf.data(), &length);
        if (rc != EB_SUCCESS) {
            if (error) *error = std::string("eb_read: ") + eb_error_message(rc);
            break;
        }
        if (length <= 0) break;
        text.append(buf.data(), static_cast<size_t>(length));
    }
    eb_finalize_hookset(&hooks);
    return eucToSjis(text);
}

}  // namespace lftest

#endif  // LF_HAVE_EB
