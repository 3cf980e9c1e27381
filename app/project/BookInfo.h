// One book of the project: its sources in build order, title, directory
// name, book type, gaiji ranges, the paths of its side files and the file
// names of its eight gaiji fonts. Texts are UTF-8; empty means none. Values
// are stored as given: what a build takes of them is the build's business.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/project/SourceInfo.h"
#include "builder/ConvertOpt.h"

class BookInfo {
public:
    // Type 0x60 (general book), gaiji from 0xA121 and 0xB121, the fonts
    // "GAI16H00" (8x16) and "GAI16F00" (16x16), everything else empty.
    BookInfo();

    // The source list itself: callers add, remove and replace sources in it.
    std::vector<SourceInfo>& getSource() { return m_sources; }
    const std::vector<SourceInfo>& getSource() const { return m_sources; }

    bool separateMMData() const { return m_separateMMData; }
    void setSeparateMMData(bool separate) { m_separateMMData = separate; }
    int bookTypeID() const { return m_bookTypeID; }
    void setBookTypeID(int type) { m_bookTypeID = type; }
    uint32_t hanStart() const { return m_hanStart; }
    void setHanStart(uint32_t code) { m_hanStart = code; }
    uint32_t zenStart() const { return m_zenStart; }
    void setZenStart(uint32_t code) { m_zenStart = code; }

    const std::string& bookTitle() const { return m_bookTitle; }
    void setBookTitle(const std::string& title) { m_bookTitle = title; }
    const std::string& dirName() const { return m_dirName; }
    void setDirName(const std::string& name) { m_dirName = name; }
    const std::string& complexDef() const { return m_complexDef; }
    void setComplexDef(const std::string& path) { m_complexDef = path; }
    const std::string& copyright() const { return m_copyright; }
    void setCopyright(const std::string& path) { m_copyright = path; }
    const std::string& gaijiMap() const { return m_gaijiMap; }
    void setGaijiMap(const std::string& path) { m_gaijiMap = path; }
    const std::string& gaijiFont() const { return m_gaijiFont; }
    void setGaijiFont(const std::string& path) { m_gaijiFont = path; }
    const std::string& indexFile() const { return m_indexFile; }
    void setIndexFile(const std::string& path) { m_indexFile = path; }

    // Gaiji font file names by slot, FONT_SLOT_8X16 to FONT_SLOT_48X48; a
    // slot outside that range reads as empty and stores nothing.
    const std::string& fontName(int slot) const;
    void setFontName(int slot, const std::string& name);

    const std::string& g8x16() const { return fontName(FONT_SLOT_8X16); }
    void setG8x16(const std::string& name) { setFontName(FONT_SLOT_8X16, name); }
    const std::string& g16x16() const { return fontName(FONT_SLOT_16X16); }
    void setG16x16(const std::string& name) { setFontName(FONT_SLOT_16X16, name); }
    const std::string& g12x24() const { return fontName(FONT_SLOT_12X24); }
    void setG12x24(const std::string& name) { setFontName(FONT_SLOT_12X24, name); }
    const std::string& g24x24() const { return fontName(FONT_SLOT_24X24); }
    void setG24x24(const std::string& name) { setFontName(FONT_SLOT_24X24, name); }
    const std::string& g16x30() const { return fontName(FONT_SLOT_16X30); }
    void setG16x30(const std::string& name) { setFontName(FONT_SLOT_16X30, name); }
    const std::string& g32x30() const { return fontName(FONT_SLOT_32X30); }
    void setG32x30(const std::string& name) { setFontName(FONT_SLOT_32X30, name); }
    const std::string& g24x48() const { return fontName(FONT_SLOT_24X48); }
    void setG24x48(const std::string& name) { setFontName(FONT_SLOT_24X48, name); }
    const std::string& g48x48() const { return fontName(FONT_SLOT_48X48); }
    void setG48x48(const std::string& name) { setFontName(FONT_SLOT_48X48, name); }

    // The initial file name of a font slot ("GAI16H00", "GAI16F00" or empty).
    static const char* initialFontName(int slot);

private:
    std::vector<SourceInfo> m_sources;
    bool m_separateMMData;
    int m_bookTypeID;
    uint32_t m_hanStart;
    uint32_t m_zenStart;
    std::string m_bookTitle;
    std::string m_dirName;
    std::string m_complexDef;
    std::string m_copyright;
    std::string m_gaijiMap;
    std::string m_gaijiFont;
    std::string m_indexFile;
    std::string m_fontNames[FONT_SLOTS];
};
