#include "tests/common/EbCopyrightProbe.h"

#ifdef LF_HAVE_EB
#include <eb/eb.h>
#include <eb/error.h>
#include <eb/text.h>

namespace lftest {

EbCopyright readEbCopyright(const std::string& bookDir, int subbook, size_t maxBytes) {
    EbCopyright out;
    eb_initialize_library();
    EB_Book book;
    eb_initialize_book(&book);
    EB_Subbook_Code codes[EB_MAX_SUBBOOKS];
    int count = 0;
    EB_Error_Code rc = eb_bind(&book, bookDir.c_str());
    if (rc == EB_SUCCESS) rc = eb_subbook_list(&book, codes, &count);
    if (rc == EB_SUCCESS && (subbook < 0 || subbook >= count)) rc = EB_ERR_NO_SUCH_SUB;
    if (rc == EB_SUCCESS) rc = eb_set_subbook(&book, codes[subbook]);
    EB_Position pos;
    if (rc == EB_SUCCESS && eb_have_copyright(&book)) {
        rc = eb_copyright(&book, &pos);
        if (rc == EB_SUCCESS) {
            out.found = true;
            out.block = pos.page;
            out.offset = pos.offset;
            rc = eb_seek_text(&book, &pos);
        }
        if (rc == EB_SUCCESS) {
            std::vector<char> buf(maxBytes);
            ssize_t got = 0;
            rc = eb_read_rawtext(&book, buf.size(), buf.data(), &got);
            if (rc == EB_SUCCESS && got > 0) out.raw.assign(buf.begin(), buf.begin() + got);
        }
    }
    if (rc != EB_SUCCESS) out.error = eb_error_message(rc);
    eb_finalize_book(&book);
    return out;
}

}  // namespace lftest

#endif  // LF_HAVE_EB
