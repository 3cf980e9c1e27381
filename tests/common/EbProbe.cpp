#include "tests/common/EbProbe.h"

#include <eb/appendix.h>
#include <eb/binary.h>
#include <eb/eb.h>
#include <eb/error.h>
#include <eb/font.h>
#include <eb/text.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tests/common/TestDir.h"

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

namespace {

// eb_read_text or eb_read_heading.
typedef EB_Error_Code (*EbReadFunction)(EB_Book*, EB_Appendix*, EB_Hookset*, void*, size_t, char*, ssize_t*);

// Reads from the current text position through fn with the hooks (handing
// them container) until maxBytes are read or fn gives no more, appending the
// raw EUC-JP text to *text. A failing read ends the text read so far and
// gives libeb's code.
EB_Error_Code readRaw(EB_Book* book, EbReadFunction fn, EB_Hookset* hooks, void* container, size_t maxBytes,
                      std::string* text) {
    std::vector<char> buf(maxBytes + 1);
    while (text->size() < maxBytes) {
        ssize_t length = 0;
        EB_Error_Code rc = fn(book, nullptr, hooks, container, maxBytes - text->size(), buf.data(), &length);
        if (rc != EB_SUCCESS) return rc;
        if (length <= 0) break;
        text->append(buf.data(), static_cast<size_t>(length));
    }
    return EB_SUCCESS;
}

// Reads the text from the current position through every entry up to the
// end of the text (its end code), not only to the next entry.
EB_Error_Code readThrough(EB_Book* book, EB_Hookset* hooks, void* container, size_t maxBytes, std::string* text) {
    for (;;) {
        EB_Error_Code rc = readRaw(book, eb_read_text, hooks, container, maxBytes, text);
        if (rc != EB_SUCCESS) return rc;
        if (text->size() >= maxBytes) return EB_SUCCESS;
        // The end of an entry: go on with the next one, until the text ends.
        if (eb_forward_text(book, nullptr) != EB_SUCCESS) return EB_SUCCESS;
    }
}

// Reads through fn with libeb's default hooks (readRaw) and returns the text
// as Shift_JIS. On a failing read, error, when not null, gets "eb_read: " and
// libeb's message.
std::string readAll(EB_Book* book, EbReadFunction fn, size_t maxBytes, std::string* error) {
    EB_Hookset hooks;
    eb_initialize_hookset(&hooks);
    std::string text;
    EB_Error_Code rc = readRaw(book, fn, &hooks, nullptr, maxBytes, &text);
    if (rc != EB_SUCCESS && error) *error = std::string("eb_read: ") + eb_error_message(rc);
    eb_finalize_hookset(&hooks);
    return eucToSjis(text);
}

// Search words as libeb takes them: at most max words converted to EUC-JP,
// in a list ended by a null pointer.
class EucWords {
public:
    EucWords(const std::vector<std::string>& words, size_t max) {
        for (size_t i = 0; i < words.size() && i < max; ++i) m_euc.push_back(sjisToEuc(words[i]));
        for (const std::string& w : m_euc) m_list.push_back(w.c_str());
        m_list.resize(max + 1, nullptr);
    }
    const char* const* list() const { return m_list.data(); }

private:
    std::vector<std::string> m_euc;
    std::vector<const char*> m_list;
};

}  // namespace

struct EbProbe::Impl {
    EB_Book book;
    EB_Subbook_Code codes[EB_MAX_SUBBOOKS];
    int count = 0;
    std::string path;
    int lastTextSubbook = -1;
};

EbProbe::EbProbe(const std::string& bookDir) : m_impl(new Impl) {
    static const bool initialized = eb_initialize_library() == EB_SUCCESS;
    (void)initialized;
    m_impl->path = bookDir;
    eb_initialize_book(&m_impl->book);
    EB_Error_Code rc = eb_bind(&m_impl->book, bookDir.c_str());
    if (rc != EB_SUCCESS) {
        fail("eb_bind", rc);
        return;
    }
    m_bound = true;
    rc = eb_subbook_list(&m_impl->book, m_impl->codes, &m_impl->count);
    if (rc != EB_SUCCESS) {
        fail("eb_subbook_list", rc);
        m_impl->count = 0;
    }
}

EbProbe::~EbProbe() {
    eb_finalize_book(&m_impl->book);
    delete m_impl;
}

void EbProbe::fail(const char* what, int code) {
    m_error = std::string(what) + ": " + eb_error_message(static_cast<EB_Error_Code>(code));
}

int EbProbe::discType() {
    if (!m_bound) return -1;
    EB_Disc_Code disc;
    if (eb_disc_type(&m_impl->book, &disc) != EB_SUCCESS) return -1;
    return disc == EB_DISC_EPWING ? 1 : (disc == EB_DISC_EB ? 0 : -1);
}

std::vector<EbSubbook> EbProbe::subbooks() {
    std::vector<EbSubbook> out;
    for (int i = 0; m_bound && i < m_impl->count; ++i) {
        EbSubbook s;
        s.code = m_impl->codes[i];
        char title[EB_MAX_TITLE_LENGTH + 1] = {0};
        char dir[EB_MAX_DIRECTORY_NAME_LENGTH + 1] = {0};
        EB_Error_Code rc = eb_subbook_title2(&m_impl->book, m_impl->codes[i], title);
        if (rc != EB_SUCCESS) fail("eb_subbook_title2", rc);
        rc = eb_subbook_directory2(&m_impl->book, m_impl->codes[i], dir);
        if (rc != EB_SUCCESS) fail("eb_subbook_directory2", rc);
        s.title = eucToSjis(title);
        s.directory = dir;
        out.push_back(s);
    }
    return out;
}

bool EbProbe::select(int subbook) {
    if (!m_bound) return false;
    if (subbook < 0 || subbook >= m_impl->count) {
        m_error = "no such subbook";
        return false;
    }
    EB_Error_Code rc = eb_set_subbook(&m_impl->book, m_impl->codes[subbook]);
    if (rc != EB_SUCCESS) {
        fail("eb_set_subbook", rc);
        return false;
    }
    return true;
}

// libeb keeps decoded text pages in a cache keyed by book and position but
// not by subbook; a fresh binding makes sure a read after a change of subbook
// does not get the previous subbook's page.
bool EbProbe::selectForText(int subbook) {
    if (m_bound && m_impl->lastTextSubbook >= 0 && m_impl->lastTextSubbook != subbook) {
        eb_finalize_book(&m_impl->book);
        eb_initialize_book(&m_impl->book);
        EB_Error_Code rc = eb_bind(&m_impl->book, m_impl->path.c_str());
        if (rc != EB_SUCCESS) {
            m_bound = false;
            fail("eb_bind", rc);
            return false;
        }
    }
    if (!select(subbook)) return false;
    m_impl->lastTextSubbook = subbook;
    return true;
}

bool EbProbe::seek(int block, int offset) {
    EB_Position pos;
    pos.page = block;
    pos.offset = offset;
    EB_Error_Code rc = eb_seek_text(&m_impl->book, &pos);
    if (rc != EB_SUCCESS) fail("eb_seek_text", rc);
    return rc == EB_SUCCESS;
}

Bytes EbProbe::readText(int subbook, int block, int offset, size_t maxBytes) {
    Bytes out;
    if (!selectForText(subbook) || !seek(block, offset)) return out;
    out.resize(maxBytes);
    size_t done = 0;
    while (done < maxBytes) {
        ssize_t got = 0;
        EB_Error_Code rc =
            eb_read_rawtext(&m_impl->book, maxBytes - done, reinterpret_cast<char*>(out.data() + done), &got);
        if (rc != EB_SUCCESS) {
            fail("eb_read_rawtext", rc);
            break;
        }
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    out.resize(done);
    return out;
}

std::string EbProbe::readRenderedText(int subbook, int block, int offset, size_t maxBytes) {
    if (!selectForText(subbook) || !seek(block, offset)) return "";
    return readAll(&m_impl->book, eb_read_text, maxBytes, &m_error);
}

std::string EbProbe::readWholeText(int subbook, int block, int offset, size_t maxBytes) {
    if (!selectForText(subbook) || !seek(block, offset)) return "";
    EB_Hookset hooks;
    eb_initialize_hookset(&hooks);
    std::string text;
    EB_Error_Code rc = readThrough(&m_impl->book, &hooks, nullptr, maxBytes, &text);
    if (rc != EB_SUCCESS) fail("eb_read_text", rc);
    eb_finalize_hookset(&hooks);
    return eucToSjis(text);
}

std::string EbProbe::readHeading(int subbook, int block, int offset, size_t maxBytes) {
    if (!selectForText(subbook) || !seek(block, offset)) return "";
    return readAll(&m_impl->book, eb_read_heading, maxBytes, &m_error);
}

EbCopyright EbProbe::copyright(int subbook, size_t maxBytes) {
    EbCopyright out;
    if (!selectForText(subbook) || !eb_have_copyright(&m_impl->book)) return out;
    EB_Position pos;
    EB_Error_Code rc = eb_copyright(&m_impl->book, &pos);
    if (rc != EB_SUCCESS) {
        fail("eb_copyright", rc);
        return out;
    }
    out.found = true;
    out.block = pos.page;
    out.offset = pos.offset;
    out.raw = readText(subbook, pos.page, pos.offset, maxBytes);
    return out;
}

bool EbProbe::textStart(int subbook, int* block, int* offset) {
    if (!selectForText(subbook)) return false;
    EB_Position pos;
    EB_Error_Code rc = eb_text(&m_impl->book, &pos);
    if (rc != EB_SUCCESS) {
        fail("eb_text", rc);
        return false;
    }
    *block = pos.page;
    *offset = pos.offset;
    return true;
}

bool EbProbe::menu(int subbook, int* block, int* offset) {
    if (!select(subbook) || !eb_have_menu(&m_impl->book)) return false;
    EB_Position pos;
    EB_Error_Code rc = eb_menu(&m_impl->book, &pos);
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
            return eb_have_word_search(&m_impl->book) != 0;
        case EbSearchKind::ExactWord:
            return eb_have_exactword_search(&m_impl->book) != 0;
        case EbSearchKind::EndWord:
            return eb_have_endword_search(&m_impl->book) != 0;
        case EbSearchKind::Keyword:
            return eb_have_keyword_search(&m_impl->book) != 0;
        case EbSearchKind::Cross:
            return eb_have_cross_search(&m_impl->book) != 0;
    }
    return false;
}

std::vector<EbHit> EbProbe::search(int subbook, EbSearchKind kind, const std::vector<std::string>& words, int maxHits) {
    std::vector<EbHit> out;
    if (words.empty() || maxHits < 1 || !select(subbook)) return out;
    const EucWords euc(words, EB_MAX_KEYWORDS);
    const char* const* list = euc.list();
    EB_Error_Code rc = EB_SUCCESS;
    switch (kind) {
        case EbSearchKind::Word:
            rc = eb_search_word(&m_impl->book, list[0]);
            break;
        case EbSearchKind::ExactWord:
            rc = eb_search_exactword(&m_impl->book, list[0]);
            break;
        case EbSearchKind::EndWord:
            rc = eb_search_endword(&m_impl->book, list[0]);
            break;
        case EbSearchKind::Keyword:
            rc = eb_search_keyword(&m_impl->book, list);
            break;
        case EbSearchKind::Cross:
            rc = eb_search_cross(&m_impl->book, list);
            break;
    }
    if (rc != EB_SUCCESS) {
        fail("eb_search", rc);
        return out;
    }
    return hitList(maxHits);
}

std::vector<EbHit> EbProbe::hitList(int maxHits) {
    std::vector<EbHit> out;
    std::vector<EB_Hit> hits(static_cast<size_t>(maxHits));
    int count = 0;
    // eb_hit_list hands out at most the hits asked for per call; collect all.
    while (count < maxHits) {
        int n = 0;
        EB_Error_Code rc = eb_hit_list(&m_impl->book, maxHits - count, hits.data() + count, &n);
        if (rc != EB_SUCCESS) {
            fail("eb_hit_list", rc);
            break;
        }
        if (n <= 0) break;
        count += n;
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

std::vector<EbHit> EbProbe::searchText(int subbook, EbSearchKind kind, const std::vector<std::string>& words,
                                       int maxHits) {
    std::vector<EbHit> out = search(subbook, kind, words, maxHits);
    if (!selectForText(subbook)) return out;
    for (EbHit& h : out) {
        h.heading = seek(h.headingBlock, h.headingOffset) ? readAll(&m_impl->book, eb_read_heading, 1024, nullptr)
                                                          : "<seek failed>";
        h.text =
            seek(h.textBlock, h.textOffset) ? readAll(&m_impl->book, eb_read_text, 4096, nullptr) : "<seek failed>";
    }
    return out;
}

std::vector<std::string> EbProbe::headings(int subbook, EbSearchKind kind, const std::vector<std::string>& words) {
    std::vector<std::string> out;
    for (const EbHit& h : searchText(subbook, kind, words)) out.push_back(h.heading);
    return out;
}

Bytes EbProbe::glyph(int subbook, int height, bool wide, int code) {
    Bytes out;
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
            m_error = "no such font height";
            return out;
    }
    EB_Error_Code rc = eb_set_font(&m_impl->book, font);
    if (rc != EB_SUCCESS) {
        fail("eb_set_font", rc);
        return out;
    }
    size_t size = 0;
    rc = wide ? eb_wide_font_size(&m_impl->book, &size) : eb_narrow_font_size(&m_impl->book, &size);
    if (rc != EB_SUCCESS || size == 0) {
        fail("eb_font_size", rc);
        return out;
    }
    std::vector<char> bits(size);
    rc = wide ? eb_wide_font_character_bitmap(&m_impl->book, code, bits.data())
              : eb_narrow_font_character_bitmap(&m_impl->book, code, bits.data());
    if (rc != EB_SUCCESS) {
        fail("eb_font_character_bitmap", rc);
        return out;
    }
    out.assign(bits.begin(), bits.end());
    return out;
}

namespace {

const struct {
    EB_Hook_Code code;
    const char* name;
} kMediaHooks[] = {
    {EB_HOOK_BEGIN_MONO_GRAPHIC, "begin-mono"},
    {EB_HOOK_END_MONO_GRAPHIC, "end-mono"},
    {EB_HOOK_BEGIN_COLOR_BMP, "begin-color-bmp"},
    {EB_HOOK_BEGIN_COLOR_JPEG, "begin-color-jpeg"},
    {EB_HOOK_BEGIN_IN_COLOR_BMP, "begin-in-color-bmp"},
    {EB_HOOK_BEGIN_IN_COLOR_JPEG, "begin-in-color-jpeg"},
    {EB_HOOK_END_COLOR_GRAPHIC, "end-color"},
    {EB_HOOK_END_IN_COLOR_GRAPHIC, "end-in-color"},
    {EB_HOOK_BEGIN_WAVE, "begin-wave"},
    {EB_HOOK_END_WAVE, "end-wave"},
    {EB_HOOK_BEGIN_MPEG, "begin-mpeg"},
    {EB_HOOK_END_MPEG, "end-mpeg"},
};

EB_Error_Code recordMediaHook(EB_Book*, EB_Appendix*, void* container, EB_Hook_Code code, int argc,
                              const unsigned int* argv) {
    auto* events = static_cast<std::vector<EbMediaEvent>*>(container);
    EbMediaEvent e;
    for (const auto& h : kMediaHooks)
        if (h.code == code) e.hook = h.name;
    e.argv.assign(argv, argv + (argc > 0 ? argc : 0));
    events->push_back(e);
    return EB_SUCCESS;
}

}  // namespace

std::vector<EbMediaEvent> EbProbe::mediaEvents(int subbook, int block, int offset, size_t maxBytes) {
    std::vector<EbMediaEvent> events;
    if (!selectForText(subbook)) return events;
    if (!seek(block, offset)) return events;
    EB_Hookset hooks;
    eb_initialize_hookset(&hooks);
    for (const auto& h : kMediaHooks) {
        EB_Hook hook = {h.code, recordMediaHook};
        eb_set_hook(&hooks, &hook);
    }
    std::string text;
    EB_Error_Code rc = readRaw(&m_impl->book, eb_read_text, &hooks, &events, maxBytes, &text);
    if (rc != EB_SUCCESS) fail("eb_read_text", rc);
    eb_finalize_hookset(&hooks);
    return events;
}

namespace {

// Marks the hooks write into the text around each reference's text; the
// positions go to the container, in order.
const char kRefBegin = '\x01';
const char kRefEnd = '\x02';

EB_Error_Code beginReferenceHook(EB_Book* book, EB_Appendix*, void*, EB_Hook_Code, int, const unsigned int*) {
    const char mark[2] = {kRefBegin, 0};
    return eb_write_text_string(book, mark);
}

EB_Error_Code endReferenceHook(EB_Book* book, EB_Appendix*, void* container, EB_Hook_Code, int argc,
                               const unsigned int* argv) {
    auto* targets = static_cast<std::vector<std::pair<int, int>>*>(container);
    targets->push_back(argc >= 3 ? std::make_pair(static_cast<int>(argv[1]), static_cast<int>(argv[2]))
                                 : std::make_pair(0, 0));
    const char mark[2] = {kRefEnd, 0};
    return eb_write_text_string(book, mark);
}

}  // namespace

std::vector<EbReference> EbProbe::references(int subbook, int block, int offset, size_t maxBytes) {
    std::vector<EbReference> out;
    if (!selectForText(subbook) || !seek(block, offset)) return out;
    EB_Hookset hooks;
    eb_initialize_hookset(&hooks);
    const EB_Hook begin = {EB_HOOK_BEGIN_REFERENCE, beginReferenceHook};
    const EB_Hook end = {EB_HOOK_END_REFERENCE, endReferenceHook};
    eb_set_hook(&hooks, &begin);
    eb_set_hook(&hooks, &end);
    std::vector<std::pair<int, int>> targets;
    std::string text;
    EB_Error_Code rc = readThrough(&m_impl->book, &hooks, &targets, maxBytes, &text);
    if (rc != EB_SUCCESS) fail("eb_read_text", rc);
    eb_finalize_hookset(&hooks);
    const std::string sjis = eucToSjis(text);
    size_t at = 0;
    for (const auto& target : targets) {
        const size_t end = sjis.find(kRefEnd, at);
        if (end == std::string::npos) break;
        const size_t start = sjis.rfind(kRefBegin, end);
        EbReference r;
        if (start != std::string::npos && start >= at) r.text = sjis.substr(start + 1, end - start - 1);
        r.block = target.first;
        r.offset = target.second;
        out.push_back(r);
        at = end + 1;
    }
    return out;
}

Bytes EbProbe::readBinary(int rc, const char* what, size_t maxBytes) {
    Bytes out;
    if (rc != EB_SUCCESS) {
        fail(what, rc);
        return out;
    }
    std::vector<char> buf(65536);
    while (out.size() < maxBytes) {
        ssize_t length = 0;
        size_t want = std::min(buf.size(), maxBytes - out.size());
        EB_Error_Code r = eb_read_binary(&m_impl->book, want, buf.data(), &length);
        if (r != EB_SUCCESS) {
            fail("eb_read_binary", r);
            out.clear();
            break;
        }
        if (length <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + length);
    }
    eb_unset_binary(&m_impl->book);
    return out;
}

Bytes EbProbe::monoGraphic(int subbook, int block, int offset, int width, int height, size_t maxBytes) {
    if (!selectForText(subbook)) return {};
    EB_Position pos{block, offset};
    return readBinary(eb_set_binary_mono_graphic(&m_impl->book, &pos, width, height), "eb_set_binary_mono_graphic",
                      maxBytes);
}

Bytes EbProbe::colorGraphic(int subbook, int block, int offset, size_t maxBytes) {
    if (!selectForText(subbook)) return {};
    EB_Position pos{block, offset};
    return readBinary(eb_set_binary_color_graphic(&m_impl->book, &pos), "eb_set_binary_color_graphic", maxBytes);
}

Bytes EbProbe::wave(int subbook, int startBlock, int startOffset, int endBlock, int endOffset, size_t maxBytes) {
    if (!selectForText(subbook)) return {};
    EB_Position start{startBlock, startOffset};
    EB_Position end{endBlock, endOffset};
    return readBinary(eb_set_binary_wave(&m_impl->book, &start, &end), "eb_set_binary_wave", maxBytes);
}

Bytes EbProbe::mpeg(int subbook, const std::vector<unsigned>& nameWords, size_t maxBytes) {
    if (!selectForText(subbook) || nameWords.size() < 4) return {};
    unsigned int argv[4] = {nameWords[0], nameWords[1], nameWords[2], nameWords[3]};
    return readBinary(eb_set_binary_mpeg(&m_impl->book, argv), "eb_set_binary_mpeg", maxBytes);
}

bool ebunzipBook(const std::string& bookDir, const std::string& outDir, std::string* output, int timeoutSeconds) {
    const std::string limit = timeoutSeconds > 0 ? "timeout -s KILL " + std::to_string(timeoutSeconds) + " " : "";
    return runCommand("mkdir -p " + shellQuote(outDir) + " && " + limit +
                          "ebunzip --keep --force-overwrite --quiet --output-directory " + shellQuote(outDir) + " " +
                          shellQuote(bookDir) + " 2>&1",
                      output) == 0;
}

std::vector<EbMultiSearch> EbProbe::multiSearches(int subbook) {
    std::vector<EbMultiSearch> out;
    if (!select(subbook) || !eb_have_multi_search(&m_impl->book)) return out;
    EB_Multi_Search_Code list[EB_MAX_MULTI_SEARCHES];
    int count = 0;
    EB_Error_Code rc = eb_multi_search_list(&m_impl->book, list, &count);
    if (rc != EB_SUCCESS) {
        fail("eb_multi_search_list", rc);
        return out;
    }
    for (int m = 0; m < count; ++m) {
        EbMultiSearch ms;
        char title[EB_MAX_MULTI_TITLE_LENGTH + 1] = {0};
        if (eb_multi_title(&m_impl->book, list[m], title) == EB_SUCCESS) ms.title = eucToSjis(title);
        int entries = 0;
        rc = eb_multi_entry_count(&m_impl->book, list[m], &entries);
        if (rc != EB_SUCCESS) {
            fail("eb_multi_entry_count", rc);
            return out;
        }
        for (int e = 0; e < entries; ++e) {
            EbMultiEntry me;
            char label[EB_MAX_MULTI_LABEL_LENGTH + 1] = {0};
            rc = eb_multi_entry_label(&m_impl->book, list[m], e, label);
            if (rc != EB_SUCCESS) fail("eb_multi_entry_label", rc);
            me.label = eucToSjis(label);
            me.hasCandidates = eb_multi_entry_have_candidates(&m_impl->book, list[m], e) != 0;
            EB_Position pos;
            if (me.hasCandidates && eb_multi_entry_candidates(&m_impl->book, list[m], e, &pos) == EB_SUCCESS) {
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

// Candidate hooks: each candidate's end writes markers that the probe
// splits: "\x01" (a word) or "\x02block:offset\x04" (a group), then the
// candidate, then "\x03".
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
    if (!selectForText(subbook) || !seek(block, offset)) return out;
    EB_Hookset hooks;
    eb_initialize_hookset(&hooks);
    const EB_Hook set[] = {{EB_HOOK_END_CANDIDATE_LEAF, candidateHook},
                           {EB_HOOK_END_CANDIDATE_GROUP, candidateHook},
                           {EB_HOOK_NULL, nullptr}};
    eb_set_hooks(&hooks, set);
    std::string text;
    EB_Error_Code rc = readRaw(&m_impl->book, eb_read_text, &hooks, nullptr, 64 * 4096, &text);
    if (rc != EB_SUCCESS) fail("eb_read_text", rc);
    eb_finalize_hookset(&hooks);
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
    if (maxHits < 1 || !select(subbook)) return {};
    const EucWords euc(words, EB_MAX_MULTI_ENTRIES);
    EB_Error_Code rc = eb_search_multi(&m_impl->book, multi, euc.list());
    if (rc != EB_SUCCESS) {
        fail("eb_search_multi", rc);
        return {};
    }
    return hitList(maxHits);
}

}  // namespace lftest
