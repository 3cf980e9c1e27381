// One event stream for book text, produced two ways: by our decoder through a
// hook set that writes one token per event, and by the EB Library's
// eb_read_text through hooks that push the same tokens. Comparing the two
// streams entry by entry says which side disagrees and where.
//
// Tokens: "c XXXX" JIS X 0208 character, "n XX" a narrow character by its
// one-byte form ("n XXXX" by its JIS code when it has none),
// "a XX" one-byte character, "gh XXXX" / "gz XXXX" narrow / wide gaiji,
// "nl", "indent N", "kw+" / "kw-", "ref+" / "ref- B:O", "menu+" /
// "menu- B:O", "sub+" "sub-" "sup+" "sup-" "narrow+" "narrow-" "nobr+"
// "nobr-", "emph+" / "emph-", "deco+ N" / "deco-", "wave B:O-B:O" / "wave-",
// "fig+" / "fig-", "mpeg+" / "mpeg-", "u XXXX".
#pragma once

#include <eb/eb.h>
#include <eb/error.h>
#include <eb/text.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/text/TagHooks.h"
#include "foundation/codes/jclib.h"

namespace lftest {

typedef std::vector<std::string> EventList;

inline std::string hex4(unsigned v) {
    char b[16];
    snprintf(b, sizeof b, "%04X", v);
    return b;
}

inline std::string position(unsigned block, unsigned offset) {
    char b[32];
    snprintf(b, sizeof b, "%u:%u", block, offset);
    return b;
}

// ---- our side -------------------------------------------------------------

namespace ourside {

inline void token(RENDER_CONTEXT& ctx, const std::string& t) {
    std::string line = t + "\n";
    appendTag(ctx, line.data(), line.size());
}

inline void character(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    if (ctx.param == 0) return;
    if (ctx.param < 0x100) {
        char b[8];
        snprintf(b, sizeof b, "a %02X", ctx.param);
        token(ctx, b);
    } else if (ctx.narrow) {
        // Narrow characters as their one-byte form when they have one.
        unsigned folded = jclib::zenkakuToHankaku(jclib::jisToSjis(ctx.param));
        char b[8];
        if (folded <= 0xFF)
            snprintf(b, sizeof b, "n %02X", folded);
        else
            snprintf(b, sizeof b, "n %04X", ctx.param);
        token(ctx, b);
    } else {
        token(ctx, "c " + hex4(ctx.param));
    }
    ctx.textBytes += 1;
}
#define LF_EVENT(name, text)                                        \
    inline void name(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) { \
        token(ctx, text);                                           \
    }
LF_EVENT(beginKeyword, "kw+")
LF_EVENT(endKeyword, "kw-")
LF_EVENT(beginReference, "ref+")
LF_EVENT(beginMenu, "menu+")
LF_EVENT(beginSub, "sub+")
LF_EVENT(endSub, "sub-")
LF_EVENT(beginSup, "sup+")
LF_EVENT(endSup, "sup-")
LF_EVENT(beginNarrow, "narrow+")
LF_EVENT(endNarrow, "narrow-")
LF_EVENT(beginNoBreak, "nobr+")
LF_EVENT(endNoBreak, "nobr-")
LF_EVENT(newline, "nl")
LF_EVENT(beginFigure, "fig+")
LF_EVENT(endFigure, "fig-")
LF_EVENT(beginMovie, "mpeg+")
LF_EVENT(endMovie, "mpeg-")
LF_EVENT(endSound, "wave-")
#undef LF_EVENT
inline void narrowGaiji(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, "gh " + hex4(ctx.param));
    ctx.textBytes += 1;
}
inline void wideGaiji(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, "gz " + hex4(ctx.param));
    ctx.textBytes += 1;
}
inline void unicode(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, "u " + hex4(ctx.param));
}
inline void indent(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, "indent " + std::to_string(ctx.param));
}
inline void endReference(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, "ref- " + position(ctx.linkBlock, ctx.linkOffset));
}
inline void endMenu(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, "menu- " + position(ctx.linkBlock, ctx.linkOffset));
}
inline void beginBold(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, ctx.code == 0x1FE0 ? "deco+ " + std::to_string(ctx.param) : std::string("emph+"));
}
inline void endBold(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, ctx.code == 0x1FE1 ? "deco-" : "emph-");
}
inline void beginSound(RENDER_CONTEXT& ctx, const MEDIA_ARGS*, int) {
    token(ctx, "wave " + position(ctx.linkBlock, ctx.linkOffset) + "-" + position(ctx.link2Block, ctx.link2Offset));
}

// The event hook set; heading: a line end or a menu end stops it.
inline TAG_HOOKS hooks(bool heading) {
    TAG_HOOKS h;
    for (auto& s : h.slot) s = nullptr;
    h.slot[SLOT_CHARACTER] = character;
    h.slot[SLOT_NARROW_GAIJI] = narrowGaiji;
    h.slot[SLOT_WIDE_GAIJI] = wideGaiji;
    h.slot[SLOT_UNICODE] = unicode;
    h.slot[SLOT_BEGIN_HEADING] = beginKeyword;
    h.slot[SLOT_END_HEADING] = endKeyword;
    h.slot[SLOT_BEGIN_REFERENCE] = beginReference;
    h.slot[SLOT_END_REFERENCE] = endReference;
    h.slot[SLOT_BEGIN_MENU] = beginMenu;
    h.slot[SLOT_END_MENU] = heading ? stopHook : endMenu;
    h.slot[SLOT_BEGIN_SUB] = beginSub;
    h.slot[SLOT_END_SUB] = endSub;
    h.slot[SLOT_BEGIN_SUP] = beginSup;
    h.slot[SLOT_END_SUP] = endSup;
    h.slot[SLOT_BEGIN_NARROW] = beginNarrow;
    h.slot[SLOT_END_NARROW] = endNarrow;
    h.slot[SLOT_BEGIN_NO_BREAK] = beginNoBreak;
    h.slot[SLOT_END_NO_BREAK] = endNoBreak;
    h.slot[SLOT_INDENT] = indent;
    h.slot[SLOT_NEWLINE] = heading ? stopHook : newline;
    h.slot[SLOT_BEGIN_BOLD] = beginBold;
    h.slot[SLOT_END_BOLD] = endBold;
    // Decoration 1 (italic) and other decorations are one event family.
    h.slot[SLOT_BEGIN_ITALIC] = beginBold;
    h.slot[SLOT_END_ITALIC] = endBold;
    h.slot[SLOT_BEGIN_SOUND] = beginSound;
    h.slot[SLOT_END_SOUND] = endSound;
    h.slot[SLOT_BEGIN_FIGURE] = beginFigure;
    h.slot[SLOT_END_FIGURE] = endFigure;
    h.slot[SLOT_BEGIN_MOVIE] = beginMovie;
    h.slot[SLOT_END_MOVIE] = endMovie;
    return h;
}

}  // namespace ourside

inline EventList splitEvents(const std::string& text) {
    EventList out;
    size_t from = 0;
    for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        out.push_back(text.substr(from, nl - from));
    return out;
}

// Our events of the text (or heading) at block:offset, and where it ended.
inline EventList ourEvents(CEBReader& reader, unsigned block, unsigned offset, bool heading, uint64_t* end = nullptr) {
    static std::vector<char> buf(1 << 20);
    TAG_HOOKS h = ourside::hooks(heading);
    reader.seekBlock(block);
    if (offset) reader.setOffset(static_cast<int>(offset));
    uint32_t n = 0;
    reader.decodeText(&h, buf.data(), static_cast<uint32_t>(buf.size()), &n, 1, 0);
    if (end) *end = reader.lastTextEnd();
    return splitEvents(std::string(buf.data(), n));
}

// ---- the EB Library's side --------------------------------------------------

namespace ebside {

constexpr int kEventMark = 0x01;

inline EventList* eventsOf(void* container) {
    return static_cast<EventList*>(container);
}

inline EB_Error_Code push(EB_Book* book, void* container, const std::string& t) {
    eventsOf(container)->push_back(t);
    // Each event leaves a mark in the text, so that what the library writes
    // itself (narrow characters) falls between the right events.
    return eb_write_text_byte1(book, kEventMark);
}

inline EB_Error_Code onEvent(EB_Book* book, EB_Appendix*, void* container, EB_Hook_Code code, int argc,
                             const unsigned int* argv) {
    unsigned a0 = argc > 0 ? argv[0] : 0;
    switch (code) {
        case EB_HOOK_WIDE_JISX0208:
            return push(book, container, "c " + hex4(a0 & 0x7F7F));
        case EB_HOOK_ISO8859_1: {
            char b[8];
            snprintf(b, sizeof b, "a %02X", a0);
            return push(book, container, b);
        }
        case EB_HOOK_NARROW_FONT:
            return push(book, container, "gh " + hex4(a0));
        case EB_HOOK_WIDE_FONT:
            return push(book, container, "gz " + hex4(a0));
        case EB_HOOK_NEWLINE:
            return push(book, container, "nl");
        case EB_HOOK_SET_INDENT:
            return push(book, container, "indent " + std::to_string(argc > 1 ? argv[1] : 0));
        case EB_HOOK_BEGIN_KEYWORD:
            return push(book, container, "kw+");
        case EB_HOOK_END_KEYWORD:
            return push(book, container, "kw-");
        case EB_HOOK_BEGIN_REFERENCE:
            return push(book, container, "ref+");
        case EB_HOOK_END_REFERENCE:
            return push(book, container, "ref- " + position(argv[1], argv[2]));
        case EB_HOOK_BEGIN_CANDIDATE:
            return push(book, container, "menu+");
        case EB_HOOK_END_CANDIDATE_GROUP:
            return push(book, container, "menu- " + position(argv[1], argv[2]));
        case EB_HOOK_END_CANDIDATE_LEAF:
            return push(book, container, "menu- leaf");
        case EB_HOOK_BEGIN_SUBSCRIPT:
            return push(book, container, "sub+");
        case EB_HOOK_END_SUBSCRIPT:
            return push(book, container, "sub-");
        case EB_HOOK_BEGIN_SUPERSCRIPT:
            return push(book, container, "sup+");
        case EB_HOOK_END_SUPERSCRIPT:
            return push(book, container, "sup-");
        case EB_HOOK_BEGIN_NARROW:
            return push(book, container, "narrow+");
        case EB_HOOK_END_NARROW:
            return push(book, container, "narrow-");
        case EB_HOOK_BEGIN_NO_NEWLINE:
            return push(book, container, "nobr+");
        case EB_HOOK_END_NO_NEWLINE:
            return push(book, container, "nobr-");
        case EB_HOOK_BEGIN_EMPHASIS:
            return push(book, container, "emph+");
        case EB_HOOK_END_EMPHASIS:
            return push(book, container, "emph-");
        case EB_HOOK_BEGIN_DECORATION:
            return push(book, container, "deco+ " + std::to_string(argc > 1 ? argv[1] : 0));
        case EB_HOOK_END_DECORATION:
            return push(book, container, "deco-");
        case EB_HOOK_BEGIN_WAVE:
            return push(book, container, "wave " + position(argv[2], argv[3]) + "-" + position(argv[4], argv[5]));
        case EB_HOOK_END_WAVE:
            return push(book, container, "wave-");
        case EB_HOOK_BEGIN_MPEG:
            return push(book, container, "mpeg+");
        case EB_HOOK_END_MPEG:
            return push(book, container, "mpeg-");
        case EB_HOOK_BEGIN_MONO_GRAPHIC:
        case EB_HOOK_BEGIN_COLOR_BMP:
        case EB_HOOK_BEGIN_COLOR_JPEG:
        case EB_HOOK_BEGIN_IN_COLOR_BMP:
        case EB_HOOK_BEGIN_IN_COLOR_JPEG:
            return push(book, container, "fig+");
        case EB_HOOK_END_MONO_GRAPHIC:
        case EB_HOOK_END_COLOR_GRAPHIC:
        case EB_HOOK_END_IN_COLOR_GRAPHIC:
            return push(book, container, "fig-");
        case EB_HOOK_BEGIN_UNICODE:
            return push(book, container, "u");
        default:
            return EB_SUCCESS;
    }
}

}  // namespace ebside

// One subbook of a book directory read through the EB Library.
class EbEventReader {
public:
    EbEventReader(const std::string& bookDir, int subbook = 0) {
        static const bool initialized = eb_initialize_library() == EB_SUCCESS;
        (void)initialized;
        eb_initialize_book(&m_book);
        eb_initialize_hookset(&m_hooks);
        eb_initialize_hookset(&m_headingHooks);
        static const EB_Hook_Code kCodes[] = {EB_HOOK_WIDE_JISX0208,
                                              EB_HOOK_ISO8859_1,
                                              EB_HOOK_NARROW_FONT,
                                              EB_HOOK_WIDE_FONT,
                                              EB_HOOK_NEWLINE,
                                              EB_HOOK_SET_INDENT,
                                              EB_HOOK_BEGIN_KEYWORD,
                                              EB_HOOK_END_KEYWORD,
                                              EB_HOOK_BEGIN_REFERENCE,
                                              EB_HOOK_END_REFERENCE,
                                              EB_HOOK_BEGIN_CANDIDATE,
                                              EB_HOOK_END_CANDIDATE_GROUP,
                                              EB_HOOK_END_CANDIDATE_LEAF,
                                              EB_HOOK_BEGIN_SUBSCRIPT,
                                              EB_HOOK_END_SUBSCRIPT,
                                              EB_HOOK_BEGIN_SUPERSCRIPT,
                                              EB_HOOK_END_SUPERSCRIPT,
                                              EB_HOOK_BEGIN_NARROW,
                                              EB_HOOK_END_NARROW,
                                              EB_HOOK_BEGIN_NO_NEWLINE,
                                              EB_HOOK_END_NO_NEWLINE,
                                              EB_HOOK_BEGIN_EMPHASIS,
                                              EB_HOOK_END_EMPHASIS,
                                              EB_HOOK_BEGIN_DECORATION,
                                              EB_HOOK_END_DECORATION,
                                              EB_HOOK_BEGIN_WAVE,
                                              EB_HOOK_END_WAVE,
                                              EB_HOOK_BEGIN_MPEG,
                                              EB_HOOK_END_MPEG,
                                              EB_HOOK_BEGIN_MONO_GRAPHIC,
                                              EB_HOOK_BEGIN_COLOR_BMP,
                                              EB_HOOK_BEGIN_COLOR_JPEG,
                                              EB_HOOK_BEGIN_IN_COLOR_BMP,
                                              EB_HOOK_BEGIN_IN_COLOR_JPEG,
                                              EB_HOOK_END_MONO_GRAPHIC,
                                              EB_HOOK_END_COLOR_GRAPHIC,
                                              EB_HOOK_END_IN_COLOR_GRAPHIC,
                                              EB_HOOK_BEGIN_UNICODE};
        for (EB_Hook_Code c : kCodes) {
            EB_Hook hook = {c, ebside::onEvent};
            eb_set_hook(&m_hooks, &hook);
            eb_set_hook(&m_headingHooks, &hook);
        }
        EB_Error_Code rc = eb_bind(&m_book, bookDir.c_str());
        EB_Subbook_Code codes[EB_MAX_SUBBOOKS];
        int count = 0;
        if (rc == EB_SUCCESS) rc = eb_subbook_list(&m_book, codes, &count);
        if (rc == EB_SUCCESS && subbook < count) rc = eb_set_subbook(&m_book, codes[subbook]);
        m_ok = rc == EB_SUCCESS && subbook < count;
        if (!m_ok) m_error = eb_error_message(rc);
    }
    ~EbEventReader() {
        eb_finalize_hookset(&m_hooks);
        eb_finalize_hookset(&m_headingHooks);
        eb_finalize_book(&m_book);
    }
    EbEventReader(const EbEventReader&) = delete;
    EbEventReader& operator=(const EbEventReader&) = delete;

    bool ok() const { return m_ok; }
    const std::string& error() const { return m_error; }
    EB_Book* book() { return &m_book; }

    // The events of the text (or heading) at block:offset.
    EventList events(unsigned block, unsigned offset, bool heading) {
        EventList out;
        EB_Position pos;
        pos.page = static_cast<int>(block);
        pos.offset = static_cast<int>(offset);
        if (eb_seek_text(&m_book, &pos) != EB_SUCCESS) return {"seek failed"};
        char buf[4096];
        std::string text;
        EventList marked;
        for (int guard = 0; guard < 100000; ++guard) {
            ssize_t n = 0;
            EB_Error_Code rc = heading ? eb_read_heading(&m_book, nullptr, &m_headingHooks, &out, sizeof buf, buf, &n)
                                       : eb_read_text(&m_book, nullptr, &m_hooks, &out, sizeof buf, buf, &n);
            if (rc != EB_SUCCESS) {
                out.push_back(std::string("error ") + eb_error_message(rc));
                break;
            }
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
        }
        // Events in text order: a mark takes the next hook event, other bytes
        // are narrow characters the library wrote itself.
        size_t next = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            unsigned char b = static_cast<unsigned char>(text[i]);
            if (b == ebside::kEventMark) {
                if (next < out.size()) marked.push_back(out[next++]);
            } else if (b >= 0x80 && i + 1 < text.size()) {
                unsigned code = ((b << 8) | static_cast<unsigned char>(text[++i])) & 0x7F7F;
                marked.push_back("n " + hex4(code));
            } else {
                char one[8];
                snprintf(one, sizeof one, "n %02X", b);
                marked.push_back(one);
            }
        }
        for (; next < out.size(); ++next) marked.push_back(out[next]);
        return marked;
    }

    // Start of the text after the one at block:offset (eb_forward_text);
    // false at the end of the text area.
    bool next(unsigned* block, unsigned* offset) {
        EB_Position pos;
        pos.page = static_cast<int>(*block);
        pos.offset = static_cast<int>(*offset);
        if (eb_seek_text(&m_book, &pos) != EB_SUCCESS) return false;
        if (eb_forward_text(&m_book, nullptr) != EB_SUCCESS) return false;
        if (eb_tell_text(&m_book, &pos) != EB_SUCCESS) return false;
        *block = static_cast<unsigned>(pos.page);
        *offset = static_cast<unsigned>(pos.offset);
        return true;
    }

private:
    EB_Book m_book;
    EB_Hookset m_hooks;
    EB_Hookset m_headingHooks;
    bool m_ok = false;
    std::string m_error;
};

}  // namespace lftest
