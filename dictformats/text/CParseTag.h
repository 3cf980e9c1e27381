// Cuts a text held in memory into text runs and tags, each tag with its name
// and up to 128 attribute name/value spans. Nothing is copied: every span
// points into the caller's text, which must outlive the tokens.
#pragma once

#include <cstdint>

struct ATTR_SPAN {
    const char* name;  // null: an empty slot
    uint32_t nameLength;
    const char* value;  // null when the attribute has no value
    uint32_t valueLength;
};

struct PARSE_TOKEN {
    enum { kMaxAttributes = 128 };
    enum Type { kStartTag = 0, kEndTag = 1, kEmptyTag = 2, kText = 3 };
    uint32_t start;   // offset of the text run, or of the tag's name
    uint32_t length;  // length of the text run or of the name
    ATTR_SPAN attributes[kMaxAttributes];
    uint32_t type;
};

class CParseTag {
public:
    CParseTag() = default;
    virtual ~CParseTag() = default;

    // The text to cut (length bytes; 0 bytes inside are ordinary characters);
    // starts at its beginning.
    void setText(const char* text, uint32_t length);
    // Whether white space before a token is skipped (on after construction). A
    // run of white space ending in a space leaves that one space to begin the
    // next text run; other white space before a tag is dropped.
    void setSkipSpace(int on) { m_skipSpace = on; }

    // Fills token with the next token and returns the bytes it covers (from its
    // first character after skipped white space to just past its end), or -1
    // when the text is used up.
    int getToken(PARSE_TOKEN* token);

private:
    const char* m_text = nullptr;
    uint32_t m_length = 0;
    uint32_t m_pos = 0;
    int m_skipSpace = 1;
};
