#include "tests/common/EbSearchProbe.h"

#include "tests/common/EbProbe.h"
#include "tests/common/EbText.h"

#ifdef LF_HAVE_EB
#include <eb/eb.h>
#include <eb/error.h>
#include <eb/text.h>

namespace lftest {

struct EbSearchProbe::Impl {
    EB_Book book;
};

EbSearchProbe::EbSearchProbe(const std::string& bookDir) : impl_(new Impl) {
    static const bool initialized = eb_initialize_library() == EB_SUCCESS;
    (void)initialized;
    eb_initialize_book(&impl_->book);
    EB_Error_Code rc = eb_bind(&impl_->book, bookDir.c_str());
    if (rc != EB_SUCCESS) {
        error_ = std::string("eb_bind: ") + eb_error_message(rc);
        return;
    }
    EB_Subbook_Code codes[EB_MAX_SUBBOOKS];
    int count = 0;
    rc = eb_subbook_list(&impl_->book, codes, &count);
    if (rc != EB_SUCCESS || count < 1) {
        error_ = "no subbook";
        return;
    }
    rc = eb_set_subbook(&impl_->book, codes[0]);
    if (rc != EB_SUCCESS) {
        error_ = std::string("eb_set_subbook: ") + eb_error_message(rc);
        return;
    }
    ok_ = true;
}

EbSearchProbe::~EbSearchProbe() {
    eb_finalize_book(&impl_->book);
    delete impl_;
}

bool EbSearchProbe::have(EbFind kind) {
    if (!ok_) return false;
    switch (kind) {
        case EbFind::Word:
            return eb_have_word_search(&impl_->book) != 0;
        case EbFind::ExactWord:
            return eb_have_exactword_search(&impl_->book) != 0;
        case EbFind::EndWord:
            return eb_have_endword_search(&impl_->book) != 0;
        case EbFind::Keyword:
            return eb_have_keyword_search(&impl_->book) != 0;
        case EbFind::Cross:
            return eb_have_cross_search(&impl_->book) != 0;
    }
    return false;
}

namespace {

std::string readAt(EB_Book* book, EbReadFunction fn, int block, int offset, size_t maxBytes) {
    if (ebSeekText(book, block, offset) != EB_SUCCESS) return "<seek failed>";
    return ebReadAll(book, fn, maxBytes, nullptr);
}

}  // namespace

std::vector<EbFound> EbSearchProbe::search(EbFind kind, const std::vector<std::string>& words, bool withText,
                                           int maxHits) {
    std::vector<EbFound> out;
    if (!ok_ || words.empty()) return out;
    std::vector<std::string> euc;
    for (const std::string& w : words) euc.push_back(sjisToEuc(w));
    const char* list[EB_MAX_KEYWORDS + 1] = {nullptr};
    for (size_t i = 0; i < euc.size() && i < EB_MAX_KEYWORDS; ++i) list[i] = euc[i].c_str();
    EB_Error_Code rc = EB_SUCCESS;
    switch (kind) {
        case EbFind::Word:
            rc = eb_search_word(&impl_->book, list[0]);
            break;
        case EbFind::ExactWord:
            rc = eb_search_exactword(&impl_->book, list[0]);
            break;
        case EbFind::EndWord:
            rc = eb_search_endword(&impl_->book, list[0]);
            break;
        case EbFind::Keyword:
            rc = eb_search_keyword(&impl_->book, list);
            break;
        case EbFind::Cross:
            rc = eb_search_cross(&impl_->book, list);
            break;
    }
    if (rc != EB_SUCCESS) {
        error_ = std::string("eb_search: ") + eb_error_message(rc);
        return out;
    }
    std::vector<EB_Hit> hits(static_cast<size_t>(maxHits));
    int count = 0;
    // eb_hit_list hands out at most the hits asked for per call; collect all.
    for (;;) {
        int n = 0;
        rc = eb_hit_list(&impl_->book, maxHits - count, hits.data() + count, &n);
        if (rc != EB_SUCCESS) {
            error_ = std::string("eb_hit_list: ") + eb_error_message(rc);
            break;
        }
        if (n <= 0) break;
        count += n;
        if (count >= maxHits) break;
    }
    for (int i = 0; i < count; ++i) {
        EbFound f;
        f.textBlock = hits[i].text.page;
        f.textOffset = hits[i].text.offset;
        f.headingBlock = hits[i].heading.page;
        f.headingOffset = hits[i].heading.offset;
        out.push_back(f);
    }
    if (withText) {
        for (EbFound& f : out) {
            f.heading = readAt(&impl_->book, eb_read_heading, f.headingBlock, f.headingOffset, 1024);
            f.text = readAt(&impl_->book, eb_read_text, f.textBlock, f.textOffset, 4096);
        }
    }
    return out;
}

std::vector<std::string> EbSearchProbe::headings(EbFind kind, const std::vector<std::string>& words) {
    std::vector<std::string> out;
    for (const EbFound& f : search(kind, words, true)) out.push_back(f.heading);
    return out;
}

}  // namespace lftest

#endif  // LF_HAVE_EB
