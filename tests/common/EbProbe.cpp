#include "tests/common/EbProbe.h"

#include <cstdio>
#include <cstring>

#ifdef LF_HAVE_EB
#include <eb/eb.h>
#include <eb/error.h>
#include <eb/font.h>
#include <eb/text.h>

#include "tests/common/EbText.h"
#endif

namespace lftest {

namespace {

unsigned jisToSjisCode(unsigned c1, unsigned c2) {
    unsigned s1 = ((c1 + 1) >> 1) + (c1 < 0x5F ? 0x70 : 0xB0);
    unsigned s2 = c2 + ((c1 & 1) ? (c2 < 0x60 ? 0x1F : 0x20) : 0x7E);
    return (s1 << 8) | s2;
}

unsigned sjisToJisCode(unsigned s1, unsigned s2) {
    if (s1 >= 0xE0) s1 -= 0x40;
    unsigned c1 = (s1 - 0x81) * 2 + 0x21;
    unsigned c2;
    if (s2 >= 0x9F) {
        c1 += 1;
        c2 = s2 - 0x7E;
    } else {
        c2 = s2 - (s2 >= 0x80 ? 0x20 : 0x1F);
    }
    return (c1 << 8) | c2;
}

bool isLead(unsigned b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

}  // namespace

std::string eucToSjis(const std::string& euc) {
    std::string out;
    for (size_t i = 0; i < euc.size(); ++i) {
        unsigned b = static_cast<unsigned char>(euc[i]);
        if (b >= 0xA1 && b <= 0xFE && i + 1 < euc.size()) {
            unsigned c = jisToSjisCode(b & 0x7F, static_cast<unsigned char>(euc[i + 1]) & 0x7F);
            out += static_cast<char>(c >> 8);
            out += static_cast<char>(c & 0xFF);
            ++i;
        } else if (b == 0x8E && i + 1 < euc.size()) {
            out += euc[++i];
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

std::string sjisToEuc(const std::string& sjis) {
    std::string out;
    for (size_t i = 0; i < sjis.size(); ++i) {
        unsigned b = static_cast<unsigned char>(sjis[i]);
        if (isLead(b) && i + 1 < sjis.size()) {
            unsigned c = sjisToJisCode(b, static_cast<unsigned char>(sjis[i + 1]));
            out += static_cast<char>((c >> 8) | 0x80);
            out += static_cast<char>((c & 0xFF) | 0x80);
            ++i;
        } else if (b >= 0xA1 && b <= 0xDF) {
            out += static_cast<char>(0x8E);
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

#ifdef LF_HAVE_EB

struct EbProbe::Impl {
    EB_Book book;
    EB_Subbook_Code codes[EB_MAX_SUBBOOKS];
    int count = 0;
    std::string path;
    int lastTextSubbook = -1;
};

EbProbe::EbProbe(const std::string& bookDir) : impl_(new Impl) {
    static const bool initialized = eb_initialize_library() == EB_SUCCESS;
    (void)initialized;
    impl_->path = bookDir;
    eb_initialize_book(&impl_->book);
    EB_Error_Code rc = eb_bind(&impl_->book, bookDir.c_str());
    if (rc != EB_SUCCESS) {
        fail("eb_bind", rc);
        return;
    }
    bound_ = true;
    rc = eb_subbook_list(&impl_->book, impl_->codes, &impl_->count);
    if (rc != EB_SUCCESS) {
        fail("eb_subbook_list", rc);
        impl_->count = 0;
    }
}

EbProbe::~EbProbe() {
    eb_finalize_book(&impl_->book);
    delete impl_;
}

void EbProbe::fail(const char* what, int code) {
    error_ = std::string(what) + ": " + eb_error_message(static_cast<EB_Error_Code>(code));
}

int EbProbe::discType() {
    if (!bound_) return -1;
    EB_Disc_Code disc;
    if (eb_disc_type(&impl_->book, &disc) != EB_SUCCESS) return -1;
    return disc == EB_DISC_EPWING ? 1 : (disc == EB_DISC_EB ? 0 : -1);
}

std::vector<EbSubbook> EbProbe::subbooks() {
    std::vector<EbSubbook> out;
    for (int i = 0; bound_ && i < impl_->count; ++i) {
        EbSubbook s;
        s.code = impl_->codes[i];
        char title[EB_MAX_TITLE_LENGTH + 1] = {0};
        char dir[EB_MAX_DIRECTORY_NAME_LENGTH + 1] = {0};
        EB_Error_Code rc = eb_subbook_title2(&impl_->book, impl_->codes[i], title);
        if (rc != EB_SUCCESS) fail("eb_subbook_title2", rc);
        rc = eb_subbook_directory2(&impl_->book, impl_->codes[i], dir);
        if (rc != EB_SUCCESS) fail("eb_subbook_directory2", rc);
        s.title = eucToSjis(title);
        s.directory = dir;
        out.push_back(s);
    }
    return out;
}

bool EbProbe::select(int subbook) {
    if (!bound_) return false;
    if (subbook < 0 || subbook >= impl_->count) {
        error_ = "no such subbook";
        return false;
    }
    EB_Error_Code rc = eb_set_subbook(&impl_->book, impl_->codes[subbook]);
    if (rc != EB_SUCCESS) {
        fail("eb_set_subbook", rc);
        return false;
    }
    return true;
}

std::vector<unsigned char> EbProbe::readText(int subbook, int block, int offset, size_t maxBytes) {
    std::vector<unsigned char> out;
    if (!select(subbook)) return out;
    EB_Error_Code rc = ebSeekText(&impl_->book, block, offset);
    if (rc != EB_SUCCESS) {
        fail("eb_seek_text", rc);
        return out;
    }
    std::vector<char> buf(maxBytes + 1);
    ssize_t length = 0;
    rc = eb_read_rawtext(&impl_->book, maxBytes, buf.data(), &length);
    if (rc != EB_SUCCESS) {
        fail("eb_read_rawtext", rc);
        return out;
    }
    out.assign(buf.begin(), buf.begin() + length);
    return out;
}

static std::string readWith(EB_Book* book, EbReadFunction fn, int block, int offset, size_t maxBytes,
                            std::string* error) {
    EB_Error_Code rc = ebSeekText(book, block, offset);
    if (rc != EB_SUCCESS) {
        *error = std::string("eb_seek_text: ") + eb_error_message(rc);
        return "";
    }
    return ebReadAll(book, fn, maxBytes, error);
}

// libeb keeps decoded text pages in a cache keyed by book and position but
// not by subbook; a fresh binding makes sure a read after a change of subbook
// does not get the previous subbook's page.
bool EbProbe::selectForText(int subbook) {
    if (bound_ && impl_->lastTextSubbook >= 0 && impl_->lastTextSubbook != subbook) {
        eb_finalize_book(&impl_->book);
        eb_initialize_book(&impl_->book);
        EB_Error_Code rc = eb_bind(&impl_->book, impl_->path.c_str());
        if (rc != EB_SUCCESS) {
            bound_ = false;
            fail("eb_bind", rc);
            return false;
        }
    }
    if (!select(subbook)) return false;
    impl_->lastTextSubbook = subbook;
    return true;
}

std::string EbProbe::readRenderedText(int subbook, int block, int offset, size_t maxBytes) {
    if (!selectForText(subbook)) return "";
    return readWith(&impl_->book, eb_read_text, block, offset, maxBytes, &error_);
}

std::string EbProbe::readHeading(int subbook, int block, int offset, size_t maxBytes) {
    if (!selectForText(subbook)) return "";
    return readWith(&impl_->book, eb_read_heading, block, offset, maxBytes, &error_);
}

bool EbProbe::menu(int subbook, int* block, int* offset) {
    if (!select(subbook) || !eb_have_menu(&impl_->book)) return false;
    EB_Position pos;
    EB_Error_Code rc = eb_menu(&impl_->book, &pos);
    if (rc != EB_SUCCESS) {
        fail("eb_menu", rc);
        return false;
    }
    *block = pos.page;
    *offset = pos.offset;
    return true;
}

bool EbProbe::haveSearch(int subbook, EbSearchKind kind) {
    if (!select(subbook)) return false;
    switch (kind) {
        case EbSearchKind::Word:
            return eb_have_word_search(&impl_->book) != 0;
        case EbSearchKind::ExactWord:
            return eb_have_exactword_search(&impl_->book) != 0;
        case EbSearchKind::EndWord:
            return eb_have_endword_search(&impl_->book) != 0;
        case EbSearchKind::Keyword:
            return eb_have_keyword_search(&impl_->book) != 0;
    }
    return false;
}

std::vector<EbHit> EbProbe::search(int subbook, EbSearchKind kind, const std::vector<std::string>& words, int maxHits) {
    std::vector<EbHit> out;
    if (words.empty() || maxHits < 1 || !select(subbook)) return out;
    std::vector<std::string> euc;
    for (const std::string& w : words) euc.push_back(sjisToEuc(w));
    EB_Error_Code rc = EB_SUCCESS;
    switch (kind) {
        case EbSearchKind::Word:
            rc = eb_search_word(&impl_->book, euc[0].c_str());
            break;
        case EbSearchKind::ExactWord:
            rc = eb_search_exactword(&impl_->book, euc[0].c_str());
            break;
        case EbSearchKind::EndWord:
            rc = eb_search_endword(&impl_->book, euc[0].c_str());
            break;
        case EbSearchKind::Keyword: {
            const char* list[EB_MAX_KEYWORDS + 1] = {nullptr};
            for (size_t i = 0; i < euc.size() && i < EB_MAX_KEYWORDS; ++i) list[i] = euc[i].c_str();
            rc = eb_search_keyword(&impl_->book, list);
            break;
        }
    }
    if (rc != EB_SUCCESS) {
        fail("eb_search", rc);
        return out;
    }
    std::vector<EB_Hit> hits(static_cast<size_t>(maxHits));
    int count = 0;
    rc = eb_hit_list(&impl_->book, maxHits, hits.data(), &count);
    if (rc != EB_SUCCESS) {
        fail("eb_hit_list", rc);
        return out;
    }
    for (int i = 0; i < count; ++i) {
        EbHit h;
        h.headingBlock = hits[i].heading.page;
        h.headingOffset = hits[i].heading.offset;
        h.textBlock = hits[i].text.page;
        h.textOffset = hits[i].text.offset;
        out.push_back(h);
    }
    return out;
}

std::vector<unsigned char> EbProbe::glyph(int subbook, int height, bool wide, int code) {
    std::vector<unsigned char> out;
    if (!select(subbook)) return out;
    EB_Font_Code font;
    switch (height) {
        case 16:
            font = EB_FONT_16;
            break;
        case 24:
            font = EB_FONT_24;
            break;
        case 30:
            font = EB_FONT_30;
            break;
        case 48:
            font = EB_FONT_48;
            break;
        default:
            error_ = "no such font height";
            return out;
    }
    EB_Error_Code rc = eb_set_font(&impl_->book, font);
    if (rc != EB_SUCCESS) {
        fail("eb_set_font", rc);
        return out;
    }
    size_t size = 0;
    rc = wide ? eb_wide_font_size(&impl_->book, &size) : eb_narrow_font_size(&impl_->book, &size);
    if (rc != EB_SUCCESS || size == 0) {
        fail("eb_font_size", rc);
        return out;
    }
    std::vector<char> bits(size);
    rc = wide ? eb_wide_font_character_bitmap(&impl_->book, code, bits.data())
              : eb_narrow_font_character_bitmap(&impl_->book, code, bits.data());
    if (rc != EB_SUCCESS) {
        fail("eb_font_character_bitmap", rc);
        return out;
    }
    out.assign(bits.begin(), bits.end());
    return out;
}

std::vector<EbMultiSearch> EbProbe::multiSearches(int subbook) {
    std::vector<EbMultiSearch> out;
    if (!select(subbook) || !eb_have_multi_search(&impl_->book)) return out;
    EB_Multi_Search_Code list[EB_MAX_MULTI_SEARCHES];
    int count = 0;
    EB_Error_Code rc = eb_multi_search_list(&impl_->book, list, &count);
    if (rc != EB_SUCCESS) {
        fail("eb_multi_search_list", rc);
        return out;
    }
    for (int m = 0; m < count; ++m) {
        EbMultiSearch ms;
        char title[EB_MAX_MULTI_TITLE_LENGTH + 1] = {0};
        if (eb_multi_title(&impl_->book, list[m], title) == EB_SUCCESS) ms.title = eucToSjis(title);
        int entries = 0;
        rc = eb_multi_entry_count(&impl_->book, list[m], &entries);
        if (rc != EB_SUCCESS) {
            fail("eb_multi_entry_count", rc);
            return out;
        }
        for (int e = 0; e < entries; ++e) {
            EbMultiEntry me;
            char label[EB_MAX_MULTI_LABEL_LENGTH + 1] = {0};
            rc = eb_multi_entry_label(&impl_->book, list[m], e, label);
            if (rc != EB_SUCCESS) fail("eb_multi_entry_label", rc);
            me.label = eucToSjis(label);
            me.hasCandidates = eb_multi_entry_have_candidates(&impl_->book, list[m], e) != 0;
            EB_Position pos;
            if (me.hasCandidates && eb_multi_entry_candidates(&impl_->book, list[m], e, &pos) == EB_SUCCESS) {
                me.candidatesBlock = pos.page;
                me.candidatesOffset = pos.offset;
            }
            ms.entries.push_back(me);
        }
        out.push_back(ms);
    }
    return out;
}

namespace {

// Candidate hooks: each candidate's end writes a marker line that the probe
// splits: "\x01" leaf or "\x02block:offset" group, then the word, "\x03".
EB_Error_Code candidateHook(EB_Book* book, EB_Appendix*, void*, EB_Hook_Code code, int, const unsigned int* argv) {
    char mark[48];
    if (code == EB_HOOK_END_CANDIDATE_GROUP)
        std::snprintf(mark, sizeof mark, "\x02%u:%u\x04", argv[1], argv[2]);
    else
        std::snprintf(mark, sizeof mark, "\x01");
    eb_write_text_string(book, mark);
    eb_write_text_string(book, eb_current_candidate(book));
    eb_write_text_string(book, "\x03");
    return EB_SUCCESS;
}

}  // namespace

std::vector<EbCandidate> EbProbe::candidates(int subbook, int block, int offset) {
    std::vector<EbCandidate> out;
    if (!selectForText(subbook)) return out;
    EB_Error_Code rc = ebSeekText(&impl_->book, block, offset);
    if (rc != EB_SUCCESS) {
        fail("eb_seek_text", rc);
        return out;
    }
    EB_Hookset hooks;
    eb_initialize_hookset(&hooks);
    const EB_Hook set[] = {{EB_HOOK_END_CANDIDATE_LEAF, candidateHook},
                           {EB_HOOK_END_CANDIDATE_GROUP, candidateHook},
                           {EB_HOOK_NULL, nullptr}};
    eb_set_hooks(&hooks, set);
    std::string text;
    char buf[4096];
    for (int guard = 0; guard < 64; ++guard) {
        ssize_t length = 0;
        rc = eb_read_text(&impl_->book, nullptr, &hooks, nullptr, sizeof buf - 1, buf, &length);
        if (rc != EB_SUCCESS) {
            fail("eb_read_text", rc);
            break;
        }
        if (length <= 0) break;
        text.append(buf, static_cast<size_t>(length));
    }
    eb_finalize_hookset(&hooks);
    // Markers, then the word up to \x03.
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\x01' && text[i] != '\x02') continue;
        EbCandidate c;
        size_t w = i + 1;
        if (text[i] == '\x02') {
            c.group = true;
            size_t end = text.find('\x04', i);
            if (end == std::string::npos) break;
            std::sscanf(text.c_str() + i + 1, "%d:%d", &c.block, &c.offset);
            w = end + 1;
        }
        size_t end = text.find('\x03', w);
        if (end == std::string::npos) break;
        c.word = eucToSjis(text.substr(w, end - w));
        out.push_back(c);
        i = end;
    }
    return out;
}

std::vector<EbHit> EbProbe::multiSearch(int subbook, int multi, const std::vector<std::string>& words, int maxHits) {
    std::vector<EbHit> out;
    if (maxHits < 1 || !select(subbook)) return out;
    std::vector<std::string> euc;
    for (const std::string& w : words) euc.push_back(sjisToEuc(w));
    const char* list[EB_MAX_MULTI_ENTRIES + 1] = {nullptr};
    for (size_t i = 0; i < euc.size() && i < EB_MAX_MULTI_ENTRIES; ++i) list[i] = euc[i].c_str();
    EB_Error_Code rc = eb_search_multi(&impl_->book, multi, list);
    if (rc != EB_SUCCESS) {
        fail("eb_search_multi", rc);
        return out;
    }
    std::vector<EB_Hit> hits(static_cast<size_t>(maxHits));
    int count = 0;
    rc = eb_hit_list(&impl_->book, maxHits, hits.data(), &count);
    if (rc != EB_SUCCESS) {
        fail("eb_hit_list", rc);
        return out;
    }
    for (int i = 0; i < count; ++i) {
        EbHit h;
        h.headingBlock = hits[i].heading.page;
        h.headingOffset = hits[i].heading.offset;
        h.textBlock = hits[i].text.page;
        h.textOffset = hits[i].text.offset;
        out.push_back(h);
    }
    return out;
}

#endif  // LF_HAVE_EB

}  // namespace lftest
