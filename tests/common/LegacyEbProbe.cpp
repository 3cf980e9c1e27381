#include "tests/common/LegacyEbProbe.h"

#include "tests/common/TestDir.h"

#ifdef LF_HAVE_EB
#include <eb/eb.h>
#include <eb/error.h>
#include <eb/text.h>
#endif

namespace lftest {

#ifdef LF_HAVE_EB
bool haveLibEb() {
    return true;
}

bool ebReadRawText(const std::string& bookDir, uint32_t block, size_t length, std::vector<uint8_t>* out,
                   std::string* error) {
    out->clear();
    if (eb_initialize_library() != EB_SUCCESS) {
        if (error) *error = "eb_initialize_library";
        return false;
    }
    EB_Book book;
    eb_initialize_book(&book);
    bool ok = false;
    EB_Subbook_Code list[EB_MAX_SUBBOOKS];
    int count = 0;
    EB_Error_Code rc = eb_bind(&book, bookDir.c_str());
    if (rc == EB_SUCCESS) rc = eb_subbook_list(&book, list, &count);
    if (rc == EB_SUCCESS && count < 1) rc = EB_ERR_NO_SUCH_SUB;
    if (rc == EB_SUCCESS) rc = eb_set_subbook(&book, list[0]);
    if (rc == EB_SUCCESS) {
        EB_Position pos;
        pos.page = static_cast<int>(block);
        pos.offset = 0;
        rc = eb_seek_text(&book, &pos);
    }
    if (rc == EB_SUCCESS) {
        out->resize(length);
        size_t done = 0;
        while (rc == EB_SUCCESS && done < length) {
            ssize_t got = 0;
            rc = eb_read_rawtext(&book, length - done, reinterpret_cast<char*>(out->data() + done), &got);
            if (rc != EB_SUCCESS || got <= 0) break;
            done += static_cast<size_t>(got);
        }
        out->resize(done);
        ok = rc == EB_SUCCESS && done == length;
    }
    if (!ok && error) *error = std::string("libeb: ") + eb_error_message(rc);
    eb_finalize_book(&book);
    eb_finalize_library();
    return ok;
}
#else
bool haveLibEb() {
    return false;
}

bool ebReadRawText(const std::string&, uint32_t, size_t, std::vector<uint8_t>* out, std::string* error) {
    out->clear();
    if (error) *error = "built without libeb";
    return false;
}
#endif

bool haveEbTools() {
    return runCommand("command -v ebunzip >/dev/null 2>&1 && command -v ebzipinfo >/dev/null 2>&1") == 0;
}

bool ebunzipBook(const std::string& bookDir, const std::string& outDir, std::string* output) {
    return runCommand("mkdir -p '" + outDir + "' && ebunzip --keep --force-overwrite --quiet --output-directory '" +
                          outDir + "' '" + bookDir + "' 2>&1",
                      output) == 0;
}

}  // namespace lftest
