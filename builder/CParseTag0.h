// Tokenizer of tagged source text (HTML subset, JEPAX dictionary markup, the
// builder's own definition files): cuts text into text runs and tags, names
// each tag by a numeric code from a fixed table and records up to five
// attributes. Bytes are not decoded, so Shift_JIS and UTF-8 characters pass
// through unchanged.
//
// Two ways of use: nextToken reads a file opened with open, parseTag reads one
// token from a buffer in memory. The object also keeps a small stack of
// context codes and a line counter for its users.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// Tag codes. A start tag gives the first code of its row, an end tag the
// second; rows with one code have no separate end form.
enum {
    TAG_TEXT = 0,  // a text run
    TAG_META = 1,
    TAG_HTML = 2,
    TAG_HTML_END = 3,
    TAG_HEAD = 4,
    TAG_HEAD_END = 5,
    TAG_TITLE = 6,
    TAG_TITLE_END = 7,
    TAG_BODY = 8,
    TAG_BODY_END = 9,
    TAG_IMG = 10,
    TAG_IMG_END = 11,
    TAG_H1 = 12,
    TAG_H1_END = 13,
    TAG_H2 = 14,
    TAG_H2_END = 15,
    TAG_H3 = 16,
    TAG_H3_END = 17,
    TAG_H4 = 18,
    TAG_H4_END = 19,
    TAG_H5 = 20,
    TAG_H5_END = 21,
    TAG_H6 = 22,
    TAG_H6_END = 23,
    TAG_P = 24,
    TAG_P_END = 25,
    TAG_A = 26,
    TAG_A_END = 27,
    TAG_UL = 28,
    TAG_UL_END = 29,
    TAG_OL = 30,
    TAG_OL_END = 31,
    TAG_DL = 32,
    TAG_DL_END = 33,
    TAG_LI = 34,
    TAG_LI_END = 35,
    TAG_DT = 36,
    TAG_DT_END = 37,
    TAG_DD = 38,
    TAG_DD_END = 39,
    TAG_BR = 40,
    TAG_B = 41,
    TAG_B_END = 42,
    TAG_I = 43,
    TAG_I_END = 44,
    TAG_U = 45,
    TAG_U_END = 46,
    TAG_SUP = 47,
    TAG_SUP_END = 48,
    TAG_SUB = 49,
    TAG_SUB_END = 50,
    TAG_NOBR = 51,
    TAG_NOBR_END = 52,
    TAG_STRONG = 53,
    TAG_STRONG_END = 54,
    TAG_EM = 55,
    TAG_EM_END = 56,
    TAG_CITE = 57,
    TAG_CITE_END = 58,
    TAG_DFN = 59,
    TAG_DFN_END = 60,
    TAG_DIV = 61,
    TAG_DIV_END = 62,
    TAG_SPAN = 63,
    TAG_SPAN_END = 64,
    TAG_RUBY = 65,
    TAG_RUBY_END = 66,
    TAG_RB = 67,
    TAG_RB_END = 68,
    TAG_RT = 69,
    TAG_RT_END = 70,
    TAG_PRE = 71,
    TAG_PRE_END = 72,
    TAG_TABLE = 73,
    TAG_TABLE_END = 74,
    TAG_TR = 75,
    TAG_TR_END = 76,
    TAG_TH = 77,
    TAG_TH_END = 78,
    TAG_TD = 79,
    TAG_TD_END = 80,
    TAG_CAPTION = 81,
    TAG_CAPTION_END = 82,
    TAG_BLOCKQUOTE = 83,
    TAG_BLOCKQUOTE_END = 84,
    TAG_OBJECT = 85,
    TAG_OBJECT_END = 86,
    TAG_DEL = 87,
    TAG_DEL_END = 88,
    TAG_GAIJIDATA = 89,
    TAG_GAIJIDATA_END = 90,
    TAG_FONTSET = 91,
    TAG_FONTSET_END = 92,
    TAG_FONTDATA = 93,
    TAG_FONTDATA_END = 94,
    TAG_GAIJISET = 95,
    TAG_GAIJISET_END = 96,
    TAG_GAIJIMAP = 97,
    TAG_GAIJIMAP_END = 98,
    TAG_COMPLEX = 99,
    TAG_COMPLEX_END = 100,
    TAG_GROUP = 101,
    TAG_GROUP_END = 102,
    TAG_CATEGORY = 103,
    TAG_CATEGORY_END = 104,
    TAG_SUBCATEGORY = 105,
    TAG_SUBCATEGORY_END = 106,
    TAG_ATTR = 107,
    TAG_ATTR_END = 108,
    TAG_KEYWORD = 109,
    TAG_KEYWORD_END = 110,
    TAG_JEPAX = 111,
    TAG_JEPAX_END = 112,
    TAG_JEPAXINFO = 113,
    TAG_JEPAXINFO_END = 114,
    TAG_BOOKINFO = 115,
    TAG_BOOKINFO_END = 116,
    TAG_BOOK_TITLE = 117,
    TAG_BOOK_TITLE_END = 118,
    TAG_FRONT = 119,
    TAG_FRONT_END = 120,
    TAG_BACK = 121,
    TAG_BACK_END = 122,
    TAG_NO = 123,
    TAG_NO_END = 124,
    TAG_GI = 125,
    TAG_GI_END = 126,
    TAG_REF = 127,
    TAG_REF_END = 128,
    TAG_NOTE = 129,
    TAG_NOTE_END = 130,
    TAG_RES = 131,
    TAG_RES_END = 132,
    TAG_FLOAT = 133,
    TAG_FLOAT_END = 134,
    TAG_KEY = 135,
    TAG_KEY_END = 136,
    TAG_MLG = 137,
    TAG_MLG_END = 138,
    TAG_DICX = 139,
    TAG_DICX_END = 140,
    TAG_SUBHEADWORD = 141,
    TAG_SUBHEADWORD_END = 142,
    TAG_DIC_ITEM = 143,
    TAG_DIC_ITEM_END = 144,
    TAG_HEADWORD = 145,
    TAG_HEADWORD_END = 146,
    TAG_MEANING = 147,
    TAG_MEANING_END = 148,
    TAG_EXAMPLE = 149,
    TAG_EXAMPLE_END = 150,
    TAG_INDEX = 151,
    TAG_INDEX_END = 152,
    TAG_MEANING_HEAD = 153,
    TAG_MEANING_HEAD_END = 154,
    TAG_SUBHEAD = 155,
    TAG_SUBHEAD_END = 156,
    TAG_EA = 157,
    TAG_EA_END = 158,
    TAG_INDENT = 159,
    TAG_INDENT_END = 160,
    TAG_X4081 = 161,
    TAG_X4081_END = 162,
    TAG_COMMENT = 163,  // "<!" ... and every "<!--" comment
    TAG_XML = 164,      // "<?xml"
    TAG_UNKNOWN = 165   // a tag whose name is not in the table
};

// One attribute of a tag. The pointers point into the token text; the
// strings are not zero-terminated. A quoted value runs to its closing quote;
// an unquoted one ends at white space, ',', '/', '>' or a quote. A comment
// "<!--" is one token up to its "-->".
struct TAG_ATTR_ITEM {
    const char* name;
    int32_t nameLen;
    const char* value;
    int32_t valueLen;
};

// Description of one token.
struct TAG_ITEM {
    int32_t code;           // TAG_TEXT, a table code, TAG_COMMENT or TAG_UNKNOWN
    TAG_ATTR_ITEM attr[5];  // the first slot with a null name ends the list
    int32_t isEndTag;       // 1 for "</..." and for a tag holding '/' after its name
};

class CParseTag0 {
public:
    static constexpr int kBufferSize = 65536;  // token buffer, terminating zero included
    static constexpr int kStackSize = 40;
    static constexpr int kEmptyStackCode = 28;  // pop/top of an empty stack

    CParseTag0();
    virtual ~CParseTag0();
    CParseTag0(const CParseTag0&) = delete;
    CParseTag0& operator=(const CParseTag0&) = delete;

    // Empties the code stack and sets the line number to 1.
    void reset();

    // Opens path for reading (line number 1); a UTF-8 byte-order mark at its
    // start is passed over. 0, or -1 when the file cannot be opened or the
    // token buffer cannot be allocated.
    int open(const char* path);
    // Closes the file and frees the token buffer; harmless when already closed.
    void close();

    // Reads the next token of the open file: *text points to the token (in the
    // object's buffer, zero-terminated, valid until the next call), tag is
    // filled, and the token's length is returned; 0 at the end of the file,
    // with no file open, or when only blanks and control characters remained.
    // Without keepSpace every run of blanks becomes one space and a line break
    // alone becomes nothing; with keepSpace white space and line breaks stay.
    // Leading line breaks kept by keepSpace that are followed by a tag come
    // as a text token of their own before the tag.
    int nextToken(char** text, TAG_ITEM* tag, int keepSpace);

    // Reads one token at the start of buffer (length bytes); fills tag and
    // returns the number of bytes consumed. Leading control characters are
    // skipped (spaces are not); a text run ends before '<', CR, LF or tab, a
    // tag just after its closing '>' (or at the end of the buffer). Attribute
    // pointers point into buffer. When tokenStart is given it receives the
    // index where the token begins (after the skipped control characters).
    int parseTag(const char* buffer, TAG_ITEM* tag, int length, int* tokenStart = nullptr);

    // 1 plus the number of line feeds consumed from the file.
    int line() const { return m_line; }

    // 1 when the last token of nextToken was cut because it did not fit in
    // the token buffer (the rest comes as the next token); the cut is made at
    // a character boundary.
    int tokenWasCut() const { return m_cut; }

    // Context stack: push beyond 40 entries is ignored; pop and top of an
    // empty stack return 28.
    void push(int code);
    int pop();
    int top() const;

private:
    int readByte();
    void unreadByte(int c);
    static void analyse(const char* tagText, int len, TAG_ITEM* tag);

    int32_t m_stack[kStackSize];
    int32_t m_stackIndex;
    std::unique_ptr<char[]> m_buffer;
    FILE* m_file;
    int32_t m_line;
    int32_t m_cut;
    std::vector<unsigned char> m_pushBack;  // bytes read ahead, last one on top
};
