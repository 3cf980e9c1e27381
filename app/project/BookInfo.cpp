#include "app/project/BookInfo.h"

BookInfo::BookInfo() : m_separateMMData(false), m_bookTypeID(0x60), m_hanStart(0xA121), m_zenStart(0xB121) {
    for (int slot = 0; slot < FONT_SLOTS; ++slot) m_fontNames[slot] = initialFontName(slot);
}

const char* BookInfo::initialFontName(int slot) {
    if (slot == FONT_SLOT_8X16) return "GAI16H00";
    if (slot == FONT_SLOT_16X16) return "GAI16F00";
    return "";
}

const std::string& BookInfo::fontName(int slot) const {
    static const std::string kNone;
    return slot >= 0 && slot < FONT_SLOTS ? m_fontNames[slot] : kNone;
}

void BookInfo::setFontName(int slot, const std::string& name) {
    if (slot >= 0 && slot < FONT_SLOTS) m_fontNames[slot] = name;
}
