// Menu of CEBBook: the items the source readers add while the body text is
// written, linked into a tree by their levels, and the menu area written
// after the last source (build step 12).
#include <cstdio>
#include <stdexcept>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "foundation/book/escapecodes.h"

namespace {

const size_t kMenuStackSize = 50;

// True when text holds only full-width blanks and single-byte white space.
bool isBlankText(const char* text, int len) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    for (int i = 0; i < len; ++i) {
        if (s[i] == 0x81 && i + 1 < len && s[i + 1] == 0x40) {
            ++i;
            continue;
        }
        if (s[i] != ' ' && s[i] != '\t' && s[i] != '\r' && s[i] != '\n') return false;
    }
    return true;
}

uint8_t len8(int n) {
    return static_cast<uint8_t>(n < 0 ? 0 : (n > 255 ? 255 : n));
}

void writeBcdPos(CBlockStream* s, const BLOCK_POS& p) {
    s->writeBcd(p.block, 4);
    s->writeBcd(p.offset, 2);
}

}  // namespace

int CEBBook::addMenuItem(int level, const BLOCK_POS& target, const char* text, int textLen, const char* prefix,
                         int prefixLen) {
    const int last = m_menu.empty() ? 0 : static_cast<int>(m_menu.size()) - 1;
    if (text == nullptr || textLen < 1 || isBlankText(text, textLen)) return last;
    if (level < 0) level = 0;
    if (level > 0xFFFF) level = 0xFFFF;
    const uint32_t index = static_cast<uint32_t>(m_menu.size());

    // Items deeper than or as deep as the new one are closed; the shallowest
    // of them is a sibling of the new item (a skipped level attaches the item
    // to the nearest shallower one). With nothing closed the top of the
    // stack is the new item's parent.
    bool closed = false;
    uint32_t lastClosed = 0;
    while (!m_menuStack.empty() && m_menuStack.back().level >= level) {
        lastClosed = m_menuStack.back().item;
        m_menuStack.pop_back();
        closed = true;
    }
    if (m_menuStack.size() >= kMenuStackSize) throw std::runtime_error("Stack Overflow(Menu)");
    if (closed)
        m_menu[lastClosed].nextSibling = index;
    else if (!m_menuStack.empty())
        m_menu[m_menuStack.back().item].firstChild = index;
    m_menuStack.push_back(MenuLevel{index, static_cast<uint16_t>(level)});

    MENU_ENTRY e{};
    e.prefix = prefixLen > 0 ? prefix : nullptr;
    e.prefixLen = prefix != nullptr ? len8(prefixLen) : 0;
    e.text = text;
    e.textLen = len8(textLen);
    e.target = target;
    e.level = static_cast<uint16_t>(level);
    m_menu.push_back(e);
    return static_cast<int>(index);
}

void CEBBook::writeMenu(CBlockStream* stream) {
    if (m_menu.empty()) return;
    if (m_gaiji) stream->setGaijiMap(m_gaiji->getGaijiMap());
    writeMenuPage(stream, 0, 0);
}

void CEBBook::writeMenuPage(CBlockStream* stream, uint32_t first, int depth) {
    // Depth is bounded by the level stack; a deeper chain can only come from
    // a corrupted list and is not followed.
    if (depth > static_cast<int>(kMenuStackSize)) return;
    stream->writeCode(EB_BEGIN_TEXT);
    for (uint32_t i = first;;) {
        checkAbort();
        MENU_ENTRY& e = m_menu[i];
        stream->writeCode(EB_BEGIN_MENU_ITEM);
        if (e.prefix != nullptr && e.prefixLen > 0) {
            stream->writeText(e.prefix, e.prefixLen, 1, 0);
            stream->writeText(" ", 1, 1, 0);
        }
        stream->writeText(e.text, e.textLen, 1, 0);
        stream->writeCode(EB_END_MENU_ITEM);
        stream->tell(&e.placeholder);
        writeBcdPos(stream, e.target);
        stream->writeCode(EB_NEWLINE);
        if (e.nextSibling == 0 || e.nextSibling >= m_menu.size()) break;
        i = e.nextSibling;
    }
    stream->writeCode(EB_END_TEXT);

    for (uint32_t i = first;;) {
        const uint32_t child = m_menu[i].firstChild;
        if (child != 0 && child < m_menu.size()) {
            BLOCK_POS page;
            stream->tell(&page);
            writeMenuPage(stream, child, depth + 1);
            BLOCK_POS end;
            stream->tell(&end);
            stream->seek(m_menu[i].placeholder);
            writeBcdPos(stream, page);
            stream->seek(end);
        }
        const uint32_t next = m_menu[i].nextSibling;
        if (next == 0 || next >= m_menu.size()) break;
        i = next;
    }
}

void CEBBook::writeMenuArea() {
    if (m_menu.empty() || !m_opt->idx[IDX_MENU]) return;
    checkAbort();
    message("Menu...");
    CBlockStream* s = new CBlockStream(m_nextBlock, 1);
    addArea(0x01, s, false);
    writeMenu(s);
    endArea(s);
    char line[32];
    std::snprintf(line, sizeof line, "(%d)\r\n", static_cast<int>(m_menu.size()));
    message(line);
}
