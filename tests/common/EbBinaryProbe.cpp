#include "tests/common/EbBinaryProbe.h"

#ifdef LF_HAVE_EB
#include <eb/binary.h>
#include <eb/eb.h>
#include <eb/error.h>

namespace lftest {

EbBinary readEbBinary(const std::string& bookDir, int subbook, EbBinaryKind kind, int block, int offset,
                      int widthOrEndBlock, int heightOrEndOffset) {
    EbBinary out;
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
    pos.page = block;
    pos.offset = offset;
    if (rc == EB_SUCCESS) {
        switch (kind) {
            case EbBinaryKind::MonoGraphic:
                rc = eb_set_binary_mono_graphic(&book, &pos, widthOrEndBlock, heightOrEndOffset);
                break;
            case EbBinaryKind::ColorGraphic:
                rc = eb_set_binary_color_graphic(&book, &pos);
                break;
            case EbBinaryKind::Wave: {
                EB_Position end;
                end.page = widthOrEndBlock;
                end.offset = heightOrEndOffset;
                rc = eb_set_binary_wave(&book, &pos, &end);
                break;
            }
        }
    }
    while (rc == EB_SUCCESS) {
        char buf[4096];
        ssize_t got = 0;
        rc = eb_read_binary(&book, sizeof buf, buf, &got);
        if (rc != EB_SUCCESS || got <= 0) break;
        out.bytes.insert(out.bytes.end(), buf, buf + got);
    }
    out.ok = rc == EB_SUCCESS;
    if (rc != EB_SUCCESS) out.error = eb_error_message(rc);
    eb_finalize_book(&book);
    return out;
}

}  // namespace lftest

#endif  // LF_HAVE_EB
