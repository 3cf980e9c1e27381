// The navigation records of a book that the source readers register while
// the body text is written: menu items, named anchors and link sites. The
// book writer turns them into the menu area and patches the link sites once
// every source has been read.
#pragma once

#include <cstdint>

#include "foundation/book/CBlockStream.h"

// One menu item. Items are kept in the order of addition; index 0 is the
// first item and therefore never a child or a sibling, so 0 means "none".
struct MENU_ENTRY {
    const char* prefix;  // text written before the item text, or null
    uint8_t prefixLen;
    const char* text;  // item text in the string table
    uint8_t textLen;
    uint32_t nextSibling;   // next item on the same page, 0 for none
    uint32_t firstChild;    // first item of the submenu, 0 for none
    BLOCK_POS target;       // body text the item refers to
    BLOCK_POS placeholder;  // where the menu writer put the item's reference
    uint16_t level;         // 0 = top
};

// One named anchor. The name lives in the string table; it is not
// terminated.
struct ANCHOR_ENTRY {
    const char* name;
    BLOCK_POS position;
    uint8_t nameLen;
    int source;  // index of the source being read when the anchor was met
};

// Kinds of LINK_ENTRY.
enum { LINK_ANCHOR = 0, LINK_RECORD = 1 };

// One link site: a reference whose six-byte BCD placeholder is patched with
// the target's position after the last source.
struct LINK_ENTRY {
    const char* target;  // anchor part (after the first "#"), or the decimal
                         // text of a record number; in the string table
    BLOCK_POS site;      // the placeholder in the body
    uint8_t targetLen;
    int source;  // source whose anchors the target is looked up among
    int from;    // source the link was read from (for the build log)
    int kind;    // LINK_ANCHOR or LINK_RECORD
    int page;    // source a target without "#" names as a whole, -1 for none
};
