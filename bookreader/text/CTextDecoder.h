// One decode of escape-coded book text into events: reads two-byte codes from
// the reader's current position, sorts each into a character, an external
// character or an escape, and calls the matching slot of a hook set. The
// decoder writes nothing itself; the hooks write the tagged text.
//
// Every loop over book bytes ends at the end block of the area the decode
// started in and at the first block that cannot be read, so a malformed book
// ends the decode early instead of running on.
#pragma once

#include <cstdint>

#include "bookreader/text/TagHooks.h"

class CEBReader;
struct READER_INDEX_INFO;

class CTextDecoder {
public:
    CTextDecoder(CEBReader& reader, const TAG_HOOKS* hooks);

    // Decodes from the reader's position into out; returns the bytes written
    // (also in *length) and records the start and end in the reader.
    uint32_t run(char* out, uint32_t capacity, uint32_t* length, int pageStop, int blockLimit);

    // The next code at the reader's position (one byte or two in ISO 8859-1
    // books, else a big-endian 16-bit code).
    static uint32_t readCode(CEBReader& reader);
    // Area ids whose references and figures describe the areas of a picture.
    static bool isMapArea(uint32_t id);
    // The start of the page before the reader's last decode; 0 when none.
    static uint64_t previousPageStart(CEBReader& reader);
    // The references of the menu page at the position as unsorted hits.
    static int menuToHits(CEBReader& reader, uint32_t block, uint32_t offset);

private:
    void call(int slot, int fold = 0);
    bool alive() const;
    bool pageRule(uint16_t code, uint32_t param);
    void readLink();
    uint32_t bcd(int n);
    void clearMedia();
    // x and y (BCD2 each) into the media record.
    void readPoint();
    // sub, code, x, y, width and height (BCD2 each; skipAfterSub: one BCD2
    // passed over after sub).
    void readMediaFields(bool skipAfterSub);
    void backScan(uint32_t startBlock, uint32_t startOffset);
    bool applySubstitution(uint16_t* code);
    void escape(uint16_t code);
    void escapeHexCode();
    void escapeDecoration();
    void emptyFigureTest();
    void skipCodesThrough(uint16_t endCode);

    CEBReader& m_reader;
    const TAG_HOOKS* m_hooks;
    RENDER_CONTEXT m_ctx;
    MEDIA_ARGS m_media;
    uint32_t m_endBlock = 0;
    uint32_t m_limitedEnd = 0;
    bool m_body = false;
    bool m_map = false;
    int m_pageStop = 0;
    uint16_t m_pageCode = 0;
    uint32_t m_pageParam = 0;
    int m_pageCounter = 0;
    int m_backOff = 0;
    bool m_bold = false;
    bool m_italic = false;
    bool m_noNewline = false;
    int m_figureParamsEnd = -1;  // offset after the last 0x1F44 / 0x1F4D parameters
    // An inline figure whose text is being decoded: what its start read,
    // for the end tag at 0x1F5C.
    struct InlineFigure {
        bool open = false;
        MEDIA_ARGS media{};
        uint32_t linkBlock = 0;
        uint16_t linkOffset = 0;
    };
    InlineFigure m_inline;
};
