// Reader of plain text sources: every line of the file becomes a line of
// book text, between one text start and one text end code. The file may be
// UTF-16 little-endian (with its FF FE mark), UTF-8 or Shift_JIS.
#pragma once

class CBlockStream;
class CEBBook;
struct ConvertOpt;
struct SOURCE_INFO;

class CPlainParser {
public:
    // The file is read whole; files above this size are refused ("source
    // file too large(CPlainParser)"), so that even text made of references
    // (up to four times its UTF-8 or UTF-16 size) keeps every line length
    // within an int.
    static const long long kMaxFileSize = 256LL * 1024 * 1024;

    CPlainParser() = default;
    virtual ~CPlainParser() = default;

    // Converts the file of source into body. With addTitle set the source
    // title becomes a level-0 menu item at the start of the text. An
    // unreadable file writes nothing. Throws std::runtime_error (empty text
    // for an abort).
    void parse(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* body, int addTitle);
};
